#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <limits>
#include <utility>

#include "mixture/helpers.h"

namespace {

double const kNaN = std::numeric_limits<double>::quiet_NaN();

// Diagonal 1-d components with the given weights; mean k is k.
MixtureModel WithWeights(std::initializer_list<double> weights) {
  MixtureModel model;
  for (double w : weights) AddComponent(model, MM_COV_DIAGONAL, w, {double(model.count)}, {1});
  return model;
}

}  // namespace

TEST(MixtureModelTest, CopiesAreDeepAndEqualCountsAssignInPlace) {
  MixtureModel target = WithWeights({1, 2});
  MixtureModel source;
  AddComponent(source, MM_COV_FULL, 0.3, {5}, {7});
  AddComponent(source, MM_COV_DIAGONAL, 0.7, {6}, {8});
  MixtureComponent* kept = target.components[0];
  double* storage = kept->mean.data;
  target = source;
  EXPECT_TRUE(SameBits(target, source));
  EXPECT_EQ(target.components[0], kept);
  EXPECT_EQ(kept->mean.data, storage);
  EXPECT_NE(target.components[1], source.components[1]);
  // Self-assignment, through a reference so that the compiler lets it be.
  MixtureModel const& itself = target;
  target = itself;
  EXPECT_TRUE(SameBits(target, source));

  MixtureModel copy(source);
  source.components[1]->mean.data[0] = 42;
  EXPECT_EQ(copy.components[1]->mean.data[0], 6.0);
}

TEST(MixtureModelTest, UnequalCountsReplaceAllComponents) {
  MixtureModel target = WithWeights({1, 2, 3});
  MixtureModel source;
  AddComponent(source, MM_COV_DIAGONAL, 0.5, {1, 2}, {3, 4});
  AddComponent(source, MM_COV_FULL, 0.5, {5, 6}, {1, 0, 0, 1});
  target = source;
  EXPECT_TRUE(SameBits(target, source));
  EXPECT_NE(target.components[0], source.components[0]);
  target = MixtureModel();
  EXPECT_EQ(target.count, 0);
  EXPECT_EQ(target.components, nullptr);
}

TEST(MixtureModelTest, MovesTakeTheComponentsAndLeaveTheSourceEmpty) {
  MixtureModel source = WithWeights({1, 2});
  MixtureComponent** array = source.components;
  MixtureModel moved(std::move(source));
  EXPECT_EQ(moved.components, array);
  EXPECT_EQ(source.count, 0);
  source = WithWeights({3});  // the emptied source takes components again
  array = source.components;
  moved = std::move(source);
  EXPECT_EQ(moved.components, array);
  EXPECT_EQ(source.count, 0);
  EXPECT_EQ(source.components, nullptr);
  MixtureModel equal = WithWeights({4});  // equal counts too
  array = equal.components;
  moved = std::move(equal);
  EXPECT_EQ(moved.components, array);
  EXPECT_EQ(moved.components[0]->weight, 4.0);
}

TEST(MixtureModelTest, RemoveClosesTheGapAndReleasesTheLastArray) {
  MixtureModel model = WithWeights({1, 2, 3});
  MixtureComponent* first = model.components[0];
  MixtureComponent* third = model.components[2];
  model.Remove(1);
  ASSERT_EQ(model.count, 2);
  EXPECT_EQ(model.components[0], first);
  EXPECT_EQ(model.components[1], third);
  model.Remove(0);
  model.Remove(0);
  EXPECT_EQ(model.count, 0);
  EXPECT_EQ(model.components, nullptr);
  AddComponent(model, MM_COV_DIAGONAL, 1, {0}, {1});  // an emptied model grows again
  EXPECT_EQ(model.count, 1);
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

TEST(MixtureModelTest, NormalizeWeightsScalesToOneOrGivesEqualWeights) {
  MixtureModel model = WithWeights({1, 3});
  model.NormalizeWeights();
  EXPECT_EQ(model.components[0]->weight, 0.25);
  EXPECT_EQ(model.components[1]->weight, 0.75);
  // Zero, negative and NaN totals.
  for (MixtureModel equal : {WithWeights({0, 0}), WithWeights({-1, 1}), WithWeights({0, kNaN})}) {
    equal.NormalizeWeights();
    EXPECT_EQ(equal.components[0]->weight, 0.5);
    EXPECT_EQ(equal.components[1]->weight, 0.5);
  }
}

TEST(MixtureModelTest, LimitVariancesRaisesOnlyOrderedSmallerVariances) {
  MixtureModel model;
  AddComponent(model, MM_COV_DIAGONAL, 0.5, {0, 0, 0}, {0.5, 5, kNaN});
  AddComponent(model, MM_COV_FULL, 0.5, {0, 0, 0}, {0.5, 0.9, 0, 0.9, kNaN, 0, 0, 0, 7});
  model.LimitVariances(Row({1, 2, 3}));
  Matrix const& variances = model.components[0]->covariance;
  EXPECT_EQ(variances.data[0], 1.0);
  EXPECT_EQ(variances.data[1], 5.0);
  EXPECT_TRUE(std::isnan(variances.data[2]));
  // Only the diagonal of a full covariance.
  Matrix const& full = model.components[1]->covariance;
  EXPECT_TRUE(SameBits(full, FromValues(3, 3, {1, 0.9, 0, 0.9, kNaN, 0, 0, 0, 7})));
}
