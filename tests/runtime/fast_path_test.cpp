// The rasteriser's dedicated span loops and its sharing of rows of large
// draws against the general per-pixel path: random scenes drawn both ways
// must leave identical colour and depth buffers.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "raster_test.h"

namespace {

constexpr UINT kW = 256, kH = 192;

struct Scene {
  const char* name;
  D3DFORMAT target = D3DFMT_A8R8G8B8;
  D3DFORMAT depth = D3DFMT_D16_LOCKABLE;
  bool blend = true;
  DWORD srcBlend = D3DBLEND_SRCALPHA, dstBlend = D3DBLEND_INVSRCALPHA;
  bool zenable = true, zwrite = true;
  DWORD zfunc = D3DCMP_LESSEQUAL;
  bool alphaTest = false;
  DWORD alphaFunc = D3DCMP_GREATER, alphaRef = 0x60;
  DWORD filter = D3DTEXF_POINT;
  DWORD address = D3DTADDRESS_WRAP;
  DWORD writeMask = 0xF;
  DWORD colorArg2 = D3DTA_DIFFUSE;
  UINT texW = 16, texH = 16;
  bool perspective = false;  // w varies with z
  float uvScale = 1.0f;      // large values reach the clamp of texel coordinates
  int smallTriangles = 0;    // more in the first draw than are kept for the pool at once
  bool textured = true;      // false: stage 0 passes the diffuse colour on
  bool spriteQuads = false;  // sprite quads only, drawn as the library draws them
};

// The index of the first value that differs (or the shorter length), -1 when equal.
template <typename T>
long FirstDifference(const std::vector<T>& a, const std::vector<T>& b) {
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
    if (a[i] != b[i]) return static_cast<long>(i);
  return a.size() == b.size() ? -1 : static_cast<long>(std::min(a.size(), b.size()));
}

class FastPathTest : public RasterTest {
 protected:
  void TearDown() override {
    vrt::SetRasterFastPaths(true);
    vrt::SetRasterThreads(0);
    vrt::SetRasterWideVectors(true);
    RasterTest::TearDown();
  }

  struct Frame {
    std::vector<uint32_t> color;
    std::vector<uint16_t> depth;  // empty unless the depth buffer can be locked
  };

