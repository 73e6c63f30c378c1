// The frame: items queued by the primitives, sorted and drawn in runs.
//
//   ordering        OrderedBits, StateKeys (how ItemState is read; StateHash
//                   reads it in lanes with the same equalities),
//                   CompareState / SameState / StateHash, the three orders
//   sorting         SortSpace in frame memory, RankStates (distinct states
//                   numbered in order), RadixSort over (rank, z) keys
//   drawing         RunBatcher: runs packed into one vertex-buffer lock,
//                   each run's state applied through the state cache, one
//                   indexed draw per run (one per item for strips and fans)
//   queueing        SubmitDrawItem (the surface's state captured once, long
//                   lists cut at primitive boundaries), QueueItem (each
//                   item's depth key and state hash taken while it is in
//                   the cache), RescaleTexCoords
//   frame exports   BeginRender, ClearGraphics, SetClip, SetStencilParam,
//                   EndRender (flush, then present for window kinds)
#include "graphics/frame.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "d3dx/d3dx8.h"
#include "gd/device.h"
#include "gd/effects.h"
#include "gd/state_cache.h"
#include "graphics/effect_selection.h"
#include "graphics/graphics_diagnostics.h"
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

// Bits of a float whose unsigned order is its numeric order. -0 folds onto +0
// and every NaN onto one value above +infinity, so the order is total and a
// NaN from the host cannot break a sort.
uint32_t OrderedBits(float f) {
  uint32_t b;
  std::memcpy(&b, &f, sizeof b);
  if (f == 0.0f)
    b = 0;
  else if (f != f)
    b = 0x7FC00000u;
  return (b & 0x80000000u) ? ~b : (b | 0x80000000u);
}

uint32_t ZBits(const DrawItem* item) { return OrderedBits(FirstZ(item)); }

