// The texture record every texture argument points to, and the operations
// that create, measure and release its Direct3D texture.
#pragma once

#include <d3d8.h>

struct VekTexture {
  D3DFORMAT format;
  UINT width;  // texels of the picture held
  UINT height;
  IDirect3DTexture8* tex;  // one reference owned by the record
  float uScale;            // picture / level-0 size when they differ, else 0.0 (with vScale)
  float vScale;
  INT compression;  // kept data layout: 1 32-bit pixels, 2 DXT1, 3 DXT3, 4 DXT5; 0 none
  BYTE* data;       // kept image file (a DDS file image) the texture is made from
  UINT dataSize;
  // The picture's share of the stored size: 1.0 for a whole texture (atlases,
  // render targets, unpadded pictures), less for a picture padded to powers
  // of two. Applied to coordinates on devices that need such textures.
  float contentScaleX;
  float contentScaleY;
  // The picture's A8R8G8B8 pixels (blue, green, red, alpha; rows from the
  // top, no gaps) read once for particle emission, kept apart from `data`,
  // which may still hold the file bytes. Freed by the record's owner.
  BYTE* pixelCache;
  UINT pixelCacheWidth;
  UINT pixelCacheHeight;
};

// From an image file in memory: 1, 0 for a record of no size (nothing
// called), else the negative SetError value.
INT CreateTextureFromMemory(VekTexture* t, IDirect3DDevice8* device, const void* bytes, UINT size,
                            BOOL mipmaps);
// A blank managed texture with `levels` levels, 0 for a full mip chain:
// 1 or the negative SetError value.
INT CreateBlankTexture(VekTexture* t, IDirect3DDevice8* device, UINT width, UINT height,
                       D3DFORMAT format, UINT levels = 0);
// A default-pool render-target texture: 1 or the negative SetError value.
INT CreateRenderTargetTexture(VekTexture* t, IDirect3DDevice8* device, UINT width, UINT height,
                              D3DFORMAT format);
// Releases the texture and the kept data; 0 for null, else 1.
INT ReleaseTexture(VekTexture* t);
// Frees the emission pixel cache, if any (the owner's last step).
void FreePixelCache(VekTexture* t);

enum class TextureState { kReady, kReleased, kFailed };
// The lazy step before a texture is used: creates it from the kept data.
TextureState EnsureTexture(VekTexture* t, IDirect3DDevice8* device);

// Maps 0..1 across the picture onto 0..scale of a larger level 0.
inline void ScaleTexCoord(const VekTexture* t, float* u, float* v) {
  if (t->uScale != 0.0f) {
    *u *= t->uScale;
    *v *= t->vScale;
  }
}
