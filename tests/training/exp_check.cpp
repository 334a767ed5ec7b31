// Compares VectorExp with the C library's exp bit for bit at each width the
// processor has: the edges of its paths, then `count` arguments (10^7 unless
// given), most of them in the range the densities use, [-745.2, 0], some in
// (0, 709.8], some in [-1045.2, -745.2] and some of random magnitude from
// 2^-60 to 2^10. Exits with 1 when any result differs, 77 (skipped) when
// the build or the processor lacks the function.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "training/exp_avx2.h"

namespace {

// The edges: either side of ±2^-54 and ±512, where the main path begins and
// ends, of ±1024 and ±1; the underflow and overflow limits, the values that
// are no numbers, and the halfway points of the table's index.
std::vector<double> Edges() {
  std::vector<double> x = {709.782712893384,   709.7827128933841,  -708.3964185322641,
                           -745.1332191019411, -745.1332191019412, -745.2};
  for (double v : {0.0, 0x1p-1074, 1e300, HUGE_VAL, std::nan("")}) x.insert(x.end(), {v, -v});
  for (double e : {0x1p-54, 512.0, 1024.0, 1.0, -0x1p-54, -512.0, -1024.0, -1.0}) {
    double a = e, b = e;
    for (int i = 0; i < 8; ++i, a = std::nextafter(a, 0.0), b = std::nextafter(b, 2 * b))
      x.insert(x.end(), {a, b});
  }
  // x * 128 / ln 2 halfway between two integers, and either side of it.
  for (int k = -95400; k <= 65536; k += 97) {
    double const h = (k + 0.5) * 0x1.62e42fefa39efp-1 / 128;
    x.insert(x.end(), {std::nextafter(h, -HUGE_VAL), h, std::nextafter(h, HUGE_VAL)});
  }
  x.resize((x.size() + 3) / 4 * 4, 1.0);  // whole groups of lanes
  return x;
}

// The i-th random argument: 2 in 16 positive, 1 below the underflow limit,
// 2 of random magnitude and sign, the rest where the densities lie.
double Argument(std::mt19937_64& random, unsigned long long i) {
  unsigned long long const bits = random();
  double const u = static_cast<double>(bits >> 11) * 0x1p-53;
  if (i % 16 < 2) return 709.8 * u;
  if (i % 16 == 2) return -745.2 - 300.0 * u;
  if (i % 16 < 5)
    return std::ldexp(bits & 1024 ? -1.0 - u : 1.0 + u, static_cast<int>(bits % 70) - 60);
  return -745.2 * u;
}

// How many of x VectorExp gives other bits for than exp, plus one if it
// wrote behind them; prints the first.
unsigned long long Compare(std::vector<double> const& x, int lanes) {
  static unsigned long long shown = 0;
  std::vector<double> y = x;
  y.resize(x.size() + 4, 0.0);
  VectorExp(y.data(), static_cast<int>(x.size()), -HUGE_VAL, lanes);
  unsigned long long different = std::count(y.begin() + x.size(), y.end(), 0.0) == 4 ? 0 : 1;
  for (size_t i = 0; i < x.size(); ++i) {
    double const z = std::exp(x[i]);
    if (std::memcmp(&y[i], &z, sizeof z) == 0) continue;
    if (shown++ < 10) std::printf("differs: exp(%a) = %a, VectorExp gives %a\n", x[i], z, y[i]);
    ++different;
  }
  return different;
}

}  // namespace

int main(int argc, char** argv) {
  unsigned long long const count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 10000000;
  if (!VectorExpSupported()) {
    std::printf("VectorExp: not in this build or not on this processor\n");
    return 77;
  }
  bool const matches = VectorExpMatchesLibrary();  // the check where kernels are chosen
  unsigned long long different = 0;
  for (int lanes = VectorExpWidestLanes(); lanes >= 4; lanes /= 2) {  // the widths it has
    std::vector<double> x = Edges();
    unsigned long long const edges = Compare(x, lanes), before = different += edges;
    std::mt19937_64 random(20261206);
    x.resize(4096);
    for (unsigned long long done = 0; done < count; done += x.size()) {
      for (size_t i = 0; i < x.size(); ++i) x[i] = Argument(random, done + i);
      different += Compare(x, lanes);
    }
    std::printf("%d lanes: %llu edges and %llu random arguments different\n", lanes, edges,
                different - before);
  }
  std::printf("startup check: %s\n", matches ? "equal" : "DIFFERENT");
  return different == 0 && matches ? 0 : 1;
}
