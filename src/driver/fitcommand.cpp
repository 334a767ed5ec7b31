#include "driver/fitcommand.h"

#include <cstdio>

#include "data/data.h"
#include "driver/atomicoutput.h"
#include "driver/files.h"
#include "mixture/mixmodel.h"
#include "parallel/ranks.h"
#include "training/context.h"

namespace {

// The input that output names, or null.
const char* InputNamed(ModelOptions const& options) {
  if (SameFile(options.input, options.output)) return "the input data file";
  if (options.init_model != nullptr && SameFile(options.init_model, options.output))
    return "the model file";
  return nullptr;
}

}  // namespace

ExitStatus RunFitCommand(ModelOptions const& options) {
  if (RankCount() > 1) {
    if (Speaks()) fputs("Error: fit runs in one process only, not under several ranks.\n", stderr);
    return ExitStatus::kUsage;
  }
  if (const char* input = InputNamed(options)) {
    fprintf(stderr, "The output file is %s.\n", input);
    return OutputError(options.output);
  }
  MixtureFitOptions fit = options.fit;
  bool const full = FullStorage(fit.covariance);
  DataStorage storage;
  Data data(storage);
  DataStatistics statistics;
  DataRequest const request = {options.input, full, fit.components, 0.0, 0, false, true};
  ExitStatus status = ExitStatus::kSuccess;
  if (!Completes("reading the data",
                 [&] { status = ReadData(request, storage, data, statistics); })) {
    DataError(options.input);
    return ExitStatus::kDataError;
  }
  if (status != ExitStatus::kSuccess) {
    ReportWhyNotOpened(options.input);
    return status;
  }

  MixtureModel start;
  if (options.init_model != nullptr) {
    status = ReadModel(options.init_model, data.Dimension(), start);
    if (status != ExitStatus::kSuccess) {
      ReportWhyNotOpened(options.init_model);
      return status;
    }
    if (start.count != fit.components) {
      fprintf(stderr, "Error: the model has %i components, not %i.\n", start.count, fit.components);
      return ExitStatus::kSolutionError;
    }
    start.NormalizeWeights();
    fit.startModel = &start;
  }

  MixtureFitResult result;
  if (!Completes("fitting", [&] { result = FitMixture(data, fit, ProgramTrainingContext()); }))
    return ExitStatus::kDataError;
  if (result.status == MixtureFitStatus::kTooFewDistinct) {
    fprintf(stderr, "\nError: more components than unique points (%i).\n", result.distinct);
    return ExitStatus::kTooFewPoints;
  }
  printf("%.17g\n", result.logLikelihood);
  fflush(stdout);
  if (!result.converged)
    fprintf(stderr,
            "Warning: the best start did not converge in %i iterations; raise --max-iter or "
            "--tol.\n",
            result.iterations);
  AtomicOutput output(options.output, options.pending);
  if (output.file() == nullptr || result.model.Write(output.file(), MM_FF_PLAIN) != MM_FILE_OK ||
      !output.Commit())
    return OutputError(options.output);
  return ExitStatus::kSuccess;
}
