// The library's own elementary functions and number conversions. The C
// library's versions differ between the two builds (mingw's run on the x87,
// whose precision Direct3D lowers), so these are plain double arithmetic
// that gives the same bits wherever SSE2 rounding is used; results are
// rounded once to float.
#pragma once

#include <emmintrin.h>

#include <cstdint>

namespace pmath {

// e^x. 0 below -104 (under the smallest float), +infinity above 89.
float Exp(float x);
// sin x and cos x together. Angles of 2^30 radians and more, where floats
// are already further apart than many turns, count as 0; NaN and infinities
// give NaN.
void SinCos(float x, float* s, float* c);
// arccos x in [0, pi] for x in [-1, 1]; NaN outside.
float Acos(float x);
// Acos of four values at once, each lane's bits those of Acos (the same
// double operations in the same order, in SSE2 lanes, without branches).
__m128 Acos4(__m128 x);
// The same in one 256-bit register where the machine has AVX2 (64-bit x86
// builds with GCC-compatible compilers), else Acos4: what the particles use.
__m128 AcosLanes(__m128 x);
// AcosLanes of `groups` (1 to 4) groups of four, their chains side by side.
void AcosGroups(const __m128* x, __m128* r, int groups);
// Whether the machine runs the 256-bit forms (AVX2 on 64-bit x86).
bool HasWideLanes();
// Exp of four values, in one 256-bit register where AVX2 is there.
__m128 ExpLanes(__m128 x);
// SinCos of four values, in one 256-bit register where AVX2 is there.
void SinCosLanes(__m128 x, __m128* s, __m128* c);
#if defined(__x86_64__) && defined(__GNUC__)
#define VEK_PMATH_WIDE 1
// The 256-bit form itself, for machines with AVX2 only.
__m128 Acos4Wide(__m128 x);
#endif

// Conversions written with 32-bit signed conversions only, which the 32-bit
// build performs in SSE2 registers (the compiler would take the others
// through the x87).
inline double U32ToDouble(uint32_t u) {
#if defined(__x86_64__) || defined(_M_X64)
  // The 64-bit build converts a 64-bit integer in one SSE2 instruction; the
  // value is exact either way.
  return static_cast<double>(static_cast<int64_t>(u));
#else
  return static_cast<double>(static_cast<int32_t>(u >> 1)) * 2.0 +
         static_cast<double>(static_cast<int32_t>(u & 1u));
#endif
}
inline float U32ToFloat(uint32_t u) { return static_cast<float>(U32ToDouble(u)); }
// Exact below 2^53, one rounding above.
inline double U64ToDouble(uint64_t u) {
  return U32ToDouble(static_cast<uint32_t>(u >> 32)) * 4294967296.0 +
         U32ToDouble(static_cast<uint32_t>(u));
}
// Truncates toward zero; NaN and negatives give 0, values of 2^32 and more
// saturate.
inline uint32_t FloatToU32(float f) {
  if (!(f >= 1.0f)) return 0;
  if (f >= 4294967296.0f) return 0xFFFFFFFFu;
  if (f >= 2147483648.0f)
    return static_cast<uint32_t>(static_cast<int32_t>(f - 2147483648.0f)) + 0x80000000u;
  return static_cast<uint32_t>(static_cast<int32_t>(f));
}

}  // namespace pmath
