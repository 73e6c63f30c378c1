// One thin entry point per export, forwarding to the unit that owns it.
#include <vek/vek.h>

#include "gd/device.h"
#include "gd/direct3d.h"
#include "gd/effects.h"
#include "graphics/frame.h"
#include "graphics/graphics.h"
#include "vekimage/memory.h"

extern "C" {

VEK_EXPORT UINT VEKAPI VekListDisplayDevices(void) { return ListDisplayDevices(); }

VEK_EXPORT UINT VEKAPI VekGetDeviceName(UINT adapter, char* buffer) {
  return GetDeviceName(adapter, buffer);
}

VEK_EXPORT UINT VEKAPI VekGetDeviceDriver(UINT adapter, char* buffer) {
  return GetDeviceDriver(adapter, buffer);
}

VEK_EXPORT UINT VEKAPI VekGetDeviceDriverVersion(UINT adapter, DWORD* version) {
  return GetDeviceDriverVersion(adapter, version);
}

VEK_EXPORT UINT VEKAPI VekGetDisplayModeCount(UINT adapter) {
  return GetDisplayModeCount(adapter);
}

VEK_EXPORT ULONGLONG* VEKAPI VekListDisplayModes(UINT adapter) {
  return reinterpret_cast<ULONGLONG*>(ListDisplayModes(adapter));
}

VEK_EXPORT ULONGLONG VEKAPI VekGetCurrentDisplayMode(void) { return GetCurrentDisplayMode(); }

VEK_EXPORT HVEKDEVICE VEKAPI VekOpenGraphicsDevice(UINT adapter, HWND window, DWORD reserved,
                                                   DWORD windowed, INT width, INT height,
                                                   INT bits, INT refresh) {
  (void)reserved;
  return OpenDevice(adapter, window, windowed, width, height, bits, refresh);
}

VEK_EXPORT INT VEKAPI VekResetGraphicsDevice(HVEKDEVICE device, DWORD windowed, INT width,
                                             INT height, INT bits, INT refresh) {
  return ResetDevice(device, windowed, width, height, bits, refresh);
}

VEK_EXPORT INT VEKAPI VekCheckGraphicsDevice(HVEKDEVICE device) { return CheckDevice(device); }

VEK_EXPORT ULONG VEKAPI VekCloseGraphicsDevice(HVEKDEVICE device) { return CloseDevice(device); }

VEK_EXPORT HVEKGRAPHICS VEKAPI VekOpenGraphics(HVEKDEVICE device) {
  return OpenWindowGraphics(device);
}

VEK_EXPORT HVEKGRAPHICS VEKAPI VekOpenTextureGraphics(HVEKDEVICE device, UINT width, UINT height,
                                                      DWORD format) {
  return OpenTextureGraphics(device, width, height, static_cast<D3DFORMAT>(format));
}

VEK_EXPORT HVEKGRAPHICS VEKAPI VekOpenChildWindowGraphics(HVEKDEVICE device, HWND window,
                                                          UINT width, UINT height, INT bits) {
  return OpenChildWindowGraphics(device, window, width, height, bits);
}

VEK_EXPORT HVEKGRAPHICS VEKAPI VekOpenStencilGraphics(HVEKGRAPHICS parent) {
  return OpenStencilGraphics(parent);
}

VEK_EXPORT INT VEKAPI VekCloseGraphics(HVEKGRAPHICS graphics) { return CloseGraphics(graphics); }

VEK_EXPORT HVEKTEXTURE VEKAPI VekGetGraphicsTexture(HVEKGRAPHICS graphics) {
  return GetGraphicsTexture(graphics);
}

VEK_EXPORT INT VEKAPI VekSaveGraphics(HVEKGRAPHICS graphics, const WCHAR* path, DWORD format) {
  return SaveGraphics(graphics, path, format);
}

VEK_EXPORT INT VEKAPI VekBeginRender(HVEKGRAPHICS graphics) { return BeginRender(graphics); }

VEK_EXPORT INT VEKAPI VekClear(HVEKGRAPHICS graphics, DWORD colour) {
  return ClearGraphics(graphics, colour);
}

VEK_EXPORT void VEKAPI VekSetClip(HVEKGRAPHICS graphics, float left, float top, float right,
                                  float bottom) {
  SetClip(graphics, left, top, right, bottom);
}

VEK_EXPORT HVEKGRAPHICS VEKAPI VekSetStencilParam(HVEKGRAPHICS graphics, DWORD func, DWORD pass,
                                                  DWORD ref) {
  return SetStencilParam(graphics, func, pass, ref);
}

VEK_EXPORT INT VEKAPI VekEndRender(HVEKGRAPHICS graphics) { return EndRender(graphics); }

VEK_EXPORT void VEKAPI VekSetPixelShader(HVEKGRAPHICS graphics, INT shader, float* param) {
  SetEffect(graphics, static_cast<UINT>(shader), param);
}

VEK_EXPORT INT VEKAPI VekFree(void* block) { return FreeHostBlock(block); }

}  // extern "C"
