// Pixel shader 1.4 token streams: checking and decoding them into a program
// the rasteriser runs per pixel.
#pragma once

#include <d3d8.h>

#include <cstdint>
#include <vector>

namespace vrt::d3d {

enum class PsRegister : uint8_t { Temp, Input, Const, Texture };

struct PsSource {
  PsRegister type = PsRegister::Temp;
  uint8_t index = 0;
  uint8_t swizzle[4] = {0, 1, 2, 3};
  uint8_t modifier = 0;  // D3DSPSM_* >> D3DSP_SRCMOD_SHIFT
};

struct PsInstruction {
  DWORD opcode = D3DSIO_NOP;
  uint8_t dest = 0;       // r0..r5 (c0..c7 for def)
  uint8_t writeMask = 0;  // bit i: component i
  bool saturate = false;
  float scale = 1.0f;  // from the destination shift: x2, x4, x8, d2, d4, d8
  int sources = 0;
  PsSource src[3];
  float value[4] = {0, 0, 0, 0};  // def
};

struct PsProgram {
  std::vector<PsInstruction> code;  // def instructions are folded into constants
  float constants[8][4] = {};
  bool defined[8] = {};
};

// Checks a ps.1.4 function (version token through the end token) and
// decodes it. False for anything malformed: unknown opcodes or register
// types, bad register numbers, modifiers or masks, missing parameters, more
// than one phase, texture instructions after arithmetic in a phase.
bool DecodePs14(const DWORD* tokens, size_t count, PsProgram* out);

}  // namespace vrt::d3d
