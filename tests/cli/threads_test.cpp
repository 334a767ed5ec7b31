// The same fits at 1, 2, 3 and 7 threads (OMP_NUM_THREADS) write the same
// standard output (the CPU time masked), standard error and model file:
// diagonal and full fits from random starts refined by k-means or Mahalanobis
// k-means, with the EM trace, and the refinement of a given solution; and
// fits of data so small that every density is formed from logarithms.

#include "cli/run_program.h"
#include "support/files.h"

namespace {

using ThreadsTest = ScratchDirectory;

TEST_F(ThreadsTest, SameBytesAtEveryThreadCount) {
  std::string const data = Path("clusters.txt"), tiny = Path("tiny.txt"),
                    start = Path("start.model"), model = Path("model.txt");
  DataSet set(4, ClusteredValues(8000, 4, 3, 31));  // six significant digits in the file
  ASSERT_EQ(set.storage.Write(data.c_str()), 0);
  // 2^-200 times the same: every determinant is below the normal doubles.
  set.storage.Scale(std::ldexp(1.0, -200));
  ASSERT_EQ(set.storage.Write(tiny.c_str()), 0);
  Out({"-i", data, "-o", start, "-c", "3", "-f", "-I", "3"}, {{"MIXFIT_SEED=9"}}, false);
  std::vector<std::string> const fits[] = {
      {"-i", data, "-c", "4", "-r", "2", "-I", "12", "--verbose", "--verbose"},
      {"-i", data, "-c", "3", "-f", "-r", "2,5", "-I", "12", "--verbose", "--verbose"},
      {"-i", data, "-c", "5", "-r", "2,5,no", "-t", "1e-4", "--verbose"},
      {"-i", data, "-c", "3", "-r", "2,10", "-I", "0", "--verbose"},  // Euclidean k-means only
      {"-i", data, "-s", start, "-I", "8", "--verbose", "--verbose"},
      {"-i", tiny, "-c", "4", "-r", "2", "-I", "12", "--verbose", "--verbose"},
      {"-i", tiny, "-c", "3", "-f", "-r", "2,5", "-I", "12", "--verbose", "--verbose"},
  };
  for (std::vector<std::string> fit : fits) {
    std::string one;
    fit.insert(fit.end(), {"-o", model});
    for (std::string threads : {"1", "2", "3", "7"}) {
      ProgramResult const run = RunMixfit(fit, {{"MIXFIT_SEED=5", "OMP_NUM_THREADS=" + threads}});
      ASSERT_EQ(run.status, 0) << run.err;
      std::string const all = Masked(run.out) + "\nstderr:\n" + run.err + "\nmodel:\n" +
                              (Exists(model) ? ReadFile(model) : "(none)");
      std::remove(model.c_str());
      if (threads == "1") one = all;
      EXPECT_EQ(all, one) << threads << " threads, " << testing::PrintToString(fit);
    }
  }
}

}  // namespace
