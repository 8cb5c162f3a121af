#include "effects/paint/brume.h"

#include "effects/sketch_pictures.h"
#include "raster/parallel.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace plumora {
namespace {

using test::pixelAt;

// Brume as defined, with the generator as a plain 32-bit state: one pixel
// after the other, two draws each, the row offset first.
TBitmap32 referenceBrume(const TBitmap32& source, int a, std::uint32_t& s)
{
    TBitmap32 result = source;
    const TBitmap32 copy = source;
    const int w = source.width();
    const int h = source.height();
    auto drawBelow = [&](std::uint32_t n) {
        s = s * 134775813u + 1u;
        return int((std::uint64_t(s) * n) >> 32);
    };
    for (int y = 1; y <= h - 1; ++y)
        for (int x = 1; x <= w - 1; ++x) {
            int sy = y + drawBelow(std::uint32_t(a + 3)) - a;
            int sx = x + drawBelow(std::uint32_t(a + 3)) - a;
            if (sy >= h)
                sy = h - 1;
            else if (sy < 0)
                sy = 0;
            if (sx >= w)
                sx = w - 1;
            else if (sx < 0)
                sx = 0;
            for (const int c : {kBlue, kGreen, kRed})
                result.ScanLine(y)[x * 4 + c] = copy.ScanLine(sy)[sx * 4 + c];
        }
    return result;
}

TEST(Brume, EqualsTheSerialDefinitionAndLeavesTheGeneratorWhereItWould)
{
    const std::pair<int, int> sizes[] = {{1, 1}, {1, 7}, {7, 1},   {2, 2},     {2, 9},
                                         {9, 2}, {3, 3}, {97, 61}, {1100, 21}, {23, 300}};
    int run = 0;
    for (const auto& [w, h] : sizes)
        for (int scope : {kBrumeScopeMin, 2, kBrumeScopeDefault, 7, kBrumeScopeMax}) {
            const TBitmap32 source = test::randomPicture(w, h, unsigned(run + 1));
            // The program's generator, at start and after earlier uses.
            BrumeRandom random(run % 2 == 0 ? 0u : 0x9E3779B9u * std::uint32_t(run));
            std::uint32_t state = random.state();
            for (int use = 0; use < 2; ++use) {
                setThreadCount(run++ % 3 + 1);
                const TBitmap32 expected = referenceBrume(source, scope, state);
                ASSERT_EQ(brume(source, scope, random), expected) << w << "x" << h << " scope " << scope;
                ASSERT_EQ(random.state(), state) << w << "x" << h << " scope " << scope;
            }
        }
    setThreadCount(0);
}

TEST(Brume, SkippingEqualsDrawing)
{
    for (const std::uint32_t start : {0u, 1u, 0xDEADBEEFu})
        for (const std::uint64_t n : {0ull, 1ull, 2ull, 15ull, 16ull, 17ull, 1000ull, 123457ull}) {
            BrumeRandom drawn(start), skipped(start);
            for (std::uint64_t i = 0; i < n; ++i)
                drawn.draw(std::uint32_t(i % 13 + 1));
            skipped.skip(n);
            EXPECT_EQ(skipped, drawn) << start << " " << n;
        }
    // The generator has full period 2^32: so many draws come back to the
    // start, half as many do not; skips add up.
    BrumeRandom turn(12345);
    turn.skip(std::uint64_t(1) << 32);
    EXPECT_EQ(turn.state(), 12345u);
    turn.skip(std::uint64_t(1) << 31);
    EXPECT_NE(turn.state(), 12345u);
    BrumeRandom once(7), twice(7);
    once.skip(5000000123ull);
    twice.skip(3000000000ull);
    twice.skip(2000000123ull);
    EXPECT_EQ(once, twice);
    // A draw is the upper half of state * below, the state stepped first.
    BrumeRandom first;
    EXPECT_EQ(first.draw(0x80000000u), 0u);  // state 1
    EXPECT_EQ(first.state(), 1u);
    EXPECT_EQ(first.draw(0x80000000u), 134775814u / 2);  // state 134775814
    EXPECT_EQ(brumeDraws(4000, 3000), 2ull * 3999 * 2999);
}

TEST(Brume, FirstUseAfterStartIsAlwaysTheSameAndTheSecondDiffers)
{
    const TBitmap32 source = test::sketchPicture(120, 80, 3);
    BrumeRandom oneRun, anotherRun;
    const TBitmap32 first = brume(source, kBrumeScopeDefault, oneRun);
    EXPECT_EQ(brume(source, kBrumeScopeDefault, anotherRun), first);
    EXPECT_NE(brume(source, kBrumeScopeDefault, oneRun), first);
}

TEST(Brume, PixelsComeFromTheirWindow)
{
    // Every pixel a colour of its own: x in blue and red, y in green.
    TBitmap32 source(300, 200);
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 300; ++x)
            test::setPixel(source, x, y,
                           std::uint32_t(x * 7 % 256) << 24 | std::uint32_t(x >> 8) << 16 | std::uint32_t(y) << 8 |
                               std::uint32_t(x & 0xFF));
    BrumeRandom random(99);
    for (int scope = kBrumeScopeMin; scope <= kBrumeScopeMax; ++scope) {
        const TBitmap32 result = brume(source, scope, random);
        for (int y = 0; y < 200; ++y)
            for (int x = 0; x < 300; ++x) {
                const std::uint32_t p = pixelAt(result, x, y);
                const int sx = int(p & 0xFF) | int(p >> 16 & 0xFF) << 8, sy = int(p >> 8 & 0xFF);
                ASSERT_EQ(p >> 24, std::uint32_t(x * 7 % 256)) << "the fourth byte is the pixel's own";
                if (x == 0 || y == 0) {
                    ASSERT_EQ(p, pixelAt(source, x, y));
                    continue;
                }
                ASSERT_TRUE(sy >= std::max(0, y - scope) && sy <= std::min(199, y + 2)) << x << "," << y;
                ASSERT_TRUE(sx >= std::max(0, x - scope) && sx <= std::min(299, x + 2)) << x << "," << y;
            }
    }
}

TEST(Brume, PicturesItCannotScatter)
{
    BrumeRandom random(42);
    const TBitmap32 uniform = test::uniformPicture(30, 20, 10, 200, 90, 255);
    for (int scope = kBrumeScopeMin; scope <= kBrumeScopeMax; ++scope)
        EXPECT_EQ(brume(uniform, scope, random), uniform);
    EXPECT_NE(random.state(), 42u);
    // One row or one column: nothing to process, and no draw made.
    const BrumeRandom before = random;
    for (const auto& [w, h] : {std::pair{1, 9}, {9, 1}, {0, 0}})
        EXPECT_EQ(brume(test::randomPicture(w, h, 1), kBrumeScopeMax, random), test::randomPicture(w, h, 1));
    EXPECT_EQ(random, before);
    EXPECT_THROW(brume(uniform, -1, random), std::invalid_argument);
}

}  // namespace
}  // namespace plumora
