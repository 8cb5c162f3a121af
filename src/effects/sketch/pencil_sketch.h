#pragma once

#include "raster/bitmap32.h"

#include <array>
#include <cstdint>

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

// What every grey value of the sketch becomes, as a whole pixel (fourth
// byte 255): in contrast mode the grey through IntRGBtoHSL, its lightness
// through contrastLightness at the position and back through IntHSLtoRGB;
// in lighting mode clamp(grey + 2 * (position - 128), 0, 255).
std::array<std::uint32_t, 256> pencilGreyPixels(PencilMode mode, int position);

// The pencil sketch: every pixel of the inverted edge picture of source
// (picsobel) becomes pencilGreyPixels of its grey value; in contrast mode
// that is the adjustment of the grey copy, in lighting mode of the edge
// picture itself. Computed in one pass over memory.
TBitmap32 pencilSketch(const TBitmap32& source, PencilMode mode, int position);

}  // namespace plumora
