// Direct3DCreate8 and the IDirect3D8 object: adapter queries over the
// configured adapters, capabilities, format checks and device creation.
#include <algorithm>
#include <cstring>
#include <new>

#include "desktop.h"
#include "device.h"
#include "direct3d.h"
#include "formats.h"

namespace vrt::d3d {

namespace {

constexpr UINT kMaxSurfaceSide = 16384;
constexpr uintptr_t kFirstMonitorHandle = 0x30000;

bool IsUnknownInterface(REFIID riid) {
  static constexpr GUID kIUnknown = {0, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  return SameGuid(riid, kIUnknown);
}

void CopyIdentifierString(const std::string& from, char (&to)[MAX_DEVICE_IDENTIFIER_STRING]) {
  const size_t n = std::min(from.size(), sizeof(to) - 1);
  std::memcpy(to, from.data(), n);
  to[n] = '\0';
}

bool ValidPresentationInterval(UINT interval) {
  switch (interval) {
    case D3DPRESENT_INTERVAL_DEFAULT:
    case D3DPRESENT_INTERVAL_ONE:
    case D3DPRESENT_INTERVAL_TWO:
    case D3DPRESENT_INTERVAL_THREE:
    case D3DPRESENT_INTERVAL_FOUR:
    case D3DPRESENT_INTERVAL_IMMEDIATE:
      return true;
    default:
      return false;
  }
}

// The adapter's modes a full-screen device may take: the listed ones and the
// current one.
bool FindMode(const AdapterConfig& a, UINT width, UINT height, D3DFORMAT format, UINT refresh,
              D3DDISPLAYMODE* out) {
  auto matches = [&](const D3DDISPLAYMODE& m) {
    return m.Width == width && m.Height == height && m.Format == format &&
           (refresh == 0 || m.RefreshRate == refresh);
  };
  if (matches(a.currentMode)) {
    *out = a.currentMode;
    return true;
  }
  for (const D3DDISPLAYMODE& m : a.modes) {
    if (matches(m)) {
      *out = m;
      return true;
    }
  }
  return false;
}

bool HasModeInFormat(const AdapterConfig& a, D3DFORMAT format) {
  if (a.currentMode.Format == format) return true;
  return std::any_of(a.modes.begin(), a.modes.end(),
                     [&](const D3DDISPLAYMODE& m) { return m.Format == format; });
}

}  // namespace

bool IsDeviceType(D3DDEVTYPE type) { return type == D3DDEVTYPE_HAL || type == D3DDEVTYPE_REF; }

void FillCaps(const AdapterConfig& a, UINT ordinal, D3DDEVTYPE type, D3DCAPS8* caps) {
  D3DCAPS8 c{};
  c.DeviceType = type;
  c.AdapterOrdinal = ordinal;
  c.Caps = D3DCAPS_READ_SCANLINE;
  c.Caps2 = D3DCAPS2_CANRENDERWINDOWED | D3DCAPS2_DYNAMICTEXTURES | D3DCAPS2_FULLSCREENGAMMA;
  c.Caps3 = D3DCAPS3_ALPHA_FULLSCREEN_FLIP_OR_DISCARD;
  c.PresentationIntervals = D3DPRESENT_INTERVAL_IMMEDIATE | D3DPRESENT_INTERVAL_ONE;
  c.CursorCaps = D3DCURSORCAPS_COLOR;
  c.DevCaps = D3DDEVCAPS_EXECUTESYSTEMMEMORY | D3DDEVCAPS_TLVERTEXSYSTEMMEMORY |
              D3DDEVCAPS_TEXTURESYSTEMMEMORY | D3DDEVCAPS_DRAWPRIMTLVERTEX |
              D3DDEVCAPS_CANRENDERAFTERFLIP | D3DDEVCAPS_DRAWPRIMITIVES2 |
              D3DDEVCAPS_DRAWPRIMITIVES2EX | D3DDEVCAPS_HWTRANSFORMANDLIGHT;
  c.PrimitiveMiscCaps = D3DPMISCCAPS_MASKZ | D3DPMISCCAPS_CULLNONE | D3DPMISCCAPS_CULLCW |
                        D3DPMISCCAPS_CULLCCW | D3DPMISCCAPS_COLORWRITEENABLE |
                        D3DPMISCCAPS_CLIPTLVERTS | D3DPMISCCAPS_TSSARGTEMP | D3DPMISCCAPS_BLENDOP;
  c.RasterCaps = D3DPRASTERCAPS_DITHER | D3DPRASTERCAPS_ZTEST | D3DPRASTERCAPS_FOGVERTEX |
                 D3DPRASTERCAPS_FOGTABLE | D3DPRASTERCAPS_MIPMAPLODBIAS | D3DPRASTERCAPS_ZBIAS |
                 D3DPRASTERCAPS_FOGRANGE | D3DPRASTERCAPS_ZFOG | D3DPRASTERCAPS_COLORPERSPECTIVE;
  const DWORD allComparisons = D3DPCMPCAPS_NEVER | D3DPCMPCAPS_LESS | D3DPCMPCAPS_EQUAL |
                               D3DPCMPCAPS_LESSEQUAL | D3DPCMPCAPS_GREATER | D3DPCMPCAPS_NOTEQUAL |
                               D3DPCMPCAPS_GREATEREQUAL | D3DPCMPCAPS_ALWAYS;
  c.ZCmpCaps = allComparisons;
  c.AlphaCmpCaps = allComparisons;
  const DWORD commonBlends =
      D3DPBLENDCAPS_ZERO | D3DPBLENDCAPS_ONE | D3DPBLENDCAPS_SRCCOLOR | D3DPBLENDCAPS_INVSRCCOLOR |
      D3DPBLENDCAPS_SRCALPHA | D3DPBLENDCAPS_INVSRCALPHA | D3DPBLENDCAPS_DESTALPHA |
      D3DPBLENDCAPS_INVDESTALPHA | D3DPBLENDCAPS_DESTCOLOR | D3DPBLENDCAPS_INVDESTCOLOR;
  c.SrcBlendCaps = commonBlends | D3DPBLENDCAPS_SRCALPHASAT | D3DPBLENDCAPS_BOTHSRCALPHA |
                   D3DPBLENDCAPS_BOTHINVSRCALPHA;
  c.DestBlendCaps = commonBlends;
  c.ShadeCaps = D3DPSHADECAPS_COLORGOURAUDRGB | D3DPSHADECAPS_SPECULARGOURAUDRGB |
                D3DPSHADECAPS_ALPHAGOURAUDBLEND | D3DPSHADECAPS_FOGGOURAUD;
  c.TextureCaps = a.textureCaps;
  c.TextureFilterCaps = D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MINFLINEAR |
                        D3DPTFILTERCAPS_MIPFPOINT | D3DPTFILTERCAPS_MIPFLINEAR |
                        D3DPTFILTERCAPS_MAGFPOINT | D3DPTFILTERCAPS_MAGFLINEAR;
  c.TextureAddressCaps = D3DPTADDRESSCAPS_WRAP | D3DPTADDRESSCAPS_MIRROR | D3DPTADDRESSCAPS_CLAMP |
                         D3DPTADDRESSCAPS_BORDER | D3DPTADDRESSCAPS_INDEPENDENTUV |
                         D3DPTADDRESSCAPS_MIRRORONCE;
  c.LineCaps = D3DLINECAPS_TEXTURE | D3DLINECAPS_ZTEST | D3DLINECAPS_BLEND | D3DLINECAPS_ALPHACMP |
               D3DLINECAPS_FOG;
  c.MaxTextureWidth = a.maxTextureWidth;
  c.MaxTextureHeight = a.maxTextureHeight;
  c.MaxTextureRepeat = 8192;
  c.MaxTextureAspectRatio = std::max(a.maxTextureWidth, a.maxTextureHeight);
  c.MaxAnisotropy = 1;
  c.MaxVertexW = 1.0e10f;
  c.GuardBandLeft = -32768.0f;
  c.GuardBandTop = -32768.0f;
  c.GuardBandRight = 32767.0f;
  c.GuardBandBottom = 32767.0f;
  c.StencilCaps = D3DSTENCILCAPS_KEEP | D3DSTENCILCAPS_ZERO | D3DSTENCILCAPS_REPLACE |
                  D3DSTENCILCAPS_INCRSAT | D3DSTENCILCAPS_DECRSAT | D3DSTENCILCAPS_INVERT |
                  D3DSTENCILCAPS_INCR | D3DSTENCILCAPS_DECR;
  c.FVFCaps = 8;  // texture coordinate sets
  // Every operation but bump mapping.
  c.TextureOpCaps = (D3DTEXOPCAPS_LERP | (D3DTEXOPCAPS_LERP - 1)) &
                    ~(D3DTEXOPCAPS_BUMPENVMAP | D3DTEXOPCAPS_BUMPENVMAPLUMINANCE);
  c.MaxTextureBlendStages = kTextureStages;
  c.MaxSimultaneousTextures = kTextureStages;
  c.VertexProcessingCaps = D3DVTXPCAPS_TEXGEN | D3DVTXPCAPS_MATERIALSOURCE7 |
                           D3DVTXPCAPS_DIRECTIONALLIGHTS | D3DVTXPCAPS_POSITIONALLIGHTS |
                           D3DVTXPCAPS_LOCALVIEWER;
  c.MaxActiveLights = kActiveLights;
  c.MaxUserClipPlanes = kClipPlanes;
  c.MaxVertexBlendMatrices = 4;
  c.MaxVertexBlendMatrixIndex = 0;
  c.MaxPointSize = 1.0f;
  c.MaxPrimitiveCount = kMaxPrimitiveCount;
  c.MaxVertexIndex = kMaxVertexIndex;
  c.MaxStreams = kStreams;
  c.MaxStreamStride = kMaxStreamStride;
  c.VertexShaderVersion = D3DVS_VERSION(1, 1);
  c.MaxVertexShaderConst = kVertexShaderConstants;
  c.PixelShaderVersion = a.pixelShaderVersion;
  const DWORD ps = a.pixelShaderVersion & 0xFFFF;
  c.MaxPixelShaderValue = ps >= 0x0104 ? 8.0f : (ps > 0 ? 1.0f : 0.0f);
  *caps = c;
}

HRESULT ResolvePresentation(const AdapterConfig& a, const D3DPRESENT_PARAMETERS& in,
                            HWND fallbackWindow, bool additionalSwapChain,
                            D3DPRESENT_PARAMETERS* out, D3DDISPLAYMODE* displayMode) {
  D3DPRESENT_PARAMETERS p = in;
  if (!p.hDeviceWindow) p.hDeviceWindow = fallbackWindow;
  desktop::Placement window;
  if (!p.hDeviceWindow || !desktop::Lookup(p.hDeviceWindow, &window)) return D3DERR_INVALIDCALL;
  if (p.SwapEffect < D3DSWAPEFFECT_DISCARD || p.SwapEffect > D3DSWAPEFFECT_COPY_VSYNC)
    return D3DERR_INVALIDCALL;
  if (p.BackBufferCount == 0) p.BackBufferCount = 1;
  if (p.BackBufferCount > D3DPRESENT_BACK_BUFFERS_MAX) return D3DERR_INVALIDCALL;
  const bool copies =
      p.SwapEffect == D3DSWAPEFFECT_COPY || p.SwapEffect == D3DSWAPEFFECT_COPY_VSYNC;
  if (copies && p.BackBufferCount > 1) return D3DERR_INVALIDCALL;
  if (p.MultiSampleType != D3DMULTISAMPLE_NONE) return D3DERR_INVALIDCALL;
  if (p.Flags & ~D3DPRESENTFLAG_LOCKABLE_BACKBUFFER) return D3DERR_INVALIDCALL;
  if (p.EnableAutoDepthStencil && !IsDepthFormat(p.AutoDepthStencilFormat))
    return D3DERR_INVALIDCALL;

  if (p.Windowed) {
    if (p.FullScreen_RefreshRateInHz != 0) return D3DERR_INVALIDCALL;
    if (p.FullScreen_PresentationInterval != D3DPRESENT_INTERVAL_DEFAULT) return D3DERR_INVALIDCALL;
    if (p.BackBufferWidth == 0) p.BackBufferWidth = static_cast<UINT>(std::max(window.width, 1));
    if (p.BackBufferHeight == 0) p.BackBufferHeight = static_cast<UINT>(std::max(window.height, 1));
    if (p.BackBufferFormat == D3DFMT_UNKNOWN) p.BackBufferFormat = a.currentMode.Format;
    if (!IsBackBufferFormat(p.BackBufferFormat)) return D3DERR_INVALIDCALL;
    if (p.BackBufferWidth > kMaxSurfaceSide || p.BackBufferHeight > kMaxSurfaceSide)
      return D3DERR_INVALIDCALL;
    *displayMode = a.currentMode;
  } else {
    if (additionalSwapChain) return D3DERR_INVALIDCALL;
    if (!IsBackBufferFormat(p.BackBufferFormat)) return D3DERR_INVALIDCALL;
    if (!ValidPresentationInterval(p.FullScreen_PresentationInterval)) return D3DERR_INVALIDCALL;
    if (!FindMode(a, p.BackBufferWidth, p.BackBufferHeight, DisplayFormatOf(p.BackBufferFormat),
                  p.FullScreen_RefreshRateInHz, displayMode))
      return D3DERR_INVALIDCALL;
  }
  *out = p;
  return D3D_OK;
}

Direct3D::Direct3D() { internal::ObjectCreated(); }
Direct3D::~Direct3D() { internal::ObjectDestroyed(); }

HRESULT Direct3D::QueryInterface(REFIID riid, void** object) {
  if (!object) return internal::kPointerError;
  if (IsUnknownInterface(riid) || SameGuid(riid, IID_IDirect3D8)) {
    AddRef();
    *object = static_cast<IDirect3D8*>(this);
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG Direct3D::AddRef() { return ++refs_; }

ULONG Direct3D::Release() {
  const ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

HRESULT Direct3D::RegisterSoftwareDevice(void* initialize) {
  VRT_ENTRY("IDirect3D8::RegisterSoftwareDevice", initialize);
  // The runtime's own device is the only software rasteriser.
  return initialize ? D3DERR_NOTAVAILABLE : D3DERR_INVALIDCALL;
}

UINT Direct3D::GetAdapterCount() {
  VRT_NOTE("IDirect3D8::GetAdapterCount");
  return internal::AdapterCount();
}

HRESULT Direct3D::GetAdapterIdentifier(UINT adapter, DWORD flags, D3DADAPTER_IDENTIFIER8* id) {
  VRT_ENTRY("IDirect3D8::GetAdapterIdentifier", adapter, flags, id);
  AdapterConfig a;
  if (!id || (flags & ~D3DENUM_NO_WHQL_LEVEL) || !internal::AdapterAt(adapter, &a))
    return D3DERR_INVALIDCALL;
  D3DADAPTER_IDENTIFIER8 r{};
  CopyIdentifierString(a.driver, r.Driver);
  CopyIdentifierString(a.description, r.Description);
  r.DriverVersion.QuadPart = static_cast<LONGLONG>(a.driverVersion);
  r.VendorId = a.vendorId;
  r.DeviceId = a.deviceId;
  r.SubSysId = 0;
  r.Revision = 0;
  r.DeviceIdentifier.Data1 = (a.vendorId << 16) | (a.deviceId & 0xFFFF);
  r.DeviceIdentifier.Data2 = 0x7665;  // "ve"
  r.DeviceIdentifier.Data3 = 0x6B38;  // "k8"
  for (int i = 0; i < 8; ++i)
    r.DeviceIdentifier.Data4[i] = static_cast<uint8_t>(a.driverVersion >> (56 - 8 * i));
  // 1: certified without a date. Skipping the lookup reports 0.
  r.WHQLLevel = (flags & D3DENUM_NO_WHQL_LEVEL) ? 0 : 1;
  *id = r;
  return D3D_OK;
}

UINT Direct3D::GetAdapterModeCount(UINT adapter) {
  VRT_NOTE("IDirect3D8::GetAdapterModeCount", adapter);
  AdapterConfig a;
  return internal::AdapterAt(adapter, &a) ? static_cast<UINT>(a.modes.size()) : 0;
}

HRESULT Direct3D::EnumAdapterModes(UINT adapter, UINT mode, D3DDISPLAYMODE* out) {
  VRT_ENTRY("IDirect3D8::EnumAdapterModes", adapter, mode, out);
  AdapterConfig a;
  if (!out || !internal::AdapterAt(adapter, &a) || mode >= a.modes.size())
    return D3DERR_INVALIDCALL;
  *out = a.modes[mode];
  return D3D_OK;
}

HRESULT Direct3D::GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* out) {
  VRT_ENTRY("IDirect3D8::GetAdapterDisplayMode", adapter, out);
  AdapterConfig a;
  if (!out || !internal::AdapterAt(adapter, &a)) return D3DERR_INVALIDCALL;
  *out = a.currentMode;
  return D3D_OK;
}

HRESULT Direct3D::CheckDeviceType(UINT adapter, D3DDEVTYPE type, D3DFORMAT displayFormat,
                                  D3DFORMAT backBufferFormat, BOOL windowed) {
  VRT_ENTRY("IDirect3D8::CheckDeviceType", adapter, type, displayFormat, backBufferFormat,
            windowed);
  AdapterConfig a;
  if (!internal::AdapterAt(adapter, &a) || !IsDeviceType(type)) return D3DERR_INVALIDCALL;
  if (!IsDisplayFormat(displayFormat)) return D3DERR_NOTAVAILABLE;
  if (windowed) {
    // A window shows on the desktop as it is; its back buffer is converted.
    if (displayFormat != a.currentMode.Format) return D3DERR_NOTAVAILABLE;
    if (backBufferFormat != D3DFMT_UNKNOWN && !IsBackBufferFormat(backBufferFormat))
      return D3DERR_NOTAVAILABLE;
    return D3D_OK;
  }
  if (!HasModeInFormat(a, displayFormat)) return D3DERR_NOTAVAILABLE;
  if (!IsBackBufferFormat(backBufferFormat) || DisplayFormatOf(backBufferFormat) != displayFormat)
    return D3DERR_NOTAVAILABLE;
  return D3D_OK;
}

HRESULT Direct3D::CheckDeviceFormat(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat,
                                    DWORD usage, D3DRESOURCETYPE resourceType, D3DFORMAT format) {
  VRT_ENTRY("IDirect3D8::CheckDeviceFormat", adapter, type, adapterFormat, usage, resourceType,
            format);
  AdapterConfig a;
  if (!internal::AdapterAt(adapter, &a) || !IsDeviceType(type) || !IsDisplayFormat(adapterFormat))
    return D3DERR_INVALIDCALL;
  bool ok = false;
  switch (resourceType) {
    case D3DRTYPE_SURFACE:
      if (usage & D3DUSAGE_RENDERTARGET)
        ok = IsRenderTargetFormat(format);
      else if (usage & D3DUSAGE_DEPTHSTENCIL)
        ok = IsDepthFormat(format);
      else
        ok = IsTextureFormat(format) || IsDepthFormat(format);
      break;
    case D3DRTYPE_TEXTURE:
      if (usage & D3DUSAGE_DEPTHSTENCIL)
        ok = false;
      else if (usage & D3DUSAGE_RENDERTARGET)
        ok = IsRenderTargetFormat(format);
      else
        ok = IsTextureFormat(format);
      break;
    case D3DRTYPE_VERTEXBUFFER:
      ok = format == D3DFMT_VERTEXDATA;
      break;
    case D3DRTYPE_INDEXBUFFER:
      ok = format == D3DFMT_INDEX16 || format == D3DFMT_INDEX32;
      break;
    default:  // no volume or cube textures
      ok = false;
      break;
  }
  return ok ? D3D_OK : D3DERR_NOTAVAILABLE;
}

HRESULT Direct3D::CheckDeviceMultiSampleType(UINT adapter, D3DDEVTYPE type, D3DFORMAT format,
                                             BOOL windowed, D3DMULTISAMPLE_TYPE samples) {
  VRT_ENTRY("IDirect3D8::CheckDeviceMultiSampleType", adapter, type, format, windowed, samples);
  AdapterConfig a;
  if (!internal::AdapterAt(adapter, &a) || !IsDeviceType(type)) return D3DERR_INVALIDCALL;
  FormatInfo info;
  if (!DescribeFormat(format, &info)) return D3DERR_INVALIDCALL;
  return samples == D3DMULTISAMPLE_NONE ? D3D_OK : D3DERR_NOTAVAILABLE;
}

HRESULT Direct3D::CheckDepthStencilMatch(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat,
                                         D3DFORMAT renderTargetFormat,
                                         D3DFORMAT depthStencilFormat) {
  VRT_ENTRY("IDirect3D8::CheckDepthStencilMatch", adapter, type, adapterFormat, renderTargetFormat,
            depthStencilFormat);
  AdapterConfig a;
  if (!internal::AdapterAt(adapter, &a) || !IsDeviceType(type) || !IsDisplayFormat(adapterFormat))
    return D3DERR_INVALIDCALL;
  // Software depth testing pairs any depth format with any target.
  if (!IsRenderTargetFormat(renderTargetFormat) || !IsDepthFormat(depthStencilFormat))
    return D3DERR_NOTAVAILABLE;
  return D3D_OK;
}

HRESULT Direct3D::GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS8* caps) {
  VRT_ENTRY("IDirect3D8::GetDeviceCaps", adapter, type, caps);
  AdapterConfig a;
  if (!caps || !internal::AdapterAt(adapter, &a) || !IsDeviceType(type)) return D3DERR_INVALIDCALL;
  FillCaps(a, adapter, type, caps);
  return D3D_OK;
}

HMONITOR Direct3D::GetAdapterMonitor(UINT adapter) {
  VRT_NOTE("IDirect3D8::GetAdapterMonitor", adapter);
  if (adapter >= internal::AdapterCount()) return nullptr;
  return reinterpret_cast<HMONITOR>(kFirstMonitorHandle + 0x10 * static_cast<uintptr_t>(adapter));
}

HRESULT Direct3D::CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviorFlags,
                               D3DPRESENT_PARAMETERS* params, IDirect3DDevice8** out) {
  VRT_ENTRY("IDirect3D8::CreateDevice", adapter, type, focusWindow, behaviorFlags, params, out);
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  AdapterConfig a;
  if (!params || !internal::AdapterAt(adapter, &a) || !IsDeviceType(type))
    return D3DERR_INVALIDCALL;
  const DWORD known = D3DCREATE_FPU_PRESERVE | D3DCREATE_MULTITHREADED | D3DCREATE_PUREDEVICE |
                      D3DCREATE_SOFTWARE_VERTEXPROCESSING | D3DCREATE_HARDWARE_VERTEXPROCESSING |
                      D3DCREATE_MIXED_VERTEXPROCESSING;
  const DWORD processing =
      behaviorFlags & (D3DCREATE_SOFTWARE_VERTEXPROCESSING | D3DCREATE_HARDWARE_VERTEXPROCESSING |
                       D3DCREATE_MIXED_VERTEXPROCESSING);
  if ((behaviorFlags & ~known) || std::popcount(processing) != 1) return D3DERR_INVALIDCALL;
  // A pure device would not answer Get* calls; this one never claims to be.
  if (behaviorFlags & D3DCREATE_PUREDEVICE) return D3DERR_INVALIDCALL;
  if (focusWindow && !IsWindow(focusWindow)) return D3DERR_INVALIDCALL;
  if (!params->Windowed && !focusWindow) return D3DERR_INVALIDCALL;
  D3DPRESENT_PARAMETERS resolved;
  D3DDISPLAYMODE displayMode;
  const HRESULT hr = ResolvePresentation(a, *params, focusWindow, false, &resolved, &displayMode);
  if (FAILED(hr)) return hr;
  const HRESULT created = Device::Create(this, adapter, a, type, focusWindow, behaviorFlags,
                                         resolved, displayMode, out);
  // Like Direct3D 8, hand back the parameters as the device took them
  // (zero sizes, D3DFMT_UNKNOWN and a zero count filled in).
  if (SUCCEEDED(created)) *params = resolved;
  return created;
}

}  // namespace vrt::d3d

extern "C" IDirect3D8* Direct3DCreate8(UINT SDKVersion) {
  HRESULT injected = S_OK;
  if (vrt::internal::Hooked("Direct3DCreate8", &injected, SDKVersion)) return nullptr;
  if (SDKVersion != D3D_SDK_VERSION) return nullptr;
  return new (std::nothrow) vrt::d3d::Direct3D;
}
