#ifndef MIXFIT_TESTS_TRAINING_TRAINING_FIXTURES_H
#define MIXFIT_TESTS_TRAINING_TRAINING_FIXTURES_H

#include <random>
#include <vector>

#include "data/data.h"
#include "data/storage_builders.h"
#include "matrix/datautils.h"
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
    c.covariance = spread * (type == MM_COV_DIAGONAL ? DataVariances(data, mean)
                                                     : DataCovariance(data, mean));
  }
  return model;
}

}  // namespace training_test

#endif
