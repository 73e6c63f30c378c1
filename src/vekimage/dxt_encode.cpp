#include "vekimage/dxt_encode.h"

#include <cstring>

#include "vekimage/dxt.h"

// stb_dxt, compiled into this unit only. Its one maths call is an absolute
// value, given here so that no maths library is linked and both builds run
// the same instructions.
namespace {
inline float AbsFloat(float x) { return x < 0.0f ? -x : x; }
}  // namespace
#define STBD_FABS(x) AbsFloat(x)
#define STB_DXT_STATIC
#define STB_DXT_IMPLEMENTATION
#include <stb_dxt.h>

namespace {

struct Rgb {
  INT r, g, b;
};

INT Clamp255(INT v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

UINT Pack565(const Rgb& c) {
  const UINT r = static_cast<UINT>(Clamp255(c.r) * 31 + 127) / 255;
  const UINT g = static_cast<UINT>(Clamp255(c.g) * 63 + 127) / 255;
  const UINT b = static_cast<UINT>(Clamp255(c.b) * 31 + 127) / 255;
  return r << 11 | g << 5 | b;
}

// Bit replication, as the decoder expands end points.
Rgb Expand565(UINT c) {
  const INT b5 = c & 0x1F, g6 = (c >> 5) & 0x3F, r5 = (c >> 11) & 0x1F;
  return {r5 * 8 + r5 / 4, g6 * 4 + g6 / 16, b5 * 8 + b5 / 4};
}

bool Transparent(const BYTE* pixels, UINT i) { return pixels[i * 4 + 3] < 128; }

INT Distance(const Rgb& c, const BYTE* px) {
  const INT db = c.b - px[0], dg = c.g - px[1], dr = c.r - px[2];
  return db * db + dg * dg + dr * dr;
}

// Nearest three-colour palette entry of each opaque pixel; the block's
// squared error.
INT FitThreeColour(const BYTE* pixels, UINT c0, UINT c1, BYTE* indices) {
  const Rgb p0 = Expand565(c0), p1 = Expand565(c1);
  const Rgb palette[3] = {
      p0, p1, {(p0.r + p1.r + 1) >> 1, (p0.g + p1.g + 1) >> 1, (p0.b + p1.b + 1) >> 1}};
  INT error = 0;
  for (UINT i = 0; i < kBlockPixels; ++i) {
    if (Transparent(pixels, i)) {
      indices[i] = 3;
      continue;
    }
    const BYTE* px = pixels + i * 4;
    INT best = Distance(palette[0], px);
    BYTE index = 0;
    for (BYTE k = 1; k < 3; ++k) {
      const INT d = Distance(palette[k], px);
      if (d < best) {
        best = d;
        index = k;
      }
    }
    indices[i] = index;
    error += best;
  }
  return error;
}

// Rounded quotient for any signs, den > 0.
INT RoundDiv(INT num, INT den) {
  return num >= 0 ? (num + den / 2) / den : -((-num + den / 2) / den);
}

// Least-squares end points for the given indices: each opaque pixel is
// (2 - w) / 2 of end 0 plus w / 2 of end 1, w = 0, 2 or 1 for index 0, 1, 2.
// False when the indices do not determine two ends.
bool SolveEnds(const BYTE* pixels, const BYTE* indices, Rgb* e0, Rgb* e1) {
  static constexpr INT kWeight[3] = {0, 2, 1};
  INT a = 0, b = 0, c = 0;
  INT xa[3] = {}, xb[3] = {};
  for (UINT i = 0; i < kBlockPixels; ++i) {
    if (indices[i] == 3) continue;
    const INT w = kWeight[indices[i]], v = 2 - w;
    a += v * v;
    b += v * w;
    c += w * w;
    const BYTE* px = pixels + i * 4;
    for (UINT ch = 0; ch < 3; ++ch) {
      xa[ch] += v * 2 * px[2 - ch];  // ch 0 red, 1 green, 2 blue
      xb[ch] += w * 2 * px[2 - ch];
    }
  }
  const INT det = a * c - b * b;
  if (det <= 0) return false;
  INT ends[2][3];
  for (UINT ch = 0; ch < 3; ++ch) {
    ends[0][ch] = Clamp255(RoundDiv(c * xa[ch] - b * xb[ch], det));
    ends[1][ch] = Clamp255(RoundDiv(a * xb[ch] - b * xa[ch], det));
  }
  *e0 = {ends[0][0], ends[0][1], ends[0][2]};
  *e1 = {ends[1][0], ends[1][1], ends[1][2]};
  return true;
}

// The corners of the opaque pixels' bounding box along its main diagonal:
// the channel with the widest range runs from low to high, the others in
// the direction they vary with it.
void BoxEnds(const BYTE* pixels, Rgb* e0, Rgb* e1) {
  INT lo[3] = {255, 255, 255}, hi[3] = {0, 0, 0}, sum[3] = {0, 0, 0}, count = 0;
  for (UINT i = 0; i < kBlockPixels; ++i) {
    if (Transparent(pixels, i)) continue;
    for (UINT ch = 0; ch < 3; ++ch) {
      const INT v = pixels[i * 4 + 2 - ch];
      if (v < lo[ch]) lo[ch] = v;
      if (v > hi[ch]) hi[ch] = v;
      sum[ch] += v;
    }
    ++count;
  }
  UINT major = 0;
  for (UINT ch = 1; ch < 3; ++ch)
    if (hi[ch] - lo[ch] > hi[major] - lo[major]) major = ch;
  INT from[3], to[3];
  for (UINT ch = 0; ch < 3; ++ch) {
    // Sign of the covariance with the major channel (scaled by count
    // squared so it stays in integers; at most 16 x 4080 x 4080).
    INT covariance = 0;
    for (UINT i = 0; i < kBlockPixels; ++i) {
      if (Transparent(pixels, i)) continue;
      covariance += (pixels[i * 4 + 2 - major] * count - sum[major]) *
                    (pixels[i * 4 + 2 - ch] * count - sum[ch]);
    }
    from[ch] = covariance < 0 ? hi[ch] : lo[ch];
    to[ch] = covariance < 0 ? lo[ch] : hi[ch];
  }
  *e0 = {from[0], from[1], from[2]};
  *e1 = {to[0], to[1], to[2]};
}

void WriteColourBlock(BYTE* block, UINT c0, UINT c1, const BYTE* indices) {
  block[0] = static_cast<BYTE>(c0);
  block[1] = static_cast<BYTE>(c0 >> 8);
  block[2] = static_cast<BYTE>(c1);
  block[3] = static_cast<BYTE>(c1 >> 8);
  for (UINT row = 0; row < 4; ++row) {
    UINT bits = 0;
    for (UINT x = 0; x < 4; ++x) bits |= static_cast<UINT>(indices[row * 4 + x]) << (2 * x);
    block[4 + row] = static_cast<BYTE>(bits);
  }
}

}  // namespace

void EncodeThreeColourBlock(BYTE* block, const BYTE* pixels) {
  BYTE indices[kBlockPixels];
  bool anyOpaque = false;
  for (UINT i = 0; i < kBlockPixels; ++i) anyOpaque = anyOpaque || !Transparent(pixels, i);
  if (!anyOpaque) {
    std::memset(indices, 3, sizeof indices);
    WriteColourBlock(block, 0, 0, indices);
    return;
  }
  Rgb e0, e1;
  BoxEnds(pixels, &e0, &e1);
  UINT best0 = Pack565(e0), best1 = Pack565(e1);
  BYTE bestIndices[kBlockPixels];
  INT bestError = FitThreeColour(pixels, best0, best1, bestIndices);
  // Two least-squares refinements, each kept only when it lowers the error.
  std::memcpy(indices, bestIndices, sizeof indices);
  for (int pass = 0; pass < 2 && bestError > 0; ++pass) {
    if (!SolveEnds(pixels, indices, &e0, &e1)) break;
    const UINT c0 = Pack565(e0), c1 = Pack565(e1);
    const INT error = FitThreeColour(pixels, c0, c1, indices);
    if (error >= bestError) break;
    bestError = error;
    best0 = c0;
    best1 = c1;
    std::memcpy(bestIndices, indices, sizeof indices);
  }
  // The three-colour mode needs c0 <= c1; swapping the ends swaps indices 0
  // and 1 (the midpoint and the transparent index stay).
  if (best0 > best1) {
    const UINT t = best0;
    best0 = best1;
    best1 = t;
    for (BYTE& index : bestIndices)
      if (index < 2) index ^= 1;
  }
  WriteColourBlock(block, best0, best1, bestIndices);
}

void EncodeColourBlock(BYTE* block, const BYTE* pixels, INT compression) {
  if (compression == kCompressionDxt1) {
    for (UINT i = 0; i < kBlockPixels; ++i) {
      if (Transparent(pixels, i)) {
        EncodeThreeColourBlock(block, pixels);
        return;
      }
    }
  }
  // stb_dxt reads R, G, B, A; alpha is not part of a colour half.
  BYTE rgba[kBlockPixels * 4];
  for (UINT i = 0; i < kBlockPixels; ++i) {
    rgba[i * 4 + 0] = pixels[i * 4 + 2];
    rgba[i * 4 + 1] = pixels[i * 4 + 1];
    rgba[i * 4 + 2] = pixels[i * 4 + 0];
    rgba[i * 4 + 3] = 255;
  }
  stb_compress_dxt_block(block, rgba, 0, STB_DXT_HIGHQUAL);
}
