#ifndef MIXFIT_MATRIX_MATRIX_H
#define MIXFIT_MATRIX_MATRIX_H

// Dense matrices of doubles: storage, element operations, algebra and the
// decompositions and inverses that the mixtures need.

#include <cstdio>

// Writes message and a line feed to stderr, flushes it and aborts. Used for
// operands whose shapes do not fit: a programming error, never an input error.
[[noreturn]] void MatrixFatalError(const char* message);

// The largest n for which an n x n matrix fits: its element count must stay
// within int.
const int kMaxSquareDimension = 46340;

struct ColumnIterator;
struct ConstColumnIterator;

// Dense row-major matrix of doubles with value semantics. Element (i, j) is
// at data[i * columns + j]; a vector is a matrix of one row. The storage
// always holds exactly rows * columns elements and may be null when that
// count is 0. Newly allocated elements are uninitialised unless stated.
class Matrix {
 public:
  double* data;
  int rows;
  int columns;

  Matrix() : data(nullptr), rows(0), columns(0) {}
  Matrix(int rows, int columns);
  Matrix(int rows, int columns, double value);
  Matrix(Matrix const& source);
  // Takes the source's storage; the source is left 0 x 0.
  Matrix(Matrix&& source) noexcept;
  ~Matrix();

  // Copies shape and elements; reuses the storage when the counts match.
  void copy_over(Matrix const& source);
  Matrix& operator=(Matrix const& source);
  // Takes the source's storage, whatever its size, and leaves the source
  // 0 x 0; pointers into the storage this matrix had are no longer valid.
  Matrix& operator=(Matrix&& source) noexcept;

  // Changes the shape. keep = false reuses the storage when the element count
  // is unchanged (values re-read row-major), keep = true keeps the overlapping
  // top-left block in place.
  void Resize(int rows, int columns, bool keep);

  int ElementCount() const { return rows * columns; }
  double& operator()(int row, int column) { return data[row * columns + column]; }
  double const& operator()(int row, int column) const { return data[row * columns + column]; }

  // Element-wise, in place over the flat storage.
  void Fill(double value);
  void Scale(double factor);
  // element k += factor * other element k; other holds at least as many.
  void Add(Matrix const& other, double factor);
  void InvertElements();
  Matrix& operator+=(Matrix const& other);
  Matrix& operator-=(Matrix const& other);

  // Reductions.
  double Trace() const;
  double ElementSum() const;
  double ElementProduct() const;
  double Min() const;  // NaN for a matrix without elements
  double Max() const;  // NaN for a matrix without elements
  int NotFinite() const;

  // Special fills.
  void Diag(double value);
  void Randomize();
  void OuterProduct(double const* a_begin, double const* a_end, double const* b_begin,
                    double const* b_end);
  void OuterProduct(Matrix const& a, Matrix const& b);
  void Diagonal(Matrix& target) const;

  // Blocks.
  void SubMatrix(Matrix& target, int first_row, int first_column) const;
  Matrix SubMatrix(int first_row, int first_column, int row_count, int column_count) const;
  void SetSubMatrix(Matrix const& block, int first_row, int first_column);
  void InsertRows(Matrix const& block);
  void InsertColumns(Matrix const& block);

  // Writes the region with "%.15g " per element and "\n" per row; false on a
  // failed write.
  bool Print(FILE* file, int first_row, int first_column, int row_count, int column_count) const;

  // Algebra.
  Matrix& operator*=(Matrix const& b);
  void Transpose();

  // Decompositions and inverses.
  bool CholeskyDecomposition(double* determinant);
  bool InvertLowerTriangular();
  void RowEchelon();
  void Invert();
  Matrix Inverse() const;
  double Determinant() const;

  // Column iterators: begin at (first_row, column), end one row past the last.
  ColumnIterator ColumnBegin(int column);
  ColumnIterator ColumnEnd(int column);
  ConstColumnIterator ColumnBegin(int column) const;
  ConstColumnIterator ColumnEnd(int column) const;
};

Matrix operator+(Matrix const& a, Matrix const& b);
Matrix operator-(Matrix const& a, Matrix const& b);
Matrix operator*(Matrix const& a, Matrix const& b);
Matrix operator*(Matrix const& a, double s);
Matrix operator*(double s, Matrix const& a);
Matrix Transpose(Matrix const& a);
double Dot(Matrix const& a, Matrix const& b);
// Equal shapes and every element pair within a relative difference of 1e-6.
bool operator==(Matrix const& a, Matrix const& b);

// Walks one column of a matrix: each step moves to the next row.
struct ColumnIterator {
  double* element;
  int stride;

  double& operator*() const { return *element; }
  ColumnIterator& operator++() {
    element += stride;
    return *this;
  }
  bool operator==(ColumnIterator const& other) const { return element == other.element; }
  bool operator!=(ColumnIterator const& other) const { return element != other.element; }
};

struct ConstColumnIterator {
  double const* element;
  int stride;

  double const& operator*() const { return *element; }
  ConstColumnIterator& operator++() {
    element += stride;
    return *this;
  }
  bool operator==(ConstColumnIterator const& other) const { return element == other.element; }
  bool operator!=(ConstColumnIterator const& other) const { return element != other.element; }
};

int operator-(ColumnIterator const& a, ColumnIterator const& b);
ColumnIterator operator+(ColumnIterator const& it, int n);
int operator-(ConstColumnIterator const& a, ConstColumnIterator const& b);
ConstColumnIterator operator+(ConstColumnIterator const& it, int n);

#endif
