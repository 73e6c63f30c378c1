// Screen capture on either build: a presented frame read back from the
// screen as a BMP file image, the cuts of the rectangle, the empty cases and
// the capture's hand-over and release.
#include "vekimage/capture.h"

#include <vek/vek.h>

#include <cstring>
#include <vector>

#include "support/platform_test.h"

#ifndef _WIN32
#include <vekrt/runtime.h>
#endif

namespace {

constexpr int kLeft = 40, kTop = 30, kWidth = 64, kHeight = 48;

// A window whose client area sits at (kLeft, kTop) on the screen.
HWND CreateScreenWindow() {
#ifdef _WIN32
  static const wchar_t kClass[] = L"vekcapture";
  static bool registered = false;
  if (!registered) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kClass;
    RegisterClassW(&wc);
    registered = true;
  }
  HWND window =
      CreateWindowExW(WS_EX_TOPMOST, kClass, L"", WS_POPUP | WS_VISIBLE, kLeft, kTop, kWidth,
                      kHeight, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (window) UpdateWindow(window);
  return window;
#else
  return vrt::CreateVirtualWindow(kLeft, kTop, kWidth, kHeight);
#endif
}

void DestroyScreenWindow(HWND window) {
#ifdef _WIN32
  DestroyWindow(window);
#else
  vrt::DestroyVirtualWindow(window);
#endif
}

DWORD U32(const BYTE* p) { return p[0] | p[1] << 8 | p[2] << 16 | DWORD(p[3]) << 24; }
WORD U16(const BYTE* p) { return WORD(p[0] | p[1] << 8); }

// The collected capture, released with VekFree when the test ends.
struct Capture {
  Capture() { bytes = VekGetScreenCapture(&size); }
  ~Capture() {
    if (bytes) VekFree(bytes);
  }
  BYTE* bytes = nullptr;
  DWORD size = 0;

  LONG Width() const { return static_cast<LONG>(U32(bytes + 18)); }
  LONG Height() const { return static_cast<LONG>(U32(bytes + 22)); }
  // The RGB of (x, y), y from the top, of a 32-bit bottom-up file.
  DWORD Rgb(int x, int y) const {
    const DWORD offset = U32(bytes + 10);
    const DWORD row = static_cast<DWORD>(Width()) * 4;
    return U32(bytes + offset + (Height() - 1 - y) * row + x * 4) & 0xFFFFFF;
  }
};

// The BMP headers of a 32-bit capture of width x height.
void ExpectHeaders(const Capture& c, LONG width, LONG height) {
  ASSERT_NE(c.bytes, nullptr);
  ASSERT_GE(c.size, 54u);
  EXPECT_EQ(U16(c.bytes), 0x4D42);
  EXPECT_EQ(U32(c.bytes + 2), c.size);
  EXPECT_EQ(U32(c.bytes + 6), 0u);
  EXPECT_EQ(U32(c.bytes + 10), 54u);
  EXPECT_EQ(U32(c.bytes + 14), 40u);
  EXPECT_EQ(c.Width(), width);
  EXPECT_EQ(c.Height(), height);  // positive: bottom row first
  EXPECT_EQ(U16(c.bytes + 26), 1);
  EXPECT_EQ(U16(c.bytes + 28), 32);
  EXPECT_EQ(U32(c.bytes + 30), DWORD(BI_RGB));
  EXPECT_EQ(U32(c.bytes + 34), DWORD(width * height * 4));
  EXPECT_EQ(c.size, 54u + DWORD(width * height * 4));
}

class CaptureTest : public PlatformTest {
 protected:
  void TearDown() override {
    ReleaseScreenCapture();
    if (g) VekCloseGraphics(g);
    if (device) VekCloseGraphicsDevice(device);
    if (screenWindow) DestroyScreenWindow(screenWindow);
    PlatformTest::TearDown();
  }
  HWND screenWindow = nullptr;
  HVEKDEVICE device = nullptr;
  HVEKGRAPHICS g = nullptr;
};

TEST_F(CaptureTest, EmptyRectanglesLeaveNoCapture) {
  const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
  const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
  for (const RECT& r : {RECT{100, 100, 100, 200}, RECT{200, 0, 100, 50}, RECT{-50, 0, -10, 50},
                        RECT{screenWidth, 0, screenWidth + 50, 50},
                        RECT{0, screenHeight + 1, 10, screenHeight + 20}}) {
    // A capture still waiting is dropped by the next call, whatever it gives.
    EXPECT_EQ(VekScreenCapture(0, 0, 8, 8), 0);
    DWORD size = 1;
    EXPECT_EQ(VekScreenCapture(r.left, r.top, r.right, r.bottom), 0);
    EXPECT_EQ(VekGetScreenCapture(&size), nullptr);
    EXPECT_EQ(size, 0u);
  }
  EXPECT_EQ(VekGetScreenCapture(nullptr), nullptr);
}

TEST_F(CaptureTest, RectangleIsCutToTheScreen) {
  const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
  const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
  ASSERT_GT(screenWidth, 100);
  ASSERT_GT(screenHeight, 50);
  ASSERT_EQ(VekScreenCapture(-10, -10, 100, 50), 0);
  {
    Capture c;
    ExpectHeaders(c, 100, 50);
  }
  ASSERT_EQ(
      VekScreenCapture(screenWidth - 20, screenHeight - 10, screenWidth + 100, screenHeight + 100),
      0);
  Capture c;
  ExpectHeaders(c, 20, 10);
  // Collected means gone.
  EXPECT_EQ(VekGetScreenCapture(nullptr), nullptr);
}

TEST_F(CaptureTest, ReplacedCapturesAreReleased) {
  const LONG before = LiveBlockCount();
  ASSERT_EQ(VekScreenCapture(0, 0, 16, 16), 0);
  const LONG one = LiveBlockCount();
  EXPECT_EQ(one, before + 1);
  ASSERT_EQ(VekScreenCapture(0, 0, 32, 16), 0);
  EXPECT_EQ(LiveBlockCount(), one);
  ReleaseScreenCapture();  // what unloading the library does
  EXPECT_EQ(LiveBlockCount(), before);
  EXPECT_EQ(VekGetScreenCapture(nullptr), nullptr);
}

TEST_F(CaptureTest, BitmapInfoHoldsTheRowsGetDIBitsWrites) {
  HDC memory = CreateCompatibleDC(nullptr);
  ASSERT_NE(memory, nullptr);
  HBITMAP mono = CreateCompatibleBitmap(memory, 10, 3);  // a new memory context is monochrome
  ASSERT_NE(mono, nullptr);
  BITMAPINFO* info = MakeBitmapInfo(mono);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->bmiHeader.biSize, 40u);
  EXPECT_EQ(info->bmiHeader.biBitCount, 1);
  EXPECT_EQ(info->bmiHeader.biClrUsed, 2u);
  EXPECT_EQ(info->bmiHeader.biSizeImage, 12u);  // 3 rows of 2 bytes, each padded to 4
#ifdef _WIN32
  // Real GDI writes 1-bit rows (the POSIX runtime's only 24- and 32-bit ones).
  std::vector<BYTE> bits(info->bmiHeader.biSizeImage + 16, 0xCD);
  EXPECT_EQ(GetDIBits(memory, mono, 0, 3, bits.data(), info, DIB_RGB_COLORS), 3);
  for (size_t i = info->bmiHeader.biSizeImage; i < bits.size(); ++i) EXPECT_EQ(bits[i], 0xCD) << i;
#endif
  LocalFree(info);
  DeleteObject(mono);
  DeleteDC(memory);
  EXPECT_EQ(MakeBitmapInfo(nullptr), nullptr);
}

