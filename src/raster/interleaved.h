#pragma once

#include <cstdint>

#include "raster/bitmap32.h"

namespace plumora {

// Pictures handed over as rows of interleaved 8-bit samples, as numpy and
// Pillow hold them: 1 sample a pixel (grey), 3 (R, G, B) or 4 (R, G, B, A),
// the rows one after the other with nothing between them. These run on the
// vector paths of every level and over the picture's rows on every thread:
// the hand-over costs about what copying the samples once costs.

// The picture's pixels from `samples` (picture.width() * picture.height()
// pixels of `channels` samples): a grey sample becomes the three colours;
// the fourth byte is 255, or the sample's alpha when withAlpha is set and
// there is one.
void pictureFromInterleaved(const std::uint8_t* samples, int channels, bool withAlpha, TBitmap32& picture);

// The picture's pixels into `samples`, `channels` a pixel: 1 takes the red
// (for a grey picture, where the three are equal), 3 the colours, 4 the
// colours and the fourth byte, or the alpha of `alphaFrom` when it is given
// (pixels of 4 samples, as many as the picture's, whose fourth is taken).
void interleavedFromPicture(const TBitmap32& picture, int channels, const std::uint8_t* alphaFrom,
                            std::uint8_t* samples);

// Whether every pixel's three colours are equal.
bool isGreyPicture(const TBitmap32& picture);

}  // namespace plumora
