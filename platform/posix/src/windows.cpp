// user32 services over virtual windows on a virtual desktop.
#include <map>
#include <mutex>

#include "control.h"
#include "desktop.h"

namespace {

constexpr DWORD kErrorInvalidWindowHandle = 1400;
constexpr DWORD kErrorInvalidParameter = 87;

// Handles are numbers handed out once and never dereferenced; the desktop's
// is fixed and below every window's.
constexpr uintptr_t kDesktopHandle = 0x10010;
constexpr uintptr_t kFirstWindowHandle = 0x20000;
constexpr uintptr_t kHandleStep = 0x10;

struct Windows {
  std::mutex mutex;
  std::map<HWND, vrt::desktop::Placement> live;
  uintptr_t next = kFirstWindowHandle;
};

Windows& TheWindows() {
  static Windows* windows = new Windows;
  return *windows;
}

int NonNegative(int v) { return v < 0 ? 0 : v; }

}  // namespace

namespace vrt {

namespace desktop {

HWND DesktopHandle() { return reinterpret_cast<HWND>(kDesktopHandle); }

SIZE DesktopSize() {
  const D3DDISPLAYMODE mode = internal::CurrentModeOfAdapter0();
  return SIZE{static_cast<LONG>(mode.Width), static_cast<LONG>(mode.Height)};
}

bool Lookup(HWND window, Placement* out) {
  if (window == DesktopHandle()) {
    const SIZE size = DesktopSize();
    *out = Placement{0, 0, static_cast<int>(size.cx), static_cast<int>(size.cy)};
    return true;
  }
  Windows& w = TheWindows();
  std::lock_guard<std::mutex> lock(w.mutex);
  auto it = w.live.find(window);
  if (it == w.live.end()) return false;
  *out = it->second;
  return true;
}

}  // namespace desktop

HWND CreateVirtualWindow(int x, int y, int clientWidth, int clientHeight) {
  Windows& w = TheWindows();
  std::lock_guard<std::mutex> lock(w.mutex);
  HWND handle = reinterpret_cast<HWND>(w.next);
  w.next += kHandleStep;
  w.live[handle] = desktop::Placement{x, y, NonNegative(clientWidth), NonNegative(clientHeight)};
  return handle;
}

void ResizeVirtualWindow(HWND window, int clientWidth, int clientHeight) {
  Windows& w = TheWindows();
  std::lock_guard<std::mutex> lock(w.mutex);
  auto it = w.live.find(window);
  if (it == w.live.end()) return;
  it->second.width = NonNegative(clientWidth);
  it->second.height = NonNegative(clientHeight);
}

void DestroyVirtualWindow(HWND window) {
  Windows& w = TheWindows();
  std::lock_guard<std::mutex> lock(w.mutex);
  w.live.erase(window);
}

}  // namespace vrt

extern "C" {

BOOL GetClientRect(HWND window, LPRECT rect) {
  vrt::desktop::Placement p;
  if (!rect) {
    SetLastError(kErrorInvalidParameter);
    return FALSE;
  }
  if (!vrt::desktop::Lookup(window, &p)) {
    SetLastError(kErrorInvalidWindowHandle);
    return FALSE;
  }
  *rect = RECT{0, 0, p.width, p.height};
  return TRUE;
}

BOOL IsWindow(HWND window) {
  vrt::desktop::Placement p;
  return vrt::desktop::Lookup(window, &p) ? TRUE : FALSE;
}

HWND GetDesktopWindow(void) { return vrt::desktop::DesktopHandle(); }

}  // extern "C"
