// A host that releases things mid-frame, meets failures during resets, and
// reads every result: lifetimes, recovery after a failed reset, frame order,
// honest results and the last error of every failure.
#include <dlfcn.h>
#include <rask.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vek/vek.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "gd/device.h"
#include "gd/direct3d.h"
#include "host/host.h"
#include "vekimage/image.h"
#include "support/dds.h"
#include "support/freeimage_suite.h"
#include "support/pictures.h"
#include "support/vek_test.h"
#include "support/test_window.h"

namespace {

class HostileHostTest : public WithFreeImage<VekTest> {
 protected:
  void TearDown() override {
    for (HVEKIMAGE image : images) VekDestroyImage(image);
    if (device) VekCloseGraphicsDevice(device);
    VekTest::TearDown();
  }
  void Open() {
    device = VekOpenGraphicsDevice(0, window, 0, 1, 0, 0, 32, 0);
    ASSERT_NE(device, nullptr);
  }
  HVEKIMAGE Load(const std::vector<uint8_t>& bytes) {
    HRASKFILE file = RaskCreateFileFromMemory(bytes.data(), DWORD(bytes.size()), nullptr);
    testing::internal::CaptureStdout();
    HVEKIMAGE image = VekCreateImage(file);
    testing::internal::GetCapturedStdout();
    RaskDestroyFile(file);
    if (image) images.push_back(image);
    return image;
  }
  void* Quad(HVEKGRAPHICS g, HVEKTEXTURE texture) {
    return VekDrawQuad(g, 0, 0, 0.5f, 0xFFFFFFFF, 0, 0, 8, 0, 0.5f, 0xFFFFFFFF, 1, 0, 8, 8, 0.5f,
                       0xFFFFFFFF, 1, 1, 0, 8, 0.5f, 0xFFFFFFFF, 0, 1, 0, texture);
  }
  static size_t Draws() {
    return vrt::CountCalls("IDirect3DDevice8::DrawIndexedPrimitive") +
           vrt::CountCalls("IDirect3DDevice8::DrawPrimitive");
  }
  void ExpectError(LONG code) {
    const LastError e = ReadError();
    EXPECT_TRUE(e.set);
    EXPECT_EQ(e.code, code) << e.message;
    ClearError();
  }
  void Loseable() {
    vrt::LoseDevice(device->cache.device);
    vrt::MakeDeviceResettable(device->cache.device);
  }

