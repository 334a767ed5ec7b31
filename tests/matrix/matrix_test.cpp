#include "matrix/matrix.h"

#include "support/values.h"

namespace {

using V = std::vector<double>;

// Equal element counts keep the storage; Resize without keeping re-reads it
// row-major, with keeping holds the top-left block (of rows shrinking and
// columns growing at once). A move takes the storage, whatever the sizes,
// and leaves the source empty.
TEST(MatrixTest, StorageAssignmentResizeAndMoves) {
  Matrix m = FromValues(2, 3, {1, 2, 3, 4, 5, 6}), copy(m), target(3, 2);
  double* storage = m.data;
  Matrix const row = Row({6, 5, 4, 3, 2, 1});
  m = row;
  copy = m;
  copy(0, 0) = 9;
  m.Resize(3, 2, false);
  EXPECT_EQ(m.data, storage);
  EXPECT_EQ(Elements(m), (V{6, 5, 4, 3, 2, 1}));
  m.Resize(2, 3, true);
  m.Resize(3, 3, true);
  storage = m.data;
  Matrix moved(std::move(m));
  target = std::move(moved);
  EXPECT_TRUE(m.data == nullptr && moved.ElementCount() == 0);
  EXPECT_EQ(target.data, storage);
  EXPECT_EQ(Elements(target.SubMatrix(0, 0, 2, 2)), (V{6, 5, 4, 3}));
}

TEST(MatrixTest, BlocksProductsAndReductions) {
  Matrix m = FromValues(3, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9});
  EXPECT_EQ(Elements(m.SubMatrix(1, 0, 2, 2)), (V{4, 5, 7, 8}));
  m.SetSubMatrix(Row({-1, -2}), 2, 1);
  m.InsertRows(Row({0, 0, 1}));
  EXPECT_EQ(Elements(m.SubMatrix(2, 0, 2, 3)), (V{7, -1, -2, 0, 0, 1}));
  Matrix a = FromValues(2, 2, {1, 2, 3, 4});
  a *= a;  // in place, by itself
  EXPECT_EQ(Elements(a), (V{7, 10, 15, 22}));
  Matrix b = FromValues(2, 3, {1, 2, 3, 4, 5, 6}) * FromValues(3, 2, {1, 0, 0, 1, 1, 1});
  EXPECT_EQ(Elements(b), (V{4, 5, 10, 11}));
  EXPECT_EQ(Elements(Transpose(FromValues(2, 3, {1, 2, 3, 4, 5, 6}))), (V{1, 4, 2, 5, 3, 6}));
  EXPECT_EQ(Elements(b - FromValues(2, 2, {1, 2, 3, 4})), (V{3, 3, 7, 7}));
  V column;  // a column iterator walks one column down, row by row
  for (ColumnIterator i = b.ColumnBegin(1); i != b.ColumnEnd(1); ++i) column.push_back(*i);
  EXPECT_EQ(column, (V{5, 11}));
  EXPECT_EQ(Dot(Row({1, 2, 3}), Row({4, 5, 6})), 32);
  EXPECT_EQ(b.Trace() + b.ElementSum() + b.ElementProduct(), 15 + 30 + 2200);
  // OuterProduct reads as many elements as the target's shape asks for;
  // Diagonal gives the target the diagonal's shape.
  Matrix square(2, 2), diagonal(3, 3);
  square.OuterProduct(Row({1, 2, 99}), FromValues(3, 1, {3, 4, 99}));
  EXPECT_EQ(Elements(square), (V{3, 4, 6, 8}));
  FromValues(2, 3, {1, 0, 0, 0, 2, 0}).Diagonal(diagonal);
  EXPECT_TRUE(SameBits(diagonal, Row({1, 2})));
  // Diag sets the diagonal of any shape; += adds element by element.
  Matrix sum = Row({1, 2, 3}), wide(2, 3, 5.0);
  sum += Row({1, 1, 1});
  wide.Diag(2);
  EXPECT_EQ(Elements(sum), (V{2, 3, 4}));
  EXPECT_EQ(Elements(wide), (V{2, 0, 0, 0, 2, 0}));
  EXPECT_EQ(Row({1, kInf, kNaN, -kInf}).NotFinite(), 3);
  // Equality is relative, as the Cholesky test below takes it.
  EXPECT_TRUE(Row({1.0}) == Row({1.0000001}));
  EXPECT_FALSE(Row({1.0}) == Row({1.00001}));
}

