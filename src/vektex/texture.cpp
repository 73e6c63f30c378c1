#include "vektex/texture.h"

#include "d3dx/d3dx8.h"
#include "host/host.h"
#include "vektex/vektex_diagnostics.h"

namespace {

void SetScaleFactors(VekTexture* t) {
  D3DSURFACE_DESC desc{};
  t->tex->GetLevelDesc(0, &desc);
  if (t->width == desc.Width && t->height == desc.Height) {
    t->uScale = 0.0f;
    t->vScale = 0.0f;
  } else {
    t->uScale = static_cast<float>(static_cast<double>(t->width) / desc.Width);
    t->vScale = static_cast<float>(static_cast<double>(t->height) / desc.Height);
  }
}

// A texture made by D3DXCreateTexture with a full chain; the record keeps
// the requested size and the format the texture was made with.
INT CreateChainTexture(VekTexture* t, IDirect3DDevice8* device, UINT width, UINT height,
                       D3DFORMAT format, DWORD usage, D3DPOOL pool, TexErr failure,
                       UINT levels = 0) {
  const HRESULT hr = D3DXCreateTexture(device, width, height, levels, usage, format, pool, &t->tex);
  if (FAILED(hr)) {
    t->tex = nullptr;
    return TexError(failure, hr);
  }
  t->width = width;
  t->height = height;
  // The format the texture has: D3DX chooses one for D3DFMT_UNKNOWN and
  // D3DX_DEFAULT, and a texture surface is known by its record's non-zero
  // format (a reset would otherwise take it for a window surface).
  D3DSURFACE_DESC level{};
  t->format = SUCCEEDED(t->tex->GetLevelDesc(0, &level)) ? level.Format : format;
  SetScaleFactors(t);
  return 1;
}

}  // namespace

INT CreateTextureFromMemory(VekTexture* t, IDirect3DDevice8* device, const void* bytes, UINT size,
                            BOOL mipmaps) {
  if (t->height == 0 || t->width == 0) return 0;
  D3DXIMAGE_INFO info{};
  const HRESULT hr = D3DXCreateTextureFromFileInMemoryEx(
      device, bytes, size, D3DX_DEFAULT, D3DX_DEFAULT, LOBYTE(mipmaps) ? 0 : 1, 0, D3DFMT_UNKNOWN,
      D3DPOOL_MANAGED, D3DX_FILTER_NONE, D3DX_DEFAULT, 0, &info, nullptr, &t->tex);
  if (FAILED(hr)) {
    t->tex = nullptr;
    return TexError(TexErr::kFromMemory, hr);
  }
  t->width = info.Width;
  t->height = info.Height;
  t->format = info.Format;
  SetScaleFactors(t);
  return 1;
}

INT CreateBlankTexture(VekTexture* t, IDirect3DDevice8* device, UINT width, UINT height,
                       D3DFORMAT format, UINT levels) {
  return CreateChainTexture(t, device, width, height, format, 0, D3DPOOL_MANAGED,
                            TexErr::kCreateTexture, levels);
}

INT CreateRenderTargetTexture(VekTexture* t, IDirect3DDevice8* device, UINT width, UINT height,
                              D3DFORMAT format) {
  return CreateChainTexture(t, device, width, height, format, D3DUSAGE_RENDERTARGET,
                            D3DPOOL_DEFAULT, TexErr::kCreateTarget);
}

INT ReleaseTexture(VekTexture* t) {
  if (!t) return 0;
  if (t->tex) {
    t->tex->Release();
    t->tex = nullptr;
  }
  t->uScale = 0.0f;
  t->vScale = 0.0f;
  t->format = D3DFMT_UNKNOWN;
  t->height = 0;
  t->width = 0;
  if (t->data) {
    Free(t->data);
    t->data = nullptr;
  }
  t->dataSize = 0;
  return 1;
}

void FreePixelCache(VekTexture* t) {
  if (t->pixelCache) Free(t->pixelCache);
  t->pixelCache = nullptr;
  t->pixelCacheWidth = t->pixelCacheHeight = 0;
}

TextureState EnsureTexture(VekTexture* t, IDirect3DDevice8* device) {
  if (t->tex) return TextureState::kReady;
  if (!t->data) return TextureState::kReleased;
  if (CreateTextureFromMemory(t, device, t->data, t->dataSize, FALSE) != 1)
    return TextureState::kFailed;
  Free(t->data);
  t->data = nullptr;  // dataSize keeps the old count
  return TextureState::kReady;
}
