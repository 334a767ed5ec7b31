// Fits whose densities lie beyond a double's range: data in many dimensions
// with small or large variances, where determinants and densities underflow
// or overflow and are evaluated in the log domain. Checked end to end
// against the same data unscaled; the log-domain densities themselves are
// the library's tests' matter (SetupTest, EmExpectationTest).

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

// Fits a model to the data with the seed fixed; returns what mixfit-model
// says of it on the data: the class of every vector and the average log
// likelihood.
std::pair<std::vector<int>, double> FitAndEvaluate(std::string const& data,
                                                   std::vector<std::string> options) {
  std::string const model = data + ".model";
  options.insert(options.begin(), {"-i", data, "-o", model});
  Out(options, {{"MIXFIT_SEED=1"}}, false);
  std::vector<int> classes;
  for (std::vector<double> const& row : Table(Out({"classify", "-m", model, "-i", data})))
    classes.push_back(static_cast<int>(row.at(0)));
  return {classes, Info(Out({"info", "-m", model, "-i", data}))["average_log_likelihood"]};
}

// Two clusters of 1000 vectors in 100 dimensions with standard deviation
// 0.01, 0.01 apart in every dimension: every variance is about 1e-4, so the
// determinants underflow.
TEST_F(ScaleTest, TightClustersInManyDimensionsAreSeparated) {
  int const d = 100, perCluster = 1000;
  std::mt19937_64 generator(20);
  std::normal_distribution<double> normal(0.0, 0.01);
  std::vector<double> values(static_cast<size_t>(2) * perCluster * d);
  for (size_t i = 0; i < values.size(); ++i)
    values[i] = normal(generator) + (i < values.size() / 2 ? 0.0 : 0.01);
  auto const [classes, average] =
      FitAndEvaluate(WriteValues(Path("c.txt"), values, d), {"-c", "2"});
  // Classes 1 and 2, one for each cluster.
  std::vector<int> expected(2 * perCluster, classes.at(0));
  std::fill(expected.begin() + perCluster, expected.end(), 3 - classes[0]);
  EXPECT_EQ(classes, expected);
  EXPECT_GT(average, 300.0);  // a density of e^300 at the average vector
}

// Data multiplied by 2^-10 or 2^10 in every column (exactly, in binary) fit
// as the data themselves, with the log likelihood moved by -d ln(scale):
// iris, whose densities stay within range at every scale, and 60 dimensions,
// whose determinants underflow and overflow when scaled (when the library
// turns to logarithms is its own tests' matter).
TEST_F(ScaleTest, ScaledDataGiveTheSameFit) {
  DataStorage iris;
  ASSERT_EQ(iris.Read(kIris.c_str()), 0);
  std::pair<int, std::vector<double>> const sets[] = {{4, Elements(iris)},
                                                      {60, ClusteredValues(900, 60, 3, 7)}};
  for (auto const& [d, values] : sets) {
    for (std::vector<std::string> const& options :
         {std::vector<std::string>{"-c", "3", "-I", "15"}, {"-c", "3", "-I", "15", "-f"}}) {
      SCOPED_TRACE(std::to_string(d) + " dimensions, " + options.back());
      auto const unscaled = FitAndEvaluate(WriteValues(Path("data.txt"), values, d), options);
      for (double scale : {std::ldexp(1.0, -10), std::ldexp(1.0, 10)}) {
        SCOPED_TRACE(scale);
        std::vector<double> scaled = values;
        for (double& x : scaled) x *= scale;
        auto const [classes, average] =
            FitAndEvaluate(WriteValues(Path("scaled.txt"), scaled, d), options);
        EXPECT_EQ(classes, unscaled.first);
        double const expected = unscaled.second - d * std::log(scale);
        EXPECT_NEAR(average, expected, 1e-9 * std::fabs(expected));
      }
    }
  }
}

}  // namespace
