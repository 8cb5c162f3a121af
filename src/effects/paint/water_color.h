#pragma once

#include "raster/bitmap32.h"

namespace plumora {

// Scope: how many cycles of sharpen, soften, soften.
inline constexpr int kWaterColorScopeMin = 1;
inline constexpr int kWaterColorScopeMax = 5;
inline constexpr int kWaterColorScopeDefault = 3;

// One sharpening pass, in place: every interior channel becomes
// 5 * itself - its four direct neighbours, clamped to 0..255, all read from
// the picture as it was before the pass.
void sharpen(TBitmap32& bitmap);

// One 3x3 median pass, in place: every interior channel becomes the median
// of the nine values around it, read from the picture as it was before the
// pass.
void soften(TBitmap32& bitmap);

// In both passes the one-pixel frame and every fourth byte stay as they
// were, and a picture less than 3 pixels wide or high does not change.

// The water colour: scope cycles of sharpen, soften, soften on a copy of
// source, each cycle worked out in one pass over memory.
TBitmap32 waterColor(const TBitmap32& source, int scope);

}  // namespace plumora
