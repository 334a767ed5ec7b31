#include "training/exp_avx2.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) && !defined(MIXFIT_PORTABLE)
#define MIXFIT_VECTOR_EXP 1
#include <immintrin.h>
#endif

namespace {

#ifdef MIXFIT_VECTOR_EXP

// exp(x) = 2^(k/128) * exp(r) with k = round(x * 128 / ln 2) and |r| <=
// ln 2 / 256; 2^(k/128) = 2^(k >> 7) * 2^(i/128) with i = k mod 128, and
// exp(r) - 1 by a polynomial of degree 5.
double const kInvLn2N = 0x1.71547652b82fep0 * 128;
double const kShift = 0x1.8p52;  // adding it rounds to an integer in the low bits
double const kNegLn2HiN = -0x1.62e42fefa0000p-8;
double const kNegLn2LoN = -0x1.cf79abc9e3b3ap-47;
double const kC2 = 0x1.ffffffffffdbdp-2;
double const kC3 = 0x1.555555555543cp-3;
double const kC4 = 0x1.55555cf172b91p-5;
double const kC5 = 0x1.1111167a4d017p-7;

// For i = 0 ... 127 the bits of tail_i and of scale_i less i << 45, where
// scale_i is 2^(i/128) rounded and 2^(i/128) = scale_i * (1 + tail_i)
// nearly. Printed by tools/exp-table.
alignas(64) uint64_t const kTable[128][2] = {
    {0x0000000000000000, 0x3ff0000000000000}, {0x3c9b3b4f1a88bf6e, 0x3feff63da9fb3335},
    {0xbc7160139cd8dc5d, 0x3fefec9a3e778061}, {0xbc905e7a108766d1, 0x3fefe315e86e7f85},
    {0x3c8cd2523567f613, 0x3fefd9b0d3158574}, {0xbc8bce8023f98efa, 0x3fefd06b29ddf6de},
    {0x3c60f74e61e6c861, 0x3fefc74518759bc8}, {0x3c90a3e45b33d399, 0x3fefbe3ecac6f383},
    {0x3c979aa65d837b6d, 0x3fefb5586cf9890f}, {0x3c8eb51a92fdeffc, 0x3fefac922b7247f7},
    {0x3c3ebe3d702f9cd1, 0x3fefa3ec32d3d1a2}, {0xbc6a033489906e0b, 0x3fef9b66affed31b},
    {0xbc9556522a2fbd0e, 0x3fef9301d0125b51}, {0xbc5080ef8c4eea55, 0x3fef8abdc06c31cc},
    {0xbc91c923b9d5f416, 0x3fef829aaea92de0}, {0x3c80d3e3e95c55af, 0x3fef7a98c8a58e51},
    {0xbc801b15eaa59348, 0x3fef72b83c7d517b}, {0xbc8f1ff055de323d, 0x3fef6af9388c8dea},
    {0x3c8b898c3f1353bf, 0x3fef635beb6fcb75}, {0xbc96d99c7611eb26, 0x3fef5be084045cd4},
    {0x3c9aecf73e3a2f60, 0x3fef54873168b9aa}, {0xbc8fe782cb86389d, 0x3fef4d5022fcd91d},
    {0x3c8a6f4144a6c38d, 0x3fef463b88628cd6}, {0x3c807a05b0e4047d, 0x3fef3f49917ddc96},
    {0x3c968efde3a8a894, 0x3fef387a6e756238}, {0x3c875e18f274487d, 0x3fef31ce4fb2a63f},
    {0x3c80472b981fe7f2, 0x3fef2b4565e27cdd}, {0xbc96b87b3f71085e, 0x3fef24dfe1f56381},
    {0x3c82f7e16d09ab31, 0x3fef1e9df51fdee1}, {0xbc3d219b1a6fbffa, 0x3fef187fd0dad990},
    {0x3c8b3782720c0ab4, 0x3fef1285a6e4030b}, {0x3c6e149289cecb8f, 0x3fef0cafa93e2f56},
    {0x3c834d754db0abb6, 0x3fef06fe0a31b715}, {0x3c864201e2ac744c, 0x3fef0170fc4cd831},
    {0x3c8fdd395dd3f84a, 0x3feefc08b26416ff}, {0xbc86a3803b8e5b04, 0x3feef6c55f929ff1},
    {0xbc924aedcc4b5068, 0x3feef1a7373aa9cb}, {0xbc9907f81b512d8e, 0x3feeecae6d05d866},
    {0xbc71d1e83e9436d2, 0x3feee7db34e59ff7}, {0xbc991919b3ce1b15, 0x3feee32dc313a8e5},
    {0x3c859f48a72a4c6d, 0x3feedea64c123422}, {0xbc9312607a28698a, 0x3feeda4504ac801c},
    {0xbc58a78f4817895b, 0x3feed60a21f72e2a}, {0xbc7c2c9b67499a1b, 0x3feed1f5d950a897},
    {0x3c4363ed60c2ac11, 0x3feece086061892d}, {0x3c9666093b0664ef, 0x3feeca41ed1d0057},
    {0x3c6ecce1daa10379, 0x3feec6a2b5c13cd0}, {0x3c93ff8e3f0f1230, 0x3feec32af0d7d3de},
    {0x3c7690cebb7aafb0, 0x3feebfdad5362a27}, {0x3c931dbdeb54e077, 0x3feebcb299fddd0d},
    {0xbc8f94340071a38e, 0x3feeb9b2769d2ca7}, {0xbc87deccdc93a349, 0x3feeb6daa2cf6642},
    {0xbc78dec6bd0f385f, 0x3feeb42b569d4f82}, {0xbc861246ec7b5cf6, 0x3feeb1a4ca5d920f},
    {0x3c93350518fdd78e, 0x3feeaf4736b527da}, {0x3c7b98b72f8a9b05, 0x3feead12d497c7fd},
    {0x3c9063e1e21c5409, 0x3feeab07dd485429}, {0x3c34c7855019c6ea, 0x3feea9268a5946b7},
    {0x3c9432e62b64c035, 0x3feea76f15ad2148}, {0xbc8ce44a6199769f, 0x3feea5e1b976dc09},
    {0xbc8c33c53bef4da8, 0x3feea47eb03a5585}, {0xbc845378892be9ae, 0x3feea34634ccc320},
    {0xbc93cedd78565858, 0x3feea23882552225}, {0x3c5710aa807e1964, 0x3feea155d44ca973},
    {0xbc93b3efbf5e2228, 0x3feea09e667f3bcd}, {0xbc6a12ad8734b982, 0x3feea012750bdabf},
    {0xbc6367efb86da9ee, 0x3fee9fb23c651a2f}, {0xbc80dc3d54e08851, 0x3fee9f7df9519484},
    {0xbc781f647e5a3ecf, 0x3fee9f75e8ec5f74}, {0xbc86ee4ac08b7db0, 0x3fee9f9a48a58174},
    {0xbc8619321e55e68a, 0x3fee9feb564267c9}, {0x3c909ccb5e09d4d3, 0x3feea0694fde5d3f},
    {0xbc7b32dcb94da51d, 0x3feea11473eb0187}, {0x3c94ecfd5467c06b, 0x3feea1ed0130c132},
    {0x3c65ebe1abd66c55, 0x3feea2f336cf4e62}, {0xbc88a1c52fb3cf42, 0x3feea427543e1a12},
    {0xbc9369b6f13b3734, 0x3feea589994cce13}, {0xbc805e843a19ff1e, 0x3feea71a4623c7ad},
    {0xbc94d450d872576e, 0x3feea8d99b4492ed}, {0x3c90ad675b0e8a00, 0x3feeaac7d98a6699},
    {0x3c8db72fc1f0eab4, 0x3feeace5422aa0db}, {0xbc65b6609cc5e7ff, 0x3feeaf3216b5448c},
    {0x3c7bf68359f35f44, 0x3feeb1ae99157736}, {0xbc93091fa71e3d83, 0x3feeb45b0b91ffc6},
    {0xbc5da9b88b6c1e29, 0x3feeb737b0cdc5e5}, {0xbc6c23f97c90b959, 0x3feeba44cbc8520f},
    {0xbc92434322f4f9aa, 0x3feebd829fde4e50}, {0xbc85ca6cd7668e4b, 0x3feec0f170ca07ba},
    {0x3c71affc2b91ce27, 0x3feec49182a3f090}, {0x3c6dd235e10a73bb, 0x3feec86319e32323},
    {0xbc87c50422622263, 0x3feecc667b5de565}, {0x3c8b1c86e3e231d5, 0x3feed09bec4a2d33},
    {0xbc91bbd1d3bcbb15, 0x3feed503b23e255d}, {0x3c90cc319cee31d2, 0x3feed99e1330b358},
    {0x3c8469846e735ab3, 0x3feede6b5579fdbf}, {0xbc82dfcd978e9db4, 0x3feee36bbfd3f37a},
    {0x3c8c1a7792cb3387, 0x3feee89f995ad3ad}, {0xbc907b8f4ad1d9fa, 0x3feeee07298db666},
    {0xbc55c3d956dcaeba, 0x3feef3a2b84f15fb}, {0xbc90a40e3da6f640, 0x3feef9728de5593a},
    {0xbc68d6f438ad9334, 0x3feeff76f2fb5e47}, {0xbc91eee26b588a35, 0x3fef05b030a1064a},
    {0x3c74ffd70a5fddcd, 0x3fef0c1e904bc1d2}, {0xbc91bdfbfa9298ac, 0x3fef12c25bd71e09},
    {0x3c736eae30af0cb3, 0x3fef199bdd85529c}, {0x3c8ee3325c9ffd94, 0x3fef20ab5fffd07a},
    {0x3c84e08fd10959ac, 0x3fef27f12e57d14b}, {0x3c63cdaf384e1a67, 0x3fef2f6d9406e7b5},
    {0x3c676b2c6c921968, 0x3fef3720dcef9069}, {0xbc808a1883ccb5d2, 0x3fef3f0b555dc3fa},
    {0xbc8fad5d3ffffa6f, 0x3fef472d4a07897c}, {0xbc900dae3875a949, 0x3fef4f87080d89f2},
    {0x3c74a385a63d07a7, 0x3fef5818dcfba487}, {0xbc82919e2040220f, 0x3fef60e316c98398},
    {0x3c8e5a50d5c192ac, 0x3fef69e603db3285}, {0x3c843a59ac016b4b, 0x3fef7321f301b460},
    {0xbc82d52107b43e1f, 0x3fef7c97337b9b5f}, {0xbc892ab93b470dc9, 0x3fef864614f5a129},
    {0x3c74b604603a88d3, 0x3fef902ee78b3ff6}, {0x3c83c5ec519d7271, 0x3fef9a51fbc74c83},
    {0xbc8ff7128fd391f0, 0x3fefa4afa2a490da}, {0xbc8dae98e223747d, 0x3fefaf482d8e67f1},
    {0x3c8ec3bc41aa2008, 0x3fefba1bee615a27}, {0x3c842b94c3a9eb32, 0x3fefc52b376bba97},
    {0x3c8a64a931d185ee, 0x3fefd0765b6e4540}, {0xbc8e37bae43be3ed, 0x3fefdbfdad9cbe14},
    {0x3c77893b4d91cd9d, 0x3fefe7c1819e90d8}, {0x3c5305c14160cc89, 0x3feff3c22b8f71f1},
};

// The library's main path, operation for operation: a difference in a
// single rounding would change the last bit of some results. The result is
// scale + scale * tmp, with scale the bits sbits.
struct Reduced {
  __m256i sbits;
  __m256d tmp;
};

__attribute__((target("avx2,fma"))) inline Reduced ExpReduce(__m256d x) {
  __m256d kd = _mm256_fmadd_pd(x, _mm256_set1_pd(kInvLn2N), _mm256_set1_pd(kShift));
  __m256i const ki = _mm256_castpd_si256(kd);
  kd = _mm256_sub_pd(kd, _mm256_set1_pd(kShift));
  __m256d r = _mm256_fmadd_pd(kd, _mm256_set1_pd(kNegLn2HiN), x);
  r = _mm256_fmadd_pd(kd, _mm256_set1_pd(kNegLn2LoN), r);
  // Entry pairs 2i, 2i + 1 of the table; k << 45 puts k >> 7 in the exponent.
  __m256i const index = _mm256_slli_epi64(_mm256_and_si256(ki, _mm256_set1_epi64x(127)), 1);
  long long const* table = reinterpret_cast<long long const*>(kTable[0]);
  __m256d const tail = _mm256_castsi256_pd(_mm256_i64gather_epi64(table, index, 8));
  __m256i const top = _mm256_slli_epi64(ki, 45);
  __m256i const sbits = _mm256_add_epi64(_mm256_i64gather_epi64(table + 1, index, 8), top);
  __m256d const r2 = _mm256_mul_pd(r, r);
  __m256d const low = _mm256_fmadd_pd(r, _mm256_set1_pd(kC3), _mm256_set1_pd(kC2));
  __m256d const high = _mm256_fmadd_pd(r, _mm256_set1_pd(kC5), _mm256_set1_pd(kC4));
  __m256d tmp = _mm256_fmadd_pd(low, r2, _mm256_add_pd(tail, r));
  tmp = _mm256_fmadd_pd(_mm256_mul_pd(r2, r2), high, tmp);
  return {sbits, tmp};
}

__attribute__((target("avx2,fma"))) inline __m256d ExpMainPath(Reduced const& e) {
  __m256d const scale = _mm256_castsi256_pd(e.sbits);
  return _mm256_fmadd_pd(scale, e.tmp, scale);
}

// The library's path for -1024 < x <= -512, where 2^(k >> 7) may be
// subnormal: the scale is raised by 2^1022 and the result lowered again,
// rounded first to the precision left at its size when below 2^-1022. No
// operation is fused here, as in the library.
//
// Below 2^-1022 the library's result is (hi + lo - 1) * 2^-1022, a multiple
// of 2^-52 scaled exactly: the bits of hi + lo, in [1, 2], less those of 1.0.
// Forming them so keeps every operation away from subnormal numbers, which
// take the processor's slow path. For the same reason only the lanes in low
// get their scale; the others get 1.
__attribute__((target("avx2,fma"))) inline __m256d ExpLowPath(Reduced const& e, __m256d low) {
  __m256d const one = _mm256_set1_pd(1.0);
  __m256i const raised = _mm256_add_epi64(e.sbits, _mm256_set1_epi64x(1022ll << 52));
  __m256d const scale = _mm256_blendv_pd(one, _mm256_castsi256_pd(raised), low);
  __m256d const product = _mm256_mul_pd(scale, e.tmp);
  __m256d const y = _mm256_add_pd(scale, product);
  __m256d const hi = _mm256_add_pd(one, y);
  __m256d lo = _mm256_add_pd(_mm256_sub_pd(scale, y), product);
  lo = _mm256_add_pd(_mm256_add_pd(_mm256_sub_pd(one, hi), y), lo);
  __m256i const subnormal =
      _mm256_sub_epi64(_mm256_castpd_si256(_mm256_add_pd(hi, lo)), _mm256_castpd_si256(one));
  __m256d const small = _mm256_cmp_pd(y, one, _CMP_LT_OQ);
  __m256d const large = _mm256_mul_pd(_mm256_blendv_pd(y, one, small), _mm256_set1_pd(0x1p-1022));
  return _mm256_blendv_pd(large, _mm256_castsi256_pd(subnormal), small);
}

// The same paths eight lanes at a time, for processors with AVX-512: the
// same operations on wider registers give the same bits.
struct Reduced8 {
  __m512i sbits;
  __m512d tmp;
};

// The masked and zeroing forms of the gather and the shifts: GCC 12 warns
// of the undefined register in the plain ones.
__attribute__((target("avx512f"))) inline __m512i Gather(__m512i index, long long const* table) {
  return _mm512_mask_i64gather_epi64(_mm512_setzero_si512(), 0xff, index, table, 8);
}

__attribute__((target("avx512f"))) inline Reduced8 ExpReduce8(__m512d x) {
  __m512d kd = _mm512_fmadd_pd(x, _mm512_set1_pd(kInvLn2N), _mm512_set1_pd(kShift));
  __m512i const ki = _mm512_castpd_si512(kd);
  kd = _mm512_sub_pd(kd, _mm512_set1_pd(kShift));
  __m512d r = _mm512_fmadd_pd(kd, _mm512_set1_pd(kNegLn2HiN), x);
  r = _mm512_fmadd_pd(kd, _mm512_set1_pd(kNegLn2LoN), r);
  __m512i const index =
      _mm512_maskz_slli_epi64(0xff, _mm512_and_si512(ki, _mm512_set1_epi64(127)), 1);
  long long const* table = reinterpret_cast<long long const*>(kTable[0]);
  __m512d const tail = _mm512_castsi512_pd(Gather(index, table));
  __m512i const top = _mm512_maskz_slli_epi64(0xff, ki, 45);
  __m512i const sbits = _mm512_add_epi64(Gather(index, table + 1), top);
  __m512d const r2 = _mm512_mul_pd(r, r);
  __m512d const low = _mm512_fmadd_pd(r, _mm512_set1_pd(kC3), _mm512_set1_pd(kC2));
  __m512d const high = _mm512_fmadd_pd(r, _mm512_set1_pd(kC5), _mm512_set1_pd(kC4));
  __m512d tmp = _mm512_fmadd_pd(low, r2, _mm512_add_pd(tail, r));
  tmp = _mm512_fmadd_pd(_mm512_mul_pd(r2, r2), high, tmp);
  return {sbits, tmp};
}

__attribute__((target("avx512f"))) inline __m512d ExpMainPath8(Reduced8 const& e) {
  __m512d const scale = _mm512_castsi512_pd(e.sbits);
  return _mm512_fmadd_pd(scale, e.tmp, scale);
}

__attribute__((target("avx512f"))) inline __m512d ExpLowPath8(Reduced8 const& e, __mmask8 low) {
  __m512d const one = _mm512_set1_pd(1.0);
  __m512i const raised = _mm512_add_epi64(e.sbits, _mm512_set1_epi64(1022ll << 52));
  __m512d const scale = _mm512_mask_blend_pd(low, one, _mm512_castsi512_pd(raised));
  __m512d const product = _mm512_mul_pd(scale, e.tmp);
  __m512d const y = _mm512_add_pd(scale, product);
  __m512d const hi = _mm512_add_pd(one, y);
  __m512d lo = _mm512_add_pd(_mm512_sub_pd(scale, y), product);
  lo = _mm512_add_pd(_mm512_add_pd(_mm512_sub_pd(one, hi), y), lo);
  __m512i const subnormal =
      _mm512_sub_epi64(_mm512_castpd_si512(_mm512_add_pd(hi, lo)), _mm512_castpd_si512(one));
  __mmask8 const small = _mm512_cmp_pd_mask(y, one, _CMP_LT_OQ);
  __m512d const large =
      _mm512_mul_pd(_mm512_mask_blend_pd(small, y, one), _mm512_set1_pd(0x1p-1022));
  return _mm512_mask_blend_pd(small, large, _mm512_castsi512_pd(subnormal));
}

bool HasAvx2AndFma() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

bool HasAvx512() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f");
}

