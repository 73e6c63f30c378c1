// Checks the Direct3D 8 that the Windows tests run on (Wine's, over Mesa on
// Xvfb, or a real one): adapters, modes, caps, a windowed device, reading
// the back buffer back, and Reset. When this fails, the library's own
// Windows tests cannot be trusted, so it tells the environment's fault apart
// from the library's.
#include <d3d8.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// Releases a COM pointer when the test leaves, however it leaves.
template <class T>
struct ComPtr {
  T* p = nullptr;
  ComPtr() = default;
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ~ComPtr() { reset(); }
  // Returns the reference count left, as Release does.
  ULONG reset() {
    ULONG left = 0;
    if (p) left = p->Release();
    p = nullptr;
    return left;
  }
  T** out() {
    reset();
    return &p;
  }
  T* operator->() const { return p; }
  explicit operator bool() const { return p != nullptr; }
};

bool RunningOnWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

constexpr UINT kWidth = 320;
constexpr UINT kHeight = 240;

class Window {
 public:
  Window(UINT width, UINT height) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"VekD3D8Probe";
    RegisterClassExW(&wc);  // fails harmlessly when already registered
    RECT r{0, 0, static_cast<LONG>(width), static_cast<LONG>(height)};
    AdjustWindowRectEx(&r, WS_OVERLAPPEDWINDOW, FALSE, 0);
    hwnd_ = CreateWindowExW(0, wc.lpszClassName, L"vek d3d8 probe", WS_OVERLAPPEDWINDOW,
                            CW_USEDEFAULT, CW_USEDEFAULT, r.right - r.left, r.bottom - r.top,
                            nullptr, nullptr, wc.hInstance, nullptr);
    if (hwnd_) ShowWindow(hwnd_, SW_SHOWNOACTIVATE);
  }
  ~Window() {
    if (hwnd_) DestroyWindow(hwnd_);
  }
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;
  HWND get() const { return hwnd_; }

 private:
  HWND hwnd_ = nullptr;
};

D3DPRESENT_PARAMETERS WindowedParams(HWND hwnd, UINT width, UINT height) {
  D3DPRESENT_PARAMETERS pp{};
  pp.BackBufferWidth = width;
  pp.BackBufferHeight = height;
  pp.BackBufferFormat = D3DFMT_X8R8G8B8;
  pp.BackBufferCount = 1;
  pp.MultiSampleType = D3DMULTISAMPLE_NONE;
  pp.SwapEffect = D3DSWAPEFFECT_COPY;
  pp.hDeviceWindow = hwnd;
  pp.Windowed = TRUE;
  pp.EnableAutoDepthStencil = FALSE;
  return pp;
}

// The back buffer's pixels (low 24 bits), read through a system-memory
// image surface since the back buffer itself cannot be locked.
::testing::AssertionResult ReadBackBuffer(IDirect3DDevice8* dev, UINT width, UINT height,
                                          std::vector<DWORD>* pixels) {
  ComPtr<IDirect3DSurface8> back;
  HRESULT hr = dev->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, back.out());
  if (FAILED(hr)) return ::testing::AssertionFailure() << "GetBackBuffer hr=0x" << std::hex << hr;
  D3DSURFACE_DESC desc{};
  hr = back->GetDesc(&desc);
  if (FAILED(hr)) return ::testing::AssertionFailure() << "GetDesc hr=0x" << std::hex << hr;
  if (desc.Width != width || desc.Height != height || desc.Format != D3DFMT_X8R8G8B8) {
    return ::testing::AssertionFailure()
           << "back buffer is " << desc.Width << "x" << desc.Height << " format " << desc.Format;
  }
  ComPtr<IDirect3DSurface8> image;
  hr = dev->CreateImageSurface(width, height, D3DFMT_X8R8G8B8, image.out());
  if (FAILED(hr))
    return ::testing::AssertionFailure() << "CreateImageSurface hr=0x" << std::hex << hr;
  hr = dev->CopyRects(back.p, nullptr, 0, image.p, nullptr);
  if (FAILED(hr)) return ::testing::AssertionFailure() << "CopyRects hr=0x" << std::hex << hr;
  D3DLOCKED_RECT lr{};
  hr = image->LockRect(&lr, nullptr, D3DLOCK_READONLY);
  if (FAILED(hr)) return ::testing::AssertionFailure() << "LockRect hr=0x" << std::hex << hr;
  pixels->assign(static_cast<size_t>(width) * height, 0);
  for (UINT y = 0; y < height; ++y) {
    const auto* row =
        reinterpret_cast<const DWORD*>(static_cast<const BYTE*>(lr.pBits) + y * lr.Pitch);
    for (UINT x = 0; x < width; ++x) (*pixels)[y * width + x] = row[x] & 0xFFFFFF;
  }
  image->UnlockRect();
  return ::testing::AssertionSuccess();
}

