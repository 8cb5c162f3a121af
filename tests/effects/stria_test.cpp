#include "effects/relief/stria.h"

#include "effects/sketch_pictures.h"
#include "raster/errors.h"
#include "raster/parallel.h"
#include "support/simd_levels.h"

#include <gtest/gtest.h>

namespace plumora {
namespace {

using test::pixelAt;

// The stria as the dialog builds it: the stripe layer as a picture, laid over
// a copy of the source with DrawTo.
TBitmap32 referenceStria(const TBitmap32& source, StriaDirection direction, int thickness, int space, int t,
                         std::uint32_t rgb)
{
    TBitmap32 layer(source.width(), source.height());
    for (int y = 0; y < layer.height(); ++y)
        for (int x = 0; x < layer.width(); ++x) {
            const int i = direction == StriaDirection::Vertical ? x : y;
            const bool stripe = i % (thickness + space) < thickness;
            test::setPixel(layer, x, y, stripe ? std::uint32_t(255 - t) << 24 | (rgb & 0xFFFFFF) : 0x00FFFFFFu);
        }
    TBitmap32 out = source;
    layer.DrawTo(0, 0, out);
    return out;
}

TEST(Stria, EqualsTheLayerDrawnOverThePicture)
{
    // Random pictures have every fourth byte, the sketch pictures are opaque.
    const std::pair<int, int> sizes[] = {{1, 1}, {2, 9}, {9, 2}, {3, 3}, {1, 40}, {40, 1}, {97, 61}, {333, 120}};
    struct Stripes {
        int thickness, space;
    };
    const Stripes stripes[] = {{1, 2}, {1, 1}, {2, 3}, {100, 1}, {7, 255}, {3, 0}, {0, 4}};
    int run = 0;
    for (const auto& [w, h] : sizes)
        for (unsigned seed = 1; seed <= 2; ++seed) {
            const TBitmap32 source = seed == 1 ? test::sketchPicture(w, h, seed) : test::randomPicture(w, h, seed);
            for (const StriaDirection direction : {StriaDirection::Vertical, StriaDirection::Horizontal})
                for (const Stripes& s : stripes)
                    for (int t : {0, 1, 128, 254, 255}) {
                        const std::uint32_t rgb = 0x123456u * std::uint32_t(run + 1);
                        setThreadCount(run % 3 + 1);
                        const SimdLevelCap cap(test::cycledSimdLevel(run++ / 3));
                        ASSERT_EQ(test::decoded(stria(source, direction, s.thickness, s.space, t, rgb)),
                                  test::decoded(referenceStria(source, direction, s.thickness, s.space, t, rgb)))
                            << w << "x" << h << " " << int(direction) << " " << s.thickness << "/" << s.space
                            << " transparency " << t;
                    }
        }
    setThreadCount(0);
}

// Over an opaque picture each stripe channel is (picture * t + colour *
// (255 - t)) div 255: every picture byte, every transparency, and colour
// bytes all round, on every vector path.
TEST(Stria, OverOpaquePixelsBlendsEveryByteAtEveryTransparency)
{
    TBitmap32 source(256, 1);
    for (int x = 0; x < 256; ++x)
        test::setPixel(source, x, 0,
                       0xFF000000u | std::uint32_t(x) << 16 | std::uint32_t(255 - x) << 8 | std::uint32_t(x * 7 % 256));
    for (const test::NamedLevel& level : test::simdLevelsOfThisMachine()) {
        const SimdLevelCap cap(level.level);
        for (int t = 0; t <= 255; ++t)
            for (int colour = 0; colour < 256; colour += 5) {
                const int cr = colour, cg = (colour + 85) % 256, cb = (colour + 170) % 256;
                const TBitmap32 out = stria(source, StriaDirection::Horizontal, 1, 1, t,
                                            std::uint32_t(cr) << 16 | std::uint32_t(cg) << 8 | std::uint32_t(cb));
                for (int x = 0; x < 256; ++x) {
                    const std::uint32_t p = pixelAt(source, x, 0);
                    const auto mix = [&](int shift, int c) {
                        return std::uint32_t((int(p >> shift & 0xFF) * t + c * (255 - t)) / 255) << shift;
                    };
                    ASSERT_EQ(pixelAt(out, x, 0), 0xFF000000u | mix(16, cr) | mix(8, cg) | mix(0, cb))
                        << level.name << " transparency " << t << " colour " << colour << " x " << x;
                }
            }
    }
}

TEST(Stria, StripePlacesAndStrengths)
{
    // Thickness 1, space 2, vertical: columns 0, 3, 6, ... are stripes.
    const TBitmap32 white = test::uniformPicture(10, 3, 255, 255, 255, 255);
    TBitmap32 out = stria(white, StriaDirection::Vertical, 1, 2, 0, 0xFF0000);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 10; ++x)
            EXPECT_EQ(pixelAt(out, x, y), x % 3 == 0 ? 0xFFFF0000u : 0xFFFFFFFFu) << x << "," << y;

