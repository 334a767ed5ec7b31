#include "matrix/draws.h"

#include <cmath>

namespace {

const double kTwoPi = 6.283185307179586;

}  // namespace

double DrawUniform(std::mt19937_64& engine) {
  return static_cast<double>(engine() >> 11) * (1.0 / 9007199254740992.0);
}

double DrawNormal(NormalDraws& draws) {
  if (draws.hasSpare) {
    draws.hasSpare = false;
    return draws.spare;
  }
  // 1 - u lies in (0, 1], so the logarithm is finite.
  double const u = DrawUniform(draws.engine);
  double const v = DrawUniform(draws.engine);
  double const r = std::sqrt(-2.0 * std::log(1.0 - u));
  double const angle = kTwoPi * v;
  draws.spare = r * std::sin(angle);
  draws.hasSpare = true;
  return r * std::cos(angle);
}
