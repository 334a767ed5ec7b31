#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

#include "mixture/helpers.h"
#include "mixture/mixmodel.h"

namespace {

MixtureComponent OneDimensional(MixtureCovarianceMatrixType type, double weight, double mean,
                                double variance) {
  MixtureComponent c(type, 1, false);
  c.weight = weight;
  c.mean.data[0] = mean;
  c.covariance.data[0] = variance;
  return c;
}

}  // namespace

// ---------------------------------------------------------------------------
// Squared Mahalanobis distances

TEST(MahalanobisTest, DiagonalWeighsSquaredDifferencesByInverseVariances) {
  double const x[] = {1, 2};
  double const m[] = {0, 0};
  EXPECT_EQ(MahalanobisDiag2(x, m, FromValues(1, 2, {1, 0.25})), 2.0);
}

TEST(MahalanobisTest, CholeskyFormAgreesWithDiagonalAndReadsOnlyTheLowerTriangle) {
  double const x[] = {2, 1};
  double const m[] = {0, 0};
  Matrix b = FromValues(2, 2, {0.5, 0, 0, 2});  // inverse factor of diag(4, 0.25)
  EXPECT_EQ(MahalanobisChol2(x, m, b), 5.0);
  EXPECT_EQ(MahalanobisDiag2(x, m, FromValues(1, 2, {0.25, 4})), 5.0);
  b(0, 1) = 100;
  EXPECT_EQ(MahalanobisChol2(x, m, b), 5.0);
  EXPECT_EQ(MahalanobisChol(x, m, b), std::sqrt(5.0));
}

TEST(MahalanobisTest, CholeskyFormOfAFactoredCovarianceMatchesTheFullInverse) {
  // Covariance 4 2 / 2 10, inverse 1/36 * (10 -2 / -2 4).
  Matrix factor = FromValues(2, 2, {4, 2, 2, 10});
  ASSERT_TRUE(factor.CholeskyDecomposition(nullptr));
  ASSERT_TRUE(factor.InvertLowerTriangular());
  Matrix inverse = FromValues(2, 2, {10.0 / 36, -2.0 / 36, -2.0 / 36, 4.0 / 36});
  double const x[] = {1.5, -2};
  double const m[] = {0.5, 1};
  // e = (1, -3): (10 + 12 + 36) / 36
  EXPECT_NEAR(MahalanobisChol2(x, m, factor), 58.0 / 36, 1e-15);
  EXPECT_NEAR(MahalanobisFull2(x, m, inverse), 58.0 / 36, 1e-15);
}

TEST(MahalanobisTest, ShapeChoosesBetweenVariancesAndFullInverse) {
  Matrix full = FromValues(2, 2, {2, 1, 1, 2});
  double const y[] = {1, 1};
  double const zero[] = {0, 0};
  EXPECT_EQ(Mahalanobis2(y, full), 6.0);
  EXPECT_EQ(Mahalanobis(y, full), std::sqrt(6.0));
  EXPECT_EQ(Mahalanobis2(y, zero, full), 6.0);
  EXPECT_EQ(MahalanobisFull2(y, zero, full), 6.0);
  EXPECT_EQ(Mahalanobis(y, zero, full), std::sqrt(6.0));

  Matrix row = FromValues(1, 2, {2, 3});
  EXPECT_EQ(Mahalanobis2(y, row), 5.0);
  EXPECT_EQ(Mahalanobis2(y, zero, row), 5.0);

  // Only the part of a vector that the matrix describes is read.
  double const x[] = {3, 1, 1};
  double const m[] = {1, 0, 0};
  EXPECT_EQ(Mahalanobis2(x, m, FromValues(1, 1, {0.5})), 2.0);
}

TEST(MahalanobisTest, EmptyMatricesGiveZero) {
  double const x[] = {1};
  double const m[] = {0};
  Matrix none;
  EXPECT_EQ(MahalanobisDiag2(x, m, none), 0.0);
  EXPECT_EQ(MahalanobisChol2(x, m, none), 0.0);
  EXPECT_EQ(MahalanobisFull2(x, m, none), 0.0);
  EXPECT_EQ(Mahalanobis2(x, m, none), 0.0);
  EXPECT_EQ(Mahalanobis2(x, none), 0.0);
  EXPECT_EQ(MahalanobisDiag2(x, m, Matrix(1, 0)), 0.0);
}

TEST(MahalanobisTest, NegativeSquaredDistanceGivesNaNRoot) {
  double const y[] = {1};
  EXPECT_TRUE(std::isnan(Mahalanobis(y, FromValues(1, 1, {-1}))));
}

// ---------------------------------------------------------------------------
// Density

TEST(ProbabilityDensityTest, ReturnsFiniteQuotientsAndZeroOtherwise) {
  EXPECT_EQ(ProbabilityDensity(0, 1), 1.0);
  EXPECT_EQ(ProbabilityDensity(2, 2), std::exp(-1.0) / 2);
  EXPECT_EQ(ProbabilityDensity(2, 0), 0.0);     // infinite quotient
  EXPECT_EQ(ProbabilityDensity(2000, 0), 0.0);  // 0 / 0
  EXPECT_EQ(ProbabilityDensity(2000, 1), 0.0);  // underflow
  EXPECT_EQ(ProbabilityDensity(-2000, 1), 0.0);  // overflow
}

