// PNG snapshots of surfaces and windows, for tests and the demo host.
#pragma once

#include <d3d8.h>
#include <windows.h>

#include <cstdint>

namespace vrt {

// Writes A8R8G8B8 pixels (rows top-down, `width` per row) as an RGBA PNG;
// with keepAlpha false every pixel is written opaque.
bool WritePng(const char* path, int width, int height, const uint32_t* argb, bool keepAlpha);

// A surface in A8R8G8B8, X8R8G8B8, R5G6B5, X1R5G5B5, A1R5G5B5 or A4R4G4B4,
// read through a copy so render targets and back buffers work too.
bool WriteSurfacePng(IDirect3DSurface8* surface, const char* path);

// A window's client area as it stands on the virtual desktop.
bool WriteWindowPng(HWND window, const char* path);

}  // namespace vrt
