#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "formats/metadata.h"
#include "raster/bitmap32.h"

namespace plumora {

// Decodes a JPEG file held in memory (libjpeg-turbo) into an opaque 32-bit
// picture (255 in every fourth byte), turned upright as its Exif orientation
// says. Throws PlumoraError with the decoder's message on anything it cannot
// decode, including a file cut short.
TBitmap32 decodeJpeg(const std::uint8_t* data, std::size_t size);

// Encodes a picture as a baseline colour JPEG at the given quality (the
// program saves at 90), with the metadata's Exif block in an APP1 segment
// (left out when larger than kMaxJpegExif) and its profile in APP2
// "ICC_PROFILE" chunks, both as given: encodePicture prepares them.
std::vector<std::uint8_t> encodeJpeg(const TBitmap32& picture, int quality = 90, const PictureMetadata& metadata = {});

}  // namespace plumora
