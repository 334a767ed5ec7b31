#include "data/data.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "data/collector.h"
#include "data/datastream.h"
#include "data/readnums.h"
#include "data/writer.h"
#include "matrix/ranks.h"
#include "matrix/threads.h"

namespace {

// Whether file is a regular file whose position can be told and set.
bool Seekable(FILE* file) {
  struct stat status;
  return fstat(fileno(file), &status) == 0 && S_ISREG(status.st_mode) && ftello(file) >= 0;
}

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
struct Piece {
  const char* begin;
  const char* end;
  int lines;  // all of them, blank and comment lines included
  std::vector<ParsedLine> parsed;
  std::vector<double> values;
  bool out_of_memory;
};

void ParsePiece(Piece& piece) {
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

// Splits window[0, end) into pieces of about equal size, each from a line
// start to a line start (one for a small window); returns their count.
size_t SplitWindow(const char* window, size_t end, std::vector<Piece>& pieces) {
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

// Reads file from its position in windows of whole lines: the pieces of a
// window are parsed in parallel, then their lines are judged by stream in
// file order and the vectors it accepts collected, exactly as the line
// reader would, with their line numbers when numbers is not null. Returns
// true when a line is longer than a window: the file is then positioned at
// its start and the line counter set for the line reader to go on.
// Otherwise reading has ended: stream.finished is set at the end of the
// input and clear after a read failure or a limit.
bool ReadWindows(FILE* file, DataStream& stream, VectorCollector& collector,
                 std::vector<int>* numbers) {
  off_t position = ftello(file);
  // Larger than the rest of the file by one, so that a window that is not
  // full tells the end; and room for a terminator.
  struct stat status;
  off_t const rest = fstat(fileno(file), &status) == 0 ? status.st_size - position : 0;
  size_t const room = static_cast<size_t>(std::clamp<off_t>(rest + 1, 1, kWindow));
  // Two windows: the next is read while the lines of this one are parsed.
  std::vector<char> windows[2] = {std::vector<char>(room + 1), std::vector<char>(0)};
  std::vector<Piece> pieces(4 * ThreadCount());
  std::vector<double const*> accepted;
  int lines = 0;  // the lines judged so far
  size_t size = fread(windows[0].data(), 1, room, file);
  bool failed = ferror(file);
  for (int current = 0; !failed; current = 1 - current) {
    char* const window = windows[current].data();
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
      windows[1 - current].resize(room + 1);
      next = windows[1 - current].data();
      memcpy(next, window + end, kept);
    }
    // The last line of the input needs a terminator behind its last number.
    char const after = window[end];
    window[end] = '\0';
    size_t const count = SplitWindow(window, end, pieces);
    // Split by pieces: each line's numbers are its own; task 0 reads the
    // next window meanwhile (the only task that touches the file).
    int const reading = next ? 1 : 0;
    size_t nextSize = 0;
    ParallelFor(static_cast<int>(count) + reading, [&](int i, int) {
      if (i < reading) {
        nextSize = kept + fread(next + kept, 1, room - kept, file);
        failed = ferror(file);
        return;
      }
      ParsePiece(pieces[i - reading]);
    });
    window[end] = after;
    // The lines in file order, judged one after another; the vectors
    // accepted are copied out together.
    accepted.clear();
    for (size_t i = 0; i < count && !collector.too_large; ++i) {
      Piece const& piece = pieces[i];
      if (piece.out_of_memory) throw std::bad_alloc();
      for (ParsedLine const& parsed : piece.parsed) {
        int const expected = std::max(stream.vector.columns, 1);
        bool const incomplete = parsed.length < expected || parsed.not_finite;
        LineVerdict verdict = stream.Judge(piece.values.data() + parsed.first, parsed.length,
                                           incomplete, parsed.error, lines + parsed.line);
        if (verdict == LINE_STOPPED) {
          ResetLineCounter(lines + parsed.line);
          collector.AddCounted(accepted);
          return false;
        }
        if (verdict == LINE_ACCEPTED) {
          if (!collector.Count(parsed.length)) break;
          accepted.push_back(piece.values.data() + parsed.first);
          if (numbers) numbers->push_back(lines + parsed.line);
        }
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

// Splits window[0, end) into pieces of about equal size, each from a line
// start to a line start, and parses them in parallel.
size_t ParseWindow(const char* window, size_t end, std::vector<Piece>& pieces) {
  size_t const count = SplitWindow(window, end, pieces);
  // Split by pieces: each line's numbers are its own.
  ParallelFor(static_cast<int>(count), [&](int i, int) { ParsePiece(pieces[i]); });
  return count;
}

// The lines of numbers of one rank's share, as parsed, in file order:
// values of every line but those with syntax errors.
struct Share {
  std::vector<ParsedLine> parsed;  // line: within the share, from 1
  std::vector<double> values;
  int lines = 0;  // all of them, blank and comment lines included
};

// The first line start at or after byte `at` of file, whose size is size.
bool LineStartFrom(FILE* file, off_t at, off_t size, off_t* start) {
  if (at <= 0 || at >= size) {
    *start = std::clamp<off_t>(at, 0, size);
    return true;
  }
  if (fseeko(file, at - 1, SEEK_SET) != 0) return false;
  int c;
  while ((c = getc(file)) != EOF && c != '\n') {
  }
  if (ferror(file)) return false;
  *start = c == EOF ? size : ftello(file);
  return true;
}

// Parses bytes [begin, end) of file, whole lines, into share: in windows,
// each parsed in parallel; a window grows until it holds a whole line.
bool ParseShare(FILE* file, off_t begin, off_t end, Share& share) {
  if (fseeko(file, begin, SEEK_SET) != 0) return false;
  std::vector<char> window(static_cast<size_t>(std::clamp<off_t>(end - begin, 0, kWindow)) + 1);
  std::vector<Piece> pieces(4 * ThreadCount());
  size_t kept = 0;
  for (off_t position = begin; position < end || kept > 0;) {
    size_t const room = window.size() - 1;
    size_t const wanted = static_cast<size_t>(std::min<off_t>(room - kept, end - position));
    size_t const got = fread(window.data() + kept, 1, wanted, file);
    if (got < wanted) return false;
    position += got;
    size_t const size = kept + got;
    bool const last = position == end;
    size_t stop = size;
    if (!last) {
      const char* feed = static_cast<const char*>(memrchr(window.data(), '\n', size));
      if (!feed) {
        // A line longer than the window.
        window.resize(2 * window.size());
        kept = size;
        continue;
      }
      stop = feed + 1 - window.data();
    }
    char const after = window[stop];
    window[stop] = '\0';
    size_t const count = ParseWindow(window.data(), stop, pieces);
    window[stop] = after;
    for (size_t i = 0; i < count; ++i) {
      Piece const& piece = pieces[i];
      if (piece.out_of_memory) throw std::bad_alloc();
      size_t const base = share.values.size();
      share.values.insert(share.values.end(), piece.values.begin(), piece.values.end());
      for (ParsedLine parsed : piece.parsed) {
        parsed.line += share.lines;
        parsed.first += base;
        share.parsed.push_back(parsed);
      }
      share.lines += piece.lines;
    }
    kept = size - stop;
    memmove(window.data(), window.data() + stop, kept);
    if (last) break;
  }
  return true;
}

// Whether the tests asked this rank's read to fail.
bool ReadFailureInjected() {
#ifdef MIXFIT_FAULT_INJECTION
  const char* rank = getenv("MIXFIT_FAIL_READ_RANK");
  return rank != nullptr && atoi(rank) == RankIndex();
#else
  return false;
#endif
}

// Outcomes of a rank's read besides the DataFileResults, for the ranks to
// agree on: memory ran out, or the share exceeds what a storage holds.
int const kOutOfMemory = 100, kTooLarge = 101;

// Judges the lines of a share in order, as one process would from line
// `offset` on, with stream's counters and dimension as they stand there.
// Returns the count of accepted vectors; with compact, they are also moved
// to the front of share.values (so a share is compacted once, by its last
// judging) and, when numbers is not null, their line numbers appended to it.
// Stops at LINE_STOPPED, setting *stopped.
size_t JudgeShare(Share& share, DataStream& stream, int offset, bool compact, bool* stopped,
                  std::vector<int>* numbers = nullptr) {
  size_t kept = 0;
  *stopped = false;
  for (ParsedLine const& parsed : share.parsed) {
    int const expected = std::max(stream.vector.columns, 1);
    bool const incomplete = parsed.length < expected || parsed.not_finite;
    double* values = share.values.data() + parsed.first;
    LineVerdict verdict =
        stream.Judge(values, parsed.length, incomplete, parsed.error, offset + parsed.line);
    if (verdict == LINE_STOPPED) {
      *stopped = true;
      break;
    }
    // An accepted line's place is behind every vector accepted before it.
    if (verdict == LINE_ACCEPTED) {
      if (compact) {
        std::copy(values, values + parsed.length, share.values.data() + kept * parsed.length);
        if (numbers) numbers->push_back(offset + parsed.line);
      }
      ++kept;
    }
  }
  return kept;
}

}  // namespace

int DataStorage::ReadShare(const char* name, DataLines* lines) {
  if (RankCount() == 1) return Read(name, lines);
  Resize(0, 0, false);
  // Rank 0 tells whether the file opens and can be seeked.
  FILE* file = RankIndex() == 0 ? fopen(name, "r") : nullptr;
  int facts[2] = {file ? DATA_FILE_OK : DATA_FILE_CANNOT_OPEN, file && Seekable(file)};
  BroadcastFromFirst(facts, sizeof facts);
  if (facts[0] != DATA_FILE_OK) return facts[0];

  if (!facts[1]) {
    // Read by rank 0 alone, then handed out in nearly equal parts.
    int result = DATA_FILE_OK;
    try {
      if (RankIndex() == 0) result = Read(file, lines);
    } catch (std::bad_alloc const&) {
      result = kOutOfMemory;
    }
    if (file) fclose(file);
    result = AgreeStatus(result);
    if (result == kOutOfMemory) throw std::bad_alloc();
    if (result != DATA_FILE_OK) return result;
    int shape[2] = {rows, columns};
    BroadcastFromFirst(shape, sizeof shape);
    std::vector<size_t> firsts(RankCount() + 1), offsets(RankCount() + 1);
    for (int r = 0; r <= RankCount(); ++r) {
      firsts[r] = static_cast<size_t>(static_cast<long long>(shape[0]) * r / RankCount());
      offsets[r] = firsts[r] * shape[1];
    }
    std::vector<double> part;
    ScatterFromFirst(data, offsets, part);
    Resize(static_cast<int>(part.size() / std::max(shape[1], 1)), shape[1], false);
    std::copy(part.begin(), part.end(), data);
    if (lines) {
      // The line numbers go with their vectors, exactly as doubles.
      std::vector<double> const numbers(lines->numbers.begin(), lines->numbers.end());
      ScatterFromFirst(numbers.data(), firsts, part);
      lines->numbers.resize(part.size());
      for (size_t n = 0; n < part.size(); ++n) lines->numbers[n] = static_cast<int>(part[n]);
      BroadcastFromFirst(&lines->skipped, sizeof lines->skipped);
    }
    return DATA_FILE_OK;
  }

  // Each rank reads the lines that start in its part of the bytes.
  if (RankIndex() != 0) file = fopen(name, "r");
  Share share;
  int outcome = file != nullptr && !ReadFailureInjected() ? DATA_FILE_OK : DATA_FILE_FAILED;
  try {
    struct stat status;
    off_t begin = 0, end = 0;
    bool const read = outcome == DATA_FILE_OK && fstat(fileno(file), &status) == 0;
    off_t const size = read ? status.st_size : 0;
    int const r = RankIndex(), R = RankCount();
    if (read && LineStartFrom(file, size / R * r + size % R * r / R, size, &begin) &&
        LineStartFrom(file, size / R * (r + 1) + size % R * (r + 1) / R, size, &end) &&
        ParseShare(file, begin, end, share))
      outcome = DATA_FILE_OK;
    else
      outcome = DATA_FILE_FAILED;
  } catch (std::bad_alloc const&) {
    outcome = kOutOfMemory;
  }
  if (file) fclose(file);
  // Memory that runs out on any rank ends the read on every rank as in one
  // process, so that none is left waiting for another.
  outcome = AgreeStatus(outcome);
  if (outcome == kOutOfMemory) throw std::bad_alloc();
  if (outcome != DATA_FILE_OK) return DATA_FILE_FAILED;

  // What one process would know on reaching this share: the lines before
  // it, and the dimension that the first vector of the file fixes.
  double first = 0.0;
  for (ParsedLine const& parsed : share.parsed) {
    if (!parsed.error && !parsed.not_finite && parsed.length >= 1) {
      first = parsed.length;
      break;
    }
  }
  double const mine[2] = {static_cast<double>(share.lines), first};
  std::vector<double> before = GatherFromAll(mine, 2);
  int offset = 0, dimension = 0;
  bool fixed = false;  // by the share of a rank before this one
  for (int r = 0; r < RankCount() && dimension == 0; ++r) {
    dimension = static_cast<int>(before[2 * r + 1]);
    fixed = dimension > 0 && r < RankIndex();
  }
  for (int r = 0; r < RankIndex(); ++r) offset += static_cast<int>(before[2 * r]);

  // The faulty lines of each kind before this share: counted without limit
  // and messages, then the share is judged for good with what is left of
  // the limits.
  DataStream stream;
  stream.max_errors = stream.max_incomplete = INT_MAX;
  if (fixed) stream.vector.Resize(1, dimension, false);
  bool stopped;
  JudgeShare(share, stream, offset, false, &stopped);
  double const faults[2] = {static_cast<double>(stream.error_count),
                            static_cast<double>(stream.incomplete_count)};
  std::vector<double> counts = GatherFromAll(faults, 2);
  DataStream judge;
  char* text = nullptr;
  size_t length = 0;
  // Without memory for the messages they are lost, but no rank stops
  // between two exchanges.
  FILE* messages = open_memstream(&text, &length);
  judge.Open(static_cast<FILE*>(nullptr), messages);
  for (int r = 0; r < RankIndex(); ++r) {
    judge.max_errors -= static_cast<int>(counts[2 * r]);
    judge.max_incomplete -= static_cast<int>(counts[2 * r + 1]);
  }
  if (fixed) judge.vector.Resize(1, dimension, false);
  size_t kept = 0;
  std::vector<int>* numbers = lines ? &lines->numbers : nullptr;
  if (numbers) numbers->clear();
  stopped = judge.max_errors <= 0 || judge.max_incomplete <= 0;  // before this share
  if (!stopped) kept = JudgeShare(share, judge, offset, true, &stopped, numbers);
  if (messages) fclose(messages);
  std::vector<char> all = GatherTextAtFirst(text, length);
  free(text);
  if (RankIndex() == 0) {
    fwrite(all.data(), 1, all.size(), stderr);
    fflush(stderr);
  }
  // The storage is taken before the ranks agree, so that running out of
  // memory for it is part of the outcome.
  outcome = stopped ? DATA_FILE_FAILED : DATA_FILE_OK;
  if (!stopped && kept * dimension > static_cast<size_t>(INT_MAX)) outcome = kTooLarge;
  try {
    if (outcome == DATA_FILE_OK) Resize(static_cast<int>(kept), dimension, false);
  } catch (std::bad_alloc const&) {
    outcome = kOutOfMemory;
  }
  outcome = AgreeStatus(outcome);
  if (outcome == kOutOfMemory) throw std::bad_alloc();
  if (outcome == kTooLarge)
    fprintf(stderr, "Too many values for one data set (more than %i), exiting.\n", INT_MAX);
  if (outcome != DATA_FILE_OK) return DATA_FILE_FAILED;
  std::copy(share.values.data(), share.values.data() + kept * dimension, data);
  if (lines) {
    // No limit was reached: the faulty lines are those counted without one.
    lines->skipped = 0;
    for (double count : counts) lines->skipped += static_cast<int>(count);
  }
  return DATA_FILE_OK;
}

int DataStorage::Read(FILE* file, DataLines* lines) {
  Resize(0, 0, false);
  DataStream stream;
  stream.Open(file, stderr);
  VectorCollector collector;
  std::vector<int>* numbers = lines ? &lines->numbers : nullptr;
  if (numbers) numbers->clear();
  // A regular file is read in windows of whole lines, parsed in parallel;
  // the line reader takes over for a line longer than a window, and reads
  // every other input.
  bool lineByLine = !Seekable(file) || ReadWindows(file, stream, collector, numbers);
  while (lineByLine && stream.Get() && collector.Add(stream.vector.data, stream.vector.columns)) {
    if (numbers) numbers->push_back(CurrentLineNumber());
  }
  collector.MoveTo(*this);
  int result = stream.finished && !collector.too_large ? DATA_FILE_OK : DATA_FILE_FAILED;
  if (lines) lines->skipped = stream.error_count + stream.incomplete_count;
  stream.Close();
  return result;
}

int DataStorage::Read(const char* name, DataLines* lines) {
  FILE* file = fopen(name, "r");
  if (!file) return DATA_FILE_CANNOT_OPEN;
  int result = Read(file, lines);
  fclose(file);
  return result;
}

int DataStorage::Write(FILE* file) const {
  for (int i = 0; i < rows; ++i)
    if (!WriteVector(file, data + static_cast<size_t>(i) * columns, columns, "%g "))
      return DATA_FILE_FAILED;
  // Buffered output fails only when it reaches the file.
  return fflush(file) == 0 ? DATA_FILE_OK : DATA_FILE_FAILED;
}

int DataStorage::Write(const char* name) const {
  return WriteFile(name, [this](FILE* file) { return Write(file); });
}

DataStorage& DataStorage::operator+=(DataStorage const& other) {
  if (&other != this) {
    InsertRows(other);
  } else {
    Matrix copy(other);
    InsertRows(copy);
  }
  return *this;
}

void Data::Map(uint32_t first, uint32_t last) {
  uint32_t distance = last > first ? last - first : first - last;
  index.reserve(index.size() + distance + 1);
  if (last > first) {
    for (uint32_t i = first; i != last; ++i) index.push_back(i);
  } else if (last == first) {
    index.push_back(first);
  } else {
    for (uint32_t i = first; i != last; --i) index.push_back(i);
  }
}

void Data::Remove(uint32_t k) {
  index[k] = index.back();
  index.pop_back();
}

int Data::Write(FILE* file) const {
  if (!storage) return DATA_FILE_NO_STORAGE;
  for (size_t k = 0; k < index.size(); ++k)
    if (!WriteVector(file, Vector(k), storage->columns, "%.15g ")) return DATA_FILE_FAILED;
  return fflush(file) == 0 ? DATA_FILE_OK : DATA_FILE_FAILED;
}

int Data::Write(const char* name) const {
  if (!storage) return DATA_FILE_NO_STORAGE;
  return WriteFile(name, [this](FILE* file) { return Write(file); });
}
