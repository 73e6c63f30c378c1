// Triangles: coverage and fill convention, culling, clipping, vertex and
// index sources, Gouraud colour and texture mapping.
#include <algorithm>
#include <cmath>

#include "raster_test.h"

namespace {

using Coverage = RasterTest;

TEST_F(Coverage, PixelCentresInsideFollowTheTopLeftRule) {
  device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
  ASSERT_EQ(Draw(Quad(0, 0, 4, 4, 0xFFFFFFFF)), D3D_OK);
  ASSERT_EQ(Draw(Quad(10.5f, 10.5f, 12.5f, 12.5f, 0xFFFFFFFF)), D3D_OK);
  ASSERT_EQ(Draw(Quad(-0.5f + 20, -0.5f + 20, 1.5f + 20, 1.5f + 20, 0xFFFFFFFF)), D3D_OK);
  const std::vector<uint32_t> px = ReadBack();
  // Edges through pixel centres: left and top taken, right and bottom not.
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 6; ++x)
      EXPECT_EQ(At(px, x, y), x < 4 && y < 4 ? 0xFFFFFFFFu : 0u) << x << "," << y;
  for (int y = 9; y < 15; ++y)
    for (int x = 9; x < 15; ++x)
      EXPECT_EQ(At(px, x, y), x >= 11 && x <= 12 && y >= 11 && y <= 12 ? 0xFFFFFFFFu : 0u)
          << x << "," << y;
  EXPECT_EQ(At(px, 20, 20), 0xFFFFFFFFu);
  EXPECT_EQ(At(px, 21, 21), 0xFFFFFFFFu);
  EXPECT_EQ(At(px, 19, 20), 0u);
  EXPECT_EQ(At(px, 22, 21), 0u);
}

TEST_F(Coverage, SharedEdgesCoverEveryPixelExactlyOnce) {
  device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
  device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
  device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
  // A fan of uneven slices around an off-grid centre, both windings mixed.
  const float cx = 100.3f, cy = 100.7f, r = 40.37f;
  std::vector<Vertex> fan{{cx, cy, 0.5f, 0xFF101010, 0, 0}};
  const float angles[] = {0.0f, 0.3f, 1.1f, 1.2f, 2.0f, 2.9f, 3.3f, 4.0f, 4.71f, 5.5f, 6.2831853f};
  for (float a : angles)
    fan.push_back({cx + r * std::cos(a), cy + r * std::sin(a), 0.5f, 0xFF101010, 0, 0});
  ASSERT_EQ(Draw(fan, D3DPT_TRIANGLEFAN), D3D_OK);
  // A strip of thin slivers next to it.
  std::vector<Vertex> strip;
  for (int i = 0; i < 20; ++i) {
    strip.push_back({200.0f + i * 3.37f, 60.1f + (i % 3) * 0.7f, 0.5f, 0xFF101010, 0, 0});
    strip.push_back({201.9f + i * 3.37f, 140.6f - (i % 2) * 1.3f, 0.5f, 0xFF101010, 0, 0});
  }
  ASSERT_EQ(Draw(strip, D3DPT_TRIANGLESTRIP), D3D_OK);
  // Quads on whole pixels: their edges and diagonals run through centres.
  for (int qy = 0; qy < 2; ++qy)
    for (int qx = 0; qx < 2; ++qx) {
      const float x0 = 300.0f + qx * 10, y0 = 100.0f + qy * 10;
      ASSERT_EQ(Draw(Quad(x0, y0, x0 + 10, y0 + 10, 0xFF101010)), D3D_OK);
    }
  const std::vector<uint32_t> px = ReadBack();
  for (int y = 99; y < 121; ++y)
    for (int x = 299; x < 321; ++x) {
      const bool in = x >= 300 && x < 320 && y >= 100 && y < 120;
      EXPECT_EQ(At(px, x, y) & 0xFFFFFF, in ? 0x101010u : 0u) << x << "," << y;
    }
  int covered = 0;
  for (int y = 50; y < 150; ++y)
    for (int x = 50; x < 280; ++x) {
      const uint32_t v = At(px, x, y) & 0xFFFFFF;
      ASSERT_TRUE(v == 0 || v == 0x101010) << x << "," << y << " " << std::hex << v;
      covered += v != 0;
      const float dx = x - cx, dy = y - cy;
      const bool inside =
          dx * dx + dy * dy < 35.0f * 35.0f || (x >= 205 && x <= 260 && y >= 63 && y <= 138);
      if (inside) {
        EXPECT_EQ(v, 0x101010u) << x << "," << y;
      }
    }
  EXPECT_GT(covered, 5000);
}

