// The library's own exp, sin, cos and acos: within one float step of the
// C library's double results over the ranges particles use, and a few
// values pinned to the bit so both builds are held to the same answers.
#include "particles/pmath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

uint32_t Bits(float f) {
  uint32_t b;
  std::memcpy(&b, &f, 4);
  return b;
}

// Only on POSIX: the 32-bit Windows C library runs on the x87, whose
// precision an earlier device in the same process may have lowered.
#ifndef _WIN32
// Distance in float steps between got and the float nearest to want.
int64_t Ulps(float got, double want) {
  const float w = static_cast<float>(want);
  auto ordered = [](float f) {
    const int64_t b = static_cast<int32_t>(Bits(f));
    return b < 0 ? -(b & 0x7FFFFFFF) : b;
  };
  return std::llabs(ordered(got) - ordered(w));
}

TEST(ParticleMathTest, AgreesWithTheCLibraryWithinOneStep) {
  int64_t worstExp = 0, worstSin = 0, worstCos = 0, worstAcos = 0;
  for (int i = 0; i <= 200000; ++i) {
    const float e = -100.0f + 188.0f * static_cast<float>(i) / 200000.0f;
    worstExp = std::max(worstExp, Ulps(pmath::Exp(e), std::exp(double(e))));
    // Angles of a few turns, and the spins of long-lived particles.
    const float a = -50.0f + 100.0f * static_cast<float>(i) / 200000.0f;
    const float big = 1.0e6f * static_cast<float>(i) / 200000.0f;
    for (float x : {a, big}) {
      float s, c;
      pmath::SinCos(x, &s, &c);
      // Near zeros a step is tiny; compare those absolutely.
      const double rs = std::sin(double(x)), rc = std::cos(double(x));
      if (std::fabs(rs) > 1e-3)
        worstSin = std::max(worstSin, Ulps(s, rs));
      else
        EXPECT_NEAR(s, rs, 1e-9) << x;
      if (std::fabs(rc) > 1e-3)
        worstCos = std::max(worstCos, Ulps(c, rc));
      else
        EXPECT_NEAR(c, rc, 1e-9) << x;
    }
    const float x = -1.0f + 2.0f * static_cast<float>(i) / 200000.0f;
    worstAcos = std::max(worstAcos, Ulps(pmath::Acos(x), std::acos(double(x))));
  }
  EXPECT_LE(worstExp, 1);
  EXPECT_LE(worstSin, 1);
  EXPECT_LE(worstCos, 1);
  EXPECT_LE(worstAcos, 1);
}
#endif

// Every result over the same grids, hashed: the value is the POSIX build's,
// so the Windows build must give the same bits everywhere.
TEST(ParticleMathTest, SameBitsOnBothBuilds) {
  uint64_t hash = 14695981039346656037ull;
  auto mix = [&](float f) { hash = (hash ^ Bits(f)) * 1099511628211ull; };
  // Inputs exact in float on any arithmetic: multiples of a power of two.
  for (int i = 0; i <= 192512; ++i) mix(pmath::Exp(static_cast<float>(i) * 0x1p-10f - 100.0f));
  for (int i = 0; i <= 128000; ++i) {
    float s, c;
    pmath::SinCos(static_cast<float>(i) * 0x1p-6f - 1000.0f, &s, &c);
    mix(s);
    mix(c);
  }
  for (int i = 0; i <= 131072; ++i) mix(pmath::Acos(static_cast<float>(i) * 0x1p-16f - 1.0f));
  EXPECT_EQ(hash, 13203206816186546635ull);
}

