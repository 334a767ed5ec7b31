#include "mixture/sampling.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "support/values.h"

namespace {

MixtureCovarianceMatrixType const D = MM_COV_DIAGONAL, F = MM_COV_FULL;

// A component's type and covariance; ModelOf puts every mean at the origin.
struct Covariance {
  MixtureCovarianceMatrixType type;
  std::vector<double> covariance;
};

MixtureModel ModelOf(std::vector<Covariance> const& covariances) {
  MixtureModel model;
  for (Covariance const& c : covariances)
    AddComponent(model, c.type, 1.0 / covariances.size(), {0.0, 0.0}, c.covariance);
  return model;
}

}  // namespace

TEST(PrepareSamplerTest, NamesTheFirstComponentThatIsNotPositiveDefinite) {
  double const nan = std::numeric_limits<double>::quiet_NaN();
  Covariance const good = {F, {4, 2, 2, 5}}, variances = {D, {1, 2}};
  struct Case {
    const char* name;
    std::vector<Covariance> components;
    int refused;
  } const cases[] = {
      {"drawable", {good, variances}, kEveryComponentDrawable},
      {"zero variance", {good, {D, {1, 0}}}, 1},
      {"NaN variance", {variances, {D, {nan, 1}}}, 1},
      {"singular", {good, good, {F, {1, 1, 1, 1}}}, 2},
      {"NaN covariance", {{F, {1, 0, 0, nan}}, good}, 0},
      {"first of two", {good, {D, {-1, 2}}, {F, {1, 2, 2, 1}}}, 1},
  };
  for (Case const& c : cases) {
    Sampler sampler;
    EXPECT_EQ(PrepareSampler(sampler, ModelOf(c.components)), c.refused) << c.name;
  }
}

TEST(SamplerTest, ComponentsByCumulativeWeight) {
  MixtureModel model = ModelOf({{D, {1, 1}}, {D, {1, 1}}, {D, {1, 1}}, {D, {1, 1}}});
  double const weights[] = {0.25, 0.0, 0.5, 0.25};
  for (int k = 0; k < 4; ++k) model.components[k]->weight = weights[k];
  Sampler sampler;
  ASSERT_EQ(PrepareSampler(sampler, model), kEveryComponentDrawable);
  EXPECT_EQ(sampler.cumulative, std::vector<double>({0.25, 0.25, 0.75, 1.0}));
  // u = 1 lies beyond the range, as rounding could bring u * total to the
  // total: the last component with weight.
  struct Case {
    double u;
    int k;
  } const cases[] = {{0.0, 0},  {0.2499, 0}, {0.25, 2}, {0.7499, 2},
                     {0.75, 3}, {0.9999, 3}, {1.0, 3}};
  for (Case const& c : cases) EXPECT_EQ(DrawComponent(sampler, c.u), c.k) << c.u;
  model.components[3]->weight = 0.0;
  ASSERT_EQ(PrepareSampler(sampler, model), kEveryComponentDrawable);
  EXPECT_EQ(DrawComponent(sampler, 1.0), 2);
}
