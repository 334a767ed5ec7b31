#include "options/options.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

// What write puts on a stream.
std::string WrittenBy(const std::function<void(FILE*)>& write) {
  char* buffer = nullptr;
  size_t size = 0;
  FILE* stream = open_memstream(&buffer, &size);
  write(stream);
  std::fclose(stream);
  std::string text(buffer, size);
  std::free(buffer);
  return text;
}

// Every test starts from an empty table.
class OptionsTest : public ::testing::Test {
 protected:
  void SetUp() override { FreeOptions(); }
  void TearDown() override { FreeOptions(); }

  // Parses the arguments behind a program name; the parser's messages land
  // in messages.
  int Parse(std::vector<const char*> arguments) {
    arguments.insert(arguments.begin(), "prog");
    int code = 0;
    messages = WrittenBy([&](FILE* stream) {
      code = optParseCommandLine(static_cast<int>(arguments.size()), arguments.data(), stream);
    });
    return code;
  }

  void ExpectParse(std::vector<const char*> arguments, int code, const char* message) {
    SCOPED_TRACE(::testing::PrintToString(arguments));
    EXPECT_EQ(Parse(arguments), code);
    EXPECT_EQ(messages, message);
  }

  std::string Usage(const char* program) {
    return WrittenBy([&](FILE* stream) { optPrintUsage(stream, program); });
  }

  std::string messages;
};

// -n with three integer values and no bounds, then the flag -q.
void DeclareTriple() {
  optAdd('n', "numbers");
  optAddValueInteger(1, 0, 0);
  optAddValueInteger(2, 0, 0);
  optAddValueInteger(3, 0, 0);
  optAddFlag('q', "quiet", 0);
}

std::vector<int> Numbers() { return {optInt('n', 1), optInt('n', 2), optInt('n', 3)}; }

const char* const kColours[] = {"red", "green", "blue"};

// ---------------------------------------------------------------------------
// Registry and getters

TEST_F(OptionsTest, GettersReturnDeclaredValuesBeforeParsing) {
  optAdd('c', "count");
  optAddValueInteger(3, 1, 10);
  optAdd('s', "start");
  optAddValueString(nullptr);
  optAdd('e', "colour");
  optAddValueEnum(1, 3, kColours);
  optAddFlag('f', "full", 1);
  optAdd('v', "variance");
  optAddValueDouble(0.25, 0.125, 1.0);

  EXPECT_EQ(optInt('c', 1), 3);
  EXPECT_EQ(optDefaultInt('c', 1), 3);
  EXPECT_EQ(optMinimumInt('c', 1), 1);
  EXPECT_EQ(optMaximumInt('c', 1), 10);
  EXPECT_EQ(optGiven('c', 0), 0);
  EXPECT_EQ(optGiven('c', 1), 0);
  EXPECT_EQ(optString('s', 1), nullptr);
  EXPECT_EQ(optDefaultString('s', 1), nullptr);
  EXPECT_STREQ(optEnum('e', 1), "green");
  EXPECT_STREQ(optDefaultEnum('e', 1), "green");
  EXPECT_EQ(optBool('f', 0), 1);
  EXPECT_EQ(optDefaultBool('f', 0), 1);
  EXPECT_EQ(optDouble('v', 1), 0.25);
  EXPECT_EQ(optDefaultDouble('v', 1), 0.25);
  EXPECT_EQ(optMinimumDouble('v', 1), 0.125);
  EXPECT_EQ(optMaximumDouble('v', 1), 1.0);

  EXPECT_EQ(optIntStr("count", 1), 3);
  EXPECT_STREQ(optEnumStr("colour", 1), "green");
  EXPECT_EQ(optMaximumDoubleStr("variance", 1), 1.0);
}

