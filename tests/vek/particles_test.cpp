// Particle systems on either build's Direct3D 8: the generators against
// independently computed values, the life cycle and motion of single
// particles, and the quads whole systems queue, including the arguments
// that would otherwise divide by zero or read outside an emission image.
#include "particles/particles.h"

#include <vek/vek.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "graphics/frame.h"
#include "particles/lanes.h"
#include "particles/pmath.h"
#include "support/dds.h"
#include "support/frame_probe.h"
#include "support/kept_image.h"
#include "support/particle_sys.h"
#include "support/platform_test.h"
#include "support/surface_test.h"
#include "vekimage/image.h"

namespace {

struct Quad {
  BatchVertex v[4];
  float cx() const { return (v[0].x + v[2].x) / 2; }
  float cy() const { return (v[0].y + v[2].y) / 2; }
};

class ParticlesTest : public WithWindowSurface<PlatformTest> {
 protected:
  void TearDown() override {
    for (VekImage* image : images_) DestroyImage(image);
    WithWindowSurface<PlatformTest>::TearDown();
  }
  // Draws the system and takes back the quads it queued, in order.
  std::vector<Quad> Quads(const Sys& s) {
    EXPECT_EQ(Draw(g, s), static_cast<INT>(s.count));
    std::vector<Quad> out;
    for (const PBuffer* list : {&g->translucentItems, &g->opaqueItems})
      for (const DrawItem* item : PendingItems(*list)) {
        EXPECT_EQ(item->kind, DRAW_QUADS);
        Quad q;
        for (int k = 0; k < 4; ++k) {
          q.v[k] = item->vertices[k];
          EXPECT_TRUE(std::isfinite(q.v[k].x) && std::isfinite(q.v[k].y) &&
                      std::isfinite(q.v[k].z));
        }
        out.push_back(q);
      }
    FlushDrawItems(g);
    return out;
  }
  // A pending 32-bit image of transparent pixels except those listed.
  VekImage* Image(UINT w, UINT h, std::vector<std::pair<UINT, DWORD>> pixels) {
    std::vector<uint8_t> file = testdds::Solid32(w, h, 0x00000000);
    for (auto [at, argb] : pixels) testdds::Put32(file, 128 + 4 * at, argb);
    auto* image = static_cast<VekImage*>(Malloc(sizeof(VekImage)));
    EXPECT_TRUE(KeepFile(image, file));
    image->texture.width = w;
    image->texture.height = h;
    image->texture.compression = 1;
    images_.push_back(image);
    return image;
  }
  std::vector<VekImage*> images_;
};

TEST(ParticleGeneratorsTest, MatchIndependentlyComputedValues) {
  const UINT known[][3] = {{0, 520932930, 0},
                           {42, 520563176, 16159453},
                           {0x7FFFFFFE, 1626533910, 1932182054},
                           {0xFFFFFFFF, 1626533910, 1718034707}};
  for (auto& k : known) {
    UINT s = k[0];
    EXPECT_EQ(RandomStep(&s), k[1]);
    EXPECT_EQ(s, k[1]);  // the mask stays off the stored state
    EXPECT_EQ(NextParticleSeed(k[0]), k[2]);
  }
  // Against the 64-bit product, the masked state read as signed, over a
  // spread of states and the edges of both halves.
  auto check = [](UINT start) {
    UINT s = start;
    const int64_t v = static_cast<int32_t>(start ^ 123459876u);
    const int64_t want = ((16807 * v) % 2147483647 + 2147483647) % 2147483647;
    return RandomStep(&s) == static_cast<UINT>(want);
  };
  for (uint64_t i = 0; i < 200000; ++i)
    ASSERT_TRUE(check(static_cast<UINT>(i * 858993459u + 7))) << i;
  for (UINT masked : {0u, 1u, 127772u, 127773u, 0x7FFFFFFEu, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu})
    EXPECT_TRUE(check(masked ^ 123459876u)) << masked;
  // The remainder by multiplication agrees with the division.
  for (UINT i = 0; i < 20000; ++i) {
    UintRange range{i * 7919u, i * 7919u + (i * 2654435761u >> (i % 32))};
    UintRange prepared = range;
    PrepareRange(&prepared);
    UINT a = i * 40503u, b = a;
    ASSERT_EQ(RandomUint(&a, range), RandomUint(&b, prepared)) << i;
  }
  // Equal bounds take no step; a reversed range one apart spans every value.
  UINT s = 5;
  EXPECT_EQ(RandomUint(&s, {7, 7}), 7u);
  EXPECT_EQ(RandomFloat(&s, {2.5f, 2.5f}), 2.5f);
  EXPECT_EQ(s, 5u);
  const UINT wide = RandomUint(&s, {10, 9});
  EXPECT_EQ(wide, 10u + s);
  UINT t = 5;
  const float f = RandomFloat(&t, {-1.0f, 1.0f});
  EXPECT_EQ(f, static_cast<float>(-1.0 + 2.0 * (t * 0x1p-31)));
}

TEST(ParticleGeneratorsTest, InterpolationAndVectorAngles) {
  EXPECT_EQ(InterpolateUint(5, 5, 0.7f), 5u);
  EXPECT_EQ(InterpolateUint(0, 3, 0.16f), 0u);
  EXPECT_EQ(InterpolateUint(0, 3, 0.84f), 3u);
  EXPECT_EQ(InterpolateUint(10, 20, 0.5f), 15u);
  EXPECT_EQ(VectorAngle(0, 0), 0.0f);
  EXPECT_EQ(VectorAngle(0, 5), 1.5707964f);
  EXPECT_EQ(VectorAngle(0.00001f, -5), 4.712389f);
  // The fast inverse square root's one refinement is within 0.2%.
  EXPECT_NEAR(FastInverseSqrt(2.0f), 0.70710678f, 0.0015f);
  EXPECT_EQ(VectorAngle(-1, 0), pmath::Acos(-FastInverseSqrt(1.0f)));
  EXPECT_NEAR(VectorAngle(1, -1), 5.4977871f, 0.01f);
}

TEST_F(ParticlesTest, NullSurfaceAndNoParticlesQueueNothing) {
  Sys s;
  EXPECT_EQ(Draw(nullptr, s), 0);
  s.count = 0;
  EXPECT_TRUE(Quads(s).empty());
}

TEST_F(ParticlesTest, AgeWindowsAndCycles) {
  Sys s;
  s.count = 20;
  s.areaWidth = s.areaHeight = 40;
  s.speed[0] = 10, s.speed[1] = 90;
  s.visible[0] = s.visible[1] = 500;
  EXPECT_EQ(Quads(s).size(), 20u);
  s.time = 500;
  EXPECT_EQ(Quads(s).size(), 20u);
  s.time = 501;
  EXPECT_TRUE(Quads(s).empty());
  s.time = 1999;
  EXPECT_TRUE(Quads(s).empty());

  // Always visible: each second restarts with new appearance draws from the
  // same emission point.
  s.visible[0] = s.visible[1] = 1000;
  s.time = 0;
  const std::vector<Quad> first = Quads(s);
  s.time = 1000;
  const std::vector<Quad> second = Quads(s);
  ASSERT_EQ(first.size(), 20u);
  ASSERT_EQ(second.size(), 20u);
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(first[i].cx(), second[i].cx());
    EXPECT_EQ(first[i].cy(), second[i].cy());
  }
  s.time = 1300;
  const std::vector<Quad> later = Quads(s);
  s.time = 300;
  const std::vector<Quad> earlier = Quads(s);
  int moved = 0;
  for (int i = 0; i < 20; ++i) moved += later[i].cx() != earlier[i].cx();
  EXPECT_GT(moved, 15);  // new speeds and directions
}

