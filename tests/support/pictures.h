// Encodes small pictures in memory for image tests on both builds: PNG with
// alpha, JPEG and 24-bit BMP files from A8R8G8B8 pixels given top row first.
// Link the test target with `vek_test_pictures` (it supplies the stb
// include folder).
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#endif
#include <stb_image_write.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace pictures {

inline void AppendBytes(void* context, void* data, int size) {
  auto* out = static_cast<std::vector<uint8_t>*>(context);
  const auto* bytes = static_cast<const uint8_t*>(data);
  out->insert(out->end(), bytes, bytes + size);
}

// R, G, B (and A when `alpha`) bytes per pixel, rows top first.
inline std::vector<uint8_t> ToChannels(const std::vector<uint32_t>& argb, bool alpha) {
  std::vector<uint8_t> out;
  out.reserve(argb.size() * (alpha ? 4 : 3));
  for (uint32_t p : argb) {
    out.push_back(uint8_t(p >> 16));
    out.push_back(uint8_t(p >> 8));
    out.push_back(uint8_t(p));
    if (alpha) out.push_back(uint8_t(p >> 24));
  }
  return out;
}

// An 8-bit RGBA PNG file; every pixel's alpha is kept.
inline std::vector<uint8_t> Png(int width, int height, const std::vector<uint32_t>& argb) {
  std::vector<uint8_t> out;
  const std::vector<uint8_t> rgba = ToChannels(argb, true);
  stbi_write_png_to_func(AppendBytes, &out, width, height, 4, rgba.data(), width * 4);
  return out;
}

// A baseline RGB JPEG file (alpha dropped); quality 1..100.
inline std::vector<uint8_t> Jpeg(int width, int height, const std::vector<uint32_t>& argb,
                                 int quality = 95) {
  std::vector<uint8_t> out;
  const std::vector<uint8_t> rgb = ToChannels(argb, false);
  stbi_write_jpg_to_func(AppendBytes, &out, width, height, 3, rgb.data(), quality);
  return out;
}

// A 24-bit uncompressed BMP file (alpha dropped): bottom-up rows of B, G, R
// padded to four bytes, as Windows writes them.
inline std::vector<uint8_t> Bmp24(int width, int height, const std::vector<uint32_t>& argb) {
  const uint32_t rowBytes = (uint32_t(width) * 3 + 3) & ~3u;
  const uint32_t pixelBytes = rowBytes * uint32_t(height);
  std::vector<uint8_t> out(54 + pixelBytes, 0);
  auto put16 = [&](size_t at, uint16_t v) { std::memcpy(out.data() + at, &v, 2); };
  auto put32 = [&](size_t at, uint32_t v) { std::memcpy(out.data() + at, &v, 4); };
  out[0] = 'B';
  out[1] = 'M';
  put32(2, uint32_t(out.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, uint32_t(width));
  put32(22, uint32_t(height));
  put16(26, 1);
  put16(28, 24);
  put32(34, pixelBytes);
  put32(38, 2835);  // 72 dpi
  put32(42, 2835);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = out.data() + 54 + size_t(height - 1 - y) * rowBytes;
    for (int x = 0; x < width; ++x) {
      const uint32_t p = argb[size_t(y) * width + x];
      row[3 * x] = uint8_t(p);
      row[3 * x + 1] = uint8_t(p >> 8);
      row[3 * x + 2] = uint8_t(p >> 16);
    }
  }
  return out;
}

}  // namespace pictures
