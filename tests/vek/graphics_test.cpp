// Drawing surfaces on either build's Direct3D 8: their targets, their life
// around a device reset, and closing.
#include "graphics/graphics.h"

#include <vek/vek.h>

#include "gd/device.h"
#include "gd/state_cache.h"
#include "support/platform_test.h"
#include "support/test_window.h"

namespace {

class GraphicsTest : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    device = VekOpenGraphicsDevice(0, window, 0, 1, 0, 0, 32, 0);
    ASSERT_NE(device, nullptr);
  }
  void TearDown() override {
    if (device) VekCloseGraphicsDevice(device);
    PlatformTest::TearDown();
  }
  static D3DSURFACE_DESC Desc(IDirect3DSurface8* surface) {
    D3DSURFACE_DESC desc{};
    if (surface) surface->GetDesc(&desc);
    return desc;
  }
  IDirect3DSurface8* BackBuffer() {
    IDirect3DSurface8* back = nullptr;
    device->cache.device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &back);
    if (back) back->Release();  // the device keeps it alive
    return back;
  }
  static void ExpectWholeClip(const Graphics* g, float width, float height) {
    EXPECT_EQ(g->clip[0], 0.0f);
    EXPECT_EQ(g->clip[1], 0.0f);
    EXPECT_EQ(g->clip[2], width);
    EXPECT_EQ(g->clip[3], height);
  }
  GraphicsDevice* device = nullptr;
};

TEST_F(GraphicsTest, WindowGraphicsFollowsTheBackBufferThroughResets) {
  HVEKGRAPHICS g = VekOpenGraphics(device);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(device->resetCallback, &GraphicsResetHandler);
  ASSERT_EQ(device->graphicsList.count, 1u);
  EXPECT_EQ(device->graphicsList.entries[0], g);
  EXPECT_EQ(g->target->color, BackBuffer());
  EXPECT_EQ(g->target->width, 640u);
  EXPECT_EQ(g->target->height, 480u);
  const D3DSURFACE_DESC depth = Desc(g->target->depth);
  EXPECT_EQ(depth.Format, D3DFMT_D24S8);
  EXPECT_EQ(depth.Width, 640u);
  ExpectWholeClip(g, 640, 480);  // a host that never sets a clip still draws

  ASSERT_EQ(VekResetGraphicsDevice(device, 1, 320, 200, 32, 0), 1);
  EXPECT_EQ(g->target->width, 320u);
  EXPECT_EQ(g->target->height, 200u);
  EXPECT_EQ(g->target->color, BackBuffer());
  EXPECT_EQ(Desc(g->target->depth).Width, 320u);
  ExpectWholeClip(g, 320, 200);
  EXPECT_EQ(VekCloseGraphics(g), 1);
  EXPECT_EQ(device->graphicsList.count, 0u);
}

TEST_F(GraphicsTest, WindowGraphicsTakesTheBackBufferNotTheCurrentTarget) {
  HVEKGRAPHICS texture = VekOpenTextureGraphics(device, 64, 64, D3DFMT_X8R8G8B8);
  ASSERT_NE(texture, nullptr);
  // As a frame on the texture surface leaves it.
  ASSERT_EQ(SetRenderTargetCached(&device->cache, texture->target->color, texture->target->depth),
            D3D_OK);
  HVEKGRAPHICS win = VekOpenGraphics(device);
  ASSERT_NE(win, nullptr);
  EXPECT_EQ(win->target->color, BackBuffer());
  EXPECT_EQ(win->target->width, 640u);
  // Back to the window's target before the texture surface goes away.
  SetRenderTargetCached(&device->cache, win->target->color, win->target->depth);
  VekCloseGraphics(texture);
  VekCloseGraphics(win);
}

TEST_F(GraphicsTest, TextureGraphicsIsRebuiltEmptyWithItsSizeAndFormat) {
  HVEKGRAPHICS g = VekOpenTextureGraphics(device, 128, 64, D3DFMT_A8R8G8B8);
  ASSERT_NE(g, nullptr);
  HVEKTEXTURE texture = VekGetGraphicsTexture(g);
  ASSERT_EQ(texture, &g->target->texture);
  ASSERT_NE(texture->tex, nullptr);
  EXPECT_EQ(texture->format, D3DFMT_A8R8G8B8);
  EXPECT_EQ(texture->width, 128u);
  D3DSURFACE_DESC level{};
  texture->tex->GetLevelDesc(0, &level);
  EXPECT_EQ(level.Pool, D3DPOOL_DEFAULT);
  EXPECT_EQ(Desc(g->target->color).Width, level.Width);
  ExpectWholeClip(g, 128, 64);

  ASSERT_EQ(VekResetGraphicsDevice(device, 1, 0, 0, 0, 0), 1);
  ASSERT_NE(texture->tex, nullptr);
  EXPECT_EQ(texture->format, D3DFMT_A8R8G8B8);
  EXPECT_EQ(texture->width, 128u);
  EXPECT_EQ(texture->height, 64u);
  EXPECT_NE(g->target->color, nullptr);
  EXPECT_NE(g->target->depth, nullptr);
  EXPECT_EQ(VekCloseGraphics(g), 1);
}

