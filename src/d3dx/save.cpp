// Saving a surface or a texture's top level as a BMP (24-bit) or DDS file.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "d3dx/d3dx8.h"
#include "d3dx/formats.h"
#include "host/utf8.h"

#ifdef _WIN32
#include <wchar.h>
#else
#include <sys/stat.h>
#endif

using namespace d3dx;

namespace {

// A rectangle of a surface, read into memory: rows of pixels or of 4 x 4
// blocks in the surface's own format.
struct Pixels {
  D3DFORMAT format = D3DFMT_UNKNOWN;
  UINT width = 0;
  UINT height = 0;
  UINT rowBytes = 0;
  UINT rows = 0;
  std::vector<BYTE> bytes;
};

HRESULT CopyLocked(const D3DLOCKED_RECT& locked, Pixels* out) {
  const size_t total = static_cast<size_t>(out->rowBytes) * out->rows;
  try {
    out->bytes.resize(total);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  const BYTE* src = static_cast<const BYTE*>(locked.pBits);
  for (UINT row = 0; row < out->rows; ++row)
    std::memcpy(out->bytes.data() + static_cast<size_t>(row) * out->rowBytes,
                src + static_cast<ptrdiff_t>(row) * locked.Pitch, out->rowBytes);
  return S_OK;
}

// Reads rect of surface. Surfaces that cannot be locked (render targets,
// back buffers) are copied into an image surface of the same format first.
HRESULT ReadSurface(IDirect3DSurface8* surface, const RECT* rect, Pixels* out) {
  D3DSURFACE_DESC desc{};
  HRESULT hr = surface->GetDesc(&desc);
  if (FAILED(hr)) return hr;
  const Layout layout = LayoutOf(desc.Format);
  if (!layout.blockSize) return D3DERR_INVALIDCALL;
  RECT r{0, 0, static_cast<LONG>(desc.Width), static_cast<LONG>(desc.Height)};
  if (rect) {
    if (rect->left < 0 || rect->top < 0 || rect->left >= rect->right || rect->top >= rect->bottom ||
        static_cast<UINT>(rect->right) > desc.Width ||
        static_cast<UINT>(rect->bottom) > desc.Height)
      return D3DERR_INVALIDCALL;
    // Block formats are read in whole blocks.
    const UINT b = layout.blockSize;
    if (rect->left % b || rect->top % b ||
        (rect->right % b && static_cast<UINT>(rect->right) != desc.Width) ||
        (rect->bottom % b && static_cast<UINT>(rect->bottom) != desc.Height))
      return D3DERR_INVALIDCALL;
    r = *rect;
  }
  out->format = desc.Format;
  out->width = static_cast<UINT>(r.right - r.left);
  out->height = static_cast<UINT>(r.bottom - r.top);
  const uint64_t rowBytes = uint64_t{BlockCount(out->width, layout.blockSize)} * layout.blockBytes;
  out->rows = BlockCount(out->height, layout.blockSize);
  if (rowBytes * out->rows > 0x7FFFFFFFu) return D3DERR_INVALIDCALL;  // beyond any file we write
  out->rowBytes = static_cast<UINT>(rowBytes);

  D3DLOCKED_RECT locked{};
  if (SUCCEEDED(surface->LockRect(&locked, &r, D3DLOCK_READONLY))) {
    hr = CopyLocked(locked, out);
    surface->UnlockRect();
    return hr;
  }
  IDirect3DDevice8* device = nullptr;
  hr = surface->GetDevice(&device);
  if (FAILED(hr)) return hr;
  IDirect3DSurface8* copy = nullptr;
  hr = device->CreateImageSurface(desc.Width, desc.Height, desc.Format, &copy);
  if (SUCCEEDED(hr)) hr = device->CopyRects(surface, nullptr, 0, copy, nullptr);
  if (SUCCEEDED(hr)) hr = copy->LockRect(&locked, &r, D3DLOCK_READONLY);
  if (SUCCEEDED(hr)) {
    hr = CopyLocked(locked, out);
    copy->UnlockRect();
  }
  if (copy) copy->Release();
  device->Release();
  return hr;
}

struct Rgb {
  BYTE r, g, b;
};

BYTE Expand(uint32_t v, int bits) {
  // Bit replication: the top bits repeat into the low ones.
  v &= (1u << bits) - 1;
  uint32_t x = v << (8 - bits);
  for (int have = bits; have < 8; have += bits) x |= v << (8 - bits) >> have;
  return static_cast<BYTE>(x);
}

Rgb From565(uint16_t c) { return {Expand(c >> 11, 5), Expand(c >> 5, 6), Expand(c, 5)}; }

// The colour of every texel of one DXT block (alpha is not needed for BMP).
void DecodeColourBlock(const BYTE* block, bool dxt1, Rgb out[16]) {
  const uint16_t c0 = ReadU16(block), c1 = ReadU16(block + 2);
  Rgb p[4] = {From565(c0), From565(c1), {}, {}};
  auto mix = [](BYTE a, BYTE b, int wa, int wb, int d) {
    return static_cast<BYTE>((wa * a + wb * b) / d);
  };
  if (c0 > c1 || !dxt1) {
    p[2] = {mix(p[0].r, p[1].r, 2, 1, 3), mix(p[0].g, p[1].g, 2, 1, 3),
            mix(p[0].b, p[1].b, 2, 1, 3)};
    p[3] = {mix(p[0].r, p[1].r, 1, 2, 3), mix(p[0].g, p[1].g, 1, 2, 3),
            mix(p[0].b, p[1].b, 1, 2, 3)};
  } else {
    p[2] = {mix(p[0].r, p[1].r, 1, 1, 2), mix(p[0].g, p[1].g, 1, 1, 2),
            mix(p[0].b, p[1].b, 1, 1, 2)};
    p[3] = {0, 0, 0};  // transparent: black without alpha
  }
  const uint32_t indices = ReadU32(block + 4);
  for (int i = 0; i < 16; ++i) out[i] = p[(indices >> (2 * i)) & 3];
}

Rgb PixelAt(const Pixels& px, UINT x, UINT y) {
  switch (px.format) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8: {
      const BYTE* p = px.bytes.data() + static_cast<size_t>(y) * px.rowBytes + x * 4u;
      return {p[2], p[1], p[0]};
    }
    case D3DFMT_DXT1:
    case D3DFMT_DXT3:
    case D3DFMT_DXT5: {
      const bool dxt1 = px.format == D3DFMT_DXT1;
      const BYTE* block =
          px.bytes.data() + static_cast<size_t>(y / 4) * px.rowBytes + (x / 4) * (dxt1 ? 8u : 16u);
      Rgb texels[16];
      DecodeColourBlock(dxt1 ? block : block + 8, dxt1, texels);
      return texels[(y % 4) * 4 + x % 4];
    }
    default:
      break;
  }
  const uint16_t c = ReadU16(px.bytes.data() + static_cast<size_t>(y) * px.rowBytes + x * 2u);
  switch (px.format) {
    case D3DFMT_R5G6B5:
      return From565(c);
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
      return {Expand(c >> 10, 5), Expand(c >> 5, 5), Expand(c, 5)};
    default:  // D3DFMT_A4R4G4B4
      return {Expand(c >> 8, 4), Expand(c >> 4, 4), Expand(c, 4)};
  }
}

HRESULT EncodeBmp(const Pixels& px, std::vector<BYTE>* file) {
  const uint64_t stride = (uint64_t{px.width} * 3 + 3) & ~uint64_t{3};
  const uint64_t imageBytes = stride * px.height;
  if (imageBytes > 0x7FFFFFFFu - 54) return D3DERR_INVALIDCALL;
  try {
    file->assign(54 + static_cast<size_t>(imageBytes), 0);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  BYTE* h = file->data();
  h[0] = 'B';
  h[1] = 'M';
  WriteU32(h + 2, static_cast<uint32_t>(54 + imageBytes));
  WriteU32(h + 10, 54);  // pixels follow the two headers
  WriteU32(h + 14, 40);  // BITMAPINFOHEADER
  WriteU32(h + 18, px.width);
  WriteU32(h + 22, px.height);  // positive: bottom row first
  WriteU16(h + 26, 1);
  WriteU16(h + 28, 24);
  WriteU32(h + 30, 0);  // BI_RGB
  WriteU32(h + 34, static_cast<uint32_t>(imageBytes));
  for (UINT y = 0; y < px.height; ++y) {
    BYTE* row = h + 54 + static_cast<size_t>(px.height - 1 - y) * static_cast<size_t>(stride);
    for (UINT x = 0; x < px.width; ++x) {
      const Rgb c = PixelAt(px, x, y);
      row[x * 3u] = c.b;
      row[x * 3u + 1] = c.g;
      row[x * 3u + 2] = c.r;
    }
  }
  return S_OK;
}

HRESULT EncodeDds(const Pixels& px, std::vector<BYTE>* file) {
  const uint64_t dataBytes = uint64_t{px.rowBytes} * px.rows;
  if (dataBytes > 0x7FFFFFFFu - kDdsHeaderBytes) return D3DERR_INVALIDCALL;
  try {
    file->assign(kDdsHeaderBytes + static_cast<size_t>(dataBytes), 0);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  BYTE* h = file->data();
  const bool blocks = IsBlockFormat(px.format);
  DdsHeader f{};
  f.flags = kDdsdCaps | kDdsdHeight | kDdsdWidth | kDdsdPixelFormat |
            (blocks ? kDdsdLinearSize : kDdsdPitch);
  f.height = px.height;
  f.width = px.width;
  f.pitchOrLinearSize = blocks ? static_cast<uint32_t>(dataBytes) : px.rowBytes;
  f.caps = kDdsCapsTexture;
  if (blocks) {
    f.pixelFlags = kDdpfFourCC;
    f.fourCC = static_cast<uint32_t>(px.format);
  } else {
    struct Masks {
      DWORD bits, r, g, b, a;
    } m{};
    switch (px.format) {
      case D3DFMT_A8R8G8B8:
        m = {32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u};
        break;
      case D3DFMT_X8R8G8B8:
        m = {32, 0xFF0000, 0xFF00, 0xFF, 0};
        break;
      case D3DFMT_R5G6B5:
        m = {16, 0xF800, 0x07E0, 0x001F, 0};
        break;
      case D3DFMT_X1R5G5B5:
        m = {16, 0x7C00, 0x03E0, 0x001F, 0};
        break;
      case D3DFMT_A1R5G5B5:
        m = {16, 0x7C00, 0x03E0, 0x001F, 0x8000};
        break;
      case D3DFMT_A4R4G4B4:
        m = {16, 0x0F00, 0x00F0, 0x000F, 0xF000};
        break;
      default:
        break;
    }
    f.pixelFlags = kDdpfRgb | (m.a ? kDdpfAlphaPixels : 0);
    f.bitCount = m.bits;
    f.masks[0] = m.r;
    f.masks[1] = m.g;
    f.masks[2] = m.b;
    f.masks[3] = m.a;
  }
  WriteDdsHeader(h, f);
  if (dataBytes) std::memcpy(h + kDdsHeaderBytes, px.bytes.data(), static_cast<size_t>(dataBytes));
  return S_OK;
}

// Writes the whole file, failing when writing or closing fails. E_FAIL when the path
// cannot be written.
HRESULT WriteWholeFile(LPCWSTR path, const std::vector<BYTE>& bytes) {
#ifdef _WIN32
  FILE* f = _wfopen(path, L"wb");
#else
  const std::string utf8 = Utf16ToUtf8(path);
  FILE* f = std::fopen(utf8.c_str(), "wb");
#endif
  if (!f) return E_FAIL;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  const bool closed = std::fclose(f) == 0;
  if (written && closed) return S_OK;
    // A partial file is removed; anything else at the path (a device such as
    // /dev/full) is not ours to remove.
#ifdef _WIN32
  _wremove(path);
#else
  struct stat info {};
  if (stat(utf8.c_str(), &info) == 0 && S_ISREG(info.st_mode)) std::remove(utf8.c_str());
#endif
  return E_FAIL;
}

}  // namespace

HRESULT WINAPI D3DXSaveSurfaceToFileW(LPCWSTR pDestFile, D3DXIMAGE_FILEFORMAT DestFormat,
                                      IDirect3DSurface8* pSrcSurface,
                                      const PALETTEENTRY* pSrcPalette, const RECT* pSrcRect) {
  (void)pSrcPalette;  // no palette formats are read
  if (!pDestFile || !pSrcSurface) return D3DERR_INVALIDCALL;
  const bool bmp = DestFormat == D3DXIFF_BMP || DestFormat == D3DXIFF_DIB;
  if (!bmp && DestFormat != D3DXIFF_DDS) {
    const bool known = DestFormat == D3DXIFF_JPG || DestFormat == D3DXIFF_TGA ||
                       DestFormat == D3DXIFF_PNG || DestFormat == D3DXIFF_PPM;
    return known ? D3DXERR_INVALIDDATA : D3DERR_INVALIDCALL;
  }
  Pixels px;
  HRESULT hr = ReadSurface(pSrcSurface, pSrcRect, &px);
  if (FAILED(hr)) return hr;
  std::vector<BYTE> file;
  hr = bmp ? EncodeBmp(px, &file) : EncodeDds(px, &file);
  if (FAILED(hr)) return hr;
  return WriteWholeFile(pDestFile, file);
}

HRESULT WINAPI D3DXSaveTextureToFileW(LPCWSTR pDestFile, D3DXIMAGE_FILEFORMAT DestFormat,
                                      IDirect3DBaseTexture8* pSrcTexture,
                                      const PALETTEENTRY* pSrcPalette) {
  if (!pDestFile || !pSrcTexture) return D3DERR_INVALIDCALL;
  // Only 2-D textures: their top level is saved.
  if (pSrcTexture->GetType() != D3DRTYPE_TEXTURE) return D3DERR_INVALIDCALL;
  IDirect3DSurface8* level = nullptr;
  HRESULT hr = static_cast<IDirect3DTexture8*>(pSrcTexture)->GetSurfaceLevel(0, &level);
  if (FAILED(hr)) return hr;
  hr = D3DXSaveSurfaceToFileW(pDestFile, DestFormat, level, pSrcPalette, nullptr);
  level->Release();
  return hr;
}
