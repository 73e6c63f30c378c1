#include "resources.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "device.h"
#include "pixels.h"
#include "raster.h"

namespace vrt::d3d {

namespace {

constexpr GUID kIUnknownId = {0, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// Answers QueryInterface for an object reachable as `self` under `ids`.
template <class I>
HRESULT Answer(I* self, REFIID riid, void** object, std::initializer_list<const GUID*> ids) {
  if (!object) return internal::kPointerError;
  for (const GUID* id : ids) {
    if (SameGuid(riid, *id)) {
      self->AddRef();
      *object = self;
      return S_OK;
    }
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

HRESULT OutOfMemory(D3DPOOL pool) {
  return pool == D3DPOOL_DEFAULT ? D3DERR_OUTOFVIDEOMEMORY : E_OUTOFMEMORY;
}

// Released blocks kept for reuse: none smaller than this (the heap reuses
// those itself), at most kRecycleSlots of them and kRecycleMaxBytes in all.
constexpr size_t kRecycleMinBytes = 64u << 10;
constexpr size_t kRecycleMaxBytes = 32u << 20;
constexpr UINT kRecycleSlots = 8;

struct RecycleCache {
  std::mutex mutex;
  BYTE* blocks[kRecycleSlots] = {};
  size_t sizes[kRecycleSlots] = {};
  UINT count = 0;
  size_t total = 0;
};

RecycleCache& Recycled() {
  static RecycleCache* cache = new RecycleCache;  // never destroyed: resources may outlive statics
  return *cache;
}

// A kept block of exactly `size` bytes, or null.
BYTE* TakeRecycled(size_t size) {
  RecycleCache& cache = Recycled();
  std::lock_guard<std::mutex> hold(cache.mutex);
  for (UINT i = 0; i < cache.count; ++i) {
    if (cache.sizes[i] != size) continue;
    BYTE* block = cache.blocks[i];
    cache.total -= size;
    --cache.count;
    for (UINT j = i; j < cache.count; ++j) {  // kept in the order they came
      cache.blocks[j] = cache.blocks[j + 1];
      cache.sizes[j] = cache.sizes[j + 1];
    }
    return block;
  }
  return nullptr;
}

// Keeps the block when there is room; the oldest kept blocks make way for it.
bool KeepRecycled(BYTE* block, size_t size) {
  if (size < kRecycleMinBytes || size > kRecycleMaxBytes) return false;
  RecycleCache& cache = Recycled();
  BYTE* evicted[kRecycleSlots];
  UINT nEvicted = 0;
  {
    std::lock_guard<std::mutex> hold(cache.mutex);
    while (cache.count && (cache.count == kRecycleSlots || cache.total + size > kRecycleMaxBytes)) {
      evicted[nEvicted++] = cache.blocks[0];
      cache.total -= cache.sizes[0];
      --cache.count;
      for (UINT i = 0; i < cache.count; ++i) {
        cache.blocks[i] = cache.blocks[i + 1];
        cache.sizes[i] = cache.sizes[i + 1];
      }
    }
    cache.blocks[cache.count] = block;
    cache.sizes[cache.count] = size;
    ++cache.count;
    cache.total += size;
  }
  for (UINT i = 0; i < nEvicted; ++i) std::free(evicted[i]);
  return true;
}

ResourceBytes Allocate(UINT bytes) {
  if (bytes > kMaxResourceBytes) return nullptr;
  const size_t size = bytes ? bytes : 1;
  if (size >= kRecycleMinBytes) {
    if (BYTE* block = TakeRecycled(size)) {
      std::memset(block, 0, size);  // a new resource never shows an old one's contents
      return ResourceBytes(block, FreeBytes{size});
    }
  }
  return ResourceBytes(static_cast<BYTE*>(std::calloc(size, 1)), FreeBytes{size});
}

HRESULT GetDeviceOf(Device* device, IDirect3DDevice8** out) {
  if (!out) return D3DERR_INVALIDCALL;
  device->AddRef();
  *out = device;
  return D3D_OK;
}

}  // namespace

void FreeBytes::operator()(BYTE* bytes) const {
  if (!KeepRecycled(bytes, size)) std::free(bytes);
}

bool SameGuid(REFGUID a, REFGUID b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

// --- PrivateData ----------------------------------------------------------

PrivateData::~PrivateData() {
  for (Entry& e : entries_)
    if (e.object) e.object->Release();
}

std::vector<PrivateData::Entry>::iterator PrivateData::Find(REFGUID guid) {
  return std::find_if(entries_.begin(), entries_.end(),
                      [&](const Entry& e) { return SameGuid(e.guid, guid); });
}

HRESULT PrivateData::Set(REFGUID guid, const void* data, DWORD size, DWORD flags) {
  if (!data && size) return D3DERR_INVALIDCALL;
  Entry entry;
  entry.guid = guid;
  if (flags & D3DSPD_IUNKNOWN) {
    if (size != sizeof(IUnknown*) || !data) return D3DERR_INVALIDCALL;
    std::memcpy(&entry.object, data, sizeof(IUnknown*));
    if (!entry.object) return D3DERR_INVALIDCALL;
    entry.object->AddRef();
  } else {
    entry.bytes.assign(static_cast<const BYTE*>(data), static_cast<const BYTE*>(data) + size);
  }
  Free(guid);
  entries_.push_back(std::move(entry));
  return D3D_OK;
}

HRESULT PrivateData::Get(REFGUID guid, void* data, DWORD* size) {
  if (!size) return D3DERR_INVALIDCALL;
  auto it = Find(guid);
  if (it == entries_.end()) return D3DERR_NOTFOUND;
  const DWORD needed = it->object ? sizeof(IUnknown*) : static_cast<DWORD>(it->bytes.size());
  if (!data) {
    *size = needed;
    return D3D_OK;
  }
  if (*size < needed) {
    *size = needed;
    return D3DERR_MOREDATA;
  }
  if (it->object) {
    it->object->AddRef();  // the caller receives a reference of its own
    std::memcpy(data, &it->object, sizeof(IUnknown*));
  } else if (needed) {
    std::memcpy(data, it->bytes.data(), needed);
  }
  *size = needed;
  return D3D_OK;
}

HRESULT PrivateData::Free(REFGUID guid) {
  auto it = Find(guid);
  if (it == entries_.end()) return D3DERR_NOTFOUND;
  IUnknown* object = it->object;
  entries_.erase(it);
  if (object) object->Release();
  return D3D_OK;
}

// --- Resource -------------------------------------------------------------

Resource::Resource(Device* device, Lifetime lifetime, Resource* container, D3DPOOL pool,
                   DWORD usage)
    : device_(device),
      lifetime_(lifetime),
      container_(container),
      pool_(pool),
      usage_(usage),
      appRefs_(lifetime == Lifetime::Standalone ? 1 : 0) {
  if (lifetime_ == Lifetime::Standalone) {
    device_->AddRef();
    device_->ResourceCreated(pool_);
    internal::ObjectCreated();
  }
}

Resource::~Resource() {
  if (lifetime_ == Lifetime::Standalone) {
    device_->ResourceDestroyed(pool_);
    internal::ObjectDestroyed();
  }
}

ULONG Resource::AddAppRef() {
  switch (lifetime_) {
    case Lifetime::Contained:
      return container_->AddAppRef();
    case Lifetime::Implicit: {
      const ULONG n = ++appRefs_;
      if (n == 1) {
        device_->AddRef();
        internal::ObjectCreated();
      }
      return n;
    }
    case Lifetime::Standalone:
      break;
  }
  const ULONG n = ++appRefs_;
  if (n == 1) device_->AddRef();  // a bound resource taken back by the application
  return n + bindRefs_;
}

ULONG Resource::ReleaseAppRef() {
  switch (lifetime_) {
    case Lifetime::Contained:
      return container_->ReleaseAppRef();
    case Lifetime::Implicit: {
      if (appRefs_ == 0) return 0;
      const ULONG n = --appRefs_;
      if (n == 0) {
        internal::ObjectDestroyed();
        device_->Release();  // may destroy the device and this surface with it
      }
      return n;
    }
    case Lifetime::Standalone:
      break;
  }
  if (appRefs_ == 0) return bindRefs_;
  const ULONG n = --appRefs_;
  const ULONG visible = n + bindRefs_;
  if (n == 0) {
    Device* device = device_;
    if (bindRefs_ == 0) delete this;
    device->Release();
  }
  return visible;
}

void Resource::AddBindRef() {
  if (lifetime_ == Lifetime::Contained)
    container_->AddBindRef();
  else
    ++bindRefs_;
}

void Resource::ReleaseBindRef() {
  if (lifetime_ == Lifetime::Contained) {
    container_->ReleaseBindRef();
    return;
  }
  const ULONG n = --bindRefs_;
  if (lifetime_ == Lifetime::Standalone && n == 0 && appRefs_ == 0) delete this;
}

// --- Surface --------------------------------------------------------------

std::unique_ptr<Surface> Surface::Make(const Owner& owner, const Shape& shape) {
  FormatInfo info;
  if (!DescribeFormat(shape.format, &info) || shape.width == 0 || shape.height == 0) return nullptr;
  const uint64_t across = (uint64_t{shape.width} + info.blockWidth - 1) / info.blockWidth;
  const uint64_t down = (uint64_t{shape.height} + info.blockHeight - 1) / info.blockHeight;
  if (across * down * info.blockBytes > kMaxResourceBytes) return nullptr;
  ResourceBytes bits = Allocate(LayoutOf(info, shape.width, shape.height).bytes);
  if (!bits) return nullptr;
  return std::unique_ptr<Surface>(new (std::nothrow) Surface(owner, shape, info, std::move(bits)));
}

Surface::Surface(const Owner& owner, const Shape& shape, const FormatInfo& info, ResourceBytes bits)
    : Resource(owner.device, owner.lifetime, owner.container, shape.pool, shape.usage),
      containerObject_(owner.containerObject),
      kind_(shape.kind),
      width_(shape.width),
      height_(shape.height),
      format_(shape.format),
      info_(info),
      layout_(LayoutOf(info, shape.width, shape.height)),
      lockable_(shape.lockable),
      bits_(std::move(bits)) {}

HRESULT Surface::QueryInterface(REFIID riid, void** object) {
  return Answer<IDirect3DSurface8>(this, riid, object, {&kIUnknownId, &IID_IDirect3DSurface8});
}

HRESULT Surface::GetDevice(IDirect3DDevice8** out) {
  VRT_ENTRY("IDirect3DSurface8::GetDevice", out);
  return GetDeviceOf(device(), out);
}

HRESULT Surface::SetPrivateData(REFGUID guid, const void* data, DWORD size, DWORD flags) {
  VRT_ENTRY("IDirect3DSurface8::SetPrivateData", &guid, data, size, flags);
  return privateData_.Set(guid, data, size, flags);
}

HRESULT Surface::GetPrivateData(REFGUID guid, void* data, DWORD* size) {
  VRT_ENTRY("IDirect3DSurface8::GetPrivateData", &guid, data, size);
  return privateData_.Get(guid, data, size);
}

HRESULT Surface::FreePrivateData(REFGUID guid) {
  VRT_ENTRY("IDirect3DSurface8::FreePrivateData", &guid);
  return privateData_.Free(guid);
}

HRESULT Surface::GetContainer(REFIID riid, void** container) {
  VRT_ENTRY("IDirect3DSurface8::GetContainer", &riid, container);
  if (!container) return D3DERR_INVALIDCALL;
  // Surfaces outside a texture or swap chain belong to the device.
  if (containerObject_) return containerObject_->QueryInterface(riid, container);
  return device()->QueryInterface(riid, container);
}

HRESULT Surface::GetDesc(D3DSURFACE_DESC* desc) {
  VRT_ENTRY("IDirect3DSurface8::GetDesc", desc);
  if (!desc) return D3DERR_INVALIDCALL;
  Describe(desc);
  return D3D_OK;
}

HRESULT Surface::LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) {
  VRT_ENTRY("IDirect3DSurface8::LockRect", locked, rect, flags);
  return Lock(locked, rect, flags);
}

HRESULT Surface::UnlockRect() {
  VRT_ENTRY("IDirect3DSurface8::UnlockRect");
  return Unlock();
}

void Surface::Describe(D3DSURFACE_DESC* desc) const {
  desc->Format = format_;
  desc->Type = D3DRTYPE_SURFACE;
  desc->Usage = usage();
  desc->Pool = pool();
  desc->Size = layout_.bytes;
  desc->MultiSampleType = D3DMULTISAMPLE_NONE;
  desc->Width = width_;
  desc->Height = height_;
}

HRESULT Surface::Lock(D3DLOCKED_RECT* locked, const RECT* rect, DWORD /*flags*/) {
  if (!locked || !lockable_ || locked_) return D3DERR_INVALIDCALL;
  UINT left = 0;
  UINT top = 0;
  if (rect) {
    if (rect->left < 0 || rect->top < 0 || rect->left >= rect->right || rect->top >= rect->bottom ||
        static_cast<UINT>(rect->right) > width_ || static_cast<UINT>(rect->bottom) > height_)
      return D3DERR_INVALIDCALL;
    left = static_cast<UINT>(rect->left);
    top = static_cast<UINT>(rect->top);
    const UINT right = static_cast<UINT>(rect->right);
    const UINT bottom = static_cast<UINT>(rect->bottom);
    // Blocks are locked whole: a rectangle starts on a block and ends on
    // one or at the surface's edge.
    if (left % info_.blockWidth || top % info_.blockHeight ||
        (right % info_.blockWidth && right != width_) ||
        (bottom % info_.blockHeight && bottom != height_))
      return D3DERR_INVALIDCALL;
  }
  locked->Pitch = static_cast<INT>(layout_.pitch);
  locked->pBits = bits_.get() + (top / info_.blockHeight) * layout_.pitch +
                  (left / info_.blockWidth) * info_.blockBytes;
  locked_ = true;
  return D3D_OK;
}

HRESULT Surface::Unlock() {
  if (!locked_) return D3DERR_INVALIDCALL;
  locked_ = false;
  ContentsChanged();  // whatever was written through the lock
  return D3D_OK;
}

std::shared_ptr<const std::vector<uint32_t>> Surface::DecodedTexels() {
  std::lock_guard<std::mutex> hold(decodedMutex_);
  if (decoded_ && !locked_) return decoded_;
  auto texels = std::make_shared<std::vector<uint32_t>>();
  if (!DecodeSurface(this, texels.get())) return nullptr;
  if (!locked_) decoded_ = texels;
  return texels;
}

void Surface::ContentsChanged() {
  std::lock_guard<std::mutex> hold(decodedMutex_);
  decoded_.reset();
}

// --- Texture --------------------------------------------------------------

Texture::Texture(Device* device, DWORD usage, D3DPOOL pool)
    : Resource(device, Lifetime::Standalone, nullptr, pool, usage) {}

Texture::~Texture() = default;

HRESULT Texture::Create(Device* device, UINT width, UINT height, UINT levels, DWORD usage,
                        D3DFORMAT format, D3DPOOL pool, Texture** out) {
  Texture* texture = new (std::nothrow) Texture(device, usage, pool);
  if (!texture) return OutOfMemory(pool);
  // Default-pool textures are video memory: only dynamic ones can be locked.
  const bool lockable =
      pool != D3DPOOL_DEFAULT || ((usage & D3DUSAGE_DYNAMIC) && !(usage & D3DUSAGE_RENDERTARGET));
  for (UINT i = 0; i < levels; ++i) {
    Surface::Owner owner{device, Lifetime::Contained, texture,
                         static_cast<IDirect3DTexture8*>(texture)};
    Surface::Shape shape{Surface::Kind::TextureLevel,
                         std::max(1u, width >> i),
                         std::max(1u, height >> i),
                         format,
                         pool,
                         usage,
                         lockable};
    std::unique_ptr<Surface> level;
    try {
      level = Surface::Make(owner, shape);
      if (level) texture->levels_.push_back(std::move(level));
    } catch (const std::bad_alloc&) {
      level.reset();
    }
    if (texture->levels_.size() != i + 1) {
      texture->ReleaseAppRef();
      return OutOfMemory(pool);
    }
  }
  *out = texture;
  return D3D_OK;
}

HRESULT Texture::QueryInterface(REFIID riid, void** object) {
  return Answer<IDirect3DTexture8>(
      this, riid, object,
      {&kIUnknownId, &IID_IDirect3DResource8, &IID_IDirect3DBaseTexture8, &IID_IDirect3DTexture8});
}

HRESULT Texture::GetDevice(IDirect3DDevice8** out) {
  VRT_ENTRY("IDirect3DTexture8::GetDevice", out);
  return GetDeviceOf(device(), out);
}

HRESULT Texture::SetPrivateData(REFGUID guid, const void* data, DWORD size, DWORD flags) {
  VRT_ENTRY("IDirect3DTexture8::SetPrivateData", &guid, data, size, flags);
  return privateData_.Set(guid, data, size, flags);
}

HRESULT Texture::GetPrivateData(REFGUID guid, void* data, DWORD* size) {
  VRT_ENTRY("IDirect3DTexture8::GetPrivateData", &guid, data, size);
  return privateData_.Get(guid, data, size);
}

HRESULT Texture::FreePrivateData(REFGUID guid) {
  VRT_ENTRY("IDirect3DTexture8::FreePrivateData", &guid);
  return privateData_.Free(guid);
}

DWORD Texture::SetPriority(DWORD priority) {
  VRT_NOTE("IDirect3DTexture8::SetPriority", priority);
  if (pool() != D3DPOOL_MANAGED) return 0;  // priorities order managed resources only
  const DWORD old = priority_;
  priority_ = priority;
  return old;
}

DWORD Texture::GetPriority() {
  VRT_NOTE("IDirect3DTexture8::GetPriority");
  return priority_;
}

void Texture::PreLoad() { VRT_NOTE("IDirect3DTexture8::PreLoad"); }

D3DRESOURCETYPE Texture::GetType() {
  VRT_NOTE("IDirect3DTexture8::GetType");
  return D3DRTYPE_TEXTURE;
}

DWORD Texture::SetLOD(DWORD lod) {
  VRT_NOTE("IDirect3DTexture8::SetLOD", lod);
  if (pool() != D3DPOOL_MANAGED) return 0;
  const DWORD old = lod_;
  lod_ = std::min<DWORD>(lod, levelCount() - 1);
  return old;
}

DWORD Texture::GetLOD() {
  VRT_NOTE("IDirect3DTexture8::GetLOD");
  return lod_;
}

DWORD Texture::GetLevelCount() {
  VRT_NOTE("IDirect3DTexture8::GetLevelCount");
  return levelCount();
}

HRESULT Texture::GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) {
  VRT_ENTRY("IDirect3DTexture8::GetLevelDesc", level, desc);
  if (!desc || level >= levelCount()) return D3DERR_INVALIDCALL;
  levels_[level]->Describe(desc);
  return D3D_OK;
}

HRESULT Texture::GetSurfaceLevel(UINT level, IDirect3DSurface8** surface) {
  VRT_ENTRY("IDirect3DTexture8::GetSurfaceLevel", level, surface);
  if (!surface) return D3DERR_INVALIDCALL;
  if (level >= levelCount()) {
    *surface = nullptr;
    return D3DERR_INVALIDCALL;
  }
  levels_[level]->AddRef();
  *surface = levels_[level].get();
  return D3D_OK;
}

HRESULT Texture::LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) {
  VRT_ENTRY("IDirect3DTexture8::LockRect", level, locked, rect, flags);
  if (level >= levelCount()) return D3DERR_INVALIDCALL;
  return levels_[level]->Lock(locked, rect, flags);
}

HRESULT Texture::UnlockRect(UINT level) {
  VRT_ENTRY("IDirect3DTexture8::UnlockRect", level);
  if (level >= levelCount()) return D3DERR_INVALIDCALL;
  return levels_[level]->Unlock();
}

HRESULT Texture::AddDirtyRect(const RECT* rect) {
  VRT_ENTRY("IDirect3DTexture8::AddDirtyRect", rect);
  return D3D_OK;  // every level is current: there is no copy to bring up to date
}

// --- Buffers --------------------------------------------------------------

bool BufferStore::Allocate(UINT length) {
  try {
    bytes_ = d3d::Allocate(length);
  } catch (const std::bad_alloc&) {
    bytes_.reset();
  }
  length_ = bytes_ ? length : 0;
  return bytes_ != nullptr;
}

HRESULT BufferStore::Lock(UINT offset, UINT size, BYTE** data) {
  if (!data) return D3DERR_INVALIDCALL;
  if (offset >= length_ || size > length_ - offset) {
    *data = nullptr;
    return D3DERR_INVALIDCALL;
  }
  *data = bytes_.get() + offset;
  ++locks_;
  return D3D_OK;
}

HRESULT BufferStore::Unlock() {
  if (locks_ == 0) return D3DERR_INVALIDCALL;
  --locks_;
  return D3D_OK;
}

namespace {

// "IDirect3DVertexBuffer8::Lock" and the like: the names calls are logged and
// failed by, made once per kind.
enum BufferMethod {
  kGetDevice,
  kSetPrivateData,
  kGetPrivateData,
  kFreePrivateData,
  kSetPriority,
  kGetPriority,
  kPreLoad,
  kGetType,
  kLock,
  kUnlock,
  kGetDesc,
  kBufferMethods
};

template <class Kind>
const char* Name(BufferMethod m) {
  static const std::array<std::string, kBufferMethods> names = [] {
    static constexpr const char* kMethods[kBufferMethods] = {
        "GetDevice",   "SetPrivateData", "GetPrivateData", "FreePrivateData",
        "SetPriority", "GetPriority",    "PreLoad",        "GetType",
        "Lock",        "Unlock",         "GetDesc"};
    std::array<std::string, kBufferMethods> out;
    for (int i = 0; i < kBufferMethods; ++i) out[i] = std::string(Kind::kName) + "::" + kMethods[i];
    return out;
  }();
  return names[m].c_str();
}

const GUID& InterfaceId(VertexBufferKind) { return IID_IDirect3DVertexBuffer8; }
const GUID& InterfaceId(IndexBufferKind) { return IID_IDirect3DIndexBuffer8; }

void FillDesc(D3DVERTEXBUFFER_DESC* desc, DWORD fvf) {
  desc->Format = D3DFMT_VERTEXDATA;
  desc->FVF = fvf;
}
void FillDesc(D3DINDEXBUFFER_DESC* desc, D3DFORMAT format) { desc->Format = format; }

}  // namespace

template <class Kind>
Buffer<Kind>::Buffer(Device* device, DWORD usage, Value value, D3DPOOL pool)
    : Resource(device, Lifetime::Standalone, nullptr, pool, usage), value_(value) {}

template <class Kind>
HRESULT Buffer<Kind>::Create(Device* device, UINT length, DWORD usage, Value value, D3DPOOL pool,
                             Buffer** out) {
  Buffer* buffer = new (std::nothrow) Buffer(device, usage, value, pool);
  if (!buffer) return OutOfMemory(pool);
  if (!buffer->store_.Allocate(length)) {
    buffer->ReleaseAppRef();
    return OutOfMemory(pool);
  }
  *out = buffer;
  return D3D_OK;
}

template <class Kind>
HRESULT Buffer<Kind>::QueryInterface(REFIID riid, void** object) {
  return Answer<typename Kind::Interface>(
      this, riid, object, {&kIUnknownId, &IID_IDirect3DResource8, &InterfaceId(Kind{})});
}

template <class Kind>
HRESULT Buffer<Kind>::GetDevice(IDirect3DDevice8** out) {
  VRT_ENTRY(Name<Kind>(kGetDevice), out);
  return GetDeviceOf(device(), out);
}

template <class Kind>
HRESULT Buffer<Kind>::SetPrivateData(REFGUID guid, const void* data, DWORD size, DWORD flags) {
  VRT_ENTRY(Name<Kind>(kSetPrivateData), &guid, data, size, flags);
  return privateData_.Set(guid, data, size, flags);
}

template <class Kind>
HRESULT Buffer<Kind>::GetPrivateData(REFGUID guid, void* data, DWORD* size) {
  VRT_ENTRY(Name<Kind>(kGetPrivateData), &guid, data, size);
  return privateData_.Get(guid, data, size);
}

template <class Kind>
HRESULT Buffer<Kind>::FreePrivateData(REFGUID guid) {
  VRT_ENTRY(Name<Kind>(kFreePrivateData), &guid);
  return privateData_.Free(guid);
}

template <class Kind>
DWORD Buffer<Kind>::SetPriority(DWORD priority) {
  VRT_NOTE(Name<Kind>(kSetPriority), priority);
  if (pool() != D3DPOOL_MANAGED) return 0;
  const DWORD old = priority_;
  priority_ = priority;
  return old;
}

template <class Kind>
DWORD Buffer<Kind>::GetPriority() {
  VRT_NOTE(Name<Kind>(kGetPriority));
  return priority_;
}

template <class Kind>
void Buffer<Kind>::PreLoad() {
  VRT_NOTE(Name<Kind>(kPreLoad));
}

template <class Kind>
D3DRESOURCETYPE Buffer<Kind>::GetType() {
  VRT_NOTE(Name<Kind>(kGetType));
  return Kind::kType;
}

template <class Kind>
HRESULT Buffer<Kind>::Lock(UINT offset, UINT size, BYTE** data, DWORD flags) {
  VRT_ENTRY(Name<Kind>(kLock), offset, size, data, flags);
  return store_.Lock(offset, size ? size : (offset < length() ? length() - offset : 0), data);
}

template <class Kind>
HRESULT Buffer<Kind>::Unlock() {
  VRT_ENTRY(Name<Kind>(kUnlock));
  return store_.Unlock();
}

template <class Kind>
HRESULT Buffer<Kind>::GetDesc(typename Kind::Desc* desc) {
  VRT_ENTRY(Name<Kind>(kGetDesc), desc);
  if (!desc) return D3DERR_INVALIDCALL;
  FillDesc(desc, value_);
  desc->Type = Kind::kType;
  desc->Usage = usage();
  desc->Pool = pool();
  desc->Size = length();
  return D3D_OK;
}

template class Buffer<VertexBufferKind>;
template class Buffer<IndexBufferKind>;

// --- SwapChain ------------------------------------------------------------

SwapChain::SwapChain(Device* device, const D3DPRESENT_PARAMETERS& params)
    : Resource(device, Lifetime::Standalone, nullptr, D3DPOOL_DEFAULT, 0), params_(params) {}

SwapChain::~SwapChain() = default;

HRESULT SwapChain::Create(Device* device, const D3DPRESENT_PARAMETERS& params, SwapChain** out) {
  SwapChain* chain = new (std::nothrow) SwapChain(device, params);
  if (!chain) return D3DERR_OUTOFVIDEOMEMORY;
  for (UINT i = 0; i < params.BackBufferCount; ++i) {
    Surface::Owner owner{device, Lifetime::Contained, chain,
                         static_cast<IDirect3DSwapChain8*>(chain)};
    Surface::Shape shape{Surface::Kind::BackBuffer,
                         params.BackBufferWidth,
                         params.BackBufferHeight,
                         params.BackBufferFormat,
                         D3DPOOL_DEFAULT,
                         D3DUSAGE_RENDERTARGET,
                         (params.Flags & D3DPRESENTFLAG_LOCKABLE_BACKBUFFER) != 0};
    std::unique_ptr<Surface> buffer;
    try {
      buffer = Surface::Make(owner, shape);
      if (buffer) chain->backBuffers_.push_back(std::move(buffer));
    } catch (const std::bad_alloc&) {
      buffer.reset();
    }
    if (chain->backBuffers_.size() != i + 1) {
      chain->ReleaseAppRef();
      return D3DERR_OUTOFVIDEOMEMORY;
    }
  }
  *out = chain;
  return D3D_OK;
}

HRESULT SwapChain::QueryInterface(REFIID riid, void** object) {
  return Answer<IDirect3DSwapChain8>(this, riid, object, {&kIUnknownId, &IID_IDirect3DSwapChain8});
}

HRESULT SwapChain::Present(const RECT* source, const RECT* dest, HWND destWindow,
                           const RGNDATA* dirty) {
  VRT_ENTRY("IDirect3DSwapChain8::Present", source, dest, destWindow, dirty);
  const HRESULT hr = device()->CheckPresent(source, dest, destWindow, dirty, params_);
  if (SUCCEEDED(hr) && RasterizationEnabled() && !backBuffers_.empty())
    PresentToDesktop(backBuffers_.front().get(), source, dest,
                     device()->PresentWindow(destWindow, params_),
                     params_.FullScreen_PresentationInterval);
  return hr;
}

HRESULT SwapChain::GetBackBuffer(UINT index, D3DBACKBUFFER_TYPE type, IDirect3DSurface8** out) {
  VRT_ENTRY("IDirect3DSwapChain8::GetBackBuffer", index, type, out);
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if (index >= backBuffers_.size() || type != D3DBACKBUFFER_TYPE_MONO) return D3DERR_INVALIDCALL;
  backBuffers_[index]->AddRef();
  *out = backBuffers_[index].get();
  return D3D_OK;
}

}  // namespace vrt::d3d
