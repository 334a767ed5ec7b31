#ifndef MIXFIT_DATA_DATA_H
#define MIXFIT_DATA_DATA_H

// Data sets: the storage of the vectors read from a data file, and views on
// it (or on rows the caller owns) that the passes over the data read.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "matrix/matrix.h"
#include "parallel/ranks.h"

// Result codes of reading and writing data files.
enum DataFileResult : int32_t {
  DATA_FILE_OK = 0,
  DATA_FILE_CANNOT_OPEN = 1,  // the named file cannot be opened or created
  DATA_FILE_FAILED = 2,       // reading stopped early, or a write or close failed
  DATA_FILE_NO_STORAGE = -1,  // a view without a storage
};

// Where the vectors read from a data file stand in it, for output that must
// line up with the file's lines.
struct DataLines {
  std::vector<int> numbers;  // the line of each vector, from 1, as the messages count
  int skipped = 0;           // faulty lines, reported and skipped
};

// A data set: one data vector per row; the column count is the dimension.
// Data files hold one vector per line (see DataStream).
class DataStorage : public Matrix {
 public:
  // Reads all vectors of file, replacing the contents. Faulty lines are
  // reported to stderr and skipped. Returns a DataFileResult: DATA_FILE_OK
  // when the whole input was read (possibly no vector), DATA_FILE_FAILED
  // when reading stopped early: at the limit of faulty lines, at a read
  // failure or before the values would exceed the INT_MAX that a storage
  // holds. The vectors read before a stop stay. When lines is not null it
  // receives where the vectors stand in the file.
  int Read(FILE* file, DataLines* lines = nullptr);
  // As above; DATA_FILE_CANNOT_OPEN, and nothing changed, when the file
  // can't be opened.
  int Read(const char* name, DataLines* lines = nullptr);
  // This rank's share of the vectors of the named file: with one rank, as
  // Read(name). With several, each rank reads the lines that start in its
  // part of the file's bytes; the faulty lines are reported once, by rank 0,
  // in file order and with their line numbers in the whole file, and the
  // limit of faulty lines counts over the whole file, so that every rank
  // returns what Read(name) would. An input that cannot be seeked is read
  // by rank 0 and handed out in parts. Every rank gets the data's
  // dimension, also without a vector of its own, and lines the numbers of
  // its own vectors in the whole file and the faulty lines of the whole file.
  // The first form reads among the program's ranks.
  int ReadShare(const char* name, DataLines* lines = nullptr);
  int ReadShare(const char* name, DataLines* lines, Ranks const& ranks);

  // Writes one vector per line, each value as "%g ". Returns DATA_FILE_OK,
  // or DATA_FILE_FAILED when writing (or, for a file by name, closing)
  // fails; DATA_FILE_CANNOT_OPEN when the file can't be created.
  int Write(FILE* file) const;
  int Write(const char* name) const;

  // Appends the vectors of other, also of this set itself. Both must have
  // the same dimension.
  DataStorage& operator+=(DataStorage const& other);
};

// A view on a data storage, or on rows of doubles that the caller owns: the
// rows that make up a data set, in order (repetitions allowed). The storage
// or the rows must outlive the view; appending to a storage keeps the view
// valid.
class Data {
 public:
  DataStorage const* storage;
  std::vector<uint32_t> index;

  Data() : storage(nullptr) {}
  explicit Data(DataStorage const& storage) : storage(&storage) {}
  // The count rows of `dimension` doubles each at rows, row after row, all
  // mapped in order; nothing is copied. count must stay below 2^32.
  Data(double const* rows, size_t count, int dimension);

  // Where the set stands among the vectors of all ranks when several share
  // it: set where the shares are read (Ranks::ShareOf). By default the set
  // is whole.
  static constexpr size_t kWhole = SIZE_MAX;
  RankShare share{0, kWhole};

  size_t Count() const { return index.size(); }
  // The number of vectors of all ranks together.
  size_t TotalCount() const { return share.total == kWhole ? Count() : share.total; }
  int Dimension() const { return storage ? storage->columns : dimension_; }
  // Vector k of the data set: Dimension() values.
  double const* Vector(size_t k) const {
    return storage ? storage->data + static_cast<size_t>(index[k]) * storage->columns
                   : rows_ + static_cast<size_t>(index[k]) * dimension_;
  }

  // Appends first, first+1, ..., last-1 when last > first; first alone when
  // they are equal; first, first-1, ..., last+1 when last < first.
  void Map(uint32_t first, uint32_t last);
  // Removes the index at position k by moving the last index there.
  void Remove(uint32_t k);

  // Writes the vectors in view order, one per line, each value as "%.15g ".
  // Returns a DataFileResult: DATA_FILE_NO_STORAGE without a storage or
  // rows, else as DataStorage::Write.
  int Write(FILE* file) const;
  int Write(const char* name) const;

 private:
  double const* rows_ = nullptr;  // without a storage
  int dimension_ = 0;
};

#endif
