#include "effects/colour/hsl_adjust.h"

#include "effects/colour/hsl_tables.h"
#include "effects/colour_pictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>

namespace plumora {
namespace {

using test::opaqueColour;
using test::pixelAt;

// One pixel as defined: IntRGBtoHSL, turn the hue, shift and clamp S and L,
// IntHSLtoRGB, the low byte of each, fourth byte 255.
std::uint32_t referenceHsl(int r, int g, int b, int huePosition, int saturationPosition, int lightingPosition)
{
    IntHSL hsl = IntRGBtoHSL(r, g, b);
    hsl.h = (hsl.h + huePosition + 180) % 360;
    hsl.s = std::clamp(hsl.s + saturationPosition - 100, 0, 100);
    hsl.l = std::clamp(hsl.l + lightingPosition - 100, 0, 100);
    const IntRGB c = IntHSLtoRGB(hsl.h, hsl.s, hsl.l);
    return opaqueColour(c.r & 0xFF, c.g & 0xFF, c.b & 0xFF);
}

TBitmap32 referenceHslAdjust(const TBitmap32& source, int hue, int saturation, int lighting)
{
    TBitmap32 p = source;
    for (int y = 0; y < p.height(); ++y)
        for (int x = 0; x < p.width(); ++x) {
            const std::uint8_t* px = source.ScanLine(y) + x * 4;
            test::setPixel(p, x, y, referenceHsl(px[2], px[1], px[0], hue, saturation, lighting));
        }
    return p;
}

std::uint32_t adjusted(int r, int g, int b, int hue = kHslHueDefault, int saturation = kHslSaturationDefault,
                       int lighting = kHslLightingDefault)
{
    const TBitmap32 one = test::uniformPicture(1, 1, std::uint8_t(b), std::uint8_t(g), std::uint8_t(r), 7);
    return pixelAt(hslAdjust(one, hue, saturation, lighting), 0, 0);
}

// Exhaustive proofs of the shortcuts the effect is built from.

TEST(HslTables, AnalysisEqualsIntRGBtoHSLForEveryColour)
{
    const hsl::Analysis& analysis = hsl::analysisTables();
    for (int r = 0; r < 256; ++r)
        for (int g = 0; g < 256; ++g)
            for (int b = 0; b < 256; ++b)
                if (analysis(r, g, b) != IntRGBtoHSL(r, g, b))
                    FAIL() << r << "," << g << "," << b;
}

TEST(HslTables, HueDivisionIsExactForEveryDifferenceAndSum)
{
    const hsl::Analysis& analysis = hsl::analysisTables();
    for (std::uint64_t d = 1; d < 256; ++d)
        for (std::uint64_t x = 0; x <= hsl::Analysis::kLargestHueSum; ++x)
            if ((x * analysis.hueDivision[d]) >> 32 != x / (2 * d))
                FAIL() << x << " / 2*" << d;
}

TEST(HslTables, BlendedRowsGiveIntHSLtoRGBForEveryTriple)
{
    const hsl::Rebuild& rebuild = hsl::rebuildTables();
    for (int h = 0; h < 360; ++h) {
        const hsl::Sixth sixth = hsl::sixthOf(h);
        const int place = hsl::kSixthPlaces[sixth.k];
        for (int s = 0; s <= 100; ++s)
            for (int l = 0; l <= 100; ++l) {
                const std::uint32_t channels =
                    rebuild.blended[std::size_t((s * 101 + l) * hsl::Rebuild::kBlendedRow + sixth.word)];
                const std::uint32_t colour = (channels & 0xFF) << (place & 0xFF) |
                                             (channels >> 8 & 0xFF) << (place >> 8 & 0xFF) |
                                             (channels >> 16) << (place >> 16);
                const IntRGB c = IntHSLtoRGB(h, s, l);
                if (colour != (opaqueColour(c.r, c.g, c.b) & 0xFFFFFFu))
                    FAIL() << h << "," << s << "," << l;
            }
    }
}

// The vector paths work out S and L and turn the hue their own way: on every
// colour, at several positions, they give what the plain path gives.
TEST(HslAdjust, VectorPathsEqualThePlainPathOnEveryColour)
{
    TBitmap32 everyColour(4096, 4096);
    for (std::uint32_t i = 0; i < (1u << 24); ++i)
        std::memcpy(everyColour.bits() + std::size_t(i) * 4, &i, 4);  // fourth byte 0
    for (const auto& [hue, saturation, lighting] :
         {std::tuple{180, 100, 100}, {250, 130, 90}, {-180, 0, 200}, {1000, 200, -5}}) {
        TBitmap32 plain;
        {
            const SimdLevelCap cap(SimdLevel::Baseline);
            plain = hslAdjust(everyColour, hue, saturation, lighting);
        }
        for (const test::NamedLevel& level : test::simdLevelsOfThisMachine()) {
            if (level.level == SimdLevel::Baseline)
                continue;
            const SimdLevelCap cap(level.level);
            ASSERT_TRUE(hslAdjust(everyColour, hue, saturation, lighting) == plain)
                << level.name << " at " << hue << "," << saturation << "," << lighting;
        }
    }
}

// The whole effect against its definition.

TEST(HslAdjust, EqualsItsDefinitionOnEverySizeAndPosition)
{
    const int positions[][3] = {{180, 100, 100}, {0, 100, 100}, {360, 0, 200}, {1, 200, 0},
                                {359, 37, 163},  {90, 150, 60}, {270, 99, 101}};
    int which = 0;
    test::forEachColourTestPicture([&](const TBitmap32& source, const std::string& label) {
        const int* p = positions[which++ % std::size(positions)];
        ASSERT_EQ(test::decoded(hslAdjust(source, p[0], p[1], p[2])),
                  test::decoded(referenceHslAdjust(source, p[0], p[1], p[2])))
            << label << " positions " << p[0] << "," << p[1] << "," << p[2];
    });
}

TEST(HslAdjust, EveryHuePositionOnEveryKindOfColour)
{
    // Greys, pure and mixed hues, colours whose hue is exactly half a degree
    // (255, 17, 15 is 0.5 degrees) and red with a touch of blue (hue 360).
    TBitmap32 source = test::randomPicture(64, 8, 21);
    const std::uint32_t special[] = {opaqueColour(255, 17, 15),   opaqueColour(15, 255, 17),
                                     opaqueColour(17, 15, 255),   opaqueColour(255, 0, 1),
                                     opaqueColour(128, 128, 128), opaqueColour(0, 0, 0),
                                     opaqueColour(255, 255, 255), opaqueColour(200, 100, 50)};
    for (std::size_t i = 0; i < std::size(special); ++i)
        test::setPixel(source, int(i), 0, special[i]);
    for (int hue = kHslHueMin; hue <= kHslHueMax; ++hue)
        ASSERT_EQ(hslAdjust(source, hue, 130, 80), referenceHslAdjust(source, hue, 130, 80)) << hue;
}

TEST(HslAdjust, NeutralPositionsStillRerenderSomeColours)
{
    for (const std::uint32_t c :
         {opaqueColour(128, 128, 128), opaqueColour(255, 255, 255), opaqueColour(0, 0, 0), opaqueColour(255, 0, 0),
          opaqueColour(0, 0, 255), opaqueColour(255, 128, 0), opaqueColour(200, 100, 50)})
        EXPECT_EQ(adjusted(int(c >> 16 & 0xFF), int(c >> 8 & 0xFF), int(c & 0xFF)), c) << std::hex << c;
    EXPECT_EQ(adjusted(10, 200, 30), opaqueColour(11, 198, 30));
    EXPECT_EQ(adjusted(100, 150, 200), opaqueColour(101, 151, 201));
}

TEST(HslAdjust, TellingPositions)
{
    // 0 and 360 both turn the hue by half a turn.
    EXPECT_EQ(adjusted(200, 100, 50, 0), opaqueColour(50, 150, 200));
    EXPECT_EQ(adjusted(200, 100, 50, 360), opaqueColour(50, 150, 200));
    EXPECT_EQ(adjusted(200, 100, 50, 180, 0), opaqueColour(125, 125, 125));

    const TBitmap32 photo = test::sketchPicture(40, 30, 5);
    EXPECT_EQ(hslAdjust(photo, 180, 100, 200), test::uniformPicture(40, 30, 255, 255, 255, 255));
    EXPECT_EQ(hslAdjust(photo, 77, 160, 0), test::uniformPicture(40, 30, 0, 0, 0, 255));
    // Every fourth byte becomes 255, whatever it was.
    const TBitmap32 noise = hslAdjust(test::randomPicture(20, 20, 6), 180, 100, 100);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x)
            ASSERT_EQ(pixelAt(noise, x, y) >> 24, 0xFFu);
}

TEST(HslAdjust, PositionsOutsideTheTrackBarsFollowTheSameFormulas)
{
    // A hue turned below 0 gives black, as IntHSLtoRGB does; shifts far past
    // either end are clamped.
    const TBitmap32 source = test::randomPicture(31, 7, 8);
    for (const auto& [hue, saturation, lighting] :
         {std::tuple{-200, 100, 100}, {-540, 0, 100}, {1000, -50, 300}, {-181, 500, 50}})
        EXPECT_EQ(hslAdjust(source, hue, saturation, lighting), referenceHslAdjust(source, hue, saturation, lighting))
            << hue << "," << saturation << "," << lighting;
}

}  // namespace
}  // namespace plumora
