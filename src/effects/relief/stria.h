#pragma once

#include "raster/bitmap32.h"

#include <cstdint>

namespace plumora {

enum class StriaDirection { Vertical, Horizontal };

// Thickness: stripe width in pixels.
inline constexpr int kStriaThicknessMin = 1;
inline constexpr int kStriaThicknessMax = 100;
inline constexpr int kStriaThicknessDefault = 1;
// Space: gap between stripes in pixels.
inline constexpr int kStriaSpaceMin = 1;
inline constexpr int kStriaSpaceMax = 255;
inline constexpr int kStriaSpaceDefault = 2;
// Transparency: 0 paints solid stripes, 255 leaves the picture as it is.
inline constexpr int kStriaTransparencyMin = 0;
inline constexpr int kStriaTransparencyMax = 255;
inline constexpr int kStriaTransparencyDefault = 128;
// Stripe colour as 0xRRGGBB: black.
inline constexpr std::uint32_t kStriaColourDefault = 0x000000;

// The stria: a layer of the picture's size whose columns (Vertical) or rows
// (Horizontal) i with i mod (thickness + space) < thickness are stripes of
// the colour (0xRRGGBB; the top byte is ignored) with fourth byte
// 255 - transparency, and whose other pixels are white with fourth byte 0,
// composited over the picture with DrawTo at (0, 0). The result is exactly
// that, for a picture with any fourth bytes, though no layer is built.
// Throws PlumoraError for a negative thickness or space, both zero, or a
// transparency outside 0..255.
TBitmap32 stria(const TBitmap32& source, StriaDirection direction, int thickness, int space, int transparency,
                std::uint32_t rgb);

}  // namespace plumora
