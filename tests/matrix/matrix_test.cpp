#include "matrix/matrix.h"
#include "matrix/matrix_builders.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <utility>

#include "data/temp_file.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

TEST(MatrixStorage, AssignmentReusesStorageOfEqualCount) {
  Matrix target = FromValues(2, 3, {1, 2, 3, 4, 5, 6});
  double* storage = target.data;
  Matrix const source = FromValues(1, 6, {6, 5, 4, 3, 2, 1});
  target = source;
  EXPECT_EQ(target.data, storage);
  EXPECT_EQ(target, FromValues(1, 6, {6, 5, 4, 3, 2, 1}));
  Matrix& self = target;
  target = self;
  EXPECT_EQ(target(0, 0), 6);
  Matrix copy(target);
  copy(0, 0) = 9;
  EXPECT_EQ(target(0, 0), 6);
}

TEST(MatrixStorage, MovesTakeTheStorageAndLeaveTheSourceEmpty) {
  Matrix source = FromValues(2, 3, {1, 2, 3, 4, 5, 6});
  double* storage = source.data;
  Matrix moved(std::move(source));
  EXPECT_EQ(moved.data, storage);
  EXPECT_EQ(source.data, nullptr);
  source = FromValues(1, 2, {7, 8});  // the emptied source takes values again
  storage = source.data;
  moved = std::move(source);
  EXPECT_EQ(moved.data, storage);
  EXPECT_EQ(moved, FromValues(1, 2, {7, 8}));
  EXPECT_EQ(source.data, nullptr);
  EXPECT_EQ(source.ElementCount(), 0);
}

TEST(MatrixResize, WithoutKeepingRereadsTheStorageRowMajor) {
  Matrix m = FromValues(2, 3, {1, 2, 3, 4, 5, 6});
  double* storage = m.data;
  m.Resize(3, 2, false);
  EXPECT_EQ(m.data, storage);
  EXPECT_EQ(m, FromValues(3, 2, {1, 2, 3, 4, 5, 6}));
}

TEST(MatrixResize, KeepingHoldsTheTopLeftBlockInPlace) {
  Matrix m = FromValues(2, 3, {1, 2, 3, 4, 5, 6});
  m.Resize(3, 2, true);
  EXPECT_EQ(m.SubMatrix(0, 0, 2, 2), FromValues(2, 2, {1, 2, 4, 5}));
  Matrix square = FromValues(2, 2, {1, 2, 3, 4});
  square.Resize(3, 3, true);
  EXPECT_EQ(square.SubMatrix(0, 0, 2, 2), FromValues(2, 2, {1, 2, 3, 4}));
  square.Resize(1, 2, true);
  EXPECT_EQ(square, FromValues(1, 2, {1, 2}));
}

// Min and Max use ordered comparisons: a NaN first stays, a later one is
// passed over. Without elements there is no minimum.
TEST(MatrixReductions, MinAndMaxPassOverLaterNaN) {
  EXPECT_TRUE(std::isnan(Matrix(0, 5).Min()));
  EXPECT_TRUE(std::isnan(Matrix(0, 5).Max()));
  EXPECT_EQ(FromValues(1, 3, {3, kNaN, 1}).Min(), 1);
  EXPECT_TRUE(std::isnan(FromValues(1, 3, {kNaN, 3, 1}).Min()));
  EXPECT_EQ(FromValues(1, 3, {2, kNaN, -5}).Max(), 2);
  EXPECT_TRUE(std::isnan(FromValues(1, 2, {kNaN, 9}).Max()));
  EXPECT_EQ(FromValues(1, 4, {1, kInf, kNaN, -kInf}).NotFinite(), 3);
}

// OuterProduct reads as many elements as the target's shape asks for;
// Diagonal gives the target the diagonal's shape.
TEST(MatrixFills, OuterProductAndDiagonalShapes) {
  Matrix square(2, 2);
  square.OuterProduct(FromValues(1, 3, {1, 2, 99}), FromValues(3, 1, {3, 4, 99}));
  EXPECT_EQ(square, FromValues(2, 2, {3, 4, 6, 8}));
  Matrix wide = FromValues(2, 3, {1, 0, 0, 0, 2, 0});
  Matrix diagonal(3, 3);
  wide.Diagonal(diagonal);
  EXPECT_EQ(diagonal, FromValues(1, 2, {1, 2}));
}

TEST(MatrixBlocks, SubMatrixSetSubMatrixAndInsertRows) {
  Matrix m = FromValues(3, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9});
  EXPECT_EQ(m.SubMatrix(1, 0, 2, 2), FromValues(2, 2, {4, 5, 7, 8}));
  m.SetSubMatrix(FromValues(1, 2, {-1, -2}), 2, 1);
  EXPECT_EQ(m, FromValues(3, 3, {1, 2, 3, 4, 5, 6, 7, -1, -2}));
  m.InsertRows(FromValues(1, 3, {0, 0, 1}));
  EXPECT_EQ(m.SubMatrix(2, 0, 2, 3), FromValues(2, 3, {7, -1, -2, 0, 0, 1}));
}

TEST(MatrixPrint, FifteenDigitsWithATrailingBlankAndFailedWrites) {
  TextStream out;
  EXPECT_TRUE(FromValues(2, 2, {1.0 / 3, 1e300, -0.0, 5}).Print(out.file, 0, 0, 2, 2));
  EXPECT_EQ(out.Text(), "0.333333333333333 1e+300 \n-0 5 \n");
  FILE* full = fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  setvbuf(full, nullptr, _IONBF, 0);
  EXPECT_FALSE(Matrix(2, 2, 1.0).Print(full, 0, 0, 2, 2));
  fclose(full);
}

using MatrixDeathTest = ::testing::Test;

TEST_F(MatrixDeathTest, ShapeMismatchesAndNegativeCountsAbortWithTheirMessage) {
  Matrix row(1, 3, 1.0), column(3, 1, 1.0), square(3, 3, 1.0), block(2, 2);
  EXPECT_DEATH(row += column, "^Matrix::operator\\+=: size mismatch\\.\n$");
  EXPECT_DEATH(row -= column, "^Matrix::operator-=: size mismatch\\.\n$");
  EXPECT_DEATH(square.SubMatrix(block, 2, 2), "^Matrix::SubMatrix: Region outside matrix\\.\n$");
  EXPECT_DEATH(square.SetSubMatrix(block, -1, 0),
               "^Matrix::SetSubMatrix: Region outside matrix\\.\n$");
  EXPECT_DEATH(square.InsertRows(Matrix(1, 2)), "^Matrix::InsertRows: size mismatch\\.\n$");
  EXPECT_EXIT(row += column, ::testing::KilledBySignal(SIGABRT), "");
  EXPECT_DEATH(Matrix(-1, 2), "negative row or column count");
  EXPECT_DEATH(square.Resize(1, -1, true), "negative row or column count");
}

}  // namespace
