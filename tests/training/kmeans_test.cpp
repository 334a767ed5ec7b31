#include "training/kmeans.h"

#include <numeric>

#include "support/values.h"

namespace {

double Mean(MixtureModel const& m, int k) { return m.components[k]->mean.data[0]; }
double Weight(MixtureModel const& m, int k) { return m.components[k]->weight; }
double Variance(MixtureModel const& m, int k) { return m.components[k]->covariance.data[0]; }

// Under variance 1 for every component both k-means assign alike.
TEST(KMeansTest, OneDimensionalExamples) {
  std::vector<double> hundred(100);  // two blocks of vectors
  std::iota(hundred.begin(), hundred.end(), 0.0);
  struct Case {
    char const* rule;
    std::vector<double> data, start;
    int iterations;
    std::vector<double> means, weights;
  } cases[] = {
      {"one iteration", {0, 1, 10, 11}, {0, 1}, 1, {0, (1.0 / 3) * 22}, {0.25, 0.75}},
      // Stable from the second iteration: the third changes nothing.
      {"reassigns with the updated means", {0, 1, 10, 11}, {0, 1}, 3, {0.5, 10.5}, {0.5, 0.5}},
      {"ties go to the lower index", {0, 1, 2}, {0, 2}, 1, {0.5, 2}, {2.0 / 3, 1.0 / 3}},
      {"no vectors: mean kept, weight 0", {0, 1, 2}, {1, 100}, 5, {1, 100}, {1, 0}},
      // 5 * (1 / 3) and 5 / 3 differ in the last bit.
      {"reciprocal of the count", {1, 1, 3}, {0}, 1, {(1.0 / 3) * 5}, {1}},
      {"zero iterations", {0, 1, 10, 11}, {0, 1}, 0, {0, 1}, {0.5, 0.5}},
      {"every block", hundred, {0, 99}, 1, {(1.0 / 50) * 1225, (1.0 / 50) * 3725}, {0.5, 0.5}}};
  for (Case const& c : cases)
    for (bool mahalanobis : {false, true}) {
      DataSet set(1, c.data);
      MixtureModel model = OneDimensional(c.start, std::vector<double>(c.start.size(), 1.0));
      mahalanobis ? MahalanobisKMeans(set.data, model, true, c.iterations, false)
                  : KMeans(set.data, model, c.iterations, false);
      for (size_t k = 0; k < c.start.size(); ++k)
        EXPECT_EQ(std::vector<double>({Mean(model, k), Weight(model, k), Variance(model, k)}),
                  std::vector<double>({c.means[k], c.weights[k], 1.0}))
            << c.rule << mahalanobis;
    }
}

// Every component is measured with the first one's metric.
TEST(MahalanobisKMeansTest, TheSharedMetricIsTheFirstComponents) {
  DataSet set(1, {4});
  MixtureModel shared = OneDimensional({0, 10}, {1, 100});
  MahalanobisKMeans(set.data, shared, true, 1, false);
  EXPECT_EQ(Weight(shared, 0), 1.0);  // 16 against 36 under variance 1, not 36 / 100
  // Under a strongly correlated metric (1, 0) is nearer to (2, 1) than to
  // the origin, although the squared Euclidean distances (1 against 2),
  // which KMeans goes by, say the opposite.
  DataSet point(2, {1, 0});
  MixtureModel model;
  AddComponent(model, F, 0.0, {0, 0}, {1, 0.9, 0.9, 1});
  AddComponent(model, F, 0.0, {2, 1}, {1, 0, 0, 1});
  MahalanobisKMeans(point.data, model, true, 1, false);
  EXPECT_EQ(Weight(model, 1), 1.0);
}

TEST(MahalanobisKMeansTest, FinalStepEstimatesCovariancesOfTheMembers) {
  DataSet line(2, {0, 0, 1, 1, 2, 2, 3, 3});
  MixtureModel full;
  AddComponent(full, F, 0.0, {0, 0}, {1, 0, 0, 1});
  MahalanobisKMeans(line.data, full, true, 2, true);
  EXPECT_EQ(full.components[0]->mean.data[0], 1.5);
  EXPECT_TRUE(SameBits(full.components[0]->covariance, FromValues(2, 2, {1.25, 1.25, 1.25, 1.25})));

  // One iteration moves the means to -50, 26 (of 10, 14, 54) and 70 (of 60,
  // 80); the final assignment then gives 54 to the third component. The
  // covariances are about the final members' own mean (about the updated
  // means the second variance would be 148 - 26^2 = -528), while means and
  // weights stay the update's. The fourth component has no members. The
  // variances: of -50 alone, of 10 and 14 about 12, of 54, 60 and 80 about 194 / 3.
  DataSet moved(1, {-50, 10, 14, 54, 60, 80});
  MixtureModel model = OneDimensional({-50, 10, 100, 1e6}, {1, 1, 1, 1});
  MahalanobisKMeans(moved.data, model, true, 1, true);
  EXPECT_EQ(std::vector<double>(
                {Mean(model, 1), Weight(model, 1), Variance(model, 0), Variance(model, 1)}),
            std::vector<double>({26, 0.5, 0, 4}));
  EXPECT_NEAR(Variance(model, 2), 1112.0 / 9, 1e-9);
  EXPECT_TRUE(std::isnan(Variance(model, 3)));
}

}  // namespace
