#pragma once

#include "raster/bitmap32.h"

#include <vector>

namespace plumora {

// The colour variety's six swatches, in the window's order.
enum class ColorVarietyKind { MoreRed = 1, MoreGreen = 2, MoreBlue = 3, MoreYellow = 4, MoreCyan = 5, MorePurple = 6 };

// What one click adds to each of its channels, with a ceiling of 255.
inline constexpr int kColorVarietyStep = 10;

// One click, in place: the swatch's channels (red; green; blue; red and
// green; green and blue; blue and red) of every pixel go up by 10, each at
// most 255; the fourth byte becomes 255.
void colorVarietyStep(TBitmap32& picture, ColorVarietyKind kind);

// base after the clicks `steps`, in order: the same pixels as
// colorVarietyStep once per click, in one pass. No clicks give base as it is,
// fourth bytes included.
TBitmap32 colorVariety(const TBitmap32& base, const std::vector<ColorVarietyKind>& steps);

}  // namespace plumora
