#include "effects/paint/convolution.h"

#include "effects/sketch_pictures.h"
#include "raster/errors.h"
#include "raster/parallel.h"
#include "support/simd_levels.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <vector>

namespace plumora {
namespace {

using test::pixelAt;
using test::setPixel;

std::int64_t weighted(const TBitmap32& s, int x, int y, int c, const Kernel3x3& k)
{
    std::int64_t sum = 0;
    for (int j = 0; j < 9; ++j)
        sum += std::int64_t(k[std::size_t(j)]) * s.ScanLine(y + j / 3 - 1)[(x + j % 3 - 1) * 4 + c];
    return sum;
}

std::int64_t clamped(std::int64_t v)
{
    return std::max<std::int64_t>(0, std::min<std::int64_t>(255, v));
}

// Convolve with divisor 1, as defined: the sums in 64 bits, then clamped.
TBitmap32 referenceRealism(const TBitmap32& source, const Kernel3x3& k)
{
    TBitmap32 work = source;
    const TBitmap32 copy = work;
    for (int y = 1; y <= work.height() - 2; ++y)
        for (int x = 1; x <= work.width() - 2; ++x) {
            for (const int c : {kRed, kBlue, kGreen})
                work.ScanLine(y)[x * 4 + c] = std::uint8_t(clamped(weighted(copy, x, y, c, k) / 1));
            work.ScanLine(y)[x * 4 + kAlpha] = 255;
        }
    return work;
}

// Pop art (popFixed) or abstract, step by step: the responses, the columns,
// the rows, the inversion of the colours.
TBitmap32 referenceInvertedEdges(const TBitmap32& source, const Kernel3x3& k, bool popFixed)
{
    TBitmap32 result = source;
    const TBitmap32 copy = result;
    const int w = result.width();
    const int h = result.height();
    if (w == 1 && h >= 3)
        return source;  // our choice: no column to copy the sides from
    const Kernel3x3 fixed = popFixed ? Kernel3x3{-1, 0, 1, -2, 0, 2, -1, 0, 1}
                                     : Kernel3x3{1, 0, -1, 1, 0, -1, 1, 0, -1};
    for (int y = 1; y <= h - 2; ++y)
        for (int x = 1; x <= w - 2; ++x) {
            for (const int c : {kRed, kGreen, kBlue})
                result.ScanLine(y)[x * 4 + c] = std::uint8_t(
                    std::max(clamped(weighted(copy, x, y, c, k)), clamped(weighted(copy, x, y, c, fixed))));
            result.ScanLine(y)[x * 4 + kAlpha] = 0;
        }
    auto takeColour = [&](int x, int y, int fromX, int fromY) {
        for (const int c : {kBlue, kGreen, kRed})
            result.ScanLine(y)[x * 4 + c] = result.ScanLine(fromY)[fromX * 4 + c];
    };
    for (int y = 1; y <= h - 2; ++y) {
        takeColour(0, y, 1, y);
        takeColour(w - 1, y, w - 2, y);
    }
    if (h < 2 && w > 0)
        throw ScanLineError();  // the top row asks for row 1
    for (int x = 0; x < w; ++x)
        takeColour(x, 0, x, 1);
    for (int x = 0; x < w; ++x)
        takeColour(x, h - 1, x, h - 2);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (const int c : {kBlue, kGreen, kRed})
                result.ScanLine(y)[x * 4 + c] = std::uint8_t(255 - result.ScanLine(y)[x * 4 + c]);
    return result;
}

const std::vector<Kernel3x3>& kernels()
{
    static const std::vector<Kernel3x3> all = {
        kRealismDefaultKernel,
        kPopArtDefaultKernel,
        kAbstractDefaultKernel,
        {0, 0, 0, 0, 1, 0, 0, 0, 0},  // identity
        {0, 0, 0, 0, 0, 0, 0, 0, 0},
        {-1, -1, -1, -1, -1, -1, -1, -1, -1},
        {3, -7, 12, 0, 25, -4, 9, 1, -30},
        {16, 16, 16, 16, 0, 16, 16, -16, 16},  // the largest weights 16-bit sums take
        {16, 16, 16, 16, 1, 16, 16, -16, 16},  // and one more
        {100, 200, 100, 0, 1, 0, -100, -200, -100},
        {INT_MAX, INT_MAX, INT_MAX, 0, INT_MIN, 0, INT_MAX, 1, -5},  // sums far beyond 32 bits
        {INT_MIN, 0, 0, 0, INT_MAX, 0, 0, 0, INT_MIN},
    };
    return all;
}

struct Size {
    int w;
    int h;
};
constexpr Size kSizes[] = {{1, 1}, {1, 2}, {2, 1}, {1, 3}, {1, 9},   {9, 1},     {2, 2},
                           {2, 9}, {9, 2}, {3, 3}, {3, 2}, {97, 61}, {1100, 21}, {40, 130}};

TEST(Convolution, EachEffectEqualsTheStepsOfItsDefinition)
{
    int run = 0;
    for (const Size size : kSizes)
        for (unsigned seed = 1; seed <= 2; ++seed) {
            const TBitmap32 source = seed == 1 ? test::sketchPicture(size.w, size.h, seed)
                                               : test::randomPicture(size.w, size.h, seed);
            for (const Kernel3x3& k : kernels()) {
                setThreadCount(run % 3 + 1);
                const SimdLevelCap cap(test::cycledSimdLevel(run++ / 3));
                ASSERT_EQ(realism(source, k), referenceRealism(source, k)) << size.w << "x" << size.h << " run " << run;
                if (size.h == 1) {
                    EXPECT_THROW(popArt(source, k), ScanLineError);
                    EXPECT_THROW(abstractArt(source, k), ScanLineError);
                    continue;
                }
                ASSERT_EQ(popArt(source, k), referenceInvertedEdges(source, k, true)) << size.w << "x" << size.h;
                ASSERT_EQ(abstractArt(source, k), referenceInvertedEdges(source, k, false)) << size.w << "x" << size.h;
            }
        }
    setThreadCount(0);
}

// A picture whose channels depend on the row only (rowsNotColumns) or the
// column only, one value per line: lines[i] for row or column i.
TBitmap32 lines(const std::vector<std::uint8_t>& values, int length, bool rowsNotColumns)
{
    const int n = int(values.size());
    TBitmap32 p(rowsNotColumns ? length : n, rowsNotColumns ? n : length);
    for (int y = 0; y < p.height(); ++y)
        for (int x = 0; x < p.width(); ++x) {
            const std::uint32_t v = values[std::size_t(rowsNotColumns ? y : x)];
            setPixel(p, x, y, 0xFF000000u | v << 16 | v << 8 | v);
        }
    return p;
}

std::uint8_t blueAt(const TBitmap32& p, int x, int y)
{
    return std::uint8_t(pixelAt(p, x, y));
}

TEST(Convolution, DefaultKernelsPointTheWayTheyShould)
{
    // Realism brightens where the row above is the brighter one.
    EXPECT_EQ(blueAt(realism(lines({60, 60, 50, 40, 40}, 5, true), kRealismDefaultKernel), 2, 2), 4 * 60 - 3 * 40);
    EXPECT_EQ(blueAt(realism(lines({40, 40, 50, 60, 60}, 5, true), kRealismDefaultKernel), 2, 2), 0);
    // Pop art shows where the row below is the brighter one.
    EXPECT_EQ(blueAt(popArt(lines({40, 40, 50, 60, 60}, 5, true), kPopArtDefaultKernel), 2, 2), 255 - 80);
    EXPECT_EQ(blueAt(popArt(lines({60, 60, 50, 40, 40}, 5, true), kPopArtDefaultKernel), 2, 2), 255);
    // Abstract shows where the left column is the brighter one.
    EXPECT_EQ(blueAt(abstractArt(lines({60, 60, 50, 40, 40}, 5, false), kAbstractDefaultKernel), 2, 2), 255 - 60);
    EXPECT_EQ(blueAt(abstractArt(lines({40, 40, 50, 60, 60}, 5, false), kAbstractDefaultKernel), 2, 2), 255);
}

TEST(Convolution, TellingKernels)
{
    const TBitmap32 source = test::randomPicture(7, 6, 11);
    const TBitmap32 uniform = test::uniformPicture(7, 6, 30, 140, 220, 255);

    // The default weights sum to 1: a uniform picture keeps its colours.
    EXPECT_EQ(realism(uniform, kRealismDefaultKernel), uniform);
    // Identity: the interior is a copy with the fourth byte 255; the frame,
    // fourth byte included, is the source's.
    const TBitmap32 copy = realism(source, {0, 0, 0, 0, 1, 0, 0, 0, 0});
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 7; ++x) {
            const bool frame = x == 0 || y == 0 || x == 6 || y == 5;
            EXPECT_EQ(pixelAt(copy, x, y), frame ? pixelAt(source, x, y) : pixelAt(source, x, y) | 0xFF000000u);
        }
    // All zeros: a black interior; a negative sum: every channel 0.
    EXPECT_EQ(pixelAt(realism(source, {}), 3, 3), 0xFF000000u);
    EXPECT_EQ(pixelAt(realism(source, {-1, -1, -1, -1, -1, -1, -1, -1, -1}), 3, 3), 0xFF000000u);

