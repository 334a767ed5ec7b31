// End-to-end robustness against hostile input: files that are empty, binary,
// huge or absurd, paths that are no regular files, numbers at the edges of
// double and model files that are broken or do not fit. Every run must end by
// itself with a status of the failure table (or 0) and its message, in
// bounded time and memory, and leave no model file behind a failure.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "cli/run_program.h"
#include "cli/scratch_directory.h"
#include "mixture/mixmodel.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MIXFIT_ADDRESS_SANITIZER 1
#endif
#if __has_feature(thread_sanitizer)
#define MIXFIT_THREAD_SANITIZER 1
#endif
#endif
#ifndef MIXFIT_ADDRESS_SANITIZER
#define MIXFIT_ADDRESS_SANITIZER 0
#endif
#if defined(__SANITIZE_THREAD__) && !defined(MIXFIT_THREAD_SANITIZER)
#define MIXFIT_THREAD_SANITIZER 1
#endif
#ifndef MIXFIT_THREAD_SANITIZER
#define MIXFIT_THREAD_SANITIZER 0
#endif

namespace {

// Generous bounds: the sanitizer build is several times slower and larger,
// the ThreadSanitizer build more so.
const double kMaxSeconds = MIXFIT_THREAD_SANITIZER ? 240.0 : 60.0;
const long kMaxPeakKb = (MIXFIT_THREAD_SANITIZER ? 4 : 1) * 1024 * 1024;

std::string DataError(const std::string& path) { return "\nError reading input data file: " + path + "\n\n"; }
std::string SolutionError(const std::string& path) { return "\nError reading input solution: " + path + "\n"; }

// count copies of text, each followed by a blank.
std::string Repeated(const std::string& text, int count) {
  std::string line;
  line.reserve(count * (text.size() + 1));
  for (int i = 0; i < count; ++i) line += text + " ";
  return line;
}

class HostileInputTest : public ScratchDirectory {
 protected:
  // The model file of every run.
  std::string Model() const { return Path("model.txt"); }

  // Runs the program; whatever the input, it must end by itself, soon and
  // in bounded memory.
  ProgramResult Run(std::vector<std::string> arguments, const RunSettings& settings = {}) const {
    ProgramResult run = RunMixfit(arguments, settings);
    EXPECT_EQ(run.signal, -1) << "ended by a signal:\n" << run.err;
    EXPECT_LT(run.seconds, kMaxSeconds);
    EXPECT_LT(run.peak_kb, kMaxPeakKb);
    return run;
  }

  // Runs and expects a failure with status and an error output ending in
  // message, and no model file (a model of an earlier run is removed first).
  void ExpectFailure(std::vector<std::string> arguments, int status, const std::string& message,
                     const RunSettings& settings = {}) {
    SCOPED_TRACE(::testing::PrintToString(arguments));
    std::remove(Model().c_str());
    ProgramResult run = Run(arguments, settings);
    EXPECT_EQ(run.status, status) << run.err;
    size_t size = message.size();
    EXPECT_TRUE(run.err.size() >= size && run.err.compare(run.err.size() - size, size, message) == 0) << run.err;
    EXPECT_FALSE(Exists(Model()));
  }

  // Fits data with the arguments given; expects success and returns the
  // model written, read back.
  MixtureModel ExpectFit(const std::string& data, std::vector<std::string> more = {}) {
    std::vector<std::string> arguments = {"-i", data, "-o", Model()};
    arguments.insert(arguments.end(), more.begin(), more.end());
    ProgramResult run = Run(arguments);
    EXPECT_EQ(run.status, 0) << run.err;
    MixtureModel model;
    MixtureModelFileFormat format;
    EXPECT_EQ(model.Read(Model().c_str(), format), MM_FILE_OK) << ReadFile(Model()).substr(0, 500);
    return model;
  }

