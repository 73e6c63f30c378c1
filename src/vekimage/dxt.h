// Decoding of DXT1, DXT3 and DXT5 blocks into 16 B, G, R, A pixels, the
// way pixels of kept DXT pictures and of locked DXT textures are read.
#pragma once

#include <windows.h>

// Pixel layout of kept picture data (VekTexture::compression).
enum ImageCompression : INT {
  kCompressionNone = 1,
  kCompressionDxt1 = 2,
  kCompressionDxt3 = 3,
  kCompressionDxt5 = 4,
};

inline constexpr UINT kBlockPixels = 16;

// Bytes per 4 x 4 block: 8 for DXT1, 16 for DXT3 and DXT5, 0 otherwise.
inline UINT DxtBlockBytes(INT compression) {
  if (compression == kCompressionDxt1) return 8;
  if (compression == kCompressionDxt3 || compression == kCompressionDxt5) return 16;
  return 0;
}
// Blocks across (or down) a side; a partial block at the edge counts.
inline UINT DxtBlocksAcross(UINT pixels) { return pixels / 4 + (pixels % 4 != 0); }

// The colour half of a block (8 bytes) into B, G, R of pixels[16 * 4]; alpha
// is written only for DXT1 (its one-bit transparency).
void DecodeColourBlock(BYTE* pixels, const BYTE* block, INT compression);
// DXT3's explicit 4-bit alpha (8 bytes) into the A bytes.
void DecodeExplicitAlpha(BYTE* pixels, const BYTE* block);
// DXT5's interpolated alpha (8 bytes) into the A bytes.
void DecodeInterpolatedAlpha(BYTE* pixels, const BYTE* block);
// A whole block of the given compression, zero-filled first.
void DecodeDxtBlock(BYTE* pixels, const BYTE* block, INT compression);
