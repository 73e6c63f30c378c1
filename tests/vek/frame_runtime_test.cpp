// The frame against the runtime's call log: how runs become draw calls and
// which state changes reach the device.
#include <vek/vek.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <random>

#include "gd/device.h"
#include "graphics/frame.h"
#include "graphics/graphics.h"
#include "support/diagnostics.h"
#include "support/frame_probe.h"
#include "support/surface_test.h"
#include "support/vek_test.h"
#include "vektex/texture.h"

namespace {

class FrameCallTest : public WithWindowSurface<VekTest> {
 protected:
  BatchVertex* Vertices(UINT n, float x = 10, float y = 10) {
    auto* v = static_cast<BatchVertex*>(MemMalloc(&g->frameMemory, n * sizeof(BatchVertex)));
    for (UINT i = 0; i < n; ++i) v[i] = {x + static_cast<float>(i % 4), y, 0.5f, 0xFFFFFFFF, 0, 0};
    return v;
  }
  static std::vector<vrt::CallRecord> Calls(const char* method) {
    return LoggedCalls(std::string("IDirect3DDevice8::") + method);
  }
};

TEST_F(FrameCallTest, ElevenHundredQuadsTakeTwoDrawCalls) {
  ASSERT_EQ(VekBeginRender(g), D3D_OK);
  for (int q = 0; q < 1100; ++q) SubmitDrawItem(g, DRAW_QUADS, nullptr, Vertices(4), 4, 0);
  vrt::ClearCallLog();
  EXPECT_EQ(VekEndRender(g), D3D_OK);
  const auto draws = Calls("DrawIndexedPrimitive");
  ASSERT_EQ(draws.size(), 2u);
  EXPECT_EQ(draws[0].args.at(2), 4000u);  // vertices
  EXPECT_EQ(draws[0].args.at(4), 2000u);  // triangles
  EXPECT_EQ(draws[1].args.at(2), 400u);
  EXPECT_EQ(draws[1].args.at(4), 200u);
}

// Lock flags of the vertex buffer's locks, in order.
std::vector<uint64_t> VertexLocks() {
  std::vector<uint64_t> flags;
  for (const auto& c : LoggedCalls("IDirect3DVertexBuffer8::Lock")) flags.push_back(c.args.at(3));
  return flags;
}

TEST_F(FrameCallTest, ConsecutiveRunsShareOneLockAndDrawFromTheirOffsets) {
  // Alternating textures in depth order: every item is a run of its own.
  VekTexture a{}, b{};
  ASSERT_EQ(VekBeginRender(g), D3D_OK);
  for (int i = 0; i < 30; ++i) {
    BatchVertex* v = Vertices(4);
    for (int k = 0; k < 4; ++k) v[k].z = 1.0f - static_cast<float>(i) / 100.0f;
    SubmitDrawItem(g, DRAW_QUADS, i % 2 ? &a : &b, v, 4, 0);
    if (i == 10) {  // three vertices in between: the next quads start on a multiple of four
      BatchVertex* t = Vertices(3);
      for (int k = 0; k < 3; ++k) t[k].z = 0.895f;
      SubmitDrawItem(g, DRAW_TRIANGLES, nullptr, t, 3, 0);
    }
  }
  vrt::ClearCallLog();
  EXPECT_EQ(VekEndRender(g), D3D_OK);
  EXPECT_EQ(VertexLocks(), (std::vector<uint64_t>{D3DLOCK_DISCARD}));
  const auto quads = Calls("DrawIndexedPrimitive");
  ASSERT_EQ(quads.size(), 30u);
  ASSERT_EQ(Calls("DrawPrimitive").size(), 1u);
  EXPECT_EQ(Calls("DrawPrimitive")[0].args.at(1), 44u);  // after eleven quads
  uint64_t next = 0;
  for (const auto& d : quads) {
    const uint64_t start = d.args.at(1);
    EXPECT_GE(start, next);
    EXPECT_EQ(start % 4, 0u);
    EXPECT_EQ(d.args.at(3), start / 4 * 6);  // first index of that quad
    EXPECT_EQ(d.args.at(2), 4u);
    next = start + 4;
  }
  EXPECT_EQ(quads[11].args.at(1), 48u);  // 44 + 3, rounded up
}

TEST_F(FrameCallTest, AWrapDiscardsTheBufferAndNoShortRunStraddlesIt) {
  VekTexture textures[4]{};
  ASSERT_EQ(VekBeginRender(g), D3D_OK);
  // Four runs of 1,200 vertices: the fourth does not fit behind the first three.
  for (int r = 0; r < 4; ++r)
    for (int q = 0; q < 300; ++q) {
      BatchVertex* v = Vertices(4);
      for (int k = 0; k < 4; ++k) v[k].z = 0.9f - static_cast<float>(r) / 10.0f;
      SubmitDrawItem(g, DRAW_QUADS, &textures[r], v, 4, 0);
    }
  vrt::ClearCallLog();
  EXPECT_EQ(VekEndRender(g), D3D_OK);
  EXPECT_EQ(VertexLocks(), (std::vector<uint64_t>{D3DLOCK_DISCARD, D3DLOCK_DISCARD}));
  const auto draws = Calls("DrawIndexedPrimitive");
  ASSERT_EQ(draws.size(), 4u);
  const uint64_t starts[] = {0, 1200, 2400, 0};
  for (int r = 0; r < 4; ++r) {
    EXPECT_EQ(draws[r].args.at(1), starts[r]);
    EXPECT_EQ(draws[r].args.at(2), 1200u);
  }
}

TEST_F(FrameCallTest, ManyShortRunsAppendWithoutOverwriting) {
  // More runs than one lock takes at a time, all fitting in the buffer: the
  // later locks append behind what was drawn.
  VekTexture a{}, b{};
  ASSERT_EQ(VekBeginRender(g), D3D_OK);
  for (int i = 0; i < 600; ++i) {
    BatchVertex* v = Vertices(4);
    for (int k = 0; k < 4; ++k) v[k].z = 1.0f - static_cast<float>(i) / 1000.0f;
    SubmitDrawItem(g, DRAW_QUADS, i % 2 ? &a : &b, v, 4, 0);
  }
  vrt::ClearCallLog();
  EXPECT_EQ(VekEndRender(g), D3D_OK);
  const auto locks = VertexLocks();
  ASSERT_GE(locks.size(), 2u);
  EXPECT_EQ(locks[0], static_cast<uint64_t>(D3DLOCK_DISCARD));
  for (size_t i = 1; i < locks.size(); ++i)
    EXPECT_EQ(locks[i], static_cast<uint64_t>(D3DLOCK_NOOVERWRITE));
  const auto draws = Calls("DrawIndexedPrimitive");
  ASSERT_EQ(draws.size(), 600u);
  for (size_t i = 0; i < draws.size(); ++i) EXPECT_EQ(draws[i].args.at(1), 4 * i);
  EXPECT_EQ(vrt::CountCalls("IDirect3DVertexBuffer8::Unlock"), locks.size());
}

TEST_F(FrameCallTest, RunsCyclingThroughClipsEachGetTheirOwnViewport) {
  // Six clips, twice round, far to near: more clips than are remembered, and
  // each comes back after others.
  ASSERT_EQ(VekBeginRender(g), D3D_OK);
  for (int i = 0; i < 12; ++i) {
    const float right = static_cast<float>(100 + 10 * (i % 6));
    VekSetClip(g, 5, 5, right, 400);
    BatchVertex* v = Vertices(4, 300, 300);  // outside every clip: keeps it
    for (int k = 0; k < 4; ++k) v[k].z = 1.0f - static_cast<float>(i) / 20.0f;
    SubmitDrawItem(g, DRAW_QUADS, nullptr, v, 4, 0);
  }
  vrt::ClearCallLog();
  EXPECT_EQ(VekEndRender(g), D3D_OK);
  const auto viewports = Calls("SetViewport");
  const auto projections = Calls("SetTransform");
  ASSERT_EQ(viewports.size(), 12u);
  ASSERT_EQ(projections.size(), 12u);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(viewports[i].args.at(2), 95u + 10u * (i % 6)) << i;
  // The last run's projection is the one built for its clip from scratch.
  const D3DMATRIX kept = g->projection;
  SetClipProjection(g, 5, 5, 150, 400);
  EXPECT_EQ(std::memcmp(&kept, &g->projection, sizeof(kept)), 0);
}

TEST_F(FrameCallTest, AFailedLockLosesOnlyItsOwnRun) {
  for (int frame = 0; frame < 2; ++frame) {
    if (frame == 0) vrt::FailCall("IDirect3DVertexBuffer8::Lock", D3DERR_INVALIDCALL);
    ASSERT_EQ(VekBeginRender(g), D3D_OK);
    SubmitDrawItem(g, DRAW_QUADS, nullptr, Vertices(4), 4, DRAW_OPAQUE | DRAW_LINEAR);
    SubmitDrawItem(g, DRAW_TRIANGLES, nullptr, Vertices(3), 3, 0);
    vrt::ClearCallLog();
    EXPECT_EQ(VekEndRender(g), D3D_OK);
    // The opaque quad's lock failed; the triangle's run locks again and draws.
    EXPECT_EQ(Calls("DrawIndexedPrimitive").size(), frame == 0 ? 0u : 1u);
    EXPECT_EQ(Calls("DrawPrimitive").size(), 1u);
    EXPECT_EQ(vrt::CountCalls("IDirect3DVertexBuffer8::Unlock"), 1u);
    if (frame == 0) {  // both runs still set their state: linear, then point filtering
      std::vector<uint64_t> filters;
      for (const auto& c : Calls("SetTextureStageState"))
        if (c.args.at(1) == D3DTSS_MAGFILTER) filters.push_back(c.args.at(2));
      EXPECT_EQ(filters, (std::vector<uint64_t>{D3DTEXF_LINEAR, D3DTEXF_POINT}));
    }
  }
}

TEST_F(FrameCallTest, AnItemLongerThanTheBufferIsNeverCopied) {
  // Submission never makes one; a hand-built item must not overrun the buffer.
  ASSERT_EQ(VekBeginRender(g), D3D_OK);
  DrawItem items[2]{};
  items[0].kind = items[1].kind = DRAW_TRIANGLES;
  items[0].vertices = Vertices(4200);
  items[0].count = 4200;
  items[1].vertices = Vertices(6);
  items[1].count = 6;
  DrawItem* run[] = {&items[0], &items[1]};
  vrt::ClearCallLog();
  DrawItemRun(g, run, 2);
  const auto draws = Calls("DrawPrimitive");
  ASSERT_EQ(draws.size(), 1u);
  EXPECT_EQ(draws[0].args.at(2), 2u);
  EXPECT_EQ(VekEndRender(g), D3D_OK);
}

TEST_F(FrameCallTest, KeyedSortsMatchComparingItems) {
  // Both ways of sorting give the same sequence, item for item, over states
  // and depths with many ties, signed zeros and NaNs. Items are queued with
  // their state already set, as the primitives queue theirs.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float depths[] = {0.0f, -0.0f, 0.25f, 0.5f, 1.0f, nan, -1.0f, 1e-30f};
  const float clips[][4] = {{0, 0, 640, 480}, {-0.0f, 0, 640, 480}, {10, 20, 300, 200}};
  // NaNs of other signs and payloads are the same key as any NaN.
  const uint32_t nanBits[] = {0xFFC00000u, 0x7FC12345u};
  float otherNan[2];
  std::memcpy(otherNan, nanBits, sizeof otherNan);
  const float params[] = {0.0f, -0.0f, 3.0f, nan, otherNan[0], otherNan[1]};
  VekTexture textures[3]{};
  std::mt19937 random(7);
  for (bool depthOrder : {false, true}) {
    for (int i = 0; i < 3000; ++i) {
      BatchVertex* v = Vertices(4);
      // Mostly a few depths (ties), some with every bit of the key free.
      const uint32_t anyBits = static_cast<uint32_t>(random());
      float anyDepth;
      std::memcpy(&anyDepth, &anyBits, sizeof anyDepth);
      for (int k = 0; k < 4; ++k) v[k].z = i % 4 == 3 ? anyDepth : depths[random() % 8];
      const int t = static_cast<int>(random() % 4);
      auto* item = static_cast<DrawItem*>(MemMalloc(&g->frameMemory, sizeof(DrawItem)));
      ItemState inside, outside;
      CaptureItemStates(g, &inside, &outside);
      WriteState(&item->state, outside, (random() % 3 == 0 ? DRAW_ADDBLEND : 0u) | DRAW_OPAQUE);
      std::memcpy(item->state.clip, clips[random() % 3], sizeof(item->state.clip));
      item->state.shaderId = static_cast<INT>(random() % 3);
      item->state.shaderParam[random() % 4] = params[random() % 6];
      item->state.clip[random() % 4] = random() % 7 ? item->state.clip[0] : params[random() % 6];
      item->state.stencilFunc = random() % 5 == 0 ? D3DCMP_EQUAL : 0;
      item->kind = i % 9 == 0 ? DRAW_TRIANGLES : DRAW_QUADS;
      item->texture = t == 3 ? nullptr : &textures[t];
      item->vertices = v;
      item->count = i % 50 == 0 ? 0 : 4;
      item->groupStart = 0;
      QueueItem(g, item);
    }
    PBuffer* list = &g->opaqueItems;
    const std::vector<void*> submitted(list->entries, list->entries + list->count);
    SortDrawList(g, list, depthOrder, true);
    const std::vector<void*> keyed(list->entries, list->entries + list->count);
    std::copy(submitted.begin(), submitted.end(), list->entries);
    SortDrawList(g, list, depthOrder, false);
    const std::vector<void*> compared(list->entries, list->entries + list->count);
    EXPECT_EQ(keyed, compared);
    EXPECT_NE(keyed, submitted);
    FlushDrawItems(g);
    SortDrawList(g, list, depthOrder, true);  // empty, with no work space to take
    EXPECT_EQ(list->count, 0u);
  }
}

TEST_F(FrameCallTest, NotANumberDepthsCannotDisturbTheOrderOfTheRest) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  auto quad = [&](float x, float z, DWORD colour, DWORD flags) {
    BatchVertex* v = Vertices(4, x, 10);
    v[1].x = v[2].x = x + 40;
    v[2].y = v[3].y = 50;
    for (int k = 0; k < 4; ++k) {
      v[k].z = z;
      v[k].diffuse = colour;
    }
    SubmitDrawItem(g, DRAW_QUADS, nullptr, v, 4, flags);
  };
  ASSERT_EQ(VekBeginRender(g), D3D_OK);
  VekClear(g, 0xFF000000);
  quad(10, 0.2f, 0x80FF0000, 0);  // near red
  for (int i = 0; i < 300; ++i) {
    quad(300, i % 2 ? nan : 0.5f, 0x80FFFFFF, 0);
    quad(400, i % 3 ? nan : 0.3f, 0xFFFFFFFF, DRAW_OPAQUE);
  }
  quad(10, 0.8f, 0x800000FF, 0);  // far blue
  EXPECT_EQ(VekEndRender(g), D3D_OK);
  const std::vector<DWORD> px = ReadBackBufferPixels(device);
  ASSERT_FALSE(px.empty());
  // Blue first (0, 0, 128), then red over it.
  const DWORD got = px[30 * 640 + 30] & 0xFFFFFF;
  EXPECT_NEAR(static_cast<int>(got >> 16), 0x80, 2);
  EXPECT_NEAR(static_cast<int>(got & 0xFF), 0x40, 2);
}