TEST_F(ParticlesTest, SeedsDecideThePatternDeterministically) {
  Sys s;
  s.count = 30;
  s.areaWidth = s.areaHeight = 200;
  s.speed[1] = 50;
  s.direction[1] = 360;
  s.time = 700;
  auto same = [](const std::vector<Quad>& a, const std::vector<Quad>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
      if (std::memcmp(a[i].v, b[i].v, sizeof a[i].v)) return false;
    return true;
  };
  const std::vector<Quad> base = Quads(s);
  EXPECT_TRUE(same(base, Quads(s)));
  s.seedA = 2;
  EXPECT_FALSE(same(base, Quads(s)));
  s.seedA = 1, s.seedB = 3;
  EXPECT_FALSE(same(base, Quads(s)));
  s.seedB = 2;
  s.seedA = -1;
  const std::vector<Quad> negative = Quads(s);
  s.seedA = 0x7FFFFFFE;
  EXPECT_TRUE(same(negative, Quads(s)));
}

TEST_F(ParticlesTest, SizesFramesAndClampedColours) {
  const VekParticleFrame frames[4] = {
      {0, 0.25f, 0, 1}, {0.25f, 0.5f, 0, 1}, {0.5f, 0.75f, 0, 1}, {0.75f, 1, 0, 1}};
  VekImage* tex = Image(4, 4, {});
  Sys s;
  s.period[0] = s.period[1] = s.visible[0] = s.visible[1] = 600;
  s.texture = &tex->texture;
  s.frames = frames;
  s.frameCount = 4;
  s.frameMode = 1;
  s.start[2][0] = s.start[2][1] = 300;  // alpha above 255
  s.start[3][0] = s.start[3][1] = 0x1FF;
  s.end[2][0] = s.end[2][1] = 300;
  s.end[3][0] = s.end[3][1] = 0x1FF;
  s.start[4][0] = s.start[4][1] = s.end[4][0] = s.end[4][1] = 0x10;
  s.start[5][0] = s.start[5][1] = s.end[5][0] = s.end[5][1] = 0x20;
  const float scale = tex->texture.uScale ? tex->texture.uScale : 1.0f;
  for (auto [time, frame] : {std::pair{0u, 0}, {99u, 0}, {300u, 2}, {500u, 3}, {599u, 3}}) {
    s.time = time;
    const std::vector<Quad> q = Quads(s);
    ASSERT_EQ(q.size(), 1u);
    EXPECT_EQ(q[0].v[1].x - q[0].v[0].x, 4.0f);  // 5 wide loses its odd pixel
    EXPECT_EQ(q[0].v[0].diffuse, 0xFFFF1020u);
    if (!device->texturesPow2) {
      EXPECT_EQ(q[0].v[0].u, frames[frame].uLeft * scale) << time;
    }
  }
  // Frames given without their rectangles are no frames.
  s.frames = nullptr;
  EXPECT_EQ(Quads(s)[0].v[1].u, 0.0f);
}

