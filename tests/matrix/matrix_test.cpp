#include "matrix/matrix.h"
#include "matrix/matrix_builders.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "matrix/random.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

std::string Printed(Matrix const& m, int first_row, int first_column, int row_count,
                    int column_count) {
  FILE* file = tmpfile();
  EXPECT_TRUE(m.Print(file, first_row, first_column, row_count, column_count));
  std::string text;
  rewind(file);
  for (int c; (c = fgetc(file)) != EOF;) text += static_cast<char>(c);
  fclose(file);
  return text;
}

TEST(MatrixStorage, ZeroElementMatrixWorksEverywhere) {
  Matrix m(0, 5);
  EXPECT_EQ(m.data, nullptr);
  m.Fill(1.0);
  m.Scale(2.0);
  m.InvertElements();
  EXPECT_EQ(m.NotFinite(), 0);
  EXPECT_EQ(m.ElementSum(), 0.0);
  EXPECT_EQ(m.ElementProduct(), 1.0);
  EXPECT_EQ(m.Trace(), 0.0);
  EXPECT_TRUE(std::isnan(m.Min()));
  EXPECT_TRUE(std::isnan(m.Max()));
}

TEST(MatrixStorage, ValueConstructorFillsEveryElement) {
  Matrix m(2, 3, 7.5);
  for (int k = 0; k < 6; ++k) EXPECT_EQ(m.data[k], 7.5);
  EXPECT_EQ(m(1, 2), 7.5);
}

TEST(MatrixStorage, CopiesAreDeep) {
  Matrix a = FromValues(1, 2, {1, 2});
  Matrix b(a);
  b(0, 0) = 9;
  EXPECT_EQ(a(0, 0), 1);
  EXPECT_NE(a.data, b.data);
}

TEST(MatrixStorage, AssignmentReusesStorageOfEqualCount) {
  Matrix target = FromValues(2, 3, {1, 2, 3, 4, 5, 6});
  double* storage = target.data;
  target = FromValues(1, 6, {6, 5, 4, 3, 2, 1});
  EXPECT_EQ(target.data, storage);
  EXPECT_EQ(target.rows, 1);
  EXPECT_EQ(target.columns, 6);
  EXPECT_EQ(target(0, 5), 1);

  Matrix& self = target;
  target = self;
  EXPECT_EQ(target.data, storage);
  EXPECT_EQ(target(0, 0), 6);

  target = Matrix(3, 3, 0.5);
  EXPECT_EQ(target.rows, 3);
  EXPECT_EQ(target(2, 2), 0.5);
}

TEST(MatrixResize, WithoutKeepingRereadsStorageRowMajor) {
  Matrix m = FromValues(2, 3, {1, 2, 3, 4, 5, 6});
  double* storage = m.data;
  m.Resize(3, 2, false);
  EXPECT_EQ(m.data, storage);
  EXPECT_EQ(m, FromValues(3, 2, {1, 2, 3, 4, 5, 6}));
  m.Resize(4, 4, false);
  EXPECT_EQ(m.ElementCount(), 16);
}

TEST(MatrixResize, KeepingHoldsTheTopLeftBlockInPlace) {
  Matrix m = FromValues(2, 3, {1, 2, 3, 4, 5, 6});
  m.Resize(3, 2, true);
  EXPECT_EQ(m(0, 0), 1);
  EXPECT_EQ(m(0, 1), 2);
  EXPECT_EQ(m(1, 0), 4);
  EXPECT_EQ(m(1, 1), 5);

  Matrix square = FromValues(2, 2, {1, 2, 3, 4});
  square.Resize(3, 3, true);
  EXPECT_EQ(square(0, 0), 1);
  EXPECT_EQ(square(0, 1), 2);
  EXPECT_EQ(square(1, 0), 3);
  EXPECT_EQ(square(1, 1), 4);

  Matrix rows = FromValues(2, 2, {1, 2, 3, 4});
  rows.Resize(1, 2, true);
  EXPECT_EQ(rows, FromValues(1, 2, {1, 2}));
  rows.Resize(0, 2, true);
  EXPECT_EQ(rows.ElementCount(), 0);
}

