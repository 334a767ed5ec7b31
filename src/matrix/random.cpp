#include "matrix/random.h"

namespace {
uint32_t random_state = 1;
}

void RandomSeed(uint32_t seed) { random_state = seed; }

int RandomNext() {
  random_state = random_state * 1103515245u + 12345u;
  return static_cast<int>((random_state / 65536u) % 32768u);
}

void RandomSkip(uint64_t steps) {
  // state := a * state + c applied 2^i times is itself such a map, (a, c)
  // composed with itself: the maps for the bits of steps are applied in turn.
  uint32_t a = 1103515245u, c = 12345u;
  for (; steps > 0; steps >>= 1) {
    if (steps & 1) random_state = random_state * a + c;
    c = c * a + c;
    a = a * a;
  }
}