TEST_F(ParticlesTest, AccelerationAndDrag) {
  Sys s;
  s.period[0] = s.period[1] = s.visible[0] = s.visible[1] = 2000;
  s.accelY = 100;
  s.time = 1000;
  EXPECT_EQ(Quads(s)[0].cy(), 150.0f);
  s.drag = 1;
  EXPECT_NEAR(Quads(s)[0].cy(), 100.0f + 100.0f * (1.0f - std::exp(-1.0f)), 1e-3);
}

TEST_F(ParticlesTest, EmitterPathPlacesParticlesWhereTheEmitterWas) {
  const VekPathPoint points[2] = {{0, 0, 0}, {100, 0, 0}};
  LONGLONG times[2] = {1000, 2000};
  Sys s;
  s.x = 200, s.y = 50;
  s.period[0] = s.period[1] = s.visible[0] = s.visible[1] = 500;  // born every 500 ms
  s.pathPoints = points;
  s.pathTimes = times;
  s.pathCount = 2;
  // Born now, on the last key's time: no division by the zero span.
  s.time = 2000;
  std::vector<Quad> q = Quads(s);
  ASSERT_EQ(q.size(), 1u);
  EXPECT_EQ(q[0].cx(), 100.0f);
  EXPECT_EQ(q[0].cy(), 0.0f);
  s.time = 1700;  // born at 1500, half way between the keys
  EXPECT_EQ(Quads(s)[0].cx(), 50.0f);
  s.time = 3200;  // born at 3000: between the last key and the emitter now
  EXPECT_NEAR(Quads(s)[0].cx(), 200.0f - 100.0f / 6, 1e-3);
  s.time = 1200;  // born on the first key
  EXPECT_EQ(Quads(s)[0].cx(), 0.0f);
  s.time = 999;  // born at 500, before the path starts
  EXPECT_TRUE(Quads(s).empty());
  s.pathPoints = nullptr;  // a count without points is no path
  EXPECT_EQ(Quads(s)[0].cx(), 200.0f);
  s.pathPoints = points;
  times[0] = 3000;  // out of order: drawn or not, never NaN
  for (ULONGLONG t : {1200ull, 2000ull, 3100ull}) {
    s.time = t;
    Quads(s);
  }
}

