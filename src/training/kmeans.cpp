#include "training/kmeans.h"

#include <cfloat>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "training/blocks.h"

namespace {

// Adds x to cluster c of the accumulator: column 0 counts the vectors,
// columns 1 ... d sum them.
inline void AddToCluster(Matrix& accumulator, int c, double const* x, int d) {
  double* row = accumulator.data + static_cast<size_t>(c) * (d + 1);
  row[0] += 1.0;
  for (int j = 0; j < d; ++j) row[1 + j] += x[j];
}

// Sets every weight to its cluster's share of the count vectors and every
// mean of a non-empty cluster to the average of its vectors. Returns whether
// any mean element changed.
bool UpdateMeansAndWeights(Matrix const& accumulator, MixtureModel& model, size_t count, int d) {
  double const N = static_cast<double>(count);
  bool changed = false;
  for (int c = 0; c < model.count; ++c) {
    MixtureComponent& component = *model.components[c];
    double const* row = accumulator.data + static_cast<size_t>(c) * (d + 1);
    double const members = row[0];
    component.weight = members / N;
    if (members == 0.0) continue;
    double const scale = 1.0 / members;
    double* mean = component.mean.data;
    for (int j = 0; j < d; ++j) {
      double value = scale * row[1 + j];
      if (value != mean[j]) changed = true;
      mean[j] = value;
    }
  }
  return changed;
}

// The metric of a covariance: its inverse variances (diagonal type) or its
// inverted lower Cholesky factor (full type).
Matrix MetricFactor(MixtureComponent const& component) {
  Matrix factor(component.covariance);
  if (component.type == MM_COV_DIAGONAL) {
    factor.InvertElements();
  } else {
    factor.CholeskyDecomposition(nullptr);
    factor.InvertLowerTriangular();
  }
  return factor;
}

int const B = kBlockVectors;

// Assigns vectors to components block by block: the distances of a block's
// vectors to all components come from the block kernels, then each vector
// picks its component from its column of distances.
struct BlockAssignment {
  std::vector<double> block;      // d x B, the vectors transposed
  std::vector<double> centred;    // d x B
  std::vector<double> distances;  // K x B
  int nearest[kBlockVectors];

  BlockAssignment(int d, int K)
      : block(static_cast<size_t>(d) * B), centred(block.size()),
        distances(static_cast<size_t>(K) * B) {}

  // Euclidean: the squared distance is the diagonal form with inverse
  // variances of 1 (e * e * 1.0 is e * e). The best distance starts at the
  // largest finite double and component 0; a component replaces the best
  // only when strictly nearer, so ties keep the lower index and a vector
  // without any distance below the start goes to component 0.
  void Euclidean(Data const& data, size_t first, int count, MixtureModel const& model,
                 std::vector<double> const& ones) {
    int const d = data.Dimension();
    GatherBlock(data, first, count, block.data());
    for (int c = 0; c < model.count; ++c)
      BlockDiagonalDistances(block.data(), d, model.components[c]->mean.data, ones.data(),
                             distances.data() + c * B);
    PickNearest(count, model.count, false);
  }

  // Mahalanobis under the given factors. Component 0 stands first whatever
  // its distance; a later one replaces the best only when strictly nearer,
  // so ties keep the lower index and a NaN distance never wins.
  void Mahalanobis(Data const& data, size_t first, int count, MixtureModel const& model,
                   std::vector<Matrix> const& factors) {
    int const d = data.Dimension();
    GatherBlock(data, first, count, block.data());
    for (int c = 0; c < model.count; ++c)
      BlockComponentDistances(block.data(), d, *model.components[c], factors[c], centred.data(),
                              distances.data() + c * B);
    PickNearest(count, model.count, true);
  }

