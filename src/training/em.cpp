#include "training/em.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <limits>
#include <vector>

#include "matrix/datautils.h"
#include "parallel/ranks.h"
#include "parallel/threads.h"
#include "training/blocks.h"

namespace {

// The smallest normal double: the floor of mixture densities and of the
// responsibility totals, so that logarithms and reciprocals stay finite.
const double kTiny = 2.2250738585072014e-308;
const double kTwoPi = 6.283185307179586;
const double kLogTwoPi = 1.8378770664093453;

int const B = kBlockVectors;

// Resizes v to n elements, all 0.0, without giving back storage.
void Zeroed(std::vector<double>& v, size_t n) { v.assign(n, 0.0); }

int RoundUp(int n, int multiple) { return (n + multiple - 1) / multiple * multiple; }

// How the passes over the data are shared out: the threads, each with its
// own EMThreadScratch, and the blocks of one chunk. A thread alone takes one
// block at a time, so that the sums find its responsibilities in the
// first-level cache; threads take enough blocks to fill kChunkDoubles and at
// least four each, as long as their block slots (two chunks' worth each)
// take no more than kScratchRoom.
struct Passes {
  int workers;
  int blocks;
};

Passes PassesFor(Threads const& threads, MixtureModel const& model, int d, size_t count) {
  int const K = model.count > 0 ? model.count : 0, K4 = RoundUp(K, 4);
  bool const full = AnyFullCovariance(model);
  size_t const perThread = static_cast<size_t>(B) * ((full ? d : 0) + 2 * K + 5 + 8);
  size_t const perBlock = static_cast<size_t>(B) * (K4 + d + 2 + 1);
  // The distances, the exponential and the sums of one vector.
  double const operations = static_cast<double>(count) * K * ((full ? d * d : 4 * d) + 20);
  Passes passes;
  passes.workers = threads.WorkersFor(sizeof(double) * perThread, operations);
  size_t blocks = std::max(kChunkDoubles / perBlock, static_cast<size_t>(4 * passes.workers));
  blocks = std::min(blocks, kScratchRoom / sizeof(double) / perBlock / (2 * passes.workers));
  if (passes.workers == 1) blocks = 1;
  blocks = std::min(blocks, (count + B - 1) / B);
  passes.blocks = static_cast<int>(std::max<size_t>(blocks, 1));
  return passes;
}

// Prepares the storage of w for the passes over vectors of dimension d
// against model and copies the weights and normalisers out of the
// components and the cache.
void PrepareScratch(EMWorkspace& w, MixtureModel const& model, DeterminantInverseCache const& cache,
                    int d, Passes const& passes) {
  int const K = model.count > 0 ? model.count : 0;
  bool const full = AnyFullCovariance(model);
  w.threads.resize(passes.workers);
  for (EMThreadScratch& t : w.threads) {
    t.blocksTaken.reserve(passes.blocks);
    t.blocksTaken.clear();
    Zeroed(t.centred, full ? static_cast<size_t>(d) * B : 0);
    Zeroed(t.distances, static_cast<size_t>(K) * B);
    Zeroed(t.columnSums, B);
    Zeroed(t.explained, B);
    Zeroed(t.moments, static_cast<size_t>(B) * 8);
    Zeroed(t.exps, static_cast<size_t>(K) * B);
    Zeroed(t.top, B);
    Zeroed(t.shift, B);
    Zeroed(t.inLogDomain, B);
  }
  // Two chunks' worth of block slots per thread. Every slot's vectors are
  // followed by a row of ones and one of zeros; the rows of p from K to
  // K4 - 1 stay 0.
  size_t const slots = 2 * static_cast<size_t>(passes.workers) * passes.blocks;
  size_t const rows = static_cast<size_t>(d) + 2;
  w.slotOf.assign(2 * static_cast<size_t>(passes.blocks), 0);
  Zeroed(w.vectors, slots * rows * B);
  for (size_t slot = 0; slot < slots; ++slot) {
    double* ones = w.vectors.data() + (slot * rows + d) * B;
    std::fill(ones, ones + B, 1.0);
  }
  Zeroed(w.p, slots * RoundUp(K, 4) * B);
  Zeroed(w.logs, slots * B);
  w.weights.resize(K);
  w.normalisers.resize(K);
  w.logScales.resize(K);
  for (int k = 0; k < K; ++k) {
    w.weights[k] = model.components[k]->weight;
    w.normalisers[k] = cache[k].first;
    w.logScales[k] = std::log(w.weights[k]) - w.logNormalisers[k];
  }
}

// The vectors of block slot `slot`, transposed: d rows of B values.
double* SlotVectors(EMWorkspace& w, int d, int slot) {
  return w.vectors.data() + static_cast<size_t>(slot) * (d + 2) * B;
}

// The number of blocks in the chunk that starts at vector chunk.
int BlocksIn(size_t count, size_t chunk, int blocks) {
  return static_cast<int>(std::min<size_t>(blocks, (count - chunk + B - 1) / B));
}

// The log domain E step of a block from the squared distances in
// t.distances (K x B), for the vectors n < inBlock with a nonzero
// selected[n] (every one when selected is null): their log densities into
// logs and, unless p is null, their responsibilities into the rows of p.
// Each vector's terms are its own; its sum of exponentials adds the
// components in order from 0.0. The distances become the terms l_k.
void BlockLogExpectation(TrainingContext& c, EMThreadScratch& t, int K, int inBlock,
                         double const* selected, double* logs, double* p) {
  EMWorkspace& w = c.workspace;
  double const minusInf = -HUGE_VAL;
  double* l = t.distances.data();
  double* e = t.exps.data();
  double* top = t.top.data();
  double* shift = t.shift.data();
  double* sums = t.columnSums.data();
  for (int n = 0; n < B; ++n) top[n] = minusInf;
  for (int k = 0; k < K; ++k) {
    double const scale = w.logScales[k];
    double* row = l + k * B;
    for (int n = 0; n < B; ++n) {
      double const term = scale - 0.5 * row[n];
      // A NaN term counts as no density at all, as in ProbabilityDensity.
      row[n] = term > minusInf ? term : minusInf;
      top[n] = row[n] > top[n] ? row[n] : top[n];
    }
  }
  // With every term -infinity the shift is 0, and every exponential 0.
  for (int n = 0; n < B; ++n) shift[n] = top[n] > minusInf ? top[n] : 0.0;
  for (int k = 0; k < K; ++k) {
    for (int n = 0; n < B; ++n) e[k * B + n] = l[k * B + n] - shift[n];
    BlockExp(c.kernels, e + k * B);
  }
  BlockColumnSums(c.kernels, e, K, sums);
  double const logTiny = std::log(kTiny);
  for (int n = 0; n < inBlock; ++n) {
    shift[n] = top[n] > minusInf ? top[n] + std::log(sums[n]) : logTiny;
    if (selected == nullptr || selected[n] != 0.0) logs[n] = shift[n];
  }
  if (p == nullptr) return;
  double const share = 1.0 / K;
  if (w.responsibilitiesFromSums) {
    // The regularised step's order: e_k times the reciprocal of their sum.
    for (int n = 0; n < inBlock; ++n) sums[n] = 1.0 / sums[n];
    for (int k = 0; k < K; ++k)
      for (int n = 0; n < inBlock; ++n)
        if (selected == nullptr || selected[n] != 0.0)
          p[k * B + n] = top[n] > minusInf ? e[k * B + n] * sums[n] : share;
    return;
  }
  for (int k = 0; k < K; ++k) {
    for (int n = 0; n < B; ++n) e[k * B + n] = l[k * B + n] - shift[n];
    BlockExp(c.kernels, e + k * B);
    for (int n = 0; n < inBlock; ++n)
      if (selected == nullptr || selected[n] != 0.0)
        p[k * B + n] = top[n] > minusInf ? e[k * B + n] : share;
  }
}

// The E step on block b of the chunk that starts at vector chunk, into the
// storage of block slot `slot`: each vector's log density in w.logs and,
// when responsibilities is true, the responsibilities of the components in
// the rows of the slot's p. A vector that no component explains gets the
// floor's log and is shared equally.
void BlockExpectation(TrainingContext& c, EMThreadScratch& t, Data const& data, size_t chunk, int b,
                      int slot, MixtureModel const& model, DeterminantInverseCache const& cache,
                      bool responsibilities) {
  EMWorkspace& w = c.workspace;
  int const d = data.Dimension();
  int const K = model.count > 0 ? model.count : 0;
  size_t const first = chunk + static_cast<size_t>(b) * B;
  int const inBlock = BlockLength(data.Count(), first);
  double* block = SlotVectors(w, d, slot);
  double* p = w.p.data() + static_cast<size_t>(slot) * RoundUp(K, 4) * B;
  double* logs = w.logs.data() + static_cast<size_t>(slot) * B;
  GatherBlock(data, first, inBlock, block);
  // Each component's densities follow its distances while these are still
  // in the first-level cache.
  for (int k = 0; k < K; ++k) {
    BlockComponentDistances(c.kernels, block, d, *model.components[k], cache[k].second,
                            t.centred.data(), t.distances.data() + k * B);
    if (!w.logDomain)
      BlockWeightedDensities(c.kernels, t.distances.data() + k * B, w.weights[k], w.normalisers[k],
                             p + k * B);
  }
  if (w.logDomain)
    return BlockLogExpectation(c, t, K, inBlock, nullptr, logs, responsibilities ? p : nullptr);

  double const* sums = t.columnSums.data();
  BlockColumnSums(c.kernels, p, K, t.columnSums.data());
  double const logTiny = std::log(kTiny);
  for (int n = 0; n < inBlock; ++n) {
    bool const explained = K > 0 && !(sums[n] < kTiny);
    logs[n] = explained ? std::log(sums[n]) : logTiny;
    t.explained[n] = explained ? 1.0 : 0.0;
  }
  if (responsibilities) BlockNormalise(c.kernels, p, K, sums, t.explained.data(), 1.0 / K);
  // A sum below the normal doubles, or above them, goes to the log domain.
  // Usually none is, which one test per block tells.
  if (K == 0 || BlockWithin(c.kernels, sums, kTiny, DBL_MAX)) return;
  for (int n = 0; n < inBlock; ++n)
    t.inLogDomain[n] = sums[n] < kTiny || sums[n] == HUGE_VAL ? 1.0 : 0.0;
  BlockLogExpectation(c, t, K, inBlock, t.inLogDomain.data(), logs, responsibilities ? p : nullptr);
}

// The average log likelihood of data under model with the given cache, in
// context c; NaN when a stop was requested.
double LogLikelihood(Data const& data, MixtureModel const& model,
                     DeterminantInverseCache const& cache, TrainingContext& c) {
  EMWorkspace& w = c.workspace;
  size_t const count = data.Count();
  Passes const passes = PassesFor(c.threads, model, data.Dimension(), count);
  PrepareScratch(w, model, cache, data.Dimension(), passes);
  double sum = 0.0;
  for (size_t chunk = 0; chunk < count; chunk += static_cast<size_t>(passes.blocks) * B) {
    if (c.StopRequested()) return std::numeric_limits<double>::quiet_NaN();
    int const blocks = BlocksIn(count, chunk, passes.blocks);
    // Split by blocks: each vector's log density is its own.
    ParallelFor(
        c.threads, blocks,
        [&](int b, int thread) {
          BlockExpectation(c, w.threads[thread], data, chunk, b, b, model, cache, false);
        },
        passes.workers);
    // The vectors' log densities in data order.
    size_t const inChunk = std::min(count - chunk, static_cast<size_t>(blocks) * B);
    for (size_t n = 0; n < inChunk; ++n) sum += w.logs[n];
  }
  c.ranks.AddInRankOrder(&sum, 1);
  return sum / static_cast<double>(data.TotalCount());
}

// r[k] += p(k, n) for n = 0 ... count - 1 in this order, for every k < K:
// four components at a time, so that four independent sums overlap.
void AddRowSums(double const* p, int K, int count, double* r) {
  int k = 0;
  for (; k + 4 <= K; k += 4) {
    double r0 = r[k], r1 = r[k + 1], r2 = r[k + 2], r3 = r[k + 3];
    double const* row = p + k * B;
    for (int n = 0; n < count; ++n) {
      r0 += row[n];
      r1 += row[B + n];
      r2 += row[2 * B + n];
      r3 += row[3 * B + n];
    }
    r[k] = r0, r[k + 1] = r1, r[k + 2] = r2, r[k + 3] = r3;
  }
  for (; k < K; ++k)
    for (int n = 0; n < count; ++n) r[k] += p[k * B + n];
}

// The moments of a vector x that EM accumulates, one column each: x_j, then
// x_j * x_j, then (full) the products x_i * x_j of the strict lower
// triangle, row by row; zeros pad them to width. Column c is the product of
// the elements moment[2c] and moment[2c + 1] of x extended by 1.0 (at d) and
// 0.0 (at d + 1): x_j * 1.0 is x_j and 0.0 * 0.0 the padding.
void MomentColumns(int d, bool full, int width, std::vector<int>& moment) {
  moment.assign(2 * static_cast<size_t>(width), d + 1);
  int c = 0;
  for (int j = 0; j < d; ++j, ++c) moment[2 * c] = j, moment[2 * c + 1] = d;
  for (int j = 0; j < d; ++j, ++c) moment[2 * c] = j, moment[2 * c + 1] = j;
  if (full)
    for (int i = 1; i < d; ++i)
      for (int j = 0; j < i; ++j, ++c) moment[2 * c] = i, moment[2 * c + 1] = j;
}

// Adds the weighted moments of the vectors of one chunk, whose block b is in
// slot slots[b], to the sums of panels q0 ... q1 - 1 (eight columns each)
// and components 4 g0 ... 4 g1 - 1: block after block, each sum over the
// vectors in data order.
void AddMoments(TrainingContext& c, EMThreadScratch& t, size_t count, int d, size_t chunk,
                int blocks, int const* slots, int K4, int q0, int q1, int g0, int g1) {
  EMWorkspace& w = c.workspace;
  double* moments = t.moments.data();
  for (int b = 0; b < blocks; ++b) {
    int const inBlock = BlockLength(count, chunk + static_cast<size_t>(b) * B);
    double const* block = SlotVectors(w, d, slots[b]);
    double const* p = w.p.data() + (static_cast<size_t>(slots[b]) * K4 + 4 * g0) * B;
    for (int q = q0; q < q1; ++q) {
      int const* factors = w.moment.data() + 16 * q;
      for (int c = 0; c < 8; ++c) {
        double const* x = block + factors[2 * c] * B;
        double const* y = block + factors[2 * c + 1] * B;
        for (int n = 0; n < inBlock; ++n) moments[n * 8 + c] = x[n] * y[n];
      }
      BlockMoments(c.kernels, w.sums.data() + (static_cast<size_t>(q) * K4 + 4 * g0) * 8,
                   4 * (g1 - g0), 8, p, moments, inBlock);
    }
  }
}

// Copies the accumulated sums of component k (K4 x 8 panels, columns as
// MomentColumns) into its mean and the lower triangle of its covariance.
// Without the products (full false, which the caller promises only for
// diagonal components) a full covariance gets zeros off its diagonal.
void UnpackSums(double const* sums, int K4, int k, int d, bool full, MixtureComponent& component) {
  auto sum = [&](int c) { return sums[(static_cast<size_t>(c / 8) * K4 + k) * 8 + c % 8]; };
  double* mean = component.mean.data;
  double* covariance = component.covariance.data;
  for (int j = 0; j < d; ++j) mean[j] = sum(j);
  if (component.type == MM_COV_DIAGONAL) {
    for (int j = 0; j < d; ++j) covariance[j] = sum(d + j);
    return;
  }
  for (int j = 0; j < d; ++j) covariance[j * d + j] = sum(d + j);
  int c = 2 * d;
  for (int i = 1; i < d; ++i)
    for (int j = 0; j < i; ++j) covariance[i * d + j] = full ? sum(c++) : 0.0;
}

}  // namespace

