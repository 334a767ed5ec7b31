#ifndef MIXFIT_DATA_READNUMS_H
#define MIXFIT_DATA_READNUMS_H

#include <cstddef>
#include <cstdio>
#include <vector>

// Line and number readers shared by every numeric text file of the program.
//
// Line syntax: a line that is empty or white space only is blank; a line whose
// first character other than white space is '%' or '#' is a comment line.
// Both are skipped. Any other line holds numbers as strtod reads them, each
// optionally followed directly by '%' (scales it by 0.01) and then by one ','.
// After that the line must end or continue with white space, or, behind a
// comma, directly with the next number ("1.5,2" reads as "1.5, 2"). White
// space is space, tab, line feed, vertical tab, form feed and carriage return.
//
// The readers keep process-wide state (a line buffer, a number buffer and a
// line counter): one text file is read at a time, and the text or numbers
// returned are overwritten by the next call. The buffers grow by doubling and
// are never released.

// Returns the next line of file, with its line feed when it has one, or null
// at the end of the input (or when reading fails: check ferror and
// LineTooLong). The line
// lives in a reused buffer, may be changed in place, must not be freed. It
// is terminated by a zero character; LastLineLength gives its real length,
// which differs from strlen when the line itself holds zero characters.
char* ReadTextFileLine(FILE* file);

// Whether the last ReadTextFileLine returned null because the line grew
// beyond 256 MiB: a read failure, like an error of the stream.
bool LineTooLong();

// Length in characters of the line last returned by ReadTextFileLine.
int LastLineLength();

// Returns the numbers of the next line that is neither blank nor a comment,
// or null. On entry *length is the number of values expected (raised to 1
// when below); on return it holds the number of values read.
// - end of input: null, both flags 0;
// - syntax error: null, *error = 1; the rest of the line is dropped. A place
//   where a number must stand but none can be read, and a line holding a zero
//   character, are syntax errors;
// - otherwise the numbers, with *incomplete = 1 when fewer than expected were
//   read, when the line's text contains "NaN" or "Inf", or when a value is
//   not finite (e.g. "nan", "1e999"). More values than expected are not
//   flagged: callers compare *length themselves.
// The numbers live in a reused buffer and must not be freed.
double* ReadVector(FILE* file, int* length, int* incomplete, int* error);

// What a line of a numeric text file holds.
enum LineContent {
  LINE_SKIPPED,  // blank or a comment
  LINE_NUMBERS,
  LINE_ERROR,  // a syntax error or a zero character
};

// Parses the length characters at line (one line, with its line feed when it
// has one; a terminator, or the line feed, must follow the last number)
// as ReadVector does, appending its numbers to numbers. For LINE_NUMBERS,
// *not_finite tells whether a value is not finite or the text contains "NaN"
// or "Inf"; after LINE_ERROR numbers may hold some of the line's numbers.
LineContent ParseLine(const char* line, size_t length, std::vector<double>& numbers,
                      bool* not_finite);

// Sets the line counter; after ResetLineCounter(0) it equals the number of
// the line last read, counting from 1.
void ResetLineCounter(int value);

// The line counter: lines read since the last reset plus the value given then.
int CurrentLineNumber();

#endif
