#ifndef MIXFIT_PARALLEL_THREADS_H
#define MIXFIT_PARALLEL_THREADS_H

#include <cstddef>
#include <memory>

// The threads that passes over the data run on: a count and a pool of
// worker threads, held in a context that each pass is given.
//
// A parallel pass is a list of tasks that write disjoint results, so that
// which thread runs a task, and when, changes nothing but the time. Every
// sum whose order matters is formed inside one task, or added up by the
// caller after the pass, in a fixed order.

// The thread count for a value of OMP_NUM_THREADS (null when unset) on a
// process that may run on cpus CPUs.
int ChooseThreadCount(const char* value, int cpus);

int const kMaxThreads = 1024;

// The number of parts that a pass of sums on `workers` threads is shared out
// in: about two per thread, so that a slow thread holds the others up less.
inline int SumParts(int workers) { return workers > 1 ? 2 * workers : 1; }

// Part `part` of `parts` nearly equal parts of 0 ... n - 1: [*begin, *end).
inline void PartOf(int n, int part, int parts, int* begin, int* end) {
  *begin = static_cast<int>(static_cast<long long>(n) * part / parts);
  *end = static_cast<int>(static_cast<long long>(n) * (part + 1) / parts);
}

// The most bytes that the threads of a pass should take for their scratch
// storage together.
size_t const kScratchRoom = size_t(256) << 20;

// How passes are sized, everywhere: WorkersFor gives the threads, and a pass
// over data takes about kChunkDoubles doubles at a time (1 MB, so that they
// stay in the second-level cache from one pass to the next that uses them,
// and each hand-off between the threads is worth its cost).
size_t const kChunkDoubles = size_t(1) << 17;

// The arithmetic operations that a thread of a pass should have at least:
// below that, starting the thread costs more than it saves.
double const kOperationsPerThread = 1 << 16;

typedef void (*TaskFunction)(void const* context, int task, int worker);

struct ThreadPool;

// A thread count and the pool of worker threads that runs passes with it,
// started at the first pass that needs them. Passes on different contexts
// may run side by side; a pass started on a context whose pool is busy, or
// inside a task, runs on its caller's thread alone.
class Threads {
 public:
  // count threads in all, the caller's included (at least 1, at most
  // kMaxThreads).
  explicit Threads(int count);
  ~Threads();
  Threads(Threads const&) = delete;
  Threads& operator=(Threads const&) = delete;

  int Count() const { return count_; }
  // Uses count threads from the next pass on. Not while a pass runs.
  void SetCount(int count);

  // The threads for a pass of about `operations` arithmetic operations whose
  // threads each need `bytes` of scratch storage: Count(), or fewer when
  // their scratch would exceed kScratchRoom or their work fall below
  // kOperationsPerThread each.
  int WorkersFor(size_t bytes, double operations) const;

  // The untyped form that ParallelFor calls.
  void Run(int tasks, int workers, TaskFunction run, void const* context) const;

 private:
  int count_;
  std::unique_ptr<ThreadPool> pool_;
};

// The threads of the program: OMP_NUM_THREADS when it holds a positive
// number, else every CPU of the process's affinity mask, decided at the
// first call. ThreadCount, SetThreadCount, WorkersFor and ParallelFor
// without a context use them.
Threads& ProgramThreads();
int ThreadCount();
void SetThreadCount(int count);

// ProgramThreads().WorkersFor(bytes, operations).
int WorkersFor(size_t bytes, double operations);

// Runs task(i, worker) for every i from 0 to tasks - 1, each exactly once,
// on the calling thread and those of the pool of threads, at most `workers`
// in all; returns when all have run. worker (0 to workers - 1, and below
// threads.Count()) tells the threads apart, for scratch storage: no two tasks
// run at the same time with the same worker. Tasks are handed out in
// increasing order to whichever thread is free. A pass started inside a task
// runs on its thread alone, under that task's worker.
template <class Task>
void ParallelFor(Threads const& threads, int tasks, Task const& task, int workers = kMaxThreads) {
  threads.Run(
      tasks, workers,
      [](void const* context, int i, int worker) {
        (*static_cast<Task const*>(context))(i, worker);
      },
      &task);
}

// The same on ProgramThreads().
template <class Task>
void ParallelFor(int tasks, Task const& task, int workers = kMaxThreads) {
  ParallelFor(ProgramThreads(), tasks, task, workers);
}

#endif