namespace {

// Sets entry up for component and returns the log of its normaliser:
// ln L_jj summed over j (full) or 0.5 times the sum of ln v_j (diagonal),
// in order from 0.0, plus 0.5 d ln 2 pi; +infinity when the component is
// unusable. normalDeterminant tells whether a usable component's
// determinant is a finite normal double (always true for an unusable one).
double SetupEntry(MixtureComponent const& component, std::pair<double, Matrix>& entry,
                  bool* normalDeterminant) {
  double& normaliser = entry.first;
  Matrix& factor = entry.second;
  int const columns = component.covariance.columns;
  bool const diagonal = component.type == MM_COV_DIAGONAL;
  double logs;
  bool const usable = InverseCovarianceFactor(component, factor, &normaliser, &logs);
  double const determinant = normaliser;
  *normalDeterminant = !usable || (determinant >= DBL_MIN && determinant <= DBL_MAX);
  normaliser = std::sqrt(determinant) * std::pow(kTwoPi, 0.5 * columns);
  if (!std::isfinite(normaliser)) normaliser = 0.0;
  if (usable) return logs + 0.5 * columns * kLogTwoPi;
  normaliser = 0.0;
  if (diagonal)
    factor.Fill(1.0);
  else
    factor.Diag(1.0);
  return HUGE_VAL;
}

// Sets entries 0 ... count - 1 of cache up for model and, unless
// logNormalisers is null, puts their log normalisers there. Returns whether
// every vector is to be evaluated in the log domain.
bool SetupEntries(DeterminantInverseCache& cache, MixtureModel const& model,
                  std::vector<double>* logNormalisers) {
  size_t const count = model.count > 0 ? static_cast<size_t>(model.count) : 0;
  if (cache.size() < count) cache.resize(count, std::make_pair(0.0, Matrix()));
  if (logNormalisers != nullptr) logNormalisers->resize(count);
  bool logDomain = false;
  for (size_t k = 0; k < count; ++k) {
    bool normal;
    double const logNormaliser = SetupEntry(*model.components[k], cache[k], &normal);
    if (logNormalisers != nullptr) (*logNormalisers)[k] = logNormaliser;
    logDomain = logDomain || !normal;
  }
  return logDomain;
}

void SetupWorkspace(EMWorkspace& w, MixtureModel const& model) {
  w.logDomain = SetupEntries(w.cache, model, &w.logNormalisers);
  w.responsibilitiesFromSums = false;
}

}  // namespace

