// The record behind an image handle. It begins with the texture record, so
// an image handle is also a texture handle; nothing but the loader reads
// past it, so any texture record (an atlas, a render target) may be passed
// where an image is taken.
#pragma once

#include <windows.h>

#include "vektex/texture.h"

inline constexpr int kImageUriLength = 100;

struct VekImage {
  VekTexture texture;
  WCHAR uri[kImageUriLength];  // null-terminated, at most 99 code units
};

// The longest picture side: sizes are reported in 16 bits.
inline constexpr UINT kMaxPictureSide = 65535;

// Size of the DDS file header every kept picture starts with.
inline constexpr UINT kDdsHeaderSize = 128;

// The padded size of a picture side on devices that need power-of-two
// textures: 2 to the power of the value's bit length (the smallest power of
// two strictly greater). 0 when that does not fit in 32 bits.
inline UINT PaddedPow2(UINT value) {
  unsigned bits = 0;
  while (bits < 32 && (value >> bits)) ++bits;  // a shift by 32 would be undefined
  return bits >= 32 ? 0u : 1u << bits;
}
inline bool IsPow2(UINT value) { return value && !(value & (value - 1)); }

struct RaskFile;

// ---- Loading ---------------------------------------------------------------

// Which loader a file's leading bytes select (a signature alone, before the
// data are checked further).
enum class ImageSignature { kNone, kDds, kPng, kJpeg, kBmp };
ImageSignature SniffSignature(const BYTE* bytes, UINT n);

// Recognises the n file bytes and builds the image from them. Takes the
// bytes in every case: on success they (or what replaced them) are the
// image's data; on failure they are released and data is null.
bool SniffImageFormat(VekImage* image, BYTE* bytes, UINT n);

// Pads a kept DXT picture to power-of-two sides, picture in the top-left
// corner. False only when the padded picture cannot be represented (the
// image is then unusable); an allocation failure keeps the image unpadded.
bool ExtendToPow2_DXT(VekImage* image);

// A loaded image, or null (see VekCreateImage).
VekImage* CreateImage(RaskFile* file);
// Releases the texture, the kept data and the record: 0 for null, else 1.
// Pending draw items of it are the caller's to drop first (ForgetTexture).
INT DestroyImage(VekImage* image);

// ---- Reading pixels ---------------------------------------------------------

// The pixel (x, y) as A8R8G8B8 of pixels at base: 32-bit pixels rows `pitch`
// bytes apart, or DXT blocks (compression 2, 3, 4) whose rows of blocks are
// `pitch` bytes apart. 0 for x outside `width` or an unknown compression.
DWORD ReadPixel(const BYTE* base, UINT width, UINT pitch, INT compression, UINT x, UINT y);
// The pixel from the texture when it exists, else from the kept data; 0
// outside the picture or when neither exists.
DWORD GetColorFromTex(VekImage* image, UINT x, UINT y);

UINT GetImageSize(VekImage* image);
DWORD GetImageColor(VekImage* image, UINT x, UINT y);
// Copies the rectangle (clamped to the picture) of the A8R8G8B8 texture into
// a new block for the host: its byte count, or 0 / a negative code.
INT GetImageData(VekImage* image, UINT x1, UINT y1, UINT x2, UINT y2, BYTE** out);
// The picture's own size: the stored size without power-of-two padding.
void PictureExtent(const VekImage* image, UINT* w, UINT* h);
// GetImageData from the clamping on, without the handle and rectangle checks.
INT ReadImageRect(VekImage* image, UINT x1, UINT y1, UINT x2, UINT y2, BYTE** out);
// The pixel cache, read with ReadImageRect over the whole stored picture on
// first use (creating the texture when needed) and kept from then on; null
// when the pixels cannot be read (nothing is attached then).
const BYTE* GetImagePixelCache(VekImage* image);
// Saves the texture's top level with D3DX: 0 for null, else the D3DX result.
INT SaveImage(VekImage* image, const WCHAR* path, DWORD fileFormat);