TEST_F(OptionsTest, LookupsTakeTheFirstMatchAndNeedTheRightForm) {
  optAdd('a', "");
  optAddValueInteger(1, 0, 0);
  optAdd('a', "second");
  optAddValueInteger(2, 0, 0);
  optAddFlag(0, "verbose", 1);

  EXPECT_EQ(optInt('a', 1), 1);
  EXPECT_EQ(optIntStr("second", 1), 2);
  EXPECT_EQ(optBool(0, 0), 1);  // letter 0 finds options without letter
  EXPECT_EQ(optGivenStr("verbose", 0), 0);
  EXPECT_DEATH(optIntStr("", 1), "optIntStr: no option --");
  EXPECT_DEATH(optInt('A', 1), "optInt: no option -A has value index 1");
  EXPECT_DEATH(optInt('a', 2), "no option -a has value index 2");
}

TEST_F(OptionsTest, DeclaringOnAnEmptyTableIsAProgrammingError) {
  EXPECT_DEATH(optAddValueInteger(1, 0, 0), "optAddValueInteger: the option table is empty");
  EXPECT_DEATH(optCompulsory(), "optCompulsory: the option table is empty");
}

TEST_F(OptionsTest, ReturnedTextsSurviveLaterDeclarations) {
  optAdd('s', "start");
  optAddValueString("out");
  const char* start = optString('s', 1);
  for (int i = 0; i < 100; ++i) optAddFlag('x', "extra", 0);
  EXPECT_EQ(optString('s', 1), start);
  EXPECT_STREQ(start, "out");
}

// ---------------------------------------------------------------------------
// Token splitting and flags

TEST_F(OptionsTest, ValuesSplitOnCommasAndWhiteSpace) {
  DeclareTriple();
  EXPECT_EQ(Parse({"-n", "7,8,9"}), 0);
  EXPECT_EQ(Numbers(), (std::vector<int>{7, 8, 9}));
  EXPECT_EQ(Parse({"--numbers", " \t10\n11\v12\r"}), 0);
  EXPECT_EQ(Numbers(), (std::vector<int>{10, 11, 12}));
  EXPECT_EQ(optGiven('n', 0), 2);
  EXPECT_EQ(optGiven('n', 3), 2);
}

TEST_F(OptionsTest, EmptyTokensLeaveTheirValuesAlone) {
  DeclareTriple();
  EXPECT_EQ(Parse({"-n", "7,,9"}), 0);
  EXPECT_EQ(Numbers(), (std::vector<int>{7, 2, 9}));
  EXPECT_EQ(optGiven('n', 2), 0);

  // Fewer tokens than values, and a trailing comma.
  EXPECT_EQ(Parse({"-n", "5,"}), 0);
  EXPECT_EQ(Numbers(), (std::vector<int>{5, 2, 9}));
}

TEST_F(OptionsTest, ABlankValueArgumentGivesNoValue) {
  DeclareTriple();
  ExpectParse({"-n", "  ", "-q"}, 6, "Error: missing value for option that is not a flag.\n");
  EXPECT_EQ(optGiven('q', 0), 1);
}

TEST_F(OptionsTest, NegativeValuesFollowDoubleDash) {
  DeclareTriple();
  EXPECT_EQ(Parse({"-n", "--", "-7,-8"}), 0);
  EXPECT_EQ(Numbers(), (std::vector<int>{-7, -8, 3}));

  ExpectParse({"--numbers", "-7"}, 6, "Error: you must give value for --numbers\n");
  ExpectParse({"-n", "--"}, 5, "Error: -- without value.\n");
}

TEST_F(OptionsTest, FlagsStandAloneAndInvertAtEachOccurrence) {
  DeclareTriple();
  EXPECT_EQ(Parse({"-q", "-n", "4"}), 0);
  EXPECT_EQ(optBool('q', 0), 1);
  EXPECT_EQ(Parse({"-q"}), 0);
  EXPECT_EQ(optBool('q', 0), 0);
  EXPECT_EQ(optGiven('q', 0), 2);
  EXPECT_EQ(optGivenStr("quiet", 0), 2);
}

