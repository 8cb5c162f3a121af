#include "effects/sketch/pen_sketch.h"

#include "raster/colour.h"
#include "raster/errors.h"
#include "raster/parallel.h"
#include "raster/picsobel.h"
#include "support/pictures.h"
#include "support/simd_levels.h"

#include <gtest/gtest.h>

namespace plumora {
namespace {

using test::pixelAt;

// The effect as defined: the edge picture, then every pixel compared on its own.
TBitmap32 referencePenSketch(const TBitmap32& source, int pressure)
{
    TBitmap32 work = source;
    picsobel(work);
    for (int y = 0; y < work.height(); ++y)
        for (int x = 0; x < work.width(); ++x) {
            std::uint8_t* p = work.ScanLine(y) + x * 4;
            const int g = greyValue(p[2], p[1], p[0]);
            const std::uint8_t v = g > pressure ? 255 : 0;
            p[0] = p[1] = p[2] = v;
            p[3] = 255;
        }
    return work;
}

TEST(PenSketch, EqualsTheEdgePictureCutAtThePressure)
{
    // A smooth picture with some edges, so that grey values near every
    // threshold occur.
    TBitmap32 source(97, 61);
    for (int y = 0; y < 61; ++y)
        for (int x = 0; x < 97; ++x)
            test::setPixel(source, x, y,
                           0xFF000000u | std::uint32_t((x * 3 + y) & 255) << 16 | std::uint32_t((x * y) & 255) << 8 |
                               std::uint32_t(y * 4 & 255));
    for (int pressure : {0, 1, 100, 128, 200, 254, 255}) {
        setThreadCount(pressure % 3 + 1);
        const SimdLevelCap cap(test::cycledSimdLevel(pressure));
        EXPECT_EQ(penSketch(source, pressure), referencePenSketch(source, pressure)) << pressure;
    }
    setThreadCount(0);
}

TEST(PenSketch, GivesOnlyOpaqueBlackAndWhite)
{
    const TBitmap32 result = penSketch(test::randomPicture(40, 30, 8), 128);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
            const std::uint32_t px = pixelAt(result, x, y);
            ASSERT_TRUE(px == 0xFFFFFFFFu || px == 0xFF000000u) << std::hex << px;
        }
}

TEST(PenSketch, FullPressureIsAllBlackAndAUniformPictureWhiteBelowIt)
{
    const TBitmap32 uniform = test::uniformPicture(9, 7, 12, 34, 56, 0);
    EXPECT_EQ(penSketch(uniform, 255), test::uniformPicture(9, 7, 0, 0, 0, 255));
    EXPECT_EQ(penSketch(uniform, 254), test::uniformPicture(9, 7, 255, 255, 255, 255));
    EXPECT_EQ(penSketch(uniform, 0), test::uniformPicture(9, 7, 255, 255, 255, 255));
    EXPECT_EQ(penSketch(test::randomPicture(9, 7, 1), 255), test::uniformPicture(9, 7, 0, 0, 0, 255));
}

TEST(PenSketch, AGreyValueEqualToThePressureIsBlack)
{
    // A 1-pixel-wide picture is left as it is by the edge routine, so the
    // threshold sees the colours themselves: grey 0.3*100 + 0.59*100 + 0.11*100 = 100.
    const TBitmap32 column = test::uniformPicture(1, 3, 100, 100, 100, 255);
    EXPECT_EQ(penSketch(column, 100), test::uniformPicture(1, 3, 0, 0, 0, 255));
    EXPECT_EQ(penSketch(column, 99), test::uniformPicture(1, 3, 255, 255, 255, 255));
}

TEST(PenSketch, PressureZeroKeepsOnlyGreyZeroBlack)
{
    // After inversion a strong edge is black (grey 0); everything else is white.
    TBitmap32 p = test::uniformPicture(5, 5, 0, 0, 0, 255);
    test::setPixel(p, 2, 2, 0xFFFFFFFF);
    const TBitmap32 r = penSketch(p, 0);
    EXPECT_EQ(pixelAt(r, 2, 2), 0xFF000000u);  // A = 6*255 clamps to 255, inverted 0
    EXPECT_EQ(pixelAt(r, 1, 1), 0xFFFFFFFFu);  // A = -255 -> 0, B = 0 -> 0: grey 255
    EXPECT_EQ(r, referencePenSketch(p, 0));
}

TEST(PenSketch, OnePixelHighPictureIsRefused)
{
    EXPECT_THROW(penSketch(test::randomPicture(10, 1, 2), 128), ScanLineError);
}

}  // namespace
}  // namespace plumora
