#include "driver/preparation.h"

#include <sys/stat.h>

#include "driver/files.h"
#include "support/files.h"

using PartialOutputTest = ScratchDirectory;

// The warning for n vectors of dimension d and the given component count.
static std::string Warning(int n, int d, int components) {
  DataSet set(d, std::vector<double>(n * d, 1.0));
  TextStream report;
  CheckAndWarn(set.data, components, report.file);
  return report.Text();
}

// Vectors per component at most the dimension: probably too few; below 1.5
// times: maybe. The ratio is a float division: 100 / 3 prints as its float.
// (The whole text of the warning: FitTest's run on a file of comments.)
TEST(PreparationTest, CheckAndWarnComparesVectorsPerComponentWithTheDimension) {
  EXPECT_EQ(Warning(100, 10, 10).find("\nWarning: probably too few data vectors (100)"), 0u);
  EXPECT_EQ(Warning(30, 10, 2), "");  // exactly 1.5 times
  EXPECT_EQ(Warning(29, 10, 2).find("\nWarning: maybe too few"), 0u);
  EXPECT_NE(Warning(100, 40, 3).find("ratio is 33.333332.\n\n"), std::string::npos);
}

// Weights that normalise to a mixture are finite and not negative; NaN
// would give equal weights unnoticed. (A solution of another dimension:
// FitTest's failures.)
TEST(PreparationTest, UsableSolutionRefusesWeightsThatGiveNoMixture) {
  for (double weight : {0.5, 0.0, 1e308, -1.0, kInf, kNaN}) {
    MixtureModel model;
    AddComponent(model, D, 1, {0, 0}, {1, 1});
    AddComponent(model, F, weight, {0, 0}, {1, 0, 0, 1});
    EXPECT_EQ(UsableSolution(model, 2), weight >= 0 && weight < kInf) << weight;
  }
}

// What a failed write leaves is removed if it is a regular file; a
// directory or a device of that name is not touched.
TEST_F(PartialOutputTest, OnlyRegularFilesAreRemoved) {
  std::string const file = WriteFile("model.txt", "partial\n"), folder = Path("folder");
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  for (std::string const& name : {file, folder, std::string("/dev/null")})
    RemovePartialOutput(name.c_str());
  EXPECT_TRUE(!Exists(file) && Exists(folder) && Exists("/dev/null"));
}
