#include "driver/timer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using timer::Time;

std::string Text(const Time& t) { return timer::StringS(t); }

TEST(TimerArithmetic, CarryBorrowAndOrder) {
  EXPECT_EQ(Text(Time(0, 999999) + Time(0, 1)), "1.000000");
  EXPECT_EQ(Text(Time(2, 500000) + Time(3, 700000)), "6.200000");
  // A difference is absolute, whichever value is larger.
  EXPECT_EQ(Text(Time(5, 100) - Time(3, 200)), "1.999900");
  EXPECT_EQ(Text(Time(3, 200) - Time(5, 100)), "1.999900");
  EXPECT_EQ(Text(Time(7, 42) - Time(7, 42)), "0.000000");
  EXPECT_TRUE(Time(1, 999999) < Time(2, 0));
  EXPECT_TRUE(Time(2, 1) < Time(2, 2));
  EXPECT_FALSE(Time(2, 2) < Time(2, 2));
}

TEST(TimerText, HoursMinutesSecondsStayInsideTheBuffer) {
  EXPECT_EQ(std::string(timer::StringHMS(Time(3725, 42))), "1:02:05.000042\n");
  std::string huge = timer::StringHMS(Time(~0ul, ~0ul));  // not normalised
  EXPECT_EQ(huge.back(), '\n');
  EXPECT_LT(huge.size(), 64u);
}

TEST(TimerNow, NeverRunsBackwards) {
  Time before = timer::Now();
  Time after = timer::Now();
  EXPECT_LT(after.microseconds, 1000000ul);
  EXPECT_FALSE(after < before);
}

}  // namespace
