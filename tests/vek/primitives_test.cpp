// The primitives on either build's Direct3D 8: the opaque decision, the
// vertices each call queues (curves to the bit), textures created on first
// use with their diagnostics, and textured quads read back as pixels.
#include "graphics/primitives.h"

#include <float.h>
#include <vek/vek.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include "gd/device.h"
#include "graphics/frame.h"
#include "graphics/graphics.h"
#include "support/dds.h"
#include "support/diagnostics.h"
#include "support/frame_probe.h"
#include "support/kept_image.h"
#include "support/platform_test.h"
#include "support/surface_test.h"
#include "vekimage/image.h"

namespace {

uint32_t Bits(float f) {
  uint32_t b;
  std::memcpy(&b, &f, 4);
  return b;
}

// The texel colour of (x, y) in the pattern pictures: every texel differs.
DWORD PatternTexel(UINT x, UINT y) {
  return 0xFF000000u | (x * 28 + 10) << 16 | (y * 28 + 10) << 8 | 0x5A;
}

class PrimitivesTest : public WithWindowSurface<PlatformTest> {
 protected:
  void TearDown() override {
    for (VekImage* image : images_) {
      ReleaseTexture(&image->texture);
      Free(image);
    }
    images_.clear();
    WithWindowSurface<PlatformTest>::TearDown();
  }
  // An image record as images are kept before their first draw: a DDS file
  // image as data, no texture yet, whole-picture content scales.
  VekImage* PendingImage(const std::vector<uint8_t>& file, UINT width, UINT height) {
    auto* image = static_cast<VekImage*>(Malloc(sizeof(VekImage)));
    EXPECT_TRUE(KeepFile(image, file));
    image->texture.width = width;
    image->texture.height = height;
    image->texture.compression = 1;
    images_.push_back(image);
    return image;
  }
  VekImage* PatternImage(UINT width, UINT height) {
    std::vector<uint8_t> file = testdds::Header(width, height, nullptr, size_t(width) * height * 4);
    for (UINT y = 0; y < height; ++y)
      for (UINT x = 0; x < width; ++x)
        testdds::Put32(file, 128 + 4 * (y * width + x), PatternTexel(x, y));
    return PendingImage(file, width, height);
  }
  static DrawItem* Item(void* result) { return static_cast<DrawItem*>(result); }
  static bool Queued(const PBuffer& list, void* item) {
    for (DWORD i = 0; i < list.count; ++i)
      if (list.entries[i] == item) return true;
    return false;
  }
  // A quad with corners (x0, y0) to (x1, y1) and coordinates 0..1.
  void* Quad(float x0, float y0, float x1, float y1, DWORD colour, DWORD flags, HVEKTEXTURE tex,
             float u1 = 1.0f, float v1 = 1.0f) {
    return VekDrawQuad(g, x0, y0, 0.5f, colour, 0, 0, x1, y0, 0.5f, colour, u1, 0, x1, y1, 0.5f,
                       colour, u1, v1, x0, y1, 0.5f, colour, 0, v1, flags, tex);
  }
  void* Tri(DWORD c0, DWORD c1, DWORD c2, DWORD flags, HVEKTEXTURE tex) {
    return VekDrawTri(g, 1, 2, 0.25f, c0, 0.1f, 0.2f, 3, 4, 0.5f, c1, 0.3f, 0.4f, 5, 6, 0.75f, c2,
                      0.5f, 0.6f, flags, tex);
  }
  static void ExpectNear(DWORD got, DWORD want, const char* where) {
    for (int shift = 0; shift < 24; shift += 8) {
      const int a = static_cast<int>(got >> shift & 0xFF),
                b = static_cast<int>(want >> shift & 0xFF);
      EXPECT_LE(std::abs(a - b), 2)
          << where << std::hex << " got " << (got & 0xFFFFFF) << " want " << (want & 0xFFFFFF);
    }
  }
  std::vector<VekImage*> images_;
};

TEST_F(PrimitivesTest, PointsAndLinesAreOpaqueOnlyWhenEveryColourIs) {
  DrawItem* p = Item(VekDrawPoint(g, 3, 4, 0.5f, 0x80FFFFFF, DRAW_OPAQUE | DRAW_ADDBLEND));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->state.flags, static_cast<DWORD>(DRAW_ADDBLEND));  // other bits pass through
  EXPECT_TRUE(Queued(g->translucentItems, p));
  p = Item(VekDrawPoint(g, 3, 4, 0.5f, 0xFFFFFFFF, DRAW_LINEAR));
  EXPECT_EQ(p->state.flags, static_cast<DWORD>(DRAW_LINEAR | DRAW_OPAQUE));
  EXPECT_TRUE(Queued(g->opaqueItems, p));

