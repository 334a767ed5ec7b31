#ifndef MIXFIT_MIXTURE_CRITERIA_H
#define MIXFIT_MIXTURE_CRITERIA_H

#include <cstddef>

#include "mixture/mixmodel.h"

// The size of a model and the information criteria that weigh its log
// likelihood against it, for choosing the number of components.

// The number of free parameters: K - 1 weights (they sum to 1), and per
// component d for the mean and d variances (diagonal) or d(d + 1) / 2
// covariances (full). 0 for a model without components.
long long FreeParameters(MixtureModel const& model);

// The Bayesian information criterion -2 ln L + p ln N of a model with p free
// parameters whose log likelihood on N vectors is ln L (the sum over the
// vectors, not the average). Lower is better.
double BayesianInformationCriterion(double logLikelihood, long long parameters, size_t vectors);

// The Akaike information criterion -2 ln L + 2p.
double AkaikeInformationCriterion(double logLikelihood, long long parameters);

#endif
