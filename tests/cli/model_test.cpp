// End-to-end tests of mixfit-model's results: scores against mixfit's own
// evaluation, the information criteria, classes and responsibilities,
// drawn vectors and the distances between components.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cli/run_program.h"
#include "cli/scratch_directory.h"
#include "mixture/mixmodel.h"

namespace {

const std::string kSource = MIXFIT_SOURCE_DIR;
const std::string kFaithful = kSource + "/examples/faithful.txt";
const std::string kIris = kSource + "/examples/iris.txt";
const std::string kReference = kSource + "/tests/cli/reference/";

using ModelTest = ScratchDirectory;

// The rows of numbers of a command's output.
std::vector<std::vector<double>> Table(const std::string& text) {
  std::vector<std::vector<double>> rows;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream numbers(line);
    std::vector<double> row;
    for (std::string number; numbers >> number;)
      row.push_back(std::strtod(number.c_str(), nullptr));
    rows.push_back(row);
  }
  return rows;
}

// The "key value" lines of info.
std::map<std::string, std::string> Info(const std::string& text) {
  std::map<std::string, std::string> values;
  std::istringstream lines(text);
  for (std::string key, value; lines >> key >> value;) values[key] = value;
  return values;
}

double Number(const std::string& text) { return std::strtod(text.c_str(), nullptr); }

