// Arbitrary bytes, as a file object of the host's file library, through
// VekCreateImage, then every colour effect (parameters and alpha window taken
// from the input's first bytes; no effect may change any pixel's alpha),
// then every read an image offers: size, single pixels
// (corners, middle, just outside) before and after the texture exists, and
// whole and partial rectangles. The device is opened once; with
// VEK_FUZZ_POW2=1 in the environment its adapter needs power-of-two
// textures, so pictures are padded (scripts/fuzz.sh runs both ways).
#include <rask.h>
#include <vek/vek.h>
#include <vekrt/runtime.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fuzz_support.h"

namespace {

volatile uint32_t sink = 0;  // keeps the reads from being optimised away

constexpr unsigned long long kSmallArea = 128 * 128;

using fuzz::Check;

// Reads the rectangle and touches every byte delivered; the count must be
// exactly the clamped rectangle's when anything is delivered.
void ReadRect(HVEKIMAGE image, UINT x1, UINT y1, UINT x2, UINT y2, UINT width, UINT height) {
  BYTE* pixels = nullptr;
  const INT n = VekGetImageData(image, x1, y1, x2, y2, &pixels);
  if (n > 0) {
    Check(pixels != nullptr, "a read delivering bytes delivers a block");
    uint32_t sum = 0;
    for (INT i = 0; i < n; ++i) sum += pixels[i];
    sink = sink + sum;
    if (x2 <= width && y2 <= height)
      Check(n == static_cast<INT>((x2 - x1) * (y2 - y1) * 4),
            "a read inside the picture delivers its rectangle");
    VekFree(pixels);
  } else {
    Check(pixels == nullptr, "a read delivering nothing leaves no block");
  }
}

void ReadPixels(HVEKIMAGE image, UINT width, UINT height) {
  const UINT points[][2] = {{0, 0},          {width - 1, height - 1}, {width / 2, height / 2},
                            {width, height}, {width + 1, 0},          {0, height + 1}};
  for (const auto& p : points) sink = sink + VekGetImageColor(image, p[0], p[1]);
}

// Every effect on the pending picture, with parameters from the input (out
// of range ones included). Alpha, DXT1 transparency too, must not change.
void ApplyEffects(HVEKIMAGE image, const uint8_t* data, size_t size, UINT width, UINT height) {
  uint8_t p[8] = {};
  std::memcpy(p, data, size < sizeof p ? size : sizeof p);
  const UINT points[][2] = {{0, 0}, {width - 1, height - 1}, {width / 2, height / 2}, {1, 2}};
  DWORD alphas[4];
  for (int i = 0; i < 4; ++i) alphas[i] = VekGetImageColor(image, points[i][0], points[i][1]) >> 24;
  // The window: 0..255 (end points), 1..255, or any other pair (block procedure).
  const INT a = p[0] % 3 == 0 ? 0 : p[0] % 3 == 1 ? 1 : p[1];
  const INT b = p[0] % 3 == 2 ? p[2] : 255;
  Check(VekGrayImage(image, a, b) == 1, "grey applies to a pending picture");
  Check(VekBrightImage(image, static_cast<int8_t>(p[3]) * 2, b, a) == 1,  // -256..254
        "brightness applies to a pending picture");
  Check(VekHueImage(image, p[4] * 3u % 400u, a, b) == (p[4] * 3u % 400u <= 359 ? 1 : 0),
        "hue applies exactly for 0..359 degrees");
  Check(VekConvertRGBImage(image, p[5] % 7u, a, b) == (p[5] % 7u <= 5 ? 1 : 0),
        "channel swaps apply exactly for types 0..5");
  for (int i = 0; i < 4; ++i)
    Check(VekGetImageColor(image, points[i][0], points[i][1]) >> 24 == alphas[i],
          "no effect changes a pixel's alpha");
}

void LoadAndRead(const uint8_t* data, size_t size) {
  HRASKFILE file = RaskCreateFileFromMemory(data, static_cast<DWORD>(size), nullptr);
  if (!file) return;
  HVEKIMAGE image = VekCreateImage(file);
  RaskDestroyFile(file);
  if (!image) return;
  const UINT packed = VekGetImageSize(image);
  const UINT width = packed & 0xFFFF, height = packed >> 16;
  // The steps that cost the picture's area run on small pictures only: a
  // large one costs milliseconds per step and finds nothing a small one of
  // the same format does not. Large ones are still read pixel by pixel.
  const bool small = static_cast<unsigned long long>(width) * height <= kSmallArea;
  if (small) ApplyEffects(image, data, size, width, height);
  ReadPixels(image, width, height);  // from the kept file
  if (width && height && small) {
    ReadRect(image, 0, 0, width, height, width, height);  // makes the texture
    ReadRect(image, width / 4, height / 4, width - width / 4, height - height / 4, width, height);
    ReadRect(image, width / 2, 0, width + 7, 1, width, height);  // clamped on the right
  }
  ReadRect(image, width, height, width + 1, height + 1, width, height);  // outside
  ReadPixels(image, width, height);  // from the texture, where it exists
  VekDestroyImage(image);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::QuietStdout();
  // Pixels are never looked at: clears and presents need not touch any.
  // Images are made on the current device, which stays open for the run
  // (reopening it per input would cost most of the time).
  fuzz::OpenDevice("image", false, 32, 32);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  LoadAndRead(data, size);
  return 0;
}
