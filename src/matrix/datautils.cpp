#include "matrix/datautils.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "matrix/random.h"
#include "parallel/ranks.h"
#include "parallel/threads.h"

namespace {

double Reciprocal(Data const& data) { return 1.0 / static_cast<double>(data.TotalCount()); }

bool SameVector(double const* a, double const* b, int dimension) {
  for (int j = 0; j < dimension; ++j)
    if (!(a[j] == b[j])) return false;
  return true;
}

// The parts that a statistic of `sums` sums over the data, of about
// `operations` operations in all, is shared out in.
int StatisticParts(Threads const& threads, int sums, double operations) {
  return std::max(1, std::min(sums, SumParts(threads.WorkersFor(0, operations))));
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

Matrix DataMean(Data const& data, Threads const& threads, Ranks const& ranks) {
  int dimension = data.Dimension();
  Matrix mean(1, dimension, 0.0);
  double* sum = mean.data;
  int const parts =
      StatisticParts(threads, dimension, static_cast<double>(data.Count()) * dimension);
  // Split by elements: each sum adds the vectors in data order.
  ParallelFor(threads, parts, [&](int part, int) {
    int j0, j1;
    PartOf(dimension, part, parts, &j0, &j1);
    for (size_t k = 0; k < data.Count(); ++k) {
      double const* x = data.Vector(k);
      for (int j = j0; j < j1; ++j) sum[j] += x[j];
    }
  });
  ranks.AddInRankOrder(sum, dimension);
  mean.Scale(Reciprocal(data));
  return mean;
}

Matrix DataCovariance(Data const& data, Matrix const& mean, Threads const& threads,
                      Ranks const& ranks) {
  int dimension = data.Dimension();
  Matrix covariance(dimension, dimension, 0.0);
  int const parts =
      StatisticParts(threads, dimension, static_cast<double>(data.Count()) * dimension * dimension);
  Matrix differences(parts, dimension);
  double* sum = covariance.data;
  // d_i * d_j equals d_j * d_i exactly, so the lower triangle is summed and
  // mirrored: the upper one would receive the same terms in the same order.
  // Split by rows of the triangle: each sum adds the vectors in data order.
  ParallelFor(threads, parts, [&](int part, int) {
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
  ranks.AddInRankOrder(sum, static_cast<size_t>(dimension) * dimension);
  covariance.Scale(Reciprocal(data));
  for (int i = 0; i < dimension; ++i)
    for (int j = 0; j < i; ++j) covariance(j, i) = covariance(i, j);
  return covariance;
}

Matrix DataVariances(Data const& data, Matrix const& mean, Threads const& threads,
                     Ranks const& ranks) {
  int dimension = data.Dimension();
  Matrix variances(1, dimension, 0.0);
  double* sum = variances.data;
  int const parts = StatisticParts(threads, dimension, 3.0 * data.Count() * dimension);
  // Split by elements: each sum adds the vectors in data order.
  ParallelFor(threads, parts, [&](int part, int) {
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
  ranks.AddInRankOrder(sum, dimension);
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

namespace {

// The positions 0 ... n - 1 sorted by their keys (0 to kRandomMax), equal
// keys by position. Counting the keys gives this order in one pass, as the
// positions come in order.
std::vector<uint32_t> OrderByKeys(std::vector<int32_t> const& keys) {
  size_t const n = keys.size();
  std::vector<uint32_t> start(kRandomMax + 2, 0);
  for (size_t p = 0; p < n; ++p) ++start[keys[p] + 1];
  for (int key = 0; key <= kRandomMax; ++key) start[key + 1] += start[key];
  std::vector<uint32_t> order(n);
  for (size_t p = 0; p < n; ++p) order[start[keys[p]]++] = static_cast<uint32_t>(p);
  return order;
}

// Takes the candidates in order, each unless it equals one already taken,
// until count are taken. A candidate equal to an earlier candidate that was
// passed over is also equal to the taken vector that one equals (equality
// of vectors without NaN is transitive, and a vector with NaN equals none),
// so comparing with the taken vectors alone decides as comparing with all
// earlier ones.
template <class Vector>
bool TakeDistinct(std::vector<uint32_t> const& order, Vector const& vector, int dimension,
                  int count, std::vector<int>& taken) {
  taken.clear();
  for (uint32_t candidate : order) {
    double const* x = vector(candidate);
    bool seen = false;
    for (int chosen : taken) {
      if (SameVector(x, vector(chosen), dimension)) {
        seen = true;
        break;
      }
    }
    if (seen) continue;
    taken.push_back(static_cast<int>(candidate));
    if (static_cast<int>(taken.size()) == count) return true;
  }
  return false;
}

}  // namespace

bool SelectUniquePoints(Data const& data, int count, std::vector<int>& positions) {
  // The positions sorted by their random keys, equal keys by position: keys
  // repeat (32768 values), and this order of the pairs is fully determined.
  std::vector<int32_t> keys(data.Count());
  for (int32_t& key : keys) key = RandomNext();
  std::vector<uint32_t> order = OrderByKeys(keys);
  return TakeDistinct(
      order, [&](uint32_t p) { return data.Vector(p); }, data.Dimension(), count, positions);
}

bool SelectUniqueVectors(Data const& data, int count, Matrix& vectors) {
  int const d = data.Dimension();
  std::vector<int> taken;
  if (RankCount() == 1) {
    bool const found = SelectUniquePoints(data, count, taken);
    vectors.Resize(static_cast<int>(taken.size()), d, false);
    for (size_t i = 0; i < taken.size(); ++i)
      std::copy(data.Vector(taken[i]), data.Vector(taken[i]) + d, vectors.data + i * d);
    return found;
  }
  // Each rank draws the keys of its own vectors, as one process would draw
  // them for these positions, and leaves the generator where one process
  // would: every rank ends in the same state.
  size_t const n = data.Count();
  uint64_t const first = data.share.first, total = data.TotalCount();
  RandomSkip(first);
  std::vector<int32_t> keys(n);
  for (int32_t& key : keys) key = RandomNext();
  RandomSkip(total - first - n);
  // A vector chosen among all is the first of its kind in its rank's order,
  // behind fewer than count others that are: each rank offers its first
  // count distinct vectors, as (key, position in the file, values).
  std::vector<uint32_t> order = OrderByKeys(keys);
  TakeDistinct(
      order, [&](uint32_t p) { return data.Vector(p); }, d, count, taken);
  size_t const stride = static_cast<size_t>(d) + 2;
  std::vector<double> offered(taken.size() * stride);
  for (size_t i = 0; i < taken.size(); ++i) {
    double* row = offered.data() + i * stride;
    row[0] = keys[taken[i]];
    row[1] = static_cast<double>(first + taken[i]);
    std::copy(data.Vector(taken[i]), data.Vector(taken[i]) + d, row + 2);
  }
  std::vector<double> all = GatherVaryingFromAll(offered.data(), offered.size());
  std::vector<uint32_t> candidates(all.size() / stride);
  for (size_t i = 0; i < candidates.size(); ++i) candidates[i] = static_cast<uint32_t>(i);
  auto row = [&](uint32_t i) { return all.data() + i * stride; };
  std::sort(candidates.begin(), candidates.end(), [&](uint32_t a, uint32_t b) {
    return row(a)[0] != row(b)[0] ? row(a)[0] < row(b)[0] : row(a)[1] < row(b)[1];
  });
  bool const found = TakeDistinct(
      candidates, [&](uint32_t i) { return row(i) + 2; }, d, count, taken);
  vectors.Resize(static_cast<int>(taken.size()), d, false);
  for (size_t i = 0; i < taken.size(); ++i)
    std::copy(row(taken[i]) + 2, row(taken[i]) + 2 + d, vectors.data + i * d);
  return found;
}

Matrix DataMean(Data const& data) { return DataMean(data, ProgramThreads(), ProgramRanks()); }

Matrix DataCovariance(Data const& data, Matrix const& mean) {
  return DataCovariance(data, mean, ProgramThreads(), ProgramRanks());
}

Matrix DataVariances(Data const& data, Matrix const& mean) {
  return DataVariances(data, mean, ProgramThreads(), ProgramRanks());
}
