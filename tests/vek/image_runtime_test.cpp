// Images on the POSIX runtime with its controls: power-of-two padding of DXT
// pictures, failed allocations, file reads, locks and texture creation.
#include <rask.h>
#include <vek/vek.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "gd/device.h"
#include "graphics/frame.h"
#include "graphics/graphics.h"
#include "support/dds.h"
#include "support/diagnostics.h"
#include "support/frame_probe.h"
#include "support/particle_sys.h"
#include "support/pictures.h"
#include "support/vek_test.h"
#include "vekimage/dxt.h"
#include "vekimage/freeimage.h"
#include "vekimage/image.h"

namespace {

DWORD Pixel(const BYTE* pixels, int i) {
  const BYTE* p = pixels + 4 * i;
  return p[0] | p[1] << 8 | p[2] << 16 | DWORD(p[3]) << 24;
}

uint32_t U32(const BYTE* b) { return b[0] | b[1] << 8 | b[2] << 16 | uint32_t(b[3]) << 24; }

class ImageRuntimeTest : public VekTest {
 protected:
  void TearDown() override {
    if (device) VekCloseGraphicsDevice(device);
    VekTest::TearDown();
  }
  void Open(bool pow2) {
    UseDefaultAdapter(pow2);
    device = VekOpenGraphicsDevice(0, window, 0, 1, 0, 0, 0, 0);
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(device->texturesPow2, pow2 ? 1 : 0);
  }
  HVEKIMAGE Load(const std::vector<uint8_t>& bytes, DWORD failures = 0) {
    HRASKFILE file =
        RaskCreateFileFromMemory(bytes.data(), static_cast<DWORD>(bytes.size()), nullptr);
    RaskSetFileFailure(file, failures);
    testing::internal::CaptureStdout();
    HVEKIMAGE image = VekCreateImage(file);
    printed = testing::internal::GetCapturedStdout();
    RaskDestroyFile(file);
    return image;
  }
  // The colour (x, y) of an unpadded DXT picture, decoded from its blocks.
  static DWORD Expected(const std::vector<uint8_t>& blocks, UINT width, INT compression, UINT x,
                        UINT y) {
    const UINT bytes = DxtBlockBytes(compression);
    BYTE px[64];
    DecodeDxtBlock(px, blocks.data() + ((y / 4) * DxtBlocksAcross(width) + x / 4) * bytes,
                   compression);
    return Pixel(px, (y % 4) * 4 + x % 4);
  }
  // Reading a rectangle makes the texture (and refuses DXT pictures).
  static INT MakeTexture(HVEKIMAGE image) {
    BYTE* out = nullptr;
    testing::internal::CaptureStdout();
    const INT got = VekGetImageData(image, 0, 0, 1, 1, &out);
    testing::internal::GetCapturedStdout();
    if (got > 0) VekFree(out);
    return got;
  }

