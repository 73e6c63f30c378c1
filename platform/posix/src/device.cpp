// The device's lifetime, cooperative level, presentation, resource creation
// and render-target bindings. States and draws are in device_state.cpp.
#include "device.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <mutex>
#include <new>

#include "desktop.h"
#include "raster.h"

namespace vrt::d3d {

namespace {

constexpr UINT kMaxSurfaceSide = 16384;
constexpr UINT kTextureMemory = 256u << 20;

// Live devices, so control calls can tell a device from any other pointer.
struct Registry {
  std::mutex mutex;
  std::map<IDirect3DDevice8*, Device*> devices;
};

Registry& TheRegistry() {
  static Registry* registry = new Registry;
  return *registry;
}

constexpr GUID kIUnknownId = {0, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

bool IsPow2(UINT v) { return v && !(v & (v - 1)); }

bool ValidPool(D3DPOOL pool) {
  return pool == D3DPOOL_DEFAULT || pool == D3DPOOL_MANAGED || pool == D3DPOOL_SYSTEMMEM;
}

bool ValidRect(const RECT& r, UINT width, UINT height) {
  return r.left >= 0 && r.top >= 0 && r.left < r.right && r.top < r.bottom &&
         static_cast<UINT>(r.right) <= width && static_cast<UINT>(r.bottom) <= height;
}

}  // namespace

// --- Lifetime -------------------------------------------------------------

Device::Device(Direct3D* d3d, UINT adapter, const AdapterConfig& config, D3DDEVTYPE type,
               HWND focusWindow, DWORD behaviorFlags, const D3DPRESENT_PARAMETERS& params,
               const D3DDISPLAYMODE& displayMode)
    : d3d_(d3d),
      adapterOrdinal_(adapter),
      config_(config),
      type_(type),
      focusWindow_(focusWindow),
      behaviorFlags_(behaviorFlags),
      params_(params),
      displayMode_(displayMode) {
  FillCaps(config_, adapterOrdinal_, type_, &caps_);
  for (int i = 0; i < 256; ++i)
    gamma_.red[i] = gamma_.green[i] = gamma_.blue[i] = static_cast<WORD>(i * 257);
  {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.devices[this] = this;
  }
  d3d_->AddRef();
  internal::ObjectCreated();
}

Device::~Device() {
  {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.devices.erase(this);
  }
  internal::ObjectDestroyed();
}

HRESULT Device::Create(Direct3D* d3d, UINT adapter, const AdapterConfig& config, D3DDEVTYPE type,
                       HWND focusWindow, DWORD behaviorFlags, const D3DPRESENT_PARAMETERS& params,
                       const D3DDISPLAYMODE& displayMode, IDirect3DDevice8** out) {
  Device* device = nullptr;
  try {
    device =
        new Device(d3d, adapter, config, type, focusWindow, behaviorFlags, params, displayMode);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  const HRESULT hr =
      device->CreateImplicitSurfaces(params, &device->backBuffers_, &device->autoDepth_);
  if (FAILED(hr)) {
    device->Release();
    return hr;
  }
  device->RestoreDefaultState();
  *out = device;
  return D3D_OK;
}

Device* Device::FromInterface(IDirect3DDevice8* device) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = r.devices.find(device);
  return it == r.devices.end() ? nullptr : it->second;
}

HRESULT Device::QueryInterface(REFIID riid, void** object) {
  if (!object) return internal::kPointerError;
  if (SameGuid(riid, kIUnknownId) || SameGuid(riid, IID_IDirect3DDevice8)) {
    AddRef();
    *object = static_cast<IDirect3DDevice8*>(this);
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG Device::AddRef() { return ++refs_; }

ULONG Device::Release() {
  const ULONG left = --refs_;
  if (left == 0) {
    Direct3D* d3d = d3d_;
    DropBindings();  // frees what only the bindings kept
    delete this;
    d3d->Release();
  }
  return left;
}

void Device::ResourceCreated(D3DPOOL pool) {
  if (pool == D3DPOOL_DEFAULT) ++defaultResources_;
}

void Device::ResourceDestroyed(D3DPOOL pool) {
  if (pool == D3DPOOL_DEFAULT) --defaultResources_;
}

HRESULT Device::CreateImplicitSurfaces(const D3DPRESENT_PARAMETERS& params,
                                       std::vector<std::unique_ptr<Surface>>* backBuffers,
                                       std::unique_ptr<Surface>* depth) {
  std::vector<std::unique_ptr<Surface>> made;
  std::unique_ptr<Surface> madeDepth;
  try {
    const Surface::Owner owner{this, Resource::Lifetime::Implicit, nullptr, nullptr};
    for (UINT i = 0; i < params.BackBufferCount; ++i) {
      Surface::Shape shape{Surface::Kind::BackBuffer,
                           params.BackBufferWidth,
                           params.BackBufferHeight,
                           params.BackBufferFormat,
                           D3DPOOL_DEFAULT,
                           D3DUSAGE_RENDERTARGET,
                           (params.Flags & D3DPRESENTFLAG_LOCKABLE_BACKBUFFER) != 0};
      std::unique_ptr<Surface> surface = Surface::Make(owner, shape);
      if (!surface) return D3DERR_OUTOFVIDEOMEMORY;
      made.push_back(std::move(surface));
    }
    if (params.EnableAutoDepthStencil) {
      Surface::Shape shape{Surface::Kind::DepthStencil,
                           params.BackBufferWidth,
                           params.BackBufferHeight,
                           params.AutoDepthStencilFormat,
                           D3DPOOL_DEFAULT,
                           D3DUSAGE_DEPTHSTENCIL,
                           params.AutoDepthStencilFormat == D3DFMT_D16_LOCKABLE};
      madeDepth = Surface::Make(owner, shape);
      if (!madeDepth) return D3DERR_OUTOFVIDEOMEMORY;
    }
  } catch (const std::bad_alloc&) {
    return D3DERR_OUTOFVIDEOMEMORY;
  }
  *backBuffers = std::move(made);
  *depth = std::move(madeDepth);
  return D3D_OK;
}

void Device::DropBindings() {
  for (Texture*& t : state_.textures) Rebind<Texture>(t, nullptr);
  for (StreamSource& s : state_.streams) {
    Rebind<VertexBuffer>(s.buffer, nullptr);
    s.stride = 0;
  }
  Rebind<IndexBuffer>(state_.indices, nullptr);
  Rebind<Surface>(state_.renderTarget, nullptr);
  Rebind<Surface>(state_.depthStencil, nullptr);
}

void Device::ViewportToTarget() {
  Surface* target = state_.renderTarget;
  state_.viewport =
      D3DVIEWPORT8{0, 0, target ? target->width() : 0, target ? target->height() : 0, 0.0f, 1.0f};
}

// --- Cooperative level and presentation -----------------------------------

HRESULT Device::TestCooperativeLevel() {
  VRT_ENTRY("IDirect3DDevice8::TestCooperativeLevel");
  switch (cooperation_) {
    case Cooperation::Lost:
      return D3DERR_DEVICELOST;
    case Cooperation::NotReset:
      return D3DERR_DEVICENOTRESET;
    case Cooperation::Operational:
      break;
  }
  return D3D_OK;
}

HRESULT Device::Reset(D3DPRESENT_PARAMETERS* params) {
  HRESULT injected = S_OK;
  if (internal::Hooked("IDirect3DDevice8::Reset", &injected, params)) {
    // A failed reset leaves the device waiting for another, as any failure does.
    if (cooperation_ != Cooperation::Lost) cooperation_ = Cooperation::NotReset;
    return injected;
  }
  if (cooperation_ == Cooperation::Lost) return D3DERR_DEVICELOST;
  auto refuse = [this](HRESULT hr) {
    cooperation_ = Cooperation::NotReset;
    return hr;
  };
  if (!params) return refuse(D3DERR_INVALIDCALL);
  D3DPRESENT_PARAMETERS resolved;
  D3DDISPLAYMODE mode;
  if (FAILED(ResolvePresentation(config_, *params, focusWindow_, false, &resolved, &mode)))
    return refuse(D3DERR_INVALIDCALL);
  if (!resolved.Windowed && !focusWindow_) return refuse(D3DERR_INVALIDCALL);
  // Video memory must be free of the application's resources, the old back
  // buffers and depth surface included.
  if (defaultResources_ > 0) return refuse(D3DERR_INVALIDCALL);
  for (const auto& b : backBuffers_)
    if (b->HeldByApp()) return refuse(D3DERR_INVALIDCALL);
  if (autoDepth_ && autoDepth_->HeldByApp()) return refuse(D3DERR_INVALIDCALL);

  std::vector<std::unique_ptr<Surface>> backBuffers;
  std::unique_ptr<Surface> depth;
  const HRESULT hr = CreateImplicitSurfaces(resolved, &backBuffers, &depth);
  if (FAILED(hr)) return refuse(hr);
  DropBindings();
  backBuffers_ = std::move(backBuffers);
  autoDepth_ = std::move(depth);
  params_ = resolved;
  *params = resolved;  // handed back as taken, as on open
  displayMode_ = mode;
  inScene_ = false;
  RestoreDefaultState();
  cooperation_ = Cooperation::Operational;
  return D3D_OK;
}

HRESULT Device::CheckPresent(const RECT* source, const RECT* dest, HWND destWindow,
                             const RGNDATA* /*dirty*/, const D3DPRESENT_PARAMETERS& params) const {
  if (cooperation_ != Cooperation::Operational) return D3DERR_DEVICELOST;
  const bool copies =
      params.SwapEffect == D3DSWAPEFFECT_COPY || params.SwapEffect == D3DSWAPEFFECT_COPY_VSYNC;
  // Only a copying swap presents part of a back buffer or to part of a window.
  if ((source || dest) && !copies) return D3DERR_INVALIDCALL;
  if (source && !ValidRect(*source, params.BackBufferWidth, params.BackBufferHeight))
    return D3DERR_INVALIDCALL;
  if (dest && (dest->left >= dest->right || dest->top >= dest->bottom)) return D3DERR_INVALIDCALL;
  if (destWindow && !IsWindow(destWindow)) return D3DERR_INVALIDCALL;
  return D3D_OK;
}

HRESULT Device::Present(const RECT* source, const RECT* dest, HWND destWindow,
                        const RGNDATA* dirty) {
  VRT_ENTRY("IDirect3DDevice8::Present", source, dest, destWindow, dirty);
  const HRESULT hr = CheckPresent(source, dest, destWindow, dirty, params_);
  if (FAILED(hr)) return hr;
  ++counters_.presents;
  if (RasterizationEnabled() && !backBuffers_.empty())
    PresentToDesktop(backBuffers_.front().get(), source, dest, PresentWindow(destWindow, params_),
                     params_.FullScreen_PresentationInterval);
  return hr;
}

HWND Device::PresentWindow(HWND destWindow, const D3DPRESENT_PARAMETERS& params) const {
  if (destWindow) return destWindow;
  return params.hDeviceWindow ? params.hDeviceWindow : focusWindow_;
}

HRESULT Device::GetBackBuffer(UINT index, D3DBACKBUFFER_TYPE type, IDirect3DSurface8** out) {
  VRT_ENTRY("IDirect3DDevice8::GetBackBuffer", index, type, out);
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if (index >= backBuffers_.size() || type != D3DBACKBUFFER_TYPE_MONO) return D3DERR_INVALIDCALL;
  backBuffers_[index]->AddRef();
  *out = backBuffers_[index].get();
  return D3D_OK;
}

HRESULT Device::CreateAdditionalSwapChain(D3DPRESENT_PARAMETERS* params,
                                          IDirect3DSwapChain8** out) {
  VRT_ENTRY("IDirect3DDevice8::CreateAdditionalSwapChain", params, out);
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if (!params) return D3DERR_INVALIDCALL;
  D3DPRESENT_PARAMETERS resolved;
  D3DDISPLAYMODE mode;
  if (FAILED(ResolvePresentation(config_, *params, focusWindow_, true, &resolved, &mode)))
    return D3DERR_INVALIDCALL;
  SwapChain* chain = nullptr;
  const HRESULT hr = SwapChain::Create(this, resolved, &chain);
  if (SUCCEEDED(hr)) *out = chain;
  return hr;
}

HRESULT Device::GetRasterStatus(D3DRASTER_STATUS* status) {
  VRT_ENTRY("IDirect3DDevice8::GetRasterStatus", status);
  if (!status) return D3DERR_INVALIDCALL;
  *status = D3DRASTER_STATUS{FALSE, 0};
  return D3D_OK;
}

void Device::SetGammaRamp(DWORD flags, const D3DGAMMARAMP* ramp) {
  VRT_NOTE("IDirect3DDevice8::SetGammaRamp", flags, ramp);
  if (ramp) gamma_ = *ramp;
}

void Device::GetGammaRamp(D3DGAMMARAMP* ramp) {
  VRT_NOTE("IDirect3DDevice8::GetGammaRamp", ramp);
  if (ramp) *ramp = gamma_;
}

// --- Device information ---------------------------------------------------

UINT Device::GetAvailableTextureMem() {
  VRT_NOTE("IDirect3DDevice8::GetAvailableTextureMem");
  return kTextureMemory;
}

HRESULT Device::ResourceManagerDiscardBytes(DWORD bytes) {
  VRT_ENTRY("IDirect3DDevice8::ResourceManagerDiscardBytes", bytes);
  return D3D_OK;  // managed resources have no video-memory copy to evict
}

HRESULT Device::GetDirect3D(IDirect3D8** out) {
  VRT_ENTRY("IDirect3DDevice8::GetDirect3D", out);
  if (!out) return D3DERR_INVALIDCALL;
  d3d_->AddRef();
  *out = d3d_;
  return D3D_OK;
}

HRESULT Device::GetDeviceCaps(D3DCAPS8* caps) {
  VRT_ENTRY("IDirect3DDevice8::GetDeviceCaps", caps);
  if (!caps) return D3DERR_INVALIDCALL;
  *caps = caps_;
  return D3D_OK;
}

HRESULT Device::GetDisplayMode(D3DDISPLAYMODE* mode) {
  VRT_ENTRY("IDirect3DDevice8::GetDisplayMode", mode);
  if (!mode) return D3DERR_INVALIDCALL;
  *mode = displayMode_;
  return D3D_OK;
}

HRESULT Device::GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* params) {
  VRT_ENTRY("IDirect3DDevice8::GetCreationParameters", params);
  if (!params) return D3DERR_INVALIDCALL;
  *params = D3DDEVICE_CREATION_PARAMETERS{adapterOrdinal_, type_, focusWindow_, behaviorFlags_};
  return D3D_OK;
}

HRESULT Device::SetCursorProperties(UINT x, UINT y, IDirect3DSurface8* bitmap) {
  VRT_ENTRY("IDirect3DDevice8::SetCursorProperties", x, y, bitmap);
  if (!bitmap) return D3DERR_INVALIDCALL;
  Surface* s = static_cast<Surface*>(bitmap);
  if (s->device() != this || s->format() != D3DFMT_A8R8G8B8 || x >= s->width() || y >= s->height())
    return D3DERR_INVALIDCALL;
  return D3D_OK;
}

void Device::SetCursorPosition(UINT x, UINT y, DWORD flags) {
  VRT_NOTE("IDirect3DDevice8::SetCursorPosition", x, y, flags);
}

BOOL Device::ShowCursor(BOOL show) {
  VRT_NOTE("IDirect3DDevice8::ShowCursor", show);
  const BOOL was = cursorVisible_ ? TRUE : FALSE;
  cursorVisible_ = show != FALSE;
  return was;
}

// --- Resources ------------------------------------------------------------

HRESULT Device::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                              D3DPOOL pool, IDirect3DTexture8** out) {
  VRT_ENTRY("IDirect3DDevice8::CreateTexture", width, height, levels, usage, format, pool, out);
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  const DWORD knownUsage = D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL | D3DUSAGE_DYNAMIC |
                           D3DUSAGE_SOFTWAREPROCESSING;
  if (width == 0 || height == 0 || !ValidPool(pool) || (usage & ~knownUsage))
    return D3DERR_INVALIDCALL;
  if (usage & D3DUSAGE_DEPTHSTENCIL) return D3DERR_INVALIDCALL;  // no depth textures
  if ((usage & D3DUSAGE_RENDERTARGET) && (pool != D3DPOOL_DEFAULT || !IsRenderTargetFormat(format)))
    return D3DERR_INVALIDCALL;
  if ((usage & D3DUSAGE_DYNAMIC) && pool == D3DPOOL_MANAGED) return D3DERR_INVALIDCALL;
  if (!IsTextureFormat(format)) return D3DERR_INVALIDCALL;
  if (width > caps_.MaxTextureWidth || height > caps_.MaxTextureHeight) return D3DERR_INVALIDCALL;
  if ((caps_.TextureCaps & D3DPTEXTURECAPS_SQUAREONLY) && width != height)
    return D3DERR_INVALIDCALL;
  if ((caps_.TextureCaps & D3DPTEXTURECAPS_POW2) && !(IsPow2(width) && IsPow2(height))) {
    // Conditional support covers single-level textures only.
    if (!(caps_.TextureCaps & D3DPTEXTURECAPS_NONPOW2CONDITIONAL) || levels != 1)
      return D3DERR_INVALIDCALL;
  }
  const UINT fullChain = static_cast<UINT>(std::bit_width(std::max(width, height)));
  if (levels == 0) levels = fullChain;
  if (levels > fullChain) return D3DERR_INVALIDCALL;
  Texture* texture = nullptr;
  const HRESULT hr = Texture::Create(this, width, height, levels, usage, format, pool, &texture);
  if (SUCCEEDED(hr)) *out = texture;
  return hr;
}

HRESULT Device::CreateVolumeTexture(UINT width, UINT height, UINT depth, UINT levels, DWORD usage,
                                    D3DFORMAT format, D3DPOOL pool, IDirect3DVolumeTexture8** out) {
  VRT_ENTRY("IDirect3DDevice8::CreateVolumeTexture", width, height, depth, levels, usage, format,
            pool, out);
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  return D3DERR_NOTAVAILABLE;  // the caps report no volume maps
}

HRESULT Device::CreateCubeTexture(UINT edge, UINT levels, DWORD usage, D3DFORMAT format,
                                  D3DPOOL pool, IDirect3DCubeTexture8** out) {
  VRT_ENTRY("IDirect3DDevice8::CreateCubeTexture", edge, levels, usage, format, pool, out);
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  return D3DERR_NOTAVAILABLE;  // the caps report no cube maps
}

HRESULT Device::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                   IDirect3DVertexBuffer8** out) {
  VRT_ENTRY("IDirect3DDevice8::CreateVertexBuffer", length, usage, fvf, pool, out);
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  const DWORD knownUsage = D3DUSAGE_WRITEONLY | D3DUSAGE_SOFTWAREPROCESSING | D3DUSAGE_DONOTCLIP |
                           D3DUSAGE_POINTS | D3DUSAGE_RTPATCHES | D3DUSAGE_NPATCHES |
                           D3DUSAGE_DYNAMIC;
  if (length == 0 || !ValidPool(pool) || (usage & ~knownUsage)) return D3DERR_INVALIDCALL;
  if ((usage & D3DUSAGE_DYNAMIC) && pool == D3DPOOL_MANAGED) return D3DERR_INVALIDCALL;
  if (fvf) {
    const UINT vertex = FvfVertexSize(fvf);
    if (vertex == 0 || length < vertex) return D3DERR_INVALIDCALL;  // room for one vertex
  }
  VertexBuffer* buffer = nullptr;
  const HRESULT hr = VertexBuffer::Create(this, length, usage, fvf, pool, &buffer);
  if (SUCCEEDED(hr)) *out = buffer;
  return hr;
}

HRESULT Device::CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                  IDirect3DIndexBuffer8** out) {
  VRT_ENTRY("IDirect3DDevice8::CreateIndexBuffer", length, usage, format, pool, out);
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  const DWORD knownUsage = D3DUSAGE_WRITEONLY | D3DUSAGE_SOFTWAREPROCESSING | D3DUSAGE_DONOTCLIP |
                           D3DUSAGE_POINTS | D3DUSAGE_RTPATCHES | D3DUSAGE_NPATCHES |
                           D3DUSAGE_DYNAMIC;
  if (!ValidPool(pool) || (usage & ~knownUsage)) return D3DERR_INVALIDCALL;
  if (format != D3DFMT_INDEX16 && format != D3DFMT_INDEX32) return D3DERR_INVALIDCALL;
  if (length < (format == D3DFMT_INDEX32 ? 4u : 2u)) return D3DERR_INVALIDCALL;
  if ((usage & D3DUSAGE_DYNAMIC) && pool == D3DPOOL_MANAGED) return D3DERR_INVALIDCALL;
  IndexBuffer* buffer = nullptr;
  const HRESULT hr = IndexBuffer::Create(this, length, usage, format, pool, &buffer);
  if (SUCCEEDED(hr)) *out = buffer;
  return hr;
}

