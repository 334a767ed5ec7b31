// End-to-end tests of mixfit-model fit: its models read back by the other
// commands, the same model for the same seed, and its refusals.

#include <tuple>

#include "cli/run_program.h"
#include "support/files.h"

namespace {

using ModelFitTest = ScratchDirectory;

// Each kind of covariance, written as mixfit writes models: the printed
// average log likelihood is what score gives on the written file without a
// floor (the file keeps 6 digits of the weights). The seed fixes the model.
TEST_F(ModelFitTest, ModelsReadBackByTheOtherCommands) {
  for (const char* kind : {"full", "diag", "spherical", "tied"}) {
    std::string const model = Path(std::string(kind) + ".txt");
    std::vector<std::string> const fit = {"fit", "-i",           kIris, "-o",       model, "-k",
                                          "3",   "--covariance", kind,  "--n-init", "2",   "--seed",
                                          "7"};
    double const printed = std::stod(Out(fit));
    double const score =
        std::stod(Out({"score", "-m", model, "-i", kIris, "--average", "-v", "0"}));
    EXPECT_NEAR(score, printed, 1e-5 * std::fabs(printed)) << kind;
    std::string const text = ReadFile(model);
    EXPECT_EQ(Out(fit), Out(fit)) << kind;
    EXPECT_EQ(ReadFile(model), text) << kind;
    // After the comment line and the count: the first component's weight,
    // mean, then its type; spherical and tied ones are written as diagonal
    // and full ones (their ties are the step's tests' matter).
    std::vector<std::vector<double>> const rows = Table(text.substr(text.find('\n') + 1));
    EXPECT_EQ(rows.at(3).at(0), kind[0] == 'f' || kind[0] == 't' ? 2 : 1);
  }
}

// Refusals: the status, a message, and no model written.
TEST_F(ModelFitTest, RefusalsWriteNothing) {
  std::string const model = Path("model.txt"), two = WriteFile("two.txt", "1 2\n1 2\n3 4\n");
  std::string const start = WriteFile("start.txt", "1 0\n1 0\n0 0\n1 0\n1 1\n");
  std::tuple<std::vector<std::string>, int, std::string> const cases[] = {
      {{"-i", two, "-o", model, "-k", "3"}, 5, "more components than unique points (2)"},
      {{"-i", two, "-o", two, "-k", "1"}, 4, "is the input data file"},
      {{"-i", two, "-o", start, "-k", "1", "--init-model", start}, 4, "is the model file"},
      {{"-i", two, "-o", model, "-k", "2", "--init-model", start}, 3, "has 1 components, not 2"},
      {{"-i", kIris, "-o", model, "-k", "1", "--init-model", start}, 3, "Error reading input"},
      {{"-i", Path("missing"), "-o", model, "-k", "1"}, 2, "No such file"},
      {{"-i", two, "-o", model, "-k", "1", "--tol", "nan"}, 1, "must be numbers"},
      {{"-i", two, "-o", model, "-k", "1", "--seed", "x"}, 1, "bad value of --seed: x"},
      {{"-i", two, "-k", "1"}, 1, "compulsory"}};
  for (auto const& [arguments, status, message] : cases) {
    std::vector<std::string> words = {"fit"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    ProgramResult const run = RunMixfitModel(words);
    EXPECT_EQ(run.status, status) << message;
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    EXPECT_FALSE(Exists(model)) << message;
  }
  EXPECT_EQ(ReadFile(two), "1 2\n1 2\n3 4\n");
  EXPECT_EQ(ReadFile(start), "1 0\n1 0\n0 0\n1 0\n1 1\n");
}

// A start model gives one start without an M step first: a converged
// model refits to itself within the tolerance, and max-iter 1 warns.
TEST_F(ModelFitTest, StartModelAndConvergenceWarning) {
  std::string const first = Path("first.txt"), second = Path("second.txt");
  double const fitted = std::stod(Out({"fit", "-i", kFaithful, "-o", first, "-k", "2", "--tol",
                                       "1e-9", "--max-iter", "1000", "--seed", "1"}));
  double const refitted = std::stod(Out(
      {"fit", "-i", kFaithful, "-o", second, "-k", "2", "--init-model", first, "--tol", "1e-9"}));
  EXPECT_NEAR(refitted, fitted, 1e-6);
  ProgramResult const once = RunMixfitModel(
      {"fit", "-i", kFaithful, "-o", second, "-k", "2", "--max-iter", "1", "--seed", "1"});
  EXPECT_EQ(once.status, 0);
  EXPECT_NE(once.err.find("did not converge in 1 iterations"), std::string::npos) << once.err;
}

}  // namespace