  GraphicsDevice* device = nullptr;
  std::string printed;
};

TEST_F(ImageRuntimeTest, DxtPicturesArePaddedToPowersOfTwo) {
  Open(true);
  // 100 x 64: 25 x 16 blocks. 64 is a power of two but doubles with the
  // other side: 128 x 128.
  const std::vector<uint8_t> blocks = testdds::VariedBlocks(25 * 16, 8, 5);
  std::vector<uint8_t> file = testdds::DxtFile(100, 64, "DXT1", blocks);
  testdds::Put32(file, 8, 0x000A1007);  // a mip-map count flag that padding drops
  testdds::Put32(file, 28, 3);
  HVEKIMAGE image = Load(file);
  ASSERT_NE(image, nullptr);
  const VekTexture& t = image->texture;
  EXPECT_EQ(t.width, 128u);
  EXPECT_EQ(t.height, 128u);
  EXPECT_EQ(image->texture.contentScaleX, 0.78125f);
  EXPECT_EQ(image->texture.contentScaleY, 0.5f);
  EXPECT_EQ(VekGetImageSize(image), 100u | 64u << 16);
  ASSERT_EQ(t.dataSize, 128u + 32 * 32 * 8);
  EXPECT_EQ(std::memcmp(t.data, "DDS ", 4), 0);
  EXPECT_EQ(U32(t.data + 8), 0x00081007u);
  EXPECT_EQ(U32(t.data + 12), 128u);
  EXPECT_EQ(U32(t.data + 16), 128u);
  EXPECT_EQ(U32(t.data + 20), 32u * 32 * 8);
  EXPECT_EQ(U32(t.data + 28), 0u);
  EXPECT_EQ(U32(t.data + 84), testdds::FourCC("DXT1"));
  // Rows of 25 blocks at the start of rows of 32; the rest zero blocks.
  for (UINT row = 0; row < 32; ++row) {
    const BYTE* dst = t.data + 128 + row * 32 * 8;
    if (row < 16) {
      EXPECT_EQ(std::memcmp(dst, blocks.data() + row * 25 * 8, 25 * 8), 0) << "row " << row;
      dst += 25 * 8;
    }
    const std::vector<BYTE> zeros(t.data + 128 + (row + 1) * 32 * 8 - dst, 0);
    EXPECT_EQ(std::memcmp(dst, zeros.data(), zeros.size()), 0) << "row " << row;
  }

  // The picture reads as before; the padding is opaque black (a zero block).
  std::vector<DWORD> pending;
  for (UINT y = 0; y < 128; y += 3)
    for (UINT x = 0; x < 128; x += 3) {
      const DWORD c = VekGetImageColor(image, x, y);
      pending.push_back(c);
      if (x < 100 && y < 64)
        ASSERT_EQ(c, Expected(blocks, 100, kCompressionDxt1, x, y)) << x << ", " << y;
      else
        ASSERT_EQ(c, 0xFF000000u) << x << ", " << y;
    }
  EXPECT_EQ(MakeTexture(image), 0);
  ASSERT_NE(t.tex, nullptr);
  EXPECT_EQ(t.uScale, 0.0f);  // the padded file fits the level exactly
  std::vector<DWORD> ready;
  for (UINT y = 0; y < 128; y += 3)
    for (UINT x = 0; x < 128; x += 3) ready.push_back(VekGetImageColor(image, x, y));
  EXPECT_EQ(ready, pending);
  EXPECT_EQ(VekGetImageSize(image), 100u | 64u << 16);
  VekDestroyImage(image);
}

TEST_F(ImageRuntimeTest, PaddingKeepsPowerOfTwoPicturesAndCountsWholeBlocks) {
  Open(true);
  const std::vector<uint8_t> square =
      testdds::DxtFile(256, 256, "DXT5", testdds::VariedBlocks(64 * 64, 16));
  HVEKIMAGE image = Load(square);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->texture.width, 256u);
  EXPECT_EQ(image->texture.contentScaleX, 1.0f);
  ASSERT_EQ(image->texture.dataSize, square.size());
  EXPECT_EQ(std::memcmp(image->texture.data, square.data(), square.size()), 0);
  VekDestroyImage(image);

  // 6 x 5 DXT3 to 8 x 8: rows of two blocks, the partial ones included.
  const std::vector<uint8_t> blocks = testdds::VariedBlocks(4, 16, 9);
  image = Load(testdds::DxtFile(6, 5, "DXT3", blocks));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->texture.width, 8u);
  EXPECT_EQ(image->texture.height, 8u);
  EXPECT_EQ(image->texture.dataSize, 128u + 4 * 16);
  EXPECT_EQ(std::memcmp(image->texture.data + 128, blocks.data(), blocks.size()), 0);
  EXPECT_EQ(VekGetImageSize(image), 6u | 5u << 16);
  for (UINT y = 0; y < 5; ++y)
    for (UINT x = 0; x < 6; ++x)
      EXPECT_EQ(VekGetImageColor(image, x, y), Expected(blocks, 6, kCompressionDxt3, x, y));
  VekDestroyImage(image);

  // 1 x 3 pads to 2 x 4: one whole block, where W x H / 2 would be half one.
  image = Load(testdds::DxtFile(1, 3, "DXT1", testdds::VariedBlocks(1, 8)));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->texture.width, 2u);
  EXPECT_EQ(image->texture.height, 4u);
  EXPECT_EQ(image->texture.dataSize, 128u + 8);
  EXPECT_EQ(U32(image->texture.data + 20), 8u);
  EXPECT_EQ(MakeTexture(image), 0);
  EXPECT_NE(image->texture.tex, nullptr);
  VekDestroyImage(image);
}