// L is lower triangular with L Lᵀ = A (anything left above its diagonal
// would show there) and det A; the inverse of L gives A⁻¹ = L⁻ᵀ L⁻¹, the
// same as Gauss-Jordan elimination gives; the failures it names.
TEST(MatrixTest, CholeskyFactorInverseDeterminantAndFailures) {
  for (int n : {1, 3, 6}) {
    // A symmetric positive definite A = B Bᵀ + n I for a fixed B.
    Matrix b(n, n);
    for (int k = 0; k < n * n; ++k) b.data[k] = std::sin(1.0 + k);
    Matrix a = b * Transpose(b);
    for (int i = 0; i < n; ++i) a(i, i) += n;
    Matrix l(a);
    double det = 0;
    ASSERT_TRUE(l.CholeskyDecomposition(&det));
    EXPECT_EQ(l * Transpose(l), a);
    EXPECT_NEAR(det, a.Determinant(), 1e-9 * std::fabs(det));
    ASSERT_TRUE(l.InvertLowerTriangular());
    EXPECT_EQ(Transpose(l) * l, a.Inverse());
  }
  // Row exchanges: the largest first element is in the second row, the
  // largest second element below it then in the third; the determinant by
  // cofactors along the first row, the inverse by the adjugate.
  Matrix exchanged = FromValues(3, 3, {1, 2, 0, 3, 1, 1, 2, 0, 1});
  EXPECT_NEAR(exchanged.Determinant(), 1 * (1 - 0) - 2 * (3 - 2), 1e-12);
  EXPECT_EQ(exchanged.Inverse(), FromValues(3, 3, {-1, 2, -2, 1, -1, 1, 2, -4, 5}));
  // Only the lower triangle is read.
  Matrix small = FromValues(2, 2, {4, 99, 2, 10});
  double det = 0;
  EXPECT_TRUE(small.CholeskyDecomposition(&det));
  EXPECT_EQ(Elements(small), (V{2, 0, 1, 3}));
  EXPECT_EQ(det, 36);
  // A non-positive pivot is clamped to 0 and reported.
  Matrix indefinite = FromValues(2, 2, {1, 2, 2, 1});
  det = -1;
  EXPECT_FALSE(indefinite.CholeskyDecomposition(&det));
  EXPECT_EQ(Elements(indefinite), (V{1, 0, 2, 0}));
  EXPECT_EQ(det, 0);
  // NaN passes the ordered test for a positive pivot.
  EXPECT_TRUE(Row({kNaN}).CholeskyDecomposition(nullptr));
  // A non-square matrix is refused untouched; an empty one has determinant 1.
  Matrix wide = FromValues(2, 3, {1, 2, 3, 4, 5, 6}), empty(0, 0);
  EXPECT_FALSE(wide.CholeskyDecomposition(&det));
  EXPECT_EQ(Elements(wide), (V{1, 2, 3, 4, 5, 6}));
  EXPECT_TRUE(empty.CholeskyDecomposition(&det));
  EXPECT_EQ(det, 1.0);
  EXPECT_FALSE(FromValues(2, 2, {0, 0, 1, 1}).InvertLowerTriangular());
}

// Misuse is a programming error: the process ends with the message.
TEST(MatrixDeathTest, MisuseAbortsWithItsMessage) {
  Matrix row(1, 3, 1.0), column(3, 1, 1.0), square(3, 3, 1.0), block(2, 2);
  EXPECT_DEATH(row += column, "^Matrix::operator\\+=: size mismatch\\.\n$");
  EXPECT_DEATH(square.SubMatrix(block, 2, 2), "^Matrix::SubMatrix: Region outside matrix\\.\n$");
  EXPECT_DEATH(Matrix(-1, 2), "negative row or column count");
}

}  // namespace
