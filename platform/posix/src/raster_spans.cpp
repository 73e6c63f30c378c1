// The dedicated span loop: the sprite state (one MODULATE stage, point
// sampling, SRCALPHA / INVSRCALPHA or no blending, LESSEQUAL depth or none,
// a 32-bit target) drawn a span at a time, bit for bit as the general path.
#include <atomic>

#include "raster_internal.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace vrt::d3d::raster {

// The affine loop and the lane arithmetic FastSpan shares with it.
#ifdef __SSE2__
#include "raster_affine.inc"
#endif

namespace {

// (v + 1 + (v >> 8)) >> 8 is v / 255 for every sum a blend can form.
constexpr bool Div255Exact() {
  for (uint32_t v = 0; v <= 255 * 255 + 127; ++v)
    if ((v + 1 + (v >> 8)) >> 8 != v / 255) return false;
  return true;
}
static_assert(Div255Exact());
// Modulating with 255 keeps a channel, so white diffuse can skip the multiply.
constexpr bool Mul255KeepsWhite() {
  for (uint32_t a = 0; a < 256; ++a)
    if (Mul255(a, 255) != a) return false;
  return true;
}
static_assert(Mul255KeepsWhite());

// The four bytes of `c` in 16-bit lanes and back.
inline uint64_t Spread(uint32_t c) {
  uint64_t t = c;
  t = (t | (t << 16)) & 0x0000FFFF0000FFFFull;
  return (t | (t << 8)) & 0x00FF00FF00FF00FFull;
}
inline uint32_t Gather(uint64_t t) {
  t &= 0x00FF00FF00FF00FFull;
  t = (t | (t >> 8)) & 0x0000FFFF0000FFFFull;
  return static_cast<uint32_t>(t | (t >> 16));
}

// floor(Scaled(u, n)) as an int, written with selects so loops vectorise.
inline int ScaledFloor(float u, float n) {
  float v = u * n;
  v = v == v ? v : 0.0f;
  v = v < -1.0e7f ? -1.0e7f : v;
  v = 1.0e7f < v ? 1.0e7f : v;
  const int t = static_cast<int>(v);  // exact: |v| <= 1e7
  return t - (static_cast<float>(t) > v ? 1 : 0);
}

// The general per-pixel path (Shade then WriteFragment) narrowed to
// modulateOnly with point sampling, a 32-bit target, no stencil, an alpha
// test passing from a least value or none, depth LESSEQUAL or off and
// SRCALPHA/INVSRCALPHA blending or none.
// Every value is computed as the general path does, so pixels are identical.
// `zFlat`: the quantised depth of every pixel, or -1 to quantise z per pixel.
template <bool kDepth, bool kBlend>
void FastSpan(const Pipeline& p, int x0, int y, int n, const float* z, int64_t zFlat,
              const uint32_t* diffuse, const float* u, const float* v) {
  const Stage& st = p.stages[0];
  const uint32_t* texels = st.texels;
  const int tw = st.tw, th = st.th;
  int tx[kChunk], ty[kChunk];
  const float fw = static_cast<float>(tw), fh = static_cast<float>(th);
  int i0 = 0;
#ifdef __SSE2__
  // Four lanes of ScaledFloor at a time; the compiler leaves the selects scalar.
  const __m128 nw = _mm_set1_ps(fw), nh = _mm_set1_ps(fh);
  auto floor4 = [&](const float* in, __m128 scale, int* out) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), Floor4(_mm_mul_ps(_mm_loadu_ps(in), scale)));
  };
  for (; i0 + 4 <= n; i0 += 4) {
    floor4(u + i0, nw, tx + i0);
    floor4(v + i0, nh, ty + i0);
  }
