#include "driver/timer.h"

#include <gtest/gtest.h>

#include <string>

using timer::Time;

// CPU time as the report prints it, and in hours; it never runs backwards.
TEST(TimerTest, TextFormsAndNow) {
  EXPECT_EQ(std::string(timer::StringS(Time(3, 5000))), "3.005000");
  EXPECT_EQ(std::string(timer::StringHMS(Time(3725, 42))), "1:02:05.000042\n");
  EXPECT_EQ(std::string(timer::StringS(Time(3, 600000) + Time(1, 500000))), "5.100000");
  Time before = timer::Now();
  for (volatile int i = 0; i < 5000000; i = i + 1) {
  }
  Time after = timer::Now();
  EXPECT_LT(after.microseconds, 1000000ul);
  EXPECT_TRUE(before < after);
}