TEST_F(Coverage, CullModesDropOneWinding) {
  const std::vector<Vertex> cw = {{0, 0, 0.5f, 0xFFFFFFFF, 0, 0},
                                  {10, 0, 0.5f, 0xFFFFFFFF, 0, 0},
                                  {0, 10, 0.5f, 0xFFFFFFFF, 0, 0}};
  const std::vector<Vertex> ccw = {cw[0], cw[2], cw[1]};
  struct Case {
    DWORD mode;
    bool cwDrawn, ccwDrawn;
  };
  for (const Case c : {Case{D3DCULL_CCW, true, false}, Case{D3DCULL_CW, false, true},
                       Case{D3DCULL_NONE, true, true}}) {
    device->SetRenderState(D3DRS_CULLMODE, c.mode);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
    Draw(cw);
    EXPECT_EQ(At(ReadBack(), 2, 2) != 0, c.cwDrawn) << c.mode;
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
    Draw(ccw);
    EXPECT_EQ(At(ReadBack(), 2, 2) != 0, c.ccwDrawn) << c.mode;
  }
}

TEST_F(Coverage, ClipsToTheViewportAndTheNearPlane) {
  device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
  D3DVIEWPORT8 vp{100, 100, 50, 50, 0.0f, 1.0f};
  ASSERT_EQ(device->SetViewport(&vp), D3D_OK);
  Ortho(50, 50);
  // Far outside the viewport on every side, and huge.
  ASSERT_EQ(Draw(Quad(-1e6f, -1e6f, 1e6f, 1e6f, 0xFFFFFFFF)), D3D_OK);
  std::vector<uint32_t> px = ReadBack();
  EXPECT_EQ(At(px, 99, 120), 0u);
  EXPECT_EQ(At(px, 100, 100), 0xFFFFFFFFu);
  EXPECT_EQ(At(px, 149, 149), 0xFFFFFFFFu);
  EXPECT_EQ(At(px, 150, 149), 0u);
  EXPECT_EQ(At(px, 149, 150), 0u);

  vp = D3DVIEWPORT8{0, 0, 640, 480, 0.0f, 1.0f};
  device->SetViewport(&vp);
  Ortho(640, 480);
  device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
  // z runs from -0.5 at x = 0 to 0.5 at x = 100: the left half is cut away.
  std::vector<Vertex> q = Quad(0, 0, 100, 10, 0xFFFFFFFF);
  for (Vertex& v : q) v.z = v.x == 0 ? -0.5f : 0.5f;
  ASSERT_EQ(Draw(q), D3D_OK);
  // And a quad entirely beyond the far plane vanishes.
  ASSERT_EQ(Draw(Quad(0, 20, 100, 30, 0xFFFFFFFF, 1.5f)), D3D_OK);
  px = ReadBack();
  EXPECT_EQ(At(px, 45, 5), 0u);
  EXPECT_EQ(At(px, 55, 5), 0xFFFFFFFFu);
  EXPECT_EQ(At(px, 50, 25), 0u);

  // Corners far beyond the fixed-point range to the right and below, one
  // at a time and together: what reaches the viewport is still drawn.
  for (const float far : {5e7f, 3e9f}) {
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
    ASSERT_EQ(Draw({{100, 100, 0.5f, 0xFFFFFFFF, 0, 0},
                    {far, 100, 0.5f, 0xFFFFFFFF, 0, 0},
                    {100, far, 0.5f, 0xFFFFFFFF, 0, 0}}),
              D3D_OK);
    px = ReadBack();
    EXPECT_EQ(At(px, 99, 200), 0u) << far;
    EXPECT_EQ(At(px, 300, 300), 0xFFFFFFFFu) << far;
    EXPECT_EQ(At(px, 639, 479), 0xFFFFFFFFu) << far;
  }
}

