#ifndef MIXFIT_MATRIX_DRAWS_H
#define MIXFIT_MATRIX_DRAWS_H

#include <cstdint>
#include <random>

// Uniform and normal draws whose bits depend on the seed alone: the 64-bit
// Mersenne Twister, whose output the C++ standard fixes, and our own
// conversions, as the standard library's distributions differ between
// implementations.

// A source of standard normal draws. Box-Muller turns two uniforms into two
// normals; the second waits in spare for the next draw.
struct NormalDraws {
  std::mt19937_64 engine;
  bool hasSpare = false;
  double spare = 0.0;

  explicit NormalDraws(uint64_t seed) : engine(seed) {}
};

// A uniform double in [0, 1): the engine's top 53 bits times 2^-53.
double DrawUniform(std::mt19937_64& engine);

// A standard normal. Without a spare: uniforms u and v (both DrawUniform),
// r = sqrt(-2 ln(1 - u)), and r cos(2 pi v) is returned while r sin(2 pi v)
// becomes the spare. The C library's log, sqrt, cos and sin are used.
double DrawNormal(NormalDraws& draws);

#endif
