// Where FreeImage comes from and how the decoding path copes when it is
// missing, incomplete or misbehaving, on the POSIX runtime: scratch current
// directories holding stand-in modules, adapters that need power-of-two
// textures, failing allocations.
#include <dlfcn.h>
#include <rask.h>
#include <unistd.h>
#include <vek/vek.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "gd/device.h"
#include "support/dds.h"
#include "support/diagnostics.h"
#include "support/kept_image.h"
#include "support/pictures.h"
#include "support/vek_test.h"
#include "vekimage/freeimage.h"
#include "vekimage/image.h"

namespace {

namespace fs = std::filesystem;

// A fresh directory under the system's temporary folder, removed at the end.
struct ScratchDir {
  ScratchDir() {
    std::string pattern = (fs::temp_directory_path() / "vekfi-XXXXXX").string();
    // Canonical, so that its length is what the current directory reports.
    if (mkdtemp(pattern.data())) path = fs::canonical(pattern).string();
  }
  ~ScratchDir() {
    std::error_code ignored;
    if (!path.empty()) fs::remove_all(path, ignored);
  }
  std::string path;
};

// FreeImage reloaded with `dir` as the current directory, as if the module
// had been attached there; the original directory and module come back at
// the end.
struct AttachedIn {
  explicit AttachedIn(const std::string& dir) : previous(fs::current_path()) {
    UnloadFreeImage();
    entered = chdir(dir.c_str()) == 0;
    LoadFreeImage();
  }
  ~AttachedIn() {
    UnloadFreeImage();
    fs::current_path(previous);
    LoadFreeImage();
  }
  fs::path previous;
  bool entered = false;
};

// Little-endian script for the stand-in module: size, bits per pixel and
// failure flags (1 open, 2 load, 4 convert, 8 no bits, 16 short scan lines).
std::vector<uint8_t> Script(uint32_t width, uint32_t height, uint32_t bpp, uint32_t flags = 0) {
  std::vector<uint8_t> out(24, 0);
  std::memcpy(out.data(), "FAKE", 4);
  const uint32_t words[5] = {width, height, bpp, 0, flags};
  std::memcpy(out.data() + 4, words, sizeof(words));
  return out;
}

class FreeImageRuntimeTest : public VekTest {
 protected:
  // The system's FreeImage brings libraries (OpenMP, colour management)
  // that leave their start-up blocks behind when unloaded. Pinned here, it
  // stays mapped while the tests release and take the library's handle to
  // it as often as they need.
  static void SetUpTestSuite() {
    static void* pinned = dlopen("libfreeimage.so.3", RTLD_NOW | RTLD_NODELETE);
    ASSERT_NE(pinned, nullptr);
  }
  void TearDown() override {
    if (image.texture.data) Free(image.texture.data);
    if (device) VekCloseGraphicsDevice(device);
    if (fake) dlclose(fake);
    VekTest::TearDown();
    EXPECT_TRUE(FreeImageAvailable()) << "the test did not restore FreeImage";
  }
  // Replaces what the image holds with a copy of `file`.
  void Keep(const std::vector<uint8_t>& file) {
    if (image.texture.data) Free(image.texture.data);
    ASSERT_TRUE(KeepFile(&image, file));
  }
  void OpenDevice(bool pow2) {
    UseDefaultAdapter(pow2);
    device = VekOpenGraphicsDevice(0, window, 0, 1, 0, 0, 0, 0);
    ASSERT_NE(device, nullptr);
  }
  // Puts a copy of `module` into `dir` under the name the library looks for.
  static void Place(const char* module, const std::string& dir) {
    fs::copy_file(module, fs::path(dir) / "libfreeimage.so.3");
  }
  // The stand-in's counters, read from the copy the library loaded.
  int Counter(const std::string& dir, const char* name) {
    if (!fake) fake = dlopen((dir + "/libfreeimage.so.3").c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!fake) return -1;
    auto fn = reinterpret_cast<int (*)()>(dlsym(fake, name));
    return fn ? fn() : -1;
  }
  // `failAllocation`: the next base-library allocation after the file
  // bytes are kept fails.
  void ExpectRefused(uint32_t w, uint32_t h, uint32_t bpp, uint32_t flags,
                     const std::string& message, bool failAllocation = false) {
    Keep(Script(w, h, bpp, flags));
    const LONG blocks = LiveBlockCount();
    if (failAllocation) FailMalloc(0, 1);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(HueImage_OtherFormat(&image, kFifPng));
    FailMalloc(0, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), message) << w << "x" << h << " " << flags;
    EXPECT_EQ(image.texture.data, nullptr);
    EXPECT_EQ(image.texture.dataSize, 0u);
    EXPECT_EQ(LiveBlockCount(), blocks - 1);  // the file bytes, and nothing new
  }

