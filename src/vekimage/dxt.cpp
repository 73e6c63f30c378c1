#include "vekimage/dxt.h"

#include <cstring>

namespace {

struct Bgr {
  INT b, g, r;
};

Bgr Expand565(UINT c) {
  const INT b5 = c & 0x1F, g6 = (c >> 5) & 0x3F, r5 = (c >> 11) & 0x1F;
  return {b5 * 8 + b5 / 4, g6 * 4 + g6 / 16, r5 * 8 + r5 / 4};
}

// a + k/255 of the way to b, rounded; t may be negative, so the shifts are
// arithmetic.
INT Mix(INT a, INT b, INT k) {
  const INT t = (b - a) * k + 128;
  return a + ((t + (t >> 8)) >> 8);
}

Bgr Mix(const Bgr& a, const Bgr& b, INT k) {
  return {Mix(a.b, b.b, k), Mix(a.g, b.g, k), Mix(a.r, b.r, k)};
}

}  // namespace

void DecodeColourBlock(BYTE* pixels, const BYTE* block, INT compression) {
  const UINT c0 = block[0] | block[1] << 8;
  const UINT c1 = block[2] | block[3] << 8;
  Bgr palette[4];
  palette[0] = Expand565(c0);
  palette[1] = Expand565(c1);
  const bool fourColours = c0 > c1 || compression == kCompressionDxt5;
  if (fourColours) {
    palette[2] = Mix(palette[0], palette[1], 85);
    palette[3] = Mix(palette[0], palette[1], 170);
  } else {
    palette[2] = {(palette[0].b + palette[1].b + 1) >> 1, (palette[0].g + palette[1].g + 1) >> 1,
                  (palette[0].r + palette[1].r + 1) >> 1};
    palette[3] = {255, 255, 255};
  }
  for (UINT row = 0; row < 4; ++row) {
    const UINT bits = block[4 + row];
    for (UINT x = 0; x < 4; ++x) {
      const UINT index = (bits >> (2 * x)) & 3;
      BYTE* p = pixels + (row * 4 + x) * 4;
      p[0] = static_cast<BYTE>(palette[index].b);
      p[1] = static_cast<BYTE>(palette[index].g);
      p[2] = static_cast<BYTE>(palette[index].r);
      if (compression == kCompressionDxt1) p[3] = (c0 <= c1 && index == 3) ? 0 : 255;
    }
  }
}

void DecodeExplicitAlpha(BYTE* pixels, const BYTE* block) {
  for (UINT row = 0; row < 4; ++row) {
    const UINT word = block[2 * row] | block[2 * row + 1] << 8;
    for (UINT x = 0; x < 4; ++x)
      pixels[(row * 4 + x) * 4 + 3] = static_cast<BYTE>(((word >> (4 * x)) & 0xF) * 17);
  }
}

void DecodeInterpolatedAlpha(BYTE* pixels, const BYTE* block) {
  const UINT a0 = block[0], a1 = block[1];
  UINT values[8];
  values[0] = a0;
  values[1] = a1;
  if (a0 > a1) {
    for (UINT k = 2; k < 8; ++k) values[k] = ((8 - k) * a0 + (k - 1) * a1) / 7;
  } else {
    for (UINT k = 2; k < 6; ++k) values[k] = ((6 - k) * a0 + (k - 1) * a1) / 5;
    values[6] = 0;
    values[7] = 255;
  }
  unsigned long long field = 0;
  for (UINT i = 0; i < 6; ++i) field |= static_cast<unsigned long long>(block[2 + i]) << (8 * i);
  for (UINT i = 0; i < kBlockPixels; ++i)
    pixels[i * 4 + 3] = static_cast<BYTE>(values[(field >> (3 * i)) & 7]);
}

void DecodeDxtBlock(BYTE* pixels, const BYTE* block, INT compression) {
  std::memset(pixels, 0, kBlockPixels * 4);
  switch (compression) {
    case kCompressionDxt1:
      DecodeColourBlock(pixels, block, compression);
      break;
    case kCompressionDxt3:
      DecodeExplicitAlpha(pixels, block);
      DecodeColourBlock(pixels, block + 8, compression);
      break;
    case kCompressionDxt5:
      DecodeInterpolatedAlpha(pixels, block);
      DecodeColourBlock(pixels, block + 8, compression);
      break;
    default:
      break;
  }
}