  DrawItem* line =
      Item(VekDrawLine(g, 0, 0, 0.5f, 0xFF000000, 9, 9, 0.5f, 0xFEFFFFFF, DRAW_OPAQUE));
  EXPECT_EQ(line->state.flags, 0u);
  EXPECT_TRUE(Queued(g->translucentItems, line));
  line = Item(VekDrawLine(g, 0, 0, 0.5f, 0xFF000000, 9, 9, 0.5f, 0xFFFFFFFF, DRAW_NOZWRITE));
  EXPECT_EQ(line->state.flags, static_cast<DWORD>(DRAW_NOZWRITE | DRAW_OPAQUE));

  // Curves keep the caller's bit whatever their colour.
  EXPECT_EQ(
      Item(VekDrawBezier(g, 0, 0, 0, 1, 1, 0, 2, 2, 0, 3, 3, 0, 0x10FFFFFF, 0.5f, DRAW_OPAQUE))
          ->state.flags,
      static_cast<DWORD>(DRAW_OPAQUE));
  EXPECT_EQ(
      Item(VekDrawBezier(g, 0, 0, 0, 1, 1, 0, 2, 2, 0, 3, 3, 0, 0xFFFFFFFF, 0.5f, 0))->state.flags,
      0u);
  EXPECT_EQ(g->opaqueItems.count, 3u);
  EXPECT_EQ(g->translucentItems.count, 3u);
  FlushDrawItems(g);
}

TEST_F(PrimitivesTest, TrianglesAndQuadsDecideOpaqueByColourAndTexture) {
  VekImage* image = PatternImage(4, 4);
  HVEKTEXTURE tex = &image->texture;
  // Untextured, all opaque: set even though the caller left it clear.
  EXPECT_EQ(Item(Tri(0xFF102030, 0xFFFFFFFF, 0xFF000000, DRAW_ADDCOLOR, nullptr))->state.flags,
            static_cast<DWORD>(DRAW_ADDCOLOR | DRAW_OPAQUE));
  // Textured with opaque colours: the caller's choice, either way.
  EXPECT_EQ(Item(Tri(0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0, tex))->state.flags, 0u);
  EXPECT_EQ(Item(Tri(0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, DRAW_OPAQUE, tex))->state.flags,
            static_cast<DWORD>(DRAW_OPAQUE));
  // One translucent corner clears it, textured or not.
  EXPECT_EQ(Item(Tri(0xFFFFFFFF, 0xFFFFFFFF, 0x7FFFFFFF, DRAW_OPAQUE, nullptr))->state.flags, 0u);
  EXPECT_EQ(Item(Tri(0xFFFFFFFF, 0xFFFFFFFF, 0xFEFFFFFF, DRAW_OPAQUE, tex))->state.flags, 0u);

  EXPECT_EQ(Item(Quad(0, 0, 4, 4, 0xFFFFFFFF, 0, nullptr))->state.flags,
            static_cast<DWORD>(DRAW_OPAQUE));
  EXPECT_EQ(Item(Quad(0, 0, 4, 4, 0xFFFFFFFF, DRAW_LINEAR, tex))->state.flags,
            static_cast<DWORD>(DRAW_LINEAR));
  EXPECT_EQ(Item(Quad(0, 0, 4, 4, 0xFFFFFFFF, DRAW_OPAQUE, tex))->state.flags,
            static_cast<DWORD>(DRAW_OPAQUE));
  DrawItem* q =
      Item(VekDrawQuad(g, 0, 0, 0.5f, 0xFFFFFFFF, 0, 0, 1, 0, 0.5f, 0xFFFFFFFF, 0, 0, 1, 1, 0.5f,
                       0xFFFFFFFF, 0, 0, 0, 1, 0.5f, 0x00FFFFFF, 0, 0, DRAW_OPAQUE, nullptr));
  EXPECT_EQ(q->state.flags, 0u);  // the last corner alone decides
  EXPECT_EQ(g->opaqueItems.count, 4u);
  EXPECT_EQ(g->translucentItems.count, 5u);
  FlushDrawItems(g);
}

