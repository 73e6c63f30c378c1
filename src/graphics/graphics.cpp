#include "graphics/graphics.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "d3dx/d3dx8.h"
#include "gd/device.h"
#include "host/com.h"
#include "host/host.h"

namespace {

void SetWholeClip(Graphics* g) {
  g->clip[0] = 0.0f;
  g->clip[1] = 0.0f;
  g->clip[2] = static_cast<float>(g->target->width);
  g->clip[3] = static_cast<float>(g->target->height);
}

void FreeGraphicsRecord(Graphics* g) {
  ReleaseMemBuffer(&g->frameMemory);
  ReleasePBuffer(&g->translucentItems);
  ReleasePBuffer(&g->opaqueItems);
  ReleasePBuffer(&g->groupHeads);
  Free(g);
}

// The common start of the owning kinds: handler, record and render target.
Graphics* AllocateGraphics(GraphicsDevice* device, bool childWindow) {
  if (!device->resetCallback) device->resetCallback = GraphicsResetHandler;
  auto* g = static_cast<Graphics*>(Malloc(sizeof(Graphics)));
  if (!g) {
    VEK_SET_ERROR(kErrAllocation, sizeof(Graphics), "malloc Graphics fail", VEK_SRC_GRAPHICS);
    return nullptr;
  }
  std::memset(static_cast<void*>(g), 0, sizeof(Graphics));
  g->target = static_cast<RenderTarget*>(Malloc(sizeof(RenderTarget)));
  if (!g->target) {
    FreeGraphicsRecord(g);
    VEK_SET_ERROR(kErrAllocation, sizeof(Graphics), "malloc Graphics fail", VEK_SRC_GRAPHICS);
    if (childWindow)
      std::printf(
          "CreateChildWindowGraphics Failed: g->target=(RenderTarget*)Malloc(sizeof(RenderTarget))\n");
    return nullptr;
  }
  std::memset(static_cast<void*>(g->target), 0, sizeof(RenderTarget));
  // The embedded texture is drawn like an image: its whole level is picture
  // (no power-of-two padding), so coordinates keep their full range. Nothing
  // around a reset touches these fields.
  g->target->texture.contentScaleX = 1.0f;
  g->target->texture.contentScaleY = 1.0f;
  return g;
}

HRESULT CreateDepth(Graphics* g) {
  RenderTarget* t = g->target;
  t->depthFormat = D3DFMT_D24S8;
  // The depth surface must cover the whole colour surface, which a device
  // needing power-of-two textures makes larger than the size asked for;
  // a smaller one would make every SetRenderTarget on it fail.
  UINT width = t->width, height = t->height;
  D3DSURFACE_DESC colour{};
  if (t->color && SUCCEEDED(t->color->GetDesc(&colour))) {
    width = std::max(width, colour.Width);
    height = std::max(height, colour.Height);
  }
  return g->device->cache.device->CreateDepthStencilSurface(width, height, t->depthFormat,
                                                            D3DMULTISAMPLE_NONE, &t->depth);
}

// Depth surface and list entry, the common end of the owning kinds.
Graphics* FinishGraphics(Graphics* g, const char* depthFailureLine) {
  const HRESULT hr = CreateDepth(g);
  if (FAILED(hr)) {
    g->target->depth = nullptr;
    CloseGraphics(g);
    VEK_SET_ERROR(kErrDirect3D, hr, "CreateDepthStencilSurface fail", VEK_SRC_GRAPHICS);
    if (depthFailureLine) std::printf("%s", depthFailureLine);
    return nullptr;
  }
  SetWholeClip(g);
  PBufferAdd(&g->device->graphicsList, g);
  return g;
}

// The device's back buffer, whatever render target a frame left set.
void TakeBackBuffer(Graphics* g) {
  GraphicsDevice* device = g->device;
  device->cache.device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &g->target->color);
  g->target->width = device->present.BackBufferWidth;
  g->target->height = device->present.BackBufferHeight;
}

}  // namespace

Graphics* OpenWindowGraphics(GraphicsDevice* device) {
  if (!device) return nullptr;
  Graphics* g = AllocateGraphics(device, false);
  if (!g) return nullptr;
  g->device = device;
  TakeBackBuffer(g);
  return FinishGraphics(g, nullptr);
}

Graphics* OpenTextureGraphics(GraphicsDevice* device, UINT width, UINT height, D3DFORMAT format) {
  if (!device) return nullptr;
  Graphics* g = AllocateGraphics(device, false);
  if (!g) return nullptr;
  g->device = device;
  RenderTarget* t = g->target;
  if (CreateRenderTargetTexture(&t->texture.texture, device->cache.device, width, height, format) <
      0) {
    CloseGraphics(g);
    return nullptr;
  }
  t->texture.texture.tex->GetSurfaceLevel(0, &t->color);
  t->width = width;
  t->height = height;
  return FinishGraphics(g, nullptr);
}

