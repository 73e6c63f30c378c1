// GDI fonts over FreeType: what real GDI answers for DejaVu Sans (measured
// under Wine with the same file), font files added and removed, face choice,
// and glyph bitmaps in the three formats.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "runtime_test.h"

namespace {

constexpr char16_t kDejaVu[] = u"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr MAT2 kIdentity{{0, 1}, {0, 0}, {0, 0}, {0, 1}};

class GdiFont : public RuntimeTest {
 protected:
  void SetUp() override {
    RuntimeTest::SetUp();
    ASSERT_EQ(AddFontResourceW(kDejaVu), 1);
    dc = CreateCompatibleDC(nullptr);
    ASSERT_NE(dc, nullptr);
  }
  void TearDown() override {
    SelectFont(nullptr);
    EXPECT_TRUE(DeleteDC(dc));
    EXPECT_TRUE(RemoveFontResourceW(kDejaVu));
    RuntimeTest::TearDown();
  }
  // Selects a new font (null: none), deleting the one selected before.
  void SelectFont(HFONT font) {
    if (font) {
      HGDIOBJ previous = SelectObject(dc, font);
      EXPECT_NE(previous, nullptr);
      if (!stock) stock = previous;
    } else if (stock) {
      SelectObject(dc, stock);
    }
    if (current) {
      EXPECT_TRUE(DeleteObject(current));
    }
    current = font;
  }
  void Use(int height, const char16_t* face = u"DejaVu Sans", int weight = FW_NORMAL,
           bool italic = false) {
    HFONT f = CreateFontW(height, 0, 0, 0, weight, italic, FALSE, FALSE, DEFAULT_CHARSET,
                          OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                          DEFAULT_PITCH, face);
    ASSERT_NE(f, nullptr);
    SelectFont(f);
  }
  TEXTMETRICW Metrics() {
    TEXTMETRICW tm{};
    EXPECT_TRUE(GetTextMetricsW(dc, &tm));
    return tm;
  }
  LONG Extent(const char16_t* text) {
    SIZE s{-1, -1};
    EXPECT_TRUE(GetTextExtentPoint32W(dc, text, static_cast<int>(std::char_traits<char16_t>::length(text)), &s));
    return s.cx;
  }

