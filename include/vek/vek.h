/*
 * vek: a 2-D drawing library over Direct3D 8.
 *
 * Every export uses the standard-call convention on 32-bit Windows and is
 * exported there under its decorated name (_VekOpenGraphicsDevice@32).
 * Failures record the host base library's last error (SetError) and return
 * null, 0 or a negative value as each call says. Codes: -5 a bad argument,
 * a handle that is not open, a call out of order or invalid image data;
 * -11 out of memory; -51 a Direct3D or D3DX call failed (detail: its
 * HRESULT); -52 a lock or capability query failed; -53 a device reset, or
 * the rebuild after it, did not complete.
 *
 * Lifetimes. A device closes with every drawing surface still open on it;
 * those handles are then gone (VekCloseGraphics on one returns 0, any other
 * use is undefined). A stencil surface closes with its parent. Destroying
 * an image or closing a texture surface drops the items that draw it from
 * every pending frame, so nothing released is read later. Closing a surface
 * whose frame is open ends that frame. Images belong to no device and stay
 * valid until VekDestroyImage.
 */
#ifndef VEK_VEK_H
#define VEK_VEK_H

#include <windows.h>

#include <vek/version.h>

#if defined(_WIN32)
#if defined(VEK_BUILD)
#define VEK_EXPORT __declspec(dllexport)
#else
#define VEK_EXPORT __declspec(dllimport)
#endif
#define VEKAPI __stdcall
#else
#define VEK_EXPORT __attribute__((visibility("default")))
#define VEKAPI
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A graphics device: one Direct3D 8 device opened on a host window. */
typedef struct GraphicsDevice* HVEKDEVICE;
/* A drawing surface of a device. */
typedef struct Graphics* HVEKGRAPHICS;
/* A texture: an image, a texture drawing surface's texture or a font atlas. */
typedef struct VekTexture* HVEKTEXTURE;
/* An image loaded by VekCreateImage; also usable as an HVEKTEXTURE. */
typedef struct VekImage* HVEKIMAGE;
/* A GDI font with the texture atlas of its glyphs. */
typedef struct VekFont* HVEKFONT;
/* A file object of the host's file library (rask). */
struct RaskFile;

/* ---- Named constants -----------------------------------------------------
 * Each is defined only where no header included before this one did, so a
 * host that also includes the Direct3D 8 or D3DX 8 headers still compiles. */

/* Draw flags of the primitives, text and particle systems. */
#ifndef DRAW_ADDCOLOR
#define DRAW_ADDCOLOR 0x01u /* texture colour plus vertex colour (else times) */
#endif
#ifndef DRAW_ADDBLEND
#define DRAW_ADDBLEND 0x02u /* additive blending */
#endif
#ifndef DRAW_NOZWRITE
#define DRAW_NOZWRITE 0x04u /* depth not written */
#endif
#ifndef DRAW_LINEAR
#define DRAW_LINEAR 0x08u /* linear texture filtering (else point) */
#endif
#ifndef DRAW_OPAQUE
#define DRAW_OPAQUE 0x20u /* drawn with the opaque items */
#endif

/* Font flags of VekCreateFont. */
#ifndef FONT_BOLD
#define FONT_BOLD 0x1u
#endif
#ifndef FONT_ITALIC
#define FONT_ITALIC 0x2u
#endif
#ifndef FONT_UNDERLINE
#define FONT_UNDERLINE 0x4u
#endif
#ifndef FONT_STRIKEOUT
#define FONT_STRIKEOUT 0x8u
#endif
#ifndef FONT_GRAY4
#define FONT_GRAY4 0x10u /* 17-level glyphs */
#endif
#ifndef FONT_GRAY8
#define FONT_GRAY8 0x20u /* 65-level glyphs in a 32-bit atlas */
#endif
#ifndef FONT_SHADOW
#define FONT_SHADOW 0x100u
#endif
#ifndef FONT_OUTLINE_CROSS
#define FONT_OUTLINE_CROSS 0x200u
#endif
#ifndef FONT_OUTLINE_BOX
#define FONT_OUTLINE_BOX 0x400u
#endif
#ifndef FONT_HOLLOW
#define FONT_HOLLOW 0x800u
#endif

