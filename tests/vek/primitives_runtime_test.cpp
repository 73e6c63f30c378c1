// The primitives on the runtime's controlled devices: power-of-two texture
// devices (padded images, texture surfaces, untextured shapes), injected
// texture-creation failures, textures released by a device reset, and the
// calls that reach Direct3D.
#include <vek/vek.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "gd/device.h"
#include "graphics/frame.h"
#include "graphics/graphics.h"
#include "support/dds.h"
#include "support/diagnostics.h"
#include "support/frame_probe.h"
#include "support/kept_image.h"
#include "support/vek_test.h"
#include "vekimage/image.h"

namespace {

class PrimitivesRuntimeTest : public VekTest {
 protected:
  void TearDown() override {
    for (VekImage* image : images_) {
      ReleaseTexture(&image->texture);
      Free(image);
    }
    for (HVEKGRAPHICS s : surfaces_) VekCloseGraphics(s);
    if (device) VekCloseGraphicsDevice(device);
    VekTest::TearDown();
  }
  // A device (with a window surface) whose adapter may require power-of-two
  // textures.
  void Open(bool pow2) {
    UseDefaultAdapter(pow2);
    device = VekOpenGraphicsDevice(0, window, 0, 1, 0, 0, 32, 0);
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(device->texturesPow2, pow2 ? 1 : 0);
    g = Surface(VekOpenGraphics(device));
    ASSERT_NE(g, nullptr);
  }
  HVEKGRAPHICS Surface(HVEKGRAPHICS s) {
    if (s) surfaces_.push_back(s);
    return s;
  }
  // A pending image of one colour; content scales as the caller gives them.
  VekImage* Image(UINT width, UINT height, DWORD colour, float contentX = 1.0f,
                  float contentY = 1.0f) {
    const std::vector<uint8_t> file = testdds::Solid32(width, height, colour);
    auto* image = static_cast<VekImage*>(Malloc(sizeof(VekImage)));
    EXPECT_TRUE(KeepFile(image, file));
    image->texture.width = width;
    image->texture.height = height;
    image->texture.compression = 1;
    image->texture.contentScaleX = contentX;
    image->texture.contentScaleY = contentY;
    images_.push_back(image);
    return image;
  }
  // A quad from (x0, y0) to (x1, y1) with coordinates 0..1 on `on`.
  static DrawItem* Quad(HVEKGRAPHICS on, float x0, float y0, float x1, float y1, DWORD colour,
                        HVEKTEXTURE tex) {
    return static_cast<DrawItem*>(VekDrawQuad(on, x0, y0, 0.5f, colour, 0, 0, x1, y0, 0.5f, colour,
                                              1, 0, x1, y1, 0.5f, colour, 1, 1, x0, y1, 0.5f,
                                              colour, 0, 1, 0, tex));
  }
  DWORD Pixel(int x, int y) {
    const std::vector<DWORD> px = ReadBackBufferPixels(device);
    return px.empty() ? 0xDEADBEEF : px[static_cast<size_t>(y) * 640 + x] & 0xFFFFFF;
  }
  GraphicsDevice* device = nullptr;
  HVEKGRAPHICS g = nullptr;
  std::vector<VekImage*> images_;
  std::vector<HVEKGRAPHICS> surfaces_;
};

TEST_F(PrimitivesRuntimeTest, PaddedImagesScaleByLevelThenByContent) {
  Open(true);
  // A 100 x 60 picture on a 128 x 64 level, itself padded from 75 x 30.
  VekImage* image = Image(100, 60, 0xFFFFFFFF, 0.75f, 0.5f);
  DrawItem* q = Quad(g, 0, 0, 75, 30, 0xFFFFFFFF, &image->texture);
  ASSERT_NE(q, nullptr);
  ASSERT_EQ(image->texture.uScale, 0.78125f);
  ASSERT_EQ(image->texture.vScale, 0.9375f);
  EXPECT_EQ(q->vertices[2].u, 0.78125f * 0.75f);
  EXPECT_EQ(q->vertices[2].v, 0.9375f * 0.5f);
  EXPECT_EQ(q->vertices[1].u, 0.78125f * 0.75f);
  EXPECT_EQ(q->vertices[1].v, 0.0f);

  // Level factors 0.5 and 0.25 take u = v = 1 to 0.5, 0.25 first; the
  // content scales follow. Each product is a float of its own.
  image->texture.uScale = 0.5f;
  image->texture.vScale = 0.25f;
  image->texture.contentScaleX = 0.1f;
  image->texture.contentScaleY = 1.0f / 3.0f;
  const float u1 = 0.3f, v1 = 0.7f;
  DrawItem* t =
      static_cast<DrawItem*>(VekDrawTri(g, 0, 0, 0.5f, 0xFFFFFFFF, 1, 1, 1, 0, 0.5f, 0xFFFFFFFF, u1,
                                        v1, 0, 1, 0.5f, 0xFFFFFFFF, 0, 0, 0, &image->texture));
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->vertices[0].u, 0.05f);  // 0.5 x 0.1 as floats
  EXPECT_EQ(t->vertices[0].v, 0.25f * (1.0f / 3.0f));
  volatile float lu = u1 * 0.5f, lv = v1 * 0.25f;
  EXPECT_EQ(t->vertices[1].u, lu * 0.1f);
  EXPECT_EQ(t->vertices[1].v, lv * (1.0f / 3.0f));
  FlushDrawItems(g);
}

