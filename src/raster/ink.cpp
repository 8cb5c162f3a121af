#include "raster/ink.h"

#include "raster/simd.h"

#include <algorithm>
#include <cstring>

namespace plumora {

namespace {

// All ones where ink, all zeros where white: the ink byte sign-extended,
// which vectorises to one instruction.
inline std::uint32_t inkMask(std::uint8_t ink)
{
    return std::uint32_t(std::int32_t(std::int8_t(ink)));
}

[[gnu::always_inline]] inline void paintInkPlain(const std::uint8_t* __restrict ink, std::uint8_t* __restrict pixels,
                                                 int width)
{
    for (int x = 0; x < width; ++x) {
        const std::uint32_t out = ~(inkMask(ink[x]) & 0x00FFFFFFu);
        std::memcpy(pixels + std::size_t(x) * 4, &out, 4);
    }
}

[[gnu::always_inline]] inline void paintColourInkPlain(const std::uint8_t* __restrict ink,
                                                       const std::uint8_t* __restrict photo,
                                                       std::uint8_t* __restrict pixels, int width)
{
    for (int x = 0; x < width; ++x) {
        std::uint32_t colour;
        std::memcpy(&colour, photo + std::size_t(x) * 4, 4);
        const std::uint32_t mask = inkMask(ink[x]);
        const std::uint32_t out = ((colour | 0xFF000000u) & mask) | ~mask;
        std::memcpy(pixels + std::size_t(x) * 4, &out, 4);
    }
}

}  // namespace

void paintInkRowOf(const std::uint8_t* pixels, int width, const GreyWeights& weights, int limit, std::uint8_t* out)
{
    // A piece at a time, so that out may be pixels and the ink stays in the cache.
    constexpr int kPiece = 1024;
    std::uint8_t ink[kPiece];
    for (int x0 = 0; x0 < width; x0 += kPiece) {
        const int n = std::min(kPiece, width - x0);
        darkRow(pixels + std::size_t(x0) * 4, std::size_t(n), weights, limit, ink);
        paintInk(ink, out + std::size_t(x0) * 4, n);
    }
}

void paintInk(const std::uint8_t* ink, std::uint8_t* pixels, int width)
{
    perLevelPath<paintInkPlain>()(ink, pixels, width);
}

void paintColourInk(const std::uint8_t* ink, const std::uint8_t* photo, std::uint8_t* pixels, int width)
{
    perLevelPath<paintColourInkPlain>()(ink, photo, pixels, width);
}

}  // namespace plumora
