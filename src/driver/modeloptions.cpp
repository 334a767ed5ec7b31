#include "driver/modeloptions.h"

#include <cstring>
#include <string>

#include "driver/commandline.h"
#include "options/options.h"

namespace {

// Text in arrays rather than pointers, so that the table needs no
// relocation and stays read-only data.
struct CommandEntry {
  char word[12];
  ModelCommand command;
  char summary[64];  // its line in the list of commands
  char notes[640];   // after its usage text
};

const CommandEntry kCommands[] = {
    {"score", ModelCommand::kScore, "the log density of each data vector, or their mean",
     "Prints the natural log of the model's density at each data vector, one per\n"
     "line; a density below the smallest normal double counts as that double.\n"
     "With --average prints only their mean, with 6 significant digits (%g),\n"
     "exactly as mixfit -s MODEL -I 0 prints it.\n"},
    {"classify", ModelCommand::kClassify, "the most responsible component of each data vector",
     "Prints for each data vector the number of the component with the largest\n"
     "responsibility for it (from 1; the lower number on ties) and that\n"
     "responsibility.\n"},
    {"posteriors", ModelCommand::kPosteriors,
     "the responsibilities of the components for each data vector",
     "Prints for each data vector the responsibilities of the components for it,\n"
     "the posterior probabilities that EM computes, in component order.\n"},
    {"info", ModelCommand::kInfo, "the model's size; with data its log likelihood, BIC and AIC",
     "Prints lines 'key value': components, dimension, covariance (diagonal,\n"
     "full or mixed) and parameters, the number of free parameters p; with data\n"
     "also vectors N, average_log_likelihood, log_likelihood ln L (their sum),\n"
     "bic = -2 ln L + p ln N and aic = -2 ln L + 2 p.\n"},
    {"sample", ModelCommand::kSample, "vectors drawn from the model",
     "Prints COUNT vectors drawn from the model, one per line; with --labels\n"
     "each line starts with the number of the component drawn (from 1).\n"
     "MIXFIT_SEED seeds the draws, as it seeds the random starts of mixfit.\n"},
    {"distances", ModelCommand::kDistances, "the Bhattacharyya distances between the components",
     "Prints the K x K matrix of the Bhattacharyya distances between the\n"
     "components, without their weights, and zeros on its diagonal. All\n"
     "components must be of one type.\n"},
    {"fit", ModelCommand::kFit, "a model fitted to the data by regularised EM",
     "Fits K components by EM in the log domain and writes the model, in the\n"
     "format mixfit writes, to the output; prints the final model's average\n"
     "log likelihood on the data. The defaults are scikit-learn's: covariance\n"
     "full, init kmeans, n-init 1, max-iter 100, tol 0.001, reg-covar 1e-06.\n"
     "Spherical components are written as diagonal ones with equal variances,\n"
     "tied ones as full ones with the same covariance. A start ends when the\n"
     "average log likelihood changes by less than tol; a warning says when the\n"
     "kept start did not. --seed, else MIXFIT_SEED, seeds the starts.\n"},
};

CommandEntry const* EntryOf(ModelCommand command) {
  for (CommandEntry const& entry : kCommands)
    if (entry.command == command) return &entry;
  return nullptr;
}

}  // namespace

ModelCommand CommandNamed(const char* word) {
  if (word == nullptr) return ModelCommand::kUnknown;
  for (CommandEntry const& entry : kCommands)
    if (std::strcmp(entry.word, word) == 0) return entry.command;
  return ModelCommand::kUnknown;
}

void PrintCommands(FILE* stream) {
  fputs("\nUsage: mixfit-model COMMAND [options]\n\nCommands:\n", stream);
  for (CommandEntry const& entry : kCommands)
    fprintf(stream, "  %-11s %s\n", entry.word, entry.summary);
  fputs("\n'mixfit-model COMMAND --help' describes the options of a command.\n\n", stream);
}

bool ReadsData(ModelCommand command) {
  return command == ModelCommand::kScore || command == ModelCommand::kClassify ||
         command == ModelCommand::kPosteriors || command == ModelCommand::kInfo ||
         command == ModelCommand::kFit;
}

bool WritesRowPerVector(ModelCommand command) {
  return command == ModelCommand::kScore || command == ModelCommand::kClassify ||
         command == ModelCommand::kPosteriors;
}

// The options of fit, after -i.
void DeclareFitOptions() {
  optAdd('k', "components");
  optAddValueInteger(1, 1, 1000000);
  optCompulsory();
  optUsage("Number of components K.");
  const char* const covariances[] = {kCovarianceKindWords[0], kCovarianceKindWords[1],
                                     kCovarianceKindWords[2], kCovarianceKindWords[3]};
  const char* const inits[] = {kStartKindWords[0], kStartKindWords[1], kStartKindWords[2],
                               kStartKindWords[3]};
  optAdd(0, "covariance");
  optAddValueEnum(0, 4, covariances);
  optUsage("Covariance: full, diag, spherical or tied. Default full.");
  optAdd(0, "init");
  optAddValueEnum(0, 4, inits);
  optUsage("Starts: kmeans, k-means++, random or random_from_data. Default kmeans.");
  optAdd(0, "init-model");
  optAddValueString(nullptr);
  optUsage("Start once from this model file instead.");
  optAdd(0, "n-init");
  optAddValueInteger(1, 1, 1000000);
  optUsage("Number of starts; the best is kept. Default 1.");
  optAdd(0, "max-iter");
  optAddValueInteger(100, 1, 1000000000);
  optUsage("Most EM iterations of a start. Default 100.");
  optAdd(0, "tol");
  optAddValueDouble(1e-3, 0.0, 1e300);
  optUsage("Tolerance on the change of the average log likelihood. Default 0.001.");
  optAdd(0, "reg-covar");
  optAddValueDouble(1e-6, 0.0, 1e300);
  optUsage("Added to every variance in each M step. Default 1e-06.");
  optAdd(0, "seed");
  optAddValueString(nullptr);
  optUsage("Seed of the starts, 0 to 4294967295; overrides MIXFIT_SEED.");
}

