#include "data/readnums.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "data/temp_file.h"

namespace {

std::string LineOf(size_t length, char c = 'a') { return std::string(length, c) + "\n"; }

// The values of the next vector line, with the flags, for table checks.
struct VectorLine {
  std::vector<double> values;
  int length = 0;
  int incomplete = 0;
  int error = 0;
  bool absent = true;
};

VectorLine ReadOne(FILE* file, int expected) {
  VectorLine result;
  result.length = expected;
  double* values = ReadVector(file, &result.length, &result.incomplete, &result.error);
  result.absent = values == nullptr;
  if (values) result.values.assign(values, values + result.length);
  return result;
}

VectorLine ReadOne(std::string const& text, int expected) {
  TextStream stream(text);
  return ReadOne(stream.file, expected);
}

}  // namespace

// Lines around and beyond the first buffer's size come back whole, each
// counted once, and the following line is not disturbed.
TEST(ReadTextFileLineTest, LinesOfAnyLengthComeBackWhole) {
  for (size_t length : {1u, 1021u, 1022u, 1023u, 1024u, 1500u, 2046u, 2047u, 2048u, 5000u, 1u << 20}) {
    std::string line = LineOf(length);
    TextStream stream(line + "next\n");
    ResetLineCounter(0);
    char* text = ReadTextFileLine(stream.file);
    ASSERT_NE(text, nullptr) << length;
    EXPECT_EQ(std::string(text), line) << length;
    EXPECT_EQ(LastLineLength(), static_cast<int>(length + 1));
    EXPECT_EQ(CurrentLineNumber(), 1);
    EXPECT_STREQ(ReadTextFileLine(stream.file), "next\n");
    EXPECT_EQ(ReadTextFileLine(stream.file), nullptr);
    EXPECT_EQ(CurrentLineNumber(), 2);
  }
}

TEST(ReadTextFileLineTest, LastLineWithoutLineFeedAndEndOfInput) {
  TextStream stream("first\nlast");
  EXPECT_STREQ(ReadTextFileLine(stream.file), "first\n");
  EXPECT_STREQ(ReadTextFileLine(stream.file), "last");
  EXPECT_EQ(ReadTextFileLine(stream.file), nullptr);
  EXPECT_EQ(ReadTextFileLine(stream.file), nullptr);

  for (size_t length : {1023u, 1024u, 2047u, 3000u}) {
    std::string long_last(length, '7');
    TextStream long_stream(long_last);
    EXPECT_EQ(ReadTextFileLine(long_stream.file), long_last);
    EXPECT_EQ(ReadTextFileLine(long_stream.file), nullptr);
  }

  TextStream empty("");
  EXPECT_EQ(ReadTextFileLine(empty.file), nullptr);
}

// fgets cannot tell a zero character from its terminator; the reader must
// still return the whole line and move on instead of reading it for ever.
TEST(ReadTextFileLineTest, ZeroCharactersInsideALine) {
  std::string with_zero("ab\0cd\n", 6);
  std::string zero_at_end("xyz\0", 4);
  TextStream stream(with_zero + "\n" + LineOf(1200) + zero_at_end);
  char* text = ReadTextFileLine(stream.file);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::string(text, LastLineLength()), with_zero);
  EXPECT_STREQ(ReadTextFileLine(stream.file), "\n");
  EXPECT_EQ(ReadTextFileLine(stream.file), LineOf(1200));
  text = ReadTextFileLine(stream.file);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::string(text, LastLineLength()), zero_at_end);
  EXPECT_EQ(ReadTextFileLine(stream.file), nullptr);
}

TEST(ReadTextFileLineTest, ReadFailureEndsTheInput) {
  FILE* directory = fopen(testing::TempDir().c_str(), "r");
  if (!directory) GTEST_SKIP() << "directories cannot be opened as streams here";
  EXPECT_EQ(ReadTextFileLine(directory), nullptr);
  EXPECT_TRUE(ferror(directory));
  fclose(directory);
}

TEST(ReadVectorTest, SeparatorsAndLengths) {
  struct Case {
    const char* line;
    std::vector<double> values;
    int incomplete;
  } cases[] = {
      {"1 2 3\n", {1, 2, 3}, 0},
      {"1, 2, 3\n", {1, 2, 3}, 0},
      {"  1\t2 \t 3  \n", {1, 2, 3}, 0},
      {"1,\t2,\v3,\f\n", {1, 2, 3}, 0},
      {"1 2 3\r\n", {1, 2, 3}, 0},
      {"1 2 3", {1, 2, 3}, 0},
      {"1 2\n", {1, 2}, 1},
      {"1 2 3 4\n", {1, 2, 3, 4}, 0},
      {"+1.5 -.5 1.e2 2E-1\n", {1.5, -0.5, 100, 0.2}, 0},
      {"50% 25% 1%,\n", {50 * 0.01, 25 * 0.01, 1 * 0.01}, 0},
  };
  for (Case const& c : cases) {
    VectorLine read = ReadOne(c.line, 3);
    EXPECT_FALSE(read.absent) << c.line;
    EXPECT_EQ(read.values, c.values) << c.line;
    EXPECT_EQ(read.incomplete, c.incomplete) << c.line;
    EXPECT_EQ(read.error, 0) << c.line;
  }
  EXPECT_EQ(ReadOne("50% 25%\n", 2).values, (std::vector<double>{0.5, 0.25}));
}

