#ifndef MIXFIT_TESTS_CLI_RUN_PROGRAM_H
#define MIXFIT_TESTS_CLI_RUN_PROGRAM_H

#include <string>
#include <vector>

// What a finished child process left behind.
struct ProgramResult {
  int status;  // exit status, or -1 when a signal ended the process
  int signal;  // the signal that ended the process, or -1
  std::string out;
  std::string err;
  double seconds = 0.0;  // wall-clock time of the run
  long peak_kb = 0;      // largest resident set of the process, in kB
};

// No run may take longer: a process still running after this many seconds
// is killed (and so ends by a signal).
const int kRunTimeLimitSeconds = 300;

// How the child is started besides its arguments.
struct RunSettings {
  // "NAME=value" entries that replace or add to the test's environment.
  std::vector<std::string> environment;
  // An address-space limit set in the child (setrlimit), or 0 for none.
  long long address_space_bytes = 0;
};

// Runs the program at path with the given arguments and returns its exit
// status and everything it wrote. No shell is involved, so arguments reach
// the program exactly as given; stdin is /dev/null. If the program cannot be
// started the result has status 127 and the reason in err.
ProgramResult RunProgram(const char* path, const std::vector<std::string>& arguments,
                         const RunSettings& settings = {});

// RunProgram for the mixfit and the mixfit-model binaries of this build.
ProgramResult RunMixfit(const std::vector<std::string>& arguments,
                        const RunSettings& settings = {});
ProgramResult RunMixfitModel(const std::vector<std::string>& arguments,
                             const RunSettings& settings = {});

#endif
