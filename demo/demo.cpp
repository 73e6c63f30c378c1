// A small host: reports the display adapters and their modes, opens a
// graphics device on a window, draws the demo scene (demo/scene.h) and saves
// it as vek-demo.png (POSIX build; the Windows build presents it in its
// window), resets the device to another size and closes it, printing what it
// did and the log lines the library wrote.
#include <pelto.h>
#include <vek/vek.h>

#include <cstdio>
#include <string>
#include <vector>

#include "scene.h"

#ifdef _WIN32
static HWND MakeWindow(int width, int height) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"vekdemo";
  RegisterClassW(&wc);
  RECT r{0, 0, width, height};
  AdjustWindowRect(&r, WS_OVERLAPPEDWINDOW, FALSE);
  return CreateWindowExW(0, L"vekdemo", L"vek demo", WS_OVERLAPPEDWINDOW, 0, 0, r.right - r.left,
                         r.bottom - r.top, nullptr, nullptr, wc.hInstance, nullptr);
}
static void DropWindow(HWND window) { DestroyWindow(window); }
static bool SaveScene(HWND, const char*) { return false; }
#else
#include <vekrt/png.h>
#include <vekrt/runtime.h>
// The presented frame as it stands in the window on the virtual desktop.
static bool SaveScene(HWND window, const char* path) { return vrt::WriteWindowPng(window, path); }
static HWND MakeWindow(int width, int height) {
  return vrt::CreateVirtualWindow(0, 0, width, height);
}
static void DropWindow(HWND window) { vrt::DestroyVirtualWindow(window); }
#endif

static std::string Text(UINT(VEKAPI* query)(UINT, char*), UINT adapter) {
  std::string text(query(adapter, nullptr), '\0');
  query(adapter, text.data());
  return text;
}

static void PrintMode(ULONGLONG mode) {
  std::printf("%5u x %-5u %2u bpp %3u Hz", static_cast<unsigned>(mode & 0xFFFF),
              static_cast<unsigned>(mode >> 16 & 0xFFFF), static_cast<unsigned>(mode >> 32 & 0xFF),
              static_cast<unsigned>(mode >> 40));
}

static void PrintLibraryLog() {
  const int n = GetCapturedLog(nullptr, 0);
  if (n > 0) {
    std::vector<char> text(static_cast<size_t>(n) + 1);
    GetCapturedLog(text.data(), n + 1);
    std::fputs(text.data(), stdout);
  }
  SetLogCapture(TRUE);
}

static int ReportLastError(const char* what) {
  ErrorRecord e{};
  ReadLastError(&e);
  std::printf("%s failed: error %d, detail 0x%08X\n", what, static_cast<int>(e.code),
              static_cast<unsigned>(e.detail));
  return 1;
}

int main() {
  SetLogCapture(TRUE);
  const UINT adapters = VekListDisplayDevices();
  std::printf("library log:\n");
  PrintLibraryLog();
  std::printf("%u display adapter(s)\n", adapters);
  for (UINT a = 0; a < adapters; ++a) {
    DWORD v[4] = {};
    VekGetDeviceDriverVersion(a, v);
    std::printf("adapter %u: %s\n  driver %s, version %u.%u.%u.%u\n", a,
                Text(VekGetDeviceName, a).c_str(), Text(VekGetDeviceDriver, a).c_str(),
                static_cast<unsigned>(v[0]), static_cast<unsigned>(v[1]),
                static_cast<unsigned>(v[2]), static_cast<unsigned>(v[3]));
    const UINT count = VekGetDisplayModeCount(a);
    ULONGLONG* modes = VekListDisplayModes(a);
    std::printf("  %u display mode(s)\n", count);
    for (UINT i = 0; modes && i < count; ++i) {
      std::printf("    ");
      PrintMode(modes[i]);
      std::printf("\n");
    }
    VekFree(modes);
  }
  std::printf("current mode: ");
  PrintMode(VekGetCurrentDisplayMode());
  std::printf("\n");

  HWND window = MakeWindow(kDemoWidth, kDemoHeight);
  HVEKDEVICE device = VekOpenGraphicsDevice(0, window, 0, 1, 0, 0, 32, 0);
  PrintLibraryLog();
  if (!device) return ReportLastError("VekOpenGraphicsDevice");
  std::printf("opened a windowed device on a %d x %d window\n", kDemoWidth, kDemoHeight);
  std::printf("check: %d\n", VekCheckGraphicsDevice(device));
  // Resets to another size and back, before the scene opens its surfaces.
  const int sizes[][2] = {{800, 600}, {kDemoWidth, kDemoHeight}};
  for (const auto& size : sizes) {
    const INT reset = VekResetGraphicsDevice(device, 1, size[0], size[1], 32, 0);
    std::printf("reset to %d x %d: %d\n", size[0], size[1], reset);
    if (reset != 1) {
      ReportLastError("VekResetGraphicsDevice");
      VekCloseGraphicsDevice(device);
      DropWindow(window);
      return 1;
    }
    std::printf("check: %d\n", VekCheckGraphicsDevice(device));
  }
  if (!DrawDemoScene(device)) {
    ReportLastError("the demo scene");
    VekCloseGraphicsDevice(device);
    DropWindow(window);
    return 1;
  }
  const char* scenePath = "vek-demo.png";
  if (SaveScene(window, scenePath))
    std::printf("drew the scene and saved it as %s\n", scenePath);
  else
    std::printf("drew the scene (presented in the window)\n");
  std::printf("closed: %lu\n", static_cast<unsigned long>(VekCloseGraphicsDevice(device)));
  DropWindow(window);
  return 0;
}
