#include "driver/commandline.h"

#include <cmath>
#include <initializer_list>

#include "options/options.h"

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

bool OptionsConflict() {
  if ((optGiven('f', 0) || optGiven('r', 0) || optGiven('c', 0)) && optGiven('s', 0)) return true;
  return optGiven('I', 0) && optGiven('t', 0);
}

bool NotANumberGiven(FILE* errors) {
  for (char letter : {'v', 't'})
    if (NotANumberGiven(letter, errors)) return true;
  return false;
}

bool NotANumberGiven(char letter, FILE* errors) {
  double value = optDouble(letter, 1);
  if (!std::isnan(value)) return false;
  fprintf(errors, "Error: bad double value: %g\n", value);
  return true;
}

FitOptions ReadFitOptions() {
  FitOptions options;
  options.input = optString('i', 1);
  options.output = optString('o', 1);
  options.solution = optGiven('s', 0) > 0 ? optString('s', 1) : nullptr;
  options.full = optBool('f', 0) != 0;
  options.count = optInt('c', 1);
  options.solutions = optInt('r', 1);
  options.relative_floor = optDouble('v', 1);
  options.verbose = optGivenStr("verbose", 0);
  TrainingPlan& plan = options.plan;
  plan.iterations_given = optGiven('I', 0) > 0;
  plan.iterations = plan.iterations_given ? optInt('I', 1) : 0;
  plan.threshold = optDouble('t', 1);
  plan.kmeans_iterations = optInt('r', 2);
  plan.update_covariances = optBool('r', 3) != 0;
  plan.trace = options.verbose >= 2;
  return options;
}
