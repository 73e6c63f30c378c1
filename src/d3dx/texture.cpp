// Texture creation: a blank texture sized to the device's rules, and a
// texture made from a DDS file held in memory.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "d3dx/d3dx8.h"
#include "d3dx/formats.h"

using namespace d3dx;

namespace {

UINT NextPow2(UINT v) {
  UINT p = 1;
  while (p < v && p < 0x80000000u) p <<= 1;
  return p < v ? v : p;
}

UINT BitLength(UINT v) {
  UINT n = 0;
  for (; v; v >>= 1) ++n;
  return n;
}

// The parts of a DDS file the loader uses, after validation.
struct DdsImage {
  UINT width = 0;
  UINT height = 0;
  UINT mipLevels = 1;
  D3DFORMAT format = D3DFMT_UNKNOWN;
  const BYTE* bits = nullptr;  // level 0, rows (of blocks) packed
  UINT rowBytes = 0;           // one row of pixels, or of 4 x 4 blocks
  UINT rows = 0;               // pixel rows, or rows of blocks
};

HRESULT ParseDds(const BYTE* data, UINT size, DdsImage* out) {
  if (!data || size < kDdsHeaderBytes || std::memcmp(data, "DDS ", 4) != 0)
    return D3DXERR_INVALIDDATA;
  if (ReadU32(data + 4) != 124 || ReadU32(data + 76) != 32) return D3DXERR_INVALIDDATA;
  const DWORD flags = ReadU32(data + kDdsOffFlags);
  // Readers should not rely on the caps, pixel format and mip count flags,
  // which some writers leave out; height and width must be there.
  if ((flags & (kDdsdHeight | kDdsdWidth)) != (kDdsdHeight | kDdsdWidth))
    return D3DXERR_INVALIDDATA;
  const UINT height = ReadU32(data + kDdsOffHeight);
  const UINT width = ReadU32(data + kDdsOffWidth);
  const DWORD pitchOrSize = ReadU32(data + kDdsOffPitchOrLinearSize);
  const DWORD depth = ReadU32(data + kDdsOffDepth);
  const DWORD mipCount = ReadU32(data + kDdsOffMipCount);
  const DWORD pfFlags = ReadU32(data + kDdsOffPixelFlags);
  const DWORD fourCC = ReadU32(data + kDdsOffFourCC);
  const DWORD caps2 = ReadU32(data + kDdsOffCaps2);
  if (width == 0 || height == 0) return D3DXERR_INVALIDDATA;
  if ((caps2 & (kDdsCaps2CubeMap | kDdsCaps2Volume)) || ((flags & kDdsdDepth) && depth > 1))
    return D3DXERR_INVALIDDATA;  // only plain 2-D textures

  D3DFORMAT format = D3DFMT_UNKNOWN;
  if (pfFlags & kDdpfFourCC) {
    if (fourCC == D3DFMT_DXT1 || fourCC == D3DFMT_DXT3 || fourCC == D3DFMT_DXT5)
      format = static_cast<D3DFORMAT>(fourCC);
  } else if (pfFlags & kDdpfRgb) {
    const DWORD bits = ReadU32(data + kDdsOffBitCount);
    const DWORD r = ReadU32(data + kDdsOffRedMask), g = ReadU32(data + kDdsOffRedMask + 4),
                b = ReadU32(data + kDdsOffRedMask + 8);
    const DWORD a = ReadU32(data + kDdsOffRedMask + 12);
    if (bits == 32 && r == 0x00FF0000u && g == 0x0000FF00u && b == 0x000000FFu) {
      if ((pfFlags & kDdpfAlphaPixels) && a == 0xFF000000u)
        format = D3DFMT_A8R8G8B8;
      else if (!(pfFlags & kDdpfAlphaPixels))
        format = D3DFMT_X8R8G8B8;
    }
  }
  if (format == D3DFMT_UNKNOWN) return D3DXERR_INVALIDDATA;

  const Layout layout = LayoutOf(format);
  const uint64_t rowBytes = uint64_t{BlockCount(width, layout.blockSize)} * layout.blockBytes;
  const uint64_t rows = BlockCount(height, layout.blockSize);
  const uint64_t levelBytes = rowBytes * rows;
  if (rowBytes > 0xFFFFFFFFu || levelBytes > size - kDdsHeaderBytes) return D3DXERR_INVALIDDATA;
  // A pitch or linear size, when the header gives one, must agree. Some
  // writers flag the field but leave it 0: that gives nothing to check.
  const bool pitch = flags & kDdsdPitch, linear = flags & kDdsdLinearSize;
  if (pitchOrSize != 0 && (pitch || linear) &&
      !((pitch && pitchOrSize == rowBytes) || (linear && pitchOrSize == levelBytes)))
    return D3DXERR_INVALIDDATA;

  out->width = width;
  out->height = height;
  out->mipLevels = (flags & kDdsdMipMapCount) && mipCount > 0 ? mipCount : 1;
  // A chain longer than the largest side allows is malformed.
  if (out->mipLevels > BitLength(std::max(width, height))) return D3DXERR_INVALIDDATA;
  out->format = format;
  out->bits = data + kDdsHeaderBytes;
  out->rowBytes = static_cast<UINT>(rowBytes);
  out->rows = static_cast<UINT>(rows);
  return S_OK;
}

// Copies the picture into the top-left corner of a locked level, zeroing the
// rest of it. levelRows counts rows of pixels or of blocks, like the picture.
void CopyIntoLevel(const DdsImage& image, const D3DLOCKED_RECT& locked, UINT levelRowBytes,
                   UINT levelRows) {
  BYTE* dst = static_cast<BYTE*>(locked.pBits);
  const UINT pitch = static_cast<UINT>(locked.Pitch);
  const UINT copyBytes = std::min(image.rowBytes, levelRowBytes);
  for (UINT row = 0; row < levelRows; ++row) {
    BYTE* line = dst + static_cast<size_t>(row) * pitch;
    std::memset(line, 0, levelRowBytes);
    if (row < image.rows)
      std::memcpy(line, image.bits + static_cast<size_t>(row) * image.rowBytes, copyBytes);
  }
}

}  // namespace

