// Saving surfaces and textures: BMP headers, padding, row order and decoded
// pixels; DDS files that load back; unlockable surfaces; refusals.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "d3dx_test.h"

namespace fs = std::filesystem;

namespace {

class SaveTest : public D3dxTest {
 protected:
  void SetUp() override {
    D3dxTest::SetUp();
    dir_ =
        fs::temp_directory_path() /
        ("vek-d3dx-" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()) +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
    D3dxTest::TearDown();
  }
#ifdef _WIN32
  std::wstring Path(const fs::path& name) const { return (dir_ / name).wstring(); }
#else
  std::u16string Path(const fs::path& name) const { return (dir_ / name).u16string(); }
#endif
  std::vector<BYTE> Read(const fs::path& name) const {
    std::ifstream in(dir_ / name, std::ios::binary);
    return std::vector<BYTE>(std::istreambuf_iterator<char>(in), {});
  }
  // A managed one-level texture holding `bytes`.
  void Make(UINT w, UINT h, D3DFORMAT format, const std::vector<BYTE>& bytes,
            Com<IDirect3DTexture8>& t) {
    ASSERT_EQ(d3d->CreateTexture(w, h, 1, 0, format, D3DPOOL_MANAGED, t.out()), D3D_OK);
    WriteLevel0(t.p, bytes);
  }
  HRESULT Save(const char* name, D3DXIMAGE_FILEFORMAT format, IDirect3DTexture8* t,
               const RECT* rect = nullptr) {
    Com<IDirect3DSurface8> s;
    if (FAILED(t->GetSurfaceLevel(0, s.out()))) return E_FAIL;
    return D3DXSaveSurfaceToFileW(Path(name).c_str(), format, s.p, nullptr, rect);
  }
  // Checks a 24-bit BMP's headers; returns pixel (x, y) as 0xRRGGBB.
  static uint32_t Pixel(const std::vector<BYTE>& f, UINT x, UINT y) {
    const UINT stride = (GetU32(f, 18) * 3 + 3) & ~3u;
    const size_t at = 54 + static_cast<size_t>(GetU32(f, 22) - 1 - y) * stride + x * 3;
    return f.at(at + 2) << 16 | f.at(at + 1) << 8 | f.at(at);
  }
  static void ExpectBmp(const std::vector<BYTE>& f, UINT w, UINT h) {
    const UINT stride = (w * 3 + 3) & ~3u;
    ASSERT_EQ(f.size(), 54 + stride * h);
    EXPECT_EQ(f[0] | f[1] << 8, 'B' | 'M' << 8);
    const uint32_t fields[][2] = {
        {2, 54 + stride * h}, {10, 54}, {14, 40},        {18, w}, {22, h},  // positive: bottom-up
        {26, 1 | 24 << 16},   {30, 0},  {34, stride * h}};
    for (const auto& field : fields) EXPECT_EQ(GetU32(f, field[0]), field[1]) << field[0];
  }

  fs::path dir_;
};

std::vector<BYTE> Le(std::initializer_list<uint32_t> values, int bytes) {
  std::vector<BYTE> out;
  for (uint32_t v : values)
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<BYTE>(v >> (8 * i)));
  return out;
}

TEST_F(SaveTest, BmpIs24BitBottomUpWithPaddedRowsFromEveryPixelFormat) {
  const std::vector<BYTE> pixels =
      Le({0x80112233, 0xFF445566, 0x00778899, 0x12ABCDEF, 0xFF000000, 0xFFFFFFFF}, 4);
  for (D3DFORMAT format : {D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8}) {
    SCOPED_TRACE(format);
    Com<IDirect3DTexture8> t;
    Make(3, 2, format, pixels, t);
    ASSERT_EQ(Save("a.bmp", D3DXIFF_BMP, t.p), D3D_OK);
    const std::vector<BYTE> f = Read("a.bmp");
    ExpectBmp(f, 3, 2);
    // Bottom row first, 9 bytes padded to 12 with zeros; alpha dropped.
    EXPECT_EQ(std::vector<BYTE>(f.begin() + 54, f.end()),
              (std::vector<BYTE>{0xEF, 0xCD, 0xAB, 0,    0,    0,    0xFF, 0xFF, 0xFF, 0, 0, 0,
                                 0x33, 0x22, 0x11, 0x66, 0x55, 0x44, 0x99, 0x88, 0x77, 0, 0, 0}));
    ASSERT_EQ(Save("a.dib", D3DXIFF_DIB, t.p), D3D_OK);
    EXPECT_EQ(Read("a.dib"), f);
  }
  // 16-bit pixels expand by bit replication.
  const struct {
    D3DFORMAT format;
    uint16_t in0, in1;
    uint32_t out0, out1;
  } cases[] = {{D3DFMT_R5G6B5, 0xF821, 0x8410, 0xFF0408, 0x848284},
               {D3DFMT_X1R5G5B5, 0x7C21, 0x4210, 0xFF0808, 0x848484},
               {D3DFMT_A1R5G5B5, 0x801F, 0x03E0, 0x0000FF, 0x00FF00},
               {D3DFMT_A4R4G4B4, 0xF12F, 0x0800, 0x1122FF, 0x880000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.format);
    Com<IDirect3DTexture8> t;
    Make(2, 1, c.format, Le({c.in0, c.in1}, 2), t);
    ASSERT_EQ(Save("p.bmp", D3DXIFF_BMP, t.p), D3D_OK);
    const std::vector<BYTE> f = Read("p.bmp");
    ExpectBmp(f, 2, 1);
    EXPECT_EQ(Pixel(f, 0, 0), c.out0);
    EXPECT_EQ(Pixel(f, 1, 0), c.out1);
  }
}