/* Effect shaders of VekSetPixelShader. */
#ifndef VEK_SHADER_NONE
#define VEK_SHADER_NONE 0
#endif
#ifndef VEK_SHADER_GREY
#define VEK_SHADER_GREY 1
#endif
#ifndef VEK_SHADER_SWAP_GREEN_BLUE
#define VEK_SHADER_SWAP_GREEN_BLUE 2
#endif
#ifndef VEK_SHADER_SWAP_RED_GREEN
#define VEK_SHADER_SWAP_RED_GREEN 3
#endif
#ifndef VEK_SHADER_GBR
#define VEK_SHADER_GBR 4 /* (G, B, R) */
#endif
#ifndef VEK_SHADER_BRG
#define VEK_SHADER_BRG 5 /* (B, R, G) */
#endif
#ifndef VEK_SHADER_SWAP_RED_BLUE
#define VEK_SHADER_SWAP_RED_BLUE 6
#endif
#ifndef VEK_SHADER_BRIGHTNESS
#define VEK_SHADER_BRIGHTNESS 7
#endif

/* File formats of VekSaveGraphics and VekSaveImage: D3DX 8's
 * D3DXIMAGE_FILEFORMAT values. BMP, DIB (both 24-bit BMP files) and DDS
 * save; JPG, TGA, PNG and PPM are refused (-51), as D3DX 8 refuses them. */
#ifndef VEK_SAVE_BMP
#define VEK_SAVE_BMP 0u
#endif
#ifndef VEK_SAVE_JPG
#define VEK_SAVE_JPG 1u
#endif
#ifndef VEK_SAVE_TGA
#define VEK_SAVE_TGA 2u
#endif
#ifndef VEK_SAVE_PNG
#define VEK_SAVE_PNG 3u
#endif
#ifndef VEK_SAVE_DDS
#define VEK_SAVE_DDS 4u
#endif
#ifndef VEK_SAVE_PPM
#define VEK_SAVE_PPM 5u
#endif
#ifndef VEK_SAVE_DIB
#define VEK_SAVE_DIB 6u
#endif

/* Codes of the last error the library records. */
#ifndef VEK_ERR_ARGUMENT
#define VEK_ERR_ARGUMENT (-5) /* bad argument, closed handle, call out of order */
#endif
#ifndef VEK_ERR_ALLOCATION
#define VEK_ERR_ALLOCATION (-11) /* out of memory */
#endif
#ifndef VEK_ERR_DIRECT3D
#define VEK_ERR_DIRECT3D (-51) /* a Direct3D or D3DX call failed; detail: its HRESULT */
#endif
#ifndef VEK_ERR_LOCK
#define VEK_ERR_LOCK (-52) /* a lock or capability query failed */
#endif
#ifndef VEK_ERR_RESET
#define VEK_ERR_RESET (-53) /* a device reset, or the rebuild after it, failed */
#endif

/* ---- Adapters and display modes ---------------------------------------
 * A packed display mode is a 64-bit value: bits 0-15 width, 16-31 height,
 * 32-39 bits per pixel (32 for X8R8G8B8, 16 for R5G6B5, 0 for any other
 * format), 40-63 refresh rate in hertz. */

/* Number of display adapters; 0 when Direct3D is unavailable (-51). The
 * queries below record -5 for an adapter that does not exist, and return 0
 * or null as they say. */
VEK_EXPORT UINT VEKAPI VekListDisplayDevices(void);

/* Length in bytes of the adapter's description, without a terminating zero.
 * With a buffer, exactly that many bytes are copied and no zero is written:
 * call once with null to learn the length, then with a buffer of at least
 * that many bytes (one more if you add your own terminator). 0 for an
 * adapter that cannot be read. */
VEK_EXPORT UINT VEKAPI VekGetDeviceName(UINT adapter, char* buffer);

/* The same for the driver's file name. */
VEK_EXPORT UINT VEKAPI VekGetDeviceDriver(UINT adapter, char* buffer);

/* Writes the driver version as four values, most significant first, when
 * `version` is given; returns 4 whenever the adapter could be read (also for
 * a null pointer), else 0. */
VEK_EXPORT UINT VEKAPI VekGetDeviceDriverVersion(UINT adapter, DWORD* version);

/* Number of display modes of the adapter. */
VEK_EXPORT UINT VEKAPI VekGetDisplayModeCount(UINT adapter);

/* Array of VekGetDisplayModeCount(adapter) packed modes in the adapter's
 * order; release it with VekFree. Null when Direct3D is unavailable or the
 * allocation fails. */
