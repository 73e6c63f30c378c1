// Device creation: parameter defaults and refusals; the loss cycle; Reset.
#include <cstring>
#include <functional>

#include "runtime_test.h"

namespace {

D3DSURFACE_DESC BackBufferDesc(IDirect3DDevice8* device, UINT index = 0) {
  D3DSURFACE_DESC desc{};
  Com<IDirect3DSurface8> back;
  if (SUCCEEDED(device->GetBackBuffer(index, D3DBACKBUFFER_TYPE_MONO, back.out())))
    back->GetDesc(&desc);
  return desc;
}

class CreateDeviceTest : public RuntimeTest {
 protected:
  void SetUp() override {
    RuntimeTest::SetUp();
    d3d.attach(Direct3DCreate8(D3D_SDK_VERSION));
    ASSERT_TRUE(d3d);
  }
  void TearDown() override {
    d3d.reset();
    RuntimeTest::TearDown();
  }
  Com<IDirect3D8> d3d;
};

TEST_F(CreateDeviceTest, WindowedDefaultsComeFromTheWindowAndTheDisplay) {
  D3DPRESENT_PARAMETERS p = Windowed(window);  // 0 x 0, UNKNOWN format, no count
  Com<IDirect3DDevice8> device;
  ASSERT_EQ(Create(d3d.get(), p, &device), D3D_OK);
  // The caller's parameters come back as the device took them.
  EXPECT_EQ(p.BackBufferWidth, 640u);
  EXPECT_EQ(p.BackBufferHeight, 480u);
  EXPECT_EQ(p.BackBufferFormat, D3DFMT_X8R8G8B8);
  EXPECT_EQ(p.BackBufferCount, 1u);

  const D3DSURFACE_DESC back = BackBufferDesc(device.get());
  EXPECT_EQ(back.Width, 640u);
  EXPECT_EQ(back.Height, 480u);
  EXPECT_EQ(back.Format, D3DFMT_X8R8G8B8);
  EXPECT_EQ(back.Usage, D3DUSAGE_RENDERTARGET);
  EXPECT_EQ(back.Pool, D3DPOOL_DEFAULT);
  Com<IDirect3DSurface8> second;
  EXPECT_EQ(device->GetBackBuffer(1, D3DBACKBUFFER_TYPE_MONO, second.out()), D3DERR_INVALIDCALL);

  D3DDEVICE_CREATION_PARAMETERS created{};
  ASSERT_EQ(device->GetCreationParameters(&created), D3D_OK);
  EXPECT_EQ(created.AdapterOrdinal, 0u);
  EXPECT_EQ(created.DeviceType, D3DDEVTYPE_HAL);
  EXPECT_EQ(created.hFocusWindow, window);
  EXPECT_EQ(created.BehaviorFlags, D3DCREATE_SOFTWARE_VERTEXPROCESSING);
  D3DDISPLAYMODE mode{};
  ASSERT_EQ(device->GetDisplayMode(&mode), D3D_OK);
  EXPECT_EQ(mode.Width, 1280u);

  // No depth surface unless asked for, and z testing off to match.
  Com<IDirect3DSurface8> depth;
  EXPECT_EQ(device->GetDepthStencilSurface(depth.out()), D3DERR_NOTFOUND);
  EXPECT_FALSE(depth);
  DWORD z = 7;
  ASSERT_EQ(device->GetRenderState(D3DRS_ZENABLE, &z), D3D_OK);
  EXPECT_EQ(z, static_cast<DWORD>(D3DZB_FALSE));

  Com<IDirect3D8> parent;
  ASSERT_EQ(device->GetDirect3D(parent.out()), D3D_OK);
  EXPECT_EQ(parent.get(), d3d.get());
}

TEST_F(CreateDeviceTest, ExplicitSizesFormatsAndAutomaticDepth) {
  D3DPRESENT_PARAMETERS p = Windowed(window, 320, 200, D3DFMT_R5G6B5);
  p.SwapEffect = D3DSWAPEFFECT_DISCARD;
  p.BackBufferCount = 2;
  p.EnableAutoDepthStencil = TRUE;
  p.AutoDepthStencilFormat = D3DFMT_D24S8;
  Com<IDirect3DDevice8> device;
  ASSERT_EQ(Create(d3d.get(), p, &device, 0, D3DDEVTYPE_REF), D3D_OK);
  for (UINT i = 0; i < 2; ++i) {
    const D3DSURFACE_DESC back = BackBufferDesc(device.get(), i);
    EXPECT_EQ(back.Width, 320u);
    EXPECT_EQ(back.Height, 200u);
    EXPECT_EQ(back.Format, D3DFMT_R5G6B5);
  }
  Com<IDirect3DSurface8> depth;
  ASSERT_EQ(device->GetDepthStencilSurface(depth.out()), D3D_OK);
  D3DSURFACE_DESC d{};
  depth->GetDesc(&d);
  EXPECT_EQ(d.Format, D3DFMT_D24S8);
  EXPECT_EQ(d.Usage, D3DUSAGE_DEPTHSTENCIL);
  EXPECT_EQ(d.Width, 320u);
  DWORD z = 0;
  device->GetRenderState(D3DRS_ZENABLE, &z);
  EXPECT_EQ(z, static_cast<DWORD>(D3DZB_TRUE));
}

TEST_F(CreateDeviceTest, FullScreenTakesTheCurrentOrAListedMode) {
  vrt::AdapterConfig a = vrt::DefaultAdapter();
  a.currentMode = {800, 600, 75, D3DFMT_R5G6B5};  // not in the mode list at 75 Hz
  vrt::SetAdapters({a});
  D3DPRESENT_PARAMETERS p{};
  p.BackBufferWidth = 800;
  p.BackBufferHeight = 600;
  p.BackBufferFormat = D3DFMT_R5G6B5;
  p.SwapEffect = D3DSWAPEFFECT_FLIP;
  p.hDeviceWindow = window;
  p.FullScreen_RefreshRateInHz = 75;
  p.FullScreen_PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
  Com<IDirect3DDevice8> device;
  ASSERT_EQ(Create(d3d.get(), p, &device), D3D_OK);
  D3DDISPLAYMODE mode{};
  device->GetDisplayMode(&mode);
  EXPECT_EQ(mode.RefreshRate, 75u);
  device.reset();

  p.BackBufferWidth = 1024;  // listed at 60 Hz, in X8R8G8B8 with an alpha back buffer
  p.BackBufferHeight = 768;
  p.BackBufferFormat = D3DFMT_A8R8G8B8;
  p.FullScreen_RefreshRateInHz = 0;
  ASSERT_EQ(Create(d3d.get(), p, &device), D3D_OK);
  device->GetDisplayMode(&mode);
  EXPECT_EQ(mode.Width, 1024u);
  EXPECT_EQ(mode.Format, D3DFMT_X8R8G8B8);
  EXPECT_EQ(BackBufferDesc(device.get()).Format, D3DFMT_A8R8G8B8);
}

struct Refusal {
  const char* what;
  std::function<void(D3DPRESENT_PARAMETERS&, UINT& adapter, D3DDEVTYPE& type, DWORD& flags,
                     HWND& focus)>
      change;
};

TEST_F(CreateDeviceTest, InvalidRequestsAreRefusedAndLeaveNothing) {
  HWND dead = vrt::CreateVirtualWindow(0, 0, 10, 10);
  vrt::DestroyVirtualWindow(dead);
  const Refusal refusals[] = {
      {"adapter", [](auto&, UINT& a, auto&, auto&, auto&) { a = 1; }},
      {"software type", [](auto&, auto&, D3DDEVTYPE& t, auto&, auto&) { t = D3DDEVTYPE_SW; }},
      {"no vertex processing", [](auto&, auto&, auto&, DWORD& f, auto&) { f = 0; }},
      {"two kinds of vertex processing",
       [](auto&, auto&, auto&, DWORD& f, auto&) { f |= D3DCREATE_HARDWARE_VERTEXPROCESSING; }},
      {"unknown flag", [](auto&, auto&, auto&, DWORD& f, auto&) { f |= 0x8000; }},
      {"destroyed window", [dead](D3DPRESENT_PARAMETERS& p, auto&, auto&, auto&,
                                  HWND& w) { p.hDeviceWindow = w = dead; }},
      {"no window at all", [](D3DPRESENT_PARAMETERS& p, auto&, auto&, auto&,
                              HWND& w) { p.hDeviceWindow = w = nullptr; }},
      {"windowed format",
       [](D3DPRESENT_PARAMETERS& p, auto&...) { p.BackBufferFormat = D3DFMT_R8G8B8; }},
      {"windowed refresh rate",
       [](D3DPRESENT_PARAMETERS& p, auto&...) { p.FullScreen_RefreshRateInHz = 60; }},
      {"windowed interval",
       [](D3DPRESENT_PARAMETERS& p, auto&...) {
         p.FullScreen_PresentationInterval = D3DPRESENT_INTERVAL_ONE;
       }},
      {"multisampling",
       [](D3DPRESENT_PARAMETERS& p, auto&...) { p.MultiSampleType = D3DMULTISAMPLE_4_SAMPLES; }},
      {"four back buffers", [](D3DPRESENT_PARAMETERS& p, auto&...) { p.BackBufferCount = 4; }},
      {"copying two back buffers",
       [](D3DPRESENT_PARAMETERS& p, auto&...) { p.BackBufferCount = 2; }},
      {"swap effect", [](D3DPRESENT_PARAMETERS& p, auto&...) { p.SwapEffect = D3DSWAPEFFECT(9); }},
      {"depth format",
       [](D3DPRESENT_PARAMETERS& p, auto&...) {
         p.EnableAutoDepthStencil = TRUE;
         p.AutoDepthStencilFormat = D3DFMT_X8R8G8B8;
       }},
      {"present flag", [](D3DPRESENT_PARAMETERS& p, auto&...) { p.Flags = 0x10; }},
      {"full-screen format unknown",
       [](D3DPRESENT_PARAMETERS& p, auto&...) {
         p.Windowed = FALSE;
         p.BackBufferWidth = 1280;
         p.BackBufferHeight = 720;
       }},
      {"full-screen size no mode has",
       [](D3DPRESENT_PARAMETERS& p, auto&...) {
         p.Windowed = FALSE;
         p.BackBufferWidth = 1000;
         p.BackBufferHeight = 700;
         p.BackBufferFormat = D3DFMT_X8R8G8B8;
       }},
      {"full-screen refresh no mode has",
       [](D3DPRESENT_PARAMETERS& p, auto&...) {
         p.Windowed = FALSE;
         p.BackBufferWidth = 640;
         p.BackBufferHeight = 480;
         p.BackBufferFormat = D3DFMT_X8R8G8B8;
         p.FullScreen_RefreshRateInHz = 85;
       }},
  };
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.what);
    D3DPRESENT_PARAMETERS p = Windowed(window);
    UINT adapter = 0;
    D3DDEVTYPE type = D3DDEVTYPE_HAL;
    DWORD flags = D3DCREATE_SOFTWARE_VERTEXPROCESSING;
    HWND focus = window;
    r.change(p, adapter, type, flags, focus);
    IDirect3DDevice8* device = reinterpret_cast<IDirect3DDevice8*>(8);
    EXPECT_EQ(d3d->CreateDevice(adapter, type, focus, flags, &p, &device), D3DERR_INVALIDCALL);
    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(vrt::LiveObjectCount(), 1);  // the IDirect3D8 alone
  }
  EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_SOFTWARE_VERTEXPROCESSING,
                              nullptr, nullptr),
            D3DERR_INVALIDCALL);
}