#endif

// The C library's exp of x, never folded by the compiler (whose own exp may
// round differently).
double LibraryExp(double x) {
  volatile double argument = x;
  return std::exp(argument);
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Edges of the main path and of the table's index, and arguments spread
// over the range the densities use and beyond: another variant of the
// library's exp (one without fused operations, say) differs on some of them.
bool MatchesOnCheckSet() {
  double const edges[] = {0.0,
                          -0.0,
                          0x1p-54,
                          -0x1p-54,
                          0x1.0000000000001p-54,
                          -0x1.0000000000001p-54,
                          0x1.fffffffffffffp-55,
                          0x1p-1074,
                          1.0,
                          -1.0,
                          0x1.62e42fefa39efp-9,
                          -0x1.62e42fefa39efp-9,
                          0x1.62e42fefa39efp-8,
                          0x1.fffffffffffffp8,
                          -0x1.fffffffffffffp8,
                          512.0,
                          -512.0,
                          709.782712893384,
                          710.0,
                          -708.3964185322641,
                          -745.1332191019411,
                          -745.2,
                          -1000.0,
                          HUGE_VAL,
                          -HUGE_VAL,
                          std::nan("")};
  int const count = sizeof edges / sizeof edges[0];
  double x[count + 3 + 2048];
  int n = 0;
  for (double e : edges) x[n++] = e;
  // Random arguments, from a fixed generator: most in the densities' range.
  uint64_t state = 0x9e3779b97f4a7c15u;
  while (n < count + 2048) {
    state = state * 6364136223846793005u + 1442695040888963407u;
    double const u = static_cast<double>(state >> 11) * 0x1p-53;
    x[n] = n % 8 == 0 ? 709.7 * u : -745.2 * u;
    ++n;
  }
  while (n % 4) x[n++] = 1.0;
  double y[sizeof x / sizeof x[0]];
  for (int lanes = 4; lanes <= VectorExpWidestLanes(); lanes *= 2) {
    std::memcpy(y, x, sizeof x);
    VectorExp(y, n, -HUGE_VAL, lanes);
    for (int i = 0; i < n; ++i)
      if (!SameBits(y[i], LibraryExp(x[i]))) return false;
  }
  return true;
}

}  // namespace

