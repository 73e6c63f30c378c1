// Screen capture on the POSIX runtime's GDI: every failure along the way
// stops cleanly (no capture, no GDI object or block left), and the empty
// cases call no GDI at all.
#include <dlfcn.h>
#include <vek/vek.h>
#include <vekrt/runtime.h>

#include <string>
#include <vector>

#include "support/vek_test.h"
#include "vekimage/capture.h"

namespace {

class CaptureRuntimeTest : public VekTest {
 protected:
  void TearDown() override {
    ReleaseScreenCapture();
    VekTest::TearDown();
  }

  static std::vector<std::string> Calls() { return LoggedMethods(); }
};

TEST_F(CaptureRuntimeTest, EmptyRectanglesCallNoGdi) {
  const SIZE desktop = vrt::DesktopSize();
  vrt::ClearCallLog();
  EXPECT_EQ(VekScreenCapture(100, 100, 100, 200), 0);
  EXPECT_EQ(VekScreenCapture(200, 0, 100, 50), 0);
  EXPECT_TRUE(Calls().empty());
  // Cut to nothing: only the screen's size is asked.
  EXPECT_EQ(VekScreenCapture(desktop.cx, 0, desktop.cx + 10, 10), 0);
  EXPECT_EQ(Calls(), (std::vector<std::string>{"GetSystemMetrics", "GetSystemMetrics"}));
  EXPECT_EQ(VekGetScreenCapture(nullptr), nullptr);
}

TEST_F(CaptureRuntimeTest, EveryFailureLeavesNoCaptureAndNothingAlive) {
  for (const char* call : {"GetDC", "CreateCompatibleDC", "CreateCompatibleBitmap", "SelectObject",
                           "BitBlt", "GetObjectW", "LocalAlloc", "GetDIBits", "Malloc"}) {
    SCOPED_TRACE(call);
    ASSERT_EQ(VekScreenCapture(0, 0, 8, 8), 0);  // one waiting, to be dropped
    const LONG blocks = LiveBlockCount() - 1;
    if (std::string(call) == "Malloc")
      FailMalloc(0, 1);
    else
      vrt::FailCall(call, E_OUTOFMEMORY);
    EXPECT_EQ(VekScreenCapture(0, 0, 32, 32), 0);
    FailMalloc(0, 0);
    vrt::ClearFailures();
    DWORD size = 7;
    EXPECT_EQ(VekGetScreenCapture(&size), nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(LiveBlockCount(), blocks);
    EXPECT_EQ(vrt::LiveObjectCount(), 0);
  }
}

// A capture the host never collects goes with the library.
TEST(CaptureUnload, ReleasesTheCaptureNotCollected) {
  vrt::ResetRuntime();
  const LONG before = LiveBlockCount();
  void* vek = dlopen(VEK_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(vek, nullptr) << dlerror();
  auto capture = reinterpret_cast<INT (*)(INT, INT, INT, INT)>(dlsym(vek, "VekScreenCapture"));
  ASSERT_NE(capture, nullptr);
  const LONG loaded = LiveBlockCount();
  EXPECT_EQ(capture(0, 0, 16, 16), 0);
  EXPECT_EQ(LiveBlockCount(), loaded + 1);
  ASSERT_EQ(dlclose(vek), 0);
  EXPECT_EQ(LiveBlockCount(), before);
  EXPECT_EQ(vrt::LiveObjectCount(), 0);
}

}  // namespace
