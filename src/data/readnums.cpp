#include "data/readnums.h"

#include <algorithm>
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

// Exact powers of ten: every one up to 1e22 is a double.
const double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                               1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                               1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Reads a number at text exactly as strtod does and sets *end behind it (to
// text when there is none). Plain decimals with at most 19 digits, a digit
// value up to 2^53 and a decimal exponent within +-22 are converted directly:
// the digit value and the power of ten are both exact doubles, so a single
// correctly rounded multiplication or division gives the correctly rounded
// result that strtod gives. Everything else goes to strtod.
double ReadNumber(const char* text, const char** end) {
  const char* p = text;
  bool negative = *p == '-';
  if (*p == '+' || *p == '-') ++p;
  uint64_t digit_value = 0;
  int digits = 0;
  for (; IsDigit(*p); ++p, ++digits) digit_value = digit_value * 10 + (*p - '0');
  int fraction_digits = 0;
  if (*p == '.') {
    ++p;
    for (; IsDigit(*p); ++p, ++fraction_digits) digit_value = digit_value * 10 + (*p - '0');
  }
  digits += fraction_digits;
  int exponent = 0;
  if (*p == 'e' || *p == 'E') {
    const char* q = p + 1;
    bool negative_exponent = *q == '-';
    if (*q == '+' || *q == '-') ++q;
    if (IsDigit(*q)) {
      for (; IsDigit(*q); ++q)
        if (exponent < 10000) exponent = exponent * 10 + (*q - '0');
      if (negative_exponent) exponent = -exponent;
      p = q;
    }
  }
  exponent -= fraction_digits;
  // Digits overflow 64 bits past 19 of them; 'x' may belong to hexadecimal.
  bool exact = digits > 0 && digits <= 19 && *p != 'x' && *p != 'X' &&
               digit_value <= (uint64_t(1) << 53) && exponent >= -22 && exponent <= 22;
  if (!exact) {
    char* strtod_end;
    double value = strtod(text, &strtod_end);
    *end = strtod_end;
    return value;
  }
  double value = static_cast<double>(digit_value);
  value = exponent < 0 ? value / kPowersOfTen[-exponent] : value * kPowersOfTen[exponent];
  *end = p;
  return negative ? -value : value;
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

double* ReadVector(FILE* file, int* length, int* incomplete, int* error) {
  *incomplete = 0;
  *error = 0;
  if (number_buffer.empty()) number_buffer.resize(kInitialNumberBufferSize);
  if (*length < 1) *length = 1;

  const char* line;
  const char* end;
  const char* p;
  do {
    line = ReadTextFileLine(file);
    if (!line) return nullptr;
    end = line + line_length;
    p = SkipWhiteSpace(line, end);
  } while (p == end || *p == '%' || *p == '#');

  if (memchr(line, '\0', line_length)) {
    *error = 1;
    return nullptr;
  }
  // The line ends at its terminator, so every read below stops there.
  size_t count = 0;
  bool finite = true;
  for (;;) {
    if (count == number_buffer.size()) number_buffer.resize(2 * number_buffer.size());
    const char* after;
    double value = ReadNumber(p, &after);
    if (after == p) {
      *error = 1;
      return nullptr;
    }
    p = after;
    if (*p == '%') {
      ++p;
      value *= 0.01;
    }
    if (*p == ',') ++p;
    number_buffer[count++] = value;
    finite = finite && std::isfinite(value);
    if (p == end) break;
    if (!IsWhiteSpace(*p)) {
      *error = 1;
      return nullptr;
    }
    p = SkipWhiteSpace(p, end);
    if (p == end) break;
  }

  if (static_cast<int>(count) < *length || !finite || HasNotANumberOrInfinityText(line, line_length))
    *incomplete = 1;
  *length = static_cast<int>(count);
  return number_buffer.data();
}

void ResetLineCounter(int value) { line_number = value; }

int CurrentLineNumber() { return line_number; }