TEST_F(SaveTest, DxtBlocksAreDecodedForBmp) {
  // c0 red > c1 blue: four colours. Row 0 indices 0, 1, 2, 3; rows 1-3 all 1.
  const std::vector<BYTE> four = {0x00, 0xF8, 0x1F, 0x00, 0xE4, 0x55, 0x55, 0x55};
  // c0 blue < c1 red: three colours and black (DXT1 only).
  const std::vector<BYTE> three = {0x1F, 0x00, 0x00, 0xF8, 0xE4, 0x00, 0x00, 0x00};
  std::vector<BYTE> blocks = four;
  blocks.insert(blocks.end(), three.begin(), three.end());
  Com<IDirect3DTexture8> t;
  Make(8, 4, D3DFMT_DXT1, blocks, t);
  ASSERT_EQ(Save("d.bmp", D3DXIFF_BMP, t.p), D3D_OK);
  std::vector<BYTE> f = Read("d.bmp");
  ExpectBmp(f, 8, 4);
  const uint32_t row0[8] = {0xFF0000, 0x0000FF, 0xAA0055, 0x5500AA,
                            0x0000FF, 0xFF0000, 0x7F007F, 0x000000};
  for (UINT x = 0; x < 8; ++x) EXPECT_EQ(Pixel(f, x, 0), row0[x]) << x;
  EXPECT_EQ(Pixel(f, 2, 3), 0x0000FFu);
  EXPECT_EQ(Pixel(f, 6, 3), 0x0000FFu);
  for (D3DFORMAT format : {D3DFMT_DXT3, D3DFMT_DXT5}) {
    SCOPED_TRACE(format);
    // The colour half follows 8 bytes of alpha and always has four colours.
    std::vector<BYTE> block(8, 0x5A);
    block.insert(block.end(), three.begin(), three.end());
    Make(4, 4, format, block, t);
    ASSERT_EQ(Save("d.bmp", D3DXIFF_BMP, t.p), D3D_OK);
    f = Read("d.bmp");
    ExpectBmp(f, 4, 4);
    const uint32_t row[4] = {0x0000FF, 0xFF0000, 0x5500AA, 0xAA0055};
    for (UINT x = 0; x < 4; ++x) EXPECT_EQ(Pixel(f, x, 0), row[x]) << x;
  }
}

