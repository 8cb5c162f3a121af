#include "raster/colour.h"

#include "effects/sketch/pen_and_ink.h"
#include "raster/rounding.h"
#include "support/simd_levels.h"

#include <gtest/gtest.h>

#include <vector>

namespace plumora {
namespace {

TEST(Round, HalvesGoToTheEvenNeighbour)
{
    EXPECT_EQ(Round(8.5), 8);
    EXPECT_EQ(Round(9.5), 10);
    EXPECT_EQ(Round(2.5), 2);
    EXPECT_EQ(Round(-2.5), -2);
    EXPECT_EQ(Round(4.25 * 2), 8);
    EXPECT_EQ(Round(2.5000000001), 3);
    EXPECT_EQ(Round(-0.6), -1);
}

TEST(MulDiv, RoundsHalvesAwayFromZero)
{
    EXPECT_EQ(MulDiv(105, 100, 200), 53);  // 52.5
    EXPECT_EQ(MulDiv(5, 1, 2), 3);         // 2.5
    EXPECT_EQ(MulDiv(-5, 1, 2), -3);
    EXPECT_EQ(MulDiv(5, 1, -2), -3);
    EXPECT_EQ(MulDiv(-5, -1, -2), -3);
    EXPECT_EQ(MulDiv(7, 1, 3), 2);  // 2.33
    EXPECT_EQ(MulDiv(8, 1, 3), 3);  // 2.67
    // The product is taken in 64 bits.
    EXPECT_EQ(MulDiv(2000000000, 2000000000, 2000000000), 2000000000);
    EXPECT_EQ(MulDiv(1, 1, 0), -1);
    EXPECT_EQ(MulDiv(2000000000, 2000000000, 1), -1);
}

TEST(GreyValue, UsesDoubleArithmeticInTheWrittenOrder)
{
    EXPECT_EQ(greyValue(0, 0, 0), 0);
    EXPECT_EQ(greyValue(255, 255, 255), 255);
    EXPECT_EQ(greyValue(255, 0, 0), 76);   // 76.5 -> 76
    EXPECT_EQ(greyValue(0, 255, 0), 150);  // 150.45
    EXPECT_EQ(greyValue(0, 0, 255), 28);   // 28.05
    EXPECT_EQ(greyValue(5, 0, 0), 2);      // 1.5 -> 2
    // Exactly 31.5, which would round to 32, but 31.499999999999996 in
    // double: the program's grey value is 31.
    EXPECT_EQ(greyValue(0, 45, 45), 31);
    EXPECT_EQ(greyValue(0, 110, 60), 71);
}

constexpr std::size_t kCount = std::size_t(1) << 24;

// Pixel i has the colour i: every colour once, in a row.
const std::vector<std::uint8_t>& everyColour()
{
    static const std::vector<std::uint8_t> pixels = [] {
        std::vector<std::uint8_t> p(kCount * 4);
        for (std::size_t i = 0; i < kCount; ++i) {
            p[i * 4 + 0] = std::uint8_t(i);        // blue
            p[i * 4 + 1] = std::uint8_t(i >> 8);   // green
            p[i * 4 + 2] = std::uint8_t(i >> 16);  // red
            p[i * 4 + 3] = std::uint8_t(i * 7);    // must not matter
        }
        return p;
    }();
    return pixels;
}

// The plain formula of a weighted grey value, for every colour.
std::vector<std::uint8_t> plainGreys(const GreyWeights& w)
{
    std::vector<std::uint8_t> grey(kCount);
    for (std::size_t i = 0; i < kCount; ++i)
        grey[i] = std::uint8_t(Round(w.r * int(i >> 16) + w.g * int((i >> 8) & 255) + w.b * int(i & 255)));
    return grey;
}

// Every vector path must give exactly the plain formula for every colour,
// with the grey value's weights and the ink's (which do not fit the 16-bit
// lanes).
TEST(GreyValue, RowRoutinesEqualTheFormulaForEveryColour)
{
    const std::vector<std::uint8_t>& pixels = everyColour();
    EXPECT_EQ(plainGreys(kGreyWeights)[0x123456], greyValue(0x12, 0x34, 0x56));
    for (const GreyWeights& w : {kGreyWeights, kInkWeights}) {
        const std::vector<std::uint8_t> expected = plainGreys(w);
        std::vector<std::uint8_t> grey(kCount);
        for (const auto& [level, name] : test::simdLevelsOfThisMachine()) {
            SimdLevelCap cap(level);
            weightedGreyRow(pixels.data(), kCount, grey.data(), w);
            std::size_t mismatches = 0;
            for (std::size_t i = 0; i < kCount; ++i)
                mismatches += grey[i] != expected[i];
            EXPECT_EQ(mismatches, 0u) << name << ", weights /" << w.denominator;

            // Lengths that leave pixels over for the scalar tail.
            for (std::size_t n : {1, 3, 7, 9, 15, 17, 31}) {
                std::uint8_t tail[32];
                weightedGreyRow(pixels.data() + 4 * 1000, n, tail, w);
                EXPECT_TRUE(std::equal(tail, tail + n, expected.begin() + 1000)) << name << " length " << n;
            }
        }
    }
}

// The cut made on whole sums must equal the plain formula's grey value
// compared with the limit, for every colour, both weight sets (the ink's do
// not fit the 16-bit lanes), limits at and beyond both ends, and every path.
TEST(GreyValue, DarkRowEqualsTheFormulaCutAtTheLimitForEveryColour)
{
    const std::vector<std::uint8_t>& pixels = everyColour();
    for (const GreyWeights& w : {kGreyWeights, kInkWeights}) {
        const std::vector<std::uint8_t> grey = plainGreys(w);
        std::vector<std::uint8_t> ink(kCount);
        for (const auto& [level, name] : test::simdLevelsOfThisMachine()) {
            SimdLevelCap cap(level);
            for (int limit : {-1, 0, 76, 127, 128, 254, 255, 300}) {
                darkRow(pixels.data(), kCount, w, limit, ink.data());
                std::size_t mismatches = 0;
                for (std::size_t i = 0; i < kCount; ++i)
                    mismatches += ink[i] != (grey[i] <= limit ? 0xFF : 0);
                EXPECT_EQ(mismatches, 0u) << name << ", weights /" << w.denominator << ", limit " << limit;
            }
            std::uint8_t tail[31];  // lengths that leave pixels over for the scalar tail
            darkRow(pixels.data() + 4 * 4321, 31, w, 100, tail);
            for (std::size_t i = 0; i < 31; ++i)
                EXPECT_EQ(tail[i], grey[4321 + i] <= 100 ? 0xFF : 0) << name;
        }
    }
}

TEST(IntRGBtoHSL, KnownColours)
{
    EXPECT_EQ(IntRGBtoHSL(0, 0, 0), (IntHSL{0, 0, 0}));
    EXPECT_EQ(IntRGBtoHSL(255, 255, 255), (IntHSL{0, 0, 100}));
    EXPECT_EQ(IntRGBtoHSL(128, 128, 128), (IntHSL{0, 0, 50}));
    EXPECT_EQ(IntRGBtoHSL(255, 0, 0), (IntHSL{0, 100, 50}));
    EXPECT_EQ(IntRGBtoHSL(0, 255, 0), (IntHSL{120, 100, 50}));
    EXPECT_EQ(IntRGBtoHSL(0, 0, 255), (IntHSL{240, 100, 50}));
    EXPECT_EQ(IntRGBtoHSL(255, 255, 0), (IntHSL{60, 100, 50}));
    // Lightness above one half uses the other saturation formula.
    EXPECT_EQ(IntRGBtoHSL(255, 128, 128), (IntHSL{0, 100, 75}));
    EXPECT_EQ(IntRGBtoHSL(64, 32, 32), (IntHSL{0, 33, 19}));
}

TEST(IntRGBtoHSL, HueJustBelowAFullTurnRoundsTo360)
{
    EXPECT_EQ(IntRGBtoHSL(255, 0, 1).h, 360);
    EXPECT_EQ(IntHSLtoRGB(360, 100, 50), (IntRGB{0, 0, 0}));
}

TEST(IntHSLtoRGB, WorkedExampleRoundsHalvesToEven)
{
    // Pure hue 255, 85, 0; saturation gives 204, 102, 51; lightness
    // 229.5, 178.5, 153.
    EXPECT_EQ(IntHSLtoRGB(20, 60, 75), (IntRGB{230, 178, 153}));
}

TEST(IntHSLtoRGB, EverySectorOfTheHueCircle)
{
    EXPECT_EQ(IntHSLtoRGB(0, 100, 50), (IntRGB{255, 0, 0}));
    EXPECT_EQ(IntHSLtoRGB(2, 100, 50), (IntRGB{255, 8, 0}));     // 8.5 -> 8
    EXPECT_EQ(IntHSLtoRGB(90, 100, 50), (IntRGB{128, 255, 0}));  // 127.5 -> 128
    EXPECT_EQ(IntHSLtoRGB(150, 100, 50), (IntRGB{0, 255, 128}));
    EXPECT_EQ(IntHSLtoRGB(210, 100, 50), (IntRGB{0, 128, 255}));
    EXPECT_EQ(IntHSLtoRGB(270, 100, 50), (IntRGB{128, 0, 255}));
    EXPECT_EQ(IntHSLtoRGB(330, 100, 50), (IntRGB{255, 0, 128}));
    EXPECT_EQ(IntHSLtoRGB(359, 100, 50), (IntRGB{255, 0, 4}));  // 4.25
}

TEST(IntHSLtoRGB, OutOfRangeGivesBlack)
{
    for (const auto& hsl :
         {IntHSL{-1, 50, 50}, IntHSL{0, 101, 50}, IntHSL{0, -1, 50}, IntHSL{0, 50, 101}, IntHSL{0, 50, -1}})
        EXPECT_EQ(IntHSLtoRGB(hsl.h, hsl.s, hsl.l), (IntRGB{0, 0, 0}));
}

TEST(IntHSLtoRGB, GreyRoundTripFollowsTheLightnessBlend)
{
    for (int l = 0; l <= 100; ++l) {
        const double e = (l - 50) / 50.0;
        const int expected = e > 0 ? int(Round(128 + e * 127)) : int(Round(128 + 128 * e));
        const IntRGB c = IntHSLtoRGB(0, 0, l);
        EXPECT_EQ(c, (IntRGB{expected, expected, expected})) << "lightness " << l;
    }
    EXPECT_EQ(IntHSLtoRGB(0, 0, 100), (IntRGB{255, 255, 255}));
    EXPECT_EQ(IntHSLtoRGB(0, 0, 0), (IntRGB{0, 0, 0}));
}

TEST(IntHSLtoRGB, StaysInsideTheByteRangeEverywhere)
{
    for (int h = 0; h < 360; ++h)
        for (int s = 0; s <= 100; ++s)
            for (int l = 0; l <= 100; ++l) {
                const IntRGB c = IntHSLtoRGB(h, s, l);
                ASSERT_TRUE(c.r >= 0 && c.r <= 255 && c.g >= 0 && c.g <= 255 && c.b >= 0 && c.b <= 255)
                    << h << " " << s << " " << l;
            }
}

}  // namespace
}  // namespace plumora
