// The render-state cache: which sets reach the device and which are skipped.
#include "gd/state_cache.h"

#include <vek/vek.h>

#include <set>

#include "gd/device.h"
#include "support/vek_test.h"

namespace {

class StateCacheTest : public VekTest {
 protected:
  void SetUp() override {
    VekTest::SetUp();
    device = VekOpenGraphicsDevice(0, window, 0, 1, 0, 0, 0, 0);
    ASSERT_NE(device, nullptr);
    cache = &device->cache;
    vrt::ClearCallLog();
  }
  void TearDown() override {
    if (device) VekCloseGraphicsDevice(device);
    VekTest::TearDown();
  }
  static size_t Calls(const char* method) {
    return vrt::CountCalls(std::string("IDirect3DDevice8::") + method);
  }
  GraphicsDevice* device = nullptr;
  RenderStateCache* cache = nullptr;
};

TEST_F(StateCacheTest, FirstSetReachesTheDeviceAndARepeatDoesNot) {
  EXPECT_EQ(SetRenderStateCached(cache, D3DRS_LIGHTING, FALSE), D3D_OK);
  EXPECT_EQ(Calls("SetRenderState"), 1u);
  SetRenderStateCached(cache, D3DRS_LIGHTING, FALSE);
  EXPECT_EQ(Calls("SetRenderState"), 1u);
  DWORD value = 7;
  cache->device->GetRenderState(D3DRS_LIGHTING, &value);
  EXPECT_EQ(value, 0u);
  SetRenderStateCached(cache, D3DRS_LIGHTING, TRUE);
  EXPECT_EQ(Calls("SetRenderState"), 2u);

  SetTextureStageStateCached(cache, 0, D3DTSS_COLOROP, D3DTOP_MODULATE);
  SetTextureStageStateCached(cache, 0, D3DTSS_COLOROP, D3DTOP_MODULATE);
  SetTextureStageStateCached(cache, 1, D3DTSS_COLOROP, D3DTOP_MODULATE);  // another stage
  EXPECT_EQ(Calls("SetTextureStageState"), 2u);
}

TEST_F(StateCacheTest, ValuesOutsideTheCachedSetsAreIgnored) {
  EXPECT_EQ(SetRenderStateCached(cache, static_cast<D3DRENDERSTATETYPE>(11), 1), D3D_OK);
  EXPECT_EQ(SetRenderStateCached(cache, static_cast<D3DRENDERSTATETYPE>(174), 1), D3D_OK);
  EXPECT_EQ(SetTextureStageStateCached(cache, 0, static_cast<D3DTEXTURESTAGESTATETYPE>(12), 1),
            D3D_OK);
  EXPECT_EQ(SetTextureStageStateCached(cache, 8, D3DTSS_COLOROP, D3DTOP_ADD), D3D_OK);
  EXPECT_EQ(SetTextureCached(cache, 9, nullptr), D3D_OK);
  D3DMATRIX m{};
  EXPECT_EQ(SetTransformCached(cache, static_cast<D3DTRANSFORMSTATETYPE>(260), &m), D3D_OK);
  EXPECT_EQ(vrt::CallLog().size(), 0u);
}

TEST_F(StateCacheTest, EveryDirect3D8RenderStateHasItsOwnSlot) {
  // The render states Direct3D 8 defines; everything else between 0 and 200 has none.
  const std::set<DWORD> states = {D3DRS_ZENABLE,
                                  D3DRS_FILLMODE,
                                  D3DRS_SHADEMODE,
                                  D3DRS_LINEPATTERN,
                                  D3DRS_ZWRITEENABLE,
                                  D3DRS_ALPHATESTENABLE,
                                  D3DRS_LASTPIXEL,
                                  D3DRS_SRCBLEND,
                                  D3DRS_DESTBLEND,
                                  D3DRS_CULLMODE,
                                  D3DRS_ZFUNC,
                                  D3DRS_ALPHAREF,
                                  D3DRS_ALPHAFUNC,
                                  D3DRS_DITHERENABLE,
                                  D3DRS_ALPHABLENDENABLE,
                                  D3DRS_FOGENABLE,
                                  D3DRS_SPECULARENABLE,
                                  D3DRS_ZVISIBLE,
                                  D3DRS_FOGCOLOR,
                                  D3DRS_FOGTABLEMODE,
                                  D3DRS_FOGSTART,
                                  D3DRS_FOGEND,
                                  D3DRS_FOGDENSITY,
                                  D3DRS_EDGEANTIALIAS,
                                  D3DRS_ZBIAS,
                                  D3DRS_RANGEFOGENABLE,
                                  D3DRS_STENCILENABLE,
                                  D3DRS_STENCILFAIL,
                                  D3DRS_STENCILZFAIL,
                                  D3DRS_STENCILPASS,
                                  D3DRS_STENCILFUNC,
                                  D3DRS_STENCILREF,
                                  D3DRS_STENCILMASK,
                                  D3DRS_STENCILWRITEMASK,
                                  D3DRS_TEXTUREFACTOR,
                                  D3DRS_WRAP0,
                                  D3DRS_WRAP1,
                                  D3DRS_WRAP2,
                                  D3DRS_WRAP3,
                                  D3DRS_WRAP4,
                                  D3DRS_WRAP5,
                                  D3DRS_WRAP6,
                                  D3DRS_WRAP7,
                                  D3DRS_CLIPPING,
                                  D3DRS_LIGHTING,
                                  D3DRS_AMBIENT,
                                  D3DRS_FOGVERTEXMODE,
                                  D3DRS_COLORVERTEX,
                                  D3DRS_LOCALVIEWER,
                                  D3DRS_NORMALIZENORMALS,
                                  D3DRS_DIFFUSEMATERIALSOURCE,
                                  D3DRS_SPECULARMATERIALSOURCE,
                                  D3DRS_AMBIENTMATERIALSOURCE,
                                  D3DRS_EMISSIVEMATERIALSOURCE,
                                  D3DRS_VERTEXBLEND,
                                  D3DRS_CLIPPLANEENABLE,
                                  D3DRS_SOFTWAREVERTEXPROCESSING,
                                  D3DRS_POINTSIZE,
                                  D3DRS_POINTSIZE_MIN,
                                  D3DRS_POINTSPRITEENABLE,
                                  D3DRS_POINTSCALEENABLE,
                                  D3DRS_POINTSCALE_A,
                                  D3DRS_POINTSCALE_B,
                                  D3DRS_POINTSCALE_C,
                                  D3DRS_MULTISAMPLEANTIALIAS,
                                  D3DRS_MULTISAMPLEMASK,
                                  D3DRS_PATCHEDGESTYLE,
                                  D3DRS_PATCHSEGMENTS,
                                  D3DRS_DEBUGMONITORTOKEN,
                                  D3DRS_POINTSIZE_MAX,
                                  D3DRS_INDEXEDVERTEXBLENDENABLE,
                                  D3DRS_COLORWRITEENABLE,
                                  D3DRS_TWEENFACTOR,
                                  D3DRS_BLENDOP,
                                  D3DRS_POSITIONORDER,
                                  D3DRS_NORMALORDER};
  ASSERT_EQ(states.size(), 76u);
  std::set<int> slots;
  int previous = -1;
  for (DWORD s = 0; s <= 200; ++s) {
    const int slot = RenderStateSlot(s);
    if (!states.count(s)) {
      EXPECT_EQ(slot, -1) << "state " << s;
      continue;
    }
    EXPECT_EQ(slot, previous + 1) << "state " << s;  // enumerator order
    previous = slot;
    slots.insert(slot);
  }
  EXPECT_EQ(slots.size(), 76u);
}

TEST_F(StateCacheTest, ResetMakesEveryStateReachTheDeviceAgain) {
  SetRenderStateCached(cache, D3DRS_ZENABLE, D3DZB_TRUE);
  SetTextureStageStateCached(cache, 3, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
  ResetStateCache(cache);
  EXPECT_NE(cache->device, nullptr);
  SetRenderStateCached(cache, D3DRS_ZENABLE, D3DZB_TRUE);
  SetTextureStageStateCached(cache, 3, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
  EXPECT_EQ(Calls("SetRenderState"), 2u);
  EXPECT_EQ(Calls("SetTextureStageState"), 2u);
  // Other fields start at zero: a zero set is taken as already in place.
  SetTextureCached(cache, 0, nullptr);
  SetPixelShaderCached(cache, 0);
  SetVertexShaderCached(cache, 0);
  const float zero[4] = {0, 0, 0, 0};
  SetPixelShaderConstantCached(cache, zero);
  EXPECT_EQ(Calls("SetTexture") + Calls("SetPixelShader") + Calls("SetVertexShader") +
                Calls("SetPixelShaderConstant"),
            0u);
}

TEST_F(StateCacheTest, ViewportComparesEveryField) {
  D3DVIEWPORT8 vp{0, 0, 100, 50, 0.0f, 1.0f};
  SetViewportCached(cache, &vp);
  SetViewportCached(cache, &vp);
  EXPECT_EQ(Calls("SetViewport"), 1u);
  vp.MinZ = 0.25f;
  SetViewportCached(cache, &vp);
  EXPECT_EQ(Calls("SetViewport"), 2u);
  vp.X = 3;
  SetViewportCached(cache, &vp);
  EXPECT_EQ(Calls("SetViewport"), 3u);
}

TEST_F(StateCacheTest, TransformsCompareAllSixteenFloats) {
  D3DMATRIX m{};
  m._11 = m._22 = m._33 = m._44 = 1.0f;
  SetTransformCached(cache, D3DTS_PROJECTION, &m);
  SetTransformCached(cache, D3DTS_PROJECTION, &m);
  SetTransformCached(cache, D3DTS_VIEW, &m);
  EXPECT_EQ(Calls("SetTransform"), 2u);
  m._43 = 0.5f;
  SetTransformCached(cache, D3DTS_PROJECTION, &m);
  SetTransformCached(cache, D3DTS_WORLDMATRIX(3), &m);
  SetTransformCached(cache, D3DTS_TEXTURE7, &m);
  EXPECT_EQ(Calls("SetTransform"), 5u);
  D3DMATRIX back{};
  cache->device->GetTransform(D3DTS_WORLDMATRIX(3), &back);
  EXPECT_EQ(back._43, 0.5f);
}

TEST_F(StateCacheTest, StreamComparesTheBufferAndIndicesCompareBoth) {
  SetStreamSourceCached(cache, 0, device->vertexBuffer, 24);
  SetStreamSourceCached(cache, 0, device->vertexBuffer, 32);  // stride alone is no change
  EXPECT_EQ(Calls("SetStreamSource"), 1u);
  SetIndicesCached(cache, device->indexBuffer, 0);
  SetIndicesCached(cache, device->indexBuffer, 4);
  SetIndicesCached(cache, device->indexBuffer, 4);
  EXPECT_EQ(Calls("SetIndices"), 2u);
  // Unbind so the device can be closed cleanly.
  SetStreamSourceCached(cache, 0, nullptr, 24);
  SetIndicesCached(cache, nullptr, 0);
}

TEST_F(StateCacheTest, FailedSetStillStoresTheValue) {
  vrt::FailCall("IDirect3DDevice8::SetRenderState", D3DERR_INVALIDCALL);
  EXPECT_EQ(SetRenderStateCached(cache, D3DRS_ALPHAREF, 0x80), D3DERR_INVALIDCALL);
  EXPECT_EQ(SetRenderStateCached(cache, D3DRS_ALPHAREF, 0x80), D3D_OK);
  EXPECT_EQ(Calls("SetRenderState"), 1u);
}

TEST_F(StateCacheTest, PixelShaderConstantComparesFourFloats) {
  const float a[4] = {0.5f, 1.0f, 0.25f, 0.0f};
  float b[4] = {0.5f, 1.0f, 0.25f, 0.0f};
  SetPixelShaderConstantCached(cache, a);
  SetPixelShaderConstantCached(cache, b);
  EXPECT_EQ(Calls("SetPixelShaderConstant"), 1u);
  b[3] = 1.0f;
  SetPixelShaderConstantCached(cache, b);
  EXPECT_EQ(Calls("SetPixelShaderConstant"), 2u);
}

TEST_F(StateCacheTest, NewRenderTargetReadsBackTheViewport) {
  IDirect3DSurface8* target = nullptr;
  ASSERT_EQ(cache->device->CreateRenderTarget(128, 96, D3DFMT_X8R8G8B8, D3DMULTISAMPLE_NONE, FALSE,
                                              &target),
            D3D_OK);
  D3DVIEWPORT8 small{1, 2, 10, 10, 0.0f, 1.0f};
  SetViewportCached(cache, &small);
  EXPECT_EQ(SetRenderTargetCached(cache, target, nullptr), D3D_OK);
  EXPECT_EQ(cache->viewport.Width, 128u);
  EXPECT_EQ(cache->viewport.Height, 96u);
  EXPECT_EQ(cache->viewport.X, 0u);
  const size_t before = Calls("SetViewport");
  D3DVIEWPORT8 whole{0, 0, 128, 96, 0.0f, 1.0f};
  SetViewportCached(cache, &whole);
  EXPECT_EQ(Calls("SetViewport"), before);
  EXPECT_EQ(SetRenderTargetCached(cache, target, nullptr), D3D_OK);
  EXPECT_EQ(Calls("SetRenderTarget"), 1u);

  // A refused target leaves the cache as it was, so the next set tries again.
  IDirect3DSurface8* back = nullptr;
  cache->device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &back);
  vrt::FailCall("IDirect3DDevice8::SetRenderTarget", D3DERR_INVALIDCALL);
  EXPECT_EQ(SetRenderTargetCached(cache, back, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(cache->renderTarget, target);
  EXPECT_EQ(SetRenderTargetCached(cache, back, nullptr), D3D_OK);
  EXPECT_EQ(cache->renderTarget, back);
  back->Release();
  target->Release();
}

}  // namespace
