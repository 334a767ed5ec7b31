#include "mixture/sampling.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/values.h"

namespace {

MixtureCovarianceMatrixType const D = MM_COV_DIAGONAL, F = MM_COV_FULL;

// Components of the given types and covariances, with equal weights and every mean at the origin.
MixtureModel ModelOf(
    std::vector<std::pair<MixtureCovarianceMatrixType, std::vector<double>>> const& components) {
  MixtureModel model;
  for (auto const& c : components)
    AddComponent(model, c.first, 1.0 / components.size(), {0.0, 0.0}, c.second);
  return model;
}

}  // namespace

TEST(PrepareSamplerTest, NamesTheFirstComponentThatIsNotPositiveDefinite) {
  std::pair<MixtureCovarianceMatrixType, std::vector<double>> const good = {F, {4, 2, 2, 5}};
  struct Case {
    MixtureModel model;
    int refused;
  } const cases[] = {
      {ModelOf({good, {D, {1, 2}}}), kEveryComponentDrawable},
      {ModelOf({good, {D, {1, 0}}}), 1},
      {ModelOf({{D, {1, 2}}, {D, {kNaN, 1}}}), 1},
      {ModelOf({good, good, {F, {1, 1, 1, 1}}}), 2},
      {ModelOf({{F, {1, 0, 0, kNaN}}, good}), 0},
      {ModelOf({good, {D, {-1, 2}}, {F, {1, 2, 2, 1}}}), 1},
  };
  for (Case const& c : cases) {
    Sampler sampler;
    EXPECT_EQ(PrepareSampler(sampler, c.model), c.refused) << &c - cases;
  }
}

TEST(SamplerTest, ComponentsByCumulativeWeightNeverOneWithout) {
  MixtureModel model = ModelOf({{D, {1, 1}}, {D, {1, 1}}, {D, {1, 1}}, {D, {1, 1}}});
  double const weights[] = {0.25, 0.0, 0.5, 0.25};
  for (int k = 0; k < 4; ++k) model.components[k]->weight = weights[k];
  Sampler sampler;
  ASSERT_EQ(PrepareSampler(sampler, model), kEveryComponentDrawable);
  // u = 1 lies beyond the range, as rounding could bring u * total to the
  // total: the last component with weight.
  for (auto c : std::vector<std::pair<double, int>>{
           {0.2499, 0}, {0.25, 2}, {0.7499, 2}, {0.75, 3}, {1.0, 3}})
    EXPECT_EQ(DrawComponent(sampler, c.first), c.second) << c.first;
  model.components[3]->weight = 0.0;
  ASSERT_EQ(PrepareSampler(sampler, model), kEveryComponentDrawable);
  EXPECT_EQ(DrawComponent(sampler, 1.0), 2);
}
