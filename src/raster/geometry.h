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

// A side stretched "by the same factors" as another picture: Trunc(factor x
// side), where factor was computed as typed / side. In floating point that
// product can land a hair below the whole number it stands for (0.7 x 10 =
// 6.9999999999999991), and a plain Trunc would lose a row: a product within
// a billionth of a whole number is taken as that number. ImageTooLargeError
// for a side that no int holds.
int stretchedSide(int side, double factor);

// Quarter turns. Clockwise: result(x, y) = picture(y, H - 1 - x);
// anticlockwise: result(x, y) = picture(W - 1 - y, x). The result is H x W;
// every pixel keeps its four bytes.
TBitmap32 rotateClockwise(const TBitmap32& picture);
TBitmap32 rotateAnticlockwise(const TBitmap32& picture);

// Mirror images: left and right swapped, or top and bottom.
TBitmap32 mirrorHorizontal(const TBitmap32& picture);
TBitmap32 mirrorVertical(const TBitmap32& picture);

}  // namespace plumora
