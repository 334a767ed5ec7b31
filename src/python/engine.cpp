// The extension module mixfit._engine: the library's fits, densities,
// sampler and model files on numpy arrays, for the Python package in
// python/mixfit. A model crosses over as scikit-learn's arrays (weights,
// means and covariances in the layout of the covariance type) and is rebuilt
// here on every call, which costs little next to any pass over the data.
//
// Each fit gets threads and a training context of its own, so that fits in
// several Python threads run side by side and give the bits they give one
// after the other. The fit of the mixfit program is the exception: its search
// draws from the process-wide generator and runs on the program's threads,
// so those fits take turns.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "data/data.h"
#include "driver/commandline.h"
#include "driver/files.h"
#include "driver/preparation.h"
#include "driver/search.h"
#include "matrix/draws.h"
#include "matrix/matrix.h"
#include "matrix/random.h"
#include "mixture/criteria.h"
#include "mixture/mixmodel.h"
#include "mixture/sampling.h"
#include "parallel/ranks.h"
#include "parallel/threads.h"
#include "training/blocks.h"
#include "training/context.h"
#include "training/em.h"
#include "training/mixturefit.h"
#include "training/scoring.h"

namespace py = pybind11;

namespace {

// C-contiguous float64, converted (copied) only when the caller's array is
// not already that.
typedef py::array_t<double, py::array::c_style | py::array::forcecast> Array;

[[noreturn]] void Refuse(std::string const& message) { throw std::invalid_argument(message); }

CovarianceKind KindOf(std::string const& name) {
  CovarianceKind kind;
  if (!CovarianceKindNamed(name.c_str(), &kind)) Refuse("unknown covariance type '" + name + "'");
  return kind;
}

StartKind StartOf(std::string const& name) {
  StartKind kind;
  if (!StartKindNamed(name.c_str(), &kind)) Refuse("unknown init_params '" + name + "'");
  return kind;
}

// A view of the rows of X, an (N, d) array; the array must outlive it.
Data View(Array const& X) {
  if (X.ndim() != 2) Refuse("X must be a 2-d array");
  if (X.shape(1) < 1 || X.shape(1) > INT32_MAX) Refuse("X has a bad number of features");
  if (static_cast<uint64_t>(X.shape(0)) >= (uint64_t(1) << 32)) Refuse("X has too many rows");
  return Data(X.data(), static_cast<size_t>(X.shape(0)), static_cast<int>(X.shape(1)));
}

void CheckShape(Array const& a, std::vector<py::ssize_t> const& shape, const char* name) {
  bool same = a.ndim() == static_cast<py::ssize_t>(shape.size());
  for (size_t i = 0; same && i < shape.size(); ++i) same = a.shape(i) == shape[i];
  if (!same) Refuse(std::string(name) + " has the wrong shape");
}

// The model of scikit-learn's arrays. Spherical components are stored as
// diagonal ones with equal variances, tied ones as full components that
// each hold the shared covariance.
MixtureModel ModelOf(std::string const& type, Array const& weights, Array const& means,
                     Array const& covariances) {
  CovarianceKind const kind = KindOf(type);
  if (means.ndim() != 2) Refuse("means must be a 2-d array");
  py::ssize_t const K = means.shape(0), d = means.shape(1);
  if (FullStorage(kind) && d > kMaxSquareDimension)
    Refuse("too many features for full covariances");
  CheckShape(weights, {K}, "weights");
  switch (kind) {
    case CovarianceKind::kFull:
      CheckShape(covariances, {K, d, d}, "covariances");
      break;
    case CovarianceKind::kTied:
      CheckShape(covariances, {d, d}, "covariances");
      break;
    case CovarianceKind::kDiagonal:
      CheckShape(covariances, {K, d}, "covariances");
      break;
    case CovarianceKind::kSpherical:
      CheckShape(covariances, {K}, "covariances");
      break;
  }
  MixtureModel model;
  double const* c = covariances.data();
  for (py::ssize_t k = 0; k < K; ++k) {
    auto* component = new MixtureComponent(FullStorage(kind) ? MM_COV_FULL : MM_COV_DIAGONAL,
                                           static_cast<int>(d), false);
    model.Add(*component);
    component->weight = weights.data()[k];
    component->Mean(means.data() + k * d);
    double* to = component->covariance.data;
    switch (kind) {
      case CovarianceKind::kFull:
        std::copy(c + k * d * d, c + (k + 1) * d * d, to);
        break;
      case CovarianceKind::kTied:
        std::copy(c, c + d * d, to);
        break;
      case CovarianceKind::kDiagonal:
        std::copy(c + k * d, c + (k + 1) * d, to);
        break;
      case CovarianceKind::kSpherical:
        std::fill(to, to + d, c[k]);
        break;
    }
  }
  return model;
}

// The covariances of model in the layout of kind (the first component's for
// tied, the first variance for spherical), with its precisions and the
// factors of the precisions: P with precision = P P' (upper triangular for
// full matrices, the transpose of the inverse lower Cholesky factor), or
// 1 / sqrt(variance).
py::dict ArraysOf(MixtureModel const& model, CovarianceKind kind) {
  py::ssize_t const K = model.count, d = ModelDimension(model);
  py::array_t<double> weights(K), means({K, d});
  for (py::ssize_t k = 0; k < K; ++k) {
    MixtureComponent const& c = *model.components[k];
    weights.mutable_data()[k] = c.weight;
    std::copy(c.mean.data, c.mean.data + d, means.mutable_data() + k * d);
  }
  std::vector<py::ssize_t> shape;
  py::ssize_t stored = K;  // the components whose covariance the layout holds
  switch (kind) {
    case CovarianceKind::kFull:
      shape = {K, d, d};
      break;
    case CovarianceKind::kTied:
      shape = {d, d};
      stored = K > 0 ? 1 : 0;
      break;
    case CovarianceKind::kDiagonal:
      shape = {K, d};
      break;
    case CovarianceKind::kSpherical:
      shape = {K};
      break;
  }
  py::array_t<double> covariances(shape), precisions(shape), factors(shape);
  double* cov = covariances.mutable_data();
  double* pre = precisions.mutable_data();
  double* fac = factors.mutable_data();
  for (py::ssize_t k = 0; k < stored; ++k) {
    MixtureComponent const& c = *model.components[k];
    if (FullStorage(kind)) {
      Matrix inverse;  // L^-1, lower triangular
      double determinant, logRoot;
      if (!InverseCovarianceFactor(c, inverse, &determinant, &logRoot))
        Refuse("the covariance of component " + std::to_string(k + 1) +
               " is not positive definite");
      double* C = cov + k * d * d;
      double* P = pre + k * d * d;
      double* F = fac + k * d * d;
      std::copy(c.covariance.data, c.covariance.data + d * d, C);
      for (py::ssize_t i = 0; i < d; ++i)
        for (py::ssize_t j = 0; j < d; ++j) F[i * d + j] = j >= i ? inverse(j, i) : 0.0;
      // (P P')_ij over the columns m at or past both i and j, where the rows
      // of the upper triangular P are not zero.
      for (py::ssize_t i = 0; i < d; ++i)
        for (py::ssize_t j = 0; j < d; ++j) {
          double sum = 0.0;
          for (py::ssize_t m = std::max(i, j); m < d; ++m) sum += F[i * d + m] * F[j * d + m];
          P[i * d + j] = sum;
        }
      continue;
    }
    py::ssize_t const values = kind == CovarianceKind::kDiagonal ? d : 1;
    for (py::ssize_t j = 0; j < values; ++j) {
      double const v = c.covariance.data[j];
      if (!(v > 0.0 && v < HUGE_VAL))
        Refuse("the variances of component " + std::to_string(k + 1) + " are not positive");
      cov[k * values + j] = v;
      pre[k * values + j] = 1.0 / v;
      fac[k * values + j] = 1.0 / std::sqrt(v);
    }
  }
  py::dict arrays;
  arrays["weights"] = weights;
  arrays["means"] = means;
  arrays["covariances"] = covariances;
  arrays["precisions"] = precisions;
  arrays["precisions_cholesky"] = factors;
  return arrays;
}

// The kernels of this machine, chosen once when the module is first used:
// choosing them checks the vector exp, which would cost more than a small
// prediction.
Kernels const& ModuleKernels() {
  static Kernels const kernels = BestKernels();
  return kernels;
}

// Passes over fewer values than this run on the calling thread, without the
// watch for signals, which would cost more than they take.
size_t const kInterruptibleValues = size_t(1) << 20;

// Runs work on a thread of its own with the GIL released, while this thread
// looks for signals every 50 ms: when a handler raises (Ctrl-C's
// KeyboardInterrupt), the work is asked through context to stop, which it
// does within a chunk of vectors, and the exception is raised once it has.
// An exception of the work itself is raised here too.
template <class Work>
void RunInterruptibly(TrainingContext& context, Work work, size_t values = kInterruptibleValues) {
  if (values < kInterruptibleValues) {
    py::gil_scoped_release release;
    work();
    return;
  }
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false, interrupted = false;
  std::exception_ptr failure;
  {
    py::gil_scoped_release release;
    std::thread worker([&] {
      try {
        work();
      } catch (...) {
        failure = std::current_exception();
      }
      std::lock_guard<std::mutex> lock(mutex);
      done = true;
      finished.notify_one();
    });
    std::unique_lock<std::mutex> lock(mutex);
    while (!finished.wait_for(lock, std::chrono::milliseconds(50), [&] { return done; })) {
      if (interrupted) continue;
      lock.unlock();
      {
        py::gil_scoped_acquire acquire;
        interrupted = PyErr_CheckSignals() != 0;
      }
      if (interrupted) context.RequestStop();
      lock.lock();
    }
    lock.unlock();
    worker.join();
  }
  if (interrupted) throw py::error_already_set();
  if (failure) std::rethrow_exception(failure);
}

// The values of an optional array, row after row; empty for None.
std::vector<double> ValuesOf(py::object const& array) {
  if (array.is_none()) return {};
  Array const a = array.cast<Array>();
  return std::vector<double>(a.data(), a.data() + a.size());
}

py::dict Fit(Array const& X, int components, std::string const& type, std::string const& init,
             double tolerance, double regularisation, int maxIterations, int starts, uint64_t seed,
             int threadCount, py::object const& weightsInit, py::object const& meansInit,
             py::object const& precisionsInit, py::object const& warm) {
  Data const data = View(X);
  int const d = data.Dimension();
  if (FullStorage(KindOf(type)) && d > kMaxSquareDimension)
    Refuse("too many features for full covariances");
  MixtureFitOptions options;
  options.components = components;
  options.covariance = KindOf(type);
  options.start = StartOf(init);
  options.tolerance = tolerance;
  options.regularisation = regularisation;
  options.maxIterations = maxIterations;
  options.starts = starts;
  options.seed = seed;
  options.initialWeights = ValuesOf(weightsInit);
  options.initialMeans = ValuesOf(meansInit);
  options.initialPrecisions = ValuesOf(precisionsInit);
  if (components < 1 || starts < 1 || maxIterations < 0) Refuse("bad fit options");
  size_t const K = static_cast<size_t>(components);
  size_t const precisionCount[] = {K * d * d, K * d, K, size_t(d) * d};
  size_t const kindIndex = static_cast<size_t>(options.covariance);
  if ((!options.initialWeights.empty() && options.initialWeights.size() != K) ||
      (!options.initialMeans.empty() && options.initialMeans.size() != K * d) ||
      (!options.initialPrecisions.empty() &&
       options.initialPrecisions.size() != precisionCount[kindIndex]))
    Refuse("the initial values do not fit n_components and the data");
  // The warm start: (weights, means, covariances) of the previous fit.
  MixtureModel start;
  if (!warm.is_none()) {
    py::tuple const t = warm.cast<py::tuple>();
    start = ModelOf(type, t[0].cast<Array>(), t[1].cast<Array>(), t[2].cast<Array>());
    if (start.count != components || ModelDimension(start) != d)
      Refuse("the previous fit does not fit n_components and the data");
    options.startModel = &start;
  }

  Threads threads(threadCount);
  TrainingContext context(threads, ProgramRanks(), ModuleKernels());
  MixtureFitResult result;
  RunInterruptibly(context, [&] { result = FitMixture(data, options, context); });
  switch (result.status) {
    case MixtureFitStatus::kFitted:
      break;
    case MixtureFitStatus::kTooFewDistinct:
      Refuse("n_components=" + std::to_string(components) + " but X holds only " +
             std::to_string(result.distinct) + " distinct samples");
    case MixtureFitStatus::kBadPrecisions:
      Refuse("precisions_init must be symmetric, positive-definite");
    case MixtureFitStatus::kStopped:
      throw std::runtime_error("the fit was stopped");
  }
  py::dict out = ArraysOf(result.model, options.covariance);
  out["converged"] = result.converged;
  out["n_iter"] = result.iterations;
  out["lower_bound"] = result.lowerBound;
  out["log_likelihood"] = result.logLikelihood;
  return out;
}

// The per-sample log densities (N) and, when wanted, responsibilities (N, K)
// of the model on X.
struct Expectation {
  py::array_t<double> logs, responsibilities;
};

Expectation Expect(Array const& X, std::string const& type, Array const& weights,
                   Array const& means, Array const& covariances, int threadCount,
                   bool responsibilities) {
  Data const data = View(X);
  MixtureModel const model = ModelOf(type, weights, means, covariances);
  if (ModelDimension(model) != data.Dimension()) Refuse("X does not have the model's dimension");
  py::ssize_t const N = static_cast<py::ssize_t>(data.Count());
  Expectation e{py::array_t<double>(N), py::array_t<double>()};
  if (responsibilities) e.responsibilities = py::array_t<double>({N, py::ssize_t(model.count)});
  double* logs = e.logs.mutable_data();
  double* table = responsibilities ? e.responsibilities.mutable_data() : nullptr;
  Threads threads(threadCount);
  TrainingContext context(threads, ProgramRanks(), ModuleKernels());
  RunInterruptibly(
      context, [&] { emExpectation(data, model, context, logs, table); },
      data.Count() * static_cast<size_t>(data.Dimension()) * model.count);
  return e;
}

py::array_t<double> ScoreSamples(Array const& X, std::string const& type, Array const& weights,
                                 Array const& means, Array const& covariances, int threadCount) {
  return Expect(X, type, weights, means, covariances, threadCount, false).logs;
}

py::array_t<double> PredictProba(Array const& X, std::string const& type, Array const& weights,
                                 Array const& means, Array const& covariances, int threadCount) {
  return Expect(X, type, weights, means, covariances, threadCount, true).responsibilities;
}

// The most responsible component of each sample, the lower one on ties.
py::array_t<int64_t> Predict(Array const& X, std::string const& type, Array const& weights,
                             Array const& means, Array const& covariances, int threadCount) {
  py::array_t<double> const r =
      Expect(X, type, weights, means, covariances, threadCount, true).responsibilities;
  py::ssize_t const N = r.shape(0), K = r.shape(1);
  py::array_t<int64_t> labels(N);
  for (py::ssize_t n = 0; n < N; ++n)
    labels.mutable_data()[n] = LargestEntry(r.data() + n * K, static_cast<int>(K));
  return labels;
}

// The average log likelihood: the sum of the log densities over N.
double Score(Array const& X, std::string const& type, Array const& weights, Array const& means,
             Array const& covariances, int threadCount) {
  py::array_t<double> const logs =
      Expect(X, type, weights, means, covariances, threadCount, false).logs;
  return SumInOrder(logs.data(), logs.size()) / static_cast<double>(logs.size());
}

// The free parameters of a model of the covariance type: K - 1 weights, K d
// means, and the covariances the type holds.
long long ParametersOf(std::string const& type, long long K, long long d) {
  long long covariances = 0;
  switch (KindOf(type)) {
    case CovarianceKind::kFull:
      covariances = K * d * (d + 1) / 2;
      break;
    case CovarianceKind::kTied:
      covariances = d * (d + 1) / 2;
      break;
    case CovarianceKind::kDiagonal:
      covariances = K * d;
      break;
    case CovarianceKind::kSpherical:
      covariances = K;
      break;
  }
  return K - 1 + K * d + covariances;
}

// BIC and AIC of the model on X.
py::tuple Criteria(Array const& X, std::string const& type, Array const& weights,
                   Array const& means, Array const& covariances, int threadCount) {
  py::array_t<double> const logs =
      Expect(X, type, weights, means, covariances, threadCount, false).logs;
  double const logLikelihood = SumInOrder(logs.data(), logs.size());
  long long const p = ParametersOf(type, means.shape(0), means.shape(1));
  return py::make_tuple(
      BayesianInformationCriterion(logLikelihood, p, static_cast<size_t>(logs.size())),
      AkaikeInformationCriterion(logLikelihood, p));
}

// n vectors drawn from the model, and the component of each.
py::tuple Sample(long long n, std::string const& type, Array const& weights, Array const& means,
                 Array const& covariances, uint64_t seed) {
  MixtureModel model = ModelOf(type, weights, means, covariances);
  model.NormalizeWeights();
  Sampler sampler;
  int const refused = PrepareSampler(sampler, model);
  if (refused != kEveryComponentDrawable)
    Refuse("the covariance of component " + std::to_string(refused + 1) +
           " is not positive definite");
  py::ssize_t const d = ModelDimension(model);
  py::array_t<double> X({py::ssize_t(n), d});
  py::array_t<int64_t> labels(n);
  double* x = X.mutable_data();
  int64_t* label = labels.mutable_data();
  {
    py::gil_scoped_release release;
    NormalDraws draws(seed);
    std::vector<double> z(d);
    for (long long i = 0; i < n; ++i)
      label[i] = DrawVector(sampler, model, draws, z.data(), x + i * d);
  }
  return py::make_tuple(X, labels);
}

// Raises the OSError (FileNotFoundError, PermissionError, ...) of errno
// for the named file; EIO when the library left no reason.
[[noreturn]] void RaiseFileError(std::string const& name) {
  if (errno == 0) errno = EIO;
  PyErr_SetFromErrnoWithFilename(PyExc_OSError, name.c_str());
  throw py::error_already_set();
}

// The model file name as scikit-learn's arrays: the covariance type is
// "diag" when every component is diagonal, "full" when every one is full.
// The weights are normalised, as the program does before using a model.
py::dict ReadModelFile(std::string const& name) {
  MixtureModel model;
  MixtureModelFileFormat format = MM_FF_PLAIN;
  errno = 0;
  int const result = model.Read(name.c_str(), format);
  if (result == MM_FILE_CANNOT_OPEN) RaiseFileError(name);
  if (result != MM_FILE_OK || model.count == 0 || !UsableSolution(model, ModelDimension(model)))
    Refuse(name + " is not a usable model file");
  bool const full = model.components[0]->type == MM_COV_FULL;
  for (int k = 1; k < model.count; ++k)
    if ((model.components[k]->type == MM_COV_FULL) != full)
      Refuse(name + " mixes diagonal and full components");
  model.NormalizeWeights();
  py::dict out = ArraysOf(model, full ? CovarianceKind::kFull : CovarianceKind::kDiagonal);
  out["covariance_type"] = full ? "full" : "diag";
  return out;
}

void WriteModel(std::string const& name, std::string const& type, Array const& weights,
                Array const& means, Array const& covariances) {
  MixtureModel const model = ModelOf(type, weights, means, covariances);
  errno = 0;
  if (model.Write(name.c_str(), MM_FF_PLAIN) != MM_FILE_OK) RaiseFileError(name);
}

// The precisions and their factors of scikit-learn's arrays.
py::dict Precisions(std::string const& type, Array const& weights, Array const& means,
                    Array const& covariances) {
  return ArraysOf(ModelOf(type, weights, means, covariances), KindOf(type));
}

// The program's random search, with its options: the best of `solutions`
// random starts, each refined by Mahalanobis k-means and trained by EM to
// the relative threshold or for `iterations` iterations (when not negative),
// every variance held above relativeFloor times the data's. With the same
// seed as MIXFIT_SEED it gives the program's model.
std::mutex searchMutex;

py::dict FitAsProgram(Array const& X, int components, bool full, int solutions,
                      int kmeansIterations, bool updateCovariances, int iterations,
                      double threshold, double relativeFloor, uint32_t seed, int threadCount) {
  Data const data = View(X);
  if (data.Count() == 0) Refuse("X holds no samples");
  if (full && !FullCovariancesFit(data.Dimension()))
    Refuse("too many features for full covariances");
  FitOptions options = {};
  options.full = full;
  options.count = components;
  options.solutions = solutions;
  options.relative_floor = relativeFloor;
  options.verbose = 0;
  options.plan.iterations_given = iterations >= 0;
  options.plan.iterations = iterations >= 0 ? iterations : 0;
  options.plan.threshold = threshold;
  options.plan.kmeans_iterations = kmeansIterations;
  options.plan.update_covariances = updateCovariances;
  options.plan.trace = false;
  DataStatistics const statistics =
      PrepareStatistics(data, full, components, relativeFloor, options.verbose);
  if (!FiniteMoments(data, statistics))
    Refuse("the values of X are too large: their squares or variances are not finite");
  int const column = ColumnWithoutVariance(data, statistics);
  if (column >= 0)
    Refuse("column " + std::to_string(column) + " of X has no variance, so no density fits");

  // Waits for another search without the GIL, which that one may need.
  std::unique_lock<std::mutex> lock(searchMutex, std::defer_lock);
  {
    py::gil_scoped_release release;
    lock.lock();
  }
  TrainingContext& context = ProgramTrainingContext();
  context.ClearStop();
  SetThreadCount(threadCount);
  RandomSeed(seed);
  SearchResult search;
  try {
    RunInterruptibly(context, [&] { search = RandomSearch(data, statistics, options); });
  } catch (...) {
    context.ClearStop();
    throw;
  }
  if (!search.found)
    Refuse("n_components=" + std::to_string(components) + " but X holds only " +
           std::to_string(search.distinct_points) + " distinct samples");
  py::dict out = ArraysOf(search.best, full ? CovarianceKind::kFull : CovarianceKind::kDiagonal);
  out["log_likelihood"] = search.likelihood;
  return out;
}

}  // namespace

