// End-to-end tests of the command line: help, parser errors and refused
// combinations all end in the usage exit.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "cli/run_program.h"

namespace {

// The banner carries the build date and time, which are masked in the
// comparison; only their format is checked.
const std::regex kBanner(
    "\nEM-algorithm, version 1\\.0\\.1 \\(compiled "
    "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 123][0-9] [0-9]{4}, "
    "[0-2][0-9]:[0-5][0-9]:[0-6][0-9]\\)\n");

const char kUsage[] =
    "\n"
    "Usage: mixfit [options]\n"
    "\n"
    "Options:\n"
    "  -i/--input string1\n"
    "    string1  (must be given)\n"
    "\tInput data file name. One vector per row.\n"
    "\t'%' or '#' starts a comment line. Whole line is comment.\n"
    "  -s/--solution string1\n"
    "    string1\n"
    "\tOptional initial solution.\n"
    "  -o/--output string1\n"
    "    string1  (must be given)\n"
    "\tOutput file name.\n"
    "  -c/--count integer1\n"
    "    integer1 = 1, [1, 1000000]\n"
    "\tNumber of multivariate normal distributions.\n"
    "  -v/--variance double1\n"
    "    double1 = 1.52588e-05, [1.52588e-05, 1]\n"
    "\tMinimum allowed variance relative to the variance of data.\n"
    "\tDefault value is 1/65536.\n"
    "  -f/--full \n"
    "\tToggle the use of full covariance matrices, default is diagonal.\n"
    "  -r/--random integer1,integer2,bool3\n"
    "    integer1 = 1, [1, 1000000]\n"
    "\tNumber of random solutions used if no initial solution given.\n"
    "    integer2 = 10, [0, 100]\n"
    "\tNumber of k-means iterations before EM for each random solution.\n"
    "    bool3 = yes\n"
    "\tUpdate covariance matrices at the last k-means iteration.\n"
    "  -I/--iterations integer1\n"
    "    integer1 = 1, [0, 1000]\n"
    "\tNumber of iterations per solution.\n"
    "  -t/--threshold double1\n"
    "    double1 = 1.52588e-05, [1.52588e-05, 1]\n"
    "\tEnding threshold for relative improvement, default is 2^-16.\n"
    "  --verbose \n"
    "\tIncreases the level of output, can be given several times.\n"
    "\tGiving this twice prints out variances, variance limits and\n"
    "\tthe log likelihoods from the EM-algorithm in each iteration.\n"
    "  --help \n"
    "\tPrint this help to stderr and exit.\n"
    "\n"
    // The notes on refused combinations and warnings.
    "You can't use --solution with --full, --random or --count.\n"
    "You can't use --iterations and --threshold together.\n"
    "\n"
    "If --solution is given and --iterations is 0, log-likelihood\n"
    "is computed, no model is saved, but --output must be given.\n"
    "\n"
    "Warning about numerical problems means that the\n"
    "log likelihood is not monotonic or not a number.\n"
    "\n";

// Checks a usage exit: status 1, nothing on stdout, and on stderr the
// parser's message (if any), the banner, the usage text and the notes.
void ExpectUsageExit(const std::vector<std::string>& arguments, const std::string& message = "") {
  SCOPED_TRACE(::testing::PrintToString(arguments));
  ProgramResult result = RunMixfit(arguments);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  ASSERT_EQ(result.err.compare(0, message.size(), message), 0) << result.err;
  std::string rest = result.err.substr(message.size());
  std::smatch banner;
  ASSERT_TRUE(std::regex_search(rest, banner, kBanner, std::regex_constants::match_continuous)) << rest;
  EXPECT_EQ(rest.substr(banner.length()), kUsage);
}

// An accepted command line goes on to read its input file; none of these
// exist, so the run ends there with status 2 instead of the usage exit.
void ExpectAccepted(const std::vector<std::string>& arguments) {
  SCOPED_TRACE(::testing::PrintToString(arguments));
  ProgramResult result = RunMixfit(arguments);
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err.rfind("\nError reading input data file: ", 0), 0u) << result.err;
}

TEST(UsageExitTest, HelpSkipsParsingOfEverythingElse) {
  ExpectUsageExit({"--help"});
  ExpectUsageExit({"-x", "--count", "0", "--help", "stray"});
}

TEST(UsageExitTest, ParserMessagesPrecedeTheUsage) {
  struct Case { std::vector<std::string> arguments; const char* message; } cases[] = {
      {{}, "Error: you must give the compulsory options.\n"},
      {{"-h"}, "Error: unknown option: -h\n"},  // help has no short letter
      {{"-i", "data", "-o"}, "Error: missing compulsory option(s).\n"},
      {{"-i", "data", "-o", "model", "-c"}, "Error: missing value for option that is not a flag.\n"},
      {{"-i", "data", "-o", "model", "data2"}, "Error: option must start with - (short) or -- (long).\n"},
      // The floor and the threshold are at least 2^-16.
      {{"-i", "data", "-o", "model", "-t", "0.000015"}, "Error: too small double value (1.5e-05 < 1.52588e-05)\n"},
      {{"-i", "data", "-o", "model", "-v", "1.5"}, "Error: too large double value (1.5 > 1)\n"},
      {{"-i", "data", "-o", "model", "-c", "0"}, "Error: too small integer value (0 < 1)\n"},
      {{"-i", "data", "-o", "model", "-r", "5,101"}, "Error: too large integer value (101 > 100)\n"},
      {{"-i", "data", "-o", "model", "-I", "1001"}, "Error: too large integer value (1001 > 1000)\n"},
      // The parser lets a NaN through its bounds; the program does not.
      {{"-i", "data", "-o", "model", "-v", "nan"}, "Error: bad double value: nan\n"},
      {{"-i", "data", "-o", "model", "-t", "--", "-NAN"}, "Error: bad double value: -nan\n"},
  };
  for (const Case& c : cases) ExpectUsageExit(c.arguments, c.message);
}

TEST(UsageExitTest, ContradictoryOptionsAreRefused) {
  ExpectUsageExit({"-i", "data", "-o", "model", "-s", "start", "-c", "1"});
  ExpectUsageExit({"-i", "data", "-o", "model", "-s", "start", "-r", "2"});
  // Given twice the flag is off again, but it was still given.
  ExpectUsageExit({"-i", "data", "-o", "model", "--full", "--full", "-s", "start"});
  ExpectUsageExit({"-i", "data", "-o", "model", "-I", "0", "-t", "0.5"});
}

TEST(UsageExitTest, ConsistentCommandLinesAndBoundsThemselvesAreAccepted) {
  ExpectAccepted({"-i", "data", "-o", "model", "-v", "0.0000152587890625", "-c", "1000000", "-I", "0"});
  ExpectAccepted({"-i", "data", "-o", "model", "-t", "1", "-r", "1000000,0,no"});
  ExpectAccepted({"-I", "1000", "-i", "data", "-o", "model", "-r", "1,100"});  // i and I differ
  ExpectAccepted({"-i", "data", "-o", "model", "-s", "start", "-I", "0", "--verbose", "--verbose"});
  ExpectAccepted({"--input", "data", "--output", "model", "-f", "-c", "3", "-r", "2 5 false", "-t", "0.5"});
}

}  // namespace