  // Sprites as 2-D drawing makes them: flat colour and depth per quad,
  // mostly one texel per pixel on pixel centres, some rotated, scaled,
  // mirrored or at fractional positions, their two triangles in the
  // orders a host may use (and a few whose halves disagree on texels).
  static std::vector<Vertex> SpriteQuads(const Scene& sc, std::mt19937& random) {
    std::vector<Vertex> v;
    auto real = [&](float lo, float hi) {
      return std::uniform_real_distribution<float>(lo, hi)(random);
    };
    for (int q = 0; q < 400; ++q) {
      const int kind = static_cast<int>(random() % 10);
      const bool exact = kind < 6;  // 1:1, on pixel centres
      // Now and then the second triangle reads texels one column over.
      const bool shifted = exact && random() % 6 == 0;
      const UINT tw = sc.texW, th = sc.texH;
      // Exact ones mostly inside the texture, where spans read runs of texels.
      const UINT wMax = shifted ? tw - 2 : exact ? tw : 40, hMax = exact ? th : 30;
      const UINT w = 1 + static_cast<UINT>(random() % wMax),
                 h = 1 + static_cast<UINT>(random() % hMax);
      const float scale = exact ? 1.0f : real(0.3f, 3.0f);
      const float angle = kind < 7 ? 0.0f : kind == 7 ? 1.5707964f : real(-3.2f, 3.2f);
      const float x = exact ? static_cast<float>(random() % (kW + 40)) - 20.5f : real(-20, kW + 20);
      const float y = exact ? static_cast<float>(random() % (kH + 40)) - 20.5f : real(-20, kH + 20);
      const UINT tx = shifted ? 1 : static_cast<UINT>(random() % (exact ? tw - w + 1 : 2 * tw));
      const UINT ty = static_cast<UINT>(random() % (exact ? th - h + 1 : 2 * th));
      float u0 = static_cast<float>(tx) / static_cast<float>(tw);
      float v0 = static_cast<float>(ty) / static_cast<float>(th);
      if (kind == 9) u0 += real(-0.01f, 0.01f), v0 += real(-0.01f, 0.01f);
      float u1 = u0 + static_cast<float>(w) / static_cast<float>(tw);
      float v1 = v0 + static_cast<float>(h) / static_cast<float>(th);
      if (random() % 8 == 0) std::swap(u0, u1);  // mirrored
      if (random() % 8 == 0) std::swap(v0, v1);  // upside down
      const DWORD c = random() % 3 == 0 ? 0xFFFFFFFFu : static_cast<DWORD>(random());
      const float zq = real(-0.05f, 1.05f);
      const float cs = std::cos(angle) * scale, sn = std::sin(angle) * scale;
      const float fw = static_cast<float>(w), fh = static_cast<float>(h);
      auto corner = [&](float dx, float dy, float u, float tv) {
        return Vertex{x + dx * cs - dy * sn, y + dx * sn + dy * cs, zq, c, u, tv};
      };
      const Vertex k[4] = {corner(0, 0, u0, v0), corner(fw, 0, u1, v0), corner(fw, fh, u1, v1),
                           corner(0, fh, u0, v1)};
      static const int kOrders[4][6] = {
          {0, 1, 2, 2, 3, 0}, {0, 1, 2, 0, 2, 3}, {0, 3, 2, 2, 1, 0}, {1, 2, 3, 3, 0, 1}};
      const float shift = shifted ? (random() % 2 ? 1.0f : -1.0f) / static_cast<float>(tw) : 0.0f;
      const int* order = kOrders[random() % 4];
      for (int i = 0; i < 6; ++i) {
        v.push_back(k[order[i]]);
        if (i >= 3) v.back().u += shift;
      }
    }
    return v;
  }
  Frame Render(const Scene& sc, bool fast, unsigned seed) {
    vrt::SetRasterFastPaths(fast);
    Frame f;
    Com<IDirect3DSurface8> rt, ds;
    EXPECT_EQ(device->CreateRenderTarget(kW, kH, sc.target, D3DMULTISAMPLE_NONE, TRUE, rt.out()),
              D3D_OK);
    EXPECT_EQ(device->CreateDepthStencilSurface(kW, kH, sc.depth, D3DMULTISAMPLE_NONE, ds.out()),
              D3D_OK);
    if (!rt || !ds) return f;
    EXPECT_EQ(device->SetRenderTarget(rt.get(), ds.get()), D3D_OK);
    Ortho(kW, kH);
    if (sc.perspective) {
      D3DMATRIX m{};
      m._11 = 2.0f / kW;
      m._22 = -2.0f / kH;
      m._33 = 1.0f;
      m._34 = 0.5f;
      m._41 = -1.0f;
      m._42 = 1.0f;
      m._44 = 0.5f;
      device->SetTransform(D3DTS_PROJECTION, &m);
    }
    std::mt19937 random(seed);
    std::vector<uint32_t> texels(sc.texW * sc.texH);
    for (uint32_t& t : texels) t = static_cast<uint32_t>(random());
    Com<IDirect3DTexture8> tex;
    tex.attach(MakeTexture(sc.texW, sc.texH, D3DFMT_A8R8G8B8, texels));
    device->SetTexture(0, sc.textured ? tex.get() : nullptr);
    device->SetRenderState(D3DRS_ZENABLE, sc.zenable ? D3DZB_TRUE : D3DZB_FALSE);
    device->SetRenderState(D3DRS_ZWRITEENABLE, sc.zwrite);
    device->SetRenderState(D3DRS_ZFUNC, sc.zfunc);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, sc.blend);
    device->SetRenderState(D3DRS_SRCBLEND, sc.srcBlend);
    device->SetRenderState(D3DRS_DESTBLEND, sc.dstBlend);
    device->SetRenderState(D3DRS_ALPHATESTENABLE, sc.alphaTest);
    device->SetRenderState(D3DRS_ALPHAREF, sc.alphaRef);
    device->SetRenderState(D3DRS_ALPHAFUNC, sc.alphaFunc);
    device->SetRenderState(D3DRS_COLORWRITEENABLE, sc.writeMask);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_COLORARG2, sc.colorArg2);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_MINFILTER, sc.filter);
    device->SetTextureStageState(0, D3DTSS_MAGFILTER, sc.filter);
    device->SetTextureStageState(0, D3DTSS_ADDRESSU, sc.address);
    device->SetTextureStageState(0, D3DTSS_ADDRESSV, sc.address);
    device->SetTextureStageState(0, D3DTSS_BORDERCOLOR, 0x80C0A020);
    device->SetRenderState(D3DRS_TEXTUREFACTOR, 0xC0804020);
    EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x80405060, 0.75f, 0),
              D3D_OK);
    std::uniform_real_distribution<float> px(-30.0f, kW + 30.0f), py(-30.0f, kH + 30.0f);
    std::uniform_real_distribution<float> uv(-0.6f, 1.6f), z(-0.05f, 1.05f);
    for (int draw = 0; sc.spriteQuads && draw < 2; ++draw)
      EXPECT_EQ(Draw(SpriteQuads(sc, random)), D3D_OK);
    for (int draw = 0; !sc.spriteQuads && draw < 3; ++draw) {
      // Enough triangles that the draw is split between threads.
      std::vector<Vertex> v;
      for (int t = 0; t < 60; ++t) {
        // White, one flat colour, a gradient, or a gradient with one
        // channel flat (alpha here).
        const int colours = static_cast<int>(random() % 4);
        const DWORD flat = static_cast<DWORD>(random());
        const bool flatZ = random() % 2 == 0;
        const float z0 = z(random);
        for (int k = 0; k < 3; ++k) {
          const DWORD mixed = static_cast<DWORD>(random());
          const DWORD c = colours == 0   ? 0xFFFFFFFFu
                          : colours == 1 ? flat
                          : colours == 2 ? mixed
                                         : (mixed & 0xFFFFFFu) | (flat & 0xFF000000u);
          v.push_back({px(random), py(random), flatZ ? z0 : z(random), c, uv(random) * sc.uvScale,
                       uv(random) * sc.uvScale});
        }
      }
      for (int t = 0; draw == 0 && t < sc.smallTriangles; ++t) {
        const float x = px(random), y = py(random), zt = z(random);
        const DWORD c = static_cast<DWORD>(random());
        v.push_back({x, y, zt, c, 0.1f, 0.2f});
        v.push_back({x + 3.0f, y + 0.5f, zt, c, 0.9f, 0.3f});
        v.push_back({x + 1.0f, y + 3.0f, zt, c, 0.4f, 0.8f});
      }
      // A few sprites placed for 1:1 texels, as 2-D drawing does.
      for (int q = 0; q < 4; ++q) {
        const float x0 = static_cast<float>(random() % kW) - 0.5f;
        const float y0 = static_cast<float>(random() % kH) - 0.5f;
        for (const Vertex& c : Quad(x0, y0, x0 + static_cast<float>(sc.texW),
                                    y0 + static_cast<float>(sc.texH), 0xFFFFFFFF, z(random)))
          v.push_back(c);
        // Texels 1:1 from the middle of the texture, running past its
        // right and bottom edges into the addressing modes.
        const float shiftU = static_cast<float>(q + 1) / 8.0f, shiftV = 0.25f;
        const float x1 = static_cast<float>(random() % kW) - 0.5f;
        const float y1 = static_cast<float>(random() % kH) - 0.5f;
        for (Vertex c : Quad(x1, y1, x1 + static_cast<float>(sc.texW),
                             y1 + static_cast<float>(sc.texH), 0xC0FFFFFF, z(random))) {
          c.u += shiftU;
          c.v += shiftV;
          v.push_back(c);
        }
      }
      EXPECT_EQ(Draw(v), D3D_OK);
    }
    device->SetTexture(0, nullptr);
    f.color = Read(rt.get());
    if (sc.depth == D3DFMT_D16_LOCKABLE) {
      D3DLOCKED_RECT lr{};
      EXPECT_EQ(ds->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
      if (lr.pBits) {
        for (UINT y = 0; y < kH; ++y)
          for (UINT x = 0; x < kW; ++x) {
            uint16_t d;
            std::memcpy(&d, static_cast<const BYTE*>(lr.pBits) + y * lr.Pitch + 2 * x, 2);
            f.depth.push_back(d);
          }
        ds->UnlockRect();
      }
    }
    Com<IDirect3DSurface8> back;
    device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, back.out());
    device->SetRenderTarget(back.get(), nullptr);
    return f;
  }
};

