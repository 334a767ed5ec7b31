#include "data/datastream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "data/readnums.h"
#include "data/temp_file.h"

namespace {

std::vector<double> Values(DataStream const& stream) {
  return std::vector<double>(stream.vector.data, stream.vector.data + stream.vector.columns);
}

// Delivers every vector of text; messages go to capture.
std::vector<std::vector<double>> ReadAll(DataStream& stream, std::string const& text,
                                         Capture& capture) {
  TextStream input(text);
  stream.Open(input.file, capture.file);
  std::vector<std::vector<double>> vectors;
  while (stream.Get()) vectors.push_back(Values(stream));
  return vectors;
}

}  // namespace

TEST(DataStreamTest, NewStreamIsFinishedAndEmpty) {
  DataStream stream;
  EXPECT_TRUE(stream.finished);
  EXPECT_FALSE(stream.Get());
  EXPECT_EQ(stream.vector.columns, 0);
  EXPECT_EQ(stream.max_errors, 5);
  EXPECT_EQ(stream.max_incomplete, 5);
  EXPECT_EQ(stream.vectors_delivered, 0);
}

TEST(DataStreamTest, FirstVectorFixesTheDimension) {
  DataStream stream;
  Capture messages;
  auto vectors = ReadAll(stream, "% x y z\n1 2 3\n4, 5, 6\n\n7 8 9", messages);
  EXPECT_EQ(vectors, (std::vector<std::vector<double>>{{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}));
  EXPECT_EQ(stream.vector.columns, 3);
  EXPECT_EQ(stream.vectors_delivered, 3);
  EXPECT_TRUE(stream.finished);
  EXPECT_EQ(messages.Text(), "");
}

// Line numbers count comment and blank lines too.
TEST(DataStreamTest, WrongLengthsAreReportedAndSkipped) {
  DataStream stream;
  Capture messages;
  auto vectors = ReadAll(stream, "1 2 3\n# note\n4 5\n\n6 7\n8 9 10\n1 2 3 4\n11 12 13\n", messages);
  EXPECT_EQ(vectors, (std::vector<std::vector<double>>{{1, 2, 3}, {8, 9, 10}, {11, 12, 13}}));
  EXPECT_EQ(messages.Text(),
            "Vector in line 3 is too short (2, should be 3).\n"
            "Vector in line 5 is too short (2, should be 3).\n"
            "Vector in line 7 is too long (should be 3).\n");
  EXPECT_EQ(stream.incomplete_count, 3);
  EXPECT_TRUE(stream.finished);
}

// Also before the dimension is fixed: a first line holding NaN must not fix
// it nor enter the data.
TEST(DataStreamTest, NonFiniteValuesAreReportedAndSkipped) {
  DataStream stream;
  Capture messages;
  auto vectors = ReadAll(stream, "1 nan\n1 2\n3 NaN\n4 1e999\n5 6\n7 inf 8\n", messages);
  EXPECT_EQ(vectors, (std::vector<std::vector<double>>{{1, 2}, {5, 6}}));
  EXPECT_EQ(messages.Text(),
            "Vector in line 1 has a value that is not finite.\n"
            "Vector in line 3 has a value that is not finite.\n"
            "Vector in line 4 has a value that is not finite.\n"
            "Vector in line 6 is too long (should be 2).\n");
  EXPECT_EQ(stream.incomplete_count, 4);
}

TEST(DataStreamTest, FifthErrorEndsReading) {
  DataStream stream;
  Capture messages;
  const char text[] = "1 2\n1;2\n3 4\n1 , 2\n1 \0 2\n\n1,2\n5 %\n7 8\n";
  auto vectors = ReadAll(stream, std::string(text, sizeof text - 1), messages);
  EXPECT_EQ(vectors, (std::vector<std::vector<double>>{{1, 2}, {3, 4}}));
  EXPECT_EQ(messages.Text(),
            "Error in line 2.\nError in line 4.\nError in line 5.\nError in line 7.\n"
            "Error in line 8.\nToo many errors, exiting.\n");
  EXPECT_FALSE(stream.finished);
  EXPECT_EQ(CurrentLineNumber(), 8);  // the line after the stop is not read
}

TEST(DataStreamTest, FifthIncompleteVectorEndsReading) {
  DataStream stream;
  Capture messages;
  auto vectors = ReadAll(stream, "1 2\n1\n2\n3\n4 NaN\n5 6 7\n8 9\n", messages);
  EXPECT_EQ(vectors, (std::vector<std::vector<double>>{{1, 2}}));
  EXPECT_EQ(messages.Text(),
            "Vector in line 2 is too short (1, should be 2).\n"
            "Vector in line 3 is too short (1, should be 2).\n"
            "Vector in line 4 is too short (1, should be 2).\n"
            "Vector in line 5 has a value that is not finite.\n"
            "Vector in line 6 is too long (should be 2).\n"
            "Too many incomplete vectors, exiting.\n");
  EXPECT_FALSE(stream.finished);
}

TEST(DataStreamTest, FourOfEachKindAreTolerated) {
  DataStream stream;
  Capture messages;
  auto vectors =
      ReadAll(stream, "1 2\nx\n1\nx\n1\nx\n1\nx\n1\n3 4\n", messages);
  EXPECT_EQ(vectors.size(), 2u);
  EXPECT_TRUE(stream.finished);
  EXPECT_EQ(stream.error_count, 4);
  EXPECT_EQ(stream.incomplete_count, 4);
}

TEST(DataStreamTest, WithoutMessageStreamLimitsWorkTheSame) {
  DataStream stream;
  TextStream input("1\n1 2\n1 2\n1 2\n1 2\n1 2\n9\n");
  stream.Open(input.file, nullptr);
  EXPECT_TRUE(stream.Get());
  EXPECT_FALSE(stream.Get());
  EXPECT_FALSE(stream.finished);
  EXPECT_EQ(stream.incomplete_count, 5);
}

TEST(DataStreamTest, EmptyAndCommentOnlyInputs) {
  for (const char* text : {"", "% only\n# comments\n\n  \n"}) {
    DataStream stream;
    Capture messages;
    EXPECT_TRUE(ReadAll(stream, text, messages).empty());
    EXPECT_TRUE(stream.finished);
    EXPECT_EQ(stream.vector.columns, 0);
    EXPECT_EQ(messages.Text(), "");
  }
}

// Data cut short by a failing read must not pass for the whole file.
TEST(DataStreamTest, ReadFailureIsNoEndOfInput) {
  DataStream stream;
  if (!stream.Open(testing::TempDir().c_str(), nullptr)) GTEST_SKIP();
  EXPECT_FALSE(stream.Get());
  EXPECT_FALSE(stream.finished);
}

TEST(DataStreamTest, OpenByNameAndReopen) {
  DataStream stream;
  EXPECT_FALSE(stream.Open("/nonexistent/data.txt", nullptr));
  EXPECT_TRUE(stream.finished);
  EXPECT_EQ(stream.file, nullptr);

  TempFile first("1 2\nbad\n3\n");
  ASSERT_TRUE(stream.Open(first.path.c_str(), nullptr));
  EXPECT_TRUE(stream.owns_file);
  while (stream.Get()) {
  }
  EXPECT_EQ(stream.error_count, 1);
  EXPECT_EQ(stream.incomplete_count, 1);

  // Reopening resets the counts and the line numbers, not the dimension.
  TempFile second("\n5 6\n7\n");
  Capture messages;
  ASSERT_TRUE(stream.Open(second.path.c_str(), messages.file));
  EXPECT_EQ(stream.error_count, 0);
  EXPECT_EQ(stream.incomplete_count, 0);
  EXPECT_TRUE(stream.Get());
  EXPECT_EQ(Values(stream), (std::vector<double>{5, 6}));
  EXPECT_FALSE(stream.Get());
  EXPECT_EQ(messages.Text(), "Vector in line 3 is too short (1, should be 2).\n");
  EXPECT_EQ(stream.vectors_delivered, 2);
  stream.Close();
  stream.Close();
  EXPECT_TRUE(stream.finished);
  EXPECT_EQ(stream.file, nullptr);
}
