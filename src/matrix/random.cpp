#include "matrix/random.h"

namespace {
uint32_t random_state = 1;
}

void RandomSeed(uint32_t seed) { random_state = seed; }

int RandomNext() {
  random_state = random_state * 1103515245u + 12345u;
  return static_cast<int>((random_state / 65536u) % 32768u);
}
