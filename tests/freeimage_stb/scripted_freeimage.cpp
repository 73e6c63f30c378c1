// A stand-in libfreeimage.so.3 for the POSIX tests that need FreeImage to
// misbehave or to report sizes no real picture could have. Its "pictures"
// are 24-byte scripts: "FAKE", then little-endian 32-bit width, height,
// bits per pixel and failure flags. It counts the streams and bitmaps still
// open so tests can see that every one was closed. Built without
// FreeImage_GetHeight (FAKE_PARTIAL) it is a module that lacks an entry point.
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

enum Flags : uint32_t {
  kFailOpen = 1,
  kFailLoad = 2,
  kFailConvert = 4,
  kNoBits = 8,
  kShortPitch = 16,
};

struct Stream {
  const uint8_t* data;
  uint32_t size;
};

struct Bitmap {
  uint32_t width, height, bpp, flags, pitch;
  uint8_t* bits;  // null for sizes too large to hold: never read then
};

int liveStreams = 0;
int liveBitmaps = 0;
int conversions = 0;

uint32_t Word(const uint8_t* at) {
  return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

// Small bitmaps get real pixels: A = 0xFF, R = 0x40, G = row, B = column,
// scan line 0 at the bottom.
Bitmap* Make(uint32_t width, uint32_t height, uint32_t bpp, uint32_t flags) {
  auto* b =
      new Bitmap{width, height, bpp, flags, width * 4 - ((flags & kShortPitch) ? 4 : 0), nullptr};
  static uint8_t placeholder[16];
  if (uint64_t(width) * height <= (1u << 20)) {
    b->bits = static_cast<uint8_t*>(std::calloc(size_t(width) * height * 4 + 1, 1));
    for (uint32_t y = 0; y < height; ++y) {
      for (uint32_t x = 0; x < width; ++x) {
        uint8_t* p = b->bits + (size_t(height - 1 - y) * width + x) * 4;
        p[0] = uint8_t(x);
        p[1] = uint8_t(y);
        p[2] = 0x40;
        p[3] = 0xFF;
      }
    }
  } else {
    b->bits = placeholder;
  }
  ++liveBitmaps;
  return b;
}

}  // namespace

extern "C" {

int FakeLiveStreams() { return liveStreams; }
int FakeLiveBitmaps() { return liveBitmaps; }
int FakeConversions() { return conversions; }

void* FreeImage_OpenMemory(uint8_t* data, uint32_t size) {
  if (size >= 24 && (Word(data + 20) & kFailOpen)) return nullptr;
  ++liveStreams;
  return new Stream{data, size};
}

void FreeImage_CloseMemory(void* stream) {
  if (!stream) return;
  --liveStreams;
  delete static_cast<Stream*>(stream);
}

void* FreeImage_LoadFromMemory(int fif, void* stream, int flags) {
  (void)fif;
  (void)flags;
  const auto* s = static_cast<Stream*>(stream);
  if (!s || s->size < 24 || std::memcmp(s->data, "FAKE", 4) != 0) return nullptr;
  const uint32_t script = Word(s->data + 20);
  if (script & kFailLoad) return nullptr;
  return Make(Word(s->data + 4), Word(s->data + 8), Word(s->data + 12), script);
}

void FreeImage_Unload(void* bitmap) {
  auto* b = static_cast<Bitmap*>(bitmap);
  if (!b) return;
  if (uint64_t(b->width) * b->height <= (1u << 20)) std::free(b->bits);
  --liveBitmaps;
  delete b;
}

unsigned FreeImage_GetBPP(void* bitmap) { return static_cast<Bitmap*>(bitmap)->bpp; }

void* FreeImage_ConvertTo32Bits(void* bitmap) {
  const auto* b = static_cast<Bitmap*>(bitmap);
  ++conversions;
  if (b->flags & kFailConvert) return nullptr;
  return Make(b->width, b->height, 32, b->flags);
}

unsigned FreeImage_GetPitch(void* bitmap) { return static_cast<Bitmap*>(bitmap)->pitch; }

uint8_t* FreeImage_GetBits(void* bitmap) {
  const auto* b = static_cast<Bitmap*>(bitmap);
  return (b->flags & kNoBits) ? nullptr : b->bits;
}

unsigned FreeImage_GetWidth(void* bitmap) { return static_cast<Bitmap*>(bitmap)->width; }

#ifndef FAKE_PARTIAL
unsigned FreeImage_GetHeight(void* bitmap) { return static_cast<Bitmap*>(bitmap)->height; }
#endif

}  // extern "C"
