#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "mixture/helpers.h"
#include "mixture/mixmodel.h"

namespace {

// The text that Write gives for model.
std::string Written(MixtureModel const& model, MixtureModelFileFormat format = MM_FF_PLAIN,
                    int* result = nullptr) {
  FILE* file = tmpfile();
  int const code = model.Write(file, format);
  if (result) *result = code;
  return ContentsAndClose(file);
}

// Reads text into model; returns the result code.
int ReadText(MixtureModel& model, std::string const& text) {
  FILE* file = tmpfile();
  fwrite(text.data(), 1, text.size(), file);
  rewind(file);
  MixtureModelFileFormat format = MM_FF_NONE;
  int const result = model.Read(file, format);
  fclose(file);
  if (result == MM_FILE_OK) {
    EXPECT_EQ(format, MM_FF_PLAIN);
  }
  return result;
}

void AddComponent(MixtureModel& model, MixtureCovarianceMatrixType type, double weight,
                  Matrix const& mean, Matrix const& covariance) {
  model.Add(*NewComponent(type, weight, mean, covariance));
}

// Values of varied size and sign, rounded to fifteen significant digits:
// "%.15g" writes them back exactly.
double Value(int k, int j) {
  char text[32];
  snprintf(text, sizeof text, "%.15g", std::sin(k * 7.0 + j) * std::pow(10.0, j % 7 - 3));
  return strtod(text, nullptr);
}

MixtureModel Mixed(int d) {
  MixtureModel model;
  Matrix mean(1, d);
  Matrix variances(1, d);
  Matrix full(d, d);
  for (int k = 0; k < 3; ++k) {
    for (int j = 0; j < d; ++j) {
      mean.data[j] = Value(k, j);
      variances.data[j] = 0.5 + j;
    }
    for (int i = 0; i < d * d; ++i) full.data[i] = Value(k, i);
    if (k == 1) {
      AddComponent(model, MM_COV_FULL, 0.25, mean, full);
    } else {
      AddComponent(model, MM_COV_DIAGONAL, 0.375, mean, variances);
    }
  }
  return model;
}

void ExpectSameModel(MixtureModel const& a, MixtureModel const& b) {
  ASSERT_EQ(a.count, b.count);
  for (int k = 0; k < a.count; ++k) {
    MixtureComponent const& x = *a.components[k];
    MixtureComponent const& y = *b.components[k];
    EXPECT_EQ(x.type, y.type);
    EXPECT_EQ(x.weight, y.weight);
    ASSERT_EQ(x.mean.columns, y.mean.columns);
    ASSERT_EQ(x.covariance.rows, y.covariance.rows);
    ASSERT_EQ(x.covariance.columns, y.covariance.columns);
    for (int j = 0; j < x.mean.columns; ++j) EXPECT_EQ(x.mean.data[j], y.mean.data[j]);
    for (int j = 0; j < x.covariance.ElementCount(); ++j) {
      EXPECT_EQ(x.covariance.data[j], y.covariance.data[j]);
    }
  }
}

// A model of one 2-d diagonal component; what a failed read must not touch.
MixtureModel Previous() {
  MixtureModel model;
  AddComponent(model, MM_COV_DIAGONAL, 1, FromValues(1, 2, {0.5, -1}), FromValues(1, 2, {2, 0.25}));
  return model;
}

std::string const kExample =
    "% Plain Matlab-readable\n"
    "1 0\n"
    "1 0\n"
    "0.5 -1 \n"
    "1 0\n"
    "2 0.25 \n";

// Two 2-d components, the second full; each test cuts or alters it.
std::string const kTwo =
    "% Plain Matlab-readable\n"
    "2 0\n"
    "0.25 0\n"
    "1 2 \n"
    "1 0\n"
    "3 4 \n"
    "0.75 0\n"
    "5 6 \n"
    "2 0\n"
    "4 2 \n"
    "2 10 \n";

}  // namespace

// ---------------------------------------------------------------------------
// Writing

TEST(ModelFileWriteTest, ExampleFileByteForByte) {
  EXPECT_EQ(Written(Previous()), kExample);
}

TEST(ModelFileWriteTest, EmptyModelIsHeaderAndZero) {
  EXPECT_EQ(Written(MixtureModel()), "% Plain Matlab-readable\n0\n");
}

TEST(ModelFileWriteTest, FullComponentPadsItsSingleNumberLines) {
  MixtureModel model;
  AddComponent(model, MM_COV_FULL, 1.0 / 3, FromValues(1, 3, {1.0 / 3, 0, -2}),
               FromValues(3, 3, {1, 0, 0, 0, 2, 0, 0, 0, 1e-20}));
  EXPECT_EQ(Written(model),
            "% Plain Matlab-readable\n"
            "1 0 0\n"
            "0.333333 0 0\n"
            "0.333333333333333 0 -2 \n"
            "2 0 0\n"
            "1 0 0 \n"
            "0 2 0 \n"
            "0 0 1e-20 \n");
}

