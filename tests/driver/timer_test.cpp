#include "driver/timer.h"

#include <gtest/gtest.h>

#include <string>

using timer::Time;

// Sums carry; differences are absolute and borrow; text forms.
TEST(TimerTest, ArithmeticOrderAndText) {
  struct Case { Time value; const char* text; } cases[] = {
      {Time(0, 999999) + Time(0, 1), "1.000000"},     {Time(2, 500000) + Time(3, 700000), "6.200000"},
      {Time(5, 100) - Time(3, 200), "1.999900"},      {Time(3, 200) - Time(5, 100), "1.999900"},
      {Time(7, 42) - Time(7, 42), "0.000000"}};
  for (auto const& c : cases) EXPECT_EQ(std::string(timer::StringS(c.value)), c.text);
  EXPECT_TRUE(Time(1, 999999) < Time(2, 0));
  EXPECT_TRUE(Time(2, 1) < Time(2, 2));
  EXPECT_FALSE(Time(2, 2) < Time(2, 2));
  EXPECT_EQ(std::string(timer::StringHMS(Time(3725, 42))), "1:02:05.000042\n");
  Time before = timer::Now();
  for (volatile int i = 0; i < 5000000; i = i + 1) {
  }
  Time after = timer::Now();
  EXPECT_LT(after.microseconds, 1000000ul);
  EXPECT_TRUE(before < after);
}
