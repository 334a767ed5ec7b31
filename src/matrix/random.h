#ifndef MIXFIT_MATRIX_RANDOM_H
#define MIXFIT_MATRIX_RANDOM_H

#include <cstdint>

// The process-wide pseudo-random generator: a linear congruential generator
// over a 32-bit state, state := state * 1103515245 + 12345 (mod 2^32), each
// value (state / 65536) mod 32768. It is our own so that a seed gives the
// same sequence on every platform. The state is 1 until seeded.

static const int kRandomMax = 32767;

// Sets the generator state to seed.
void RandomSeed(uint32_t seed);

// Advances the generator and returns its next value, 0 to kRandomMax.
int RandomNext();

// Advances the generator as `steps` calls of RandomNext would, in about
// log2(steps) operations: ranks that hold later vectors start there.
void RandomSkip(uint64_t steps);

#endif