std::vector<Scene> Scenes() {
  std::vector<Scene> scenes(23);
  scenes[0].name = "sprites state";
  scenes[1].name = "X8R8G8B8 target";
  scenes[1].target = D3DFMT_X8R8G8B8;
  scenes[2].name = "D24S8 depth";
  scenes[2].depth = D3DFMT_D24S8;
  scenes[3].name = "no blend, no depth";
  scenes[3].blend = false;
  scenes[3].zenable = false;
  scenes[4].name = "no depth write";
  scenes[4].zwrite = false;
  scenes[5].name = "clamp addressing, wide texture";
  scenes[5].address = D3DTADDRESS_CLAMP;
  scenes[5].texW = 32;
  scenes[5].texH = 8;
  scenes[6].name = "border addressing";
  scenes[6].address = D3DTADDRESS_BORDER;
  scenes[7].name = "mirror addressing";
  scenes[7].address = D3DTADDRESS_MIRROR;
  scenes[8].name = "colour write mask";
  scenes[8].writeMask = D3DCOLORWRITEENABLE_RED | D3DCOLORWRITEENABLE_ALPHA;
  scenes[9].name = "depth LESS";
  scenes[9].zfunc = D3DCMP_LESS;
  scenes[10].name = "alpha test";
  scenes[10].alphaTest = true;
  scenes[11].name = "linear filter";
  scenes[11].filter = D3DTEXF_LINEAR;
  scenes[12].name = "additive blend";
  scenes[12].srcBlend = D3DBLEND_ONE;
  scenes[12].dstBlend = D3DBLEND_ONE;
  scenes[13].name = "texture factor";
  scenes[13].colorArg2 = D3DTA_TFACTOR;
  scenes[14].name = "16-bit target";
  scenes[14].target = D3DFMT_R5G6B5;
  scenes[15].name = "perspective";
  scenes[15].perspective = true;
  scenes[16].name = "huge texture coordinates";
  scenes[16].uvScale = 3.0e6f;
  // The library's own state: alpha at least 8, 24-bit depth, clamped texels.
  scenes[17].name = "library state";
  scenes[17].target = D3DFMT_X8R8G8B8;
  scenes[17].depth = D3DFMT_D24S8;
  scenes[17].alphaTest = true;
  scenes[17].alphaFunc = D3DCMP_GREATEREQUAL;
  scenes[17].alphaRef = 8;
  scenes[17].address = D3DTADDRESS_CLAMP;
  scenes[18] = scenes[17];
  scenes[18].name = "library state, 16-bit depth";
  scenes[18].depth = D3DFMT_D16_LOCKABLE;
  scenes[19].name = "a draw of 40,000 triangles";
  scenes[19].smallTriangles = 40000;
  // The library's additive items and its items without a picture.
  scenes[20] = scenes[17];
  scenes[20].name = "library state, additive";
  scenes[20].dstBlend = D3DBLEND_ONE;
  scenes[21] = scenes[17];
  scenes[21].name = "library state, untextured";
  scenes[21].textured = false;
  scenes[22] = scenes[21];
  scenes[22].name = "untextured, additive, alpha target";
  scenes[22].target = D3DFMT_A8R8G8B8;
  scenes[22].dstBlend = D3DBLEND_ONE;
  return scenes;
}