TEST_F(ParticlesTest, EmissionImageAlphaThresholdAndPixelCache) {
  // One pixel of alpha 19 in a 4 x 4 image emits nothing; one of 20 does,
  // with its colour, mapped onto the area.
  Sys s;
  s.count = 8;
  s.areaWidth = s.areaHeight = 40;
  s.colourFromImage = 1;
  s.alphaFromImage = 1;
  s.image = Image(4, 4, {{6, 0x13FFFFFF}});
  EXPECT_TRUE(Quads(s).empty());
  VekImage* image = Image(4, 4, {{6, 0x14A0B0C0}});
  s.image = image;
  std::vector<Quad> q = Quads(s);
  ASSERT_FALSE(q.empty());
  for (const Quad& quad : q) {
    EXPECT_EQ(quad.v[0].diffuse, 0x14A0B0C0u);
    EXPECT_EQ(quad.cx(), 100.0f + (2.0f / 4 - 0.5f) * 40);
    EXPECT_EQ(quad.cy(), 100.0f + (1.0f / 4 - 0.5f) * 40);
  }
  // The pixels were read through the texture, into a cache of their own:
  // the file bytes are gone and the image still reads back.
  EXPECT_NE(image->texture.pixelCache, nullptr);
  EXPECT_EQ(image->texture.data, nullptr);
  EXPECT_NE(image->texture.tex, nullptr);
  EXPECT_EQ(VekGetImageColor(image, 2, 1), 0x14A0B0C0u);
}

TEST_F(ParticlesTest, RegionsAreClampedToTheImage) {
  // Only the last column can emit.
  VekImage* image = Image(4, 4, {{3, 0xFF0000FF}, {7, 0xFF0000FF}, {11, 0xFF0000FF}});
  Sys s;
  s.count = 10;
  s.image = image;
  s.areaWidth = s.areaHeight = 40;
  const float regions[][4] = {{1, 1, 0, 1},              // empty, at the right edge
                              {1.5f, 0.9f, -2, 3},       // reversed and outside
                              {0.2f, 0.2f, 0.5f, 0.5f},  // empty inside: nothing there
                              {NAN, 2, 0, 1},
                              {0, 0.75f, 0, 1}};  // scans stop at the region's edge
  const size_t expectSome[] = {1, 1, 0, 1, 0};
  for (int r = 0; r < 5; ++r) {
    std::copy(regions[r], regions[r] + 4, s.region);
    const std::vector<Quad> q = Quads(s);
    EXPECT_EQ(!q.empty(), expectSome[r] != 0) << r;
    for (const Quad& quad : q) EXPECT_TRUE(std::isfinite(quad.cx()));
  }
  // An empty region at the right edge puts its particles in the middle.
  std::copy(regions[0], regions[0] + 4, s.region);
  for (const Quad& quad : Quads(s)) EXPECT_EQ(quad.cx(), 100.0f);
}

}  // namespace

namespace {

// Wild arguments (huge, negative, reversed, NaN, infinite) never crash, read
// outside the image or queue a vertex that is not a finite number.
TEST_F(ParticlesTest, WildArgumentsQueueOnlyFiniteQuads) {
  VekImage* image = Image(5, 3, {{2, 0xFFFFFFFF}, {9, 0x80FF0000}, {14, 0x20FFFFFF}});
  const VekParticleFrame frames[2] = {{0, 0.5f, 0, 1}, {0.5f, 1, 0, 1}};
  const VekPathPoint points[3] = {{0, 0, 0}, {1e30f, -1e30f, 0}, {NAN, 5, 0}};
  LONGLONG times[3] = {0, 0, 0};
  uint32_t state = 12345;
  auto next = [&]() { return state = state * 1664525u + 1013904223u; };
  const float wild[] = {0, -0.0f, 1, -1, 0.5f, 1e-6f, 3e4f, -3e4f, 1e30f, -1e38f, INFINITY, NAN};
  // One value in eight is wild, the rest ordinary.
  auto f = [&]() {
    return next() % 8 ? static_cast<float>(next() % 400) - 200.0f : wild[next() % 12];
  };
  auto u = [&]() {
    const UINT v[] = {0, 1, 2, 5, 255, 300, 1000, 0x7FFFFFFF, 0xFFFFFFFF};
    return next() % 8 ? 1 + next() % 2000 : v[next() % 9];
  };
  size_t drawn = 0;
  for (int round = 0; round < 300; ++round) {
    Sys s;
    s.x = f(), s.y = f(), s.z = next() % 4 ? 0.5f : f();
    s.count = 1 + next() % 6;
    s.period[0] = u(), s.period[1] = u(), s.visible[0] = u(), s.visible[1] = u();
    s.speed[0] = f(), s.speed[1] = f(), s.direction[0] = f(), s.direction[1] = f();
    s.rotation[0] = f(), s.absoluteDirection = next() % 2;
    s.areaWidth = u(), s.areaHeight = u(), s.emitterRotation = f();
    s.image = next() % 2 ? image : nullptr;
    for (float& r : s.region) r = next() % 3 ? static_cast<float>(next() % 5) / 3 - 0.5f : f();
    s.alphaFromImage = next() % 2, s.colourFromImage = next() % 2;
    s.forwardAccel = f(), s.drag = f(), s.accelX = f(), s.accelY = f();
    s.texture = next() % 2 ? &image->texture : nullptr;
    s.frames = next() % 2 ? frames : nullptr;
    s.frameCount = next() % 3, s.frameMode = u(), s.align = next() % 2;
    for (auto& range : s.start) range[0] = u(), range[1] = u();
    for (auto& range : s.end) range[0] = u(), range[1] = u();
    s.spinStart[0] = f(), s.spinEnd[1] = f();
    for (LONGLONG& t : times) t = static_cast<LONGLONG>(next()) << (next() % 40);
    times[0] = next() % 2 ? LLONG_MIN : times[0];
    s.pathPoints = points, s.pathTimes = times, s.pathCount = next() % 2 ? 0 : next() % 4;
    s.seedA = static_cast<INT>(next()), s.seedB = static_cast<INT>(next());
    s.time = next() % 4 ? next() % 100000 : static_cast<ULONGLONG>(next()) << (next() % 33);
    s.frameCount = s.frames ? s.frameCount : 2;  // a count without frames too
    drawn += Quads(s).size();
  }
  EXPECT_GT(drawn, 50u);  // the rounds do reach the drawing steps
}

}  // namespace