HRESULT Device::CreateSurface(Surface::Kind kind, UINT width, UINT height, D3DFORMAT format,
                              D3DPOOL pool, DWORD usage, bool lockable, IDirect3DSurface8** out) {
  if (width == 0 || height == 0 || width > kMaxSurfaceSide || height > kMaxSurfaceSide)
    return D3DERR_INVALIDCALL;
  std::unique_ptr<Surface> surface;
  try {
    surface = Surface::Make(Surface::Owner{this, Resource::Lifetime::Standalone, nullptr, nullptr},
                            Surface::Shape{kind, width, height, format, pool, usage, lockable});
  } catch (const std::bad_alloc&) {
    surface.reset();
  }
  if (!surface) return pool == D3DPOOL_DEFAULT ? D3DERR_OUTOFVIDEOMEMORY : E_OUTOFMEMORY;
  *out = surface.release();  // from here on its references own it
  return D3D_OK;
}

HRESULT Device::CreateRenderTarget(UINT width, UINT height, D3DFORMAT format,
                                   D3DMULTISAMPLE_TYPE samples, BOOL lockable,
                                   IDirect3DSurface8** out) {
  VRT_ENTRY("IDirect3DDevice8::CreateRenderTarget", width, height, format, samples, lockable, out);
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if (!IsRenderTargetFormat(format) || samples != D3DMULTISAMPLE_NONE) return D3DERR_INVALIDCALL;
  return CreateSurface(Surface::Kind::RenderTarget, width, height, format, D3DPOOL_DEFAULT,
                       D3DUSAGE_RENDERTARGET, lockable != FALSE, out);
}

