// The block kernels against the scalar distances and sums they stand for,
// on every kernel set this processor has, and whole fits on the portable
// and the AVX2 set giving the same bits and the same model files.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "../data/temp_file.h"
#include "training/blocks.h"
#include "training/em.h"
#include "training/kmeans.h"
#include "training/training_fixtures.h"

using namespace training_test;

namespace {

using training_test::SameBits;
bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Restores the kernel set in use before the test.
class BlockKernelsTest : public testing::Test {
 protected:
  void TearDown() override { SelectKernelSet(initial); }

  // The sets this processor can run.
  static std::vector<KernelSet> Available() {
    std::vector<KernelSet> sets{KERNELS_PORTABLE};
    KernelSet const initial = CurrentKernelSet();
    if (SelectKernelSet(KERNELS_AVX2)) sets.push_back(KERNELS_AVX2);
    SelectKernelSet(initial);
    return sets;
  }

  KernelSet const initial = CurrentKernelSet();
};

// A full block of vectors of dimension d, transposed, and the same vectors
// row by row.
struct Block {
  std::vector<double> rows;
  std::vector<double> columns;

  Block(int d, unsigned seed) : rows(kBlockVectors * d), columns(kBlockVectors * d) {
    std::mt19937_64 generator(seed);
    std::normal_distribution<double> normal(0.0, 3.0);
    for (double& x : rows) x = normal(generator);
    DataSet set(d, rows);
    GatherBlock(set.data, 0, kBlockVectors, columns.data());
  }
};

// A lower factor with awkward magnitudes and garbage above the diagonal,
// which no distance may read.
Matrix LowerFactor(int d, unsigned seed) {
  std::mt19937_64 generator(seed);
  std::uniform_real_distribution<double> uniform(-2.0, 2.0);
  Matrix factor(d, d);
  for (int i = 0; i < d; ++i)
    for (int j = 0; j < d; ++j) factor(i, j) = j > i ? 1e300 : uniform(generator) * (i == j ? 1e3 : 1.0);
  return factor;
}

TEST_F(BlockKernelsTest, PortableSetIsAlwaysThere) {
  EXPECT_TRUE(SelectKernelSet(KERNELS_PORTABLE));
  EXPECT_EQ(KERNELS_PORTABLE, CurrentKernelSet());
}

TEST_F(BlockKernelsTest, GatherTransposesAndZeroesTheUnusedColumns) {
  DataSet set(2, {1, 2, 3, 4, 5, 6});
  std::vector<double> block(2 * kBlockVectors, -1.0);
  GatherBlock(set.data, 1, 2, block.data());
  EXPECT_EQ(3.0, block[0]);
  EXPECT_EQ(5.0, block[1]);
  EXPECT_EQ(0.0, block[2]);
  EXPECT_EQ(4.0, block[kBlockVectors]);
  EXPECT_EQ(6.0, block[kBlockVectors + 1]);
  EXPECT_EQ(0.0, block[2 * kBlockVectors - 1]);
}

TEST_F(BlockKernelsTest, DiagonalDistancesAreThoseOfEachVector) {
  for (KernelSet set : Available()) {
    SelectKernelSet(set);
    for (int d : {1, 3, 8}) {
      Block block(d, 10 + d);
      Matrix mean = Row(std::vector<double>(block.rows.begin() + d, block.rows.begin() + 2 * d));
      Matrix inverse(1, d);
      for (int j = 0; j < d; ++j) inverse.data[j] = 1.0 / (0.3 + j);
      std::vector<double> out(kBlockVectors);
      BlockDiagonalDistances(block.columns.data(), d, mean.data, inverse.data, out.data());
      for (int n = 0; n < kBlockVectors; ++n)
        ASSERT_TRUE(SameBits(MahalanobisDiag2(&block.rows[n * d], mean.data, inverse), out[n]))
            << "set " << set << ", d " << d << ", vector " << n;
    }
  }
}

TEST_F(BlockKernelsTest, CholeskyDistancesAreThoseOfEachVector) {
  for (KernelSet set : Available()) {
    SelectKernelSet(set);
    // Four rows at a time and the rows left over: every d from 1 to 9.
    for (int d = 1; d <= 9; ++d) {
      Block block(d, 20 + d);
      Matrix factor = LowerFactor(d, 30 + d);
      std::vector<double> mean(block.rows.begin(), block.rows.begin() + d);
      std::vector<double> centred(d * kBlockVectors), out(kBlockVectors);
      BlockCholeskyDistances(block.columns.data(), d, mean.data(), factor.data, centred.data(),
                             out.data());
      for (int n = 0; n < kBlockVectors; ++n)
        ASSERT_TRUE(SameBits(MahalanobisChol2(&block.rows[n * d], mean.data(), factor), out[n]))
            << "set " << set << ", d " << d << ", vector " << n;
    }
  }
}

TEST_F(BlockKernelsTest, WeightedDensitiesAreThoseOfEachVector) {
  // Around the underflow of exp (where calls may be skipped), at NaN and
  // infinity, and with the normaliser 0 of an unusable covariance.
  std::vector<double> distances(kBlockVectors);
  for (int n = 0; n < kBlockVectors; ++n) distances[n] = 1380.0 + 2.0 * n;
  distances[0] = 0.0;
  distances[1] = std::nan("");
  distances[2] = HUGE_VAL;
  distances[3] = -2000.0;
  for (KernelSet set : Available()) {
    SelectKernelSet(set);
    for (double normaliser : {0.0, 1e-300, 2.5}) {
      std::vector<double> out(kBlockVectors);
      BlockWeightedDensities(distances.data(), 0.25, normaliser, out.data());
      for (int n = 0; n < kBlockVectors; ++n)
        ASSERT_TRUE(SameBits(0.25 * ProbabilityDensity(distances[n], normaliser), out[n]))
            << "set " << set << ", normaliser " << normaliser << ", distance " << distances[n];
    }
  }
}

TEST_F(BlockKernelsTest, MomentsAddEachVectorsTermInDataOrder) {
  // Terms of very different magnitudes, so that any other order of the
  // additions rounds differently.
  int const components = 8, width = 16, count = 37;
  std::mt19937_64 generator(5);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  std::vector<double> p(components * kBlockVectors), s(count * width), start(components * width);
  for (double& x : p) x = uniform(generator);
  for (int n = 0; n < count; ++n)
    for (int w = 0; w < width; ++w) s[n * width + w] = uniform(generator) * (n % 3 == 0 ? 1e16 : 1.0);
  for (double& x : start) x = uniform(generator) * 1e8;

  std::vector<double> expected = start;
  for (int k = 0; k < components; ++k)
    for (int w = 0; w < width; ++w)
      for (int n = 0; n < count; ++n)
        expected[k * width + w] += p[k * kBlockVectors + n] * s[n * width + w];

  for (KernelSet set : Available()) {
    SelectKernelSet(set);
    std::vector<double> acc = start;
    BlockMoments(acc.data(), components, width, p.data(), s.data(), count);
    for (int i = 0; i < components * width; ++i)
      ASSERT_TRUE(SameBits(expected[i], acc[i])) << "set " << set << ", element " << i;
  }
}

// The model files and bits of a whole fit: Mahalanobis k-means, then EM.
struct Fit {
  MixtureModel model;
  double logLikelihood;
  std::string file;
};

Fit FitWith(KernelSet set, Data const& data, int K, MixtureCovarianceMatrixType type) {
  SelectKernelSet(set);
  Fit fit;
  fit.model = StartingModel(data, K, 0.2, {type});
  MahalanobisKMeans(data, fit.model, true, 3, true);
  fit.model.NormalizeWeights();
  Matrix floor(1, data.Dimension(), 1e-4);
  fit.logLikelihood = ExpectationMaximization(fit.model, data, floor, 6, false);
  TempFile file;
  fit.model.Write(file.path.c_str(), MM_FF_PLAIN);
  fit.file = file.Contents();
  return fit;
}

TEST_F(BlockKernelsTest, PortableAndAvx2FitsGiveTheSameModelFiles) {
  if (!SelectKernelSet(KERNELS_AVX2)) GTEST_SKIP() << "no AVX2 on this processor";
  // 1000 vectors: 15 full blocks and a partial one.
  for (int d : {2, 5, 11}) {
    DataSet set(d, ClusteredValues(1000, d, 4, 40 + d));
    for (MixtureCovarianceMatrixType type : {MM_COV_DIAGONAL, MM_COV_FULL}) {
      Fit portable = FitWith(KERNELS_PORTABLE, set.data, 5, type);
      Fit avx2 = FitWith(KERNELS_AVX2, set.data, 5, type);
      EXPECT_TRUE(SameBits(portable.logLikelihood, avx2.logLikelihood)) << "d " << d;
      EXPECT_TRUE(SameBits(portable.model, avx2.model)) << "d " << d << ", type " << type;
      EXPECT_FALSE(portable.file.empty());
      EXPECT_EQ(portable.file, avx2.file) << "d " << d << ", type " << type;
    }
  }
}

TEST_F(BlockKernelsTest, PortableAndAvx2KMeansAgree) {
  if (!SelectKernelSet(KERNELS_AVX2)) GTEST_SKIP() << "no AVX2 on this processor";
  DataSet set(3, ClusteredValues(700, 3, 6, 77));
  MixtureModel portable = StartingModel(set.data, 6, 1.0, {MM_COV_DIAGONAL});
  MixtureModel avx2 = portable;
  SelectKernelSet(KERNELS_PORTABLE);
  KMeans(set.data, portable, 20, false);
  SelectKernelSet(KERNELS_AVX2);
  KMeans(set.data, avx2, 20, false);
  EXPECT_TRUE(SameBits(portable, avx2));
}

}  // namespace
