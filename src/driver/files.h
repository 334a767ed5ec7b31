#ifndef MIXFIT_DRIVER_FILES_H
#define MIXFIT_DRIVER_FILES_H

#include <cstdio>
#include <new>

#include "data/data.h"
#include "driver/preparation.h"
#include "driver/status.h"
#include "matrix/matrix.h"
#include "mixture/mixmodel.h"

// The files of a run as both programs handle them: reading the data and a
// model, with the message and status of each failure, and output that is
// either complete or gone.

// What reading the data needs to know of the run.
struct DataRequest {
  const char* input;
  bool full;              // full covariances are to be fitted
  int count;              // components of random starts
  double relative_floor;  // the variance floor relative to the data variance
  int verbose;            // from 2 on the statistics are printed
  bool trains;            // a model is to be trained
  bool needs_vectors;     // a given model is to be evaluated or trained on them
};

// Reads the data file into storage, views all of its vectors in data and
// computes their statistics; when lines is not null, it receives where this
// rank's vectors stand in the file. Refuses data that can't be read, no
// vectors where they are needed, a dimension too large for full covariances,
// values whose squares or variances overflow and, for training, a column
// without variance: kDataError, after the reason and the data error line.
ExitStatus ReadData(DataRequest const& request, DataStorage& storage, Data& data,
                    DataStatistics& statistics, DataLines* lines = nullptr);

// Reports data that can't be read or used: the data error line on stderr,
// and kDataError.
ExitStatus DataError(const char* input);

// Writes to stderr, on a line of its own, the system's reason why the named
// input can't be opened for reading; nothing when it can be, as then its
// content was at fault. The readers tell only that opening failed, so the
// file is tried again here.
void ReportWhyNotOpened(const char* name);

// ReadModel's dimension for a model that may have any.
const int kAnyDimension = -1;

// Reads the model file name into model: kSolutionError, after the line
// "Error reading input solution", when it can't be read or is not a usable
// solution (UsableSolution) of the given dimension, or of its own with
// kAnyDimension.
ExitStatus ReadModel(const char* name, int dimension, MixtureModel& model);

// The dimension of model's components; 0 without any.
int ModelDimension(MixtureModel const& model);

// Prepares a solution for the data whose floor is given, as before EM or an
// evaluation: variances raised to the floor, then weights normalised.
void PrepareModel(MixtureModel& model, Matrix const& minimum_variances);

// Whether both names are the same file: the same path, or the same file
// through another path or a link.
bool SameFile(const char* a, const char* b);

// Removes what was written of the regular file name, so that no truncated
// result is left looking like one.
void RemovePartialOutput(const char* name);

// Reports output that could not be written: the line "Error writing output
// to" on stderr, and kOutputError. A null name stands for the standard
// output.
ExitStatus OutputError(const char* name);

// The outcome of a phase as every rank of a run takes it: the first failure
// in rank order, so that no rank goes on alone. With one rank, status.
ExitStatus Agreed(ExitStatus status);

// The same for a phase that may have run out of memory (completed false):
// that ends in `failure`.
ExitStatus Agreed(bool completed, ExitStatus status, ExitStatus failure);

// Runs one phase of a run; returns false, after a line naming the phase,
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

#endif
