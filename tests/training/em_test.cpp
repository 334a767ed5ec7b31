#include "training/em.h"

#include <cfloat>

#include "support/values.h"

namespace {

// A vector far from every component is explained in the log domain, here
// wholly by the nearer component; only a vector that no usable component
// can explain (or any vector of a model without components) counts as the
// smallest normal double and is shared equally. A component whose
// covariance is unusable receives no vector.
TEST(EMStepTest, FarVectorsAndUnusableCovariances) {
  DataSet far(1, {0.0, 1000.0}), near(1, {0.0, 1.0, 2.0});
  MixtureModel model = OneDimensional({0.0, 1.0}, {1.0, 1.0}), updated(model);
  double const f0 = 0.5 / std::sqrt(6.283185307179586), f1 = f0 * std::exp(-0.5),
               r0 = f0 / (f0 + f1);
  // The other component's term at 1000 is exp(-999.5) times smaller.
  double const L = 0.5 * (std::log(f0 + f1) + std::log(f0) - 0.5 * 999.0 * 999.0);
  EXPECT_NEAR(emMonolithicEMStep(model, far.data, updated, true), L, 1e-15 * std::fabs(L));
  EXPECT_NEAR(updated.components[0]->weight, r0 / 2, 1e-15);
  EXPECT_NEAR(updated.components[1]->weight, (1 - r0 + 1) / 2, 1e-15);
  EXPECT_EQ(updated.components[0]->mean.data[0], 0.0);
  EXPECT_NEAR(updated.components[1]->mean.data[0], 1000.0 / (2 - r0), 1e-10);
  EXPECT_EQ(emLogLikelihood(far.data, MixtureModel()), kLogTiny);
  MixtureModel unusable = OneDimensional({0.0, 1.0}, {0.0, -1.0});
  EXPECT_EQ(emMonolithicEMStep(unusable, far.data, updated, true), kLogTiny);
  EXPECT_TRUE(updated.components[0]->weight == 0.5 && updated.components[1]->mean.data[0] == 500);

  model = OneDimensional({1.0, 1.0}, {1.0, 0.0});
  emMonolithicEMStep(model, near.data, updated, true);
  EXPECT_EQ(updated.components[1]->weight, kTiny / 3.0);
  EXPECT_EQ(updated.components[1]->mean.data[0], 0.0);
  EXPECT_EQ(updated.components[1]->covariance.data[0], 0.0);
  EXPECT_NEAR(updated.components[0]->weight, 1.0, 1e-15);
}

// A component is usable when its covariance is, whatever the size of its
// determinant: then its inverse factor is the real one and its log
// normaliser finite, and a determinant that is no normal double sends the
// model to the log domain. Outside it the normaliser, sqrt(det) (2 pi)^(d/2),
// shows in the log likelihood at the mean; an unusable one is 0.
TEST(SetupTest, UsableComponentsAndTheirNormalisers) {
  struct Case {
    const char* name;
    MixtureCovarianceMatrixType type;
    int d;
    double variance, off;  // of every dimension; off the diagonal of a full covariance
    bool usable, logDomain;
  };
  for (Case const& c : {
           Case{"unit", D, 2, 1.0, 0, true, false},
           Case{"correlated", F, 3, 1.0, 0.5, true, false},
           Case{"zero variance", D, 2, 0.0, 0, false, false},
           Case{"NaN variances", D, 2, kNaN, 0, false, false},
           Case{"not positive definite", F, 2, 1.0, 2.0, false, false},
           Case{"inverse beyond the doubles", D, 2, 1e-310, 0, false, false},
           Case{"determinant underflows", D, 100, 1e-4, 0, true, true},
           Case{"determinant underflows, full", F, 100, 1e-4, 0, true, true},
           Case{"determinant overflows", D, 100, 1e4, 0, true, true},
           Case{"determinant subnormal", D, 100, 7e-4, 0, true, true},
           Case{"largest variance", D, 2, DBL_MAX, 0, true, true},
       }) {
    SCOPED_TRACE(c.name);
    std::vector<double> covariance(c.type == D ? c.d : c.d * c.d, c.off);
    for (int j = 0; j < c.d; ++j) covariance[c.type == D ? j : j * c.d + j] = c.variance;
    MixtureModel model;
    AddComponent(model, c.type, 1.0, std::vector<double>(c.d, 0.0), covariance);
    DataSet set(c.d, std::vector<double>(c.d, 0.0));
    TrainingContext context(ProgramThreads());
    EMWorkspace const& workspace = context.workspace;
    double const L = emLogLikelihood(set.data, model, context);
    EXPECT_EQ(workspace.logDomain, c.logDomain);
    Matrix const& factor = workspace.cache[0].second;
    if (!c.usable) {
      Matrix neutral(factor.rows, factor.columns);
      c.type == D ? neutral.Fill(1.0) : neutral.Diag(1.0);
      EXPECT_TRUE(SameBits(factor, neutral) && workspace.cache[0].first == 0.0);
      EXPECT_TRUE(workspace.logNormalisers[0] == kInf && L == kLogTiny);
      continue;
    }
    // The covariance's eigenvalues: variance - off, d - 1 times, and
    // variance + (d - 1) off.
    double const logNormaliser =
        0.5 * ((c.d - 1) * std::log(c.variance - c.off) + std::log(c.variance + (c.d - 1) * c.off) +
               c.d * std::log(6.283185307179586));
    EXPECT_NEAR(workspace.logNormalisers[0], logNormaliser, 1e-13 * std::fabs(logNormaliser));
    // The vector at the mean: its log density is minus the log normaliser.
    EXPECT_NEAR(L, -logNormaliser, 1e-13 * std::fabs(logNormaliser));
    // The real inverse factor, not a neutral one.
    double const inverse = c.type == D ? 1.0 / c.variance : 1.0 / std::sqrt(c.variance);
    EXPECT_NEAR(factor.data[0], inverse, 1e-15 * inverse);
  }
}

// A decrease or a value that is not finite ends the loop with the model
// before it and raises the flag, which the next run clears. Zero iterations
// only floor the model and print nothing.
TEST(EMLoopTest, DecreaseOrNonFiniteValueKeepsTheEarlierModelAndRaisesTheFlag) {
  DataSet set(1, {-1.0, 1.0}), near(1, {0.0, 0.1}), far(1, {1e300});
  MixtureModel falling, huge;
  AddComponent(falling, D, 10.0, {0.0}, {1.0});  // weight 10 becomes 1: the value falls
  AddComponent(huge, D, kNaN, {0.0}, {0.01});    // the first value is NaN
  for (double threshold : {-1.0, 0.0}) {         // 5 iterations, or to the threshold
    MixtureModel model(falling);
    double const L = threshold < 0
                         ? ExpectationMaximization(model, set.data, Row({0.1}), 5, false)
                         : ExpectationMaximization(model, set.data, Row({0.1}), threshold, false);
    EXPECT_TRUE(L == emLogLikelihood(set.data, falling) && emNumericalProblems() &&
                SameBits(model, falling));
  }
  MixtureModel model = OneDimensional({0.5}, {1e-6});
  testing::internal::CaptureStdout();
  double const L = ExpectationMaximization(model, set.data, Row({0.5}), 0, true);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_TRUE(!emNumericalProblems() && model.components[0]->covariance.data[0] == 0.5 &&
              L == emLogLikelihood(set.data, model));
  model = huge;
  EXPECT_TRUE(std::isnan(ExpectationMaximization(model, near.data, Row({0.001}), 4, false)) &&
              emNumericalProblems() && SameBits(model, huge));
  // A vector whose square overflows leaves a NaN covariance and nothing
  // explained: the value stays exactly the floor, which is no decrease.
  model = OneDimensional({0.0}, {1.0});
  EXPECT_EQ(ExpectationMaximization(model, far.data, Row({0.1}), 0.0, false), kLogTiny);
  EXPECT_FALSE(emNumericalProblems());
}

}  // namespace