TEST_F(FrameCallTest, ARepeatedFrameChangesNoState) {
  for (int frame = 0; frame < 2; ++frame) {
    if (frame == 1) vrt::ClearCallLog();
    ASSERT_EQ(VekBeginRender(g), D3D_OK);
    SubmitDrawItem(g, DRAW_QUADS, nullptr, Vertices(4), 4, DRAW_OPAQUE);
    SubmitDrawItem(g, DRAW_TRIANGLES, nullptr, Vertices(3), 3, DRAW_ADDBLEND);
    EXPECT_EQ(VekEndRender(g), D3D_OK);
  }
  // The second frame differs from the first only where a run changes state.
  EXPECT_EQ(Calls("SetTexture").size(), 0u);
  EXPECT_EQ(Calls("SetTransform").size(), 0u);
  EXPECT_EQ(Calls("SetViewport").size(), 0u);
  const auto states = Calls("SetRenderState");
  ASSERT_EQ(states.size(), 2u);  // DESTBLEND back and forth between the two runs
  EXPECT_EQ(states[0].args.at(0), static_cast<uint64_t>(D3DRS_DESTBLEND));
  EXPECT_EQ(Calls("DrawPrimitive").size() + Calls("DrawIndexedPrimitive").size(), 2u);
}

TEST_F(FrameCallTest, OpaqueTextureGroupsGoNearestFirstByTheirNearestItem) {
  // Each texture's items in two states; a group's nearest item may be in
  // either state and anywhere in its submission.
  VekTexture textures[3]{};
  for (VekTexture& t : textures)
    ASSERT_EQ(CreateBlankTexture(&t, device->cache.device, 4, 4, D3DFMT_A8R8G8B8), 1);
  struct Quad {
    int texture;
    DWORD flags;
    float z;
  };
  const Quad quads[] = {{0, 0, 0.9f},          {1, 0, 0.3f},           {0, DRAW_LINEAR, 0.8f},
                        {2, 0, 0.6f},          {0, DRAW_LINEAR, 0.2f}, {1, DRAW_LINEAR, 0.4f},
                        {2, 0, 0.25f},         {0, 0, 0.5f},           {1, DRAW_LINEAR, 0.35f},
                        {2, DRAW_LINEAR, 0.7f}};
  ASSERT_EQ(VekBeginRender(g), D3D_OK);
  for (const Quad& q : quads) {
    BatchVertex* v = Vertices(4);
    for (int k = 0; k < 4; ++k) v[k].z = q.z;
    SubmitDrawItem(g, DRAW_QUADS, &textures[q.texture], v, 4, q.flags | DRAW_OPAQUE);
  }
  vrt::ClearCallLog();
  EXPECT_EQ(VekEndRender(g), D3D_OK);
  std::vector<uint64_t> order;
  for (const auto& c : Calls("SetTexture"))
    if (c.args.at(0) == 0 && (order.empty() || order.back() != c.args.at(1)))
      order.push_back(c.args.at(1));
  auto id = [&](int t) {
    return static_cast<uint64_t>(reinterpret_cast<UINT_PTR>(textures[t].tex));
  };
  // Nearest items: texture 0 at 0.2, texture 2 at 0.25, texture 1 at 0.3.
  EXPECT_EQ(order, (std::vector<uint64_t>{id(0), id(2), id(1)}));
  for (VekTexture& t : textures) ReleaseTexture(&t);
}

