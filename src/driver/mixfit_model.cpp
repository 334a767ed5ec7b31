// Program entry of mixfit-model: reads the command word, declares and parses
// that command's options and runs it; a signal that ends the run removes the
// output still being written.
#include <cmath>
#include <cstdio>

#include "driver/commandline.h"
#include "driver/modelcommands.h"
#include "driver/modeloptions.h"
#include "driver/outputsignals.h"
#include "driver/seed.h"
#include "options/options.h"
#include "parallel/ranks.h"

namespace {

ExitStatus CommandsExit(const char* word) {
  if (word != nullptr) fprintf(stderr, "Error: unknown command: %s\n", word);
  PrintCommands(stderr);
  return ExitStatus::kUsage;
}

ExitStatus UsageExit(ModelCommand command) {
  PrintCommandUsage(stderr, command);
  return ExitStatus::kUsage;
}

ExitStatus Run(int argc, char* argv[], PendingOutput* pending) {
  const char* word = argc > 1 ? argv[1] : nullptr;
  ModelCommand const command = CommandNamed(word);
  if (command == ModelCommand::kUnknown) return CommandsExit(word);
  // The options follow the command word, which stands where the parser
  // expects the program's name.
  int const count = argc - 1;
  char** const arguments = argv + 1;
  DeclareCommandOptions(command);
  // --help wins over anything else on the command line, faulty or not.
  if (optGivenOption(0, "help", count, arguments)) return UsageExit(command);
  if (optParseCommandLine(count, arguments, stderr) != 0) return UsageExit(command);
  if (ReadsData(command) && command != ModelCommand::kFit && NotANumberGiven('v', stderr))
    return UsageExit(command);
  ModelOptions options = ReadModelOptions(command);
  if (command == ModelCommand::kSample || command == ModelCommand::kFit) {
    SeedChoice seed =
        options.seed_option ? ChooseSeed(options.seed_option) : SeedFromEnvironment(stderr);
    if (!seed.valid) {
      if (options.seed_option)
        fprintf(stderr, "Error: bad value of --seed: %s\n", options.seed_option);
      return ExitStatus::kUsage;
    }
    options.seed = seed.seed;
    options.fit.seed = seed.seed;
  }
  if (command == ModelCommand::kFit &&
      (std::isnan(options.fit.tolerance) || std::isnan(options.fit.regularisation))) {
    fputs("Error: --tol and --reg-covar must be numbers.\n", stderr);
    return UsageExit(command);
  }
  options.pending = pending;
  return RunModelCommand(options);
}

}  // namespace

int main(int argc, char* argv[]) {
  StartRanks(&argc, &argv);
  PendingOutput* const pending = RemovePendingOutputOnSignals();
  return EndRanks(static_cast<int>(Run(argc, argv, pending)));
}