TEST_F(PrimitivesRuntimeTest, UntexturedShapesCarryNoCoordinatesOnPow2Devices) {
  Open(true);
  DrawItem* q = static_cast<DrawItem*>(
      VekDrawQuad(g, 10, 10, 0.5f, 0xFF3060C0, 0.5f, 0.5f, 40, 10, 0.5f, 0xFF3060C0, 1, 0.25f, 40,
                  40, 0.5f, 0xFF3060C0, 1, 1, 10, 40, 0.5f, 0xFF3060C0, 0.75f, 1, 0, nullptr));
  DrawItem* t = static_cast<DrawItem*>(VekDrawTri(g, 50, 10, 0.5f, 0xFF3060C0, 0.5f, 0.5f, 80, 10,
                                                  0.5f, 0xFF3060C0, 1, 1, 50, 40, 0.5f, 0xFF3060C0,
                                                  1, 1, 0, nullptr));
  ASSERT_NE(q, nullptr);
  ASSERT_NE(t, nullptr);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(q->vertices[i].u, 0.0f);
    EXPECT_EQ(q->vertices[i].v, 0.0f);
  }
  for (int i = 0; i < 3; ++i) EXPECT_EQ(t->vertices[i].u + t->vertices[i].v, 0.0f);
  ASSERT_EQ(VekBeginRender(g), D3D_OK);
  VekClear(g, 0xFF000000);
  EXPECT_EQ(VekEndRender(g), D3D_OK);
  EXPECT_EQ(Pixel(25, 25), 0x3060C0u);  // the colour alone
  EXPECT_EQ(Pixel(55, 15), 0x3060C0u);
}

TEST_F(PrimitivesRuntimeTest, TextureSurfacesDrawWhollyOnPow2DevicesAfterAReset) {
  Open(true);
  HVEKGRAPHICS tg = Surface(VekOpenTextureGraphics(device, 100, 60, D3DFMT_A8R8G8B8));
  ASSERT_NE(tg, nullptr);
  HVEKTEXTURE tex = VekGetGraphicsTexture(tg);
  EXPECT_EQ(tex->uScale, 100.0f / 128.0f);  // the level was padded to 128 x 64
  // The texture comes back from a reset (made again, empty) and still draws whole.
  ASSERT_EQ(VekResetGraphicsDevice(device, 1, 0, 0, 32, 0), 1);
  ASSERT_NE(tex->tex, nullptr);
  const auto* record = reinterpret_cast<const VekImage*>(tex);
  EXPECT_EQ(record->texture.contentScaleX, 1.0f);
  EXPECT_EQ(record->texture.contentScaleY, 1.0f);
  // The depth surface covers the whole padded colour surface, so the
  // surface can be rendered into at all.
  D3DSURFACE_DESC depth{};
  tg->target->depth->GetDesc(&depth);
  EXPECT_EQ(depth.Width, 128u);
  EXPECT_EQ(depth.Height, 64u);

  // Left half red, right half green inside the surface, then the surface on
  // the window at 1:1.
  ClearError();
  ASSERT_EQ(VekBeginRender(tg), D3D_OK);
  ASSERT_FALSE(ReadError().set) << ReadError().message;
  VekClear(tg, 0xFFFF0000);
  ASSERT_NE(Quad(tg, 50, 0, 100, 60, 0xFF00FF00, nullptr), nullptr);
  EXPECT_EQ(VekEndRender(tg), 0);
  ASSERT_EQ(VekBeginRender(g), D3D_OK);
  VekClear(g, 0xFF000000);
  ASSERT_NE(Quad(g, 200, 100, 300, 160, 0xFFFFFFFF, tex), nullptr);
  EXPECT_EQ(VekEndRender(g), D3D_OK);
  EXPECT_EQ(Pixel(200, 100), 0xFF0000u);
  EXPECT_EQ(Pixel(249, 159), 0xFF0000u);
  EXPECT_EQ(Pixel(250, 100), 0x00FF00u);
  EXPECT_EQ(Pixel(299, 159), 0x00FF00u);
  EXPECT_EQ(Pixel(300, 130), 0u);  // nothing of the level's padding shows
  EXPECT_EQ(Pixel(250, 160), 0u);
}

