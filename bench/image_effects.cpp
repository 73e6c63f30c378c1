// Colour effects on a 1024 x 1024 picture: the uncompressed pass (MB/s),
// the DXT end-point pass (blocks/s), the block procedure's decode, recolour
// and re-encode against stb_dxt alone encoding the same recoloured blocks
// (the library's cost over the encoder), and the quality of the re-encoded
// blocks as PSNR against the recoloured source pixels.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#define STB_DXT_STATIC
#define STB_DXT_IMPLEMENTATION
#include <stb_dxt.h>

#include "vekimage/dxt.h"
#include "vekimage/dxt_encode.h"
#include "vekimage/effects.h"

namespace {

constexpr int kSide = 1024;
constexpr int kBlocks = (kSide / 4) * (kSide / 4);
// The machine is shared: the fastest of several runs is the steadiest figure.
constexpr int kRuns = 11;

// Smooth gradients, a disc, fine noise; alpha from 2 to 255 so a window of
// 2..255 reaches every block.
std::vector<uint8_t> ScenePixels() {
  std::vector<uint8_t> bgra(size_t(kSide) * kSide * 4);
  std::mt19937 random(99);
  std::uniform_int_distribution<int> noise(-5, 5);
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x) {
      const double fx = x / double(kSide), fy = y / double(kSide);
      double r = 255 * (0.5 + 0.5 * std::sin(7.0 * fx + 3.0 * fy)), g = 255 * fy,
             b = 255 * (0.5 + 0.5 * std::cos(8.0 * fx * fy));
      const double dx = x - 500, dy = y - 520;
      if (dx * dx + dy * dy < 200.0 * 200.0) r = 230, g = 190, b = 30;
      const int n = noise(random);
      auto c = [&](double v) { return uint8_t(std::clamp(int(v) + n, 0, 255)); };
      uint8_t* p = &bgra[(size_t(y) * kSide + x) * 4];
      p[0] = c(b);
      p[1] = c(g);
      p[2] = c(r);
      p[3] = uint8_t(2 + (x + y) % 254);
    }
  return bgra;
}

// The 16 pixels of block (bx, by), B, G, R, A.
void GatherBlock(const std::vector<uint8_t>& bgra, int bx, int by, uint8_t* out) {
  for (int row = 0; row < 4; ++row)
    std::memcpy(out + row * 16, &bgra[(size_t(by * 4 + row) * kSide + bx * 4) * 4], 16);
}

void ToRgba(const uint8_t* bgra, uint8_t* rgba, bool opaque) {
  for (int i = 0; i < 16; ++i) {
    rgba[i * 4] = bgra[i * 4 + 2];
    rgba[i * 4 + 1] = bgra[i * 4 + 1];
    rgba[i * 4 + 2] = bgra[i * 4];
    rgba[i * 4 + 3] = opaque ? 255 : bgra[i * 4 + 3];
  }
}

// A kept image record over a DDS file image (header contents do not matter
// to the effects).
struct Kept {
  VekImage image{};
  std::vector<uint8_t> file;
  Kept(INT compression, size_t payload) : file(128 + payload) {
    image.texture.width = kSide;
    image.texture.height = kSide;
    image.texture.compression = compression;
    image.texture.data = file.data();
    image.texture.dataSize = UINT(file.size());
  }
};

std::vector<uint8_t> EncodeDxt5(const std::vector<uint8_t>& bgra) {
  std::vector<uint8_t> blocks(size_t(kBlocks) * 16);
  uint8_t px[64], rgba[64];
  for (int by = 0; by < kSide / 4; ++by)
    for (int bx = 0; bx < kSide / 4; ++bx) {
      GatherBlock(bgra, bx, by, px);
      ToRgba(px, rgba, false);
      stb_compress_dxt_block(&blocks[size_t(by * (kSide / 4) + bx) * 16], rgba, 1,
                             STB_DXT_HIGHQUAL);
    }
  return blocks;
}