HRESULT Device::CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format,
                                          D3DMULTISAMPLE_TYPE samples, IDirect3DSurface8** out) {
  VRT_ENTRY("IDirect3DDevice8::CreateDepthStencilSurface", width, height, format, samples, out);
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if (!IsDepthFormat(format) || samples != D3DMULTISAMPLE_NONE) return D3DERR_INVALIDCALL;
  return CreateSurface(Surface::Kind::DepthStencil, width, height, format, D3DPOOL_DEFAULT,
                       D3DUSAGE_DEPTHSTENCIL, format == D3DFMT_D16_LOCKABLE, out);
}

HRESULT Device::CreateImageSurface(UINT width, UINT height, D3DFORMAT format,
                                   IDirect3DSurface8** out) {
  VRT_ENTRY("IDirect3DDevice8::CreateImageSurface", width, height, format, out);
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if (!IsTextureFormat(format)) return D3DERR_INVALIDCALL;
  return CreateSurface(Surface::Kind::Image, width, height, format, D3DPOOL_SYSTEMMEM, 0, true,
                       out);
}

HRESULT Device::CopyRects(IDirect3DSurface8* source, const RECT* rects, UINT count,
                          IDirect3DSurface8* dest, const POINT* points) {
  VRT_ENTRY("IDirect3DDevice8::CopyRects", source, rects, count, dest, points);
  if (!source || !dest || source == dest) return D3DERR_INVALIDCALL;
  Surface* from = static_cast<Surface*>(source);
  Surface* to = static_cast<Surface*>(dest);
  if (from->device() != this || to->device() != this) return D3DERR_INVALIDCALL;
  // Bytes are copied as they are: no conversion between formats.
  if (from->format() != to->format() || from->formatInfo().depth) return D3DERR_INVALIDCALL;
  if (from->locked() || to->locked()) return D3DERR_INVALIDCALL;
  const FormatInfo& f = from->formatInfo();
  const RECT whole{0, 0, static_cast<LONG>(from->width()), static_cast<LONG>(from->height())};
  if (rects && count == 0) return D3D_OK;
  const UINT n = rects ? count : 1;
  auto rectAt = [&](UINT i) { return rects ? rects[i] : whole; };
  auto pointAt = [&](UINT i) { return points ? points[i] : POINT{rectAt(i).left, rectAt(i).top}; };
  // Everything is checked before anything is copied.
  for (UINT i = 0; i < n; ++i) {
    const RECT r = rectAt(i);
    const POINT p = pointAt(i);
    if (!ValidRect(r, from->width(), from->height()) || p.x < 0 || p.y < 0)
      return D3DERR_INVALIDCALL;
    const UINT w = static_cast<UINT>(r.right - r.left);
    const UINT h = static_cast<UINT>(r.bottom - r.top);
    if (static_cast<UINT>(p.x) > to->width() || w > to->width() - static_cast<UINT>(p.x) ||
        static_cast<UINT>(p.y) > to->height() || h > to->height() - static_cast<UINT>(p.y))
      return D3DERR_INVALIDCALL;
    const bool blocksWhole =
        r.left % f.blockWidth == 0 && r.top % f.blockHeight == 0 && p.x % f.blockWidth == 0 &&
        p.y % f.blockHeight == 0 &&
        (w % f.blockWidth == 0 || static_cast<UINT>(r.right) == from->width()) &&
        (h % f.blockHeight == 0 || static_cast<UINT>(r.bottom) == from->height());
    if (!blocksWhole) return D3DERR_INVALIDCALL;
  }
  for (UINT i = 0; i < n; ++i) {
    const RECT r = rectAt(i);
    const POINT p = pointAt(i);
    const UINT across = (static_cast<UINT>(r.right - r.left) + f.blockWidth - 1) / f.blockWidth;
    const UINT down = (static_cast<UINT>(r.bottom - r.top) + f.blockHeight - 1) / f.blockHeight;
    const BYTE* src = from->bits() + (static_cast<UINT>(r.top) / f.blockHeight) * from->pitch() +
                      (static_cast<UINT>(r.left) / f.blockWidth) * f.blockBytes;
    BYTE* dst = to->bits() + (static_cast<UINT>(p.y) / f.blockHeight) * to->pitch() +
                (static_cast<UINT>(p.x) / f.blockWidth) * f.blockBytes;
    for (UINT row = 0; row < down; ++row)
      std::memmove(dst + row * to->pitch(), src + row * from->pitch(), across * f.blockBytes);
  }
  to->ContentsChanged();
  return D3D_OK;
}

