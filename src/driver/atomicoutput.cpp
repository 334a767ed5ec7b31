#include "driver/atomicoutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "driver/files.h"

namespace {

bool StartsWith(std::string const& text, const char* prefix) {
  return text.compare(0, strlen(prefix), prefix) == 0;
}

// Whether name is a device or a process's descriptor (/dev/stdout,
// /proc/self/fd/1). Such a name may resolve to a regular file, but a file
// renamed over that one would not be where the descriptor writes.
bool WrittenInPlace(std::string const& name) {
  return StartsWith(name, "/dev/") || StartsWith(name, "/proc/");
}

// Forces the directory entry of a renamed file to the disk. Failing here
// loses nothing that is not already lost, so it is not an error.
void SyncDirectory(std::string const& directory) {
  int const fd =
      open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

std::string DirectoryOf(std::string const& path) { return path.substr(0, path.rfind('/') + 1); }

// Where a chain of symbolic links ends: the first name that is no link, each
// link read against its own directory; "" when the chain can't be read.
std::string EndOfLinks(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat status;
    if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return path;
    char next[4096];
    ssize_t const length = readlink(path.c_str(), next, sizeof next);
    if (length <= 0 || length == sizeof next) return "";
    std::string const step(next, static_cast<size_t>(length));
    path = step[0] == '/' ? step : DirectoryOf(path) + step;
  }
  return "";
}

}  // namespace

void RemovePending(PendingOutput const& pending) {
  if (pending.registered.load(std::memory_order_acquire)) unlink(pending.path);
}

AtomicOutput::AtomicOutput(const char* name, PendingOutput* pending)
    : target_(name), pending_(pending) {
  Open(name);
}

void AtomicOutput::Open(const char* name) {
  struct stat status;
  bool const exists = stat(name, &status) == 0;
  if (WrittenInPlace(target_) || (exists && !S_ISREG(status.st_mode))) return OpenInPlace(name);
  if (exists) {
    char* resolved = realpath(name, nullptr);
    if (resolved == nullptr) return OpenInPlace(name);
    target_ = resolved;
    free(resolved);
    if (WrittenInPlace(target_)) return OpenInPlace(name);
    // A file that may not be written is not replaced either.
    if (access(target_.c_str(), W_OK) != 0) {
      error_ = errno;
      return;
    }
  } else {
    // A path that can't be searched goes to fopen. A link to nothing gets its
    // file made where the links end, as a new file is, so that a failure
    // leaves the link and nothing else.
    struct stat link;
    if (errno != ENOENT) return OpenInPlace(name);
    if (lstat(name, &link) == 0) {
      std::string const end = EndOfLinks(name);
      if (end.empty() || WrittenInPlace(end)) return OpenInPlace(name);
      target_ = end;
    }
  }
  if (!CreateTemporary()) {
    // Where no file can be made beside the target, it is written in place,
    // unless the disk is full: that would only destroy it.
    if (error_ == ENOSPC || error_ == EDQUOT) return;
    error_ = 0;
    return OpenInPlace(name);
  }
  // The replacement keeps the target's permissions from the start.
  if (exists && file_ != nullptr && fchmod(fileno(file_), status.st_mode & 07777) != 0) {
    error_ = errno;
    fclose(file_);
    file_ = nullptr;
  }
}

AtomicOutput::~AtomicOutput() {
  if (file_ != nullptr) fclose(file_);
  if (committed_ || !opened_) return;
  if (temporary_.empty()) {
    RemovePartialOutput(target_.c_str());
    return;
  }
  unlink(temporary_.c_str());
  Unregister();
}

void AtomicOutput::OpenInPlace(const char* name) {
  target_ = name;
  file_ = fopen(name, "w");
  opened_ = file_ != nullptr;
  if (!opened_) error_ = errno;
  errno = 0;  // so that a later failure is known by its own number
}

// Creates the temporary file, hidden beside the target, with the usual
// permissions of a new file (0666 less the umask), and registers it.
bool AtomicOutput::CreateTemporary() {
  std::string const directory = DirectoryOf(target_);
  std::string const prefix =
      directory + "." + target_.substr(directory.size()) + ".tmp" + std::to_string(getpid()) + ".";
  int fd = -1;
  for (int n = 0; fd < 0 && n < 100; ++n) {
    temporary_ = prefix + std::to_string(n);
    fd = open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    error_ = errno;
    temporary_.clear();
    return false;
  }
  opened_ = true;
  if (pending_ != nullptr && temporary_.size() < sizeof pending_->path) {
    memcpy(pending_->path, temporary_.c_str(), temporary_.size() + 1);
    pending_->registered.store(true, std::memory_order_release);
  }
  file_ = fdopen(fd, "w");
  if (file_ == nullptr) {
    error_ = errno;
    close(fd);
    return true;  // the file exists and goes with the output
  }
  errno = 0;  // so that a later failure is known by its own number
  return true;
}

void AtomicOutput::Unregister() {
  if (pending_ != nullptr) pending_->registered.store(false, std::memory_order_release);
}

bool AtomicOutput::Commit() {
  if (file_ == nullptr) return false;
  FILE* const file = file_;
  file_ = nullptr;
  bool written =
      fflush(file) == 0 && ferror(file) == 0 && (temporary_.empty() || fsync(fileno(file)) == 0);
  if (!written) error_ = errno != 0 ? errno : EIO;
  if (fclose(file) != 0 && written) {
    written = false;
    error_ = errno;
  }
  if (written && !temporary_.empty() && rename(temporary_.c_str(), target_.c_str()) != 0) {
    written = false;
    error_ = errno;
  }
  if (!written) return false;
  committed_ = true;
  if (temporary_.empty()) return true;
  Unregister();
  SyncDirectory(DirectoryOf(target_));
  return true;
}
