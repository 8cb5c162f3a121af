#include "effects/colour/color_variety.h"

#include "effects/colour_pictures.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace plumora {
namespace {

using test::opaqueColour;
using test::pixelAt;

constexpr ColorVarietyKind kSwatches[] = {ColorVarietyKind::MoreRed,  ColorVarietyKind::MoreGreen,
                                          ColorVarietyKind::MoreBlue, ColorVarietyKind::MoreYellow,
                                          ColorVarietyKind::MoreCyan, ColorVarietyKind::MorePurple};

// One click as defined: +10 with a ceiling of 255 on the swatch's channels,
// the fourth byte 255.
void referenceStep(TBitmap32& p, ColorVarietyKind kind)
{
    const bool red = kind == ColorVarietyKind::MoreRed || kind == ColorVarietyKind::MoreYellow ||
                     kind == ColorVarietyKind::MorePurple;
    const bool green = kind == ColorVarietyKind::MoreGreen || kind == ColorVarietyKind::MoreYellow ||
                       kind == ColorVarietyKind::MoreCyan;
    const bool blue = kind == ColorVarietyKind::MoreBlue || kind == ColorVarietyKind::MoreCyan ||
                      kind == ColorVarietyKind::MorePurple;
    for (int y = 0; y < p.height(); ++y)
        for (int x = 0; x < p.width(); ++x) {
            std::uint8_t* px = p.ScanLine(y) + x * 4;
            if (blue)
                px[kBlue] = std::uint8_t(std::min(255, px[kBlue] + 10));
            if (green)
                px[kGreen] = std::uint8_t(std::min(255, px[kGreen] + 10));
            if (red)
                px[kRed] = std::uint8_t(std::min(255, px[kRed] + 10));
            px[kAlpha] = 255;
        }
}

TEST(ColorVariety, OneClickEqualsItsDefinitionOnEverySize)
{
    test::forEachColourTestPicture([](const TBitmap32& base, const std::string& label) {
        for (const ColorVarietyKind kind : kSwatches) {
            TBitmap32 fast = base;
            colorVarietyStep(fast, kind);
            TBitmap32 reference = base;
            referenceStep(reference, kind);
            ASSERT_EQ(test::decoded(fast), test::decoded(reference)) << label << " swatch " << int(kind);
        }
    });
}

// The clicks are folded into one pass; that must be the clicks one by one,
// up to and past the ceiling (26 clicks raise anything to 255).
TEST(ColorVariety, ClicksInARowEqualEachClickInTurn)
{
    std::mt19937 rng(3);
    int run = 0;
    for (const auto& [w, h] : {std::pair{1, 1}, {5, 3}, {97, 61}, {17, 1}}) {
        const TBitmap32 base = test::colourTestPicture(w, h, unsigned(w));
        for (int length : {1, 2, 3, 7, 26, 40, 90}) {
            std::vector<ColorVarietyKind> steps;
            TBitmap32 oneByOne = base;
            for (int i = 0; i < length; ++i) {
                steps.push_back(kSwatches[rng() % 6]);
                referenceStep(oneByOne, steps.back());
            }
            setThreadCount(run % 3 + 1);
            const SimdLevelCap cap(test::cycledSimdLevel(run++));
            ASSERT_EQ(colorVariety(base, steps), oneByOne) << w << "x" << h << " clicks " << length;
        }
    }
    setThreadCount(0);
}

TEST(ColorVariety, TellingClicks)
{
    const TBitmap32 one = test::uniformPicture(1, 1, 50, 100, 200, 9);
    using K = ColorVarietyKind;
    EXPECT_EQ(pixelAt(colorVariety(one, {K::MoreRed, K::MoreRed, K::MoreRed}), 0, 0), opaqueColour(230, 100, 50));
    EXPECT_EQ(pixelAt(colorVariety(one, std::vector<K>(8, K::MoreRed)), 0, 0), opaqueColour(255, 100, 50));
    EXPECT_EQ(pixelAt(colorVariety(test::uniformPicture(1, 1, 50, 100, 250, 9), {K::MoreYellow}), 0, 0),
              opaqueColour(255, 110, 50));

    const TBitmap32 white = test::uniformPicture(4, 3, 255, 255, 255, 255);
    for (const ColorVarietyKind kind : kSwatches)
        EXPECT_EQ(colorVariety(white, {kind, kind}), white);
    // No click: the base as it is, its fourth bytes too.
    const TBitmap32 noise = test::randomPicture(6, 5, 4);
    EXPECT_EQ(colorVariety(noise, {}), noise);
}

}  // namespace
}  // namespace plumora