TEST_F(FastPathTest, MatchesTheGeneralPath) {
  for (const Scene& sc : Scenes()) {
    for (unsigned seed = 1; seed <= 2; ++seed) {
      // The second seed keeps to the baseline vector loops (where the
      // processor has wider ones, the first takes those).
      vrt::SetRasterWideVectors(seed == 1);
      const Frame fast = Render(sc, true, seed);
      const Frame plain = Render(sc, false, seed);
      ASSERT_EQ(fast.color.size(), size_t{kW} * kH) << sc.name;
      {
        const long d = FirstDifference(fast.color, plain.color);
        EXPECT_EQ(d, -1) << sc.name << " seed " << seed << std::hex << " fast "
                         << (d >= 0 ? fast.color[d] : 0) << " plain "
                         << (d >= 0 ? plain.color[d] : 0);
      }
      EXPECT_EQ(FirstDifference(fast.depth, plain.depth), -1) << sc.name << " seed " << seed;
      if (sc.depth == D3DFMT_D16_LOCKABLE) {
        EXPECT_EQ(fast.depth.size(), size_t{kW} * kH);
      }
      // The scene drew something: not every pixel holds the clear colour.
      size_t cleared = 0;
      for (uint32_t c : plain.color) cleared += c == plain.color.front() ? 1 : 0;
      EXPECT_LT(cleared, plain.color.size() / 2) << sc.name;
    }
  }
}

