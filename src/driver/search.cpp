#include "driver/search.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "matrix/datautils.h"
#include "training/em.h"
#include "training/kmeans.h"

double TrainOrEvaluate(MixtureModel& model, Data const& data, Matrix const& minimum_variances,
                       TrainingPlan const& plan) {
  if (plan.EvaluateOnly()) return emLogLikelihood(data, model);
  double likelihood =
      plan.iterations_given
          ? ExpectationMaximization(model, data, minimum_variances, plan.iterations, plan.trace)
          : ExpectationMaximization(model, data, minimum_variances, plan.threshold, plan.trace);
  if (emNumericalProblems()) fputs("\nWarning: numerical problems.\n\n", stderr);
  return likelihood;
}

bool ReplacesBest(int solution, double likelihood, double best_likelihood) {
  return solution == 0 || (likelihood > best_likelihood && std::isfinite(likelihood));
}

namespace {

// Mahalanobis k-means gives a component that received no vector weight 0
// and a NaN covariance. EM gives such a component no density either way, but
// when EM keeps the model it was given, the NaN would reach the model file,
// which could then not be read back: the component keeps the initial
// covariance instead.
void RestoreEmptyCovariances(MixtureModel& model, Matrix const& initial_covariance) {
  for (int i = 0; i < model.count; ++i) {
    MixtureComponent& component = *model.components[i];
    if (component.covariance.NotFinite() != 0) component.covariance = initial_covariance;
  }
}

void AddComponents(MixtureModel& model, bool full, int count, int dimension) {
  MixtureCovarianceMatrixType type = full ? MM_COV_FULL : MM_COV_DIAGONAL;
  for (int i = 0; i < count; ++i) model.Add(*new MixtureComponent(type, dimension, false));
}

}  // namespace

SearchResult RandomSearch(Data const& data, DataStatistics const& statistics,
                          FitOptions const& options) {
  SearchResult result = {true, 0, MixtureModel(), 0.0};
  MixtureModel working;
  Matrix chosen;
  for (int s = 0; s < options.solutions; ++s) {
    // Choosing the points first lets a count far above the data fail before
    // a million components are allocated.
    if (!SelectUniqueVectors(data, options.count, chosen)) {
      result.found = false;
      result.distinct_points = chosen.rows;
      return result;
    }
    if (working.count == 0) AddComponents(working, options.full, options.count, data.Dimension());
    for (int i = 0; i < working.count; ++i) {
      MixtureComponent& component = *working.components[i];
      component.weight = 1.0 / working.count;
      component.Mean(chosen.data + static_cast<size_t>(i) * chosen.columns);
      component.covariance = statistics.initial_covariance;
    }

    TrainingPlan const& plan = options.plan;
    if (plan.EvaluateOnly()) {
      KMeans(data, working, plan.kmeans_iterations, false);
    } else {
      MahalanobisKMeans(data, working, true, plan.kmeans_iterations, plan.update_covariances);
      RestoreEmptyCovariances(working, statistics.initial_covariance);
    }
    double likelihood = TrainOrEvaluate(working, data, statistics.minimum_variances, plan);

    if (options.verbose >= 1) printf("Log likelihood: %g\n", likelihood);
    if (ReplacesBest(s, likelihood, result.likelihood)) {
      result.best = working;
      result.likelihood = likelihood;
    }
  }
  return result;
}
