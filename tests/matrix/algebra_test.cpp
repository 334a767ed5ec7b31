#include <gtest/gtest.h>

#include <cmath>

#include "matrix/matrix.h"
#include "matrix/matrix_builders.h"

namespace {

// A square product is formed in place; multiplying by itself must still use
// the old values.
TEST(MatrixProduct, InPlaceRectangularAndByItself) {
  Matrix a = FromValues(2, 2, {1, 2, 3, 4});
  double* storage = a.data;
  a *= FromValues(2, 2, {5, 6, 7, 8});
  EXPECT_EQ(a.data, storage);
  EXPECT_EQ(a, FromValues(2, 2, {19, 22, 43, 50}));
  Matrix b = FromValues(2, 3, {1, 2, 3, 4, 5, 6});
  b *= FromValues(3, 1, {1, 0, -1});
  EXPECT_EQ(b, FromValues(2, 1, {-2, -2}));
  Matrix c = FromValues(2, 2, {1, 2, 3, 4});
  c *= c;
  EXPECT_EQ(c, FromValues(2, 2, {7, 10, 15, 22}));
}

TEST(MatrixAlgebra, TransposeDotAndInsertColumns) {
  Matrix m = FromValues(2, 3, {1, 2, 3, 4, 5, 6});
  m.Transpose();
  EXPECT_EQ(m, FromValues(3, 2, {1, 4, 2, 5, 3, 6}));
  m.InsertColumns(FromValues(3, 1, {7, 8, 9}));
  EXPECT_EQ(m, FromValues(3, 3, {1, 4, 7, 2, 5, 8, 3, 6, 9}));
  EXPECT_EQ(Dot(FromValues(1, 3, {1, 2, 3}), FromValues(3, 1, {4, 5, 6})), 32);
}

TEST(MatrixEquality, RelativeToleranceAndShape) {
  EXPECT_TRUE(Matrix(1, 1, 1.0) == Matrix(1, 1, 1.0000001));
  EXPECT_FALSE(Matrix(1, 1, 1.0) == Matrix(1, 1, 1.00001));
  EXPECT_FALSE(Matrix(1, 1, 0.0) == Matrix(1, 1, 1e-300));
  EXPECT_FALSE(Matrix(1, 3, 1.0) == Matrix(3, 1, 1.0));
  EXPECT_TRUE(Matrix(1, 1, NAN) == Matrix(1, 1, 5.0));  // no ordered comparison holds
}

using MatrixAlgebraDeathTest = ::testing::Test;

TEST_F(MatrixAlgebraDeathTest, ShapeMismatchesAbortWithTheirMessage) {
  Matrix a(2, 3, 1.0);
  EXPECT_DEATH(a *= Matrix(2, 3, 1.0), "^Matrix::operator\\*=: Size mismatch\\.\n$");
  EXPECT_DEATH(Dot(Matrix(1, 3, 1.0), Matrix(1, 2, 1.0)), "^matrix::Dot: Size mismatch\\.\n$");
  EXPECT_DEATH(a.SubMatrix(1, 0, 2, 1), "^Matrix::SubMatrix: Region outside matrix\\.\n$");
  EXPECT_DEATH(a.InsertColumns(Matrix(1, 1)), "^Matrix::InsertColumns: size mismatch\\.\n$");
}

}  // namespace