TEST_F(FrameCallTest, ItemsInsideTheClipBatchWithTheWholeTarget) {
  VekSetClip(g, 0, 0, 100, 100);
  ASSERT_EQ(VekBeginRender(g), D3D_OK);
  DrawItem* inside = SubmitDrawItem(g, DRAW_QUADS, nullptr, Vertices(4, 10, 10), 4, 0);
  DrawItem* outside = SubmitDrawItem(g, DRAW_QUADS, nullptr, Vertices(4, 10, 150), 4, 0);
  EXPECT_EQ(inside->state.clip[2], 640.0f);
  EXPECT_EQ(outside->state.clip[2], 100.0f);
  vrt::ClearCallLog();
  EXPECT_EQ(VekEndRender(g), D3D_OK);
  const auto viewports = Calls("SetViewport");
  // The clipped run sorts first (smaller right edge), then the whole target again.
  ASSERT_EQ(viewports.size(), 2u);
  EXPECT_EQ(viewports[0].args.at(2), 100u);
  EXPECT_EQ(viewports[1].args.at(2), 640u);
}

TEST_F(FrameCallTest, StripsAndFansKeepTheirShapes) {
  ASSERT_EQ(VekBeginRender(g), D3D_OK);
  SubmitDrawItem(g, DRAW_FAN, nullptr, Vertices(5), 5, 0);
  SubmitDrawItem(g, DRAW_FAN, nullptr, Vertices(4), 4, 0);
  SubmitDrawItem(g, DRAW_LINESTRIP, nullptr, Vertices(2), 2, 0);
  SubmitDrawItem(g, DRAW_TRIANGLES, nullptr, Vertices(2), 2, 0);  // no whole triangle: nothing
  SubmitDrawItem(g, 99, nullptr, Vertices(3), 3, 0);              // unknown kind: never drawn
  vrt::ClearCallLog();
  EXPECT_EQ(VekEndRender(g), D3D_OK);
  const auto draws = Calls("DrawPrimitive");
  ASSERT_EQ(draws.size(), 3u);
  std::vector<uint64_t> fans;
  for (const auto& d : draws)
    if (d.args.at(0) == D3DPT_TRIANGLEFAN) fans.push_back(d.args.at(2));
  std::sort(fans.begin(), fans.end());
  EXPECT_EQ(fans, (std::vector<uint64_t>{2, 3}));
}

