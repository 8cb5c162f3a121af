#pragma once

#include <cstddef>
#include <cstdint>

#include "raster/bitmap32.h"

namespace plumora {

// Decodes an icon (.ico) or cursor (.cur) file held in memory. Of the pictures
// it holds, the largest is shown, and among the largest the deepest. The fourth
// byte carries its transparency: the picture's own alpha where it has one,
// otherwise 255 for opaque and 0 for transparent pixels. Throws PlumoraError
// (or ImageTooLargeError) with a message for the user on anything malformed;
// never reads outside data.
TBitmap32 decodeIco(const std::uint8_t* data, std::size_t size);

}  // namespace plumora
