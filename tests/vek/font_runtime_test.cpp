// Fonts on the runtime's controlled devices: allocation and lock failures
// with their errors, an atlas growth the device refuses, and the atlas drawn
// as a texture on a power-of-two device.
#include <vek/vek.h>

#include <string>
#include <vector>

#include "gd/device.h"
#include "graphics/frame.h"
#include "graphics/graphics.h"
#include "graphics/text.h"
#include "support/diagnostics.h"
#include "support/test_fonts.h"
#include "support/vek_test.h"
#include "vekfont/font.h"

namespace {

class FontRuntimeTest : public VekTest {
 protected:
  static void SetUpTestSuite() { file_ = new TestFontFile; }
  static void TearDownTestSuite() {
    delete file_;
    file_ = nullptr;
  }
  void TearDown() override {
    if (g) {
      FlushDrawItems(g);
      VekCloseGraphics(g);
    }
    for (VekFont* f : fonts_) VekDestroyFont(f);
    if (device) VekCloseGraphicsDevice(device);
    VekTest::TearDown();
  }
  void Open(UINT maxTexture = 4096, bool pow2 = false) {
    vrt::AdapterConfig a = vrt::DefaultAdapter();
    a.maxTextureWidth = a.maxTextureHeight = maxTexture;
    if (pow2) a.textureCaps |= D3DPTEXTURECAPS_POW2;
    vrt::SetAdapters({a});
    device = VekOpenGraphicsDevice(0, window, 0, 1, 0, 0, 32, 0);
    ASSERT_NE(device, nullptr);
    g = VekOpenGraphics(device);
    ASSERT_NE(g, nullptr);
  }
  VekFont* Font(UINT size, DWORD flags = 0) {
    VekFont* f = VekCreateFont(VEK_TEST_FACE, size, flags, 0xFFFFFFFF);
    if (f) fonts_.push_back(f);
    return f;
  }
  bool Char(VekFont* f, WORD ch) {
    const TextCorner box[4] = {
        {0, 0, 0.5f, ~0u}, {9, 0, 0.5f, ~0u}, {9, 9, 0.5f, ~0u}, {0, 9, 0.5f, ~0u}};
    return DrawCharGlyph(g, box, 0, f, ch) == 1;
  }
  static void ExpectError(LONG code, LONG line, const std::string& message) {
    const LastError e = ReadError();
    EXPECT_TRUE(e.set);
    EXPECT_EQ(e.code, code);
    EXPECT_EQ(e.line, line);
    EXPECT_EQ(e.message, message);
    EXPECT_EQ(e.source, ".\\vekfont");
  }

