#include "particles/pmath.h"

#include <immintrin.h>

#include <cstring>
#include <limits>

namespace pmath {
namespace {

// Taylor coefficients, formed at compile time by exact-rounded division so
// both compilers fold them to the same doubles.
// Term counts leave the truncation error below 1e-13 of the result over the
// reduced ranges, far inside half a float step.
struct ExpCoefficients {
  double c[12];  // 1 / n!
  constexpr ExpCoefficients() : c{} {
    double f = 1.0;
    c[0] = 1.0;
    for (int n = 1; n < 12; ++n) {
      f *= n;
      c[n] = 1.0 / f;
    }
  }
};
struct SinCosCoefficients {
  double sin[7];  // (-1)^n / (2n + 1)!
  double cos[8];  // (-1)^n / (2n)!
  constexpr SinCosCoefficients() : sin{}, cos{} {
    double f = 1.0;  // k!
    double sign = 1.0;
    cos[0] = 1.0;
    for (int k = 1; k <= 14; ++k) {
      f *= k;
      if (k % 2) {
        sin[k / 2] = sign / f;
      } else {
        sign = -sign;
        cos[k / 2] = sign / f;
      }
    }
    sin[0] = 1.0;
  }
};
struct AsinCoefficients {
  // asin a = sum c[n] a^(2n+1); c[n] = c[n-1] (2n-1)^2 / (2n (2n+1)).
  double c[18];
  constexpr AsinCoefficients() : c{} {
    double term = 1.0;  // (2n)! / (4^n (n!)^2)
    c[0] = 1.0;
    for (int n = 1; n < 18; ++n) {
      term *= (2.0 * n - 1.0) / (2.0 * n);
      c[n] = term / (2.0 * n + 1.0);
    }
  }
};
constexpr ExpCoefficients kExp;
constexpr SinCosCoefficients kSinCos;
constexpr AsinCoefficients kAsin;

constexpr double kInvLn2 = 0x1.71547652b82fep+0;
constexpr double kLn2Hi = 0x1.62e42feep-1;  // 32 bits: k * kLn2Hi is exact
constexpr double kLn2Lo = 0x1.a39ef35793c76p-33;
constexpr double kTwoOverPi = 0x1.45f306dc9c883p-1;
// pi / 2 in parts of at most 23 bits, so k * part is exact for k < 2^30.
constexpr double kPio2Part1 = 0x1.921fb4p+0;
constexpr double kPio2Part2 = 0x1.4442dp-24;
constexpr double kPio2Part3 = 0x1.846988p-48;
constexpr double kPio2Part4 = 0x1.8cc51701b839ap-72;
constexpr double kPi = 0x1.921fb54442d18p+1;
constexpr double kPiOver2 = 0x1.921fb54442d18p+0;

// The nearest integer (ties away from zero) of a value well inside int32.
inline int RoundToInt(double x) { return static_cast<int>(x < 0.0 ? x - 0.5 : x + 0.5); }

inline double Pow2(int k) {  // k within the normal exponents
  const uint64_t bits = static_cast<uint64_t>(k + 1023) << 52;
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

// Square root of v in [0, 1] by Newton steps from an exponent-halving guess.
double Sqrt(double v) {
  if (v <= 0.0) return 0.0;
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  bits = (bits >> 1) + (uint64_t{1023} << 51);
  double y;
  std::memcpy(&y, &bits, sizeof y);
  // The guess is at most 6% off; four steps leave no error a double can hold.
  for (int i = 0; i < 4; ++i) y = 0.5 * (y + v / y);
  return y;
}

// arcsin a for |a| <= 1/2.
double Asin(double a) {
  const double z = a * a;
  double p = kAsin.c[17];
  for (int n = 16; n >= 0; --n) p = p * z + kAsin.c[n];
  return a * p;
}

}  // namespace

float Exp(float x) {
  if (x != x) return x;
  if (x > 89.0f) return std::numeric_limits<float>::infinity();
  if (x < -104.0f) return 0.0f;
  const double xd = x;
  const int k = RoundToInt(xd * kInvLn2);
  const double kd = k;
  const double r = (xd - kd * kLn2Hi) - kd * kLn2Lo;  // |r| <= ln 2 / 2
  double p = kExp.c[11];
  for (int n = 10; n >= 0; --n) p = p * r + kExp.c[n];
  return static_cast<float>(p * Pow2(k));
}

void SinCos(float x, float* s, float* c) {
  const float ax = x < 0.0f ? -x : x;
  if (!(ax < 1073741824.0f)) {
    if (ax != ax || ax > std::numeric_limits<float>::max()) {
      *s = *c = std::numeric_limits<float>::quiet_NaN();
    } else {
      *s = 0.0f;
      *c = 1.0f;
    }
    return;
  }
  const double xd = x;
  const int k = RoundToInt(xd * kTwoOverPi);
  const double kd = k;
  const double r = (((xd - kd * kPio2Part1) - kd * kPio2Part2) - kd * kPio2Part3) -
                   kd * kPio2Part4;  // |r| <= pi / 4 (a little more near ties)
  const double z = r * r;
  double ps = kSinCos.sin[6];
  for (int n = 5; n >= 0; --n) ps = ps * z + kSinCos.sin[n];
  double pc = kSinCos.cos[7];
  for (int n = 6; n >= 0; --n) pc = pc * z + kSinCos.cos[n];
  const double sr = r * ps;
  // The quadrant swaps and negates the two without a branch (the angles a
  // block of particles takes are random, so a switch mispredicts): odd
  // quadrants swap sine and cosine, and the sign bits flip where the
  // quadrant's sine or cosine is negative. Negating before or after the
  // rounding to float gives the same bits.
  const float fs = static_cast<float>(sr), fc = static_cast<float>(pc);
  uint32_t bs, bc;
  std::memcpy(&bs, &fs, 4);
  std::memcpy(&bc, &fc, 4);
  const uint32_t quadrant = static_cast<uint32_t>(k);
  const uint32_t swap = 0u - (quadrant & 1u);
  uint32_t vs = (bs & ~swap) | (bc & swap);
  uint32_t vc = (bc & ~swap) | (bs & swap);
  vs ^= (quadrant & 2u) << 30;
  vc ^= ((quadrant + 1u) & 2u) << 30;
  std::memcpy(s, &vs, 4);
  std::memcpy(c, &vc, 4);
}

float Acos(float x) {
  const double xd = x;
  if (!(xd >= -1.0 && xd <= 1.0)) return std::numeric_limits<float>::quiet_NaN();
  if (xd <= 0.5 && xd >= -0.5) return static_cast<float>(kPiOver2 - Asin(xd));
  // Near +-1 through the half angle, where the series would converge slowly
  // and 1 - x loses nothing.
  if (xd > 0.0) return static_cast<float>(2.0 * Asin(Sqrt((1.0 - xd) * 0.5)));
  return static_cast<float>(kPi - 2.0 * Asin(Sqrt((1.0 + xd) * 0.5)));
}

namespace {

inline __m128d Select(__m128d mask, __m128d yes, __m128d no) {
  return _mm_or_pd(_mm_and_pd(mask, yes), _mm_andnot_pd(mask, no));
}

// Sqrt and Asin above, two lanes at a time.
__m128d Sqrt2(__m128d v) {
  const __m128i bits = _mm_add_epi64(_mm_srli_epi64(_mm_castpd_si128(v), 1),
                                     _mm_set1_epi64x(static_cast<int64_t>(uint64_t{1023} << 51)));
  __m128d y = _mm_castsi128_pd(bits);
  const __m128d half = _mm_set1_pd(0.5);
  for (int i = 0; i < 4; ++i) y = _mm_mul_pd(half, _mm_add_pd(y, _mm_div_pd(v, y)));
  return Select(_mm_cmple_pd(v, _mm_setzero_pd()), _mm_setzero_pd(), y);
}

__m128d Asin2(__m128d a) {
  const __m128d z = _mm_mul_pd(a, a);
  __m128d p = _mm_set1_pd(kAsin.c[17]);
  for (int n = 16; n >= 0; --n) p = _mm_add_pd(_mm_mul_pd(p, z), _mm_set1_pd(kAsin.c[n]));
  return _mm_mul_pd(a, p);
}

// Acos of two lanes (in range; the caller puts NaN elsewhere), as floats
// in the low half.
__m128 Acos2(__m128d x) {
  const __m128d one = _mm_set1_pd(1.0), half = _mm_set1_pd(0.5);
  const __m128d small = _mm_and_pd(_mm_cmple_pd(x, half), _mm_cmpge_pd(x, _mm_set1_pd(-0.5)));
  const __m128d positive = _mm_cmpgt_pd(x, _mm_setzero_pd());
  const __m128d v = _mm_mul_pd(Select(positive, _mm_sub_pd(one, x), _mm_add_pd(one, x)), half);
  const __m128d s = Asin2(Select(small, x, Sqrt2(v)));
  const __m128d twice = _mm_mul_pd(_mm_set1_pd(2.0), s);
  const __m128d r = Select(small, _mm_sub_pd(_mm_set1_pd(kPiOver2), s),
                           Select(positive, twice, _mm_sub_pd(_mm_set1_pd(kPi), twice)));
  return _mm_cvtpd_ps(r);
}

// NaN outside [-1, 1] (and for NaN), as Acos gives.
inline __m128 InRangeOrNan(__m128 x, __m128 r) {
  const __m128 inRange =
      _mm_and_ps(_mm_cmpge_ps(x, _mm_set1_ps(-1.0f)), _mm_cmple_ps(x, _mm_set1_ps(1.0f)));
  const __m128 nan = _mm_set1_ps(std::numeric_limits<float>::quiet_NaN());
  return _mm_or_ps(_mm_and_ps(inRange, r), _mm_andnot_ps(inRange, nan));
}

#ifdef VEK_PMATH_WIDE
// Acos2's operations with the four lanes in one 256-bit register. Without
// fused multiply-adds (the target adds none, and contraction is off), each
// lane's double operations are Acos2's, so the bits are the same.
__attribute__((target("avx2"))) inline __m256d Select4(__m256d mask, __m256d yes, __m256d no) {
  return _mm256_or_pd(_mm256_and_pd(mask, yes), _mm256_andnot_pd(mask, no));
}

// kChains groups of four side by side, so that the series' dependent chain
// of one overlaps the others'.
template <int kChains>
__attribute__((target("avx2"))) inline void AcosIn256(const __m128* in, __m128* out) {
  const __m256d one = _mm256_set1_pd(1.0), half = _mm256_set1_pd(0.5);
  const __m256d zero = _mm256_setzero_pd();
  __m256d x[kChains], small[kChains], positive[kChains], v[kChains], y[kChains], a[kChains],
      z[kChains], p[kChains];
  for (int j = 0; j < kChains; ++j) {
    x[j] = _mm256_cvtps_pd(in[j]);
    small[j] = _mm256_and_pd(_mm256_cmp_pd(x[j], half, _CMP_LE_OS),
                             _mm256_cmp_pd(x[j], _mm256_set1_pd(-0.5), _CMP_GE_OS));
    positive[j] = _mm256_cmp_pd(x[j], zero, _CMP_GT_OS);
    v[j] = _mm256_mul_pd(Select4(positive[j], _mm256_sub_pd(one, x[j]), _mm256_add_pd(one, x[j])),
                         half);
    // Sqrt2
    y[j] = _mm256_castsi256_pd(
        _mm256_add_epi64(_mm256_srli_epi64(_mm256_castpd_si256(v[j]), 1),
                         _mm256_set1_epi64x(static_cast<int64_t>(uint64_t{1023} << 51))));
  }
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < kChains; ++j)
      y[j] = _mm256_mul_pd(half, _mm256_add_pd(y[j], _mm256_div_pd(v[j], y[j])));
  for (int j = 0; j < kChains; ++j) {
    // Asin2
    a[j] = Select4(small[j], x[j], Select4(_mm256_cmp_pd(v[j], zero, _CMP_LE_OS), zero, y[j]));
    z[j] = _mm256_mul_pd(a[j], a[j]);
    p[j] = _mm256_set1_pd(kAsin.c[17]);
  }
  for (int n = 16; n >= 0; --n)
    for (int j = 0; j < kChains; ++j)
      p[j] = _mm256_add_pd(_mm256_mul_pd(p[j], z[j]), _mm256_set1_pd(kAsin.c[n]));
  for (int j = 0; j < kChains; ++j) {
    const __m256d s = _mm256_mul_pd(a[j], p[j]);
    const __m256d twice = _mm256_mul_pd(_mm256_set1_pd(2.0), s);
    const __m256d r =
        Select4(small[j], _mm256_sub_pd(_mm256_set1_pd(kPiOver2), s),
                Select4(positive[j], twice, _mm256_sub_pd(_mm256_set1_pd(kPi), twice)));
    out[j] = _mm256_cvtpd_ps(r);
  }
}

__attribute__((target("avx2"))) __m128 Acos4In256(__m128 x) {
  __m128 r;
  AcosIn256<1>(&x, &r);
  return r;
}

__attribute__((target("avx2"))) void AcosGroupsIn256(const __m128* x, __m128* r, int groups) {
  switch (groups) {
    case 1:
      return AcosIn256<1>(x, r);
    case 2:
      return AcosIn256<2>(x, r);
    case 3:
      return AcosIn256<3>(x, r);
    default:
      return AcosIn256<4>(x, r);
  }
}

// SinCos's operations with four lanes' doubles in one 256-bit register,
// its quadrant swap and signs in 32-bit lanes.
__attribute__((target("avx2"))) void SinCos4In256(__m128 xf, __m128* s, __m128* c) {
  const __m256d x = _mm256_cvtps_pd(xf);
  const __m256d t = _mm256_mul_pd(x, _mm256_set1_pd(kTwoOverPi));
  // RoundToInt: half away from zero, then truncation.
  const __m256d negative = _mm256_cmp_pd(t, _mm256_setzero_pd(), _CMP_LT_OS);
  const __m128i k = _mm256_cvttpd_epi32(Select4(negative, _mm256_sub_pd(t, _mm256_set1_pd(0.5)),
                                                _mm256_add_pd(t, _mm256_set1_pd(0.5))));
  const __m256d kd = _mm256_cvtepi32_pd(k);
  const __m256d r = _mm256_sub_pd(
      _mm256_sub_pd(_mm256_sub_pd(_mm256_sub_pd(x, _mm256_mul_pd(kd, _mm256_set1_pd(kPio2Part1))),
                                  _mm256_mul_pd(kd, _mm256_set1_pd(kPio2Part2))),
                    _mm256_mul_pd(kd, _mm256_set1_pd(kPio2Part3))),
      _mm256_mul_pd(kd, _mm256_set1_pd(kPio2Part4)));
  const __m256d z = _mm256_mul_pd(r, r);
  __m256d ps = _mm256_set1_pd(kSinCos.sin[6]);
  for (int n = 5; n >= 0; --n)
    ps = _mm256_add_pd(_mm256_mul_pd(ps, z), _mm256_set1_pd(kSinCos.sin[n]));
  __m256d pc = _mm256_set1_pd(kSinCos.cos[7]);
  for (int n = 6; n >= 0; --n)
    pc = _mm256_add_pd(_mm256_mul_pd(pc, z), _mm256_set1_pd(kSinCos.cos[n]));
  const __m128i bs = _mm_castps_si128(_mm256_cvtpd_ps(_mm256_mul_pd(r, ps)));
  const __m128i bc = _mm_castps_si128(_mm256_cvtpd_ps(pc));
  const __m128i swap = _mm_sub_epi32(_mm_setzero_si128(), _mm_and_si128(k, _mm_set1_epi32(1)));
  const __m128i two = _mm_set1_epi32(2);
  __m128i vs = _mm_or_si128(_mm_andnot_si128(swap, bs), _mm_and_si128(swap, bc));
  __m128i vc = _mm_or_si128(_mm_andnot_si128(swap, bc), _mm_and_si128(swap, bs));
  vs = _mm_xor_si128(vs, _mm_slli_epi32(_mm_and_si128(k, two), 30));
  vc = _mm_xor_si128(vc,
                     _mm_slli_epi32(_mm_and_si128(_mm_add_epi32(k, _mm_set1_epi32(1)), two), 30));
  // From 2^30 on: NaN for NaN and the infinities, else 0 and 1.
  const __m128 ax = _mm_andnot_ps(_mm_set1_ps(-0.0f), xf);
  const __m128 usual = _mm_cmplt_ps(ax, _mm_set1_ps(1073741824.0f));
  const __m128 finite = _mm_cmple_ps(ax, _mm_set1_ps(std::numeric_limits<float>::max()));
  const __m128 nan = _mm_set1_ps(std::numeric_limits<float>::quiet_NaN());
  const __m128 bigS = _mm_or_ps(_mm_and_ps(finite, _mm_setzero_ps()), _mm_andnot_ps(finite, nan));
  const __m128 bigC = _mm_or_ps(_mm_and_ps(finite, _mm_set1_ps(1.0f)), _mm_andnot_ps(finite, nan));
  *s = _mm_or_ps(_mm_and_ps(usual, _mm_castsi128_ps(vs)), _mm_andnot_ps(usual, bigS));
  *c = _mm_or_ps(_mm_and_ps(usual, _mm_castsi128_ps(vc)), _mm_andnot_ps(usual, bigC));
}

// Exp's operations with four lanes' doubles in one 256-bit register.
__attribute__((target("avx2"))) __m128 Exp4In256(__m128 xf) {
  const __m256d x = _mm256_cvtps_pd(xf);
  const __m256d t = _mm256_mul_pd(x, _mm256_set1_pd(kInvLn2));
  const __m256d negative = _mm256_cmp_pd(t, _mm256_setzero_pd(), _CMP_LT_OS);
  // Out-of-range lanes are replaced below; clamping keeps their k an int.
  const __m256d tc =
      _mm256_min_pd(_mm256_max_pd(t, _mm256_set1_pd(-1024.0)), _mm256_set1_pd(1024.0));
  const __m128i k = _mm256_cvttpd_epi32(Select4(negative, _mm256_sub_pd(tc, _mm256_set1_pd(0.5)),
                                                _mm256_add_pd(tc, _mm256_set1_pd(0.5))));
  const __m256d kd = _mm256_cvtepi32_pd(k);
  const __m256d r = _mm256_sub_pd(_mm256_sub_pd(x, _mm256_mul_pd(kd, _mm256_set1_pd(kLn2Hi))),
                                  _mm256_mul_pd(kd, _mm256_set1_pd(kLn2Lo)));
  __m256d p = _mm256_set1_pd(kExp.c[11]);
  for (int n = 10; n >= 0; --n) p = _mm256_add_pd(_mm256_mul_pd(p, r), _mm256_set1_pd(kExp.c[n]));
  const __m256d pow2 = _mm256_castsi256_pd(
      _mm256_slli_epi64(_mm256_cvtepi32_epi64(_mm_add_epi32(k, _mm_set1_epi32(1023))), 52));
  const __m128 e = _mm256_cvtpd_ps(_mm256_mul_pd(p, pow2));
  // NaN stays itself, above 89 infinity, below -104 zero.
  const __m128 high = _mm_cmpgt_ps(xf, _mm_set1_ps(89.0f));
  const __m128 low = _mm_cmplt_ps(xf, _mm_set1_ps(-104.0f));
  const __m128 number = _mm_cmpord_ps(xf, xf);
  __m128 out = _mm_or_ps(_mm_and_ps(high, _mm_set1_ps(std::numeric_limits<float>::infinity())),
                         _mm_andnot_ps(high, e));
  out = _mm_andnot_ps(low, out);
  return _mm_or_ps(_mm_and_ps(number, out), _mm_andnot_ps(number, xf));
}

// Initialised with the library's other statics: the detection is set up first.
const bool kHasAvx2 = (__builtin_cpu_init(), __builtin_cpu_supports("avx2"));
#endif

}  // namespace

__m128 Acos4(__m128 x) {
  return InRangeOrNan(
      x, _mm_movelh_ps(Acos2(_mm_cvtps_pd(x)), Acos2(_mm_cvtps_pd(_mm_movehl_ps(x, x)))));
}

#ifdef VEK_PMATH_WIDE
__m128 Acos4Wide(__m128 x) { return InRangeOrNan(x, Acos4In256(x)); }
#endif

bool HasWideLanes() {
#ifdef VEK_PMATH_WIDE
  return kHasAvx2;
#else
  return false;
#endif
}

__m128 ExpLanes(__m128 x) {
#ifdef VEK_PMATH_WIDE
  if (kHasAvx2) return Exp4In256(x);
#endif
  alignas(16) float v[4];
  _mm_store_ps(v, x);
  for (float& f : v) f = Exp(f);
  return _mm_load_ps(v);
}

void SinCosLanes(__m128 x, __m128* s, __m128* c) {
#ifdef VEK_PMATH_WIDE
  if (kHasAvx2) return SinCos4In256(x, s, c);
#endif
  // Two doubles a register measured no faster than the scalar function.
  alignas(16) float in[4], outS[4], outC[4];
  _mm_store_ps(in, x);
  for (int j = 0; j < 4; ++j) SinCos(in[j], &outS[j], &outC[j]);
  *s = _mm_load_ps(outS);
  *c = _mm_load_ps(outC);
}

void AcosGroups(const __m128* x, __m128* r, int groups) {
#ifdef VEK_PMATH_WIDE
  if (kHasAvx2 && groups > 0) {
    AcosGroupsIn256(x, r, groups);
    for (int g = 0; g < groups; ++g) r[g] = InRangeOrNan(x[g], r[g]);
    return;
  }
#endif
  for (int g = 0; g < groups; ++g) r[g] = Acos4(x[g]);
}

__m128 AcosLanes(__m128 x) {
#ifdef VEK_PMATH_WIDE
  if (kHasAvx2) return Acos4Wide(x);
#endif
  return Acos4(x);
}

}  // namespace pmath
