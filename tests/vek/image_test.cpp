// Images on either build's Direct3D 8: DXT block decoding, format
// recognition, loading through memory file objects, pixel queries in both
// states, rectangle read-back and saving.
#include "vekimage/image.h"

#include <rask.h>
#include <vek/vek.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "d3dx/d3dx8.h"
#include "gd/device.h"
#include "host/host.h"
#include "support/dds.h"
#include "support/diagnostics.h"
#include "support/pictures.h"
#include "support/platform_test.h"
#include "support/surface_test.h"
#include "vekimage/dxt.h"
#include "vekimage/freeimage.h"

namespace {

// The decoded pixel i of a block as A8R8G8B8.
DWORD Pixel(const BYTE* pixels, int i) {
  const BYTE* p = pixels + 4 * i;
  return p[0] | p[1] << 8 | p[2] << 16 | DWORD(p[3]) << 24;
}

DWORD Bgra(int b, int g, int r, int a) { return DWORD(b) | g << 8 | r << 16 | DWORD(a) << 24; }

// Index rows used by the colour tests: row 0 indices 0 1 2 3, row 1 3 2 1 0,
// row 2 all 0, row 3 all 3.
constexpr BYTE kIndexRows[4] = {0xE4, 0x1B, 0x00, 0xFF};

// c0 = pure red, c1 = R5 15, G6 31, B5 15 (expands to 123, 125, 123).
constexpr BYTE kRedOverGrey[4] = {0x00, 0xF8, 0xEF, 0x7B};
constexpr BYTE kGreyUnderRed[4] = {0xEF, 0x7B, 0x00, 0xF8};

std::vector<BYTE> ColourBlock(const BYTE (&ends)[4]) {
  std::vector<BYTE> block(ends, ends + 4);
  block.insert(block.end(), kIndexRows, kIndexRows + 4);
  return block;
}

TEST(DxtDecodeTest, FourColourBlockExpandsAndMixesThirds) {
  const std::vector<BYTE> block = ColourBlock(kRedOverGrey);
  BYTE px[64];
  std::memset(px, 0x5A, sizeof px);
  DecodeColourBlock(px, block.data(), kCompressionDxt1);
  const DWORD p0 = Bgra(0, 0, 255, 255), p1 = Bgra(123, 125, 123, 255);
  const DWORD p2 = Bgra(41, 42, 211, 255), p3 = Bgra(82, 83, 167, 255);
  const DWORD expected[16] = {p0, p1, p2, p3, p3, p2, p1, p0, p0, p0, p0, p0, p3, p3, p3, p3};
  for (int i = 0; i < 16; ++i) EXPECT_EQ(Pixel(px, i), expected[i]) << "pixel " << i;

  // DXT3 and DXT5 colour halves leave alpha to their alpha decoders.
  std::memset(px, 0x5A, sizeof px);
  DecodeColourBlock(px, block.data(), kCompressionDxt3);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(Pixel(px, i), (expected[i] & 0xFFFFFF) | 0x5A000000u);
}

TEST(DxtDecodeTest, ThreeColourModeAveragesAndMakesIndexThreeTransparent) {
  const std::vector<BYTE> block = ColourBlock(kGreyUnderRed);
  BYTE px[64] = {};
  DecodeColourBlock(px, block.data(), kCompressionDxt1);
  const DWORD p0 = Bgra(123, 125, 123, 255), p1 = Bgra(0, 0, 255, 255);
  const DWORD p2 = Bgra(62, 63, 189, 255), p3 = Bgra(255, 255, 255, 0);
  const DWORD expected[16] = {p0, p1, p2, p3, p3, p2, p1, p0, p0, p0, p0, p0, p3, p3, p3, p3};
  for (int i = 0; i < 16; ++i) EXPECT_EQ(Pixel(px, i), expected[i]) << "pixel " << i;

  // DXT3 takes the same three-colour palette but never touches alpha.
  std::memset(px, 0x11, sizeof px);
  DecodeColourBlock(px, block.data(), kCompressionDxt3);
  EXPECT_EQ(Pixel(px, 2), (p2 & 0xFFFFFF) | 0x11000000u);
  EXPECT_EQ(Pixel(px, 3), 0x11FFFFFFu);

  // Equal ends are the three-colour mode too: index 3 of a zero block is
  // transparent, index 0 opaque black.
  const BYTE zeros[8] = {0, 0, 0, 0, 0xC0, 0, 0, 0};
  DecodeColourBlock(px, zeros, kCompressionDxt1);
  EXPECT_EQ(Pixel(px, 0), 0xFF000000u);
  EXPECT_EQ(Pixel(px, 3), 0x00FFFFFFu);
}

TEST(DxtDecodeTest, Dxt5ColourAlwaysHasFourColours) {
  const std::vector<BYTE> block = ColourBlock(kGreyUnderRed);
  BYTE px[64] = {};
  DecodeColourBlock(px, block.data(), kCompressionDxt5);
  EXPECT_EQ(Pixel(px, 0), Bgra(123, 125, 123, 0));
  EXPECT_EQ(Pixel(px, 1), Bgra(0, 0, 255, 0));
  EXPECT_EQ(Pixel(px, 2), Bgra(82, 83, 167, 0));  // mixes toward c1 with negative steps
  EXPECT_EQ(Pixel(px, 3), Bgra(41, 42, 211, 0));
}

TEST(DxtDecodeTest, ExplicitAlphaScalesEachNibble) {
  const BYTE block[8] = {0x10, 0x32, 0xDC, 0xFE, 0x00, 0x00, 0xF0, 0xF0};
  BYTE px[64] = {};
  DecodeExplicitAlpha(px, block);
  const int expected[16] = {0, 17, 34, 51, 204, 221, 238, 255, 0, 0, 0, 0, 0, 255, 0, 255};
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(px[4 * i + 3], expected[i]) << "pixel " << i;
    EXPECT_EQ(px[4 * i], 0) << "colour bytes untouched";
  }
}

