#ifndef MIXFIT_TRAINING_SCORING_H
#define MIXFIT_TRAINING_SCORING_H

#include <cstddef>

#include "data/data.h"
#include "mixture/mixmodel.h"
#include "training/em.h"

// Per-vector results of a model on a data set, computed by the E step of the
// EM step itself, so that they are the same bits that training sees.

// For every vector n of data: logDensities[n] := the log of its mixture
// density, floored at the smallest normal double as the EM step floors it;
// when responsibilities is not null, responsibilities[n * K + k] := the
// responsibility of component k for it (K = model.count). A vector that no
// component explains gets the floor and equal responsibilities. The caller
// provides data.Count() and data.Count() * K doubles.
void ScoreVectors(Data const& data, MixtureModel const& model, EMWorkspace& workspace,
                  double* logDensities, double* responsibilities);

// values[0] + values[1] + ... + values[count - 1], added in this order from
// 0.0: for the log densities of ScoreVectors, the log likelihood of the data,
// whose quotient by count is exactly emLogLikelihood.
double SumInOrder(double const* values, size_t count);

// The index of the largest of values[0 ... count - 1], the lower one on ties.
// A comparison with a NaN is false: a NaN never wins, and NaNs alone give 0.
int LargestEntry(double const* values, int count);

#endif