TEST_F(OptionsTest, TooManyValues) {
  optAdd('a', "alpha");
  optAddValueInteger(0, 0, 0);
  optAddFlag('q', "quiet", 0);
  optAdd('z', "zeta");
  optAddValueInteger(0, 0, 0);

  ExpectParse({"-a", "5,6"}, 7, "Error: too many values.\n");
  EXPECT_EQ(optInt('a', 1), 5);
  ExpectParse({"-q", "x"}, 7, "Error: too many values.\n");
  // The last option of the table: code 8, and trailing white space is fine.
  ExpectParse({"-z", "5,6"}, 8, "Error: too many values.\n");
  EXPECT_EQ(Parse({"-z", "5 \t "}), 0);
  EXPECT_EQ(Parse({"-z", "5,"}), 0);
}

TEST_F(OptionsTest, AFlagWithoutValuesLastInTheTableTakesNoValue) {
  optAddFlag(0, "help", 0);
  ExpectParse({"--help", "x"}, 8, "Error: too many values.\n");
}

// ---------------------------------------------------------------------------
// Options as written

TEST_F(OptionsTest, MalformedOptions) {
  DeclareTriple();
  ExpectParse({"n"}, 2, "Error: option must start with - (short) or -- (long).\n");
  ExpectParse({"-"}, 3, "Error: you must give option after - or --\n");
  ExpectParse({"-x"}, 4, "Error: unknown option: -x\n");
  ExpectParse({"--"}, 4, "Error: unknown option: --\n");
  ExpectParse({"-N", "1"}, 4, "Error: unknown option: -N\n");
  // No value attached to the option's own argument.
  ExpectParse({"--numbers=1"}, 4, "Error: unknown option: --numbers=1\n");
}

TEST_F(OptionsTest, ALongOptionIsEverythingAfterTwoCharacters) {
  optAddFlag('h', "elp", 0);
  optAddFlag(0, "help", 0);
  const char* arguments[] = {"prog", "-help", "-h"};
  EXPECT_EQ(optGivenOption(0, "help", 3, arguments), 0);
  EXPECT_EQ(optGivenOption('h', nullptr, 3, arguments), 1);
  EXPECT_EQ(Parse({"-help"}), 0);
  EXPECT_EQ(optGivenStr("elp", 0), 1);
  EXPECT_EQ(optGivenStr("help", 0), 0);
}

TEST_F(OptionsTest, GivenOptionScansEveryArgumentWithoutTheTable) {
  const char* arguments[] = {"prog", "-x", "--count", "--help", "-q"};
  EXPECT_EQ(optGivenOption(0, "help", 5, arguments), 1);
  EXPECT_EQ(optGivenOption('q', nullptr, 5, arguments), 1);
  EXPECT_EQ(optGivenOption('c', nullptr, 5, arguments), 0);
  EXPECT_EQ(optGivenOption(0, "help", 1, arguments), 0);
}

// ---------------------------------------------------------------------------
// Conversions and bounds

TEST_F(OptionsTest, BoolValues) {
  optAdd('b', "bool");
  optAddValueBool(0);
  EXPECT_EQ(Parse({"-b", "YES"}), 0);
  EXPECT_EQ(optBool('b', 1), 1);
  EXPECT_EQ(Parse({"-b", "False"}), 0);
  EXPECT_EQ(optBool('b', 1), 0);
  EXPECT_EQ(Parse({"-b", "true"}), 0);
  EXPECT_EQ(optBool('b', 1), 1);
  ExpectParse({"-b", "2"}, 10, "Error: bad boolean value: 2\n");
  EXPECT_EQ(optBool('b', 1), 1);
}

TEST_F(OptionsTest, IntegerValues) {
  optAdd('c', "count");
  optAddValueInteger(1, 1, 1000);
  optAdd('u', "unbounded");
  optAddValueInteger(0, 0, 0);

  EXPECT_EQ(Parse({"-c", "0x10"}), 0);
  EXPECT_EQ(optInt('c', 1), 16);
  EXPECT_EQ(Parse({"-c", "010"}), 0);
  EXPECT_EQ(optInt('c', 1), 8);
  ExpectParse({"-c", "12abc"}, 20, "Error: bad integer value: 12abc\n");
  ExpectParse({"-c", "0"}, 21, "Error: too small integer value (0 < 1)\n");
  EXPECT_EQ(optInt('c', 1), 0);  // stored before the bounds were tested
  ExpectParse({"-c", "1001"}, 22, "Error: too large integer value (1001 > 1000)\n");
  EXPECT_EQ(optInt('c', 1), 1001);

  EXPECT_EQ(Parse({"-u", "99999999999"}), 0);
  EXPECT_EQ(optInt('u', 1), INT_MAX);
  EXPECT_EQ(Parse({"-u", "--", "-99999999999"}), 0);
  EXPECT_EQ(optInt('u', 1), INT_MIN);
}