TEST(DxtDecodeTest, InterpolatedAlphaInBothModes) {
  // Indices 0..7 then 0..7 again: 3 bits each, pixel 0 lowest.
  BYTE block[8] = {201, 60, 0x88, 0xC6, 0xFA, 0x88, 0xC6, 0xFA};
  BYTE px[64] = {};
  DecodeInterpolatedAlpha(px, block);
  const int eight[8] = {201, 60, 180, 160, 140, 120, 100, 80};  // sevenths, truncated
  for (int i = 0; i < 16; ++i) EXPECT_EQ(px[4 * i + 3], eight[i % 8]) << "pixel " << i;

  block[0] = 61;
  block[1] = 200;
  DecodeInterpolatedAlpha(px, block);
  const int six[8] = {61, 200, 88, 116, 144, 172, 0, 255};  // fifths, then 0 and 255
  for (int i = 0; i < 16; ++i) EXPECT_EQ(px[4 * i + 3], six[i % 8]) << "pixel " << i;

  // The index field spans bytes: pixel 5 sits in bits 15..17.
  const BYTE split[8] = {10, 20, 0x00, 0x80, 0x03, 0, 0, 0};  // index 7 at pixel 5
  DecodeInterpolatedAlpha(px, split);
  EXPECT_EQ(px[4 * 5 + 3], 255);
  EXPECT_EQ(px[4 * 4 + 3], 10);
  EXPECT_EQ(px[4 * 6 + 3], 10);
}

TEST(ImageSignatureTest, EachSignatureNeedsMoreThanItsLimit) {
  std::vector<BYTE> bytes(64, 0);
  auto sniff = [&](const char* lead, size_t leadSize, UINT n) {
    std::fill(bytes.begin(), bytes.end(), 0);
    std::memcpy(bytes.data(), lead, leadSize);
    return SniffSignature(bytes.data(), n);
  };
  EXPECT_EQ(sniff("DDS ", 4, 20), ImageSignature::kNone);
  EXPECT_EQ(sniff("DDS ", 4, 21), ImageSignature::kDds);
  EXPECT_EQ(sniff("\x89PNG", 4, 24), ImageSignature::kNone);
  EXPECT_EQ(sniff("\x89PNG", 4, 25), ImageSignature::kPng);
  EXPECT_EQ(sniff("\xFF\xD8", 2, 4), ImageSignature::kNone);
  EXPECT_EQ(sniff("\xFF\xD8", 2, 5), ImageSignature::kJpeg);
  EXPECT_EQ(sniff("BM", 2, 26), ImageSignature::kNone);
  EXPECT_EQ(sniff("BM", 2, 27), ImageSignature::kBmp);
  EXPECT_EQ(sniff("DDS", 3, 64), ImageSignature::kNone);
  EXPECT_EQ(sniff("\x88PNG", 4, 64), ImageSignature::kNone);
  EXPECT_EQ(SniffSignature(nullptr, 64), ImageSignature::kNone);
}

