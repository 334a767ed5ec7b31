// The one-pass EM step and the log likelihood checked against a plain
// two-pass EM written here from the formulas: densities from a general
// inverse and determinant, responsibilities stored for every vector, and the
// covariances taken about the new means in a second pass. Agreement is to a
// relative 1e-12; a covariance element is measured against the second moment
// it is computed from.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "training/em.h"
#include "training/training_fixtures.h"

using namespace training_test;

namespace {

typedef std::vector<double> Vector;

struct Reference {
  Vector weights;
  std::vector<Vector> means, covariances;  // d x d, also for diagonal components
  double logLikelihood = 0.0;
};

double Density(MixtureComponent const& c, double const* x) {
  int const d = c.mean.columns;
  Matrix sigma = c.covariance;
  if (c.type == MM_COV_DIAGONAL) {
    sigma = Matrix(d, d, 0.0);
    for (int i = 0; i < d; ++i) sigma(i, i) = c.covariance.data[i];
  }
  Matrix const inverse = sigma.Inverse();
  double q = 0.0;
  for (int i = 0; i < d; ++i)
    for (int j = 0; j < d; ++j)
      q += (x[i] - c.mean.data[i]) * inverse(i, j) * (x[j] - c.mean.data[j]);
  return std::exp(-0.5 * q) / std::sqrt(std::pow(6.283185307179586, d) * sigma.Determinant());
}

Reference TwoPassStep(MixtureModel const& model, Data const& data) {
  size_t const N = data.Count();
  int const d = data.Dimension(), K = model.count;
  Reference out{Vector(K, 0.0), std::vector<Vector>(K, Vector(d, 0.0)),
                std::vector<Vector>(K, Vector(d * d, 0.0))};
  std::vector<Vector> r(N, Vector(K));
  for (size_t n = 0; n < N; ++n) {
    double const* x = data.Vector(n);
    double total = 0.0;
    for (int k = 0; k < K; ++k)
      total += r[n][k] = model.components[k]->weight * Density(*model.components[k], x);
    out.logLikelihood += std::log(total) / N;
    for (int k = 0; k < K; ++k) {
      r[n][k] /= total;
      out.weights[k] += r[n][k];
      for (int j = 0; j < d; ++j) out.means[k][j] += r[n][k] * x[j];
    }
  }
  for (int k = 0; k < K; ++k) {
    Vector& m = out.means[k];
    for (double& mean : m) mean /= out.weights[k];
    for (size_t n = 0; n < N; ++n)
      for (int i = 0; i < d; ++i)
        for (int j = 0; j < d; ++j)
          out.covariances[k][i * d + j] += r[n][k] * (data.Vector(n)[i] - m[i]) *
                                           (data.Vector(n)[j] - m[j]) / out.weights[k];
    out.weights[k] /= N;
  }
  return out;
}

void ExpectRelativelyNear(double actual, double expected, double scale, char const* what) {
  EXPECT_LE(std::fabs(actual - expected), 1e-12 * scale)
      << what << ": " << actual << " against " << expected;
}

}  // namespace

TEST(EMStepReferenceTest, AgreesWithTwoPassEM) {
  MixtureCovarianceMatrixType const D = MM_COV_DIAGONAL, F = MM_COV_FULL;
  struct Shape {
    int d, K;
    std::vector<MixtureCovarianceMatrixType> types;  // cycled over the components
  };
  for (Shape const& shape : std::vector<Shape>{{1, 1, {D}}, {1, 3, {D}}, {2, 4, {D}}, {5, 3, {D}},
                                               {2, 1, {F}}, {2, 3, {F}}, {5, 4, {F}}, {8, 3, {F}},
                                               {3, 2, {F, D}}, {3, 4, {F, D}}}) {
    int const d = shape.d, K = shape.K;
    SCOPED_TRACE(testing::Message() << "d " << d << ", K " << K << ", " << shape.types.size());
    DataSet set(d, ClusteredValues(400, d, 3, 100 * d + K));
    MixtureModel model = StartingModel(set.data, K, 0.4, shape.types);
    Reference expected = TwoPassStep(model, set.data);
    double const L = expected.logLikelihood;

    ExpectRelativelyNear(emLogLikelihood(set.data, model), L, std::fabs(L), "log likelihood");
    MixtureModel updated(model);
    bool const diagonalOnly = shape.types[0] == D;
    double const value = emMonolithicEMStep(model, set.data, updated, diagonalOnly);
    ExpectRelativelyNear(value, L, std::fabs(L), "step value");
    for (int k = 0; k < K; ++k) {
      MixtureComponent const& c = *updated.components[k];
      Vector const& m = expected.means[k];
      Vector const& sigma = expected.covariances[k];
      ExpectRelativelyNear(c.weight, expected.weights[k], expected.weights[k], "weight");
      for (int i = 0; i < d; ++i) {
        ExpectRelativelyNear(c.mean.data[i], m[i], std::fabs(m[i]), "mean");
        for (int j = 0; j < d; ++j) {
          // The step subtracts m m' from the second moment about the origin,
          // so its rounding is relative to that moment's size.
          double const scale =
              std::sqrt((sigma[i * d + i] + m[i] * m[i]) * (sigma[j * d + j] + m[j] * m[j]));
          if (c.type != MM_COV_DIAGONAL)
            ExpectRelativelyNear(c.covariance(i, j), sigma[i * d + j], scale, "covariance");
          else if (i == j)
            ExpectRelativelyNear(c.covariance.data[i], sigma[i * d + i], scale, "variance");
        }
      }
    }
  }
}
