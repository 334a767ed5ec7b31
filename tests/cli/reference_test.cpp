// Recorded runs: every run mode, diagonal and full, on the shipped examples
// and generated data, with fixed seeds, and the help of both programs.
// Standard output, standard error and the model file must stay byte for byte
// what tests/cli/reference/ holds (the CPU time and the build date masked), so
// that a change of structure or speed cannot change a result unnoticed.
// MIXFIT_RECORD=1 writes the files afresh.

#include <tuple>
#include <utility>

#include "cli/run_program.h"
#include "support/files.h"

namespace {

using ReferenceTest = ScratchDirectory;

TEST_F(ReferenceTest, RunsGiveTheRecordedBytes) {
  const std::string generated = kReference + "generated.txt";
  const std::string start = kReference + "faithful-full.model";
  // Each run's name, MIXFIT_SEED and arguments besides -o.
  const std::tuple<const char*, const char*, std::vector<std::string>> runs[] = {
      {"faithful-full", "1", {"-i", kFaithful, "-c", "2", "-f", "-r", "5", "--verbose"}},
      {"faithful-diagonal-trace",
       "2",
       {"-i", kFaithful, "-c", "3", "-r", "3", "--verbose", "--verbose"}},
      {"iris-full-iterations", "3", {"-i", kIris, "-c", "3", "-f", "-I", "20"}},
      {"iris-kmeans-only", "4", {"-i", kIris, "-c", "3", "-r", "2,20", "-I", "0", "--verbose"}},
      {"iris-no-update-threshold", "5", {"-i", kIris, "-c", "3", "-r", "2,5,no", "-t", "1e-3"}},
      {"faithful-refined", "", {"-i", kFaithful, "-s", start, "-I", "10", "--verbose"}},
      {"faithful-evaluated", "", {"-i", kFaithful, "-s", start, "-I", "0"}},
      {"generated-full", "6", {"-i", generated, "-c", "4", "-f", "-r", "3"}},
      {"generated-diagonal", "7", {"-i", generated, "-c", "4", "-r", "3", "-v", "0.01"}},
      {"wine-full", "8", {"-i", kWine, "-c", "3", "-f", "-r", "2"}},
      {"help", "", {"-i", "missing", "--help", "-c", "0"}},
      // mixfit-model's usage, and a command's own, which lists its options only.
      {"model-usage", "", {}},
      {"model-sample-help", "", {"sample", "--help"}},
  };
  const bool record = std::getenv("MIXFIT_RECORD") != nullptr;
  for (auto [name, seed, arguments] : runs) {
    SCOPED_TRACE(name);
    std::string model = Path("model.txt");
    bool const model_program = std::string(name).rfind("model-", 0) == 0;
    if (!model_program) arguments.insert(arguments.end(), {"-o", model});
    ProgramResult result = (model_program ? RunMixfitModel : RunMixfit)(
        arguments, {{std::string("MIXFIT_SEED=") + seed}});
    std::pair<const char*, std::string> const files[] = {
        {".out", Masked(result.out)},
        {".err", Masked(result.err)},
        {".model", Exists(model) ? ReadFile(model) : "(none)"}};
    for (const auto& [suffix, contents] : files) {
      std::string path = kReference + name + suffix;
      if (record) std::ofstream(path, std::ios::binary) << contents;
      EXPECT_EQ(contents, ReadFile(path)) << path;
    }
    std::remove(model.c_str());
  }
}

}  // namespace
