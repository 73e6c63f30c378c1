#include "graphics/text.h"

#include <cstddef>
#include <cstdio>

#include "gd/device.h"
#include "graphics/graphics.h"
#include "graphics/graphics_diagnostics.h"
#include "host/utf8.h"

namespace {

constexpr bool IsOpaque(DWORD colour) { return colour >= 0xFF000000u; }

// The text of a diagnostic line: up to 64 units as UTF-8 (no surrogate
// pairing, so a lone surrogate shows as '?').
void NarrowText(const WCHAR* text, UINT count, char* out, size_t outSize) {
  size_t n = 0;
  if (!text) {
    std::snprintf(out, outSize, "(null)");
    return;
  }
  for (UINT i = 0; i < count && i < 64; ++i) {
    const unsigned c = static_cast<WORD>(text[i]);
    char bytes[4];
    int k = 1;
    if (c < 0x20)
      bytes[0] = ' ';
    else if (IsSurrogate(c))
      bytes[0] = '?';
    else
      k = EncodeUtf8(c, bytes);
    if (n + static_cast<size_t>(k) + 1 > outSize) break;
    for (int j = 0; j < k; ++j) out[n++] = bytes[j];
  }
  out[n] = 0;
}

void PrintNullPointer(const WCHAR* text, UINT count) {
  char narrow[200];
  NarrowText(text, count, narrow, sizeof narrow);
  GraphicsPrint(GraphicsLine::kTextNull, narrow);
}

// The atlas lives on the device that first drew the font; another device
// cannot sample it, so text of the font is not drawn there.
bool OnAtlasDevice(const VekFont* font, IDirect3DDevice8* device, const char* name) {
  if (!font->atlasDevice || font->atlasDevice == device) return true;
  GraphicsPrint(GraphicsLine::kAtlasElsewhere, name, static_cast<const void*>(font));
  return false;
}

// Glyphs for the text, then the coordinates of items already queued with
// the atlas corrected when it grew, on every surface that may hold them.
void EnsureGlyphsAndRescale(Graphics* g, VekFont* font, const WCHAR* text, UINT count) {
  VekTexture* atlas = &font->tex;
  const UINT w0 = atlas->width, h0 = atlas->height;
  EnsureGlyphs(font, text, count, g->device->cache.device);
  const UINT w1 = atlas->width, h1 = atlas->height;
  // A new atlas has no items to correct (none could use a texture that did not exist).
  if (w0 == 0 || (w1 <= w0 && h1 <= h0)) return;
  const float su = w1 > w0 ? static_cast<float>(w0) / static_cast<float>(w1) : 1.0f;
  const float sv = h1 > h0 ? static_cast<float>(h0) / static_cast<float>(h1) : 1.0f;
  RescaleTexCoordsEverywhere(atlas, su, sv);
}

DWORD OpaqueRule(DWORD flags, const TextCorner corners[4], const VekFont* font) {
  for (int k = 0; k < 4; ++k)
    if (!IsOpaque(corners[k].colour)) return flags & ~static_cast<DWORD>(DRAW_OPAQUE);
  return FontIsOpaque(font) ? (flags | DRAW_OPAQUE) : flags;
}

UINT QueueGlyph(Graphics* g, const BatchVertex quad[4], DWORD flags, VekFont* font) {
  auto* vertices = static_cast<BatchVertex*>(MemMalloc(&g->frameMemory, 4 * sizeof(BatchVertex)));
  if (!vertices) return 0;
  for (int k = 0; k < 4; ++k) vertices[k] = quad[k];
  return SubmitDrawItem(g, DRAW_QUADS, &font->tex, vertices, 4, flags) ? 1 : 0;
}

// A colour along one edge of the box: each channel of `from` plus its step
// times s, truncated toward zero.
struct ColourRamp {
  float base[4];
  float step[4];
  ColourRamp(DWORD from, DWORD to, float g) {
    for (int c = 0; c < 4; ++c) {
      const int a = static_cast<int>(from >> (24 - 8 * c) & 0xFF);
      const int b = static_cast<int>(to >> (24 - 8 * c) & 0xFF);
      base[c] = static_cast<float>(a);
      step[c] = static_cast<float>(b - a) / g;
    }
  }
  DWORD At(float s) const {
    DWORD colour = 0;
    for (int c = 0; c < 4; ++c) {
      int v = static_cast<int>(base[c] + step[c] * s);
      v = v < 0 ? 0 : (v > 255 ? 255 : v);
      colour |= static_cast<DWORD>(v) << (24 - 8 * c);
    }
    return colour;
  }
};

}  // namespace

