// Presenting to a real window (run it under an X server; with_xvfb.sh
// starts one): milliseconds per present of a frame through the library
// (VekBeginRender + VekEndRender of a drawn frame, vsync off) against SDL2's
// own cheapest way to show the same frame (copy into the window surface and
// update it), at 640 x 480 and 1280 x 720. The two take turns for nine
// rounds; medians and their ratio are printed.
#include <SDL.h>
#include <vek/vek.h>
#include <vekrt/window.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr int kRounds = 9;
constexpr int kPresents = 30;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double MsPerCall(int n, auto&& call) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < n; ++i) call();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
             .count() /
         n;
}

}  // namespace

int main() {
  const int sizes[][2] = {{640, 480}, {1280, 720}};
  std::printf("present to a real window, vsync off, ms per present (median of %d rounds)\n",
              kRounds);
  for (const auto& size : sizes) {
    const int w = size[0], h = size[1];
    HWND window = VrtCreateWindow("vek present", w, h, 0);
    if (!window) {
      std::fprintf(stderr, "no window: %s\n", VrtWindowError());
      return 1;
    }
    VrtSetWindowVsync(window, 0);
    HVEKDEVICE device = VekOpenGraphicsDevice(0, window, 0, 1, w, h, 32, 0);
    HVEKGRAPHICS g = device ? VekOpenGraphics(device) : nullptr;
    if (!g) return 1;
    SDL_Window* own = SDL_CreateWindow("sdl present", 0, 0, w, h, SDL_WINDOW_SHOWN);
    SDL_Surface* surface = own ? SDL_GetWindowSurface(own) : nullptr;
    if (!surface) return 1;
    std::vector<uint32_t> frame(static_cast<size_t>(w) * h);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint32_t>(i * 2654435761u);
    // The library's frame: cleared and a quad, drawn once per present.
    auto vek = [&] {
      VekBeginRender(g);
      VekClear(g, 0xFF204060);
      VekDrawQuad(g, 10, 10, 0.5f, 0xFFFF8000, 0, 0, 200, 10, 0.5f, 0xFFFF8000, 0, 0, 200, 200,
                  0.5f, 0xFFFF8000, 0, 0, 10, 200, 0.5f, 0xFFFF8000, 0, 0, DRAW_OPAQUE, nullptr);
      VekEndRender(g);
    };
    auto sdl = [&] {
      SDL_LockSurface(surface);
      for (int y = 0; y < h; ++y)
        std::memcpy(static_cast<uint8_t*>(surface->pixels) + static_cast<size_t>(y) * surface->pitch,
                    frame.data() + static_cast<size_t>(y) * w, static_cast<size_t>(w) * 4);
      SDL_UnlockSurface(surface);
      SDL_UpdateWindowSurface(own);
    };
    // The library's frame without presenting: what drawing it costs.
    HVEKGRAPHICS canvas = VekOpenTextureGraphics(device, w, h, 21);
    auto draw = [&] {
      VekBeginRender(canvas);
      VekClear(canvas, 0xFF204060);
      VekDrawQuad(canvas, 10, 10, 0.5f, 0xFFFF8000, 0, 0, 200, 10, 0.5f, 0xFFFF8000, 0, 0, 200,
                  200, 0.5f, 0xFFFF8000, 0, 0, 10, 200, 0.5f, 0xFFFF8000, 0, 0, DRAW_OPAQUE,
                  nullptr);
      VekEndRender(canvas);
    };
    vek();
    sdl();
    std::vector<double> a, b, c;
    for (int r = 0; r < kRounds; ++r) {
      a.push_back(MsPerCall(kPresents, vek));
      b.push_back(MsPerCall(kPresents, sdl));
      c.push_back(MsPerCall(kPresents, draw));
    }
    const double present = Median(a) - Median(c);
    std::printf("%5d x %-4d  vek frame %.2f (of which drawing %.2f, presenting %.2f)  SDL %.2f"
                "  present / SDL %.2f (target 1.2, goal 1.05)\n",
                w, h, Median(a), Median(c), present, Median(b), present / Median(b));
    VekCloseGraphics(canvas);
    VekCloseGraphics(g);
    VekCloseGraphicsDevice(device);
    VrtDestroyWindow(window);
    SDL_DestroyWindow(own);
  }
  return 0;
}
