// Pipeline state: defaults, Set/Get over every Direct3D 8 slot, viewport and
// render targets, lights, shaders, and the validation of scenes and draws.
#include <cstring>
#include <vector>

#include "runtime_test.h"

namespace {

using State = DeviceTest;

TEST_F(State, DefaultsAreDirect3Ds) {
  const struct {
    D3DRENDERSTATETYPE state;
    DWORD value;
  } defaults[] = {
      {D3DRS_ZENABLE, D3DZB_FALSE},
      {D3DRS_FILLMODE, D3DFILL_SOLID},
      {D3DRS_SHADEMODE, D3DSHADE_GOURAUD},
      {D3DRS_ZWRITEENABLE, TRUE},
      {D3DRS_ALPHATESTENABLE, FALSE},
      {D3DRS_SRCBLEND, D3DBLEND_ONE},
      {D3DRS_DESTBLEND, D3DBLEND_ZERO},
      {D3DRS_CULLMODE, D3DCULL_CCW},
      {D3DRS_ZFUNC, D3DCMP_LESSEQUAL},
      {D3DRS_ALPHAFUNC, D3DCMP_ALWAYS},
      {D3DRS_ALPHABLENDENABLE, FALSE},
      {D3DRS_FOGENABLE, FALSE},
      {D3DRS_FOGEND, Bits(1.0f)},
      {D3DRS_FOGDENSITY, Bits(1.0f)},
      {D3DRS_STENCILFUNC, D3DCMP_ALWAYS},
      {D3DRS_STENCILPASS, D3DSTENCILOP_KEEP},
      {D3DRS_STENCILMASK, 0xFFFFFFFF},
      {D3DRS_STENCILWRITEMASK, 0xFFFFFFFF},
      {D3DRS_TEXTUREFACTOR, 0xFFFFFFFF},
      {D3DRS_CLIPPING, TRUE},
      {D3DRS_LIGHTING, TRUE},
      {D3DRS_AMBIENT, 0},
      {D3DRS_COLORVERTEX, TRUE},
      {D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_COLOR1},
      {D3DRS_SPECULARMATERIALSOURCE, D3DMCS_COLOR2},
      {D3DRS_SOFTWAREVERTEXPROCESSING, TRUE},
      {D3DRS_POINTSIZE, Bits(1.0f)},
      {D3DRS_MULTISAMPLEMASK, 0xFFFFFFFF},
      {D3DRS_COLORWRITEENABLE, 0xF},
      {D3DRS_BLENDOP, D3DBLENDOP_ADD},
  };
  for (const auto& d : defaults) {
    DWORD value = 0x12345678;
    ASSERT_EQ(device->GetRenderState(d.state, &value), D3D_OK);
    EXPECT_EQ(value, d.value) << "render state " << d.state;
  }
  for (DWORD stage = 0; stage < 8; ++stage) {
    DWORD colour = 0, alpha = 0, arg1 = 0, index = 99;
    device->GetTextureStageState(stage, D3DTSS_COLOROP, &colour);
    device->GetTextureStageState(stage, D3DTSS_ALPHAOP, &alpha);
    device->GetTextureStageState(stage, D3DTSS_COLORARG1, &arg1);
    device->GetTextureStageState(stage, D3DTSS_TEXCOORDINDEX, &index);
    EXPECT_EQ(colour, static_cast<DWORD>(stage == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE)) << stage;
    EXPECT_EQ(alpha, static_cast<DWORD>(stage == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE)) << stage;
    EXPECT_EQ(arg1, D3DTA_TEXTURE);
    EXPECT_EQ(index, stage);
  }
  for (D3DTRANSFORMSTATETYPE t :
       {D3DTS_VIEW, D3DTS_PROJECTION, D3DTS_TEXTURE7, D3DTS_WORLD, D3DTS_WORLDMATRIX(255)}) {
    D3DMATRIX m{};
    ASSERT_EQ(device->GetTransform(t, &m), D3D_OK);
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 4; ++c) EXPECT_EQ(m.m[r][c], r == c ? 1.0f : 0.0f) << t;
  }
  D3DVIEWPORT8 vp{};
  ASSERT_EQ(device->GetViewport(&vp), D3D_OK);
  EXPECT_EQ(vp.X, 0u);
  EXPECT_EQ(vp.Width, 640u);
  EXPECT_EQ(vp.Height, 480u);
  EXPECT_EQ(vp.MaxZ, 1.0f);
  DWORD shader = 1;
  device->GetPixelShader(&shader);
  EXPECT_EQ(shader, 0u);
}

