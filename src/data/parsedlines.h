#ifndef MIXFIT_DATA_PARSEDLINES_H
#define MIXFIT_DATA_PARSEDLINES_H

// Windows of a data file's text parsed in pieces, in parallel, and their
// lines judged in file order as the line reader would. For data/ only.

#include <algorithm>
#include <cstddef>
#include <functional>
#include <vector>

#include "data/datastream.h"

// The characters of one window; a longer line goes to the line reader.
size_t const kWindow = size_t(8) << 20;

// A line of numbers that a piece of a window holds: its number within the
// piece (from 1, blank and comment lines counted) and its values.
struct ParsedLine {
  int line;
  int length;
  bool error;
  bool not_finite;
  size_t first;  // of the piece's values
};

// A piece of a window, whole lines from begin to end, and what they hold.
struct WindowPiece {
  const char* begin;
  const char* end;
  int lines;  // all of them, blank and comment lines included
  std::vector<ParsedLine> parsed;
  std::vector<double> values;
  bool out_of_memory;  // for the caller to throw std::bad_alloc again
};

// Room for the pieces of a window: four for each thread.
std::vector<WindowPiece> WindowPieces();

// Splits window[0, end), which a terminator follows, into pieces of about
// equal size, each from a line start to a line start (one for a small
// window), and parses them in parallel; returns their count. With
// alongside, runs it meanwhile as one more task.
size_t ParseWindow(const char* window, size_t end, std::vector<WindowPiece>& pieces,
                   std::function<void()> const& alongside = nullptr);

// Judges the parsed lines in order with stream, as the line reader would:
// numbered offset + line, their values in values from first on. Hands each
// accepted line to accept(values, length, number), which returns false to
// end judging. Returns the number of the line at which a limit of faulty
// lines stopped reading, or 0.
template <class Accept>
int JudgeParsedLines(std::vector<ParsedLine> const& lines, double const* values, int offset,
                     DataStream& stream, Accept const& accept) {
  for (ParsedLine const& parsed : lines) {
    int const expected = std::max(stream.vector.columns, 1);
    bool const incomplete = parsed.length < expected || parsed.not_finite;
    double const* const line_values = values + parsed.first;
    int const number = offset + parsed.line;
    LineVerdict verdict =
        stream.Judge(line_values, parsed.length, incomplete, parsed.error, number);
    if (verdict == LINE_STOPPED) return number;
    if (verdict == LINE_ACCEPTED && !accept(line_values, parsed.length, number)) break;
  }
  return 0;
}

#endif
