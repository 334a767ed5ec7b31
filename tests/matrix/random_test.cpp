#include "matrix/random.h"

#include <gtest/gtest.h>

// The first value from state 1 follows from the recurrence by hand:
// 1 * 1103515245 + 12345 = 1103527590, / 65536 = 16838, mod 32768 = 16838.
TEST(RandomTest, FollowsTheLinearCongruentialRecurrence) {
  RandomSeed(1);
  EXPECT_EQ(RandomNext(), 16838);
  uint32_t state = 1103527590u;
  for (int i = 0; i < 1000; ++i) {
    state = state * 1103515245u + 12345u;
    ASSERT_EQ(RandomNext(), static_cast<int>((state >> 16) & 32767u));
  }
}
