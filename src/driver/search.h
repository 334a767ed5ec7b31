#ifndef MIXFIT_DRIVER_SEARCH_H
#define MIXFIT_DRIVER_SEARCH_H

// The search for a solution: random starts refined by k-means and EM, or a
// given model refined, and the best of them kept.

#include "data/data.h"
#include "driver/commandline.h"
#include "driver/preparation.h"
#include "matrix/matrix.h"
#include "mixture/mixmodel.h"

// Trains model in place by EM as the plan says, or only evaluates it when
// the plan has zero iterations, and warns on stderr when EM stopped on
// numerical problems. Returns the average log likelihood.
double TrainOrEvaluate(MixtureModel& model, Data const& data, Matrix const& minimum_variances,
                       TrainingPlan const& plan);

// Whether solution number `solution` with log likelihood `likelihood`
// replaces the best so far: the first always does, a later one only when it
// is finite and strictly greater (ties keep the earlier one).
bool ReplacesBest(int solution, double likelihood, double best_likelihood);

// What the random search found.
struct SearchResult {
  bool found;           // false: fewer distinct data vectors than components
  int distinct_points;  // when not found, how many distinct vectors there are
  MixtureModel best;    // the best solution, when found
  double likelihood;    // its log likelihood
};

// Tries options.solutions random starting solutions of options.count
// components, each placed on distinct data vectors, refined by k-means and
// trained, and keeps the best. Prints the per-solution lines at verbose
// level 1 and the numerical-problems warnings. When the data hold fewer
// distinct vectors than components, it says so before any component is made.
SearchResult RandomSearch(Data const& data, DataStatistics const& statistics,
                          FitOptions const& options);

#endif