bool VectorExpSupported() {
#ifdef MIXFIT_VECTOR_EXP
  return HasAvx2AndFma();
#else
  return false;
#endif
}

bool VectorExpMatchesLibrary() { return VectorExpSupported() && MatchesOnCheckSet(); }

#ifdef MIXFIT_VECTOR_EXP
namespace {

__attribute__((target("avx2,fma"))) void VectorExp4(double* x, int count, double floor) {
  __m256d const tiny = _mm256_set1_pd(0x1p-54), large = _mm256_set1_pd(512.0);
  __m256d const lowest = _mm256_set1_pd(-1024.0), negativeLarge = _mm256_set1_pd(-512.0);
  __m256d const below = _mm256_set1_pd(floor);
  __m256d const magnitude = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7fffffffffffffff));
  for (int n = 0; n < count; n += 4) {
    __m256d const v = _mm256_loadu_pd(x + n);
    __m256d const a = _mm256_and_pd(v, magnitude);
    // The lanes the library's main path takes; NaN compares false.
    __m256d const main =
        _mm256_and_pd(_mm256_cmp_pd(a, tiny, _CMP_GE_OQ), _mm256_cmp_pd(a, large, _CMP_LT_OQ));
    Reduced const e = ExpReduce(v);
    if (_mm256_movemask_pd(main) == 15) {
      _mm256_storeu_pd(x + n, ExpMainPath(e));
      continue;
    }
    // Far from a component the argument is often below -512: the library's
    // path there is vectorised too, and below the floor the result is 0.
    __m256d const low = _mm256_and_pd(_mm256_cmp_pd(v, lowest, _CMP_GT_OQ),
                                      _mm256_cmp_pd(v, negativeLarge, _CMP_LE_OQ));
    __m256d const zero = _mm256_cmp_pd(v, below, _CMP_LT_OQ);
    // The main path's scale only where it applies, as in ExpLowPath.
    __m256d const unit = _mm256_set1_pd(1.0);
    Reduced const m = {
        _mm256_castpd_si256(_mm256_blendv_pd(unit, _mm256_castsi256_pd(e.sbits), main)), e.tmp};
    __m256d y = _mm256_blendv_pd(ExpMainPath(m), ExpLowPath(e, low), low);
    y = _mm256_andnot_pd(zero, y);
    _mm256_storeu_pd(x + n, y);
    int const others = ~_mm256_movemask_pd(_mm256_or_pd(_mm256_or_pd(main, low), zero)) & 15;
    if (others == 0) continue;
    for (int lane = 0; lane < 4; ++lane)
      if (others >> lane & 1) x[n + lane] = std::exp(v[lane]);
  }
}

