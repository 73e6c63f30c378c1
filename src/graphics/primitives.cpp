#include "graphics/primitives.h"

#include <cstdio>

#include "gd/device.h"
#include "graphics/graphics.h"
#include "graphics/graphics_diagnostics.h"
#include "host/host.h"

namespace {

// The largest vertex array a curve may take, and the segment count a longer
// curve is cut back to.
constexpr UINT kBezierMaxBytes = 8192;
constexpr UINT kBezierCapSegments = 339;

constexpr bool IsOpaque(DWORD colour) { return colour >= 0xFF000000u; }

DWORD WithOpaque(DWORD flags, bool opaque) {
  return opaque ? (flags | DRAW_OPAQUE) : (flags & ~static_cast<DWORD>(DRAW_OPAQUE));
}

BatchVertex* TakeVertices(Graphics* g, UINT count) {
  return static_cast<BatchVertex*>(MemMalloc(&g->frameMemory, count * sizeof(BatchVertex)));
}

// One coordinate of the curve at t by repeated linear interpolation.
float Casteljau(float p0, float p1, float p2, float p3, float t) {
  const float a = p0 + t * (p1 - p0);
  const float b = p1 + t * (p2 - p1);
  const float c = p2 + t * (p3 - p2);
  const float d = a + t * (b - a);
  const float e = b + t * (c - b);
  return d + t * (e - d);
}

// Triangles and quads: texture on first use, both coordinate corrections,
// the opaque rule, then the item. `name` is the export the diagnostics name.
DrawItem* DrawTextured(Graphics* g, INT kind, const PrimitiveCorner* corners, UINT count,
                       DWORD flags, VekTexture* texture, const char* name) {
  if (!g) return nullptr;
  if (texture && !texture->tex) {
    switch (EnsureTexture(texture, g->device->cache.device)) {
      case TextureState::kReady:
        break;
      case TextureState::kReleased:
        GraphicsPrint(GraphicsLine::kTextureReleased, name, static_cast<void*>(texture));
        return nullptr;
      case TextureState::kFailed: {
        const ErrorRecord* error = GetError();
        GraphicsPrint(GraphicsLine::kTextureFailed, name, static_cast<void*>(texture),
                      static_cast<int>(error ? error->code : 0));
        return nullptr;
      }
    }
  }

  float u[4], v[4];
  bool allOpaque = true;
  for (UINT i = 0; i < count; ++i) {
    u[i] = corners[i].u;
    v[i] = corners[i].v;
    allOpaque = allOpaque && IsOpaque(corners[i].colour);
  }
  if (texture && texture->uScale != 0.0f) {
    for (UINT i = 0; i < count; ++i) {
      u[i] = u[i] * texture->uScale;
      v[i] = v[i] * texture->vScale;
    }
  }
  if (g->device->texturesPow2) {
    // The picture's share of a padded texture; an untextured primitive has none.
    const float su = texture ? texture->contentScaleX : 0.0f;
    const float sv = texture ? texture->contentScaleY : 0.0f;
    for (UINT i = 0; i < count; ++i) {
      u[i] = u[i] * su;
      v[i] = v[i] * sv;
    }
  }
  // Only the caller knows whether a texture has transparent texels.
  if (!allOpaque)
    flags = WithOpaque(flags, false);
  else if (!texture)
    flags = WithOpaque(flags, true);

  BatchVertex* vertices = TakeVertices(g, count);
  if (!vertices) return nullptr;
  for (UINT i = 0; i < count; ++i)
    vertices[i] = {corners[i].x, corners[i].y, corners[i].z, corners[i].colour, u[i], v[i]};
  return SubmitDrawItem(g, kind, texture, vertices, count, flags);
}

}  // namespace

DrawItem* DrawPoint(Graphics* g, float x, float y, float z, DWORD colour, DWORD flags) {
  if (!g) return nullptr;
  BatchVertex* vertices = TakeVertices(g, 1);
  if (!vertices) return nullptr;
  vertices[0] = {x, y, z, colour, 0.0f, 0.0f};
  return SubmitDrawItem(g, DRAW_POINTS, nullptr, vertices, 1, WithOpaque(flags, IsOpaque(colour)));
}

DrawItem* DrawLine(Graphics* g, const PrimitiveCorner& a, const PrimitiveCorner& b, DWORD flags) {
  if (!g) return nullptr;
  BatchVertex* vertices = TakeVertices(g, 2);
  if (!vertices) return nullptr;
  vertices[0] = {a.x, a.y, a.z, a.colour, 0.0f, 0.0f};
  vertices[1] = {b.x, b.y, b.z, b.colour, 0.0f, 0.0f};
  return SubmitDrawItem(g, DRAW_LINES, nullptr, vertices, 2,
                        WithOpaque(flags, IsOpaque(a.colour) && IsOpaque(b.colour)));
}

UINT BezierSegments(float step, float* usedStep) {
  *usedStep = step;
  if (!(step > 0.0f)) return 1;  // also a NaN step
  // The reciprocal in double precision: a float just above 1/k must give k - 1.
  const double reciprocal = 1.0 / static_cast<double>(step);
  // n + 1 vertices must fit the byte limit; compared before converting so
  // reciprocals beyond the integer range never meet the conversion.
  constexpr UINT kMaxVertices = kBezierMaxBytes / sizeof(BatchVertex);
  if (reciprocal >= static_cast<double>(kMaxVertices)) {
    *usedStep = 1.0f / static_cast<float>(kBezierCapSegments);
    return kBezierCapSegments;
  }
  const UINT n = static_cast<UINT>(reciprocal);
  return n < 1 ? 1 : n;
}

DrawItem* DrawBezier(Graphics* g, const float p[4][3], DWORD colour, float step, DWORD flags) {
  if (!g) return nullptr;
  const UINT n = BezierSegments(step, &step);
  BatchVertex* vertices = TakeVertices(g, n + 1);
  if (!vertices) return nullptr;
  vertices[0] = {p[0][0], p[0][1], p[0][2], colour, 0.0f, 0.0f};
  float t = step;
  for (UINT k = 1; k < n; ++k) {
    vertices[k] = {Casteljau(p[0][0], p[1][0], p[2][0], p[3][0], t),
                   Casteljau(p[0][1], p[1][1], p[2][1], p[3][1], t),
                   Casteljau(p[0][2], p[1][2], p[2][2], p[3][2], t),
                   colour,
                   0.0f,
                   0.0f};
    t += step;
  }
  vertices[n] = {p[3][0], p[3][1], p[3][2], colour, 0.0f, 0.0f};
  return SubmitDrawItem(g, DRAW_LINESTRIP, nullptr, vertices, n + 1, flags);
}

DrawItem* DrawTri(Graphics* g, const PrimitiveCorner corners[3], DWORD flags, VekTexture* texture) {
  return DrawTextured(g, DRAW_TRIANGLES, corners, 3, flags, texture, "VekDrawTri");
}

DrawItem* DrawQuad(Graphics* g, const PrimitiveCorner corners[4], DWORD flags,
                   VekTexture* texture) {
  return DrawTextured(g, DRAW_QUADS, corners, 4, flags, texture, "VekDrawQuad");
}
