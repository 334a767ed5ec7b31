#include "driver/preparation.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <string>
#include <vector>

namespace {

DataStorage Grid(int n, int d) {
  DataStorage storage;
  storage.Resize(n, d, false);
  for (int k = 0; k < n * d; ++k) storage.data[k] = (k * 7919) % 101;
  return storage;
}

std::string Warning(DataStorage const& storage, int components) {
  Data data(storage);
  if (storage.rows > 0) data.Map(0, storage.rows);
  FILE* report = tmpfile();
  CheckAndWarn(data, components, report);
  std::string text;
  rewind(report);
  for (int c; (c = fgetc(report)) != EOF;) text += static_cast<char>(c);
  fclose(report);
  return text;
}

TEST(CheckAndWarn, SingleRatioThresholds) {
  EXPECT_EQ(Warning(Grid(100, 10), 10).find("\nWarning: probably too few data vectors (100)"), 0u);
  EXPECT_EQ(Warning(Grid(100, 7), 10).find("\nWarning: maybe too few data vectors (100)"), 0u);
  EXPECT_EQ(Warning(Grid(100, 6), 10), "");
  EXPECT_EQ(Warning(Grid(30, 10), 2), "");  // exactly 1.5 times
  EXPECT_EQ(Warning(Grid(29, 10), 2).find("\nWarning: maybe"), 0u);
  // The ratio is a float division: 100 / 3 prints as its float value.
  EXPECT_NE(Warning(Grid(100, 40), 3).find("ratio is 33.333332.\n\n"), std::string::npos);
}

TEST(PrepareStatistics, InitialCovarianceAndFloorScaleTheData) {
  DataStorage storage;
  storage.Resize(2, 2, false);
  double values[] = {1, 2, 3, 6};
  for (int k = 0; k < 4; ++k) storage.data[k] = values[k];
  Data data(storage);
  data.Map(0, 2);

  DataStatistics diagonal = PrepareStatistics(data, false, 4, 0.5, 0);
  ASSERT_EQ(diagonal.initial_covariance.rows, 1);
  EXPECT_EQ(diagonal.initial_covariance(0, 0), 0.25);
  EXPECT_EQ(diagonal.initial_covariance(0, 1), 1.0);
  EXPECT_EQ(diagonal.minimum_variances(0, 0), 0.5);
  EXPECT_EQ(diagonal.minimum_variances(0, 1), 2.0);

  DataStatistics full = PrepareStatistics(data, true, 4, 1.0, 0);
  ASSERT_EQ(full.initial_covariance.rows, 2);
  EXPECT_EQ(full.initial_covariance(0, 1), 0.5);
  EXPECT_EQ(full.initial_covariance(1, 1), 1.0);
  EXPECT_EQ(full.minimum_variances(0, 1), 4.0);
}

TEST(FiniteMoments, ValuesWhoseSquaresOrVariancesOverflowAreRefused) {
  auto finite = [](std::vector<double> const& column) {
    DataStorage storage;
    storage.Resize(static_cast<int>(column.size()), 1, false);
    for (size_t k = 0; k < column.size(); ++k) storage.data[k] = column[k];
    Data data(storage);
    data.Map(0, static_cast<uint32_t>(column.size()));
    return FiniteMoments(data, PrepareStatistics(data, false, 1, 1.0, 0));
  };
  EXPECT_TRUE(finite({1e150, -1e150, 3}));
  EXPECT_TRUE(finite({4.9e-324, -0.0}));
  EXPECT_FALSE(finite({1e160, 1e160}));           // no variance, but squares overflow
  EXPECT_FALSE(finite({1e308, -1e308}));          // the variance overflows
  EXPECT_FALSE(finite({1.7e308, 1.7e308, 0.0}));  // the sum, and so the mean, overflows
}

TEST(FullCovariancesFit, UpToTheLargestSquareMatrix) {
  EXPECT_TRUE(FullCovariancesFit(46340));
  EXPECT_FALSE(FullCovariancesFit(46341));
  EXPECT_FALSE(FullCovariancesFit(100000));
}

TEST(UsableSolution, ShapesMustFitTheDataAndWeightsMakeAMixture) {
  MixtureModel model;
  model.Add(*new MixtureComponent(MM_COV_FULL, 2, true));
  model.Add(*new MixtureComponent(MM_COV_DIAGONAL, 2, true));
  EXPECT_TRUE(UsableSolution(model, 2));
  EXPECT_FALSE(UsableSolution(model, 3));

  model.components[1]->weight = std::numeric_limits<double>::quiet_NaN();
  EXPECT_TRUE(UsableSolution(model, 2));  // normalising gives equal weights
  model.components[1]->weight = -0.5;
  EXPECT_FALSE(UsableSolution(model, 2));
  model.components[1]->weight = std::numeric_limits<double>::infinity();
  EXPECT_FALSE(UsableSolution(model, 2));

  model.components[1]->weight = 1.0;
  model.components[1]->covariance.Resize(2, 2, false);  // a full shape for a diagonal type
  EXPECT_FALSE(UsableSolution(model, 2));
}

}  // namespace