TEST_F(State, EveryDirect3D8RenderStateHasASlot) {
  int slots = 0;
  for (DWORD s = 0; s < 256; ++s) {
    const auto state = static_cast<D3DRENDERSTATETYPE>(s);
    const DWORD value = 0xA5000000 | s;
    const HRESULT hr = device->SetRenderState(state, value);
    DWORD back = 0;
    if (hr == D3D_OK) {
      ++slots;
      ASSERT_EQ(device->GetRenderState(state, &back), D3D_OK);
      EXPECT_EQ(back, value) << s;
    } else {
      EXPECT_EQ(hr, D3DERR_INVALIDCALL);
      EXPECT_EQ(device->GetRenderState(state, &back), D3DERR_INVALIDCALL) << s;
    }
  }
  EXPECT_EQ(slots, 76);  // D3DRS_ZENABLE (7) .. D3DRS_NORMALORDER (173) as Direct3D 8 has them
  EXPECT_EQ(device->SetRenderState(D3DRS_LIGHTING, FALSE), D3D_OK);  // 137
  EXPECT_EQ(device->SetRenderState(static_cast<D3DRENDERSTATETYPE>(138), 0), D3DERR_INVALIDCALL);
}

TEST_F(State, StageStatesPerStage) {
  int valid = 0;
  for (DWORD type = 0; type <= 30; ++type) {
    const auto t = static_cast<D3DTEXTURESTAGESTATETYPE>(type);
    if (device->SetTextureStageState(7, t, 100 + type) == D3D_OK) {
      ++valid;
      DWORD back = 0;
      ASSERT_EQ(device->GetTextureStageState(7, t, &back), D3D_OK);
      EXPECT_EQ(back, 100 + type);
      ASSERT_EQ(device->GetTextureStageState(6, t, &back), D3D_OK);
      EXPECT_NE(back, 100 + type);  // stages are separate
    }
  }
  EXPECT_EQ(valid, 27);  // 1..28 without 12
  EXPECT_EQ(device->SetTextureStageState(8, D3DTSS_COLOROP, D3DTOP_ADD), D3DERR_INVALIDCALL);
  EXPECT_EQ(device->SetTexture(8, nullptr), D3DERR_INVALIDCALL);
}

TEST_F(State, TransformsAndTheirProduct) {
  for (DWORD bad : {0u, 1u, 4u, 15u, 24u, 255u, 512u}) {
    D3DMATRIX m{};
    EXPECT_EQ(device->SetTransform(static_cast<D3DTRANSFORMSTATETYPE>(bad), &m), D3DERR_INVALIDCALL)
        << bad;
  }
  D3DMATRIX scale{};
  scale._11 = scale._22 = scale._33 = 2.0f;
  scale._44 = 1.0f;
  D3DMATRIX move{};
  move._11 = move._22 = move._33 = move._44 = 1.0f;
  move._41 = 1.0f;
  move._42 = 2.0f;
  move._43 = 3.0f;
  ASSERT_EQ(device->SetTransform(D3DTS_WORLDMATRIX(7), &scale), D3D_OK);
  ASSERT_EQ(device->MultiplyTransform(D3DTS_WORLDMATRIX(7), &move), D3D_OK);
  D3DMATRIX m{};
  ASSERT_EQ(device->GetTransform(D3DTS_WORLDMATRIX(7), &m), D3D_OK);
  // The given matrix first, then the current one: the move is scaled too.
  EXPECT_EQ(m._41, 2.0f);
  EXPECT_EQ(m._42, 4.0f);
  EXPECT_EQ(m._43, 6.0f);
  EXPECT_EQ(m._11, 2.0f);
  ASSERT_EQ(device->GetTransform(D3DTS_WORLD, &m), D3D_OK);
  EXPECT_EQ(m._41, 0.0f);  // other world matrices untouched
}

