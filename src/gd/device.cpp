#include "gd/device.h"

#include <cstring>

#include "gd/direct3d.h"
#include "gd/effects.h"
#include "gd/gd_diagnostics.h"
#include "host/com.h"
#include "host/host.h"

namespace {

GraphicsDevice* currentDevice = nullptr;
// Open devices in opening order: the last is the current device.
PBuffer openDevices;

bool IsOpenDevice(const GraphicsDevice* device) {
  for (DWORD i = 0; device && i < openDevices.count; ++i)
    if (openDevices.entries[i] == device) return true;
  return false;
}

bool RefuseDevice(const GraphicsDevice* device) {
  if (IsOpenDevice(device)) return false;
  GdError(GdErr::kNotOpen, 0);
  return true;
}

// A failed open lets go of the shared object when no device needs it.
void ReleaseUnusedDirect3D() {
  if (openDevices.count == 0) ReleaseDirect3D();
}

// Fills the presentation fields that open and reset both derive from the
// host's arguments: swap effect, interval, size, refresh and format.
void ResolvePresentation(GraphicsDevice* device, IDirect3D8* d3d, DWORD windowed, INT width,
                         INT height, INT bits, INT refresh) {
  D3DPRESENT_PARAMETERS& p = device->present;
  p.Windowed = LOBYTE(windowed);
  D3DDISPLAYMODE mode{};
  d3d->GetAdapterDisplayMode(device->adapter, &mode);
  if (p.Windowed) {
    p.SwapEffect = D3DSWAPEFFECT_COPY;
    RECT client{};
    GetClientRect(p.hDeviceWindow, &client);
    if (width <= 0) width = client.right - client.left;
    if (height <= 0) height = client.bottom - client.top;
    p.FullScreen_RefreshRateInHz = 0;
    p.FullScreen_PresentationInterval = D3DPRESENT_INTERVAL_DEFAULT;
  } else {
    p.SwapEffect = D3DSWAPEFFECT_FLIP;
    p.FullScreen_PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
    if (width <= 0) width = static_cast<INT>(mode.Width);
    if (height <= 0) height = static_cast<INT>(mode.Height);
    if (refresh <= 0) refresh = static_cast<INT>(mode.RefreshRate);
    p.FullScreen_RefreshRateInHz = static_cast<UINT>(refresh);
  }
  if (bits <= 0)
    p.BackBufferFormat = mode.Format;
  else if (bits == 16)
    p.BackBufferFormat = D3DFMT_R5G6B5;
  else if (bits == 32)
    p.BackBufferFormat = D3DFMT_X8R8G8B8;
  else
    p.BackBufferFormat = D3DFMT_UNKNOWN;
  p.BackBufferWidth = static_cast<UINT>(width);
  p.BackBufferHeight = static_cast<UINT>(height);
}

// The first adapter whose description names PerfHUD, or -1. Such an
// adapter takes the device, as the reference rasteriser, so the profiler
// can attach.
int FindPerfHudAdapter(IDirect3D8* d3d) {
  static const char kPerfHud[] = "PerfHUD";
  const UINT count = d3d->GetAdapterCount();
  for (UINT i = 0; i < count; ++i) {
    D3DADAPTER_IDENTIFIER8 id{};
    if (FAILED(d3d->GetAdapterIdentifier(i, 0, &id))) continue;
    const size_t n = strnlen(id.Description, sizeof(id.Description));
    for (size_t at = 0; at + sizeof(kPerfHud) - 1 <= n; ++at)
      if (std::memcmp(id.Description + at, kPerfHud, sizeof(kPerfHud) - 1) == 0)
        return static_cast<int>(i);
  }
  return -1;
}

void ReleaseBatchBuffers(GraphicsDevice* device) {
  ReleaseInterface(device->vertexBuffer);
  ReleaseInterface(device->indexBuffer);
}

void CallResetCallback(GraphicsDevice* device, bool release) {
  if (!device->resetCallback) return;
  for (DWORD i = 0; i < device->graphicsList.count; ++i)
    device->resetCallback(static_cast<Graphics*>(device->graphicsList.entries[i]), release);
}

}  // namespace

GraphicsDevice* GetCurrentDevice() { return currentDevice; }

