#include "data/windowreader.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <new>

#include "data/parsedlines.h"
#include "data/readnums.h"

bool Seekable(FILE* file) {
  struct stat status;
  return fstat(fileno(file), &status) == 0 && S_ISREG(status.st_mode) && ftello(file) >= 0;
}

bool ReadWindows(FILE* file, DataStream& stream, VectorCollector& collector,
                 std::vector<int>* numbers) {
  off_t position = ftello(file);
  // Larger than the rest of the file by one, so that a window that is not
  // full tells the end; and room for a terminator.
  struct stat status;
  off_t const rest = fstat(fileno(file), &status) == 0 ? status.st_size - position : 0;
  size_t const room = static_cast<size_t>(std::clamp<off_t>(rest + 1, 1, kWindow));
  // Two windows: the next is read while the lines of this one are parsed.
  // Left uninitialised: every character used is read first.
  std::unique_ptr<char[]> windows[2] = {std::unique_ptr<char[]>(new char[room + 1]), nullptr};
  std::vector<WindowPiece> pieces = WindowPieces();
  std::vector<double const*> accepted;
  // An accepted vector is counted at once, and copied out with the others
  // of its window.
  auto collect = [&](double const* values, int length, int number) {
    if (!collector.Count(length)) return false;
    accepted.push_back(values);
    if (numbers) numbers->push_back(number);
    return true;
  };
  int lines = 0;  // the lines judged so far
  size_t size = fread(windows[0].get(), 1, room, file);
  windows[0][size] = '\0';  // the one character behind what was read that is looked at
  bool failed = ferror(file);
  for (int current = 0; !failed; current = 1 - current) {
    char* const window = windows[current].get();
    bool const last = size < room;
    // The window ends behind its last line feed, or at the end of the input.
    size_t end = size;
    if (!last) {
      const char* feed = static_cast<const char*>(memrchr(window, '\n', size));
      if (!feed) {
        ResetLineCounter(lines);
        return fseeko(file, position, SEEK_SET) == 0;
      }
      end = feed + 1 - window;
    }
    // The next window starts with the line begun behind end.
    size_t const kept = size - end;
    char* next = nullptr;
    if (!last) {
      if (!windows[1 - current]) windows[1 - current].reset(new char[room + 1]);
      next = windows[1 - current].get();
      memcpy(next, window + end, kept);
    }
    // The last line of the input needs a terminator behind its last number.
    char const after = window[end];
    window[end] = '\0';
    // The next window is read meanwhile (the only task that touches the
    // file).
    size_t nextSize = 0;
    std::function<void()> readNext;
    if (next) {
      readNext = [&] {
        nextSize = kept + fread(next + kept, 1, room - kept, file);
        next[nextSize] = '\0';
        failed = ferror(file);
      };
    }
    size_t const count = ParseWindow(window, end, pieces, readNext);
    window[end] = after;
    // The lines in file order, judged one after another; the vectors
    // accepted are copied out together.
    accepted.clear();
    for (size_t i = 0; i < count && !collector.too_large; ++i) {
      WindowPiece const& piece = pieces[i];
      if (piece.out_of_memory) throw std::bad_alloc();
      int const stop = JudgeParsedLines(piece.parsed, piece.values.data(), lines, stream, collect);
      if (stop != 0) {
        ResetLineCounter(stop);
        collector.AddCounted(accepted);
        return false;
      }
      lines += piece.lines;
    }
    collector.AddCounted(accepted);
    if (collector.too_large) return false;
    if (last) {
      ResetLineCounter(lines);
      stream.finished = true;
      return false;
    }
    position += end;
    size = nextSize;
  }
  return false;
}
