// Image colour effects on either build: the pixel operations' values, the
// exports' checks, windows on plain pictures, DXT end points and re-encoded
// blocks (DXT1 transparency kept), and short DXT data.
#include <rask.h>
#include <vek/vek.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "support/dds.h"
#include "support/diagnostics.h"
#include "support/kept_image.h"
#include "support/platform_test.h"
#include "support/surface_test.h"
#include "vekimage/dxt.h"
#include "vekimage/dxt_encode.h"
#include "vekimage/effects.h"

namespace {

struct Bgr {
  int b, g, r;
};

Bgr Apply(PixelOperation op, Bgr in, INT p) {
  BYTE px[4] = {BYTE(in.b), BYTE(in.g), BYTE(in.r), 77};
  op(px, p);
  EXPECT_EQ(px[3], 77) << "alpha changed";
  return {px[0], px[1], px[2]};
}

#define EXPECT_BGR(got, eb, eg, er)                            \
  do {                                                         \
    const Bgr g_ = (got);                                      \
    EXPECT_TRUE(g_.b == (eb) && g_.g == (eg) && g_.r == (er))  \
        << "got B " << g_.b << " G " << g_.g << " R " << g_.r; \
  } while (0)

TEST(PixelEffectTest, WorkedValues) {
  EXPECT_BGR(Apply(GreyPixel, {10, 20, 31}, 0), 20, 20, 20);

  EXPECT_BGR(Apply(BrightenPixel, {100, 100, 100}, 50), 177, 177, 177);
  EXPECT_BGR(Apply(BrightenPixel, {100, 100, 100}, -50), 50, 50, 50);
  EXPECT_BGR(Apply(BrightenPixel, {100, 0, 255}, 100), 255, 255, 255);
  EXPECT_BGR(Apply(BrightenPixel, {100, 0, 255}, -100), 0, 0, 0);
  // Levels beyond the ends are the ends, not wrapped bytes.
  EXPECT_BGR(Apply(BrightenPixel, {100, 0, 255}, 150), 255, 255, 255);
  EXPECT_BGR(Apply(BrightenPixel, {100, 0, 255}, -250), 0, 0, 0);
  EXPECT_BGR(Apply(BrightenPixel, {100, 0, 255}, INT(0x80000000)), 0, 0, 0);

  EXPECT_BGR(Apply(HueRotatePixel, {0, 0, 255}, 30), 0, 119, 255);
  EXPECT_BGR(Apply(HueRotatePixel, {0, 0, 255}, 60), 0, 255, 255);
  EXPECT_BGR(Apply(HueRotatePixel, {0, 0, 255}, 120), 0, 255, 0);
  EXPECT_BGR(Apply(HueRotatePixel, {0, 0, 255}, 240), 255, 0, 0);

  // (R 1, G 2, B 3) through every type.
  const Bgr rgb123{3, 2, 1};
  EXPECT_BGR(Apply(SwapChannelsPixel, rgb123, 0), 3, 2, 1);
  EXPECT_BGR(Apply(SwapChannelsPixel, rgb123, 1), 2, 3, 1);
  EXPECT_BGR(Apply(SwapChannelsPixel, rgb123, 2), 3, 1, 2);
  EXPECT_BGR(Apply(SwapChannelsPixel, rgb123, 3), 1, 3, 2);
  EXPECT_BGR(Apply(SwapChannelsPixel, rgb123, 4), 1, 2, 3);
  EXPECT_BGR(Apply(SwapChannelsPixel, rgb123, 5), 2, 1, 3);
}

TEST(PixelEffectTest, HueKeepsExtremesAndLeavesGreys) {
  for (int r = 0; r < 256; r += 15)
    for (int g = 0; g < 256; g += 17)
      for (int b = 0; b < 256; b += 51)
        for (int d = 1; d < 360; d += 7) {
          const Bgr out = Apply(HueRotatePixel, {b, g, r}, d);
          ASSERT_EQ(std::max({out.r, out.g, out.b}), std::max({r, g, b}))
              << r << " " << g << " " << b << " " << d;
          ASSERT_EQ(std::min({out.r, out.g, out.b}), std::min({r, g, b}))
              << r << " " << g << " " << b << " " << d;
        }
  EXPECT_BGR(Apply(HueRotatePixel, {90, 90, 90}, 200), 90, 90, 90);
}

// ---- Images -----------------------------------------------------------------

uint32_t Argb(int a, int r, int g, int b) { return uint32_t(a) << 24 | r << 16 | g << 8 | b; }

class ImageEffectTest : public WithDevice<PlatformTest> {
 protected:
  void TearDown() override {
    for (VekImage* image : images_) DestroyImage(image);
    WithDevice<PlatformTest>::TearDown();
  }

