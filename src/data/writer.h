#ifndef MIXFIT_DATA_WRITER_H
#define MIXFIT_DATA_WRITER_H

// Writing vectors as lines of text: the common part of the data writers.

#include <cstdio>
#include <functional>

// Prints count values with format, then a line feed; false when a print fails.
bool WriteVector(FILE* file, double const* values, int count, const char* format);

// Creates the file name and writes to it with write, which returns a
// DataFileResult; a failed close also makes DATA_FILE_FAILED.
int WriteFile(const char* name, std::function<int(FILE*)> const& write);

#endif
