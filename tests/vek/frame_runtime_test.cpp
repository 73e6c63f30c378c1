// The frame against the runtime's call log: how runs become draw calls and
// which state changes reach the device.
#include <vek/vek.h>

#include "gd/device.h"
#include "graphics/frame.h"
#include "graphics/graphics.h"
#include "support/surface_test.h"
#include "support/vek_test.h"

namespace {

class FrameCallTest : public WithWindowSurface<VekTest> {
 protected:
  BatchVertex* Vertices(UINT n, float x = 10, float y = 10) {
    auto* v = static_cast<BatchVertex*>(MemMalloc(&g->frameMemory, n * sizeof(BatchVertex)));
    for (UINT i = 0; i < n; ++i) v[i] = {x + static_cast<float>(i % 4), y, 0.5f, 0xFFFFFFFF, 0, 0};
    return v;
  }
  std::vector<vrt::CallRecord> Calls(const char* method) {
    std::vector<vrt::CallRecord> out;
    for (const auto& c : vrt::CallLog())
      if (c.method == std::string("IDirect3DDevice8::") + method) out.push_back(c);
    return out;
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

TEST_F(FrameCallTest, ItemsInsideTheClipBatchWithTheWholeTarget) {
  VekSetClip(g, 0, 0, 100, 100);
  ASSERT_EQ(VekBeginRender(g), D3D_OK);
  DrawItem* inside = SubmitDrawItem(g, DRAW_QUADS, nullptr, Vertices(4, 10, 10), 4, 0);
  DrawItem* outside = SubmitDrawItem(g, DRAW_QUADS, nullptr, Vertices(4, 10, 150), 4, 0);
  EXPECT_EQ(inside->clip[2], 640.0f);
  EXPECT_EQ(outside->clip[2], 100.0f);
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
  EXPECT_EQ(static_cast<DrawItem*>(g->translucentItems.entries[0])->count, 3999u);
  EXPECT_EQ(static_cast<DrawItem*>(g->translucentItems.entries[2])->count, 1002u);
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
  device->cache.device->EndScene();
  // Back to the window's target before the texture surface goes away.
  ASSERT_EQ(VekBeginRender(g), D3D_OK);
  EXPECT_EQ(VekCloseGraphics(texture), 1);
  EXPECT_EQ(VekEndRender(g), D3D_OK);
}

TEST_F(FrameCallTest, BeginRenderReportsATargetItCannotSet) {
  vrt::FailCall("IDirect3DDevice8::SetRenderTarget", D3DERR_INVALIDCALL);
  HVEKGRAPHICS texture = VekOpenTextureGraphics(device, 8, 8, D3DFMT_X8R8G8B8);
  EXPECT_EQ(VekBeginRender(texture), 0);
  EXPECT_EQ(ReadError().message, "SetRenderTarget fail");
  EXPECT_EQ(vrt::CountCalls("IDirect3DDevice8::BeginScene"), 0u);
  VekCloseGraphics(texture);
}

}  // namespace