TEST(ParticleLanesTest, LanesGiveTheScalarGeneratorsValues) {
  // Remainders near multiples of the spans, where the reciprocal's quotient
  // can be one off either way (49 * (1 / 49) is below 1 in doubles).
  // Spans just above and below powers of two give the multiplier its
  // extremes; the largest state and the ends of a span its edges.
  const UINT spans[] = {2u,          3u,          5u,          7u,          49u,
                        103u,        1000u,       65536u,      0x10001u,    0x3FFFFFFFu,
                        0x40000001u, 0x7FFFFFFEu, 0x7FFFFFFFu, 0x80000000u, 0x80000001u,
                        0xFFFFFFFEu, 0xFFFFFFFFu, 2654435761u};
  uint32_t mix = 1;
  for (UINT span : spans) {
    const UINT edges[] = {0u,        1u,          span - 1u,   span,
                          span + 1u, 0x7FFFFFFDu, 0x7FFFFFFEu, 2u * span - 1u};
    for (size_t e = 0; e + 4 <= std::size(edges); e += 4) {
      UINT s[4], r[4];
      for (int j = 0; j < 4; ++j) s[j] = edges[e + j] & 0x7FFFFFFFu;
      for (UINT& v : s)
        if (v == 0x7FFFFFFFu) v = 0x7FFFFFFEu;
      RemainderLanes(s, span, r);
      for (int j = 0; j < 4; ++j) ASSERT_EQ(r[j], s[j] % span) << s[j] << " % " << span;
    }
    for (int i = 0; i < 4000; ++i) {
      UINT s[4], r[4];
      for (UINT& v : s) {
        mix = mix * 1664525u + 1013904223u;
        const UINT nearBy = (mix >> 8) % 5;  // within two of a multiple, or anywhere
        v = nearBy < 4 ? static_cast<UINT>((uint64_t{mix % 1024} * span + nearBy - 2) & 0x7FFFFFFFu)
                       : mix & 0x7FFFFFFFu;
        if (v == 0x7FFFFFFFu) v = 0x7FFFFFFEu;  // a step never gives the modulus
      }
      RemainderLanes(s, span, r);
      for (int j = 0; j < 4; ++j) ASSERT_EQ(r[j], s[j] % span) << s[j] << " % " << span;
    }
  }
  // Whole draws, including states whose masked value takes the other step
  // method, single values, reversed and full ranges, and NaN bounds.
  const UintRange uints[] = {{0, 9}, {5, 5}, {10, 9}, {7, 3}, {0, 0xFFFFFFFEu}, {100, 255}};
  const FloatRange floats[] = {{-1, 1}, {2.5f, 2.5f}, {360, 0}, {-1e30f, 3e38f}, {NAN, 1}};
  for (int round = 0; round < 500; ++round) {
    UINT lanes[8], scalar[8];
    for (int j = 0; j < 8; ++j) {
      mix = mix * 1664525u + 1013904223u;
      lanes[j] = scalar[j] = round % 7 == 0 ? (mix | 0x80000000u) ^ 123459876u : mix;
    }
    for (const UintRange& r : uints) {
      UintRange prepared = r;
      PrepareRange(&prepared);
      if (round % 2) PrepareLaneRange(&prepared);  // as DrawParSys leaves it, or derived per draw
      UINT out[8];
      RandomUintLanes(lanes, 8, prepared, out, sizeof out[0]);
      for (int j = 0; j < 8; ++j) ASSERT_EQ(out[j], RandomUint(&scalar[j], prepared));
    }
    for (const FloatRange& r : floats) {
      float out[8];
      RandomFloatLanes(lanes, 8, r, out, sizeof out[0]);
      for (int j = 0; j < 8; ++j) {
        const float want = RandomFloat(&scalar[j], r);
        ASSERT_EQ(std::memcmp(&out[j], &want, 4), 0) << out[j] << " " << want;
      }
    }
    ASSERT_EQ(std::memcmp(lanes, scalar, sizeof lanes), 0);
  }
}

