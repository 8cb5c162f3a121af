#include "effects/colour/channel_tint.h"

#include "raster/simd.h"

#include <cstddef>
#include <cstring>

namespace plumora {

namespace {

// The tint's bytes repeated over 16 pixels, so that the loops below work on
// 64 bytes at a time with one amount per byte, a shape the compiler turns
// into saturating byte additions and subtractions on every vector width.
struct TintPattern {
    std::uint8_t raise[64];
    std::uint8_t lower[64];

    explicit TintPattern(const ChannelTint& tint)
    {
        for (int j = 0; j < 64; ++j) {
            raise[j] = tint.raise[std::size_t(j % 4)];
            lower[j] = tint.lower[std::size_t(j % 4)];
        }
    }
};

[[gnu::always_inline]] inline std::uint8_t addCapped(std::uint8_t v, std::uint8_t amount)
{
    const std::uint8_t sum = std::uint8_t(v + amount);
    return sum < v ? 255 : sum;
}

[[gnu::always_inline]] inline std::uint8_t subtractFloored(std::uint8_t v, std::uint8_t amount)
{
    const std::uint8_t difference = std::uint8_t(v - amount);
    return difference > v ? 0 : difference;
}

[[gnu::always_inline]] inline std::uint8_t tintByte(std::uint8_t v, const TintPattern& p, std::size_t j)
{
    return subtractFloored(addCapped(v, p.raise[j]), p.lower[j]);
}

// Each block goes through a local copy, so out may be in.
[[gnu::always_inline]] inline void tintRowPlain(const std::uint8_t* in, std::uint8_t* out, int count,
                                                const TintPattern& p)
{
    const std::size_t bytes = std::size_t(count) * 4;
    std::size_t i = 0;
    for (; i + 64 <= bytes; i += 64) {
        std::uint8_t block[64];
        std::memcpy(block, in + i, 64);
        for (std::size_t j = 0; j < 64; ++j)
            block[j] = tintByte(block[j], p, j);
        std::memcpy(out + i, block, 64);
    }
    for (; i < bytes; ++i)
        out[i] = tintByte(in[i], p, i % 64);
}

// Blue, green and red of a block of 16 tinted, the fourth bytes from out.
[[gnu::always_inline]] inline void tintColoursOfBlock(std::uint8_t* block, std::uint8_t* out, const TintPattern& p)
{
    for (std::size_t j = 0; j < 64; ++j) {
        const std::uint8_t fourth = j % 4 == kAlpha ? 0xFF : 0;
        block[j] = std::uint8_t((tintByte(block[j], p, j) & ~fourth) | (out[j] & fourth));
    }
    std::memcpy(out, block, 64);
}

// The colours of a row's pixels tinted into out, 16 at a time.
[[gnu::always_inline]] inline void tintColoursRowPlain(const std::uint8_t* __restrict in, std::uint8_t* __restrict out,
                                                       int count, const TintPattern& p)
{
    int i = 0;
    for (; i + 16 <= count; i += 16) {
        std::uint8_t block[64];
        std::memcpy(block, in + std::size_t(i) * 4, 64);
        tintColoursOfBlock(block, out + std::size_t(i) * 4, p);
    }
    for (; i < count; ++i)
        for (std::size_t j = 0; j < 3; ++j)
            out[std::size_t(i) * 4 + j] = tintByte(in[std::size_t(i) * 4 + j], p, j);
}

// The same from every other pixel: each pair of pixels is read as one
// 64-bit word and cut to its first, which the compiler turns into whole
// vector loads and a narrowing. A block reads the pixel after its last, so
// the last block stops short of the row's end.
[[gnu::always_inline]] inline void tintColoursOfEvenPixelsPlain(const std::uint8_t* __restrict in,
                                                                std::uint8_t* __restrict out, int count,
                                                                const TintPattern& p)
{
    int i = 0;
    for (; i + 16 < count; i += 16) {
        std::uint32_t pixels[16];
        for (int k = 0; k < 16; ++k) {
            std::uint64_t pair;
            std::memcpy(&pair, in + 8 * std::size_t(i + k), 8);
            pixels[k] = std::uint32_t(pair);
        }
        std::uint8_t block[64];
        std::memcpy(block, pixels, 64);
        tintColoursOfBlock(block, out + std::size_t(i) * 4, p);
    }
    for (; i < count; ++i)
        for (std::size_t j = 0; j < 3; ++j)
            out[std::size_t(i) * 4 + j] = tintByte(in[8 * std::size_t(i) + j], p, j);
}

void tintRowPerLevel(const std::uint8_t* in, std::uint8_t* out, int count, const TintPattern& p)
{
    perLevelPath<tintRowPlain>()(in, out, count, p);
}

void tintColoursRowPerLevel(const std::uint8_t* in, std::uint8_t* out, int count, const TintPattern& p)
{
    perLevelPath<tintColoursRowPlain>()(in, out, count, p);
}

void tintColoursOfEvenPixelsPerLevel(const std::uint8_t* in, std::uint8_t* out, int count, const TintPattern& p)
{
    perLevelPath<tintColoursOfEvenPixelsPlain>()(in, out, count, p);
}

}  // namespace

void tintRow(const std::uint8_t* in, std::uint8_t* out, int count, const ChannelTint& tint)
{
    if (count > 0)
        tintRowPerLevel(in, out, count, TintPattern(tint));
}

void tintColoursRow(const std::uint8_t* in, std::uint8_t* out, int count, const ChannelTint& tint)
{
    if (count > 0)
        tintColoursRowPerLevel(in, out, count, TintPattern(tint));
}

void tintColoursOfEvenPixels(const std::uint8_t* in, std::uint8_t* out, int count, const ChannelTint& tint)
{
    if (count > 0)
        tintColoursOfEvenPixelsPerLevel(in, out, count, TintPattern(tint));
}

}  // namespace plumora