// Random triangles and quads, many with level or upright edges on or near
// pixel centres, counted pixel by pixel against the fill rule written out:
// a centre is inside when every edge function of the snapped corners is
// positive, or zero on a top or left edge. Both the general span path (ONE,
// ONE) and the sprite loop (SRCALPHA, ONE), which walks a quad's halves
// together, are checked.
TEST_F(Coverage, LevelAndUprightEdgesFollowTheFillRuleOnEveryPath) {
  struct Rhw {
    float x, y, z, rhw;
    DWORD color;
  };
  ASSERT_EQ(device->SetVertexShader(D3DFVF_XYZRHW | D3DFVF_DIFFUSE), D3D_OK);
  device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  uint32_t mix = 7;
  auto next = [&](uint32_t n) {
    mix = mix * 1664525u + 1013904223u;
    return (mix >> 8) % n;
  };
  // On the 1/256 grid (snapping is exact), often on a centre or a step off it.
  auto coord = [&](int lo, int span) {
    const float whole =
        static_cast<float>(lo + static_cast<int>(next(static_cast<uint32_t>(span))));
    const int kind = static_cast<int>(next(4));
    return kind == 0   ? whole
           : kind == 1 ? whole + (next(2) ? 1.0f : -1.0f) / 256.0f
                       : whole + static_cast<float>(next(256)) / 256.0f;
  };
  for (const DWORD src : {D3DBLEND_ONE, D3DBLEND_SRCALPHA}) {
    device->SetRenderState(D3DRS_SRCBLEND, src);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
    std::vector<int> want(640 * 480, 0);
    std::vector<Rhw> tris;
    auto expect = [&](const float(&x)[3], const float(&y)[3]) {
      int64_t X[3], Y[3];
      for (int i = 0; i < 3; ++i) {
        X[i] = static_cast<int64_t>(std::lround(x[i] * 256.0f));
        Y[i] = static_cast<int64_t>(std::lround(y[i] * 256.0f));
      }
      const int64_t area = (X[1] - X[0]) * (Y[2] - Y[0]) - (X[2] - X[0]) * (Y[1] - Y[0]);
      if (area == 0) return;
      if (area < 0) std::swap(X[1], X[2]), std::swap(Y[1], Y[2]);
      const int64_t x0 = std::min({X[0], X[1], X[2]}) / 256 - 1,
                    x1 = std::max({X[0], X[1], X[2]}) / 256 + 1;
      const int64_t y0 = std::min({Y[0], Y[1], Y[2]}) / 256 - 1,
                    y1 = std::max({Y[0], Y[1], Y[2]}) / 256 + 1;
      for (int64_t py = std::max<int64_t>(y0, 0); py <= std::min<int64_t>(y1, 479); ++py)
        for (int64_t px = std::max<int64_t>(x0, 0); px <= std::min<int64_t>(x1, 639); ++px) {
          bool in = true;
          for (int e = 0; e < 3 && in; ++e) {
            const int b = (e + 1) % 3;
            const int64_t dx = X[b] - X[e], dy = Y[b] - Y[e];
            const int64_t f = dx * (py * 256 - Y[e]) - dy * (px * 256 - X[e]);
            in = f > 0 || (f == 0 && (dy < 0 || (dy == 0 && dx > 0)));
          }
          want[static_cast<size_t>(py) * 640 + px] += in;
        }
    };
    auto add = [&](const float(&x)[3], const float(&y)[3]) {
      for (int i = 0; i < 3; ++i) tris.push_back({x[i], y[i], 0.5f, 1.0f, 0xFF010101});
      expect(x, y);
    };
    for (int i = 0; i < 150; ++i) {
      // Corners partly beyond the target's edges too.
      const float x0 = coord(-8, 640), y0 = coord(-8, 480);
      const float x1 = x0 + coord(1, 30), y1 = y0 + coord(1, 30);
      switch (i % 5) {
        case 0: {  // an upright quad, either winding, split on either diagonal
          if (next(2)) {
            add({x0, x1, x1}, {y0, y0, y1});
            add({x0, x1, x0}, {y0, y1, y1});
          } else {
            add({x0, x0, x1}, {y0, y1, y1});
            add({x0, x1, x1}, {y0, y1, y0});
          }
          break;
        }
        case 1:  // a right triangle with its level and upright edges anywhere
          add({x0, next(2) ? x1 : x0, x1}, {y0, y1, next(2) ? y0 : y1});
          break;
        case 2:  // one level edge, the third corner above or below
          add({x0, x1, coord(-8, 640)}, {y0, y0, next(2) ? y1 : y0 - coord(1, 30)});
          break;
        case 3:  // a sliver under a pixel high, its level edge on a row of centres
          add({std::floor(x0), x1, x0}, {std::floor(y0), std::floor(y0),
                                         std::floor(y0) + (next(2) ? 1.0f : -1.0f) * coord(0, 1)});
          break;
        default:  // a turned quad
          add({x0, x1, x1 - 5.25f}, {y0, y0 + 3.5f, y1});
          add({x0, x1 - 5.25f, x0 - 5.25f}, {y0, y1, y1 - 3.5f});
      }
    }
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, static_cast<UINT>(tris.size() / 3),
                                      tris.data(), sizeof(Rhw)),
              D3D_OK);
    const std::vector<uint32_t> px = ReadBack();
    int wrong = 0;
    for (int y = 0; y < 480; ++y)
      for (int x = 0; x < 640; ++x) {
        const int got = static_cast<int>(At(px, x, y) & 0xFF);
        const int w = want[static_cast<size_t>(y) * 640 + x];
        if (got != w && ++wrong <= 5)
          ADD_FAILURE() << src << ": " << x << "," << y << " " << got << " " << w;
      }
    EXPECT_EQ(wrong, 0) << src;
  }
}