bool CreateBatchBuffers(GraphicsDevice* device) {
  IDirect3DDevice8* d3dDevice = device->cache.device;
  EnterCriticalSection(&device->lock);
  HRESULT hr = d3dDevice->CreateVertexBuffer(
      kBatchVertexCount * kBatchVertexSize, D3DUSAGE_WRITEONLY | D3DUSAGE_DYNAMIC,
      kBatchVertexFormat, D3DPOOL_DEFAULT, &device->vertexBuffer);
  LeaveCriticalSection(&device->lock);
  if (FAILED(hr)) {
    GdError(GdErr::kVertexBuffer, hr);
    ReleaseBatchBuffers(device);
    return false;
  }
  EnterCriticalSection(&device->lock);
  hr = d3dDevice->CreateIndexBuffer(kBatchQuadCount * 6 * sizeof(WORD), D3DUSAGE_WRITEONLY,
                                    D3DFMT_INDEX16, D3DPOOL_MANAGED, &device->indexBuffer);
  LeaveCriticalSection(&device->lock);
  if (FAILED(hr)) {
    GdError(GdErr::kIndexBuffer, hr);
    ReleaseBatchBuffers(device);
    return false;
  }
  BYTE* data = nullptr;
  hr = device->indexBuffer->Lock(0, 0, &data, 0);
  if (FAILED(hr)) {
    GdError(GdErr::kLockIndexBuffer, hr);
    ReleaseBatchBuffers(device);
    return false;
  }
  // Two triangles per quad over its four corners.
  WORD* index = reinterpret_cast<WORD*>(data);
  for (UINT q = 0; q < kBatchQuadCount; ++q) {
    const WORD b = static_cast<WORD>(4 * q);
    const WORD pattern[6] = {b,
                             static_cast<WORD>(b + 1),
                             static_cast<WORD>(b + 2),
                             static_cast<WORD>(b + 2),
                             static_cast<WORD>(b + 3),
                             b};
    std::memcpy(index + 6 * q, pattern, sizeof(pattern));
  }
  device->indexBuffer->Unlock();
  return true;
}

GraphicsDevice* OpenDevice(UINT adapter, HWND window, DWORD windowed, INT width, INT height,
                           INT bits, INT refresh) {
  IDirect3D8* d3d = EnsureDirect3D();
  if (!d3d) {
    GdError(GdErr::kOpenDirect3D, 0);
    return nullptr;
  }

  auto* device = static_cast<GraphicsDevice*>(Malloc(sizeof(GraphicsDevice)));
  if (!device) {
    GdError(GdErr::kMallocDevice, 0);
    ReleaseUnusedDirect3D();
    return nullptr;
  }
  std::memset(static_cast<void*>(device), 0, sizeof(GraphicsDevice));
  ResetStateCache(&device->cache);
  device->adapter = adapter;

  // Any failure leaves the capabilities unknown: the device cannot open.
  const HRESULT capsResult = d3d->GetDeviceCaps(adapter, D3DDEVTYPE_HAL, &device->caps);
  if (FAILED(capsResult)) {
    Free(device);
    if (capsResult == D3DERR_INVALIDCALL)
      GdError(GdErr::kCapsInvalidCall, 0);
    else if (capsResult == D3DERR_NOTAVAILABLE)
      GdError(GdErr::kCapsNotAvailable, 0);
    else
      GdError(GdErr::kCaps, capsResult);
    ReleaseUnusedDirect3D();
    return nullptr;
  }

  D3DPRESENT_PARAMETERS& p = device->present;
  p.hDeviceWindow = window;
  ResolvePresentation(device, d3d, windowed, width, height, bits, refresh);
  p.BackBufferCount = 1;
  p.MultiSampleType = D3DMULTISAMPLE_NONE;
  p.EnableAutoDepthStencil = FALSE;  // each Graphics makes its own depth-stencil surface
  p.Flags = 0;

  device->texturesPow2 =
      (device->caps.TextureCaps & (D3DPTEXTURECAPS_POW2 | D3DPTEXTURECAPS_NONPOW2CONDITIONAL)) ? 1
                                                                                               : 0;

  UINT chosenAdapter = adapter;
  D3DDEVTYPE deviceType = D3DDEVTYPE_HAL;
  const int perfHud = FindPerfHudAdapter(d3d);
  if (perfHud >= 0) {
    chosenAdapter = static_cast<UINT>(perfHud);
    deviceType = D3DDEVTYPE_REF;
  }

  const DWORD behaviour = D3DCREATE_SOFTWARE_VERTEXPROCESSING;
  const HRESULT hr =
      d3d->CreateDevice(chosenAdapter, deviceType, window, behaviour, &p, &device->cache.device);
  LogInfo(gdLogger,
          VEK_W("CreateDevice, hDev=%d, devType=%d, hwnd=%d, vp=%d, window=%d, width=%d, "
                "height=%d, mode=%s, result=%d"),
          static_cast<int>(chosenAdapter), static_cast<int>(deviceType),
          static_cast<int>(reinterpret_cast<INT_PTR>(window)), static_cast<int>(behaviour),
          static_cast<int>(p.Windowed), static_cast<int>(p.BackBufferWidth),
          static_cast<int>(p.BackBufferHeight), FormatName(p.BackBufferFormat),
          static_cast<int>(hr));
  if (FAILED(hr)) {
    device->cache.device = nullptr;  // never trust an out-pointer of a failed call
    ReleaseDevice(device);
    GdError(GdErr::kCreateDevice, hr);
    return nullptr;
  }

  InitializeCriticalSection(&device->lock);
  device->lockInitialised = true;
  if (!CreateBatchBuffers(device)) {
    ReleaseDevice(device);
    return nullptr;
  }
  PBufferAdd(&openDevices, device);
  currentDevice = device;
  // Effect shaders are created when a frame first needs them.
  for (int id = 1; id <= 8; ++id) device->shaderSource[id] = EffectShaderSource(id);
  return device;
}

