#ifndef MIXFIT_DRIVER_FITCOMMAND_H
#define MIXFIT_DRIVER_FITCOMMAND_H

// The fit command of mixfit-model: reads the data (and a start model when
// given), fits by the modern EM and writes the model and its average log
// likelihood.

#include "driver/modeloptions.h"
#include "driver/status.h"

// Runs fit as options describe; the seed in options.fit is the one to use.
// Refuses several ranks (kUsage), an output that names an input
// (kOutputError), data that can't be read (kDataError), a start model that
// can't be read or has another dimension or count (kSolutionError) and
// fewer distinct vectors than components (kTooFewPoints); nothing is
// written then.
ExitStatus RunFitCommand(ModelOptions const& options);

#endif
