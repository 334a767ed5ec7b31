#include "training/mixturefit.h"

#include <cfloat>
#include <set>

#include "support/values.h"
#include "training/em.h"
#include "training/kmeans.h"
#include "training/starts.h"

namespace {

// Each kind of covariance and the tie of its EM step.
std::pair<CovarianceKind, CovarianceTie> const kKinds[] = {
    {CovarianceKind::kFull, CovarianceTie::kNone},
    {CovarianceKind::kDiagonal, CovarianceTie::kNone},
    {CovarianceKind::kSpherical, CovarianceTie::kSpherical},
    {CovarianceKind::kTied, CovarianceTie::kTied}};

// One regularised step gives the parameters of an EM iteration worked out
// independently, in long double: responsibilities from the log densities of
// each weighted component alone, then the weighted means and the
// covariances about them (two passes), the counts raised by 10 machine
// epsilons, the tie and the regularisation. A component without
// responsibility (far away on a start of the components on the first
// vectors) gets mean 0 and the regularisation, no NaN.
TEST(RegularisedStepTest, OneIterationAsWorkedOutIndependently) {
  DataSet set(3, ClusteredValues(300, 3, 2, 7));
  Data const& data = set.data;
  Threads threads(2);
  TrainingContext context(threads);
  int const K = 3, d = 3;
  size_t const n = data.Count();
  long double const reg = 1e-3;
  for (auto const& [kind, tie] : kKinds) {
    bool const full = FullStorage(kind);
    MixtureModel model = StartingModel(data, K, 0.5, {full ? F : D});
    model.components[2]->Mean(std::vector<double>(3, 1e3).data());
    MixtureModel updated(model);
    emMonolithicEMStep(model, data, updated, !full, context, EMStepOptions{true, 1e-3, tie});
    // covariances[K]: the tied one, their average weighted by the counts.
    std::vector<std::vector<long double>> means(K, std::vector<long double>(d)),
        covariances(K + 1, std::vector<long double>(d * d));
    std::vector<long double> counts(K, 10 * DBL_EPSILON), r(n);
    long double all = 0;
    for (int k = 0; k < K; ++k) {
      MixtureModel alone;
      alone.Add(*new MixtureComponent(*model.components[k]));
      for (size_t i = 0; i < n; ++i) {
        double const* x = data.Vector(i);
        r[i] = std::exp(ReferenceLogDensity(x, alone) - ReferenceLogDensity(x, model));
        counts[k] += r[i];
        for (int j = 0; j < d; ++j) means[k][j] += r[i] * x[j];
      }
      for (long double& m : means[k]) m /= counts[k];
      for (size_t i = 0; i < n; ++i)
        for (int e = 0; e < d * d; ++e)
          covariances[k][e] += r[i] * (data.Vector(i)[e / d] - means[k][e / d]) *
                               (data.Vector(i)[e % d] - means[k][e % d]) / counts[k];
      all += counts[k];
    }
    for (int k = 0; k < K; ++k)
      for (int e = 0; e < d * d; ++e) covariances[K][e] += counts[k] / all * covariances[k][e];
    ASSERT_EQ(updated.count, K);
    for (int k = 0; k < K; ++k) {
      MixtureComponent const& c = *updated.components[k];
      std::vector<long double> const& s = covariances[kind == CovarianceKind::kTied ? K : k];
      long double average = 0;
      for (int j = 0; j < d; ++j) average += (s[j * d + j] + reg) / d;
      EXPECT_NEAR(c.weight, counts[k] / all, 1e-10) << k;
      for (int j = 0; j < d; ++j) EXPECT_NEAR(c.mean.data[j], means[k][j], 1e-10) << k;
      ASSERT_EQ(c.covariance.ElementCount(), full ? d * d : d);
      for (int e = 0; e < d * d; e += full ? 1 : d + 1) {  // the elements stored
        long double const expected =
            kind == CovarianceKind::kSpherical ? average : s[e] + (e % (d + 1) ? 0 : reg);
        EXPECT_NEAR(c.covariance.data[full ? e : e / (d + 1)], expected, 1e-10) << k << e;
      }
    }
    EXPECT_TRUE(kind == CovarianceKind::kTied || updated.components[2]->covariance.data[0] == 1e-3);
  }
  // A single component takes the data's mean.
  MixtureModel const one = StartingModel(data, 1, 0.5, {D});
  MixtureModel fitted(one);
  emMonolithicEMStep(one, data, fitted, true, context,
                     EMStepOptions{true, 0.0, CovarianceTie::kNone});
  EXPECT_TRUE(fitted.components[0]->mean == DataMean(data));
}

// The drawn starts: distinct indices, k-means++ seeds on distinct vectors
// that are far apart. (That they repeat with the seed:
// MixtureFitTest.SameBitsAtAnyThreadCountAndSeparatedClustersFound; counting
// distinct vectors: ModelFitTest.RefusalsWriteNothing, and any fit, which a
// count short of the components would refuse.)
TEST(StartsTest, DrawsAreDistinctAndSeedsFarApart) {
  std::mt19937_64 engine(3);
  for (int K : {1, 5, 10}) {
    std::vector<size_t> const indices = DistinctIndices(10, K, engine);
    EXPECT_EQ(std::set<size_t>(indices.begin(), indices.end()).size(), static_cast<size_t>(K));
    EXPECT_LT(*std::max_element(indices.begin(), indices.end()), 10u);
  }
  // Four tight clusters far apart: the seeds take one vector of each.
  std::vector<double> values;
  for (int n = 0; n < 400; ++n) values.push_back(100.0 * (n % 4) + 0.001 * n);
  DataSet set(1, values);
  std::set<size_t> clusters;
  for (size_t s : KMeansPlusPlusSeeds(set.data, 4, engine)) clusters.insert(s % 4);
  EXPECT_EQ(clusters.size(), 4u);
}

// k-means with a tolerance stops once the means move by at most that much
// in all; with none, where KMeans stops.
TEST(StartsTest, KMeansStopsAtTheTolerance) {
  DataSet set(1, {0, 1, 2, 3, 10, 11, 12, 13, 30, 31});
  TrainingContext& context = ProgramTrainingContext();
  for (double tolerance : {0.0, 1e9}) {
    MixtureModel stopped = OneDimensional({0, 1}, {1, 1}), plain(stopped);
    KMeansWithTolerance(set.data, stopped, 100, tolerance, context);
    KMeans(set.data, plain, tolerance > 0 ? 1 : 100, false, context);
    EXPECT_TRUE(SameBits(stopped, plain)) << tolerance;
  }
}

// Given weights, means and precisions replace those of the start: the first
// lower bound is the log likelihood of the model they make. A precision
// that is not positive definite is refused.
TEST(MixtureFitTest, InitialValuesReplaceTheStart) {
  DataSet set(2, ClusteredValues(200, 2, 2, 3));
  TrainingContext& context = ProgramTrainingContext();
  // The precisions, and the covariances they make: [[2, 1], [1, 2]] inverted
  // for full and tied components.
  std::vector<double> const inverted = {2 / 3., -1 / 3., -1 / 3., 2 / 3.};
  struct {
    CovarianceKind kind;
    std::vector<double> precisions, covariance;
  } const cases[] = {{CovarianceKind::kFull, {2, 1, 1, 2, 2, 1, 1, 2}, inverted},
                     {CovarianceKind::kTied, {2, 1, 1, 2}, inverted},
                     {CovarianceKind::kDiagonal, {4, 0.5, 4, 0.5}, {0.25, 2}},
                     {CovarianceKind::kSpherical, {4, 4}, {0.25, 0.25}}};
  for (auto const& c : cases) {
    MixtureFitOptions options;
    options.components = 2, options.covariance = c.kind, options.maxIterations = 1;
    options.initialWeights = {0.25, 0.75}, options.initialMeans = {3, 3, 5, 5};
    options.initialPrecisions = c.precisions;
    MixtureModel expected;
    for (int k = 0; k < 2; ++k)
      AddComponent(expected, FullStorage(c.kind) ? F : D, 0.25 + 0.5 * k,
                   {3.0 + 2 * k, 3.0 + 2 * k}, c.covariance);
    EXPECT_NEAR(FitMixture(set.data, options, context).lowerBound,
                emLogDomainLogLikelihood(set.data, expected, context), 1e-12);
    options.initialPrecisions[0] = -1;
    EXPECT_TRUE(FitMixture(set.data, options, context).status == MixtureFitStatus::kBadPrecisions);
  }
}

// A fit gives the same bits at any thread count and for the same seed; a
// fit on well separated clusters converges and finds them. (Too few
// distinct vectors: ModelFitTest.RefusalsWriteNothing, through this fit.)
TEST(MixtureFitTest, SameBitsAtAnyThreadCountAndSeparatedClustersFound) {
  DataSet set(2, ClusteredValues(600, 2, 3, 5));
  for (StartKind start : {StartKind::kKMeans, StartKind::kKMeansPlusPlus, StartKind::kRandom,
                          StartKind::kRandomFromData})
    for (auto const& [kind, tie] : kKinds) {
      MixtureFitOptions options;
      options.components = 3, options.covariance = kind, options.start = start;
      options.starts = 2, options.seed = 42;
      Threads one(1), three(3);
      TrainingContext first(one), second(three);
      MixtureFitResult const a = FitMixture(set.data, options, first);
      MixtureFitResult const b = FitMixture(set.data, options, second);
      EXPECT_TRUE(SameBits(a.model, b.model) && SameBits(a.logLikelihood, b.logLikelihood));
      EXPECT_TRUE(a.status == MixtureFitStatus::kFitted && a.converged && a.iterations > 1);
      EXPECT_NEAR(a.logLikelihood, emLogLikelihood(set.data, a.model, first), 1e-12);
      for (int k = 0; start == StartKind::kKMeans && k < 3; ++k) {  // no two means alike
        Matrix const& m = a.model.components[k]->mean;
        Matrix const& other = a.model.components[(k + 1) % 3]->mean;
        EXPECT_GT(std::hypot(m.data[0] - other.data[0], m.data[1] - other.data[1]), 0.5);
      }
    }
}

}  // namespace
