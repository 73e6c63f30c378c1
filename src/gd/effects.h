// The eight effect pixel shaders (ps.1.4) and their creation on a device.
#pragma once

#include <windows.h>

struct GraphicsDevice;

// Assembly source of effect `id` (1 to 8), or null for any other id.
const char* EffectShaderSource(int id);

// Makes sure the shader for `id` exists on the device: 1 when it does (or
// id 0 and no shader is now set), 0 when the device lacks ps.1.4 or the
// shader could not be assembled or created.
int GD_CreatePixelShader(GraphicsDevice* device, int id);

// After a reset: creates again every shader the reset took away (marked in
// the device's shadersToRecreate); true when none is missing any more.
bool RecreateEffectShaders(GraphicsDevice* device);