void SetupDeterminantAndInverseMatrices(DeterminantInverseCache& cache, MixtureModel const& model) {
  SetupEntries(cache, model, nullptr);
}

double emLogLikelihood(Data const& data, MixtureModel const& model, TrainingContext& context) {
  SetupWorkspace(context.workspace, model);
  return LogLikelihood(data, model, context.workspace.cache, context);
}

double emLogLikelihood(Data const& data, MixtureModel const& model) {
  return emLogLikelihood(data, model, ProgramTrainingContext());
}

double emLogLikelihood(Data const& data, MixtureModel const& model,
                       DeterminantInverseCache const& cache) {
  // The log normalisers come from the model: the caller's cache holds the
  // inverse factors, which the log domain shares.
  TrainingContext& context = ProgramTrainingContext();
  SetupWorkspace(context.workspace, model);
  return LogLikelihood(data, model, cache, context);
}

void emExpectation(Data const& data, MixtureModel const& model, TrainingContext& context,
                   double* logDensities, double* responsibilities) {
  EMWorkspace& w = context.workspace;
  size_t const count = data.Count();
  int const d = data.Dimension();
  int const K = model.count > 0 ? model.count : 0, K4 = RoundUp(K, 4);
  SetupWorkspace(w, model);
  Passes const passes = PassesFor(context.threads, model, d, count);
  PrepareScratch(w, model, w.cache, d, passes);
  for (size_t chunk = 0; chunk < count; chunk += static_cast<size_t>(passes.blocks) * B) {
    if (context.StopRequested()) return;
    // Split by blocks: every result is its vector's own.
    ParallelFor(
        context.threads, BlocksIn(count, chunk, passes.blocks),
        [&](int b, int thread) {
          BlockExpectation(context, w.threads[thread], data, chunk, b, b, model, w.cache, true);
          size_t const first = chunk + static_cast<size_t>(b) * B;
          int const inBlock = BlockLength(count, first);
          for (int n = 0; n < inBlock; ++n) logDensities[first + n] = w.logs[b * B + n];
          if (responsibilities == nullptr) return;
          // The block holds component k's responsibilities in row k; the
          // result holds them vector by vector.
          double const* p = w.p.data() + static_cast<size_t>(b) * K4 * B;
          for (int n = 0; n < inBlock; ++n)
            for (int k = 0; k < K; ++k) responsibilities[(first + n) * K + k] = p[k * B + n];
        },
        passes.workers);
  }
}

