#pragma once

#include <cstdint>
#include <vector>

#include "formats/metadata.h"
#include "raster/bitmap32.h"

namespace plumora {

// The writers of today's formats, each through its own library. Each writes
// the picture's colour bytes as 8-bit RGB (the fourth byte is not written,
// as for JPEG and BMP) at 96 dots an inch where the format records it, and
// throws PlumoraError naming the reason when it cannot. Each embeds the
// metadata's profile and Exif block as given (encodePicture prepares them);
// without any, it writes exactly what it always wrote.

// PNG through libpng at compression level 6, libpng's own filter choice.
std::vector<std::uint8_t> encodePng(const TBitmap32& picture, const PictureMetadata& metadata = {});

// WebP through libwebp: lossy at quality 1..100, or lossless. A WebP side
// is at most 16383 pixels. With metadata, the extended format (VP8X) holds
// the profile (ICCP) and the Exif block (EXIF) around libwebp's picture.
std::vector<std::uint8_t> encodeWebp(const TBitmap32& picture, int quality, bool lossless,
                                     const PictureMetadata& metadata = {});

// TIFF through libtiff: one image, deflate with the horizontal predictor.
// The profile is tag 34675; the Exif block's camera tags join the first
// directory, its Exif and GPS directories follow it.
std::vector<std::uint8_t> encodeTiff(const TBitmap32& picture, const PictureMetadata& metadata = {});

}  // namespace plumora