TEST_F(OptionsTest, DoubleValues) {
  optAdd('t', "threshold");
  optAddValueDouble(0.5, 0.25, 1.0);
  EXPECT_EQ(Parse({"-t", "0.75"}), 0);
  EXPECT_EQ(optDouble('t', 1), 0.75);
  ExpectParse({"-t", "0.5x"}, 30, "Error: bad double value: 0.5x\n");
  ExpectParse({"-t", "0.125"}, 31, "Error: too small double value (0.125 < 0.25)\n");
  EXPECT_EQ(optDouble('t', 1), 0.125);
  ExpectParse({"-t", "1e3"}, 32, "Error: too large double value (1000 > 1)\n");
  // NaN fails neither bound.
  EXPECT_EQ(Parse({"-t", "nan"}), 0);
  EXPECT_TRUE(std::isnan(optDouble('t', 1)));
}

TEST_F(OptionsTest, EnumValuesMatchAnyCaseAndStoreTheDeclaredName) {
  optAdd('e', "colour");
  optAddValueEnum(0, 3, kColours);
  EXPECT_EQ(Parse({"-e", "BLUE"}), 0);
  EXPECT_STREQ(optEnum('e', 1), "blue");
  EXPECT_STREQ(optDefaultEnum('e', 1), "red");
  ExpectParse({"-e", "purple"}, 40, "Error: bad enum value: purple\n");
}

TEST_F(OptionsTest, StringValuesAreCopies) {
  optAdd('s', "start");
  optAddValueString("default");
  std::string token = "model.txt";
  EXPECT_EQ(Parse({"-s", token.c_str()}), 0);
  token[0] = 'X';
  EXPECT_STREQ(optString('s', 1), "model.txt");
  EXPECT_STREQ(optDefaultString('s', 1), "default");
}

TEST_F(OptionsTest, ValuesReadBeforeAnErrorStay) {
  DeclareTriple();
  EXPECT_EQ(Parse({"-q", "-n", "4,oops,6"}), 20);
  EXPECT_EQ(optBool('q', 0), 1);
  EXPECT_EQ(Numbers(), (std::vector<int>{4, 2, 3}));
  EXPECT_EQ(optGiven('n', 2), 1);  // counted before its conversion failed
}

