#include "training/em.h"

#include <gtest/gtest.h>

#include <cmath>

#include "training/training_fixtures.h"

using namespace training_test;

namespace {

double const kTwoPiNormaliser = 12.566370614359172;  // sqrt(4) * (2 pi)^1

std::vector<double> Elements(Matrix const& m) {
  return std::vector<double>(m.data, m.data + m.ElementCount());
}

double Normal(double x, double mean, double variance) {
  double e = x - mean;
  return std::exp(-0.5 * e * e / variance) / std::sqrt(6.283185307179586 * variance);
}

}  // namespace

// The cache: normalisers and inverse factors.

TEST(DeterminantInverseCacheTest, DiagonalAndFullComponentsOfTheSameCovariance) {
  MixtureModel model;
  AddComponent(model, MM_COV_DIAGONAL, 1.0, {0, 0}, {4, 1});
  AddComponent(model, MM_COV_FULL, 1.0, {0, 0}, {4, 0, 0, 1});
  DeterminantInverseCache cache;
  SetupDeterminantAndInverseMatrices(cache, model);
  ASSERT_EQ(cache.size(), 2u);
  EXPECT_EQ(cache[0].first, kTwoPiNormaliser);
  EXPECT_EQ(Elements(cache[0].second), (std::vector<double>{0.25, 1}));
  EXPECT_EQ(cache[1].first, kTwoPiNormaliser);
  EXPECT_EQ(cache[1].second.rows, 2);
  EXPECT_EQ(Elements(cache[1].second), (std::vector<double>{0.5, 0, 0, 1}));
}

TEST(DeterminantInverseCacheTest, UnusableCovariancesGetNeutralValuesAndDensityZero) {
  MixtureModel model;
  AddComponent(model, MM_COV_DIAGONAL, 0.25, {0, 0}, {2, 0});        // zero variance
  AddComponent(model, MM_COV_FULL, 0.25, {0, 0}, {1, 2, 2, 1});      // not positive definite
  AddComponent(model, MM_COV_DIAGONAL, 0.25, {0, 0}, {-1, 2});       // negative determinant
  AddComponent(model, MM_COV_DIAGONAL, 0.25, {0, 0}, {4, 1});        // usable
  DeterminantInverseCache cache;
  SetupDeterminantAndInverseMatrices(cache, model);
  EXPECT_EQ(cache[0].first, 0.0);
  EXPECT_EQ(Elements(cache[0].second), (std::vector<double>{1, 1}));
  EXPECT_EQ(cache[1].first, 0.0);
  EXPECT_EQ(Elements(cache[1].second), (std::vector<double>{1, 0, 0, 1}));
  EXPECT_EQ(cache[2].first, 0.0);
  EXPECT_EQ(Elements(cache[2].second), (std::vector<double>{1, 1}));
  EXPECT_EQ(cache[3].first, kTwoPiNormaliser);

  // Only the usable component contributes to the likelihood.
  DataSet set(2, {0, 0, 1, 2});
  MixtureModel usable;
  AddComponent(usable, MM_COV_DIAGONAL, 0.25, {0, 0}, {4, 1});
  EXPECT_EQ(emLogLikelihood(set.data, model), emLogLikelihood(set.data, usable));
}

TEST(DeterminantInverseCacheTest, NeverShrinksAndReusesItsStorage) {
  DeterminantInverseCache cache(5, std::make_pair(7.0, Row({7, 7})));
  double const* storage = cache[0].second.data;
  MixtureModel model;
  for (int k = 0; k < 3; ++k) AddComponent(model, MM_COV_DIAGONAL, 1.0 / 3, {0, 0}, {4, 1});
  SetupDeterminantAndInverseMatrices(cache, model);
  ASSERT_EQ(cache.size(), 5u);
  EXPECT_EQ(cache[2].first, kTwoPiNormaliser);
  for (int k = 3; k < 5; ++k) {
    EXPECT_EQ(cache[k].first, 7.0);
    EXPECT_EQ(Elements(cache[k].second), (std::vector<double>{7, 7}));
  }
  EXPECT_EQ(cache[0].second.data, storage);
}

