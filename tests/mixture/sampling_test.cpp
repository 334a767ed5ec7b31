#include "mixture/sampling.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "mixture/helpers.h"

namespace {

MixtureCovarianceMatrixType const D = MM_COV_DIAGONAL, F = MM_COV_FULL;

struct ComponentSpec {
  MixtureCovarianceMatrixType type;
  std::vector<double> covariance;
};

MixtureModel ModelOf(std::vector<ComponentSpec> const& specs) {
  MixtureModel model;
  for (ComponentSpec const& spec : specs)
    AddComponent(model, spec.type, 1.0 / specs.size(), {0.0, 0.0}, spec.covariance);
  return model;
}

}  // namespace

TEST(PrepareSamplerTest, NamesTheFirstComponentThatIsNotPositiveDefinite) {
  double const nan = std::numeric_limits<double>::quiet_NaN();
  ComponentSpec const good = {F, {4, 2, 2, 5}}, variances = {D, {1, 2}};
  struct Case {
    const char* name;
    std::vector<ComponentSpec> components;
    int refused;
  } const cases[] = {
      {"drawable", {good, variances}, kEveryComponentDrawable},
      {"zero variance", {good, {D, {1, 0}}}, 1},
      {"negative variance", {{D, {-1, 2}}, good}, 0},
      {"NaN variance", {variances, {D, {nan, 1}}}, 1},
      {"indefinite", {variances, {F, {1, 2, 2, 1}}, good}, 1},
      {"singular", {good, good, {F, {1, 1, 1, 1}}}, 2},
      {"NaN covariance", {{F, {1, 0, 0, nan}}, good}, 0},
      {"first of two", {good, {D, {0, 0}}, {F, {1, 2, 2, 1}}}, 1},
  };
  for (Case const& c : cases) {
    Sampler sampler;
    EXPECT_EQ(PrepareSampler(sampler, ModelOf(c.components)), c.refused) << c.name;
  }
}

TEST(SamplerTest, FactorsTurnNormalsIntoVectors) {
  // 4 2 / 2 5 = L L' with L = 2 0 / 1 2; the variances 4 9 have the
  // deviations 2 3.
  MixtureModel model = ModelOf({{F, {4, 2, 2, 5}}, {D, {4, 9}}});
  model.components[0]->Mean(std::vector<double>({1, -1}).data());
  model.components[1]->Mean(std::vector<double>({10, 20}).data());
  Sampler sampler;
  ASSERT_EQ(PrepareSampler(sampler, model), kEveryComponentDrawable);
  struct Case {
    int k;
    std::vector<double> z, x;
  } const cases[] = {
      {0, {1, 0}, {3, 0}},   {0, {0, 1}, {1, 1}},    {0, {-1, 2}, {-1, 2}},
      {1, {1, 0}, {12, 20}}, {1, {0, -1}, {10, 17}}, {1, {0.5, 2}, {11, 26}},
  };
  for (Case const& c : cases) {
    std::vector<double> x(2);
    ComponentVector(*model.components[c.k], sampler.factors[c.k], c.z.data(), x.data());
    EXPECT_EQ(x, c.x) << c.k << " " << ::testing::PrintToString(c.z);
  }
}

TEST(SamplerTest, ComponentsByCumulativeWeight) {
  MixtureModel model = ModelOf({{D, {1, 1}}, {D, {1, 1}}, {D, {1, 1}}, {D, {1, 1}}});
  double const weights[] = {0.25, 0.0, 0.5, 0.25};
  for (int k = 0; k < 4; ++k) model.components[k]->weight = weights[k];
  Sampler sampler;
  ASSERT_EQ(PrepareSampler(sampler, model), kEveryComponentDrawable);
  EXPECT_EQ(sampler.cumulative, std::vector<double>({0.25, 0.25, 0.75, 1.0}));
  struct Case {
    double u;
    int k;
  } const cases[] = {
      {0.0, 0},
      {0.2499, 0},
      {0.25, 2},
      {0.7499, 2},
      {0.75, 3},
      {0.9999, 3},
      // Beyond the range, as rounding could bring u * total to the total:
      // the last component with weight.
      {1.0, 3},
  };
  for (Case const& c : cases) EXPECT_EQ(DrawComponent(sampler, c.u), c.k) << c.u;
  model.components[3]->weight = 0.0;
  ASSERT_EQ(PrepareSampler(sampler, model), kEveryComponentDrawable);
  EXPECT_EQ(DrawComponent(sampler, 1.0), 2);
}
