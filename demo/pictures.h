// Pictures for the demo, the differential scenes and the fuzzer's seeds,
// made in memory from A8R8G8B8 pixels: PNG, JPEG, BMP, DDS with DXT1, DXT3
// or DXT5 blocks, and uncompressed 32-bit DDS.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vekpic {

enum class Format { kPng, kJpeg, kBmp, kDxt1, kDxt3, kDxt5, kDds32 };

// "png", "jpeg", "bmp", "dxt1", "dxt3", "dxt5", "dds32"; false for others.
bool ParseFormat(const std::string& name, Format* format);

// Pixels are A8R8G8B8, rows top-down, width * height of them. JPEG and BMP
// drop alpha. DXT formats need sides that are multiples of 4. Empty on
// failure (bad sizes, encoder failure).
std::vector<uint8_t> Encode(Format format, int width, int height,
                            const std::vector<uint32_t>& argb);

// A 128-byte DDS header followed by `payload` zero bytes: DXT blocks under
// `fourcc` ("DXT1", "DXT3", "DXT5"), or uncompressed 32-bit B, G, R, A
// pixels when `fourcc` is null. The linear size field is `payload`.
std::vector<uint8_t> DdsHeader(int width, int height, const char* fourcc, size_t payload);

// Named test patterns, A8R8G8B8; empty for an unknown name or a bad size.
//   rings     concentric colour rings over a diagonal gradient, opaque
//   glow      a white disc fading to transparent at its edge, tinted by y
//   tiles     8 x 8 texel tiles of four colours, alpha per tile row
//              (0xFF, 0xC0, 0x80, 0x40)
//   sky       a smooth vertical gradient, opaque
std::vector<uint32_t> Pattern(const std::string& name, int width, int height);

}  // namespace vekpic
