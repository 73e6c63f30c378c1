// Shared pieces of the runtime tests: a reference holder for COM objects and
// fixtures that start every test from a fresh runtime with one window, and
// end it with no runtime object alive.
#pragma once

#include <d3d8.h>
#include <gtest/gtest.h>
#include <vekrt/runtime.h>
#include <windows.h>

#include <bit>
#include <cstdint>

// Holds one reference; releases it when it goes.
template <class T>
class Com {
 public:
  Com() = default;
  explicit Com(T* p) : p_(p) {}
  Com(const Com&) = delete;
  Com& operator=(const Com&) = delete;
  ~Com() { reset(); }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // For out-parameters: drops what is held first.
  T** out() {
    reset();
    return &p_;
  }
  void attach(T* p) {
    reset();
    p_ = p;
  }
  // Releases the held reference; the count Release reported.
  ULONG reset() {
    ULONG left = 0;
    if (p_) left = p_->Release();
    p_ = nullptr;
    return left;
  }

 private:
  T* p_ = nullptr;
};

inline ULONG RefCount(IUnknown* object) {
  object->AddRef();
  return object->Release();
}

inline DWORD Bits(float f) { return std::bit_cast<DWORD>(f); }

class RuntimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vrt::ResetRuntime();
    window = vrt::CreateVirtualWindow(10, 20, 640, 480);
  }
  void TearDown() override {
    vrt::DestroyVirtualWindow(window);
    EXPECT_EQ(vrt::LiveObjectCount(), 0) << "runtime objects leaked";
    vrt::ResetRuntime();
  }

  static D3DPRESENT_PARAMETERS Windowed(HWND w, UINT width = 0, UINT height = 0,
                                        D3DFORMAT format = D3DFMT_UNKNOWN) {
    D3DPRESENT_PARAMETERS p{};
    p.BackBufferWidth = width;
    p.BackBufferHeight = height;
    p.BackBufferFormat = format;
    p.SwapEffect = D3DSWAPEFFECT_COPY;
    p.hDeviceWindow = w;
    p.Windowed = TRUE;
    return p;
  }

  // Takes the parameters by reference: the device writes back what it took.
  HRESULT Create(IDirect3D8* d3d, D3DPRESENT_PARAMETERS& p, Com<IDirect3DDevice8>* device,
                 UINT adapter = 0, D3DDEVTYPE type = D3DDEVTYPE_HAL) {
    return d3d->CreateDevice(adapter, type, window, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p,
                             device->out());
  }
  HRESULT Create(IDirect3D8* d3d, D3DPRESENT_PARAMETERS&& p, Com<IDirect3DDevice8>* device,
                 UINT adapter = 0, D3DDEVTYPE type = D3DDEVTYPE_HAL) {
    return Create(d3d, p, device, adapter, type);
  }

  HWND window = nullptr;  // client area 640 x 480
};

// A windowed 640 x 480 device on the default adapter for each test.
class DeviceTest : public RuntimeTest {
 protected:
  void SetUp() override {
    RuntimeTest::SetUp();
    d3d.attach(Direct3DCreate8(D3D_SDK_VERSION));
    ASSERT_TRUE(d3d);
    ASSERT_EQ(Create(d3d.get(), Params(), &device), D3D_OK);
  }
  void TearDown() override {
    device.reset();
    d3d.reset();
    RuntimeTest::TearDown();
  }
  virtual D3DPRESENT_PARAMETERS Params() { return Windowed(window); }

  Com<IDirect3D8> d3d;
  Com<IDirect3DDevice8> device;
};
