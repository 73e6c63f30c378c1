// Direct3D 8 resources with memory: surfaces, textures, vertex and index
// buffers, and additional swap chains.
//
// Lifetime. A resource an application created (standalone) counts the
// application's references and the device's bindings (SetTexture,
// SetStreamSource, SetIndices, SetRenderTarget) apart: AddRef/Release report
// their sum, the resource keeps its device alive while the application holds
// it, and it is freed when both reach zero. Texture levels and swap-chain back
// buffers pass every count to their container. The device's own back buffers
// and automatic depth surface (implicit) belong to the device; an application
// reference to one keeps the device alive and makes Reset refuse.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "control.h"
#include "formats.h"

namespace vrt::d3d {

class Device;

// Larger resources are refused as out of memory.
inline constexpr UINT kMaxResourceBytes = 256u << 20;

// Resource memory, zero-filled. Large blocks a released resource gave back
// are kept (a few, bounded in total) for the next resource of the same size:
// memory fresh from the system costs a page fault per page on first touch,
// which outweighs clearing a block already mapped. Others come from calloc,
// which takes large blocks as zeroed pages without clearing them again.
struct FreeBytes {
  size_t size = 0;
  void operator()(BYTE* bytes) const;
};
using ResourceBytes = std::unique_ptr<BYTE[], FreeBytes>;

// Data attached with SetPrivateData.
class PrivateData {
 public:
  PrivateData() = default;
  PrivateData(const PrivateData&) = delete;
  PrivateData& operator=(const PrivateData&) = delete;
  ~PrivateData();

  HRESULT Set(REFGUID guid, const void* data, DWORD size, DWORD flags);
  HRESULT Get(REFGUID guid, void* data, DWORD* size);
  HRESULT Free(REFGUID guid);

 private:
  struct Entry {
    GUID guid;
    std::vector<BYTE> bytes;
    IUnknown* object = nullptr;  // D3DSPD_IUNKNOWN: held with a reference
  };
  std::vector<Entry>::iterator Find(REFGUID guid);
  std::vector<Entry> entries_;
};

bool SameGuid(REFGUID a, REFGUID b);

class Resource {
 public:
  enum class Lifetime { Standalone, Contained, Implicit };

  ULONG AddAppRef();
  ULONG ReleaseAppRef();
  void AddBindRef();
  void ReleaseBindRef();

  Device* device() const { return device_; }
  D3DPOOL pool() const { return pool_; }
  DWORD usage() const { return usage_; }
  // Implicit resources: whether the application holds a reference.
  bool HeldByApp() const { return appRefs_.load() > 0; }

  virtual ~Resource();

 protected:
  Resource(Device* device, Lifetime lifetime, Resource* container, D3DPOOL pool, DWORD usage);
  Resource(const Resource&) = delete;
  Resource& operator=(const Resource&) = delete;

  PrivateData privateData_;
  DWORD priority_ = 0;

 private:
  Device* const device_;
  const Lifetime lifetime_;
  Resource* const container_;
  const D3DPOOL pool_;
  const DWORD usage_;
  std::atomic<ULONG> appRefs_;
  std::atomic<ULONG> bindRefs_{0};
};

class Texture;

class Surface final : public IDirect3DSurface8, public Resource {
 public:
  enum class Kind { TextureLevel, RenderTarget, DepthStencil, Image, BackBuffer };

  struct Shape {
    Kind kind = Kind::Image;
    UINT width = 0;
    UINT height = 0;
    D3DFORMAT format = D3DFMT_UNKNOWN;
    D3DPOOL pool = D3DPOOL_DEFAULT;
    DWORD usage = 0;
    bool lockable = false;
  };
  struct Owner {
    Device* device = nullptr;
    Lifetime lifetime = Lifetime::Standalone;
    Resource* container = nullptr;        // Contained: the texture or swap chain
    IUnknown* containerObject = nullptr;  // ... as GetContainer answers it
  };

  // Null when the format has no layout or the memory cannot be had.
  static std::unique_ptr<Surface> Make(const Owner& owner, const Shape& shape);