// Rows shared between 1, 2 or 4 bands (more bands than this machine may
// have cores): the same pixels as the general path on one thread, for the
// span loop and for general states drawn in bands.
TEST_F(FastPathTest, EveryThreadCountGivesTheSamePixels) {
  const std::vector<Scene> all = Scenes();
  for (const Scene& sc : {all[0], all[2], all[10], all[11], all[14], all[15]}) {
    const Frame plain = Render(sc, false, 3);
    ASSERT_EQ(plain.color.size(), size_t{kW} * kH) << sc.name;
    for (int threads : {1, 2, 4}) {
      vrt::SetRasterThreads(threads);
      const Frame split = Render(sc, true, 3);
      EXPECT_EQ(FirstDifference(split.color, plain.color), -1) << sc.name << ", " << threads;
      EXPECT_EQ(FirstDifference(split.depth, plain.depth), -1) << sc.name << ", " << threads;
    }
  }
}

// Sprite quads, whose two halves are drawn a row at a time as one span
// where they read one run of texels: the pixels of the general path, for
// the library's states, on one thread and in bands, with either vector width.
TEST_F(FastPathTest, SpriteQuadsGiveThePixelsOfTheirTwoTriangles) {
  std::vector<Scene> scenes;
  for (const Scene& sc : Scenes()) {
    if (sc.perspective || sc.uvScale != 1.0f || sc.smallTriangles || sc.filter != D3DTEXF_POINT)
      continue;
    scenes.push_back(sc);
    scenes.back().spriteQuads = true;
  }
  for (const Scene& sc : scenes) {
    const Frame plain = Render(sc, false, 5);
    ASSERT_EQ(plain.color.size(), size_t{kW} * kH) << sc.name;
    for (int way = 0; way < 3; ++way) {  // one thread, two bands; wider vectors off
      vrt::SetRasterThreads(way == 1 ? 2 : 1);
      vrt::SetRasterWideVectors(way < 2);
      const Frame fast = Render(sc, true, 5);
      const long d = FirstDifference(fast.color, plain.color);
      EXPECT_EQ(d, -1) << sc.name << ", way " << way << " at " << d % static_cast<long>(kW) << ", "
                       << d / static_cast<long>(kW);
      EXPECT_EQ(FirstDifference(fast.depth, plain.depth), -1) << sc.name << ", way " << way;
    }
  }
}

}  // namespace

