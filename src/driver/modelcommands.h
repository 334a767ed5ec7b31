#ifndef MIXFIT_DRIVER_MODELCOMMANDS_H
#define MIXFIT_DRIVER_MODELCOMMANDS_H

#include "driver/modeloptions.h"
#include "driver/status.h"

// Runs the command of mixfit-model that options describe: reads the model
// and, when given, the data, against which the model is prepared as mixfit
// prepares an initial solution (variances raised to the data's floor,
// weights normalised), and writes the command's rows to the output. Errors
// go to stderr, and nothing is written on failure. Returns the exit status:
// kSolutionError for a model that can't be read, doesn't fit the data's
// dimension or can't serve the command, kDataError for data that can't be
// read or hold no vectors, kOutputError for output that can't be written or would replace an
// input.
ExitStatus RunModelCommand(ModelOptions const& options);

#endif