using Sources = RasterTest;

TEST_F(Sources, IndexedDrawsReadIndicesWithTheBaseVertex) {
  const std::vector<Vertex> q = Quad(0, 0, 8, 8, 0xFF00FF00);
  // Two junk vertices, then the corners of the quad.
  const Vertex verts[6] = {
      {1e9f, 1e9f, 0, 0, 0, 0}, {1e9f, 1e9f, 0, 0, 0, 0}, q[0], q[1], q[2], q[5]};
  Com<IDirect3DVertexBuffer8> vb;
  ASSERT_EQ(device->CreateVertexBuffer(sizeof(verts), 0, kFvf, D3DPOOL_MANAGED, vb.out()), D3D_OK);
  BYTE* data = nullptr;
  ASSERT_EQ(vb->Lock(0, 0, &data, 0), D3D_OK);
  std::memcpy(data, verts, sizeof(verts));
  vb->Unlock();
  ASSERT_EQ(device->SetStreamSource(0, vb.get(), sizeof(Vertex)), D3D_OK);
  for (D3DFORMAT format : {D3DFMT_INDEX16, D3DFMT_INDEX32}) {
    const uint32_t idx[6] = {0, 1, 2, 0, 2, 3};
    Com<IDirect3DIndexBuffer8> ib;
    const UINT size = format == D3DFMT_INDEX16 ? 2 : 4;
    ASSERT_EQ(device->CreateIndexBuffer(6 * size, 0, format, D3DPOOL_MANAGED, ib.out()), D3D_OK);
    ASSERT_EQ(ib->Lock(0, 0, &data, 0), D3D_OK);
    for (int i = 0; i < 6; ++i) std::memcpy(data + i * size, &idx[i], size);
    ib->Unlock();
    ASSERT_EQ(device->SetIndices(ib.get(), 2), D3D_OK);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
    ASSERT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 4, 0, 2), D3D_OK);
    std::vector<uint32_t> px = ReadBack();
    EXPECT_EQ(At(px, 0, 0), 0xFF00FF00u);
    EXPECT_EQ(At(px, 7, 7), 0xFF00FF00u);
    EXPECT_EQ(At(px, 8, 7), 0u);
    // From the second index on: one triangle, the lower left.
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
    ASSERT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 4, 3, 1), D3D_OK);
    px = ReadBack();
    EXPECT_EQ(At(px, 1, 6), 0xFF00FF00u);
    EXPECT_EQ(At(px, 6, 1), 0u);
    device->SetIndices(nullptr, 0);
  }
  // Indices into user memory, one of them out of range: that triangle is dropped.
  const uint16_t up[6] = {2, 3, 4, 2, 4, 60000};
  device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
  ASSERT_EQ(device->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 2, 4, 2, up, D3DFMT_INDEX16, verts,
                                           sizeof(Vertex)),
            D3D_OK);
  std::vector<uint32_t> px = ReadBack();
  EXPECT_EQ(At(px, 6, 1), 0xFF00FF00u);
  EXPECT_EQ(At(px, 1, 6), 0u);
  // A fan from a vertex buffer.
  device->SetStreamSource(0, vb.get(), sizeof(Vertex));
  device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
  ASSERT_EQ(device->DrawPrimitive(D3DPT_TRIANGLEFAN, 2, 2), D3D_OK);
  px = ReadBack();
  EXPECT_EQ(At(px, 1, 6), 0xFF00FF00u);
  EXPECT_EQ(At(px, 6, 1), 0xFF00FF00u);
  device->SetStreamSource(0, nullptr, 0);
}

