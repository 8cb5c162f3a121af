#include "effects/sketch/dozadir.h"

#include "raster/colour.h"
#include "raster/parallel.h"
#include "raster/picsobel.h"

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

bool allColourZero(const std::uint8_t* p)
{
    return p[kBlue] == 0 && p[kGreen] == 0 && p[kRed] == 0;
}

bool allColourSet(const std::uint8_t* p)
{
    return p[kBlue] != 0 && p[kGreen] != 0 && p[kRed] != 0;
}

// Ink bytes: 0xFF for a black pixel of the pen sketch, 0 for a white one.
constexpr std::uint8_t kInk = 0xFF;

// The pen sketch cut of one edge row, as ink bytes.
void inkRow(const std::uint8_t* edges, std::uint8_t* ink, int width, int pressure)
{
    forEachGreyPiece(edges, width, kGreyWeights, [ink, pressure](int x0, const std::uint8_t* grey, int n) {
        // Locals, not the closure's members: a store through a byte pointer
        // could change those, so the compiler would reload them every pixel
        // and not vectorise the loop.
        std::uint8_t* out = ink + x0;
        const int limit = pressure;
        for (int i = 0; i < n; ++i)
            out[i] = grey[i] > limit ? 0 : kInk;
    });
}

// Black (0, 0, 0, 255) where ink, white (255, 255, 255, 255) elsewhere.
void writeInk(const std::uint8_t* __restrict ink, std::uint8_t* __restrict out, int width)
{
    auto* px = reinterpret_cast<std::uint32_t*>(out);
    for (int x = 0; x < width; ++x)
        px[x] = 0xFFFFFFFFu ^ (std::uint32_t(ink[x]) * 0x010101u);
}

void orInto(std::uint8_t* __restrict acc, const std::uint8_t* __restrict from, int count)
{
    for (int i = 0; i < count; ++i)
        acc[i] |= from[i];
}

}  // namespace

bool BitmapDilate(TBitmap32& bitmap, int direction)
{
    Step step{0, 0};
    const int w = bitmap.width();
    const int h = bitmap.height();
    if (!stepOf(direction, step) || w < 3 || h < 3)
        return true;
    // Neighbours are read from the picture as it was before this step, so a
    // pixel turned black now does not pass it on until the next step.
    const TBitmap32 before = bitmap;
    parallelRows(h - 2, [&](int r0, int r1) {
        for (int y = r0 + 1; y < r1 + 1; ++y) {
            std::uint8_t* row = bitmap.ScanLine(y);
            const std::uint8_t* ahead = before.ScanLine(y + step.dy);
            const std::uint8_t* behind = before.ScanLine(y - step.dy);
            for (int x = 1; x < w - 1; ++x) {
                std::uint8_t* p = row + x * 4;
                if (allColourSet(p) &&
                    (allColourZero(ahead + (x + step.dx) * 4) || allColourZero(behind + (x - step.dx) * 4)))
                    p[kBlue] = p[kGreen] = p[kRed] = 0;
            }
        }
    });
    return true;
}

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
    auto ink = std::make_unique_for_overwrite<std::uint8_t[]>(line * std::size_t(h));
    forEachPicsobelRow(source, [&](int y, const std::uint8_t* edges) {
        inkRow(edges, ink.get() + std::size_t(y) * line, w, pressure);
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
                writeInk(own, result.ScanLine(y), w);  // border rows never change
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
            writeInk(acc.data(), result.ScanLine(y), w);
        }
    });
    return result;
}

}  // namespace plumora
