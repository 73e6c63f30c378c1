// user32 services over virtual windows on a virtual desktop.
#include <map>
#include <mutex>
#include <vector>

#include <vekrt/window.h>

#include "control.h"
#include "desktop.h"
#include "real_windows.h"

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
  // A real window's size and place are the screen's, whoever changed them.
  real::Refresh(window, &it->second);
  *out = it->second;
  return true;
}

struct Pixels {
  std::mutex mutex;
  std::vector<uint32_t> store;
  SIZE size{0, 0};
};

Pixels& ThePixels() {
  static Pixels* pixels = new Pixels;
  return *pixels;
}

uint32_t* LockPixels(SIZE* size) {
  Pixels& p = ThePixels();
  p.mutex.lock();
  const SIZE now = DesktopSize();
  if (now.cx != p.size.cx || now.cy != p.size.cy || p.store.empty()) {
    p.size = SIZE{now.cx > 0 ? now.cx : 0, now.cy > 0 ? now.cy : 0};
    p.store.assign(static_cast<size_t>(p.size.cx) * static_cast<size_t>(p.size.cy) + 1, 0u);
  }
  *size = p.size;
  return p.store.data();
}

void UnlockPixels() { ThePixels().mutex.unlock(); }

void ResetPixels() {
  Pixels& p = ThePixels();
  std::lock_guard<std::mutex> lock(p.mutex);
  p.store.clear();
  p.store.shrink_to_fit();
  p.size = SIZE{0, 0};
}

}  // namespace desktop

SIZE DesktopSize() { return desktop::DesktopSize(); }

bool ReadDesktopPixels(const RECT& rect, std::vector<uint32_t>* out) {
  if (!out || rect.left >= rect.right || rect.top >= rect.bottom) return false;
  const int64_t w = int64_t{rect.right} - rect.left, h = int64_t{rect.bottom} - rect.top;
  if (w * h > (int64_t{1} << 28)) return false;
  out->assign(static_cast<size_t>(w * h), 0u);
  SIZE size;
  const uint32_t* pixels = desktop::LockPixels(&size);
  for (int64_t y = 0; y < h; ++y) {
    const int64_t dy = rect.top + y;
    if (dy < 0 || dy >= size.cy) continue;
    for (int64_t x = 0; x < w; ++x) {
      const int64_t dx = rect.left + x;
      if (dx >= 0 && dx < size.cx) (*out)[static_cast<size_t>(y * w + x)] = pixels[dy * size.cx + dx];
    }
  }
  desktop::UnlockPixels();
  return true;
}

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

HWND VrtCreateVirtualWindow(int x, int y, int clientWidth, int clientHeight) {
  return vrt::CreateVirtualWindow(x, y, clientWidth, clientHeight);
}

void VrtResizeVirtualWindow(HWND window, int clientWidth, int clientHeight) {
  vrt::ResizeVirtualWindow(window, clientWidth, clientHeight);
}

void VrtDestroyVirtualWindow(HWND window) { vrt::DestroyVirtualWindow(window); }

BOOL VrtGetWindowPlacement(HWND window, RECT* desktop) {
  vrt::desktop::Placement p;
  if (!desktop || !vrt::desktop::Lookup(window, &p)) return FALSE;
  *desktop = RECT{p.x, p.y, p.x + p.width, p.y + p.height};
  return TRUE;
}

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
