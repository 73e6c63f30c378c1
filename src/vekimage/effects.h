// Colour effects that recolour a pending image's kept picture in place:
// grey, brightness, hue rotation and channel swaps, limited to pixels whose
// alpha lies in a window. DXT pictures have their end points recoloured when
// the window covers every alpha, or their affected blocks decoded,
// recoloured and encoded again.
#pragma once

#include <windows.h>

#include "vekimage/image.h"

// One pixel's B, G, R bytes (alpha, the fourth byte, is never changed).
using PixelOperation = void (*)(BYTE* pixel, INT parameter);

// v := (B + G + R) / 3 into all three.
void GreyPixel(BYTE* pixel, INT unused);
// Towards white (level > 0) or black (level < 0); levels beyond +-100 count
// as +-100.
void BrightenPixel(BYTE* pixel, INT level);
// Turns the hue by `degrees` (0..359) red -> yellow -> green, keeping the
// largest and smallest channel values.
void HueRotatePixel(BYTE* pixel, INT degrees);
// Permutes R, G, B: 1 swaps green and blue, 2 red and green, 3 rotates
// (G, B, R), 4 swaps red and blue, 5 rotates (B, R, G); others keep.
void SwapChannelsPixel(BYTE* pixel, INT type);

// Applies `op` to every pixel with lo <= alpha <= hi: 1, or -1 for null.
// Never reads or writes past the kept data, however short it is.
INT ApplyImageEffect(VekImage* image, INT parameter, INT lo, INT hi, PixelOperation op);

// The exports' bodies: 1 on success, 0 on refusal (with its line printed).
INT GrayImage(VekImage* image, INT a, INT b);
INT BrightImage(VekImage* image, INT level, INT a, INT b);
INT HueImage(VekImage* image, UINT degrees, INT a, INT b);
INT ConvertRGBImage(VekImage* image, UINT type, INT a, INT b);
