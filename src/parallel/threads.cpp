#include "parallel/threads.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {

struct Job {
  uint32_t generation;
  int tasks;
  int workers;
  TaskFunction run;
  void const* context;
};

}  // namespace

// The worker threads and the job they share. A thread claims the job's tasks
// one at a time from `claim`, which holds the job's generation in its high
// 32 bits and the next task in its low ones: a thread still holding an older
// job can then never claim a task of a newer one. `remaining` counts the
// tasks not yet finished; whoever finishes the last wakes the caller.
struct ThreadPool {
  std::mutex pass;  // held by the thread whose pass the pool runs
  std::mutex mutex;
  std::condition_variable wake;      // a new job, or stop
  std::condition_variable finished;  // the last task of the job ended
  std::vector<std::thread> threads;
  // The thread running a pass (worker 0) and the ids of the worker threads
  // from 1 on, so that a pass started inside a task can tell its worker.
  std::atomic<std::thread::id> owner{};
  std::vector<std::thread::id> ids;  // under mutex
  // Threads that run a pass of their own inline, as worker 0, while the
  // pool is busy; under mutex.
  std::vector<std::thread::id> aside;
  int size = 0;  // the thread count the threads were started for
  Job job = {0, 0, 0, nullptr, nullptr};
  std::atomic<uint32_t> published{0};  // job.generation, readable without the mutex
  bool stop = false;
  std::atomic<uint64_t> claim{0};
  std::atomic<int> remaining{0};
};

namespace {

// How long a thread that waits for a job or for the end of one first keeps
// looking before it sleeps: passes follow one another closely, and waking a
// sleeping thread takes longer than most tasks.
std::chrono::microseconds const kSpin(50);

// Looks at done() until it holds or kSpin has passed; returns done(). The
// thread yields between looks, so that a thread with work gets the CPU when
// there are more threads than CPUs.
template <class Done>
bool SpinUntil(Done const& done) {
  auto const end = std::chrono::steady_clock::now() + kSpin;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::yield();
  }
  return true;
}

// Runs tasks of job until none is left to claim; tells the caller when the
// last one has finished.
void RunClaimed(ThreadPool& pool, Job const& job, int worker) {
  if (worker >= job.workers) return;
  uint64_t const tag = static_cast<uint64_t>(job.generation) << 32;
  uint64_t claim = pool.claim.load();
  int done = 0;
  while ((claim & ~uint64_t(0xffffffff)) == tag &&
         static_cast<int>(claim & 0xffffffff) < job.tasks) {
    if (!pool.claim.compare_exchange_weak(claim, claim + 1)) continue;
    job.run(job.context, static_cast<int>(claim & 0xffffffff), worker);
    ++done;
    claim = pool.claim.load();
  }
  if (done > 0 && pool.remaining.fetch_sub(done) == done) {
    std::lock_guard<std::mutex> lock(pool.mutex);
    pool.finished.notify_all();
  }
}

void Work(ThreadPool& pool, int worker, uint32_t seen) {
  for (;;) {
    SpinUntil([&] { return pool.published.load(std::memory_order_acquire) != seen; });
    Job job;
    {
      std::unique_lock<std::mutex> lock(pool.mutex);
      pool.wake.wait(lock, [&] { return pool.stop || pool.job.generation != seen; });
      if (pool.stop) return;
      job = pool.job;
    }
    seen = job.generation;
    RunClaimed(pool, job, worker);
  }
}

void StopThreads(ThreadPool& pool) {
  {
    std::lock_guard<std::mutex> lock(pool.mutex);
    pool.stop = true;
  }
  pool.wake.notify_all();
  for (std::thread& thread : pool.threads) thread.join();
  pool.threads.clear();
  {
    std::lock_guard<std::mutex> lock(pool.mutex);
    pool.ids.clear();
  }
  pool.stop = false;
  pool.size = 0;
}

// Starts the threads for `threads` in all, the caller included. When the
// system refuses a thread, the pool works with those it has.
void StartThreads(ThreadPool& pool, int threads) {
  StopThreads(pool);
  pool.size = threads;
  for (int worker = 1; worker < threads; ++worker) {
    try {
      pool.threads.emplace_back(Work, std::ref(pool), worker, pool.job.generation);
    } catch (std::system_error const&) {
      break;
    }
  }
  std::lock_guard<std::mutex> lock(pool.mutex);
  for (std::thread const& thread : pool.threads) pool.ids.push_back(thread.get_id());
}

int AffinityCpus() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) return CPU_COUNT(&set);
  return static_cast<int>(std::thread::hardware_concurrency());
}

}  // namespace

