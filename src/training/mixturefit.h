#ifndef MIXFIT_TRAINING_MIXTUREFIT_H
#define MIXFIT_TRAINING_MIXTUREFIT_H

// The modern fit: EM in the log domain with an absolute regularisation of
// the covariances, four covariance kinds, starts seeded by k-means++ or
// drawn at random, several starts keeping the best, and a tolerance on the
// change of the average log likelihood. Its step is the regularised EM step
// of em.h, so it runs on the kernels and threads of the context; it gives
// the same bits at any thread count, and for a fixed seed on every run.

#include <cstdint>
#include <vector>

#include "data/data.h"
#include "mixture/mixmodel.h"
#include "training/context.h"

enum class CovarianceKind {
  kFull,       // each component its own full covariance
  kDiagonal,   // each component its own variances
  kSpherical,  // each component one variance (stored as equal variances)
  kTied,       // one full covariance shared by all components
};

enum class StartKind {
  kKMeans,          // k-means++ seeds, then k-means until no mean changes; one-hot
  kKMeansPlusPlus,  // one-hot on the seeded vectors alone
  kRandom,          // random responsibilities for every vector
  kRandomFromData,  // one-hot on distinct random vectors
};

// The words of the kinds, as scikit-learn spells them, in the order of their
// enumerations.
extern const char kCovarianceKindWords[4][10];
extern const char kStartKindWords[4][17];

// The kind that word names; false, leaving *kind as it is, for any other.
bool CovarianceKindNamed(const char* word, CovarianceKind* kind);
bool StartKindNamed(const char* word, StartKind* kind);

// Whether the kind stores full covariances: full and tied.
bool FullStorage(CovarianceKind kind);

struct MixtureFitOptions {
  int components = 1;
  CovarianceKind covariance = CovarianceKind::kFull;
  StartKind start = StartKind::kKMeans;
  // When not null, the one start: this model, with the components' storage
  // made that of the covariance kind, evaluated before any M step.
  MixtureModel const* startModel = nullptr;
  // When not empty, values that replace those of every drawn start's first
  // M step: K weights; K x d means, row by row; the precisions (inverse
  // covariances) in the layout of the kind: K d x d matrices (full), one
  // (tied), K rows of d (diagonal), K values (spherical).
  std::vector<double> initialWeights, initialMeans, initialPrecisions;
  int starts = 1;
  int maxIterations = 100;
  double tolerance = 1e-3;
  double regularisation = 1e-6;
  uint64_t seed = 0;
};

enum class MixtureFitStatus {
  kFitted,
  kTooFewDistinct,  // fewer distinct vectors than components
  kStopped,         // a stop was requested
  kBadPrecisions,   // an initial precision is not positive definite (or not finite)
};

struct MixtureFitResult {
  MixtureFitStatus status = MixtureFitStatus::kFitted;
  MixtureModel model;          // the kept start's final model
  double lowerBound = 0.0;     // its average log likelihood before its last M step
  double logLikelihood = 0.0;  // the final model's average log likelihood
  int iterations = 0;          // its EM iterations
  bool converged = false;      // whether it ended by the tolerance
  int distinct = 0;            // kTooFewDistinct: the distinct vectors found
};

// Fits a mixture to data (one process; its ranks must be one). Each start
// begins with an M step from its responsibilities (the component counts
// raised by 10 machine epsilons, as the regularised step does), then
// iterates the regularised EM step: iteration i evaluates the model of
// iteration i - 1, giving its lower bound, and re-estimates it. A start
// ends when the lower bound changed by less than tolerance in absolute
// value (the first one against -infinity never does) or after maxIterations
// iterations. The kept start has the highest final lower bound, the first
// on ties.
MixtureFitResult FitMixture(Data const& data, MixtureFitOptions const& options,
                            TrainingContext& context);

#endif
