// Host- and test-facing controls of the POSIX runtime: the virtual desktop and
// its windows, the adapters the software Direct3D 8 reports, failure
// injection, device loss, the call log and the live-object count. Nothing in
// the library itself uses this header; it talks to the runtime only through
// the Win32 and Direct3D 8 names.
#pragma once

#include <d3d8.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vrt {

// One display adapter as the software Direct3D 8 reports it.
struct AdapterConfig {
  std::string description = "vek software Direct3D 8 device";
  std::string driver = "vekd3d8.dll";
  uint64_t driverVersion = 0x0008000100020003ull;  // 8.1.2.3
  DWORD vendorId = 0x1af4;
  DWORD deviceId = 0x0008;
  std::vector<D3DDISPLAYMODE> modes;  // EnumAdapterModes order
  D3DDISPLAYMODE currentMode{1280, 720, 60, D3DFMT_X8R8G8B8};
  DWORD pixelShaderVersion = D3DPS_VERSION(1, 4);
  DWORD textureCaps = D3DPTEXTURECAPS_ALPHA;  // no POW2: any size
  DWORD maxTextureWidth = 4096;
  DWORD maxTextureHeight = 4096;
};

// The adapter a fresh runtime reports: 1280 x 720 X8R8G8B8 at 60 Hz now,
// a handful of modes in X8R8G8B8 and R5G6B5.
AdapterConfig DefaultAdapter();

// Replaces the adapter list (at least one adapter). Adapter 0's current mode
// is the size of the virtual desktop.
void SetAdapters(std::vector<AdapterConfig> adapters);
const std::vector<AdapterConfig>& Adapters();

// Back to one default adapter; clears injected failures, the call log and
// every device-loss simulation. Live objects are not touched.
void ResetRuntime();

// Number of runtime COM objects (IDirect3D8, devices, resources, swap chains)
// whose reference count has not reached zero, plus live GDI objects: DCs
// (memory DCs until DeleteDC, GetDC's until ReleaseDC), fonts and bitmaps
// until DeleteObject. Stock objects are not counted.
int LiveObjectCount();

// Failure injection. The method is named as "Interface::Method"
// ("IDirect3DDevice8::CreateVertexBuffer", "IDirect3D8::GetDeviceCaps",
// "IDirect3DIndexBuffer8::Lock") or "Direct3DCreate8". After `skip`
// successful calls, the next `times` calls (-1: every call) fail with `hr`
// and do nothing else. Direct3DCreate8 fails by returning null. Win32
// functions are named plainly ("LocalAlloc", "CreateCompatibleDC", "GetDC",
// "SelectObject", "CreateCompatibleBitmap", "BitBlt", "GetObjectW",
// "GetDIBits", "CreateFontW", "GetGlyphOutlineW", "AddFontResourceW") and
// fail with their own failure result (null, 0, FALSE or GDI_ERROR), the last
// error set to the low word of `hr` (E_OUTOFMEMORY: 14).
void FailCall(std::string_view method, HRESULT hr, int skip = 0, int times = 1);
void ClearFailures();

// Call log. While enabled, every Direct3D 8 method call and every GDI call is
// recorded with its integer arguments (pointers as their address, floats as
// their bits); GDI calls by their plain names ("GetGlyphOutlineW").
struct CallRecord {
  std::string method;  // "IDirect3DDevice8::SetRenderState"
  std::vector<uint64_t> args;
};
void EnableCallLog(bool on);
void ClearCallLog();
const std::vector<CallRecord>& CallLog();
size_t CountCalls(std::string_view method);

// Device loss. LoseDevice: TestCooperativeLevel answers D3DERR_DEVICELOST,
// Present and Reset refuse. MakeDeviceResettable: TestCooperativeLevel
// answers D3DERR_DEVICENOTRESET until a Reset succeeds.
void LoseDevice(IDirect3DDevice8* device);
void MakeDeviceResettable(IDirect3DDevice8* device);

// Virtual windows on the virtual desktop. The client rectangle is
// (0, 0, clientWidth, clientHeight); x, y place it on the desktop.
HWND CreateVirtualWindow(int x, int y, int clientWidth, int clientHeight);
void ResizeVirtualWindow(HWND window, int clientWidth, int clientHeight);
void DestroyVirtualWindow(HWND window);

// The virtual desktop: adapter 0's current mode in size, black until a
// Present copies a back buffer onto it (ResetRuntime makes it black again).
SIZE DesktopSize();
// The desktop's pixels in `rect` (desktop coordinates), row-major, as
// X8R8G8B8 with the X bits zero; pixels outside the desktop read as 0.
// False (and `out` untouched) for an empty rectangle.
bool ReadDesktopPixels(const RECT& rect, std::vector<uint32_t>* out);

// System fonts on or off (on by default and after ResetRuntime). Off, GDI
// sees only the files added with AddFontResourceW, as a Windows machine with
// only those installed would: for tests that must not depend on the fonts
// this machine has.
void SetSystemFonts(bool on);

// Pixel work on or off (on by default and after ResetRuntime). Off, every
// call validates, keeps its state and counts as before, but clears, draws
// and presents touch no pixels: for measuring the library's own cost.
void SetRasterization(bool on);
bool Rasterization();

// Whether draws may take the rasteriser's dedicated span loops and share
// their rows between threads (on by default); tests turn it off to compare
// against the general per-pixel path, which must give identical pixels.
void SetRasterFastPaths(bool on);

// Rows of large triangle draws are shared between `count` bands drawn by a
// pool of worker threads (started once, one per core, the drawing thread
// included); 1 draws everything on the calling thread, 0 (the default, and
// after ResetRuntime) one band per core and at least two. The pixels are the
// same whatever the count.
void SetRasterThreads(int count);

// Whether span loops compiled for wider vector units (AVX2) are chosen on
// processors that have them (the default, and after ResetRuntime). The
// pixels are the same either way; tests turn it off to check the baseline.
void SetRasterWideVectors(bool on);

}  // namespace vrt
