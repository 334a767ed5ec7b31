// End-to-end tests of mixfit-model: scores against mixfit's own evaluation,
// the information criteria, classes, drawn vectors, tools/select-k, and the
// command line with its refusals.

#include <numeric>
#include <sstream>
#include <tuple>

#include "cli/run_program.h"
#include "support/files.h"

namespace {

const std::string kSource = MIXFIT_SOURCE_DIR;
const std::string kFaithful = kSource + "/examples/faithful.txt";
const std::string kIris = kSource + "/examples/iris.txt";
const std::string kReference = kSource + "/tests/cli/reference/";
// Variance 1 at 0 and at 2, weights 1 and 1 normalised to 1/2.
const char kTwoUnit[] = "2\n1\n0\n1\n1\n1\n2\n1\n1\n";

using ModelTest = ScratchDirectory;

// A 2-d component record of weight 1: its type, covariance (two variances
// or four elements) and mean, to 17 digits.
std::string Record(bool full, std::vector<double> const& covariance,
                   std::vector<double> const& mean = {0, 0}) {
  std::ostringstream text;
  text.precision(17);
  text << "1\n" << mean[0] << " " << mean[1] << "\n" << (full ? 2 : 1) << " 0\n";
  for (size_t i = 0; i < covariance.size(); ++i) text << covariance[i] << (i % 2 ? "\n" : " ");
  return text.str();
}

TEST_F(ModelTest, ScoresAreMixfitsEvaluationAndClassesTheLargestPosteriors) {
  // Full and diagonal, and a floor that raises variances (the data variance).
  for (std::vector<std::string> c : std::vector<std::vector<std::string>>{
           {kFaithful, "faithful-full.model"},
           {kFaithful, "faithful-diagonal-trace.model"},
           {kIris, "iris-full-iterations.model"},
           {kIris, "iris-no-update-threshold.model", "-v", "1"}}) {
    SCOPED_TRACE(c[1]);
    std::string const model = kReference + c[1];
    auto run = [&](std::vector<std::string> words, bool model_program = true) {
      words.insert(words.end(), c.begin() + 2, c.end());
      return Out(words, {}, model_program);
    };
    EXPECT_EQ(run({"score", "-m", model, "-i", c[0], "--average"}),
              run({"-i", c[0], "-s", model, "-o", "x", "-I", "0"}, false));
    std::vector<std::vector<double>> scores = Table(run({"score", "-m", model, "-i", c[0]}));
    double sum = 0.0;
    for (const std::vector<double>& row : scores) sum += row.at(0);
    EXPECT_NEAR(sum / scores.size(),
                Info(run({"info", "-m", model, "-i", c[0]}))["average_log_likelihood"], 1e-12);

    std::vector<std::vector<double>> classes = Table(run({"classify", "-m", model, "-i", c[0]}));
    std::vector<std::vector<double>> table = Table(run({"posteriors", "-m", model, "-i", c[0]}));
    ASSERT_EQ(classes.size(), scores.size());
    ASSERT_EQ(table.size(), scores.size());
    for (size_t n = 0; n < table.size(); ++n) {
      const std::vector<double>& row = table[n];
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
  EXPECT_EQ(out.substr(0, out.find("vectors")),
            "components 2\ndimension 1\ncovariance diagonal\nparameters 5\n");
  std::map<std::string, double> info = Info(out);
  EXPECT_EQ(info["vectors"], 2);
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
  // Bhattacharyya: (2 - 0)^2 / 8.
  EXPECT_EQ(Out({"distances", "-m", model}), "0 0.5\n0.5 0\n");
}

// At scales where the determinants overflow or underflow, the distance of
// a I and b I (d = 2) is still e'e / (8 s) + ln(s / sqrt(a b)), s = (a + b) / 2.
// A covariance that is not positive definite is refused.
TEST_F(ModelTest, DistancesAtAnyScaleOfPositiveDefiniteCovariances) {
  struct {
    double a, b;
    std::vector<double> e;  // the difference of the means
  } const cases[] = {{1e300, 2e300, {3e150, -1e150}}, {1e-170, 1e-160, {1e-85, -3e-80}}};
  for (auto const& c : cases)
    for (bool full : {false, true}) {
      auto identity = [full](double v) {
        return full ? std::vector<double>{v, 0, 0, v} : std::vector<double>{v, v};
      };
      std::string const model = WriteFile(
          "m.txt", "2\n" + Record(full, identity(c.a)) + Record(full, identity(c.b), c.e));
      double const s = (c.a + c.b) / 2;
      double const expected = (c.e[0] * c.e[0] + c.e[1] * c.e[1]) / (8 * s) +
                              std::log(s / std::sqrt(c.a) / std::sqrt(c.b));
      std::vector<std::vector<double>> const table = Table(Out({"distances", "-m", model}));
      ASSERT_EQ(table.size(), 2u);
      EXPECT_NEAR(table[0][1], expected, 1e-12) << c.a << " " << c.e[0] << " " << full;
      EXPECT_EQ(table, (std::vector<std::vector<double>>{{0, table[0][1]}, {table[0][1], 0}}));
    }
  std::string const unit = Record(false, {1, 1}), fullUnit = Record(true, {1, 0, 0, 1});
  std::pair<std::string, int> const refusals[] = {{unit + Record(false, {0, 1}), 2},
                                                  {Record(false, {1, -1}) + unit, 1},
                                                  {Record(true, {1, 2, 2, 1}) + fullUnit, 1},
                                                  {fullUnit + Record(true, {1, 0, 0, -1e-300}), 2}};
  for (auto const& [records, component] : refusals) {
    ProgramResult run = RunMixfitModel({"distances", "-m", WriteFile("r.txt", "2\n" + records)});
    EXPECT_EQ(run.status, 3) << records;
    EXPECT_EQ(run.err, "Error: the covariance of component " + std::to_string(component) +
                           " is not positive definite.\n");
    EXPECT_EQ(run.out, "");
  }
}

// A NaN weight is refused as a negative one, by both programs; finite
// weights whose sum overflows give what equal weights give.
TEST_F(ModelTest, NaNWeightsAreRefusedAndHugeWeightsNormalised) {
  std::string const data = WriteFile("d.txt", "0\n2\n0.5\n"), out = Path("out.txt");
  for (std::string weight : {"nan", "-NaN", "-1"}) {
    std::string const model = WriteFile("w.txt", "2\n" + weight + "\n0\n1\n1\n1\n2\n1\n1\n");
    for (ProgramResult const& run : {RunMixfitModel({"score", "-m", model, "-i", data}),
                                     RunMixfit({"-i", data, "-s", model, "-o", out})}) {
      EXPECT_EQ(run.status, 3) << weight;
      EXPECT_NE(run.err.find("\nError reading input solution: " + model), std::string::npos);
      EXPECT_FALSE(Exists(out));
    }
  }
  std::string const huge = WriteFile("h.txt", "2\n1e308\n0\n1\n1\n1e308\n2\n1\n1\n");
  std::string const half = WriteFile("e.txt", "2\n0.5\n0\n1\n1\n0.5\n2\n1\n1\n");
  for (std::vector<std::string> const& command : std::vector<std::vector<std::string>>{
           {"score", "-i", data}, {"posteriors", "-i", data}, {"sample", "-n", "20"}}) {
    auto run = [&](std::string const& model) {
      std::vector<std::string> arguments = command;
      arguments.insert(arguments.end(), {"-m", model});
      return Out(arguments, {{"MIXFIT_SEED=1"}});
    };
    EXPECT_EQ(run(huge), run(half)) << command[0];
  }
  EXPECT_EQ(Out({"-i", data, "-s", huge, "-o", out, "-I", "0"}, {}, false),
            Out({"-i", data, "-s", half, "-o", out, "-I", "0"}, {}, false));
}

// The same seed draws the same vectors, with or without the labels; seed 1
// gives the same vectors on any platform.
TEST_F(ModelTest, DrawnVectorsRepeatAndAreKnown) {
  // Weights 0.3 and 0.7, means (0, 0) and (5, 3), covariances 1 0.5 / 0.5 2 and
  // 0.5 -0.2 / -0.2 0.3.
  std::string const model = WriteFile(
      "two.txt", "2 0\n0.3 0\n0 0\n2 0\n1 0.5\n0.5 2\n0.7 0\n5 3\n2 0\n0.5 -0.2\n-0.2 0.3\n");
  RunSettings const seed = {{"MIXFIT_SEED=11"}};
  std::string const labelled = Out({"sample", "-m", model, "-n", "1000", "--labels"}, seed);
  std::string unlabelled;
  std::istringstream lines(labelled);
  for (std::string line; std::getline(lines, line);) unlabelled += line.substr(2) + "\n";
  EXPECT_EQ(Out({"sample", "-m", model, "-n", "1000"}, seed), unlabelled);
  EXPECT_EQ(std::count(labelled.begin(), labelled.end(), '\n'), 1000);
  // A diagonal covariance draws what the same full covariance draws.
  std::string const diagonal = WriteFile("d.txt", "1 0\n1 0\n1 2\n1 0\n2 0.5\n");
  std::string const full = WriteFile("f.txt", "1 0\n1 0\n1 2\n2 0\n2 0\n0 0.5\n");
  EXPECT_EQ(Out({"sample", "-m", diagonal, "-n", "9"}, seed),
            Out({"sample", "-m", full, "-n", "9"}, seed));
  // Seed 1 on any platform, worked out by an independent implementation of the
  // 64-bit Mersenne Twister and the same conversions.
  EXPECT_EQ(RunMixfitModel({"sample", "-m", model, "-n", "3", "--labels"}, {{"MIXFIT_SEED=1"}}).out,
            "1 -0.51633441868505159 -0.041982352208668416\n"
            "1 0.78918877611049598 -0.25551824071416634\n"
            "2 4.7482531043140508 3.0223150292010805\n");
}

TEST_F(ModelTest, SelectKNamesTheLowestBicAndKeepsItsModel) {
  if (!Exists("/usr/bin/python3")) GTEST_SKIP() << "tools/select-k needs /usr/bin/python3";
  std::string const kept = Path("kept.txt");
  ProgramResult run = RunProgram((kSource + "/tools/select-k").c_str(),
                                 {kFaithful, "4", "-f", "-r", "2", "--model", kept},
                                 {{"MIXFIT_SEED=1", std::string("MIXFIT=") + MIXFIT_BINARY,
                                   std::string("MIXFIT_MODEL=") + MIXFIT_MODEL_BINARY}});
  ASSERT_EQ(run.status, 0) << run.err;
  // A heading, then K, average, p, BIC and AIC for K = 1 ... 4, the choice.
  std::vector<std::vector<double>> table = Table(run.out);
  ASSERT_EQ(table.size(), 6u) << run.out;
  int best = 1;
  for (int k = 2; k <= 4; ++k)
    if (table[k].at(3) < table[best].at(3)) best = k;
  EXPECT_NE(run.out.find("Lowest BIC: K = " + std::to_string(best) + "; its model is in " + kept),
            std::string::npos);
  EXPECT_EQ(Info(Out({"info", "-m", kept}))["components"], best);
}

TEST_F(ModelTest, RefusalsWriteNothingAndUsageTexts) {
  std::string const model = WriteFile("model.txt", "1\n1\n0 0\n2 0\n1 0\n0 1\n");
  std::string const data = WriteFile("data.txt", "1 2\n3 4\n5 7\n");
  std::string const wide = WriteFile("wide.txt", "1 2 3\n3 4 5\n5 7 8\n");
  std::string const broken = WriteFile("broken.txt", "2\n1\n0 0\n");
  std::string const missing = Path("missing.txt"), out = Path("out.txt");
  // The status, the command line and the start of the error output.
  std::vector<std::tuple<int, std::vector<std::string>, std::string>> const cases = {
      {3, {"score", "-m", missing, "-i", data}, "\nError reading input solution: " + missing},
      {3, {"info", "-m", broken}, "\nError reading input solution: " + broken},
      {2, {"classify", "-m", model, "-i", missing}, "\nError reading input data file: " + missing},
      {3,
       {"posteriors", "-m", model, "-i", wide},
       "Error: the model has dimension 2, the data dimension 3.\n"},
      {1, {"Score", "-m", model}, "Error: unknown command: Score\n\nUsage: mixfit-model COMMAND"},
      {1, {"score", "-m", model}, "Error: missing compulsory option(s).\n\nmixfit-model score: "},
      {1,
       {"score", "-m", model, "-i", data, "-n", "3"},
       "Error: unknown option: -n\n\nmixfit-model score: "}};
  std::string const before = ReadFile(data) + ReadFile(model);
  for (auto [status, arguments, err] : cases) {
    arguments.insert(arguments.end(), {"-o", out});
    SCOPED_TRACE(::testing::PrintToString(arguments));
    ProgramResult run = RunMixfitModel(arguments);
    EXPECT_EQ(run.status, status);
    EXPECT_EQ(run.err.rfind(err, 0), 0u) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(Exists(out));
  }
  EXPECT_EQ(ReadFile(data) + ReadFile(model), before);
  // The usage names every command; a command's own names its options.
  ProgramResult run = RunMixfitModel({});
  EXPECT_EQ(run.status, 1);
  for (const char* command : {"score", "classify", "posteriors", "info", "sample", "distances"})
    EXPECT_NE(run.err.find(std::string("\n  ") + command + " "), std::string::npos) << command;
  run = RunMixfitModel({"info"});  // a command alone
  EXPECT_EQ(run.err.rfind("Error: you must give the compulsory options.\n\nmixfit-model info", 0),
            0u);
  run = RunMixfitModel({"sample", "-m", "model.txt", "--help"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err.rfind("\nmixfit-model sample: ", 0), 0u) << run.err;
  EXPECT_NE(run.err.find("-n/--count integer1\n    integer1 = 1, [1, 2147483647]  (must be given)"),
            std::string::npos);
  EXPECT_NE(run.err.find("\n  --labels \n"), std::string::npos);
  EXPECT_EQ(run.err.find("-i/--input"), std::string::npos);
}

}  // namespace
