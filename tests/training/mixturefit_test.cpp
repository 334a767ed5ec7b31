#include "training/mixturefit.h"

#include <cfloat>
#include <set>

#include "support/values.h"
#include "training/em.h"
#include "training/kmeans.h"
#include "training/starts.h"

namespace {

CovarianceKind const kKinds[] = {CovarianceKind::kFull, CovarianceKind::kDiagonal,
                                 CovarianceKind::kSpherical, CovarianceKind::kTied};

EMStepOptions StepFor(CovarianceKind kind, double regularisation) {
  EMStepOptions step;
  step.regularised = true;
  step.regularisation = regularisation;
  step.tie = kind == CovarianceKind::kSpherical ? CovarianceTie::kSpherical
             : kind == CovarianceKind::kTied    ? CovarianceTie::kTied
                                                : CovarianceTie::kNone;
  return step;
}

// One EM iteration worked out independently: responsibilities from the
// long double log densities of each weighted component alone, then the
// weighted means and the covariances about them (two passes), the
// counts raised by 10 machine epsilons, the tie and the regularisation.
MixtureModel ReferenceStep(Data const& data, MixtureModel const& model, CovarianceKind kind,
                           double reg) {
  int const K = model.count, d = data.Dimension();
  size_t const n = data.Count();
  std::vector<long double> r(n * K);
  for (size_t i = 0; i < n; ++i) {
    long double const total = ReferenceLogDensity(data.Vector(i), model);
    for (int k = 0; k < K; ++k) {
      MixtureModel alone;
      alone.Add(*new MixtureComponent(*model.components[k]));
      r[i * K + k] = std::exp(ReferenceLogDensity(data.Vector(i), alone) - total);
    }
  }
  MixtureModel out;
  std::vector<std::vector<long double>> covariances(K, std::vector<long double>(d * d, 0));
  std::vector<long double> counts(K, 10 * DBL_EPSILON);
  long double all = 0;
  for (int k = 0; k < K; ++k) {
    std::vector<long double> mean(d, 0);
    for (size_t i = 0; i < n; ++i) {
      counts[k] += r[i * K + k];
      for (int j = 0; j < d; ++j) mean[j] += r[i * K + k] * data.Vector(i)[j];
    }
    for (long double& m : mean) m /= counts[k];
    for (size_t i = 0; i < n; ++i)
      for (int a = 0; a < d; ++a)
        for (int b = 0; b < d; ++b)
          covariances[k][a * d + b] += r[i * K + k] * (data.Vector(i)[a] - mean[a]) *
                                       (data.Vector(i)[b] - mean[b]) / counts[k];
    all += counts[k];
    std::vector<double> m(mean.begin(), mean.end());
    AddComponent(out, FullStorage(kind) ? F : D, 0, m,
                 std::vector<double>(FullStorage(kind) ? d * d : d));
  }
  std::vector<long double> tied(d * d, 0);
  for (int k = 0; k < K; ++k)
    for (int e = 0; e < d * d; ++e) tied[e] += counts[k] / all * covariances[k][e];
  for (int k = 0; k < K; ++k) {
    MixtureComponent& c = *out.components[k];
    c.weight = static_cast<double>(counts[k] / all);
    std::vector<long double>& s = kind == CovarianceKind::kTied ? tied : covariances[k];
    long double average = 0;
    for (int j = 0; j < d; ++j) average += (s[j * d + j] + reg) / d;
    for (int a = 0; a < d; ++a)
      for (int b = 0; b < d; ++b) {
        long double value = s[a * d + b] + (a == b ? reg : 0);
        if (kind == CovarianceKind::kSpherical) value = average;
        if (FullStorage(kind))
          c.covariance(a, b) = static_cast<double>(value);
        else if (a == b)
          c.covariance.data[a] = static_cast<double>(value);
      }
  }
  return out;
}

void ExpectNear(MixtureModel const& a, MixtureModel const& b, double tolerance) {
  ASSERT_EQ(a.count, b.count);
  for (int k = 0; k < a.count; ++k) {
    MixtureComponent const &x = *a.components[k], &y = *b.components[k];
    EXPECT_NEAR(x.weight, y.weight, tolerance) << k;
    for (int j = 0; j < x.mean.columns; ++j) EXPECT_NEAR(x.mean.data[j], y.mean.data[j], tolerance);
    ASSERT_EQ(x.covariance.ElementCount(), y.covariance.ElementCount());
    for (int e = 0; e < x.covariance.ElementCount(); ++e)
      EXPECT_NEAR(x.covariance.data[e], y.covariance.data[e], tolerance) << k << " " << e;
  }
}

// A start of each kind's storage: the components on the first vectors with
// the data's covariance; one far away, which explains no vector.
MixtureModel Start(Data const& data, CovarianceKind kind) {
  MixtureModel model = StartingModel(data, 3, 0.5, {FullStorage(kind) ? F : D});
  model.components[2]->Mean(std::vector<double>(data.Dimension(), 1e3).data());
  return model;
}

// One regularised step gives the parameters of an independent EM
// iteration; a component without responsibility gets mean 0 and the
// regularisation, no NaN.
TEST(RegularisedStepTest, OneIterationAsWorkedOutIndependently) {
  DataSet set(3, ClusteredValues(300, 3, 2, 7));
  Threads threads(2);
  TrainingContext context(threads);
  for (CovarianceKind kind : kKinds) {
    MixtureModel const model = Start(set.data, kind);
    MixtureModel updated(model);
    emMonolithicEMStep(model, set.data, updated, !FullStorage(kind), context, StepFor(kind, 1e-3));
    ExpectNear(updated, ReferenceStep(set.data, model, kind, 1e-3), 1e-10);
    if (kind != CovarianceKind::kTied) {
      EXPECT_EQ(updated.components[2]->covariance.data[0], 1e-3);
    }
  }
}

// The drawn starts: distinct indices, k-means++ seeds on distinct vectors
// that are far apart, and counting distinct vectors.
TEST(StartsTest, DrawsAreDistinctAndRepeatWithTheSeed) {
  for (int K : {1, 5, 10}) {
    std::mt19937_64 engine(K);
    std::vector<size_t> const indices = DistinctIndices(10, K, engine);
    EXPECT_EQ(std::set<size_t>(indices.begin(), indices.end()).size(), static_cast<size_t>(K));
    EXPECT_LT(*std::max_element(indices.begin(), indices.end()), 10u);
  }
  // Four tight clusters far apart: the seeds take one vector of each.
  std::vector<double> values;
  for (int n = 0; n < 400; ++n) values.push_back(100.0 * (n % 4) + 0.001 * n);
  DataSet set(1, values);
  std::mt19937_64 engine(3), again(3);
  std::vector<size_t> const seeds = KMeansPlusPlusSeeds(set.data, 4, engine);
  std::set<int> clusters;
  for (size_t s : seeds) clusters.insert(static_cast<int>(s % 4));
  EXPECT_EQ(clusters.size(), 4u);
  EXPECT_EQ(KMeansPlusPlusSeeds(set.data, 4, again), seeds);
  int distinct = 0;
  DataSet repeated(2, {1, 2, 1, 2, 3, 4, 1, 2});
  EXPECT_TRUE(HasDistinctVectors(repeated.data, 2, &distinct));
  EXPECT_FALSE(HasDistinctVectors(repeated.data, 3, &distinct));
  EXPECT_EQ(distinct, 2);
}

// k-means with a tolerance stops once the means move by at most that much
// in all; with none, where KMeans stops.
TEST(StartsTest, KMeansStopsAtTheTolerance) {
  DataSet set(1, {0, 1, 2, 3, 10, 11, 12, 13, 30, 31});
  Threads threads(1);
  TrainingContext context(threads);
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
  Threads threads(1);
  TrainingContext context(threads);
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
    options.components = 2;
    options.covariance = c.kind;
    options.maxIterations = 1;
    options.initialWeights = {0.25, 0.75};
    options.initialMeans = {3, 3, 5, 5};
    options.initialPrecisions = c.precisions;
    MixtureModel expected;
    for (int k = 0; k < 2; ++k)
      AddComponent(expected, FullStorage(c.kind) ? F : D, 0.25 + 0.5 * k,
                   {3.0 + 2 * k, 3.0 + 2 * k}, c.covariance);
    MixtureFitResult const fitted = FitMixture(set.data, options, context);
    EXPECT_NEAR(fitted.lowerBound, emLogDomainLogLikelihood(set.data, expected, context), 1e-12);
    options.initialPrecisions[0] = -1;
    EXPECT_TRUE(FitMixture(set.data, options, context).status == MixtureFitStatus::kBadPrecisions);
  }
}

