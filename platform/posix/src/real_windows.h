// Real windows on the screen (through SDL2, when the runtime is built with
// it) behind the same HWNDs as virtual windows: each also has a placement
// on the virtual desktop, so GetClientRect, presentation and screen capture
// treat both alike; Present additionally shows the frame in the window.
#pragma once

#include <windows.h>

#include <cstdint>

#include "desktop.h"

namespace vrt::real {

// Whether `window` is a real window.
bool IsReal(HWND window);

// For a real window: the placement brought up to date with the window's
// present size and position (hosts that run their own event loop resize
// windows without telling the runtime). False for other windows.
bool Refresh(HWND window, desktop::Placement* placement);

// Shows a client-sized X8R8G8B8 frame (rows `stride` pixels apart; the X
// bits are ignored) in the real window. `interval` is the present
// parameters' presentation interval: D3DPRESENT_INTERVAL_IMMEDIATE never
// waits for the display's refresh.
void Show(HWND window, const uint32_t* pixels, int width, int height, int stride, DWORD interval);

}  // namespace vrt::real
