#include "training/em.h"

#include <sstream>

#include "support/values.h"

namespace {

MixtureCovarianceMatrixType const D = MM_COV_DIAGONAL, F = MM_COV_FULL;

// An unusable covariance (zero or negative variance, not positive definite)
// gets normaliser 0 and a neutral inverse factor, so its density is 0.
TEST(DeterminantInverseCacheTest, NormalisersAndInverseFactorsOrNeutralValues) {
  MixtureModel model;
  std::vector<std::vector<double>> const covariances = {{4, 1}, {4, 0, 0, 1}, {2, 0}, {1, 2, 2, 1}, {-1, 2}};
  for (auto const& covariance : covariances) AddComponent(model, covariance.size() == 2 ? D : F, 1, {0, 0}, covariance);
  DeterminantInverseCache cache;
  SetupDeterminantAndInverseMatrices(cache, model);
  std::vector<std::vector<double>> const inverses = {{0.25, 1}, {0.5, 0, 0, 1}, {1, 1}, {1, 0, 0, 1}, {1, 1}};
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(cache[k].first, k < 2 ? 12.566370614359172 : 0.0) << k;  // sqrt(4 * 1) * 2 pi
    EXPECT_EQ(Elements(cache[k].second), inverses[k]) << k;
  }
}

// Unexplained vectors count as the smallest normal double, as does every
// vector of a model without components; such a vector is shared equally in
// a step. A component whose covariance is unusable receives no vector.
TEST(EMStepTest, UnexplainedVectorsAndUnusableCovariances) {
  DataSet far(1, {0.0, 1000.0});
  MixtureModel model = OneDimensional({0.0, 1.0}, {1.0, 1.0}), updated(model);
  double const f0 = 0.5 / std::sqrt(6.283185307179586), f1 = f0 * std::exp(-0.5), r0 = f0 / (f0 + f1);
  EXPECT_NEAR(emMonolithicEMStep(model, far.data, updated, true), 0.5 * (std::log(f0 + f1) + kLogTiny), 1e-13);
  EXPECT_NEAR(updated.components[0]->weight, (r0 + 0.5) / 2, 1e-15);
  EXPECT_NEAR(updated.components[1]->weight, (1 - r0 + 0.5) / 2, 1e-15);
  EXPECT_NEAR(updated.components[0]->mean.data[0], 500.0 / (r0 + 0.5), 1e-10);
  EXPECT_DOUBLE_EQ(emLogLikelihood(far.data, model), 0.5 * (std::log(f0 + f1) + kLogTiny));
  EXPECT_EQ(emLogLikelihood(far.data, MixtureModel()), kLogTiny);

  DataSet near(1, {0.0, 1.0, 2.0});
  model = OneDimensional({1.0, 1.0}, {1.0, 0.0});
  emMonolithicEMStep(model, near.data, updated, true);
  EXPECT_EQ(updated.components[1]->weight, kTiny / 3.0);
  EXPECT_EQ(updated.components[1]->mean.data[0], 0.0);
  EXPECT_EQ(updated.components[1]->covariance.data[0], 0.0);
  EXPECT_NEAR(updated.components[0]->weight, 1.0, 1e-15);
}

// On every shape, mixed models among them, a step returns the log
// likelihood of the model it starts from and makes a model with weights
// summing to one, exactly symmetric covariances and a higher likelihood.
// One component gets the mean and the covariance of the data (over N).
TEST(EMStepTest, StepsEvaluateTheirStartAndGainLikelihood) {
  struct Shape { int d, K; std::vector<MixtureCovarianceMatrixType> types; } shapes[] = {
      {2, 1, {D}}, {2, 1, {F}}, {1, 3, {D}}, {5, 3, {D}}, {5, 4, {F}}, {8, 3, {F}}, {3, 5, {F, D}}};
  for (Shape const& shape : shapes) {
    SCOPED_TRACE(testing::Message() << "d " << shape.d << ", K " << shape.K);
    DataSet set(shape.d, ClusteredValues(300, shape.d, 3, 100 * shape.d + shape.K));
    MixtureModel model = StartingModel(set.data, shape.K, 0.4, shape.types), updated(model);
    double const L = emLogLikelihood(set.data, model);
    EXPECT_EQ(emMonolithicEMStep(model, set.data, updated, shape.types == std::vector{D}), L);
    double weights = 0;
    for (int k = 0; k < shape.K; ++k) {
      Matrix const& c = updated.components[k]->covariance;
      weights += updated.components[k]->weight;
      for (int i = 0; i < c.rows; ++i)
        for (int j = 0; j < i; ++j) EXPECT_EQ(c(i, j), c(j, i));
    }
    EXPECT_NEAR(weights, 1.0, 1e-12);
    EXPECT_GT(emLogLikelihood(set.data, updated), L);
    if (shape.K > 1) continue;
    Matrix const mean = DataMean(set.data);
    Matrix const sigma = shape.types[0] == D ? DataVariances(set.data, mean) : DataCovariance(set.data, mean);
    for (int j = 0; j < shape.d; ++j) EXPECT_NEAR(updated.components[0]->mean.data[j], mean.data[j], 1e-12);
    for (int i = 0; i < sigma.ElementCount(); ++i) EXPECT_NEAR(updated.components[0]->covariance.data[i], sigma.data[i], 1e-12);
  }
}

