#include "particles/lanes.h"

#include <emmintrin.h>

#include <cstdint>
#include <cstring>

#include "particles/pmath.h"

namespace {

constexpr UINT kMask = 123459876;
constexpr int kModulus = 2147483647;
constexpr int kMultiplier = 16807;

// One generator step of four states. States whose masked value has the top
// bit set take the scalar step (its other method differs for them); they
// only occur for seeds that wrapped, so the lanes rarely leave.
// Inlined into the draw loops: as calls they reload their constants.
#define LANES_INLINE inline __attribute__((always_inline))

LANES_INLINE __m128i StepLanes(UINT* states) {
  const __m128i masked = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(states)),
                                       _mm_set1_epi32(kMask));
  if (_mm_movemask_ps(_mm_castsi128_ps(masked))) {
    for (int j = 0; j < 4; ++j) RandomStep(&states[j]);
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(states));
  }
  // 16807 s is below 2^46; with 2^31 = 1 modulo 2^31 - 1 the remainder is
  // its low 31 bits plus the rest, less one modulus at most.
  const __m128i m = _mm_set1_epi32(kMultiplier);
  const __m128i even = _mm_mul_epu32(masked, m);
  const __m128i odd = _mm_mul_epu32(_mm_srli_epi64(masked, 32), m);
  const __m128i low31 = _mm_set1_epi64x(0x7FFFFFFF);
  const __m128i foldEven = _mm_add_epi64(_mm_and_si128(even, low31), _mm_srli_epi64(even, 31));
  const __m128i foldOdd = _mm_add_epi64(_mm_and_si128(odd, low31), _mm_srli_epi64(odd, 31));
  // Both sums fit 32 bits: put the odd lanes back beside the even ones.
  const __m128i r = _mm_or_si128(foldEven, _mm_slli_epi64(foldOdd, 32));
  // r - modulus is negative (as signed) exactly when r is below it.
  const __m128i less = _mm_sub_epi32(r, _mm_set1_epi32(kModulus));
  const __m128i below = _mm_cmplt_epi32(less, _mm_setzero_si128());
  const __m128i next = _mm_or_si128(_mm_and_si128(below, r), _mm_andnot_si128(below, less));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(states), next);
  return next;
}

// s % span for s below 2^31 by a multiply and a shift (division by an
// invariant integer): with 2^(l-1) < span <= 2^l and magic =
// floor(2^(31+l) / span) + 1, which fits 32 bits, magic * span lies in
// (2^(31+l), 2^(31+l) + 2^l], so floor(s / span) = (magic * s) >> (31 + l)
// for every s below 2^31. The quotient times the span is at most s, so its
// low 32 bits are exact.
struct LaneDivisor {
  __m128i magic, span;  // in the low half of each 64-bit lane
  __m128i shift;        // 31 + l, as a shift count
};

// The multiplier and shift count for a span of at least 2.
void DivisorParts(UINT span, UINT* magic, UINT* shift) {
  UINT l = 1;
  while (l < 32 && (uint64_t{1} << l) < span) ++l;
  *magic = static_cast<UINT>((uint64_t{1} << (31 + l)) / span + 1);
  *shift = 31 + l;
}

LaneDivisor DivisorOf(UINT magic, UINT span, UINT shift) {
  return {_mm_set1_epi64x(magic), _mm_set1_epi64x(span),
          _mm_cvtsi32_si128(static_cast<int>(shift))};
}

LaneDivisor DivisorOf(UINT span) {
  UINT magic, shift;
  DivisorParts(span, &magic, &shift);
  return DivisorOf(magic, span, shift);
}

LANES_INLINE __m128i Remainder4(__m128i s, const LaneDivisor& d) {
  const __m128i qEven = _mm_srl_epi64(_mm_mul_epu32(s, d.magic), d.shift);
  const __m128i qOdd = _mm_srl_epi64(_mm_mul_epu32(_mm_srli_epi64(s, 32), d.magic), d.shift);
  const __m128i product =
      _mm_or_si128(_mm_mul_epu32(qEven, d.span), _mm_slli_epi64(_mm_mul_epu32(qOdd, d.span), 32));
  return _mm_sub_epi32(s, product);
}

}  // namespace