double emMonolithicEMStep(MixtureModel const& model, Data const& data, MixtureModel& updated,
                          bool diagonalOnly, TrainingContext& context) {
  return emMonolithicEMStep(model, data, updated, diagonalOnly, context, EMStepOptions());
}

double emMonolithicEMStep(MixtureModel const& model, Data const& data, MixtureModel& updated,
                          bool diagonalOnly, TrainingContext& context,
                          EMStepOptions const& options) {
  int const d = data.Dimension();
  int const K = model.count > 0 ? model.count : 0;
  size_t const count = data.Count();

  for (int k = 0; k < K; ++k) {
    // The sums go straight into the covariance, so a full one must be square
    // of the data's dimension.
    MixtureComponent const& component = *updated.components[k];
    Matrix const& covariance = component.covariance;
    if (component.type != MM_COV_DIAGONAL && (covariance.rows != d || covariance.columns != d))
      MatrixFatalError("Matrix::operator-=: size mismatch.");
  }
  EMWorkspace& w = context.workspace;
  SetupWorkspace(w, model);
  w.logDomain = w.logDomain || options.regularised;
  w.responsibilitiesFromSums = options.regularised;

  // Per vector: x, the squares and, unless every component is diagonal, the
  // rest of the lower triangle of x x' (the upper one holds the same
  // products), padded with zeros to the kernel's tile.
  bool const full = !diagonalOnly;
  int const width = RoundUp(full ? d + d * (d + 1) / 2 : 2 * d, 8);
  int const K4 = RoundUp(K, 4);
  Passes const passes = PassesFor(context.threads, model, d, count);
  PrepareScratch(w, model, w.cache, d, passes);
  MomentColumns(d, full, width, w.moment);
  Zeroed(w.sums, static_cast<size_t>(K4) * width);
  Zeroed(w.r, K);
  double* r = w.r.data();
  double L = 0.0;

  // The sums are shared out in parts of the moment panels and of the groups
  // of four components, about two parts per thread.
  int const parts = SumParts(passes.workers);
  int const panels = width / 8, groups = K4 / 4;
  int const panelParts = std::max(1, std::min(panels, parts));
  int const groupParts = std::max(1, std::min(groups, (parts + panelParts - 1) / panelParts));

  // Pass i runs the E step of chunk i and the accumulation of chunk i - 1,
  // which the pass before left in the other half of the block slots: the
  // threads meet once per chunk, and an accumulation part that takes longer
  // than the others leaves them E step blocks to do meanwhile. A thread
  // writes its blocks into slots of its own, so that no thread writes where
  // another one wrote last (each such write moves the memory between the
  // cores' caches).
  size_t const step = static_cast<size_t>(passes.blocks) * B;
  size_t const chunks = (count + step - 1) / step;
  int const sumParts = 1 + panelParts * groupParts;
  for (size_t i = 0; i <= chunks; ++i) {
    if (context.StopRequested()) return std::numeric_limits<double>::quiet_NaN();
    size_t const chunk = i * step, summed = (i - 1) * step;
    int const blocks = i < chunks ? BlocksIn(count, chunk, passes.blocks) : 0;
    int const summedBlocks = i > 0 ? BlocksIn(count, summed, passes.blocks) : 0;
    int const half = static_cast<int>(i % 2);
    int const* summedSlots = w.slotOf.data() + (1 - half) * passes.blocks;
    // Where the pass before left its blocks; each thread lists its own, so
    // that the threads write no shared table while they run.
    for (int thread = 0; thread < passes.workers; ++thread) {
      std::vector<int>& taken = w.threads[thread].blocksTaken;
      int const first = (2 * thread + 1 - half) * passes.blocks;
      for (size_t n = 0; n < taken.size(); ++n)
        w.slotOf[(1 - half) * passes.blocks + taken[n]] = first + static_cast<int>(n);
      taken.clear();
    }
    int const tasks = i > 0 ? sumParts : 0;
    ParallelFor(
        context.threads, tasks + blocks,
        [&](int task, int thread) {
          // E step, split by blocks: the responsibilities of the components
          // for each vector and its log density are the vector's own. A
          // vector that no component explains is shared equally.
          if (task >= tasks) {
            int const b = task - tasks;
            EMThreadScratch& t = w.threads[thread];
            int const slot =
                (2 * thread + half) * passes.blocks + static_cast<int>(t.blocksTaken.size());
            t.blocksTaken.push_back(b);
            BlockExpectation(context, t, data, chunk, b, slot, model, w.cache, true);
            return;
          }
          // Accumulation, split by sums: part 0 adds the log densities,
          // every other part the weighted moments of its panels and
          // components, and the parts of the first panels the
          // responsibilities of their components. Each sum adds the chunk's
          // vectors in data order, after those of the chunks before.
          if (task == 0) {
            for (int b = 0; b < summedBlocks; ++b) {
              double const* logs = w.logs.data() + static_cast<size_t>(summedSlots[b]) * B;
              int const inBlock = BlockLength(count, summed + static_cast<size_t>(b) * B);
              for (int n = 0; n < inBlock; ++n) L += logs[n];
            }
            return;
          }
          int q0, q1, g0, g1;
          PartOf(panels, (task - 1) % panelParts, panelParts, &q0, &q1);
          PartOf(groups, (task - 1) / panelParts, groupParts, &g0, &g1);
          AddMoments(context, w.threads[thread], count, d, summed, summedBlocks, summedSlots, K4,
                     q0, q1, g0, g1);
          if (q0 > 0) return;
          int const k0 = 4 * g0, k1 = std::min(K, 4 * g1);
          for (int b = 0; b < summedBlocks && k0 < k1; ++b)
            AddRowSums(w.p.data() + (static_cast<size_t>(summedSlots[b]) * K4 + k0) * B, k1 - k0,
                       BlockLength(count, summed + static_cast<size_t>(b) * B), r + k0);
        },
        passes.workers);
  }

  if (context.ranks.Count() > 1) {
    // The sums of all ranks, added in rank order in one exchange.
    std::vector<double> all(1 + K + w.sums.size());
    all[0] = L;
    std::copy(r, r + K, all.begin() + 1);
    std::copy(w.sums.begin(), w.sums.end(), all.begin() + 1 + K);
    context.ranks.AddInRankOrder(all.data(), all.size());
    L = all[0];
    std::copy(all.begin() + 1, all.begin() + 1 + K, r);
    std::copy(all.begin() + 1 + K, all.end(), w.sums.begin());
  }

  // M step.
  double const N = static_cast<double>(data.TotalCount());
  for (int k = 0; k < K; ++k) UnpackSums(w.sums.data(), K4, k, d, full, *updated.components[k]);
  if (options.regularised) {
    emRegularisedMStep(updated, r, options);
    return L / N;
  }
  for (int k = 0; k < K; ++k) {
    MixtureComponent& component = *updated.components[k];
    if (r[k] < kTiny) r[k] = kTiny;
    component.weight = r[k] / N;
    double const scale = 1.0 / r[k];
    component.mean.Scale(scale);
    CovarianceFromMoments(component, scale);
  }
  return L / N;
}

