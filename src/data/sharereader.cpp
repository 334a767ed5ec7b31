#include "data/sharereader.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "data/datastream.h"
#include "data/parsedlines.h"
#include "data/windowreader.h"
#include "parallel/ranks.h"

namespace {

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
  std::vector<WindowPiece> pieces = WindowPieces();
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
      WindowPiece const& piece = pieces[i];
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
bool ReadFailureInjected([[maybe_unused]] Ranks const& ranks) {
#ifdef MIXFIT_FAULT_INJECTION
  const char* rank = getenv("MIXFIT_FAIL_READ_RANK");
  return rank != nullptr && atoi(rank) == ranks.Index();
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
  double* const front = share.values.data();
  // An accepted line's place is behind every vector accepted before it.
  auto keep = [&](double const* values, int length, int number) {
    if (compact) {
      std::copy(values, values + length, front + kept * length);
      if (numbers) numbers->push_back(number);
    }
    ++kept;
    return true;
  };
  *stopped = JudgeParsedLines(share.parsed, front, offset, stream, keep) != 0;
  return kept;
}

// Reads file, which cannot be seeked, on rank 0 alone, then hands the
// vectors out in nearly equal parts; closes file.
int ReadAtFirstAndScatter(DataStorage& storage, FILE* file, DataLines* lines, Ranks const& ranks) {
  int result = DATA_FILE_OK;
  try {
    if (ranks.Index() == 0) result = storage.Read(file, lines);
  } catch (std::bad_alloc const&) {
    result = kOutOfMemory;
  }
  if (file) fclose(file);
  result = ranks.AgreeStatus(result);
  if (result == kOutOfMemory) throw std::bad_alloc();
  if (result != DATA_FILE_OK) return result;
  int shape[2] = {storage.rows, storage.columns};
  ranks.BroadcastFromFirst(shape, sizeof shape);
  std::vector<size_t> firsts(ranks.Count() + 1), offsets(ranks.Count() + 1);
  for (int r = 0; r <= ranks.Count(); ++r) {
    firsts[r] = static_cast<size_t>(static_cast<long long>(shape[0]) * r / ranks.Count());
    offsets[r] = firsts[r] * shape[1];
  }
  std::vector<double> part;
  ranks.ScatterFromFirst(storage.data, offsets, part);
  storage.Resize(static_cast<int>(part.size() / std::max(shape[1], 1)), shape[1], false);
  std::copy(part.begin(), part.end(), storage.data);
  if (lines) {
    // The line numbers go with their vectors, exactly as doubles.
    std::vector<double> const numbers(lines->numbers.begin(), lines->numbers.end());
    ranks.ScatterFromFirst(numbers.data(), firsts, part);
    lines->numbers.resize(part.size());
    for (size_t n = 0; n < part.size(); ++n) lines->numbers[n] = static_cast<int>(part[n]);
    ranks.BroadcastFromFirst(&lines->skipped, sizeof lines->skipped);
  }
  return DATA_FILE_OK;
}

}  // namespace

int ReadRankShare(DataStorage& storage, const char* name, DataLines* lines, Ranks const& ranks) {
  if (ranks.Count() == 1) return storage.Read(name, lines);
  storage.Resize(0, 0, false);
  // Rank 0 tells whether the file opens and can be seeked.
  FILE* file = ranks.Index() == 0 ? fopen(name, "r") : nullptr;
  int facts[2] = {file ? DATA_FILE_OK : DATA_FILE_CANNOT_OPEN, file && Seekable(file)};
  ranks.BroadcastFromFirst(facts, sizeof facts);
  if (facts[0] != DATA_FILE_OK) return facts[0];

  if (!facts[1]) return ReadAtFirstAndScatter(storage, file, lines, ranks);

  // Each rank reads the lines that start in its part of the bytes.
  if (ranks.Index() != 0) file = fopen(name, "r");
  Share share;
  int outcome = file != nullptr && !ReadFailureInjected(ranks) ? DATA_FILE_OK : DATA_FILE_FAILED;
  try {
    struct stat status;
    off_t begin = 0, end = 0;
    bool const read = outcome == DATA_FILE_OK && fstat(fileno(file), &status) == 0;
    off_t const size = read ? status.st_size : 0;
    int const r = ranks.Index(), R = ranks.Count();
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
  outcome = ranks.AgreeStatus(outcome);
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
  std::vector<double> before = ranks.GatherFromAll(mine, 2);
  int offset = 0, dimension = 0;
  bool fixed = false;  // by the share of a rank before this one
  for (int r = 0; r < ranks.Count() && dimension == 0; ++r) {
    dimension = static_cast<int>(before[2 * r + 1]);
    fixed = dimension > 0 && r < ranks.Index();
  }
  for (int r = 0; r < ranks.Index(); ++r) offset += static_cast<int>(before[2 * r]);

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
  std::vector<double> counts = ranks.GatherFromAll(faults, 2);
  DataStream judge;
  char* text = nullptr;
  size_t length = 0;
  // Without memory for the messages they are lost, but no rank stops
  // between two exchanges.
  FILE* messages = open_memstream(&text, &length);
  judge.Open(static_cast<FILE*>(nullptr), messages);
  for (int r = 0; r < ranks.Index(); ++r) {
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
  std::vector<char> all = ranks.GatherTextAtFirst(text, length);
  free(text);
  if (ranks.Index() == 0) {
    fwrite(all.data(), 1, all.size(), stderr);
    fflush(stderr);
  }
  // The storage is taken before the ranks agree, so that running out of
  // memory for it is part of the outcome.
  outcome = stopped ? DATA_FILE_FAILED : DATA_FILE_OK;
  if (!stopped && kept * dimension > static_cast<size_t>(INT_MAX)) outcome = kTooLarge;
  try {
    if (outcome == DATA_FILE_OK) storage.Resize(static_cast<int>(kept), dimension, false);
  } catch (std::bad_alloc const&) {
    outcome = kOutOfMemory;
  }
  outcome = ranks.AgreeStatus(outcome);
  if (outcome == kOutOfMemory) throw std::bad_alloc();
  if (outcome == kTooLarge)
    fprintf(stderr, "Too many values for one data set (more than %i), exiting.\n", INT_MAX);
  if (outcome != DATA_FILE_OK) return DATA_FILE_FAILED;
  std::copy(share.values.data(), share.values.data() + kept * dimension, storage.data);
  if (lines) {
    // No limit was reached: the faulty lines are those counted without one.
    lines->skipped = 0;
    for (double count : counts) lines->skipped += static_cast<int>(count);
  }
  return DATA_FILE_OK;
}
