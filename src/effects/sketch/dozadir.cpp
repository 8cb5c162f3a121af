#include "effects/sketch/dozadir.h"

#include "raster/colour.h"
#include "raster/ink.h"
#include "raster/parallel.h"
#include "raster/picsobel.h"
#include "raster/simd.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace plumora {

namespace {

// A direction as a step (dx, dy) along its line: the two neighbours a
// pixel takes black from are (x + dx, y + dy) and (x - dx, y - dy).
struct Step {
    int dx;
    int dy;
};

bool stepOf(int direction, Step& step)
{
    switch (direction) {
    case kDirectionRising:
        step = {-1, 1};  // lower-left; upper-right is its opposite
        return true;
    case kDirectionFalling:
        step = {1, 1};  // lower-right; upper-left
        return true;
    case kDirectionVertical:
        step = {0, 1};
        return true;
    case kDirectionHorizontal:
        step = {1, 0};
        return true;
    default:
        return false;
    }
}

[[gnu::always_inline]] inline void orIntoPlain(std::uint8_t* __restrict acc, const std::uint8_t* __restrict from,
                                               int count)
{
    for (int i = 0; i < count; ++i)
        acc[i] |= from[i];
}

void orInto(std::uint8_t* acc, const std::uint8_t* from, int count)
{
    perLevelPath<orIntoPlain>()(acc, from, count);
}

}  // namespace

TBitmap32 dozadir(const TBitmap32& source, int pressure, int scope, int direction)
{
    const int w = source.width();
    const int h = source.height();
    TBitmap32 result(w, h);
    if (source.empty())
        return result;

    // First pass: the pen sketch as one ink byte a pixel (a quarter of the
    // picture's size), which the second pass reads several rows of at once.
    const std::size_t line = std::size_t(w);
    const PixelBlock ink = takePixelBlock(line * std::size_t(h));
    forEachPicsobelRow(source, [&](int y, const std::uint8_t* edges) {
        darkRow(edges, line, kGreyWeights, pressure, ink.get() + std::size_t(y) * line);
    });

    Step step{0, 0};
    const bool grows = stepOf(direction, step) && scope > 0 && w >= 3 && h >= 3;
    // No point of the line lies further than the longer side away.
    const int reach = grows ? std::min(scope, std::max(w, h)) : 0;

    // Second pass: an interior pixel is ink when any pixel of its line at
    // most reach places away, inside the picture, is ink.
    parallelRows(h, [&](int y0, int y1) {
        std::vector<std::uint8_t> acc(line);
        for (int y = y0; y < y1; ++y) {
            const std::uint8_t* own = ink.get() + std::size_t(y) * line;
            if (!grows || y == 0 || y == h - 1) {
                paintInk(own, result.ScanLine(y), w);  // border rows never change
                continue;
            }
            std::memcpy(acc.data(), own, line);
            for (int t = 1; t <= reach; ++t) {
                for (const int along : {t, -t}) {
                    const int yy = y + step.dy * along;
                    const int shift = step.dx * along;  // acc[x] takes from column x + shift
                    if (yy < 0 || yy >= h || shift >= w || -shift >= w)
                        continue;
                    const int x0 = std::max(0, -shift);
                    const int x1 = std::min(w, w - shift);
                    orInto(acc.data() + x0, ink.get() + std::size_t(yy) * line + (x0 + shift), x1 - x0);
                }
            }
            // The border columns never change either.
            acc[0] = own[0];
            acc[line - 1] = own[line - 1];
            paintInk(acc.data(), result.ScanLine(y), w);
        }
    });
    return result;
}

}  // namespace plumora
