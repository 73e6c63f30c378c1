// A particle system as VekDrawParSys takes it, with named fields, for tests.
#pragma once

#include <vek/vek.h>

// A system as the export takes it; the defaults are one still, white,
// 5 x 5 particle that lives a second and is always visible.
struct Sys {
  float x = 100, y = 100, z = 0.5f;
  const VekPathPoint* pathPoints = nullptr;
  const LONGLONG* pathTimes = nullptr;
  UINT pathCount = 0, count = 1;
  UINT period[2] = {1000, 1000}, visible[2] = {1000, 1000};
  float speed[2] = {0, 0}, direction[2] = {0, 0}, rotation[2] = {0, 0};
  DWORD absoluteDirection = 1;
  UINT areaWidth = 0, areaHeight = 0;
  float emitterRotation = 0;
  HVEKIMAGE image = nullptr;
  float region[4] = {0, 1, 0, 1};  // left, right, top, bottom
  DWORD alphaFromImage = 0, colourFromImage = 0;
  float forwardAccel = 0, drag = 0, accelX = 0, accelY = 0;
  HVEKTEXTURE texture = nullptr;
  const VekParticleFrame* frames = nullptr;
  UINT frameCount = 0, frameMode = 0;
  DWORD align = 0;
  UINT start[6][2] = {{5, 5}, {5, 5}, {255, 255}, {255, 255}, {255, 255}, {255, 255}};
  float spinStart[2] = {0, 0};
  UINT end[6][2] = {{5, 5}, {5, 5}, {255, 255}, {255, 255}, {255, 255}, {255, 255}};
  float spinEnd[2] = {0, 0};
  INT seedA = 1, seedB = 2;
  ULONGLONG time = 0;
};

inline INT Draw(HVEKGRAPHICS g, const Sys& s) {
  return VekDrawParSys(
      g, s.x, s.y, s.z, s.pathPoints, s.pathTimes, s.pathCount, s.count, s.period[0], s.period[1],
      s.visible[0], s.visible[1], s.speed[0], s.speed[1], s.direction[0], s.direction[1], 0, 0,
      s.rotation[0], s.rotation[1], s.absoluteDirection, s.areaWidth, s.areaHeight,
      s.emitterRotation, s.image, s.region[0], s.region[1], s.region[2], s.region[3],
      s.alphaFromImage, s.colourFromImage, s.forwardAccel, s.drag, s.accelX, s.accelY, 0, s.texture,
      s.frames, s.frameCount, s.frameMode, s.align, s.start[0][0], s.start[0][1], s.start[1][0],
      s.start[1][1], s.start[2][0], s.start[2][1], s.start[3][0], s.start[3][1], s.start[4][0],
      s.start[4][1], s.start[5][0], s.start[5][1], s.spinStart[0], s.spinStart[1], s.end[0][0],
      s.end[0][1], s.end[1][0], s.end[1][1], s.end[2][0], s.end[2][1], s.end[3][0], s.end[3][1],
      s.end[4][0], s.end[4][1], s.end[5][0], s.end[5][1], s.spinEnd[0], s.spinEnd[1], s.seedA,
      s.seedB, static_cast<UINT>(s.time), static_cast<UINT>(s.time >> 32), 0);
}
