#ifndef MIXFIT_TESTS_CLI_RUN_PROGRAM_H
#define MIXFIT_TESTS_CLI_RUN_PROGRAM_H

#include <string>
#include <vector>

// What a finished child process left behind.
struct ProgramResult {
  int status = 127;  // exit status, or -1 when a signal ended the process
  std::string out, err;
  long peak_kb = 0;  // largest resident set of the process, in kB
};

struct RunSettings {
  std::vector<std::string> environment;  // "NAME=value", replacing or adding
  long long address_space_bytes = 0;     // RLIMIT_AS of the child, 0 for none
};

// Runs path with the arguments (no shell; stdin is /dev/null) and waits for
// it; it is killed when the test process ends, so the test's own time limit
// bounds the wait. Status 127 with the reason
// in err when it cannot start.
ProgramResult RunProgram(const char* path, const std::vector<std::string>& arguments,
                         const RunSettings& settings = {});
inline ProgramResult RunMixfit(const std::vector<std::string>& arguments,
                               const RunSettings& settings = {}) {
  return RunProgram(MIXFIT_BINARY, arguments, settings);
}
inline ProgramResult RunMixfitModel(const std::vector<std::string>& arguments,
                                    const RunSettings& settings = {}) {
  return RunProgram(MIXFIT_MODEL_BINARY, arguments, settings);
}

#endif
