#pragma once

#include "raster/bitmap32.h"

namespace plumora {

// Lighting: added to every difference, plus 50; 100 makes flat areas grey 150.
inline constexpr int kEmbossLightingMin = 0;
inline constexpr int kEmbossLightingMax = 200;
inline constexpr int kEmbossLightingDefault = 100;
// Depth: how many steps down and to the right the compared pixel lies.
inline constexpr int kEmbossDepthMin = 1;
inline constexpr int kEmbossDepthMax = 5;
inline constexpr int kEmbossDepthDefault = 3;

// The emboss relief. Each pixel (x, y) of rows 0..H-depth-1 and columns
// 0..W-2 becomes the opaque grey
//   Round(0.3*v_red + 0.59*v_green + 0.11*v_blue),
//   v_c = min(|P(x, y, c) - P(x + depth, y + depth, c) + lighting + 50|, 255),
// where a column x + depth beyond the right edge reads the row's last pixel.
// The last depth rows and the last column keep the source's colours. Every
// pixel of the result is opaque (fourth byte 255), the kept ones included.
// Throws PlumoraError for a depth below 1; any lighting is accepted.
TBitmap32 emboss(const TBitmap32& source, int lighting, int depth);

}  // namespace plumora
