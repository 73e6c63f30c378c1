// Opening, loss, reset and closing of the graphics device.
#include "gd/device.h"

#include <vek/vek.h>

#include <vector>

#include "gd/direct3d.h"
#include "support/diagnostics.h"
#include "support/vek_test.h"

namespace {

class DeviceTest : public VekTest {
 protected:
  GraphicsDevice* Open(DWORD windowed, INT width, INT height, INT bits, INT refresh = 0) {
    return VekOpenGraphicsDevice(0, window, 0, windowed, width, height, bits, refresh);
  }
  static std::string LastLogLine() {
    std::string log = CapturedLog();
    if (!log.empty()) log.pop_back();
    return log.substr(log.rfind('\n') + 1);
  }
};

TEST_F(DeviceTest, WindowedDefaultsTakeTheClientSize) {
  GraphicsDevice* device = Open(1, 0, -3, 0);
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(GetCurrentDevice(), device);
  const D3DPRESENT_PARAMETERS& p = device->present;
  EXPECT_EQ(p.BackBufferWidth, 640u);
  EXPECT_EQ(p.BackBufferHeight, 480u);
  EXPECT_EQ(p.BackBufferFormat, D3DFMT_X8R8G8B8);  // the display's
  EXPECT_EQ(p.SwapEffect, D3DSWAPEFFECT_COPY);
  EXPECT_EQ(p.FullScreen_RefreshRateInHz, 0u);
  EXPECT_EQ(p.FullScreen_PresentationInterval, D3DPRESENT_INTERVAL_DEFAULT);
  EXPECT_EQ(p.BackBufferCount, 1u);
  EXPECT_FALSE(p.EnableAutoDepthStencil);
  EXPECT_EQ(p.hDeviceWindow, window);
  EXPECT_EQ(BackBufferDesc(device).Width, 640u);
  EXPECT_EQ(LastLogLine(), ".\\gd: CreateDevice, hDev=0, devType=1, hwnd=" +
                               std::to_string(static_cast<int>(reinterpret_cast<INT_PTR>(window))) +
                               ", vp=32, window=1, width=640, height=480, mode=X8R8G8B8, result=0");
  VekCloseGraphicsDevice(device);
}

TEST_F(DeviceTest, FullScreenDefaultsTakeTheDisplayMode) {
  vrt::AdapterConfig a = vrt::DefaultAdapter();
  a.currentMode = {800, 600, 75, D3DFMT_R5G6B5};
  vrt::SetAdapters({a});
  GraphicsDevice* device = Open(0x100, 0, 0, 0, 0);  // only the low byte counts: full-screen
  ASSERT_NE(device, nullptr);
  const D3DPRESENT_PARAMETERS& p = device->present;
  EXPECT_FALSE(p.Windowed);
  EXPECT_EQ(p.BackBufferWidth, 800u);
  EXPECT_EQ(p.BackBufferHeight, 600u);
  EXPECT_EQ(p.FullScreen_RefreshRateInHz, 75u);
  EXPECT_EQ(p.BackBufferFormat, D3DFMT_R5G6B5);
  EXPECT_EQ(p.SwapEffect, D3DSWAPEFFECT_FLIP);
  EXPECT_EQ(p.FullScreen_PresentationInterval, D3DPRESENT_INTERVAL_IMMEDIATE);
  VekCloseGraphicsDevice(device);
}

TEST_F(DeviceTest, ColourDepthChoosesTheBackBufferFormat) {
  struct Case {
    INT bits;
    D3DFORMAT format;
    const char* name;
  };
  for (const Case& c : {Case{16, D3DFMT_R5G6B5, "R5G6B5"}, Case{32, D3DFMT_X8R8G8B8, "X8R8G8B8"}}) {
    SCOPED_TRACE(c.bits);
    SetLogCapture(TRUE);
    GraphicsDevice* device = Open(1, 320, 200, c.bits);
    ASSERT_NE(device, nullptr);
    EXPECT_NE(LastLogLine().find(std::string("width=320, height=200, mode=") + c.name),
              std::string::npos)
        << LastLogLine();
    EXPECT_EQ(device->present.BackBufferFormat, c.format);
    VekCloseGraphicsDevice(device);
  }
  // 24 bits asks for an unknown format. A device that opens resolves it and
  // writes the display's format back; a refused one leaves the request as it was.
  vrt::FailCall("IDirect3D8::CreateDevice", D3DERR_NOTAVAILABLE);
  EXPECT_EQ(Open(1, 320, 200, 24), nullptr);
  EXPECT_NE(LastLogLine().find("mode=UNKNOWN"), std::string::npos) << LastLogLine();
}

TEST_F(DeviceTest, PerfHudAdapterTakesTheDeviceAsReference) {
  vrt::AdapterConfig plain = vrt::DefaultAdapter();
  vrt::AdapterConfig hud = vrt::DefaultAdapter();
  hud.description = "NVIDIA PerfHUD";
  vrt::AdapterConfig lower = vrt::DefaultAdapter();
  lower.description = "nvidia perfhud";  // the match is case-sensitive
  vrt::SetAdapters({plain, lower, hud});
  GraphicsDevice* device = Open(1, 0, 0, 0);
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(device->adapter, 0u);
  EXPECT_NE(LastLogLine().find("CreateDevice, hDev=2, devType=2,"), std::string::npos)
      << LastLogLine();
  D3DDEVICE_CREATION_PARAMETERS created{};
  device->cache.device->GetCreationParameters(&created);
  EXPECT_EQ(created.AdapterOrdinal, 2u);
  EXPECT_EQ(created.DeviceType, D3DDEVTYPE_REF);
  EXPECT_EQ(created.BehaviorFlags, static_cast<DWORD>(D3DCREATE_SOFTWARE_VERTEXPROCESSING));
  VekCloseGraphicsDevice(device);
}

TEST_F(DeviceTest, BatchBuffersHoldFourThousandVerticesAndTheQuadPattern) {
  GraphicsDevice* device = Open(1, 0, 0, 0);
  ASSERT_NE(device, nullptr);
  D3DVERTEXBUFFER_DESC vb{};
  device->vertexBuffer->GetDesc(&vb);
  EXPECT_EQ(vb.Size, 96000u);
  EXPECT_EQ(vb.Pool, D3DPOOL_DEFAULT);
  EXPECT_EQ(vb.Usage, static_cast<DWORD>(D3DUSAGE_WRITEONLY | D3DUSAGE_DYNAMIC));
  EXPECT_EQ(vb.FVF, static_cast<DWORD>(D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1));
  D3DINDEXBUFFER_DESC ib{};
  device->indexBuffer->GetDesc(&ib);
  EXPECT_EQ(ib.Size, 12000u);
  EXPECT_EQ(ib.Format, D3DFMT_INDEX16);
  EXPECT_EQ(ib.Pool, D3DPOOL_MANAGED);

  BYTE* data = nullptr;
  ASSERT_EQ(device->indexBuffer->Lock(0, 0, &data, D3DLOCK_READONLY), D3D_OK);
  const WORD* index = reinterpret_cast<const WORD*>(data);
  const std::vector<WORD> first(index, index + 12);
  EXPECT_EQ(first, (std::vector<WORD>{0, 1, 2, 2, 3, 0, 4, 5, 6, 6, 7, 4}));
  const std::vector<WORD> last(index + 5994, index + 6000);
  EXPECT_EQ(last, (std::vector<WORD>{3996, 3997, 3998, 3998, 3999, 3996}));
  device->indexBuffer->Unlock();
  VekCloseGraphicsDevice(device);
}

struct FailureRow {
  const char* name;
  const char* method;  // runtime method to fail, or null for the record allocation
  HRESULT hr;
  GdErr error;  // the row recorded
  bool detailIsResult;
  bool dropsDirect3D;  // no open device is left to need the shared object
};

class DeviceOpenFailure : public DeviceTest, public ::testing::WithParamInterface<FailureRow> {};

TEST_P(DeviceOpenFailure, RecordsTheErrorAndLeavesNothingBehind) {
  const FailureRow& row = GetParam();
  if (row.method)
    vrt::FailCall(row.method, row.hr);
  else
    FailMalloc(0, 1);
  EXPECT_EQ(Open(1, 0, 0, 0), nullptr);
  const LastError e = ReadError();
  EXPECT_TRUE(e.set);
  EXPECT_EQ(e.code, Row(row.error).code);
  EXPECT_EQ(e.detail, row.detailIsResult ? row.hr : 0);
  EXPECT_EQ(e.message, Message(row.error));
  EXPECT_EQ(e.source, ".\\gd");
  EXPECT_EQ(e.line, Row(row.error).line);
  EXPECT_EQ(GetCurrentDevice(), nullptr);
  EXPECT_EQ(SharedDirect3D() == nullptr, row.dropsDirect3D);
  // What the failed open created is gone (the shared object aside).
  ReleaseDirect3D();
  EXPECT_EQ(vrt::LiveObjectCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    EveryRow, DeviceOpenFailure,
    ::testing::Values(FailureRow{"Malloc", nullptr, 0, GdErr::kMallocDevice, false, true},
                      FailureRow{"CapsInvalidCall", "IDirect3D8::GetDeviceCaps", D3DERR_INVALIDCALL,
                                 GdErr::kCapsInvalidCall, false, true},
                      FailureRow{"CapsNotAvailable", "IDirect3D8::GetDeviceCaps",
                                 D3DERR_NOTAVAILABLE, GdErr::kCapsNotAvailable, false, true},
                      FailureRow{"CreateDevice", "IDirect3D8::CreateDevice", D3DERR_NOTAVAILABLE,
                                 GdErr::kCreateDevice, true, true},
                      FailureRow{"CreateVertexBuffer", "IDirect3DDevice8::CreateVertexBuffer",
                                 D3DERR_OUTOFVIDEOMEMORY, GdErr::kVertexBuffer, true, true},
                      FailureRow{"CreateIndexBuffer", "IDirect3DDevice8::CreateIndexBuffer",
                                 E_OUTOFMEMORY, GdErr::kIndexBuffer, true, true},
                      FailureRow{"LockIndexBuffer", "IDirect3DIndexBuffer8::Lock",
                                 D3DERR_INVALIDCALL, GdErr::kLockIndexBuffer, true, true}),
    [](const ::testing::TestParamInfo<FailureRow>& info) { return std::string(info.param.name); });

TEST_F(DeviceTest, FailedOpenStillLogsTheAttempt) {
  vrt::FailCall("IDirect3D8::CreateDevice", D3DERR_NOTAVAILABLE);
  EXPECT_EQ(Open(1, 0, 0, 0), nullptr);
  EXPECT_NE(LastLogLine().find("mode=X8R8G8B8, result=" +
                               std::to_string(static_cast<int>(D3DERR_NOTAVAILABLE))),
            std::string::npos)
      << LastLogLine();
}

TEST_F(DeviceTest, NullHandles) {
  EXPECT_EQ(VekCheckGraphicsDevice(nullptr), 0);
  EXPECT_EQ(VekCloseGraphicsDevice(nullptr), 0u);
  EXPECT_EQ(VekResetGraphicsDevice(nullptr, 1, 0, 0, 0, 0), 0);
}

TEST_F(DeviceTest, LossCycleThroughTheCheck) {
  GraphicsDevice* device = Open(1, 0, 0, 0);
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(VekCheckGraphicsDevice(device), 1);

  vrt::LoseDevice(device->cache.device);
  EXPECT_EQ(VekCheckGraphicsDevice(device), D3DERR_DEVICELOST);
  EXPECT_EQ(VekCheckGraphicsDevice(device), D3DERR_DEVICELOST);
  EXPECT_EQ(vrt::CountCalls("IDirect3DDevice8::Reset"), 0u);

  vrt::MakeDeviceResettable(device->cache.device);
  EXPECT_EQ(VekCheckGraphicsDevice(device), 1);
  EXPECT_EQ(vrt::CountCalls("IDirect3DDevice8::Reset"), 1u);
  EXPECT_NE(device->vertexBuffer, nullptr);
  EXPECT_NE(device->indexBuffer, nullptr);
  EXPECT_EQ(VekCheckGraphicsDevice(device), 1);
  EXPECT_EQ(vrt::CountCalls("IDirect3DDevice8::Reset"), 1u);
  VekCloseGraphicsDevice(device);
}

TEST_F(DeviceTest, FailedResetIsRetriedByTheNextCheck) {
  GraphicsDevice* device = Open(1, 0, 0, 0);
  ASSERT_NE(device, nullptr);
  vrt::MakeDeviceResettable(device->cache.device);
  vrt::FailCall("IDirect3DDevice8::Reset", D3DERR_INVALIDCALL);
  EXPECT_EQ(VekCheckGraphicsDevice(device), D3DERR_INVALIDCALL);
  const LastError e = ReadError();
  EXPECT_EQ(e.code, -53);
  EXPECT_EQ(e.detail, D3DERR_INVALIDCALL);
  EXPECT_EQ(e.message, Message(GdErr::kReset));
  EXPECT_EQ(device->vertexBuffer, nullptr);  // released before the reset
  EXPECT_EQ(device->indexBuffer, nullptr);

  EXPECT_EQ(VekCheckGraphicsDevice(device), 1);
  EXPECT_EQ(vrt::CountCalls("IDirect3DDevice8::Reset"), 2u);
  EXPECT_NE(device->vertexBuffer, nullptr);
  EXPECT_EQ(VekCloseGraphicsDevice(device), 0u);
}

TEST_F(DeviceTest, ResetToANewSizeRebuildsTheBackBuffer) {
  GraphicsDevice* device = Open(1, 0, 0, 0);
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(VekResetGraphicsDevice(device, 1, 320, 240, 16, 0), 1);
  EXPECT_EQ(device->present.BackBufferWidth, 320u);
  EXPECT_EQ(device->present.BackBufferFormat, D3DFMT_R5G6B5);
  const D3DSURFACE_DESC desc = BackBufferDesc(device);
  EXPECT_EQ(desc.Width, 320u);
  EXPECT_EQ(desc.Height, 240u);
  EXPECT_EQ(desc.Format, D3DFMT_R5G6B5);

  // Zero again takes the window's client size, which may have changed.
  vrt::ResizeVirtualWindow(window, 500, 300);
  EXPECT_EQ(VekResetGraphicsDevice(device, 1, 0, 0, 32, 0), 1);
  EXPECT_EQ(BackBufferDesc(device).Width, 500u);
  EXPECT_EQ(BackBufferDesc(device).Height, 300u);
  VekCloseGraphicsDevice(device);
}

TEST_F(DeviceTest, ResetIsRefusedWhileADefaultPoolResourceLives) {
  GraphicsDevice* device = Open(1, 0, 0, 0);
  ASSERT_NE(device, nullptr);
  IDirect3DTexture8* target = nullptr;
  ASSERT_EQ(device->cache.device->CreateTexture(64, 64, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8,
                                                D3DPOOL_DEFAULT, &target),
            D3D_OK);
  EXPECT_EQ(VekResetGraphicsDevice(device, 1, 0, 0, 0, 0), D3DERR_INVALIDCALL);
  EXPECT_EQ(ReadError().code, -53);
  target->Release();
  EXPECT_EQ(VekCheckGraphicsDevice(device), 1);  // the device asked for a reset; now it works
  EXPECT_NE(device->vertexBuffer, nullptr);
  VekCloseGraphicsDevice(device);
}

// Records the reset callback's calls to check their order around Reset.
std::vector<std::pair<int, bool>>* callbackCalls = nullptr;
size_t resetCountAtCallback = 0;

LONG RecordingCallback(Graphics* graphics, bool release) {
  callbackCalls->emplace_back(static_cast<int>(reinterpret_cast<INT_PTR>(graphics)), release);
  if (!release) resetCountAtCallback = vrt::CountCalls("IDirect3DDevice8::Reset");
  return 1;
}

TEST_F(DeviceTest, ResetReleasesEveryGraphicsBeforeAndRebuildsAfter) {
  GraphicsDevice* device = Open(1, 0, 0, 0);
  ASSERT_NE(device, nullptr);
  std::vector<std::pair<int, bool>> calls;
  callbackCalls = &calls;
  PBufferAdd(&device->graphicsList, reinterpret_cast<void*>(INT_PTR{1}));
  PBufferAdd(&device->graphicsList, reinterpret_cast<void*>(INT_PTR{2}));
  device->resetCallback = RecordingCallback;
  // Bound as a frame leaves them; a bound default-pool buffer would block Reset.
  SetIndicesCached(&device->cache, device->indexBuffer, 0);
  SetStreamSourceCached(&device->cache, 0, device->vertexBuffer, kBatchVertexSize);
  vrt::ClearCallLog();
  EXPECT_EQ(VekResetGraphicsDevice(device, 1, 0, 0, 0, 0), 1);
  EXPECT_EQ(calls,
            (std::vector<std::pair<int, bool>>{{1, true}, {2, true}, {1, false}, {2, false}}));
  EXPECT_EQ(resetCountAtCallback, 1u);
  // The batch buffers were unbound before the reset.
  const auto& log = vrt::CallLog();
  size_t reset = 0;
  while (reset < log.size() && log[reset].method != "IDirect3DDevice8::Reset") ++reset;
  ASSERT_LT(reset, log.size());
  bool indicesUnbound = false, streamUnbound = false;
  for (size_t i = 0; i < reset; ++i) {
    if (log[i].method == "IDirect3DDevice8::SetIndices" && log[i].args.at(0) == 0)
      indicesUnbound = true;
    if (log[i].method == "IDirect3DDevice8::SetStreamSource" && log[i].args.at(1) == 0)
      streamUnbound = true;
  }
  EXPECT_TRUE(indicesUnbound);
  EXPECT_TRUE(streamUnbound);
  device->graphicsList.count = 0;
  callbackCalls = nullptr;
  VekCloseGraphicsDevice(device);
}

TEST_F(DeviceTest, BuffersThatFailAfterAResetComeBackAtTheNextCheck) {
  GraphicsDevice* device = Open(1, 0, 0, 0);
  ASSERT_NE(device, nullptr);
  vrt::FailCall("IDirect3DDevice8::CreateIndexBuffer", E_OUTOFMEMORY);
  EXPECT_EQ(VekResetGraphicsDevice(device, 1, 0, 0, 0, 0), 0);
  EXPECT_EQ(ReadError().message, Message(GdErr::kIndexBuffer));
  EXPECT_EQ(device->vertexBuffer, nullptr);  // no half-built pair is kept
  EXPECT_EQ(VekCheckGraphicsDevice(device), 1);
  EXPECT_NE(device->vertexBuffer, nullptr);
  EXPECT_NE(device->indexBuffer, nullptr);
  VekCloseGraphicsDevice(device);
}

TEST_F(DeviceTest, ClosingAnyDeviceReleasesTheSharedObject) {
  GraphicsDevice* first = Open(1, 0, 0, 0);
  GraphicsDevice* second = Open(1, 0, 0, 0);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(GetCurrentDevice(), second);
  EXPECT_EQ(vrt::CountCalls("Direct3DCreate8"), 1u);  // shared by both opens
  EXPECT_EQ(VekCloseGraphicsDevice(first), 1u);       // the second device still holds it
  EXPECT_EQ(GetCurrentDevice(), second);              // still open, so still current
  EXPECT_EQ(SharedDirect3D(), nullptr);
  // The second device keeps working on its own Direct3D reference.
  EXPECT_EQ(VekCheckGraphicsDevice(second), 1);
  EXPECT_EQ(VekListDisplayDevices(), 1u);
  EXPECT_EQ(vrt::CountCalls("Direct3DCreate8"), 2u);
  VekCloseGraphicsDevice(second);
}

}  // namespace
