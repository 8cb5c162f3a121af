#include "effects/paint/color_pencil.h"

#include "effects/sketch_pictures.h"
#include "raster/errors.h"
#include "raster/parallel.h"
#include "raster/picsobel.h"
#include "support/simd_levels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace plumora {
namespace {

using test::pixelAt;
using test::setPixel;

// The colour pencil as defined, step by step through its own buffers.
TBitmap32 referenceColorPencil(const TBitmap32& source, int pressure)
{
    TBitmap32 edges = source;
    picsobel(edges);
    const TBitmap32 edgeCopy = edges;
    TBitmap32 output = source;
    const double t = std::tan(pressure * 3.141592653589793 / 180);
    for (int y = 0; y < output.height(); ++y)
        for (int x = 0; x < output.width(); ++x) {
            const std::uint8_t* e = edgeCopy.ScanLine(y) + x * 4;
            const int v = int(Round(0.3 * e[2] + 0.59 * e[1] + 0.11 * e[0]));
            const int l = IntRGBtoHSL(v, v, v).l;
            std::int64_t w = pressure < 45 ? Round(t * (l - 55)) + (100 - pressure)
                                           : Round(t * (l - pressure - 5)) + 50;
            w = std::min<std::int64_t>(100, std::max<std::int64_t>(0, w));
            std::uint8_t* p = output.ScanLine(y) + x * 4;
            const IntHSL hsl = IntRGBtoHSL(p[2], p[1], p[0]);
            const std::int64_t l2 = Round(w / 100.0 * (100 - hsl.l)) + hsl.l;
            const IntRGB c = IntHSLtoRGB(hsl.h % 360, hsl.s, int(l2));
            p[0] = std::uint8_t(c.b);
            p[1] = std::uint8_t(c.g);
            p[2] = std::uint8_t(c.r);
            p[3] = 255;
        }
    return output;
}

// Rows of colours the tables treat specially: hues that round up to 360,
// hue steps that fall exactly on a half (60 * 1 / 120), greys, black, white.
TBitmap32 awkwardColours(int width, int height)
{
    TBitmap32 p = test::sketchPicture(width, height, 5);
    const std::uint32_t colours[] = {0xFFFF0001u, 0x00FE0001u, 0xFF780001u, 0x40787900u,
                                     0xFF000000u, 0xFFFFFFFFu, 0xFF808080u, 0x00F00078u};
    for (int x = 0; x < width; ++x)
        for (int y = 0; y < height; y += 3)
            setPixel(p, x, y, colours[std::size_t(x / 2 + y) % std::size(colours)]);
    return p;
}

TEST(ColorPencil, EqualsTheStepsOfItsDefinition)
{
    const std::pair<int, int> sizes[] = {{1, 2}, {1, 3}, {1, 9},   {2, 9},     {9, 2},
                                         {2, 2}, {3, 3}, {97, 61}, {1100, 21}, {40, 130}};
    int run = 0;
    for (const auto& [w, h] : sizes)
        for (unsigned seed = 1; seed <= 3; ++seed) {
            const TBitmap32 source = seed == 1   ? test::sketchPicture(w, h, seed)
                                     : seed == 2 ? test::randomPicture(w, h, seed)
                                                 : awkwardColours(w, h);
            for (int pressure : {0, 1, 3, 30, 44, 45, 46, 70, 88, 89}) {
                setThreadCount(run % 3 + 1);
                const SimdLevelCap cap(test::cycledSimdLevel(run++ / 3));
                ASSERT_EQ(colorPencil(source, pressure), referenceColorPencil(source, pressure))
                    << w << "x" << h << " seed " << seed << " pressure " << pressure;
            }
        }
    setThreadCount(0);
}

// The per-pixel shortcut: both halves of the HSL pair over every input.
TEST(ColorPencil, TabulatedHslPairEqualsTheFormulasForEveryInput)
{
    for (int r = 0; r < 256; ++r)
        for (int g = 0; g < 256; ++g)
            for (int b = 0; b < 256; ++b)
                ASSERT_EQ(tabulatedRGBtoHSL(r, g, b), IntRGBtoHSL(r, g, b)) << r << " " << g << " " << b;
    for (int h = 0; h < 360; ++h)
        for (int s = 0; s <= 100; ++s)
            for (int l = 0; l <= 100; ++l)
                ASSERT_EQ(tabulatedHSLtoRGB(h, s, l), IntHSLtoRGB(h, s, l)) << h << " " << s << " " << l;
}

// The vector path against the plain one (which the tests above prove) on a
// picture holding every colour once: row y holds the colours y * 4096 to
// y * 4096 + 4095, in order on even rows, shuffled on odd ones, so that its
// edges have every kind of grey.
TEST(ColorPencil, EveryPathGivesEveryColourAlike)
{
    TBitmap32 everyColour(4096, 4096);
    for (int y = 0; y < 4096; ++y)
        for (int x = 0; x < 4096; ++x) {
            const std::uint32_t low = y % 2 == 0 ? std::uint32_t(x) : std::uint32_t(x) * 2654435761u & 0xFFFu;
            setPixel(everyColour, x, y, 0xFF000000u | std::uint32_t(y) << 12 | low);
        }
    for (int pressure : {kColorPencilPressureDefault, kColorPencilPressureMax}) {
        TBitmap32 plain;
        {
            const SimdLevelCap cap(SimdLevel::Baseline);
            plain = colorPencil(everyColour, pressure);
        }
        for (const test::NamedLevel& level : test::simdLevelsOfThisMachine()) {
            if (level.level == SimdLevel::Baseline)
                continue;
            const SimdLevelCap cap(level.level);
            EXPECT_TRUE(colorPencil(everyColour, pressure) == plain) << level.name << " pressure " << pressure;
        }
    }
}

// The same for the step per pixel alone, with every edge grey at pressures
// across the range, on many colours (greys and a random sample).
TEST(ColorPencil, EveryPathGivesEveryEdgeGreyAlike)
{
    std::vector<std::uint32_t> colours;
    for (std::uint32_t v = 0; v < 256; ++v)
        colours.push_back(v * 0x010101u);
    std::mt19937 rng(17);
    while (colours.size() < 4096)
        colours.push_back(std::uint32_t(rng()));
    std::vector<std::uint32_t> photo;
    std::vector<std::uint8_t> greys;
    for (int v = 0; v < 256; ++v)
        for (const std::uint32_t c : colours) {
            photo.push_back(c);
            greys.push_back(std::uint8_t(v));
        }
    const int count = int(photo.size());
    for (int pressure : {0, 17, 44, 45, 60, 89}) {
        std::vector<std::uint32_t> plain(photo.size()), fast(photo.size());
        {
            const SimdLevelCap cap(SimdLevel::Baseline);
            colorPencilPixels(photo.data(), greys.data(), plain.data(), count, pressure);
        }
        for (const test::NamedLevel& level : test::simdLevelsOfThisMachine()) {
            const SimdLevelCap cap(level.level);
            colorPencilPixels(photo.data(), greys.data(), fast.data(), count, pressure);
            EXPECT_TRUE(fast == plain) << level.name << " pressure " << pressure;
        }
    }
}

TEST(ColorPencil, WorkedPixelAtTheDefaultPressure)
{
    // Red 200, green 100, blue 50 in the middle; the neighbours are chosen
    // so that every channel's edge response is 127 (the centre against the
    // rows above and below; the columns left and right are equal), which
    // inverts to an edge grey of 128.
    TBitmap32 source = test::uniformPicture(3, 3, 0, 0, 0, 255);
    const std::uint32_t around = 0xFF000000u | 179u << 16 | 79u << 8 | 29u;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x)
            setPixel(source, x, y, around);
    setPixel(source, 1, 2, 0xFF000000u | 178u << 16 | 78u << 8 | 28u);
    for (int x = 0; x < 3; ++x)
        setPixel(source, x, 1, 0xFF000000u | 200u << 16 | 100u << 8 | 50u);
    ASSERT_EQ(pixelAt(picsobelOf(source), 1, 1) & 0xFFFFFFu, 0x808080u);