// -1, 0 or 1 for a < b, equal, a > b.
template <typename T>
int Compare(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

// The keys of a state: comparing them in turn as unsigned numbers orders
// states (flags; clip left and top descending, right and bottom ascending;
// the stencil values as signed numbers; shader id; shader parameters), and
// equal keys are equal states (-0 equals +0, NaNs equal each other).
// Ordering, equality and hashing all read state through it.
constexpr int kStateKeys = 13;
inline __attribute__((always_inline)) void StateKeys(const ItemState& s, uint32_t k[kStateKeys]) {
  k[0] = s.flags;
  k[1] = ~OrderedBits(s.clip[0]);
  k[2] = ~OrderedBits(s.clip[1]);
  k[3] = OrderedBits(s.clip[2]);
  k[4] = OrderedBits(s.clip[3]);
  k[5] = s.stencilFunc ^ 0x80000000u;
  k[6] = s.stencilPass ^ 0x80000000u;
  k[7] = s.stencilRef ^ 0x80000000u;
  k[8] = static_cast<uint32_t>(s.shaderId);
  for (int i = 0; i < 4; ++i) k[9 + i] = OrderedBits(s.shaderParam[i]);
}

// The state keys after texture, then the kind.
int CompareState(const DrawItem* a, const DrawItem* b) {
  uint32_t ka[kStateKeys], kb[kStateKeys];
  StateKeys(a->state, ka);
  StateKeys(b->state, kb);
  for (int i = 0; i < kStateKeys; ++i)
    if (int c = Compare(ka[i], kb[i])) return c;
  return Compare(a->kind, b->kind);
}

int CompareTexture(const DrawItem* a, const DrawItem* b) {
  return Compare(reinterpret_cast<UINT_PTR>(a->texture), reinterpret_cast<UINT_PTR>(b->texture));
}

bool StateBefore(const DrawItem* a, const DrawItem* b) {
  if (int c = CompareTexture(a, b)) return c < 0;
  return CompareState(a, b) < 0;
}

bool OpaqueBefore(const DrawItem* a, const DrawItem* b) {
  if (int c = CompareTexture(a, b)) return c < 0;
  if (int c = CompareState(a, b)) return c < 0;
  return a->depthKey < b->depthKey;
}

bool DepthBefore(const DrawItem* a, const DrawItem* b) {
  if (int c = Compare(b->depthKey, a->depthKey)) return c < 0;  // farthest first
  return StateBefore(a, b);
}

// Equal bits, read in the widths WriteState and CaptureState store them in
// (a fresh item is compared at once; wider reads would wait on its stores).
bool SameBits(const ItemState& a, const ItemState& b) {
  const __m128i floats =
      _mm_and_si128(_mm_cmpeq_epi32(_mm_castps_si128(_mm_loadu_ps(a.clip)),
                                    _mm_castps_si128(_mm_loadu_ps(b.clip))),
                    _mm_cmpeq_epi32(_mm_castps_si128(_mm_loadu_ps(a.shaderParam)),
                                    _mm_castps_si128(_mm_loadu_ps(b.shaderParam))));
  return _mm_movemask_epi8(floats) == 0xFFFF && a.flags == b.flags &&
         a.stencilFunc == b.stencilFunc && a.stencilPass == b.stencilPass &&
         a.stencilRef == b.stencilRef && a.shaderId == b.shaderId;
}

inline __attribute__((always_inline)) bool SameState(const DrawItem* a, const DrawItem* b) {
  if (a->texture != b->texture || a->kind != b->kind) return false;
  if (SameBits(a->state, b->state)) return true;  // the usual case
  uint32_t ka[kStateKeys], kb[kStateKeys];
  StateKeys(a->state, ka);
  StateKeys(b->state, kb);
  return std::memcmp(ka, kb, sizeof ka) == 0;
}

// Four floats' bits with -0 folded onto +0 and every NaN onto one pattern,
// so floats equal as state keys give equal bits.
__m128i CanonicalFloats(const float* f) {
  const __m128 v = _mm_loadu_ps(f);
  const __m128 nan = _mm_cmpunord_ps(v, v);
  const __m128 bits = _mm_andnot_ps(_mm_cmpeq_ps(v, _mm_setzero_ps()), v);
  return _mm_castps_si128(_mm_or_ps(_mm_andnot_ps(nan, bits),
                                    _mm_and_ps(nan, _mm_castsi128_ps(_mm_set1_epi32(0x7FC00000)))));
}

// Equal states (as SameState sees them) hash equal. The fields are summed in
// lanes and mixed by two pairs of 32-bit multiplies in lanes: this runs for
// every queued item.
uint32_t StateHash(const DrawItem* item) {
  const ItemState& s = item->state;
  const uint64_t texture = reinterpret_cast<UINT_PTR>(item->texture);
  const __m128i words =
      _mm_setr_epi32(static_cast<int>(s.flags), static_cast<int>(s.stencilFunc),
                     static_cast<int>(s.stencilPass ^ static_cast<DWORD>(texture)),
                     static_cast<int>(s.stencilRef ^ static_cast<DWORD>(texture >> 32)));
  const __m128i more = _mm_setr_epi32(s.shaderId, item->kind, 0, 0);
  // Each field lands in its own lane or, rotated, beside different ones.
  const __m128i clip = CanonicalFloats(s.clip);
  const __m128i params = _mm_shuffle_epi32(CanonicalFloats(s.shaderParam), _MM_SHUFFLE(0, 3, 2, 1));
  const __m128i sum = _mm_add_epi32(
      _mm_xor_si128(clip, _mm_slli_epi32(params, 7)),
      _mm_xor_si128(words, _mm_slli_epi32(_mm_shuffle_epi32(more, _MM_SHUFFLE(1, 0, 3, 2)), 13)));
  // 64-bit products of each lane and an odd constant; their high halves mix
  // every bit of the lanes.
  const __m128i even = _mm_mul_epu32(
      sum, _mm_setr_epi32(static_cast<int>(0x9E3779B1u), 0, static_cast<int>(0x85EBCA77u), 0));
  const __m128i odd = _mm_mul_epu32(
      _mm_srli_epi64(sum, 32),
      _mm_setr_epi32(static_cast<int>(0xC2B2AE3Du), 0, static_cast<int>(0x27D4EB2Fu), 0));
  __m128i m = _mm_xor_si128(even, odd);
  m = _mm_xor_si128(m, _mm_unpackhi_epi64(m, m));
  const uint32_t high = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_epi64(m, 32)));
  const uint32_t low = static_cast<uint32_t>(_mm_cvtsi128_si32(m));
  return high ^ (low >> 7);
}

// Work space of one flush's sorts, taken from frame memory so that a steady
// frame allocates nothing; sized for the longer of the two lists.
struct SortEntry {
  uint64_t key;
  DrawItem* item;
};

struct SortSpace {
  UINT capacity = 0;
  UINT tableSize = 0;         // a power of two, at least twice the capacity
  uint32_t* table = nullptr;  // per slot: index + 1 of the item holding that state, 0 = free
  uint32_t* slotRank = nullptr;
  uint32_t* distinct = nullptr;  // occupied slots
  uint32_t* ranks = nullptr;     // per item: its slot, then its state's rank
  SortEntry* entries = nullptr;
  SortEntry* spare = nullptr;
  const SortEntry* sorted = nullptr;  // the last keyed sort's keys, in sorted order
};