TEST(MatrixResize, ToTheCurrentShapeKeepsValues) {
  Matrix m = FromValues(2, 2, {1, 2, 3, 4});
  double* storage = m.data;
  m.Resize(2, 2, true);
  m.Resize(2, 2, false);
  EXPECT_EQ(m.data, storage);
  EXPECT_EQ(m, FromValues(2, 2, {1, 2, 3, 4}));
}

TEST(MatrixElements, ArithmeticInPlace) {
  Matrix m = FromValues(1, 3, {1, 2, 4});
  m.Scale(2.0);
  EXPECT_EQ(m, FromValues(1, 3, {2, 4, 8}));
  m.Add(FromValues(1, 3, {1, 1, 1}), -0.5);
  EXPECT_EQ(m, FromValues(1, 3, {1.5, 3.5, 7.5}));
  m += FromValues(1, 3, {0.5, 0.5, 0.5});
  m -= FromValues(1, 3, {1, 2, 4});
  EXPECT_EQ(m, FromValues(1, 3, {1, 2, 4}));
  m.InvertElements();
  EXPECT_EQ(m, FromValues(1, 3, {1, 0.5, 0.25}));
  Matrix zero(1, 1, 0.0);
  zero.InvertElements();
  EXPECT_EQ(zero(0, 0), kInf);
}

TEST(MatrixReductions, MinAndMaxPassOverLaterNaN) {
  EXPECT_EQ(FromValues(1, 3, {3, kNaN, 1}).Min(), 1);
  EXPECT_TRUE(std::isnan(FromValues(1, 3, {kNaN, 3, 1}).Min()));
  EXPECT_EQ(FromValues(1, 3, {2, 5, 5}).Max(), 5);
  EXPECT_EQ(FromValues(1, 3, {2, kNaN, -5}).Max(), 2);
  EXPECT_TRUE(std::isnan(FromValues(1, 2, {kNaN, 9}).Max()));
}

TEST(MatrixReductions, SumsProductsTraceAndNotFinite) {
  Matrix m = FromValues(2, 3, {1, 2, 3, 4, 5, 6});
  EXPECT_EQ(m.ElementSum(), 21);
  EXPECT_EQ(m.ElementProduct(), 720);
  EXPECT_EQ(m.Trace(), 6);  // (0,0) + (1,1)
  EXPECT_EQ(FromValues(1, 4, {1, kInf, kNaN, -kInf}).NotFinite(), 3);
}

TEST(MatrixFills, DiagAndDiagonal) {
  Matrix m(2, 3);
  m.Diag(2.0);
  EXPECT_EQ(m, FromValues(2, 3, {2, 0, 0, 0, 2, 0}));

  Matrix wide = FromValues(3, 5, {1, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 3, 0, 0});
  Matrix column(3, 1);
  wide.Diagonal(column);
  EXPECT_EQ(column, FromValues(3, 1, {1, 2, 3}));
  Matrix square(3, 3);
  wide.Diagonal(square);
  EXPECT_EQ(square, FromValues(1, 3, {1, 2, 3}));
}

TEST(MatrixFills, RandomizeDrawsTheGeneratorIntoUnitInterval) {
  RandomSeed(7);
  int first = RandomNext(), second = RandomNext();
  RandomSeed(7);
  Matrix m(1, 2);
  m.Randomize();
  EXPECT_EQ(m(0, 0), first / 32767.0);
  EXPECT_EQ(m(0, 1), second / 32767.0);
}

TEST(MatrixFills, OuterProductsBuildScatterMatrices) {
  double d[] = {1, -2};
  Matrix scatter(2, 2);
  scatter.OuterProduct(d, d + 2, d, d + 2);
  EXPECT_EQ(scatter, FromValues(2, 2, {1, -2, -2, 4}));

  double a[] = {1, 2, 3}, b[] = {10, 20};
  Matrix rectangle(3, 2);
  rectangle.OuterProduct(a, a + 3, b, b + 2);
  EXPECT_EQ(rectangle, FromValues(3, 2, {10, 20, 20, 40, 30, 60}));

  Matrix square(2, 2);
  square.OuterProduct(FromValues(1, 3, {1, 2, 99}), FromValues(3, 1, {3, 4, 99}));
  EXPECT_EQ(square, FromValues(2, 2, {3, 4, 6, 8}));
}

