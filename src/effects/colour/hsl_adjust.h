#pragma once

#include "raster/bitmap32.h"

namespace plumora {

// The HSL adjust window's three track bars. The hue position turns the hue by
// (position - 180) degrees, so 0 and 360 both turn it by half a turn; the
// other two add (position - 100) percent.
inline constexpr int kHslHueMin = 0;
inline constexpr int kHslHueMax = 360;
inline constexpr int kHslHueDefault = 180;
inline constexpr int kHslSaturationMin = 0;
inline constexpr int kHslSaturationMax = 200;
inline constexpr int kHslSaturationDefault = 100;
inline constexpr int kHslLightingMin = 0;
inline constexpr int kHslLightingMax = 200;
inline constexpr int kHslLightingDefault = 100;

// Every pixel through IntRGBtoHSL; H := (H + huePosition + 180) mod 360,
// S and L shifted by their positions less 100 and kept within 0..100; back
// through IntHSLtoRGB, with the fourth byte 255. IntHSLtoRGB is not the
// inverse of IntRGBtoHSL, so even the default positions change some colours.
// Positions outside the ranges above are taken as they are (a hue turned
// below 0 gives black, as IntHSLtoRGB does).
TBitmap32 hslAdjust(const TBitmap32& source, int huePosition, int saturationPosition, int lightingPosition);

}  // namespace plumora
