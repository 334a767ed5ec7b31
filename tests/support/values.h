#ifndef MIXFIT_TESTS_SUPPORT_VALUES_H
#define MIXFIT_TESTS_SUPPORT_VALUES_H

// Matrices, models and data sets written out in tests, and comparisons to
// the bit; with the headers every test uses.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "data/data.h"
#include "matrix/datautils.h"
#include "mixture/mixmodel.h"

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();
// The smallest normal double, the floor of densities, and its logarithm.
const double kTiny = 2.2250738585072014e-308;
const double kLogTiny = -708.3964185322641;
MixtureCovarianceMatrixType const D = MM_COV_DIAGONAL, F = MM_COV_FULL;

inline std::vector<double> Elements(Matrix const& m) { return {m.data, m.data + m.ElementCount()}; }

// A rows x columns matrix holding values in row-major order.
inline Matrix FromValues(int rows, int columns, std::vector<double> const& values) {
  Matrix m(rows, columns);
  std::copy(values.begin(), values.end(), m.data);
  return m;
}

inline Matrix Row(std::vector<double> const& v) { return FromValues(1, int(v.size()), v); }

inline bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

inline bool SameBits(Matrix const& a, Matrix const& b) {
  return a.rows == b.rows && a.columns == b.columns &&
         std::memcmp(a.data, b.data, sizeof(double) * a.ElementCount()) == 0;
}

inline bool SameBits(MixtureModel const& a, MixtureModel const& b) {
  bool same = a.count == b.count;
  for (int k = 0; same && k < a.count; ++k) {
    MixtureComponent const &x = *a.components[k], &y = *b.components[k];
    same = x.type == y.type && SameBits(x.weight, y.weight) && SameBits(x.mean, y.mean) &&
           SameBits(x.covariance, y.covariance);
  }
  return same;
}

// Appends a component with the given values (covariance: d variances or
// d x d elements) and returns it.
inline MixtureComponent& AddComponent(MixtureModel& model, MixtureCovarianceMatrixType type,
                                      double weight, std::vector<double> const& mean,
                                      std::vector<double> const& covariance) {
  auto* component = new MixtureComponent(type, static_cast<int>(mean.size()), false);
  component->weight = weight;
  std::copy(mean.begin(), mean.end(), component->mean.data);
  std::copy(covariance.begin(), covariance.end(), component->covariance.data);
  model.Add(*component);
  return *component;
}

// One-dimensional diagonal components of equal weights.
inline MixtureModel OneDimensional(std::vector<double> const& means,
                                   std::vector<double> const& variances) {
  MixtureModel model;
  for (size_t k = 0; k < means.size(); ++k)
    AddComponent(model, MM_COV_DIAGONAL, 1.0 / means.size(), {means[k]}, {variances[k]});
  return model;
}

// A data set from a flat list of values, d per vector, and a view on all of
// its vectors in order. Not copyable: the view points into the storage.
struct DataSet {
  DataStorage storage;
  Data data{storage};

  DataSet(int d, std::vector<double> const& values) {
    storage.Resize(static_cast<int>(values.size()) / d, d, false);
    std::copy(values.begin(), values.end(), storage.data);
    if (storage.rows > 0) data.Map(0, storage.rows);
  }
  DataSet(DataSet const&) = delete;
  DataSet& operator=(DataSet const&) = delete;
};

// count vectors of dimension d drawn around `clusters` centres in [2, 6]^d,
// each cluster stretched and correlated by its own random linear map.
inline std::vector<double> ClusteredValues(int count, int d, int clusters, unsigned seed) {
  std::mt19937_64 generator(seed);
  std::uniform_real_distribution<double> uniform(-0.5, 0.5);
  std::normal_distribution<double> normal(0.0, 1.0);
  std::vector<double> centres(clusters * d), maps(clusters * d * d);  // maps near 0.6 I
  for (double& x : centres) x = 4.0 + 4.0 * uniform(generator);
  for (size_t i = 0; i < maps.size(); ++i)
    maps[i] = uniform(generator) + (i % (d * d) % (d + 1) == 0 ? 0.6 : 0.0);
  std::vector<double> values(static_cast<size_t>(count) * d), z(d);
  for (int n = 0; n < count; ++n) {
    int const c = n % clusters;
    for (double& x : z) x = normal(generator);
    for (int i = 0; i < d; ++i) {
      double x = centres[c * d + i];
      for (int j = 0; j < d; ++j) x += maps[(c * d + i) * d + j] * z[j];
      values[static_cast<size_t>(n) * d + i] = x;
    }
  }
  return values;
}

// K components on data vectors 0, 1, ..., K - 1 with equal weights and the
// covariance of the whole data set scaled by `spread` (the variances only for
// the diagonal type). types[k % types.size()] gives component k's type.
inline MixtureModel StartingModel(Data const& data, int K, double spread,
                                  std::vector<MixtureCovarianceMatrixType> const& types) {
  Matrix const mean = DataMean(data);
  MixtureModel model;
  for (int k = 0; k < K; ++k) {
    MixtureCovarianceMatrixType const type = types[k % types.size()];
    std::vector<double> const centre(data.Vector(k), data.Vector(k) + data.Dimension());
    MixtureComponent& c = AddComponent(model, type, 1.0 / K, centre, {});
    c.covariance =
        spread * (type == MM_COV_DIAGONAL ? DataVariances(data, mean) : DataCovariance(data, mean));
  }
  return model;
}

// ln of the mixture density of x under model, worked out independently of
// the library: in long double and in the log domain, each covariance (a
// diagonal one as a full one) factored here by its own Cholesky decomposition.
inline double ReferenceLogDensity(double const* x, MixtureModel const& model) {
  std::vector<long double> terms;
  for (int k = 0; k < model.count; ++k) {
    MixtureComponent const& c = *model.components[k];
    int const d = c.mean.columns;
    double const* s = c.covariance.data;
    long double logDeterminant = 0, distance = 0;
    std::vector<long double> L(static_cast<size_t>(d) * d, 0), y(d);
    for (int i = 0; i < d; ++i) {
      for (int j = 0; j <= i; ++j) {
        long double sum = c.type == MM_COV_FULL ? s[i * d + j] : i == j ? s[i] : 0;
        for (int q = 0; q < j; ++q) sum -= L[i * d + q] * L[j * d + q];
        L[i * d + j] = i == j ? std::sqrt(sum) : sum / L[j * d + j];
      }
      logDeterminant += 2 * std::log(L[i * d + i]);
      // Forward substitution: L y = x - mean, so the distance is |y|^2.
      long double e = static_cast<long double>(x[i]) - c.mean.data[i];
      for (int q = 0; q < i; ++q) e -= L[i * d + q] * y[q];
      y[i] = e / L[i * d + i];
      distance += y[i] * y[i];
    }
    terms.push_back(std::log(static_cast<long double>(c.weight)) - 0.5L * logDeterminant -
                    0.5L * d * std::log(2 * 3.14159265358979323846264338327950288L) -
                    0.5L * distance);
  }
  long double const top = *std::max_element(terms.begin(), terms.end());
  long double sum = 0;
  for (long double t : terms) sum += std::exp(t - top);
  return static_cast<double>(top + std::log(sum));
}

#endif
