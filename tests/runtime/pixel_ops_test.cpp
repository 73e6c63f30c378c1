// What happens to a fragment after shading: alpha test, depth and stencil,
// blending and write masks into 32- and 16-bit targets; and DXT sampling.
#include "raster_test.h"

namespace {

class PixelOps : public RasterTest {
 protected:
  // A D24S8 depth-stencil surface bound with the back buffer.
  void BindDepth() {
    ASSERT_EQ(
        device->CreateDepthStencilSurface(640, 480, D3DFMT_D24S8, D3DMULTISAMPLE_NONE, depth.out()),
        D3D_OK);
    Com<IDirect3DSurface8> back;
    device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, back.out());
    ASSERT_EQ(device->SetRenderTarget(back.get(), depth.get()), D3D_OK);
  }
  void TearDown() override {
    if (device) {
      Com<IDirect3DSurface8> back;
      device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, back.out());
      device->SetRenderTarget(back.get(), nullptr);
    }
    depth.reset();
    RasterTest::TearDown();
  }
  Com<IDirect3DSurface8> depth;
};

TEST_F(PixelOps, AlphaTestDropsFragmentsFailingTheReference) {
  device->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
  device->SetRenderState(D3DRS_ALPHAREF, 0x80);
  struct Case {
    DWORD func;
    bool lowDrawn, equalDrawn;
  };
  for (const Case c : {Case{D3DCMP_GREATEREQUAL, false, true}, Case{D3DCMP_LESS, true, false},
                       Case{D3DCMP_EQUAL, false, true}, Case{D3DCMP_NEVER, false, false},
                       Case{D3DCMP_ALWAYS, true, true}}) {
    device->SetRenderState(D3DRS_ALPHAFUNC, c.func);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
    Draw(Quad(0, 0, 2, 2, 0x7FFFFFFF));
    Draw(Quad(4, 0, 6, 2, 0x80FFFFFF));
    const std::vector<uint32_t> px = ReadBack();
    EXPECT_EQ(At(px, 1, 1) != 0, c.lowDrawn) << c.func;
    EXPECT_EQ(At(px, 5, 1) != 0, c.equalDrawn) << c.func;
  }
}

// The test sees the modulated alpha before it is rounded to 8 bits: texel
// alpha 15 under vertex alpha 128 is 7.53, written as 8 but below a
// reference of 8; 16 under 128 is 8.03 and passes.
TEST_F(PixelOps, AlphaTestComparesTheUnroundedModulatedAlpha) {
  Com<IDirect3DTexture8> t{MakeTexture(2, 1, D3DFMT_A8R8G8B8, {0x0FFFFFFF, 0x10FFFFFF})};
  device->SetTexture(0, t.get());
  device->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
  device->SetRenderState(D3DRS_ALPHAREF, 8);
  device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
  device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
  // The general stage path as well as the single modulate stage.
  for (DWORD colorOp : {DWORD{D3DTOP_MODULATE}, DWORD{D3DTOP_SELECTARG1}}) {
    device->SetTextureStageState(0, D3DTSS_COLOROP, colorOp);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
    Draw(Quad(-0.5f, -0.5f, 1.5f, 0.5f, 0x80FFFFFF));
    const std::vector<uint32_t> px = ReadBack();
    EXPECT_EQ(At(px, 0, 0), 0u) << colorOp;
    EXPECT_EQ(At(px, 1, 0), 0x08FFFFFFu) << colorOp;
  }
  device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
  device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
  device->SetTexture(0, nullptr);
}