  // A pending image holding exactly `file` (a DDS file image).
  VekImage* Kept(UINT width, UINT height, INT compression, const std::vector<uint8_t>& file) {
    auto* image = static_cast<VekImage*>(Malloc(sizeof(VekImage)));
    if (!image || !KeepFile(image, file)) {
      ADD_FAILURE() << "no memory";
      if (image) Free(image);
      return nullptr;
    }
    image->texture.width = width;
    image->texture.height = height;
    image->texture.compression = compression;
    image->texture.format = D3DFMT_A8R8G8B8;
    images_.push_back(image);
    return image;
  }
  VekImage* Plain(UINT width, UINT height, const std::vector<uint32_t>& argb) {
    std::vector<uint8_t> file = testdds::Header(width, height, nullptr, argb.size() * 4);
    std::memcpy(file.data() + 128, argb.data(), argb.size() * 4);
    return Kept(width, height, kCompressionNone, file);
  }
  static uint32_t PixelAt(const VekImage* image, size_t i) {
    uint32_t v;
    std::memcpy(&v, image->texture.data + 128 + 4 * i, 4);
    return v;
  }
  static std::vector<uint8_t> Bytes(const VekImage* image) {
    return {image->texture.data, image->texture.data + image->texture.dataSize};
  }
  // Every pixel of a pending DXT or plain image, decoded.
  static std::vector<DWORD> Decoded(VekImage* image) {
    std::vector<DWORD> out;
    for (UINT y = 0; y < image->texture.height; ++y)
      for (UINT x = 0; x < image->texture.width; ++x) out.push_back(GetColorFromTex(image, x, y));
    return out;
  }
  // What a refused call prints; it must return 0 and record -5.
  static std::string Refused(const std::function<INT()>& call) {
    ClearError();
    testing::internal::CaptureStdout();
    const INT got = call();
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(got, 0) << printed;
    EXPECT_EQ(ReadError().code, -5) << printed;
    return printed;
  }

