#include "particles/particles.h"

#include <immintrin.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <utility>

#include "graphics/primitives.h"
#include "particles/lanes.h"
#include "particles/pmath.h"
#include "vekimage/image.h"

namespace {

constexpr UINT kMask = 123459876;  // 0x75BD924
constexpr int32_t kModulus = 2147483647;
constexpr int32_t kMultiplier = 16807;
constexpr int32_t kQuotient = 127773;  // kModulus / kMultiplier
constexpr int32_t kRemainder = 2836;   // kModulus % kMultiplier
constexpr float kZero = 0.0001f;
constexpr float kDegToRad = 0.01745329f;
constexpr float kTwoPi = 6.2831855f;
constexpr float kHalfPi = 1.5707964f;
constexpr float kThreeHalfPi = 4.712389f;
constexpr UINT kEmitAlpha = 20;
constexpr int kSampleTries = 10;
constexpr size_t kPathPointBytes = 12;
constexpr size_t kFrameBytes = 16;

inline bool IsZero(float v) { return v < kZero && v > -kZero; }

inline bool IsFinite(float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, 4);
  return (bits & 0x7F800000u) != 0x7F800000u;
}

inline float ReadFloat(const void* base, size_t offset) {
  float v;
  std::memcpy(&v, static_cast<const BYTE*>(base) + offset, 4);
  return v;
}

inline int64_t ReadTime(const void* base, UINT k) {
  int64_t v;
  std::memcpy(&v, static_cast<const BYTE*>(base) + size_t{k} * 8, 8);
  return v;
}

// (x, y) turned by g: positive angles turn +x towards +y.
inline void Rotate(float* x, float* y, float sinG, float cosG) {
  const float rx = *x * cosG - *y * sinG;
  const float ry = *y * cosG + *x * sinG;
  *x = rx;
  *y = ry;
}

// A clamped region of the stored picture: [x0, x0 + dx) x [y0, y0 + dy),
// never empty and never outside it.
struct Span {
  UINT start, length;
};
Span RegionSpan(UINT size, float lo, float hi) {
  // Fractions outside 0..1 (and NaN) are brought onto the picture and
  // reversed bounds ordered, so no sample can leave it.
  if (!(lo >= 0.0f)) lo = 0.0f;
  if (!(hi >= 0.0f)) hi = 0.0f;
  if (lo > 1.0f) lo = 1.0f;
  if (hi > 1.0f) hi = 1.0f;
  if (hi < lo) {
    const float t = lo;
    lo = hi;
    hi = t;
  }
  const float fsize = pmath::U32ToFloat(size);
  UINT a = pmath::FloatToU32(fsize * lo);
  UINT b = pmath::FloatToU32(fsize * hi);
  if (b > size) b = size;
  if (a > b) a = b;
  UINT length = b - a;
  if (length == 0) length = 1;
  // An empty region at the right or bottom edge takes the last pixel.
  if (a > size - length) a = size - length;
  return {a, length};
}

// The fraction bounds the offset stretches over the emission area: ordered
// and within 0..1, as the sampling used them.
void OrderedFractions(float* lo, float* hi) {
  if (!(*lo >= 0.0f)) *lo = 0.0f;
  if (!(*hi >= 0.0f)) *hi = 0.0f;
  if (*lo > 1.0f) *lo = 1.0f;
  if (*hi > 1.0f) *hi = 1.0f;
  if (*hi < *lo) {
    const float t = *lo;
    *lo = *hi;
    *hi = t;
  }
}

// One offset coordinate from a fraction of the picture; the middle of the
// area when the region has no extent on that axis.
float RegionOffset(float fraction, float lo, float hi, UINT areaSize) {
  OrderedFractions(&lo, &hi);
  const float span = hi - lo;
  if (span == 0.0f) return 0.0f;
  return ((fraction - lo) / span - 0.5f) * pmath::U32ToFloat(areaSize);
}

inline UINT Channel(UINT a, UINT b, float f) {
  const UINT v = InterpolateUint(a, b, f);
  return v > 255 ? 255 : v;  // never spill into the next channel
}

// The appearance draws, in the order each particle takes them from its
// second seed.
struct FloatDraw {
  float Particle::*field;
  FloatRange ParSysParams::*range;
};
constexpr FloatDraw kFloatDraws[] = {
    {&Particle::speed, &ParSysParams::speed},
    {&Particle::direction, &ParSysParams::direction},
    {&Particle::rotation, &ParSysParams::rotation},
    {&Particle::spinStart, &ParSysParams::spinStart},
    {&Particle::spinEnd, &ParSysParams::spinEnd},
};
struct UintDraw {
  UINT Particle::*field;
  UintRange ParSysParams::*range;
};
constexpr UintDraw kUintDraws[] = {
    {&Particle::widthStart, &ParSysParams::widthStart},
    {&Particle::widthEnd, &ParSysParams::widthEnd},
    {&Particle::heightStart, &ParSysParams::heightStart},
    {&Particle::heightEnd, &ParSysParams::heightEnd},
    {&Particle::alphaStart, &ParSysParams::alphaStart},
    {&Particle::alphaEnd, &ParSysParams::alphaEnd},
    {&Particle::redStart, &ParSysParams::redStart},
    {&Particle::redEnd, &ParSysParams::redEnd},
    {&Particle::greenStart, &ParSysParams::greenStart},
    {&Particle::greenEnd, &ParSysParams::greenEnd},
    {&Particle::blueStart, &ParSysParams::blueStart},
    {&Particle::blueEnd, &ParSysParams::blueEnd},
};
// Where each pair of ends (start, then end) lies among those draws.
constexpr size_t kWidthEnds = 0, kHeightEnds = 2, kAlphaEnds = 4, kRedEnds = 6, kGreenEnds = 8,
                 kBlueEnds = 10;
static_assert(kUintDraws[kWidthEnds].field == &Particle::widthStart &&
              kUintDraws[kHeightEnds].field == &Particle::heightStart &&
              kUintDraws[kAlphaEnds].field == &Particle::alphaStart &&
              kUintDraws[kRedEnds].field == &Particle::redStart &&
              kUintDraws[kGreenEnds].field == &Particle::greenStart &&
              kUintDraws[kBlueEnds].field == &Particle::blueStart);

}  // namespace

// ---- Generators ---------------------------------------------------------------

