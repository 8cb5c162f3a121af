#pragma once

// The integer HSL pair (IntRGBtoHSL, IntHSLtoRGB) taken apart into tables
// and whole-number arithmetic, for loops that convert every pixel. Every
// piece gives exactly what the pair gives: the tests compare all 16.7 million
// colours and all 360 x 101 x 101 triples.

#include "raster/colour.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace plumora::hsl {

// IntRGBtoHSL.
struct Analysis {
    // Its saturation and lightness depend only on the largest and the
    // smallest of the three bytes. Indexed by largest * 256 + smallest
    // (smallest at most largest); each entry is what IntRGBtoHSL itself
    // gives for such a colour.
    struct SaturationLightness {
        std::uint8_t s;
        std::uint8_t l;
    };
    std::array<SaturationLightness, 65536> saturationLightness;

    // floor(x / (2 d)) for d = 1..255 and every x up to kLargestHueSum is
    // (x * hueDivision[d]) >> 32.
    static constexpr std::uint32_t kLargestHueSum = 241 * 255;
    std::array<std::uint32_t, 256> hueDivision;

    // The hue of colour (r, g, b) whose largest byte is mx and smallest mn:
    // 0 for a grey (mx = mn), and otherwise as follows.
    //
    // With d = mx - mn, the formula's hue in degrees is base + 60 n / d,
    // where base and n depend on the channel it takes as largest (red, then
    // green, then blue): 0 and g - b, 120 and b - r, 240 and r - g; when base
    // is 0 and n is negative, 360 more. The double arithmetic lands within
    // 1e-12 of that fraction, and a fraction over d <= 255 that is not
    // exactly a half lies at least 1/510 from one, so rounding the exact
    // fraction gives the formula's answer. At an exact half (a tie), which
    // way it goes is decided by the doubles' own rounding errors: tieGoesUp
    // holds the formula's answer for each such colour.
    //
    // Adding 60 keeps everything non-negative and, being even, does not
    // change how halves round: with t = 60 (n + d), the hue offset rounds
    // t / d, which is floor((2 t + d) / (2 d)), a half exactly when that
    // division leaves nothing over.
    //
    // Written with selects rather than branches: which channel is largest
    // changes from pixel to pixel in a photograph.
    int hue(int r, int g, int b, int mx, int mn) const
    {
        const int d = mx - mn;
        const int largest = r == mx ? 0 : (g == mx ? 1 : 2);
        const int base = 120 * largest;
        const int n = largest == 0 ? g - b : (largest == 1 ? b - r : r - g);
        const std::uint32_t x = std::uint32_t(120 * (n + d) + d);
        const std::uint32_t q = std::uint32_t((std::uint64_t(x) * hueDivision[std::size_t(d)]) >> 32);
        int hue = base + int(q) - 60 + (largest == 0 && n < 0 ? 360 : 0);
        if (x == q * std::uint32_t(2 * d) && d != 0) [[unlikely]]
            hue -= tieGoesUp(largest, d, n, mx) ? 0 : 1;
        return d == 0 ? 0 : hue;
    }

    // For each d, its ties are every tieStep[d]-th n from tieFirst[d] (the
    // solutions of 120 n = d modulo 2 d), and come after tieStart[d] ties of
    // smaller d. A tie's bit, at ((tie * 3 + largest) * 256 + mx), is set
    // when the formula rounds its half up.
    std::array<std::int16_t, 256> tieFirst;
    std::array<std::int16_t, 256> tieStep;
    std::array<std::int32_t, 256> tieStart;
    std::vector<std::uint64_t> tieBits;

    bool tieGoesUp(int largest, int d, int n, int mx) const
    {
        const std::size_t tie =
            std::size_t(tieStart[std::size_t(d)] + (n - tieFirst[std::size_t(d)]) / tieStep[std::size_t(d)]);
        const std::size_t bit = (tie * 3 + std::size_t(largest)) * 256 + std::size_t(mx);
        return tieBits[bit / 64] >> (bit % 64) & 1;
    }

    IntHSL operator()(int r, int g, int b) const
    {
        const int mx = std::max(std::max(r, g), b);
        const int mn = std::min(std::min(r, g), b);
        const SaturationLightness sl = saturationLightness[std::size_t(mx * 256 + mn)];
        return {hue(r, g, b, mx, mn), sl.s, sl.l};
    }
};
const Analysis& analysisTables();

// IntHSLtoRGB for H 0..359, S and L 0..100. It starts from a pure hue,
// which always has one channel at 255, one at 0 and one in between, and
// blends each channel alone, towards grey by S and then towards white or
// black by L. Going round the circle in sixths of 60 degrees, k = 0..5 (H up
// to 60 is the first, up to 120 the second, and so on), with u = H - 60 k,
// the channel in between is Round(4.25 u) in the even sixths and
// Round(255 - 4.25 u) in the odd ones; which channel is which goes by k
// alone (kSixthPlaces).
//
// So the three channels after both blends depend on S, L and the middle
// value only: `blended` holds them in a row of 128 words for each S and L,
// at (S * 101 + L) * 128, word u for Round(4.25 u) and word 60 + u for
// Round(255 - 4.25 u) (sixthOf), each with the channel from 0 in its byte 0,
// the one from 255 in byte 1 and the one in between in byte 2. Its entries
// are worked out by IntHSLtoRGB's own expressions.
struct Rebuild {
    static constexpr int kBlendedRow = 128;
    std::array<std::uint32_t, 101 * 101 * kBlendedRow> blended;
};
const Rebuild& rebuildTables();

// Where a pure hue's channels from 0, from 255 and in between go in each
// sixth of the circle, as shifts in bytes 0, 1 and 2 (red 16, green 8,
// blue 0).
constexpr int places(int low, int high, int middle)
{
    return low | high << 8 | middle << 16;
}
alignas(64) inline constexpr int kSixthPlaces[16] = {places(0, 16, 8), places(0, 8, 16), places(16, 8, 0),
                                                     places(16, 0, 8), places(8, 0, 16), places(8, 16, 0)};

// The sixth of the circle hue h (0..359) is in, and the word of a row of
// Rebuild::blended that holds its channel in between.
struct Sixth {
    int k;
    int word;
};
constexpr Sixth sixthOf(int h)
{
    const int k = (h > 60) + (h > 120) + (h > 180) + (h > 240) + (h > 300);
    const int u = h - 60 * k;
    return {k, k % 2 == 1 ? 60 + u : u};
}

}  // namespace plumora::hsl
