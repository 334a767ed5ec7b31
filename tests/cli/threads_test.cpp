// The same fits at 1, 2, 3 and 7 threads (OMP_NUM_THREADS) write the same
// bytes: standard output (the CPU time masked), standard error and the model
// file, for diagonal and full fits from random starts refined by k-means or
// Mahalanobis k-means, with the EM trace, and for the refinement of a given
// solution.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "cli/run_program.h"
#include "support/files.h"

namespace {

using ThreadsTest = ScratchDirectory;

std::string MaskCpuTime(const std::string& out) {
  return std::regex_replace(out, std::regex("CPU time: [^\n]*"), "CPU time: -");
}

// 8000 vectors of dimension 4 around three centres, six decimals each.
std::string Clusters() {
  std::mt19937 generator(31);
  std::normal_distribution<double> normal(0.0, 1.0);
  std::string text;
  char number[32];
  for (int n = 0; n < 8000; ++n) {
    for (int j = 0; j < 4; ++j) {
      snprintf(number, sizeof number, "%.6f ",
               3.0 * (n % 3) * (j % 2 ? 1 : -1) + normal(generator));
      text += number;
    }
    text += "\n";
  }
  return text;
}

TEST_F(ThreadsTest, SameBytesAtEveryThreadCount) {
  std::string const data = WriteFile("clusters.txt", Clusters());
  std::string const start = Path("start.model");
  std::vector<std::vector<std::string>> const fits = {
      {"-c", "4", "-r", "2", "-I", "12", "--verbose", "--verbose"},
      {"-c", "3", "-f", "-r", "2,5", "-I", "12", "--verbose", "--verbose"},
      {"-c", "5", "-r", "2,5,no", "-t", "1e-4", "--verbose"},
      {"-c", "3", "-r", "2,10", "-I", "0", "--verbose"},  // Euclidean k-means only
      {"-s", start, "-I", "8", "--verbose", "--verbose"},
  };
  ProgramResult const made = RunMixfit({"-i", data, "-o", start, "-c", "3", "-f", "-I", "3"},
                                       {{"MIXFIT_SEED=9", "OMP_NUM_THREADS=1"}});
  ASSERT_EQ(made.status, 0) << made.err;
  for (std::vector<std::string> const& fit : fits) {
    SCOPED_TRACE(testing::PrintToString(fit));
    std::string one[3];
    for (const char* threads : {"1", "2", "3", "7"}) {
      std::string const model = Path("model.txt");
      std::vector<std::string> arguments = {"-i", data, "-o", model};
      arguments.insert(arguments.end(), fit.begin(), fit.end());
      ProgramResult const run =
          RunMixfit(arguments, {{"MIXFIT_SEED=5", std::string("OMP_NUM_THREADS=") + threads}});
      ASSERT_EQ(run.status, 0) << run.err;
      std::string const files[3] = {MaskCpuTime(run.out), run.err,
                                    Exists(model) ? ReadFile(model) : "(none)"};
      std::remove(model.c_str());
      for (int i = 0; i < 3; ++i) {
        if (threads[0] == '1') one[i] = files[i];
        EXPECT_EQ(files[i], one[i]) << threads << " threads, "
                                    << (i == 0   ? "stdout"
                                        : i == 1 ? "stderr"
                                                 : "model");
      }
    }
  }
}

}  // namespace
