// The texture record: creation from a DDS file image, blank and render-target
// textures, the lazy step and release, on either build's Direct3D 8.
#include "vektex/texture.h"

#include <vek/vek.h>

#include "gd/device.h"
#include "support/dds.h"
#include "support/diagnostics.h"
#include "support/platform_test.h"

namespace {

class TextureRecordTest : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    device = VekOpenGraphicsDevice(0, window, 0, 1, 0, 0, 0, 0);
    ASSERT_NE(device, nullptr);
    d3d = device->cache.device;
  }
  void TearDown() override {
    if (device) VekCloseGraphicsDevice(device);
    PlatformTest::TearDown();
  }
  // A record holding a copy of `file` as kept data, as an image has it.
  static VekTexture Pending(const std::vector<uint8_t>& file, UINT width, UINT height) {
    VekTexture t{};
    t.width = width;
    t.height = height;
    t.compression = 2;
    t.data = static_cast<BYTE*>(Malloc(static_cast<UINT>(file.size())));
    std::memcpy(t.data, file.data(), file.size());
    t.dataSize = static_cast<UINT>(file.size());
    return t;
  }
  GraphicsDevice* device = nullptr;
  IDirect3DDevice8* d3d = nullptr;
};

TEST_F(TextureRecordTest, PendingImageBecomesReadyOnFirstUse) {
  VekTexture t = Pending(testdds::SolidDxt1(64, 32, 0xF800), 64, 32);
  const UINT keptSize = t.dataSize;
  ASSERT_EQ(EnsureTexture(&t, d3d), TextureState::kReady);
  EXPECT_NE(t.tex, nullptr);
  EXPECT_EQ(t.data, nullptr);
  EXPECT_EQ(t.dataSize, keptSize);  // the old count stays
  EXPECT_EQ(t.format, D3DFMT_DXT1);
  EXPECT_EQ(t.width, 64u);
  EXPECT_EQ(t.height, 32u);
  EXPECT_EQ(t.uScale, 0.0f);  // the device took the size unchanged
  EXPECT_EQ(t.vScale, 0.0f);
  EXPECT_EQ(t.tex->GetLevelCount(), 1u);
  D3DSURFACE_DESC desc{};
  t.tex->GetLevelDesc(0, &desc);
  EXPECT_EQ(desc.Pool, D3DPOOL_MANAGED);
  float u = 1.0f, v = 0.5f;
  ScaleTexCoord(&t, &u, &v);
  EXPECT_EQ(u, 1.0f);
  EXPECT_EQ(v, 0.5f);
  EXPECT_EQ(EnsureTexture(&t, d3d), TextureState::kReady);

  EXPECT_EQ(ReleaseTexture(&t), 1);
  EXPECT_EQ(t.tex, nullptr);
  EXPECT_EQ(t.width, 0u);
  EXPECT_EQ(t.format, D3DFMT_UNKNOWN);
  EXPECT_EQ(t.dataSize, 0u);
  EXPECT_EQ(t.compression, 2);  // never touched here
  EXPECT_EQ(EnsureTexture(&t, d3d), TextureState::kReleased);
  EXPECT_EQ(ReleaseTexture(&t), 1);
  EXPECT_EQ(ReleaseTexture(nullptr), 0);
}

TEST_F(TextureRecordTest, UncompressedPixelsKeepTheirFormat) {
  VekTexture t = Pending(testdds::Solid32(3, 2, 0x80402010), 3, 2);
  ASSERT_EQ(EnsureTexture(&t, d3d), TextureState::kReady);
  EXPECT_EQ(t.format, D3DFMT_A8R8G8B8);
  D3DLOCKED_RECT locked{};
  ASSERT_EQ(t.tex->LockRect(0, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
  DWORD first = 0;
  std::memcpy(&first, locked.pBits, 4);
  EXPECT_EQ(first, 0x80402010u);
  t.tex->UnlockRect(0);
  ReleaseTexture(&t);
}

TEST_F(TextureRecordTest, FailuresKeepTheDataForTheNextTry) {
  // No size: nothing is attempted and no error recorded.
  VekTexture empty = Pending(testdds::SolidDxt1(4, 4, 0x07E0), 0, 4);
  EXPECT_EQ(CreateTextureFromMemory(&empty, d3d, empty.data, empty.dataSize, FALSE), 0);
  EXPECT_FALSE(ReadError().set);
  EXPECT_EQ(EnsureTexture(&empty, d3d), TextureState::kFailed);
  EXPECT_NE(empty.data, nullptr);
  ReleaseTexture(&empty);

  // Bytes that are no DDS file: the D3DX failure is recorded.
  std::vector<uint8_t> junk = testdds::SolidDxt1(8, 8, 0x001F);
  junk.resize(100);  // shorter than its header
  VekTexture broken = Pending(junk, 8, 8);
  EXPECT_EQ(EnsureTexture(&broken, d3d), TextureState::kFailed);
  const LastError e = ReadError();
  EXPECT_EQ(e.code, -51);
  EXPECT_EQ(e.message, Message(TexErr::kFromMemory));
  EXPECT_EQ(e.source, ".\\vektex");
  EXPECT_LT(e.detail, 0);
  EXPECT_EQ(broken.tex, nullptr);
  EXPECT_NE(broken.data, nullptr);
  EXPECT_EQ(broken.width, 8u);
  ReleaseTexture(&broken);
}

TEST_F(TextureRecordTest, BlankAndRenderTargetTextures) {
  VekTexture atlas{};
  ASSERT_EQ(CreateBlankTexture(&atlas, d3d, 256, 128, D3DFMT_A8R8G8B8), 1);
  EXPECT_EQ(atlas.width, 256u);
  EXPECT_EQ(atlas.format, D3DFMT_A8R8G8B8);
  EXPECT_GT(atlas.tex->GetLevelCount(), 1u);  // a full chain
  D3DSURFACE_DESC desc{};
  atlas.tex->GetLevelDesc(0, &desc);
  EXPECT_EQ(desc.Pool, D3DPOOL_MANAGED);

  VekTexture target{};
  ASSERT_EQ(CreateRenderTargetTexture(&target, d3d, 200, 100, D3DFMT_X8R8G8B8), 1);
  target.tex->GetLevelDesc(0, &desc);
  EXPECT_EQ(desc.Pool, D3DPOOL_DEFAULT);
  EXPECT_TRUE(desc.Usage & D3DUSAGE_RENDERTARGET);
  EXPECT_EQ(target.height, 100u);
  // Sizes the device rounds (or not) are recorded as the ratio of picture to level.
  if (desc.Width != 200) {
    EXPECT_FLOAT_EQ(target.uScale, 200.0f / static_cast<float>(desc.Width));
  } else {
    EXPECT_EQ(target.uScale, 0.0f);
  }

  VekTexture tooBig{};
  EXPECT_LT(CreateBlankTexture(&tooBig, d3d, 1u << 20, 4, D3DFMT_A8R8G8B8), 0);
  EXPECT_EQ(ReadError().message, Message(TexErr::kCreateTexture));
  EXPECT_LT(CreateRenderTargetTexture(&tooBig, d3d, 1u << 20, 4, D3DFMT_X8R8G8B8), 0);
  EXPECT_EQ(ReadError().message, Message(TexErr::kCreateTarget));
  EXPECT_EQ(tooBig.tex, nullptr);

  ReleaseTexture(&atlas);
  ReleaseTexture(&target);
}

}  // namespace
