#include "training/em.h"

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <limits>

DeterminantInverseCache DetInvs;

namespace {

// The smallest normal double: the floor of mixture densities and of the
// responsibility totals, so that logarithms and reciprocals stay finite.
const double kTiny = 2.2250738585072014e-308;
const double kTwoPi = 6.283185307179586;

bool NumericalProblems = false;

// weight * density of component c at x, with c's cache entry. The type
// chooses the distance: 1 is diagonal, anything else full.
inline double WeightedDensity(double const* x, MixtureComponent const& c,
                              std::pair<double, Matrix> const& entry) {
  double distance = c.type == MM_COV_DIAGONAL ? MahalanobisDiag2(x, c.mean.data, entry.second)
                                              : MahalanobisChol2(x, c.mean.data, entry.second);
  return c.weight * ProbabilityDensity(distance, entry.first);
}

// Copies the strict lower triangle of the square matrix a into its upper one.
void MirrorLowerTriangle(Matrix& a) {
  int n = a.rows;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < i; ++j) a.data[j * n + i] = a.data[i * n + j];
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

double emLogLikelihood(Data const& data, MixtureModel const& model) {
  SetupDeterminantAndInverseMatrices(DetInvs, model);
  return emLogLikelihood(data, model, DetInvs);
}

double emLogLikelihood(Data const& data, MixtureModel const& model,
                       DeterminantInverseCache const& cache) {
  size_t count = data.Count();
  double sum = 0.0;
  for (size_t n = 0; n < count; ++n) {
    double const* x = data.Vector(n);
    double p = kTiny;
    if (model.count > 0) {
      p = 0.0;
      for (int k = 0; k < model.count; ++k) p += WeightedDensity(x, *model.components[k], cache[k]);
      if (p < kTiny) p = kTiny;
    }
    sum += std::log(p);
  }
  return sum / static_cast<double>(count);
}

double emMonolithicEMStep(MixtureModel const& model, Data const& data, MixtureModel& updated,
                          bool diagonalOnly) {
  int const d = data.Dimension();
  int const K = model.count > 0 ? model.count : 0;
  size_t const count = data.Count();
  double const logTiny = std::log(kTiny);

  // Second moments of the current vector: the squares for a diagonal-only
  // model, otherwise the lower triangle of x x' (the upper one would hold the
  // same products).
  Matrix S(diagonalOnly ? 1 : d, d);

  for (int k = 0; k < K; ++k) {
    MixtureComponent& component = *updated.components[k];
    // The sums go straight into the covariance, so a full one must be square
    // of the data's dimension.
    Matrix const& covariance = component.covariance;
    if (component.type != MM_COV_DIAGONAL && (covariance.rows != d || covariance.columns != d))
      MatrixFatalError("Matrix::operator-=: size mismatch.");
    component.mean.Fill(0.0);
    component.covariance.Fill(0.0);
  }
  SetupDeterminantAndInverseMatrices(DetInvs, model);

  Matrix P(1, K);
  Matrix R(1, K, 0.0);
  double* p = P.data;
  double* r = R.data;
  double L = 0.0;

  for (size_t n = 0; n < count; ++n) {
    double const* x = data.Vector(n);

    // E step: responsibilities of the components for x.
    double s = 0.0;
    for (int k = 0; k < K; ++k) {
      p[k] = WeightedDensity(x, *model.components[k], DetInvs[k]);
      s += p[k];
    }
    if (K > 0 && !(s < kTiny)) {
      L += std::log(s);
      double scale = 1.0 / s;
      for (int k = 0; k < K; ++k) p[k] *= scale;
    } else {
      // No component explains x: it is shared equally.
      L += logTiny;
      double share = 1.0 / K;
      for (int k = 0; k < K; ++k) p[k] = share;
    }
    for (int k = 0; k < K; ++k) r[k] += p[k];

    if (diagonalOnly) {
      for (int j = 0; j < d; ++j) S.data[j] = x[j] * x[j];
    } else {
      for (int i = 0; i < d; ++i) {
        double* row = S.data + i * d;
        for (int j = 0; j <= i; ++j) row[j] = x[i] * x[j];
      }
    }

    // Accumulation of the weighted first and second moments.
    for (int k = 0; k < K; ++k) {
      MixtureComponent& component = *updated.components[k];
      double const weight = p[k];
      double* mean = component.mean.data;
      for (int j = 0; j < d; ++j) mean[j] += weight * x[j];
      double* covariance = component.covariance.data;
      if (diagonalOnly) {
        for (int j = 0; j < d; ++j) covariance[j] += weight * S.data[j];
      } else if (component.type == MM_COV_DIAGONAL) {
        for (int j = 0; j < d; ++j) covariance[j] += weight * S.data[j * (d + 1)];
      } else {
        for (int i = 0; i < d; ++i) {
          double* row = covariance + i * d;
          double const* moments = S.data + i * d;
          for (int j = 0; j <= i; ++j) row[j] += weight * moments[j];
        }
      }
    }
  }

  // M step.
  double const N = static_cast<double>(count);
  for (int k = 0; k < K; ++k) {
    MixtureComponent& component = *updated.components[k];
    if (r[k] < kTiny) r[k] = kTiny;
    component.weight = r[k] / N;
    double const scale = 1.0 / r[k];
    component.mean.Scale(scale);
    double const* mean = component.mean.data;
    if (component.type == MM_COV_DIAGONAL) {
      component.covariance.Scale(scale);
      for (int j = 0; j < d; ++j) component.covariance.data[j] -= mean[j] * mean[j];
    } else {
      if (!diagonalOnly) MirrorLowerTriangle(component.covariance);
      component.covariance.Scale(scale);
      double* covariance = component.covariance.data;
      for (int i = 0; i < d; ++i)
        for (int j = 0; j < d; ++j) covariance[i * d + j] -= mean[i] * mean[j];
    }
  }
  return L / N;
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
  MixtureModel& model;
  MixtureModel first;
  MixtureModel second;
  MixtureModel* evaluated;
  MixtureModel* next;
  MixtureModel* spare;
  double previous;  // the average log likelihood of evaluated

  EmRun(MixtureModel& model, Data const& data, Matrix const& minimumVariances, bool verbose,
        bool flushTrace)
      : data(data),
        minimumVariances(minimumVariances),
        verbose(verbose),
        flushTrace(flushTrace),
        diagonalOnly(AllDiagonal(model)),
        model(model),
        first(model),
        second(model),
        evaluated(&model),
        next(&first),
        spare(&second) {
    NumericalProblems = false;
    model.LimitVariances(minimumVariances);
    previous = emMonolithicEMStep(model, data, *next, diagonalOnly);
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
    current = emMonolithicEMStep(*next, data, *spare, diagonalOnly);
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
                               Matrix const& minimumVariances, int iterations, bool verbose) {
  EmRun run(model, data, minimumVariances, verbose, false);
  for (int pass = 0; pass < iterations; ++pass) {
    double current;
    if (!run.Pass(current)) break;
    run.Rotate(current);
  }
  return run.Finish(*run.evaluated, run.previous);
}

double ExpectationMaximization(MixtureModel& model, Data const& data,
                               Matrix const& minimumVariances, double threshold, bool verbose) {
  EmRun run(model, data, minimumVariances, verbose, true);
  for (;;) {
    double current;
    if (!run.Pass(current)) return run.Finish(*run.evaluated, run.previous);
    if (!emImprovementAboveThreshold(run.previous, current, threshold))
      return run.Finish(*run.next, current);
    run.Rotate(current);
  }
}
