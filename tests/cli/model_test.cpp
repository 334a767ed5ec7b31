// End-to-end tests of mixfit-model: scores against mixfit's own evaluation,
// the information criteria, classes, drawn vectors, and the command line with
// its refusals.

#include <cerrno>
#include <cstring>
#include <numeric>
#include <sstream>
#include <tuple>

#include "cli/run_program.h"
#include "support/files.h"

namespace {

// Variance 1 at 0 and at 2, weights 1 and 1 normalised to 1/2.
const char kTwoUnit[] = "2\n1\n0\n1\n1\n1\n2\n1\n1\n";

using ModelTest = ScratchDirectory;

TEST_F(ModelTest, ScoresAreMixfitsEvaluationAndClassesTheLargestPosteriors) {
  // Full, and diagonal with a floor that raises variances (the data
  // variance); the library's tests compare the two evaluations per type.
  for (std::vector<std::string> c : std::vector<std::vector<std::string>>{
           {kFaithful, "faithful-full.model"},
           {kIris, "iris-no-update-threshold.model", "-v", "1"}}) {
    SCOPED_TRACE(c[1]);
    std::string const model = kReference + c[1];
    auto run = [&](std::vector<std::string> words, bool model_program = true) {
      words.insert(words.end(), c.begin() + 2, c.end());
      return Out(words, {}, model_program);
    };
    EXPECT_EQ(run({"score", "-m", model, "-i", c[0], "--average"}),
              run({"-i", c[0], "-s", model, "-o", "x", "-I", "0"}, false));
    auto const scores = Table(run({"score", "-m", model, "-i", c[0]}));
    auto const classes = Table(run({"classify", "-m", model, "-i", c[0]}));
    auto const posteriors = Table(run({"posteriors", "-m", model, "-i", c[0]}));
    double sum = 0.0;
    for (const std::vector<double>& row : scores) sum += row.at(0);
    EXPECT_NEAR(sum / scores.size(),
                Info(run({"info", "-m", model, "-i", c[0]}))["average_log_likelihood"], 1e-12);
    ASSERT_EQ(classes.size(), scores.size());
    ASSERT_EQ(posteriors.size(), scores.size());
    for (size_t n = 0; n < posteriors.size(); ++n) {
      const std::vector<double>& row = posteriors[n];
      EXPECT_NEAR(std::accumulate(row.begin(), row.end(), 0.0), 1.0, 1e-12) << n;
      auto largest = std::max_element(row.begin(), row.end());
      EXPECT_EQ(classes[n], std::vector<double>({largest - row.begin() + 1.0, *largest})) << n;
    }
  }
}

TEST_F(ModelTest, InfoAndDistancesWorkedOutByHand) {
  // On the data 0 and 2 the density at either vector is (1 + e^-2) / (2 sqrt(2 pi)),
  // so ln L = 2 (ln(1 + e^-2) - ln 2 - ln(2 pi) / 2); p = 1 + 2 * 2 = 5, N = 2.
  std::string const model = WriteFile("m.txt", kTwoUnit);
  double const lnL =
      2 * (std::log(1 + std::exp(-2.0)) - std::log(2.0) - 0.5 * std::log(6.283185307179586));
  std::string const out = Out({"info", "-m", model, "-i", WriteFile("d.txt", "0\n2\n")});
  EXPECT_EQ(out.substr(0, out.find("log")),
            "components 2\ndimension 1\ncovariance diagonal\nparameters 5\nvectors 2\naverage_");
  std::map<std::string, double> info = Info(out);
  EXPECT_NEAR(info["log_likelihood"], lnL, 1e-14);
  EXPECT_NEAR(info["average_log_likelihood"], lnL / 2, 1e-14);
  EXPECT_NEAR(info["bic"], -2 * lnL + 5 * std::log(2.0), 1e-13);
  EXPECT_NEAR(info["aic"], -2 * lnL + 10, 1e-13);
  // Without data, p = K - 1 + Kd + Kd(d + 1) / 2 for full ones; none for no component.
  EXPECT_EQ(Out({"info", "-m", kReference + "iris-full-iterations.model"}),
            "components 3\ndimension 4\ncovariance full\nparameters 44\n");
  EXPECT_EQ(Out({"info", "-m", WriteFile("e.txt", "0\n")}),
            "components 0\ndimension 0\ncovariance none\nparameters 0\n");
  // 1 + (2 + 2) + (2 + 3) for a diagonal and a full component of dimension 2.
  std::string const mixed = WriteFile("x.txt", "2\n1\n0 0\n1 0\n1 1\n1\n0 0\n2 0\n1 0\n0 1\n");
  EXPECT_EQ(Info(Out({"info", "-m", mixed}))["parameters"], 10);
  // Bhattacharyya between equal variances s I: e'e / (8 s), for the means 0,
  // 2 and 6 (times 2^500, s = 2^1000). The determinants overflow; the distance
  // is taken from their logs (the library's tests check them at every scale).
  std::string const three =
      WriteFile("t.txt",
                "3\n1\n0 0\n1 0\n0x1p1000 0x1p1000\n1\n0x1p501 0\n1 0\n0x1p1000 0x1p1000\n"
                "1\n0x3p501 0\n1 0\n0x1p1000 0x1p1000\n");
  EXPECT_EQ(Out({"distances", "-m", three}), "0 0.5 4.5\n0.5 0 2\n4.5 2 0\n");
}

// The same seed draws the same vectors, with or without the labels; seed 1
// gives the same vectors on any platform. Finite weights whose sum overflows
// draw as equal weights do. (The other commands and mixfit normalise in the
// preparation for the data, checked with the weights of kTwoUnit by hand and
// with huge ones in the library's tests.)
TEST_F(ModelTest, DrawnVectorsRepeatAndAreKnown) {
  // Weights 0.3 and 0.7, means (0, 0) and (5, 3), covariances 1 0.5 / 0.5 2 and
  // 0.5 -0.2 / -0.2 0.3.
  std::string const model = WriteFile(
      "two.txt", "2 0\n0.3 0\n0 0\n2 0\n1 0.5\n0.5 2\n0.7 0\n5 3\n2 0\n0.5 -0.2\n-0.2 0.3\n");
  RunSettings const seed = {{"MIXFIT_SEED=11"}};
  std::istringstream labelled(Out({"sample", "-m", model, "-n", "1000", "--labels"}, seed));
  std::string unlabelled;
  for (std::string line; std::getline(labelled, line);) unlabelled += line.substr(2) + "\n";
  EXPECT_EQ(Out({"sample", "-m", model, "-n", "1000"}, seed), unlabelled);
  // Seed 1 on any platform, worked out by an independent implementation of the
  // 64-bit Mersenne Twister and the same conversions.
  EXPECT_EQ(Out({"sample", "-m", model, "-n", "3", "--labels"}, {{"MIXFIT_SEED=1"}}),
            "1 -0.51633441868505159 -0.041982352208668416\n"
            "1 0.78918877611049598 -0.25551824071416634\n"
            "2 4.7482531043140508 3.0223150292010805\n");
  std::string const huge = WriteFile("h.txt", "2\n1e308\n0\n1\n1\n1e308\n2\n1\n1\n");
  EXPECT_EQ(Out({"sample", "-n", "20", "-m", huge}, seed),
            Out({"sample", "-n", "20", "-m", WriteFile("e.txt", kTwoUnit)}, seed));
}

TEST_F(ModelTest, RefusalsWriteNothing) {
  std::string const model = WriteFile("model.txt", "1\n1\n0 0\n2 0\n1 0\n0 1\n");
  std::string const data = WriteFile("data.txt", "1 2\n3 4\n5 7\n");
  std::string const wide = WriteFile("wide.txt", "1 2 3\n");
  std::string const nan = WriteFile("nan.txt", "1\nnan\n0 0\n1 0\n1 1\n");  // a weight refused
  // Covariances that are not positive definite: sample's first, distances' second.
  std::string const indefinite = WriteFile("i.txt", "1\n1\n0 0\n2 0\n1 2\n2 1\n");
  std::string const singular = WriteFile("s.txt", "2\n1\n0 0\n1 0\n1 1\n1\n0 0\n1 0\n0 1\n");
  std::string const empty = WriteFile("empty.txt", ""), comments = WriteFile("c.txt", "% 1 2\n\n");
  std::string const missing = Path("missing.txt"), out = Path("out.txt");
  std::string const input = "\nError reading input data file: ",
                    none = "The data file holds no vectors.\n";
  std::string const reason = std::string(std::strerror(ENOENT)) + "\n";
  std::string const solution = "\nError reading input solution: ",
                    covariance = "Error: the covariance of component ";
  // The status, the command line and the start of the error output.
  std::vector<std::tuple<int, std::vector<std::string>, std::string>> const cases = {
      {3, {"score", "-m", missing, "-i", data}, solution + missing + "\n" + reason},
      {3, {"info", "-m", nan}, solution + nan + "\n"},
      {2, {"classify", "-m", model, "-i", missing}, input + missing + "\n\n" + reason},
      {3,
       {"posteriors", "-m", model, "-i", wide},
       "Error: the model has dimension 2, the data dimension 3.\n"},
      {3, {"sample", "-m", indefinite, "-n", "1"}, covariance + "1 is not positive definite.\n"},
      {3, {"distances", "-m", singular}, covariance + "2 is not positive definite.\n"},
      // Without and with the lines of the vectors taken.
      {2, {"info", "-m", model, "-i", empty}, none + input + empty + "\n\n"},
      {2, {"posteriors", "-m", model, "-i", comments}, none + input + comments + "\n\n"},
      {1, {"Score", "-m", model}, "Error: unknown command: Score\n\nUsage: mixfit-model COMMAND"},
      {1, {"info"}, "Error: missing compulsory option(s).\n\nmixfit-model info"},
      {1, {"sample", "-m", model, "--help"}, "\nmixfit-model sample: "},
      {1, {"score", "-m", model, "-i", data, "-n", "3"}, "Error: unknown option: -n\n\nmixfit"}};
  std::string const before = ReadFile(data) + ReadFile(model);
  for (auto [status, arguments, err] : cases) {
    arguments.insert(arguments.end(), {"-o", out});
    SCOPED_TRACE(::testing::PrintToString(arguments));
    ProgramResult run = RunMixfitModel(arguments);
    EXPECT_EQ(run.status, status);
    EXPECT_EQ(run.err.rfind(err, 0), 0u) << run.err;
    EXPECT_TRUE(status == 1 || run.err == err) << run.err;  // nothing more
    EXPECT_EQ(run.out + (Exists(out) ? "written" : ""), "");
  }
  EXPECT_EQ(ReadFile(data) + ReadFile(model), before);
  // A named pipe without vectors is refused, not waited on once read.
  std::string const pipe = Path("pipe");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  RunSettings feed;
  feed.started = [&](int) { std::ofstream(pipe) << "% none\n"; };
  EXPECT_EQ(RunMixfitModel({"score", "-m", model, "-i", pipe}, feed).status, 2);
  // The largest count passes the parser: drawing stops at the first failed
  // write.
  EXPECT_EQ(RunMixfitModel({"sample", "-m", model, "-n", "1000000000", "-o", "/dev/full"}).status,
            4);
}

// Rows of the vectors of a file with comment and faulty lines: each starts
// with its vector's line with --line-numbers, and a note on the skipped lines
// follows either way (but for the one row of --average).
TEST_F(ModelTest, LineNumbersAndSkippedLines) {
  std::string const model = WriteFile("model.txt", kTwoUnit);
  std::string const data =
      WriteFile("data.txt", "% heading\n0.5\n\n1 2\n1.5\nx\n# 3\n-2\nnan\n3\n");
  std::vector<double> const numbers = {2, 5, 8, 10};  // the lines holding vectors
  std::string const note =
      "Note: 3 lines of the data file were skipped; the rows follow the 4 vectors read.\n";
  for (std::string command : {"score", "classify", "posteriors"}) {
    SCOPED_TRACE(command);
    ProgramResult const plain = RunMixfitModel({command, "-m", model, "-i", data});
    ProgramResult const numbered =
        RunMixfitModel({command, "-m", model, "-i", data, "--line-numbers"});
    EXPECT_EQ(plain.status + numbered.status, 0) << plain.err;
    EXPECT_EQ(plain.err.substr(plain.err.size() - std::min(plain.err.size(), note.size())), note);
    EXPECT_EQ(numbered.err, plain.err);
    std::vector<std::vector<double>> rows = Table(plain.out);
    ASSERT_EQ(rows.size(), numbers.size());
    for (size_t n = 0; n < rows.size(); ++n) rows[n].insert(rows[n].begin(), numbers[n]);
    EXPECT_EQ(Table(numbered.out), rows);
  }
  ProgramResult const average =
      RunMixfitModel({"score", "-m", model, "-i", data, "--average", "--line-numbers"});
  EXPECT_EQ(average.out, Out({"score", "-m", model, "-i", data, "--average"}));
  EXPECT_EQ(average.err.find("Note:"), std::string::npos);
  // Nor is there a note when no line was skipped.
  EXPECT_EQ(RunMixfitModel({"score", "-m", model, "-i", WriteFile("clean.txt", "0\n2\n")}).err, "");
}

}  // namespace
