// A small host: reports the display adapters and their modes, opens a
// graphics device on a window, draws the demo scene (demo/scene.h) and saves
// it as vek-demo.png (POSIX build; the Windows build presents it in its
// window), resets the device to another size and closes it, printing what it
// did and the log lines the library wrote.
//
// With --window (POSIX, a runtime built with SDL2) it runs the scene live in
// a real window instead, the particles moving on the clock, printing its
// frame rate once a second until Escape, the window's close button or
// --seconds N; --no-vsync presents without waiting for the display.
#include <pelto.h>
#include <vek/vek.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
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
#include <vekrt/window.h>
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

static constexpr int kAnimationFrames = 8;

#ifndef _WIN32
// The live scene in a real window; 0 when it ran and ended normally.
static int RunLive(double seconds, bool vsync) {
  HWND window = VrtCreateWindow("vek demo", kDemoWidth, kDemoHeight, 1);
  if (!window) {
    std::fprintf(stderr, "vek-demo: no window: %s\n", VrtWindowError());
    return 1;
  }
  VrtSetWindowVsync(window, vsync ? 1 : 0);
  HVEKDEVICE device = VekOpenGraphicsDevice(0, window, 0, 1, kDemoWidth, kDemoHeight, 32, 0);
  if (!device) {
    VrtDestroyWindow(window);
    return ReportLastError("VekOpenGraphicsDevice");
  }
  std::unique_ptr<DemoScene> scene = OpenDemoScene(device);
  int result = scene ? 0 : 1;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  Clock::time_point second = start;
  int frames = 0, total = 0;
  while (scene) {
    const int news = VrtPollWindow(window);
    if (news & (VRT_WINDOW_CLOSED | VRT_WINDOW_ESCAPE)) break;
    const Clock::time_point now = Clock::now();
    const double elapsed = std::chrono::duration<double>(now - start).count();
    if (seconds > 0 && elapsed >= seconds) break;
    // The back buffer keeps the scene's size; a resized window shows it
    // stretched, as Direct3D 8 does in windowed mode.
    if (VekCheckGraphicsDevice(device) != 1) continue;
    if (!DrawDemoFrame(scene.get(), kDemoParticleTime + static_cast<ULONGLONG>(elapsed * 1000))) {
      result = 1;
      break;
    }
    ++frames;
    ++total;
    if (now - second >= std::chrono::seconds(1)) {
      const double span = std::chrono::duration<double>(now - second).count();
      std::printf("%.1f frames a second\n", frames / span);
      std::fflush(stdout);
      frames = 0;
      second = now;
    }
  }
  const double ran = std::chrono::duration<double>(Clock::now() - start).count();
  if (total > 0)
    std::printf("%d frames in %.1f s: %.1f frames a second\n", total, ran, total / ran);
  scene.reset();
  VekCloseGraphicsDevice(device);
  VrtDestroyWindow(window);
  return result;
}
#endif

int main(int argc, char** argv) {
  bool live = false, vsync = true;
  double seconds = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--window") == 0) {
      live = true;
    } else if (std::strcmp(argv[i], "--no-vsync") == 0) {
      vsync = false;
    } else if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
      seconds = std::atof(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: %s [--window [--seconds N] [--no-vsync]]\n", argv[0]);
      return 2;
    }
  }
  if (live) {
#ifdef _WIN32
    (void)seconds;
    (void)vsync;
    std::fprintf(stderr,
                 "vek-demo: --window is for the POSIX build; this one presents in its window\n");
    return 2;
#else
    return RunLive(seconds, vsync);
#endif
  }
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
  if (SaveScene(window, scenePath)) {
    std::printf("drew the scene and saved it as %s\n", scenePath);
    // The particles moving: a tenth of a second apart.
    int saved = 0;
    for (int i = 0; i < kAnimationFrames; ++i) {
      char path[64];
      std::snprintf(path, sizeof path, "vek-demo-particles-%02d.png", i + 1);
      if (DrawDemoScene(device, kDemoParticleTime + 100ull * i) && SaveScene(window, path)) ++saved;
    }
    std::printf("saved %d animation frames as vek-demo-particles-NN.png\n", saved);
  } else {
    std::printf("drew the scene (presented in the window)\n");
  }
  std::printf("closed: %lu\n", static_cast<unsigned long>(VekCloseGraphicsDevice(device)));
  DropWindow(window);
  return 0;
}