// A stray character where a number must stand would otherwise be read as a
// phantom 0; comments exist only as whole lines.
TEST(ReadVectorTest, SyntaxErrors) {
  for (const char* line : {"1,2 3\n", "1;2;3\n", "1 2 3 # note\n", "1 , 2\n", "5 %\n", "1 2 ,\n",
                           "1,, 2\n", "1%% 2\n", ",\n", "1 two 3\n", "- 1\n", "1 . 2\n"}) {
    VectorLine read = ReadOne(line, 3);
    EXPECT_TRUE(read.absent) << line;
    EXPECT_EQ(read.error, 1) << line;
    EXPECT_EQ(read.incomplete, 0) << line;
    EXPECT_EQ(read.length, 3) << line;
  }
}

TEST(ReadVectorTest, ZeroCharacterInADataLineIsAnErrorNotInAComment) {
  TextStream stream(std::string("# a \0 comment\n1 2\0 3\n4 5 6\n", 27));
  ResetLineCounter(0);
  VectorLine read = ReadOne(stream.file, 3);
  EXPECT_TRUE(read.absent);
  EXPECT_EQ(read.error, 1);
  EXPECT_EQ(CurrentLineNumber(), 2);
  read = ReadOne(stream.file, 3);
  EXPECT_EQ(read.values, (std::vector<double>{4, 5, 6}));
}

// Non-finite values would turn every statistic into NaN: whatever their
// spelling, the line is incomplete.
TEST(ReadVectorTest, NonFiniteValuesMakeTheLineIncomplete) {
  for (const char* line : {"1 NaN 3\n", "1 Inf 3\n", "1 nan 3\n", "1 inf 3\n", "1 -INFINITY 3\n",
                           "1 1e999 3\n", "1 -1e999 3\n", "1 1e999% 3\n"}) {
    VectorLine read = ReadOne(line, 3);
    EXPECT_FALSE(read.absent) << line;
    EXPECT_EQ(read.length, 3) << line;
    EXPECT_EQ(read.incomplete, 1) << line;
    EXPECT_EQ(read.error, 0) << line;
  }
  VectorLine tiny = ReadOne("1e-999 2 3\n", 3);
  EXPECT_EQ(tiny.incomplete, 0);
  EXPECT_EQ(tiny.values[0], 0.0);
}

TEST(ReadVectorTest, BlankAndCommentLinesAreSkippedButCounted) {
  TextStream stream("% header\n\n   \t\r\n# more\n   %indented\n1 2\n\n");
  ResetLineCounter(0);
  VectorLine read = ReadOne(stream.file, 2);
  EXPECT_EQ(read.values, (std::vector<double>{1, 2}));
  EXPECT_EQ(CurrentLineNumber(), 6);
  read = ReadOne(stream.file, 2);
  EXPECT_TRUE(read.absent);
  EXPECT_EQ(read.error, 0);
  EXPECT_EQ(read.incomplete, 0);
  EXPECT_EQ(CurrentLineNumber(), 7);
}

TEST(ReadVectorTest, ExpectedLengthBelowOneIsRaisedToOne) {
  VectorLine read = ReadOne("7\n", 0);
  EXPECT_EQ(read.length, 1);
  EXPECT_EQ(read.incomplete, 0);

  TextStream empty("");
  int length = -4, incomplete = 1, error = 1;
  EXPECT_EQ(ReadVector(empty.file, &length, &incomplete, &error), nullptr);
  EXPECT_EQ(length, 1);
  EXPECT_EQ(incomplete, 0);
  EXPECT_EQ(error, 0);
}

TEST(ReadVectorTest, LongVectorsAreReadWhole) {
  for (int count : {2000, 100000}) {
    std::string line;
    for (int i = 0; i < count; ++i) line += std::to_string(i) + (i % 2 ? ", " : "\t");
    VectorLine read = ReadOne(line + "\n", count);
    ASSERT_EQ(read.length, count);
    EXPECT_EQ(read.incomplete, 0);
    for (int i = 0; i < count; ++i) ASSERT_EQ(read.values[i], i);
  }
}

// Every spelling of a number gives the bits strtod gives, also where the
// reader converts it without strtod.
TEST(ReadVectorTest, NumbersEqualStrtod) {
  std::mt19937 generator(20240601);
  std::vector<std::string> numbers = {"0",     "-0",         "-0.0e5",   "9007199254740992",
                                      "9007199254740993", "1e22", "1e23", "1e-22",
                                      "1e-23", "0x1p-3",     "0X10",     "123456789012345678901",
                                      "0.1",   "4.35",       "1E+5",     "-1.e-2"};
  for (int i = 0; i < 20000; ++i) {
    std::string number = generator() % 2 ? "-" : "";
    int digits = 1 + generator() % 20;
    int point = generator() % (digits + 1);
    for (int d = 0; d < digits; ++d) {
      if (d == point && d > 0) number += '.';
      number += static_cast<char>('0' + generator() % 10);
    }
    if (generator() % 2) number += "e" + std::to_string(static_cast<int>(generator() % 61) - 30);
    numbers.push_back(number);
  }
  for (std::string const& number : numbers) {
    VectorLine read = ReadOne(number + " 1\n", 2);
    ASSERT_EQ(read.error, 0) << number;
    double expected = strtod(number.c_str(), nullptr);
    ASSERT_EQ(memcmp(&read.values[0], &expected, sizeof expected), 0) << number;
  }
  // strtod stops before an exponent without digits; what is left is an error.
  EXPECT_EQ(ReadOne("1e 2\n", 2).error, 1);
}
