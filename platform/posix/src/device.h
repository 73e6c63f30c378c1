// The software Direct3D 8 device. Everything a rasteriser needs is here in
// plain form: DeviceState holds every render, stage and transform value and
// the bound resources (whose memory Surface/VertexBuffer/IndexBuffer expose),
// and every validated Clear and draw reaches Device::Submit with its
// arguments, which hands them to the rasteriser (raster.h). Presentation
// (Device::Present, SwapChain::Present) copies the back buffer onto the
// desktop's pixel store.
#pragma once

#include <array>
#include <atomic>
#include <map>
#include <memory>
#include <vector>

#include "control.h"
#include "direct3d.h"
#include "resources.h"

namespace vrt::d3d {

inline constexpr DWORD kRenderStateSlots = D3DRS_NORMALORDER + 1;
inline constexpr DWORD kTextureStages = 8;
inline constexpr DWORD kStageStateSlots = D3DTSS_RESULTARG + 1;
inline constexpr DWORD kTransformSlots = 512;  // world matrices are 256..511
inline constexpr DWORD kStreams = 8;
inline constexpr DWORD kClipPlanes = 6;
inline constexpr DWORD kActiveLights = 8;
inline constexpr DWORD kVertexShaderConstants = 96;
inline constexpr DWORD kPixelShaderConstants = 8;
inline constexpr DWORD kMaxPrimitiveCount = 0x000FFFFF;
inline constexpr DWORD kMaxVertexIndex = 0x00FFFFFF;
inline constexpr DWORD kMaxStreamStride = 255;

// Whether Direct3D 8 defines the render state / stage state / transform.
bool IsRenderState(DWORD state);
bool IsStageState(DWORD type);
bool IsTransformState(DWORD state);

struct StreamSource {
  VertexBuffer* buffer = nullptr;  // held with a binding reference
  UINT stride = 0;
};

struct LightSlot {
  D3DLIGHT8 light{};
  bool enabled = false;
};

struct DeviceState {
  DWORD renderStates[kRenderStateSlots]{};                // indexed by D3DRENDERSTATETYPE
  DWORD stageStates[kTextureStages][kStageStateSlots]{};  // [stage][D3DTEXTURESTAGESTATETYPE]
  D3DMATRIX transforms[kTransformSlots]{};                // indexed by D3DTRANSFORMSTATETYPE
  D3DVIEWPORT8 viewport{};
  D3DMATERIAL8 material{};
  std::map<DWORD, LightSlot> lights;
  float clipPlanes[kClipPlanes][4]{};
  D3DCLIPSTATUS8 clipStatus{};
  DWORD vertexShader = 0;  // an FVF code (bit 0 clear) or a CreateVertexShader handle
  DWORD pixelShader = 0;   // 0: fixed-function texture stages
  float vertexConstants[kVertexShaderConstants][4]{};
  float pixelConstants[kPixelShaderConstants][4]{};
  // Bound resources, each held with a binding reference.
  Texture* textures[kTextureStages]{};
  StreamSource streams[kStreams]{};
  IndexBuffer* indices = nullptr;
  UINT baseVertexIndex = 0;
  Surface* renderTarget = nullptr;
  Surface* depthStencil = nullptr;
  UINT currentPalette = 0xFFFF;
};

// One validated Clear or draw, as the rasteriser will receive it. Pointers
// into user memory (the UP draws) are valid only during Submit.
struct DrawCall {
  enum class Kind { Clear, Primitive, IndexedPrimitive, PrimitiveUP, IndexedPrimitiveUP };
  Kind kind = Kind::Primitive;
  D3DPRIMITIVETYPE type = D3DPT_TRIANGLELIST;
  UINT primitiveCount = 0;
  UINT startVertex = 0;              // Primitive
  UINT minIndex = 0;                 // indexed draws
  UINT vertexCount = 0;              // vertices the draw may touch
  UINT startIndex = 0;               // IndexedPrimitive
  const void* vertexData = nullptr;  // UP draws: stream zero
  UINT vertexStride = 0;
  const void* indexData = nullptr;  // IndexedPrimitiveUP
  D3DFORMAT indexFormat = D3DFMT_UNKNOWN;
  // Clear
  DWORD rectCount = 0;
  const D3DRECT* rects = nullptr;
  DWORD clearFlags = 0;
  D3DCOLOR color = 0;
  float z = 0;
  DWORD stencil = 0;
};

struct FrameCounters {
  uint64_t scenes = 0;
  uint64_t clears = 0;
  uint64_t draws = 0;
  uint64_t primitives = 0;
  uint64_t presents = 0;
};

enum class Cooperation { Operational, Lost, NotReset };

class Device final : public IDirect3DDevice8 {
 public:
  static HRESULT Create(Direct3D* d3d, UINT adapter, const AdapterConfig& config, D3DDEVTYPE type,
                        HWND focusWindow, DWORD behaviorFlags, const D3DPRESENT_PARAMETERS& params,
                        const D3DDISPLAYMODE& displayMode, IDirect3DDevice8** out);

