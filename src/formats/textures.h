#pragma once

#include "raster/bitmap32.h"

namespace plumora {

// The texture tiles that come with the program, texture1 .. texture15:
// 58 x 58 greys, stored as PNG files among the program's resources.
// Any other number raises PlumoraError.
TBitmap32 builtInTexture(int number);

}  // namespace plumora
