// End-to-end tests of tools/select-k.

#include <map>
#include <sstream>

#include "cli/run_program.h"
#include "support/files.h"

namespace {

const std::string kSource = MIXFIT_SOURCE_DIR;
const std::string kFaithful = kSource + "/examples/faithful.txt";

using ToolsTest = ScratchDirectory;

// The rows of numbers of a command's output (a word that is no number reads as 0).
std::vector<std::vector<double>> Table(const std::string& text) {
  std::vector<std::vector<double>> rows;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    rows.emplace_back();
    for (std::string word; words >> word;)
      rows.back().push_back(std::strtod(word.c_str(), nullptr));
  }
  return rows;
}

// The "key value" lines of mixfit-model info.
std::map<std::string, double> Info(const std::vector<std::string>& arguments) {
  ProgramResult run = RunMixfitModel(arguments);
  EXPECT_EQ(run.status, 0) << run.err;
  std::map<std::string, double> values;
  std::istringstream lines(run.out);
  for (std::string key, value; lines >> key >> value;)
    values[key] = std::strtod(value.c_str(), nullptr);
  return values;
}

TEST_F(ToolsTest, SelectKNamesTheLowestBicAndKeepsItsModel) {
  if (!Exists("/usr/bin/python3")) GTEST_SKIP() << "tools/select-k needs /usr/bin/python3";
  std::string const kept = Path("kept.txt");
  ProgramResult run = RunProgram((kSource + "/tools/select-k").c_str(),
                                 {kFaithful, "4", "-f", "-r", "2", "--model", kept},
                                 {{"MIXFIT_SEED=1", std::string("MIXFIT=") + MIXFIT_BINARY,
                                   std::string("MIXFIT_MODEL=") + MIXFIT_MODEL_BINARY}});
  ASSERT_EQ(run.status, 0) << run.err;
  // A heading, then K, average, p, BIC and AIC for K = 1 ... 4, the choice.
  std::vector<std::vector<double>> table = Table(run.out);
  ASSERT_EQ(table.size(), 6u) << run.out;
  int best = 1;
  for (int k = 2; k <= 4; ++k)
    if (table[k].at(3) < table[best].at(3)) best = k;
  EXPECT_NE(run.out.find("Lowest BIC: K = " + std::to_string(best) + "; its model is in " + kept),
            std::string::npos);
  EXPECT_EQ(Info({"info", "-m", kept})["components"], best);
}

}  // namespace
