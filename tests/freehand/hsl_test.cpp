#include "freehand/hsl.h"
#include "freehand/strokes.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace plumora {
namespace {

TEST(FreehandHsl, RGBtoHSLOfKnownColours)
{
    EXPECT_EQ(RGBtoHSL({255, 0, 0}), (Hsl{0, 1, 0.5}));
    EXPECT_EQ(RGBtoHSL({51, 51, 51}), (Hsl{0, 0, 0.2}));
    // Lightness above a half takes the other saturation formula: 0.8 / 0.4
    // would be wrong, 0.8 / 1.2 is right.
    const Hsl pink = RGBtoHSL({255, 51, 153});
    EXPECT_NEAR(pink.saturation, 1.0, 1e-12);
    const Hsl light = RGBtoHSL({255, 204, 204});
    EXPECT_NEAR(light.lightness, 0.9, 1e-12);
    EXPECT_NEAR(light.saturation, 1.0, 1e-12);
    EXPECT_NEAR(RGBtoHSL({102, 255, 153}).saturation, 1.0, 1e-12);
    // Hues from each branch, and one below zero brought round the circle.
    EXPECT_NEAR(RGBtoHSL({0, 255, 0}).hue, 1.0 / 3, 1e-12);
    EXPECT_NEAR(RGBtoHSL({0, 128, 255}).hue, (4 - 128 / 255.0) / 6, 1e-12);
    EXPECT_NEAR(pink.hue, 1 - 1.0 / 12, 1e-12);
}

TEST(FreehandHsl, HSLtoRGBGivesBackEveryColourOfALattice)
{
    for (int r = 0; r < 256; r += 3)
        for (int g = 0; g < 256; g += 5)
            for (int b = 0; b < 256; b += 3) {
                const Rgb c{std::uint8_t(r), std::uint8_t(g), std::uint8_t(b)};
                const Hsl hsl = RGBtoHSL(c);
                ASSERT_EQ(HSLtoRGB(hsl.hue, hsl.saturation, hsl.lightness), c) << r << "," << g << "," << b;
            }
}

TEST(FreehandHsl, HSLtoRGBKeepsOutOfRangeLightnessInsideTheBytes)
{
    EXPECT_EQ(HSLtoRGB(0, 0, 2), (Rgb{255, 255, 255}));
    EXPECT_EQ(HSLtoRGB(0, 0, -1), (Rgb{0, 0, 0}));
    EXPECT_EQ(HSLtoRGB(0, 1, 1.5), (Rgb{255, 255, 255}));
}

Rgb painted(const BrushColour& brush, Rgb pixel)
{
    std::uint8_t p[4] = {pixel.blue, pixel.green, pixel.red, 77};
    brush.paint(p);
    EXPECT_EQ(p[3], 77);
    return {p[2], p[1], p[0]};
}

TEST(BrushColour, WorkedExamples)
{
    const BrushColour red({255, 0, 0});
    const BrushColour azure({0, 128, 255});
    const BrushColour black({0, 0, 0});
    struct Case {
        const BrushColour& brush;
        Rgb pixel, expected;
    };
    const Case cases[] = {{red, {0, 0, 0}, {250, 0, 0}},
                          {red, {100, 100, 100}, {250, 0, 0}},
                          {red, {200, 200, 200}, {255, 140, 140}},
                          {red, {255, 140, 140}, {255, 135, 135}},
                          {red, {255, 135, 135}, {255, 130, 130}},
                          {azure, {0, 0, 0}, {0, 125, 250}},
                          {azure, {250, 250, 250}, {240, 247, 255}},
                          {black, {200, 200, 200}, {197, 197, 197}}};
    for (const Case& c : cases) {
        EXPECT_EQ(c.brush.drawcolor(c.pixel), c.expected);
        EXPECT_EQ(painted(c.brush, c.pixel), c.expected);
    }
    EXPECT_EQ(azure.hsl(), RGBtoHSL({0, 128, 255}));
}

// The table against the rule in full, for brush colours of every kind: every
// largest and smallest byte, with a middle byte between them, in all six
// orders of the channels.
TEST(BrushColour, TableEqualsTheRuleForEveryLargestAndSmallestByte)
{
    std::vector<Rgb> colours = {{0, 0, 0},   {255, 255, 255}, {128, 128, 128}, {37, 37, 37},  {255, 0, 0},
                                {0, 255, 0}, {0, 0, 255},     {255, 255, 0},   {0, 128, 255}, {236, 233, 216}};
    std::mt19937 rng(7);
    for (int i = 0; i < 6; ++i)
        colours.push_back({std::uint8_t(rng()), std::uint8_t(rng()), std::uint8_t(rng())});
    for (const Rgb colour : colours) {
        const BrushColour brush(colour);
        for (int max = 0; max < 256; ++max)
            for (int min = 0; min <= max; ++min) {
                const std::uint8_t a = std::uint8_t(max), b = std::uint8_t(min);
                const std::uint8_t m = std::uint8_t(min + int(rng() % unsigned(max - min + 1)));
                for (const Rgb pixel :
                     {Rgb{a, m, b}, Rgb{a, b, m}, Rgb{m, a, b}, Rgb{b, a, m}, Rgb{m, b, a}, Rgb{b, m, a}})
                    ASSERT_EQ(painted(brush, pixel), brush.drawcolor(pixel))
                        << int(colour.red) << "," << int(colour.green) << "," << int(colour.blue) << " over "
                        << int(pixel.red) << "," << int(pixel.green) << "," << int(pixel.blue);
            }
    }
}

TEST(BrushColour, TableEqualsTheRuleForEveryPixel)
{
    const BrushColour brush({40, 200, 90});
    for (int r = 0; r < 256; ++r)
        for (int g = 0; g < 256; ++g)
            for (int b = 0; b < 256; ++b) {
                const Rgb pixel{std::uint8_t(r), std::uint8_t(g), std::uint8_t(b)};
                std::uint8_t p[4] = {pixel.blue, pixel.green, pixel.red, 0};
                brush.paint(p);
                if (Rgb{p[2], p[1], p[0]} != brush.drawcolor(pixel))
                    FAIL() << r << "," << g << "," << b;
            }
}

}  // namespace
}  // namespace plumora
