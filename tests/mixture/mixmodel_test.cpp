#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "mixture/helpers.h"
#include "mixture/mixmodel.h"

namespace {

double const kNaN = std::numeric_limits<double>::quiet_NaN();
double const kInf = std::numeric_limits<double>::infinity();

Matrix Square(int d, std::initializer_list<double> values) { return FromValues(d, d, values); }

MixtureComponent* Diagonal(double weight, Matrix const& mean, Matrix const& variances) {
  return NewComponent(MM_COV_DIAGONAL, weight, mean, variances);
}

MixtureComponent* Full(double weight, Matrix const& mean, Matrix const& covariance) {
  return NewComponent(MM_COV_FULL, weight, mean, covariance);
}

// A model of diagonal 1-d components with the given weights; mean k is k.
MixtureModel WithWeights(std::initializer_list<double> weights) {
  MixtureModel model;
  for (double w : weights) model.Add(*Diagonal(w, Row({double(model.count)}), Row({1.0})));
  return model;
}

std::string NotFiniteReport(MixtureComponent const& c, int* result) {
  FILE* file = tmpfile();
  *result = c.NotFinite(file);
  return ContentsAndClose(file);
}

}  // namespace

// ---------------------------------------------------------------------------
// Components

TEST(MixtureComponentTest, ConstructorShapesFollowTheType) {
  MixtureComponent full(MM_COV_FULL, 3, true);
  EXPECT_EQ(full.weight, 0.0);
  EXPECT_EQ(full.mean.rows, 1);
  EXPECT_EQ(full.mean.columns, 3);
  EXPECT_EQ(full.covariance.rows, 3);
  EXPECT_EQ(full.covariance.columns, 3);
  EXPECT_EQ(full.mean.ElementSum(), 0.0);
  for (int k = 0; k < 9; ++k) EXPECT_EQ(full.covariance.data[k], 0.0);

  MixtureComponent diagonal(MM_COV_DIAGONAL, 3, true);
  EXPECT_EQ(diagonal.covariance.rows, 1);
  EXPECT_EQ(diagonal.covariance.columns, 3);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(diagonal.covariance.data[k], 0.0);

  MixtureComponent other(static_cast<MixtureCovarianceMatrixType>(0), 3, true);
  EXPECT_EQ(other.covariance.rows, 0);
  EXPECT_EQ(other.covariance.columns, 0);
}

TEST(MixtureComponentTest, DataRowConstructorTakesTheRowAndTypeFromTheShape) {
  Matrix data = Square(2, {1, 2, 3, 4});
  MixtureComponent diagonal(0.5, data, 1, Row({2, 3}));
  EXPECT_EQ(diagonal.type, MM_COV_DIAGONAL);
  EXPECT_EQ(diagonal.weight, 0.5);
  EXPECT_EQ(diagonal.mean.data[0], 3.0);
  EXPECT_EQ(diagonal.mean.data[1], 4.0);
  EXPECT_EQ(diagonal.covariance.data[1], 3.0);
  // A 1 x 1 covariance is square, hence full.
  Matrix one = Square(1, {1});
  EXPECT_EQ(MixtureComponent(1.0, one, 0, one).type, MM_COV_FULL);
}

TEST(MixtureComponentTest, LimitVariancesRaisesOnlyOrderedSmallerValues) {
  MixtureComponent diagonal(MM_COV_DIAGONAL, 3, false);
  diagonal.covariance = Row({0.5, 5, kNaN});
  diagonal.LimitVariances(Row({1, 2, 3}));
  EXPECT_EQ(diagonal.covariance.data[0], 1.0);
  EXPECT_EQ(diagonal.covariance.data[1], 5.0);
  EXPECT_TRUE(std::isnan(diagonal.covariance.data[2]));

  // Only the diagonal of a full covariance is floored.
  MixtureComponent full(MM_COV_FULL, 2, false);
  full.covariance = Square(2, {0.5, 0.9, 0.9, kNaN});
  full.LimitVariances(Row({1, 1}));
  EXPECT_EQ(full.covariance(0, 0), 1.0);
  EXPECT_EQ(full.covariance(0, 1), 0.9);
  EXPECT_EQ(full.covariance(1, 0), 0.9);
  EXPECT_TRUE(std::isnan(full.covariance(1, 1)));
  full.covariance(1, 1) = 0.1;
  full.LimitVariances(Row({1, 1}));
  EXPECT_EQ(full.covariance(1, 1), 1.0);
}

