#include "cli/run_program.h"

#include <fcntl.h>
#include <spawn.h>
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
  std::string path = std::string(directory && *directory ? directory : "/tmp") + "/mixfit_run_XXXXXX";
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

}  // namespace

ProgramResult RunMixfit(const std::vector<std::string>& arguments) {
  const char* program = MIXFIT_BINARY;
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  int out = TemporaryFile();
  int err = TemporaryFile();
  ProgramResult result;
  if (out < 0 || err < 0) {
    result = NotStarted("cannot create temporary files");
  } else {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out, 1);
    posix_spawn_file_actions_adddup2(&actions, err, 2);
    pid_t pid;
    int spawned = posix_spawn(&pid, program, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
      result = NotStarted(std::strerror(spawned));
    } else {
      Wait(pid, result);
      result.out = ReadAll(out);
      result.err = ReadAll(err);
    }
  }
  for (int fd : {out, err})
    if (fd >= 0) close(fd);
  return result;
}
