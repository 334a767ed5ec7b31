#include "cli/run_program.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <regex>
#include <sstream>

extern char** environ;

ProgramResult RunProgram(const char* program, const std::vector<std::string>& arguments,
                         const RunSettings& settings) {
  std::vector<std::string> words = {program}, environment = settings.environment;
  words.insert(words.end(), arguments.begin(), arguments.end());
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string text = *entry, name = text.substr(0, text.find('=') + 1);
    auto const replaces = [&](const std::string& own) { return own.rfind(name, 0) == 0; };
    if (std::none_of(environment.begin(), environment.end(), replaces)) environment.push_back(text);
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
    rlim_t const bytes = settings.address_space_bytes, size = settings.file_size_bytes;
    struct rlimit limit = {bytes, bytes}, size_limit = {size, size};
    // The signals a test sends at their default actions; a file-size limit
    // makes writes fail rather than end the process.
    if (signal(SIGINT, SIG_DFL) == SIG_ERR || signal(SIGTERM, SIG_DFL) == SIG_ERR ||
        signal(SIGHUP, SIG_DFL) == SIG_ERR || signal(SIGXFSZ, SIG_IGN) == SIG_ERR ||
        prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || in < 0 || dup2(in, 0) < 0 ||
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

std::string Out(const std::vector<std::string>& arguments, const RunSettings& settings,
                bool model_program) {
  ProgramResult run =
      model_program ? RunMixfitModel(arguments, settings) : RunMixfit(arguments, settings);
  EXPECT_EQ(run.status, 0) << run.err;
  return run.out;
}

std::vector<std::vector<double>> Table(const std::string& text) {
  std::vector<std::vector<double>> rows;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    rows.emplace_back();
    for (std::string word; words >> word;)
      rows.back().push_back(std::strtod(word.c_str(), nullptr));
  }
  return rows;
}

std::map<std::string, double> Info(const std::string& text) {
  std::map<std::string, double> values;
  std::istringstream lines(text);
  for (std::string key, value; lines >> key >> value;)
    values[key] = std::strtod(value.c_str(), nullptr);
  return values;
}

std::string Masked(const std::string& text) {
  std::string masked = std::regex_replace(text, std::regex("CPU time: [^\n]*"), "CPU time: -");
  return std::regex_replace(masked, std::regex("\\(compiled [^)\n]*\\)"), "(compiled -)");
}
