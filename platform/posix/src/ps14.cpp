// Decoding and checking of ps.1.4 token streams.
#include "ps14.h"

#include <cstring>

namespace vrt::d3d {

namespace {

constexpr DWORD kParamBit = 0x80000000u;

int ParameterCount(DWORD opcode) {
  switch (opcode) {
    case D3DSIO_NOP:
    case D3DSIO_PHASE:
      return 0;
    case D3DSIO_MOV:
    case D3DSIO_TEX:       // texld
    case D3DSIO_TEXCOORD:  // texcrd
      return 2;
    case D3DSIO_ADD:
    case D3DSIO_SUB:
    case D3DSIO_MUL:
    case D3DSIO_DP3:
    case D3DSIO_DP4:
      return 3;
    case D3DSIO_MAD:
    case D3DSIO_LRP:
    case D3DSIO_CND:
    case D3DSIO_CMP:
      return 4;
    case D3DSIO_DEF:
      return 5;
    default:
      return -1;
  }
}

PsRegister TypeOf(DWORD token) {
  return static_cast<PsRegister>((token & D3DSP_REGTYPE_MASK) >> D3DSP_REGTYPE_SHIFT);
}

bool ReadSource(DWORD t, DWORD opcode, PsSource* out) {
  if (!(t & kParamBit)) return false;
  const DWORD type = (t & D3DSP_REGTYPE_MASK) >> D3DSP_REGTYPE_SHIFT;
  const DWORD index = t & 0x7FF;
  const DWORD modifier = (t & D3DSP_SRCMOD_MASK) >> D3DSP_SRCMOD_SHIFT;
  if (t & 0x0000F800u) return false;  // reserved bits
  const bool texture = opcode == D3DSIO_TEX || opcode == D3DSIO_TEXCOORD;
  switch (type) {
    case 0:  // r#: texld reads one as coordinates (a dependent read)
      if (index > 5 || opcode == D3DSIO_TEXCOORD) return false;
      break;
    case 1:  // v#
      if (index > 1 || texture) return false;
      break;
    case 2:  // c#
      if (index > 7 || texture) return false;
      break;
    case 3:  // t#: only as texture coordinates
      if (index > 5 || !texture) return false;
      break;
    default:
      return false;
  }
  if (modifier > 10) return false;
  if (texture) {
    if (modifier != 0 && modifier != 9 && modifier != 10) return false;
  } else if (modifier >= 9) {
    return false;
  }
  out->type = static_cast<PsRegister>(type);
  out->index = static_cast<uint8_t>(index);
  out->modifier = static_cast<uint8_t>(modifier);
  const DWORD swizzle = (t & D3DSP_SWIZZLE_MASK) >> D3DSP_SWIZZLE_SHIFT;
  for (int i = 0; i < 4; ++i) out->swizzle[i] = static_cast<uint8_t>((swizzle >> (2 * i)) & 3);
  return true;
}

float ShiftScale(DWORD shift, bool* ok) {
  switch (shift) {
    case 0:
      return 1.0f;
    case 1:
      return 2.0f;
    case 2:
      return 4.0f;
    case 3:
      return 8.0f;
    case 15:
      return 0.5f;
    case 14:
      return 0.25f;
    case 13:
      return 0.125f;
    default:
      *ok = false;
      return 1.0f;
  }
}

}  // namespace

bool DecodePs14(const DWORD* tokens, size_t count, PsProgram* out) {
  *out = PsProgram{};
  if (!tokens || count < 2 || tokens[0] != D3DPS_VERSION(1, 4) || tokens[count - 1] != D3DPS_END())
    return false;
  bool secondPhase = false;
  bool arithmeticSeen = false;  // texture instructions come first in each phase
  size_t i = 1;
  while (i < count - 1) {
    const DWORD token = tokens[i++];
    const DWORD opcode = token & D3DSI_OPCODE_MASK;
    if (opcode == D3DSIO_COMMENT) {
      const size_t skip = (token & D3DSI_COMMENTSIZE_MASK) >> D3DSI_COMMENTSIZE_SHIFT;
      if (skip > count - 1 - i) return false;
      i += skip;
      continue;
    }
    if (token & kParamBit) return false;
    if (token & ~(D3DSI_OPCODE_MASK | D3DSI_COISSUE)) return false;
    const int params = ParameterCount(opcode);
    if (params < 0 || static_cast<size_t>(params) > count - 1 - i) return false;
    if ((token & D3DSI_COISSUE) && (opcode == D3DSIO_TEX || opcode == D3DSIO_TEXCOORD ||
                                    opcode == D3DSIO_DEF || opcode == D3DSIO_PHASE))
      return false;
    const DWORD* p = tokens + i;
    i += static_cast<size_t>(params);
    if (opcode == D3DSIO_NOP) continue;
    if (opcode == D3DSIO_PHASE) {
      if (secondPhase) return false;
      secondPhase = true;
      arithmeticSeen = false;
      continue;
    }
    const DWORD d = p[0];
    if (!(d & kParamBit) || (d & 0x0000F800u)) return false;
    const DWORD index = d & 0x7FF;
    const DWORD mask = (d & D3DSP_WRITEMASK_ALL) >> 16;
    const DWORD mod = (d & D3DSP_DSTMOD_MASK) >> D3DSP_DSTMOD_SHIFT;
    if (opcode == D3DSIO_DEF) {
      if (TypeOf(d) != PsRegister::Const || index > 7 || mask != 0xF || mod != 0 ||
          (d & D3DSP_DSTSHIFT_MASK))
        return false;
      std::memcpy(out->constants[index], p + 1, sizeof(float) * 4);
      out->defined[index] = true;
      continue;
    }
    if (TypeOf(d) != PsRegister::Temp || index > 5 || mask == 0 || mod > 1) return false;
    PsInstruction in;
    in.opcode = opcode;
    in.dest = static_cast<uint8_t>(index);
    in.writeMask = static_cast<uint8_t>(mask);
    in.saturate = mod == 1;
    bool ok = true;
    in.scale = ShiftScale((d & D3DSP_DSTSHIFT_MASK) >> D3DSP_DSTSHIFT_SHIFT, &ok);
    if (!ok) return false;
    const bool texture = opcode == D3DSIO_TEX || opcode == D3DSIO_TEXCOORD;
    if (texture) {
      if (arithmeticSeen || in.scale != 1.0f || in.saturate) return false;
    } else {
      arithmeticSeen = true;
    }
    in.sources = params - 1;
    for (int s = 0; s < in.sources; ++s)
      if (!ReadSource(p[1 + s], opcode, &in.src[s])) return false;
    out->code.push_back(in);
  }
  return true;
}

}  // namespace vrt::d3d
