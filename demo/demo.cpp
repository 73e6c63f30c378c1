// A small host: reports the display adapters and their modes, then opens a
// graphics device on a window, resets it to another size and closes it,
// printing what it did and the log lines the library wrote.
#include <pelto.h>
#include <vek/vek.h>

#include <cstdio>
#include <string>
#include <vector>

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
#else
#include <vekrt/runtime.h>
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
  std::vector<char> text(static_cast<size_t>(n) + 1);
  GetCapturedLog(text.data(), n + 1);
  std::printf("%s", text.data());
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

  HWND window = MakeWindow(640, 480);
  HVEKDEVICE device = VekOpenGraphicsDevice(0, window, 0, 1, 0, 0, 32, 0);
  PrintLibraryLog();
  if (!device) return ReportLastError("VekOpenGraphicsDevice");
  std::printf("opened a windowed device on a 640 x 480 window\n");
  std::printf("check: %d\n", VekCheckGraphicsDevice(device));
  const INT reset = VekResetGraphicsDevice(device, 1, 800, 600, 32, 0);
  std::printf("reset to 800 x 600: %d\n", reset);
  if (reset != 1) return ReportLastError("VekResetGraphicsDevice");
  std::printf("check: %d\n", VekCheckGraphicsDevice(device));
  std::printf("closed: %lu\n", static_cast<unsigned long>(VekCloseGraphicsDevice(device)));
  DropWindow(window);
  return 0;
}
