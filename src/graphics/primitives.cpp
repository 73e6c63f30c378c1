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

// The corrections a textured primitive's coordinates take: the level's
// size factors, then, on power-of-two devices, the picture's share of a
// padded texture (an untextured primitive has none).
struct CoordScales {
  bool level;
  float u, v;
  bool content;
  float contentU, contentV;
};

CoordScales ScalesFor(const Graphics* g, const VekTexture* texture) {
  CoordScales s{};
  s.level = texture && texture->uScale != 0.0f;
  if (s.level) {
    s.u = texture->uScale;
    s.v = texture->vScale;
  }
  s.content = g->device->texturesPow2;
  if (s.content && texture) {
    s.contentU = texture->contentScaleX;
    s.contentV = texture->contentScaleY;
  }
  return s;
}

// Writes the corners as batch vertices with corrected coordinates and
// returns the flags under the opaque rule.
DWORD PrepareCorners(const CoordScales& s, bool textured, const PrimitiveCorner* corners,
                     UINT count, DWORD flags, BatchVertex* out) {
  bool allOpaque = true;
  for (UINT i = 0; i < count; ++i) {
    const PrimitiveCorner& c = corners[i];
    float u = c.u, v = c.v;
    if (s.level) {
      u = u * s.u;
      v = v * s.v;
    }
    if (s.content) {
      u = u * s.contentU;
      v = v * s.contentV;
    }
    out[i] = {c.x, c.y, c.z, c.colour, u, v};
    allOpaque = allOpaque && IsOpaque(c.colour);
  }
  // Only the caller knows whether a texture has transparent texels.
  if (!allOpaque) return WithOpaque(flags, false);
  if (!textured) return WithOpaque(flags, true);
  return flags;
}

// Creates the texture on first use; false (with the diagnostic line naming
// export `name`) when it is released or cannot be made.
bool TextureUsable(Graphics* g, VekTexture* texture, const char* name) {
  if (!texture || texture->tex) return true;
  switch (EnsureTexture(texture, g->device->cache.device)) {
    case TextureState::kReady:
      return true;
    case TextureState::kReleased:
      GraphicsPrint(GraphicsLine::kTextureReleased, name, static_cast<void*>(texture));
      return false;
    case TextureState::kFailed: {
      const ErrorRecord* error = GetError();
      GraphicsPrint(GraphicsLine::kTextureFailed, name, static_cast<void*>(texture),
                    static_cast<int>(error ? error->code : 0));
      return false;
    }
  }
  return false;
}

// Triangles and quads: texture on first use, both coordinate corrections,
// the opaque rule, then the item. `name` is the export the diagnostics name.
DrawItem* DrawTextured(Graphics* g, INT kind, const PrimitiveCorner* corners, UINT count,
                       DWORD flags, VekTexture* texture, const char* name) {
  if (!g || !TextureUsable(g, texture, name)) return nullptr;
  BatchVertex* vertices = TakeVertices(g, count);
  if (!vertices) return nullptr;
  flags =
      PrepareCorners(ScalesFor(g, texture), texture != nullptr, corners, count, flags, vertices);
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

UINT DrawQuads(Graphics* g, const PrimitiveCorner (*quads)[4], UINT count, DWORD flags,
               VekTexture* texture) {
  if (!g) return 0;
  UINT queued = 0, k = 0;
  // Until the texture exists each quad tries (and reports) as DrawQuad does.
  for (; k < count && texture && !texture->tex; ++k)
    queued += DrawQuad(g, quads[k], flags, texture) != nullptr;
  const UINT rest = count - k;
  if (rest == 0) return queued;
  // One block for every vertex and item; without it, quad by quad.
  const size_t vertexBytes = size_t{rest} * 4 * sizeof(BatchVertex);
  const size_t bytes = vertexBytes + size_t{rest} * sizeof(DrawItem);
  void* block =
      bytes <= 0xFFFFFFFFu ? MemMalloc(&g->frameMemory, static_cast<UINT>(bytes)) : nullptr;
  if (!block) {
    for (; k < count; ++k) queued += DrawQuad(g, quads[k], flags, texture) != nullptr;
    return queued;
  }
  auto* vertices = static_cast<BatchVertex*>(block);
  auto* items = reinterpret_cast<DrawItem*>(static_cast<char*>(block) + vertexBytes);
  const CoordScales scales = ScalesFor(g, texture);
  ItemState inside, outside;
  CaptureItemStates(g, &inside, &outside);
  // Neighbouring quads mostly share their state: its hash is taken again
  // only when the clip side or the flags change.
  const ItemState* hashedState = nullptr;
  DWORD hashedFlags = 0;
  uint32_t hash = 0;
  for (UINT i = 0; i < rest; ++i) {
    BatchVertex* v = vertices + 4 * i;
    const DWORD f = PrepareCorners(scales, texture != nullptr, quads[k + i], 4, flags, v);
    DrawItem* item = items + i;
    item->kind = DRAW_QUADS;
    item->texture = texture;
    const ItemState* state = InsideClip(g, v, 4) ? &inside : &outside;
    WriteState(&item->state, *state, f);
    item->vertices = v;
    item->count = 4;
    item->groupStart = 0;
    if (state != hashedState || f != hashedFlags) {
      hash = ItemStateHash(item);
      hashedState = state;
      hashedFlags = f;
    }
    QueueItem(g, item, hash);
  }
  return queued + rest;
}
