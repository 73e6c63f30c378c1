// The graphics device: one Direct3D 8 device on a host window, with the
// state cache, batch buffers, drawing surfaces and effect shaders its
// surfaces share, and its lost / reset cycle.
#pragma once

#include <d3d8.h>
#include <pelto.h>

#include "gd/state_cache.h"

struct Graphics;
struct GraphicsDevice;

// Called for each listed Graphics around a reset: release = true gives up its
// default-pool resources, false rebuilds them.
typedef LONG (*GraphicsResetCallback)(Graphics* graphics, bool release);
// Called when the device closes: closes every surface still open on it.
typedef void (*GraphicsCloseCallback)(GraphicsDevice* device);

inline constexpr int kEffectSlots = 10;

// Batch buffer constants of the frame flush.
inline constexpr UINT kBatchVertexSize = 24;
inline constexpr UINT kBatchVertexCount = 4000;
inline constexpr UINT kBatchQuadCount = 1000;
inline constexpr DWORD kBatchVertexFormat = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1;

struct GraphicsDevice {
  UINT adapter;  // as the host passed it, even when PerfHUD chose another
  D3DCAPS8 caps;
  D3DPRESENT_PARAMETERS present;
  RenderStateCache cache;
  CRITICAL_SECTION lock;  // around each batch buffer creation
  IDirect3DVertexBuffer8* vertexBuffer;
  IDirect3DIndexBuffer8* indexBuffer;
  PBuffer graphicsList;  // window, texture and child-window Graphics, in opening order
  GraphicsResetCallback resetCallback;  // both set by the first surface opened
  GraphicsCloseCallback closeCallback;
  const char* shaderSource[kEffectSlots];
  DWORD shaderHandle[kEffectSlots];
  BYTE texturesPow2;
  bool lockInitialised;
  Graphics* frameOwner;     // the surface whose frame is open, or null
  DWORD shadersToRecreate;  // bit per effect slot whose shader a reset took away
  bool resetPending;        // the last Reset failed: the next check resets again
  bool rebuildPending;      // Reset succeeded but something did not come back
};

GraphicsDevice* OpenDevice(UINT adapter, HWND window, DWORD windowed, INT width, INT height,
                           INT bits, INT refresh);
INT ResetDevice(GraphicsDevice* device, DWORD windowed, INT width, INT height, INT bits,
                INT refresh);
INT CheckDevice(GraphicsDevice* device);
ULONG CloseDevice(GraphicsDevice* device);

// The most recently opened device still open, or null.
GraphicsDevice* GetCurrentDevice();
// The reset path: release, Reset, rebuild. 1 when everything is back; 0 when
// the batch buffers could not be made; else the failing HRESULT of Reset or
// of the first surface or shader that did not come back (last error -53).
// Whatever failed is retried by the next CheckDevice.
INT RestoreDevice(GraphicsDevice* device);
// Makes again whatever a reset left missing: shaders, surfaces, buffers.
// Results as RestoreDevice.
INT RebuildDevice(GraphicsDevice* device);
// The close path: closes the device's surfaces, releases it and the shared
// Direct3D object; returns the count of that object's release.
ULONG ReleaseDevice(GraphicsDevice* device);
bool CreateBatchBuffers(GraphicsDevice* device);
