// What the rasteriser's stages share: the per-draw Pipeline, colour
// arithmetic, pixel access and the entry points of each stage file.
//
//   raster_pipeline.cpp    device state resolved into a Pipeline; the draw
//   raster_vertices.cpp    vertex fetch, lighting, clipping, screen mapping
//   raster_primitives.cpp  triangle setup and row loop, lines, points
//   raster_workers.cpp     the worker pool sharing rows of large draws
//   raster_shading.cpp     texture sampling, texture stages, ps.1.4
//   raster_fragment.cpp    alpha, stencil and depth tests, blending, writes
//   raster_spans.cpp       the dedicated span loop of the common sprite state
//   raster_surface.cpp     clears and presents
//
// Rules kept exact and deterministic:
// - Pixel centres are at integer coordinates; vertices (of lines and points
//   too) snap to 1/256 pixel and triangle coverage uses integer edge
//   functions with the top-left convention, so triangles sharing an edge
//   cover each pixel once.
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
#pragma once

#include <emmintrin.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "pixels.h"
#include "ps14.h"
#include "raster.h"

namespace vrt::d3d::raster {

constexpr int kSubBits = 8;
constexpr int64_t kSub = 1 << kSubBits;
constexpr int kChunk = 64;
constexpr int kMaxTexSets = 8;
constexpr int kColorAttrs = 8;  // diffuse rgba, specular rgba (0..255)
constexpr int kMaxAttrs = kColorAttrs + 2 * kMaxTexSets;
constexpr int kMaxPolygon = 16;

inline uint32_t Ch(uint32_t c, int shift) { return (c >> shift) & 0xFF; }

// All ones in the lanes holding finite values: v - v is zero there, NaN for
// infinities and NaN.
inline __m128 FiniteLanes(__m128 v) { return _mm_cmpeq_ps(_mm_sub_ps(v, v), _mm_setzero_ps()); }
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

// A texel index under an addressing mode; `border` is set when the border
// colour applies instead.
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

// --- Pipeline state resolved per draw ----------------------------------------

struct Pipeline;
struct AffineTriangle;
struct Span;
// The span loops (raster_spans.cpp): FastSpan draws n pixels from buffers
// of per-pixel values; AffineSpan draws `count` spans of a triangle with a
// flat colour and depth, computing its texture coordinates itself. Both give
// the bytes of the general path. Given a `second` triangle of the same colour
// and depth, the spans come in pairs, the first of each pair the triangle's
// and the second the other's, on one row (either may be empty); a pair that
// meets end to end and reads one run of texels is drawn as one span.
using FastSpanFn = void (*)(const Pipeline&, int x0, int y, int n, const float* z, int64_t zFlat,
                            const uint32_t* diffuse, const float* u, const float* v);
using AffineSpanFn = void (*)(const Pipeline&, const AffineTriangle&, const AffineTriangle* second,
                              const Span* spans, int count);

struct Stage {
  DWORD colorOp = D3DTOP_DISABLE, colorArg1 = 0, colorArg2 = 0;
  DWORD alphaOp = D3DTOP_DISABLE, alphaArg1 = 0, alphaArg2 = 0;
  bool textured = false;
  std::shared_ptr<const std::vector<uint32_t>> decoded;  // level 0, held for the draw
  const uint32_t* texels = nullptr;                      // decoded's data
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
  bool blendAdd = false;       // SRCALPHA, ONE, ADD (additive)
  // Stage 0 passes the diffuse colour and alpha on, untextured: a pixel is
  // coloured as a white texel modulated with it (the library's draws
  // without a picture, once the absent texture is dropped).
  bool diffuseOnly = false;
  bool fast = false;         // FastSpan applies (texture filter still checked per triangle)
  bool affineState = false;  // AffineSpan applies to flat-coloured affine triangles
  uint32_t alphaMin = 0;     // fast paths: the least alpha255 the alpha test passes
  // The span loops of the state when `fast`, chosen once per draw.
  FastSpanFn fastSpan = nullptr;
  AffineSpanFn affineSpan = nullptr;
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

// Pipeline stage: false when nothing can be drawn (no writable target,
// empty viewport).
bool Resolve(const DeviceState& s, Pipeline* p);
// Texture stages as samplers for a pixel shader: every stage with a texture.
void ResolveSamplers(const DeviceState& s, Pipeline* p);
// Whether draws may take the dedicated span loops (vrt::SetRasterFastPaths).
bool FastPathsEnabled();

// Shading stage: the colours of `n` (up to kChunk) pixels from their
// diffuse and specular colours and texture coordinates (set t's u and v at
// tex[2t * texStride + i] and tex[(2t + 1) * texStride + i]; sets from
// `texFloats` / 2 on read as zero). `alpha255` receives the alpha the alpha
// test compares, times 255 and not rounded.
void ShadeSpan(const Pipeline& p, int n, const uint32_t* diffuse, const uint32_t* specular,
               const float* tex, int texStride, int texFloats, uint32_t* color, uint32_t* alpha255);

// Fragment stage: alpha test, stencil and depth tests, blending and the
// write of `n` coloured fragments at x0.., y (inside the scissor).
void WriteSpan(const Pipeline& p, int x0, int y, int n, const float* z, const uint32_t* color,
               const uint32_t* alpha255);

// The dedicated span loop of the sprite state (Pipeline::fast, point
// sampling): depth test, texture fetch, modulate and blend of `n` pixels.
// `zFlat`: the quantised depth of every pixel, or -1 to quantise z per pixel.
FastSpanFn ChooseFastSpan(const Pipeline& p);

// An attribute over a triangle: its value at the triangle's first vertex,
// then its step per pixel in x and y.
struct Plane {
  double a0, dx, dy;
};

// What the affine span loop reads of a triangle in the sprite state whose
// diffuse colour and depth are the same at every pixel (2-D quads, glyphs,
// particles): stage 0's texture coordinate planes, where they take a0, the
// packed colour and the quantised depth (-1: no depth test).
struct AffineTriangle {
  Plane u, v;
  double fx0, fy0;
  uint32_t diffuse;
  int64_t zFlat;
};
// Pixels x0..x1 (inclusive) of row y; none when x0 > x1.
struct Span {
  int x0, x1, y;
};
// Null when the affine loop does not cover the state (16-bit depth). Takes
// the AVX2 compilation where the processor has AVX2 and it is allowed
// (vrt::SetRasterWideVectors).
AffineSpanFn ChooseAffineSpan(const Pipeline& p);
AffineSpanFn ChooseAffineSpanAvx2(const Pipeline& p);

// --- Primitives ---------------------------------------------------------------

// A vertex on screen: x, y, z, 1/w, then the attributes multiplied by 1/w.
using ScreenVertex = float[4 + kMaxAttrs];
// Three screen vertices one after another, kept for the worker pool. Made
// uninitialised: of each vertex only the position, 1/w and the draw's
// attributes are written, and only they are read.
struct DeferredTriangle {
  float v[3 * (4 + kMaxAttrs)];
  DeferredTriangle() {}  // NOLINT(modernize-use-equals-default): no clearing
  float* data() { return v; }
  const float* data() const { return v; }
  float operator[](size_t i) const { return v[i]; }
};

// Rows of a triangle are drawn by `bands` threads in blocks of kBandRows:
// band `band` takes the rows py with (py / kBandRows) % bands == band, so a
// small triangle usually concerns one band and the others skip it before
// setting it up. bands == 1 draws every row.
constexpr int kBandRows = 32;
struct RowShare {
  int band = 0;
  int bands = 1;
};

void RasterTriangle(Pipeline& p, const ScreenVertex* v[3], int attrs, RowShare share = {});
// `a` then `b`, with the same pixels as two RasterTriangle calls; the two
// halves of a sprite quad are drawn together, a row at a time.
void RasterTrianglePair(Pipeline& p, const ScreenVertex* a[3], const ScreenVertex* b[3], int attrs,
                        RowShare share);
void RasterLine(Pipeline& p, const ScreenVertex& a, const ScreenVertex& b, int attrs, bool last);
void RasterPoint(Pipeline& p, const ScreenVertex& a, int attrs);
// Whether large draws are shared between bands (vrt::SetRasterThreads).
bool SplitsDraws();
// Draws `tris` in order, sharing rows between the workers when worthwhile.
void FlushTriangles(Pipeline& p, const std::vector<DeferredTriangle>& tris, int attrs);

// --- Vertices -----------------------------------------------------------------

struct VertexFormat {
  bool valid = false;
  bool rhw = false;
  int diffuse = -1, specular = -1;
  int tex[kMaxTexSets]{};
  int texDims[kMaxTexSets]{};
  int texSets = 0;
  UINT size = 0;
};

VertexFormat ParseFvf(DWORD fvf);

// A vertex in clip space (x, y, z, w), or for pretransformed vertices the
// screen position with w = 1/rhw; then colour and texture attributes.
struct ClipVertex {
  float pos[4];
  float attr[kMaxAttrs];
};

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

// False when the vertex lies outside the memory the draw may read.
bool FetchVertex(const VertexSource& src, uint64_t index, ClipVertex* out);
D3DMATRIX Multiply(const D3DMATRIX& a, const D3DMATRIX& b);

// Clips primitives, maps them to the screen and draws them (or defers
// triangles for FlushTriangles).
class Drawer {
 public:
  Drawer(Pipeline& p, const VertexSource& src, bool rhw);

  // Clips a primitive of `n` (1..3) vertices and draws what is left.
  void Primitive(const ClipVertex* v, int n);

  // Triangles go to `out` instead of being drawn, for FlushTriangles.
  void Defer(std::vector<DeferredTriangle>* out) { deferred_ = out; }

  void SetLastPixel(bool on) { lastPixel_ = on; }

 private:
  void ToScreen(const float* pos, const float* attr, float* out) const;
  // Whether a screen vertex is finite and inside the guard band.
  bool InBands(const float* q) const;

  Pipeline& p_;
  const VertexSource& src_;
  const bool rhw_;
  bool lastPixel_ = true;
  // The guard band's bounds as x + b0, -x + b1, y + b2 and -y + b3 >= 0.
  float bands_[4];
  std::vector<DeferredTriangle>* deferred_ = nullptr;
};

}  // namespace vrt::d3d::raster