TEST_F(FrameCallTest, LongItemsAreSplitOrRefused) {
  ASSERT_EQ(VekBeginRender(g), D3D_OK);
  BatchVertex* many = Vertices(9000);
  ASSERT_NE(SubmitDrawItem(g, DRAW_TRIANGLES, nullptr, many, 9000, 0), nullptr);
  ASSERT_EQ(g->translucentItems.count, 3u);  // 3999 + 3999 + 1002
  const std::vector<const DrawItem*> items = PendingItems(g->translucentItems);
  EXPECT_EQ(items[0]->count, 3999u);
  EXPECT_EQ(items[2]->count, 1002u);
  EXPECT_EQ(SubmitDrawItem(g, DRAW_FAN, nullptr, many, 4001, 0), nullptr);
  EXPECT_EQ(ReadError().code, -5);
  EXPECT_EQ(g->translucentItems.count, 3u);
  vrt::ClearCallLog();
  EXPECT_EQ(VekEndRender(g), D3D_OK);
  const auto draws = Calls("DrawPrimitive");
  uint64_t triangles = 0;
  for (const auto& d : draws) triangles += d.args.at(2);
  EXPECT_EQ(triangles, 3000u);
}

TEST_F(FrameCallTest, ClosingInsideAFrameLeavesNothingBehind) {
  HVEKGRAPHICS texture = VekOpenTextureGraphics(device, 64, 64, D3DFMT_A8R8G8B8);
  ASSERT_NE(texture, nullptr);
  ASSERT_EQ(VekBeginRender(texture), D3D_OK);
  auto* v = static_cast<BatchVertex*>(MemMalloc(&texture->frameMemory, 4 * sizeof(BatchVertex)));
  SubmitDrawItem(texture, DRAW_QUADS, nullptr, v, 4, 0);
  // Closing it ends its frame, so the window can begin the next one.
  EXPECT_EQ(VekCloseGraphics(texture), 1);
  ASSERT_EQ(VekBeginRender(g), D3D_OK);
  EXPECT_EQ(VekEndRender(g), D3D_OK);
}

