#include "mixture/mixmodel.h"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <utility>

#include "data/readnums.h"

char const* const MM_FF_PLAIN_string = "% Plain Matlab-readable";

// ---------------------------------------------------------------------------
// MixtureComponent

MixtureComponent::MixtureComponent(MixtureCovarianceMatrixType type, int d, bool zero)
    : type(type),
      weight(0.0),
      mean(1, d),
      covariance(type == MM_COV_DIAGONAL ? 1 : type == MM_COV_FULL ? d : 0,
                 type == MM_COV_DIAGONAL || type == MM_COV_FULL ? d : 0) {
  if (zero) {
    mean.Fill(0.0);
    covariance.Fill(0.0);
  }
}

MixtureComponent::MixtureComponent(double weight, Matrix const& data, int row,
                                   Matrix const& covariance)
    : type(covariance.rows != covariance.columns ? MM_COV_DIAGONAL : MM_COV_FULL),
      weight(weight),
      mean(1, data.columns),
      covariance(covariance) {
  data.SubMatrix(mean, row, 0);
}

void MixtureComponent::LimitVariances(Matrix const& minimum) {
  int const c = covariance.columns;
  double const* v = minimum.data;
  double* element = covariance.data;
  // A row of variances is walked directly, a square matrix along its diagonal.
  int const step = covariance.rows != covariance.columns ? 1 : c + 1;
  for (int j = 0; j < c; ++j) {
    if (element[j * step] < v[j]) element[j * step] = v[j];
  }
}

int MixtureComponent::NotFinite(FILE* report) const {
  int const a = mean.NotFinite();
  if (a > 0 && report) fputs("Invalid mean. ", report);
  int const b = covariance.NotFinite();
  if (b > 0 && report) fputs("Invalid covariance. ", report);
  int total = a + b;
  if (!std::isfinite(weight)) {
    ++total;
    if (report) fputs("Invalid weight.", report);
  }
  if (report && total > 0) fputc('\n', report);
  return total;
}

void MixtureComponent::Mean(double const* values) {
  std::memcpy(mean.data, values, sizeof(double) * mean.columns);
}

void MixtureComponent::Add(MixtureComponent const& other, double factor) {
  mean.Add(other.mean, factor);
  covariance.Add(other.covariance, factor);
  weight += factor * other.weight;
}

MixtureComponent& MixtureComponent::operator+=(MixtureComponent const& other) {
  mean += other.mean;
  covariance += other.covariance;
  weight += other.weight;
  return *this;
}

MixtureComponent& MixtureComponent::operator*=(double factor) {
  mean.Scale(factor);
  covariance.Scale(factor);
  weight *= factor;
  return *this;
}

// ---------------------------------------------------------------------------
// MixtureModel: ownership

MixtureModel::MixtureModel(MixtureModel const& other)
    : count(other.count), components(nullptr), capacity(other.count) {
  if (count > 0) {
    components = new MixtureComponent*[count];
    for (int k = 0; k < count; ++k) components[k] = new MixtureComponent(*other.components[k]);
  }
}

MixtureModel::~MixtureModel() {
  for (int k = 0; k < count; ++k) delete components[k];
  delete[] components;
}

MixtureModel& MixtureModel::operator=(MixtureModel const& other) {
  if (&other == this) return *this;
  if (count == other.count) {
    // Reuse the component objects and their storage: EM assigns models of
    // equal count in every iteration.
    for (int k = 0; k < count; ++k) {
      MixtureComponent& target = *components[k];
      MixtureComponent const& source = *other.components[k];
      target.type = source.type;
      target.weight = source.weight;
      target.mean = source.mean;
      target.covariance = source.covariance;
    }
    return *this;
  }
  MixtureModel copy(other);
  std::swap(count, copy.count);
  std::swap(components, copy.components);
  std::swap(capacity, copy.capacity);
  return *this;
}

void MixtureModel::Add(MixtureComponent& component) {
  // The array grows geometrically so that K additions cost O(K) copies.
  if (count == capacity) {
    int const grown = capacity < 4 ? 4 : capacity > INT_MAX / 2 ? INT_MAX : capacity * 2;
    MixtureComponent** array = new MixtureComponent*[grown];
    if (count > 0) std::memcpy(array, components, sizeof(MixtureComponent*) * count);
    delete[] components;
    components = array;
    capacity = grown;
  }
  components[count++] = &component;
}

void MixtureModel::Remove(int index) {
  delete components[index];
  --count;
  if (count == 0) {
    delete[] components;
    components = nullptr;
    capacity = 0;
    return;
  }
  for (int k = index; k < count; ++k) components[k] = components[k + 1];
}

int MixtureModel::RemoveSingular(double minimum) {
  int removed = 0;
  // Downwards, so that a removal does not move the components still to visit.
  for (int k = count - 1; k >= 0; --k) {
    MixtureComponent const& component = *components[k];
    bool singular = false;
    if (component.type == MM_COV_DIAGONAL) {
      int const d = components[0]->mean.columns;
      for (int j = 0; j < d && !singular; ++j) singular = component.covariance.data[j] <= minimum;
    } else {
      Matrix factor(component.covariance);
      singular = !factor.CholeskyDecomposition(nullptr);
    }
    if (singular) {
      Remove(k);
      ++removed;
    }
  }
  return removed;
}

void MixtureModel::NormalizeWeights() {
  if (count <= 0) return;
  double total = 0.0;
  for (int k = 0; k < count; ++k) total += components[k]->weight;
  if (total > 0) {
    for (int k = 0; k < count; ++k) components[k]->weight /= total;
  } else {
    // Zero, negative or NaN total: no division, equal weights instead.
    for (int k = 0; k < count; ++k) components[k]->weight = 1.0 / count;
  }
}

