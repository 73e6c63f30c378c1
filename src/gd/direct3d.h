// The shared Direct3D object and the adapter and display-mode queries.
#pragma once

#include <d3d8.h>

#include <cstdint>

// The process-wide IDirect3D8, created on first use; null when Direct3D
// cannot be created. Each creation logs the identifier lines of adapter 0.
IDirect3D8* EnsureDirect3D();

// Releases the shared object when it exists and forgets it; returns the
// count Release reported, 0 when there was none.
ULONG ReleaseDirect3D();

// The shared object as it is now, without creating it.
IDirect3D8* SharedDirect3D();

// Display name of a back-buffer format for the device-open log line.
const WCHAR* FormatName(D3DFORMAT format);

// Width, height, bits per pixel (32, 16 or 0) and refresh in one value.
uint64_t PackDisplayMode(const D3DDISPLAYMODE& mode);

UINT ListDisplayDevices();
UINT GetDeviceName(UINT adapter, char* buffer);
UINT GetDeviceDriver(UINT adapter, char* buffer);
UINT GetDeviceDriverVersion(UINT adapter, DWORD* version);
UINT GetDisplayModeCount(UINT adapter);
uint64_t* ListDisplayModes(UINT adapter);
uint64_t GetCurrentDisplayMode();
