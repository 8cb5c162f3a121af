#include "raster/picsobel.h"

#include "raster/errors.h"
#include "raster/parallel.h"
#include "support/pictures.h"
#include "support/simd_levels.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace plumora {
namespace {

using test::pixelAt;

// The edge routine written out step by step, one pixel at a time, as plainly
// as it is defined; the fast routine must match it byte for byte.
TBitmap32 referencePicsobel(const TBitmap32& input)
{
    TBitmap32 result = input;
    const TBitmap32 source = input;
    const int W = input.width();
    const int H = input.height();
    auto P = [&](int x, int y, int c) { return int(source.ScanLine(y)[x * 4 + c]); };
    auto clamp = [](int v) { return std::min(std::max(v, 0), 255); };
    if (W >= 3 && H >= 3)
        for (int y = 1; y <= H - 2; ++y)
            for (int x = 1; x <= W - 2; ++x)
                for (int c = 0; c < 3; ++c) {
                    const int A = clamp(6 * P(x, y, c) - P(x - 1, y - 1, c) - P(x, y - 1, c) - P(x + 1, y - 1, c) -
                                        P(x - 1, y + 1, c) - P(x, y + 1, c) - P(x + 1, y + 1, c));
                    const int B = clamp(P(x - 1, y - 1, c) + P(x - 1, y, c) + P(x - 1, y + 1, c) - P(x + 1, y - 1, c) -
                                        P(x + 1, y, c) - P(x + 1, y + 1, c));
                    result.ScanLine(y)[x * 4 + c] = std::uint8_t(std::max(A, B));
                }
    for (int y = 1; y <= H - 2; ++y)
        for (int c = 0; c < 3; ++c) {
            result.ScanLine(y)[0 * 4 + c] = result.ScanLine(y)[1 * 4 + c];
            result.ScanLine(y)[(W - 1) * 4 + c] = result.ScanLine(y)[(W - 2) * 4 + c];
        }
    for (int x = 0; x < W; ++x)
        for (int c = 0; c < 3; ++c)
            result.ScanLine(0)[x * 4 + c] = result.ScanLine(1)[x * 4 + c];
    for (int x = 0; x < W; ++x)
        for (int c = 0; c < 3; ++c)
            result.ScanLine(H - 1)[x * 4 + c] = result.ScanLine(H - 2)[x * 4 + c];
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            for (int c = 0; c < 3; ++c)
                result.ScanLine(y)[x * 4 + c] = std::uint8_t(255 - result.ScanLine(y)[x * 4 + c]);
    return result;
}

TEST(Picsobel, MatchesTheStepByStepDefinitionOnEverySmallSize)
{
    for (const auto& [level, name] : test::simdLevelsOfThisMachine()) {
        SimdLevelCap cap(level);
        // Widths up to 40 cover rows shorter than, equal to and longer than
        // one or two vector steps, with every length of tail; heights up to
        // 12 a full pass of eight rows and every smaller pass.
        for (int h = 2; h <= 12; ++h)
            for (int w = 2; w <= 40; ++w) {
                const TBitmap32 input = test::randomPicture(w, h, unsigned(w * 100 + h));
                TBitmap32 fast = input;
                picsobel(fast);
                EXPECT_EQ(fast, referencePicsobel(input)) << w << " x " << h << ", " << name;
            }
    }
}

TEST(Picsobel, ResultDoesNotDependOnTheNumberOfThreadsOrTheVectorPath)
{
    // Random bytes next to flat blocks of 0 and 255: both responses go far
    // below 0 and far above 255.
    TBitmap32 input = test::randomPicture(301, 157, 42);
    for (int y = 40; y < 80; ++y)
        for (int x = 0; x < 301; ++x)
            test::setPixel(input, x, y, (x / 13 + y / 7) % 2 ? 0xFFFFFFFFu : 0xFF000000u);
    const TBitmap32 expected = referencePicsobel(input);
    for (const auto& [level, name] : test::simdLevelsOfThisMachine()) {
        SimdLevelCap cap(level);
        for (int threads : {1, 2, 3, 8}) {
            setThreadCount(threads);
            EXPECT_EQ(picsobelOf(input), expected) << threads << " threads, " << name;
        }
    }
    setThreadCount(0);
}

TEST(Picsobel, UniformPictureHasNoEdgesAndTurnsWhite)
{
    TBitmap32 p = test::uniformPicture(6, 5, 90, 20, 200, 77);
    picsobel(p);
    EXPECT_EQ(p, test::uniformPicture(6, 5, 255, 255, 255, 77));
}

TEST(Picsobel, TwoRowsBothBecomeTheSecondRowInverted)
{
    TBitmap32 p(3, 2);
    test::setPixel(p, 0, 0, 0x11010203);
    test::setPixel(p, 1, 0, 0x22040506);
    test::setPixel(p, 2, 0, 0x33070809);
    test::setPixel(p, 0, 1, 0x44101112);
    test::setPixel(p, 1, 1, 0x55131415);
    test::setPixel(p, 2, 1, 0x66161718);
    picsobel(p);
    // Colours from row 1, inverted; each pixel keeps its own fourth byte.
    EXPECT_EQ(pixelAt(p, 0, 0), 0x11EFEEEDu);
    EXPECT_EQ(pixelAt(p, 1, 0), 0x22ECEBEAu);
    EXPECT_EQ(pixelAt(p, 2, 0), 0x33E9E8E7u);
    EXPECT_EQ(pixelAt(p, 0, 1), 0x44EFEEEDu);
    EXPECT_EQ(pixelAt(p, 2, 1), 0x66E9E8E7u);
}

TEST(Picsobel, HandComputedCentre)
{
    // 3 x 3 grey picture, centre 100, top row 10, bottom row 20, left column
    // 50 and right column 30 in the middle row.
    TBitmap32 p = test::uniformPicture(3, 3, 10, 10, 10, 255);
    for (int x = 0; x < 3; ++x)
        test::setPixel(p, x, 2, 0xFF141414);
    test::setPixel(p, 0, 1, 0xFF323232);
    test::setPixel(p, 1, 1, 0xFF646464);
    test::setPixel(p, 2, 1, 0xFF1E1E1E);
    picsobel(p);
    // A = 6*100 - 3*10 - 3*20 = 510 -> 255; B = 10+50+20 - 10-30-20 = 20;
    // max 255, inverted 0: a black centre, copied to every border pixel.
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(pixelAt(p, x, y), 0xFF000000u) << x << "," << y;
}

TEST(Picsobel, OnePixelHighIsAnErrorThatChangesNothing)
{
    TBitmap32 p = test::randomPicture(5, 1, 3);
    const TBitmap32 before = p;
    EXPECT_THROW(picsobel(p), ScanLineError);
    EXPECT_EQ(p, before);
    EXPECT_THROW(forEachPicsobelRow(p, [](int, const std::uint8_t*) { FAIL(); }), ScanLineError);
}

TEST(Picsobel, OnePixelWideIsLeftUnchanged)
{
    for (int h : {3, 4, 40}) {
        TBitmap32 p = test::randomPicture(1, h, 9);
        const TBitmap32 before = p;
        picsobel(p);
        EXPECT_EQ(p, before);
    }
    // One wide and two high has no side copy to make: both rows become row 1.
    TBitmap32 p = test::randomPicture(1, 2, 11);
    TBitmap32 expected = referencePicsobel(p);
    picsobel(p);
    EXPECT_EQ(p, expected);
}

TEST(Picsobel, RowsHandedOutHaveThePicturesColours)
{
    const TBitmap32 input = test::randomPicture(64, 40, 5);
    TBitmap32 assembled = picsobelOf(input);
    const TBitmap32 whole = assembled;
    // The rows' fourth bytes are not set: only their colours are compared.
    forEachPicsobelRow(input, [&](int y, const std::uint8_t* row) {
        for (int x = 0; x < 64; ++x)
            std::copy(row + x * 4, row + x * 4 + 3, assembled.ScanLine(y) + x * 4);
    });
    EXPECT_EQ(assembled, whole);
}

}  // namespace
}  // namespace plumora