TEST_F(ImageRuntimeTest, PaddingThatCannotBeAllocatedKeepsThePictureAsRead) {
  Open(true);
  const std::vector<uint8_t> file =
      testdds::DxtFile(100, 64, "DXT1", testdds::VariedBlocks(25 * 16, 8));
  FailMalloc(2, 1);  // the read buffer and the record succeed, the padding fails
  HVEKIMAGE image = Load(file);
  FailMalloc(0, 0);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(printed, Printed(ImageLine::kPadFailed));
  EXPECT_EQ(image->texture.width, 100u);
  EXPECT_EQ(image->texture.height, 64u);
  EXPECT_EQ(image->texture.contentScaleX, 1.0f);
  EXPECT_EQ(image->texture.contentScaleY, 1.0f);
  ASSERT_EQ(image->texture.dataSize, file.size());
  EXPECT_EQ(std::memcmp(image->texture.data, file.data(), file.size()), 0);
  EXPECT_EQ(VekGetImageSize(image), 100u | 64u << 16);

  // D3DX pads the level instead (rows of 32 blocks, not 25): reading
  // the texture follows its rows, so the colours stay the same.
  std::vector<DWORD> pending;
  for (UINT y = 0; y < 64; y += 3)
    for (UINT x = 0; x < 100; x += 3) pending.push_back(VekGetImageColor(image, x, y));
  EXPECT_EQ(MakeTexture(image), 0);
  ASSERT_NE(image->texture.tex, nullptr);
  D3DSURFACE_DESC level{};
  image->texture.tex->GetLevelDesc(0, &level);
  EXPECT_EQ(level.Width, 128u);
  EXPECT_EQ(image->texture.uScale, 0.78125f);
  std::vector<DWORD> ready;
  for (UINT y = 0; y < 64; y += 3)
    for (UINT x = 0; x < 100; x += 3) ready.push_back(VekGetImageColor(image, x, y));
  EXPECT_EQ(ready, pending);
  VekDestroyImage(image);
}

TEST_F(ImageRuntimeTest, PaddedSizesBeyondThirtyTwoBitsAreRefused) {
  Open(true);
  const LONG blocks = LiveBlockCount();
  // Called directly: the record's sides claim more than its data, but the
  // padded size is refused before anything is read or allocated.
  VekImage image{};
  image.texture.contentScaleX = image.texture.contentScaleY = 1.0f;
  std::vector<uint8_t> header = testdds::Header(4, 4, "DXT5", 0);
  image.texture.data = header.data();
  image.texture.dataSize = 128;
  image.texture.compression = kCompressionDxt5;
  const UINT sides[][2] = {{0x40000001u, 0x40000001u}, {0x80000001u, 4}, {0x10001, 0x10001}};
  for (const auto& s : sides) {
    image.texture.width = s[0];
    image.texture.height = s[1];
    EXPECT_FALSE(ExtendToPow2_DXT(&image)) << s[0] << " x " << s[1];
    EXPECT_EQ(image.texture.data, header.data());
    EXPECT_EQ(image.texture.contentScaleX, 1.0f);
  }
  EXPECT_EQ(LiveBlockCount(), blocks);

  // A record whose sides need more blocks than its data hold is refused
  // too, before any copy.
  image.texture.width = 6;
  image.texture.height = 6;
  EXPECT_FALSE(ExtendToPow2_DXT(&image));
  EXPECT_EQ(image.texture.width, 6u);
  EXPECT_EQ(LiveBlockCount(), blocks);
}