// VectorExp4 eight lanes at a time; a count that is no multiple of 8 ends
// with four.
__attribute__((target("avx512f"))) void VectorExp8(double* x, int count, double floor) {
  __m512d const tiny = _mm512_set1_pd(0x1p-54), large = _mm512_set1_pd(512.0);
  __m512d const lowest = _mm512_set1_pd(-1024.0), negativeLarge = _mm512_set1_pd(-512.0);
  __m512d const below = _mm512_set1_pd(floor);
  for (int n = 0; n < count; n += 8) {
    __mmask8 const lanes = count - n >= 8 ? 0xff : 0x0f;
    __m512d const v = _mm512_maskz_loadu_pd(lanes, x + n);
    __m512d const a = _mm512_abs_pd(v);
    __mmask8 const main =
        _mm512_cmp_pd_mask(a, tiny, _CMP_GE_OQ) & _mm512_cmp_pd_mask(a, large, _CMP_LT_OQ);
    Reduced8 const e = ExpReduce8(v);
    if ((main & lanes) == lanes) {
      _mm512_mask_storeu_pd(x + n, lanes, ExpMainPath8(e));
      continue;
    }
    __mmask8 const low = _mm512_cmp_pd_mask(v, lowest, _CMP_GT_OQ) &
                         _mm512_cmp_pd_mask(v, negativeLarge, _CMP_LE_OQ);
    __mmask8 const zero = _mm512_cmp_pd_mask(v, below, _CMP_LT_OQ);
    Reduced8 const m = {_mm512_castpd_si512(_mm512_mask_blend_pd(main, _mm512_set1_pd(1.0),
                                                                 _mm512_castsi512_pd(e.sbits))),
                        e.tmp};
    __m512d y = _mm512_mask_blend_pd(low, ExpMainPath8(m), ExpLowPath8(e, low));
    y = _mm512_mask_blend_pd(zero, y, _mm512_setzero_pd());
    _mm512_mask_storeu_pd(x + n, lanes, y);
    unsigned const others = ~(main | low | zero) & lanes;
    if (others == 0) continue;
    for (int lane = 0; lane < 8; ++lane)
      if (others >> lane & 1) x[n + lane] = std::exp(v[lane]);
  }
}

}  // namespace

void VectorExp(double* x, int count, double floor, int lanes) {
  if (lanes == 8)
    VectorExp8(x, count, floor);
  else
    VectorExp4(x, count, floor);
}

int VectorExpWidestLanes() { return HasAvx512() ? 8 : 4; }
#else
void VectorExp(double* x, int count, double floor, int) {
  for (int n = 0; n < count; ++n) x[n] = x[n] < floor ? 0.0 : std::exp(x[n]);
}

int VectorExpWidestLanes() { return 4; }
#endif
