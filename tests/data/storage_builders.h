#ifndef MIXFIT_TESTS_DATA_STORAGE_BUILDERS_H
#define MIXFIT_TESTS_DATA_STORAGE_BUILDERS_H

#include <vector>

#include "data/data.h"

// A data set of rows vectors of dimension columns, values in row-major order.
inline DataStorage StorageOf(int rows, int columns, std::vector<double> const& values) {
  DataStorage storage;
  storage.Resize(rows, columns, false);
  for (size_t k = 0; k < values.size(); ++k) storage.data[k] = values[k];
  return storage;
}

// A view listing every row of storage in order.
inline Data AllRows(DataStorage const& storage) {
  Data data(storage);
  if (storage.rows > 0) data.Map(0, storage.rows);
  return data;
}

#endif
