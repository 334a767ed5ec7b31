// The MPI build run by mpirun with 1 to 4 ranks on one machine: the same
// outcome as one process. Every run's standard error is rank 0's alone
// (mpirun -q adds nothing of its own).
#include <cstdio>
#include <sstream>

#include "cli/run_program.h"
#include "support/files.h"

namespace {

// Runs the program alone (0 ranks), as the default build does, or under
// mpirun with the given number of ranks.
ProgramResult RunAt(int ranks, std::vector<std::string> arguments,
                    char const* program = MIXFIT_BINARY,
                    std::string const& setting = "MIXFIT_SEED=5",
                    std::function<void(int)> const& started = nullptr) {
  // Open MPI refuses root, as CI runs, without these.
  RunSettings const settings{
      {setting, "OMPI_ALLOW_RUN_AS_ROOT=1", "OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1"}, 0, -1, started};
  if (ranks == 0) return RunProgram(program, arguments, settings);
  arguments.insert(arguments.begin(),
                   {"-q", "--oversubscribe", "-np", std::to_string(ranks), program});
  return RunProgram(MIXFIT_MPIEXEC, arguments, settings);
}

// Whether two model files hold the same numbers: within 1e-9 * max(1, |a|),
// and a number printed with 6 significant digits (a weight) within one unit
// of its last digit, as a sum added in another order may round the other way.
::testing::AssertionResult CloseModels(std::string const& a, std::string const& b) {
  std::istringstream first(a), second(b);
  std::string x, y;
  for (int i = 0; first >> x; ++i) {
    if (!(second >> y)) return ::testing::AssertionFailure() << "shorter at token " << i;
    double const u = strtod(x.c_str(), nullptr), v = strtod(y.c_str(), nullptr);
    char shown[32];  // the number as printed with 6 significant digits
    snprintf(shown, sizeof shown, "%g", u);
    double allowed = 1e-9 * std::max(1.0, std::fabs(u));
    if (x == shown && u != 0.0)
      allowed = std::max(allowed, 1.001 * std::pow(10.0, std::floor(std::log10(std::fabs(u))) - 5));
    if (x != y && !(std::fabs(u - v) <= allowed))
      return ::testing::AssertionFailure() << "token " << i << ": " << x << " against " << y;
  }
  if (second >> y) return ::testing::AssertionFailure() << "longer";
  return ::testing::AssertionSuccess();
}

using RanksTest = ScratchDirectory;

// Clusters far apart, so that every start converges to the same optimum and
// the iterations are fixed: the sums in another order move the results in
// the last places only.
TEST_F(RanksTest, SameOutcomeAsOneProcess) {
  DataSet set(4, ClusteredValues(6000, 4, 3, 31));
  std::string const data = Path("clusters.txt"), start = Path("start.model"),
                    model = Path("model.txt"), pipe = Path("pipe"), quiet = Path("quiet");
  ASSERT_EQ(set.storage.Write(data.c_str()), 0);
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600) | mkfifo(quiet.c_str(), 0600), 0);  // quiet: no vectors
  ASSERT_EQ(RunAt(0, {"-i", data, "-o", start, "-c", "3", "-f", "-I", "3"}).status, 0);
  // The clusters with line n replaced by the text, for each "n text".
  auto const faulty = [&](std::string const& name, std::vector<std::string> const& faults) {
    std::istringstream in(ReadFile(data));
    std::string text, line;
    for (int n = 1; std::getline(in, line); text += line + "\n", ++n)
      for (std::string const& f : faults)
        if (std::stoi(f) == n) line = f.substr(f.find(' ') + 1);
    return WriteFile(name, text);
  };
  std::string const some = faulty("some.txt", {"1 # comment", "1400 1 2 x", "2900 1 2", "3100 ",
                                               "4600 1 2 3 4 5", "5990 nan 1 2 3"});
  std::string const six =
      faulty("six.txt", {"700 x", "2000 x", "3300 x", "4500 x", "5800 x", "5801 x"});
  std::string const wider = faulty("wider.txt", {"1 a", "2 1 2 3 4 5", "3000 5 4 3 2 1"});
  std::string const other = WriteFile("other.txt", "1 2 3\n4 5 6\n7 8 10\n");
  std::string const longer = WriteFile("longer.txt", "1 2\n1 2 3\n3 4 5\n5 6 7\n");
  std::string const comments = WriteFile("comments.txt", "% no vectors\n\n# at all\n");
  std::string const column = WriteFile("column.txt", "1\n2\n3\n10\n11\n12\n13\n");
  struct Case {
    std::vector<std::string> arguments;
    int status;
    char const* program = MIXFIT_BINARY;
  } const cases[] = {
      {{"-i", data, "-o", model, "-c", "3", "-f", "-r", "2,5", "-I", "12", "--verbose"}, 0},
      // An input that cannot be seeked, read by rank 0 and handed out.
      {{"-i", pipe, "-o", model, "-c", "3", "-r", "2", "-I", "12", "--verbose"}, 0},
      // Faulty lines in several ranks' shares: reported once, in file order,
      // with their line numbers in the file; the fifth of a kind stops the
      // run wherever it lies. The first vector fixes the dimension for all
      // shares, even where another rank's share starts with a longer one.
      // The vectors kept are those of one process: the same fit.
      {{"-i", some, "-o", model, "-s", start, "-I", "8"}, 0},
      {{"-i", six, "-o", model, "-c", "3"}, 2},
      {{"-i", wider, "-o", model}, 2},
      {{"-i", longer, "-o", model, "-c", "2"}, 2},  // a line a share each
      {{"-i", column, "-o", model, "-c", "2"}, 0},  // one dimension
      // A failure in the later phases whose outcome the ranks agree on: the
      // initial solution, writing the model.
      {{"-i", other, "-o", model, "-s", start}, 3},
      {{"-i", other, "-o", Path("no/such/model.txt"), "-c", "1"}, 4},
      // The model commands score each vector on its own rank and sum the
      // scores on rank 0 in data order: the same bytes.
      {{"score", "-m", start, "-i", data, "--average"}, 0, MIXFIT_MODEL_BINARY},
      {{"posteriors", "-m", start, "-i", data}, 0, MIXFIT_MODEL_BINARY},
      {{"score", "-m", other, "-i", data}, 3, MIXFIT_MODEL_BINARY},
      // Each row's line is the file's, from any share, also of a pipe; the
      // skipped lines are those of the whole file.
      {{"classify", "-m", start, "-i", some, "--line-numbers"}, 0, MIXFIT_MODEL_BINARY},
      {{"score", "-m", start, "-i", pipe, "--line-numbers"}, 0, MIXFIT_MODEL_BINARY},
      // Without vectors, on every rank.
      {{"score", "-m", start, "-i", comments}, 2, MIXFIT_MODEL_BINARY},
      {{"score", "-m", start, "-i", quiet}, 2, MIXFIT_MODEL_BINARY},
      {{"-i", comments, "-o", model, "-s", start, "-I", "0"}, 2},
  };
  // Runs each alone and at 1 to 4 ranks: every run ends with the given
  // status, the same output (but for the time taken) and messages; the
  // model, where one process writes it, the same bytes at 1 rank and the
  // same numbers at more; none where one process writes none. An input read
  // from the pipe gets the data anew for every run.
  for (Case const& c : cases) {
    ProgramResult alone;
    std::string written;
    auto const feed = [&](int) {
      if (std::count(c.arguments.begin(), c.arguments.end(), pipe))
        std::ofstream(pipe) << ReadFile(data);
      if (std::count(c.arguments.begin(), c.arguments.end(), quiet)) std::ofstream(quiet) << "%\n";
    };
    for (int ranks = 0; ranks <= 4; ++ranks) {
      SCOPED_TRACE(std::to_string(ranks) + " ranks, " + testing::PrintToString(c.arguments));
      std::remove(model.c_str());  // whatever a run before left
      ProgramResult const result = RunAt(ranks, c.arguments, c.program, "MIXFIT_SEED=5", feed);
      if (ranks == 0) {
        alone = result;
        written = ReadFile(model);
      }
      EXPECT_EQ(result.status, c.status) << result.err;
      EXPECT_EQ(result.err, alone.err);
      EXPECT_EQ(Masked(result.out), Masked(alone.out));
      EXPECT_EQ(Exists(model), !written.empty());
      std::string const again = ReadFile(model);
      EXPECT_TRUE(ranks > 1 ? CloseModels(written, again)
                            : testing::AssertionResult(again == written) << "other bytes");
    }
  }
  // fit runs in one process only: refused under several ranks, once.
  std::remove(model.c_str());
  ProgramResult const fit =
      RunAt(2, {"fit", "-i", data, "-o", model, "-k", "2"}, MIXFIT_MODEL_BINARY);
  EXPECT_EQ(fit.status, 1);
  EXPECT_EQ(fit.err, "Error: fit runs in one process only, not under several ranks.\n");
  EXPECT_FALSE(Exists(model));
#ifdef MIXFIT_FAULT_INJECTION
  // A rank that fails to read its share ends the run on every rank: status
  // 2, the data error once, no model.
  for (int ranks = 2; ranks <= 4; ++ranks)
    for (int failing : {0, ranks - 1}) {
      ProgramResult const run = RunAt(ranks, {"-i", data, "-o", model, "-c", "2"}, MIXFIT_BINARY,
                                      "MIXFIT_FAIL_READ_RANK=" + std::to_string(failing));
      EXPECT_EQ(run.status, 2) << ranks << " ranks, rank " << failing;
      EXPECT_EQ(run.err, "\nError reading input data file: " + data + "\n\n");
      EXPECT_FALSE(Exists(model));
    }
#endif
}

}  // namespace
