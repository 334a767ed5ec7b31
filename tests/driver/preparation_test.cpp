#include "driver/preparation.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

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

}  // namespace