TEST(MixtureComponentTest, NotFiniteCountsAndNamesTheFaultyParts) {
  MixtureComponent c(MM_COV_DIAGONAL, 2, true);
  c.weight = 1.0;
  int result = -1;
  EXPECT_EQ(NotFiniteReport(c, &result), "");
  EXPECT_EQ(result, 0);

  c.mean.data[1] = kNaN;
  c.covariance.data[0] = kInf;
  EXPECT_EQ(NotFiniteReport(c, &result), "Invalid mean. Invalid covariance. \n");
  EXPECT_EQ(result, 2);

  c.weight = -kInf;
  EXPECT_EQ(NotFiniteReport(c, &result), "Invalid mean. Invalid covariance. Invalid weight.\n");
  EXPECT_EQ(result, 3);
  EXPECT_EQ(c.NotFinite(nullptr), 3);
}

TEST(MixtureComponentTest, ArithmeticActsOnWeightMeanAndCovariance) {
  MixtureComponent a(MM_COV_DIAGONAL, 2, true);
  double const values[] = {1.0, 2.0};
  a.Mean(values);
  a.covariance = Row({4, 8});
  a.weight = 0.5;
  MixtureComponent b(a);
  b.Add(a, 2.0);  // 3 times a
  EXPECT_EQ(b.weight, 1.5);
  EXPECT_EQ(b.mean.data[1], 6.0);
  EXPECT_EQ(b.covariance.data[0], 12.0);
  b += a;  // 4 times a
  b *= 0.25;
  EXPECT_EQ(b.weight, 0.5);
  EXPECT_EQ(b.mean.data[0], 1.0);
  EXPECT_EQ(b.mean.data[1], 2.0);
  EXPECT_EQ(b.covariance.data[1], 8.0);
}

// ---------------------------------------------------------------------------
// Models: ownership

TEST(MixtureModelTest, AddKeepsOrderAndOwnsManyComponents) {
  MixtureModel model;
  MixtureComponent* added[1000];
  for (int k = 0; k < 1000; ++k) {
    added[k] = Diagonal(k, Row({0}), Row({1}));
    model.Add(*added[k]);
  }
  ASSERT_EQ(model.count, 1000);
  EXPECT_GE(model.capacity, model.count);
  for (int k = 0; k < 1000; ++k) EXPECT_EQ(model.components[k], added[k]);
}

TEST(MixtureModelTest, RemoveClosesTheGapAndReleasesTheLastArray) {
  MixtureModel model = WithWeights({1, 2, 3});
  MixtureComponent* first = model.components[0];
  MixtureComponent* third = model.components[2];
  model.Remove(1);
  ASSERT_EQ(model.count, 2);
  EXPECT_EQ(model.components[0], first);
  EXPECT_EQ(model.components[1], third);

  MixtureModel one = WithWeights({1});
  one.Remove(0);
  EXPECT_EQ(one.count, 0);
  EXPECT_EQ(one.components, nullptr);
  // An emptied model grows again.
  one.Add(*Diagonal(1, Row({0}), Row({1})));
  EXPECT_EQ(one.count, 1);
}

TEST(MixtureModelTest, CopyIsDeep) {
  MixtureModel model = WithWeights({0.25, 0.75});
  MixtureModel copy(model);
  ASSERT_EQ(copy.count, 2);
  EXPECT_NE(copy.components[0], model.components[0]);
  EXPECT_NE(copy.components[1]->mean.data, model.components[1]->mean.data);
  model.components[1]->mean.data[0] = 42;
  EXPECT_EQ(copy.components[1]->mean.data[0], 1.0);
  EXPECT_EQ(copy.components[1]->weight, 0.75);

  MixtureModel empty;
  MixtureModel emptyCopy(empty);
  EXPECT_EQ(emptyCopy.count, 0);
  EXPECT_EQ(emptyCopy.components, nullptr);
}

TEST(MixtureModelTest, AssignmentBetweenEqualCountsReusesComponentsAndStorage) {
  MixtureModel target = WithWeights({1, 2});
  MixtureModel source;
  source.Add(*Full(0.3, Row({5}), Square(1, {7})));
  source.Add(*Diagonal(0.7, Row({6}), Row({8})));
  MixtureComponent* kept = target.components[0];
  double* storage = target.components[0]->mean.data;

  target = source;
  ASSERT_EQ(target.count, 2);
  EXPECT_EQ(target.components[0], kept);
  EXPECT_EQ(target.components[0]->mean.data, storage);
  EXPECT_EQ(target.components[0]->type, MM_COV_FULL);
  EXPECT_EQ(target.components[0]->weight, 0.3);
  EXPECT_EQ(target.components[0]->mean.data[0], 5.0);
  EXPECT_EQ(target.components[0]->covariance.data[0], 7.0);
  EXPECT_EQ(target.components[1]->covariance.data[0], 8.0);
  EXPECT_NE(target.components[1], source.components[1]);

  target = target;
  EXPECT_EQ(target.components[0]->weight, 0.3);
}