TEST(ParticleLanesTest, LifeCyclesInLanesAreStartCycle) {
  // Periods and visible times of 0, 1, about 2^31 and 2^32, times from 0 to
  // the top, visible times that wrap past the period or the 32-bit range,
  // and visible ranges narrow, wide and reversed; counts not a multiple of 4.
  const UINT edges[] = {0u,          1u,          2u,          3u,
                        7u,          1000u,       0x7FFFFFFFu, 0x80000000u,
                        0x80000001u, 0xFFFFFFFEu, 0xFFFFFFFFu, 123456789u};
  const UINT times[] = {0u, 1u, 5000u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 2654435761u};
  const UintRange ranges[] = {{0, 0xFFFFFFFFu}, {100, 200}, {5, 5}, {300, 20}, {0, 0}};
  uint32_t mix = 17;
  auto next = [&] { return mix = mix * 1664525u + 1013904223u; };
  for (int round = 0; round < 400; ++round) {
    ParSysParams params{};
    params.visible = ranges[round % std::size(ranges)];
    const UINT time = round % 3 ? times[next() % std::size(times)] : next();
    const UINT count = 1 + next() % kParticleBlock;
    Particle lanes[kParticleBlock]{}, scalar[kParticleBlock]{};
    for (UINT k = 0; k < count; ++k) {
      lanes[k].period = next() % 3 ? edges[next() % std::size(edges)] : next() >> (next() % 32);
      lanes[k].visible = next() % 3 ? edges[next() % std::size(edges)] : next() >> (next() % 32);
      lanes[k].seedB = next();
      scalar[k] = lanes[k];
    }
    bool live[kParticleBlock];
    StartCycles(lanes, count, &params, time, live);
    for (UINT k = 0; k < count; ++k) {
      const bool want = StartCycle(&scalar[k], &params, time);
      ASSERT_EQ(live[k], want) << time << " " << scalar[k].period << " " << k;
      ASSERT_EQ(lanes[k].age, scalar[k].age) << time << " " << scalar[k].period;
      ASSERT_EQ(lanes[k].seedB, scalar[k].seedB) << time << " " << scalar[k].period;
      ASSERT_EQ(lanes[k].visible, scalar[k].visible) << time << " " << scalar[k].period;
    }
  }
}

