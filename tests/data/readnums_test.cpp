#include "data/readnums.h"

#include <sstream>

#include "support/files.h"

namespace {

// The numbers of the next vector line of text, read with room for length.
std::vector<double> Numbers(std::string const& text, int& incomplete, int& error, int length = 3) {
  double* values = ReadVector(TextStream(text).file, &length, &incomplete, &error);
  return values ? std::vector<double>(values, values + length) : std::vector<double>();
}

// The same as text: the numbers, then "?" when incomplete; or "error".
std::string Read(std::string const& text, int length = 3) {
  int incomplete, error;
  std::ostringstream out;
  for (double value : Numbers(text, incomplete, error, length)) out << value << " ";
  return error ? "error" : out.str() + (incomplete ? "?" : "");
}

// A stray character where a number must stand would otherwise be read as a
// phantom 0, so it is an error; comments exist only as whole lines. Values
// that are not finite, in any spelling, make the line incomplete.
TEST(ReadVectorTest, SeparatorsPercentErrorsAndNonFiniteValues) {
  char const lines[] =
      "1, 2,\t3\r\n|  1\t2 \t 3  |1,\t2,\v3,\f\n|1 2\n|1 2 3 4\n|50% 25% 1%,\n|"
      "% c\n\n \t\r\n# c\n1 2 3\n|\n# c\n|1e-999 2 3\n|1 NaN 3\n|1 inf 3\n|1 -INFINITY 3\n|"
      "1 1e999% -1e999\n|1;2;3\n|1 2 3 # note\n|5 %\n|1%% 2\n|1 two 3\n|- 1\n|1e 2\n|1 \0 2\n|";
  std::istringstream in(std::string(lines, sizeof lines - 1));
  std::string all;
  for (std::string line; std::getline(in, line, '|');) all += Read(line) + "|";
  EXPECT_EQ(all,
            "1 2 3 |1 2 3 |1 2 3 |1 2 ?|1 2 3 4 |0.5 0.25 0.01 |1 2 3 ||0 2 3 |1 nan 3 ?|1 inf 3 ?|"
            "1 -inf 3 ?|1 inf -inf ?|error|error|error|error|error|error|error|error|");
  // An expected length below one asks for at least one number.
  EXPECT_EQ(Read("5\n", 0), "5 ");
}

// Comma-separated files: a number directly behind a comma is read as if a
// blank stood between them, to the same bits and flags as the line with
// blanks for its commas, and a trailing comma is still allowed. Where a
// comma leaves no number to read (first, doubled, after a blank, before
// anything else) the line is an error.
TEST(ReadVectorTest, CommaDirectlyBeforeANumberSeparatesLikeABlank) {
  for (std::string const comma :
       {"1.5,-2", "1,2 3\n", "-0.1,+3e-5,0x1p-3,.5,\r\n", "50%,25%,1e2%\n", "1,nan,3\n", "1.5,"}) {
    std::string blank = comma;
    std::replace(blank.begin(), blank.end(), ',', ' ');
    int incomplete, error, blank_incomplete, blank_error;
    std::vector<double> const read = Numbers(comma, incomplete, error);
    std::vector<double> const expected = Numbers(blank, blank_incomplete, blank_error);
    EXPECT_TRUE(!expected.empty() && SameBits(Row(read), Row(expected)) && error == 0 &&
                incomplete == blank_incomplete)
        << comma;
  }
  for (char const* line : {",1 2\n", "1,,2\n", "1 ,2\n", "1, ,2\n", "1,x\n", "1,%\n", "1,#2\n"})
    EXPECT_EQ(Read(line), "error") << line;
}

// Lines around and beyond the buffer's sizes come back whole, counted once,
// also the last line without a line feed and lines holding zero characters
// (fgets cannot tell them from its terminator).
TEST(ReadTextFileLineTest, LinesOfAnyLengthComeBackWhole) {
  std::string const zero("ab\0cd\n", 6), zero_at_end("xyz\0", 4);
  for (size_t length : {1u, 1022u, 1023u, 1024u, 2047u, 2048u, 5000u, 1u << 20}) {
    std::string const line = std::string(length, 'a') + "\n", last(length, '7');
    TextStream stream(line + zero + last + "\n" + zero_at_end);
    ResetLineCounter(0);
    for (std::string const& expected : {line, zero, last + "\n", zero_at_end}) {
      char const* text = ReadTextFileLine(stream.file);
      EXPECT_EQ(std::string(text, LastLineLength()), expected) << length;
    }
    EXPECT_TRUE(ReadTextFileLine(stream.file) == nullptr && CurrentLineNumber() == 4) << length;
    EXPECT_EQ(ReadTextFileLine(TextStream(last).file), last);
  }
}

// Every spelling of a number gives the bits strtod gives, also where the
// reader converts it without strtod: short and long mantissas, exponents
// that overflow, underflow or give subnormals, and hexadecimal.
TEST(ReadVectorTest, NumbersEqualStrtod) {
  std::istringstream edges(  // the largest double and beyond, the subnormals and below
      "-0 9007199254740993 1e23 0x1p-3 0X1P+3 -0x.8 4.35 +1.5 -.5 1.e2 2E-1 123456789012345678901 "
      "1.7976931348623157e308 1.7976931348623158e308 1.7976931348623159e308 1e309 0e99999 "
      "4.9406564584124654e-324 2.4703282292062327e-324 2.4703282292062328e-324 -1e-324 "
      "1e99999999999999999999 1e-99999999999999999999");
  int incomplete, error;
  for (std::string number; edges >> number;)
    EXPECT_TRUE(
        SameBits(Numbers(number + "\n", incomplete, error).at(0), strtod(number.c_str(), nullptr)))
        << number;
}

}  // namespace
