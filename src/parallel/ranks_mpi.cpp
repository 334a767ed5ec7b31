// The build with MPI: the processes started together by mpirun or srun.
// Only the main thread communicates, outside the parallel passes.
#include <mpi.h>

#include <algorithm>
#include <cstdio>

#include "parallel/ranks.h"

namespace {

bool Started = false;
MPI_Comm Work = MPI_COMM_SELF;  // the processes that share the data
int WorkRank = 0, WorkSize = 1;

// The values that one exchange of AddInRankOrder moves per rank, so that
// rank 0 holds at most this many per rank at once.
size_t const kPiece = size_t(1) << 20;

// Each rank's count as the int that MPI takes, and the offsets of the parts.
void Layout(std::vector<int> const& counts, std::vector<int>& offsets) {
  offsets.assign(counts.size(), 0);
  for (size_t r = 1; r < counts.size(); ++r) offsets[r] = offsets[r - 1] + counts[r - 1];
}

}  // namespace

void StartRanks(int* argc, char*** argv) {
  int provided;
  MPI_Init_thread(argc, argv, MPI_THREAD_FUNNELED, &provided);
  Started = true;
  Work = MPI_COMM_WORLD;
  MPI_Comm_rank(Work, &WorkRank);
  MPI_Comm_size(Work, &WorkSize);
  if (WorkRank != 0) {
    // Messages and results come once, from the first process.
    if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr)) return;
  }
}

int EndRanks(int status) {
  if (!Started) return status;
  int const agreed = AgreeStatus(status);
  fflush(stdout);
  MPI_Finalize();
  Started = false;
  return agreed;
}

int RankIndex() { return WorkRank; }

int RankCount() { return WorkSize; }

bool Speaks() { return WorkRank == 0; }

void AddInRankOrder(double* values, size_t count) {
  if (WorkSize == 1) return;
  std::vector<double> parts(WorkRank == 0 ? std::min(kPiece, count) * WorkSize : 0);
  for (size_t at = 0; at < count; at += kPiece) {
    int const n = static_cast<int>(std::min(kPiece, count - at));
    MPI_Gather(values + at, n, MPI_DOUBLE, parts.data(), n, MPI_DOUBLE, 0, Work);
    if (WorkRank == 0)
      for (int r = 1; r < WorkSize; ++r)
        for (int i = 0; i < n; ++i) values[at + i] += parts[static_cast<size_t>(r) * n + i];
    MPI_Bcast(values + at, n, MPI_DOUBLE, 0, Work);
  }
}

// Until StartRanks, and for a process working alone, there is one rank and
// nothing to exchange: callers such as the tests never start MPI.

std::vector<double> GatherFromAll(double const* values, size_t count) {
  if (WorkSize == 1) return std::vector<double>(values, values + count);
  std::vector<double> all(count * WorkSize);
  MPI_Allgather(values, static_cast<int>(count), MPI_DOUBLE, all.data(), static_cast<int>(count),
                MPI_DOUBLE, Work);
  return all;
}

std::vector<double> GatherVaryingFromAll(double const* values, size_t count) {
  if (WorkSize == 1) return std::vector<double>(values, values + count);
  int const mine = static_cast<int>(count);
  std::vector<int> sizes(WorkSize), offsets;
  MPI_Allgather(&mine, 1, MPI_INT, sizes.data(), 1, MPI_INT, Work);
  Layout(sizes, offsets);
  std::vector<double> all(static_cast<size_t>(offsets.back()) + sizes.back());
  MPI_Allgatherv(values, mine, MPI_DOUBLE, all.data(), sizes.data(), offsets.data(), MPI_DOUBLE,
                 Work);
  return all;
}

// Gathers the parts of every rank at rank 0, rank after rank.
template <class T>
std::vector<T> GatherParts(T const* values, size_t count, MPI_Datatype type) {
  if (WorkSize == 1) return std::vector<T>(values, values + count);
  int const mine = static_cast<int>(count);
  std::vector<int> sizes(WorkSize), offsets;
  MPI_Gather(&mine, 1, MPI_INT, sizes.data(), 1, MPI_INT, 0, Work);
  Layout(sizes, offsets);
  std::vector<T> all(WorkRank == 0 ? static_cast<size_t>(offsets.back()) + sizes.back() : 0);
  MPI_Gatherv(values, mine, type, all.data(), sizes.data(), offsets.data(), type, 0, Work);
  return all;
}

std::vector<double> GatherAtFirst(double const* values, size_t count) {
  return GatherParts(values, count, MPI_DOUBLE);
}

std::vector<char> GatherTextAtFirst(char const* text, size_t size) {
  return GatherParts(text, size, MPI_CHAR);
}

int AgreeStatus(int status) {
  if (WorkSize == 1) return status;
  std::vector<int> all(WorkSize);
  MPI_Allgather(&status, 1, MPI_INT, all.data(), 1, MPI_INT, Work);
  for (int s : all)
    if (s != 0) return s;
  return 0;
}

void BroadcastFromFirst(void* data, size_t size) {
  if (WorkSize > 1) MPI_Bcast(data, static_cast<int>(size), MPI_BYTE, 0, Work);
}

void ScatterFromFirst(double const* values, std::vector<size_t> const& offsets,
                      std::vector<double>& part) {
  if (WorkSize == 1) {
    part.assign(values + offsets[0], values + offsets[1]);
    return;
  }
  std::vector<int> sizes(WorkSize), starts;
  for (int r = 0; r < WorkSize; ++r) sizes[r] = static_cast<int>(offsets[r + 1] - offsets[r]);
  Layout(sizes, starts);
  part.resize(sizes[WorkRank]);
  MPI_Scatterv(values, sizes.data(), starts.data(), MPI_DOUBLE, part.data(), sizes[WorkRank],
               MPI_DOUBLE, 0, Work);
}
