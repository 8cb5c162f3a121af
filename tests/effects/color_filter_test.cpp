#include "effects/colour/color_filter.h"

#include "effects/colour_pictures.h"
#include "raster/colour.h"

#include <gtest/gtest.h>

#include <string>

namespace plumora {
namespace {

using test::opaqueColour;
using test::pixelAt;

constexpr ColorFilterKind kFilters[] = {ColorFilterKind::Red,    ColorFilterKind::Green, ColorFilterKind::Blue,
                                        ColorFilterKind::Yellow, ColorFilterKind::Cyan,  ColorFilterKind::Purple};

// As defined: the grey value into all three, the filter's channels to 255,
// the fourth byte 255.
TBitmap32 referenceFilter(const TBitmap32& base, ColorFilterKind kind)
{
    TBitmap32 p = base;
    for (int y = 0; y < p.height(); ++y)
        for (int x = 0; x < p.width(); ++x) {
            std::uint8_t* px = p.ScanLine(y) + x * 4;
            const int v = greyValue(px[2], px[1], px[0]);
            int r = v, g = v, b = v;
            switch (kind) {
            case ColorFilterKind::Red:
                r = 255;
                break;
            case ColorFilterKind::Green:
                g = 255;
                break;
            case ColorFilterKind::Blue:
                b = 255;
                break;
            case ColorFilterKind::Yellow:
                r = 255;
                g = 255;
                break;
            case ColorFilterKind::Cyan:
                g = 255;
                b = 255;
                break;
            case ColorFilterKind::Purple:
                r = 255;
                b = 255;
                break;
            }
            test::setPixel(p, x, y, opaqueColour(r, g, b));
        }
    return p;
}

TEST(ColorFilter, EveryFilterEqualsItsDefinitionOnEverySize)
{
    test::forEachColourTestPicture([](const TBitmap32& base, const std::string& label) {
        for (const ColorFilterKind kind : kFilters)
            ASSERT_EQ(test::decoded(colorFilter(base, kind)), test::decoded(referenceFilter(base, kind)))
                << label << " filter " << int(kind);
    });
}

TEST(ColorFilter, GreyValuesThroughEachFilter)
{
    const TBitmap32 one = test::uniformPicture(1, 1, 30, 200, 10, 0);  // grey value 124.3
    EXPECT_EQ(pixelAt(colorFilter(one, ColorFilterKind::Red), 0, 0), opaqueColour(255, 124, 124));
    EXPECT_EQ(pixelAt(colorFilter(one, ColorFilterKind::Cyan), 0, 0), opaqueColour(124, 255, 255));

    const TBitmap32 white = test::uniformPicture(3, 2, 255, 255, 255, 255);
    const TBitmap32 black = test::uniformPicture(3, 2, 0, 0, 0, 255);
    const std::uint32_t pure[] = {opaqueColour(255, 0, 0),   opaqueColour(0, 255, 0),   opaqueColour(0, 0, 255),
                                  opaqueColour(255, 255, 0), opaqueColour(0, 255, 255), opaqueColour(255, 0, 255)};
    for (std::size_t i = 0; i < std::size(kFilters); ++i) {
        EXPECT_EQ(colorFilter(white, kFilters[i]), white);
        EXPECT_EQ(colorFilter(black, kFilters[i]),
                  test::uniformPicture(3, 2, std::uint8_t(pure[i]), std::uint8_t(pure[i] >> 8),
                                       std::uint8_t(pure[i] >> 16), 255));
    }
}

}  // namespace
}  // namespace plumora
