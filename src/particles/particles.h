// Particle systems: every particle is recomputed from its two seeds and the
// time in closed form and drawn as one quad through the primitive path.
// Nothing survives a call except an emission image's pixel cache.
#pragma once

#include <windows.h>

#include <cstdint>

#include "graphics/primitives.h"

struct Graphics;
struct VekTexture;
struct VekImage;

struct UintRange {
  UINT lo, hi;
  // Set by DrawParSys on 64-bit builds: lets the draw's remainder be taken
  // by multiplication (the same result); 0 means a plain division.
  uint64_t magic = 0;
  // Set by DrawParSys on both builds: the lanes' remainder by a multiply and
  // a shift (lanes.cpp); a shift of 0 means not prepared.
  UINT laneMagic = 0, laneShift = 0;
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
// out[k] = VectorAngle(x[k], y[k]) for k below count (a multiple of four),
// four at a time in SSE2 lanes with the same bits.
void VectorAngles(const float* x, const float* y, UINT count, float* out);
// 1 / sqrt(l) by one refined bit-level estimate.
float FastInverseSqrt(float l);

// ---- Per-particle steps ------------------------------------------------------

// Life cycle, appearance, emission and motion: true when the particle is drawn.
bool EvaluateParticle(Particle* p, ParSysParams* params, UINT time);
// Its steps. The life cycle: false when the particle is not shown now.
bool StartParticle(Particle* p, const ParSysParams* params, UINT time);
// StartParticle after its two draws (period, then visible time, from the
// first seed).
bool StartCycle(Particle* p, const ParSysParams* params, UINT time);
// StartCycle of particles p[0..count), whether each is shown in live[k];
// four at a time where the machine has AVX2.
void StartCycles(Particle* p, UINT count, const ParSysParams* params, UINT time, bool* live);
// Speed, angles, spins, sizes and colours from the second seed.
void DrawAppearance(Particle* p, const ParSysParams* params);
// Emission: the offset from the emitter (false when an image gave none),
// then direction, place and velocity.
bool EmitParticle(Particle* p, ParSysParams* params);
bool EmitOffset(Particle* p, ParSysParams* params, float* ox, float* oy);
// The emitter's own rotation, the same for every particle of a call.
struct EmitterTurn {
  bool turned;
  float angle, sin, cos;
};
EmitterTurn TurnOf(const ParSysParams* params);
// The offset turned with the emitter, then the aim from a turned offset
// whose angle (VectorAngle of it, read unless the direction is absolute) is
// given: AimParticle is the two with the angle taken alone.
void TurnOffset(const EmitterTurn& turn, float* ox, float* oy);
void AimTurned(Particle* p, const ParSysParams* params, const EmitterTurn& turn, float ox, float oy,
               float offsetAngle);
// AimTurned's halves around the sine and cosine of the direction: the
// direction and position, then the velocity.
void AimPlace(Particle* p, const ParSysParams* params, const EmitterTurn& turn, float ox, float oy,
              float offsetAngle);
void AimVelocity(Particle* p, float s, float c);
void AimParticle(Particle* p, const ParSysParams* params, const EmitterTurn& turn, float ox,
                 float oy);
// The emission pixel (px, py) and its bytes (blue, green, red, alpha).
bool SampleEmissionImage(Particle* p, ParSysParams* params, UINT* px, UINT* py, BYTE pixel[4]);
void MoveParticle(Particle* p, const ParSysParams* params);
// MoveParticle's halves around the drag's exponential: the time, the
// velocity at the end of the move and the power of e the drag keeps of it,
// then the move given e to that power (read only with drag).
struct ParticleMove {
  float t, endX, endY, dragPower;
};
void MoveStart(const Particle* p, const ParSysParams* params, ParticleMove* m);
void MoveEnd(Particle* p, const ParSysParams* params, const ParticleMove& m, float e);

// The quad's corners once placed: c0..c3, and whether it is drawn.
struct ParticleQuad {
  float x[4], y[4];
};
// The quad's turn at life fraction f (heading: VectorAngle of the velocity,
// read when the quad aligns with it): sets the particle's rotation and
// returns whether the quad turns, by the angle *g.
bool QuadTurn(Particle* p, const ParSysParams* params, float f, float heading, float* g);
// Size, frame, colour and placement: the four corners as VekDrawQuad takes
// them, or false when the particle is not drawn.
bool BuildParticleQuad(Particle* p, const ParSysParams* params, ULONGLONG now,
                       PrimitiveCorner corners[4]);
// The same with the velocity's angle given (as QuadTurn takes it).
bool BuildHeadedQuad(Particle* p, const ParSysParams* params, ULONGLONG now, float heading,
                     PrimitiveCorner corners[4]);
// BuildHeadedQuad's two halves: the size, colour and frame (drawing the
// frame from the second seed in random frame mode), then the placing.
struct ParticleLook {
  UINT width, height;
  DWORD colour;
  float uLeft, uRight, vTop, vBottom;
  float fraction;  // of the particle's life cycle: age / period
};
void LookOfParticle(Particle* p, const ParSysParams* params, ParticleLook* look);
bool PlaceLookedQuad(Particle* p, const ParSysParams* params, ULONGLONG now, float heading,
                     const ParticleLook& look, PrimitiveCorner corners[4]);
// PlaceLookedQuad after QuadTurn, given the turn's sine and cosine.
bool PlaceTurnedLook(const Particle* p, const ParSysParams* params, ULONGLONG now,
                     const ParticleLook& look, bool turned, float s, float c,
                     PrimitiveCorner corners[4]);

// Particles are evaluated a block at a time, each step over the whole block
// before the next, so the particles' long chains of dependent arithmetic
// overlap instead of waiting on one another. Every particle takes exactly
// the steps EvaluateParticle and BuildParticleQuad give it alone.
constexpr UINT kParticleBlock = 64;
// The particles with these seeds (count at most kParticleBlock): the corners
// of the drawn ones, in order, and their number.
UINT BuildParticleBlock(ParSysParams* params, ULONGLONG now, const UINT seedA[], const UINT seedB[],
                        UINT count, PrimitiveCorner quads[][4]);

// The whole call: the number of particles processed (0 for a null Graphics).
INT DrawParSys(ParSysParams* params, ULONGLONG now, DWORD flags);

// Interpolation of an unsigned pair by f (a when they are equal).
UINT InterpolateUint(UINT a, UINT b, float f);