TEST(ParticleMathTest, AcosInLanesGivesEachLaneAcos) {
  // Every float step around the branch points (0.5, -0.5), the ends and
  // zero, random values, and values outside the range or not numbers.
  std::vector<float> xs = {-1.0f, 1.0f, 0.0f,     -0.0f,     1.5f,   -1.5f,
                           NAN,   -NAN, INFINITY, -INFINITY, 1e-30f, -1e-30f};
  for (float centre : {-1.0f, -0.5f, 0.0f, 0.5f, 1.0f}) {
    float up = centre, down = centre;
    for (int i = 0; i < 300; ++i) {
      xs.push_back(up = std::nextafter(up, 2.0f));
      xs.push_back(down = std::nextafter(down, -2.0f));
    }
  }
  uint32_t mix = 3;
  for (int i = 0; i < 20000; ++i) {
    mix = mix * 1664525u + 1013904223u;
    xs.push_back(static_cast<float>(mix >> 8) * 0x1p-23f - 1.0f);
  }
  while (xs.size() % 4) xs.push_back(0.25f);
  for (size_t i = 0; i < xs.size(); i += 4) {
    float got[4];
    _mm_storeu_ps(got, pmath::Acos4(_mm_loadu_ps(&xs[i])));
    for (int j = 0; j < 4; ++j) ASSERT_EQ(Bits(got[j]), Bits(pmath::Acos(xs[i + j]))) << xs[i + j];
    // In groups of one to four side by side, this group the last.
    const int groups = 1 + static_cast<int>(i / 4 % 4);
    if (i >= 4 * static_cast<size_t>(groups - 1)) {
      __m128 in[4], out[4];
      for (int g = 0; g < groups; ++g) in[g] = _mm_loadu_ps(&xs[i - 4 * (groups - 1 - g)]);
      pmath::AcosGroups(in, out, groups);
      for (int g = 0; g < groups; ++g) {
        float each[4];
        _mm_storeu_ps(each, out[g]);
        for (int j = 0; j < 4; ++j) {
          const float x = xs[i - 4 * (groups - 1 - g) + j];
          ASSERT_EQ(Bits(each[j]), Bits(pmath::Acos(x))) << x << " in " << groups;
        }
      }
    }
#ifdef VEK_PMATH_WIDE
    if (!__builtin_cpu_supports("avx2")) continue;
    _mm_storeu_ps(got, pmath::Acos4Wide(_mm_loadu_ps(&xs[i])));
    for (int j = 0; j < 4; ++j) ASSERT_EQ(Bits(got[j]), Bits(pmath::Acos(xs[i + j]))) << xs[i + j];
#endif
  }
}

TEST(ParticleMathTest, SineAndCosineInLanesGiveEachLaneSinCos) {
  // Quadrant boundaries and ties of the reduction, both signs of zero, the
  // 2^30 limit, huge, infinite and NaN values, and random angles.
  std::vector<float> xs = {0.0f,   -0.0f, 1e-30f,   -1e-30f,   1073741824.0f, -1073741824.0f,
                           3.0e9f, 3e38f, INFINITY, -INFINITY, NAN,           -NAN};
  for (int q = -40; q <= 40; ++q) {
    const float centre = static_cast<float>(q) * 0.78539816f;  // odd multiples of pi / 4 too
    float up = centre, down = centre;
    for (int i = 0; i < 40; ++i) {
      xs.push_back(up = std::nextafter(up, INFINITY));
      xs.push_back(down = std::nextafter(down, -INFINITY));
    }
  }
  for (float top : {1073741824.0f, -1073741824.0f, 1e6f}) {
    float f = top;
    for (int i = 0; i < 20; ++i) xs.push_back(f = std::nextafter(f, 0.0f));
  }
  uint32_t mix = 9;
  for (int i = 0; i < 20000; ++i) {
    mix = mix * 1664525u + 1013904223u;
    const float scale = (mix & 3) == 0 ? 1.0f : (mix & 3) == 1 ? 10.0f : 5000.0f;
    xs.push_back((static_cast<float>(mix >> 8) * 0x1p-23f - 1.0f) * scale);
  }
  while (xs.size() % 4) xs.push_back(0.5f);
  for (size_t i = 0; i < xs.size(); i += 4) {
    __m128 s, c;
    pmath::SinCosLanes(_mm_loadu_ps(&xs[i]), &s, &c);
    float gs[4], gc[4];
    _mm_storeu_ps(gs, s);
    _mm_storeu_ps(gc, c);
    for (int j = 0; j < 4; ++j) {
      float ws, wc;
      pmath::SinCos(xs[i + j], &ws, &wc);
      ASSERT_EQ(Bits(gs[j]), Bits(ws)) << xs[i + j];
      ASSERT_EQ(Bits(gc[j]), Bits(wc)) << xs[i + j];
    }
  }
}

