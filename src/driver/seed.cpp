#include "driver/seed.h"

#include <unistd.h>

#include <cstdlib>

SeedChoice ChooseSeed(const char* environment_value) {
  if (environment_value == nullptr || *environment_value == '\0') {
    // Wraps in 32 bits on purpose: the same pair of identifiers gives the
    // same starts.
    uint32_t seed = (static_cast<uint32_t>(getpid()) << 15) + static_cast<uint32_t>(getppid());
    return {true, seed};
  }
  uint64_t value = 0;
  for (const char* digit = environment_value; *digit != '\0'; ++digit) {
    if (*digit < '0' || *digit > '9') return {false, 0};
    value = value * 10 + static_cast<uint64_t>(*digit - '0');
    if (value > UINT32_MAX) return {false, 0};
  }
  return {true, static_cast<uint32_t>(value)};
}

SeedChoice SeedFromEnvironment(FILE* errors) {
  const char* value = std::getenv("MIXFIT_SEED");
  SeedChoice choice = ChooseSeed(value);
  if (!choice.valid) fprintf(errors, "Error: bad value of MIXFIT_SEED: %s\n", value);
  return choice;
}