UINT RandomStep(UINT* state) {
  const UINT masked = *state ^ kMask;
  if (masked < 0x80000000u) {
    // The same remainder as Schrage's below, by folding the 46-bit product
    // (2^31 = 1 modulo 2^31 - 1): a shorter chain for the usual states.
    const uint64_t product = uint64_t{masked} * kMultiplier;
    UINT r = static_cast<UINT>(product & 0x7FFFFFFFu) + static_cast<UINT>(product >> 31);
    if (r >= static_cast<UINT>(kModulus)) r -= kModulus;
    *state = r;
    return r;
  }
  // Schrage's method keeps 16807 * s mod (2^31 - 1) within 32 bits.
  int32_t s = static_cast<int32_t>(masked);
  const int32_t k = s / kQuotient;
  s = kMultiplier * (s - k * kQuotient) - kRemainder * k;
  if (s < 0) s += kModulus;
  *state = static_cast<UINT>(s);
  return *state;
}

#ifdef __SIZEOF_INT128__
__extension__ typedef unsigned __int128 Uint128;
#endif

// Lemire's remainder by multiplication, exact for every 32-bit value and
// divisor: magic = floor((2^64 - 1) / span) + 1.
void PrepareRange(UintRange* range) {
#ifdef __SIZEOF_INT128__
  const UINT span = range->hi - range->lo + 1u;
  range->magic = span > 1 ? ~uint64_t{0} / span + 1 : 0;
#else
  range->magic = 0;
#endif
}

UINT RandomUint(UINT* state, UintRange range) {
  if (range.lo == range.hi) return range.lo;
  const UINT s = RandomStep(state);
  // A reversed range one apart spans all 2^32 values (span 0 would divide
  // by zero); any other reversed range wraps like the unsigned arithmetic.
  const UINT span = range.hi - range.lo + 1u;
  if (!span) return range.lo + s;
#ifdef __SIZEOF_INT128__
  if (range.magic) return range.lo + static_cast<UINT>((Uint128{range.magic * s} * span) >> 64);
#endif
  return range.lo + s % span;
}

float RandomFloat(UINT* state, FloatRange range) {
  if (range.lo == range.hi) return range.lo;
  const UINT s = RandomStep(state);
  // A step's result is below 2^31, so the signed conversion is exact.
  const double unit = static_cast<double>(static_cast<int32_t>(s)) * 0x1p-31;
  const double lo = range.lo;
  return static_cast<float>(lo + (static_cast<double>(range.hi) - lo) * unit);
}

UINT NextParticleSeed(UINT seed) {
  const uint64_t product = uint64_t{seed} * 0x5DEECE66Dull + 11u;
  return static_cast<UINT>(product >> 16) & 0x7FFFFFFFu;
}

// ---- Geometry -----------------------------------------------------------------

float FastInverseSqrt(float l) {
  uint32_t bits;
  std::memcpy(&bits, &l, 4);
  bits = 0x5F3759DFu - (bits >> 1);
  float r;
  std::memcpy(&r, &bits, 4);
  return r * (1.5f - 0.5f * l * r * r);
}

float VectorAngle(float x, float y) {
  if (IsZero(x) && IsZero(y)) return 0.0f;
  const float r = FastInverseSqrt(x * x + y * y);
  float nx = x * r;
  const float ny = y * r;
  if (IsZero(nx)) return ny > 0.0f ? kHalfPi : kThreeHalfPi;
  if (nx > 1.0f) nx = 1.0f;
  if (nx < -1.0f) nx = -1.0f;
  const float a = pmath::Acos(nx);
  return ny < 0.0f ? kTwoPi - a : a;
}

namespace {

// VectorAngle of four pairs at once: its float operations in its order, the
// arccos in lanes, and its cases chosen by masks instead of branches. Split
// around the arccos, so that a block's groups take theirs together.
inline __m128 Select(__m128 mask, __m128 yes, __m128 no) {
  return _mm_or_ps(_mm_and_ps(mask, yes), _mm_andnot_ps(mask, no));
}

// IsZero of four values, all ones where it holds.
inline __m128 IsZero4(__m128 v) {
  return _mm_and_ps(_mm_cmplt_ps(v, _mm_set1_ps(kZero)), _mm_cmpgt_ps(v, _mm_set1_ps(-kZero)));
}

// FastInverseSqrt of four values, its float operations in its order.
inline __m128 FastInverseSqrt4(__m128 l) {
  const __m128 r = _mm_castsi128_ps(
      _mm_sub_epi32(_mm_set1_epi32(0x5F3759DF), _mm_srli_epi32(_mm_castps_si128(l), 1)));
  return _mm_mul_ps(r, _mm_sub_ps(_mm_set1_ps(1.5f),
                                  _mm_mul_ps(_mm_mul_ps(_mm_mul_ps(_mm_set1_ps(0.5f), l), r), r)));
}

struct AngleParts {
  __m128 x, y, nx, ny, clamped;
};

AngleParts BeforeAcos(__m128 x, __m128 y) {
  const __m128 r = FastInverseSqrt4(_mm_add_ps(_mm_mul_ps(x, x), _mm_mul_ps(y, y)));
  const __m128 nx = _mm_mul_ps(x, r), ny = _mm_mul_ps(y, r);
  const __m128 one = _mm_set1_ps(1.0f), minusOne = _mm_set1_ps(-1.0f);
  __m128 clamped = Select(_mm_cmpgt_ps(nx, one), one, nx);
  clamped = Select(_mm_cmplt_ps(clamped, minusOne), minusOne, clamped);
  return {x, y, nx, ny, clamped};
}

__m128 AfterAcos(const AngleParts& v, __m128 a) {
  __m128 angle =
      Select(_mm_cmplt_ps(v.ny, _mm_setzero_ps()), _mm_sub_ps(_mm_set1_ps(kTwoPi), a), a);
  const __m128 axis =
      Select(_mm_cmpgt_ps(v.ny, _mm_setzero_ps()), _mm_set1_ps(kHalfPi), _mm_set1_ps(kThreeHalfPi));
  angle = Select(IsZero4(v.nx), axis, angle);
  return _mm_andnot_ps(_mm_and_ps(IsZero4(v.x), IsZero4(v.y)), angle);
}

__m128 VectorAngle4(__m128 x, __m128 y) {
  const AngleParts v = BeforeAcos(x, y);
  return AfterAcos(v, pmath::AcosLanes(v.clamped));
}

// VectorAngle4 of `groups` (1 to 4) groups at once.
void VectorAngleGroups(const __m128* x, const __m128* y, int groups, __m128* out) {
  AngleParts v[4];
  __m128 clamped[4] = {}, a[4];
  for (int g = 0; g < groups; ++g) {
    v[g] = BeforeAcos(x[g], y[g]);
    clamped[g] = v[g].clamped;
  }
  pmath::AcosGroups(clamped, a, groups);
  for (int g = 0; g < groups; ++g) out[g] = AfterAcos(v[g], a[g]);
}

}  // namespace

void VectorAngles(const float* x, const float* y, UINT count, float* out) {
  for (UINT k = 0; k < count; k += 4)
    _mm_storeu_ps(out + k, VectorAngle4(_mm_loadu_ps(x + k), _mm_loadu_ps(y + k)));
}

