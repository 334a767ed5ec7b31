// End-to-end tests of tools/select-k and tools/plot-model: the table and the
// model kept, the files they refuse, what is left after a failure or a
// signal, and pictures replaced whole in the format their names ask for.

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

#include "cli/run_program.h"
#include "support/files.h"

namespace {

const std::string kSource = MIXFIT_SOURCE_DIR;
const std::string kFaithful = kSource + "/examples/faithful.txt";
// Two diagonal components of Old Faithful's eruptions and waiting times.
const char kFaithfulModel[] = "2 0\n0.35 0\n2 54\n1 0\n0.07 34\n0.65 0\n4.3 80\n1 0\n0.17 36\n";

// The non-blank lines of a text.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);)
    if (line.find_first_not_of(" \t") != std::string::npos) lines.push_back(line);
  return lines;
}

// The rows of numbers of a command's output (a word that is no number reads as 0).
std::vector<std::vector<double>> Table(const std::string& text) {
  std::vector<std::vector<double>> rows;
  for (const std::string& line : Lines(text)) {
    std::istringstream words(line);
    rows.emplace_back();
    for (std::string word; words >> word;)
      rows.back().push_back(std::strtod(word.c_str(), nullptr));
  }
  return rows;
}

// The K of the lowest BIC in select-k's table, the smallest on a tie.
int LowestBic(const std::vector<std::vector<double>>& table) {
  int best = 1;
  for (size_t k = 2; k + 1 < table.size(); ++k)
    if (table[k].at(3) < table[best].at(3)) best = static_cast<int>(k);
  return best;
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

mode_t Mode(const std::string& path) {
  struct stat status = {};
  EXPECT_EQ(stat(path.c_str(), &status), 0) << path;
  return status.st_mode & 07777;
}

bool IsLink(const std::string& path) {
  struct stat status = {};
  return lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

class ToolsTest : public ScratchDirectory {
 protected:
  void SetUp() override {
    ScratchDirectory::SetUp();
    if (!Exists("/usr/bin/python3")) GTEST_SKIP() << "the tools need /usr/bin/python3";
  }

  static bool HasMatplotlib() {
    return RunProgram("/usr/bin/python3", {"-c", "import matplotlib, numpy"}).status == 0;
  }

  // Runs a tool with the programs of this build, unless environment names others.
  static ProgramResult Tool(const char* name, const std::vector<std::string>& arguments,
                            std::vector<std::string> environment = {}) {
    for (std::string setting : {std::string("MIXFIT=") + MIXFIT_BINARY,
                                std::string("MIXFIT_MODEL=") + MIXFIT_MODEL_BINARY}) {
      std::string const name_part = setting.substr(0, setting.find('=') + 1);
      bool given = false;
      for (const std::string& own : environment) given |= own.rfind(name_part, 0) == 0;
      if (!given) environment.push_back(setting);
    }
    return RunProgram((kSource + "/tools/" + name).c_str(), arguments, {environment});
  }

  // The names in the scratch directory, or in one of its directories.
  std::set<std::string> Names(const std::string& under = "") const {
    std::set<std::string> names;
    for (auto const& entry : std::filesystem::directory_iterator(Path(under)))
      names.insert(entry.path().filename().string());
    return names;
  }
};

TEST_F(ToolsTest, SelectKNamesTheLowestBicAndKeepsItsModelThroughALink) {
  std::string const kept = WriteFile("kept.txt", "old\n"), link = Path("link.txt");
  ASSERT_EQ(chmod(kept.c_str(), 0640), 0);
  ASSERT_EQ(symlink(kept.c_str(), link.c_str()), 0);
  ASSERT_EQ(::link(kept.c_str(), Path("old.txt").c_str()), 0);  // to the old contents
  ProgramResult run =
      Tool("select-k", {kFaithful, "4", "-f", "-r", "2", "--model", link}, {"MIXFIT_SEED=1"});
  ASSERT_EQ(run.status, 0) << run.err;
  // A heading, then K, average, p, BIC and AIC for K = 1 ... 4, the choice.
  std::vector<std::vector<double>> table = Table(run.out);
  ASSERT_EQ(table.size(), 6u) << run.out;
  int const best = LowestBic(table);
  EXPECT_NE(run.out.find("Lowest BIC: K = " + std::to_string(best) + "; its model is in " + link),
            std::string::npos);
  EXPECT_EQ(Info({"info", "-m", kept})["components"], best);
  // The file behind the link is replaced, not rewritten, and keeps its permissions.
  EXPECT_TRUE(IsLink(link));
  EXPECT_EQ(ReadFile(Path("old.txt")), "old\n");
  EXPECT_EQ(Mode(kept), 0640u);
  EXPECT_EQ(Names(), (std::set<std::string>{"kept.txt", "link.txt", "old.txt"}));
}

TEST_F(ToolsTest, SelectKRefusesOutputsNamingTheDataOrEachOther) {
  std::string const data = WriteFile("data.txt", ReadFile(kFaithful));
  std::string const model = WriteFile("model.txt", "old\n"), fresh = Path("fresh.txt");
  std::string const data_link = Path("data-link.txt"), model_link = Path("model-link.txt");
  ASSERT_EQ(symlink(data.c_str(), data_link.c_str()), 0);
  ASSERT_EQ(symlink(model.c_str(), model_link.c_str()), 0);
  // The arguments after DATA KMAX, and the refusal.
  std::vector<std::pair<std::vector<std::string>, std::string>> const cases = {
      {{"--model", data}, "the model file " + data + " is the data file"},
      {{"--model", data_link}, "the model file " + data_link + " is the data file"},
      {{"--model", model, "--plot", data}, "the plot file " + data + " is the data file"},
      {{"--plot", data_link, "--model", model}, "the plot file " + data_link + " is the data file"},
      {{"--model", model, "--plot", model_link},
       "the plot file " + model_link + " is the model file"},
      {{"--model", fresh, "--plot", Path("./fresh.txt")},
       "the plot file " + Path("./fresh.txt") + " is the model file"}};
  std::set<std::string> const names = Names();
  for (auto const& [options, refusal] : cases) {
    std::vector<std::string> arguments = {data, "2"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    ProgramResult run = Tool("select-k", arguments);
    EXPECT_EQ(run.status, 1) << refusal;
    EXPECT_EQ(run.err, "select-k: " + refusal + "\n");
    EXPECT_EQ(ReadFile(data), ReadFile(kFaithful)) << refusal;
    EXPECT_EQ(ReadFile(model), "old\n") << refusal;
    EXPECT_EQ(Names(), names) << refusal;
  }
}

TEST_F(ToolsTest, SelectKKeepsWhatItFinishedBeforeAFitFails) {
  // Data, KMAX and the K whose fit fails: one beyond the four distinct
  // vectors; at once for a column without variance.
  std::vector<std::tuple<std::string, int, int>> const cases = {{"1 2\n3 4\n5 7\n1 2\n6 1\n", 6, 5},
                                                                {"1 2\n1 4\n1 7\n", 3, 1}};
  for (auto const& [text, kmax, failing] : cases) {
    std::string const data = WriteFile("data.txt", text), kept = WriteFile("kept.txt", "old\n");
    std::string const k = std::to_string(failing);
    ProgramResult run =
        Tool("select-k", {data, std::to_string(kmax), "--model", kept}, {"MIXFIT_SEED=1"});
    ProgramResult fit =
        RunMixfit({"-i", data, "-o", Path("fit.txt"), "-c", k}, {{"MIXFIT_SEED=1"}});
    ASSERT_NE(fit.status, 0) << fit.err;
    EXPECT_EQ(run.status, fit.status) << run.err;
    // mixfit's warnings name their K; last comes the failure with mixfit's reason.
    std::vector<std::string> const lines = Lines(run.err), reasons = Lines(fit.err);
    ASSERT_FALSE(lines.empty());
    for (size_t i = 0; i + 1 < lines.size(); ++i)
      EXPECT_EQ(lines[i].rfind("K = ", 0), 0u) << lines[i];
    for (const std::string& line : reasons) {
      if (line.rfind("Warning", 0) != 0) continue;
      EXPECT_NE(run.err.find("K = " + k + ": " + line), std::string::npos) << run.err;
    }
    EXPECT_EQ(lines.back().rfind("select-k: mixfit failed for K = " + k + ": ", 0), 0u);
    EXPECT_NE(lines.back().find(reasons.back()), std::string::npos) << lines.back();
    // The table and the model of the K finished, if any.
    std::vector<std::vector<double>> const table = Table(run.out);
    if (failing == 1) {
      EXPECT_EQ(run.out, "");
      EXPECT_EQ(ReadFile(kept), "old\n");
      continue;
    }
    ASSERT_EQ(table.size(), static_cast<size_t>(failing) + 1) << run.out;
    for (int row = 1; row < failing; ++row) EXPECT_EQ(table[row].at(0), row);
    EXPECT_EQ(Info({"info", "-m", kept})["components"], LowestBic(table));
  }
}

TEST_F(ToolsTest, SelectKReportsUnusableFilesInOneLineBeforeFitting) {
  std::string const data = WriteFile("data.txt", ReadFile(kFaithful));
  // The arguments, the file named and the reason.
  std::vector<std::tuple<std::vector<std::string>, std::string, int>> const cases = {
      {{data, "2", "--model", Path("missing/model.txt")},
       "cannot write " + Path("missing/model.txt"),
       ENOENT},
      {{data, "2", "--model", data + "/model.txt"}, "cannot write " + data + "/model.txt", ENOTDIR},
      {{data, "2", "--model", directory_}, "cannot write " + directory_, EISDIR},
      {{Path("missing.txt"), "2"}, "cannot read " + Path("missing.txt"), ENOENT}};
  for (auto const& [arguments, what, error] : cases) {
    // A fit would fail with another message.
    ProgramResult run = Tool("select-k", arguments, {"MIXFIT=/bin/false"});
    EXPECT_NE(run.status, 0);
    EXPECT_EQ(run.err, "select-k: " + what + ": " + std::strerror(error) + "\n");
    EXPECT_EQ(run.out, "");
  }
  EXPECT_EQ(Names(), std::set<std::string>{"data.txt"});
}

TEST_F(ToolsTest, SelectKGivesMixfitAndMixfitModelTheSameVariance) {
  // Given twice, the last value counts: 0.01.
  std::vector<std::vector<std::string>> const cases = {{"-v", "0.5", "-v", "0.01"},
                                                       {"--variance", "0.5", "-v", "--", "0.01"}};
  std::string const kept = Path("kept.txt"), fit = Path("fit.txt");
  for (const std::vector<std::string>& options : cases) {
    std::vector<std::string> arguments = {kFaithful, "2", "--model", kept};
    arguments.insert(arguments.end(), options.begin(), options.end());
    ProgramResult run = Tool("select-k", arguments, {"MIXFIT_SEED=1"});
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<std::vector<double>> const table = Table(run.out);
    ASSERT_EQ(table.size(), 4u) << run.out;
    // Each K fitted alike, evaluated with the last value.
    for (int k = 1; k <= 2; ++k) {
      std::vector<std::string> mixfit = {"-i", kFaithful, "-o", fit, "-c", std::to_string(k)};
      mixfit.insert(mixfit.end(), options.begin(), options.end());
      ASSERT_EQ(RunMixfit(mixfit, {{"MIXFIT_SEED=1"}}).status, 0);
      EXPECT_NEAR(
          table[k].at(1),
          Info({"info", "-m", fit, "-i", kFaithful, "-v", "0.01"})["average_log_likelihood"], 1e-6)
          << "K = " << k << ", " << options[0];
    }
  }
}

TEST_F(ToolsTest, SelectKCleansUpAndDiesBySignal) {
  std::string const kept = WriteFile("kept.txt", "old\n"), fake = Path("fake");
  ASSERT_EQ(mkdir(Path("tmp").c_str(), 0700), 0);
  for (int number : {SIGINT, SIGTERM, SIGHUP}) {
    // Ignored here, it is ignored by select-k too, as nohup asks.
    struct sigaction action = {};
    ASSERT_EQ(sigaction(number, nullptr, &action), 0);
    if (action.sa_handler == SIG_IGN) continue;
    // A mixfit that signals select-k.
    WriteFile("fake", "#!/bin/sh\nkill -" + std::to_string(number) + " $PPID\n");
    ASSERT_EQ(chmod(fake.c_str(), 0755), 0);
    ProgramResult run = Tool("select-k", {kFaithful, "2", "--model", kept},
                             {"MIXFIT=" + fake, "TMPDIR=" + Path("tmp")});
    EXPECT_EQ(run.status, -1) << number << run.err;
    EXPECT_EQ(ReadFile(kept), "old\n");
    EXPECT_EQ(Names(), (std::set<std::string>{"fake", "kept.txt", "tmp"}));
    EXPECT_EQ(Names("tmp"), std::set<std::string>{});
  }
}

TEST_F(ToolsTest, SelectKDrawsThroughALinkInTheFormatOfItsName) {
  if (!HasMatplotlib()) GTEST_SKIP() << "drawing needs Debian's python3-matplotlib";
  std::string const picture = WriteFile("picture", "old\n"), link = Path("bic.svg");
  ASSERT_EQ(chmod(picture.c_str(), 0600), 0);
  ASSERT_EQ(symlink(picture.c_str(), link.c_str()), 0);
  ASSERT_EQ(::link(picture.c_str(), Path("old").c_str()), 0);  // to the old contents
  ProgramResult run =
      Tool("select-k", {kFaithful, "2", "--model", Path("kept.txt"), "--plot", link});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("Plot: " + link), std::string::npos);
  EXPECT_EQ(ReadFile(picture).rfind("<?xml", 0), 0u);
  EXPECT_EQ(ReadFile(Path("old")), "old\n");
  EXPECT_TRUE(IsLink(link));
  EXPECT_EQ(Mode(picture), 0600u);
  EXPECT_EQ(Names(), (std::set<std::string>{"bic.svg", "kept.txt", "old", "picture"}));
}

TEST_F(ToolsTest, PlotModelDrawsThroughLinksInTheFormatOfTheirNames) {
  if (!HasMatplotlib()) GTEST_SKIP() << "drawing needs Debian's python3-matplotlib";
  std::string const model = WriteFile("model.txt", kFaithfulModel);
  std::string const picture = WriteFile("picture", "old\n"), old = Path("old");
  ASSERT_EQ(chmod(picture.c_str(), 0640), 0);
  // The name of the link, and how its format starts.
  std::vector<std::pair<std::string, std::string>> const cases = {
      {"a.png", "\x89PNG"}, {"a.svg", "<?xml"}, {"a.pdf", "%PDF"}, {"a", "\x89PNG"}};
  for (auto const& [name, start] : cases) {
    std::string const link = Path(name);
    ASSERT_EQ(symlink(picture.c_str(), link.c_str()), 0);
    ASSERT_EQ(::link(picture.c_str(), old.c_str()), 0);  // to the contents before
    std::string const before = ReadFile(picture);
    ProgramResult run = Tool("plot-model", {kFaithful, model, link});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadFile(picture).rfind(start, 0), 0u) << name;
    EXPECT_EQ(ReadFile(old), before) << name;
    EXPECT_TRUE(IsLink(link));
    EXPECT_EQ(Mode(picture), 0640u);
    EXPECT_EQ(Names(), (std::set<std::string>{name, "model.txt", "old", "picture"}));
    ASSERT_EQ(unlink(link.c_str()), 0);
    ASSERT_EQ(unlink(old.c_str()), 0);
  }
}

TEST_F(ToolsTest, PlotModelFailuresLeaveThePictureAsItWas) {
  if (!HasMatplotlib()) GTEST_SKIP() << "drawing needs Debian's python3-matplotlib";
  std::string const model = WriteFile("model.txt", kFaithfulModel);
  std::string const broken = WriteFile("broken.txt", "2\n1\n0 0\n");
  std::string const picture = WriteFile("picture.png", "old\n"), missing = Path("missing.txt");
  // The arguments, the status and the start of the message.
  std::vector<std::tuple<std::vector<std::string>, int, std::string>> const cases = {
      {{kFaithful, model, model}, 1, "the picture " + model + " is the model file"},
      {{picture, model, picture}, 1, "the picture " + picture + " is the data file"},
      {{kFaithful, missing, picture}, 3, "cannot read " + missing + ": " + strerror(ENOENT)},
      {{missing, model, picture}, 2, "cannot read " + missing + ": " + strerror(ENOENT)},
      {{kFaithful, broken, picture}, 3, "cannot read the model in " + broken},
      {{kFaithful, model, Path("picture.xyz")}, 1, "matplotlib cannot draw "}};
  for (auto const& [arguments, status, message] : cases) {
    ProgramResult run = Tool("plot-model", arguments);
    EXPECT_EQ(run.status, status) << run.err;
    EXPECT_EQ(run.err.rfind("plot-model: " + message, 0), 0u) << run.err;
    EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
    EXPECT_EQ(ReadFile(model), kFaithfulModel);
    EXPECT_EQ(ReadFile(picture), "old\n");
    EXPECT_EQ(Names(), (std::set<std::string>{"broken.txt", "model.txt", "picture.png"}));
  }
}

}  // namespace