TEST(ModelFileWriteTest, FormatNoneWritesNothingAndOtherFormatsDoNothing) {
  int result = -1;
  EXPECT_EQ(Written(Previous(), MM_FF_NONE, &result), "");
  EXPECT_EQ(result, MM_FILE_NO_FORMAT);
  EXPECT_EQ(Written(Previous(), static_cast<MixtureModelFileFormat>(7), &result), "");
  EXPECT_EQ(result, MM_FILE_OK);
}

TEST(ModelFileWriteTest, NamedFileFormsReportOpenFormatAndWriteFailures) {
  std::string const path = ::testing::TempDir() + "mixfit_model_" + std::to_string(getpid());
  FILE* file = fopen(path.c_str(), "w");
  fputs("old contents\n", file);
  fclose(file);
  // Format 0 has already truncated the file.
  EXPECT_EQ(Previous().Write(path.c_str(), MM_FF_NONE), MM_FILE_NO_FORMAT);
  MixtureModel model;
  MixtureModelFileFormat format = MM_FF_PLAIN;
  EXPECT_EQ(model.Read(path.c_str(), format), MM_FILE_MALFORMED);

  EXPECT_EQ(Previous().Write(path.c_str(), MM_FF_PLAIN), MM_FILE_OK);
  EXPECT_EQ(model.Read(path.c_str(), format), MM_FILE_OK);
  ExpectSameModel(model, Previous());
  remove(path.c_str());

  EXPECT_EQ(model.Read(path.c_str(), format), MM_FILE_CANNOT_OPEN);
  EXPECT_EQ(model.Write("/nonexistent-directory/model", MM_FF_PLAIN), MM_FILE_CANNOT_OPEN);
}

TEST(ModelFileWriteTest, FullDeviceIsAWriteFailure) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  EXPECT_EQ(Previous().Write("/dev/full", MM_FF_PLAIN), MM_FILE_WRITE_FAILED);
  FILE* file = fopen("/dev/full", "w");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(Previous().Write(file, MM_FF_PLAIN), MM_FILE_WRITE_FAILED);
  fclose(file);
  // Distinct from success and from every read result.
  EXPECT_NE(MM_FILE_WRITE_FAILED, MM_FILE_OK);
  EXPECT_NE(MM_FILE_WRITE_FAILED, MM_FILE_CANNOT_OPEN);
  EXPECT_NE(MM_FILE_WRITE_FAILED, MM_FILE_MALFORMED);
  EXPECT_NE(MM_FILE_WRITE_FAILED, MM_FILE_NO_FORMAT);
}

// ---------------------------------------------------------------------------
// Reading what was written

TEST(ModelFileReadTest, RoundTripInSeveralDimensions) {
  for (int d : {1, 2, 3, 7}) {
    MixtureModel written = Mixed(d);
    MixtureModel read;
    ASSERT_EQ(ReadText(read, Written(written)), MM_FILE_OK) << d;
    ExpectSameModel(read, written);
    EXPECT_EQ(Written(read), Written(written));
  }
}

TEST(ModelFileReadTest, WeightsKeepSixDigits) {
  MixtureModel model = Previous();
  model.components[0]->weight = 1.0 / 3;
  MixtureModel read;
  ASSERT_EQ(ReadText(read, Written(model)), MM_FILE_OK);
  EXPECT_EQ(read.components[0]->weight, 0.333333);
}

TEST(ModelFileReadTest, HeaderIsOptional) {
  std::string const body = kExample.substr(kExample.find('\n') + 1);
  for (std::string text : {body, "% Plain Matlab-readable \n" + body, "%comment\n\n" + body}) {
    MixtureModel read;
    ASSERT_EQ(ReadText(read, text), MM_FILE_OK) << text;
    ExpectSameModel(read, Previous());
  }
}

TEST(ModelFileReadTest, HandWrittenFilesWithCommentsBlanksAndShortWeightLines) {
  MixtureModel read;
  ASSERT_EQ(ReadText(read,
                     "# two components\n"
                     "2\n"
                     "\n"
                     "0.25\n"
                     "1, 2\r\n"
                     "% diagonal\n"
                     "1 0\n"
                     "3 4\n"
                     "0.75 0\n"
                     "5 6\n"
                     "2 0\n"
                     "\t4 2\n"
                     "2 10\n"),
            MM_FILE_OK);
  MixtureModel expected;
  ASSERT_EQ(ReadText(expected, kTwo), MM_FILE_OK);
  ExpectSameModel(read, expected);
  EXPECT_EQ(read.components[1]->type, MM_COV_FULL);
  EXPECT_EQ(read.components[1]->covariance(1, 0), 2.0);
}

