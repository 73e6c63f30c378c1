// Pixel packing and texture decoding; see pixels.h for the rounding rules.
#include "pixels.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vrt::d3d {

namespace {

inline uint32_t Ch(uint32_t argb, int shift) { return (argb >> shift) & 0xFF; }
inline uint32_t Narrow(uint32_t c, uint32_t bits) {
  const uint32_t max = (1u << bits) - 1;
  return (c * max + 127) / 255;
}
inline uint32_t Widen(uint32_t v, uint32_t bits) {
  // Bit replication: the top bits repeated into the low ones.
  uint32_t out = 0;
  int shift = 8 - static_cast<int>(bits);
  while (shift > -static_cast<int>(bits)) {
    out |= shift >= 0 ? v << shift : v >> -shift;
    shift -= static_cast<int>(bits);
  }
  return out & 0xFF;
}

uint32_t Expand565(uint32_t c) {
  return 0xFF000000u | Widen((c >> 11) & 31, 5) << 16 | Widen((c >> 5) & 63, 6) << 8 |
         Widen(c & 31, 5);
}

// The four colours of a DXT colour block; `punchThrough` allows DXT1's
// three-colour mode with transparent black.
void BlockColors(const BYTE* b, bool punchThrough, uint32_t out[4]) {
  const uint32_t c0 = b[0] | b[1] << 8, c1 = b[2] | b[3] << 8;
  out[0] = Expand565(c0);
  out[1] = Expand565(c1);
  auto mix = [&](int w0, int w1, int div) {
    uint32_t r = 0xFF000000u;
    for (int s = 0; s < 24; s += 8)
      r |= ((Ch(out[0], s) * w0 + Ch(out[1], s) * w1 + div / 2) / div) << s;
    return r;
  };
  if (c0 > c1 || !punchThrough) {
    out[2] = mix(2, 1, 3);
    out[3] = mix(1, 2, 3);
  } else {
    out[2] = mix(1, 1, 2);
    out[3] = 0;
  }
}

void DecodeBlock(D3DFORMAT format, const BYTE* b, uint32_t texels[16]) {
  uint32_t colors[4];
  if (format == D3DFMT_DXT1) {
    BlockColors(b, true, colors);
    const uint32_t idx = b[4] | b[5] << 8 | b[6] << 16 | uint32_t{b[7]} << 24;
    for (int i = 0; i < 16; ++i) texels[i] = colors[(idx >> (2 * i)) & 3];
    return;
  }
  BlockColors(b + 8, false, colors);
  const uint32_t idx = b[12] | b[13] << 8 | b[14] << 16 | uint32_t{b[15]} << 24;
  uint32_t alpha[16];
  if (format == D3DFMT_DXT2 || format == D3DFMT_DXT3) {
    for (int i = 0; i < 16; ++i) alpha[i] = ((b[i / 2] >> (4 * (i & 1))) & 15) * 17;
  } else {
    const uint32_t a0 = b[0], a1 = b[1];
    uint32_t table[8] = {a0, a1, 0, 0, 0, 0, 0, 255};
    if (a0 > a1) {
      for (uint32_t k = 2; k < 8; ++k) table[k] = ((8 - k) * a0 + (k - 1) * a1 + 3) / 7;
    } else {
      for (uint32_t k = 2; k < 6; ++k) table[k] = ((6 - k) * a0 + (k - 1) * a1 + 2) / 5;
    }
    uint64_t bits = 0;
    for (int i = 0; i < 6; ++i) bits |= uint64_t{b[2 + i]} << (8 * i);
    for (int i = 0; i < 16; ++i) alpha[i] = table[(bits >> (3 * i)) & 7];
  }
  for (int i = 0; i < 16; ++i)
    texels[i] = (colors[(idx >> (2 * i)) & 3] & 0xFFFFFF) | alpha[i] << 24;
}

}  // namespace

bool IsWritableColorFormat(D3DFORMAT f) {
  switch (f) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8:
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
    case D3DFMT_A4R4G4B4:
      return true;
    default:
      return false;
  }
}

UINT BytesPerPixel(D3DFORMAT f) { return f == D3DFMT_A8R8G8B8 || f == D3DFMT_X8R8G8B8 ? 4 : 2; }

uint32_t PackColor(D3DFORMAT f, uint32_t c) {
  const uint32_t a = Ch(c, 24), r = Ch(c, 16), g = Ch(c, 8), b = Ch(c, 0);
  switch (f) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8:
      return c;
    case D3DFMT_R5G6B5:
      return Narrow(r, 5) << 11 | Narrow(g, 6) << 5 | Narrow(b, 5);
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
      return (a >= 128 ? 0x8000u : 0u) | Narrow(r, 5) << 10 | Narrow(g, 5) << 5 | Narrow(b, 5);
    case D3DFMT_A4R4G4B4:
      return Narrow(a, 4) << 12 | Narrow(r, 4) << 8 | Narrow(g, 4) << 4 | Narrow(b, 4);
    default:
      return 0;
  }
}