TEST_F(Sources, PretransformedVerticesAndPerspective) {
  struct Rhw {
    float x, y, z, rhw;
    DWORD color;
  };
  ASSERT_EQ(device->SetVertexShader(D3DFVF_XYZRHW | D3DFVF_DIFFUSE), D3D_OK);
  const Rhw v[4] = {{-0.5f, -0.5f, 0, 1, 0xFFFF0000},
                    {3.5f, -0.5f, 0, 1, 0xFFFF0000},
                    {3.5f, 3.5f, 0, 1, 0xFFFF0000},
                    {-0.5f, 3.5f, 0, 1, 0xFFFF0000}};
  device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
  ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, v, sizeof(Rhw)), D3D_OK);
  std::vector<uint32_t> px = ReadBack();
  EXPECT_EQ(At(px, 0, 0), 0xFFFF0000u);
  EXPECT_EQ(At(px, 3, 3), 0xFFFF0000u);
  EXPECT_EQ(At(px, 4, 3), 0u);

  // A perspective projection: a square at z = 2 in front of the eye lands
  // centred, halved in size by the divide.
  ASSERT_EQ(device->SetVertexShader(kFvf), D3D_OK);
  D3DMATRIX proj{};
  proj._11 = 1.0f;
  proj._22 = 480.0f / 640.0f * 640.0f / 480.0f;
  proj._33 = 1.0f;
  proj._34 = 1.0f;
  proj._43 = -0.5f;
  device->SetTransform(D3DTS_PROJECTION, &proj);
  device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
  ASSERT_EQ(Draw(Quad(-1, 1, 1, -1, 0xFF0000FF, 2.0f)), D3D_OK);
  px = ReadBack();
  // x = +-1 at w = 2 -> ndc +-0.5 -> screen 160..480; y -> 120..360.
  EXPECT_EQ(At(px, 161, 121), 0xFF0000FFu);
  EXPECT_EQ(At(px, 478, 358), 0xFF0000FFu);
  EXPECT_EQ(At(px, 158, 240), 0u);
  EXPECT_EQ(At(px, 320, 362), 0u);
}