bool TakeSortSpace(Graphics* g, UINT n, SortSpace* space) {
  // Each array must be addressable by MemMalloc's 32-bit size.
  if (n > (1u << 24)) return false;
  UINT size = 16;
  while (size < 2 * n) size *= 2;
  space->table = static_cast<uint32_t*>(MemMalloc(&g->frameMemory, size * 4));
  space->slotRank = static_cast<uint32_t*>(MemMalloc(&g->frameMemory, size * 4));
  space->distinct = static_cast<uint32_t*>(MemMalloc(&g->frameMemory, n * 4));
  space->ranks = static_cast<uint32_t*>(MemMalloc(&g->frameMemory, n * 4));
  space->entries = static_cast<SortEntry*>(MemMalloc(&g->frameMemory, n * sizeof(SortEntry)));
  space->spare = static_cast<SortEntry*>(MemMalloc(&g->frameMemory, n * sizeof(SortEntry)));
  if (!space->table || !space->slotRank || !space->distinct || !space->ranks || !space->entries ||
      !space->spare)
    return false;
  space->capacity = n;
  space->tableSize = size;
  return true;
}

// Numbers the distinct states of items[0..n) in state order (texture, then the
// other keys) into space->ranks: equal numbers are equal states and comparing
// numbers compares states, so the sort key needs no pointer chasing. Leaves
// each item and its depth bits in space->entries.
void RankStates(DrawItem** items, UINT n, SortSpace* s) {
  std::memset(s->table, 0, static_cast<size_t>(s->tableSize) * 4);
  const uint32_t mask = s->tableSize - 1;
  UINT distinct = 0;
  for (UINT i = 0; i < n; ++i) {
    s->entries[i] = {items[i]->depthKey, items[i]};
    if (i > 0 && items[i]->stateHash == items[i - 1]->stateHash &&
        SameState(items[i], items[i - 1])) {
      s->ranks[i] = s->ranks[i - 1];  // consecutive submissions often share their state
      continue;
    }
    uint32_t slot = items[i]->stateHash & mask;
    while (s->table[slot] != 0 && !SameState(items[s->table[slot] - 1], items[i]))
      slot = (slot + 1) & mask;
    if (s->table[slot] == 0) {
      s->table[slot] = i + 1;
      s->distinct[distinct++] = slot;
    }
    s->ranks[i] = slot;
  }
  std::sort(s->distinct, s->distinct + distinct, [&](uint32_t a, uint32_t b) {
    return StateBefore(items[s->table[a] - 1], items[s->table[b] - 1]);
  });
  for (UINT r = 0; r < distinct; ++r) s->slotRank[s->distinct[r]] = r;
  for (UINT i = 0; i < n; ++i) s->ranks[i] = s->slotRank[s->ranks[i]];
}

// Stable least-significant-digit radix sort by key, eleven bits a pass. Each
// digit starts at the lowest key bit above the last digit in which some keys
// differ, so bits every key shares cost nothing: a (state rank, depth) key
// takes four passes. Returns whichever array holds the result.
SortEntry* RadixSort(SortEntry* a, SortEntry* spare, UINT n) {
  constexpr int kBits = 11;
  constexpr uint32_t kMask = (1u << kBits) - 1;
  uint64_t any = 0, all = ~uint64_t{0};
  for (UINT i = 0; i < n; ++i) any |= a[i].key, all &= a[i].key;
  const uint64_t differ = any ^ all;
  unsigned shifts[64 / kBits + 1];
  int digitCount = 0;
  for (unsigned bit = 0; bit < 64;) {
    if (!((differ >> bit) & 1)) {
      ++bit;
      continue;
    }
    shifts[digitCount++] = bit;
    bit += kBits;
  }
  static_assert(sizeof(UINT) == 4, "the counts are 32-bit");
  UINT counts[64 / kBits + 1][kMask + 1];
  std::memset(counts, 0, sizeof(counts[0]) * static_cast<size_t>(digitCount));
  for (UINT i = 0; i < n; ++i) {
    const uint64_t k = a[i].key;
    for (int j = 0; j < digitCount; ++j) ++counts[j][(k >> shifts[j]) & kMask];
  }
  for (int j = 0; j < digitCount; ++j) {
    const unsigned shift = shifts[j];
    UINT(&count)[kMask + 1] = counts[j];
    UINT offset = 0;
    for (UINT& c : count) {
      const UINT here = c;
      c = offset;
      offset += here;
    }
    for (UINT i = 0; i < n; ++i) spare[count[(a[i].key >> shift) & kMask]++] = a[i];
    std::swap(a, spare);
  }
  return a;
}

