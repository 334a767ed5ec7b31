#include "matrix/datautils.h"

#include <gtest/gtest.h>

#include "data/storage_builders.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "matrix/random.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

std::vector<double> Elements(Matrix const& m) {
  return std::vector<double>(m.data, m.data + m.ElementCount());
}

// The view repeats the vector (3, 6): N = 3, not the 2 rows of the storage.
TEST(DataStatisticsTest, MeanAndCovarianceDivideByN) {
  DataStorage storage = StorageOf(2, 2, {0, 0, 3, 6});
  Data data = AllRows(storage);
  data.Map(1, 1);
  Matrix mean = DataMean(data);
  EXPECT_EQ(Elements(mean), (std::vector<double>{2, 4}));
  EXPECT_EQ(Elements(DataCovariance(data, mean)), (std::vector<double>{2, 4, 4, 8}));
  EXPECT_EQ(Elements(DataVariances(data, mean)), (std::vector<double>{2, 8}));
  // The sum is multiplied by 1 / N: 0.3 * (1 / 3) and 0.3 / 3 differ in the last bit.
  DataStorage tenths = StorageOf(3, 1, {0.1, 0.1, 0.1});
  double sum = 0.1 + 0.1 + 0.1;
  ASSERT_NE(sum * (1.0 / 3.0), sum / 3.0);
  EXPECT_EQ(DataMean(AllRows(tenths)).data[0], sum * (1.0 / 3.0));
  // Without vectors every statistic is NaN.
  Data empty(storage);
  EXPECT_EQ(DataMean(empty).NotFinite(), 2);
  EXPECT_EQ(DataCovariance(empty, mean).NotFinite(), 4);
}

// The summed triangle mirrored and the variances computed alone give the
// very bits of the plain sum of scatter matrices, in data order, times 1 / N.
TEST(DataStatisticsTest, CovarianceAndVariancesMatchTheScatterSumBitForBit) {
  RandomSeed(7);
  DataStorage storage = StorageOf(500, 6, {});
  storage.Randomize();
  for (int k = 0; k < storage.ElementCount(); k += 5) storage.data[k] *= 1e6;
  Data data = AllRows(storage);
  Matrix mean = DataMean(data), sum(6, 6, 0.0), difference(1, 6), scatter(6, 6);
  for (size_t k = 0; k < data.Count(); ++k) {
    for (int j = 0; j < 6; ++j) difference.data[j] = data.Vector(k)[j] - mean.data[j];
    scatter.OuterProduct(difference, difference);
    sum += scatter;
  }
  sum.Scale(1.0 / 500);
  Matrix covariance = DataCovariance(data, mean), diagonal;
  EXPECT_EQ(memcmp(covariance.data, sum.data, sizeof(double) * 36), 0);
  sum.Diagonal(diagonal);
  EXPECT_EQ(memcmp(DataVariances(data, mean).data, diagonal.data, sizeof(double) * 6), 0);
}

// Equal vectors are chosen once; 0 equals -0; a vector holding NaN equals none.
TEST(SelectUniquePointsTest, DuplicatesSignedZerosAndNaN) {
  DataStorage storage = StorageOf(6, 2, {1, 1, 1, 1, 0.0, 2, -0.0, 2, kNaN, 1, kNaN, 1});
  Data data = AllRows(storage);
  std::vector<int> positions;
  EXPECT_TRUE(SelectUniquePoints(data, 4, positions));
  EXPECT_FALSE(SelectUniquePoints(data, 5, positions));
  ASSERT_EQ(positions.size(), 4u);
  EXPECT_EQ(std::count_if(positions.begin(), positions.end(), [](int p) { return p < 2; }), 1);
  EXPECT_EQ(std::count_if(positions.begin(), positions.end(), [](int p) { return p >= 4; }), 2);
  EXPECT_FALSE(SelectUniquePoints(data, 0, positions));
}

// One draw per vector, whatever the count; the vectors are taken in the order
// of their draws, equal draws by position, skipping repeats of chosen ones.
TEST(SelectUniquePointsTest, FixedSeedGivesTheOrderOfTheDraws) {
  DataStorage storage = StorageOf(2000, 1, {});
  for (int k = 0; k < 2000; ++k) storage.data[k] = k % 7 == 3 ? kNaN : k % 50;
  Data data = AllRows(storage);
  RandomSeed(99);
  std::vector<std::pair<int, int>> draws;
  for (int p = 0; p < 2000; ++p) draws.push_back({RandomNext(), p});
  int next = RandomNext();
  std::sort(draws.begin(), draws.end());  // 2000 draws of 32768 values: ties occur
  std::vector<int> expected;
  for (auto const& draw : draws) {
    bool seen = false;
    for (int chosen : expected) seen = seen || storage.data[chosen] == storage.data[draw.second];
    if (!seen && expected.size() < 300) expected.push_back(draw.second);
  }
  RandomSeed(99);
  std::vector<int> positions;
  EXPECT_TRUE(SelectUniquePoints(data, 300, positions));
  EXPECT_EQ(positions, expected);
  EXPECT_EQ(RandomNext(), next);
}

}  // namespace
