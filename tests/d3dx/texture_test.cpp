// Blank textures sized to the device's rules, and textures made from DDS
// files in memory: accepted layouts, the picture's placement, refusals.
#include <algorithm>

#include "d3dx_test.h"

#ifndef _WIN32
#include <vekrt/runtime.h>
#endif

namespace {

using TextureTest = D3dxTest;

TEST_F(TextureTest, CreateTextureSizesTheChainAndTheLevels) {
  struct Case {
    UINT w, h, levels;
    D3DFORMAT format;
    UINT top, count;  // level 0 as width << 16 | height, level count
  } cases[] = {
      {256, 64, 0, D3DFMT_A8R8G8B8, 256 << 16 | 64, 9},
      {16, 16, D3DX_DEFAULT, D3DFMT_A8R8G8B8, 16 << 16 | 16, 5},
      {16, 16, 3, D3DFMT_A4R4G4B4, 16 << 16 | 16, 3},
      {16, 4, 30, D3DFMT_A8R8G8B8, 16 << 16 | 4, 5},  // clamped to the chain
      {D3DX_DEFAULT, D3DX_DEFAULT, 1, D3DFMT_A8R8G8B8, 256 << 16 | 256, 1},
      {0, 0, 0, D3DFMT_A8R8G8B8, 1 << 16 | 1, 1},
      {8, 8, 1, D3DFMT_UNKNOWN, 8 << 16 | 8, 1},  // A8R8G8B8
      {6, 10, 1, D3DFMT_DXT1, 8 << 16 | 12, 1},   // whole blocks
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << " x " << c.h << " levels " << c.levels);
    Com<IDirect3DTexture8> t;
    ASSERT_EQ(D3DXCreateTexture(d3d, c.w, c.h, c.levels, 0, c.format, D3DPOOL_MANAGED, t.out()),
              D3D_OK);
    const std::vector<UINT> sizes = LevelSizes(t.p);
    ASSERT_EQ(sizes.size(), c.count);
    EXPECT_EQ(sizes[0], c.top);
    for (size_t i = 1; i < sizes.size(); ++i) {
      const UINT w = std::max(1u, sizes[i - 1] >> 17),
                 h = std::max(1u, (sizes[i - 1] & 0xFFFF) >> 1);
      EXPECT_EQ(sizes[i], w << 16 | h) << "each level halves the one above";
    }
    D3DSURFACE_DESC desc{};
    t->GetLevelDesc(0, &desc);
    EXPECT_EQ(desc.Format, c.format == D3DFMT_UNKNOWN ? D3DFMT_A8R8G8B8 : c.format);
    EXPECT_EQ(desc.Pool, D3DPOOL_MANAGED);
  }
  Com<IDirect3DTexture8> rt;
  ASSERT_EQ(D3DXCreateTexture(d3d, 64, 32, 0, D3DUSAGE_RENDERTARGET, D3DFMT_X8R8G8B8,
                              D3DPOOL_DEFAULT, rt.out()),
            D3D_OK);
  D3DSURFACE_DESC desc{};
  rt->GetLevelDesc(0, &desc);
  EXPECT_EQ(desc.Usage & D3DUSAGE_RENDERTARGET, DWORD{D3DUSAGE_RENDERTARGET});
  EXPECT_EQ(desc.Pool, D3DPOOL_DEFAULT);
}

