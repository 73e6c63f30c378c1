// Real windows through SDL2. A real window is a virtual window (a handle and
// a placement on the virtual desktop) plus an SDL window that Present shows
// frames in: through the window surface when frames need not wait for the
// display, through an SDL renderer with vsync when they do. Built without
// SDL2, every entry point fails with a message instead.
#include "real_windows.h"

#include <vekrt/runtime.h>
#include <vekrt/window.h>

#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#ifdef VEKRT_HAS_SDL2
#include <SDL.h>
#endif

namespace {

thread_local std::string lastError;

void Fail(std::string why) { lastError = std::move(why); }

#ifdef VEKRT_HAS_SDL2

struct RealWindow {
  SDL_Window* sdl = nullptr;
  bool owned = false;  // made here: destroyed here, its events handled here
  bool vsync = true;
  bool closed = false;
  int news = 0;                      // VRT_WINDOW_* bits not yet polled
  SDL_Renderer* renderer = nullptr;  // the vsync path
  SDL_Texture* texture = nullptr;
  int textureW = 0, textureH = 0;
};

struct Registry {
  std::mutex mutex;
  std::map<HWND, RealWindow> windows;
};

Registry& TheRegistry() {
  static auto* registry = new Registry;
  return *registry;
}

// Video is started with the first window made here and stays started for
// the life of the process: stopping it would unload SDL's display libraries
// with their allocations (leak checkers then see those as lost), and
// starting it again for every window costs tens of milliseconds.
bool videoStarted = false;

bool StartVideo() {
  if (videoStarted) return true;
  // Interrupts keep their usual meaning: SDL would turn them into SDL_QUIT.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    Fail(std::string("no display: ") + SDL_GetError());
    return false;
  }
  // Without a display SDL may still start a driver that shows nothing (an
  // offscreen one, a console one): unless the host chose the driver itself
  // (SDL_VIDEODRIVER), only X11 and Wayland count as a display.
  const char* driver = SDL_GetCurrentVideoDriver();
  const char* chosen = SDL_getenv("SDL_VIDEODRIVER");
  if (!chosen || !*chosen) {
    const std::string name = driver ? driver : "";
    if (name != "x11" && name != "wayland") {
      SDL_QuitSubSystem(SDL_INIT_VIDEO);
      Fail("no display: neither X11 nor Wayland is available (SDL found only '" + name + "')");
      return false;
    }
  }
  videoStarted = true;
  return true;
}

HWND Register(SDL_Window* sdl, bool owned) {
  int x = 0, y = 0, w = 0, h = 0;
  SDL_GetWindowPosition(sdl, &x, &y);
  SDL_GetWindowSize(sdl, &w, &h);
  HWND handle = vrt::CreateVirtualWindow(x, y, w, h);
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  RealWindow& window = r.windows[handle];
  window.sdl = sdl;
  window.owned = owned;
  return handle;
}

void DropRenderer(RealWindow& w) {
  if (w.texture) SDL_DestroyTexture(w.texture);
  if (w.renderer) SDL_DestroyRenderer(w.renderer);
  w.texture = nullptr;
  w.renderer = nullptr;
}

// The frame through the window surface: one copy (or a nearest-pixel
// stretch) into the surface, then SDL hands it to the display server.
void ShowOnSurface(RealWindow& w, const uint32_t* pixels, int width, int height, int stride) {
  SDL_Surface* surface = SDL_GetWindowSurface(w.sdl);
  if (!surface || SDL_LockSurface(surface) != 0) return;
  const bool direct =
      surface->format->BytesPerPixel == 4 && (surface->format->format == SDL_PIXELFORMAT_RGB888 ||
                                              surface->format->format == SDL_PIXELFORMAT_ARGB8888);
  std::vector<uint32_t> row;
  for (int y = 0; y < surface->h; ++y) {
    const uint32_t* src = pixels + static_cast<size_t>(y * height / surface->h) * stride;
    auto* dst =
        reinterpret_cast<uint8_t*>(surface->pixels) + static_cast<size_t>(y) * surface->pitch;
    const uint32_t* line = src;
    if (surface->w != width) {
      row.resize(static_cast<size_t>(surface->w));
      for (int x = 0; x < surface->w; ++x) row[x] = src[x * width / surface->w];
      line = row.data();
    }
    if (direct)
      std::memcpy(dst, line, static_cast<size_t>(surface->w) * 4);
    else
      SDL_ConvertPixels(surface->w, 1, SDL_PIXELFORMAT_RGB888, line, surface->w * 4,
                        surface->format->format, dst, surface->pitch);
  }
  SDL_UnlockSurface(surface);
  SDL_UpdateWindowSurface(w.sdl);
}

