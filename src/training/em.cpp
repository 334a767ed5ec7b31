#include "training/em.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <limits>
#include <vector>

#include "training/blocks.h"

namespace {

// The smallest normal double: the floor of mixture densities and of the
// responsibility totals, so that logarithms and reciprocals stay finite.
const double kTiny = 2.2250738585072014e-308;
const double kTwoPi = 6.283185307179586;

bool NumericalProblems = false;

int const B = kBlockVectors;

// The most doubles that the moments of a batch of vectors take (4 MB).
int const kMomentsRoom = 1 << 19;

// The workspace of the forms without one. It lives for the whole program so
// that its storage is reused from one call to the next.
EMWorkspace ProgramWorkspace;

// Resizes v to n elements, all 0.0, without giving back storage.
void Zeroed(std::vector<double>& v, size_t n) { v.assign(n, 0.0); }

int RoundUp(int n, int multiple) { return (n + multiple - 1) / multiple * multiple; }

// Prepares the block storage of w for the vectors of dimension d against
// model and copies the weights and normalisers out of the components and the
// cache.
void PrepareScratch(EMWorkspace& w, MixtureModel const& model,
                    DeterminantInverseCache const& cache, int d) {
  int const K = model.count > 0 ? model.count : 0;
  Zeroed(w.block, static_cast<size_t>(d) * B);
  Zeroed(w.centred, static_cast<size_t>(d) * B);
  Zeroed(w.distances, static_cast<size_t>(K) * B);
  Zeroed(w.p, static_cast<size_t>(RoundUp(K, 4)) * B);
  Zeroed(w.columnSums, B);
  Zeroed(w.explained, B);
  Zeroed(w.logSums, B);
  w.weights.resize(K);
  w.normalisers.resize(K);
  for (int k = 0; k < K; ++k) {
    w.weights[k] = model.components[k]->weight;
    w.normalisers[k] = cache[k].first;
  }
}

// The squared distances of vectors first ... first + count - 1 to every
// component, into the distances rows.
void BlockDistances(EMWorkspace& w, Data const& data, size_t first, int count,
                    MixtureModel const& model, DeterminantInverseCache const& cache) {
  int const d = data.Dimension();
  GatherBlock(data, first, count, w.block.data());
  for (int k = 0; k < model.count; ++k)
    BlockComponentDistances(w.block.data(), d, *model.components[k], cache[k].second,
                            w.centred.data(), w.distances.data() + k * B);
}

// The weighted densities of every component at the block's vectors into the
// rows of p, and their sums over the components into columnSums.
void BlockDensities(EMWorkspace& w, int K) {
  double* p = w.p.data();
  for (int k = 0; k < K; ++k)
    BlockWeightedDensities(w.distances.data() + k * B, w.weights[k], w.normalisers[k],
                           p + k * B);
  BlockColumnSums(p, K, w.columnSums.data());
}

// The average log likelihood of data under model with the given cache, in
// the block storage of w.
double LogLikelihood(Data const& data, MixtureModel const& model,
                     DeterminantInverseCache const& cache, EMWorkspace& w) {
  size_t const count = data.Count();
  int const K = model.count > 0 ? model.count : 0;
  PrepareScratch(w, model, cache, data.Dimension());
  double sum = 0.0;
  for (size_t first = 0; first < count; first += B) {
    int const inBlock = BlockLength(count, first);
    BlockDistances(w, data, first, inBlock, model, cache);
    BlockDensities(w, K);
    for (int n = 0; n < inBlock; ++n) {
      double p = K > 0 ? w.columnSums[n] : kTiny;
      if (p < kTiny) p = kTiny;
      sum += std::log(p);
    }
  }
  return sum / static_cast<double>(count);
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

// The moments of x that EM accumulates, into row: x_j, then x_j * x_j, then
// (full) the products x_i * x_j of the strict lower triangle, row by row.
inline void VectorMoments(double const* x, int d, bool full, double* row) {
  for (int j = 0; j < d; ++j) row[j] = x[j];
  for (int j = 0; j < d; ++j) row[d + j] = x[j] * x[j];
  if (!full) return;
  double* product = row + 2 * d;
  for (int i = 1; i < d; ++i)
    for (int j = 0; j < i; ++j) *product++ = x[i] * x[j];
}

// Copies the accumulated sums of one component (laid out as VectorMoments)
// into its mean and the lower triangle of its covariance. Without the
// products (full false, which the caller promises only for diagonal
// components) a full covariance gets zeros off its diagonal.
void UnpackSums(double const* sums, int d, bool full, MixtureComponent& component) {
  double* mean = component.mean.data;
  double* covariance = component.covariance.data;
  for (int j = 0; j < d; ++j) mean[j] = sums[j];
  if (component.type == MM_COV_DIAGONAL) {
    for (int j = 0; j < d; ++j) covariance[j] = sums[d + j];
    return;
  }
  for (int j = 0; j < d; ++j) covariance[j * d + j] = sums[d + j];
  double const* product = sums + 2 * d;
  for (int i = 1; i < d; ++i)
    for (int j = 0; j < i; ++j) covariance[i * d + j] = full ? *product++ : 0.0;
}

}  // namespace

void SetupDeterminantAndInverseMatrices(DeterminantInverseCache& cache, MixtureModel const& model) {
  size_t count = model.count > 0 ? static_cast<size_t>(model.count) : 0;
  if (cache.size() < count) cache.resize(count, std::make_pair(0.0, Matrix()));
  for (size_t k = 0; k < count; ++k) {
    MixtureComponent const& component = *model.components[k];
    double& normaliser = cache[k].first;
    Matrix& factor = cache[k].second;
    int columns = component.covariance.columns;
    factor = component.covariance;
    bool diagonal = component.type == MM_COV_DIAGONAL;
    if (diagonal) {
      normaliser = 1.0;
      for (int j = 0; j < columns; ++j) normaliser *= component.covariance.data[j];
      factor.InvertElements();
    } else {
      // A covariance that is not square leaves the determinant unwritten;
      // NaN then marks it unusable below.
      normaliser = std::numeric_limits<double>::quiet_NaN();
      factor.CholeskyDecomposition(&normaliser);
      factor.InvertLowerTriangular();
    }
    normaliser = std::sqrt(normaliser) * std::pow(kTwoPi, 0.5 * columns);
    if (!std::isfinite(normaliser) || factor.NotFinite() != 0) {
      normaliser = 0.0;
      if (diagonal)
        factor.Fill(1.0);
      else
        factor.Diag(1.0);
    }
  }
}

double emLogLikelihood(Data const& data, MixtureModel const& model, EMWorkspace& workspace) {
  SetupDeterminantAndInverseMatrices(workspace.cache, model);
  return LogLikelihood(data, model, workspace.cache, workspace);
}

double emLogLikelihood(Data const& data, MixtureModel const& model) {
  return emLogLikelihood(data, model, ProgramWorkspace);
}

double emLogLikelihood(Data const& data, MixtureModel const& model,
                       DeterminantInverseCache const& cache) {
  return LogLikelihood(data, model, cache, ProgramWorkspace);
}

void emPrepareExpectation(EMWorkspace& workspace, MixtureModel const& model, int d) {
  SetupDeterminantAndInverseMatrices(workspace.cache, model);
  PrepareScratch(workspace, model, workspace.cache, d);
}

void emBlockExpectation(EMWorkspace& workspace, Data const& data, size_t first, int count,
                        MixtureModel const& model) {
  EMWorkspace& w = workspace;
  int const K = model.count > 0 ? model.count : 0;
  BlockDistances(w, data, first, count, model, w.cache);
  BlockDensities(w, K);
  double const* sums = w.columnSums.data();
  double const logTiny = std::log(kTiny);
  // A vector that no component explains is shared equally.
  for (int n = 0; n < count; ++n) {
    bool const explained = K > 0 && !(sums[n] < kTiny);
    w.logSums[n] = explained ? std::log(sums[n]) : logTiny;
    w.explained[n] = explained ? 1.0 : 0.0;
  }
  BlockNormalise(w.p.data(), K, sums, w.explained.data(), 1.0 / K);
}

double emMonolithicEMStep(MixtureModel const& model, Data const& data, MixtureModel& updated,
                          bool diagonalOnly, EMWorkspace& workspace) {
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
  EMWorkspace& w = workspace;
  emPrepareExpectation(w, model, d);

  // Per vector: x, the squares and, unless every component is diagonal, the
  // rest of the lower triangle of x x' (the upper one holds the same
  // products). Padding to the kernel's tile holds zeros.
  bool const full = !diagonalOnly;
  int const width = RoundUp(full ? d + d * (d + 1) / 2 : 2 * d, 8);
  int const K4 = RoundUp(K, 4);
  // The moments of up to `batch` vectors at a time: the whole block unless
  // the dimension is so high that it would take more than kMomentsRoom.
  int const batch = std::max(1, std::min(B, kMomentsRoom / std::max(width, 1)));
  Zeroed(w.moments, static_cast<size_t>(batch) * width);
  Zeroed(w.sums, static_cast<size_t>(K4) * width);
  Zeroed(w.r, K);
  double* r = w.r.data();
  double L = 0.0;

  for (size_t first = 0; first < count; first += B) {
    int const inBlock = BlockLength(count, first);
    // E step: responsibilities of the components for the block's vectors.
    emBlockExpectation(w, data, first, inBlock, model);
    for (int n = 0; n < inBlock; ++n) L += w.logSums[n];
    double const* p = w.p.data();
    AddRowSums(p, K, inBlock, r);

    // Accumulation of the weighted first and second moments, vector by
    // vector in data order for every sum.
    for (int start = 0; start < inBlock; start += batch) {
      int const inBatch = std::min(batch, inBlock - start);
      for (int n = 0; n < inBatch; ++n)
        VectorMoments(data.Vector(first + start + n), d, full, w.moments.data() + n * width);
      BlockMoments(w.sums.data(), K4, width, p + start, w.moments.data(), inBatch);
    }
  }

  // M step.
  double const N = static_cast<double>(count);
  for (int k = 0; k < K; ++k) {
    MixtureComponent& component = *updated.components[k];
    UnpackSums(w.sums.data() + static_cast<size_t>(k) * width, d, full, component);
    if (r[k] < kTiny) r[k] = kTiny;
    component.weight = r[k] / N;
    double const scale = 1.0 / r[k];
    component.mean.Scale(scale);
    CovarianceFromMoments(component, scale);
  }
  return L / N;
}

double emMonolithicEMStep(MixtureModel const& model, Data const& data, MixtureModel& updated,
                          bool diagonalOnly) {
  return emMonolithicEMStep(model, data, updated, diagonalOnly, ProgramWorkspace);
}

bool emNumericalProblems() { return NumericalProblems; }

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
  EMWorkspace& workspace;
  MixtureModel& model;
  MixtureModel first;
  MixtureModel second;
  MixtureModel* evaluated;
  MixtureModel* next;
  MixtureModel* spare;
  double previous;  // the average log likelihood of evaluated