TEST_F(CaptureTest, PresentedFrameIsCapturedWholeAndInPart) {
  screenWindow = CreateScreenWindow();
  ASSERT_NE(screenWindow, nullptr);
  device = VekOpenGraphicsDevice(0, screenWindow, 0, 1, 0, 0, 32, 0);
  ASSERT_NE(device, nullptr);
  g = VekOpenGraphics(device);
  ASSERT_NE(g, nullptr);
  // Red below a blue top half.
  const DWORD kRed = 0xFF0000, kBlue = 0x0000FF;
  const auto drawFrame = [&] {
    ASSERT_EQ(VekBeginRender(g), D3D_OK);
    VekClear(g, 0xFF000000 | kRed);
    VekDrawQuad(g, 0, 0, 0.5f, 0xFF000000 | kBlue, 0, 0, kWidth, 0, 0.5f, 0xFF000000 | kBlue, 0, 0,
                kWidth, kHeight / 2, 0.5f, 0xFF000000 | kBlue, 0, 0, 0, kHeight / 2, 0.5f,
                0xFF000000 | kBlue, 0, 0, 0, nullptr);
    VekEndRender(g);
  };
  drawFrame();
#ifdef _WIN32
  // A new window reaches the X screen under Wine only after its messages
  // have been handled: present again until the bottom-left pixel shows.
  for (int tries = 0; tries < 40; ++tries) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    ASSERT_EQ(VekScreenCapture(kLeft, kTop + kHeight - 1, kLeft + 1, kTop + kHeight), 0);
    Capture probe;
    if (probe.bytes && (U32(probe.bytes + 54) & 0xFFFFFF) == kRed) break;
    Sleep(50);
    drawFrame();
  }
#endif

  ASSERT_EQ(VekScreenCapture(kLeft, kTop, kLeft + kWidth, kTop + kHeight), 0);
  {
    Capture c;
    ExpectHeaders(c, kWidth, kHeight);
    if (!HasFailure()) {
      for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
          ASSERT_EQ(c.Rgb(x, y), y < kHeight / 2 ? kBlue : kRed) << x << "," << y;
      // The first row of the file is the bottom one.
      EXPECT_EQ(U32(c.bytes + 54) & 0xFFFFFF, kRed);
    }
  }
  // A rectangle across the colour edge, from (8, 20) of the window.
  ASSERT_EQ(VekScreenCapture(kLeft + 8, kTop + 20, kLeft + 18, kTop + 26), 0);
  {
    Capture c;
    ExpectHeaders(c, 10, 6);
    if (!HasFailure()) {
      for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 10; ++x)
          EXPECT_EQ(c.Rgb(x, y), 20 + y < kHeight / 2 ? kBlue : kRed) << x << "," << y;
    }
  }
}

}  // namespace
