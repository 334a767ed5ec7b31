#include "training/em.h"

#include <gtest/gtest.h>

#include <cmath>

#include "training/training_fixtures.h"

using namespace training_test;

namespace {

double const kNormaliser = 12.566370614359172;  // sqrt(4 * 1) * (2 pi)^1
double const kLogAtMean = -0.9189385332046727;  // ln of a standard normal density at its mean

std::vector<double> Elements(Matrix const& m) {
  return std::vector<double>(m.data, m.data + m.ElementCount());
}

}  // namespace

TEST(DeterminantInverseCacheTest, NormalisersAndInverseFactorsOrNeutralValues) {
  MixtureModel model;
  AddComponent(model, MM_COV_DIAGONAL, 0.25, {0, 0}, {4, 1});
  AddComponent(model, MM_COV_FULL, 0.25, {0, 0}, {4, 0, 0, 1});
  AddComponent(model, MM_COV_DIAGONAL, 0.25, {0, 0}, {2, 0});    // zero variance
  AddComponent(model, MM_COV_FULL, 0.25, {0, 0}, {1, 2, 2, 1});  // not positive definite
  AddComponent(model, MM_COV_DIAGONAL, 0.25, {0, 0}, {-1, 2});   // negative determinant
  DeterminantInverseCache cache;
  SetupDeterminantAndInverseMatrices(cache, model);
  ASSERT_EQ(cache.size(), 5u);
  std::vector<std::vector<double>> const inverses = {
      {0.25, 1}, {0.5, 0, 0, 1}, {1, 1}, {1, 0, 0, 1}, {1, 1}};
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(cache[k].first, k < 2 ? kNormaliser : 0.0) << k;
    EXPECT_EQ(Elements(cache[k].second), inverses[k]) << k;
  }
}

TEST(LogLikelihoodTest, UnexplainedVectorsAreFlooredAtTheSmallestNormalDouble) {
  DataSet set(1, {0.0, 1000.0});
  MixtureModel model;
  AddComponent(model, MM_COV_DIAGONAL, 1.0, {0.0}, {1.0});
  EXPECT_DOUBLE_EQ(emLogLikelihood(set.data, model), 0.5 * (kLogAtMean + kLogTiny));
  EXPECT_DOUBLE_EQ(emLogLikelihood(set.data, MixtureModel()), kLogTiny);
}

TEST(EMStepTest, TwoVectorsBetweenTwoComponents) {
  DataSet set(1, {0.0, 2.0});
  MixtureModel model = OneDimensional({0.0, 2.0}, {1.0, 1.0});
  MixtureModel updated(model);
  emMonolithicEMStep(model, set.data, updated, true);
  // Responsibilities r = 1 / (1 + e^-2) and 1 - r.
  double const r = 1.0 / (1.0 + std::exp(-2.0));
  MixtureComponent const& first = *updated.components[0];
  MixtureComponent const& second = *updated.components[1];
  EXPECT_NEAR(first.weight, 0.5, 1e-12);
  EXPECT_NEAR(first.mean.data[0], 2 * (1 - r), 1e-15);
  EXPECT_NEAR(first.covariance.data[0], 4 * (1 - r) - 4 * (1 - r) * (1 - r), 1e-15);
  EXPECT_NEAR(second.mean.data[0], 2 * r, 1e-15);
  EXPECT_NEAR(second.covariance.data[0], first.covariance.data[0], 1e-15);
}

TEST(EMStepTest, OneComponentGivesThePopulationMeanAndCovariance) {
  // Mean (2, 1); covariance divided by N: 8/3 2/3 / 2/3 2/3.
  DataSet set(2, {0, 0, 2, 2, 4, 1});
  for (bool diagonal : {true, false}) {
    MixtureModel model;
    if (diagonal) AddComponent(model, MM_COV_DIAGONAL, 1.0, {1, 1}, {1, 1});
    else AddComponent(model, MM_COV_FULL, 1.0, {1, 1}, {1, 0, 0, 1});
    MixtureModel updated(model);
    emMonolithicEMStep(model, set.data, updated, diagonal);
    MixtureComponent const& c = *updated.components[0];
    EXPECT_NEAR(c.weight, 1.0, 1e-15);
    EXPECT_NEAR(c.mean.data[0], 2.0, 1e-14);
    EXPECT_NEAR(c.mean.data[1], 1.0, 1e-14);
    std::vector<double> expected = {8.0 / 3, 2.0 / 3, 2.0 / 3, 2.0 / 3};
    if (diagonal) expected = {8.0 / 3, 2.0 / 3};
    ASSERT_EQ(c.covariance.ElementCount(), static_cast<int>(expected.size()));
    for (size_t i = 0; i < expected.size(); ++i)
      EXPECT_NEAR(c.covariance.data[i], expected[i], 1e-14) << i;
  }
}

TEST(EMStepTest, VectorThatEveryDensityMissesIsSharedEqually) {
  DataSet set(1, {0.0, 1000.0});
  MixtureModel model = OneDimensional({0.0, 1.0}, {1.0, 1.0});
  MixtureModel updated(model);
  double const L = emMonolithicEMStep(model, set.data, updated, true);
  double const f0 = 0.5 / std::sqrt(6.283185307179586), f1 = f0 * std::exp(-0.5);
  double const r0 = f0 / (f0 + f1);
  EXPECT_NEAR(L, 0.5 * (std::log(f0 + f1) + kLogTiny), 1e-13);
  EXPECT_NEAR(updated.components[0]->weight, (r0 + 0.5) / 2, 1e-15);
  EXPECT_NEAR(updated.components[1]->weight, (1 - r0 + 0.5) / 2, 1e-15);
  EXPECT_NEAR(updated.components[0]->mean.data[0], 500.0 / (r0 + 0.5), 1e-10);
}

TEST(EMStepTest, UnusableCovarianceReceivesNoResponsibility) {
  DataSet set(1, {0.0, 1.0, 2.0});
  MixtureModel model = OneDimensional({1.0, 1.0}, {1.0, 0.0});
  MixtureModel updated(model);
  emMonolithicEMStep(model, set.data, updated, true);
  MixtureComponent const& dead = *updated.components[1];
  EXPECT_EQ(dead.weight, kTiny / 3.0);
  EXPECT_EQ(dead.mean.data[0], 0.0);
  EXPECT_EQ(dead.covariance.data[0], 0.0);
  EXPECT_NEAR(updated.components[0]->weight, 1.0, 1e-15);
}

TEST(EMStepTest, FullCovariancesComeOutExactlySymmetric) {
  DataSet set(5, ClusteredValues(100, 5, 2, 8));
  MixtureModel model = StartingModel(set.data, 2, 0.5, {MM_COV_FULL});
  MixtureModel updated(model);
  emMonolithicEMStep(model, set.data, updated, false);
  for (int k = 0; k < 2; ++k) {
    Matrix const& c = updated.components[k]->covariance;
    for (int i = 0; i < 5; ++i)
      for (int j = 0; j < i; ++j) EXPECT_EQ(c(i, j), c(j, i));
  }
}