class ImageTest : public WithDevice<PlatformTest> {
 protected:
  // Loads bytes through a memory file object, capturing what is printed.
  HVEKIMAGE Load(const std::vector<uint8_t>& bytes, const WCHAR* uri = nullptr) {
    HRASKFILE file = RaskCreateFileFromMemory(bytes.data(), static_cast<DWORD>(bytes.size()), uri);
    testing::internal::CaptureStdout();
    HVEKIMAGE image = VekCreateImage(file);
    printed = testing::internal::GetCapturedStdout();
    RaskDestroyFile(file);
    return image;
  }

  // An image as the decoding path leaves it: a 32-bit DDS file image kept,
  // pixels B, G, R, A top-down.
  static HVEKIMAGE Pending32(UINT width, UINT height, const std::vector<uint32_t>& argb) {
    std::vector<uint8_t> file = testdds::Header(width, height, nullptr, argb.size() * 4);
    std::memcpy(file.data() + 128, argb.data(), argb.size() * 4);
    auto* image = static_cast<VekImage*>(Malloc(sizeof(VekImage)));
    std::memset(image, 0, sizeof(VekImage));
    image->texture.contentScaleX = image->texture.contentScaleY = 1.0f;
    VekTexture& t = image->texture;
    t.format = D3DFMT_A8R8G8B8;
    t.compression = kCompressionNone;
    t.width = width;
    t.height = height;
    t.data = static_cast<BYTE*>(Malloc(static_cast<UINT>(file.size())));
    std::memcpy(t.data, file.data(), file.size());
    t.dataSize = static_cast<UINT>(file.size());
    return image;
  }

  static std::vector<uint32_t> Gradient(UINT width, UINT height) {
    std::vector<uint32_t> argb;
    for (UINT y = 0; y < height; ++y)
      for (UINT x = 0; x < width; ++x) argb.push_back(0x80000000u | (y * 16 + x) << 8 | 0x07);
    return argb;
  }

  static std::vector<DWORD> AllColours(HVEKIMAGE image, UINT width, UINT height) {
    std::vector<DWORD> out;
    for (UINT y = 0; y < height; ++y)
      for (UINT x = 0; x < width; ++x) out.push_back(VekGetImageColor(image, x, y));
    return out;
  }

  // Makes the texture: VekGetImageData refuses DXT pictures after that.
  void MakeReady(HVEKIMAGE image) {
    BYTE* out = nullptr;
    testing::internal::CaptureStdout();
    const INT got = VekGetImageData(image, 0, 0, 1, 1, &out);
    printed = testing::internal::GetCapturedStdout();
    if (got > 0) VekFree(out);
    ASSERT_NE(image->texture.tex, nullptr);
    ASSERT_EQ(image->texture.data, nullptr);
  }

  std::string printed;
};

class ImageNoDeviceTest : public PlatformTest {};

TEST_F(ImageNoDeviceTest, LoadingNeedsAFileAndACurrentDevice) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(VekCreateImage(nullptr), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), Printed(ImageLine::kNullFile));

  const std::vector<uint8_t> bytes = testdds::SolidDxt1(4, 4, 0xF800);
  HRASKFILE file =
      RaskCreateFileFromMemory(bytes.data(), static_cast<DWORD>(bytes.size()), nullptr);
  testing::internal::CaptureStdout();
  EXPECT_EQ(VekCreateImage(file), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), Printed(ImageLine::kNoDevice));
  RaskDestroyFile(file);
}