  GraphicsDevice* device = nullptr;
  HVEKGRAPHICS g = nullptr;
  std::vector<VekFont*> fonts_;
  static TestFontFile* file_;
};
TestFontFile* FontRuntimeTest::file_ = nullptr;

TEST_F(FontRuntimeTest, AllocationFailuresOfFontsAndEntries) {
  Open();
  ASSERT_EQ(file_->added(), 1);
  FailMalloc(0, 1);
  EXPECT_EQ(Font(16), nullptr);
  ExpectError(-11, 32, Message(FontErr::kMallocFont));
  EXPECT_EQ(ReadError().detail, static_cast<LONG>(sizeof(VekFont)));
  FailMalloc(1, 1);  // the record, then the glyph buffer
  EXPECT_EQ(Font(16), nullptr);
  ExpectError(-11, 101, Message(FontErr::kMallocBits));
  EXPECT_EQ(ReadError().detail, 21 * 21);

  // GDI refusing to select the font: no font that would measure as the DC's default.
  const LONG blocks = LiveBlockCount();
  const int live = vrt::LiveObjectCount();
  vrt::FailCall("SelectObject", E_OUTOFMEMORY);
  EXPECT_EQ(Font(24), nullptr);
  ExpectError(-51, 86, Message(FontErr::kSelectFont));
  EXPECT_EQ(ReadError().detail, 14);
  EXPECT_EQ(LiveBlockCount(), blocks);
  EXPECT_EQ(vrt::LiveObjectCount(), live);

  VekFont* f = Font(16);
  ASSERT_NE(f, nullptr);
  FailMalloc(0, 1);  // the bucket's first array
  EXPECT_FALSE(Char(f, 'A'));
  ExpectError(-11, 666, Message(FontErr::kMallocEntries));
  EXPECT_EQ(ReadError().detail, static_cast<LONG>(32 * sizeof(CharCoordinate)));
  EXPECT_EQ(FindCharCoordinate(f, 'A'), nullptr);
  EXPECT_EQ(f->cursorX, 0u);  // the cell is taken again by the next try
  EXPECT_TRUE(Char(f, 'A'));
  EXPECT_EQ(FindCharCoordinate(f, 'A')->uLeft, 0.0f);
}

TEST_F(FontRuntimeTest, LockFailuresLeaveTheAtlasAsItWas) {
  Open();
  VekFont* f = Font(16);
  ASSERT_NE(f, nullptr);
  ASSERT_TRUE(Char(f, 'A'));
  vrt::FailCall("IDirect3DTexture8::LockRect", D3DERR_INVALIDCALL);
  EXPECT_FALSE(Char(f, 'B'));
  ExpectError(-52, 409, Message(FontErr::kLockCell));
  EXPECT_TRUE(Char(f, 'B'));  // tried again at its next use

  IDirect3DDevice8* d3d = device->cache.device;
  IDirect3DTexture8* atlas = f->tex.tex;
  const int live = vrt::LiveObjectCount();
  vrt::FailCall("IDirect3DTexture8::LockRect", D3DERR_INVALIDCALL);
  EXPECT_FALSE(GrowAtlas(f, d3d));
  ExpectError(-51, 552, Message(FontErr::kLockOldAtlas));
  vrt::FailCall("IDirect3DTexture8::LockRect", D3DERR_INVALIDCALL, 1);
  EXPECT_FALSE(GrowAtlas(f, d3d));
  ExpectError(-51, 561, Message(FontErr::kLockNewAtlas));
  EXPECT_EQ(f->tex.tex, atlas);
  EXPECT_EQ(f->tex.width, 64u);
  EXPECT_EQ(vrt::LiveObjectCount(), live);  // the new texture was released
  EXPECT_TRUE(Char(f, 'C'));                // and the old one unlocked
}

TEST_F(FontRuntimeTest, ARefusedGrowthDropsOnlyTheNewCharacters) {
  Open(64);
  VekFont* f = Font(16);
  ASSERT_NE(f, nullptr);
  WORD ch = 0x21;
  while (Char(f, ch)) ++ch;  // until the 64 x 64 atlas is full
  EXPECT_GT(ch, 0x21 + 8);
  EXPECT_EQ(f->tex.width, 64u);
  EXPECT_EQ(f->tex.height, 64u);
  EXPECT_EQ(ReadError().message, Message(TexErr::kCreateTexture));
  EXPECT_TRUE(Char(f, 0x21));  // the glyphs held stay usable
  const size_t creations = vrt::CountCalls("IDirect3DDevice8::GetDeviceCaps");
  EXPECT_FALSE(Char(f, static_cast<WORD>(ch + 1)));
  EXPECT_GT(vrt::CountCalls("IDirect3DDevice8::GetDeviceCaps"), creations);  // tried again
}

TEST_F(FontRuntimeTest, TheAtlasDrawsWholeOnPowerOfTwoDevices) {
  Open(4096, true);
  VekFont* f = Font(16);
  ASSERT_NE(f, nullptr);
  ASSERT_TRUE(Char(f, 'A'));
  auto* item = static_cast<DrawItem*>(VekDrawQuad(g, 0, 0, 0.5f, ~0u, 0, 0, 64, 0, 0.5f, ~0u, 1, 0,
                                                  64, 64, 0.5f, ~0u, 1, 1, 0, 64, 0.5f, ~0u, 0, 1,
                                                  0, VekGetFontTexture(f)));
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->vertices[2].u, 1.0f);
  EXPECT_EQ(item->vertices[2].v, 1.0f);
}

}  // namespace
