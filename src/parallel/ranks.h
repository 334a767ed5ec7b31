#ifndef MIXFIT_PARALLEL_RANKS_H
#define MIXFIT_PARALLEL_RANKS_H

#include <cstddef>
#include <vector>

// The processes (ranks) of one run that share the data, each holding a part
// of the vectors in file order: rank 0 the first part. Without MPI, and
// under MPI with one process, there is one rank and every operation here
// leaves its values as they are, so that results keep their bits.
//
// Every operation but RankIndex, RankCount and Speaks is collective: all
// ranks call it in the same order with the same sizes.

// Starts communication with the other processes, if any. On every process
// but the first, standard output and standard error are silenced from here
// on: the first speaks for all.
void StartRanks(int* argc, char*** argv);

// Agrees on the run's exit status with the other processes and ends
// communication: the status of the first process (in rank order) that
// reports one other than 0, else 0. Every process returns it.
int EndRanks(int status);

// This process's rank among those sharing the work, and their number.
int RankIndex();
int RankCount();

// Whether this process is the one that prints and writes files: rank 0.
bool Speaks();

// Adds the `count` values of every rank, element by element, in rank order:
// rank 0's values plus rank 1's, plus rank 2's, and so on. Every rank gets
// the same sums, whatever order the library would reduce in.
void AddInRankOrder(double* values, size_t count);

// Every rank's `count` values, rank after rank, on every rank.
std::vector<double> GatherFromAll(double const* values, size_t count);

// Every rank's values, however many each has, rank after rank, on every
// rank.
std::vector<double> GatherVaryingFromAll(double const* values, size_t count);

// Every rank's values, rank after rank, on rank 0; elsewhere empty.
std::vector<double> GatherAtFirst(double const* values, size_t count);

// Every rank's bytes, rank after rank, on rank 0; elsewhere empty.
std::vector<char> GatherTextAtFirst(char const* text, size_t size);

// The status of the first rank that reports one other than 0, else 0: the
// outcome that every rank then acts on.
int AgreeStatus(int status);

// Copies rank 0's `size` bytes at data to every other rank.
void BroadcastFromFirst(void* data, size_t size);

// Hands rank r the values from offsets[r] to offsets[r + 1] of rank 0's
// values (offsets has RankCount() + 1 entries; only rank 0 reads values);
// every rank receives its part into part.
void ScatterFromFirst(double const* values, std::vector<size_t> const& offsets,
                      std::vector<double>& part);

#endif