  GraphicsDevice* device = nullptr;
  VekImage image{};
  void* fake = nullptr;
};

const std::vector<uint32_t> k3x2 = {0xFF102030, 0x80405060, 0x00708090,
                                    0xC0A0B0C0, 0xFFD0E0F0, 0x40010203};

TEST_F(FreeImageRuntimeTest, PowerOfTwoAdapterPadsDecodedPictures) {
  OpenDevice(true);
  ASSERT_EQ(device->texturesPow2, 1);
  Keep(pictures::Png(3, 2, k3x2));
  ASSERT_TRUE(HueImage_OtherFormat(&image, kFifPng));
  EXPECT_EQ(image.texture.width, 4u);
  EXPECT_EQ(image.texture.height, 4u);
  EXPECT_EQ(image.texture.contentScaleX, 0.75f);
  EXPECT_EQ(image.texture.contentScaleY, 0.5f);
  const uint32_t* px = reinterpret_cast<const uint32_t*>(image.texture.data + 128);
  for (UINT y = 0; y < 4; ++y)
    for (UINT x = 0; x < 4; ++x)
      EXPECT_EQ(px[y * 4 + x], (x < 3 && y < 2) ? k3x2[y * 3 + x] : 0u) << x << "," << y;
}

TEST_F(FreeImageRuntimeTest, UncompressedDdsDecodesTopDown) {
  std::vector<uint8_t> file = testdds::Header(2, 2, nullptr, 16);
  const uint32_t pixels[4] = {0xFF0000FF, 0xFF00FF00, 0xFFFF0000, 0x80FFFFFF};
  std::memcpy(file.data() + 128, pixels, 16);
  Keep(file);
  ASSERT_TRUE(HueImage_OtherFormat(&image, kFifDds));
  ASSERT_EQ(image.texture.dataSize, 128u + 16);
  EXPECT_EQ(std::memcmp(image.texture.data + 128, pixels, 16), 0);
}

TEST_F(FreeImageRuntimeTest, WithoutFreeImageOtherPicturesAreRefusedSilently) {
  {
    UnloadFreeImage();
    EXPECT_FALSE(FreeImageAvailable());
    Keep(pictures::Png(3, 2, k3x2));
    testing::internal::CaptureStdout();
    EXPECT_FALSE(HueImage_OtherFormat(&image, kFifPng));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(image.texture.data, nullptr);
    EXPECT_EQ(image.texture.dataSize, 0u);
    LoadFreeImage();
  }
  // Loading again, after a load, holds one module and still decodes.
  LoadFreeImage();
  ASSERT_TRUE(FreeImageAvailable());
  Keep(pictures::Png(3, 2, k3x2));
  EXPECT_TRUE(HueImage_OtherFormat(&image, kFifPng));
}

