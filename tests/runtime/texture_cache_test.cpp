// Decoded texels are kept between draws: every way of writing a texture
// level (locks of the texture and of its surface, CopyRects, UpdateTexture,
// rendering into it, GetFrontBuffer) must show in the next draw, and a new
// texture never draws with an old one's texels.
#include <vector>

#include "raster_test.h"

namespace {

constexpr UINT kSide = 4;

class TextureCacheTest : public RasterTest {
 protected:
  // The colour (without alpha) a draw samples from texel (x, y) of `t`,
  // which is w x h: a small quad whose corners all address that texel.
  uint32_t Sampled(IDirect3DTexture8* t, UINT x, UINT y, UINT w = kSide, UINT h = kSide) {
    EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0), D3D_OK);
    EXPECT_EQ(device->SetTexture(0, t), D3D_OK);
    std::vector<Vertex> q = Quad(-0.5f, -0.5f, 3.5f, 3.5f, 0xFFFFFFFF);
    for (Vertex& c : q) {
      c.u = (static_cast<float>(x) + 0.5f) / static_cast<float>(w);
      c.v = (static_cast<float>(y) + 0.5f) / static_cast<float>(h);
    }
    EXPECT_EQ(Draw(q), D3D_OK);
    device->SetTexture(0, nullptr);
    return At(ReadBack(), 1, 1) & 0xFFFFFF;
  }

  static void Put(IDirect3DSurface8* level, UINT x, UINT y, uint32_t colour) {
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(level->LockRect(&lr, nullptr, 0), D3D_OK);
    std::memcpy(static_cast<BYTE*>(lr.pBits) + y * lr.Pitch + 4 * x, &colour, 4);
    ASSERT_EQ(level->UnlockRect(), D3D_OK);
  }

  IDirect3DTexture8* Solid(uint32_t colour, D3DPOOL pool = D3DPOOL_MANAGED) {
    IDirect3DTexture8* t = nullptr;
    EXPECT_EQ(device->CreateTexture(kSide, kSide, 1, 0, D3DFMT_A8R8G8B8, pool, &t), D3D_OK);
    if (!t) return nullptr;
    Com<IDirect3DSurface8> level;
    EXPECT_EQ(t->GetSurfaceLevel(0, level.out()), D3D_OK);
    for (UINT y = 0; y < kSide; ++y)
      for (UINT x = 0; x < kSide; ++x) Put(level.get(), x, y, colour);
    return t;
  }
};

TEST_F(TextureCacheTest, LocksOfTheTextureAndOfItsSurfaceShowInTheNextDraw) {
  Com<IDirect3DTexture8> tex;
  tex.attach(Solid(0xFF102030));
  ASSERT_TRUE(tex);
  EXPECT_EQ(Sampled(tex.get(), 1, 2), 0x102030u);
  EXPECT_EQ(Sampled(tex.get(), 1, 2), 0x102030u);  // drawn from kept texels

  D3DLOCKED_RECT lr{};
  ASSERT_EQ(tex->LockRect(0, &lr, nullptr, 0), D3D_OK);
  const uint32_t blue = 0xFF0000F0;
  std::memcpy(static_cast<BYTE*>(lr.pBits) + 2 * lr.Pitch + 4, &blue, 4);
  ASSERT_EQ(tex->UnlockRect(0), D3D_OK);
  EXPECT_EQ(Sampled(tex.get(), 1, 2), 0x0000F0u);
  EXPECT_EQ(Sampled(tex.get(), 0, 0), 0x102030u);

  // Drawn while the level is locked: what the lock has written so far.
  Com<IDirect3DSurface8> level;
  ASSERT_EQ(tex->GetSurfaceLevel(0, level.out()), D3D_OK);
  ASSERT_EQ(level->LockRect(&lr, nullptr, 0), D3D_OK);
  const uint32_t green = 0xFF00C000;
  std::memcpy(lr.pBits, &green, 4);
  EXPECT_EQ(Sampled(tex.get(), 0, 0), 0x00C000u);
  const uint32_t red = 0xFFE00000;
  std::memcpy(lr.pBits, &red, 4);
  EXPECT_EQ(Sampled(tex.get(), 0, 0), 0xE00000u);
  ASSERT_EQ(level->UnlockRect(), D3D_OK);
  EXPECT_EQ(Sampled(tex.get(), 0, 0), 0xE00000u);
  Put(level.get(), 0, 0, 0xFF445566);
  EXPECT_EQ(Sampled(tex.get(), 0, 0), 0x445566u);
}

