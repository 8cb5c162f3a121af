#include "effects/relief/emboss.h"

#include "effects/sketch_pictures.h"
#include "raster/errors.h"
#include "raster/parallel.h"
#include "raster/rounding.h"
#include "support/simd_levels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace plumora {
namespace {

using test::pixelAt;

std::uint32_t opaqueGrey(int g)
{
    return 0xFF000000u | std::uint32_t(g) * 0x010101u;
}

// The emboss as defined, pixel by pixel on a copy: rows
// 0..H-d-1, columns 0..W-2, the neighbour's column clamped to W-1.
TBitmap32 referenceEmboss(const TBitmap32& source, int k, int d)
{
    TBitmap32 out = source;
    const int w = source.width(), h = source.height();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            out.ScanLine(y)[x * 4 + 3] = 255;
    for (int y = 0; y + d <= h - 1; ++y)
        for (int x = 0; x <= w - 2; ++x) {
            const std::uint8_t* p = source.ScanLine(y) + x * 4;
            const std::uint8_t* q = source.ScanLine(y + d) + std::min(x + d, w - 1) * 4;
            std::int64_t v[3];
            for (int c = 0; c < 3; ++c)
                v[c] = std::min<std::int64_t>(std::llabs(std::int64_t(p[c]) - q[c] + k + 50), 255);
            const int g = int(Round(0.3 * double(v[2]) + 0.59 * double(v[1]) + 0.11 * double(v[0])));
            test::setPixel(out, x, y, opaqueGrey(g));
        }
    return out;
}

TEST(Emboss, EqualsItsDefinitionOnAnyPicture)
{
    // Tiny pictures, a depth beyond the height, one pixel wide or high, and
    // rows longer than the pieces the rows are worked in.
    const std::pair<int, int> sizes[] = {{1, 1}, {2, 9},   {9, 2},     {3, 3},    {1, 7},   {7, 1},
                                         {6, 4}, {97, 61}, {1100, 21}, {2049, 7}, {40, 130}};
    int run = 0;
    for (const auto& [w, h] : sizes)
        for (unsigned seed = 1; seed <= 2; ++seed) {
            const TBitmap32 source = seed == 1 ? test::sketchPicture(w, h, seed) : test::randomPicture(w, h, seed);
            for (int depth : {1, 2, 3, 4, 5, 8})
                for (int lighting : {0, 1, 100, 155, 200, -300, 100000}) {
                    setThreadCount(run % 3 + 1);
                    const SimdLevelCap cap(test::cycledSimdLevel(run++ / 3));
                    ASSERT_EQ(test::decoded(emboss(source, lighting, depth)),
                              test::decoded(referenceEmboss(source, lighting, depth)))
                        << w << "x" << h << " depth " << depth << " lighting " << lighting;
                }
        }
    setThreadCount(0);
}

TEST(Emboss, UniformPictureTurnsGreyButTheKeptRowsAndColumn)
{
    for (int lighting : {0, 100, 150, 200}) {
        const TBitmap32 out = emboss(test::uniformPicture(9, 7, 30, 60, 90, 0), lighting, 3);
        const int grey = std::min(lighting + 50, 255);
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < 9; ++x) {
                const bool kept = y >= 4 || x == 8;
                EXPECT_EQ(pixelAt(out, x, y), kept ? 0xFF5A3C1Eu : opaqueGrey(grey))
                    << x << "," << y << " lighting " << lighting;
            }
    }
    // No more rows than the depth: only the fourth byte changes.
    const TBitmap32 low = test::randomPicture(5, 3, 9);
    TBitmap32 expected = low;
    FillAlpha(expected, 255);
    EXPECT_EQ(emboss(low, 100, 3), expected);
    EXPECT_EQ(emboss(test::randomPicture(1, 8, 2), 100, 1), referenceEmboss(test::randomPicture(1, 8, 2), 100, 1));
}

TEST(Emboss, ComparesWithThePixelDepthStepsDownAndRight)
{
    // Black with one white pixel at (3, 3): depth 1 sees it only from (2, 2),
    // where |0 - 255 + 150| = 105; the white pixel itself gives 255 + 150,
    // cut to 255.
    TBitmap32 source = test::uniformPicture(6, 6, 0, 0, 0, 255);
    test::setPixel(source, 3, 3, 0xFFFFFFFFu);
    const TBitmap32 out = emboss(source, 100, 1);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 5; ++x) {
            const int expected = (x == 2 && y == 2) ? 105 : (x == 3 && y == 3 ? 255 : 150);
            EXPECT_EQ(pixelAt(out, x, y), opaqueGrey(expected)) << x << "," << y;
        }
    // Depth 2 sees it from (1, 1) instead.
    EXPECT_EQ(pixelAt(emboss(source, 100, 2), 1, 1), opaqueGrey(105));
    EXPECT_EQ(pixelAt(emboss(source, 100, 2), 2, 2), opaqueGrey(150));
}

TEST(Emboss, NeighboursPastTheRightEdgeAreTheRowsLastPixel)
{
    // Depth 3 in a row of 6: columns 0..2 compare with columns 3..5 of the row
    // three below; columns 3 and 4 have no column 6 or 7 and take column 5.
    TBitmap32 source = test::uniformPicture(6, 4, 0, 0, 0, 255);
    test::setPixel(source, 5, 3, 0xFF646464u);  // grey 100 in the last column
    const TBitmap32 out = emboss(source, 100, 3);
    EXPECT_EQ(pixelAt(out, 0, 0), opaqueGrey(150));
    EXPECT_EQ(pixelAt(out, 1, 0), opaqueGrey(150));
    EXPECT_EQ(pixelAt(out, 2, 0), opaqueGrey(50));  // reads column 5 itself
    EXPECT_EQ(pixelAt(out, 3, 0), opaqueGrey(50));
    EXPECT_EQ(pixelAt(out, 4, 0), opaqueGrey(50));
    EXPECT_EQ(pixelAt(out, 5, 0), 0xFF000000u);  // the last column is kept
}

TEST(Emboss, RefusesADepthBelowOne)
{
    EXPECT_THROW(emboss(test::randomPicture(4, 4, 1), 100, 0), PlumoraError);
    EXPECT_THROW(emboss(test::randomPicture(4, 4, 1), 100, -2), PlumoraError);
    EXPECT_TRUE(emboss(TBitmap32(), 100, 3).empty());
}

}  // namespace
}  // namespace plumora