TEST_F(FreeImageRuntimeTest, WithoutFreeImageOnlyDxtFilesLoad) {
  OpenDevice(false);
  auto load = [](const std::vector<uint8_t>& bytes, std::string* printed) {
    HRASKFILE file = RaskCreateFileFromMemory(bytes.data(), DWORD(bytes.size()), nullptr);
    testing::internal::CaptureStdout();
    HVEKIMAGE image = VekCreateImage(file);
    *printed = testing::internal::GetCapturedStdout();
    RaskDestroyFile(file);
    return image;
  };
  const std::vector<uint32_t> grey(8 * 8, 0xFF808080);
  const std::vector<std::vector<uint8_t>> others = {
      pictures::Png(8, 8, grey), pictures::Jpeg(8, 8, grey), pictures::Bmp24(8, 8, grey),
      testdds::Solid32(8, 8, 0xFF808080)};
  UnloadFreeImage();
  std::string printed;
  for (const auto& bytes : others) {
    EXPECT_EQ(load(bytes, &printed), nullptr);
    EXPECT_EQ(printed, Printed(ImageLine::kInvalidData));
  }
  HVEKIMAGE dxt = load(testdds::SolidDxt1(8, 8, 0xF800), &printed);
  EXPECT_NE(dxt, nullptr);
  VekDestroyImage(dxt);

  // Attached again, the same files load.
  LoadFreeImage();
  for (const auto& bytes : others) {
    HVEKIMAGE image = load(bytes, &printed);
    EXPECT_NE(image, nullptr);
    VekDestroyImage(image);
  }
}

TEST_F(FreeImageRuntimeTest, CurrentDirectoryDecidesWhichModuleLoads) {
  {
    // An empty file of that name is no module: the system's is used.
    ScratchDir dir;
    std::FILE* empty = std::fopen((dir.path + "/libfreeimage.so.3").c_str(), "wb");
    ASSERT_NE(empty, nullptr);
    std::fclose(empty);
    AttachedIn attached(dir.path);
    ASSERT_TRUE(attached.entered);
    ASSERT_TRUE(FreeImageAvailable());
    Keep(pictures::Png(3, 2, k3x2));
    EXPECT_TRUE(HueImage_OtherFormat(&image, kFifPng));
    Free(image.texture.data);
    image.texture.data = nullptr;
  }
  {
    // A module lacking an entry point, or no module at all, is not used:
    // the system's is, with one line saying so.
    for (bool partial : {true, false}) {
      ScratchDir dir;
      if (partial) {
        Place(VEK_PARTIAL_FREEIMAGE, dir.path);
      } else {
        std::FILE* junk = std::fopen((dir.path + "/libfreeimage.so.3").c_str(), "wb");
        ASSERT_NE(junk, nullptr);
        std::fputs("not a shared object", junk);
        std::fclose(junk);
      }
      SetLogCapture(TRUE);
      AttachedIn attached(dir.path);
      ASSERT_TRUE(attached.entered);
      EXPECT_EQ(CapturedLog(),
                ".\\vekimage: FreeImage in the current directory cannot be used; trying the "
                "system's\n");
      EXPECT_TRUE(FreeImageAvailable());
      Keep(pictures::Png(3, 2, k3x2));
      EXPECT_TRUE(HueImage_OtherFormat(&image, kFifPng));
      Free(image.texture.data);
      image.texture.data = nullptr;
    }
  }
  {
    // A complete module there is preferred to the system's.
    ScratchDir dir;
    Place(VEK_FAKE_FREEIMAGE, dir.path);
    AttachedIn attached(dir.path);
    ASSERT_TRUE(FreeImageAvailable());
    Keep(Script(3, 2, 24));
    ASSERT_TRUE(HueImage_OtherFormat(&image, kFifPng));
    EXPECT_EQ(Counter(dir.path, "FakeConversions"), 1);
    EXPECT_EQ(Counter(dir.path, "FakeLiveStreams"), 0);
    EXPECT_EQ(Counter(dir.path, "FakeLiveBitmaps"), 0);
    const uint32_t* px = reinterpret_cast<const uint32_t*>(image.texture.data + 128);
    EXPECT_EQ(px[0], 0xFF400000u);      // top row first
    EXPECT_EQ(px[3 + 2], 0xFF400102u);  // x 2, y 1
    dlclose(fake);
    fake = nullptr;
  }
}