// Sorts a list in opaque order (state, then z) or depth order (z far to near,
// then state). Items equal in every key keep their submission order, so a
// frame always draws the same way. With work space, the state ranks of the
// sorted items are left in space->ranks; without (frame memory ran out), the
// list is sorted by comparing items and the function returns false.
bool SortItems(PBuffer* list, bool depthOrder, SortSpace* space) {
  auto** items = reinterpret_cast<DrawItem**>(list->entries);
  const UINT n = list->count;
  if (n == 0) return true;  // (and no work space to read)
  if (space->capacity < n) {
    std::stable_sort(items, items + n, depthOrder ? DepthBefore : OpaqueBefore);
    return false;
  }
  RankStates(items, n, space);
  SortEntry* e = space->entries;
  for (UINT i = 0; i < n; ++i) {
    const uint64_t z = e[i].key, rank = space->ranks[i];
    e[i].key = depthOrder ? (static_cast<uint64_t>(~static_cast<uint32_t>(z)) << 32 | rank)
                          : (rank << 32 | z);
  }
  e = RadixSort(e, space->spare, n);
  space->sorted = e;
  for (UINT i = 0; i < n; ++i) {
    items[i] = e[i].item;
    space->ranks[i] = static_cast<uint32_t>(depthOrder ? e[i].key : e[i].key >> 32);
  }
  return true;
}

// Draws m vertices starting at vertex `start` of the vertex buffer as `kind`.
// Quads start on a multiple of four, where the quad index pattern begins.
void DrawVertices(IDirect3DDevice8* d3d, INT kind, UINT start, UINT m) {
  switch (kind) {
    case DRAW_POINTS:
      if (m >= 1) d3d->DrawPrimitive(D3DPT_POINTLIST, start, m);
      break;
    case DRAW_LINES:
      if (m >= 2) d3d->DrawPrimitive(D3DPT_LINELIST, start, m / 2);
      break;
    case DRAW_TRIANGLES:
      if (m >= 3) d3d->DrawPrimitive(D3DPT_TRIANGLELIST, start, m / 3);
      break;
    case DRAW_QUADS:
      if (m >= 4) d3d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, start, m, start / 4 * 6, m / 2);
      break;
    case DRAW_FAN:
      if (m >= 3) d3d->DrawPrimitive(D3DPT_TRIANGLEFAN, start, m - 2);
      break;
    case DRAW_LINESTRIP:
      if (m >= 2) d3d->DrawPrimitive(D3DPT_LINESTRIP, start, m - 1);
      break;
    default:
      break;  // accepted, never drawn
  }
}

void SetStage0Filter(RenderStateCache* cache, DWORD filter) {
  SetTextureStageStateCached(cache, 0, D3DTSS_MAGFILTER, filter);
  SetTextureStageStateCached(cache, 0, D3DTSS_MINFILTER, filter);
}

// An item longer than the vertex buffer cannot be drawn through it (submission
// splits or refuses those; this guards items built by hand).
bool Drawable(const DrawItem* item) { return item->count <= kBatchVertexCount; }

// Strips and fans keep their own shapes: one call per item.
bool OnePerItem(INT kind) { return kind == DRAW_FAN || kind == DRAW_LINESTRIP; }

// Draws runs of equal state through the device's vertex buffer. The vertices
// of consecutive runs are copied under one lock (discarding the buffer's
// contents when it wraps, appending without overwriting otherwise), then each
// run sets its state and draws from its own offset: a run costs its state
// changes and its draw calls, not a lock of its own. A run never straddles a
// wrap unless it is longer than the buffer, and then it is cut at the same
// item boundaries as a lone run would be.
class RunBatcher {
 public:
  explicit RunBatcher(Graphics* g) : g_(g), buffer_(g->device->vertexBuffer) {}
  RunBatcher(const RunBatcher&) = delete;
  RunBatcher& operator=(const RunBatcher&) = delete;
  ~RunBatcher() { Finish(); }

  void Add(DrawItem** items, UINT n);
  // Draws whatever is pending and gives the buffer back.
  void Finish() { DrawPending(); }

 private:
  struct Segment {
    DrawItem** items;
    UINT n;
    UINT start;      // first vertex in the buffer
    UINT vertices;   // copied vertices
    bool setsState;  // the first segment of its run
  };
  static constexpr UINT kMaxSegments = 256;

  bool Lock();
  void DrawPending();
  void ApplyRunState(const DrawItem* first);

