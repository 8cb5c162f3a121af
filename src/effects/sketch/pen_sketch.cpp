#include "effects/sketch/pen_sketch.h"

#include "raster/colour.h"
#include "raster/ink.h"
#include "raster/picsobel.h"

#include <algorithm>

namespace plumora {

namespace {

// Thresholds the width pixels of in into out (which may be the same row).
void thresholdRow(const std::uint8_t* in, std::uint8_t* out, int width, int pressure)
{
    paintInkRowOf(in, width, kGreyWeights, pressure, out);
}

}  // namespace

TBitmap32 penSketch(const TBitmap32& source, int pressure)
{
    TBitmap32 result(source.width(), source.height());
    const int w = source.width();
    forEachPicsobelRow(source,
                       [&](int y, const std::uint8_t* edges) { thresholdRow(edges, result.ScanLine(y), w, pressure); });
    return result;
}

}  // namespace plumora
