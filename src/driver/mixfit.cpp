// Program entry of mixfit: declares the command-line options, checks them
// and runs the fit.
#include <cstdio>

#include "options/options.h"

namespace {

// Smallest relative variance floor and EM threshold, 2^-16.
const double kSmallestRelative = 1.0 / 65536.0;

void DeclareOptions() {
  optAdd('i', "input");
  optAddValueString(nullptr);
  optUsage("Input data file name. One vector per row.");
  optUsage("'%' or '#' starts a comment line. Whole line is comment.");
  optCompulsory();

  optAdd('s', "solution");
  optAddValueString(nullptr);
  optUsage("Optional initial solution.");

  optAdd('o', "output");
  optAddValueString(nullptr);
  optCompulsory();
  optUsage("Output file name.");

  optAdd('c', "count");
  optAddValueInteger(1, 1, 1000000);
  optUsage("Number of multivariate normal distributions.");

  optAdd('v', "variance");
  optAddValueDouble(kSmallestRelative, kSmallestRelative, 1.0);
  optUsage("Minimum allowed variance relative to the variance of data.");
  optUsage("Default value is 1/65536.");

  optAddFlag('f', "full", 0);
  optUsage("Toggle the use of full covariance matrices, default is diagonal.");

  optAdd('r', "random");
  optAddValueInteger(1, 1, 1000000);
  optUsage("Number of random solutions used if no initial solution given.");
  optAddValueInteger(10, 0, 100);
  optUsage("Number of k-means iterations before EM for each random solution.");
  optAddValueBool(1);
  optUsage("Update covariance matrices at the last k-means iteration.");

  optAdd('I', "iterations");
  optAddValueInteger(1, 0, 1000);
  optUsage("Number of iterations per solution.");

  optAdd('t', "threshold");
  optAddValueDouble(kSmallestRelative, kSmallestRelative, 1.0);
  optUsage("Ending threshold for relative improvement, default is 2^-16.");

  optAddFlag(0, "verbose", 0);
  optUsage("Increases the level of output, can be given several times.");
  optUsage("Giving this twice prints out variances, variance limits and");
  optUsage("the log likelihoods from the EM-algorithm in each iteration.");

  optAddFlag(0, "help", 0);
  optUsage("Print this help to stderr and exit.");
}

// True for combinations of options that contradict each other.
bool OptionsConflict() {
  if ((optGiven('f', 0) || optGiven('r', 0) || optGiven('c', 0)) && optGiven('s', 0)) return true;
  return optGiven('I', 0) && optGiven('t', 0);
}

// Prints the banner, the usage text and the notes to stderr; returns the
// exit status of a usage exit.
int UsageExit() {
  std::fprintf(stderr, "\nEM-algorithm, version 1.0.1 (compiled %s, %s)\n", __DATE__, __TIME__);
  optPrintUsage(stderr, "mixfit");
  std::fputs("You can't use --solution with --full, --random or --count.\n", stderr);
  std::fputs("You can't use --iterations and --threshold together.\n\n", stderr);
  std::fputs("If --solution is given and --iterations is 0, log-likelihood\n", stderr);
  std::fputs("is computed, no model is saved, but --output must be given.\n\n", stderr);
  std::fputs("Warning about numerical problems means that the\n", stderr);
  std::fputs("log likelihood is not monotonic or not a number.\n\n", stderr);
  return 1;
}

}  // namespace

int main(int argc, char* argv[]) {
  DeclareOptions();
  // --help wins over anything else on the command line, faulty or not.
  if (optGivenOption(0, "help", argc, argv)) return UsageExit();
  if (optParseCommandLine(argc, argv, stderr) != 0) return UsageExit();
  if (OptionsConflict()) return UsageExit();
  return 0;
}