  Graphics* g_;
  IDirect3DVertexBuffer8* buffer_;
  BYTE* data_ = nullptr;
  UINT used_ = 0;  // vertices written since the buffer was last discarded
  bool discarded_ = false;
  Segment segments_[kMaxSegments];
  UINT pending_ = 0;
  // Viewports and projections of the clips met in this flush, so that runs
  // alternating between a few clips do not build the same matrices again.
  struct ClipProjection {
    float clip[4];
    D3DVIEWPORT8 viewport;
    D3DMATRIX projection;
  };
  static constexpr UINT kKeptClips = 4;
  ClipProjection clips_[kKeptClips];
  UINT keptClips_ = 0;
  UINT lastClip_ = kKeptClips;  // none yet
  void ApplyClip(const float clip[4]);
};

// What SetClipProjection does, with the result of an earlier identical clip
// reused (compared bit for bit, so the matrices would come out the same).
void RunBatcher::ApplyClip(const float clip[4]) {
  if (lastClip_ < kKeptClips && std::memcmp(clips_[lastClip_].clip, clip, sizeof(float) * 4) == 0)
    return;  // the cache and the Graphics already hold them
  for (UINT i = 0; i < keptClips_ && i < kKeptClips; ++i) {
    if (std::memcmp(clips_[i].clip, clip, sizeof(float) * 4) != 0) continue;
    RenderStateCache* cache = &g_->device->cache;
    g_->viewport = clips_[i].viewport;
    SetViewportCached(cache, &g_->viewport);
    g_->projection = clips_[i].projection;
    SetTransformCached(cache, D3DTS_PROJECTION, &g_->projection);
    lastClip_ = i;
    return;
  }
  SetClipProjection(g_, clip[0], clip[1], clip[2], clip[3]);
  lastClip_ = keptClips_++ % kKeptClips;
  ClipProjection& kept = clips_[lastClip_];
  std::memcpy(kept.clip, clip, sizeof(kept.clip));
  kept.viewport = g_->viewport;
  kept.projection = g_->projection;
}

bool RunBatcher::Lock() {
  if (data_) return true;
  // The first lock of a flush, and every wrap, starts a fresh buffer.
  if (used_ == 0) discarded_ = false;
  const DWORD flags = discarded_ ? D3DLOCK_NOOVERWRITE : D3DLOCK_DISCARD;
  BYTE* data = nullptr;
  if (FAILED(buffer_->Lock(0, 0, &data, flags)) || !data) return false;
  data_ = data;
  discarded_ = true;
  return true;
}

void RunBatcher::Add(DrawItem** items, UINT n) {
  if (n == 0) return;
  if (!buffer_) {
    ApplyRunState(items[0]);  // the buffers could not be rebuilt after a reset
    return;
  }
  const INT kind = items[0]->kind;
  UINT total = 0;
  for (UINT i = 0; i < n; ++i)
    if (Drawable(items[i])) total += items[i]->count;
  const UINT align = kind == DRAW_QUADS ? 4 : 1;
  UINT start = (used_ + align - 1) / align * align;
  if (pending_ == kMaxSegments || (start + total > kBatchVertexCount && start > 0)) {
    DrawPending();
    if (start + total > kBatchVertexCount) used_ = 0;
    start = (used_ + align - 1) / align * align;
  }
  if (!Lock()) {
    ApplyRunState(items[0]);  // as for a lone run: its state is set, nothing drawn
    return;
  }
  Segment seg{items, 0, start, 0, true};
  for (UINT i = 0; i < n; ++i) {
    const DrawItem* item = items[i];
    if (Drawable(item) && seg.vertices > 0 &&
        start + seg.vertices + item->count > kBatchVertexCount) {
      // Longer than the buffer: draw what is filled and go on from its start.
      segments_[pending_++] = seg;
      DrawPending();
      used_ = 0;
      start = 0;
      seg = Segment{items + i, 0, 0, 0, false};
      if (!Lock()) return;
    }
    if (Drawable(item)) {
      BYTE* to = data_ + static_cast<size_t>(start + seg.vertices) * kBatchVertexSize;
      if (item->count == 4)  // a quad: a fixed-size copy, inline
        std::memcpy(to, item->vertices, 4 * kBatchVertexSize);
      else
        std::memcpy(to, item->vertices, static_cast<size_t>(item->count) * kBatchVertexSize);
      seg.vertices += item->count;
    }
    ++seg.n;
  }
  segments_[pending_++] = seg;
  used_ = start + seg.vertices;
}

