// Shadow copy of a device's state: every state change of the library goes
// through these setters, which reach Direct3D only when the value differs
// from the copy, so the many runs of a frame cost a call only on a change.
#pragma once

#include <d3d8.h>

inline constexpr int kCachedRenderStates = 76;
inline constexpr int kCachedStageTypes = 27;
inline constexpr int kCachedStages = 8;
inline constexpr int kCachedTransforms = 14;
inline constexpr int kCachedStreams = 8;

struct RenderStateCache {
  IDirect3DDevice8* device;
  IDirect3DSurface8* renderTarget;
  IDirect3DSurface8* depthStencil;
  D3DVIEWPORT8 viewport;
  D3DMATRIX transforms[kCachedTransforms];
  DWORD renderStates[kCachedRenderStates];
  DWORD stageStates[kCachedStages][kCachedStageTypes];
  DWORD vertexShader;
  IDirect3DVertexBuffer8* streams[kCachedStreams];
  IDirect3DIndexBuffer8* indices;
  UINT baseVertexIndex;
  IDirect3DBaseTexture8* textures[kCachedStages];
  DWORD pixelShader;
  float pixelShaderConstant[4];
};

// Slot of a cached state, or -1 when the value is not one the cache keeps.
int RenderStateSlot(DWORD state);
int StageStateSlot(DWORD type);
int TransformSlot(DWORD state);

// Keeps the device interface; every other field becomes zero, and every
// render and stage state 0xFFFFFFFF so that its next set reaches the device.
// Textures and a drawing surface's target still bound on the device are
// unbound first (the back buffer becomes the target), so that a reset that
// follows is not refused for them.
void ResetStateCache(RenderStateCache* cache);

HRESULT SetRenderStateCached(RenderStateCache* cache, D3DRENDERSTATETYPE state, DWORD value);
HRESULT SetTextureStageStateCached(RenderStateCache* cache, DWORD stage,
                                   D3DTEXTURESTAGESTATETYPE type, DWORD value);
HRESULT SetTextureCached(RenderStateCache* cache, DWORD stage, IDirect3DBaseTexture8* texture);
HRESULT SetVertexShaderCached(RenderStateCache* cache, DWORD handle);
HRESULT SetStreamSourceCached(RenderStateCache* cache, UINT stream, IDirect3DVertexBuffer8* buffer,
                              UINT stride);
HRESULT SetIndicesCached(RenderStateCache* cache, IDirect3DIndexBuffer8* buffer,
                         UINT baseVertexIndex);
HRESULT SetTransformCached(RenderStateCache* cache, D3DTRANSFORMSTATETYPE state,
                           const D3DMATRIX* matrix);
HRESULT SetViewportCached(RenderStateCache* cache, const D3DVIEWPORT8* viewport);
HRESULT SetPixelShaderCached(RenderStateCache* cache, DWORD handle);
HRESULT SetPixelShaderConstantCached(RenderStateCache* cache, const float constant[4]);
HRESULT SetRenderTargetCached(RenderStateCache* cache, IDirect3DSurface8* colour,
                              IDirect3DSurface8* depthStencil);
