#include "data/data.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "data/datastream.h"

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

}  // namespace

int DataStorage::Read(FILE* file) {
  Resize(0, 0, false);
  DataStream stream;
  stream.Open(file, stderr);
  std::vector<std::vector<double>> blocks;
  size_t count = 0;
  bool too_large = false;
  while (stream.Get()) {
    int dimension = stream.vector.columns;
    // A storage holds at most INT_MAX values (a matrix counts its elements in
    // an int): larger data stop reading like a read failure.
    if ((count + 1) * static_cast<size_t>(dimension) > static_cast<size_t>(INT_MAX)) {
      fprintf(stderr, "Too many values for one data set (more than %i), exiting.\n", INT_MAX);
      too_large = true;
      break;
    }
    if (blocks.empty() || blocks.back().size() == blocks.back().capacity()) {
      size_t rows = blocks.empty() ? FirstBlockRows(dimension) : 2 * blocks.back().size() / dimension;
      blocks.emplace_back();
      blocks.back().reserve(rows * dimension);
    }
    blocks.back().insert(blocks.back().end(), stream.vector.data, stream.vector.data + dimension);
    ++count;
  }
  if (count > 0) {
    Resize(static_cast<int>(count), stream.vector.columns, false);
    double* end = data;
    for (std::vector<double> const& block : blocks) end = std::copy(block.begin(), block.end(), end);
  }
  int result = stream.finished && !too_large ? DATA_FILE_OK : DATA_FILE_FAILED;
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
