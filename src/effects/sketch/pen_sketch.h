#pragma once

#include "raster/bitmap32.h"

namespace plumora {

// Pen Pressure: the threshold on the grey value of the inverted edge picture.
inline constexpr int kPenPressureMin = 0;
inline constexpr int kPenPressureMax = 255;
inline constexpr int kPenPressureDefault = 128;

// Cuts bitmap in place at one threshold: a pixel whose grey value is above
// pressure becomes white, every other pixel black; the fourth byte becomes 255.
// A grey value equal to the threshold becomes black.
void two_Value1Click(TBitmap32& bitmap, int pressure);

// The pen sketch: black lines on white, picsobel of source cut by
// two_Value1Click at the pen pressure (computed in one pass over memory).
TBitmap32 penSketch(const TBitmap32& source, int pressure);

}  // namespace plumora
