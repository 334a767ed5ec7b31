#include "mixture/sampling.h"

#include <utility>

#include "support/values.h"

using Component = std::pair<MixtureCovarianceMatrixType, std::vector<double>>;

// Components of the given covariances, means at the origin, and the index
// PrepareSampler names: a zero or a NaN variance, and a full covariance whose
// factor holds NaN (one that is not positive definite: ModelTest's
// refusals).
TEST(PrepareSamplerTest, NamesTheFirstComponentThatIsNotPositiveDefinite) {
  Component const good = {F, {4, 2, 2, 5}};
  for (auto const& [components, refused] : std::vector<std::pair<std::vector<Component>, int>>{
           {{good, {D, {1, 0}}}, 1},
           {{{F, {1, 0, 0, kNaN}}, good}, 0},
           {{good, {D, {kNaN, 2}}, {F, {1, 2, 2, 1}}}, 1}}) {
    MixtureModel model;
    for (Component const& c : components) AddComponent(model, c.first, 0.5, {0.0, 0.0}, c.second);
    Sampler sampler;
    EXPECT_EQ(PrepareSampler(sampler, model), refused) << ::testing::PrintToString(components);
  }
}

TEST(SamplerTest, ComponentsByCumulativeWeightNeverOneWithout) {
  MixtureModel model;
  for (double weight : {0.25, 0.0, 0.5, 0.25}) AddComponent(model, D, weight, {0.0}, {1.0});
  Sampler sampler;
  ASSERT_EQ(PrepareSampler(sampler, model), kEveryComponentDrawable);
  // u = 1 lies beyond the range, as rounding could bring u * total to the
  // total: the last component with weight.
  for (auto c : std::vector<std::pair<double, int>>{
           {0.2499, 0}, {0.25, 2}, {0.7499, 2}, {0.75, 3}, {1.0, 3}})
    EXPECT_EQ(DrawComponent(sampler, c.first), c.second) << c.first;
  // With the last weight 0, u = 1 draws the last component with weight.
  model.components[3]->weight = 0.0;
  ASSERT_EQ(PrepareSampler(sampler, model), kEveryComponentDrawable);
  EXPECT_EQ(DrawComponent(sampler, 1.0), 2);
  EXPECT_EQ(DrawComponent(Sampler(), 0.5), 0);  // without components
}

// x = mean + factor z worked out by hand, with nothing written behind x's d
// values (42): deviations 2 and 3; the full covariance 4 2 / 2 5 has the factor
// 2 0 / 1 2.
TEST(SamplerTest, VectorIsMeanPlusFactorTimesNormals) {
  MixtureModel model;
  AddComponent(model, D, 0.5, {1, 2}, {4, 9});
  AddComponent(model, F, 0.5, {1, 2}, {4, 2, 2, 5});
  Sampler sampler;
  ASSERT_EQ(PrepareSampler(sampler, model), kEveryComponentDrawable);
  double const z[] = {0.5, -1, 0};
  std::vector<double> const expected[] = {{1 + 2 * 0.5, 2 - 3, 42}, {1 + 2 * 0.5, 2 + 0.5 - 2, 42}};
  for (int k = 0; k < 2; ++k) {
    double x[] = {0, 0, 42};
    ComponentVector(*model.components[k], sampler.factors[k], z, x);
    EXPECT_EQ(std::vector<double>(x, x + 3), expected[k]) << k;
  }
}
