#ifndef MIXFIT_TESTS_DATA_TEMP_FILE_H
#define MIXFIT_TESTS_DATA_TEMP_FILE_H

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

// A file under the test temporary directory holding the given bytes; removed
// when the object goes.
struct TempFile {
  explicit TempFile(std::string const& bytes = "") : path(testing::TempDir() + "mixfit_XXXXXX") {
    FILE* file = fdopen(mkstemp(&path[0]), "wb");
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
  }
  ~TempFile() { remove(path.c_str()); }
  TempFile(TempFile const&) = delete;
  std::string Contents() const {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::string path;
};

// An open stream holding the given bytes, to read from or to write messages
// to; closed when the object goes.
struct TextStream {
  explicit TextStream(std::string const& bytes = "") : file(tmpfile()) {
    fwrite(bytes.data(), 1, bytes.size(), file);
    rewind(file);
  }
  ~TextStream() { fclose(file); }
  TextStream(TextStream const&) = delete;
  // Everything the stream holds.
  std::string Text() const {
    std::string bytes;
    rewind(file);
    for (int c; (c = fgetc(file)) != EOF;) bytes += static_cast<char>(c);
    return bytes;
  }
  FILE* file;
};

#endif