// --- Loss and Reset ---------------------------------------------------------

using LossTest = DeviceTest;

TEST_F(LossTest, LostThenResettableThenReset) {
  EXPECT_EQ(device->TestCooperativeLevel(), D3D_OK);
  EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);

  vrt::LoseDevice(device.get());
  EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICELOST);
  EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
  D3DPRESENT_PARAMETERS p = Windowed(window);
  EXPECT_EQ(device->Reset(&p), D3DERR_DEVICELOST);
  EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICELOST);  // still lost, not reset

  vrt::MakeDeviceResettable(device.get());
  EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
  EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
  EXPECT_EQ(device->Reset(&p), D3D_OK);
  EXPECT_EQ(device->TestCooperativeLevel(), D3D_OK);
  EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
}

TEST_F(LossTest, ResetRuntimeEndsEveryLoss) {
  vrt::LoseDevice(device.get());
  vrt::ResetRuntime();
  EXPECT_EQ(device->TestCooperativeLevel(), D3D_OK);
  vrt::LoseDevice(nullptr);  // not a device: ignored
  vrt::MakeDeviceResettable(reinterpret_cast<IDirect3DDevice8*>(window));
  EXPECT_EQ(device->TestCooperativeLevel(), D3D_OK);
}

TEST_F(LossTest, EveryFailedResetAsksForAnother) {
  D3DPRESENT_PARAMETERS good = Windowed(window);
  // Refused: bad parameters.
  D3DPRESENT_PARAMETERS bad = good;
  bad.BackBufferFormat = D3DFMT_DXT1;
  EXPECT_EQ(device->Reset(&bad), D3DERR_INVALIDCALL);
  EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
  EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
  EXPECT_EQ(device->Reset(&good), D3D_OK);
  EXPECT_EQ(device->TestCooperativeLevel(), D3D_OK);

  // Injected.
  vrt::FailCall("IDirect3DDevice8::Reset", E_OUTOFMEMORY);
  EXPECT_EQ(device->Reset(&good), E_OUTOFMEMORY);
  EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
  EXPECT_EQ(device->Reset(&good), D3D_OK);

  // Injected while lost: the device stays lost.
  vrt::LoseDevice(device.get());
  vrt::FailCall("IDirect3DDevice8::Reset", D3DERR_INVALIDCALL);
  EXPECT_EQ(device->Reset(&good), D3DERR_INVALIDCALL);
  EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICELOST);
}

