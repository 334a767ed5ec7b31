// End-to-end tests of fitting: data preparation, both run modes, the report,
// the model output and the exit statuses of the failures.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "cli/run_program.h"
#include "cli/scratch_directory.h"
#include "mixture/mixmodel.h"

namespace {

const char kNumericalProblems[] = "\nWarning: numerical problems.\n\n";
const std::string kFaithful = std::string(MIXFIT_SOURCE_DIR) + "/examples/faithful.txt";

class FitTest : public ScratchDirectory {
 protected:
  // n distinct vectors of dimension d, spread regularly.
  std::string Distinct(const std::string& name, int n, int d) const {
    std::string text;
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < d; ++j) text += std::to_string((i * (j + 3) + j * j) % 97 + 0.5 * i) + " ";
      text += "\n";
    }
    return WriteFile(name, text);
  }
};

// Some random starts collapse a component onto the variance floor, which EM
// reports as numerical problems; the run still succeeds.
std::string WithoutNumericalWarnings(std::string err) {
  for (size_t at; (at = err.find(kNumericalProblems)) != std::string::npos;)
    err.erase(at, strlen(kNumericalProblems));
  return err;
}

// stdout at verbose level 0 is exactly one "%g" line.
void ExpectOneLikelihoodLine(const std::string& out) {
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out.find('\n'), out.size() - 1) << out;
  char* end = nullptr;
  double value = strtod(out.c_str(), &end);
  EXPECT_TRUE(std::isfinite(value));
  EXPECT_EQ(std::string(end), "\n");
}