TEST(MatrixBlocks, SubMatrixSetSubMatrixAndInsertRows) {
  Matrix m = FromValues(3, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9});
  Matrix block(2, 2);
  m.SubMatrix(block, 1, 1);
  EXPECT_EQ(block, FromValues(2, 2, {5, 6, 8, 9}));
  EXPECT_EQ(m.SubMatrix(1, 0, 2, 2), FromValues(2, 2, {4, 5, 7, 8}));

  m.SetSubMatrix(FromValues(1, 2, {-1, -2}), 2, 1);
  EXPECT_EQ(m, FromValues(3, 3, {1, 2, 3, 4, 5, 6, 7, -1, -2}));

  Matrix tall(4, 3, 0.0);
  tall.InsertRows(FromValues(2, 3, {1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(tall.rows, 6);
  EXPECT_EQ(tall.SubMatrix(4, 0, 2, 3), FromValues(2, 3, {1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(tall.SubMatrix(0, 0, 4, 3), Matrix(4, 3, 0.0));
}

TEST(MatrixPrint, WritesEveryNumberWithATrailingBlank) {
  Matrix m = FromValues(1, 2, {0.1, 2});
  EXPECT_EQ(Printed(m, 0, 0, 1, 2), "0.1 2 \n");
  EXPECT_EQ(Printed(m, 0, 0, 0, 2), "");
  EXPECT_EQ(Printed(m, 0, 0, 1, 0), "\n");
  EXPECT_EQ(Printed(FromValues(2, 2, {1.0 / 3, 1e300, -0.0, 5}), 0, 0, 2, 2),
            "0.333333333333333 1e+300 \n-0 5 \n");
}

TEST(MatrixPrint, ReportsAFailedWrite) {
  FILE* full = fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  setvbuf(full, nullptr, _IONBF, 0);
  EXPECT_FALSE(Matrix(2, 2, 1.0).Print(full, 0, 0, 2, 2));
  fclose(full);
}

using MatrixDeathTest = ::testing::Test;

TEST_F(MatrixDeathTest, ShapeMismatchesAbortWithTheirMessage) {
  Matrix row(1, 3, 1.0), column(3, 1, 1.0), square(3, 3, 1.0);
  EXPECT_DEATH(row += column, "^Matrix::operator\\+=: size mismatch\\.\n$");
  EXPECT_DEATH(row -= column, "^Matrix::operator-=: size mismatch\\.\n$");
  Matrix block(2, 2);
  EXPECT_DEATH(square.SubMatrix(block, 2, 2), "^Matrix::SubMatrix: Region outside matrix\\.\n$");
  EXPECT_DEATH(square.SubMatrix(block, -1, 0), "Region outside matrix");
  EXPECT_DEATH(square.SetSubMatrix(block, 0, 2),
               "^Matrix::SetSubMatrix: Region outside matrix\\.\n$");
  EXPECT_DEATH(square.SetSubMatrix(block, -1, 0), "SetSubMatrix: Region outside matrix");
  EXPECT_DEATH(square.InsertRows(Matrix(1, 2)), "^Matrix::InsertRows: size mismatch\\.\n$");
  EXPECT_EXIT(row += column, ::testing::KilledBySignal(SIGABRT), "");
}

TEST_F(MatrixDeathTest, NegativeCountsAreRefused) {
  EXPECT_DEATH(Matrix(-1, 2), "negative row or column count");
  EXPECT_DEATH(Matrix(2, -1, 0.0), "negative row or column count");
  Matrix m(2, 2);
  EXPECT_DEATH(m.Resize(-2, -2, false), "negative row or column count");
  EXPECT_DEATH(m.Resize(1, -1, true), "negative row or column count");
}

}  // namespace
