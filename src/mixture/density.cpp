#include "mixture/density.h"

#include <cmath>

// These run once per data vector and component in training: raw pointers,
// storage read in order, sums in index order.

double MahalanobisDiag2(double const* x, double const* m, Matrix const& A) {
  int const c = A.columns;
  double const* a = A.data;
  double sum = 0.0;
  for (int j = 0; j < c; ++j) {
    double const e = x[j] - m[j];
    sum += e * e * a[j];
  }
  return sum;
}

double MahalanobisChol2(double const* x, double const* m, Matrix const& B) {
  int const r = B.rows;
  int const c = B.columns;
  double sum = 0.0;
  for (int i = 0; i < r; ++i) {
    double const* row = B.data + static_cast<size_t>(i) * c;
    double t = 0.0;
    for (int j = 0; j <= i; ++j) t += row[j] * (x[j] - m[j]);
    sum += t * t;
  }
  return sum;
}

double MahalanobisChol(double const* x, double const* m, Matrix const& B) {
  return std::sqrt(MahalanobisChol2(x, m, B));
}

double MahalanobisFull2(double const* x, double const* m, Matrix const& A) {
  int const r = A.rows;
  int const c = A.columns;
  double const* a = A.data;
  double sum = 0.0;
  for (int i = 0; i < r; ++i) {
    double u = 0.0;
    for (int j = 0; j < c; ++j) u += *a++ * (x[j] - m[j]);
    sum += u * (x[i] - m[i]);
  }
  return sum;
}

double Mahalanobis2(double const* x, double const* m, Matrix const& A) {
  if (A.rows != A.columns) return MahalanobisDiag2(x, m, A);
  return MahalanobisFull2(x, m, A);
}

double Mahalanobis(double const* x, double const* m, Matrix const& A) {
  return std::sqrt(Mahalanobis2(x, m, A));
}

double Mahalanobis2(double const* y, Matrix const& A) {
  int const c = A.columns;
  double const* a = A.data;
  double sum = 0.0;
  if (A.rows != c) {
    for (int j = 0; j < c; ++j) sum += y[j] * y[j] * a[j];
    return sum;
  }
  for (int i = 0; i < c; ++i) {
    double u = 0.0;
    for (int j = 0; j < c; ++j) u += y[j] * *a++;
    sum += u * y[i];
  }
  return sum;
}

double Mahalanobis(double const* y, Matrix const& A) { return std::sqrt(Mahalanobis2(y, A)); }

double ProbabilityDensity(double squared_distance, double normaliser) {
  double const p = std::exp(-0.5 * squared_distance) / normaliser;
  return std::isfinite(p) ? p : 0.0;
}
