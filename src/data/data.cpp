#include "data/data.h"

#include <vector>

#include "data/collector.h"
#include "data/datastream.h"
#include "data/readnums.h"
#include "data/sharereader.h"
#include "data/windowreader.h"
#include "data/writer.h"

int DataStorage::ReadShare(const char* name, DataLines* lines) {
  return ReadShare(name, lines, ProgramRanks());
}

int DataStorage::ReadShare(const char* name, DataLines* lines, Ranks const& ranks) {
  return ReadRankShare(*this, name, lines, ranks);
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

Data::Data(double const* rows, size_t count, int dimension)
    : storage(nullptr), rows_(rows), dimension_(dimension) {
  index.resize(count);
  for (size_t k = 0; k < count; ++k) index[k] = static_cast<uint32_t>(k);
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
  if (!storage && !rows_) return DATA_FILE_NO_STORAGE;
  for (size_t k = 0; k < index.size(); ++k)
    if (!WriteVector(file, Vector(k), Dimension(), "%.15g ")) return DATA_FILE_FAILED;
  return fflush(file) == 0 ? DATA_FILE_OK : DATA_FILE_FAILED;
}

int Data::Write(const char* name) const {
  if (!storage && !rows_) return DATA_FILE_NO_STORAGE;
  return WriteFile(name, [this](FILE* file) { return Write(file); });
}
