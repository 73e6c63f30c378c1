// The fragment stage: alpha test, stencil and depth tests, blending and the
// masked write of coloured fragments into the target.
#include "raster_internal.h"

namespace vrt::d3d::raster {

namespace {

bool Compare(DWORD func, uint32_t a, uint32_t b) {
  switch (func) {
    case D3DCMP_NEVER:
      return false;
    case D3DCMP_LESS:
      return a < b;
    case D3DCMP_EQUAL:
      return a == b;
    case D3DCMP_LESSEQUAL:
      return a <= b;
    case D3DCMP_GREATER:
      return a > b;
    case D3DCMP_NOTEQUAL:
      return a != b;
    case D3DCMP_GREATEREQUAL:
      return a >= b;
    default:
      return true;  // ALWAYS and unknown values
  }
}

uint32_t BlendFactor(DWORD f, int shift, uint32_t src, uint32_t dst) {
  const uint32_t as = src >> 24, ad = dst >> 24;
  switch (f) {
    case D3DBLEND_ZERO:
      return 0;
    case D3DBLEND_ONE:
      return 255;
    case D3DBLEND_SRCCOLOR:
      return Ch(src, shift);
    case D3DBLEND_INVSRCCOLOR:
      return 255 - Ch(src, shift);
    case D3DBLEND_SRCALPHA:
      return as;
    case D3DBLEND_INVSRCALPHA:
      return 255 - as;
    case D3DBLEND_DESTALPHA:
      return ad;
    case D3DBLEND_INVDESTALPHA:
      return 255 - ad;
    case D3DBLEND_DESTCOLOR:
      return Ch(dst, shift);
    case D3DBLEND_INVDESTCOLOR:
      return 255 - Ch(dst, shift);
    case D3DBLEND_SRCALPHASAT:
      return shift == 24 ? 255 : std::min(as, 255 - ad);
    default:
      return 255;
  }
}

uint32_t Blend(const Pipeline& p, uint32_t src, uint32_t dst) {
  uint32_t out = 0;
  if (p.blendSrcAlpha) {
    const uint32_t a = src >> 24;
    for (int s = 0; s < 32; s += 8)
      out |= ((Ch(src, s) * a + Ch(dst, s) * (255 - a) + 127) / 255) << s;
    return out;
  }
  for (int s = 0; s < 32; s += 8) {
    const uint32_t cs = Ch(src, s), cd = Ch(dst, s);
    uint32_t v;
    switch (p.blendOp) {
      case D3DBLENDOP_MIN:
        v = std::min(cs, cd);
        break;
      case D3DBLENDOP_MAX:
        v = std::max(cs, cd);
        break;
      default: {
        const int a = static_cast<int>(cs * BlendFactor(p.srcBlend, s, src, dst));
        const int b = static_cast<int>(cd * BlendFactor(p.dstBlend, s, src, dst));
        const int sum = p.blendOp == D3DBLENDOP_SUBTRACT      ? a - b
                        : p.blendOp == D3DBLENDOP_REVSUBTRACT ? b - a
                                                              : a + b;
        v = sum <= 0 ? 0u : std::min(255u, static_cast<uint32_t>(sum + 127) / 255);
        break;
      }
    }
    out |= v << s;
  }
  return out;
}

uint32_t StencilOp(const Pipeline& p, DWORD op, uint32_t s) {
  switch (op) {
    case D3DSTENCILOP_ZERO:
      return 0;
    case D3DSTENCILOP_REPLACE:
      return p.stencilRef;
    case D3DSTENCILOP_INCRSAT:
      return s < p.stencilMax ? s + 1 : s;
    case D3DSTENCILOP_DECRSAT:
      return s > 0 ? s - 1 : 0;
    case D3DSTENCILOP_INVERT:
      return ~s & p.stencilMax;
    case D3DSTENCILOP_INCR:
      return (s + 1) & p.stencilMax;
    case D3DSTENCILOP_DECR:
      return (s - 1) & p.stencilMax;
    default:  // KEEP
      return s;
  }
}

// Depth, stencil, blending and the write of one fragment already coloured.
// `alpha255` is the alpha the alpha test compares, times 255 (see RunStages).
[[gnu::always_inline]] inline void WriteFragment(const Pipeline& p, int x, int y, float z,
                                                 uint32_t color, uint32_t alpha255) {
  if (p.alphaTest && !Compare(p.alphaFunc, alpha255, p.alphaRef * 255)) return;
  if (p.depthTest || p.stencil) {
    BYTE* at = p.depthBits + static_cast<size_t>(y) * p.depthPitch +
               static_cast<size_t>(x) * p.depth.bytes;
    const uint32_t stored = LoadPixel(at, p.depth.bytes);
    const uint32_t depthMask = p.depthMask;
    const uint32_t oldZ = (stored & depthMask) >> p.depth.depthShift;
    const uint32_t oldS = stored & p.stencilMax;
    uint32_t newS = oldS;
    bool pass = true;
    if (p.stencil && !Compare(p.stencilFunc, p.stencilRef & p.stencilMask, oldS & p.stencilMask)) {
      newS = StencilOp(p, p.stencilFail, oldS);
      pass = false;
    }
    const uint32_t zq = QuantizeDepth(std::clamp(z, 0.0f, 1.0f), p.depth.depthBits);
    if (pass && p.depthTest && !Compare(p.depthFunc, zq, oldZ)) {
      if (p.stencil) newS = StencilOp(p, p.stencilZFail, oldS);
      pass = false;
    }
    if (pass && p.stencil) newS = StencilOp(p, p.stencilPass, oldS);
    uint32_t next = stored;
    if (p.stencil) next = (next & ~(p.stencilWriteMask)) | (newS & p.stencilWriteMask);
    if (pass && p.depthWrite) next = (next & ~depthMask) | ((zq << p.depth.depthShift) & depthMask);
    if (next != stored) StorePixel(at, p.depth.bytes, next);
    if (!pass) return;
  }
  BYTE* at = p.bits + static_cast<size_t>(y) * p.pitch + static_cast<size_t>(x) * p.bpp;
  const uint32_t old = LoadPixel(at, p.bpp);
  if (p.bpp == 4) {  // A8R8G8B8 and X8R8G8B8 store the colour as it is
    if (p.blend) color = Blend(p, color, p.format == D3DFMT_X8R8G8B8 ? old | 0xFF000000u : old);
    StorePixel(at, 4, (color & p.writeBits) | (old & ~p.writeBits));
    return;
  }
  if (p.blend) color = Blend(p, color, UnpackColor(p.format, old));
  const uint32_t packed = PackColor(p.format, color);
  StorePixel(at, p.bpp, (packed & p.writeBits) | (old & ~p.writeBits));
}

}  // namespace

void WriteSpan(const Pipeline& p, int x0, int y, int n, const float* z, const uint32_t* color,
               const uint32_t* alpha255) {
  for (int i = 0; i < n; ++i) WriteFragment(p, x0 + i, y, z[i], color[i], alpha255[i]);
}

}  // namespace vrt::d3d::raster
