// The demo's scene, drawn through the exports only, so the demo host and the
// differential scene host draw exactly the same frame on either build:
// PNG (with alpha), JPEG, BMP and DXT1/3/5 DDS images as textured quads and
// triangles, gradients, lines and Bezier curves, an effect shader, a stencil
// mask, a texture surface drawn into the window, and particle systems (a
// fountain and a fire emitted from the glow picture's pixels).
#pragma once

#include <vek/vek.h>

#include <memory>

inline constexpr int kDemoWidth = 640;
inline constexpr int kDemoHeight = 480;

// Draws one frame of the scene into the window of `device` (a windowed
// kDemoWidth x kDemoHeight device, which must be the current device) and
// presents it. Everything it opens is closed again before it returns. False
// when a picture, an image or a surface cannot be made, or a frame fails.
// `timeMs` is the particle systems' time: only they move with it.
inline constexpr ULONGLONG kDemoParticleTime = 2400;
bool DrawDemoScene(HVEKDEVICE device, ULONGLONG timeMs = kDemoParticleTime);

// The scene's pictures, fonts and surfaces, made once for drawing many
// frames (the live demo); closed with it.
struct DemoScene {
  HVEKDEVICE device = nullptr;
  HVEKIMAGE images[10] = {};
  HVEKGRAPHICS window = nullptr;
  HVEKGRAPHICS stencil = nullptr;
  HVEKGRAPHICS canvas = nullptr;
  HVEKFONT fonts[7] = {};
  INT fontFile = 0;
  DemoScene() = default;
  DemoScene(const DemoScene&) = delete;
  DemoScene& operator=(const DemoScene&) = delete;
  ~DemoScene();
};
// Null (with a line on standard error) when something cannot be made.
std::unique_ptr<DemoScene> OpenDemoScene(HVEKDEVICE device);
// One frame at `timeMs`; DrawDemoScene is OpenDemoScene then this.
bool DrawDemoFrame(DemoScene* scene, ULONGLONG timeMs);
