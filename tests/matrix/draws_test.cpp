#include "matrix/draws.h"

#include <gtest/gtest.h>

#include <cmath>

// The first draws of seed 1, worked out by an independent implementation of
// the 64-bit Mersenne Twister and the same conversions: any platform must
// give these bits.
TEST(DrawsTest, SeedOneGivesTheseBitsEverywhere) {
  std::mt19937_64 engine(1);
  for (double expected : {0.13387664401253263, 0.13640703636619722, 0.4512149038445381})
    EXPECT_EQ(DrawUniform(engine), expected);
  NormalDraws draws(1);
  for (double expected :
       {0.35099249780849107, 0.405290193321616, 1.0859449105047105, 0.14429265930606544})
    EXPECT_EQ(DrawNormal(draws), expected);
}

TEST(DrawsTest, NormalsHaveTheStandardMomentsAndShape) {
  // 10^5 draws: the mean within 5 standard errors (1 / sqrt(n)), the
  // variance within 5 of its standard errors (sqrt(2 / n)), and the share
  // within one standard deviation of 0, 0.6827, within 5 binomial ones.
  int const n = 100000;
  NormalDraws draws(42);
  double sum = 0.0, squares = 0.0;
  int inside = 0;
  for (int i = 0; i < n; ++i) {
    double const z = DrawNormal(draws);
    sum += z;
    squares += z * z;
    inside += std::fabs(z) < 1.0;
  }
  double const mean = sum / n;
  EXPECT_NEAR(mean, 0.0, 5.0 / std::sqrt(n));
  EXPECT_NEAR(squares / n - mean * mean, 1.0, 5.0 * std::sqrt(2.0 / n));
  EXPECT_NEAR(static_cast<double>(inside) / n, 0.6827, 5.0 * std::sqrt(0.6827 * 0.3173 / n));
}
