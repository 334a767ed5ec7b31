#include "data/datastream.h"

#include <sstream>

#include "data/readnums.h"
#include "support/files.h"

// The messages, the vectors delivered, whether the end of the input was
// reached (after which nothing more comes) and the lines read.
static std::string Outcome(std::string const& text) {
  TextStream input(text), messages;
  DataStream stream;
  stream.Open(input.file, messages.file);
  std::ostringstream vectors;
  while (stream.Get()) {
    for (int j = 0; j < stream.vector.columns; ++j) vectors << stream.vector.data[j] << " ";
    vectors << "|";
  }
  bool const finished = stream.finished && !stream.Get();
  return messages.Text() + vectors.str() + (finished ? " end " : " stop ") +
         std::to_string(CurrentLineNumber());
}

// Faulty lines, a header of column names too, are reported with their
// number (comment and blank lines count) and skipped; a first line with NaN
// fixes no dimension; the fifth error or the fifth incomplete vector ends
// reading at once, the fourth does not, and errors and incomplete vectors
// are counted apart (three incomplete vectors among the errors do not bring
// the stop forward).
TEST(DataStreamTest, FaultyLinesAreReportedAndTheFifthOfAKindStops) {
  std::string const short2 = " is too short (1, should be 2).\n";
  std::pair<std::string, std::string> const cases[] = {
      {"c0,c1,c2\n1 2 3\n# note\n4 5\n\n6 7\n8 9 10\n1 2 3 4\n11 12 13",
       "Error in line 1.\nVector in line 4 is too short (2, should be 3).\n"
       "Vector in line 6 is too short (2, should be 3).\n"
       "Vector in line 8 is too long (should be 3).\n1 2 3 |8 9 10 |11 12 13 | end 9"},
      {"1 nan\n1 2\n3 NaN\n4 1e999\n5 6\n7 inf 8\n",
       "Vector in line 1 has a value that is not finite.\n"
       "Vector in line 3 has a value that is not finite.\n"
       "Vector in line 4 has a value that is not finite.\n"
       "Vector in line 6 is too long (should be 2).\n1 2 |5 6 | end 6"},
      {std::string("1 2\n1;2\n1\n3 4\n1 , 2\n1\n1 ") + '\0' + " 2\n\n1,,2\n1\n5 %\n7 8\n",
       "Error in line 2.\nVector in line 3" + short2 + "Error in line 5.\nVector in line 6" +
           short2 + "Error in line 7.\nError in line 9.\nVector in line 10" + short2 +
           "Error in line 11.\nToo many errors, exiting.\n1 2 |3 4 | stop 11"},
      {"1 2\n1\n2\n3\n4 NaN\n5 6 7\n8 9\n",
       "Vector in line 2" + short2 + "Vector in line 3" + short2 + "Vector in line 4" + short2 +
           "Vector in line 5 has a value that is not finite.\n"
           "Vector in line 6 is too long (should be 2).\n"
           "Too many incomplete vectors, exiting.\n1 2 | stop 6"}};
  for (auto const& c : cases) EXPECT_EQ(Outcome(c.first), c.second) << c.first;
}
