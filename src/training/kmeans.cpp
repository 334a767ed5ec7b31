#include "training/kmeans.h"

#include <cfloat>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

// Adds x to cluster c of the accumulator: column 0 counts the vectors,
// columns 1 ... d sum them.
inline void AddToCluster(Matrix& accumulator, int c, double const* x, int d) {
  double* row = accumulator.data + static_cast<size_t>(c) * (d + 1);
  row[0] += 1.0;
  for (int j = 0; j < d; ++j) row[1 + j] += x[j];
}

// Sets every weight to its cluster's share of the count vectors and every
// mean of a non-empty cluster to the average of its vectors. Returns whether
// any mean element changed.
bool UpdateMeansAndWeights(Matrix const& accumulator, MixtureModel& model, size_t count, int d) {
  double const N = static_cast<double>(count);
  bool changed = false;
  for (int c = 0; c < model.count; ++c) {
    MixtureComponent& component = *model.components[c];
    double const* row = accumulator.data + static_cast<size_t>(c) * (d + 1);
    double const members = row[0];
    component.weight = members / N;
    if (members == 0.0) continue;
    double const scale = 1.0 / members;
    double* mean = component.mean.data;
    for (int j = 0; j < d; ++j) {
      double value = scale * row[1 + j];
      if (value != mean[j]) changed = true;
      mean[j] = value;
    }
  }
  return changed;
}

// The component whose mean is nearest to x in squared Euclidean distance;
// the lower index on ties, component 0 when no distance is below the
// largest finite double.
int NearestEuclidean(double const* x, MixtureModel const& model, int d) {
  int best = 0;
  double bestDistance = DBL_MAX;
  for (int c = 0; c < model.count; ++c) {
    double const* mean = model.components[c]->mean.data;
    double distance = 0.0;
    for (int j = 0; j < d; ++j) {
      double e = x[j] - mean[j];
      distance += e * e;
    }
    if (distance < bestDistance) {
      bestDistance = distance;
      best = c;
    }
  }
  return best;
}

// The metric of a covariance: its inverse variances (diagonal type) or its
// inverted lower Cholesky factor (full type).
Matrix MetricFactor(MixtureComponent const& component) {
  Matrix factor(component.covariance);
  if (component.type == MM_COV_DIAGONAL) {
    factor.InvertElements();
  } else {
    factor.CholeskyDecomposition(nullptr);
    factor.InvertLowerTriangular();
  }
  return factor;
}

// The component nearest to x in squared Mahalanobis distance under the given
// factors. Component 0 stands first whatever its distance; a later one
// replaces the best only when strictly nearer, so ties keep the lower index
// and a NaN distance never wins.
int NearestMahalanobis(double const* x, MixtureModel const& model,
                       std::vector<Matrix> const& factors) {
  int best = 0;
  double bestDistance = 0.0;
  for (int c = 0; c < model.count; ++c) {
    MixtureComponent const& component = *model.components[c];
    double distance = component.type == MM_COV_DIAGONAL
                          ? MahalanobisDiag2(x, component.mean.data, factors[c])
                          : MahalanobisChol2(x, component.mean.data, factors[c]);
    if (c == 0 || distance < bestDistance) {
      bestDistance = distance;
      best = c;
    }
  }
  return best;
}

// Re-estimates every covariance from its members under assignment: the
// second moment about zero divided by the member count, minus m m'.
void UpdateCovariances(Data const& data, MixtureModel& model, std::vector<int32_t> const& assignment) {
  int const d = data.Dimension();
  std::vector<int32_t> counts(model.count, 0);
  Matrix outer;
  for (int c = 0; c < model.count; ++c) model.components[c]->covariance.Fill(0.0);
  for (size_t n = 0; n < assignment.size(); ++n) {
    double const* x = data.Vector(n);
    MixtureComponent& component = *model.components[assignment[n]];
    if (component.type == MM_COV_DIAGONAL) {
      for (int j = 0; j < d; ++j) component.covariance.data[j] += x[j] * x[j];
    } else {
      outer.Resize(d, d, false);
      outer.OuterProduct(x, x + d, x, x + d);
      component.covariance += outer;
    }
    ++counts[assignment[n]];
  }
  for (int c = 0; c < model.count; ++c) {
    MixtureComponent& component = *model.components[c];
    double const* mean = component.mean.data;
    component.covariance.Scale(1.0 / static_cast<double>(counts[c]));
    if (component.type == MM_COV_DIAGONAL) {
      for (int j = 0; j < d; ++j) component.covariance.data[j] -= mean[j] * mean[j];
    } else {
      outer.Resize(d, d, false);
      outer.OuterProduct(mean, mean + d, mean, mean + d);
      component.covariance -= outer;
    }
  }
}

}  // namespace

void KMeans(Data const& data, MixtureModel& model, int iterations, bool /*flag*/) {
  size_t const count = data.Count();
  if (iterations <= 0 || model.count <= 0 || count == 0) return;
  int const d = data.Dimension();
  Matrix accumulator(model.count, d + 1);
  for (int iteration = 1; iteration <= iterations; ++iteration) {
    accumulator.Fill(0.0);
    for (size_t n = 0; n < count; ++n) {
      double const* x = data.Vector(n);
      AddToCluster(accumulator, NearestEuclidean(x, model, d), x, d);
    }
    if (!UpdateMeansAndWeights(accumulator, model, count, d)) break;
  }
}

void MahalanobisKMeans(Data const& data, MixtureModel& model, bool shared_metric, int iterations,
                       bool update_covariances) {
  size_t const count = data.Count();
  if (iterations <= 0 || model.count <= 0 || count == 0) return;
  int const d = data.Dimension();

  // The metrics stay those of the covariances on entry for the whole call.
  std::vector<Matrix> factors;
  factors.reserve(model.count);
  for (int c = 0; c < model.count; ++c)
    factors.push_back(shared_metric && c > 0 ? factors[0] : MetricFactor(*model.components[c]));

  Matrix accumulator(model.count, d + 1);
  for (int iteration = 0; iteration < iterations; ++iteration) {
    accumulator.Fill(0.0);
    for (size_t n = 0; n < count; ++n) {
      double const* x = data.Vector(n);
      AddToCluster(accumulator, NearestMahalanobis(x, model, factors), x, d);
    }
    UpdateMeansAndWeights(accumulator, model, count, d);
  }

  if (update_covariances) {
    std::vector<int32_t> assignment(count);
    for (size_t n = 0; n < count; ++n)
      assignment[n] = NearestMahalanobis(data.Vector(n), model, factors);
    UpdateCovariances(data, model, assignment);
  }
}