TEST_F(PrimitivesTest, EachCallQueuesItsVerticesInArgumentOrder) {
  DrawItem* p = Item(VekDrawPoint(g, 1.5f, 2.5f, 0.25f, 0x11223344, 0));
  ASSERT_EQ(p->count, 1u);
  EXPECT_EQ(p->kind, DRAW_POINTS);
  EXPECT_EQ(p->texture, nullptr);
  const BatchVertex& pv = p->vertices[0];
  EXPECT_EQ(pv.x, 1.5f);
  EXPECT_EQ(pv.y, 2.5f);
  EXPECT_EQ(pv.z, 0.25f);
  EXPECT_EQ(pv.diffuse, 0x11223344u);
  EXPECT_EQ(pv.u, 0.0f);
  EXPECT_EQ(pv.v, 0.0f);

  DrawItem* line = Item(VekDrawLine(g, 1, 2, 0.1f, 0xFF0000FF, -3, 4000, 0.9f, 0x00FF0000, 0));
  ASSERT_EQ(line->count, 2u);
  EXPECT_EQ(line->kind, DRAW_LINES);
  EXPECT_EQ(line->vertices[0].diffuse, 0xFF0000FFu);
  EXPECT_EQ(line->vertices[1].x, -3.0f);  // positions are not validated
  EXPECT_EQ(line->vertices[1].y, 4000.0f);
  EXPECT_EQ(line->vertices[1].z, 0.9f);
  EXPECT_EQ(line->vertices[1].diffuse, 0x00FF0000u);
  EXPECT_EQ(line->vertices[1].u, 0.0f);

  DrawItem* tri = Item(Tri(0xFF000001, 0xFF000002, 0xFF000003, 0, nullptr));
  ASSERT_EQ(tri->count, 3u);
  EXPECT_EQ(tri->kind, DRAW_TRIANGLES);
  for (int i = 0; i < 3; ++i) {
    const BatchVertex& v = tri->vertices[i];
    EXPECT_EQ(v.x, 1.0f + 2 * i);
    EXPECT_EQ(v.y, 2.0f + 2 * i);
    EXPECT_EQ(v.z, 0.25f * (i + 1));
    EXPECT_EQ(v.diffuse, 0xFF000001u + i);
  }
  // A device without power-of-two textures leaves the coordinates alone.
  if (!device->texturesPow2) {
    EXPECT_EQ(tri->vertices[1].u, 0.3f);
    EXPECT_EQ(tri->vertices[2].v, 0.6f);
  }

  DrawItem* quad = Item(VekDrawQuad(g, 0, 1, 0.1f, 0xFF000000, 0.5f, 0.125f, 2, 3, 0.2f, 0xFF000001,
                                    0.25f, 0.75f, 4, 5, 0.3f, 0xFF000002, 1, 1, 6, 7, 0.4f,
                                    0xFF000003, 0.375f, 0.625f, 0, nullptr));
  ASSERT_EQ(quad->count, 4u);
  EXPECT_EQ(quad->kind, DRAW_QUADS);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(quad->vertices[i].x, 2.0f * i);
    EXPECT_EQ(quad->vertices[i].y, 2.0f * i + 1);
    EXPECT_EQ(quad->vertices[i].diffuse, 0xFF000000u + i);
  }
  if (!device->texturesPow2) {
    EXPECT_EQ(quad->vertices[0].u, 0.5f);
    EXPECT_EQ(quad->vertices[3].v, 0.625f);
  }
  FlushDrawItems(g);
}

// One curve, several steps: P0 (10, 20, 0.5), P1 (30, -40, 0.25),
// P2 (77.7, 5.5, 0.75), P3 (100, 60, 1). The expected vertices are the
// single-precision de Casteljau values at the accumulated parameters.
struct CurveCase {
  float step;
  std::vector<std::array<uint32_t, 3>> vertices;
};

DrawItem* Curve(HVEKGRAPHICS on, float step) {
  return static_cast<DrawItem*>(VekDrawBezier(on, 10, 20, 0.5f, 30, -40, 0.25f, 77.7f, 5.5f, 0.75f,
                                              100, 60, 1, 0xFF00FF00, step, 0));
}

