// Real windows under Xvfb (tests/window/with_xvfb.sh starts one): frames
// presented through the library show on the X display exactly as the
// runtime saved them, a resize reaches the host and a reset presents at the
// new size, a window the host made with SDL is taken over, closing is
// reported, and without a display asking for a window fails cleanly.
#include <gtest/gtest.h>

// After GoogleTest: X11's headers define None, Bool and Status as macros.
#include <SDL.h>
#include <SDL_syswm.h>
#undef None
#undef Bool
#undef Status

#include <vek/vek.h>
#include <vekrt/runtime.h>
#include <vekrt/window.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

uint32_t Be32(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint32_t>(b[at]) << 24 | b[at + 1] << 16 | b[at + 2] << 8 | b[at + 3];
}

// The pixels of the SDL window's X window as 0x00RRGGBB, taken with xwd
// as any X tool sees them; empty when xwd gives nothing readable.
std::vector<uint32_t> Screenshot(SDL_Window* sdl) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!SDL_GetWindowWMInfo(sdl, &info) || info.subsystem != SDL_SYSWM_X11) return {};
  int w = 0, h = 0;
  SDL_GetWindowSize(sdl, &w, &h);
  const RECT rect{0, 0, w, h};
  char command[64];
  std::snprintf(command, sizeof command, "xwd -silent -id %lu",
                static_cast<unsigned long>(info.info.x11.window));
  std::vector<uint8_t> b;
  if (FILE* p = popen(command, "r")) {
    uint8_t chunk[65536];
    for (size_t n; (n = fread(chunk, 1, sizeof chunk, p)) > 0;) b.insert(b.end(), chunk, chunk + n);
    pclose(p);
  }
  std::vector<uint32_t> out;
  if (b.size() < 100) return out;
  // The header: big-endian words, then the window name, the colour map (12
  // bytes an entry) and the rows.
  const uint32_t headerSize = Be32(b, 0), width = Be32(b, 16), height = Be32(b, 20);
  const uint32_t byteOrder = Be32(b, 28), bitsPerPixel = Be32(b, 44);
  const uint32_t bytesPerLine = Be32(b, 48), colours = Be32(b, 76);
  // Pixels of 3 or 4 bytes (xwd may call a 4-byte pixel 24 bits deep).
  const uint32_t bytes = width ? bytesPerLine / width : 0;
  if ((bytes != 3 && bytes != 4) || bitsPerPixel < 24) return out;
  const size_t data = headerSize + static_cast<size_t>(colours) * 12;
  for (LONG y = rect.top; y < rect.bottom; ++y)
    for (LONG x = rect.left; x < rect.right; ++x) {
      if (x < 0 || y < 0 || static_cast<uint32_t>(x) >= width || static_cast<uint32_t>(y) >= height)
        return {};
      const size_t at =
          data + static_cast<size_t>(y) * bytesPerLine + static_cast<size_t>(x) * bytes;
      if (at + bytes > b.size()) return {};
      const size_t low = byteOrder == 0 ? at : at + bytes - 1;  // the blue byte
      const int step = byteOrder == 0 ? 1 : -1;
      out.push_back(static_cast<uint32_t>(b[low] | b[low + step] << 8 | b[low + 2 * step] << 16));
    }
  return out;
}

class WindowTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (device) VekCloseGraphicsDevice(device);
    if (window) VrtDestroyWindow(window);
    EXPECT_EQ(vrt::LiveObjectCount(), 0);
  }
  void Open(int w, int h, bool vsync = false) {
    window = VrtCreateWindow("vek test", w, h, 1);
    ASSERT_NE(window, nullptr) << VrtWindowError();
    VrtSetWindowVsync(window, vsync ? 1 : 0);
    device = VekOpenGraphicsDevice(0, window, 0, 1, 0, 0, 32, 0);
    ASSERT_NE(device, nullptr);
  }
  // A frame whose pixels differ from their neighbours', presented.
  void DrawFrame(int w, int h) {
    HVEKGRAPHICS g = VekOpenGraphics(device);
    ASSERT_NE(g, nullptr);
    ASSERT_GE(VekBeginRender(g), 0);
    VekClear(g, 0xFF102030);
    const float fw = static_cast<float>(w) - 4, fh = static_cast<float>(h) - 4;
    VekDrawQuad(g, 4, 4, 0.5f, 0xFFFF0000, 0, 0, fw, 4, 0.5f, 0xFF00FF00, 0, 0, fw, fh, 0.5f,
                0xFF0000FF, 0, 0, 4, fh, 0.5f, 0xFFFFFFFF, 0, 0, DRAW_OPAQUE, nullptr);
    VekDrawLine(g, 6, 8.5f, 0.5f, 0xFF000000, fw, 8.5f, 0.5f, 0xFF000000, 0);
    ASSERT_GE(VekEndRender(g), 0);
    VekCloseGraphics(g);
  }
  // What the X screen shows of the window equals what the runtime saved of
  // it (the desktop screen capture reads).
  void ExpectShownAsSaved(int w, int h) {
    RECT client{}, place{};
    ASSERT_TRUE(GetClientRect(window, &client));
    EXPECT_EQ(client.right, w);
    EXPECT_EQ(client.bottom, h);
    ASSERT_TRUE(VrtGetWindowPlacement(window, &place));
    std::vector<uint32_t> saved;
    ASSERT_TRUE(vrt::ReadDesktopPixels(place, &saved));
    SDL_Delay(100);  // the X server takes the image asynchronously
    const std::vector<uint32_t> shown =
        Screenshot(static_cast<SDL_Window*>(VrtGetSdlWindow(window)));
    ASSERT_EQ(shown.size(), saved.size());
    size_t differ = 0;
    for (size_t i = 0; i < shown.size(); ++i) differ += shown[i] != saved[i];
    EXPECT_EQ(differ, 0u) << "of " << shown.size() << " pixels";
    EXPECT_EQ(saved[static_cast<size_t>(h / 2) * w + w / 2] != 0x102030u, true);
  }

  HWND window = nullptr;
  HVEKDEVICE device = nullptr;
};