void RunBatcher::DrawPending() {
  if (data_) {
    buffer_->Unlock();
    data_ = nullptr;
  }
  IDirect3DDevice8* d3d = g_->device->cache.device;
  for (UINT s = 0; s < pending_; ++s) {
    const Segment& seg = segments_[s];
    const INT kind = seg.items[0]->kind;
    if (seg.setsState) ApplyRunState(seg.items[0]);
    if (!OnePerItem(kind)) {
      DrawVertices(d3d, kind, seg.start, seg.vertices);
      continue;
    }
    UINT at = seg.start;
    for (UINT i = 0; i < seg.n; ++i) {
      const DrawItem* item = seg.items[i];
      if (!Drawable(item)) continue;
      DrawVertices(d3d, kind, at, item->count);
      at += item->count;
    }
  }
  pending_ = 0;
}

void RunBatcher::ApplyRunState(const DrawItem* first) {
  RenderStateCache* cache = &g_->device->cache;
  const ItemState& st = first->state;
  SetTextureCached(cache, 0, first->texture ? first->texture->tex : nullptr);
  SetStage0Filter(cache, (st.flags & DRAW_LINEAR) ? D3DTEXF_LINEAR : D3DTEXF_POINT);
  SetTextureStageStateCached(cache, 0, D3DTSS_COLOROP,
                             (st.flags & DRAW_ADDCOLOR) ? D3DTOP_ADD : D3DTOP_MODULATE);
  if (!g_->isStencil)
    SetRenderStateCached(cache, D3DRS_DESTBLEND,
                         (st.flags & DRAW_ADDBLEND) ? D3DBLEND_ONE : D3DBLEND_INVSRCALPHA);
  SetRenderStateCached(cache, D3DRS_ZWRITEENABLE, (st.flags & DRAW_NOZWRITE) ? FALSE : TRUE);
  ApplyClip(st.clip);
  if (st.stencilFunc != 0) {
    SetRenderStateCached(cache, D3DRS_STENCILENABLE, TRUE);
    SetRenderStateCached(cache, D3DRS_STENCILFUNC, st.stencilFunc);
    SetRenderStateCached(cache, D3DRS_STENCILPASS, st.stencilPass);
    SetRenderStateCached(cache, D3DRS_STENCILREF, st.stencilRef);
  } else {
    SetRenderStateCached(cache, D3DRS_STENCILENABLE, FALSE);
  }
  ApplyEffectShader(g_, st.shaderId, st.shaderParam);
}

// Cuts items[0..n) into runs of equal state and hands them to `batcher`;
// `ranks` (parallel to items) says which neighbours share a state, or null to
// compare the items themselves.
void AddRuns(RunBatcher* batcher, DrawItem** items, const uint32_t* ranks, UINT n) {
  UINT start = 0, fetched = 0;
  while (start < n) {
    UINT end = start + 1;
    if (ranks)
      while (end < n && ranks[end] == ranks[start]) ++end;
    else
      while (end < n && SameState(items[start], items[end])) ++end;
    // The sorted items lie scattered through frame memory: ask for the next
    // few items and their vertices while this run is copied.
    for (fetched = std::max(fetched, end); fetched < n && fetched < end + 8; ++fetched) {
      __builtin_prefetch(items[fetched]);
      __builtin_prefetch(items[fetched]->vertices);
    }
    batcher->Add(items + start, end - start);
    start = end;
  }
}

// The surface's state as an item keeps it; `inside`: every vertex lies in
// the surface's clip, so the item batches with unclipped ones. The float
// groups are stored whole, as StateHash reads them (see WriteState).
void CaptureState(const Graphics* g, DWORD flags, bool inside, ItemState* state) {
  state->flags = flags;
  _mm_storeu_ps(state->clip, inside ? _mm_setr_ps(0.0f, 0.0f, static_cast<float>(g->target->width),
                                                  static_cast<float>(g->target->height))
                                    : _mm_loadu_ps(g->clip));
  const bool stencil = g->stencilFunc != 0;
  state->stencilFunc = stencil ? g->stencilFunc : 0;
  state->stencilPass = stencil ? g->stencilPass : 0;
  state->stencilRef = stencil ? g->stencilRef : 0;
  state->shaderId = g->shaderId;
  _mm_storeu_ps(state->shaderParam, _mm_loadu_ps(g->shaderParam));
}

}  // namespace

bool InsideClip(const Graphics* g, const BatchVertex* vertices, UINT count) {
  bool inside = true;
  for (UINT i = 0; i < count && inside; ++i) {
    const BatchVertex& v = vertices[i];
    inside = g->clip[0] <= v.x && v.x <= g->clip[2] && g->clip[1] <= v.y && v.y <= g->clip[3];
  }
  return inside;
}

void CaptureItemStates(const Graphics* g, ItemState* inside, ItemState* outside) {
  CaptureState(g, 0, true, inside);
  CaptureState(g, 0, false, outside);
}

