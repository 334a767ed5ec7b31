// Fits in contexts of their own share nothing: two at once give the bits
// they give one after the other, and a stop request ends a fit that would
// otherwise run on.
#include "training/context.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "support/values.h"
#include "training/em.h"
#include "training/kmeans.h"

namespace {

struct Problem {
  DataSet set;
  MixtureModel start;
  Problem(int count, int d, int K, MixtureCovarianceMatrixType type, unsigned seed)
      : set(d, ClusteredValues(count, d, K, seed)),
        start(StartingModel(set.data, K, 0.5, {type})) {}
};

struct Fit {
  MixtureModel model;
  EMResult result;
};

// Mahalanobis k-means, then EM to the threshold, in context, on the
// problem's data or on data of the same values.
Fit RunFit(Problem const& problem, TrainingContext& context, Data const* data = nullptr) {
  if (data == nullptr) data = &problem.set.data;
  Fit fit{problem.start, {}};
  MahalanobisKMeans(*data, fit.model, false, 3, true, context);
  Matrix const floor(1, data->Dimension(), 1e-6);
  fit.result = ExpectationMaximization(fit.model, *data, floor, 1e-10, false, context);
  return fit;
}

// The second fit at once runs on a view of the rows, not on their storage.
TEST(ContextTest, TwoFitsAtOnceGiveTheBitsOfOneAfterTheOther) {
  Problem const diagonal(30011, 5, 4, MM_COV_DIAGONAL, 3), full(20023, 3, 3, MM_COV_FULL, 4);
  Threads threads[2] = {Threads(2), Threads(3)};
  Fit alone[2], together[2];
  {
    TrainingContext first(threads[0]), second(threads[1]);
    alone[0] = RunFit(diagonal, first);
    alone[1] = RunFit(full, second);
  }
  TrainingContext first(threads[0]), second(threads[1]);
  DataStorage const& rows = full.set.storage;
  Data const view(rows.data, static_cast<size_t>(rows.rows), rows.columns);
  std::thread other([&] { together[1] = RunFit(full, second, &view); });
  together[0] = RunFit(diagonal, first);
  other.join();
  for (int i = 0; i < 2; ++i) {
    EXPECT_GT(alone[i].result.iterations, 1);
    EXPECT_EQ(alone[i].result.stop, EMStop::kConverged);
    EXPECT_TRUE(SameBits(alone[i].model, together[i].model)) << i;
    EXPECT_TRUE(SameBits(alone[i].result.logLikelihood, together[i].result.logLikelihood)) << i;
    EXPECT_EQ(alone[i].result.iterations, together[i].result.iterations) << i;
  }
}

// EM with a threshold it never reaches, on data whose first step alone takes
// many chunks: only the request ends it, before its first evaluation, and
// the model left is the one it was given, floored.
TEST(ContextTest, AStopRequestEndsAFitFromAnotherThread) {
  Problem const problem(400000, 8, 8, MM_COV_FULL, 5);
  Threads threads(2);
  TrainingContext context(threads);
  Matrix const floor(1, 8, 1e-6);
  MixtureModel model = problem.start;
  std::atomic<bool> started{false};
  EMResult result;
  std::thread fit([&] {
    started = true;
    result = ExpectationMaximization(model, problem.set.data, floor, -1.0, false, context);
  });
  while (!started) std::this_thread::yield();
  context.RequestStop();
  fit.join();
  EXPECT_EQ(result.stop, EMStop::kStopped);
  EXPECT_EQ(result.iterations, 0);
  EXPECT_TRUE(std::isnan(result.logLikelihood));
  MixtureModel floored = problem.start;
  floored.LimitVariances(floor);
  EXPECT_TRUE(SameBits(model, floored));
  // The request holds until cleared; k-means then stops at once as well.
  MixtureModel kmeans = problem.start;
  MahalanobisKMeans(problem.set.data, kmeans, false, 1000000, true, context);
  EXPECT_TRUE(SameBits(kmeans, problem.start));
  context.ClearStop();
  EXPECT_FALSE(context.StopRequested());
}

}  // namespace