HRESULT CheckDdsFile(const void* data, UINT size, UINT* width, UINT* height, D3DFORMAT* format) {
  DdsImage image;
  const HRESULT hr = ParseDds(static_cast<const BYTE*>(data), size, &image);
  if (FAILED(hr)) return hr;
  *width = image.width;
  *height = image.height;
  *format = image.format;
  return S_OK;
}

HRESULT WINAPI D3DXCheckTextureRequirements(IDirect3DDevice8* pDevice, UINT* pWidth, UINT* pHeight,
                                            UINT* pNumMipLevels, DWORD Usage, D3DFORMAT* pFormat,
                                            D3DPOOL Pool) {
  (void)Usage;
  (void)Pool;
  if (!pDevice) return D3DERR_INVALIDCALL;
  D3DCAPS8 caps{};
  const HRESULT hr = pDevice->GetDeviceCaps(&caps);
  if (FAILED(hr)) return hr;

  D3DFORMAT format = pFormat ? *pFormat : D3DFMT_A8R8G8B8;
  if (format == D3DFMT_UNKNOWN || static_cast<UINT>(format) == D3DX_DEFAULT)
    format = D3DFMT_A8R8G8B8;
  auto size = [](const UINT* requested) -> UINT {
    if (!requested || *requested == D3DX_DEFAULT) return 256;
    return *requested == 0 ? 1 : *requested;
  };
  UINT width = size(pWidth);
  UINT height = size(pHeight);
  // Checked before rounding too, so that rounding cannot wrap around.
  if (width > caps.MaxTextureWidth || height > caps.MaxTextureHeight) return D3DERR_INVALIDCALL;
  if (IsBlockFormat(format)) {
    // Block formats are made of whole 4 x 4 blocks.
    width = BlockCount(width, 4) * 4;
    height = BlockCount(height, 4) * 4;
  }
  if (caps.TextureCaps & D3DPTEXTURECAPS_POW2) {
    width = NextPow2(width);
    height = NextPow2(height);
  }
  if (caps.TextureCaps & D3DPTEXTURECAPS_SQUAREONLY) width = height = std::max(width, height);
  if (width > caps.MaxTextureWidth || height > caps.MaxTextureHeight) return D3DERR_INVALIDCALL;

  const UINT fullChain = BitLength(std::max(width, height));
  UINT levels = pNumMipLevels ? *pNumMipLevels : 0;
  if (levels == 0 || levels == D3DX_DEFAULT || levels > fullChain) levels = fullChain;

  if (pWidth) *pWidth = width;
  if (pHeight) *pHeight = height;
  if (pNumMipLevels) *pNumMipLevels = levels;
  if (pFormat) *pFormat = format;
  return S_OK;
}