  HDC dc = nullptr;
  HGDIOBJ stock = nullptr;
  HFONT current = nullptr;
};

TEST_F(GdiFont, MetricsAtBothSizesAndForEveryDefaultName) {
  struct Case {
    int height;
    LONG cell, ascent, descent, leading, average;
  };
  for (const Case& c : {Case{-16, 19, 15, 4, 3, 8}, Case{-32, 38, 30, 8, 5, 16}}) {
    // The unknown, null and empty names all get the default face: the added one.
    for (const char16_t* face : {u"DejaVu Sans", u"No Such Face", u"", (const char16_t*)nullptr}) {
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
  // A positive height is the cell: 19 gives the em of 16 back.
  Use(19);
  EXPECT_EQ(Metrics().tmHeight, 19);
  EXPECT_EQ(Metrics().tmAscent, 15);
}

TEST_F(GdiFont, ExtentsAreGreyAdvancesAndBoldAddsOne) {
  Use(-16);
  EXPECT_EQ(Extent(u"A"), 11);
  EXPECT_EQ(Extent(u"g"), 10);
  EXPECT_EQ(Extent(u"W"), 16);
  EXPECT_EQ(Extent(u" "), 5);
  EXPECT_EQ(Extent(u"i"), 4);
  EXPECT_EQ(Extent(u"."), 5);
  EXPECT_EQ(Extent(u"AgW "), 11 + 10 + 16 + 5);
  SIZE s{-1, -1};
  EXPECT_TRUE(GetTextExtentPoint32W(dc, u"A", 0, &s));
  EXPECT_EQ(s.cx, 0);
  EXPECT_EQ(s.cy, 19);
  EXPECT_FALSE(GetTextExtentPoint32W(dc, nullptr, 3, &s));

  // The system's Bold file serves a bold request, as GDI chooses among every
  // face of the family (Wine on this machine answers the same).
  Use(-16, u"DejaVu Sans", FW_BOLD);
  EXPECT_EQ(Extent(u"A"), 12);
  EXPECT_EQ(Extent(u"AgW "), 12 + 11 + 18 + 6);
  EXPECT_EQ(Metrics().tmAveCharWidth, 9);
  EXPECT_EQ(Metrics().tmMaxCharWidth, 49);
  EXPECT_EQ(Metrics().tmWeight, FW_BOLD);

  // With only the regular file, bold is synthesised: one pixel more each.
  vrt::SetSystemFonts(false);
  Use(-16, u"DejaVu Sans", FW_BOLD);
  EXPECT_EQ(Extent(u"A"), 12);
  EXPECT_EQ(Extent(u"AgW "), 11 + 10 + 16 + 5 + 4);
  EXPECT_EQ(Metrics().tmAveCharWidth, 9);
  EXPECT_EQ(Metrics().tmMaxCharWidth, 46);
  EXPECT_EQ(Metrics().tmWeight, FW_BOLD);
  Use(-16, u"DejaVu Sans", FW_NORMAL, true);
  EXPECT_EQ(Extent(u"A"), 11);
  EXPECT_EQ(Metrics().tmItalic, 255);
}

TEST_F(GdiFont, BitmapSizesPitchesAndShortBuffers) {
  Use(-16);
  struct Case {
    UINT format;
    short advance;
  };
  // Mono glyphs are hinted for the mono target: W advances 17 there.
  for (const Case& c : {Case{GGO_BITMAP, 17}, Case{GGO_GRAY4_BITMAP, 16}, Case{GGO_GRAY8_BITMAP, 16}}) {
    GLYPHMETRICS gm{};
    const DWORD size = GetGlyphOutlineW(dc, u'W', c.format, &gm, 0, nullptr, &kIdentity);
    ASSERT_NE(size, GDI_ERROR);
    const DWORD pitch = c.format == GGO_BITMAP ? (gm.gmBlackBoxX + 31) / 32 * 4
                                               : (gm.gmBlackBoxX + 3) & ~3u;
    EXPECT_EQ(size, pitch * gm.gmBlackBoxY) << c.format;
    EXPECT_EQ(gm.gmCellIncX, c.advance) << c.format;
    EXPECT_EQ(gm.gmptGlyphOrigin.y, 12) << c.format;  // cap height at 16 px

    // One byte short: nothing written, not even the metrics.
    std::vector<uint8_t> buffer(size + 9, 0xCD);
    GLYPHMETRICS untouched{};
    untouched.gmCellIncX = 99;
    EXPECT_EQ(GetGlyphOutlineW(dc, u'W', c.format, &untouched, size - 1, buffer.data(), &kIdentity),
              GDI_ERROR);
    EXPECT_EQ(untouched.gmCellIncX, 99);
    EXPECT_EQ(buffer[0], 0xCD);

    // Exact and larger buffers: the same answer, bytes past the bitmap zeroed.
    GLYPHMETRICS again{};
    EXPECT_EQ(GetGlyphOutlineW(dc, u'W', c.format, &again, size, buffer.data(), &kIdentity), size);
    std::vector<uint8_t> exact(buffer.begin(), buffer.begin() + size);
    EXPECT_EQ(buffer[size], 0xCD);
    EXPECT_EQ(GetGlyphOutlineW(dc, u'W', c.format, &again, size + 9, buffer.data(), &kIdentity), size);
    EXPECT_TRUE(std::equal(exact.begin(), exact.end(), buffer.begin()));
    for (DWORD i = size; i < size + 9; ++i) EXPECT_EQ(buffer[i], 0) << i;
    EXPECT_EQ(again.gmBlackBoxX, gm.gmBlackBoxX);

    // Levels stay in the format's range and reach its top; row padding stays 0.
    const unsigned top = c.format == GGO_GRAY4_BITMAP ? 16 : 64;
    unsigned highest = 0;
    for (UINT y = 0; y < gm.gmBlackBoxY; ++y) {
      for (DWORD x = 0; x < pitch; ++x) {
        const uint8_t v = exact[y * pitch + x];
        if (c.format == GGO_BITMAP) {
          if (x * 8 >= gm.gmBlackBoxX) {
            EXPECT_EQ(v, 0) << "padding byte " << x;
          }
          continue;
        }
        if (x >= gm.gmBlackBoxX) {
          EXPECT_EQ(v, 0) << "padding byte " << x;
        }
        highest = std::max<unsigned>(highest, v);
      }
    }
    if (c.format != GGO_BITMAP) {
      EXPECT_EQ(highest, top) << c.format;
    }
  }
  EXPECT_EQ(GetGlyphOutlineW(dc, u'W', GGO_GRAY8_BITMAP, nullptr, 0, nullptr, &kIdentity), GDI_ERROR);
}

TEST_F(GdiFont, TheSpaceHasAnAdvanceButNoBitmap) {
  Use(-16);
  for (UINT format : {GGO_BITMAP, GGO_GRAY4_BITMAP, GGO_GRAY8_BITMAP}) {
    GLYPHMETRICS gm{};
    EXPECT_EQ(GetGlyphOutlineW(dc, u' ', format, &gm, 0, nullptr, &kIdentity), 0u);
    EXPECT_EQ(gm.gmBlackBoxX, 1u);
    EXPECT_EQ(gm.gmBlackBoxY, 1u);
    EXPECT_EQ(gm.gmptGlyphOrigin.x, 0);
    EXPECT_EQ(gm.gmptGlyphOrigin.y, 0);
    EXPECT_EQ(gm.gmCellIncX, 5);
    uint8_t buffer[16];
    EXPECT_EQ(GetGlyphOutlineW(dc, u' ', format, &gm, sizeof buffer, buffer, &kIdentity), GDI_ERROR);
  }
}

TEST_F(GdiFont, SynthesisedBoldIsWiderInk) {
  vrt::SetSystemFonts(false);
  Use(-32);
  GLYPHMETRICS regular{}, bold{};
  ASSERT_NE(GetGlyphOutlineW(dc, u'l', GGO_GRAY8_BITMAP, &regular, 0, nullptr, &kIdentity), GDI_ERROR);
  Use(-32, u"DejaVu Sans", FW_BOLD);
  ASSERT_NE(GetGlyphOutlineW(dc, u'l', GGO_GRAY8_BITMAP, &bold, 0, nullptr, &kIdentity), GDI_ERROR);
  EXPECT_GT(bold.gmBlackBoxX, regular.gmBlackBoxX);
  EXPECT_EQ(bold.gmCellIncX, regular.gmCellIncX + 1);
}

// Files for the failure cases, in a fresh folder.
class FontFiles : public RuntimeTest {
 protected:
  void SetUp() override {
    RuntimeTest::SetUp();
    char pattern[] = "/tmp/vekrt_fonts_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder = pattern;
    Write("empty.ttf", "");
    Write("text.ttf", "this is not a font at all, only some words in a file");
  }
  void TearDown() override {
    std::remove((folder + "/empty.ttf").c_str());
    std::remove((folder + "/text.ttf").c_str());
    rmdir(folder.c_str());
    RuntimeTest::TearDown();
  }
  void Write(const char* name, const std::string& bytes) {
    FILE* f = std::fopen((folder + "/" + name).c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  static std::u16string Wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

  std::string folder;
};

TEST_F(FontFiles, AddFailuresSayWhy) {
  struct Case {
    std::u16string path;
    DWORD error;
  };
  const Case cases[] = {
      {Wide(folder + "/missing.ttf"), 2}, {Wide(folder + "/none/missing.ttf"), 3},
      {u"", 3},                           {Wide(folder), 5},
      {Wide(folder + "/empty.ttf"), 1006}, {Wide(folder + "/text.ttf"), 0},
  };
  for (const Case& c : cases) {
    SetLastError(12345);
    EXPECT_EQ(AddFontResourceW(c.path.c_str()), 0);
    EXPECT_EQ(GetLastError(), c.error);
  }
  SetLastError(12345);
  EXPECT_EQ(AddFontResourceW(nullptr), 0);
  EXPECT_EQ(GetLastError(), 3u);
  EXPECT_FALSE(RemoveFontResourceW(Wide(folder + "/text.ttf").c_str()));
}

TEST_F(FontFiles, RemovalsAreCountedAndZPathsWork) {
  ASSERT_EQ(AddFontResourceW(kDejaVu), 1);
  ASSERT_EQ(AddFontResourceW(u"Z:\\usr\\share\\fonts\\truetype\\dejavu\\DejaVuSans.ttf"), 1);
  EXPECT_TRUE(RemoveFontResourceW(kDejaVu));
  EXPECT_TRUE(RemoveFontResourceW(u"Z:/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"));
  EXPECT_FALSE(RemoveFontResourceW(kDejaVu));
}

TEST_F(GdiFont, ObjectsAreCountedAndSelectionReturnsThePrevious) {
  const int base = vrt::LiveObjectCount();
  HFONT a = CreateFontW(-16, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, u"DejaVu Sans");
  HFONT b = CreateFontW(-20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, u"DejaVu Sans");
  ASSERT_TRUE(a && b);
  EXPECT_EQ(vrt::LiveObjectCount(), base + 2);
  HGDIOBJ first = SelectObject(dc, a);
  EXPECT_EQ(GetObjectType(first), static_cast<DWORD>(OBJ_FONT));
  EXPECT_EQ(SelectObject(dc, b), a);
  EXPECT_EQ(SelectObject(dc, first), b);
  EXPECT_TRUE(DeleteObject(a));
  EXPECT_TRUE(DeleteObject(b));
  EXPECT_FALSE(DeleteObject(b));
  EXPECT_TRUE(DeleteObject(first));  // stock objects stay
  EXPECT_EQ(GetObjectType(first), static_cast<DWORD>(OBJ_FONT));
  EXPECT_EQ(vrt::LiveObjectCount(), base);
  EXPECT_EQ(SelectObject(reinterpret_cast<HDC>(first), a), nullptr);
}

TEST_F(GdiFont, OneFontMeasuredAndRasterisedOnTwoThreads) {
  Use(-16);
  HDC other = CreateCompatibleDC(nullptr);
  HGDIOBJ previous = SelectObject(other, current);
  std::vector<uint8_t> reference(4096);
  GLYPHMETRICS gm{};
  const DWORD size = GetGlyphOutlineW(dc, u'g', GGO_GRAY8_BITMAP, &gm, 4096, reference.data(), &kIdentity);
  ASSERT_NE(size, GDI_ERROR);
  int badExtents = 0, badGlyphs = 0;
  std::thread measure([&] {
    for (int i = 0; i < 2000; ++i) {
      SIZE s{};
      if (!GetTextExtentPoint32W(other, u"AgW", 3, &s) || s.cx != 37) ++badExtents;
    }
  });
  std::vector<uint8_t> buffer(4096);
  for (int i = 0; i < 2000; ++i) {
    if (GetGlyphOutlineW(dc, u'g', GGO_GRAY8_BITMAP, &gm, 4096, buffer.data(), &kIdentity) != size ||
        buffer != reference)
      ++badGlyphs;
  }
  measure.join();
  EXPECT_EQ(badExtents, 0);
  EXPECT_EQ(badGlyphs, 0);
  SelectObject(other, previous);
  DeleteDC(other);
}

}  // namespace
