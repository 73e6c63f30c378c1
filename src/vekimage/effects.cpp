#include "vekimage/effects.h"

#include <cstdio>
#include <cstring>

#include "host/host.h"
#include "vekimage/image_diagnostics.h"
#include "vekimage/dxt.h"
#include "vekimage/dxt_encode.h"

namespace {

enum Channel { kB = 0, kG = 1, kR = 2 };

// ---- Hue rotation steps --------------------------------------------------
// Sectors run red -> yellow (0..2 going round once, 3..5 the second half);
// a full step turns the colour by 60 degrees, a partial one by f of the
// spread. Right-hand sides use the values before the step.

void FullHueStep(INT sector, INT& r, INT& g, INT& b) {
  const INT r0 = r, g0 = g, b0 = b;
  switch (sector % 3) {
    case 0:
      r = r0 - g0 + b0;
      g = r0;
      break;
    case 1:
      r = b0;
      b = b0 - r0 + g0;
      break;
    default:
      g = r0 - b0 + g0;
      b = g0;
      break;
  }
}

void PartialHueStep(INT sector, INT f, INT& r, INT& g, INT& b) {
  const INT r0 = r, g0 = g, b0 = b;
  switch (sector) {
    case 0:
      if (g0 - f >= r0) {
        g = g0 - f;
      } else {
        r = 2 * r0 - g0 + f;
        g = r0;
      }
      break;
    case 1:
      if (r0 + f <= b0) {
        r = r0 + f;
      } else {
        b = 2 * b0 - r0 - f;
        r = b0;
      }
      break;
    case 2:
      if (b0 - f >= g0) {
        b = b0 - f;
      } else {
        g = 2 * g0 - b0 + f;
        b = g0;
      }
      break;
    case 3:
      if (g0 + f <= r0) {
        g = g0 + f;
      } else {
        r = 2 * r0 - g0 - f;
        g = r0;
      }
      break;
    case 4:
      if (r0 - f >= b0) {
        r = r0 - f;
      } else {
        b = 2 * b0 - r0 + f;
        r = b0;
      }
      break;
    default:
      if (b0 + f <= g0) {
        b = b0 + f;
      } else {
        g = 2 * g0 - b0 - f;
        b = g0;
      }
      break;
  }
}

// ---- Walking the kept data -----------------------------------------------

bool InWindow(INT alpha, INT lo, INT hi) { return lo <= alpha && alpha <= hi; }

// Whole units of `unit` bytes the kept data hold after the header, at most
// `wanted`: short data end at their last whole row or block.
UINT WholeUnits(const VekTexture& t, unsigned long long wanted, UINT unit) {
  if (!t.data || unit == 0 || t.dataSize < kDdsHeaderSize) return 0;
  const unsigned long long held = (t.dataSize - kDdsHeaderSize) / unit;
  return static_cast<UINT>(wanted < held ? wanted : held);
}

void ApplyToPixels(VekTexture& t, INT p, INT lo, INT hi, PixelOperation op) {
  const unsigned long long rowBytes = static_cast<unsigned long long>(t.width) * 4;
  if (rowBytes == 0 || rowBytes > 0xFFFFFFFFu) return;
  const UINT rows = WholeUnits(t, t.height, static_cast<UINT>(rowBytes));
  BYTE* pixel = t.data + kDdsHeaderSize;
  const size_t count = static_cast<size_t>(rows) * t.width;
  for (size_t i = 0; i < count; ++i, pixel += 4)
    if (InWindow(pixel[3], lo, hi)) op(pixel, p);
}

UINT ReadColour(const BYTE* c) { return c[0] | c[1] << 8; }
void WriteColour(BYTE* c, UINT v) {
  c[0] = static_cast<BYTE>(v);
  c[1] = static_cast<BYTE>(v >> 8);
}

UINT RecolourEndPoint(UINT c, INT p, PixelOperation op) {
  const UINT b5 = c & 0x1F, g6 = (c >> 5) & 0x3F, r5 = (c >> 11) & 0x1F;
  BYTE px[4] = {static_cast<BYTE>(b5 * 8 + b5 / 4), static_cast<BYTE>(g6 * 4 + g6 / 16),
                static_cast<BYTE>(r5 * 8 + r5 / 4), 255};
  op(px, p);
  return static_cast<UINT>(px[kR] >> 3) << 11 | static_cast<UINT>(px[kG] >> 2) << 5 |
         static_cast<UINT>(px[kB] >> 3);
}

// Rewrites every 2-bit index of the four index bytes through `map`.
void RemapIndices(BYTE* indices, const BYTE map[4]) {
  for (UINT row = 0; row < 4; ++row) {
    UINT bits = 0;
    for (UINT x = 0; x < 4; ++x)
      bits |= static_cast<UINT>(map[(indices[row] >> (2 * x)) & 3]) << (2 * x);
    indices[row] = static_cast<BYTE>(bits);
  }
}

// Recolours the two end points of one colour half. The palette mode is
// kept: DXT1 and DXT3 decode c0 > c1 as four colours and c0 <= c1 as three
// (index 3 transparent for DXT1), so when the recoloured ends change that
// order they are swapped back and the indices remapped, and each pixel keeps
// its palette entry. DXT5 colour halves always have four colours, so their
// indices never change.
void RecolourEndPoints(BYTE* colour, INT compression, INT p, PixelOperation op) {
  const UINT old0 = ReadColour(colour), old1 = ReadColour(colour + 2);
  UINT c0 = RecolourEndPoint(old0, p, op), c1 = RecolourEndPoint(old1, p, op);
  if (compression != kCompressionDxt5) {
    static constexpr BYTE kSwapFour[4] = {1, 0, 3, 2};   // P2 = 1/3 of the way becomes P3
    static constexpr BYTE kSwapThree[4] = {1, 0, 2, 3};  // midpoint and index 3 stay
    static constexpr BYTE kEqualFour[4] = {0, 0, 0, 0};  // every entry is the one colour
    if (old0 > old1) {
      if (c0 < c1) {
        const UINT t = c0;
        c0 = c1;
        c1 = t;
        RemapIndices(colour + 4, kSwapFour);
      } else if (c0 == c1) {
        RemapIndices(colour + 4, kEqualFour);
      }
    } else if (c0 > c1) {
      const UINT t = c0;
      c0 = c1;
      c1 = t;
      RemapIndices(colour + 4, kSwapThree);
    }
  }
  WriteColour(colour, c0);
  WriteColour(colour + 2, c1);
}

void ApplyToBlocks(VekTexture& t, INT p, INT lo, INT hi, PixelOperation op) {
  const INT compression = t.compression;
  const UINT blockBytes = DxtBlockBytes(compression);
  const unsigned long long levelBlocks =
      static_cast<unsigned long long>(DxtBlocksAcross(t.width)) * DxtBlocksAcross(t.height);
  const UINT blocks = WholeUnits(t, levelBlocks, blockBytes);
  const UINT colourAt = compression == kCompressionDxt1 ? 0 : 8;
  BYTE* block = t.data + kDdsHeaderSize;

  if (lo <= 1 && hi >= 255) {
    for (UINT i = 0; i < blocks; ++i, block += blockBytes)
      RecolourEndPoints(block + colourAt, compression, p, op);
    return;
  }

  BYTE pixels[kBlockPixels * 4];
  for (UINT i = 0; i < blocks; ++i, block += blockBytes) {
    std::memset(pixels, 0, sizeof pixels);
    switch (compression) {
      case kCompressionDxt1:
        DecodeColourBlock(pixels, block, kCompressionDxt1);
        break;
      case kCompressionDxt3:
        DecodeExplicitAlpha(pixels, block);
        break;
      default:
        DecodeInterpolatedAlpha(pixels, block);
        break;
    }
    UINT affected = 0;
    for (UINT k = 0; k < kBlockPixels; ++k) affected += InWindow(pixels[k * 4 + 3], lo, hi);
    if (!affected) continue;
    if (compression != kCompressionDxt1) DecodeColourBlock(pixels, block + colourAt, compression);
    for (UINT k = 0; k < kBlockPixels; ++k)
      if (InWindow(pixels[k * 4 + 3], lo, hi)) op(pixels + k * 4, p);
    // The alpha half of DXT3 and DXT5 blocks is left as it was: no effect
    // changes alpha, and encoding it again could only lose precision.
    EncodeColourBlock(block + colourAt, pixels, compression);
  }
}

}  // namespace