TEST_F(PrimitivesTest, CurveVerticesFollowTheStepToTheBit) {
#if defined(_WIN32) && defined(__i386__)
  // The fixture opened a device, and Direct3D 8 lowered this thread's x87
  // precision to 24 bits: the vertices below are checked in the state every
  // host of the 32-bit DLL draws in.
  EXPECT_EQ(_controlfp(0, 0) & _MCW_PC, static_cast<unsigned>(_PC_24));
#endif
  const std::array<uint32_t, 3> p0{0x41200000, 0x41A00000, 0x3F000000};
  const std::array<uint32_t, 3> p3{0x42C80000, 0x42700000, 0x3F800000};
  const CurveCase cases[] = {
      // 1/step an integer: evenly spaced.
      {0.25f,
       {p0,
        {0x41EAE99A, 0xC0D74000, 0x3EE00000},
        {0x42588CCC, 0xC03C0000, 0x3F100000},
        {0x429EAF33, 0x41B29000, 0x3F480000},
        p3}},
      // 3.33 segments: three, the last one longer.
      {0.3f, {p0, {0x42082E63, 0xC101ED91, 0x3EE6A7F0}, {0x4280E48F, 0x40A31276, 0x3F24DD2F}, p3}},
      // The float nearest 0.2 lies above it: 1/step is just under 5.
      {0.2f,
       {p0,
        {0x41C73190, 0xC0839581, 0x3EDD2F1A},
        {0x422F9725, 0xC0F126E9, 0x3EFDF3B6},
        {0x4280E48F, 0x40A31276, 0x3F24DD2F},
        p3}},
      // No inner vertex: the control points are ignored.
      {0.6f, {p0, p3}},
      {0.0f, {p0, p3}},
      {-1.0f, {p0, p3}},
      {std::numeric_limits<float>::quiet_NaN(), {p0, p3}},
      {std::numeric_limits<float>::infinity(), {p0, p3}},
  };
  for (const CurveCase& c : cases) {
    SCOPED_TRACE(c.step);
    DrawItem* item = Curve(g, c.step);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->kind, DRAW_LINESTRIP);
    ASSERT_EQ(item->count, c.vertices.size());
    for (size_t k = 0; k < c.vertices.size(); ++k) {
      const BatchVertex& v = item->vertices[k];
      EXPECT_EQ(Bits(v.x), c.vertices[k][0]) << "vertex " << k;
      EXPECT_EQ(Bits(v.y), c.vertices[k][1]) << "vertex " << k;
      EXPECT_EQ(Bits(v.z), c.vertices[k][2]) << "vertex " << k;
      EXPECT_EQ(v.diffuse, 0xFF00FF00u);
      EXPECT_EQ(v.u, 0.0f);
      EXPECT_EQ(v.v, 0.0f);
    }
  }
  FlushDrawItems(g);
}

TEST_F(PrimitivesTest, LongCurvesAreCappedBelowTheByteLimit) {
  // 340 segments (8,184 bytes of vertices) still fit.
  DrawItem* fits = Curve(g, 0.00294f);
  ASSERT_EQ(fits->count, 341u);
  EXPECT_EQ(Bits(fits->vertices[1].x), 0x4122D578u);  // B(0.00294)
  EXPECT_EQ(Bits(fits->vertices[2].y), 0x41979EC5u);
  EXPECT_EQ(Bits(fits->vertices[339].z), 0x3F7F5B46u);
  EXPECT_EQ(fits->vertices[340].x, 100.0f);

  // 344 would exceed them: 339 segments of 1/339 instead.
  DrawItem* capped = Curve(g, 0.0029f);
  ASSERT_EQ(capped->count, 340u);
  EXPECT_EQ(Bits(capped->vertices[1].x), 0x4122D7EAu);  // B(1/339)
  EXPECT_EQ(Bits(capped->vertices[2].y), 0x419797A7u);
  EXPECT_EQ(Bits(capped->vertices[338].x), 0x42C79A8Au);
  EXPECT_EQ(capped->vertices[339].y, 60.0f);

  // Reciprocals far beyond any integer take the same cap.
  for (float tiny : {1e-20f, std::numeric_limits<float>::denorm_min()}) {
    DrawItem* item = Curve(g, tiny);
    ASSERT_EQ(item->count, 340u);
    EXPECT_EQ(Bits(item->vertices[1].x), 0x4122D7EAu);
  }
  FlushDrawItems(g);
}

TEST_F(PrimitivesTest, NullSurfaceQueuesNothingAndLeavesTexturesPending) {
  VekImage* image = PatternImage(4, 4);
  HVEKTEXTURE tex = &image->texture;
  EXPECT_EQ(VekDrawPoint(nullptr, 0, 0, 0, 0xFFFFFFFF, 0), nullptr);
  EXPECT_EQ(VekDrawLine(nullptr, 0, 0, 0, 0xFFFFFFFF, 1, 1, 0, 0xFFFFFFFF, 0), nullptr);
  EXPECT_EQ(VekDrawBezier(nullptr, 0, 0, 0, 1, 1, 0, 2, 2, 0, 3, 3, 0, 0xFFFFFFFF, 0.1f, 0),
            nullptr);
  EXPECT_EQ(VekDrawTri(nullptr, 0, 0, 0, 0xFFFFFFFF, 0, 0, 1, 0, 0, 0xFFFFFFFF, 1, 0, 1, 1, 0,
                       0xFFFFFFFF, 1, 1, 0, tex),
            nullptr);
  EXPECT_EQ(VekDrawQuad(nullptr, 0, 0, 0, 0xFFFFFFFF, 0, 0, 1, 0, 0, 0xFFFFFFFF, 1, 0, 1, 1, 0,
                        0xFFFFFFFF, 1, 1, 0, 1, 0, 0xFFFFFFFF, 0, 1, 0, tex),
            nullptr);
  EXPECT_EQ(image->texture.tex, nullptr);
  EXPECT_NE(image->texture.data, nullptr);
  EXPECT_EQ(PendingItemCount(g), 0u);
}

