#include "data/data.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "data/datastream.h"

namespace {

// The first block holds 1024 vectors, fewer for long vectors so that memory
// stays proportional to the data; later blocks double. No block exceeds the
// element count a Matrix can hold.
const int kFirstBlockRows = 1024;
const int kFirstBlockElements = 1 << 20;

int FirstBlockRows(int dimension) {
  return std::clamp(kFirstBlockElements / dimension, 1, kFirstBlockRows);
}

int NextBlockRows(int rows, int dimension) {
  return static_cast<int>(std::min<long long>(2LL * rows, INT_MAX / dimension));
}

// Appends the first fill rows of block to storage.
void AppendBlock(DataStorage& storage, Matrix& block, int fill) {
  int old_rows = storage.rows;
  storage.Resize(old_rows + fill, block.columns, true);
  memcpy(storage.data + static_cast<size_t>(old_rows) * block.columns, block.data,
         sizeof(double) * fill * block.columns);
}

// Prints count values with format, then a line feed; false when a print fails.
bool WriteVector(FILE* file, double const* values, int count, const char* format) {
  for (int j = 0; j < count; ++j)
    if (fprintf(file, format, values[j]) < 0) return false;
  return fputc('\n', file) != EOF;
}

// Creates the file name and writes to it with write; 1 when it can't be
// created, 2 when writing or closing fails, else 0.
template <class Writer>
int WriteFile(const char* name, Writer const& write) {
  FILE* file = fopen(name, "w");
  if (!file) return 1;
  int result = write(file);
  if (fclose(file) != 0 && result == 0) result = 2;
  return result;
}

}  // namespace

int DataStorage::Read(FILE* file) {
  Resize(0, 0, false);
  DataStream stream;
  stream.Open(file, stderr);
  if (stream.Get()) {
    int dimension = stream.vector.columns;
    Matrix block(FirstBlockRows(dimension), dimension);
    int fill = 0;
    do {
      memcpy(block.data + static_cast<size_t>(fill) * dimension, stream.vector.data,
             sizeof(double) * dimension);
      if (++fill == block.rows) {
        AppendBlock(*this, block, fill);
        block.Resize(NextBlockRows(block.rows, dimension), dimension, false);
        fill = 0;
      }
    } while (stream.Get());
    if (fill > 0) AppendBlock(*this, block, fill);
  }
  int result = stream.finished ? 0 : 2;
  stream.Close();
  return result;
}

int DataStorage::Read(const char* name) {
  FILE* file = fopen(name, "r");
  if (!file) return 1;
  int result = Read(file);
  fclose(file);
  return result;
}

int DataStorage::Write(FILE* file) const {
  for (int i = 0; i < rows; ++i)
    if (!WriteVector(file, data + static_cast<size_t>(i) * columns, columns, "%g ")) return 2;
  // Buffered output fails only when it reaches the file.
  return fflush(file) == 0 ? 0 : 2;
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
  if (!storage) return -1;
  for (size_t k = 0; k < index.size(); ++k)
    if (!WriteVector(file, Vector(k), storage->columns, "%.15g ")) return 2;
  return fflush(file) == 0 ? 0 : 2;
}

int Data::Write(const char* name) const {
  if (!storage) return -1;
  return WriteFile(name, [this](FILE* file) { return Write(file); });
}
