// Fits whose densities lie beyond a double's range: data in many dimensions
// with small or large variances, where determinants and densities underflow
// or overflow and are evaluated in the log domain. Checked end to end
// against an independent evaluation and against the same data unscaled.

#include "cli/run_program.h"
#include "support/files.h"

namespace {

using ScaleTest = ScratchDirectory;

// Writes the values, d per line, each so that it reads back exactly.
std::string WriteValues(std::string const& path, std::vector<double> const& values, int d) {
  std::ofstream out(path);
  out.precision(17);
  for (size_t i = 0; i < values.size(); ++i) out << values[i] << ((i + 1) % d ? ' ' : '\n');
  return path;
}

// What mixfit-model says of a fitted model on its data: the class of every
// vector and the average log likelihood.
struct Evaluation {
  std::vector<int> classes;
  double average = 0.0;
};

Evaluation Evaluate(std::string const& model, std::string const& data) {
  Evaluation result;
  for (std::vector<double> const& row : Table(Out({"classify", "-m", model, "-i", data})))
    result.classes.push_back(static_cast<int>(row.at(0)));
  result.average = Info(Out({"info", "-m", model, "-i", data}))["average_log_likelihood"];
  return result;
}

// Fits a model to data with the seed fixed; returns the model's path.
std::string Fit(std::string const& data, std::string const& model,
                std::vector<std::string> options) {
  options.insert(options.begin(), {"-i", data, "-o", model});
  Out(options, {{"MIXFIT_SEED=1"}}, false);
  return model;
}

// Two clusters of 1000 vectors in 100 dimensions with standard deviation
// 0.01, 0.01 apart in every dimension: every variance is about 1e-4, so the
// determinants underflow and every density is far above the largest double.
TEST_F(ScaleTest, TightClustersInManyDimensionsAreSeparated) {
  int const d = 100, perCluster = 1000;
  std::mt19937_64 generator(20);
  std::normal_distribution<double> normal(0.0, 0.01);
  std::vector<double> values(static_cast<size_t>(2) * perCluster * d);
  for (size_t i = 0; i < values.size(); ++i)
    values[i] = normal(generator) + (i < values.size() / 2 ? 0.0 : 0.01);
  std::string const data = WriteValues(Path("clusters.txt"), values, d);
  std::string const model = Fit(data, Path("model.txt"), {"-c", "2"});
  Evaluation const fitted = Evaluate(model, data);
  ASSERT_EQ(fitted.classes.size(), 2u * perCluster);
  int const first = fitted.classes[0], second = fitted.classes[perCluster];
  EXPECT_NE(first, second);
  EXPECT_EQ(std::count(fitted.classes.begin(), fitted.classes.begin() + perCluster, first),
            perCluster);
  EXPECT_EQ(std::count(fitted.classes.begin() + perCluster, fitted.classes.end(), second),
            perCluster);
  DataSet set(d, values);
  MixtureModel read;
  MixtureModelFileFormat format;
  ASSERT_EQ(read.Read(model.c_str(), format), MM_FILE_OK);
  read.NormalizeWeights();  // as mixfit-model does
  long double sum = 0;
  for (size_t n = 0; n < set.data.Count(); ++n)
    sum += ReferenceLogDensity(set.data.Vector(n), read);
  double const reference = static_cast<double>(sum / set.data.Count());
  EXPECT_GT(reference, 300.0);
  EXPECT_NEAR(fitted.average, reference, 1e-9 * reference);
}

// Data multiplied by 2^-10 or 2^10 in every column (exactly, in binary) fit
// as the data themselves, with the log likelihood moved by -d ln(scale):
// iris, whose densities stay within range at every scale, and 60 dimensions,
// whose determinants underflow and overflow when scaled (when the library
// turns to logarithms is its own tests' matter).
TEST_F(ScaleTest, ScaledDataGiveTheSameFit) {
  DataStorage iris;
  ASSERT_EQ(iris.Read(kIris.c_str()), 0);
  struct Case {
    const char* name;
    int d;
    std::vector<double> values;
  };
  for (Case const& c : {Case{"iris", 4, {iris.data, iris.data + iris.ElementCount()}},
                        Case{"sixty", 60, ClusteredValues(900, 60, 3, 7)}}) {
    for (const char* covariance : {"diagonal", "full"}) {
      SCOPED_TRACE(std::string(c.name) + " " + covariance);
      std::vector<std::string> options = {"-c", "3", "-I", "15"};
      if (covariance == std::string("full")) options.push_back("-f");
      std::string const data = WriteValues(Path("data.txt"), c.values, c.d);
      Evaluation const unscaled = Evaluate(Fit(data, Path("model.txt"), options), data);
      for (double scale : {std::ldexp(1.0, -10), std::ldexp(1.0, 10)}) {
        SCOPED_TRACE(scale);
        std::vector<double> values = c.values;
        for (double& x : values) x *= scale;
        std::string const scaledData = WriteValues(Path("scaled.txt"), values, c.d);
        std::string const model = Fit(scaledData, Path("scaled-model.txt"), options);
        Evaluation const scaled = Evaluate(model, scaledData);
        EXPECT_EQ(scaled.classes, unscaled.classes);
        double const expected = unscaled.average - c.d * std::log(scale);
        EXPECT_NEAR(scaled.average, expected, 1e-9 * std::fabs(expected));
      }
    }
  }
}

}  // namespace
