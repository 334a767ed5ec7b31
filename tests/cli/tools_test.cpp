// End-to-end tests of tools/select-k and tools/plot-model: the table and the
// model kept, the files they refuse, and what is left after a failure or a
// signal.

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <set>
#include <sstream>
#include <tuple>

#include "cli/run_program.h"
#include "support/files.h"

namespace {

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

// The K of the lowest BIC in select-k's table, the smallest on a tie.
int LowestBic(const std::vector<std::vector<double>>& table) {
  int best = 1;
  for (size_t k = 2; k + 1 < table.size(); ++k)
    if (table[k].at(3) < table[best].at(3)) best = static_cast<int>(k);
  return best;
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

  // Runs a tool with the programs of this build, or the mixfit given, and seed 1.
  static ProgramResult Tool(const char* name, const std::vector<std::string>& arguments,
                            const std::string& mixfit = MIXFIT_BINARY,
                            std::vector<std::string> environment = {}) {
    environment.insert(environment.end(),
                       {"MIXFIT=" + mixfit, "MIXFIT_MODEL=" MIXFIT_MODEL_BINARY, "MIXFIT_SEED=1"});
    return RunProgram((kSource + "/tools/" + name).c_str(), arguments, {environment});
  }
};

// Given twice, the last variance counts, for mixfit and mixfit-model alike (a
// floor of 0.5 would hold the variances of K = 2 up).
TEST_F(ToolsTest, SelectKNamesTheLowestBicAndKeepsItsModelThroughALink) {
  // The model is kept through a symbolic link to "target", which has a hard
  // link "old".
  std::string const fit = Path("fit.txt"), target = WriteFile("target", "old\n");
  std::string const link = Path("link.txt");
  ASSERT_EQ(chmod(target.c_str(), 0640) | symlink(target.c_str(), link.c_str()) |
                ::link(target.c_str(), Path("old").c_str()),
            0);
  Out({"-i", kFaithful, "-o", fit, "-c", "2", "-f", "-r", "2", "-v", "0.01"}, {{"MIXFIT_SEED=1"}},
      false);
  double const average =
      Info(Out({"info", "-m", fit, "-i", kFaithful, "-v", "0.01"}))["average_log_likelihood"];
  std::vector<std::string> const variances[] = {{"-v", "0.5", "-v", "0.01"},
                                                {"--variance", "0.5", "-v", "--", "0.01"}};
  for (const std::vector<std::string>& options : variances) {
    std::vector<std::string> arguments = {kFaithful, "4", "-f", "-r", "2", "--model", link};
    arguments.insert(arguments.end(), options.begin(), options.end());
    ProgramResult run = Tool("select-k", arguments);
    ASSERT_EQ(run.status, 0) << run.err;
    // A heading, then K, average, p, BIC and AIC for K = 1 ... 4, the choice.
    std::vector<std::vector<double>> table = Table(run.out);
    ASSERT_EQ(table.size(), 6u) << run.out;
    EXPECT_NEAR(table[2].at(1), average, 1e-6) << options[0];
    int const best = LowestBic(table);
    EXPECT_NE(run.out.find("Lowest BIC: K = " + std::to_string(best) + "; its model is in " + link),
              std::string::npos);
    EXPECT_EQ(Info(Out({"info", "-m", Path("target")}))["components"], best);
    // The target replaced whole: the link stays, the target keeps its mode,
    // the hard link the old contents; no other file is left.
    struct stat status = {};
    EXPECT_TRUE(lstat(link.c_str(), &status) == 0 && S_ISLNK(status.st_mode));
    EXPECT_TRUE(stat(target.c_str(), &status) == 0 && (status.st_mode & 07777) == 0640);
    EXPECT_EQ(ReadFile(Path("old")), "old\n");
    EXPECT_EQ(Names(), (std::set<std::string>{"fit.txt", "link.txt", "old", "target"}));
  }
}

// Outputs naming the data or each other, also through a link or spelt
// otherwise, and files that cannot be used are refused in one line before
// any fit or drawing and leave every file as it was.
TEST_F(ToolsTest, UnusableFilesAreRefusedInOneLineBeforeAnyWork) {
  std::string const data = WriteFile("data.txt", ReadFile(kFaithful));
  std::string const model = WriteFile("model.txt", kFaithfulModel), fresh = Path("fresh.txt");
  std::string const picture = WriteFile("picture.png", "old\n"), missing = Path("missing.txt");
  std::string const broken = WriteFile("broken.txt", "2\n1\n0 0\n");
  std::string const data_link = Path("data-link.txt"), model_link = Path("model-link.txt");
  ASSERT_EQ(symlink(data.c_str(), data_link.c_str()) | symlink(model.c_str(), model_link.c_str()),
            0);
  std::string const nowhere = Path("missing/model.txt"), spelt = Path("./fresh.txt");
  auto const reason = [](int error) { return std::string(": ") + std::strerror(error); };
  auto const is = [](const char* what, std::string const& path, const char* other) {
    return std::string("the ") + what + " file " + path + " is the " + other + " file";
  };
  // select-k or else plot-model, its arguments (select-k's KMAX left out),
  // the status and the message; select-k is given a mixfit that fails any fit.
  std::tuple<bool, std::vector<std::string>, int, std::string> const cases[] = {
      {true, {data, "--model", data_link}, 1, is("model", data_link, "data")},
      {true, {data, "--model", model, "--plot", model_link}, 1, is("plot", model_link, "model")},
      {true, {data, "--model", fresh, "--plot", spelt}, 1, is("plot", spelt, "model")},
      {true, {data, "--model", nowhere}, 4, "cannot write " + nowhere + reason(ENOENT)},
      {true, {data, "--model", directory_}, 4, "cannot write " + directory_ + reason(EISDIR)},
      {true, {missing}, 2, "cannot read " + missing + reason(ENOENT)},
      {false, {data, model, model}, 1, "the picture " + model + " is the model file"},
      {false, {picture, model, picture}, 1, "the picture " + picture + " is the data file"},
      {false, {data, missing, picture}, 3, "cannot read " + missing + reason(ENOENT)},
      {false, {data, broken, picture}, 3, "cannot read the model in " + broken}};
  std::set<std::string> const names = Names();
  for (auto [select, arguments, status, message] : cases) {
    if (!select && !HasMatplotlib()) continue;  // Debian's python3-matplotlib
    if (select) arguments.insert(arguments.begin() + 1, "2");
    std::string const tool = select ? "select-k" : "plot-model";
    ProgramResult run = Tool(tool.c_str(), arguments, "/bin/false");
    EXPECT_EQ(run.status, status) << message;
    EXPECT_EQ(run.err.rfind(tool + ": " + message, 0), 0u) << run.err;
    EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(ReadFile(data) == ReadFile(kFaithful) && ReadFile(model) == kFaithfulModel &&
                ReadFile(picture) == "old\n")
        << message;
    EXPECT_EQ(Names(), names) << message;
  }
}

TEST_F(ToolsTest, SelectKKeepsWhatItFinishedBeforeAFitFails) {
  // Data, KMAX and the K whose fit fails: one beyond the four distinct
  // vectors; at once for a column without variance.
  std::tuple<std::string, int, int> const cases[] = {{"1 2\n3 4\n5 7\n1 2\n6 1\n", 6, 5},
                                                     {"1 2\n1 4\n1 7\n", 3, 1}};
  for (auto const& [text, kmax, failing] : cases) {
    std::string const data = WriteFile("data.txt", text), kept = WriteFile("kept.txt", "old\n");
    std::string const k = std::to_string(failing);
    ProgramResult run = Tool("select-k", {data, std::to_string(kmax), "--model", kept});
    ProgramResult fit =
        RunMixfit({"-i", data, "-o", Path("fit.txt"), "-c", k}, {{"MIXFIT_SEED=1"}});
    ASSERT_NE(fit.status, 0) << fit.err;
    EXPECT_EQ(run.status, fit.status) << run.err;
    // mixfit's warnings name their K; last comes the failure with mixfit's reason.
    std::vector<std::string> const lines = Lines(run.err), reasons = Lines(fit.err);
    ASSERT_FALSE(lines.empty());
    for (size_t i = 0; i + 1 < lines.size(); ++i) EXPECT_EQ(lines[i].rfind("K = ", 0), 0u);
    for (const std::string& line : reasons)
      EXPECT_TRUE(line.rfind("Warning", 0) != 0 ||
                  run.err.find("K = " + k + ": " + line) != std::string::npos)
          << run.err;
    EXPECT_EQ(lines.back().rfind("select-k: mixfit failed for K = " + k + ": ", 0), 0u);
    EXPECT_NE(lines.back().find(reasons.back()), std::string::npos) << lines.back();
    // The table and the model of the K finished, if any.
    std::vector<std::vector<double>> const table = Table(run.out);
    ASSERT_EQ(table.size(), failing == 1 ? 0u : failing + 1u) << run.out;
    for (int row = 1; row < failing; ++row) EXPECT_EQ(table[row].at(0), row);
    EXPECT_TRUE(failing == 1 ? run.out.empty() && ReadFile(kept) == "old\n"
                             : Info(Out({"info", "-m", kept}))["components"] == LowestBic(table))
        << run.out;
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
    ProgramResult run =
        Tool("select-k", {kFaithful, "2", "--model", kept}, fake, {"TMPDIR=" + Path("tmp")});
    EXPECT_EQ(run.status, -1) << number << run.err;
    EXPECT_EQ(ReadFile(kept), "old\n");
    EXPECT_EQ(Names(), (std::set<std::string>{"fake", "kept.txt", "tmp"}));  // tmp empty
  }
}

}  // namespace
