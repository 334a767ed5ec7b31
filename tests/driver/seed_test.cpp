#include "driver/seed.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

// MIXFIT_SEED is a decimal number of 32 bits, digits only; without it the
// seed is the process identifier shifted by 15 bits plus the parent's, in
// 32-bit arithmetic.
TEST(SeedTest, EnvironmentValuesAndProcessIdentifiers) {
  struct Case {
    const char* value;
    bool valid;
    uint32_t seed;
  } cases[] = {{"0", true, 0},   {"007", true, 7},         {"4294967295", true, 4294967295u},
               {"-1", false, 0}, {"4294967296", false, 0}, {"99999999999999999999", false, 0},
               {" 1", false, 0}, {"1x", false, 0}};
  for (auto const& c : cases) {
    SeedChoice choice = ChooseSeed(c.value);
    EXPECT_EQ(choice.valid, c.valid) << c.value;
    EXPECT_EQ(choice.seed, c.valid ? c.seed : 0u) << c.value;
  }
  uint32_t const own = (static_cast<uint32_t>(getpid()) << 15) + static_cast<uint32_t>(getppid());
  for (const char* unset : {static_cast<const char*>(nullptr), ""}) {
    EXPECT_TRUE(ChooseSeed(unset).valid);
    EXPECT_EQ(ChooseSeed(unset).seed, own);
  }
}
