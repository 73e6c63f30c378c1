// The subset of the D3DX 8 utility library that vek uses, written for both
// builds (mingw-w64 ships no D3DX 8). Names, types and signatures are those
// of Microsoft's D3DX 8, so calling code reads as it would against it.
#pragma once

#include <d3d8.h>
#include <windows.h>

// Results. MAKE_D3DHRESULT values of facility 0x876.
#ifndef D3DERR_INVALIDCALL
#define D3DERR_INVALIDCALL ((HRESULT)0x8876086CL)
#endif
#ifndef D3DERR_NOTAVAILABLE
#define D3DERR_NOTAVAILABLE ((HRESULT)0x8876086AL)
#endif
#ifndef D3DERR_OUTOFVIDEOMEMORY
#define D3DERR_OUTOFVIDEOMEMORY ((HRESULT)0x8876017CL)
#endif
#ifndef D3DXERR_INVALIDDATA
#define D3DXERR_INVALIDDATA ((HRESULT)0x88760B59L)
#endif
#ifndef E_FAIL
#define E_FAIL ((HRESULT)0x80004005L)
#endif
#ifndef E_OUTOFMEMORY
#define E_OUTOFMEMORY ((HRESULT)0x8007000EL)
#endif

#ifndef D3DX_DEFAULT
#define D3DX_DEFAULT ((UINT)-1)
#endif

// Image filters (only D3DX_FILTER_NONE changes nothing here: pictures are
// always copied texel for texel).
#define D3DX_FILTER_NONE (1 << 0)
#define D3DX_FILTER_POINT (2 << 0)
#define D3DX_FILTER_LINEAR (3 << 0)
#define D3DX_FILTER_TRIANGLE (4 << 0)
#define D3DX_FILTER_BOX (5 << 0)
#define D3DX_FILTER_MIRROR_U (1 << 16)
#define D3DX_FILTER_MIRROR_V (2 << 16)
#define D3DX_FILTER_MIRROR_W (4 << 16)
#define D3DX_FILTER_MIRROR (7 << 16)
#define D3DX_FILTER_DITHER (8 << 16)

// Assembler flags (accepted and ignored).
#define D3DXASM_DEBUG (1 << 0)
#define D3DXASM_SKIPVALIDATION (1 << 1)

typedef enum _D3DXIMAGE_FILEFORMAT {
  D3DXIFF_BMP = 0,
  D3DXIFF_JPG = 1,
  D3DXIFF_TGA = 2,
  D3DXIFF_PNG = 3,
  D3DXIFF_DDS = 4,
  D3DXIFF_PPM = 5,
  D3DXIFF_DIB = 6,
  D3DXIFF_FORCE_DWORD = 0x7fffffff
} D3DXIMAGE_FILEFORMAT;

typedef struct _D3DXIMAGE_INFO {
  UINT Width;
  UINT Height;
  UINT Depth;
  UINT MipLevels;
  D3DFORMAT Format;
  D3DRESOURCETYPE ResourceType;
  D3DXIMAGE_FILEFORMAT ImageFileFormat;
} D3DXIMAGE_INFO;

// A 4 x 4 matrix, row-vector convention (v' = v M), laid out as D3DMATRIX.
struct D3DXMATRIX : public D3DMATRIX {
  D3DXMATRIX() = default;
  FLOAT& operator()(UINT row, UINT col) { return m[row][col]; }
  FLOAT operator()(UINT row, UINT col) const { return m[row][col]; }
};
typedef D3DXMATRIX* LPD3DXMATRIX;

// A block of bytes handed out by D3DX (assembled tokens, error text).
// Reference counted; the receiver releases it.
struct ID3DXBuffer : public IUnknown {
  virtual LPVOID STDMETHODCALLTYPE GetBufferPointer() = 0;
  virtual DWORD STDMETHODCALLTYPE GetBufferSize() = 0;
};
typedef ID3DXBuffer* LPD3DXBUFFER;

// {932E6A7E-C68E-45DD-A7BF-53D19C86DB1F}
inline constexpr GUID IID_ID3DXBuffer = {
    0x932e6a7e, 0xc68e, 0x45dd, {0xa7, 0xbf, 0x53, 0xd1, 0x9c, 0x86, 0xdb, 0x1f}};

