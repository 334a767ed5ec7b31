// End-to-end tests of mixfit-model's command line and refusals: the list of
// commands, each command's usage text, and every input it refuses, with
// nothing written.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cli/run_program.h"
#include "support/files.h"

namespace {

const char kCommands[] =
    "\n"
    "Usage: mixfit-model COMMAND [options]\n"
    "\n"
    "Commands:\n"
    "  score       the log density of each data vector, or their mean\n"
    "  classify    the most responsible component of each data vector\n"
    "  posteriors  the responsibilities of the components for each data vector\n"
    "  info        the model's size; with data its log likelihood, BIC and AIC\n"
    "  sample      vectors drawn from the model\n"
    "  distances   the Bhattacharyya distances between the components\n"
    "\n"
    "'mixfit-model COMMAND --help' describes the options of a command.\n"
    "\n";

using ModelUsageTest = ScratchDirectory;

TEST_F(ModelUsageTest, WithoutACommandTheListOfCommands) {
  struct Case {
    std::vector<std::string> arguments;
    std::string message;
  } const cases[] = {
      {{}, ""},
      {{"--help"}, "Error: unknown command: --help\n"},
      {{"Score", "-m", "x"}, "Error: unknown command: Score\n"},
      {{"", "score"}, "Error: unknown command: \n"},
  };
  for (const Case& c : cases) {
    ProgramResult run = RunMixfitModel(c.arguments);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, c.message + kCommands) << ::testing::PrintToString(c.arguments);
    EXPECT_EQ(run.out, "");
  }
}

