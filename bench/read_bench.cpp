// Reading a data file of 10^6 vectors of dimension 10 into a DataStorage.
// The file is written once per number format; after timing, the numbers read
// are checked bit for bit against what strtod gives for the written text.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "data/data.h"

namespace {

const int kVectors = 1000000;
const int kDimension = 10;

struct DataFile {
  std::string path;
  std::vector<double> expected;  // strtod of every number written, in order

  DataFile(const char* format, const char* tag) {
    path = "/tmp/mixfit_read_bench_" + std::string(tag) + "_" + std::to_string(getpid());
    FILE* file = fopen(path.c_str(), "w");
    expected.reserve(static_cast<size_t>(kVectors) * kDimension);
    std::mt19937 generator(2024);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    const double scales[kDimension] = {1, 10, 100, 0.01, 1e5, 1, 3, 1e-4, 250, 0.5};
    char number[64];
    for (int k = 0; k < kVectors; ++k) {
      for (int j = 0; j < kDimension; ++j) {
        snprintf(number, sizeof number, format, uniform(generator) * scales[j]);
        expected.push_back(strtod(number, nullptr));
        fputs(number, file);
        fputc(j + 1 < kDimension ? ' ' : '\n', file);
      }
    }
    fclose(file);
  }
  ~DataFile() { remove(path.c_str()); }
};

void ReadDataFile(benchmark::State& state, DataFile const& file) {
  DataStorage storage;
  for (auto _ : state) {
    if (storage.Read(file.path.c_str()) != 0) state.SkipWithError("reading failed");
    benchmark::DoNotOptimize(storage.data);
  }
  if (storage.ElementCount() != static_cast<int>(file.expected.size()) ||
      memcmp(storage.data, file.expected.data(), sizeof(double) * file.expected.size()) != 0)
    state.SkipWithError("numbers differ from strtod");
  state.SetItemsProcessed(state.iterations() * kVectors);
}

// Data files as written by the program's own writers (15 significant digits)
// and with 17, which need strtod for every number.
void BM_ReadFifteenDigits(benchmark::State& state) {
  static DataFile file("%.15g", "15");
  ReadDataFile(state, file);
}
BENCHMARK(BM_ReadFifteenDigits)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReadSeventeenDigits(benchmark::State& state) {
  static DataFile file("%.17g", "17");
  ReadDataFile(state, file);
}
BENCHMARK(BM_ReadSeventeenDigits)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
