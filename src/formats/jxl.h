#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "raster/bitmap32.h"

namespace plumora {

// Whether the bytes begin as a JPEG XL file does: a bare codestream
// (FF 0A) or the ISO media container's signature box.
bool looksLikeJxl(const std::uint8_t* data, std::size_t size);

// Decodes a JPEG XL file held in memory (libjxl) into an opaque 32-bit
// picture (255 in every fourth byte; an alpha channel is not used), turned
// upright as the file's orientation says, its samples reduced to 8 bits by
// rounding. An animation gives its first frame. The size is checked against
// the program's limit as soon as the header is read, before any pixel is
// decoded. Throws NotValidFormatError naming what is wrong for a file
// libjxl cannot read, or one cut short.
TBitmap32 decodeJxl(const std::uint8_t* data, std::size_t size);

// The ICC profile of the colours a JPEG XL file decodes to, when they are
// not sRGB: the file's own profile, or one libjxl writes for the colour
// space the file names (Display P3, say). Empty for sRGB, and for a file
// whose header cannot be read. Only the headers are decoded.
std::vector<std::uint8_t> jxlColourProfile(const std::uint8_t* data, std::size_t size);

}  // namespace plumora