TEST_F(FitTest, FaithfulTwoFullComponentsFindTheTwoEruptionKinds) {
  std::string model = Path("model.txt");
  ProgramResult run = RunMixfit({"-i", kFaithful, "-o", model, "-c", "2", "-f", "-r", "20"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(WithoutNumericalWarnings(run.err), "");
  ExpectOneLikelihoodLine(run.out);
  EXPECT_NEAR(strtod(run.out.c_str(), nullptr), -4.155, 0.01);

  MixtureModel fitted;
  MixtureModelFileFormat format;
  ASSERT_EQ(fitted.Read(model.c_str(), format), 0);
  ASSERT_EQ(fitted.count, 2);
  // Short eruptions after short waits, long ones after long waits.
  int shorter = fitted.components[0]->mean(0, 0) < fitted.components[1]->mean(0, 0) ? 0 : 1;
  MixtureComponent const& brief = *fitted.components[shorter];
  MixtureComponent const& lengthy = *fitted.components[1 - shorter];
  EXPECT_NEAR(brief.mean(0, 0), 2.04, 0.05);
  EXPECT_NEAR(brief.mean(0, 1), 54.5, 1.0);
  EXPECT_NEAR(lengthy.mean(0, 0), 4.29, 0.05);
  EXPECT_NEAR(lengthy.mean(0, 1), 80.0, 1.0);
  EXPECT_NEAR(brief.weight, 0.356, 0.01);
  EXPECT_EQ(lengthy.type, MM_COV_FULL);
}

TEST_F(FitTest, ModelOfOneRunRefinesInTheNext) {
  std::string first = Path("first.txt"), second = Path("second.txt");
  ASSERT_EQ(RunMixfit({"-i", kFaithful, "-o", first, "-c", "2", "-I", "3"}).status, 0);
  ProgramResult refine = RunMixfit({"-i", kFaithful, "-s", first, "-o", second, "-I", "50"});
  ASSERT_EQ(refine.status, 0) << refine.err;
  ExpectOneLikelihoodLine(refine.out);
  EXPECT_TRUE(Exists(second));

  // Evaluation alone prints the same value and writes nothing.
  ProgramResult evaluate =
      RunMixfit({"-i", kFaithful, "-s", second, "-o", Path("unused.txt"), "-I", "0"});
  ASSERT_EQ(evaluate.status, 0) << evaluate.err;
  EXPECT_FALSE(Exists(Path("unused.txt")));
  EXPECT_NEAR(strtod(evaluate.out.c_str(), nullptr), strtod(refine.out.c_str(), nullptr), 1e-4);
}

TEST_F(FitTest, ThresholdAndIterationModesAndKMeansOnly) {
  for (std::vector<std::string> mode : {std::vector<std::string>{"-t", "0.001"},
                                        {"-I", "0"},
                                        {"-I", "0", "-f"},
                                        {"-r", "2,0,no"},
                                        {"-I", "5", "-f", "-r", "3,2,yes"}}) {
    std::vector<std::string> arguments = {"-i", kFaithful, "-o", Path("m.txt"), "-c", "3"};
    arguments.insert(arguments.end(), mode.begin(), mode.end());
    ProgramResult run = RunMixfit(arguments);
    EXPECT_EQ(run.status, 0) << mode[0] << mode[1] << run.err;
    ExpectOneLikelihoodLine(run.out);
    EXPECT_EQ(WithoutNumericalWarnings(run.err), "");
    MixtureModel fitted;
    MixtureModelFileFormat format;
    EXPECT_EQ(fitted.Read(Path("m.txt").c_str(), format), 0);
    EXPECT_EQ(fitted.count, 3);
  }
}

TEST_F(FitTest, NumericalProblemsAreWarnedOnStderrOnly) {
  // With the floor at the data variance itself, flooring after each step
  // lowers the log likelihood: EM stops and warns, the run succeeds.
  ProgramResult run = RunMixfit({"-i", kFaithful, "-o", Path("m.txt"), "-c", "2", "-r", "2",
                                 "-I", "100", "-v", "1"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "\nWarning: numerical problems.\n\n\nWarning: numerical problems.\n\n");
  ExpectOneLikelihoodLine(run.out);
  EXPECT_TRUE(Exists(Path("m.txt")));
}

TEST_F(FitTest, VerboseLevels) {
  std::string data = WriteFile("two.txt", "1 2\n3 6\n");
  ProgramResult level2 =
      RunMixfit({"-i", data, "-o", Path("m.txt"), "-v", "1", "-I", "0", "--verbose", "--verbose"});
  ASSERT_EQ(level2.status, 0) << level2.err;
  EXPECT_EQ(level2.out.rfind("Data mean:\n2 4 \nData variances:\n1 4 \nMinimum variances:\n1 4 \n"
                             "Log likelihood: ",
                             0),
            0u)
      << level2.out;

  ProgramResult level1 = RunMixfit({"-i", kFaithful, "-o", Path("m.txt"), "-c", "2", "-r", "3",
                                    "--verbose"});
  ASSERT_EQ(level1.status, 0) << level1.err;
  std::istringstream lines(level1.out);
  std::string line;
  for (int s = 0; s < 3; ++s) {
    std::getline(lines, line);
    EXPECT_EQ(line.rfind("Log likelihood: ", 0), 0u) << line;
  }
  std::getline(lines, line);
  EXPECT_EQ(line.rfind("CPU time: ", 0), 0u) << line;
  std::getline(lines, line);
  EXPECT_EQ(line.rfind("Final result log likelihood: -", 0), 0u) << line;
  EXPECT_FALSE(std::getline(lines, line));
}

TEST_F(FitTest, DataWarningsByVectorsPerComponent) {
  const char* strong =
      "\nWarning: probably too few data vectors (100) or too many components (10)\n"
      "  for data of dimensionality 10.\n  Data / components ratio is 10.000000.\n\n";
  const char* mild =
      "\nWarning: maybe too few data vectors (100) or too many components (10)\n"
      "  for data of dimensionality 7.\n  Data / components ratio is 10.000000.\n\n";
  for (int d : {10, 7, 6}) {
    std::string data = Distinct("d" + std::to_string(d) + ".txt", 100, d);
    ProgramResult run = RunMixfit({"-i", data, "-o", Path("m.txt"), "-c", "10", "-I", "0"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, d == 10 ? strong : d == 7 ? mild : "");
    ExpectOneLikelihoodLine(run.out);
  }
  // Exactly 1.5 times the dimension is enough.
  ProgramResult enough =
      RunMixfit({"-i", Distinct("d.txt", 30, 10), "-o", Path("m.txt"), "-c", "2", "-I", "0"});
  EXPECT_EQ(enough.err, "");
}

TEST_F(FitTest, CommentOnlyFileWarnsAndHasNoPointsToChoose) {
  std::string data = WriteFile("comments.txt", "% nothing\n# here\n\n");
  ProgramResult run = RunMixfit({"-i", data, "-o", Path("m.txt")});
  EXPECT_EQ(run.status, 5);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err,
            "\nWarning: probably too few data vectors (0) or too many components (1)\n"
            "  for data of dimensionality 0.\n  Data / components ratio is 0.000000.\n\n"
            "\nError: more components than unique points (0).\n");
  EXPECT_FALSE(Exists(Path("m.txt")));
}

TEST_F(FitTest, MoreComponentsThanDistinctVectors) {
  std::string data = WriteFile("dup.txt", "1 1\n1 1\n2 2\n3 3\n2 2\n");
  ProgramResult run = RunMixfit({"-i", data, "-o", Path("m.txt"), "-c", "4"});
  EXPECT_EQ(run.status, 5);
  EXPECT_NE(run.err.find("\nError: more components than unique points (3).\n"), std::string::npos);
  EXPECT_EQ(run.out, "");
  EXPECT_FALSE(Exists(Path("m.txt")));

  // A million components fail at once, before any is made.
  ProgramResult huge = RunMixfit({"-i", data, "-o", Path("m.txt"), "-c", "1000000"});
  EXPECT_EQ(huge.status, 5);
  EXPECT_NE(huge.err.find("unique points (3)"), std::string::npos);
}

TEST_F(FitTest, ManyRandomSolutionsOnTinyData) {
  std::string data = WriteFile("tiny.txt", "1 1\n2 3\n4 1\n");
  ProgramResult run = RunMixfit({"-i", data, "-o", Path("m.txt"), "-c", "2", "-r", "20000"});
  EXPECT_EQ(run.status, 0) << run.err;
  ExpectOneLikelihoodLine(run.out);
}

TEST_F(FitTest, UnreadableInputData) {
  std::string missing = Path("missing.txt");
  ProgramResult run = RunMixfit({"-i", missing, "-o", Path("m.txt")});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "\nError reading input data file: " + missing + "\n\n");
  EXPECT_EQ(run.out, "");

  std::string faulty = WriteFile("faulty.txt", "1 2\n1;2\n1;2\n1;2\n1;2\n1;2\n3 4\n");
  ProgramResult stopped = RunMixfit({"-i", faulty, "-o", Path("m.txt")});
  EXPECT_EQ(stopped.status, 2);
  EXPECT_EQ(stopped.err.find("Error in line 2.\n"), 0u) << stopped.err;
  EXPECT_NE(stopped.err.find("Error in line 6.\n"), std::string::npos);
  const std::string tail = "\nError reading input data file: " + faulty + "\n\n";
  ASSERT_GE(stopped.err.size(), tail.size());
  EXPECT_EQ(stopped.err.substr(stopped.err.size() - tail.size()), tail);

  ProgramResult directory = RunMixfit({"-i", directory_, "-o", Path("m.txt")});
  EXPECT_EQ(directory.status, 2);
  EXPECT_FALSE(Exists(Path("m.txt")));
}

TEST_F(FitTest, UnusableInitialSolutions) {
  std::string data = WriteFile("data.txt", "1 2\n3 4\n5 7\n");
  std::string missing = Path("none.txt");
  ProgramResult unreadable = RunMixfit({"-i", data, "-s", missing, "-o", Path("m.txt")});
  EXPECT_EQ(unreadable.status, 3);
  EXPECT_EQ(unreadable.err, "\nError reading input solution: " + missing + "\n");

  std::string truncated = WriteFile("truncated.txt", "% Plain Matlab-readable\n1 0\n1 0\n");
  EXPECT_EQ(RunMixfit({"-i", data, "-s", truncated, "-o", Path("m.txt")}).status, 3);

  // A model of another dimension is refused before any warning.
  std::string other = WriteFile("three.txt", "1 0 0\n1 0 0\n0 0 0 \n1 0 0\n1 1 1 \n");
  ProgramResult mismatch = RunMixfit({"-i", data, "-s", other, "-o", Path("m.txt")});
  EXPECT_EQ(mismatch.status, 3);
  EXPECT_EQ(mismatch.err, "\nError reading input solution: " + other + "\n");
  EXPECT_FALSE(Exists(Path("m.txt")));

  // A model without components is accepted and written back as such.
  std::string empty = WriteFile("empty.txt", "% Plain Matlab-readable\n0\n");
  ProgramResult none = RunMixfit({"-i", data, "-s", empty, "-o", Path("m.txt"), "-I", "1"});
  EXPECT_EQ(none.status, 0) << none.err;
  EXPECT_EQ(ReadFile(Path("m.txt")), "% Plain Matlab-readable\n0\n");
}

TEST_F(FitTest, OutputThatCannotBeWritten) {
  std::string data = WriteFile("data.txt", "1 2\n3 4\n5 7\n");
  std::string nowhere = Path("no/such/dir/m.txt");
  ProgramResult missing = RunMixfit({"-i", data, "-o", nowhere});
  EXPECT_EQ(missing.status, 4);
  EXPECT_EQ(missing.err, "\nError writing output to: " + nowhere + "\n");
  ExpectOneLikelihoodLine(missing.out);

  ProgramResult full = RunMixfit({"-i", data, "-o", "/dev/full"});
  EXPECT_EQ(full.status, 4);
  EXPECT_EQ(full.err, "\nError writing output to: /dev/full\n");
  struct stat status;
  ASSERT_EQ(stat("/dev/full", &status), 0);
  EXPECT_TRUE(S_ISCHR(status.st_mode));

  EXPECT_EQ(RunMixfit({"-i", data, "-o", directory_}).status, 4);
}

}  // namespace