template <class Fn>
double BestSeconds(Fn fn) {
  std::vector<double> times;
  for (int run = 0; run < kRuns; ++run) {
    const auto start = std::chrono::steady_clock::now();
    fn();
    times.push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return *std::min_element(times.begin(), times.end());
}

double Psnr(double squaredError, double samples) {
  if (squaredError == 0) return INFINITY;
  return 10.0 * std::log10(255.0 * 255.0 * samples / squaredError);
}

// PSNR of every block of `encoded` against `source` blocks with `op` applied
// (colour channels of pixels whose alpha is in the window).
double BlockPsnr(const std::vector<uint8_t>& original, const std::vector<uint8_t>& encoded,
                 INT compression, PixelOperation op, INT p, INT lo, INT hi) {
  const size_t blockBytes = DxtBlockBytes(compression);
  double error = 0, samples = 0;
  uint8_t want[64], got[64];
  for (size_t b = 0; b < size_t(kBlocks); ++b) {
    DecodeDxtBlock(want, &original[b * blockBytes], compression);
    for (int i = 0; i < 16; ++i)
      if (want[i * 4 + 3] >= lo && want[i * 4 + 3] <= hi) op(want + i * 4, p);
    DecodeDxtBlock(got, &encoded[b * blockBytes], compression);
    for (int i = 0; i < 16; ++i) {
      if (compression == kCompressionDxt1 && want[i * 4 + 3] == 0) continue;  // transparent
      for (int c = 0; c < 3; ++c) {
        const double d = double(want[i * 4 + c]) - got[i * 4 + c];
        error += d * d;
        samples += 1;
      }
    }
  }
  return Psnr(error, samples);
}

}  // namespace

