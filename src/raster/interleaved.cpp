#include "raster/interleaved.h"

#include "raster/parallel.h"
#include "raster/simd.h"

#include <atomic>
#include <cstddef>
#include <cstring>

namespace plumora {
namespace {

// Each loop below is one pixel at a time in plain C++: a whole number of
// pixels in, a whole 32-bit pixel out, which the compiler turns into
// shuffles of whole vectors at every level.

[[gnu::always_inline]] inline void fromGreyPlain(const std::uint8_t* __restrict in, std::uint8_t* __restrict out,
                                                 std::size_t count, std::uint32_t)
{
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t g = in[i];
        const std::uint32_t pixel = 0xFF000000u | g << 16 | g << 8 | g;
        std::memcpy(out + i * 4, &pixel, 4);
    }
}

[[gnu::always_inline]] inline void fromRgbPlain(const std::uint8_t* __restrict in, std::uint8_t* __restrict out,
                                                std::size_t count, std::uint32_t)
{
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t r = in[3 * i], g = in[3 * i + 1], b = in[3 * i + 2];
        const std::uint32_t pixel = 0xFF000000u | r << 16 | g << 8 | b;
        std::memcpy(out + i * 4, &pixel, 4);
    }
}

// opaque: 0xFF000000 to make every pixel opaque, 0 to keep each alpha.
[[gnu::always_inline]] inline void fromRgbaPlain(const std::uint8_t* __restrict in, std::uint8_t* __restrict out,
                                                 std::size_t count, std::uint32_t opaque)
{
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t r = in[4 * i], g = in[4 * i + 1], b = in[4 * i + 2], a = in[4 * i + 3];
        const std::uint32_t pixel = opaque | a << 24 | r << 16 | g << 8 | b;
        std::memcpy(out + i * 4, &pixel, 4);
    }
}

[[gnu::always_inline]] inline void toGreyPlain(const std::uint8_t* __restrict in, const std::uint8_t* __restrict,
                                               std::uint8_t* __restrict out, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        out[i] = in[4 * i + kRed];
}

[[gnu::always_inline]] inline void toRgbPlain(const std::uint8_t* __restrict in, const std::uint8_t* __restrict,
                                              std::uint8_t* __restrict out, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        out[3 * i] = in[4 * i + kRed];
        out[3 * i + 1] = in[4 * i + kGreen];
        out[3 * i + 2] = in[4 * i + kBlue];
    }
}

[[gnu::always_inline]] inline void toRgbaPlain(const std::uint8_t* __restrict in, const std::uint8_t* __restrict,
                                               std::uint8_t* __restrict out, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        out[4 * i] = in[4 * i + kRed];
        out[4 * i + 1] = in[4 * i + kGreen];
        out[4 * i + 2] = in[4 * i + kBlue];
        out[4 * i + 3] = in[4 * i + kAlpha];
    }
}

[[gnu::always_inline]] inline void toRgbOpaquePlain(const std::uint8_t* __restrict in, const std::uint8_t* __restrict,
                                                    std::uint8_t* __restrict out, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        out[4 * i] = in[4 * i + kRed];
        out[4 * i + 1] = in[4 * i + kGreen];
        out[4 * i + 2] = in[4 * i + kBlue];
        out[4 * i + 3] = 255;
    }
}

// The alpha from `alpha`'s fourth samples instead of the picture's.
[[gnu::always_inline]] inline void toRgbaAlphaFromPlain(const std::uint8_t* __restrict in,
                                                        const std::uint8_t* __restrict alpha,
                                                        std::uint8_t* __restrict out, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        out[4 * i] = in[4 * i + kRed];
        out[4 * i + 1] = in[4 * i + kGreen];
        out[4 * i + 2] = in[4 * i + kBlue];
        out[4 * i + 3] = alpha[4 * i + 3];
    }
}

// Nonzero when some pixel's colours differ.
[[gnu::always_inline]] inline std::uint32_t colourBitsPlain(const std::uint8_t* __restrict in, std::size_t count)
{
    std::uint32_t differ = 0;
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t pixel;
        std::memcpy(&pixel, in + 4 * i, 4);
        // Blue against green and green against red, in their own bytes.
        differ |= (pixel ^ pixel >> 8) & 0x0000FFFFu;
    }
    return differ;
}

using FromFn = void (*)(const std::uint8_t*, std::uint8_t*, std::size_t, std::uint32_t);
using ToFn = void (*)(const std::uint8_t*, const std::uint8_t*, std::uint8_t*, std::size_t);

FromFn fromPath(int channels)
{
    return channels == 1   ? perLevelPath<fromGreyPlain>()
           : channels == 3 ? perLevelPath<fromRgbPlain>()
                           : perLevelPath<fromRgbaPlain>();
}

ToFn toPath(int channels, AlphaOut alpha)
{
    return channels == 1               ? perLevelPath<toGreyPlain>()
           : channels == 3             ? perLevelPath<toRgbPlain>()
           : alpha == AlphaOut::From   ? perLevelPath<toRgbaAlphaFromPlain>()
           : alpha == AlphaOut::Opaque ? perLevelPath<toRgbOpaquePlain>()
                                       : perLevelPath<toRgbaPlain>();
}

}  // namespace

void pictureFromRows(const std::uint8_t* const* rows, int channels, bool withAlpha, TBitmap32& picture)
{
    const std::size_t width = std::size_t(picture.width());
    const FromFn path = fromPath(channels);
    const std::uint32_t opaque = withAlpha ? 0 : 0xFF000000u;
    parallelRows(picture.height(), [&](int first, int end) {
        for (int y = first; y < end; ++y)
            path(rows[y], picture.bits() + std::size_t(y) * width * 4, width, opaque);
    });
}

void rowsFromPicture(const TBitmap32& picture, int channels, AlphaOut alpha, const std::uint8_t* const* alphaRows,
                     std::uint8_t* const* rows)
{
    const std::size_t width = std::size_t(picture.width());
    const ToFn path = toPath(channels, alpha);
    parallelRows(picture.height(), [&](int first, int end) {
        for (int y = first; y < end; ++y)
            path(picture.bits() + std::size_t(y) * width * 4, alpha == AlphaOut::From ? alphaRows[y] : nullptr, rows[y],
                 width);
    });
}

bool isGreyPicture(const TBitmap32& picture)
{
    const std::size_t width = std::size_t(picture.width());
    const auto path = perLevelPath<colourBitsPlain>();
    std::atomic<bool> grey{true};
    parallelRows(picture.height(), [&](int first, int end) {
        if (path(picture.bits() + std::size_t(first) * width * 4, std::size_t(end - first) * width) != 0)
            grey.store(false, std::memory_order_relaxed);
    });
    return grey.load();
}

}  // namespace plumora
