// The record behind an image handle. It begins with the texture record, so
// an image handle is also a texture handle.
#pragma once

#include <windows.h>

#include "vektex/texture.h"

inline constexpr int kImageUriLength = 100;

struct VekImage {
  VekTexture texture;
  float contentScaleX;  // unpadded picture width / stored width
  float contentScaleY;
  WCHAR uri[kImageUriLength];  // null-terminated, at most 99 code units
};

// Size of the DDS file header every kept picture starts with.
inline constexpr UINT kDdsHeaderSize = 128;

// The padded size of a picture side on devices that need power-of-two
// textures: 2 to the power of the value's bit length (the smallest power of
// two strictly greater). 0 when that does not fit in 32 bits.
inline UINT PaddedPow2(UINT value) {
  unsigned bits = 0;
  while (value >> bits) ++bits;
  return bits >= 32 ? 0u : 1u << bits;
}
inline bool IsPow2(UINT value) { return value && !(value & (value - 1)); }
