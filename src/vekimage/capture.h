// Screen capture: a rectangle of the desktop copied with GDI into a BMP file
// image the host collects with VekGetScreenCapture.
#pragma once

#include <windows.h>

// A BITMAPINFO (header and colour-table room) describing `bitmap` for
// GetDIBits, in a LocalAlloc block the caller releases with LocalFree. Its
// image size is what GetDIBits writes: whole rows padded to 4 bytes. Null
// when the bitmap cannot be described or the block not allocated.
BITMAPINFO* MakeBitmapInfo(HBITMAP bitmap);

// Captures [x1, x2) x [y1, y2) of the screen, cut to the screen, as the
// capture the host can collect. Any capture not yet collected is released
// first, so after a failure (or an empty rectangle) there is none. Always 0.
INT ScreenCapture(INT x1, INT y1, INT x2, INT y2);

// Hands the last capture's BMP file image to the caller (who releases it
// with Free) and forgets it; its byte count through `size` when given. Null
// when there is none.
BYTE* TakeScreenCapture(DWORD* size);

// Releases a capture not yet collected (the library's unload).
void ReleaseScreenCapture();
