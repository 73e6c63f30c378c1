#include "gd/state_cache.h"

#include <array>
#include <cstring>

namespace {

// The render states Direct3D 8 defines, as ranges of enumerator values, in
// the order of their slots.
constexpr std::array<std::array<DWORD, 2>, 13> kRenderStateRanges{{
    // clang-format off
    {7, 10}, {14, 16}, {19, 20}, {22, 30}, {34, 38}, {40, 40}, {47, 48},
    {52, 60}, {128, 137}, {139, 143}, {145, 148}, {151, 168}, {170, 173},
    // clang-format on
}};
constexpr DWORD kLastRenderState = 173;

constexpr std::array<signed char, kLastRenderState + 1> BuildRenderStateSlots() {
  std::array<signed char, kLastRenderState + 1> slots{};
  for (auto& s : slots) s = -1;
  int next = 0;
  for (const auto& range : kRenderStateRanges)
    for (DWORD v = range[0]; v <= range[1]; ++v) slots[v] = static_cast<signed char>(next++);
  return slots;
}
constexpr auto kRenderStateSlots = BuildRenderStateSlots();
static_assert(kRenderStateSlots[173] == kCachedRenderStates - 1, "76 render states");

}  // namespace

int RenderStateSlot(DWORD state) {
  return state <= kLastRenderState ? kRenderStateSlots[state] : -1;
}

int StageStateSlot(DWORD type) {
  if (type >= 1 && type <= 11) return static_cast<int>(type) - 1;
  if (type >= 13 && type <= 28) return static_cast<int>(type) - 2;
  return -1;
}

int TransformSlot(DWORD state) {
  switch (state) {
    case D3DTS_VIEW:
      return 0;
    case D3DTS_PROJECTION:
      return 1;
    default:
      break;
  }
  if (state >= D3DTS_TEXTURE0 && state <= D3DTS_TEXTURE7)
    return 2 + static_cast<int>(state - D3DTS_TEXTURE0);
  if (state >= 256 && state <= 259) return 10 + static_cast<int>(state - 256);
  return -1;
}

namespace {

// Lets go of the textures and surfaces the copy says are bound: the device
// keeps what is bound alive, and a reset is refused while any default-pool
// resource lives, even one its owner has released. The back buffer (with no
// depth surface) replaces a drawing surface's target. Whatever could not be
// let go is cleared from `kept`, which otherwise says what stays bound, so
// that the next reset tries again instead of forgetting it.
void UnbindResources(RenderStateCache* cache, RenderStateCache* kept) {
  IDirect3DDevice8* device = cache->device;
  for (DWORD stage = 0; stage < kCachedStages; ++stage)
    if (cache->textures[stage] && SUCCEEDED(device->SetTexture(stage, nullptr)))
      kept->textures[stage] = nullptr;
  if (!cache->renderTarget && !cache->depthStencil) return;
  IDirect3DSurface8* back = nullptr;
  if (FAILED(device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &back)) || !back) return;
  if (!cache->depthStencil && cache->renderTarget == back) {
    kept->renderTarget = nullptr;
  } else if (SUCCEEDED(device->SetRenderTarget(back, nullptr))) {
    kept->renderTarget = nullptr;
    kept->depthStencil = nullptr;
  }
  back->Release();
}

}  // namespace

void ResetStateCache(RenderStateCache* cache) {
  IDirect3DDevice8* device = cache->device;
  RenderStateCache bound = *cache;
  if (device) UnbindResources(cache, &bound);
  std::memset(cache, 0, sizeof(*cache));
  cache->device = device;
  // What the device still holds stays known (it is not a value to re-send).
  std::memcpy(cache->textures, bound.textures, sizeof(cache->textures));
  cache->renderTarget = bound.renderTarget;
  cache->depthStencil = bound.depthStencil;
  for (DWORD& v : cache->renderStates) v = 0xFFFFFFFFu;
  for (auto& stage : cache->stageStates)
    for (DWORD& v : stage) v = 0xFFFFFFFFu;
}

HRESULT SetRenderStateCached(RenderStateCache* cache, D3DRENDERSTATETYPE state, DWORD value) {
  const int slot = RenderStateSlot(static_cast<DWORD>(state));
  if (slot < 0 || cache->renderStates[slot] == value) return D3D_OK;
  cache->renderStates[slot] = value;
  return cache->device->SetRenderState(state, value);
}

