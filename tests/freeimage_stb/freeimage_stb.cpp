// A test-only FreeImage.dll over stb_image, so that the Windows build's
// tests decode pictures without the real library. It serves the ten entry
// points the image loader resolves, with FreeImage's documented behaviour
// for them: read-only memory streams; BMP, JPEG and PNG decoding, DDS files
// of uncompressed 32-bit B, G, R(, A) pixels (every other format or DDS
// layout is refused); bitmaps stored bottom-up with B, G, R(,
// A) byte order and scan lines padded to 4 bytes, as FreeImage stores them on
// little-endian machines; conversion to 32 bits with opaque alpha for
// pictures without one. Never shipped. The POSIX build makes the same
// module under the plain names, so its behaviour is tested there too.
#include <windows.h>

#ifdef _WIN32
#define FI_EXPORT __declspec(dllexport)
#else
#define FI_EXPORT __attribute__((visibility("default")))
#endif

#include <cstdint>
#include <cstdlib>
#include <cstring>

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_ONLY_BMP
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#include <stb_image.h>
#pragma GCC diagnostic pop

namespace {

enum : int { kFifBmp = 0, kFifJpeg = 2, kFifPng = 13, kFifDds = 24 };

}  // namespace

struct FIMEMORY {
  const BYTE* data;
  DWORD size;
};

struct FIBITMAP {
  unsigned width;
  unsigned height;
  unsigned bpp;  // 8 (grey), 24 or 32
  unsigned pitch;
  BYTE* bits;  // scan line 0 is the bottom one
};

