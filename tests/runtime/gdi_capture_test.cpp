// Desktop capture through GDI: a presented frame read back with GetDC,
// BitBlt and GetDIBits in BMP row order, cuts at the screen's edges, bitmap
// descriptions and injected failures.
#include <cstring>
#include <vector>

#include "runtime_test.h"

namespace {

// The window sits at (10, 20) on the 1280 x 720 desktop; the frame is red
// with a green 4 x 2 block at client (0, 0) and a blue one at client (100, 50).
class GdiCapture : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFF0000, 1.0f, 0), D3D_OK);
    const D3DRECT green{0, 0, 4, 2}, blue{100, 50, 104, 52};
    ASSERT_EQ(device->Clear(1, &green, D3DCLEAR_TARGET, 0xFF00FF00, 1.0f, 0), D3D_OK);
    ASSERT_EQ(device->Clear(1, &blue, D3DCLEAR_TARGET, 0xFF0000FF, 1.0f, 0), D3D_OK);
    ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    screen = GetDC(nullptr);
    memory = CreateCompatibleDC(screen);
    ASSERT_TRUE(screen && memory);
  }
  void TearDown() override {
    if (bitmap) {
      SelectObject(memory, old);
      EXPECT_TRUE(DeleteObject(bitmap));
    }
    EXPECT_TRUE(DeleteDC(memory));
    EXPECT_EQ(ReleaseDC(nullptr, screen), 1);
    DeviceTest::TearDown();
  }
  void MakeBitmap(int w, int h) {
    bitmap = CreateCompatibleBitmap(screen, w, h);
    ASSERT_NE(bitmap, nullptr);
    old = SelectObject(memory, bitmap);
    ASSERT_NE(old, nullptr);
  }
  // The bitmap as a 32-bit top-down picture, read through GetDIBits.
  std::vector<uint32_t> Pixels(int w, int h) {
    BITMAPINFO info{};
    info.bmiHeader = BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<uint32_t> px(static_cast<size_t>(w) * h);
    EXPECT_EQ(GetDIBits(memory, bitmap, 0, h, px.data(), &info, DIB_RGB_COLORS), h);
    return px;
  }

  HDC screen = nullptr;
  HDC memory = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ old = nullptr;
};

TEST_F(GdiCapture, TheWholeScreenInBottomUpRowsOfBothDepths) {
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1280);
  EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 720);
  EXPECT_EQ(GetDesktopWindow(), GetDesktopWindow());
  MakeBitmap(1280, 720);
  ASSERT_TRUE(BitBlt(memory, 0, 0, 1280, 720, screen, 0, 0, SRCCOPY));

  BITMAP bm{};
  ASSERT_EQ(GetObjectW(bitmap, sizeof bm, &bm), static_cast<int>(sizeof bm));
  EXPECT_EQ(bm.bmWidth, 1280);
  EXPECT_EQ(bm.bmHeight, 720);
  EXPECT_EQ(bm.bmBitsPixel, 32);
  EXPECT_EQ(bm.bmPlanes, 1);

  // With no bits, GetDIBits describes the bitmap.
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  ASSERT_NE(GetDIBits(memory, bitmap, 0, 720, nullptr, &info, DIB_RGB_COLORS), 0);
  EXPECT_EQ(info.bmiHeader.biWidth, 1280);
  EXPECT_EQ(info.bmiHeader.biHeight, 720);
  EXPECT_EQ(info.bmiHeader.biBitCount, 32);
  EXPECT_EQ(info.bmiHeader.biCompression, static_cast<DWORD>(BI_BITFIELDS));  // as GDI says
  EXPECT_EQ(info.bmiHeader.biSizeImage, 1280u * 720u * 4u);
  info.bmiHeader.biCompression = BI_RGB;

  std::vector<uint32_t> expected;
  ASSERT_TRUE(vrt::ReadDesktopPixels(RECT{0, 0, 1280, 720}, &expected));
  for (WORD depth : {WORD{32}, WORD{24}}) {
    info.bmiHeader.biBitCount = depth;
    const size_t stride = (1280u * depth / 8 + 3) & ~3u;
    std::vector<uint8_t> rows(stride * 720 + 16, 0xCD);
    ASSERT_EQ(GetDIBits(memory, bitmap, 0, 720, rows.data(), &info, DIB_RGB_COLORS), 720);
    EXPECT_EQ(rows[stride * 720], 0xCD) << "wrote past the rows";
    int wrong = 0;
    for (int y = 0; y < 720; ++y) {
      const uint8_t* row = rows.data() + (719 - y) * stride;  // bottom-up
      for (int x = 0; x < 1280; ++x) {
        const uint8_t* p = row + x * depth / 8;
        const uint32_t v = p[0] | p[1] << 8 | p[2] << 16 | (depth == 32 ? p[3] << 24 : 0);
        wrong += v != expected[static_cast<size_t>(y) * 1280 + x];
      }
    }
    EXPECT_EQ(wrong, 0) << depth;
    EXPECT_EQ(expected[20 * 1280 + 10], 0x0000FF00u);  // the green block at the window's origin
    EXPECT_EQ(expected[70 * 1280 + 110], 0x000000FFu);
    EXPECT_EQ(expected[0], 0u);
  }
}

