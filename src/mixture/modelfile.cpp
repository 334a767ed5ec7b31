#include <algorithm>
#include <cstring>

#include "data/readnums.h"
#include "mixture/mixmodel.h"

char const* const MM_FF_PLAIN_string = "% Plain Matlab-readable";

namespace {

// Ends a row of the model file: count zeros, each after a blank, then a line
// feed. They pad the single-number lines to the dimension so that the file
// is a rectangular table.
void EndRow(FILE* file, int zeros) {
  for (int j = 0; j < zeros; ++j) fputs(" 0", file);
  fputc('\n', file);
}

// True when value converts to int by truncation without leaving int's range.
bool TruncatesToInt(double value) { return value > -2147483649.0 && value < 2147483648.0; }

// Reads the next line of numbers into values, chaining the expected length.
// False on end of input, a syntax error and, unless shortAllowed, a line
// with fewer numbers than expected or with non-finite numbers.
bool ReadRow(FILE* file, int& expected, double*& values, bool shortAllowed) {
  int incomplete = 0;
  int error = 0;
  values = ReadVector(file, &expected, &incomplete, &error);
  if (values == nullptr || error) return false;
  return shortAllowed || !incomplete;
}

}  // namespace

int MixtureComponent::Write(FILE* file, MixtureModelFileFormat format) const {
  if (format != MM_FF_PLAIN) return MM_FILE_OK;
  int const padding = mean.columns - 1;
  fprintf(file, "%g", weight);
  EndRow(file, padding);
  mean.Print(file, 0, 0, mean.rows, mean.columns);
  fprintf(file, "%i", static_cast<int>(type));
  EndRow(file, padding);
  covariance.Print(file, 0, 0, covariance.rows, covariance.columns);
  // The stream's error indicator keeps any failed write; the model writer
  // also flushes, so that a full disk shows up there.
  return ferror(file) ? MM_FILE_WRITE_FAILED : MM_FILE_OK;
}

int MixtureComponent::Read(FILE* file, MixtureModelFileFormat format) {
  if (format == MM_FF_NONE) return MM_FILE_MALFORMED;
  if (format != MM_FF_PLAIN) return MM_FILE_OK;

  // Every line must hold at least as many numbers as the line before it.
  int expected = 0;
  double* values = nullptr;

  // Only the first number of the weight line counts; NaN is let through.
  if (!ReadRow(file, expected, values, true)) return MM_FILE_MALFORMED;
  weight = values[0];

  if (!ReadRow(file, expected, values, false)) return MM_FILE_MALFORMED;
  int const d = expected;
  mean.Resize(1, d, false);
  std::memcpy(mean.data, values, sizeof(double) * d);

  // The chaining makes the type and covariance lines at least d long; a
  // longer one would not fit the component and is rejected.
  if (!ReadRow(file, expected, values, false) || expected > d) return MM_FILE_MALFORMED;
  if (!TruncatesToInt(values[0])) return MM_FILE_MALFORMED;
  int const t = static_cast<int>(values[0]);

  if (t == MM_COV_DIAGONAL) {
    type = MM_COV_DIAGONAL;
    if (!ReadRow(file, expected, values, false) || expected > d) return MM_FILE_MALFORMED;
    covariance.Resize(1, d, false);
    std::memcpy(covariance.data, values, sizeof(double) * d);
    return MM_FILE_OK;
  }

  if (d > kMaxSquareDimension) return MM_FILE_MALFORMED;
  type = MM_COV_FULL;
  // The rows are stored as they arrive, in room that doubles, so that a
  // short file naming a large dimension does not claim d x d elements.
  covariance.Resize(0, d, false);
  for (int i = 0; i < d; ++i) {
    if (!ReadRow(file, expected, values, false) || expected > d) return MM_FILE_MALFORMED;
    if (i == covariance.rows) covariance.Resize(i == 0 ? 1 : std::min(2 * i, d), d, true);
    std::memcpy(covariance.data + static_cast<size_t>(i) * d, values, sizeof(double) * d);
  }
  return MM_FILE_OK;
}

