// The frame and its deferred draw list: primitives submit DrawItems into the
// Graphics' frame memory; VekEndRender sorts them, cuts them into runs of
// equal state, draws each run through the device's shared vertex buffer and
// presents.
#pragma once

#include <d3d8.h>
#include <vek/vek.h>

#include <cstdint>

#include "graphics/graphics.h"

enum DrawItemKind : INT {
  DRAW_POINTS = 1,
  DRAW_LINES = 2,
  DRAW_TRIANGLES = 11,
  DRAW_QUADS = 12,
  DRAW_FAN = 13,
  DRAW_LINESTRIP = 14,
};

struct BatchVertex {
  float x, y, z;
  DWORD diffuse;
  float u, v;
};
static_assert(sizeof(BatchVertex) == 24, "the batch vertex format is 24 bytes");

// What an item is drawn with besides its texture and kind: its flags and
// the surface's clip, stencil test and effect when it was queued. Items of
// equal texture, kind and state are drawn as one run.
struct ItemState {
  DWORD flags;
  float clip[4];      // left, top, right, bottom in target pixels
  DWORD stencilFunc;  // 0: no stencil test
  DWORD stencilPass;
  DWORD stencilRef;
  INT shaderId;
  float shaderParam[4];
};
static_assert(sizeof(ItemState) == 13 * 4, "no padding: equal bytes are equal state");

// An item is not changed once queued (but for its texture coordinates):
// queueing reads its sort keys.
struct DrawItem {
  INT kind;
  uint32_t depthKey;  // the first vertex's depth, ordered as an unsigned number
  VekTexture* texture;
  ItemState state;
  uint32_t stateHash;  // equal states hash equal
  BatchVertex* vertices;
  UINT count;
  INT groupStart;
};

// Queues `count` vertices (in frame memory) as one item, or several when a
// list kind exceeds the vertex buffer (split at primitive boundaries). Null
// when frame memory runs out or a strip or fan is too long to draw.
DrawItem* SubmitDrawItem(Graphics* graphics, INT kind, VekTexture* texture, BatchVertex* vertices,
                         UINT count, DWORD flags);
// The pieces of SubmitDrawItem for callers that queue many items at once:
// whether every vertex lies in the surface's clip; the surface's state for
// items inside the clip and for the others (flags left zero); and adding an
// item to the list its opaque flag chooses.
bool InsideClip(const Graphics* graphics, const BatchVertex* vertices, UINT count);
void CaptureItemStates(const Graphics* graphics, ItemState* inside, ItemState* outside);
// Sets an item's state to `from` with `flags`. Queueing reads the state back
// at once, in the widths this stores it in: a plain struct copy would make
// those reads wait for the copy's stores to reach the cache.
void WriteState(ItemState* to, const ItemState& from, DWORD flags);
void QueueItem(Graphics* graphics, DrawItem* item);
// The state hash QueueItem records, for callers queueing many items of one
// state, which may compute it once and pass it on.
uint32_t ItemStateHash(const DrawItem* item);
void QueueItem(Graphics* graphics, DrawItem* item, uint32_t stateHash);
// Keeps pending coordinates on the same texels after `texture` grew.
void RescaleTexCoords(Graphics* graphics, VekTexture* texture, float su, float sv);

void ApplyFrameStates(Graphics* graphics);
void SetClipProjection(Graphics* graphics, float left, float top, float right, float bottom);
void DrawItemRun(Graphics* graphics, DrawItem** items, UINT n);
void FlushDrawItems(Graphics* graphics);
// Sorts a pending list in opaque order (state, then z) or in depth order (z
// far to near, then state); items equal in every key keep their submission
// order. The flush sorts by precomputed keys in frame memory; with `useKeys`
// false, or when frame memory cannot hold them, it compares items instead.
void SortDrawList(Graphics* graphics, PBuffer* list, bool depthOrder, bool useKeys);

HRESULT BeginRender(Graphics* graphics);
HRESULT ClearGraphics(Graphics* graphics, D3DCOLOR colour);
void SetClip(Graphics* graphics, float left, float top, float right, float bottom);
Graphics* SetStencilParam(Graphics* graphics, DWORD func, DWORD pass, DWORD ref);
HRESULT EndRender(Graphics* graphics);
