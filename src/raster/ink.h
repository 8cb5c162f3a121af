#pragma once

#include <cstdint>

#include "raster/colour.h"

namespace plumora {

// Black-and-white rows as ink bytes, one a pixel: 0xFF where the pixel is
// black (ink), 0 where it is white, as darkRow cuts them. The sketches cut,
// grow and trim their lines in this form, a quarter of the size of the
// pixels, then paint them.

// The same cut painted: black pixels where the grey value is at most
// `limit`, white ones elsewhere. `out` may be `pixels`.
void paintInkRowOf(const std::uint8_t* pixels, int width, const GreyWeights& weights, int limit, std::uint8_t* out);

// Black (0, 0, 0, 255) where ink, white (255, 255, 255, 255) elsewhere.
void paintInk(const std::uint8_t* ink, std::uint8_t* pixels, int width);

// The photograph's colour with the fourth byte 255 where ink, white elsewhere.
void paintColourInk(const std::uint8_t* ink, const std::uint8_t* photo, std::uint8_t* pixels, int width);

}  // namespace plumora
