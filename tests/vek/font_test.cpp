// Fonts, the glyph atlas and text runs on either build's GDI and Direct3D 8,
// drawing DejaVu Sans: sizes and measuring, the atlas's packing and growth,
// the effects' texels, the layout of a run, and the mended faults.
#include "vekfont/font.h"

#include <vek/vek.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "gd/device.h"
#include "graphics/frame.h"
#include "graphics/graphics.h"
#include "graphics/text.h"
#include "support/diagnostics.h"
#include "support/frame_probe.h"
#include "support/platform_test.h"
#include "support/surface_test.h"
#include "support/test_fonts.h"
#include "vekimage/image.h"

namespace {

class FontTest : public WithWindowSurface<PlatformTest> {
 protected:
  static void SetUpTestSuite() { file_ = new TestFontFile; }
  static void TearDownTestSuite() {
    delete file_;
    file_ = nullptr;
  }
  void SetUp() override {
    WithWindowSurface<PlatformTest>::SetUp();
    ASSERT_EQ(file_->added(), 1);
  }
  void TearDown() override {
    if (g) FlushDrawItems(g);
    for (VekFont* f : fonts_) VekDestroyFont(f);
    fonts_.clear();
    WithWindowSurface<PlatformTest>::TearDown();
  }
  VekFont* Font(UINT size, DWORD flags = 0, DWORD colour = 0xFF0000FF,
                const WCHAR* face = VEK_TEST_FACE) {
    VekFont* f = VekCreateFont(face, size, flags, colour);
    if (f) fonts_.push_back(f);
    return f;
  }
  // A run across the box from (x0, 0) to (x1, 20), colours left and right.
  UINT Text(VekFont* f, const WCHAR* text, UINT count, float x0, float x1, DWORD left = 0xFFFFFFFF,
            DWORD right = 0xFFFFFFFF, DWORD flags = 0) {
    const TextCorner box[4] = {
        {x0, 0, 0.5f, left}, {x1, 0, 0.5f, right}, {x1, 20, 0.5f, right}, {x0, 20, 0.5f, left}};
    return DrawTextRun(g, box, flags, f, text, count);
  }
  UINT Char(VekFont* f, WORD ch) {
    const TextCorner box[4] = {
        {0, 0, 0.5f, ~0u}, {9, 0, 0.5f, ~0u}, {9, 9, 0.5f, ~0u}, {0, 9, 0.5f, ~0u}};
    return DrawCharGlyph(g, box, 0, f, ch);
  }
  // The last `n` items queued, in order (the lists keep submission order).
  std::vector<DrawItem*> Last(const PBuffer& list, UINT n) {
    std::vector<DrawItem*> items;
    for (UINT i = list.count - n; i < list.count; ++i)
      items.push_back(static_cast<DrawItem*>(list.entries[i]));
    return items;
  }
  // Level 0 of the atlas, each texel widened to 32 bits.
  static std::vector<DWORD> Texels(VekFont* f) {
    VekTexture& t = f->tex;
    std::vector<DWORD> out;
    D3DLOCKED_RECT locked{};
    if (!t.tex || FAILED(t.tex->LockRect(0, &locked, nullptr, D3DLOCK_READONLY))) return out;
    for (UINT y = 0; y < t.height; ++y)
      for (UINT x = 0; x < t.width; ++x) {
        const BYTE* row = static_cast<const BYTE*>(locked.pBits) + y * locked.Pitch;
        out.push_back(t.format == D3DFMT_A8R8G8B8 ? reinterpret_cast<const DWORD*>(row)[x]
                                                  : reinterpret_cast<const WORD*>(row)[x]);
      }
    t.tex->UnlockRect(0);
    return out;
  }
  static const WCHAR* W(const char16_t* s) { return reinterpret_cast<const WCHAR*>(s); }