  EmRun(MixtureModel& model, Data const& data, Matrix const& minimumVariances, bool verbose,
        bool flushTrace, EMWorkspace& workspace)
      : data(data),
        minimumVariances(minimumVariances),
        verbose(verbose),
        flushTrace(flushTrace),
        diagonalOnly(AllDiagonal(model)),
        workspace(workspace),
        model(model),
        first(model),
        second(model),
        evaluated(&model),
        next(&first),
        spare(&second) {
    NumericalProblems = false;
    model.LimitVariances(minimumVariances);
    previous = emMonolithicEMStep(model, data, *next, diagonalOnly, workspace);
  }

  static bool AllDiagonal(MixtureModel const& model) {
    for (int k = 0; k < model.count; ++k)
      if (model.components[k]->type != MM_COV_DIAGONAL) return false;
    return true;
  }

  // Floors next and runs the step from it; current receives its average log
  // likelihood. Returns false, raising the flag, when that is not finite or
  // lower than the previous one.
  bool Pass(double& current) {
    next->LimitVariances(minimumVariances);
    current = emMonolithicEMStep(*next, data, *spare, diagonalOnly, workspace);
    if (verbose) {
      printf("%g\n", current);
      if (flushTrace) fflush(stdout);
    }
    if (!std::isfinite(current) || previous > current) {
      NumericalProblems = true;
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
  }

  // Leaves result in the caller's model and returns its log likelihood.
  double Finish(MixtureModel const& result, double value) {
    model = result;
    return value;
  }
};

}  // namespace

