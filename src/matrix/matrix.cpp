#include "matrix/matrix.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

#include "matrix/random.h"

void MatrixFatalError(const char* message) {
  fprintf(stderr, "%s\n", message);
  fflush(stderr);
  abort();
}

namespace {

// Allocates count uninitialised doubles; null for 0.
double* Allocate(int rows, int columns) {
  if (rows < 0 || columns < 0) MatrixFatalError("Matrix: negative row or column count.");
  long long count = static_cast<long long>(rows) * columns;
  if (count > std::numeric_limits<int>::max()) MatrixFatalError("Matrix: too many elements.");
  return count == 0 ? nullptr : new double[count];
}

}  // namespace

Matrix::Matrix(int rows, int columns)
    : data(Allocate(rows, columns)), rows(rows), columns(columns) {}

Matrix::Matrix(int rows, int columns, double value) : Matrix(rows, columns) { Fill(value); }

Matrix::Matrix(Matrix const& source) : data(nullptr), rows(0), columns(0) { copy_over(source); }

Matrix::Matrix(Matrix&& source) noexcept
    : data(source.data), rows(source.rows), columns(source.columns) {
  source.data = nullptr;
  source.rows = 0;
  source.columns = 0;
}

Matrix::~Matrix() { delete[] data; }

void Matrix::copy_over(Matrix const& source) {
  int count = source.ElementCount();
  if (count != ElementCount()) {
    // Allocate first: if memory runs out, this matrix stays as it was.
    double* storage = Allocate(source.rows, source.columns);
    delete[] data;
    data = storage;
  }
  rows = source.rows;
  columns = source.columns;
  if (count > 0) memcpy(data, source.data, sizeof(double) * count);
}

Matrix& Matrix::operator=(Matrix const& source) {
  if (&source != this) copy_over(source);
  return *this;
}

Matrix& Matrix::operator=(Matrix&& source) noexcept {
  if (&source == this) return *this;
  // Takes the source's storage whatever its size: a move copies nothing.
  delete[] data;
  data = source.data;
  rows = source.rows;
  columns = source.columns;
  source.data = nullptr;
  source.rows = 0;
  source.columns = 0;
  return *this;
}

void Matrix::Resize(int new_rows, int new_columns, bool keep) {
  if (new_rows == rows && new_columns == columns) return;
  if (!keep) {
    // The same element count keeps the storage: values are re-read row-major.
    if (static_cast<long long>(new_rows) * new_columns != ElementCount() || new_rows < 0 ||
        new_columns < 0) {
      double* storage = Allocate(new_rows, new_columns);
      delete[] data;
      data = storage;
    }
  } else {
    double* storage = Allocate(new_rows, new_columns);
    int keep_rows = rows < new_rows ? rows : new_rows;
    int keep_columns = columns < new_columns ? columns : new_columns;
    if (keep_rows > 0 && keep_columns > 0) {
      if (columns == new_columns) {
        memcpy(storage, data, sizeof(double) * keep_rows * columns);
      } else {
        for (int i = 0; i < keep_rows; ++i)
          memcpy(storage + i * new_columns, data + i * columns, sizeof(double) * keep_columns);
      }
    }
    delete[] data;
    data = storage;
  }
  rows = new_rows;
  columns = new_columns;
}

void Matrix::Fill(double value) {
  double* p = data;
  for (int k = 0, n = ElementCount(); k < n; ++k) p[k] = value;
}

void Matrix::Scale(double factor) {
  double* p = data;
  for (int k = 0, n = ElementCount(); k < n; ++k) p[k] *= factor;
}

void Matrix::Add(Matrix const& other, double factor) {
  double* p = data;
  double const* q = other.data;
  for (int k = 0, n = ElementCount(); k < n; ++k) p[k] += factor * q[k];
}

void Matrix::InvertElements() {
  double* p = data;
  for (int k = 0, n = ElementCount(); k < n; ++k) p[k] = 1.0 / p[k];
}

Matrix& Matrix::operator+=(Matrix const& other) {
  if (rows != other.rows || columns != other.columns)
    MatrixFatalError("Matrix::operator+=: size mismatch.");
  double* p = data;
  double const* q = other.data;
  for (int k = 0, n = ElementCount(); k < n; ++k) p[k] += q[k];
  return *this;
}

Matrix& Matrix::operator-=(Matrix const& other) {
  if (rows != other.rows || columns != other.columns)
    MatrixFatalError("Matrix::operator-=: size mismatch.");
  double* p = data;
  double const* q = other.data;
  for (int k = 0, n = ElementCount(); k < n; ++k) p[k] -= q[k];
  return *this;
}

