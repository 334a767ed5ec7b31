#include "data/data.h"

#include <atomic>
#include <climits>
#include <new>

#include "data/collector.h"
#include "parallel/threads.h"
#include "support/files.h"

namespace {

// When not negative, the number of allocations of this test binary that
// succeed before one fails.
std::atomic<long> allocations_left{-1};

}  // namespace

// Allocated with malloc and freed with free, which GCC cannot tell.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(size_t size) {
  if (allocations_left >= 0 && allocations_left-- == 0) throw std::bad_alloc();
  if (void* memory = std::malloc(size > 0 ? size : 1)) return memory;
  throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, size_t) noexcept { std::free(memory); }

namespace {

using DataStorageTest = ScratchDirectory;

// What reading a file gave: the result, size, messages and skipped lines;
// the values; the lines of the vectors.
struct Reading {
  std::string summary, values;
  DataLines lines;
};

Reading ReadFrom(FILE* file) {
  DataStorage storage;
  DataLines lines;
  testing::internal::CaptureStderr();
  int const result = storage.Read(file, &lines);
  fclose(file);
  return {std::to_string(result) + " " + std::to_string(storage.rows) + "x" +
              std::to_string(storage.columns) + " skipped " + std::to_string(lines.skipped) + "\n" +
              testing::internal::GetCapturedStderr(),
          std::string(reinterpret_cast<char const*>(storage.data),
                      sizeof(double) * storage.ElementCount()),
          lines};
}

// A regular file is read in windows of whole lines parsed in parallel, any
// other input line by line: both give the same vectors, lines (blank,
// comment and faulty lines counted), messages and result, across windows,
// at a limit and for a line longer than a window.
TEST_F(DataStorageTest, RegularFilesReadAsOtherInput) {
  std::string mixed = "% header\n\n  \t\r\n1 2 3\r\n", wide;
  for (int k = 0; k < 20000; ++k) {
    mixed += std::to_string(k) + ", " + std::to_string(k % 7) + "e-3 5%\n";
    if (k % 6007 == 17)  // four errors and four incomplete vectors, one of each limit short
      mixed += std::string("1 2 ") + '\0' + (k % 2 ? "\n1 NaN 3\n# 1 2\n" : "\n1 2\n\n");
  }
  while (wide.size() < (size_t(9) << 20)) wide += "1.25 -2e-7 3 .5\n";
  std::string const cases[] = {
      "",
      "c0,c1\n\n1 2\n1 x\n3\n  # b\n5 6 7\n5 NaN\n7 8",  // a header of column names
      mixed + "1 2 3",                                   // the last line without a line feed
      mixed + "1,2 3\nx\n" + mixed,                      // the fifth error stops reading
      wide + "1 2 3 4",                                  // two windows
      wide.substr(0, wide.size() / 2) + "% " + std::string(9 << 20, 'x') + "\n1 2 3 4\n" + wide,
  };  // the last: a line longer than a window
  int const original = ThreadCount();
  for (std::string const& text : cases) {
    auto const expected = ReadFrom(fmemopen(const_cast<char*>(text.data()), text.size(), "r"));
    std::string const file = WriteFile("data.txt", text);
    for (int threads : {1, 3}) {
      SetThreadCount(threads);
      auto const read = ReadFrom(fopen(file.c_str(), "r"));
      EXPECT_EQ(read.summary, expected.summary) << threads << " threads";
      EXPECT_TRUE(read.values == expected.values && read.lines.numbers == expected.lines.numbers)
          << threads << " threads";
    }
  }
  SetThreadCount(original);
  // A storage counts its values in an int: the vector that would pass
  // INT_MAX values stops the reading before anything is allocated for it.
  VectorCollector collector;
  double const value = 0;
  EXPECT_TRUE(collector.Count(INT_MAX));
  EXPECT_FALSE(collector.Add(&value, INT_MAX));
  EXPECT_TRUE(collector.too_large && collector.blocks.empty());
}

// Every vector in file order around the block boundaries (1024, then 1024 +
// 2048 vectors).
TEST_F(DataStorageTest, ReadKeepsEveryVectorInFileOrder) {
  std::string text = "% generated\n";
  std::vector<double> values;
  DataSet set(1, {42});  // what was there goes
  for (int count : {1, 1023, 1024, 1025, 3072, 3073}) {
    for (int k = static_cast<int>(values.size()) / 2; k < count; ++k) {
      text += std::to_string(k) + " " + std::to_string(-0.5 * k) + "\n";
      values.insert(values.end(), {double(k), -0.5 * k});
    }
    ASSERT_EQ(set.storage.Read(WriteFile("data.txt", text).c_str()), 0);
    ASSERT_TRUE(set.storage.columns == 2 && Elements(set.storage) == values) << count;
  }
}

// Memory running out anywhere in a read, also while a piece of a window is
// parsed, ends the read with std::bad_alloc: it never passes for the whole
// data.
TEST_F(DataStorageTest, RunningOutOfMemoryIsNoShortRead) {
  std::string text;
  for (int k = 0; k < 300; ++k) text += std::to_string(k) + " 1\n";
  std::string const path = WriteFile("data.txt", text);
  int const original = ThreadCount();
  SetThreadCount(1);
  for (long left = 0; left < 200; ++left) {
    DataStorage storage;
    allocations_left = left;
    try {
      storage.Read(path.c_str());
      allocations_left = -1;
      EXPECT_EQ(storage.rows, 300) << left;
    } catch (std::bad_alloc const&) {
      allocations_left = -1;
    }
  }
  SetThreadCount(original);
}

// A view on the caller's rows reads them where they are, and writes what a
// storage holding the same values writes.
TEST_F(DataStorageTest, AViewOfRowsReadsThemInPlace) {
  std::vector<double> const rows = {1.5, -2.0, 3.25, 0.0, 1e-300, 7.0};
  Data const view(rows.data(), 3, 2);
  ASSERT_TRUE(view.Count() == 3u && view.Dimension() == 2);
  for (size_t k = 0; k < 3; ++k) EXPECT_EQ(view.Vector(k), rows.data() + 2 * k);
  DataSet stored(2, rows);
  ASSERT_EQ(view.Write(Path("view.txt").c_str()), DATA_FILE_OK);
  ASSERT_EQ(stored.data.Write(Path("storage.txt").c_str()), DATA_FILE_OK);
  EXPECT_EQ(ReadFile(Path("view.txt")), ReadFile(Path("storage.txt")));
  EXPECT_EQ(Data().Write(Path("view.txt").c_str()), DATA_FILE_NO_STORAGE);
}

}  // namespace
