// Program entry of mixfit: declares the command-line options, checks them
// and runs the fit.
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "data/data.h"
#include "driver/commandline.h"
#include "driver/preparation.h"
#include "driver/search.h"
#include "driver/seed.h"
#include "driver/timer.h"
#include "mixture/mixmodel.h"
#include "options/options.h"
#include "matrix/random.h"

namespace {

// Prints the banner, the usage text and the notes to stderr; returns the
// exit status of a usage exit.
int UsageExit() {
  std::fprintf(stderr, "\nEM-algorithm, version 1.0.1 (compiled %s, %s)\n", __DATE__, __TIME__);
  optPrintUsage(stderr, "mixfit");
  std::fputs("You can't use --solution with --full, --random or --count.\n", stderr);
  std::fputs("You can't use --iterations and --threshold together.\n\n", stderr);
  std::fputs("If --solution is given and --iterations is 0, log-likelihood\n", stderr);
  std::fputs("is computed, no model is saved, but --output must be given.\n\n", stderr);
  std::fputs("Warning about numerical problems means that the\n", stderr);
  std::fputs("log likelihood is not monotonic or not a number.\n\n", stderr);
  return 1;
}

// Seeds the random generator from MIXFIT_SEED or the process identifiers.
// Returns false, having said why, when MIXFIT_SEED holds no seed.
bool SeedRandom() {
  const char* value = getenv("MIXFIT_SEED");
  SeedChoice choice = ChooseSeed(value);
  if (!choice.valid) {
    fprintf(stderr, "Error: bad value of MIXFIT_SEED: %s\n", value);
    return false;
  }
  RandomSeed(choice.seed);
  return true;
}

TrainingPlan PlanFromOptions(int verbose) {
  TrainingPlan plan;
  plan.iterations_given = optGiven('I', 0) > 0;
  plan.iterations = plan.iterations_given ? optInt('I', 1) : 0;
  plan.threshold = optDouble('t', 1);
  plan.kmeans_iterations = optInt('r', 2);
  plan.update_covariances = optBool('r', 3) != 0;
  plan.trace = verbose >= 2;
  return plan;
}

// Reads the initial solution named by -s into best and prepares it for the
// data. Returns 0, or 3 when it can't be read or doesn't fit the data.
int ReadSolution(Data const& data, DataStatistics const& statistics, MixtureModel& best) {
  const char* name = optString('s', 1);
  MixtureModelFileFormat format;
  if (best.Read(name, format) != 0 || !UsableSolution(best, data.Dimension())) {
    fprintf(stderr, "\nError reading input solution: %s\n", name);
    return 3;
  }
  CheckAndWarn(data, best.count);
  best.LimitVariances(statistics.minimum_variances);
  best.NormalizeWeights();
  return 0;
}

void Report(double best_likelihood, int verbose) {
  if (verbose >= 1) {
    printf("CPU time: %s\n", timer::StringS(timer::Now()));
    fputs("Final result log likelihood: ", stdout);
  }
  printf("%g\n", best_likelihood);
  fflush(stdout);
}

// Writes the model; on failure removes what was written of a regular file,
// so that no truncated model is left looking like a result.
int WriteModel(MixtureModel const& model) {
  const char* name = optString('o', 1);
  if (model.Write(name, MM_FF_PLAIN) == 0) return 0;
  struct stat status;
  if (stat(name, &status) == 0 && S_ISREG(status.st_mode)) remove(name);
  fprintf(stderr, "\nError writing output to: %s\n", name);
  return 4;
}

// Reports data that can't be read or used; returns the exit status.
int DataError(const char* input) {
  fprintf(stderr, "\nError reading input data file: %s\n\n", input);
  return 2;
}

// Whether output names the data input: the same path, or the same file
// through another path or a link.
bool SameFile(const char* input, const char* output) {
  if (strcmp(input, output) == 0) return true;
  struct stat a, b;
  return stat(input, &a) == 0 && stat(output, &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}

// Runs one phase of the fit; returns false, after a line naming the phase,
// when memory ran out in it, so that the run ends with the phase's status
// instead of an abort.
template <typename Phase>
bool Completes(const char* phase, Phase run) {
  try {
    run();
    return true;
  } catch (std::bad_alloc const&) {
    fprintf(stderr, "Out of memory while %s.\n", phase);
    return false;
  }
}

// Reads the data into storage and data and computes its statistics.
// Returns 0, or 2 when the data can't be read or fitted.
int ReadData(const char* input, bool train, bool full, int count, int verbose,
             DataStorage& storage, Data& data, DataStatistics& statistics) {
  if (storage.Read(input) != 0) return DataError(input);
  if (storage.rows > 0) data.Map(0, static_cast<uint32_t>(storage.rows));
  // Data that can be read but not fitted fail as unreadable data, with the
  // reason first.
  if (full && !FullCovariancesFit(data.Dimension())) {
    fprintf(stderr, "Dimension %i is too large for full covariance matrices.\n", data.Dimension());
    return DataError(input);
  }
  statistics = PrepareStatistics(data, full, count, optDouble('v', 1), verbose);
  if (!FiniteMoments(data, statistics)) {
    fputs("Data values are too large: their squares or variances are not finite.\n", stderr);
    return DataError(input);
  }
  int column = train ? ColumnWithoutVariance(data, statistics) : -1;
  if (column >= 0) {
    fprintf(stderr, "Column %i of the data has no variance, so no density can be fitted.\n",
            column + 1);
    return DataError(input);
  }
  return 0;
}

// Reads the data, finds the model and writes it; returns the exit status.
int Fit() {
  int verbose = optGivenStr("verbose", 0);
  bool full = optBool('f', 0) != 0;
  int count = optInt('c', 1);
  TrainingPlan plan = PlanFromOptions(verbose);
  bool given = optGiven('s', 0) > 0;
  // Evaluating a given solution writes nothing; everything else trains.
  bool train = !(given && plan.EvaluateOnly());

  const char* input = optString('i', 1);
  if (train && SameFile(input, optString('o', 1))) {
    fprintf(stderr, "The output file is the input data file.\n");
    fprintf(stderr, "\nError writing output to: %s\n", optString('o', 1));
    return 4;
  }

  DataStorage storage;
  Data data(storage);
  DataStatistics statistics;
  int status = 0;
  if (!Completes("reading the data", [&] {
        status = ReadData(input, train, full, count, verbose, storage, data, statistics);
      }))
    return DataError(input);
  if (status != 0) return status;

  MixtureModel best;
  double best_likelihood = 0.0;
  if (given && !Completes("reading the initial solution",
                          [&] { status = ReadSolution(data, statistics, best); }))
    return 3;
  if (status != 0) return status;
  if (!Completes("training", [&] {
        if (given) {
          best_likelihood = TrainOrEvaluate(best, data, statistics.minimum_variances, plan);
          return;
        }
        CheckAndWarn(data, count);
        if (RandomSearch(data, statistics.initial_covariance, statistics.minimum_variances, full,
                         count, optInt('r', 1), plan, verbose, best,
                         best_likelihood) != SEARCH_OK)
          status = 5;
      }))
    return 2;
  if (status != 0) return status;
  Report(best_likelihood, verbose);
  // Evaluating a given solution writes nothing.
  if (!train) return 0;
  return WriteModel(best);
}

}  // namespace

int main(int argc, char* argv[]) {
  DeclareOptions();
  // --help wins over anything else on the command line, faulty or not.
  if (optGivenOption(0, "help", argc, argv)) return UsageExit();
  if (optParseCommandLine(argc, argv, stderr) != 0 || NotANumberGiven(stderr)) return UsageExit();
  if (OptionsConflict()) return UsageExit();
  if (!SeedRandom()) return 1;
  return Fit();
}
