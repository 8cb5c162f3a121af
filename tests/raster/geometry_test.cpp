#include "raster/geometry.h"

#include "raster/errors.h"
#include "raster/parallel.h"
#include "support/pictures.h"
#include "support/zoom.h"

#include <gtest/gtest.h>

namespace plumora {
namespace {

using test::pixelAt;
using test::ZoomInandOut;

TEST(Stretch, DoublingRepeatsEveryPixelExactly)
{
    const TBitmap32 p = test::randomPicture(7, 5, 1);
    const TBitmap32 big = stretchTo(p, 14, 10);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 14; ++x)
            ASSERT_EQ(pixelAt(big, x, y), pixelAt(p, x / 2, y / 2)) << x << "," << y;
}

TEST(Stretch, HalvingKeepsEveryOtherPixel)
{
    const TBitmap32 p = test::randomPicture(8, 6, 2);
    const TBitmap32 small = stretchTo(p, 4, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            ASSERT_EQ(pixelAt(small, x, y), pixelAt(p, 2 * x, 2 * y));
}

TEST(Stretch, AnySizeTakesWholeSourcePixelsByTheFloorMapping)
{
    const TBitmap32 p = test::randomPicture(13, 11, 3);
    for (auto [w, h] : {std::pair{13, 11}, {5, 17}, {29, 3}, {1, 1}, {100, 37}}) {
        const TBitmap32 s = stretchTo(p, w, h);
        ASSERT_EQ(s.width(), w);
        ASSERT_EQ(s.height(), h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                ASSERT_EQ(pixelAt(s, x, y), pixelAt(p, x * 13 / w, y * 11 / h)) << w << "x" << h;
    }
    EXPECT_EQ(stretchTo(p, 13, 11), p);
    EXPECT_TRUE(stretchTo(p, 0, 5).empty());
}

TEST(Stretch, ResultDoesNotDependOnTheNumberOfThreads)
{
    const TBitmap32 p = test::randomPicture(123, 77, 4);
    setThreadCount(1);
    const TBitmap32 one = stretchTo(p, 301, 199);
    setThreadCount(3);
    const TBitmap32 three = stretchTo(p, 301, 199);
    setThreadCount(0);
    EXPECT_EQ(one, three);
}

TEST(ZoomInandOut, TruncatesTheFactorTimesTheSize)
{
    TBitmap32 p = test::randomPicture(10, 10, 5);
    ZoomInandOut(p, 1.25, 0.8);
    EXPECT_EQ(p.width(), 12);  // 12.5 truncated
    EXPECT_EQ(p.height(), 8);
    ZoomInandOut(p, 0.05, 1.0);
    EXPECT_TRUE(p.empty());
}

TEST(ZoomInandOut, AbsurdFactorsAreRefusedAndChangeNothing)
{
    TBitmap32 p = test::randomPicture(10, 10, 6);
    const TBitmap32 before = p;
    EXPECT_THROW(ZoomInandOut(p, 1e12, 1), ImageTooLargeError);
    EXPECT_THROW(ZoomInandOut(p, 1e5, 1e5), ImageTooLargeError);
    EXPECT_THROW(ZoomInandOut(p, std::numeric_limits<double>::quiet_NaN(), 1), ImageTooLargeError);
    EXPECT_THROW(ZoomInandOut(p, -5, 1), ImageTooLargeError);
    EXPECT_EQ(p, before);
}

// The sizes on which a turn built from sines and cosines loses a row or a
// column, and a few more.
const std::pair<int, int> kTurnSizes[] = {{1, 1}, {2, 2},    {3, 3},     {7, 7}, {1, 3},
                                          {3, 1}, {28, 399}, {521, 346}, {2, 5}, {65, 130}};

TEST(QuarterTurns, ClockwiseIsExactlyTheTurnedPicture)
{
    for (auto [w, h] : kTurnSizes) {
        const TBitmap32 p = test::randomPicture(w, h, unsigned(w * 7 + h));
        const TBitmap32 r = rotateClockwise(p);
        ASSERT_EQ(r.width(), h);
        ASSERT_EQ(r.height(), w);
        for (int y = 0; y < w; ++y)
            for (int x = 0; x < h; ++x)
                ASSERT_EQ(pixelAt(r, x, y), pixelAt(p, y, h - 1 - x)) << w << "x" << h << " at " << x << "," << y;
    }
}

TEST(QuarterTurns, AnticlockwiseIsExactlyTheTurnedPicture)
{
    for (auto [w, h] : kTurnSizes) {
        const TBitmap32 p = test::randomPicture(w, h, unsigned(w * 5 + h));
        const TBitmap32 r = rotateAnticlockwise(p);
        ASSERT_EQ(r.width(), h);
        ASSERT_EQ(r.height(), w);
        for (int y = 0; y < w; ++y)
            for (int x = 0; x < h; ++x)
                ASSERT_EQ(pixelAt(r, x, y), pixelAt(p, w - 1 - y, x)) << w << "x" << h << " at " << x << "," << y;
    }
}

TEST(QuarterTurns, FourTurnsOrATurnAndItsReverseGiveThePictureBack)
{
    for (auto [w, h] : kTurnSizes) {
        const TBitmap32 p = test::randomPicture(w, h, 99);
        EXPECT_EQ(rotateClockwise(rotateClockwise(rotateClockwise(rotateClockwise(p)))), p);
        EXPECT_EQ(rotateAnticlockwise(rotateAnticlockwise(rotateAnticlockwise(rotateAnticlockwise(p)))), p);
        EXPECT_EQ(rotateAnticlockwise(rotateClockwise(p)), p);
    }
    EXPECT_TRUE(rotateClockwise(TBitmap32()).empty());
}

}  // namespace
}  // namespace plumora
