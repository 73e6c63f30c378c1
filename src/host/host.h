// The library's side of the host's base library: the per-unit loggers taken
// at module start, wide literals that work on both builds, the source paths
// and codes errors are recorded with (host/diagnostics.h records them).
#pragma once

#include <pelto.h>
#include <vek/vek.h>

// Floats and doubles are computed in their own precision on every build
// (SSE2 on 32-bit Windows). x87 evaluation would tie results to the control
// word, which Direct3D 8 lowers to 24 bits when a device opens.
#ifdef __FLT_EVAL_METHOD__
static_assert(__FLT_EVAL_METHOD__ == 0, "build the library with SSE arithmetic (-mfpmath=sse)");
#endif

#ifdef _WIN32
#define VEK_W(s) L##s
#else
#define VEK_W(s) u##s
#endif

// Source paths recorded with errors; each names its unit's folder.
#define VEK_SRC_GD VEK_W(".\\gd")
#define VEK_SRC_GRAPHICS VEK_W(".\\graphics")
#define VEK_SRC_VEKFONT VEK_W(".\\vekfont")
#define VEK_SRC_VEKTEX VEK_W(".\\vektex")
#define VEK_SRC_VEKIMAGE VEK_W(".\\vekimage")

// Error codes passed to SetError: the codes vek.h names for hosts.
enum VekErrorCode : LONG {
  kErrArgument = VEK_ERR_ARGUMENT,
  kErrAllocation = VEK_ERR_ALLOCATION,
  kErrDirect3D = VEK_ERR_DIRECT3D,
  kErrLockOrCaps = VEK_ERR_LOCK,
  kErrReset = VEK_ERR_RESET,
};

// Loggers of the device and image units, taken when the module starts.
extern LONG gdLogger;
extern LONG vekimageLogger;
