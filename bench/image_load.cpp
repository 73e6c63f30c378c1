// Loading 1024 x 1024 PNG and JPEG pictures through VekCreateImage against
// FreeImage's own decode and 32-bit conversion of the same bytes, in the same
// run: what the library adds on top of FreeImage (reading the file object,
// recognising the format, re-packing top-down into a DDS file image). The
// pictures are generated: smooth gradients, a few shapes and fine noise, so
// that the encoders and decoders do realistic work. The page faults per load
// are printed too: the library's path holds FreeImage's 32-bit bitmap, the
// file bytes and its own file image at once. The base library serves those
// big blocks from kept huge-page mappings of its own; were they in the C heap
// beside FreeImage's, the allocator would hand the pages back and re-fault
// them every load (costly on virtual machines).
#include <FreeImage.h>
#include <rask.h>
#include <sys/resource.h>
#include <vek/vek.h>
#include <vekrt/runtime.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "bench_util.h"
#include "support/pictures.h"

namespace {

constexpr int kSide = 1024;
constexpr int kRuns = 15;

std::vector<uint32_t> Scene() {
  std::vector<uint32_t> argb(size_t(kSide) * kSide);
  std::mt19937 random(1234);
  std::uniform_int_distribution<int> noise(-6, 6);
  for (int y = 0; y < kSide; ++y) {
    for (int x = 0; x < kSide; ++x) {
      const double fx = x / double(kSide), fy = y / double(kSide);
      double r = 255 * (0.5 + 0.5 * std::sin(6.0 * fx + 2.0 * fy));
      double g = 255 * fy;
      double b = 255 * (0.5 + 0.5 * std::cos(9.0 * fx * fy));
      const double dx = x - 600, dy = y - 400;
      if (dx * dx + dy * dy < 180.0 * 180.0) r = 240, g = 200, b = 40;        // a disc
      if (x > 100 && x < 400 && y > 650 && y < 900) r = 30, g = 60, b = 170;  // a block
      const int n = noise(random);
      auto clamp = [&](double v) { return uint32_t(std::clamp(int(v) + n, 0, 255)); };
      const uint32_t a = uint32_t(std::clamp(128 + int(127 * std::sin(fx * 5)), 0, 255));
      argb[size_t(y) * kSide + x] = a << 24 | clamp(r) << 16 | clamp(g) << 8 | clamp(b);
    }
  }
  return argb;
}

template <class Fn>
double MedianSeconds(Fn fn) {
  std::vector<double> times;
  for (int i = 0; i < kRuns; ++i) {
    const auto start = std::chrono::steady_clock::now();
    fn();
    times.push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return Median(times);
}

// FreeImage alone: decode from memory and convert to 32 bits.
bool FreeImageOnly(std::vector<uint8_t>& bytes, FREE_IMAGE_FORMAT fif) {
  FIMEMORY* stream = FreeImage_OpenMemory(bytes.data(), DWORD(bytes.size()));
  FIBITMAP* bitmap = FreeImage_LoadFromMemory(fif, stream, 0);
  FreeImage_CloseMemory(stream);
  if (!bitmap) return false;
  if (FreeImage_GetBPP(bitmap) != 32) {
    FIBITMAP* copy = FreeImage_ConvertTo32Bits(bitmap);
    FreeImage_Unload(bitmap);
    bitmap = copy;
  }
  const bool ok = bitmap && FreeImage_GetBits(bitmap);
  if (bitmap) FreeImage_Unload(bitmap);
  return ok;
}

bool ThroughVek(const std::vector<uint8_t>& bytes) {
  HRASKFILE file = RaskCreateFileFromMemory(bytes.data(), DWORD(bytes.size()), u"bench");
  HVEKIMAGE image = VekCreateImage(file);
  RaskDestroyFile(file);
  if (!image) return false;
  VekDestroyImage(image);
  return true;
}

}  // namespace

int main() {
  HWND window = vrt::CreateVirtualWindow(0, 0, 640, 480);
  HVEKDEVICE device = VekOpenGraphicsDevice(0, window, 0, 1, 0, 0, 32, 0);
  if (!device) {
    std::fprintf(stderr, "cannot open the device\n");
    return 1;
  }
  const std::vector<uint32_t> scene = Scene();
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    FREE_IMAGE_FORMAT fif;
  } cases[] = {
      {"PNG ", pictures::Png(kSide, kSide, scene), FIF_PNG},
      {"JPEG", pictures::Jpeg(kSide, kSide, scene, 90), FIF_JPEG},
  };
  std::printf("%d x %d pictures, median of 3 rounds of %d loads each\n", kSide, kSide, kRuns);
  int status = 0;
  for (Case& c : cases) {
    if (!ThroughVek(c.bytes) || !FreeImageOnly(c.bytes, c.fif)) {
      std::fprintf(stderr, "%s: loading failed\n", c.name);
      status = 1;
      continue;
    }
    // Three alternating rounds, so that both see the same machine load.
    std::vector<double> vek, alone;
    for (int round = 0; round < 3; ++round) {
      vek.push_back(MedianSeconds([&] { ThroughVek(c.bytes); }));
      alone.push_back(MedianSeconds([&] { FreeImageOnly(c.bytes, c.fif); }));
    }
    const double v = Median(vek), a = Median(alone);
    // Fresh pages touched per load: the allocator's share of the cost.
    auto faults = [](auto fn) {
      rusage before{}, after{};
      getrusage(RUSAGE_SELF, &before);
      fn();
      getrusage(RUSAGE_SELF, &after);
      return after.ru_minflt - before.ru_minflt;
    };
    std::printf("%s page faults per load: VekCreateImage %ld  FreeImage alone %ld\n", c.name,
                faults([&] { ThroughVek(c.bytes); }),
                faults([&] { FreeImageOnly(c.bytes, c.fif); }));
    std::printf("%s (%7zu bytes): VekCreateImage %7.2f ms  FreeImage alone %7.2f ms  ratio %.3f\n",
                c.name, c.bytes.size(), v * 1e3, a * 1e3, v / a);
  }
  VekCloseGraphicsDevice(device);
  return status;
}
