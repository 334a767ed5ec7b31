#include "training/blocks.h"

#include <cfloat>
#include <cmath>
#include <cstring>

#include "training/exp_avx2.h"

// The kernels are written once, on four-lane vectors of doubles, as inline
// bodies; each is compiled into a portable function (two SSE2 halves per
// vector on x86-64, two NEON halves on aarch64, whatever the target has
// elsewhere) and, on x86-64, into an AVX2 one as well. Additions and
// multiplications stay separate operations (no fused multiply-add), so every
// set gives the same bits. The one exception, the AVX2 set's exp, gives the
// C library's bits by construction and is checked against it at startup.

// Helpers that return vectors are always inlined, so no vector ever crosses
// a call and the ABI note about AVX vectors does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace {

typedef double Lanes __attribute__((vector_size(32)));

#define MIXFIT_INLINE inline __attribute__((always_inline))

MIXFIT_INLINE Lanes Load(double const* p) {
  Lanes v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

MIXFIT_INLINE void Store(double* p, Lanes const& v) { std::memcpy(p, &v, sizeof v); }

MIXFIT_INLINE Lanes Splat(double x) { return Lanes{x, x, x, x}; }

int const B = kBlockVectors;

MIXFIT_INLINE void DiagonalDistancesBody(double const* block, int d, double const* mean,
                                         double const* inverse, double* out) {
  // Sixteen vectors at a time: four independent sums per lane group keep
  // the adder busy while each sum runs over j in order.
  for (int c = 0; c < B; c += 16) {
    Lanes s0 = Splat(0.0), s1 = s0, s2 = s0, s3 = s0;
    for (int j = 0; j < d; ++j) {
      double const* row = block + j * B + c;
      Lanes const m = Splat(mean[j]);
      Lanes const a = Splat(inverse[j]);
      Lanes const e0 = Load(row) - m;
      Lanes const e1 = Load(row + 4) - m;
      Lanes const e2 = Load(row + 8) - m;
      Lanes const e3 = Load(row + 12) - m;
      s0 = s0 + e0 * e0 * a;
      s1 = s1 + e1 * e1 * a;
      s2 = s2 + e2 * e2 * a;
      s3 = s3 + e3 * e3 * a;
    }
    Store(out + c, s0);
    Store(out + c + 4, s1);
    Store(out + c + 8, s2);
    Store(out + c + 12, s3);
  }
}

// Adds factor(i, j) * e_j to the partial sums t of rows i0 ... i0 + 3 for
// eight vectors (two lane groups each), j from `from` to `to` - 1, starting
// with row `first` - i0 (the rows below it have no element in these columns).
MIXFIT_INLINE void CholeskyRowsBody(double const* centred, int c, double const* rows, int d,
                                    int from, int to, Lanes (&t)[4][2]) {
  for (int j = from; j < to; ++j) {
    Lanes const e0 = Load(centred + j * B + c);
    Lanes const e1 = Load(centred + j * B + c + 4);
    Lanes const b0 = Splat(rows[j]);
    Lanes const b1 = Splat(rows[d + j]);
    Lanes const b2 = Splat(rows[2 * d + j]);
    Lanes const b3 = Splat(rows[3 * d + j]);
    t[0][0] = t[0][0] + b0 * e0;
    t[0][1] = t[0][1] + b0 * e1;
    t[1][0] = t[1][0] + b1 * e0;
    t[1][1] = t[1][1] + b1 * e1;
    t[2][0] = t[2][0] + b2 * e0;
    t[2][1] = t[2][1] + b2 * e1;
    t[3][0] = t[3][0] + b3 * e0;
    t[3][1] = t[3][1] + b3 * e1;
  }
}

MIXFIT_INLINE void CholeskyDistancesBody(double const* block, int d, double const* mean,
                                         double const* factor, double* centred, double* out) {
  for (int j = 0; j < d; ++j) {
    Lanes const m = Splat(mean[j]);
    for (int c = 0; c < B; c += 4) Store(centred + j * B + c, Load(block + j * B + c) - m);
  }
  for (int c = 0; c < B; c += 8) {
    Lanes s0 = Splat(0.0), s1 = s0;
    int i = 0;
    // Four rows at a time: their sums share the loads of e_j.
    for (; i + 4 <= d; i += 4) {
      double const* rows = factor + i * d;
      Lanes t[4][2];
      for (int r = 0; r < 4; ++r) t[r][0] = t[r][1] = Splat(0.0);
      CholeskyRowsBody(centred, c, rows, d, 0, i + 1, t);
      // The triangle's corner: row i + r ends at column i + r.
      for (int j = i + 1; j < i + 4; ++j) {
        Lanes const e0 = Load(centred + j * B + c);
        Lanes const e1 = Load(centred + j * B + c + 4);
        for (int r = j - i; r < 4; ++r) {
          Lanes const b = Splat(rows[r * d + j]);
          t[r][0] = t[r][0] + b * e0;
          t[r][1] = t[r][1] + b * e1;
        }
      }
      for (int r = 0; r < 4; ++r) {
        s0 = s0 + t[r][0] * t[r][0];
        s1 = s1 + t[r][1] * t[r][1];
      }
    }
    for (; i < d; ++i) {
      double const* row = factor + i * d;
      Lanes t0 = Splat(0.0), t1 = t0;
      for (int j = 0; j <= i; ++j) {
        Lanes const b = Splat(row[j]);
        t0 = t0 + b * Load(centred + j * B + c);
        t1 = t1 + b * Load(centred + j * B + c + 4);
      }
      s0 = s0 + t0 * t0;
      s1 = s1 + t1 * t1;
    }
    Store(out + c, s0);
    Store(out + c + 4, s1);
  }
}

MIXFIT_INLINE void MomentsBody(double* acc, int components, int width, double const* p,
                               double const* s, int count) {
  // A tile of 4 accumulator rows by 8 columns stays in registers while the
  // vectors pass; the columns outside keep the tile of s in the first-level
  // cache for all rows.
  for (int w = 0; w < width; w += 8) {
    for (int k = 0; k < components; k += 4) {
      double* a = acc + k * width + w;
      Lanes a00 = Load(a), a01 = Load(a + 4);
      Lanes a10 = Load(a + width), a11 = Load(a + width + 4);
      Lanes a20 = Load(a + 2 * width), a21 = Load(a + 2 * width + 4);
      Lanes a30 = Load(a + 3 * width), a31 = Load(a + 3 * width + 4);
      for (int n = 0; n < count; ++n) {
        double const* sn = s + n * width + w;
        double const* pn = p + k * B + n;
        Lanes const s0 = Load(sn), s1 = Load(sn + 4);
        Lanes const p0 = Splat(pn[0]), p1 = Splat(pn[B]), p2 = Splat(pn[2 * B]),
                    p3 = Splat(pn[3 * B]);
        a00 = a00 + p0 * s0;
        a01 = a01 + p0 * s1;
        a10 = a10 + p1 * s0;
        a11 = a11 + p1 * s1;
        a20 = a20 + p2 * s0;
        a21 = a21 + p2 * s1;
        a30 = a30 + p3 * s0;
        a31 = a31 + p3 * s1;
      }
      Store(a, a00);
      Store(a + 4, a01);
      Store(a + width, a10);
      Store(a + width + 4, a11);
      Store(a + 2 * width, a20);
      Store(a + 2 * width + 4, a21);
      Store(a + 3 * width, a30);
      Store(a + 3 * width + 4, a31);
    }
  }
}

// Below this the C library's exp(x) is 0: exp(-745.2) is under half the
// smallest subnormal double. Checked once at startup, see UnderflowSkip.
double const kExpUnderflow = -745.2;

// lanes 4 or 8: exp by VectorExp on that many lanes, which gives the C
// library's bits where it is used; 0: the C library's exp itself.
MIXFIT_INLINE void ExpBody(double* e, double floor, int lanes) {
  Lanes lowest = Splat(HUGE_VAL);
  for (int n = 0; n < B; n += 4) {
    Lanes const argument = Load(e + n);
    lowest = argument < lowest ? argument : lowest;
  }
  if (lanes > 0) {
    VectorExp(e, B, floor, lanes);
  } else if (lowest[0] >= floor && lowest[1] >= floor && lowest[2] >= floor && lowest[3] >= floor) {
    // Usually no argument is below the floor: then exp is called without a
    // test per vector.
    for (int n = 0; n < B; ++n) e[n] = std::exp(e[n]);
  } else {
    for (int n = 0; n < B; ++n) e[n] = e[n] < floor ? 0.0 : std::exp(e[n]);
  }
}

MIXFIT_INLINE void WeightedDensitiesBody(double const* distances, double weight, double normaliser,
                                         double floor, int lanes, double* out) {
  double e[B];
  Lanes const half = Splat(-0.5);
  for (int n = 0; n < B; n += 4) Store(e + n, half * Load(distances + n));
  ExpBody(e, floor, lanes);
  Lanes const w = Splat(weight), z = Splat(normaliser), zero = Splat(0.0);
  for (int n = 0; n < B; n += 4) {
    Lanes const q = Load(e + n) / z;
    // q - q is 0 exactly when q is finite.
    Store(out + n, w * (q - q == zero ? q : zero));
  }
}

MIXFIT_INLINE void ColumnSumsBody(double const* p, int components, double* sums) {
  for (int n = 0; n < B; n += 8) {
    Lanes s0 = Splat(0.0), s1 = s0;
    for (int k = 0; k < components; ++k) {
      s0 = s0 + Load(p + k * B + n);
      s1 = s1 + Load(p + k * B + n + 4);
    }
    Store(sums + n, s0);
    Store(sums + n + 4, s1);
  }
}

MIXFIT_INLINE bool WithinBody(double const* values, double low, double high) {
  typedef long long Mask __attribute__((vector_size(32)));
  Lanes const l = Splat(low), h = Splat(high);
  Mask outside = {0, 0, 0, 0};
  for (int n = 0; n < B; n += 4) {
    Lanes const v = Load(values + n);
    outside = outside | (v < l) | (v > h);
  }
  return (outside[0] | outside[1] | outside[2] | outside[3]) == 0;
}

MIXFIT_INLINE void NormaliseBody(double* p, int components, double const* sums,
                                 double const* explained, double share) {
  Lanes const one = Splat(1.0), equal = Splat(share), zero = Splat(0.0);
  for (int n = 0; n < B; n += 4) {
    Lanes const scale = one / Load(sums + n);
    Lanes const mine = Load(explained + n);
    for (int k = 0; k < components; ++k)
      Store(p + k * B + n, mine != zero ? Load(p + k * B + n) * scale : equal);
  }
}

MIXFIT_INLINE void NearestBody(double const* distances, int components, bool firstStands,
                               double* nearest) {
  for (int n = 0; n < B; n += 4) {
    Lanes best = firstStands ? Load(distances + n) : Splat(DBL_MAX), index = Splat(0.0);
    for (int k = firstStands ? 1 : 0; k < components; ++k) {
      Lanes const row = Load(distances + k * B + n), number = Splat(k);
      index = row < best ? number : index;
      best = row < best ? row : best;
    }
    Store(nearest + n, index);
  }
}

#define MIXFIT_KERNEL_SET(suffix, attributes)                                                     \
  attributes void DiagonalDistances##suffix(double const* block, int d, double const* mean,       \
                                            double const* inverse, double* out) {                 \
    DiagonalDistancesBody(block, d, mean, inverse, out);                                          \
  }                                                                                               \
  attributes void CholeskyDistances##suffix(double const* block, int d, double const* mean,       \
                                            double const* factor, double* centred, double* out) { \
    CholeskyDistancesBody(block, d, mean, factor, centred, out);                                  \
  }                                                                                               \
  attributes void Moments##suffix(double* acc, int components, int width, double const* p,        \
                                  double const* s, int count) {                                   \
    MomentsBody(acc, components, width, p, s, count);                                             \
  }                                                                                               \
  attributes void WeightedDensities##suffix(double const* distances, double weight,               \
                                            double normaliser, double floor, int, double* out) {  \
    WeightedDensitiesBody(distances, weight, normaliser, floor, 0, out);                          \
  }                                                                                               \
  attributes void Exp##suffix(double* values, double floor, int) { ExpBody(values, floor, 0); }   \
  attributes void ColumnSums##suffix(double const* p, int components, double* sums) {             \
    ColumnSumsBody(p, components, sums);                                                          \
  }                                                                                               \
  attributes bool Within##suffix(double const* values, double low, double high) {                 \
    return WithinBody(values, low, high);                                                         \
  }                                                                                               \
  attributes void Normalise##suffix(double* p, int components, double const* sums,                \
                                    double const* explained, double share) {                      \
    NormaliseBody(p, components, sums, explained, share);                                         \
  }                                                                                               \
  attributes void Nearest##suffix(double const* distances, int components, bool firstStands,      \
                                  double* nearest) {                                              \
    NearestBody(distances, components, firstStands, nearest);                                     \
  }