TEST_F(PixelOps, BlendFactorsAndOperations) {
  struct Case {
    DWORD src, dst, op;
    uint32_t expected;
  };
  // Source 0x80FF4000 over destination 0x40204080.
  const Case cases[] = {
      {D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, D3DBLENDOP_ADD, 0x60904040u},
      {D3DBLEND_ONE, D3DBLEND_ONE, D3DBLENDOP_ADD, 0xC0FF8080u},
      {D3DBLEND_ZERO, D3DBLEND_SRCCOLOR, D3DBLENDOP_ADD, 0x20201000u},
      {D3DBLEND_DESTALPHA, D3DBLEND_INVDESTALPHA, D3DBLENDOP_ADD, 0x50584060u},
      {D3DBLEND_INVSRCCOLOR, D3DBLEND_DESTCOLOR, D3DBLENDOP_ADD, 0x50044040u},
      {D3DBLEND_INVDESTCOLOR, D3DBLEND_ZERO, D3DBLENDOP_ADD, 0x60DF3000u},
      {D3DBLEND_ONE, D3DBLEND_ONE, D3DBLENDOP_REVSUBTRACT, 0x00000080u},
      {D3DBLEND_ONE, D3DBLEND_ZERO, D3DBLENDOP_MAX, 0x80FF4080u},
  };
  // The back buffer is X8R8G8B8 (destination alpha reads as 1): draw into
  // a target with alpha.
  Com<IDirect3DSurface8> rt;
  ASSERT_EQ(device->CreateRenderTarget(8, 8, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_NONE, TRUE, rt.out()),
            D3D_OK);
  ASSERT_EQ(device->SetRenderTarget(rt.get(), nullptr), D3D_OK);
  Ortho(8, 8);
  device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  for (const Case& c : cases) {
    device->SetRenderState(D3DRS_SRCBLEND, c.src);
    device->SetRenderState(D3DRS_DESTBLEND, c.dst);
    device->SetRenderState(D3DRS_BLENDOP, c.op);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0x40204080, 1.0f, 0);
    Draw(Quad(0, 0, 2, 2, 0x80FF4000));
    EXPECT_EQ(At(Read(rt.get()), 1, 1, 8), c.expected) << c.src << " " << c.dst << " " << c.op;
  }
  // Blending disabled writes the source as it is.
  device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
  Draw(Quad(0, 0, 2, 2, 0x80FF4000));
  EXPECT_EQ(At(Read(rt.get()), 1, 1, 8), 0x80FF4000u);
  // On the X8R8G8B8 back buffer the destination alpha is one.
  Com<IDirect3DSurface8> back;
  device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, back.out());
  ASSERT_EQ(device->SetRenderTarget(back.get(), nullptr), D3D_OK);
  Ortho(640, 480);
  device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  device->SetRenderState(D3DRS_BLENDOP, D3DBLENDOP_ADD);
  device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_INVDESTALPHA);
  device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
  device->Clear(0, nullptr, D3DCLEAR_TARGET, 0x00204080, 1.0f, 0);
  Draw(Quad(0, 0, 2, 2, 0x80FF4000));
  EXPECT_EQ(At(ReadBack(), 1, 1) & 0xFFFFFF, 0x204080u);
}

TEST_F(PixelOps, DepthTestAndWrite) {
  BindDepth();
  device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
  device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
  Draw(Quad(0, 0, 10, 4, 0xFFFF0000, 0.3f));
  Draw(Quad(0, 0, 20, 4, 0xFF00FF00, 0.6f));
  Draw(Quad(0, 0, 20, 4, 0xFF0000FF, 0.6f));  // equal passes LESSEQUAL
  // Without depth writes a near quad leaves the depth for a farther one.
  device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
  Draw(Quad(30, 0, 40, 4, 0xFFFFFF00, 0.1f));
  device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
  Draw(Quad(30, 0, 40, 4, 0xFFFF00FF, 0.2f));
  device->SetRenderState(D3DRS_ZFUNC, D3DCMP_GREATER);
  Draw(Quad(50, 0, 60, 4, 0xFFFFFFFF, 0.5f));  // 0.5 > 1.0 fails
  std::vector<uint32_t> px = ReadBack();
  EXPECT_EQ(At(px, 5, 2), 0xFFFF0000u);
  EXPECT_EQ(At(px, 15, 2), 0xFF0000FFu);
  EXPECT_EQ(At(px, 35, 2), 0xFFFF00FFu);
  EXPECT_EQ(At(px, 55, 2), 0u);
  // Depth off: everything passes.
  device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
  Draw(Quad(0, 0, 20, 4, 0xFF123456, 0.9f));
  EXPECT_EQ(At(ReadBack(), 5, 2), 0xFF123456u);
}

