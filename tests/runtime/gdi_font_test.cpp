// The runtime's GDI fonts beyond what ../wine/gdi_facts_test.cpp checks on
// both builds: synthesised styles, file registration failures and counting,
// object accounting and selection, and one font used from two threads.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "../wine/gdi_font_fixture.h"
#include "runtime_test.h"

namespace {

constexpr char16_t kDejaVu[] = u"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

// The shared fixture on a fresh runtime, ending with nothing alive.
class GdiFont : public GdiFontTest {
 protected:
  void SetUp() override {
    vrt::ResetRuntime();
    GdiFontTest::SetUp();
  }
  void TearDown() override {
    GdiFontTest::TearDown();
    EXPECT_EQ(vrt::LiveObjectCount(), 0) << "runtime objects leaked";
    vrt::ResetRuntime();
  }
  LONG Extent(const char16_t* text) {
    return GdiFontTest::Extent(text, static_cast<int>(std::char_traits<char16_t>::length(text)));
  }
};

TEST_F(GdiFont, WithOnlyTheRegularFileBoldAndItalicAreSynthesised) {
  // One pixel more for each bold character and on the widths.
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

TEST_F(GdiFont, SynthesisedBoldIsWiderInk) {
  vrt::SetSystemFonts(false);
  Use(-32);
  GLYPHMETRICS regular{}, bold{};
  ASSERT_NE(GetGlyphOutlineW(dc, u'l', GGO_GRAY8_BITMAP, &regular, 0, nullptr, &kIdentity),
            GDI_ERROR);
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

// The same last errors as Wine's GDI for each case.
TEST_F(FontFiles, AddFailuresSayWhy) {
  struct Case {
    std::u16string path;
    DWORD error;
  };
  const Case cases[] = {
      {Wide(folder + "/missing.ttf"), 2},
      {Wide(folder + "/none/missing.ttf"), 3},
      {u"", 3},
      {Wide(folder), 5},
      {Wide(folder + "/empty.ttf"), 1006},
      {Wide(folder + "/text.ttf"), 0},
  };
  for (const Case& c : cases) {
    SetLastError(12345);
    EXPECT_EQ(AddFontResourceW(c.path.c_str()), 0);
    EXPECT_EQ(GetLastError(), c.error);
  }
  SetLastError(12345);
  EXPECT_EQ(AddFontResourceW(nullptr), 0);
  EXPECT_EQ(GetLastError(), 3u);
  SetLastError(12345);
  EXPECT_FALSE(RemoveFontResourceW(Wide(folder + "/text.ttf").c_str()));
  EXPECT_EQ(GetLastError(), 0u);
}

// Removals of a private copy are counted and take Z: paths; a system font
// is never removed (Wine answers 0, saying nothing, even after adding it);
// a missing file says why.
TEST_F(FontFiles, RemovalsAreCountedAndSystemFontsStay) {
  std::ifstream in("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", std::ios::binary);
  Write("copy.ttf", std::string(std::istreambuf_iterator<char>(in), {}));
  const std::u16string copy = Wide(folder + "/copy.ttf");
  std::u16string zCopy = u"Z:" + copy;
  for (char16_t& c : zCopy)
    if (c == u'/') c = u'\\';
  ASSERT_EQ(AddFontResourceW(copy.c_str()), 1);
  ASSERT_EQ(AddFontResourceW(zCopy.c_str()), 1);
  EXPECT_TRUE(RemoveFontResourceW(copy.c_str()));
  EXPECT_TRUE(RemoveFontResourceW(zCopy.c_str()));
  EXPECT_FALSE(RemoveFontResourceW(copy.c_str()));
  std::remove((folder + "/copy.ttf").c_str());

  ASSERT_EQ(AddFontResourceW(kDejaVu), 1);
  SetLastError(12345);
  EXPECT_FALSE(RemoveFontResourceW(kDejaVu));
  EXPECT_EQ(GetLastError(), 0u);
  for (const auto& [path, error] : {std::pair{Wide(folder + "/missing.ttf"), 2u},
                                    std::pair{Wide(folder + "/none/missing.ttf"), 3u}}) {
    SetLastError(12345);
    EXPECT_FALSE(RemoveFontResourceW(path.c_str()));
    EXPECT_EQ(GetLastError(), error);
  }
}

TEST_F(GdiFont, ObjectsAreCountedAndSelectionReturnsThePrevious) {
  const int base = vrt::LiveObjectCount();
  HFONT a = CreateFontW(-16, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, u"DejaVu Sans");
  HFONT b = CreateFontW(-20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, u"DejaVu Sans");
  ASSERT_TRUE(a && b);
  EXPECT_EQ(vrt::LiveObjectCount(), base + 2);
  // A new DC's stock font measures as the default face at a cell of 16.
  TEXTMETRICW tm{};
  EXPECT_TRUE(GetTextMetricsW(dc, &tm));
  EXPECT_EQ(tm.tmHeight, 16);
  HGDIOBJ stock = SelectObject(dc, a);
  EXPECT_EQ(GetObjectType(stock), static_cast<DWORD>(OBJ_FONT));
  EXPECT_EQ(SelectObject(dc, b), a);
  EXPECT_EQ(SelectObject(dc, stock), b);
  EXPECT_TRUE(DeleteObject(a));
  EXPECT_TRUE(DeleteObject(b));
  EXPECT_FALSE(DeleteObject(b));
  EXPECT_TRUE(DeleteObject(stock));  // stock objects stay
  EXPECT_EQ(GetObjectType(stock), static_cast<DWORD>(OBJ_FONT));
  EXPECT_EQ(vrt::LiveObjectCount(), base);
  EXPECT_EQ(SelectObject(reinterpret_cast<HDC>(stock), a), nullptr);
}

TEST_F(GdiFont, OneFontMeasuredAndRasterisedOnTwoThreads) {
  Use(-16);
  HDC other = CreateCompatibleDC(nullptr);
  HGDIOBJ previous = SelectObject(other, current);
  std::vector<uint8_t> reference(4096);
  GLYPHMETRICS gm{};
  const DWORD size =
      GetGlyphOutlineW(dc, u'g', GGO_GRAY8_BITMAP, &gm, 4096, reference.data(), &kIdentity);
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
    if (GetGlyphOutlineW(dc, u'g', GGO_GRAY8_BITMAP, &gm, 4096, buffer.data(), &kIdentity) !=
            size ||
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