// First, before any window: with no display the request fails with a
// message, and nothing else happens.
TEST(NoDisplayTest, AskingForAWindowFailsClearly) {
  const char* display = std::getenv("DISPLAY");
  const std::string saved = display ? display : "";
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  EXPECT_EQ(VrtCreateWindow("no display", 64, 48, 0), nullptr);
  EXPECT_NE(std::string(VrtWindowError()).find("no display"), std::string::npos)
      << VrtWindowError();
  EXPECT_EQ(VrtCreateWindow("too small", 0, 48, 0), nullptr);
  EXPECT_EQ(VrtAdoptSdlWindow(nullptr), nullptr);
  if (!saved.empty()) setenv("DISPLAY", saved.c_str(), 1);
}

TEST_F(WindowTest, APresentedFrameShowsAsSaved) {
  Open(160, 120);
  DrawFrame(160, 120);
  ExpectShownAsSaved(160, 120);
}

TEST_F(WindowTest, WithVsyncTheFrameShowsAsWell) {
  Open(96, 64, true);
  DrawFrame(96, 64);
  ExpectShownAsSaved(96, 64);
}

// The host hears of the resize, resets the device at the new size (Direct3D
// 8 hosts do), and the next frame fills the new client area.
TEST_F(WindowTest, AResizeThenAResetPresentsAtTheNewSize) {
  Open(120, 90);
  DrawFrame(120, 90);
  VrtPollWindow(window);
  SDL_SetWindowSize(static_cast<SDL_Window*>(VrtGetSdlWindow(window)), 200, 150);
  int news = 0;
  for (int i = 0; i < 50 && !(news & VRT_WINDOW_RESIZED); ++i) {
    SDL_Delay(10);
    news |= VrtPollWindow(window);
  }
  EXPECT_TRUE(news & VRT_WINDOW_RESIZED);
  RECT client{};
  ASSERT_TRUE(GetClientRect(window, &client));
  ASSERT_EQ(client.right, 200);
  ASSERT_EQ(client.bottom, 150);
  ASSERT_EQ(VekResetGraphicsDevice(device, 1, 0, 0, 32, 0), 1);
  DrawFrame(200, 150);
  ExpectShownAsSaved(200, 150);
}

// A host that keeps its own SDL window and event loop hands it over.
TEST_F(WindowTest, AWindowMadeWithSdlIsTakenOver) {
  ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0) << SDL_GetError();
  SDL_Window* sdl = SDL_CreateWindow("host's", 30, 20, 128, 80, SDL_WINDOW_SHOWN);
  ASSERT_NE(sdl, nullptr);
  window = VrtAdoptSdlWindow(sdl);
  ASSERT_NE(window, nullptr);
  VrtSetWindowVsync(window, 0);
  device = VekOpenGraphicsDevice(0, window, 0, 1, 0, 0, 32, 0);
  ASSERT_NE(device, nullptr);
  DrawFrame(128, 80);
  ExpectShownAsSaved(128, 80);
  VekCloseGraphicsDevice(device);
  device = nullptr;
  VrtDestroyWindow(window);
  window = nullptr;
  EXPECT_EQ(SDL_GetWindowFromID(SDL_GetWindowID(sdl)), sdl);  // still the host's
  SDL_DestroyWindow(sdl);
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

// Closing is news the host polls; the process goes on, and presents after
// it change nothing on the screen.
TEST_F(WindowTest, ClosingIsReportedNeverAnExit) {
  Open(64, 48);
  DrawFrame(64, 48);
  EXPECT_EQ(VrtPollWindow(window) & VRT_WINDOW_CLOSED, 0);
  SDL_Event e{};
  e.type = SDL_WINDOWEVENT;
  e.window.event = SDL_WINDOWEVENT_CLOSE;
  e.window.windowID = SDL_GetWindowID(static_cast<SDL_Window*>(VrtGetSdlWindow(window)));
  SDL_PushEvent(&e);
  EXPECT_TRUE(VrtPollWindow(window) & VRT_WINDOW_CLOSED);
  EXPECT_TRUE(VrtPollWindow(window) & VRT_WINDOW_CLOSED);  // it stays closed
  DrawFrame(64, 48);                                       // still a valid window for the library
}

}  // namespace