  std::vector<VekFont*> fonts_;
  static TestFontFile* file_;
};
TestFontFile* FontTest::file_ = nullptr;

TEST_F(FontTest, SizesNamesAndMeasuring) {
  const std::pair<UINT, LONG> refused[] = {{1, 19}, {0, 19}, {512, 25}, {0xFFFFFFFFu, 25}};
  for (const auto& [size, line] : refused) {
    ClearError();
    EXPECT_EQ(Font(size), nullptr) << size;
    const LastError e = ReadError();
    EXPECT_EQ(e.code, -5);
    EXPECT_EQ(e.detail, static_cast<LONG>(size));
    EXPECT_EQ(e.line, line);
    EXPECT_EQ(e.message, line == 19 ? Message(FontErr::kTooSmall) : Message(FontErr::kTooLarge));
    EXPECT_EQ(e.source, ".\\vekfont");
  }
  EXPECT_NE(Font(2), nullptr);
  EXPECT_NE(Font(511), nullptr);
  // Within the outline margin: a one-pixel character, not GDI's default size.
  EXPECT_LT(Font(2, FONT_OUTLINE_BOX)->lineHeight, 8u);
  EXPECT_EQ(VekDestroyFont(nullptr), 0);
  EXPECT_EQ(VekGetFontTexture(nullptr), nullptr);
  EXPECT_EQ(VekGetFontHeight(nullptr) | VekGetCharSize(nullptr, 'A'), 0u);
  EXPECT_EQ(VekGetTextSize(nullptr, W(u"AB"), 2), 0u);

  // 32 units kept of a long name; unknown, null and empty names: one default face.
  const char16_t* longName = u"An unknown face name of forty units.....";
  VekFont* unknown = Font(16, 0, 0, W(longName));
  VekFont* none = Font(16, 0, 0, nullptr);
  VekFont* empty = Font(16, 0, 0, W(u""));
  ASSERT_TRUE(unknown && none && empty);
  EXPECT_EQ(std::memcmp(unknown->faceName, longName, 32 * sizeof(WCHAR)), 0);
  EXPECT_EQ(none->faceName[0], 0);
  EXPECT_EQ(none->lineHeight, unknown->lineHeight);
  EXPECT_EQ(empty->lineHeight, unknown->lineHeight);
  EXPECT_EQ(VekGetCharSize(none, 'A'), VekGetCharSize(unknown, 'A'));

  // DejaVu Sans at a 16-pixel character height: 19 high, ascent 15, A 11, space 5.
  VekFont* plain = Font(16);
  VekFont* shadow = Font(17, FONT_SHADOW);
  VekFont* outline = Font(18, FONT_OUTLINE_CROSS);
  ASSERT_TRUE(plain && shadow && outline);
  EXPECT_EQ(VekGetFontHeight(plain), 19u);
  EXPECT_EQ(plain->ascent, 15);
  EXPECT_EQ(plain->cbitsSize, 21u * 21u);  // 19 raised to 20, plus 1
  EXPECT_EQ(VekGetCharSize(plain, 0x10000 | 'A'), 19u << 16 | 11);
  EXPECT_EQ(VekGetCharSize(plain, ' '), 19u << 16 | 5);
  EXPECT_EQ(VekGetCharSize(plain, 0x1F), 0u);
  EXPECT_EQ(VekGetCharSize(shadow, 'A'), 20u << 16 | 12);
  EXPECT_EQ(VekGetCharSize(outline, 'A'), 21u << 16 | 13);
  const DWORD b = VekGetCharSize(plain, 'B') & 0xFFFF;
  EXPECT_EQ(VekGetTextSize(plain, W(u"A\tB"), 3), 19u << 16 | (11 + b));
  EXPECT_EQ(VekGetTextSize(plain, W(u"AB"), 0) | VekGetTextSize(plain, W(u"AB"), -1), 0u);
  // Wider than 65535 pixels: the width saturates, the height stays.
  VekFont* huge = Font(511);
  const std::u16string ws(200, u'W');
  const DWORD big = VekGetTextSize(huge, W(ws.c_str()), 200);
  EXPECT_EQ(big & 0xFFFF, 0xFFFFu);
  EXPECT_EQ(big >> 16, VekGetCharSize(huge, 'W') >> 16);
}

TEST_F(FontTest, OpaqueDecisionOfFonts) {
  EXPECT_FALSE(FontIsOpaque(Font(16, FONT_SHADOW, 0xFF000000)));
  EXPECT_TRUE(FontIsOpaque(Font(16, FONT_SHADOW, 0x80000000)));
  EXPECT_FALSE(FontIsOpaque(Font(16, FONT_OUTLINE_BOX, 0xF0123456)));
  EXPECT_TRUE(FontIsOpaque(Font(16)));
  EXPECT_TRUE(FontIsOpaque(Font(16, FONT_HOLLOW)));
  EXPECT_FALSE(FontIsOpaque(Font(16, FONT_GRAY4)));
  EXPECT_FALSE(FontIsOpaque(Font(16, FONT_GRAY8)));
  EXPECT_EQ(ToA4R4G4B4(0xFF0000FF), 0xF00Fu);
}

// A 4 x 3 cell with its gutter column and row: '.' 0, 'K' key (white),
// 'B' the hollow key (black), 'o' the effect colour, 'x' a texel already set.
std::vector<WORD> Cell(const char* rows) {
  std::vector<WORD> t;
  for (const char* p = rows; *p; ++p) {
    if (*p == '.') t.push_back(0);
    if (*p == 'K') t.push_back(0xFFFF);
    if (*p == 'B') t.push_back(0xF000);
    if (*p == 'o') t.push_back(0xF00F);
    if (*p == 'x') t.push_back(0x1234);
  }
  return t;
}

TEST(GlyphEffectTest, EffectsFillOnlyEmptyTexels) {
  const char* in = ". . . . .   . K x . .   . . . K .   . . . . .";
  const struct {
    DWORD flags;
    const char* in;
    const char* want;
  } cases[] = {
      {FONT_OUTLINE_CROSS, in, ". o . . .   o K x o .   . o o K o   . . . o ."},
      {FONT_OUTLINE_BOX, in, "o o o . .   o K x o o   o o o K o   . . o o o"},
      {FONT_SHADOW, in, ". . . . .   . K x . .   . . o K .   . . . . ."},
      // Hollow: a white ring (K) around the black body, the body cleared.
      {FONT_HOLLOW, ". . . . .   . B B . .   . . . . .   . . . . .",
       "K K K K .   K . . K .   K K K K .   . . . . ."},
  };
  for (const auto& c : cases) {
    std::vector<WORD> cell = Cell(c.in);
    const WORD key = c.flags == FONT_HOLLOW ? 0xF000 : 0xFFFF;
    ApplyGlyphEffect(cell.data(), 4, 3, 5, key, c.flags, WORD{0xF00F});
    EXPECT_EQ(cell, Cell(c.want)) << std::hex << c.flags;
  }
  std::vector<WORD> flat = Cell(". K . . .");  // fewer than two rows: nothing
  ApplyGlyphEffect(flat.data(), 4, 1, 5, 0xFFFF, FONT_OUTLINE_BOX, WORD{0xF00F});
  EXPECT_EQ(flat, Cell(". K . . ."));
}

TEST_F(FontTest, BucketsGrowFrom32To65) {
  VekFont* f = Font(16);
  for (WORD k = 1; k <= 33; ++k) {
    ASSERT_TRUE(AddCharCoordinate(f, static_cast<WORD>(31 * k), 0, 0, 0, 0, k));
    EXPECT_EQ(f->buckets[0].capacity, k <= 32 ? 32u : 65u);
  }
  EXPECT_EQ(FindCharCoordinate(f, 31 * 33)->advance, 33.0f);
  EXPECT_EQ(FindCharCoordinate(f, 31 * 34), nullptr);
}

TEST_F(FontTest, AtlasPackingGrowthAndQueuedItems) {
  VekFont* big = Font(100);
  ASSERT_GT(big->lineHeight, 64u);
  Char(big, 'A');
  EXPECT_EQ(big->tex.width, 128u);
  EXPECT_EQ(big->tex.height, 128u);

  VekFont* f = Font(16);                        // cells 19 high, rows 21 apart
  EXPECT_EQ(Char(f, ' ') + Char(f, '\t'), 0u);  // up to the space: not even an atlas
  EXPECT_EQ(f->tex.tex, nullptr);
  EXPECT_EQ(Char(f, 'A') + Char(f, 'A'), 2u);  // rasterised once, into bucket 65 mod 31
  EXPECT_EQ(f->cursorX, 11u + 2);
  EXPECT_EQ(FindCharCoordinate(f, 'A'), &f->buckets[3].entries[0]);
  EXPECT_EQ(f->buckets[3].entryCount, 1u);
  const auto* image = reinterpret_cast<const VekImage*>(VekGetFontTexture(f));
  EXPECT_EQ(image->texture.contentScaleX * image->texture.contentScaleY,
            1.0f);  // drawn whole as an image
  EXPECT_EQ(image->texture.format, D3DFMT_A4R4G4B4);

  std::vector<std::pair<WORD, DrawItem*>> queued;
  UINT widenedAt = 0, heightenedAt = 0;
  for (WORD ch = 0x21; ch < 0x21 + 120; ++ch) {
    const UINT w0 = f->tex.width, h0 = f->tex.height;
    ASSERT_EQ(Char(f, ch), 1u);
    queued.emplace_back(ch, Last(g->opaqueItems, 1)[0]);
    const CharCoordinate* e = FindCharCoordinate(f, ch);
    if (w0 == 64 && f->tex.width == 128) {  // on at the top of the new right half
      widenedAt = ch;
      EXPECT_EQ(f->tex.height, 64u);
      EXPECT_EQ(e->uLeft, 0.5f);
      EXPECT_EQ(e->vTop, 0.0f);
    }
    if (h0 == 64 && f->tex.height == 128) {  // the pending row spans the width
      heightenedAt = ch;
      EXPECT_EQ(e->uLeft, 0.0f);
      EXPECT_EQ(e->vTop, 63.0f / 128.0f);
    }
  }
  ASSERT_NE(widenedAt, 0u);
  ASSERT_GT(heightenedAt, widenedAt);
  // Cells on whole texels inside the atlas, gutters free of other cells, and
  // every item queued before a growth still sampling its own cell.
  const float W = static_cast<float>(f->tex.width);
  const float H = static_cast<float>(f->tex.height);
  std::vector<bool> used(static_cast<size_t>(W * H), false);
  for (const auto& [ch, item] : queued) {
    const CharCoordinate* e = FindCharCoordinate(f, ch);
    const float x0 = e->uLeft * W, y0 = e->vTop * H, x1 = e->uRight * W, y1 = e->vBottom * H;
    EXPECT_EQ(x0, static_cast<float>(static_cast<int>(x0)));
    EXPECT_EQ(y0, static_cast<float>(static_cast<int>(y0)));
    EXPECT_EQ(x1 - x0, e->advance);
    EXPECT_EQ(y1 - y0, 19.0f);
    ASSERT_TRUE(x1 + 2 <= W && y1 + 2 <= H);
    for (int y = static_cast<int>(y0); y < static_cast<int>(y1) + 2; ++y)
      for (int x = static_cast<int>(x0); x < static_cast<int>(x1) + 2; ++x) {
        EXPECT_FALSE(used[static_cast<size_t>(y * W + x)]) << "cells overlap at " << ch;
        used[static_cast<size_t>(y * W + x)] = true;
      }
    EXPECT_EQ(item->vertices[0].u, e->uLeft);
    EXPECT_EQ(item->vertices[0].v, e->vTop);
    EXPECT_EQ(item->vertices[2].u, e->uRight);
    EXPECT_EQ(item->vertices[2].v, e->vBottom);
  }
}

TEST_F(FontTest, RunLayoutGradientAndOpaqueRule) {
  VekFont* f = Font(16);
  ASSERT_EQ(Text(f, W(u"A A"), 3, 0, 54), 2u);  // the space keeps its advance: 11 + 5 + 11
  std::vector<DrawItem*> q = Last(g->opaqueItems, 2);
  EXPECT_EQ(q[0]->vertices[1].x, 22.0f);
  EXPECT_EQ(q[1]->vertices[0].x, 32.0f);
  EXPECT_EQ(FindCharCoordinate(f, ' ')->advance, 5.0f);

  VekFont* grey = Font(16, FONT_GRAY8);
  for (VekFont* font : {f, grey}) {  // cells of chosen advances
    AddCharCoordinate(font, 'a', 0.0f, 0.0f, 0.25f, 0.25f, 10.0f);
    AddCharCoordinate(font, 'b', 0.5f, 0.0f, 0.75f, 0.25f, 6.0f);
  }
  ASSERT_EQ(Text(f, W(u"ab"), 2, 0, 32), 2u);
  q = Last(g->opaqueItems, 2);
  EXPECT_EQ(q[0]->vertices[1].x, 20.0f);
  EXPECT_EQ(q[1]->vertices[0].x, 20.0f);
  EXPECT_EQ(q[1]->vertices[2].x, 32.0f);
  EXPECT_EQ(q[1]->vertices[3].y, 20.0f);
  EXPECT_EQ(q[1]->vertices[2].u, 0.75f);
  EXPECT_EQ(q[1]->vertices[2].v, 0.25f);
  // With a space of advance 4 (G = 20, box 0 to 40): 0 to 20 and 28 to 40.
  const_cast<CharCoordinate*>(FindCharCoordinate(f, ' '))->advance = 4.0f;
  ASSERT_EQ(Text(f, W(u"a b"), 3, 0, 40), 2u);
  q = Last(g->opaqueItems, 2);
  EXPECT_EQ(q[0]->vertices[1].x, 20.0f);
  EXPECT_EQ(q[1]->vertices[0].x, 28.0f);
  EXPECT_EQ(Text(f, W(u"\t\r\n"), 3, 0, 40), 0u);

  // The shared edge of two equal glyphs: red 255 x 0.5 truncated, both ways.
  for (const auto& [left, right] :
       {std::pair{0xFF000000u, 0xFFFF0000u}, std::pair{0xFFFF0000u, 0xFF000000u}}) {
    ASSERT_EQ(Text(f, W(u"aa"), 2, 0, 40, left, right), 2u);
    q = Last(g->opaqueItems, 2);
    EXPECT_EQ(q[0]->vertices[0].diffuse, left);
    EXPECT_EQ(q[0]->vertices[1].diffuse, 0xFF7F0000u);
    EXPECT_EQ(q[1]->vertices[2].diffuse, right);
  }
  // A one-bit font sets DRAW_OPAQUE, a translucent corner clears it, a grey
  // font keeps the caller's choice.
  const UINT opaque = g->opaqueItems.count, translucent = g->translucentItems.count;
  Text(f, W(u"a"), 1, 0, 10, 0xFFFFFFFF, 0xFEFFFFFF, DRAW_OPAQUE);
  Text(grey, W(u"a"), 1, 0, 10, 0xFFFFFFFF, 0xFFFFFFFF, 0);
  EXPECT_EQ(Last(g->translucentItems, 1)[0]->state.flags & DRAW_OPAQUE, 0u);
  Text(grey, W(u"a"), 1, 0, 10, 0xFFFFFFFF, 0xFFFFFFFF, DRAW_OPAQUE);
  EXPECT_EQ(g->opaqueItems.count, opaque + 1);
  EXPECT_EQ(g->translucentItems.count, translucent + 2);
  // A destroyed font's pending items go with it.
  VekDestroyFont(grey);
  fonts_.pop_back();
  EXPECT_EQ(g->translucentItems.count, translucent + 1);
  EXPECT_EQ(g->opaqueItems.count, opaque);
}

TEST_F(FontTest, NullArgumentsPrintALineAndQueueNothing) {
  VekFont* f = Font(16);
  testing::internal::CaptureStdout();
  VekDrawText(g, 0, 0, 0, ~0u, 9, 0, 0, ~0u, 9, 9, 0, ~0u, 0, 9, 0, ~0u, 0, nullptr, W(u"h\u00e9"),
              2);
  VekDrawText(nullptr, 0, 0, 0, ~0u, 9, 0, 0, ~0u, 9, 9, 0, ~0u, 0, 9, 0, ~0u, 0, f, W(u"x"), 1);
  VekDrawText(g, 0, 0, 0, ~0u, 9, 0, 0, ~0u, 9, 9, 0, ~0u, 0, 9, 0, ~0u, 0, f, nullptr, 5);
  VekDrawChar(nullptr, 0, 0, 0, ~0u, 9, 0, 0, ~0u, 9, 9, 0, ~0u, 0, 9, 0, ~0u, 0, f, 'Q');
  VekDrawText(g, 0, 0, 0, ~0u, 9, 0, 0, ~0u, 9, 9, 0, ~0u, 0, 9, 0, ~0u, 0, f, nullptr, 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            Printed(GraphicsLine::kTextNull, "h\xC3\xA9") + Printed(GraphicsLine::kTextNull, "x") +
                Printed(GraphicsLine::kTextNull, "(null)") + Printed(GraphicsLine::kTextNull, "Q"));
  EXPECT_EQ(PendingItemCount(g), 0u);
  EXPECT_EQ(f->tex.tex, nullptr);
}

// Glyph pixels outside the cell, glyphs larger than the glyph buffer, and
// the 32-bit atlas's effect colour.
TEST_F(FontTest, GlyphsAreClippedNeverLostAndKeepTheirColour) {
  VekFont* f = Font(16);
  std::vector<BYTE> ink(8 * 40, 0xFF);  // 40 x 40 one-bit pixels left of and above the cell
  GLYPHMETRICS gm{};
  gm.gmBlackBoxX = gm.gmBlackBoxY = 40;
  gm.gmptGlyphOrigin = {-5, f->ascent + 7};
  gm.gmCellIncX = 6;
  const UINT bufferSize = f->cbitsSize;
  f->cbitsSize = static_cast<UINT>(ink.size());  // PlaceGlyph reads at most this many bytes
  ASSERT_TRUE(PlaceGlyph(f, gm, 'Z', ink.data(), device->cache.device));
  f->cbitsSize = bufferSize;
  const std::vector<DWORD> texels = Texels(f);
  ASSERT_EQ(texels.size(), 64u * 64u);
  for (UINT i = 0; i < texels.size(); ++i)
    ASSERT_EQ(texels[i], (i % 64 < 6 && i / 64 < 19) ? 0xFFFFu : 0u) << i % 64 << "," << i / 64;

  VekFont* grey = Font(16, FONT_GRAY8);
  Free(grey->cbits);  // as if the face's glyphs were wider than its line height
  grey->cbits = static_cast<BYTE*>(Malloc(4));
  grey->cbitsSize = 4;
  ASSERT_EQ(Char(grey, 'H'), 1u);
  UINT ink8 = 0;
  for (DWORD t : Texels(grey)) ink8 += (t >> 24) != 0;
  EXPECT_GT(ink8, 10u);

  VekFont* boxed = Font(20, FONT_GRAY8 | FONT_OUTLINE_BOX, 0x80FF2000);
  ASSERT_EQ(Char(boxed, 'H'), 1u);
  UINT outline = 0, other = 0;
  for (DWORD t : Texels(boxed)) {
    outline += t == 0x80FF2000u;
    other += t != 0 && t != 0x80FF2000u && (t & 0x00FFFFFF) != 0x00FFFFFF;
  }
  EXPECT_GT(outline, 0u);  // only around full-coverage texels at the box edge
  EXPECT_EQ(other, 0u);
}

// Text drawn smaller than its cells samples the glyphs, not blank mip levels.
TEST_F(FontTest, MinifiedTextShowsItsGlyphs) {
  VekFont* f = Font(32);
  ASSERT_EQ(VekBeginRender(g), D3D_OK);
  VekClear(g, 0xFF000000);
  const DWORD width = VekGetTextSize(f, W(u"HHHH"), 4) & 0xFFFF;
  const float w = static_cast<float>(width) / 4, h = static_cast<float>(f->lineHeight) / 4;
  VekDrawText(g, 10, 10, 0.5f, ~0u, 10 + w, 10, 0.5f, ~0u, 10 + w, 10 + h, 0.5f, ~0u, 10, 10 + h,
              0.5f, ~0u, 0, f, W(u"HHHH"), 4);
  ASSERT_EQ(VekEndRender(g), D3D_OK);
  const std::vector<DWORD> px = ReadBackBufferPixels(device);
  ASSERT_FALSE(px.empty());
  UINT lit = 0;
  for (UINT y = 10; y < 10 + h; ++y)
    for (UINT x = 10; x < 10 + w; ++x) lit += (px[y * 640 + x] & 0xFFFFFF) != 0;
  EXPECT_GT(lit, 4u);
}

TEST_F(FontTest, AFontStaysOnTheDeviceOfItsAtlas) {
  VekFont* f = Font(16);
  ASSERT_EQ(Char(f, 'A'), 1u);
  GraphicsDevice* other = VekOpenGraphicsDevice(0, window, 0, 1, 0, 0, 32, 0);
  ASSERT_NE(other, nullptr);
  Graphics* g2 = VekOpenGraphics(other);
  testing::internal::CaptureStdout();
  VekDrawText(g2, 0, 0, 0, ~0u, 9, 0, 0, ~0u, 9, 9, 0, ~0u, 0, 9, 0, ~0u, 0, f, W(u"AB"), 2);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            Printed(GraphicsLine::kAtlasElsewhere, "VekDrawText", static_cast<void*>(f)));
  EXPECT_EQ(PendingItemCount(g2), 0u);
  EXPECT_EQ(FindCharCoordinate(f, 'B'), nullptr);
  VekCloseGraphics(g2);
  VekCloseGraphicsDevice(other);
}

