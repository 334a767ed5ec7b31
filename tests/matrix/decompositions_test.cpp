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

TEST(Cholesky, FactorsAPositiveDefiniteMatrix) {
  Matrix a = FromValues(2, 2, {4, 2, 2, 10});
  double det = 0;
  EXPECT_TRUE(a.CholeskyDecomposition(&det));
  EXPECT_EQ(a, FromValues(2, 2, {2, 0, 1, 3}));
  EXPECT_EQ(det, 36);
}

TEST(Cholesky, LowerFactorTimesItsTransposeGivesTheMatrix) {
  for (int n : {1, 3, 6}) {
    Matrix a = SymmetricPositiveDefinite(n);
    Matrix l(a);
    double det = 0;
    ASSERT_TRUE(l.CholeskyDecomposition(&det));
    for (int i = 0; i < n; ++i)
      for (int j = i + 1; j < n; ++j) EXPECT_EQ(l(i, j), 0.0);
    EXPECT_EQ(l * Transpose(l), a);
    EXPECT_NEAR(det, a.Determinant(), 1e-9 * std::fabs(det));
  }
}

TEST(Cholesky, ReadsOnlyTheLowerTriangle) {
  Matrix a = FromValues(2, 2, {4, 99, 2, 10});
  double det = 0;
  EXPECT_TRUE(a.CholeskyDecomposition(&det));
  EXPECT_EQ(a, FromValues(2, 2, {2, 0, 1, 3}));
  EXPECT_EQ(det, 36);
}

TEST(Cholesky, NonPositivePivotIsClampedAndReported) {
  Matrix a = FromValues(2, 2, {1, 2, 2, 1});
  double det = -1;
  EXPECT_FALSE(a.CholeskyDecomposition(&det));
  EXPECT_EQ(a, FromValues(2, 2, {1, 0, 2, 0}));
  EXPECT_EQ(det, 0);

  Matrix nan = FromValues(1, 1, {NAN});
  EXPECT_TRUE(nan.CholeskyDecomposition(nullptr));  // the ordered test misses NaN
  EXPECT_TRUE(std::isnan(nan(0, 0)));
}

TEST(Cholesky, RefusesNonSquareAndAcceptsEmpty) {
  Matrix a = FromValues(2, 3, {1, 2, 3, 4, 5, 6});
  double det = 42;
  EXPECT_FALSE(a.CholeskyDecomposition(&det));
  EXPECT_EQ(det, 42);
  EXPECT_EQ(a, FromValues(2, 3, {1, 2, 3, 4, 5, 6}));

  Matrix empty(0, 0);
  EXPECT_TRUE(empty.CholeskyDecomposition(&det));
  EXPECT_EQ(det, 1.0);
}

TEST(InvertLowerTriangular, InvertsAndReportsZeroDiagonal) {
  Matrix l = FromValues(2, 2, {2, 0, 1, 3});
  EXPECT_TRUE(l.InvertLowerTriangular());
  EXPECT_EQ(l(0, 0), 0.5);
  EXPECT_EQ(l(0, 1), 0.0);
  EXPECT_EQ(l(1, 0), (1 * 0.5) / -3.0);
  EXPECT_EQ(l(1, 1), 1.0 / 3);

  Matrix singular = FromValues(2, 2, {0, 0, 1, 1});
  EXPECT_FALSE(singular.InvertLowerTriangular());
}

TEST(InvertLowerTriangular, CholeskyPathGivesTheInverse) {
  Matrix a = FromValues(2, 2, {4, 2, 2, 10});
  Matrix x(a);
  ASSERT_TRUE(x.CholeskyDecomposition(nullptr));
  ASSERT_TRUE(x.InvertLowerTriangular());
  EXPECT_EQ(Transpose(x) * x, a.Inverse());

  Matrix big = SymmetricPositiveDefinite(5);
  Matrix factor(big);
  ASSERT_TRUE(factor.CholeskyDecomposition(nullptr));
  ASSERT_TRUE(factor.InvertLowerTriangular());
  Matrix identity(5, 5);
  identity.Diag(1.0);
  Matrix product = Transpose(factor) * factor * big;
  for (int k = 0; k < 25; ++k) EXPECT_NEAR(product.data[k], identity.data[k], 1e-12);
}

TEST(RowEchelon, LeadingOnesAndZerosBelow) {
  Matrix m = FromValues(3, 3, {0, 2, 4, 1, 1, 1, 2, 2, 2});
  m.RowEchelon();
  // Column 0 pivots on the 2 of the last row; column 1 on the 2 moved up.
  EXPECT_EQ(m, FromValues(3, 3, {1, 1, 1, 0, 1, 2, 0, 0, 0}));
}

TEST(Invert, GaussJordanInverse) {
  Matrix m = FromValues(2, 2, {2, 0, 0, 4});
  m.Invert();
  EXPECT_EQ(m, FromValues(2, 2, {0.5, 0, 0, 0.25}));

  Matrix a = SymmetricPositiveDefinite(4);
  Matrix identity(4, 4);
  identity.Diag(1.0);
  Matrix product = a * a.Inverse();
  for (int k = 0; k < 16; ++k) EXPECT_NEAR(product.data[k], identity.data[k], 1e-12);
}

TEST(Determinant, SignFollowsRowExchanges) {
  EXPECT_EQ(FromValues(2, 2, {0, 1, 1, 0}).Determinant(), -1);
  EXPECT_EQ(FromValues(2, 2, {2, 4, 1, 2}).Determinant(), 0);
  EXPECT_EQ(FromValues(3, 3, {0, 0, 2, 0, 3, 0, 4, 0, 0}).Determinant(), -24);
  EXPECT_EQ(FromValues(2, 2, {3, 1, 4, 2}).Determinant(), 2);
  EXPECT_EQ(Matrix(0, 0).Determinant(), 1.0);
}

TEST(Determinant, TallMatrixUsesTheExistingDiagonal) {
  EXPECT_EQ(FromValues(3, 2, {2, 0, 0, 3, 0, 0}).Determinant(), 6);
  // Pivot 5 moves up (sign flips), then pivot 1: -5; the zero third row
  // has no diagonal element and is not read.
  EXPECT_EQ(FromValues(3, 2, {1, 0, 0, 1, 5, 5}).Determinant(), -5);
}

using DecompositionDeathTest = ::testing::Test;

TEST_F(DecompositionDeathTest, InvertRefusesNonSquare) {
  Matrix m(2, 3, 1.0);
  EXPECT_DEATH(m.Invert(), "^Matrix::Invert\\(\\): matrix is not square\\.\n$");
  EXPECT_DEATH(m.Inverse(), "matrix is not square");
}

}  // namespace
