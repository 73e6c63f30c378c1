// The frame on either build's Direct3D 8: items sorted by depth and state,
// clipping, the stencil mask between a stencil surface and its parent, and
// saving a frame, all read back as pixels.
#include "graphics/frame.h"

#include <vek/vek.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "gd/device.h"
#include "graphics/graphics.h"
#include "support/platform_test.h"
#include "support/surface_test.h"

namespace {

class FrameTest : public WithWindowSurface<PlatformTest> {
 protected:
  // A quad from (x0, y0) to (x1, y1) in frame memory, as a primitive builds it.
  static DrawItem* Quad(Graphics* on, float x0, float y0, float x1, float y1, float z, DWORD colour,
                        DWORD flags = 0) {
    auto* v = static_cast<BatchVertex*>(MemMalloc(&on->frameMemory, 4 * sizeof(BatchVertex)));
    v[0] = {x0, y0, z, colour, 0, 0};
    v[1] = {x1, y0, z, colour, 1, 0};
    v[2] = {x1, y1, z, colour, 1, 1};
    v[3] = {x0, y1, z, colour, 0, 1};
    return SubmitDrawItem(on, DRAW_QUADS, nullptr, v, 4, flags);
  }
  // The back buffer's pixel (x, y) as X8R8G8B8 with the top byte dropped.
  DWORD Pixel(int x, int y) {
    const std::vector<DWORD> px = ReadBackBufferPixels(device);
    return px.empty() ? 0xDEADBEEF : px[static_cast<size_t>(y) * 640 + x] & 0xFFFFFF;
  }
  static void ExpectNear(DWORD got, DWORD want) {
    for (int shift = 0; shift < 24; shift += 8) {
      const int a = static_cast<int>(got >> shift & 0xFF),
                b = static_cast<int>(want >> shift & 0xFF);
      EXPECT_LE(std::abs(a - b), 2) << std::hex << "got " << got << " want " << want;
    }
  }
};

TEST_F(FrameTest, TranslucentItemsGoFarToNearWhateverTheCallOrder) {
  ASSERT_EQ(VekBeginRender(g), D3D_OK);
  VekClear(g, 0xFF000000);
  Quad(g, 10, 10, 50, 50, 0.2f, 0x80FF0000);  // near red, submitted first
  Quad(g, 10, 10, 50, 50, 0.8f, 0x800000FF);  // far blue
  EXPECT_EQ(VekEndRender(g), D3D_OK);
  // Blue first (0, 0, 128), then red over it.
  ExpectNear(Pixel(30, 30), 0x800040);
  ExpectNear(Pixel(60, 60), 0x000000);
}

TEST_F(FrameTest, OpaqueItemsComeFirstAndTheNearestWins) {
  ASSERT_EQ(VekBeginRender(g), D3D_OK);
  VekClear(g, 0xFF000000);
  Quad(g, 0, 0, 100, 100, 0.1f, 0x80FF0000);                // translucent, nearest
  Quad(g, 0, 0, 100, 100, 0.9f, 0xFF00FF00, DRAW_OPAQUE);   // opaque green, far
  Quad(g, 50, 0, 100, 100, 0.5f, 0xFF0000FF, DRAW_OPAQUE);  // opaque blue, nearer
  EXPECT_EQ(VekEndRender(g), D3D_OK);
  ExpectNear(Pixel(25, 50), 0x807F00);  // red half over green
  ExpectNear(Pixel(75, 50), 0x80007F);  // red half over blue, which hid green
}

TEST_F(FrameTest, ItemsEqualInEveryKeyKeepTheirSubmissionOrder) {
  // Enough ties that an unstable sort would shuffle them; the last one
  // submitted must end on top in both lists.
  ASSERT_EQ(VekBeginRender(g), D3D_OK);
  VekClear(g, 0xFF000000);
  for (DWORD i = 1; i <= 40; ++i) {
    Quad(g, 10, 10, 50, 50, 0.5f, 0xFF000000 | i * 0x000601);
    Quad(g, 110, 10, 150, 50, 0.5f, 0xFF000000 | i * 0x010600, DRAW_OPAQUE);
  }
  EXPECT_EQ(VekEndRender(g), D3D_OK);
  ExpectNear(Pixel(30, 30), 40 * 0x000601);
  ExpectNear(Pixel(130, 30), 40 * 0x010600);
}

TEST_F(FrameTest, ClipRectangleCutsItemsThatLeaveIt) {
  VekSetClip(g, 100, 100, 200, 200);
  ASSERT_EQ(VekBeginRender(g), D3D_OK);
  VekClear(g, 0xFF000000);
  Quad(g, 50, 50, 250, 250, 0.5f, 0xFFFFFFFF, DRAW_OPAQUE);    // leaves the clip
  Quad(g, 120, 300, 140, 320, 0.5f, 0xFF00FF00, DRAW_OPAQUE);  // outside it too
  EXPECT_EQ(VekEndRender(g), D3D_OK);
  ExpectNear(Pixel(150, 150), 0xFFFFFF);
  ExpectNear(Pixel(99, 150), 0x000000);
  ExpectNear(Pixel(150, 200), 0x000000);
  ExpectNear(Pixel(130, 310), 0x000000);
}

TEST_F(FrameTest, ClipIsClampedAndEmptyRectanglesAreRefused) {
  VekSetClip(g, -10, -10, 5000, 5000);
  EXPECT_EQ(g->clip[2], 640.0f);
  EXPECT_EQ(g->clip[3], 480.0f);
  EXPECT_EQ(g->clip[0], 0.0f);
  VekSetClip(g, 10, 10, 10, 20);    // no width
  VekSetClip(g, -10, -10, -5, -5);  // empty once clamped
  VekSetClip(g, 700, 10, 800, 20);
  EXPECT_EQ(g->clip[0], 0.0f);
  EXPECT_EQ(g->clip[2], 640.0f);
}

TEST_F(FrameTest, StencilSurfaceMasksItsParent) {
  HVEKGRAPHICS stencil = VekOpenStencilGraphics(g);
  ASSERT_NE(stencil, nullptr);
  ASSERT_EQ(VekBeginRender(g), D3D_OK);
  VekClear(g, 0xFF000000);
  EXPECT_EQ(VekEndRender(g), D3D_OK);

  ASSERT_EQ(VekBeginRender(stencil), D3D_OK);
  EXPECT_EQ(VekClear(stencil, 0), D3D_OK);
  EXPECT_EQ(VekSetStencilParam(stencil, D3DCMP_ALWAYS, D3DSTENCILOP_REPLACE, 1), stencil);
  Quad(stencil, 0, 0, 320, 480, 0.5f, 0xFFFF0000, DRAW_OPAQUE);
  EXPECT_EQ(VekEndRender(stencil), 0);
  ExpectNear(Pixel(100, 100), 0x000000);  // the stencil pass leaves colour alone

  ASSERT_EQ(VekBeginRender(g), D3D_OK);
  VekSetStencilParam(g, D3DCMP_EQUAL, D3DSTENCILOP_KEEP, 1);
  Quad(g, 0, 0, 640, 480, 0.5f, 0xFFFFFFFF, DRAW_OPAQUE);
  EXPECT_EQ(VekEndRender(g), D3D_OK);
  ExpectNear(Pixel(100, 100), 0xFFFFFF);
  ExpectNear(Pixel(400, 100), 0x000000);

  // Selections last one frame.
  ASSERT_EQ(VekBeginRender(g), D3D_OK);
  EXPECT_EQ(g->stencilFunc, 0u);
  EXPECT_EQ(g->shaderId, 0);
  EXPECT_EQ(VekEndRender(g), D3D_OK);
  VekCloseGraphics(stencil);
}

TEST_F(FrameTest, SavedFrameHoldsItsPixels) {
  ASSERT_EQ(VekBeginRender(g), D3D_OK);
  VekClear(g, 0xFF336699);
  EXPECT_EQ(VekEndRender(g), D3D_OK);
  const std::string path = testing::TempDir() + "vek_frame.bmp";
  std::vector<WCHAR> wide(path.begin(), path.end());
  wide.push_back(0);
  ASSERT_EQ(VekSaveGraphics(g, wide.data(), 0), D3D_OK);
  std::ifstream in(path, std::ios::binary);
  const std::vector<unsigned char> bmp((std::istreambuf_iterator<char>(in)), {});
  ASSERT_GE(bmp.size(), 54u + 640u * 480u * 3u);
  EXPECT_EQ(bmp[0], 'B');
  EXPECT_EQ(bmp[28], 24);  // bits per pixel
  const size_t first = bmp[10] | bmp[11] << 8;
  EXPECT_EQ(bmp[first], 0x99);  // B, G, R
  EXPECT_EQ(bmp[first + 1], 0x66);
  EXPECT_EQ(bmp[first + 2], 0x33);
  std::remove(path.c_str());
}

TEST_F(FrameTest, RescaledCoordinatesOnlyShrink) {
  VekTexture atlas{};
  auto* v = static_cast<BatchVertex*>(MemMalloc(&g->frameMemory, sizeof(BatchVertex) * 4));
  for (int i = 0; i < 4; ++i) v[i] = {0, 0, 0.5f, 0xFFFFFFFF, 0.8f, 0.6f};
  SubmitDrawItem(g, DRAW_QUADS, &atlas, v, 4, 0);
  DrawItem* other = Quad(g, 0, 0, 1, 1, 0.5f, 0xFFFFFFFF);
  other->vertices[2].u = 1.0f;
  RescaleTexCoords(g, &atlas, 0.5f, 1.0f);
  EXPECT_EQ(v[0].u, 0.4f);
  EXPECT_EQ(v[3].v, 0.6f);
  EXPECT_EQ(other->vertices[2].u, 1.0f);
  // Items that never reach a frame are given back by the next flush.
  FlushDrawItems(g);
  EXPECT_EQ(g->translucentItems.count, 0u);
}

}  // namespace
