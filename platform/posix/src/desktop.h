// The virtual desktop and its windows, as the Direct3D 8 runtime sees them.
// Windows are placement records only for now; when presentation into the
// desktop arrives, the desktop gains a pixel store sized by DesktopSize() and
// Present copies a back buffer to the window's Placement on it.
#pragma once

#include <windows.h>

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
