#include "raster/preview.h"

#include "raster/rounding.h"

#include <algorithm>

namespace plumora {

PreviewPlace DisplayImage(int pictureWidth, int pictureHeight)
{
    const int w = std::max(pictureWidth, 0);
    const int h = std::max(pictureHeight, 0);
    // For whole numbers, w / h > 1 is w > h, with h = 0 and w > 0 counting as
    // infinitely wide; MulDiv then never meets a zero divisor except for the
    // empty picture, whose side is 0.
    if (w > h) {
        const int a = MulDiv(kPreviewFrameSize, h, w);
        return {2, (kPreviewFrameSize - a) / 2 + 2, kPreviewFrameSize, a + 2};
    }
    const int a = h == 0 ? 0 : MulDiv(kPreviewFrameSize, w, h);
    return {(kPreviewFrameSize - a) / 2 + 2, 2, a + 2, kPreviewFrameSize};
}

}  // namespace plumora