TEST_F(Sources, VerticesHalfwayBetweenSubpixelsRoundUp) {
  // x = 10 + 1/512 lies halfway between two of the 256 sub-pixel steps: it
  // snaps up, just right of the centre of column 10, so the quad starts at
  // column 11 and takes column 20 whose centre its right edge passes.
  // Rounding halves to even or down would put the left edge on column 10's
  // centre and the right edge on column 20's.
  struct Rhw {
    float x, y, z, rhw;
    DWORD color;
  };
  ASSERT_EQ(device->SetVertexShader(D3DFVF_XYZRHW | D3DFVF_DIFFUSE), D3D_OK);
  const float half = 1.0f / 512.0f, x0 = 10.0f + half, x1 = 20.0f + half;
  const Rhw v[4] = {{x0, 10, 0, 1, 0xFF00FF00},
                    {x1, 10, 0, 1, 0xFF00FF00},
                    {x1, 12, 0, 1, 0xFF00FF00},
                    {x0, 12, 0, 1, 0xFF00FF00}};
  device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
  ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, v, sizeof(Rhw)), D3D_OK);
  const std::vector<uint32_t> px = ReadBack();
  for (int y = 9; y < 13; ++y)
    for (int x = 8; x < 23; ++x)
      EXPECT_EQ(At(px, x, y), x >= 11 && x <= 20 && y >= 10 && y < 12 ? 0xFF00FF00u : 0u)
          << x << "," << y;
}

using Shading = RasterTest;

TEST_F(Shading, GouraudInterpolatesAndFlatTakesTheFirstVertex) {
  device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
  std::vector<Vertex> q = Quad(0, 0, 256, 4, 0xFF000000);
  for (Vertex& v : q) v.color = v.x > 0 ? 0xFFFFFFFF : 0xFF000000;
  ASSERT_EQ(Draw(q), D3D_OK);
  std::vector<uint32_t> px = ReadBack();
  EXPECT_EQ(At(px, 0, 1), 0xFF000000u);
  EXPECT_EQ(At(px, 10, 1), 0xFF0A0A0Au);   // 9.96 rounds to 10
  EXPECT_EQ(At(px, 100, 2), 0xFF646464u);  // 99.6 -> 100
  EXPECT_EQ(At(px, 255, 3), 0xFFFEFEFEu);  // 254.0
  device->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_FLAT);
  q[0].color = 0xFF123456;
  q[3].color = 0xFF654321;
  ASSERT_EQ(Draw(q), D3D_OK);
  px = ReadBack();
  EXPECT_EQ(At(px, 200, 0), 0xFF123456u);
  EXPECT_EQ(At(px, 10, 3), 0xFF654321u);
}

TEST_F(Shading, TexelsMapOneToOneAtHalfPixelOffsets) {
  std::vector<uint32_t> texels(16);
  for (uint32_t i = 0; i < 16; ++i) texels[i] = 0xFF000000u | (i * 0x0A0B0Cu);
  Com<IDirect3DTexture8> t{MakeTexture(4, 4, D3DFMT_A8R8G8B8, texels)};
  ASSERT_EQ(device->SetTexture(0, t.get()), D3D_OK);
  device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
  ASSERT_EQ(Draw(Quad(-0.5f, -0.5f, 3.5f, 3.5f, 0xFFFFFFFF)), D3D_OK);
  ASSERT_EQ(Draw(Quad(99.5f, 49.5f, 103.5f, 53.5f, 0xFFFFFFFF)), D3D_OK);
  // Twice the size: each texel covers 2 x 2 pixels.
  ASSERT_EQ(Draw(Quad(199.5f, 49.5f, 207.5f, 57.5f, 0xFFFFFFFF)), D3D_OK);
  const std::vector<uint32_t> px = ReadBack();
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) {
      EXPECT_EQ(At(px, x, y), texels[y * 4 + x]) << x << "," << y;
      EXPECT_EQ(At(px, 100 + x, 50 + y), texels[y * 4 + x]) << x << "," << y;
    }
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(At(px, 200 + x, 50 + y), texels[(y / 2) * 4 + x / 2]);
  device->SetTexture(0, nullptr);
}

