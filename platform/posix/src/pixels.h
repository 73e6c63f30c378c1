// Colour formats as 8-bit-per-channel ARGB values: packing into and reading
// out of the target formats, and decoding whole texture levels (plain and
// DXT) into A8R8G8B8 texels for sampling.
//
// Rounding: a channel of n bits is packed from 8 bits as (c * (2^n - 1) +
// 127) / 255 (round to nearest) and read back by bit replication, so every
// packed value survives a round trip. A 1-bit alpha is set for c >= 128.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "resources.h"

namespace vrt::d3d {

// Formats the rasteriser writes: A8R8G8B8, X8R8G8B8, R5G6B5, X1R5G5B5,
// A1R5G5B5, A4R4G4B4. X bits are stored as the alpha would be.
bool IsWritableColorFormat(D3DFORMAT format);
uint32_t PackColor(D3DFORMAT format, uint32_t argb);
// Formats without alpha read as opaque.
uint32_t UnpackColor(D3DFORMAT format, uint32_t raw);
// The packed bits holding each channel enabled in `mask` (D3DCOLORWRITEENABLE_*).
uint32_t ChannelBits(D3DFORMAT format, uint32_t mask);
UINT BytesPerPixel(D3DFORMAT format);

// Depth-stencil formats: bits of depth and stencil and where they sit.
struct DepthLayout {
  UINT bytes = 0;  // 2 or 4
  UINT depthBits = 0;
  UINT depthShift = 0;
  UINT stencilBits = 0;  // stencil sits in the low bits
};

// A 16- or 32-bit pixel (or depth value) at `at`, unaligned.
inline uint32_t LoadPixel(const BYTE* at, UINT bytes) {
  if (bytes == 2) {
    uint16_t v;
    std::memcpy(&v, at, 2);
    return v;
  }
  uint32_t v;
  std::memcpy(&v, at, 4);
  return v;
}

inline void StorePixel(BYTE* at, UINT bytes, uint32_t v) {
  if (bytes == 2) {
    const uint16_t w = static_cast<uint16_t>(v);
    std::memcpy(at, &w, 2);
  } else {
    std::memcpy(at, &v, 4);
  }
}

bool DescribeDepth(D3DFORMAT format, DepthLayout* out);
// z in 0..1 as the stored integer: round(z * (2^bits - 1)); NaN is 0.
inline uint32_t QuantizeDepth(float z, UINT bits) {
  const double max = bits >= 32 ? 4294967295.0 : static_cast<double>((1u << bits) - 1);
  const double zc = z > 0.0f ? (z < 1.0f ? static_cast<double>(z) : 1.0) : 0.0;
  return static_cast<uint32_t>(zc * max + 0.5);
}

// Level `surface` as A8R8G8B8 texels, row-major; false for formats that
// cannot be sampled.
bool DecodeSurface(Surface* surface, std::vector<uint32_t>* texels);

}  // namespace vrt::d3d
