#include <cfloat>
#include <cmath>

#include "mixture/density.h"
#include "mixture/mixmodel.h"

namespace {

// The floor of the logarithmic determinant ratio, as DBL_MIN is that of the
// plain one.
double const kLogMinimumRatio = std::log(DBL_MIN);

// S = (a's covariance + b's) / 2. A full S (by a's type) is replaced by its
// lower Cholesky factor, with the product of the pivots in *determinant when
// that is not null; a diagonal S is left as it is.
Matrix AveragedCovariance(MixtureComponent const& a, MixtureComponent const& b,
                          double* determinant) {
  Matrix s(a.covariance);
  s += b.covariance;
  s.Scale(0.5);
  if (a.type == MM_COV_FULL) s.CholeskyDecomposition(determinant);
  return s;
}

// One eighth of the squared Mahalanobis distance between the means of a and
// b under S, given as AveragedCovariance leaves it; inverts S in place.
double MeansTerm(MixtureComponent const& a, MixtureComponent const& b, Matrix& s) {
  if (a.type == MM_COV_FULL) {
    s.InvertLowerTriangular();
    return 0.125 * MahalanobisChol2(b.mean.data, a.mean.data, s);
  }
  s.InvertElements();
  return 0.125 * MahalanobisDiag2(b.mean.data, a.mean.data, s);
}

// The ratio of the smaller weight to the larger.
double WeightRatio(MixtureComponent const& a, MixtureComponent const& b) {
  return a.weight < b.weight ? a.weight / b.weight : b.weight / a.weight;
}

// The log-determinant of a covariance as a sum of logs, so that it neither
// overflows nor underflows where the determinant would: of a lower Cholesky
// factor L, 2 * (ln L_00 + ln L_11 + ...); of variances, ln v_0 + ln v_1 +
// ...; each sum from 0.0 in increasing index. False when a diagonal element
// is not finite and above 0, that is when the covariance is not positive
// definite (a failed pivot leaves 0 on the factor's diagonal).
bool SumOfLogs(Matrix const& s, bool factor, double* logDeterminant) {
  int const n = factor ? s.rows : s.ElementCount();
  int const step = factor ? s.columns + 1 : 1;
  bool positive = true;
  double sum = 0.0;
  for (int j = 0; j < n; ++j) {
    double const element = s.data[j * step];
    if (!(element > 0.0 && element <= DBL_MAX)) positive = false;
    sum += std::log(element);
  }
  *logDeterminant = factor ? 2.0 * sum : sum;
  return positive;
}

}  // namespace

double MixtureComponent::BhattacharyyaDistance(MixtureComponent const& other, double determinant,
                                               double otherDeterminant, bool withWeights) const {
  double detS = 0.0;
  Matrix s = AveragedCovariance(*this, other, &detS);
  if (type != MM_COV_FULL) detS = s.ElementProduct();
  double const q = MeansTerm(*this, other, s);
  double ratio = detS / (std::sqrt(determinant) * std::sqrt(otherDeterminant));
  if (ratio < DBL_MIN) ratio = DBL_MIN;
  if (!withWeights) return q + 0.5 * std::log(ratio);
  return (q - std::log(WeightRatio(*this, other))) + 0.5 * std::log(ratio);
}

double MixtureComponent::BhattacharyyaDistanceLog(MixtureComponent const& other,
                                                  double logDeterminant, double otherLogDeterminant,
                                                  bool withWeights) const {
  Matrix s = AveragedCovariance(*this, other, nullptr);
  double logDetS = 0.0;
  SumOfLogs(s, type == MM_COV_FULL, &logDetS);
  double const q = MeansTerm(*this, other, s);
  double logRatio = logDetS - 0.5 * logDeterminant - 0.5 * otherLogDeterminant;
  if (logRatio < kLogMinimumRatio) logRatio = kLogMinimumRatio;
  if (!withWeights) return q + 0.5 * logRatio;
  return (q - std::log(WeightRatio(*this, other))) + 0.5 * logRatio;
}

bool MixtureComponent::LogDeterminant(double* logDeterminant) const {
  if (type != MM_COV_FULL) return SumOfLogs(covariance, false, logDeterminant);
  Matrix factor(covariance);
  factor.CholeskyDecomposition(nullptr);
  return SumOfLogs(factor, true, logDeterminant);
}

double MixtureComponent::Distance(MixtureComponent const& other, ComponentDistanceType kind) const {
  if (kind != CD_BHATTACHARYYA) return 0.0;
  double determinant = 0.0;
  double otherDeterminant = 0.0;
  if (type == MM_COV_FULL) {
    Matrix factor(covariance);
    factor.CholeskyDecomposition(&determinant);
    factor = other.covariance;
    factor.CholeskyDecomposition(&otherDeterminant);
  } else {
    determinant = covariance.ElementProduct();
    otherDeterminant = other.covariance.ElementProduct();
  }
  return BhattacharyyaDistance(other, determinant, otherDeterminant, false);
}
