#include "data/data.h"

#include "support/files.h"

namespace {

// A data file of count vectors (k, -k / 2).
std::string Vectors(int count, std::string text = "") {
  for (int k = 0; k < count; ++k) text += std::to_string(k) + " " + std::to_string(-0.5 * k) + "\n";
  return text;
}

// Around and across the block boundaries (1024, then 1024 + 2048 vectors).
TEST(DataStorageTest, ReadKeepsEveryVectorInFileOrder) {
  for (int count : {1, 1023, 1024, 1025, 3072, 3073}) {
    TempFile file(Vectors(count, "% generated\n"));
    DataSet set(1, {42});  // what was there goes
    DataStorage& storage = set.storage;
    ASSERT_EQ(storage.Read(file.path.c_str()), 0);
    ASSERT_EQ(storage.rows, count);
    ASSERT_EQ(storage.columns, 2);
    for (int k = 0; k < count; ++k) ASSERT_TRUE(storage(k, 0) == k && storage(k, 1) == -0.5 * k);
  }
}

// Status 2 at a stop keeps the vectors read before it; status 1 leaves the
// storage as it was. A directory opens, but every read of it fails.
TEST(DataStorageTest, ReadStatuses) {
  TempFile file(Vectors(10) + "x\nx\nx\nx\nx\n" + Vectors(3));
  DataStorage storage;
  testing::internal::CaptureStderr();
  EXPECT_EQ(storage.Read(file.path.c_str()), 2);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(storage.rows, 10);
  EXPECT_EQ(storage(9, 1), -4.5);
  EXPECT_EQ(storage.Read("/nonexistent/data.txt"), 1);
  EXPECT_EQ(storage.rows, 10);
  EXPECT_EQ(storage.Read(testing::TempDir().c_str()), 2);
}

// Storage writes six significant digits, a view fifteen in view order, which
// read back as the same data; a full disk is reported.
TEST(DataStorageTest, WriteFormatsAndFailures) {
  DataSet set(2, {0.1, 2.0 / 3.0, -1e-7, 1234567});
  TempFile file;
  EXPECT_EQ(set.storage.Write(file.path.c_str()), 0);
  EXPECT_EQ(file.Contents(), "0.1 0.666667 \n-1e-07 1.23457e+06 \n");
  EXPECT_EQ(set.storage.Write("/dev/full"), 2);
  Data data(set.storage);
  data.Map(1, 1);
  data.Map(0, 1);
  EXPECT_EQ(data.Write(file.path.c_str()), 0);
  EXPECT_EQ(file.Contents(), "-1e-07 1234567 \n0.1 0.666666666666667 \n");
  DataStorage again;
  EXPECT_EQ(again.Read(file.path.c_str()), 0);
  EXPECT_EQ(Elements(again), (std::vector<double>{-1e-7, 1234567, 0.1, 0.666666666666667}));
  EXPECT_EQ(data.Write("/dev/full"), 2);
  EXPECT_EQ(Data().Write(file.path.c_str()), -1);
}

}  // namespace
