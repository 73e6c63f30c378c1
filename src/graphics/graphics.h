// Drawing surfaces: a Graphics renders into the colour and depth-stencil
// surfaces of its RenderTarget, which is the device's back buffer (window),
// an additional swap chain's back buffer (child window), a render-target
// texture (texture), or another Graphics' target (stencil).
#pragma once

#include <d3d8.h>
#include <pelto.h>

#include "vektex/texture.h"

struct GraphicsDevice;

struct RenderTarget {
  UINT width;
  UINT height;
  IDirect3DSwapChain8* swapChain;  // child-window kind only
  D3DPRESENT_PARAMETERS present;   // of that swap chain; hDeviceWindow set only for that kind
  VekTexture texture;              // render-target texture of the texture kind (format non-zero)
  IDirect3DSurface8* color;
  D3DFORMAT depthFormat;
  IDirect3DSurface8* depth;
};

struct Graphics {
  GraphicsDevice* device;
  LONG isStencil;
  RenderTarget* target;  // the parent's in a stencil Graphics
  float clip[4];         // left, top, right, bottom in target pixels
  INT shaderId;
  float shaderParam[4];
  D3DVIEWPORT8 viewport;
  D3DMATRIX projection;
  DWORD stencilFunc;
  DWORD stencilPass;
  DWORD stencilRef;
  MemBuffer frameMemory;
  PBuffer translucentItems;
  PBuffer opaqueItems;
  PBuffer groupHeads;
  bool clipSetByHost;  // a reset keeps a window Graphics' clip whole unless the host set one
};

Graphics* OpenWindowGraphics(GraphicsDevice* device);
Graphics* OpenTextureGraphics(GraphicsDevice* device, UINT width, UINT height, D3DFORMAT format);
Graphics* OpenChildWindowGraphics(GraphicsDevice* device, HWND window, UINT width, UINT height,
                                  INT bits);
Graphics* OpenStencilGraphics(Graphics* parent);
// 1 when closed; 0 (last error -5) for null or a handle that is not an open
// surface, such as one closed already or closed with its device. Closing an
// owning surface closes the stencil surfaces over it, ends a frame it has
// open, and drops pending items (of any surface) that draw its texture.
INT CloseGraphics(Graphics* graphics);
// Closes every surface still open on the device (its close path).
void CloseDeviceGraphics(GraphicsDevice* device);
// Drops the pending items of every open surface that draw `texture`, which
// is about to be released.
void ForgetTexture(VekTexture* texture);
// RescaleTexCoords on every open surface (stencil ones included): a texture
// that grew keeps every pending item on the same texels.
void RescaleTexCoordsEverywhere(VekTexture* texture, float su, float sv);
VekTexture* GetGraphicsTexture(Graphics* graphics);
HRESULT SaveGraphics(Graphics* graphics, const WCHAR* path, DWORD fileFormat);

// Gives up (release) or rebuilds the default-pool resources around a reset.
// Rebuilding makes only what is missing, so it can be retried: 1 when the
// surface is whole again, else the first failing HRESULT.
LONG GraphicsResetHandler(Graphics* graphics, bool release);