    const TBitmap32 result = colorPencil(source, kColorPencilPressureDefault);
    EXPECT_EQ(pixelAt(result, 1, 1), 0xFF000000u | 230u << 16 | 178u << 8 | 153u);
}

TEST(ColorPencil, PaperWhiteAtTheEndsOfTheScale)
{
    // Pressure 0 gives blank paper, whatever the photograph.
    EXPECT_EQ(colorPencil(test::sketchPicture(40, 30, 2), kColorPencilPressureMin),
              test::uniformPicture(40, 30, 255, 255, 255, 255));

    // A uniform photograph has no edges (lightness 100): white paper, except
    // at pressures 3 to 44, whose line leaves a faint tint below 100.
    const TBitmap32 uniform = test::uniformPicture(6, 5, 50, 100, 200, 0);
    const TBitmap32 white = test::uniformPicture(6, 5, 255, 255, 255, 255);
    for (int pressure = kColorPencilPressureMin; pressure <= kColorPencilPressureMax; ++pressure)
        EXPECT_EQ(colorPencil(uniform, pressure) == white, pressure <= 2 || pressure >= 45) << pressure;

    // At pressure 89 a strong edge keeps the photograph's lightness: the
    // colour comes back as the HSL pair gives it, with hue 360 drawn as 0.
    TBitmap32 dot = test::uniformPicture(5, 5, 0, 0, 0, 255);
    setPixel(dot, 2, 2, 0xFFFF0001u);  // red 255, blue 1: IntRGBtoHSL gives hue 360
    const IntHSL hsl = IntRGBtoHSL(255, 0, 1);
    ASSERT_EQ(hsl.h, 360);
    const IntRGB back = IntHSLtoRGB(0, hsl.s, hsl.l);
    EXPECT_EQ(pixelAt(colorPencil(dot, kColorPencilPressureMax), 2, 2),
              0xFF000000u | std::uint32_t(back.r) << 16 | std::uint32_t(back.g) << 8 | std::uint32_t(back.b));
}

TEST(ColorPencil, PictureOneRowHighRaisesTheScanLineError)
{
    EXPECT_THROW(colorPencil(test::randomPicture(12, 1, 4), kColorPencilPressureDefault), ScanLineError);
    EXPECT_THROW(colorPencil(test::randomPicture(1, 1, 4), kColorPencilPressureDefault), ScanLineError);
    EXPECT_TRUE(colorPencil(TBitmap32(), kColorPencilPressureDefault).empty());
}

}  // namespace
}  // namespace plumora
