// What the fuzz targets share: reading typed values off the input, the
// device they open once, and the checks every target makes on what a
// surface has queued.
#pragma once

#include <vek/vek.h>
#include <vekrt/runtime.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "graphics/frame.h"
#include "graphics/graphics.h"

namespace fuzz {

inline void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

// Values taken off the front of the input; an exhausted input reads zeros.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Empty() const { return at_ >= size_; }
  size_t Left() const { return size_ - at_; }
  uint8_t U8() { return at_ < size_ ? data_[at_++] : 0; }
  uint16_t U16() { return static_cast<uint16_t>(U8() | U8() << 8); }
  uint32_t U32() { return U16() | static_cast<uint32_t>(U16()) << 16; }
  int32_t I32() { return static_cast<int32_t>(U32()); }
  bool Bool() { return U8() & 1; }
  // Any float at all: NaN, infinities and denormals included.
  float AnyFloat() {
    const uint32_t bits = U32();
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
  }
  // Mostly plausible coordinates (quarter pixels around the target), now
  // and then any float.
  float Coordinate() {
    const uint8_t kind = U8();
    if (kind < 16) return AnyFloat();
    return static_cast<int16_t>(U16()) / 4.0f;
  }
  // Mostly a small count below `limit`, now and then any value.
  uint32_t Count(uint32_t limit) {
    const uint8_t kind = U8();
    return kind < 8 ? U32() : U16() % limit;
  }
  // Up to `max` bytes as they stand.
  const uint8_t* Bytes(size_t max, size_t* got) {
    *got = Left() < max ? Left() : max;
    const uint8_t* p = data_ + at_;
    at_ += *got;
    return p;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// The library's diagnostics for refused input go nowhere: printing them
// would cost more than most inputs.
inline void QuietStdout() {
  if (!std::freopen("/dev/null", "w", stdout)) std::abort();
}

// The run's adapter, needing power-of-two textures when VEK_FUZZ_POW2=1;
// the rasteriser on one thread, drawing pixels unless `pixels` is off.
inline void UseAdapter(const char* target, bool pixels) {
  const char* pow2 = std::getenv("VEK_FUZZ_POW2");
  vrt::AdapterConfig adapter = vrt::DefaultAdapter();
  if (pow2 && std::strcmp(pow2, "1") == 0) adapter.textureCaps |= D3DPTEXTURECAPS_POW2;
  vrt::SetAdapters({adapter});
  vrt::SetRasterization(pixels);
  vrt::SetRasterThreads(1);
  std::fprintf(stderr, "%s fuzzer: %s textures\n", target,
               adapter.textureCaps & D3DPTEXTURECAPS_POW2 ? "power-of-two" : "any-size");
}

// One windowed device for the whole run on that adapter.
inline HVEKDEVICE OpenDevice(const char* target, bool pixels, int width = 64, int height = 64) {
  UseAdapter(target, pixels);
  HWND window = vrt::CreateVirtualWindow(0, 0, width, height);
  HVEKDEVICE device = VekOpenGraphicsDevice(0, window, 0, 1, width, height, 32, 0);
  Check(device != nullptr, "the device opens");
  return device;
}

// Every item the surface has queued: a sound vertex count, a clip within
// the target, and, when every position given was finite, finite positions
// (and texture coordinates, when every one given was finite too).
inline void CheckQueued(const Graphics* g, bool finite = true, bool finiteUv = true) {
  const float w = static_cast<float>(g->target->width), h = static_cast<float>(g->target->height);
  for (const PBuffer* list : {&g->opaqueItems, &g->translucentItems})
    for (DWORD i = 0; i < list->count; ++i) {
      const auto* item = static_cast<const DrawItem*>(list->entries[i]);
      Check(item->count > 0 && item->count <= 65536, "a queued item has a sound vertex count");
      Check(item->state.clip[0] >= 0 && item->state.clip[1] >= 0 && item->state.clip[2] <= w &&
                item->state.clip[3] <= h && item->state.clip[0] <= item->state.clip[2] &&
                item->state.clip[1] <= item->state.clip[3],
            "a queued item's clip lies within its target");
      for (UINT k = 0; finite && k < item->count; ++k) {
        const BatchVertex& v = item->vertices[k];
        const bool sound = std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z) &&
                           (!finiteUv || (std::isfinite(v.u) && std::isfinite(v.v)));
        if (!sound)
          std::fprintf(stderr, "item of kind %d, vertex %u of %u: %g %g %g uv %g %g\n",
                       static_cast<int>(item->kind), k, item->count, v.x, v.y, v.z, v.u, v.v);
        Check(sound, "every queued vertex is finite");
      }
    }
}

inline size_t QueuedCount(const Graphics* g) {
  return g->opaqueItems.count + g->translucentItems.count;
}

}  // namespace fuzz
