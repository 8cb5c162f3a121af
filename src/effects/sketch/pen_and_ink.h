#pragma once

#include <cstddef>
#include <cstdint>

#include "raster/bitmap32.h"
#include "raster/colour.h"
#include "raster/rounding.h"

namespace plumora {

// Adjust thread: the threshold on the ink grey value.
inline constexpr int kThreadMin = 0;
inline constexpr int kThreadMax = 255;
inline constexpr int kThreadDefault = 128;

// The ink grey value: Round(0.299*R + 0.587*G + 0.11*B). The weights add up
// to 0.996, so it never exceeds 254.
inline constexpr GreyWeights kInkWeights(0.299, 0.587, 0.11, 299, 587, 110, 1000);
inline int inkGreyValue(int r, int g, int b)
{
    return int(Round(0.299 * r + 0.587 * g + 0.11 * b));
}

// In place: a pixel whose ink grey value is above thread becomes white, any
// other black; the fourth byte becomes 255.
void PictureTwoValue(TBitmap32& bitmap, int thread);

// The outlines of the black areas of a black-and-white picture: every
// interior pixel whose 3 x 3 neighbourhood is black through and through
// (blue, green and red all 0, read from the picture as given) becomes white
// with the fourth byte 255; everything else keeps its value. Pictures with
// fewer than 3 rows or columns come back as they are.
TBitmap32 penandink(const TBitmap32& twoValue);

// Colours the ink: every pixel of outlines whose red byte is 0 takes blue,
// green and red from the same pixel of source and the fourth byte 255.
// Both pictures must have the same size (PlumoraError otherwise).
void ColorValue(TBitmap32& outlines, const TBitmap32& source);

// Pen and ink: PictureTwoValue of source at thread, then penandink, then with
// colorInk ColorValue from source. Computed in one pass over memory.
TBitmap32 penAndInk(const TBitmap32& source, int thread, bool colorInk);

}  // namespace plumora