TEST_F(TextureCacheTest, CopiesIntoALevelShowInTheNextDraw) {
  Com<IDirect3DTexture8> tex, staging, shown;
  tex.attach(Solid(0xFF102030));
  ASSERT_TRUE(tex);
  EXPECT_EQ(Sampled(tex.get(), 3, 3), 0x102030u);
  Com<IDirect3DSurface8> image, level;
  ASSERT_EQ(device->CreateImageSurface(kSide, kSide, D3DFMT_A8R8G8B8, image.out()), D3D_OK);
  Put(image.get(), 3, 3, 0xFF708090);
  ASSERT_EQ(tex->GetSurfaceLevel(0, level.out()), D3D_OK);
  ASSERT_EQ(device->CopyRects(image.get(), nullptr, 0, level.get(), nullptr), D3D_OK);
  EXPECT_EQ(Sampled(tex.get(), 3, 3), 0x708090u);

  // UpdateTexture from system memory into a default-pool texture, twice.
  staging.attach(Solid(0xFFAA0000, D3DPOOL_SYSTEMMEM));
  ASSERT_TRUE(staging);
  ASSERT_EQ(device->CreateTexture(kSide, kSide, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT,
                                  shown.out()),
            D3D_OK);
  EXPECT_EQ(Sampled(shown.get(), 2, 1), 0u);
  ASSERT_EQ(device->UpdateTexture(staging.get(), shown.get()), D3D_OK);
  EXPECT_EQ(Sampled(shown.get(), 2, 1), 0xAA0000u);
  Com<IDirect3DSurface8> stagingLevel;
  ASSERT_EQ(staging->GetSurfaceLevel(0, stagingLevel.out()), D3D_OK);
  Put(stagingLevel.get(), 2, 1, 0xFF0000AA);
  EXPECT_EQ(Sampled(shown.get(), 2, 1), 0xAA0000u);  // not updated yet
  ASSERT_EQ(device->UpdateTexture(staging.get(), shown.get()), D3D_OK);
  EXPECT_EQ(Sampled(shown.get(), 2, 1), 0x0000AAu);
}

TEST_F(TextureCacheTest, RenderingIntoATextureShowsInTheNextDraw) {
  Com<IDirect3DTexture8> target;
  ASSERT_EQ(device->CreateTexture(kSide, kSide, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8,
                                  D3DPOOL_DEFAULT, target.out()),
            D3D_OK);
  Com<IDirect3DSurface8> level, back;
  ASSERT_EQ(target->GetSurfaceLevel(0, level.out()), D3D_OK);
  ASSERT_EQ(device->GetRenderTarget(back.out()), D3D_OK);
  auto into = [&](auto&& draw) {
    ASSERT_EQ(device->SetRenderTarget(level.get(), nullptr), D3D_OK);
    draw();
    ASSERT_EQ(device->SetRenderTarget(back.get(), nullptr), D3D_OK);
    Ortho(640, 480);
  };
  into([&] { EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF123456, 1.0f, 0), D3D_OK); });
  EXPECT_EQ(Sampled(target.get(), 1, 1), 0x123456u);
  into([&] {
    Ortho(kSide, kSide);
    EXPECT_EQ(Draw(Quad(-0.5f, -0.5f, kSide - 0.5f, kSide - 0.5f, 0xFF654321)), D3D_OK);
  });
  EXPECT_EQ(Sampled(target.get(), 1, 1), 0x654321u);
}

TEST_F(TextureCacheTest, TheFrontBufferReadIntoALevelShowsInTheNextDraw) {
  const SIZE desktop = vrt::DesktopSize();
  Com<IDirect3DTexture8> tex;
  ASSERT_EQ(device->CreateTexture(static_cast<UINT>(desktop.cx), static_cast<UINT>(desktop.cy), 1,
                                  0, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, tex.out()),
            D3D_OK);
  // The window's client area starts at (10, 20) on the desktop.
  const UINT w = static_cast<UINT>(desktop.cx), h = static_cast<UINT>(desktop.cy);
  EXPECT_EQ(Sampled(tex.get(), 15, 25, w, h), 0u);
  ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF3366CC, 1.0f, 0), D3D_OK);
  ASSERT_EQ(device->EndScene(), D3D_OK);
  ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
  ASSERT_EQ(device->BeginScene(), D3D_OK);
  Com<IDirect3DSurface8> level;
  ASSERT_EQ(tex->GetSurfaceLevel(0, level.out()), D3D_OK);
  ASSERT_EQ(device->GetFrontBuffer(level.get()), D3D_OK);
  EXPECT_EQ(Sampled(tex.get(), 15, 25, w, h), 0x3366CCu);
}

TEST_F(TextureCacheTest, ANewTextureNeverDrawsWithAReleasedOnesTexels) {
  for (uint32_t colour : {0xFF112233u, 0xFF445566u, 0xFF778899u}) {
    Com<IDirect3DTexture8> tex;
    tex.attach(Solid(colour));
    ASSERT_TRUE(tex);
    EXPECT_EQ(Sampled(tex.get(), 2, 2), colour & 0xFFFFFF);
  }
}

}  // namespace