    // Weights whose sums leave 16 bits, or 32, count in full: a sum that
    // wrapped round would come out 0 where it should be 255, or the other
    // way round.
    const TBitmap32 bright = test::uniformPicture(3, 3, 255, 255, 255, 255);
    EXPECT_EQ(pixelAt(realism(bright, {16, 16, 16, 16, 1, 16, 16, 16, 16}), 1, 1), 0xFFFFFFFFu);
    EXPECT_EQ(pixelAt(realism(bright, {-16, -16, -16, -16, -1, -16, -16, -16, -16}), 1, 1), 0xFF000000u);
    EXPECT_EQ(pixelAt(realism(bright, {INT_MAX, 0, 0, 0, INT_MAX, 0, 0, 0, 0}), 1, 1), 0xFFFFFFFFu);
    EXPECT_EQ(pixelAt(realism(bright, {INT_MIN, 0, 0, 0, INT_MIN, 0, 0, 0, INT_MAX}), 1, 1), 0xFF000000u);

    // No edges: pop art and abstract are white, frame included, with any
    // weights that sum to 0 or less; the fourth byte is 0 inside and the
    // source's in the frame (the inversion turns colours only).
    for (const Kernel3x3& k :
         {kPopArtDefaultKernel, kAbstractDefaultKernel, Kernel3x3{}, Kernel3x3{1, -2, 0, 0, 0, 0, 0, 0, 1}}) {
        for (const TBitmap32& art : {popArt(uniform, k), abstractArt(uniform, k)})
            for (int y = 0; y < 6; ++y)
                for (int x = 0; x < 7; ++x) {
                    const bool frame = x == 0 || y == 0 || x == 6 || y == 5;
                    EXPECT_EQ(pixelAt(art, x, y), frame ? 0xFFFFFFFFu : 0x00FFFFFFu) << x << "," << y;
                }
    }

