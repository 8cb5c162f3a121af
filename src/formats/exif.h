#pragma once

#include <cstddef>
#include <cstdint>

#include "raster/bitmap32.h"

namespace plumora {

// The orientation a camera recorded in an Exif block (the body of a JPEG
// APP1 segment, starting with "Exif\0\0"): 1..8 as Exif defines them, or 1
// when the block has none or cannot be read. A damaged block is ignored
// rather than refused: the picture itself is still good.
int exifOrientation(const std::uint8_t* app1, std::size_t size);

// Turns or mirrors a picture as the orientation says, so that it shows
// upright: 6 is a quarter turn clockwise, 8 anticlockwise, 3 a half turn,
// 2 and 4 mirror, 5 and 7 mirror across a diagonal.
TBitmap32 orientUpright(TBitmap32 picture, int orientation);

}  // namespace plumora