TEST_F(ImageTest, DataThatIsNoPictureIsRefusedWithNothingKept) {
  const LONG blocks = LiveBlockCount();
  const std::string refused = Printed(ImageLine::kInvalidData);
  std::vector<std::vector<uint8_t>> bad;
  bad.push_back(std::vector<uint8_t>{'D', 'D', 'S', ' ', 0, 0, 0, 0, 0, 0,
                                     0,   0,   0,   0,   0, 0, 0, 0, 0, 0});  // 20 bytes
  bad.push_back(std::vector<uint8_t>(100, 0));
  std::memcpy(bad.back().data(), "DDS ", 4);  // header cut short
  std::vector<uint8_t> shortBlocks = testdds::DxtFile(8, 8, "DXT1", testdds::VariedBlocks(4, 8));
  shortBlocks.pop_back();  // one byte short of its fourth block
  bad.push_back(shortBlocks);
  bad.push_back(testdds::DxtFile(0, 8, "DXT5", testdds::VariedBlocks(4, 16)));
  // Sides whose block bytes do not even fit in 32 bits.
  bad.push_back(testdds::DxtFile(0x40000000, 0x40000000, "DXT5", testdds::VariedBlocks(4, 16)));
  bad.push_back(testdds::DxtFile(0xFFFFFFFF, 4, "DXT1", testdds::VariedBlocks(4, 8)));
  // Block bytes that wrap 64-bit arithmetic to nothing.
  bad.push_back(testdds::DxtFile(0xFFFFFFFF, 0xFFFFFFFF, "DXT3", testdds::VariedBlocks(1, 16)));
  bad.push_back(std::vector<uint8_t>(64, 'x'));
  for (size_t i = 0; i < bad.size(); ++i) {
    EXPECT_EQ(Load(bad[i]), nullptr) << "case " << i;
    EXPECT_EQ(printed, refused) << "case " << i;
    EXPECT_EQ(LiveBlockCount(), blocks) << "case " << i;
  }

  // The exact number of block bytes is enough.
  shortBlocks.push_back(0);
  HVEKIMAGE image = Load(shortBlocks);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(printed, "");
  EXPECT_EQ(VekDestroyImage(image), 1);
  EXPECT_EQ(VekDestroyImage(nullptr), 0);
}

TEST_F(ImageTest, DxtFileIsKeptAsReadWithItsSizeAndUri) {
  const std::vector<uint8_t> file =
      testdds::DxtFile(300, 200, "DXT1", testdds::VariedBlocks(75 * 50, 8));
  HVEKIMAGE image = Load(file, VEK_W("memory:picture.dds"));
  ASSERT_NE(image, nullptr);
  const VekTexture& t = image->texture;
  EXPECT_EQ(static_cast<DWORD>(t.format), testdds::FourCC("DXT1"));
  EXPECT_EQ(t.compression, kCompressionDxt1);
  EXPECT_EQ(t.width, 300u);
  EXPECT_EQ(t.height, 200u);
  EXPECT_EQ(t.tex, nullptr);
  ASSERT_EQ(t.dataSize, file.size());
  EXPECT_EQ(std::memcmp(t.data, file.data(), file.size()), 0);
  EXPECT_EQ(image->texture.contentScaleX, 1.0f);
  EXPECT_EQ(image->texture.contentScaleY, 1.0f);
  EXPECT_EQ(Utf16ToUtf8(image->uri), "memory:picture.dds");
  EXPECT_EQ(VekGetImageSize(image), 0x00C8012Cu);
  EXPECT_EQ(VekGetImageSize(nullptr), 0u);
  VekDestroyImage(image);

  image = Load(testdds::DxtFile(8, 4, "DXT3", testdds::VariedBlocks(2, 16)));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->texture.compression, kCompressionDxt3);
  EXPECT_EQ(static_cast<DWORD>(image->texture.format), testdds::FourCC("DXT3"));
  VekDestroyImage(image);
  image = Load(testdds::DxtFile(4, 4, "DXT5", testdds::VariedBlocks(1, 16)));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->texture.compression, kCompressionDxt5);
  VekDestroyImage(image);
}

TEST_F(ImageTest, LongUriIsCutToTheRecord) {
  std::u16string longUri(150, u'a');
  for (size_t i = 0; i < longUri.size(); ++i) longUri[i] = u'a' + i % 26;
  std::vector<WCHAR> uri(longUri.begin(), longUri.end());
  uri.push_back(0);
  HVEKIMAGE image = Load(testdds::SolidDxt1(4, 4, 0x07E0), uri.data());
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->uri[98], uri[98]);
  EXPECT_EQ(image->uri[99], 0);
  std::u16string kept(reinterpret_cast<const char16_t*>(image->uri));
  EXPECT_EQ(kept, longUri.substr(0, 99));
  VekDestroyImage(image);
}

