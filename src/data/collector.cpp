#include "data/collector.h"

#include <algorithm>
#include <climits>
#include <cstdio>

#include "parallel/threads.h"

namespace {

const size_t kFirstBlockRows = 1024;
const size_t kFirstBlockElements = 1 << 20;

size_t FirstBlockRows(int dimension) {
  return std::clamp<size_t>(kFirstBlockElements / dimension, 1, kFirstBlockRows);
}

// The parts that copying `values` doubles is shared out in: a chunk each.
int CopyParts(size_t values) {
  return static_cast<int>(std::max<size_t>(1, values / kChunkDoubles));
}

}  // namespace

bool VectorCollector::Count(int columns) {
  dimension = columns;
  if ((count + 1) * static_cast<size_t>(dimension) > static_cast<size_t>(INT_MAX)) {
    fprintf(stderr, "Too many values for one data set (more than %i), exiting.\n", INT_MAX);
    too_large = true;
    return false;
  }
  ++count;
  return true;
}

bool VectorCollector::Add(double const* values, int columns) {
  if (!Count(columns)) return false;
  if (blocks.empty() || blocks.back().size == blocks.back().capacity) {
    size_t rows = blocks.empty() ? FirstBlockRows(dimension) : 2 * blocks.back().size / dimension;
    blocks.push_back(
        {std::unique_ptr<double[]>(new double[rows * dimension]), 0, rows * dimension});
  }
  Block& block = blocks.back();
  std::copy(values, values + dimension, block.values.get() + block.size);
  block.size += dimension;
  return true;
}

void VectorCollector::AddCounted(std::vector<double const*> const& vectors) {
  if (vectors.empty()) return;
  size_t const size = vectors.size() * dimension;
  blocks.push_back({std::unique_ptr<double[]>(new double[size]), size, size});
  double* to = blocks.back().values.get();
  int const parts = CopyParts(size);
  // Split by vectors: each has its own place.
  ParallelFor(parts, [&](int part, int) {
    size_t const first = vectors.size() * part / parts, last = vectors.size() * (part + 1) / parts;
    for (size_t n = first; n < last; ++n)
      std::copy(vectors[n], vectors[n] + dimension, to + n * dimension);
  });
}

void VectorCollector::MoveTo(DataStorage& storage) {
  if (count == 0) return;
  storage.Resize(static_cast<int>(count), dimension, false);
  struct Piece {
    double const* from;
    size_t size;
    double* to;
  };
  std::vector<Piece> pieces;
  double* to = storage.data;
  for (Block const& block : blocks) {
    for (size_t at = 0; at < block.size; at += kChunkDoubles)
      pieces.push_back(
          {block.values.get() + at, std::min(kChunkDoubles, block.size - at), to + at});
    to += block.size;
  }
  // Split by pieces of the blocks: each has its own place.
  ParallelFor(static_cast<int>(pieces.size()), [&](int i, int) {
    std::copy(pieces[i].from, pieces[i].from + pieces[i].size, pieces[i].to);
  });
}