void emRegularisedMStep(MixtureModel& model, double const* counts, EMStepOptions const& options) {
  int const K = model.count > 0 ? model.count : 0;
  double const eps10 = 10 * DBL_EPSILON;
  double total = 0.0;
  for (int k = 0; k < K; ++k) total += counts[k] + eps10;
  for (int k = 0; k < K; ++k) {
    MixtureComponent& component = *model.components[k];
    double const count = counts[k] + eps10;
    component.weight = count / total;
    double const scale = 1.0 / count;
    component.mean.Scale(scale);
    CovarianceFromMoments(component, scale);
  }
  double const reg = options.regularisation;
  if (options.tie == CovarianceTie::kTied && K > 0) {
    // The weighted average, element by element in component order, into
    // component 0's covariance, then shared.
    Matrix& pooled = model.components[0]->covariance;
    pooled.Scale(model.components[0]->weight);
    for (int k = 1; k < K; ++k)
      pooled.Add(model.components[k]->covariance, model.components[k]->weight);
    for (int j = 0; j < pooled.columns; ++j) pooled(j, j) += reg;
    for (int k = 1; k < K; ++k) model.components[k]->covariance = pooled;
    return;
  }
  for (int k = 0; k < K; ++k) {
    Matrix& covariance = model.components[k]->covariance;
    bool const diagonal = model.components[k]->type == MM_COV_DIAGONAL;
    int const d = covariance.columns;
    if (diagonal && options.tie == CovarianceTie::kSpherical) {
      // The mean of the regularised variances, added in order.
      double sum = 0.0;
      for (int j = 0; j < d; ++j) sum += covariance.data[j] + reg;
      covariance.Fill(sum / d);
      continue;
    }
    for (int j = 0; j < d; ++j) covariance.data[diagonal ? j : j * d + j] += reg;
  }
}