UINT InterpolateUint(UINT a, UINT b, float f) {
  if (a == b) return a;
  return pmath::FloatToU32((1.0f - f) * pmath::U32ToFloat(a) + 0.5f + f * pmath::U32ToFloat(b));
}

// ---- Per-particle steps ---------------------------------------------------------

bool StartParticle(Particle* p, const ParSysParams* params, UINT time) {
  p->period = RandomUint(&p->seedA, params->period);
  p->visible = RandomUint(&p->seedA, params->visible);
  return StartCycle(p, params, time);
}

bool StartCycle(Particle* p, const ParSysParams* params, UINT time) {
  if (p->period == 0 || p->visible == 0) return false;
  const UINT generation = time / p->period;
  p->age = time % p->period;
  p->seedB += generation;  // each cycle brings new appearance draws

  UINT v = p->visible + generation;
  if (v >= p->period) {
    v %= p->period;
    if (v < params->visible.lo) v = params->visible.lo;
  }
  if (v > params->visible.hi) v = params->visible.hi;
  p->visible = v;
  return p->age <= v;
}

#ifdef VEK_PMATH_WIDE
namespace {

// Four unsigned values as exact doubles.
__attribute__((target("avx2"))) inline __m256d U32ToDouble4(__m128i u) {
  return _mm256_add_pd(_mm256_mul_pd(_mm256_cvtepi32_pd(_mm_srli_epi32(u, 1)), _mm256_set1_pd(2.0)),
                       _mm256_cvtepi32_pd(_mm_and_si128(u, _mm_set1_epi32(1))));
}

// a / b in unsigned lanes, b not zero. The
// quotient of two values below 2^32 rounded to double stays below the next
// integer (its error is under 2^-21 / b, the gap at least 1 / b), so the
// truncated double quotient is the integer one.
__attribute__((target("avx2"))) inline __m128i Divide4(__m128i a, __m128i b) {
  const __m256d q = _mm256_round_pd(_mm256_div_pd(U32ToDouble4(a), U32ToDouble4(b)),
                                    _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
  // Converted less 2^31, so quotients from 2^31 fit the signed conversion.
  return _mm_add_epi32(_mm256_cvttpd_epi32(_mm256_sub_pd(q, _mm256_set1_pd(2147483648.0))),
                       _mm_set1_epi32(INT32_MIN));
}

// a >= b as unsigned values, all ones or zero.
__attribute__((target("avx2"))) inline __m128i AtLeast(__m128i a, __m128i b) {
  return _mm_cmpeq_epi32(_mm_max_epu32(a, b), a);
}

__attribute__((target("avx2"))) void StartCyclesIn256(Particle* p, UINT count,
                                                      const ParSysParams* params, UINT time,
                                                      bool* live) {
  const __m128i t = _mm_set1_epi32(static_cast<int>(time));
  const __m128i lo = _mm_set1_epi32(static_cast<int>(params->visible.lo));
  const __m128i hi = _mm_set1_epi32(static_cast<int>(params->visible.hi));
  const __m128i zero = _mm_setzero_si128();
  for (UINT k = 0; k < count; k += 4) {
    // Lanes past the particles take period and visible time 1.
    auto field = [&](UINT j, UINT Particle::*m) {
      return static_cast<int>(k + j < count ? p[k + j].*m : 1u);
    };
    const __m128i period = _mm_setr_epi32(field(0, &Particle::period), field(1, &Particle::period),
                                          field(2, &Particle::period), field(3, &Particle::period));
    const __m128i visible =
        _mm_setr_epi32(field(0, &Particle::visible), field(1, &Particle::visible),
                       field(2, &Particle::visible), field(3, &Particle::visible));
    const __m128i none =
        _mm_or_si128(_mm_cmpeq_epi32(period, zero), _mm_cmpeq_epi32(visible, zero));
    // A period of 0 (the particle is not shown) divides by 1 instead.
    const __m128i divisor = _mm_sub_epi32(period, _mm_cmpeq_epi32(period, zero));
    const __m128i generation = Divide4(t, divisor);
    const __m128i age = _mm_sub_epi32(t, _mm_mullo_epi32(generation, period));
    __m128i v = _mm_add_epi32(visible, generation);
    const __m128i over = AtLeast(v, period);
    if (!_mm_testz_si128(over, over)) {
      const __m128i wrapped = _mm_sub_epi32(v, _mm_mullo_epi32(Divide4(v, divisor), period));
      const __m128i raised =
          _mm_blendv_epi8(wrapped, lo, _mm_andnot_si128(AtLeast(wrapped, lo), over));
      v = _mm_blendv_epi8(v, raised, over);
    }
    v = _mm_min_epu32(v, hi);
    const __m128i shown = _mm_andnot_si128(none, AtLeast(v, age));
    alignas(16) UINT ages[4], generations[4], visibles[4], shows[4], nones[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(ages), age);
    _mm_store_si128(reinterpret_cast<__m128i*>(generations), generation);
    _mm_store_si128(reinterpret_cast<__m128i*>(visibles), v);
    _mm_store_si128(reinterpret_cast<__m128i*>(shows), shown);
    _mm_store_si128(reinterpret_cast<__m128i*>(nones), none);
    for (UINT j = 0; j < 4 && k + j < count; ++j) {
      live[k + j] = shows[j] != 0;
      if (nones[j]) continue;  // StartCycle leaves such a particle as it is
      p[k + j].age = ages[j];
      p[k + j].seedB += generations[j];
      p[k + j].visible = visibles[j];
    }
  }
}

}  // namespace
#endif

void StartCycles(Particle* p, UINT count, const ParSysParams* params, UINT time, bool* live) {
#ifdef VEK_PMATH_WIDE
  if (pmath::HasWideLanes()) return StartCyclesIn256(p, count, params, time, live);
#endif
  for (UINT k = 0; k < count; ++k) live[k] = StartCycle(&p[k], params, time);
}

void DrawAppearance(Particle* p, const ParSysParams* params) {
  for (const FloatDraw& d : kFloatDraws) p->*d.field = RandomFloat(&p->seedB, params->*d.range);
  for (const UintDraw& d : kUintDraws) p->*d.field = RandomUint(&p->seedB, params->*d.range);
}

bool EvaluateParticle(Particle* p, ParSysParams* params, UINT time) {
  if (!StartParticle(p, params, time)) return false;
  DrawAppearance(p, params);
  if (!EmitParticle(p, params)) return false;
  MoveParticle(p, params);
  return true;
}

bool SampleEmissionImage(Particle* p, ParSysParams* params, UINT* px, UINT* py, BYTE pixel[4]) {
  VekImage* image = params->emitImage;
  if (params->pixelsUnreadable) return false;
  const BYTE* pixels = GetImagePixelCache(image);
  if (!pixels) {
    params->pixelsUnreadable = true;
    return false;
  }
  const UINT w = image->texture.pixelCacheWidth, h = image->texture.pixelCacheHeight;
  const Span sx = RegionSpan(w, params->regionLeft, params->regionRight);
  const Span sy = RegionSpan(h, params->regionTop, params->regionBottom);
  // The cache holds at most INT_MAX bytes, so the region's pixel count fits.
  const UINT n = sx.length * sy.length;
  const UINT x1 = sx.start + sx.length, y1 = sy.start + sy.length;
  auto alphaAt = [&](UINT x, UINT y) { return pixels[(size_t{y} * w + x) * 4 + 3]; };

  for (int attempt = 0; attempt < kSampleTries; ++attempt) {
    const UINT pick = RandomStep(&p->seedA) % n;
    UINT x = sx.start + pick % sx.length;
    UINT y = sy.start + pick / sx.length;
    bool found = false;
    switch (pick % 4) {
      case 0:  // leftwards
        for (;; --x) {
          if (alphaAt(x, y) >= kEmitAlpha) {
            found = true;
            break;
          }
          if (x == sx.start) break;
        }
        break;
      case 1:  // rightwards
        for (; x < x1; ++x)
          if (alphaAt(x, y) >= kEmitAlpha) {
            found = true;
            break;
          }
        break;
      case 2:  // upwards
        for (;; --y) {
          if (alphaAt(x, y) >= kEmitAlpha) {
            found = true;
            break;
          }
          if (y == sy.start) break;
        }
        break;
      default:  // downwards
        for (; y < y1; ++y)
          if (alphaAt(x, y) >= kEmitAlpha) {
            found = true;
            break;
          }
        break;
    }
    if (found) {
      *px = x;
      *py = y;
      std::memcpy(pixel, pixels + (size_t{y} * w + x) * 4, 4);
      return true;
    }
  }
  return false;
}

bool EmitOffset(Particle* p, ParSysParams* params, float* ox, float* oy) {
  if (!params->emitImage) {
    const float hw = pmath::U32ToFloat(params->areaWidth) / 2.0f;
    const float hh = pmath::U32ToFloat(params->areaHeight) / 2.0f;
    *ox = RandomFloat(&p->seedA, {-hw, hw});
    *oy = RandomFloat(&p->seedA, {-hh, hh});
    return true;
  }
  UINT px, py;
  BYTE pixel[4];  // blue, green, red, alpha
  if (!SampleEmissionImage(p, params, &px, &py, pixel)) return false;
  const VekImage* image = params->emitImage;
  const float u = pmath::U32ToFloat(px) / pmath::U32ToFloat(image->texture.pixelCacheWidth);
  const float v = pmath::U32ToFloat(py) / pmath::U32ToFloat(image->texture.pixelCacheHeight);
  *ox = RegionOffset(u, params->regionLeft, params->regionRight, params->areaWidth);
  *oy = RegionOffset(v, params->regionTop, params->regionBottom, params->areaHeight);
  if (params->alphaFromImage) p->alphaStart = p->alphaEnd = pixel[3];
  if (params->colourFromImage) {
    p->redStart = p->redEnd = pixel[2];
    p->greenStart = p->greenEnd = pixel[1];
    p->blueStart = p->blueEnd = pixel[0];
  }
  return true;
}

EmitterTurn TurnOf(const ParSysParams* params) {
  EmitterTurn turn{};
  turn.turned = !IsZero(params->emitterRotation);
  if (turn.turned) {
    turn.angle = params->emitterRotation * kDegToRad;
    pmath::SinCos(turn.angle, &turn.sin, &turn.cos);
  }
  return turn;
}

void TurnOffset(const EmitterTurn& turn, float* ox, float* oy) {
  if (turn.turned) Rotate(ox, oy, turn.sin, turn.cos);
}

void AimParticle(Particle* p, const ParSysParams* params, const EmitterTurn& turn, float ox,
                 float oy) {
  TurnOffset(turn, &ox, &oy);
  AimTurned(p, params, turn, ox, oy, params->absoluteDirection ? 0.0f : VectorAngle(ox, oy));
}

void AimTurned(Particle* p, const ParSysParams* params, const EmitterTurn& turn, float ox, float oy,
               float offsetAngle) {
  AimPlace(p, params, turn, ox, oy, offsetAngle);
  float s, c;
  pmath::SinCos(p->direction, &s, &c);
  AimVelocity(p, s, c);
}

void AimPlace(Particle* p, const ParSysParams* params, const EmitterTurn& turn, float ox, float oy,
              float offsetAngle) {
  float d = p->direction * kDegToRad;
  if (turn.turned) d += turn.angle;
  if (!params->absoluteDirection) d += offsetAngle;
  // Less a turn from a turn on (not for NaN), chosen by a mask: a branch on
  // random directions mispredicts.
  const __m128 v = _mm_set_ss(d), turn2 = _mm_set_ss(kTwoPi);
  const __m128 over = _mm_cmpge_ss(v, turn2);
  p->direction =
      _mm_cvtss_f32(_mm_or_ps(_mm_and_ps(over, _mm_sub_ss(v, turn2)), _mm_andnot_ps(over, v)));

  p->x = params->x + ox;
  p->y = params->y + oy;
  p->z = params->z;
}

void AimVelocity(Particle* p, float s, float c) {
  p->vx = p->speed * c;
  p->vy = p->speed * s;
}

bool EmitParticle(Particle* p, ParSysParams* params) {
  float ox, oy;
  if (!EmitOffset(p, params, &ox, &oy)) return false;
  AimParticle(p, params, TurnOf(params), ox, oy);
  return true;
}

void MoveStart(const Particle* p, const ParSysParams* params, ParticleMove* m) {
  const float t = m->t = pmath::U32ToFloat(p->age) / 1000.0f;
  float endX = p->vx, endY = p->vy;
  if (!IsZero(params->accelX)) endX += params->accelX * t;
  if (!IsZero(params->accelY)) endY += params->accelY * t;
  if (!IsZero(params->forwardAccel) && !(IsZero(endX) && IsZero(endY))) {
    const float r = FastInverseSqrt(endX * endX + endY * endY);
    const float nx = endX * r, ny = endY * r;
    endX += nx * params->forwardAccel * t;
    endY += ny * params->forwardAccel * t;
  }
  m->endX = endX;
  m->endY = endY;
  m->dragPower = -params->drag * t;
}

void MoveEnd(Particle* p, const ParSysParams* params, const ParticleMove& m, float e) {
  if (IsZero(params->drag)) {
    p->x += (p->vx + m.endX) * m.t / 2.0f;
    p->y += (p->vy + m.endY) * m.t / 2.0f;
    p->vx = m.endX;
    p->vy = m.endY;
  } else {
    const float keptX = m.endX * e, keptY = m.endY * e;
    p->vx = keptX;
    p->vy = keptY;
    p->x += (m.endX - keptX) / params->drag;
    p->y += (m.endY - keptY) / params->drag;
  }
}

void MoveParticle(Particle* p, const ParSysParams* params) {
  ParticleMove m;
  MoveStart(p, params, &m);
  MoveEnd(p, params, m, IsZero(params->drag) ? 1.0f : pmath::Exp(m.dragPower));
}

bool QuadTurn(Particle* p, const ParSysParams* params, float f, float heading, float* g) {
  float r = (params->emitterRotation + p->rotation) * kDegToRad;
  if (params->alignToVelocity) r += heading;
  p->rotation = r;
  const float spin = (p->spinStart - p->spinEnd < kZero && p->spinEnd - p->spinStart < kZero)
                         ? p->spinStart
                         : p->spinStart + (p->spinEnd - p->spinStart) * f;
  if (IsZero(spin) && IsZero(r)) return false;
  *g = r + spin * (pmath::U32ToFloat(p->age) / 1000.0f) * kDegToRad;
  return true;
}

namespace {

// The quad turned by the angle of sine s and cosine c when `turned`, then
// moved where the particle is; false when its path does not place it.
bool PlaceTurnedQuad(const Particle* p, const ParSysParams* params, ULONGLONG now, bool turned,
                     float s, float c, ParticleQuad* quad) {
  if (turned) {
    Rotate(&quad->x[0], &quad->y[0], s, c);
    Rotate(&quad->x[1], &quad->y[1], s, c);
  }

  // Where the emitter was when the particle was born. A path given without
  // its points or times is no path.
  float birthX = params->x, birthY = params->y;
  if (params->pathCount && params->pathPoints && params->pathTimes) {
    const int64_t birth = static_cast<int64_t>(now - p->age);
    int64_t nextTime = static_cast<int64_t>(now);
    float nextX = params->x, nextY = params->y;
    bool placed = false;
    for (UINT k = params->pathCount; k-- > 0;) {
      const int64_t keyTime = ReadTime(params->pathTimes, k);
      const float keyX = ReadFloat(params->pathPoints, size_t{k} * kPathPointBytes);
      const float keyY = ReadFloat(params->pathPoints, size_t{k} * kPathPointBytes + 4);
      if (birth < keyTime) {
        if (k == 0) return false;  // born before the path starts
        nextX = keyX;
        nextY = keyY;
        nextTime = keyTime;
        continue;
      }
      if (birth > nextTime) return false;
      // Differences in unsigned 64 bits: both are non-negative here and may
      // exceed the signed range. Keys of equal time place the particle at
      // the key rather than dividing by zero.
      const uint64_t span = static_cast<uint64_t>(nextTime) - static_cast<uint64_t>(keyTime);
      float w = 1.0f;
      if (span) {
        const float into = static_cast<float>(
            pmath::U64ToDouble(static_cast<uint64_t>(birth) - static_cast<uint64_t>(keyTime)));
        w = 1.0f - into / static_cast<float>(pmath::U64ToDouble(span));
      }
      birthX = nextX + (keyX - nextX) * w;
      birthY = nextY + (keyY - nextY) * w;
      placed = true;
      break;
    }
    if (!placed) return false;
  }

  const float cx = p->x + (birthX - params->x);
  const float cy = p->y + (birthY - params->y);
  quad->x[0] += cx;
  quad->y[0] += cy;
  quad->x[1] += cx;
  quad->y[1] += cy;
  quad->x[2] = 2.0f * cx - quad->x[0];
  quad->y[2] = 2.0f * cy - quad->y[0];
  quad->x[3] = 2.0f * cx - quad->x[1];
  quad->y[3] = 2.0f * cy - quad->y[1];
  return true;
}

}  // namespace

bool BuildParticleQuad(Particle* p, const ParSysParams* params, ULONGLONG now,
                       PrimitiveCorner corners[4]) {
  return BuildHeadedQuad(p, params, now, params->alignToVelocity ? VectorAngle(p->vx, p->vy) : 0.0f,
                         corners);
}

namespace {

// The look's texture rectangle at life fraction f, drawing the frame from the
// second seed in random frame mode; all zero without frames.
void FrameOfParticle(Particle* p, const ParSysParams* params, float f, ParticleLook* look) {
  look->uLeft = look->uRight = look->vTop = look->vBottom = 0.0f;
  // Frames given without their rectangles count as no frames.
  if (params->texture && params->frameCount > 0 && params->frames) {
    const UINT last = params->frameCount - 1;
    UINT index;
    if (params->frameMode == 0) {
      index = RandomUint(&p->seedB, {0, last});
    } else if (params->frameMode == 1) {
      index = InterpolateUint(0, last, f);
    } else {
      index = InterpolateUint(
          0, last,
          pmath::U32ToFloat(p->age % params->frameMode) / pmath::U32ToFloat(params->frameMode));
    }
    if (index > last) index = last;
    const size_t at = size_t{index} * kFrameBytes;
    look->uLeft = ReadFloat(params->frames, at);
    look->uRight = ReadFloat(params->frames, at + 4);
    look->vTop = ReadFloat(params->frames, at + 8);
    look->vBottom = ReadFloat(params->frames, at + 12);
  }
}

}  // namespace

void LookOfParticle(Particle* p, const ParSysParams* params, ParticleLook* look) {
  const float f = look->fraction = pmath::U32ToFloat(p->age) / pmath::U32ToFloat(p->period);
  look->width = InterpolateUint(p->widthStart, p->widthEnd, f);
  look->height = InterpolateUint(p->heightStart, p->heightEnd, f);
  FrameOfParticle(p, params, f, look);
  look->colour = Channel(p->alphaStart, p->alphaEnd, f) << 24 |
                 Channel(p->redStart, p->redEnd, f) << 16 |
                 Channel(p->greenStart, p->greenEnd, f) << 8 | Channel(p->blueStart, p->blueEnd, f);
}

bool PlaceTurnedLook(const Particle* p, const ParSysParams* params, ULONGLONG now,
                     const ParticleLook& look, bool turned, float s, float c,
                     PrimitiveCorner corners[4]) {
  ParticleQuad quad;
  const float hw = pmath::U32ToFloat(look.width / 2), hh = pmath::U32ToFloat(look.height / 2);
  quad.x[0] = -hw;
  quad.y[0] = -hh;
  quad.x[1] = hw;
  quad.y[1] = -hh;
  if (!PlaceTurnedQuad(p, params, now, turned, s, c, &quad)) return false;
  // Extreme forces or angles can overflow; such a quad is not queued.
  for (int i = 0; i < 4; ++i)
    if (!IsFinite(quad.x[i]) || !IsFinite(quad.y[i])) return false;
  if (!IsFinite(p->z)) return false;

  const DWORD colour = look.colour;
  corners[0] = {quad.x[0], quad.y[0], p->z, colour, look.uLeft, look.vTop};
  corners[1] = {quad.x[1], quad.y[1], p->z, colour, look.uRight, look.vTop};
  corners[2] = {quad.x[2], quad.y[2], p->z, colour, look.uRight, look.vBottom};
  corners[3] = {quad.x[3], quad.y[3], p->z, colour, look.uLeft, look.vBottom};
  return true;
}

bool PlaceLookedQuad(Particle* p, const ParSysParams* params, ULONGLONG now, float heading,
                     const ParticleLook& look, PrimitiveCorner corners[4]) {
  float g = 0.0f, s = 0.0f, c = 1.0f;
  const bool turned = QuadTurn(p, params, look.fraction, heading, &g);
  if (turned) pmath::SinCos(g, &s, &c);
  return PlaceTurnedLook(p, params, now, look, turned, s, c, corners);
}

bool BuildHeadedQuad(Particle* p, const ParSysParams* params, ULONGLONG now, float heading,
                     PrimitiveCorner corners[4]) {
  ParticleLook look;
  LookOfParticle(p, params, &look);
  return PlaceLookedQuad(p, params, now, heading, look, corners);
}

namespace {

// One block's particles and the ones still live, by index, in order.
struct ParticleBlock {
  Particle p[kParticleBlock];
  UINT live[kParticleBlock];
  UINT count;
  bool compact = true;  // live[k] == k for every live particle

