// Pixel layouts of the formats the D3DX subset reads and writes, and the
// little-endian helpers its file code shares. Internal to src/d3dx.
#pragma once

#include <d3d8.h>

#include <cstdint>
#include <cstring>

namespace d3dx {

// Storage of one format: blocks of blockSize x blockSize texels taking
// blockBytes bytes (1 x 1 for plain pixel formats).
struct Layout {
  UINT blockSize = 0;  // 0: a format this library does not handle
  UINT blockBytes = 0;
};

inline Layout LayoutOf(D3DFORMAT format) {
  switch (format) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8:
      return {1, 4};
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
    case D3DFMT_A4R4G4B4:
      return {1, 2};
    case D3DFMT_DXT1:
      return {4, 8};
    case D3DFMT_DXT3:
    case D3DFMT_DXT5:
      return {4, 16};
    default:
      return {};
  }
}

inline bool IsBlockFormat(D3DFORMAT format) { return LayoutOf(format).blockSize == 4; }

// Blocks across (or down) for a size in texels.
inline UINT BlockCount(UINT texels, UINT blockSize) {
  return texels / blockSize + (texels % blockSize ? 1u : 0u);
}

inline uint32_t ReadU32(const BYTE* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline uint16_t ReadU16(const BYTE* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline void WriteU32(BYTE* p, uint32_t v) {
  p[0] = static_cast<BYTE>(v);
  p[1] = static_cast<BYTE>(v >> 8);
  p[2] = static_cast<BYTE>(v >> 16);
  p[3] = static_cast<BYTE>(v >> 24);
}
inline void WriteU16(BYTE* p, uint16_t v) {
  p[0] = static_cast<BYTE>(v);
  p[1] = static_cast<BYTE>(v >> 8);
}

// DDS header fields (offsets from the start of the file, after "DDS ").
inline constexpr UINT kDdsHeaderBytes = 128;
inline constexpr DWORD kDdsdCaps = 0x1, kDdsdHeight = 0x2, kDdsdWidth = 0x4, kDdsdPitch = 0x8,
                       kDdsdPixelFormat = 0x1000, kDdsdMipMapCount = 0x20000,
                       kDdsdLinearSize = 0x80000, kDdsdDepth = 0x800000;
inline constexpr DWORD kDdpfAlphaPixels = 0x1, kDdpfFourCC = 0x4, kDdpfRgb = 0x40;
inline constexpr DWORD kDdsCapsTexture = 0x1000;
inline constexpr DWORD kDdsCaps2CubeMap = 0x200, kDdsCaps2Volume = 0x200000;

// Offsets of the header's fields from the start of the file.
inline constexpr UINT kDdsOffFlags = 8, kDdsOffHeight = 12, kDdsOffWidth = 16,
                      kDdsOffPitchOrLinearSize = 20, kDdsOffDepth = 24, kDdsOffMipCount = 28,
                      kDdsOffPixelFlags = 80, kDdsOffFourCC = 84, kDdsOffBitCount = 88,
                      kDdsOffRedMask = 92, kDdsOffCaps = 108, kDdsOffCaps2 = 112;

// The fields a written header sets; the others stay zero.
struct DdsHeader {
  DWORD flags;
  DWORD height, width;
  DWORD pitchOrLinearSize;
  DWORD pixelFlags;
  DWORD fourCC;
  DWORD bitCount;
  DWORD masks[4];  // red, green, blue, alpha
  DWORD caps;
};

// Writes a whole 128-byte header: the signature, both structure sizes and
// the fields.
inline void WriteDdsHeader(BYTE* h, const DdsHeader& f) {
  std::memset(h, 0, kDdsHeaderBytes);
  std::memcpy(h, "DDS ", 4);
  WriteU32(h + 4, 124);
  WriteU32(h + kDdsOffFlags, f.flags);
  WriteU32(h + kDdsOffHeight, f.height);
  WriteU32(h + kDdsOffWidth, f.width);
  WriteU32(h + kDdsOffPitchOrLinearSize, f.pitchOrLinearSize);
  WriteU32(h + 76, 32);
  WriteU32(h + kDdsOffPixelFlags, f.pixelFlags);
  WriteU32(h + kDdsOffFourCC, f.fourCC);
  WriteU32(h + kDdsOffBitCount, f.bitCount);
  for (int i = 0; i < 4; ++i) WriteU32(h + kDdsOffRedMask + 4 * i, f.masks[i]);
  WriteU32(h + kDdsOffCaps, f.caps);
}

}  // namespace d3dx
