// ps.1.4 pixel shaders: which token streams CreatePixelShader takes, and the
// arithmetic of each instruction, modifier and mask as drawn pixels.
#include <initializer_list>

#include "raster_test.h"

namespace {

enum Reg : DWORD { R = 0, V = 1, C = 2, T = 3 };

DWORD Dst(Reg type, DWORD n, DWORD mask = 0xF, DWORD sat = 0, DWORD shift = 0) {
  return 0x80000000u | type << 28 | shift << 24 | sat << 20 | mask << 16 | n;
}
DWORD Src(Reg type, DWORD n, DWORD swizzle = 0xE4, DWORD mod = 0) {
  return 0x80000000u | type << 28 | mod << 24 | swizzle << 16 | n;
}
DWORD F(float f) { return Bits(f); }

std::vector<DWORD> Shader(std::initializer_list<DWORD> body) {
  std::vector<DWORD> s{0xFFFF0104u};
  s.insert(s.end(), body);
  s.push_back(0x0000FFFFu);
  return s;
}

class PixelShader : public RasterTest {
 protected:
  void SetUp() override {
    RasterTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(
        device->CreateRenderTarget(8, 8, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_NONE, TRUE, target.out()),
        D3D_OK);
    ASSERT_EQ(device->SetRenderTarget(target.get(), nullptr), D3D_OK);
    Ortho(8, 8);
    const float constants[6][4] = {{0.25f, 0.5f, 0.75f, 1.0f},
                                   {0.125f, 0.25f, 0.0625f, 0.5f},
                                   {1, 1, 1, 1},
                                   {-0.5f, 0.0f, 0.5f, -1.0f},
                                   {0.5f, 0.75f, 0.25f, 1.0f},
                                   {0.0625f, 0.0625f, 0.0625f, 0.0625f}};
    ASSERT_EQ(device->SetPixelShaderConstant(0, constants, 6), D3D_OK);
  }
  void TearDown() override {
    if (device) {
      device->SetPixelShader(0);
      Com<IDirect3DSurface8> back;
      device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, back.out());
      device->SetRenderTarget(back.get(), nullptr);
    }
    target.reset();
    RasterTest::TearDown();
  }
  // Draws a 4 x 4 quad with `tokens` bound; the colour of pixel (x, 1).
  uint32_t Run(const std::vector<DWORD>& tokens, int x = 1, DWORD color = 0xFF808080) {
    DWORD handle = 0;
    EXPECT_EQ(device->CreatePixelShader(tokens.data(), &handle), D3D_OK);
    if (!handle) return 0xDEADBEEF;
    device->SetPixelShader(handle);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
    Draw(Quad(-0.5f, -0.5f, 3.5f, 3.5f, color));
    device->SetPixelShader(0);
    device->DeletePixelShader(handle);
    return At(Read(target.get()), x, 1, 8);
  }
  Com<IDirect3DSurface8> target;
};

TEST_F(PixelShader, MalformedStreamsAreRefused) {
  DWORD h = 0;
  const std::vector<DWORD> good =
      Shader({81, Dst(C, 7), F(0), F(0), F(0), F(0), 66, Dst(R, 0), Src(T, 0), 0, 0xFFFE | 1 << 16,
              0x12345678, 5, Dst(R, 0), Src(R, 0), Src(V, 0)});
  EXPECT_EQ(device->CreatePixelShader(good.data(), &h), D3D_OK);
  const std::vector<DWORD> bad[] = {
      Shader({6, Dst(R, 0), Src(C, 0)}),               // rcp is not a pixel instruction
      Shader({1, Dst(R, 0) & 0x7FFFFFFF, Src(C, 0)}),  // not a parameter token
      Shader({1, Dst(R, 6), Src(C, 0)}),               // r6
      Shader({1, Dst(R, 0), Src(C, 8)}),               // c8
      Shader({1, Dst(R, 0), Src(T, 0)}),               // t# in arithmetic
      Shader({1, Dst(C, 0), Src(C, 1)}),               // constants are read-only
      Shader({1, Dst(R, 0, 0), Src(C, 0)}),            // empty write mask
      Shader({1, Dst(R, 0, 0xF, 0, 4), Src(C, 0)}),    // no such shift
      Shader({1, Dst(R, 0), Src(C, 0, 0xE4, 9)}),      // _dz outside texld
      Shader({1, Dst(R, 0), Src(C, 0, 0xE4, 11)}),     // unknown source modifier
      Shader({1, Dst(R, 0), Src(C, 0), 66, Dst(R, 1), Src(T, 0)}),  // texld after arithmetic
      Shader({0xFFFD, 0xFFFD}),                                     // two phases
      Shader({81, Dst(C, 0), F(0), F(0)}),                          // def cut short
      Shader({4, Dst(R, 0), Src(C, 0), Src(C, 1)}),                 // mad cut short
      Shader({64, Dst(R, 0), Src(R, 1)}),                           // texcrd from a temp
  };
  for (size_t i = 0; i < std::size(bad); ++i)
    EXPECT_EQ(device->CreatePixelShader(bad[i].data(), &h), D3DERR_INVALIDCALL) << "case " << i;
}

