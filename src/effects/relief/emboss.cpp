#include "effects/relief/emboss.h"

#include "raster/colour.h"
#include "raster/errors.h"
#include "raster/parallel.h"
#include "raster/simd.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace plumora {

namespace {

// A difference of two bytes lies in -255..255: once |lighting + 50| reaches
// 510 every v is 255 whatever the pixels. Clamping the offset there changes
// no result, keeps the sums small and lets any lighting in without overflow.
constexpr int kOffsetLimit = 510;

// v := min(|here - there + offset|, 255) for `bytes` bytes, the fourth bytes
// included (the grey weights then ignore them).
[[gnu::always_inline]] inline void differencesPlain(const std::uint8_t* __restrict here,
                                                    const std::uint8_t* __restrict there, std::uint8_t* __restrict v,
                                                    int bytes, int offset)
{
    // In 16-bit lanes: |offset| is at most 510, so every sum fits.
    const std::int16_t shift = std::int16_t(offset);
    for (int i = 0; i < bytes; ++i) {
        const std::int16_t d = std::int16_t(std::int16_t(here[i]) - std::int16_t(there[i]) + shift);
        const std::int16_t magnitude = d < 0 ? std::int16_t(-d) : d;
        v[i] = std::uint8_t(magnitude < 255 ? magnitude : 255);
    }
}

void differences(const std::uint8_t* here, const std::uint8_t* there, std::uint8_t* v, int bytes, int offset)
{
    perLevelPath<differencesPlain>()(here, there, v, bytes, offset);
}

// Opaque greys from grey values.
[[gnu::always_inline]] inline void spreadGreysPlain(const std::uint8_t* __restrict grey, std::uint8_t* __restrict out,
                                                    int count)
{
    for (int i = 0; i < count; ++i) {
        const std::uint32_t g = grey[i];
        const std::uint32_t pixel = 0xFF000000u | g << 16 | g << 8 | g;
        std::memcpy(out + std::size_t(i) * 4, &pixel, 4);
    }
}

void spreadGreys(const std::uint8_t* grey, std::uint8_t* out, int count)
{
    perLevelPath<spreadGreysPlain>()(grey, out, count);
}

// A pixel the relief does not reach keeps its colours. The relief is worked
// out on a picture without a fourth byte, so the whole result is opaque:
// these pixels get 255 there too, like the grey ones.
void keepPixels(const std::uint8_t* in, std::uint8_t* out, int count)
{
    for (int i = 0; i < count; ++i) {
        std::uint32_t pixel;
        std::memcpy(&pixel, in + std::size_t(i) * 4, 4);
        pixel |= 0xFF000000u;
        std::memcpy(out + std::size_t(i) * 4, &pixel, 4);
    }
}

// Row y of the relief from row y (here) and row y + depth (below) of the
// source; the row has at least two pixels.
void embossRow(const std::uint8_t* here, const std::uint8_t* below, std::uint8_t* out, int width, int depth, int offset)
{
    const int processed = width - 1;  // the last column keeps its colours
    // Columns whose neighbour x + depth is still inside the row. For the
    // others (the last depth - 1 processed columns) the neighbour would lie
    // past the right edge: the row's last pixel stands in for it, as if x + depth
    // were clamped to W - 1.
    const int inside = int(std::clamp<std::int64_t>(std::int64_t(width) - depth, 0, processed));
    const std::uint8_t* lastBelow = below + std::size_t(width - 1) * 4;

    constexpr int kPiece = 1024;
    std::uint8_t v[kPiece * 4];
    std::uint8_t grey[kPiece];
    for (int x0 = 0; x0 < processed; x0 += kPiece) {
        const int n = std::min(kPiece, processed - x0);
        const int direct = std::clamp(inside - x0, 0, n);
        if (direct > 0)
            differences(here + std::size_t(x0) * 4, below + (std::size_t(x0) + std::size_t(depth)) * 4, v, direct * 4,
                        offset);
        for (int i = direct; i < n; ++i)
            differencesPlain(here + std::size_t(x0 + i) * 4, lastBelow, v + std::size_t(i) * 4, 4, offset);
        greyRow(v, std::size_t(n), grey);
        spreadGreys(grey, out + std::size_t(x0) * 4, n);
    }
    keepPixels(here + std::size_t(processed) * 4, out + std::size_t(processed) * 4, 1);
}

}  // namespace

TBitmap32 emboss(const TBitmap32& source, int lighting, int depth)
{
    if (depth < 1)
        throw PlumoraError("The emboss depth must be at least 1.");
    const int w = source.width();
    const int h = source.height();
    const int offset = int(std::clamp<std::int64_t>(std::int64_t(lighting) + 50, -kOffsetLimit, kOffsetLimit));
    TBitmap32 result(w, h);
    if (result.empty())
        return result;
    // Every pixel is computed from the unchanged source, so bands of rows are
    // independent: row y reads rows y and y + depth, writes only row y.
    parallelRows(h, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            const std::uint8_t* here = source.ScanLine(y);
            std::uint8_t* out = result.ScanLine(y);
            if (std::int64_t(y) + depth < h && w >= 2)
                embossRow(here, source.ScanLine(y + depth), out, w, depth, offset);
            else
                keepPixels(here, out, w);  // the last depth rows, or a picture one pixel wide
        }
    });
    return result;
}

}  // namespace plumora