VEK_EXPORT ULONGLONG* VEKAPI VekListDisplayModes(UINT adapter);

/* The packed mode adapter 0 shows now; 0 on failure. */
VEK_EXPORT ULONGLONG VEKAPI VekGetCurrentDisplayMode(void);

/* ---- Graphics device ----------------------------------------------------
 * width, height: back-buffer size, 0 or less = the window's client size
 * (windowed) or the display mode's (full-screen). bits: 16, 32, or 0 or less
 * = the display's format; other values give an unknown format. refresh:
 * hertz, 0 or less = the display's; full-screen only. Only the low byte of
 * `windowed` counts. */

/* Opens a device on `window`; the device becomes the current device (the
 * one images are loaded for). When the current device closes, the most
 * recently opened device still open becomes current. `reserved` is ignored.
 * Null on failure, with the last error recorded. */
VEK_EXPORT HVEKDEVICE VEKAPI VekOpenGraphicsDevice(UINT adapter, HWND window, DWORD reserved,
                                                   DWORD windowed, INT width, INT height,
                                                   INT bits, INT refresh);

/* Rebuilds the device with new presentation parameters. 1 only when every
 * surface, effect shader and buffer is back; 0 when the batch buffers could
 * not be created again (or for a device that is not open, -5); else
 * negative: the HRESULT of the failed Reset, or of the first surface or
 * shader that did not come back (-53 recorded). Whatever failed is retried
 * by the next VekCheckGraphicsDevice, which reports failure until it is all
 * back; a surface that is not back refuses VekBeginRender meanwhile. */
VEK_EXPORT INT VEKAPI VekResetGraphicsDevice(HVEKDEVICE device, DWORD windowed, INT width,
                                             INT height, INT bits, INT refresh);

/* The per-frame loss test: 1 when the device is usable and whole, the
 * reset result (as above) when it was ready to be reset or a reset is still
 * incomplete, D3DERR_DEVICELOST (negative) while lost, 0 (-5) for a device
 * that is not open. */
VEK_EXPORT INT VEKAPI VekCheckGraphicsDevice(HVEKDEVICE device);

/* Closes the device and every drawing surface still open on it. Returns
 * the count left on the shared Direct3D object (0 normally); 0 (-5) for a
 * device that is not open. The shared object is made again when needed and
 * released when the library is unloaded. */
VEK_EXPORT ULONG VEKAPI VekCloseGraphicsDevice(HVEKDEVICE device);

/* ---- Drawing surfaces -----------------------------------------------------
 * A surface lives until VekCloseGraphics or until its device closes. The
 * open calls return null (-5) for a device or parent that is not open. */

/* A surface rendering into the device's back buffer, resized by resets. */
VEK_EXPORT HVEKGRAPHICS VEKAPI VekOpenGraphics(HVEKDEVICE device);

/* A surface rendering into a width x height render-target texture of the
 * given D3DFORMAT; a device reset brings the texture back empty. */
VEK_EXPORT HVEKGRAPHICS VEKAPI VekOpenTextureGraphics(HVEKDEVICE device, UINT width, UINT height,
                                                      DWORD format);

/* A surface rendering into an additional swap chain on another window.
 * bits: 16, 32, or any other value for the device's back-buffer format. */
VEK_EXPORT HVEKGRAPHICS VEKAPI VekOpenChildWindowGraphics(HVEKDEVICE device, HWND window,
                                                          UINT width, UINT height, INT bits);

/* A surface drawing into the stencil buffer of `parent`'s target only; it
 * is closed with its parent. */
VEK_EXPORT HVEKGRAPHICS VEKAPI VekOpenStencilGraphics(HVEKGRAPHICS parent);

/* 1; 0 (-5) for null or a surface that is not open (closed already, or
 * closed with its device or parent). Ends the surface's open frame, closes
 * the stencil surfaces over it and drops pending items that draw its
 * texture. */
VEK_EXPORT INT VEKAPI VekCloseGraphics(HVEKGRAPHICS graphics);

/* The texture of a texture surface, usable wherever a texture or image
 * handle is taken (its texture is empty for other kinds); null for null. */
VEK_EXPORT HVEKTEXTURE VEKAPI VekGetGraphicsTexture(HVEKGRAPHICS graphics);

