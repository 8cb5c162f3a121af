#pragma once

#include "raster/bitmap32.h"

namespace plumora {

// The colour-on-colour stretch: nearest neighbour without any averaging, so
// every pixel of the result is a whole pixel of the source. Destination
// column x takes source column floor(x * srcWidth / newWidth), and rows the
// same way (exact integer arithmetic). Enlarging by 2 therefore repeats every
// pixel exactly twice, and halving keeps the even columns and rows.
// A zero width or height gives an empty picture.
TBitmap32 stretchTo(const TBitmap32& source, int newWidth, int newHeight);

// Quarter turns. Clockwise: result(x, y) = picture(y, H - 1 - x);
// anticlockwise: result(x, y) = picture(W - 1 - y, x). The result is H x W;
// every pixel keeps its four bytes.
TBitmap32 rotateClockwise(const TBitmap32& picture);
TBitmap32 rotateAnticlockwise(const TBitmap32& picture);

// Mirror images: left and right swapped, or top and bottom.
TBitmap32 mirrorHorizontal(const TBitmap32& picture);
TBitmap32 mirrorVertical(const TBitmap32& picture);

}  // namespace plumora