double Matrix::Trace() const {
  int n = rows < columns ? rows : columns;
  double sum = 0.0;
  for (int i = 0; i < n; ++i) sum += data[i * columns + i];
  return sum;
}

double Matrix::ElementSum() const {
  double sum = 0.0;
  for (int k = 0, n = ElementCount(); k < n; ++k) sum += data[k];
  return sum;
}

double Matrix::ElementProduct() const {
  double product = 1.0;
  for (int k = 0, n = ElementCount(); k < n; ++k) product *= data[k];
  return product;
}

// A NaN in element 0 is the result; a NaN later is passed over, because
// every ordered comparison with it is false.
double Matrix::Min() const {
  int n = ElementCount();
  if (n == 0) return std::numeric_limits<double>::quiet_NaN();
  double result = data[0];
  for (int k = 1; k < n; ++k)
    if (result > data[k]) result = data[k];
  return result;
}

double Matrix::Max() const {
  int n = ElementCount();
  if (n == 0) return std::numeric_limits<double>::quiet_NaN();
  double result = data[0];
  for (int k = 1; k < n; ++k)
    if (result < data[k]) result = data[k];
  return result;
}

int Matrix::NotFinite() const {
  int count = 0;
  for (int k = 0, n = ElementCount(); k < n; ++k)
    if (!std::isfinite(data[k])) ++count;
  return count;
}

void Matrix::Diag(double value) {
  Fill(0.0);
  int n = rows < columns ? rows : columns;
  for (int i = 0; i < n; ++i) data[i * columns + i] = value;
}

void Matrix::Randomize() {
  for (int k = 0, n = ElementCount(); k < n; ++k) data[k] = RandomNext() / 32767.0;
}

void Matrix::OuterProduct(double const* a_begin, double const* a_end, double const* b_begin,
                          double const* b_end) {
  double* out = data;
  for (double const* a = a_begin; a != a_end; ++a)
    for (double const* b = b_begin; b != b_end; ++b) *out++ = *a * *b;
}

void Matrix::OuterProduct(Matrix const& a, Matrix const& b) {
  int n = rows;
  for (int i = 0; i < n; ++i) {
    double ai = a.data[i];
    double* row = data + i * n;
    for (int j = 0; j < n; ++j) row[j] = ai * b.data[j];
  }
}

void Matrix::Diagonal(Matrix& target) const {
  int n = rows < columns ? rows : columns;
  bool fits =
      (target.rows == n && target.columns == 1) || (target.columns == n && target.rows == 1);
  if (!fits) target.Resize(1, n, false);
  for (int k = 0; k < n; ++k) target.data[k] = data[k * columns + k];
}

void Matrix::SubMatrix(Matrix& target, int first_row, int first_column) const {
  if (first_row < 0 || first_column < 0 || first_row + target.rows > rows ||
      first_column + target.columns > columns)
    MatrixFatalError("Matrix::SubMatrix: Region outside matrix.");
  for (int i = 0; i < target.rows; ++i)
    for (int j = 0; j < target.columns; ++j)
      target.data[i * target.columns + j] = data[(first_row + i) * columns + first_column + j];
}

Matrix Matrix::SubMatrix(int first_row, int first_column, int row_count, int column_count) const {
  if (first_row < 0 || first_column < 0 || first_row + row_count > rows ||
      first_column + column_count > columns)
    MatrixFatalError("Matrix::SubMatrix: Region outside matrix.");
  Matrix result(row_count, column_count);
  SubMatrix(result, first_row, first_column);
  return result;
}

void Matrix::SetSubMatrix(Matrix const& block, int first_row, int first_column) {
  if (first_row < 0 || first_row + block.rows > rows || first_column < 0 ||
      first_column + block.columns > columns)
    MatrixFatalError("Matrix::SetSubMatrix: Region outside matrix.");
  for (int i = 0; i < block.rows; ++i)
    for (int j = 0; j < block.columns; ++j)
      data[(first_row + i) * columns + first_column + j] = block.data[i * block.columns + j];
}

void Matrix::InsertRows(Matrix const& block) {
  if (block.columns != columns) MatrixFatalError("Matrix::InsertRows: size mismatch.");
  int old_rows = rows;
  Resize(rows + block.rows, columns, true);
  SetSubMatrix(block, old_rows, 0);
}