TEST_F(PixelOps, StencilOperationsAndMasks) {
  BindDepth();
  struct Case {
    DWORD func, pass, fail, zfail;
    DWORD clear, ref, mask, writeMask;
    float clearZ;
    DWORD expected;
  };
  const DWORD A = D3DCMP_ALWAYS, K = D3DSTENCILOP_KEEP;
  const Case cases[] = {
      {A, D3DSTENCILOP_KEEP, K, K, 3, 5, 0xFF, 0xFF, 1.0f, 3},
      {A, D3DSTENCILOP_ZERO, K, K, 3, 5, 0xFF, 0xFF, 1.0f, 0},
      {A, D3DSTENCILOP_REPLACE, K, K, 3, 5, 0xFF, 0xFF, 1.0f, 5},
      {A, D3DSTENCILOP_INCRSAT, K, K, 255, 5, 0xFF, 0xFF, 1.0f, 255},
      {A, D3DSTENCILOP_DECRSAT, K, K, 0, 5, 0xFF, 0xFF, 1.0f, 0},
      {A, D3DSTENCILOP_INVERT, K, K, 3, 5, 0xFF, 0xFF, 1.0f, 252},
      {A, D3DSTENCILOP_INCR, K, K, 255, 5, 0xFF, 0xFF, 1.0f, 0},
      {A, D3DSTENCILOP_DECR, K, K, 0, 5, 0xFF, 0xFF, 1.0f, 255},
      {D3DCMP_NEVER, K, D3DSTENCILOP_INCR, K, 7, 5, 0xFF, 0xFF, 1.0f, 8},
      {A, K, K, D3DSTENCILOP_REPLACE, 0, 5, 0xFF, 0xFF, 0.0f, 5},  // depth fails
      {A, D3DSTENCILOP_REPLACE, K, K, 0xF0, 0xFF, 0xFF, 0x0F, 1.0f, 0xFF},
      {D3DCMP_EQUAL, D3DSTENCILOP_INCR, K, K, 0x25, 0x15, 0x0F, 0xFF, 1.0f, 0x26},
      {D3DCMP_EQUAL, D3DSTENCILOP_INCR, K, K, 0x25, 0x16, 0x0F, 0xFF, 1.0f, 0x25},
  };
  device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
  for (const Case& c : cases) {
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0, c.clearZ,
                  c.clear);
    device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    device->SetRenderState(D3DRS_STENCILENABLE, TRUE);
    device->SetRenderState(D3DRS_STENCILFUNC, c.func);
    device->SetRenderState(D3DRS_STENCILPASS, c.pass);
    device->SetRenderState(D3DRS_STENCILFAIL, c.fail);
    device->SetRenderState(D3DRS_STENCILZFAIL, c.zfail);
    device->SetRenderState(D3DRS_STENCILREF, c.ref);
    device->SetRenderState(D3DRS_STENCILMASK, c.mask);
    device->SetRenderState(D3DRS_STENCILWRITEMASK, c.writeMask);
    device->SetRenderState(D3DRS_COLORWRITEENABLE, 0);
    Draw(Quad(0, 0, 4, 4, 0xFFFFFFFF, 0.5f));
    // Probe the stored value: only an equal reference draws.
    device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    device->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
    device->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_EQUAL);
    device->SetRenderState(D3DRS_STENCILPASS, K);
    device->SetRenderState(D3DRS_STENCILFAIL, K);
    device->SetRenderState(D3DRS_STENCILMASK, 0xFF);
    device->SetRenderState(D3DRS_STENCILREF, (c.expected + 1) & 0xFF);
    Draw(Quad(0, 0, 4, 4, 0xFF00FF00));
    EXPECT_EQ(At(ReadBack(), 1, 1), 0u) << "case with expected " << c.expected;
    device->SetRenderState(D3DRS_STENCILREF, c.expected);
    Draw(Quad(0, 0, 4, 4, 0xFFFFFFFF));
    EXPECT_EQ(At(ReadBack(), 1, 1), 0xFFFFFFFFu) << "case with expected " << c.expected;
  }
}

TEST_F(PixelOps, StencilMasksALaterDraw) {
  BindDepth();
  device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_STENCIL, 0, 1.0f, 0);
  device->SetRenderState(D3DRS_STENCILENABLE, TRUE);
  device->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_REPLACE);
  device->SetRenderState(D3DRS_STENCILREF, 1);
  device->SetRenderState(D3DRS_COLORWRITEENABLE, 0);
  Draw(Quad(0, 0, 8, 8, 0xFFFFFFFF));
  device->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
  device->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_KEEP);
  device->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_NOTEQUAL);
  Draw(Quad(0, 0, 16, 16, 0xFF0000FF));
  const std::vector<uint32_t> px = ReadBack();
  EXPECT_EQ(At(px, 7, 7), 0u);
  EXPECT_EQ(At(px, 8, 7), 0xFF0000FFu);
  EXPECT_EQ(At(px, 3, 12), 0xFF0000FFu);
}