  GraphicsDevice* device = nullptr;
  std::vector<HVEKIMAGE> images;
};

TEST_F(HostileHostTest, ReleasedTexturesAreDroppedFromPendingFrames) {
  Open();
  HVEKGRAPHICS g = VekOpenGraphics(device);
  HVEKGRAPHICS tg = VekOpenTextureGraphics(device, 16, 16, D3DFMT_A8R8G8B8);
  HVEKIMAGE image = Load(testdds::Solid32(8, 8, 0xFF00FF00));
  ASSERT_TRUE(g && tg && image);
  images.clear();
  ASSERT_EQ(VekBeginRender(g), 0);
  ASSERT_NE(Quad(g, &image->texture), nullptr);
  ASSERT_NE(Quad(g, VekGetGraphicsTexture(tg)), nullptr);
  VekDestroyImage(image);
  VekCloseGraphics(tg);
  const size_t draws = Draws();
  EXPECT_EQ(VekEndRender(g), 0);
  EXPECT_EQ(Draws(), draws);  // nothing left to draw, nothing freed read
  VekCloseGraphics(g);
}

TEST_F(HostileHostTest, ClosingADeviceClosesItsSurfaces) {
  Open();
  HVEKGRAPHICS g = VekOpenGraphics(device);
  HVEKGRAPHICS tg = VekOpenTextureGraphics(device, 16, 16, D3DFMT_A8R8G8B8);
  HWND child = vrt::CreateVirtualWindow(0, 0, 32, 32);
  HVEKGRAPHICS cg = VekOpenChildWindowGraphics(device, child, 32, 32, 32);
  HVEKGRAPHICS sg = VekOpenStencilGraphics(g);
  ASSERT_TRUE(g && tg && cg && sg);
  ASSERT_EQ(VekBeginRender(tg), 0);  // even mid-frame
  EXPECT_EQ(VekCloseGraphicsDevice(device), 0u);
  device = nullptr;
  EXPECT_EQ(vrt::LiveObjectCount(), 0);
  // The handles are gone: closing them again is refused, not a use after free.
  for (HVEKGRAPHICS h : {g, tg, cg, sg}) {
    EXPECT_EQ(VekCloseGraphics(h), 0);
    ExpectError(kErrArgument);
  }
  vrt::DestroyVirtualWindow(child);
}

TEST_F(HostileHostTest, OneFailingCallDuringAResetIsRetried) {
  for (const char* method : {"IDirect3DDevice8::GetBackBuffer", "IDirect3DDevice8::SetRenderTarget"}) {
    SCOPED_TRACE(method);
    Open();
    HVEKGRAPHICS g = VekOpenGraphics(device);
    HVEKGRAPHICS tg = VekOpenTextureGraphics(device, 16, 16, D3DFMT_A8R8G8B8);
    ASSERT_EQ(VekBeginRender(tg), 0);  // the texture's surface stays bound
    ASSERT_EQ(VekEndRender(tg), 0);
    Loseable();
    vrt::FailCall(method, D3DERR_INVALIDCALL);
    EXPECT_LT(VekCheckGraphicsDevice(device), 0);
    ExpectError(kErrReset);
    EXPECT_EQ(VekCheckGraphicsDevice(device), 1);
    EXPECT_EQ(VekBeginRender(g), 0);
    EXPECT_EQ(VekEndRender(g), 0);
    VekCloseGraphics(tg);
    VekCloseGraphics(g);
    VekCloseGraphicsDevice(device);
    device = nullptr;
  }
}

TEST_F(HostileHostTest, AResetFailsUntilEverySurfaceIsBack) {
  struct Case {
    const char* method;
    int surface;  // 0 texture, 1 child window, 2 window (depth)
  };
  for (const Case& c : {Case{"IDirect3DDevice8::CreateTexture", 0},
                        Case{"IDirect3DTexture8::GetSurfaceLevel", 0},
                        Case{"IDirect3DDevice8::CreateAdditionalSwapChain", 1},
                        Case{"IDirect3DSwapChain8::GetBackBuffer", 1},
                        Case{"IDirect3DDevice8::CreateDepthStencilSurface", 0},
                        Case{"IDirect3DDevice8::CreatePixelShader", 2}}) {
    SCOPED_TRACE(c.method);
    Open();
    HWND child = vrt::CreateVirtualWindow(0, 0, 32, 32);
    HVEKGRAPHICS s[3] = {VekOpenTextureGraphics(device, 16, 16, D3DFMT_A8R8G8B8),
                         VekOpenChildWindowGraphics(device, child, 32, 32, 32),
                         VekOpenGraphics(device)};
    ASSERT_TRUE(s[0] && s[1] && s[2]);
    float grey[4] = {0, 255, 0, 0};
    ASSERT_EQ(VekBeginRender(s[2]), 0);
    VekSetPixelShader(s[2], 1, grey);
    Quad(s[2], nullptr);
    ASSERT_EQ(VekEndRender(s[2]), 0);  // makes the grey shader
    ClearError();
    vrt::FailCall(c.method, D3DERR_OUTOFVIDEOMEMORY);
    EXPECT_LT(VekResetGraphicsDevice(device, 1, 0, 0, 32, 0), 0);
    ExpectError(kErrReset);
    if (std::string(c.method).find("PixelShader") == std::string::npos) {
      // The surface that did not come back refuses its frame.
      EXPECT_LT(VekBeginRender(s[c.surface]), 0);
    }
    EXPECT_EQ(VekCheckGraphicsDevice(device), 1);
    EXPECT_NE(device->shaderHandle[1], 0u);
    for (HVEKGRAPHICS h : s) {
      EXPECT_EQ(VekBeginRender(h), 0);
      EXPECT_GE(VekEndRender(h), 0);
    }
    for (HVEKGRAPHICS h : s) VekCloseGraphics(h);
    VekCloseGraphicsDevice(device);
    device = nullptr;
    vrt::DestroyVirtualWindow(child);
  }
}

TEST_F(HostileHostTest, BeginRenderRefusesWhatItCannotBegin) {
  Open();
  HVEKGRAPHICS a = VekOpenGraphics(device);
  HVEKGRAPHICS b = VekOpenTextureGraphics(device, 16, 16, D3DFMT_A8R8G8B8);
  EXPECT_LT(VekBeginRender(nullptr), 0);
  ExpectError(kErrArgument);
  EXPECT_LT(VekEndRender(a), 0);  // no frame begun
  ExpectError(kErrArgument);
  vrt::FailCall("IDirect3DDevice8::SetRenderTarget", D3DERR_INVALIDCALL);
  EXPECT_EQ(VekBeginRender(b), D3DERR_INVALIDCALL);
  ExpectError(kErrDirect3D);

  ASSERT_EQ(VekBeginRender(a), 0);
  Quad(a, nullptr);
  const size_t targets = vrt::CountCalls("IDirect3DDevice8::SetRenderTarget");
  EXPECT_LT(VekBeginRender(b), 0);
  ExpectError(kErrArgument);
  EXPECT_EQ(vrt::CountCalls("IDirect3DDevice8::SetRenderTarget"), targets);
  EXPECT_LT(VekEndRender(b), 0);  // not b's frame: a's stays open
  const size_t draws = Draws();
  EXPECT_EQ(VekEndRender(a), 0);
  EXPECT_EQ(Draws(), draws + 1);  // a's item is drawn on a's target
  VekCloseGraphics(b);
  VekCloseGraphics(a);
}

TEST_F(HostileHostTest, SavesFailWhenTheFileCannotBeWritten) {
  Open();
  HVEKGRAPHICS g = VekOpenGraphics(device);
  HVEKIMAGE image = Load(testdds::Solid32(8, 8, 0xFF00FF00));
  BYTE* pixels = nullptr;
  ASSERT_GT(VekGetImageData(image, 0, 0, 8, 8, &pixels), 0);
  VekFree(pixels);
  // A full device, reached through a link in a scratch directory so that
  // nothing outside it can be removed whatever the library does.
  char dir[] = "/tmp/vek-full-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string link = std::string(dir) + "/full";
  ASSERT_EQ(symlink("/dev/full", link.c_str()), 0);
  std::u16string path(link.begin(), link.end());
  EXPECT_NE(VekSaveImage(image, path.c_str(), 0), 0);
  ExpectError(kErrDirect3D);
  EXPECT_NE(VekSaveGraphics(g, path.c_str(), 4), 0);
  ExpectError(kErrDirect3D);
  struct stat info {};
  EXPECT_EQ(lstat(link.c_str(), &info), 0) << "what was at the path is not the library's to remove";
  unlink(link.c_str());
  rmdir(dir);
  VekCloseGraphics(g);
}

TEST_F(HostileHostTest, ImagesThatCannotBecomeTexturesAreRefused) {
  vrt::AdapterConfig a = vrt::DefaultAdapter();
  a.maxTextureWidth = a.maxTextureHeight = 131072;
  vrt::SetAdapters({a});
  Open();
  auto dxt1 = [](uint32_t w, uint32_t h) {
    return testdds::DxtFile(w, h, "DXT1", testdds::VariedBlocks(size_t(w + 3) / 4 * ((h + 3) / 4), 8));
  };
  std::vector<uint8_t> zeroSize = dxt1(8, 8), endlessMips = dxt1(8, 8), wide = dxt1(70000, 4);
  testdds::Put32(zeroSize, 20, 0);
  testdds::Put32(zeroSize, 16, 0);
  testdds::Put32(endlessMips, 8, 0x000A1007);
  testdds::Put32(endlessMips, 28, 0xFFFFFFFF);
  std::vector<uint8_t> shortDds = testdds::Solid32(8, 8, 0xFF102030);
  shortDds.resize(shortDds.size() - 40);
  std::vector<uint8_t> shortBmp = pictures::Bmp24(8, 8, std::vector<uint32_t>(64, 0xFF808080));
  shortBmp.resize(shortBmp.size() - 30);
  std::vector<uint8_t> widePng = pictures::Png(65536, 1, std::vector<uint32_t>(65536, 0));
  for (const auto* bytes : {&zeroSize, &endlessMips, &wide, &widePng, &shortDds, &shortBmp}) {
    EXPECT_EQ(Load(*bytes), nullptr) << bytes->size();
    ExpectError(kErrArgument);
  }
  // The widest picture whose size can be reported.
  HVEKIMAGE widest = Load(pictures::Png(65535, 1, std::vector<uint32_t>(65535, 0)));
  ASSERT_NE(widest, nullptr);
  EXPECT_EQ(VekGetImageSize(widest), 0x0001FFFFu);
  VekCloseGraphicsDevice(device);
  a.maxTextureWidth = a.maxTextureHeight = 4096;
  vrt::SetAdapters({a});
  Open();
  EXPECT_EQ(Load(dxt1(8192, 4)), nullptr);
  ExpectError(kErrArgument);
  EXPECT_NE(Load(dxt1(4096, 4)), nullptr);
}

TEST_F(HostileHostTest, EveryRefusalRecordsTheLastError) {
  // Each call fails (null, 0 or non-zero as it reports failure) with the code beside it.
  const std::vector<std::pair<std::function<bool()>, LONG>> calls = {
      {[&] { return !Load(testdds::Solid32(8, 8, 0)); }, kErrArgument},  // no current device
      {[&] { vrt::FailCall("Direct3DCreate8", 0);
             return !VekOpenGraphicsDevice(0, window, 0, 1, 0, 0, 32, 0); }, kErrDirect3D},
      {[&] { vrt::FailCall("IDirect3D8::GetDeviceCaps", E_FAIL);
             return !VekOpenGraphicsDevice(0, window, 0, 1, 0, 0, 32, 0); }, kErrLockOrCaps},
      {[] { return !VekGetDeviceName(7, nullptr); }, kErrArgument},
      {[] { return !VekGetDisplayModeCount(7); }, kErrArgument},
      {[] { return !VekListDisplayModes(7); }, kErrArgument},
      {[] { return !VekOpenGraphics(nullptr); }, kErrArgument},
      {[] { return !VekOpenTextureGraphics(nullptr, 8, 8, 21); }, kErrArgument},
      {[&] { return !VekOpenChildWindowGraphics(nullptr, window, 8, 8, 32); }, kErrArgument},
      {[] { return !VekOpenStencilGraphics(nullptr); }, kErrArgument},
      {[&] { Open(); return !Load({}); }, kErrArgument},  // empty
      {[&] { return !Load(std::vector<uint8_t>(64, 7)); }, kErrArgument},  // not a picture
      {[] { return !VekCreateImage(nullptr); }, kErrArgument},
      {[&] { return VekSaveImage(Load(testdds::Solid32(8, 8, 0)), u"/tmp/vek-unsaved.bmp", 0) != 0; },
       kErrDirect3D}};  // no texture yet
  for (size_t i = 0; i < calls.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(calls[i].first());
    ExpectError(calls[i].second);
  }
}

TEST_F(HostileHostTest, TheLatestOpenDeviceBecomesCurrentAgain) {
  GraphicsDevice* d1 = VekOpenGraphicsDevice(0, window, 0, 1, 0, 0, 32, 0);
  GraphicsDevice* d2 = VekOpenGraphicsDevice(0, window, 0, 1, 0, 0, 32, 0);
  GraphicsDevice* d3 = VekOpenGraphicsDevice(0, window, 0, 1, 0, 0, 32, 0);
  ASSERT_TRUE(d1 && d2 && d3);
  VekCloseGraphicsDevice(d3);
  EXPECT_EQ(GetCurrentDevice(), d2);
  VekCloseGraphicsDevice(d1);  // not current: d2 stays
  EXPECT_EQ(GetCurrentDevice(), d2);
  device = d2;
  EXPECT_NE(Load(testdds::Solid32(8, 8, 0)), nullptr);
}

// The library as a host loads it: unloading it lets go of the shared
// Direct3D object that adapter queries made.
TEST(LibraryUnload, ReleasesTheSharedDirect3DObject) {
  vrt::ResetRuntime();
  const int before = vrt::LiveObjectCount();
  void* vek = dlopen(VEK_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(vek, nullptr) << dlerror();
  auto list = reinterpret_cast<UINT (*)()>(dlsym(vek, "VekListDisplayDevices"));
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list(), 1u);
  EXPECT_EQ(vrt::LiveObjectCount(), before + 1);
  ASSERT_EQ(dlclose(vek), 0);
  EXPECT_EQ(vrt::LiveObjectCount(), before);
}

}  // namespace