/* Writes the surface's pixels to `path` as BMP (VEK_SAVE_BMP or
 * VEK_SAVE_DIB) or DDS (VEK_SAVE_DDS); other formats are refused (-51).
 * -1 for a null surface, -2 when it has no colour surface (both -5), else
 * the HRESULT of writing: a failure (-51) when the file cannot be written or
 * closed completely; a partial regular file is removed. */
VEK_EXPORT INT VEKAPI VekSaveGraphics(HVEKGRAPHICS graphics, const WCHAR* path, DWORD format);

/* ---- The frame -------------------------------------------------------------
 * Per surface and frame: VekBeginRender, optionally VekClear, VekSetClip,
 * VekSetStencilParam and VekSetPixelShader, the drawing calls, VekEndRender.
 * Drawing is deferred: items are sorted at VekEndRender (opaque items by
 * state, nearest texture group first, with depth writes; translucent items
 * far to near by the z of their first vertex) and then drawn. */

/* Sets the surface's target and the frame's states, clears the effect and
 * stencil selections and begins the scene: the HRESULT of BeginScene (0 on
 * success). One frame per device at a time: D3DERR_INVALIDCALL (-5) for a
 * null surface or while any frame of the device is open, with nothing
 * changed; the failing HRESULT (-51) when the target cannot be set,
 * D3DERR_INVALIDCALL when a reset has not yet brought the surface back. */
VEK_EXPORT INT VEKAPI VekBeginRender(HVEKGRAPHICS graphics);

/* Clears colour to `colour` and depth to 1.0; a stencil surface clears its
 * stencil buffer to 0 instead. The HRESULT of Clear. */
VEK_EXPORT INT VEKAPI VekClear(HVEKGRAPHICS graphics, DWORD colour);

/* Clips the items drawn next to the rectangle, clamped to the target;
 * an empty rectangle (before or after clamping) changes nothing. */
VEK_EXPORT void VEKAPI VekSetClip(HVEKGRAPHICS graphics, float left, float top, float right,
                                  float bottom);

/* Stencil test for the items drawn next in this frame: a D3DCMP function
 * (0 = off), a D3DSTENCILOP for passing pixels and the reference value.
 * Returns `graphics`. */
VEK_EXPORT HVEKGRAPHICS VEKAPI VekSetStencilParam(HVEKGRAPHICS graphics, DWORD func, DWORD pass,
                                                  DWORD ref);

/* Draws the frame's items, ends the scene and presents window and
 * child-window surfaces: the failing HRESULT of EndScene, else 0 for
 * stencil and texture surfaces and the HRESULT of Present otherwise.
 * D3DERR_INVALIDCALL (-5) when the surface has no frame open; its pending
 * items are then dropped undrawn. */
VEK_EXPORT INT VEKAPI VekEndRender(HVEKGRAPHICS graphics);

/* ---- Effect shaders ---------------------------------------------------------
 * Selects one of eight pixel-shader effects for the surface's draws until the
 * next VekBeginRender: 1 grey, 2 swap green and blue, 3 swap red and green,
 * 4 (G, B, R), 5 (B, R, G), 6 swap red and blue, 7 brightness, 0 none.
 * param: alpha low and high (0..255, inclusive window of texel alpha the
 * effect reaches), the brightness factor for 7 (0 black, 1 unchanged and not
 * recorded, 2 white; rewritten in place to the amount used), and a spare
 * float; null means all zero (not allowed for 7). Ids above 7 do nothing. */
VEK_EXPORT void VEKAPI VekSetPixelShader(HVEKGRAPHICS graphics, INT shader, float* param);

/* ---- Primitives --------------------------------------------------------------
 * Each call queues one item for the surface's next VekEndRender and returns
 * it as an opaque non-null value, or null when nothing was queued (a null
 * surface, frame memory exhausted, or a texture that is released or cannot
 * be created). Positions are target pixels with z from 0 (near) to 1 (far);
 * colours are A8R8G8B8. flags: DRAW_ADDCOLOR 0x01 (add the texture to the
 * colour), DRAW_ADDBLEND 0x02 (additive blending), DRAW_NOZWRITE 0x04,
 * DRAW_LINEAR 0x08 (linear filtering), DRAW_OPAQUE 0x20 (drawn with the
 * opaque items). Points, lines, triangles and quads decide DRAW_OPAQUE
 * themselves: set when every colour's alpha is 0xFF and nothing is
 * textured, clear when any alpha is below 0xFF; textured ones with opaque
 * colours keep the caller's bit. Curves keep the caller's flags as given. */

