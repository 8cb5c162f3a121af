#include "effects/sketch/pen_and_ink.h"

#include "effects/sketch_pictures.h"
#include "raster/errors.h"
#include "raster/rounding.h"
#include "raster/parallel.h"
#include "support/simd_levels.h"

#include <gtest/gtest.h>

#include <cstring>

namespace plumora {
namespace {

using test::drawing;
using test::pixelAt;
using test::setPixel;

// The ink grey value as defined.
int inkGreyValue(int r, int g, int b)
{
    return int(Round(0.299 * r + 0.587 * g + 0.11 * b));
}

// Each step as defined, through its own copies.
TBitmap32 referenceTwoValue(const TBitmap32& source, int threshold)
{
    TBitmap32 copy = source;
    for (int y = 0; y < copy.height(); ++y)
        for (int x = 0; x < copy.width(); ++x) {
            const std::uint8_t* p = source.ScanLine(y) + x * 4;
            setPixel(copy, x, y, inkGreyValue(p[2], p[1], p[0]) > threshold ? 0xFFFFFFFFu : 0xFF000000u);
        }
    return copy;
}

TBitmap32 referenceOutlines(const TBitmap32& work)
{
    TBitmap32 output = work;
    for (int y = 1; y <= work.height() - 2; ++y)
        for (int x = 1; x <= work.width() - 2; ++x) {
            bool allBlack = true;
            for (int i = 0; i < 9; ++i)
                allBlack = allBlack && test::colourZero(work, x + i % 3 - 1, y + i / 3 - 1);
            if (allBlack)
                setPixel(output, x, y, 0xFFFFFFFFu);
        }
    return output;
}

TBitmap32 referenceColorValue(const TBitmap32& outlines, const TBitmap32& source)
{
    TBitmap32 copy = outlines;
    for (int y = 0; y < copy.height(); ++y)
        for (int x = 0; x < copy.width(); ++x)
            if ((pixelAt(copy, x, y) >> 16 & 0xFF) == 0)
                setPixel(copy, x, y, pixelAt(source, x, y) | 0xFF000000u);
    return copy;
}

// The row routines are checked against the formula over every colour with
// these weights in the grey value's tests; here, that no colour reaches 255,
// so a threshold of 254 or more cuts everything to ink.
TEST(InkGreyValue, NeverExceeds254)
{
    int largest = 0;
    for (int r = 0; r < 256; ++r)
        for (int g = 0; g < 256; ++g)
            for (int b = 0; b < 256; ++b)
                largest = std::max(largest, inkGreyValue(r, g, b));
    EXPECT_EQ(largest, 254);  // the weights add up to 0.996
}

TEST(PenAndInk, EqualsItsStepsOnAnyPicture)
{
    const std::pair<int, int> sizes[] = {{1, 1}, {1, 5}, {5, 1}, {2, 2}, {3, 3}, {4, 7}, {31, 19}, {80, 90}, {1100, 9}};
    int run = 0;
    for (const auto& [w, h] : sizes)
        for (unsigned seed = 1; seed <= 2; ++seed) {
            const TBitmap32 source = seed == 1 ? test::sketchPicture(w, h, seed) : test::randomPicture(w, h, seed);
            for (int threshold : {0, 60, 128, 200, 253, 254, 255}) {
                setThreadCount(run % 3 + 1);
                const SimdLevelCap cap(test::cycledSimdLevel(run++ / 3));
                const TBitmap32 outlines = referenceOutlines(referenceTwoValue(source, threshold));
                ASSERT_EQ(penAndInk(source, threshold, false), outlines) << w << "x" << h << " threshold " << threshold;
                ASSERT_EQ(penAndInk(source, threshold, true), referenceColorValue(outlines, source));
            }
        }
    setThreadCount(0);
}

TEST(PenAndInk, TellingCases)
{
    // Full threshold: all black, then every interior pixel cleared: a frame.
    // 254 is already at or above every ink grey value.
    const std::vector<std::string> frame = {"######", "#....#", "#....#", "#....#", "######"};
    EXPECT_EQ(drawing(penAndInk(test::sketchPicture(6, 5, 2), 255, false)), frame);
    EXPECT_EQ(drawing(penAndInk(test::uniformPicture(6, 5, 255, 255, 255, 0), 254, false)), frame);

    // An isolated black pixel survives; a solid 3 x 3 block loses its centre.
    TBitmap32 source = test::uniformPicture(8, 6, 255, 255, 255, 0);
    setPixel(source, 1, 1, 0x00000000u);
    for (int i = 0; i < 9; ++i)
        setPixel(source, 4 + i % 3, 2 + i / 3, 0x00101010u);
    setPixel(source, 4, 2, 0x00304050u);  // a dark colour of its own
    EXPECT_EQ(drawing(penAndInk(source, 128, false)),
              (std::vector<std::string>{"........", ".#......", "....###.", "....#.#.", "....###.", "........"}));
    // Color Ink: the photograph's colours, opaque; its black stays black.
    const TBitmap32 coloured = penAndInk(source, 128, true);
    EXPECT_EQ(pixelAt(coloured, 4, 2), 0xFF304050u);
    EXPECT_EQ(pixelAt(coloured, 1, 1), 0xFF000000u);
    EXPECT_EQ(pixelAt(coloured, 5, 3), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace plumora
