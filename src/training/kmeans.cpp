#include "training/kmeans.h"

#include <algorithm>
#include <cfloat>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "matrix/datautils.h"
#include "parallel/ranks.h"
#include "parallel/threads.h"
#include "training/blocks.h"

namespace {

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
// inverted lower Cholesky factor (full type), whether usable or not.
Matrix MetricFactor(MixtureComponent const& component) {
  Matrix factor;
  double determinant, logRootDeterminant;
  InverseCovarianceFactor(component, factor, &determinant, &logRootDeterminant);
  return factor;
}

int const B = kBlockVectors;

// The vectors of one chunk: about kChunkDoubles of data, so that the sums
// find the vectors still in the second-level cache after the assignment, and
// at least four blocks per thread.
size_t ChunkVectors(int d, int workers) {
  size_t const room = kChunkDoubles / std::max(d, 1) / B * B;
  return std::max<size_t>(room, static_cast<size_t>(4 * B) * workers);
}

// The storage of one thread for the distances of a block's vectors to all
// components.
struct BlockScratch {
  std::vector<double> block;      // d x B, the vectors transposed
  std::vector<double> centred;    // d x B
  std::vector<double> distances;  // K x B
  double nearest[B];              // each vector's nearest component
};

// Assigns vectors first ... first + count - 1 to components block by block
// into nearest. Without factors the distance is Euclidean: the diagonal form
// with inverse variances of 1 (e * e * 1.0 is e * e), the best starting at
// the largest finite double, so that a vector without any distance below it
// goes to component 0. With factors it is Mahalanobis under them, and
// component 0 stands first whatever its distance, so that a NaN distance
// never wins.
void Assign(TrainingContext const& context, Data const& data, size_t first, size_t count,
            MixtureModel const& model, std::vector<Matrix> const* factors,
            std::vector<double> const& ones, std::vector<BlockScratch>& scratch, int32_t* nearest) {
  Kernels const& kernels = context.kernels;
  int const workers = static_cast<int>(scratch.size());
  int const d = data.Dimension(), K = model.count;
  // Split by blocks: each vector's component is its own.
  ParallelFor(
      context.threads, static_cast<int>((count + B - 1) / B),
      [&](int b, int thread) {
        BlockScratch& t = scratch[thread];
        size_t const start = first + static_cast<size_t>(b) * B;
        int const inBlock = BlockLength(first + count, start);
        GatherBlock(data, start, inBlock, t.block.data());
        for (int c = 0; c < K; ++c) {
          double* out = t.distances.data() + c * B;
          if (factors)
            BlockComponentDistances(kernels, t.block.data(), d, *model.components[c], (*factors)[c],
                                    t.centred.data(), out);
          else
            BlockDiagonalDistances(kernels, t.block.data(), d, model.components[c]->mean.data,
                                   ones.data(), out);
        }
        BlockNearest(kernels, t.distances.data(), K, factors != nullptr, t.nearest);
        int32_t* out = nearest + static_cast<size_t>(b) * B;
        for (int n = 0; n < inBlock; ++n) out[n] = static_cast<int32_t>(t.nearest[n]);
      },
      workers);
}

// The vectors of a chunk grouped by cluster, each group in data order:
// group c is members[starts[c]] ... members[starts[c + 1] - 1].
struct ClusterMembers {
  std::vector<uint32_t> members;
  std::vector<size_t> starts, next;