TEST_F(FrameCallTest, BeginRenderReportsATargetItCannotSet) {
  vrt::FailCall("IDirect3DDevice8::SetRenderTarget", D3DERR_INVALIDCALL);
  HVEKGRAPHICS texture = VekOpenTextureGraphics(device, 8, 8, D3DFMT_X8R8G8B8);
  EXPECT_EQ(VekBeginRender(texture), D3DERR_INVALIDCALL);  // the failure, not D3D_OK
  EXPECT_EQ(ReadError().message, Message(GraphicsErr::kSetTarget));
  EXPECT_EQ(vrt::CountCalls("IDirect3DDevice8::BeginScene"), 0u);
  VekCloseGraphics(texture);
}

// A clear reaches only the surface's own target: while another surface's
// frame is open, or its target is set, it is refused and no Clear is made.
TEST_F(FrameCallTest, AClearNeverLandsOnAnotherSurfacesTarget) {
  HVEKGRAPHICS texture = VekOpenTextureGraphics(device, 16, 16, D3DFMT_A8R8G8B8);
  ASSERT_NE(texture, nullptr);
  ASSERT_EQ(VekBeginRender(g), D3D_OK);
  EXPECT_EQ(VekClear(g, 0xFFFF0000), D3D_OK);
  vrt::ClearCallLog();
  EXPECT_EQ(VekClear(texture, 0xFF0000FF), D3DERR_INVALIDCALL);
  EXPECT_EQ(ReadError().message, Message(GraphicsErr::kClearOther));
  EXPECT_TRUE(Calls("Clear").empty());
  EXPECT_EQ(VekEndRender(g), D3D_OK);
  std::vector<uint32_t> shown;
  ASSERT_TRUE(vrt::ReadDesktopPixels(RECT{0, 0, 4, 4}, &shown));
  for (uint32_t p : shown) EXPECT_EQ(p, 0x00FF0000u);
  // Between frames the window's target is still set.
  EXPECT_EQ(VekClear(texture, 0xFF0000FF), D3DERR_INVALIDCALL);
  ASSERT_EQ(VekBeginRender(texture), D3D_OK);
  EXPECT_EQ(VekClear(texture, 0xFF0000FF), D3D_OK);
  EXPECT_EQ(VekEndRender(texture), D3D_OK);
  EXPECT_EQ(VekClear(texture, 0xFF00FF00), D3D_OK);  // its own target, still set
  EXPECT_EQ(VekCloseGraphics(texture), 1);
}

}  // namespace