TEST(ParticleLanesTest, InterpolationInLanesIsInterpolateUint) {
  // Ends about float's exact range and the sign bit (each lane mixes small
  // and large ones), fractions that round, run past the ends, or are not
  // numbers; results below 1, past 2^31 and past 2^32.
  const UINT ends[] = {0u,          1u,          2u,          255u,        256u,
                       16777216u,   16777217u,   16777219u,   0x7FFFFF7Fu, 0x7FFFFFFFu,
                       0x80000000u, 0x80000001u, 0x800000FFu, 0xFFFFFF7Fu, 0xFFFFFFFFu};
  const float fractions[] = {0.0f, -0.0f, 1.0f,  0.5f,   0.25f,    1.0f / 3.0f, 0.999999f,
                             2.0f, -1.0f, 1e10f, -1e10f, INFINITY, -INFINITY,   NAN};
  uint32_t mix = 5;
  std::vector<UINT> a, b;
  std::vector<float> f;
  for (UINT x : ends)
    for (UINT y : ends)
      for (float t : fractions) a.push_back(x), b.push_back(y), f.push_back(t);
  for (int i = 0; i < 20000; ++i) {
    mix = mix * 1664525u + 1013904223u;
    const UINT x = mix >> (mix & 31);
    mix = mix * 1664525u + 1013904223u;
    a.push_back(x), b.push_back(mix & 1 ? x : mix >> (mix & 31));
    mix = mix * 1664525u + 1013904223u;
    f.push_back(static_cast<float>(mix >> 8) * 0x1p-24f * (mix & 1 ? 1.0f : 3.0f) - 1.0f);
  }
  while (a.size() % 4) a.push_back(1), b.push_back(2), f.push_back(0.5f);
  for (size_t k = 0; k < a.size(); k += 4) {
    UINT got[4];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(got),
                     InterpolateUint4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(&a[k])),
                                      _mm_loadu_si128(reinterpret_cast<const __m128i*>(&b[k])),
                                      _mm_loadu_ps(&f[k])));
    float asFloat[4];
    _mm_storeu_ps(asFloat, U32ToFloat4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(&a[k]))));
    for (int j = 0; j < 4; ++j) {
      ASSERT_EQ(got[j], InterpolateUint(a[k + j], b[k + j], f[k + j]))
          << a[k + j] << " " << b[k + j] << " " << f[k + j];
      const float want = pmath::U32ToFloat(a[k + j]);
      ASSERT_EQ(std::memcmp(&asFloat[j], &want, 4), 0) << a[k + j];
    }
  }
}

TEST(ParticleLanesTest, VectorAnglesInLanesAreVectorAngle) {
  // Both components about the zero threshold, on the axes, along the
  // diagonals (where the cosine crosses 1/2), huge (the inverse square
  // root overflows), and not numbers.
  const float parts[] = {0.0f,   -0.0f, 0.0001f,  -0.0001f, 0.00011f,   1e-5f,
                         1.0f,   -1.0f, 0.5f,     -3.0f,    1.7320508f, 1e20f,
                         -1e20f, 3e38f, INFINITY, NAN,      1e-38f,     -2.5f};
  std::vector<float> x, y;
  for (float a : parts)
    for (float b : parts) {
      x.push_back(a);
      y.push_back(b);
    }
  uint32_t mix = 11;
  for (int i = 0; i < 20000; ++i) {
    mix = mix * 1664525u + 1013904223u;
    const float scale = (mix & 3) == 0 ? 1e-4f : (mix & 3) == 1 ? 1.0f : 1e3f;
    x.push_back((static_cast<float>(mix >> 8) * 0x1p-23f - 1.0f) * scale);
    mix = mix * 1664525u + 1013904223u;
    y.push_back((static_cast<float>(mix >> 8) * 0x1p-23f - 1.0f) * scale);
  }
  while (x.size() % 4) {
    x.push_back(1.0f);
    y.push_back(1.0f);
  }
  std::vector<float> got(x.size());
  VectorAngles(x.data(), y.data(), static_cast<UINT>(x.size()), got.data());
  for (size_t i = 0; i < x.size(); ++i) {
    const float want = VectorAngle(x[i], y[i]);
    ASSERT_EQ(std::memcmp(&got[i], &want, 4), 0)
        << x[i] << ", " << y[i] << ": " << got[i] << " against " << want;
  }
}

