#include "training/mixturefit.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "matrix/datautils.h"
#include "matrix/draws.h"
#include "training/em.h"
#include "training/kmeans.h"
#include "training/starts.h"

namespace {

// The k-means of the kmeans start stops after this many iterations at most.
int const kKMeansIterations = 300;

MixtureCovarianceMatrixType StorageOf(CovarianceKind kind) {
  return FullStorage(kind) ? MM_COV_FULL : MM_COV_DIAGONAL;
}

// The index of word among the four words; 4 for none.
template <size_t Length>
int WordIndex(const char* word, const char (&words)[4][Length]) {
  int i = 0;
  while (i < 4 && std::strcmp(words[i], word) != 0) ++i;
  return i;
}

EMStepOptions StepOptions(MixtureFitOptions const& options) {
  EMStepOptions step;
  step.regularised = true;
  step.regularisation = options.regularisation;
  if (options.covariance == CovarianceKind::kSpherical) step.tie = CovarianceTie::kSpherical;
  if (options.covariance == CovarianceKind::kTied) step.tie = CovarianceTie::kTied;
  return step;
}

// K components of the kind's storage, zero throughout.
MixtureModel ZeroModel(int K, int d, CovarianceKind kind) {
  MixtureModel model;
  for (int k = 0; k < K; ++k) model.Add(*new MixtureComponent(StorageOf(kind), d, true));
  return model;
}

// The model of the regularised M step from responsibilities: one-hot from
// labels (vector i wholly to component labels[i], to none when negative)
// or, when labels is null, row i of the count x K matrix dense. Each sum adds
// the vectors in data order; r x x' is formed as r * (x_i * x_j), as the EM
// pass forms it.
MixtureModel FromResponsibilities(Data const& data, int K, CovarianceKind kind,
                                  int32_t const* labels, double const* dense,
                                  EMStepOptions const& step) {
  int const d = data.Dimension();
  MixtureModel model = ZeroModel(K, d, kind);
  std::vector<double> counts(K, 0.0);
  bool const full = StorageOf(kind) == MM_COV_FULL;
  for (size_t i = 0; i < data.Count(); ++i) {
    double const* x = data.Vector(i);
    int const k0 = labels ? labels[i] : 0, k1 = labels ? labels[i] + 1 : K;
    for (int k = k0 < 0 ? k1 : k0; k < k1; ++k) {
      double const r = labels ? 1.0 : dense[i * K + k];
      MixtureComponent& c = *model.components[k];
      double* mean = c.mean.data;
      double* covariance = c.covariance.data;
      counts[k] += r;
      for (int j = 0; j < d; ++j) mean[j] += r * x[j];
      if (!full)
        for (int j = 0; j < d; ++j) covariance[j] += r * (x[j] * x[j]);
      else
        for (int a = 0; a < d; ++a)
          for (int b = 0; b <= a; ++b) covariance[a * d + b] += r * (x[a] * x[b]);
    }
  }
  emRegularisedMStep(model, counts.data(), step);
  return model;
}

// One-hot labels of the seeded vectors alone.
std::vector<int32_t> SeedLabels(size_t count, std::vector<size_t> const& seeds) {
  std::vector<int32_t> labels(count, -1);
  for (size_t k = 0; k < seeds.size(); ++k) labels[seeds[k]] = static_cast<int32_t>(k);
  return labels;
}

// The model a drawn start begins with; false when a stop was requested.
// k-means stops as scikit-learn's does: when no mean changes, or when the
// means moved by at most 1e-4 times the mean of the data's variances.
bool DrawnStart(Data const& data, MixtureFitOptions const& options, EMStepOptions const& step,
                double tolerance, std::mt19937_64& engine, TrainingContext& context,
                MixtureModel& start) {
  int const K = options.components, d = data.Dimension();
  size_t const n = data.Count();
  std::vector<int32_t> labels;
  switch (options.start) {
    case StartKind::kKMeans: {
      std::vector<size_t> const seeds = KMeansPlusPlusSeeds(data, K, engine);
      MixtureModel centres = ZeroModel(K, d, CovarianceKind::kDiagonal);
      for (int k = 0; k < K; ++k) centres.components[k]->Mean(data.Vector(seeds[k]));
      KMeansWithTolerance(data, centres, kKMeansIterations, tolerance, context);
      labels.resize(n);
      if (context.StopRequested() || !NearestMeans(data, centres, labels.data(), context))
        return false;
      break;
    }
    case StartKind::kKMeansPlusPlus:
      labels = SeedLabels(n, KMeansPlusPlusSeeds(data, K, engine));
      break;
    case StartKind::kRandomFromData:
      labels = SeedLabels(n, DistinctIndices(n, K, engine));
      break;
    case StartKind::kRandom: {
      // Each row divided by its sum, added in component order.
      std::vector<double> dense(n * K);
      for (size_t i = 0; i < n; ++i) {
        double* row = dense.data() + i * K;
        double sum = 0.0;
        for (int k = 0; k < K; ++k) sum += row[k] = DrawUniform(engine);
        for (int k = 0; k < K; ++k) row[k] /= sum;
      }
      start = FromResponsibilities(data, K, options.covariance, nullptr, dense.data(), step);
      return true;
    }
  }
  start = FromResponsibilities(data, K, options.covariance, labels.data(), nullptr, step);
  return true;
}

// The given model with the storage of the covariance kind: a diagonal
// component made full keeps its variances on the diagonal, a full one made
// diagonal keeps its diagonal.
MixtureModel Converted(MixtureModel const& given, CovarianceKind kind, int d) {
  MixtureModel model = ZeroModel(given.count, d, kind);
  for (int k = 0; k < given.count; ++k) {
    MixtureComponent const& from = *given.components[k];
    MixtureComponent& to = *model.components[k];
    to.weight = from.weight;
    to.Mean(from.mean.data);
    bool const fromFull = from.type == MM_COV_FULL, toFull = to.type == MM_COV_FULL;
    for (int i = 0; i < d; ++i)
      for (int j = 0; j < d; ++j) {
        if (!toFull && j != i) continue;
        double const value = fromFull ? from.covariance(i, j)
                             : i == j ? from.covariance.data[i]
                                      : 0;
        to.covariance.data[toFull ? i * d + j : i] = value;
      }
  }
  return model;
}

// Replaces the values of start that options give; false when a precision
// is not positive definite. A precision matrix's inverse is formed from its
// Cholesky factor L as the product of the inverse factor's transpose and the
// inverse factor.
bool ReplaceInitialValues(MixtureModel& start, MixtureFitOptions const& options, int d) {
  CovarianceKind const kind = options.covariance;
  for (int k = 0; k < start.count; ++k) {
    MixtureComponent& c = *start.components[k];
    if (!options.initialWeights.empty()) c.weight = options.initialWeights[k];
    if (!options.initialMeans.empty()) c.Mean(options.initialMeans.data() + k * d);
    if (options.initialPrecisions.empty()) continue;
    double const* p = options.initialPrecisions.data();
    if (kind == CovarianceKind::kFull || kind == CovarianceKind::kTied) {
      Matrix factor(d, d);
      std::copy(p + (kind == CovarianceKind::kFull ? k * d * d : 0),
                p + (kind == CovarianceKind::kFull ? k * d * d : 0) + d * d, factor.data);
      double determinant;
      if (!factor.CholeskyDecomposition(&determinant) || !factor.InvertLowerTriangular())
        return false;
      c.covariance = Transpose(factor) * factor;
    } else {
      for (int j = 0; j < d; ++j) {
        double const precision = kind == CovarianceKind::kDiagonal ? p[k * d + j] : p[k];
        if (!(precision > 0.0 && precision < HUGE_VAL)) return false;
        c.covariance.data[j] = 1.0 / precision;
      }
    }
    if (c.covariance.NotFinite() > 0) return false;
  }
  return true;
}

struct StartOutcome {
  MixtureModel model;
  double lowerBound = -HUGE_VAL;
  int iterations = 0;
  bool converged = false;
};

// Iterates the regularised step from start; false when a stop was
// requested.
bool RunStart(Data const& data, MixtureModel start, MixtureFitOptions const& options,
              EMStepOptions const& step, TrainingContext& context, StartOutcome& out) {
  bool const diagonalOnly = !AnyFullCovariance(start);
  MixtureModel other(start);
  MixtureModel* model = &start;
  MixtureModel* next = &other;
  double bound = -HUGE_VAL;
  for (int i = 1; i <= options.maxIterations; ++i) {
    double const previous = bound;
    bound = emMonolithicEMStep(*model, data, *next, diagonalOnly, context, step);
    if (context.StopRequested()) return false;
    std::swap(model, next);
    out.iterations = i;
    if (std::fabs(bound - previous) < options.tolerance) {
      out.converged = true;
      break;
    }
  }
  out.lowerBound = bound;
  out.model = std::move(*model);
  return true;
}

}  // namespace

