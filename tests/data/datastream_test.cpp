#include "data/datastream.h"

#include "data/readnums.h"
#include "support/files.h"

// Faulty lines are reported with their number (comment and blank lines
// count) and skipped; a first line with NaN fixes no dimension; the fifth
// error or the fifth incomplete vector ends reading at once, the fourth
// does not.
TEST(DataStreamTest, FaultyLinesAreReportedAndTheFifthOfAKindStops) {
  struct Case {
    std::string text;
    std::vector<std::vector<double>> vectors;
    const char* messages;
    bool finished;
    int lines_read;
  } cases[] = {
      {"1 2 3\n# note\n4 5\n\n6 7\n8 9 10\n1 2 3 4\n11 12 13",
       {{1, 2, 3}, {8, 9, 10}, {11, 12, 13}},
       "Vector in line 3 is too short (2, should be 3).\n"
       "Vector in line 5 is too short (2, should be 3).\n"
       "Vector in line 7 is too long (should be 3).\n",
       true,
       8},
      {"1 nan\n1 2\n3 NaN\n4 1e999\n5 6\n7 inf 8\n",
       {{1, 2}, {5, 6}},
       "Vector in line 1 has a value that is not finite.\n"
       "Vector in line 3 has a value that is not finite.\n"
       "Vector in line 4 has a value that is not finite.\n"
       "Vector in line 6 is too long (should be 2).\n",
       true,
       6},
      {std::string("1 2\n1;2\n3 4\n1 , 2\n1 ") + '\0' + " 2\n\n1,2\n5 %\n7 8\n",
       {{1, 2}, {3, 4}},
       "Error in line 2.\nError in line 4.\nError in line 5.\nError in line 7.\n"
       "Error in line 8.\nToo many errors, exiting.\n",
       false,
       8},
      {"1 2\n1\n2\n3\n4 NaN\n5 6 7\n8 9\n",
       {{1, 2}},
       "Vector in line 2 is too short (1, should be 2).\n"
       "Vector in line 3 is too short (1, should be 2).\n"
       "Vector in line 4 is too short (1, should be 2).\n"
       "Vector in line 5 has a value that is not finite.\n"
       "Vector in line 6 is too long (should be 2).\n"
       "Too many incomplete vectors, exiting.\n",
       false,
       6},
      {"1 2\nx\n1\nx\n1\nx\n1\nx\n1\n3 4\n", {{1, 2}, {3, 4}}, nullptr, true, 10},
  };
  for (Case const& c : cases) {
    TextStream input(c.text), messages;
    DataStream stream;
    stream.Open(input.file, messages.file);
    std::vector<std::vector<double>> vectors;
    while (stream.Get())
      vectors.emplace_back(stream.vector.data, stream.vector.data + stream.vector.columns);
    EXPECT_EQ(vectors, c.vectors) << c.text;
    if (c.messages) {
      EXPECT_EQ(messages.Text(), c.messages);
    }
    EXPECT_EQ(stream.finished, c.finished) << c.text;
    EXPECT_EQ(CurrentLineNumber(), c.lines_read) << c.text;  // nothing read past a stop
    EXPECT_TRUE(!c.finished || !stream.Get());               // nothing more after the end
  }
}