/* One point. */
VEK_EXPORT void* VEKAPI VekDrawPoint(HVEKGRAPHICS graphics, float x, float y, float z, DWORD colour,
                                     DWORD flags);

/* A one-pixel line segment; each end has its own colour. */
VEK_EXPORT void* VEKAPI VekDrawLine(HVEKGRAPHICS graphics, float x0, float y0, float z0,
                                    DWORD colour0, float x1, float y1, float z1, DWORD colour1,
                                    DWORD flags);

/* A cubic Bezier curve from P0 to P3 with control points P1 and P2, as a
 * line strip of n segments: n = 1 / step truncated (1 when step is not
 * above 0 or above 0.5), at most 340; smaller steps give 339 segments of
 * 1/339. Inner vertices lie at t = step, 2 step, ...; the last is P3. */
VEK_EXPORT void* VEKAPI VekDrawBezier(HVEKGRAPHICS graphics, float x0, float y0, float z0, float x1,
                                      float y1, float z1, float x2, float y2, float z2, float x3,
                                      float y3, float z3, DWORD colour, float step, DWORD flags);

/* A triangle, textured when `texture` is given (an image, a texture surface's
 * texture or a font atlas), with u, v from 0 to 1 across the picture. An
 * image's texture is created by its first draw. */
VEK_EXPORT void* VEKAPI VekDrawTri(HVEKGRAPHICS graphics, float x0, float y0, float z0,
                                   DWORD colour0, float u0, float v0, float x1, float y1, float z1,
                                   DWORD colour1, float u1, float v1, float x2, float y2, float z2,
                                   DWORD colour2, float u2, float v2, DWORD flags,
                                   HVEKTEXTURE texture);

/* A quad as the triangles (0, 1, 2) and (2, 3, 0): give the corners in order
 * around it (either winding shows). Otherwise as VekDrawTri. */
VEK_EXPORT void* VEKAPI VekDrawQuad(HVEKGRAPHICS graphics, float x0, float y0, float z0,
                                    DWORD colour0, float u0, float v0, float x1, float y1, float z1,
                                    DWORD colour1, float u1, float v1, float x2, float y2, float z2,
                                    DWORD colour2, float u2, float v2, float x3, float y3, float z3,
                                    DWORD colour3, float u3, float v3, DWORD flags,
                                    HVEKTEXTURE texture);

/* Reserved: these accept their arguments and do nothing (nothing is queued
 * and no state changes). */
VEK_EXPORT void VEKAPI VekDrawPointLine(HVEKGRAPHICS graphics, float x0, float y0, float z0,
                                        DWORD colour0, float x1, float y1, float z1, DWORD colour1,
                                        DWORD flags);
VEK_EXPORT void VEKAPI VekDrawEllipse(HVEKGRAPHICS graphics, float a0, float a1, float a2, float a3,
                                      float a4, float a5, float a6, float a7, float a8, float a9,
                                      float a10, float a11, INT a12);
VEK_EXPORT void VEKAPI VekSetCamera(DWORD a0, DWORD a1, DWORD a2, DWORD a3, DWORD a4, DWORD a5,
                                    DWORD a6, DWORD a7, DWORD a8, DWORD a9, DWORD a10);
VEK_EXPORT void VEKAPI VekSetAmbientLight(DWORD a0, DWORD a1);
VEK_EXPORT void VEKAPI VekSetDirectionalLight(DWORD a0, DWORD a1, DWORD a2, DWORD a3, DWORD a4);
VEK_EXPORT void VEKAPI VekSetViewport(DWORD a0, DWORD a1, DWORD a2, DWORD a3, DWORD a4);
VEK_EXPORT void VEKAPI VekSetFrustum(DWORD a0, DWORD a1, DWORD a2, DWORD a3, DWORD a4);
VEK_EXPORT void VEKAPI VekSetPointLight(DWORD a0, DWORD a1, DWORD a2, DWORD a3, DWORD a4, DWORD a5,
                                        DWORD a6);
