// Adapter, driver and display-mode queries over a configured runtime.
#include <vek/vek.h>

#include <cstring>

#include "gd/direct3d.h"
#include "support/diagnostics.h"
#include "support/vek_test.h"

namespace {

class AdapterTest : public VekTest {
 protected:
  static vrt::AdapterConfig Adapter(const char* description, const char* driver, uint64_t version) {
    vrt::AdapterConfig a = vrt::DefaultAdapter();
    a.description = description;
    a.driver = driver;
    a.driverVersion = version;
    return a;
  }
};

TEST_F(AdapterTest, PacksModesAsWidthHeightBitsRefresh) {
  EXPECT_EQ(PackDisplayMode({1024, 768, 60, D3DFMT_X8R8G8B8}), 0x3C2003000400ull);
  EXPECT_EQ(PackDisplayMode({800, 600, 75, D3DFMT_R5G6B5}), 0x4B1002580320ull);
  // Formats other than X8R8G8B8 and R5G6B5 report no bit count.
  EXPECT_EQ(PackDisplayMode({640, 480, 60, D3DFMT_X1R5G5B5}) >> 32 & 0xFF, 0u);
  EXPECT_EQ(PackDisplayMode({640, 480, 60, D3DFMT_A8R8G8B8}) >> 32 & 0xFF, 0u);
}

TEST_F(AdapterTest, ListsEveryModeInEnumerationOrder) {
  vrt::AdapterConfig a = vrt::DefaultAdapter();
  a.modes = {{1024, 768, 60, D3DFMT_X8R8G8B8},
             {800, 600, 75, D3DFMT_R5G6B5},
             {640, 480, 72, D3DFMT_X1R5G5B5}};
  a.currentMode = {1024, 768, 60, D3DFMT_X8R8G8B8};
  vrt::AdapterConfig empty = vrt::DefaultAdapter();
  empty.modes.clear();
  vrt::SetAdapters({a, empty});

  ASSERT_EQ(VekListDisplayDevices(), 2u);
  ASSERT_EQ(VekGetDisplayModeCount(0), 3u);
  ULONGLONG* modes = VekListDisplayModes(0);
  ASSERT_NE(modes, nullptr);
  EXPECT_EQ(modes[0], 0x3C2003000400ull);
  EXPECT_EQ(modes[1], 0x4B1002580320ull);
  EXPECT_EQ(modes[2], (72ull << 40) | (480ull << 16) | 640ull);
  EXPECT_EQ(VekFree(modes), 1);
  EXPECT_EQ(VekGetCurrentDisplayMode(), 0x3C2003000400ull);

  // No modes: a count of 0 and an array of no entries, still the host's to free.
  EXPECT_EQ(VekGetDisplayModeCount(1), 0u);
  ULONGLONG* none = VekListDisplayModes(1);
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(VekFree(none), 1);
  EXPECT_EQ(VekFree(nullptr), 0);
}

TEST_F(AdapterTest, ModeListFailures) {
  FailMalloc(0, 1);
  EXPECT_EQ(VekListDisplayModes(0), nullptr);
  // A mode the adapter refuses to enumerate reads as 0, never as stale memory.
  vrt::FailCall("IDirect3D8::EnumAdapterModes", D3DERR_INVALIDCALL, 1, 1);
  ULONGLONG* modes = VekListDisplayModes(0);
  ASSERT_NE(modes, nullptr);
  ASSERT_GE(VekGetDisplayModeCount(0), 3u);
  EXPECT_NE(modes[0], 0u);
  EXPECT_EQ(modes[1], 0u);
  EXPECT_NE(modes[2], 0u);
  VekFree(modes);
  vrt::FailCall("IDirect3D8::GetAdapterDisplayMode", D3DERR_INVALIDCALL);
  EXPECT_EQ(VekGetCurrentDisplayMode(), 0u);
}

TEST_F(AdapterTest, TextQueriesReturnLengthAndWriteNoTerminator) {
  vrt::SetAdapters({Adapter("Primary Display", "disp.dll", 0), Adapter("Second", "s.dll", 0)});
  EXPECT_EQ(VekGetDeviceName(0, nullptr), 15u);
  EXPECT_EQ(VekGetDeviceDriver(0, nullptr), 8u);

  char buffer[32];
  std::memset(buffer, '#', sizeof(buffer));
  EXPECT_EQ(VekGetDeviceName(1, buffer), 6u);
  EXPECT_EQ(std::string(buffer, 8), "Second##");
  std::memset(buffer, '#', sizeof(buffer));
  EXPECT_EQ(VekGetDeviceDriver(0, buffer), 8u);
  EXPECT_EQ(std::string(buffer, 9), "disp.dll#");

  // An ordinal the adapter list does not have: 0 and nothing written.
  std::memset(buffer, '#', sizeof(buffer));
  EXPECT_EQ(VekGetDeviceName(2, buffer), 0u);
  EXPECT_EQ(VekGetDeviceDriver(7, buffer), 0u);
  EXPECT_EQ(buffer[0], '#');
}

TEST_F(AdapterTest, LongestDescriptionIsCutAtTheIdentifierLimit) {
  vrt::SetAdapters({Adapter(std::string(600, 'd').c_str(), "x.dll", 0)});
  EXPECT_EQ(VekGetDeviceName(0, nullptr), 511u);  // the identifier keeps its terminator
}

TEST_F(AdapterTest, DriverVersionComesInFourPiecesMostSignificantFirst) {
  vrt::SetAdapters({Adapter("A", "a.dll", 0x0006000E000A0E2Bull)});
  DWORD version[4] = {9, 9, 9, 9};
  EXPECT_EQ(VekGetDeviceDriverVersion(0, version), 4u);
  EXPECT_EQ(version[0], 6u);
  EXPECT_EQ(version[1], 14u);
  EXPECT_EQ(version[2], 10u);
  EXPECT_EQ(version[3], 3627u);
  EXPECT_EQ(VekGetDeviceDriverVersion(0, nullptr), 4u);

  DWORD untouched[4] = {9, 9, 9, 9};
  EXPECT_EQ(VekGetDeviceDriverVersion(3, untouched), 0u);
  EXPECT_EQ(untouched[0], 9u);
}

TEST_F(AdapterTest, NoDirect3DMeansZeroEverywhere) {
  vrt::FailCall("Direct3DCreate8", E_FAIL, 0, -1);
  char name[8] = "keep";
  DWORD version[4] = {7, 7, 7, 7};
  EXPECT_EQ(VekListDisplayDevices(), 0u);
  EXPECT_EQ(VekGetDeviceName(0, name), 0u);
  EXPECT_EQ(VekGetDeviceDriver(0, nullptr), 0u);
  EXPECT_EQ(VekGetDeviceDriverVersion(0, version), 0u);
  EXPECT_EQ(VekGetDisplayModeCount(0), 0u);
  EXPECT_EQ(VekListDisplayModes(0), nullptr);
  EXPECT_EQ(VekGetCurrentDisplayMode(), 0u);
  EXPECT_STREQ(name, "keep");
  EXPECT_EQ(version[0], 7u);
  EXPECT_EQ(ReadError().code, -51);  // every query records that Direct3D is missing
  EXPECT_EQ(ReadError().message, Message(GdErr::kCreateDirect3D));
  EXPECT_EQ(CapturedLog(), "");
}

TEST_F(AdapterTest, IdentifierLinesAreLoggedOncePerCreation) {
  vrt::SetAdapters({Adapter("Test \xE9 Adapter", "tst.dll", 0x0001000200030004ull)});
  VekListDisplayDevices();
  VekGetDisplayModeCount(0);
  const std::string expected =
      ".\\gd: D3D Driver: tst.dll\n"
      ".\\gd: Description: Test \xC3\xA9 Adapter\n"  // each byte widened to one code unit
      ".\\gd: Version: 1.2.3.4\n";
  EXPECT_EQ(CapturedLog(), expected);

  // Closing a device drops the shared object; the next query makes a new one
  // and logs the identifier again.
  HVEKDEVICE device = VekOpenGraphicsDevice(0, window, 0, 1, 0, 0, 0, 0);
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(VekCloseGraphicsDevice(device), 0u);
  EXPECT_EQ(SharedDirect3D(), nullptr);
  SetLogCapture(TRUE);
  EXPECT_EQ(VekListDisplayDevices(), 1u);
  EXPECT_EQ(CapturedLog(), expected);
}

TEST_F(AdapterTest, FormatNames) {
  auto name = [](D3DFORMAT f) { return Utf16ToUtf8(FormatName(f)); };
  EXPECT_EQ(name(D3DFMT_A8R8G8B8), "A8R8G8B8");
  EXPECT_EQ(name(D3DFMT_X8R8G8B8), "X8R8G8B8");
  EXPECT_EQ(name(D3DFMT_R5G6B5), "R5G6B5");
  EXPECT_EQ(name(D3DFMT_X1R5G5B5), "X1R5G5B5");
  EXPECT_EQ(name(D3DFMT_A1R5G5B5), "A1R5G5B5");
  EXPECT_EQ(name(D3DFMT_A4R4G4B4), "UNKNOWN");
  EXPECT_EQ(name(D3DFMT_UNKNOWN), "UNKNOWN");
}

}  // namespace