TEST_F(ParticlesTest, BlocksGiveEveryParticleTheQuadItGetsAlone) {
  // Systems of every kind, each particle built alone and in blocks of
  // whatever the count leaves: the same quads, bit for bit, in order.
  VekImage* emitter = Image(6, 5, {{3, 0x80FF0000}, {8, 0x20FFFFFF}, {20, 0xFF102030}});
  VekImage* blank = Image(4, 4, {});  // nothing to emit from
  const VekParticleFrame frames[3] = {
      {0, 0.5f, 0, 1}, {0.5f, 1, 0, 0.5f}, {0.1f, 0.2f, 0.3f, 0.4f}};
  const float pathPoints[3][3] = {{0, 0, 0}, {50, 20, 0}, {-30, 90, 0}};
  const int64_t pathTimes[3] = {0, 400, 1500};
  uint32_t mix = 7;
  auto next = [&] { return mix = mix * 1664525u + 1013904223u; };
  auto pick = [&](float lo, float hi) { return lo + (hi - lo) * (next() >> 8) * 0x1p-24f; };
  for (int system = 0; system < 120; ++system) {
    ParSysParams p{};
    p.x = pick(-100, 900), p.y = pick(-100, 700), p.z = pick(0, 1);
    // Mostly within one block; every fourth system up to three blocks.
    p.count = 1 + next() % (system % 4 == 3 ? 3 * kParticleBlock : 45);
    p.period = {next() % 3000, next() % 3000};
    p.visible = {next() % 3000, next() % 3000};
    p.speed = {pick(-50, 200), pick(-50, 200)};
    p.direction = {pick(0, 360), pick(0, 720)};
    p.rotation = system % 3 ? FloatRange{pick(-90, 90), pick(-90, 90)} : FloatRange{0, 0};
    p.absoluteDirection = system % 2;
    p.areaWidth = next() % 300, p.areaHeight = next() % 300;
    p.emitterRotation = system % 4 ? pick(-180, 180) : 0;
    p.emitImage = system % 5 == 1 ? emitter : system % 17 == 3 ? blank : nullptr;
    p.regionLeft = pick(-0.2f, 0.6f), p.regionRight = pick(0.4f, 1.2f);
    p.regionTop = pick(-0.2f, 0.6f), p.regionBottom = pick(0.4f, 1.2f);
    p.alphaFromImage = system % 3 == 0, p.colourFromImage = system % 2 == 0;
    p.forwardAccel = system % 6 ? pick(-30, 30) : 0;
    p.drag = system % 4 == 2 ? pick(0, 3) : 0;
    p.accelX = pick(-50, 50), p.accelY = pick(-50, 50);
    if (system % 3 == 1) {
      p.texture = &emitter->texture;
      p.frames = frames;
      p.frameCount = 3;
      p.frameMode = system % 4;
    }
    if (system % 7 == 2) {
      p.pathPoints = pathPoints;
      p.pathTimes = pathTimes;
      p.pathCount = 3;
    }
    p.alignToVelocity = system % 5 == 0;
    for (UintRange* r : {&p.widthStart, &p.heightStart, &p.widthEnd, &p.heightEnd})
      *r = {next() % 40, next() % 40};
    for (UintRange* r : {&p.alphaStart, &p.redStart, &p.greenStart, &p.blueStart, &p.alphaEnd,
                         &p.redEnd, &p.greenEnd, &p.blueEnd})
      *r = system % 9 == 4 ? UintRange{next(), next()} : UintRange{next() % 300, next() % 300};
    p.spinStart = {pick(-360, 360), pick(-360, 360)};
    p.spinEnd = {pick(-360, 360), pick(-360, 360)};
    for (UintRange* r : {&p.period, &p.visible, &p.widthStart, &p.heightStart, &p.alphaStart,
                         &p.redStart, &p.greenStart, &p.blueStart, &p.widthEnd, &p.heightEnd,
                         &p.alphaEnd, &p.redEnd, &p.greenEnd, &p.blueEnd})
      PrepareRange(r);
    const ULONGLONG now = system % 8 == 5 ? 0x1234567890ull : next() % 100000;

    // Seeds as the call derives them, some with the top bit set.
    std::vector<UINT> seedsA(p.count), seedsB(p.count);
    UINT a = next() | (system % 3 == 0 ? 0x80000000u : 0), b = next();
    for (UINT i = 0; i < p.count; ++i) {
      seedsA[i] = a, seedsB[i] = b;
      a = NextParticleSeed(a), b = NextParticleSeed(b);
    }
    std::vector<PrimitiveCorner> alone;
    p.pixelsUnreadable = false;
    for (UINT i = 0; i < p.count; ++i) {
      Particle particle{};
      particle.seedA = seedsA[i], particle.seedB = seedsB[i];
      PrimitiveCorner c[4];
      if (EvaluateParticle(&particle, &p, static_cast<UINT>(now)) &&
          BuildParticleQuad(&particle, &p, now, c))
        alone.insert(alone.end(), c, c + 4);
    }
    std::vector<PrimitiveCorner> blocked;
    p.pixelsUnreadable = false;
    PrimitiveCorner quads[kParticleBlock][4];
    for (UINT done = 0; done < p.count;) {
      const UINT n = std::min(p.count - done, kParticleBlock);
      const UINT built = BuildParticleBlock(&p, now, &seedsA[done], &seedsB[done], n, quads);
      ASSERT_LE(built, n);
      for (UINT k = 0; k < built; ++k) blocked.insert(blocked.end(), quads[k], quads[k] + 4);
      done += n;
    }
    ASSERT_EQ(blocked.size(), alone.size()) << "system " << system;
    if (alone.empty()) continue;  // memcmp takes no null pointers, even for no bytes
    ASSERT_EQ(std::memcmp(blocked.data(), alone.data(), alone.size() * sizeof alone[0]), 0)
        << "system " << system;
  }
}
