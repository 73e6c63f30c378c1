#include "pictures.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_DXT_STATIC
#define STB_DXT_IMPLEMENTATION
#ifdef __GNUC__
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#endif
#include <stb_dxt.h>
#include <stb_image_write.h>
#ifdef __GNUC__
#pragma GCC diagnostic pop
#endif

namespace vekpic {
namespace {

void Put32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t FourCC(const char* code) {
  return uint32_t(uint8_t(code[0])) | uint32_t(uint8_t(code[1])) << 8 |
         uint32_t(uint8_t(code[2])) << 16 | uint32_t(uint8_t(code[3])) << 24;
}

std::vector<uint8_t> ToRgba(const std::vector<uint32_t>& argb, int channels) {
  std::vector<uint8_t> out(argb.size() * channels);
  for (size_t i = 0; i < argb.size(); ++i) {
    const uint32_t p = argb[i];
    uint8_t* o = out.data() + i * channels;
    o[0] = static_cast<uint8_t>(p >> 16);
    o[1] = static_cast<uint8_t>(p >> 8);
    o[2] = static_cast<uint8_t>(p);
    if (channels == 4) o[3] = static_cast<uint8_t>(p >> 24);
  }
  return out;
}

void Append(void* context, void* data, int size) {
  auto* out = static_cast<std::vector<uint8_t>*>(context);
  const auto* bytes = static_cast<const uint8_t*>(data);
  out->insert(out->end(), bytes, bytes + size);
}

std::vector<uint8_t> EncodeDxt(Format format, int width, int height,
                               const std::vector<uint32_t>& argb) {
  if (width % 4 || height % 4) return {};
  const size_t blockBytes = format == Format::kDxt1 ? 8 : 16;
  const size_t blocks = size_t(width / 4) * size_t(height / 4);
  const char* fourcc = format == Format::kDxt1 ? "DXT1" : format == Format::kDxt3 ? "DXT3" : "DXT5";
  std::vector<uint8_t> out = DdsHeader(width, height, fourcc, blocks * blockBytes);
  uint8_t* dest = out.data() + 128;
  for (int by = 0; by < height; by += 4) {
    for (int bx = 0; bx < width; bx += 4, dest += blockBytes) {
      uint8_t rgba[64];
      for (int i = 0; i < 16; ++i) {
        const uint32_t p = argb[size_t(by + i / 4) * width + bx + i % 4];
        rgba[4 * i] = static_cast<uint8_t>(p >> 16);
        rgba[4 * i + 1] = static_cast<uint8_t>(p >> 8);
        rgba[4 * i + 2] = static_cast<uint8_t>(p);
        rgba[4 * i + 3] = static_cast<uint8_t>(p >> 24);
      }
      if (format == Format::kDxt3) {
        // Explicit alpha: four bits per texel, rounded, row by row.
        for (int i = 0; i < 16; i += 2) {
          const int lo = (rgba[4 * i + 3] * 15 + 127) / 255;
          const int hi = (rgba[4 * (i + 1) + 3] * 15 + 127) / 255;
          dest[i / 2] = static_cast<uint8_t>(lo | hi << 4);
        }
        stb_compress_dxt_block(dest + 8, rgba, 0, STB_DXT_HIGHQUAL);
      } else {
        stb_compress_dxt_block(dest, rgba, format == Format::kDxt5, STB_DXT_HIGHQUAL);
      }
    }
  }
  return out;
}

uint8_t Channel(double v) {
  return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0));
}

uint32_t Argb(double a, double r, double g, double b) {
  return uint32_t(Channel(a)) << 24 | uint32_t(Channel(r)) << 16 | uint32_t(Channel(g)) << 8 |
         Channel(b);
}

}  // namespace

std::vector<uint8_t> DdsHeader(int width, int height, const char* fourcc, size_t payload) {
  std::vector<uint8_t> out(128 + payload, 0);
  std::memcpy(out.data(), "DDS ", 4);
  Put32(out, 4, 124);
  Put32(out, 8, 0x00081007);  // caps, height, width, pixel format, linear size
  Put32(out, 12, static_cast<uint32_t>(height));
  Put32(out, 16, static_cast<uint32_t>(width));
  Put32(out, 20, static_cast<uint32_t>(payload));
  Put32(out, 76, 32);
  if (fourcc) {
    Put32(out, 80, 0x4);  // DDPF_FOURCC
    Put32(out, 84, FourCC(fourcc));
  } else {
    Put32(out, 80, 0x41);  // DDPF_RGB | DDPF_ALPHAPIXELS
    Put32(out, 88, 32);
    Put32(out, 92, 0x00FF0000);
    Put32(out, 96, 0x0000FF00);
    Put32(out, 100, 0x000000FF);
    Put32(out, 104, 0xFF000000);
  }
  Put32(out, 108, 0x1000);  // DDSCAPS_TEXTURE
  return out;
}

