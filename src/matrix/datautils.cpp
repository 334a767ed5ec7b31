#include "matrix/datautils.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "matrix/random.h"
#include "matrix/threads.h"

namespace {

double Reciprocal(Data const& data) { return 1.0 / static_cast<double>(data.Count()); }

bool SameVector(double const* a, double const* b, int dimension) {
  for (int j = 0; j < dimension; ++j)
    if (!(a[j] == b[j])) return false;
  return true;
}

// The parts that a statistic of `sums` sums over the data, of about
// `operations` operations in all, is shared out in.
int StatisticParts(int sums, double operations) {
  return std::max(1, std::min(sums, SumParts(WorkersFor(0, operations))));
}

// Rows [*begin, *end) of part `part` of `parts` of a lower triangle of n
// rows, about equal in elements.
void TrianglePartOf(int n, int part, int parts, int* begin, int* end) {
  auto boundary = [&](int p) {
    return static_cast<int>(std::lround(n * std::sqrt(static_cast<double>(p) / parts)));
  };
  *begin = boundary(part);
  *end = boundary(part + 1);
}

}  // namespace

Matrix DataMean(Data const& data) {
  int dimension = data.Dimension();
  Matrix mean(1, dimension, 0.0);
  double* sum = mean.data;
  int const parts = StatisticParts(dimension, static_cast<double>(data.Count()) * dimension);
  // Split by elements: each sum adds the vectors in data order.
  ParallelFor(parts, [&](int part, int) {
    int j0, j1;
    PartOf(dimension, part, parts, &j0, &j1);
    for (size_t k = 0; k < data.Count(); ++k) {
      double const* x = data.Vector(k);
      for (int j = j0; j < j1; ++j) sum[j] += x[j];
    }
  });
  mean.Scale(Reciprocal(data));
  return mean;
}

Matrix DataCovariance(Data const& data, Matrix const& mean) {
  int dimension = data.Dimension();
  Matrix covariance(dimension, dimension, 0.0);
  int const parts =
      StatisticParts(dimension, static_cast<double>(data.Count()) * dimension * dimension);
  Matrix differences(parts, dimension);
  double* sum = covariance.data;
  // d_i * d_j equals d_j * d_i exactly, so the lower triangle is summed and
  // mirrored: the upper one would receive the same terms in the same order.
  // Split by rows of the triangle: each sum adds the vectors in data order.
  ParallelFor(parts, [&](int part, int) {
    int i0, i1;
    TrianglePartOf(dimension, part, parts, &i0, &i1);
    double* d = differences.data + static_cast<size_t>(part) * dimension;
    for (size_t k = 0; k < data.Count(); ++k) {
      double const* x = data.Vector(k);
      for (int j = 0; j < i1; ++j) d[j] = x[j] - mean.data[j];
      for (int i = i0; i < i1; ++i) {
        double di = d[i];
        double* row = sum + static_cast<size_t>(i) * dimension;
        for (int j = 0; j <= i; ++j) row[j] += di * d[j];
      }
    }
  });
  covariance.Scale(Reciprocal(data));
  for (int i = 0; i < dimension; ++i)
    for (int j = 0; j < i; ++j) covariance(j, i) = covariance(i, j);
  return covariance;
}

Matrix DataVariances(Data const& data, Matrix const& mean) {
  int dimension = data.Dimension();
  Matrix variances(1, dimension, 0.0);
  double* sum = variances.data;
  int const parts = StatisticParts(dimension, 3.0 * data.Count() * dimension);
  // Split by elements: each sum adds the vectors in data order.
  ParallelFor(parts, [&](int part, int) {
    int j0, j1;
    PartOf(dimension, part, parts, &j0, &j1);
    for (size_t k = 0; k < data.Count(); ++k) {
      double const* x = data.Vector(k);
      for (int j = j0; j < j1; ++j) {
        double d = x[j] - mean.data[j];
        sum[j] += d * d;
      }
    }
  });
  variances.Scale(Reciprocal(data));
  return variances;
}

Matrix DataCorrelation(Matrix const& covariance) {
  Matrix correlation(covariance.rows, covariance.columns);
  if (covariance.rows == 0) return correlation;
  correlation(0, 0) = 1.0;
  for (int i = 1; i < covariance.rows; ++i) {
    for (int j = 0; j < i; ++j) {
      double v = covariance(i, j) / std::sqrt(covariance(i, i) * covariance(j, j));
      correlation(i, j) = v;
      correlation(j, i) = v;
    }
    correlation(i, i) = 1.0;
  }
  return correlation;
}

bool SelectUniquePoints(Data const& data, int count, std::vector<int>& positions) {
  // The positions sorted by their random keys, equal keys by position: keys
  // repeat (32768 values), and this order of the pairs is fully determined.
  // Counting the keys gives it in one pass, as the positions come in order.
  size_t const n = data.Count();
  std::vector<int32_t> keys(n);
  for (size_t p = 0; p < n; ++p) keys[p] = RandomNext();
  std::vector<uint32_t> start(kRandomMax + 2, 0);
  for (size_t p = 0; p < n; ++p) ++start[keys[p] + 1];
  for (int key = 0; key <= kRandomMax; ++key) start[key + 1] += start[key];
  std::vector<uint32_t> order(n);
  for (size_t p = 0; p < n; ++p) order[start[keys[p]]++] = static_cast<uint32_t>(p);

  // A candidate equal to an earlier candidate that was passed over is also
  // equal to the chosen vector that one equals (equality of vectors without
  // NaN is transitive, and a vector with NaN equals none), so comparing with
  // the chosen vectors alone decides as comparing with all earlier ones.
  int dimension = data.Dimension();
  positions.clear();
  for (uint32_t candidate : order) {
    double const* x = data.Vector(candidate);
    bool seen = false;
    for (int chosen : positions) {
      if (SameVector(x, data.Vector(chosen), dimension)) {
        seen = true;
        break;
      }
    }
    if (seen) continue;
    positions.push_back(static_cast<int>(candidate));
    if (static_cast<int>(positions.size()) == count) return true;
  }
  return false;
}
