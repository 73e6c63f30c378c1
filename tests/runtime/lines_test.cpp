// Lines and points: which pixels they light, the last-pixel rule, shared
// strip vertices and interpolation along a line.
#include "raster_test.h"

namespace {

using Lines = RasterTest;

std::vector<Vertex> Points(std::initializer_list<std::pair<float, float>> xy, DWORD color) {
  std::vector<Vertex> out;
  for (const auto& p : xy) out.push_back({p.first, p.second, 0.5f, color, 0, 0});
  return out;
}

// Pixels of the rectangle [x0, x1) x [y0, y1) not equal to 0, as "x,y" pairs.
std::vector<std::pair<int, int>> Lit(const std::vector<uint32_t>& px, int x0, int y0, int x1,
                                     int y1) {
  std::vector<std::pair<int, int>> out;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x)
      if (px[static_cast<size_t>(y) * 640 + x] & 0xFFFFFF) out.push_back({x, y});
  return out;
}

using Pixels = std::vector<std::pair<int, int>>;

TEST_F(Lines, MajorAxisStepsAndTheLastPixel) {
  device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
  ASSERT_EQ(Draw(Points({{1, 1}, {5, 1}}, 0xFFFFFFFF), D3DPT_LINELIST), D3D_OK);
  ASSERT_EQ(Draw(Points({{10, 10}, {13, 13}}, 0xFFFFFFFF), D3DPT_LINELIST), D3D_OK);
  ASSERT_EQ(Draw(Points({{20, 0}, {21, 4}}, 0xFFFFFFFF), D3DPT_LINELIST), D3D_OK);
  std::vector<uint32_t> px = ReadBack();
  EXPECT_EQ(Lit(px, 0, 0, 8, 3), (Pixels{{1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}}));
  EXPECT_EQ(Lit(px, 8, 8, 16, 16), (Pixels{{10, 10}, {11, 11}, {12, 12}, {13, 13}}));
  // At y = 2 the line is exactly between columns 20 and 21: the left one.
  EXPECT_EQ(Lit(px, 18, 0, 24, 6), (Pixels{{20, 0}, {20, 1}, {20, 2}, {21, 3}, {21, 4}}));
  // Without the last pixel, and drawn backwards.
  device->SetRenderState(D3DRS_LASTPIXEL, FALSE);
  device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
  ASSERT_EQ(Draw(Points({{1, 1}, {5, 1}}, 0xFFFFFFFF), D3DPT_LINELIST), D3D_OK);
  ASSERT_EQ(Draw(Points({{13, 13}, {10, 10}}, 0xFFFFFFFF), D3DPT_LINELIST), D3D_OK);
  px = ReadBack();
  EXPECT_EQ(Lit(px, 0, 0, 8, 3), (Pixels{{1, 1}, {2, 1}, {3, 1}, {4, 1}}));
  EXPECT_EQ(Lit(px, 8, 8, 16, 16), (Pixels{{11, 11}, {12, 12}, {13, 13}}));
}

TEST_F(Lines, StripsLightSharedVerticesOnceAndClip) {
  device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
  device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
  device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
  ASSERT_EQ(Draw(Points({{30, 10}, {34, 10}, {34, 14}}, 0xFF101010), D3DPT_LINESTRIP), D3D_OK);
  // From far off screen to the left edge region.
  ASSERT_EQ(Draw(Points({{-1e6f, 50}, {3, 50}}, 0xFF101010), D3DPT_LINELIST), D3D_OK);
  const std::vector<uint32_t> px = ReadBack();
  const Pixels strip = Lit(px, 28, 8, 40, 20);
  EXPECT_EQ(strip.size(), 9u);
  for (const auto& p : strip) EXPECT_EQ(At(px, p.first, p.second) & 0xFFFFFF, 0x101010u);
  EXPECT_EQ(Lit(px, 0, 48, 8, 52), (Pixels{{0, 50}, {1, 50}, {2, 50}, {3, 50}}));
}

TEST_F(Lines, ColoursInterpolateAndPointsTakeTheNearestPixel) {
  device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
  std::vector<Vertex> line = Points({{0, 60}, {4, 60}}, 0xFF000000);
  line[1].color = 0xFFFFFFFF;
  ASSERT_EQ(Draw(line, D3DPT_LINELIST), D3D_OK);
  ASSERT_EQ(Draw(Points({{2.3f, 3.6f}, {-5, 3}, {639.4f, 479.4f}}, 0xFFFF0000), D3DPT_POINTLIST),
            D3D_OK);
  const std::vector<uint32_t> px = ReadBack();
  EXPECT_EQ(At(px, 0, 60), 0xFF000000u);
  EXPECT_EQ(At(px, 2, 60), 0xFF808080u);
  EXPECT_EQ(At(px, 4, 60), 0xFFFFFFFFu);
  EXPECT_EQ(Lit(px, 0, 0, 8, 8), (Pixels{{2, 4}}));
  EXPECT_EQ(At(px, 639, 479), 0xFFFF0000u);
}

