// What GDI answers for DejaVu Sans, on both builds: Wine's GDI under Wine,
// the runtime's FreeType GDI on POSIX. Metrics, extents, glyph boxes and the
// 1-bit bitmaps are the same on both; grey bitmaps differ by one level on a
// few pixels between 32- and 64-bit FreeType, so only their sizes and range
// are checked here.
#include <algorithm>
#include <vector>

#include "gdi_font_fixture.h"

#define W GDI_W

namespace {

using GdiFacts = GdiFontTest;

TEST_F(GdiFacts, MetricsAtBothSizesAndForEveryDefaultName) {
  struct Case {
    int height;
    LONG cell, ascent, descent, leading, average;
  };
  for (const Case& c : {Case{-16, 19, 15, 4, 3, 8}, Case{-32, 38, 30, 8, 5, 16}}) {
    // Unknown, empty and null names all get the default face.
    for (const WCHAR* face : {W("DejaVu Sans"), W("No Such Face"), W(""),
                              static_cast<const WCHAR*>(nullptr)}) {
      Use(c.height, face);
      const TEXTMETRICW tm = Metrics();
      EXPECT_EQ(tm.tmHeight, c.cell) << c.height;
      EXPECT_EQ(tm.tmAscent, c.ascent) << c.height;
      EXPECT_EQ(tm.tmDescent, c.descent) << c.height;
      EXPECT_EQ(tm.tmInternalLeading, c.leading) << c.height;
      EXPECT_EQ(tm.tmAveCharWidth, c.average) << c.height;
      EXPECT_EQ(tm.tmWeight, FW_NORMAL);
    }
  }
  // A positive height is the cell; 0 is GDI's default cell of 16.
  Use(19);
  EXPECT_EQ(Metrics().tmHeight, 19);
  EXPECT_EQ(Metrics().tmAscent, 15);
  Use(0);
  EXPECT_EQ(Metrics().tmHeight, 16);
}

TEST_F(GdiFacts, ExtentsAreGreyAdvances) {
  Use(-16);
  const WCHAR text[] = W("AgW i.");
  const LONG widths[] = {11, 10, 16, 5, 4, 5};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(Extent(text + i, 1), widths[i]) << i;
  EXPECT_EQ(Extent(text, 6), 11 + 10 + 16 + 5 + 4 + 5);
  SIZE s{-1, -1};
  EXPECT_TRUE(GetTextExtentPoint32W(dc, text, 0, &s));
  EXPECT_EQ(s.cx, 0);
  EXPECT_EQ(s.cy, 0);
  // Bold uses the system's DejaVuSans-Bold.ttf, which both builds see.
  Use(-16, W("DejaVu Sans"), FW_BOLD);
  EXPECT_EQ(Extent(text, 4), 12 + 11 + 18 + 6);
  EXPECT_EQ(Metrics().tmWeight, FW_BOLD);
}

TEST_F(GdiFacts, BitmapSizesPitchesAndShortBuffers) {
  Use(-16);
  struct Case {
    UINT format;
    short advance;
  };
  // Mono glyphs are hinted for the mono target: W advances 17 there.
  for (const Case& c : {Case{GGO_BITMAP, 17}, Case{GGO_GRAY4_BITMAP, 16}, Case{GGO_GRAY8_BITMAP, 16}}) {
    GLYPHMETRICS gm{};
    const DWORD size = GetGlyphOutlineW(dc, 'W', c.format, &gm, 0, nullptr, &kIdentity);
    ASSERT_NE(size, GDI_ERROR);
    const DWORD pitch = c.format == GGO_BITMAP ? (gm.gmBlackBoxX + 31) / 32 * 4
                                               : (gm.gmBlackBoxX + 3) & ~3u;
    EXPECT_EQ(size, pitch * gm.gmBlackBoxY) << c.format;
    EXPECT_EQ(gm.gmCellIncX, c.advance) << c.format;
    EXPECT_EQ(gm.gmptGlyphOrigin.y, 12) << c.format;

    // One byte short: nothing written, not even the metrics.
    std::vector<uint8_t> buffer(size + 9, 0xCD);
    GLYPHMETRICS untouched{};
    untouched.gmCellIncX = 99;
    EXPECT_EQ(GetGlyphOutlineW(dc, 'W', c.format, &untouched, size - 1, buffer.data(), &kIdentity),
              GDI_ERROR);
    EXPECT_EQ(untouched.gmCellIncX, 99);
    EXPECT_EQ(buffer[0], 0xCD);

    // Exact and larger buffers: the same answer, bytes past the bitmap zeroed.
    GLYPHMETRICS again{};
    EXPECT_EQ(GetGlyphOutlineW(dc, 'W', c.format, &again, size, buffer.data(), &kIdentity), size);
    const std::vector<uint8_t> exact(buffer.begin(), buffer.begin() + size);
    EXPECT_EQ(buffer[size], 0xCD);
    EXPECT_EQ(GetGlyphOutlineW(dc, 'W', c.format, &again, size + 9, buffer.data(), &kIdentity), size);
    EXPECT_TRUE(std::equal(exact.begin(), exact.end(), buffer.begin()));
    EXPECT_EQ(std::count(buffer.begin() + size, buffer.end(), 0), 9);

    // Levels stay in range and reach the top; row padding stays 0.
    if (c.format == GGO_BITMAP) continue;
    unsigned highest = 0, padding = 0;
    for (UINT y = 0; y < gm.gmBlackBoxY; ++y)
      for (DWORD x = 0; x < pitch; ++x) {
        const uint8_t v = exact[y * pitch + x];
        if (x >= gm.gmBlackBoxX) padding += v;
        highest = std::max<unsigned>(highest, v);
      }
    EXPECT_EQ(highest, c.format == GGO_GRAY4_BITMAP ? 16u : 64u);
    EXPECT_EQ(padding, 0u);
  }
}

TEST_F(GdiFacts, OneBitGlyphsAreTheSameBytes) {
  struct Case {
    int height;
    WCHAR ch;
    uint32_t hash;
  };
  const Case cases[] = {{-16, 'A', 0x30bc9a8au}, {-16, 'g', 0x9ee4f7ebu}, {-16, 'W', 0xadf9f20bu},
                        {-32, '@', 0x0075b7c2u}, {-32, 0x416, 0x3f17add9u}};
  for (const Case& c : cases) {
    Use(c.height);
    std::vector<uint8_t> buffer(4096);
    GLYPHMETRICS gm{};
    const DWORD size =
        GetGlyphOutlineW(dc, c.ch, GGO_BITMAP, &gm, static_cast<DWORD>(buffer.size()), buffer.data(), &kIdentity);
    ASSERT_NE(size, GDI_ERROR);
    EXPECT_EQ(Fnv(buffer.data(), size), c.hash) << std::hex << "U+" << static_cast<unsigned>(c.ch) << " at " << std::dec << c.height;
  }
}

// DejaVu Math TeX Gyre (fonts-dejavu-extra) has no bold or italic file, so
// both builds synthesise them; its cell of about 4.25 ems shows how a
// positive height rounds down to a cell no taller than asked.
TEST_F(GdiFacts, SynthesisedStylesAndCellHeights) {
  const WCHAR math[] = W("Z:\\usr\\share\\fonts\\truetype\\dejavu\\DejaVuMathTeXGyre.ttf");
  ASSERT_EQ(AddFontResourceW(math), 1);
  const WCHAR* face = W("DejaVu Math TeX Gyre");
  struct Height {
    int asked;
    LONG cell;
  };
  for (const Height& h : {Height{20, 17}, Height{13, 13}, Height{0, 13}, Height{-16, 69}}) {
    Use(h.asked, face);
    EXPECT_EQ(Metrics().tmHeight, h.cell) << h.asked;
  }
  struct Case {
    int weight;
    BYTE italic;
    WCHAR ch;
    LONG extent;
    UINT boxX;
    uint32_t hash;
  };
  const Case cases[] = {{FW_BOLD, 0, 'A', 13, 14, 0xdf0feb1eu},
                        {FW_NORMAL, 1, 'A', 12, 16, 0xa73336afu},
                        {FW_BOLD, 1, 'g', 11, 14, 0xd1cd7894u}};
  for (const Case& c : cases) {
    HFONT f = CreateFontW(-16, 0, 0, 0, c.weight, c.italic, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0,
                          0, face);
    ASSERT_NE(f, nullptr);
    HGDIOBJ previous = SelectObject(dc, f);
    EXPECT_EQ(Extent(&c.ch, 1), c.extent) << c.weight << " " << int{c.italic};
    std::vector<uint8_t> buffer(4096);
    GLYPHMETRICS gm{};
    const DWORD size = GetGlyphOutlineW(dc, c.ch, GGO_BITMAP, &gm,
                                        static_cast<DWORD>(buffer.size()), buffer.data(), &kIdentity);
    ASSERT_NE(size, GDI_ERROR);
    EXPECT_EQ(gm.gmBlackBoxX, c.boxX) << c.weight << " " << int{c.italic};
    EXPECT_EQ(Fnv(buffer.data(), size), c.hash) << c.weight << " " << int{c.italic};
    SelectObject(dc, previous);
    DeleteObject(f);
  }
  RemoveFontResourceW(math);
}

TEST_F(GdiFacts, TheSpaceHasAnAdvanceButNoBitmap) {
  Use(-16);
  for (UINT format : {GGO_BITMAP, GGO_GRAY4_BITMAP, GGO_GRAY8_BITMAP}) {
    GLYPHMETRICS gm{};
    EXPECT_EQ(GetGlyphOutlineW(dc, ' ', format, &gm, 0, nullptr, &kIdentity), 0u);
    EXPECT_EQ(gm.gmBlackBoxX, 1u);
    EXPECT_EQ(gm.gmBlackBoxY, 1u);
    EXPECT_EQ(gm.gmptGlyphOrigin.x, 0);
    EXPECT_EQ(gm.gmptGlyphOrigin.y, 0);
    EXPECT_EQ(gm.gmCellIncX, 5);
    uint8_t buffer[16];
    EXPECT_EQ(GetGlyphOutlineW(dc, ' ', format, &gm, sizeof buffer, buffer, &kIdentity), GDI_ERROR);
  }
}

// Removing one of the system's fonts fails without a reason, even right
// after adding it; removing a missing file says the file is not found.
TEST_F(GdiFacts, RemovingSystemFontsAndMissingFiles) {
  ASSERT_EQ(AddFontResourceW(kDejaVuSans), 1);
  SetLastError(12345);
  EXPECT_FALSE(RemoveFontResourceW(kDejaVuSans));
  EXPECT_EQ(GetLastError(), 0u);
  SetLastError(12345);
  EXPECT_FALSE(RemoveFontResourceW(W("Z:\\tmp\\vek-no-such-font.ttf")));
  EXPECT_EQ(GetLastError(), 2u);
}

}  // namespace
