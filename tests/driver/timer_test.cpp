#include "driver/timer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using timer::Time;

bool Same(const Time& a, const Time& b) {
  return a.seconds == b.seconds && a.microseconds == b.microseconds;
}

TEST(TimerArithmetic, AdditionCarriesIntoSeconds) {
  EXPECT_TRUE(Same(Time(0, 999999) + Time(0, 1), Time(1, 0)));
  Time t(2, 500000);
  t += Time(3, 700000);
  EXPECT_TRUE(Same(t, Time(6, 200000)));
}

TEST(TimerArithmetic, DifferenceIsAbsoluteWithBorrow) {
  EXPECT_TRUE(Same(Time(5, 100) - Time(3, 200), Time(1, 999900)));
  EXPECT_TRUE(Same(Time(3, 200) - Time(5, 100), Time(1, 999900)));
  EXPECT_TRUE(Same(Time(7, 42) - Time(7, 42), Time(0, 0)));
  Time t(1, 0);
  t -= Time(0, 1);
  EXPECT_TRUE(Same(t, Time(0, 999999)));
}

TEST(TimerArithmetic, OrderBySecondsThenMicroseconds) {
  EXPECT_TRUE(Time(1, 999999) < Time(2, 0));
  EXPECT_TRUE(Time(2, 1) < Time(2, 2));
  EXPECT_FALSE(Time(2, 2) < Time(2, 2));
  EXPECT_FALSE(Time(3, 0) < Time(2, 999999));
}

TEST(TimerText, SecondsAndHoursMinutesSeconds) {
  EXPECT_EQ(std::string(timer::StringS(Time(3, 5000))), "3.005000");
  EXPECT_EQ(std::string(timer::StringS(Time(0, 0))), "0.000000");
  EXPECT_EQ(std::string(timer::StringHMS(Time(3725, 42))), "1:02:05.000042\n");
  EXPECT_EQ(std::string(timer::StringHMS(Time(0, 0))), "0:00:00.000000\n");
}

TEST(TimerText, UnnormalisedValuesStayInsideTheBuffer) {
  Time huge(~0ul, ~0ul);
  std::string text = timer::StringHMS(huge);
  EXPECT_EQ(text.back(), '\n');
  EXPECT_LT(text.size(), 64u);
}

TEST(TimerNow, CpuTimeGrowsWithWork) {
  Time before = timer::Now();
  volatile double sink = 0;
  for (long i = 0; i < 20000000; ++i) sink = sink + 1e-9 * i;
  Time after = timer::Now();
  EXPECT_LT(after.microseconds, 1000000ul);
  EXPECT_FALSE(after < before);
  EXPECT_TRUE(before < after);
}

}  // namespace
