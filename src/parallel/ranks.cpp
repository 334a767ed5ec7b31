// The build without MPI: one rank, and nothing to exchange.
#include "parallel/ranks.h"

namespace {

constexpr Ranks kOneProcess;

}  // namespace

void StartRanks(int*, char***) {}

int EndRanks(int status) { return status; }

Ranks const& ProgramRanks() { return kOneProcess; }

void Ranks::AddInRankOrder(double*, size_t) const {}

RankShare Ranks::ShareOf(size_t count) const { return RankShare{0, count}; }

std::vector<double> Ranks::GatherFromAll(double const* values, size_t count) const {
  return std::vector<double>(values, values + count);
}

std::vector<double> Ranks::GatherVaryingFromAll(double const* values, size_t count) const {
  return std::vector<double>(values, values + count);
}

std::vector<double> Ranks::GatherAtFirst(double const* values, size_t count) const {
  return std::vector<double>(values, values + count);
}

std::vector<char> Ranks::GatherTextAtFirst(char const* text, size_t size) const {
  return std::vector<char>(text, text + size);
}

int Ranks::AgreeStatus(int status) const { return status; }

void Ranks::BroadcastFromFirst(void*, size_t) const {}

void Ranks::ScatterFromFirst(double const* values, std::vector<size_t> const& offsets,
                             std::vector<double>& part) const {
  part.assign(values + offsets[0], values + offsets[1]);
}
