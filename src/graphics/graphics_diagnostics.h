// Every error the drawing-surface unit records (code, message, line) and
// every line it prints, in one table.
#pragma once

#include "host/diagnostics.h"

#define VEK_GRAPHICS_ERRORS(X)                                                                   \
  X(kMallocGraphics, kErrAllocation, "malloc Graphics fail", 51)                                 \
  X(kMallocTarget, kErrAllocation, "malloc Graphics fail", 58)                                   \
  X(kDepth, kErrDirect3D, "CreateDepthStencilSurface fail", 113)                                 \
  X(kNoDevice, kErrArgument, "Graphics open: device is NULL", 135)                               \
  X(kSurfaceLevel, kErrDirect3D, "GetSurfaceLevel fail", 174)                                    \
  X(kSwapChain, kErrDirect3D, "CreateAdditionalSwapChain fail", 201)                             \
  X(kBackBuffer, kErrDirect3D, "GetBackBuffer fail", 209)                                        \
  X(kStencilParent, kErrArgument, "VekOpenStencilGraphics: parent is not an open Graphics", 220) \
  X(kMallocStencil, kErrAllocation, "malloc Graphics fail", 226)                                 \
  X(kCloseNotOpen, kErrArgument, "VekCloseGraphics: not an open Graphics", 240)                  \
  X(kSaveNull, kErrArgument, "VekSaveGraphics: g is NULL", 289)                                  \
  X(kSaveNoSurface, kErrArgument, "VekSaveGraphics: no colour surface", 293)                     \
  X(kSaveSurface, kErrDirect3D, "D3DXSaveSurfaceToFileW fail", 298)                              \
  X(kTooManyVertices, kErrArgument, "SubmitDrawItem too many vertices", 493)                     \
  X(kBeginNull, kErrArgument, "VekBeginRender: g is NULL", 660)                                  \
  X(kBeginOpen, kErrArgument, "VekBeginRender: a frame is already open", 667)                    \
  X(kSetTarget, kErrDirect3D, "SetRenderTarget fail", 678)                                       \
  X(kClearOther, kErrArgument, "VekClear: another surface's target is in use", 704)              \
  X(kEndNull, kErrArgument, "VekEndRender: g is NULL", 737)                                      \
  X(kEndNoFrame, kErrArgument, "VekEndRender: no frame begun", 747)

#define VEK_GRAPHICS_LINES(X)                                                                    \
  X(kChildMallocTarget,                                                                          \
    "CreateChildWindowGraphics Failed: g->target=(RenderTarget*)Malloc(sizeof(RenderTarget))\n") \
  X(kChildDepth, "CreateChildWindowGraphics Failed: CreateDepthStencilSurface\n")                \
  X(kChildSwapChain, "CreateChildWindowGraphics Failed: CreateAdditionalSwapChain\n")            \
  X(kTextureReleased, "CDEBUG: %s, texture released, %p \n")                                     \
  X(kTextureFailed, "CDEBUG: %s fail tex=%p error=%d \n")                                        \
  X(kTextNull, "CDEBUG: VekDrawText, null pointer, %s \n")                                       \
  X(kAtlasElsewhere, "CDEBUG: %s, font atlas on another device, %p \n")

VEK_DIAGNOSTICS_ERRORS(Graphics, VEK_GRAPHICS_ERRORS, VEK_SRC_GRAPHICS)
VEK_DIAGNOSTICS_LINES(Graphics, VEK_GRAPHICS_LINES)
