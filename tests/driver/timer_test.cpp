#include "driver/timer.h"

#include <gtest/gtest.h>

#include <string>

using timer::Time;

// CPU time as the report prints it (the microseconds carried into seconds),
// and in hours; it never runs backwards.
TEST(TimerTest, TextFormsAndNow) {
  EXPECT_EQ(std::string(timer::StringS(Time(3, 600000) + Time(1, 405000))), "5.005000");
  EXPECT_EQ(std::string(timer::StringS(Time(5, 5000) - Time(1, 405000))), "3.600000");
  EXPECT_EQ(std::string(timer::StringHMS(Time(3725, 42))), "1:02:05.000042\n");
  Time before = timer::Now();
  for (volatile int i = 0; i < 5000000; i = i + 1) continue;
  EXPECT_TRUE(before.microseconds < 1000000ul && before < timer::Now());
}
