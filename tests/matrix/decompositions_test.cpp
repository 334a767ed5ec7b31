#include <gtest/gtest.h>

#include <cmath>

#include "matrix/matrix.h"
#include "matrix/matrix_builders.h"

namespace {

// A symmetric positive definite matrix: B Bᵀ + n I for a fixed B.
Matrix SymmetricPositiveDefinite(int n) {
  Matrix b(n, n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) b(i, j) = std::sin(1.0 + i * n + j);
  Matrix a = b * Transpose(b);
  for (int i = 0; i < n; ++i) a(i, i) += n;
  return a;
}

void ExpectIdentity(Matrix const& m) {
  for (int i = 0; i < m.rows; ++i)
    for (int j = 0; j < m.columns; ++j) EXPECT_NEAR(m(i, j), i == j ? 1.0 : 0.0, 1e-12);
}

// L is lower triangular with L Lᵀ = A; the inverse of L gives A⁻¹ = L⁻ᵀ L⁻¹,
// as Gauss-Jordan elimination does.
TEST(Cholesky, FactorInverseAndDeterminant) {
  for (int n : {1, 3, 6}) {
    Matrix a = SymmetricPositiveDefinite(n);
    Matrix l(a);
    double det = 0;
    ASSERT_TRUE(l.CholeskyDecomposition(&det));
    for (int i = 0; i < n; ++i)
      for (int j = i + 1; j < n; ++j) EXPECT_EQ(l(i, j), 0.0);
    EXPECT_EQ(l * Transpose(l), a);
    EXPECT_NEAR(det, a.Determinant(), 1e-9 * std::fabs(det));
    ASSERT_TRUE(l.InvertLowerTriangular());
    ExpectIdentity(Transpose(l) * l * a);
    ExpectIdentity(a * a.Inverse());
  }
}

// Only the lower triangle is read: the 99 above the diagonal is ignored.
TEST(Cholesky, ExactFactorOfASmallMatrix) {
  Matrix a = FromValues(2, 2, {4, 99, 2, 10});
  double det = 0;
  EXPECT_TRUE(a.CholeskyDecomposition(&det));
  EXPECT_EQ(a, FromValues(2, 2, {2, 0, 1, 3}));
  EXPECT_EQ(det, 36);
}

TEST(Cholesky, NamedFailures) {
  // A non-positive pivot is clamped to 0 and reported.
  Matrix indefinite = FromValues(2, 2, {1, 2, 2, 1});
  double det = -1;
  EXPECT_FALSE(indefinite.CholeskyDecomposition(&det));
  EXPECT_EQ(indefinite, FromValues(2, 2, {1, 0, 2, 0}));
  EXPECT_EQ(det, 0);
  // NaN passes the ordered test for a positive pivot.
  Matrix nan = FromValues(1, 1, {NAN});
  EXPECT_TRUE(nan.CholeskyDecomposition(nullptr));
  EXPECT_TRUE(std::isnan(nan(0, 0)));
  // A non-square matrix is refused untouched; an empty one has determinant 1.
  Matrix wide = FromValues(2, 3, {1, 2, 3, 4, 5, 6}), empty(0, 0);
  det = 42;
  EXPECT_FALSE(wide.CholeskyDecomposition(&det));
  EXPECT_EQ(det, 42);
  EXPECT_EQ(wide, FromValues(2, 3, {1, 2, 3, 4, 5, 6}));
  EXPECT_TRUE(empty.CholeskyDecomposition(&det));
  EXPECT_EQ(det, 1.0);
  // A zero on the diagonal cannot be inverted.
  Matrix singular = FromValues(2, 2, {0, 0, 1, 1});
  EXPECT_FALSE(singular.InvertLowerTriangular());
}

// Elimination pivots on the largest magnitude; each row exchange flips the sign.
TEST(Determinant, SignFollowsRowExchanges) {
  EXPECT_EQ(FromValues(2, 2, {0, 1, 1, 0}).Determinant(), -1);
  EXPECT_EQ(FromValues(2, 2, {2, 4, 1, 2}).Determinant(), 0);
  EXPECT_EQ(FromValues(3, 3, {0, 0, 2, 0, 3, 0, 4, 0, 0}).Determinant(), -24);
  EXPECT_EQ(FromValues(2, 2, {3, 1, 4, 2}).Determinant(), 2);
  EXPECT_EQ(Matrix(0, 0).Determinant(), 1.0);
  // A tall matrix: pivot 5 moves up (sign flips), then pivot 1; the third
  // row has no diagonal element and is not read.
  EXPECT_EQ(FromValues(3, 2, {1, 0, 0, 1, 5, 5}).Determinant(), -5);
}

using DecompositionDeathTest = ::testing::Test;

TEST_F(DecompositionDeathTest, InvertRefusesNonSquare) {
  Matrix m(2, 3, 1.0);
  EXPECT_DEATH(m.Invert(), "^Matrix::Invert\\(\\): matrix is not square\\.\n$");
}

}  // namespace
