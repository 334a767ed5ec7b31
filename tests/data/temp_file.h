#ifndef MIXFIT_TESTS_DATA_TEMP_FILE_H
#define MIXFIT_TESTS_DATA_TEMP_FILE_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

// A file under the test temporary directory, named after the running test,
// holding the given bytes; removed when the object goes.
class TempFile {
 public:
  explicit TempFile(std::string const& bytes = "") {
    testing::TestInfo const* test = testing::UnitTest::GetInstance()->current_test_info();
    path = testing::TempDir() + "mixfit_" + test->test_suite_name() + "_" + test->name() + "_" +
           std::to_string(getpid()) + "_" + std::to_string(count++);
    FILE* file = fopen(path.c_str(), "wb");
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
  }
  ~TempFile() { remove(path.c_str()); }
  TempFile(TempFile const&) = delete;
  TempFile& operator=(TempFile const&) = delete;

  std::string Contents() const {
    std::string bytes;
    FILE* file = fopen(path.c_str(), "rb");
    for (int c; file && (c = fgetc(file)) != EOF;) bytes += static_cast<char>(c);
    if (file) fclose(file);
    return bytes;
  }

  std::string path;

 private:
  static inline int count = 0;
};

// An open stream on the given bytes, closed when the object goes.
class TextStream {
 public:
  explicit TextStream(std::string const& bytes) : file(tmpfile()) {
    fwrite(bytes.data(), 1, bytes.size(), file);
    rewind(file);
  }
  ~TextStream() { fclose(file); }
  TextStream(TextStream const&) = delete;
  TextStream& operator=(TextStream const&) = delete;

  FILE* file;
};

// A stream that collects what is written to it.
class Capture {
 public:
  Capture() : file(tmpfile()) {}
  ~Capture() { fclose(file); }
  Capture(Capture const&) = delete;
  Capture& operator=(Capture const&) = delete;

  std::string Text() const {
    fflush(file);
    rewind(file);
    std::string bytes;
    for (int c; (c = fgetc(file)) != EOF;) bytes += static_cast<char>(c);
    return bytes;
  }

  FILE* file;
};

#endif
