#ifndef MIXFIT_DATA_WINDOWREADER_H
#define MIXFIT_DATA_WINDOWREADER_H

// Reads a regular data file in windows of whole lines, parsed in parallel,
// with the same results and messages as the line reader.

#include <cstdio>
#include <vector>

#include "data/collector.h"
#include "data/datastream.h"

// Whether file is a regular file whose position can be told and set.
bool Seekable(FILE* file);

// Reads file from its position in windows of whole lines: the pieces of a
// window are parsed in parallel, then their lines are judged by stream in
// file order and the vectors it accepts collected, exactly as the line
// reader would, with their line numbers when numbers is not null. Returns
// true when a line is longer than a window: the file is then positioned at
// its start and the line counter set for the line reader to go on.
// Otherwise reading has ended: stream.finished is set at the end of the
// input and clear after a read failure or a limit.
bool ReadWindows(FILE* file, DataStream& stream, VectorCollector& collector,
                 std::vector<int>* numbers);

#endif
