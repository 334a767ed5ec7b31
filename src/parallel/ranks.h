#ifndef MIXFIT_PARALLEL_RANKS_H
#define MIXFIT_PARALLEL_RANKS_H

// The processes (ranks) of one run that share the data, each holding a part
// of the vectors in file order: rank 0 the first part. Without MPI, and
// under MPI with one process, there is one rank and every operation here
// leaves its values as they are, so that results keep their bits.

#include <cstddef>
#include <cstdint>
#include <vector>

// Where one rank's vectors stand among those of all ranks: the position of
// its first vector and the number of all.
struct RankShare {
  size_t first = 0;
  size_t total = 0;
};

// The ranks of a run as seen from one of them. Every operation but Index,
// Count and Speaks is collective: all ranks call it in the same order with
// the same sizes.
class Ranks {
 public:
  // One process alone.
  constexpr Ranks() = default;

  // This process's rank among those sharing the work, and their number.
  int Index() const { return index_; }
  int Count() const { return count_; }
  // Whether this process is the one that prints and writes files: rank 0.
  bool Speaks() const { return index_ == 0; }

  // Adds the `count` values of every rank, element by element, in rank
  // order: rank 0's values plus rank 1's, plus rank 2's, and so on. Every
  // rank gets the same sums, whatever order the library would reduce in.
  void AddInRankOrder(double* values, size_t count) const;

  // This rank's share when it holds `count` vectors.
  RankShare ShareOf(size_t count) const;

  // Every rank's `count` values, rank after rank, on every rank.
  std::vector<double> GatherFromAll(double const* values, size_t count) const;
  // Every rank's values, however many each has, rank after rank, on every
  // rank.
  std::vector<double> GatherVaryingFromAll(double const* values, size_t count) const;
  // Every rank's values, rank after rank, on rank 0; elsewhere empty.
  std::vector<double> GatherAtFirst(double const* values, size_t count) const;
  // Every rank's bytes, rank after rank, on rank 0; elsewhere empty.
  std::vector<char> GatherTextAtFirst(char const* text, size_t size) const;

  // The status of the first rank that reports one other than 0, else 0: the
  // outcome that every rank then acts on.
  int AgreeStatus(int status) const;

  // Copies rank 0's `size` bytes at data to every other rank.
  void BroadcastFromFirst(void* data, size_t size) const;

  // Hands rank r the values from offsets[r] to offsets[r + 1] of rank 0's
  // values (offsets has Count() + 1 entries; only rank 0 reads values);
  // every rank receives its part into part.
  void ScatterFromFirst(double const* values, std::vector<size_t> const& offsets,
                        std::vector<double>& part) const;

 private:
  friend void StartRanks(int* argc, char*** argv);
  friend int EndRanks(int status);

  int index_ = 0;
  int count_ = 1;
  [[maybe_unused]] int64_t communicator_ = 0;  // the MPI communicator's handle
};

// Starts communication with the other processes, if any, and makes the
// program's ranks theirs. On every process but the first, standard output
// and standard error are silenced from here on: the first speaks for all.
void StartRanks(int* argc, char*** argv);

// Agrees on the run's exit status with the other processes and ends
// communication: the status of the first process (in rank order) that
// reports one other than 0, else 0. Every process returns it.
int EndRanks(int status);

// The ranks of the program: those that StartRanks joined, one process alone
// before (and without MPI, always).
Ranks const& ProgramRanks();

// The operations on the program's ranks.
inline int RankIndex() { return ProgramRanks().Index(); }
inline int RankCount() { return ProgramRanks().Count(); }
inline bool Speaks() { return ProgramRanks().Speaks(); }
inline void AddInRankOrder(double* values, size_t count) {
  ProgramRanks().AddInRankOrder(values, count);
}
inline std::vector<double> GatherFromAll(double const* values, size_t count) {
  return ProgramRanks().GatherFromAll(values, count);
}
inline std::vector<double> GatherVaryingFromAll(double const* values, size_t count) {
  return ProgramRanks().GatherVaryingFromAll(values, count);
}
inline std::vector<double> GatherAtFirst(double const* values, size_t count) {
  return ProgramRanks().GatherAtFirst(values, count);
}
inline std::vector<char> GatherTextAtFirst(char const* text, size_t size) {
  return ProgramRanks().GatherTextAtFirst(text, size);
}
inline int AgreeStatus(int status) { return ProgramRanks().AgreeStatus(status); }
inline void BroadcastFromFirst(void* data, size_t size) {
  ProgramRanks().BroadcastFromFirst(data, size);
}
inline void ScatterFromFirst(double const* values, std::vector<size_t> const& offsets,
                             std::vector<double>& part) {
  ProgramRanks().ScatterFromFirst(values, offsets, part);
}

#endif
