#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "data/temp_file.h"
#include "mixture/helpers.h"

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

// One 2-d diagonal component: the example file, and what a failed read must
// not touch.
MixtureModel Example() {
  MixtureModel model;
  AddComponent(model, MM_COV_DIAGONAL, 1, {0.5, -1}, {2, 0.25});
  return model;
}

std::string const kExample = "% Plain Matlab-readable\n1 0\n1 0\n0.5 -1 \n1 0\n2 0.25 \n";

// Three components of dimension d, the middle one full, with values of
// varied size and sign that "%.15g" writes back exactly.
MixtureModel Mixed(int d) {
  MixtureModel model;
  for (int k = 0; k < 3; ++k) {
    std::vector<double> v(d * d);
    char text[32];
    for (int j = 0; j < d * d; ++j) {
      snprintf(text, sizeof text, "%.15g", std::sin(k * 7.0 + j) * std::pow(10.0, j % 7 - 3));
      v[j] = strtod(text, nullptr);
    }
    std::vector<double> mean(v.begin(), v.begin() + d), variances(v.end() - d, v.end());
    bool const full = k == 1;
    AddComponent(model, full ? MM_COV_FULL : MM_COV_DIAGONAL, 0.375, mean, full ? v : variances);
  }
  return model;
}

}  // namespace

TEST(ModelFileWriteTest, ExampleFilesByteForByte) {
  EXPECT_EQ(Written(Example()), kExample);
  EXPECT_EQ(Written(MixtureModel()), "% Plain Matlab-readable\n0\n");
  // Single numbers are padded to the dimension; weights keep six digits.
  MixtureModel full;
  AddComponent(full, MM_COV_FULL, 1.0 / 3, {1.0 / 3, 0, -2}, {1, 0, 0, 0, 2, 0, 0, 0, 1e-20});
  EXPECT_EQ(Written(full),
            "% Plain Matlab-readable\n1 0 0\n0.333333 0 0\n0.333333333333333 0 -2 \n"
            "2 0 0\n1 0 0 \n0 2 0 \n0 0 1e-20 \n");
}

TEST(ModelFileWriteTest, NamedFilesAndTheirFailures) {
  TempFile file;
  EXPECT_EQ(Example().Write(file.path.c_str(), MM_FF_NONE), MM_FILE_NO_FORMAT);
  ASSERT_EQ(Example().Write(file.path.c_str(), MM_FF_PLAIN), MM_FILE_OK);
  MixtureModel model;
  MixtureModelFileFormat format = MM_FF_NONE;
  ASSERT_EQ(model.Read(file.path.c_str(), format), MM_FILE_OK);
  EXPECT_TRUE(SameBits(model, Example()));
  EXPECT_EQ(model.Read("/nonexistent-directory/model", format), MM_FILE_CANNOT_OPEN);
  EXPECT_EQ(Example().Write("/nonexistent-directory/model", MM_FF_PLAIN), MM_FILE_CANNOT_OPEN);
  if (access("/dev/full", W_OK) != 0) return;
  EXPECT_EQ(Example().Write("/dev/full", MM_FF_PLAIN), MM_FILE_WRITE_FAILED);
  FILE* full = fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  EXPECT_EQ(Example().Write(full, MM_FF_PLAIN), MM_FILE_WRITE_FAILED);
  fclose(full);
}

TEST(ModelFileReadTest, WrittenModelsReadBackExactly) {
  for (int d : {1, 2, 7}) {
    MixtureModel written = Mixed(d), read;
    ASSERT_EQ(ReadText(read, Written(written)), MM_FILE_OK) << d;
    EXPECT_TRUE(SameBits(read, written)) << d;
  }
}

TEST(ModelFileReadTest, HandWrittenFormsAreAccepted) {
  // No header or a comment instead, blank lines, commas, CR LF, tabs, short
  // weight lines, and a count and a type that are truncated.
  for (char const* text : {"1\n1\n0.5 -1\n1 0\n2 0.25\n",
                           "% Plain Matlab-readable \n1.9\n1\n0.5, -1\r\n1.5 0\n\t2 0.25\n",
                           "%comment\n\n# one\n1\n% diagonal\n1\n0.5 -1\n\n1 0\n2 0.25\n"}) {
    MixtureModel read;
    ASSERT_EQ(ReadText(read, text), MM_FILE_OK) << text;
    EXPECT_TRUE(SameBits(read, Example())) << text;
  }
  // Any type but 1 is full.
  for (char const* type : {"0", "2", "7", "-0.5"}) {
    MixtureModel read;
    std::string const text = std::string("1\n1\n0.5 -1\n") + type + " 0\n2 0.5\n0.5 1\n";
    ASSERT_EQ(ReadText(read, text), MM_FILE_OK);
    EXPECT_EQ(read.components[0]->type, MM_COV_FULL) << type;
    EXPECT_EQ(read.components[0]->covariance(1, 0), 0.5) << type;
  }
}

TEST(ModelFileReadTest, MalformedFilesAreRejected) {
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

TEST(ModelFileReadTest, FailedReadKeepsTheComponentsReadBefore) {
  // Before the count nothing changes.
  MixtureModel model = Example();
  EXPECT_EQ(ReadText(model, "-1\n1\n0.5 -1\n1 0\n2 0.25\n"), MM_FILE_MALFORMED);
  EXPECT_TRUE(SameBits(model, Example()));
  EXPECT_EQ(ReadText(model, "2\n0.25\n1 2\n1 0\n3 4\n0.75\n5 6\n"), MM_FILE_MALFORMED);
  ASSERT_EQ(model.count, 1);
  EXPECT_EQ(model.components[0]->weight, 0.25);
  EXPECT_EQ(model.components[0]->mean.data[1], 2.0);
}

TEST(ModelFileReadTest, PipeNeedsTheHeaderBecauseItCannotGoBack) {
  // Without the header the count line would be lost: refused, not misread.
  for (bool header : {true, false}) {
    FILE* pipe = popen(header ? "printf '%% Plain Matlab-readable\\n1\\n1\\n0.5\\n1\\n2\\n'"
                              : "printf '1\\n1\\n0.5\\n1\\n2\\n'",
                       "r");
    ASSERT_NE(pipe, nullptr);
    MixtureModel model;
    MixtureModelFileFormat format = MM_FF_NONE;
    EXPECT_EQ(model.Read(pipe, format), header ? MM_FILE_OK : MM_FILE_MALFORMED);
    pclose(pipe);
  }
}