// Quads stepping exactly one texel per pixel whose pixel centres fall a
// hair either side of texel edges, where the float roundings decide which
// texel a pixel reads: the texel-run loop must read what the general path
// reads (it hands such chunks to the per-lane fetch), with spans longer
// than one chunk and widths that are not multiples of the vector widths.
TEST_F(FastPathTest, TexelRunsNearTexelEdgesReadWhatThePerPixelPathReads) {
  constexpr UINT kTex = 128;
  std::vector<uint32_t> texels(kTex * kTex);
  for (UINT i = 0; i < texels.size(); ++i) texels[i] = 0xFF000000u | (i * 2654435761u >> 8);
  Com<IDirect3DTexture8> tex;
  tex.attach(MakeTexture(kTex, kTex, D3DFMT_A8R8G8B8, texels));
  device->SetTexture(0, tex.get());
  device->SetTextureStageState(0, D3DTSS_ADDRESSU, D3DTADDRESS_WRAP);
  device->SetTextureStageState(0, D3DTSS_ADDRESSV, D3DTADDRESS_WRAP);
  device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);  // the sprite state
  std::vector<Vertex> v;
  // Steps of a float (ulps) away from the edge: a few below it, where the
  // sums can round up onto the edge, and a few above.
  const int nudges[] = {0, -1, -2, -5, -40, 1, 3};
  int row = 0;
  for (int nudge : nudges) {
    for (int width : {5, 13, 64, 67, 100}) {
      // The first pixel centre, half a pixel inside, at a texel edge plus the nudge.
      float u0 = (static_cast<float>(row % 7 + 1) - 0.5f) / kTex;
      for (int k = 0; k < std::abs(nudge); ++k) u0 = std::nextafter(u0, nudge < 0 ? -1.0f : 1.0f);
      const float x0 = 3.5f + static_cast<float>(row % 3), y0 = 2.0f + 6.0f * row;
      const float u1 = u0 + static_cast<float>(width) / kTex, v0 = 0.25f, v1 = v0 + 5.0f / kTex;
      const float x1 = x0 + static_cast<float>(width), y1 = y0 + 5.0f;
      for (const Vertex& c : std::vector<Vertex>{{x0, y0, 0.5f, 0xFFFFFFFF, u0, v0},
                                                 {x1, y0, 0.5f, 0xFFFFFFFF, u1, v0},
                                                 {x1, y1, 0.5f, 0xFFFFFFFF, u1, v1},
                                                 {x0, y0, 0.5f, 0xFFFFFFFF, u0, v0},
                                                 {x1, y1, 0.5f, 0xFFFFFFFF, u1, v1},
                                                 {x0, y1, 0.5f, 0xFFFFFFFF, u0, v1}})
        v.push_back(c);
      ++row;
    }
  }
  // Steps a hair over one texel a pixel, the first centre just under a
  // texel edge: runs of texels would read the right texels for the first
  // few pixels only, so a quad's halves must not be joined into one run.
  for (int width : {9, 16, 30}) {
    const float step = (1.0f + 0x1p-12f) / kTex;
    const float u0 = (static_cast<float>(row % 7 + 1) + 0.999f) / kTex - 0.5f * step;
    const float x0 = 3.5f, y0 = 2.0f + 6.0f * row, x1 = x0 + static_cast<float>(width);
    const float u1 = u0 + static_cast<float>(width) * step, v0 = 0.25f, v1 = v0 + 12.0f / kTex;
    const float y1 = y0 + 12.0f;
    for (const Vertex& c : std::vector<Vertex>{{x0, y0, 0.5f, 0xFFFFFFFF, u0, v0},
                                               {x1, y0, 0.5f, 0xFFFFFFFF, u1, v0},
                                               {x1, y1, 0.5f, 0xFFFFFFFF, u1, v1},
                                               {x0, y0, 0.5f, 0xFFFFFFFF, u0, v0},
                                               {x1, y1, 0.5f, 0xFFFFFFFF, u1, v1},
                                               {x0, y1, 0.5f, 0xFFFFFFFF, u0, v1}})
      v.push_back(c);
    row += 3;
  }
  std::vector<uint32_t> frames[3];
  for (int way = 0; way < 3; ++way) {  // general path, SSE2 loops, wider loops
    vrt::SetRasterFastPaths(way > 0);
    vrt::SetRasterWideVectors(way == 2);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF102030, 1.0f, 0), D3D_OK);
    ASSERT_EQ(Draw(v), D3D_OK);
    frames[way] = ReadBack();
  }
  ASSERT_FALSE(frames[0].empty());
  EXPECT_EQ(FirstDifference(frames[1], frames[0]), -1);
  EXPECT_EQ(FirstDifference(frames[2], frames[0]), -1);
}

namespace {

// Triangles reaching far past the guard band or through the near plane are
// clipped before they are kept for the pool, as the general path clips
// them: the kept vertices are the clipped polygon's, whose colours are
// interpolated from other corners than the unclipped triangle's.
TEST_F(FastPathTest, ClippedTrianglesAreKeptAsTheGeneralPathClipsThem) {
  std::mt19937 random(7);
  auto pick = [&](float lo, float hi) {
    return std::uniform_real_distribution<float>(lo, hi)(random);
  };
  std::vector<Vertex> v;
  for (int i = 0; i < 60; ++i) {
    for (int k = 0; k < 3; ++k) {
      const DWORD colour = 0xFF000000u | static_cast<DWORD>(random() & 0xFFFFFF);
      v.push_back({pick(0, 640), pick(0, 480), pick(0.1f, 0.9f), colour, 0, 0});
    }
    Vertex& far = v[v.size() - 1 - static_cast<size_t>(i % 3)];
    if (i % 2 == 0) {
      far.x = (i % 4 == 0 ? 1.0f : -1.0f) * pick(1e5f, 3e6f);
    } else {
      far.z = -pick(0.5f, 2.0f);  // in front of the near plane
    }
  }
  device->SetTexture(0, nullptr);
  std::vector<uint32_t> frames[2];
  for (int fast = 0; fast < 2; ++fast) {
    vrt::SetRasterFastPaths(fast == 1);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
    ASSERT_EQ(Draw(v), D3D_OK);
    frames[fast] = ReadBack();
  }
  EXPECT_EQ(FirstDifference(frames[0], frames[1]), -1);
}

}  // namespace