  std::vector<VekImage*> images_;
};

// Each export with parameters that change nothing.
struct NeutralCall {
  const char* name;
  INT (*call)(HVEKIMAGE);
  ImageLine textureLine, noDataLine;
};
const NeutralCall kNeutralCalls[] = {
    {"VekBrightImage", [](HVEKIMAGE i) { return VekBrightImage(i, 0, 0, 255); },
     ImageLine::kBrightTexture, ImageLine::kBrightNoData},
    {"VekHueImage", [](HVEKIMAGE i) { return VekHueImage(i, 0, 0, 255); }, ImageLine::kHueTexture,
     ImageLine::kHueNoData},
    {"VekConvertRGBImage", [](HVEKIMAGE i) { return VekConvertRGBImage(i, 0, 0, 255); },
     ImageLine::kConvertTexture, ImageLine::kConvertNoData},
};

TEST_F(ImageEffectTest, ChecksComeInOrderWithTheirLines) {
  EXPECT_EQ(Refused([] { return VekGrayImage(nullptr, 0, 255); }), Printed(ImageLine::kGrayNull));
  EXPECT_EQ(Refused([] { return VekBrightImage(nullptr, 0, 0, 255); }),
            Printed(ImageLine::kBrightNull));
  // The hue range is checked before the handle; a negative value is a large one.
  EXPECT_EQ(Refused([] { return VekHueImage(nullptr, 360, 0, 255); }),
            Printed(ImageLine::kHueDegrees, 360));
  EXPECT_EQ(Refused([] { return VekHueImage(nullptr, UINT(-5), 0, 255); }),
            Printed(ImageLine::kHueDegrees, -5));
  EXPECT_EQ(ReadError().message, Message(ImageErr::kHueDegrees));
  EXPECT_EQ(Refused([] { return VekHueImage(nullptr, 359, 0, 255); }),
            Printed(ImageLine::kHueNull));
  // The handle is checked before the type.
  EXPECT_EQ(Refused([] { return VekConvertRGBImage(nullptr, 9, 0, 255); }),
            Printed(ImageLine::kConvertNull));

  VekImage* image = Plain(2, 1, {Argb(255, 1, 2, 3), Argb(255, 4, 5, 6)});
  ASSERT_NE(image, nullptr);
  const std::vector<uint8_t> before = Bytes(image);
  EXPECT_EQ(Refused([&] { return VekConvertRGBImage(image, 6, 0, 255); }),
            Printed(ImageLine::kConvertType));
  // Level, degrees and type 0 succeed without touching the data, but only
  // once the data could have been changed.
  for (const NeutralCall& c : kNeutralCalls) EXPECT_EQ(c.call(image), 1) << c.name;
  EXPECT_EQ(Bytes(image), before);
  BYTE* data = image->texture.data;
  image->texture.data = nullptr;
  for (const NeutralCall& c : kNeutralCalls)
    EXPECT_EQ(Refused([&] { return c.call(image); }), Printed(c.noDataLine)) << c.name;
  EXPECT_EQ(Refused([&] { return VekGrayImage(image, 0, 255); }), Printed(ImageLine::kGrayNoData));
  image->texture.data = data;
}

TEST_F(ImageEffectTest, EffectsAreRefusedOnceTheTextureExists) {
  HVEKIMAGE image = Plain(4, 4, std::vector<uint32_t>(16, Argb(255, 200, 10, 10)));
  ASSERT_NE(image, nullptr);
  BYTE* out = nullptr;
  ASSERT_GT(VekGetImageData(image, 0, 0, 1, 1, &out), 0);
  VekFree(out);
  ASSERT_NE(image->texture.tex, nullptr);
  EXPECT_EQ(Refused([&] { return VekGrayImage(image, 0, 255); }), Printed(ImageLine::kGrayTexture));
  for (const NeutralCall& c : kNeutralCalls)
    EXPECT_EQ(Refused([&] { return c.call(image); }), Printed(c.textureLine)) << c.name;
  EXPECT_EQ(VekGetImageColor(image, 0, 0), Argb(255, 200, 10, 10));
}

TEST_F(ImageEffectTest, WindowReachesOnlyItsAlphasInEitherOrder) {
  const std::vector<uint32_t> argb = {Argb(0, 10, 20, 31), Argb(127, 10, 20, 31),
                                      Argb(128, 10, 20, 31), Argb(255, 10, 20, 31)};
  VekImage* a = Plain(2, 2, argb);
  VekImage* b = Plain(2, 2, argb);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(VekGrayImage(a, 128, 255), 1);
  EXPECT_EQ(VekGrayImage(b, 255, 128), 1);
  EXPECT_EQ(Bytes(a), Bytes(b));
  EXPECT_EQ(PixelAt(a, 0), argb[0]);
  EXPECT_EQ(PixelAt(a, 1), argb[1]);
  EXPECT_EQ(PixelAt(a, 2), Argb(128, 20, 20, 20));
  EXPECT_EQ(PixelAt(a, 3), Argb(255, 20, 20, 20));
  // Effects combine.
  EXPECT_EQ(VekConvertRGBImage(a, 4, 0, 0), 1);
  EXPECT_EQ(PixelAt(a, 0), Argb(0, 31, 20, 10));
  EXPECT_EQ(PixelAt(a, 1), argb[1]);
}

// ---- DXT ----------------------------------------------------------------------

// 8 x 8 DXT5: alpha halves with all alphas 0..255 (block 0 and 1), only
// alphas 0 and 1 (block 2) and only 0 (block 3); colour halves varied.
std::vector<uint8_t> Dxt5Blocks() {
  std::vector<uint8_t> blocks = testdds::VariedBlocks(4, 16, 11);
  const uint8_t full[8] = {255, 0, 0x88, 0xC6, 0xFA, 0x88, 0xC6, 0xFA};   // interpolated alphas
  const uint8_t lowOnly[8] = {1, 0, 0x49, 0x92, 0x24, 0x49, 0x92, 0x24};  // 0 and 1 only
  const uint8_t zero[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  std::memcpy(&blocks[0], full, 8);
  std::memcpy(&blocks[16], full, 8);
  std::memcpy(&blocks[32], lowOnly, 8);
  std::memcpy(&blocks[48], zero, 8);
  return blocks;
}

TEST_F(ImageEffectTest, Dxt5WholeWindowChangesEndPointsOnly) {
  for (INT lo : {0, 1}) {
    SCOPED_TRACE(lo);
    const std::vector<uint8_t> file = testdds::DxtFile(8, 8, "DXT5", Dxt5Blocks());
    VekImage* image = Kept(8, 8, kCompressionDxt5, file);
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(VekHueImage(image, 120, 255, lo), 1);
    const std::vector<uint8_t> after = Bytes(image);
    for (size_t b = 0; b < 4; ++b) {
      const size_t at = 128 + 16 * b;
      // Alpha half and colour indices byte-identical; the end points recoloured.
      EXPECT_TRUE(std::equal(&after[at], &after[at + 8], &file[at])) << b;
      EXPECT_TRUE(std::equal(&after[at + 12], &after[at + 16], &file[at + 12])) << b;
      for (int e = 0; e < 2; ++e) {
        const UINT old = file[at + 8 + 2 * e] | file[at + 9 + 2 * e] << 8;
        const UINT r5 = old >> 11, g6 = (old >> 5) & 63, b5 = old & 31;
        BYTE px[4] = {BYTE(b5 * 8 + b5 / 4), BYTE(g6 * 4 + g6 / 16), BYTE(r5 * 8 + r5 / 4), 255};
        HueRotatePixel(px, 120);
        const UINT expected = (px[2] >> 3) << 11 | (px[1] >> 2) << 5 | px[0] >> 3;
        EXPECT_EQ(after[at + 8 + 2 * e] | after[at + 9 + 2 * e] << 8, expected) << b << " " << e;
      }
    }
  }
}

TEST_F(ImageEffectTest, Dxt5NarrowerWindowReencodesOnlyBlocksItReaches) {
  const std::vector<uint8_t> file = testdds::DxtFile(8, 8, "DXT5", Dxt5Blocks());
  VekImage* image = Kept(8, 8, kCompressionDxt5, file);
  ASSERT_NE(image, nullptr);
  const std::vector<DWORD> before = Decoded(image);
  ASSERT_EQ(VekGrayImage(image, 2, 255), 1);
  const std::vector<uint8_t> after = Bytes(image);
  // Blocks 2 and 3 hold no alpha from 2 up: untouched. Every alpha half stays.
  EXPECT_TRUE(std::equal(after.begin() + 128 + 32, after.end(), file.begin() + 128 + 32));
  for (size_t b = 0; b < 2; ++b)
    EXPECT_TRUE(std::equal(&after[128 + 16 * b], &after[136 + 16 * b], &file[128 + 16 * b]));
  // The reached pixels are grey now, within the encoder's error; the others
  // keep their colour within the same error.
  const std::vector<DWORD> now = Decoded(image);
  for (size_t i = 0; i < now.size(); ++i) {
    const UINT x = i % 8, y = UINT(i / 8);
    if (y >= 4) continue;
    const DWORD was = before[i];
    const int b = was & 255, g = (was >> 8) & 255, r = (was >> 16) & 255, a = was >> 24;
    const int v = a >= 2 ? (b + g + r) / 3 : -1;
    const int eb = v < 0 ? b : v, eg = v < 0 ? g : v, er = v < 0 ? r : v;
    EXPECT_EQ(now[i] >> 24, DWORD(a));
    EXPECT_LE(std::abs(int(now[i] & 255) - eb) + std::abs(int((now[i] >> 8) & 255) - eg) +
                  std::abs(int((now[i] >> 16) & 255) - er),
              90)
        << x << "," << y;
  }
}

// A DXT1 block in the three-colour mode: c0 dark blue-grey <= c1 orange,
// indices 0 1 2 3 in every row (column 3 transparent).
const uint8_t kThreeColour[8] = {0x10, 0x21, 0x20, 0xFC, 0xE4, 0xE4, 0xE4, 0xE4};
// A four-colour block: red over blue, indices 0 1 2 3 in every row.
const uint8_t kFourColour[8] = {0x00, 0xF8, 0x1F, 0x00, 0xE4, 0xE4, 0xE4, 0xE4};

int ChannelError(DWORD got, DWORD want) {
  int worst = 0;
  for (int s = 0; s < 24; s += 8)
    worst = std::max(worst, std::abs(int((got >> s) & 255) - int((want >> s) & 255)));
  return worst;
}

DWORD Swapped(DWORD argb, INT type) {
  BYTE px[4] = {BYTE(argb), BYTE(argb >> 8), BYTE(argb >> 16), BYTE(argb >> 24)};
  SwapChannelsPixel(px, type);
  return px[0] | px[1] << 8 | px[2] << 16 | DWORD(px[3]) << 24;
}

TEST_F(ImageEffectTest, Dxt1PixelsKeepTheirPaletteEntryWhenEndPointsFlip) {
  std::vector<uint8_t> blocks(kThreeColour, kThreeColour + 8);
  blocks.insert(blocks.end(), kFourColour, kFourColour + 8);
  VekImage* image = Kept(8, 4, kCompressionDxt1, testdds::DxtFile(8, 4, "DXT1", blocks));
  ASSERT_NE(image, nullptr);
  const std::vector<DWORD> before = Decoded(image);
  // Swapping red and blue reverses both blocks' end-point order.
  ASSERT_EQ(VekConvertRGBImage(image, 4, 0, 255), 1);
  const std::vector<DWORD> after = Decoded(image);
  for (size_t i = 0; i < after.size(); ++i) {
    EXPECT_EQ(after[i] >> 24, before[i] >> 24) << i;  // transparency kept
    if (before[i] >> 24) {
      EXPECT_LE(ChannelError(after[i], Swapped(before[i], 4)), 2) << i;
    }
  }
  const BYTE* block = image->texture.data + 128;
  EXPECT_LE(block[0] | block[1] << 8, block[2] | block[3] << 8);    // still three colours
  EXPECT_GT(block[8] | block[9] << 8, block[10] | block[11] << 8);  // still four
}

TEST_F(ImageEffectTest, Dxt1ReencodedBlocksKeepTransparency) {
  // 8 x 4: a three-colour block with transparent pixels, an opaque one.
  std::vector<uint8_t> blocks(kThreeColour, kThreeColour + 8);
  blocks.insert(blocks.end(), kFourColour, kFourColour + 8);
  VekImage* image = Kept(8, 4, kCompressionDxt1, testdds::DxtFile(8, 4, "DXT1", blocks));
  ASSERT_NE(image, nullptr);
  const std::vector<DWORD> before = Decoded(image);
  // Opaque pixels only: the block procedure.
  ASSERT_EQ(VekConvertRGBImage(image, 1, 128, 255), 1);
  const std::vector<DWORD> after = Decoded(image);
  for (size_t i = 0; i < after.size(); ++i) {
    EXPECT_EQ(after[i] >> 24, before[i] >> 24) << i;
    if (before[i] >> 24) {
      EXPECT_LE(ChannelError(after[i], Swapped(before[i], 1)), 12) << i;
    }
  }
}

TEST(Dxt1EncoderTest, ThreeColourBlocksFitOpaquePixelsAndMarkTransparentOnes) {
  // All transparent, one opaque colour, and a gradient with holes.
  BYTE pixels[64] = {};
  BYTE block[8];
  EncodeThreeColourBlock(block, pixels);
  BYTE decoded[64];
  DecodeColourBlock(decoded, block, kCompressionDxt1);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(decoded[i * 4 + 3], 0);

  for (int i = 0; i < 16; ++i) {
    pixels[i * 4 + 0] = BYTE(16 * i);
    pixels[i * 4 + 1] = BYTE(200 - 8 * i);
    pixels[i * 4 + 2] = BYTE(30 + 4 * i);
    pixels[i * 4 + 3] = (i % 5 == 0) ? 0 : 255;
  }
  EncodeThreeColourBlock(block, pixels);
  EXPECT_LE(block[0] | block[1] << 8, block[2] | block[3] << 8);
  DecodeColourBlock(decoded, block, kCompressionDxt1);
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(decoded[i * 4 + 3], pixels[i * 4 + 3]) << i;
    if (!pixels[i * 4 + 3]) continue;
    // A straight line across B 240, G 120, R 60: three levels leave each
    // pixel within a quarter of each channel's range (and rounding).
    const int range[3] = {240, 120, 60};
    for (int c = 0; c < 3; ++c)
      EXPECT_LE(std::abs(decoded[i * 4 + c] - pixels[i * 4 + c]), range[c] / 4 + 4) << i;
  }
}

TEST_F(ImageEffectTest, ShortDxtDataStopsAtTheLastWholeBlock) {
  // 8 x 8 announces four blocks; the data hold two and a half.
  for (INT compression : {kCompressionDxt1, kCompressionDxt5}) {
    for (INT lo : {0, 128}) {
      SCOPED_TRACE(testing::Message() << compression << " " << lo);
      const UINT blockBytes = DxtBlockBytes(compression);
      std::vector<uint8_t> file =
          testdds::DxtFile(8, 8, compression == kCompressionDxt1 ? "DXT1" : "DXT5",
                           testdds::VariedBlocks(2, blockBytes, 5));
      file.resize(file.size() + blockBytes / 2, 0x5A);
      if (compression == kCompressionDxt5)  // opaque alpha so the block procedure reaches them
        for (int b = 0; b < 2; ++b) std::memset(&file[128 + 16 * b], 255, 2);
      VekImage* image = Kept(8, 8, compression, file);
      ASSERT_NE(image, nullptr);
      ASSERT_EQ(VekBrightImage(image, 60, lo, 255), 1);
      const std::vector<uint8_t> after = Bytes(image);
      EXPECT_NE(std::vector<uint8_t>(after.begin() + 128, after.end() - blockBytes / 2),
                std::vector<uint8_t>(file.begin() + 128, file.end() - blockBytes / 2));
      EXPECT_TRUE(
          std::equal(after.end() - blockBytes / 2, after.end(), file.end() - blockBytes / 2));
    }
  }
  // Plain pictures stop at the last whole row.
  std::vector<uint8_t> file = testdds::Solid32(4, 4, Argb(255, 10, 20, 30));
  file.resize(128 + 4 * 4 * 2 + 6);
  VekImage* image = Kept(4, 4, kCompressionNone, file);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(VekGrayImage(image, 0, 255), 1);
  EXPECT_EQ(PixelAt(image, 7), Argb(255, 20, 20, 20));
  const std::vector<uint8_t> after = Bytes(image);
  EXPECT_TRUE(std::equal(after.end() - 6, after.end(), file.end() - 6));
}

// Both builds compile the same encoders with the same float rules, so
// re-encoded blocks must be identical to the byte; the digest was taken on
// the POSIX build and is checked on the Windows one too.
TEST_F(ImageEffectTest, ReencodedBlocksAreTheSameBytesOnEveryBuild) {
  uint64_t digest = 1469598103934665603ull;  // FNV-1a over every result
  for (const char* fourcc : {"DXT1", "DXT3", "DXT5"}) {
    const INT compression = fourcc[3] == '1'   ? kCompressionDxt1
                            : fourcc[3] == '3' ? kCompressionDxt3
                                               : kCompressionDxt5;
    const std::vector<uint8_t> blocks = testdds::VariedBlocks(64, DxtBlockBytes(compression), 21);
    VekImage* image = Kept(32, 32, compression, testdds::DxtFile(32, 32, fourcc, blocks));
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(VekHueImage(image, 77, 1, 254), 1);
    ASSERT_EQ(VekBrightImage(image, -35, 100, 255), 1);
    for (uint8_t b : Bytes(image)) digest = (digest ^ b) * 1099511628211ull;
  }
  EXPECT_EQ(digest, 0x61e634c660123743ull);
}

}  // namespace
