#include "graphics/graphics.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "d3dx/d3dx8.h"
#include "gd/device.h"
#include "graphics/frame.h"
#include "graphics/graphics_diagnostics.h"
#include "host/com.h"
#include "host/host.h"

namespace {

// Every open Graphics of every kind, so that a handle can be told open from
// released, and released textures and devices can reach the surfaces that
// still refer to them.
PBuffer openGraphics;

bool IsOpenGraphics(const Graphics* g) {
  for (DWORD i = 0; i < openGraphics.count; ++i)
    if (openGraphics.entries[i] == g) return true;
  return false;
}

void Unregister(Graphics* g) {
  PBufferRemoveAtPointer(&openGraphics, g);
  if (openGraphics.count == 0) ReleasePBuffer(&openGraphics);  // no block outlives the last one
}

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
  if (!device->closeCallback) device->closeCallback = CloseDeviceGraphics;
  auto* g = static_cast<Graphics*>(Malloc(sizeof(Graphics)));
  if (!g) {
    GraphicsError(GraphicsErr::kMallocGraphics, static_cast<LONG>(sizeof(Graphics)));
    return nullptr;
  }
  std::memset(static_cast<void*>(g), 0, sizeof(Graphics));
  g->target = static_cast<RenderTarget*>(Malloc(sizeof(RenderTarget)));
  if (!g->target) {
    FreeGraphicsRecord(g);
    GraphicsError(GraphicsErr::kMallocTarget, static_cast<LONG>(sizeof(Graphics)));
    if (childWindow) GraphicsPrint(GraphicsLine::kChildMallocTarget);
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

// Releases what a Graphics holds and the record itself; the partly built
// ones of a failed open too.
void DestroyGraphics(Graphics* g) {
  if (g->isStencil) {
    FreeGraphicsRecord(g);
    return;
  }
  RenderTarget* t = g->target;
  ForgetTexture(&t->texture);
  ReleaseInterface(t->depth);
  ReleaseInterface(t->color);
  if (t->texture.tex) ReleaseTexture(&t->texture);
  FreePixelCache(&t->texture);  // when the host emitted particles from it
  ReleaseInterface(t->swapChain);
  if (g->device) PBufferRemoveAtPointer(&g->device->graphicsList, g);
  Free(t);
  FreeGraphicsRecord(g);
}

// Depth surface and list entry, the common end of the owning kinds.
Graphics* FinishGraphics(Graphics* g, bool childWindow) {
  const HRESULT hr = CreateDepth(g);
  if (FAILED(hr)) {
    g->target->depth = nullptr;
    DestroyGraphics(g);
    GraphicsError(GraphicsErr::kDepth, hr);
    if (childWindow) GraphicsPrint(GraphicsLine::kChildDepth);
    return nullptr;
  }
  SetWholeClip(g);
  PBufferAdd(&g->device->graphicsList, g);
  PBufferAdd(&openGraphics, g);
  return g;
}

// The device's back buffer, whatever render target a frame left set.
HRESULT TakeBackBuffer(Graphics* g) {
  GraphicsDevice* device = g->device;
  const HRESULT hr =
      device->cache.device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &g->target->color);
  if (FAILED(hr)) g->target->color = nullptr;
  g->target->width = device->present.BackBufferWidth;
  g->target->height = device->present.BackBufferHeight;
  return hr;
}

Graphics* RefuseNullDevice() {
  GraphicsError(GraphicsErr::kNoDevice, 0);
  return nullptr;
}

// A frame left open by a surface that is going away is ended, so that the
// device can begin the next one.
void EndOpenFrame(Graphics* g) {
  GraphicsDevice* device = g->device;
  if (!device || device->frameOwner != g) return;
  device->cache.device->EndScene();
  device->frameOwner = nullptr;
}

}  // namespace

Graphics* OpenWindowGraphics(GraphicsDevice* device) {
  if (!device) return RefuseNullDevice();
  Graphics* g = AllocateGraphics(device, false);
  if (!g) return nullptr;
  g->device = device;
  TakeBackBuffer(g);
  return FinishGraphics(g, false);
}

Graphics* OpenTextureGraphics(GraphicsDevice* device, UINT width, UINT height, D3DFORMAT format) {
  if (!device) return RefuseNullDevice();
  Graphics* g = AllocateGraphics(device, false);
  if (!g) return nullptr;
  g->device = device;
  RenderTarget* t = g->target;
  if (CreateRenderTargetTexture(&t->texture, device->cache.device, width, height, format) < 0) {
    DestroyGraphics(g);
    return nullptr;
  }
  const HRESULT level = t->texture.tex->GetSurfaceLevel(0, &t->color);
  if (FAILED(level)) {
    t->color = nullptr;
    DestroyGraphics(g);
    GraphicsError(GraphicsErr::kSurfaceLevel, level);
    return nullptr;
  }
  t->width = width;
  t->height = height;
  return FinishGraphics(g, false);
}

Graphics* OpenChildWindowGraphics(GraphicsDevice* device, HWND window, UINT width, UINT height,
                                  INT bits) {
  if (!device) return RefuseNullDevice();
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
    DestroyGraphics(g);
    GraphicsError(GraphicsErr::kSwapChain, hr);
    GraphicsPrint(GraphicsLine::kChildSwapChain);
    return nullptr;
  }
  const HRESULT back = t->swapChain->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &t->color);
  if (FAILED(back)) {
    t->color = nullptr;
    DestroyGraphics(g);
    GraphicsError(GraphicsErr::kBackBuffer, back);
    return nullptr;
  }
  t->width = width;
  t->height = height;
  g->device = device;
  return FinishGraphics(g, true);
}

