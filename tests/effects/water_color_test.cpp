#include "effects/paint/water_color.h"

#include "effects/sketch_pictures.h"
#include "raster/parallel.h"
#include "support/simd_levels.h"

#include <gtest/gtest.h>

#include <utility>

namespace plumora {
namespace {

using test::pixelAt;
using test::setPixel;

void SelectionSort(int* a, int m)
{
    for (int i = 0; i <= m - 1; ++i)
        for (int j = m; j >= i + 1; --j)
            if (a[j] < a[i])
                std::swap(a[i], a[j]);
}

int at(const TBitmap32& p, int x, int y, int c)
{
    return p.ScanLine(y)[x * 4 + c];
}

// The passes as defined: neighbourhoods from an unchanged copy, writes to a
// result buffer that starts as the picture before the pass.
void referenceSharpen(TBitmap32& work)
{
    const TBitmap32 copy = work;
    TBitmap32 result = work;
    for (int y = 1; y <= work.height() - 2; ++y)
        for (int x = 1; x <= work.width() - 2; ++x)
            for (const int c : {kRed, kBlue, kGreen}) {
                const int s = 5 * at(copy, x, y, c) - at(copy, x, y - 1, c) - at(copy, x - 1, y, c) -
                              at(copy, x + 1, y, c) - at(copy, x, y + 1, c);
                result.ScanLine(y)[x * 4 + c] = std::uint8_t(std::min(255, std::max(0, s)));
            }
    work = result;
}

void referenceSoften(TBitmap32& work)
{
    const TBitmap32 copy = work;
    TBitmap32 result = work;
    for (int y = 1; y <= work.height() - 2; ++y)
        for (int x = 1; x <= work.width() - 2; ++x)
            for (const int c : {kRed, kGreen, kBlue}) {
                int window[9];
                for (int i = 0; i < 9; ++i)
                    window[i] = at(copy, x + i % 3 - 1, y + i / 3 - 1, c);
                SelectionSort(window, 8);
                result.ScanLine(y)[x * 4 + c] = std::uint8_t(window[4]);
            }
    work = result;
}

TBitmap32 referenceWaterColor(const TBitmap32& source, int scope)
{
    TBitmap32 work = source;
    for (int i = 0; i < scope; ++i) {
        referenceSharpen(work);
        referenceSoften(work);
        referenceSoften(work);
    }
    return work;
}

// Values 0..levels-1 spread over 0..255: many equal values, for the median.
TBitmap32 fewLevels(int width, int height, unsigned seed, int levels)
{
    TBitmap32 p = test::randomPicture(width, height, seed);
    for (std::size_t i = 0; i < p.byteCount(); ++i)
        if (i % 4 != kAlpha)
            p.bits()[i] = std::uint8_t(p.bits()[i] % levels * (255 / (levels - 1)));
    return p;
}

TEST(WaterColor, EqualsItsPassesAsDefined)
{
    const std::pair<int, int> sizes[] = {{1, 1}, {1, 9}, {9, 1},   {2, 9},    {9, 2},   {3, 3},
                                         {4, 3}, {3, 5}, {97, 61}, {300, 17}, {33, 100}};
    int run = 0;
    for (const auto& [w, h] : sizes)
        for (unsigned seed = 1; seed <= 3; ++seed) {
            const TBitmap32 source = seed == 1   ? test::sketchPicture(w, h, seed)
                                     : seed == 2 ? test::randomPicture(w, h, seed)
                                                 : fewLevels(w, h, seed, 3);
            for (int scope = kWaterColorScopeMin; scope <= kWaterColorScopeMax; ++scope) {
                if (w * h > 5000 && scope % 2 == 0)
                    continue;  // the reference is slow; the odd scopes chain cycles as well
                setThreadCount(run % 3 + 1);
                const SimdLevelCap cap(test::cycledSimdLevel(run++ / 3));
                ASSERT_EQ(waterColor(source, scope), referenceWaterColor(source, scope))
                    << w << "x" << h << " seed " << seed << " scope " << scope;
            }
        }
    setThreadCount(0);
}

TEST(WaterColor, SinglePassesEqualTheirDefinitions)
{
    int run = 0;
    for (const TBitmap32& source : {test::sketchPicture(70, 40, 4), fewLevels(65, 33, 5, 2), fewLevels(64, 35, 6, 4)})
        for (const test::NamedLevel& level : test::simdLevelsOfThisMachine()) {
            const SimdLevelCap cap(level.level);
            setThreadCount(run++ % 2 + 1);
            TBitmap32 fast = source, plain = source;
            sharpen(fast);
            referenceSharpen(plain);
            ASSERT_EQ(fast, plain) << level.name;
            fast = plain = source;
            soften(fast);
            referenceSoften(plain);
            ASSERT_EQ(fast, plain) << level.name;
        }
    setThreadCount(0);
}

// The median works by comparisons only: if it takes the fifth of nine for
// every neighbourhood of zeros and ones, it does for every neighbourhood.
// Each 3x3 block of this picture holds one of the 512 such neighbourhoods
// around its centre, in blue, and its complement in green.
TEST(WaterColor, MedianIsRightForEveryNeighbourhoodOfZerosAndOnes)
{
    TBitmap32 blocks = test::uniformPicture(32 * 3, 16 * 3, 0, 0, 0, 255);
    for (int pattern = 0; pattern < 512; ++pattern)
        for (int i = 0; i < 9; ++i) {
            const bool one = (pattern >> i & 1) != 0;
            const int x = pattern % 32 * 3 + i % 3, y = pattern / 32 * 3 + i / 3;
            setPixel(blocks, x, y, 0xFF000000u | (one ? 0x0000FFu : 0x00FF00u));
        }
    for (const test::NamedLevel& level : test::simdLevelsOfThisMachine()) {
        const SimdLevelCap cap(level.level);
        TBitmap32 fast = blocks;
        soften(fast);
        for (int pattern = 0; pattern < 512; ++pattern) {
            const bool mostlyOnes = __builtin_popcount(unsigned(pattern)) >= 5;
            EXPECT_EQ(pixelAt(fast, pattern % 32 * 3 + 1, pattern / 32 * 3 + 1),
                      0xFF000000u | (mostlyOnes ? 0x0000FFu : 0x00FF00u))
                << level.name << " pattern " << pattern;
        }
    }
}

TEST(WaterColor, WorkedValuesAndUniformPictures)
{
    // 5 * 100 - 4 * 90; the diagonal neighbours do not count.
    TBitmap32 cross = test::uniformPicture(3, 3, 0, 0, 0, 255);
    for (const auto& [x, y] : {std::pair{1, 0}, {0, 1}, {2, 1}, {1, 2}})
        setPixel(cross, x, y, 0xFF5A5A5Au);
    setPixel(cross, 1, 1, 0xFF646464u);
    sharpen(cross);
    EXPECT_EQ(pixelAt(cross, 1, 1), 0xFF8C8C8Cu);

    // A uniform picture does not change, nor do its fourth bytes.
    TBitmap32 uniform = test::uniformPicture(20, 15, 10, 200, 90, 255);
    setPixel(uniform, 7, 7, 0x115AC80Au);  // the same colour, another fourth byte
    for (int scope = kWaterColorScopeMin; scope <= kWaterColorScopeMax; ++scope)
        EXPECT_EQ(waterColor(uniform, scope), uniform) << scope;

    // One differing pixel two from the border: one cycle washes it out.
    TBitmap32 speck = test::uniformPicture(9, 8, 10, 200, 90, 255);
    setPixel(speck, 2, 5, 0xFFFF0000u);
    EXPECT_EQ(waterColor(speck, 1), test::uniformPicture(9, 8, 10, 200, 90, 255));

    // Less than 3 wide or high: no interior, nothing changes.
    for (const auto& [w, h] : {std::pair{2, 6}, {6, 2}, {1, 1}})
        EXPECT_EQ(waterColor(test::randomPicture(w, h, 3), kWaterColorScopeMax), test::randomPicture(w, h, 3));
}

}  // namespace
}  // namespace plumora