namespace {

unsigned PitchOf(unsigned width, unsigned bpp) { return ((width * bpp / 8) + 3) & ~3u; }

FIBITMAP* Allocate(unsigned width, unsigned height, unsigned bpp) {
  auto* bitmap = static_cast<FIBITMAP*>(std::calloc(1, sizeof(FIBITMAP)));
  if (!bitmap) return nullptr;
  bitmap->width = width;
  bitmap->height = height;
  bitmap->bpp = bpp;
  bitmap->pitch = PitchOf(width, bpp);
  bitmap->bits = static_cast<BYTE*>(std::calloc(size_t(bitmap->pitch) * height, 1));
  if (!bitmap->bits) {
    std::free(bitmap);
    return nullptr;
  }
  return bitmap;
}

// Each format's leading bytes; the plug-in of one format does not read another.
bool HasSignature(int fif, const BYTE* data, DWORD size) {
  switch (fif) {
    case kFifBmp:
      return size >= 2 && data[0] == 'B' && data[1] == 'M';
    case kFifJpeg:
      return size >= 2 && data[0] == 0xFF && data[1] == 0xD8;
    case kFifPng:
      return size >= 8 && std::memcmp(data, "\x89PNG\r\n\x1A\n", 8) == 0;
    case kFifDds:
      return size >= 4 && std::memcmp(data, "DDS ", 4) == 0;
    default:
      return false;
  }
}

uint32_t ReadU32(const BYTE* at) {
  return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

// Uncompressed 32-bit DDS pixels (red, green and blue masks in B, G, R byte
// order; alpha from its mask when the file says it has one, else opaque).
// Anything else, DXT blocks included, is refused.
FIBITMAP* LoadDds(const BYTE* data, DWORD size) {
  constexpr DWORD kHeader = 128;
  constexpr uint32_t kAlphaPixels = 0x1, kRgb = 0x40;
  if (size < kHeader || ReadU32(data + 4) != 124) return nullptr;
  const uint32_t height = ReadU32(data + 12), width = ReadU32(data + 16);
  const uint32_t flags = ReadU32(data + 80);
  const bool alpha = (flags & kAlphaPixels) && ReadU32(data + 104) == 0xFF000000u;
  if (!(flags & kRgb) || ReadU32(data + 88) != 32 || ReadU32(data + 92) != 0x00FF0000u ||
      ReadU32(data + 96) != 0x0000FF00u || ReadU32(data + 100) != 0x000000FFu)
    return nullptr;
  if (width == 0 || height == 0 || width > 16384 || height > 16384 ||
      uint64_t(width) * height * 4 > size - kHeader)
    return nullptr;
  FIBITMAP* bitmap = Allocate(width, height, 32);
  if (!bitmap) return nullptr;
  for (uint32_t y = 0; y < height; ++y) {
    const BYTE* src = data + kHeader + size_t(y) * width * 4;
    BYTE* dst = bitmap->bits + size_t(height - 1 - y) * bitmap->pitch;
    std::memcpy(dst, src, size_t(width) * 4);
    if (!alpha) {
      for (uint32_t x = 0; x < width; ++x) dst[4 * x + 3] = 0xFF;
    }
  }
  return bitmap;
}

}  // namespace

extern "C" {

FI_EXPORT FIMEMORY* WINAPI FreeImage_OpenMemory(BYTE* data, DWORD size) {
  // Only read streams are needed: a null buffer (a write stream) is refused.
  if (!data) return nullptr;
  auto* stream = static_cast<FIMEMORY*>(std::malloc(sizeof(FIMEMORY)));
  if (!stream) return nullptr;
  stream->data = data;
  stream->size = size;
  return stream;
}

FI_EXPORT void WINAPI FreeImage_CloseMemory(FIMEMORY* stream) { std::free(stream); }

FI_EXPORT FIBITMAP* WINAPI FreeImage_LoadFromMemory(int fif, FIMEMORY* stream, int flags) {
  (void)flags;
  if (!stream || stream->size > 0x7FFFFFFF || !HasSignature(fif, stream->data, stream->size))
    return nullptr;
  if (fif == kFifDds) return LoadDds(stream->data, stream->size);
  const int length = static_cast<int>(stream->size);
  int w = 0, h = 0, channels = 0;
  if (!stbi_info_from_memory(stream->data, length, &w, &h, &channels)) return nullptr;
  // Grey with alpha becomes 32-bit RGBA, as FreeImage's PNG plug-in does.
  const int keep = channels == 2 ? 4 : channels;
  stbi_uc* pixels = stbi_load_from_memory(stream->data, length, &w, &h, &channels, keep);
  if (!pixels) return nullptr;
  FIBITMAP* bitmap = Allocate(unsigned(w), unsigned(h), unsigned(keep) * 8);
  if (bitmap) {
    for (int y = 0; y < h; ++y) {
      const stbi_uc* src = pixels + size_t(y) * w * keep;
      BYTE* dst = bitmap->bits + size_t(h - 1 - y) * bitmap->pitch;
      for (int x = 0; x < w; ++x, src += keep, dst += keep) {
        if (keep == 1) {
          dst[0] = src[0];
          continue;
        }
        dst[0] = src[2];
        dst[1] = src[1];
        dst[2] = src[0];
        if (keep == 4) dst[3] = src[3];
      }
    }
  }
  stbi_image_free(pixels);
  return bitmap;
}

FI_EXPORT void WINAPI FreeImage_Unload(FIBITMAP* bitmap) {
  if (!bitmap) return;
  std::free(bitmap->bits);
  std::free(bitmap);
}

FI_EXPORT unsigned WINAPI FreeImage_GetBPP(FIBITMAP* bitmap) { return bitmap ? bitmap->bpp : 0; }

FI_EXPORT FIBITMAP* WINAPI FreeImage_ConvertTo32Bits(FIBITMAP* bitmap) {
  if (!bitmap) return nullptr;
  FIBITMAP* copy = Allocate(bitmap->width, bitmap->height, 32);
  if (!copy) return nullptr;
  const unsigned step = bitmap->bpp / 8;
  for (unsigned y = 0; y < bitmap->height; ++y) {
    const BYTE* src = bitmap->bits + size_t(y) * bitmap->pitch;
    BYTE* dst = copy->bits + size_t(y) * copy->pitch;
    for (unsigned x = 0; x < bitmap->width; ++x, src += step, dst += 4) {
      if (step == 1) {
        dst[0] = dst[1] = dst[2] = src[0];
      } else {
        dst[0] = src[0];
        dst[1] = src[1];
        dst[2] = src[2];
      }
      dst[3] = step == 4 ? src[3] : 0xFF;
    }
  }
  return copy;
}

FI_EXPORT unsigned WINAPI FreeImage_GetPitch(FIBITMAP* bitmap) {
  return bitmap ? bitmap->pitch : 0;
}

FI_EXPORT BYTE* WINAPI FreeImage_GetBits(FIBITMAP* bitmap) {
  return bitmap ? bitmap->bits : nullptr;
}

FI_EXPORT unsigned WINAPI FreeImage_GetWidth(FIBITMAP* bitmap) {
  return bitmap ? bitmap->width : 0;
}

FI_EXPORT unsigned WINAPI FreeImage_GetHeight(FIBITMAP* bitmap) {
  return bitmap ? bitmap->height : 0;
}

}  // extern "C"