TEST_F(ImageRuntimeTest, FailedAllocationsAndReadsLeaveNothingBehind) {
  Open(false);
  const std::vector<uint8_t> file = testdds::SolidDxt1(8, 8, 0x001F);
  const LONG blocks = LiveBlockCount();
  FailMalloc(0, 1);  // the read buffer
  EXPECT_EQ(Load(file), nullptr);
  EXPECT_EQ(printed, "");
  FailMalloc(1, 1);  // the record
  EXPECT_EQ(Load(file), nullptr);
  EXPECT_EQ(printed, Printed(ImageLine::kMallocRecord));
  FailMalloc(0, 0);
  EXPECT_EQ(Load(file, RASK_FAIL_OPEN), nullptr);
  EXPECT_EQ(printed, "");
  EXPECT_EQ(Load(file, RASK_FAIL_READ), nullptr);
  EXPECT_EQ(printed, "");
  EXPECT_EQ(Load({}), nullptr);
  EXPECT_EQ(printed, "");
  EXPECT_EQ(LiveBlockCount(), blocks);
}

TEST_F(ImageRuntimeTest, LockFailuresAreReportedWithTheirResult) {
  Open(false);
  HVEKIMAGE image = Load(testdds::SolidDxt1(8, 8, 0x07E0));
  ASSERT_NE(image, nullptr);
  ASSERT_EQ(MakeTexture(image), 0);
  vrt::FailCall("IDirect3DTexture8::LockRect", D3DERR_INVALIDCALL);
  testing::internal::CaptureStdout();
  EXPECT_EQ(VekGetImageColor(image, 1, 1), 0u);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), Printed(ImageLine::kColorLock));
  LastError e = ReadError();
  EXPECT_EQ(e.code, -52);
  EXPECT_EQ(e.detail, static_cast<LONG>(D3DERR_INVALIDCALL));
  EXPECT_EQ(e.message, Message(ImageErr::kLockColor));
  EXPECT_EQ(e.source, ".\\vekimage");
  EXPECT_EQ(VekGetImageColor(image, 1, 1), 0xFF00FF00u);  // unlocked: reads again
  VekDestroyImage(image);

  std::vector<uint8_t> file = testdds::Solid32(4, 4, 0xFF336699);
  auto* pending = static_cast<VekImage*>(Malloc(sizeof(VekImage)));
  std::memset(pending, 0, sizeof(VekImage));
  pending->texture.format = D3DFMT_A8R8G8B8;
  pending->texture.compression = kCompressionNone;
  pending->texture.width = pending->texture.height = 4;
  pending->texture.data = static_cast<BYTE*>(Malloc(static_cast<UINT>(file.size())));
  std::memcpy(pending->texture.data, file.data(), file.size());
  pending->texture.dataSize = static_cast<UINT>(file.size());
  ASSERT_EQ(MakeTexture(pending), 4);
  vrt::FailCall("IDirect3DTexture8::LockRect", E_FAIL);
  BYTE* out = nullptr;
  testing::internal::CaptureStdout();
  EXPECT_EQ(VekGetImageData(pending, 0, 0, 4, 4, &out), -3);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), Printed(ImageLine::kDataLock));
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(ReadError().detail, static_cast<LONG>(E_FAIL));
  VekDestroyImage(pending);
}

TEST_F(ImageRuntimeTest, ImageDataSurvivesFailedCreationAndAllocation) {
  Open(false);
  std::vector<uint8_t> file = testdds::Solid32(4, 4, 0xFF336699);
  auto* image = static_cast<VekImage*>(Malloc(sizeof(VekImage)));
  std::memset(image, 0, sizeof(VekImage));
  image->texture.format = D3DFMT_A8R8G8B8;
  image->texture.compression = kCompressionNone;
  image->texture.width = image->texture.height = 4;
  image->texture.data = static_cast<BYTE*>(Malloc(static_cast<UINT>(file.size())));
  std::memcpy(image->texture.data, file.data(), file.size());
  image->texture.dataSize = static_cast<UINT>(file.size());

  vrt::FailCall("IDirect3DDevice8::CreateTexture", E_OUTOFMEMORY);
  BYTE* out = nullptr;
  testing::internal::CaptureStdout();
  EXPECT_EQ(VekGetImageData(image, 0, 0, 2, 2, &out), -2);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            Printed(ImageLine::kDataFailed, static_cast<void*>(image), -51));
  EXPECT_NE(image->texture.data, nullptr);  // kept for the next try
  EXPECT_EQ(image->texture.tex, nullptr);

  // The texture is made, then the output block cannot be had.
  FailMalloc(0, 1);
  testing::internal::CaptureStdout();
  EXPECT_EQ(VekGetImageData(image, 0, 0, 2, 2, &out), -11);
  testing::internal::GetCapturedStdout();
  FailMalloc(0, 0);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(ReadError().code, -11);
  ASSERT_NE(image->texture.tex, nullptr);
  // The level was unlocked: the next read works.
  ASSERT_EQ(VekGetImageData(image, 1, 1, 3, 2, &out), 8);
  DWORD got[2];
  std::memcpy(got, out, 8);
  EXPECT_EQ(got[0], 0xFF336699u);
  EXPECT_EQ(got[1], 0xFF336699u);
  VekFree(out);
  VekDestroyImage(image);
}

