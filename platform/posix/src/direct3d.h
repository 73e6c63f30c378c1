// The IDirect3D8 object: adapter queries over the configured adapters and
// device creation.
#pragma once

#include <atomic>

#include "control.h"

namespace vrt::d3d {

class Direct3D final : public IDirect3D8 {
 public:
  Direct3D();
  ~Direct3D();

  HRESULT QueryInterface(REFIID riid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;

  HRESULT RegisterSoftwareDevice(void* initialize) override;
  UINT GetAdapterCount() override;
  HRESULT GetAdapterIdentifier(UINT adapter, DWORD flags, D3DADAPTER_IDENTIFIER8* id) override;
  UINT GetAdapterModeCount(UINT adapter) override;
  HRESULT EnumAdapterModes(UINT adapter, UINT mode, D3DDISPLAYMODE* out) override;
  HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* out) override;
  HRESULT CheckDeviceType(UINT adapter, D3DDEVTYPE type, D3DFORMAT displayFormat,
                          D3DFORMAT backBufferFormat, BOOL windowed) override;
  HRESULT CheckDeviceFormat(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, DWORD usage,
                            D3DRESOURCETYPE resourceType, D3DFORMAT format) override;
  HRESULT CheckDeviceMultiSampleType(UINT adapter, D3DDEVTYPE type, D3DFORMAT format, BOOL windowed,
                                     D3DMULTISAMPLE_TYPE samples) override;
  HRESULT CheckDepthStencilMatch(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat,
                                 D3DFORMAT renderTargetFormat,
                                 D3DFORMAT depthStencilFormat) override;
  HRESULT GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS8* caps) override;
  HMONITOR GetAdapterMonitor(UINT adapter) override;
  HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviorFlags,
                       D3DPRESENT_PARAMETERS* params, IDirect3DDevice8** out) override;

 private:
  std::atomic<ULONG> refs_{1};
};

bool IsDeviceType(D3DDEVTYPE type);

// The capabilities a device of `type` on `adapter` reports.
void FillCaps(const AdapterConfig& adapter, UINT ordinal, D3DDEVTYPE type, D3DCAPS8* caps);

// Checks presentation parameters against the adapter and fills in what
// Direct3D derives: a zero windowed size from the window's client area, an
// UNKNOWN windowed format from the display, a zero back-buffer count as 1.
// `fallbackWindow` is used when hDeviceWindow is null. Additional swap
// chains must be windowed. D3DERR_INVALIDCALL when anything is out of range.
HRESULT ResolvePresentation(const AdapterConfig& adapter, const D3DPRESENT_PARAMETERS& in,
                            HWND fallbackWindow, bool additionalSwapChain,
                            D3DPRESENT_PARAMETERS* out, D3DDISPLAYMODE* displayMode);

}  // namespace vrt::d3d
