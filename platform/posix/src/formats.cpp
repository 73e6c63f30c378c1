#include "formats.h"

namespace vrt::d3d {

bool DescribeFormat(D3DFORMAT format, FormatInfo* info) {
  FormatInfo f;
  switch (format) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8:
    case D3DFMT_A2B10G10R10:
    case D3DFMT_G16R16:
    case D3DFMT_X8L8V8U8:
    case D3DFMT_Q8W8V8U8:
    case D3DFMT_V16U16:
    case D3DFMT_W11V11U10:
    case D3DFMT_A2W10V10U10:
      f.blockBytes = 4;
      break;
    case D3DFMT_R8G8B8:
      f.blockBytes = 3;
      break;
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
    case D3DFMT_A4R4G4B4:
    case D3DFMT_A8R3G3B2:
    case D3DFMT_X4R4G4B4:
    case D3DFMT_A8P8:
    case D3DFMT_A8L8:
    case D3DFMT_V8U8:
    case D3DFMT_L6V5U5:
      f.blockBytes = 2;
      break;
    case D3DFMT_R3G3B2:
    case D3DFMT_A8:
    case D3DFMT_P8:
    case D3DFMT_L8:
    case D3DFMT_A4L4:
      f.blockBytes = 1;
      break;
    case D3DFMT_UYVY:
    case D3DFMT_YUY2:
      f.blockBytes = 4;  // two pixels share their chroma
      f.blockWidth = 2;
      break;
    case D3DFMT_DXT1:
      f.blockBytes = 8;
      f.blockWidth = f.blockHeight = 4;
      f.compressed = true;
      break;
    case D3DFMT_DXT2:
    case D3DFMT_DXT3:
    case D3DFMT_DXT4:
    case D3DFMT_DXT5:
      f.blockBytes = 16;
      f.blockWidth = f.blockHeight = 4;
      f.compressed = true;
      break;
    case D3DFMT_D16_LOCKABLE:
    case D3DFMT_D16:
      f.blockBytes = 2;
      f.depth = true;
      break;
    case D3DFMT_D15S1:
      f.blockBytes = 2;
      f.depth = f.stencil = true;
      break;
    case D3DFMT_D32:
    case D3DFMT_D24X8:
      f.blockBytes = 4;
      f.depth = true;
      break;
    case D3DFMT_D24S8:
    case D3DFMT_D24X4S4:
      f.blockBytes = 4;
      f.depth = f.stencil = true;
      break;
    default:
      return false;
  }
  *info = f;
  return true;
}

bool IsDepthFormat(D3DFORMAT format) {
  FormatInfo f;
  return DescribeFormat(format, &f) && f.depth;
}

bool IsStencilFormat(D3DFORMAT format) {
  FormatInfo f;
  return DescribeFormat(format, &f) && f.stencil;
}

bool IsBackBufferFormat(D3DFORMAT format) {
  return format == D3DFMT_X8R8G8B8 || format == D3DFMT_A8R8G8B8 || format == D3DFMT_R5G6B5 ||
         format == D3DFMT_X1R5G5B5;
}

bool IsDisplayFormat(D3DFORMAT format) {
  return format == D3DFMT_X8R8G8B8 || format == D3DFMT_R5G6B5 || format == D3DFMT_X1R5G5B5;
}

D3DFORMAT DisplayFormatOf(D3DFORMAT backBufferFormat) {
  switch (backBufferFormat) {
    case D3DFMT_A8R8G8B8:
      return D3DFMT_X8R8G8B8;
    case D3DFMT_A1R5G5B5:
      return D3DFMT_X1R5G5B5;
    default:
      return backBufferFormat;
  }
}

bool IsRenderTargetFormat(D3DFORMAT format) {
  return IsBackBufferFormat(format) || format == D3DFMT_A1R5G5B5 || format == D3DFMT_A4R4G4B4;
}

bool IsTextureFormat(D3DFORMAT format) {
  FormatInfo f;
  return DescribeFormat(format, &f) && !f.depth && format != D3DFMT_P8 && format != D3DFMT_A8P8;
}

Layout LayoutOf(const FormatInfo& info, UINT width, UINT height) {
  Layout l;
  const UINT across = (width + info.blockWidth - 1) / info.blockWidth;
  l.rows = (height + info.blockHeight - 1) / info.blockHeight;
  l.pitch = across * info.blockBytes;
  if (info.blockWidth == 1 && info.blockHeight == 1) l.pitch = (l.pitch + 3) & ~3u;
  l.bytes = l.pitch * l.rows;
  return l;
}

UINT FvfVertexSize(DWORD fvf) {
  if (fvf & (D3DFVF_RESERVED0 | D3DFVF_RESERVED2)) return 0;
  UINT size = 0;
  switch (fvf & D3DFVF_POSITION_MASK) {
    case 0:
      break;
    case D3DFVF_XYZ:
      size = 12;
      break;
    case D3DFVF_XYZRHW:
    case D3DFVF_XYZB1:
      size = 16;
      break;
    case D3DFVF_XYZB2:
      size = 20;
      break;
    case D3DFVF_XYZB3:
      size = 24;
      break;
    case D3DFVF_XYZB4:
      size = 28;
      break;
    case D3DFVF_XYZB5:
      size = 32;
      break;
  }
  if (fvf & D3DFVF_NORMAL) size += 12;
  if (fvf & D3DFVF_PSIZE) size += 4;
  if (fvf & D3DFVF_DIFFUSE) size += 4;
  if (fvf & D3DFVF_SPECULAR) size += 4;
  const UINT sets = (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
  if (sets > 8) return 0;
  for (UINT i = 0; i < sets; ++i) {
    switch ((fvf >> (16 + 2 * i)) & 3) {
      case D3DFVF_TEXTUREFORMAT1:
        size += 4;
        break;
      case D3DFVF_TEXTUREFORMAT2:
        size += 8;
        break;
      case D3DFVF_TEXTUREFORMAT3:
        size += 12;
        break;
      case D3DFVF_TEXTUREFORMAT4:
        size += 16;
        break;
    }
  }
  return size;
}

UINT VertexCountOf(D3DPRIMITIVETYPE type, UINT count) {
  switch (type) {
    case D3DPT_POINTLIST:
      return count;
    case D3DPT_LINELIST:
      return count * 2;
    case D3DPT_LINESTRIP:
      return count + 1;
    case D3DPT_TRIANGLELIST:
      return count * 3;
    case D3DPT_TRIANGLESTRIP:
    case D3DPT_TRIANGLEFAN:
      return count + 2;
    default:
      return 0;
  }
}

}  // namespace vrt::d3d
