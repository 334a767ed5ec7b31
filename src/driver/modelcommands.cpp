#include "driver/modelcommands.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "data/data.h"
#include "driver/atomicoutput.h"
#include "driver/files.h"
#include "driver/fitcommand.h"
#include "driver/preparation.h"
#include "mixture/criteria.h"
#include "mixture/mixmodel.h"
#include "mixture/sampling.h"
#include "parallel/ranks.h"
#include "training/em.h"
#include "training/scoring.h"

namespace {

// The model of a command and the data it is evaluated on, if any. Not
// copyable: the view points into the storage.
struct Inputs {
  MixtureModel model;
  DataStorage storage;
  Data data;
  DataLines lines;  // for the commands that write a row per vector

  Inputs() : data(storage) {}
  Inputs(Inputs const&) = delete;
  Inputs& operator=(Inputs const&) = delete;
};

// Refuses an output that names the data or the model, before anything is
// read.
ExitStatus CheckOutput(ModelOptions const& options) {
  if (options.output == nullptr) return ExitStatus::kSuccess;
  const char* input = nullptr;
  if (options.input != nullptr && SameFile(options.input, options.output))
    input = "the input data file";
  else if (SameFile(options.model, options.output))
    input = "the model file";
  if (input == nullptr) return ExitStatus::kSuccess;
  fprintf(stderr, "The output file is %s.\n", input);
  return OutputError(options.output);
}

// Reads the model and, when the options name one, the data, and prepares the
// model for the data.
ExitStatus ReadInputs(ModelOptions const& options, Inputs& inputs) {
  ExitStatus status = ExitStatus::kSuccess;
  MixtureModel& model = inputs.model;
  if (!Completes("reading the model",
                 [&] { status = ReadModel(options.model, kAnyDimension, model); }))
    return ExitStatus::kSolutionError;
  if (status != ExitStatus::kSuccess) {
    ReportWhyNotOpened(options.model);
    return status;
  }
  if (model.count == 0 && options.command != ModelCommand::kInfo) {
    fputs("Error: the model has no components.\n", stderr);
    return ExitStatus::kSolutionError;
  }
  if (options.input == nullptr) return ExitStatus::kSuccess;

  // The data as mixfit reads it to evaluate an initial solution.
  DataStatistics statistics;
  DataRequest const request = {options.input, false, 1, options.relative_floor, 0, false, true};
  DataLines* lines = WritesRowPerVector(options.command) ? &inputs.lines : nullptr;
  bool const completed = Completes("reading the data", [&] {
    status = ReadData(request, inputs.storage, inputs.data, statistics, lines);
  });
  if (!completed) DataError(options.input);
  if (status == ExitStatus::kDataError) ReportWhyNotOpened(options.input);
  status = Agreed(completed, status, ExitStatus::kDataError);
  if (status != ExitStatus::kSuccess) return status;
  if (ModelDimension(model) != inputs.data.Dimension()) {
    fprintf(stderr, "Error: the model has dimension %i, the data dimension %i.\n",
            ModelDimension(model), inputs.data.Dimension());
    return ExitStatus::kSolutionError;
  }
  PrepareModel(model, statistics.minimum_variances);
  if (options.line_numbers && RankCount() > 1) {
    // Rank 0 writes every row, so it takes the line of every vector, in
    // data order as the logs are gathered; the numbers are exact as doubles.
    std::vector<int>& numbers = inputs.lines.numbers;
    std::vector<double> const mine(numbers.begin(), numbers.end());
    std::vector<double> const all = GatherAtFirst(mine.data(), mine.size());
    numbers.resize(all.size());
    for (size_t n = 0; n < all.size(); ++n) numbers[n] = static_cast<int>(all[n]);
  }
  return ExitStatus::kSuccess;
}

// Reports output that could not be written, with the system's reason.
ExitStatus OutputFailure(const char* name, int error) {
  OutputError(name);
  fprintf(stderr, "Reason: %s.\n", strerror(error != 0 ? error : EIO));
  return ExitStatus::kOutputError;
}

// Writes with write(file) to the named file, or to the standard output when
// name is null. A failed write leaves a file as it was and ends in
// kOutputError.
template <typename Write>
ExitStatus WriteAlone(const char* name, PendingOutput* pending, Write write) {
  if (name == nullptr) {
    errno = 0;
    write(stdout);
    if (fflush(stdout) != 0 || ferror(stdout) != 0) return OutputFailure(name, errno);
    return ExitStatus::kSuccess;
  }
  AtomicOutput output(name, pending);
  if (output.file() != nullptr) {
    write(output.file());
    if (output.Commit()) return ExitStatus::kSuccess;
  }
  return OutputFailure(name, output.error());
}

// As WriteAlone to the output of options, on the rank that speaks; every
// rank takes its status.
template <typename Write>
ExitStatus WriteOutput(ModelOptions const& options, Write write) {
  return Agreed(Speaks() ? WriteAlone(options.output, options.pending, write)
                         : ExitStatus::kSuccess);
}

// One row of count real numbers, separated by blanks.
void WriteReals(FILE* file, double const* values, int count) {
  for (int j = 0; j < count; ++j) fprintf(file, j == 0 ? "%.17g" : " %.17g", values[j]);
  fputc('\n', file);
}

// The log density of every data vector into logs and, when responsibilities
// is not null, the responsibilities of the components for them.
void Score(Inputs const& inputs, std::vector<double>& logs, std::vector<double>* responsibilities) {
  size_t const N = inputs.data.Count();
  logs.resize(N);
  double* table = nullptr;
  if (responsibilities != nullptr) {
    responsibilities->resize(N * inputs.model.count);
    table = responsibilities->data();
  }
  emExpectation(inputs.data, inputs.model, ProgramTrainingContext(), logs.data(), table);
  if (RankCount() == 1) return;
  // Each rank scored its own vectors: rank 0 holds them all, in data order.
  logs = GatherAtFirst(logs.data(), logs.size());
  if (responsibilities != nullptr)
    *responsibilities = GatherAtFirst(responsibilities->data(), responsibilities->size());
}

// Starts the row of vector n with its line in the data file, when asked.
void StartRow(FILE* file, ModelOptions const& options, Inputs const& inputs, size_t n) {
  if (options.line_numbers) fprintf(file, "%i ", inputs.lines.numbers[n]);
}

// Says, after the rows of a command were written, when they no longer follow
// the lines of the data file one to one because faulty lines were skipped.
ExitStatus NoteSkippedLines(ExitStatus status, Inputs const& inputs, size_t vectors) {
  if (status == ExitStatus::kSuccess && inputs.lines.skipped > 0)
    fprintf(stderr,
            "Note: %i lines of the data file were skipped; the rows follow the %zu vectors "
            "read.\n",
            inputs.lines.skipped, vectors);
  return status;
}

double Average(std::vector<double> const& logs) {
  return SumInOrder(logs.data(), logs.size()) / static_cast<double>(logs.size());
}

ExitStatus ScoreCommand(ModelOptions const& options, Inputs const& inputs) {
  std::vector<double> logs;
  Score(inputs, logs, nullptr);
  if (options.average)
    return WriteOutput(options, [&](FILE* file) { fprintf(file, "%g\n", Average(logs)); });
  ExitStatus const status = WriteOutput(options, [&](FILE* file) {
    for (size_t n = 0; n < logs.size(); ++n) {
      StartRow(file, options, inputs, n);
      WriteReals(file, &logs[n], 1);
    }
  });
  return NoteSkippedLines(status, inputs, logs.size());
}

ExitStatus ClassifyCommand(ModelOptions const& options, Inputs const& inputs) {
  std::vector<double> logs, responsibilities;
  Score(inputs, logs, &responsibilities);
  int const K = inputs.model.count;
  ExitStatus const status = WriteOutput(options, [&](FILE* file) {
    for (size_t n = 0; n < logs.size(); ++n) {
      double const* row = &responsibilities[n * K];
      int const k = LargestEntry(row, K);
      StartRow(file, options, inputs, n);
      fprintf(file, "%i %.17g\n", k + 1, row[k]);
    }
  });
  return NoteSkippedLines(status, inputs, logs.size());
}

ExitStatus PosteriorsCommand(ModelOptions const& options, Inputs const& inputs) {
  std::vector<double> logs, responsibilities;
  Score(inputs, logs, &responsibilities);
  int const K = inputs.model.count;
  ExitStatus const status = WriteOutput(options, [&](FILE* file) {
    for (size_t n = 0; n < logs.size(); ++n) {
      StartRow(file, options, inputs, n);
      WriteReals(file, &responsibilities[n * K], K);
    }
  });
  return NoteSkippedLines(status, inputs, logs.size());
}

// "diagonal" or "full" when every component has that type, "mixed" when they
// differ, "none" without components.
const char* CovarianceName(MixtureModel const& model) {
  if (model.count == 0) return "none";
  MixtureCovarianceMatrixType const type = model.components[0]->type;
  for (int k = 1; k < model.count; ++k)
    if (model.components[k]->type != type) return "mixed";
  return type == MM_COV_FULL ? "full" : "diagonal";
}

ExitStatus InfoCommand(ModelOptions const& options, Inputs const& inputs) {
  MixtureModel const& model = inputs.model;
  long long const parameters = FreeParameters(model);
  std::vector<double> logs;
  if (options.input != nullptr) Score(inputs, logs, nullptr);
  return WriteOutput(options, [&](FILE* file) {
    fprintf(file, "components %i\n", model.count);
    fprintf(file, "dimension %i\n", ModelDimension(model));
    fprintf(file, "covariance %s\n", CovarianceName(model));
    fprintf(file, "parameters %lld\n", parameters);
    if (options.input == nullptr) return;
    size_t const N = logs.size();
    double const logLikelihood = SumInOrder(logs.data(), N);
    fprintf(file, "vectors %zu\n", N);
    fprintf(file, "average_log_likelihood %.17g\n", Average(logs));
    fprintf(file, "log_likelihood %.17g\n", logLikelihood);
    fprintf(file, "bic %.17g\n", BayesianInformationCriterion(logLikelihood, parameters, N));
    fprintf(file, "aic %.17g\n", AkaikeInformationCriterion(logLikelihood, parameters));
  });
}

ExitStatus SampleCommand(ModelOptions const& options, Inputs& inputs) {
  MixtureModel& model = inputs.model;
  model.NormalizeWeights();
  Sampler sampler;
  int const refused = PrepareSampler(sampler, model);
  if (refused != kEveryComponentDrawable) {
    fprintf(stderr, "Error: the covariance of component %i is not positive definite.\n",
            refused + 1);
    return ExitStatus::kSolutionError;
  }
  int const d = ModelDimension(model);
  std::vector<double> z(d), x(d);
  NormalDraws draws(options.seed);
  return WriteOutput(options, [&](FILE* file) {
    // A failed write stops the draws; the output is then refused as a whole.
    for (int i = 0; i < options.count && ferror(file) == 0; ++i) {
      int const k = DrawVector(sampler, model, draws, z.data(), x.data());
      if (options.labels) fprintf(file, "%i ", k + 1);
      WriteReals(file, x.data(), d);
    }
  });
}

ExitStatus DistancesCommand(ModelOptions const& options, Inputs const& inputs) {
  MixtureModel const& model = inputs.model;
  int const K = model.count;
  for (int k = 1; k < K; ++k)
    if (model.components[k]->type != model.components[0]->type) {
      fputs(
          "Error: the model mixes diagonal and full components, between which no distance "
          "is defined.\n",
          stderr);
      return ExitStatus::kSolutionError;
    }
  // Log-determinants, as determinants overflow or underflow at scales where
  // the distance itself is an ordinary number.
  std::vector<double> logDeterminants(K);
  for (int k = 0; k < K; ++k)
    if (!model.components[k]->LogDeterminant(&logDeterminants[k])) {
      fprintf(stderr, "Error: the covariance of component %i is not positive definite.\n", k + 1);
      return ExitStatus::kSolutionError;
    }
  // The distance is symmetric, and 0 from a component to itself (where the
  // formula would leave a rounding residue).
  std::vector<double> distances(static_cast<size_t>(K) * K, 0.0);
  for (int i = 0; i < K; ++i)
    for (int j = i + 1; j < K; ++j) {
      double const distance = model.components[i]->BhattacharyyaDistanceLog(
          *model.components[j], logDeterminants[i], logDeterminants[j], false);
      distances[i * K + j] = distance;
      distances[j * K + i] = distance;
    }
  return WriteOutput(options, [&](FILE* file) {
    for (int i = 0; i < K; ++i) WriteReals(file, &distances[i * K], K);
  });
}

ExitStatus RunCommand(ModelOptions const& options, Inputs& inputs) {
  switch (options.command) {
    case ModelCommand::kScore:
      return ScoreCommand(options, inputs);
    case ModelCommand::kClassify:
      return ClassifyCommand(options, inputs);
    case ModelCommand::kPosteriors:
      return PosteriorsCommand(options, inputs);
    case ModelCommand::kInfo:
      return InfoCommand(options, inputs);
    case ModelCommand::kSample:
      return SampleCommand(options, inputs);
    case ModelCommand::kDistances:
      return DistancesCommand(options, inputs);
    case ModelCommand::kFit:
    case ModelCommand::kUnknown:
      break;
  }
  return ExitStatus::kUsage;
}

}  // namespace

ExitStatus RunModelCommand(ModelOptions const& options) {
  if (options.command == ModelCommand::kFit) return RunFitCommand(options);
  ExitStatus status = CheckOutput(options);
  if (status != ExitStatus::kSuccess) return status;
  Inputs inputs;
  status = ReadInputs(options, inputs);
  if (status != ExitStatus::kSuccess) return status;
  bool const completed =
      Completes("computing the results", [&] { status = RunCommand(options, inputs); });
  return Agreed(completed, status, ExitStatus::kDataError);
}