void MixtureModel::WriteFormatID(FILE* file, MixtureModelFileFormat format) const {
  if (format == MM_FF_PLAIN) fprintf(file, "%s\n", MM_FF_PLAIN_string);
}

int MixtureModel::Write(FILE* file, MixtureModelFileFormat format) const {
  if (format == MM_FF_NONE) return MM_FILE_NO_FORMAT;
  if (format != MM_FF_PLAIN) return MM_FILE_OK;
  WriteFormatID(file, format);
  fprintf(file, "%i", count);
  EndRow(file, count > 0 ? components[0]->mean.columns - 1 : 0);
  for (int k = 0; k < count; ++k) {
    if (components[k]->Write(file, format) != MM_FILE_OK) return MM_FILE_WRITE_FAILED;
  }
  if (fflush(file) != 0 || ferror(file)) return MM_FILE_WRITE_FAILED;
  return MM_FILE_OK;
}

int MixtureModel::Write(char const* name, MixtureModelFileFormat format) const {
  FILE* file = fopen(name, "w");
  if (file == nullptr) return MM_FILE_CANNOT_OPEN;
  int result = Write(file, format);
  if (fclose(file) != 0 && result == MM_FILE_OK) result = MM_FILE_WRITE_FAILED;
  return result;
}

int MixtureModel::ReadFormatID(FILE* file, MixtureModelFileFormat& format) {
  format = MM_FF_NONE;
  fpos_t start;
  bool const seekable = fgetpos(file, &start) == 0;
  char const* line = ReadTextFileLine(file);
  if (line == nullptr) return MM_FILE_MALFORMED;
  size_t length = static_cast<size_t>(LastLineLength());
  if (length > 0 && line[length - 1] == '\n') --length;
  format = MM_FF_PLAIN;
  if (length == strlen(MM_FF_PLAIN_string) && strncmp(line, MM_FF_PLAIN_string, length) == 0) {
    return MM_FILE_OK;
  }
  // No header: the line is data and is read again. A stream that cannot go
  // back would lose it, so such a file must start with the header.
  if (!seekable || fsetpos(file, &start) != 0) return MM_FILE_MALFORMED;
  return MM_FILE_OK;
}

int MixtureModel::Read(FILE* file, MixtureModelFileFormat& format) {
  int const result = ReadFormatID(file, format);
  if (result != MM_FILE_OK) return result;
  if (format == MM_FF_NONE) return MM_FILE_NO_FORMAT;
  if (format != MM_FF_PLAIN) return MM_FILE_OK;

  // A bad count line leaves the model as it was.
  int expected = 0;
  double* values = nullptr;
  if (!ReadRow(file, expected, values, true)) return MM_FILE_MALFORMED;
  if (!TruncatesToInt(values[0])) return MM_FILE_MALFORMED;
  int const k = static_cast<int>(values[0]);
  if (k < 0) return MM_FILE_MALFORMED;

  while (count > 0) Remove(count - 1);
  for (int i = 0; i < k; ++i) {
    MixtureComponent* component = new MixtureComponent(MM_COV_DIAGONAL, 0, false);
    int code = component->Read(file, format);
    // Training assumes one dimension for all components.
    if (code == MM_FILE_OK && count > 0 && component->mean.columns != components[0]->mean.columns) {
      code = MM_FILE_MALFORMED;
    }
    if (code != MM_FILE_OK) {
      delete component;
      return code;
    }
    Add(*component);
  }
  return MM_FILE_OK;
}

int MixtureModel::Read(char const* name, MixtureModelFileFormat& format) {
  FILE* file = fopen(name, "r");
  if (file == nullptr) return MM_FILE_CANNOT_OPEN;
  int const result = Read(file, format);
  fclose(file);
  return result;
}
