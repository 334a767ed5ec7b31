#include "mixture/sampling.h"

#include <cmath>

namespace {

// The square root of a component's covariance into factor; false when the
// covariance is not positive definite.
bool SquareRoot(MixtureComponent const& component, Matrix& factor) {
  factor = component.covariance;
  if (component.type == MM_COV_FULL) {
    if (!factor.CholeskyDecomposition(nullptr)) return false;
  } else {
    for (int j = 0; j < factor.ElementCount(); ++j) {
      if (!(factor.data[j] > 0.0)) return false;
      factor.data[j] = std::sqrt(factor.data[j]);
    }
  }
  return factor.NotFinite() == 0;
}

}  // namespace

int PrepareSampler(Sampler& sampler, MixtureModel const& model) {
  int const K = model.count > 0 ? model.count : 0;
  sampler.cumulative.assign(K, 0.0);
  sampler.factors.resize(K);
  double total = 0.0;
  for (int k = 0; k < K; ++k) {
    total += model.components[k]->weight;
    sampler.cumulative[k] = total;
  }
  for (int k = 0; k < K; ++k)
    if (!SquareRoot(*model.components[k], sampler.factors[k])) return k;
  return kEveryComponentDrawable;
}

int DrawComponent(Sampler const& sampler, double u) {
  std::vector<double> const& cumulative = sampler.cumulative;
  int const K = static_cast<int>(cumulative.size());
  if (K == 0) return 0;
  double const target = u * cumulative[K - 1];
  for (int k = 0; k < K; ++k)
    if (target < cumulative[k]) return k;
  for (int k = K - 1; k > 0; --k)
    if (cumulative[k] > cumulative[k - 1]) return k;
  return 0;
}

void ComponentVector(MixtureComponent const& component, Matrix const& factor, double const* z,
                     double* x) {
  int const d = component.mean.columns;
  double const* mean = component.mean.data;
  double const* f = factor.data;
  if (component.type != MM_COV_FULL) {
    for (int j = 0; j < d; ++j) x[j] = mean[j] + f[j] * z[j];
    return;
  }
  for (int i = 0; i < d; ++i) {
    double const* row = f + static_cast<size_t>(i) * d;
    double t = 0.0;
    for (int j = 0; j <= i; ++j) t += row[j] * z[j];
    x[i] = mean[i] + t;
  }
}

int DrawVector(Sampler const& sampler, MixtureModel const& model, NormalDraws& draws, double* z,
               double* x) {
  int const k = DrawComponent(sampler, DrawUniform(draws.engine));
  MixtureComponent const& component = *model.components[k];
  int const d = component.mean.columns;
  for (int j = 0; j < d; ++j) z[j] = DrawNormal(draws);
  ComponentVector(component, sampler.factors[k], z, x);
  return k;
}
