// Drawing surfaces whose opening fails part way (the error, the printed
// line, nothing left behind), and a texture surface across a device reset.
#include <vek/vek.h>

#include <vector>

#include "gd/device.h"
#include "graphics/frame.h"
#include "graphics/graphics.h"
#include "support/diagnostics.h"
#include "support/surface_test.h"
#include "support/vek_test.h"

namespace {

class GraphicsFailureTest : public VekTest {
 protected:
  void SetUp() override {
    VekTest::SetUp();
    device = VekOpenGraphicsDevice(0, window, 0, 1, 0, 0, 32, 0);
    ASSERT_NE(device, nullptr);
    child = vrt::CreateVirtualWindow(0, 0, 100, 100);
  }
  void TearDown() override {
    vrt::DestroyVirtualWindow(child);
    if (device) {
      EXPECT_EQ(device->graphicsList.count, 0u);
      VekCloseGraphicsDevice(device);
    }
    VekTest::TearDown();
  }
  void ExpectError(LONG code, const std::string& message) {
    const LastError e = ReadError();
    EXPECT_EQ(e.code, code);
    EXPECT_EQ(e.message, message);
    EXPECT_EQ(e.source, ".\\graphics");
  }
  GraphicsDevice* device = nullptr;
  HWND child = nullptr;
};

TEST_F(GraphicsFailureTest, AllocationFailures) {
  FailMalloc(0, 1);
  EXPECT_EQ(VekOpenGraphics(device), nullptr);
  ExpectError(-11, Message(GraphicsErr::kMallocGraphics));
  EXPECT_EQ(ReadError().detail, static_cast<LONG>(sizeof(Graphics)));

  FailMalloc(1, 1);  // the record, then not its render target
  testing::internal::CaptureStdout();
  EXPECT_EQ(VekOpenChildWindowGraphics(device, child, 100, 100, 32), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), Printed(GraphicsLine::kChildMallocTarget));
  ExpectError(-11, Message(GraphicsErr::kMallocTarget));
}

TEST_F(GraphicsFailureTest, Direct3DFailures) {
  vrt::FailCall("IDirect3DDevice8::CreateDepthStencilSurface", D3DERR_OUTOFVIDEOMEMORY);
  EXPECT_EQ(VekOpenGraphics(device), nullptr);
  ExpectError(-51, Message(GraphicsErr::kDepth));
  EXPECT_EQ(ReadError().detail, D3DERR_OUTOFVIDEOMEMORY);

  vrt::FailCall("IDirect3DDevice8::CreateDepthStencilSurface", D3DERR_OUTOFVIDEOMEMORY);
  testing::internal::CaptureStdout();
  EXPECT_EQ(VekOpenChildWindowGraphics(device, child, 100, 100, 16), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), Printed(GraphicsLine::kChildDepth));

  vrt::FailCall("IDirect3DDevice8::CreateAdditionalSwapChain", D3DERR_INVALIDCALL);
  testing::internal::CaptureStdout();
  EXPECT_EQ(VekOpenChildWindowGraphics(device, child, 100, 100, 16), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), Printed(GraphicsLine::kChildSwapChain));
  ExpectError(-51, Message(GraphicsErr::kSwapChain));

  vrt::FailCall("IDirect3DDevice8::CreateTexture", D3DERR_OUTOFVIDEOMEMORY);
  EXPECT_EQ(VekOpenTextureGraphics(device, 64, 64, D3DFMT_A8R8G8B8), nullptr);
  EXPECT_EQ(ReadError().message, Message(TexErr::kCreateTarget));
  EXPECT_EQ(ReadError().source, ".\\vektex");
}

TEST_F(GraphicsFailureTest, ARebuildThatFailsIsReportedAndRetried) {
  HVEKGRAPHICS g = VekOpenTextureGraphics(device, 32, 32, D3DFMT_X8R8G8B8);
  ASSERT_NE(g, nullptr);
  HVEKGRAPHICS c = VekOpenChildWindowGraphics(device, child, 100, 100, 16);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->target->present.BackBufferFormat, D3DFMT_R5G6B5);
  ASSERT_EQ(GraphicsResetHandler(g, true), 1);
  ASSERT_EQ(GraphicsResetHandler(c, true), 1);
  vrt::FailCall("IDirect3DDevice8::CreateTexture", D3DERR_OUTOFVIDEOMEMORY);
  EXPECT_LT(GraphicsResetHandler(g, false), 0);
  EXPECT_EQ(g->target->texture.tex, nullptr);
  EXPECT_EQ(g->target->texture.format, D3DFMT_X8R8G8B8);  // kept for the retry
  EXPECT_EQ(GraphicsResetHandler(g, false), 1);
  EXPECT_NE(g->target->color, nullptr);
  vrt::FailCall("IDirect3DDevice8::CreateAdditionalSwapChain", D3DERR_INVALIDCALL);
  EXPECT_EQ(GraphicsResetHandler(c, false), D3DERR_INVALIDCALL);
  EXPECT_EQ(GraphicsResetHandler(c, false), 1);
  EXPECT_NE(c->target->swapChain, nullptr);
  VekCloseGraphics(g);
  VekCloseGraphics(c);
}