  // IUnknown
  HRESULT QueryInterface(REFIID riid, void** object) override;
  ULONG AddRef() override { return AddAppRef(); }
  ULONG Release() override { return ReleaseAppRef(); }
  // IDirect3DSurface8
  HRESULT GetDevice(IDirect3DDevice8** device) override;
  HRESULT SetPrivateData(REFGUID guid, const void* data, DWORD size, DWORD flags) override;
  HRESULT GetPrivateData(REFGUID guid, void* data, DWORD* size) override;
  HRESULT FreePrivateData(REFGUID guid) override;
  HRESULT GetContainer(REFIID riid, void** container) override;
  HRESULT GetDesc(D3DSURFACE_DESC* desc) override;
  HRESULT LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override;
  HRESULT UnlockRect() override;

  // For the device, the texture and the rasteriser.
  HRESULT Lock(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags);
  HRESULT Unlock();
  void Describe(D3DSURFACE_DESC* desc) const;
  Kind kind() const { return kind_; }
  UINT width() const { return width_; }
  UINT height() const { return height_; }
  D3DFORMAT format() const { return format_; }
  const FormatInfo& formatInfo() const { return info_; }
  UINT pitch() const { return layout_.pitch; }
  UINT byteSize() const { return layout_.bytes; }
  BYTE* bits() { return bits_.get(); }
  bool locked() const { return locked_; }
  // The contents as A8R8G8B8 texels for sampling, row-major; null for
  // formats that cannot be sampled. Decoded once and kept until
  // ContentsChanged; while the surface is locked its bits may change at any
  // time, so each call decodes afresh. Holders keep their copy alive.
  std::shared_ptr<const std::vector<uint32_t>> DecodedTexels();
  // Drops the decoded texels. Everything that writes the bits other than
  // through a lock (copies, draws, clears) calls it after writing.
  void ContentsChanged();

  Surface(const Owner& owner, const Shape& shape, const FormatInfo& info, ResourceBytes bits);
  ~Surface() override = default;

 private:
  IUnknown* const containerObject_;
  const Kind kind_;
  const UINT width_;
  const UINT height_;
  const D3DFORMAT format_;
  const FormatInfo info_;
  const Layout layout_;
  const bool lockable_;
  bool locked_ = false;
  ResourceBytes bits_;
  std::mutex decodedMutex_;
  std::shared_ptr<const std::vector<uint32_t>> decoded_;
};

class Texture final : public IDirect3DTexture8, public Resource {
 public:
  // Levels already resolved (0 means the full chain only to the caller).
  static HRESULT Create(Device* device, UINT width, UINT height, UINT levels, DWORD usage,
                        D3DFORMAT format, D3DPOOL pool, Texture** out);

  // IUnknown
  HRESULT QueryInterface(REFIID riid, void** object) override;
  ULONG AddRef() override { return AddAppRef(); }
  ULONG Release() override { return ReleaseAppRef(); }
  // IDirect3DResource8
  HRESULT GetDevice(IDirect3DDevice8** device) override;
  HRESULT SetPrivateData(REFGUID guid, const void* data, DWORD size, DWORD flags) override;
  HRESULT GetPrivateData(REFGUID guid, void* data, DWORD* size) override;
  HRESULT FreePrivateData(REFGUID guid) override;
  DWORD SetPriority(DWORD priority) override;
  DWORD GetPriority() override;
  void PreLoad() override;
  D3DRESOURCETYPE GetType() override;
  // IDirect3DBaseTexture8
  DWORD SetLOD(DWORD lod) override;
  DWORD GetLOD() override;
  DWORD GetLevelCount() override;
  // IDirect3DTexture8
  HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override;
  HRESULT GetSurfaceLevel(UINT level, IDirect3DSurface8** surface) override;
  HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override;
  HRESULT UnlockRect(UINT level) override;
  HRESULT AddDirtyRect(const RECT* rect) override;

  UINT levelCount() const { return static_cast<UINT>(levels_.size()); }
  Surface* level(UINT i) const { return levels_[i].get(); }
  D3DFORMAT format() const { return levels_.front()->format(); }

  ~Texture() override;

