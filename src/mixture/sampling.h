#ifndef MIXFIT_MIXTURE_SAMPLING_H
#define MIXFIT_MIXTURE_SAMPLING_H

#include <vector>

#include "matrix/draws.h"
#include "matrix/matrix.h"
#include "mixture/mixmodel.h"

// Drawing vectors from a mixture model: a component by the weights, then
// its mean plus a square root of its covariance times standard normals.

// What drawing from a model needs besides the model.
struct Sampler {
  std::vector<double> cumulative;  // K: weight 0 + weight 1 + ... + weight k
  // K: the lower Cholesky factor L of a full covariance (S = L L'), the row
  // of standard deviations of a diagonal one.
  std::vector<Matrix> factors;
};

// PrepareSampler's result when every covariance is positive definite.
const int kEveryComponentDrawable = -1;

// Sets sampler up for model. Returns the index of the first component whose
// covariance is not positive definite (a variance or a Cholesky pivot not
// above 0, or a factor that is not finite), or kEveryComponentDrawable.
int PrepareSampler(Sampler& sampler, MixtureModel const& model);

// The component that a uniform u in [0, 1) selects: the first k with
// u * total < cumulative[k] (total the last cumulative weight); when
// rounding leaves no such k, the last component of positive weight, or 0.
int DrawComponent(Sampler const& sampler, double u);

// x := mean + factor * z for a component and its factor from the sampler,
// z holding d standard normals: x_i = mean_i + (L_i0 z_0 + ... + L_ii z_i)
// for a full component, mean_i + s_i z_i for a diagonal one.
void ComponentVector(MixtureComponent const& component, Matrix const& factor, double const* z,
                     double* x);

// Draws one vector into x: the component by DrawComponent of one uniform,
// then d normals into z (scratch of d doubles) and ComponentVector. Returns
// the component's index.
int DrawVector(Sampler const& sampler, MixtureModel const& model, NormalDraws& draws, double* z,
               double* x);

#endif