// Clears the whole target to `outer`, a rectangle to `inner`, then checks
// every pixel: proves the read-back shows what was drawn, where it was drawn.
void ClearAndCheck(IDirect3DDevice8* dev, UINT width, UINT height, D3DCOLOR outer, D3DCOLOR inner) {
  const D3DRECT box{10, 20, 50, 40};  // x1, y1, x2, y2 (exclusive)
  ASSERT_EQ(dev->BeginScene(), D3D_OK);
  ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET, outer, 1.0f, 0), D3D_OK);
  ASSERT_EQ(dev->Clear(1, &box, D3DCLEAR_TARGET, inner, 1.0f, 0), D3D_OK);
  ASSERT_EQ(dev->EndScene(), D3D_OK);

  std::vector<DWORD> pixels;
  ASSERT_TRUE(ReadBackBuffer(dev, width, height, &pixels));
  int wrong = 0;
  for (UINT y = 0; y < height; ++y) {
    for (UINT x = 0; x < width; ++x) {
      const bool in = static_cast<LONG>(x) >= box.x1 && static_cast<LONG>(x) < box.x2 &&
                      static_cast<LONG>(y) >= box.y1 && static_cast<LONG>(y) < box.y2;
      const DWORD want = (in ? inner : outer) & 0xFFFFFF;
      const DWORD got = pixels[y * width + x];
      if (got != want && wrong++ < 5) {
        ADD_FAILURE() << "pixel (" << x << "," << y << ") is 0x" << std::hex << got << ", want 0x"
                      << want;
      }
    }
  }
  EXPECT_EQ(wrong, 0) << "pixels differing from what was cleared";
  EXPECT_EQ(dev->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
}

class D3D8Probe : public ::testing::Test {
 protected:
  void SetUp() override {
    d3d_.p = Direct3DCreate8(D3D_SDK_VERSION);
    ASSERT_TRUE(d3d_) << "Direct3DCreate8(D3D_SDK_VERSION) returned null";
  }
  ComPtr<IDirect3D8> d3d_;
};

TEST_F(D3D8Probe, AdaptersAndModes) {
  const UINT adapters = d3d_->GetAdapterCount();
  ASSERT_GE(adapters, 1u);
  for (UINT a = 0; a < adapters; ++a) {
    D3DADAPTER_IDENTIFIER8 id{};
    ASSERT_EQ(d3d_->GetAdapterIdentifier(a, D3DENUM_NO_WHQL_LEVEL, &id), D3D_OK);
    EXPECT_GT(std::strlen(id.Description), 0u);
    EXPECT_GT(std::strlen(id.Driver), 0u);
    const auto high = static_cast<DWORD>(id.DriverVersion.HighPart);
    const auto low = id.DriverVersion.LowPart;
    std::printf("adapter %u: \"%s\" driver \"%s\" version %u.%u.%u.%u\n", a, id.Description,
                id.Driver, unsigned{HIWORD(high)}, unsigned{LOWORD(high)}, unsigned{HIWORD(low)},
                unsigned{LOWORD(low)});

    const UINT modes = d3d_->GetAdapterModeCount(a);
    ASSERT_GE(modes, 1u);
    for (UINT m = 0; m < modes; ++m) {
      D3DDISPLAYMODE mode{};
      ASSERT_EQ(d3d_->EnumAdapterModes(a, m, &mode), D3D_OK) << "mode " << m;
      EXPECT_GT(mode.Width, 0u);
      EXPECT_GT(mode.Height, 0u);
      std::printf("  mode %u: %ux%u format %d refresh %u\n", m, mode.Width, mode.Height,
                  static_cast<int>(mode.Format), mode.RefreshRate);
    }
    D3DDISPLAYMODE current{};
    ASSERT_EQ(d3d_->GetAdapterDisplayMode(a, &current), D3D_OK);
    EXPECT_GT(current.Width, 0u);
  }
  // Asking past the last adapter must fail, not return garbage.
  D3DADAPTER_IDENTIFIER8 none{};
  EXPECT_EQ(d3d_->GetAdapterIdentifier(adapters, 0, &none), D3DERR_INVALIDCALL);
  EXPECT_EQ(d3d_->GetAdapterModeCount(adapters), 0u);
}