TEST_F(State, ViewportStaysInsideTheTarget) {
  D3DVIEWPORT8 vp{10, 20, 630, 460, 0.25f, 0.75f};
  ASSERT_EQ(device->SetViewport(&vp), D3D_OK);
  D3DVIEWPORT8 back{};
  device->GetViewport(&back);
  EXPECT_EQ(std::memcmp(&vp, &back, sizeof(vp)), 0);
  for (const D3DVIEWPORT8& bad :
       {D3DVIEWPORT8{11, 0, 630, 10, 0, 1}, D3DVIEWPORT8{0, 0, 10, 481, 0, 1},
        D3DVIEWPORT8{0, 0, 10, 10, -0.5f, 1}, D3DVIEWPORT8{0, 0, 10, 10, 0, 1.5f}}) {
    EXPECT_EQ(device->SetViewport(&bad), D3DERR_INVALIDCALL);
  }
  EXPECT_EQ(device->SetViewport(nullptr), D3DERR_INVALIDCALL);
}

TEST_F(State, SetRenderTargetResetsTheViewport) {
  Com<IDirect3DSurface8> target, depth, smallDepth, image, back;
  ASSERT_EQ(device->CreateRenderTarget(128, 96, D3DFMT_X8R8G8B8, D3DMULTISAMPLE_NONE, FALSE,
                                       target.out()),
            D3D_OK);
  ASSERT_EQ(
      device->CreateDepthStencilSurface(128, 96, D3DFMT_D16, D3DMULTISAMPLE_NONE, depth.out()),
      D3D_OK);
  ASSERT_EQ(
      device->CreateDepthStencilSurface(64, 96, D3DFMT_D16, D3DMULTISAMPLE_NONE, smallDepth.out()),
      D3D_OK);
  ASSERT_EQ(device->CreateImageSurface(128, 96, D3DFMT_X8R8G8B8, image.out()), D3D_OK);
  ASSERT_EQ(device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, back.out()), D3D_OK);

  D3DVIEWPORT8 small{1, 2, 10, 10, 0.0f, 0.5f};
  ASSERT_EQ(device->SetViewport(&small), D3D_OK);
  ASSERT_EQ(device->SetRenderTarget(target.get(), depth.get()), D3D_OK);
  D3DVIEWPORT8 vp{};
  device->GetViewport(&vp);
  EXPECT_EQ(vp.X, 0u);
  EXPECT_EQ(vp.Y, 0u);
  EXPECT_EQ(vp.Width, 128u);
  EXPECT_EQ(vp.Height, 96u);
  EXPECT_EQ(vp.MaxZ, 1.0f);
  Com<IDirect3DSurface8> current;
  ASSERT_EQ(device->GetDepthStencilSurface(current.out()), D3D_OK);
  EXPECT_EQ(current.get(), depth.get());

  // A null target keeps the colour buffer; a null depth surface removes it.
  ASSERT_EQ(device->SetViewport(&small), D3D_OK);
  ASSERT_EQ(device->SetRenderTarget(nullptr, nullptr), D3D_OK);
  ASSERT_EQ(device->GetRenderTarget(current.out()), D3D_OK);
  EXPECT_EQ(current.get(), target.get());
  device->GetViewport(&vp);
  EXPECT_EQ(vp.Width, 128u);
  EXPECT_EQ(device->GetDepthStencilSurface(current.out()), D3DERR_NOTFOUND);

  EXPECT_EQ(device->SetRenderTarget(target.get(), smallDepth.get()), D3DERR_INVALIDCALL);
  EXPECT_EQ(device->SetRenderTarget(image.get(), nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(device->SetRenderTarget(depth.get(), nullptr), D3DERR_INVALIDCALL);

  // A render-target texture level is a target too.
  Com<IDirect3DTexture8> texture;
  ASSERT_EQ(device->CreateTexture(32, 16, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8,
                                  D3DPOOL_DEFAULT, texture.out()),
            D3D_OK);
  Com<IDirect3DSurface8> level;
  texture->GetSurfaceLevel(0, level.out());
  ASSERT_EQ(device->SetRenderTarget(level.get(), nullptr), D3D_OK);
  device->GetViewport(&vp);
  EXPECT_EQ(vp.Width, 32u);
  EXPECT_EQ(vp.Height, 16u);
  ASSERT_EQ(device->SetRenderTarget(back.get(), nullptr), D3D_OK);
  device->GetViewport(&vp);
  EXPECT_EQ(vp.Width, 640u);
}

TEST_F(State, LightsMaterialsAndClipPlanes) {
  D3DLIGHT8 light{};
  EXPECT_EQ(device->GetLight(3, &light), D3DERR_INVALIDCALL);
  BOOL on = TRUE;
  EXPECT_EQ(device->GetLightEnable(3, &on), D3DERR_INVALIDCALL);
  // Enabling an unset light makes the default one.
  ASSERT_EQ(device->LightEnable(3, TRUE), D3D_OK);
  ASSERT_EQ(device->GetLight(3, &light), D3D_OK);
  EXPECT_EQ(light.Type, D3DLIGHT_DIRECTIONAL);
  EXPECT_EQ(light.Diffuse.r, 1.0f);
  EXPECT_EQ(light.Direction.z, 1.0f);
  ASSERT_EQ(device->GetLightEnable(3, &on), D3D_OK);
  EXPECT_TRUE(on);

  D3DLIGHT8 spot{};
  spot.Type = D3DLIGHT_SPOT;
  spot.Range = 10.0f;
  spot.Phi = 0.5f;
  ASSERT_EQ(device->SetLight(3, &spot), D3D_OK);
  ASSERT_EQ(device->GetLight(3, &light), D3D_OK);
  EXPECT_EQ(light.Type, D3DLIGHT_SPOT);
  EXPECT_EQ(light.Phi, 0.5f);
  ASSERT_EQ(device->GetLightEnable(3, &on), D3D_OK);
  EXPECT_TRUE(on);  // setting a light keeps its enable state
  spot.Type = D3DLIGHTTYPE(0);
  EXPECT_EQ(device->SetLight(4, &spot), D3DERR_INVALIDCALL);

  D3DMATERIAL8 material{};
  material.Diffuse = {0.5f, 0.25f, 1.0f, 1.0f};
  material.Power = 8.0f;
  ASSERT_EQ(device->SetMaterial(&material), D3D_OK);
  D3DMATERIAL8 got{};
  ASSERT_EQ(device->GetMaterial(&got), D3D_OK);
  EXPECT_EQ(std::memcmp(&material, &got, sizeof(got)), 0);

  const float plane[4] = {1, 2, 3, 4};
  ASSERT_EQ(device->SetClipPlane(5, plane), D3D_OK);
  float planeBack[4] = {};
  ASSERT_EQ(device->GetClipPlane(5, planeBack), D3D_OK);
  EXPECT_EQ(std::memcmp(plane, planeBack, sizeof(plane)), 0);
  EXPECT_EQ(device->SetClipPlane(6, plane), D3DERR_INVALIDCALL);
}

// ps.1.x: version, one instruction, a comment holding the end token, end.
std::vector<DWORD> PixelShader(DWORD minor) {
  return {D3DPS_VERSION(1, minor), 0x00000001,  0x800F0000, 0x90E40000,
          D3DSHADER_COMMENT(2),    D3DPS_END(), 0x12345678, D3DPS_END()};
}

TEST_F(State, PixelShadersUpToTheAdaptersVersion) {
  DWORD handle = 0;
  const std::vector<DWORD> code = PixelShader(4);
  ASSERT_EQ(device->CreatePixelShader(code.data(), &handle), D3D_OK);  // the default adapter: 1.4
  EXPECT_NE(handle, 0u);
  DWORD size = 0;
  ASSERT_EQ(device->GetPixelShaderFunction(handle, nullptr, &size), D3D_OK);
  EXPECT_EQ(size, code.size() * sizeof(DWORD));  // the comment did not end it early
  std::vector<DWORD> back(code.size());
  ASSERT_EQ(device->GetPixelShaderFunction(handle, back.data(), &size), D3D_OK);
  EXPECT_EQ(back, code);

  ASSERT_EQ(device->SetPixelShader(handle), D3D_OK);
  EXPECT_EQ(device->SetPixelShader(handle + 100), D3DERR_INVALIDCALL);
  ASSERT_EQ(device->DeletePixelShader(handle), D3D_OK);
  DWORD current = 1;
  device->GetPixelShader(&current);
  EXPECT_EQ(current, 0u);  // deleting the current shader unsets it
  EXPECT_EQ(device->DeletePixelShader(handle), D3DERR_INVALIDCALL);
  EXPECT_EQ(device->DeletePixelShader(12345), D3DERR_INVALIDCALL);

  std::vector<DWORD> vertex = code;
  vertex[0] = D3DVS_VERSION(1, 1);
  EXPECT_EQ(device->CreatePixelShader(vertex.data(), &handle), D3DERR_INVALIDCALL);
  std::vector<DWORD> endless(70000, 0);
  endless[0] = D3DPS_VERSION(1, 1);
  EXPECT_EQ(device->CreatePixelShader(endless.data(), &handle), D3DERR_INVALIDCALL);

  // An adapter with 1.1 takes 1.0 and 1.1 only.
  vrt::AdapterConfig a = vrt::DefaultAdapter();
  a.pixelShaderVersion = D3DPS_VERSION(1, 1);
  vrt::SetAdapters({a});
  Com<IDirect3DDevice8> older;
  ASSERT_EQ(Create(d3d.get(), Windowed(window), &older), D3D_OK);
  EXPECT_EQ(older->CreatePixelShader(PixelShader(1).data(), &handle), D3D_OK);
  EXPECT_EQ(older->CreatePixelShader(PixelShader(3).data(), &handle), D3DERR_INVALIDCALL);

  const float constants[2][4] = {{1, 2, 3, 4}, {5, 6, 7, 8}};
  ASSERT_EQ(device->SetPixelShaderConstant(6, constants, 2), D3D_OK);
  float back2[2][4] = {};
  ASSERT_EQ(device->GetPixelShaderConstant(6, back2, 2), D3D_OK);
  EXPECT_EQ(std::memcmp(constants, back2, sizeof(back2)), 0);
  EXPECT_EQ(device->SetPixelShaderConstant(7, constants, 2), D3DERR_INVALIDCALL);
}

TEST_F(State, VertexShaderHandlesAreFvfCodesOrCreatedShaders) {
  const DWORD fvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX2;
  ASSERT_EQ(device->SetVertexShader(fvf), D3D_OK);
  DWORD handle = 0;
  device->GetVertexShader(&handle);
  EXPECT_EQ(handle, fvf);
  EXPECT_EQ(device->SetVertexShader(D3DFVF_XYZ | 0x8000), D3DERR_INVALIDCALL);  // reserved bit

  const DWORD declaration[] = {D3DVSD_STREAM(0),
                               D3DVSD_REG(D3DVSDE_POSITION, D3DVSDT_FLOAT3),
                               D3DVSD_CONST(0, 1),
                               0xFFFFFFFF,
                               0,
                               0,
                               0,
                               D3DVSD_END()};
  DWORD shader = 0;
  ASSERT_EQ(device->CreateVertexShader(declaration, nullptr, &shader, 0), D3D_OK);
  EXPECT_EQ(shader & 1, 1u);  // never mistaken for an FVF code
  DWORD size = 4;
  EXPECT_EQ(device->GetVertexShaderDeclaration(shader, &handle, &size), D3DERR_MOREDATA);
  EXPECT_EQ(size, sizeof(declaration));  // the constant's payload did not end it
  ASSERT_EQ(device->SetVertexShader(shader), D3D_OK);
  ASSERT_EQ(device->DeleteVertexShader(shader), D3D_OK);
  EXPECT_EQ(device->SetVertexShader(shader), D3DERR_INVALIDCALL);
  EXPECT_EQ(device->DeleteVertexShader(fvf), D3DERR_INVALIDCALL);
}

class Draws : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    ASSERT_EQ(device->CreateVertexBuffer(10 * 24, 0, kFvf, D3DPOOL_MANAGED, vb.out()), D3D_OK);
    ASSERT_EQ(device->CreateIndexBuffer(6 * 2, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, ib.out()),
              D3D_OK);
    ASSERT_EQ(device->SetVertexShader(kFvf), D3D_OK);
  }
  void TearDown() override {
    vb.reset();
    ib.reset();
    DeviceTest::TearDown();
  }
  static constexpr DWORD kFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1;  // 24 bytes
  Com<IDirect3DVertexBuffer8> vb;
  Com<IDirect3DIndexBuffer8> ib;
};