VEK_EXPORT void VEKAPI VekSetSpotLight(DWORD a0, DWORD a1, DWORD a2, DWORD a3, DWORD a4, DWORD a5,
                                       DWORD a6, DWORD a7, DWORD a8, DWORD a9, DWORD a10,
                                       DWORD a11);
VEK_EXPORT void VEKAPI VekSetFog(DWORD a0, DWORD a1, DWORD a2);

/* ---- Particle systems ------------------------------------------------------
 * A whole system is drawn in one call and nothing is kept between calls:
 * each particle is evaluated from the two seeds and the time alone and
 * queued as one quad (as VekDrawQuad). Angles in degrees (0 along +x, 90
 * along +y), times in milliseconds, lengths in target pixels, colour
 * channels 0 to 255 (larger values count as 255). A "Min, Max" pair is a
 * range a value is drawn from; flags count their low 8 bits. */

/* One key of an emitter path; the third word is not read. */
typedef struct VekPathPoint {
  float x, y;
  DWORD unused;
} VekPathPoint;
/* A frame rectangle within the particles' texture. */
typedef struct VekParticleFrame {
  float uLeft, uRight, vTop, vBottom;
} VekParticleFrame;

/* graphics: surface (null: 0). x, y: emitter now; z: every vertex's depth.
 * pathPoints / pathTimes / pathCount: emitter keys, times ascending (null
 * pointers count as no path); a particle stays where the emitter was when
 * it was born and is hidden when born before the first key.
 * count particles, each with a cycle length from period and drawn for the
 * first `visible` ms of it; speed and direction at emission (direction
 * measured from the outward direction unless absoluteDirection), quad
 * rotation; emission from an areaWidth x areaHeight area centred on the
 * emitter and turned by emitterRotation, or, with emitImage, from the
 * image's pixels of alpha 20 and more within the region (fractions of its
 * own size, padding never counted; clamped to the image and ordered),
 * stretched over the area, taking alpha and/or colour from the pixel when
 * asked. Only pictures VekGetImageData reads (A8R8G8B8) emit: a DXT picture
 * emits nothing. forwardAccel along the
 * motion, drag (exponential, per second), accelX / accelY (pixels per
 * second squared). texture with frameCount frames: frameMode 0 one random
 * frame per cycle, 1 once through the cycle, 2 and more looping with that
 * period (null frames count as none). alignToVelocity turns quads with the
 * motion. Sizes, colours and spin (degrees per second) run from their
 * start to their end value over each cycle. seedA fixes timing and place,
 * seedB appearance. timeLow / timeHigh: the time now. flags as VekDrawQuad.
 * Returns count (0 for a null graphics). */
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
    DWORD flags);
/* ---- Fonts and text ------------------------------------------------------------
 * A font is a GDI font whose glyphs are rasterised on first use into a
 * texture atlas. size is the cell height in pixels including the effect
 * margin (1 with FONT_SHADOW, 2 with an outline or FONT_HOLLOW); the
 * character height is size minus that margin, at least 1 pixel.
 * flags: FONT_BOLD 0x1, FONT_ITALIC 0x2, FONT_UNDERLINE 0x4, FONT_STRIKEOUT
 * 0x8; glyphs one-bit in a 16-bit A4R4G4B4 atlas, or FONT_GRAY4 0x10 (17
 * levels, 16-bit atlas) or FONT_GRAY8 0x20 (65 levels, 32-bit atlas, wins);
 * one effect, the first of FONT_SHADOW 0x100 (one texel down and right),
 * FONT_OUTLINE_CROSS 0x200 (four side neighbours), FONT_OUTLINE_BOX 0x400
 * (all eight), FONT_HOLLOW 0x800 (a white ring, the body cleared). Effects
 * draw in `colour` (A8R8G8B8; 16-bit atlases keep its top nibbles).
 * Blank glyphs such as the space get a cell without ink and their advance.
 * The atlas is made on the device of the font's first draw and belongs to
 * it: drawing the font through another device queues nothing and prints a
 * line; make another font for another device. */

/* Registers a font file for this process: the number of fonts added, 0 on
 * failure or for a null path. */
VEK_EXPORT INT VEKAPI VekAddFontFile(const WCHAR* path);

/* Removes a registration made by VekAddFontFile: non-zero on success. */
VEK_EXPORT INT VEKAPI VekRemoveFontFile(const WCHAR* path);