Graphics* OpenStencilGraphics(Graphics* parent) {
  if (!parent || !IsOpenGraphics(parent) || parent->isStencil) {
    GraphicsError(GraphicsErr::kStencilParent, 0);
    return nullptr;
  }
  auto* g = static_cast<Graphics*>(Malloc(sizeof(Graphics)));
  if (!g) {
    GraphicsError(GraphicsErr::kMallocStencil, static_cast<LONG>(sizeof(Graphics)));
    return nullptr;
  }
  std::memset(static_cast<void*>(g), 0, sizeof(Graphics));
  g->device = parent->device;
  g->isStencil = 1;
  g->target = parent->target;
  SetWholeClip(g);
  PBufferAdd(&openGraphics, g);
  return g;
}

INT CloseGraphics(Graphics* g) {
  if (!g || !IsOpenGraphics(g)) {
    GraphicsError(GraphicsErr::kCloseNotOpen, 0);
    return 0;
  }
  EndOpenFrame(g);
  if (!g->isStencil) {
    // Stencil surfaces over this one share its target: they go with it.
    for (DWORD i = openGraphics.count; i-- > 0;) {
      auto* other = static_cast<Graphics*>(openGraphics.entries[i]);
      if (other->isStencil && other->target == g->target) CloseGraphics(other);
    }
  }
  Unregister(g);
  DestroyGraphics(g);
  return 1;
}

void CloseDeviceGraphics(GraphicsDevice* device) {
  // Backwards, so that entries still to visit keep their places; a close can
  // take several (a parent's stencil surfaces), hence the bound check.
  for (DWORD i = openGraphics.count; i-- > 0;) {
    if (i >= openGraphics.count) continue;
    auto* g = static_cast<Graphics*>(openGraphics.entries[i]);
    if (g->device == device) CloseGraphics(g);
  }
}

void ForgetTexture(VekTexture* texture) {
  for (DWORD i = 0; i < openGraphics.count; ++i) {
    auto* g = static_cast<Graphics*>(openGraphics.entries[i]);
    for (PBuffer* list : {&g->opaqueItems, &g->translucentItems}) {
      DWORD kept = 0;
      for (DWORD k = 0; k < list->count; ++k) {
        auto* item = static_cast<DrawItem*>(list->entries[k]);
        if (item->texture != texture) list->entries[kept++] = item;
      }
      list->count = kept;
    }
  }
}

void RescaleTexCoordsEverywhere(VekTexture* texture, float su, float sv) {
  for (DWORD i = 0; i < openGraphics.count; ++i)
    RescaleTexCoords(static_cast<Graphics*>(openGraphics.entries[i]), texture, su, sv);
}

VekTexture* GetGraphicsTexture(Graphics* g) { return g ? &g->target->texture : nullptr; }

HRESULT SaveGraphics(Graphics* g, const WCHAR* path, DWORD fileFormat) {
  if (!g) {
    GraphicsError(GraphicsErr::kSaveNull, 0);
    return -1;
  }
  if (!g->target->color) {
    GraphicsError(GraphicsErr::kSaveNoSurface, 0);
    return -2;
  }
  const HRESULT hr = D3DXSaveSurfaceToFileW(path, static_cast<D3DXIMAGE_FILEFORMAT>(fileFormat),
                                            g->target->color, nullptr, nullptr);
  if (FAILED(hr)) GraphicsError(GraphicsErr::kSaveSurface, hr);
  return hr;
}

LONG GraphicsResetHandler(Graphics* g, bool release) {
  RenderTarget* t = g->target;
  IDirect3DDevice8* d3d = g->device->cache.device;
  if (release) {
    ReleaseInterface(t->depth);
    ReleaseInterface(t->color);
    ReleaseInterface(t->swapChain);
    ReleaseInterface(t->texture.tex);  // the record keeps its format and size
    return 1;
  }
  // Only what is missing is made, so that a rebuild cut short by a failure
  // can be run again.
  VekTexture* texture = &t->texture;
  HRESULT hr = D3D_OK;
  if (texture->format != 0) {  // texture kind: the record keeps its format
    if (!texture->tex) {
      const INT created =
          CreateRenderTargetTexture(texture, d3d, t->width, t->height, texture->format);
      if (created < 0) return created;
    }
    if (!t->color) hr = texture->tex->GetSurfaceLevel(0, &t->color);
  } else if (t->present.hDeviceWindow) {  // child-window kind
    if (!t->swapChain) {
      hr = d3d->CreateAdditionalSwapChain(&t->present, &t->swapChain);
      if (FAILED(hr)) t->swapChain = nullptr;
    }
    if (SUCCEEDED(hr) && !t->color)
      hr = t->swapChain->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &t->color);
  } else if (!t->color) {
    hr = TakeBackBuffer(g);
    if (!g->clipSetByHost) SetWholeClip(g);
  }
  if (FAILED(hr)) {
    t->color = nullptr;
    return hr;
  }
  if (!t->depth && t->depthFormat != 0) {
    hr = CreateDepth(g);
    if (FAILED(hr)) {
      t->depth = nullptr;
      return hr;
    }
  }
  return 1;
}