void PrepareLaneRange(UintRange* range) {
  const UINT span = range->hi - range->lo + 1u;
  DivisorParts(span > 1 ? span : 2u, &range->laneMagic, &range->laneShift);
}

void RemainderLanes(const UINT* s, UINT span, UINT* out) {
  const __m128i r =
      Remainder4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s)), DivisorOf(span));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), r);
}

namespace {

// The four lanes' values to their places, each taken out of the register on
// its own so the four stores do not wait on one another's shifts.
LANES_INLINE void Scatter(__m128i v, void* out, size_t stride, UINT k) {
  BYTE* at = static_cast<BYTE*>(out) + k * stride;
  const int v0 = _mm_cvtsi128_si32(v);
  const int v1 = _mm_cvtsi128_si32(_mm_shuffle_epi32(v, 1));
  const int v2 = _mm_cvtsi128_si32(_mm_shuffle_epi32(v, 2));
  const int v3 = _mm_cvtsi128_si32(_mm_shuffle_epi32(v, 3));
  std::memcpy(at, &v0, 4);
  std::memcpy(at + stride, &v1, 4);
  std::memcpy(at + 2 * stride, &v2, 4);
  std::memcpy(at + 3 * stride, &v3, 4);
}

}  // namespace

void RandomUintLanes(UINT* states, UINT count, const UintRange& range, void* out, size_t stride) {
  if (range.lo == range.hi) {
    for (UINT k = 0; k < count; k += 4)
      Scatter(_mm_set1_epi32(static_cast<int>(range.lo)), out, stride, k);
    return;
  }
  const UINT span = range.hi - range.lo + 1u;
  const __m128i lo = _mm_set1_epi32(static_cast<int>(range.lo));
  const LaneDivisor divisor = range.laneShift ? DivisorOf(range.laneMagic, span, range.laneShift)
                                              : DivisorOf(span ? span : 2u);
  for (UINT k = 0; k < count; k += 4) {
    const __m128i s = StepLanes(states + k);
    // A span of 0 is the whole 32-bit range: the step is taken as it is.
    const __m128i r = span ? Remainder4(s, divisor) : s;
    if (stride == sizeof(UINT)) {  // an array of its own: one store
      _mm_storeu_si128(reinterpret_cast<__m128i*>(static_cast<UINT*>(out) + k),
                       _mm_add_epi32(lo, r));
    } else {
      Scatter(_mm_add_epi32(lo, r), out, stride, k);
    }
  }
}

void RandomFloatLanes(UINT* states, UINT count, FloatRange range, void* out, size_t stride) {
  if (range.lo == range.hi) {
    for (UINT k = 0; k < count; k += 4)
      Scatter(_mm_castps_si128(_mm_set1_ps(range.lo)), out, stride, k);
    return;
  }
  // The scalar generator's operations in the same order, two lanes a register.
  const double loD = range.lo;
  const __m128d lo = _mm_set1_pd(loD);
  const __m128d width = _mm_set1_pd(static_cast<double>(range.hi) - loD);
  const __m128d scale = _mm_set1_pd(0x1p-31);
  for (UINT k = 0; k < count; k += 4) {
    const __m128i s = StepLanes(states + k);
    const __m128d a = _mm_add_pd(lo, _mm_mul_pd(width, _mm_mul_pd(_mm_cvtepi32_pd(s), scale)));
    const __m128d b =
        _mm_add_pd(lo, _mm_mul_pd(width, _mm_mul_pd(_mm_cvtepi32_pd(_mm_srli_si128(s, 8)), scale)));
    const __m128 v = _mm_movelh_ps(_mm_cvtpd_ps(a), _mm_cvtpd_ps(b));
    if (stride == sizeof(float)) {  // an array of its own: one store
      _mm_storeu_ps(static_cast<float*>(out) + k, v);
    } else {
      Scatter(_mm_castps_si128(v), out, stride, k);
    }
  }
}