HRESULT WINAPI D3DXCreateTexture(IDirect3DDevice8* pDevice, UINT Width, UINT Height, UINT MipLevels,
                                 DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                                 IDirect3DTexture8** ppTexture) {
  if (!ppTexture) return D3DERR_INVALIDCALL;
  *ppTexture = nullptr;
  if (!pDevice) return D3DERR_INVALIDCALL;
  HRESULT hr =
      D3DXCheckTextureRequirements(pDevice, &Width, &Height, &MipLevels, Usage, &Format, Pool);
  if (FAILED(hr)) return hr;
  return pDevice->CreateTexture(Width, Height, MipLevels, Usage, Format, Pool, ppTexture);
}

HRESULT WINAPI D3DXCreateTextureFromFileInMemoryEx(IDirect3DDevice8* pDevice, LPCVOID pSrcData,
                                                   UINT SrcDataSize, UINT Width, UINT Height,
                                                   UINT MipLevels, DWORD Usage, D3DFORMAT Format,
                                                   D3DPOOL Pool, DWORD Filter, DWORD MipFilter,
                                                   D3DCOLOR ColorKey, D3DXIMAGE_INFO* pSrcInfo,
                                                   PALETTEENTRY* pPalette,
                                                   IDirect3DTexture8** ppTexture) {
  // The picture is copied texel for texel: no filtering, no colour key, and
  // no palette formats are read.
  (void)MipLevels;
  (void)Filter;
  (void)MipFilter;
  (void)ColorKey;
  (void)pPalette;
  if (!ppTexture) return D3DERR_INVALIDCALL;
  *ppTexture = nullptr;
  if (!pDevice || !pSrcData || SrcDataSize == 0) return D3DERR_INVALIDCALL;

  DdsImage image;
  HRESULT hr = ParseDds(static_cast<const BYTE*>(pSrcData), SrcDataSize, &image);
  if (FAILED(hr)) return hr;

  // No format conversion: the file's format, or one with the same bytes.
  D3DFORMAT format = image.format;
  if (Format != D3DFMT_UNKNOWN && static_cast<UINT>(Format) != D3DX_DEFAULT && Format != format) {
    const bool sameBytes = (Format == D3DFMT_A8R8G8B8 || Format == D3DFMT_X8R8G8B8) &&
                           (format == D3DFMT_A8R8G8B8 || format == D3DFMT_X8R8G8B8);
    if (!sameBytes) return D3DERR_INVALIDCALL;
    format = Format;
  }
  UINT width = (Width == D3DX_DEFAULT || Width == 0) ? image.width : Width;
  UINT height = (Height == D3DX_DEFAULT || Height == 0) ? image.height : Height;
  UINT levels = 1;  // the file's top level only
  hr = D3DXCheckTextureRequirements(pDevice, &width, &height, &levels, Usage, &format, Pool);
  if (FAILED(hr)) return hr;

  const bool staged = Pool == D3DPOOL_DEFAULT;
  IDirect3DTexture8* texture = nullptr;
  hr = pDevice->CreateTexture(width, height, 1, Usage, format, Pool, &texture);
  if (FAILED(hr)) return hr;
  // Default-pool textures cannot be locked: fill a system-memory copy and
  // send it to the device.
  IDirect3DTexture8* fill = texture;
  if (staged) {
    hr = pDevice->CreateTexture(width, height, 1, 0, format, D3DPOOL_SYSTEMMEM, &fill);
    if (FAILED(hr)) {
      texture->Release();
      return hr;
    }
  }
  D3DSURFACE_DESC desc{};
  hr = fill->GetLevelDesc(0, &desc);
  D3DLOCKED_RECT locked{};
  if (SUCCEEDED(hr)) hr = fill->LockRect(0, &locked, nullptr, 0);
  if (SUCCEEDED(hr)) {
    const Layout layout = LayoutOf(format);
    CopyIntoLevel(image, locked, BlockCount(desc.Width, layout.blockSize) * layout.blockBytes,
                  BlockCount(desc.Height, layout.blockSize));
    fill->UnlockRect(0);
    if (staged) hr = pDevice->UpdateTexture(fill, texture);
  }
  if (staged) fill->Release();
  if (FAILED(hr)) {
    texture->Release();
    return hr;
  }
  if (pSrcInfo) {
    pSrcInfo->Width = image.width;
    pSrcInfo->Height = image.height;
    pSrcInfo->Depth = 1;
    pSrcInfo->MipLevels = image.mipLevels;
    pSrcInfo->Format = image.format;
    pSrcInfo->ResourceType = D3DRTYPE_TEXTURE;
    pSrcInfo->ImageFileFormat = D3DXIFF_DDS;
  }
  *ppTexture = texture;
  return S_OK;
}