Graphics* OpenChildWindowGraphics(GraphicsDevice* device, HWND window, UINT width, UINT height,
                                  INT bits) {
  if (!device) return nullptr;
  Graphics* g = AllocateGraphics(device, true);
  if (!g) return nullptr;
  RenderTarget* t = g->target;
  D3DPRESENT_PARAMETERS& p = t->present;
  p.Windowed = TRUE;
  p.SwapEffect = D3DSWAPEFFECT_COPY;
  p.BackBufferFormat = bits == 16   ? D3DFMT_R5G6B5
                       : bits == 32 ? D3DFMT_X8R8G8B8
                                    : device->present.BackBufferFormat;
  p.BackBufferWidth = width;
  p.BackBufferHeight = height;
  p.hDeviceWindow = window;
  const HRESULT hr = device->cache.device->CreateAdditionalSwapChain(&p, &t->swapChain);
  if (FAILED(hr)) {
    t->swapChain = nullptr;
    CloseGraphics(g);
    VEK_SET_ERROR(kErrDirect3D, hr, "CreateAdditionalSwapChain fail", VEK_SRC_GRAPHICS);
    std::printf("CreateChildWindowGraphics Failed: CreateAdditionalSwapChain\n");
    return nullptr;
  }
  t->swapChain->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &t->color);
  t->width = width;
  t->height = height;
  g->device = device;
  return FinishGraphics(g, "CreateChildWindowGraphics Failed: CreateDepthStencilSurface\n");
}

Graphics* OpenStencilGraphics(Graphics* parent) {
  if (!parent) return nullptr;
  auto* g = static_cast<Graphics*>(Malloc(sizeof(Graphics)));
  if (!g) {
    VEK_SET_ERROR(kErrAllocation, sizeof(Graphics), "malloc Graphics fail", VEK_SRC_GRAPHICS);
    return nullptr;
  }
  std::memset(static_cast<void*>(g), 0, sizeof(Graphics));
  g->device = parent->device;
  g->isStencil = 1;
  g->target = parent->target;
  SetWholeClip(g);
  return g;
}

INT CloseGraphics(Graphics* g) {
  if (!g) return 0;
  if (g->isStencil) {
    FreeGraphicsRecord(g);
    return 1;
  }
  RenderTarget* t = g->target;
  ReleaseInterface(t->depth);
  ReleaseInterface(t->color);
  if (t->texture.texture.tex) ReleaseTexture(&t->texture.texture);
  ReleaseInterface(t->swapChain);
  if (g->device) PBufferRemoveAtPointer(&g->device->graphicsList, g);
  Free(t);
  FreeGraphicsRecord(g);
  return 1;
}

VekTexture* GetGraphicsTexture(Graphics* g) { return g ? &g->target->texture.texture : nullptr; }

HRESULT SaveGraphics(Graphics* g, const WCHAR* path, DWORD fileFormat) {
  if (!g) return -1;
  if (!g->target->color) return -2;
  return D3DXSaveSurfaceToFileW(path, static_cast<D3DXIMAGE_FILEFORMAT>(fileFormat),
                                g->target->color, nullptr, nullptr);
}

LONG GraphicsResetHandler(Graphics* g, bool release) {
  RenderTarget* t = g->target;
  IDirect3DDevice8* d3d = g->device->cache.device;
  if (release) {
    ReleaseInterface(t->depth);
    ReleaseInterface(t->color);
    ReleaseInterface(t->swapChain);
    ReleaseInterface(t->texture.texture.tex);  // the record keeps its format and size
    return 1;
  }
  VekTexture* texture = &t->texture.texture;
  if (!texture->tex && texture->format != 0) {
    const INT created = CreateRenderTargetTexture(texture, d3d, t->width, t->height, texture->format);
    if (created < 0) return created;
    texture->tex->GetSurfaceLevel(0, &t->color);
  } else if (!t->swapChain && t->present.hDeviceWindow) {
    const HRESULT hr = d3d->CreateAdditionalSwapChain(&t->present, &t->swapChain);
    if (FAILED(hr)) {
      t->swapChain = nullptr;
      return hr;
    }
    t->swapChain->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &t->color);
  } else if (!t->color) {
    TakeBackBuffer(g);
    if (!g->clipSetByHost) SetWholeClip(g);
  }
  if (!t->depth && t->depthFormat != 0) CreateDepth(g);
  return 1;
}
