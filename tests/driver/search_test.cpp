#include "driver/search.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

TEST(BestSolutionRule, FirstSolutionAlwaysWins) {
  EXPECT_TRUE(ReplacesBest(0, kNaN, 0.0));
  EXPECT_TRUE(ReplacesBest(0, -kInf, 0.0));
  EXPECT_TRUE(ReplacesBest(0, -5.0, 0.0));
}

TEST(BestSolutionRule, LaterSolutionMustBeFiniteAndStrictlyBetter) {
  EXPECT_TRUE(ReplacesBest(1, -1.0, -2.0));
  EXPECT_FALSE(ReplacesBest(1, -2.0, -2.0));  // a tie keeps the earlier
  EXPECT_FALSE(ReplacesBest(3, -3.0, -2.0));
  EXPECT_FALSE(ReplacesBest(1, kInf, -2.0));
  EXPECT_FALSE(ReplacesBest(1, kNaN, -2.0));
  EXPECT_TRUE(ReplacesBest(1, -1.0, -kInf));
  // Once the best is NaN nothing compares greater.
  EXPECT_FALSE(ReplacesBest(1, 1.0, kNaN));
}

}  // namespace
