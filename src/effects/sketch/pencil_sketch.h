#pragma once

#include "raster/bitmap32.h"

namespace plumora {

// Contrast: the slope of the lightness line, in degrees.
inline constexpr int kContrastMin = 0;
inline constexpr int kContrastMax = 89;
inline constexpr int kContrastDefault = 45;
// Lighting: added to every grey value twice over, 128 adding nothing.
inline constexpr int kLightingMin = 0;
inline constexpr int kLightingMax = 255;
inline constexpr int kLightingDefault = 128;

// Which tonal adjustment ends the pencil sketch: the track bar moved last.
enum class PencilMode { Contrast = 1, Lighting = 2 };

// The new lightness (0..100) of ContrastAdjust for lightness l at position a:
// the line through lightness 55 turned towards a flat 100 - a below 45
// degrees, the line through a + 5 steepened above it.
int contrastLightness(int l, int a);

// In place, on any picture: every pixel goes through IntRGBtoHSL, its
// lightness through contrastLightness at position a and back through
// IntHSLtoRGB; the fourth byte becomes 255.
void ContrastAdjust(TBitmap32& bitmap, int a);

// In place, on any picture: every pixel becomes the grey
// clamp(grey value + 2 * (p - 128), 0, 255) with the fourth byte 255.
void LightingAdjust(TBitmap32& bitmap, int p);

// The pencil sketch: picsobel of source, then in contrast mode its grey copy
// through ContrastAdjust, in lighting mode LightingAdjust of the edge picture
// itself. Computed in one pass over memory.
TBitmap32 pencilSketch(const TBitmap32& source, PencilMode mode, int position);

}  // namespace plumora
