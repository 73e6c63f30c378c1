// The particle generators four states at a time in SSE2 lanes (both builds
// have SSE2). Each lane gives exactly what RandomUint and RandomFloat give
// its state alone, so a block of particles can take one draw together.
#pragma once

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>

#include "particles/particles.h"

// Draws one value from each of `count` states (a multiple of four; states
// past the caller's are stepped too and their values ignored), stepping
// them in place unless the range is a single value. Value k is stored at
// out + k * stride bytes, so it can land in a field of an array of records.
void RandomUintLanes(UINT* states, UINT count, const UintRange& range, void* out, size_t stride);
void RandomFloatLanes(UINT* states, UINT count, FloatRange range, void* out, size_t stride);

// Sets the range's lane multiplier and shift, so the draws of a call do not
// derive them again for every block.
void PrepareLaneRange(UintRange* range);

// s % span for s below 2^31 and span of at least 2, four at a time: what
// the 32-bit build divides for and the 64-bit build multiplies for.
void RemainderLanes(const UINT* s, UINT span, UINT* out);

// U32ToFloat of four values (exact through double, one rounding to float).
inline __m128 U32ToFloat4(__m128i u) {
  // u = 2 (u >> 1) + (u & 1), both halves exact as signed 32-bit values and
  // the sum exact in double: the one rounding is to float.
  const __m128i half = _mm_srli_epi32(u, 1), odd = _mm_and_si128(u, _mm_set1_epi32(1));
  const __m128d two = _mm_set1_pd(2.0);
  const __m128d lo = _mm_add_pd(_mm_mul_pd(_mm_cvtepi32_pd(half), two), _mm_cvtepi32_pd(odd));
  const __m128d hi = _mm_add_pd(_mm_mul_pd(_mm_cvtepi32_pd(_mm_srli_si128(half, 8)), two),
                                _mm_cvtepi32_pd(_mm_srli_si128(odd, 8)));
  return _mm_movelh_ps(_mm_cvtpd_ps(lo), _mm_cvtpd_ps(hi));
}

// InterpolateUint of four (a, b) pairs at four fractions, each lane's bits
// those of the scalar function. Inline: the look takes six a step.
inline __m128i InterpolateUint4(__m128i a, __m128i b, __m128 f) {
  const __m128 one = _mm_set1_ps(1.0f);
  // Below 2^31 the signed conversion rounds the same exact value once.
  const bool small = _mm_movemask_ps(_mm_castsi128_ps(_mm_or_si128(a, b))) == 0;
  const __m128 fa = small ? _mm_cvtepi32_ps(a) : U32ToFloat4(a);
  const __m128 fb = small ? _mm_cvtepi32_ps(b) : U32ToFloat4(b);
  const __m128 v = _mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_sub_ps(one, f), fa), _mm_set1_ps(0.5f)),
                              _mm_mul_ps(f, fb));
  // pmath::FloatToU32: 0 below 1 (and for NaN), saturated from 2^32, values
  // from 2^31 truncated less 2^31 and the bit put back.
  const __m128 two31 = _mm_set1_ps(2147483648.0f);
  const __m128 high = _mm_cmpge_ps(v, two31);
  const __m128 reduced = _mm_or_ps(_mm_and_ps(high, _mm_sub_ps(v, two31)), _mm_andnot_ps(high, v));
  __m128i r = _mm_add_epi32(_mm_cvttps_epi32(reduced),
                            _mm_and_si128(_mm_castps_si128(high), _mm_set1_epi32(INT32_MIN)));
  r = _mm_or_si128(r, _mm_castps_si128(_mm_cmpge_ps(v, _mm_set1_ps(4294967296.0f))));
  r = _mm_andnot_si128(_mm_castps_si128(_mm_cmpnge_ps(v, one)), r);
  // Equal ends give the end itself, whatever f is.
  const __m128i same = _mm_cmpeq_epi32(a, b);
  return _mm_or_si128(_mm_and_si128(same, a), _mm_andnot_si128(same, r));
}