HRESULT Device::UpdateTexture(IDirect3DBaseTexture8* source, IDirect3DBaseTexture8* dest) {
  VRT_ENTRY("IDirect3DDevice8::UpdateTexture", source, dest);
  if (!source || !dest || source == dest) return D3DERR_INVALIDCALL;
  // Only 2-D textures exist in this runtime.
  Texture* from = static_cast<Texture*>(source);
  Texture* to = static_cast<Texture*>(dest);
  if (from->device() != this || to->device() != this) return D3DERR_INVALIDCALL;
  if (from->pool() != D3DPOOL_SYSTEMMEM || to->pool() != D3DPOOL_DEFAULT) return D3DERR_INVALIDCALL;
  if (from->format() != to->format() || from->levelCount() < to->levelCount())
    return D3DERR_INVALIDCALL;
  if (from->level(0)->width() != to->level(0)->width() ||
      from->level(0)->height() != to->level(0)->height())
    return D3DERR_INVALIDCALL;
  for (UINT i = 0; i < to->levelCount(); ++i) {
    std::memcpy(to->level(i)->bits(), from->level(i)->bits(), to->level(i)->byteSize());
    to->level(i)->ContentsChanged();
  }
  return D3D_OK;
}

HRESULT Device::GetFrontBuffer(IDirect3DSurface8* dest) {
  VRT_ENTRY("IDirect3DDevice8::GetFrontBuffer", dest);
  if (!dest) return D3DERR_INVALIDCALL;
  Surface* to = static_cast<Surface*>(dest);
  if (to->device() != this || to->format() != D3DFMT_A8R8G8B8 ||
      to->width() != displayMode_.Width || to->height() != displayMode_.Height || to->locked())
    return D3DERR_INVALIDCALL;
  // The desktop as it stands, opaque.
  SIZE size;
  const uint32_t* pixels = desktop::LockPixels(&size);
  for (UINT y = 0; y < to->height(); ++y) {
    uint32_t* row = reinterpret_cast<uint32_t*>(to->bits() + size_t{y} * to->pitch());
    for (UINT x = 0; x < to->width(); ++x)
      row[x] = (static_cast<LONG>(x) < size.cx && static_cast<LONG>(y) < size.cy
                    ? pixels[size_t{y} * static_cast<size_t>(size.cx) + x]
                    : 0u) |
               0xFF000000u;
  }
  desktop::UnlockPixels();
  to->ContentsChanged();
  return D3D_OK;
}

