// The block kernels against the scalar distances, sums and densities they
// stand for, on every kernel set this processor has: so the sets agree with
// each other; and which sets a build has.
#include "training/blocks.h"

#include <cfloat>

#include "mixture/density.h"
#include "support/values.h"

namespace {

TEST(BlockKernelsTest, KernelsRepeatTheScalarArithmeticBitForBit) {
  std::mt19937_64 generator(7);
  std::normal_distribution<double> normal(0.0, 3.0);
  std::uniform_real_distribution<double> uniform(0.0, 2200.0);
  // Densities over the whole range of exp's argument, down to where it
  // underflows and past it, with a normaliser small enough to overflow some:
  // the library's exp and the AVX2 set's own give the same bits.
  std::vector<double> densities(kBlockVectors),
      wide = {0.0,    1e-300, 0x1p-53, 0x1.0000000000001p-53, 1024.0, 2048.0, 1490.2,
              1490.4, 1416.8, kInf};
  while (wide.size() < 64 * kBlockVectors) wide.push_back(uniform(generator));
  // The sets this processor can run; the AVX2 set also with its vector exp
  // on 4 lanes where it takes 8.
  std::vector<Kernels> sets(1);
  MakeKernels(KERNELS_PORTABLE, &sets[0]);
  Kernels avx2;
  if (MakeKernels(KERNELS_AVX2, &avx2)) sets.push_back(avx2);
  if (avx2.expLanes == 8) sets.push_back(avx2), sets.back().expLanes = 4;
  for (Kernels const& k : sets) {
    SCOPED_TRACE(k.set * 10 + k.expLanes);
    // Distances four rows at a time and the rows left over: every d from 1
    // to 9. The factor has awkward magnitudes and garbage above the diagonal.
    for (int d = 1; d <= 9; ++d) {
      std::vector<double> rows(kBlockVectors * d), block(kBlockVectors * d);
      for (double& x : rows) x = normal(generator);
      DataSet vectors(d, rows);
      GatherBlock(vectors.data, 0, kBlockVectors, block.data());
      Matrix factor(d, d);
      for (int i = 0; i < d; ++i)
        for (int j = 0; j < d; ++j)
          factor(i, j) = j > i ? 1e300 : normal(generator) * (i == j ? 1e3 : 1);
      std::vector<double> centred(d * kBlockVectors), out(kBlockVectors);
      BlockCholeskyDistances(k, block.data(), d, &rows[d], factor.data, centred.data(), out.data());
      for (int n = 0; n < kBlockVectors; ++n)
        ASSERT_TRUE(SameBits(MahalanobisChol2(&rows[n * d], &rows[d], factor), out[n])) << d;
    }
    // Moments add each vector's term in data order: with terms of very
    // different magnitudes any other order rounds differently.
    int const components = 8, width = 16, count = 37;
    std::vector<double> p(components * kBlockVectors), s(count * width), acc(components * width);
    for (double& x : p) x = normal(generator);
    for (int i = 0; i < count * width; ++i) s[i] = normal(generator) * (i / width % 3 ? 1 : 1e16);
    for (double& x : acc) x = normal(generator) * 1e8;
    std::vector<double> expected = acc;
    for (int k = 0; k < components; ++k)
      for (int w = 0; w < width; ++w)
        for (int n = 0; n < count; ++n)
          expected[k * width + w] += p[k * kBlockVectors + n] * s[n * width + w];
    BlockMoments(k, acc.data(), components, width, p.data(), s.data(), count);
    for (int i = 0; i < components * width; ++i) ASSERT_TRUE(SameBits(expected[i], acc[i])) << i;
    // The nearest of five components, as k-means picks it one vector at a
    // time: the lower one on ties, never a NaN.
    std::vector<double> distances(5 * kBlockVectors), nearest(kBlockVectors);
    for (double& x : distances) x = std::floor(std::fabs(normal(generator)));
    distances[3 * kBlockVectors + 1] = kNaN, distances[1] = kNaN;
    for (int c = 0; c < 5; ++c) distances[c * kBlockVectors + 2] = c ? kInf : 1e308 * 10;
    for (bool first : {false, true}) {
      BlockNearest(k, distances.data(), 5, first, nearest.data());
      for (int n = 0; n < kBlockVectors; ++n) {
        int best = 0;
        double least = first ? distances[n] : DBL_MAX;
        for (int c = first ? 1 : 0; c < 5; ++c)
          if (distances[c * kBlockVectors + n] < least)
            least = distances[c * kBlockVectors + n], best = c;
        EXPECT_EQ(nearest[n], best) << n << first;
      }
    }
    for (double normaliser : {2.5, 1e-300})
      for (size_t first = 0; first < wide.size(); first += kBlockVectors) {
        BlockWeightedDensities(k, &wide[first], 0.3, normaliser, densities.data());
        for (int n = 0; n < kBlockVectors; ++n)
          ASSERT_TRUE(SameBits(0.3 * ProbabilityDensity(wide[first + n], normaliser), densities[n]))
              << wide[first + n];
      }
  }
}

// The AVX2 set exists on x86-64 only, unless the build asks for the
// portable set alone, and is the best exactly when the processor has it;
// asking for a set the processor lacks changes nothing.
TEST(BlockKernelsTest, TheAvx2SetExistsOnX86WithoutThePortableOption) {
#if defined(__x86_64__) && !defined(MIXFIT_PORTABLE)
  bool const built = true, avx2 = (__builtin_cpu_init(), __builtin_cpu_supports("avx2"));
#else
  bool const built = false, avx2 = false;
#endif
  Kernels unchanged;
  MakeKernels(KERNELS_PORTABLE, &unchanged);
  EXPECT_EQ(MakeKernels(KERNELS_AVX2, &unchanged), avx2);
  EXPECT_TRUE(KernelSetBuilt(KERNELS_PORTABLE) && KernelSetBuilt(KERNELS_AVX2) == built);
  EXPECT_EQ(BestKernels().set, avx2 ? KERNELS_AVX2 : KERNELS_PORTABLE);
  EXPECT_EQ(unchanged.set, avx2 ? KERNELS_AVX2 : KERNELS_PORTABLE);
}

}  // namespace