TEST_F(PixelShader, DevicesWithOlderShadersRefuseVersionOneFour) {
  vrt::AdapterConfig old = vrt::DefaultAdapter();
  old.pixelShaderVersion = D3DPS_VERSION(1, 1);
  vrt::AdapterConfig mid = vrt::DefaultAdapter();
  mid.pixelShaderVersion = D3DPS_VERSION(1, 3);
  vrt::SetAdapters({vrt::DefaultAdapter(), old, mid});
  for (UINT adapter : {1u, 2u}) {
    Com<IDirect3DDevice8> d;
    ASSERT_EQ(Create(d3d.get(), Windowed(window), &d, adapter), D3D_OK);
    const std::vector<DWORD> s = Shader({1, Dst(R, 0), Src(C, 0)});
    DWORD h = 0;
    EXPECT_EQ(d->CreatePixelShader(s.data(), &h), D3DERR_INVALIDCALL) << adapter;
  }
}

TEST_F(PixelShader, ArithmeticInstructions) {
  struct Case {
    const char* name;
    std::vector<DWORD> tokens;
    uint32_t expected;
  };
  const Case cases[] = {
      {"mov", Shader({1, Dst(R, 0), Src(C, 0)}), 0xFF4080BF},
      {"add", Shader({2, Dst(R, 0), Src(C, 0), Src(C, 1)}), 0xFF60BFCF},
      {"sub", Shader({3, Dst(R, 0), Src(C, 0), Src(C, 1)}), 0x802040AF},
      {"mul", Shader({5, Dst(R, 0), Src(C, 0), Src(C, 1)}), 0x8008200C},
      {"mad", Shader({4, Dst(R, 0), Src(C, 0), Src(C, 1), Src(C, 1)}), 0xFF28601C},
      {"dp3", Shader({8, Dst(R, 0), Src(C, 0), Src(C, 1)}), 0x34343434},
      {"dp4", Shader({9, Dst(R, 0), Src(C, 0), Src(C, 1)}), 0xB3B3B3B3},
      {"lrp", Shader({18, Dst(R, 0), Src(C, 1), Src(C, 0), Src(C, 2)}), 0xFFE7DFFB},
      {"cmp", Shader({88, Dst(R, 0), Src(C, 3), Src(C, 0), Src(C, 1)}), 0x802080BF},
      {"cnd", Shader({80, Dst(R, 0), Src(C, 4), Src(C, 0), Src(C, 1)}), 0xFF208010},
      {"nop and comment", Shader({0, 0xFFFE | 2 << 16, 1, 2, 1, Dst(R, 0), Src(C, 0)}), 0xFF4080BF},
      {"def overrides the constant",
       Shader({81, Dst(C, 0), F(1), F(0), F(0.5f), F(0.25f), 1, Dst(R, 0), Src(C, 0)}), 0x40FF0080},
      {"v0 is the diffuse colour", Shader({5, Dst(R, 0), Src(V, 0), Src(C, 0)}), 0xFF204060},
  };
  for (const Case& c : cases) EXPECT_EQ(Run(c.tokens), c.expected) << c.name;
}