// GDI calls on a font's DC hold its lock: one thread measures while the
// rendering thread rasterises new glyphs, and every answer stays right.
TEST_F(FontTest, MeasuringOnAnotherThreadWhileGlyphsAreRasterised) {
  VekFont* f = Font(16, FONT_GRAY8);
  const DWORD a = VekGetCharSize(f, 'A');
  bool wrong = false;
  std::thread measurer([&] {
    for (int i = 0; i < 400 && !wrong; ++i) wrong = VekGetCharSize(f, 'A') != a;
  });
  std::u16string text;
  for (char16_t c = 0x21; c < 0x21 + 200; ++c) text += c;
  Text(f, W(text.c_str()), static_cast<UINT>(text.size()), 0, 600);
  measurer.join();
  EXPECT_FALSE(wrong);
  EXPECT_NE(FindCharCoordinate(f, 0x21 + 199), nullptr);
}

// A white (or near-white, equal to the 16-bit key) effect colour covers exactly
// the texels any other colour covers: what a pass writes is never glyph.
TEST_F(FontTest, WhiteEffectsCoverTheTexelsOfAnyOtherColour) {
  for (DWORD format : {DWORD{0}, DWORD{FONT_GRAY4}, DWORD{FONT_GRAY8}})
    for (DWORD effect : {FONT_SHADOW, FONT_OUTLINE_CROSS, FONT_OUTLINE_BOX}) {
      auto covered = [&](DWORD colour) {
        VekFont* f = Font(20, format | effect, colour);
        for (WORD ch : {'A', 'g', 'W', 'o'}) EXPECT_EQ(Char(f, ch), 1u);
        std::vector<bool> mask;
        for (DWORD t : Texels(f)) mask.push_back(t != 0);
        return mask;
      };
      const std::vector<bool> reference = covered(0xFF0000FF);
      ASSERT_FALSE(reference.empty());
      for (DWORD colour : {0xFFFFFFFFu, 0xFFFEFEFEu, 0xFFF8F8F8u})
        EXPECT_EQ(covered(colour), reference)
            << std::hex << format << " " << effect << " " << colour;
    }
}