  void Group(int32_t const* nearest, size_t count, int K) {
    starts.assign(K + 1, 0);
    for (size_t n = 0; n < count; ++n) ++starts[nearest[n] + 1];
    for (int c = 0; c < K; ++c) starts[c + 1] += starts[c];
    next.assign(starts.begin(), starts.end() - 1);
    members.resize(count);
    for (size_t n = 0; n < count; ++n) members[next[nearest[n]]++] = static_cast<uint32_t>(n);
  }
};

// Adds vectors first ... first + count - 1 to the accumulator (K x (d + 1))
// by their nearest components: column 0 counts the vectors, columns 1 ... d
// sum them.
void AddToClusters(Threads const& threads, Data const& data, size_t first, size_t count,
                   int32_t const* nearest, Matrix& accumulator, int workers,
                   ClusterMembers& groups) {
  int const columns = data.Dimension() + 1, K = accumulator.rows;
  int const parts = SumParts(workers);
  // Clusters first, each part reading the vectors of its own clusters
  // alone, as grouped beforehand; a part of the columns reads them all.
  int const clusterParts = std::min(K, parts);
  int const columnParts = std::min(columns, (parts + clusterParts - 1) / clusterParts);
  if (clusterParts > 1) groups.Group(nearest, count, K);
  // Split by sums: a part adds some columns of some clusters, each sum over
  // the cluster's vectors in data order, after those of the chunks before.
  ParallelFor(threads, columnParts * clusterParts, [&](int part, int) {
    int j0, j1, c0, c1;
    PartOf(columns, part % columnParts, columnParts, &j0, &j1);
    PartOf(K, part / columnParts, clusterParts, &c0, &c1);
    auto add = [&](int c, size_t n) {
      double const* x = data.Vector(first + n);
      double* row = accumulator.data + static_cast<size_t>(c) * columns;
      if (j0 == 0) row[0] += 1.0;
      for (int j = std::max(j0, 1); j < j1; ++j) row[j] += x[j - 1];
    };
    if (clusterParts == 1) {
      for (size_t n = 0; n < count; ++n) add(nearest[n], n);
      return;
    }
    for (int c = c0; c < c1; ++c)
      for (size_t i = groups.starts[c]; i < groups.starts[c + 1]; ++i) add(c, groups.members[i]);
  });
}

// The passes of one k-means run: the assignment and the sums, a chunk of
// vectors at a time.
struct KMeansRun {
  TrainingContext& context;
  Data const& data;
  MixtureModel& model;
  std::vector<Matrix> const* factors;  // null: Euclidean
  std::vector<double> ones;
  std::vector<BlockScratch> scratch;  // one per thread
  std::vector<int32_t> nearest;       // the chunk's components
  ClusterMembers groups;              // the chunk's vectors by component
  size_t chunk;

  KMeansRun(TrainingContext& context, Data const& data, MixtureModel& model,
            std::vector<Matrix> const* factors)
      : context(context), data(data), model(model), factors(factors), ones(data.Dimension(), 1.0) {
    int const d = data.Dimension();
    bool const full = factors && AnyFullCovariance(model);
    size_t const centred = full ? static_cast<size_t>(d) * B : 0;
    size_t const doubles =
        static_cast<size_t>(d) * B + centred + static_cast<size_t>(model.count) * B;
    double const operations =
        static_cast<double>(data.Count()) * model.count * (full ? d * d : 3 * d);
    scratch.resize(context.threads.WorkersFor(sizeof(double) * doubles, operations));
    for (BlockScratch& t : scratch) {
      t.block.assign(static_cast<size_t>(d) * B, 0.0);
      t.centred.assign(centred, 0.0);
      t.distances.assign(static_cast<size_t>(model.count) * B, 0.0);
    }
    chunk = std::min(ChunkVectors(d, static_cast<int>(scratch.size())), data.Count());
    nearest.assign(chunk, 0);
  }

  // Fills the accumulator with the counts and sums of the clusters over the
  // vectors of all ranks; false, with the sums unfinished, when a stop was
  // requested.
  bool Sums(Matrix& accumulator) {
    accumulator.Fill(0.0);
    for (size_t first = 0; first < data.Count(); first += chunk) {
      if (context.StopRequested()) return false;
      size_t const count = std::min(chunk, data.Count() - first);
      Assign(context, data, first, count, model, factors, ones, scratch, nearest.data());
      AddToClusters(context.threads, data, first, count, nearest.data(), accumulator,
                    static_cast<int>(scratch.size()), groups);
    }
    context.ranks.AddInRankOrder(accumulator.data,
                                 static_cast<size_t>(accumulator.rows) * accumulator.columns);
    return true;
  }
};

}  // namespace