TEST_F(SaveTest, DdsKeepsTheFormatAndLoadsBack) {
  const struct {
    D3DFORMAT format;
    UINT w, h, bytes;
    uint32_t flags, pitch, pfFlags, bits, alphaMask;
  } cases[] = {{D3DFMT_A8R8G8B8, 3, 2, 24, 0x100F, 12, 0x41, 32, 0xFF000000},
               {D3DFMT_X8R8G8B8, 2, 2, 16, 0x100F, 8, 0x40, 32, 0},
               {D3DFMT_R5G6B5, 3, 1, 6, 0x100F, 6, 0x40, 16, 0},
               {D3DFMT_A4R4G4B4, 1, 1, 2, 0x100F, 2, 0x41, 16, 0xF000},
               {D3DFMT_DXT1, 8, 4, 16, 0x81007, 16, 4, 0, 0},
               {D3DFMT_DXT3, 4, 8, 32, 0x81007, 32, 4, 0, 0},
               {D3DFMT_DXT5, 4, 4, 16, 0x81007, 16, 4, 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.format);
    const std::vector<BYTE> data = Pattern(c.bytes, 1);
    Com<IDirect3DTexture8> t;
    Make(c.w, c.h, c.format, data, t);
    ASSERT_EQ(D3DXSaveTextureToFileW(Path("t.dds").c_str(), D3DXIFF_DDS, t.p, nullptr), D3D_OK);
    const std::vector<BYTE> f = Read("t.dds");
    ASSERT_EQ(f.size(), 128 + c.bytes);
    EXPECT_EQ(std::string(f.begin(), f.begin() + 4), "DDS ");
    const uint32_t fields[][2] = {{4, 124},           {8, c.flags}, {12, c.h},       {16, c.w},
                                  {20, c.pitch},      {76, 32},     {80, c.pfFlags}, {88, c.bits},
                                  {104, c.alphaMask}, {108, 0x1000}};
    for (const auto& field : fields) EXPECT_EQ(GetU32(f, field[0]), field[1]) << field[0];
    if (c.pfFlags == 4) {
      EXPECT_EQ(GetU32(f, 84), static_cast<uint32_t>(c.format));
    }
    if (c.format == D3DFMT_R5G6B5) {
      EXPECT_EQ(GetU32(f, 92), 0xF800u);
      EXPECT_EQ(GetU32(f, 96), 0x07E0u);
      EXPECT_EQ(GetU32(f, 100), 0x001Fu);
    }
    EXPECT_EQ(std::vector<BYTE>(f.begin() + 128, f.end()), data);
    if (c.bits == 16) continue;  // the loader takes 32-bit and DXT files only
    Com<IDirect3DTexture8> back;
    D3DXIMAGE_INFO info{};
    ASSERT_EQ(Load(f, back.out(), &info), D3D_OK);
    EXPECT_EQ(info.Format, c.format);
    EXPECT_EQ(ReadLevel0(back.p), data);
  }
}

TEST_F(SaveTest, ARectangleSavesThatPartOnly) {
  Com<IDirect3DTexture8> t;
  Make(3, 2, D3DFMT_X8R8G8B8, Le({0x010203, 0x040506, 0x070809, 0x0A0B0C, 0x0D0E0F, 0x101112}, 4),
       t);
  const RECT r{1, 1, 3, 2};
  ASSERT_EQ(Save("r.bmp", D3DXIFF_BMP, t.p, &r), D3D_OK);
  const std::vector<BYTE> f = Read("r.bmp");
  ExpectBmp(f, 2, 1);
  EXPECT_EQ(Pixel(f, 0, 0), 0x0D0E0Fu);
  EXPECT_EQ(Pixel(f, 1, 0), 0x101112u);
  for (const RECT& bad : {RECT{0, 0, 4, 2}, RECT{2, 0, 2, 2}, RECT{-1, 0, 2, 2}, RECT{0, 1, 3, 0}})
    EXPECT_EQ(Save("bad.bmp", D3DXIFF_BMP, t.p, &bad), D3DERR_INVALIDCALL);
  // Blocks are saved whole: a rectangle must start on a block.
  Make(8, 4, D3DFMT_DXT1, std::vector<BYTE>(16, 0x33), t);
  const RECT half{2, 0, 8, 4}, right{4, 0, 8, 4};
  EXPECT_EQ(Save("bad.dds", D3DXIFF_DDS, t.p, &half), D3DERR_INVALIDCALL);
  ASSERT_EQ(Save("right.dds", D3DXIFF_DDS, t.p, &right), D3D_OK);
  EXPECT_EQ(Read("right.dds").size(), 128u + 8);
  EXPECT_FALSE(fs::exists(dir_ / "bad.bmp"));
  EXPECT_FALSE(fs::exists(dir_ / "bad.dds"));
}