// ---------------------------------------------------------------------------
// Component distances

TEST(BhattacharyyaTest, IdenticalComponentsAreAtDistanceZero) {
  // Determinants with exact square roots, so that the ratio is exactly 1.
  MixtureComponent a = OneDimensional(MM_COV_DIAGONAL, 0.5, 1, 4);
  EXPECT_EQ(a.BhattacharyyaDistance(a, 4, 4, false), 0.0);
  EXPECT_EQ(a.BhattacharyyaDistance(a, 4, 4, true), 0.0);
  EXPECT_EQ(a.Distance(a, CD_BHATTACHARYYA), 0.0);

  MixtureComponent full(MM_COV_FULL, 2, false);
  full.mean = FromValues(1, 2, {1, 2});
  full.covariance = FromValues(2, 2, {4, 2, 2, 10});
  EXPECT_EQ(full.Distance(full, CD_BHATTACHARYYA), 0.0);
}

TEST(BhattacharyyaTest, SeparatedMeansAndUnequalWeights) {
  MixtureComponent a = OneDimensional(MM_COV_DIAGONAL, 0.25, 0, 1);
  MixtureComponent b = OneDimensional(MM_COV_DIAGONAL, 0.5, 2, 1);
  EXPECT_EQ(a.BhattacharyyaDistance(b, 1, 1, false), 0.5);
  EXPECT_EQ(a.Distance(b, CD_BHATTACHARYYA), 0.5);
  EXPECT_EQ(a.BhattacharyyaDistance(b, 1, 1, true), 1.1931471805599454);
  // The weight term does not depend on which component is the lighter one.
  EXPECT_EQ(b.BhattacharyyaDistance(a, 1, 1, true), 1.1931471805599454);
}

TEST(BhattacharyyaTest, UnequalVariances) {
  MixtureComponent a = OneDimensional(MM_COV_DIAGONAL, 1, 3, 1);
  MixtureComponent b = OneDimensional(MM_COV_DIAGONAL, 1, 3, 4);
  EXPECT_EQ(a.Distance(b, CD_BHATTACHARYYA), 0.11157177565710488);
  // A one-dimensional full component gives the same value.
  MixtureComponent c = OneDimensional(MM_COV_FULL, 1, 3, 1);
  MixtureComponent d = OneDimensional(MM_COV_FULL, 1, 3, 4);
  EXPECT_EQ(c.Distance(d, CD_BHATTACHARYYA), 0.11157177565710488);
}

TEST(BhattacharyyaTest, FullAndDiagonalAgreeOnDiagonalCovariances) {
  MixtureComponent a(MM_COV_DIAGONAL, 2, false);
  a.mean = FromValues(1, 2, {0, 1});
  a.covariance = FromValues(1, 2, {1, 3});
  MixtureComponent b(MM_COV_DIAGONAL, 2, false);
  b.mean = FromValues(1, 2, {2, -1});
  b.covariance = FromValues(1, 2, {2, 0.5});
  MixtureComponent fa(MM_COV_FULL, 2, false);
  fa.mean = a.mean;
  fa.covariance = FromValues(2, 2, {1, 0, 0, 3});
  MixtureComponent fb(MM_COV_FULL, 2, false);
  fb.mean = b.mean;
  fb.covariance = FromValues(2, 2, {2, 0, 0, 0.5});
  // Averaged variances 1.5, 1.75: q = (4 / 1.5 + 4 / 1.75) / 8.
  double const expected = (4 / 1.5 + 4 / 1.75) / 8 + 0.5 * std::log(1.5 * 1.75 / std::sqrt(3.0));
  EXPECT_NEAR(a.Distance(b, CD_BHATTACHARYYA), expected, 1e-15);
  EXPECT_NEAR(fa.Distance(fb, CD_BHATTACHARYYA), expected, 1e-15);
}

TEST(BhattacharyyaTest, TinyRatioIsFlooredSoTheLogStaysFinite) {
  MixtureComponent a = OneDimensional(MM_COV_DIAGONAL, 1, 0, 1e-300);
  // ratio 1e-300 / (1e-150 * 1e150) underflows nothing, 1e-320 would: floor it.
  double const distance = a.BhattacharyyaDistance(a, 1e300, 1e300, false);
  EXPECT_EQ(distance, 0.5 * std::log(DBL_MIN));
}

TEST(BhattacharyyaTest, UnknownKindComputesNothing) {
  // Different shapes would be a fatal error if a distance were computed.
  MixtureComponent a(MM_COV_DIAGONAL, 2, true);
  MixtureComponent b(MM_COV_FULL, 3, true);
  EXPECT_EQ(a.Distance(b, static_cast<ComponentDistanceType>(0)), 0.0);
  EXPECT_EQ(a.Distance(b, static_cast<ComponentDistanceType>(2)), 0.0);
}
