// The pictures the demo, the scenes and the fuzzer's seeds are made of: each
// format loaded back through VekCreateImage gives the pixels it was made
// from, within what the format keeps, on either build.
#include "pictures.h"

#include <rask.h>
#include <vek/vek.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/freeimage_suite.h"
#include "support/platform_test.h"
#include "vekimage/freeimage.h"

namespace {

struct Case {
  const char* format;
  const char* pattern;
  int colourTolerance;  // per channel
  int alphaTolerance;   // against the source alpha, or -1: always opaque
};

class PicturesTest : public WithFreeImage<PlatformTest> {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    ASSERT_TRUE(FreeImageAvailable()) << "FreeImage did not load";
    device = VekOpenGraphicsDevice(0, window, 0, 1, 0, 0, 32, 0);
    ASSERT_NE(device, nullptr);
  }
  void TearDown() override {
    VekDestroyImage(image);
    if (device) VekCloseGraphicsDevice(device);
    PlatformTest::TearDown();
  }
  HVEKIMAGE Load(const std::vector<uint8_t>& bytes) {
    HRASKFILE file =
        RaskCreateFileFromMemory(bytes.data(), static_cast<DWORD>(bytes.size()), nullptr);
    HVEKIMAGE loaded = VekCreateImage(file);
    RaskDestroyFile(file);
    return loaded;
  }
  static int Channel(DWORD argb, int shift) { return static_cast<int>(argb >> shift & 0xFF); }

  HVEKDEVICE device = nullptr;
  HVEKIMAGE image = nullptr;
};

TEST_F(PicturesTest, EveryFormatLoadsBackAsItsPixels) {
  // Tiles are uniform over whole 4 x 4 blocks, so DXT keeps them up to its
  // 5:6:5 colours and (DXT3) 4-bit alpha; JPEG at quality 100 stays close
  // on smooth rings; BMP and JPEG have no alpha, nor has DXT1 as encoded.
  const Case cases[] = {
      {"png", "tiles", 0, 0},   {"png", "glow", 0, 0},   {"dds32", "glow", 0, 0},
      {"bmp", "rings", 0, -1},  {"jpeg", "sky", 3, -1},  {"jpeg", "rings", 20, -1},
      {"dxt1", "tiles", 4, -1}, {"dxt3", "tiles", 4, 9}, {"dxt5", "tiles", 4, 0},
  };
  const int width = 32, height = 24;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.format) + " " + c.pattern);
    vekpic::Format format;
    ASSERT_TRUE(vekpic::ParseFormat(c.format, &format));
    const std::vector<uint32_t> pixels = vekpic::Pattern(c.pattern, width, height);
    ASSERT_EQ(pixels.size(), size_t{width * height});
    VekDestroyImage(image);
    image = Load(vekpic::Encode(format, width, height, pixels));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(VekGetImageSize(image), static_cast<UINT>(width | height << 16));
    int worstColour = 0, worstAlpha = 0;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const DWORD got = VekGetImageColor(image, x, y);
        const uint32_t want = pixels[size_t(y) * width + x];
        for (int shift = 0; shift < 24; shift += 8)
          worstColour = std::max(worstColour, std::abs(Channel(got, shift) - Channel(want, shift)));
        if (c.alphaTolerance < 0)
          EXPECT_EQ(Channel(got, 24), 0xFF) << x << "," << y;
        else
          worstAlpha = std::max(worstAlpha, std::abs(Channel(got, 24) - Channel(want, 24)));
      }
    }
    EXPECT_LE(worstColour, c.colourTolerance);
    EXPECT_LE(worstAlpha, std::max(c.alphaTolerance, 0));
  }
}

TEST(PictureMaking, RefusesWhatItCannotMake) {
  vekpic::Format format;
  EXPECT_FALSE(vekpic::ParseFormat("tga", &format));
  EXPECT_TRUE(vekpic::Pattern("plaid", 8, 8).empty());
  EXPECT_TRUE(vekpic::Pattern("tiles", 0, 8).empty());
  const std::vector<uint32_t> six = vekpic::Pattern("tiles", 6, 6);
  ASSERT_EQ(six.size(), 36u);
  // DXT needs whole blocks; every format needs exactly width x height pixels.
  EXPECT_TRUE(vekpic::Encode(vekpic::Format::kDxt5, 6, 6, six).empty());
  EXPECT_TRUE(vekpic::Encode(vekpic::Format::kPng, 6, 5, six).empty());
  EXPECT_FALSE(vekpic::Encode(vekpic::Format::kPng, 6, 6, six).empty());
}

TEST(PictureMaking, DxtBlocksFollowTheHeader) {
  // 8 x 4 texels: two blocks in a row, 8 bytes each for DXT1, 16 for DXT3/5,
  // behind the 128-byte header that names the size and the FourCC.
  const std::vector<uint32_t> pixels = vekpic::Pattern("tiles", 8, 4);
  const struct {
    vekpic::Format format;
    const char* fourcc;
    size_t size;
  } cases[] = {{vekpic::Format::kDxt1, "DXT1", 128 + 16},
               {vekpic::Format::kDxt3, "DXT3", 128 + 32},
               {vekpic::Format::kDxt5, "DXT5", 128 + 32}};
  for (const auto& c : cases) {
    const std::vector<uint8_t> file = vekpic::Encode(c.format, 8, 4, pixels);
    ASSERT_EQ(file.size(), c.size) << c.fourcc;
    EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "DDS ");
    EXPECT_EQ(std::string(file.begin() + 84, file.begin() + 88), c.fourcc);
    EXPECT_EQ(file[12], 4);             // height
    EXPECT_EQ(file[16], 8);             // width
    EXPECT_EQ(file[20], c.size - 128);  // linear size
  }
}

}  // namespace
