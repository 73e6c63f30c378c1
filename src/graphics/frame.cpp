#include "graphics/frame.h"

#include <algorithm>
#include <cstring>

#include "d3dx/d3dx8.h"
#include "gd/device.h"
#include "gd/effects.h"
#include "graphics/state_cache.h"
#include "host/host.h"

namespace {

// Vertices per primitive of the list kinds; 0 for strips, fans and kinds
// that are never drawn.
UINT PrimitiveSize(INT kind) {
  switch (kind) {
    case DRAW_POINTS:
      return 1;
    case DRAW_LINES:
      return 2;
    case DRAW_TRIANGLES:
      return 3;
    case DRAW_QUADS:
      return 4;
    default:
      return 0;
  }
}

float FirstZ(const DrawItem* item) { return item->count ? item->vertices[0].z : 0.0f; }

// -1, 0 or 1 for a < b, equal, a > b.
template <typename T>
int Compare(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

// The state keys after texture, in sort order (clip left and top descending).
int CompareState(const DrawItem* a, const DrawItem* b) {
  if (int c = Compare(a->flags, b->flags)) return c;
  if (int c = Compare(b->clip[0], a->clip[0])) return c;
  if (int c = Compare(b->clip[1], a->clip[1])) return c;
  if (int c = Compare(a->clip[2], b->clip[2])) return c;
  if (int c = Compare(a->clip[3], b->clip[3])) return c;
  if (int c = Compare(static_cast<INT>(a->stencilFunc), static_cast<INT>(b->stencilFunc))) return c;
  if (int c = Compare(static_cast<INT>(a->stencilPass), static_cast<INT>(b->stencilPass))) return c;
  if (int c = Compare(static_cast<INT>(a->stencilRef), static_cast<INT>(b->stencilRef))) return c;
  if (int c = Compare(static_cast<UINT>(a->shaderId), static_cast<UINT>(b->shaderId))) return c;
  for (int i = 0; i < 4; ++i)
    if (int c = Compare(a->shaderParam[i], b->shaderParam[i])) return c;
  return Compare(a->kind, b->kind);
}

int CompareTexture(const DrawItem* a, const DrawItem* b) {
  return Compare(reinterpret_cast<UINT_PTR>(a->texture), reinterpret_cast<UINT_PTR>(b->texture));
}

bool OpaqueBefore(const DrawItem* a, const DrawItem* b) {
  if (int c = CompareTexture(a, b)) return c < 0;
  if (int c = CompareState(a, b)) return c < 0;
  return FirstZ(a) < FirstZ(b);
}

bool DepthBefore(const DrawItem* a, const DrawItem* b) {
  if (int c = Compare(FirstZ(b), FirstZ(a))) return c < 0;  // farthest first
  if (int c = CompareTexture(a, b)) return c < 0;
  return CompareState(a, b) < 0;
}

bool SameState(const DrawItem* a, const DrawItem* b) {
  return a->texture == b->texture && CompareState(a, b) == 0;
}

void SortItems(PBuffer* list, bool (*before)(const DrawItem*, const DrawItem*)) {
  auto** items = reinterpret_cast<DrawItem**>(list->entries);
  std::sort(items, items + list->count, before);
}

// Draws m vertices from the start of the vertex buffer as `kind`.
void DrawVertices(IDirect3DDevice8* d3d, INT kind, UINT m) {
  switch (kind) {
    case DRAW_POINTS:
      if (m >= 1) d3d->DrawPrimitive(D3DPT_POINTLIST, 0, m);
      break;
    case DRAW_LINES:
      if (m >= 2) d3d->DrawPrimitive(D3DPT_LINELIST, 0, m / 2);
      break;
    case DRAW_TRIANGLES:
      if (m >= 3) d3d->DrawPrimitive(D3DPT_TRIANGLELIST, 0, m / 3);
      break;
    case DRAW_QUADS:
      if (m >= 4) d3d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, m, 0, m / 2);
      break;
    case DRAW_FAN:
      if (m >= 3) d3d->DrawPrimitive(D3DPT_TRIANGLEFAN, 0, m - 2);
      break;
    case DRAW_LINESTRIP:
      if (m >= 2) d3d->DrawPrimitive(D3DPT_LINESTRIP, 0, m - 1);
      break;
    default:
      break;  // accepted, never drawn
  }
}

// Draws items[0..n) in runs of equal state.
void DrawRuns(Graphics* g, DrawItem** items, UINT n) {
  UINT start = 0;
  while (start < n) {
    UINT end = start + 1;
    while (end < n && SameState(items[start], items[end])) ++end;
    DrawItemRun(g, items + start, end - start);
    start = end;
  }
}

void SetStage0Filter(RenderStateCache* cache, DWORD filter) {
  SetTextureStageStateCached(cache, 0, D3DTSS_MAGFILTER, filter);
  SetTextureStageStateCached(cache, 0, D3DTSS_MINFILTER, filter);
}

}  // namespace