TEST_F(ImageTest, Dxt3ColoursAgreeBeforeAndAfterTheTextureExists) {
  const std::vector<uint8_t> blocks = testdds::VariedBlocks(4, 16, 7);
  HVEKIMAGE image = Load(testdds::DxtFile(8, 8, "DXT3", blocks));
  ASSERT_NE(image, nullptr);
  const std::vector<DWORD> pending = AllColours(image, 8, 8);

  // The file's first block row is the picture's top: (x, 0) comes from block
  // 0 and 1, (x, 4) from block 2.
  BYTE px[64];
  DecodeDxtBlock(px, blocks.data(), kCompressionDxt3);
  EXPECT_EQ(pending[0], Pixel(px, 0));
  EXPECT_EQ(pending[8 * 3 + 2], Pixel(px, 14));
  DecodeDxtBlock(px, blocks.data() + 2 * 16, kCompressionDxt3);
  EXPECT_EQ(pending[8 * 4 + 1], Pixel(px, 1));

  MakeReady(image);
  EXPECT_EQ(printed, Printed(ImageLine::kDataFormat));
  EXPECT_EQ(image->texture.format, D3DFMT_DXT3);
  EXPECT_EQ(AllColours(image, 8, 8), pending);
  VekDestroyImage(image);
}

TEST_F(ImageTest, DxtSidesNotMultiplesOfFourReadTheirEdgeBlocks) {
  // 6 x 5: two blocks across, two down, and not a byte more.
  const std::vector<uint8_t> blocks = testdds::VariedBlocks(4, 8, 3);
  HVEKIMAGE image = Load(testdds::DxtFile(6, 5, "DXT1", blocks));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(VekGetImageSize(image), 6u | 5u << 16);
  const std::vector<DWORD> pending = AllColours(image, 6, 5);
  BYTE px[64];
  DecodeDxtBlock(px, blocks.data() + 3 * 8, kCompressionDxt1);
  EXPECT_EQ(pending[6 * 4 + 5], Pixel(px, 1));  // (5, 4): block (1, 1), pixel (1, 0)
  DecodeDxtBlock(px, blocks.data() + 1 * 8, kCompressionDxt1);
  EXPECT_EQ(pending[6 * 3 + 4], Pixel(px, 12));  // (4, 3): block (1, 0), pixel (0, 3)

  MakeReady(image);
  EXPECT_EQ(AllColours(image, 6, 5), pending);
  VekDestroyImage(image);
}

TEST_F(ImageTest, ColourQueriesStayInsideThePicture) {
  const std::vector<uint32_t> argb = Gradient(5, 4);
  HVEKIMAGE image = Pending32(5, 4, argb);
  EXPECT_EQ(VekGetImageColor(image, 4, 3), argb[19]);
  EXPECT_EQ(VekGetImageColor(image, 2, 1), argb[7]);
  const std::string outside = Printed(ImageLine::kColorOutside);
  const UINT refused[][2] = {{5, 0}, {0, 4}, {6, 0}, {5, 4}, {0xFFFFFFFF, 0}};
  for (const auto& at : refused) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(VekGetImageColor(image, at[0], at[1]), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), outside) << at[0] << ", " << at[1];
  }
  testing::internal::CaptureStdout();
  EXPECT_EQ(VekGetImageColor(nullptr, 0, 0), 0u);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), Printed(ImageLine::kColorNull));

  // Ready: read from the locked texture, same values.
  MakeReady(image);
  EXPECT_EQ(AllColours(image, 5, 4), std::vector<DWORD>(argb.begin(), argb.end()));
  testing::internal::CaptureStdout();
  EXPECT_EQ(VekGetImageColor(image, 5, 3), 0u);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), outside);
  VekDestroyImage(image);
}

TEST_F(ImageTest, ImageDataCopiesTheClampedRectangle) {
  const std::vector<uint32_t> argb = Gradient(5, 4);
  HVEKIMAGE image = Pending32(5, 4, argb);
  BYTE* out = nullptr;
  ASSERT_EQ(VekGetImageData(image, 1, 1, 3, 3, &out), 16);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(image->texture.data, nullptr);  // the texture was made
  DWORD got[4];
  std::memcpy(got, out, 16);
  EXPECT_EQ(got[0], argb[6]);
  EXPECT_EQ(got[1], argb[7]);
  EXPECT_EQ(got[2], argb[11]);
  EXPECT_EQ(got[3], argb[12]);
  EXPECT_EQ(VekFree(out), 1);
  EXPECT_EQ(VekFree(nullptr), 0);

  // x2 and y2 beyond the picture are clamped to it.
  out = nullptr;
  ASSERT_EQ(VekGetImageData(image, 2, 1, 100, 1000, &out), 3 * 3 * 4);
  std::vector<DWORD> rows(9);
  std::memcpy(rows.data(), out, 36);
  for (UINT y = 0; y < 3; ++y)
    for (UINT x = 0; x < 3; ++x) EXPECT_EQ(rows[y * 3 + x], argb[(y + 1) * 5 + x + 2]);
  VekFree(out);
  VekDestroyImage(image);
}