TEST_F(TextureTest, CreateTextureRefusesWhatTheDeviceCannotHold) {
  const D3DCAPS8 caps = Caps();
  IDirect3DTexture8* t = reinterpret_cast<IDirect3DTexture8*>(1);
  EXPECT_EQ(D3DXCreateTexture(d3d, caps.MaxTextureWidth + 1, 4, 1, 0, D3DFMT_A8R8G8B8,
                              D3DPOOL_MANAGED, &t),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(t, nullptr);
  EXPECT_EQ(D3DXCreateTexture(d3d, 4, caps.MaxTextureHeight + 1, 1, 0, D3DFMT_A8R8G8B8,
                              D3DPOOL_MANAGED, &t),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(D3DXCreateTexture(nullptr, 4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(D3DXCreateTexture(d3d, 4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, nullptr),
            D3DERR_INVALIDCALL);
  Com<IDirect3DTexture8> largest;
  EXPECT_EQ(D3DXCreateTexture(d3d, caps.MaxTextureWidth, 4, 1, 0, D3DFMT_DXT1, D3DPOOL_MANAGED,
                              largest.out()),
            D3D_OK);
}

TEST_F(TextureTest, FilesLandInTheTextureAsTheyAre) {
  struct Case {
    D3DFORMAT format;
    UINT w, h, bytes;
  } cases[] = {{D3DFMT_A8R8G8B8, 3, 2, 24},
               {D3DFMT_DXT1, 8, 12, 6 * 8},
               {D3DFMT_DXT3, 8, 12, 6 * 16},
               {D3DFMT_DXT5, 4, 4, 16}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    const std::vector<BYTE> top = Pattern(c.bytes, 9);
    std::vector<BYTE> file = MakeDds(c.format, c.w, c.h, top);
    // A file's lower levels are ignored: the texture has its top level only.
    PutU32(file, 8, 0x000A1007);
    PutU32(file, 28, 2);
    const std::vector<BYTE> level1 = Pattern(c.bytes / 4 + 8, 99);
    file.insert(file.end(), level1.begin(), level1.end());
    D3DXIMAGE_INFO info{};
    Com<IDirect3DTexture8> t;
    ASSERT_EQ(Load(file, t.out(), &info), D3D_OK);
    EXPECT_EQ(info.Width, c.w);
    EXPECT_EQ(info.Height, c.h);
    EXPECT_EQ(info.Depth, 1u);
    EXPECT_EQ(info.MipLevels, 2u);
    EXPECT_EQ(info.Format, c.format);
    EXPECT_EQ(info.ResourceType, D3DRTYPE_TEXTURE);
    EXPECT_EQ(info.ImageFileFormat, D3DXIFF_DDS);
    EXPECT_EQ(LevelSizes(t.p), std::vector<UINT>{c.w << 16 | c.h});
    D3DSURFACE_DESC desc{};
    t->GetLevelDesc(0, &desc);
    EXPECT_EQ(desc.Pool, D3DPOOL_MANAGED);
    EXPECT_EQ(desc.Format, c.format);
    EXPECT_EQ(ReadLevel0(t.p), top);
  }
  // Without alpha in the pixel format the texture is X8R8G8B8.
  std::vector<BYTE> opaque = MakeDds(D3DFMT_A8R8G8B8, 1, 1, {1, 2, 3, 4});
  PutU32(opaque, 80, 0x40);
  PutU32(opaque, 104, 0);
  D3DXIMAGE_INFO info{};
  Com<IDirect3DTexture8> t;
  ASSERT_EQ(Load(opaque, t.out(), &info), D3D_OK);
  EXPECT_EQ(info.Format, D3DFMT_X8R8G8B8);
}

TEST_F(TextureTest, ALargerLevelHasThePictureTopLeftOverZeros) {
  const std::vector<BYTE> pixels = Pattern(3 * 2 * 4, 50);
  Com<IDirect3DTexture8> t;
  D3DXIMAGE_INFO info{};
  ASSERT_EQ(Load(MakeDds(D3DFMT_A8R8G8B8, 3, 2, pixels), t.out(), &info, 8, 4), D3D_OK);
  EXPECT_EQ(info.Width << 16 | info.Height, 3u << 16 | 2u);
  EXPECT_EQ(LevelSizes(t.p), std::vector<UINT>{8 << 16 | 4});
  std::vector<BYTE> expected(8 * 4 * 4, 0);
  for (int y = 0; y < 2; ++y) std::memcpy(&expected[y * 32], &pixels[y * 12], 12);
  EXPECT_EQ(ReadLevel0(t.p), expected);

  const std::vector<BYTE> block = Pattern(16, 3);
  ASSERT_EQ(Load(MakeDds(D3DFMT_DXT5, 4, 4, block), t.out(), nullptr, 8, 8), D3D_OK);
  std::vector<BYTE> blocks(4 * 16, 0);
  std::memcpy(blocks.data(), block.data(), 16);
  EXPECT_EQ(ReadLevel0(t.p), blocks);
}

TEST_F(TextureTest, DefaultPoolTextureIsFilledThroughSystemMemory) {
  const std::vector<BYTE> pixels = Pattern(4 * 4 * 4, 5);
  Com<IDirect3DTexture8> t;
  ASSERT_EQ(Load(MakeDds(D3DFMT_A8R8G8B8, 4, 4, pixels), t.out(), nullptr, D3DX_DEFAULT,
                 D3DX_DEFAULT, D3DFMT_UNKNOWN, D3DPOOL_DEFAULT),
            D3D_OK);
  D3DSURFACE_DESC desc{};
  t->GetLevelDesc(0, &desc);
  EXPECT_EQ(desc.Pool, D3DPOOL_DEFAULT);
  // Read back through a copy into system memory.
  Com<IDirect3DSurface8> level, copy;
  ASSERT_EQ(t->GetSurfaceLevel(0, level.out()), D3D_OK);
  ASSERT_EQ(d3d->CreateImageSurface(4, 4, D3DFMT_A8R8G8B8, copy.out()), D3D_OK);
  ASSERT_EQ(d3d->CopyRects(level.p, nullptr, 0, copy.p, nullptr), D3D_OK);
  D3DLOCKED_RECT locked{};
  ASSERT_EQ(copy->LockRect(&locked, nullptr, D3DLOCK_READONLY), D3D_OK);
  for (int y = 0; y < 4; ++y)
    EXPECT_EQ(std::memcmp(static_cast<BYTE*>(locked.pBits) + y * locked.Pitch, &pixels[y * 16], 16),
              0);
  copy->UnlockRect();
}

TEST_F(TextureTest, MalformedTruncatedAndUnsupportedFilesAreInvalidData) {
  using Edit = void (*)(std::vector<BYTE>&);
  const struct {
    const char* what;
    Edit edit;
  } damages[] = {
      {"magic", [](std::vector<BYTE>& f) { f[3] = 'X'; }},
      {"header size", [](std::vector<BYTE>& f) { PutU32(f, 4, 123); }},
      {"pixel format size", [](std::vector<BYTE>& f) { PutU32(f, 76, 24); }},
      {"no width flag", [](std::vector<BYTE>& f) { PutU32(f, 8, 0x00081003); }},
      {"no height flag", [](std::vector<BYTE>& f) { PutU32(f, 8, 0x00081005); }},
      {"zero width", [](std::vector<BYTE>& f) { PutU32(f, 16, 0); }},
      {"zero height", [](std::vector<BYTE>& f) { PutU32(f, 12, 0); }},
      {"last byte missing", [](std::vector<BYTE>& f) { f.pop_back(); }},
      {"header only", [](std::vector<BYTE>& f) { f.resize(128); }},
      {"short header", [](std::vector<BYTE>& f) { f.resize(100); }},
      {"linear size", [](std::vector<BYTE>& f) { PutU32(f, 20, 8 * 4 * 4 + 4); }},
      {"pitch",
       [](std::vector<BYTE>& f) {
         PutU32(f, 8, 0x100F);
         PutU32(f, 20, 33);
       }},
      {"24-bit pixels", [](std::vector<BYTE>& f) { PutU32(f, 88, 24); }},
      {"swapped masks",
       [](std::vector<BYTE>& f) {
         PutU32(f, 92, 0xFF);
         PutU32(f, 100, 0xFF0000);
       }},
      {"luminance", [](std::vector<BYTE>& f) { PutU32(f, 80, 0x20000); }},
      {"DXT2",
       [](std::vector<BYTE>& f) {
         PutU32(f, 80, 4);
         PutU32(f, 84, D3DFMT_DXT2);
       }},
      {"DXT4",
       [](std::vector<BYTE>& f) {
         PutU32(f, 80, 4);
         PutU32(f, 84, D3DFMT_DXT4);
       }},
      {"cube map", [](std::vector<BYTE>& f) { PutU32(f, 112, 0xFE00); }},
      {"volume",
       [](std::vector<BYTE>& f) {
         PutU32(f, 8, 0x00881007);
         PutU32(f, 24, 2);
       }},
      {"too many levels",
       [](std::vector<BYTE>& f) {
         PutU32(f, 8, 0xA1007);
         PutU32(f, 28, 5);
       }},
      {"size past 32 bits",
       [](std::vector<BYTE>& f) {
         PutU32(f, 8, 0x1007);
         PutU32(f, 12, 1 << 30);
         PutU32(f, 16, 1 << 30);
       }},
      {"row past 32 bits",
       [](std::vector<BYTE>& f) {
         PutU32(f, 8, 0x1007);
         PutU32(f, 12, 1);
         PutU32(f, 16, 0x40000001);
       }},
      {"DXT1 one block short",
       [](std::vector<BYTE>& f) { f = MakeDds(D3DFMT_DXT1, 8, 8, Pattern(3 * 8, 0)); }},
  };
  const std::vector<BYTE> good = MakeDds(D3DFMT_A8R8G8B8, 8, 4, Pattern(8 * 4 * 4, 0));
  Com<IDirect3DTexture8> accepted;
  ASSERT_EQ(Load(good, accepted.out()), D3D_OK);
  std::vector<BYTE> variant = good;  // a right pitch, then a flagged but empty field
  PutU32(variant, 8, 0x100F);
  PutU32(variant, 20, 32);
  EXPECT_EQ(Load(variant, accepted.out()), D3D_OK);
  PutU32(variant, 20, 0);
  EXPECT_EQ(Load(variant, accepted.out()), D3D_OK);
  for (const auto& d : damages) {
    SCOPED_TRACE(d.what);
    std::vector<BYTE> file = good;
    d.edit(file);
    file.shrink_to_fit();  // so that reading past the end is caught
    IDirect3DTexture8* t = reinterpret_cast<IDirect3DTexture8*>(1);
    D3DXIMAGE_INFO info{};
    EXPECT_EQ(Load(file, &t, &info), D3DXERR_INVALIDDATA);
    EXPECT_EQ(t, nullptr);
    EXPECT_EQ(info.Width, 0u);
  }
  IDirect3DTexture8* t = nullptr;
  EXPECT_EQ(D3DXCreateTextureFromFileInMemoryEx(d3d, nullptr, 200, D3DX_DEFAULT, D3DX_DEFAULT, 1, 0,
                                                D3DFMT_UNKNOWN, D3DPOOL_MANAGED, D3DX_FILTER_NONE,
                                                D3DX_DEFAULT, 0, nullptr, nullptr, &t),
            D3DERR_INVALIDCALL);
  // No conversion to another format is offered.
  EXPECT_EQ(Load(good, &t, nullptr, D3DX_DEFAULT, D3DX_DEFAULT, D3DFMT_R5G6B5), D3DERR_INVALIDCALL);
  EXPECT_EQ(t, nullptr);
}

#ifndef _WIN32
// The software device can report power-of-two-only texturing.
class Pow2TextureTest : public D3dxTest {
 protected:
  void SetUp() override {
    vrt::AdapterConfig adapter = vrt::DefaultAdapter();
    adapter.textureCaps |= D3DPTEXTURECAPS_POW2 | extraCaps;
    adapter.maxTextureWidth = 1024;
    adapter.maxTextureHeight = 512;
    vrt::SetAdapters({adapter});
    D3dxTest::SetUp();
  }
  void TearDown() override {
    D3dxTest::TearDown();
    vrt::ResetRuntime();
  }
  DWORD extraCaps = 0;
};

TEST_F(Pow2TextureTest, SizesRoundUpToPowersOfTwo) {
  Com<IDirect3DTexture8> t;
  ASSERT_EQ(D3DXCreateTexture(d3d, 100, 60, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, t.out()),
            D3D_OK);
  EXPECT_EQ(LevelSizes(t.p).size(), 8u);
  EXPECT_EQ(LevelSizes(t.p)[0], 128u << 16 | 64u);
  ASSERT_EQ(D3DXCreateTexture(d3d, 64, 33, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, t.out()),
            D3D_OK);
  EXPECT_EQ(LevelSizes(t.p)[0], 64u << 16 | 64u);  // 64 is kept
  EXPECT_EQ(D3DXCreateTexture(d3d, 513, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, t.out()),
            D3D_OK);
  // Rounding past the largest size is refused.
  EXPECT_EQ(D3DXCreateTexture(d3d, 8, 257, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, t.out()),
            D3D_OK);
  EXPECT_EQ(D3DXCreateTexture(d3d, 8, 513, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, t.out()),
            D3DERR_INVALIDCALL);
  UINT w = 8, h = 200, levels = 0;
  D3DFORMAT format = D3DFMT_UNKNOWN;
  ASSERT_EQ(D3DXCheckTextureRequirements(d3d, &w, &h, &levels, 0, &format, D3DPOOL_MANAGED),
            D3D_OK);
  EXPECT_EQ(w << 16 | h, 8u << 16 | 256u);
  EXPECT_EQ(levels, 9u);
  EXPECT_EQ(format, D3DFMT_A8R8G8B8);

  // A 100 x 60 picture: a 128 x 64 level 0 with the picture top-left.
  const std::vector<BYTE> pixels = Pattern(100 * 60 * 4, 17);
  D3DXIMAGE_INFO info{};
  ASSERT_EQ(Load(MakeDds(D3DFMT_A8R8G8B8, 100, 60, pixels), t.out(), &info), D3D_OK);
  EXPECT_EQ(info.Width << 16 | info.Height, 100u << 16 | 60u);
  EXPECT_EQ(LevelSizes(t.p), std::vector<UINT>{128 << 16 | 64});
  std::vector<BYTE> expected(128 * 64 * 4, 0);
  for (int y = 0; y < 60; ++y) std::memcpy(&expected[y * 512], &pixels[y * 400], 400);
  EXPECT_TRUE(ReadLevel0(t.p) == expected);
}

class SquareTextureTest : public Pow2TextureTest {
 protected:
  void SetUp() override {
    extraCaps = D3DPTEXTURECAPS_SQUAREONLY;
    Pow2TextureTest::SetUp();
  }
};

TEST_F(SquareTextureTest, SquareOnlyDevicesGetSquareLevels) {
  Com<IDirect3DTexture8> t;
  ASSERT_EQ(D3DXCreateTexture(d3d, 100, 20, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, t.out()),
            D3D_OK);
  EXPECT_EQ(LevelSizes(t.p)[0], 128u << 16 | 128u);
  // Squaring past the largest height is refused.
  UINT w = 1000, h = 8;
  EXPECT_EQ(D3DXCheckTextureRequirements(d3d, &w, &h, nullptr, 0, nullptr, D3DPOOL_MANAGED),
            D3DERR_INVALIDCALL);
}
#endif

}  // namespace
