// The one-pass EM step and the log likelihood checked against a plain
// two-pass EM written here from the formulas: densities from a general
// inverse and determinant, responsibilities stored for every vector, and the
// covariances taken about the new means in a second pass. Agreement is to a
// relative 1e-12; a covariance element is measured against the second moment
// it is computed from.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>
#include <vector>

#include "training/em.h"
#include "training/training_fixtures.h"

using namespace training_test;

namespace {

struct Reference {
  std::vector<double> weights;
  std::vector<std::vector<double>> means;
  std::vector<std::vector<double>> covariances;  // d x d, also for diagonal components
  double logLikelihood;
};

double Density(MixtureComponent const& c, double const* x) {
  int d = c.mean.columns;
  Matrix sigma(d, d, 0.0);
  for (int i = 0; i < d; ++i)
    for (int j = 0; j < d; ++j)
      if (c.type != MM_COV_DIAGONAL)
        sigma(i, j) = c.covariance(i, j);
      else if (i == j)
        sigma(i, i) = c.covariance.data[i];
  Matrix inverse = sigma.Inverse();
  double q = 0.0;
  for (int i = 0; i < d; ++i)
    for (int j = 0; j < d; ++j) q += (x[i] - c.mean.data[i]) * inverse(i, j) * (x[j] - c.mean.data[j]);
  return std::exp(-0.5 * q) / std::sqrt(std::pow(6.283185307179586, d) * sigma.Determinant());
}

Reference TwoPassStep(MixtureModel const& model, Data const& data) {
  size_t N = data.Count();
  int d = data.Dimension(), K = model.count;
  Reference out{std::vector<double>(K, 0.0), std::vector<std::vector<double>>(K, std::vector<double>(d, 0.0)),
                std::vector<std::vector<double>>(K, std::vector<double>(d * d, 0.0)), 0.0};
  std::vector<std::vector<double>> r(N, std::vector<double>(K));
  for (size_t n = 0; n < N; ++n) {
    double total = 0.0;
    for (int k = 0; k < K; ++k) total += r[n][k] = model.components[k]->weight * Density(*model.components[k], data.Vector(n));
    out.logLikelihood += std::log(total) / N;
    for (int k = 0; k < K; ++k) {
      r[n][k] /= total;
      out.weights[k] += r[n][k];
      for (int j = 0; j < d; ++j) out.means[k][j] += r[n][k] * data.Vector(n)[j];
    }
  }
  for (int k = 0; k < K; ++k) {
    for (double& m : out.means[k]) m /= out.weights[k];
    for (size_t n = 0; n < N; ++n)
      for (int i = 0; i < d; ++i)
        for (int j = 0; j < d; ++j)
          out.covariances[k][i * d + j] += r[n][k] * (data.Vector(n)[i] - out.means[k][i]) *
                                           (data.Vector(n)[j] - out.means[k][j]) / out.weights[k];
    out.weights[k] /= N;
  }
  return out;
}

void ExpectRelativelyNear(double actual, double expected, double scale, char const* what) {
  EXPECT_LE(std::fabs(actual - expected), 1e-12 * scale)
      << what << ": " << actual << " against " << expected;
}

// d, K, and the component types (cycled over the components).
typedef std::tuple<int, int, std::vector<MixtureCovarianceMatrixType>> Shape;

class EMStepReferenceTest : public ::testing::TestWithParam<Shape> {};

TEST_P(EMStepReferenceTest, AgreesWithTwoPassEM) {
  int d = std::get<0>(GetParam()), K = std::get<1>(GetParam());
  std::vector<MixtureCovarianceMatrixType> const& types = std::get<2>(GetParam());
  bool diagonalOnly = std::all_of(types.begin(), types.end(),
                                  [](MixtureCovarianceMatrixType t) { return t == MM_COV_DIAGONAL; });
  DataSet set(d, ClusteredValues(400, d, 3, 100 * d + K));
  MixtureModel model = StartingModel(set.data, K, 0.4, types);
  Reference expected = TwoPassStep(model, set.data);

  ExpectRelativelyNear(emLogLikelihood(set.data, model), expected.logLikelihood,
                       std::fabs(expected.logLikelihood), "log likelihood");
  MixtureModel updated(model);
  double L = emMonolithicEMStep(model, set.data, updated, diagonalOnly);
  ExpectRelativelyNear(L, expected.logLikelihood, std::fabs(expected.logLikelihood), "step value");

  for (int k = 0; k < K; ++k) {
    MixtureComponent const& c = *updated.components[k];
    ExpectRelativelyNear(c.weight, expected.weights[k], expected.weights[k], "weight");
    for (int j = 0; j < d; ++j)
      ExpectRelativelyNear(c.mean.data[j], expected.means[k][j], std::fabs(expected.means[k][j]), "mean");
    std::vector<double> const& sigma = expected.covariances[k];
    for (int i = 0; i < d; ++i)
      for (int j = 0; j < d; ++j) {
        // The step subtracts m m' from the second moment about the origin,
        // so its rounding is relative to that moment's size.
        double const* m = expected.means[k].data();
        double scale = std::sqrt((sigma[i * d + i] + m[i] * m[i]) * (sigma[j * d + j] + m[j] * m[j]));
        if (c.type != MM_COV_DIAGONAL)
          ExpectRelativelyNear(c.covariance(i, j), sigma[i * d + j], scale, "covariance");
        else if (i == j)
          ExpectRelativelyNear(c.covariance.data[i], sigma[i * d + i], scale, "variance");
      }
  }
}

std::vector<MixtureCovarianceMatrixType> const kDiagonal = {MM_COV_DIAGONAL};
std::vector<MixtureCovarianceMatrixType> const kFull = {MM_COV_FULL};
std::vector<MixtureCovarianceMatrixType> const kMixed = {MM_COV_FULL, MM_COV_DIAGONAL};

INSTANTIATE_TEST_SUITE_P(Diagonal, EMStepReferenceTest,
                         ::testing::Combine(::testing::Values(1, 2, 5), ::testing::Values(1, 3, 4),
                                            ::testing::Values(kDiagonal)));
INSTANTIATE_TEST_SUITE_P(Full, EMStepReferenceTest,
                         ::testing::Combine(::testing::Values(2, 5, 8), ::testing::Values(1, 3, 4),
                                            ::testing::Values(kFull)));
INSTANTIATE_TEST_SUITE_P(Mixed, EMStepReferenceTest,
                         ::testing::Combine(::testing::Values(3), ::testing::Values(2, 4),
                                            ::testing::Values(kMixed)));

}  // namespace
