// Pixel formats as memory: block size and bytes per block, surface layouts,
// and the vertex sizes of flexible vertex formats.
#pragma once

#include <d3d8.h>

namespace vrt::d3d {

struct FormatInfo {
  UINT blockBytes = 0;  // bytes per block; plain formats have 1 x 1 pixel blocks
  UINT blockWidth = 1;
  UINT blockHeight = 1;
  bool depth = false;
  bool stencil = false;
  bool compressed = false;  // DXT1..DXT5
};

// False for formats no surface can have (UNKNOWN, VERTEXDATA, INDEX16/32).
bool DescribeFormat(D3DFORMAT format, FormatInfo* info);

bool IsDepthFormat(D3DFORMAT format);
bool IsStencilFormat(D3DFORMAT format);
// Formats a device's back buffer can have.
bool IsBackBufferFormat(D3DFORMAT format);
// Formats a display mode can have.
bool IsDisplayFormat(D3DFORMAT format);
// The display format a back-buffer format is shown in (alpha dropped).
D3DFORMAT DisplayFormatOf(D3DFORMAT backBufferFormat);
bool IsRenderTargetFormat(D3DFORMAT format);
// Colour formats textures and image surfaces can have (no palettes here).
bool IsTextureFormat(D3DFORMAT format);

struct Layout {
  UINT pitch = 0;  // bytes from one row of blocks to the next
  UINT rows = 0;   // rows of blocks
  UINT bytes = 0;
};
// Rows are whole blocks; plain rows are padded to a multiple of 4 bytes.
Layout LayoutOf(const FormatInfo& info, UINT width, UINT height);

// Bytes per vertex of an FVF code; 0 when the code is not a valid FVF.
UINT FvfVertexSize(DWORD fvf);

// Vertices `count` primitives of `type` use; 0 for an unknown type.
UINT VertexCountOf(D3DPRIMITIVETYPE type, UINT count);

}  // namespace vrt::d3d
