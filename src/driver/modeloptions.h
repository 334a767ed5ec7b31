#ifndef MIXFIT_DRIVER_MODELOPTIONS_H
#define MIXFIT_DRIVER_MODELOPTIONS_H

#include <cstdint>
#include <cstdio>

#include "training/mixturefit.h"

// The command line of mixfit-model: a command word, then the command's own
// options, declared in the process-wide option table for that command alone.

enum class ModelCommand {
  kUnknown,
  kScore,       // the log density of each data vector, or their mean
  kClassify,    // the most responsible component of each data vector
  kPosteriors,  // the responsibilities of the components for each data vector
  kInfo,        // the model's size; with data its log likelihood, BIC and AIC
  kSample,      // vectors drawn from the model
  kDistances,   // the distances between the components
  kFit,         // a model fitted to the data by the modern EM
};

// The command that word names; kUnknown for a null word or any other.
ModelCommand CommandNamed(const char* word);

// Writes the program's usage line and the list of commands to stream.
void PrintCommands(FILE* stream);

// Declares the options of command, in the order its usage text lists them.
void DeclareCommandOptions(ModelCommand command);

// Writes what command does, its usage text from the option table and its
// notes to stream.
void PrintCommandUsage(FILE* stream, ModelCommand command);

// Whether command reads data, with -i and -v in its table.
bool ReadsData(ModelCommand command);

// Whether command writes a row for each data vector, with --line-numbers in
// its table.
bool WritesRowPerVector(ModelCommand command);

// The largest number of vectors that sample draws in one run.
const int kMaxDraws = 1000000000;

struct PendingOutput;  // driver/atomicoutput.h

// Everything a command takes from its command line and environment.
struct ModelOptions {
  ModelCommand command;
  const char* model;
  const char* input;      // the data file; null when not given
  const char* output;     // null: the standard output
  double relative_floor;  // of the variances, relative to the data variances
  bool average;           // score: only the mean of the log densities
  bool line_numbers;      // score, classify, posteriors: rows start with their vector's line
  int count;              // sample: the number of vectors
  bool labels;            // sample: each line starts with the component's number
  uint32_t seed;          // sample: the seed of the draws
  PendingOutput* pending = nullptr;  // the program's record of a temporary output, or null
  // fit: the settings of the modern EM, its start model (or null) and its
  // seed, which --seed (or null) overrides.
  MixtureFitOptions fit;
  const char* init_model;
  const char* seed_option;
};

// The settings of the parsed command line of command; the seed is left 0.
ModelOptions ReadModelOptions(ModelCommand command);

#endif
