// Primitives: triangle setup (snapping, culling, the edge functions, the
// attribute planes, the filter each texture stage uses) and the row loop
// that fills spans in chunks; lines and points as single fragments.
#include <bit>
#include <cmath>

#include "raster_internal.h"

namespace vrt::d3d::raster {

namespace {

inline int64_t FloorDiv(int64_t a, int64_t b) {  // b > 0
  return a >= 0 ? a / b : -((-a + b - 1) / b);
}

// std::llround for |v| < 2^52: halves round away from zero. Computed here
// (a - t is exact in that range) so setup makes no library call per vertex.
inline int64_t RoundHalfAway(double v) {
  const double a = v < 0 ? -v : v;
  int64_t t = static_cast<int64_t>(a);
  if (a - static_cast<double>(t) >= 0.5) ++t;
  return v < 0 ? -t : t;
}

// num / det. A zero numerator over a finite non-zero det gives a zero with
// the sign of the quotient, which is written directly: flat planes (colours,
// sprite depth, one axis of a texture coordinate) skip the divide.
inline double Quotient(double num, double det) {
  if (num != 0.0 || det == 0.0) return num / det;  // NaN takes the divide too
  const uint64_t sign =
      (std::bit_cast<uint64_t>(num) ^ std::bit_cast<uint64_t>(det)) & (1ull << 63);
  return std::bit_cast<double>(sign);
}

// Whether any of the rows py0..py1 (>= 0) is in `share`'s band.
bool BandMeets(RowShare share, int py0, int py1) {
  if (share.bands == 1) return true;
  for (int b = py0 / kBandRows; b <= py1 / kBandRows; ++b)
    if (b % share.bands == share.band) return true;
  return false;
}

// One triangle ready for its rows. The arrays are left uninitialised (a
// triangle is set up for every few pixels of small ones): SetupTriangle
// writes every entry that is read.
struct TriangleSetup {
  int px0 = 0, px1 = -1, py0 = 0, py1 = -1;  // pixel range (inclusive)
  int count = 0;                             // planes: z, 1/w, then attributes
  double fx0 = 0, fy0 = 0;                   // where the planes take a0
  Plane planes[2 + kMaxAttrs];
  bool perspective = false;
  // Planes constant over the triangle (2-D sprites: depth and often colour);
  // only the fast path reads them without filling a buffer.
  bool flatZ = false, flatDiffuse = false;
  // Fast path: the packed colour of a flat diffuse and the quantised depth
  // of a flat z (-1: per pixel), the same at every chunk.
  uint32_t diffuseFlat = 0;
  int64_t zFlat = -1;
  // The planes a chunk evaluates per pixel: those its path reads, less the
  // flat ones the fast path takes whole.
  int live[2 + kMaxAttrs];
  int liveCount = 0;
  int texFloats = 0;  // texture coordinates the stages read
  int uk = 0;         // the plane of stage 0's u
  FastSpanFn fast = nullptr;
  // The affine loop, when the colour and depth are flat and 1/w constant.
  AffineSpanFn affine = nullptr;
  AffineTriangle affineTri;
  // The sloped edges (the first `moving`; the others are folded into the
  // pixel range). Edge e: E(px) = K - edy * kSub * px, with K growing by
  // edx * kSub a row. The span bound floor(K / |edy * kSub|) is kept as
  // quotient and remainder and stepped a row at a time, saving a 64-bit
  // divide per edge and row.
  int64_t eq[3], er[3], eqStep[3], erStep[3], eD[3];
  int eSign[3];
  int moving = 0;
};

// False when the triangle covers no pixel centre of the scissor (or is
// culled, degenerate or unrepresentable) or none of `share`'s rows. Chooses
// each stage's filter in `p`.
bool SetupTriangle(Pipeline& p, const ScreenVertex* v[3], int attrs, RowShare share,
                   TriangleSetup* t) {
  int64_t X[3], Y[3];
  for (int i = 0; i < 3; ++i) {
    // The guard band keeps positions small; anything else (NaN) is dropped.
    if (!(std::fabs((*v[i])[0]) < 1e7f) || !(std::fabs((*v[i])[1]) < 1e7f)) return false;
    X[i] = RoundHalfAway(static_cast<double>((*v[i])[0]) * kSub);
    Y[i] = RoundHalfAway(static_cast<double>((*v[i])[1]) * kSub);
  }
  int64_t area = (X[1] - X[0]) * (Y[2] - Y[0]) - (X[2] - X[0]) * (Y[1] - Y[0]);
  if (area == 0) return false;
  // Positive area is clockwise on screen (y down).
  if ((p.cull == D3DCULL_CCW && area < 0) || (p.cull == D3DCULL_CW && area > 0)) return false;
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
  t->px0 = static_cast<int>(std::max<int64_t>(p.x0, -FloorDiv(-minX, kSub)));
  t->px1 = static_cast<int>(std::min<int64_t>(p.x1 - 1, FloorDiv(maxX, kSub)));
  t->py0 = static_cast<int>(std::max<int64_t>(p.y0, -FloorDiv(-minY, kSub)));
  t->py1 = static_cast<int>(std::min<int64_t>(p.y1 - 1, FloorDiv(maxY, kSub)));
  if (t->px0 > t->px1 || t->py0 > t->py1) return false;
  if (!BandMeets(share, t->py0, t->py1)) return false;  // another band's rows

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
  t->fx0 = static_cast<double>(X[0]) / kSub;
  t->fy0 = static_cast<double>(Y[0]) / kSub;
  const double x10 = static_cast<double>(X[1] - X[0]) / kSub,
               y10 = static_cast<double>(Y[1] - Y[0]) / kSub;
  const double x20 = static_cast<double>(X[2] - X[0]) / kSub,
               y20 = static_cast<double>(Y[2] - Y[0]) / kSub;
  const double det = x10 * y20 - x20 * y10;
  const int count = t->count = 2 + attrs;
  // Equal 1/w everywhere: attributes are affine on screen and need no divide.
  const bool perspective = t->perspective = !((*s[0])[3] == (*s[1])[3] && (*s[1])[3] == (*s[2])[3]);
  // Attributes the pixels read (bit k: plane k): 1/w only for perspective,
  // specular on demand, depth only for the depth and stencil tests. Only
  // their planes are set.
  static_assert(2 + kMaxAttrs <= 32);
  uint32_t needed = (1u << count) - 1;
  if (!perspective) needed &= ~(1u << 1);
  if (!p.needSpecular) needed &= ~(0xFu << (2 + 4));  // specular rgba: planes 6..9
  if (!p.depthTest && !p.stencil) needed &= ~1u;
  Plane* planes = t->planes;
  const double w = perspective ? 1.0 : 1.0 / (*s[0])[3];
  auto setPlane = [&](int k) {
    const double a0 = (*s[0])[2 + k], a1 = (*s[1])[2 + k], a2 = (*s[2])[2 + k];
    Plane& pl = planes[k];
    pl.a0 = a0;
    pl.dx = Quotient((a1 - a0) * y20 - (a2 - a0) * y10, det);
    pl.dy = Quotient((a2 - a0) * x10 - (a1 - a0) * x20, det);
    if (!perspective && k >= 2) {
      pl.a0 *= w;
      pl.dx *= w;
      pl.dy *= w;
    }
  };
  // A diffuse colour equal and finite at the three corners (most sprites and
  // glyphs) is compared in one go: its four planes are its value with no
  // slope, as setPlane would make them (but for the sign of a zero slope,
  // which no colour conversion sees).
  constexpr uint32_t kDiffusePlanes = 0xFu << 2;
  bool sameDiffuse = false;
  if (!perspective && (needed & kDiffusePlanes) == kDiffusePlanes) {
    const __m128 c0 = _mm_loadu_ps(*s[0] + 4), c1 = _mm_loadu_ps(*s[1] + 4),
                 c2 = _mm_loadu_ps(*s[2] + 4);
    const __m128 same = _mm_and_ps(_mm_cmpeq_ps(c1, c0), _mm_cmpeq_ps(c2, c0));
    sameDiffuse = _mm_movemask_ps(_mm_and_ps(same, FiniteLanes(c0))) == 0xF;
  }
  if (sameDiffuse) {
    for (int k = 2; k < 6; ++k) planes[k] = {static_cast<double>((*s[0])[2 + k]) * w, 0.0, 0.0};
  }
  for (uint32_t m = sameDiffuse ? needed & ~kDiffusePlanes : needed; m != 0; m &= m - 1)
    setPlane(std::countr_zero(m));
  // Filters: minification when a pixel step spans more than one texel.
  const double rhwMean = ((*s[0])[3] + (*s[1])[3] + (*s[2])[3]) / 3.0;
  for (int i = 0; i < p.stageCount; ++i) {
    Stage& st = p.stages[i];
    if (!st.textured) continue;
    // Coordinates the vertices lack read as zero: no step, magnification.
    const int k = 2 + kColorAttrs + 2 * st.texSet;
    if (k + 1 >= count) {
      st.linear = st.magFilter != D3DTEXF_POINT && st.magFilter != D3DTEXF_NONE;
      continue;
    }
    const double scale = perspective ? 1.0 / rhwMean : 1.0;
    const double du = std::max(std::fabs(planes[k].dx), std::fabs(planes[k].dy)) * scale * st.tw;
    const double dv =
        std::max(std::fabs(planes[k + 1].dx), std::fabs(planes[k + 1].dy)) * scale * st.th;
    const DWORD filter = std::max(du, dv) > 1.0 ? st.minFilter : st.magFilter;
    st.linear = filter != D3DTEXF_POINT && filter != D3DTEXF_NONE;
  }

  t->texFloats = std::min(2 * kMaxTexSets, count - 2 - kColorAttrs);
  t->uk = 2 + kColorAttrs + 2 * p.stages[0].texSet;
  const bool sampled = p.stages[0].textured && !p.stages[0].linear && t->uk + 1 < count;
  t->fast = p.fast && sampled ? p.fastSpan : nullptr;
  // The span loops' state: flat planes are found for them.
  const bool spans = t->fast || (p.affineSpan && (p.diffuseOnly || sampled));
  auto flat = [&](int k) {
    return (needed >> k & 1) && planes[k].dx == 0.0 && planes[k].dy == 0.0;
  };
  const bool findFlat = spans && !perspective;
  t->flatZ = findFlat && flat(0);
  t->flatDiffuse = findFlat && (sameDiffuse || (flat(2) && flat(3) && flat(4) && flat(5)));
  // A flat plane's value at a chunk, a0 + 0 * ox + 0 * oy, is a0 but for the
  // sign of a zero, which neither the colour nor the depth conversion sees.
  if (t->flatDiffuse) {
    for (int j = 0; j < 4; ++j)
      t->diffuseFlat |= ToByte(static_cast<float>(planes[2 + j].a0)) << (j == 3 ? 24 : 16 - 8 * j);
  }
  if (t->flatZ) {
    t->zFlat =
        QuantizeDepth(std::clamp(static_cast<float>(planes[0].a0), 0.0f, 1.0f), p.depth.depthBits);
  }
  if (spans && !perspective && t->flatDiffuse && (!p.depthTest || t->zFlat >= 0) &&
      (t->affine = p.affineSpan) != nullptr) {
    // Untextured, the texture planes are neither read nor always set.
    const Plane none{0.0, 0.0, 0.0};
    t->affineTri = {p.diffuseOnly ? none : planes[t->uk],
                    p.diffuseOnly ? none : planes[t->uk + 1],
                    t->fx0,
                    t->fy0,
                    t->diffuseFlat,
                    p.depthTest ? t->zFlat : -1};
  }
  // The general path hands every fragment's z on (the span loops read it
  // only for the depth test, and then it is set up already).
  if (!t->fast && !t->affine && !(needed & 1)) {
    needed |= 1;
    setPlane(0);
  }
  // The planes DrawChunk evaluates (the affine loop evaluates its own).
  t->liveCount = 0;
  for (int k = 0; k < count && !t->affine; ++k) {
    if (!(needed >> k & 1)) continue;
    if (t->fast) {
      const bool read = k == 0 || k == 1 || (k >= 2 && k < 6) || k == t->uk || k == t->uk + 1;
      // A flat depth is taken whole; flat colour channels only when all four
      // are (the colour is packed from every channel's buffer otherwise).
      if (!read || (k == 0 && t->flatZ) || (k >= 2 && k < 6 && t->flatDiffuse)) continue;
    }
    t->live[t->liveCount++] = k;
  }
  // A level edge bounds the rows and an upright one the columns, the same
  // on every row: both are folded into the pixel range here, so the row walk
  // steps only the sloped edges (one per half of an upright quad). The top
  // and left ones are the bounding box's own bounds; the bottom and right
  // ones also leave out the centres they pass through.
  for (int e = 0; e < 3; ++e) {
    if (edy[e] != 0 || edx[e] > 0) continue;
    // The bottom edge: inside on row py where edx * (py * kSub - Y) - 1 >= 0.
    const int64_t k0 = edx[e] * (int64_t{t->py0} * kSub - Y[e]) + bias[e];
    if (k0 < 0) return false;
    const int64_t last = t->py0 + k0 / (-edx[e] * kSub);
    if (last < t->py1) t->py1 = static_cast<int>(last);
  }
  t->moving = 0;
  for (int e = 0; e < 3; ++e) {
    if (edy[e] == 0) continue;
    const int64_t eK = edx[e] * (int64_t{t->py0} * kSub - Y[e]) + edy[e] * X[e] + bias[e];
    const int64_t step = edy[e] * kSub;
    const int64_t d = step > 0 ? step : -step;
    const int64_t q = FloorDiv(eK, d);
    if (edx[e] == 0) {  // upright: the right edge bounds the columns
      if (step > 0 && q < t->px1) {
        if (q < t->px0) return false;
        t->px1 = static_cast<int>(q);
      }
      continue;
    }
    const int m = t->moving++;
    const int64_t kStep = edx[e] * kSub;
    t->eSign[m] = step > 0 ? 1 : -1;
    t->eD[m] = d;
    t->eq[m] = q;
    t->er[m] = eK - q * d;
    t->eqStep[m] = FloorDiv(kStep, d);
    t->erStep[m] = kStep - t->eqStep[m] * d;
  }
  return true;
}

// One chunk of `n` pixels from `start` on row `py`.
void DrawChunk(const Pipeline& p, const TriangleSetup& t, int64_t start, int py, int n) {
  float buf[2 + kMaxAttrs][kChunk];
  const double ox = static_cast<double>(start) - t.fx0, oy = static_cast<double>(py) - t.fy0;
  for (int l = 0; l < t.liveCount; ++l) {
    const int k = t.live[l];
    const Plane& pl = t.planes[k];
    const float base = static_cast<float>(pl.a0 + pl.dx * ox + pl.dy * oy);
    const float dx = static_cast<float>(pl.dx);
    float* out = buf[k];
    for (int i = 0; i < n; ++i) out[i] = base + dx * static_cast<float>(i);
  }
  if (t.perspective) {
    float w[kChunk];
    for (int i = 0; i < n; ++i) w[i] = buf[1][i] != 0.0f ? 1.0f / buf[1][i] : 0.0f;
    for (int l = 0; l < t.liveCount; ++l)
      if (const int k = t.live[l]; k >= 2)
        for (int i = 0; i < n; ++i) buf[k][i] *= w[i];
  }
  uint32_t diffuse[kChunk];
  if (t.fast) {
    if (t.flatDiffuse) {
      std::fill(diffuse, diffuse + n, t.diffuseFlat);
    } else {
      for (int i = 0; i < n; ++i) {
        uint32_t c = 0;
        for (int j = 0; j < 4; ++j) c |= ToByte(buf[2 + j][i]) << (j == 3 ? 24 : 16 - 8 * j);
        diffuse[i] = c;
      }
    }
    t.fast(p, static_cast<int>(start), py, n, buf[0], t.zFlat, diffuse, buf[t.uk], buf[t.uk + 1]);
    return;
  }
  // Colours to 8 bits, rounded to nearest.
  uint32_t specular[kChunk];
  auto pack = [&](int k, uint32_t* out) {
    for (int i = 0; i < n; ++i) {
      uint32_t c = 0;
      for (int j = 0; j < 4; ++j) c |= ToByte(buf[2 + k + j][i]) << (j == 3 ? 24 : 16 - 8 * j);
      out[i] = c;
    }
  };
  pack(0, diffuse);
  if (p.needSpecular) {
    pack(4, specular);
  } else {
    std::fill(specular, specular + n, 0u);
  }
  uint32_t color[kChunk], alpha255[kChunk];
  ShadeSpan(p, n, diffuse, specular, buf[2 + kColorAttrs], kChunk, t.texFloats, color, alpha255);
  WriteSpan(p, static_cast<int>(start), py, n, buf[0], color, alpha255);
}

// A triangle's sloped edges stepped a row at a time from its first row. The
// bound's carry is taken without a branch: its pattern follows the slope and
// mispredicts.
struct EdgeWalk {
  int64_t eq[3], er[3];
  explicit EdgeWalk(const TriangleSetup& t) {
    std::copy(t.eq, t.eq + 3, eq);
    std::copy(t.er, t.er + 3, er);
  }
  // The current row's span, where all three edge functions pass at pixel
  // centres (none when lo > hi); then on to the next row.
  void Row(const TriangleSetup& t, int64_t* lo, int64_t* hi) {
    int64_t l = t.px0, h = t.px1;
    for (int e = 0; e < t.moving; ++e) {
      if (t.eSign[e] > 0) {
        h = std::min(h, eq[e]);
      } else {
        l = std::max(l, -eq[e]);
      }
      const int64_t r = er[e] + t.erStep[e];
      const int64_t carry = -static_cast<int64_t>(r >= t.eD[e]);  // all ones or zero
      er[e] = r - (carry & t.eD[e]);
      eq[e] += t.eqStep[e] - carry;
    }
    *lo = l, *hi = h;
  }
};

// Sprites land anywhere in buffers larger than the caches: ask for the
// pixels lo..hi of `row` (and their depth) ahead of drawing them.
void PrefetchRow(const Pipeline& p, int row, int64_t lo, int64_t hi) {
  const BYTE* c = p.bits + static_cast<size_t>(row) * p.pitch;
  for (int64_t x = lo; x <= hi; x += 16) __builtin_prefetch(c + x * 4, 1);
  __builtin_prefetch(c + hi * 4, 1);
  if (p.depthTest) {
    const BYTE* d = p.depthBits + static_cast<size_t>(row) * p.depthPitch;
    for (int64_t x = lo; x <= hi; x += 16) __builtin_prefetch(d + x * p.depth.bytes, 1);
    __builtin_prefetch(d + hi * p.depth.bytes, 1);
  }
}

// The rows of `share`'s band, each as spans between the edges.
void DrawRows(const Pipeline& p, const TriangleSetup& t, RowShare share) {
  EdgeWalk walk(t);
  // The row's place in its block of kBandRows and the block's band, stepped
  // with the rows instead of divided out for each.
  int inBlock = t.py0 % kBandRows, blockBand = (t.py0 / kBandRows) % share.bands;
  // The affine loop takes the spans of many rows at once.
  constexpr int kSpans = 64;
  Span spans[kSpans];
  int spanCount = 0;
  for (int py = t.py0; py <= t.py1; ++py) {
    const bool own = blockBand == share.band;
    const bool lastInBlock = inBlock == kBandRows - 1;
    if (lastInBlock) {
      inBlock = 0;
      if (++blockBand == share.bands) blockBand = 0;
    } else {
      ++inBlock;
    }
    int64_t lo, hi;
    walk.Row(t, &lo, &hi);
    if (!own) continue;
    // (The affine loop asks for its rows itself, a few spans ahead.)
    int nextRow = py + 1;
    if (lastInBlock && share.bands > 1) nextRow += kBandRows * (share.bands - 1);
    if (t.fast && lo <= hi && nextRow <= t.py1) PrefetchRow(p, nextRow, lo, hi);
    if (t.affine) {
      if (lo <= hi) {
        spans[spanCount++] = {static_cast<int>(lo), static_cast<int>(hi), py};
        if (spanCount == kSpans) {
          t.affine(p, t.affineTri, nullptr, spans, spanCount);
          spanCount = 0;
        }
      }
      continue;
    }
    for (int64_t start = lo; start <= hi; start += kChunk)
      DrawChunk(p, t, start, py, static_cast<int>(std::min<int64_t>(kChunk, hi - start + 1)));
  }
  if (spanCount > 0) t.affine(p, t.affineTri, nullptr, spans, spanCount);
}

// Two triangles of the affine loop with the same colour and depth (the two
// halves of a sprite quad), their rows walked together: each row's two
// spans go to the loop as a pair, which draws them as one span where it
// can. Each pixel sees `a` before `b` as when they are drawn one after the
// other, and nothing else, so the pixels are the same.
void DrawPairRows(const Pipeline& p, const TriangleSetup& a, const TriangleSetup& b,
                  RowShare share) {
  EdgeWalk walkA(a), walkB(b);
  constexpr int kSpans = 64;  // two a row: 32 rows a call
  Span spans[kSpans];
  int spanCount = 0;
  const int y0 = std::min(a.py0, b.py0), y1 = std::max(a.py1, b.py1);
  // The row's place in its block and the block's band, stepped as in DrawRows.
  int inBlock = y0 % kBandRows, blockBand = (y0 / kBandRows) % share.bands;
  for (int py = y0; py <= y1; ++py) {
    int64_t la = 1, ha = 0, lb = 1, hb = 0;
    if (py >= a.py0 && py <= a.py1) walkA.Row(a, &la, &ha);
    if (py >= b.py0 && py <= b.py1) walkB.Row(b, &lb, &hb);
    const bool own = blockBand == share.band;
    if (++inBlock == kBandRows) {
      inBlock = 0;
      if (++blockBand == share.bands) blockBand = 0;
    }
    if (!own) continue;
    const bool hasA = la <= ha, hasB = lb <= hb;
    if (!hasA && !hasB) continue;
    spans[spanCount++] =
        hasA ? Span{static_cast<int>(la), static_cast<int>(ha), py} : Span{1, 0, py};
    spans[spanCount++] =
        hasB ? Span{static_cast<int>(lb), static_cast<int>(hb), py} : Span{1, 0, py};
    if (spanCount == kSpans) {
      a.affine(p, a.affineTri, &b.affineTri, spans, spanCount);
      spanCount = 0;
    }
  }
  if (spanCount > 0) a.affine(p, a.affineTri, &b.affineTri, spans, spanCount);
}

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
  const int texFloats = std::min(2 * kMaxTexSets, attrs - kColorAttrs);
  for (int t2 = 0; t2 < texFloats; ++t2) tex[t2] = v[4 + kColorAttrs + t2] * w;
  uint32_t color, alpha255;
  ShadeSpan(p, 1, &diffuse, &specular, tex, 1, texFloats, &color, &alpha255);
  WriteSpan(p, x, y, 1, &v[2], &color, &alpha255);
}

// A screen coordinate on the 1/kSub pixel grid triangles are rasterised on.
inline double SnapToGrid(float v) {
  return static_cast<double>(RoundHalfAway(static_cast<double>(v) * kSub)) / kSub;
}

}  // namespace

