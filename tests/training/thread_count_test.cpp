// What the end-to-end thread test cannot reach: the same bits at 1, 2, 3
// and 7 threads where the sums split by columns (fewer components than
// parts), over many moment panels, for mixed covariance types and over
// several chunks of blocks, the last one partial.

#include "parallel/threads.h"
#include "support/values.h"
#include "training/em.h"
#include "training/kmeans.h"

TEST(SameBitsTest, SplitSumsAtEveryThreadCount) {
  struct {
    int count, d, K;
    std::vector<MixtureCovarianceMatrixType> types;
  } const shapes[] = {{12000, 6, 3, {F}},
                      {9000, 4, 6, {F, D}},
                      {3000, 17, 9, {D}},
                      {40037, 3, 5, {D}},
                      {40037, 3, 5, {F}}};
  int const original = ThreadCount();
  for (auto const& shape : shapes) {
    DataSet set(shape.d, ClusteredValues(shape.count, shape.d, 4, 17 * shape.d + shape.K));
    MixtureModel const start = StartingModel(set.data, shape.K, 0.3, shape.types);
    Matrix const floor(1, shape.d, 1e-3);
    std::vector<Matrix> moments;              // per thread count: the mean and the covariance
    std::vector<MixtureModel> models;         // the EM step, then the Mahalanobis k-means fit
    std::vector<std::vector<double>> values;  // the log likelihoods
    for (int threads : {1, 2, 3, 7}) {
      SetThreadCount(threads);
      moments.push_back(DataMean(set.data));
      moments.push_back(DataCovariance(set.data, moments.back()));
      models.insert(models.end(), 2, start);
      MixtureModel &step = models[models.size() - 2], &fit = models.back();
      values.push_back({emLogLikelihood(set.data, start),
                        emMonolithicEMStep(start, set.data, step, shape.types == std::vector{D})});
      MahalanobisKMeans(set.data, fit, false, 3, true);
      values.back().push_back(ExpectationMaximization(fit, set.data, floor, 3, false));
      for (size_t i : {models.size() - 2, models.size() - 1})
        EXPECT_TRUE(SameBits(moments[i], moments[i % 2]) && SameBits(models[i], models[i % 2]))
            << threads << " threads, d " << shape.d << ", K " << shape.K;
      EXPECT_EQ(values.back(), values[0]);
    }
  }
  SetThreadCount(original);
}
