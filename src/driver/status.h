#ifndef MIXFIT_DRIVER_STATUS_H
#define MIXFIT_DRIVER_STATUS_H

// The exit statuses of the programs.
enum class ExitStatus : int {
  kSuccess = 0,
  kUsage = 1,          // usage error, --help, a NaN floor or threshold, a bad MIXFIT_SEED
  kDataError = 2,      // the data can't be read or fitted, or memory ran out reading or training
  kSolutionError = 3,  // the model can't be read, doesn't fit the data or can't serve the command
  kOutputError = 4,    // the output can't be written, or would replace an input
  kTooFewPoints = 5,   // fewer distinct data vectors than components
};

#endif