#endif
  for (int i = i0; i < n; ++i) tx[i] = ScaledFloor(u[i], fw);
  for (int i = i0; i < n; ++i) ty[i] = ScaledFloor(v[i], fh);
  const DWORD addressU = st.addressU, addressV = st.addressV;
  const uint32_t borderColor = st.border;
  uint32_t texel[kChunk];
  for (int i = 0; i < n; ++i) {
    if (static_cast<unsigned>(tx[i]) < static_cast<unsigned>(tw) &&
        static_cast<unsigned>(ty[i]) < static_cast<unsigned>(th)) {
      texel[i] = texels[static_cast<size_t>(ty[i]) * tw + tx[i]];
    } else {
      bool border = false;
      const int ax = AddressOf(tx[i], tw, addressU, &border);
      const int ay = AddressOf(ty[i], th, addressV, &border);
      texel[i] = border ? borderColor : texels[static_cast<size_t>(ay) * tw + ax];
    }
  }
  BYTE* depthRow = kDepth ? p.depthBits + static_cast<size_t>(y) * p.depthPitch : nullptr;
  const UINT depthBytes = p.depth.bytes, depthBits = p.depth.depthBits,
             depthShift = p.depth.depthShift;
  const uint32_t depthMask = p.depthMask;
  const bool depthWrite = p.depthWrite;
  uint32_t zq[kDepth ? kChunk : 1];
  if constexpr (kDepth) {
    for (int i = 0; i < n; ++i)
      zq[i] = zFlat >= 0 ? static_cast<uint32_t>(zFlat)
                         : QuantizeDepth(std::clamp(z[i], 0.0f, 1.0f), depthBits);
  }
  uint32_t* row = reinterpret_cast<uint32_t*>(p.bits + static_cast<size_t>(y) * p.pitch) + x0;
  const uint32_t opaque = p.format == D3DFMT_X8R8G8B8 ? 0xFF000000u : 0u;
  const uint32_t writeBits = p.writeBits;
  const uint32_t alphaMin = p.alphaMin;
  int i = 0;
#ifdef __SSE2__
  // Four pixels at a time in 16-bit lanes, with the same integer formulas:
  // every lane stays below 65,536 (see the bounds below), so the bytes are
  // those of the scalar loop. Pixels failing the depth test keep their
  // colour and depth; the unchanged depth is written back as it was read.
  if (!kDepth || depthBytes == 4) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i sign = _mm_set1_epi32(static_cast<int>(0x80000000u));
    const __m128i maskZ = _mm_set1_epi32(static_cast<int>(depthMask));
    const __m128i shiftZ = _mm_cvtsi32_si128(static_cast<int>(depthShift));
    const __m128i opaque4 = _mm_set1_epi32(static_cast<int>(opaque));
    const __m128i write4 = _mm_set1_epi32(static_cast<int>(writeBits));
    const __m128i alphaMin4 = _mm_set1_epi32(static_cast<int>(alphaMin));
    for (; i + 4 <= n; i += 4) {
      const __m128i t4 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(texel + i));
      const __m128i d4 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(diffuse + i));
      __m128i pass = _mm_set1_epi32(-1);
      if (alphaMin != 0) {
        // The alpha test before depth: texel alpha times diffuse alpha (at
        // most 65,025, so the 16-bit product is the whole of it).
        const __m128i a = _mm_mullo_epi16(_mm_srli_epi32(t4, 24), _mm_srli_epi32(d4, 24));
        pass = _mm_andnot_si128(_mm_cmpgt_epi32(alphaMin4, a), pass);
        if (_mm_movemask_epi8(pass) == 0) continue;
      }
      if constexpr (kDepth) {
        BYTE* at = depthRow + static_cast<size_t>(x0 + i) * 4;
        const __m128i stored = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        const __m128i oldZ = _mm_srl_epi32(_mm_and_si128(stored, maskZ), shiftZ);
        const __m128i z4 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(zq + i));
        // zq <= oldZ, unsigned.
        pass = _mm_andnot_si128(_mm_cmpgt_epi32(_mm_xor_si128(z4, sign), _mm_xor_si128(oldZ, sign)),
                                pass);
        if (_mm_movemask_epi8(pass) == 0) continue;
        if (depthWrite) {
          const __m128i next = _mm_or_si128(_mm_andnot_si128(maskZ, stored),
                                            _mm_and_si128(_mm_sll_epi32(z4, shiftZ), maskZ));
          _mm_storeu_si128(reinterpret_cast<__m128i*>(at),
                           _mm_or_si128(_mm_and_si128(pass, next), _mm_andnot_si128(pass, stored)));
        }
      }
      // Modulating with white keeps the texel, so every pixel is multiplied.
      __m128i lo = Mul255Lanes(_mm_unpacklo_epi8(t4, zero), _mm_unpacklo_epi8(d4, zero));
      __m128i hi = Mul255Lanes(_mm_unpackhi_epi8(t4, zero), _mm_unpackhi_epi8(d4, zero));
      const __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
      if constexpr (kBlend) {
        const __m128i dst = _mm_or_si128(old, opaque4);
        lo = OverLanes(lo, _mm_unpacklo_epi8(dst, zero));
        hi = OverLanes(hi, _mm_unpackhi_epi8(dst, zero));
      }
      const __m128i color = _mm_packus_epi16(lo, hi);
      __m128i next = _mm_or_si128(_mm_and_si128(color, write4), _mm_andnot_si128(write4, old));
      if (kDepth || alphaMin != 0)
        next = _mm_or_si128(_mm_and_si128(pass, next), _mm_andnot_si128(pass, old));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i), next);
    }
  }