TEST_F(D3D8Probe, DeviceCaps) {
  D3DCAPS8 caps{};
  ASSERT_EQ(d3d_->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &caps), D3D_OK);
  EXPECT_EQ(caps.DeviceType, D3DDEVTYPE_HAL);
  EXPECT_GE(caps.MaxTextureWidth, 256u);
  EXPECT_GE(caps.MaxTextureHeight, 256u);
  std::printf(
      "PixelShaderVersion 0x%08lX VertexShaderVersion 0x%08lX TextureCaps 0x%08lX "
      "MaxTexture %lux%lu MaxPrimitiveCount %lu\n",
      caps.PixelShaderVersion, caps.VertexShaderVersion, caps.TextureCaps, caps.MaxTextureWidth,
      caps.MaxTextureHeight, caps.MaxPrimitiveCount);
}

// What the library's Windows tests were written against. A Wine or Mesa
// update that changes one of these shows up here first.
TEST_F(D3D8Probe, WineEnvironment) {
  if (!RunningOnWine()) GTEST_SKIP() << "not running on Wine";
  EXPECT_EQ(d3d_->GetAdapterCount(), 1u);
  // 32-bit Wine lists the screen's X8R8G8B8 mode only; 64-bit Wine (used
  // where 32-bit programs cannot start) adds R5G6B5 at the same size.
  EXPECT_EQ(d3d_->GetAdapterModeCount(D3DADAPTER_DEFAULT), sizeof(void*) == 4 ? 1u : 2u);
  D3DCAPS8 caps{};
  ASSERT_EQ(d3d_->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &caps), D3D_OK);
  EXPECT_EQ(caps.PixelShaderVersion, 0xFFFF0104u);
  EXPECT_EQ(caps.TextureCaps & D3DPTEXTURECAPS_POW2, 0u);

  Window window(kWidth, kHeight);
  ASSERT_NE(window.get(), nullptr);
  D3DPRESENT_PARAMETERS pp = WindowedParams(window.get(), kWidth, kHeight);
  ComPtr<IDirect3DDevice8> dev;
  ASSERT_EQ(d3d_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window.get(),
                               D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, dev.out()),
            D3D_OK);
  ComPtr<IDirect3DSurface8> back;
  ASSERT_EQ(dev->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, back.out()), D3D_OK);
  D3DLOCKED_RECT lr{};
  const HRESULT hr = back->LockRect(&lr, nullptr, D3DLOCK_READONLY);
  if (SUCCEEDED(hr)) back->UnlockRect();
  EXPECT_EQ(hr, D3DERR_INVALIDCALL) << "the back buffer is expected not to be lockable";
}

TEST_F(D3D8Probe, WindowedDeviceClearReadBackAndReset) {
  Window window(kWidth, kHeight);
  ASSERT_NE(window.get(), nullptr) << "CreateWindowExW failed, error " << GetLastError();

  D3DDISPLAYMODE display{};
  ASSERT_EQ(d3d_->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &display), D3D_OK);
  ASSERT_EQ(d3d_->CheckDeviceType(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, display.Format,
                                  D3DFMT_X8R8G8B8, TRUE),
            D3D_OK);

  D3DPRESENT_PARAMETERS pp = WindowedParams(window.get(), kWidth, kHeight);
  ComPtr<IDirect3DDevice8> dev;
  HRESULT hr = d3d_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window.get(),
                                  D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, dev.out());
  ASSERT_EQ(hr, D3D_OK) << "CreateDevice hr=0x" << std::hex << hr;
  EXPECT_EQ(dev->TestCooperativeLevel(), D3D_OK);

  ClearAndCheck(dev.p, kWidth, kHeight, D3DCOLOR_XRGB(0x12, 0x34, 0x56),
                D3DCOLOR_XRGB(0xFE, 0x01, 0x80));
  if (HasFatalFailure()) return;

  // Reset to another size; no default-pool resource is alive here.
  constexpr UINT kW2 = 200, kH2 = 150;
  pp = WindowedParams(window.get(), kW2, kH2);
  hr = dev->Reset(&pp);
  ASSERT_EQ(hr, D3D_OK) << "Reset hr=0x" << std::hex << hr;
  EXPECT_EQ(dev->TestCooperativeLevel(), D3D_OK);
  ClearAndCheck(dev.p, kW2, kH2, D3DCOLOR_XRGB(0x00, 0xC0, 0x20), D3DCOLOR_XRGB(0x70, 0x70, 0x01));
  if (HasFatalFailure()) return;

  // Every reference is ours: the device goes first, then the Direct3D
  // object, each to zero.
  EXPECT_EQ(dev.reset(), 0u);
  EXPECT_EQ(d3d_.reset(), 0u);
}

}  // namespace
