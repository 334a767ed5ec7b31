// Every pass over the data gives the same bits at 1, 2, 3 and 7 threads: the
// data statistics, the log likelihood, the EM step and loop, k-means and
// Mahalanobis k-means with its final covariances, on data large enough for
// several chunks and several parts of every sum.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "matrix/datautils.h"
#include "matrix/threads.h"
#include "training/em.h"
#include "training/kmeans.h"
#include "support/values.h"


namespace {

void Append(std::string& bits, double const* values, size_t count) {
  bits.append(reinterpret_cast<char const*>(values), sizeof(double) * count);
}

void Append(std::string& bits, Matrix const& m) { Append(bits, m.data, m.ElementCount()); }

void Append(std::string& bits, MixtureModel const& model) {
  for (int k = 0; k < model.count; ++k) {
    Append(bits, &model.components[k]->weight, 1);
    Append(bits, model.components[k]->mean);
    Append(bits, model.components[k]->covariance);
  }
}

// The results of every pass, as raw bytes.
std::string AllPasses(Data const& data, int K,
                      std::vector<MixtureCovarianceMatrixType> const& types) {
  std::string bits;
  Matrix const mean = DataMean(data);
  Append(bits, mean);
  Append(bits, DataCovariance(data, mean));
  Append(bits, DataVariances(data, mean));

  MixtureModel const start = StartingModel(data, K, 0.3, types);
  double value = emLogLikelihood(data, start);
  Append(bits, &value, 1);
  MixtureModel updated(start);
  value =
      emMonolithicEMStep(start, data, updated, types.size() == 1 && types[0] == MM_COV_DIAGONAL);
  Append(bits, &value, 1);
  Append(bits, updated);

  MixtureModel euclidean(start);
  KMeans(data, euclidean, 4, false);
  Append(bits, euclidean);
  MixtureModel mahalanobis(start);
  MahalanobisKMeans(data, mahalanobis, false, 3, true);
  Append(bits, mahalanobis);
  Matrix const floor(1, data.Dimension(), 1e-3);
  value = ExpectationMaximization(mahalanobis, data, floor, 3, false);
  Append(bits, &value, 1);
  Append(bits, mahalanobis);
  return bits;
}

}  // namespace

TEST(SameBitsTest, EveryPassAtEveryThreadCount) {
  MixtureCovarianceMatrixType const D = MM_COV_DIAGONAL, F = MM_COV_FULL;
  struct Shape {
    int count, d, K;
    std::vector<MixtureCovarianceMatrixType> types;
  } const shapes[] = {
      {50000, 3, 5, {D}},    // several chunks of EM and k-means
      {12000, 6, 3, {F}},    // fewer components than parts: the sums split by columns
      {9000, 4, 6, {F, D}},  // mixed types
      {3000, 17, 9, {D}},    // many moment panels
  };
  int const original = ThreadCount();
  for (Shape const& shape : shapes) {
    SCOPED_TRACE(testing::Message()
                 << "N " << shape.count << ", d " << shape.d << ", K " << shape.K);
    DataSet set(shape.d, ClusteredValues(shape.count, shape.d, 4, 17 * shape.d + shape.K));
    std::string one;
    for (int threads : {1, 2, 3, 7}) {
      SetThreadCount(threads);
      std::string const bits = AllPasses(set.data, shape.K, shape.types);
      if (threads == 1)
        one = bits;
      else
        EXPECT_TRUE(bits == one) << threads << " threads";
    }
  }
  SetThreadCount(original);
}