// Both loops trace one value per step, never decreasing, and return the model
// of the last value and that value; a run repeats exactly.
TEST(EMLoopTest, TraceRisesAndTheResultIsTheLastTracedModel) {
  DataSet set(2, ClusteredValues(300, 2, 3, 21));
  Matrix const floor = Row({1e-3, 1e-3});
  MixtureModel const start = StartingModel(set.data, 3, 0.3, {D, F});
  for (bool threshold : {false, true}) {
    MixtureModel model(start), again(start);
    testing::internal::CaptureStdout();
    double const L = threshold ? ExpectationMaximization(model, set.data, floor, 1e-4, true)
                               : ExpectationMaximization(model, set.data, floor, 7, true);
    std::istringstream lines(testing::internal::GetCapturedStdout());
    std::vector<double> trace;
    for (double value; lines >> value;) trace.push_back(value);
    EXPECT_FALSE(emNumericalProblems());
    EXPECT_TRUE(threshold ? trace.size() > 2 : trace.size() == 7) << trace.size();
    EXPECT_TRUE(std::is_sorted(trace.begin(), trace.end()));
    EXPECT_EQ(L, emLogLikelihood(set.data, model));
    EXPECT_NEAR(L, trace.back(), 1e-5 * std::fabs(L));
    double const repeated = threshold ? ExpectationMaximization(again, set.data, floor, 1e-4, false)
                                      : ExpectationMaximization(again, set.data, floor, 7, false);
    EXPECT_TRUE(SameBits(L, repeated) && SameBits(again, model));
  }
}

// A decrease or a value that is not finite ends the loop with the model
// before it and raises the flag, which the next run clears. Zero iterations
// only floor the model and print nothing.
TEST(EMLoopTest, DecreaseOrNonFiniteValueKeepsTheEarlierModelAndRaisesTheFlag) {
  DataSet set(1, {-1.0, 1.0}), near(1, {0.0, 0.1}), far(1, {1e300});
  MixtureModel falling, huge;
  AddComponent(falling, D, 10.0, {0.0}, {1.0});  // weight 10 becomes 1: the value falls
  AddComponent(huge, D, 1e308, {0.0}, {0.01});    // the first value is +infinity
  for (bool threshold : {false, true}) {
    MixtureModel model(falling);
    double const L = threshold ? ExpectationMaximization(model, set.data, Row({0.1}), 0.0, false)
                               : ExpectationMaximization(model, set.data, Row({0.1}), 5, false);
    EXPECT_EQ(L, emLogLikelihood(set.data, falling));
    EXPECT_TRUE(emNumericalProblems());
    EXPECT_TRUE(SameBits(model, falling));
  }
  MixtureModel model = OneDimensional({0.5}, {1e-6});
  testing::internal::CaptureStdout();
  double const L = ExpectationMaximization(model, set.data, Row({0.5}), 0, true);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_FALSE(emNumericalProblems());
  EXPECT_EQ(model.components[0]->covariance.data[0], 0.5);
  EXPECT_EQ(L, emLogLikelihood(set.data, model));
  model = huge;
  EXPECT_EQ(ExpectationMaximization(model, near.data, Row({0.001}), 4, false), kInf);
  EXPECT_TRUE(emNumericalProblems());
  EXPECT_TRUE(SameBits(model, huge));
  // A vector whose square overflows leaves a NaN covariance and nothing
  // explained: the value stays exactly the floor, which is no decrease.
  model = OneDimensional({0.0}, {1.0});
  EXPECT_EQ(ExpectationMaximization(model, far.data, Row({0.1}), 0.0, false), kLogTiny);
  EXPECT_FALSE(emNumericalProblems());
}

// The improvement is relative to the current value unless it exceeds it;
// equal values stop even at threshold 0, and so does 0 / 0.
TEST(EMLoopTest, ImprovementAboveThreshold) {
  struct Case { double previous, current, threshold; bool above; } cases[] = {
      {-2.0, -1.999, 0.001, false}, {-2.0, -1.999, 0.0004, true}, {-0.5, 0.6, 1.0, true},
      {-0.5, 0.6, 1.5, false},      {-1.0, -1.0, 0.0, false},     {0.0, 0.0, 0.0, false},
      {-1.0, -0.999, 0.0, true}};
  for (Case const& c : cases)
    EXPECT_EQ(emImprovementAboveThreshold(c.previous, c.current, c.threshold), c.above) << c.previous << " " << c.current;
}

}  // namespace
