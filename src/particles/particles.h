// Particle systems: every particle is recomputed from its two seeds and the
// time in closed form and drawn as one quad through the primitive path.
// Nothing survives a call except an emission image's pixel cache.
#pragma once

#include <windows.h>

#include <cstdint>

struct Graphics;
struct VekTexture;
struct VekImage;

struct UintRange {
  UINT lo, hi;
  // Set by DrawParSys on 64-bit builds: lets the draw's remainder be taken
  // by multiplication (the same result); 0 means a plain division.
  uint64_t magic = 0;
};
struct FloatRange {
  float lo, hi;
};

// The host's description of a system, in argument order (the region is held
// as left, top, right, bottom and the flags as bytes).
struct ParSysParams {
  Graphics* graphics;
  float x, y, z;
  const void* pathPoints;  // 12 bytes a key: x, y (floats), one unread word
  const void* pathTimes;   // signed 64-bit milliseconds a key
  UINT pathCount;
  UINT count;
  UintRange period, visible;
  FloatRange speed, direction;
  FloatRange unused17;
  FloatRange rotation;
  BYTE absoluteDirection;
  UINT areaWidth, areaHeight;
  float emitterRotation;
  VekImage* emitImage;
  float regionLeft, regionTop, regionRight, regionBottom;
  BYTE alphaFromImage, colourFromImage;
  float forwardAccel, drag, accelX, accelY;
  float unused36;
  VekTexture* texture;
  const void* frames;  // 16 bytes a frame: u left, u right, v top, v bottom (floats)
  UINT frameCount, frameMode;
  BYTE alignToVelocity;
  UintRange widthStart, heightStart, alphaStart, redStart, greenStart, blueStart;
  FloatRange spinStart;
  UintRange widthEnd, heightEnd, alphaEnd, redEnd, greenEnd, blueEnd;
  FloatRange spinEnd;
  INT seedA, seedB;
  // Set within one call once the emission image could not be read, so the
  // read is not retried (and its failure not printed) for every particle.
  bool pixelsUnreadable;
};

// The working record of one particle, zero-filled for each.
struct Particle {
  UINT seedA, seedB;
  UINT period, visible;
  float speed;
  float direction;  // degrees as rolled, radians after emission
  float rotation;   // degrees as rolled, radians once the quad is placed
  UINT widthStart, widthEnd, heightStart, heightEnd;
  UINT alphaStart, alphaEnd, redStart, redEnd, greenStart, greenEnd, blueStart, blueEnd;
  float spinStart, spinEnd;
  UINT age;
  float x, y, z;
  float vx, vy;
};

// ---- Generators --------------------------------------------------------------

// One minimal-standard step of a state XORed with a kept mask.
UINT RandomStep(UINT* state);
UINT RandomUint(UINT* state, UintRange range);
// Fills in the range's magic where the build can use it.
void PrepareRange(UintRange* range);
float RandomFloat(UINT* state, FloatRange range);
UINT NextParticleSeed(UINT seed);

// ---- Geometry ----------------------------------------------------------------

// The angle of (x, y) in [0, 2 pi); 0 for the zero vector.
float VectorAngle(float x, float y);
// 1 / sqrt(l) by one refined bit-level estimate.
float FastInverseSqrt(float l);

// ---- Per-particle steps ------------------------------------------------------

// Life cycle, appearance, emission and motion: true when the particle is drawn.
bool EvaluateParticle(Particle* p, ParSysParams* params, UINT time);
bool EmitParticle(Particle* p, ParSysParams* params);
// The emission pixel (px, py) and its bytes (blue, green, red, alpha).
bool SampleEmissionImage(Particle* p, ParSysParams* params, UINT* px, UINT* py, BYTE pixel[4]);
void MoveParticle(Particle* p, const ParSysParams* params);

// The quad's corners once placed: c0..c3, and whether it is drawn.
struct ParticleQuad {
  float x[4], y[4];
};
bool PlaceParticleQuad(Particle* p, const ParSysParams* params, ULONGLONG now, ParticleQuad* quad);
// Size, frame, colour and placement: the four corners as VekDrawQuad takes
// them, or false when the particle is not drawn.
struct PrimitiveCorner;
bool BuildParticleQuad(Particle* p, const ParSysParams* params, ULONGLONG now,
                       PrimitiveCorner corners[4]);
// BuildParticleQuad, then the quad: true when one was queued.
bool DrawParticle(Particle* p, const ParSysParams* params, ULONGLONG now, DWORD flags);

// The whole call: the number of particles processed (0 for a null Graphics).
INT DrawParSys(ParSysParams* params, ULONGLONG now, DWORD flags);

// Interpolation of an unsigned pair by f (a when they are equal).
UINT InterpolateUint(UINT a, UINT b, float f);
