// End-to-end tests of mixfit-model's results: scores against mixfit's own
// evaluation, the information criteria, classes and responsibilities, drawn
// vectors, component distances, and tools/select-k.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cli/run_program.h"
#include "support/files.h"
#include "mixture/mixmodel.h"

namespace {

const std::string kSource = MIXFIT_SOURCE_DIR;
const std::string kFaithful = kSource + "/examples/faithful.txt";
const std::string kIris = kSource + "/examples/iris.txt";
const std::string kReference = kSource + "/tests/cli/reference/";

using ModelTest = ScratchDirectory;

// The rows of numbers of a command's output (a word that is no number
// reads as 0).
std::vector<std::vector<double>> Table(const std::string& text) {
  std::vector<std::vector<double>> rows;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    rows.emplace_back();
    for (std::string word; words >> word;)
      rows.back().push_back(std::strtod(word.c_str(), nullptr));
  }
  return rows;
}

// The "key value" lines of info.
std::map<std::string, double> Info(const std::string& text) {
  std::map<std::string, double> values;
  std::istringstream lines(text);
  for (std::string key, value; lines >> key >> value;)
    values[key] = std::strtod(value.c_str(), nullptr);
  return values;
}

TEST_F(ModelTest, ScoresAreMixfitsEvaluation) {
  struct Case {
    std::string data, model;
    std::vector<std::string> floor;
  } const cases[] = {
      {kFaithful, "faithful-full.model", {}},
      {kFaithful, "faithful-diagonal-trace.model", {}},
      {kIris, "iris-full-iterations.model", {}},
      {kIris, "iris-no-update-threshold.model", {}},
      // A floor that raises variances: the data variance itself.
      {kFaithful, "faithful-full.model", {"-v", "1"}},
      {kIris, "iris-no-update-threshold.model", {"-v", "1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.model + (c.floor.empty() ? "" : " -v 1"));
    std::string const model = kReference + c.model;
    auto run = [&](std::vector<std::string> words, bool model_program) {
      words.insert(words.end(), c.floor.begin(), c.floor.end());
      ProgramResult result = model_program ? RunMixfitModel(words) : RunMixfit(words);
      EXPECT_EQ(result.status, 0) << result.err;
      EXPECT_EQ(result.err, "");
      return result.out;
    };
    std::string const evaluated = run({"-i", c.data, "-s", model, "-o", "x", "-I", "0"}, false);
    EXPECT_EQ(run({"score", "-m", model, "-i", c.data, "--average"}, true), evaluated);

    std::vector<std::vector<double>> scores =
        Table(run({"score", "-m", model, "-i", c.data}, true));
    std::map<std::string, double> info = Info(run({"info", "-m", model, "-i", c.data}, true));
    double sum = 0.0;
    for (const std::vector<double>& row : scores) sum += row.at(0);
    EXPECT_EQ(info["vectors"], scores.size());
    EXPECT_NEAR(sum / scores.size(), info["average_log_likelihood"], 1e-12);
  }
}

TEST_F(ModelTest, InfoWorkedOutByHand) {
  // Variance 1 at 0 and at 2, weights 1 and 1 normalised to 1/2, on the data
  // 0 and 2: at either vector the density is (1 + e^-2) / (2 sqrt(2 pi)), so
  // ln L = 2 (ln(1 + e^-2) - ln 2 - ln(2 pi) / 2); p = 1 + 2 * 2 = 5, N = 2.
  std::string const model = WriteFile("m.txt", "2\n1\n0\n1\n1\n1\n2\n1\n1\n");
  double const lnL =
      2 * (std::log(1 + std::exp(-2.0)) - std::log(2.0) - 0.5 * std::log(6.283185307179586));
  ProgramResult run = RunMixfitModel({"info", "-m", model, "-i", WriteFile("d.txt", "0\n2\n")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out.substr(0, run.out.find("vectors")),
            "components 2\ndimension 1\ncovariance diagonal\nparameters 5\n");
  std::map<std::string, double> info = Info(run.out);
  EXPECT_EQ(info["vectors"], 2);
  EXPECT_NEAR(info["log_likelihood"], lnL, 1e-14);
  EXPECT_NEAR(info["average_log_likelihood"], lnL / 2, 1e-14);
  EXPECT_NEAR(info["bic"], -2 * lnL + 5 * std::log(2.0), 1e-13);
  EXPECT_NEAR(info["aic"], -2 * lnL + 10, 1e-13);
  // Full, without data: p = K - 1 + Kd + Kd(d + 1) / 2 = 2 + 12 + 30.
  run = RunMixfitModel({"info", "-m", kReference + "iris-full-iterations.model"});
  EXPECT_EQ(run.out, "components 3\ndimension 4\ncovariance full\nparameters 44\n");
}

TEST_F(ModelTest, ClassesAreTheLargestResponsibilities) {
  for (std::string model : {"iris-full-iterations.model", "iris-no-update-threshold.model"}) {
    SCOPED_TRACE(model);
    model = kReference + model;
    std::vector<std::vector<double>> classes =
        Table(RunMixfitModel({"classify", "-m", model, "-i", kIris}).out);
    std::vector<std::vector<double>> table =
        Table(RunMixfitModel({"posteriors", "-m", model, "-i", kIris}).out);
    ASSERT_EQ(classes.size(), 150u);
    ASSERT_EQ(table.size(), 150u);
    for (size_t n = 0; n < table.size(); ++n) {
      const std::vector<double>& row = table[n];
      ASSERT_EQ(row.size(), 3u);
      EXPECT_NEAR(row[0] + row[1] + row[2], 1.0, 1e-12) << n;
      auto largest = std::max_element(row.begin(), row.end());
      EXPECT_EQ(classes[n], std::vector<double>({largest - row.begin() + 1.0, *largest})) << n;
      // The first 50 flowers, Iris setosa, stand apart from the others.
      EXPECT_EQ(classes[n][0] == classes[0][0], n < 50) << n;
    }
  }
}

TEST_F(ModelTest, DistancesAreSymmetricWithZerosOnTheDiagonal) {
  // Variance 1 at 0 and at 2: (2 - 0)^2 / 8.
  ProgramResult run =
      RunMixfitModel({"distances", "-m", WriteFile("m.txt", "2\n1\n0\n1\n1\n1\n2\n1\n1\n")});
  EXPECT_EQ(run.out, "0 0.5\n0.5 0\n");
}

// Weights 0.3 and 0.7, means (0, 0) and (5, 3), covariances 1 0.5 / 0.5 2
// and 0.5 -0.2 / -0.2 0.3.
const char kTwoFull[] = "2 0\n0.3 0\n0 0\n2 0\n1 0.5\n0.5 2\n0.7 0\n5 3\n2 0\n0.5 -0.2\n-0.2 0.3\n";
const double kWeights[2] = {0.3, 0.7};
const double kMeans[2][2] = {{0, 0}, {5, 3}};
const double kCovariances[2][2][2] = {{{1, 0.5}, {0.5, 2}}, {{0.5, -0.2}, {-0.2, 0.3}}};

TEST_F(ModelTest, DrawnVectorsFollowTheModel) {
  // 10^5 draws. Every bound is 5 standard errors: for the share of a
  // component sqrt(w (1 - w) / n); for mean i of a component drawn n_k times
  // sqrt(S_ii / n_k); for covariance ij sqrt((S_ii S_jj + S_ij^2) / n_k), the
  // standard error of a normal sample covariance.
  std::string const model = WriteFile("two.txt", kTwoFull);
  RunSettings const seed = {{"MIXFIT_SEED=11"}};
  ProgramResult labelled =
      RunMixfitModel({"sample", "-m", model, "-n", "100000", "--labels"}, seed);
  std::vector<std::vector<double>> rows = Table(labelled.out);
  ASSERT_EQ(rows.size(), 100000u) << labelled.err;
  for (int k = 0; k < 2; ++k) {
    SCOPED_TRACE(k);
    std::vector<std::vector<double>> x;
    for (const std::vector<double>& row : rows)
      if (row[0] == k + 1) x.push_back({row[1], row[2]});
    double const n = x.size();
    EXPECT_NEAR(n / rows.size(), kWeights[k], 5 * std::sqrt(0.21 / rows.size()));
    double const(&S)[2][2] = kCovariances[k];
    double mean[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
      for (const std::vector<double>& v : x) mean[i] += v[i] / n;
      EXPECT_NEAR(mean[i], kMeans[k][i], 5 * std::sqrt(S[i][i] / n)) << i;
      for (int j = 0; j <= i; ++j) {
        double covariance = 0.0;
        for (const std::vector<double>& v : x)
          covariance += (v[i] - mean[i]) * (v[j] - mean[j]) / n;
        EXPECT_NEAR(covariance, S[i][j],
                    5 * std::sqrt((S[i][i] * S[j][j] + S[i][j] * S[i][j]) / n));
      }
    }
  }

  // The same seed draws the same vectors, with or without the labels.
  ProgramResult again = RunMixfitModel({"sample", "-m", model, "-n", "100000"}, seed);
  std::string unlabelled;
  std::istringstream lines(labelled.out);
  for (std::string line; std::getline(lines, line);) unlabelled += line.substr(2) + "\n";
  EXPECT_TRUE(again.out == unlabelled);
  // Seed 1, worked out by an independent implementation of the draws.
  EXPECT_EQ(RunMixfitModel({"sample", "-m", model, "-n", "3", "--labels"}, {{"MIXFIT_SEED=1"}}).out,
            "1 -0.51633441868505159 -0.041982352208668416\n"
            "1 0.78918877611049598 -0.25551824071416634\n"
            "2 4.7482531043140508 3.0223150292010805\n");

  // mixfit finds the model again in the draws.
  std::string const fitted = Path("fitted.txt");
  ProgramResult fit = RunMixfit(
      {"-i", WriteFile("draws.txt", again.out), "-o", fitted, "-c", "2", "-f", "-r", "3"}, seed);
  MixtureModel found;
  MixtureModelFileFormat format;
  ASSERT_EQ(found.Read(fitted.c_str(), format), MM_FILE_OK) << fit.err;
  ASSERT_EQ(found.count, 2);
  int const first = found.components[0]->mean(0, 0) < found.components[1]->mean(0, 0) ? 0 : 1;
  for (int k = 0; k < 2; ++k) {
    MixtureComponent const& c = *found.components[k == 0 ? first : 1 - first];
    EXPECT_NEAR(c.weight, kWeights[k], 0.01) << k;
    for (int i = 0; i < 2; ++i) {
      EXPECT_NEAR(c.mean(0, i), kMeans[k][i], 0.03) << k << i;
      for (int j = 0; j < 2; ++j) EXPECT_NEAR(c.covariance(i, j), kCovariances[k][i][j], 0.05);
    }
  }
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
  for (int k = 1; k <= 4; ++k) {
    ASSERT_GE(table[k].size(), 5u);
    EXPECT_EQ(table[k][0], k);
    EXPECT_EQ(table[k][2], 6 * k - 1);  // full, d = 2: k - 1 + 2k + 3k
    if (table[k][3] < table[best][3]) best = k;
  }
  EXPECT_NE(run.out.find("Lowest BIC: K = " + std::to_string(best) + "; its model is in " + kept),
            std::string::npos);
  EXPECT_EQ(Info(RunMixfitModel({"info", "-m", kept}).out)["components"], best);
}

}  // namespace