TEST_F(LossTest, DefaultPoolResourcesBlockResetUntilReleased) {
  D3DPRESENT_PARAMETERS p = Windowed(window);
  Com<IDirect3DVertexBuffer8> vb;
  ASSERT_EQ(device->CreateVertexBuffer(96, D3DUSAGE_WRITEONLY | D3DUSAGE_DYNAMIC, D3DFVF_XYZ,
                                       D3DPOOL_DEFAULT, vb.out()),
            D3D_OK);
  Com<IDirect3DTexture8> target;
  ASSERT_EQ(device->CreateTexture(64, 64, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8,
                                  D3DPOOL_DEFAULT, target.out()),
            D3D_OK);
  EXPECT_EQ(device->Reset(&p), D3DERR_INVALIDCALL);
  EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
  vb.reset();
  EXPECT_EQ(device->Reset(&p), D3DERR_INVALIDCALL);  // the texture is still there

  // Let go by the application but still bound: still alive, still blocking.
  ASSERT_EQ(device->SetTexture(0, target.get()), D3D_OK);
  EXPECT_EQ(target.reset(), 1u);
  EXPECT_EQ(device->Reset(&p), D3DERR_INVALIDCALL);
  ASSERT_EQ(device->SetTexture(0, nullptr), D3D_OK);  // the last reference goes
  EXPECT_EQ(device->Reset(&p), D3D_OK);
  EXPECT_EQ(device->TestCooperativeLevel(), D3D_OK);
}

