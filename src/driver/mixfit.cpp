// Program entry of mixfit: declares the command-line options, checks them
// and runs the fit.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

#include "data/data.h"
#include "driver/commandline.h"
#include "driver/preparation.h"
#include "driver/search.h"
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

// Seeds the random generator from the process and parent identifiers, so
// that runs differ but a run can be repeated under the same identifiers.
void SeedRandom() {
  uint32_t seed = (static_cast<uint32_t>(getpid()) << 15) + static_cast<uint32_t>(getppid());
  RandomSeed(seed);
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

// Trains (or evaluates) the initial solution named by -s into best.
// Returns 0, or 3 when the solution can't be read or doesn't fit the data.
int RefineSolution(Data const& data, DataStatistics const& statistics, TrainingPlan const& plan,
                   MixtureModel& best, double& best_likelihood) {
  const char* name = optString('s', 1);
  MixtureModelFileFormat format;
  if (best.Read(name, format) != 0 || !UsableSolution(best, data.Dimension())) {
    fprintf(stderr, "\nError reading input solution: %s\n", name);
    return 3;
  }
  CheckAndWarn(data, best.count);
  best.LimitVariances(statistics.minimum_variances);
  best.NormalizeWeights();
  best_likelihood = TrainOrEvaluate(best, data, statistics.minimum_variances, plan);
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

// Reads the data, finds the model and writes it; returns the exit status.
int Fit() {
  int verbose = optGivenStr("verbose", 0);
  bool full = optBool('f', 0) != 0;
  int count = optInt('c', 1);

  DataStorage storage;
  const char* input = optString('i', 1);
  if (storage.Read(input) != 0) return DataError(input);
  Data data(storage);
  if (storage.rows > 0) data.Map(0, static_cast<uint32_t>(storage.rows));
  // Data that can be read but not fitted fail as unreadable data, with the
  // reason first.
  if (full && !FullCovariancesFit(data.Dimension())) {
    fprintf(stderr, "Dimension %i is too large for full covariance matrices.\n", data.Dimension());
    return DataError(input);
  }
  DataStatistics statistics = PrepareStatistics(data, full, count, optDouble('v', 1), verbose);
  if (!FiniteMoments(data, statistics)) {
    fputs("Data values are too large: their squares or variances are not finite.\n", stderr);
    return DataError(input);
  }

  TrainingPlan plan = PlanFromOptions(verbose);
  MixtureModel best;
  double best_likelihood = 0.0;
  if (optGiven('s', 0)) {
    int status = RefineSolution(data, statistics, plan, best, best_likelihood);
    if (status != 0) return status;
    Report(best_likelihood, verbose);
    // Evaluating a given solution writes nothing.
    if (plan.EvaluateOnly()) return 0;
  } else {
    CheckAndWarn(data, count);
    if (RandomSearch(data, statistics.initial_covariance, statistics.minimum_variances, full,
                     count, optInt('r', 1), plan, verbose, best, best_likelihood) != SEARCH_OK)
      return 5;
    Report(best_likelihood, verbose);
  }
  return WriteModel(best);
}

}  // namespace

int main(int argc, char* argv[]) {
  DeclareOptions();
  // --help wins over anything else on the command line, faulty or not.
  if (optGivenOption(0, "help", argc, argv)) return UsageExit();
  if (optParseCommandLine(argc, argv, stderr) != 0 || NotANumberGiven(stderr)) return UsageExit();
  if (OptionsConflict()) return UsageExit();
  SeedRandom();
  return Fit();
}
