#pragma once

#include <cstdint>

#include "raster/bitmap32.h"

namespace plumora {

// Pictures handed over as rows of interleaved 8-bit samples, as numpy and
// Pillow hold them: 1 sample a pixel (grey), 3 (R, G, B) or 4 (R, G, B, A),
// the rows one after the other with nothing between them. These run on the
// vector paths of every level and over the picture's rows on every thread:
// the hand-over costs about what copying the samples once costs.

// The picture's pixels from rows of samples: rows[y] is row y's first
// sample, picture.width() pixels of `channels` samples each. A grey sample
// becomes the three colours; the fourth byte is 255, or the fourth sample
// when withAlpha is set and there is one.
void pictureFromRows(const std::uint8_t* const* rows, int channels, bool withAlpha, TBitmap32& picture);

// What the fourth sample of a pixel of 4 written out is.
enum class AlphaOut {
    Own,     // the picture's fourth byte
    Opaque,  // 255
    From,    // the fourth sample of the same pixel in other rows of 4 samples
};

// The picture's pixels into rows of `channels` samples: 1 takes the red
// (for a grey picture, where the three are equal), 3 the colours, 4 the
// colours and the alpha as `alpha` says (alphaRows for AlphaOut::From).
void rowsFromPicture(const TBitmap32& picture, int channels, AlphaOut alpha, const std::uint8_t* const* alphaRows,
                     std::uint8_t* const* rows);

// Whether every pixel's three colours are equal.
bool isGreyPicture(const TBitmap32& picture);

}  // namespace plumora