 private:
  Texture(Device* device, DWORD usage, D3DPOOL pool);
  std::vector<std::unique_ptr<Surface>> levels_;
  DWORD lod_ = 0;
};

// Memory and lock bookkeeping shared by vertex and index buffers.
class BufferStore {
 public:
  bool Allocate(UINT length);
  HRESULT Lock(UINT offset, UINT size, BYTE** data);
  HRESULT Unlock();
  UINT length() const { return length_; }
  BYTE* bytes() { return bytes_.get(); }
  bool locked() const { return locks_ > 0; }

 private:
  ResourceBytes bytes_;
  UINT length_ = 0;
  UINT locks_ = 0;
};

// The vertex and the index buffer differ only in their interface, their
// description and the value it carries (the FVF, or the index format).
struct VertexBufferKind {
  using Interface = IDirect3DVertexBuffer8;
  using Desc = D3DVERTEXBUFFER_DESC;
  using Value = DWORD;
  static constexpr const char* kName = "IDirect3DVertexBuffer8";
  static constexpr D3DRESOURCETYPE kType = D3DRTYPE_VERTEXBUFFER;
};
struct IndexBufferKind {
  using Interface = IDirect3DIndexBuffer8;
  using Desc = D3DINDEXBUFFER_DESC;
  using Value = D3DFORMAT;
  static constexpr const char* kName = "IDirect3DIndexBuffer8";
  static constexpr D3DRESOURCETYPE kType = D3DRTYPE_INDEXBUFFER;
};

template <class Kind>
class Buffer final : public Kind::Interface, public Resource {
 public:
  using Value = typename Kind::Value;
  static HRESULT Create(Device* device, UINT length, DWORD usage, Value value, D3DPOOL pool,
                        Buffer** out);

  HRESULT QueryInterface(REFIID riid, void** object) override;
  ULONG AddRef() override { return AddAppRef(); }
  ULONG Release() override { return ReleaseAppRef(); }
  HRESULT GetDevice(IDirect3DDevice8** device) override;
  HRESULT SetPrivateData(REFGUID guid, const void* data, DWORD size, DWORD flags) override;
  HRESULT GetPrivateData(REFGUID guid, void* data, DWORD* size) override;
  HRESULT FreePrivateData(REFGUID guid) override;
  DWORD SetPriority(DWORD priority) override;
  DWORD GetPriority() override;
  void PreLoad() override;
  D3DRESOURCETYPE GetType() override;
  HRESULT Lock(UINT offset, UINT size, BYTE** data, DWORD flags) override;
  HRESULT Unlock() override;
  HRESULT GetDesc(typename Kind::Desc* desc) override;

  UINT length() const { return store_.length(); }
  const BYTE* bytes() { return store_.bytes(); }
  // The FVF of a vertex buffer, the index format of an index buffer.
  Value value() const { return value_; }

  ~Buffer() override = default;

 private:
  Buffer(Device* device, DWORD usage, Value value, D3DPOOL pool);
  BufferStore store_;
  const Value value_;
};

using VertexBuffer = Buffer<VertexBufferKind>;
using IndexBuffer = Buffer<IndexBufferKind>;

inline UINT IndexSize(const IndexBuffer& buffer) {
  return buffer.value() == D3DFMT_INDEX32 ? 4 : 2;
}
extern template class Buffer<VertexBufferKind>;
extern template class Buffer<IndexBufferKind>;

class SwapChain final : public IDirect3DSwapChain8, public Resource {
 public:
  // `params` already resolved (sizes, format and count filled in).
  static HRESULT Create(Device* device, const D3DPRESENT_PARAMETERS& params, SwapChain** out);

  HRESULT QueryInterface(REFIID riid, void** object) override;
  ULONG AddRef() override { return AddAppRef(); }
  ULONG Release() override { return ReleaseAppRef(); }
  HRESULT Present(const RECT* source, const RECT* dest, HWND destWindow,
                  const RGNDATA* dirty) override;
  HRESULT GetBackBuffer(UINT index, D3DBACKBUFFER_TYPE type, IDirect3DSurface8** out) override;

  const D3DPRESENT_PARAMETERS& params() const { return params_; }
  ~SwapChain() override;

 private:
  SwapChain(Device* device, const D3DPRESENT_PARAMETERS& params);
  D3DPRESENT_PARAMETERS params_;
  std::vector<std::unique_ptr<Surface>> backBuffers_;
};

}  // namespace vrt::d3d