double emLogDomainLogLikelihood(Data const& data, MixtureModel const& model,
                                TrainingContext& context) {
  SetupWorkspace(context.workspace, model);
  context.workspace.logDomain = true;
  return LogLikelihood(data, model, context.workspace.cache, context);
}

double emMonolithicEMStep(MixtureModel const& model, Data const& data, MixtureModel& updated,
                          bool diagonalOnly) {
  return emMonolithicEMStep(model, data, updated, diagonalOnly, ProgramTrainingContext());
}

bool emNumericalProblems() {
  return ProgramTrainingContext().last.stop == EMStop::kNumericalProblems;
}

namespace {

// The models of one EM run. The caller's model and two copies take turns as
// input and output of the steps: evaluated is the input of the last step,
// next its output, spare receives the output of the following step.
struct EmRun {
  Data const& data;
  Matrix const& minimumVariances;
  bool verbose;
  bool flushTrace;
  bool diagonalOnly;
  TrainingContext& context;
  MixtureModel& model;
  MixtureModel first;
  MixtureModel second;
  MixtureModel* evaluated;
  MixtureModel* next;
  MixtureModel* spare;
  double previous;  // the average log likelihood of evaluated
  int accepted = 0;

  EmRun(MixtureModel& model, Data const& data, Matrix const& minimumVariances, bool verbose,
        bool flushTrace, TrainingContext& context)
      : data(data),
        minimumVariances(minimumVariances),
        verbose(verbose),
        flushTrace(flushTrace),
        diagonalOnly(!AnyFullCovariance(model)),
        context(context),
        model(model),
        first(model),
        second(model),
        evaluated(&model),
        next(&first),
        spare(&second) {
    context.last = EMResult();
    model.LimitVariances(minimumVariances);
    previous = emMonolithicEMStep(model, data, *next, diagonalOnly, context);
  }

