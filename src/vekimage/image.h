// The record behind an image handle. It begins with the texture record, so
// an image handle is also a texture handle.
#pragma once

#include "vektex/texture.h"

inline constexpr int kImageUriLength = 100;

struct VekImage {
  VekTexture texture;
  float contentScaleX;  // unpadded picture width / stored width
  float contentScaleY;
  WCHAR uri[kImageUriLength];  // null-terminated, at most 99 code units
};
