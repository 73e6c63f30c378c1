// The C++ layer (vek.hpp) on either build: ownership, UTF-8 at the edges,
// sprites, particle descriptions and PNG files read back exactly.
#include <vek/vek.hpp>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "graphics/frame.h"
#include "graphics/graphics.h"
#include "support/frame_probe.h"
#include "support/freeimage_suite.h"
#include "support/particle_sys.h"
#include "support/pictures.h"
#include "support/platform_test.h"

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#endif
#include <stb_image.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace {

// Every vertex queued on the surface, in list order.
std::vector<BatchVertex> Queued(HVEKGRAPHICS g) {
  std::vector<BatchVertex> out;
  for (const PBuffer* list : {&g->opaqueItems, &g->translucentItems})
    for (const DrawItem* item : PendingItems(*list)) {
      out.insert(out.end(), item->vertices, item->vertices + item->count);
    }
  return out;
}

// A decoded PNG as A8R8G8B8 values; empty when it does not decode.
std::vector<uint32_t> DecodePng(const std::vector<uint8_t>& file, int* w, int* h) {
  int channels = 0;
  unsigned char* rgba =
      stbi_load_from_memory(file.data(), static_cast<int>(file.size()), w, h, &channels, 4);
  std::vector<uint32_t> out;
  if (!rgba) return out;
  for (int i = 0; i < *w * *h; ++i)
    out.push_back(static_cast<uint32_t>(rgba[4 * i + 3]) << 24 | rgba[4 * i] << 16 |
                  rgba[4 * i + 1] << 8 | rgba[4 * i + 2]);
  stbi_image_free(rgba);
  return out;
}

std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

TEST(CppLayerTest, Utf8IsCheckedAtTheEdges) {
  using vek::detail::Utf16;
  const auto good = Utf16("A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");  // A, e acute, euro, emoji
  ASSERT_TRUE(good);
  EXPECT_EQ(*good, (vek::detail::WString{0x41, 0xE9, 0x20AC, 0xD83D, 0xDE00}));
  for (const char* bad : {"\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82", "\x80",
                          "ok\xFF", "\xE0\x9F\xBF"})
    EXPECT_FALSE(Utf16(bad)) << bad;
  const WCHAR message[] = {'x', 0xE9, 0xD83D, 0xDE00, 0xD800, 0};
  EXPECT_EQ(vek::detail::Utf8(message), "x\xC3\xA9\xF0\x9F\x98\x80\xEF\xBF\xBD");
}

// Pictures go through FreeImage; the suite links the library's static archive,
// so on Windows it loads FreeImage itself, as vek.dll does when attached.
class CppLayerDeviceTest : public WithFreeImage<PlatformTest> {};

TEST_F(CppLayerDeviceTest, HandlesCloseThemselvesAndMovesKeepOneOwner) {
  const std::vector<uint8_t> png = pictures::Png(2, 2, {0xFF0000FF, 0xFF00FF00, 0xFFFF0000, 0});
  {
    vek::Device device = vek::Device::Open(window, 64, 48).value();
    vek::Surface surface = device.WindowSurface().value();
    vek::Image image = vek::Image::FromMemory(png.data(), png.size()).value();
    EXPECT_EQ(image.Width(), 2u);
    vek::Image moved = std::move(image);
    EXPECT_EQ(image.get(), nullptr);
    EXPECT_NE(moved.get(), nullptr);
    vek::Image other = vek::Image::FromMemory(png.data(), png.size()).value();
    other = std::move(moved);  // the image `other` held is destroyed here
    EXPECT_EQ(moved.get(), nullptr);
    vek::Surface texture = device.TextureSurface(8, 8).value();
    vek::Surface stencil = texture.StencilSurface().value();
    // Closing the device first leaves surfaces that close nothing.
    device.reset();
    stencil.reset();
  }
  // Failures come back as values, and as exceptions from value().
  {
    vek::Device device = vek::Device::Open(window, 64, 48).value();
    const auto none = vek::Image::FromMemory("not a picture", 13);
    EXPECT_FALSE(none.ok());
    EXPECT_EQ(none.error().code, VEK_ERR_ARGUMENT);
    EXPECT_FALSE(none.error().message.empty());
    const auto missing = vek::Image::FromFile("/no/such/folder/picture.png");
    EXPECT_FALSE(missing.ok());
    EXPECT_NE(missing.error().message.find("not found"), std::string::npos)
        << missing.error().message;
    EXPECT_EQ(vek::Image::FromFile("bad\xFF.png").error().code, VEK_ERR_ARGUMENT);
    auto bad = vek::Image::FromMemory("x", 1);
    EXPECT_THROW(bad.value(), vek::Exception);
    EXPECT_FALSE(vek::Font::Create("DejaVu Sans", 1).ok());  // too small
  }
}

