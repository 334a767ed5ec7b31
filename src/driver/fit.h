#ifndef MIXFIT_DRIVER_FIT_H
#define MIXFIT_DRIVER_FIT_H

#include "driver/commandline.h"
#include "driver/status.h"

// Runs the fit the options describe: reads the data, trains or evaluates the
// initial solution or the best of the random starts, reports its log
// likelihood on stdout and writes the model. Errors and warnings go to
// stderr. Returns the exit status.
ExitStatus Fit(FitOptions const& options);

#endif
