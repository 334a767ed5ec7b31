

#include "mixture/mixmodel.h"
#include "support/files.h"

namespace {

std::string Written(MixtureModel const& model) {
  TextStream out;
  EXPECT_EQ(model.Write(out.file, MM_FF_PLAIN), MM_FILE_OK);
  return out.Text();
}

// Reads text into model; returns the result code.
int ReadText(MixtureModel& model, std::string const& text) {
  TextStream in(text);
  MixtureModelFileFormat format = MM_FF_NONE;
  int const result = model.Read(in.file, format);
  EXPECT_TRUE(result != MM_FILE_OK || format == MM_FF_PLAIN);
  return result;
}

// One 2-d diagonal component, as a model and as its file.
MixtureModel Example() {
  MixtureModel model;
  AddComponent(model, MM_COV_DIAGONAL, 1, {0.5, -1}, {2, 0.25});
  return model;
}
std::string const kExample = "% Plain Matlab-readable\n1 0\n1 0\n0.5 -1 \n1 0\n2 0.25 \n";

// Single numbers are padded to the dimension; weights keep six digits.
TEST(ModelFileTest, WrittenByteForByteAndReadBackExactly) {
  EXPECT_EQ(Written(Example()), kExample);
  EXPECT_EQ(Written(MixtureModel()), "% Plain Matlab-readable\n0\n");
  MixtureModel full = Example(), read;
  AddComponent(full, MM_COV_FULL, 1.0 / 3, {1.0 / 3, -2}, {1, 1e-20, 1e-20, 2});
  EXPECT_EQ(Written(full), "% Plain Matlab-readable\n2 0\n1 0\n0.5 -1 \n1 0\n2 0.25 \n"
                           "0.333333 0\n0.333333333333333 -2 \n2 0\n1 1e-20 \n1e-20 2 \n");
  full.components[1]->weight = 0.375;
  full.components[1]->mean.data[0] = 0.125;
  ASSERT_EQ(ReadText(read, Written(full)), MM_FILE_OK);
  EXPECT_TRUE(SameBits(read, full));
}

TEST(ModelFileTest, NamedFilesAndTheirFailures) {
  TempFile file;
  MixtureModel model;
  MixtureModelFileFormat format = MM_FF_NONE;
  EXPECT_EQ(Example().Write(file.path.c_str(), MM_FF_NONE), MM_FILE_NO_FORMAT);
  ASSERT_EQ(Example().Write(file.path.c_str(), MM_FF_PLAIN), MM_FILE_OK);
  ASSERT_EQ(model.Read(file.path.c_str(), format), MM_FILE_OK);
  EXPECT_TRUE(SameBits(model, Example()));
  EXPECT_EQ(model.Read("/nonexistent-directory/model", format), MM_FILE_CANNOT_OPEN);
  EXPECT_EQ(Example().Write("/nonexistent-directory/model", MM_FF_PLAIN), MM_FILE_CANNOT_OPEN);
  EXPECT_EQ(Example().Write("/dev/full", MM_FF_PLAIN), MM_FILE_WRITE_FAILED);
  // Unbuffered, the writes fail at once and the final flush has nothing left.
  FILE* full = fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  setvbuf(full, nullptr, _IONBF, 0);
  EXPECT_EQ(MixtureModel().Write(full, MM_FF_PLAIN), MM_FILE_WRITE_FAILED);
  fclose(full);
}

// No header or a comment instead, blank lines, commas, CR LF, tabs, short
// weight lines, and a count and a type that are truncated. Any type but 1
// is full.
TEST(ModelFileTest, HandWrittenFormsAreAccepted) {
  for (char const* text : {"1\n1\n0.5 -1\n1 0\n2 0.25\n",
                           "% Plain Matlab-readable \n1.9\n1\n0.5, -1\r\n1.5 0\n\t2 0.25\n",
                           "%comment\n\n# one\n1\n% diagonal\n1\n0.5 -1\n\n1 0\n2 0.25\n"}) {
    MixtureModel read;
    ASSERT_EQ(ReadText(read, text), MM_FILE_OK) << text;
    EXPECT_TRUE(SameBits(read, Example())) << text;
  }
  for (char const* type : {"0", "2", "7", "-0.5"}) {
    MixtureModel read;
    ASSERT_EQ(ReadText(read, std::string("1\n1\n0.5 -1\n") + type + " 0\n2 0.5\n0.5 1\n"), MM_FILE_OK);
    EXPECT_EQ(read.components[0]->type, MM_COV_FULL) << type;
    EXPECT_EQ(read.components[0]->covariance(1, 0), 0.5) << type;
  }
}

TEST(ModelFileTest, MalformedFilesAreRejected) {
  std::string const body = "\n1\n0.5 -1\n1 0\n2 0.25\n";  // one component after the count
  std::string const start = "1\n1\n0.5 -1\n";             // count, weight and mean
  std::string const header = "% Plain Matlab-readable";
  std::string wide;  // a dimension whose d * d overflows an int
  for (int j = 0; j < 46341; ++j) wide += "0 ";
  for (std::string const& text : std::vector<std::string>{
           "", header, header + "\n",
           // Counts that are no usable int, or more than the file holds.
           "NaN" + body, "inf" + body, "1e10" + body, "2147483648" + body, "-1" + body,
           "-3.5" + body, "2147483647" + body,
           // Types that are no usable int.
           start + "nan 0\n2 0.25\n", start + "inf 0\n2 0.25\n", start + "1e300 0\n2 0.25\n",
           start + "-2147483649 0\n2 0.25\n",
           // A mean that is not a number.
           "1\n1\n0.5 NaN\n1\n2 0.25\n",
           // A mean shorter than its weight line; variances or a row shorter than the mean.
           "1\n1 0\n0.5\n1\n2\n", start + "1 0\n2\n", start + "2 0\n2 0.5\n0.5\n",
           // A type line, variances or a row longer than the mean.
           start + "1 0 0\n2 0.25 0\n", start + "1 0\n2 0.25 7\n", start + "2 0\n2 0.5\n0.5 1 9\n",
           // Components of different dimensions; a cut inside a full covariance.
           "2" + body + "1\n0.5 -1 3\n1 0 0\n2 0.25 1\n", start + "2 0\n2 0.5\n",
           "1\n1\n" + wide + "\n2" + wide.substr(1) + "\n"}) {
    MixtureModel model;
    EXPECT_EQ(ReadText(model, text), MM_FILE_MALFORMED) << text.substr(0, 60);
  }
}

// A bad count leaves the model as it was; a failure later keeps the
// components read before it.
TEST(ModelFileTest, FailedReadKeepsTheComponentsReadBefore) {
  MixtureModel model = Example();
  EXPECT_EQ(ReadText(model, "-1\n1\n0.5 -1\n1 0\n2 0.25\n"), MM_FILE_MALFORMED);
  EXPECT_TRUE(SameBits(model, Example()));
  EXPECT_EQ(ReadText(model, "2\n0.25\n1 2\n1 0\n3 4\n0.75\n5 6\n"), MM_FILE_MALFORMED);
  ASSERT_EQ(model.count, 1);
  EXPECT_EQ(model.components[0]->weight, 0.25);
  EXPECT_EQ(model.components[0]->mean.data[1], 2.0);
}

// Without the header the count line of a pipe would be lost: refused, not
// misread.
TEST(ModelFileTest, PipeNeedsTheHeaderBecauseItCannotGoBack) {
  for (bool header : {true, false}) {
    FILE* pipe = popen(header ? "printf '%% Plain Matlab-readable\\n1\\n1\\n0.5\\n1\\n2\\n'"
                              : "printf '1\\n1\\n0.5\\n1\\n2\\n'", "r");
    ASSERT_NE(pipe, nullptr);
    MixtureModel model;
    MixtureModelFileFormat format = MM_FF_NONE;
    EXPECT_EQ(model.Read(pipe, format), header ? MM_FILE_OK : MM_FILE_MALFORMED);
    pclose(pipe);
  }
}

}  // namespace
