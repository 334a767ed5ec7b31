#include "driver/fit.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

#include "data/data.h"
#include "driver/preparation.h"
#include "driver/search.h"
#include "driver/timer.h"
#include "mixture/mixmodel.h"

namespace {

// Reads the initial solution into best and prepares it for the data.
ExitStatus ReadSolution(const char* name, Data const& data, DataStatistics const& statistics,
                        MixtureModel& best) {
  MixtureModelFileFormat format;
  if (best.Read(name, format) != MM_FILE_OK || !UsableSolution(best, data.Dimension())) {
    fprintf(stderr, "\nError reading input solution: %s\n", name);
    return ExitStatus::kSolutionError;
  }
  CheckAndWarn(data, best.count);
  best.LimitVariances(statistics.minimum_variances);
  best.NormalizeWeights();
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

// Writes the model; on failure removes what was written of a regular file,
// so that no truncated model is left looking like a result.
ExitStatus WriteModel(MixtureModel const& model, const char* name) {
  if (model.Write(name, MM_FF_PLAIN) == MM_FILE_OK) return ExitStatus::kSuccess;
  struct stat status;
  if (stat(name, &status) == 0 && S_ISREG(status.st_mode)) remove(name);
  fprintf(stderr, "\nError writing output to: %s\n", name);
  return ExitStatus::kOutputError;
}

// Reports data that can't be read or used.
ExitStatus DataError(const char* input) {
  fprintf(stderr, "\nError reading input data file: %s\n\n", input);
  return ExitStatus::kDataError;
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
ExitStatus ReadData(FitOptions const& options, DataStorage& storage, Data& data,
                    DataStatistics& statistics) {
  const char* input = options.input;
  if (storage.Read(input) != DATA_FILE_OK) return DataError(input);
  if (storage.rows > 0) data.Map(0, static_cast<uint32_t>(storage.rows));
  // Data that can be read but not fitted fail as unreadable data, with the
  // reason first.
  if (options.full && !FullCovariancesFit(data.Dimension())) {
    fprintf(stderr, "Dimension %i is too large for full covariance matrices.\n", data.Dimension());
    return DataError(input);
  }
  statistics = PrepareStatistics(data, options.full, options.count, options.relative_floor,
                                 options.verbose);
  if (!FiniteMoments(data, statistics)) {
    fputs("Data values are too large: their squares or variances are not finite.\n", stderr);
    return DataError(input);
  }
  int column = options.Trains() ? ColumnWithoutVariance(data, statistics) : -1;
  if (column >= 0) {
    fprintf(stderr, "Column %i of the data has no variance, so no density can be fitted.\n",
            column + 1);
    return DataError(input);
  }
  return ExitStatus::kSuccess;
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
  if (!Completes("reading the data", [&] { status = ReadData(options, storage, data, statistics); }))
    return DataError(options.input);
  if (status != ExitStatus::kSuccess) return status;

  MixtureModel best;
  double best_likelihood = 0.0;
  if (options.solution != nullptr &&
      !Completes("reading the initial solution",
                 [&] { status = ReadSolution(options.solution, data, statistics, best); }))
    return ExitStatus::kSolutionError;
  if (status != ExitStatus::kSuccess) return status;

  if (!Completes("training", [&] {
        if (options.solution != nullptr) {
          best_likelihood =
              TrainOrEvaluate(best, data, statistics.minimum_variances, options.plan);
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
      }))
    return ExitStatus::kDataError;
  if (status != ExitStatus::kSuccess) return status;

  Report(best_likelihood, options.verbose);
  // Evaluating a given solution writes nothing.
  if (!options.Trains()) return ExitStatus::kSuccess;
  return WriteModel(best, options.output);
}
