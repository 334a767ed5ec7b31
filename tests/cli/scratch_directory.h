#ifndef MIXFIT_TESTS_CLI_SCRATCH_DIRECTORY_H
#define MIXFIT_TESTS_CLI_SCRATCH_DIRECTORY_H

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

// A fixture giving every test a directory of its own for the files of its
// runs; the directory goes with everything in it.
class ScratchDirectory : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/mixfit-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    directory_ = pattern;
  }
  void TearDown() override {
    std::string command = "rm -rf " + directory_;
    ASSERT_EQ(system(command.c_str()), 0);
  }

  std::string Path(const std::string& name) const { return directory_ + "/" + name; }

  // Writes text, zero characters included, and returns the file's path.
  std::string WriteFile(const std::string& name, const std::string& text) const {
    std::ofstream(Path(name), std::ios::binary) << text;
    return Path(name);
  }

  static bool Exists(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0;
  }

  static std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::string directory_;
};

#endif