void MixtureModel::LimitVariances(Matrix const& minimum) {
  for (int k = 0; k < count; ++k) components[k]->LimitVariances(minimum);
}

int MixtureModel::NotFinite(FILE* report) const {
  int total = 0;
  for (int k = 0; k < count; ++k) total += components[k]->NotFinite(report);
  return total;
}

// ---------------------------------------------------------------------------
// Model files

namespace {

// Ends a row of the model file: count zeros, each after a blank, then a line
// feed. They pad the single-number lines to the dimension so that the file
// is a rectangular table.
void EndRow(FILE* file, int zeros) {
  for (int j = 0; j < zeros; ++j) fputs(" 0", file);
  fputc('\n', file);
}

// True when value converts to int by truncation without leaving int's range.
bool TruncatesToInt(double value) {
  return value > -2147483649.0 && value < 2147483648.0;
}

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

// ---------------------------------------------------------------------------
// Distances and densities. These run once per data vector and component in
// training: raw pointers, storage read in order, sums in index order.

double MahalanobisDiag2(double const* x, double const* m, Matrix const& A) {
  int const c = A.columns;
  double const* a = A.data;
  double sum = 0.0;
  for (int j = 0; j < c; ++j) {
    double const e = x[j] - m[j];
    sum += e * e * a[j];
  }
  return sum;
}

double MahalanobisChol2(double const* x, double const* m, Matrix const& B) {
  int const r = B.rows;
  int const c = B.columns;
  double sum = 0.0;
  for (int i = 0; i < r; ++i) {
    double const* row = B.data + static_cast<size_t>(i) * c;
    double t = 0.0;
    for (int j = 0; j <= i; ++j) t += row[j] * (x[j] - m[j]);
    sum += t * t;
  }
  return sum;
}

double MahalanobisChol(double const* x, double const* m, Matrix const& B) {
  return std::sqrt(MahalanobisChol2(x, m, B));
}

double MahalanobisFull2(double const* x, double const* m, Matrix const& A) {
  int const r = A.rows;
  int const c = A.columns;
  double const* a = A.data;
  double sum = 0.0;
  for (int i = 0; i < r; ++i) {
    double u = 0.0;
    for (int j = 0; j < c; ++j) u += *a++ * (x[j] - m[j]);
    sum += u * (x[i] - m[i]);
  }
  return sum;
}

double Mahalanobis2(double const* x, double const* m, Matrix const& A) {
  if (A.rows != A.columns) return MahalanobisDiag2(x, m, A);
  return MahalanobisFull2(x, m, A);
}

double Mahalanobis(double const* x, double const* m, Matrix const& A) {
  return std::sqrt(Mahalanobis2(x, m, A));
}

double Mahalanobis2(double const* y, Matrix const& A) {
  int const c = A.columns;
  double const* a = A.data;
  double sum = 0.0;
  if (A.rows != c) {
    for (int j = 0; j < c; ++j) sum += y[j] * y[j] * a[j];
    return sum;
  }
  for (int i = 0; i < c; ++i) {
    double u = 0.0;
    for (int j = 0; j < c; ++j) u += y[j] * *a++;
    sum += u * y[i];
  }
  return sum;
}

double Mahalanobis(double const* y, Matrix const& A) {
  return std::sqrt(Mahalanobis2(y, A));
}

double ProbabilityDensity(double squared_distance, double normaliser) {
  double const p = std::exp(-0.5 * squared_distance) / normaliser;
  return std::isfinite(p) ? p : 0.0;
}

// ---------------------------------------------------------------------------
// Component distances

double MixtureComponent::BhattacharyyaDistance(MixtureComponent const& other, double determinant,
                                               double otherDeterminant, bool withWeights) const {
  // The averaged covariance, replaced by its inverse (or inverse factor).
  Matrix s(covariance);
  s += other.covariance;
  s.Scale(0.5);
  double detS = 0.0;
  double q;
  if (type == MM_COV_FULL) {
    s.CholeskyDecomposition(&detS);
    s.InvertLowerTriangular();
    q = 0.125 * MahalanobisChol2(other.mean.data, mean.data, s);
  } else {
    detS = s.ElementProduct();
    s.InvertElements();
    q = 0.125 * MahalanobisDiag2(other.mean.data, mean.data, s);
  }
  double ratio = detS / (std::sqrt(determinant) * std::sqrt(otherDeterminant));
  if (ratio < DBL_MIN) ratio = DBL_MIN;
  if (!withWeights) return q + 0.5 * std::log(ratio);
  double const w = weight < other.weight ? weight / other.weight : other.weight / weight;
  return (q - std::log(w)) + 0.5 * std::log(ratio);
}

double MixtureComponent::Distance(MixtureComponent const& other, ComponentDistanceType kind) const {
  if (kind != CD_BHATTACHARYYA) return 0.0;
  double determinant = 0.0;
  double otherDeterminant = 0.0;
  if (type == MM_COV_FULL) {
    Matrix factor(covariance);
    factor.CholeskyDecomposition(&determinant);
    factor = other.covariance;
    factor.CholeskyDecomposition(&otherDeterminant);
  } else {
    determinant = covariance.ElementProduct();
    otherDeterminant = other.covariance.ElementProduct();
  }
  return BhattacharyyaDistance(other, determinant, otherDeterminant, false);
}
