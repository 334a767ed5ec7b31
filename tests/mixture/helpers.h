#ifndef MIXFIT_TESTS_MIXTURE_HELPERS_H
#define MIXFIT_TESTS_MIXTURE_HELPERS_H

#include <algorithm>
#include <cstring>
#include <vector>

#include "matrix/matrix_builders.h"
#include "mixture/mixmodel.h"

inline Matrix Row(std::vector<double> const& values) {
  Matrix row(1, static_cast<int>(values.size()));
  std::copy(values.begin(), values.end(), row.data);
  return row;
}

// Appends a component with the given values (covariance: d variances or
// d x d elements) and returns it.
inline MixtureComponent& AddComponent(MixtureModel& model, MixtureCovarianceMatrixType type,
                                      double weight, std::vector<double> const& mean,
                                      std::vector<double> const& covariance) {
  MixtureComponent* component = new MixtureComponent(type, static_cast<int>(mean.size()), false);
  component->weight = weight;
  std::copy(mean.begin(), mean.end(), component->mean.data);
  std::copy(covariance.begin(), covariance.end(), component->covariance.data);
  model.Add(*component);
  return *component;
}

inline bool SameBits(Matrix const& a, Matrix const& b) {
  return a.rows == b.rows && a.columns == b.columns &&
         std::memcmp(a.data, b.data, sizeof(double) * a.ElementCount()) == 0;
}

inline bool SameBits(MixtureModel const& a, MixtureModel const& b) {
  if (a.count != b.count) return false;
  for (int k = 0; k < a.count; ++k) {
    MixtureComponent const& x = *a.components[k];
    MixtureComponent const& y = *b.components[k];
    if (x.type != y.type || std::memcmp(&x.weight, &y.weight, sizeof(double)) != 0 ||
        !SameBits(x.mean, y.mean) || !SameBits(x.covariance, y.covariance))
      return false;
  }
  return true;
}

#endif
