// Text drawing: glyphs of a font queued as textured quads (DRAW_QUADS items)
// that sample its atlas, one character onto a box or a run laid across it.
#pragma once

#include <d3d8.h>

#include "graphics/frame.h"
#include "vekfont/font.h"

// One corner of the box text is drawn into: 0 top-left, 1 top-right,
// 2 bottom-right, 3 bottom-left in the sense of the glyph images.
struct TextCorner {
  float x, y, z;
  DWORD colour;
};

// Each returns the number of items queued.
UINT DrawCharGlyph(Graphics* graphics, const TextCorner corners[4], DWORD flags, VekFont* font,
                   DWORD ch);
UINT DrawTextRun(Graphics* graphics, const TextCorner corners[4], DWORD flags, VekFont* font,
                 const WCHAR* text, UINT count);