  // IUnknown
  HRESULT QueryInterface(REFIID riid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;

  // IDirect3DDevice8
  HRESULT TestCooperativeLevel() override;
  UINT GetAvailableTextureMem() override;
  HRESULT ResourceManagerDiscardBytes(DWORD bytes) override;
  HRESULT GetDirect3D(IDirect3D8** out) override;
  HRESULT GetDeviceCaps(D3DCAPS8* caps) override;
  HRESULT GetDisplayMode(D3DDISPLAYMODE* mode) override;
  HRESULT GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* params) override;
  HRESULT SetCursorProperties(UINT x, UINT y, IDirect3DSurface8* bitmap) override;
  void SetCursorPosition(UINT x, UINT y, DWORD flags) override;
  BOOL ShowCursor(BOOL show) override;
  HRESULT CreateAdditionalSwapChain(D3DPRESENT_PARAMETERS* params,
                                    IDirect3DSwapChain8** out) override;
  HRESULT Reset(D3DPRESENT_PARAMETERS* params) override;
  HRESULT Present(const RECT* source, const RECT* dest, HWND destWindow,
                  const RGNDATA* dirty) override;
  HRESULT GetBackBuffer(UINT index, D3DBACKBUFFER_TYPE type, IDirect3DSurface8** out) override;
  HRESULT GetRasterStatus(D3DRASTER_STATUS* status) override;
  void SetGammaRamp(DWORD flags, const D3DGAMMARAMP* ramp) override;
  void GetGammaRamp(D3DGAMMARAMP* ramp) override;
  HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                        D3DPOOL pool, IDirect3DTexture8** out) override;
  HRESULT CreateVolumeTexture(UINT width, UINT height, UINT depth, UINT levels, DWORD usage,
                              D3DFORMAT format, D3DPOOL pool,
                              IDirect3DVolumeTexture8** out) override;
  HRESULT CreateCubeTexture(UINT edge, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                            IDirect3DCubeTexture8** out) override;
  HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                             IDirect3DVertexBuffer8** out) override;
  HRESULT CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                            IDirect3DIndexBuffer8** out) override;
  HRESULT CreateRenderTarget(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE samples,
                             BOOL lockable, IDirect3DSurface8** out) override;
  HRESULT CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format,
                                    D3DMULTISAMPLE_TYPE samples, IDirect3DSurface8** out) override;
  HRESULT CreateImageSurface(UINT width, UINT height, D3DFORMAT format,
                             IDirect3DSurface8** out) override;
  HRESULT CopyRects(IDirect3DSurface8* source, const RECT* rects, UINT count,
                    IDirect3DSurface8* dest, const POINT* points) override;
  HRESULT UpdateTexture(IDirect3DBaseTexture8* source, IDirect3DBaseTexture8* dest) override;
  HRESULT GetFrontBuffer(IDirect3DSurface8* dest) override;
  HRESULT SetRenderTarget(IDirect3DSurface8* target, IDirect3DSurface8* depthStencil) override;
  HRESULT GetRenderTarget(IDirect3DSurface8** out) override;
  HRESULT GetDepthStencilSurface(IDirect3DSurface8** out) override;
  HRESULT BeginScene() override;
  HRESULT EndScene() override;
  HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                DWORD stencil) override;
  HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override;
  HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override;
  HRESULT MultiplyTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override;
  HRESULT SetViewport(const D3DVIEWPORT8* viewport) override;
  HRESULT GetViewport(D3DVIEWPORT8* viewport) override;
  HRESULT SetMaterial(const D3DMATERIAL8* material) override;
  HRESULT GetMaterial(D3DMATERIAL8* material) override;
  HRESULT SetLight(DWORD index, const D3DLIGHT8* light) override;
  HRESULT GetLight(DWORD index, D3DLIGHT8* light) override;
  HRESULT LightEnable(DWORD index, BOOL enable) override;
  HRESULT GetLightEnable(DWORD index, BOOL* enable) override;
  HRESULT SetClipPlane(DWORD index, const float* plane) override;
  HRESULT GetClipPlane(DWORD index, float* plane) override;
  HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
  HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override;
  HRESULT BeginStateBlock() override;
  HRESULT EndStateBlock(DWORD* token) override;
  HRESULT ApplyStateBlock(DWORD token) override;
  HRESULT CaptureStateBlock(DWORD token) override;
  HRESULT DeleteStateBlock(DWORD token) override;
  HRESULT CreateStateBlock(D3DSTATEBLOCKTYPE type, DWORD* token) override;
  HRESULT SetClipStatus(const D3DCLIPSTATUS8* status) override;
  HRESULT GetClipStatus(D3DCLIPSTATUS8* status) override;
  HRESULT GetTexture(DWORD stage, IDirect3DBaseTexture8** out) override;
  HRESULT SetTexture(DWORD stage, IDirect3DBaseTexture8* texture) override;
  HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) override;
  HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override;
  HRESULT ValidateDevice(DWORD* passes) override;
  HRESULT GetInfo(DWORD id, void* data, DWORD size) override;
  HRESULT SetPaletteEntries(UINT palette, const PALETTEENTRY* entries) override;
  HRESULT GetPaletteEntries(UINT palette, PALETTEENTRY* entries) override;
  HRESULT SetCurrentTexturePalette(UINT palette) override;
  HRESULT GetCurrentTexturePalette(UINT* palette) override;
  HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT count) override;
  HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, UINT minIndex, UINT vertexCount,
                               UINT startIndex, UINT count) override;
  HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT count, const void* vertices,
                          UINT stride) override;
  HRESULT DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT minIndex, UINT vertexCount, UINT count,
                                 const void* indices, D3DFORMAT indexFormat, const void* vertices,
                                 UINT stride) override;
  HRESULT ProcessVertices(UINT sourceStart, UINT destIndex, UINT vertexCount,
                          IDirect3DVertexBuffer8* dest, DWORD flags) override;
  HRESULT CreateVertexShader(const DWORD* declaration, const DWORD* function, DWORD* handle,
                             DWORD usage) override;
  HRESULT SetVertexShader(DWORD handle) override;
  HRESULT GetVertexShader(DWORD* handle) override;
  HRESULT DeleteVertexShader(DWORD handle) override;
  HRESULT SetVertexShaderConstant(DWORD reg, const void* data, DWORD count) override;
  HRESULT GetVertexShaderConstant(DWORD reg, void* data, DWORD count) override;
  HRESULT GetVertexShaderDeclaration(DWORD handle, void* data, DWORD* size) override;
  HRESULT GetVertexShaderFunction(DWORD handle, void* data, DWORD* size) override;
  HRESULT SetStreamSource(UINT stream, IDirect3DVertexBuffer8* buffer, UINT stride) override;
  HRESULT GetStreamSource(UINT stream, IDirect3DVertexBuffer8** out, UINT* stride) override;
  HRESULT SetIndices(IDirect3DIndexBuffer8* buffer, UINT baseVertexIndex) override;
  HRESULT GetIndices(IDirect3DIndexBuffer8** out, UINT* baseVertexIndex) override;
  HRESULT CreatePixelShader(const DWORD* function, DWORD* handle) override;
  HRESULT SetPixelShader(DWORD handle) override;
  HRESULT GetPixelShader(DWORD* handle) override;
  HRESULT DeletePixelShader(DWORD handle) override;
  HRESULT SetPixelShaderConstant(DWORD reg, const void* data, DWORD count) override;
  HRESULT GetPixelShaderConstant(DWORD reg, void* data, DWORD count) override;
  HRESULT GetPixelShaderFunction(DWORD handle, void* data, DWORD* size) override;
  HRESULT DrawRectPatch(UINT handle, const float* segments, const D3DRECTPATCH_INFO* info) override;
  HRESULT DrawTriPatch(UINT handle, const float* segments, const D3DTRIPATCH_INFO* info) override;
  HRESULT DeletePatch(UINT handle) override;

  // Internal interface for resources, the control API and the rasteriser.
  const DeviceState& state() const { return state_; }
  const FrameCounters& counters() const { return counters_; }
  const D3DPRESENT_PARAMETERS& presentation() const { return params_; }
  const AdapterConfig& adapter() const { return config_; }
  const D3DCAPS8& caps() const { return caps_; }
  Cooperation cooperation() const { return cooperation_; }
  HWND focusWindow() const { return focusWindow_; }
  void SetCooperation(Cooperation c) { cooperation_ = c; }
  // Standalone resources report their birth and death; Reset refuses while
  // any D3DPOOL_DEFAULT one lives.
  void ResourceCreated(D3DPOOL pool);
  void ResourceDestroyed(D3DPOOL pool);
  int liveDefaultResources() const { return defaultResources_; }
  // Whether `window` is a valid Present destination override.
  HRESULT CheckPresent(const RECT* source, const RECT* dest, HWND destWindow, const RGNDATA* dirty,
                       const D3DPRESENT_PARAMETERS& params) const;
  // The window a Present shows in: the override, else the chain's window,
  // else the focus window.
  HWND PresentWindow(HWND destWindow, const D3DPRESENT_PARAMETERS& params) const;

  // The live device `device` points to, or null.
  static Device* FromInterface(IDirect3DDevice8* device);

 private:
  Device(Direct3D* d3d, UINT adapter, const AdapterConfig& config, D3DDEVTYPE type,
         HWND focusWindow, DWORD behaviorFlags, const D3DPRESENT_PARAMETERS& params,
         const D3DDISPLAYMODE& displayMode);
  ~Device();

  struct VertexShaderCode {
    std::vector<DWORD> declaration;
    std::vector<DWORD> function;
  };

  // The back buffers and automatic depth surface `params` ask for.
  HRESULT CreateImplicitSurfaces(const D3DPRESENT_PARAMETERS& params,
                                 std::vector<std::unique_ptr<Surface>>* backBuffers,
                                 std::unique_ptr<Surface>* depth);
  // Every state to its Direct3D default, bindings dropped, the back buffer
  // and automatic depth surface bound, the viewport covering the target.
  void RestoreDefaultState();
  void DropBindings();
  void ViewportToTarget();
  HRESULT CheckDrawState(D3DPRIMITIVETYPE type, UINT count) const;
  void Submit(const DrawCall& call);
  HRESULT CreateSurface(Surface::Kind kind, UINT width, UINT height, D3DFORMAT format, D3DPOOL pool,
                        DWORD usage, bool lockable, IDirect3DSurface8** out);

  template <class T>
  static void Rebind(T*& slot, T* value) {
    if (value) value->AddBindRef();
    T* old = slot;
    slot = value;
    if (old) old->ReleaseBindRef();
  }

  std::atomic<ULONG> refs_{1};
  Direct3D* const d3d_;
  const UINT adapterOrdinal_;
  const AdapterConfig config_;
  const D3DDEVTYPE type_;
  const HWND focusWindow_;
  const DWORD behaviorFlags_;
  D3DCAPS8 caps_{};
  D3DPRESENT_PARAMETERS params_;
  D3DDISPLAYMODE displayMode_;
  Cooperation cooperation_ = Cooperation::Operational;
  bool inScene_ = false;
  DeviceState state_;
  FrameCounters counters_;
  std::vector<std::unique_ptr<Surface>> backBuffers_;
  std::unique_ptr<Surface> autoDepth_;
  int defaultResources_ = 0;
  std::map<DWORD, std::vector<DWORD>> pixelShaders_;
  DWORD nextPixelShader_ = 1;
  std::map<DWORD, VertexShaderCode> vertexShaders_;
  DWORD nextVertexShader_ = 1;
  std::map<UINT, std::array<PALETTEENTRY, 256>> palettes_;
  D3DGAMMARAMP gamma_{};
  bool cursorVisible_ = false;
};

}  // namespace vrt::d3d