void GreyPixel(BYTE* px, INT) {
  const BYTE v = static_cast<BYTE>((px[kB] + px[kG] + px[kR]) / 3);
  px[kB] = px[kG] = px[kR] = v;
}

void BrightenPixel(BYTE* px, INT level) {
  // Beyond +-100 the formulas leave 0..255; the ends are white and black.
  if (level > 100) level = 100;
  if (level < -100) level = -100;
  for (int ch = kR; ch >= kB; --ch) {
    const INT c = px[ch];
    if (level > 0)
      px[ch] = static_cast<BYTE>(c + ((255 - c) * level) / 100);
    else if (level < 0)
      px[ch] = static_cast<BYTE>(((level + 100) * c) / 100);
  }
}

void HueRotatePixel(BYTE* px, INT degrees) {
  INT r = px[kR], g = px[kG], b = px[kB];
  INT n = degrees / 60;
  const INT rest = degrees % 60;
  INT sector, spread;
  if (r < g) {
    if (g < b) {
      sector = 0;
      spread = b - r;
    } else if (r < b) {
      sector = 5;
      spread = g - r;
    } else {
      sector = 4;
      spread = g - b;
    }
  } else if (g > b) {
    sector = 3;
    spread = r - b;
  } else if (r < b) {
    sector = 1;
    spread = b - g;
  } else {
    sector = 2;
    spread = r - g;
  }
  // The remainder is taken as a share of 64 rather than 60.
  const INT f = (spread * rest) >> 6;
  while (n > 0) {
    FullHueStep(sector, r, g, b);
    --n;
    sector = (sector + 1) % 6;
  }
  PartialHueStep(sector, f, r, g, b);
  px[kR] = static_cast<BYTE>(r);
  px[kG] = static_cast<BYTE>(g);
  px[kB] = static_cast<BYTE>(b);
}

