// The shading stage: texture sampling (point and bilinear, every addressing
// mode), the fixed-function texture stages and the ps.1.4 interpreter, each
// giving a pixel's colour before the fragment tests.
#include <cmath>

#include "raster_internal.h"

namespace vrt::d3d::raster {

namespace {

// Texel-space coordinate, kept in a range integers can hold.
inline float Scaled(float u, int n) {
  const float v = u * static_cast<float>(n);
  return v == v ? std::clamp(v, -1.0e7f, 1.0e7f) : 0.0f;
}

[[gnu::always_inline]] inline uint32_t Fetch(const Stage& st, int x, int y) {
  bool border = false;
  const int ax = AddressOf(x, st.tw, st.addressU, &border);
  const int ay = AddressOf(y, st.th, st.addressV, &border);
  return border ? st.border : st.texels[static_cast<size_t>(ay) * st.tw + ax];
}

[[gnu::always_inline]] inline uint32_t Sample(const Stage& st, float u, float v) {
  if (!st.linear) {
    return Fetch(st, static_cast<int>(std::floor(Scaled(u, st.tw))),
                 static_cast<int>(std::floor(Scaled(v, st.th))));
  }
  const float fx = Scaled(u, st.tw) - 0.5f, fy = Scaled(v, st.th) - 0.5f;
  const float bx = std::floor(fx), by = std::floor(fy);
  int x = static_cast<int>(bx), y = static_cast<int>(by);
  int wx = static_cast<int>(std::lround((fx - bx) * 256.0f));
  int wy = static_cast<int>(std::lround((fy - by) * 256.0f));
  const uint32_t c00 = Fetch(st, x, y), c10 = Fetch(st, x + 1, y);
  const uint32_t c01 = Fetch(st, x, y + 1), c11 = Fetch(st, x + 1, y + 1);
  uint32_t out = 0;
  for (int s = 0; s < 32; s += 8) {
    const int top = static_cast<int>(Ch(c00, s)) * (256 - wx) + static_cast<int>(Ch(c10, s)) * wx;
    const int bot = static_cast<int>(Ch(c01, s)) * (256 - wx) + static_cast<int>(Ch(c11, s)) * wx;
    out |= static_cast<uint32_t>((top * (256 - wy) + bot * wy + 32768) >> 16) << s;
  }
  return out;
}

struct StageInputs {
  uint32_t diffuse, specular, current, texture, factor;
};

uint32_t Argument(DWORD arg, const StageInputs& in) {
  uint32_t v;
  switch (arg & D3DTA_SELECTMASK) {
    case D3DTA_DIFFUSE:
      v = in.diffuse;
      break;
    case D3DTA_TEXTURE:
      v = in.texture;
      break;
    case D3DTA_TFACTOR:
      v = in.factor;
      break;
    case D3DTA_SPECULAR:
      v = in.specular;
      break;
    default:  // CURRENT (TEMP reads as current too)
      v = in.current;
      break;
  }
  if (arg & D3DTA_COMPLEMENT) v = ~v;
  if (arg & D3DTA_ALPHAREPLICATE) v = (v >> 24) * 0x01010101u;
  return v;
}

// One channel of a texture-stage operation.
uint32_t Operate(DWORD op, uint32_t a, uint32_t b, const StageInputs& in) {
  auto lerp = [](uint32_t x, uint32_t y, uint32_t s) {
    return (x * s + y * (255 - s) + 127) / 255;
  };
  switch (op) {
    case D3DTOP_SELECTARG1:
      return a;
    case D3DTOP_SELECTARG2:
      return b;
    case D3DTOP_MODULATE:
      return Mul255(a, b);
    case D3DTOP_MODULATE2X:
      return std::min(255u, 2 * Mul255(a, b));
    case D3DTOP_MODULATE4X:
      return std::min(255u, 4 * Mul255(a, b));
    case D3DTOP_ADD:
      return std::min(255u, a + b);
    case D3DTOP_ADDSIGNED:
      return Sat(static_cast<int>(a + b) - 128);
    case D3DTOP_ADDSIGNED2X:
      return Sat(2 * (static_cast<int>(a + b) - 128));
    case D3DTOP_SUBTRACT:
      return Sat(static_cast<int>(a) - static_cast<int>(b));
    case D3DTOP_ADDSMOOTH:
      return std::min(255u, a + b - Mul255(a, b));
    case D3DTOP_BLENDDIFFUSEALPHA:
      return lerp(a, b, in.diffuse >> 24);
    case D3DTOP_BLENDTEXTUREALPHA:
      return lerp(a, b, in.texture >> 24);
    case D3DTOP_BLENDFACTORALPHA:
      return lerp(a, b, in.factor >> 24);
    case D3DTOP_BLENDCURRENTALPHA:
      return lerp(a, b, in.current >> 24);
    default:
      return Mul255(a, b);
  }
}

// The stages' colour. `alpha255` receives the alpha that the alpha test
// compares, times 255 and not rounded: hardware tests the product of a
// modulate before it is stored in 8 bits, so 15 x 128 / 255 = 7.53 fails a
// reference of 8 although it is written as 8.
uint32_t RunStages(const Pipeline& p, uint32_t diffuse, uint32_t specular, const float* tex,
                   uint32_t* alpha255) {
  if (p.modulateOnly) {
    // One stage modulating texture and diffuse colour and alpha.
    const Stage& st = p.stages[0];
    const uint32_t t = Sample(st, tex[2 * st.texSet], tex[2 * st.texSet + 1]);
    uint32_t out = 0;
    for (int s = 0; s < 32; s += 8) out |= Mul255(Ch(t, s), Ch(diffuse, s)) << s;
    *alpha255 = (t >> 24) * (diffuse >> 24);
    return out;
  }
  uint32_t exactAlpha = (diffuse >> 24) * 255;
  StageInputs in{diffuse, specular, diffuse, diffuse, p.textureFactor};
  for (int i = 0; i < p.stageCount; ++i) {
    const Stage& st = p.stages[i];
    in.texture = st.textured ? Sample(st, tex[2 * st.texSet], tex[2 * st.texSet + 1]) : diffuse;
    const uint32_t c1 = Argument(st.colorArg1, in), c2 = Argument(st.colorArg2, in);
    uint32_t out = 0;
    for (int s = 0; s < 24; s += 8) out |= Operate(st.colorOp, Ch(c1, s), Ch(c2, s), in) << s;
    if (st.alphaOp == D3DTOP_DISABLE) {
      out |= in.current & 0xFF000000u;
    } else {
      const uint32_t a1 = Argument(st.alphaArg1, in) >> 24, a2 = Argument(st.alphaArg2, in) >> 24;
      const uint32_t a = Operate(st.alphaOp, a1, a2, in);
      out |= a << 24;
      exactAlpha = st.alphaOp == D3DTOP_MODULATE ? a1 * a2 : a * 255;
    }
    in.current = out;
  }
  *alpha255 = exactAlpha;
  uint32_t c = in.current;
  if (p.specularAdd) {
    uint32_t out = c & 0xFF000000u;
    for (int s = 0; s < 24; s += 8) out |= std::min(255u, Ch(c, s) + Ch(specular, s)) << s;
    c = out;
  }
  return c;
}

// One pixel of a ps.1.4 program. Registers hold floats kept in -8..8; the
// result r0 is saturated and rounded to 8 bits per channel.
uint32_t RunShader(const Pipeline& p, uint32_t diffuse, uint32_t specular, const float* tex,
                   uint32_t* alpha255) {
  float r[6][4] = {};
  float v[2][4];
  for (int i = 0; i < 4; ++i) {
    const int shift = i == 3 ? 24 : 16 - 8 * i;
    v[0][i] = static_cast<float>(Ch(diffuse, shift)) / 255.0f;
    v[1][i] = static_cast<float>(Ch(specular, shift)) / 255.0f;
  }
  auto texcoord = [&](int m, float* out) {
    const int set = p.stages[m].texSet;
    out[0] = tex[2 * set];
    out[1] = tex[2 * set + 1];
    out[2] = 0.0f;
    out[3] = 1.0f;
  };
  for (const PsInstruction& in : p.program.code) {
    float s[3][4];
    for (int k = 0; k < in.sources; ++k) {
      const PsSource& src = in.src[k];
      float raw[4];
      switch (src.type) {
        case PsRegister::Temp:
          std::memcpy(raw, r[src.index], sizeof(raw));
          break;
        case PsRegister::Input:
          std::memcpy(raw, v[src.index], sizeof(raw));
          break;
        case PsRegister::Const:
          std::memcpy(raw, p.constants[src.index], sizeof(raw));
          break;
        case PsRegister::Texture:
          texcoord(src.index, raw);
          break;
      }
      for (int c = 0; c < 4; ++c) {
        const float x = raw[src.swizzle[c]];
        float y = x;
        switch (src.modifier) {
          case 1:
            y = -x;
            break;
          case 2:
            y = x - 0.5f;
            break;
          case 3:
            y = 0.5f - x;
            break;
          case 4:
            y = 2.0f * x - 1.0f;
            break;
          case 5:
            y = 1.0f - 2.0f * x;
            break;
          case 6:
            y = 1.0f - x;
            break;
          case 7:
            y = 2.0f * x;
            break;
          case 8:
            y = -2.0f * x;
            break;
          default:
            break;
        }
        s[k][c] = y;
      }
    }
    float res[4] = {0, 0, 0, 0};
    switch (in.opcode) {
      case D3DSIO_TEX: {
        float u = s[0][0], w = s[0][1];
        const float div = in.src[0].modifier == 9    ? s[0][2]
                          : in.src[0].modifier == 10 ? s[0][3]
                                                     : 1.0f;
        if (div != 0.0f && div != 1.0f) {
          u /= div;
          w /= div;
        }
        const Stage& st = p.stages[in.dest];
        const uint32_t c = st.textured ? Sample(st, u, w) : 0xFFFFFFFFu;
        for (int i = 0; i < 4; ++i)
          res[i] = static_cast<float>(Ch(c, i == 3 ? 24 : 16 - 8 * i)) / 255.0f;
        break;
      }
      case D3DSIO_TEXCOORD:
        res[0] = s[0][0], res[1] = s[0][1], res[2] = s[0][2], res[3] = 1.0f;
        break;
      case D3DSIO_MOV:
        std::memcpy(res, s[0], sizeof(res));
        break;
      case D3DSIO_ADD:
        for (int c = 0; c < 4; ++c) res[c] = s[0][c] + s[1][c];
        break;
      case D3DSIO_SUB:
        for (int c = 0; c < 4; ++c) res[c] = s[0][c] - s[1][c];
        break;
      case D3DSIO_MUL:
        for (int c = 0; c < 4; ++c) res[c] = s[0][c] * s[1][c];
        break;
      case D3DSIO_MAD:
        for (int c = 0; c < 4; ++c) res[c] = s[0][c] * s[1][c] + s[2][c];
        break;
      case D3DSIO_DP3: {
        const float d = s[0][0] * s[1][0] + s[0][1] * s[1][1] + s[0][2] * s[1][2];
        for (float& x : res) x = d;
        break;
      }
      case D3DSIO_DP4: {
        const float d =
            s[0][0] * s[1][0] + s[0][1] * s[1][1] + s[0][2] * s[1][2] + s[0][3] * s[1][3];
        for (float& x : res) x = d;
        break;
      }
      case D3DSIO_LRP:
        for (int c = 0; c < 4; ++c) res[c] = s[0][c] * s[1][c] + (1.0f - s[0][c]) * s[2][c];
        break;
      case D3DSIO_CND:
        for (int c = 0; c < 4; ++c) res[c] = s[0][c] > 0.5f ? s[1][c] : s[2][c];
        break;
      case D3DSIO_CMP:
        for (int c = 0; c < 4; ++c) res[c] = s[0][c] >= 0.0f ? s[1][c] : s[2][c];
        break;
      default:
        continue;
    }
    for (int c = 0; c < 4; ++c) {
      if (!(in.writeMask & (1 << c))) continue;
      float x = res[c] * in.scale;
      if (in.saturate) x = std::clamp(x, 0.0f, 1.0f);
      r[in.dest][c] = x == x ? std::clamp(x, -8.0f, 8.0f) : 0.0f;
    }
  }
  uint32_t out = 0;
  for (int i = 0; i < 4; ++i) {
    const float x = std::clamp(r[0][i], 0.0f, 1.0f) * 255.0f + 0.5f;
    out |= static_cast<uint32_t>(x) << (i == 3 ? 24 : 16 - 8 * i);
  }
  *alpha255 = static_cast<uint32_t>(std::clamp(r[0][3], 0.0f, 1.0f) * 65025.0f + 0.5f);
  return out;
}

[[gnu::always_inline]] inline uint32_t Shade(const Pipeline& p, uint32_t diffuse, uint32_t specular,
                                             const float* tex, uint32_t* alpha255) {
  return p.shaded ? RunShader(p, diffuse, specular, tex, alpha255)
                  : RunStages(p, diffuse, specular, tex, alpha255);
}

}  // namespace

void ShadeSpan(const Pipeline& p, int n, const uint32_t* diffuse, const uint32_t* specular,
               const float* tex, int texStride, int texFloats, uint32_t* color,
               uint32_t* alpha255) {
  float t[2 * kMaxTexSets] = {};  // sets the vertices lack read as zero
  for (int i = 0; i < n; ++i) {
    for (int k = 0; k < texFloats; ++k) t[k] = tex[k * texStride + i];
    color[i] = Shade(p, diffuse[i], specular[i], t, &alpha255[i]);
  }
}

}  // namespace vrt::d3d::raster