void Matrix::InsertColumns(Matrix const& block) {
  if (block.rows != rows) MatrixFatalError("Matrix::InsertColumns: size mismatch.");
  int old_columns = columns;
  Resize(rows, columns + block.columns, true);
  SetSubMatrix(block, 0, old_columns);
}

bool Matrix::Print(FILE* file, int first_row, int first_column, int row_count,
                   int column_count) const {
  for (int r = first_row; r < first_row + row_count; ++r) {
    for (int c = first_column; c < first_column + column_count; ++c)
      if (fprintf(file, "%.15g ", data[r * columns + c]) < 0) return false;
    if (fprintf(file, "\n") < 0) return false;
  }
  return true;
}

Matrix& Matrix::operator*=(Matrix const& b) {
  if (&b == this) {
    // The row-by-row product overwrites rows the operand still needs.
    Matrix copy(b);
    return *this *= copy;
  }
  if (columns != b.rows) MatrixFatalError("Matrix::operator*=: Size mismatch.");
  if (rows == columns && b.rows == b.columns) {
    int n = rows;
    double* row = new double[n > 0 ? n : 1];
    for (int i = 0; i < n; ++i) {
      double const* a = data + i * n;
      for (int j = 0; j < n; ++j) {
        double sum = 0.0;
        for (int k = 0; k < n; ++k) sum += a[k] * b.data[k * n + j];
        row[j] = sum;
      }
      memcpy(data + i * n, row, sizeof(double) * n);
    }
    delete[] row;
    return *this;
  }
  int q = columns, p = b.columns;
  double* storage = Allocate(rows, p);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < p; ++j) {
      double sum = 0.0;
      for (int k = 0; k < q; ++k) sum += data[i * q + k] * b.data[k * p + j];
      storage[i * p + j] = sum;
    }
  delete[] data;
  data = storage;
  columns = p;
  return *this;
}

void Matrix::Transpose() {
  if (rows <= 1 || columns <= 1) {
    std::swap(rows, columns);
    return;
  }
  if (rows == columns) {
    for (int i = 0; i < rows; ++i)
      for (int j = 0; j < i; ++j) std::swap(data[i * columns + j], data[j * columns + i]);
    return;
  }
  double* storage = Allocate(columns, rows);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < columns; ++j) storage[j * rows + i] = data[i * columns + j];
  delete[] data;
  data = storage;
  std::swap(rows, columns);
}

// A non-positive pivot does not stop the factorisation: it is clamped to 0,
// later rows fill with infinities or NaN, and the result is false.
bool Matrix::CholeskyDecomposition(double* determinant) {
  if (rows != columns) return false;
  int n = rows;
  bool ok = true;
  double product = 1.0;
  for (int i = 0; i < n; ++i) {
    double* li = data + i * n;
    double s = 0.0;
    for (int j = 0; j < i; ++j) {
      double const* lj = data + j * n;
      double dot = 0.0;
      for (int k = 0; k < j; ++k) dot += li[k] * lj[k];
      li[j] = (li[j] - dot) / lj[j];
      s += li[j] * li[j];
    }
    double d = li[i] - s;
    if (d <= 0) {
      d = 0;
      ok = false;
    }
    li[i] = sqrt(d);
    for (int j = i + 1; j < n; ++j) li[j] = 0.0;
    product *= d;
  }
  if (determinant) *determinant = product;
  return ok;
}

bool Matrix::InvertLowerTriangular() {
  bool ok = true;
  int n = columns;
  for (int i = 0; i < n; ++i) {
    double x = 1.0 / data[i * columns + i];
    data[i * columns + i] = x;
    if (!std::isfinite(x)) ok = false;
    for (int r = i + 1; r < rows; ++r) {
      double const* lr = data + r * columns;
      double s = 0.0;
      for (int k = i; k < r; ++k) s += lr[k] * data[k * columns + i];
      data[r * columns + i] = s / (-lr[r]);
    }
  }
  return ok;
}

namespace {

// Gaussian elimination with partial pivoting to row echelon form with leading
// ones. When determinant is not null it collects the sign of every row
// exchange and every pivot value.
void Eliminate(double* a, int rows, int columns, double* determinant) {
  int r = 0, c = 0;
  while (r < rows && c < columns) {
    int pivot = r;
    double largest = 0.0;
    for (int i = r; i < rows; ++i) {
      double v = fabs(a[i * columns + c]);
      if (v > largest) {
        largest = v;
        pivot = i;
      }
    }
    if (largest == 0.0) {
      ++c;
      continue;
    }
    double v = a[pivot * columns + c];
    if (pivot != r) {
      for (int k = c; k < columns; ++k) std::swap(a[r * columns + k], a[pivot * columns + k]);
      if (determinant) *determinant = -*determinant;
    }
    double* row = a + r * columns;
    for (int k = c; k < columns; ++k) row[k] /= v;
    for (int i = r + 1; i < rows; ++i) {
      double* other = a + i * columns;
      if (other[c] != 0.0) {
        double f = other[c];
        for (int k = c; k < columns; ++k) other[k] += (-f) * row[k];
      }
    }
    if (determinant) *determinant *= v;
    ++r;
  }
}

}  // namespace

