#include "matrix/random.h"

#include <gtest/gtest.h>

#include <cstdint>

// Skipping n steps leaves the generator where n draws would, from any seed,
// across the bits of n (the ranks of a run skip to their first vector).
TEST(RandomSkipTest, EqualsDrawing) {
  for (uint32_t seed : {1u, 7u, 4294967295u}) {
    for (uint64_t steps : {0, 1, 2, 3, 5, 64, 1000, 65537}) {
      RandomSeed(seed);
      for (uint64_t i = 0; i < steps; ++i) RandomNext();
      int const drawn = RandomNext();
      RandomSeed(seed);
      RandomSkip(steps);
      EXPECT_EQ(RandomNext(), drawn) << "seed " << seed << ", " << steps << " steps";
    }
  }
}
