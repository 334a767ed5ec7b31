#include "data/parsedlines.h"

#include <cstring>
#include <new>

#include "data/readnums.h"
#include "parallel/threads.h"

namespace {

void ParsePiece(WindowPiece& piece) {
  piece.lines = 0;
  piece.parsed.clear();
  piece.values.clear();
  piece.out_of_memory = false;
  try {
    for (const char* line = piece.begin; line != piece.end;) {
      const char* feed = static_cast<const char*>(memchr(line, '\n', piece.end - line));
      const char* next = feed ? feed + 1 : piece.end;
      ++piece.lines;
      size_t const first = piece.values.size();
      bool not_finite = false;
      LineContent content = ParseLine(line, next - line, piece.values, &not_finite);
      if (content == LINE_ERROR) piece.values.resize(first);
      if (content != LINE_SKIPPED)
        piece.parsed.push_back({piece.lines, static_cast<int>(piece.values.size() - first),
                                content == LINE_ERROR, not_finite, first});
      line = next;
    }
  } catch (std::bad_alloc const&) {
    piece.out_of_memory = true;  // thrown again on the calling thread
  }
}

// Splits window[0, end) into pieces as ParseWindow does; returns their count.
size_t SplitWindow(const char* window, size_t end, std::vector<WindowPiece>& pieces) {
  size_t const count = std::min(pieces.size(), std::max<size_t>(1, end >> 16));
  const char* start = window;
  for (size_t i = 0; i < count; ++i) {
    const char* stop = window + end * (i + 1) / count;
    if (stop > start && i + 1 < count) {
      const char* feed =
          static_cast<const char*>(memchr(stop - 1, '\n', window + end - (stop - 1)));
      stop = feed ? feed + 1 : window + end;
    }
    if (stop < start) stop = start;
    pieces[i].begin = start;
    pieces[i].end = stop;
    start = stop;
  }
  return count;
}

}  // namespace

std::vector<WindowPiece> WindowPieces() { return std::vector<WindowPiece>(4 * ThreadCount()); }

size_t ParseWindow(const char* window, size_t end, std::vector<WindowPiece>& pieces,
                   std::function<void()> const& alongside) {
  size_t const count = SplitWindow(window, end, pieces);
  // Split by pieces: each line's numbers are its own; the task alongside,
  // if any, is task 0.
  int const extra = alongside ? 1 : 0;
  ParallelFor(static_cast<int>(count) + extra, [&](int i, int) {
    if (i < extra) {
      alongside();
      return;
    }
    ParsePiece(pieces[i - extra]);
  });
  return count;
}
