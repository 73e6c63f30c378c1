// The dedicated span loop: the sprite state (one MODULATE stage, point
// sampling, SRCALPHA / INVSRCALPHA or no blending, LESSEQUAL depth or none,
// a 32-bit target) drawn a span at a time, bit for bit as the general path.
#include "raster_internal.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace vrt::d3d::raster {

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
// modulateOnly with point sampling, a 32-bit target, no stencil or alpha
// test, depth LESSEQUAL or off and SRCALPHA/INVSRCALPHA blending or none.
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
  const __m128 lo = _mm_set1_ps(-1.0e7f), hi = _mm_set1_ps(1.0e7f);
  auto floor4 = [&](const float* in, __m128 scale, int* out) {
    __m128 x = _mm_mul_ps(_mm_loadu_ps(in), scale);
    x = _mm_and_ps(x, _mm_cmpord_ps(x, x));  // NaN reads as 0
    x = _mm_min_ps(_mm_max_ps(x, lo), hi);   // no NaN left, so as the clamp
    const __m128i t = _mm_cvttps_epi32(x);
    const __m128 above = _mm_cmpgt_ps(_mm_cvtepi32_ps(t), x);  // all ones: -1
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_add_epi32(t, _mm_castps_si128(above)));
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
  BYTE* depthRow = kDepth ? p.depthBits + static_cast<size_t>(y) * p.depthPitch : nullptr;
  const UINT depthBytes = p.depth.bytes, depthBits = p.depth.depthBits,
             depthShift = p.depth.depthShift;
  const uint32_t depthMask = p.depthMask;
  const bool depthWrite = p.depthWrite;
  uint32_t* row = reinterpret_cast<uint32_t*>(p.bits + static_cast<size_t>(y) * p.pitch) + x0;
  const uint32_t opaque = p.format == D3DFMT_X8R8G8B8 ? 0xFF000000u : 0u;
  const uint32_t writeBits = p.writeBits;
  for (int i = 0; i < n; ++i) {
    if constexpr (kDepth) {
      BYTE* at = depthRow + static_cast<size_t>(x0 + i) * depthBytes;
      const uint32_t stored = LoadPixel(at, depthBytes);
      const uint32_t oldZ = (stored & depthMask) >> depthShift;
      const uint32_t zq = zFlat >= 0 ? static_cast<uint32_t>(zFlat)
                                     : QuantizeDepth(std::clamp(z[i], 0.0f, 1.0f), depthBits);
      if (!(zq <= oldZ)) continue;
      if (depthWrite) {
        const uint32_t next = (stored & ~depthMask) | ((zq << depthShift) & depthMask);
        if (next != stored) StorePixel(at, depthBytes, next);
      }
    }
    uint32_t t;
    if (static_cast<unsigned>(tx[i]) < static_cast<unsigned>(tw) &&
        static_cast<unsigned>(ty[i]) < static_cast<unsigned>(th)) {
      t = texels[static_cast<size_t>(ty[i]) * tw + tx[i]];
    } else {
      bool border = false;
      const int ax = AddressOf(tx[i], tw, addressU, &border);
      const int ay = AddressOf(ty[i], th, addressV, &border);
      t = border ? borderColor : texels[static_cast<size_t>(ay) * tw + ax];
    }
    const uint32_t d = diffuse[i];
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

}  // namespace

FastSpanFn ChooseFastSpan(const Pipeline& p) {
  if (p.depthTest) return p.blend ? FastSpan<true, true> : FastSpan<true, false>;
  return p.blend ? FastSpan<false, true> : FastSpan<false, false>;
}

}  // namespace vrt::d3d::raster