TEST_F(Draws, ScenesDoNotNest) {
  EXPECT_EQ(device->EndScene(), D3DERR_INVALIDCALL);
  ASSERT_EQ(device->BeginScene(), D3D_OK);
  EXPECT_EQ(device->BeginScene(), D3DERR_INVALIDCALL);
  ASSERT_EQ(device->EndScene(), D3D_OK);
  EXPECT_EQ(device->EndScene(), D3DERR_INVALIDCALL);
}

TEST_F(Draws, DrawsStayInsideTheirBuffers) {
  ASSERT_EQ(device->SetStreamSource(0, vb.get(), 24), D3D_OK);
  EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3DERR_INVALIDCALL);  // no scene
  ASSERT_EQ(device->BeginScene(), D3D_OK);
  EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 1, 3), D3D_OK);  // vertices 1..9
  EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 2, 3), D3DERR_INVALIDCALL);
  EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 8), D3D_OK);
  EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLEFAN, 0, 9), D3DERR_INVALIDCALL);
  EXPECT_EQ(device->DrawPrimitive(D3DPT_LINELIST, 0, 0), D3DERR_INVALIDCALL);
  EXPECT_EQ(device->DrawPrimitive(D3DPRIMITIVETYPE(9), 0, 1), D3DERR_INVALIDCALL);

  EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 4, 0, 2), D3DERR_INVALIDCALL);
  ASSERT_EQ(device->SetIndices(ib.get(), 2), D3D_OK);
  EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 8, 0, 2), D3D_OK);
  EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 8, 1, 2), D3DERR_INVALIDCALL);
  EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 1, 8, 0, 2),
            D3DERR_INVALIDCALL);  // base 2 + 1 + 8 > 10 vertices

  ASSERT_EQ(device->SetStreamSource(0, nullptr, 0), D3D_OK);
  EXPECT_EQ(device->DrawPrimitive(D3DPT_POINTLIST, 0, 1), D3DERR_INVALIDCALL);
  ASSERT_EQ(device->SetVertexShader(0), D3D_OK);
  const float vertices[3][6] = {};
  EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, vertices, 24), D3DERR_INVALIDCALL);
  ASSERT_EQ(device->EndScene(), D3D_OK);
}

