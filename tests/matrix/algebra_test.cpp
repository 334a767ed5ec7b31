#include <gtest/gtest.h>

#include <cmath>

#include "matrix/matrix.h"
#include "matrix/matrix_builders.h"

namespace {

TEST(MatrixProduct, SquareInPlaceAndGeneral) {
  Matrix a = FromValues(2, 2, {1, 2, 3, 4});
  double* storage = a.data;
  a *= FromValues(2, 2, {5, 6, 7, 8});
  EXPECT_EQ(a.data, storage);
  EXPECT_EQ(a, FromValues(2, 2, {19, 22, 43, 50}));

  Matrix b = FromValues(2, 3, {1, 2, 3, 4, 5, 6});
  b *= FromValues(3, 1, {1, 0, -1});
  EXPECT_EQ(b, FromValues(2, 1, {-2, -2}));

  EXPECT_EQ(FromValues(1, 2, {1, 2}) * FromValues(2, 2, {1, 0, 0, 1}), FromValues(1, 2, {1, 2}));
}

TEST(MatrixProduct, SquareTimesItselfUsesTheOldValues) {
  Matrix a = FromValues(2, 2, {1, 2, 3, 4});
  a *= a;
  EXPECT_EQ(a, FromValues(2, 2, {7, 10, 15, 22}));
}

TEST(MatrixTranspose, VectorsSquareAndRectangles) {
  Matrix rectangle = FromValues(2, 3, {1, 2, 3, 4, 5, 6});
  rectangle.Transpose();
  EXPECT_EQ(rectangle, FromValues(3, 2, {1, 4, 2, 5, 3, 6}));

  Matrix row = FromValues(1, 4, {1, 2, 3, 4});
  double* storage = row.data;
  row.Transpose();
  EXPECT_EQ(row.data, storage);
  EXPECT_EQ(row, FromValues(4, 1, {1, 2, 3, 4}));

  EXPECT_EQ(Transpose(FromValues(2, 2, {1, 2, 3, 4})), FromValues(2, 2, {1, 3, 2, 4}));
}

TEST(MatrixOperators, ReturnNewMatrices) {
  Matrix a = FromValues(1, 2, {1, 2}), b = FromValues(1, 2, {3, 5});
  EXPECT_EQ(a + b, FromValues(1, 2, {4, 7}));
  EXPECT_EQ(b - a, FromValues(1, 2, {2, 3}));
  EXPECT_EQ(a * 2.0, FromValues(1, 2, {2, 4}));
  EXPECT_EQ(0.5 * b, FromValues(1, 2, {1.5, 2.5}));
  EXPECT_EQ(a, FromValues(1, 2, {1, 2}));
}

TEST(MatrixDot, AcceptsEitherVectorOrientation) {
  EXPECT_EQ(Dot(FromValues(1, 3, {1, 2, 3}), FromValues(3, 1, {4, 5, 6})), 32);
  EXPECT_EQ(Dot(Matrix(0, 1), Matrix(1, 0)), 0.0);
}

TEST(MatrixEquality, RelativeToleranceAndShape) {
  EXPECT_TRUE(Matrix(1, 1, 1.0) == Matrix(1, 1, 1.0000001));
  EXPECT_FALSE(Matrix(1, 1, 1.0) == Matrix(1, 1, 1.00001));
  EXPECT_TRUE(Matrix(1, 1, 0.0) == Matrix(1, 1, 0.0));
  EXPECT_FALSE(Matrix(1, 1, 0.0) == Matrix(1, 1, 1e-300));
  EXPECT_FALSE(Matrix(1, 3, 1.0) == Matrix(3, 1, 1.0));
  EXPECT_TRUE(Matrix(1, 1, NAN) == Matrix(1, 1, 5.0));
  EXPECT_TRUE(Matrix(0, 2) == Matrix(0, 2));
}

TEST(MatrixBlocks, InsertColumnsAppendsOnTheRight) {
  Matrix m = FromValues(3, 2, {1, 2, 3, 4, 5, 6});
  m.InsertColumns(FromValues(3, 1, {7, 8, 9}));
  EXPECT_EQ(m, FromValues(3, 3, {1, 2, 7, 3, 4, 8, 5, 6, 9}));
}

TEST(MatrixColumnIterator, StepsOneRowAtATime) {
  Matrix m(4, 3);
  for (int k = 0; k < 12; ++k) m.data[k] = k;
  ColumnIterator row1 = m.ColumnBegin(1) + 1;
  ColumnIterator row3 = row1 + 2;
  EXPECT_EQ(*row3, m(3, 1));
  EXPECT_EQ(row3 - row1, 2);
  EXPECT_EQ(m.ColumnEnd(1) - m.ColumnBegin(1), 4);

  double sum = 0;
  Matrix const& view = m;
  for (ConstColumnIterator it = view.ColumnBegin(2); it != view.ColumnEnd(2); ++it) sum += *it;
  EXPECT_EQ(sum, 2 + 5 + 8 + 11);
  EXPECT_EQ((view.ColumnBegin(0) + 3) - view.ColumnBegin(0), 3);
}

using MatrixAlgebraDeathTest = ::testing::Test;

TEST_F(MatrixAlgebraDeathTest, ShapeMismatchesAbortWithTheirMessage) {
  Matrix a(2, 3, 1.0);
  EXPECT_DEATH(a *= Matrix(2, 3, 1.0), "^Matrix::operator\\*=: Size mismatch\\.\n$");
  EXPECT_DEATH(Dot(Matrix(2, 2, 1.0), Matrix(1, 4, 1.0)), "^matrix::Dot: Size mismatch\\.\n$");
  EXPECT_DEATH(Dot(Matrix(1, 3, 1.0), Matrix(1, 2, 1.0)), "^matrix::Dot: Size mismatch\\.\n$");
  Matrix square(3, 3, 1.0);
  EXPECT_DEATH(square.SubMatrix(2, 0, 2, 1), "^Matrix::SubMatrix: Region outside matrix\\.\n$");
  EXPECT_DEATH(square.InsertColumns(Matrix(2, 1)), "^Matrix::InsertColumns: size mismatch\\.\n$");
  EXPECT_DEATH(Matrix(1, 2) + Matrix(2, 1), "operator\\+=: size mismatch");
}

}  // namespace
