// Adapters and the device on whatever Direct3D 8 is underneath: the
// software device on POSIX, the real one under Wine on Windows.
#include <vek/vek.h>

#include <algorithm>
#include <cstring>
#include <regex>
#include <vector>

#include "gd/device.h"
#include "gd/direct3d.h"
#include "support/diagnostics.h"
#include "support/platform_test.h"
#include "support/test_window.h"

namespace {

class PlatformDeviceTest : public PlatformTest {
 protected:
  static std::string Text(UINT(VEKAPI* query)(UINT, char*), UINT adapter) {
    std::string text(query(adapter, nullptr), '\0');
    query(adapter, text.data());
    return text;
  }
};

TEST_F(PlatformDeviceTest, AdapterReportIsConsistent) {
  const UINT count = VekListDisplayDevices();
  ASSERT_GE(count, 1u);
  for (UINT a = 0; a < count; ++a) {
    SCOPED_TRACE(a);
    for (auto query : {VekGetDeviceName, VekGetDeviceDriver}) {
      const UINT n = query(a, nullptr);
      ASSERT_GT(n, 0u);
      std::vector<char> buffer(n + 4, '#');
      EXPECT_EQ(query(a, buffer.data()), n);
      EXPECT_EQ(std::count(buffer.begin(), buffer.begin() + n, '\0'), 0);
      EXPECT_EQ(buffer[n], '#');  // no terminator written
    }
    DWORD version[4] = {};
    EXPECT_EQ(VekGetDeviceDriverVersion(a, version), 4u);
    EXPECT_EQ(VekGetDeviceDriverVersion(a, nullptr), 4u);

    const UINT modes = VekGetDisplayModeCount(a);
    ASSERT_GE(modes, 1u);
    ULONGLONG* list = VekListDisplayModes(a);
    ASSERT_NE(list, nullptr);
    for (UINT i = 0; i < modes; ++i) {
      EXPECT_GT(list[i] & 0xFFFF, 0u);
      EXPECT_GT(list[i] >> 16 & 0xFFFF, 0u);
    }
    if (a == 0) {
      const ULONGLONG current = VekGetCurrentDisplayMode();
      EXPECT_NE(std::find(list, list + modes, current), list + modes)
          << "current mode " << std::hex << current << " is not among the adapter's modes";
    }
    EXPECT_EQ(VekFree(list), 1);
  }
  // The first ordinal past the end reads as nothing.
  char untouched[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(VekGetDeviceName(count, untouched), 0u);
  EXPECT_EQ(VekGetDeviceDriverVersion(count, nullptr), 0u);
  EXPECT_EQ(VekGetDisplayModeCount(count), 0u);
  EXPECT_EQ(untouched[0], '#');
}

TEST_F(PlatformDeviceTest, IdentifierLinesReappearAfterTheLastDeviceCloses) {
  ReleaseDirect3D();
  SetLogCapture(TRUE);
  VekListDisplayDevices();
  DWORD v[4] = {};
  VekGetDeviceDriverVersion(0, v);
  const std::string expected = ".\\gd: D3D Driver: " + Text(VekGetDeviceDriver, 0) +
                               "\n.\\gd: Description: " + Text(VekGetDeviceName, 0) +
                               "\n.\\gd: Version: " + std::to_string(v[0]) + "." +
                               std::to_string(v[1]) + "." + std::to_string(v[2]) + "." +
                               std::to_string(v[3]) + "\n";
  EXPECT_EQ(CapturedLog(), expected);

  HVEKDEVICE device = VekOpenGraphicsDevice(0, window, 0, 1, 0, 0, 0, 0);
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(VekCloseGraphicsDevice(device), 0u);
  SetLogCapture(TRUE);
  VekGetDisplayModeCount(0);
  EXPECT_EQ(CapturedLog(), expected);
}

TEST_F(PlatformDeviceTest, OpenCheckResetClose) {
  HVEKDEVICE device = VekOpenGraphicsDevice(0, window, 0, 1, 0, 0, 32, 0);
  ASSERT_NE(device, nullptr) << ReadError().message;
  EXPECT_EQ(GetCurrentDevice(), device);
  const std::regex line(
      R"(\.\\gd: CreateDevice, hDev=0, devType=1, hwnd=-?\d+, vp=32, window=1, width=640, )"
      R"(height=480, mode=X8R8G8B8, result=0\n)");
  const std::string log = CapturedLog();
  EXPECT_TRUE(std::regex_search(log, line)) << log;
  D3DSURFACE_DESC desc = BackBufferDesc(device);
  EXPECT_EQ(desc.Width, 640u);
  EXPECT_EQ(desc.Height, 480u);
  EXPECT_EQ(desc.Format, D3DFMT_X8R8G8B8);
  EXPECT_EQ(VekCheckGraphicsDevice(device), 1);

  EXPECT_EQ(VekResetGraphicsDevice(device, 1, 320, 200, 32, 0), 1);
  desc = BackBufferDesc(device);
  EXPECT_EQ(desc.Width, 320u);
  EXPECT_EQ(desc.Height, 200u);
  EXPECT_EQ(VekCheckGraphicsDevice(device), 1);

  // Zero sizes follow the window's client area as it is at the reset.
  ResizeTestWindow(window, 500, 300);
  EXPECT_EQ(VekResetGraphicsDevice(device, 1, 0, 0, 0, 0), 1);
  desc = BackBufferDesc(device);
  EXPECT_EQ(desc.Width, 500u);
  EXPECT_EQ(desc.Height, 300u);
  EXPECT_NE(device->vertexBuffer, nullptr);
  EXPECT_NE(device->indexBuffer, nullptr);
  EXPECT_EQ(VekCloseGraphicsDevice(device), 0u);
  EXPECT_EQ(GetCurrentDevice(), nullptr);
  EXPECT_EQ(SharedDirect3D(), nullptr);
}

TEST_F(PlatformDeviceTest, ResetWaitsForDefaultPoolResources) {
  HVEKDEVICE device = VekOpenGraphicsDevice(0, window, 0, 1, 0, 0, 0, 0);
  ASSERT_NE(device, nullptr);
  IDirect3DTexture8* target = nullptr;
  ASSERT_EQ(device->cache.device->CreateTexture(64, 64, 1, D3DUSAGE_RENDERTARGET, D3DFMT_X8R8G8B8,
                                                D3DPOOL_DEFAULT, &target),
            D3D_OK);
  // Direct3D 8 answers D3DERR_INVALIDCALL; Wine's answers D3DERR_DEVICELOST.
  const INT result = VekResetGraphicsDevice(device, 1, 0, 0, 0, 0);
  EXPECT_TRUE(result == D3DERR_INVALIDCALL || result == D3DERR_DEVICELOST) << result;
  const LastError e = ReadError();
  EXPECT_EQ(e.code, -53);
  EXPECT_EQ(e.detail, result);
  EXPECT_EQ(e.message, Message(GdErr::kReset));
  EXPECT_EQ(e.source, ".\\gd");
  EXPECT_EQ(device->vertexBuffer, nullptr);

  // The device now asks for a reset; once the texture is gone the check does it.
  EXPECT_EQ(device->cache.device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
  target->Release();
  EXPECT_EQ(VekCheckGraphicsDevice(device), 1);
  EXPECT_NE(device->vertexBuffer, nullptr);
  EXPECT_EQ(VekCheckGraphicsDevice(device), 1);
  VekCloseGraphicsDevice(device);
}

TEST_F(PlatformDeviceTest, QuadIndexPattern) {
  HVEKDEVICE device = VekOpenGraphicsDevice(0, window, 0, 1, 0, 0, 0, 0);
  ASSERT_NE(device, nullptr);
  BYTE* data = nullptr;
  ASSERT_EQ(device->indexBuffer->Lock(0, 0, &data, D3DLOCK_READONLY), D3D_OK);
  const WORD* index = reinterpret_cast<const WORD*>(data);
  for (UINT q = 0; q < kBatchQuadCount; q += 333) {
    const WORD b = static_cast<WORD>(4 * q);
    const std::vector<WORD> got(index + 6 * q, index + 6 * q + 6);
    EXPECT_EQ(got, (std::vector<WORD>{b, WORD(b + 1), WORD(b + 2), WORD(b + 2), WORD(b + 3), b}));
  }
  device->indexBuffer->Unlock();
  VekCloseGraphicsDevice(device);
}

TEST_F(PlatformDeviceTest, UnknownColourDepthTakesTheDisplayFormatWindowed) {
  // 24 bits asks for D3DFMT_UNKNOWN, which a windowed device resolves to the
  // display's format and writes back into the parameters it was given.
  HVEKDEVICE device = VekOpenGraphicsDevice(0, window, 0, 1, 0, 0, 24, 0);
  ASSERT_NE(device, nullptr) << ReadError().message;
  const ULONGLONG current = VekGetCurrentDisplayMode();
  const D3DSURFACE_DESC desc = BackBufferDesc(device);
  EXPECT_EQ(desc.Format == D3DFMT_X8R8G8B8, (current >> 32 & 0xFF) == 32) << desc.Format;
  EXPECT_EQ(device->present.BackBufferFormat, desc.Format);
  VekCloseGraphicsDevice(device);
}

}  // namespace
