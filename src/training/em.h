#ifndef MIXFIT_TRAINING_EM_H
#define MIXFIT_TRAINING_EM_H

#include <utility>
#include <vector>

#include "data/data.h"
#include "matrix/matrix.h"
#include "mixture/mixmodel.h"

// Per-component values that a density evaluation needs and that depend only
// on the model: first is the normaliser sqrt(det S) * (2 pi)^(d/2) (0 when
// that is not finite), second the inverse factor (a row of inverse variances
// for a diagonal component, the inverted lower Cholesky factor for a full
// one). A component is usable when its covariance is: every variance, or
// every Cholesky pivot, finite and above 0, and the inverse factor finite,
// whatever the size of the determinant. One that is not gets normaliser 0
// (density 0 everywhere) and neutral factors (ones, or the identity).
typedef std::vector<std::pair<double, Matrix>> DeterminantInverseCache;

// The storage of one thread in the block passes (B = kBlockVectors vectors,
// K components).
// Aligned to a cache line: no two threads write the same line.
struct alignas(64) EMThreadScratch {
  std::vector<int> blocksTaken;    // the blocks whose E step it ran in the current
                                   // pass, in its own block slots in this order
  std::vector<double> centred;     // d x B, for full components
  std::vector<double> distances;   // K x B: row k for component k
  std::vector<double> columnSums;  // B: the sums of p's columns
  std::vector<double> explained;   // B: 1.0 where the vector's density is above the floor
  std::vector<double> moments;     // B x 8: eight of the moments of each of the block's vectors
  // The log domain (see emLogLikelihood): the exponentials of one block
  // (K x B), and per vector the largest term, the shift of the
  // exponentials' arguments, and whether it is evaluated there.
  std::vector<double> exps;
  std::vector<double> top;
  std::vector<double> shift;
  std::vector<double> inLogDomain;
};

// Everything that one evaluation of a model on a data set needs besides its
// inputs: the cache of the model's components and the working storage of the
// passes over the data, which run a chunk of blocks at a time (K4 = K
// rounded up to a multiple of 4; width = the moments of one vector, rounded
// up to a multiple of 8). A workspace serves one call at a time. The EM step
// and the log likelihood touch nothing but their inputs and the workspace,
// so calls with different workspaces may run side by side; the EM loops also
// set the numerical-problems flag. The storage only grows, so that a
// workspace reused from one EM iteration to the next allocates nothing.
struct EMWorkspace {
  DeterminantInverseCache cache;         // set up for the model last evaluated
  std::vector<double> logNormalisers;    // K: ln of each normaliser, +infinity when unusable
  bool logDomain = false;                // whether every vector is evaluated in the log domain
  std::vector<double> weights;           // K
  std::vector<double> normalisers;       // K
  std::vector<double> logScales;         // K: ln weight - ln normaliser
  std::vector<EMThreadScratch> threads;  // one per thread of the passes
  // Per block slot: each thread has two chunks' worth of slots of its own,
  // one half filled while the other is added up; slotOf tells which slot
  // holds each block of the two chunks.
  std::vector<int> slotOf;
  std::vector<double> vectors;  // per slot (d + 2) x B: its vectors transposed,
                                // a row of ones, a row of zeros
  std::vector<double> p;        // per slot K4 x B: densities, then responsibilities
  std::vector<double> logs;     // per slot B: ln of each vector's density
  std::vector<int> moment;      // width x 2: the factors of each moment
  std::vector<double> sums;     // width / 8 panels of K4 x 8: the weighted sums
                                // of the moments
  std::vector<double> r;        // K: the sums of the responsibilities
};

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
// ranks are added in rank order. The first form sets the workspace's cache up
// for model; the second does the same on the program-wide workspace; the
// third reads a cache that the caller has set up for model and works in the
// program-wide workspace.
double emLogLikelihood(Data const& data, MixtureModel const& model, EMWorkspace& workspace);
double emLogLikelihood(Data const& data, MixtureModel const& model);
double emLogLikelihood(Data const& data, MixtureModel const& model,
                       DeterminantInverseCache const& cache);

// The E step of the EM step alone, for callers that want its per-vector
// results: sets the workspace up for model, then for every vector n of data
// puts the log of its density, as emLogLikelihood forms it, into
// logDensities[n] and, unless responsibilities is null, the
// responsibility of component k for it into responsibilities[n * K + k]
// (K = model.count). A vector that no component explains is shared equally.
void emExpectation(Data const& data, MixtureModel const& model, EMWorkspace& workspace,
                   double* logDensities, double* responsibilities);

// One EM iteration in one pass over the data: returns the average log
// likelihood of data under model and writes the re-estimated weights, means
// and covariances into updated, which must have the components, types and
// dimension of model. diagonalOnly must be true exactly when every component
// is diagonal; it spares the d x d second moments. A full covariance in
// updated that is not d x d is the fatal matrix error. Leaves the cache of
// the workspace (without one, of the program-wide workspace) set up for
// model.
double emMonolithicEMStep(MixtureModel const& model, Data const& data, MixtureModel& updated,
                          bool diagonalOnly, EMWorkspace& workspace);
double emMonolithicEMStep(MixtureModel const& model, Data const& data, MixtureModel& updated,
                          bool diagonalOnly);

// Whether the most recent ExpectationMaximization call stopped because the
// log likelihood was not finite or decreased.
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
// decreases. Returns the average log likelihood of the model left in model.
// verbose writes each step's log likelihood to stdout. The steps run in
// workspace; without one, in the program-wide workspace.
double ExpectationMaximization(MixtureModel& model, Data const& data,
                               Matrix const& minimumVariances, int iterations, bool verbose,
                               EMWorkspace& workspace);
double ExpectationMaximization(MixtureModel& model, Data const& data,
                               Matrix const& minimumVariances, double threshold, bool verbose,
                               EMWorkspace& workspace);
double ExpectationMaximization(MixtureModel& model, Data const& data,
                               Matrix const& minimumVariances, int iterations, bool verbose);
double ExpectationMaximization(MixtureModel& model, Data const& data,
                               Matrix const& minimumVariances, double threshold, bool verbose);

#endif