HRESULT SetTextureStageStateCached(RenderStateCache* cache, DWORD stage,
                                   D3DTEXTURESTAGESTATETYPE type, DWORD value) {
  const int slot = StageStateSlot(static_cast<DWORD>(type));
  if (slot < 0 || stage >= kCachedStages || cache->stageStates[stage][slot] == value) return D3D_OK;
  cache->stageStates[stage][slot] = value;
  return cache->device->SetTextureStageState(stage, type, value);
}

HRESULT SetTextureCached(RenderStateCache* cache, DWORD stage, IDirect3DBaseTexture8* texture) {
  if (stage >= kCachedStages || cache->textures[stage] == texture) return D3D_OK;
  cache->textures[stage] = texture;
  return cache->device->SetTexture(stage, texture);
}

HRESULT SetVertexShaderCached(RenderStateCache* cache, DWORD handle) {
  if (cache->vertexShader == handle) return D3D_OK;
  cache->vertexShader = handle;
  return cache->device->SetVertexShader(handle);
}

HRESULT SetStreamSourceCached(RenderStateCache* cache, UINT stream, IDirect3DVertexBuffer8* buffer,
                              UINT stride) {
  if (stream >= kCachedStreams || cache->streams[stream] == buffer) return D3D_OK;
  cache->streams[stream] = buffer;
  return cache->device->SetStreamSource(stream, buffer, stride);
}

HRESULT SetIndicesCached(RenderStateCache* cache, IDirect3DIndexBuffer8* buffer,
                         UINT baseVertexIndex) {
  if (cache->indices == buffer && cache->baseVertexIndex == baseVertexIndex) return D3D_OK;
  cache->indices = buffer;
  cache->baseVertexIndex = baseVertexIndex;
  return cache->device->SetIndices(buffer, baseVertexIndex);
}

HRESULT SetTransformCached(RenderStateCache* cache, D3DTRANSFORMSTATETYPE state,
                           const D3DMATRIX* matrix) {
  const int slot = TransformSlot(static_cast<DWORD>(state));
  if (slot < 0) return D3D_OK;
  D3DMATRIX& cached = cache->transforms[slot];
  bool same = true;
  for (int r = 0; r < 4 && same; ++r)
    for (int c = 0; c < 4; ++c)
      if (cached.m[r][c] != matrix->m[r][c]) {
        same = false;
        break;
      }
  if (same) return D3D_OK;
  cached = *matrix;
  return cache->device->SetTransform(state, matrix);
}

HRESULT SetViewportCached(RenderStateCache* cache, const D3DVIEWPORT8* viewport) {
  const D3DVIEWPORT8& c = cache->viewport;
  if (c.X == viewport->X && c.Y == viewport->Y && c.Width == viewport->Width &&
      c.Height == viewport->Height && c.MinZ == viewport->MinZ && c.MaxZ == viewport->MaxZ)
    return D3D_OK;
  cache->viewport = *viewport;
  return cache->device->SetViewport(viewport);
}

HRESULT SetPixelShaderCached(RenderStateCache* cache, DWORD handle) {
  if (cache->pixelShader == handle) return D3D_OK;
  cache->pixelShader = handle;
  return cache->device->SetPixelShader(handle);
}

HRESULT SetPixelShaderConstantCached(RenderStateCache* cache, const float constant[4]) {
  float* c = cache->pixelShaderConstant;
  if (c[0] == constant[0] && c[1] == constant[1] && c[2] == constant[2] && c[3] == constant[3])
    return D3D_OK;
  std::memcpy(c, constant, sizeof(float) * 4);
  return cache->device->SetPixelShaderConstant(0, constant, 1);
}

HRESULT SetRenderTargetCached(RenderStateCache* cache, IDirect3DSurface8* colour,
                              IDirect3DSurface8* depthStencil) {
  if (cache->renderTarget == colour && cache->depthStencil == depthStencil) return D3D_OK;
  // Stored only after the device accepted it, so a refused target is retried.
  const HRESULT hr = cache->device->SetRenderTarget(colour, depthStencil);
  if (FAILED(hr)) return hr;
  if (cache->renderTarget != colour) {
    // Direct3D resets the viewport to a new target; keep the copy in step.
    D3DVIEWPORT8 viewport{};
    if (SUCCEEDED(cache->device->GetViewport(&viewport))) cache->viewport = viewport;
  }
  cache->renderTarget = colour;
  cache->depthStencil = depthStencil;
  return hr;
}