TEST_F(Shading, TextureCoordinatesArePerspectiveCorrect) {
  struct Rhw {
    float x, y, z, rhw;
    DWORD color;
    float u, v;
  };
  std::vector<uint32_t> texels(8);
  for (uint32_t i = 0; i < 8; ++i) texels[i] = 0xFF000000u | (i * 0x20) << 16;
  Com<IDirect3DTexture8> t{MakeTexture(8, 1, D3DFMT_A8R8G8B8, texels)};
  device->SetTexture(0, t.get());
  device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  ASSERT_EQ(device->SetVertexShader(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1), D3D_OK);
  // The right edge is four times as far: w = 4 there.
  const Rhw v[4] = {{-0.5f, -0.5f, 0.5f, 1.0f, 0xFFFFFFFF, 0, 0},
                    {3.5f, -0.5f, 0.5f, 0.25f, 0xFFFFFFFF, 1, 0},
                    {3.5f, 0.5f, 0.5f, 0.25f, 0xFFFFFFFF, 1, 1},
                    {-0.5f, 0.5f, 0.5f, 1.0f, 0xFFFFFFFF, 0, 1}};
  device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
  ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, v, sizeof(Rhw)), D3D_OK);
  const std::vector<uint32_t> px = ReadBack();
  // u = 0.25 s / (1 - 0.75 s) at screen fraction s: texels 0, 1, 2, 5
  // (affine mapping would give 0, 3, 5, 7).
  const int expected[4] = {0, 1, 2, 5};
  for (int x = 0; x < 4; ++x) EXPECT_EQ(At(px, x, 0), texels[expected[x]]) << x;
  device->SetTexture(0, nullptr);
}

TEST_F(Shading, SixteenAndThirtyTwoBitTexturesExpand) {
  struct Case {
    D3DFORMAT format;
    uint32_t raw, argb;
  };
  const Case cases[] = {
      {D3DFMT_R5G6B5, 0xF81F, 0xFFFF00FF},      {D3DFMT_R5G6B5, 0x8410, 0xFF848284},
      {D3DFMT_X1R5G5B5, 0x03E0, 0xFF00FF00},    {D3DFMT_A1R5G5B5, 0x7C00, 0x00FF0000},
      {D3DFMT_A4R4G4B4, 0x8F07, 0x88FF0077},    {D3DFMT_X8R8G8B8, 0x00123456, 0xFF123456},
      {D3DFMT_A8R8G8B8, 0x12345678, 0x12345678}};
  device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  for (const Case& c : cases) {
    Com<IDirect3DTexture8> t{MakeTexture(1, 1, c.format, {c.raw})};
    device->SetTexture(0, t.get());
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
    Draw(Quad(0, 0, 2, 2, 0xFFFFFFFF));
    EXPECT_EQ(At(ReadBack(), 1, 1), c.argb) << "format " << c.format;
  }
  device->SetTexture(0, nullptr);
}

TEST_F(Shading, LinearFilteringAndAddressModes) {
  Com<IDirect3DTexture8> t{MakeTexture(2, 1, D3DFMT_A8R8G8B8, {0xFF000000, 0xFFFFFFFF})};
  device->SetTexture(0, t.get());
  device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  device->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
  device->SetTextureStageState(0, D3DTSS_ADDRESSU, D3DTADDRESS_CLAMP);
  device->SetTextureStageState(0, D3DTSS_ADDRESSV, D3DTADDRESS_CLAMP);
  device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
  ASSERT_EQ(Draw(Quad(-0.5f, -0.5f, 3.5f, 0.5f, 0xFFFFFFFF)), D3D_OK);
  std::vector<uint32_t> px = ReadBack();
  EXPECT_EQ(At(px, 0, 0), 0xFF000000u);
  EXPECT_EQ(At(px, 1, 0), 0xFF404040u);
  EXPECT_EQ(At(px, 2, 0), 0xFFBFBFBFu);
  EXPECT_EQ(At(px, 3, 0), 0xFFFFFFFFu);
  // Point sampling past the edge: wrap repeats, clamp holds the last texel.
  device->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_POINT);
  std::vector<Vertex> q = Quad(-0.5f, 9.5f, 7.5f, 10.5f, 0xFFFFFFFF);
  for (Vertex& v : q) v.u *= 4.0f;  // u runs 0..4 over 8 pixels
  Draw(q);
  device->SetTextureStageState(0, D3DTSS_ADDRESSU, D3DTADDRESS_WRAP);
  for (Vertex& v : q) v.y += 2;
  Draw(q);
  px = ReadBack();
  const uint32_t b = 0xFF000000u, w = 0xFFFFFFFFu;
  const uint32_t clamp[8] = {b, w, w, w, w, w, w, w}, wrap[8] = {b, w, b, w, b, w, b, w};
  for (int x = 0; x < 8; ++x) {
    EXPECT_EQ(At(px, x, 10), clamp[x]) << x;
    EXPECT_EQ(At(px, x, 12), wrap[x]) << x;
  }
  device->SetTexture(0, nullptr);
}