// The module the Windows build's tests use in place of FreeImage decodes
// what the library hands it as FreeImage does and refuses the rest.
TEST_F(FreeImageRuntimeTest, StbModuleDecodesLikeFreeImage) {
  ScratchDir dir;
  Place(VEK_STB_FREEIMAGE, dir.path);
  AttachedIn attached(dir.path);
  ASSERT_TRUE(FreeImageAvailable());
  auto pixel = [&](UINT x, UINT y) {
    uint32_t v;
    std::memcpy(&v, image.texture.data + 128 + (size_t(y) * image.texture.width + x) * 4, 4);
    return v;
  };

  Keep(pictures::Png(3, 2, k3x2));
  ASSERT_TRUE(HueImage_OtherFormat(&image, kFifPng));
  ASSERT_EQ(image.texture.dataSize, 152u);
  for (UINT i = 0; i < 6; ++i) EXPECT_EQ(pixel(i % 3, i / 3), k3x2[i]) << i;

  // 5 x 3 at 24 bits: scan lines padded to 4 bytes in the bitmap.
  std::vector<uint32_t> bmp(5 * 3);
  for (UINT i = 0; i < bmp.size(); ++i) bmp[i] = 0x00010203u * (i + 1);
  Keep(pictures::Bmp24(5, 3, bmp));
  ASSERT_TRUE(HueImage_OtherFormat(&image, kFifBmp));
  for (UINT i = 0; i < bmp.size(); ++i) EXPECT_EQ(pixel(i % 5, i / 5), bmp[i] | 0xFF000000u) << i;

  Keep(pictures::Jpeg(8, 8, std::vector<uint32_t>(64, 0x00204080)));
  ASSERT_TRUE(HueImage_OtherFormat(&image, kFifJpeg));
  for (UINT i = 0; i < 64; ++i) EXPECT_EQ(pixel(i % 8, i / 8) >> 24, 0xFFu);

  // Grey pictures widen to equal channels; grey with alpha keeps its alpha.
  std::vector<uint8_t> greyPng;
  const uint8_t grey[4] = {0x10, 0x80, 0xF0, 0x33};
  stbi_write_png_to_func(pictures::AppendBytes, &greyPng, 2, 2, 1, grey, 2);
  Keep(greyPng);
  ASSERT_TRUE(HueImage_OtherFormat(&image, kFifPng));
  EXPECT_EQ(pixel(1, 0), 0xFF808080u);
  EXPECT_EQ(pixel(0, 1), 0xFFF0F0F0u);
  std::vector<uint8_t> greyAlphaPng;
  const uint8_t greyAlpha[2] = {0x40, 0x90};
  stbi_write_png_to_func(pictures::AppendBytes, &greyAlphaPng, 1, 1, 2, greyAlpha, 2);
  Keep(greyAlphaPng);
  ASSERT_TRUE(HueImage_OtherFormat(&image, kFifPng));
  EXPECT_EQ(pixel(0, 0), 0x90404040u);

  // Uncompressed 32-bit DDS keeps its alpha; DXT blocks are the library's
  // own business, and a format named wrongly is refused.
  Keep(testdds::Solid32(2, 2, 0x40FF8000));
  ASSERT_TRUE(HueImage_OtherFormat(&image, kFifDds));
  EXPECT_EQ(pixel(1, 1), 0x40FF8000u);
  Keep(testdds::SolidDxt1(4, 4, 0xF800));
  testing::internal::CaptureStdout();
  EXPECT_FALSE(HueImage_OtherFormat(&image, kFifDds));
  Keep(pictures::Png(3, 2, k3x2));
  EXPECT_FALSE(HueImage_OtherFormat(&image, kFifJpeg));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            Printed(ImageLine::kCloseMemory) + Printed(ImageLine::kCloseMemory));
}