  // Floors next and runs the step from it; current receives its average log
  // likelihood. Returns false, saying why, when a stop was requested or the
  // log likelihood is not finite or lower than the previous one.
  bool Pass(double& current) {
    next->LimitVariances(minimumVariances);
    current = emMonolithicEMStep(*next, data, *spare, diagonalOnly, context);
    if (context.StopRequested()) {
      context.last.stop = EMStop::kStopped;
      return false;
    }
    if (verbose) {
      printf("%g\n", current);
      if (flushTrace) fflush(stdout);
    }
    if (!std::isfinite(current) || previous > current) {
      context.last.stop = EMStop::kNumericalProblems;
      return false;
    }
    return true;
  }

  // Accepts next, evaluated at current, as the new evaluated model.
  void Rotate(double current) {
    MixtureModel* old = evaluated;
    evaluated = next;
    next = spare;
    spare = old;
    previous = current;
    ++accepted;
  }

  // Leaves result in the caller's model and returns the outcome.
  EMResult Finish(MixtureModel const& result, double value) {
    model = result;
    context.last.logLikelihood = value;
    context.last.iterations = accepted;
    return context.last;
  }
};

}  // namespace

bool emImprovementAboveThreshold(double previous, double current, double threshold) {
  double improvement = current - previous;
  double magnitude = std::fabs(current);
  if (improvement > magnitude) return improvement > threshold;
  return improvement / magnitude > threshold;
}

