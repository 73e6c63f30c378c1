// Encoding of recoloured 4 x 4 pixel blocks back into DXT colour blocks:
// stb_dxt's high-quality mode for opaque blocks and our own three-colour
// encoder for DXT1 blocks that hold transparent pixels (stb_dxt has none).
#pragma once

#include <windows.h>

// The colour half (8 bytes) of a block from 16 pixels B, G, R, A. For DXT1
// a block with any pixel whose alpha is below 128 is written in the
// three-colour mode with those pixels transparent (index 3); every other
// block, and every DXT3 and DXT5 colour half, in the four-colour mode.
void EncodeColourBlock(BYTE* block, const BYTE* pixels, INT compression);

// DXT1 three-colour mode (c0 <= c1): opaque pixels take the nearest of the
// two end points and their midpoint, pixels with alpha below 128 index 3.
void EncodeThreeColourBlock(BYTE* block, const BYTE* pixels);
