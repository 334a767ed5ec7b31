
#include <cfloat>

#include "support/values.h"

namespace {

MixtureComponent Component(MixtureCovarianceMatrixType type, double weight, double mean,
                                double variance) {
  MixtureComponent c(type, 1, false);
  c.weight = weight;
  c.mean.data[0] = mean;
  c.covariance.data[0] = variance;
  return c;
}

}  // namespace

TEST(MahalanobisTest, EachFormOfTheInverseCovariance) {
  double const x[] = {2, 1, 7};  // the third value lies beyond every matrix
  double const zero[] = {0, 0};
  // diag(4, 0.25) as inverse variances, as an inverted Cholesky factor whose
  // upper triangle is never read, and as a full inverse.
  Matrix factor = FromValues(2, 2, {0.5, 100, 0, 2});
  EXPECT_EQ(MahalanobisDiag2(x, zero, Row({0.25, 4})), 5.0);
  EXPECT_EQ(MahalanobisChol2(x, zero, factor), 5.0);
  EXPECT_EQ(MahalanobisChol(x, zero, factor), std::sqrt(5.0));
  EXPECT_EQ(MahalanobisFull2(x, zero, FromValues(2, 2, {0.25, 0, 0, 4})), 5.0);
  // The shape chooses: a row of inverse variances or a full inverse.
  Matrix full = FromValues(2, 2, {2, 1, 1, 2});
  double const m[] = {1, 0};
  EXPECT_EQ(Mahalanobis2(x, m, full), 6.0);
  EXPECT_EQ(Mahalanobis(x, m, full), std::sqrt(6.0));
  EXPECT_EQ(Mahalanobis2(x, m, Row({2, 3})), 5.0);
  EXPECT_EQ(Mahalanobis2(x + 1, Row({0.5})), 0.5);

  // Covariance 4 2 / 2 10: e = (1, -3) gives (10 + 12 + 36) / 36.
  factor = FromValues(2, 2, {4, 2, 2, 10});
  ASSERT_TRUE(factor.CholeskyDecomposition(nullptr));
  ASSERT_TRUE(factor.InvertLowerTriangular());
  double const y[] = {1.5, -2}, n[] = {0.5, 1};
  EXPECT_NEAR(MahalanobisChol2(y, n, factor), 58.0 / 36, 1e-15);
}

TEST(ProbabilityDensityTest, ReturnsFiniteQuotientsAndZeroOtherwise) {
  EXPECT_EQ(ProbabilityDensity(0, 1), 1.0);
  EXPECT_EQ(ProbabilityDensity(2, 2), std::exp(-1.0) / 2);
  EXPECT_EQ(ProbabilityDensity(2, 0), 0.0);      // infinite quotient
  EXPECT_EQ(ProbabilityDensity(2000, 0), 0.0);   // 0 / 0
  EXPECT_EQ(ProbabilityDensity(2000, 1), 0.0);   // underflow
  EXPECT_EQ(ProbabilityDensity(-2000, 1), 0.0);  // overflow
}

TEST(BhattacharyyaTest, SeparatedMeansUnequalWeightsAndUnequalVariances) {
  MixtureComponent a = Component(MM_COV_DIAGONAL, 0.25, 0, 1);
  MixtureComponent b = Component(MM_COV_DIAGONAL, 0.5, 2, 1);
  EXPECT_EQ(a.Distance(b, CD_BHATTACHARYYA), 0.5);
  EXPECT_EQ(a.Distance(a, CD_BHATTACHARYYA), 0.0);
  // The weight term does not depend on which component is the lighter one.
  EXPECT_EQ(a.BhattacharyyaDistance(b, 1, 1, true), 1.1931471805599454);
  EXPECT_EQ(b.BhattacharyyaDistance(a, 1, 1, true), 1.1931471805599454);
  // Diagonal and full components give the same value.
  for (MixtureCovarianceMatrixType type : {MM_COV_DIAGONAL, MM_COV_FULL}) {
    MixtureComponent c = Component(type, 1, 3, 1);
    EXPECT_EQ(c.Distance(Component(type, 1, 3, 4), CD_BHATTACHARYYA), 0.11157177565710488);
  }
}

TEST(BhattacharyyaTest, TinyRatioIsFlooredSoTheLogStaysFinite) {
  MixtureComponent a = Component(MM_COV_DIAGONAL, 1, 0, 1e-300);
  EXPECT_EQ(a.BhattacharyyaDistance(a, 1e300, 1e300, false), 0.5 * std::log(DBL_MIN));
}