void RasterTriangle(Pipeline& p, const ScreenVertex* v[3], int attrs, RowShare share) {
  TriangleSetup t;
  if (SetupTriangle(p, v, attrs, share, &t)) DrawRows(p, t, share);
}

void RasterTrianglePair(Pipeline& p, const ScreenVertex* a[3], const ScreenVertex* b[3], int attrs,
                        RowShare share) {
  TriangleSetup ta;
  if (!SetupTriangle(p, a, attrs, share, &ta)) {
    RasterTriangle(p, b, attrs, share);
    return;
  }
  // Setting up `b` picks filters in `p` for `b`; only the affine loop, which
  // reads none of them, may draw `a` after that.
  if (!ta.affine) {
    DrawRows(p, ta, share);
    RasterTriangle(p, b, attrs, share);
    return;
  }
  TriangleSetup tb;
  if (!SetupTriangle(p, b, attrs, share, &tb)) {
    DrawRows(p, ta, share);
  } else if (tb.affine == ta.affine && tb.affineTri.diffuse == ta.affineTri.diffuse &&
             tb.affineTri.zFlat == ta.affineTri.zFlat) {
    DrawPairRows(p, ta, tb, share);
  } else {
    DrawRows(p, ta, share);
    DrawRows(p, tb, share);
  }
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

}  // namespace vrt::d3d::raster
