#include <cfloat>
#include <cmath>

#include "mixture/density.h"
#include "mixture/mixmodel.h"

double MixtureComponent::BhattacharyyaDistance(MixtureComponent const& other, double determinant,
                                               double otherDeterminant, bool withWeights) const {
  // The averaged covariance, replaced by its inverse (or inverse factor).
  Matrix s(covariance);
  s += other.covariance;
  s.Scale(0.5);
  double detS = 0.0;
  double q;
  if (type == MM_COV_FULL) {
    s.CholeskyDecomposition(&detS);
    s.InvertLowerTriangular();
    q = 0.125 * MahalanobisChol2(other.mean.data, mean.data, s);
  } else {
    detS = s.ElementProduct();
    s.InvertElements();
    q = 0.125 * MahalanobisDiag2(other.mean.data, mean.data, s);
  }
  double ratio = detS / (std::sqrt(determinant) * std::sqrt(otherDeterminant));
  if (ratio < DBL_MIN) ratio = DBL_MIN;
  if (!withWeights) return q + 0.5 * std::log(ratio);
  double const w = weight < other.weight ? weight / other.weight : other.weight / weight;
  return (q - std::log(w)) + 0.5 * std::log(ratio);
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
