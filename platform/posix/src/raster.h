// The software rasteriser behind Device::Submit: clears, triangles, lines
// and points drawn into the bound render target and depth-stencil surface,
// and presentation of a back buffer onto the virtual desktop.
#pragma once

#include "device.h"

namespace vrt::d3d {

// Whether pixel work is done (vrt::SetRasterization); calls and state are
// kept either way.
bool RasterizationEnabled();

// `call` was validated against `state`. User pointers in `call` are read only
// as far as the call's counts allow; everything written is clipped to the
// surfaces.
void ClearTargets(DeviceState& state, const DrawCall& call);
// `pixelShader`: the tokens of the bound pixel shader, or null. A ps.1.4
// shader replaces the texture stages; other versions are not run and the
// stages apply.
void DrawPrimitives(DeviceState& state, const DrawCall& call,
                    const std::vector<DWORD>* pixelShader);

// Copies `source` (the whole back buffer when null) of `backBuffer` into
// `dest` (the whole client area when null) of `window`'s client area on the
// desktop, stretching with nearest texels and clipping to the desktop.
// Copies the back buffer onto the window's place on the virtual desktop and,
// for a real window, shows it there (`interval`: the present parameters'
// presentation interval).
void PresentToDesktop(Surface* backBuffer, const RECT* source, const RECT* dest, HWND window,
                      DWORD interval);

}  // namespace vrt::d3d
