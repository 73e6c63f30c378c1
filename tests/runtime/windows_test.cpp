// Virtual windows on the virtual desktop, seen through user32.
#include <vekrt/window.h>

#include <cstdlib>
#include <string>

#include "runtime_test.h"

namespace {

using Windows = RuntimeTest;

TEST_F(Windows, ClientRectFollowsCreateAndResize) {
  RECT r{-1, -1, -1, -1};
  ASSERT_TRUE(GetClientRect(window, &r));
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.top, 0);
  EXPECT_EQ(r.right, 640);
  EXPECT_EQ(r.bottom, 480);

  vrt::ResizeVirtualWindow(window, 320, 200);
  ASSERT_TRUE(GetClientRect(window, &r));
  EXPECT_EQ(r.right, 320);
  EXPECT_EQ(r.bottom, 200);

  vrt::ResizeVirtualWindow(window, -5, 7);  // no negative sizes
  ASSERT_TRUE(GetClientRect(window, &r));
  EXPECT_EQ(r.right, 0);
  EXPECT_EQ(r.bottom, 7);
  EXPECT_FALSE(GetClientRect(window, nullptr));
}

TEST_F(Windows, DestroyedAndUnknownHandlesAreRefused) {
  HWND second = vrt::CreateVirtualWindow(0, 0, 100, 50);
  ASSERT_NE(second, window);
  EXPECT_TRUE(IsWindow(second));
  vrt::DestroyVirtualWindow(second);
  EXPECT_FALSE(IsWindow(second));

  RECT r{1, 2, 3, 4};
  EXPECT_FALSE(GetClientRect(second, &r));
  EXPECT_EQ(r.right, 3);  // untouched
  EXPECT_FALSE(GetClientRect(reinterpret_cast<HWND>(0x1234), &r));
  EXPECT_FALSE(GetClientRect(nullptr, &r));
  EXPECT_FALSE(IsWindow(nullptr));
  EXPECT_EQ(GetLastError(), 1400u);  // ERROR_INVALID_WINDOW_HANDLE

  // The other window is unaffected; resizing a dead one changes nothing.
  vrt::ResizeVirtualWindow(second, 10, 10);
  EXPECT_FALSE(IsWindow(second));
  ASSERT_TRUE(GetClientRect(window, &r));
  EXPECT_EQ(r.right, 640);

  // A new window never reuses the dead one's handle.
  HWND third = vrt::CreateVirtualWindow(0, 0, 1, 1);
  EXPECT_NE(third, second);
  vrt::DestroyVirtualWindow(third);
}

TEST_F(Windows, DesktopIsAdapterZerosCurrentMode) {
  HWND desktop = GetDesktopWindow();
  EXPECT_TRUE(IsWindow(desktop));
  EXPECT_NE(desktop, window);
  RECT r{};
  ASSERT_TRUE(GetClientRect(desktop, &r));
  EXPECT_EQ(r.right, 1280);
  EXPECT_EQ(r.bottom, 720);

  vrt::AdapterConfig first = vrt::DefaultAdapter();
  first.currentMode = {1024, 768, 60, D3DFMT_R5G6B5};
  vrt::AdapterConfig second = vrt::DefaultAdapter();
  second.currentMode = {1920, 1080, 60, D3DFMT_X8R8G8B8};
  vrt::SetAdapters({first, second});
  ASSERT_TRUE(GetClientRect(GetDesktopWindow(), &r));
  EXPECT_EQ(r.right, 1024);
  EXPECT_EQ(r.bottom, 768);
}

// The C window calls: virtual windows through them, and a real window asked
// for with no display (or in a runtime built without SDL2) is refused with
// a reason, never a crash or an exit.
TEST_F(Windows, CWindowCallsAndRealWindowsWithoutADisplay) {
  HWND w = VrtCreateVirtualWindow(10, 20, 64, 48);
  RECT placed{};
  ASSERT_TRUE(VrtGetWindowPlacement(w, &placed));
  EXPECT_EQ(placed.left, 10);
  EXPECT_EQ(placed.bottom, 68);
  EXPECT_EQ(VrtPollWindow(w), 0);
  EXPECT_EQ(VrtGetSdlWindow(w), nullptr);
  VrtDestroyWindow(w);
  EXPECT_FALSE(IsWindow(w));
  EXPECT_FALSE(VrtGetWindowPlacement(w, &placed));

  const char* display = std::getenv("DISPLAY");
  const std::string saved = display ? display : "";
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  EXPECT_EQ(VrtCreateWindow("none", 64, 48, 1), nullptr);
  EXPECT_STRNE(VrtWindowError(), "");
  if (!saved.empty()) setenv("DISPLAY", saved.c_str(), 1);
}

}  // namespace