void SwapChannelsPixel(BYTE* px, INT type) {
  const BYTE r = px[kR], g = px[kG], b = px[kB];
  BYTE nr = r, ng = g, nb = b;
  switch (type) {
    case 1:
      ng = b;
      nb = g;
      break;
    case 2:
      nr = g;
      ng = r;
      break;
    case 3:
      nr = g;
      ng = b;
      nb = r;
      break;
    case 4:
      nr = b;
      nb = r;
      break;
    case 5:
      nr = b;
      ng = r;
      nb = g;
      break;
    default:
      break;
  }
  px[kR] = nr;
  px[kG] = ng;
  px[kB] = nb;
}

INT ApplyImageEffect(VekImage* image, INT parameter, INT lo, INT hi, PixelOperation op) {
  if (!image) return -1;
  VekTexture& t = image->texture;
  if (DxtBlockBytes(t.compression))
    ApplyToBlocks(t, parameter, lo, hi, op);
  else
    ApplyToPixels(t, parameter, lo, hi, op);
  return 1;
}

namespace {

INT Lo(INT a, INT b) { return a < b ? a : b; }
INT Hi(INT a, INT b) { return a < b ? b : a; }

// A refusal: its line on standard output, -5 as the last error, result 0.
INT Refuse(ImageLine line, ImageErr error, LONG detail = 0) {
  ImagePrint(line);
  ImageError(error, detail);
  return 0;
}

// The printed and recorded rows of one effect's common refusals.
struct EffectRefusals {
  ImageLine nullLine, textureLine, noDataLine;
  ImageErr null, texture, noData;
};
constexpr EffectRefusals kGray = {ImageLine::kGrayNull, ImageLine::kGrayTexture,
                                  ImageLine::kGrayNoData, ImageErr::kGrayNull,
                                  ImageErr::kGrayTexture, ImageErr::kGrayNoData};
constexpr EffectRefusals kBright = {ImageLine::kBrightNull, ImageLine::kBrightTexture,
                                    ImageLine::kBrightNoData, ImageErr::kBrightNull,
                                    ImageErr::kBrightTexture, ImageErr::kBrightNoData};
constexpr EffectRefusals kHue = {ImageLine::kHueNull, ImageLine::kHueTexture,
                                 ImageLine::kHueNoData, ImageErr::kHueNull,
                                 ImageErr::kHueTexture, ImageErr::kHueNoData};
constexpr EffectRefusals kConvert = {ImageLine::kConvertNull, ImageLine::kConvertTexture,
                                     ImageLine::kConvertNoData, ImageErr::kConvertNull,
                                     ImageErr::kConvertTexture, ImageErr::kConvertNoData};

// The checks every effect makes on the image, after its own (the null image
// is checked by the caller, since some effects check arguments in between):
// a pending image (no texture yet) with data. False after a refusal.
bool Pending(const VekImage* image, const EffectRefusals& r) {
  if (image->texture.tex) return Refuse(r.textureLine, r.texture);
  if (!image->texture.data) return Refuse(r.noDataLine, r.noData);
  return true;
}

}  // namespace

INT GrayImage(VekImage* image, INT a, INT b) {
  if (!image) return Refuse(kGray.nullLine, kGray.null);
  if (!Pending(image, kGray)) return 0;
  return ApplyImageEffect(image, 0, Lo(a, b), Hi(a, b), GreyPixel);
}

INT BrightImage(VekImage* image, INT level, INT a, INT b) {
  if (!image) return Refuse(kBright.nullLine, kBright.null);
  if (!Pending(image, kBright)) return 0;
  if (level == 0) return 1;
  return ApplyImageEffect(image, level, Lo(a, b), Hi(a, b), BrightenPixel);
}

INT HueImage(VekImage* image, UINT degrees, INT a, INT b) {
  if (degrees > 359) {
    ImagePrint(ImageLine::kHueDegrees, static_cast<int>(degrees));
    ImageError(ImageErr::kHueDegrees, static_cast<LONG>(degrees));
    return 0;
  }
  if (!image) return Refuse(kHue.nullLine, kHue.null);
  if (!Pending(image, kHue)) return 0;
  if (degrees == 0) return 1;
  return ApplyImageEffect(image, static_cast<INT>(degrees), Lo(a, b), Hi(a, b), HueRotatePixel);
}

INT ConvertRGBImage(VekImage* image, UINT type, INT a, INT b) {
  if (!image) return Refuse(kConvert.nullLine, kConvert.null);
  if (type > 5)
    return Refuse(ImageLine::kConvertType, ImageErr::kConvertType, static_cast<LONG>(type));
  if (!Pending(image, kConvert)) return 0;
  if (type == 0) return 1;
  return ApplyImageEffect(image, static_cast<INT>(type), Lo(a, b), Hi(a, b), SwapChannelsPixel);
}
