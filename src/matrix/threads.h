#ifndef MIXFIT_MATRIX_THREADS_H
#define MIXFIT_MATRIX_THREADS_H

#include <cstddef>

// The threads that the passes over the data share: one process-wide pool.
//
// A parallel pass is a list of tasks that write disjoint results, so that
// which thread runs a task, and when, changes nothing but the time. Every
// sum whose order matters is formed inside one task, or added up by the
// caller after the pass, in a fixed order.

// The number of threads that parallel passes use, at least 1: OMP_NUM_THREADS
// when it holds a positive number, else every CPU of the process's affinity
// mask. Decided at the first call.
int ThreadCount();

// Uses count threads from now on (at least 1, at most kMaxThreads), for tests
// and benchmarks. Not while a parallel pass runs.
void SetThreadCount(int count);

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

// The arithmetic operations that a thread of a pass should have at least:
// below that, starting the thread costs more than it saves.
double const kOperationsPerThread = 1 << 16;

// The threads for a pass of about `operations` arithmetic operations whose
// threads each need `bytes` of scratch storage: ThreadCount(), or fewer when
// their scratch would exceed kScratchRoom or their work fall below
// kOperationsPerThread each.
int WorkersFor(size_t bytes, double operations);

// Runs task(i, worker) for every i from 0 to tasks - 1, each exactly once,
// on the calling thread and those of the pool, at most `workers` in all;
// returns when all have run. worker (0 to workers - 1, and below
// ThreadCount()) tells the threads apart, for scratch storage: no two tasks
// run at the same time with the same worker. Tasks are handed out in
// increasing order to whichever thread is free. A pass started inside a task
// runs on its thread alone.
template <class Task>
void ParallelFor(int tasks, Task const& task, int workers = kMaxThreads);

// The untyped form that ParallelFor calls.
void RunTasks(int tasks, int workers, void (*run)(void const* context, int task, int worker),
              void const* context);

template <class Task>
void ParallelFor(int tasks, Task const& task, int workers) {
  RunTasks(
      tasks, workers,
      [](void const* context, int i, int worker) {
        (*static_cast<Task const*>(context))(i, worker);
      },
      &task);
}

#endif
