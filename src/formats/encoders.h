#pragma once

#include <cstdint>
#include <vector>

#include "raster/bitmap32.h"

namespace plumora {

// The writers of today's formats, each through its own library. Each writes
// the picture's colour bytes as 8-bit RGB (the fourth byte is not written,
// as for JPEG and BMP) at 96 dots an inch where the format records it, and
// throws PlumoraError naming the reason when it cannot.

// PNG through libpng at compression level 6, libpng's own filter choice.
std::vector<std::uint8_t> encodePng(const TBitmap32& picture);

// WebP through libwebp: lossy at quality 1..100, or lossless. A WebP side
// is at most 16383 pixels.
std::vector<std::uint8_t> encodeWebp(const TBitmap32& picture, int quality, bool lossless);

// TIFF through libtiff: one image, deflate with the horizontal predictor.
std::vector<std::uint8_t> encodeTiff(const TBitmap32& picture);

}  // namespace plumora
