#ifndef MIXFIT_TESTS_TRAINING_TRAINING_FIXTURES_H
#define MIXFIT_TESTS_TRAINING_TRAINING_FIXTURES_H

#include <algorithm>
#include <random>
#include <vector>

#include "data/data.h"
#include "data/storage_builders.h"
#include "mixture/helpers.h"

namespace training_test {

double const kTiny = 2.2250738585072014e-308;
double const kLogTiny = -708.3964185322641;

// A data set from a flat list of values, d per vector, with a view on all of
// its vectors in order. Not copyable: the view points into the storage.
struct DataSet {
  DataStorage storage;
  Data data;

  DataSet(int d, std::vector<double> const& values)
      : storage(StorageOf(d > 0 ? static_cast<int>(values.size()) / d : 0, d, values)),
        data(AllRows(storage)) {}
  DataSet(DataSet const&) = delete;
  DataSet& operator=(DataSet const&) = delete;
};

// One-dimensional diagonal components with the given means and variances
// and equal weights.
inline MixtureModel OneDimensional(std::vector<double> const& means,
                                   std::vector<double> const& variances) {
  MixtureModel model;
  for (size_t k = 0; k < means.size(); ++k)
    AddComponent(model, MM_COV_DIAGONAL, 1.0 / means.size(), {means[k]}, {variances[k]});
  return model;
}

// count vectors of dimension d drawn around `clusters` centres in [2, 6]^d,
// each cluster stretched and correlated by its own random linear map.
inline std::vector<double> ClusteredValues(int count, int d, int clusters, unsigned seed) {
  std::mt19937_64 generator(seed);
  std::uniform_real_distribution<double> uniform(2.0, 6.0);
  std::uniform_real_distribution<double> mixing(-0.5, 0.5);
  std::normal_distribution<double> normal(0.0, 1.0);
  std::vector<std::vector<double>> centres(clusters, std::vector<double>(d));
  std::vector<std::vector<double>> maps(clusters, std::vector<double>(d * d));
  for (int c = 0; c < clusters; ++c) {
    for (double& x : centres[c]) x = uniform(generator);
    for (int i = 0; i < d; ++i)
      for (int j = 0; j < d; ++j) maps[c][i * d + j] = (i == j ? 0.6 : 0.0) + mixing(generator);
  }
  std::vector<double> values(static_cast<size_t>(count) * d);
  std::vector<double> z(d);
  for (int n = 0; n < count; ++n) {
    int c = n % clusters;
    for (double& x : z) x = normal(generator);
    for (int i = 0; i < d; ++i) {
      double x = centres[c][i];
      for (int j = 0; j < d; ++j) x += maps[c][i * d + j] * z[j];
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
  int d = data.Dimension();
  size_t count = data.Count();
  std::vector<double> mean(d, 0.0), covariance(d * d, 0.0);
  for (size_t n = 0; n < count; ++n)
    for (int j = 0; j < d; ++j) mean[j] += data.Vector(n)[j] / count;
  for (size_t n = 0; n < count; ++n)
    for (int i = 0; i < d; ++i)
      for (int j = 0; j < d; ++j)
        covariance[i * d + j] += spread * (data.Vector(n)[i] - mean[i]) *
                                 (data.Vector(n)[j] - mean[j]) / count;
  std::vector<double> variances(d);
  for (int j = 0; j < d; ++j) variances[j] = covariance[j * d + j];
  MixtureModel model;
  for (int k = 0; k < K; ++k) {
    MixtureCovarianceMatrixType type = types[k % types.size()];
    std::vector<double> centre(data.Vector(k), data.Vector(k) + d);
    AddComponent(model, type, 1.0 / K, centre, type == MM_COV_DIAGONAL ? variances : covariance);
  }
  return model;
}

}  // namespace training_test

#endif