TEST_F(PrimitivesTest, ReservedCallsLeaveTheListsUnchanged) {
  VekDrawPoint(g, 1, 1, 0.5f, 0xFFFFFFFF, 0);
  VekDrawPoint(g, 2, 2, 0.5f, 0x80FFFFFF, 0);
  const PBuffer opaque = g->opaqueItems, translucent = g->translucentItems;
  const LONG blocks = LiveBlockCount();
  VekDrawPointLine(g, 0, 0, 0.5f, 0xFFFFFFFF, 100, 100, 0.5f, 0xFFFFFFFF, DRAW_OPAQUE);
  VekDrawEllipse(g, 50, 50, 0.5f, 20, 10, 0, 1, 2, 3, 4, 5, 6, 7);
  VekDrawPointLine(nullptr, 0, 0, 0, 0, 0, 0, 0, 0, 0);
  VekDrawEllipse(nullptr, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -1);
  VekSetCamera(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11);
  VekSetAmbientLight(0, 0xFFFFFFFF);
  VekSetDirectionalLight(0, 1, 2, 3, 4);
  VekSetViewport(0, 10, 10, 100, 100);
  VekSetFrustum(0, 1, 2, 3, 4);
  VekSetPointLight(0, 1, 2, 3, 4, 5, 6);
  VekSetSpotLight(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11);
  VekSetFog(0, 1, 2);
  EXPECT_EQ(g->opaqueItems.count, opaque.count);
  EXPECT_EQ(g->translucentItems.count, translucent.count);
  EXPECT_EQ(g->opaqueItems.entries, opaque.entries);
  EXPECT_EQ(LiveBlockCount(), blocks);
  // The frame still draws only what the primitives queued.
  ASSERT_EQ(VekBeginRender(g), D3D_OK);
  VekClear(g, 0xFF000000);
  EXPECT_EQ(VekEndRender(g), D3D_OK);
  const std::vector<DWORD> px = ReadBackBufferPixels(device);
  ASSERT_FALSE(px.empty());
  EXPECT_EQ(px[50 * 640 + 50] & 0xFFFFFF, 0u);  // no ellipse
  EXPECT_EQ(px[25 * 640 + 25] & 0xFFFFFF, 0u);  // no line
}

TEST_F(PrimitivesTest, FirstDrawCreatesTheTextureOnce) {
  VekImage* image = PatternImage(8, 4);
  const UINT keptSize = image->texture.dataSize;
  DrawItem* first = Item(Quad(0, 0, 8, 4, 0xFFFFFFFF, 0, &image->texture));
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->texture, &image->texture);
  IDirect3DTexture8* created = image->texture.tex;
  ASSERT_NE(created, nullptr);
  EXPECT_EQ(image->texture.data, nullptr);  // the kept bytes are given back
  EXPECT_EQ(image->texture.dataSize, keptSize);
  EXPECT_EQ(image->texture.format, D3DFMT_A8R8G8B8);
  IDirect3DDevice8* owner = nullptr;
  created->GetDevice(&owner);
  EXPECT_EQ(owner, device->cache.device);  // made on the surface's device
  if (owner) owner->Release();
  DrawItem* second = Item(Tri(0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0, &image->texture));
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(image->texture.tex, created);
  FlushDrawItems(g);
}

TEST_F(PrimitivesTest, UnavailableTexturesPrintTheirLineAndQueueNothing) {
  // Released: neither a texture nor kept data.
  VekImage* released = PatternImage(4, 4);
  Free(released->texture.data);
  released->texture.data = nullptr;
  testing::internal::CaptureStdout();
  EXPECT_EQ(Tri(0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0, &released->texture), nullptr);
  EXPECT_EQ(Quad(0, 0, 4, 4, 0xFFFFFFFF, 0, &released->texture), nullptr);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(
      out,
      Printed(GraphicsLine::kTextureReleased, "VekDrawTri", static_cast<void*>(released)) +
          Printed(GraphicsLine::kTextureReleased, "VekDrawQuad", static_cast<void*>(released)));

  // Kept data that no texture can be made from: the failure line with the
  // recorded error code; the data stays for the next try.
  std::vector<uint8_t> junk = testdds::Solid32(4, 4, 0xFFFFFFFF);
  junk.resize(60);
  VekImage* broken = PendingImage(junk, 4, 4);
  testing::internal::CaptureStdout();
  EXPECT_EQ(Quad(0, 0, 4, 4, 0xFFFFFFFF, 0, &broken->texture), nullptr);
  const LastError error = ReadError();
  EXPECT_EQ(Tri(0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0, &broken->texture), nullptr);
  out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(error.code, -51);
  EXPECT_EQ(
      out,
      Printed(GraphicsLine::kTextureFailed, "VekDrawQuad", static_cast<void*>(broken), -51) +
          Printed(GraphicsLine::kTextureFailed, "VekDrawTri", static_cast<void*>(broken), -51));
  EXPECT_NE(broken->texture.data, nullptr);
  EXPECT_EQ(broken->texture.dataSize, 60u);
  EXPECT_EQ(PendingItemCount(g), 0u);
}