TEST_F(Draws, UserPointerDrawsUnsetTheirStreams) {
  ASSERT_EQ(device->SetStreamSource(0, vb.get(), 24), D3D_OK);
  ASSERT_EQ(device->SetIndices(ib.get(), 0), D3D_OK);
  ASSERT_EQ(device->BeginScene(), D3D_OK);
  const float vertices[4][6] = {};
  const WORD indices[6] = {0, 1, 2, 2, 3, 0};
  EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, vertices, 0), D3DERR_INVALIDCALL);
  ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, vertices, 24), D3D_OK);
  Com<IDirect3DVertexBuffer8> stream;
  UINT stride = 1;
  device->GetStreamSource(0, stream.out(), &stride);
  EXPECT_FALSE(stream);
  EXPECT_EQ(stride, 0u);
  Com<IDirect3DIndexBuffer8> bound;
  UINT base = 1;
  device->GetIndices(bound.out(), &base);
  EXPECT_EQ(bound.get(), ib.get());  // the plain draw leaves the indices

  EXPECT_EQ(device->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, 4, 2, indices, D3DFMT_X8R8G8B8,
                                           vertices, 24),
            D3DERR_INVALIDCALL);
  ASSERT_EQ(device->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, 4, 2, indices, D3DFMT_INDEX16,
                                           vertices, 24),
            D3D_OK);
  device->GetIndices(bound.out(), &base);
  EXPECT_FALSE(bound);
  ASSERT_EQ(device->EndScene(), D3D_OK);
}

