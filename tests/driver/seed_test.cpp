#include "driver/seed.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

// MIXFIT_SEED is a decimal number of 32 bits, digits only (one value past
// the largest and any other character refused, with seed 0); without it the
// seed is the process identifier shifted by 15 bits plus the parent's, in
// 32-bit arithmetic.
TEST(SeedTest, EnvironmentValuesAndProcessIdentifiers) {
  uint32_t const own = (static_cast<uint32_t>(getpid()) << 15) + static_cast<uint32_t>(getppid());
  char const* const values[] = {"007", "4294967295", "4294967296", "-1", "1x", nullptr, ""};
  std::string all;  // each seed, marked x when refused
  for (char const* value : values)
    all += (ChooseSeed(value).valid ? "" : "x") + std::to_string(ChooseSeed(value).seed) + " ";
  EXPECT_EQ(all, "7 4294967295 x0 x0 x0 " + std::to_string(own) + " " + std::to_string(own) + " ");
}