TEST_F(PrimitivesTest, TextureSizeFactorsScaleTheCoordinates) {
  VekImage* image = PatternImage(4, 4);
  ASSERT_NE(Quad(0, 0, 4, 4, 0xFFFFFFFF, 0, &image->texture), nullptr);
  ASSERT_NE(image->texture.tex, nullptr);
  // As if the device had made the level larger than the picture.
  image->texture.uScale = 0.5f;
  image->texture.vScale = 0.25f;
  DrawItem* q = Item(Quad(0, 0, 4, 4, 0xFFFFFFFF, 0, &image->texture));
  EXPECT_EQ(q->vertices[2].u, 0.5f);
  EXPECT_EQ(q->vertices[2].v, 0.25f);
  EXPECT_EQ(q->vertices[0].u, 0.0f);
  EXPECT_EQ(q->vertices[1].u, 0.5f);
  EXPECT_EQ(q->vertices[1].v, 0.0f);
  DrawItem* t = Item(Tri(0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0, &image->texture));
  EXPECT_EQ(t->vertices[0].u, 0.05f);
  EXPECT_EQ(t->vertices[2].v, 0.15f);
  // A zero u factor means the level fits: v is left alone too.
  image->texture.uScale = 0.0f;
  q = Item(Quad(0, 0, 4, 4, 0xFFFFFFFF, 0, &image->texture));
  EXPECT_EQ(q->vertices[2].u, 1.0f);
  EXPECT_EQ(q->vertices[2].v, 1.0f);
  FlushDrawItems(g);
}

TEST_F(PrimitivesTest, TexturedQuadsPutEachTexelOnItsPixel) {
  VekImage* image = PatternImage(8, 4);
  ASSERT_EQ(VekBeginRender(g), D3D_OK);
  VekClear(g, 0xFF000000);
  ASSERT_NE(Quad(100, 50, 108, 54, 0xFFFFFFFF, 0, &image->texture), nullptr);
  // Twice the size with linear filtering off: each texel covers 2 x 2 pixels.
  ASSERT_NE(Quad(200, 50, 216, 58, 0xFFFFFFFF, DRAW_OPAQUE, &image->texture), nullptr);
  // Half the picture, the colour modulating it.
  ASSERT_NE(Quad(300, 50, 304, 52, 0xFF808080, 0, &image->texture, 0.5f, 0.5f), nullptr);
  EXPECT_EQ(VekEndRender(g), D3D_OK);
  const std::vector<DWORD> px = ReadBackBufferPixels(device);
  ASSERT_EQ(px.size(), 640u * 480u);
  auto at = [&](int x, int y) { return px[static_cast<size_t>(y) * 640 + x]; };
  for (UINT y = 0; y < 4; ++y) {
    for (UINT x = 0; x < 8; ++x) {
      SCOPED_TRACE(testing::Message() << "texel " << x << ", " << y);
      ExpectNear(at(100 + x, 50 + y), PatternTexel(x, y), "1:1");
      ExpectNear(at(200 + 2 * x + 1, 50 + 2 * y + 1), PatternTexel(x, y), "2:1");
      ExpectNear(at(200 + 2 * x, 50 + 2 * y), PatternTexel(x, y), "2:1");
      if (x < 4 && y < 2) {
        const DWORD t = PatternTexel(x, y);
        auto half = [](DWORD c, int shift) {
          return ((c >> shift & 0xFF) * 0x80 + 127) / 255 << shift;
        };
        ExpectNear(at(300 + x, 50 + y), half(t, 16) | half(t, 8) | half(t, 0), "modulated");
      }
    }
  }
  // Nothing beyond the edges.
  for (int y = 49; y <= 54; ++y) {
    EXPECT_EQ(at(99, y) & 0xFFFFFF, 0u);
    EXPECT_EQ(at(108, y) & 0xFFFFFF, 0u);
  }
  for (int x = 100; x < 108; ++x) {
    EXPECT_EQ(at(x, 49) & 0xFFFFFF, 0u);
    EXPECT_EQ(at(x, 54) & 0xFFFFFF, 0u);
  }
  EXPECT_EQ(at(304, 50) & 0xFFFFFF, 0u);
}

