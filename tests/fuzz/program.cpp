// Fuzz target: the program's input path, as the driver runs it. The first
// fuzz byte chooses the run, the bytes up to the first '=' are the data file
// and those after it the initial solution:
//   bit 0: full covariances (random search only)
//   bits 1-2: count - 1 (random search only)
//   bit 3: evaluate only (no EM iteration) instead of one EM iteration
//   no '=': random search (one solution, two k-means iterations); with '=':
//   the initial solution is read, checked against the data, floored,
//   normalised and trained.
// A model that the run writes must read back as a solution of the data's
// dimension.
#include <cstdint>
#include <string>

#include "data/data.h"
#include "driver/preparation.h"
#include "driver/search.h"
#include "fuzz_support.h"
#include "matrix/random.h"
#include "mixture/mixmodel.h"

namespace {

// Full covariances cost d^3 per component and step: larger dimensions only
// make the fuzzer slow, not the program different.
const int kMaxFullDimension = 64;

// Writes model, reads it back and checks that it fits dimension.
void WriteAndReread(MixtureModel const& model, int dimension) {
  OutputText output;
  FUZZ_CHECK(model.Write(output.file, MM_FF_PLAIN) == MM_FILE_OK);
  InputBytes input(output.Text());
  MixtureModel again;
  MixtureModelFileFormat format;
  FUZZ_CHECK(again.Read(input.file, format) == MM_FILE_OK);
  FUZZ_CHECK(again.count == model.count);
  FUZZ_CHECK(UsableSolution(again, dimension));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* bytes, size_t size) {
  if (size == 0) return 0;
  int const control = bytes[0];
  std::string text(reinterpret_cast<char const*>(bytes + 1), size - 1);
  size_t separator = text.find('=');
  bool const with_solution = separator != std::string::npos;

  DataStorage storage;
  if (storage.Read(InputBytes(text.substr(0, separator)).file) != 0) return 0;  // status 2
  Data data(storage);
  if (storage.rows > 0) data.Map(0, static_cast<uint32_t>(storage.rows));

  bool const full = !with_solution && (control & 1) != 0;
  int const count = with_solution ? 1 : 1 + ((control >> 1) & 3);
  if (full && !FullCovariancesFit(data.Dimension())) return 0;  // status 2
  if (full && data.Dimension() > kMaxFullDimension) return 0;
  DataStatistics statistics = PrepareStatistics(data, full, count, kSmallestRelative, 0);
  if (!FiniteMoments(data, statistics)) return 0;  // status 2

  FitOptions options = {};
  options.full = full;
  options.count = count;
  options.solutions = 1;
  TrainingPlan& plan = options.plan;
  plan.iterations_given = true;
  plan.iterations = (control & 8) ? 0 : 1;
  bool const train = !(with_solution && plan.iterations == 0);
  if (train && ColumnWithoutVariance(data, statistics) >= 0) return 0;  // status 2
  plan.threshold = kSmallestRelative;
  plan.kmeans_iterations = 2;
  plan.update_covariances = true;
  plan.trace = false;

  RandomSeed(1);
  MixtureModel best;
  if (with_solution) {
    MixtureModelFileFormat format;
    int result = best.Read(InputBytes(text.substr(separator + 1)).file, format);
    if (result != MM_FILE_OK || !UsableSolution(best, data.Dimension())) return 0;  // status 3
    for (int k = 0; k < best.count; ++k)
      if (best.components[k]->type == MM_COV_FULL && data.Dimension() > kMaxFullDimension) return 0;
    CheckAndWarn(data, best.count, Sink());
    best.LimitVariances(statistics.minimum_variances);
    best.NormalizeWeights();
    TrainOrEvaluate(best, data, statistics.minimum_variances, plan);
    if (plan.iterations == 0) return 0;  // evaluation writes nothing
  } else {
    CheckAndWarn(data, count, Sink());
    SearchResult search = RandomSearch(data, statistics, options);
    if (!search.found) return 0;  // status 5
    best = search.best;
  }
  WriteAndReread(best, data.Dimension());
  return 0;
}