TEST_F(ModelUsageTest, EveryCommandHasItsOwnOptionsAndUsageText) {
  // The option lines of each usage text, and some that must be absent.
  std::string const compulsory = " string1\n    string1  (must be given)";
  struct Case {
    const char* command;
    std::vector<std::string> present, absent;
  } const cases[] = {
      {"score",
       {"-m/--model" + compulsory, "-i/--input" + compulsory, "-v/--variance", "--average"},
       {"-n/--count", "--labels"}},
      {"classify",
       {"-m/--model", "-i/--input" + compulsory, "-v/--variance", "-o/--output"},
       {"--average", "-n/--count"}},
      {"posteriors", {"-m/--model", "-i/--input" + compulsory, "-v/--variance"}, {"--average"}},
      {"info",
       {"-m/--model" + compulsory, "-i/--input string1\n    string1\n", "-v/--variance"},
       {"--average", "-n/--count"}},
      {"sample",
       {"-n/--count integer1\n    integer1 = 1, [1, 2147483647]  (must be given)", "--labels"},
       {"-i/--input", "-v/--variance", "--average"}},
      {"distances",
       {"-m/--model", "-o/--output", "--help"},
       {"-i/--input", "-v/--variance", "-n/--count", "--labels"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    ProgramResult run = RunMixfitModel({c.command, "-m", "model.txt", "--help"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    std::string const head = std::string("\nmixfit-model ") + c.command + ": ";
    EXPECT_EQ(run.err.rfind(head, 0), 0u) << run.err;
    EXPECT_NE(run.err.find(std::string("\nUsage: mixfit-model ") + c.command + " [options]\n"),
              std::string::npos);
    for (const std::string& text : c.present)
      EXPECT_NE(run.err.find(text), std::string::npos) << text;
    for (const std::string& text : c.absent)
      EXPECT_EQ(run.err.find(text), std::string::npos) << text;
  }
}

TEST_F(ModelUsageTest, FaultyCommandLinesEndInTheUsageText) {
  struct Case {
    std::vector<std::string> arguments;
    std::string message;
  } const cases[] = {
      {{"score", "-m", "m.txt"}, "Error: missing compulsory option(s).\n"},
      {{"score", "-m", "m.txt", "-i", "d.txt", "-n", "3"}, "Error: unknown option: -n\n"},
      {{"info", "-m", "m.txt", "-v", "nan"}, "Error: bad double value: nan\n"},
      {{"sample", "-m", "m.txt", "-n", "0"}, "Error: too small integer value (0 < 1)\n"},
      {{"distances", "-m", "m.txt", "extra"},
       "Error: option must start with - (short) or -- (long).\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.arguments));
    ProgramResult run = RunMixfitModel(c.arguments);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    std::string const head = c.message + "\nmixfit-model " + c.arguments[0] + ": ";
    EXPECT_EQ(run.err.rfind(head, 0), 0u) << run.err;
  }
}

TEST_F(ModelUsageTest, RefusalsWriteNothing) {
  std::string const model = WriteFile("model.txt", "1\n1\n0 0\n2 0\n1 0\n0 1\n");
  std::string const data = WriteFile("data.txt", "1 2\n3 4\n5 7\n");
  std::string const wide = WriteFile("wide.txt", "1 2 3\n3 4 5\n5 7 8\n");
  std::string const broken = WriteFile("broken.txt", "2\n1\n0 0\n");
  std::string const negative = WriteFile("negative.txt", "1\n-1\n0 0\n1 0\n1 1\n");
  std::string const empty = WriteFile("empty.txt", "0\n");
  std::string const indefinite =
      WriteFile("indefinite.txt", "2\n1\n0 0\n1 0\n1 1\n1\n0 0\n2 0\n1 2\n2 1\n");
  std::string const mixed = WriteFile("mixed.txt", "2\n1\n0 0\n1 0\n1 1\n1\n0 0\n2 0\n1 0\n0 1\n");
  std::string const missing = Path("missing.txt"), out = Path("out.txt");
  std::string const nowhere = Path("no/such/dir/out.txt");
  std::string const unreadable = "\nError reading input solution: ";
  struct Case {
    std::vector<std::string> arguments;
    int status;
    std::string err;
    std::vector<std::string> environment = {};
  } const cases[] = {
      {{"score", "-m", missing, "-i", data}, 3, unreadable + missing + "\n"},
      {{"info", "-m", broken}, 3, unreadable + broken + "\n"},
      {{"sample", "-m", negative, "-n", "2"}, 3, unreadable + negative + "\n"},
      {{"classify", "-m", model, "-i", missing},
       2,
       "\nError reading input data file: " + missing + "\n\n"},
      {{"posteriors", "-m", model, "-i", wide},
       3,
       "Error: the model has dimension 2, the data dimension 3.\n"},
      {{"info", "-m", model, "-i", wide},
       3,
       "Error: the model has dimension 2, the data dimension 3.\n"},
      {{"score", "-m", empty, "-i", data}, 3, "Error: the model has no components.\n"},
      {{"sample", "-m", indefinite, "-n", "2"},
       3,
       "Error: the covariance of component 2 is not positive definite.\n"},
      {{"distances", "-m", mixed},
       3,
       "Error: the model mixes diagonal and full components, between which no distance is "
       "defined.\n"},
      {{"score", "-m", model, "-i", data, "-o", data},
       4,
       "The output file is the input data file.\n\nError writing output to: " + data + "\n"},
      {{"info", "-m", model, "-o", model},
       4,
       "The output file is the model file.\n\nError writing output to: " + model + "\n"},
      {{"distances", "-m", model, "-o", nowhere},
       4,
       "\nError writing output to: " + nowhere + "\n"},
      {{"sample", "-m", model, "-n", "100000", "-o", "/dev/full"},
       4,
       "\nError writing output to: /dev/full\n"},
      {{"sample", "-m", model, "-n", "2"},
       1,
       "Error: bad value of MIXFIT_SEED: -1\n",
       {"MIXFIT_SEED=-1"}},
  };
  std::string const before = ReadFile(data) + ReadFile(model);
  for (const Case& c : cases) {
    // Into a file of its own unless the case names the output.
    std::vector<std::string> arguments = c.arguments;
    if (std::find(arguments.begin(), arguments.end(), "-o") == arguments.end())
      arguments.insert(arguments.end(), {"-o", out});
    SCOPED_TRACE(::testing::PrintToString(arguments));
    ProgramResult run = RunMixfitModel(arguments, {c.environment});
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(Exists(out));
  }
  EXPECT_EQ(ReadFile(data) + ReadFile(model), before);

  // Only info takes a model without components.
  ProgramResult info = RunMixfitModel({"info", "-m", empty});
  EXPECT_EQ(info.status, 0) << info.err;
  EXPECT_EQ(info.out, "components 0\ndimension 0\ncovariance none\nparameters 0\n");
}

}  // namespace
