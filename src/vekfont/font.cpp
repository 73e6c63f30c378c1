#include "vekfont/font.h"

#include <cstring>

#include "host/host.h"
#include "vekfont/font_errors.h"

namespace {

// GDI takes a null face name as its default face; an empty name selects the
// same one and keeps every GDI (ours included) away from null strings.
const WCHAR kDefaultFace[1] = {0};

UINT MeasureName(const WCHAR* name) {
  UINT n = 0;
  while (name[n]) ++n;
  return n;
}

// Glyph buffer side: the line height raised to a multiple of 4, plus 1.
UINT GlyphBufferSize(UINT lineHeight) {
  const UINT side = ((lineHeight + 3) & ~3u) + 1;
  return side * side;
}

}  // namespace

DWORD ToA4R4G4B4(DWORD c) {
  return ((c >> 28) << 12) | (((c >> 20) & 0xF) << 8) | (((c >> 12) & 0xF) << 4) | ((c >> 4) & 0xF);
}

VekFont* CreateFontRecord(const WCHAR* faceName, UINT size, DWORD flags, DWORD colour) {
  if (size < kFontMinSize) {
    FontError(FontErr::kTooSmall, size);
    return nullptr;
  }
  if (size > kFontMaxSize) {
    FontError(FontErr::kTooLarge, size);
    return nullptr;
  }
  auto* font = static_cast<VekFont*>(Malloc(sizeof(VekFont)));
  if (!font) {
    FontError(FontErr::kMallocFont, sizeof(VekFont));
    return nullptr;
  }
  std::memset(font, 0, sizeof(VekFont));
  if (faceName) {
    const UINT n = MeasureName(faceName);
    std::memcpy(font->faceName, faceName,
                (n < kFaceNameUnits ? n : kFaceNameUnits) * sizeof(WCHAR));
  }
  font->size = size;
  font->flags = flags;
  font->effectColor = colour;
  font->effectColor32 = colour;
  font->tex.contentScaleX = 1.0f;
  font->tex.contentScaleY = 1.0f;
  if (flags & FONT_SHADOW) {
    font->marginX = font->marginY = 1;
    font->effectColor = ToA4R4G4B4(colour);
  } else if (flags & (FONT_OUTLINE_CROSS | FONT_OUTLINE_BOX)) {
    font->marginX = font->marginY = 2;
    font->effectColor = ToA4R4G4B4(colour);
  } else if (flags & FONT_HOLLOW) {
    font->marginX = font->marginY = 2;
  }

  // At least one pixel of character height: a height of 0 would ask GDI for
  // its default size, a font far larger than the caller's.
  INT charHeight = static_cast<INT>(size) - font->marginY;
  if (charHeight < 1) charHeight = 1;
  font->hFont = CreateFontW(-charHeight, 0, 0, 0, (flags & FONT_BOLD) ? FW_BOLD : FW_NORMAL,
                            (flags & FONT_ITALIC) ? 1 : 0, (flags & FONT_UNDERLINE) ? 1 : 0,
                            (flags & FONT_STRIKEOUT) ? 1 : 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                            CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                            faceName ? faceName : kDefaultFace);
  if (!font->hFont) {
    FontError(FontErr::kCreateFont, static_cast<LONG>(GetLastError()));
    DestroyFontRecord(font);
    return nullptr;
  }

  InitializeCriticalSection(&font->gdiLock);
  font->lockInitialised = true;
  font->hdc = CreateCompatibleDC(nullptr);
  // Without its font selected the DC would measure and draw its default font.
  if (font->hdc) {
    const HGDIOBJ previous = SelectObject(font->hdc, font->hFont);
    if (!previous || previous == HGDI_ERROR) {
      FontError(FontErr::kSelectFont, static_cast<LONG>(GetLastError()));
      DestroyFontRecord(font);
      return nullptr;
    }
  }

  TEXTMETRICW tm{};
  if (!font->hdc || !GetTextMetricsW(font->hdc, &tm)) {
    FontError(FontErr::kTextMetrics, static_cast<LONG>(GetLastError()));
    DestroyFontRecord(font);
    return nullptr;
  }
  font->ascent = tm.tmAscent;
  font->lineHeight = static_cast<UINT>(tm.tmHeight + font->marginY);

  font->cbitsSize = GlyphBufferSize(font->lineHeight);
  font->cbits = static_cast<BYTE*>(Malloc(font->cbitsSize));
  if (!font->cbits) {
    FontError(FontErr::kMallocBits, font->cbitsSize);
    font->cbitsSize = 0;
    DestroyFontRecord(font);
    return nullptr;
  }
  return font;
}

INT DestroyFontRecord(VekFont* font) {
  if (!font) return 0;
  if (font->cbits) Free(font->cbits);
  for (CharBucket& bucket : font->buckets) {
    if (bucket.entries) Free(bucket.entries);
    bucket = {};
  }
  if (font->tex.tex) ReleaseTexture(&font->tex);
  FreePixelCache(&font->tex);          // when the host emitted particles from the atlas
  if (font->hdc) DeleteDC(font->hdc);  // before the font it has selected
  if (font->hFont) DeleteObject(font->hFont);
  if (font->lockInitialised) DeleteCriticalSection(&font->gdiLock);
  Free(font);
  return 1;
}

DWORD MeasureChar(VekFont* font, WORD ch) {
  if (ch < 0x20) return 0;
  SIZE extent{};
  const WCHAR unit = ch;
  EnterCriticalSection(&font->gdiLock);
  const BOOL ok = GetTextExtentPoint32W(font->hdc, &unit, 1, &extent);
  LeaveCriticalSection(&font->gdiLock);
  if (ok != 1 || extent.cx <= 0 || extent.cy <= 0) return 0;
  return static_cast<DWORD>(extent.cy + font->marginY) << 16 |
         static_cast<DWORD>(extent.cx + font->marginX);
}

DWORD MeasureText(VekFont* font, const WCHAR* text, INT count) {
  if (count <= 0 || !text) return 0;
  DWORD height = 0, width = 0;
  for (INT i = 0; i < count; ++i) {
    const DWORD size = MeasureChar(font, text[i]);
    if ((size >> 16) > height) height = size >> 16;
    // The width is saturated so a long run can never spill into the height.
    width += size & 0xFFFF;
    if (width > 0xFFFF) width = 0xFFFF;
  }
  return height << 16 | width;
}

// GDI answers 0 for a null path; not every GDI is asked.
INT AddFontFile(const WCHAR* path) { return path ? AddFontResourceW(path) : 0; }

INT RemoveFontFile(const WCHAR* path) { return path ? RemoveFontResourceW(path) : 0; }
