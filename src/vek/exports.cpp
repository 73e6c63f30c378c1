// One thin entry point per export, forwarding to the unit that owns it.
#include <vek/vek.h>

#include "gd/device.h"
#include "gd/direct3d.h"
#include "gd/effects.h"
#include "graphics/effect_selection.h"
#include "graphics/frame.h"
#include "graphics/graphics.h"
#include "graphics/primitives.h"
#include "graphics/text.h"
#include "particles/particles.h"
#include "vekfont/font.h"
#include "vekimage/capture.h"
#include "vekimage/effects.h"
#include "vekimage/image.h"
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

VEK_EXPORT UINT VEKAPI VekGetDisplayModeCount(UINT adapter) { return GetDisplayModeCount(adapter); }

VEK_EXPORT ULONGLONG* VEKAPI VekListDisplayModes(UINT adapter) {
  return reinterpret_cast<ULONGLONG*>(ListDisplayModes(adapter));
}

VEK_EXPORT ULONGLONG VEKAPI VekGetCurrentDisplayMode(void) { return GetCurrentDisplayMode(); }

VEK_EXPORT HVEKDEVICE VEKAPI VekOpenGraphicsDevice(UINT adapter, HWND window, DWORD reserved,
                                                   DWORD windowed, INT width, INT height, INT bits,
                                                   INT refresh) {
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

VEK_EXPORT void* VEKAPI VekDrawPoint(HVEKGRAPHICS graphics, float x, float y, float z, DWORD colour,
                                     DWORD flags) {
  return DrawPoint(graphics, x, y, z, colour, flags);
}

VEK_EXPORT void* VEKAPI VekDrawLine(HVEKGRAPHICS graphics, float x0, float y0, float z0,
                                    DWORD colour0, float x1, float y1, float z1, DWORD colour1,
                                    DWORD flags) {
  return DrawLine(graphics, {x0, y0, z0, colour0, 0.0f, 0.0f}, {x1, y1, z1, colour1, 0.0f, 0.0f},
                  flags);
}

VEK_EXPORT void* VEKAPI VekDrawBezier(HVEKGRAPHICS graphics, float x0, float y0, float z0, float x1,
                                      float y1, float z1, float x2, float y2, float z2, float x3,
                                      float y3, float z3, DWORD colour, float step, DWORD flags) {
  const float points[4][3] = {{x0, y0, z0}, {x1, y1, z1}, {x2, y2, z2}, {x3, y3, z3}};
  return DrawBezier(graphics, points, colour, step, flags);
}

VEK_EXPORT void* VEKAPI VekDrawTri(HVEKGRAPHICS graphics, float x0, float y0, float z0,
                                   DWORD colour0, float u0, float v0, float x1, float y1, float z1,
                                   DWORD colour1, float u1, float v1, float x2, float y2, float z2,
                                   DWORD colour2, float u2, float v2, DWORD flags,
                                   HVEKTEXTURE texture) {
  const PrimitiveCorner corners[3] = {
      {x0, y0, z0, colour0, u0, v0}, {x1, y1, z1, colour1, u1, v1}, {x2, y2, z2, colour2, u2, v2}};
  return DrawTri(graphics, corners, flags, texture);
}

VEK_EXPORT void* VEKAPI VekDrawQuad(HVEKGRAPHICS graphics, float x0, float y0, float z0,
                                    DWORD colour0, float u0, float v0, float x1, float y1, float z1,
                                    DWORD colour1, float u1, float v1, float x2, float y2, float z2,
                                    DWORD colour2, float u2, float v2, float x3, float y3, float z3,
                                    DWORD colour3, float u3, float v3, DWORD flags,
                                    HVEKTEXTURE texture) {
  const PrimitiveCorner corners[4] = {{x0, y0, z0, colour0, u0, v0},
                                      {x1, y1, z1, colour1, u1, v1},
                                      {x2, y2, z2, colour2, u2, v2},
                                      {x3, y3, z3, colour3, u3, v3}};
  return DrawQuad(graphics, corners, flags, texture);
}

VEK_EXPORT INT VEKAPI VekDrawParSys(
    HVEKGRAPHICS graphics, float x, float y, float z, const VekPathPoint* pathPoints,
    const LONGLONG* pathTimes, UINT pathCount, UINT count, UINT periodMin, UINT periodMax,
    UINT visibleMin, UINT visibleMax, float speedMin, float speedMax, float directionMin,
    float directionMax, float unused17, float unused18, float rotationMin, float rotationMax,
    DWORD absoluteDirection, UINT areaWidth, UINT areaHeight, float emitterRotation,
    HVEKIMAGE emitImage, float regionLeft, float regionRight, float regionTop, float regionBottom,
    DWORD alphaFromImage, DWORD colourFromImage, float forwardAccel, float drag, float accelX,
    float accelY, float unused36, HVEKTEXTURE texture, const VekParticleFrame* frames,
    UINT frameCount, UINT frameMode, DWORD alignToVelocity, UINT widthStartMin, UINT widthStartMax,
    UINT heightStartMin, UINT heightStartMax, UINT alphaStartMin, UINT alphaStartMax,
    UINT redStartMin, UINT redStartMax, UINT greenStartMin, UINT greenStartMax, UINT blueStartMin,
    UINT blueStartMax, float spinStartMin, float spinStartMax, UINT widthEndMin, UINT widthEndMax,
    UINT heightEndMin, UINT heightEndMax, UINT alphaEndMin, UINT alphaEndMax, UINT redEndMin,
    UINT redEndMax, UINT greenEndMin, UINT greenEndMax, UINT blueEndMin, UINT blueEndMax,
    float spinEndMin, float spinEndMax, INT seedA, INT seedB, UINT timeLow, UINT timeHigh,
    DWORD flags) {
  ParSysParams p{};
  p.graphics = graphics;
  p.x = x;
  p.y = y;
  p.z = z;
  p.pathPoints = pathPoints;
  p.pathTimes = pathTimes;
  p.pathCount = pathCount;
  p.count = count;
  p.period = {periodMin, periodMax};
  p.visible = {visibleMin, visibleMax};
  p.speed = {speedMin, speedMax};
  p.direction = {directionMin, directionMax};
  p.unused17 = {unused17, unused18};
  p.rotation = {rotationMin, rotationMax};
  p.absoluteDirection = LOBYTE(absoluteDirection);
  p.areaWidth = areaWidth;
  p.areaHeight = areaHeight;
  p.emitterRotation = emitterRotation;
  p.emitImage = emitImage;
  p.regionLeft = regionLeft;
  p.regionTop = regionTop;
  p.regionRight = regionRight;
  p.regionBottom = regionBottom;
  p.alphaFromImage = LOBYTE(alphaFromImage);
  p.colourFromImage = LOBYTE(colourFromImage);
  p.forwardAccel = forwardAccel;
  p.drag = drag;
  p.accelX = accelX;
  p.accelY = accelY;
  p.unused36 = unused36;
  p.texture = texture;
  p.frames = frames;
  p.frameCount = frameCount;
  p.frameMode = frameMode;
  p.alignToVelocity = LOBYTE(alignToVelocity);
  p.widthStart = {widthStartMin, widthStartMax};
  p.heightStart = {heightStartMin, heightStartMax};
  p.alphaStart = {alphaStartMin, alphaStartMax};
  p.redStart = {redStartMin, redStartMax};
  p.greenStart = {greenStartMin, greenStartMax};
  p.blueStart = {blueStartMin, blueStartMax};
  p.spinStart = {spinStartMin, spinStartMax};
  p.widthEnd = {widthEndMin, widthEndMax};
  p.heightEnd = {heightEndMin, heightEndMax};
  p.alphaEnd = {alphaEndMin, alphaEndMax};
  p.redEnd = {redEndMin, redEndMax};
  p.greenEnd = {greenEndMin, greenEndMax};
  p.blueEnd = {blueEndMin, blueEndMax};
  p.spinEnd = {spinEndMin, spinEndMax};
  p.seedA = seedA;
  p.seedB = seedB;
  return DrawParSys(&p, static_cast<ULONGLONG>(timeHigh) << 32 | timeLow, flags);
}

// Reserved calls: they take their arguments and do nothing.

VEK_EXPORT void VEKAPI VekDrawPointLine(HVEKGRAPHICS, float, float, float, DWORD, float, float,
                                        float, DWORD, DWORD) {}

VEK_EXPORT void VEKAPI VekDrawEllipse(HVEKGRAPHICS, float, float, float, float, float, float, float,
                                      float, float, float, float, float, INT) {}

VEK_EXPORT void VEKAPI VekSetCamera(DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD,
                                    DWORD, DWORD) {}

VEK_EXPORT void VEKAPI VekSetAmbientLight(DWORD, DWORD) {}

VEK_EXPORT void VEKAPI VekSetDirectionalLight(DWORD, DWORD, DWORD, DWORD, DWORD) {}

VEK_EXPORT void VEKAPI VekSetViewport(DWORD, DWORD, DWORD, DWORD, DWORD) {}

VEK_EXPORT void VEKAPI VekSetFrustum(DWORD, DWORD, DWORD, DWORD, DWORD) {}

VEK_EXPORT void VEKAPI VekSetPointLight(DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD) {}

VEK_EXPORT void VEKAPI VekSetSpotLight(DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD,
                                       DWORD, DWORD, DWORD, DWORD) {}

VEK_EXPORT void VEKAPI VekSetFog(DWORD, DWORD, DWORD) {}

VEK_EXPORT HVEKIMAGE VEKAPI VekCreateImage(struct RaskFile* file) { return CreateImage(file); }

VEK_EXPORT INT VEKAPI VekDestroyImage(HVEKIMAGE image) {
  if (image) ForgetTexture(&image->texture);  // no pending frame may draw it after this
  return DestroyImage(image);
}

VEK_EXPORT UINT VEKAPI VekGetImageSize(HVEKIMAGE image) { return GetImageSize(image); }

VEK_EXPORT DWORD VEKAPI VekGetImageColor(HVEKIMAGE image, UINT x, UINT y) {
  return GetImageColor(image, x, y);
}

VEK_EXPORT INT VEKAPI VekGetImageData(HVEKIMAGE image, UINT x1, UINT y1, UINT x2, UINT y2,
                                      BYTE** out) {
  return GetImageData(image, x1, y1, x2, y2, out);
}

VEK_EXPORT INT VEKAPI VekSaveImage(HVEKIMAGE image, const WCHAR* path, DWORD fileFormat) {
  return SaveImage(image, path, fileFormat);
}

// Fonts and text.

VEK_EXPORT INT VEKAPI VekAddFontFile(const WCHAR* path) { return AddFontFile(path); }

VEK_EXPORT INT VEKAPI VekRemoveFontFile(const WCHAR* path) { return RemoveFontFile(path); }

VEK_EXPORT HVEKFONT VEKAPI VekCreateFont(const WCHAR* faceName, UINT size, DWORD flags,
                                         DWORD colour) {
  return CreateFontRecord(faceName, size, flags, colour);
}

VEK_EXPORT INT VEKAPI VekDestroyFont(HVEKFONT font) {
  if (font) ForgetTexture(&font->tex);  // no pending frame may draw its atlas after this
  return DestroyFontRecord(font);
}

VEK_EXPORT HVEKTEXTURE VEKAPI VekGetFontTexture(HVEKFONT font) {
  return font ? &font->tex : nullptr;
}

VEK_EXPORT UINT VEKAPI VekGetFontHeight(HVEKFONT font) { return font ? font->lineHeight : 0; }

VEK_EXPORT DWORD VEKAPI VekGetCharSize(HVEKFONT font, DWORD ch) {
  return font ? MeasureChar(font, static_cast<WORD>(ch)) : 0;
}

VEK_EXPORT DWORD VEKAPI VekGetTextSize(HVEKFONT font, const WCHAR* text, INT count) {
  return font ? MeasureText(font, text, count) : 0;
}

VEK_EXPORT void VEKAPI VekDrawChar(HVEKGRAPHICS graphics, float x0, float y0, float z0,
                                   DWORD colour0, float x1, float y1, float z1, DWORD colour1,
                                   float x2, float y2, float z2, DWORD colour2, float x3, float y3,
                                   float z3, DWORD colour3, DWORD flags, HVEKFONT font, DWORD ch) {
  const TextCorner corners[4] = {
      {x0, y0, z0, colour0}, {x1, y1, z1, colour1}, {x2, y2, z2, colour2}, {x3, y3, z3, colour3}};
  DrawCharGlyph(graphics, corners, flags, font, ch);
}

VEK_EXPORT void VEKAPI VekDrawText(HVEKGRAPHICS graphics, float x0, float y0, float z0,
                                   DWORD colour0, float x1, float y1, float z1, DWORD colour1,
                                   float x2, float y2, float z2, DWORD colour2, float x3, float y3,
                                   float z3, DWORD colour3, DWORD flags, HVEKFONT font,
                                   const WCHAR* text, UINT count) {
  const TextCorner corners[4] = {
      {x0, y0, z0, colour0}, {x1, y1, z1, colour1}, {x2, y2, z2, colour2}, {x3, y3, z3, colour3}};
  DrawTextRun(graphics, corners, flags, font, text, count);
}
VEK_EXPORT INT VEKAPI VekGrayImage(HVEKIMAGE image, INT a, INT b) { return GrayImage(image, a, b); }

VEK_EXPORT INT VEKAPI VekBrightImage(HVEKIMAGE image, INT level, INT a, INT b) {
  return BrightImage(image, level, a, b);
}

VEK_EXPORT INT VEKAPI VekHueImage(HVEKIMAGE image, UINT degrees, INT a, INT b) {
  return HueImage(image, degrees, a, b);
}

VEK_EXPORT INT VEKAPI VekConvertRGBImage(HVEKIMAGE image, UINT type, INT a, INT b) {
  return ConvertRGBImage(image, type, a, b);
}

VEK_EXPORT INT VEKAPI VekScreenCapture(INT x1, INT y1, INT x2, INT y2) {
  return ScreenCapture(x1, y1, x2, y2);
}

VEK_EXPORT BYTE* VEKAPI VekGetScreenCapture(DWORD* size) { return TakeScreenCapture(size); }

VEK_EXPORT INT VEKAPI VekFree(void* block) { return FreeHostBlock(block); }

}  // extern "C"
