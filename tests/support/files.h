#ifndef MIXFIT_TESTS_SUPPORT_FILES_H
#define MIXFIT_TESTS_SUPPORT_FILES_H

// Files for tests: an anonymous stream and a scratch directory per test.

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "support/values.h"

inline std::string ReadFile(std::string const& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool Exists(std::string const& path) {
  std::error_code error;
  return std::filesystem::exists(path, error);
}

// An open stream holding the given bytes, to read from or to write to;
// closed when the object goes.
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

// A fixture giving every test a directory of its own, removed with
// everything in it.
class ScratchDirectory : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/mixfit-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    directory_ = pattern;
  }
  void TearDown() override { ASSERT_EQ(system(("rm -rf " + directory_).c_str()), 0); }

  std::string Path(std::string const& name) const { return directory_ + "/" + name; }

  // Writes text, zero characters included, and returns the file's path.
  std::string WriteFile(std::string const& name, std::string const& text) const {
    std::ofstream(Path(name), std::ios::binary) << text;
    return Path(name);
  }

  // Everything in the directory, as paths relative to it.
  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (auto const& entry : std::filesystem::recursive_directory_iterator(directory_))
      names.insert(entry.path().lexically_relative(directory_).string());
    return names;
  }

  std::string directory_;
};

#endif
