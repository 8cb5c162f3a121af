#include "effects/relief/texture.h"

#include "effects/sketch_pictures.h"
#include "raster/colour.h"
#include "raster/errors.h"
#include "raster/parallel.h"
#include "raster/rounding.h"
#include "support/simd_levels.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace plumora {
namespace {

using test::pixelAt;

std::uint32_t opaque(int r, int g, int b)
{
    return 0xFF000000u | std::uint32_t(r) << 16 | std::uint32_t(g) << 8 | std::uint32_t(b);
}

std::uint32_t greyPixel(int v)
{
    return 0xFF000000u | std::uint32_t(v) * 0x010101u;
}

// TextureBlend as defined, pixel by pixel.
std::uint32_t referencePixel(std::uint32_t pixel, std::uint32_t tilePixel, int a)
{
    IntHSL hsl = IntRGBtoHSL(int(pixel >> 16 & 0xFF), int(pixel >> 8 & 0xFF), int(pixel & 0xFF));
    const IntHSL t = IntRGBtoHSL(int(tilePixel >> 16 & 0xFF), int(tilePixel >> 8 & 0xFF), int(tilePixel & 0xFF));
    const std::int64_t l = hsl.l + Round(double(std::int64_t(t.l - 70) * a) / 50);
    hsl.l = int(std::clamp<std::int64_t>(l, 0, 100));
    hsl.h = hsl.h % 360;
    const IntRGB c = IntHSLtoRGB(hsl.h, hsl.s, hsl.l);
    return opaque(c.r, c.g, c.b);
}

TBitmap32 referenceTexture(const TBitmap32& tile, const TBitmap32& source, int a)
{
    TBitmap32 out = source;
    for (int y = 0; y < source.height(); ++y)
        for (int x = 0; x < source.width(); ++x)
            test::setPixel(out, x, y, referencePixel(pixelAt(source, x, y), pixelAt(tile, x % 58, y % 58), a));
    return out;
}

// A grey tile whose lightness takes every value 0..100 in scattered places,
// so that neighbouring pixels get unrelated changes.
TBitmap32 scatteredTile()
{
    TBitmap32 tile(58, 58);
    for (int y = 0; y < 58; ++y)
        for (int x = 0; x < 58; ++x)
            test::setPixel(tile, x, y, greyPixel((x * 113 + y * 59 + x * y * 7) % 256));
    return tile;
}

TEST(Texture, EqualsItsDefinitionOnAnyPicture)
{
    const TBitmap32 tiles[] = {scatteredTile(), test::randomPicture(58, 58, 5)};  // the second not even grey
    const std::pair<int, int> sizes[] = {{1, 1}, {2, 9}, {9, 2}, {3, 3}, {1, 60}, {130, 70}, {200, 3}, {61, 17}};
    int run = 0;
    for (const auto& [w, h] : sizes)
        for (unsigned seed = 1; seed <= 2; ++seed) {
            const TBitmap32 source = seed == 1 ? test::sketchPicture(w, h, seed) : test::randomPicture(w, h, seed);
            for (const TBitmap32& tile : tiles)
                for (int pressure : {0, 1, 25, 37, 50, 99, 100}) {
                    setThreadCount(run % 3 + 1);
                    const SimdLevelCap cap(test::cycledSimdLevel(run++ / 3));
                    ASSERT_EQ(test::decoded(TextureBlend(tile, source, pressure)),
                              test::decoded(referenceTexture(tile, source, pressure)))
                        << w << "x" << h << " pressure " << pressure;
                }
        }
    setThreadCount(0);
}

// The fast paths work the hue out in whole numbers and look the rest up in
// tables: every colour there is, each under some change of lightness, on
// every vector path.
TEST(Texture, EqualsItsDefinitionForEveryColour)
{
    TBitmap32 everyColour(4096, 4096);
    for (int y = 0; y < 4096; ++y)
        for (int x = 0; x < 4096; ++x)
            test::setPixel(everyColour, x, y, std::uint32_t(y) << 12 | std::uint32_t(x));
    const TBitmap32 tile = scatteredTile();
    for (int pressure : {50, 100}) {
        const TBitmap32 expected = referenceTexture(tile, everyColour, pressure);
        for (const test::NamedLevel& level : test::simdLevelsOfThisMachine()) {
            const SimdLevelCap cap(level.level);
            ASSERT_TRUE(TextureBlend(tile, everyColour, pressure) == expected)
                << level.name << " pressure " << pressure;
        }
    }
}

TEST(Texture, NeutralSettingsKeepTheLightness)
{
    TBitmap32 source(4, 1);
    test::setPixel(source, 0, 0, opaque(128, 128, 128));
    test::setPixel(source, 1, 0, opaque(255, 0, 0));
    test::setPixel(source, 2, 0, opaque(255, 0, 1));  // hue 360, drawn with hue 0
    test::setPixel(source, 3, 0, opaque(20, 140, 90));
    const TBitmap32 roundTrip = TextureBlend(scatteredTile(), source, 0);
    EXPECT_EQ(pixelAt(roundTrip, 0, 0), opaque(128, 128, 128));
    EXPECT_EQ(pixelAt(roundTrip, 1, 0), opaque(255, 0, 0));
    EXPECT_EQ(pixelAt(roundTrip, 2, 0), opaque(255, 0, 0));
    const IntHSL hsl = IntRGBtoHSL(20, 140, 90);
    const IntRGB back = IntHSLtoRGB(hsl.h, hsl.s, hsl.l);
    EXPECT_EQ(pixelAt(roundTrip, 3, 0), opaque(back.r, back.g, back.b));

    // Tile lightness 70 (grey 179) changes nothing at any pressure.
    TBitmap32 neutral(58, 58);
    for (int y = 0; y < 58; ++y)
        for (int x = 0; x < 58; ++x)
            test::setPixel(neutral, x, y, greyPixel(179));
    const TBitmap32 photo = test::sketchPicture(70, 64, 3);
    for (int pressure : {1, 50, 100})
        EXPECT_EQ(TextureBlend(neutral, photo, pressure), TextureBlend(neutral, photo, 0)) << pressure;

    // Pressure 25 over lightness 71 (grey 181): Round(0.5) is 0, no change.
    TBitmap32 slight = neutral;
    test::setPixel(slight, 0, 0, greyPixel(181));
    EXPECT_EQ(TextureBlend(slight, photo, 25), TextureBlend(neutral, photo, 0));
    EXPECT_NE(TextureBlend(slight, photo, 26), TextureBlend(neutral, photo, 0));
}

TEST(Texture, DarkTileAtFullPressureGivesBlack)
{
    TBitmap32 tile(58, 58);
    for (int y = 0; y < 58; ++y)
        for (int x = 0; x < 58; ++x)
            test::setPixel(tile, x, y, greyPixel(51));  // lightness 20: 100 points down
    const TBitmap32 photo = test::randomPicture(40, 30, 8);
    const TBitmap32 black = test::uniformPicture(40, 30, 0, 0, 0, 255);
    EXPECT_EQ(TextureBlend(tile, photo, 100), black);
    EXPECT_EQ(TextureBlend(tile, test::uniformPicture(40, 30, 255, 255, 255, 255), 100), black);
}

TEST(Texture, TileRepeatsFromTheTopLeftCorner)
{
    // A uniform picture shows the tile itself, repeated every 58 pixels.
    const TBitmap32 tile = scatteredTile();
    const TBitmap32 out = TextureBlend(tile, test::uniformPicture(130, 125, 90, 140, 200, 255), 60);
    for (int y = 0; y < 125; ++y)
        for (int x = 0; x < 130; ++x)
            ASSERT_EQ(pixelAt(out, x, y), pixelAt(out, x % 58, y % 58)) << x << "," << y;
    const std::uint32_t dark = pixelAt(out, 0, 0);
    EXPECT_EQ(dark, referencePixel(opaque(200, 140, 90), pixelAt(tile, 0, 0), 60));
    EXPECT_NE(dark, pixelAt(out, 1, 0));
    EXPECT_NE(dark, pixelAt(out, 0, 1));
}

TEST(Texture, RefusesATileOfAnotherSize)
{
    const TBitmap32 photo = test::randomPicture(10, 10, 1);
    for (const auto& [w, h] : {std::pair{57, 58}, {58, 59}, {0, 0}, {116, 116}}) {
        try {
            TextureBlend(TBitmap32(w, h), photo, 50);
            ADD_FAILURE() << w << "x" << h << " was taken";
        } catch (const PlumoraError& e) {
            EXPECT_EQ(std::string(e.what()), "A texture tile must be 58 x 58 pixels; this one is " + std::to_string(w) +
                                                 " x " + std::to_string(h) + ".");
        }
    }
    EXPECT_TRUE(TextureBlend(scatteredTile(), TBitmap32(), 50).empty());
}

}  // namespace
}  // namespace plumora
