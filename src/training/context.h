#ifndef MIXFIT_TRAINING_CONTEXT_H
#define MIXFIT_TRAINING_CONTEXT_H

// The context of one fit: the threads and ranks its passes run on, the
// kernels, the storage of the passes, a stop request and the outcome of the
// last EM run. Fits with contexts of their own share nothing and may run
// side by side; the functions without a context use the program's.

#include <atomic>
#include <utility>
#include <vector>

#include "matrix/matrix.h"
#include "parallel/ranks.h"
#include "parallel/threads.h"
#include "training/blocks.h"

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

// The storage that one evaluation of a model on a data set needs besides its
// inputs: the cache of the model's components and the working storage of the
// passes over the data, which run a chunk of blocks at a time (K4 = K
// rounded up to a multiple of 4; width = the moments of one vector, rounded
// up to a multiple of 8). The storage only grows, so that a workspace reused
// from one EM iteration to the next allocates nothing.
struct EMWorkspace {
  DeterminantInverseCache cache;          // set up for the model last evaluated
  std::vector<double> logNormalisers;     // K: ln of each normaliser, +infinity when unusable
  bool logDomain = false;                 // whether every vector is evaluated in the log domain
  bool responsibilitiesFromSums = false;  // the regularised step's responsibilities (em.h)
  std::vector<double> weights;            // K
  std::vector<double> normalisers;        // K
  std::vector<double> logScales;          // K: ln weight - ln normaliser
  std::vector<EMThreadScratch> threads;   // one per thread of the passes
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

// Why an EM run ended.
enum class EMStop {
  kIterations,         // it made the updates it was asked for
  kConverged,          // the improvement fell to the threshold
  kNumericalProblems,  // the log likelihood was not finite or decreased
  kStopped,            // a stop was requested
};

// What an EM run gives besides the model it leaves.
struct EMResult {
  double logLikelihood = 0.0;  // the average log likelihood of that model
  int iterations = 0;          // the updates accepted
  EMStop stop = EMStop::kIterations;
};

// One context serves one fit at a time.
class TrainingContext {
 public:
  // Passes on threads and ranks with the fastest kernels of the machine.
  explicit TrainingContext(Threads& threads, Ranks const& ranks = ProgramRanks());
  TrainingContext(Threads& threads, Ranks const& ranks, Kernels const& kernels);
  TrainingContext(TrainingContext const&) = delete;
  TrainingContext& operator=(TrainingContext const&) = delete;

  Threads& threads;
  Ranks const& ranks;
  Kernels kernels;
  EMWorkspace workspace;
  EMResult last;  // of the most recent ExpectationMaximization

  // Asks the fit running in this context to stop: its passes look between
  // chunks of vectors, and the EM and k-means loops then end, leaving the
  // last model they accepted. Any thread may ask; the request holds until
  // cleared.
  void RequestStop() { stop_.store(true, std::memory_order_relaxed); }
  void ClearStop() { stop_.store(false, std::memory_order_relaxed); }
  bool StopRequested() const { return stop_.load(std::memory_order_relaxed); }

 private:
  std::atomic<bool> stop_{false};
};

// The context of the program: its threads and ranks and the fastest
// kernels, made at the first call.
TrainingContext& ProgramTrainingContext();

#endif
