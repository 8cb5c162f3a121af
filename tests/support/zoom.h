#pragma once

#include "raster/errors.h"
#include "raster/geometry.h"
#include "raster/limits.h"
#include "raster/rounding.h"

#include <cmath>

namespace plumora::test {

// The reduction the colour panel is defined by, as a reference: picture
// stretched in place by two factors to Trunc(xFactor * width) x
// Trunc(yFactor * height) with the colour-on-colour stretch. Sizes outside
// what we can hold (or a factor that is not a number) raise
// ImageTooLargeError and leave the picture as it was.
inline void ZoomInandOut(TBitmap32& picture, double xFactor, double yFactor)
{
    const double w = xFactor * picture.width();
    const double h = yFactor * picture.height();
    if (!std::isfinite(w) || !std::isfinite(h) || w >= double(kMaxPixels) + 1 || h >= double(kMaxPixels) + 1 ||
        w <= -1 || h <= -1)
        throw ImageTooLargeError("The picture cannot be stretched to that size.");
    picture = stretchTo(picture, int(Trunc(w)), int(Trunc(h)));
}

}  // namespace plumora::test
