#include "freehand/lines.h"

#include "freehand/strokes.h"
#include "raster/parallel.h"
#include "support/pictures.h"
#include "support/simd_levels.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <tuple>

namespace plumora {
namespace {

using test::decoded;
using test::pixelAt;
using test::setPixel;

constexpr std::uint32_t kInkPixel = 0xFF000000;
constexpr std::uint32_t kWhitePixel = 0xFFFFFFFF;
constexpr std::uint32_t kPeeledTint = 0x00ECE9D8;

bool isColour(const std::uint8_t* p, Rgb c)
{
    return p[kRed] == c.red && p[kGreen] == c.green && p[kBlue] == c.blue;
}

// The passes as written, on a copy of the picture.
TBitmap32 referenceThin(const TBitmap32& before)
{
    TBitmap32 after = before;
    auto at = [&](int x, int y) { return before.ScanLine(y) + x * 4; };
    for (int y = 1; y + 1 < before.height(); ++y)
        for (int x = 1; x + 1 < before.width(); ++x) {
            if (isPaper(at(x, y)))
                continue;
            const int p[8] = {isPaper(at(x - 1, y - 1)), isPaper(at(x, y - 1)),     isPaper(at(x + 1, y - 1)),
                              isPaper(at(x + 1, y)),     isPaper(at(x + 1, y + 1)), isPaper(at(x, y + 1)),
                              isPaper(at(x - 1, y + 1)), isPaper(at(x - 1, y))};
            int b = 0, a = 0;
            for (int i = 0; i < 8; ++i) {
                b += p[i];
                a += p[i] == 0 && p[(i + 1) % 8] == 1;
            }
            const int n = p[1], e = p[3], s = p[5], w = p[7];
            if (b < 2 || b > 6 || a != 1 || n * s * e != 0 || w * e * s != 0)
                continue;
            bool white = false;
            for (const std::uint8_t* side : {at(x - 1, y), at(x + 1, y), at(x, y - 1), at(x, y + 1)})
                white = white || isColour(side, kWhite);
            setPixel(after, x, y, white ? kWhitePixel : kPeeledTint);
        }
    return after;
}

TBitmap32 referenceThick(const TBitmap32& before)
{
    TBitmap32 after = before;
    auto at = [&](int x, int y) { return before.ScanLine(y) + x * 4; };
    for (int y = 1; y + 1 < before.height(); ++y)
        for (int x = 1; x + 1 < before.width(); ++x) {
            std::uint8_t* pixel = after.ScanLine(y) + x * 4;
            const std::uint8_t* sides[4] = {at(x - 1, y), at(x + 1, y), at(x, y - 1), at(x, y + 1)};
            for (const Rgb paper : {kWhite, kPaperTint})
                if (isColour(pixel, paper))
                    for (const std::uint8_t* side : sides)
                        if (!isColour(side, paper))
                            setPixel(after, x, y, 0xFF000000u | side[0] | side[1] << 8 | side[2] << 16);
        }
    return after;
}

// Black, colour, white and tint pixels and pixels one step away from either
// paper, with fourth bytes of every kind; dense, or (sparse) on white paper
// with long stretches where nothing happens.
TBitmap32 randomSketch(int width, int height, unsigned seed, bool sparse)
{
    std::mt19937 rng(seed);
    const std::uint32_t kinds[] = {0x00FFFFFF, 0x00FFFFFF, 0x00FFFFFF, 0x00ECE9D8, 0x00ECE9D8,
                                   0,          0,          0x00FFFFFE, 0x00ECE9D9, 0x00FEFFFF};
    TBitmap32 p(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const unsigned kind = sparse && rng() % 50 != 0 ? 0 : rng() % 12;
            const std::uint32_t colour = kind < 10 ? kinds[kind] : rng() & 0xFFFFFF;
            setPixel(p, x, y, colour | (rng() % 3 == 0 ? 0xFF000000u : rng() << 24));
        }
    return p;
}

TEST(FreehandLines, BothPassesEqualTheRulesAsWrittenWhateverTheThreadsAndVectors)
{
    // Widths around the runs of 64 pixels the rows are written in; heights
    // that give several bands.
    const std::pair<int, int> sizes[] = {{1, 1},  {2, 2},  {1, 9},   {9, 1},   {2, 9},    {9, 2},    {3, 3},
                                         {3, 40}, {40, 3}, {17, 11}, {66, 70}, {130, 37}, {301, 203}};
    for (const test::NamedLevel& level : test::simdLevelsOfThisMachine()) {
        const SimdLevelCap cap(level.level);
        for (int threads : {1, 2, 3, 5}) {
            setThreadCount(threads);
            for (const auto& [w, h] : sizes)
                for (unsigned seed = 1; seed <= 4; ++seed) {
                    const std::string what = std::to_string(w) + "x" + std::to_string(h) + " seed " +
                                             std::to_string(seed) + ", " + std::to_string(threads) + " threads, " +
                                             level.name;
                    const TBitmap32 sketch = randomSketch(w, h, seed * 1000 + unsigned(w), seed % 2 == 0);
                    TBitmap32 thin = sketch, thick = sketch;
                    thinline(thin);
                    thickline(thick);
                    ASSERT_EQ(decoded(thin), decoded(referenceThin(sketch))) << what;
                    ASSERT_EQ(decoded(thick), decoded(referenceThick(sketch))) << what;
                }
        }
    }
    setThreadCount(0);
}

// A black bar on a 14 x 9 picture of paper: columns x0..x0+w-1, rows
// y0..y0+h-1.
TBitmap32 bar(int x0, int y0, int w, int h, std::uint32_t paper)
{
    TBitmap32 p(14, 9);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 14; ++x)
            setPixel(p, x, y, x >= x0 && x < x0 + w && y >= y0 && y < y0 + h ? kInkPixel : paper);
    return p;
}

TEST(Thinline, ABarLosesItsOuterRingEachPassDownToALineThatStays)
{
    // Peeled pixels become white, fourth byte 255, beside white paper, and
    // the tint, fourth byte 0, beside tint paper: the paper they lie on.
    for (std::uint32_t paper : {kWhitePixel, kPeeledTint}) {
        TBitmap32 p = bar(2, 2, 10, 5, paper);
        thinline(p);
        EXPECT_EQ(decoded(p), decoded(bar(3, 3, 8, 3, paper)));
        thinline(p);
        EXPECT_EQ(decoded(p), decoded(bar(4, 4, 6, 1, paper)));
        thinline(p);
        EXPECT_EQ(decoded(p), decoded(bar(4, 4, 6, 1, paper)));
    }
}

TEST(Thickline, InkGrowsTowardsTheFourSidesTheLastSideWinning)
{
    TBitmap32 dot = test::uniformPicture(5, 5, 255, 255, 255, 0);
    setPixel(dot, 2, 2, 0x12345678);
    thickline(dot);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(pixelAt(dot, x, y), std::abs(x - 2) + std::abs(y - 2) == 0   ? 0x12345678u
                                          : std::abs(x - 2) + std::abs(y - 2) == 1 ? 0xFF345678u
                                                                                   : 0x00FFFFFFu);

    // Red, white, blue in the middle row; green above and yellow below the
    // white pixel are added one at a time.
    TBitmap32 p = test::uniformPicture(3, 3, 255, 255, 255, 0);
    setPixel(p, 0, 1, 0x00FF0000);
    setPixel(p, 2, 1, 0x000000FF);
    for (const auto& [x, y, colour] : {std::tuple{1, 1, 0xFF0000FFu}, {1, 0, 0xFF00FF00u}, {1, 2, 0xFFFFFF00u}}) {
        if (y != 1)
            setPixel(p, x, y, colour & 0xFFFFFF);
        TBitmap32 q = p;
        thickline(q);
        EXPECT_EQ(pixelAt(q, 1, 1), colour);
    }

    // A white pixel whose only coloured side is the tint becomes the tint,
    // then takes its last side that is not the tint: white from below.
    TBitmap32 t = test::uniformPicture(3, 3, 255, 255, 255, 0);
    setPixel(t, 0, 1, 0x00ECE9D8);
    thickline(t);
    EXPECT_EQ(pixelAt(t, 1, 1), kWhitePixel);
    // Between tint on every side it stays the tint, now with the fourth byte 255.
    for (const auto& [x, y] : {std::pair{1, 0}, {2, 1}, {1, 2}})
        setPixel(t, x, y, 0x00ECE9D8);
    setPixel(t, 1, 1, 0x00FFFFFF);
    thickline(t);
    EXPECT_EQ(pixelAt(t, 1, 1), 0xFFECE9D8u);
}

}  // namespace
}  // namespace plumora
