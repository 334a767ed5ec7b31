#include "cli/run_program.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

extern char** environ;

ProgramResult RunProgram(const char* program, const std::vector<std::string>& arguments,
                         const RunSettings& settings) {
  std::vector<std::string> words = {program}, environment = settings.environment;
  words.insert(words.end(), arguments.begin(), arguments.end());
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string text = *entry, name = text.substr(0, text.find('=') + 1);
    bool replaced = false;
    for (const std::string& own : settings.environment) replaced |= own.rfind(name, 0) == 0;
    if (!replaced) environment.push_back(text);
  }
  std::vector<char*> argv, envp;
  for (auto [texts, pointers] : {std::pair(&words, &argv), std::pair(&environment, &envp)}) {
    for (std::string& text : *texts) pointers->push_back(&text[0]);
    pointers->push_back(nullptr);
  }
  FILE *out = tmpfile(), *err = tmpfile();
  ProgramResult result;
  pid_t pid = out && err ? fork() : -1;
  if (pid == 0) {  // only calls that are safe between fork and exec
    int in = open("/dev/null", O_RDONLY);
    rlim_t bytes = static_cast<rlim_t>(settings.address_space_bytes);
    rlim_t size = static_cast<rlim_t>(settings.file_size_bytes);
    struct rlimit limit = {bytes, bytes}, size_limit = {size, size};
    // The signals a test sends at their default actions; a file-size limit
    // makes writes fail rather than end the process.
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    for (int number : {SIGINT, SIGTERM, SIGHUP, SIGXFSZ}) {
      if (number == SIGXFSZ) action.sa_handler = SIG_IGN;
      if (sigaction(number, &action, nullptr) != 0) _exit(127);
    }
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || in < 0 || dup2(in, 0) < 0 ||
        dup2(fileno(out), 1) < 0 || dup2(fileno(err), 2) < 0 ||
        (bytes > 0 && setrlimit(RLIMIT_AS, &limit) != 0) ||
        (settings.file_size_bytes >= 0 && setrlimit(RLIMIT_FSIZE, &size_limit) != 0))
      _exit(127);
    execve(program, argv.data(), envp.data());
    _exit(127);
  }
  int wait_status = 0x7f;  // neither an exit nor a signal until a wait succeeds
  struct rusage usage = {};
  if (pid < 0) result.err = "cannot create temporary files or a process\n";
  if (pid > 0 && settings.started) settings.started(pid);
  while (pid > 0 && wait4(pid, &wait_status, 0, &usage) < 0 && errno == EINTR) {
  }
  result.peak_kb = usage.ru_maxrss;
  result.status = pid < 0 ? 127 : WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
  result.signal = pid > 0 && WIFSIGNALED(wait_status) ? WTERMSIG(wait_status) : 0;
  for (auto [file, text] : {std::pair(out, &result.out), std::pair(err, &result.err)}) {
    char buffer[4096];
    if (pid > 0) rewind(file);  // everything the child wrote, from the start
    for (size_t n; pid > 0 && (n = fread(buffer, 1, sizeof buffer, file)) > 0;)
      text->append(buffer, n);
    if (file) fclose(file);
  }
  return result;
}