  // Keeps the live particles for which keep(particle, position) holds.
  template <typename Keep>
  void Filter(Keep keep) {
    UINT kept = 0;
    for (UINT k = 0; k < count; ++k) {
      const UINT i = live[k];
      live[kept] = i;
      kept += keep(&p[i], i) ? 1u : 0u;
    }
    compact = compact && kept == count;
    count = kept;
  }
  // Moves the live particles to the front (their positions become their
  // order), so lanes can take them four at a time.
  void Compact() {
    for (UINT k = 0; k < count; ++k) {
      if (live[k] != k) p[k] = p[live[k]];
      live[k] = k;
    }
    compact = true;
  }
  // f(at), at(k) being the position of the k-th live particle: k itself
  // while the block is compact, which spares the passes the look-up.
  template <typename F>
  void Positions(F f) {
    if (compact) {
      f([](UINT k) { return k; });
    } else {
      f([this](UINT k) { return live[k]; });
    }
  }
  // out[i] = VectorAngle(xy(i)) for every live i, four at a time.
  template <typename XY>
  void Angles(XY xy, float* out) {
    if (count == 0) return;
    Positions([&](auto at) {
      // Lanes past the live particles take (0, 0). Assembled in registers:
      // narrow stores read back as one wide load would stall.
      std::pair<float, float> v[kParticleBlock] = {};
      for (UINT k = 0; k < count; ++k) v[k] = xy(at(k));
      alignas(16) float angles[kParticleBlock];
      // Up to four groups of four side by side a call.
      for (UINT from = 0; from < count; from += 16) {
        const int groups = static_cast<int>((std::min(count - from, 16u) + 3) / 4);
        __m128 x[4], y[4], a[4];
        for (int g = 0; g < groups; ++g) {
          const std::pair<float, float>* q = v + from + 4 * g;
          x[g] = _mm_setr_ps(q[0].first, q[1].first, q[2].first, q[3].first);
          y[g] = _mm_setr_ps(q[0].second, q[1].second, q[2].second, q[3].second);
        }
        VectorAngleGroups(x, y, groups, a);
        for (int g = 0; g < groups; ++g) _mm_store_ps(angles + from + 4 * g, a[g]);
      }
      for (UINT k = 0; k < count; ++k) out[at(k)] = angles[k];
    });
  }
  // MoveStart of every live particle into moves[i], four at a time: its
  // float operations in their order, its cases by masks.
  void MoveStarts(const ParSysParams* params, ParticleMove* moves) {
    const bool accelX = !IsZero(params->accelX), accelY = !IsZero(params->accelY);
    const bool forward = !IsZero(params->forwardAccel);
    const __m128 ax = _mm_set1_ps(params->accelX), ay = _mm_set1_ps(params->accelY);
    const __m128 fa = _mm_set1_ps(params->forwardAccel), drag = _mm_set1_ps(-params->drag);
    Positions([&](auto at) {
      for (UINT k = 0; k < count; k += 4) {
        auto field = [&](UINT j, float Particle::*m) {
          return k + j < count ? p[at(k + j)].*m : 0.0f;
        };
        auto age = [&](UINT j) {
          return k + j < count ? pmath::U32ToFloat(p[at(k + j)].age) : 0.0f;
        };
        const __m128 t =
            _mm_div_ps(_mm_setr_ps(age(0), age(1), age(2), age(3)), _mm_set1_ps(1000.0f));
        __m128 ex = _mm_setr_ps(field(0, &Particle::vx), field(1, &Particle::vx),
                                field(2, &Particle::vx), field(3, &Particle::vx));
        __m128 ey = _mm_setr_ps(field(0, &Particle::vy), field(1, &Particle::vy),
                                field(2, &Particle::vy), field(3, &Particle::vy));
        if (accelX) ex = _mm_add_ps(ex, _mm_mul_ps(ax, t));
        if (accelY) ey = _mm_add_ps(ey, _mm_mul_ps(ay, t));
        if (forward) {
          const __m128 r = FastInverseSqrt4(_mm_add_ps(_mm_mul_ps(ex, ex), _mm_mul_ps(ey, ey)));
          const __m128 moving = _mm_andnot_ps(_mm_and_ps(IsZero4(ex), IsZero4(ey)),
                                              _mm_castsi128_ps(_mm_set1_epi32(-1)));
          const __m128 nx = _mm_mul_ps(ex, r), ny = _mm_mul_ps(ey, r);
          const __m128 fx = _mm_add_ps(ex, _mm_mul_ps(_mm_mul_ps(nx, fa), t));
          const __m128 fy = _mm_add_ps(ey, _mm_mul_ps(_mm_mul_ps(ny, fa), t));
          ex = Select(moving, fx, ex);
          ey = Select(moving, fy, ey);
        }
        alignas(16) float ts[4], xs[4], ys[4], ds[4];
        _mm_store_ps(ts, t);
        _mm_store_ps(xs, ex);
        _mm_store_ps(ys, ey);
        _mm_store_ps(ds, _mm_mul_ps(drag, t));
        for (UINT j = 0; j < 4 && k + j < count; ++j)
          moves[at(k + j)] = {ts[j], xs[j], ys[j], ds[j]};
      }
    });
  }
  // For every four live particles: in(i) of each gathered into lanes (0 past
  // the live ones), lanes(v, r) storing kOut results of four lanes, and r[m]
  // of particle i written to out[m][i].
  template <int kOut, typename In, typename Lanes>
  void InLanes(In in, Lanes lanes, float* const (&out)[kOut]) {
    Positions([&](auto at) {
      for (UINT k = 0; k < count; k += 4) {
        auto get = [&](UINT j) { return k + j < count ? in(at(k + j)) : 0.0f; };
        alignas(16) float r[kOut][4];
        lanes(_mm_setr_ps(get(0), get(1), get(2), get(3)), r);
        for (UINT j = 0; j < 4 && k + j < count; ++j)
          for (int m = 0; m < kOut; ++m) out[m][at(k + j)] = r[m][j];
      }
    });
  }
  // pmath::Exp(power(i)) into out[i] for every live i, four at a time.
  template <typename Power>
  void Exp(Power power, float* out) {
    InLanes<1>(power, [](__m128 v, float(*r)[4]) { _mm_store_ps(r[0], pmath::ExpLanes(v)); },
               {out});
  }
  // pmath::SinCos(angle(i)) into s[i] and c[i] for every live i, four at a
  // time.
  template <typename Angle>
  void SinCos(Angle angle, float* s, float* c) {
    InLanes<2>(angle,
               [](__m128 v, float(*r)[4]) {
                 __m128 vs, vc;
                 pmath::SinCosLanes(v, &vs, &vc);
                 _mm_store_ps(r[0], vs);
                 _mm_store_ps(r[1], vc);
               },
               {s, c});
  }
  // draw(states, lanes) on each particle's `seed`, copied to an array the
  // lanes read four at a time and back; the block must be compact (particle
  // k at live position k).
  template <typename Draw>
  void LaneDraws(UINT Particle::*seed, Draw draw) {
    UINT states[kParticleBlock] = {};
    for (UINT k = 0; k < count; ++k) states[k] = p[k].*seed;
    draw(states, (count + 3) & ~3u);
    for (UINT k = 0; k < count; ++k) p[k].*seed = states[k];
  }
  template <typename Step>
  void Each(Step step) {
    Positions([&](auto at) {
      for (UINT k = 0; k < count; ++k) step(&p[at(k)], at(k));
    });
  }
};

// LookOfParticle's size and colour for the particles at positions below
// `count`, four at a time, from the ends drawn in kUintDraws' order; each
// look also keeps its life fraction for the frame.
void LooksInLanes(const Particle* p, UINT count, const UINT (*ends)[kParticleBlock],
                  ParticleLook* looks) {
  const __m128i flip = _mm_set1_epi32(INT32_MIN), max = _mm_set1_epi32(255);
  auto interpolate = [&](size_t j, UINT k, __m128 f) {
    return InterpolateUint4(_mm_load_si128(reinterpret_cast<const __m128i*>(ends[j] + k)),
                            _mm_load_si128(reinterpret_cast<const __m128i*>(ends[j + 1] + k)), f);
  };
  auto channel = [&](size_t j, UINT k, __m128 f) {  // Channel: at most 255
    const __m128i v = interpolate(j, k, f);
    const __m128i over = _mm_cmpgt_epi32(_mm_xor_si128(v, flip), _mm_xor_si128(max, flip));
    return _mm_or_si128(_mm_and_si128(over, max), _mm_andnot_si128(over, v));
  };
  auto toFloat4 = [](__m128i u) {  // the signed conversion below 2^31: the same value
    return _mm_movemask_ps(_mm_castsi128_ps(u)) == 0 ? _mm_cvtepi32_ps(u) : U32ToFloat4(u);
  };
  for (UINT k = 0; k < count; k += 4) {
    // Lanes past the particles take 0 / 0; their results are not used.
    auto field = [&](UINT j, UINT Particle::*m) { return k + j < count ? p[k + j].*m : 0u; };
    const __m128 f =
        _mm_div_ps(toFloat4(_mm_setr_epi32(static_cast<int>(field(0, &Particle::age)),
                                           static_cast<int>(field(1, &Particle::age)),
                                           static_cast<int>(field(2, &Particle::age)),
                                           static_cast<int>(field(3, &Particle::age)))),
                   toFloat4(_mm_setr_epi32(static_cast<int>(field(0, &Particle::period)),
                                           static_cast<int>(field(1, &Particle::period)),
                                           static_cast<int>(field(2, &Particle::period)),
                                           static_cast<int>(field(3, &Particle::period)))));
    const __m128i width = interpolate(kWidthEnds, k, f), height = interpolate(kHeightEnds, k, f);
    const __m128i colour = _mm_or_si128(
        _mm_or_si128(_mm_slli_epi32(channel(kAlphaEnds, k, f), 24),
                     _mm_slli_epi32(channel(kRedEnds, k, f), 16)),
        _mm_or_si128(_mm_slli_epi32(channel(kGreenEnds, k, f), 8), channel(kBlueEnds, k, f)));
    alignas(16) UINT w[4], h[4], c[4];
    alignas(16) float fs[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(w), width);
    _mm_store_si128(reinterpret_cast<__m128i*>(h), height);
    _mm_store_si128(reinterpret_cast<__m128i*>(c), colour);
    _mm_store_ps(fs, f);
    for (UINT j = 0; j < 4 && k + j < count; ++j) {
      looks[k + j].width = w[j];
      looks[k + j].height = h[j];
      looks[k + j].colour = c[j];
      looks[k + j].fraction = fs[j];
    }
  }
}

}  // namespace

UINT BuildParticleBlock(ParSysParams* params, ULONGLONG now, const UINT seedA[], const UINT seedB[],
                        UINT count, PrimitiveCorner quads[][4]) {
  ParticleBlock b;
  b.count = count;
  // One clear for the block: a clear per record went through a string
  // instruction whose start-up cost more than the stores.
  std::memset(b.p, 0, sizeof b.p[0] * count);
  for (UINT i = 0; i < count; ++i) {
    b.p[i].seedA = seedA[i];
    b.p[i].seedB = seedB[i];
    b.live[i] = i;
  }
  const UINT time = static_cast<UINT>(now);
  // StartParticle with its two draws from the first seed in lanes (every
  // particle is live, at its own position).
  b.LaneDraws(&Particle::seedA, [&](UINT* seeds, UINT lanes) {
    RandomUintLanes(seeds, lanes, params->period, &b.p[0].period, sizeof(Particle));
    RandomUintLanes(seeds, lanes, params->visible, &b.p[0].visible, sizeof(Particle));
  });
  bool shown[kParticleBlock] = {};
  StartCycles(b.p, count, params, time, shown);
  b.Filter([&](Particle*, UINT i) { return shown[i]; });
  // Draw by draw across the block, four particles' states in lanes, the
  // live particles moved together first so each draw lands in order.
  b.Compact();
  const UINT drawn = b.count;
  // The size and colour ends land in arrays of their own (draw j of particle
  // k at ends[j][k]), where the look takes them four at a time.
  alignas(16) UINT ends[std::size(kUintDraws)][kParticleBlock];
  b.LaneDraws(&Particle::seedB, [&](UINT* seeds, UINT lanes) {
    for (const FloatDraw& d : kFloatDraws)
      RandomFloatLanes(seeds, lanes, params->*d.range, &(b.p[0].*d.field), sizeof(Particle));
    for (size_t j = 0; j < std::size(kUintDraws); ++j)
      RandomUintLanes(seeds, lanes, params->*kUintDraws[j].range, ends[j], sizeof(UINT));
  });
  float ox[kParticleBlock], oy[kParticleBlock];
  if (!params->emitImage) {
    // EmitOffset's two area draws from the first seed, in lanes.
    const float hw = pmath::U32ToFloat(params->areaWidth) / 2.0f;
    const float hh = pmath::U32ToFloat(params->areaHeight) / 2.0f;
    b.LaneDraws(&Particle::seedA, [&](UINT* seeds, UINT lanes) {
      RandomFloatLanes(seeds, lanes, {-hw, hw}, ox, sizeof ox[0]);
      RandomFloatLanes(seeds, lanes, {-hh, hh}, oy, sizeof oy[0]);
    });
  } else {
    b.Filter([&](Particle* p, UINT i) {
      if (!EmitOffset(p, params, &ox[i], &oy[i])) return false;
      // The picture's alpha and colour replace the drawn ends.
      if (params->alphaFromImage) ends[kAlphaEnds][i] = ends[kAlphaEnds + 1][i] = p->alphaStart;
      if (params->colourFromImage) {
        ends[kRedEnds][i] = ends[kRedEnds + 1][i] = p->redStart;
        ends[kGreenEnds][i] = ends[kGreenEnds + 1][i] = p->greenStart;
        ends[kBlueEnds][i] = ends[kBlueEnds + 1][i] = p->blueStart;
      }
      return true;
    });
  }
  const EmitterTurn turn = TurnOf(params);
  b.Each([&](Particle*, UINT i) { TurnOffset(turn, &ox[i], &oy[i]); });
  // Angles of the turned offsets and, after moving, of the velocities, four
  // particles at a time.
  float angle[kParticleBlock] = {};
  if (!params->absoluteDirection)
    b.Angles([&](UINT i) { return std::make_pair(ox[i], oy[i]); }, angle);
  // AimTurned in three passes, so the sines and cosines' chains overlap.
  b.Each([&](Particle* p, UINT i) { AimPlace(p, params, turn, ox[i], oy[i], angle[i]); });
  float sines[kParticleBlock], cosines[kParticleBlock];
  b.SinCos([&](UINT i) { return b.p[i].direction; }, sines, cosines);
  b.Each([&](Particle* p, UINT i) { AimVelocity(p, sines[i], cosines[i]); });
  // MoveParticle in three passes, the drag's exponentials four at a time.
  ParticleMove moves[kParticleBlock];
  b.MoveStarts(params, moves);
  float decay[kParticleBlock];
  const bool drag = !IsZero(params->drag);
  if (drag) b.Exp([&](UINT i) { return moves[i].dragPower; }, decay);
  b.Each([&](Particle* p, UINT i) { MoveEnd(p, params, moves[i], drag ? decay[i] : 1.0f); });
  if (params->alignToVelocity)
    b.Angles([&](UINT i) { return std::make_pair(b.p[i].vx, b.p[i].vy); }, angle);
  // Every particle's look first, its sizes and colours four at a time, then
  // its frame: the interpolations are one chain of dependent arithmetic a
  // particle, which lanes take side by side.
  ParticleLook looks[kParticleBlock];
  LooksInLanes(b.p, drawn, ends, looks);
  b.Each([&](Particle* p, UINT i) { FrameOfParticle(p, params, looks[i].fraction, &looks[i]); });
  // PlaceLookedQuad in three passes: the turns, their sines and cosines
  // four at a time, then the placing.
  float turns[kParticleBlock], turnSines[kParticleBlock], turnCosines[kParticleBlock];
  bool turned[kParticleBlock], anyTurned = false;
  b.Each([&](Particle* p, UINT i) {
    turned[i] = QuadTurn(p, params, looks[i].fraction, angle[i], &turns[i]);
    anyTurned = anyTurned || turned[i];
  });
  if (anyTurned)
    b.SinCos([&](UINT i) { return turned[i] ? turns[i] : 0.0f; }, turnSines, turnCosines);
  b.Filter([&](Particle* p, UINT i) {
    // (The sine and cosine are read only for a quad that turns.)
    return turned[i] ? PlaceTurnedLook(p, params, now, looks[i], true, turnSines[i], turnCosines[i],
                                       quads[i])
                     : PlaceTurnedLook(p, params, now, looks[i], false, 0.0f, 1.0f, quads[i]);
  });
  // The drawn quads moved to the front, in order.
  for (UINT k = 0; k < b.count; ++k)
    if (b.live[k] != k) std::memcpy(quads[k], quads[b.live[k]], sizeof quads[k]);
  return b.count;
}

INT DrawParSys(ParSysParams* params, ULONGLONG now, DWORD flags) {
  if (!params->graphics) return 0;
  params->pixelsUnreadable = false;
  for (UintRange* r : {&params->period, &params->visible, &params->widthStart, &params->heightStart,
                       &params->alphaStart, &params->redStart, &params->greenStart,
                       &params->blueStart, &params->widthEnd, &params->heightEnd, &params->alphaEnd,
                       &params->redEnd, &params->greenEnd, &params->blueEnd}) {
    PrepareRange(r);
    PrepareLaneRange(r);
  }
  UINT a = static_cast<UINT>(params->seedA);
  UINT b = static_cast<UINT>(params->seedB);
  if (params->seedA < 0) a += 0x7FFFFFFFu;
  if (params->seedB < 0) b += 0x7FFFFFFFu;
  UINT seedsA[kParticleBlock], seedsB[kParticleBlock];
  PrimitiveCorner quads[kParticleBlock][4];
  for (UINT done = 0; done < params->count;) {
    const UINT n = params->count - done < kParticleBlock ? params->count - done : kParticleBlock;
    for (UINT i = 0; i < n; ++i) {
      seedsA[i] = a;
      seedsB[i] = b;
      a = NextParticleSeed(a);
      b = NextParticleSeed(b);
    }
    const UINT built = BuildParticleBlock(params, now, seedsA, seedsB, n, quads);
    DrawQuads(params->graphics, quads, built, flags, params->texture);
    done += n;
  }
  return static_cast<INT>(params->count);
}
