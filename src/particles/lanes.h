// The particle generators four states at a time in SSE2 lanes (both builds
// have SSE2). Each lane gives exactly what RandomUint and RandomFloat give
// its state alone, so a block of particles can take one draw together.
#pragma once

#include <cstddef>

#include "particles/particles.h"

// Draws one value from each of `count` states (a multiple of four; states
// past the caller's are stepped too and their values ignored), stepping
// them in place unless the range is a single value. Value k is stored at
// out + k * stride bytes, so it can land in a field of an array of records.
void RandomUintLanes(UINT* states, UINT count, const UintRange& range, void* out, size_t stride);
void RandomFloatLanes(UINT* states, UINT count, FloatRange range, void* out, size_t stride);

// Sets the range's lane multiplier and shift, so the draws of a call do not
// derive them again for every block.
void PrepareLaneRange(UintRange* range);

// s % span for s below 2^31 and span of at least 2, four at a time: what
// the 32-bit build divides for and the 64-bit build multiplies for.
void RemainderLanes(const UINT* s, UINT span, UINT* out);
