#include "mixture/mixmodel.h"

#include <initializer_list>

#include "support/values.h"

namespace {

// Diagonal 1-d components with the given weights; mean k is k.
MixtureModel WithWeights(std::initializer_list<double> weights) {
  MixtureModel model;
  for (double w : weights) AddComponent(model, MM_COV_DIAGONAL, w, {double(model.count)}, {1});
  return model;
}

// Copies are deep; equal counts assign in place, other counts replace all.
TEST(MixtureModelTest, CopiesAndAssignments) {
  MixtureModel source;
  AddComponent(source, MM_COV_FULL, 0.3, {5}, {7});
  AddComponent(source, MM_COV_DIAGONAL, 0.7, {6}, {8});
  for (MixtureModel target : {WithWeights({1, 2}), WithWeights({1, 2, 3}), MixtureModel()}) {
    MixtureComponent* kept = target.count == 2 ? target.components[0] : nullptr;
    target = source;
    EXPECT_TRUE(SameBits(target, source));
    EXPECT_NE(target.components[1], source.components[1]);
    EXPECT_TRUE(!kept || target.components[0] == kept);
    target = target;
    EXPECT_TRUE(SameBits(target, source));
  }
  MixtureModel copy(source);
  source.components[1]->mean.data[0] = 42;
  EXPECT_EQ(copy.components[1]->mean.data[0], 6.0);
  copy = MixtureModel();
  EXPECT_EQ(copy.components, nullptr);
}

TEST(MixtureModelTest, RemoveClosesTheGapAndReleasesTheLastArray) {
  MixtureModel model = WithWeights({1, 2, 3});
  MixtureComponent* third = model.components[2];
  model.Remove(1);
  ASSERT_EQ(model.count, 2);
  EXPECT_EQ(model.components[1], third);
  model.Remove(0);
  model.Remove(0);
  EXPECT_EQ(model.components, nullptr);
  for (int k = 0; k < 9; ++k) AddComponent(model, MM_COV_DIAGONAL, 1, {0}, {1});  // grows again
  EXPECT_EQ(model.count, 9);
}

TEST(MixtureModelTest, RemoveSingularVisitsDownwardsAndCountsRemovals) {
  MixtureModel model;
  AddComponent(model, MM_COV_DIAGONAL, 0.2, {0, 0}, {0.01, 1});      // equal: singular
  AddComponent(model, MM_COV_FULL, 0.2, {0, 0}, {1, 2, 2, 1});       // not positive definite
  AddComponent(model, MM_COV_DIAGONAL, 0.2, {0, 0}, {0.011, 0.02});  // kept
  AddComponent(model, MM_COV_FULL, 0.2, {0, 0}, {4, 2, 2, 10});      // kept
  AddComponent(model, MM_COV_DIAGONAL, 0.2, {0, 0}, {1, -1});        // singular
  AddComponent(model, MM_COV_DIAGONAL, 0.2, {0, 0}, {0.001, 1});     // singular, adjacent
  AddComponent(model, MM_COV_DIAGONAL, 0.2, {0, 0}, {kNaN, 1});      // NaN is not singular
  MixtureComponent* kept[] = {model.components[2], model.components[3], model.components[6]};
  EXPECT_EQ(model.RemoveSingular(0.01), 4);
  ASSERT_EQ(model.count, 3);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(model.components[k], kept[k]);
}

// A positive total scales the weights to one; a zero, negative or NaN total
// gives equal weights.
TEST(MixtureModelTest, NormalizeWeights) {
  struct Case { MixtureModel model; double first, second; } cases[] = {
      {WithWeights({1, 3}), 0.25, 0.75}, {WithWeights({0, 0}), 0.5, 0.5},
      {WithWeights({-1, 1}), 0.5, 0.5},  {WithWeights({0, kNaN}), 0.5, 0.5}};
  for (Case& c : cases) {
    c.model.NormalizeWeights();
    EXPECT_EQ(c.model.components[0]->weight, c.first);
    EXPECT_EQ(c.model.components[1]->weight, c.second);
  }
}

// Only ordered smaller variances are raised, of a full covariance only the
// diagonal.
TEST(MixtureModelTest, LimitVariances) {
  MixtureModel model;
  AddComponent(model, MM_COV_DIAGONAL, 0.5, {0, 0, 0}, {0.5, 5, kNaN});
  AddComponent(model, MM_COV_FULL, 0.5, {0, 0, 0}, {0.5, 0.9, 0, 0.9, kNaN, 0, 0, 0, 2});
  model.LimitVariances(Row({1, 2, 3}));
  EXPECT_TRUE(SameBits(model.components[0]->covariance, Row({1, 5, kNaN})));
  EXPECT_TRUE(SameBits(model.components[1]->covariance,
                       FromValues(3, 3, {1, 0.9, 0, 0.9, kNaN, 0, 0, 0, 3})));
  EXPECT_EQ(model.NotFinite(nullptr), 2);
}

}  // namespace
