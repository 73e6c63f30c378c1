// The software rasteriser. Each draw resolves the device state once into a
// Pipeline (formats, tests, blend factors, decoded textures), transforms and
// clips its vertices, and fills pixel spans in chunks.
//
// Rules kept exact and deterministic:
// - Pixel centres are at integer coordinates; vertices (of lines and points
//   too) snap to 1/256 pixel and triangle coverage uses integer edge functions with the top-left convention,
//   so triangles sharing an edge cover each pixel once.
// - Colours are 8 bits per channel. Interpolated colours round to nearest.
//   Modulate is round(a * b / 255); add saturates at 255; blending computes
//   (src * srcFactor + dst * dstFactor + 127) / 255, saturated.
// - Bilinear weights are 8-bit (round(fraction * 256)); each channel is
//   (sum of texel * weight + 32768) >> 16.
// - Depth is stored as round(z * (2^bits - 1)); fragment z is clamped to 0..1.
// - Lines step along their major axis one pixel per unit, rounding the minor
//   coordinate at pixel centres; a line exactly between two rows (columns)
//   takes the upper (left) one, as Direct3D does. The last pixel is drawn
//   only with D3DRS_LASTPIXEL. A point is a one-pixel square under the
//   top-left rule: it covers the pixel whose centre is nearest, and one
//   exactly between two pixels covers the upper or left one.
#include "raster.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <system_error>
#include <thread>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "desktop.h"
#include "pixels.h"
#include "ps14.h"