TEST_F(ImageRuntimeTest, SizeOnADeviceWithoutPowerOfTwoIsTheStoredOne) {
  Open(false);
  VekImage image{};
  image.texture.width = 128;
  image.texture.height = 128;
  image.texture.contentScaleX = 0.78125f;
  image.texture.contentScaleY = 0.5f;
  // As stored while the current device pads nothing.
  EXPECT_EQ(VekGetImageSize(&image), 128u | 128u << 16);
}

// Leading bytes of files whose headers announce the given size; the rest
// is zeros, so a decoder asked to read them fails.
std::vector<uint8_t> PngAnnouncing(uint32_t width, uint32_t height) {
  std::vector<uint8_t> b(64, 0);
  const uint8_t lead[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A,
                          0,    0,   0,   13,  'I',  'H',  'D',  'R'};
  std::memcpy(b.data(), lead, sizeof lead);
  for (int i = 0; i < 4; ++i) {
    b[16 + i] = uint8_t(width >> (24 - 8 * i));
    b[20 + i] = uint8_t(height >> (24 - 8 * i));
  }
  return b;
}
std::vector<uint8_t> BmpAnnouncing(int32_t width, int32_t height) {
  std::vector<uint8_t> b(64, 0);
  b[0] = 'B';
  b[1] = 'M';
  testdds::Put32(b, 14, 40);
  testdds::Put32(b, 18, uint32_t(width));
  testdds::Put32(b, 22, uint32_t(height));
  return b;
}
std::vector<uint8_t> JpegAnnouncing(uint16_t width, uint16_t height);

std::vector<uint8_t> JpegWithDetours(uint16_t width, uint16_t height) {
  std::vector<uint8_t> b = {0xFF, 0xD8, 0xFF, 0x5B, 0x5B, 0x5B, 0x5B, 0x12, 0xFF, 0x00, 0x34};
  const std::vector<uint8_t> rest = JpegAnnouncing(width, height);
  b.insert(b.end(), rest.begin() + 2, rest.end());  // without its SOI
  return b;
}

std::vector<uint8_t> JpegAnnouncing(uint16_t width, uint16_t height) {
  // SOI, an APP0 segment to skip, then a baseline frame header.
  std::vector<uint8_t> b = {0xFF,
                            0xD8,
                            0xFF,
                            0xE0,
                            0x00,
                            0x04,
                            0x00,
                            0x00,
                            0xFF,
                            0xC0,
                            0x00,
                            0x0B,
                            0x08,
                            uint8_t(height >> 8),
                            uint8_t(height),
                            uint8_t(width >> 8),
                            uint8_t(width),
                            0x01,
                            0x01,
                            0x11,
                            0x00};
  b.resize(64, 0);
  return b;
}

