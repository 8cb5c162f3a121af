#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "raster/bitmap32.h"

namespace plumora {

// Decodes a BMP file held in memory into a 32-bit picture of its size.
// The fourth byte is the file's alpha where the file has one (32-bit files
// with an alpha mask), 0 otherwise. Throws PlumoraError (or
// ImageTooLargeError) with a message for the user on anything malformed;
// never reads outside data.
TBitmap32 decodeBmp(const std::uint8_t* data, std::size_t size);

// Encodes a picture as a 24-bit BMP (bottom-up, BITMAPINFOHEADER).
std::vector<std::uint8_t> encodeBmp24(const TBitmap32& picture);

}  // namespace plumora
