// Program entry of mixfit-model: reads the command word, declares and parses
// that command's options and runs it; a signal that ends the run removes the
// output still being written.
#include <csignal>
#include <cstdio>

#include "driver/atomicoutput.h"
#include "driver/commandline.h"
#include "driver/modelcommands.h"
#include "driver/modeloptions.h"
#include "driver/seed.h"
#include "matrix/ranks.h"
#include "options/options.h"

namespace {

// The temporary file of the output being written, if any: the program's
// own, so that a signal that ends the run can remove it.
PendingOutput pending;

void RemovePendingAndDie(int number) {
  RemovePending(pending);
  raise(number);  // the default action, restored on entry, ends the process
}

// Lets SIGINT, SIGTERM and SIGHUP remove the temporary output before they
// end the program as they would have. A signal ignored from the start (as
// under nohup) stays ignored.
void RemovePendingOnSignals() {
  int const signals[] = {SIGINT, SIGTERM, SIGHUP};
  struct sigaction action = {};
  action.sa_handler = RemovePendingAndDie;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (int number : signals) sigaddset(&action.sa_mask, number);
  for (int number : signals) {
    struct sigaction before = {};
    if (sigaction(number, nullptr, &before) == 0 && before.sa_handler != SIG_IGN)
      sigaction(number, &action, nullptr);
  }
}

ExitStatus CommandsExit(const char* word) {
  if (word != nullptr) fprintf(stderr, "Error: unknown command: %s\n", word);
  PrintCommands(stderr);
  return ExitStatus::kUsage;
}

ExitStatus UsageExit(ModelCommand command) {
  PrintCommandUsage(stderr, command);
  return ExitStatus::kUsage;
}

ExitStatus Run(int argc, char* argv[]) {
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
  if (ReadsData(command) && NotANumberGiven('v', stderr)) return UsageExit(command);
  ModelOptions options = ReadModelOptions(command);
  if (command == ModelCommand::kSample) {
    SeedChoice const seed = SeedFromEnvironment(stderr);
    if (!seed.valid) return ExitStatus::kUsage;
    options.seed = seed.seed;
  }
  return RunModelCommand(options, &pending);
}

}  // namespace

int main(int argc, char* argv[]) {
  StartRanks(&argc, &argv);
  RemovePendingOnSignals();
  return EndRanks(static_cast<int>(Run(argc, argv)));
}
