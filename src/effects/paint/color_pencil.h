#pragma once

#include "raster/bitmap32.h"
#include "raster/colour.h"

#include <cstdint>

namespace plumora {

// Pressure: the slope of the line that turns edge lightness into paper, in
// degrees.
inline constexpr int kColorPencilPressureMin = 0;
inline constexpr int kColorPencilPressureMax = 89;
inline constexpr int kColorPencilPressureDefault = 45;

// The colour pencil: the grey of the inverted edge picture (picsobel) of
// source, through ContrastAdjust's lightness line at `pressure`, decides how
// much paper white each pixel gets; hue and saturation come from the
// photograph through IntRGBtoHSL and back through IntHSLtoRGB. Every fourth
// byte of the result is 255. Raises ScanLineError for a picture one pixel
// high, as picsobel does.
TBitmap32 colorPencil(const TBitmap32& source, int pressure);

// IntRGBtoHSL and IntHSLtoRGB as the colour pencil works them out per
// pixel, from tables and integer arithmetic instead of floating point. The
// tests compare them with the formulas over every input the effect gives
// them (every colour; every hue 0..359 with every saturation and lightness).
IntHSL tabulatedRGBtoHSL(int r, int g, int b);
IntRGB tabulatedHSLtoRGB(int h, int s, int l);

// The colour pencil's step per pixel on its own, as colorPencil takes it
// (on the path simdLevel() chooses): photo pixels (0xAARRGGBB) and the grey
// values of their inverted edges in, finished pixels out. For the tests,
// which feed it combinations no picture would give.
void colorPencilPixels(const std::uint32_t* photo, const std::uint8_t* grey, std::uint32_t* out, int count,
                       int pressure);

}  // namespace plumora