TEST_F(Draws, ClearNeedsWhatItClears) {
  EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_XRGB(1, 2, 3), 1.0f, 0), D3D_OK);
  EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3DERR_INVALIDCALL);
  EXPECT_EQ(device->Clear(0, nullptr, 0, 0, 1.0f, 0), D3DERR_INVALIDCALL);
  EXPECT_EQ(device->Clear(2, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0), D3DERR_INVALIDCALL);
  const D3DRECT rects[2] = {{0, 0, 10, 10}, {20, 20, 30, 30}};
  EXPECT_EQ(device->Clear(2, rects, D3DCLEAR_TARGET, 0, 1.0f, 0), D3D_OK);

  Com<IDirect3DSurface8> target, d16, d24s8;
  device->GetRenderTarget(target.out());
  ASSERT_EQ(device->CreateDepthStencilSurface(640, 480, D3DFMT_D16, D3DMULTISAMPLE_NONE, d16.out()),
            D3D_OK);
  ASSERT_EQ(
      device->CreateDepthStencilSurface(640, 480, D3DFMT_D24S8, D3DMULTISAMPLE_NONE, d24s8.out()),
      D3D_OK);
  ASSERT_EQ(device->SetRenderTarget(target.get(), d16.get()), D3D_OK);
  EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3D_OK);
  EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.5f, 0), D3DERR_INVALIDCALL);
  EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_STENCIL, 0, 1.0f, 0), D3DERR_INVALIDCALL);
  ASSERT_EQ(device->SetRenderTarget(target.get(), d24s8.get()), D3D_OK);
  EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_STENCIL | D3DCLEAR_ZBUFFER, 0, 0.0f, 0x80), D3D_OK);
  ASSERT_EQ(device->SetRenderTarget(target.get(), nullptr), D3D_OK);
}