// Pixels of a texture surface's colour surface (32-bit formats), read through
// a copy into an image surface; empty when it cannot be read.
std::vector<DWORD> SurfacePixels(IDirect3DDevice8* d3d, IDirect3DSurface8* surface) {
  std::vector<DWORD> pixels;
  D3DSURFACE_DESC desc{};
  if (!surface || FAILED(surface->GetDesc(&desc))) return pixels;
  IDirect3DSurface8* copy = nullptr;
  D3DLOCKED_RECT locked{};
  if (SUCCEEDED(d3d->CreateImageSurface(desc.Width, desc.Height, desc.Format, &copy)) &&
      SUCCEEDED(d3d->CopyRects(surface, nullptr, 0, copy, nullptr)) &&
      SUCCEEDED(copy->LockRect(&locked, nullptr, D3DLOCK_READONLY))) {
    for (UINT y = 0; y < desc.Height; ++y) {
      const auto* row =
          reinterpret_cast<const DWORD*>(static_cast<const BYTE*>(locked.pBits) + y * locked.Pitch);
      pixels.insert(pixels.end(), row, row + desc.Width);
    }
    copy->UnlockRect();
  }
  if (copy) copy->Release();
  return pixels;
}

class TextureSurfaceResetTest : public WithWindowSurface<VekTest> {};

TEST_F(TextureSurfaceResetTest, ARebuiltTextureSurfaceIsEmptyWithItsSizeAndFormat) {
  HVEKGRAPHICS tg = VekOpenTextureGraphics(device, 48, 20, D3DFMT_A8R8G8B8);
  ASSERT_NE(tg, nullptr);
  IDirect3DDevice8* d3d = device->cache.device;
  ASSERT_EQ(VekBeginRender(tg), D3D_OK);
  VekClear(tg, 0xFF00FF00);
  auto* v = static_cast<BatchVertex*>(MemMalloc(&tg->frameMemory, 4 * sizeof(BatchVertex)));
  v[0] = {0, 0, 0.5f, 0xFFFF0000, 0, 0};
  v[1] = {24, 0, 0.5f, 0xFFFF0000, 1, 0};
  v[2] = {24, 20, 0.5f, 0xFFFF0000, 1, 1};
  v[3] = {0, 20, 0.5f, 0xFFFF0000, 0, 1};
  ASSERT_NE(SubmitDrawItem(tg, DRAW_QUADS, nullptr, v, 4, DRAW_OPAQUE), nullptr);
  EXPECT_EQ(VekEndRender(tg), 0);
  // The surface drawn on the window: its texture stays bound to stage 0, and
  // the window's depth surface stays set; neither may block the reset.
  ASSERT_EQ(VekBeginRender(g), D3D_OK);
  auto* w = static_cast<BatchVertex*>(MemMalloc(&g->frameMemory, 4 * sizeof(BatchVertex)));
  for (int k = 0; k < 4; ++k) w[k] = v[k];
  ASSERT_NE(SubmitDrawItem(g, DRAW_QUADS, VekGetGraphicsTexture(tg), w, 4, 0), nullptr);
  EXPECT_EQ(VekEndRender(g), D3D_OK);
  EXPECT_NE(device->cache.textures[0], nullptr);
  std::vector<DWORD> px = SurfacePixels(d3d, tg->target->color);
  ASSERT_EQ(px.size(), 48u * 20u);
  EXPECT_EQ(px[0], 0xFFFF0000u);             // drawn
  EXPECT_EQ(px[19 * 48 + 47], 0xFF00FF00u);  // cleared

  vrt::LoseDevice(d3d);
  EXPECT_EQ(VekCheckGraphicsDevice(device), D3DERR_DEVICELOST);
  vrt::MakeDeviceResettable(d3d);
  ASSERT_EQ(VekCheckGraphicsDevice(device), 1);

  const VekTexture& texture = tg->target->texture;
  ASSERT_NE(texture.tex, nullptr);
  EXPECT_EQ(texture.format, D3DFMT_A8R8G8B8);
  EXPECT_EQ(VekGetGraphicsTexture(tg), &tg->target->texture);
  D3DSURFACE_DESC desc{};
  ASSERT_NE(tg->target->color, nullptr);
  ASSERT_EQ(tg->target->color->GetDesc(&desc), D3D_OK);
  EXPECT_EQ(desc.Format, D3DFMT_A8R8G8B8);
  EXPECT_EQ(desc.Usage & D3DUSAGE_RENDERTARGET, static_cast<DWORD>(D3DUSAGE_RENDERTARGET));
  EXPECT_GE(desc.Width, 48u);
  EXPECT_GE(desc.Height, 20u);
  EXPECT_EQ(tg->target->width, 48u);
  EXPECT_EQ(tg->target->height, 20u);
  // Nothing of the old picture: every texel transparent black.
  px = SurfacePixels(d3d, tg->target->color);
  ASSERT_EQ(px.size(), static_cast<size_t>(desc.Width) * desc.Height);
  size_t nonEmpty = 0;
  for (DWORD p : px) nonEmpty += p != 0;
  EXPECT_EQ(nonEmpty, 0u);

  // And it is a live target again.
  ASSERT_EQ(VekBeginRender(tg), D3D_OK);
  VekClear(tg, 0xFF0000FF);
  EXPECT_EQ(VekEndRender(tg), 0);
  ASSERT_EQ(VekBeginRender(g), D3D_OK);
  EXPECT_EQ(VekEndRender(g), D3D_OK);
  EXPECT_EQ(SurfacePixels(d3d, tg->target->color).at(0), 0xFF0000FFu);
  EXPECT_EQ(VekCloseGraphics(tg), 1);
}

}  // namespace
