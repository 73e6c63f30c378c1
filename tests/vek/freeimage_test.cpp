// Pictures decoded through FreeImage into 32-bit DDS file images, on either
// build's Direct3D 8 and FreeImage.
#include "vekimage/freeimage.h"

#include <vek/vek.h>

#include <cstring>
#include <string>
#include <vector>

#include "gd/device.h"
#include "support/diagnostics.h"
#include "support/freeimage_suite.h"
#include "support/kept_image.h"
#include "support/pictures.h"
#include "support/platform_test.h"
#include "support/surface_test.h"
#include "vekimage/image.h"

namespace {

class FreeImageTest : public WithDevice<WithFreeImage<PlatformTest>> {
 protected:
  void SetUp() override {
    WithDevice::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(FreeImageAvailable()) << "FreeImage did not load";
  }
  void TearDown() override {
    if (image.texture.data) Free(image.texture.data);
    WithDevice::TearDown();
  }
  // Fills the image record with a copy of `file`, as the image loader does
  // before decoding.
  void Keep(const std::vector<uint8_t>& file) { ASSERT_TRUE(KeepFile(&image, file)); }
  uint32_t Pixel(UINT x, UINT y) const {
    uint32_t v;
    std::memcpy(&v, image.texture.data + 128 + (size_t(y) * image.texture.width + x) * 4, 4);
    return v;
  }
  uint32_t HeaderWord(size_t offset) const {
    uint32_t v;
    std::memcpy(&v, image.texture.data + offset, 4);
    return v;
  }

  VekImage image{};
};

// Distinct colours per pixel, top row first, with varied alpha.
const std::vector<uint32_t> k3x2 = {
    0xFF102030, 0x80405060, 0x00708090,  // top row
    0xC0A0B0C0, 0xFFD0E0F0, 0x40010203,
};

int Distance(uint32_t a, uint32_t b) {
  int worst = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    const int d = int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF);
    worst = std::max(worst, d < 0 ? -d : d);
  }
  return worst;
}

TEST_F(FreeImageTest, PngKeepsAlphaAndBecomesATopDownDdsFile) {
  Keep(pictures::Png(3, 2, k3x2));
  ASSERT_TRUE(HueImage_OtherFormat(&image, kFifPng));
  EXPECT_EQ(image.texture.dataSize, 152u);  // 128 + 3 x 2 x 4
  EXPECT_EQ(image.texture.width, 3u);
  EXPECT_EQ(image.texture.height, 2u);
  EXPECT_EQ(image.texture.contentScaleX, 1.0f);
  EXPECT_EQ(image.texture.contentScaleY, 1.0f);
  ASSERT_EQ(std::memcmp(image.texture.data, "DDS ", 4), 0);
  EXPECT_EQ(HeaderWord(12), 2u);
  EXPECT_EQ(HeaderWord(16), 3u);
  EXPECT_EQ(HeaderWord(20), 24u);
  for (UINT y = 0; y < 2; ++y)
    for (UINT x = 0; x < 3; ++x) EXPECT_EQ(Pixel(x, y), k3x2[y * 3 + x]) << x << "," << y;
}

TEST_F(FreeImageTest, BmpAndJpegGainOpaqueAlpha) {
  // Corners differ so that a flipped or mirrored copy shows.
  std::vector<uint32_t> argb(5 * 3, 0x00336699);
  argb[0] = 0x00FF0000;
  argb[4] = 0x0000FF00;
  argb[10] = 0x000000FF;
  argb[14] = 0x00FFFFFF;
  Keep(pictures::Bmp24(5, 3, argb));
  ASSERT_TRUE(HueImage_OtherFormat(&image, kFifBmp));
  EXPECT_EQ(image.texture.dataSize, 128u + 5 * 3 * 4);
  for (UINT y = 0; y < 3; ++y)
    for (UINT x = 0; x < 5; ++x)
      EXPECT_EQ(Pixel(x, y), argb[y * 5 + x] | 0xFF000000u) << x << "," << y;
  Free(image.texture.data);
  image.texture.data = nullptr;

  // Large flat areas survive JPEG nearly unchanged; alpha is made opaque.
  std::vector<uint32_t> halves(16 * 16);
  for (UINT y = 0; y < 16; ++y)
    for (UINT x = 0; x < 16; ++x) halves[y * 16 + x] = y < 8 ? 0x00C83214 : 0x001464C8;
  Keep(pictures::Jpeg(16, 16, halves));
  ASSERT_TRUE(HueImage_OtherFormat(&image, kFifJpeg));
  EXPECT_EQ(image.texture.width, 16u);
  EXPECT_EQ(image.texture.height, 16u);
  EXPECT_EQ(image.texture.dataSize, 128u + 16 * 16 * 4);
  for (UINT y = 0; y < 16; ++y) {
    for (UINT x = 0; x < 16; ++x) {
      EXPECT_EQ(Pixel(x, y) >> 24, 0xFFu);
      EXPECT_LE(Distance(Pixel(x, y) & 0xFFFFFF, halves[y * 16 + x]), 12) << x << "," << y;
    }
  }
}