namespace vrt::d3d {

namespace {

std::atomic<bool> rasterizing{true};
// Tests turn the dedicated span loops off to compare them with the general one.
std::atomic<bool> fastPaths{true};

constexpr int kSubBits = 8;
constexpr int64_t kSub = 1 << kSubBits;
constexpr int kChunk = 64;
constexpr int kMaxTexSets = 8;
constexpr int kColorAttrs = 8;  // diffuse rgba, specular rgba (0..255)
constexpr int kMaxAttrs = kColorAttrs + 2 * kMaxTexSets;
constexpr int kMaxPolygon = 16;

inline uint32_t Ch(uint32_t c, int shift) { return (c >> shift) & 0xFF; }
// An interpolated 0..255 channel rounded to nearest; NaN reads as 0.
inline uint32_t ToByte(float v) {
  v += 0.5f;
  return static_cast<uint32_t>(v > 0.0f ? (v < 255.0f ? v : 255.0f) : 0.0f);
}
inline uint32_t Sat(int v) { return static_cast<uint32_t>(std::clamp(v, 0, 255)); }
constexpr uint32_t Mul255(uint32_t a, uint32_t b) {
  const uint32_t t = a * b + 128;
  return (t + (t >> 8)) >> 8;  // round(a * b / 255)
}

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

// --- Pipeline state resolved per draw ----------------------------------------

struct Stage {
  DWORD colorOp = D3DTOP_DISABLE, colorArg1 = 0, colorArg2 = 0;
  DWORD alphaOp = D3DTOP_DISABLE, alphaArg1 = 0, alphaArg2 = 0;
  bool textured = false;
  std::vector<uint32_t> texels;
  int tw = 0, th = 0;
  DWORD minFilter = D3DTEXF_POINT, magFilter = D3DTEXF_POINT;
  DWORD addressU = D3DTADDRESS_WRAP, addressV = D3DTADDRESS_WRAP;
  uint32_t border = 0;
  int texSet = 0;
  bool linear = false;  // chosen per triangle from minification
};

struct Pipeline {
  // Colour target.
  BYTE* bits = nullptr;
  UINT pitch = 0;
  D3DFORMAT format = D3DFMT_UNKNOWN;
  UINT bpp = 4;
  // Scissor: the viewport within the target (and depth surface).
  int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // half-open
  // Depth and stencil.
  BYTE* depthBits = nullptr;
  UINT depthPitch = 0;
  DepthLayout depth;
  uint32_t depthMask = 0;  // the depth bits of a stored value
  bool depthTest = false, depthWrite = false;
  DWORD depthFunc = D3DCMP_LESSEQUAL;
  bool stencil = false;
  DWORD stencilFunc = D3DCMP_ALWAYS, stencilFail = 0, stencilZFail = 0, stencilPass = 0;
  uint32_t stencilRef = 0, stencilMask = 0, stencilWriteMask = 0, stencilMax = 0;
  // Alpha test.
  bool alphaTest = false;
  DWORD alphaFunc = D3DCMP_ALWAYS;
  uint32_t alphaRef = 0;
  // Blending and writes.
  bool blend = false;
  DWORD srcBlend = D3DBLEND_ONE, dstBlend = D3DBLEND_ZERO, blendOp = D3DBLENDOP_ADD;
  uint32_t writeBits = 0;
  bool specularAdd = false;
  bool needSpecular = true;    // some stage, the shader or SPECULARENABLE reads it
  bool modulateOnly = false;   // the common single textured MODULATE stage
  bool blendSrcAlpha = false;  // SRCALPHA, INVSRCALPHA, ADD
  bool fast = false;           // FastSpan applies (texture filter still checked per triangle)
  uint32_t textureFactor = 0xFFFFFFFF;
  // Texture stages up to the first disabled one.
  Stage stages[kTextureStages];
  int stageCount = 0;
  // A ps.1.4 shader replaces the stages; stages 0..5 then only sample.
  bool shaded = false;
  PsProgram program;
  float constants[8][4] = {};
  // Viewport.
  float vx = 0, vy = 0, vw = 0, vh = 0, minZ = 0, maxZ = 1;
  bool flat = false;
  DWORD cull = D3DCULL_CCW;
  bool lastPixel = true;
};

bool UsesArg(DWORD op, int which) {
  if (op == D3DTOP_SELECTARG1) return which == 1;
  if (op == D3DTOP_SELECTARG2) return which == 2;
  return true;
}

bool IsTextureArg(DWORD arg) { return (arg & D3DTA_SELECTMASK) == D3DTA_TEXTURE; }

// A stage whose texture is missing passes its other argument on: with no
// texture bound, MODULATE or ADD of TEXTURE and DIFFUSE give the diffuse colour.
void DropTextureArg(DWORD* op, DWORD* arg1, DWORD* arg2) {
  const bool t1 = UsesArg(*op, 1) && IsTextureArg(*arg1);
  const bool t2 = UsesArg(*op, 2) && IsTextureArg(*arg2);
  if (!t1 && !t2) return;
  if (t1 && !t2 && UsesArg(*op, 2)) {
    *op = D3DTOP_SELECTARG2;
  } else if (t2 && !t1 && UsesArg(*op, 1)) {
    *op = D3DTOP_SELECTARG1;
  } else {
    *op = D3DTOP_SELECTARG1;
    *arg1 = D3DTA_CURRENT;
  }
}

// False when nothing can be drawn (no writable target, empty viewport).
bool Resolve(const DeviceState& s, Pipeline* p) {
  Surface* rt = s.renderTarget;
  if (!rt || !rt->bits() || !IsWritableColorFormat(rt->format())) return false;
  const DWORD* rs = s.renderStates;
  p->bits = rt->bits();
  p->pitch = rt->pitch();
  p->format = rt->format();
  p->bpp = BytesPerPixel(p->format);
  const D3DVIEWPORT8& v = s.viewport;
  p->x0 = static_cast<int>(std::min<UINT>(v.X, rt->width()));
  p->y0 = static_cast<int>(std::min<UINT>(v.Y, rt->height()));
  p->x1 = static_cast<int>(std::min<uint64_t>(uint64_t{v.X} + v.Width, rt->width()));
  p->y1 = static_cast<int>(std::min<uint64_t>(uint64_t{v.Y} + v.Height, rt->height()));
  p->vx = static_cast<float>(v.X);
  p->vy = static_cast<float>(v.Y);
  p->vw = static_cast<float>(v.Width);
  p->vh = static_cast<float>(v.Height);
  p->minZ = v.MinZ;
  p->maxZ = v.MaxZ;

  Surface* ds = s.depthStencil;
  DepthLayout layout;
  if (ds && ds->bits() && DescribeDepth(ds->format(), &layout)) {
    p->depthBits = ds->bits();
    p->depthPitch = ds->pitch();
    p->depth = layout;
    p->depthMask =
        layout.depthBits >= 32 ? 0xFFFFFFFFu : ((1u << layout.depthBits) - 1) << layout.depthShift;
    p->depthTest = rs[D3DRS_ZENABLE] != D3DZB_FALSE;
    p->depthWrite = p->depthTest && rs[D3DRS_ZWRITEENABLE];
    p->depthFunc = rs[D3DRS_ZFUNC];
    p->stencil = rs[D3DRS_STENCILENABLE] && layout.stencilBits > 0;
    p->stencilMax = (1u << layout.stencilBits) - 1;
    p->stencilFunc = rs[D3DRS_STENCILFUNC];
    p->stencilFail = rs[D3DRS_STENCILFAIL];
    p->stencilZFail = rs[D3DRS_STENCILZFAIL];
    p->stencilPass = rs[D3DRS_STENCILPASS];
    p->stencilRef = rs[D3DRS_STENCILREF] & p->stencilMax;
    p->stencilMask = rs[D3DRS_STENCILMASK] & p->stencilMax;
    p->stencilWriteMask = rs[D3DRS_STENCILWRITEMASK] & p->stencilMax;
    if (p->depthTest || p->stencil) {
      p->x1 = std::min(p->x1, static_cast<int>(ds->width()));
      p->y1 = std::min(p->y1, static_cast<int>(ds->height()));
    }
  }
  if (p->x0 >= p->x1 || p->y0 >= p->y1) return false;

  p->alphaTest = rs[D3DRS_ALPHATESTENABLE] != FALSE;
  p->alphaFunc = rs[D3DRS_ALPHAFUNC];
  p->alphaRef = rs[D3DRS_ALPHAREF] & 0xFF;
  p->blend = rs[D3DRS_ALPHABLENDENABLE] != FALSE;
  p->srcBlend = rs[D3DRS_SRCBLEND];
  p->dstBlend = rs[D3DRS_DESTBLEND];
  p->blendOp = rs[D3DRS_BLENDOP];
  if (p->srcBlend == D3DBLEND_BOTHSRCALPHA) {
    p->srcBlend = D3DBLEND_SRCALPHA;
    p->dstBlend = D3DBLEND_INVSRCALPHA;
  } else if (p->srcBlend == D3DBLEND_BOTHINVSRCALPHA) {
    p->srcBlend = D3DBLEND_INVSRCALPHA;
    p->dstBlend = D3DBLEND_SRCALPHA;
  }
  p->writeBits = ChannelBits(p->format, rs[D3DRS_COLORWRITEENABLE]);
  p->specularAdd = rs[D3DRS_SPECULARENABLE] != FALSE;
  p->textureFactor = rs[D3DRS_TEXTUREFACTOR];
  p->flat = rs[D3DRS_SHADEMODE] == D3DSHADE_FLAT;
  p->cull = rs[D3DRS_CULLMODE];
  p->lastPixel = rs[D3DRS_LASTPIXEL] != FALSE;

  p->stageCount = 0;
  for (DWORD i = 0; i < kTextureStages; ++i) {
    const DWORD* ts = s.stageStates[i];
    if (ts[D3DTSS_COLOROP] == D3DTOP_DISABLE) break;
    Stage& st = p->stages[i];
    st.colorOp = ts[D3DTSS_COLOROP];
    st.colorArg1 = ts[D3DTSS_COLORARG1];
    st.colorArg2 = ts[D3DTSS_COLORARG2];
    st.alphaOp = ts[D3DTSS_ALPHAOP];
    st.alphaArg1 = ts[D3DTSS_ALPHAARG1];
    st.alphaArg2 = ts[D3DTSS_ALPHAARG2];
    st.textured = false;
    Texture* t = s.textures[i];
    if (t && t->levelCount() > 0 && DecodeSurface(t->level(0), &st.texels)) {
      st.textured = true;
      st.tw = static_cast<int>(t->level(0)->width());
      st.th = static_cast<int>(t->level(0)->height());
    }
    if (!st.textured) {
      DropTextureArg(&st.colorOp, &st.colorArg1, &st.colorArg2);
      if (st.alphaOp != D3DTOP_DISABLE) DropTextureArg(&st.alphaOp, &st.alphaArg1, &st.alphaArg2);
    }
    st.minFilter = ts[D3DTSS_MINFILTER];
    st.magFilter = ts[D3DTSS_MAGFILTER];
    st.addressU = ts[D3DTSS_ADDRESSU];
    st.addressV = ts[D3DTSS_ADDRESSV];
    st.border = ts[D3DTSS_BORDERCOLOR];
    st.texSet = static_cast<int>(ts[D3DTSS_TEXCOORDINDEX] & 0x7);
    p->stageCount = static_cast<int>(i) + 1;
  }
  if (p->stageCount == 1 && !p->specularAdd) {
    const Stage& st = p->stages[0];
    auto texDiffuse = [](DWORD a, DWORD b) {
      const bool diffuse = b == D3DTA_DIFFUSE || b == D3DTA_CURRENT;
      return a == D3DTA_TEXTURE && diffuse;
    };
    p->modulateOnly =
        st.textured && st.colorOp == D3DTOP_MODULATE && st.alphaOp == D3DTOP_MODULATE &&
        (texDiffuse(st.colorArg1, st.colorArg2) || texDiffuse(st.colorArg2, st.colorArg1)) &&
        (texDiffuse(st.alphaArg1, st.alphaArg2) || texDiffuse(st.alphaArg2, st.alphaArg1));
  }
  p->needSpecular = p->specularAdd;
  for (int i = 0; i < p->stageCount; ++i) {
    const Stage& st = p->stages[i];
    for (DWORD a : {st.colorArg1, st.colorArg2, st.alphaArg1, st.alphaArg2})
      if ((a & D3DTA_SELECTMASK) == D3DTA_SPECULAR) p->needSpecular = true;
  }
  p->blendSrcAlpha = p->srcBlend == D3DBLEND_SRCALPHA && p->dstBlend == D3DBLEND_INVSRCALPHA &&
                     p->blendOp == D3DBLENDOP_ADD;
  return true;
}

// Texture stages as samplers for a pixel shader: every stage with a texture.
void ResolveSamplers(const DeviceState& s, Pipeline* p) {
  p->stageCount = 6;
  for (DWORD i = 0; i < 6; ++i) {
    const DWORD* ts = s.stageStates[i];
    Stage& st = p->stages[i];
    st.textured = false;
    Texture* t = s.textures[i];
    if (t && t->levelCount() > 0 && DecodeSurface(t->level(0), &st.texels)) {
      st.textured = true;
      st.tw = static_cast<int>(t->level(0)->width());
      st.th = static_cast<int>(t->level(0)->height());
    }
    st.minFilter = ts[D3DTSS_MINFILTER];
    st.magFilter = ts[D3DTSS_MAGFILTER];
    st.addressU = ts[D3DTSS_ADDRESSU];
    st.addressV = ts[D3DTSS_ADDRESSV];
    st.border = ts[D3DTSS_BORDERCOLOR];
    st.texSet = static_cast<int>(ts[D3DTSS_TEXCOORDINDEX] & 0x7);
  }
  for (int c = 0; c < 8; ++c)
    for (int k = 0; k < 4; ++k) {
      // Constants hold -1..1 in these shaders.
      const float v = p->program.defined[c] ? p->program.constants[c][k] : s.pixelConstants[c][k];
      p->constants[c][k] = v == v ? std::clamp(v, -1.0f, 1.0f) : 0.0f;
    }
}

// --- Fragment processing ---------------------------------------------------

inline int AddressOf(int i, int n, DWORD mode, bool* border) {
  if (static_cast<unsigned>(i) < static_cast<unsigned>(n)) return i;  // every mode: as is
  switch (mode) {
    case D3DTADDRESS_CLAMP:
      return std::clamp(i, 0, n - 1);
    case D3DTADDRESS_BORDER:
      if (i < 0 || i >= n) *border = true;
      return std::clamp(i, 0, n - 1);
    case D3DTADDRESS_MIRROR: {
      const int m = ((i % (2 * n)) + 2 * n) % (2 * n);
      return m < n ? m : 2 * n - 1 - m;
    }
    case D3DTADDRESS_MIRRORONCE:
      return std::clamp(i < 0 ? -i - 1 : i, 0, n - 1);
    default:  // WRAP
      return ((i % n) + n) % n;
  }
}

// Texel-space coordinate, kept in a range integers can hold.
inline float Scaled(float u, int n) {
  const float v = u * static_cast<float>(n);
  return v == v ? std::clamp(v, -1.0e7f, 1.0e7f) : 0.0f;
}

[[gnu::always_inline]] inline uint32_t Fetch(const Stage& st, int x, int y) {
  bool border = false;
  const int ax = AddressOf(x, st.tw, st.addressU, &border);
  const int ay = AddressOf(y, st.th, st.addressV, &border);
  return border ? st.border : st.texels[static_cast<size_t>(ay) * st.tw + ax];
}

[[gnu::always_inline]] inline uint32_t Sample(const Stage& st, float u, float v) {
  if (!st.linear) {
    return Fetch(st, static_cast<int>(std::floor(Scaled(u, st.tw))),
                 static_cast<int>(std::floor(Scaled(v, st.th))));
  }
  const float fx = Scaled(u, st.tw) - 0.5f, fy = Scaled(v, st.th) - 0.5f;
  const float bx = std::floor(fx), by = std::floor(fy);
  int x = static_cast<int>(bx), y = static_cast<int>(by);
  int wx = static_cast<int>(std::lround((fx - bx) * 256.0f));
  int wy = static_cast<int>(std::lround((fy - by) * 256.0f));
  const uint32_t c00 = Fetch(st, x, y), c10 = Fetch(st, x + 1, y);
  const uint32_t c01 = Fetch(st, x, y + 1), c11 = Fetch(st, x + 1, y + 1);
  uint32_t out = 0;
  for (int s = 0; s < 32; s += 8) {
    const int top = static_cast<int>(Ch(c00, s)) * (256 - wx) + static_cast<int>(Ch(c10, s)) * wx;
    const int bot = static_cast<int>(Ch(c01, s)) * (256 - wx) + static_cast<int>(Ch(c11, s)) * wx;
    out |= static_cast<uint32_t>((top * (256 - wy) + bot * wy + 32768) >> 16) << s;
  }
  return out;
}

struct StageInputs {
  uint32_t diffuse, specular, current, texture, factor;
};

uint32_t Argument(DWORD arg, const StageInputs& in) {
  uint32_t v;
  switch (arg & D3DTA_SELECTMASK) {
    case D3DTA_DIFFUSE:
      v = in.diffuse;
      break;
    case D3DTA_TEXTURE:
      v = in.texture;
      break;
    case D3DTA_TFACTOR:
      v = in.factor;
      break;
    case D3DTA_SPECULAR:
      v = in.specular;
      break;
    default:  // CURRENT (TEMP reads as current too)
      v = in.current;
      break;
  }
  if (arg & D3DTA_COMPLEMENT) v = ~v;
  if (arg & D3DTA_ALPHAREPLICATE) v = (v >> 24) * 0x01010101u;
  return v;
}

// One channel of a texture-stage operation.
uint32_t Operate(DWORD op, uint32_t a, uint32_t b, const StageInputs& in) {
  auto lerp = [](uint32_t x, uint32_t y, uint32_t s) {
    return (x * s + y * (255 - s) + 127) / 255;
  };
  switch (op) {
    case D3DTOP_SELECTARG1:
      return a;
    case D3DTOP_SELECTARG2:
      return b;
    case D3DTOP_MODULATE:
      return Mul255(a, b);
    case D3DTOP_MODULATE2X:
      return std::min(255u, 2 * Mul255(a, b));
    case D3DTOP_MODULATE4X:
      return std::min(255u, 4 * Mul255(a, b));
    case D3DTOP_ADD:
      return std::min(255u, a + b);
    case D3DTOP_ADDSIGNED:
      return Sat(static_cast<int>(a + b) - 128);
    case D3DTOP_ADDSIGNED2X:
      return Sat(2 * (static_cast<int>(a + b) - 128));
    case D3DTOP_SUBTRACT:
      return Sat(static_cast<int>(a) - static_cast<int>(b));
    case D3DTOP_ADDSMOOTH:
      return std::min(255u, a + b - Mul255(a, b));
    case D3DTOP_BLENDDIFFUSEALPHA:
      return lerp(a, b, in.diffuse >> 24);
    case D3DTOP_BLENDTEXTUREALPHA:
      return lerp(a, b, in.texture >> 24);
    case D3DTOP_BLENDFACTORALPHA:
      return lerp(a, b, in.factor >> 24);
    case D3DTOP_BLENDCURRENTALPHA:
      return lerp(a, b, in.current >> 24);
    default:
      return Mul255(a, b);
  }
}

// The stages' colour. `alpha255` receives the alpha that the alpha test
// compares, times 255 and not rounded: hardware tests the product of a
// modulate before it is stored in 8 bits, so 15 x 128 / 255 = 7.53 fails a
// reference of 8 although it is written as 8.
uint32_t RunStages(const Pipeline& p, uint32_t diffuse, uint32_t specular, const float* tex,
                   uint32_t* alpha255) {
  if (p.modulateOnly) {
    // One stage modulating texture and diffuse colour and alpha.
    const Stage& st = p.stages[0];
    const uint32_t t = Sample(st, tex[2 * st.texSet], tex[2 * st.texSet + 1]);
    uint32_t out = 0;
    for (int s = 0; s < 32; s += 8) out |= Mul255(Ch(t, s), Ch(diffuse, s)) << s;
    *alpha255 = (t >> 24) * (diffuse >> 24);
    return out;
  }
  uint32_t exactAlpha = (diffuse >> 24) * 255;
  StageInputs in{diffuse, specular, diffuse, diffuse, p.textureFactor};
  for (int i = 0; i < p.stageCount; ++i) {
    const Stage& st = p.stages[i];
    in.texture = st.textured ? Sample(st, tex[2 * st.texSet], tex[2 * st.texSet + 1]) : diffuse;
    const uint32_t c1 = Argument(st.colorArg1, in), c2 = Argument(st.colorArg2, in);
    uint32_t out = 0;
    for (int s = 0; s < 24; s += 8) out |= Operate(st.colorOp, Ch(c1, s), Ch(c2, s), in) << s;
    if (st.alphaOp == D3DTOP_DISABLE) {
      out |= in.current & 0xFF000000u;
    } else {
      const uint32_t a1 = Argument(st.alphaArg1, in) >> 24, a2 = Argument(st.alphaArg2, in) >> 24;
      const uint32_t a = Operate(st.alphaOp, a1, a2, in);
      out |= a << 24;
      exactAlpha = st.alphaOp == D3DTOP_MODULATE ? a1 * a2 : a * 255;
    }
    in.current = out;
  }
  *alpha255 = exactAlpha;
  uint32_t c = in.current;
  if (p.specularAdd) {
    uint32_t out = c & 0xFF000000u;
    for (int s = 0; s < 24; s += 8) out |= std::min(255u, Ch(c, s) + Ch(specular, s)) << s;
    c = out;
  }
  return c;
}

// One pixel of a ps.1.4 program. Registers hold floats kept in -8..8; the
// result r0 is saturated and rounded to 8 bits per channel.
uint32_t RunShader(const Pipeline& p, uint32_t diffuse, uint32_t specular, const float* tex,
                   uint32_t* alpha255) {
  float r[6][4] = {};
  float v[2][4];
  for (int i = 0; i < 4; ++i) {
    const int shift = i == 3 ? 24 : 16 - 8 * i;
    v[0][i] = static_cast<float>(Ch(diffuse, shift)) / 255.0f;
    v[1][i] = static_cast<float>(Ch(specular, shift)) / 255.0f;
  }
  auto texcoord = [&](int m, float* out) {
    const int set = p.stages[m].texSet;
    out[0] = tex[2 * set];
    out[1] = tex[2 * set + 1];
    out[2] = 0.0f;
    out[3] = 1.0f;
  };
  for (const PsInstruction& in : p.program.code) {
    float s[3][4];
    for (int k = 0; k < in.sources; ++k) {
      const PsSource& src = in.src[k];
      float raw[4];
      switch (src.type) {
        case PsRegister::Temp:
          std::memcpy(raw, r[src.index], sizeof(raw));
          break;
        case PsRegister::Input:
          std::memcpy(raw, v[src.index], sizeof(raw));
          break;
        case PsRegister::Const:
          std::memcpy(raw, p.constants[src.index], sizeof(raw));
          break;
        case PsRegister::Texture:
          texcoord(src.index, raw);
          break;
      }
      for (int c = 0; c < 4; ++c) {
        const float x = raw[src.swizzle[c]];
        float y = x;
        switch (src.modifier) {
          case 1:
            y = -x;
            break;
          case 2:
            y = x - 0.5f;
            break;
          case 3:
            y = 0.5f - x;
            break;
          case 4:
            y = 2.0f * x - 1.0f;
            break;
          case 5:
            y = 1.0f - 2.0f * x;
            break;
          case 6:
            y = 1.0f - x;
            break;
          case 7:
            y = 2.0f * x;
            break;
          case 8:
            y = -2.0f * x;
            break;
          default:
            break;
        }
        s[k][c] = y;
      }
    }
    float res[4] = {0, 0, 0, 0};
    switch (in.opcode) {
      case D3DSIO_TEX: {
        float u = s[0][0], w = s[0][1];
        const float div = in.src[0].modifier == 9    ? s[0][2]
                          : in.src[0].modifier == 10 ? s[0][3]
                                                     : 1.0f;
        if (div != 0.0f && div != 1.0f) {
          u /= div;
          w /= div;
        }
        const Stage& st = p.stages[in.dest];
        const uint32_t c = st.textured ? Sample(st, u, w) : 0xFFFFFFFFu;
        for (int i = 0; i < 4; ++i)
          res[i] = static_cast<float>(Ch(c, i == 3 ? 24 : 16 - 8 * i)) / 255.0f;
        break;
      }
      case D3DSIO_TEXCOORD:
        res[0] = s[0][0], res[1] = s[0][1], res[2] = s[0][2], res[3] = 1.0f;
        break;
      case D3DSIO_MOV:
        std::memcpy(res, s[0], sizeof(res));
        break;
      case D3DSIO_ADD:
        for (int c = 0; c < 4; ++c) res[c] = s[0][c] + s[1][c];
        break;
      case D3DSIO_SUB:
        for (int c = 0; c < 4; ++c) res[c] = s[0][c] - s[1][c];
        break;
      case D3DSIO_MUL:
        for (int c = 0; c < 4; ++c) res[c] = s[0][c] * s[1][c];
        break;
      case D3DSIO_MAD:
        for (int c = 0; c < 4; ++c) res[c] = s[0][c] * s[1][c] + s[2][c];
        break;
      case D3DSIO_DP3: {
        const float d = s[0][0] * s[1][0] + s[0][1] * s[1][1] + s[0][2] * s[1][2];
        for (float& x : res) x = d;
        break;
      }
      case D3DSIO_DP4: {
        const float d =
            s[0][0] * s[1][0] + s[0][1] * s[1][1] + s[0][2] * s[1][2] + s[0][3] * s[1][3];
        for (float& x : res) x = d;
        break;
      }
      case D3DSIO_LRP:
        for (int c = 0; c < 4; ++c) res[c] = s[0][c] * s[1][c] + (1.0f - s[0][c]) * s[2][c];
        break;
      case D3DSIO_CND:
        for (int c = 0; c < 4; ++c) res[c] = s[0][c] > 0.5f ? s[1][c] : s[2][c];
        break;
      case D3DSIO_CMP:
        for (int c = 0; c < 4; ++c) res[c] = s[0][c] >= 0.0f ? s[1][c] : s[2][c];
        break;
      default:
        continue;
    }
    for (int c = 0; c < 4; ++c) {
      if (!(in.writeMask & (1 << c))) continue;
      float x = res[c] * in.scale;
      if (in.saturate) x = std::clamp(x, 0.0f, 1.0f);
      r[in.dest][c] = x == x ? std::clamp(x, -8.0f, 8.0f) : 0.0f;
    }
  }
  uint32_t out = 0;
  for (int i = 0; i < 4; ++i) {
    const float x = std::clamp(r[0][i], 0.0f, 1.0f) * 255.0f + 0.5f;
    out |= static_cast<uint32_t>(x) << (i == 3 ? 24 : 16 - 8 * i);
  }
  *alpha255 = static_cast<uint32_t>(std::clamp(r[0][3], 0.0f, 1.0f) * 65025.0f + 0.5f);
  return out;
}

inline uint32_t Shade(const Pipeline& p, uint32_t diffuse, uint32_t specular, const float* tex,
                      uint32_t* alpha255) {
  return p.shaded ? RunShader(p, diffuse, specular, tex, alpha255)
                  : RunStages(p, diffuse, specular, tex, alpha255);
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

inline uint32_t LoadPixel(const BYTE* at, UINT bytes) {
  if (bytes == 2) {
    uint16_t v;
    std::memcpy(&v, at, 2);
    return v;
  }
  uint32_t v;
  std::memcpy(&v, at, 4);
  return v;
}

inline void StorePixel(BYTE* at, UINT bytes, uint32_t v) {
  if (bytes == 2) {
    const uint16_t w = static_cast<uint16_t>(v);
    std::memcpy(at, &w, 2);
  } else {
    std::memcpy(at, &v, 4);
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
  const uint32_t* texels = st.texels.data();
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
    x = _mm_and_ps(x, _mm_cmpord_ps(x, x));    // NaN reads as 0
    x = _mm_min_ps(_mm_max_ps(x, lo), hi);     // no NaN left, so as the clamp
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

using FastSpanFn = void (*)(const Pipeline&, int, int, int, const float*, int64_t,
                            const uint32_t*, const float*, const float*);

FastSpanFn ChooseFastSpan(const Pipeline& p) {
  if (p.depthTest) return p.blend ? FastSpan<true, true> : FastSpan<true, false>;
  return p.blend ? FastSpan<false, true> : FastSpan<false, false>;
}

// --- Vertices --------------------------------------------------------------

struct VertexFormat {
  bool valid = false;
  bool rhw = false;
  int diffuse = -1, specular = -1;
  int tex[kMaxTexSets]{};
  int texDims[kMaxTexSets]{};
  int texSets = 0;
  UINT size = 0;
};

VertexFormat ParseFvf(DWORD fvf) {
  VertexFormat f;
  if (fvf & 1) return f;  // a shader handle: programmable vertices are not run
  UINT off = 0;
  switch (fvf & D3DFVF_POSITION_MASK) {
    case D3DFVF_XYZ:
      off = 12;
      break;
    case D3DFVF_XYZRHW:
      off = 16;
      f.rhw = true;
      break;
    case 0:
      return f;
    default:  // XYZB1..XYZB5: blend weights are skipped
      off = 12 + 4 * (((fvf & D3DFVF_POSITION_MASK) - D3DFVF_XYZ) / 2);
      break;
  }
  if (fvf & D3DFVF_NORMAL) off += 12;
  if (fvf & D3DFVF_PSIZE) off += 4;
  if (fvf & D3DFVF_DIFFUSE) {
    f.diffuse = static_cast<int>(off);
    off += 4;
  }
  if (fvf & D3DFVF_SPECULAR) {
    f.specular = static_cast<int>(off);
    off += 4;
  }
  f.texSets = static_cast<int>((fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT);
  if (f.texSets > kMaxTexSets) return f;
  static const int kDims[4] = {2, 3, 4, 1};
  for (int i = 0; i < f.texSets; ++i) {
    f.tex[i] = static_cast<int>(off);
    f.texDims[i] = kDims[(fvf >> (16 + 2 * i)) & 3];
    off += 4 * static_cast<UINT>(f.texDims[i]);
  }
  f.size = off;
  f.valid = f.size == FvfVertexSize(fvf);
  return f;
}

// A vertex in clip space (x, y, z, w), or for pretransformed vertices the
// screen position with w = 1/rhw; then colour and texture attributes.
struct ClipVertex {
  float pos[4];
  float attr[kMaxAttrs];
};

// A vertex on screen: x, y, z, 1/w, then the attributes multiplied by 1/w.
using ScreenVertex = float[4 + kMaxAttrs];

struct Lighting {
  bool on = false;
  float base[3]{};  // emissive + ambient * material ambient, when not per vertex
  DWORD ambientSource = D3DMCS_MATERIAL, emissiveSource = D3DMCS_MATERIAL;
  DWORD diffuseSource = D3DMCS_COLOR1;
  float ambient[4]{};
  D3DMATERIAL8 material{};
};

struct VertexSource {
  const BYTE* data = nullptr;
  uint64_t limit = 0;  // bytes readable from data
  UINT stride = 0;
  VertexFormat format;
  D3DMATRIX transform{};
  int attrs = kColorAttrs;
  Lighting light;
};

float ColorValue(const D3DCOLORVALUE& c, int i) {
  return i == 0 ? c.r : i == 1 ? c.g : i == 2 ? c.b : c.a;
}

void ColorFloats(uint32_t c, float* out) {
  out[0] = static_cast<float>(Ch(c, 16));
  out[1] = static_cast<float>(Ch(c, 8));
  out[2] = static_cast<float>(Ch(c, 0));
  out[3] = static_cast<float>(Ch(c, 24));
}

// False when the vertex lies outside the memory the draw may read.
bool FetchVertex(const VertexSource& src, uint64_t index, ClipVertex* out) {
  const uint64_t at = index * src.stride;
  if (at + src.format.size > src.limit) return false;
  const BYTE* v = src.data + at;
  float pos[4] = {0, 0, 0, 1};
  std::memcpy(pos, v, (src.format.rhw ? 4 : 3) * sizeof(float));
  if (src.format.rhw) {
    const float rhw = pos[3];
    out->pos[0] = pos[0];
    out->pos[1] = pos[1];
    out->pos[2] = pos[2];
    out->pos[3] = (rhw > 0.0f && std::isfinite(rhw)) ? 1.0f / rhw : 1.0f;
  } else {
    const D3DMATRIX& m = src.transform;
    for (int c = 0; c < 4; ++c)
      out->pos[c] = pos[0] * m.m[0][c] + pos[1] * m.m[1][c] + pos[2] * m.m[2][c] + m.m[3][c];
  }
  DWORD diffuse = 0xFFFFFFFF, specular = 0;
  if (src.format.diffuse >= 0) std::memcpy(&diffuse, v + src.format.diffuse, 4);
  if (src.format.specular >= 0) std::memcpy(&specular, v + src.format.specular, 4);
  ColorFloats(diffuse, out->attr);
  ColorFloats(specular, out->attr + 4);
  if (src.light.on) {
    // Lights are not evaluated: vertices get emissive plus ambient light,
    // with the material's colours taken from the vertex where the states ask.
    const Lighting& l = src.light;
    auto source = [&](DWORD which, const D3DCOLORVALUE& material, int i) {
      if (which == D3DMCS_COLOR1 && src.format.diffuse >= 0) return out->attr[i] / 255.0f;
      if (which == D3DMCS_COLOR2 && src.format.specular >= 0) return out->attr[4 + i] / 255.0f;
      return ColorValue(material, i == 3 ? 3 : i);
    };
    float lit[4];
    for (int i = 0; i < 3; ++i) {
      const float e = source(l.emissiveSource, l.material.Emissive, i);
      const float a = source(l.ambientSource, l.material.Ambient, i);
      lit[i] = std::clamp(e + a * l.ambient[i], 0.0f, 1.0f) * 255.0f;
    }
    lit[3] = std::clamp(source(l.diffuseSource, l.material.Diffuse, 3), 0.0f, 1.0f) * 255.0f;
    // rgb order in attr is r, g, b, a
    out->attr[0] = lit[0];
    out->attr[1] = lit[1];
    out->attr[2] = lit[2];
    out->attr[3] = lit[3];
    for (int i = 4; i < 8; ++i) out->attr[i] = 0.0f;
  }
  for (int t = 0; t < src.format.texSets; ++t) {
    float uv[2] = {0, 0};
    std::memcpy(uv, v + src.format.tex[t], (src.format.texDims[t] >= 2 ? 2 : 1) * sizeof(float));
    out->attr[kColorAttrs + 2 * t] = uv[0];
    out->attr[kColorAttrs + 2 * t + 1] = uv[1];
  }
  for (float f : out->pos)
    if (!std::isfinite(f)) return false;
  return true;
}

// Clips a polygon of `n` vertices of `size` floats against d(v) >= 0, with
// d(v) = dot(plane, v[0..3]) + plane[4]. Returns the new count.
int ClipPolygon(float (*in)[4 + kMaxAttrs], int n, float (*out)[4 + kMaxAttrs], int size,
                const float plane[5]) {
  auto dist = [&](const float* v) {
    return plane[0] * v[0] + plane[1] * v[1] + plane[2] * v[2] + plane[3] * v[3] + plane[4];
  };
  int m = 0;
  for (int i = 0; i < n && m < kMaxPolygon - 1; ++i) {
    const float* a = in[i];
    const float* b = in[(i + 1) % n];
    const float da = dist(a), db = dist(b);
    if (da >= 0) std::memcpy(out[m++], a, sizeof(float) * size);
    if ((da >= 0) != (db >= 0)) {
      const float t = da / (da - db);
      for (int k = 0; k < size; ++k) out[m][k] = a[k] + (b[k] - a[k]) * t;
      ++m;
    }
  }
  return m;
}

// --- Triangles -------------------------------------------------------------

inline int64_t FloorDiv(int64_t a, int64_t b) {  // b > 0
  return a >= 0 ? a / b : -((-a + b - 1) / b);
}

struct Plane {
  double a0, dx, dy;  // value at the first vertex, then per pixel in x and y
};

// `rowParity` 0 or 1 draws only the even or odd rows (one thread's share);
// -1 draws them all.
void RasterTriangle(Pipeline& p, const ScreenVertex* v[3], int attrs, int rowParity = -1) {
  int64_t X[3], Y[3];
  for (int i = 0; i < 3; ++i) {
    // The guard band keeps positions small; anything else (NaN) is dropped.
    if (!(std::fabs((*v[i])[0]) < 1e7f) || !(std::fabs((*v[i])[1]) < 1e7f)) return;
    X[i] = std::llround(static_cast<double>((*v[i])[0]) * kSub);
    Y[i] = std::llround(static_cast<double>((*v[i])[1]) * kSub);
  }
  int64_t area = (X[1] - X[0]) * (Y[2] - Y[0]) - (X[2] - X[0]) * (Y[1] - Y[0]);
  if (area == 0) return;
  // Positive area is clockwise on screen (y down).
  if ((p.cull == D3DCULL_CCW && area < 0) || (p.cull == D3DCULL_CW && area > 0)) return;
  int order[3] = {0, 1, 2};
  if (area < 0) {
    std::swap(order[1], order[2]);
    std::swap(X[1], X[2]);
    std::swap(Y[1], Y[2]);
    area = -area;
  }
  const ScreenVertex* s[3] = {v[order[0]], v[order[1]], v[order[2]]};

  // Pixel range: centres inside the bounding box and the scissor.
  const int64_t minX = std::min({X[0], X[1], X[2]}), maxX = std::max({X[0], X[1], X[2]});
  const int64_t minY = std::min({Y[0], Y[1], Y[2]}), maxY = std::max({Y[0], Y[1], Y[2]});
  const int px0 = static_cast<int>(std::max<int64_t>(p.x0, -FloorDiv(-minX, kSub)));
  const int px1 = static_cast<int>(std::min<int64_t>(p.x1 - 1, FloorDiv(maxX, kSub)));
  const int py0 = static_cast<int>(std::max<int64_t>(p.y0, -FloorDiv(-minY, kSub)));
  const int py1 = static_cast<int>(std::min<int64_t>(p.y1 - 1, FloorDiv(maxY, kSub)));
  if (px0 > px1 || py0 > py1) return;

  // Edge e from vertex e to e+1; inside where E >= 0 (> 0 off top-left edges).
  int64_t edx[3], edy[3], bias[3];
  for (int e = 0; e < 3; ++e) {
    const int b = (e + 1) % 3;
    edx[e] = X[b] - X[e];
    edy[e] = Y[b] - Y[e];
    const bool topLeft = edy[e] < 0 || (edy[e] == 0 && edx[e] > 0);
    bias[e] = topLeft ? 0 : -1;
  }

  // Attribute planes over the snapped positions.
  const double fx0 = static_cast<double>(X[0]) / kSub, fy0 = static_cast<double>(Y[0]) / kSub;
  const double x10 = static_cast<double>(X[1] - X[0]) / kSub,
               y10 = static_cast<double>(Y[1] - Y[0]) / kSub;
  const double x20 = static_cast<double>(X[2] - X[0]) / kSub,
               y20 = static_cast<double>(Y[2] - Y[0]) / kSub;
  const double det = x10 * y20 - x20 * y10;
  const int count = 2 + attrs;  // z, rhw, attributes
  Plane planes[2 + kMaxAttrs];
  for (int k = 0; k < count; ++k) {
    const double a0 = (*s[0])[2 + k], a1 = (*s[1])[2 + k], a2 = (*s[2])[2 + k];
    planes[k].a0 = a0;
    planes[k].dx = ((a1 - a0) * y20 - (a2 - a0) * y10) / det;
    planes[k].dy = ((a2 - a0) * x10 - (a1 - a0) * x20) / det;
  }
  // Equal 1/w everywhere: attributes are affine on screen and need no divide.
  const bool perspective = !((*s[0])[3] == (*s[1])[3] && (*s[1])[3] == (*s[2])[3]);
  if (!perspective) {
    const double w = 1.0 / (*s[0])[3];
    for (int k = 2; k < count; ++k) {
      planes[k].a0 *= w;
      planes[k].dx *= w;
      planes[k].dy *= w;
    }
  }
  // Filters: minification when a pixel step spans more than one texel.
  const double rhwMean = ((*s[0])[3] + (*s[1])[3] + (*s[2])[3]) / 3.0;
  for (int i = 0; i < p.stageCount; ++i) {
    Stage& st = p.stages[i];
    if (!st.textured) continue;
    const int k = 2 + kColorAttrs + 2 * st.texSet;
    const double scale = perspective ? 1.0 / rhwMean : 1.0;
    const double du = std::max(std::fabs(planes[k].dx), std::fabs(planes[k].dy)) * scale * st.tw;
    const double dv =
        std::max(std::fabs(planes[k + 1].dx), std::fabs(planes[k + 1].dy)) * scale * st.th;
    const DWORD filter = std::max(du, dv) > 1.0 ? st.minFilter : st.magFilter;
    st.linear = filter != D3DTEXF_POINT && filter != D3DTEXF_NONE;
  }

  float buf[2 + kMaxAttrs][kChunk];
  // Attributes the pixels read: 1/w only for perspective, specular on demand.
  bool needed[2 + kMaxAttrs];
  for (int k = 0; k < count; ++k)
    needed[k] = (k != 1 || perspective) && (p.needSpecular || k < 6 || k >= 2 + kColorAttrs);
  float tex[2 * kMaxTexSets] = {};  // sets the vertices lack read as zero
  const int texFloats = std::min(2 * kMaxTexSets, count - 2 - kColorAttrs);
  const int uk = 2 + kColorAttrs + 2 * p.stages[0].texSet;
  const FastSpanFn fast = p.fast && !p.stages[0].linear && uk + 1 < count ? ChooseFastSpan(p)
                                                                          : nullptr;
  // Planes constant over the triangle (2-D sprites: depth and often colour);
  // only the fast path reads them without filling a buffer.
  bool flatPlane[2 + kMaxAttrs] = {};
  if (fast && !perspective)
    for (int k = 0; k < 6; ++k) flatPlane[k] = k != 1 && planes[k].dx == 0.0 && planes[k].dy == 0.0;
  const bool flatDiffuse = flatPlane[2] && flatPlane[3] && flatPlane[4] && flatPlane[5];
  // Edge e: E(px) = K - edy * kSub * px, with K growing by edx * kSub a row.
  // The span bound floor(K / |edy * kSub|) is kept as quotient and remainder
  // and stepped a row at a time, saving a 64-bit divide per edge and row.
  int64_t eq[3] = {}, er[3] = {}, eqStep[3] = {}, erStep[3] = {}, eD[3] = {1, 1, 1}, eK[3],
          eKStep[3];
  int eSign[3];
  for (int e = 0; e < 3; ++e) {
    eK[e] = edx[e] * (int64_t{py0} * kSub - Y[e]) + edy[e] * X[e] + bias[e];
    eKStep[e] = edx[e] * kSub;
    const int64_t step = edy[e] * kSub;
    eSign[e] = step > 0 ? 1 : step < 0 ? -1 : 0;
    if (eSign[e] == 0) continue;
    eD[e] = step > 0 ? step : -step;
    eq[e] = FloorDiv(eK[e], eD[e]);
    er[e] = eK[e] - eq[e] * eD[e];
    eqStep[e] = FloorDiv(eKStep[e], eD[e]);
    erStep[e] = eKStep[e] - eqStep[e] * eD[e];
  }
  for (int py = py0; py <= py1; ++py) {
    // Span where all three edge functions pass at pixel centres.
    int64_t lo = px0, hi = px1;
    for (int e = 0; e < 3; ++e) {
      if (eSign[e] == 0) {
        if (eK[e] < 0) lo = hi + 1;
      } else if (eSign[e] > 0) {
        hi = std::min(hi, eq[e]);
      } else {
        lo = std::max(lo, -eq[e]);
      }
      eK[e] += eKStep[e];
      eq[e] += eqStep[e];
      er[e] += erStep[e];
      if (er[e] >= eD[e]) {
        er[e] -= eD[e];
        ++eq[e];
      }
    }
    if (rowParity >= 0 && (py & 1) != rowParity) continue;
    const int nextRow = py + (rowParity >= 0 ? 2 : 1);
    if (fast && lo <= hi && nextRow <= py1) {
      // Sprites land anywhere in buffers larger than the caches: ask for this
      // thread's next row (about this span) while the current one is drawn.
      const BYTE* c = p.bits + static_cast<size_t>(nextRow) * p.pitch;
      for (int64_t x = lo; x <= hi; x += 16) __builtin_prefetch(c + x * 4, 1);
      __builtin_prefetch(c + hi * 4, 1);
      if (p.depthTest) {
        const BYTE* d = p.depthBits + static_cast<size_t>(nextRow) * p.depthPitch;
        for (int64_t x = lo; x <= hi; x += 16) __builtin_prefetch(d + x * p.depth.bytes, 1);
        __builtin_prefetch(d + hi * p.depth.bytes, 1);
      }
    }
    for (int64_t start = lo; start <= hi; start += kChunk) {
      const int n = static_cast<int>(std::min<int64_t>(kChunk, hi - start + 1));
      const double ox = static_cast<double>(start) - fx0, oy = static_cast<double>(py) - fy0;
      float bases[2 + kMaxAttrs];
      for (int k = 0; k < count; ++k) {
        if (!needed[k]) continue;
        const float base = static_cast<float>(planes[k].a0 + planes[k].dx * ox + planes[k].dy * oy);
        bases[k] = base;
        if (flatPlane[k]) continue;
        const float dx = static_cast<float>(planes[k].dx);
        float* out = buf[k];
        for (int i = 0; i < n; ++i) out[i] = base + dx * static_cast<float>(i);
      }
      if (perspective) {
        float w[kChunk];
        for (int i = 0; i < n; ++i) w[i] = buf[1][i] != 0.0f ? 1.0f / buf[1][i] : 0.0f;
        for (int k = 2; k < count; ++k)
          if (needed[k])
            for (int i = 0; i < n; ++i) buf[k][i] *= w[i];
      }
      if (fast) {
        // A flat plane's value is base + 0 at every pixel, which converts as
        // base does (only the sign of a zero can differ).
        uint32_t diffuse[kChunk];
        if (flatDiffuse) {
          uint32_t c = 0;
          for (int j = 0; j < 4; ++j) c |= ToByte(bases[2 + j]) << (j == 3 ? 24 : 16 - 8 * j);
          std::fill(diffuse, diffuse + n, c);
        } else {
          for (int i = 0; i < n; ++i) {
            uint32_t c = 0;
            for (int j = 0; j < 4; ++j) c |= ToByte(buf[2 + j][i]) << (j == 3 ? 24 : 16 - 8 * j);
            diffuse[i] = c;
          }
        }
        int64_t zFlat = -1;
        if (flatPlane[0]) zFlat = QuantizeDepth(std::clamp(bases[0], 0.0f, 1.0f), p.depth.depthBits);
        fast(p, static_cast<int>(start), py, n, buf[0], zFlat, diffuse, buf[uk], buf[uk + 1]);
        continue;
      }
      // Colours to 8 bits, rounded to nearest.
      uint32_t diffuse[kChunk], specular[kChunk];
      auto pack = [&](int k, uint32_t* out) {
        for (int i = 0; i < n; ++i) {
          uint32_t c = 0;
          for (int j = 0; j < 4; ++j) {
            c |= ToByte(buf[2 + k + j][i]) << (j == 3 ? 24 : 16 - 8 * j);
          }
          out[i] = c;
        }
      };
      pack(0, diffuse);
      if (p.needSpecular) {
        pack(4, specular);
      } else {
        std::fill(specular, specular + n, 0u);
      }
      for (int i = 0; i < n; ++i) {
        for (int t = 0; t < texFloats; ++t) tex[t] = buf[2 + kColorAttrs + t][i];
        const int x = static_cast<int>(start) + i;
        uint32_t alpha255;
        const uint32_t color = Shade(p, diffuse[i], specular[i], tex, &alpha255);
        WriteFragment(p, x, py, buf[0][i], color, alpha255);
      }
    }
  }
}

// --- Lines and points ------------------------------------------------------

// A fragment at (x, y) with the attributes of `a` and `b` mixed at t.
void ShadeAt(const Pipeline& p, const ScreenVertex& a, const ScreenVertex& b, float t, int x, int y,
             int attrs) {
  if (x < p.x0 || x >= p.x1 || y < p.y0 || y >= p.y1) return;
  float v[4 + kMaxAttrs];
  for (int k = 2; k < 4 + attrs; ++k) v[k] = a[k] + (b[k] - a[k]) * t;
  const float w = v[3] != 0.0f ? 1.0f / v[3] : 0.0f;
  auto channel = [&](int k) { return ToByte(v[4 + k] * w); };
  const uint32_t diffuse = channel(3) << 24 | channel(0) << 16 | channel(1) << 8 | channel(2);
  const uint32_t specular = channel(7) << 24 | channel(4) << 16 | channel(5) << 8 | channel(6);
  float tex[2 * kMaxTexSets] = {};
  for (int t2 = 0; t2 < 2 * kMaxTexSets && kColorAttrs + t2 < attrs; ++t2)
    tex[t2] = v[4 + kColorAttrs + t2] * w;
  uint32_t alpha255;
  const uint32_t color = Shade(p, diffuse, specular, tex, &alpha255);
  WriteFragment(p, x, y, v[2], color, alpha255);
}

// A screen coordinate on the 1/kSub pixel grid triangles are rasterised on.
inline double SnapToGrid(float v) {
  return static_cast<double>(std::llround(static_cast<double>(v) * kSub)) / kSub;
}

void RasterLine(Pipeline& p, const ScreenVertex& a, const ScreenVertex& b, int attrs, bool last) {
  for (int i = 0; i < p.stageCount; ++i)
    p.stages[i].linear = p.stages[i].magFilter == D3DTEXF_LINEAR;
  for (float c : {a[0], a[1], b[0], b[1]})
    if (!(std::fabs(c) < 1e7f)) return;
  // Snapped to the sub-pixel grid like triangle vertices, so that a vertex
  // meant to lie between two pixels (x.5) is not pushed across by the
  // rounding of the transforms.
  const double ax = SnapToGrid(a[0]), ay = SnapToGrid(a[1]);
  const double bx = SnapToGrid(b[0]), by = SnapToGrid(b[1]);
  const double dx = bx - ax, dy = by - ay;
  const bool xMajor = std::fabs(dx) >= std::fabs(dy);
  const double major0 = xMajor ? ax : ay, major1 = xMajor ? bx : by;
  const double len = major1 - major0;
  if (len == 0) return;
  // Pixel centres along the major axis from the first vertex up to the last.
  const double dir = len > 0 ? 1 : -1;
  // The nearest centres to the two ends; an end exactly between two pixels
  // takes the one further along the line, so a line drawn backwards covers
  // the mirror image of the same line drawn forwards.
  auto nearest = [dir](double m) { return dir > 0 ? std::floor(m + 0.5) : std::ceil(m - 0.5); };
  int64_t first = static_cast<int64_t>(nearest(major0));
  int64_t end = static_cast<int64_t>(nearest(major1));
  const int64_t bound = 1 << 20;
  first = std::clamp<int64_t>(first, -bound, bound);
  end = std::clamp<int64_t>(end, -bound, bound);
  if (!last) end -= static_cast<int64_t>(dir);
  const double slope = (xMajor ? dy : dx) / len;
  const double minor0 = xMajor ? ay : ax;
  const int64_t limit = xMajor ? std::max(p.x1, 0) : std::max(p.y1, 0);
  for (int64_t m = first; dir > 0 ? m <= end : m >= end; m += static_cast<int64_t>(dir)) {
    if ((dir > 0 && m >= limit) || (dir < 0 && m < 0)) break;
    if ((dir > 0 && m < 0) || (dir < 0 && m >= limit)) continue;
    const double t = std::clamp((static_cast<double>(m) - major0) / len, 0.0, 1.0);
    const double minor = minor0 + slope * (static_cast<double>(m) - major0);
    const double mr = std::ceil(minor - 0.5);
    if (!(std::fabs(mr) < bound)) continue;
    const int x = static_cast<int>(xMajor ? m : static_cast<int64_t>(mr));
    const int y = static_cast<int>(xMajor ? static_cast<int64_t>(mr) : m);
    ShadeAt(p, a, b, static_cast<float>(t), x, y, attrs);
  }
}

void RasterPoint(Pipeline& p, const ScreenVertex& a, int attrs) {
  for (int i = 0; i < p.stageCount; ++i)
    p.stages[i].linear = p.stages[i].magFilter == D3DTEXF_LINEAR;
  if (!(std::fabs(a[0]) < (1 << 24)) || !(std::fabs(a[1]) < (1 << 24))) return;
  const double fx = std::ceil(SnapToGrid(a[0]) - 0.5), fy = std::ceil(SnapToGrid(a[1]) - 0.5);
  ShadeAt(p, a, a, 0.0f, static_cast<int>(fx), static_cast<int>(fy), attrs);
}

// --- Draws -----------------------------------------------------------------

D3DMATRIX Multiply(const D3DMATRIX& a, const D3DMATRIX& b) {
  D3DMATRIX r{};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      for (int k = 0; k < 4; ++k) r.m[i][j] += a.m[i][k] * b.m[k][j];
  return r;
}

class Drawer {
 public:
  Drawer(Pipeline& p, const VertexSource& src, bool rhw) : p_(p), src_(src), rhw_(rhw) {}

  // Clips a primitive of `n` (1..3) vertices and draws what is left.
  void Primitive(const ClipVertex* v, int n) {
    const int size = 4 + src_.attrs;
    float poly[kMaxPolygon][4 + kMaxAttrs];
    float tmp[kMaxPolygon][4 + kMaxAttrs];
    for (int i = 0; i < n; ++i) {
      std::memcpy(poly[i], v[i].pos, sizeof(v[i].pos));
      std::memcpy(poly[i] + 4, v[i].attr, sizeof(float) * src_.attrs);
    }
    int m = n;
    if (!rhw_) {
      // Near (z >= 0), far (z <= w) and w > 0, in clip space.
      static const float kPlanes[3][5] = {{0, 0, 1, 0, 0}, {0, 0, -1, 1, 0}, {0, 0, 0, 1, -1e-6f}};
      if (n == 1) {
        const float* q = poly[0];
        if (q[2] < 0 || q[2] > q[3] || q[3] <= 1e-6f) return;
      } else {
        for (const auto& pl : kPlanes) {
          m = ClipPolygon(poly, m, tmp, size, pl);
          std::memcpy(poly, tmp, sizeof(float) * (4 + kMaxAttrs) * static_cast<size_t>(m));
          if (m < n) return;
        }
      }
    }
    ScreenVertex sv[kMaxPolygon];
    for (int i = 0; i < m; ++i) ToScreen(poly[i], sv[i]);
    if (n == 1) {
      RasterPoint(p_, sv[0], src_.attrs);
      return;
    }
    // Guard band in screen space keeps the fixed-point arithmetic in range.
    const float g = 4096.0f + std::max(p_.vw, p_.vh) * 2.0f;
    const float bands[4][5] = {{1, 0, 0, 0, g - p_.vx},
                               {-1, 0, 0, 0, p_.vx + p_.vw + g},
                               {0, 1, 0, 0, g - p_.vy},
                               {0, -1, 0, 0, p_.vy + p_.vh + g}};
    for (const auto& band : bands) {
      m = ClipPolygon(sv, m, tmp, size, band);
      std::memcpy(sv, tmp, sizeof(float) * (4 + kMaxAttrs) * static_cast<size_t>(m));
      if (m < n) return;
    }
    if (n == 2) {
      RasterLine(p_, sv[0], sv[1], src_.attrs, lastPixel_);
      return;
    }
    for (int i = 1; i + 1 < m; ++i) {
      const ScreenVertex* tri[3] = {&sv[0], &sv[i], &sv[i + 1]};
      if (deferred_) {
        std::array<float, 3 * (4 + kMaxAttrs)> t;
        for (int k = 0; k < 3; ++k)
          std::memcpy(t.data() + k * (4 + kMaxAttrs), *tri[k], sizeof(ScreenVertex));
        deferred_->push_back(t);
      } else {
        RasterTriangle(p_, tri, src_.attrs);
      }
    }
  }

  // Triangles go to `out` instead of being drawn, for FlushTriangles.
  void Defer(std::vector<std::array<float, 3 * (4 + kMaxAttrs)>>* out) { deferred_ = out; }

  void SetLastPixel(bool on) { lastPixel_ = on; }

 private:
  void ToScreen(const float* c, float* out) const {
    float x, y, z, rhw;
    if (rhw_) {
      rhw = 1.0f / c[3];
      x = c[0];
      y = c[1];
      z = c[2];
    } else {
      rhw = 1.0f / c[3];
      x = p_.vx + (1.0f + c[0] * rhw) * 0.5f * p_.vw;
      y = p_.vy + (1.0f - c[1] * rhw) * 0.5f * p_.vh;
      z = p_.minZ + c[2] * rhw * (p_.maxZ - p_.minZ);
    }
    out[0] = x;
    out[1] = y;
    out[2] = z;
    out[3] = rhw;
    for (int k = 0; k < src_.attrs; ++k) out[4 + k] = c[4 + k] * rhw;
  }

  Pipeline& p_;
  const VertexSource& src_;
  const bool rhw_;
  bool lastPixel_ = true;
  std::vector<std::array<float, 3 * (4 + kMaxAttrs)>>* deferred_ = nullptr;
};

using DeferredTriangle = std::array<float, 3 * (4 + kMaxAttrs)>;

void RasterDeferred(Pipeline& p, const std::vector<DeferredTriangle>& tris, int attrs, int parity) {
  for (const DeferredTriangle& t : tris) {
    const ScreenVertex* v[3];
    for (int k = 0; k < 3; ++k)
      v[k] = reinterpret_cast<const ScreenVertex*>(t.data() + k * (4 + kMaxAttrs));
    RasterTriangle(p, v, attrs, parity);
  }
}

// Two threads own the even and the odd rows and each applies every triangle
// in order, so each pixel sees the same sequence as a single thread would.
void FlushTriangles(Pipeline& p, const std::vector<DeferredTriangle>& tris, int attrs) {
  if (tris.empty()) return;
  Pipeline other = p;  // RasterTriangle picks filters per triangle in its Pipeline
  try {
    std::thread helper([&] { RasterDeferred(other, tris, attrs, 1); });
    RasterDeferred(p, tris, attrs, 0);
    helper.join();
  } catch (const std::system_error&) {
    RasterDeferred(p, tris, attrs, -1);  // no thread to be had
  }
}

}  // namespace

bool RasterizationEnabled() { return rasterizing.load(std::memory_order_relaxed); }

void ClearTargets(DeviceState& state, const DrawCall& call) {
  const D3DVIEWPORT8& vp = state.viewport;
  auto each = [&](Surface* s, auto&& fill) {
    const int64_t vx0 = vp.X, vy0 = vp.Y;
    const int64_t vx1 = std::min<int64_t>(int64_t{vp.X} + vp.Width, s->width());
    const int64_t vy1 = std::min<int64_t>(int64_t{vp.Y} + vp.Height, s->height());
    auto one = [&](int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
      x0 = std::max(x0, vx0);
      y0 = std::max(y0, vy0);
      x1 = std::min(x1, vx1);
      y1 = std::min(y1, vy1);
      if (x0 >= x1 || y0 >= y1) return;
      for (int64_t y = y0; y < y1; ++y)
        fill(s->bits() + static_cast<size_t>(y) * s->pitch(), static_cast<int>(x0),
             static_cast<int>(x1));
    };
    if (call.rectCount == 0 || !call.rects) {
      one(vx0, vy0, vx1, vy1);
    } else {
      for (DWORD i = 0; i < call.rectCount; ++i) {
        const D3DRECT& r = call.rects[i];
        one(r.x1, r.y1, r.x2, r.y2);
      }
    }
  };
  Surface* rt = state.renderTarget;
  if ((call.clearFlags & D3DCLEAR_TARGET) && rt && rt->bits() &&
      IsWritableColorFormat(rt->format())) {
    const uint32_t packed = PackColor(rt->format(), call.color);
    if (BytesPerPixel(rt->format()) == 4) {
      each(rt, [&](BYTE* row, int x0, int x1) {
        uint32_t* px = reinterpret_cast<uint32_t*>(row);
        std::fill(px + x0, px + x1, packed);
      });
    } else {
      each(rt, [&](BYTE* row, int x0, int x1) {
        uint16_t* px = reinterpret_cast<uint16_t*>(row);
        std::fill(px + x0, px + x1, static_cast<uint16_t>(packed));
      });
    }
  }
  Surface* ds = state.depthStencil;
  DepthLayout d;
  if ((call.clearFlags & (D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) && ds && ds->bits() &&
      DescribeDepth(ds->format(), &d)) {
    const uint32_t depthMask =
        d.depthBits >= 32 ? 0xFFFFFFFFu : ((1u << d.depthBits) - 1) << d.depthShift;
    const uint32_t stencilMask = (1u << d.stencilBits) - 1;
    uint32_t keep = 0xFFFFFFFFu, value = 0;
    if (call.clearFlags & D3DCLEAR_ZBUFFER) {
      keep &= ~depthMask;
      value |= (QuantizeDepth(call.z, d.depthBits) << d.depthShift) & depthMask;
    }
    if (call.clearFlags & D3DCLEAR_STENCIL) {
      keep &= ~stencilMask;
      value |= call.stencil & stencilMask;
    }
    // Bits neither depth nor stencil (the X of D24X8) are cleared with depth.
    if (call.clearFlags & D3DCLEAR_ZBUFFER) keep &= depthMask | stencilMask;
    each(ds, [&](BYTE* row, int x0, int x1) {
      for (int x = x0; x < x1; ++x) {
        BYTE* at = row + static_cast<size_t>(x) * d.bytes;
        StorePixel(at, d.bytes, (LoadPixel(at, d.bytes) & keep) | value);
      }
    });
  }
}

void DrawPrimitives(DeviceState& state, const DrawCall& call,
                    const std::vector<DWORD>* pixelShader) {
  Pipeline p;
  if (!Resolve(state, &p)) return;
  if (pixelShader && !pixelShader->empty() && pixelShader->front() == D3DPS_VERSION(1, 4) &&
      DecodePs14(pixelShader->data(), pixelShader->size(), &p.program)) {
    p.shaded = true;
    p.needSpecular = true;
    ResolveSamplers(state, &p);
  }
  p.fast = fastPaths.load(std::memory_order_relaxed) && !p.shaded && p.modulateOnly &&
           !p.alphaTest && p.bpp == 4 && (!p.blend || p.blendSrcAlpha) && !p.stencil &&
           (!p.depthTest || p.depthFunc == D3DCMP_LESSEQUAL);
  VertexSource src;
  src.format = ParseFvf(state.vertexShader);
  if (!src.format.valid || call.vertexStride < src.format.size) return;
  src.stride = call.vertexStride;
  src.attrs = kColorAttrs + 2 * src.format.texSets;
  const bool up =
      call.kind == DrawCall::Kind::PrimitiveUP || call.kind == DrawCall::Kind::IndexedPrimitiveUP;
  const bool indexed = call.kind == DrawCall::Kind::IndexedPrimitive ||
                       call.kind == DrawCall::Kind::IndexedPrimitiveUP;
  uint64_t base = 0;
  if (up) {
    src.data = static_cast<const BYTE*>(call.vertexData);
    const uint64_t vertices =
        indexed ? uint64_t{call.minIndex} + call.vertexCount : call.vertexCount;
    src.limit = vertices == 0 ? 0 : (vertices - 1) * src.stride + src.format.size;
  } else {
    VertexBuffer* vb = state.streams[0].buffer;
    if (!vb || !vb->bytes()) return;
    src.data = vb->bytes();
    src.limit = vb->length();
    if (indexed) base = state.baseVertexIndex;
  }
  if (!src.data) return;
  const BYTE* indexData = nullptr;
  uint64_t indexLimit = 0;
  const UINT indexSize = call.indexFormat == D3DFMT_INDEX32 ? 4 : 2;
  if (indexed) {
    if (up) {
      indexData = static_cast<const BYTE*>(call.indexData);
      indexLimit = uint64_t{VertexCountOf(call.type, call.primitiveCount)} * indexSize;
    } else {
      IndexBuffer* ib = state.indices;
      if (!ib || !ib->bytes()) return;
      indexData = ib->bytes() + uint64_t{call.startIndex} * indexSize;
      indexLimit =
          ib->length() - std::min<uint64_t>(ib->length(), uint64_t{call.startIndex} * indexSize);
    }
    if (!indexData) return;
  }
  const DWORD* rs = state.renderStates;
  if (!src.format.rhw) {
    src.transform = Multiply(Multiply(state.transforms[D3DTS_WORLD], state.transforms[D3DTS_VIEW]),
                             state.transforms[D3DTS_PROJECTION]);
    Lighting& l = src.light;
    l.on = rs[D3DRS_LIGHTING] != FALSE;
    l.material = state.material;
    const bool vertexColor = rs[D3DRS_COLORVERTEX] != FALSE;
    l.ambientSource = vertexColor ? rs[D3DRS_AMBIENTMATERIALSOURCE] : DWORD{D3DMCS_MATERIAL};
    l.emissiveSource = vertexColor ? rs[D3DRS_EMISSIVEMATERIALSOURCE] : DWORD{D3DMCS_MATERIAL};
    l.diffuseSource = vertexColor ? rs[D3DRS_DIFFUSEMATERIALSOURCE] : DWORD{D3DMCS_MATERIAL};
    const DWORD amb = rs[D3DRS_AMBIENT];
    l.ambient[0] = static_cast<float>(Ch(amb, 16)) / 255.0f;
    l.ambient[1] = static_cast<float>(Ch(amb, 8)) / 255.0f;
    l.ambient[2] = static_cast<float>(Ch(amb, 0)) / 255.0f;
  }

  // The vertex index of the primitive's k-th vertex; false when unreadable.
  auto vertexIndex = [&](uint64_t k, uint64_t* out) {
    if (!indexed) {
      *out = uint64_t{call.startVertex} + k;
      return true;
    }
    if ((k + 1) * indexSize > indexLimit) return false;
    uint32_t idx = 0;
    if (indexSize == 4) {
      std::memcpy(&idx, indexData + k * 4, 4);
    } else {
      uint16_t s16;
      std::memcpy(&s16, indexData + k * 2, 2);
      idx = s16;
    }
    if (up && (idx < call.minIndex || idx >= uint64_t{call.minIndex} + call.vertexCount))
      return false;
    *out = base + idx;
    return true;
  };
  auto fetch = [&](uint64_t k, ClipVertex* v) {
    uint64_t index;
    return vertexIndex(k, &index) && FetchVertex(src, index, v);
  };

  Drawer drawer(p, src, src.format.rhw);
  // Large triangle draws are split between two threads; small ones are not
  // worth starting a thread for.
  std::vector<DeferredTriangle> deferred;
  const bool triangles = call.type == D3DPT_TRIANGLELIST || call.type == D3DPT_TRIANGLESTRIP ||
                         call.type == D3DPT_TRIANGLEFAN;
  if (triangles && call.primitiveCount >= 32 && fastPaths.load(std::memory_order_relaxed) &&
      std::thread::hardware_concurrency() > 1) {
    deferred.reserve(std::min<UINT>(call.primitiveCount, 1u << 16));
    drawer.Defer(&deferred);
  }
  const UINT count = call.primitiveCount;
  ClipVertex v[3];
  auto flatten = [&](int n) {
    if (!p.flat) return;
    for (int i = 1; i < n; ++i) std::memcpy(v[i].attr, v[0].attr, sizeof(float) * kColorAttrs);
  };
  switch (call.type) {
    case D3DPT_TRIANGLELIST:
    case D3DPT_TRIANGLESTRIP:
    case D3DPT_TRIANGLEFAN:
      for (UINT i = 0; i < count; ++i) {
        uint64_t k[3];
        if (call.type == D3DPT_TRIANGLELIST) {
          k[0] = 3ull * i, k[1] = 3ull * i + 1, k[2] = 3ull * i + 2;
        } else if (call.type == D3DPT_TRIANGLEFAN) {
          k[0] = 0, k[1] = i + 1ull, k[2] = i + 2ull;
        } else if (i % 2 == 0) {
          k[0] = i, k[1] = i + 1ull, k[2] = i + 2ull;
        } else {
          k[0] = i + 1ull, k[1] = i, k[2] = i + 2ull;  // odd strip triangles keep the winding
        }
        if (!fetch(k[0], &v[0]) || !fetch(k[1], &v[1]) || !fetch(k[2], &v[2])) continue;
        // Flat shading takes the first vertex in order; for odd strip
        // triangles that is the one swapped into second place.
        if (p.flat && call.type == D3DPT_TRIANGLESTRIP && i % 2 == 1)
          std::memcpy(v[0].attr, v[1].attr, sizeof(float) * kColorAttrs);
        flatten(3);
        drawer.Primitive(v, 3);
      }
      FlushTriangles(p, deferred, src.attrs);
      break;
    case D3DPT_LINELIST:
    case D3DPT_LINESTRIP:
      for (UINT i = 0; i < count; ++i) {
        const uint64_t k0 = call.type == D3DPT_LINELIST ? 2ull * i : i;
        if (!fetch(k0, &v[0]) || !fetch(k0 + 1, &v[1])) continue;
        flatten(2);
        // Strips draw each shared vertex once: only the final segment may end
        // on its last pixel.
        drawer.SetLastPixel(p.lastPixel && (call.type == D3DPT_LINELIST || i + 1 == count));
        drawer.Primitive(v, 2);
      }
      break;
    case D3DPT_POINTLIST:
      for (UINT i = 0; i < count; ++i) {
        if (!fetch(i, &v[0])) continue;
        drawer.Primitive(v, 1);
      }
      break;
    default:
      break;
  }
}

void PresentToDesktop(Surface* back, const RECT* source, const RECT* dest, HWND window) {
  if (!back || !back->bits() || !IsWritableColorFormat(back->format())) return;
  desktop::Placement place;
  if (!window || !desktop::Lookup(window, &place)) return;
  const RECT src =
      source ? *source
             : RECT{0, 0, static_cast<LONG>(back->width()), static_cast<LONG>(back->height())};
  const RECT dst = dest ? *dest : RECT{0, 0, place.width, place.height};
  const int64_t sw = int64_t{src.right} - src.left, sh = int64_t{src.bottom} - src.top;
  const int64_t dw = int64_t{dst.right} - dst.left, dh = int64_t{dst.bottom} - dst.top;
  if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0 || src.left < 0 || src.top < 0 ||
      src.right > static_cast<LONG>(back->width()) ||
      src.bottom > static_cast<LONG>(back->height()))
    return;
  SIZE size;
  uint32_t* pixels = desktop::LockPixels(&size);
  // Destination pixels inside the client area and the desktop.
  const int64_t cx0 = std::max<int64_t>({dst.left, 0, -int64_t{place.x}});
  const int64_t cy0 = std::max<int64_t>({dst.top, 0, -int64_t{place.y}});
  const int64_t cx1 = std::min<int64_t>({dst.right, place.width, int64_t{size.cx} - place.x});
  const int64_t cy1 = std::min<int64_t>({dst.bottom, place.height, int64_t{size.cy} - place.y});
  const UINT bpp = BytesPerPixel(back->format());
  for (int64_t y = cy0; y < cy1; ++y) {
    const int64_t sy = src.top + ((y - dst.top) * sh) / dh;
    const BYTE* row = back->bits() + static_cast<size_t>(sy) * back->pitch();
    const int64_t row0 = (y + place.y) * size.cx + place.x;
    for (int64_t x = cx0; x < cx1; ++x) {
      const int64_t sx = src.left + ((x - dst.left) * sw) / dw;
      pixels[row0 + x] = UnpackColor(back->format(), LoadPixel(row + sx * bpp, bpp)) & 0xFFFFFFu;
    }
  }
  desktop::UnlockPixels();
}

}  // namespace vrt::d3d

namespace vrt {

void SetRasterization(bool on) { d3d::rasterizing.store(on, std::memory_order_relaxed); }
void SetRasterFastPaths(bool on) {
  d3d::fastPaths.store(on, std::memory_order_relaxed);
}
bool Rasterization() { return d3d::RasterizationEnabled(); }

}  // namespace vrt
