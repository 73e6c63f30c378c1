// PNG snapshots: what is written reads back as the surface's or window's pixels.
#include <png.h>
#include <vekrt/png.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "runtime_test.h"

namespace {

// The file's pixels as R, G, B, A bytes; empty when it cannot be read.
std::vector<uint8_t> ReadPng(const std::string& path, unsigned* width, unsigned* height) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  std::vector<uint8_t> rgba;
  if (png_image_begin_read_from_file(&image, path.c_str())) {
    image.format = PNG_FORMAT_RGBA;
    rgba.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr)) rgba.clear();
    *width = image.width;
    *height = image.height;
  }
  png_image_free(&image);
  return rgba;
}

class PngTest : public DeviceTest {
 protected:
  std::string Path(const char* name) {
    return testing::TempDir() + "vekrt_" + name + ".png";
  }
};

TEST_F(PngTest, BackBufferAndWindowReadBackAsDrawn) {
  const D3DRECT left{0, 0, 320, 480};
  ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF204080, 1.0f, 0), D3D_OK);
  ASSERT_EQ(device->Clear(1, &left, D3DCLEAR_TARGET, 0xFFFF0000, 1.0f, 0), D3D_OK);
  Com<IDirect3DSurface8> back;
  ASSERT_EQ(device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, back.out()), D3D_OK);
  const std::string surfacePath = Path("back");
  ASSERT_TRUE(vrt::WriteSurfacePng(back.get(), surfacePath.c_str()));
  unsigned w = 0, h = 0;
  std::vector<uint8_t> px = ReadPng(surfacePath, &w, &h);
  ASSERT_EQ(px.size(), 640u * 480u * 4u);
  EXPECT_EQ(w, 640u);
  EXPECT_EQ(h, 480u);
  EXPECT_EQ(std::vector<uint8_t>(px.begin(), px.begin() + 4), (std::vector<uint8_t>{255, 0, 0, 255}));
  const size_t right = 4 * (100 * 640 + 400);
  EXPECT_EQ(std::vector<uint8_t>(px.begin() + right, px.begin() + right + 4),
            (std::vector<uint8_t>{0x20, 0x40, 0x80, 255}));

  ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
  const std::string windowPath = Path("window");
  ASSERT_TRUE(vrt::WriteWindowPng(window, windowPath.c_str()));
  EXPECT_EQ(ReadPng(windowPath, &w, &h), px);
  std::remove(surfacePath.c_str());
  std::remove(windowPath.c_str());
}

TEST_F(PngTest, SixteenBitSurfacesWidenAndKeepAlpha) {
  Com<IDirect3DSurface8> image;
  ASSERT_EQ(device->CreateImageSurface(2, 1, D3DFMT_A4R4G4B4, image.out()), D3D_OK);
  D3DLOCKED_RECT locked{};
  ASSERT_EQ(image->LockRect(&locked, nullptr, 0), D3D_OK);
  const uint16_t texels[2] = {0x8F0F, 0xF0F0};
  std::memcpy(locked.pBits, texels, sizeof(texels));
  image->UnlockRect();
  const std::string path = Path("a4r4g4b4");
  ASSERT_TRUE(vrt::WriteSurfacePng(image.get(), path.c_str()));
  unsigned w = 0, h = 0;
  EXPECT_EQ(ReadPng(path, &w, &h), (std::vector<uint8_t>{0xFF, 0x00, 0xFF, 0x88, 0x00, 0xFF, 0x00, 0xFF}));
  std::remove(path.c_str());
}

TEST_F(PngTest, RefusesWhatItCannotWrite) {
  EXPECT_FALSE(vrt::WriteSurfacePng(nullptr, Path("none").c_str()));
  EXPECT_FALSE(vrt::WriteWindowPng(reinterpret_cast<HWND>(0x12345), Path("none").c_str()));
  Com<IDirect3DSurface8> depth;
  ASSERT_EQ(device->CreateDepthStencilSurface(4, 4, D3DFMT_D24S8, D3DMULTISAMPLE_NONE, depth.out()),
            D3D_OK);
  EXPECT_FALSE(vrt::WriteSurfacePng(depth.get(), Path("depth").c_str()));
  const uint32_t pixel = 0xFFFFFFFF;
  EXPECT_FALSE(vrt::WritePng("/nonexistent-dir/x.png", 1, 1, &pixel, true));
}

}  // namespace
