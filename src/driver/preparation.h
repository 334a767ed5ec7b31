#ifndef MIXFIT_DRIVER_PREPARATION_H
#define MIXFIT_DRIVER_PREPARATION_H

#include <cstdio>

#include "data/data.h"
#include "matrix/matrix.h"
#include "mixture/mixmodel.h"

// What training needs from the data: the covariance every random starting
// component receives and the floor of every variance.
struct DataStatistics {
  // Full: the d x d data covariance / count; diagonal: the 1 x d data
  // variances / count.
  Matrix initial_covariance;
  // 1 x d: each data variance times the relative floor.
  Matrix minimum_variances;
  // 1 x d: the data variances, as the floor is computed from them.
  Matrix variances;
};

// Computes the statistics of data for count components of the given kind and
// relative variance floor. At verbose level 2 or more prints the data mean,
// the data variances and the minimum variances to stdout. Only the full kind
// forms the d x d covariance, so very high-dimensional data fit diagonally.
DataStatistics PrepareStatistics(Data const& data, bool full, int count, double relative_floor,
                                 int verbose);

// Whether full covariance matrices of the given dimension fit a Matrix.
bool FullCovariancesFit(int dimension);

// False when the data's values are so large that their squares or their
// variances overflow. K-means and EM sum the squares (and products) of the
// vectors, weighted by at most 1, so such data would give them infinite or
// NaN covariances. Reads the initial covariance, which the variance floor
// does not enter.
bool FiniteMoments(Data const& data, DataStatistics const& statistics);

// The first column (from 0) in which no density can be fitted, or -1: its
// variance is not above 0, or every vector holds the same value there (the
// variance is then at most a rounding residue). The floor would be 0 or
// meaningless there, and every component would collapse onto it.
int ColumnWithoutVariance(Data const& data, DataStatistics const& statistics);

// Warns on report when data holds too few vectors for the number of
// components: strongly when vectors per component are at most the dimension,
// mildly when below 1.5 times it. The ratio is formed in single precision.
void CheckAndWarn(Data const& data, int components, FILE* report = stderr);

// A solution is usable only when every component has the data's dimension
// and a covariance of the shape its type says, and every weight is finite and
// not negative: normalising other weights would not give a mixture (a NaN
// weight would silently turn every weight into 1/count).
bool UsableSolution(MixtureModel const& model, int dimension);

#endif
