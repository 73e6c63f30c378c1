// Fonts: a GDI font with its memory DC, the lock around its GDI calls, the
// glyph buffer, and a texture atlas of its glyphs filled on demand. Measuring
// uses GDI only; the atlas is made on the Direct3D device of the first draw.
#pragma once

#include <d3d8.h>
#include <vek/vek.h>
#include <windows.h>

#include "vektex/texture.h"

inline constexpr UINT kFontMinSize = 2;
inline constexpr UINT kFontMaxSize = 511;
inline constexpr int kFaceNameUnits = 32;
inline constexpr int kFontBuckets = 31;
inline constexpr UINT kAtlasGutter = 2;
inline constexpr UINT kAtlasStartSide = 64;
inline constexpr UINT kMinBucketCapacity = 32;

// One rasterised character: its cell in atlas coordinates and its advance.
struct CharCoordinate {
  WORD code;
  float uLeft, vTop;
  float uRight, vBottom;
  float advance;  // cell width in pixels, effect margin included
};

struct CharBucket {
  CharCoordinate* entries;
  UINT entryCount;
  UINT capacity;
};

struct VekFont {
  WCHAR faceName[kFaceNameUnits];  // not terminated when the name has 32 units or more
  UINT size;
  DWORD flags;
  DWORD effectColor;  // A4R4G4B4 form with a shadow or outline, else as given
  INT marginX, marginY;
  INT ascent;
  UINT lineHeight;  // tmHeight + marginY: every cell's height
  HFONT hFont;
  VekTexture tex;  // the glyph atlas
  UINT cursorX;
  UINT rowY;
  UINT rowStartX;
  CharBucket buckets[kFontBuckets];
  CRITICAL_SECTION gdiLock;
  HDC hdc;
  BYTE* cbits;
  UINT cbitsSize;
  // Beyond the documented fields:
  DWORD effectColor32;            // the caller's A8R8G8B8 colour, for the 32-bit atlas
  IDirect3DDevice8* atlasDevice;  // device the atlas was made on (not a reference)
  UINT usedBottom;                // lowest row of any cell and its gutter: free below
  bool lockInitialised;
};

// ---- Fonts and measuring ----------------------------------------------------

// The font, or null with the error recorded.
VekFont* CreateFontRecord(const WCHAR* faceName, UINT size, DWORD flags, DWORD colour);
// Releases whatever exists of the font; 0 for null, else 1.
INT DestroyFontRecord(VekFont* font);
DWORD ToA4R4G4B4(DWORD colour);
// (height + marginY) << 16 | (width + marginX) of one unit; 0 below 0x20 or
// when GDI gives no positive extent.
DWORD MeasureChar(VekFont* font, WORD ch);
// Largest height << 16 | summed width (saturated at 0xFFFF); 0 for count <= 0.
DWORD MeasureText(VekFont* font, const WCHAR* text, INT count);
INT AddFontFile(const WCHAR* path);
INT RemoveFontFile(const WCHAR* path);

// ---- Glyph atlas -------------------------------------------------------------

// Rasterises every unit of 0x20 and above that has no entry yet. Always true:
// a character that cannot be added simply has no entry.
bool EnsureGlyphs(VekFont* font, const WCHAR* text, UINT count, IDirect3DDevice8* device);
// The entry of `code`, or null; valid until the next entry joins its bucket.
const CharCoordinate* FindCharCoordinate(const VekFont* font, WORD code);
// Whether text of the font may go to the opaque list.
bool FontIsOpaque(const VekFont* font);

bool RasterizeGlyph(VekFont* font, WORD code, IDirect3DDevice8* device);
// bits: the GDI bitmap of gm's black box (rows 32-bit aligned), or null for
// a glyph without pixels.
bool PlaceGlyph(VekFont* font, const GLYPHMETRICS& gm, WORD code, const BYTE* bits,
                IDirect3DDevice8* device);
bool GrowAtlas(VekFont* font, IDirect3DDevice8* device);
// The effect passes over a cell of w x h texels whose top-left is `cell`,
// rows `pitch` texels apart; row h and column w (the gutter) may be written.
void ApplyGlyphEffect(WORD* cell, INT w, INT h, UINT pitch, WORD key, DWORD flags, WORD colour);
void ApplyGlyphEffect(DWORD* cell, INT w, INT h, UINT pitch, DWORD key, DWORD flags, DWORD colour);
bool AddCharCoordinate(VekFont* font, WORD code, float uLeft, float vTop, float uRight,
                       float vBottom, float advance);
bool ReserveEntries(CharBucket* bucket, UINT n);
