#ifndef MIXFIT_TRAINING_STARTS_H
#define MIXFIT_TRAINING_STARTS_H

// The vectors that the modern fit (mixturefit.h) starts from: centres
// seeded by greedy k-means++, and distinct indices drawn at random. Every
// draw comes from the 64-bit generator given, so that a seed fixes them.

#include <cstddef>
#include <random>
#include <vector>

#include "data/data.h"

// Greedy k-means++ on this rank's vectors: the first centre is a vector
// drawn uniformly; each further one is the best of 2 + floor(ln K)
// candidates, each drawn with probability proportional to its squared
// Euclidean distance to the nearest centre so far (u times the total of
// those distances, u = DrawUniform, located in their running sum in data
// order: the first vector whose running sum reaches it, the last one at
// most). The best candidate leaves the least total, the first on ties.
// Returns the K indices in the order chosen; data must hold at least one
// vector.
std::vector<size_t> KMeansPlusPlusSeeds(Data const& data, int K, std::mt19937_64& engine);

// K distinct indices below count (K <= count), each drawn uniformly as
// floor(u * count), u = DrawUniform, a repeat drawn again.
std::vector<size_t> DistinctIndices(size_t count, int K, std::mt19937_64& engine);

// Whether data holds at least K distinct vectors; *distinct receives how
// many it holds, counted up to K.
bool HasDistinctVectors(Data const& data, int K, int* distinct);

#endif