bool emImprovementAboveThreshold(double previous, double current, double threshold) {
  double improvement = current - previous;
  double magnitude = std::fabs(current);
  if (improvement > magnitude) return improvement > threshold;
  return improvement / magnitude > threshold;
}

double ExpectationMaximization(MixtureModel& model, Data const& data,
                               Matrix const& minimumVariances, int iterations, bool verbose,
                               EMWorkspace& workspace) {
  EmRun run(model, data, minimumVariances, verbose, false, workspace);
  for (int pass = 0; pass < iterations; ++pass) {
    double current;
    if (!run.Pass(current)) break;
    run.Rotate(current);
  }
  return run.Finish(*run.evaluated, run.previous);
}

double ExpectationMaximization(MixtureModel& model, Data const& data,
                               Matrix const& minimumVariances, double threshold, bool verbose,
                               EMWorkspace& workspace) {
  EmRun run(model, data, minimumVariances, verbose, true, workspace);
  for (;;) {
    double current;
    if (!run.Pass(current)) return run.Finish(*run.evaluated, run.previous);
    if (!emImprovementAboveThreshold(run.previous, current, threshold))
      return run.Finish(*run.next, current);
    run.Rotate(current);
  }
}

double ExpectationMaximization(MixtureModel& model, Data const& data,
                               Matrix const& minimumVariances, int iterations, bool verbose) {
  return ExpectationMaximization(model, data, minimumVariances, iterations, verbose,
                                 ProgramWorkspace);
}

double ExpectationMaximization(MixtureModel& model, Data const& data,
                               Matrix const& minimumVariances, double threshold, bool verbose) {
  return ExpectationMaximization(model, data, minimumVariances, threshold, verbose,
                                 ProgramWorkspace);
}
