#include "driver/preparation.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

// n vectors of dimension d, mapped whole.
struct Grid {
  Grid(int n, int d, const double* values = nullptr) {
    storage.Resize(n, d, false);
    for (int k = 0; k < n * d; ++k) storage.data[k] = values ? values[k] : (k * 7919) % 101;
    data.Map(0, n);
  }
  Grid(const Grid&) = delete;  // data points at storage
  DataStorage storage;
  Data data{storage};
};

std::string Warning(int n, int d, int components) {
  FILE* report = tmpfile();
  CheckAndWarn(Grid(n, d).data, components, report);
  std::string text(ftell(report), '\0');
  rewind(report);
  text.resize(fread(&text[0], 1, text.size(), report));
  fclose(report);
  return text;
}

TEST(CheckAndWarn, VectorsPerComponentAgainstTheDimension) {
  EXPECT_EQ(Warning(100, 10, 10),
            "\nWarning: probably too few data vectors (100) or too many components (10)\n"
            "  for data of dimensionality 10.\n  Data / components ratio is 10.000000.\n\n");
  EXPECT_EQ(Warning(100, 7, 10),
            "\nWarning: maybe too few data vectors (100) or too many components (10)\n"
            "  for data of dimensionality 7.\n  Data / components ratio is 10.000000.\n\n");
  EXPECT_EQ(Warning(100, 6, 10), "");
  EXPECT_EQ(Warning(30, 10, 2), "");  // exactly 1.5 times
  EXPECT_EQ(Warning(29, 10, 2).find("\nWarning: maybe"), 0u);
  // The ratio is a float division: 100 / 3 prints as its float value.
  EXPECT_NE(Warning(100, 40, 3).find("ratio is 33.333332.\n\n"), std::string::npos);
}

TEST(PrepareStatistics, InitialCovarianceAndFloorScaleTheData) {
  const double values[] = {1, 2, 3, 6};  // variances 1 and 4, covariance 2
  Grid grid(2, 2, values);
  DataStatistics diagonal = PrepareStatistics(grid.data, false, 4, 0.5, 0);
  ASSERT_EQ(diagonal.initial_covariance.rows, 1);
  EXPECT_EQ(diagonal.initial_covariance(0, 1), 1.0);
  EXPECT_EQ(diagonal.minimum_variances(0, 1), 2.0);
  DataStatistics full = PrepareStatistics(grid.data, true, 4, 1.0, 0);
  ASSERT_EQ(full.initial_covariance.rows, 2);
  EXPECT_EQ(full.initial_covariance(0, 1), 0.5);
  EXPECT_EQ(full.minimum_variances(0, 1), 4.0);
}

TEST(FullCovariancesFit, UpToTheLargestSquareMatrix) {
  EXPECT_TRUE(FullCovariancesFit(46340));
  EXPECT_FALSE(FullCovariancesFit(46341));
}

}  // namespace
