#include "vekimage/capture.h"

#include <pelto.h>

#include <cstring>

namespace {

constexpr UINT kFileHeaderSize = 14;
constexpr UINT kInfoHeaderSize = 40;
constexpr DWORD kCaptureRop = 0x40CC0020;  // SRCCOPY | CAPTUREBLT

// The capture not yet collected by the host.
BYTE* capture = nullptr;
DWORD captureSize = 0;

void Put16(BYTE* p, UINT v) {
  p[0] = static_cast<BYTE>(v);
  p[1] = static_cast<BYTE>(v >> 8);
}
void Put32(BYTE* p, DWORD v) {
  Put16(p, v & 0xFFFF);
  Put16(p + 2, v >> 16);
}

// Bits per pixel as the colour table is sized: the next of 1, 4, 8, 16, 24, 32.
UINT TableBits(UINT product) {
  if (product == 1) return 1;
  if (product <= 4) return 4;
  if (product <= 8) return 8;
  if (product <= 16) return 16;
  if (product <= 24) return 24;
  return 32;
}

// The BMP file image of `bitmap` (not selected into any context), or null.
BYTE* BuildFile(HDC memory, HBITMAP bitmap, DWORD* size) {
  BITMAPINFO* info = MakeBitmapInfo(bitmap);
  if (!info) return nullptr;
  const BITMAPINFOHEADER& header = info->bmiHeader;
  const unsigned long long offset = kFileHeaderSize + kInfoHeaderSize + 4ull * header.biClrUsed;
  const unsigned long long total = offset + header.biSizeImage;
  BYTE* file =
      total <= 0x7FFFFFFFull ? static_cast<BYTE*>(Malloc(static_cast<UINT>(total))) : nullptr;
  if (file) {
    const UINT lines = static_cast<UINT>(header.biHeight) & 0xFFFF;
    if (GetDIBits(memory, bitmap, 0, lines, file + offset, info, DIB_RGB_COLORS) == 0) {
      Free(file);
      file = nullptr;
    } else {
      // The header and colour table as GetDIBits left them go into the file.
      Put16(file, 0x4D42);  // "BM"
      Put32(file + 2, static_cast<DWORD>(total));
      Put32(file + 6, 0);
      Put32(file + 10, static_cast<DWORD>(offset));
      std::memcpy(file + kFileHeaderSize, info, static_cast<size_t>(offset) - kFileHeaderSize);
      *size = static_cast<DWORD>(total);
    }
  }
  LocalFree(info);
  return file;
}

}  // namespace

BITMAPINFO* MakeBitmapInfo(HBITMAP bitmap) {
  BITMAP description{};
  if (GetObjectW(bitmap, sizeof(description), &description) == 0) return nullptr;
  const UINT product = static_cast<WORD>(description.bmPlanes * description.bmBitsPixel);
  const UINT bits = TableBits(product);
  // No table for 24 bits; for 32 the table size's shift count wraps to 0.
  const UINT blockSize = bits == 24 ? kInfoHeaderSize : kInfoHeaderSize + 4 * (1u << (bits % 32));
  if (description.bmWidth <= 0 || description.bmHeight <= 0) return nullptr;
  // Rows as GetDIBits writes them, padded to 4 bytes, at the larger of the
  // rounded and the described depth so the block always holds them.
  const UINT rowBits = bits > description.bmBitsPixel ? bits : description.bmBitsPixel;
  const unsigned long long rowBytes =
      (static_cast<unsigned long long>(description.bmWidth) * rowBits + 31) / 32 * 4;
  const unsigned long long imageSize =
      rowBytes * static_cast<unsigned long long>(description.bmHeight);
  if (imageSize > 0x7FFFFFFFull) return nullptr;

  auto* info = static_cast<BITMAPINFO*>(LocalAlloc(LPTR, blockSize));
  if (!info) return nullptr;
  BITMAPINFOHEADER& header = info->bmiHeader;
  header.biSize = kInfoHeaderSize;
  header.biWidth = description.bmWidth;
  header.biHeight = description.bmHeight;
  header.biPlanes = description.bmPlanes;
  header.biBitCount = description.bmBitsPixel;
  header.biCompression = BI_RGB;
  header.biSizeImage = static_cast<DWORD>(imageSize);
  header.biClrUsed = bits < 24 ? 1u << bits : 0;
  header.biClrImportant = 0;
  return info;
}

INT ScreenCapture(INT x1, INT y1, INT x2, INT y2) {
  ReleaseScreenCapture();
  if (x1 < 0) x1 = 0;
  if (y1 < 0) y1 = 0;
  if (x2 <= x1 || y2 <= y1) return 0;
  const INT screenWidth = GetSystemMetrics(SM_CXSCREEN);
  const INT screenHeight = GetSystemMetrics(SM_CYSCREEN);
  if (x2 > screenWidth) x2 = screenWidth;
  if (y2 > screenHeight) y2 = screenHeight;
  // A rectangle that starts beyond the screen is empty after the cut.
  if (x2 <= x1 || y2 <= y1) return 0;

  const HWND desktop = GetDesktopWindow();
  const HDC screen = GetDC(desktop);
  if (!screen) return 0;
  const HDC memory = CreateCompatibleDC(screen);
  const HBITMAP bitmap = memory ? CreateCompatibleBitmap(screen, x2 - x1, y2 - y1) : nullptr;
  if (!bitmap) {
    if (memory) DeleteDC(memory);
    ReleaseDC(desktop, screen);
    return 0;
  }
  // A bitmap that was never selected, or never filled, would be collected as
  // a blank picture: either failure is no capture.
  const HGDIOBJ previous = SelectObject(memory, bitmap);
  const bool selected = previous && previous != HGDI_ERROR;
  const bool copied =
      selected && BitBlt(memory, 0, 0, x2 - x1, y2 - y1, screen, x1, y1, kCaptureRop) != FALSE;
  if (selected) SelectObject(memory, previous);
  ReleaseDC(desktop, screen);

  DWORD size = 0;
  BYTE* file = copied ? BuildFile(memory, bitmap, &size) : nullptr;
  DeleteDC(memory);
  DeleteObject(bitmap);
  if (file) {
    capture = file;
    captureSize = size;
  }
  return 0;
}

BYTE* TakeScreenCapture(DWORD* size) {
  BYTE* file = capture;
  if (size) *size = file ? captureSize : 0;
  capture = nullptr;
  captureSize = 0;
  return file;
}

void ReleaseScreenCapture() {
  if (capture) Free(capture);
  capture = nullptr;
  captureSize = 0;
}

#ifndef _WIN32
// The shared library's unload (DllMain does this on Windows).
__attribute__((destructor)) static void DetachScreenCapture() { ReleaseScreenCapture(); }
#endif
