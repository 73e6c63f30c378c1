// GDI fonts over FreeType: CreateFontW, GetTextMetricsW, GetTextExtentPoint32W
// and GetGlyphOutlineW's bitmap formats, with the metrics, boxes and pixels
// real GDI (Wine's, on the same FreeType) gives for the same file.
#include <algorithm>
#include <array>
#include <memory>
#include <cstring>
#include <vector>

#include "gdi_faces.h"

#include FT_BITMAP_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H

namespace vrt::gdi {

namespace {

// GDI keeps at most 31 units of a face name (LOGFONTW's 32 with the null).
constexpr size_t kFaceNameUnits = 31;
// GDI's ceiling on pixels per em; larger heights fall back to 1.
constexpr int64_t kMaxPpem = 0xffff;
// Synthesised italic: x += y / 4, in 16.16.
constexpr FT_Matrix kShear{0x10000, 0x4000, 0, 0x10000};

// A glyph loaded, synthesised and measured as GDI measures it.
struct Glyph {
  GLYPHMETRICS metrics{};
  FT_Pos xMin = 0, yMin = 0;
  int width = 0, height = 0;  // the box in pixels, 0 for an empty glyph
};

struct Font : Object {
  Font() : Object(Kind::kFont) {}
  ~Font() override {
    if (face) FT_Done_Face(face);
  }
  FT_Face face = nullptr;
  int ppem = 0;
  bool fakeBold = false;
  bool fakeItalic = false;
  TEXTMETRICW metrics{};
  // The slot's outline as LoadGlyph left it (synthesised, not yet moved for
  // rendering): a size query and the call that fills the buffer load once.
  bool slotReady = false;
  uint64_t slotKey = 0;
  Glyph slotGlyph;
  // Grey advances by UTF-16 unit in pages of 256, -1 until measured: text is
  // measured one unit at a time, over and over.
  std::vector<std::unique_ptr<std::array<int16_t, 256>>> advances;
  int16_t* AdvanceSlot(UINT unit) {
    if (advances.empty()) advances.resize(256);
    auto& page = advances[unit >> 8];
    if (!page) {
      page = std::make_unique<std::array<int16_t, 256>>();
      page->fill(-1);
    }
    return &(*page)[unit & 0xff];
  }
};

LONG Scale(FT_Long units, FT_Fixed scale) { return static_cast<LONG>(FT_MulFix(units, scale)); }

// Windows' MulDiv: rounded, half away from zero.
int64_t MulDivRound(int64_t a, int64_t b, int64_t c) {
  const int64_t p = a * b;
  return (p >= 0) == (c > 0) ? (p + c / 2) / c : (p - c / 2) / c;
}

// Ascent and descent, as GetTextMetricsW reports them, at `ppem`.
struct Vertical {
  FT_Long ascent, descent;  // font units
};

Vertical VerticalOf(FT_Face face) {
  const TT_OS2* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
  if (os2 && os2->usWinAscent + os2->usWinDescent != 0) return {os2->usWinAscent, os2->usWinDescent};
  return {face->ascender, -face->descender};
}

int64_t CellAt(FT_Face face, int ppem) {
  const FT_Fixed em = FT_MulDiv(ppem, 65536, face->units_per_EM);
  const Vertical v = VerticalOf(face);
  return int64_t{FT_MulFix(v.ascent, em)} + FT_MulFix(v.descent, em);
}

// Pixels per em for a LOGFONT height: negative is the em itself, positive the
// cell (ascent + descent, never exceeded), zero GDI's default cell of 16.
int PpemForHeight(FT_Face face, int height) {
  const TT_OS2* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
  const TT_HoriHeader* hhea = static_cast<TT_HoriHeader*>(FT_Get_Sfnt_Table(face, FT_SFNT_HHEA));
  int64_t h = height == 0 ? 16 : height;
  int64_t ppem;
  if (h < 0) {
    ppem = -h;
  } else {
    int64_t cell = os2 ? int64_t{os2->usWinAscent} + os2->usWinDescent : 0;
    if (cell == 0 && hhea) cell = int64_t{hhea->Ascender} - hhea->Descender;
    if (cell <= 0) cell = face->units_per_EM;
    ppem = MulDivRound(face->units_per_EM, h, cell);
    // Rounded up to a cell taller than asked for: one pixel per em less.
    if (ppem > 1 && ppem <= kMaxPpem && CellAt(face, static_cast<int>(ppem)) > h) --ppem;
  }
  return ppem < 1 || ppem > kMaxPpem ? 1 : static_cast<int>(ppem);
}

void FillMetrics(Font& f, int weight, bool italic, bool underline, bool strikeOut) {
  FT_Face face = f.face;
  const TT_OS2* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
  const TT_HoriHeader* hhea = static_cast<TT_HoriHeader*>(FT_Get_Sfnt_Table(face, FT_SFNT_HHEA));
  const FT_Fixed em = FT_MulDiv(f.ppem, 65536, face->units_per_EM);
  const auto [ascent, descent] = VerticalOf(face);
  TEXTMETRICW& tm = f.metrics;
  tm = TEXTMETRICW{};
  tm.tmAscent = Scale(ascent, em);
  tm.tmDescent = Scale(descent, em);
  tm.tmHeight = tm.tmAscent + tm.tmDescent;
  tm.tmInternalLeading = Scale(ascent + descent - face->units_per_EM, em);
  if (hhea) {
    const FT_Long gap = hhea->Line_Gap - ((ascent + descent) - (hhea->Ascender - hhea->Descender));
    tm.tmExternalLeading = std::max<LONG>(0, Scale(gap, em));
  }
  tm.tmAveCharWidth = os2 ? Scale(os2->xAvgCharWidth, em) : 0;
  if (tm.tmAveCharWidth == 0) tm.tmAveCharWidth = 1;
  tm.tmMaxCharWidth = Scale(face->bbox.xMax - face->bbox.xMin, em);
  if (f.fakeBold) {
    ++tm.tmAveCharWidth;
    ++tm.tmMaxCharWidth;
  }
  tm.tmWeight = f.fakeBold ? FW_BOLD : (os2 && os2->usWeightClass ? os2->usWeightClass : weight);
  tm.tmDigitizedAspectX = tm.tmDigitizedAspectY = 96;
  if (os2) {
    tm.tmFirstChar = os2->usFirstCharIndex;
    tm.tmLastChar = os2->usLastCharIndex;
    // GDI reports 0x1F where the font names no default character.
    tm.tmDefaultChar = os2->version >= 2 && os2->usDefaultChar ? os2->usDefaultChar : 0x1f;
    tm.tmBreakChar = os2->version >= 2 && os2->usBreakChar ? os2->usBreakChar : u' ';
  } else {
    tm.tmDefaultChar = 0x1f;
    tm.tmBreakChar = u' ';
  }
  tm.tmItalic = (italic || (face->style_flags & FT_STYLE_FLAG_ITALIC)) ? 255 : 0;
  tm.tmUnderlined = underline ? 255 : 0;
  tm.tmStruckOut = strikeOut ? 255 : 0;
  // TMPF_FIXED_PITCH set means variable pitch, as GDI has it. The family
  // comes from the PANOSE class: script and decorative kinds, else monospaced
  // (modern), else by serif style (roman or swiss).
  BYTE pitch = TMPF_VECTOR | TMPF_TRUETYPE | (FT_IS_FIXED_WIDTH(face) ? 0 : TMPF_FIXED_PITCH);
  const BYTE kind = os2 ? os2->panose[0] : 0, serif = os2 ? os2->panose[1] : 0;
  if (kind == 3) {
    pitch |= FF_SCRIPT;
  } else if (kind == 4) {
    pitch |= FF_DECORATIVE;
  } else if (FT_IS_FIXED_WIDTH(face) || (os2 && os2->panose[3] == 9)) {
    pitch |= FF_MODERN;
  } else if (serif >= 2 && serif <= 10) {
    pitch |= FF_ROMAN;
  } else if (serif >= 11 && serif <= 15) {
    pitch |= FF_SWISS;
  }
  tm.tmPitchAndFamily = pitch;
  tm.tmCharSet = ANSI_CHARSET;
}

// Gives `font` its face and size; false (last error set) when none is found.
bool Realise(Font& font, int height, int weight, bool italic, bool underline, bool strikeOut,
             const std::u16string& name) {
  FaceChoice choice;
  if (!Library() || !ChooseFace(name, weight, italic, &choice)) {
    SetLastError(kErrorFileNotFound);
    return false;
  }
  FT_Face face = nullptr;
  if (FT_New_Face(Library(), choice.face.path.c_str(), choice.face.index, &face) != 0) {
    SetLastError(kErrorFileInvalid);
    return false;
  }
  if (FT_Select_Charmap(face, FT_ENCODING_UNICODE) != 0 && face->num_charmaps > 0)
    FT_Set_Charmap(face, face->charmaps[0]);
  const int ppem = PpemForHeight(face, height);
  if (FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(ppem)) != 0) {
    FT_Done_Face(face);
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  font.face = face;
  font.ppem = ppem;
  font.fakeBold = choice.fakeBold;
  font.fakeItalic = choice.fakeItalic;
  FillMetrics(font, weight, italic, underline, strikeOut);
  return true;
}

// The realised font selected into `dc`; null with the last error set when
// `dc` is not a DC or no face could be found for it.
std::shared_ptr<Font> FontOf(HDC dc) {
  auto object = SelectedFont(dc);
  if (!object) {
    SetLastError(kErrorInvalidHandle);
    return nullptr;
  }
  auto font = std::static_pointer_cast<Font>(object);
  // The stock font takes its face when first used: the default face of that
  // moment (usually the first font added), at GDI's default cell of 16.
  if (!font->face && !(font->stock && Realise(*font, 0, FW_NORMAL, false, false, false, {}))) {
    SetLastError(kErrorFileNotFound);
    return nullptr;
  }
  return font;
}

bool LoadGlyph(Font& f, UINT ch, bool byIndex, FT_Int32 target, bool unhinted, Glyph* g) {
  FT_Face face = f.face;
  const FT_UInt index = byIndex ? ch : FT_Get_Char_Index(face, ch);
  FT_Int32 flags = FT_LOAD_IGNORE_GLOBAL_ADVANCE_WIDTH | FT_LOAD_NO_BITMAP | target;
  if (unhinted) flags |= FT_LOAD_NO_HINTING;
  if (FT_Load_Glyph(face, index, flags) != 0 &&
      FT_Load_Glyph(face, index, flags | FT_LOAD_NO_HINTING) != 0)
    return false;
  FT_GlyphSlot slot = face->glyph;
  if (slot->format != FT_GLYPH_FORMAT_OUTLINE) return false;
  FT_Glyph_Metrics m = slot->metrics;
  if (f.fakeBold) {
    if (FT_Outline_Embolden(&slot->outline, FT_MulDiv(f.ppem, 64, 24)) != 0) return false;
    FT_BBox box;
    FT_Outline_Get_CBox(&slot->outline, &box);
    m.width = box.xMax - box.xMin;
    m.height = box.yMax - box.yMin;
    m.horiBearingX = box.xMin;
    m.horiBearingY = box.yMax;
    m.horiAdvance += 64;
  }
  if (f.fakeItalic) FT_Outline_Transform(&slot->outline, &kShear);
  // The box, cut to the cell vertically, in 26.6.
  const FT_Pos top = std::min<FT_Pos>(m.horiBearingY, FT_Pos{f.metrics.tmAscent} * 64);
  const FT_Pos bottom =
      std::max<FT_Pos>(m.horiBearingY - m.height, -FT_Pos{f.metrics.tmDescent} * 64);
  FT_Pos left = m.horiBearingX, right = m.horiBearingX + m.width;
  if (f.fakeItalic) {
    FT_Vector corners[4] = {{left, top}, {right, top}, {left, bottom}, {right, bottom}};
    left = right = 0;
    for (int i = 0; i < 4; ++i) {
      FT_Vector_Transform(&corners[i], &kShear);
      left = i == 0 ? corners[i].x : std::min(left, corners[i].x);
      right = i == 0 ? corners[i].x : std::max(right, corners[i].x);
    }
  }
  const FT_Pos xMin = left & -64, xMax = (right + 63) & -64;
  const FT_Pos yMax = (top + 63) & -64, yMin = bottom & -64;
  g->xMin = xMin;
  g->yMin = yMin;
  g->width = static_cast<int>(std::max<FT_Pos>(0, xMax - xMin) >> 6);
  g->height = static_cast<int>(std::max<FT_Pos>(0, yMax - yMin) >> 6);
  g->metrics.gmBlackBoxX = static_cast<UINT>(std::max(1, g->width));
  g->metrics.gmBlackBoxY = static_cast<UINT>(std::max(1, g->height));
  g->metrics.gmptGlyphOrigin = POINT{static_cast<LONG>(xMin >> 6), static_cast<LONG>(yMax >> 6)};
  g->metrics.gmCellIncX = static_cast<short>((m.horiAdvance + 63) >> 6);
  g->metrics.gmCellIncY = 0;
  return true;
}

// LoadGlyph, or the glyph still in the slot from the call before.
bool Loaded(Font& f, UINT ch, bool byIndex, FT_Int32 target, bool unhinted, Glyph* g) {
  const uint64_t key = uint64_t{ch} | uint64_t{byIndex} << 32 | uint64_t{unhinted} << 33 |
                       uint64_t{target == FT_LOAD_TARGET_MONO} << 34;
  if (f.slotReady && f.slotKey == key) {
    *g = f.slotGlyph;
    return true;
  }
  f.slotReady = LoadGlyph(f, ch, byIndex, target, unhinted, g);
  f.slotKey = key;
  f.slotGlyph = *g;
  if (f.slotReady && !byIndex && !unhinted && target == FT_LOAD_TARGET_NORMAL && ch <= 0xffff)
    *f.AdvanceSlot(ch) = static_cast<int16_t>(std::clamp<int>(g->metrics.gmCellIncX, 0, INT16_MAX));
  return f.slotReady;
}

// The grey advance of one UTF-16 unit; 0 when the glyph cannot be loaded.
int Advance(Font& f, WCHAR unit) {
  const int16_t known = *f.AdvanceSlot(unit);
  if (known >= 0) return known;
  Glyph g;
  return Loaded(f, unit, false, FT_LOAD_TARGET_NORMAL, false, &g) ? *f.AdvanceSlot(unit) : 0;
}

bool IsIdentity(const MAT2& m) {
  return m.eM11.value == 1 && m.eM11.fract == 0 && m.eM22.value == 1 && m.eM22.fract == 0 &&
         m.eM12.value == 0 && m.eM12.fract == 0 && m.eM21.value == 0 && m.eM21.fract == 0;
}

// Renders the loaded outline into `buffer` (zeroed first, `size` bytes) with
// GDI's row pitch, grey levels scaled to the format's range.
bool Render(FT_GlyphSlot slot, const Glyph& g, UINT format, int64_t pitch, DWORD size,
            uint8_t* buffer) {
  std::memset(buffer, 0, size);
  FT_Outline_Translate(&slot->outline, -g.xMin, -g.yMin);
  FT_Bitmap bitmap;
  FT_Bitmap_Init(&bitmap);
  bitmap.rows = static_cast<unsigned>(g.height);
  bitmap.width = static_cast<unsigned>(g.width);
  bitmap.pitch = static_cast<int>(pitch);
  bitmap.buffer = buffer;
  bitmap.num_grays = format == GGO_BITMAP ? 2 : 256;
  bitmap.pixel_mode = format == GGO_BITMAP ? FT_PIXEL_MODE_MONO : FT_PIXEL_MODE_GRAY;
  if (FT_Outline_Get_Bitmap(Library(), &slot->outline, &bitmap) != 0) return false;
  if (format == GGO_BITMAP) return true;
  const unsigned levels = format == GGO_GRAY2_BITMAP ? 5 : format == GGO_GRAY4_BITMAP ? 17 : 65;
  for (int y = 0; y < g.height; ++y) {
    uint8_t* row = buffer + y * pitch;
    for (int x = 0; x < g.width; ++x) row[x] = static_cast<uint8_t>(row[x] * levels / 256);
  }
  return true;
}

}  // namespace

HANDLE StockFont() {
  static HANDLE stock = [] {
    auto font = std::make_shared<Font>();
    font->stock = true;
    return AddHandle(font, false);
  }();
  return stock;
}

}  // namespace vrt::gdi