bool NearestMeans(Data const& data, MixtureModel const& model, int32_t* labels,
                  TrainingContext& context) {
  MixtureModel copy(model);
  KMeansRun run(context, data, copy, nullptr);
  for (size_t first = 0; first < data.Count(); first += run.chunk) {
    if (context.StopRequested()) return false;
    size_t const count = std::min(run.chunk, data.Count() - first);
    Assign(context, data, first, count, copy, nullptr, run.ones, run.scratch, labels + first);
  }
  return true;
}

namespace {

// Re-estimates every covariance from the members of the final assignment:
// the second moment about zero divided by the member count, minus m' m''
// with m' the members' own mean, summed in data order and scaled like the
// means of an update. (The means of the last update may belong to other
// members: a vector that changed cluster since would leave a matrix that is
// no covariance, with negative variances.) A full covariance adds x_i * x_j
// of each member to its lower triangle only; the upper one would add the
// same products in the same order, so it is copied.
void UpdateCovariances(KMeansRun& run) {
  TrainingContext& context = run.context;
  Data const& data = run.data;
  MixtureModel& model = run.model;
  int const d = data.Dimension(), K = model.count;
  std::vector<int32_t> counts(K, 0);
  Matrix sums(K, d, 0.0);
  for (int c = 0; c < K; ++c) {
    // The products go straight into the covariance, so a full one must be
    // square of the data's dimension.
    Matrix& covariance = model.components[c]->covariance;
    if (model.components[c]->type != MM_COV_DIAGONAL &&
        (covariance.rows != d || covariance.columns != d))
      MatrixFatalError("Matrix::operator+=: size mismatch.");
    covariance.Fill(0.0);
  }
  int const parts = SumParts(static_cast<int>(run.scratch.size()));
  int const rowParts = std::max(1, std::min(d, parts));
  int const clusterParts = std::min(K, (parts + rowParts - 1) / rowParts);
  for (size_t first = 0; first < data.Count(); first += run.chunk) {
    size_t const count = std::min(run.chunk, data.Count() - first);
    int32_t const* nearest = run.nearest.data();
    Assign(context, data, first, count, model, run.factors, run.ones, run.scratch,
           run.nearest.data());
    // Split by sums: a part adds rows i0 ... i1 - 1 of the covariances (and
    // elements i0 ... i1 - 1 of the sums) of some clusters, each over the
    // cluster's vectors in data order, after those of the chunks before.
    ParallelFor(context.threads, rowParts * clusterParts, [&](int part, int) {
      int i0, i1, c0, c1;
      PartOf(d, part % rowParts, rowParts, &i0, &i1);
      PartOf(K, part / rowParts, clusterParts, &c0, &c1);
      for (size_t n = 0; n < count; ++n) {
        int const c = nearest[n];
        if (c < c0 || c >= c1) continue;
        double const* x = data.Vector(first + n);
        double* covariance = model.components[c]->covariance.data;
        double* sum = sums.data + static_cast<size_t>(c) * d;
        if (model.components[c]->type == MM_COV_DIAGONAL) {
          for (int i = i0; i < i1; ++i) covariance[i] += x[i] * x[i];
        } else {
          for (int i = i0; i < i1; ++i)
            for (int j = 0; j <= i; ++j) covariance[i * d + j] += x[i] * x[j];
        }
        for (int i = i0; i < i1; ++i) sum[i] += x[i];
        if (i0 == 0) ++counts[c];
      }
    });
  }
  if (context.ranks.Count() > 1) {
    // The sums of all ranks, added in rank order in one exchange.
    std::vector<double> all(sums.data, sums.data + static_cast<size_t>(K) * d);
    for (int c = 0; c < K; ++c) {
      Matrix const& covariance = model.components[c]->covariance;
      all.insert(all.end(), covariance.data,
                 covariance.data + static_cast<size_t>(covariance.rows) * covariance.columns);
      all.push_back(counts[c]);
    }
    context.ranks.AddInRankOrder(all.data(), all.size());
    double const* at = all.data();
    std::copy_n(at, static_cast<size_t>(K) * d, sums.data);
    at += static_cast<size_t>(K) * d;
    for (int c = 0; c < K; ++c) {
      Matrix& covariance = model.components[c]->covariance;
      size_t const size = static_cast<size_t>(covariance.rows) * covariance.columns;
      std::copy_n(at, size, covariance.data);
      at += size;
      counts[c] = static_cast<int32_t>(*at++);
    }
  }
  for (int c = 0; c < K; ++c) {
    double const scale = 1.0 / static_cast<double>(counts[c]);
    double* mean = sums.data + static_cast<size_t>(c) * d;
    for (int j = 0; j < d; ++j) mean[j] = scale * mean[j];
    CovarianceFromMoments(*model.components[c], scale, mean);
  }
}

}  // namespace