// The average log likelihood.

TEST(LogLikelihoodTest, VectorAtTheMeanOfAStandardNormal) {
  DataSet set(1, {3.0});
  MixtureModel model;
  AddComponent(model, MM_COV_DIAGONAL, 1.0, {3.0}, {1.0});
  EXPECT_DOUBLE_EQ(emLogLikelihood(set.data, model), -0.9189385332046727);
}

TEST(LogLikelihoodTest, UnexplainedVectorsAreFlooredAtTheSmallestNormalDouble) {
  DataSet set(1, {0.0, 1000.0});
  MixtureModel model;
  AddComponent(model, MM_COV_DIAGONAL, 1.0, {0.0}, {1.0});
  EXPECT_DOUBLE_EQ(emLogLikelihood(set.data, model), 0.5 * (-0.9189385332046727 + kLogTiny));

  MixtureModel empty;
  EXPECT_DOUBLE_EQ(emLogLikelihood(set.data, empty), kLogTiny);
}

TEST(LogLikelihoodTest, BothFormsAgreeAndTheFirstFillsTheCache) {
  DataSet set(2, ClusteredValues(50, 2, 2, 3));
  MixtureModel model = StartingModel(set.data, 3, 0.5, {MM_COV_FULL, MM_COV_DIAGONAL});
  DeterminantInverseCache cache;
  SetupDeterminantAndInverseMatrices(cache, model);
  double withCache = emLogLikelihood(set.data, model, cache);
  EXPECT_EQ(emLogLikelihood(set.data, model), withCache);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(DetInvs[k].first, cache[k].first);
    EXPECT_TRUE(SameBits(DetInvs[k].second, cache[k].second));
  }
}

// One EM step.

TEST(EMStepTest, TwoVectorsBetweenTwoComponents) {
  DataSet set(1, {0.0, 2.0});
  MixtureModel model = OneDimensional({0.0, 2.0}, {1.0, 1.0});
  MixtureModel updated(model);
  emMonolithicEMStep(model, set.data, updated, true);

  MixtureComponent const& first = *updated.components[0];
  EXPECT_NEAR(first.weight, 0.5, 1e-12);
  EXPECT_NEAR(first.mean.data[0], 0.2384, 5e-5);
  EXPECT_NEAR(first.covariance.data[0], 0.4200, 5e-5);
  // Responsibilities 1 / (1 + e^-2) and its complement, exactly:
  double r = 1.0 / (1.0 + std::exp(-2.0));
  EXPECT_NEAR(first.mean.data[0], 2 * (1 - r), 1e-15);
  EXPECT_NEAR(first.covariance.data[0], 4 * (1 - r) - 4 * (1 - r) * (1 - r), 1e-15);
  MixtureComponent const& second = *updated.components[1];
  EXPECT_NEAR(second.mean.data[0], 2 * r, 1e-15);
  EXPECT_NEAR(second.covariance.data[0], first.covariance.data[0], 1e-15);
}

TEST(EMStepTest, OneComponentGivesThePopulationMeanAndCovariance) {
  // Mean (2, 1); population covariance 8/3 2/3 / 2/3 2/3 (divided by N).
  DataSet set(2, {0, 0, 2, 2, 4, 1});
  for (MixtureCovarianceMatrixType type : {MM_COV_DIAGONAL, MM_COV_FULL}) {
    MixtureModel model;
    if (type == MM_COV_DIAGONAL)
      AddComponent(model, type, 1.0, {1, 1}, {1, 1});
    else
      AddComponent(model, type, 1.0, {1, 1}, {1, 0, 0, 1});
    MixtureModel updated(model);
    emMonolithicEMStep(model, set.data, updated, type == MM_COV_DIAGONAL);
    MixtureComponent const& c = *updated.components[0];
    EXPECT_NEAR(c.weight, 1.0, 1e-15);
    EXPECT_NEAR(c.mean.data[0], 2.0, 1e-14);
    EXPECT_NEAR(c.mean.data[1], 1.0, 1e-14);
    std::vector<double> expected = type == MM_COV_DIAGONAL
                                       ? std::vector<double>{8.0 / 3, 2.0 / 3}
                                       : std::vector<double>{8.0 / 3, 2.0 / 3, 2.0 / 3, 2.0 / 3};
    ASSERT_EQ(c.covariance.ElementCount(), static_cast<int>(expected.size()));
    for (size_t i = 0; i < expected.size(); ++i)
      EXPECT_NEAR(c.covariance.data[i], expected[i], 1e-14) << "element " << i;
  }
}

