#include "cli/run_program.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdio>

extern char** environ;

namespace {

std::string ReadAll(FILE* file) {
  std::string text;
  rewind(file);
  for (int c; (c = fgetc(file)) != EOF;) text += static_cast<char>(c);
  fclose(file);
  return text;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(&text[0]);
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

ProgramResult RunMixfit(const std::vector<std::string>& arguments,
                        const std::vector<std::string>& environment, long long address_space) {
  // The given entries come first: a variable's first entry is the one read.
  std::vector<std::string> words = {MIXFIT_BINARY}, entries = environment;
  words.insert(words.end(), arguments.begin(), arguments.end());
  for (char** entry = environ; *entry != nullptr; ++entry) entries.push_back(*entry);
  std::vector<char*> argv = Pointers(words), envp = Pointers(entries);
  FILE* out = tmpfile();
  FILE* err = tmpfile();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fileno(out), 1);
  posix_spawn_file_actions_adddup2(&actions, fileno(err), 2);
  // The child inherits the limit; the test lowers only its soft limit, for
  // the moment of the start.
  struct rlimit own, limited;
  getrlimit(RLIMIT_AS, &own);
  limited = {address_space > 0 ? static_cast<rlim_t>(address_space) : own.rlim_cur, own.rlim_max};
  setrlimit(RLIMIT_AS, &limited);
  pid_t pid;
  bool started = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0;
  setrlimit(RLIMIT_AS, &own);
  posix_spawn_file_actions_destroy(&actions);
  ProgramResult result;
  int status = 0;
  struct rusage usage = {};
  if (started && wait4(pid, &status, 0, &usage) == pid) {
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.peak_kb = usage.ru_maxrss;
  }
  result.out = ReadAll(out);
  result.err = ReadAll(err);
  return result;
}
