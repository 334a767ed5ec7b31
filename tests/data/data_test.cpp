#include "data/data.h"

#include <atomic>
#include <climits>
#include <new>

#include "data/collector.h"
#include "parallel/threads.h"
#include "support/files.h"

// When not negative, the number of allocations of this test binary that
// succeed before one fails.
static std::atomic<long> allocations_left{-1};

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

// What reading a file gave: the result, size, skipped lines and messages;
// the lines of the vectors; then the values, as bytes.
std::string ReadFrom(FILE* file) {
  DataStorage storage;
  DataLines lines;
  testing::internal::CaptureStderr();
  int const result = storage.Read(file, &lines);
  fclose(file);
  std::string read = std::to_string(result) + " " + std::to_string(storage.rows) + "x" +
                     std::to_string(storage.columns) + " skipped " + std::to_string(lines.skipped) +
                     "\n" + testing::internal::GetCapturedStderr();
  for (int number : lines.numbers) read += std::to_string(number) + " ";
  return read.append(reinterpret_cast<char const*>(storage.data),
                     sizeof(double) * storage.ElementCount());
}

// A regular file is read in windows of whole lines parsed in parallel, any
// other input line by line: both give the same vectors, lines (blank,
// comment and faulty lines counted), messages and result, across windows,
// at a limit and for a line longer than a window. (An empty file: the
// fuzz corpus.)
TEST_F(DataStorageTest, RegularFilesReadAsOtherInput) {
  std::string mixed = "% header\n\n  \t\r\n1 2 3\r\n", wide;
  for (int k = 0; k < 20000; ++k) {
    mixed += std::to_string(k) + ", " + std::to_string(k % 7) + "e-3 5%\n";
    if (k % 6007 == 17)  // four errors and four incomplete vectors, one of each limit short
      mixed += std::string("1 2 ") + '\0' + (k % 2 ? "\n1 NaN 3\n# 1 2\n" : "\n1 2\n\n");
  }
  while (wide.size() < (size_t(9) << 20)) wide += "1.25 -2e-7 3 .5\n";
  std::string const cases[] = {
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
      // Not printed on failure: it may be megabytes.
      EXPECT_TRUE(ReadFrom(fopen(file.c_str(), "r")) == expected) << threads << " threads";
    }
  }
  SetThreadCount(original);
  // A storage counts its values in an int: the vector that would pass
  // INT_MAX values stops the reading before anything is allocated for it.
  VectorCollector collector;
  EXPECT_TRUE(collector.Count(INT_MAX) && !collector.Add(nullptr, INT_MAX) && collector.too_large &&
              collector.blocks.empty());
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
    } catch (std::bad_alloc const&) {  // the failed allocation set the count to -1
    }
  }
  SetThreadCount(original);
}

// A view on the caller's rows reads them where they are, and writes them as
// a storage does.
TEST_F(DataStorageTest, AViewOfRowsReadsThemInPlace) {
  std::vector<double> const rows = {1.5, -2.0, 3.25, 0.0, 1e-300, 7.0};
  Data const view(rows.data(), 3, 2);
  ASSERT_TRUE(view.Count() == 3u && view.Dimension() == 2 && view.Vector(2) == rows.data() + 4);
  ASSERT_EQ(view.Write(Path("view.txt").c_str()), DATA_FILE_OK);
  EXPECT_EQ(ReadFile(Path("view.txt")), "1.5 -2 \n3.25 0 \n1e-300 7 \n");
  EXPECT_EQ(Data().Write(Path("view.txt").c_str()), DATA_FILE_NO_STORAGE);
}

}  // namespace
