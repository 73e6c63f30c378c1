// Vertices and clipping: flexible vertex formats read within the draw's
// bounds, transformed (or taken pretransformed), lit with emissive and
// ambient light, clipped against the near, far and w planes and a screen
// guard band, and mapped onto the viewport.
#include <cmath>

#include "raster_internal.h"

namespace vrt::d3d::raster {

namespace {

float ColorValue(const D3DCOLORVALUE& c, int i) {
  return i == 0 ? c.r : i == 1 ? c.g : i == 2 ? c.b : c.a;
}

// The channels of an ARGB colour as floats in r, g, b, a order.
void ColorFloats(uint32_t c, float* out) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i bgra =
      _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(c)), zero), zero);
  _mm_storeu_ps(out, _mm_cvtepi32_ps(_mm_shuffle_epi32(bgra, _MM_SHUFFLE(3, 0, 1, 2))));
}

// Clips a polygon of `n` vertices of `size` floats against d(v) >= 0, with
// d(v) = dot(plane, v[0..3]) + plane[4]. Returns the new count.
inline float Distance(const float plane[5], const float* v) {
  return plane[0] * v[0] + plane[1] * v[1] + plane[2] * v[2] + plane[3] * v[3] + plane[4];
}

// Whether every vertex is on the kept side, where clipping changes nothing.
bool AllInside(const float (*in)[4 + kMaxAttrs], int n, const float plane[5]) {
  for (int i = 0; i < n; ++i)
    if (!(Distance(plane, in[i]) >= 0)) return false;
  return true;
}

int ClipPolygon(float (*in)[4 + kMaxAttrs], int n, float (*out)[4 + kMaxAttrs], int size,
                const float plane[5]) {
  auto dist = [&](const float* v) { return Distance(plane, v); };
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

}  // namespace

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
    // The four columns side by side, each product and sum in the order of
    // pos[0] * m[0][c] + pos[1] * m[1][c] + pos[2] * m[2][c] + m[3][c].
    const D3DMATRIX& m = src.transform;
    __m128 r = _mm_mul_ps(_mm_set1_ps(pos[0]), _mm_loadu_ps(m.m[0]));
    r = _mm_add_ps(r, _mm_mul_ps(_mm_set1_ps(pos[1]), _mm_loadu_ps(m.m[1])));
    r = _mm_add_ps(r, _mm_mul_ps(_mm_set1_ps(pos[2]), _mm_loadu_ps(m.m[2])));
    _mm_storeu_ps(out->pos, _mm_add_ps(r, _mm_loadu_ps(m.m[3])));
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
  return _mm_movemask_ps(FiniteLanes(_mm_loadu_ps(out->pos))) == 0xF;
}

D3DMATRIX Multiply(const D3DMATRIX& a, const D3DMATRIX& b) {
  D3DMATRIX r{};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      for (int k = 0; k < 4; ++k) r.m[i][j] += a.m[i][k] * b.m[k][j];
  return r;
}

// Near (z >= 0), far (z <= w) and w > 0 in clip space, for finite vertices
// (FetchVertex passes no other).
inline bool InsideClipVolume(const float* q) { return q[2] >= 0 && q[3] >= q[2] && q[3] >= 1e-6f; }