// A fit gives the same bits at any thread count and for the same seed; a
// fit on well separated clusters converges and finds them; too few
// distinct vectors are refused.
TEST(MixtureFitTest, SameBitsAtAnyThreadCountAndSeparatedClustersFound) {
  DataSet set(2, ClusteredValues(600, 2, 3, 5));
  StartKind const startKinds[] = {StartKind::kKMeans, StartKind::kKMeansPlusPlus,
                                  StartKind::kRandom, StartKind::kRandomFromData};
  for (StartKind start : startKinds)
    for (CovarianceKind kind : kKinds) {
      MixtureFitOptions options;
      options.components = 3;
      options.covariance = kind;
      options.start = start;
      options.starts = 2;
      options.seed = 42;
      Threads one(1), three(3);
      TrainingContext first(one), second(three);
      MixtureFitResult const a = FitMixture(set.data, options, first);
      MixtureFitResult const b = FitMixture(set.data, options, second);
      EXPECT_TRUE(SameBits(a.model, b.model) && SameBits(a.logLikelihood, b.logLikelihood));
      EXPECT_TRUE(a.status == MixtureFitStatus::kFitted && a.converged);
      EXPECT_GT(a.iterations, 1);
      EXPECT_NEAR(a.logLikelihood, emLogLikelihood(set.data, a.model, first), 1e-12);
    }
  MixtureFitOptions options;
  options.components = 3;
  DataSet two(1, {1, 2, 1, 2, 2});
  Threads threads(1);
  TrainingContext context(threads);
  MixtureFitResult const refused = FitMixture(two.data, options, context);
  EXPECT_TRUE(refused.status == MixtureFitStatus::kTooFewDistinct && refused.distinct == 2);
}

}  // namespace
