// The thread count that the environment asks for, and the pool's promise:
// every task once, on a worker index below the count.

#include "matrix/threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

TEST(ThreadCountTest, PositiveNumbersOnlyElseEveryCpu) {
  struct Case {
    const char* value;
    int cpus, expected;
  } const cases[] = {
      {nullptr, 4, 4},
      {"", 4, 4},
      {"3", 4, 3},
      {" 7\n", 4, 7},
      {"16", 2, 16},
      {"0", 4, 4},
      {"-2", 4, 4},
      {"2x", 4, 4},
      {"1.5", 4, 4},
      {"4,2", 4, 4},
      {"abc", 4, 4},
      {nullptr, 0, 1},
      {"5000", 4, kMaxThreads},
      {"99999999999999999999", 4, kMaxThreads},
  };
  for (Case const& c : cases)
    EXPECT_EQ(ChooseThreadCount(c.value, c.cpus), c.expected)
        << (c.value ? c.value : "unset") << " with " << c.cpus << " CPUs";
}

TEST(ParallelForTest, EveryTaskOnceOnAWorkerOfItsOwn) {
  int const original = ThreadCount();
  for (int threads : {1, 3, 7}) {
    SetThreadCount(threads);
    for (int workers : {1, 2, kMaxThreads}) {
      int const limit = std::min(threads, workers);
      std::vector<std::atomic<int>> runs(1000), busy(kMaxThreads);
      std::atomic<bool> shared{false}, outside{false}, nestedInline{true};
      ParallelFor(
          static_cast<int>(runs.size()),
          [&](int i, int worker) {
            if (worker < 0 || worker >= limit) outside = true;
            if (busy[worker]++ != 0) shared = true;
            ++runs[i];
            // A pass inside a task stays on its thread and worker.
            ParallelFor(3, [&](int, int inner) { nestedInline = nestedInline && inner == worker; });
            --busy[worker];
          },
          workers);
      for (auto const& count : runs) ASSERT_EQ(count, 1) << threads << " threads";
      EXPECT_FALSE(outside) << threads << " threads, " << workers << " workers";
      EXPECT_FALSE(shared) << threads << " threads, " << workers << " workers";
      EXPECT_TRUE(nestedInline);
    }
  }
  SetThreadCount(original);
}

// Passes started on two threads at once: one runs on the pool, the other on
// its own thread, and every task of both runs once.
TEST(ParallelForTest, PassesFromTwoThreadsAtOnce) {
  int const original = ThreadCount();
  SetThreadCount(3);
  std::vector<std::atomic<int>> runs(2 * 200 * 50);
  auto passes = [&](int side) {
    for (int pass = 0; pass < 200; ++pass)
      ParallelFor(50, [&](int i, int) { ++runs[(side * 200 + pass) * 50 + i]; });
  };
  std::thread other(passes, 1);
  passes(0);
  other.join();
  for (auto const& count : runs) ASSERT_EQ(count, 1);
  SetThreadCount(original);
}
