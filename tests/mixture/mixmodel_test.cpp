#include "mixture/mixmodel.h"

#include <cfloat>

#include "support/files.h"

namespace {

using ModelFileTest = ScratchDirectory;

// One 2-d diagonal component, as a model and as its file.
MixtureModel Example() {
  MixtureModel model;
  AddComponent(model, D, 1, {0.5, -1}, {2, 0.25});
  return model;
}
std::string const kHeader = "% Plain Matlab-readable\n";

std::string Written(MixtureModel const& model) {
  TextStream out;
  EXPECT_EQ(model.Write(out.file, MM_FF_PLAIN), MM_FILE_OK);
  return out.Text();
}

// Reads text into model; returns the result code.
int ReadText(MixtureModel& model, std::string const& text) {
  MixtureModelFileFormat format = MM_FF_NONE;
  int const result = model.Read(TextStream(text).file, format);
  EXPECT_TRUE(result != MM_FILE_OK || format == MM_FF_PLAIN);
  return result;
}

// RemoveSingular visits downwards and counts its removals.
TEST(MixtureModelTest, RemoveSingularKeepsTheOtherComponentsInOrder) {
  MixtureModel model;
  AddComponent(model, D, 0.2, {0, 0}, {0.01, 1});      // equal: singular
  AddComponent(model, F, 0.2, {0, 0}, {1, 2, 2, 1});   // not positive definite
  AddComponent(model, D, 0.2, {0, 0}, {0.011, 0.02});  // kept
  AddComponent(model, F, 0.2, {0, 0}, {4, 2, 2, 10});  // kept
  AddComponent(model, D, 0.2, {0, 0}, {1, -1});        // singular
  AddComponent(model, D, 0.2, {0, 0}, {0.001, 1});     // singular, adjacent
  AddComponent(model, D, 0.2, {0, 0}, {kNaN, 1});      // NaN is not singular
  MixtureComponent* kept[] = {model.components[2], model.components[3], model.components[6]};
  EXPECT_EQ(model.RemoveSingular(0.01), 4);
  ASSERT_EQ(model.count, 3);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(model.components[k], kept[k]);
}

// A positive total scales the weights to one, also when finite weights
// overflow it; a zero (here with a negative weight) or NaN total gives
// equal weights. Only ordered smaller variances are raised, of a full
// covariance only the diagonal.
TEST(MixtureModelTest, NormalizeWeightsAndLimitVariances) {
  // Weights, then their normalised values.
  for (auto c : {std::vector<double>{DBL_MAX / 3, DBL_MAX, 0.25, 0.75},
                 {-0.5, 0.5, 0.5, 0.5},
                 {0, kNaN, 0.5, 0.5}}) {
    MixtureModel model;
    for (int k = 0; k < 2; ++k) AddComponent(model, D, c[k], {0.0}, {1.0});
    model.NormalizeWeights();
    for (int k = 0; k < 2; ++k) EXPECT_DOUBLE_EQ(model.components[k]->weight, c[k + 2]) << c[0];
  }
  MixtureModel model;
  AddComponent(model, D, 0.5, {0, 0, 0}, {0.5, 5, kNaN});
  AddComponent(model, F, 0.5, {0, 0, 0}, {0.5, 0.9, 0, 0.9, kNaN, 0, 0, 0, 2});
  model.LimitVariances(Row({1, 2, 3}));
  EXPECT_TRUE(SameBits(model.components[0]->covariance, Row({1, 5, kNaN})));
  EXPECT_TRUE(SameBits(model.components[1]->covariance,
                       FromValues(3, 3, {1, 0.9, 0, 0.9, kNaN, 0, 0, 0, 3})));
  EXPECT_EQ(model.NotFinite(nullptr), 2);
}

// Single numbers are padded to the dimension; weights keep six digits, the
// rest fifteen, which read back exactly; a copy is deep. (The empty model's
// bytes: FitTest.EmptySolution.)
TEST_F(ModelFileTest, WrittenByteForByteAndReadBackExactly) {
  MixtureModel full = Example(), read = Example();
  AddComponent(full, F, 1.0 / 3, {1.0 / 3, -2}, {1, 1e-20, 1e-20, 2});
  EXPECT_EQ(Written(full), kHeader +
                               "2 0\n1 0\n0.5 -1 \n1 0\n2 0.25 \n"
                               "0.333333 0\n0.333333333333333 -2 \n2 0\n1 1e-20 \n1e-20 2 \n");
  full.components[1]->weight = 0.375;
  full.components[1]->mean.data[0] = 0.125;
  MixtureModel copy(full);
  ASSERT_EQ(ReadText(read, Written(copy)), MM_FILE_OK);
  full.components[1]->mean.data[0] = 42;
  EXPECT_TRUE(SameBits(read, copy));
  EXPECT_FALSE(SameBits(read, full));
}

// Without the header the count line of a pipe would be lost: refused, not
// misread.
TEST_F(ModelFileTest, NamedFilesPipesAndTheirFailures) {
  std::string const file = Path("model.txt");
  MixtureModel model;
  MixtureModelFileFormat format = MM_FF_NONE;
  ASSERT_EQ(Example().Write(file.c_str(), MM_FF_PLAIN), MM_FILE_OK);
  ASSERT_EQ(model.Read(file.c_str(), format), MM_FILE_OK);
  EXPECT_TRUE(SameBits(model, Example()));
  EXPECT_EQ(model.Read("/nonexistent-directory/model", format), MM_FILE_CANNOT_OPEN);
  EXPECT_EQ(Example().Write("/nonexistent-directory/model", MM_FF_PLAIN), MM_FILE_CANNOT_OPEN);
  EXPECT_EQ(Example().Write("/dev/full", MM_FF_PLAIN), MM_FILE_WRITE_FAILED);
  // Unbuffered, the writes fail at once and the final flush has nothing left.
  FILE* full = fopen("/dev/full", "w");
  setvbuf(full, nullptr, _IONBF, 0);
  EXPECT_EQ(MixtureModel().Write(full, MM_FF_PLAIN), MM_FILE_WRITE_FAILED);
  fclose(full);
  for (bool header : {true, false}) {
    FILE* pipe = popen(("cat " + file + (header ? "" : " | tail -n +2")).c_str(), "r");
    EXPECT_EQ(model.Read(pipe, format), header ? MM_FILE_OK : MM_FILE_MALFORMED);
    pclose(pipe);
  }
}

// No header or a comment instead, blank lines, commas, CR LF, tabs, short
// weight lines, and a count and a type that are truncated. Any type but 1
// is full.
TEST_F(ModelFileTest, HandWrittenFormsAreAccepted) {
  for (char const* text : {"1\n1\n0.5 -1\n1 0\n2 0.25\n",
                           "% Plain Matlab-readable \n1.9\n1\n0.5, -1\r\n1.5 0\n\t2 0.25\n",
                           "%comment\n\n# one\n1\n% diagonal\n1\n0.5 -1\n\n1 0\n2 0.25\n",
                           "1,0\n1,0\n0.5,-1\n1,0,\n2,0.25\n"}) {
    MixtureModel read;
    ASSERT_EQ(ReadText(read, text), MM_FILE_OK) << text;
    EXPECT_TRUE(SameBits(read, Example())) << text;
  }
  for (char const* type : {"0", "2", "7", "-0.5"}) {
    MixtureModel read;
    ASSERT_EQ(ReadText(read, std::string("1\n1\n0.5 -1\n") + type + " 0\n2 0.5\n0.5 1\n"),
              MM_FILE_OK);
    EXPECT_EQ(read.components[0]->type, F) << type;
    EXPECT_EQ(read.components[0]->covariance(1, 0), 0.5) << type;
  }
}

// A bad count leaves the model as it was; a failure later keeps the
// components read before it.
TEST_F(ModelFileTest, MalformedFilesAreRejected) {
  std::string const body = "\n1\n0.5 -1\n1 0\n2 0.25\n";  // one component after the count
  std::string const start = "1\n1\n0.5 -1\n";             // count, weight and mean
  std::string wide;  // a dimension whose d * d overflows an int
  for (int j = 0; j < 46341; ++j) wide += "0 ";
  for (std::string const& text : std::vector<std::string>{
           // No count; counts that are no usable int, or more than the file holds.
           "", kHeader, "NaN" + body, "1e10" + body, "2147483647" + body,
           // A type that is no usable int; a mean that is not a number; two commas in a row.
           start + "-2147483649 0\n2 0.25\n", "1\n1\n0.5 NaN\n1\n2 0.25\n",
           start + "1 0\n2,,0.25\n",
           // A mean shorter than its weight line; variances or a row shorter than the mean.
           "1\n1 0\n0.5\n1\n2\n", start + "1 0\n2\n", start + "2 0\n2 0.5\n0.5\n",
           // A type line, variances or a row longer than the mean.
           start + "1 0 0\n2 0.25 0\n", start + "1 0\n2 0.25 7\n", start + "2 0\n2 0.5\n0.5 1 9\n",
           // Components of different dimensions; a full covariance too large.
           "2" + body + "1\n0.5 -1 3\n1 0 0\n2 0.25 1\n",
           "1\n1\n" + wide + "\n2" + wide.substr(1) + "\n"}) {
    MixtureModel model = Example();
    EXPECT_EQ(ReadText(model, text), MM_FILE_MALFORMED) << text.substr(0, 60);
  }
  MixtureModel model = Example();
  EXPECT_EQ(ReadText(model, "-1" + body), MM_FILE_MALFORMED);
  EXPECT_TRUE(SameBits(model, Example()));
  EXPECT_EQ(ReadText(model, "2\n0.25\n1 2\n1 0\n3 4\n0.75\n5 6\n"), MM_FILE_MALFORMED);
  EXPECT_TRUE(model.count == 1 && model.components[0]->mean.data[1] == 2.0);
}

// The squared distance under inverse variances or a full inverse, whose
// shape chooses; densities are finite quotients or 0. (The Cholesky form is
// the block kernels' reference, checked against them with a garbage upper
// triangle.)
TEST(DistanceTest, MahalanobisInEachFormOfTheInverseCovarianceAndDensities) {
  double const x[] = {2, 1, 7}, zero[] = {0, 0};  // x's third value lies beyond the matrix
  Matrix const full = FromValues(2, 2, {2, 1, 1, 2});
  EXPECT_EQ(MahalanobisDiag2(x, zero, Row({0.25, 4})), 5.0);
  EXPECT_EQ((std::vector<double>{Mahalanobis2(x, zero, full), Mahalanobis2(x, full),
                                 Mahalanobis2(x, Row({0.25, 4}))}),
            (std::vector<double>{14, 14, 5}));
  for (double overflow :
       {ProbabilityDensity(2, 0), ProbabilityDensity(2000, 0), ProbabilityDensity(-2000, 1)})
    EXPECT_EQ(overflow, 0.0);
}

// A 2 x 2 covariance [p r; r t]: its elements in a component of either type
// (a diagonal one holds p and t), and its determinant in long double, whose
// exponent range holds every determinant below.
struct Covariance2 {
  double p, r, t;
  std::vector<double> Elements(MixtureCovarianceMatrixType type) const {
    return type == F ? std::vector<double>{p, r, r, t} : std::vector<double>{p, t};
  }
  long double Determinant() const { return 1.0L * p * t - 1.0L * r * r; }
};

// A covariance that is not positive definite, or not finite, has no ln det
// (a zero variance: ModelTest's refusals).
TEST(DistanceTest, LogDeterminantRefusesWhatIsNotPositiveDefinite) {
  MixtureModel model;
  double lnDet = 0.0;
  for (auto const& [type, v] : std::vector<std::pair<MixtureCovarianceMatrixType, Covariance2>>{
           {D, {kInf, 0, 1}}, {D, {1, 0, kNaN}}, {F, {1, 2, 1}}, {F, {1, kNaN, 1}}})
    EXPECT_FALSE(AddComponent(model, type, 1, {0, 0}, v.Elements(type)).LogDeterminant(&lnDet))
        << type << ": " << v.p << " " << v.r << " " << v.t;
}

// ln det is a sum of logs of positive pivots, which overflows or underflows
// nowhere. From the logs of the determinants the distance is e' S^-1 e / 8
// with S the mean covariance, plus ln(det S / sqrt(det 1 det 2)) / 2, at any
// scale, and the same as from the determinants where those are normal numbers.
TEST(DistanceTest, LogDeterminantsAndBhattacharyyaAtAnyScale) {
  struct {
    MixtureCovarianceMatrixType type;
    double weights[2];
    std::vector<double> means[2];
    Covariance2 covariances[2];
  } const cases[] = {
      {D, {0.25, 0.5}, {{0, 0}, {0, 0}}, {{2, 0, 8}, {4, 0, 4}}},
      {F, {0.5, 0.2}, {{1, -1}, {0, 2}}, {{4, 2, 10}, {1, -0.5, 3}}},
      {D, {1, 3}, {{0, 0}, {3e150, -1e150}}, {{1e300, 0, 2e300}, {2e300, 0, 2e300}}},
      {F, {2, 1}, {{1e150, 0}, {0, 2e150}}, {{1e300, 5e299, 2e300}, {2e300, 0, 2e300}}},
      {D, {1, 1}, {{0, 0}, {1e-85, -3e-80}}, {{1e-170, 0, 1e-160}, {1e-160, 0, 1e-160}}},
      {F, {1, 1}, {{0, 2e-80}, {1e-85, 0}}, {{1e-170, -5e-171, 1e-160}, {1e-160, 0, 1e-160}}}};
  for (auto const& c : cases) {
    SCOPED_TRACE(&c - cases);  // the case's row
    Covariance2 const &a = c.covariances[0], &b = c.covariances[1];
    long double const p = (0.0L + a.p + b.p) / 2, r = (0.0L + a.r + b.r) / 2,
                      t = (0.0L + a.t + b.t) / 2, det = p * t - r * r;
    long double const x = 0.0L + c.means[1][0] - c.means[0][0],
                      y = 0.0L + c.means[1][1] - c.means[0][1];
    double const closedForm =
        static_cast<double>((t * x * x - 2 * r * x * y + p * y * y) / det / 8 +
                            std::log(det / std::sqrt(a.Determinant() * b.Determinant())) / 2);
    double const lnWeights =
        std::log(std::min(c.weights[0], c.weights[1]) / std::max(c.weights[0], c.weights[1]));
    MixtureModel model;
    double logDeterminants[2], determinants[2];
    for (int k = 0; k < 2; ++k) {
      Covariance2 const& v = c.covariances[k];
      ASSERT_TRUE(AddComponent(model, c.type, c.weights[k], c.means[k], v.Elements(c.type))
                      .LogDeterminant(&logDeterminants[k]));
      double const expected = static_cast<double>(std::log(v.Determinant()));
      EXPECT_NEAR(logDeterminants[k], expected, 1e-14 * std::max(1.0, std::abs(expected)));
      determinants[k] = static_cast<double>(v.Determinant());
    }
    MixtureComponent const &first = *model.components[0], &second = *model.components[1];
    for (bool withWeights : {false, true}) {
      double const distance = first.BhattacharyyaDistanceLog(second, logDeterminants[0],
                                                             logDeterminants[1], withWeights);
      EXPECT_NEAR(distance, closedForm - (withWeights ? lnWeights : 0), 1e-12) << withWeights;
      // Where the determinants are normal numbers, both forms agree.
      if (std::isnormal(determinants[0]) && std::isnormal(determinants[1])) {
        EXPECT_NEAR(
            first.BhattacharyyaDistance(second, determinants[0], determinants[1], withWeights),
            distance, 1e-14);
      }
    }
  }
  // A ratio below DBL_MIN, from inconsistent determinants, is floored in
  // both forms alike.
  MixtureModel model = OneDimensional({0, 0}, {1, 1});
  MixtureComponent const& unit = *model.components[0];
  EXPECT_EQ(unit.BhattacharyyaDistance(unit, 1e308, 1e308, false), 0.5 * kLogTiny);
  EXPECT_EQ(unit.BhattacharyyaDistanceLog(unit, 710, 710, false), 0.5 * kLogTiny);
}

}  // namespace