TEST_F(FreeImageTest, HeaderDescribesUncompressed32BitPixels) {
  std::vector<BYTE> block(128, 0xEE);  // every byte must be written
  WriteDdsHeader(block.data(), 300, 200);
  const uint32_t expected[32] = {0x20534444, 124,        0x00081007, 200,    300, 300 * 200 * 4,
                                 0,          0,          0,          0,      0,   0,
                                 0,          0,          0,          0,      0,   0,
                                 0,          32,         0x41,       0,      32,  0x00FF0000,
                                 0x0000FF00, 0x000000FF, 0xFF000000, 0x1000, 0,   0,
                                 0,          0};
  for (int i = 0; i < 32; ++i) {
    uint32_t word;
    std::memcpy(&word, block.data() + 4 * i, 4);
    EXPECT_EQ(word, expected[i]) << "offset " << 4 * i;
  }
}

TEST_F(FreeImageTest, PowerOfTwoDevicePadsWithTransparentBlack) {
  device->texturesPow2 = 1;
  Keep(pictures::Png(3, 2, k3x2));
  ASSERT_TRUE(HueImage_OtherFormat(&image, kFifPng));
  EXPECT_EQ(image.texture.width, 4u);
  EXPECT_EQ(image.texture.height, 4u);  // 2 is a power of two already and doubles
  EXPECT_EQ(image.texture.dataSize, 128u + 4 * 4 * 4);
  EXPECT_EQ(image.texture.contentScaleX, 0.75f);
  EXPECT_EQ(image.texture.contentScaleY, 0.5f);
  EXPECT_EQ(HeaderWord(12), 4u);
  EXPECT_EQ(HeaderWord(16), 4u);
  EXPECT_EQ(HeaderWord(20), 64u);
  for (UINT y = 0; y < 4; ++y) {
    for (UINT x = 0; x < 4; ++x) {
      const uint32_t want = (x < 3 && y < 2) ? k3x2[y * 3 + x] : 0u;
      EXPECT_EQ(Pixel(x, y), want) << x << "," << y;
    }
  }
  Free(image.texture.data);
  image.texture.data = nullptr;

  // Both sides powers of two: kept as they are.
  std::vector<uint32_t> square(256 * 256);
  for (size_t i = 0; i < square.size(); ++i)
    square[i] = 0xFF000000u | uint32_t(i * 2654435761u >> 8);
  Keep(pictures::Png(256, 256, square));
  ASSERT_TRUE(HueImage_OtherFormat(&image, kFifPng));
  EXPECT_EQ(image.texture.width, 256u);
  EXPECT_EQ(image.texture.height, 256u);
  EXPECT_EQ(image.texture.dataSize, 128u + 256 * 256 * 4);
  EXPECT_EQ(image.texture.contentScaleX, 1.0f);
  EXPECT_EQ(image.texture.contentScaleY, 1.0f);
  EXPECT_EQ(Pixel(255, 0), square[255]);
  EXPECT_EQ(Pixel(0, 255), square[255 * 256]);
  Free(image.texture.data);
  image.texture.data = nullptr;

  // One side a power of two, the other not: both grow, the power doubling.
  Keep(pictures::Bmp24(200, 64, std::vector<uint32_t>(200 * 64, 0x00808080)));
  ASSERT_TRUE(HueImage_OtherFormat(&image, kFifBmp));
  EXPECT_EQ(image.texture.width, 256u);
  EXPECT_EQ(image.texture.height, 128u);
  EXPECT_EQ(image.texture.contentScaleX, 0.78125f);
  EXPECT_EQ(image.texture.contentScaleY, 0.5f);
  EXPECT_EQ(Pixel(199, 63), 0xFF808080u);
  EXPECT_EQ(Pixel(200, 63), 0u);
  EXPECT_EQ(Pixel(199, 64), 0u);
}

TEST_F(FreeImageTest, UndecodableBytesAreReleased) {
  std::vector<uint8_t> junk = pictures::Png(3, 2, k3x2);
  junk.resize(40);  // signature and part of the header only
  Keep(junk);
  testing::internal::CaptureStdout();
  EXPECT_FALSE(HueImage_OtherFormat(&image, kFifPng));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), Printed(ImageLine::kCloseMemory));
  EXPECT_EQ(image.texture.data, nullptr);
  EXPECT_EQ(image.texture.dataSize, 0u);

  // Bytes of one format handed over as another are refused as well.
  Keep(pictures::Png(3, 2, k3x2));
  testing::internal::CaptureStdout();
  EXPECT_FALSE(HueImage_OtherFormat(&image, kFifBmp));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(image.texture.data, nullptr);
  EXPECT_EQ(image.texture.dataSize, 0u);
}

TEST_F(FreeImageTest, AllocationFailureReleasesTheFileBytes) {
  Keep(pictures::Png(3, 2, k3x2));
  FailMalloc(0, 1);
  testing::internal::CaptureStdout();
  const bool ok = HueImage_OtherFormat(&image, kFifPng);
  const std::string out = testing::internal::GetCapturedStdout();
  FailMalloc(0, 0);
  EXPECT_FALSE(ok);
  EXPECT_EQ(out, Printed(ImageLine::kMallocFile));
  EXPECT_EQ(image.texture.data, nullptr);
  EXPECT_EQ(image.texture.dataSize, 0u);
  EXPECT_EQ(image.texture.width, 0u);  // nothing describes a picture that was not kept
}

}  // namespace
