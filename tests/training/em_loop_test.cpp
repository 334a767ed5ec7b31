#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "training/em.h"
#include "training/training_fixtures.h"

using namespace training_test;

namespace {

// Runs `updates` EM steps by hand, each after the variance floor, floors the
// result and returns its average log likelihood.
double UpdatedByHand(MixtureModel& model, Data const& data, Matrix const& floor, int updates,
                     bool diagonalOnly) {
  MixtureModel next(model);
  for (int i = 0; i < updates; ++i) {
    model.LimitVariances(floor);
    emMonolithicEMStep(model, data, next, diagonalOnly);
    model = next;
  }
  model.LimitVariances(floor);
  return emLogLikelihood(data, model);
}

std::string TraceLine(double value) {
  char line[64];
  snprintf(line, sizeof line, "%g\n", value);
  return line;
}

int LineCount(std::string const& text) {
  int lines = 0;
  for (char c : text) lines += c == '\n';
  return lines;
}

std::string LastLine(std::string const& text) {
  size_t end = text.size() - 1;
  size_t start = text.rfind('\n', end - 1);
  return text.substr(start == std::string::npos ? 0 : start + 1);
}

// One diagonal component whose weight is 10: the first step reaches weight 1,
// so the second value is ln 10 lower than the first.
void TenfoldWeight(MixtureModel& model) {
  AddComponent(model, MM_COV_DIAGONAL, 10.0, {0.0}, {1.0});
}

struct Clusters {
  DataSet set{2, ClusteredValues(300, 2, 3, 21)};
  Matrix floor = Row({1e-3, 1e-3});
};

}  // namespace

TEST(EMIterationsTest, ZeroIterationsOnlyFloorTheModel) {
  DataSet set(1, {0.0, 1.0, 3.0});
  MixtureModel failing;
  TenfoldWeight(failing);
  ExpectationMaximization(failing, set.data, Row({0.1}), 2, false);
  ASSERT_TRUE(emNumericalProblems());

  MixtureModel model;
  AddComponent(model, MM_COV_DIAGONAL, 1.0, {0.5}, {1e-6});
  testing::internal::CaptureStdout();
  double L = ExpectationMaximization(model, set.data, Row({0.5}), 0, true);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_FALSE(emNumericalProblems());
  EXPECT_EQ(model.components[0]->covariance.data[0], 0.5);
  EXPECT_EQ(model.components[0]->mean.data[0], 0.5);
  EXPECT_EQ(model.components[0]->weight, 1.0);
  EXPECT_EQ(L, emLogLikelihood(set.data, model));
}

TEST(EMIterationsTest, MakesExactlyTheGivenNumberOfUpdatesAndTracesEachPass) {
  Clusters c;
  MixtureModel start = StartingModel(c.set.data, 3, 0.3, {MM_COV_FULL});
  MixtureModel model(start);
  testing::internal::CaptureStdout();
  double L = ExpectationMaximization(model, c.set.data, c.floor, 3, true);
  std::string trace = testing::internal::GetCapturedStdout();
  EXPECT_FALSE(emNumericalProblems());

  std::string expectedTrace;
  for (int updates = 1; updates <= 3; ++updates) {
    MixtureModel byHand(start);
    double value = UpdatedByHand(byHand, c.set.data, c.floor, updates, false);
    expectedTrace += TraceLine(value);
    if (updates == 3) {
      EXPECT_TRUE(SameBits(model, byHand));
      EXPECT_EQ(L, value);
    }
  }
  EXPECT_EQ(trace, expectedTrace);
}

TEST(EMIterationsTest, RepeatedRunsGiveTheSameBits) {
  Clusters c;
  MixtureModel start = StartingModel(c.set.data, 4, 0.3, {MM_COV_DIAGONAL});
  MixtureModel a(start), b(start);
  double La = ExpectationMaximization(a, c.set.data, c.floor, 5, false);
  double Lb = ExpectationMaximization(b, c.set.data, c.floor, 5, false);
  EXPECT_EQ(std::memcmp(&La, &Lb, sizeof La), 0);
  EXPECT_TRUE(SameBits(a, b));

  MixtureModel x(start), y(start);
  ExpectationMaximization(x, c.set.data, c.floor, 1e-6, false);
  ExpectationMaximization(y, c.set.data, c.floor, 1e-6, false);
  EXPECT_TRUE(SameBits(x, y));
}