PYBIND11_MODULE(_engine, m) {
  m.doc() = "The C++ engine of the mixfit package.";
  py::arg const X("X"), type("covariance_type"), weights("weights"), means("means"),
      covariances("covariances"), threads("n_threads");
  m.def("fit", &Fit, X, py::arg("n_components"), type, py::arg("init_params"), py::arg("tol"),
        py::arg("reg_covar"), py::arg("max_iter"), py::arg("n_init"), py::arg("seed"), threads,
        py::arg("weights_init"), py::arg("means_init"), py::arg("precisions_init"),
        py::arg("warm"));
  m.def("score_samples", &ScoreSamples, X, type, weights, means, covariances, threads);
  m.def("predict_proba", &PredictProba, X, type, weights, means, covariances, threads);
  m.def("predict", &Predict, X, type, weights, means, covariances, threads);
  m.def("score", &Score, X, type, weights, means, covariances, threads);
  m.def("criteria", &Criteria, X, type, weights, means, covariances, threads);
  m.def("sample", &Sample, py::arg("n_samples"), type, weights, means, covariances,
        py::arg("seed"));
  m.def("precisions", &Precisions, type, weights, means, covariances);
  m.def("read_model", &ReadModelFile, py::arg("path"));
  m.def("write_model", &WriteModel, py::arg("path"), type, weights, means, covariances);
  m.def("fit_program", &FitAsProgram, X, py::arg("n_components"), py::arg("full"),
        py::arg("solutions"), py::arg("kmeans_iterations"), py::arg("update_covariances"),
        py::arg("iterations"), py::arg("threshold"), py::arg("relative_floor"), py::arg("seed"),
        threads);
}