void Matrix::RowEchelon() { Eliminate(data, rows, columns, nullptr); }

void Matrix::Invert() {
  if (rows != columns) MatrixFatalError("Matrix::Invert(): matrix is not square.");
  int n = rows, w = 2 * n;
  Matrix work(n, w, 0.0);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) work.data[i * w + j] = data[i * n + j];
    work.data[i * w + n + i] = 1.0;
  }
  work.RowEchelon();
  for (int k = n - 1; k >= 1; --k)
    for (int r = k - 1; r >= 0; --r) {
      double f = work.data[r * w + k];
      for (int c = k; c < w; ++c) work.data[r * w + c] -= f * work.data[k * w + c];
    }
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) data[i * n + j] = work.data[i * w + n + j];
}

Matrix Matrix::Inverse() const {
  Matrix result(*this);
  result.Invert();
  return result;
}

// With more rows than columns only the min(rows, columns) diagonal elements
// exist; the product is taken over those.
double Matrix::Determinant() const {
  Matrix copy(*this);
  double det = 1.0;
  Eliminate(copy.data, rows, columns, &det);
  int n = rows < columns ? rows : columns;
  for (int i = 0; i < n; ++i) det *= copy.data[i * columns + i];
  return det;
}

ColumnIterator Matrix::ColumnBegin(int column) { return {data + column, columns}; }
ColumnIterator Matrix::ColumnEnd(int column) { return {data + rows * columns + column, columns}; }
ConstColumnIterator Matrix::ColumnBegin(int column) const { return {data + column, columns}; }
ConstColumnIterator Matrix::ColumnEnd(int column) const {
  return {data + rows * columns + column, columns};
}

Matrix operator+(Matrix const& a, Matrix const& b) {
  Matrix result(a);
  result += b;
  return result;
}

Matrix operator-(Matrix const& a, Matrix const& b) {
  Matrix result(a);
  result -= b;
  return result;
}

Matrix operator*(Matrix const& a, Matrix const& b) {
  Matrix result(a);
  result *= b;
  return result;
}

Matrix operator*(Matrix const& a, double s) {
  Matrix result(a);
  result.Scale(s);
  return result;
}

Matrix operator*(double s, Matrix const& a) { return a * s; }

Matrix Transpose(Matrix const& a) {
  Matrix result(a);
  result.Transpose();
  return result;
}

double Dot(Matrix const& a, Matrix const& b) {
  bool vectors = (a.rows == 1 || a.columns == 1) && (b.rows == 1 || b.columns == 1);
  if (!vectors || a.ElementCount() != b.ElementCount())
    MatrixFatalError("matrix::Dot: Size mismatch.");
  double sum = 0.0;
  for (int k = 0, n = a.ElementCount(); k < n; ++k) sum += a.data[k] * b.data[k];
  return sum;
}

bool operator==(Matrix const& a, Matrix const& b) {
  if (a.rows != b.rows || a.columns != b.columns) return false;
  if (&a == &b) return true;
  for (int k = 0, n = a.ElementCount(); k < n; ++k) {
    double x = fabs(a.data[k]), y = fabs(b.data[k]);
    double largest = x >= y ? x : y;
    // A NaN quotient (0/0 or a NaN element) is not counted as a difference.
    if (fabs(a.data[k] - b.data[k]) / largest > 1e-6) return false;
  }
  return true;
}

int operator-(ColumnIterator const& a, ColumnIterator const& b) {
  return static_cast<int>((a.element - b.element) / a.stride);
}
ColumnIterator operator+(ColumnIterator const& it, int n) {
  return {it.element + static_cast<long>(n) * it.stride, it.stride};
}
int operator-(ConstColumnIterator const& a, ConstColumnIterator const& b) {
  return static_cast<int>((a.element - b.element) / a.stride);
}
ConstColumnIterator operator+(ConstColumnIterator const& it, int n) {
  return {it.element + static_cast<long>(n) * it.stride, it.stride};
}
