#include "driver/preparation.h"

#include <climits>

#include "support/files.h"

namespace {

// The warning for n vectors of dimension d and the given component count.
std::string Warning(int n, int d, int components) {
  DataSet set(d, std::vector<double>(n * d, 1.0));
  TextStream report;
  CheckAndWarn(set.data, components, report.file);
  return report.Text();
}

// Vectors per component at most the dimension: probably too few; below 1.5
// times: maybe. The ratio is a float division: 100 / 3 prints as its float.
TEST(PreparationTest, CheckAndWarnComparesVectorsPerComponentWithTheDimension) {
  EXPECT_EQ(Warning(100, 10, 10),
            "\nWarning: probably too few data vectors (100) or too many components (10)\n"
            "  for data of dimensionality 10.\n  Data / components ratio is 10.000000.\n\n");
  EXPECT_EQ(Warning(100, 7, 10).find("\nWarning: maybe too few"), 0u);
  EXPECT_EQ(Warning(100, 6, 10), "");
  EXPECT_EQ(Warning(30, 10, 2), "");  // exactly 1.5 times
  EXPECT_EQ(Warning(29, 10, 2).find("\nWarning: maybe"), 0u);
  EXPECT_NE(Warning(100, 40, 3).find("ratio is 33.333332.\n\n"), std::string::npos);
}

// The initial covariance is the data's divided by the count, the floor the
// variances times the relative floor.
TEST(PreparationTest, InitialCovarianceAndFloorScaleTheData) {
  DataSet set(2, {1, 2, 3, 6});  // variances 1 and 4, covariance 2
  DataStatistics diagonal = PrepareStatistics(set.data, false, 4, 0.5, 0);
  EXPECT_EQ(Elements(diagonal.initial_covariance), (std::vector<double>{0.25, 1}));
  EXPECT_EQ(Elements(diagonal.minimum_variances), (std::vector<double>{0.5, 2}));
  DataStatistics full = PrepareStatistics(set.data, true, 4, 1.0, 0);
  EXPECT_EQ(Elements(full.initial_covariance), (std::vector<double>{0.25, 0.5, 0.5, 1}));
  EXPECT_EQ(Elements(full.minimum_variances), (std::vector<double>{1, 4}));
  EXPECT_EQ(Elements(full.variances), (std::vector<double>{1, 4}));
}

// The first column whose values are all equal or whose variance is not
// positive (underflow), or -1.
TEST(PreparationTest, ColumnWithoutVariance) {
  struct Case {
    std::vector<double> values;
    int column;
  } cases[] = {
      {{1, 5, 2, 5, 3, 5}, 1}, {{1, 1e-200, 2, 2e-200}, 1}, {{7, 1, 7, 1}, 0}, {{1, 2, 3, 4}, -1}};
  for (Case const& c : cases) {
    DataSet set(2, c.values);
    EXPECT_EQ(ColumnWithoutVariance(set.data, PrepareStatistics(set.data, false, 1, 0.5, 0)),
              c.column);
  }
}

// Full covariances need d * d elements within an int.
TEST(PreparationTest, FullCovariancesFitTheLargestSquareMatrix) {
  for (int d : {1, 46340, 46341, 100000})
    EXPECT_EQ(FullCovariancesFit(d), static_cast<long long>(d) * d <= INT_MAX) << d;
}

}  // namespace