DrawItem* SubmitDrawItem(Graphics* g, INT kind, VekTexture* texture, BatchVertex* vertices,
                         UINT count, DWORD flags) {
  // A list kind longer than the vertex buffer is queued as several items cut
  // at primitive boundaries; a longer strip or fan cannot be drawn at all.
  const UINT primitive = PrimitiveSize(kind);
  UINT chunk = count;
  if (count > kBatchVertexCount) {
    if (primitive == 0) {
      VEK_SET_ERROR(kErrArgument, count, "SubmitDrawItem too many vertices", VEK_SRC_GRAPHICS);
      return nullptr;
    }
    chunk = kBatchVertexCount - kBatchVertexCount % primitive;
  }
  const RenderTarget* t = g->target;
  bool inside = true;
  for (UINT i = 0; i < count && inside; ++i) {
    const BatchVertex& v = vertices[i];
    inside = g->clip[0] <= v.x && v.x <= g->clip[2] && g->clip[1] <= v.y && v.y <= g->clip[3];
  }
  DrawItem* last = nullptr;
  UINT done = 0;
  do {
    auto* item = static_cast<DrawItem*>(MemMalloc(&g->frameMemory, sizeof(DrawItem)));
    if (!item) return nullptr;
    item->kind = kind;
    item->texture = texture;
    item->flags = flags;
    if (inside) {
      // Wholly inside: batch with unclipped items.
      item->clip[0] = 0.0f;
      item->clip[1] = 0.0f;
      item->clip[2] = static_cast<float>(t->width);
      item->clip[3] = static_cast<float>(t->height);
    } else {
      std::memcpy(item->clip, g->clip, sizeof(item->clip));
    }
    const bool stencil = g->stencilFunc != 0;
    item->stencilFunc = stencil ? g->stencilFunc : 0;
    item->stencilPass = stencil ? g->stencilPass : 0;
    item->stencilRef = stencil ? g->stencilRef : 0;
    item->shaderId = g->shaderId;
    std::memcpy(item->shaderParam, g->shaderParam, sizeof(item->shaderParam));
    item->vertices = vertices + done;
    item->count = std::min(chunk, count - done);
    item->groupStart = 0;
    PBufferAdd((flags & DRAW_OPAQUE) ? &g->opaqueItems : &g->translucentItems, item);
    done += item->count;
    last = item;
  } while (done < count);
  return last;
}

void RescaleTexCoords(Graphics* g, VekTexture* texture, float su, float sv) {
  for (PBuffer* list : {&g->opaqueItems, &g->translucentItems}) {
    for (DWORD i = 0; i < list->count; ++i) {
      auto* item = static_cast<DrawItem*>(list->entries[i]);
      if (item->texture != texture) continue;
      for (UINT k = 0; k < item->count; ++k) {
        if (su < 1.0f) item->vertices[k].u *= su;
        if (sv < 1.0f) item->vertices[k].v *= sv;
      }
    }
  }
}

void SetClipProjection(Graphics* g, float left, float top, float right, float bottom) {
  RenderStateCache* cache = &g->device->cache;
  g->viewport.X = static_cast<DWORD>(static_cast<LONG>(left));
  g->viewport.Y = static_cast<DWORD>(static_cast<LONG>(top));
  g->viewport.Width = static_cast<DWORD>(static_cast<LONG>(right - left));
  g->viewport.Height = static_cast<DWORD>(static_cast<LONG>(bottom - top));
  g->viewport.MinZ = 0.0f;
  g->viewport.MaxZ = 1.0f;
  SetViewportCached(cache, &g->viewport);
  // Mirror y, shift half a pixel up and left, map the clip onto the viewport.
  D3DXMATRIX s, t, o, st, projection;
  D3DXMatrixScaling(&s, 1.0f, -1.0f, 1.0f);
  D3DXMatrixTranslation(&t, -0.5f, 0.5f, 0.0f);
  D3DXMatrixOrthoOffCenterLH(&o, left, right, -bottom, -top, 0.0f, 1.0f);
  D3DXMatrixMultiply(&st, &s, &t);
  D3DXMatrixMultiply(&projection, &st, &o);
  g->projection = projection;
  SetTransformCached(cache, D3DTS_PROJECTION, &g->projection);
}