TEST_F(LossTest, AHeldBackBufferBlocksReset) {
  D3DPRESENT_PARAMETERS p = Windowed(window);
  Com<IDirect3DSurface8> back;
  ASSERT_EQ(device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, back.out()), D3D_OK);
  EXPECT_EQ(device->Reset(&p), D3DERR_INVALIDCALL);
  Com<IDirect3DSurface8> target;
  ASSERT_EQ(device->GetRenderTarget(target.out()), D3D_OK);
  EXPECT_EQ(target.get(), back.get());
  back.reset();
  EXPECT_EQ(device->Reset(&p), D3DERR_INVALIDCALL);  // held again through GetRenderTarget
  target.reset();
  EXPECT_EQ(device->Reset(&p), D3D_OK);
}

TEST_F(LossTest, ResetRebuildsTheBackBufferAndRestoresDefaults) {
  Com<IDirect3DTexture8> managed;
  ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, managed.out()),
            D3D_OK);
  ASSERT_EQ(device->SetTexture(0, managed.get()), D3D_OK);
  ASSERT_EQ(device->SetRenderState(D3DRS_LIGHTING, FALSE), D3D_OK);
  ASSERT_EQ(device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_ADD), D3D_OK);
  D3DMATRIX scale{};
  scale._11 = scale._22 = scale._33 = 2.0f;
  scale._44 = 1.0f;
  ASSERT_EQ(device->SetTransform(D3DTS_WORLD, &scale), D3D_OK);
  ASSERT_EQ(device->BeginScene(), D3D_OK);

  vrt::ResizeVirtualWindow(window, 500, 300);
  D3DPRESENT_PARAMETERS p = Windowed(window, 0, 0, D3DFMT_R5G6B5);
  ASSERT_EQ(device->Reset(&p), D3D_OK);
  EXPECT_EQ(p.BackBufferWidth, 500u);
  EXPECT_EQ(p.BackBufferHeight, 300u);

  const D3DSURFACE_DESC back = BackBufferDesc(device.get());
  EXPECT_EQ(back.Width, 500u);
  EXPECT_EQ(back.Height, 300u);
  EXPECT_EQ(back.Format, D3DFMT_R5G6B5);
  Com<IDirect3DSurface8> target;
  Com<IDirect3DSurface8> first;
  device->GetRenderTarget(target.out());
  device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, first.out());
  EXPECT_EQ(target.get(), first.get());
  D3DVIEWPORT8 vp{};
  device->GetViewport(&vp);
  EXPECT_EQ(vp.Width, 500u);
  EXPECT_EQ(vp.Height, 300u);

  DWORD value = 0;
  device->GetRenderState(D3DRS_LIGHTING, &value);
  EXPECT_EQ(value, static_cast<DWORD>(TRUE));
  device->GetTextureStageState(0, D3DTSS_COLOROP, &value);
  EXPECT_EQ(value, static_cast<DWORD>(D3DTOP_MODULATE));
  D3DMATRIX world{};
  device->GetTransform(D3DTS_WORLD, &world);
  EXPECT_EQ(world._11, 1.0f);
  Com<IDirect3DBaseTexture8> bound;
  device->GetTexture(0, bound.out());
  EXPECT_FALSE(bound);
  EXPECT_EQ(device->EndScene(), D3DERR_INVALIDCALL);  // the scene did not survive
}

