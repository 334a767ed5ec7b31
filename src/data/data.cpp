#include "data/data.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <new>

#include "data/datastream.h"
#include "data/readnums.h"
#include "matrix/threads.h"

namespace {

// Vectors are gathered in blocks of 1024, 2048, 4096, ... vectors (fewer for
// long vectors, so that memory stays proportional to the data), then copied
// once into the storage: no block is moved or grown while reading, and the
// storage is allocated once, at its final size.
const size_t kFirstBlockRows = 1024;
const size_t kFirstBlockElements = 1 << 20;

size_t FirstBlockRows(int dimension) {
  return std::clamp<size_t>(kFirstBlockElements / dimension, 1, kFirstBlockRows);
}

// Prints count values with format, then a line feed; false when a print fails.
bool WriteVector(FILE* file, double const* values, int count, const char* format) {
  for (int j = 0; j < count; ++j)
    if (fprintf(file, format, values[j]) < 0) return false;
  return fputc('\n', file) != EOF;
}

// Creates the file name and writes to it with write, which returns a
// DataFileResult; a failed close also makes DATA_FILE_FAILED.
template <class Writer>
int WriteFile(const char* name, Writer const& write) {
  FILE* file = fopen(name, "w");
  if (!file) return DATA_FILE_CANNOT_OPEN;
  int result = write(file);
  if (fclose(file) != 0 && result == DATA_FILE_OK) result = DATA_FILE_FAILED;
  return result;
}

// The doubles that one task copies: 1 MB.
size_t const kCopyPiece = size_t(1) << 17;

// The parts that copying `values` doubles is shared out in.
int CopyParts(size_t values) { return static_cast<int>(std::max<size_t>(1, values / kCopyPiece)); }

// Gathers the vectors that a data stream delivers, in order, in blocks that
// are copied once into the storage at the end.
struct VectorCollector {
  struct Block {
    std::unique_ptr<double[]> values;
    size_t size, capacity;
  };
  std::vector<Block> blocks;
  size_t count = 0;
  int dimension = 0;
  bool too_large = false;

  // Counts one more vector of `columns` values; false, having said why,
  // when the data would exceed the INT_MAX values that a storage holds (a
  // matrix counts its elements in an int): that stops reading like a read
  // failure.
  bool Count(int columns) {
    dimension = columns;
    if ((count + 1) * static_cast<size_t>(dimension) > static_cast<size_t>(INT_MAX)) {
      fprintf(stderr, "Too many values for one data set (more than %i), exiting.\n", INT_MAX);
      too_large = true;
      return false;
    }
    ++count;
    return true;
  }

  // Counts and appends a vector.
  bool Add(double const* values, int columns) {
    if (!Count(columns)) return false;
    if (blocks.empty() || blocks.back().size == blocks.back().capacity) {
      size_t rows = blocks.empty() ? FirstBlockRows(dimension) : 2 * blocks.back().size / dimension;
      blocks.push_back(
          {std::unique_ptr<double[]>(new double[rows * dimension]), 0, rows * dimension});
    }
    Block& block = blocks.back();
    std::copy(values, values + dimension, block.values.get() + block.size);
    block.size += dimension;
    return true;
  }

  // Appends the counted vectors at `vectors`, in a block of their own.
  void AddCounted(std::vector<double const*> const& vectors) {
    if (vectors.empty()) return;
    size_t const size = vectors.size() * dimension;
    blocks.push_back({std::unique_ptr<double[]>(new double[size]), size, size});
    double* to = blocks.back().values.get();
    int const parts = CopyParts(size);
    // Split by vectors: each has its own place.
    ParallelFor(parts, [&](int part, int) {
      size_t const first = vectors.size() * part / parts,
                   last = vectors.size() * (part + 1) / parts;
      for (size_t n = first; n < last; ++n)
        std::copy(vectors[n], vectors[n] + dimension, to + n * dimension);
    });
  }