void ApplyFrameStates(Graphics* g) {
  GraphicsDevice* device = g->device;
  RenderStateCache* cache = &device->cache;
  g->shaderId = 0;
  g->stencilFunc = 0;
  SetVertexShaderCached(cache, kBatchVertexFormat);
  SetStreamSourceCached(cache, 0, device->vertexBuffer, kBatchVertexSize);
  SetIndicesCached(cache, device->indexBuffer, 0);
  SetRenderStateCached(cache, D3DRS_ALPHABLENDENABLE, TRUE);
  SetRenderStateCached(cache, D3DRS_ALPHATESTENABLE, TRUE);
  SetRenderStateCached(cache, D3DRS_ALPHAREF, 8);
  SetRenderStateCached(cache, D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
  SetRenderStateCached(cache, D3DRS_CULLMODE, D3DCULL_NONE);
  SetRenderStateCached(cache, D3DRS_LIGHTING, FALSE);
  SetTextureStageStateCached(cache, 0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  SetTextureStageStateCached(cache, 0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
  SetTextureStageStateCached(cache, 0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
  SetTextureStageStateCached(cache, 0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
  SetTextureStageStateCached(cache, 0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
  SetTextureStageStateCached(cache, 0, D3DTSS_MIPFILTER, D3DTEXF_POINT);
  SetTextureStageStateCached(cache, 0, D3DTSS_ADDRESSU, D3DTADDRESS_CLAMP);
  SetTextureStageStateCached(cache, 0, D3DTSS_ADDRESSV, D3DTADDRESS_CLAMP);
  SetRenderStateCached(cache, D3DRS_ZENABLE, D3DZB_TRUE);
  SetRenderStateCached(cache, D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  SetRenderStateCached(cache, D3DRS_STENCILZFAIL, D3DSTENCILOP_KEEP);
  SetRenderStateCached(cache, D3DRS_STENCILFAIL, D3DSTENCILOP_KEEP);
  SetClipProjection(g, 0.0f, 0.0f, static_cast<float>(g->target->width),
                    static_cast<float>(g->target->height));
}

void DrawItemRun(Graphics* g, DrawItem** items, UINT n) {
  GraphicsDevice* device = g->device;
  RenderStateCache* cache = &device->cache;
  const DrawItem* first = items[0];
  SetTextureCached(cache, 0, first->texture ? first->texture->tex : nullptr);
  SetStage0Filter(cache, (first->flags & DRAW_LINEAR) ? D3DTEXF_LINEAR : D3DTEXF_POINT);
  SetTextureStageStateCached(cache, 0, D3DTSS_COLOROP,
                             (first->flags & DRAW_ADDCOLOR) ? D3DTOP_ADD : D3DTOP_MODULATE);
  if (!g->isStencil)
    SetRenderStateCached(cache, D3DRS_DESTBLEND,
                         (first->flags & DRAW_ADDBLEND) ? D3DBLEND_ONE : D3DBLEND_INVSRCALPHA);
  SetRenderStateCached(cache, D3DRS_ZWRITEENABLE, (first->flags & DRAW_NOZWRITE) ? FALSE : TRUE);
  SetClipProjection(g, first->clip[0], first->clip[1], first->clip[2], first->clip[3]);
  if (first->stencilFunc != 0) {
    SetRenderStateCached(cache, D3DRS_STENCILENABLE, TRUE);
    SetRenderStateCached(cache, D3DRS_STENCILFUNC, first->stencilFunc);
    SetRenderStateCached(cache, D3DRS_STENCILPASS, first->stencilPass);
    SetRenderStateCached(cache, D3DRS_STENCILREF, first->stencilRef);
  } else {
    SetRenderStateCached(cache, D3DRS_STENCILENABLE, FALSE);
  }
  ApplyEffectShader(g, first->shaderId, first->shaderParam);

  IDirect3DVertexBuffer8* buffer = device->vertexBuffer;
  if (!buffer) return;  // the buffers could not be rebuilt after a reset
  IDirect3DDevice8* d3d = cache->device;
  // Strips and fans keep their own shapes: one call per item.
  const bool onePerItem = first->kind == DRAW_FAN || first->kind == DRAW_LINESTRIP;
  BYTE* data = nullptr;
  if (FAILED(buffer->Lock(0, 0, &data, 0))) return;
  UINT filled = 0;
  for (UINT i = 0; i < n; ++i) {
    const DrawItem* item = items[i];
    if (filled > 0 && (filled + item->count > kBatchVertexCount || onePerItem)) {
      buffer->Unlock();
      DrawVertices(d3d, first->kind, filled);
      filled = 0;
      if (FAILED(buffer->Lock(0, 0, &data, 0))) return;
    }
    std::memcpy(data + static_cast<size_t>(filled) * kBatchVertexSize, item->vertices,
                static_cast<size_t>(item->count) * kBatchVertexSize);
    filled += item->count;
  }
  buffer->Unlock();
  DrawVertices(d3d, first->kind, filled);
}

void FlushDrawItems(Graphics* g) {
  if (g->opaqueItems.count > 0) {
    SortItems(&g->opaqueItems, OpaqueBefore);
    auto** items = reinterpret_cast<DrawItem**>(g->opaqueItems.entries);
    const UINT n = g->opaqueItems.count;
    g->groupHeads.count = 0;
    SetPBufferCapcity(&g->groupHeads, n);
    // One head per texture group: its nearest item, which carries the group's start.
    for (UINT start = 0; start < n;) {
      UINT end = start + 1;
      while (end < n && items[end]->texture == items[start]->texture) ++end;
      DrawItem* head = items[start];
      for (UINT i = start + 1; i < end; ++i)
        if (FirstZ(items[i]) < FirstZ(head)) head = items[i];
      head->groupStart = static_cast<INT>(start);
      PBufferAdd(&g->groupHeads, head);
      start = end;
    }
    SortItems(&g->groupHeads, DepthBefore);
    // Nearest group first, so its depth writes hide what lies behind.
    for (DWORD h = g->groupHeads.count; h-- > 0;) {
      const UINT start = static_cast<UINT>(static_cast<DrawItem*>(g->groupHeads.entries[h])->groupStart);
      UINT end = start + 1;
      while (end < n && items[end]->texture == items[start]->texture) ++end;
      DrawRuns(g, items + start, end - start);
    }
    g->opaqueItems.count = 0;
    g->groupHeads.count = 0;
  }
  if (g->translucentItems.count > 0) {
    SortItems(&g->translucentItems, DepthBefore);
    DrawRuns(g, reinterpret_cast<DrawItem**>(g->translucentItems.entries),
             g->translucentItems.count);
    g->translucentItems.count = 0;
  }
  ResetMemBuffer(&g->frameMemory);
}

HRESULT BeginRender(Graphics* g) {
  if (!g) return 0;
  RenderTarget* t = g->target;
  // A surface released around a reset has nothing to render into yet.
  const HRESULT hr = t->color ? SetRenderTargetCached(&g->device->cache, t->color, t->depth)
                              : D3DERR_INVALIDCALL;
  if (FAILED(hr)) {
    VEK_SET_ERROR(kErrDirect3D, hr, "SetRenderTarget fail", VEK_SRC_GRAPHICS);
    return 0;
  }
  ApplyFrameStates(g);
  RenderStateCache* cache = &g->device->cache;
  if (g->isStencil) {
    SetRenderStateCached(cache, D3DRS_STENCILENABLE, TRUE);
    SetRenderStateCached(cache, D3DRS_ZENABLE, D3DZB_FALSE);
    SetRenderStateCached(cache, D3DRS_SRCBLEND, D3DBLEND_ZERO);
    SetRenderStateCached(cache, D3DRS_DESTBLEND, D3DBLEND_ONE);
  }
  return cache->device->BeginScene();
}

HRESULT ClearGraphics(Graphics* g, D3DCOLOR colour) {
  if (!g) return D3DERR_INVALIDCALL;
  const DWORD flags = g->isStencil ? D3DCLEAR_STENCIL : (D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER);
  return g->device->cache.device->Clear(0, nullptr, flags, colour, 1.0f, 0);
}

void SetClip(Graphics* g, float left, float top, float right, float bottom) {
  if (!g || !(right > left) || !(bottom > top)) return;
  left = std::max(left, 0.0f);
  top = std::max(top, 0.0f);
  right = std::min(right, static_cast<float>(g->target->width));
  bottom = std::min(bottom, static_cast<float>(g->target->height));
  // Clamping can empty a rectangle that lay outside the target: refuse it too.
  if (!(right > left) || !(bottom > top)) return;
  g->clip[0] = left;
  g->clip[1] = top;
  g->clip[2] = right;
  g->clip[3] = bottom;
  g->clipSetByHost = true;
}

Graphics* SetStencilParam(Graphics* g, DWORD func, DWORD pass, DWORD ref) {
  if (!g) return nullptr;
  g->stencilFunc = func;
  g->stencilPass = pass;
  g->stencilRef = ref;
  return g;
}

HRESULT EndRender(Graphics* g) {
  if (!g) return D3DERR_INVALIDCALL;
  FlushDrawItems(g);
  IDirect3DDevice8* d3d = g->device->cache.device;
  const HRESULT hr = d3d->EndScene();
  if (FAILED(hr)) return hr;
  RenderTarget* t = g->target;
  if (g->isStencil) {
    SetRenderStateCached(&g->device->cache, D3DRS_STENCILENABLE, FALSE);
    return 0;
  }
  if (t->texture.texture.format != 0) return 0;  // a texture surface is not presented
  if (t->present.hDeviceWindow) {
    return t->swapChain ? t->swapChain->Present(nullptr, nullptr, nullptr, nullptr)
                        : D3DERR_INVALIDCALL;
  }
  return d3d->Present(nullptr, nullptr, nullptr, nullptr);
}
