#include "options/options.h"

#include <climits>
#include <tuple>

#include "support/files.h"

namespace {

const char* const kColours[] = {"red", "green", "blue"};

class OptionsTest : public ::testing::Test {
 protected:
  void SetUp() override { FreeOptions(); }
  void TearDown() override { FreeOptions(); }

  // Parses the arguments behind a program name into a fresh table of one
  // option of every value type, one option a line, -z the last; or, with
  // declare false, into the table as it stands. The parser's messages land
  // in messages.
  int Parse(std::vector<const char*> arguments, bool declare = true) {
    if (declare) {
      FreeOptions();
      optAdd('n', "numbers");
      for (int value : {1, 2, 3}) optAddValueInteger(value, 0, 0);
      optAddFlag('q', "quiet", 0);
      optAdd('c', "count");
      optAddValueInteger(1, 1, 1000);
      optAdd('t', "threshold");
      optAddValueDouble(0.5, 0.25, 1.0);
      optAdd('b', "bool");
      optAddValueBool(0);
      optAdd('e', "colour");
      optAddValueEnum(0, 3, kColours);
      optAdd('s', "start");
      optAddValueString(nullptr);
      optAdd('z', "zeta");
      optAddValueInteger(0, 0, 0);
    }
    arguments.insert(arguments.begin(), "prog");
    TextStream stream;
    int code =
        optParseCommandLine(static_cast<int>(arguments.size()), arguments.data(), stream.file);
    messages = stream.Text();
    return code;
  }

  std::string messages;
};

TEST_F(OptionsTest, ValuesSplitOnCommasAndWhiteSpace) {
  for (auto const& [arguments, numbers] :
       std::vector<std::pair<std::vector<const char*>, std::vector<int>>>{
           {{}, {1, 2, 3}},
           {{"--numbers", " \t10\n11\v12\r"}, {10, 11, 12}},
           {{"-n", "7,,9"}, {7, 2, 9}},  // an empty token leaves its value alone
           {{"-n", "--", "-7,-99999999999"}, {-7, INT_MIN, 3}},  // negative values follow "--"
           {{"-n", "0x10,010,99999999999"}, {16, 8, INT_MAX}},
           {{"-z", "5 \t ", "-n", "4"}, {4, 2, 3}}}) {  // trailing blanks are no value
    EXPECT_EQ(Parse(arguments), 0) << messages;
    EXPECT_EQ((std::vector<int>{optInt('n', 1), optInt('n', 2), optInt('n', 3)}), numbers)
        << ::testing::PrintToString(arguments);
  }
}

TEST_F(OptionsTest, ConvertedValuesAndFlags) {
  // Each occurrence inverts a flag; an option with values, given once, is true.
  EXPECT_EQ(Parse({"-q", "-n", "4", "--quiet"}), 0);
  EXPECT_EQ((std::vector<int>{optBool('q', 0), optGivenStr("quiet", 0), optBool('n', 0),
                              optBool('c', 0)}),
            (std::vector<int>{0, 2, 1, 0}));
  std::string token = "model.txt";
  EXPECT_EQ(Parse({"-t", "nan", "-e", "BLUE", "-s", token.c_str()}), 0);
  token[0] = 'X';
  EXPECT_TRUE(std::isnan(optDouble('t', 1)));    // NaN fails neither bound
  EXPECT_STREQ(optEnum('e', 1), "blue");         // the declared name, any case matches
  EXPECT_STREQ(optString('s', 1), "model.txt");  // a copy
  for (auto [spelling, value] : std::vector<std::pair<const char*, int>>{
           {"1", 1}, {"yes", 1}, {"TRUE", 1}, {"0", 0}, {"No", 0}, {"false", 0}}) {
    EXPECT_EQ(Parse({"-b", "yes", "-b", spelling}), 0);
    EXPECT_EQ(optBool('b', 1), value) << spelling;
  }

  // Values are stored before their bounds are tested, and values read before
  // an error stay; a value is counted before its conversion fails.
  EXPECT_EQ(Parse({"-c", "0"}), 21);
  EXPECT_EQ(optInt('c', 1), 0);
  EXPECT_EQ(Parse({"-q", "-n", "4,oops,6"}), 20);
  EXPECT_EQ((std::vector<int>{optBool('q', 0), optGiven('n', 2), optInt('n', 1), optInt('n', 2)}),
            (std::vector<int>{1, 1, 4, 2}));
}

TEST_F(OptionsTest, ErrorCodesAndMessages) {
  for (auto const& [arguments, code, message] :
       std::vector<std::tuple<std::vector<const char*>, int, const char*>>{
           {{"n"}, 2, "Error: option must start with - (short) or -- (long).\n"},
           {{"-"}, 3, "Error: you must give option after - or --\n"},
           {{"-N", "1"}, 4, "Error: unknown option: -N\n"},  // letters are case-sensitive
           {{"-n", "--"}, 5, "Error: -- without value.\n"},
           {{"--numbers", "-7"}, 6, "Error: you must give value for --numbers\n"},
           {{"-q", "-n"}, 6, "Error: missing value for option that is not a flag.\n"},
           {{"-n", "  ", "-q"}, 6, "Error: missing value for option that is not a flag.\n"},
           {{"-q", "x"}, 7, "Error: too many values.\n"},
           {{"-z", "5,6"}, 8, "Error: too many values.\n"},  // the last option of the table
           {{"-b", "2"}, 10, "Error: bad boolean value: 2\n"},
           {{"-c", "12abc"}, 20, "Error: bad integer value: 12abc\n"},
           {{"-c", "0"}, 21, "Error: too small integer value (0 < 1)\n"},
           {{"-c", "1001"}, 22, "Error: too large integer value (1001 > 1000)\n"},
           {{"-t", "0.5x"}, 30, "Error: bad double value: 0.5x\n"},
           {{"-t", "0.125"}, 31, "Error: too small double value (0.125 < 0.25)\n"},
           {{"-t", "1e3"}, 32, "Error: too large double value (1000 > 1)\n"},
           {{"-e", "purple"}, 40, "Error: bad enum value: purple\n"}}) {
    EXPECT_EQ(Parse(arguments), code) << ::testing::PrintToString(arguments);
    EXPECT_EQ(messages, message);
  }
}

TEST_F(OptionsTest, CompulsoryValues) {
  optAdd('i', "input");
  optAddValueString(nullptr);
  optCompulsory();
  optAddFlag('q', "quiet", 0);
  EXPECT_EQ(Parse({}, false), 1);
  EXPECT_EQ(messages, "Error: you must give the compulsory options.\n");
  EXPECT_EQ(Parse({"-q"}, false), 1);
  EXPECT_EQ(messages, "Error: missing compulsory option(s).\n");
  EXPECT_EQ(Parse({"-i", "", "-q"}, false), 1);  // an empty value argument gives no value
  EXPECT_EQ(Parse({"-i", "data"}, false), 0);
}

// The help check looks at the arguments themselves, before any parsing.
TEST(GivenOptionTest, FindsTheLetterOrTheWholeName) {
  for (auto [argument, letter, name] : std::vector<std::tuple<const char*, int, int>>{
           {"-h", 1, 0}, {"--help", 0, 1}, {"-H", 0, 0}, {"--hel", 0, 0}, {"-help", 0, 0}}) {
    const char* const argv[] = {"prog", "-q", argument};
    EXPECT_EQ(optGivenOption('h', nullptr, 3, argv), letter) << argument;
    EXPECT_EQ(optGivenOption(0, "help", 3, argv), name) << argument;
  }
}

}  // namespace
