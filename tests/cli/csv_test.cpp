// Comma-separated data files, as numpy's savetxt and pandas' to_csv write
// them, fitted end to end: the same model as the numbers separated by blanks.
#include <fstream>
#include <sstream>

#include "cli/run_program.h"
#include "support/files.h"

namespace {

using CsvTest = ScratchDirectory;

// numpy.savetxt(name, X, delimiter=',') writes every number as "%.18e",
// which reads back to the same double; pandas writes the shortest text and,
// with index=False, a header line of the column names. Such a header is an
// error that is reported and skipped, or a comment behind '#'.
TEST_F(CsvTest, CommaSeparatedFilesGiveTheModelOfBlankSeparatedOnes) {
  std::string const blank = std::string(MIXFIT_SOURCE_DIR) + "/tests/cli/wine.txt";
  std::ifstream wine(blank);
  std::string numpy, pandas, names;
  for (int j = 0; j < 13; ++j) names += (j ? ",c" : "c") + std::to_string(j);
  for (std::string line; std::getline(wine, line);) {
    if (line.empty() || line[0] == '%') continue;
    std::istringstream numbers(line);
    std::string separator;
    for (std::string number; numbers >> number; separator = ",") {
      char exponent[32];
      snprintf(exponent, sizeof exponent, "%.18e", strtod(number.c_str(), nullptr));
      numpy += separator + exponent;
      pandas += separator + number;
    }
    numpy += "\n", pandas += "\n";
  }
  // The text and the messages.
  std::pair<std::string, std::string> const cases[] = {
      {numpy, ""},
      {names + "\n" + pandas, "Error in line 1.\n"},
      {"# " + names + "\n" + pandas, ""}};
  std::vector<std::string> arguments = {"-i", blank, "-o", Path("blank-model.txt"),
                                        "-c", "3",   "-f"};
  ProgramResult const expected = RunMixfit(arguments, {{"MIXFIT_SEED=1"}});
  ASSERT_EQ(expected.status, 0) << expected.err;
  for (auto const& [text, messages] : cases) {
    arguments[1] = WriteFile("data.csv", text);
    arguments[3] = Path("model.txt");
    ProgramResult const run = RunMixfit(arguments, {{"MIXFIT_SEED=1"}});
    EXPECT_TRUE(run.status == 0 && run.out == expected.out) << run.out << run.err;
    EXPECT_EQ(run.err, messages) << text.substr(0, 80);
    EXPECT_EQ(ReadFile(Path("model.txt")), ReadFile(Path("blank-model.txt")));
  }
}

}  // namespace