int ChooseThreadCount(const char* value, int cpus) {
  if (value) {
    const char* p = value;
    while (isspace(static_cast<unsigned char>(*p))) ++p;
    if (isdigit(static_cast<unsigned char>(*p))) {
      char* end;
      errno = 0;
      long n = strtol(p, &end, 10);
      while (isspace(static_cast<unsigned char>(*end))) ++end;
      if (*end == '\0' && n > 0) return errno == ERANGE || n > kMaxThreads ? kMaxThreads : int(n);
    }
  }
  return std::clamp(cpus, 1, kMaxThreads);
}

Threads::Threads(int count)
    : count_(std::clamp(count, 1, kMaxThreads)), pool_(std::make_unique<ThreadPool>()) {}

Threads::~Threads() { StopThreads(*pool_); }

void Threads::SetCount(int count) { count_ = std::clamp(count, 1, kMaxThreads); }

int Threads::WorkersFor(size_t bytes, double operations) const {
  size_t const fit = bytes > 0 ? kScratchRoom / bytes : kMaxThreads;
  double const busy = operations / kOperationsPerThread;
  size_t const worth = busy < kMaxThreads ? static_cast<size_t>(busy) : kMaxThreads;
  return static_cast<int>(std::max<size_t>(1, std::min<size_t>({size_t(count_), fit, worth})));
}

// Never destroyed: a process may end (or a forked child exit) with the
// threads waiting, and nothing would be gained by joining them.
Threads& ProgramThreads() {
  static Threads* threads =
      new Threads(ChooseThreadCount(getenv("OMP_NUM_THREADS"), AffinityCpus()));
  return *threads;
}

int ThreadCount() { return ProgramThreads().Count(); }

void SetThreadCount(int threads) { ProgramThreads().SetCount(threads); }

int WorkersFor(size_t bytes, double operations) {
  return ProgramThreads().WorkersFor(bytes, operations);
}

namespace {

// The worker under which the calling thread runs a task of a pass on the
// pool, or -1 when it runs none: the thread running the pool's pass is
// worker 0, the pool's threads follow, and a thread running a pass of its own
// aside is worker 0 too.
int CurrentWorker(ThreadPool& pool) {
  std::thread::id const self = std::this_thread::get_id();
  if (pool.owner.load() == self) return 0;
  std::lock_guard<std::mutex> lock(pool.mutex);
  for (size_t i = 0; i < pool.ids.size(); ++i)
    if (pool.ids[i] == self) return static_cast<int>(i) + 1;
  bool const aside = std::find(pool.aside.begin(), pool.aside.end(), self) != pool.aside.end();
  return aside ? 0 : -1;
}

// Runs every task on the calling thread under worker.
void RunInline(int tasks, TaskFunction run, void const* context, int worker) {
  for (int i = 0; i < tasks; ++i) run(context, i, worker);
}

// The same for a thread that is not in a pass of the pool while the pool is
// busy: known as worker 0 meanwhile, so that passes inside its tasks stay
// on it.
void RunAside(ThreadPool& pool, int tasks, TaskFunction run, void const* context) {
  std::thread::id const self = std::this_thread::get_id();
  {
    std::lock_guard<std::mutex> lock(pool.mutex);
    pool.aside.push_back(self);
  }
  RunInline(tasks, run, context, 0);
  std::lock_guard<std::mutex> lock(pool.mutex);
  pool.aside.erase(std::find(pool.aside.begin(), pool.aside.end(), self));
}

}  // namespace

void Threads::Run(int tasks, int workers, TaskFunction run, void const* context) const {
  if (tasks <= 0) return;
  int const threads = std::min(count_, workers);
  ThreadPool& pool = *pool_;
  // A pass inside a task runs on the task's thread, under its worker.
  int const outer = CurrentWorker(pool);
  if (outer >= 0) return RunInline(tasks, run, context, outer);
  // One pass at a time on the pool: a pass that another thread starts
  // meanwhile runs on that thread alone.
  std::unique_lock<std::mutex> pass(pool.pass, std::try_to_lock);
  if (!pass.owns_lock()) return RunAside(pool, tasks, run, context);
  pool.owner = std::this_thread::get_id();
  if (tasks == 1 || threads == 1) {
    RunInline(tasks, run, context, 0);
    pool.owner = std::thread::id();
    return;
  }
  if (pool.size != count_) StartThreads(pool, count_);
  Job job;
  {
    std::lock_guard<std::mutex> lock(pool.mutex);
    job = {pool.job.generation + 1, tasks, threads, run, context};
    pool.job = job;
    pool.remaining = tasks;
    pool.claim = static_cast<uint64_t>(job.generation) << 32;
    pool.published.store(job.generation, std::memory_order_release);
  }
  pool.wake.notify_all();
  RunClaimed(pool, job, 0);
  if (!SpinUntil([&] { return pool.remaining == 0; })) {
    std::unique_lock<std::mutex> lock(pool.mutex);
    pool.finished.wait(lock, [&] { return pool.remaining == 0; });
  }
  pool.owner = std::thread::id();
}
