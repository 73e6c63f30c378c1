// The effect a surface draws its next items with, and its application when
// a run of items is drawn.
#pragma once

#include <windows.h>

struct Graphics;

// Records the effect for the Graphics' next draw items. Ids above 7 do
// nothing; 7 turns a brightness factor in param[2] into an amount (id 7 to
// brighten, 8 to darken), writing it back into the caller's array.
void SetEffect(Graphics* graphics, UINT shader, float* param);

// Sets a run's effect shader and its constant c0: 1 when both are set,
// 0 otherwise (no effect, no ps.1.4, or an amount out of range, which also
// clears the Graphics' selection).
int ApplyEffectShader(Graphics* graphics, int shaderId, const float* param);
