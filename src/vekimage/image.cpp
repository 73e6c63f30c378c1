// Images: loading, reading back and saving pictures kept as DDS file images.
//
//   recognising     SniffSignature; the DXT path (TakeDxtFile, CheckDdsFile
//                   through D3DX); announced sizes checked against the bytes
//                   (DDS, BMP, JPEG frame walk) before any decoding;
//                   DecodeOther hands the rest to FreeImage
//   padding         ExtendToPow2_DXT for devices that need power-of-two
//                   sides (the content scale keeps the picture's share)
//   records         CreateImage, DestroyImage
//   reading         PictureExtent, ReadPixel (pixels or DXT blocks),
//                   GetColorFromTex, ReadImageRect (the texture made on first
//                   read), GetImagePixelCache (particle emission)
//   saving          SaveImage through D3DX
// Printed lines and recorded errors are rows of image_diagnostics.h.
#include "vekimage/image.h"

#include <rask.h>

#include <climits>
#include <cstdio>
#include <cstring>

#include "d3dx/d3dx8.h"
#include "d3dx/formats.h"
#include "gd/device.h"
#include "host/host.h"
#include "vekimage/dxt.h"
#include "vekimage/freeimage.h"
#include "vekimage/image_diagnostics.h"

namespace {

using d3dx::ReadU32;
using d3dx::WriteU32;
// Caps, height, width, pixel format, linear size: a padded DXT picture's header.
constexpr DWORD kDdsPaddedFlags = d3dx::kDdsdCaps | d3dx::kDdsdHeight | d3dx::kDdsdWidth |
                                  d3dx::kDdsdPixelFormat | d3dx::kDdsdLinearSize;

constexpr DWORD FourCC(char a, char b, char c, char d) {
  return DWORD(BYTE(a)) | DWORD(BYTE(b)) << 8 | DWORD(BYTE(c)) << 16 | DWORD(BYTE(d)) << 24;
}

// Bytes of the level-0 blocks of a DXT picture; 64-bit so no size wraps.
// Bytes of a level's blocks, saturated well above any 32-bit size: the
// largest sides would otherwise wrap 64-bit arithmetic round to zero.
unsigned long long DxtLevelBytes(UINT width, UINT height, INT compression) {
  constexpr unsigned long long kSaturated = 1ull << 62;
  const unsigned long long rowBytes =
      static_cast<unsigned long long>(DxtBlocksAcross(width)) * DxtBlockBytes(compression);
  const unsigned long long rows = DxtBlocksAcross(height);
  if (rowBytes && rows > kSaturated / rowBytes) return kSaturated;
  return rowBytes * rows;
}

bool CurrentDeviceNeedsPow2() {
  const GraphicsDevice* device = GetCurrentDevice();
  return device && device->texturesPow2;
}

IDirect3DDevice8* CurrentD3DDevice() {
  GraphicsDevice* device = GetCurrentDevice();
  return device ? device->cache.device : nullptr;
}

bool FitsDevice(UINT width, UINT height);

// The DXT path: the file is kept as read once texture creation would take
// it (the same check of header and level-0 blocks) and its size suits the
// current device.
bool TakeDxtFile(VekImage* image, BYTE* bytes, UINT n, DWORD fourCC, INT compression) {
  VekTexture& t = image->texture;
  UINT width = 0, height = 0;
  D3DFORMAT format = D3DFMT_UNKNOWN;
  if (FAILED(CheckDdsFile(bytes, n, &width, &height, &format)) ||
      format != static_cast<D3DFORMAT>(fourCC) ||
      kDdsHeaderSize + DxtLevelBytes(width, height, compression) > n || !FitsDevice(width, height))
    return false;
  t.format = static_cast<D3DFORMAT>(fourCC);
  t.compression = compression;
  t.height = height;
  t.width = width;
  t.data = bytes;
  t.dataSize = n;
  if (CurrentDeviceNeedsPow2() && !ExtendToPow2_DXT(image)) {
    // The data now belong to the record; hand them back for the caller to
    // release with the rest.
    t.data = nullptr;
    t.dataSize = 0;
    return false;
  }
  return true;
}

DWORD ReadBe16(const BYTE* p) { return DWORD(p[0]) << 8 | p[1]; }
DWORD ReadBe32(const BYTE* p) { return DWORD(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

// The picture size a JPEG's frame header announces; false when none is found
// before the scan data.
bool JpegFrameSize(const BYTE* bytes, UINT n, UINT* width, UINT* height) {
  // Walks the markers as the decoder does: bytes between markers (stray
  // bytes, stuffed FF 00) are skipped, and a marker the decoder does not know
  // has no length (FreeImage lets libjpeg read on after it), so the frame
  // the decoder will find is the one whose size is checked.
  UINT at = 2;
  while (at + 4 <= n) {
    if (bytes[at] != 0xFF) {
      ++at;
      continue;
    }
    const BYTE marker = bytes[at + 1];
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    if (marker == 0xDA || marker == 0xD9) return false;  // scan or end first
    const bool hasLength = (marker >= 0xC0 && marker <= 0xCF) || marker == 0xDB || marker == 0xDC ||
                           marker == 0xDD || (marker >= 0xE0 && marker <= 0xEF) || marker == 0xFE;
    if (!hasLength) {  // RSTn, TEM, SOI, a stuffed zero, or unknown
      at += 2;
      continue;
    }
    const UINT length = ReadBe16(bytes + at + 2);
    const bool frame =
        marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (frame) {
      if (length < 7 || at + 9 > n) return false;
      *height = ReadBe16(bytes + at + 5);
      *width = ReadBe16(bytes + at + 7);
      return true;
    }
    if (length < 2) return false;
    at += 2 + length;
  }
  return false;
}

// Whether a picture of this size can be held and drawn on the current
// device: at most 65,535 on a side (sizes are reported in 16 bits), and
// after any power-of-two padding no larger than the device's largest texture.
bool FitsDevice(UINT width, UINT height) {
  if (width > kMaxPictureSide || height > kMaxPictureSide) return false;
  if (CurrentDeviceNeedsPow2() && !(IsPow2(width) && IsPow2(height))) {
    width = PaddedPow2(width);
    height = PaddedPow2(height);
  }
  const GraphicsDevice* device = GetCurrentDevice();
  return !device ||
         (width <= device->caps.MaxTextureWidth && height <= device->caps.MaxTextureHeight);
}

// Bytes a picture's rows take, saturated far above any 32-bit size.
unsigned long long RowsBytes(UINT height, unsigned long long rowBytes) {
  constexpr unsigned long long kSaturated = 1ull << 62;
  if (rowBytes && height > kSaturated / rowBytes) return kSaturated;
  return rowBytes * height;
}

// Whether an uncompressed (or other non-DXT) DDS file holds all the pixels
// its header announces. Layouts this cannot size are left to the decoder.
bool DdsPixelsPresent(const BYTE* bytes, UINT n) {
  const UINT height = ReadU32(bytes + d3dx::kDdsOffHeight),
             width = ReadU32(bytes + d3dx::kDdsOffWidth);
  const DWORD pixelFlags = ReadU32(bytes + d3dx::kDdsOffPixelFlags),
              fourCC = ReadU32(bytes + d3dx::kDdsOffFourCC);
  unsigned long long need = 0;
  if (pixelFlags & 0x4) {  // a FourCC: the block formats have a known size
    const bool dxt1 = fourCC == FourCC('D', 'X', 'T', '1');
    const bool dxt = dxt1 || fourCC == FourCC('D', 'X', 'T', '2') ||
                     fourCC == FourCC('D', 'X', 'T', '3') || fourCC == FourCC('D', 'X', 'T', '4') ||
                     fourCC == FourCC('D', 'X', 'T', '5');
    if (!dxt) return true;
    need = RowsBytes(DxtBlocksAcross(height), DxtBlocksAcross(width) * (dxt1 ? 8ull : 16ull));
  } else {
    const UINT bits = ReadU32(bytes + 88);
    if (bits == 0 || bits > 128) return true;
    need = RowsBytes(height, (static_cast<unsigned long long>(width) * bits + 7) / 8);
  }
  return kDdsHeaderSize + need <= n;
}

// Whether a BMP file holds all the pixels its headers announce.
bool BmpPixelsPresent(const BYTE* bytes, UINT n) {
  const UINT offset = ReadU32(bytes + 10), header = ReadU32(bytes + 14);
  UINT width = 0, height = 0, bits = 0, compression = 0, imageSize = 0;
  if (header == 12) {  // OS/2 core header
    if (n < 26) return false;
    width = bytes[18] | bytes[19] << 8;
    height = bytes[20] | bytes[21] << 8;
    bits = bytes[24] | bytes[25] << 8;
  } else {
    if (header < 40 || n < 14 + 40) return false;
    const LONG w = static_cast<LONG>(ReadU32(bytes + 18));
    const LONG h = static_cast<LONG>(ReadU32(bytes + 22));  // negative: top-down
    width = w < 0 ? 0u - static_cast<UINT>(w) : static_cast<UINT>(w);
    height = h < 0 ? 0u - static_cast<UINT>(h) : static_cast<UINT>(h);
    bits = bytes[28] | bytes[29] << 8;
    compression = ReadU32(bytes + 30);
    imageSize = ReadU32(bytes + 34);
  }
  unsigned long long need = 0;
  if (compression == 0 || compression == 3 || compression == 6) {  // rows of pixels
    need = RowsBytes(height, (static_cast<unsigned long long>(width) * bits + 31) / 32 * 4);
  } else {
    need = imageSize;  // run-length or embedded data: the size the header gives
  }
  return static_cast<unsigned long long>(offset) + need <= n;
}

// Whether the 32-bit DDS file image a decoded picture becomes (padded when
// the current device needs powers of two) can be represented, judged from
// the size the file's header announces, so that no decoder is asked to
// allocate for a picture that would be refused anyway. Sizes that cannot be
// read are left to the decoder.
bool AnnouncedSizeFits(ImageSignature signature, const BYTE* bytes, UINT n) {
  UINT width = 0, height = 0;
  switch (signature) {
    case ImageSignature::kDds:
      height = ReadU32(bytes + d3dx::kDdsOffHeight);
      width = ReadU32(bytes + d3dx::kDdsOffWidth);
      break;
    case ImageSignature::kPng:  // IHDR: the first chunk
      if (std::memcmp(bytes + 12, "IHDR", 4) != 0) return true;
      width = ReadBe32(bytes + 16);
      height = ReadBe32(bytes + 20);
      break;
    case ImageSignature::kBmp:
      if (ReadU32(bytes + 14) == 12) {  // OS/2 core header: 16-bit sides
        width = bytes[18] | bytes[19] << 8;
        height = bytes[20] | bytes[21] << 8;
      } else {
        const LONG w = static_cast<LONG>(ReadU32(bytes + 18));
        const LONG h = static_cast<LONG>(ReadU32(bytes + 22));  // negative: top-down
        width = w < 0 ? 0u - static_cast<UINT>(w) : static_cast<UINT>(w);
        height = h < 0 ? 0u - static_cast<UINT>(h) : static_cast<UINT>(h);
      }
      break;
    case ImageSignature::kJpeg:
      if (!JpegFrameSize(bytes, n, &width, &height)) return true;
      break;
    case ImageSignature::kNone:
      return true;
  }
  if (width == 0 || height == 0) return true;
  // A picture larger than the device's largest texture can never be drawn
  // or read back; decoding it would only ask for up to gigabytes first.
  if (!FitsDevice(width, height)) return false;
  if (CurrentDeviceNeedsPow2() && !(IsPow2(width) && IsPow2(height))) {
    width = PaddedPow2(width);
    height = PaddedPow2(height);
  }
  return static_cast<unsigned long long>(width) * height * 4 + kDdsHeaderSize <= UINT_MAX;
}

// Hands the bytes to the FreeImage path, which releases them on failure.
bool DecodeOther(VekImage* image, BYTE* bytes, UINT n, int fif) {
  VekTexture& t = image->texture;
  t.data = bytes;
  t.dataSize = n;
  if (HueImage_OtherFormat(image, fif)) return true;
  if (t.data) Free(t.data);  // should it have left them
  t.data = nullptr;
  t.dataSize = 0;
  return false;
}

// The rectangle of a lock that reads (0, 0)-(width, height): DXT levels are
// locked in whole blocks.
RECT PictureLockRect(const VekTexture& t) {
  UINT right = t.width, bottom = t.height;
  if (DxtBlockBytes(t.compression)) {
    right = DxtBlocksAcross(right) * 4;
    bottom = DxtBlocksAcross(bottom) * 4;
  }
  return RECT{0, 0, static_cast<LONG>(right), static_cast<LONG>(bottom)};
}

}  // namespace

ImageSignature SniffSignature(const BYTE* bytes, UINT n) {
  if (!bytes) return ImageSignature::kNone;
  if (n > 20 && std::memcmp(bytes, "DDS ", 4) == 0) return ImageSignature::kDds;
  if (n > 24 && bytes[0] == 0x89 && std::memcmp(bytes + 1, "PNG", 3) == 0)
    return ImageSignature::kPng;
  if (n > 4 && bytes[0] == 0xFF && bytes[1] == 0xD8) return ImageSignature::kJpeg;
  if (n > 26 && bytes[0] == 'B' && bytes[1] == 'M') return ImageSignature::kBmp;
  return ImageSignature::kNone;
}

bool SniffImageFormat(VekImage* image, BYTE* bytes, UINT n) {
  VekTexture& t = image->texture;
  t.compression = kCompressionNone;
  const ImageSignature signature = SniffSignature(bytes, n);
  switch (signature) {
    case ImageSignature::kDds: {
      // Nothing of a DDS file can be read before its whole header.
      if (n < kDdsHeaderSize) break;
      const DWORD fourCC = ReadU32(bytes + d3dx::kDdsOffFourCC);
      INT compression = 0;
      if (fourCC == FourCC('D', 'X', 'T', '1')) compression = kCompressionDxt1;
      if (fourCC == FourCC('D', 'X', 'T', '3')) compression = kCompressionDxt3;
      if (fourCC == FourCC('D', 'X', 'T', '5')) compression = kCompressionDxt5;
      if (!compression) {
        if (!AnnouncedSizeFits(signature, bytes, n) || !DdsPixelsPresent(bytes, n)) break;
        return DecodeOther(image, bytes, n, kFifDds);
      }
      if (TakeDxtFile(image, bytes, n, fourCC, compression)) return true;
      break;
    }
    case ImageSignature::kPng:
      if (!AnnouncedSizeFits(signature, bytes, n)) break;
      t.format = D3DFMT_A8R8G8B8;
      return DecodeOther(image, bytes, n, kFifPng);
    case ImageSignature::kJpeg:
      if (!AnnouncedSizeFits(signature, bytes, n)) break;
      t.format = D3DFMT_X8R8G8B8;
      return DecodeOther(image, bytes, n, kFifJpeg);
    case ImageSignature::kBmp:
      if (!AnnouncedSizeFits(signature, bytes, n) || !BmpPixelsPresent(bytes, n)) break;
      t.format = D3DFMT_X8R8G8B8;
      return DecodeOther(image, bytes, n, kFifBmp);
    case ImageSignature::kNone:
      break;
  }
  Free(bytes);
  return false;
}

bool ExtendToPow2_DXT(VekImage* image) {
  VekTexture& t = image->texture;
  if (IsPow2(t.width) && IsPow2(t.height)) return true;
  const UINT blockBytes = DxtBlockBytes(t.compression);
  const UINT paddedWidth = PaddedPow2(t.width), paddedHeight = PaddedPow2(t.height);
  if (!blockBytes || !paddedWidth || !paddedHeight) return false;
  const unsigned long long levelBytes = DxtLevelBytes(paddedWidth, paddedHeight, t.compression);
  if (levelBytes + kDdsHeaderSize > UINT_MAX) return false;
  // The rows to copy must lie in the data as kept.
  const UINT srcRowBytes = DxtBlocksAcross(t.width) * blockBytes;
  const UINT rows = DxtBlocksAcross(t.height);
  if (!t.data || kDdsHeaderSize + DxtLevelBytes(t.width, t.height, t.compression) > t.dataSize)
    return false;

  const UINT size = static_cast<UINT>(levelBytes) + kDdsHeaderSize;
  BYTE* block = static_cast<BYTE*>(Malloc(size));
  if (!block) {
    ImagePrint(ImageLine::kPadFailed);
    return true;  // still usable unpadded
  }
  image->texture.contentScaleX = static_cast<float>(static_cast<double>(t.width) / paddedWidth);
  image->texture.contentScaleY = static_cast<float>(static_cast<double>(t.height) / paddedHeight);
  std::memset(block, 0, size);
  std::memcpy(block, t.data, kDdsHeaderSize);
  const UINT dstRowBytes = DxtBlocksAcross(paddedWidth) * blockBytes;
  for (UINT row = 0; row < rows; ++row)
    std::memcpy(block + kDdsHeaderSize + static_cast<size_t>(row) * dstRowBytes,
                t.data + kDdsHeaderSize + static_cast<size_t>(row) * srcRowBytes, srcRowBytes);
  Free(t.data);
  t.data = block;
  t.dataSize = size;
  t.width = paddedWidth;
  t.height = paddedHeight;
  WriteU32(block + d3dx::kDdsOffHeight, paddedHeight);
  WriteU32(block + d3dx::kDdsOffWidth, paddedWidth);
  WriteU32(block + d3dx::kDdsOffPitchOrLinearSize, static_cast<DWORD>(levelBytes));
  WriteU32(block + d3dx::kDdsOffMipCount, 0);
  WriteU32(block + d3dx::kDdsOffFlags, kDdsPaddedFlags);
  return true;
}

namespace {

// The file-not-found row's message followed by as much of the file's path
// as the error record holds.
void ReportMissingFile(RaskFile* file) {
  const ErrorRow& row = ImageErrorRow(ImageErr::kFileNotFound);
  WCHAR message[256];
  size_t n = 0;
  for (const WCHAR* p = row.message; *p; ++p) message[n++] = *p;
  const WCHAR* path = RaskGetFileURI(file);
  for (size_t i = 0; path && path[i] && n + 1 < sizeof message / sizeof message[0]; ++i)
    message[n++] = path[i];
  message[n] = 0;
  SetError(row.code, 0, message, row.line, VEK_SRC_VEKIMAGE);
}

}  // namespace

VekImage* CreateImage(RaskFile* file) {
  if (!file) {
    ImagePrint(ImageLine::kNullFile);
    ImageError(ImageErr::kNullFile, 0);
    return nullptr;
  }
  if (!GetCurrentDevice()) {
    ImagePrint(ImageLine::kNoDevice);
    ImageError(ImageErr::kNoDevice, 0);
    return nullptr;
  }
  const DWORD size = RaskGetFileSize(file);
  if (size == 0) {
    // A file that cannot be opened is missing, not empty: say so, with its path.
    if (!RaskOpenFile(file, 0)) {
      ReportMissingFile(file);
      return nullptr;
    }
    RaskCloseFile(file);
    ImageError(ImageErr::kEmptyFile, 0);
    return nullptr;
  }
  BYTE* bytes = static_cast<BYTE*>(Malloc(size));
  if (!bytes) {
    ImageError(ImageErr::kMallocBytes, size);
    return nullptr;
  }
  if (!RaskOpenFile(file, 0)) {
    Free(bytes);
    ImageError(ImageErr::kOpenFile, 0);
    return nullptr;
  }
  DWORD n = RaskReadFile(file, 0, 0, bytes, size);
  RaskCloseFile(file);
  if (n == 0) {
    Free(bytes);
    ImageError(ImageErr::kReadFile, 0);
    return nullptr;
  }
  if (n > size) n = size;  // never believe more bytes than the buffer holds

  auto* image = static_cast<VekImage*>(Malloc(sizeof(VekImage)));
  if (!image) {
    Free(bytes);
    ImagePrint(ImageLine::kMallocRecord);
    ImageError(ImageErr::kMallocRecord, static_cast<LONG>(sizeof(VekImage)));
    return nullptr;
  }
  std::memset(image, 0, sizeof(VekImage));
  image->texture.contentScaleX = 1.0f;
  image->texture.contentScaleY = 1.0f;
  if (!SniffImageFormat(image, bytes, n)) {
    Free(image);
    ImagePrint(ImageLine::kInvalidData);
    ImageError(ImageErr::kInvalidData, 0);
    return nullptr;
  }
  // The URI is kept truncated to what the record holds.
  if (const WCHAR* uri = RaskGetFileURI(file)) {
    int i = 0;
    for (; i < kImageUriLength - 1 && uri[i]; ++i) image->uri[i] = uri[i];
    image->uri[i] = 0;
  }
  return image;
}

INT DestroyImage(VekImage* image) {
  if (!image) {
    ImageError(ImageErr::kDestroyNull, 0);
    return 0;
  }
  VekTexture& t = image->texture;
  if (t.tex) {
    t.tex->Release();
    t.tex = nullptr;
  }
  if (t.data) {
    Free(t.data);
    t.data = nullptr;
  }
  FreePixelCache(&t);
  Free(image);
  return 1;
}

UINT GetImageSize(VekImage* image) {
  if (!image) return 0;
  const VekTexture& t = image->texture;
  const GraphicsDevice* device = GetCurrentDevice();
  if (device && !device->texturesPow2) return t.width | t.height << 16;
  // A padded picture reports its own size. Without a current device the
  // content scales (1.0 unless padded) still give it.
  // Exact in double: a side below 2^16 times a float scale above 1/2 has at
  // most 40 significant bits, and adding 0.5 keeps it within 53. So this is
  // the extended-precision result, computed without the x87 (whose precision
  // Direct3D lowers on 32-bit Windows).
  UINT w, h;
  PictureExtent(image, &w, &h);
  return w | h << 16;
}

void PictureExtent(const VekImage* image, UINT* w, UINT* h) {
  const VekTexture& t = image->texture;
  // A scale never set (a record not made by the loader) counts as unpadded.
  const double sx = image->texture.contentScaleX > 0.0f ? image->texture.contentScaleX : 1.0;
  const double sy = image->texture.contentScaleY > 0.0f ? image->texture.contentScaleY : 1.0;
  *w = sx == 1.0 ? t.width : static_cast<UINT>(static_cast<double>(t.width) * sx + 0.5);
  *h = sy == 1.0 ? t.height : static_cast<UINT>(static_cast<double>(t.height) * sy + 0.5);
}

DWORD ReadPixel(const BYTE* base, UINT width, UINT pitch, INT compression, UINT x, UINT y) {
  if (compression == kCompressionNone) {
    if (x >= width) return 0;
    DWORD value = 0;
    std::memcpy(&value, base + static_cast<size_t>(y) * pitch + static_cast<size_t>(x) * 4, 4);
    return value;
  }
  const UINT blockBytes = DxtBlockBytes(compression);
  if (!blockBytes) {
    ImagePrint(ImageLine::kColorFormat);
    return 0;
  }
  if (x >= width) return 0;
  const BYTE* block =
      base + static_cast<size_t>(y / 4) * pitch + static_cast<size_t>(x / 4) * blockBytes;
  BYTE pixels[kBlockPixels * 4];
  DecodeDxtBlock(pixels, block, compression);
  const BYTE* p = pixels + ((y % 4) * 4 + (x % 4)) * 4;
  return p[0] | p[1] << 8 | p[2] << 16 | DWORD(p[3]) << 24;
}

DWORD GetColorFromTex(VekImage* image, UINT x, UINT y) {
  VekTexture& t = image->texture;
  if (x >= t.width || y >= t.height) return 0;
  if (t.tex) {
    const RECT rect = PictureLockRect(t);
    D3DLOCKED_RECT locked{};
    const HRESULT hr = t.tex->LockRect(0, &locked, &rect, 0);
    if (FAILED(hr)) {
      ImagePrint(ImageLine::kColorLock);
      ImageError(ImageErr::kLockColor, hr);
      return 0;
    }
    const DWORD value = ReadPixel(static_cast<const BYTE*>(locked.pBits), t.width,
                                  static_cast<UINT>(locked.Pitch), t.compression, x, y);
    t.tex->UnlockRect(0);
    return value;
  }
  if (!t.data) {
    ImagePrint(ImageLine::kColorNoData);
    return 0;
  }
  // The kept DDS file: rows of pixels, or of blocks, without gaps.
  const UINT blockBytes = DxtBlockBytes(t.compression);
  const unsigned long long pitch =
      blockBytes ? static_cast<unsigned long long>(DxtBlocksAcross(t.width)) * blockBytes
                 : static_cast<unsigned long long>(t.width) * 4;
  const unsigned long long rows = blockBytes ? DxtBlocksAcross(t.height) : t.height;
  // Data shorter than the picture (the quotient form cannot wrap).
  if (t.dataSize < kDdsHeaderSize || pitch == 0 || rows > (t.dataSize - kDdsHeaderSize) / pitch)
    return 0;
  return ReadPixel(t.data + kDdsHeaderSize, t.width, static_cast<UINT>(pitch), t.compression, x, y);
}

DWORD GetImageColor(VekImage* image, UINT x, UINT y) {
  if (!image) {
    ImagePrint(ImageLine::kColorNull);
    return 0;
  }
  // (width, height) itself lies outside the pixels.
  if (x >= image->texture.width || y >= image->texture.height) {
    ImagePrint(ImageLine::kColorOutside);
    return 0;
  }
  return GetColorFromTex(image, x, y);
}

INT GetImageData(VekImage* image, UINT x1, UINT y1, UINT x2, UINT y2, BYTE** out) {
  if (!image) {
    ImagePrint(ImageLine::kDataNull);
    return 0;
  }
  if (x1 >= x2 || y1 >= y2) {
    ImagePrint(ImageLine::kDataEmpty);
    return 0;
  }
  return ReadImageRect(image, x1, y1, x2, y2, out);
}

INT ReadImageRect(VekImage* image, UINT x1, UINT y1, UINT x2, UINT y2, BYTE** out) {
  VekTexture& t = image->texture;
  if (!out) {
    ImagePrint(ImageLine::kDataNoOut);
    return 0;
  }
  // Clamped to the picture itself: a padded texture's padding is not the host's.
  UINT pictureWidth, pictureHeight;
  PictureExtent(image, &pictureWidth, &pictureHeight);
  if (x2 > pictureWidth) x2 = pictureWidth;
  if (y2 > pictureHeight) y2 = pictureHeight;
  // A rectangle starting at or past the right or bottom edge is empty now.
  if (x1 >= x2 || y1 >= y2) {
    ImagePrint(ImageLine::kDataEmpty);
    return 0;
  }
  switch (EnsureTexture(&t, CurrentD3DDevice())) {
    case TextureState::kReady:
      break;
    case TextureState::kReleased:
      ImagePrint(ImageLine::kDataReleased, static_cast<void*>(&t));
      return -1;
    case TextureState::kFailed:
      ImagePrint(ImageLine::kDataFailed, static_cast<void*>(&t),
                 static_cast<int>(GetError()->code));
      return -2;
  }
  if (t.format != D3DFMT_A8R8G8B8) {
    ImagePrint(ImageLine::kDataFormat);
    return 0;
  }
  const RECT rect{static_cast<LONG>(x1), static_cast<LONG>(y1), static_cast<LONG>(x2),
                  static_cast<LONG>(y2)};
  D3DLOCKED_RECT locked{};
  const HRESULT hr = t.tex->LockRect(0, &locked, &rect, 0);
  if (FAILED(hr)) {
    ImagePrint(ImageLine::kDataLock);
    ImageError(ImageErr::kLockData, hr);
    return -3;
  }
  const UINT w = x2 - x1, h = y2 - y1;
  const UINT pitch = static_cast<UINT>(locked.Pitch);
  if (w * 4ull > pitch) {
    t.tex->UnlockRect(0);
    ImagePrint(ImageLine::kDataPitch);
    ImageError(ImageErr::kPitch, 0);
    return -4;
  }
  const unsigned long long bytes = static_cast<unsigned long long>(w) * h * 4;
  BYTE* block = bytes <= INT_MAX ? static_cast<BYTE*>(Malloc(static_cast<UINT>(bytes))) : nullptr;
  if (!block) {
    t.tex->UnlockRect(0);
    ImagePrint(ImageLine::kDataMalloc);
    ImageError(ImageErr::kMallocData, bytes);
    return kErrAllocation;
  }
  const BYTE* src = static_cast<const BYTE*>(locked.pBits);
  for (UINT row = 0; row < h; ++row)
    std::memcpy(block + static_cast<size_t>(row) * w * 4, src + static_cast<size_t>(row) * pitch,
                static_cast<size_t>(w) * 4);
  t.tex->UnlockRect(0);
  *out = block;
  return static_cast<INT>(bytes);
}

const BYTE* GetImagePixelCache(VekImage* image) {
  if (image->texture.pixelCache) return image->texture.pixelCache;
  // The picture's own pixels, without a power-of-two device's padding, so
  // emission regions are fractions of the picture on every device.
  BYTE* pixels = nullptr;
  const INT n = ReadImageRect(image, 0, 0, image->texture.width, image->texture.height, &pixels);
  if (n <= 0 || !pixels) return nullptr;
  // The texture may have been created just now; its size is the one read.
  UINT w, h;
  PictureExtent(image, &w, &h);
  if (static_cast<unsigned long long>(n) != static_cast<unsigned long long>(w) * h * 4) {
    Free(pixels);
    return nullptr;
  }
  image->texture.pixelCache = pixels;
  image->texture.pixelCacheWidth = w;
  image->texture.pixelCacheHeight = h;
  return pixels;
}

INT SaveImage(VekImage* image, const WCHAR* path, DWORD fileFormat) {
  if (!image) {
    ImageError(ImageErr::kSaveNull, 0);
    return 0;
  }
  const HRESULT hr = D3DXSaveTextureToFileW(path, static_cast<D3DXIMAGE_FILEFORMAT>(fileFormat),
                                            image->texture.tex, nullptr);
  if (FAILED(hr)) ImageError(ImageErr::kSave, hr);
  return hr;
}
