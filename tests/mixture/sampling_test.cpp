#include "mixture/sampling.h"

#include <utility>

#include "support/values.h"

namespace {

using Component = std::pair<MixtureCovarianceMatrixType, std::vector<double>>;

// PrepareSampler's answer for components of the given covariances, means at the origin.
int Refused(std::vector<Component> const& components) {
  MixtureModel model;
  for (Component const& c : components) AddComponent(model, c.first, 0.5, {0.0, 0.0}, c.second);
  Sampler sampler;
  return PrepareSampler(sampler, model);
}

}  // namespace

TEST(PrepareSamplerTest, NamesTheFirstComponentThatIsNotPositiveDefinite) {
  Component const good = {F, {4, 2, 2, 5}};
  EXPECT_EQ(Refused({good, {D, {1, 0}}}), 1);
  EXPECT_EQ(Refused({{D, {1, 2}}, {D, {kNaN, 1}}}), 1);
  EXPECT_EQ(Refused({good, good, {F, {1, 1, 1, 1}}}), 2);
  EXPECT_EQ(Refused({{F, {1, 0, 0, kNaN}}, good}), 0);
  EXPECT_EQ(Refused({good, {D, {-1, 2}}, {F, {1, 2, 2, 1}}}), 1);
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
// values: deviations 2 and 3; the full covariance 4 2 / 2 5 has the factor
// 2 0 / 1 2.
TEST(SamplerTest, VectorIsMeanPlusFactorTimesNormals) {
  MixtureModel model;
  AddComponent(model, D, 0.5, {1, 2}, {4, 9});
  AddComponent(model, F, 0.5, {1, 2}, {4, 2, 2, 5});
  Sampler sampler;
  ASSERT_EQ(PrepareSampler(sampler, model), kEveryComponentDrawable);
  double const z[] = {0.5, -1, 0};
  std::vector<double> const expected[] = {{1 + 2 * 0.5, 2 - 3}, {1 + 2 * 0.5, 2 + 0.5 - 2}};
  for (int k = 0; k < 2; ++k) {
    double x[] = {0, 0, kNaN};
    ComponentVector(*model.components[k], sampler.factors[k], z, x);
    EXPECT_EQ(std::vector<double>(x, x + 2), expected[k]) << k;
    EXPECT_TRUE(std::isnan(x[2])) << k;
  }
}
