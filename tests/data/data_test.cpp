#include "data/data.h"

#include <gtest/gtest.h>

#include "data/storage_builders.h"

#include <string>
#include <vector>

#include "data/readnums.h"
#include "data/temp_file.h"

namespace {

std::vector<double> Elements(Matrix const& m) {
  return std::vector<double>(m.data, m.data + m.ElementCount());
}

// A data file of count vectors (k, -k / 2).
std::string Vectors(int count) {
  std::string text;
  for (int k = 0; k < count; ++k) text += std::to_string(k) + " " + std::to_string(-0.5 * k) + "\n";
  return text;
}

}  // namespace

// Around and across the block boundaries (1024, then 1024 + 2048 vectors).
TEST(DataStorageReadTest, KeepsEveryVectorInFileOrder) {
  for (int count : {1, 1023, 1024, 1025, 3000, 3072, 3073}) {
    TempFile file("% generated\n" + Vectors(count));
    DataStorage storage = StorageOf(1, 1, {42});
    ASSERT_EQ(storage.Read(file.path.c_str()), 0);
    ASSERT_EQ(storage.rows, count);
    ASSERT_EQ(storage.columns, 2);
    for (int k = 0; k < count; ++k) {
      ASSERT_EQ(storage(k, 0), k);
      ASSERT_EQ(storage(k, 1), -0.5 * k);
    }
  }
}

TEST(DataStorageReadTest, LongVectors) {
  std::string line;
  for (int j = 0; j < 100000; ++j) line += std::to_string(j % 97) + " ";
  TempFile file(line + "\n" + line + "\n");
  DataStorage storage;
  ASSERT_EQ(storage.Read(file.path.c_str()), 0);
  EXPECT_EQ(storage.rows, 2);
  EXPECT_EQ(storage.columns, 100000);
  EXPECT_EQ(storage(1, 99999), 99999 % 97);
}

TEST(DataStorageReadTest, EmptyFileGivesEmptyStorage) {
  TempFile file("");
  DataStorage storage = StorageOf(2, 1, {1, 2});
  EXPECT_EQ(storage.Read(file.path.c_str()), 0);
  EXPECT_EQ(storage.rows, 0);
  EXPECT_EQ(storage.columns, 0);
}

TEST(DataStorageReadTest, StopAtALimitKeepsTheVectorsBefore) {
  TempFile file(Vectors(10) + "x\nx\nx\nx\nx\n" + Vectors(3));
  DataStorage storage;
  testing::internal::CaptureStderr();
  EXPECT_EQ(storage.Read(file.path.c_str()), 2);
  std::string messages = testing::internal::GetCapturedStderr();
  EXPECT_EQ(storage.rows, 10);
  EXPECT_EQ(storage(9, 1), -4.5);
  EXPECT_NE(messages.find("Error in line 15.\nToo many errors, exiting.\n"), std::string::npos);

  TempFile errors_first("a\nb\nc\nd\ne\n1 2\n");
  testing::internal::CaptureStderr();
  EXPECT_EQ(storage.Read(errors_first.path.c_str()), 2);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(storage.ElementCount(), 0);
  EXPECT_EQ(CurrentLineNumber(), 5);
}

TEST(DataStorageReadTest, FilesThatCannotBeRead) {
  DataStorage storage = StorageOf(1, 2, {1, 2});
  EXPECT_EQ(storage.Read("/nonexistent/data.txt"), 1);
  EXPECT_EQ(Elements(storage), (std::vector<double>{1, 2}));
  // A directory opens, but every read fails: that is no complete data file.
  EXPECT_EQ(storage.Read(testing::TempDir().c_str()), 2);
}

TEST(DataStorageWriteTest, SixSignificantDigitsPerValue) {
  DataStorage storage = StorageOf(2, 2, {0.1, 2.0 / 3.0, -1e-7, 1234567});
  TempFile file;
  EXPECT_EQ(storage.Write(file.path.c_str()), 0);
  EXPECT_EQ(file.Contents(), "0.1 0.666667 \n-1e-07 1.23457e+06 \n");

  DataStorage empty;
  EXPECT_EQ(empty.Write(file.path.c_str()), 0);
  EXPECT_EQ(file.Contents(), "");
}