TEST_F(PixelOps, SixteenBitTargetsAndWriteMasks) {
  struct Case {
    D3DFORMAT format;
    D3DCOLOR first, second;
    bool additive;
    DWORD writeMask;
    uint32_t expected;
  };
  const Case cases[] = {
      {D3DFMT_R5G6B5, 0xFF808080, 0xFF080808, true, 0xF, 0x8C51},
      {D3DFMT_A1R5G5B5, 0x7FFFFFFF, 0, false, 0xF, 0x7FFF},
      {D3DFMT_A4R4G4B4, 0x80FF8000, 0, false, 0xF, 0x8F80},
      {D3DFMT_X1R5G5B5, 0xFF0000FF, 0, false, 0xF, 0x801F},
      {D3DFMT_R5G6B5, 0xFFFFFFFF, 0, false, D3DCOLORWRITEENABLE_GREEN, 0x07E0},
      {D3DFMT_A8R8G8B8, 0x00AABBCC, 0, false, D3DCOLORWRITEENABLE_RED | D3DCOLORWRITEENABLE_ALPHA,
       0x00AA2233},
  };
  for (const Case& c : cases) {
    Com<IDirect3DSurface8> rt;
    ASSERT_EQ(device->CreateRenderTarget(8, 8, c.format, D3DMULTISAMPLE_NONE, TRUE, rt.out()),
              D3D_OK);
    ASSERT_EQ(device->SetRenderTarget(rt.get(), nullptr), D3D_OK);
    Ortho(8, 8);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, c.format == D3DFMT_A8R8G8B8 ? 0xFF112233 : 0, 1.0f,
                  0);
    device->SetRenderState(D3DRS_COLORWRITEENABLE, c.writeMask);
    Draw(Quad(0, 0, 8, 8, c.first));
    if (c.additive) {
      device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
      device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
      device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
      Draw(Quad(0, 0, 8, 8, c.second));
      device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    }
    device->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
    const std::vector<uint32_t> px = Read(rt.get());
    EXPECT_EQ(At(px, 3, 4, 8), c.expected) << "format " << c.format;
  }
}

using Compressed = RasterTest;

TEST_F(Compressed, DxtBlocksDecodeExactly) {
  device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
  struct Case {
    const char* name;
    D3DFORMAT format;
    UINT width;
    std::vector<BYTE> blocks;
    std::vector<uint32_t> row0;
  };
  const Case cases[] = {
      {"dxt1 four colours",
       D3DFMT_DXT1,
       4,
       {0x00, 0xF8, 0x1F, 0x00, 0xE4, 0, 0, 0},
       {0xFFFF0000, 0xFF0000FF, 0xFFAA0055, 0xFF5500AA}},
      {"dxt1 three colours and transparent",
       D3DFMT_DXT1,
       4,
       {0x1F, 0x00, 0x00, 0xF8, 0xE4, 0, 0, 0},
       {0xFF0000FF, 0xFFFF0000, 0xFF800080, 0x00000000}},
      {"dxt3 explicit alpha, always four colours",
       D3DFMT_DXT3,
       4,
       {0x8F, 0x40, 0, 0, 0, 0, 0, 0, 0x00, 0x00, 0xFF, 0xFF, 0xC0, 0, 0, 0},
       {0xFF000000, 0x88000000, 0x00000000, 0x44AAAAAA}},
      {"dxt5 eight and six alphas",
       D3DFMT_DXT5,
       8,
       {255, 0,   0x88, 0x0E, 0, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0,
        100, 200, 0xAA, 0x0F, 0, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0},
       {0xFFFFFFFF, 0x00FFFFFF, 0xDBFFFFFF, 0x24FFFFFF, 0x78FFFFFF, 0xB4FFFFFF, 0x00FFFFFF,
        0xFFFFFFFF}},
  };
  for (const Case& c : cases) {
    Com<IDirect3DTexture8> t{MakeBlocks(c.width, 4, c.format, c.blocks)};
    ASSERT_TRUE(t) << c.name;
    device->SetTexture(0, t.get());
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF00FF00, 1.0f, 0);
    Draw(Quad(-0.5f, -0.5f, c.width - 0.5f, 3.5f, 0xFFFFFFFF));
    const std::vector<uint32_t> px = ReadBack();
    for (UINT x = 0; x < c.width; ++x)
      EXPECT_EQ(At(px, static_cast<int>(x), 0), c.row0[x]) << c.name << " texel " << x;
  }
  device->SetTexture(0, nullptr);
}

TEST_F(Compressed, OneBitAlphaDropsWithTheAlphaTest) {
  Com<IDirect3DTexture8> t{MakeBlocks(4, 4, D3DFMT_DXT1, {0x1F, 0x00, 0x00, 0xF8, 0xE4, 0, 0, 0})};
  device->SetTexture(0, t.get());
  device->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
  device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
  device->SetRenderState(D3DRS_ALPHAREF, 0);
  device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF00FF00, 1.0f, 0);
  Draw(Quad(-0.5f, -0.5f, 3.5f, 3.5f, 0xFFFFFFFF));
  const std::vector<uint32_t> px = ReadBack();
  EXPECT_EQ(At(px, 0, 0), 0xFF0000FFu);  // texture colour modulated by white
  EXPECT_EQ(At(px, 3, 0), 0xFF00FF00u);  // transparent texel: the clear shows
  device->SetTexture(0, nullptr);
}

}  // namespace
