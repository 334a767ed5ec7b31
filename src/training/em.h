#ifndef MIXFIT_TRAINING_EM_H
#define MIXFIT_TRAINING_EM_H

// Expectation-Maximization: the densities of a model on the data, one EM
// step in one pass, and the EM loops that train a model.

#include <utility>
#include <vector>

#include "data/data.h"
#include "matrix/matrix.h"
#include "mixture/mixmodel.h"
#include "training/context.h"

// Fills entries 0 ... count - 1 of cache for the components of model. The
// cache grows to count entries when shorter and never shrinks; entries past
// count are left as they are.
void SetupDeterminantAndInverseMatrices(DeterminantInverseCache& cache, MixtureModel const& model);

// Average over the data vectors of ln(mixture density). Here and in the EM
// step a vector's density is the sum over the components of weight times
// density, and its responsibilities the terms over that sum, as long as
// every usable component's determinant is a finite normal double and the
// sum is one too. Otherwise the vector is evaluated in the log domain, so
// that no density underflows or overflows: with l_k = (ln w_k - ln N_k) -
// 0.5 m_k over the components (N_k the normaliser, formed as ln L_jj summed
// over j, or 0.5 times the sum of ln v_j, plus 0.5 d ln 2 pi; m_k the squared
// distance; l_k = -infinity for an unusable component and for a NaN), and
// t the largest l_k, ln density = t + ln(sum over k in order of
// exp(l_k - t)) and the responsibilities are exp(l_k - ln density). A model
// with a usable component whose determinant is not a finite normal double
// evaluates every vector that way. Only a vector for which every l_k is
// -infinity counts as the smallest normal double and is shared equally.
// Here and in the EM step, when several ranks
// share the data, each rank sums over its own vectors and the sums of all
// ranks are added in rank order. The first form works in the context and
// sets its cache up for model (NaN when a stop was requested); the second
// does the same in the program's context; the third reads a cache that the
// caller has set up for model and works in the program's context.
double emLogLikelihood(Data const& data, MixtureModel const& model, TrainingContext& context);
double emLogLikelihood(Data const& data, MixtureModel const& model);
double emLogLikelihood(Data const& data, MixtureModel const& model,
                       DeterminantInverseCache const& cache);

// The E step of the EM step alone, for callers that want its per-vector
// results: sets the context's workspace up for model, then for every vector
// n of data
// puts the log of its density, as emLogLikelihood forms it, into
// logDensities[n] and, unless responsibilities is null, the
// responsibility of component k for it into responsibilities[n * K + k]
// (K = model.count). A vector that no component explains is shared equally.
// A stop request ends it early, with the later vectors' results unwritten.
void emExpectation(Data const& data, MixtureModel const& model, TrainingContext& context,
                   double* logDensities, double* responsibilities);

// One EM iteration in one pass over the data: returns the average log
// likelihood of data under model and writes the re-estimated weights, means
// and covariances into updated, which must have the components, types and
// dimension of model. diagonalOnly must be true exactly when every component
// is diagonal; it spares the d x d second moments. A full covariance in
// updated that is not d x d is the fatal matrix error. Leaves the cache of
// the context's workspace (without a context, of the program's) set up for
// model. When a stop is requested it returns NaN between two chunks of
// vectors, leaving updated unfinished.
double emMonolithicEMStep(MixtureModel const& model, Data const& data, MixtureModel& updated,
                          bool diagonalOnly, TrainingContext& context);
double emMonolithicEMStep(MixtureModel const& model, Data const& data, MixtureModel& updated,
                          bool diagonalOnly);

// How an EM step evaluates and re-estimates a model. The default is the step
// above. The regularised step is that of the modern fit (mixturefit.h):
// every vector is evaluated in the log domain, each component's count is
// its sum of responsibilities plus 10 machine epsilons (so that a component
// that explains no vector gets mean 0 and the regularisation as its
// covariance, never a NaN), the weights are the counts over their sum (added
// in component order), the responsibilities are exp(l_k - t) (the terms
// of the log domain's sum) times the reciprocal of that sum, and after the
// covariances are formed as in the default step, the tie below is applied and regularisation is
// added to every variance.
enum class CovarianceTie {
  kNone,       // each component its own covariance
  kSpherical,  // diagonal components: each one's variances replaced by their mean
  kTied,       // full components: all share the average of their covariances
               // weighted by the weights, added in component order
};

struct EMStepOptions {
  bool regularised = false;
  double regularisation = 0.0;
  CovarianceTie tie = CovarianceTie::kNone;
};

double emMonolithicEMStep(MixtureModel const& model, Data const& data, MixtureModel& updated,
                          bool diagonalOnly, TrainingContext& context,
                          EMStepOptions const& options);

// The regularised re-estimation from sums: component k's mean holds the sum
// over the vectors of r x, its covariance that of r x x' (the squares for a
// diagonal component, the lower triangle with the diagonal for a full one),
// and counts[k] the sum of r; becomes the model of the regularised step.
void emRegularisedMStep(MixtureModel& model, double const* counts, EMStepOptions const& options);

// The average log likelihood of data under model with every vector in the
// log domain, as the regularised step evaluates it; NaN when a stop was
// requested.
double emLogDomainLogLikelihood(Data const& data, MixtureModel const& model,
                                TrainingContext& context);

// Whether the most recent ExpectationMaximization call without a context
// stopped because the log likelihood was not finite or decreased.
bool emNumericalProblems();

// Whether EM goes on after the log likelihood rose from previous to current:
// the improvement relative to |current| must be above threshold, or the
// absolute improvement when it exceeds |current|. A NaN anywhere stops.
bool emImprovementAboveThreshold(double previous, double current, double threshold);

// Trains model in place by EM, raising its variances to minimumVariances
// before every step. The first form makes at most `iterations` updates, the
// second runs until the relative improvement of the log likelihood is no
// longer above threshold. Both stop early, keeping the last model that was
// evaluated without trouble, when the log likelihood is not finite or
// decreases, or when a stop is requested. verbose writes each step's log
// likelihood to stdout. The forms with a context run in it and return the
// outcome, which the context also keeps (a stop before the first
// evaluation gives the log likelihood NaN). The forms without one run in the
// program's context and return the average log likelihood of the model
// left in model.
EMResult ExpectationMaximization(MixtureModel& model, Data const& data,
                                 Matrix const& minimumVariances, int iterations, bool verbose,
                                 TrainingContext& context);
EMResult ExpectationMaximization(MixtureModel& model, Data const& data,
                                 Matrix const& minimumVariances, double threshold, bool verbose,
                                 TrainingContext& context);
double ExpectationMaximization(MixtureModel& model, Data const& data,
                               Matrix const& minimumVariances, int iterations, bool verbose);
double ExpectationMaximization(MixtureModel& model, Data const& data,
                               Matrix const& minimumVariances, double threshold, bool verbose);

#endif
