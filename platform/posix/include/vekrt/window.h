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
/* The client area in desktop coordinates (a real window's are the screen's);
 * FALSE for an unknown window. */
VEKRT_API BOOL VrtGetWindowPlacement(HWND window, RECT* desktop);

/* ---- Real windows --------------------------------------------------------
 * Windows on the screen, through SDL2 (X11 or Wayland, as SDL chooses). They
 * behave as virtual windows do (a device opens on them, GetClientRect gives
 * their client size, their frames reach the desktop that screen capture
 * reads), and Present also shows each frame in them, stretched to the client
 * area when the sizes differ. Presents wait for the display's refresh
 * (vsync) unless VrtSetWindowVsync turns that off or the present
 * parameters ask for D3DPRESENT_INTERVAL_IMMEDIATE. */

/* A new window of the given client size and UTF-8 title; null when there is
 * no display or the runtime was built without SDL2 (VrtWindowError says
 * which). Never exits the process. */
VEKRT_API HWND VrtCreateWindow(const char* title, int clientWidth, int clientHeight,
                               int resizable);
/* A window for an SDL_Window* the host owns and keeps: hosts that use SDL for
 * input and sound keep their own event loop. Null for null or without SDL2.
 * VrtDestroyWindow forgets it without destroying the SDL window. */
VEKRT_API HWND VrtAdoptSdlWindow(void* sdlWindow);
/* Destroys a window made by VrtCreateWindow (forgets an adopted one), or a
 * virtual window; unknown handles are ignored. */
VEKRT_API void VrtDestroyWindow(HWND window);
/* On by default. */
VEKRT_API void VrtSetWindowVsync(HWND window, int on);
/* The SDL_Window* behind a real window (to set its title, icon, position);
 * null for other windows. */
VEKRT_API void* VrtGetSdlWindow(HWND window);

/* What VrtPollWindow reports, as bits. */
#define VRT_WINDOW_CLOSED 0x1  /* the user closed it: it stays until destroyed */
#define VRT_WINDOW_RESIZED 0x2 /* the client size changed: reset the device */
#define VRT_WINDOW_ESCAPE 0x4  /* Escape was pressed */

/* Handles the pending SDL events of windows made by VrtCreateWindow and
 * reports this window's news since the last poll (VRT_WINDOW_CLOSED stays
 * set once closed); 0 for other windows. Hosts that run their own SDL event
 * loop do not call it. */
VEKRT_API int VrtPollWindow(HWND window);

/* The reason of the last failed VrtCreateWindow or VrtAdoptSdlWindow on this
 * thread ("" when none). */
VEKRT_API const char* VrtWindowError(void);

#ifdef __cplusplus
}
#endif

#endif
