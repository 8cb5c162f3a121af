#pragma once

#include "raster/bitmap32.h"

#include <array>
#include <cstdint>

namespace plumora {

// A change to some of a pixel's four bytes (blue, green, red, fourth byte)
// that leaves the others alone. Every tint the colour adjustments use is one
// of: set a byte to 255, set it to 0, add a constant with a ceiling of 255,
// subtract one with a floor of 0. All four are c := max(0, min(255, c + raise)
// - lower) for one byte: setting to 255 raises by 255, setting to 0 lowers by
// 255, and a byte left alone has neither. So one loop serves every tint.
struct ChannelTint {
    std::array<std::uint8_t, 4> raise{};
    std::array<std::uint8_t, 4> lower{};

    constexpr ChannelTint full(int channel) const { return with(channel, 255, 0); }
    constexpr ChannelTint zero(int channel) const { return with(channel, 0, 255); }
    constexpr ChannelTint plus(int channel, int amount) const { return with(channel, amount, 0); }
    constexpr ChannelTint minus(int channel, int amount) const { return with(channel, 0, amount); }

    // The tint of one byte value of a channel.
    constexpr std::uint8_t apply(int channel, int value) const
    {
        const int raised = value + raise[std::size_t(channel)];
        const int lowered = (raised > 255 ? 255 : raised) - lower[std::size_t(channel)];
        return std::uint8_t(lowered < 0 ? 0 : lowered);
    }

private:
    constexpr ChannelTint with(int channel, int up, int down) const
    {
        ChannelTint t = *this;
        t.raise[std::size_t(channel)] = std::uint8_t(up);
        t.lower[std::size_t(channel)] = std::uint8_t(down);
        return t;
    }
};

// out := the tint of in, all four bytes of `count` pixels. out may be in.
void tintRow(const std::uint8_t* in, std::uint8_t* out, int count, const ChannelTint& tint);

// Blue, green and red of out := those of the tint of in; out keeps its own
// fourth byte. out must not overlap in.
void tintColoursRow(const std::uint8_t* in, std::uint8_t* out, int count, const ChannelTint& tint);

// The same from every other pixel of in: out pixel i from in pixel 2 i, so
// in must hold 2 count - 1 pixels.
void tintColoursOfEvenPixels(const std::uint8_t* in, std::uint8_t* out, int count, const ChannelTint& tint);

}  // namespace plumora
