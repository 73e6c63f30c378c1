#include "gd/direct3d.h"

#include <cstring>

#include "gd/gd_diagnostics.h"
#include "host/host.h"

namespace {

IDirect3D8* sharedDirect3D = nullptr;

// Identifier texts are at most 512 bytes and need not be terminated.
size_t IdentifierTextLength(const char* text) {
  return strnlen(text, MAX_DEVICE_IDENTIFIER_STRING);
}

// The logger's "%s" takes wide text: widen byte by byte.
void WidenIdentifierText(const char* text, WCHAR (&out)[MAX_DEVICE_IDENTIFIER_STRING + 1]) {
  const size_t n = IdentifierTextLength(text);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<WCHAR>(static_cast<unsigned char>(text[i]));
  out[n] = 0;
}

// The four 16-bit pieces of a driver version, most significant first.
void SplitDriverVersion(const LARGE_INTEGER& version, DWORD out[4]) {
  const DWORD high = static_cast<DWORD>(version.HighPart);
  const DWORD low = version.LowPart;
  out[0] = HIWORD(high);
  out[1] = LOWORD(high);
  out[2] = HIWORD(low);
  out[3] = LOWORD(low);
}

void LogAdapterIdentifier(IDirect3D8* d3d) {
  D3DADAPTER_IDENTIFIER8 id{};
  if (FAILED(d3d->GetAdapterIdentifier(0, D3DENUM_NO_WHQL_LEVEL, &id))) return;
  WCHAR wide[MAX_DEVICE_IDENTIFIER_STRING + 1];
  WidenIdentifierText(id.Driver, wide);
  LogInfo(gdLogger, VEK_W("D3D Driver: %s"), wide);
  WidenIdentifierText(id.Description, wide);
  LogInfo(gdLogger, VEK_W("Description: %s"), wide);
  DWORD v[4];
  SplitDriverVersion(id.DriverVersion, v);
  LogInfo(gdLogger, VEK_W("Version: %d.%d.%d.%d"), static_cast<int>(v[0]),
          static_cast<int>(v[1]), static_cast<int>(v[2]), static_cast<int>(v[3]));
}

// The shared object, or null with the failure recorded.
IDirect3D8* QueryDirect3D() {
  IDirect3D8* d3d = EnsureDirect3D();
  if (!d3d) GdError(GdErr::kCreateDirect3D, 0);
  return d3d;
}

// The shared object when `adapter` exists, else null with the failure recorded.
IDirect3D8* QueryAdapter(UINT adapter) {
  IDirect3D8* d3d = QueryDirect3D();
  if (d3d && adapter >= d3d->GetAdapterCount()) {
    GdError(GdErr::kNoAdapter, adapter);
    return nullptr;
  }
  return d3d;
}

bool ReadIdentifier(UINT adapter, D3DADAPTER_IDENTIFIER8* id) {
  IDirect3D8* d3d = QueryAdapter(adapter);
  if (!d3d) return false;
  *id = D3DADAPTER_IDENTIFIER8{};
  const HRESULT hr = d3d->GetAdapterIdentifier(adapter, D3DENUM_NO_WHQL_LEVEL, id);
  if (FAILED(hr)) GdError(GdErr::kAdapterIdentifier, hr);
  return SUCCEEDED(hr);
}

UINT CopyIdentifierText(const char* text, char* buffer) {
  const size_t n = IdentifierTextLength(text);
  if (buffer) std::memcpy(buffer, text, n);  // no terminator, by contract
  return static_cast<UINT>(n);
}

}  // namespace

IDirect3D8* EnsureDirect3D() {
  if (sharedDirect3D) return sharedDirect3D;
  sharedDirect3D = Direct3DCreate8(D3D_SDK_VERSION);
  if (!sharedDirect3D) return nullptr;
  LogAdapterIdentifier(sharedDirect3D);
  return sharedDirect3D;
}

ULONG ReleaseDirect3D() {
  if (!sharedDirect3D) return 0;
  const ULONG count = sharedDirect3D->Release();
  sharedDirect3D = nullptr;
  return count;
}

