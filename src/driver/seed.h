#ifndef MIXFIT_DRIVER_SEED_H
#define MIXFIT_DRIVER_SEED_H

#include <cstdint>
#include <cstdio>

// The seed of a run's random starts. MIXFIT_SEED, when set and not empty,
// fixes it so that a run can be repeated; otherwise it comes from the
// process identifiers, so that runs differ.
struct SeedChoice {
  bool valid;     // false: MIXFIT_SEED holds something other than a seed
  uint32_t seed;  // the seed to use when valid
};

// The choice for the given value of MIXFIT_SEED (null when unset): a
// decimal number from 0 to 4294967295, digits only, or empty or unset for
// the seed made from the process and parent process identifiers.
SeedChoice ChooseSeed(const char* environment_value);

// The choice for the process's MIXFIT_SEED; when it holds no seed, also the
// line "Error: bad value of MIXFIT_SEED: ..." on errors.
SeedChoice SeedFromEnvironment(FILE* errors);

#endif
