#include <png.h>

// Exported although the runtime is built with hidden visibility.
#pragma GCC visibility push(default)
#include <vekrt/png.h>
#include <vekrt/runtime.h>
#pragma GCC visibility pop

#include <cstdio>
#include <cstring>
#include <vector>

#include "desktop.h"

namespace vrt {

namespace {

// One pixel of a 16- or 32-bit format as A8R8G8B8, channels widened by
// replicating their top bits.
uint32_t Widen(uint32_t value, int bits) {
  const uint32_t v = value << (8 - bits);
  return v | (v >> bits);
}

bool ToArgb(D3DFORMAT format, const BYTE* row, UINT width, uint32_t* out) {
  for (UINT x = 0; x < width; ++x) {
    uint32_t p = 0;
    switch (format) {
      case D3DFMT_A8R8G8B8:
      case D3DFMT_X8R8G8B8:
        std::memcpy(&p, row + 4 * x, 4);
        if (format == D3DFMT_X8R8G8B8) p |= 0xFF000000u;
        break;
      case D3DFMT_R5G6B5:
      case D3DFMT_X1R5G5B5:
      case D3DFMT_A1R5G5B5:
      case D3DFMT_A4R4G4B4: {
        uint16_t s;
        std::memcpy(&s, row + 2 * x, 2);
        uint32_t a = 0xFF, r, g, b;
        if (format == D3DFMT_R5G6B5) {
          r = Widen(s >> 11 & 31, 5), g = Widen(s >> 5 & 63, 6), b = Widen(s & 31, 5);
        } else if (format == D3DFMT_A4R4G4B4) {
          a = Widen(s >> 12 & 15, 4), r = Widen(s >> 8 & 15, 4), g = Widen(s >> 4 & 15, 4),
          b = Widen(s & 15, 4);
        } else {
          if (format == D3DFMT_A1R5G5B5) a = (s & 0x8000) ? 0xFF : 0;
          r = Widen(s >> 10 & 31, 5), g = Widen(s >> 5 & 31, 5), b = Widen(s & 31, 5);
        }
        p = a << 24 | r << 16 | g << 8 | b;
        break;
      }
      default:
        return false;
    }
    out[x] = p;
  }
  return true;
}

}  // namespace

bool WritePng(const char* path, int width, int height, const uint32_t* argb, bool keepAlpha) {
  if (!path || !argb || width <= 0 || height <= 0) return false;
  std::vector<uint8_t> rgba(static_cast<size_t>(width) * height * 4);
  for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i) {
    rgba[4 * i + 0] = static_cast<uint8_t>(argb[i] >> 16);
    rgba[4 * i + 1] = static_cast<uint8_t>(argb[i] >> 8);
    rgba[4 * i + 2] = static_cast<uint8_t>(argb[i]);
    rgba[4 * i + 3] = keepAlpha ? static_cast<uint8_t>(argb[i] >> 24) : 0xFF;
  }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_RGBA;
  const int ok = png_image_write_to_file(&image, path, 0, rgba.data(), 0, nullptr);
  png_image_free(&image);
  return ok != 0;
}

bool WriteSurfacePng(IDirect3DSurface8* surface, const char* path) {
  if (!surface) return false;
  D3DSURFACE_DESC desc{};
  IDirect3DDevice8* device = nullptr;
  if (FAILED(surface->GetDesc(&desc)) || FAILED(surface->GetDevice(&device))) return false;
  IDirect3DSurface8* copy = nullptr;
  bool ok = SUCCEEDED(device->CreateImageSurface(desc.Width, desc.Height, desc.Format, &copy)) &&
            SUCCEEDED(device->CopyRects(surface, nullptr, 0, copy, nullptr));
  std::vector<uint32_t> pixels(static_cast<size_t>(desc.Width) * desc.Height);
  D3DLOCKED_RECT locked{};
  if (ok && SUCCEEDED(copy->LockRect(&locked, nullptr, D3DLOCK_READONLY))) {
    for (UINT y = 0; ok && y < desc.Height; ++y)
      ok = ToArgb(desc.Format, static_cast<const BYTE*>(locked.pBits) + y * locked.Pitch,
                  desc.Width, pixels.data() + static_cast<size_t>(y) * desc.Width);
    copy->UnlockRect();
  } else {
    ok = false;
  }
  if (copy) copy->Release();
  device->Release();
  const bool alpha = desc.Format == D3DFMT_A8R8G8B8 || desc.Format == D3DFMT_A1R5G5B5 ||
                     desc.Format == D3DFMT_A4R4G4B4;
  return ok && WritePng(path, static_cast<int>(desc.Width), static_cast<int>(desc.Height),
                        pixels.data(), alpha);
}

bool WriteWindowPng(HWND window, const char* path) {
  desktop::Placement place;
  if (!desktop::Lookup(window, &place) || place.width <= 0 || place.height <= 0) return false;
  const RECT r{place.x, place.y, place.x + place.width, place.y + place.height};
  std::vector<uint32_t> pixels;
  if (!ReadDesktopPixels(r, &pixels)) return false;
  return WritePng(path, place.width, place.height, pixels.data(), false);
}

}  // namespace vrt
