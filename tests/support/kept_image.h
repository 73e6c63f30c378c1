// Image records as the loader keeps a picture before its texture exists,
// for tests that drive texture and decoding steps without loading a file.
#pragma once

#include <pelto.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "vekimage/image.h"

// Resets `image` and gives it a copy of `file` (a base-library block) as its
// kept data, with whole-picture content scales. False when the copy cannot
// be allocated.
inline bool KeepFile(VekImage* image, const std::vector<uint8_t>& file) {
  std::memset(static_cast<void*>(image), 0, sizeof(VekImage));
  image->texture.contentScaleX = 1.0f;
  image->texture.contentScaleY = 1.0f;
  image->texture.data = static_cast<BYTE*>(Malloc(static_cast<UINT>(file.size())));
  if (!image->texture.data) return false;
  std::memcpy(image->texture.data, file.data(), file.size());
  image->texture.dataSize = static_cast<UINT>(file.size());
  return true;
}
