#pragma once

#include <cstddef>
#include <cstdint>

#include "raster/bitmap32.h"

namespace plumora {

// Decodes the first picture of a GIF file held in memory (giflib), drawn on a
// canvas of the file's screen size. The fourth byte is 255 where the picture
// has an opaque pixel and 0 elsewhere (its transparent pixels and the canvas
// around it, which show the background colour). Later pictures of an
// animation are not read. Throws PlumoraError (or ImageTooLargeError) with a
// message for the user on anything malformed.
TBitmap32 decodeGif(const std::uint8_t* data, std::size_t size);

}  // namespace plumora