uint32_t UnpackColor(D3DFORMAT f, uint32_t v) {
  switch (f) {
    case D3DFMT_A8R8G8B8:
      return v;
    case D3DFMT_X8R8G8B8:
      return v | 0xFF000000u;
    case D3DFMT_R5G6B5:
      return Expand565(v);
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5: {
      const uint32_t a = f == D3DFMT_X1R5G5B5 || (v & 0x8000) ? 0xFFu : 0u;
      return a << 24 | Widen((v >> 10) & 31, 5) << 16 | Widen((v >> 5) & 31, 5) << 8 |
             Widen(v & 31, 5);
    }
    case D3DFMT_A4R4G4B4:
      return Widen((v >> 12) & 15, 4) << 24 | Widen((v >> 8) & 15, 4) << 16 |
             Widen((v >> 4) & 15, 4) << 8 | Widen(v & 15, 4);
    case D3DFMT_X4R4G4B4:
      return 0xFF000000u | (UnpackColor(D3DFMT_A4R4G4B4, v) & 0xFFFFFF);
    case D3DFMT_L8:
      return 0xFF000000u | (v & 0xFF) * 0x010101u;
    case D3DFMT_A8L8:
      return (v >> 8 & 0xFF) << 24 | (v & 0xFF) * 0x010101u;
    case D3DFMT_A8:
      return (v & 0xFF) << 24;
    default:
      return 0;
  }
}

uint32_t ChannelBits(D3DFORMAT f, uint32_t mask) {
  uint32_t bits[4] = {0, 0, 0, 0};  // red, green, blue, alpha
  switch (f) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8:
      bits[0] = 0xFF0000, bits[1] = 0xFF00, bits[2] = 0xFF, bits[3] = 0xFF000000u;
      break;
    case D3DFMT_R5G6B5:
      bits[0] = 0xF800, bits[1] = 0x07E0, bits[2] = 0x001F;
      break;
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
      bits[0] = 0x7C00, bits[1] = 0x03E0, bits[2] = 0x001F, bits[3] = 0x8000;
      break;
    case D3DFMT_A4R4G4B4:
      bits[0] = 0x0F00, bits[1] = 0x00F0, bits[2] = 0x000F, bits[3] = 0xF000;
      break;
    default:
      break;
  }
  uint32_t out = 0;
  if (mask & D3DCOLORWRITEENABLE_RED) out |= bits[0];
  if (mask & D3DCOLORWRITEENABLE_GREEN) out |= bits[1];
  if (mask & D3DCOLORWRITEENABLE_BLUE) out |= bits[2];
  if (mask & D3DCOLORWRITEENABLE_ALPHA) out |= bits[3];
  return out;
}

bool DescribeDepth(D3DFORMAT f, DepthLayout* out) {
  switch (f) {
    case D3DFMT_D16:
    case D3DFMT_D16_LOCKABLE:
      *out = DepthLayout{2, 16, 0, 0};
      return true;
    case D3DFMT_D15S1:
      *out = DepthLayout{2, 15, 1, 1};
      return true;
    case D3DFMT_D32:
      *out = DepthLayout{4, 32, 0, 0};
      return true;
    case D3DFMT_D24X8:
      *out = DepthLayout{4, 24, 8, 0};
      return true;
    case D3DFMT_D24S8:
      *out = DepthLayout{4, 24, 8, 8};
      return true;
    case D3DFMT_D24X4S4:
      *out = DepthLayout{4, 24, 8, 4};
      return true;
    default:
      return false;
  }
}

bool DecodeSurface(Surface* s, std::vector<uint32_t>* texels) {
  const D3DFORMAT f = s->format();
  const UINT w = s->width(), h = s->height();
  texels->assign(size_t{w} * h, 0);
  const BYTE* bits = s->bits();
  if (!bits) return false;
  if (f == D3DFMT_DXT1 || f == D3DFMT_DXT2 || f == D3DFMT_DXT3 || f == D3DFMT_DXT4 ||
      f == D3DFMT_DXT5) {
    const UINT blockBytes = f == D3DFMT_DXT1 ? 8 : 16;
    uint32_t block[16];
    for (UINT by = 0; by < (h + 3) / 4; ++by)
      for (UINT bx = 0; bx < (w + 3) / 4; ++bx) {
        DecodeBlock(f, bits + by * s->pitch() + bx * blockBytes, block);
        for (UINT i = 0; i < 16; ++i) {
          const UINT x = bx * 4 + i % 4, y = by * 4 + i / 4;
          if (x < w && y < h) (*texels)[size_t{y} * w + x] = block[i];
        }
      }
    return true;
  }
  UINT bytes = 0;
  switch (f) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8:
      bytes = 4;
      break;
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
    case D3DFMT_A4R4G4B4:
    case D3DFMT_X4R4G4B4:
    case D3DFMT_A8L8:
      bytes = 2;
      break;
    case D3DFMT_L8:
    case D3DFMT_A8:
      bytes = 1;
      break;
    default:
      return false;
  }
  for (UINT y = 0; y < h; ++y) {
    const BYTE* row = bits + size_t{y} * s->pitch();
    uint32_t* out = texels->data() + size_t{y} * w;
    for (UINT x = 0; x < w; ++x)
      out[x] = UnpackColor(f, bytes == 1 ? row[x] : LoadPixel(row + x * bytes, bytes));
  }
  return true;
}

}  // namespace vrt::d3d
