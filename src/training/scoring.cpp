#include "training/scoring.h"

#include "training/blocks.h"

void ScoreVectors(Data const& data, MixtureModel const& model, EMWorkspace& workspace,
                  double* logDensities, double* responsibilities) {
  size_t const count = data.Count();
  int const K = model.count > 0 ? model.count : 0;
  int const B = kBlockVectors;
  emPrepareExpectation(workspace, model, data.Dimension());
  for (size_t first = 0; first < count; first += B) {
    int const inBlock = BlockLength(count, first);
    emBlockExpectation(workspace, data, first, inBlock, model);
    double const* logSums = workspace.logSums.data();
    for (int n = 0; n < inBlock; ++n) logDensities[first + n] = logSums[n];
    if (responsibilities == nullptr) continue;
    // The block holds component k's responsibilities in row k; the result
    // holds them vector by vector.
    double const* p = workspace.p.data();
    for (int n = 0; n < inBlock; ++n) {
      double* row = responsibilities + (first + n) * K;
      for (int k = 0; k < K; ++k) row[k] = p[k * B + n];
    }
  }
}

double SumInOrder(double const* values, size_t count) {
  double sum = 0.0;
  for (size_t n = 0; n < count; ++n) sum += values[n];
  return sum;
}

int LargestEntry(double const* values, int count) {
  int largest = 0;
  for (int k = 1; k < count; ++k)
    if (values[k] > values[largest]) largest = k;
  return largest;
}