void DeclareCommandOptions(ModelCommand command) {
  if (command != ModelCommand::kFit) {
    optAdd('m', "model");
    optAddValueString(nullptr);
    optCompulsory();
    optUsage("Model file, as mixfit writes it.");
  }

  if (ReadsData(command)) {
    optAdd('i', "input");
    optAddValueString(nullptr);
    if (command != ModelCommand::kInfo) optCompulsory();
    optUsage("Data file name. One vector per row.");
    optUsage("'%' or '#' starts a comment line. Whole line is comment.");

    if (command == ModelCommand::kFit) {
      DeclareFitOptions();
    } else {
      optAdd('v', "variance");
      optAddValueDouble(kSmallestRelative, 0.0, 1.0);
      optUsage("Minimum allowed variance relative to the variance of data.");
      optUsage("Default value is 1/65536; 0 sets no floor.");
    }
  }

  if (command == ModelCommand::kSample) {
    optAdd('n', "count");
    optAddValueInteger(1, 1, kMaxDraws);
    optCompulsory();
    optUsage("Number of vectors to draw.");
  }

  optAdd('o', "output");
  optAddValueString(nullptr);
  if (command == ModelCommand::kFit) {
    optCompulsory();
    optUsage("Model file to write.");
  } else {
    optUsage("Output file name; the standard output when not given.");
  }

  if (WritesRowPerVector(command)) {
    optAddFlag(0, "line-numbers", 0);
    optUsage("Start each row with the line of its vector in the data file.");
  }

  if (command == ModelCommand::kScore) {
    optAddFlag(0, "average", 0);
    optUsage("Print only the average log density, the log likelihood of mixfit.");
  }
  if (command == ModelCommand::kSample) {
    optAddFlag(0, "labels", 0);
    optUsage("Start each line with the number of the component drawn.");
  }

  optAddFlag(0, "help", 0);
  optUsage("Print this help to stderr and exit.");
}

void PrintCommandUsage(FILE* stream, ModelCommand command) {
  CommandEntry const* entry = EntryOf(command);
  if (entry == nullptr) return;
  fprintf(stream, "\nmixfit-model %s: %s.\n", entry->word, entry->summary);
  std::string program = std::string("mixfit-model ") + entry->word;
  optPrintUsage(stream, program.c_str());
  fputs(entry->notes, stream);
  if (WritesRowPerVector(command))
    fputs(
        "With --line-numbers each row starts with the line of its vector in the\n"
        "data file (from 1, every line counted). When faulty lines were\n"
        "skipped, a note on the standard error says so.\n",
        stream);
  fputs("Real numbers are printed with 17 significant digits (%.17g).\n\n", stream);
}

ModelOptions ReadModelOptions(ModelCommand command) {
  ModelOptions options = {};
  options.command = command;
  options.model = command == ModelCommand::kFit ? nullptr : optString('m', 1);
  options.output = optGiven('o', 0) > 0 ? optString('o', 1) : nullptr;
  if (ReadsData(command)) options.input = optGiven('i', 0) > 0 ? optString('i', 1) : nullptr;
  if (ReadsData(command) && command != ModelCommand::kFit)
    options.relative_floor = optDouble('v', 1);
  if (command == ModelCommand::kFit) {
    MixtureFitOptions& fit = options.fit;
    fit.components = optInt('k', 1);
    // The parser accepts only the declared words.
    CovarianceKindNamed(optEnumStr("covariance", 1), &fit.covariance);
    StartKindNamed(optEnumStr("init", 1), &fit.start);
    fit.starts = optIntStr("n-init", 1);
    fit.maxIterations = optIntStr("max-iter", 1);
    fit.tolerance = optDoubleStr("tol", 1);
    fit.regularisation = optDoubleStr("reg-covar", 1);
    options.init_model = optGivenStr("init-model", 0) > 0 ? optStringStr("init-model", 1) : nullptr;
    options.seed_option = optGivenStr("seed", 0) > 0 ? optStringStr("seed", 1) : nullptr;
  }
  if (command == ModelCommand::kScore) options.average = optGivenStr("average", 0) > 0;
  // The average is no row of a vector.
  if (WritesRowPerVector(command))
    options.line_numbers = optGivenStr("line-numbers", 0) > 0 && !options.average;
  if (command == ModelCommand::kSample) {
    options.count = optInt('n', 1);
    options.labels = optGivenStr("labels", 0) > 0;
  }
  return options;
}
