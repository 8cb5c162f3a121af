#pragma once

#include "raster/bitmap32.h"
#include "raster/colour.h"

namespace plumora {

// The threshold on the ink grey value ("Adjust thread" in the window).
inline constexpr int kInkThresholdMin = 0;
inline constexpr int kInkThresholdMax = 255;
inline constexpr int kInkThresholdDefault = 128;

// The ink grey value: Round(0.299*R + 0.587*G + 0.11*B). The weights add up
// to 0.996, so it never exceeds 254.
inline constexpr GreyWeights kInkWeights(0.299, 0.587, 0.11, 299, 587, 110, 1000);

// Pen and ink: the source cut in black and white at threshold (a pixel whose
// ink grey value is above it turns white, any other black), then every
// interior pixel whose 3 x 3 neighbourhood is black through and through
// cleared to white, so that only the outlines remain; with colorInk the ink
// takes the source's colours. Every fourth byte is 255. Computed in one pass
// over memory.
TBitmap32 penAndInk(const TBitmap32& source, int threshold, bool colorInk);

}  // namespace plumora
