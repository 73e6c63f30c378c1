// IDirect3D8 over a configured adapter list: identifiers, modes, caps,
// format checks and the answers to ordinals it does not have.
#include <cstring>
#include <string>

#include "runtime_test.h"

namespace {

class AdapterTest : public RuntimeTest {
 protected:
  void SetUp() override {
    RuntimeTest::SetUp();
    vrt::AdapterConfig plain = vrt::DefaultAdapter();
    plain.description = "Plain Adapter";
    plain.driver = "plain.dll";
    plain.driverVersion = 0x0006000E000A0E2Bull;  // 6.14.10.3627
    plain.vendorId = 0x10DE;
    plain.deviceId = 0x0201;
    plain.pixelShaderVersion = D3DPS_VERSION(1, 1);
    plain.textureCaps = D3DPTEXTURECAPS_POW2 | D3DPTEXTURECAPS_ALPHA;
    plain.maxTextureWidth = 2048;
    plain.maxTextureHeight = 1024;

    vrt::AdapterConfig hud = vrt::DefaultAdapter();
    hud.description = "NVIDIA PerfHUD";
    hud.driver = "nv4_disp.dll";
    hud.pixelShaderVersion = D3DPS_VERSION(1, 3);
    hud.textureCaps = D3DPTEXTURECAPS_POW2 | D3DPTEXTURECAPS_NONPOW2CONDITIONAL;
    hud.modes = {{800, 600, 75, D3DFMT_R5G6B5},
                 {640, 480, 60, D3DFMT_X1R5G5B5},
                 {1024, 768, 85, D3DFMT_X8R8G8B8}};
    hud.currentMode = {1024, 768, 85, D3DFMT_X8R8G8B8};

    vrt::AdapterConfig modern = vrt::DefaultAdapter();
    modern.description = "Modern";
    modern.pixelShaderVersion = D3DPS_VERSION(1, 4);
    modern.modes.clear();
    modern.currentMode = {1600, 900, 60, D3DFMT_R5G6B5};
    vrt::SetAdapters({plain, hud, modern});
    d3d.attach(Direct3DCreate8(D3D_SDK_VERSION));
    ASSERT_TRUE(d3d);
  }
  void TearDown() override {
    d3d.reset();
    RuntimeTest::TearDown();
  }
  Com<IDirect3D8> d3d;
};

TEST_F(AdapterTest, IdentifiersComeFromTheConfiguration) {
  ASSERT_EQ(d3d->GetAdapterCount(), 3u);
  D3DADAPTER_IDENTIFIER8 id;
  std::memset(&id, 0x5A, sizeof(id));
  ASSERT_EQ(d3d->GetAdapterIdentifier(0, 0, &id), D3D_OK);
  EXPECT_STREQ(id.Description, "Plain Adapter");
  EXPECT_STREQ(id.Driver, "plain.dll");
  EXPECT_EQ(id.DriverVersion.HighPart, 0x0006000E);
  EXPECT_EQ(id.DriverVersion.LowPart, 0x000A0E2Bu);
  EXPECT_EQ(id.VendorId, 0x10DEu);
  EXPECT_EQ(id.DeviceId, 0x0201u);
  EXPECT_NE(id.WHQLLevel, 0u);

  ASSERT_EQ(d3d->GetAdapterIdentifier(1, D3DENUM_NO_WHQL_LEVEL, &id), D3D_OK);
  EXPECT_STREQ(id.Description, "NVIDIA PerfHUD");
  EXPECT_STREQ(id.Driver, "nv4_disp.dll");
  EXPECT_EQ(id.WHQLLevel, 0u);  // not looked up

  // Adapters tell themselves apart by their identifier GUIDs too.
  D3DADAPTER_IDENTIFIER8 other{};
  ASSERT_EQ(d3d->GetAdapterIdentifier(0, 0, &other), D3D_OK);
  EXPECT_NE(std::memcmp(&id.DeviceIdentifier, &other.DeviceIdentifier, sizeof(GUID)), 0);
}

TEST_F(AdapterTest, LongStringsAreCutAndTerminated) {
  vrt::AdapterConfig a = vrt::DefaultAdapter();
  a.description = std::string(700, 'd');
  a.driver = std::string(MAX_DEVICE_IDENTIFIER_STRING, 'r');
  vrt::SetAdapters({a});
  D3DADAPTER_IDENTIFIER8 id;
  std::memset(&id, 0x5A, sizeof(id));
  ASSERT_EQ(d3d->GetAdapterIdentifier(0, 0, &id), D3D_OK);
  EXPECT_EQ(std::strlen(id.Description), MAX_DEVICE_IDENTIFIER_STRING - 1u);
  EXPECT_EQ(std::strlen(id.Driver), MAX_DEVICE_IDENTIFIER_STRING - 1u);
}

TEST_F(AdapterTest, ModesInEnumerationOrder) {
  EXPECT_EQ(d3d->GetAdapterModeCount(0), vrt::DefaultAdapter().modes.size());
  ASSERT_EQ(d3d->GetAdapterModeCount(1), 3u);
  const D3DDISPLAYMODE expected[] = {{800, 600, 75, D3DFMT_R5G6B5},
                                     {640, 480, 60, D3DFMT_X1R5G5B5},
                                     {1024, 768, 85, D3DFMT_X8R8G8B8}};
  for (UINT i = 0; i < 3; ++i) {
    D3DDISPLAYMODE m{};
    ASSERT_EQ(d3d->EnumAdapterModes(1, i, &m), D3D_OK);
    EXPECT_EQ(m.Width, expected[i].Width) << i;
    EXPECT_EQ(m.Height, expected[i].Height) << i;
    EXPECT_EQ(m.RefreshRate, expected[i].RefreshRate) << i;
    EXPECT_EQ(m.Format, expected[i].Format) << i;
  }
  EXPECT_EQ(d3d->GetAdapterModeCount(2), 0u);
  D3DDISPLAYMODE current{};
  ASSERT_EQ(d3d->GetAdapterDisplayMode(2, &current), D3D_OK);
  EXPECT_EQ(current.Width, 1600u);
  EXPECT_EQ(current.Format, D3DFMT_R5G6B5);
}

TEST_F(AdapterTest, TheDefaultAdapter) {
  vrt::ResetRuntime();  // back to the one default adapter
  ASSERT_EQ(d3d->GetAdapterCount(), 1u);
  D3DDISPLAYMODE current{};
  ASSERT_EQ(d3d->GetAdapterDisplayMode(0, &current), D3D_OK);
  EXPECT_EQ(current.Width, 1280u);
  EXPECT_EQ(current.Height, 720u);
  EXPECT_EQ(current.RefreshRate, 60u);
  EXPECT_EQ(current.Format, D3DFMT_X8R8G8B8);
  int found = 0;
  for (UINT i = 0; i < d3d->GetAdapterModeCount(0); ++i) {
    D3DDISPLAYMODE m{};
    ASSERT_EQ(d3d->EnumAdapterModes(0, i, &m), D3D_OK);
    if (m.Width == 640 && m.Height == 480 &&
        (m.Format == D3DFMT_X8R8G8B8 || m.Format == D3DFMT_R5G6B5))
      ++found;
  }
  EXPECT_EQ(found, 2);   // 640 x 480 in both formats
  vrt::SetAdapters({});  // never none
  EXPECT_EQ(d3d->GetAdapterCount(), 1u);
}

TEST_F(AdapterTest, CapsCarryTheConfiguredShaderAndTextureLimits) {
  struct Row {
    UINT adapter;
    DWORD ps;
    DWORD textureCaps;
  } rows[] = {{0, D3DPS_VERSION(1, 1), D3DPTEXTURECAPS_POW2 | D3DPTEXTURECAPS_ALPHA},
              {1, D3DPS_VERSION(1, 3), D3DPTEXTURECAPS_POW2 | D3DPTEXTURECAPS_NONPOW2CONDITIONAL},
              {2, D3DPS_VERSION(1, 4), D3DPTEXTURECAPS_ALPHA}};
  for (const Row& row : rows) {
    for (D3DDEVTYPE type : {D3DDEVTYPE_HAL, D3DDEVTYPE_REF}) {
      SCOPED_TRACE(testing::Message() << "adapter " << row.adapter << " type " << type);
      D3DCAPS8 caps{};
      ASSERT_EQ(d3d->GetDeviceCaps(row.adapter, type, &caps), D3D_OK);
      EXPECT_EQ(caps.DeviceType, type);
      EXPECT_EQ(caps.AdapterOrdinal, row.adapter);
      EXPECT_EQ(caps.PixelShaderVersion, row.ps);
      EXPECT_EQ(caps.TextureCaps, row.textureCaps);
    }
  }
  D3DCAPS8 caps{};
  ASSERT_EQ(d3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps), D3D_OK);
  EXPECT_EQ(caps.MaxTextureWidth, 2048u);
  EXPECT_EQ(caps.MaxTextureHeight, 1024u);
}

