/*
 * Windows of the POSIX runtime for C and C++ hosts. A virtual window lives
 * on the runtime's in-memory desktop: what a device presents on it can be
 * captured (VekScreenCapture) or read back, but is shown nowhere.
 */
#ifndef VEKRT_WINDOW_H
#define VEKRT_WINDOW_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A window whose client rectangle is (0, 0, clientWidth, clientHeight)
 * (negative sizes count as 0), placed at (x, y) on the desktop. */
VEKRT_API HWND VrtCreateVirtualWindow(int x, int y, int clientWidth, int clientHeight);
/* A new client size (negative sizes count as 0); unknown windows are ignored. */
VEKRT_API void VrtResizeVirtualWindow(HWND window, int clientWidth, int clientHeight);
/* Destroys a window made by VrtCreateVirtualWindow; unknown ones are ignored. */
VEKRT_API void VrtDestroyVirtualWindow(HWND window);

#ifdef __cplusplus
}
#endif

#endif