  // nearest[n] := the component of the least distance in column n. With
  // firstStands component 0 is the first best whatever its distance,
  // otherwise the best starts at the largest finite double and component 0.
  // A component replaces the best only when strictly nearer.
  void PickNearest(int count, int K, bool firstStands) {
    for (int n = 0; n < count; ++n) {
      int best = 0;
      double bestDistance = firstStands ? distances[n] : DBL_MAX;
      for (int c = firstStands ? 1 : 0; c < K; ++c) {
        double const distance = distances[c * B + n];
        if (distance < bestDistance) {
          bestDistance = distance;
          best = c;
        }
      }
      nearest[n] = best;
    }
  }
};

// Re-estimates every covariance from its members under assignment: the
// second moment about zero divided by the member count, minus m' m'' with m'
// the members' own mean, summed in data order and scaled like the means of
// an update. (The means of the last update may belong to other members: a
// vector that changed cluster since would leave a matrix that is no
// covariance, with negative variances.) A full covariance adds x_i * x_j of
// each member to its lower triangle only; the upper one would add the same
// products in the same order, so it is copied.
void UpdateCovariances(Data const& data, MixtureModel& model, std::vector<int32_t> const& assignment) {
  int const d = data.Dimension();
  std::vector<int32_t> counts(model.count, 0);
  Matrix sums(model.count, d, 0.0);
  for (int c = 0; c < model.count; ++c) {
    // The products go straight into the covariance, so a full one must be
    // square of the data's dimension.
    Matrix& covariance = model.components[c]->covariance;
    if (model.components[c]->type != MM_COV_DIAGONAL && (covariance.rows != d || covariance.columns != d))
      MatrixFatalError("Matrix::operator+=: size mismatch.");
    covariance.Fill(0.0);
  }
  for (size_t n = 0; n < assignment.size(); ++n) {
    double const* x = data.Vector(n);
    MixtureComponent& component = *model.components[assignment[n]];
    double* covariance = component.covariance.data;
    double* sum = sums.data + static_cast<size_t>(assignment[n]) * d;
    if (component.type == MM_COV_DIAGONAL) {
      for (int j = 0; j < d; ++j) covariance[j] += x[j] * x[j];
    } else {
      for (int i = 0; i < d; ++i)
        for (int j = 0; j <= i; ++j) covariance[i * d + j] += x[i] * x[j];
    }
    for (int j = 0; j < d; ++j) sum[j] += x[j];
    ++counts[assignment[n]];
  }
  for (int c = 0; c < model.count; ++c) {
    double const scale = 1.0 / static_cast<double>(counts[c]);
    double* mean = sums.data + static_cast<size_t>(c) * d;
    for (int j = 0; j < d; ++j) mean[j] = scale * mean[j];
    CovarianceFromMoments(*model.components[c], scale, mean);
  }
}

}  // namespace

void KMeans(Data const& data, MixtureModel& model, int iterations, bool /*flag*/) {
  size_t const count = data.Count();
  if (iterations <= 0 || model.count <= 0 || count == 0) return;
  int const d = data.Dimension();
  Matrix accumulator(model.count, d + 1);
  BlockAssignment assignment(d, model.count);
  std::vector<double> const ones(d, 1.0);
  for (int iteration = 1; iteration <= iterations; ++iteration) {
    accumulator.Fill(0.0);
    for (size_t first = 0; first < count; first += B) {
      int const inBlock = BlockLength(count, first);
      assignment.Euclidean(data, first, inBlock, model, ones);
      for (int n = 0; n < inBlock; ++n)
        AddToCluster(accumulator, assignment.nearest[n], data.Vector(first + n), d);
    }
    if (!UpdateMeansAndWeights(accumulator, model, count, d)) break;
  }
}

void MahalanobisKMeans(Data const& data, MixtureModel& model, bool shared_metric, int iterations,
                       bool update_covariances) {
  size_t const count = data.Count();
  if (iterations <= 0 || model.count <= 0 || count == 0) return;
  int const d = data.Dimension();

  // The metrics stay those of the covariances on entry for the whole call.
  std::vector<Matrix> factors;
  factors.reserve(model.count);
  for (int c = 0; c < model.count; ++c)
    factors.push_back(shared_metric && c > 0 ? factors[0] : MetricFactor(*model.components[c]));

  Matrix accumulator(model.count, d + 1);
  BlockAssignment assignment(d, model.count);
  for (int iteration = 0; iteration < iterations; ++iteration) {
    accumulator.Fill(0.0);
    for (size_t first = 0; first < count; first += B) {
      int const inBlock = BlockLength(count, first);
      assignment.Mahalanobis(data, first, inBlock, model, factors);
      for (int n = 0; n < inBlock; ++n)
        AddToCluster(accumulator, assignment.nearest[n], data.Vector(first + n), d);
    }
    UpdateMeansAndWeights(accumulator, model, count, d);
  }

  if (update_covariances) {
    std::vector<int32_t> members(count);
    for (size_t first = 0; first < count; first += B) {
      int const inBlock = BlockLength(count, first);
      assignment.Mahalanobis(data, first, inBlock, model, factors);
      for (int n = 0; n < inBlock; ++n) members[first + n] = assignment.nearest[n];
    }
    UpdateCovariances(data, model, members);
  }
}
