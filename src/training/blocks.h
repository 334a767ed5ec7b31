#ifndef MIXFIT_TRAINING_BLOCKS_H
#define MIXFIT_TRAINING_BLOCKS_H

#include <cstddef>

#include "data/data.h"
#include "matrix/matrix.h"
#include "mixture/mixmodel.h"

// Kernels that EM and k-means run on blocks of data vectors. A block holds
// up to kBlockVectors vectors transposed: row j holds element j of every
// vector, so that one vector register covers element j of four vectors.
// Every sum a kernel forms is the sum of the scalar code for one vector (or
// one accumulator), in the same order; vectorising across vectors or
// accumulators only runs independent sums side by side, so the results are
// the same bits on every path.
//
// Two sets of kernels exist: portable ones for any processor and, on
// x86-64, AVX2 ones, unless the build was configured with MIXFIT_PORTABLE,
// which leaves them out. The kernels are a value that the passes are given
// (see TrainingContext), so that no choice is kept behind their backs.

int const kBlockVectors = 64;

// The number of vectors in the block that starts at vector first of count.
inline int BlockLength(size_t count, size_t first) {
  return count - first < static_cast<size_t>(kBlockVectors) ? static_cast<int>(count - first)
                                                            : kBlockVectors;
}

enum KernelSet {
  KERNELS_PORTABLE = 0,
  KERNELS_AVX2 = 1,
};

// Whether this build has the set: the portable one always, the AVX2 one on
// x86-64 unless configured with MIXFIT_PORTABLE.
bool KernelSetBuilt(KernelSet set);

// One set of kernels on this machine: the functions, the argument below
// which exp is not called (where the C library gives 0) and the lanes of
// the vector exp (0 for the C library's exp, which the AVX2 set uses where
// VectorExp does not give its bits).
struct Kernels {
  KernelSet set;
  double expFloor;
  int expLanes;
  void (*diagonal)(double const*, int, double const*, double const*, double*);
  void (*cholesky)(double const*, int, double const*, double const*, double*, double*);
  void (*moments)(double*, int, int, double const*, double const*, int);
  void (*densities)(double const*, double, double, double, int, double*);
  void (*exp)(double*, double, int);
  void (*columnSums)(double const*, int, double*);
  bool (*within)(double const*, double, double);
  void (*normalise)(double*, int, double const*, double const*, double);
  void (*nearest)(double const*, int, bool, double*);
};

// Puts the kernels of set into *kernels; false, leaving it as it is, when
// the build or the processor lacks the set.
bool MakeKernels(KernelSet set, Kernels* kernels);

// The fastest set this machine has: AVX2 where built and present.
Kernels BestKernels();

// Copies vectors first ... first + count - 1 of data (count <= kBlockVectors)
// into block, d rows of kBlockVectors values; unused columns become 0.
void GatherBlock(Data const& data, size_t first, int count, double* block);

// out[n] := the sum over j < d of (x_j - mean_j)^2 * inverse_j for every
// column n of block: MahalanobisDiag2, or the squared Euclidean distance when
// inverse holds ones.
void BlockDiagonalDistances(Kernels const& kernels, double const* block, int d, double const* mean,
                            double const* inverse, double* out);

// out[n] := the sum over i of t_i^2, t_i = the sum over j <= i of
// factor(i, j) * (x_j - mean_j), for every column n of block: MahalanobisChol2
// with the d x d row-major lower factor. centred is scratch of the block's size.
void BlockCholeskyDistances(Kernels const& kernels, double const* block, int d, double const* mean,
                            double const* factor, double* centred, double* out);

// The squared distances of the block's vectors to component c under its
// inverse factor: BlockDiagonalDistances for the diagonal type, otherwise
// BlockCholeskyDistances. centred is scratch of the block's size.
void BlockComponentDistances(Kernels const& kernels, double const* block, int d,
                             MixtureComponent const& c, Matrix const& factor, double* centred,
                             double* out);

// out[n] := weight * ProbabilityDensity(distances[n], normaliser) for every
// column n of a block. The exponential is the C library's, or in the AVX2
// set VectorExp where that gives the same bits; only where its argument is
// so low that the C library's result is 0 is the call skipped.
void BlockWeightedDensities(Kernels const& kernels, double const* distances, double weight,
                            double normaliser, double* out);

// values[n] := exp(values[n]) for the kBlockVectors values of a block, with
// the C library's bits as in BlockWeightedDensities.
void BlockExp(Kernels const& kernels, double* values);

// sums[n] := p(0, n) + p(1, n) + ... + p(components - 1, n), added in this
// order from 0.0, for every column n of the components x kBlockVectors p.
void BlockColumnSums(Kernels const& kernels, double const* p, int components, double* sums);

// Whether none of the kBlockVectors values of a block is below low or above
// high (a NaN is neither).
bool BlockWithin(Kernels const& kernels, double const* values, double low, double high);

// nearest[n] := the component of the least distance in column n of the
// components x kBlockVectors distances, as a double, for every column n.
// With firstStands component 0 is the first best whatever its distance,
// otherwise the best starts at the largest finite double and component 0.
// A component replaces the best only when strictly nearer, so ties keep the
// lower index and a NaN never wins.
void BlockNearest(Kernels const& kernels, double const* distances, int components, bool firstStands,
                  double* nearest);

// Turns the weighted densities p (components x kBlockVectors, with their
// column sums) into responsibilities: column n is scaled by 1.0 / sums[n]
// where explained[n] is nonzero and set to share everywhere else.
void BlockNormalise(Kernels const& kernels, double* p, int components, double const* sums,
                    double const* explained, double share);

// acc(k, w) += p(n, k) * s(n, w) for n = 0 ... count - 1 in this order, for
// every k < components and w < width: each accumulator adds the terms of the
// vectors in data order. acc is components x width, p components x
// kBlockVectors (column n for vector n), s count x width, all row-major; components must be a
// multiple of 4 and width a multiple of 8.
void BlockMoments(Kernels const& kernels, double* acc, int components, int width, double const* p,
                  double const* s, int count);

// Turns the summed second moments about zero in component's covariance (the
// row of squares, or the lower triangle with the diagonal of a full matrix)
// into the covariance about its mean: scaled by scale (1 / the total weight),
// minus mean * mean'. The upper triangle receives the lower one first: it
// would have summed the same products in the same order. The second form
// subtracts the outer product of the given mean instead of component's.
void CovarianceFromMoments(MixtureComponent& component, double scale);
void CovarianceFromMoments(MixtureComponent& component, double scale, double const* mean);

#endif
