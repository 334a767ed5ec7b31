#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "training/em.h"
#include "training/training_fixtures.h"

using namespace training_test;

namespace {

std::string TraceLine(double value) {
  char line[64];
  snprintf(line, sizeof line, "%g\n", value);
  return line;
}

// Makes `updates` EM updates by hand, flooring the variances before the
// first and after each, and returns the trace: the value after each update.
std::string UpdatedByHand(MixtureModel& model, Data const& data, Matrix const& floor,
                          int updates) {
  std::string trace;
  MixtureModel next(model);
  model.LimitVariances(floor);
  for (int i = 0; i < updates; ++i) {
    emMonolithicEMStep(model, data, next, false);
    model = next;
    model.LimitVariances(floor);
    trace += TraceLine(emLogLikelihood(data, model));
  }
  return trace;
}

}  // namespace

TEST(EMIterationsTest, BothModesReturnTheModelOfTheLastTracedPassAndRepeatExactly) {
  DataSet set(2, ClusteredValues(300, 2, 3, 21));
  Matrix const floor = Row({1e-3, 1e-3});
  // In a mixed model the full component needs full second moments.
  for (auto types : {std::vector<MixtureCovarianceMatrixType>{MM_COV_FULL},
                     std::vector<MixtureCovarianceMatrixType>{MM_COV_DIAGONAL, MM_COV_FULL}}) {
    MixtureModel const start = StartingModel(set.data, 3, 0.3, types);
    MixtureModel model(start), byHand(start);
    testing::internal::CaptureStdout();
    double L = ExpectationMaximization(model, set.data, floor, 3, true);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), UpdatedByHand(byHand, set.data, floor, 3));
    EXPECT_TRUE(SameBits(model, byHand));
    EXPECT_EQ(L, emLogLikelihood(set.data, byHand));

    model = byHand = start;
    testing::internal::CaptureStdout();
    L = ExpectationMaximization(model, set.data, floor, 1e-4, true);
    std::string const trace = testing::internal::GetCapturedStdout();
    EXPECT_FALSE(emNumericalProblems());
    int const passes = static_cast<int>(std::count(trace.begin(), trace.end(), '\n'));
    ASSERT_GE(passes, 2);
    EXPECT_EQ(UpdatedByHand(byHand, set.data, floor, passes), trace);
    EXPECT_TRUE(SameBits(model, byHand));
    EXPECT_EQ(L, emLogLikelihood(set.data, byHand));

    MixtureModel again(start);
    double const repeated = ExpectationMaximization(again, set.data, floor, 1e-4, false);
    EXPECT_EQ(std::memcmp(&L, &repeated, sizeof L), 0);
    EXPECT_TRUE(SameBits(again, model));
  }
}

// Each run that raises the flag is followed by one that must clear it.
TEST(EMIterationsTest, DecreaseOrNonFiniteValueKeepsTheEarlierModelAndRaisesTheFlag) {
  // Weight 10 becomes 1 in the first step: the value falls by ln 10.
  DataSet set(1, {-1.0, 1.0});
  MixtureModel start;
  AddComponent(start, MM_COV_DIAGONAL, 10.0, {0.0}, {1.0});
  for (bool threshold : {false, true}) {
    MixtureModel model(start);
    double const L = threshold ? ExpectationMaximization(model, set.data, Row({0.1}), 0.0, false)
                               : ExpectationMaximization(model, set.data, Row({0.1}), 5, false);
    EXPECT_EQ(L, emLogLikelihood(set.data, start));
    EXPECT_TRUE(emNumericalProblems());
    EXPECT_TRUE(SameBits(model, start));
  }
  // Zero iterations only floor the model and print nothing.
  MixtureModel model = OneDimensional({0.5}, {1e-6});
  testing::internal::CaptureStdout();
  double const L = ExpectationMaximization(model, set.data, Row({0.5}), 0, true);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_FALSE(emNumericalProblems());
  EXPECT_EQ(model.components[0]->covariance.data[0], 0.5);
  EXPECT_EQ(L, emLogLikelihood(set.data, model));

  // Weights so large that the first value is +infinity; the next is NaN.
  DataSet near(1, {0.0, 0.1});
  MixtureModel huge;
  AddComponent(huge, MM_COV_DIAGONAL, 1e308, {0.0}, {0.01});
  model = huge;
  double const infinity = std::numeric_limits<double>::infinity();
  EXPECT_EQ(ExpectationMaximization(model, near.data, Row({0.001}), 4, false), infinity);
  EXPECT_TRUE(emNumericalProblems());
  EXPECT_TRUE(SameBits(model, huge));
  // A vector whose square overflows leaves a NaN covariance and nothing
  // explained: the value stays exactly the floor, which is no decrease.
  DataSet far(1, {1e300});
  model = OneDimensional({0.0}, {1.0});
  testing::internal::CaptureStdout();
  EXPECT_EQ(ExpectationMaximization(model, far.data, Row({0.1}), 0.0, true), kLogTiny);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), TraceLine(kLogTiny));
  EXPECT_FALSE(emNumericalProblems());
}

TEST(EMThresholdTest, ImprovementIsRelativeToTheCurrentValueUnlessItExceedsIt) {
  // Relative improvement 0.001 / 1.999 = 0.0005.
  EXPECT_FALSE(emImprovementAboveThreshold(-2.0, -1.999, 0.001));
  EXPECT_TRUE(emImprovementAboveThreshold(-2.0, -1.999, 0.0004));
  // The improvement 1.1 exceeds |0.6|: 1.1 itself is compared.
  EXPECT_TRUE(emImprovementAboveThreshold(-0.5, 0.6, 1.0));
  EXPECT_FALSE(emImprovementAboveThreshold(-0.5, 0.6, 1.5));
  // Equal values stop even at threshold 0, and so does 0 / 0.
  EXPECT_FALSE(emImprovementAboveThreshold(-1.0, -1.0, 0.0));
  EXPECT_FALSE(emImprovementAboveThreshold(0.0, 0.0, 0.0));
  EXPECT_TRUE(emImprovementAboveThreshold(-1.0, -0.999, 0.0));
}