HRESULT Device::SetRenderTarget(IDirect3DSurface8* target, IDirect3DSurface8* depthStencil) {
  VRT_ENTRY("IDirect3DDevice8::SetRenderTarget", target, depthStencil);
  // A null target keeps the current one; a null depth surface means none.
  Surface* colour = target ? static_cast<Surface*>(target) : state_.renderTarget;
  Surface* depth = depthStencil ? static_cast<Surface*>(depthStencil) : nullptr;
  if (!colour || colour->device() != this || !(colour->usage() & D3DUSAGE_RENDERTARGET))
    return D3DERR_INVALIDCALL;
  if (depth && (depth->device() != this || !(depth->usage() & D3DUSAGE_DEPTHSTENCIL) ||
                depth->width() < colour->width() || depth->height() < colour->height()))
    return D3DERR_INVALIDCALL;
  Rebind(state_.renderTarget, colour);
  Rebind(state_.depthStencil, depth);
  ViewportToTarget();
  return D3D_OK;
}

HRESULT Device::GetRenderTarget(IDirect3DSurface8** out) {
  VRT_ENTRY("IDirect3DDevice8::GetRenderTarget", out);
  if (!out) return D3DERR_INVALIDCALL;
  *out = state_.renderTarget;
  if (!*out) return D3DERR_NOTFOUND;
  state_.renderTarget->AddRef();
  return D3D_OK;
}