TEST_F(FreeImageRuntimeTest, TooLongCurrentDirectoryIsNotSearched) {
  ScratchDir scratch;
  ASSERT_FALSE(scratch.path.empty());
  // A directory path of exactly `length` characters below the scratch folder.
  auto deepDir = [&](size_t length) {
    std::string dir = scratch.path + "/" + std::to_string(length);
    while (dir.size() < length) {
      const size_t room = length - dir.size() - 1;
      dir += room == 0 ? std::string("d") : "/" + std::string(std::min<size_t>(room, 200), 'd');
    }
    fs::create_directories(dir);
    Place(VEK_FAKE_FREEIMAGE, dir);
    return dir;
  };
  // The path buffer holds 260 units: directory, separator, the 17-character
  // name and the terminator.
  const std::string fits = deepDir(241);
  const std::string tooLong = deepDir(242);
  ASSERT_EQ(fits.size(), 241u);
  ASSERT_EQ(tooLong.size(), 242u);
  {
    AttachedIn attached(fits);
    ASSERT_TRUE(attached.entered);
    EXPECT_TRUE(FreeImageAvailable());
    Keep(Script(1, 1, 32));
    EXPECT_TRUE(HueImage_OtherFormat(&image, kFifPng));  // the stand-in's picture
    Free(image.texture.data);
    image.texture.data = nullptr;
  }
  {
    AttachedIn attached(tooLong);
    ASSERT_TRUE(attached.entered);
    EXPECT_FALSE(FreeImageAvailable());  // nor the system's: nothing is loaded
  }
}

TEST_F(FreeImageRuntimeTest, FailingStepsReleaseEverything) {
  ScratchDir dir;
  Place(VEK_FAKE_FREEIMAGE, dir.path);
  AttachedIn attached(dir.path);
  ASSERT_TRUE(FreeImageAvailable());
  ExpectRefused(3, 2, 24, 1, Printed(ImageLine::kOpenMemory));
  ExpectRefused(3, 2, 24, 2, Printed(ImageLine::kCloseMemory));
  ExpectRefused(3, 2, 24, 4, "");  // the conversion fails without a message
  ExpectRefused(3, 2, 32, 8, Printed(ImageLine::kGetBits));
  // Scan lines shorter than their pixels would be read past their end.
  ExpectRefused(3, 2, 32, 16, "");
  ExpectRefused(0, 2, 32, 0, "");  // no pixels, nothing to hold
  EXPECT_EQ(Counter(dir.path, "FakeLiveStreams"), 0);
  EXPECT_EQ(Counter(dir.path, "FakeLiveBitmaps"), 0);
  EXPECT_EQ(Counter(dir.path, "FakeConversions"), 1);  // only the 24-bit script that loaded
  dlclose(fake);
  fake = nullptr;
}

TEST_F(FreeImageRuntimeTest, SizesPastThirtyTwoBitsAreRefusedBeforeAllocating) {
  ScratchDir dir;
  Place(VEK_FAKE_FREEIMAGE, dir.path);
  AttachedIn attached(dir.path);
  ASSERT_TRUE(FreeImageAvailable());
  // 65536 x 65536 x 4 + 128 wraps to 128 in 32 bits; 40000 x 30000 x 4 to a
  // little over half a gigabyte.
  ExpectRefused(65536, 65536, 32, 0, "");
  ExpectRefused(40000, 30000, 32, 0, "");
  // The largest size whose file image still fits is not refused for size:
  // its allocation is simply made to fail here.
  ExpectRefused(32767, 32767, 32, 0, Printed(ImageLine::kMallocFile), true);

  OpenDevice(true);
  // A side past 2^31 has no 32-bit padded size; 30000 x 30000 fits unpadded
  // but not padded to 32768 x 32768.
  ExpectRefused(1, 0x80000001u, 32, 0, "");
  ExpectRefused(30000, 30000, 32, 0, "");
  EXPECT_EQ(Counter(dir.path, "FakeLiveBitmaps"), 0);
  dlclose(fake);
  fake = nullptr;
}

}  // namespace
