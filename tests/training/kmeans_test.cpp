#include "training/kmeans.h"

#include <gtest/gtest.h>

#include <cmath>

#include "training/training_fixtures.h"

using namespace training_test;

namespace {

double Mean(MixtureModel const& model, int k) { return model.components[k]->mean.data[0]; }
double Weight(MixtureModel const& model, int k) { return model.components[k]->weight; }
double Variance(MixtureModel const& model, int k) { return model.components[k]->covariance.data[0]; }

}  // namespace

TEST(KMeansTest, ZeroIterationsLeaveTheModelUnchanged) {
  DataSet set(1, {0, 1, 10, 11});
  MixtureModel model = OneDimensional({0, 1}, {1, 1});
  MixtureModel before(model);
  KMeans(set.data, model, 0, false);
  EXPECT_TRUE(SameBits(model, before));
}

TEST(KMeansTest, ConvergesToClusterAverages) {
  DataSet set(1, {0, 8, 9, 10, 11});
  MixtureModel model = OneDimensional({0, 8}, {1, 1});
  KMeans(set.data, model, 10, false);
  EXPECT_EQ(Mean(model, 0), 0.0);
  EXPECT_EQ(Mean(model, 1), 9.5);
  EXPECT_EQ(Weight(model, 0), 0.2);
  EXPECT_EQ(Weight(model, 1), 0.8);
  EXPECT_EQ(Variance(model, 1), 1.0);
}

TEST(KMeansTest, EachIterationReassignsWithTheUpdatedMeans) {
  DataSet set(1, {0, 1, 10, 11});
  MixtureModel once = OneDimensional({0, 1}, {1, 1});
  KMeans(set.data, once, 1, false);
  EXPECT_EQ(Mean(once, 0), 0.0);
  EXPECT_EQ(Mean(once, 1), (1.0 / 3) * 22);
  EXPECT_EQ(Weight(once, 1), 0.75);

  for (int iterations : {2, 3, 50}) {
    MixtureModel model = OneDimensional({0, 1}, {1, 1});
    KMeans(set.data, model, iterations, false);
    EXPECT_EQ(Mean(model, 0), 0.5);
    EXPECT_EQ(Mean(model, 1), 10.5);
    EXPECT_EQ(Weight(model, 0), 0.5);
    EXPECT_EQ(Weight(model, 1), 0.5);
  }
}

TEST(KMeansTest, TiesGoToTheLowerComponent) {
  DataSet set(1, {0, 1, 2});
  MixtureModel model = OneDimensional({0, 2}, {1, 1});
  KMeans(set.data, model, 1, false);
  EXPECT_EQ(Mean(model, 0), 0.5);
  EXPECT_EQ(Weight(model, 0), 2.0 / 3);
  EXPECT_EQ(Mean(model, 1), 2.0);
}

TEST(KMeansTest, ComponentWithoutVectorsKeepsItsMeanAndGetsWeightZero) {
  DataSet set(1, {0, 1, 2});
  MixtureModel model = OneDimensional({1, 100}, {1, 1});
  KMeans(set.data, model, 5, false);
  EXPECT_EQ(Mean(model, 0), 1.0);
  EXPECT_EQ(Weight(model, 0), 1.0);
  EXPECT_EQ(Mean(model, 1), 100.0);
  EXPECT_EQ(Weight(model, 1), 0.0);
}

// The means are already the averages: one iteration, and still the weights.
TEST(KMeansTest, StableMeansStillGetTheirWeights) {
  DataSet set(2, {0, 0, 2, 2, 10, 10});
  MixtureModel model;
  AddComponent(model, MM_COV_FULL, 0.0, {1, 1}, {1, 0, 0, 1});
  AddComponent(model, MM_COV_FULL, 0.0, {10, 10}, {1, 0, 0, 1});
  KMeans(set.data, model, 10, false);
  EXPECT_EQ(Weight(model, 0), 2.0 / 3);
  EXPECT_EQ(Weight(model, 1), 1.0 / 3);
  EXPECT_EQ(model.components[0]->mean.data[1], 1.0);
}

// 5 * (1 / 3) and 5 / 3 differ in the last bit.
TEST(KMeansTest, AveragesMultiplyByTheReciprocalOfTheCount) {
  DataSet set(1, {1, 1, 3});
  MixtureModel model = OneDimensional({0}, {1});
  KMeans(set.data, model, 1, false);
  EXPECT_EQ(Mean(model, 0), (1.0 / 3) * 5);
  EXPECT_NE(Mean(model, 0), 5.0 / 3);
}