TEST_F(LossTest, ManagedAndSystemMemoryContentsSurviveReset) {
  Com<IDirect3DTexture8> texture;
  ASSERT_EQ(device->CreateTexture(8, 8, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, texture.out()),
            D3D_OK);
  Com<IDirect3DIndexBuffer8> indices;
  ASSERT_EQ(device->CreateIndexBuffer(64, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_MANAGED,
                                      indices.out()),
            D3D_OK);
  Com<IDirect3DSurface8> image;
  ASSERT_EQ(device->CreateImageSurface(16, 16, D3DFMT_R5G6B5, image.out()), D3D_OK);

  D3DLOCKED_RECT r{};
  ASSERT_EQ(texture->LockRect(2, &r, nullptr, 0), D3D_OK);
  static_cast<DWORD*>(r.pBits)[1] = 0xCAFEF00D;
  texture->UnlockRect(2);
  BYTE* data = nullptr;
  ASSERT_EQ(indices->Lock(0, 0, &data, 0), D3D_OK);
  for (int i = 0; i < 64; ++i) data[i] = static_cast<BYTE>(i * 3);
  indices->Unlock();
  ASSERT_EQ(image->LockRect(&r, nullptr, 0), D3D_OK);
  static_cast<WORD*>(r.pBits)[5] = 0xBEEF;
  image->UnlockRect();

  vrt::LoseDevice(device.get());
  vrt::MakeDeviceResettable(device.get());
  D3DPRESENT_PARAMETERS p = Windowed(window);
  ASSERT_EQ(device->Reset(&p), D3D_OK);

  ASSERT_EQ(texture->LockRect(2, &r, nullptr, D3DLOCK_READONLY), D3D_OK);
  EXPECT_EQ(static_cast<DWORD*>(r.pBits)[1], 0xCAFEF00Du);
  texture->UnlockRect(2);
  ASSERT_EQ(indices->Lock(0, 0, &data, D3DLOCK_READONLY), D3D_OK);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(data[i], static_cast<BYTE>(i * 3));
  indices->Unlock();
  ASSERT_EQ(image->LockRect(&r, nullptr, D3DLOCK_READONLY), D3D_OK);
  EXPECT_EQ(static_cast<WORD*>(r.pBits)[5], 0xBEEF);
  image->UnlockRect();
}

