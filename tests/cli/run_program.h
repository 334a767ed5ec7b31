#ifndef MIXFIT_TESTS_CLI_RUN_PROGRAM_H
#define MIXFIT_TESTS_CLI_RUN_PROGRAM_H

#include <functional>
#include <map>
#include <string>
#include <vector>

// The source tree's examples and recorded runs.
const std::string kSource = MIXFIT_SOURCE_DIR, kReference = kSource + "/tests/cli/reference/",
                  kFaithful = kSource + "/examples/faithful.txt",
                  kIris = kSource + "/examples/iris.txt", kWine = kSource + "/tests/cli/wine.txt";

// What a finished child process left behind.
struct ProgramResult {
  int status = 127;  // exit status, or -1 when a signal ended the process
  int signal = 0;    // the signal that ended the process, 0 for none
  std::string out, err;
  long peak_kb = 0;  // largest resident set of the process, in kB
};

struct RunSettings {
  std::vector<std::string> environment;            // "NAME=value", replacing or adding
  long long address_space_bytes = 0;               // RLIMIT_AS of the child, 0 for none
  long long file_size_bytes = -1;                  // RLIMIT_FSIZE of the child, -1 for none
  std::function<void(int pid)> started = nullptr;  // called once the child runs, before the wait
};

// Runs path with the arguments (no shell; stdin is /dev/null; SIGINT,
// SIGTERM and SIGHUP at their default actions, SIGXFSZ ignored) and waits
// for it; it is killed when the test process ends, so the test's own time
// limit bounds the wait. Status 127 with the reason in err when it cannot
// start.
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

// The output of a run of mixfit-model, or of mixfit, that must succeed.
std::string Out(const std::vector<std::string>& arguments, const RunSettings& settings = {},
                bool model_program = true);
// The rows of numbers of an output (a word that is no number reads as 0).
std::vector<std::vector<double>> Table(const std::string& text);
// The "key value" lines of mixfit-model info.
std::map<std::string, double> Info(const std::string& text);
// The text with the CPU time and the build date masked.
std::string Masked(const std::string& text);

#endif