TEST(EMStepTest, VectorThatEveryDensityMissesIsSharedEqually) {
  DataSet set(1, {0.0, 1000.0});
  MixtureModel model = OneDimensional({0.0, 1.0}, {1.0, 1.0});
  MixtureModel updated(model);
  double L = emMonolithicEMStep(model, set.data, updated, true);

  double f0 = 0.5 * Normal(0.0, 0.0, 1.0), f1 = 0.5 * Normal(0.0, 1.0, 1.0);
  EXPECT_NEAR(L, 0.5 * (std::log(f0 + f1) + kLogTiny), 1e-13);
  double r0 = f0 / (f0 + f1);
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

TEST(EMStepTest, ReturnsTheLogLikelihoodOfItsInputAndLeavesItsCacheFilled) {
  DataSet set(3, ClusteredValues(60, 3, 3, 11));
  MixtureModel model = StartingModel(set.data, 3, 0.3, {MM_COV_FULL, MM_COV_DIAGONAL});
  double expected = emLogLikelihood(set.data, model);
  DeterminantInverseCache cache = DetInvs;

  MixtureModel updated(model);
  DetInvs.clear();
  EXPECT_EQ(emMonolithicEMStep(model, set.data, updated, false), expected);
  ASSERT_EQ(DetInvs.size(), 3u);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(DetInvs[k].first, cache[k].first);
    EXPECT_TRUE(SameBits(DetInvs[k].second, cache[k].second));
  }
}

TEST(EMStepTest, RepeatedStepsGiveTheSameBits) {
  DataSet set(4, ClusteredValues(200, 4, 3, 5));
  MixtureModel model = StartingModel(set.data, 3, 0.5, {MM_COV_FULL});
  MixtureModel first(model), second(model);
  double a = emMonolithicEMStep(model, set.data, first, false);
  double b = emMonolithicEMStep(model, set.data, second, false);
  EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
  EXPECT_TRUE(SameBits(first, second));
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

// Squares taken directly or from the diagonal of x x' are the same numbers.
TEST(EMStepTest, DiagonalModelGivesTheSameBitsWithOrWithoutTheDiagonalOnlyFlag) {
  DataSet set(3, ClusteredValues(100, 3, 2, 9));
  MixtureModel model = StartingModel(set.data, 4, 0.5, {MM_COV_DIAGONAL});
  MixtureModel fast(model), general(model);
  emMonolithicEMStep(model, set.data, fast, true);
  emMonolithicEMStep(model, set.data, general, false);
  EXPECT_TRUE(SameBits(fast, general));
}

// The sums are written into the output model's storage: a full covariance of
// the wrong shape stops the program before anything is written.
TEST(EMStepDeathTest, FullCovarianceOfTheWrongShapeIsFatal) {
  DataSet set(2, {0, 0, 1, 1});
  MixtureModel model;
  AddComponent(model, MM_COV_FULL, 1.0, {0, 0}, {1, 0, 0, 1});
  MixtureModel updated(model);
  updated.components[0]->covariance.Resize(1, 2, false);
  EXPECT_DEATH(emMonolithicEMStep(model, set.data, updated, false), "Matrix::operator-=: size mismatch.");
}
