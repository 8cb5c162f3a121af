#pragma once

#include "raster/bitmap32.h"

namespace plumora {

// Pen Pressure: the threshold on the grey value of the inverted edge picture.
inline constexpr int kPenPressureMin = 0;
inline constexpr int kPenPressureMax = 255;
inline constexpr int kPenPressureDefault = 128;

// The pen sketch: black lines on white. The inverted edge picture of source
// (picsobel) is cut at the pen pressure: a pixel whose grey value is above it
// becomes white, every other one black (a grey value equal to the pressure
// too); every fourth byte becomes 255. Computed in one pass over memory.
TBitmap32 penSketch(const TBitmap32& source, int pressure);

}  // namespace plumora