TEST_F(LossTest, AdditionalSwapChains) {
  HWND other = vrt::CreateVirtualWindow(700, 0, 320, 200);
  D3DPRESENT_PARAMETERS p = Windowed(other);
  Com<IDirect3DSwapChain8> chain;
  ASSERT_EQ(device->CreateAdditionalSwapChain(&p, chain.out()), D3D_OK);
  Com<IDirect3DSurface8> back;
  ASSERT_EQ(chain->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, back.out()), D3D_OK);
  D3DSURFACE_DESC desc{};
  back->GetDesc(&desc);
  EXPECT_EQ(desc.Width, 320u);
  EXPECT_EQ(desc.Height, 200u);
  {
    Com<IDirect3DSurface8> deviceBack;
    device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, deviceBack.out());
    EXPECT_NE(back.get(), deviceBack.get());
  }
  EXPECT_EQ(chain->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
  RECT part{0, 0, 100, 100};
  EXPECT_EQ(chain->Present(&part, nullptr, nullptr, nullptr), D3D_OK);  // COPY may present part

  // The chain is video memory: Reset waits for it.
  D3DPRESENT_PARAMETERS reset = Windowed(window);
  EXPECT_EQ(device->Reset(&reset), D3DERR_INVALIDCALL);
  vrt::LoseDevice(device.get());
  EXPECT_EQ(chain->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
  back.reset();
  chain.reset();
  vrt::MakeDeviceResettable(device.get());
  EXPECT_EQ(device->Reset(&reset), D3D_OK);

  D3DPRESENT_PARAMETERS fullScreen = p;
  fullScreen.Windowed = FALSE;
  fullScreen.BackBufferWidth = 640;
  fullScreen.BackBufferHeight = 480;
  fullScreen.BackBufferFormat = D3DFMT_X8R8G8B8;
  EXPECT_EQ(device->CreateAdditionalSwapChain(&fullScreen, chain.out()), D3DERR_INVALIDCALL);
  vrt::DestroyVirtualWindow(other);
}

TEST_F(LossTest, PresentChecksItsArguments) {
  RECT part{0, 0, 10, 10};
  EXPECT_EQ(device->Present(&part, &part, nullptr, nullptr), D3D_OK);  // the device copies
  RECT outside{0, 0, 641, 10};
  EXPECT_EQ(device->Present(&outside, nullptr, nullptr, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(device->Present(nullptr, nullptr, reinterpret_cast<HWND>(0x99), nullptr),
            D3DERR_INVALIDCALL);
  HWND other = vrt::CreateVirtualWindow(0, 0, 50, 50);
  EXPECT_EQ(device->Present(nullptr, nullptr, other, nullptr), D3D_OK);
  vrt::DestroyVirtualWindow(other);

  // A flipping swap presents whole buffers only.
  device.reset();
  D3DPRESENT_PARAMETERS p = Windowed(window);
  p.SwapEffect = D3DSWAPEFFECT_DISCARD;
  ASSERT_EQ(Create(d3d.get(), p, &device), D3D_OK);
  EXPECT_EQ(device->Present(&part, nullptr, nullptr, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
}

}  // namespace
