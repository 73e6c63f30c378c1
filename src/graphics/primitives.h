// The primitives: one host call becomes one DrawItem queued on a Graphics.
// Points, line segments, cubic Bezier curves (as line strips), and triangles
// and quads that may carry a texture, created on first use.
#pragma once

#include <d3d8.h>

#include "graphics/frame.h"

// One corner of a triangle or quad as the host passes it.
struct PrimitiveCorner {
  float x, y, z;
  DWORD colour;
  float u, v;
};

// Each returns the queued item, or null when nothing was queued (null
// Graphics, frame memory exhausted, texture released or not creatable).
DrawItem* DrawPoint(Graphics* graphics, float x, float y, float z, DWORD colour, DWORD flags);
DrawItem* DrawLine(Graphics* graphics, const PrimitiveCorner& a, const PrimitiveCorner& b,
                   DWORD flags);
// points: P0, P1, P2, P3 as x, y, z each.
DrawItem* DrawBezier(Graphics* graphics, const float points[4][3], DWORD colour, float step,
                     DWORD flags);
DrawItem* DrawTri(Graphics* graphics, const PrimitiveCorner corners[3], DWORD flags,
                  VekTexture* texture);
DrawItem* DrawQuad(Graphics* graphics, const PrimitiveCorner corners[4], DWORD flags,
                   VekTexture* texture);
// Queues `count` quads, each exactly as DrawQuad would, with their vertices
// and items in one frame-memory block; returns how many were queued.
UINT DrawQuads(Graphics* graphics, const PrimitiveCorner (*quads)[4], UINT count, DWORD flags,
               VekTexture* texture);

// The number of segments a curve is cut into for `step`, and the parameter
// increment actually used (the step itself unless the segment cap applied).
UINT BezierSegments(float step, float* usedStep);
