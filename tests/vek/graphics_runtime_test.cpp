// Drawing surfaces whose opening fails part way: the error, the printed
// line, and nothing left behind.
#include <vek/vek.h>

#include "gd/device.h"
#include "graphics/graphics.h"
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
  void ExpectError(LONG code, const char* message) {
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
  ExpectError(-11, "malloc Graphics fail");
  EXPECT_EQ(ReadError().detail, static_cast<LONG>(sizeof(Graphics)));

  FailMalloc(1, 1);  // the record, then not its render target
  testing::internal::CaptureStdout();
  EXPECT_EQ(VekOpenChildWindowGraphics(device, child, 100, 100, 32), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "CreateChildWindowGraphics Failed: g->target=(RenderTarget*)Malloc(sizeof(RenderTarget))\n");
  ExpectError(-11, "malloc Graphics fail");
}

TEST_F(GraphicsFailureTest, Direct3DFailures) {
  vrt::FailCall("IDirect3DDevice8::CreateDepthStencilSurface", D3DERR_OUTOFVIDEOMEMORY);
  EXPECT_EQ(VekOpenGraphics(device), nullptr);
  ExpectError(-51, "CreateDepthStencilSurface fail");
  EXPECT_EQ(ReadError().detail, D3DERR_OUTOFVIDEOMEMORY);

  vrt::FailCall("IDirect3DDevice8::CreateDepthStencilSurface", D3DERR_OUTOFVIDEOMEMORY);
  testing::internal::CaptureStdout();
  EXPECT_EQ(VekOpenChildWindowGraphics(device, child, 100, 100, 16), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "CreateChildWindowGraphics Failed: CreateDepthStencilSurface\n");

  vrt::FailCall("IDirect3DDevice8::CreateAdditionalSwapChain", D3DERR_INVALIDCALL);
  testing::internal::CaptureStdout();
  EXPECT_EQ(VekOpenChildWindowGraphics(device, child, 100, 100, 16), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "CreateChildWindowGraphics Failed: CreateAdditionalSwapChain\n");
  ExpectError(-51, "CreateAdditionalSwapChain fail");

  vrt::FailCall("IDirect3DDevice8::CreateTexture", D3DERR_OUTOFVIDEOMEMORY);
  EXPECT_EQ(VekOpenTextureGraphics(device, 64, 64, D3DFMT_A8R8G8B8), nullptr);
  EXPECT_EQ(ReadError().message, "VekCreateRenderTarget fail");
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
  EXPECT_EQ(g->target->texture.texture.tex, nullptr);
  EXPECT_EQ(g->target->texture.texture.format, D3DFMT_X8R8G8B8);  // kept for the retry
  EXPECT_EQ(GraphicsResetHandler(g, false), 1);
  EXPECT_NE(g->target->color, nullptr);
  vrt::FailCall("IDirect3DDevice8::CreateAdditionalSwapChain", D3DERR_INVALIDCALL);
  EXPECT_EQ(GraphicsResetHandler(c, false), D3DERR_INVALIDCALL);
  EXPECT_EQ(GraphicsResetHandler(c, false), 1);
  EXPECT_NE(c->target->swapChain, nullptr);
  VekCloseGraphics(g);
  VekCloseGraphics(c);
}

}  // namespace
