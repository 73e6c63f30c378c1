// The eight effect pixel shaders (ps.1.4) and their creation on a device.
#pragma once

#include <windows.h>

struct Graphics;
struct GraphicsDevice;

// Records the effect for the Graphics' next draw items. Ids above 7 do
// nothing; 7 turns a brightness factor in param[2] into an amount (id 7 to
// brighten, 8 to darken), writing it back into the caller's array.
void SetEffect(Graphics* graphics, UINT shader, float* param);

// Sets a run's effect shader and its constant c0: 1 when both are set,
// 0 otherwise (no effect, no ps.1.4, or an amount out of range, which also
// clears the Graphics' selection).
int ApplyEffectShader(Graphics* graphics, int shaderId, const float* param);

// Assembly source of effect `id` (1 to 8), or null for any other id.
const char* EffectShaderSource(int id);

// Makes sure the shader for `id` exists on the device: 1 when it does (or
// id 0 and no shader is now set), 0 when the device lacks ps.1.4 or the
// shader could not be assembled or created.
int GD_CreatePixelShader(GraphicsDevice* device, int id);

// After a reset: creates again every shader the reset took away (marked in
// the device's shadersToRecreate); true when none is missing any more.
bool RecreateEffectShaders(GraphicsDevice* device);
