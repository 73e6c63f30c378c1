#include "graphics/effect_selection.h"

#include <vek/vek.h>

#include <cstring>

#include "gd/device.h"
#include "gd/effects.h"
#include "graphics/graphics.h"

void SetEffect(Graphics* g, UINT shader, float* param) {
  if (!g || shader > 7) return;
  if (shader == VEK_SHADER_BRIGHTNESS) {
    if (!param) return;  // a brightness needs its factor
    const float f = param[2];
    if (f > 1.0f) {
      param[2] = f - 1.0f;
    } else if (f < 1.0f) {
      shader = 8;
      param[2] = 1.0f - f;
    } else {
      return;  // unchanged (or not a number): keep the previous selection
    }
  }
  g->shaderId = static_cast<INT>(shader);
  if (param)
    std::memcpy(g->shaderParam, param, sizeof(g->shaderParam));
  else
    std::memset(g->shaderParam, 0, sizeof(g->shaderParam));
}

int ApplyEffectShader(Graphics* g, int shaderId, const float* param) {
  float c[4] = {0.0f, 0.0f, 0.0f, 0.0f};
  GraphicsDevice* device = g->device;
  if (GD_CreatePixelShader(device, shaderId) == 0) return 0;
  if (shaderId == 0) return 0;
  if (shaderId == 7 || shaderId == 8) {
    if (param[2] > 1.0f || param[2] < 0.0f) {
      SetPixelShaderCached(&device->cache, 0);
      g->shaderId = 0;
      std::memset(g->shaderParam, 0, sizeof(g->shaderParam));
      return 0;
    }
    c[2] = param[2];
  }
  c[0] = param[0] / 255.0f;
  c[1] = param[1] / 255.0f;
  SetPixelShaderCached(&device->cache, device->shaderHandle[shaderId]);
  SetPixelShaderConstantCached(&device->cache, c);
  return 1;
}