void WriteState(ItemState* to, const ItemState& from, DWORD flags) {
  to->flags = flags;
  _mm_storeu_ps(to->clip, _mm_loadu_ps(from.clip));
  to->stencilFunc = from.stencilFunc;
  to->stencilPass = from.stencilPass;
  to->stencilRef = from.stencilRef;
  to->shaderId = from.shaderId;
  _mm_storeu_ps(to->shaderParam, _mm_loadu_ps(from.shaderParam));
}

uint32_t ItemStateHash(const DrawItem* item) { return StateHash(item); }

void QueueItem(Graphics* g, DrawItem* item, uint32_t stateHash) {
  // The sort's keys are taken here, while the item and its vertices are fresh.
  item->depthKey = ZBits(item);
  item->stateHash = stateHash;
  PBufferAdd((item->state.flags & DRAW_OPAQUE) ? &g->opaqueItems : &g->translucentItems, item);
}

void QueueItem(Graphics* g, DrawItem* item) { QueueItem(g, item, ItemStateHash(item)); }

DrawItem* SubmitDrawItem(Graphics* g, INT kind, VekTexture* texture, BatchVertex* vertices,
                         UINT count, DWORD flags) {
  // A list kind longer than the vertex buffer is queued as several items cut
  // at primitive boundaries; a longer strip or fan cannot be drawn at all.
  const UINT primitive = PrimitiveSize(kind);
  UINT chunk = count;
  if (count > kBatchVertexCount) {
    if (primitive == 0) {
      GraphicsError(GraphicsErr::kTooManyVertices, count);
      return nullptr;
    }
    chunk = kBatchVertexCount - kBatchVertexCount % primitive;
  }
  const bool inside = InsideClip(g, vertices, count);
  DrawItem* last = nullptr;
  UINT done = 0;
  do {
    auto* item = static_cast<DrawItem*>(MemMalloc(&g->frameMemory, sizeof(DrawItem)));
    if (!item) return nullptr;
    item->kind = kind;
    item->texture = texture;
    if (last)
      WriteState(&item->state, last->state, last->state.flags);  // a later piece of a long list
    else
      CaptureState(g, flags, inside, &item->state);
    item->vertices = vertices + done;
    item->count = std::min(chunk, count - done);
    item->groupStart = 0;
    QueueItem(g, item);
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

void SortDrawList(Graphics* g, PBuffer* list, bool depthOrder, bool useKeys) {
  SortSpace space;
  if (useKeys && list->count > 0 && !TakeSortSpace(g, list->count, &space)) space = SortSpace{};
  SortItems(list, depthOrder, &space);
}

void DrawItemRun(Graphics* g, DrawItem** items, UINT n) {
  RunBatcher batcher(g);
  batcher.Add(items, n);
}

void FlushDrawItems(Graphics* g) {
  {
    SortSpace space;
    const UINT longest = std::max(g->opaqueItems.count, g->translucentItems.count);
    if (longest > 0 && !TakeSortSpace(g, longest, &space)) space = SortSpace{};
    RunBatcher batcher(g);
    if (g->opaqueItems.count > 0) {
      const bool ranked = SortItems(&g->opaqueItems, false, &space);
      auto** items = reinterpret_cast<DrawItem**>(g->opaqueItems.entries);
      const UINT n = g->opaqueItems.count;
      g->groupHeads.count = 0;
      SetPBufferCapcity(&g->groupHeads, n);
      // One head per texture group: its nearest item, which carries the group's start.
      // Ranked, an item of its neighbour's state shares its texture, and lies
      // no nearer (a state's items are sorted by depth, which the keys hold),
      // so only the first item of each state is read.
      auto sameState = [&](UINT i) { return ranked && space.ranks[i] == space.ranks[i - 1]; };
      auto depth = [&](UINT i) {
        return ranked ? static_cast<uint32_t>(space.sorted[i].key) : items[i]->depthKey;
      };
      for (UINT start = 0; start < n;) {
        UINT end = start + 1;
        while (end < n && (sameState(end) || items[end]->texture == items[start]->texture)) ++end;
        UINT head = start;
        for (UINT i = start + 1; i < end; ++i)
          if (!sameState(i) && depth(i) < depth(head)) head = i;
        items[head]->groupStart = static_cast<INT>(start);
        PBufferAdd(&g->groupHeads, items[head]);
        start = end;
      }
      auto** heads = reinterpret_cast<DrawItem**>(g->groupHeads.entries);
      std::sort(heads, heads + g->groupHeads.count, DepthBefore);
      // Nearest group first, so its depth writes hide what lies behind.
      for (DWORD h = g->groupHeads.count; h-- > 0;) {
        const UINT start = static_cast<UINT>(heads[h]->groupStart);
        UINT end = start + 1;
        while (end < n && items[end]->texture == items[start]->texture) ++end;
        AddRuns(&batcher, items + start, ranked ? space.ranks + start : nullptr, end - start);
      }
      g->opaqueItems.count = 0;
      g->groupHeads.count = 0;
    }
    if (g->translucentItems.count > 0) {
      const bool ranked = SortItems(&g->translucentItems, true, &space);
      AddRuns(&batcher, reinterpret_cast<DrawItem**>(g->translucentItems.entries),
              ranked ? space.ranks : nullptr, g->translucentItems.count);
      g->translucentItems.count = 0;
    }
    batcher.Finish();
  }
  // Only now: the sort space and the items' vertices live in frame memory.
  ResetMemBuffer(&g->frameMemory);
}

HRESULT BeginRender(Graphics* g) {
  if (!g) {
    GraphicsError(GraphicsErr::kBeginNull, 0);
    return D3DERR_INVALIDCALL;
  }
  GraphicsDevice* device = g->device;
  // One scene at a time per device: a second frame is refused before the
  // open one's target or states are touched.
  if (device->frameOwner) {
    GraphicsError(GraphicsErr::kBeginOpen, D3DERR_INVALIDCALL);
    return D3DERR_INVALIDCALL;
  }
  RenderTarget* t = g->target;
  // A surface that a reset left without its colour or depth-stencil surface
  // has nothing whole to render into yet.
  const bool whole = t->color && (t->depthFormat == 0 || t->depth);
  const HRESULT hr =
      whole ? SetRenderTargetCached(&device->cache, t->color, t->depth) : D3DERR_INVALIDCALL;
  if (FAILED(hr)) {
    GraphicsError(GraphicsErr::kSetTarget, hr);
    return hr;
  }
  ApplyFrameStates(g);
  RenderStateCache* cache = &device->cache;
  if (g->isStencil) {
    SetRenderStateCached(cache, D3DRS_STENCILENABLE, TRUE);
    SetRenderStateCached(cache, D3DRS_ZENABLE, D3DZB_FALSE);
    SetRenderStateCached(cache, D3DRS_SRCBLEND, D3DBLEND_ZERO);
    SetRenderStateCached(cache, D3DRS_DESTBLEND, D3DBLEND_ONE);
  }
  const HRESULT begun = cache->device->BeginScene();
  if (SUCCEEDED(begun)) device->frameOwner = g;
  return begun;
}

HRESULT ClearGraphics(Graphics* g, D3DCOLOR colour) {
  if (!g) return D3DERR_INVALIDCALL;
  // Direct3D clears whatever target is set: while another surface's frame
  // is open, or its target is known to be the one set, the clear would land
  // on that surface instead.
  const GraphicsDevice* device = g->device;
  const bool elsewhere = device->frameOwner ? device->frameOwner->target != g->target
                                            : device->cache.renderTarget &&
                                                  device->cache.renderTarget != g->target->color;
  if (elsewhere) {
    GraphicsError(GraphicsErr::kClearOther, D3DERR_INVALIDCALL);
    return D3DERR_INVALIDCALL;
  }
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
  if (!g) {
    GraphicsError(GraphicsErr::kEndNull, 0);
    return D3DERR_INVALIDCALL;
  }
  GraphicsDevice* device = g->device;
  if (device->frameOwner != g) {
    // No frame of this surface is open: its items are given up as a flush
    // would, without drawing into whatever scene the device has open.
    g->opaqueItems.count = 0;
    g->translucentItems.count = 0;
    ResetMemBuffer(&g->frameMemory);
    GraphicsError(GraphicsErr::kEndNoFrame, D3DERR_INVALIDCALL);
    return D3DERR_INVALIDCALL;
  }
  FlushDrawItems(g);
  device->frameOwner = nullptr;
  IDirect3DDevice8* d3d = device->cache.device;
  const HRESULT hr = d3d->EndScene();
  if (FAILED(hr)) return hr;
  RenderTarget* t = g->target;
  if (g->isStencil) {
    SetRenderStateCached(&g->device->cache, D3DRS_STENCILENABLE, FALSE);
    return 0;
  }
  if (t->texture.format != 0) return 0;  // a texture surface is not presented
  if (t->present.hDeviceWindow) {
    return t->swapChain ? t->swapChain->Present(nullptr, nullptr, nullptr, nullptr)
                        : D3DERR_INVALIDCALL;
  }
  return d3d->Present(nullptr, nullptr, nullptr, nullptr);
}