INT RestoreDevice(GraphicsDevice* device) {
  RenderStateCache* cache = &device->cache;
  SetIndicesCached(cache, nullptr, 0);
  SetStreamSourceCached(cache, 0, nullptr, kBatchVertexSize);
  ResetStateCache(cache);
  ReleaseBatchBuffers(device);
  CallResetCallback(device, true);

  const HRESULT hr = cache->device->Reset(&device->present);
  if (FAILED(hr)) {
    // Released but open: the next check or reset runs the whole path again.
    device->resetPending = true;
    GdError(GdErr::kReset, hr);
    return hr;
  }
  device->resetPending = false;
  device->frameOwner = nullptr;  // a reset ends any scene
  // Shaders that existed are deleted and made again by the rebuild.
  for (int id = 0; id < kEffectSlots; ++id) {
    if (device->shaderHandle[id] == 0) continue;
    cache->device->DeletePixelShader(device->shaderHandle[id]);
    device->shaderHandle[id] = 0;
    device->shadersToRecreate |= 1u << id;
  }
  return RebuildDevice(device);
}

INT RebuildDevice(GraphicsDevice* device) {
  HRESULT failed = D3D_OK;
  if (!RecreateEffectShaders(device)) failed = E_FAIL;
  if (device->resetCallback) {
    // Every surface gets its chance, whatever an earlier one answered.
    for (DWORD i = 0; i < device->graphicsList.count; ++i) {
      const LONG r =
          device->resetCallback(static_cast<Graphics*>(device->graphicsList.entries[i]), false);
      if (r < 0 && SUCCEEDED(failed)) failed = r;
    }
  }
  bool buffers = device->vertexBuffer && device->indexBuffer;
  if (!buffers) {
    ReleaseBatchBuffers(device);
    buffers = CreateBatchBuffers(device);
  }
  device->rebuildPending = FAILED(failed) || !buffers;
  if (FAILED(failed)) {
    GdError(GdErr::kRebuild, failed);
    return failed;
  }
  return buffers ? 1 : 0;
}

INT ResetDevice(GraphicsDevice* device, DWORD windowed, INT width, INT height, INT bits,
                INT refresh) {
  if (RefuseDevice(device)) return 0;
  IDirect3D8* d3d = EnsureDirect3D();
  if (!d3d) {
    GdError(GdErr::kResetDirect3D, 0);
    return 0;
  }
  ResolvePresentation(device, d3d, windowed, width, height, bits, refresh);
  return RestoreDevice(device);
}

INT CheckDevice(GraphicsDevice* device) {
  if (RefuseDevice(device)) return 0;
  const HRESULT hr = device->cache.device->TestCooperativeLevel();
  if (hr == D3DERR_DEVICENOTRESET || (SUCCEEDED(hr) && device->resetPending))
    return RestoreDevice(device);
  if (FAILED(hr)) return hr;
  // A usable device that a reset left incomplete gets the rest made here
  // instead of staying unable to draw.
  if (device->rebuildPending || !device->vertexBuffer || !device->indexBuffer)
    return RebuildDevice(device);
  return 1;
}

ULONG ReleaseDevice(GraphicsDevice* device) {
  // Surfaces still open go with their device.
  if (device->closeCallback) device->closeCallback(device);
  ReleaseBatchBuffers(device);
  for (int id = 0; id < kEffectSlots; ++id) {
    if (device->shaderHandle[id] != 0 && device->cache.device)
      device->cache.device->DeletePixelShader(device->shaderHandle[id]);
    device->shaderHandle[id] = 0;
  }
  if (device->lockInitialised) DeleteCriticalSection(&device->lock);
  ReleaseInterface(device->cache.device);
  ReleasePBuffer(&device->graphicsList);
  Free(device);
  PBufferRemoveAtPointer(&openDevices, device);
  if (openDevices.count == 0) ReleasePBuffer(&openDevices);
  const ULONG count = ReleaseDirect3D();
  currentDevice = openDevices.count
                      ? static_cast<GraphicsDevice*>(openDevices.entries[openDevices.count - 1])
                      : nullptr;
  return count;
}

ULONG CloseDevice(GraphicsDevice* device) {
  if (RefuseDevice(device)) return 0;
  return ReleaseDevice(device);
}
