// Writes a seeded data set for the comparison: N vectors of dimension d drawn
// from a mixture of 2K normal clusters, every value rounded to four decimals
// so that the text file and the binary file hold the same doubles.
//
//   makedata N d K seed out_prefix
//
// out_prefix.txt  one vector per line, for mixfit
// out_prefix.bin  the same values as raw row-major doubles, for the peers
// out_prefix.start  K distinct vector indices: the peers' starting means

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct SplitMix {
  uint64_t state;
  uint64_t Next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double Uniform() { return (Next() >> 11) * (1.0 / 9007199254740992.0); }
  double Normal() {
    double u = Uniform(), v = Uniform();
    return std::sqrt(-2.0 * std::log(1.0 - u)) * std::cos(6.283185307179586 * v);
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: makedata N d K seed out_prefix\n");
    return 1;
  }
  long N = std::atol(argv[1]);
  int d = std::atoi(argv[2]), K = std::atoi(argv[3]);
  SplitMix random{static_cast<uint64_t>(std::atoll(argv[4]))};
  std::string prefix = argv[5];

  int clusters = 2 * K;
  std::vector<double> centre(clusters * d), scale(clusters * d);
  for (int i = 0; i < clusters * d; ++i) {
    centre[i] = 20.0 * random.Uniform() - 10.0;
    scale[i] = 0.5 + 1.5 * random.Uniform();
  }

  FILE* text = std::fopen((prefix + ".txt").c_str(), "w");
  FILE* binary = std::fopen((prefix + ".bin").c_str(), "wb");
  if (!text || !binary) return 2;
  std::vector<double> row(d);
  for (long n = 0; n < N; ++n) {
    int c = static_cast<int>(random.Next() % clusters);
    for (int j = 0; j < d; ++j) {
      double x = centre[c * d + j] + scale[c * d + j] * random.Normal();
      row[j] = std::nearbyint(x * 1e4) / 1e4;  // the double that "%.4f" reads back
      std::fprintf(text, j + 1 < d ? "%.4f " : "%.4f\n", row[j]);
    }
    std::fwrite(row.data(), sizeof(double), d, binary);
  }
  std::fclose(text);
  std::fclose(binary);

  // K distinct indices, each drawn uniformly.
  FILE* start = std::fopen((prefix + ".start").c_str(), "w");
  std::vector<long> chosen;
  while (static_cast<int>(chosen.size()) < K) {
    long n = static_cast<long>(random.Next() % N);
    bool seen = false;
    for (long c : chosen) seen = seen || c == n;
    if (!seen) chosen.push_back(n);
  }
  for (long c : chosen) std::fprintf(start, "%ld\n", c);
  std::fclose(start);
  return 0;
}
