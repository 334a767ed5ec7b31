#include "data/data.h"

#include <cstring>

#include "matrix/threads.h"
#include "support/files.h"

namespace {

// A data file of count vectors (k, -k / 2).
std::string Vectors(int count, std::string text = "") {
  for (int k = 0; k < count; ++k) text += std::to_string(k) + " " + std::to_string(-0.5 * k) + "\n";
  return text;
}

// What reading a data file gave: the result, the vectors and the messages.
struct Reading {
  int result;
  int rows, columns;
  std::string values, messages;
};

Reading ReadFrom(FILE* file) {
  DataStorage storage;
  testing::internal::CaptureStderr();
  Reading reading;
  reading.result = storage.Read(file);
  reading.messages = testing::internal::GetCapturedStderr();
  reading.rows = storage.rows;
  reading.columns = storage.columns;
  reading.values.assign(reinterpret_cast<char const*>(storage.data),
                        sizeof(double) * storage.ElementCount());
  return reading;
}

// A regular file is read in windows of whole lines parsed in parallel, any
// other input line by line: both give the same vectors, messages and result,
// across windows, at a limit and for a line longer than a window.
TEST(DataStorageTest, RegularFilesReadAsOtherInput) {
  std::string mixed = "% header\n\n  \t\r\n1 2 3\r\n";
  for (int k = 0; k < 20000; ++k) {
    mixed += std::to_string(k) + ", " + std::to_string(k % 7) + "e-3 5%\n";
    // Four errors and four incomplete vectors, one of each limit short.
    if (k % 6007 == 17)
      mixed += std::string("1 2 ") + '\0' + (k % 2 ? "\n1 NaN 3\n# 1 2\n" : "\n1 2\n\n");
  }
  std::string wide;
  while (wide.size() < (size_t(9) << 20)) wide += "1.25 -2e-7 3 .5\n";
  std::string const cases[] = {
      mixed + "1 2 3",               // the last line without a line feed
      mixed + "1,2 3\nx\n" + mixed,  // the fifth error stops reading
      wide + "1 2 3 4",              // two windows
      wide.substr(0, wide.size() / 2) + "% " + std::string(9 << 20, 'x') + "\n1 2 3 4\n" +
          wide,  // a line longer than a window
  };
  int const original = ThreadCount();
  for (std::string const& text : cases) {
    FILE* memory = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    Reading const expected = ReadFrom(memory);
    fclose(memory);
    TempFile file(text);
    for (int threads : {1, 3}) {
      SetThreadCount(threads);
      FILE* regular = fopen(file.path.c_str(), "r");
      Reading const read = ReadFrom(regular);
      fclose(regular);
      EXPECT_EQ(read.result, expected.result) << threads << " threads";
      EXPECT_EQ(read.rows, expected.rows);
      EXPECT_EQ(read.columns, expected.columns);
      EXPECT_TRUE(read.values == expected.values);
      EXPECT_EQ(read.messages, expected.messages);
    }
  }
  SetThreadCount(original);
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