    // Thickness 100, space 1, horizontal: rows 0..99 striped, row 100 not,
    // then again from row 101.
    out = stria(test::uniformPicture(2, 203, 255, 255, 255, 255), StriaDirection::Horizontal, 100, 1, 0, 0x0000FF);
    for (int y = 0; y < 203; ++y)
        EXPECT_EQ(pixelAt(out, 1, y), y == 100 || y == 201 ? 0xFFFFFFFFu : 0xFF0000FFu) << y;

    // Transparency 128, black over white: 255 * 128 div 255 = 128.
    out = stria(white, StriaDirection::Vertical, 1, 2, 128, 0x000000);
    EXPECT_EQ(pixelAt(out, 0, 0), 0xFF808080u);
    EXPECT_EQ(pixelAt(out, 1, 0), 0xFFFFFFFFu);

    // Transparency 255 leaves an opaque picture as it was.
    const TBitmap32 photo = test::sketchPicture(50, 40, 2);
    EXPECT_EQ(stria(photo, StriaDirection::Horizontal, 3, 2, 255, 0xABCDEF), photo);
    EXPECT_EQ(stria(photo, StriaDirection::Vertical, 3, 2, 255, 0xABCDEF), photo);
}

TEST(Stria, PixelsThatAreNotOpaqueFollowDrawTo)
{
    // Fourth bytes 0, 100 and 255 under a stripe (half transparent, red) and
    // under a gap (transparent white).
    TBitmap32 source(2, 3);
    const std::uint32_t pixels[3] = {0x00102030u, 0x64102030u, 0xFF102030u};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 2; ++x)
            test::setPixel(source, x, y, pixels[y]);
    const TBitmap32 out = stria(source, StriaDirection::Vertical, 1, 1, 127, 0xFF0000);
    // Over a transparent pixel the stripe pixel itself, under a gap transparent white.
    EXPECT_EQ(pixelAt(out, 0, 0), 0x80FF0000u);
    EXPECT_EQ(pixelAt(out, 1, 0), 0x00FFFFFFu);
    // sa = 128 over da = 100: f = 32640 + 25500 - 12800 = 45340, fourth byte 177;
    // red (16 * 100 * 127 + 255 * 128 * 255) div 45340 = 188, green and blue
    // (32 or 48) * 100 * 127 div 45340 = 8 and 13.
    EXPECT_EQ(pixelAt(out, 0, 1), 0xB1BC080Du);
    EXPECT_EQ(pixelAt(out, 1, 1), 0x64102030u);
    EXPECT_EQ(pixelAt(out, 1, 2), 0xFF102030u);
    // Fully transparent stripes over a transparent pixel give transparent white too.
    EXPECT_EQ(pixelAt(stria(source, StriaDirection::Vertical, 1, 1, 255, 0xFF0000), 0, 0), 0x00FFFFFFu);
}

TEST(Stria, RefusesSettingsWithoutAPeriodOrAFourthByte)
{
    const TBitmap32 photo = test::randomPicture(5, 5, 1);
    EXPECT_THROW(stria(photo, StriaDirection::Vertical, 0, 0, 128, 0), PlumoraError);
    EXPECT_THROW(stria(photo, StriaDirection::Vertical, -1, 2, 128, 0), PlumoraError);
    EXPECT_THROW(stria(photo, StriaDirection::Horizontal, 1, -2, 128, 0), PlumoraError);
    EXPECT_THROW(stria(photo, StriaDirection::Horizontal, 1, 2, 256, 0), PlumoraError);
    EXPECT_THROW(stria(photo, StriaDirection::Horizontal, 1, 2, -1, 0), PlumoraError);
    EXPECT_TRUE(stria(TBitmap32(), StriaDirection::Vertical, 1, 2, 128, 0).empty());
}

}  // namespace
}  // namespace plumora