TEST(DataStorageWriteTest, FailuresAreReported) {
  DataStorage storage = StorageOf(1, 2, {1, 2});
  EXPECT_EQ(storage.Write("/nonexistent/out.txt"), 1);
  FILE* full = fopen("/dev/full", "w");
  if (!full) GTEST_SKIP() << "no /dev/full";
  EXPECT_EQ(storage.Write(full), 2);
  fclose(full);
  EXPECT_EQ(storage.Write("/dev/full"), 2);
}

TEST(DataStorageTest, AppendAnotherSetAndItself) {
  DataStorage storage = StorageOf(2, 2, {1, 2, 3, 4});
  storage += StorageOf(1, 2, {5, 6});
  EXPECT_EQ(Elements(storage), (std::vector<double>{1, 2, 3, 4, 5, 6}));
  storage += storage;
  EXPECT_EQ(storage.rows, 6);
  EXPECT_EQ(Elements(storage), (std::vector<double>{1, 2, 3, 4, 5, 6, 1, 2, 3, 4, 5, 6}));
}

TEST(DataTest, MapInAllThreeDirections) {
  DataStorage storage = StorageOf(5, 1, {10, 11, 12, 13, 14});
  Data data(storage);
  data.Map(0, 5);
  EXPECT_EQ(data.index, (std::vector<uint32_t>{0, 1, 2, 3, 4}));
  data.Map(3, 3);
  data.Map(4, 1);
  EXPECT_EQ(data.index, (std::vector<uint32_t>{0, 1, 2, 3, 4, 3, 4, 3, 2}));
  EXPECT_EQ(data.Count(), 9u);
  EXPECT_EQ(data.Dimension(), 1);
  EXPECT_EQ(data.Vector(7)[0], 13);
}

TEST(DataTest, RemoveMovesTheLastIndexIn) {
  DataStorage storage = StorageOf(4, 1, {0, 1, 2, 3});
  Data data(storage);
  data.Map(0, 4);
  data.Remove(0);
  EXPECT_EQ(data.index, (std::vector<uint32_t>{3, 1, 2}));
  data.Remove(2);
  EXPECT_EQ(data.index, (std::vector<uint32_t>{3, 1}));
  EXPECT_EQ(Elements(storage), (std::vector<double>{0, 1, 2, 3}));
}

TEST(DataTest, WriteFifteenDigitsInViewOrder) {
  DataStorage storage = StorageOf(2, 2, {0.1, 2.0 / 3.0, 5, 6});
  Data data(storage);
  data.Map(1, 1);
  data.Map(0, 2);
  TempFile file;
  EXPECT_EQ(data.Write(file.path.c_str()), 0);
  EXPECT_EQ(file.Contents(), "5 6 \n0.1 0.666666666666667 \n5 6 \n");

  // What it writes reads back as the same data set.
  DataStorage again;
  EXPECT_EQ(again.Read(file.path.c_str()), 0);
  EXPECT_EQ(Elements(again), (std::vector<double>{5, 6, 0.1, 0.666666666666667, 5, 6}));
}

TEST(DataTest, WriteWithoutStorageOrToAFullDisk) {
  Data no_storage;
  EXPECT_EQ(no_storage.Write("/nonexistent/out.txt"), -1);
  EXPECT_EQ(no_storage.Write(stdout), -1);

  DataStorage storage = StorageOf(1, 1, {1});
  Data data(storage);
  data.Map(0, 1);
  EXPECT_EQ(data.Write("/nonexistent/out.txt"), 1);
  if (FILE* full = fopen("/dev/full", "w")) {
    fclose(full);
    EXPECT_EQ(data.Write("/dev/full"), 2);
  }
}