/* A new font, or null with the last error set: size outside 2..511, out of
 * memory, or GDI refusing the font. A null, empty or unknown face name gives
 * GDI's default face; only the first 32 units are kept for reference. */
VEK_EXPORT HVEKFONT VEKAPI VekCreateFont(const WCHAR* faceName, UINT size, DWORD flags,
                                         DWORD colour);

/* Releases the font and its atlas, dropping the pending items that draw it:
 * 1, or 0 for null. */
VEK_EXPORT INT VEKAPI VekDestroyFont(HVEKFONT font);

/* The atlas as a texture for VekDrawTri / VekDrawQuad (no Direct3D texture
 * until the first glyph is drawn); null for null. */
VEK_EXPORT HVEKTEXTURE VEKAPI VekGetFontTexture(HVEKFONT font);

/* The height of every glyph cell (text height plus margin); 0 for null. */
VEK_EXPORT UINT VEKAPI VekGetFontHeight(HVEKFONT font);

/* Cell height << 16 | cell width of the UTF-16 unit in the low 16 bits of
 * ch; 0 for null, for units below 0x20 and where GDI gives no extent. */
VEK_EXPORT DWORD VEKAPI VekGetCharSize(HVEKFONT font, DWORD ch);

/* The largest cell height << 16 | the summed cell widths of the first count
 * units. The width saturates at 0xFFFF so it never spills into the height.
 * 0 for null or count <= 0. */
VEK_EXPORT DWORD VEKAPI VekGetTextSize(HVEKFONT font, const WCHAR* text, INT count);

/* Queues one glyph mapped onto the box of corners 0 top-left, 1 top-right,
 * 2 bottom-right, 3 bottom-left, each with its colour (modulating the
 * glyph). At natural size the box is the glyph's cell: VekGetCharSize wide
 * and VekGetFontHeight high. Units up to 0x20 queue nothing. DRAW_OPAQUE is
 * cleared when any colour's alpha is below 0xFF; else it is set when the
 * font has a shadow or outline colour of alpha below 0xF0, or has neither
 * and one-bit glyphs; else kept as given. Both text calls: a null font,
 * surface or text (with a count) prints a line and queues nothing. */
VEK_EXPORT void VEKAPI VekDrawChar(HVEKGRAPHICS graphics, float x0, float y0, float z0,
                                   DWORD colour0, float x1, float y1, float z1, DWORD colour1,
                                   float x2, float y2, float z2, DWORD colour2, float x3, float y3,
                                   float z3, DWORD colour3, DWORD flags, HVEKFONT font, DWORD ch);

/* Lays count units across the box: each drawn glyph takes a share of the
 * box's width in proportion to its advance (spaces take room and draw
 * nothing; units below 0x20 are skipped), colours follow the box's left to
 * right gradient. One item per glyph. */
VEK_EXPORT void VEKAPI VekDrawText(HVEKGRAPHICS graphics, float x0, float y0, float z0,
                                   DWORD colour0, float x1, float y1, float z1, DWORD colour1,
                                   float x2, float y2, float z2, DWORD colour2, float x3, float y3,
                                   float z3, DWORD colour3, DWORD flags, HVEKFONT font,
                                   const WCHAR* text, UINT count);

/* ---- Images ------------------------------------------------------------------
 * An image keeps its picture (DDS DXT1/DXT3/DXT5 as read; PNG, JPEG, BMP and
 * other DDS decoded to 32-bit pixels) until its first draw or VekGetImageData
 * makes its managed texture. Pixels are A8R8G8B8. On a device that needs
 * power-of-two textures a picture is padded with transparent black to the
 * right and bottom; sizes reported here are the picture's own. */

/* Loads the file (its leading bytes decide the format); needs a current
 * device. Null when the file is null, empty or unreadable, when there is no
 * current device, or when the data is not a picture that device can draw:
 * truncated, malformed, larger than its largest texture or over 65,535 on a
 * side (all -5; -11 out of memory). An image that loads can be drawn. */
VEK_EXPORT HVEKIMAGE VEKAPI VekCreateImage(struct RaskFile* file);

/* Releases the image and its texture, dropping pending items that draw it:
 * 1, or 0 (-5) for null. */
VEK_EXPORT INT VEKAPI VekDestroyImage(HVEKIMAGE image);

/* Width in the low 16 bits, height shifted left 16; 0 for null. */
VEK_EXPORT UINT VEKAPI VekGetImageSize(HVEKIMAGE image);

