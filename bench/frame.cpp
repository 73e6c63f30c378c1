// The library's own cost per frame, on the software device with pixel work
// switched off: 20,000 quad items (16 textures, random z, 30 % translucent,
// two clip rectangles, two effects) submitted and flushed, against a lower
// bound measured in the same run (copying the frame's vertex bytes once and
// sorting 20,000 64-bit keys). Each phase is timed on the wall clock and on
// the thread's CPU clock; the second leaves out time the thread spent
// descheduled, which on a shared machine dwarfs a millisecond-long flush.
// Heap allocations are counted by wrapping the C allocator: a steady frame
// should make none.
#include "graphics/frame.h"

#include <vek/vek.h>
#include <vekrt/runtime.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>
#include <vector>

#include "alloc_count.h"
#include "bench_graphics.h"
#include "bench_util.h"
#include "gd/device.h"
#include "graphics/graphics.h"
#include "vektex/texture.h"

namespace {

constexpr int kItems = 20000, kTextures = 16, kFrames = 15;

struct Item {
  float x, y, z;
  int texture;
  bool translucent;
  int clip;    // 0 or 1
  int effect;  // 0: none, else an effect id
};

// A moment on both clocks.
struct Stamp {
  std::chrono::steady_clock::time_point wall;
  double cpu;
};

Stamp Now() { return {std::chrono::steady_clock::now(), ThreadCpuSeconds()}; }

double Wall(const Stamp& a, const Stamp& b) {
  return std::chrono::duration<double>(b.wall - a.wall).count();
}
double Cpu(const Stamp& a, const Stamp& b) { return b.cpu - a.cpu; }

}  // namespace

int main() {
  BenchGraphics opened;
  if (!opened.g) return 1;
  HVEKDEVICE device = opened.device;
  HVEKGRAPHICS g = opened.g;
  std::vector<VekTexture> textures(kTextures);
  for (VekTexture& t : textures)
    CreateBlankTexture(&t, device->cache.device, 64, 64, D3DFMT_A8R8G8B8);

  std::mt19937 random(20);
  std::vector<Item> items(kItems);
  for (int i = 0; i < kItems; ++i) {
    Item& it = items[i];
    it.x = static_cast<float>(random() % 1200);
    it.y = static_cast<float>(random() % 680);
    it.z = static_cast<float>(random() % 10000) / 10000.0f;
    it.texture = static_cast<int>(random() % kTextures);
    it.translucent = random() % 10 < 3;
    it.clip = i < kItems / 2 ? 0 : 1;
    it.effect = (i % 5 == 0) ? 2 : (i % 7 == 0 ? 4 : 0);
  }
  const float clips[2][4] = {{0, 0, 1280, 720}, {100, 100, 900, 600}};
  float effectParam[4] = {0.0f, 255.0f, 0.0f, 0.0f};

  std::vector<double> submit, flush, submitCpu, flushCpu;
  for (auto* v : {&submit, &flush, &submitCpu, &flushCpu})
    v->reserve(kFrames);  // the benchmark's own bookkeeping allocates nothing per frame
  long steadyAllocations = 0;
  size_t callsPerFrame = 0;
  for (int frame = 0; frame < kFrames + 2; ++frame) {
    const bool logged = frame == 1;  // one frame counts its Direct3D calls
    vrt::EnableCallLog(logged);
    vrt::ClearCallLog();
    const long allocationsBefore = allocations.load();
    const Stamp t0 = Now();
    VekBeginRender(g);
    int clip = -1, effect = -1;
    for (const Item& it : items) {
      if (it.clip != clip) {
        clip = it.clip;
        VekSetClip(g, clips[clip][0], clips[clip][1], clips[clip][2], clips[clip][3]);
      }
      if (it.effect != effect) {
        effect = it.effect;
        VekSetPixelShader(g, effect, effectParam);
      }
      auto* v = static_cast<BatchVertex*>(MemMalloc(&g->frameMemory, 4 * sizeof(BatchVertex)));
      const DWORD colour = it.translucent ? 0x80FFFFFF : 0xFFFFFFFF;
      v[0] = {it.x, it.y, it.z, colour, 0, 0};
      v[1] = {it.x + 64, it.y, it.z, colour, 1, 0};
      v[2] = {it.x + 64, it.y + 64, it.z, colour, 1, 1};
      v[3] = {it.x, it.y + 64, it.z, colour, 0, 1};
      SubmitDrawItem(g, DRAW_QUADS, &textures[it.texture], v, 4,
                     it.translucent ? 0u : static_cast<DWORD>(DRAW_OPAQUE));
    }
    const Stamp t1 = Now();
    VekEndRender(g);
    const Stamp t2 = Now();
    if (logged) callsPerFrame = vrt::CallLog().size();
    if (frame >= 2) {
      submit.push_back(Wall(t0, t1));
      flush.push_back(Wall(t1, t2));
      submitCpu.push_back(Cpu(t0, t1));
      flushCpu.push_back(Cpu(t1, t2));
      steadyAllocations += allocations.load() - allocationsBefore;
    }
  }
  vrt::EnableCallLog(false);

  // Lower bound: the frame's vertex bytes copied once and 20,000 keys sorted.
  std::vector<BatchVertex> source(static_cast<size_t>(kItems) * 4), target(source.size());
  std::vector<uint64_t> keys(kItems), work(kItems);
  for (auto& k : keys) k = (static_cast<uint64_t>(random()) << 32) | random();
  std::vector<double> bound, boundCpu;
  for (int frame = 0; frame < kFrames; ++frame) {
    work = keys;
    const Stamp t0 = Now();
    std::memcpy(target.data(), source.data(), source.size() * sizeof(BatchVertex));
    std::sort(work.begin(), work.end());
    const Stamp t1 = Now();
    bound.push_back(Wall(t0, t1));
    boundCpu.push_back(Cpu(t0, t1));
  }

  const double s = Median(submit), f = Median(flush), b = Median(bound);
  const double sc = Median(submitCpu), fc = Median(flushCpu), bc = Median(boundCpu);
  std::printf(
      "items per frame: %d (16 textures, 30%% translucent, 2 clips, 2 effects), median of %d "
      "frames\n",
      kItems, kFrames);
  std::printf("                      wall clock             thread CPU time\n");
  std::printf("submission: %8.3f ms %6.1f ns/item  %8.3f ms %6.1f ns/item\n", s * 1e3,
              s / kItems * 1e9, sc * 1e3, sc / kItems * 1e9);
  std::printf("flush:      %8.3f ms %6.1f ns/item  %8.3f ms %6.1f ns/item\n", f * 1e3,
              f / kItems * 1e9, fc * 1e3, fc / kItems * 1e9);
  std::printf("lower bound (copy vertices once + sort 20,000 keys): %.3f ms wall, %.3f ms CPU\n",
              b * 1e3, bc * 1e3);
  std::printf("frame / lower bound: %.2f wall, %.2f CPU (target at most 1.7, goal 1.5)\n",
              (s + f) / b, (sc + fc) / bc);
  std::printf("Direct3D calls per frame: %zu\n", callsPerFrame);
  std::printf("heap allocations in %d steady frames: %ld\n", kFrames, steadyAllocations);

  for (VekTexture& t : textures) ReleaseTexture(&t);
  return 0;
}