TEST_F(AdapterTest, ADeviceReportsItsOwnAdapter) {
  // The PerfHUD way: the reference type on a later adapter.
  Com<IDirect3DDevice8> device;
  ASSERT_EQ(Create(d3d.get(), Windowed(window), &device, 1, D3DDEVTYPE_REF), D3D_OK);
  D3DCAPS8 fromDevice{}, fromD3D{};
  ASSERT_EQ(device->GetDeviceCaps(&fromDevice), D3D_OK);
  ASSERT_EQ(d3d->GetDeviceCaps(1, D3DDEVTYPE_REF, &fromD3D), D3D_OK);
  EXPECT_EQ(std::memcmp(&fromDevice, &fromD3D, sizeof(D3DCAPS8)), 0);
  D3DDEVICE_CREATION_PARAMETERS created{};
  ASSERT_EQ(device->GetCreationParameters(&created), D3D_OK);
  EXPECT_EQ(created.AdapterOrdinal, 1u);
  EXPECT_EQ(created.DeviceType, D3DDEVTYPE_REF);
  // Windowed on adapter 1: the desktop format of that adapter.
  D3DDISPLAYMODE mode{};
  ASSERT_EQ(device->GetDisplayMode(&mode), D3D_OK);
  EXPECT_EQ(mode.RefreshRate, 85u);
}