EMResult ExpectationMaximization(MixtureModel& model, Data const& data,
                                 Matrix const& minimumVariances, int iterations, bool verbose,
                                 TrainingContext& context) {
  EmRun run(model, data, minimumVariances, verbose, false, context);
  for (int pass = 0; pass < iterations; ++pass) {
    double current;
    if (!run.Pass(current)) break;
    run.Rotate(current);
  }
  return run.Finish(*run.evaluated, run.previous);
}

EMResult ExpectationMaximization(MixtureModel& model, Data const& data,
                                 Matrix const& minimumVariances, double threshold, bool verbose,
                                 TrainingContext& context) {
  EmRun run(model, data, minimumVariances, verbose, true, context);
  for (;;) {
    double current;
    if (!run.Pass(current)) return run.Finish(*run.evaluated, run.previous);
    if (!emImprovementAboveThreshold(run.previous, current, threshold)) {
      ++run.accepted;
      context.last.stop = EMStop::kConverged;
      return run.Finish(*run.next, current);
    }
    run.Rotate(current);
  }
}

double ExpectationMaximization(MixtureModel& model, Data const& data,
                               Matrix const& minimumVariances, int iterations, bool verbose) {
  return ExpectationMaximization(model, data, minimumVariances, iterations, verbose,
                                 ProgramTrainingContext())
      .logLikelihood;
}

double ExpectationMaximization(MixtureModel& model, Data const& data,
                               Matrix const& minimumVariances, double threshold, bool verbose) {
  return ExpectationMaximization(model, data, minimumVariances, threshold, verbose,
                                 ProgramTrainingContext())
      .logLikelihood;
}
