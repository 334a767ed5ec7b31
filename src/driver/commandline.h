#ifndef MIXFIT_DRIVER_COMMANDLINE_H
#define MIXFIT_DRIVER_COMMANDLINE_H

#include <cstdio>

// The program's command line: its eleven options in the process-wide option
// table, the combinations of them that are refused, and the settings of a
// run read from them.

// Smallest relative variance floor and EM threshold, 2^-16.
const double kSmallestRelative = 1.0 / 65536.0;

// How each solution is refined and trained.
struct TrainingPlan {
  bool iterations_given;  // -I given: a fixed number of EM iterations
  int iterations;         // 0: no EM, only evaluate (Euclidean k-means before)
  double threshold;       // without -I: EM until the relative improvement falls to it
  int kmeans_iterations;
  bool update_covariances;  // in the last Mahalanobis k-means iteration
  bool trace;               // EM prints its log likelihood per iteration

  // -I 0: no EM, the model is only evaluated.
  bool EvaluateOnly() const { return iterations_given && iterations == 0; }
};

struct PendingOutput;  // driver/atomicoutput.h

// Everything a run takes from its command line, read once after parsing.
struct FitOptions {
  const char* input;
  const char* output;
  const char* solution;  // the initial solution, or null for random starts
  bool full;             // full covariances for random starts
  int count;             // components of random starts
  int solutions;         // random starts to try
  double relative_floor;
  int verbose;
  TrainingPlan plan;
  PendingOutput* pending = nullptr;  // the program's record of a temporary output, or null

  // Everything but evaluating a given solution trains, and writes a model.
  bool Trains() const { return solution == nullptr || !plan.EvaluateOnly(); }
};

// Declares the options, with their defaults, bounds and help lines, in the
// order the usage text lists them.
void DeclareOptions();

// True for combinations of options that contradict each other: -s with -f,
// -r or -c, and -I with -t. Reads the parsed table.
bool OptionsConflict();

// The parser's bounds tests let a NaN through, but a NaN variance floor would
// hold no variance up and a NaN threshold would stop EM at once. True, after
// the parser's message for a bad double value on errors, when -v or -t holds
// a NaN.
bool NotANumberGiven(FILE* errors);
// The same test for the double value of option -letter alone.
bool NotANumberGiven(char letter, FILE* errors);

// The settings of the parsed command line.
FitOptions ReadFitOptions();

#endif
