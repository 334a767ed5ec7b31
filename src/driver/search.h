#ifndef MIXFIT_DRIVER_SEARCH_H
#define MIXFIT_DRIVER_SEARCH_H

#include "data/data.h"
#include "matrix/matrix.h"
#include "mixture/mixmodel.h"

// How each solution is refined and trained, from the command line.
struct TrainingPlan {
  bool iterations_given;  // -I given: a fixed number of EM iterations
  int iterations;         // 0: no EM, only evaluate (Euclidean k-means before)
  double threshold;       // without -I: EM until the relative improvement falls to it
  int kmeans_iterations;
  bool update_covariances;  // in the last Mahalanobis k-means iteration
  bool trace;               // EM prints its log likelihood per iteration

  // -I 0: no EM, the model is only evaluated.
  bool EvaluateOnly() const { return iterations_given && iterations == 0; }
};

// Trains model in place by EM as the plan says, or only evaluates it when
// the plan has zero iterations, and warns on stderr when EM stopped on
// numerical problems. Returns the average log likelihood.
double TrainOrEvaluate(MixtureModel& model, Data const& data, Matrix const& minimum_variances,
                       TrainingPlan const& plan);

// Whether solution number `solution` with log likelihood `likelihood`
// replaces the best so far: the first always does, a later one only when it
// is finite and strictly greater (ties keep the earlier one).
bool ReplacesBest(int solution, double likelihood, double best_likelihood);

// Result of the random search; on success best holds the best model.
enum SearchResult { SEARCH_OK = 0, SEARCH_TOO_FEW_POINTS = 5 };

// Tries `solutions` random starting solutions of `count` components, each
// placed on distinct data vectors, refined by k-means and trained, and keeps
// the best in best / best_likelihood. Prints the per-solution lines at
// verbose level 1 and the numerical-problems warnings. When the data hold
// fewer than count distinct vectors, reports it on stderr and returns
// SEARCH_TOO_FEW_POINTS before any component is made.
SearchResult RandomSearch(Data const& data, Matrix const& initial_covariance,
                          Matrix const& minimum_variances, bool full, int count, int solutions,
                          TrainingPlan const& plan, int verbose, MixtureModel& best,
                          double& best_likelihood);

#endif
