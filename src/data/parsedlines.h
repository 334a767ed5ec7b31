#ifndef MIXFIT_DATA_PARSEDLINES_H
#define MIXFIT_DATA_PARSEDLINES_H

// Windows of a data file's text parsed in pieces, in parallel, for the
// readers of data/ only.

#include <cstddef>
#include <functional>
#include <vector>

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

#endif