  // Copies the vectors into storage, which is empty.
  void MoveTo(DataStorage& storage) {
    if (count == 0) return;
    storage.Resize(static_cast<int>(count), dimension, false);
    struct Piece {
      double const* from;
      size_t size;
      double* to;
    };
    std::vector<Piece> pieces;
    double* to = storage.data;
    for (Block const& block : blocks) {
      for (size_t at = 0; at < block.size; at += kCopyPiece)
        pieces.push_back({block.values.get() + at, std::min(kCopyPiece, block.size - at), to + at});
      to += block.size;
    }
    // Split by pieces of the blocks: each has its own place.
    ParallelFor(static_cast<int>(pieces.size()), [&](int i, int) {
      std::copy(pieces[i].from, pieces[i].from + pieces[i].size, pieces[i].to);
    });
  }
};

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

// Reads file from its position in windows of whole lines: the pieces of a
// window are parsed in parallel, then their lines are judged by stream in
// file order and the vectors it accepts collected, exactly as the line
// reader would. Returns true when a line is longer than a window: the file
// is then positioned at its start and the line counter set for the line
// reader to go on. Otherwise reading has ended: stream.finished is set at
// the end of the input and clear after a read failure or a limit.
bool ReadWindows(FILE* file, DataStream& stream, VectorCollector& collector) {
  off_t position = ftello(file);
  // Larger than the rest of the file by one, so that a window that is not
  // full tells the end; and room for a terminator.
  struct stat status;
  off_t const rest = fstat(fileno(file), &status) == 0 ? status.st_size - position : 0;
  size_t const room = static_cast<size_t>(std::clamp<off_t>(rest + 1, 1, kWindow));
  std::vector<char> window(room + 1);
  std::vector<Piece> pieces(4 * ThreadCount());
  std::vector<double const*> accepted;
  size_t kept = 0;  // the start of a line, carried over from the window before
  int lines = 0;    // the lines judged so far
  for (;;) {
    size_t const size = kept + fread(window.data() + kept, 1, room - kept, file);
    if (ferror(file)) return false;
    bool const last = size < room;
    // The window ends behind its last line feed, or at the end of the input.
    size_t end = size;
    if (!last) {
      const char* feed = static_cast<const char*>(memrchr(window.data(), '\n', size));
      if (!feed) {
        ResetLineCounter(lines);
        return fseeko(file, position, SEEK_SET) == 0;
      }
      end = feed + 1 - window.data();
    }
    // The last line of the input needs a terminator behind its last number.
    char const after = window[end];
    window[end] = '\0';
    // Pieces of about equal size, each from a line start to a line start;
    // one for a small file.
    size_t const count = std::min(pieces.size(), std::max<size_t>(1, end >> 16));
    const char* start = window.data();
    for (size_t i = 0; i < count; ++i) {
      const char* stop = window.data() + end * (i + 1) / count;
      if (stop > start && i + 1 < count) {
        const char* feed =
            static_cast<const char*>(memchr(stop - 1, '\n', window.data() + end - (stop - 1)));
        stop = feed ? feed + 1 : window.data() + end;
      }
      if (stop < start) stop = start;
      pieces[i].begin = start;
      pieces[i].end = stop;
      start = stop;
    }
    // Split by pieces: each line's numbers are its own.
    ParallelFor(static_cast<int>(count), [&](int i, int) { ParsePiece(pieces[i]); });
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
    kept = size - end;
    memmove(window.data(), window.data() + end, kept);
    position += end;
  }
}

}  // namespace

int DataStorage::Read(FILE* file) {
  Resize(0, 0, false);
  DataStream stream;
  stream.Open(file, stderr);
  VectorCollector collector;
  // A regular file is read in windows of whole lines, parsed in parallel;
  // the line reader takes over for a line longer than a window, and reads
  // every other input.
  bool lineByLine = !Seekable(file) || ReadWindows(file, stream, collector);
  while (lineByLine && stream.Get() && collector.Add(stream.vector.data, stream.vector.columns)) {
  }
  collector.MoveTo(*this);
  int result = stream.finished && !collector.too_large ? DATA_FILE_OK : DATA_FILE_FAILED;
  stream.Close();
  return result;
}

int DataStorage::Read(const char* name) {
  FILE* file = fopen(name, "r");
  if (!file) return DATA_FILE_CANNOT_OPEN;
  int result = Read(file);
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