// Exactly between two rows or columns, a line takes the upper or left one
// and a point the upper-left pixel (the top-left rule Wine's Direct3D
// follows too); just past the middle they take the next.
TEST_F(Lines, TiesGoToTheUpperAndLeftPixels) {
  device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
  ASSERT_EQ(Draw(Points({{1, 20.5f}, {4, 20.5f}}, 0xFFFFFFFF), D3DPT_LINELIST), D3D_OK);
  ASSERT_EQ(Draw(Points({{30.5f, 1}, {30.5f, 3}}, 0xFFFFFFFF), D3DPT_LINELIST), D3D_OK);
  ASSERT_EQ(Draw(Points({{1, 40.51f}, {3, 40.51f}}, 0xFFFFFFFF), D3DPT_LINELIST), D3D_OK);
  ASSERT_EQ(Draw(Points({{50.5f, 50.5f}, {60.5f, 50.2f}, {70.7f, 50.5f}}, 0xFFFFFFFF),
                 D3DPT_POINTLIST),
            D3D_OK);
  const std::vector<uint32_t> px = ReadBack();
  EXPECT_EQ(Lit(px, 0, 18, 8, 23), (Pixels{{1, 20}, {2, 20}, {3, 20}, {4, 20}}));
  EXPECT_EQ(Lit(px, 28, 0, 33, 5), (Pixels{{30, 1}, {30, 2}, {30, 3}}));
  EXPECT_EQ(Lit(px, 0, 38, 8, 43), (Pixels{{1, 41}, {2, 41}, {3, 41}}));
  EXPECT_EQ(Lit(px, 48, 48, 80, 53), (Pixels{{50, 50}, {60, 50}, {71, 50}}));

  // Ends exactly between two pixels take the one further along the line, so
  // a line drawn backwards covers the mirror image of the forward one.
  device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
  ASSERT_EQ(Draw(Points({{1.5f, 60}, {4.5f, 60}}, 0xFFFFFFFF), D3DPT_LINELIST), D3D_OK);
  ASSERT_EQ(Draw(Points({{14.5f, 60}, {11.5f, 60}}, 0xFFFFFFFF), D3DPT_LINELIST), D3D_OK);
  EXPECT_EQ(Lit(ReadBack(), 0, 58, 20, 62),
            (Pixels{{2, 60}, {3, 60}, {4, 60}, {5, 60}, {11, 60}, {12, 60}, {13, 60}, {14, 60}}));
}

}  // namespace

namespace {

// Garbage vertices and indices of every primitive type, through every
// vertex format the draws take: nothing is written outside the target and
// nothing crashes (the sanitiser builds check the first).
TEST_F(Lines, HostileVerticesAreSurvived) {
  uint32_t seed = 12345;
  auto next = [&] {
    seed = seed * 1103515245u + 12345u;
    return seed;
  };
  const float specials[] = {0.0f,
                            -0.0f,
                            1e38f,
                            -1e38f,
                            1e-38f,
                            3e9f,
                            -7.5f,
                            639.5f,
                            std::bit_cast<float>(0x7FC00000u),
                            std::bit_cast<float>(0x7F800000u),
                            std::bit_cast<float>(0xFF800000u)};
  std::vector<uint32_t> words(24 * 64);
  for (uint32_t& w : words) {
    const uint32_t r = next();
    w = (r & 3) == 0 ? std::bit_cast<uint32_t>(specials[(r >> 8) % std::size(specials)])
                     : std::bit_cast<uint32_t>(
                           static_cast<float>(static_cast<int>(r >> 12) % 1400 - 300) * 0.73f);
  }
  std::vector<uint16_t> indices(96);
  for (uint16_t& i : indices) i = static_cast<uint16_t>(next() % 70);
  device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
  Com<IDirect3DTexture8> t{MakeTexture(2, 2, D3DFMT_A8R8G8B8, {1, 2, 3, 4})};
  device->SetTexture(0, t.get());
  device->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
  device->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
  for (DWORD fvf : {kFvf, DWORD{D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1}}) {
    ASSERT_EQ(device->SetVertexShader(fvf), D3D_OK);
    const UINT stride = fvf == kFvf ? 24 : 28;
    for (D3DPRIMITIVETYPE type : {D3DPT_TRIANGLELIST, D3DPT_TRIANGLESTRIP, D3DPT_TRIANGLEFAN,
                                  D3DPT_LINELIST, D3DPT_LINESTRIP, D3DPT_POINTLIST}) {
      EXPECT_EQ(device->DrawPrimitiveUP(type, 20, words.data(), stride), D3D_OK);
      EXPECT_EQ(device->DrawIndexedPrimitiveUP(type, 0, 64, 20, indices.data(), D3DFMT_INDEX16,
                                               words.data(), stride),
                D3D_OK);
    }
  }
  // The target is still readable and the device still draws.
  ASSERT_EQ(device->SetVertexShader(kFvf), D3D_OK);
  device->SetTexture(0, nullptr);
  device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
  Draw(Quad(0, 0, 2, 2, 0xFF445566));
  EXPECT_EQ(At(ReadBack(), 1, 1), 0xFF445566u);
}

}  // namespace
