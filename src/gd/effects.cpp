#include "gd/effects.h"

#include <vek/vek.h>

#include <cstdio>
#include <cstring>

#include "d3dx/d3dx8.h"
#include "gd/device.h"
#include "gd/gd_diagnostics.h"

namespace {

// Every program: texel in r0, the effect colour into r1, then the alpha
// window (low <= texel alpha <= high, from c0.r and c0.g) chooses between the
// effect and the texel, and the vertex colour modulates the result.
#define EFFECT_WINDOW(effectSource)   \
  "\tsub r2.a, r0.a, c0.r\n"          \
  "\tcmp r3.rgb, r2.a, " effectSource \
  ", r0\n"                            \
  "\tsub r2.a, c0.g, r0.a\n"          \
  "\tcmp r0.rgb, r2.a, r3, r0\n"      \
  "\tmul r0, r0, v0\n"

const char* const kEffectSources[10] = {
    nullptr,
    // 1: grey
    "ps.1.4\n"
    "\tdef c1, 1.0, 1.0, 1.0, 0.3333\n"
    "\ttexld r0, t0\n"
    "\tdp3 r1.a, r0, c1\n"
    "\tmul r1.a, r1.a, c1.a\n" EFFECT_WINDOW("r1.a"),
    // 2: swap green and blue
    "ps.1.4\n"
    "\ttexld r0, t0\n"
    "\tmov r1.r, r0.r\n"
    "\tmov r1.g, r0.b\n"
    "\tmov r1.b, r0.g\n" EFFECT_WINDOW("r1"),
    // 3: swap red and green
    "ps.1.4\n"
    "\ttexld r0, t0\n"
    "\tmov r1.r, r0.g\n"
    "\tmov r1.g, r0.r\n"
    "\tmov r1.b, r0.b\n" EFFECT_WINDOW("r1"),
    // 4: rotate to (G, B, R)
    "ps.1.4\n"
    "\ttexld r0, t0\n"
    "\tmov r1.r, r0.g\n"
    "\tmov r1.g, r0.b\n"
    "\tmov r1.b, r0.r\n" EFFECT_WINDOW("r1"),
    // 5: rotate to (B, R, G)
    "ps.1.4\n"
    "\ttexld r0, t0\n"
    "\tmov r1.r, r0.b\n"
    "\tmov r1.g, r0.r\n"
    "\tmov r1.b, r0.g\n" EFFECT_WINDOW("r1"),
    // 6: swap red and blue
    "ps.1.4\n"
    "\ttexld r0, t0\n"
    "\tmov r1.r, r0.b\n"
    "\tmov r1.g, r0.g\n"
    "\tmov r1.b, r0.r\n" EFFECT_WINDOW("r1"),
    // 7: brighten towards white by c0.b
    "ps.1.4\n"
    "\tdef c2, 1.0, 1.0, 1.0, 0.0\n"
    "\ttexld r0, t0\n"
    "\tlrp  r1, c0.b, c2, r0\n" EFFECT_WINDOW("r1"),
    // 8: darken by c0.b
    "ps.1.4\n"
    "\tdef c2, 1.0, 1.0, 1.0, 0.0\n"
    "\ttexld r0, t0\n"
    "\tsub r1.a, c2.r, c0.b\n"
    "\tmul r1, r0, r1.a\n"
    "\tmov r1.a, r0.a\n" EFFECT_WINDOW("r1"),
    nullptr,
};

#undef EFFECT_WINDOW

}  // namespace

const char* EffectShaderSource(int id) { return id >= 1 && id <= 8 ? kEffectSources[id] : nullptr; }

int GD_CreatePixelShader(GraphicsDevice* device, int id) {
  if (device->caps.PixelShaderVersion != D3DPS_VERSION(1, 4)) {
    GdPrint(GdLine::kNoPs14);
    return 0;
  }
  if (id == 0) {
    SetPixelShaderCached(&device->cache, 0);
    return 1;
  }
  if (id < 0 || id >= kEffectSlots || !device->shaderSource[id]) return 0;
  if (device->shaderHandle[id] != 0) return 1;

  const char* source = device->shaderSource[id];
  ID3DXBuffer* code = nullptr;
  ID3DXBuffer* errors = nullptr;
  const HRESULT hr = D3DXAssembleShader(source, static_cast<UINT>(std::strlen(source)), 0, nullptr,
                                        &code, &errors);
  if (errors) errors->Release();
  if (FAILED(hr) || !code) {
    if (code) code->Release();
    GdPrint(GdLine::kAssemble);
    return 0;
  }
  DWORD handle = 0;
  const HRESULT created = device->cache.device->CreatePixelShader(
      static_cast<const DWORD*>(code->GetBufferPointer()), &handle);
  code->Release();
  if (FAILED(created)) {
    GdPrint(GdLine::kCreateShader);
    return 0;
  }
  device->shaderHandle[id] = handle;
  return 1;
}

bool RecreateEffectShaders(GraphicsDevice* device) {
  bool all = true;
  for (int id = 0; id < kEffectSlots; ++id) {
    const DWORD bit = 1u << id;
    if (!(device->shadersToRecreate & bit)) continue;
    if (GD_CreatePixelShader(device, id))
      device->shadersToRecreate &= ~bit;
    else
      all = false;  // kept marked: the next rebuild tries again
  }
  return all;
}