int main() {
  const std::vector<uint8_t> bgra = ScenePixels();
  std::printf("colour effects on %d x %d, best of %d runs\n", kSide, kSide, kRuns);

  // Uncompressed: one pass over 4 MB per effect.
  {
    Kept kept(kCompressionNone, bgra.size());
    std::memcpy(kept.file.data() + 128, bgra.data(), bgra.size());
    const double mb = bgra.size() / 1e6;
    const struct {
      const char* name;
      PixelOperation op;
      INT p;
    } ops[] = {{"grey", GreyPixel, 0},
               {"brightness 40", BrightenPixel, 40},
               {"hue 150", HueRotatePixel, 150},
               {"swap 3", SwapChannelsPixel, 3}};
    for (const auto& o : ops) {
      const double s = BestSeconds([&] { ApplyImageEffect(&kept.image, o.p, 0, 255, o.op); });
      std::printf("  uncompressed %-14s %8.1f MB/s\n", o.name, mb / s);
    }
  }

  const std::vector<uint8_t> dxt5 = EncodeDxt5(bgra);
  // End points: 4 bytes per block.
  {
    Kept kept(kCompressionDxt5, dxt5.size());
    std::memcpy(kept.file.data() + 128, dxt5.data(), dxt5.size());
    const double s =
        BestSeconds([&] { ApplyImageEffect(&kept.image, 150, 0, 255, HueRotatePixel); });
    std::printf("  DXT5 end points, hue 150  %8.2f M blocks/s\n", kBlocks / s / 1e6);
  }

  // Block procedure on every block (window 2..255): the whole procedure
  // (decode, recolour, encode) for a cheap and a costly effect, and its
  // encoding step alone against stb_dxt alone on the same recoloured pixels.
  {
    Kept kept(kCompressionDxt5, dxt5.size());
    const auto procedure = [&](PixelOperation op, INT p) {
      std::vector<double> times;
      for (int run = 0; run < kRuns; ++run) {
        std::memcpy(kept.file.data() + 128, dxt5.data(), dxt5.size());
        const auto start = std::chrono::steady_clock::now();
        ApplyImageEffect(&kept.image, p, 2, 255, op);
        times.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
      }
      return *std::min_element(times.begin(), times.end());
    };
    const double grey = procedure(GreyPixel, 0);
    const double hue = procedure(HueRotatePixel, 150);
    // The recoloured pixels, made beforehand, for the encoders alone.
    std::vector<uint8_t> bgraBlocks(size_t(kBlocks) * 64), rgba(size_t(kBlocks) * 64);
    for (size_t b = 0; b < size_t(kBlocks); ++b) {
      uint8_t* px = &bgraBlocks[b * 64];
      DecodeDxtBlock(px, &dxt5[b * 16], kCompressionDxt5);
      for (int i = 0; i < 16; ++i) HueRotatePixel(px + i * 4, 150);
      ToRgba(px, &rgba[b * 64], true);
    }
    std::vector<uint8_t> out(size_t(kBlocks) * 8);
    const double alone = BestSeconds([&] {
      for (size_t b = 0; b < size_t(kBlocks); ++b)
        stb_compress_dxt_block(&out[b * 8], &rgba[b * 64], 0, STB_DXT_HIGHQUAL);
    });
    const double encode = BestSeconds([&] {
      for (size_t b = 0; b < size_t(kBlocks); ++b)
        EncodeColourBlock(&out[b * 8], &bgraBlocks[b * 64], kCompressionDxt5);
    });
    std::printf("  DXT5 block procedure, grey     %7.3f M blocks/s\n", kBlocks / grey / 1e6);
    std::printf("  DXT5 block procedure, hue 150  %7.3f M blocks/s\n", kBlocks / hue / 1e6);
    std::printf("  its encoding step              %7.3f M blocks/s\n", kBlocks / encode / 1e6);
    std::printf("  stb_dxt alone, same blocks     %7.3f M blocks/s\n", kBlocks / alone / 1e6);
    std::printf("  encoding step / stb_dxt alone: %.3f x (target 1.2 at most)\n", encode / alone);
    std::printf("  whole procedure / stb_dxt alone: grey %.3f x, hue %.3f x\n", grey / alone,
                hue / alone);
    const std::vector<uint8_t> now(kept.file.begin() + 128, kept.file.end());
    std::printf("  DXT5 re-encoded, hue 150: PSNR %.2f dB against the recoloured source\n",
                BlockPsnr(dxt5, now, kCompressionDxt5, HueRotatePixel, 150, 2, 255));
  }

  // DXT1 with transparent pixels: the three-colour encoder's quality.
  {
    std::vector<uint8_t> dxt1(size_t(kBlocks) * 8);
    uint8_t px[64], rgba[64];
    for (int by = 0; by < kSide / 4; ++by)
      for (int bx = 0; bx < kSide / 4; ++bx) {
        GatherBlock(bgra, bx, by, px);
        ToRgba(px, rgba, true);
        uint8_t* block = &dxt1[size_t(by * (kSide / 4) + bx) * 8];
        stb_compress_dxt_block(block, rgba, 0, STB_DXT_HIGHQUAL);
        // One pixel in five transparent: the block in the three-colour mode.
        const uint16_t c0 = block[0] | block[1] << 8, c1 = block[2] | block[3] << 8;
        block[0] = uint8_t(std::min(c0, c1));
        block[1] = uint8_t(std::min(c0, c1) >> 8);
        block[2] = uint8_t(std::max(c0, c1));
        block[3] = uint8_t(std::max(c0, c1) >> 8);
        if ((bx + by) % 5 == 0) block[4] |= 0x03;
      }
    Kept kept(kCompressionDxt1, dxt1.size());
    std::memcpy(kept.file.data() + 128, dxt1.data(), dxt1.size());
    const auto start = std::chrono::steady_clock::now();
    ApplyImageEffect(&kept.image, 150, 128, 255, HueRotatePixel);
    const double s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::vector<uint8_t> now(kept.file.begin() + 128, kept.file.end());
    std::printf("  DXT1 block procedure      %8.3f M blocks/s, PSNR %.2f dB (transparency kept)\n",
                kBlocks / s / 1e6,
                BlockPsnr(dxt1, now, kCompressionDxt1, HueRotatePixel, 150, 128, 255));
  }
  return 0;
}