TEST_F(GraphicsTest, ChildWindowGraphicsHasItsOwnSwapChain) {
  HWND child = CreateTestWindow(200, 100);
  HVEKGRAPHICS g = VekOpenChildWindowGraphics(device, child, 200, 100, 24);
  ASSERT_NE(g, nullptr) << ReadError().message;
  ASSERT_NE(g->target->swapChain, nullptr);
  EXPECT_EQ(g->target->present.hDeviceWindow, child);
  // 24 bits is no choice of its own: the device's back-buffer format.
  EXPECT_EQ(g->target->present.BackBufferFormat, device->present.BackBufferFormat);
  EXPECT_EQ(Desc(g->target->color).Width, 200u);
  EXPECT_NE(g->target->color, BackBuffer());

  ASSERT_EQ(VekResetGraphicsDevice(device, 1, 0, 0, 0, 0), 1);
  EXPECT_NE(g->target->swapChain, nullptr);
  EXPECT_EQ(Desc(g->target->color).Height, 100u);
  EXPECT_EQ(VekCloseGraphics(g), 1);
  DestroyTestWindow(child);
}

TEST_F(GraphicsTest, StencilGraphicsSharesItsParentsTarget) {
  HVEKGRAPHICS parent = VekOpenGraphics(device);
  ASSERT_NE(parent, nullptr);
  HVEKGRAPHICS stencil = VekOpenStencilGraphics(parent);
  ASSERT_NE(stencil, nullptr);
  EXPECT_EQ(stencil->isStencil, 1);
  EXPECT_EQ(stencil->target, parent->target);
  EXPECT_EQ(stencil->device, device);
  EXPECT_EQ(device->graphicsList.count, 1u);  // not listed
  IDirect3DSurface8* color = parent->target->color;
  EXPECT_EQ(VekCloseGraphics(stencil), 1);
  EXPECT_EQ(parent->target->color, color);
  EXPECT_NE(parent->target->depth, nullptr);
  EXPECT_EQ(VekCloseGraphics(parent), 1);
}

TEST_F(GraphicsTest, NullHandles) {
  EXPECT_EQ(VekCloseGraphics(nullptr), 0);
  EXPECT_EQ(VekSaveGraphics(nullptr, nullptr, 0), -1);
  EXPECT_EQ(VekGetGraphicsTexture(nullptr), nullptr);
  EXPECT_EQ(VekOpenGraphics(nullptr), nullptr);
  EXPECT_EQ(VekOpenStencilGraphics(nullptr), nullptr);
}

// Degenerate surface requests, answered alike by the real Direct3D 8 and the
// runtime: a 0 x 0 texture surface and formats 0 and 0xFFFFFFFF go through
// D3DX's defaults (1 x 1, A8R8G8B8); a child window of null is the device's
// focus window. Each opens, draws a frame and closes.
TEST_F(GraphicsTest, DegenerateSurfaceRequestsOpenAsDirect3DAnswers) {
  struct Case {
    UINT w, h;
    DWORD format;
    D3DFORMAT level;
    UINT levelW, levelH;
  };
  for (const Case& c :
       {Case{0, 0, D3DFMT_A8R8G8B8, D3DFMT_A8R8G8B8, 1, 1}, Case{8, 8, 0, D3DFMT_A8R8G8B8, 8, 8},
        Case{8, 8, 0xFFFFFFFFu, D3DFMT_A8R8G8B8, 8, 8}}) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " " << c.format);
    Graphics* g = VekOpenTextureGraphics(device, c.w, c.h, c.format);
    ASSERT_NE(g, nullptr);
    const D3DSURFACE_DESC d = Desc(g->target->color);
    EXPECT_EQ(d.Format, c.level);
    EXPECT_EQ(d.Width, c.levelW);
    EXPECT_EQ(d.Height, c.levelH);
    EXPECT_GE(VekBeginRender(g), 0);
    EXPECT_GE(VekClear(g, 0xFF102030), 0);
    EXPECT_GE(VekEndRender(g), 0);
    EXPECT_EQ(VekCloseGraphics(g), 1);
  }
  // D3DX chose the format for 0 and 0xFFFFFFFF: the surface keeps being a
  // texture surface through a reset (it was once taken for a window one,
  // drawing into the back buffer from then on).
  for (DWORD format : {DWORD{0}, DWORD{0xFFFFFFFF}}) {
    Graphics* g = VekOpenTextureGraphics(device, 24, 0, format);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->target->texture.format, D3DFMT_A8R8G8B8);
    ASSERT_EQ(VekResetGraphicsDevice(device, 1, 0, 0, 0, 0), 1);
    ASSERT_NE(g->target->texture.tex, nullptr);
    EXPECT_NE(g->target->color, BackBuffer());
    EXPECT_EQ(Desc(g->target->color).Width, 24u);
    ExpectWholeClip(g, 24, 0);
    EXPECT_EQ(VekCloseGraphics(g), 1);
  }
  Graphics* child = VekOpenChildWindowGraphics(device, nullptr, 32, 16, 32);
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(Desc(child->target->color).Width, 32u);
  EXPECT_EQ(VekCloseGraphics(child), 1);
}

}  // namespace
