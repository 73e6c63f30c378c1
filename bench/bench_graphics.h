// The library opened as the library-side benchmarks use it: a device and
// its graphics on a 1280 x 720 virtual window, the software device taking
// every call but drawing no pixels, so the figures are the library's own.
#pragma once

#include <vek/vek.h>
#include <vekrt/runtime.h>

#include <cstdio>

class BenchGraphics {
 public:
  BenchGraphics() {
    window = vrt::CreateVirtualWindow(0, 0, 1280, 720);
    device = VekOpenGraphicsDevice(0, window, 0, 1, 0, 0, 32, 0);
    g = device ? VekOpenGraphics(device) : nullptr;
    if (!g) std::fprintf(stderr, "cannot open the device\n");
    vrt::SetRasterization(false);
  }
  ~BenchGraphics() {
    if (g) VekCloseGraphics(g);
    if (device) VekCloseGraphicsDevice(device);
    vrt::DestroyVirtualWindow(window);
  }
  BenchGraphics(const BenchGraphics&) = delete;
  BenchGraphics& operator=(const BenchGraphics&) = delete;

  HWND window = nullptr;
  HVEKDEVICE device = nullptr;
  HVEKGRAPHICS g = nullptr;
};
