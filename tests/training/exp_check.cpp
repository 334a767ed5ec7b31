// Compares VectorExp with the C library's exp bit for bit: the edges of its
// paths once, then `count` arguments (10^7 unless given), most of them in
// the range the densities use, [-745.2, 0], some in (0, 709.8], some in
// [-1045.2, -745.2] and some of random magnitude from 2^-60 to 2^10.
// Prints the counts (the "main path" lanes are those with 2^-54 <= |x| <
// 512, the rest of -1024 < x <= -512 the "low path" ones) and the times;
// exits with 1 when any result differs, 77 (skipped) when the build or the
// processor lacks the function.
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "training/exp_avx2.h"

namespace {

uint64_t Next(uint64_t& state) {
  uint64_t z = state += 0x9e3779b97f4a7c15u;
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
  return z ^ (z >> 31);
}

double Uniform(uint64_t& state) { return static_cast<double>(Next(state) >> 11) * 0x1p-53; }

double Argument(uint64_t& state, uint64_t i) {
  switch (i % 16) {
    case 0:
    case 1:
      return 709.8 * Uniform(state);
    case 2:
      return -745.2 - 300.0 * Uniform(state);
    case 3:
    case 4: {
      uint64_t const bits = Next(state);
      double const m = 1.0 + static_cast<double>(bits >> 12) * 0x1p-52;
      double const x = std::ldexp(m, static_cast<int>(bits % 70) - 60);
      return bits & 2048 ? -x : x;
    }
    default:
      return -745.2 * Uniform(state);
  }
}

// The edges: around 2^-54 and 512, where the main path begins and ends, the
// halfway points of the table's index, the underflow and overflow limits,
// and the values that are no numbers.
std::vector<double> Edges() {
  std::vector<double> x = {0.0,
                           -0.0,
                           0x1p-1074,
                           -0x1p-1074,
                           HUGE_VAL,
                           -HUGE_VAL,
                           std::nan(""),
                           -std::nan(""),
                           709.782712893384,
                           709.7827128933841,
                           -708.3964185322641,
                           -745.1332191019411,
                           -745.1332191019412,
                           -745.2,
                           1e300,
                           -1e300};
  for (double e : {0x1p-54, 512.0, 1024.0, 1.0}) {
    for (double s : {e, -e}) {
      double a = s, b = s;
      for (int i = 0; i < 8; ++i) {
        x.push_back(a);
        x.push_back(b);
        a = std::nextafter(a, 0.0);
        b = std::nextafter(b, 2 * b);
      }
    }
  }
  // x * 128 / ln 2 halfway between two integers, and either side of it.
  for (int k = -95400; k <= 65536; k += 97) {
    double const h = (k + 0.5) * 0x1.62e42fefa39efp-1 / 128;
    x.push_back(std::nextafter(h, -HUGE_VAL));
    x.push_back(h);
    x.push_back(std::nextafter(h, HUGE_VAL));
  }
  while (x.size() % 4) x.push_back(1.0);
  return x;
}

struct Tally {
  uint64_t compared = 0, mainPath = 0, lowPath = 0, different = 0;
  double vectorSeconds = 0, librarySeconds = 0;
};

// Compares one batch; keeps x.
void Compare(std::vector<double> const& x, std::vector<double>& y, std::vector<double>& z,
             Tally& tally) {
  using Clock = std::chrono::steady_clock;
  auto const t0 = Clock::now();
  std::memcpy(y.data(), x.data(), x.size() * sizeof(double));
  VectorExp(y.data(), static_cast<int>(x.size()), -HUGE_VAL);
  auto const t1 = Clock::now();
  for (size_t i = 0; i < x.size(); ++i) z[i] = std::exp(x[i]);
  auto const t2 = Clock::now();
  tally.vectorSeconds += std::chrono::duration<double>(t1 - t0).count();
  tally.librarySeconds += std::chrono::duration<double>(t2 - t1).count();
  for (size_t i = 0; i < x.size(); ++i) {
    double const a = std::fabs(x[i]);
    tally.mainPath += a >= 0x1p-54 && a < 512.0;
    tally.lowPath += x[i] > -1024.0 && x[i] <= -512.0;
    if (std::memcmp(&y[i], &z[i], sizeof(double)) != 0) {
      if (tally.different < 10)
        std::printf("differs: exp(%a) = %a, VectorExp gives %a\n", x[i], z[i], y[i]);
      ++tally.different;
    }
  }
  tally.compared += x.size();
}

// Compares the lanes-wide path on the edges and count random arguments;
// the number of results that differ.
uint64_t CheckWidth(int lanes, uint64_t count) {
  auto const started = std::chrono::steady_clock::now();
  std::vector<double> x = Edges(), y(x.size()), z(x.size());
  Tally edges;
  Compare(x, y, z, edges);
  int const batch = 4096;
  x.resize(batch);
  y.resize(batch);
  z.resize(batch);
  Tally tally;
  uint64_t state = 20261206;
  for (uint64_t done = 0; done < count; done += batch) {
    for (int i = 0; i < batch; ++i) x[i] = Argument(state, done + i);
    Compare(x, y, z, tally);
  }
  double const seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  for (Tally const* t : {&edges, &tally})
    std::printf("%d lanes, %s: %" PRIu64 " compared, %" PRIu64 " on the main path, %" PRIu64
                " on the low path, %" PRIu64 " different\n",
                lanes, t == &edges ? "edges" : "random", t->compared, t->mainPath, t->lowPath,
                t->different);
  std::printf("%d lanes: %.1f s; per argument %.2f ns VectorExp, %.2f ns the C library's exp\n",
              lanes, seconds, 1e9 * tally.vectorSeconds / tally.compared,
              1e9 * tally.librarySeconds / tally.compared);
  return edges.different + tally.different;
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t const count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 10000000;
  if (!VectorExpSupported()) {
    std::printf("VectorExp: not in this build or not on this processor\n");
    return 77;
  }
  std::printf("startup check (%d lanes): %s\n", VectorExpLanes(),
              VectorExpMatchesLibrary() ? "equal" : "DIFFERENT");
  uint64_t different = 0;
  // Both widths the processor has, the wider one first.
  for (int lanes : {8, 4})
    if (SetVectorExpLanes(lanes)) different += CheckWidth(lanes, count);
  return different == 0 && VectorExpMatchesLibrary() ? 0 : 1;
}