TEST_F(GdiCapture, RectanglesAndCutsAtTheScreensEdges) {
  MakeBitmap(8, 4);
  // The blue block and what is around it, from window coordinates (100, 50).
  ASSERT_TRUE(BitBlt(memory, 0, 0, 8, 4, screen, 108, 69, SRCCOPY));
  const uint32_t R = 0xFF0000, B = 0x0000FF;
  std::vector<uint32_t> px = Pixels(8, 4);
  const std::vector<uint32_t> blue = {R, R, R, R, R, R, R, R,  //
                                      R, R, B, B, B, B, R, R,  //
                                      R, R, B, B, B, B, R, R,  //
                                      R, R, R, R, R, R, R, R};
  EXPECT_EQ(px, blue);

  // Sources beyond the screen read as black, as under Wine; a bitmap source
  // leaves what lies beyond it untouched.
  const uint32_t G = 0x00FF00;
  ASSERT_TRUE(BitBlt(memory, 0, 0, 8, 4, screen, -6, -2, SRCCOPY));
  EXPECT_EQ(Pixels(8, 4), std::vector<uint32_t>(32, 0u));
  HDC other = CreateCompatibleDC(screen);
  HBITMAP small = CreateCompatibleBitmap(screen, 2, 2);
  HGDIOBJ previous = SelectObject(other, small);
  ASSERT_TRUE(BitBlt(other, 0, 0, 2, 2, screen, 11, 20, SRCCOPY));  // green
  ASSERT_TRUE(BitBlt(memory, 0, 0, 8, 4, screen, 108, 69, SRCCOPY));
  ASSERT_TRUE(BitBlt(memory, 5, 1, 4, 4, other, 0, 0, SRCCOPY));
  const std::vector<uint32_t> cut = {R, R, R, R, R, R, R, R,  //
                                     R, R, B, B, B, G, G, R,  //
                                     R, R, B, B, B, G, G, R,  //
                                     R, R, R, R, R, R, R, R};
  EXPECT_EQ(Pixels(8, 4), cut);
  SelectObject(other, previous);
  DeleteObject(small);
  DeleteDC(other);

  // Destinations beyond the bitmap are cut; empty copies change nothing.
  ASSERT_TRUE(BitBlt(memory, 6, 2, 8, 4, screen, 10, 20, SRCCOPY));
  ASSERT_TRUE(BitBlt(memory, 0, 0, 0, 4, screen, 10, 20, SRCCOPY));
  std::vector<uint32_t> px2 = Pixels(8, 4);
  EXPECT_EQ(px2[2 * 8 + 5], G);
  EXPECT_EQ(px2[2 * 8 + 6], 0x00FF00u);
  EXPECT_EQ(px2[3 * 8 + 7], 0x00FF00u);
  EXPECT_FALSE(BitBlt(screen, 0, 0, 8, 4, memory, 0, 0, SRCCOPY));  // no drawing on the screen

  // A window's DC reads its client area, from the client origin.
  HDC client = GetDC(window);
  ASSERT_NE(client, nullptr);
  ASSERT_TRUE(BitBlt(memory, 0, 0, 2, 1, client, 639, 0, SRCCOPY));
  ASSERT_TRUE(BitBlt(memory, 0, 1, 1, 1, client, 0, 0, SRCCOPY));
  px2 = Pixels(8, 4);
  EXPECT_EQ(px2[0], R);
  EXPECT_EQ(px2[1], 0u);  // beyond the client area
  EXPECT_EQ(px2[8], G);
  EXPECT_EQ(ReleaseDC(window, client), 1);
}