void Drawer::Primitive(const ClipVertex* v, int n) {
  // A kept triangle that needs no clipping (nearly all) is written straight
  // into the list, with no copies between.
  if (n == 3 && deferred_ &&
      (rhw_ ||
       (InsideClipVolume(v[0].pos) && InsideClipVolume(v[1].pos) && InsideClipVolume(v[2].pos)))) {
    float* t = deferred_->emplace_back().data();
    constexpr int kStride = 4 + kMaxAttrs;
    for (int i = 0; i < 3; ++i) ToScreen(v[i].pos, v[i].attr, t + i * kStride);
    if (InBands(t) && InBands(t + kStride) && InBands(t + 2 * kStride)) return;
    deferred_->pop_back();  // clipped below
  }
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
    // Distance() against these planes is z, w - z and w - 1e-6 for finite
    // vertices, so InsideClipVolume makes its tests.
    auto inside = InsideClipVolume;
    if (n == 1) {
      const float* q = poly[0];
      if (q[2] < 0 || q[2] > q[3] || q[3] <= 1e-6f) return;
    } else if (!(inside(poly[0]) && inside(poly[1]) && (n < 3 || inside(poly[2])))) {
      for (const auto& pl : kPlanes) {
        if (AllInside(poly, m, pl)) continue;
        m = ClipPolygon(poly, m, tmp, size, pl);
        std::memcpy(poly, tmp, sizeof(float) * (4 + kMaxAttrs) * static_cast<size_t>(m));
        if (m < n) return;
      }
    }
  }
  ScreenVertex sv[kMaxPolygon];
  for (int i = 0; i < m; ++i) ToScreen(poly[i], poly[i] + 4, sv[i]);
  if (n == 1) {
    RasterPoint(p_, sv[0], src_.attrs);
    return;
  }
  const float bands[4][5] = {{1, 0, 0, 0, bands_[0]},
                             {-1, 0, 0, 0, bands_[1]},
                             {0, 1, 0, 0, bands_[2]},
                             {0, -1, 0, 0, bands_[3]}};
  bool allInBands = true;
  for (int i = 0; i < m && allInBands; ++i) allInBands = InBands(sv[i]);
  for (const auto& band : bands) {
    if (allInBands) break;
    if (AllInside(sv, m, band)) continue;
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
      float* t = deferred_->emplace_back().data();
      for (int k = 0; k < 3; ++k)
        std::memcpy(t + k * (4 + kMaxAttrs), *tri[k], sizeof(float) * static_cast<size_t>(size));
    } else {
      RasterTriangle(p_, tri, src_.attrs);
    }
  }
}

Drawer::Drawer(Pipeline& p, const VertexSource& src, bool rhw) : p_(p), src_(src), rhw_(rhw) {
  // Guard band in screen space keeps the fixed-point arithmetic in range.
  const float g = 4096.0f + std::max(p_.vw, p_.vh) * 2.0f;
  bands_[0] = g - p_.vx;
  bands_[1] = p_.vx + p_.vw + g;
  bands_[2] = g - p_.vy;
  bands_[3] = p_.vy + p_.vh + g;
}

// For finite vertices Distance() against the guard bands is x + b, -x + b,
// y + b and -y + b: a triangle well inside them (nearly all) skips clipping.
// The four tests and the finiteness of x, y, z and 1/w in SSE lanes.
bool Drawer::InBands(const float* q) const {
  const __m128 v = _mm_loadu_ps(q);
  // (x, -x, y, -y) + bounds
  const __m128 signs = _mm_castsi128_ps(_mm_setr_epi32(0, INT32_MIN, 0, INT32_MIN));
  const __m128 xy = _mm_xor_ps(_mm_shuffle_ps(v, v, _MM_SHUFFLE(1, 1, 0, 0)), signs);
  const __m128 inside = _mm_cmpge_ps(_mm_add_ps(xy, _mm_loadu_ps(bands_)), _mm_setzero_ps());
  return _mm_movemask_ps(_mm_and_ps(FiniteLanes(v), inside)) == 0xF;
}

void Drawer::ToScreen(const float* pos, const float* attr, float* out) const {
  float x, y, z;
  const float rhw = 1.0f / pos[3];
  if (rhw_) {
    x = pos[0];
    y = pos[1];
    z = pos[2];
  } else {
    x = p_.vx + (1.0f + pos[0] * rhw) * 0.5f * p_.vw;
    y = p_.vy + (1.0f - pos[1] * rhw) * 0.5f * p_.vh;
    z = p_.minZ + pos[2] * rhw * (p_.maxZ - p_.minZ);
  }
  out[0] = x;
  out[1] = y;
  out[2] = z;
  out[3] = rhw;
  // The same products four at a time.
  const __m128 r = _mm_set1_ps(rhw);
  int k = 0;
  for (; k + 4 <= src_.attrs; k += 4)
    _mm_storeu_ps(out + 4 + k, _mm_mul_ps(_mm_loadu_ps(attr + k), r));
  for (; k < src_.attrs; ++k) out[4 + k] = attr[k] * rhw;
}

}  // namespace vrt::d3d::raster