TEST(KMeansTest, EmptyDataLeavesTheModelUnchanged) {
  DataSet set(1, {});
  MixtureModel model = OneDimensional({0, 1}, {1, 1});
  MixtureModel before(model);
  KMeans(set.data, model, 3, false);
  MahalanobisKMeans(set.data, model, true, 3, true);
  EXPECT_TRUE(SameBits(model, before));
}

TEST(MahalanobisKMeansTest, ZeroIterationsLeaveTheModelUnchanged) {
  DataSet set(1, {0, 1, 10, 11});
  MixtureModel model = OneDimensional({0, 1}, {1, 1});
  MixtureModel before(model);
  MahalanobisKMeans(set.data, model, true, 0, true);
  EXPECT_TRUE(SameBits(model, before));
}

TEST(MahalanobisKMeansTest, UnitVariancesFollowEuclideanKMeans) {
  DataSet set(1, {0, 1, 10, 11});
  MixtureModel model = OneDimensional({0, 1}, {1, 1});
  MahalanobisKMeans(set.data, model, true, 3, false);
  EXPECT_EQ(Mean(model, 0), 0.5);
  EXPECT_EQ(Mean(model, 1), 10.5);
  EXPECT_EQ(Weight(model, 0), 0.5);
  EXPECT_EQ(Weight(model, 1), 0.5);
  EXPECT_EQ(Variance(model, 0), 1.0);

  MixtureModel updated = OneDimensional({0, 1}, {1, 1});
  MahalanobisKMeans(set.data, updated, true, 3, true);
  EXPECT_EQ(Variance(updated, 0), 0.25);
  EXPECT_EQ(Variance(updated, 1), 0.25);
  EXPECT_EQ(Mean(updated, 1), 10.5);
}

TEST(MahalanobisKMeansTest, SharedMetricIgnoresTheOtherCovariances) {
  DataSet set(1, {4});
  MixtureModel shared = OneDimensional({0, 10}, {1, 100});
  MahalanobisKMeans(set.data, shared, true, 1, false);
  EXPECT_EQ(Weight(shared, 0), 1.0);  // 16 against 36 under variance 1

  MixtureModel own = OneDimensional({0, 10}, {1, 100});
  MahalanobisKMeans(set.data, own, false, 1, false);
  EXPECT_EQ(Weight(own, 1), 1.0);  // 16 / 1 against 36 / 100
  EXPECT_EQ(Mean(own, 1), 4.0);
  EXPECT_EQ(Mean(own, 0), 0.0);
}

// Under a strongly correlated metric (1, 0) is nearer to (2, 1) than to the
// origin, although the Euclidean distances say the opposite.
TEST(MahalanobisKMeansTest, FullMetricFollowsTheCorrelation) {
  DataSet set(2, {1, 0});
  MixtureModel model;
  AddComponent(model, MM_COV_FULL, 0.0, {0, 0}, {1, 0.9, 0.9, 1});
  AddComponent(model, MM_COV_FULL, 0.0, {2, 1}, {1, 0, 0, 1});
  MahalanobisKMeans(set.data, model, true, 1, false);
  EXPECT_EQ(Weight(model, 1), 1.0);

  MixtureModel euclidean;
  AddComponent(euclidean, MM_COV_FULL, 0.0, {0, 0}, {1, 0.9, 0.9, 1});
  AddComponent(euclidean, MM_COV_FULL, 0.0, {2, 1}, {1, 0, 0, 1});
  KMeans(set.data, euclidean, 1, false);
  EXPECT_EQ(Weight(euclidean, 0), 1.0);
}

TEST(MahalanobisKMeansTest, FinalStepEstimatesFullCovariances) {
  DataSet set(2, {0, 0, 1, 1, 2, 2, 3, 3});
  MixtureModel model;
  AddComponent(model, MM_COV_FULL, 0.0, {0, 0}, {1, 0, 0, 1});
  MahalanobisKMeans(set.data, model, true, 2, true);
  Matrix const& c = model.components[0]->covariance;
  EXPECT_EQ(model.components[0]->mean.data[0], 1.5);
  EXPECT_EQ(std::vector<double>(c.data, c.data + 4), (std::vector<double>{1.25, 1.25, 1.25, 1.25}));
}

TEST(MahalanobisKMeansTest, ComponentWithoutMembersGetsANaNCovariance) {
  DataSet set(1, {0, 1});
  MixtureModel model = OneDimensional({0, 100}, {1, 1});
  MahalanobisKMeans(set.data, model, true, 1, true);
  EXPECT_TRUE(std::isnan(Variance(model, 1)));
  EXPECT_EQ(Variance(model, 0), 0.25);
}