TEST_F(Shading, StageOperationsCombineTextureAndDiffuse) {
  Com<IDirect3DTexture8> t{MakeTexture(1, 1, D3DFMT_A8R8G8B8, {0x80808080})};
  struct Case {
    DWORD colorOp, alphaOp;
    bool textured;
    uint32_t expected;
  };
  const DWORD diffuse = 0xFF4080C0;
  const Case cases[] = {
      {D3DTOP_MODULATE, D3DTOP_SELECTARG1, true, 0x80204060},  // round(a * b / 255)
      {D3DTOP_ADD, D3DTOP_SELECTARG2, true, 0xFFC0FFFF},       // saturated
      {D3DTOP_SELECTARG1, D3DTOP_MODULATE, true, 0x80808080},
      {D3DTOP_SELECTARG2, D3DTOP_ADD, true, 0xFF4080C0},
      {D3DTOP_MODULATE2X, D3DTOP_SELECTARG1, true, 0x804080C0},
      {D3DTOP_SUBTRACT, D3DTOP_SELECTARG1, true, 0x80400000},
      // Without a texture MODULATE and ADD of TEXTURE and DIFFUSE give diffuse.
      {D3DTOP_MODULATE, D3DTOP_SELECTARG1, false, 0xFF4080C0},
      {D3DTOP_ADD, D3DTOP_MODULATE, false, 0xFF4080C0},
  };
  for (const Case& c : cases) {
    device->SetTexture(0, c.textured ? t.get() : nullptr);
    device->SetTextureStageState(0, D3DTSS_COLOROP, c.colorOp);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, c.alphaOp);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
    Draw(Quad(0, 0, 2, 2, diffuse));
    EXPECT_EQ(At(ReadBack(), 1, 1), c.expected) << c.colorOp << " " << c.alphaOp;
  }
  // A second stage modulates by the texture factor.
  device->SetTexture(0, t.get());
  device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
  device->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_CURRENT);
  device->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_TFACTOR);
  device->SetRenderState(D3DRS_TEXTUREFACTOR, 0xFF00FF80);
  Draw(Quad(0, 0, 2, 2, diffuse));
  EXPECT_EQ(At(ReadBack(), 1, 1), 0x80008040u);
  device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
  device->SetTexture(0, nullptr);
}

TEST_F(Shading, DefaultLightingWithoutLightsGivesAmbientAndEmissive) {
  device->SetRenderState(D3DRS_LIGHTING, TRUE);
  D3DMATERIAL8 m{};
  m.Emissive = {0.2f, 0.0f, 0.0f, 0.0f};
  m.Ambient = {1.0f, 1.0f, 1.0f, 1.0f};
  device->SetMaterial(&m);
  device->SetRenderState(D3DRS_AMBIENT, 0xFF004000);
  device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
  Draw(Quad(0, 0, 2, 2, 0x80FFFFFF));
  // Red 0.2 * 255 = 51, green 64; alpha from the vertex colour.
  EXPECT_EQ(At(ReadBack(), 1, 1), 0x80334000u);
}

}  // namespace
