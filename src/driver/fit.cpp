#include "driver/fit.h"

#include <cstdio>

#include "data/data.h"
#include "driver/atomicoutput.h"
#include "driver/files.h"
#include "driver/preparation.h"
#include "driver/search.h"
#include "driver/timer.h"
#include "mixture/mixmodel.h"
#include "parallel/ranks.h"

namespace {

// Reads the initial solution into best and prepares it for the data.
ExitStatus ReadSolution(const char* name, Data const& data, DataStatistics const& statistics,
                        MixtureModel& best) {
  ExitStatus status = ReadModel(name, data.Dimension(), best);
  if (status != ExitStatus::kSuccess) return status;
  CheckAndWarn(data, best.count);
  PrepareModel(best, statistics.minimum_variances);
  return ExitStatus::kSuccess;
}

void Report(double best_likelihood, int verbose) {
  if (verbose >= 1) {
    printf("CPU time: %s\n", timer::StringS(timer::Now()));
    fputs("Final result log likelihood: ", stdout);
  }
  printf("%g\n", best_likelihood);
  fflush(stdout);
}

// Writes the model so that a failure leaves the file named as it was, and
// never a truncated model looking like a result. Only the rank that speaks
// writes.
ExitStatus WriteModel(MixtureModel const& model, const char* name, PendingOutput* pending) {
  ExitStatus status = ExitStatus::kSuccess;
  if (Speaks()) {
    AtomicOutput output(name, pending);
    if (output.file() == nullptr || model.Write(output.file(), MM_FF_PLAIN) != MM_FILE_OK ||
        !output.Commit())
      status = OutputError(name);
  }
  return Agreed(status);
}

}  // namespace

ExitStatus Fit(FitOptions const& options) {
  if (options.Trains() && SameFile(options.input, options.output)) {
    fputs("The output file is the input data file.\n", stderr);
    fprintf(stderr, "\nError writing output to: %s\n", options.output);
    return ExitStatus::kOutputError;
  }

  DataStorage storage;
  Data data(storage);
  DataStatistics statistics;
  ExitStatus status = ExitStatus::kSuccess;
  bool const solution_given = options.solution != nullptr;
  DataRequest const request = {options.input,          options.full,    options.count,
                               options.relative_floor, options.verbose, options.Trains(),
                               solution_given};
  bool completed =
      Completes("reading the data", [&] { status = ReadData(request, storage, data, statistics); });
  if (!completed) DataError(options.input);
  status = Agreed(completed, status, ExitStatus::kDataError);
  if (status != ExitStatus::kSuccess) return status;

  MixtureModel best;
  double best_likelihood = 0.0;
  completed = options.solution == nullptr || Completes("reading the initial solution", [&] {
                status = ReadSolution(options.solution, data, statistics, best);
              });
  status = Agreed(completed, status, ExitStatus::kSolutionError);
  if (status != ExitStatus::kSuccess) return status;

  completed = Completes("training", [&] {
    if (options.solution != nullptr) {
      best_likelihood = TrainOrEvaluate(best, data, statistics.minimum_variances, options.plan);
      return;
    }
    CheckAndWarn(data, options.count);
    SearchResult search = RandomSearch(data, statistics, options);
    if (!search.found) {
      fprintf(stderr, "\nError: more components than unique points (%i).\n",
              search.distinct_points);
      status = ExitStatus::kTooFewPoints;
      return;
    }
    best = search.best;
    best_likelihood = search.likelihood;
  });
  status = Agreed(completed, status, ExitStatus::kDataError);
  if (status != ExitStatus::kSuccess) return status;

  Report(best_likelihood, options.verbose);
  // Evaluating a given solution writes nothing.
  if (!options.Trains()) return ExitStatus::kSuccess;
  return WriteModel(best, options.output, options.pending);
}
