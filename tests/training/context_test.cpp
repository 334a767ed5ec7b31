// Fits in contexts of their own share nothing: two at once give the bits
// they give one after the other, and a stop request ends a fit that would
// otherwise run on.
#include "training/context.h"

#include <atomic>
#include <thread>

#include "support/values.h"
#include "training/em.h"
#include "training/kmeans.h"

namespace {

// Mahalanobis k-means, then EM to the threshold, in context, fitting model
// in place.
EMResult RunFit(MixtureModel& model, Data const& data, TrainingContext& context) {
  MahalanobisKMeans(data, model, false, 3, true, context);
  return ExpectationMaximization(model, data, Matrix(1, data.Dimension(), 1e-6), 1e-10, false,
                                 context);
}

// The second fit at once runs on a view of the rows, not on their storage.
TEST(ContextTest, TwoFitsAtOnceGiveTheBitsOfOneAfterTheOther) {
  DataSet const diagonal(5, ClusteredValues(30011, 5, 4, 3)),
      full(3, ClusteredValues(20023, 3, 3, 4));
  MixtureModel const starts[2] = {StartingModel(diagonal.data, 4, 0.5, {D}),
                                  StartingModel(full.data, 3, 0.5, {F})};
  Threads threads[2] = {Threads(2), Threads(3)};
  // Each data set's fit alone (0, 1), then both at once (2, 3).
  MixtureModel models[4] = {starts[0], starts[1], starts[0], starts[1]};
  EMResult results[4];
  {
    TrainingContext first(threads[0]), second(threads[1]);
    results[0] = RunFit(models[0], diagonal.data, first);
    results[1] = RunFit(models[1], full.data, second);
  }
  TrainingContext first(threads[0]), second(threads[1]);
  DataStorage const& rows = full.storage;
  Data const view(rows.data, static_cast<size_t>(rows.rows), rows.columns);
  std::thread other([&] { results[3] = RunFit(models[3], view, second); });
  results[2] = RunFit(models[2], diagonal.data, first);
  other.join();
  for (int i = 0; i < 2; ++i) {
    EMResult const &one = results[i], &other = results[i + 2];
    EXPECT_TRUE(one.iterations > 1 && one.stop == EMStop::kConverged) << i;
    EXPECT_TRUE(SameBits(models[i], models[i + 2]) && one.iterations == other.iterations &&
                SameBits(one.logLikelihood, other.logLikelihood))
        << i;
  }
}

// EM with a threshold it never reaches, on data whose first step alone takes
// many chunks: only the request ends it, before its first evaluation, and
// the model left is the one it was given, floored.
TEST(ContextTest, AStopRequestEndsAFitFromAnotherThread) {
  DataSet const set(8, ClusteredValues(400000, 8, 8, 5));
  MixtureModel const start = StartingModel(set.data, 8, 0.5, {F});
  Threads threads(2);
  TrainingContext context(threads);
  Matrix const floor(1, 8, 1e-6);
  MixtureModel model = start;
  std::atomic<bool> started{false};
  EMResult result;
  std::thread fit([&] {
    started = true;
    result = ExpectationMaximization(model, set.data, floor, -1.0, false, context);
  });
  while (!started) std::this_thread::yield();
  context.RequestStop();
  fit.join();
  EXPECT_TRUE(result.stop == EMStop::kStopped && result.iterations == 0 &&
              std::isnan(result.logLikelihood));
  MixtureModel floored = start;
  floored.LimitVariances(floor);
  EXPECT_TRUE(SameBits(model, floored));
  // The request holds until cleared; k-means then stops at once as well.
  MahalanobisKMeans(set.data, model, false, 1000000, true, context);
  EXPECT_TRUE(SameBits(model, floored));
  context.ClearStop();
  EXPECT_FALSE(context.StopRequested());
}

}  // namespace
