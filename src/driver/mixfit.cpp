// Program entry of mixfit: declares the command-line options, checks them,
// seeds the random starts and runs the fit; a signal that ends the run
// removes the model file still being written.
#include <cstdio>

#include "driver/commandline.h"
#include "driver/fit.h"
#include "driver/outputsignals.h"
#include "driver/seed.h"
#include "matrix/random.h"
#include "options/options.h"
#include "parallel/ranks.h"

namespace {

// Prints the banner, the usage text and the notes to stderr.
ExitStatus UsageExit() {
  std::fprintf(stderr, "\nEM-algorithm, version 1.0.1 (compiled %s, %s)\n", __DATE__, __TIME__);
  optPrintUsage(stderr, "mixfit");
  std::fputs("You can't use --solution with --full, --random or --count.\n", stderr);
  std::fputs("You can't use --iterations and --threshold together.\n\n", stderr);
  std::fputs("If --solution is given and --iterations is 0, log-likelihood\n", stderr);
  std::fputs("is computed, no model is saved, but --output must be given.\n\n", stderr);
  std::fputs("Warning about numerical problems means that the\n", stderr);
  std::fputs("log likelihood is not monotonic or not a number.\n\n", stderr);
  return ExitStatus::kUsage;
}

// Seeds the random generator from MIXFIT_SEED or the process identifiers.
// Returns false, having said why, when MIXFIT_SEED holds no seed. Every
// rank takes rank 0's seed, so that all draw the same starts.
bool SeedRandom() {
  SeedChoice choice = SeedFromEnvironment(stderr);
  BroadcastFromFirst(&choice, sizeof choice);
  if (!choice.valid) return false;
  RandomSeed(choice.seed);
  return true;
}

ExitStatus Run(int argc, char* argv[], PendingOutput* pending) {
  DeclareOptions();
  // --help wins over anything else on the command line, faulty or not.
  if (optGivenOption(0, "help", argc, argv)) return UsageExit();
  if (optParseCommandLine(argc, argv, stderr) != 0 || NotANumberGiven(stderr)) return UsageExit();
  if (OptionsConflict()) return UsageExit();
  if (!SeedRandom()) return ExitStatus::kUsage;
  FitOptions options = ReadFitOptions();
  options.pending = pending;
  return Fit(options);
}

}  // namespace

int main(int argc, char* argv[]) {
  StartRanks(&argc, &argv);
  PendingOutput* const pending = RemovePendingOutputOnSignals();
  return EndRanks(static_cast<int>(Run(argc, argv, pending)));
}
