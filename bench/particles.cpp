// Particles evaluated and queued per second on one core, on the software
// device with pixel work switched off: a plain area system, one with drag,
// spin, forward acceleration and alignment to the velocity, and one emitting
// from an image's pixels. Each is also run with the quad submission left
// out (the same per-particle steps, corners built and dropped), so the
// evaluation's share is visible. Heap allocations are counted by wrapping
// the C allocator: after the first call (the image's pixel cache) there
// should be none.
#include "particles/particles.h"

#include <vek/vek.h>
#include <vekrt/runtime.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "alloc_count.h"
#include "bench_graphics.h"
#include "bench_util.h"
#include "gd/device.h"
#include "graphics/frame.h"
#include "graphics/graphics.h"
#include "graphics/primitives.h"
#include "support/dds.h"
#include "support/kept_image.h"
#include "vekimage/image.h"

namespace {

constexpr UINT kParticles = 20000;
constexpr int kRuns = 25;

ParSysParams Plain(Graphics* g) {
  ParSysParams p{};
  p.graphics = g;
  p.x = 640, p.y = 360, p.z = 0.5f;
  p.count = kParticles;
  p.period = {1000, 3000};
  p.visible = {1000, 3000};
  p.speed = {20, 80};
  p.direction = {0, 360};
  p.absoluteDirection = 1;
  p.areaWidth = 400, p.areaHeight = 200;
  p.widthStart = p.heightStart = {4, 8};
  p.widthEnd = p.heightEnd = {1, 2};
  p.alphaStart = {255, 255};
  p.redStart = p.greenStart = p.blueStart = {100, 255};
  p.alphaEnd = {0, 0};
  p.redEnd = p.greenEnd = p.blueEnd = {0, 50};
  p.seedA = 1, p.seedB = 2;
  return p;
}

// The loop of DrawParSys with the quads built and dropped.
UINT EvaluateOnly(ParSysParams* params, ULONGLONG now) {
  UINT a = static_cast<UINT>(params->seedA), b = static_cast<UINT>(params->seedB);
  UINT built = 0;
  UINT seedsA[kParticleBlock], seedsB[kParticleBlock];
  PrimitiveCorner quads[kParticleBlock][4];
  for (UINT done = 0; done < params->count;) {
    const UINT n = std::min(params->count - done, kParticleBlock);
    for (UINT i = 0; i < n; ++i) {
      seedsA[i] = a;
      seedsB[i] = b;
      a = NextParticleSeed(a);
      b = NextParticleSeed(b);
    }
    built += BuildParticleBlock(params, now, seedsA, seedsB, n, quads);
    done += n;
  }
  return built;
}

struct Result {
  double queued, evaluated;  // particles per second
  long allocations;          // after the first call
};

Result Measure(Graphics* g, ParSysParams params) {
  std::vector<double> queued, evaluated;
  queued.reserve(kRuns);
  evaluated.reserve(kRuns);
  long steady = 0;
  volatile UINT sink = 0;
  // One frame queuing every particle first, so the frame's item lists have
  // grown to their largest before anything is counted.
  VekBeginRender(g);
  ParSysParams all = params;
  all.visible = all.period;
  DrawParSys(&all, 0, 0);
  VekEndRender(g);
  for (int run = 0; run < kRuns + 1; ++run) {
    const ULONGLONG now = 5000 + 16ull * run;
    VekBeginRender(g);
    const long before = allocations.load();
    double t0 = ThreadCpuSeconds();
    DrawParSys(&params, now, 0);
    double t1 = ThreadCpuSeconds();
    if (run > 0) steady += allocations.load() - before;
    VekEndRender(g);
    if (run > 0) queued.push_back(t1 - t0);
    t0 = ThreadCpuSeconds();
    sink = sink + EvaluateOnly(&params, now);
    t1 = ThreadCpuSeconds();
    if (run > 0) evaluated.push_back(t1 - t0);
  }
  return {kParticles / Median(queued), kParticles / Median(evaluated), steady};
}

}  // namespace

int main(int argc, char** argv) {
  // An argument runs only the systems whose names begin with it (for profiling).
  const char* only = argc > 1 ? argv[1] : "";
  BenchGraphics opened;
  if (!opened.g) return 1;
  HVEKGRAPHICS g = opened.g;

  // A 128 x 128 emission picture: a disc of visible pixels.
  constexpr UINT kSide = 128;
  std::vector<uint8_t> file = testdds::Solid32(kSide, kSide, 0);
  for (UINT y = 0; y < kSide; ++y)
    for (UINT x = 0; x < kSide; ++x) {
      const int dx = static_cast<int>(x) - 64, dy = static_cast<int>(y) - 64;
      if (dx * dx + dy * dy < 60 * 60) testdds::Put32(file, 128 + 4 * (y * kSide + x), 0xC0FF8020u);
    }
  auto* image = static_cast<VekImage*>(Malloc(sizeof(VekImage)));
  if (!KeepFile(image, file)) return 1;
  image->texture.width = image->texture.height = kSide;
  image->texture.compression = 1;

  ParSysParams plain = Plain(g);
  ParSysParams spin = plain;
  spin.drag = 0.8f;
  spin.accelY = 40;
  spin.forwardAccel = 15;
  spin.spinStart = {-180, 180};
  spin.spinEnd = {90, 360};
  spin.rotation = {0, 90};
  spin.emitterRotation = 20;
  spin.absoluteDirection = 0;
  spin.alignToVelocity = 1;
  ParSysParams emit = plain;
  emit.emitImage = image;
  emit.regionRight = emit.regionBottom = 1;  // the whole picture (an empty region is its corner)
  emit.colourFromImage = emit.alphaFromImage = 1;

  std::printf("%u particles a call, thread CPU time, median of %d calls\n", kParticles, kRuns);
  std::printf("%-34s %14s %16s %10s\n", "system", "queued / s", "evaluated / s", "eval share");
  const struct {
    const char* name;
    ParSysParams* params;
  } systems[] = {{"plain area", &plain},
                 {"drag, spin, forward, aligned", &spin},
                 {"emitted from an image", &emit}};
  long allocs = 0;
  for (const auto& s : systems) {
    if (std::strncmp(s.name, only, std::strlen(only)) != 0) continue;
    const Result r = Measure(g, *s.params);
    allocs += r.allocations;
    std::printf("%-34s %11.2f M %13.2f M %9.0f %%\n", s.name, r.queued / 1e6, r.evaluated / 1e6,
                100.0 * r.queued / r.evaluated);
  }
  std::printf("heap allocations in the calls after each system's first: %ld\n", allocs);
  std::printf(
      "targets: plain area at least 20 M queued a second (goal 30 M), drag and spin at "
      "least 10 M\n");

  DestroyImage(image);
  return 0;
}