TEST_F(ImageTest, EmptyRectanglesReadAndAllocateNothing) {
  HVEKIMAGE image = Pending32(5, 4, Gradient(5, 4));
  const LONG blocks = LiveBlockCount();
  const std::string empty = Printed(ImageLine::kDataEmpty);
  const UINT rects[][4] = {{2, 0, 2, 4}, {3, 0, 1, 4}, {0, 2, 5, 2},
                           {5, 0, 9, 4}, {0, 4, 5, 9}, {7, 7, 9, 9}};
  for (const auto& r : rects) {
    BYTE* out = reinterpret_cast<BYTE*>(&image);  // must stay untouched
    testing::internal::CaptureStdout();
    EXPECT_EQ(VekGetImageData(image, r[0], r[1], r[2], r[3], &out), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), empty) << r[0] << " " << r[1];
    EXPECT_EQ(out, reinterpret_cast<BYTE*>(&image));
  }
  EXPECT_EQ(image->texture.tex, nullptr);  // still pending: nothing was made
  EXPECT_EQ(LiveBlockCount(), blocks);

  testing::internal::CaptureStdout();
  EXPECT_EQ(VekGetImageData(image, 0, 0, 1, 1, nullptr), 0);
  EXPECT_EQ(VekGetImageData(nullptr, 0, 0, 1, 1, nullptr), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            Printed(ImageLine::kDataNoOut) + Printed(ImageLine::kDataNull));
  EXPECT_EQ(image->texture.tex, nullptr);

  // Nothing to make a texture from: released.
  Free(image->texture.data);
  image->texture.data = nullptr;
  BYTE* out = nullptr;
  testing::internal::CaptureStdout();
  EXPECT_EQ(VekGetImageData(image, 0, 0, 1, 1, &out), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            Printed(ImageLine::kDataReleased, static_cast<void*>(image)));
  testing::internal::CaptureStdout();
  EXPECT_EQ(VekGetImageColor(image, 0, 0), 0u);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), Printed(ImageLine::kColorNoData));
  VekDestroyImage(image);
}

// A scratch file in the current directory, removed when done.
struct ScratchFile {
  explicit ScratchFile(const char* name) : narrow(name), wide(name, name + std::strlen(name)) {
    wide.push_back(0);
    std::remove(name);
  }
  ~ScratchFile() { std::remove(narrow.c_str()); }
  std::vector<uint8_t> Read() const {
    std::vector<uint8_t> bytes;
    if (FILE* f = std::fopen(narrow.c_str(), "rb")) {
      int c;
      while ((c = std::fgetc(f)) != EOF) bytes.push_back(static_cast<uint8_t>(c));
      std::fclose(f);
    }
    return bytes;
  }
  std::string narrow;
  std::vector<WCHAR> wide;
};

uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}

TEST_F(ImageTest, SavedDdsLoadsBackWithTheSamePixels) {
  HVEKIMAGE image = Load(testdds::DxtFile(8, 8, "DXT3", testdds::VariedBlocks(4, 16, 11)));
  ASSERT_NE(image, nullptr);
  const std::vector<DWORD> colours = AllColours(image, 8, 8);
  ScratchFile file("vek_image_test_save.dds");
  // Not drawn or read back yet: no texture to save.
  EXPECT_EQ(VekSaveImage(image, file.wide.data(), D3DXIFF_DDS), D3DERR_INVALIDCALL);
  EXPECT_EQ(VekSaveImage(nullptr, file.wide.data(), D3DXIFF_DDS), 0);

  MakeReady(image);
  ASSERT_EQ(VekSaveImage(image, file.wide.data(), D3DXIFF_DDS), D3D_OK);
  const std::vector<uint8_t> saved = file.Read();
  ASSERT_GT(saved.size(), 128u);
  HVEKIMAGE again = Load(saved);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->texture.compression, kCompressionDxt3);
  EXPECT_EQ(AllColours(again, 8, 8), colours);
  VekDestroyImage(again);

  // Formats the saver does not write, and values it does not know.
  for (DWORD format : {D3DXIFF_JPG, D3DXIFF_TGA, D3DXIFF_PNG, D3DXIFF_PPM})
    EXPECT_EQ(VekSaveImage(image, file.wide.data(), format), D3DXERR_INVALIDDATA) << format;
  EXPECT_EQ(VekSaveImage(image, file.wide.data(), 7), D3DERR_INVALIDCALL);
  VekDestroyImage(image);
}

