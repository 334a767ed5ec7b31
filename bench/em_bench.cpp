// One EM step and one k-means iteration on 10^5 vectors, for diagonal and
// full covariances, over dimension (first argument) and component count
// (second argument); one EM step on data whose densities lie beyond a
// double's range, against the same data within it; and one EM step at 1 and
// 2 threads, wall clock, on the rows that thread scaling is judged on.

#include <benchmark/benchmark.h>

#include <cmath>
#include <map>
#include <memory>
#include <random>
#include <tuple>
#include <utility>

#include "data/data.h"
#include "mixture/mixmodel.h"
#include "parallel/threads.h"
#include "training/em.h"
#include "training/kmeans.h"

namespace {

int const kVectors = 100000;

// count vectors of dimension d around 8 random centres, multiplied by
// 2^exponent, with a view on all of them; one per size, dimension and
// exponent for the whole run.
struct BenchData {
  DataStorage storage;
  Data data;

  BenchData(int count, int d, int exponent) : data(storage) {
    std::mt19937_64 generator(d);
    std::uniform_real_distribution<double> centre(-5.0, 5.0);
    std::normal_distribution<double> noise(0.0, 1.0);
    std::vector<double> centres(8 * d);
    for (double& c : centres) c = centre(generator);
    storage.Resize(count, d, false);
    for (int n = 0; n < count; ++n)
      for (int j = 0; j < d; ++j)
        storage(n, j) = std::ldexp(centres[(n % 8) * d + j] + noise(generator), exponent);
    data.Map(0, count);
  }
};

Data const& DataOfDimension(int d, int exponent = 0, int count = kVectors) {
  static std::map<std::tuple<int, int, int>, std::unique_ptr<BenchData>> sets;
  std::unique_ptr<BenchData>& set = sets[{count, d, exponent}];
  if (!set) set.reset(new BenchData(count, d, exponent));
  return set->data;
}

// K components on the first K vectors with unit covariances.
MixtureModel StartingModel(Data const& data, int K, MixtureCovarianceMatrixType type) {
  int d = data.Dimension();
  MixtureModel model;
  for (int k = 0; k < K; ++k) {
    MixtureComponent* c = new MixtureComponent(type, d, false);
    c->weight = 1.0 / K;
    c->Mean(data.Vector(k));
    if (type == MM_COV_DIAGONAL)
      c->covariance.Fill(1.0);
    else
      c->covariance.Diag(1.0);
    model.Add(*c);
  }
  return model;
}

// EM steps from model, whose components are all of type, on data.
void TimeSteps(benchmark::State& state, Data const& data, MixtureModel const& model,
               MixtureCovarianceMatrixType type) {
  MixtureModel updated(model);
  for (auto _ : state)
    benchmark::DoNotOptimize(emMonolithicEMStep(model, data, updated, type == MM_COV_DIAGONAL));
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(data.Count()));
}

void EMStep(benchmark::State& state, MixtureCovarianceMatrixType type) {
  Data const& data = DataOfDimension(static_cast<int>(state.range(0)));
  TimeSteps(state, data, StartingModel(data, static_cast<int>(state.range(1)), type), type);
}

void BM_EMStepDiagonal(benchmark::State& state) { EMStep(state, MM_COV_DIAGONAL); }
void BM_EMStepFull(benchmark::State& state) { EMStep(state, MM_COV_FULL); }

// 60 dimensions and 8 components, the data and the covariances scaled by
// 2^exponent and 2^(2 exponent) (first argument): the same step, but at -10
// every determinant is below the normal doubles and every density is formed
// in the log domain; at 0 none is.
void ScaledEMStep(benchmark::State& state, MixtureCovarianceMatrixType type) {
  int const exponent = static_cast<int>(state.range(0));
  Data const& data = DataOfDimension(60, exponent);
  MixtureModel model = StartingModel(data, 8, type);
  for (int k = 0; k < model.count; ++k)
    model.components[k]->covariance.Scale(std::ldexp(1.0, 2 * exponent));
  TimeSteps(state, data, model, type);
}

void BM_ScaledEMStepDiagonal(benchmark::State& state) { ScaledEMStep(state, MM_COV_DIAGONAL); }
void BM_ScaledEMStepFull(benchmark::State& state) { ScaledEMStep(state, MM_COV_FULL); }

// 10^(first argument) vectors of dimension (second argument), 16
// components, on (third argument) threads.
void ThreadsEMStep(benchmark::State& state, MixtureCovarianceMatrixType type) {
  int const count = state.range(0) == 5 ? 100000 : 1000000;
  Data const& data = DataOfDimension(static_cast<int>(state.range(1)), 0, count);
  int const threads = ThreadCount();
  SetThreadCount(static_cast<int>(state.range(2)));
  TimeSteps(state, data, StartingModel(data, 16, type), type);
  SetThreadCount(threads);
}

void BM_ThreadsEMStepDiagonal(benchmark::State& state) { ThreadsEMStep(state, MM_COV_DIAGONAL); }
void BM_ThreadsEMStepFull(benchmark::State& state) { ThreadsEMStep(state, MM_COV_FULL); }

// One iteration from the same starting means each time.
void BM_KMeansIteration(benchmark::State& state) {
  Data const& data = DataOfDimension(static_cast<int>(state.range(0)));
  MixtureModel start = StartingModel(data, static_cast<int>(state.range(1)), MM_COV_DIAGONAL);
  MixtureModel model(start);
  for (auto _ : state) {
    model = start;
    KMeans(data, model, 1, false);
  }
  state.SetItemsProcessed(state.iterations() * kVectors);
}

void BM_MahalanobisKMeansIteration(benchmark::State& state) {
  Data const& data = DataOfDimension(static_cast<int>(state.range(0)));
  MixtureModel start = StartingModel(data, static_cast<int>(state.range(1)), MM_COV_FULL);
  MixtureModel model(start);
  for (auto _ : state) {
    model = start;
    MahalanobisKMeans(data, model, true, 1, false);
  }
  state.SetItemsProcessed(state.iterations() * kVectors);
}

}  // namespace

BENCHMARK(BM_EMStepDiagonal)->ArgsProduct({{2, 8, 32}, {4, 16}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EMStepFull)->ArgsProduct({{2, 8, 32}, {4, 16}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScaledEMStepDiagonal)->Arg(0)->Arg(-10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScaledEMStepFull)->Arg(0)->Arg(-10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ThreadsEMStepDiagonal)
    ->ArgsProduct({{5, 6}, {8, 32}, {1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_ThreadsEMStepFull)
    ->ArgsProduct({{5, 6}, {8, 32}, {1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_KMeansIteration)->ArgsProduct({{2, 8, 32}, {4, 16}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MahalanobisKMeansIteration)
    ->ArgsProduct({{2, 8, 32}, {4, 16}})
    ->Unit(benchmark::kMillisecond);