void KMeans(Data const& data, MixtureModel& model, int iterations, bool /*flag*/,
            TrainingContext& context) {
  size_t const count = data.TotalCount();
  if (iterations <= 0 || model.count <= 0 || count == 0) return;
  int const d = data.Dimension();
  Matrix accumulator(model.count, d + 1);
  KMeansRun run(context, data, model, nullptr);
  for (int iteration = 1; iteration <= iterations; ++iteration) {
    if (!run.Sums(accumulator)) return;
    if (!UpdateMeansAndWeights(accumulator, model, count, d)) break;
  }
}

void KMeansWithTolerance(Data const& data, MixtureModel& model, int iterations, double tolerance,
                         TrainingContext& context) {
  size_t const count = data.TotalCount();
  if (iterations <= 0 || model.count <= 0 || count == 0) return;
  int const d = data.Dimension();
  Matrix accumulator(model.count, d + 1), old(model.count, d);
  KMeansRun run(context, data, model, nullptr);
  for (int iteration = 1; iteration <= iterations; ++iteration) {
    if (!run.Sums(accumulator)) return;
    for (int c = 0; c < model.count; ++c) old.SetSubMatrix(model.components[c]->mean, c, 0);
    if (!UpdateMeansAndWeights(accumulator, model, count, d)) break;
    double shift = 0.0;
    for (int c = 0; c < model.count; ++c)
      for (int j = 0; j < d; ++j) {
        double const e = model.components[c]->mean.data[j] - old(c, j);
        shift += e * e;
      }
    if (shift <= tolerance) break;
  }
}

void KMeans(Data const& data, MixtureModel& model, int iterations, bool flag) {
  KMeans(data, model, iterations, flag, ProgramTrainingContext());
}

void MahalanobisKMeans(Data const& data, MixtureModel& model, bool shared_metric, int iterations,
                       bool update_covariances, TrainingContext& context) {
  size_t const count = data.TotalCount();
  if (iterations <= 0 || model.count <= 0 || count == 0) return;
  int const d = data.Dimension();

  // The metrics stay those of the covariances on entry for the whole call.
  std::vector<Matrix> factors;
  factors.reserve(model.count);
  for (int c = 0; c < model.count; ++c)
    factors.push_back(shared_metric && c > 0 ? factors[0] : MetricFactor(*model.components[c]));

  Matrix accumulator(model.count, d + 1);
  KMeansRun run(context, data, model, &factors);
  for (int iteration = 0; iteration < iterations; ++iteration) {
    if (!run.Sums(accumulator)) return;
    UpdateMeansAndWeights(accumulator, model, count, d);
  }
  if (update_covariances && !context.StopRequested()) UpdateCovariances(run);
}

void MahalanobisKMeans(Data const& data, MixtureModel& model, bool shared_metric, int iterations,
                       bool update_covariances) {
  MahalanobisKMeans(data, model, shared_metric, iterations, update_covariances,
                    ProgramTrainingContext());
}