    // Identity kernel: the interior is the negative of max(source, fixed response).
    const TBitmap32 negative = popArt(uniform, {0, 0, 0, 0, 1, 0, 0, 0, 0});
    EXPECT_EQ(pixelAt(negative, 3, 3), std::uint32_t(255 - 220) << 16 | std::uint32_t(255 - 140) << 8 | (255 - 30));
}

TEST(Convolution, FrameRepeatsItsInnerNeighbours)
{
    const TBitmap32 source = test::randomPicture(6, 5, 3);
    for (const TBitmap32& art :
         {popArt(source, {3, -1, 2, 0, 1, 0, -2, 5, 1}), abstractArt(source, kAbstractDefaultKernel)})
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 6; ++x) {
                const int ix = std::clamp(x, 1, 4), iy = std::clamp(y, 1, 3);
                EXPECT_EQ(pixelAt(art, x, y) & 0xFFFFFFu, pixelAt(art, ix, iy) & 0xFFFFFFu) << x << "," << y;
            }
}

TEST(Convolution, NarrowPictures)
{
    // Less than 3 wide or high: realism has no interior and changes nothing.
    for (const Size size : {Size{2, 9}, Size{9, 2}, Size{1, 1}})
        EXPECT_EQ(realism(test::randomPicture(size.w, size.h, 5), kRealismDefaultKernel),
                  test::randomPicture(size.w, size.h, 5));

    // Two rows: both become row 1, inverted, each keeping its fourth bytes.
    const TBitmap32 twoRows = test::randomPicture(4, 2, 6);
    const TBitmap32 art = popArt(twoRows, kPopArtDefaultKernel);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(pixelAt(art, x, y),
                      (~pixelAt(twoRows, x, 1) & 0xFFFFFFu) | (pixelAt(twoRows, x, y) & 0xFF000000u));

    // One column, at least three high: no side to copy from, unchanged.
    const TBitmap32 column = test::randomPicture(1, 7, 8);
    EXPECT_EQ(popArt(column, kPopArtDefaultKernel), column);
    EXPECT_EQ(abstractArt(column, kAbstractDefaultKernel), column);

    // One row high: the top row has no row 1 to come from.
    EXPECT_THROW(popArt(test::randomPicture(5, 1, 9), kPopArtDefaultKernel), ScanLineError);
    EXPECT_THROW(abstractArt(test::randomPicture(1, 1, 9), kAbstractDefaultKernel), ScanLineError);
    EXPECT_TRUE(popArt(TBitmap32(), kPopArtDefaultKernel).empty());
}

}  // namespace
}  // namespace plumora