// The frame through a renderer that waits for the display's refresh; false
// when the window has no such renderer (the surface path is taken instead).
bool ShowWithVsync(RealWindow& w, const uint32_t* pixels, int width, int height, int stride) {
  if (!w.renderer) {
    w.renderer = SDL_CreateRenderer(w.sdl, -1, SDL_RENDERER_PRESENTVSYNC);
    if (!w.renderer) return false;
  }
  if (!w.texture || w.textureW != width || w.textureH != height) {
    if (w.texture) SDL_DestroyTexture(w.texture);
    w.texture = SDL_CreateTexture(w.renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING,
                                  width, height);
    w.textureW = width;
    w.textureH = height;
    if (!w.texture) return false;
  }
  SDL_UpdateTexture(w.texture, nullptr, pixels, stride * 4);
  SDL_RenderCopy(w.renderer, w.texture, nullptr, nullptr);  // stretched to the window
  SDL_RenderPresent(w.renderer);
  return true;
}

#endif  // VEKRT_HAS_SDL2

}  // namespace

namespace vrt::real {

#ifdef VEKRT_HAS_SDL2

bool IsReal(HWND window) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  return r.windows.count(window) != 0;
}

bool Refresh(HWND window, desktop::Placement* placement) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = r.windows.find(window);
  if (it == r.windows.end()) return false;
  SDL_GetWindowPosition(it->second.sdl, &placement->x, &placement->y);
  SDL_GetWindowSize(it->second.sdl, &placement->width, &placement->height);
  return true;
}

void Show(HWND window, const uint32_t* pixels, int width, int height, int stride, DWORD interval) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = r.windows.find(window);
  if (it == r.windows.end() || it->second.closed || width <= 0 || height <= 0) return;
  RealWindow& w = it->second;
  const bool vsync = w.vsync && interval != D3DPRESENT_INTERVAL_IMMEDIATE;
  if (vsync && ShowWithVsync(w, pixels, width, height, stride)) return;
  DropRenderer(w);  // a window shows through a renderer or its surface, not both
  ShowOnSurface(w, pixels, width, height, stride);
}

#else

bool IsReal(HWND) { return false; }
bool Refresh(HWND, desktop::Placement*) { return false; }
void Show(HWND, const uint32_t*, int, int, int, DWORD) {}

#endif

}  // namespace vrt::real

