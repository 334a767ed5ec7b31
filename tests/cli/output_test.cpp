// Outputs replaced as a whole: a write that fails (a file-size limit stands
// for a full disk) or a signal leaves the file named exactly as it was, and
// no temporary file beside it. A replaced file keeps its permission bits, a
// symbolic link stays a link to the file replaced, a hard link keeps the old
// contents, and outputs that are no regular files are written as before.

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <tuple>

#include "cli/run_program.h"
#include "support/files.h"

namespace {

mode_t Mode(std::string const& path) {
  struct stat status = {};
  lstat(path.c_str(), &status);
  return status.st_mode;
}

class OutputTest : public ScratchDirectory {
 protected:
  void SetUp() override {
    ScratchDirectory::SetUp();
    ASSERT_EQ(mkdir(Path("sub").c_str(), 0755), 0);
    model_ = WriteFile("model.txt", ReadFile(kReference + "faithful-diagonal-trace.model"));
  }

  std::string model_;
};

TEST_F(OutputTest, FailedWritesLeaveTheOldFile) {
#ifdef MIXFIT_MPIEXEC
  GTEST_SKIP() << "the MPI runtime writes files of its own, which a small size limit refuses";
#endif
  std::string const posteriors = Path("p.txt");
  std::string const reason = "Reason: " + std::string(strerror(EFBIG)) + ".\n";
  struct Case {
    bool fit;
    std::vector<std::string> arguments;
    std::string output, reason;
  } const cases[] = {
      {true, {"-i", kFaithful, "-s", model_, "-o", model_, "-I", "3"}, model_, ""},
      {false, {"posteriors", "-m", model_, "-i", kFaithful, "-o", posteriors}, posteriors, reason}};
  RunSettings limited;
  limited.file_size_bytes = 128;  // room for the messages, not for the outputs
  for (Case const& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.arguments));
    ASSERT_TRUE(c.fit || RunMixfitModel(c.arguments).status == 0);  // an old file to keep
    std::string const before = ReadFile(c.output);
    auto const names = Names();
    ProgramResult run =
        c.fit ? RunMixfit(c.arguments, limited) : RunMixfitModel(c.arguments, limited);
    EXPECT_EQ(run.status, 4);
    EXPECT_EQ(run.err, "\nError writing output to: " + c.output + "\n" + c.reason);
    EXPECT_EQ(ReadFile(c.output), before);
    EXPECT_EQ(Names(), names);
  }
  // Through a link to nothing: the link stays, and no file is left where it
  // points.
  std::string const dangling = Path("dangling.txt");
  ASSERT_EQ(symlink("sub/none.txt", dangling.c_str()), 0);
  auto const names = Names();
  EXPECT_EQ(
      RunMixfitModel({"posteriors", "-m", model_, "-i", kFaithful, "-o", dangling}, limited).status,
      4);
  EXPECT_EQ(Names(), names);
}

// Each signal, sent once the temporary file holds some output, ends the
// program by that signal.
TEST_F(OutputTest, SignalsLeaveTheOldFile) {
  std::string const sample = Path("s.txt");
  ASSERT_EQ(RunMixfitModel({"sample", "-m", model_, "-n", "10", "-o", sample}).status, 0);
  std::string const before = ReadFile(sample);
  auto const names = Names();
  auto writing = [&] {
    std::error_code error;
    for (std::string const& name : Names())
      if (names.count(name) == 0 && std::filesystem::file_size(Path(name), error) > 0 && !error)
        return true;
    return false;
  };
  for (int number : {SIGTERM, SIGINT, SIGHUP}) {
    RunSettings settings;
    settings.file_size_bytes = 1 << 28;  // should the signal fail to end the run
    settings.started = [&](int pid) {
      // On a busy machine the child could otherwise fill the file before
      // this process is scheduled again to send the signal.
      setpriority(PRIO_PROCESS, static_cast<id_t>(pid), 19);
      siginfo_t ended = {};
      while (!writing() && waitid(P_PID, pid, &ended, WEXITED | WNOHANG | WNOWAIT) == 0 &&
             ended.si_pid == 0)
        usleep(1000);
      kill(pid, number);
    };
    ProgramResult run =
        RunMixfitModel({"sample", "-m", model_, "-n", "500000000", "-o", sample}, settings);
    EXPECT_EQ(run.signal, number) << run.err;
    EXPECT_TRUE(ReadFile(sample) == before);  // not printed: it may be megabytes
    EXPECT_EQ(Names(), names);
  }
}

// A model refined in place through a symbolic link, and outputs of
// mixfit-model over a file of mode 0640, over a file with a hard link to it,
// as a new file and through two links to nothing, which stay.
TEST_F(OutputTest, ReplacementsKeepModesAndLinks) {
  std::string const fit = Path("fit.txt"), info = Path("info.txt");
  ASSERT_EQ(RunMixfit({"-i", kFaithful, "-s", model_, "-o", fit, "-I", "2"}).status, 0);
  ASSERT_EQ(RunMixfitModel({"info", "-m", model_, "-o", info}).status, 0);
  std::string const real = WriteFile("sub/real.txt", ReadFile(model_)), link = Path("link.txt");
  std::string const plain = WriteFile("plain.txt", "old\n"), shared = WriteFile("s.txt", "old\n");
  std::string const dangling = Path("fresh-link.txt");  // to sub/fresh.txt, which is made
  ASSERT_EQ(symlink("sub/real.txt", link.c_str()) | ::link(shared.c_str(), Path("twin").c_str()) |
                symlink("fresh.txt", Path("sub/to-fresh.txt").c_str()) |
                symlink("sub/to-fresh.txt", dangling.c_str()) | chmod(real.c_str(), 0604) |
                chmod(plain.c_str(), 0640),
            0);
  mode_t const mask = umask(0);
  umask(mask);
  std::set<std::string> expected = Names();
  expected.insert({"new.txt", "sub/fresh.txt"});
  // Whether mixfit refines the output in place, the output and the file written.
  std::tuple<bool, std::string, std::string> const cases[] = {
      {true, link, real},
      {false, plain, plain},
      {false, shared, shared},
      {false, Path("new.txt"), Path("new.txt")},
      {false, dangling, Path("sub/fresh.txt")}};
  for (auto const& [refine, output, written] : cases) {
    mode_t const mode = Exists(written) ? Mode(written) : S_IFREG | (0666 & ~mask);
    mode_t const kind = Mode(output) != 0 ? Mode(output) : mode;
    ProgramResult run = refine ? RunMixfit({"-i", kFaithful, "-s", output, "-o", output, "-I", "2"})
                               : RunMixfitModel({"info", "-m", model_, "-o", output});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(ReadFile(written) == ReadFile(refine ? fit : info) && Mode(written) == mode &&
                Mode(output) == kind)
        << output;
  }
  EXPECT_EQ(ReadFile(Path("twin")), "old\n");
  EXPECT_EQ(Names(), expected);
  EXPECT_EQ(RunMixfitModel({"info", "-m", model_, "-o", "/dev/null"}).status, 0);
  // A regular file under /dev/ is written in place, and stays.
  std::string const shared_memory = "/dev/shm" + directory_.substr(4);
  if (!Exists("/dev/shm")) return;
  EXPECT_EQ(RunMixfitModel({"info", "-m", model_, "-o", shared_memory}).status, 0);
  EXPECT_EQ(ReadFile(shared_memory), ReadFile(info));
  std::remove(shared_memory.c_str());
}

}  // namespace
