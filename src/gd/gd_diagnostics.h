// Every error the device unit records (code, message, line) and every line
// it prints, in one table.
#pragma once

#include "host/diagnostics.h"

#define VEK_GD_ERRORS(X)                                                                   \
  X(kCreateDirect3D, kErrDirect3D, "Direct3DCreate8 fail", 50)                             \
  X(kNoAdapter, kErrArgument, "no such adapter", 58)                                       \
  X(kAdapterIdentifier, kErrDirect3D, "GetAdapterIdentifier fail", 69)                     \
  X(kMallocModes, kErrAllocation, "malloc display modes fail", 160)                        \
  X(kDisplayMode, kErrDirect3D, "GetAdapterDisplayMode fail", 178)                         \
  X(kNotOpen, kErrArgument, "device is not an open GraphicsDevice", 25)                    \
  X(kVertexBuffer, kErrDirect3D, "CreateVertexBuffer fail", 111)                           \
  X(kIndexBuffer, kErrDirect3D, "CreateIndexBuffer fail", 120)                             \
  X(kLockIndexBuffer, kErrLockOrCaps, "Lock IndexBuffer fail", 127)                        \
  X(kOpenDirect3D, kErrDirect3D, "Direct3DCreate8 fail", 147)                              \
  X(kMallocDevice, kErrAllocation, "malloc GraphicsDevice fail", 153)                      \
  X(kCapsInvalidCall, kErrLockOrCaps, "d3d->GetDeviceCaps D3DERR_INVALIDCALL fail", 166)   \
  X(kCapsNotAvailable, kErrLockOrCaps, "d3d->GetDeviceCaps D3DERR_NOTAVAILABLE fail", 168) \
  X(kCaps, kErrLockOrCaps, "d3d->GetDeviceCaps fail", 170)                                 \
  X(kCreateDevice, kErrDirect3D, "d3d->CreateDevice fail", 209)                            \
  X(kReset, kErrReset, "d3d->Reset fail", 238)                                             \
  X(kRebuild, kErrReset, "rebuild after reset fail", 271)                                  \
  X(kResetDirect3D, kErrDirect3D, "Direct3DCreate8 fail", 282)

#define VEK_GD_LINES(X)                                              \
  X(kNoPs14, "GD_CreatePixelShader failed : can't support PS.1.4\n") \
  X(kAssemble, "GD_CreatePixelShader AssembleShader Failed!\n")      \
  X(kCreateShader, "GD_CreatePixelShader CreatePixelShader Failed!\n")

VEK_DIAGNOSTICS_ERRORS(Gd, VEK_GD_ERRORS, VEK_SRC_GD)
VEK_DIAGNOSTICS_LINES(Gd, VEK_GD_LINES)