HRESULT Device::GetDepthStencilSurface(IDirect3DSurface8** out) {
  VRT_ENTRY("IDirect3DDevice8::GetDepthStencilSurface", out);
  if (!out) return D3DERR_INVALIDCALL;
  *out = state_.depthStencil;
  if (!*out) return D3DERR_NOTFOUND;
  state_.depthStencil->AddRef();
  return D3D_OK;
}

// --- Patches, state blocks, vertex processing -----------------------------

HRESULT Device::DrawRectPatch(UINT handle, const float* segments, const D3DRECTPATCH_INFO* info) {
  VRT_ENTRY("IDirect3DDevice8::DrawRectPatch", handle, segments, info);
  return D3DERR_NOTAVAILABLE;  // the caps report no patch support
}

HRESULT Device::DrawTriPatch(UINT handle, const float* segments, const D3DTRIPATCH_INFO* info) {
  VRT_ENTRY("IDirect3DDevice8::DrawTriPatch", handle, segments, info);
  return D3DERR_NOTAVAILABLE;
}

HRESULT Device::DeletePatch(UINT handle) {
  VRT_ENTRY("IDirect3DDevice8::DeletePatch", handle);
  return D3DERR_INVALIDCALL;  // no patch was ever cached
}

HRESULT Device::BeginStateBlock() {
  VRT_ENTRY("IDirect3DDevice8::BeginStateBlock");
  return D3DERR_NOTAVAILABLE;  // state blocks are not recorded
}