TEST(ModelFileReadTest, CountIsTruncated) {
  std::string text = kTwo;
  text.replace(text.find("2 0\n"), 4, "2.9 0\n");
  MixtureModel read;
  ASSERT_EQ(ReadText(read, text), MM_FILE_OK);
  EXPECT_EQ(read.count, 2);

  MixtureModel emptied = Previous();
  EXPECT_EQ(ReadText(emptied, "% Plain Matlab-readable\n0\n"), MM_FILE_OK);
  EXPECT_EQ(emptied.count, 0);
  EXPECT_EQ(emptied.components, nullptr);
}

TEST(ModelFileReadTest, TypeLineIsTruncatedAndOnlyOneMeansDiagonal) {
  struct Case {
    char const* type;
    MixtureCovarianceMatrixType expected;
  };
  for (Case c : {Case{"0 0", MM_COV_FULL}, Case{"1 0", MM_COV_DIAGONAL},
                 Case{"1.5 0", MM_COV_DIAGONAL}, Case{"2 0", MM_COV_FULL},
                 Case{"7 0", MM_COV_FULL}, Case{"-0.5 0", MM_COV_FULL}}) {
    bool const diagonal = c.expected == MM_COV_DIAGONAL;
    MixtureModel read;
    ASSERT_EQ(ReadText(read, std::string("1\n1\n0.5 -1\n") + c.type +
                                 (diagonal ? "\n2 0.25\n" : "\n2 0.5\n0.5 1\n")),
              MM_FILE_OK)
        << c.type;
    MixtureComponent const& component = *read.components[0];
    EXPECT_EQ(component.type, c.expected) << c.type;
    EXPECT_EQ(component.covariance.rows, diagonal ? 1 : 2);
    EXPECT_EQ(component.covariance.columns, 2);
  }
}

TEST(ModelFileReadTest, NaNWeightIsAcceptedButNotANaNMean) {
  std::string text = kExample;
  text.replace(text.find("1 0\n1 0\n") + 4, 1, "NaN");
  MixtureModel read;
  ASSERT_EQ(ReadText(read, text), MM_FILE_OK) << text;
  EXPECT_TRUE(std::isnan(read.components[0]->weight));

  text = kExample;
  text.replace(text.find("-1"), 2, "NaN");
  EXPECT_EQ(ReadText(read, text), MM_FILE_MALFORMED) << text;
}

// ---------------------------------------------------------------------------
// Failures

TEST(ModelFileReadTest, EmptyAndHeaderOnlyFilesLeaveTheModelUnchanged) {
  MixtureModel model = Previous();
  EXPECT_EQ(ReadText(model, ""), MM_FILE_MALFORMED);
  EXPECT_EQ(ReadText(model, "% Plain Matlab-readable\n"), MM_FILE_MALFORMED);
  EXPECT_EQ(ReadText(model, "% Plain Matlab-readable"), MM_FILE_MALFORMED);
  EXPECT_EQ(ReadText(model, "% Plain Matlab-readable\n1 2; 3\n"), MM_FILE_MALFORMED);
  ExpectSameModel(model, Previous());
}

TEST(ModelFileReadTest, TruncatedFileKeepsTheComponentsReadBefore) {
  std::string const text = kTwo.substr(0, kTwo.find("5 6 \n") + 5);
  MixtureModel model = Previous();
  EXPECT_EQ(ReadText(model, text), MM_FILE_MALFORMED);
  ASSERT_EQ(model.count, 1);
  EXPECT_EQ(model.components[0]->weight, 0.25);
  EXPECT_EQ(model.components[0]->mean.data[1], 2.0);

  // Cut inside the full covariance.
  EXPECT_EQ(ReadText(model, kTwo.substr(0, kTwo.size() - 6)), MM_FILE_MALFORMED);
  EXPECT_EQ(model.count, 1);
}

TEST(ModelFileReadTest, ShortLinesAreRejected) {
  MixtureModel model;
  // A mean line shorter than the weight line.
  EXPECT_EQ(ReadText(model, "1\n1 0\n0.5\n1\n2\n"), MM_FILE_MALFORMED);
  // A variance line shorter than the mean line.
  EXPECT_EQ(ReadText(model, "1\n1\n0.5 -1\n1 0\n2\n"), MM_FILE_MALFORMED);
  // A covariance row shorter than the one before.
  EXPECT_EQ(ReadText(model, "1\n1\n0.5 -1\n2 0\n2 0.5\n0.5\n"), MM_FILE_MALFORMED);
}