bool ParseFormat(const std::string& name, Format* format) {
  static const struct {
    const char* name;
    Format format;
  } kNames[] = {{"png", Format::kPng},    {"jpeg", Format::kJpeg}, {"bmp", Format::kBmp},
                {"dxt1", Format::kDxt1},  {"dxt3", Format::kDxt3}, {"dxt5", Format::kDxt5},
                {"dds32", Format::kDds32}};
  for (const auto& n : kNames)
    if (name == n.name) {
      *format = n.format;
      return true;
    }
  return false;
}

std::vector<uint8_t> Encode(Format format, int width, int height,
                            const std::vector<uint32_t>& argb) {
  if (width <= 0 || height <= 0 || width > 4096 || height > 4096 ||
      argb.size() != size_t(width) * size_t(height))
    return {};
  std::vector<uint8_t> out;
  switch (format) {
    case Format::kPng: {
      const std::vector<uint8_t> rgba = ToRgba(argb, 4);
      if (!stbi_write_png_to_func(Append, &out, width, height, 4, rgba.data(), width * 4))
        out.clear();
      return out;
    }
    case Format::kJpeg: {
      // Quality 100 keeps full-resolution chroma, so decoders agree closely.
      const std::vector<uint8_t> rgb = ToRgba(argb, 3);
      if (!stbi_write_jpg_to_func(Append, &out, width, height, 3, rgb.data(), 100)) out.clear();
      return out;
    }
    case Format::kBmp: {
      const std::vector<uint8_t> rgb = ToRgba(argb, 3);
      if (!stbi_write_bmp_to_func(Append, &out, width, height, 3, rgb.data())) out.clear();
      return out;
    }
    case Format::kDxt1:
    case Format::kDxt3:
    case Format::kDxt5:
      return EncodeDxt(format, width, height, argb);
    case Format::kDds32: {
      out = DdsHeader(width, height, nullptr, argb.size() * 4);
      for (size_t i = 0; i < argb.size(); ++i) Put32(out, 128 + 4 * i, argb[i]);
      return out;
    }
  }
  return {};
}

std::vector<uint32_t> Pattern(const std::string& name, int width, int height) {
  if (width <= 0 || height <= 0 || width > 4096 || height > 4096) return {};
  std::vector<uint32_t> out(size_t(width) * size_t(height));
  const double w = width, h = height;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const double fx = (x + 0.5) / w, fy = (y + 0.5) / h;
      uint32_t p = 0;
      if (name == "rings") {
        const double d = std::hypot(fx - 0.5, fy - 0.5);
        const double ring = 0.5 + 0.5 * std::cos(d * 40.0);
        p = Argb(1.0, 0.2 + 0.8 * fx * ring, 0.3 + 0.6 * fy, 0.9 - 0.7 * ring * fy);
      } else if (name == "glow") {
        const double d = std::hypot(fx - 0.5, fy - 0.5) * 2.0;
        p = Argb(1.0 - d, 1.0, 0.6 + 0.4 * fy, 0.3 + 0.7 * (1.0 - fy));
      } else if (name == "tiles") {
        static const uint32_t kColours[4] = {0xE04030, 0x30C060, 0x4060E0, 0xF0D020};
        static const uint32_t kAlphas[4] = {0xFF, 0xC0, 0x80, 0x40};
        const int tx = x / 8, ty = y / 8;
        p = kAlphas[ty % 4] << 24 | kColours[(tx + ty) % 4];
      } else if (name == "sky") {
        p = Argb(1.0, 0.1 + 0.3 * fy, 0.2 + 0.5 * fy, 0.5 + 0.5 * fy);
      } else {
        return {};
      }
      out[size_t(y) * width + x] = p;
    }
  }
  return out;
}

}  // namespace vekpic