TEST_F(OptionsTest, WithoutAStreamNothingIsWritten) {
  DeclareTriple();
  const char* arguments[] = {"prog", "-x"};
  testing::internal::CaptureStderr();
  EXPECT_EQ(optParseCommandLine(2, arguments, nullptr), 4);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// ---------------------------------------------------------------------------
// Final checks

TEST_F(OptionsTest, NoArgumentsAtAll) {
  DeclareTriple();
  ExpectParse({}, 0, "");
  optCompulsory();
  ExpectParse({}, 1, "Error: you must give the compulsory options.\n");
}

TEST_F(OptionsTest, CompulsoryRecordsMustBeGiven) {
  optAdd('i', "input");
  optAddValueString(nullptr);
  optCompulsory();
  optAddFlag('q', "quiet", 0);
  ExpectParse({"-q"}, 1, "Error: missing compulsory option(s).\n");
  // An empty value argument gives no value: the compulsory check comes first.
  ExpectParse({"-i", "", "-q"}, 1, "Error: missing compulsory option(s).\n");
  EXPECT_EQ(Parse({"-i", "data"}), 0);
}

TEST_F(OptionsTest, AnOptionThatIsNotAFlagNeedsAValue) {
  DeclareTriple();
  ExpectParse({"-q", "-n"}, 6, "Error: missing value for option that is not a flag.\n");
  // One value of several is enough, also from an earlier occurrence.
  EXPECT_EQ(Parse({"-n", "4"}), 0);
  EXPECT_EQ(Parse({"-n"}), 0);
}

// ---------------------------------------------------------------------------
// Case switches. They cannot be turned off again, so each test sets its
// switch in a child process and reports through the exit status.

void ExpectInChild(void (*checks)()) {
  EXPECT_EXIT(
      {
        checks();
        std::exit(::testing::Test::HasFailure() ? 1 : 0);
      },
      ::testing::ExitedWithCode(0), "");
}

int ParseQuietly(std::vector<const char*> arguments) {
  arguments.insert(arguments.begin(), "prog");
  return optParseCommandLine(static_cast<int>(arguments.size()), arguments.data(), nullptr);
}

TEST_F(OptionsTest, CaseSensitiveEnums) {
  ExpectInChild([] {
    optAdd('e', "colour");
    optAddValueEnum(0, 3, kColours);
    optCaseSensitiveEnums();
    EXPECT_EQ(ParseQuietly({"-e", "Blue"}), 40);
    EXPECT_EQ(ParseQuietly({"-e", "blue"}), 0);
    EXPECT_STREQ(optEnum('e', 1), "blue");
  });
}

TEST_F(OptionsTest, CaseInsensitiveOptions) {
  ExpectInChild([] {
    optAdd('c', "count");
    optAddValueInteger(1, 0, 0);
    optAdd('C', "Count");
    optAddValueInteger(2, 0, 0);
    optCaseInsensitiveOptions();
    EXPECT_EQ(ParseQuietly({"-C", "5", "--COUNT", "6"}), 0);
    EXPECT_EQ(optInt('c', 1), 6);  // both arguments found the first option
    EXPECT_EQ(optInt('C', 1), 6);
    EXPECT_EQ(optGivenStr("cOuNt", 0), 2);
    const char* arguments[] = {"prog", "--COUNT"};
    EXPECT_EQ(optGivenOption(0, "count", 2, arguments), 1);
  });
}

// ---------------------------------------------------------------------------
// Usage text

TEST_F(OptionsTest, UsageOfEveryValueType) {
  optAdd('k', "kind");
  optAddValueInteger(1, 1, 1000);
  optUsage("Number of components.");
  optCompulsory();
  optAddValueDouble(0.5, 0.0, 0.0);
  optAddValueBool(1);
  optAdd('e', "");
  optAddValueEnum(2, 3, kColours);
  optAddValueDouble(1.0 / 65536.0, 1.0 / 65536.0, 1.0);
  optAdd(0, "name");
  optAddValueString(nullptr);
  optAddValueString("out");
  optUsage("First line.");
  optUsage("Second line.");
  optAddFlag(0, "help", 0);
  optCompulsory();  // an option record's own mark is not shown

  EXPECT_EQ(Parse({"-k", "5,,0", "--help"}), 0);  // usage shows the declared defaults
  EXPECT_EQ(Usage("mixfit"),
            "\n"
            "Usage: mixfit [options]\n"
            "\n"
            "Options:\n"
            "  -k/--kind integer1,double2,bool3\n"
            "    integer1 = 1, [1, 1000]  (must be given)\n"
            "\tNumber of components.\n"
            "    double2 = 0.5\n"
            "    bool3 = yes\n"
            "  -e enum1,double2\n"
            "    enum1 = blue, { red, green, blue }\n"
            "    double2 = 1.52588e-05, [1.52588e-05, 1]\n"
            "  --name string1,string2\n"
            "    string1\n"
            "    string2 = \"out\"\n"
            "\tFirst line.\n"
            "\tSecond line.\n"
            "  --help \n"
            "\n");
}

TEST_F(OptionsTest, UsageOfAnEmptyTableWithoutProgramName) {
  EXPECT_EQ(Usage(nullptr), "Options:\n\n");
}

}  // namespace