UINT DrawCharGlyph(Graphics* g, const TextCorner corners[4], DWORD flags, VekFont* font, DWORD ch) {
  const WCHAR unit = static_cast<WCHAR>(ch & 0xFFFF);
  if (!font || !g) {
    PrintNullPointer(&unit, 1);
    return 0;
  }
  if (static_cast<WORD>(unit) <= 0x20) return 0;
  if (!OnAtlasDevice(font, g->device->cache.device, "VekDrawChar")) return 0;
  EnsureGlyphsAndRescale(g, font, &unit, 1);
  const CharCoordinate* e = FindCharCoordinate(font, static_cast<WORD>(unit));
  if (!e) return 0;
  flags = OpaqueRule(flags, corners, font);
  const BatchVertex quad[4] = {
      {corners[0].x, corners[0].y, corners[0].z, corners[0].colour, e->uLeft, e->vTop},
      {corners[1].x, corners[1].y, corners[1].z, corners[1].colour, e->uRight, e->vTop},
      {corners[2].x, corners[2].y, corners[2].z, corners[2].colour, e->uRight, e->vBottom},
      {corners[3].x, corners[3].y, corners[3].z, corners[3].colour, e->uLeft, e->vBottom}};
  return QueueGlyph(g, quad, flags, font);
}

UINT DrawTextRun(Graphics* g, const TextCorner c[4], DWORD flags, VekFont* font, const WCHAR* text,
                 UINT count) {
  if (!font || !g || (!text && count)) {
    PrintNullPointer(text, count);
    return 0;
  }
  if (!OnAtlasDevice(font, g->device->cache.device, "VekDrawText")) return 0;
  EnsureGlyphsAndRescale(g, font, text, count);
  if (count == 0) return 0;

  float total = 0.0f;
  for (UINT i = 0; i < count; ++i) {
    if (static_cast<WORD>(text[i]) < 0x20) continue;
    if (const CharCoordinate* e = FindCharCoordinate(font, static_cast<WORD>(text[i])))
      total += e->advance;
  }
  if (!(total >= 1.0f)) return 0;

  const float topX = (c[1].x - c[0].x) / total, topY = (c[1].y - c[0].y) / total,
              topZ = (c[1].z - c[0].z) / total;
  const float botX = (c[2].x - c[3].x) / total, botY = (c[2].y - c[3].y) / total,
              botZ = (c[2].z - c[3].z) / total;
  const ColourRamp top(c[0].colour, c[1].colour, total);
  const ColourRamp bottom(c[3].colour, c[2].colour, total);
  flags = OpaqueRule(flags, c, font);

  UINT queued = 0;
  float s = 0.0f;
  for (UINT i = 0; i < count; ++i) {
    const WORD code = static_cast<WORD>(text[i]);
    if (code < 0x20) continue;
    const CharCoordinate* e = FindCharCoordinate(font, code);
    if (!e) continue;
    const float next = s + e->advance;
    if (code > 0x20) {
      const BatchVertex quad[4] = {
          {c[0].x + topX * s, c[0].y + topY * s, c[0].z + topZ * s, top.At(s), e->uLeft, e->vTop},
          {c[0].x + topX * next, c[0].y + topY * next, c[0].z + topZ * next, top.At(next),
           e->uRight, e->vTop},
          {c[3].x + botX * next, c[3].y + botY * next, c[3].z + botZ * next, bottom.At(next),
           e->uRight, e->vBottom},
          {c[3].x + botX * s, c[3].y + botY * s, c[3].z + botZ * s, bottom.At(s), e->uLeft,
           e->vBottom}};
      queued += QueueGlyph(g, quad, flags, font);
    }
    s = next;
  }
  return queued;
}
