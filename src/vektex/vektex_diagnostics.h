// Every error the texture unit records (code, message, line), in one table.
#pragma once

#include "host/diagnostics.h"

#define VEK_VEKTEX_ERRORS(X)                                       \
  X(kCreateTexture, kErrDirect3D, "D3DXCreateTexture fail", 28)    \
  X(kCreateTarget, kErrDirect3D, "VekCreateRenderTarget fail", 28) \
  X(kFromMemory, kErrDirect3D, "D3DXCreateTextureFromFileInMemoryEx fail", 52)

VEK_DIAGNOSTICS_ERRORS(Tex, VEK_VEKTEX_ERRORS, VEK_SRC_VEKTEX)
