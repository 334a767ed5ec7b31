#ifndef MIXFIT_TESTS_CLI_RUN_PROGRAM_H
#define MIXFIT_TESTS_CLI_RUN_PROGRAM_H

#include <string>
#include <vector>

// What a finished run of the program left behind.
struct ProgramResult {
  int status = 127;  // exit status; -1 when a signal ended the process
  std::string out, err;
  long peak_kb = 0;  // largest resident set, in kB
};

// Runs the mixfit binary of this build with the arguments exactly as given
// (no shell), stdin /dev/null, "NAME=value" entries of environment replacing
// or adding to the test's own, and an address-space limit when given.
ProgramResult RunMixfit(const std::vector<std::string>& arguments,
                        const std::vector<std::string>& environment = {}, long long address_space = 0);

#endif