// The AVX2 set and its run-time choice exist on x86-64 only, and not in a
// build configured with MIXFIT_PORTABLE.
#if defined(__x86_64__) && !defined(MIXFIT_PORTABLE)
#define MIXFIT_AVX2_KERNELS 1
#endif

MIXFIT_KERNEL_SET(Portable, )
#ifdef MIXFIT_AVX2_KERNELS
MIXFIT_KERNEL_SET(Avx2, __attribute__((target("avx2"))))
// The densities of the AVX2 set where VectorExp gives the C library's bits.
__attribute__((target("avx2"))) void WeightedDensitiesAvx2VectorExp(double const* distances,
                                                                    double weight,
                                                                    double normaliser, double floor,
                                                                    int lanes, double* out) {
  WeightedDensitiesBody(distances, weight, normaliser, floor, lanes, out);
}
__attribute__((target("avx2"))) void ExpAvx2VectorExp(double* values, double floor, int lanes) {
  ExpBody(values, floor, lanes);
}
#endif

// The argument below which exp is not called: kExpUnderflow when the C
// library gives 0 there (as every correctly rounding one does), otherwise
// minus infinity, so that exp is always called.
double UnderflowSkip() {
  volatile double argument = kExpUnderflow;
  return std::exp(argument) == 0.0 ? kExpUnderflow : -HUGE_VAL;
}

