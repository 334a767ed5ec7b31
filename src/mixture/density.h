#ifndef MIXFIT_MIXTURE_DENSITY_H
#define MIXFIT_MIXTURE_DENSITY_H

// The distances and densities of one Gaussian: squared Mahalanobis
// distances under the forms of an inverse covariance, and the density.

#include "matrix/matrix.h"

// Squared Mahalanobis distances of x from m. A holds the inverse covariance
// as a row of inverse variances (Diag), an inverted lower Cholesky factor
// (Chol) or a full inverse (Full); the length comes from A.
double MahalanobisDiag2(double const* x, double const* m, Matrix const& A);
double MahalanobisChol2(double const* x, double const* m, Matrix const& B);
double MahalanobisChol(double const* x, double const* m, Matrix const& B);
double MahalanobisFull2(double const* x, double const* m, Matrix const& A);
// Choose by A's shape: a row of inverse variances when rows != columns,
// a full inverse otherwise.
double Mahalanobis2(double const* x, double const* m, Matrix const& A);
double Mahalanobis(double const* x, double const* m, Matrix const& A);
// The same for an already centred vector y.
double Mahalanobis2(double const* y, Matrix const& A);
double Mahalanobis(double const* y, Matrix const& A);

// exp(-0.5 * squared_distance) / normaliser, or 0.0 when that is not finite
// (a normaliser of 0 marks an unusable covariance).
double ProbabilityDensity(double squared_distance, double normaliser);

#endif
