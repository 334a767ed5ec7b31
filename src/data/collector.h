#ifndef MIXFIT_DATA_COLLECTOR_H
#define MIXFIT_DATA_COLLECTOR_H

// Gathers the vectors that the data readers accept, in order, and copies
// them once into a storage at the end.

#include <cstddef>
#include <memory>
#include <vector>

#include "data/data.h"

// Vectors are gathered in blocks of 1024, 2048, 4096, ... vectors (fewer for
// long vectors, so that memory stays proportional to the data): no block is
// moved or grown while reading, and the storage is allocated once, at its
// final size.
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
  bool Count(int columns);

  // Counts and appends a vector.
  bool Add(double const* values, int columns);

  // Appends the counted vectors at `vectors`, in a block of their own.
  void AddCounted(std::vector<double const*> const& vectors);

  // Copies the vectors into storage, which is empty.
  void MoveTo(DataStorage& storage);
};

#endif