using namespace vrt::gdi;

extern "C" {

HFONT CreateFontW(int height, int width, int escapement, int orientation, int weight,
                  DWORD italic, DWORD underline, DWORD strikeOut, DWORD charSet,
                  DWORD outPrecision, DWORD clipPrecision, DWORD quality, DWORD pitchAndFamily,
                  LPCWSTR faceName) {
  std::lock_guard<std::mutex> lock(Lock());
  if (Injected("CreateFontW", height, width, weight, italic, faceName)) return nullptr;
  // Width, angles, character set, precision, quality and pitch do not change
  // which face is used or how it is drawn here.
  (void)escapement, (void)orientation, (void)charSet, (void)outPrecision, (void)clipPrecision;
  (void)quality, (void)pitchAndFamily;
  std::u16string name;
  for (size_t i = 0; faceName && i < kFaceNameUnits && faceName[i]; ++i) name.push_back(faceName[i]);
  auto font = std::make_shared<Font>();
  if (!Realise(*font, height, weight, italic != 0, underline != 0, strikeOut != 0, name))
    return nullptr;
  return static_cast<HFONT>(AddHandle(font));
}

BOOL GetTextMetricsW(HDC dc, LPTEXTMETRICW metrics) {
  std::lock_guard<std::mutex> lock(Lock());
  VRT_NOTE("GetTextMetricsW", dc, metrics);
  auto font = FontOf(dc);
  if (!font) return FALSE;
  if (!metrics) {
    SetLastError(kErrorInvalidParameter);
    return FALSE;
  }
  *metrics = font->metrics;
  return TRUE;
}

BOOL GetTextExtentPoint32W(HDC dc, LPCWSTR text, int count, LPSIZE size) {
  std::lock_guard<std::mutex> lock(Lock());
  VRT_NOTE("GetTextExtentPoint32W", dc, text, count, size);
  auto font = FontOf(dc);
  if (!font) return FALSE;
  if (!size || count < 0 || (!text && count > 0)) {
    SetLastError(kErrorInvalidParameter);
    return FALSE;
  }
  // Each unit advances by its grey-hinted advance rounded up, as GDI sums them.
  int64_t cx = 0;
  for (int i = 0; i < count; ++i) cx += Advance(*font, text[i]);
  size->cx = static_cast<LONG>(std::min<int64_t>(cx, INT32_MAX));
  // No text has no height either (Wine's GDI answers 0 x 0).
  size->cy = count > 0 ? font->metrics.tmHeight : 0;
  return TRUE;
}

DWORD GetGlyphOutlineW(HDC dc, UINT ch, UINT format, LPGLYPHMETRICS metrics, DWORD bufferSize,
                       LPVOID buffer, const MAT2* matrix) {
  std::lock_guard<std::mutex> lock(Lock());
  if (Injected("GetGlyphOutlineW", dc, ch, format, bufferSize, buffer)) return GDI_ERROR;
  auto font = FontOf(dc);
  if (!font) return GDI_ERROR;
  if (!metrics || !matrix) {
    SetLastError(kErrorInvalidParameter);
    return GDI_ERROR;
  }
  const bool byIndex = (format & GGO_GLYPH_INDEX) != 0;
  const bool unhinted = (format & GGO_UNHINTED) != 0;
  format &= ~static_cast<UINT>(GGO_GLYPH_INDEX | GGO_UNHINTED);
  // Only the bitmap formats (and metrics) of upright glyphs are produced.
  if (!IsIdentity(*matrix) ||
      (format != GGO_METRICS && format != GGO_BITMAP && format != GGO_GRAY2_BITMAP &&
       format != GGO_GRAY4_BITMAP && format != GGO_GRAY8_BITMAP)) {
    SetLastError(kErrorCallNotImplemented);
    return GDI_ERROR;
  }
  Glyph g;
  const FT_Int32 target = format == GGO_BITMAP ? FT_LOAD_TARGET_MONO : FT_LOAD_TARGET_NORMAL;
  if (!Loaded(*font, ch, byIndex, target, unhinted, &g)) {
    SetLastError(kErrorInvalidParameter);
    return GDI_ERROR;
  }
  if (format == GGO_METRICS) {
    *metrics = g.metrics;
    return 1;
  }
  const int64_t pitch = format == GGO_BITMAP ? (int64_t{g.width} + 31) / 32 * 4
                                             : (int64_t{g.width} + 3) & ~int64_t{3};
  const int64_t needed = pitch * g.height;
  if (needed > INT32_MAX) {
    SetLastError(kErrorNotEnoughMemory);
    return GDI_ERROR;
  }
  if (!buffer || bufferSize == 0) {
    *metrics = g.metrics;
    return static_cast<DWORD>(needed);
  }
  // An empty glyph (the space) has no bitmap to give, and a short buffer gets
  // nothing: both leave the buffer and the metrics alone.
  if (needed == 0 || needed > bufferSize) return GDI_ERROR;
  font->slotReady = false;  // rendering moves the outline
  if (!Render(font->face->glyph, g, format, pitch, bufferSize, static_cast<uint8_t*>(buffer))) {
    SetLastError(kErrorInvalidParameter);
    return GDI_ERROR;
  }
  *metrics = g.metrics;
  return static_cast<DWORD>(needed);
}

}  // extern "C"