#ifdef MIXFIT_AVX2_KERNELS
bool HasAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}
#endif

}  // namespace

bool KernelSetBuilt(KernelSet set) {
#ifdef MIXFIT_AVX2_KERNELS
  if (set == KERNELS_AVX2) return true;
#endif
  return set == KERNELS_PORTABLE;
}

bool MakeKernels(KernelSet set, Kernels* kernels) {
  Kernels k;
  k.set = set;
  k.expFloor = UnderflowSkip();
  k.expLanes = 0;
  if (set == KERNELS_PORTABLE) {
    k.diagonal = DiagonalDistancesPortable;
    k.cholesky = CholeskyDistancesPortable;
    k.moments = MomentsPortable;
    k.densities = WeightedDensitiesPortable;
    k.exp = ExpPortable;
    k.columnSums = ColumnSumsPortable;
    k.within = WithinPortable;
    k.normalise = NormalisePortable;
    k.nearest = NearestPortable;
    *kernels = k;
    return true;
  }
#ifdef MIXFIT_AVX2_KERNELS
  if (set != KERNELS_AVX2 || !HasAvx2()) return false;
  bool const vectorExp = VectorExpMatchesLibrary();
  k.expLanes = vectorExp ? VectorExpWidestLanes() : 0;
  k.diagonal = DiagonalDistancesAvx2;
  k.cholesky = CholeskyDistancesAvx2;
  k.moments = MomentsAvx2;
  k.densities = vectorExp ? WeightedDensitiesAvx2VectorExp : WeightedDensitiesAvx2;
  k.exp = vectorExp ? ExpAvx2VectorExp : ExpAvx2;
  k.columnSums = ColumnSumsAvx2;
  k.within = WithinAvx2;
  k.normalise = NormaliseAvx2;
  k.nearest = NearestAvx2;
  *kernels = k;
  return true;
#else
  return false;
#endif
}

