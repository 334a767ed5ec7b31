#ifndef MIXFIT_TESTS_MATRIX_MATRIX_BUILDERS_H
#define MIXFIT_TESTS_MATRIX_MATRIX_BUILDERS_H

#include <initializer_list>

#include "matrix/matrix.h"

// A rows x columns matrix holding values in row-major order.
inline Matrix FromValues(int rows, int columns, std::initializer_list<double> values) {
  Matrix m(rows, columns);
  int k = 0;
  for (double v : values) m.data[k++] = v;
  return m;
}

#endif