IDirect3D8* SharedDirect3D() { return sharedDirect3D; }

const WCHAR* FormatName(D3DFORMAT format) {
  switch (format) {
    case D3DFMT_A8R8G8B8:
      return VEK_W("A8R8G8B8");
    case D3DFMT_X8R8G8B8:
      return VEK_W("X8R8G8B8");
    case D3DFMT_R5G6B5:
      return VEK_W("R5G6B5");
    case D3DFMT_X1R5G5B5:
      return VEK_W("X1R5G5B5");
    case D3DFMT_A1R5G5B5:
      return VEK_W("A1R5G5B5");
    default:
      return VEK_W("UNKNOWN");
  }
}

uint64_t PackDisplayMode(const D3DDISPLAYMODE& mode) {
  uint64_t bits = 0;
  if (mode.Format == D3DFMT_X8R8G8B8) bits = 32;
  if (mode.Format == D3DFMT_R5G6B5) bits = 16;
  return (static_cast<uint64_t>(mode.Width) & 0xFFFF) |
         ((static_cast<uint64_t>(mode.Height) & 0xFFFF) << 16) | (bits << 32) |
         ((static_cast<uint64_t>(mode.RefreshRate) & 0xFFFFFF) << 40);
}

UINT ListDisplayDevices() {
  IDirect3D8* d3d = QueryDirect3D();
  return d3d ? d3d->GetAdapterCount() : 0;
}

UINT GetDeviceName(UINT adapter, char* buffer) {
  D3DADAPTER_IDENTIFIER8 id;
  if (!ReadIdentifier(adapter, &id)) return 0;
  return CopyIdentifierText(id.Description, buffer);
}

UINT GetDeviceDriver(UINT adapter, char* buffer) {
  D3DADAPTER_IDENTIFIER8 id;
  if (!ReadIdentifier(adapter, &id)) return 0;
  return CopyIdentifierText(id.Driver, buffer);
}

UINT GetDeviceDriverVersion(UINT adapter, DWORD* version) {
  D3DADAPTER_IDENTIFIER8 id;
  if (!ReadIdentifier(adapter, &id)) return 0;
  if (version) SplitDriverVersion(id.DriverVersion, version);
  return 4;
}

UINT GetDisplayModeCount(UINT adapter) {
  IDirect3D8* d3d = QueryAdapter(adapter);
  return d3d ? d3d->GetAdapterModeCount(adapter) : 0;
}

uint64_t* ListDisplayModes(UINT adapter) {
  IDirect3D8* d3d = QueryAdapter(adapter);
  if (!d3d) return nullptr;
  const UINT count = d3d->GetAdapterModeCount(adapter);
  if (count > 0xFFFFFFFFu / sizeof(uint64_t)) return nullptr;
  auto* modes = static_cast<uint64_t*>(Malloc(count * static_cast<UINT>(sizeof(uint64_t))));
  if (!modes) {
    GdError(GdErr::kMallocModes, static_cast<LONG>(count * sizeof(uint64_t)));
    return nullptr;
  }
  for (UINT i = 0; i < count; ++i) {
    D3DDISPLAYMODE mode{};
    // A mode that cannot be read is reported as 0 rather than left undefined.
    modes[i] = SUCCEEDED(d3d->EnumAdapterModes(adapter, i, &mode)) ? PackDisplayMode(mode) : 0;
  }
  return modes;
}

uint64_t GetCurrentDisplayMode() {
  IDirect3D8* d3d = QueryDirect3D();
  if (!d3d) return 0;
  D3DDISPLAYMODE mode{};
  const HRESULT hr = d3d->GetAdapterDisplayMode(0, &mode);
  if (FAILED(hr)) {
    GdError(GdErr::kDisplayMode, hr);
    return 0;
  }
  return PackDisplayMode(mode);
}

#ifndef _WIN32
// Unloading the library lets go of the shared object, which adapter queries
// alone never release (vek.dll's entry point does this on Windows).
__attribute__((destructor)) static void ReleaseDirect3DAtUnload() { ReleaseDirect3D(); }
#endif
