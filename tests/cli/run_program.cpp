#include "cli/run_program.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace {

// An anonymous temporary file: created, unlinked at once, closed on exec
// (a dup2 onto 0, 1 or 2 in the child clears that again).
int TemporaryFile() {
  const char* directory = std::getenv("TMPDIR");
  std::string path =
      std::string(directory && *directory ? directory : "/tmp") + "/mixfit_run_XXXXXX";
  int fd = mkostemp(&path[0], O_CLOEXEC);
  if (fd >= 0) unlink(path.c_str());
  return fd;
}

std::string ReadAll(int fd) {
  std::string text;
  if (lseek(fd, 0, SEEK_SET) != 0) return text;
  char buffer[4096];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return text;
    text.append(buffer, static_cast<size_t>(n));
  }
}

ProgramResult NotStarted(const char* reason) { return {127, -1, "", std::string(reason) + "\n"}; }

// Waits for the child, killing it when it outlives the time limit; fills in
// how it ended, its time and its peak memory.
void Wait(pid_t pid, ProgramResult& result) {
  using Clock = std::chrono::steady_clock;
  result.status = -1;
  result.signal = -1;
  Clock::time_point start = Clock::now();
  Clock::time_point deadline = start + std::chrono::seconds(kRunTimeLimitSeconds);
  int wait_status = 0;
  struct rusage usage = {};
  useconds_t pause = 1000;
  for (;;) {
    pid_t done = wait4(pid, &wait_status, WNOHANG, &usage);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) return;
    if (Clock::now() > deadline) {
      kill(pid, SIGKILL);
      while (wait4(pid, &wait_status, 0, &usage) < 0 && errno == EINTR) {
      }
      break;
    }
    usleep(pause);
    if (pause < 20000) pause *= 2;
  }
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  result.peak_kb = usage.ru_maxrss;
  result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
  result.signal = WIFSIGNALED(wait_status) ? WTERMSIG(wait_status) : -1;
}

// The test's environment with settings' entries in place of those of the
// same name.
std::vector<std::string> ChildEnvironment(const RunSettings& settings) {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string text = *entry;
    std::string name = text.substr(0, text.find('=') + 1);
    bool replaced = false;
    for (const std::string& own : settings.environment)
      replaced |= own.compare(0, name.size(), name) == 0;
    if (!replaced) entries.push_back(text);
  }
  entries.insert(entries.end(), settings.environment.begin(), settings.environment.end());
  return entries;
}

std::vector<char*> Pointers(const std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (const std::string& text : texts) pointers.push_back(const_cast<char*>(text.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

ProgramResult RunMixfit(const std::vector<std::string>& arguments, const RunSettings& settings) {
  return RunProgram(MIXFIT_BINARY, arguments, settings);
}

ProgramResult RunMixfitModel(const std::vector<std::string>& arguments,
                             const RunSettings& settings) {
  return RunProgram(MIXFIT_MODEL_BINARY, arguments, settings);
}

ProgramResult RunProgram(const char* program, const std::vector<std::string>& arguments,
                         const RunSettings& settings) {
  std::vector<std::string> words = {program};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv = Pointers(words);
  std::vector<std::string> environment = ChildEnvironment(settings);
  std::vector<char*> envp = Pointers(environment);

  int out = TemporaryFile();
  int err = TemporaryFile();
  ProgramResult result;
  pid_t pid = out < 0 || err < 0 ? -1 : fork();
  if (pid == 0) {
    // Only calls that are safe between fork and exec.
    int in = open("/dev/null", O_RDONLY);
    if (in < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(127);
    if (settings.address_space_bytes > 0) {
      struct rlimit limit = {static_cast<rlim_t>(settings.address_space_bytes),
                             static_cast<rlim_t>(settings.address_space_bytes)};
      if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(127);
    }
    execve(program, argv.data(), envp.data());
    _exit(127);
  }
  if (pid < 0) {
    result = NotStarted("cannot create temporary files or a process");
  } else {
    Wait(pid, result);
    result.out = ReadAll(out);
    result.err = ReadAll(err);
  }
  for (int fd : {out, err})
    if (fd >= 0) close(fd);
  return result;
}
