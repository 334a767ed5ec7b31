#ifndef MIXFIT_DRIVER_FIT_H
#define MIXFIT_DRIVER_FIT_H

#include "driver/commandline.h"

// The exit statuses of the program.
enum class ExitStatus : int {
  kSuccess = 0,
  kUsage = 1,          // usage error, --help, a NaN floor or threshold, a bad MIXFIT_SEED
  kDataError = 2,      // the data can't be read or fitted, or memory ran out reading or training
  kSolutionError = 3,  // the initial solution can't be read or doesn't fit the data
  kOutputError = 4,    // the model can't be written, or would replace the data
  kTooFewPoints = 5,   // fewer distinct data vectors than components
};

// Runs the fit the options describe: reads the data, trains or evaluates the
// initial solution or the best of the random starts, reports its log
// likelihood on stdout and writes the model. Errors and warnings go to
// stderr. Returns the exit status.
ExitStatus Fit(FitOptions const& options);

#endif