extern "C" {

const char* VrtWindowError(void) { return lastError.c_str(); }

#ifdef VEKRT_HAS_SDL2

HWND VrtCreateWindow(const char* title, int clientWidth, int clientHeight, int resizable) {
  if (clientWidth < 1 || clientHeight < 1) {
    Fail("a window needs a client size of at least 1 x 1");
    return nullptr;
  }
  if (!StartVideo()) return nullptr;
  SDL_Window* sdl = SDL_CreateWindow(title ? title : "", SDL_WINDOWPOS_UNDEFINED,
                                     SDL_WINDOWPOS_UNDEFINED, clientWidth, clientHeight,
                                     SDL_WINDOW_SHOWN | (resizable ? SDL_WINDOW_RESIZABLE : 0));
  if (!sdl) {
    Fail(std::string("the window was not made: ") + SDL_GetError());
    return nullptr;
  }
  // Frames shown before the display server has exposed the window are lost:
  // wait (a second at most) until it has.
  const Uint32 id = SDL_GetWindowID(sdl);
  for (int i = 0; i < 200; ++i) {
    SDL_PumpEvents();
    SDL_Event events[32];
    const int n = SDL_PeepEvents(events, 32, SDL_PEEKEVENT, SDL_WINDOWEVENT, SDL_WINDOWEVENT);
    bool exposed = false;
    for (int k = 0; k < n; ++k)
      exposed = exposed || (events[k].window.windowID == id &&
                            events[k].window.event == SDL_WINDOWEVENT_EXPOSED);
    if (exposed) break;
    SDL_Delay(5);
  }
  lastError.clear();
  return Register(sdl, true);
}

HWND VrtAdoptSdlWindow(void* sdlWindow) {
  if (!sdlWindow) {
    Fail("no SDL window given");
    return nullptr;
  }
  lastError.clear();
  return Register(static_cast<SDL_Window*>(sdlWindow), false);
}

void VrtDestroyWindow(HWND window) {
  Registry& r = TheRegistry();
  RealWindow w;
  bool real = false;
  {
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.windows.find(window);
    if (it != r.windows.end()) {
      w = it->second;
      r.windows.erase(it);
      real = true;
    }
  }
  vrt::DestroyVirtualWindow(window);
  if (!real) return;
  DropRenderer(w);
  if (w.owned) SDL_DestroyWindow(w.sdl);
}

void VrtSetWindowVsync(HWND window, int on) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = r.windows.find(window);
  if (it != r.windows.end()) it->second.vsync = on != 0;
}

void* VrtGetSdlWindow(HWND window) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = r.windows.find(window);
  return it == r.windows.end() ? nullptr : it->second.sdl;
}

int VrtPollWindow(HWND window) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto find = [&](Uint32 id) -> RealWindow* {
    for (auto& [handle, w] : r.windows)
      if (w.owned && SDL_GetWindowID(w.sdl) == id) return &w;
    return nullptr;
  };
  SDL_Event e;
  while (SDL_PollEvent(&e)) {
    if (e.type == SDL_WINDOWEVENT) {
      RealWindow* w = find(e.window.windowID);
      if (!w) continue;
      if (e.window.event == SDL_WINDOWEVENT_CLOSE) {
        w->closed = true;
        w->news |= VRT_WINDOW_CLOSED;
        SDL_HideWindow(w->sdl);
      } else if (e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
        w->news |= VRT_WINDOW_RESIZED;
      }
    } else if (e.type == SDL_KEYDOWN && e.key.keysym.sym == SDLK_ESCAPE) {
      if (RealWindow* w = find(e.key.windowID)) w->news |= VRT_WINDOW_ESCAPE;
    } else if (e.type == SDL_QUIT) {
      // The last window closed: SDL's own way of saying so, never an exit.
      for (auto& [handle, w] : r.windows)
        if (w.owned && !w.closed) {
          w.closed = true;
          w.news |= VRT_WINDOW_CLOSED;
        }
    }
  }
  auto it = r.windows.find(window);
  if (it == r.windows.end()) return 0;
  const int news = it->second.news | (it->second.closed ? VRT_WINDOW_CLOSED : 0);
  it->second.news = 0;
  return news;
}

#else

HWND VrtCreateWindow(const char*, int, int, int) {
  Fail("this runtime was built without SDL2: no real windows");
  return nullptr;
}

HWND VrtAdoptSdlWindow(void*) {
  Fail("this runtime was built without SDL2: no real windows");
  return nullptr;
}

void VrtDestroyWindow(HWND window) { vrt::DestroyVirtualWindow(window); }
void VrtSetWindowVsync(HWND, int) {}
void* VrtGetSdlWindow(HWND) { return nullptr; }
int VrtPollWindow(HWND) { return 0; }

#endif

}  // extern "C"