TEST_F(PrimitivesRuntimeTest, SurfaceTexturesReleasedByAResetDrawNothingUntilRestored) {
  Open(false);
  HVEKGRAPHICS tg = Surface(VekOpenTextureGraphics(device, 16, 16, D3DFMT_A8R8G8B8));
  ASSERT_NE(tg, nullptr);
  HVEKTEXTURE tex = VekGetGraphicsTexture(tg);
  vrt::FailCall("IDirect3DDevice8::Reset", D3DERR_INVALIDCALL);
  ASSERT_LT(VekResetGraphicsDevice(device, 1, 0, 0, 32, 0), 0);
  ASSERT_EQ(tex->tex, nullptr);

  testing::internal::CaptureStdout();
  EXPECT_EQ(Quad(g, 0, 0, 16, 16, 0xFFFFFFFF, tex), nullptr);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, Printed(GraphicsLine::kTextureReleased, "VekDrawQuad", static_cast<void*>(tex)));
  EXPECT_EQ(PendingItemCount(g), 0u);
  EXPECT_NE(tex->format, 0);  // the record is left as the reset left it

  ASSERT_EQ(VekResetGraphicsDevice(device, 1, 0, 0, 32, 0), 1);
  DrawItem* item = Quad(g, 0, 0, 16, 16, 0xFFFFFFFF, tex);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->vertices[2].u, 1.0f);
  FlushDrawItems(g);
}

TEST_F(PrimitivesRuntimeTest, FailedCreationIsRetriedByTheNextDraw) {
  Open(false);
  VekImage* image = Image(8, 8, 0xFF00FFFF);
  vrt::FailCall("IDirect3DDevice8::CreateTexture", E_OUTOFMEMORY);
  testing::internal::CaptureStdout();
  EXPECT_EQ(VekDrawTri(g, 0, 0, 0.5f, 0xFFFFFFFF, 0, 0, 8, 0, 0.5f, 0xFFFFFFFF, 1, 0, 0, 8, 0.5f,
                       0xFFFFFFFF, 0, 1, 0, &image->texture),
            nullptr);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out,
            Printed(GraphicsLine::kTextureFailed, "VekDrawTri", static_cast<void*>(image), -51));
  const LastError e = ReadError();
  EXPECT_EQ(e.detail, E_OUTOFMEMORY);
  EXPECT_EQ(e.source, ".\\vektex");
  EXPECT_NE(image->texture.data, nullptr);
  EXPECT_EQ(PendingItemCount(g), 0u);

  ASSERT_EQ(VekBeginRender(g), D3D_OK);
  VekClear(g, 0xFF000000);
  EXPECT_NE(Quad(g, 10, 10, 18, 18, 0xFFFFFFFF, &image->texture), nullptr);
  EXPECT_EQ(image->texture.data, nullptr);
  EXPECT_EQ(VekEndRender(g), D3D_OK);
  EXPECT_EQ(Pixel(12, 12), 0x00FFFFu);
}

TEST_F(PrimitivesRuntimeTest, OnlyTheFirstTexturedDrawReachesDirect3D) {
  Open(false);
  VekImage* image = Image(4, 4, 0xFFFFFFFF);
  const float curve[4][3] = {{0, 0, 0}, {1, 1, 0}, {2, 2, 0}, {3, 3, 0}};
  ASSERT_EQ(VekBeginRender(g), D3D_OK);
  vrt::ClearCallLog();
  VekDrawPoint(g, 1, 1, 0.5f, 0xFFFFFFFF, 0);
  VekDrawLine(g, 1, 1, 0.5f, 0xFFFFFFFF, 5, 5, 0.5f, 0xFFFFFFFF, 0);
  VekDrawBezier(g, curve[0][0], curve[0][1], curve[0][2], curve[1][0], curve[1][1], curve[1][2],
                curve[2][0], curve[2][1], curve[2][2], curve[3][0], curve[3][1], curve[3][2],
                0xFFFFFFFF, 0.1f, 0);
  VekDrawTri(g, 0, 0, 0.5f, 0xFFFFFFFF, 0, 0, 4, 0, 0.5f, 0xFFFFFFFF, 1, 0, 0, 4, 0.5f, 0xFFFFFFFF,
             0, 1, 0, nullptr);
  const size_t untextured = vrt::CallLog().size();
  Quad(g, 0, 0, 4, 4, 0xFFFFFFFF, &image->texture);
  const size_t creations = vrt::CountCalls("IDirect3DDevice8::CreateTexture");
  Quad(g, 0, 0, 4, 4, 0xFFFFFFFF, &image->texture);
  VekDrawTri(g, 0, 0, 0.5f, 0xFFFFFFFF, 0, 0, 4, 0, 0.5f, 0xFFFFFFFF, 1, 0, 0, 4, 0.5f, 0xFFFFFFFF,
             0, 1, 0, &image->texture);
  EXPECT_EQ(untextured, 0u);
  EXPECT_GE(creations, 1u);
  EXPECT_EQ(vrt::CountCalls("IDirect3DDevice8::CreateTexture"), creations);
  EXPECT_EQ(vrt::CountCalls("IDirect3DDevice8::DrawPrimitive"), 0u);
  EXPECT_EQ(PendingItemCount(g), 7u);
  EXPECT_EQ(VekEndRender(g), D3D_OK);
}

}  // namespace
