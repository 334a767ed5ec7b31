#include "training/scoring.h"

#include <numeric>

#include "support/values.h"

TEST(EmExpectationTest, TheSameBitsAsTheLogLikelihoodAndTheEMStep) {
  // 149 clustered vectors and one so far from every component that its
  // density is far below the normal doubles: three blocks, the last one
  // partial.
  std::vector<double> values = ClusteredValues(149, 3, 3, 5);
  DataSet clustered(3, values);
  values.insert(values.end(), {1e6, -1e6, 1e6});
  DataSet set(3, values);
  size_t const N = set.data.Count();
  int const K = 5;
  for (auto types : std::vector<std::vector<MixtureCovarianceMatrixType>>{{D}, {F}, {F, D}}) {
    SCOPED_TRACE(::testing::PrintToString(types));
    MixtureModel model = StartingModel(clustered.data, K, 0.3, types);
    TrainingContext context(ProgramThreads());
    std::vector<double> logs(N), responsibilities(N * K);
    emExpectation(set.data, model, context, logs.data(), responsibilities.data());
    EXPECT_EQ(SumInOrder(logs.data(), N) / N, emLogLikelihood(set.data, model));
    // The step's weights are the sums of its responsibilities, in row order, over N.
    MixtureModel updated(model);
    emMonolithicEMStep(model, set.data, updated, types == std::vector{D});
    for (int k = 0; k < K; ++k) {
      double total = 0.0;
      for (size_t n = 0; n < N; ++n) total += responsibilities[n * K + k];
      EXPECT_EQ(total / N, updated.components[k]->weight) << k;
    }
    // The far vector's (the last) responsibilities add up to 1.
    EXPECT_NEAR(std::accumulate(responsibilities.end() - K, responsibilities.end(), 0.0), 1, 1e-15);
    for (size_t n = 0; n < N; ++n)  // to 1e-12 relative
      EXPECT_NEAR(logs[n] / ReferenceLogDensity(set.data.Vector(n), model), 1.0, 1e-12) << n;
  }
}