Kernels BestKernels() {
  Kernels kernels;
  if (!MakeKernels(KERNELS_AVX2, &kernels)) MakeKernels(KERNELS_PORTABLE, &kernels);
  return kernels;
}

void GatherBlock(Data const& data, size_t first, int count, double* block) {
  int const d = data.Dimension();
  for (int n = 0; n < count; ++n) {
    double const* x = data.Vector(first + n);
    for (int j = 0; j < d; ++j) block[j * B + n] = x[j];
  }
  for (int j = 0; j < d; ++j)
    for (int n = count; n < B; ++n) block[j * B + n] = 0.0;
}

void BlockDiagonalDistances(Kernels const& kernels, double const* block, int d, double const* mean,
                            double const* inverse, double* out) {
  kernels.diagonal(block, d, mean, inverse, out);
}

void BlockCholeskyDistances(Kernels const& kernels, double const* block, int d, double const* mean,
                            double const* factor, double* centred, double* out) {
  kernels.cholesky(block, d, mean, factor, centred, out);
}

void BlockComponentDistances(Kernels const& kernels, double const* block, int d,
                             MixtureComponent const& c, Matrix const& factor, double* centred,
                             double* out) {
  if (c.type == MM_COV_DIAGONAL)
    kernels.diagonal(block, d, c.mean.data, factor.data, out);
  else
    kernels.cholesky(block, d, c.mean.data, factor.data, centred, out);
}

