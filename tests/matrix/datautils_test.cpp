#include "matrix/datautils.h"

#include <gtest/gtest.h>

#include "data/storage_builders.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "matrix/random.h"

namespace {

std::vector<double> Elements(Matrix const& m) {
  return std::vector<double>(m.data, m.data + m.ElementCount());
}

bool SameBits(Matrix const& a, Matrix const& b) {
  return a.rows == b.rows && a.columns == b.columns &&
         memcmp(a.data, b.data, sizeof(double) * a.ElementCount()) == 0;
}

// The covariance as the scatter matrices of the differences, summed in data
// order with the matrix operations, then scaled by 1 / N.
Matrix ScatterCovariance(Data const& data, Matrix const& mean) {
  int d = data.Dimension();
  Matrix sum(d, d, 0.0), difference(1, d), scratch(d, d);
  for (size_t k = 0; k < data.Count(); ++k) {
    for (int j = 0; j < d; ++j) difference.data[j] = data.Vector(k)[j] - mean.data[j];
    scratch.OuterProduct(difference.data, difference.data + d, difference.data,
                         difference.data + d);
    sum += scratch;
  }
  sum.Scale(1.0 / static_cast<double>(data.Count()));
  return sum;
}

// Random data of n vectors whose components take few values, so that many
// vectors repeat; some hold NaN, and zeros come with both signs.
DataStorage RepetitiveData(int n, int d, unsigned seed) {
  RandomSeed(seed);
  DataStorage storage;
  storage.Resize(n, d, false);
  const double values[] = {0.0, -0.0, 1.0, 2.5, std::numeric_limits<double>::quiet_NaN()};
  for (int k = 0; k < n * d; ++k) storage.data[k] = values[RandomNext() % (k % 7 ? 4 : 5)];
  return storage;
}

// Unique points exactly as described: random keys, sorted with ties by
// position, each candidate compared with every earlier candidate.
std::vector<int> UniquePointsByAllEarlier(Data const& data, int count) {
  std::vector<std::pair<int, int>> order;
  for (size_t p = 0; p < data.Count(); ++p) order.push_back({RandomNext(), static_cast<int>(p)});
  std::stable_sort(order.begin(), order.end(),
                   [](auto const& a, auto const& b) { return a.first < b.first; });
  std::vector<int> positions;
  for (size_t k = 0; k < order.size(); ++k) {
    bool seen = false;
    for (size_t e = 0; e < k && !seen; ++e) {
      bool same = true;
      for (int j = 0; j < data.Dimension(); ++j)
        same = same && data.Vector(order[k].second)[j] == data.Vector(order[e].second)[j];
      seen = same;
    }
    if (seen) continue;
    positions.push_back(order[k].second);
    if (static_cast<int>(positions.size()) == count) break;
  }
  return positions;
}

}  // namespace

TEST(DataStatisticsTest, MeanAndCovarianceDivideByN) {
  DataStorage storage = StorageOf(2, 2, {1, 2, 3, 6});
  Data data = AllRows(storage);
  Matrix mean = DataMean(data);
  EXPECT_EQ(Elements(mean), (std::vector<double>{2, 4}));
  Matrix covariance = DataCovariance(data, mean);
  EXPECT_EQ(covariance.rows, 2);
  EXPECT_EQ(Elements(covariance), (std::vector<double>{1, 2, 2, 4}));
  EXPECT_EQ(Elements(DataVariances(data, mean)), (std::vector<double>{1, 4}));
}

// 0.3 * (1 / 3) and 0.3 / 3 differ in the last bit.
TEST(DataStatisticsTest, MeanMultipliesByTheReciprocal) {
  DataStorage storage = StorageOf(3, 1, {0.1, 0.1, 0.1});
  double sum = 0.1 + 0.1 + 0.1;
  ASSERT_NE(sum * (1.0 / 3.0), sum / 3.0);
  EXPECT_EQ(DataMean(AllRows(storage)).data[0], sum * (1.0 / 3.0));
}

TEST(DataStatisticsTest, FollowTheViewNotTheStorage) {
  DataStorage storage = StorageOf(4, 1, {100, 1, 3, 1000});
  Data data(storage);
  data.Map(1, 3);
  data.Map(2, 2);
  Matrix mean = DataMean(data);
  EXPECT_EQ(mean.data[0], (1.0 + 3.0 + 3.0) * (1.0 / 3.0));
}

TEST(DataStatisticsTest, SingleVectorHasZeroCovariance) {
  DataStorage storage = StorageOf(1, 3, {1.5, -2, 7});
  Data data = AllRows(storage);
  Matrix covariance = DataCovariance(data, DataMean(data));
  EXPECT_EQ(Elements(covariance), std::vector<double>(9, 0.0));
}

TEST(DataStatisticsTest, EmptyDataGivesNaN) {
  DataStorage storage = StorageOf(0, 2, {});
  Data data(storage);
  Matrix mean = DataMean(data);
  EXPECT_EQ(mean.columns, 2);
  EXPECT_EQ(mean.NotFinite(), 2);
  EXPECT_EQ(DataCovariance(data, mean).NotFinite(), 4);
  EXPECT_EQ(DataVariances(data, mean).NotFinite(), 2);
}

// The summed triangle mirrored and the variances computed alone must give
// the very bits of the plain scatter-matrix sum.
TEST(DataStatisticsTest, CovarianceAndVariancesMatchTheScatterSumBitForBit) {
  RandomSeed(7);
  DataStorage storage;
  storage.Resize(500, 6, false);
  storage.Randomize();
  for (int k = 0; k < storage.ElementCount(); k += 5) storage.data[k] *= 1e6;
  Data data = AllRows(storage);
  Matrix mean = DataMean(data);
  Matrix covariance = DataCovariance(data, mean);
  EXPECT_TRUE(SameBits(covariance, ScatterCovariance(data, mean)));
  Matrix diagonal;
  covariance.Diagonal(diagonal);
  EXPECT_TRUE(SameBits(DataVariances(data, mean), diagonal));
}