// Cells wider than the rest of a row, forcing growth in either direction,
// never land on cells already stored: every stored glyph keeps its texels.
TEST_F(FontTest, TheAtlasReadsAsAnImageAndItsEmissionCacheGoesWithTheFont) {
  // The atlas record is taken wherever an image is (a whole texture: content
  // scale 1); the emission cache read from it is freed with the font (the
  // fixture counts blocks).
  VekFont* f = Font(16, FONT_GRAY8);
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(Char(f, 'A'), 1u);
  FlushDrawItems(g);
  auto* asImage = reinterpret_cast<VekImage*>(VekGetFontTexture(f));
  EXPECT_EQ(VekGetImageSize(asImage), f->tex.width | f->tex.height << 16);
  const BYTE* pixels = GetImagePixelCache(asImage);
  ASSERT_NE(pixels, nullptr);
  EXPECT_EQ(f->tex.pixelCacheWidth, f->tex.width);
  const std::vector<DWORD> texels = Texels(f);
  EXPECT_TRUE(std::equal(texels.begin(), texels.end(), reinterpret_cast<const DWORD*>(pixels)));
  EXPECT_EQ(VekDestroyFont(f), 1);
  fonts_.clear();
}

TEST_F(FontTest, WideCellsNeverOverwriteStoredGlyphs) {
  VekFont* f = Font(16, FONT_GRAY8);
  std::vector<std::pair<WORD, std::vector<DWORD>>> stored;
  auto cellOf = [&](WORD code) {
    const CharCoordinate* e = FindCharCoordinate(f, code);
    const VekTexture& t = f->tex;
    RECT r = {static_cast<LONG>(e->uLeft * t.width + 0.5f),
              static_cast<LONG>(e->vTop * t.height + 0.5f),
              static_cast<LONG>(e->uRight * t.width + 0.5f),
              static_cast<LONG>(e->vBottom * t.height + 0.5f)};
    return r;
  };
  auto texelsOf = [&](WORD code) {
    const RECT r = cellOf(code);
    const std::vector<DWORD> all = Texels(f);
    std::vector<DWORD> cell;
    for (LONG y = r.top; y < r.bottom; ++y)
      for (LONG x = r.left; x < r.right; ++x) cell.push_back(all[y * f->tex.width + x]);
    return cell;
  };
  auto check = [&](const char* step) {
    SCOPED_TRACE(step);
    for (size_t i = 0; i < stored.size(); ++i) {
      EXPECT_EQ(texelsOf(stored[i].first), stored[i].second) << stored[i].first;
      const RECT a = cellOf(stored[i].first);
      for (size_t j = 0; j < i; ++j) {
        const RECT b = cellOf(stored[j].first);
        EXPECT_TRUE(a.right <= b.left || b.right <= a.left || a.bottom <= b.top ||
                    b.bottom <= a.top)
            << stored[i].first << " overlaps " << stored[j].first;
      }
    }
  };
  auto narrow = [&](WORD code) {
    ASSERT_EQ(Char(f, code), 1u);
    stored.push_back({code, texelsOf(code)});
  };
  // A cell of `width` texels with ink in every texel.
  auto wide = [&](WORD code, short width) {
    std::vector<BYTE> ink(static_cast<size_t>((width + 3) & ~3) * 10, 64);
    GLYPHMETRICS gm{};
    gm.gmBlackBoxX = static_cast<UINT>(width);
    gm.gmBlackBoxY = 10;
    gm.gmptGlyphOrigin = {0, f->ascent};
    gm.gmCellIncX = width;
    const UINT bufferSize = f->cbitsSize;
    f->cbitsSize = static_cast<UINT>(ink.size());
    ASSERT_TRUE(PlaceGlyph(f, gm, code, ink.data(), device->cache.device));
    f->cbitsSize = bufferSize;
    stored.push_back({code, texelsOf(code)});
  };
  narrow('A');
  narrow('B');
  wide(0x2031, 70);  // wider than the 64-texel atlas: widened, then taller
  check("widened then taller");
  EXPECT_EQ(f->tex.width, 128u);
  EXPECT_EQ(f->tex.height, 128u);
  for (WORD ch = 'C'; ch < 'K'; ++ch) narrow(ch);
  wide(0x2032, 200);  // wider than 128: both directions again
  check("second wide cell");
  wide(0x2033, 120);  // the rest of the row is too short: a new row or growth
  for (WORD ch = 'a'; ch <= 'z'; ++ch) narrow(ch);
  check("narrow cells after them");
}

}  // namespace
