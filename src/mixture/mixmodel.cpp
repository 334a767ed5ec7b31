#include "mixture/mixmodel.h"

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

// ---------------------------------------------------------------------------
// MixtureComponent

MixtureComponent::MixtureComponent(MixtureCovarianceMatrixType type, int d, bool zero)
    : type(type),
      weight(0.0),
      mean(1, d),
      covariance(type == MM_COV_DIAGONAL ? 1
                 : type == MM_COV_FULL   ? d
                                         : 0,
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

MixtureModel::MixtureModel(MixtureModel&& other) noexcept
    : count(other.count), components(other.components), capacity(other.capacity) {
  other.count = 0;
  other.components = nullptr;
  other.capacity = 0;
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

MixtureModel& MixtureModel::operator=(MixtureModel&& other) noexcept {
  if (&other == this) return *this;
  // Takes the other's components whatever their count: a move copies nothing.
  for (int k = 0; k < count; ++k) delete components[k];
  delete[] components;
  count = other.count;
  components = other.components;
  capacity = other.capacity;
  other.count = 0;
  other.components = nullptr;
  other.capacity = 0;
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

namespace {

// Finite weights whose sum overflowed: divides them by the largest, after
// which they sum to at most count, and returns their new sum. Returns the
// total unchanged when a weight is infinite, as that is no overflow.
double ScaleOverflowingWeights(MixtureComponent** components, int count, double total) {
  double largest = 0.0;
  for (int k = 0; k < count; ++k) {
    double const weight = components[k]->weight;
    if (!std::isfinite(weight)) return total;
    if (weight > largest) largest = weight;
  }
  for (int k = 0; k < count; ++k) components[k]->weight /= largest;
  total = 0.0;
  for (int k = 0; k < count; ++k) total += components[k]->weight;
  return total;
}

}  // namespace

void MixtureModel::NormalizeWeights() {
  if (count <= 0) return;
  double total = 0.0;
  for (int k = 0; k < count; ++k) total += components[k]->weight;
  if (total == HUGE_VAL) total = ScaleOverflowingWeights(components, count, total);
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

bool AnyFullCovariance(MixtureModel const& model) {
  for (int k = 0; k < model.count; ++k)
    if (model.components[k]->type != MM_COV_DIAGONAL) return true;
  return false;
}

bool InverseCovarianceFactor(MixtureComponent const& component, Matrix& factor, double* determinant,
                             double* logRootDeterminant) {
  int const columns = component.covariance.columns;
  factor = component.covariance;
  bool usable = true;
  double logs = 0.0;
  if (component.type == MM_COV_DIAGONAL) {
    *determinant = 1.0;
    for (int j = 0; j < columns; ++j) {
      double const variance = component.covariance.data[j];
      *determinant *= variance;
      usable = usable && variance > 0.0 && variance <= DBL_MAX;
      logs += std::log(variance);
    }
    logs = 0.5 * logs;
    factor.InvertElements();
  } else {
    // A covariance that is not square leaves the determinant unwritten.
    *determinant = std::numeric_limits<double>::quiet_NaN();
    usable = factor.CholeskyDecomposition(determinant);
    for (int j = 0; usable && j < columns; ++j) {
      double const pivotRoot = factor.data[j * columns + j];
      usable = pivotRoot > 0.0 && pivotRoot <= DBL_MAX;
      logs += std::log(pivotRoot);
    }
    factor.InvertLowerTriangular();
  }
  *logRootDeterminant = logs;
  return usable && factor.NotFinite() == 0;
}