// A mixed model must be trained with full second moments: the diagonal-only
// flag would drop the full component's cross terms.
TEST(EMIterationsTest, ModelWithAFullComponentIsNotTrainedAsDiagonalOnly) {
  Clusters c;
  MixtureModel start = StartingModel(c.set.data, 2, 0.3, {MM_COV_DIAGONAL, MM_COV_FULL});
  MixtureModel model(start), byHand(start);
  ExpectationMaximization(model, c.set.data, c.floor, 2, false);
  UpdatedByHand(byHand, c.set.data, c.floor, 2, false);
  EXPECT_TRUE(SameBits(model, byHand));
}

TEST(EMIterationsTest, DecreaseKeepsTheEarlierModelAndRaisesTheFlag) {
  DataSet set(1, {-1.0, 1.0});
  MixtureModel start;
  TenfoldWeight(start);
  double first = emLogLikelihood(set.data, start);

  MixtureModel model(start);
  EXPECT_EQ(ExpectationMaximization(model, set.data, Row({0.1}), 5, false), first);
  EXPECT_TRUE(emNumericalProblems());
  EXPECT_TRUE(SameBits(model, start));

  MixtureModel again(start);
  EXPECT_EQ(ExpectationMaximization(again, set.data, Row({0.1}), 0.0, false), first);
  EXPECT_TRUE(emNumericalProblems());
  EXPECT_TRUE(SameBits(again, start));
}

// Weights so large that the density sum overflows: the first value is
// +infinity and the step from it yields NaN weights, whose value is NaN.
TEST(EMIterationsTest, NonFiniteValueKeepsTheEarlierModelAndRaisesTheFlag) {
  DataSet set(1, {0.0, 0.1});
  MixtureModel start;
  AddComponent(start, MM_COV_DIAGONAL, 1e308, {0.0}, {0.01});
  MixtureModel model(start);
  testing::internal::CaptureStdout();
  double L = ExpectationMaximization(model, set.data, Row({0.001}), 4, true);
  std::string trace = testing::internal::GetCapturedStdout();
  EXPECT_EQ(LineCount(trace), 1);
  EXPECT_NE(trace.find("nan"), std::string::npos);
  EXPECT_EQ(L, std::numeric_limits<double>::infinity());
  EXPECT_TRUE(emNumericalProblems());
  EXPECT_TRUE(SameBits(model, start));
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

TEST(EMThresholdTest, ReturnsTheModelEvaluatedInTheLastPass) {
  Clusters c;
  MixtureModel start = StartingModel(c.set.data, 3, 0.3, {MM_COV_FULL});
  MixtureModel model(start);
  testing::internal::CaptureStdout();
  double L = ExpectationMaximization(model, c.set.data, c.floor, 1e-4, true);
  std::string trace = testing::internal::GetCapturedStdout();
  ASSERT_FALSE(emNumericalProblems());
  ASSERT_GE(LineCount(trace), 2);
  EXPECT_EQ(LastLine(trace), TraceLine(L));

  MixtureModel byHand(start);
  double value = UpdatedByHand(byHand, c.set.data, c.floor, LineCount(trace), false);
  EXPECT_EQ(L, value);
  EXPECT_TRUE(SameBits(model, byHand));
}

// A vector so large that its square overflows leaves a NaN covariance and
// no component explaining anything: the value stays exactly the floor.
TEST(EMThresholdTest, EqualValuesStopWithoutTheFlag) {
  DataSet set(1, {1e300});
  MixtureModel model;
  AddComponent(model, MM_COV_DIAGONAL, 1.0, {0.0}, {1.0});
  testing::internal::CaptureStdout();
  double L = ExpectationMaximization(model, set.data, Row({0.1}), 0.0, true);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), TraceLine(kLogTiny));
  EXPECT_EQ(L, kLogTiny);
  EXPECT_FALSE(emNumericalProblems());
}