TEST_F(ImageRuntimeTest, PicturesTooLargeToHoldAreRefusedBeforeDecoding) {
  Open(false);
  ASSERT_TRUE(FreeImageAvailable());
  const std::string refused = Printed(ImageLine::kInvalidData);
  const std::vector<std::vector<uint8_t>> huge = {
      PngAnnouncing(65536, 65536), PngAnnouncing(0x7FFFFFFF, 1), BmpAnnouncing(70000, -70000),
      BmpAnnouncing(-0x7FFFFFFF - 1, 1), JpegAnnouncing(65535, 65535),
      testdds::Header(0x10000, 0x4000, nullptr, 0),
      // Beyond the adapter's largest texture (4096): never drawable.
      PngAnnouncing(4097, 16), testdds::Header(0x04000008, 8, nullptr, 0),
      // The frame behind what the decoder reads past: an unknown marker
      // (whose next bytes are no length), stray bytes and a stuffed zero.
      JpegWithDetours(20036, 18757)};
  for (size_t i = 0; i < huge.size(); ++i) {
    EXPECT_EQ(Load(huge[i]), nullptr) << "case " << i;
    EXPECT_EQ(printed, refused) << "case " << i;  // the decoder was never asked
  }
  // Sizes that fit are the decoder's to judge (these bytes it cannot decode).
  const std::vector<std::vector<uint8_t>> fitting = {
      PngAnnouncing(4096, 100), BmpAnnouncing(4096, -100), JpegAnnouncing(4096, 100)};
  for (size_t i = 0; i < fitting.size(); ++i) {
    EXPECT_EQ(Load(fitting[i]), nullptr) << "case " << i;
    EXPECT_NE(printed, refused) << "case " << i;
    EXPECT_NE(printed.find(refused), std::string::npos) << "case " << i;
  }
  VekCloseGraphicsDevice(device);

  // Padded to 8192 x 128 they no longer fit in a texture.
  device = nullptr;
  Open(true);
  for (size_t i = 0; i < fitting.size(); ++i) {
    EXPECT_EQ(Load(fitting[i]), nullptr) << "case " << i;
    EXPECT_EQ(printed, refused) << "case " << i;
  }
}

// A power-of-two device pads pictures; the host still reads the picture's own
// rows and gets the particles a plain device gives.
TEST_F(ImageRuntimeTest, PaddedPicturesReadAndEmitAsOnAPlainDevice) {
  std::vector<uint32_t> argb(3 * 5);
  for (size_t i = 0; i < argb.size(); ++i)
    argb[i] = 0xFF000000u | static_cast<uint32_t>(i * 0x10203);
  std::vector<uint8_t> dds = testdds::Solid32(17, 9, 0x80123456);
  for (UINT i = 0; i < 17 * 9; ++i) testdds::Put32(dds, 128 + 4 * i, 0x20000000u + i * 0x01010101u);
  struct Seen {
    std::vector<BYTE> png, dds;
    std::vector<float> particles;
  } seen[2];
  for (bool pow2 : {false, true}) {
    SCOPED_TRACE(pow2);
    Open(pow2);
    Seen& out = seen[pow2];
    for (auto [bytes, rows] : {std::pair{pictures::Png(3, 5, argb), &out.png}, {dds, &out.dds}}) {
      HVEKIMAGE image = Load(bytes);
      ASSERT_NE(image, nullptr);
      BYTE* block = nullptr;
      const INT n = VekGetImageData(image, 0, 0, 1000, 1000, &block);
      ASSERT_GT(n, 0);
      rows->assign(block, block + n);
      VekFree(block);
      // The whole picture emits, stretched over a 120-pixel area.
      HVEKGRAPHICS g = VekOpenGraphics(device);
      Sys s;
      s.count = 40;
      s.image = image;
      s.areaWidth = s.areaHeight = 120;
      EXPECT_EQ(Draw(g, s), 40);
      for (const PBuffer* list : {&g->translucentItems, &g->opaqueItems})
        for (const DrawItem* item : PendingItems(*list)) {
          for (UINT k = 0; k < item->count; ++k)
            out.particles.insert(out.particles.end(), {item->vertices[k].x, item->vertices[k].y});
        }
      VekCloseGraphics(g);
      VekDestroyImage(image);
    }
    VekCloseGraphicsDevice(device);
    device = nullptr;
  }
  EXPECT_EQ(seen[0].png.size(), 3u * 5 * 4);
  EXPECT_EQ(seen[0].dds.size(), 17u * 9 * 4);
  EXPECT_EQ(seen[1].png, seen[0].png);
  EXPECT_EQ(seen[1].dds, seen[0].dds);
  EXPECT_GT(seen[0].particles.size(), 40u * 4 * 2);
  EXPECT_EQ(seen[1].particles, seen[0].particles);
}

}  // namespace