HRESULT Device::EndStateBlock(DWORD* token) {
  VRT_ENTRY("IDirect3DDevice8::EndStateBlock", token);
  if (token) *token = 0;
  return D3DERR_INVALIDCALL;  // no recording was begun
}

HRESULT Device::ApplyStateBlock(DWORD token) {
  VRT_ENTRY("IDirect3DDevice8::ApplyStateBlock", token);
  return D3DERR_INVALIDCALL;
}

HRESULT Device::CaptureStateBlock(DWORD token) {
  VRT_ENTRY("IDirect3DDevice8::CaptureStateBlock", token);
  return D3DERR_INVALIDCALL;
}

HRESULT Device::DeleteStateBlock(DWORD token) {
  VRT_ENTRY("IDirect3DDevice8::DeleteStateBlock", token);
  return D3DERR_INVALIDCALL;
}

HRESULT Device::CreateStateBlock(D3DSTATEBLOCKTYPE type, DWORD* token) {
  VRT_ENTRY("IDirect3DDevice8::CreateStateBlock", type, token);
  if (token) *token = 0;
  return D3DERR_NOTAVAILABLE;
}

HRESULT Device::ProcessVertices(UINT sourceStart, UINT destIndex, UINT vertexCount,
                                IDirect3DVertexBuffer8* dest, DWORD flags) {
  VRT_ENTRY("IDirect3DDevice8::ProcessVertices", sourceStart, destIndex, vertexCount, dest, flags);
  if (!dest || static_cast<VertexBuffer*>(dest)->device() != this) return D3DERR_INVALIDCALL;
  return D3DERR_NOTAVAILABLE;  // vertices are transformed only while drawing
}

HRESULT Device::GetInfo(DWORD id, void* data, DWORD size) {
  VRT_ENTRY("IDirect3DDevice8::GetInfo", id, data, size);
  if (!data || size == 0) return D3DERR_INVALIDCALL;
  // Known queries have no data here: no statistics are kept.
  if (id == D3DDEVINFOID_RESOURCEMANAGER || id == D3DDEVINFOID_VERTEXSTATS) return S_FALSE;
  return E_FAIL;
}

}  // namespace vrt::d3d

namespace vrt {

void LoseDevice(IDirect3DDevice8* device) {
  if (d3d::Device* d = d3d::Device::FromInterface(device))
    d->SetCooperation(d3d::Cooperation::Lost);
}

void MakeDeviceResettable(IDirect3DDevice8* device) {
  if (d3d::Device* d = d3d::Device::FromInterface(device))
    d->SetCooperation(d3d::Cooperation::NotReset);
}

void internal::ClearDeviceLoss() {
  d3d::Registry& r = d3d::TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  for (auto& entry : r.devices) entry.second->SetCooperation(d3d::Cooperation::Operational);
}

}  // namespace vrt
