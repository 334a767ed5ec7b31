#include "training/starts.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "matrix/draws.h"

namespace {

// The squared Euclidean distance of two d-vectors, summed in element order.
double SquaredDistance(double const* x, double const* y, int d) {
  double sum = 0.0;
  for (int j = 0; j < d; ++j) {
    double const e = x[j] - y[j];
    sum += e * e;
  }
  return sum;
}

}  // namespace

std::vector<size_t> KMeansPlusPlusSeeds(Data const& data, int K, std::mt19937_64& engine) {
  size_t const n = data.Count();
  int const d = data.Dimension();
  int const trials = 2 + static_cast<int>(std::log(static_cast<double>(K)));
  std::vector<size_t> seeds;
  seeds.push_back(std::min(n - 1, static_cast<size_t>(DrawUniform(engine) * n)));
  // closest[i]: the squared distance of vector i to its nearest centre;
  // running[i]: the sum of closest[0 ... i] in order.
  std::vector<double> closest(n), candidate(n), best(n), running(n);
  double const* first = data.Vector(seeds[0]);
  double potential = 0.0;
  for (size_t i = 0; i < n; ++i) {
    closest[i] = SquaredDistance(data.Vector(i), first, d);
    potential += closest[i];
  }
  std::vector<size_t> candidates(trials);
  while (static_cast<int>(seeds.size()) < K) {
    double sum = 0.0;
    for (size_t i = 0; i < n; ++i) running[i] = sum += closest[i];
    for (size_t& c : candidates) {
      double const target = DrawUniform(engine) * potential;
      c = std::lower_bound(running.begin(), running.end(), target) - running.begin();
      c = std::min(c, n - 1);
    }
    double bestPotential = 0.0;
    size_t chosen = candidates[0];
    for (int t = 0; t < trials; ++t) {
      double const* centre = data.Vector(candidates[t]);
      double total = 0.0;
      for (size_t i = 0; i < n; ++i) {
        candidate[i] = std::min(closest[i], SquaredDistance(data.Vector(i), centre, d));
        total += candidate[i];
      }
      if (t == 0 || total < bestPotential) {
        bestPotential = total;
        chosen = candidates[t];
        best.swap(candidate);
      }
    }
    closest.swap(best);
    potential = bestPotential;
    seeds.push_back(chosen);
  }
  return seeds;
}

std::vector<size_t> DistinctIndices(size_t count, int K, std::mt19937_64& engine) {
  std::vector<size_t> indices;
  while (static_cast<int>(indices.size()) < K) {
    size_t const index = std::min(count - 1, static_cast<size_t>(DrawUniform(engine) * count));
    if (std::find(indices.begin(), indices.end(), index) == indices.end()) indices.push_back(index);
  }
  return indices;
}

bool HasDistinctVectors(Data const& data, int K, int* distinct) {
  int const d = data.Dimension();
  std::vector<double const*> found;
  for (size_t i = 0; i < data.Count() && static_cast<int>(found.size()) < K; ++i) {
    double const* x = data.Vector(i);
    bool seen = false;
    for (double const* y : found)
      if (std::equal(x, x + d, y)) seen = true;
    if (!seen) found.push_back(x);
  }
  *distinct = static_cast<int>(found.size());
  return *distinct >= K;
}
