#include "training/scoring.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "support/values.h"


namespace {

// The column sums of the rows x columns table, each added in row order.
std::vector<double> ColumnSums(std::vector<double> const& table, int columns) {
  std::vector<double> sums(columns, 0.0);
  for (size_t i = 0; i < table.size(); ++i) sums[i % columns] += table[i];
  return sums;
}

}  // namespace

TEST(ScoreVectorsTest, TheSameBitsAsTheLogLikelihoodAndTheEMStep) {
  // 149 clustered vectors and one far from every component, which no
  // component explains: three blocks, the last one partial.
  std::vector<double> values = ClusteredValues(149, 3, 3, 5);
  DataSet clustered(3, values);
  values.insert(values.end(), {1e6, -1e6, 1e6});
  DataSet set(3, values);
  size_t const N = set.data.Count();
  struct Case {
    const char* name;
    std::vector<MixtureCovarianceMatrixType> types;
  } const cases[] = {
      {"diagonal", {MM_COV_DIAGONAL}},
      {"full", {MM_COV_FULL}},
      {"mixed", {MM_COV_FULL, MM_COV_DIAGONAL}},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.name);
    int const K = 5;
    MixtureModel model = StartingModel(clustered.data, K, 0.3, c.types);
    EMWorkspace workspace;
    std::vector<double> logs(N), responsibilities(N * K), alone(N);
    ScoreVectors(set.data, model, workspace, logs.data(), responsibilities.data());
    ScoreVectors(set.data, model, workspace, alone.data(), nullptr);
    EXPECT_EQ(alone, logs);

    EXPECT_EQ(SumInOrder(logs.data(), N) / N, emLogLikelihood(set.data, model));
    // The step's weights are the sums of its responsibilities over N.
    MixtureModel updated(model);
    emMonolithicEMStep(model, set.data, updated,
                       c.types.size() == 1 && c.types[0] == MM_COV_DIAGONAL);
    std::vector<double> const totals = ColumnSums(responsibilities, K);
    for (int k = 0; k < K; ++k) EXPECT_EQ(totals[k] / N, updated.components[k]->weight) << k;

    for (size_t n = 0; n + 1 < N; ++n) {
      EXPECT_GT(logs[n], kLogTiny) << n;
      EXPECT_NEAR(SumInOrder(&responsibilities[n * K], K), 1.0, 1e-15) << n;
    }
    EXPECT_EQ(logs[N - 1], kLogTiny);
    for (int k = 0; k < K; ++k) EXPECT_EQ(responsibilities[(N - 1) * K + k], 1.0 / K);
  }
}

TEST(LargestEntryTest, FirstOfTheLargestNeverANaN) {
  double const nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    std::vector<double> values;
    int largest;
  } const cases[] = {
      {{0.7}, 0},           {{0.2, 0.5, 0.3}, 1}, {{0.1, 0.2, 0.7}, 2}, {{0.4, 0.4, 0.2}, 0},
      {{0.2, 0.4, 0.4}, 1}, {{0.3, nan, 0.6}, 2}, {{nan, nan}, 0},
  };
  for (Case const& c : cases)
    EXPECT_EQ(LargestEntry(c.values.data(), static_cast<int>(c.values.size())), c.largest)
        << ::testing::PrintToString(c.values);
}
