#include "matrix/datautils.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

#include "matrix/random.h"

namespace {

double Reciprocal(Data const& data) { return 1.0 / static_cast<double>(data.Count()); }

bool SameVector(double const* a, double const* b, int dimension) {
  for (int j = 0; j < dimension; ++j)
    if (!(a[j] == b[j])) return false;
  return true;
}

}  // namespace

Matrix DataMean(Data const& data) {
  int dimension = data.Dimension();
  Matrix mean(1, dimension, 0.0);
  double* sum = mean.data;
  for (size_t k = 0; k < data.Count(); ++k) {
    double const* x = data.Vector(k);
    for (int j = 0; j < dimension; ++j) sum[j] += x[j];
  }
  mean.Scale(Reciprocal(data));
  return mean;
}

Matrix DataCovariance(Data const& data, Matrix const& mean) {
  int dimension = data.Dimension();
  Matrix covariance(dimension, dimension, 0.0);
  Matrix difference(1, dimension);
  double* d = difference.data;
  double* sum = covariance.data;
  // d_i * d_j equals d_j * d_i exactly, so the lower triangle is summed and
  // mirrored: the upper one would receive the same terms in the same order.
  for (size_t k = 0; k < data.Count(); ++k) {
    double const* x = data.Vector(k);
    for (int j = 0; j < dimension; ++j) d[j] = x[j] - mean.data[j];
    for (int i = 0; i < dimension; ++i) {
      double di = d[i];
      double* row = sum + static_cast<size_t>(i) * dimension;
      for (int j = 0; j <= i; ++j) row[j] += di * d[j];
    }
  }
  covariance.Scale(Reciprocal(data));
  for (int i = 0; i < dimension; ++i)
    for (int j = 0; j < i; ++j) covariance(j, i) = covariance(i, j);
  return covariance;
}

Matrix DataVariances(Data const& data, Matrix const& mean) {
  int dimension = data.Dimension();
  Matrix variances(1, dimension, 0.0);
  double* sum = variances.data;
  for (size_t k = 0; k < data.Count(); ++k) {
    double const* x = data.Vector(k);
    for (int j = 0; j < dimension; ++j) {
      double d = x[j] - mean.data[j];
      sum[j] += d * d;
    }
  }
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
  // Random keys repeat (32768 values), so ties go by position: the pairs are
  // all distinct and their order is fully determined.
  std::vector<std::pair<int32_t, uint32_t>> order(data.Count());
  for (size_t p = 0; p < order.size(); ++p) order[p] = {RandomNext(), static_cast<uint32_t>(p)};
  std::sort(order.begin(), order.end());

  // A candidate equal to an earlier candidate that was passed over is also
  // equal to the chosen vector that one equals (equality of vectors without
  // NaN is transitive, and a vector with NaN equals none), so comparing with
  // the chosen vectors alone decides as comparing with all earlier ones.
  int dimension = data.Dimension();
  positions.clear();
  for (auto const& candidate : order) {
    double const* x = data.Vector(candidate.second);
    bool seen = false;
    for (int chosen : positions) {
      if (SameVector(x, data.Vector(chosen), dimension)) {
        seen = true;
        break;
      }
    }
    if (seen) continue;
    positions.push_back(static_cast<int>(candidate.second));
    if (static_cast<int>(positions.size()) == count) return true;
  }
  return false;
}