TEST_F(PixelShader, ModifiersMasksAndRange) {
  struct Case {
    const char* name;
    std::vector<DWORD> tokens;
    uint32_t expected;
  };
  const Case cases[] = {
      {"negate", Shader({2, Dst(R, 0), Src(C, 0), Src(C, 1, 0xE4, 1)}), 0x802040AF},
      {"bias", Shader({1, Dst(R, 0), Src(C, 0, 0xE4, 2)}), 0x80000040},
      {"bx2", Shader({1, Dst(R, 0), Src(C, 0, 0xE4, 4)}), 0xFF000080},
      {"invert", Shader({1, Dst(R, 0), Src(C, 0, 0xE4, 6)}), 0x00BF8040},
      {"x2", Shader({1, Dst(R, 0), Src(C, 1, 0xE4, 7)}), 0xFF408020},
      {"replicate blue", Shader({1, Dst(R, 0), Src(C, 0, 0xAA)}), 0xBFBFBFBF},
      {"replicate red", Shader({1, Dst(R, 0), Src(C, 0, 0x00)}), 0x40404040},
      {"write mask", Shader({1, Dst(R, 0), Src(C, 0), 1, Dst(R, 0, 0x5), Src(C, 1)}), 0xFF208010},
      {"_x2", Shader({5, Dst(R, 0, 0xF, 0, 1), Src(C, 0), Src(C, 1)}), 0xFF104018},
      {"_x4", Shader({5, Dst(R, 0, 0xF, 0, 2), Src(C, 0), Src(C, 1)}), 0xFF208030},
      {"_d2", Shader({1, Dst(R, 0, 0xF, 0, 15), Src(C, 0)}), 0x80204060},
      {"_sat",
       Shader({2, Dst(R, 1, 0xF, 1), Src(C, 0), Src(C, 0), 5, Dst(R, 0), Src(R, 1), Src(C, 1)}),
       0x80104010},
      {"range -8..8",
       Shader({2, Dst(R, 1, 0xF, 0, 2), Src(C, 0), Src(C, 0), 2, Dst(R, 1, 0xF, 0, 2), Src(R, 1),
               Src(R, 1), 5, Dst(R, 0), Src(R, 1), Src(C, 5)}),
       0x80808080},
  };
  for (const Case& c : cases) EXPECT_EQ(Run(c.tokens), c.expected) << c.name;
}

TEST_F(PixelShader, TextureReadsAndPhases) {
  Com<IDirect3DTexture8> t{
      MakeTexture(4, 1, D3DFMT_A8R8G8B8, {0xFF100000, 0xFF200000, 0xFF300000, 0xFF400000})};
  device->SetTexture(0, t.get());
  // texld r0, t0: texels one to one.
  const std::vector<DWORD> plain = Shader({66, Dst(R, 0), Src(T, 0)});
  const uint32_t texels[4] = {0xFF100000, 0xFF200000, 0xFF300000, 0xFF400000};
  for (int x = 0; x < 4; ++x) EXPECT_EQ(Run(plain, x), texels[x]) << x;
  // texcrd gives the coordinates as a colour: u and v at pixel (1, 1) are 0.375.
  EXPECT_EQ(Run(Shader({64, Dst(R, 0, 0x7), Src(T, 0), 1, Dst(R, 0, 0x8), Src(C, 2)})),
            0xFF606000u);
  // A dependent read in the second phase: coordinates moved one texel on.
  const std::vector<DWORD> dependent = Shader({64,
                                               Dst(R, 2, 0x7),
                                               Src(T, 0),
                                               2,
                                               Dst(R, 2, 0x7),
                                               Src(R, 2),
                                               Src(C, 5, 0x00),
                                               2,
                                               Dst(R, 2, 0x7),
                                               Src(R, 2),
                                               Src(C, 5, 0x00),
                                               2,
                                               Dst(R, 2, 0x7),
                                               Src(R, 2),
                                               Src(C, 5, 0x00),
                                               2,
                                               Dst(R, 2, 0x7),
                                               Src(R, 2),
                                               Src(C, 5, 0x00),
                                               0xFFFD,
                                               66,
                                               Dst(R, 0),
                                               Src(R, 2)});
  EXPECT_EQ(Run(dependent, 0), 0xFF200000u);
  EXPECT_EQ(Run(dependent, 3), 0xFF100000u);  // wrapped
  device->SetTexture(0, nullptr);
}

}  // namespace