/* The pixel at (x, y); 0 for null or a position outside the stored picture. */
VEK_EXPORT DWORD VEKAPI VekGetImageColor(HVEKIMAGE image, UINT x, UINT y);

/* Copies the rectangle [x1, x2) x [y1, y2), clamped to the picture, into a
 * new block of packed rows (release it with VekFree) stored at *out. Returns
 * its byte count; 0 for null arguments, an empty rectangle or a picture that
 * is not A8R8G8B8 (DXT); -1 texture released, -2 texture creation failed,
 * -3 lock failed, -4 rows wider than the texture's, -11 out of memory. */
VEK_EXPORT INT VEKAPI VekGetImageData(HVEKIMAGE image, UINT x1, UINT y1, UINT x2, UINT y2,
                                      BYTE** out);

/* Saves the image's texture (it exists after a draw or VekGetImageData) with
 * D3DX: VEK_SAVE_BMP or VEK_SAVE_DIB as a 24-bit BMP, VEK_SAVE_DDS; other
 * formats are refused (-51). 0 for success (or null, -5), else
 * the D3DX result (-51), also when the file cannot be written or closed
 * completely. */
VEK_EXPORT INT VEKAPI VekSaveImage(HVEKIMAGE image, const WCHAR* path, DWORD fileFormat);

/* ---- Image colour effects ----------------------------------------------------
 * Each recolours a pending image (loaded, not yet drawn or read back) in
 * place, reaching only pixels whose alpha lies between a and b (either order,
 * both included). Alpha never changes, and DXT1 pixels keep their
 * transparency. All return 1 on success and 0 when refused (last error -5):
 * null image, texture already made (after a draw or VekGetImageData), no
 * data, or an argument out of range. Effects combine when applied in turn. */

/* Grey: each channel becomes (B + G + R) / 3. */
VEK_EXPORT INT VEKAPI VekGrayImage(HVEKIMAGE image, INT a, INT b);

/* Brightness -100..100 (beyond counts as the end): towards white for positive
 * levels, towards black for negative; 0 changes nothing. */
VEK_EXPORT INT VEKAPI VekBrightImage(HVEKIMAGE image, INT level, INT a, INT b);

/* Turns the hue by degrees (0..359; larger values are refused) from red
 * towards yellow and green, keeping each pixel's largest and smallest
 * channel. */
VEK_EXPORT INT VEKAPI VekHueImage(HVEKIMAGE image, UINT degrees, INT a, INT b);

/* Permutes the channels, giving (R, G, B) as: 0 (R, G, B) unchanged,
 * 1 (R, B, G), 2 (G, R, B), 3 (G, B, R), 4 (B, G, R), 5 (B, R, G); larger
 * types are refused. */
VEK_EXPORT INT VEKAPI VekConvertRGBImage(HVEKIMAGE image, UINT type, INT a, INT b);

/* ---- Screen capture ------------------------------------------------------------ */

/* Copies the screen rectangle [x1, x2) x [y1, y2) (negative edges count as 0,
 * the right and bottom edges are cut to the screen) into a BMP file image:
 * file header, BITMAPINFOHEADER, colour table as the desktop needs, then the
 * rows bottom-up, each padded to 4 bytes (a 32-bit desktop gives 32-bit
 * pixels at offset 54). Collect it with VekGetScreenCapture. Every call
 * first releases a capture not yet collected, so after an empty rectangle or
 * a failure there is none (VekGetScreenCapture then returns null; no last
 * error is recorded). Always returns 0. */
VEK_EXPORT INT VEKAPI VekScreenCapture(INT x1, INT y1, INT x2, INT y2);

/* Hands over the BMP file image of the last VekScreenCapture and forgets it;
 * its byte count is stored through size when size is not null. Release it
 * with VekFree. Null (and size 0) when there is none. A capture never
 * collected is released by the next VekScreenCapture or when the library is
 * unloaded. */
VEK_EXPORT BYTE* VEKAPI VekGetScreenCapture(DWORD* size);

/* ---- Memory ---------------------------------------------------------------- */

/* Releases a block the library handed out (display-mode arrays, pixels).
 * 0 for null; else the base library's result. */
VEK_EXPORT INT VEKAPI VekFree(void* block);

#ifdef __cplusplus
}
#endif

#endif /* VEK_VEK_H */
