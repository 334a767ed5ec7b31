// The thread count that the environment asks for, and the pool's promise:
// every task once, on a worker index below the count.
#include "parallel/threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

// OMP_NUM_THREADS when a positive number (blanks around it allowed, at most
// kMaxThreads, also above the CPUs), else every CPU of the affinity mask (at
// least one).
TEST(ThreadCountTest, PositiveNumbersOnlyElseEveryCpu) {
  char const* const values[] = {nullptr, "", "1", "3", " 7\n", "0", "-2", "2x", "abc", "5000"};
  std::string all;
  for (char const* value : values) all += std::to_string(ChooseThreadCount(value, 4)) + " ";
  EXPECT_EQ(all, "4 4 1 3 7 4 4 4 4 " + std::to_string(kMaxThreads) + " ");
  EXPECT_TRUE(ChooseThreadCount("16", 2) == 16 && ChooseThreadCount(nullptr, 0) == 1);
  EXPECT_EQ(Threads(3).WorkersFor(8, 1.0), 1);  // a pass too small to share
}

// Also for passes started on two threads at once (one runs on the pool, the
// other on its own thread) and for a pass inside a task, which stays inline
// on the task's thread under its worker, also when the outer pass ran inline
// (one worker) and left the pool free: a pass sent to the pool would run
// under other workers.
TEST(ParallelForTest, EveryTaskOnceOnAWorkerOfItsOwn) {
  int const original = ThreadCount();
  for (int threads : {1, 3, 7}) {
    SetThreadCount(threads);
    for (int workers : {1, 2, kMaxThreads}) {
      int const limit = std::min(threads, workers);
      std::vector<std::atomic<int>> runs(2 * 50 * 100), busy(2 * kMaxThreads);
      std::atomic<bool> wrong{false};
      auto passes = [&](int side) {
        int pass = 0;
        auto task = [&](int i, int worker) {
          if (worker < 0 || worker >= limit) return void(wrong = true);
          if (busy[side * kMaxThreads + worker]++ != 0) wrong = true;
          ++runs[(side * 50 + pass) * 100 + i];
          ParallelFor(3, [&](int, int inner) { wrong = wrong || inner != worker; });
          --busy[side * kMaxThreads + worker];
        };
        for (; pass < 50; ++pass) ParallelFor(100, task, workers);
      };
      std::thread other(passes, 1);
      passes(0);
      other.join();
      for (auto const& count : runs) ASSERT_EQ(count, 1) << threads << " threads";
      EXPECT_FALSE(wrong) << threads << " threads, " << workers << " workers";
    }
  }
  // A pass inside the one task of a pass, which ran inline, stays on its thread.
  std::atomic<int> elsewhere{0};
  ParallelFor(1, [&](int, int) {
    std::thread::id const own = std::this_thread::get_id();
    ParallelFor(32, [&](int, int) {
      elsewhere += std::this_thread::get_id() != own;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    });
  });
  EXPECT_EQ(elsewhere, 0);
  // On two threads the two tasks of a pass run at the same time: each waits
  // (10 s at most) for the other to start.
  SetThreadCount(2);
  std::atomic<int> started{0}, met{0};
  ParallelFor(2, [&](int, int) {
    ++started;
    auto const until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (started < 2 && std::chrono::steady_clock::now() < until) std::this_thread::yield();
    met += started == 2;
  });
  EXPECT_EQ(met, 2);
  SetThreadCount(original);
}
