#ifndef MIXFIT_DATA_DATASTREAM_H
#define MIXFIT_DATA_DATASTREAM_H

// The data stream: reads a data file line by line into vectors of one
// dimension, judging each line and reporting the faulty ones.

#include <cstdint>
#include <cstdio>

#include "matrix/matrix.h"

// What became of a line of numbers.
enum LineVerdict {
  LINE_ACCEPTED,  // its vector was delivered
  LINE_REJECTED,  // reported and skipped; reading goes on
  LINE_STOPPED,   // reported, and a limit ends reading
};

// Delivers the vectors of a data file one at a time. Every line that is
// neither blank nor a comment holds one vector; the first vector accepted
// fixes the dimension. Lines of another length or with values that are not
// finite are incomplete vectors, lines with syntax errors are errors; each is
// reported to the message stream with its line number and skipped. The fifth
// of either kind ends reading.
//
// Shares the process-wide buffers and line counter of the text reader: only
// one data stream (and no other text file) may be read at a time.
class DataStream {
 public:
  FILE* file;
  bool owns_file;  // opened by name here, so closed here
  FILE* messages;  // null: no messages
  Matrix vector;   // one row: the vector last delivered; columns = dimension
  bool finished;   // end of input, or closed
  int error_count;
  int max_errors;
  int incomplete_count;
  int max_incomplete;
  int64_t vectors_delivered;

  DataStream();
  ~DataStream();
  DataStream(DataStream const&) = delete;
  DataStream& operator=(DataStream const&) = delete;

  // Reads from file, which stays the caller's. Returns true.
  bool Open(FILE* file, FILE* messages);
  // Opens the file by name for reading; false, and nothing changed, when
  // that fails.
  bool Open(const char* name, FILE* messages);

  // Delivers the next vector into vector; true when one was delivered. After
  // false, finished tells the end of the input from a stop: a limit of errors
  // or incomplete vectors, or a failure to read the file.
  bool Get();

  // Ends reading; closes the file when it was opened by name.
  void Close();

  // Judges line number `line`, which is neither blank nor a comment, as Get
  // does: error for a syntax error, otherwise its length values with
  // incomplete set as ReadVector sets it for an expected length of the
  // dimension. Reports a faulty line, and delivers an accepted vector into
  // vector. For readers that parse the lines themselves.
  LineVerdict Judge(double const* values, int length, bool incomplete, bool error, int line);

 private:
  void Take(FILE* new_file, bool owned, FILE* new_messages);
  void Message(const char* format, ...);
};

#endif