TEST_F(CppLayerDeviceTest, SpritesParticlesAndText) {
  vek::Device device = vek::Device::Open(window, 200, 150).value();
  vek::Surface surface = device.WindowSurface().value();
  HVEKGRAPHICS g = surface.get();
  // A 20 x 10 sprite at (100, 50), twice as wide, three times as high,
  // turned a quarter clockwise about its centre.
  vek::Sprite s;
  s.x = 100;
  s.y = 50;
  s.scaleX = 2;
  s.scaleY = 3;
  s.rotation = 90;
  s.originX = 10;
  s.originY = 5;
  s.colour = 0x80FFFFFF;
  surface.Draw(nullptr, 20, 10, s);
  const std::vector<BatchVertex> quad = Queued(g);
  ASSERT_EQ(quad.size(), 4u);
  const float want[4][2] = {{115, 30}, {115, 70}, {85, 70}, {85, 30}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_NEAR(quad[i].x, want[i][0], 1e-4) << i;
    EXPECT_NEAR(quad[i].y, want[i][1], 1e-4) << i;
    EXPECT_EQ(quad[i].diffuse, 0x80FFFFFFu);
  }
  surface.Begin();
  surface.End();

  // The named description queues what the positional call does.
  vek::ParticleSystem p;
  p.x = 60;
  p.y = 70;
  p.count = 30;
  p.speedMin = 10;
  p.speedMax = 40;
  p.directionMax = 360;
  p.areaWidth = 20;
  p.areaHeight = 10;
  p.drag = 0.5f;
  p.widthEndMin = p.widthEndMax = 9;
  p.redEndMin = 10;
  p.redEndMax = 200;
  p.seedA = 7;
  p.seedB = 9;
  EXPECT_EQ(surface.Draw(p, 1234), 30);
  const std::vector<BatchVertex> named = Queued(g);
  surface.Begin();
  surface.End();
  Sys sys;
  sys.x = 60;
  sys.y = 70;
  sys.count = 30;
  sys.speed[0] = 10;
  sys.speed[1] = 40;
  sys.direction[1] = 360;
  sys.absoluteDirection = 0;
  sys.areaWidth = 20;
  sys.areaHeight = 10;
  sys.drag = 0.5f;
  for (auto* pair : {sys.start[0], sys.start[1], sys.end[0], sys.end[1]}) pair[0] = pair[1] = 4;
  sys.end[0][0] = sys.end[0][1] = 9;
  sys.end[3][0] = 10;
  sys.end[3][1] = 200;
  sys.seedA = 7;
  sys.seedB = 9;
  sys.time = 1234;
  EXPECT_EQ(Draw(g, sys), 30);
  const std::vector<BatchVertex> positional = Queued(g);
  ASSERT_EQ(named.size(), positional.size());
  EXPECT_EQ(std::memcmp(named.data(), positional.data(), named.size() * sizeof(BatchVertex)), 0);
  surface.Begin();
  surface.End();
  EXPECT_FALSE(surface.Text(vek::Font(), "bad\xC0", 0, 0));
}

TEST_F(CppLayerDeviceTest, PngFilesReadBackExactly) {
  vek::Device device = vek::Device::Open(window, 40, 30).value();
  std::vector<uint32_t> argb(5 * 3);
  for (size_t i = 0; i < argb.size(); ++i)
    argb[i] = static_cast<uint32_t>(i * 0x11) << 24 | static_cast<uint32_t>(i * 0x0F0D0B);
  const std::vector<uint8_t> png = pictures::Png(5, 3, argb);
  vek::Image image = vek::Image::FromMemory(png.data(), png.size()).value();
  const std::filesystem::path imagePng =
      std::filesystem::temp_directory_path() / "vek_cpp_image.png";
  ASSERT_TRUE(vek::SavePng(image, imagePng).ok());
  int w = 0, h = 0;
  EXPECT_EQ(DecodePng(ReadFile(imagePng), &w, &h), argb);
  EXPECT_EQ(w, 5);
  EXPECT_EQ(h, 3);

  vek::Surface surface = device.WindowSurface().value();
  surface.Begin();
  surface.Clear(0xFF203040);
  vek::Sprite s;
  s.x = 10;
  s.y = 5;
  s.colour = 0xFFFF8000;
  surface.Draw(nullptr, 8, 6, s);
  surface.End();
  unsigned sw = 0, sh = 0;
  const std::vector<uint32_t> shown = surface.Pixels(&sw, &sh).value();
  ASSERT_EQ(sw, 40u);
  ASSERT_EQ(sh, 30u);
  EXPECT_EQ(shown[7 * 40 + 12], 0xFFFF8000u);
  EXPECT_EQ(shown[0], 0xFF203040u);
  const std::filesystem::path surfacePng =
      std::filesystem::temp_directory_path() / "vek_cpp_surface.png";
  ASSERT_TRUE(vek::SavePng(surface, surfacePng).ok());
  EXPECT_EQ(DecodePng(ReadFile(surfacePng), &w, &h), shown);
  // A picture larger than one stored block (65535 bytes of rows).
  std::vector<uint32_t> big(200 * 100, 0x80402010u);
  big[12345] = 0xFFFFFFFFu;
  const std::vector<uint8_t> file = vek::EncodePng(200, 100, big.data());
  EXPECT_EQ(DecodePng(file, &w, &h), big);
  std::filesystem::remove(imagePng);
  std::filesystem::remove(surfacePng);
}

}  // namespace