TEST_F(State, GammaCursorAndUnsupportedFeatures) {
  D3DGAMMARAMP ramp{};
  device->GetGammaRamp(&ramp);
  EXPECT_EQ(ramp.red[255], 0xFFFF);  // identity until set
  for (int i = 0; i < 256; ++i) ramp.green[i] = static_cast<WORD>(255 - i);
  device->SetGammaRamp(D3DSGR_NO_CALIBRATION, &ramp);
  D3DGAMMARAMP back{};
  device->GetGammaRamp(&back);
  EXPECT_EQ(back.green[0], 255);

  EXPECT_FALSE(device->ShowCursor(TRUE));
  EXPECT_TRUE(device->ShowCursor(FALSE));
  EXPECT_FALSE(device->ShowCursor(FALSE));

  DWORD token = 0;
  EXPECT_EQ(device->CreateStateBlock(D3DSBT_ALL, &token), D3DERR_NOTAVAILABLE);
  EXPECT_EQ(device->ApplyStateBlock(token), D3DERR_INVALIDCALL);
  EXPECT_EQ(device->DeletePatch(1), D3DERR_INVALIDCALL);
  DWORD passes = 0;
  EXPECT_EQ(device->ValidateDevice(&passes), D3D_OK);
  EXPECT_EQ(passes, 1u);
  PALETTEENTRY palette[256] = {};
  palette[7] = {1, 2, 3, 4};
  UINT current = 0;
  EXPECT_EQ(device->SetCurrentTexturePalette(2), D3DERR_INVALIDCALL);
  ASSERT_EQ(device->SetPaletteEntries(2, palette), D3D_OK);
  ASSERT_EQ(device->SetCurrentTexturePalette(2), D3D_OK);
  ASSERT_EQ(device->GetCurrentTexturePalette(&current), D3D_OK);
  EXPECT_EQ(current, 2u);
  PALETTEENTRY got[256] = {};
  ASSERT_EQ(device->GetPaletteEntries(2, got), D3D_OK);
  EXPECT_EQ(got[7].peBlue, 3);
}

}  // namespace
