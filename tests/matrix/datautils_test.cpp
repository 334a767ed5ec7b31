#include "matrix/datautils.h"

#include "matrix/random.h"
#include "support/values.h"

namespace {

// The view repeats the vector (3, 6): N = 3, not the 2 rows of the storage.
TEST(DataStatisticsTest, MeanAndCovarianceDivideByN) {
  DataSet set(2, {0, 0, 3, 6});
  set.data.Map(1, 1);
  Matrix mean = DataMean(set.data);
  EXPECT_EQ(Elements(mean), (std::vector<double>{2, 4}));
  EXPECT_EQ(Elements(DataCovariance(set.data, mean)), (std::vector<double>{2, 4, 4, 8}));
  EXPECT_EQ(Elements(DataVariances(set.data, mean)), (std::vector<double>{2, 8}));
  // The sum is multiplied by 1 / N: 0.3 * (1 / 3) and 0.3 / 3 differ in the last bit.
  DataSet tenths(1, {0.1, 0.1, 0.1});
  EXPECT_EQ(DataMean(tenths.data).data[0], (0.1 + 0.1 + 0.1) * (1.0 / 3.0));
  // Without vectors every statistic is NaN.
  Data empty(set.storage);
  EXPECT_EQ(DataMean(empty).NotFinite(), 2);
  EXPECT_EQ(DataCovariance(empty, mean).NotFinite(), 4);
  EXPECT_EQ(DataVariances(empty, mean).NotFinite(), 2);
}

// The covariance of correlated data is exactly symmetric, its diagonal is
// the variances, and the correlation is the covariance over the deviations.
TEST(DataStatisticsTest, CovarianceVariancesAndCorrelationAgree) {
  DataSet set(3, {1, 2, 4, 2, 2, 8, 3, 5, 1, 4, 4, 3, 6, 1, 9});
  Matrix const mean = DataMean(set.data), covariance = DataCovariance(set.data, mean);
  Matrix const variances = DataVariances(set.data, mean), correlation = DataCorrelation(covariance);
  EXPECT_TRUE(SameBits(covariance, Transpose(covariance)));
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      EXPECT_DOUBLE_EQ(correlation(i, j) * std::sqrt(variances.data[i] * variances.data[j]),
                       covariance(i, j))
          << i << " " << j;
}

// One draw per vector; vectors are taken in the order of the draws (from
// state 1: 16838, 5758, 10113, 17515), skipping those equal to one chosen.
TEST(SelectUniquePointsTest, OrderOfTheDrawsWithoutRepeatsOrNaN) {
  DataSet set(1, {7, 8, 8, 9});
  std::vector<int> positions;
  RandomSeed(1);
  EXPECT_TRUE(SelectUniquePoints(set.data, 3, positions));
  EXPECT_EQ(positions, (std::vector<int>{1, 0, 3}));
  EXPECT_EQ(RandomNext(), 31051);
  EXPECT_FALSE(SelectUniquePoints(set.data, 4, positions));
  EXPECT_EQ(positions.size(), 3u);
  // 0 equals -0; a vector holding NaN equals none, not even itself.
  DataSet signs(2, {1, 1, 1, 1, 0.0, 2, -0.0, 2, kNaN, 1, kNaN, 1});
  EXPECT_TRUE(SelectUniquePoints(signs.data, 4, positions));
  EXPECT_FALSE(SelectUniquePoints(signs.data, 5, positions));
  EXPECT_FALSE(SelectUniquePoints(signs.data, 0, positions));
}

}  // namespace
