// The block kernels against the scalar distances and sums they stand for,
// on every kernel set this processor has, and whole fits on the portable and
// the AVX2 set giving the same models.
#include "training/blocks.h"

#include "support/values.h"
#include "training/em.h"
#include "training/kmeans.h"

namespace {

// Restores the kernel set in use before the test.
class BlockKernelsTest : public testing::Test {
 protected:
  void TearDown() override { SelectKernelSet(initial); }
  KernelSet const initial = CurrentKernelSet();
  // The sets this processor can run.
  std::vector<KernelSet> const sets = SelectKernelSet(KERNELS_AVX2)
                                          ? std::vector<KernelSet>{KERNELS_PORTABLE, KERNELS_AVX2}
                                          : std::vector<KernelSet>{KERNELS_PORTABLE};
};

TEST_F(BlockKernelsTest, KernelsRepeatTheScalarArithmeticBitForBit) {
  std::mt19937_64 generator(7);
  std::normal_distribution<double> normal(0.0, 3.0);
  for (KernelSet set : sets) {
    SelectKernelSet(set);
    // Distances four rows at a time and the rows left over: every d from 1
    // to 9. The factor has awkward magnitudes and garbage above the diagonal.
    for (int d = 1; d <= 9; ++d) {
      std::vector<double> rows(kBlockVectors * d), block(kBlockVectors * d);
      for (double& x : rows) x = normal(generator);
      DataSet vectors(d, rows);
      GatherBlock(vectors.data, 0, kBlockVectors, block.data());
      Matrix factor(d, d);
      for (int i = 0; i < d; ++i)
        for (int j = 0; j < d; ++j) factor(i, j) = j > i ? 1e300 : normal(generator) * (i == j ? 1e3 : 1);
      std::vector<double> centred(d * kBlockVectors), out(kBlockVectors);
      BlockCholeskyDistances(block.data(), d, &rows[d], factor.data, centred.data(), out.data());
      for (int n = 0; n < kBlockVectors; ++n)
        ASSERT_TRUE(SameBits(MahalanobisChol2(&rows[n * d], &rows[d], factor), out[n]))
            << "set " << set << ", d " << d << ", vector " << n;
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
    BlockMoments(acc.data(), components, width, p.data(), s.data(), count);
    for (int i = 0; i < components * width; ++i)
      ASSERT_TRUE(SameBits(expected[i], acc[i])) << "set " << set << ", element " << i;
  }
}

// 1000 vectors: 15 full blocks and a partial one.
TEST_F(BlockKernelsTest, PortableAndAvx2FitsGiveTheSameModels) {
  if (sets.size() < 2) GTEST_SKIP() << "no AVX2 on this processor";
  for (int d : {2, 5, 11}) {
    DataSet set(d, ClusteredValues(1000, d, 4, 40 + d));
    for (MixtureCovarianceMatrixType type : {MM_COV_DIAGONAL, MM_COV_FULL}) {
      MixtureModel models[2];
      double L[2];
      for (int s = 0; s < 2; ++s) {
        SelectKernelSet(sets[s]);
        models[s] = StartingModel(set.data, 5, 0.2, {type});
        MahalanobisKMeans(set.data, models[s], true, 3, true);
        models[s].NormalizeWeights();
        L[s] = ExpectationMaximization(models[s], set.data, Matrix(1, d, 1e-4), 6, false);
      }
      EXPECT_TRUE(SameBits(L[0], L[1])) << "d " << d;
      EXPECT_TRUE(SameBits(models[0], models[1])) << "d " << d << ", type " << type;
    }
  }
}

}  // namespace
