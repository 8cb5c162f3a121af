#pragma once

#include "raster/bitmap32.h"

namespace plumora {

// Dozadir Pressure: the threshold on the grey value of the inverted edge picture.
inline constexpr int kDozadirPressureMin = 0;
inline constexpr int kDozadirPressureMax = 255;
inline constexpr int kDozadirPressureDefault = 128;
// Scope: how many growth steps.
inline constexpr int kDozadirScopeMin = 1;
inline constexpr int kDozadirScopeMax = 10;
inline constexpr int kDozadirScopeDefault = 3;

// The directions in which the black lines grow, as the dialog numbers them.
inline constexpr int kDirectionRising = 1;      // "///": lower-left and upper-right neighbours
inline constexpr int kDirectionFalling = 2;     // "\\\": upper-left and lower-right
inline constexpr int kDirectionVertical = 3;    // "| | |": below and above
inline constexpr int kDirectionHorizontal = 4;  // "==": left and right

// Dozadir: the pen sketch of source at pressure, then scope steps of growth
// of its black lines in the direction. One step turns black every interior
// pixel whose blue, green and red are all non-zero and one of whose two
// neighbours in the direction had blue, green and red all zero before the
// step; the border rows and columns never change, and a direction outside
// 1..4 changes nothing.
// Computed without going through the steps one by one: after scope steps an
// interior pixel is black exactly when a black pixel lies at most scope
// places away along the direction's line (every pixel between them is
// interior, so the black spreads one place a step), which two passes over
// memory give for any scope.
TBitmap32 dozadir(const TBitmap32& source, int pressure, int scope, int direction);

}  // namespace plumora
