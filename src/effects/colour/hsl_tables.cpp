#include "effects/colour/hsl_tables.h"

#include "raster/parallel.h"
#include "raster/rounding.h"

#include <cstdlib>
#include <memory>
#include <stdexcept>

namespace plumora::hsl {

namespace {

bool isTie(int d, int n)
{
    return (120 * (n + d) + d) % (2 * d) == 0;
}

// The colour whose largest channel (0 red, 1 green, 2 blue, the first that
// is largest) is mx, with d and n as in Analysis::hue; false when no colour
// has them.
bool colourOf(int largest, int d, int n, int mx, int rgb[3])
{
    const int mn = mx - d;
    // The two other channels: the first and the second of (green, blue),
    // (blue, red) or (red, green), n being the first less the second.
    const int first = n >= 0 ? mn + n : mn;
    const int second = n >= 0 ? mn : mn - n;
    const int other1 = (largest + 1) % 3, other2 = (largest + 2) % 3;  // red 0, green 1, blue 2
    rgb[largest] = mx;
    rgb[other1] = first;
    rgb[other2] = second;
    // Red is taken as largest whenever it is; green whenever red is not.
    for (int c = 0; c < largest; ++c)
        if (rgb[c] == mx)
            return false;
    return true;
}

void findTies(Analysis& t)
{
    int ties = 0;
    for (int d = 1; d < 256; ++d) {
        std::vector<int> ns;
        for (int n = -d; n <= d; ++n)
            if (isTie(d, n))
                ns.push_back(n);
        t.tieStart[std::size_t(d)] = ties;
        t.tieFirst[std::size_t(d)] = std::int16_t(ns.empty() ? 0 : ns[0]);
        t.tieStep[std::size_t(d)] = std::int16_t(ns.size() < 2 ? 1 : ns[1] - ns[0]);
        for (std::size_t i = 0; i < ns.size(); ++i)
            if (ns[i] != ns[0] + int(i) * t.tieStep[std::size_t(d)])
                throw std::logic_error("hue ties are not evenly spaced");
        ties += int(ns.size());
    }
    // One row of 256 bits, whole words, per tie and largest channel, so the
    // rows of different d can be filled at the same time.
    t.tieBits.assign(std::size_t(ties) * 3 * 256 / 64, 0);
    parallelRows(255, [&](int d0, int d1) {
        for (int d = d0 + 1; d < d1 + 1; ++d)
            for (int n = -d; n <= d; ++n) {
                if (!isTie(d, n))
                    continue;
                for (int largest = 0; largest < 3; ++largest)
                    for (int mx = d; mx < 256; ++mx) {
                        int rgb[3];
                        if (!colourOf(largest, d, n, mx, rgb))
                            continue;
                        const int q = (120 * (n + d) + d) / (2 * d);
                        const int up = 120 * largest + q - 60 + (largest == 0 && n < 0 ? 360 : 0);
                        if (IntRGBtoHSL(rgb[0], rgb[1], rgb[2]).h != up)
                            continue;
                        const std::size_t tie = std::size_t(
                            t.tieStart[std::size_t(d)] + (n - t.tieFirst[std::size_t(d)]) / t.tieStep[std::size_t(d)]);
                        const std::size_t bit = (tie * 3 + std::size_t(largest)) * 256 + std::size_t(mx);
                        t.tieBits[bit / 64] |= std::uint64_t(1) << (bit % 64);
                    }
            }
    });
}

}  // namespace

const Analysis& analysisTables()
{
    static const auto tables = [] {
        auto t = std::make_unique<Analysis>();
        for (int mx = 0; mx < 256; ++mx)
            for (int mn = 0; mn <= mx; ++mn) {
                const IntHSL hsl = IntRGBtoHSL(mx, mn, mn);
                t->saturationLightness[std::size_t(mx * 256 + mn)] = {std::uint8_t(hsl.s), std::uint8_t(hsl.l)};
            }
        // With m = floor(2^32 / (2 d)) + 1, x * m / 2^32 overshoots x / (2 d)
        // by less than x / 2^32, under 2^-16 for every x up to
        // kLargestHueSum, while x / (2 d) falls short of the next whole
        // number by at least 1 / (2 d), 1/510 or more: the floors agree.
        for (std::uint64_t d = 1; d < 256; ++d)
            t->hueDivision[d] = std::uint32_t((std::uint64_t(1) << 32) / (2 * d) + 1);
        findTies(*t);
        return t;
    }();
    return *tables;
}

const Rebuild& rebuildTables()
{
    static const auto tables = [] {
        // The pure hues, and the saturation and lightness blends of every
        // channel value, by the same expressions, in the same order, as
        // IntHSLtoRGB.
        std::array<IntRGB, 121> pure{};
        for (int h = 0; h <= 120; ++h)
            pure[std::size_t(h)] = IntHSLtoRGB(h, 100, 50);  // no blend towards grey, white or black
        std::array<std::array<std::uint8_t, 256>, 101> saturation{};
        for (int s = 0; s <= 100; ++s) {
            const double k = std::abs(s - 100) / 100.0;
            for (int c = 0; c < 256; ++c) {
                const double v = c;
                saturation[std::size_t(s)][std::size_t(c)] = std::uint8_t(Round(v - (v - 128) * k));
            }
        }
        std::array<std::array<std::uint8_t, 256>, 101> lightness{};
        for (int l = 0; l <= 100; ++l) {
            const double e = (l - 50) / 50.0;
            for (int c = 0; c < 256; ++c) {
                const double v = c;
                std::int64_t blended = c;
                if (e > 0)
                    blended = Round(v + e * (255 - v));
                else if (e < 0)
                    blended = Round(v + e * v);
                lightness[std::size_t(l)][std::size_t(c)] = std::uint8_t(blended);
            }
        }
        // The channel in between of the first sixth (green, rising) at word
        // u, and of the second (red, falling from 255) at word 60 + u.
        std::array<int, 121> middle{};
        for (int u = 0; u <= 60; ++u)
            middle[std::size_t(u)] = pure[std::size_t(u)].g;
        for (int u = 1; u <= 60; ++u)
            middle[std::size_t(60 + u)] = pure[std::size_t(60 + u)].r;

        auto t = std::make_unique<Rebuild>();
        for (std::size_t s = 0; s <= 100; ++s)
            for (std::size_t l = 0; l <= 100; ++l) {
                const auto blend = [&](int c) { return std::uint32_t(lightness[l][saturation[s][std::size_t(c)]]); };
                std::uint32_t* row = &t->blended[(s * 101 + l) * Rebuild::kBlendedRow];
                for (std::size_t i = 0; i < middle.size(); ++i)
                    row[i] = blend(0) | blend(255) << 8 | blend(middle[i]) << 16;
            }
        return t;
    }();
    return *tables;
}

}  // namespace plumora::hsl
