#ifndef MIXFIT_TRAINING_SCORING_H
#define MIXFIT_TRAINING_SCORING_H

#include <cstddef>

#include "data/data.h"
#include "mixture/mixmodel.h"
#include "training/em.h"

// Summaries of the per-vector results of emExpectation, the E step of the
// EM step itself, so that they are the same bits that training sees.

// values[0] + values[1] + ... + values[count - 1], added in this order from
// 0.0: for the log densities of emExpectation, the log likelihood of the data,
// whose quotient by count is exactly emLogLikelihood.
double SumInOrder(double const* values, size_t count);

// The index of the largest of values[0 ... count - 1], the lower one on ties.
// A comparison with a NaN is false: a NaN never wins, and NaNs alone give 0.
int LargestEntry(double const* values, int count);

#endif