TEST_F(AdapterTest, OrdinalsBeyondTheListAreRefused) {
  D3DADAPTER_IDENTIFIER8 id;
  std::memset(&id, 0x5A, sizeof(id));
  EXPECT_EQ(d3d->GetAdapterIdentifier(3, 0, &id), D3DERR_INVALIDCALL);
  EXPECT_EQ(static_cast<unsigned char>(id.Description[0]), 0x5A);
  EXPECT_EQ(d3d->GetAdapterIdentifier(0, 0, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(d3d->GetAdapterModeCount(3), 0u);

  D3DDISPLAYMODE m{};
  EXPECT_EQ(d3d->EnumAdapterModes(1, 3, &m), D3DERR_INVALIDCALL);  // one past the last
  EXPECT_EQ(d3d->EnumAdapterModes(2, 0, &m), D3DERR_INVALIDCALL);  // an adapter without modes
  EXPECT_EQ(d3d->EnumAdapterModes(9, 0, &m), D3DERR_INVALIDCALL);
  EXPECT_EQ(d3d->GetAdapterDisplayMode(3, &m), D3DERR_INVALIDCALL);

  D3DCAPS8 caps{};
  EXPECT_EQ(d3d->GetDeviceCaps(3, D3DDEVTYPE_HAL, &caps), D3DERR_INVALIDCALL);
  EXPECT_EQ(d3d->GetDeviceCaps(0, D3DDEVTYPE_SW, &caps), D3DERR_INVALIDCALL);
  EXPECT_EQ(d3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, nullptr), D3DERR_INVALIDCALL);

  EXPECT_EQ(d3d->GetAdapterMonitor(3), nullptr);
  EXPECT_NE(d3d->GetAdapterMonitor(0), nullptr);
  EXPECT_NE(d3d->GetAdapterMonitor(0), d3d->GetAdapterMonitor(1));
}

TEST_F(AdapterTest, FormatChecks) {
  // Windowed: the display must be in the desktop's format.
  EXPECT_EQ(d3d->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, TRUE),
            D3D_OK);
  EXPECT_EQ(d3d->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_R5G6B5, D3DFMT_R5G6B5, TRUE),
            D3DERR_NOTAVAILABLE);
  // Full-screen: a mode in the display format and a back buffer that matches it.
  EXPECT_EQ(d3d->CheckDeviceType(1, D3DDEVTYPE_REF, D3DFMT_R5G6B5, D3DFMT_R5G6B5, FALSE), D3D_OK);
  EXPECT_EQ(d3d->CheckDeviceType(1, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, FALSE),
            D3D_OK);
  EXPECT_EQ(d3d->CheckDeviceType(1, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5, FALSE),
            D3DERR_NOTAVAILABLE);
  EXPECT_EQ(d3d->CheckDeviceType(2, D3DDEVTYPE_HAL, D3DFMT_X1R5G5B5, D3DFMT_X1R5G5B5, FALSE),
            D3DERR_NOTAVAILABLE);
  EXPECT_EQ(d3d->CheckDeviceType(5, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, TRUE),
            D3DERR_INVALIDCALL);

  const D3DFORMAT display = D3DFMT_X8R8G8B8;
  EXPECT_EQ(d3d->CheckDeviceFormat(0, D3DDEVTYPE_HAL, display, 0, D3DRTYPE_TEXTURE, D3DFMT_DXT1),
            D3D_OK);
  EXPECT_EQ(d3d->CheckDeviceFormat(0, D3DDEVTYPE_HAL, display, D3DUSAGE_RENDERTARGET,
                                   D3DRTYPE_TEXTURE, D3DFMT_A8R8G8B8),
            D3D_OK);
  EXPECT_EQ(d3d->CheckDeviceFormat(0, D3DDEVTYPE_HAL, display, D3DUSAGE_RENDERTARGET,
                                   D3DRTYPE_TEXTURE, D3DFMT_DXT5),
            D3DERR_NOTAVAILABLE);
  EXPECT_EQ(d3d->CheckDeviceFormat(0, D3DDEVTYPE_HAL, display, D3DUSAGE_DEPTHSTENCIL,
                                   D3DRTYPE_SURFACE, D3DFMT_D24S8),
            D3D_OK);
  EXPECT_EQ(
      d3d->CheckDeviceFormat(0, D3DDEVTYPE_HAL, display, 0, D3DRTYPE_CUBETEXTURE, D3DFMT_A8R8G8B8),
      D3DERR_NOTAVAILABLE);
  EXPECT_EQ(
      d3d->CheckDeviceFormat(0, D3DDEVTYPE_HAL, display, 0, D3DRTYPE_INDEXBUFFER, D3DFMT_INDEX32),
      D3D_OK);
  EXPECT_EQ(
      d3d->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_A8R8G8B8, 0, D3DRTYPE_TEXTURE, D3DFMT_DXT1),
      D3DERR_INVALIDCALL);  // not a display format

  EXPECT_EQ(d3d->CheckDepthStencilMatch(0, D3DDEVTYPE_HAL, display, D3DFMT_X8R8G8B8, D3DFMT_D16),
            D3D_OK);
  EXPECT_EQ(
      d3d->CheckDepthStencilMatch(0, D3DDEVTYPE_HAL, display, D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8),
      D3DERR_NOTAVAILABLE);
  EXPECT_EQ(d3d->CheckDeviceMultiSampleType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, TRUE,
                                            D3DMULTISAMPLE_NONE),
            D3D_OK);
  EXPECT_EQ(d3d->CheckDeviceMultiSampleType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, TRUE,
                                            D3DMULTISAMPLE_2_SAMPLES),
            D3DERR_NOTAVAILABLE);
}

TEST(Direct3DCreate8Test, OnlyTheSdkVersionMakesAnObject) {
  vrt::ResetRuntime();
  for (UINT version : {0u, 120u, 219u, 221u, 900u}) {
    EXPECT_EQ(Direct3DCreate8(version), nullptr) << version;
  }
  IDirect3D8* d3d = Direct3DCreate8(D3D_SDK_VERSION);
  ASSERT_NE(d3d, nullptr);
  EXPECT_EQ(vrt::LiveObjectCount(), 1);
  // Each call makes a new object.
  IDirect3D8* second = Direct3DCreate8(D3D_SDK_VERSION);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(second, d3d);
  EXPECT_EQ(second->Release(), 0u);

  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(d3d->QueryInterface(IID_IDirect3DDevice8, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  IDirect3D8* same = nullptr;
  ASSERT_EQ(d3d->QueryInterface(IID_IDirect3D8, reinterpret_cast<void**>(&same)), S_OK);
  EXPECT_EQ(same, d3d);
  EXPECT_EQ(same->Release(), 1u);
  EXPECT_EQ(d3d->Release(), 0u);
  EXPECT_EQ(vrt::LiveObjectCount(), 0);
}

}  // namespace
