#include "support/platform_test.h"

#include <cstring>

#include "gd/device.h"
#include "gd/direct3d.h"
#include "support/test_window.h"

#ifndef _WIN32
#include <vekrt/runtime.h>
#endif

D3DSURFACE_DESC BackBufferDesc(GraphicsDevice* device) {
  IDirect3DSurface8* back = nullptr;
  D3DSURFACE_DESC desc{};
  if (SUCCEEDED(device->cache.device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &back))) {
    back->GetDesc(&desc);
    back->Release();
  }
  return desc;
}

std::vector<DWORD> ReadBackBufferPixels(GraphicsDevice* device) {
  IDirect3DDevice8* d3d = device->cache.device;
  std::vector<DWORD> pixels;
  IDirect3DSurface8* back = nullptr;
  if (FAILED(d3d->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &back))) return pixels;
  D3DSURFACE_DESC desc{};
  back->GetDesc(&desc);
  IDirect3DSurface8* copy = nullptr;
  D3DLOCKED_RECT locked{};
  if ((desc.Format == D3DFMT_X8R8G8B8 || desc.Format == D3DFMT_A8R8G8B8) &&
      SUCCEEDED(d3d->CreateImageSurface(desc.Width, desc.Height, desc.Format, &copy)) &&
      SUCCEEDED(d3d->CopyRects(back, nullptr, 0, copy, nullptr)) &&
      SUCCEEDED(copy->LockRect(&locked, nullptr, D3DLOCK_READONLY))) {
    pixels.resize(static_cast<size_t>(desc.Width) * desc.Height);
    for (UINT y = 0; y < desc.Height; ++y)
      std::memcpy(pixels.data() + static_cast<size_t>(y) * desc.Width,
                  static_cast<const BYTE*>(locked.pBits) + y * locked.Pitch, desc.Width * 4);
    copy->UnlockRect();
  }
  if (copy) copy->Release();
  back->Release();
  return pixels;
}

void PlatformTest::SetUp() {
  ClearError();
  SetLogCapture(TRUE);
  blocksAtStart_ = LiveBlockCount();
  window = CreateTestWindow(640, 480);
  ASSERT_NE(window, nullptr);
}

void PlatformTest::TearDown() {
  EXPECT_EQ(GetCurrentDevice(), nullptr) << "a device was left open";
  ReleaseDirect3D();
  DestroyTestWindow(window);
  EXPECT_EQ(LiveBlockCount(), blocksAtStart_) << "base-library blocks leaked";
#ifndef _WIN32
  EXPECT_EQ(vrt::LiveObjectCount(), 0) << "Direct3D objects leaked";
#endif
  SetLogCapture(FALSE);
}

std::string PlatformTest::CapturedLog() {
  const int n = GetCapturedLog(nullptr, 0);
  std::string text(static_cast<size_t>(n) + 1, '\0');
  GetCapturedLog(text.data(), n + 1);
  text.resize(static_cast<size_t>(n));
  return text;
}

PlatformTest::LastError PlatformTest::ReadError() {
  ErrorRecord record{};
  LastError e;
  e.set = ReadLastError(&record) != 0;
  e.code = record.code;
  e.detail = record.detail;
  e.line = record.line;
  e.message = Utf16ToUtf8(record.message);
  e.source = Utf16ToUtf8(record.source);
  return e;
}
