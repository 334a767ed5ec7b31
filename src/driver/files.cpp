#include "driver/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "parallel/ranks.h"

ExitStatus DataError(const char* input) {
  fprintf(stderr, "\nError reading input data file: %s\n\n", input);
  return ExitStatus::kDataError;
}

void ReportWhyNotOpened(const char* name) {
  if (!Speaks()) return;
  // Without waiting: a named pipe whose writer is gone would hold the
  // program here for good.
  int const descriptor = open(name, O_RDONLY | O_NONBLOCK);
  if (descriptor < 0) {
    fprintf(stderr, "%s\n", strerror(errno));
    return;
  }
  close(descriptor);
}

ExitStatus ReadData(DataRequest const& request, DataStorage& storage, Data& data,
                    DataStatistics& statistics, DataLines* lines) {
  const char* input = request.input;
  if (storage.ReadShare(input, lines) != DATA_FILE_OK) return DataError(input);
  if (storage.rows > 0) data.Map(0, static_cast<uint32_t>(storage.rows));
  data.share = ProgramRanks().ShareOf(data.Count());
  // A model has nothing to be evaluated on. Every rank knows the dimension,
  // which the first vector of the file fixes, also without vectors of its own.
  if (request.needs_vectors && data.Dimension() == 0) {
    fputs("The data file holds no vectors.\n", stderr);
    return DataError(input);
  }
  // Data that can be read but not fitted fail as unreadable data, with the
  // reason first.
  if (request.full && !FullCovariancesFit(data.Dimension())) {
    fprintf(stderr, "Dimension %i is too large for full covariance matrices.\n", data.Dimension());
    return DataError(input);
  }
  statistics =
      PrepareStatistics(data, request.full, request.count, request.relative_floor, request.verbose);
  if (!FiniteMoments(data, statistics)) {
    fputs("Data values are too large: their squares or variances are not finite.\n", stderr);
    return DataError(input);
  }
  int column = request.trains ? ColumnWithoutVariance(data, statistics) : -1;
  if (column >= 0) {
    fprintf(stderr, "Column %i of the data has no variance, so no density can be fitted.\n",
            column + 1);
    return DataError(input);
  }
  return ExitStatus::kSuccess;
}

int ModelDimension(MixtureModel const& model) {
  return model.count > 0 ? model.components[0]->mean.columns : 0;
}

ExitStatus ReadModel(const char* name, int dimension, MixtureModel& model) {
  MixtureModelFileFormat format;
  bool read = model.Read(name, format) == MM_FILE_OK;
  if (read && dimension == kAnyDimension) dimension = ModelDimension(model);
  if (!read || !UsableSolution(model, dimension)) {
    fprintf(stderr, "\nError reading input solution: %s\n", name);
    return ExitStatus::kSolutionError;
  }
  return ExitStatus::kSuccess;
}

void PrepareModel(MixtureModel& model, Matrix const& minimum_variances) {
  model.LimitVariances(minimum_variances);
  model.NormalizeWeights();
}

bool SameFile(const char* a, const char* b) {
  if (strcmp(a, b) == 0) return true;
  struct stat first, second;
  return stat(a, &first) == 0 && stat(b, &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

void RemovePartialOutput(const char* name) {
  struct stat status;
  if (stat(name, &status) == 0 && S_ISREG(status.st_mode)) remove(name);
}

ExitStatus OutputError(const char* name) {
  fprintf(stderr, "\nError writing output to: %s\n", name != nullptr ? name : "standard output");
  return ExitStatus::kOutputError;
}

ExitStatus Agreed(ExitStatus status) {
  return static_cast<ExitStatus>(AgreeStatus(static_cast<int>(status)));
}

ExitStatus Agreed(bool completed, ExitStatus status, ExitStatus failure) {
  return Agreed(completed ? status : failure);
}