TEST_F(SaveTest, RenderTargetsAndTheBackBufferAreReadThroughACopy) {
  // Pixels reach the unlockable surfaces by CopyRects from an image surface.
  auto fill = [&](IDirect3DSurface8* target, UINT w, UINT h) {
    Com<IDirect3DSurface8> image;
    ASSERT_EQ(d3d->CreateImageSurface(w, h, D3DFMT_X8R8G8B8, image.out()), D3D_OK);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(image->LockRect(&locked, nullptr, 0), D3D_OK);
    for (UINT y = 0; y < h; ++y)
      for (UINT x = 0; x < w; ++x)
        reinterpret_cast<uint32_t*>(static_cast<BYTE*>(locked.pBits) + y * locked.Pitch)[x] =
            (x & 0xFF) << 16 | (y & 0xFF) << 8 | 0x5A;
    image->UnlockRect();
    ASSERT_EQ(d3d->CopyRects(image.p, nullptr, 0, target, nullptr), D3D_OK);
  };
  Com<IDirect3DTexture8> rt;
  ASSERT_EQ(D3DXCreateTexture(d3d, 64, 32, 1, D3DUSAGE_RENDERTARGET, D3DFMT_X8R8G8B8,
                              D3DPOOL_DEFAULT, rt.out()),
            D3D_OK);
  Com<IDirect3DSurface8> level;
  ASSERT_EQ(rt->GetSurfaceLevel(0, level.out()), D3D_OK);
  fill(level.p, 64, 32);
  ASSERT_EQ(D3DXSaveTextureToFileW(Path("rt.bmp").c_str(), D3DXIFF_BMP, rt.p, nullptr), D3D_OK);
  std::vector<BYTE> f = Read("rt.bmp");
  ExpectBmp(f, 64, 32);
  EXPECT_EQ(Pixel(f, 0, 0), 0x00005Au);
  EXPECT_EQ(Pixel(f, 63, 31), 0x3F1F5Au);
  EXPECT_EQ(Pixel(f, 10, 20), 0x0A145Au);

  Com<IDirect3DSurface8> back;
  ASSERT_EQ(d3d->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, back.out()), D3D_OK);
  D3DSURFACE_DESC desc{};
  back->GetDesc(&desc);
  ASSERT_EQ(desc.Format, D3DFMT_X8R8G8B8);
  fill(back.p, desc.Width, desc.Height);
  ASSERT_EQ(D3DXSaveSurfaceToFileW(Path("back.bmp").c_str(), D3DXIFF_BMP, back.p, nullptr, nullptr),
            D3D_OK);
  f = Read("back.bmp");
  ExpectBmp(f, desc.Width, desc.Height);
  EXPECT_EQ(Pixel(f, 300, 200), 0x2CC85Au);
  EXPECT_EQ(Pixel(f, desc.Width - 1, 0), ((desc.Width - 1) & 0xFF) << 16 | 0x5Au);
}

TEST_F(SaveTest, PathsAndRefusals) {
  Com<IDirect3DTexture8> t;
  Make(2, 2, D3DFMT_A8R8G8B8, std::vector<BYTE>(16, 7), t);
  const auto path = Path("x.img");
  for (D3DXIMAGE_FILEFORMAT format : {D3DXIFF_JPG, D3DXIFF_TGA, D3DXIFF_PNG, D3DXIFF_PPM})
    EXPECT_EQ(D3DXSaveTextureToFileW(path.c_str(), format, t.p, nullptr), D3DXERR_INVALIDDATA)
        << format;
  for (int format : {7, 8, 100, -1})
    EXPECT_EQ(D3DXSaveTextureToFileW(path.c_str(), static_cast<D3DXIMAGE_FILEFORMAT>(format), t.p,
                                     nullptr),
              D3DERR_INVALIDCALL)
        << format;
  EXPECT_EQ(D3DXSaveTextureToFileW(path.c_str(), D3DXIFF_BMP, nullptr, nullptr),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(D3DXSaveTextureToFileW(nullptr, D3DXIFF_BMP, t.p, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(D3DXSaveSurfaceToFileW(path.c_str(), D3DXIFF_BMP, nullptr, nullptr, nullptr),
            D3DERR_INVALIDCALL);
  // A pixel format the savers do not read.
  Com<IDirect3DTexture8> l8;
  if (SUCCEEDED(d3d->CreateTexture(2, 2, 1, 0, D3DFMT_L8, D3DPOOL_MANAGED, l8.out()))) {
    EXPECT_EQ(D3DXSaveTextureToFileW(path.c_str(), D3DXIFF_BMP, l8.p, nullptr), D3DERR_INVALIDCALL);
  }
  EXPECT_FALSE(fs::exists(dir_ / "x.img"));
  // Paths are UTF-16, reaching the file system whole.
  const fs::path name(u8"bild-\u00e4\u4e2d-\U0001F600.bmp");
  ASSERT_EQ(D3DXSaveTextureToFileW(Path(name).c_str(), D3DXIFF_BMP, t.p, nullptr), D3D_OK);
  ExpectBmp(Read(name), 2, 2);
  // A folder that does not exist cannot be written.
  EXPECT_EQ(D3DXSaveTextureToFileW(Path(fs::path("missing") / "x.bmp").c_str(), D3DXIFF_BMP, t.p,
                                   nullptr),
            E_FAIL);
}

}  // namespace
