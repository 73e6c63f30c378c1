// FreeImage, loaded at run time when the module attaches: it decodes every
// picture that is not DXT-compressed into an uncompressed 32-bit DDS file
// image kept in the image record.
#pragma once

#include <windows.h>

struct VekImage;

// FreeImage's format numbers for the pictures images are loaded from.
enum FreeImageFormat : int {
  kFifBmp = 0,
  kFifJpeg = 2,
  kFifPng = 13,
  kFifDds = 24,
};

void LoadFreeImage();
void UnloadFreeImage();
// True while FreeImage is loaded with every entry point resolved.
bool FreeImageAvailable();

// Decodes image->data (dataSize file bytes of format `fif`) into a 32-bit
// DDS file image, padded to powers of two when the current device needs it.
// True: data, dataSize, width, height (and when padded the content scales)
// describe the new file image. False: the file bytes are released (data
// null, dataSize 0).
bool HueImage_OtherFormat(VekImage* image, int fif);

// The 128-byte header of an uncompressed 32-bit B, G, R, A DDS file image.
void WriteDdsHeader(BYTE* block, UINT width, UINT height);
