// The build with MPI: the processes started together by mpirun or srun.
// Only the main thread communicates, outside the parallel passes.
#include <mpi.h>

#include <algorithm>
#include <cstdio>

#include "parallel/ranks.h"

namespace {

// The program's ranks, and whether MPI was started for them.
Ranks Program;
bool Started = false;

// The values that one exchange of AddInRankOrder moves per rank, so that
// rank 0 holds at most this many per rank at once.
size_t const kPiece = size_t(1) << 20;

// Each rank's count as the int that MPI takes, and the offsets of the parts.
void Layout(std::vector<int> const& counts, std::vector<int>& offsets) {
  offsets.assign(counts.size(), 0);
  for (size_t r = 1; r < counts.size(); ++r) offsets[r] = offsets[r - 1] + counts[r - 1];
}

MPI_Comm Communicator(int64_t handle) { return MPI_Comm_f2c(static_cast<MPI_Fint>(handle)); }

}  // namespace

void StartRanks(int* argc, char*** argv) {
  int provided;
  MPI_Init_thread(argc, argv, MPI_THREAD_FUNNELED, &provided);
  Started = true;
  Program.communicator_ = MPI_Comm_c2f(MPI_COMM_WORLD);
  MPI_Comm_rank(MPI_COMM_WORLD, &Program.index_);
  MPI_Comm_size(MPI_COMM_WORLD, &Program.count_);
  if (Program.index_ != 0) {
    // Messages and results come once, from the first process.
    if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr)) return;
  }
}

int EndRanks(int status) {
  if (!Started) return status;
  int const agreed = Program.AgreeStatus(status);
  fflush(stdout);
  MPI_Finalize();
  Started = false;
  Program = Ranks();
  return agreed;
}

Ranks const& ProgramRanks() { return Program; }

// Until StartRanks, and for a process working alone, there is one rank and
// nothing to exchange: callers such as the tests never start MPI.

void Ranks::AddInRankOrder(double* values, size_t count) const {
  if (count_ == 1) return;
  std::vector<double> parts(index_ == 0 ? std::min(kPiece, count) * count_ : 0);
  for (size_t at = 0; at < count; at += kPiece) {
    int const n = static_cast<int>(std::min(kPiece, count - at));
    MPI_Gather(values + at, n, MPI_DOUBLE, parts.data(), n, MPI_DOUBLE, 0,
               Communicator(communicator_));
    if (index_ == 0)
      for (int r = 1; r < count_; ++r)
        for (int i = 0; i < n; ++i) values[at + i] += parts[static_cast<size_t>(r) * n + i];
    MPI_Bcast(values + at, n, MPI_DOUBLE, 0, Communicator(communicator_));
  }
}

RankShare Ranks::ShareOf(size_t count) const {
  if (count_ == 1) return RankShare{0, count};
  double const local = static_cast<double>(count);
  std::vector<double> const counts = GatherFromAll(&local, 1);
  RankShare share;
  for (int r = 0; r < count_; ++r) {
    if (r < index_) share.first += static_cast<size_t>(counts[r]);
    share.total += static_cast<size_t>(counts[r]);
  }
  return share;
}

std::vector<double> Ranks::GatherFromAll(double const* values, size_t count) const {
  if (count_ == 1) return std::vector<double>(values, values + count);
  std::vector<double> all(count * count_);
  MPI_Allgather(values, static_cast<int>(count), MPI_DOUBLE, all.data(), static_cast<int>(count),
                MPI_DOUBLE, Communicator(communicator_));
  return all;
}

std::vector<double> Ranks::GatherVaryingFromAll(double const* values, size_t count) const {
  if (count_ == 1) return std::vector<double>(values, values + count);
  int const mine = static_cast<int>(count);
  std::vector<int> sizes(count_), offsets;
  MPI_Allgather(&mine, 1, MPI_INT, sizes.data(), 1, MPI_INT, Communicator(communicator_));
  Layout(sizes, offsets);
  std::vector<double> all(static_cast<size_t>(offsets.back()) + sizes.back());
  MPI_Allgatherv(values, mine, MPI_DOUBLE, all.data(), sizes.data(), offsets.data(), MPI_DOUBLE,
                 Communicator(communicator_));
  return all;
}

namespace {

// Gathers the parts of every rank at rank 0, rank after rank.
template <class T>
std::vector<T> GatherParts(int size, int rank, MPI_Comm comm, T const* values, size_t count,
                           MPI_Datatype type) {
  if (size == 1) return std::vector<T>(values, values + count);
  int const mine = static_cast<int>(count);
  std::vector<int> sizes(size), offsets;
  MPI_Gather(&mine, 1, MPI_INT, sizes.data(), 1, MPI_INT, 0, comm);
  Layout(sizes, offsets);
  std::vector<T> all(rank == 0 ? static_cast<size_t>(offsets.back()) + sizes.back() : 0);
  MPI_Gatherv(values, mine, type, all.data(), sizes.data(), offsets.data(), type, 0, comm);
  return all;
}

}  // namespace

std::vector<double> Ranks::GatherAtFirst(double const* values, size_t count) const {
  return GatherParts(count_, index_, Communicator(communicator_), values, count, MPI_DOUBLE);
}

std::vector<char> Ranks::GatherTextAtFirst(char const* text, size_t size) const {
  return GatherParts(count_, index_, Communicator(communicator_), text, size, MPI_CHAR);
}

int Ranks::AgreeStatus(int status) const {
  if (count_ == 1) return status;
  std::vector<int> all(count_);
  MPI_Allgather(&status, 1, MPI_INT, all.data(), 1, MPI_INT, Communicator(communicator_));
  for (int s : all)
    if (s != 0) return s;
  return 0;
}

void Ranks::BroadcastFromFirst(void* data, size_t size) const {
  if (count_ > 1) MPI_Bcast(data, static_cast<int>(size), MPI_BYTE, 0, Communicator(communicator_));
}

void Ranks::ScatterFromFirst(double const* values, std::vector<size_t> const& offsets,
                             std::vector<double>& part) const {
  if (count_ == 1) {
    part.assign(values + offsets[0], values + offsets[1]);
    return;
  }
  std::vector<int> sizes(count_), starts;
  for (int r = 0; r < count_; ++r) sizes[r] = static_cast<int>(offsets[r + 1] - offsets[r]);
  Layout(sizes, starts);
  part.resize(sizes[index_]);
  MPI_Scatterv(values, sizes.data(), starts.data(), MPI_DOUBLE, part.data(), sizes[index_],
               MPI_DOUBLE, 0, Communicator(communicator_));
}