TEST_F(GdiCapture, MonochromeAndEmptyBitmapsAreDescribedLikeGdi) {
  // A memory DC holds a 1 x 1 monochrome bitmap, and bitmaps compatible with
  // it are monochrome; their DIB rows are still padded to 4 bytes.
  HBITMAP mono = CreateCompatibleBitmap(memory, 33, 3);
  ASSERT_NE(mono, nullptr);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  ASSERT_NE(GetDIBits(memory, mono, 0, 3, nullptr, &info, DIB_RGB_COLORS), 0);
  EXPECT_EQ(info.bmiHeader.biBitCount, 1);
  EXPECT_EQ(info.bmiHeader.biSizeImage, 8u * 3u);
  BITMAP bm{};
  ASSERT_EQ(GetObjectW(mono, sizeof bm, &bm), static_cast<int>(sizeof bm));
  EXPECT_EQ(bm.bmWidthBytes, 6);
  EXPECT_EQ(GetObjectW(mono, sizeof bm - 1, &bm), 0);
  EXPECT_EQ(GetObjectW(mono, 0, nullptr), static_cast<int>(sizeof bm));
  EXPECT_TRUE(DeleteObject(mono));

  HBITMAP empty = CreateCompatibleBitmap(screen, 0, 5);
  ASSERT_NE(empty, nullptr);
  ASSERT_EQ(GetObjectW(empty, sizeof bm, &bm), static_cast<int>(sizeof bm));
  EXPECT_EQ(bm.bmWidth, 1);
  EXPECT_EQ(bm.bmBitsPixel, 1);
  EXPECT_EQ(CreateCompatibleBitmap(screen, -1, 5), nullptr);
  EXPECT_EQ(CreateCompatibleBitmap(screen, 1 << 16, 1 << 16), nullptr);
}

TEST_F(GdiCapture, InjectedFailuresFailCleanly) {
  MakeBitmap(4, 4);
  BITMAP bm{};
  vrt::FailCall("GetObjectW", E_OUTOFMEMORY);
  EXPECT_EQ(GetObjectW(bitmap, sizeof bm, &bm), 0);
  EXPECT_EQ(GetLastError(), 14u);
  EXPECT_EQ(GetObjectW(bitmap, sizeof bm, &bm), static_cast<int>(sizeof bm));

  vrt::FailCall("CreateCompatibleBitmap", E_OUTOFMEMORY);
  const int live = vrt::LiveObjectCount();
  EXPECT_EQ(CreateCompatibleBitmap(screen, 4, 4), nullptr);
  EXPECT_EQ(vrt::LiveObjectCount(), live);

  vrt::FailCall("GetDIBits", E_FAIL, 1);
  BITMAPINFO info{};
  info.bmiHeader = BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER), 4, 4, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  uint32_t px[16];
  EXPECT_EQ(GetDIBits(memory, bitmap, 0, 4, px, &info, DIB_RGB_COLORS), 4);
  EXPECT_EQ(GetDIBits(memory, bitmap, 0, 4, px, &info, DIB_RGB_COLORS), 0);

  vrt::FailCall("LocalAlloc", E_OUTOFMEMORY);
  EXPECT_EQ(LocalAlloc(LPTR, 64), nullptr);
  HLOCAL block = LocalAlloc(LPTR, 64);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(static_cast<uint8_t*>(block)[63], 0);
  EXPECT_EQ(LocalFree(block), nullptr);
}

}  // namespace
