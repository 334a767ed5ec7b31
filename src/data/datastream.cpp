#include "data/datastream.h"

#include <cstdarg>
#include <cstring>

#include "data/readnums.h"

DataStream::DataStream()
    : file(nullptr),
      owns_file(false),
      messages(nullptr),
      vector(0, 0),
      finished(true),
      error_count(0),
      max_errors(5),
      incomplete_count(0),
      max_incomplete(5),
      vectors_delivered(0) {}

DataStream::~DataStream() { Close(); }

bool DataStream::Open(FILE* new_file, FILE* new_messages) {
  Take(new_file, false, new_messages);
  return true;
}

bool DataStream::Open(const char* name, FILE* new_messages) {
  FILE* opened = fopen(name, "r");
  if (!opened) return false;
  Take(opened, true, new_messages);
  return true;
}

void DataStream::Take(FILE* new_file, bool owned, FILE* new_messages) {
  if (file && owns_file) fclose(file);
  file = new_file;
  owns_file = owned;
  messages = new_messages;
  error_count = 0;
  incomplete_count = 0;
  finished = false;
  ResetLineCounter(0);
}

bool DataStream::Get() {
  if (finished) return false;
  for (;;) {
    int length = vector.columns;
    int incomplete;
    int error;
    double const* values = ReadVector(file, &length, &incomplete, &error);
    if (!values && !error) {
      // A read failure is no end of the input: the data would be cut short.
      finished = !ferror(file) && !LineTooLong();
      return false;
    }
    LineVerdict verdict = Judge(values, length, incomplete, error, CurrentLineNumber());
    if (verdict != LINE_REJECTED) return verdict == LINE_ACCEPTED;
  }
}

LineVerdict DataStream::Judge(double const* values, int length, bool incomplete, bool error,
                              int line) {
  if (error) {
    Message("Error in line %i.\n", line);
    if (++error_count == max_errors) {
      Message("Too many errors, exiting.\n");
      return LINE_STOPPED;
    }
    return LINE_REJECTED;
  }
  int dimension = vector.columns;
  bool too_long = dimension > 0 && length > dimension;
  if (incomplete || too_long) {
    if (length < dimension)
      Message("Vector in line %i is too short (%i, should be %i).\n", line, length, dimension);
    else if (too_long)
      Message("Vector in line %i is too long (should be %i).\n", line, dimension);
    else
      Message("Vector in line %i has a value that is not finite.\n", line);
    if (++incomplete_count == max_incomplete) {
      Message("Too many incomplete vectors, exiting.\n");
      return LINE_STOPPED;
    }
    return LINE_REJECTED;
  }
  if (dimension == 0) vector.Resize(1, length, false);
  memcpy(vector.data, values, sizeof(double) * length);
  ++vectors_delivered;
  return LINE_ACCEPTED;
}

void DataStream::Close() {
  messages = nullptr;
  if (file && owns_file) fclose(file);
  file = nullptr;
  owns_file = false;
  finished = true;
}

void DataStream::Message(const char* format, ...) {
  if (!messages) return;
  va_list arguments;
  va_start(arguments, format);
  vfprintf(messages, format, arguments);
  va_end(arguments);
}
