#pragma once

#include <cstdint>
#include <functional>

#include "raster/bitmap32.h"

namespace plumora {

// Replaces the picture by its inverted edge picture: per colour channel the
// larger of two 3x3 responses (the centre against the rows above and below,
// and the left column against the right one), each clamped to 0..255, with
// the border rows and columns copied from their inner neighbours, then every
// colour byte v turned into 255 - v: dark edges on a light ground. The fourth
// byte keeps the input's value.
//
// A picture one pixel high has no row to copy its top row from: that raises
// ScanLineError and leaves the picture untouched. A picture one pixel wide and
// at least three high has no column to copy its sides from; we leave it
// unchanged rather than invent a neighbour.
void picsobel(TBitmap32& bitmap);

// The same result as a new picture; source is not changed.
TBitmap32 picsobelOf(const TBitmap32& source);

// The rows of picsobelOf(source), handed one by one to sink(y, row) (row is
// width x 4 bytes, valid only during the call; its fourth bytes are not
// set, as the sinks read only colours) on the threads of
// parallelRows, without building the whole edge picture: effects that go on
// working on the edge picture pixel by pixel use this to save a pass over
// memory. Raises ScanLineError, before any call, for a one-pixel-high picture.
void forEachPicsobelRow(const TBitmap32& source, const std::function<void(int, const std::uint8_t*)>& sink);

}  // namespace plumora