void BlockMoments(Kernels const& kernels, double* acc, int components, int width, double const* p,
                  double const* s, int count) {
  kernels.moments(acc, components, width, p, s, count);
}

void BlockWeightedDensities(Kernels const& kernels, double const* distances, double weight,
                            double normaliser, double* out) {
  kernels.densities(distances, weight, normaliser, kernels.expFloor, kernels.expLanes, out);
}

void BlockExp(Kernels const& kernels, double* values) {
  kernels.exp(values, kernels.expFloor, kernels.expLanes);
}

void BlockColumnSums(Kernels const& kernels, double const* p, int components, double* sums) {
  kernels.columnSums(p, components, sums);
}

void BlockNearest(Kernels const& kernels, double const* distances, int components, bool firstStands,
                  double* nearest) {
  kernels.nearest(distances, components, firstStands, nearest);
}

bool BlockWithin(Kernels const& kernels, double const* values, double low, double high) {
  return kernels.within(values, low, high);
}

void BlockNormalise(Kernels const& kernels, double* p, int components, double const* sums,
                    double const* explained, double share) {
  kernels.normalise(p, components, sums, explained, share);
}

void CovarianceFromMoments(MixtureComponent& component, double scale) {
  CovarianceFromMoments(component, scale, component.mean.data);
}

void CovarianceFromMoments(MixtureComponent& component, double scale, double const* mean) {
  Matrix& covariance = component.covariance;
  double* c = covariance.data;
  if (component.type == MM_COV_DIAGONAL) {
    covariance.Scale(scale);
    for (int j = 0; j < covariance.columns; ++j) c[j] -= mean[j] * mean[j];
    return;
  }
  int const d = covariance.rows;
  for (int i = 0; i < d; ++i)
    for (int j = 0; j < i; ++j) c[j * d + i] = c[i * d + j];
  covariance.Scale(scale);
  for (int i = 0; i < d; ++i)
    for (int j = 0; j < d; ++j) c[i * d + j] -= mean[i] * mean[j];
}