TEST(MixtureModelTest, AssignmentBetweenUnequalCountsReplacesAllComponents) {
  MixtureModel target = WithWeights({1, 2, 3});
  MixtureModel source;
  source.Add(*Diagonal(0.5, Row({1, 2}), Row({3, 4})));
  source.Add(*Full(0.5, Row({5, 6}), Square(2, {1, 0, 0, 1})));
  target = source;
  ASSERT_EQ(target.count, 2);
  for (int k = 0; k < 2; ++k) {
    EXPECT_NE(target.components[k], source.components[k]);
    EXPECT_EQ(target.components[k]->type, source.components[k]->type);
    EXPECT_EQ(target.components[k]->covariance.rows, source.components[k]->covariance.rows);
  }
  EXPECT_EQ(target.components[1]->mean.data[1], 6.0);

  target = MixtureModel();
  EXPECT_EQ(target.count, 0);
  EXPECT_EQ(target.components, nullptr);
}

// ---------------------------------------------------------------------------
// Models: weights, floors, singular components

TEST(MixtureModelTest, NormalizeWeightsScalesToOne) {
  MixtureModel model = WithWeights({1, 3});
  model.NormalizeWeights();
  EXPECT_EQ(model.components[0]->weight, 0.25);
  EXPECT_EQ(model.components[1]->weight, 0.75);
}

TEST(MixtureModelTest, NormalizeWeightsGivesEqualWeightsForZeroNegativeAndNaNTotals) {
  for (double second : {0.0, 1.0, kNaN}) {
    MixtureModel model = WithWeights({second == 1.0 ? -1.0 : 0.0, second});
    model.NormalizeWeights();
    EXPECT_EQ(model.components[0]->weight, 0.5) << second;
    EXPECT_EQ(model.components[1]->weight, 0.5) << second;
  }
  MixtureModel empty;
  empty.NormalizeWeights();
  EXPECT_EQ(empty.count, 0);
}

TEST(MixtureModelTest, LimitVariancesFloorsEveryComponent) {
  MixtureModel model;
  model.Add(*Diagonal(0.5, Row({0, 0}), Row({0.5, kNaN})));
  model.Add(*Full(0.5, Row({0, 0}), Square(2, {0.5, 0.9, 0.9, 0.1})));
  model.LimitVariances(Row({1, 1}));
  EXPECT_EQ(model.components[0]->covariance.data[0], 1.0);
  EXPECT_TRUE(std::isnan(model.components[0]->covariance.data[1]));
  EXPECT_EQ(model.components[1]->covariance(0, 0), 1.0);
  EXPECT_EQ(model.components[1]->covariance(1, 0), 0.9);
  EXPECT_EQ(model.components[1]->covariance(1, 1), 1.0);
}

TEST(MixtureModelTest, RemoveSingularVisitsDownwardsAndCountsRemovals) {
  MixtureModel model;
  model.Add(*Diagonal(0.2, Row({0, 0}), Row({0.01, 1})));                   // equal: singular
  model.Add(*Full(0.2, Row({0, 0}), Square(2, {1, 2, 2, 1})));              // not positive definite
  model.Add(*Diagonal(0.2, Row({0, 0}), Row({0.011, 0.02})));               // kept
  model.Add(*Full(0.2, Row({0, 0}), Square(2, {4, 2, 2, 10})));             // kept
  model.Add(*Diagonal(0.2, Row({0, 0}), Row({1, -1})));                     // singular
  model.Add(*Diagonal(0.2, Row({0, 0}), Row({0.001, 1})));                  // singular, adjacent
  model.Add(*Diagonal(0.2, Row({0, 0}), Row({kNaN, 1})));                   // NaN is not singular
  MixtureComponent* kept[] = {model.components[2], model.components[3], model.components[6]};

  EXPECT_EQ(model.RemoveSingular(0.01), 4);
  ASSERT_EQ(model.count, 3);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(model.components[k], kept[k]);

  MixtureModel allSingular;
  allSingular.Add(*Diagonal(1, Row({0}), Row({0})));
  allSingular.Add(*Diagonal(1, Row({0}), Row({0})));
  EXPECT_EQ(allSingular.RemoveSingular(0.0), 2);
  EXPECT_EQ(allSingular.count, 0);
  EXPECT_EQ(allSingular.components, nullptr);
}

TEST(MixtureModelTest, NotFiniteSumsOverComponents) {
  MixtureModel model;
  model.Add(*Diagonal(kNaN, Row({0, kInf}), Row({1, 1})));
  model.Add(*Diagonal(0.5, Row({0, 0}), Row({kNaN, kNaN})));
  EXPECT_EQ(model.NotFinite(nullptr), 4);
}