  // Three distinct vectors of dimension 2.
  std::string SmallData() const { return WriteFile("small.txt", "1 2\n3 4\n5 7\n"); }
};

TEST_F(HostileInputTest, RefusedData) {
  std::mt19937 generator(20240611);
  std::string bytes(1 << 16, '\0');
  for (char& byte : bytes) byte = static_cast<char>(generator() & 0xff);
  std::string garbage = WriteFile("garbage.bin", bytes);
  std::string small = SmallData(), model = Model();
  std::string empty = WriteFile("empty.txt", "");
  std::string duplicates = WriteFile("duplicates.txt", "1 1\n1 1\n2 2\n3 3\n2 2\n");
  struct Case { std::vector<std::string> arguments; int status; std::string message; } cases[] = {
      {{"-i", empty, "-o", model}, 5, "\nError: more components than unique points (0).\n"},
      {{"-i", garbage, "-o", model}, 2, "exiting.\n" + DataError(garbage)},  // the fifth faulty line
      {{"-i", "/dev/zero", "-o", model}, 2, DataError("/dev/zero")},  // an endless line
      {{"-i", directory_, "-o", model}, 2, DataError(directory_)},
      {{"-i", duplicates, "-o", model, "-c", "4"}, 5, "unique points (3).\n"},
      // Huge counts fail at once, before any component is made.
      {{"-i", small, "-o", model, "-c", "1000000"}, 5, "unique points (3).\n"},
      {{"-i", small, "-o", model, "-c", "1000000", "-f", "-r", "1000000"}, 5, "unique points (3).\n"},
  };
  for (const Case& c : cases) ExpectFailure(c.arguments, c.status, c.message);

  const std::string reason = "Data values are too large: their squares or variances are not finite.\n";
  for (const char* text : {"1e308 1\n-1e308 2\n0 3\n",   // the variance overflows
                           "1e300 1\n1e300 2\n",         // the square of the mean overflows
                           "1e155 1\n-1e155 2\n3 3\n"}) {
    std::string data = WriteFile("large.txt", text);
    ExpectFailure({"-i", data, "-o", model}, 2, reason + DataError(data));
    ExpectFailure({"-i", data, "-o", model, "-f"}, 2, reason + DataError(data));
  }
}

TEST_F(HostileInputTest, WideData) {
  const int d = 1 << 18;  // "0.5 " 2^18 times is a megabyte
  std::string text = "% " + std::string(1 << 20, 'x') + "\n";
  text += Repeated("0.5", d) + "\n" + Repeated("1.5", d);  // the last without a line feed
  MixtureModel model = ExpectFit(WriteFile("wide.txt", text), {"-I", "2"});
  ASSERT_EQ(model.count, 1);
  ASSERT_EQ(model.components[0]->mean.columns, d);
  EXPECT_EQ(model.components[0]->mean(0, d - 1), 1.0);

  // A hundred thousand columns fit diagonally only.
  std::string columns;
  for (int row = 0; row < 3; ++row) {
    for (int j = 0; j < 100000; ++j) columns += std::to_string((row * 7 + j) % 10) + " ";
    columns += "\n";
  }
  std::string data = WriteFile("columns.txt", columns);
  EXPECT_EQ(ExpectFit(data, {"-c", "2"}).components[1]->covariance.columns, 100000);
  ExpectFailure({"-i", data, "-o", Model(), "-f"}, 2,
                "Dimension 100000 is too large for full covariance matrices.\n" + DataError(data));
}

TEST_F(HostileInputTest, NumbersAtTheEdgesOfDouble) {
  // Denormals, the smallest normal double and negative zeros in columns that vary.
  std::string tiny = WriteFile("tiny.txt", "4.9e-324 1\n-0.0 2\n2.2250738585072014e-308 3\n1 -0\n");
  for (std::vector<std::string> mode : {std::vector<std::string>{}, {"-f"}, {"-c", "2"}})
    EXPECT_EQ(ExpectFit(tiny, mode).NotFinite(nullptr), 0);

  // Every density of the spread-out data is below the smallest normal double;
  // the log likelihood is that floor's.
  std::string spread;
  for (int i = 0; i < 50; ++i)
    spread += std::to_string(i % 5) + "e150 " + std::to_string(i % 7) + "e150 " + std::to_string(i % 3) + "e150\n";
  ProgramResult run = Run({"-i", WriteFile("spread.txt", spread), "-o", Model(), "-c", "3"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "-708.396\n");
}

// Fits that would give no trustworthy answer are refused: seeds that are no
// numbers, columns without variance, a model written over its data and
// memory running out. Evaluating a model fits nothing and writes nothing, so
// it is not refused.
TEST_F(HostileInputTest, RefusedFits) {
  std::string model = Model(), data = SmallData();
  std::string constant = WriteFile("constant.txt", "5 -1\n5 -2\n5 -1\n5 -3\n");
  std::string tiny = WriteFile("tiny.txt", "1 1e-200\n2 2e-200\n3 4e-200\n");  // squares underflow
  std::string one = WriteFile("one.txt", "1 2 3\n");
  std::string link = Path("link.txt"), given = Path("given.txt");
  ASSERT_EQ(symlink(data.c_str(), link.c_str()), 0);
  ASSERT_EQ(RunMixfit({"-i", data, "-o", given}).status, 0);
  const std::string no_variance = " of the data has no variance, so no density can be fitted.\n";
  const std::string over = "The output file is the input data file.\n\nError writing output to: ";
  struct Case {
    std::vector<std::string> arguments;
    std::string seed;
    int status;
    std::string message;
  } cases[] = {
      {{"-i", data, "-o", model}, "abc", 1, "Error: bad value of MIXFIT_SEED: abc\n"},
      {{"-i", data, "-o", model}, "-1", 1, "Error: bad value of MIXFIT_SEED: -1\n"},
      {{"-i", data, "-o", model}, " 1", 1, "Error: bad value of MIXFIT_SEED:  1\n"},
      {{"-i", data, "-o", model}, "4294967296", 1, "Error: bad value of MIXFIT_SEED: 4294967296\n"},
      {{"-i", data, "-o", model}, "4294967295", 0, ""},
      {{"-i", constant, "-o", model}, "", 2, "Column 1" + no_variance + DataError(constant)},
      {{"-i", constant, "-o", model, "-f", "-I", "0"}, "", 2, "Column 1" + no_variance + DataError(constant)},
      {{"-i", constant, "-s", given, "-o", model}, "", 2, "Column 1" + no_variance + DataError(constant)},
      {{"-i", constant, "-s", given, "-o", model, "-I", "0"}, "", 0, ""},
      {{"-i", tiny, "-o", model}, "", 2, "Column 2" + no_variance + DataError(tiny)},
      {{"-i", one, "-o", model}, "", 2, "Column 1" + no_variance + DataError(one)},
      {{"-i", data, "-o", data}, "", 4, over + data + "\n"},
      {{"-i", data, "-o", link, "-c", "2"}, "", 4, over + link + "\n"},
      {{"-i", data, "-s", given, "-o", data, "-I", "0"}, "", 0, ""},
  };
  std::string before = ReadFile(data);
  for (const Case& c : cases) {
    if (c.status == 0) {
      SCOPED_TRACE(::testing::PrintToString(c.arguments));
      EXPECT_EQ(Run(c.arguments, {{"MIXFIT_SEED=" + c.seed}}).status, 0);
    } else {
      ExpectFailure(c.arguments, c.status, c.message, {{"MIXFIT_SEED=" + c.seed}});
    }
    EXPECT_EQ(ReadFile(data), before);
  }
  // The refined model may replace its own initial solution.
  EXPECT_EQ(Run({"-i", data, "-s", given, "-o", given}).status, 0);
  MixtureModel refined;
  MixtureModelFileFormat format;
  EXPECT_EQ(refined.Read(given.c_str(), format), MM_FILE_OK);
}

// Memory running out ends the run with the status of its phase and a line
// that says so, not with an abort. (The sanitizers reserve more address
// space than any such limit allows.)
TEST_F(HostileInputTest, OutOfMemory) {
#if defined(__SANITIZE_ADDRESS__) || MIXFIT_ADDRESS_SANITIZER || MIXFIT_THREAD_SANITIZER
  GTEST_SKIP() << "address-space limits do not work under the sanitizers";
#endif
  std::string wide;  // 3 x 20000: its full covariance needs 3.2 GB
  for (int row = 0; row < 3; ++row, wide += "\n")
    for (int j = 0; j < 20000; ++j) wide += std::to_string((row * 7 + j) % 10) + " ";
  std::string wide_data = WriteFile("wide.txt", wide);
  std::string many;  // 60 x 2000: statistics of 64 MB, 50 full components of 1.6 GB
  for (int row = 0; row < 60; ++row, many += "\n")
    for (int j = 0; j < 2000; ++j) many += std::to_string((row * 13 + j) % 97) + " ";
  std::string many_data = WriteFile("many.txt", many);
  RunSettings limit = {{}, 1LL << 30};
  ExpectFailure({"-i", wide_data, "-o", Model(), "-f"}, 2,
                "Out of memory while reading the data.\n" + DataError(wide_data), limit);
  ExpectFailure({"-i", many_data, "-o", Model(), "-f", "-c", "50"}, 2,
                "Out of memory while training.\n", limit);
}

TEST_F(HostileInputTest, DegenerateFits) {
  // A zero character makes its line faulty; the other lines are read.
  std::string zero = WriteFile("zero.txt", std::string("1 2\n3\0 4\n5 6\n", 12));
  EXPECT_EQ(ExpectFit(zero, {"-I", "0"}).components[0]->mean(0, 1), 4.0);  // (2 + 6) / 2

  // Mahalanobis k-means leaves one of two full components without vectors;
  // its covariance must not reach the model file as NaN.
  std::string two = WriteFile("two.txt", "2.6 85\n1.95 51\n");
  EXPECT_EQ(ExpectFit(two, {"-c", "2", "-f"}).NotFinite(nullptr), 0);
  EXPECT_EQ(Run({"-i", two, "-s", Model(), "-o", Path("again.txt")}).status, 0);

  EXPECT_EQ(ExpectFit(SmallData(), {"-c", "2", "-r", "100000"}).count, 2);
}

TEST_F(HostileInputTest, RefusedModelFiles) {
  std::string data = SmallData();
  ExpectFit(data, {"-c", "2", "-f", "-I", "5"});
  std::string model = ReadFile(Model());
  std::remove(Model().c_str());
  // Cut anywhere, a model either still reads (cut within the last number)
  // or is refused; nothing else happens.
  for (size_t length = 0; length < model.size(); length += 5) {
    std::string cut = WriteFile("cut.txt", model.substr(0, length));
    ProgramResult run = Run({"-i", data, "-s", cut, "-o", Model()});
    bool refused = run.status == 3 && run.err.find(SolutionError(cut)) != std::string::npos;
    EXPECT_TRUE(run.status == 0 || refused) << length << run.err;
    EXPECT_EQ(Exists(Model()), run.status == 0) << length;
    std::remove(Model().c_str());
  }

  const char* models[] = {
      "",                                      // empty
      "% Plain Matlab-readable\nx\n",          // no count
      "2\n1\n1 2\n1\n1 1\n",                   // fewer components than counted
      "1\n1\n1 2\n2\n1 0\n0 1 5\n",            // a covariance row too long
      "1\n1\n1\n1\n1\n",                       // another dimension
      "1\ninf\n1 2\n1\n1 1\n",                 // an infinite weight
      "2\n-1\n1 2\n1\n1 1\n2\n3 4\n1\n1 1\n",  // a negative weight
  };
  for (const char* text : models) {
    std::string model = WriteFile("bad.txt", text);
    ExpectFailure({"-i", data, "-s", model, "-o", Model()}, 3, SolutionError(model));
  }
  ExpectFailure({"-i", data, "-s", directory_, "-o", Model()}, 3, SolutionError(directory_));

  // A full covariance of a dimension near the largest possible, with no row:
  // refused without claiming memory for the whole matrix.
  std::string mean = Repeated("0", 46340);
  std::string type = "2 " + Repeated("0", 46339);  // rows are padded to the dimension
  std::string wide = WriteFile("wide.txt", "1\n1\n" + mean + "\n" + type + "\n" + mean + "\n");
  std::string wide_data = WriteFile("wide_data.txt", mean + "\n" + Repeated("1", 46340) + "\n");
  ExpectFailure({"-i", wide_data, "-s", wide, "-o", Model()}, 3, SolutionError(wide));
}

}  // namespace
