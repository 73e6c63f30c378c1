// Builds small DDS file images in memory for texture tests: DXT blocks or
// uncompressed 32-bit B, G, R, A pixels, with the header the library writes.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

// The demo's picture maker (vek_pictures); not support/pictures.h beside this file.
#include <pictures.h>

namespace testdds {

inline void Put32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  std::memcpy(out.data() + at, &v, 4);
}

inline uint32_t FourCC(const char* code) {
  return uint32_t(uint8_t(code[0])) | uint32_t(uint8_t(code[1])) << 8 |
         uint32_t(uint8_t(code[2])) << 16 | uint32_t(uint8_t(code[3])) << 24;
}

// Header and room for the payload; `fourcc` null means 32-bit pixels. The
// linear size names the whole level even when a test makes the file short.
inline std::vector<uint8_t> Header(uint32_t width, uint32_t height, const char* fourcc,
                                   size_t payload) {
  std::vector<uint8_t> out =
      vekpic::DdsHeader(static_cast<int>(width), static_cast<int>(height), fourcc, payload);
  const uint32_t blockBytes = fourcc && std::strcmp(fourcc, "DXT1") == 0 ? 8 : 16;
  Put32(out, 20, fourcc ? ((width + 3) / 4) * ((height + 3) / 4) * blockBytes : width * height * 4);
  return out;
}

// Every pixel the same A8R8G8B8 colour.
inline std::vector<uint8_t> Solid32(uint32_t width, uint32_t height, uint32_t argb) {
  std::vector<uint8_t> out = Header(width, height, nullptr, size_t(width) * height * 4);
  for (size_t i = 0; i < size_t(width) * height; ++i) Put32(out, 128 + 4 * i, argb);
  return out;
}

// DXT1 blocks all of one R5G6B5 colour (opaque four-colour mode).
inline std::vector<uint8_t> SolidDxt1(uint32_t width, uint32_t height, uint16_t rgb565) {
  const size_t blocks = size_t((width + 3) / 4) * ((height + 3) / 4);
  std::vector<uint8_t> out = Header(width, height, "DXT1", blocks * 8);
  for (size_t b = 0; b < blocks; ++b) {
    uint8_t* p = out.data() + 128 + 8 * b;
    p[0] = uint8_t(rgb565);
    p[1] = uint8_t(rgb565 >> 8);
    p[2] = 0;  // colour 1 black, so c0 > c1
    p[3] = 0;
    // indices 0: every texel colour 0
  }
  return out;
}

// A DXT file of the given blocks (row-major rows of blocks, as many as the
// caller gives: tests make short files too).
inline std::vector<uint8_t> DxtFile(uint32_t width, uint32_t height, const char* fourcc,
                                    const std::vector<uint8_t>& blocks) {
  std::vector<uint8_t> out = Header(width, height, fourcc, blocks.size());
  std::memcpy(out.data() + 128, blocks.data(), blocks.size());
  return out;
}

// `count` blocks of `blockBytes` bytes, each different from its neighbours
// (varied end colours, indices and alpha), deterministic for a seed.
inline std::vector<uint8_t> VariedBlocks(size_t count, size_t blockBytes, uint32_t seed = 1) {
  std::vector<uint8_t> out(count * blockBytes);
  uint32_t state = seed * 2654435761u + 12345u;
  for (uint8_t& b : out) {
    state = state * 1664525u + 1013904223u;
    b = uint8_t(state >> 24);
  }
  return out;
}

}  // namespace testdds