TEST(ParticleMathTest, ExpInLanesGivesEachLaneExp) {
  // The limits (89 and -104) and the steps about them, the reduction's ties
  // (halfway between multiples of ln 2), zeros, infinities, NaN and random
  // powers across the whole range and beyond.
  std::vector<float> xs = {0.0f, -0.0f, 89.0f, -104.0f, INFINITY, -INFINITY, NAN, -NAN, 1e-30f};
  for (float edge : {89.0f, -104.0f, 0.0f}) {
    float up = edge, down = edge;
    for (int i = 0; i < 20; ++i) {
      xs.push_back(up = std::nextafter(up, INFINITY));
      xs.push_back(down = std::nextafter(down, -INFINITY));
    }
  }
  for (int k = -150; k <= 128; ++k) {
    const float tie = (static_cast<float>(k) + 0.5f) * 0.69314718f;
    xs.push_back(tie);
    xs.push_back(std::nextafter(tie, INFINITY));
    xs.push_back(std::nextafter(tie, -INFINITY));
  }
  uint32_t mix = 13;
  for (int i = 0; i < 20000; ++i) {
    mix = mix * 1664525u + 1013904223u;
    xs.push_back(static_cast<float>(mix >> 8) * 0x1p-24f * 220.0f - 115.0f);
  }
  while (xs.size() % 4) xs.push_back(1.0f);
  for (size_t i = 0; i < xs.size(); i += 4) {
    float got[4];
    _mm_storeu_ps(got, pmath::ExpLanes(_mm_loadu_ps(&xs[i])));
    for (int j = 0; j < 4; ++j) ASSERT_EQ(Bits(got[j]), Bits(pmath::Exp(xs[i + j]))) << xs[i + j];
  }
}

TEST(ParticleMathTest, PinnedValuesAndTheEdges) {
  EXPECT_EQ(Bits(pmath::Exp(0.0f)), 0x3F800000u);
  EXPECT_EQ(Bits(pmath::Exp(1.0f)), 0x402DF854u);   // 2.7182817
  EXPECT_EQ(Bits(pmath::Exp(-1.0f)), 0x3EBC5AB2u);  // 0.36787945
  EXPECT_EQ(pmath::Exp(-200.0f), 0.0f);
  EXPECT_TRUE(std::isinf(pmath::Exp(100.0f)));
  EXPECT_TRUE(std::isnan(pmath::Exp(NAN)));

  float s, c;
  pmath::SinCos(0.0f, &s, &c);
  EXPECT_EQ(s, 0.0f);
  EXPECT_EQ(c, 1.0f);
  pmath::SinCos(1.0f, &s, &c);
  EXPECT_EQ(Bits(s), 0x3F576AA4u);  // 0.84147096
  EXPECT_EQ(Bits(c), 0x3F0A5140u);  // 0.5403023
  pmath::SinCos(6.2831855f, &s, &c);
  EXPECT_EQ(c, 1.0f);
  pmath::SinCos(3.0e9f, &s, &c);  // beyond any meaningful angle
  EXPECT_EQ(s, 0.0f);
  EXPECT_EQ(c, 1.0f);
  pmath::SinCos(INFINITY, &s, &c);
  EXPECT_TRUE(std::isnan(s) && std::isnan(c));

  EXPECT_EQ(Bits(pmath::Acos(-1.0f)), 0x40490FDBu);  // pi
  EXPECT_EQ(Bits(pmath::Acos(0.0f)), 0x3FC90FDBu);   // pi / 2
  EXPECT_EQ(pmath::Acos(1.0f), 0.0f);
  EXPECT_TRUE(std::isnan(pmath::Acos(1.5f)));
}

TEST(ParticleMathTest, ConversionsSaturateAndRoundOnce) {
  EXPECT_EQ(pmath::U32ToFloat(0xFFFFFFFFu), 4294967296.0f);
  EXPECT_EQ(pmath::U32ToDouble(0x80000001u), 2147483649.0);
  EXPECT_EQ(pmath::U64ToDouble(0x123456789ull << 20), double(0x123456789ull << 20));
  EXPECT_EQ(pmath::FloatToU32(-3.0f), 0u);
  EXPECT_EQ(pmath::FloatToU32(NAN), 0u);
  EXPECT_EQ(pmath::FloatToU32(4.99f), 4u);
  EXPECT_EQ(pmath::FloatToU32(3.0e9f), 3000000000u);
  EXPECT_EQ(pmath::FloatToU32(1.0e20f), 0xFFFFFFFFu);
}

}  // namespace
