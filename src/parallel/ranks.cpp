// The build without MPI: one rank, and nothing to exchange.
#include "parallel/ranks.h"

#include <algorithm>

void StartRanks(int*, char***) {}

int EndRanks(int status) { return status; }

int RankIndex() { return 0; }

int RankCount() { return 1; }

bool Speaks() { return true; }

void AddInRankOrder(double*, size_t) {}

std::vector<double> GatherFromAll(double const* values, size_t count) {
  return std::vector<double>(values, values + count);
}

std::vector<double> GatherVaryingFromAll(double const* values, size_t count) {
  return std::vector<double>(values, values + count);
}

std::vector<double> GatherAtFirst(double const* values, size_t count) {
  return std::vector<double>(values, values + count);
}

std::vector<char> GatherTextAtFirst(char const* text, size_t size) {
  return std::vector<char>(text, text + size);
}

int AgreeStatus(int status) { return status; }

void BroadcastFromFirst(void*, size_t) {}

void ScatterFromFirst(double const* values, std::vector<size_t> const& offsets,
                      std::vector<double>& part) {
  part.assign(values + offsets[0], values + offsets[1]);
}
