#pragma once

#include <array>

#include "raster/bitmap32.h"

namespace plumora {

// The nine weights of a 3x3 kernel as the user types them, row by row: the
// row above (left, centre, right neighbour), the pixel's own row, the row
// below. Any int is allowed.
using Kernel3x3 = std::array<int, 9>;

// What "Default" puts back. Realism's weights sum to 1: flat areas keep their
// colour. Pop art's is the vertical gradient (the row below minus the row
// above). Abstract's weights are all 0 or negative, so only its fixed kernel
// shows.
inline constexpr Kernel3x3 kRealismDefaultKernel = {1, 2, 1, 0, 0, 0, -1, -1, -1};
inline constexpr Kernel3x3 kPopArtDefaultKernel = {-1, -2, -1, 0, 0, 0, 1, 2, 1};
inline constexpr Kernel3x3 kAbstractDefaultKernel = {-1, -1, -1, 0, 0, 0, -1, -1, -1};

// Realism: Convolve with divisor 1. Every interior pixel's blue, green and
// red become the kernel's weighted sum of the source's 3x3 neighbourhood,
// clamped to 0..255, and its fourth byte 255; the one-pixel frame keeps the
// source, fourth byte included. A picture less than 3 pixels wide or high
// comes back unchanged.
TBitmap32 realism(const TBitmap32& source, const Kernel3x3& kernel);

// Pop art and abstract: per interior pixel and channel the larger of the
// kernel's clamped response and a fixed edge kernel's (pop art: the right
// column minus the left one, its own row counted twice; abstract: the left
// column minus the right one, rows equal), fourth byte 0; the frame then
// repeats its inner neighbours (columns first, then the top and bottom
// rows), and every colour byte is inverted: flat areas come out white.
//
// A picture one pixel high raises ScanLineError: its top row would be copied
// from a row 1 it does not have. A picture one pixel wide and at least three
// high has no columns to copy its sides from and comes back unchanged.
TBitmap32 popArt(const TBitmap32& source, const Kernel3x3& kernel);
TBitmap32 abstractArt(const TBitmap32& source, const Kernel3x3& kernel);

}  // namespace plumora