const char kCovarianceKindWords[4][10] = {"full", "diag", "spherical", "tied"};
const char kStartKindWords[4][17] = {"kmeans", "k-means++", "random", "random_from_data"};

bool CovarianceKindNamed(const char* word, CovarianceKind* kind) {
  int const i = WordIndex(word, kCovarianceKindWords);
  if (i == 4) return false;
  *kind = static_cast<CovarianceKind>(i);
  return true;
}

bool StartKindNamed(const char* word, StartKind* kind) {
  int const i = WordIndex(word, kStartKindWords);
  if (i == 4) return false;
  *kind = static_cast<StartKind>(i);
  return true;
}

bool FullStorage(CovarianceKind kind) {
  return kind == CovarianceKind::kFull || kind == CovarianceKind::kTied;
}

MixtureFitResult FitMixture(Data const& data, MixtureFitOptions const& options,
                            TrainingContext& context) {
  MixtureFitResult result;
  int const d = data.Dimension();
  if (options.startModel == nullptr &&
      !HasDistinctVectors(data, options.components, &result.distinct)) {
    result.status = MixtureFitStatus::kTooFewDistinct;
    return result;
  }
  EMStepOptions const step = StepOptions(options);
  std::mt19937_64 engine(options.seed);
  double tolerance = 0.0;
  if (options.startModel == nullptr && options.start == StartKind::kKMeans) {
    Matrix const variances = DataVariances(data, DataMean(data, context.threads, context.ranks),
                                           context.threads, context.ranks);
    for (int j = 0; j < d; ++j) tolerance += variances.data[j];
    tolerance = 1e-4 * (tolerance / d);
  }
  int const starts = options.startModel ? 1 : options.starts;
  for (int s = 0; s < starts; ++s) {
    MixtureModel start;
    if (options.startModel)
      start = Converted(*options.startModel, options.covariance, d);
    else if (!DrawnStart(data, options, step, tolerance, engine, context, start))
      break;
    if (!options.startModel && !ReplaceInitialValues(start, options, d)) {
      result.status = MixtureFitStatus::kBadPrecisions;
      return result;
    }
    StartOutcome outcome;
    if (!RunStart(data, std::move(start), options, step, context, outcome)) break;
    if (s == 0 || outcome.lowerBound > result.lowerBound) {
      result.model = std::move(outcome.model);
      result.lowerBound = outcome.lowerBound;
      result.iterations = outcome.iterations;
      result.converged = outcome.converged;
    }
  }
  if (!context.StopRequested())
    result.logLikelihood = emLogDomainLogLikelihood(data, result.model, context);
  if (context.StopRequested()) result.status = MixtureFitStatus::kStopped;
  return result;
}