TEST_F(PrimitivesTest, TexturedTrianglesSampleWhereTheirCornersSay) {
  VekImage* image = PatternImage(8, 8);
  ASSERT_EQ(VekBeginRender(g), D3D_OK);
  VekClear(g, 0xFF000000);
  // The lower-left half of the picture, at 1:1.
  ASSERT_NE(VekDrawTri(g, 40, 40, 0.5f, 0xFFFFFFFF, 0, 0, 48, 48, 0.5f, 0xFFFFFFFF, 1, 1, 40, 48,
                       0.5f, 0xFFFFFFFF, 0, 1, 0, &image->texture),
            nullptr);
  // Untextured: the colour alone.
  ASSERT_NE(VekDrawTri(g, 60, 40, 0.5f, 0xFF20C040, 0, 0, 70, 40, 0.5f, 0xFF20C040, 0, 0, 60, 50,
                       0.5f, 0xFF20C040, 0, 0, 0, nullptr),
            nullptr);
  EXPECT_EQ(VekEndRender(g), D3D_OK);
  const std::vector<DWORD> px = ReadBackBufferPixels(device);
  ASSERT_EQ(px.size(), 640u * 480u);
  auto at = [&](int x, int y) { return px[static_cast<size_t>(y) * 640 + x]; };
  ExpectNear(at(40, 47), PatternTexel(0, 7), "corner");
  ExpectNear(at(41, 45), PatternTexel(1, 5), "inside");
  ExpectNear(at(46, 47), PatternTexel(6, 7), "bottom edge");
  EXPECT_EQ(at(46, 41) & 0xFFFFFF, 0u);  // the upper-right half stays empty
  ExpectNear(at(62, 42), 0x20C040, "untextured");
  EXPECT_EQ(at(69, 49) & 0xFFFFFF, 0u);
}

TEST_F(PrimitivesTest, PointsLinesAndCurvesReachThePixels) {
  ASSERT_EQ(VekBeginRender(g), D3D_OK);
  VekClear(g, 0xFF000000);
  // Pixel centres lie half a pixel into each pixel.
  ASSERT_NE(VekDrawPoint(g, 10.5f, 10.5f, 0.5f, 0xFFFF0000, 0), nullptr);
  ASSERT_NE(VekDrawLine(g, 20.5f, 10.5f, 0.5f, 0xFF00FF00, 30.5f, 10.5f, 0.5f, 0xFF00FF00, 0),
            nullptr);
  // A straight curve along x = 40 from y = 10 to 30.
  ASSERT_NE(VekDrawBezier(g, 40.5f, 10.5f, 0.5f, 40.5f, 15.5f, 0.5f, 40.5f, 25.5f, 0.5f, 40.5f,
                          30.5f, 0.5f, 0xFF0000FF, 0.25f, 0),
            nullptr);
  EXPECT_EQ(VekEndRender(g), D3D_OK);
  const std::vector<DWORD> px = ReadBackBufferPixels(device);
  ASSERT_EQ(px.size(), 640u * 480u);
  auto at = [&](int x, int y) { return px[static_cast<size_t>(y) * 640 + x] & 0xFFFFFF; };
  EXPECT_EQ(at(10, 10), 0xFF0000u);
  EXPECT_EQ(at(11, 10), 0u);
  EXPECT_EQ(at(20, 10), 0x00FF00u);
  EXPECT_EQ(at(25, 10), 0x00FF00u);
  EXPECT_EQ(at(25, 11), 0u);
  EXPECT_EQ(at(40, 12), 0x0000FFu);
  EXPECT_EQ(at(40, 22), 0x0000FFu);
  EXPECT_EQ(at(41, 22), 0u);
}

// Every pending item as bytes: kind, texture, state, then its vertices.
std::vector<std::vector<uint8_t>> Pending(const Graphics* g) {
  std::vector<std::vector<uint8_t>> out;
  for (const PBuffer* list : {&g->opaqueItems, &g->translucentItems}) {
    out.emplace_back();  // marks which list the items are in
    for (DWORD i = 0; i < list->count; ++i) {
      const auto* item = static_cast<const DrawItem*>(list->entries[i]);
      // The sort keys taken when queued count too: a block must record the same.
      std::vector<uint8_t> bytes(sizeof(INT) + sizeof(void*) + sizeof(ItemState) +
                                 item->count * sizeof(BatchVertex) + 4 + 8);
      uint8_t* at = bytes.data();
      std::memcpy(at, &item->depthKey, 4);
      std::memcpy(at += 4, &item->stateHash, 4);
      std::memcpy(at += 4, &item->kind, sizeof(INT));
      std::memcpy(at += sizeof(INT), &item->texture, sizeof(void*));
      std::memcpy(at += sizeof(void*), &item->state, sizeof(ItemState));
      std::memcpy(at += sizeof(ItemState), &item->count, 4);
      std::memcpy(at + 4, item->vertices, item->count * sizeof(BatchVertex));
      out.push_back(std::move(bytes));
    }
  }
  return out;
}