extern "C" {

// Matrices. Each returns pOut; pOut may be one of the inputs.
D3DXMATRIX* WINAPI D3DXMatrixScaling(D3DXMATRIX* pOut, FLOAT sx, FLOAT sy, FLOAT sz);
D3DXMATRIX* WINAPI D3DXMatrixTranslation(D3DXMATRIX* pOut, FLOAT x, FLOAT y, FLOAT z);
D3DXMATRIX* WINAPI D3DXMatrixOrthoOffCenterLH(D3DXMATRIX* pOut, FLOAT l, FLOAT r, FLOAT b, FLOAT t,
                                              FLOAT zn, FLOAT zf);
D3DXMATRIX* WINAPI D3DXMatrixMultiply(D3DXMATRIX* pOut, const D3DXMATRIX* pM1,
                                      const D3DXMATRIX* pM2);

// A zero-filled buffer of NumBytes bytes.
HRESULT WINAPI D3DXCreateBuffer(DWORD NumBytes, LPD3DXBUFFER* ppBuffer);

// Adjusts a texture request to what the device supports: D3DX_DEFAULT or
// 0 sizes, powers of two, square-only devices, the largest size, the mip
// count. Any pointer may be null.
HRESULT WINAPI D3DXCheckTextureRequirements(IDirect3DDevice8* pDevice, UINT* pWidth, UINT* pHeight,
                                            UINT* pNumMipLevels, DWORD Usage, D3DFORMAT* pFormat,
                                            D3DPOOL Pool);

HRESULT WINAPI D3DXCreateTexture(IDirect3DDevice8* pDevice, UINT Width, UINT Height, UINT MipLevels,
                                 DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                                 IDirect3DTexture8** ppTexture);

// DDS files only: DXT1, DXT3, DXT5 and uncompressed 32-bit A8R8G8B8 /
// X8R8G8B8. The file's top level is copied into the top-left corner of the
// texture's level 0 (larger when the device needs powers of two); other
// levels are left as created.
HRESULT WINAPI D3DXCreateTextureFromFileInMemoryEx(IDirect3DDevice8* pDevice, LPCVOID pSrcData,
                                                   UINT SrcDataSize, UINT Width, UINT Height,
                                                   UINT MipLevels, DWORD Usage, D3DFORMAT Format,
                                                   D3DPOOL Pool, DWORD Filter, DWORD MipFilter,
                                                   D3DCOLOR ColorKey, D3DXIMAGE_INFO* pSrcInfo,
                                                   PALETTEENTRY* pPalette,
                                                   IDirect3DTexture8** ppTexture);

// BMP (D3DXIFF_BMP, D3DXIFF_DIB: 24-bit) and DDS (the surface's own format).
HRESULT WINAPI D3DXSaveSurfaceToFileW(LPCWSTR pDestFile, D3DXIMAGE_FILEFORMAT DestFormat,
                                      IDirect3DSurface8* pSrcSurface,
                                      const PALETTEENTRY* pSrcPalette, const RECT* pSrcRect);
// Level 0 of a texture, as D3DXSaveSurfaceToFileW writes it.
HRESULT WINAPI D3DXSaveTextureToFileW(LPCWSTR pDestFile, D3DXIMAGE_FILEFORMAT DestFormat,
                                      IDirect3DBaseTexture8* pSrcTexture,
                                      const PALETTEENTRY* pSrcPalette);

// Pixel shader 1.4 assembly to Direct3D 8 tokens. ppConstants is not
// supported and is set to null. On a syntax error the errors buffer holds
// "(line): error: ..." lines and the result is D3DXERR_INVALIDDATA.
HRESULT WINAPI D3DXAssembleShader(LPCVOID pSrcData, UINT SrcDataLen, DWORD Flags,
                                  LPD3DXBUFFER* ppConstants, LPD3DXBUFFER* ppCompiledShader,
                                  LPD3DXBUFFER* ppCompilationErrors);

}  // extern "C"

// Not a D3DX call: the check D3DXCreateTextureFromFileInMemoryEx makes of a
// DDS file before it creates anything, for callers that keep a file to make
// its texture later. S_OK with the level-0 size and format, or
// D3DXERR_INVALIDDATA for a file it would refuse.
HRESULT CheckDdsFile(const void* data, UINT size, UINT* width, UINT* height, D3DFORMAT* format);
