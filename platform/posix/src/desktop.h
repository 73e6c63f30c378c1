// The virtual desktop and its windows, as the Direct3D 8 runtime sees them.
// Windows are placement records; the desktop has a pixel store sized by
// DesktopSize() that Present copies back buffers onto.
#pragma once

#include <windows.h>

#include <cstdint>

namespace vrt::desktop {

struct Placement {
  int x = 0;  // client area origin on the desktop
  int y = 0;
  int width = 0;  // client area size
  int height = 0;
};

// False for a handle that is not a live window (the desktop counts as one).
bool Lookup(HWND window, Placement* out);

// The desktop: adapter 0's current mode.
HWND DesktopHandle();
SIZE DesktopSize();

}  // namespace vrt::desktop

namespace vrt::desktop {

// The desktop's X8R8G8B8 pixels (X bits zero), allocated black on first use
// and again whenever DesktopSize() changes. Valid until UnlockPixels.
uint32_t* LockPixels(SIZE* size);
void UnlockPixels();
// Drops the pixels (vrt::ResetRuntime); the desktop is black again.
void ResetPixels();

}  // namespace vrt::desktop
