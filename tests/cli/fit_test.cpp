// The program end to end, off the beaten path of the recorded runs: every
// exit status with its message, on hostile and degenerate input (files that
// are empty, faulty, huge or absurd, paths that are no regular files, numbers
// at the edges of double, broken models, memory running out) and on command
// lines beyond the program's bounds or against its rules. No run is ended
// by a signal, and none leaves a model file behind a failure.
#include <unistd.h>

#include "cli/run_program.h"
#include "support/files.h"

#if defined(__SANITIZE_THREAD__)
const bool kThreadSanitizer = true;
#else
const bool kThreadSanitizer = false;
#endif

namespace {

// Rows lines of columns numbers, (row * step + column) % mod, the last line
// without a feed.
std::string Grid(int rows, int columns, int step, int mod) {
  std::string text;
  for (int row = 0; row < rows; ++row, text += row < rows ? "\n" : "")
    for (int j = 0; j < columns; ++j) text += std::to_string((row * step + j) % mod) + " ";
  return text;
}

class FitTest : public ScratchDirectory {
 protected:
  std::string Model() const { return Path("model.txt"); }

  // Runs the program; its memory stays bounded (generously: the sanitizers
  // take several times more), and the build date in the banner is masked.
  ProgramResult Run(std::vector<std::string> arguments, std::vector<std::string> environment = {},
                    long long address_space = 0) const {
    ProgramResult run = RunMixfit(arguments, {environment, address_space});
    EXPECT_NE(run.status, -1) << "ended by a signal:\n" << run.err;
    EXPECT_LT(run.peak_kb, (kThreadSanitizer ? 4 : 1) * 1024 * 1024);
    run.err = Masked(run.err);
    return run;
  }
};

// Each run is given "-o model" first (its own -o takes precedence) and leaves
// no model file, and no standard output unless a fit ran. Evaluating a given
// solution (status 0 below) writes nothing, so it may name its data as output
// and needs no variance. Memory running out ends the run with the status of
// its phase and a line that says so, not with an abort.
TEST_F(FitTest, EveryFailureEndsWithItsStatusAndMessage) {
  std::string data = WriteFile("data.txt", "1 2\n3 4\n5 7\n"), given = Path("given.txt");
  std::string link = Path("link.txt"), missing = Path("missing.txt");
  ASSERT_EQ(RunMixfit({"-i", data, "-o", given}, {{"MIXFIT_SEED=4294967295"}}).status, 0);
  ASSERT_EQ(symlink(data.c_str(), link.c_str()), 0);
  std::string empty = WriteFile("empty.txt", ""), comments = WriteFile("comments.txt", "% a\n");
  std::string constant = WriteFile("constant.txt", "5 -1\n5 -2\n5 -1\n5 -3\n");
  // A long comment, then one column more than full covariances can have,
  // the last line without a feed.
  std::string columns =
      WriteFile("columns.txt", "% " + std::string(1 << 16, 'x') + "\n" + Grid(3, 46341, 7, 10));
  std::string usage = ReadFile(kReference + "help.err");
  std::string large = "Data values are too large: their squares or variances are not finite.\n";
  std::string flat = " of the data has no variance, so no density can be fitted.\n";
  std::string few = "\nError: more components than unique points (", tiny2 = "0.0000152587890625";
  // 3 x 20000: a full covariance of 3.2 GB; 60 x 2000, 50 of 1.6 GB.
  std::string wide = WriteFile("wide.txt", Grid(3, 20000, 7, 10));
  std::string many = WriteFile("many.txt", Grid(60, 2000, 13, 97));
  struct Case {
    int status;
    std::string message;
    std::vector<std::string> arguments;
    std::string seed = "";
    long long address_space = 0;  // when limited, the message is the whole end
  } cases[] = {
      {0, "", {"-i", data, "-s", given, "-o", data, "-I", "0"}},
      {0, "", {"-i", constant, "-s", given, "-I", "0"}},
      {1, "", {"--help", "-c", "0"}},
      {1, "Error: bad double value: nan\n", {"-i", data, "-v", "nan"}},  // beyond the parser
      {1, "", {"-i", data, "-s", given, "-c", "1"}},
      {1, "", {"-i", data, "-s", given, "-r", "2"}},
      {1, "", {"-i", data, "--full", "--full", "-s", given}},  // off again, but given
      {1, "", {"-i", data, "-I", "0", "-t", "0.5"}},
      {1, "Error: bad value of MIXFIT_SEED: abc\n", {"-i", data}, "abc"},
      // The bounds themselves are accepted, so these go on to the data.
      {2, "", {"-i", missing, "-v", tiny2, "-c", "1000000", "-I", "1000", "-r", "1,100,1"}},
      {2, "", {"-i", missing, "-t", tiny2, "-r", "1000000,0,no", "-v", "1"}},
      {2, "", {"-i", "/dev/zero"}},  // an endless line
      {2, "", {"-i", directory_}},
      // The variance overflows; the square of the mean; the squares.
      {2, large, {"-i", WriteFile("l1.txt", "1e308 1\n-1e308 2\n0 3\n")}},
      {2, large, {"-i", WriteFile("l2.txt", "1e300 1\n1e300 2\n"), "-f"}},
      {2, large, {"-i", WriteFile("l3.txt", "1e155 1\n-1e155 2\n3 3\n"), "-f"}},
      {2, "Dimension 46341 is too large for full covariance matrices.\n", {"-i", columns, "-f"}},
      {2, "Column 1" + flat, {"-i", constant}},
      {2, "Column 1" + flat, {"-i", constant, "-s", given}},
      // Squares underflow.
      {2, "Column 2" + flat, {"-i", WriteFile("tiny.txt", "1 1e-200\n2 2e-200\n3 4e-200\n")}},
      {2, "Column 1" + flat, {"-i", WriteFile("one.txt", "1 2 3\n")}},
      // A model needs vectors to be evaluated on; random starts need them
      // to be placed on (status 5 below).
      {2, "The data file holds no vectors.\n", {"-i", empty, "-s", given}},
      {2, "The data file holds no vectors.\n", {"-i", comments, "-s", given, "-I", "0"}},
      {3, "", {"-i", data, "-s", missing}},
      {3, "", {"-i", data, "-s", empty}},
      // Another dimension (weights that are not finite: ModelTest's refusals).
      {3, "", {"-i", data, "-s", WriteFile("other.txt", "1\n1\n1 0 0\n1 0 0\n1 1 1\n")}},
      {4, "", {"-i", data, "-o", Path("no/model")}},
      {4, "", {"-i", data, "-o", "/dev/full"}},
      {4, "The output file is the input data file.\n", {"-i", data, "-o", data}},
      {4, "The output file is the input data file.\n", {"-i", data, "-o", link, "-c", "2"}},
      {5,
       "\nWarning: probably too few data vectors (0) or too many components (1)\n"
       "  for data of dimensionality 0.\n  Data / components ratio is 0.000000.\n\n" +
           few + "0).\n",
       {"-i", comments}},
      {5, few + "3).\n", {"-i", WriteFile("twice.txt", "1 1\n1 1\n2 2\n3 3\n2 2\n"), "-c", "4"}},
      // Huge counts fail at once, before any component is made.
      {5, few + "3).\n", {"-i", data, "-c", "1000000", "-f", "-r", "1000000"}},
      {2,
       "Out of memory while reading the data.\n\nError reading input data file: " + wide + "\n\n",
       {"-i", wide, "-f"},
       "",
       1LL << 30},
      {2, "Out of memory while training.\n", {"-i", many, "-f", "-c", "50"}, "", 1LL << 30}};
  // Status 1 ends with the usage (unless the seed is at fault), 2 with the
  // data file, 3 with the initial solution and 4 with the output file named.
  auto after = [](std::vector<std::string> const& words, char const* option) {
    return *(std::find(words.begin(), words.end(), option) + 1);
  };
  EXPECT_EQ(Run({"--help", "-c", "0"}).err, usage);  // also as the first argument
  std::string before = ReadFile(data);
  for (const Case& c : cases) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    if (c.address_space > 0) continue;  // the sanitizers reserve more than that
#endif
    SCOPED_TRACE(::testing::PrintToString(c.arguments));
    std::string end =
        c.address_space > 0               ? ""
        : c.status == 1 && c.seed.empty() ? usage
        : c.status == 2 ? "\nError reading input data file: " + after(c.arguments, "-i") + "\n\n"
        : c.status == 3 ? "\nError reading input solution: " + after(c.arguments, "-s") + "\n"
        : c.status == 4 ? "\nError writing output to: " + after(c.arguments, "-o") + "\n"
                        : "";
    std::vector<std::string> arguments = c.arguments;
    arguments.insert(arguments.begin(), {"-o", Model()});
    ProgramResult run = Run(arguments, {"MIXFIT_SEED=" + c.seed}, c.address_space);
    EXPECT_EQ(run.status, c.status) << run.err;
    std::string const message = c.message + end;
    EXPECT_EQ(run.err.substr(run.err.size() - std::min(message.size(), run.err.size())), message);
    EXPECT_TRUE(c.status != 1 || !c.message.empty() || run.err == usage) << run.err;
    EXPECT_TRUE(c.status == 0 || c.status == 4 || run.out.empty()) << run.out;
    EXPECT_FALSE(Exists(Model()));
    EXPECT_EQ(ReadFile(data), before);
  }
}

// A solution without components is refined into a model without components.
TEST_F(FitTest, EmptySolution) {
  std::string data = WriteFile("data.txt", "1 2\n3 4\n5 7\n");
  EXPECT_EQ(Run({"-i", data, "-s", WriteFile("none.txt", "0\n"), "-o", Model()}).status, 0);
  EXPECT_EQ(ReadFile(Model()), "% Plain Matlab-readable\n0\n");
}

// EM's scratch grows with the components and the moments, not with their
// squares: a full fit of dimension 120 stays within a few megabytes.
TEST_F(FitTest, FullFitOfDimension120StaysSmall) {
  DataSet set(120, ClusteredValues(300, 120, 2, 5));
  ASSERT_EQ(set.storage.Write(Path("wide.txt").c_str()), 0);
  ProgramResult run =
      Run({"-i", Path("wide.txt"), "-o", Model(), "-f", "-c", "2", "-I", "2", "-r", "1,0"},
          {"MIXFIT_SEED=1"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_LT(run.peak_kb, (kThreadSanitizer ? 4 : 1) * 64 * 1024);
}

}  // namespace
