#include "data/readnums.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

const size_t kInitialLineBufferSize = 1024;
// No line of a numeric file comes near this; an endless one (such as
// /dev/zero) stops here as a read failure instead of taking all memory.
const size_t kMaxLineLength = size_t(1) << 28;
bool line_too_long = false;
const size_t kInitialNumberBufferSize = 1024;

// Every character of line_buffer behind the terminator of the last line is a
// line feed. fgets does not tell how many characters it stored, and a line
// may hold zero characters, so the end of what fgets wrote is found as the
// first line feed of the buffer: either the line's own, directly followed by
// the terminator, or the filler directly behind the terminator.
std::vector<char> line_buffer;
size_t line_length = 0;
int line_number = 1;

std::vector<double> number_buffer;

bool IsWhiteSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

const char* SkipWhiteSpace(const char* p, const char* end) {
  while (p != end && IsWhiteSpace(*p)) ++p;
  return p;
}

// Reads with fgets into the room characters of line_buffer from offset on
// and returns the end of the text stored there, or offset when nothing could
// be read.
size_t ReadPiece(FILE* file, size_t offset, size_t room) {
  char* piece = line_buffer.data() + offset;
  if (!fgets(piece, static_cast<int>(room), file)) {
    // At the end of the input fgets leaves the buffer as it was; after a read
    // error its contents are undefined, so the filler is laid anew.
    if (ferror(file)) memset(piece, '\n', room);
    piece[0] = '\0';
    return offset;
  }
  const char* feed = static_cast<const char*>(memchr(piece, '\n', room));
  if (!feed) return offset + room - 1;  // filled up without a line feed
  size_t at = feed - line_buffer.data();
  // The line's own feed has fgets' terminator behind it; filler in the
  // buffer's last place cannot be that feed.
  if (at + 1 < line_buffer.size() && line_buffer[at + 1] == '\0') return at + 1;
  return at - 1;  // the filler behind the terminator
}

// Reads a number at text exactly as strtod does and sets *after behind it (to
// text when there is none); the number ends before end. std::from_chars
// gives the same correctly rounded value for the plain decimal forms, much
// faster; strtod reads the rest: a leading '+', hexadecimal (from_chars
// stops at its 'x'), infinities, NaNs and values out of range.
double ReadNumber(const char* text, const char* end, const char** after) {
  const char* start = *text == '-' ? text + 1 : text;
  if (start != end && (IsDigit(*start) || *start == '.')) {
    double value;
    std::from_chars_result read = std::from_chars(text, end, value);
    if (read.ec == std::errc() && (read.ptr == end || (*read.ptr != 'x' && *read.ptr != 'X'))) {
      *after = read.ptr;
      return value;
    }
  }
  char* strtod_end;
  double value = strtod(text, &strtod_end);
  *after = strtod_end;
  return value;
}

bool HasNotANumberOrInfinityText(const char* line, size_t length) {
  std::string_view text(line, length);
  return text.find("NaN") != std::string_view::npos || text.find("Inf") != std::string_view::npos;
}

}  // namespace

char* ReadTextFileLine(FILE* file) {
  if (feof(file)) return nullptr;
  if (line_buffer.empty()) {
    line_buffer.assign(kInitialLineBufferSize, '\n');
  } else {
    memset(line_buffer.data(), '\n', line_length + 1);  // the last line and its terminator
  }
  line_length = 0;
  line_too_long = false;
  size_t length = 0;
  for (;;) {
    size_t room = std::min<size_t>(line_buffer.size() - length, INT_MAX);
    size_t end = ReadPiece(file, length, room);
    bool filled = end == length + room - 1 && line_buffer[end - 1] != '\n';
    length = end;
    if (!filled) break;
    // The line goes on: read on behind what is there, in a buffer twice as
    // large when this one is full, keeping the filler behind the text.
    line_buffer[length] = '\n';
    if (length + 1 == line_buffer.size()) {
      if (line_buffer.size() >= kMaxLineLength) {
        line_too_long = true;
        return nullptr;
      }
      line_buffer.resize(2 * line_buffer.size(), '\n');
    }
  }
  if (length == 0) return nullptr;
  line_length = length;
  ++line_number;
  return line_buffer.data();
}

bool LineTooLong() { return line_too_long; }

int LastLineLength() { return static_cast<int>(line_length); }

LineContent ParseLine(const char* line, size_t length, std::vector<double>& numbers,
                      bool* not_finite) {
  const char* end = line + length;
  const char* p = SkipWhiteSpace(line, end);
  if (p == end || *p == '%' || *p == '#') return LINE_SKIPPED;
  if (memchr(line, '\0', length)) return LINE_ERROR;
  bool finite = true;
  for (;;) {
    const char* after;
    double value = ReadNumber(p, end, &after);
    if (after == p) return LINE_ERROR;
    p = after;
    if (p != end && *p == '%') {
      ++p;
      value *= 0.01;
    }
    numbers.push_back(value);
    finite = finite && std::isfinite(value);
    if (p != end && *p == ',') {
      ++p;
      // Comma-separated files ("1.5,2") put the next number right behind the
      // comma; what follows must then read as a number, or the line is wrong.
      if (p != end && !IsWhiteSpace(*p)) continue;
    }
    if (p == end) break;
    if (!IsWhiteSpace(*p)) return LINE_ERROR;
    p = SkipWhiteSpace(p, end);
    if (p == end) break;
  }
  *not_finite = !finite || HasNotANumberOrInfinityText(line, length);
  return LINE_NUMBERS;
}

double* ReadVector(FILE* file, int* length, int* incomplete, int* error) {
  *incomplete = 0;
  *error = 0;
  if (number_buffer.capacity() == 0) number_buffer.reserve(kInitialNumberBufferSize);
  if (*length < 1) *length = 1;

  LineContent content;
  bool not_finite = false;
  do {
    const char* line = ReadTextFileLine(file);
    if (!line) return nullptr;
    number_buffer.clear();
    content = ParseLine(line, line_length, number_buffer, &not_finite);
  } while (content == LINE_SKIPPED);
  if (content == LINE_ERROR) {
    *error = 1;
    return nullptr;
  }
  int const count = static_cast<int>(number_buffer.size());
  if (count < *length || not_finite) *incomplete = 1;
  *length = count;
  return number_buffer.data();
}

void ResetLineCounter(int value) { line_number = value; }

int CurrentLineNumber() { return line_number; }
