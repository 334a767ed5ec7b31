#ifndef MIXFIT_MATRIX_DATAUTILS_H
#define MIXFIT_MATRIX_DATAUTILS_H

#include <vector>

#include "data/data.h"
#include "matrix/matrix.h"
#include "parallel/ranks.h"
#include "parallel/threads.h"

// Statistics over a data set. Sums run over the vectors in data order and are
// multiplied by the reciprocal of the vector count N; covariances divide by
// N, not N - 1. Without vectors every statistic is NaN. When several ranks
// share the data, each sums its own vectors and the sums are added in rank
// order; N counts the vectors of all ranks. The forms with threads and
// ranks run their passes there, those without on the program's.

// The 1 x D mean vector.
Matrix DataMean(Data const& data);
Matrix DataMean(Data const& data, Threads const& threads, Ranks const& ranks);

// The D x D covariance about mean (its first D elements are read).
Matrix DataCovariance(Data const& data, Matrix const& mean);
Matrix DataCovariance(Data const& data, Matrix const& mean, Threads const& threads,
                      Ranks const& ranks);

// The 1 x D variances about mean: bit for bit the diagonal of DataCovariance,
// without its D x D storage.
Matrix DataVariances(Data const& data, Matrix const& mean);
Matrix DataVariances(Data const& data, Matrix const& mean, Threads const& threads,
                     Ranks const& ranks);

// The correlation matrix of a covariance, read from its lower triangle and
// diagonal. A zero variance gives infinite or NaN entries.
Matrix DataCorrelation(Matrix const& covariance);

// Chooses count pairwise distinct vectors in a random order drawn from the
// process-wide generator (one draw per vector, whatever count is) and returns
// true when it found count of them; positions receives their positions in
// the data, in the order chosen. Otherwise false, with the first occurrence
// of every distinct vector. Vectors are the same when all components compare
// equal (so 0 equals -0 and a vector holding NaN equals none).
bool SelectUniquePoints(Data const& data, int count, std::vector<int>& positions);

// As SelectUniquePoints, over the vectors of all ranks: the same vectors,
// in the same order, as one process holding all of them would choose, and
// the generator left in the same state. vectors receives them, one per row.
bool SelectUniqueVectors(Data const& data, int count, Matrix& vectors);

#endif
