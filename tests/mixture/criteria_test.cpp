#include "mixture/criteria.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/values.h"

namespace {

// A model of components of the given types, all of dimension d.
MixtureModel ModelOf(std::vector<MixtureCovarianceMatrixType> const& types, int d) {
  MixtureModel model;
  for (MixtureCovarianceMatrixType type : types) {
    std::vector<double> covariance(type == MM_COV_FULL ? d * d : d, 1.0);
    AddComponent(model, type, 1.0 / types.size(), std::vector<double>(d, 0.0), covariance);
  }
  return model;
}

}  // namespace

TEST(FreeParametersTest, WeightsMeansAndCovariancesByType) {
  MixtureCovarianceMatrixType const D = MM_COV_DIAGONAL, F = MM_COV_FULL;
  struct Case {
    std::vector<MixtureCovarianceMatrixType> types;
    int d;
    long long parameters;
  } const cases[] = {
      {{}, 3, 0},            // no component, no weight
      {{D}, 1, 2},           // mean and variance
      {{F}, 1, 2},           // the same numbers
      {{D, D}, 3, 13},       // 1 + 2 (3 + 3)
      {{F, F}, 3, 19},       // 1 + 2 (3 + 6)
      {{D, F, D}, 2, 15},    // 2 + (2 + 2) + (2 + 3) + (2 + 2)
      {{F, F, F}, 10, 197},  // 2 + 3 (10 + 55)
  };
  for (Case const& c : cases)
    EXPECT_EQ(FreeParameters(ModelOf(c.types, c.d)), c.parameters)
        << c.types.size() << " components, d = " << c.d;
}