TEST_F(ImageTest, SavedBmpHoldsThePixelsWithoutAlpha) {
  const std::vector<uint32_t> argb = Gradient(5, 3);
  HVEKIMAGE image = Pending32(5, 3, argb);
  MakeReady(image);
  for (DWORD format : {D3DXIFF_BMP, D3DXIFF_DIB}) {
    ScratchFile file("vek_image_test_save.bmp");
    ASSERT_EQ(VekSaveImage(image, file.wide.data(), format), D3D_OK);
    const std::vector<uint8_t> bmp = file.Read();
    ASSERT_GE(bmp.size(), 54u);
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');
    EXPECT_EQ(U32(bmp, 18), 5u);
    EXPECT_EQ(U32(bmp, 22), 3u);  // positive: rows bottom-up
    EXPECT_EQ(bmp[28], 24);
    const size_t offset = U32(bmp, 10), stride = 16;  // 15 bytes padded to 4
    ASSERT_GE(bmp.size(), offset + 3 * stride);
    for (UINT y = 0; y < 3; ++y)
      for (UINT x = 0; x < 5; ++x) {
        const uint8_t* p = bmp.data() + offset + (2 - y) * stride + x * 3;
        EXPECT_EQ(p[0] | p[1] << 8 | uint32_t(p[2]) << 16, argb[y * 5 + x] & 0xFFFFFF);
      }

    // Loaded back (when FreeImage is there) the pixels are opaque.
    if (!FreeImageAvailable()) LoadFreeImage();
    if (FreeImageAvailable()) {
      HVEKIMAGE again = Load(bmp);
      ASSERT_NE(again, nullptr);
      EXPECT_EQ(again->texture.format, D3DFMT_X8R8G8B8);
      for (UINT i = 0; i < 15; ++i)
        EXPECT_EQ(VekGetImageColor(again, i % 5, i / 5), argb[i] | 0xFF000000u);
      VekDestroyImage(again);
    }
  }
  VekDestroyImage(image);
}

TEST_F(ImageTest, DecodedPicturesAreTopDownThirtyTwoBitFiles) {
  if (!FreeImageAvailable()) LoadFreeImage();
  if (!FreeImageAvailable()) GTEST_SKIP() << "FreeImage is not available";
  const std::vector<uint32_t> argb = {0xFF102030, 0x80405060, 0x00708090,
                                      0xFFA0B0C0, 0x7FD0E0F0, 0x01020304};
  HVEKIMAGE image = Load(pictures::Png(3, 2, argb));
  ASSERT_NE(image, nullptr);
  const VekTexture& t = image->texture;
  EXPECT_EQ(t.format, D3DFMT_A8R8G8B8);
  EXPECT_EQ(t.compression, kCompressionNone);
  EXPECT_EQ(t.dataSize, 128u + 3 * 2 * 4);
  EXPECT_EQ(VekGetImageSize(image), 3u | 2u << 16);
  EXPECT_EQ(AllColours(image, 3, 2), std::vector<DWORD>(argb.begin(), argb.end()));

  BYTE* out = nullptr;
  ASSERT_EQ(VekGetImageData(image, 0, 0, 3, 2, &out), 24);
  EXPECT_EQ(std::memcmp(out, argb.data(), 24), 0);
  VekFree(out);
  VekDestroyImage(image);

  image = Load(pictures::Jpeg(8, 8, std::vector<uint32_t>(64, 0xFF808080)));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->texture.format, D3DFMT_X8R8G8B8);
  EXPECT_EQ(VekGetImageColor(image, 7, 7) >> 24, 0xFFu);
  VekDestroyImage(image);

  // An uncompressed DDS goes through the decoder too.
  image = Load(testdds::Solid32(4, 2, 0x40302010));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->texture.format, D3DFMT_UNKNOWN);
  EXPECT_EQ(image->texture.compression, kCompressionNone);
  EXPECT_EQ(VekGetImageColor(image, 3, 1), 0x40302010u);
  VekDestroyImage(image);
}

}  // namespace