TEST_F(ModelTest, ScoresAreMixfitsEvaluation) {
  struct Case {
    std::string data, model, floor;
  } const cases[] = {
      {kFaithful, "faithful-full.model", ""},
      {kFaithful, "faithful-diagonal-trace.model", ""},
      {kIris, "iris-full-iterations.model", ""},
      {kIris, "iris-no-update-threshold.model", ""},
      // A floor that raises variances: at the data variance itself.
      {kFaithful, "faithful-full.model", "1"},
      {kIris, "iris-no-update-threshold.model", "1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.model + " -v " + c.floor);
    std::string const model = kReference + c.model;
    std::vector<std::string> floor;
    if (!c.floor.empty()) floor = {"-v", c.floor};
    // The arguments of a mixfit-model command on model and data.
    auto command = [&](std::vector<std::string> words) {
      words.insert(words.end(), {"-m", model, "-i", c.data});
      words.insert(words.end(), floor.begin(), floor.end());
      return words;
    };
    std::vector<std::string> evaluate = {"-i", c.data, "-s", model, "-o", "x", "-I", "0"};
    evaluate.insert(evaluate.end(), floor.begin(), floor.end());
    ProgramResult mixfit = RunMixfit(evaluate);
    ProgramResult average = RunMixfitModel(command({"score", "--average"}));
    ASSERT_EQ(mixfit.status, 0) << mixfit.err;
    ASSERT_EQ(average.status, 0) << average.err;
    EXPECT_EQ(average.out, mixfit.out);
    EXPECT_EQ(average.err, "");

    ProgramResult scores = RunMixfitModel(command({"score"}));
    ProgramResult info = RunMixfitModel(command({"info"}));
    ASSERT_EQ(scores.status, 0) << scores.err;
    ASSERT_EQ(info.status, 0) << info.err;
    std::vector<std::vector<double>> rows = Table(scores.out);
    double sum = 0.0;
    for (const std::vector<double>& row : rows) {
      ASSERT_EQ(row.size(), 1u);
      sum += row[0];
    }
    std::map<std::string, std::string> values = Info(info.out);
    EXPECT_EQ(values["vectors"], std::to_string(rows.size()));
    EXPECT_NEAR(sum / rows.size(), Number(values["average_log_likelihood"]), 1e-12);
    EXPECT_NEAR(sum, Number(values["log_likelihood"]), 1e-12 * std::fabs(sum));
  }
}

TEST_F(ModelTest, InfoCountsParametersAndWeighsThemByHand) {
  // Two one-dimensional components with variance 1 at 0 and 2, their weights
  // normalised from 1 and 1 to 1/2, on the data 0 and 2: at either vector the
  // density is (phi(0) + phi(2)) / 2 = (1 + e^-2) / (2 sqrt(2 pi)), so
  // ln L = 2 (ln(1 + e^-2) - ln 2 - ln(2 pi) / 2); p = 1 + 2 * 2 = 5, N = 2.
  std::string const model = WriteFile("m.txt", "2\n1\n0\n1\n1\n1\n2\n1\n1\n");
  std::string const data = WriteFile("d.txt", "0\n2\n");
  double const pi = 3.14159265358979323846;
  double const lnL = 2 * (std::log(1 + std::exp(-2.0)) - std::log(2.0) - 0.5 * std::log(2 * pi));
  ProgramResult info = RunMixfitModel({"info", "-m", model, "-i", data});
  ASSERT_EQ(info.status, 0) << info.err;
  std::map<std::string, std::string> values = Info(info.out);
  EXPECT_EQ(info.out.substr(0, info.out.find("vectors")),
            "components 2\ndimension 1\ncovariance diagonal\nparameters 5\n");
  EXPECT_EQ(values["vectors"], "2");
  EXPECT_NEAR(Number(values["log_likelihood"]), lnL, 1e-14);
  EXPECT_NEAR(Number(values["average_log_likelihood"]), lnL / 2, 1e-14);
  EXPECT_NEAR(Number(values["bic"]), -2 * lnL + 5 * std::log(2.0), 1e-13);
  EXPECT_NEAR(Number(values["aic"]), -2 * lnL + 10, 1e-13);

  // Without data only the model's size; p = K - 1 + Kd + Kd(d + 1) / 2 for
  // full components and K - 1 + 2Kd for diagonal ones.
  struct Case {
    std::string model, expected;
  } const cases[] = {
      {kReference + "faithful-full.model",
       "components 2\ndimension 2\ncovariance full\nparameters 11\n"},
      {kReference + "iris-full-iterations.model",
       "components 3\ndimension 4\ncovariance full\nparameters 44\n"},
      {kReference + "faithful-diagonal-trace.model",
       "components 3\ndimension 2\ncovariance diagonal\nparameters 14\n"},
      {kReference + "iris-no-update-threshold.model",
       "components 3\ndimension 4\ncovariance diagonal\nparameters 26\n"},
  };
  for (const Case& c : cases) {
    ProgramResult sizes = RunMixfitModel({"info", "-m", c.model});
    EXPECT_EQ(sizes.status, 0) << sizes.err;
    EXPECT_EQ(sizes.out, c.expected) << c.model;
  }
}

TEST_F(ModelTest, ClassesAreTheLargestResponsibilities) {
  for (std::string model : {"iris-full-iterations.model", "iris-no-update-threshold.model"}) {
    SCOPED_TRACE(model);
    model = kReference + model;
    ProgramResult classify = RunMixfitModel({"classify", "-m", model, "-i", kIris});
    ProgramResult posteriors = RunMixfitModel({"posteriors", "-m", model, "-i", kIris});
    ASSERT_EQ(classify.status, 0) << classify.err;
    ASSERT_EQ(posteriors.status, 0) << posteriors.err;
    std::vector<std::vector<double>> classes = Table(classify.out);
    std::vector<std::vector<double>> table = Table(posteriors.out);
    ASSERT_EQ(classes.size(), 150u);
    ASSERT_EQ(table.size(), 150u);
    for (size_t n = 0; n < table.size(); ++n) {
      const std::vector<double>& row = table[n];
      ASSERT_EQ(row.size(), 3u);
      double sum = row[0] + row[1] + row[2];
      EXPECT_NEAR(sum, 1.0, 1e-12) << n;
      int largest = static_cast<int>(std::max_element(row.begin(), row.end()) - row.begin());
      ASSERT_EQ(classes[n].size(), 2u);
      EXPECT_EQ(classes[n][0], largest + 1) << n;
      EXPECT_EQ(classes[n][1], row[largest]) << n;
      // The first 50 flowers, Iris setosa, stand apart from the others.
      EXPECT_EQ(classes[n][0] == classes[0][0], n < 50) << n;
    }
  }
}

TEST_F(ModelTest, DistancesBetweenComponents) {
  // Diagonal: variance 1 at 0 and 2, q = (2 - 0)^2 / 8 = 0.5; with a third
  // component of variance 4 at 0: 0.5 ln(2.5 / 2) from the first and
  // 4 / (8 * 2.5) + 0.5 ln(2.5 / 2) from the second. Full: the same numbers.
  double const third = 0.5 * std::log(1.25), second = 0.2 + third;
  for (std::string type : {"1", "2"}) {
    SCOPED_TRACE("type " + type);
    std::string text = "3\n";
    for (const char* component : {"0\n1\n", "2\n1\n", "0\n4\n"}) {
      std::string lines = component;
      size_t split = lines.find('\n') + 1;
      text += "1\n" + lines.substr(0, split) + type + "\n" + lines.substr(split);
    }
    ProgramResult run = RunMixfitModel({"distances", "-m", WriteFile("m.txt", text)});
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<std::vector<double>> expected = {
        {0, 0.5, third}, {0.5, 0, second}, {third, second, 0}};
    std::vector<std::vector<double>> table = Table(run.out);
    ASSERT_EQ(table.size(), 3u);
    for (int i = 0; i < 3; ++i) {
      ASSERT_EQ(table[i].size(), 3u);
      for (int j = 0; j < 3; ++j) EXPECT_NEAR(table[i][j], expected[i][j], 1e-15) << i << j;
    }
  }
}

// The model the draws come from: weights 0.3 and 0.7, means (0, 0) and
// (5, 3), covariances 1 0.5 / 0.5 2 and 0.5 -0.2 / -0.2 0.3.
const char kTwoFull[] = "2 0\n0.3 0\n0 0\n2 0\n1 0.5\n0.5 2\n0.7 0\n5 3\n2 0\n0.5 -0.2\n-0.2 0.3\n";
const double kWeights[2] = {0.3, 0.7};
const double kMeans[2][2] = {{0, 0}, {5, 3}};
const double kCovariances[2][2][2] = {{{1, 0.5}, {0.5, 2}}, {{0.5, -0.2}, {-0.2, 0.3}}};

TEST_F(ModelTest, DrawnVectorsFollowTheModel) {
  // 10^5 draws. Every bound is 5 standard errors: for the share of a
  // component sqrt(w (1 - w) / n); for mean j of a component drawn n_k times
  // sqrt(S_jj / n_k); for covariance ij sqrt((S_ii S_jj + S_ij^2) / n_k), the
  // standard error of a normal sample covariance.
  std::string const model = WriteFile("two.txt", kTwoFull);
  RunSettings const seed = {{"MIXFIT_SEED=11"}};
  ProgramResult labelled =
      RunMixfitModel({"sample", "-m", model, "-n", "100000", "--labels"}, seed);
  ASSERT_EQ(labelled.status, 0) << labelled.err;
  std::vector<std::vector<double>> rows = Table(labelled.out);
  ASSERT_EQ(rows.size(), 100000u);
  double const n = static_cast<double>(rows.size());
  for (int k = 0; k < 2; ++k) {
    SCOPED_TRACE(k);
    std::vector<std::vector<double>> drawn;
    for (const std::vector<double>& row : rows)
      if (row[0] == k + 1) drawn.push_back({row[1], row[2]});
    double const count = static_cast<double>(drawn.size());
    EXPECT_NEAR(count / n, kWeights[k], 5 * std::sqrt(kWeights[k] * (1 - kWeights[k]) / n));
    double mean[2] = {0, 0};
    for (const std::vector<double>& x : drawn)
      for (int j = 0; j < 2; ++j) mean[j] += x[j] / count;
    double const(&S)[2][2] = kCovariances[k];
    for (int i = 0; i < 2; ++i) {
      EXPECT_NEAR(mean[i], kMeans[k][i], 5 * std::sqrt(S[i][i] / count)) << i;
      for (int j = 0; j <= i; ++j) {
        double covariance = 0.0;
        for (const std::vector<double>& x : drawn)
          covariance += (x[i] - mean[i]) * (x[j] - mean[j]) / count;
        double const error = std::sqrt((S[i][i] * S[j][j] + S[i][j] * S[i][j]) / count);
        EXPECT_NEAR(covariance, S[i][j], 5 * error) << i << j;
      }
    }
  }

  // The same seed draws the same vectors, with or without the labels;
  // another seed others.
  ProgramResult again = RunMixfitModel({"sample", "-m", model, "-n", "100000"}, seed);
  ASSERT_EQ(again.status, 0) << again.err;
  std::string unlabelled;
  std::istringstream lines(labelled.out);
  for (std::string line; std::getline(lines, line);) unlabelled += line.substr(2) + "\n";
  EXPECT_TRUE(again.out == unlabelled);
  ProgramResult other = RunMixfitModel({"sample", "-m", model, "-n", "3"}, {{"MIXFIT_SEED=12"}});
  EXPECT_NE(other.out, again.out.substr(0, other.out.size()));

  // mixfit finds the model again in the draws.
  std::string const draws = WriteFile("draws.txt", again.out);
  std::string const fitted = Path("fitted.txt");
  ProgramResult fit = RunMixfit({"-i", draws, "-o", fitted, "-c", "2", "-f", "-r", "3"}, seed);
  ASSERT_EQ(fit.status, 0) << fit.err;
  MixtureModel found;
  MixtureModelFileFormat format;
  ASSERT_EQ(found.Read(fitted.c_str(), format), MM_FILE_OK);
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

TEST_F(ModelTest, DrawsOfSeedOneAreRecorded) {
  // The draws are the project's own, so these bits hold on every platform
  // with a correctly rounded C library.
  ProgramResult run = RunMixfitModel(
      {"sample", "-m", WriteFile("two.txt", kTwoFull), "-n", "3", "--labels"}, {{"MIXFIT_SEED=1"}});
  ASSERT_EQ(run.status, 0) << run.err;
  // Worked out by an independent implementation of the draws.
  EXPECT_EQ(run.out,
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
  // A heading, K = 1 ... 4 with K, average, p, BIC, AIC, and the choice.
  std::istringstream lines(run.out);
  std::string line;
  std::getline(lines, line);
  double lowest = 0.0;
  int best = 0;
  for (int k = 1; k <= 4; ++k) {
    ASSERT_TRUE(std::getline(lines, line));
    std::vector<std::vector<double>> row = Table(line);
    ASSERT_GE(row[0].size(), 5u) << line;
    EXPECT_EQ(row[0][0], k);
    EXPECT_EQ(row[0][2], 6 * k - 1);  // full, d = 2: k - 1 + 2k + 3k
    if (k == 1 || row[0][3] < lowest) lowest = row[0][3], best = k;
  }
  ASSERT_TRUE(std::getline(lines, line));
  EXPECT_EQ(line, "Lowest BIC: K = " + std::to_string(best) + "; its model is in " + kept);
  ProgramResult info = RunMixfitModel({"info", "-m", kept});
  EXPECT_EQ(info.out.substr(0, info.out.find('\n')), "components " + std::to_string(best));
}

}  // namespace