// Forgets the pending items without drawing them.
void Drop(Graphics* g) {
  g->opaqueItems.count = 0;
  g->translucentItems.count = 0;
}

TEST_F(PrimitivesTest, QuadsQueuedTogetherAreTheItemsTheyGiveAlone) {
  VekImage* ready = PatternImage(4, 4);
  ASSERT_NE(Quad(0, 0, 4, 4, 0xFFFFFFFF, 0, &ready->texture), nullptr);
  ready->texture.uScale = 0.75f;
  ready->texture.vScale = 0.5f;
  FlushDrawItems(g);
  uint32_t seed = 12345;
  auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
  // Corners inside and beyond the clip, every colour's alpha from opaque
  // to clear, a stencil test and an effect in force.
  std::vector<PrimitiveCorner> quads(4 * 37);
  for (PrimitiveCorner& c : quads) {
    c.x = static_cast<float>(static_cast<int>(next() % 900) - 100) / 3.0f;
    c.y = static_cast<float>(static_cast<int>(next() % 700) - 100) / 3.0f;
    c.z = static_cast<float>(next() % 1000) / 1000.0f;
    c.colour = (next() % 3 ? 0xFF000000u : next() & 0xFF000000u) | (next() & 0xFFFFFF);
    c.u = static_cast<float>(next() % 100) / 64.0f;
    c.v = static_cast<float>(next() % 100) / 32.0f;
  }
  const auto* corners = reinterpret_cast<const PrimitiveCorner(*)[4]>(quads.data());
  const UINT n = static_cast<UINT>(quads.size() / 4);
  VekSetClip(g, 10, 20, 200, 150);
  g->stencilFunc = D3DCMP_EQUAL;
  g->stencilPass = D3DSTENCILOP_KEEP;
  g->stencilRef = 3;
  g->shaderId = 2;
  g->shaderParam[1] = 0.25f;
  struct Case {
    VekTexture* texture;
    DWORD flags;
  };
  for (const Case& c : {Case{nullptr, 0}, Case{nullptr, DRAW_OPAQUE | DRAW_ADDBLEND},
                        Case{&ready->texture, DRAW_OPAQUE}, Case{&ready->texture, DRAW_LINEAR}}) {
    for (UINT k = 0; k < n; ++k) DrawQuad(g, corners[k], c.flags, c.texture);
    const auto alone = Pending(g);
    Drop(g);
    EXPECT_EQ(DrawQuads(g, corners, n, c.flags, c.texture), n);
    EXPECT_EQ(Pending(g), alone) << "flags " << c.flags << (c.texture ? " textured" : "");
    Drop(g);
  }

  // A texture made by the first quad, and one that cannot be made, whose
  // every quad reports itself as DrawQuad's does.
  VekImage* pendingA = PatternImage(8, 8);
  VekImage* pendingB = PatternImage(8, 8);
  for (UINT k = 0; k < 5; ++k) DrawQuad(g, corners[k], 0, &pendingA->texture);
  const auto alone = Pending(g);
  Drop(g);
  EXPECT_EQ(DrawQuads(g, corners, 5, 0, &pendingB->texture), 5u);
  auto together = Pending(g);
  ASSERT_EQ(together.size(), alone.size());
  for (size_t i = 0; i < alone.size(); ++i) {  // only the texture (and so the hash) differs
    if (alone[i].empty()) continue;
    std::memcpy(together[i].data() + 4, alone[i].data() + 4, 4);
    std::memcpy(together[i].data() + 8 + sizeof(INT), alone[i].data() + 8 + sizeof(INT),
                sizeof(void*));
  }
  EXPECT_EQ(together, alone);
  EXPECT_NE(pendingB->texture.tex, nullptr);
  Drop(g);
  VekImage* released = PatternImage(4, 4);
  Free(released->texture.data);
  released->texture.data = nullptr;
  testing::internal::CaptureStdout();
  EXPECT_EQ(DrawQuads(g, corners, 3, 0, &released->texture), 0u);
  const std::string line =
      Printed(GraphicsLine::kTextureReleased, "VekDrawQuad", static_cast<void*>(released));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), line + line + line);
  EXPECT_EQ(PendingItemCount(g), 0u);
  EXPECT_EQ(DrawQuads(nullptr, corners, 3, 0, nullptr), 0u);
}

}  // namespace