TEST(ModelFileReadTest, CountThatIsNotAUsableIntIsRejectedBeforeAnythingChanges) {
  for (char const* count : {"NaN", "nan", "inf", "-inf", "1e10", "2147483648", "-1", "-3.5"}) {
    MixtureModel model = Previous();
    EXPECT_EQ(ReadText(model, std::string(count) + "\n" + kExample.substr(28)), MM_FILE_MALFORMED)
        << count;
    ExpectSameModel(model, Previous());
  }
  // The largest int is a count; the file then ends too early.
  MixtureModel model;
  EXPECT_EQ(ReadText(model, "2147483647\n" + kExample.substr(28)), MM_FILE_MALFORMED);
  EXPECT_EQ(model.count, 1);
}

TEST(ModelFileReadTest, TypeThatIsNotAUsableIntIsRejected) {
  for (char const* type : {"nan 0", "NaN 0", "inf 0", "1e300 0", "-2147483649 0"}) {
    MixtureModel model;
    EXPECT_EQ(ReadText(model, std::string("1\n1\n0.5 -1\n") + type + "\n2 0.25\n"),
              MM_FILE_MALFORMED)
        << type;
  }
}

TEST(ModelFileReadTest, LinesLongerThanTheMeanAreRejected) {
  MixtureModel model;
  // Type line.
  EXPECT_EQ(ReadText(model, "1\n1\n0.5 -1\n1 0 0\n2 0.25 0\n"), MM_FILE_MALFORMED);
  EXPECT_EQ(ReadText(model, "1\n1\n0.5 -1\n2 0 0\n2 0 0\n0 2 0\n0 0 2\n"), MM_FILE_MALFORMED);
  // Variance line.
  EXPECT_EQ(ReadText(model, "1\n1\n0.5 -1\n1 0\n2 0.25 7\n"), MM_FILE_MALFORMED);
  // Second row of a full covariance.
  EXPECT_EQ(ReadText(model, "1\n1\n0.5 -1\n2 0\n2 0.5\n0.5 1 9\n"), MM_FILE_MALFORMED);
}

TEST(ModelFileReadTest, ComponentsOfDifferentDimensionsAreRejected) {
  MixtureModel model;
  EXPECT_EQ(ReadText(model, "2\n1\n0.5 -1\n1 0\n2 0.25\n1\n0.5 -1 3\n1 0 0\n2 0.25 1\n"),
            MM_FILE_MALFORMED);
  ASSERT_EQ(model.count, 1);
  EXPECT_EQ(model.components[0]->mean.columns, 2);
}

TEST(ModelFileReadTest, ComponentReadRefusesFormatNoneAndSkipsOthers) {
  FILE* file = tmpfile();
  fputs("1\n1\n1\n1\n", file);
  rewind(file);
  MixtureComponent component(MM_COV_DIAGONAL, 1, true);
  EXPECT_EQ(component.Read(file, MM_FF_NONE), MM_FILE_MALFORMED);
  EXPECT_EQ(component.Read(file, static_cast<MixtureModelFileFormat>(5)), MM_FILE_OK);
  EXPECT_EQ(component.weight, 0.0);
  EXPECT_EQ(ftell(file), 0);
  fclose(file);
}

TEST(ModelFileReadTest, PipeNeedsTheHeaderBecauseItCannotGoBack) {
  MixtureModelFileFormat format = MM_FF_NONE;
  MixtureModel model;
  FILE* pipe = popen("printf '%% Plain Matlab-readable\\n1\\n1\\n0.5\\n1\\n2\\n'", "r");
  ASSERT_NE(pipe, nullptr);
  EXPECT_EQ(model.Read(pipe, format), MM_FILE_OK);
  pclose(pipe);
  EXPECT_EQ(model.count, 1);

  // Without the header the count line would be lost: refused, not misread.
  pipe = popen("printf '1\\n1\\n0.5\\n1\\n2\\n'", "r");
  ASSERT_NE(pipe, nullptr);
  EXPECT_EQ(model.Read(pipe, format), MM_FILE_MALFORMED);
  pclose(pipe);
  EXPECT_EQ(model.count, 1);
}

TEST(ModelFileReadTest, FullCovarianceTooLargeToIndexIsRejected) {
  std::string mean;
  for (int j = 0; j < 46341; ++j) mean += "0 ";
  MixtureModel model;
  EXPECT_EQ(ReadText(model, "1\n1\n" + mean + "\n2" + mean.substr(1) + "\n"), MM_FILE_MALFORMED);
}