#endif
  for (; i < n; ++i) {
    if ((texel[i] >> 24) * (diffuse[i] >> 24) < alphaMin) continue;
    if constexpr (kDepth) {
      BYTE* at = depthRow + static_cast<size_t>(x0 + i) * depthBytes;
      const uint32_t stored = LoadPixel(at, depthBytes);
      const uint32_t oldZ = (stored & depthMask) >> depthShift;
      if (!(zq[i] <= oldZ)) continue;
      if (depthWrite) {
        const uint32_t next = (stored & ~depthMask) | ((zq[i] << depthShift) & depthMask);
        if (next != stored) StorePixel(at, depthBytes, next);
      }
    }
    const uint32_t t = texel[i], d = diffuse[i];
    uint32_t color = t;
    if (d != 0xFFFFFFFFu) {
      color = 0;
      for (int s = 0; s < 32; s += 8) color |= Mul255(Ch(t, s), Ch(d, s)) << s;
    }
    uint32_t old;
    std::memcpy(&old, row + i, 4);
    if constexpr (kBlend) {
      // Each lane: (src * a + dst * (255 - a) + 127) / 255, at most 16 bits.
      const uint64_t a = color >> 24;
      const uint64_t sum =
          Spread(color) * a + Spread(old | opaque) * (255 - a) + 0x007F007F007F007Full;
      color = Gather((sum + 0x0001000100010001ull + ((sum >> 8) & 0x00FF00FF00FF00FFull)) >> 8);
    }
    const uint32_t next = (color & writeBits) | (old & ~writeBits);
    std::memcpy(row + i, &next, 4);
  }
}

// Whether AVX2 span loops may be chosen where the processor has them.
std::atomic<bool> wideVectors{true};

}  // namespace

FastSpanFn ChooseFastSpan(const Pipeline& p) {
  if (p.depthTest) return p.blend ? FastSpan<true, true> : FastSpan<true, false>;
  return p.blend ? FastSpan<false, true> : FastSpan<false, false>;
}

AffineSpanFn ChooseAffineSpan(const Pipeline& p) {
#ifdef VRT_AVX2_SPANS
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (avx2 && wideVectors.load(std::memory_order_relaxed)) return ChooseAffineSpanAvx2(p);
#endif
#ifdef __SSE2__
  return PickAffineSpan(p);
#else
  return nullptr;
#endif
}

}  // namespace vrt::d3d::raster

namespace vrt {

void SetRasterWideVectors(bool on) {
  d3d::raster::wideVectors.store(on, std::memory_order_relaxed);
}

}  // namespace vrt
