// The MPI build run by mpirun with 1 to 4 ranks on one machine: the same
// outcome as one process. Every run's standard error is rank 0's alone
// (mpirun -q adds nothing of its own).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <thread>

#include "cli/run_program.h"
#include "support/files.h"
#include "support/values.h"

namespace {

using RanksTest = ScratchDirectory;

RunSettings Settings(std::vector<std::string> environment = {}) {
  // Open MPI refuses root, as CI runs, without these.
  environment.push_back("OMPI_ALLOW_RUN_AS_ROOT=1");
  environment.push_back("OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1");
  return {environment};
}

ProgramResult RunRanks(int ranks, std::vector<std::string> const& arguments,
                       std::vector<std::string> const& environment = {},
                       const char* program = MIXFIT_BINARY) {
  std::vector<std::string> words = {"-q", "--oversubscribe", "-np", std::to_string(ranks), program};
  words.insert(words.end(), arguments.begin(), arguments.end());
  return RunProgram(MIXFIT_MPIEXEC, words, Settings(environment));
}

// The significant digits of a number as printed.
int Digits(std::string const& token) {
  int digits = 0;
  bool leading = true;
  for (char c : token.substr(0, token.find_first_of("eE"))) {
    if (c < '0' || c > '9') continue;
    if (c != '0') leading = false;
    if (!leading) ++digits;
  }
  return digits;
}

// Whether two model files hold the same numbers: within 1e-9 * max(1, |a|),
// and a number printed with 6 digits (a weight) within one unit of its last
// digit, as a sum added in another order may round the other way.
::testing::AssertionResult CloseModels(std::string const& a, std::string const& b) {
  std::istringstream first(a), second(b);
  std::string x, y;
  for (int i = 0; first >> x; ++i) {
    if (!(second >> y)) return ::testing::AssertionFailure() << "shorter at token " << i;
    char* end;
    double const u = strtod(x.c_str(), &end), v = strtod(y.c_str(), &end);
    double allowed = 1e-9 * std::max(1.0, std::fabs(u));
    if (Digits(x) <= 6 && u != 0.0)
      allowed = std::max(allowed, 1.001 * std::pow(10.0, std::floor(std::log10(std::fabs(u))) - 5));
    if (x != y && !(std::fabs(u - v) <= allowed))
      return ::testing::AssertionFailure() << "token " << i << ": " << x << " against " << y;
  }
  if (second >> y) return ::testing::AssertionFailure() << "longer";
  return ::testing::AssertionSuccess();
}

// Clusters far apart, so that every start converges to the same optimum
// and the iterations are fixed: the sums in another order move the results
// in the last places only.
TEST_F(RanksTest, SameFitAtEveryRankCount) {
  DataSet set(4, ClusteredValues(6000, 4, 3, 31));
  std::string const data = Path("clusters.txt"), start = Path("start.model"),
                    model = Path("model.txt");
  ASSERT_EQ(set.storage.Write(data.c_str()), 0);
  ASSERT_EQ(
      RunMixfit({"-i", data, "-o", start, "-c", "3", "-f", "-I", "3"}, Settings({"MIXFIT_SEED=9"}))
          .status,
      0);
  std::vector<std::string> const fits[] = {
      {"-c", "3", "-r", "2", "-I", "12", "--verbose"},
      {"-c", "3", "-f", "-r", "2,5", "-I", "12", "--verbose"},
      {"-c", "3", "-r", "2,5,no", "-t", "1e-4"},
      {"-s", start, "-I", "8"},
  };
  for (std::vector<std::string> const& fit : fits) {
    std::vector<std::string> arguments = {"-i", data, "-o", model};
    arguments.insert(arguments.end(), fit.begin(), fit.end());
    // One process, as the default build runs it.
    ProgramResult const alone = RunMixfit(arguments, Settings({"MIXFIT_SEED=5"}));
    ASSERT_EQ(alone.status, 0) << alone.err;
    std::string const one = ReadFile(model);
    std::remove(model.c_str());
    auto const masked = [](std::string text) {
      size_t at = text.find("CPU time: ");
      return at == std::string::npos ? text : text.erase(at, text.find('\n', at) - at);
    };
    for (int ranks = 1; ranks <= 4; ++ranks) {
      ProgramResult const run = RunRanks(ranks, arguments, {"MIXFIT_SEED=5"});
      std::string const what = std::to_string(ranks) + " ranks, " + testing::PrintToString(fit);
      ASSERT_EQ(run.status, 0) << what << run.err;
      EXPECT_EQ(run.err, alone.err) << what;
      EXPECT_EQ(masked(run.out), masked(alone.out)) << what;
      std::string const written = ReadFile(model);
      std::remove(model.c_str());
      if (ranks == 1)
        EXPECT_EQ(written, one) << what;
      else
        EXPECT_TRUE(CloseModels(one, written)) << what;
    }
  }
}

// Faulty lines in the shares of several ranks: reported once, in file
// order, with their line numbers in the file; the fifth of a kind stops the
// run wherever it lies.
TEST_F(RanksTest, FaultyLinesAsInOneProcess) {
  auto const lines = [](std::vector<std::pair<int, std::string>> const& faults) {
    std::string text;
    for (int n = 1; n <= 400; ++n) {
      std::string line =
          std::to_string(n % 7) + " " + std::to_string(n % 11) + " " + std::to_string(n % 13 * 0.5);
      for (auto const& [at, fault] : faults)
        if (at == n) line = fault;
      text += line + "\n";
    }
    return text;
  };
  struct Case {
    std::vector<std::pair<int, std::string>> faults;
    int status;
    std::string err;
  } const cases[] = {
      {{{1, "# comment"},
        {50, "1 2 x"},
        {120, "1 2"},
        {200, ""},
        {250, "1 2 3 4"},
        {390, "nan 1 2"}},
       0,
       "Error in line 50.\nVector in line 120 is too short (2, should be 3).\n"
       "Vector in line 250 is too long (should be 3).\n"
       "Vector in line 390 has a value that is not finite.\n"},
      {{{30, "1 2 x"}, {100, "1 x"}, {180, "x"}, {260, "y"}, {330, "z"}, {331, "w"}},
       2,
       "Error in line 30.\nError in line 100.\nError in line 180.\nError in line 260.\n"
       "Error in line 330.\nToo many errors, exiting.\n"},
      // The first line fixes the dimension for every share.
      {{{1, "a"}, {2, "1 2 3 4 5"}, {150, "5 4 3 2 1"}, {399, "1"}},
       2,
       "Error in line 1.\nVector in line 3 is too short (3, should be 5).\n"
       "Vector in line 4 is too short (3, should be 5).\n"
       "Vector in line 5 is too short (3, should be 5).\n"
       "Vector in line 6 is too short (3, should be 5).\n"
       "Vector in line 7 is too short (3, should be 5).\nToo many incomplete vectors, exiting.\n"},
  };
  std::string const data = WriteFile("data.txt", ""), model = Path("model.txt");
  for (Case const& c : cases) {
    WriteFile("data.txt", lines(c.faults));
    std::string const err =
        c.status == 0 ? c.err : c.err + "\nError reading input data file: " + data + "\n\n";
    for (int ranks = 1; ranks <= 4; ++ranks) {
      ProgramResult const run =
          RunRanks(ranks, {"-i", data, "-o", model, "-c", "2", "-r", "2"}, {"MIXFIT_SEED=3"});
      EXPECT_EQ(run.status, c.status) << ranks << " ranks";
      EXPECT_EQ(run.err, err) << ranks << " ranks";
      EXPECT_EQ(Exists(model), c.status == 0);
      std::remove(model.c_str());
    }
  }
}

// Failures decided after the data are shared out: every rank ends with the
// status and rank 0 alone reports, as one process does; no model is left.
TEST_F(RanksTest, FailuresAsInOneProcess) {
  std::string const data = WriteFile("data.txt", "1 2\n3 4\n5 7\n2 9\n"), model = Path("model.txt"),
                    given = Path("given.txt");
  ASSERT_EQ(RunMixfit({"-i", data, "-o", given, "-c", "1"}, Settings()).status, 0);
  std::string const duplicates = WriteFile("duplicates.txt", "1 1\n1 1\n2 2\n3 3\n2 2\n1 1\n");
  std::string const constant = WriteFile("constant.txt", "5 -1\n5 -2\n5 -1\n5 -3\n5 -4\n");
  std::string const other = WriteFile("other.txt", "1 2 3\n4 5 6\n7 8 10\n");
  std::string const empty = WriteFile("empty.txt", "% nothing\n");
  std::vector<std::string> const cases[] = {
      {"-i", duplicates, "-o", model, "-c", "4"},     // too few distinct points
      {"-i", constant, "-o", model, "-c", "2"},       // a column without variance
      {"-i", empty, "-o", model, "-c", "1"},          // no vector
      {"-i", Path("missing.txt"), "-o", model},       // no file
      {"-i", other, "-o", model, "-s", given},        // a model of another dimension
      {"-i", data, "-o", Path("no/such/model.txt")},  // output that can't be written
      {"-i", data, "-o", data, "-c", "1"},            // output onto the input
  };
  for (std::vector<std::string> const& arguments : cases) {
    ProgramResult const alone = RunMixfit(arguments, Settings({"MIXFIT_SEED=4"}));
    ASSERT_NE(alone.status, 0) << testing::PrintToString(arguments);
    for (int ranks : {2, 4}) {
      ProgramResult const run = RunRanks(ranks, arguments, {"MIXFIT_SEED=4"});
      std::string const what =
          std::to_string(ranks) + " ranks, " + testing::PrintToString(arguments);
      EXPECT_EQ(run.status, alone.status) << what;
      EXPECT_EQ(run.err, alone.err) << what;
      EXPECT_EQ(run.out, alone.out) << what;
      EXPECT_FALSE(Exists(model)) << what;
    }
  }
}

// The model commands score each vector on its own rank and sum the scores
// on rank 0 in data order: the same bytes at every rank count.
TEST_F(RanksTest, ModelCommandsGiveTheSameBytes) {
  DataSet set(3, ClusteredValues(2000, 3, 2, 5));
  std::string const data = Path("data.txt"), model = Path("model.txt");
  ASSERT_EQ(set.storage.Write(data.c_str()), 0);
  ASSERT_EQ(RunMixfit({"-i", data, "-o", model, "-c", "2", "-f"}, Settings()).status, 0);
  std::vector<std::string> const commands[] = {
      {"score", "-m", model, "-i", data},    {"score", "-m", model, "-i", data, "--average"},
      {"classify", "-m", model, "-i", data}, {"posteriors", "-m", model, "-i", data},
      {"info", "-m", model, "-i", data},     {"sample", "-m", model, "-n", "5"},
      {"score", "-m", data, "-i", data},  // no model
  };
  for (std::vector<std::string> const& command : commands) {
    ProgramResult const alone =
        RunProgram(MIXFIT_MODEL_BINARY, command, Settings({"MIXFIT_SEED=6"}));
    for (int ranks = 1; ranks <= 4; ++ranks) {
      ProgramResult const run = RunRanks(ranks, command, {"MIXFIT_SEED=6"}, MIXFIT_MODEL_BINARY);
      std::string const what = std::to_string(ranks) + " ranks, " + testing::PrintToString(command);
      EXPECT_EQ(run.status, alone.status) << what;
      EXPECT_EQ(run.out, alone.out) << what;
      EXPECT_EQ(run.err, alone.err) << what;
    }
  }
}

// An input that cannot be seeked is read by rank 0 and handed out: the
// same fit as from the file.
TEST_F(RanksTest, PipeHandedOut) {
  DataSet set(3, ClusteredValues(3000, 3, 2, 7));
  std::string const data = Path("data.txt"), pipe = Path("pipe"), model = Path("model.txt");
  ASSERT_EQ(set.storage.Write(data.c_str()), 0);
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  std::vector<std::string> const fit = {"-o", model, "-c", "2", "-r", "2", "-I", "10"};
  auto arguments = [&](std::string const& input) {
    std::vector<std::string> all = {"-i", input};
    all.insert(all.end(), fit.begin(), fit.end());
    return all;
  };
  ProgramResult const file = RunRanks(3, arguments(data), {"MIXFIT_SEED=2"});
  ASSERT_EQ(file.status, 0) << file.err;
  std::string const expected = ReadFile(model);
  std::thread writer([&] {
    FILE* to = fopen(pipe.c_str(), "w");
    if (to) fputs(ReadFile(data).c_str(), to), fclose(to);
  });
  ProgramResult const piped = RunRanks(3, arguments(pipe), {"MIXFIT_SEED=2"});
  writer.join();
  ASSERT_EQ(piped.status, 0) << piped.err;
  EXPECT_EQ(piped.out, file.out);
  EXPECT_TRUE(CloseModels(expected, ReadFile(model)));
}

#ifdef MIXFIT_FAULT_INJECTION
// A rank that fails to read its share ends the run on every rank: status 2,
// the data error once, no model.
TEST_F(RanksTest, FailedShareEndsTheRun) {
  DataSet set(2, ClusteredValues(500, 2, 2, 3));
  std::string const data = Path("data.txt"), model = Path("model.txt");
  ASSERT_EQ(set.storage.Write(data.c_str()), 0);
  for (int ranks = 2; ranks <= 4; ++ranks) {
    for (int failing : {0, ranks - 1}) {
      ProgramResult const run = RunRanks(ranks, {"-i", data, "-o", model, "-c", "2"},
                                         {"MIXFIT_FAIL_READ_RANK=" + std::to_string(failing)});
      EXPECT_EQ(run.status, 2) << ranks << " ranks, rank " << failing;
      EXPECT_EQ(run.err, "\nError reading input data file: " + data + "\n\n");
      EXPECT_FALSE(Exists(model));
    }
  }
}
#endif

}  // namespace
