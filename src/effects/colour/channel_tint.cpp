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
[[gnu::always_inline]] inline void tintRowPlain(
    const std::uint8_t* in, std::uint8_t* out, int count, const TintPattern& p)
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

[[gnu::always_inline]] inline void tintColoursRowPlain(
    const std::uint8_t* __restrict in, std::uint8_t* __restrict out, int count, const TintPattern& p)
{
    const std::size_t bytes = std::size_t(count) * 4;
    for (std::size_t i = 0; i < bytes; i += 4)
        for (std::size_t j = 0; j < 4; ++j) {
            const std::uint8_t tinted = tintByte(in[i + j], p, j);
            out[i + j] = j == kAlpha ? out[i + j] : tinted;
        }
}

PLUMORA_PER_LEVEL(tintRowPerLevel, tintRowPlain,
    (const std::uint8_t* in, std::uint8_t* out, int count, const TintPattern& p), (in, out, count, p))

PLUMORA_PER_LEVEL(tintColoursRowPerLevel, tintColoursRowPlain,
    (const std::uint8_t* in, std::uint8_t* out, int count, const TintPattern& p), (in, out, count, p))

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

}  // namespace plumora
