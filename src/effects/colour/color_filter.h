#pragma once

#include "raster/bitmap32.h"

namespace plumora {

// The colour filter's six swatches, in the window's order.
enum class ColorFilterKind { Red = 1, Green = 2, Blue = 3, Yellow = 4, Cyan = 5, Purple = 6 };

// The picture seen through a coloured filter: every pixel becomes its grey
// value in blue, green and red, then the filter's channels (red; green; blue;
// red and green; green and blue; red and blue) are set to 255; the fourth
// byte becomes 255. White stays white and black becomes the filter's colour.
TBitmap32 colorFilter(const TBitmap32& base, ColorFilterKind kind);

}  // namespace plumora