TEST(DataStatisticsTest, VariancesOfHighDimensionalData) {
  DataStorage storage = StorageOf(2, 100000, {});
  for (int j = 0; j < 100000; ++j) {
    storage(0, j) = j;
    storage(1, j) = j + 2.0;
  }
  Data data = AllRows(storage);
  Matrix variances = DataVariances(data, DataMean(data));
  EXPECT_EQ(variances.columns, 100000);
  EXPECT_EQ(variances.data[99999], 1.0);
}

TEST(DataCorrelationTest, UnitDiagonalAndScaledOffDiagonal) {
  Matrix covariance(2, 2);
  covariance(0, 0) = 4;
  covariance(0, 1) = 2;
  covariance(1, 0) = 2;
  covariance(1, 1) = 9;
  Matrix correlation = DataCorrelation(covariance);
  EXPECT_EQ(Elements(correlation), (std::vector<double>{1, 1.0 / 3.0, 1.0 / 3.0, 1}));
  EXPECT_EQ(DataCorrelation(Matrix(0, 0)).ElementCount(), 0);
}

TEST(SelectUniquePointsTest, DuplicatesAreChosenOnce) {
  DataStorage storage = StorageOf(3, 2, {1, 1, 1, 1, 2, 2});
  Data data = AllRows(storage);
  std::vector<int> positions;
  EXPECT_TRUE(SelectUniquePoints(data, 2, positions));
  ASSERT_EQ(positions.size(), 2u);
  EXPECT_EQ(std::count(positions.begin(), positions.end(), 2), 1);
  EXPECT_TRUE(positions[0] + positions[1] == 2 || positions[0] + positions[1] == 3);

  EXPECT_FALSE(SelectUniquePoints(data, 3, positions));
  EXPECT_EQ(positions.size(), 2u);
  EXPECT_FALSE(SelectUniquePoints(data, 0, positions));
  EXPECT_EQ(positions.size(), 2u);
}

TEST(SelectUniquePointsTest, NaNVectorsAreAlwaysDistinctAndZeroSignsAreNot) {
  double nan = std::numeric_limits<double>::quiet_NaN();
  DataStorage storage = StorageOf(4, 2, {nan, 1, nan, 1, 0.0, 1, -0.0, 1});
  Data data = AllRows(storage);
  std::vector<int> positions;
  EXPECT_FALSE(SelectUniquePoints(data, 4, positions));
  EXPECT_EQ(positions.size(), 3u);
  EXPECT_NE(std::find(positions.begin(), positions.end(), 0), positions.end());
  EXPECT_NE(std::find(positions.begin(), positions.end(), 1), positions.end());
}

TEST(SelectUniquePointsTest, EmptyDataAndVectorsWithoutComponents) {
  DataStorage empty = StorageOf(0, 2, {});
  std::vector<int> positions{7};
  EXPECT_FALSE(SelectUniquePoints(Data(empty), 1, positions));
  EXPECT_TRUE(positions.empty());

  DataStorage no_components = StorageOf(3, 0, {});
  EXPECT_FALSE(SelectUniquePoints(AllRows(no_components), 2, positions));
  EXPECT_EQ(positions.size(), 1u);
}

// One draw per vector, whatever the count, so the draws after it are the
// same; the same seed gives the same positions.
TEST(SelectUniquePointsTest, FixedSeedGivesTheSamePositions) {
  DataStorage storage = RepetitiveData(300, 3, 1);
  Data data = AllRows(storage);
  std::vector<int> first, second;
  RandomSeed(99);
  ASSERT_TRUE(SelectUniquePoints(data, 5, first));
  int next = RandomNext();
  RandomSeed(99);
  ASSERT_TRUE(SelectUniquePoints(data, 5, second));
  EXPECT_EQ(first, second);
  EXPECT_EQ(RandomNext(), next);
  RandomSeed(99);
  for (int k = 0; k < 300; ++k) RandomNext();
  EXPECT_EQ(RandomNext(), next);
}

// Equal keys are common (2000 draws of 32768 values): ties go by position.
// Comparing only with the chosen vectors must decide as comparing with all
// earlier candidates, with repeats, NaN and signed zeros in the data.
TEST(SelectUniquePointsTest, AgreesWithTheFullComparison) {
  for (int dimension : {1, 2, 3}) {
    DataStorage storage = RepetitiveData(2000, dimension, 5 + dimension);
    Data data = AllRows(storage);
    for (int count : {1, 3, 10, 100000}) {
      RandomSeed(1234);
      std::vector<int> expected = UniquePointsByAllEarlier(data, count);
      RandomSeed(1234);
      std::vector<int> positions;
      bool found = SelectUniquePoints(data, count, positions);
      EXPECT_EQ(positions, expected) << dimension << " " << count;
      EXPECT_EQ(found, static_cast<int>(expected.size()) == count);
    }
  }
  DataStorage distinct;
  distinct.Resize(2000, 1, false);
  for (int k = 0; k < 2000; ++k) distinct.data[k] = k;
  Data data = AllRows(distinct);
  RandomSeed(42);
  std::vector<int> expected = UniquePointsByAllEarlier(data, 2000);
  RandomSeed(42);
  std::vector<int> positions;
  EXPECT_TRUE(SelectUniquePoints(data, 2000, positions));
  EXPECT_EQ(positions, expected);
}
