#include "freehand/strokes.h"

#include "raster/rounding.h"
#include "support/pictures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace plumora {
namespace {

using test::decoded;
using test::pixelAt;
using test::setPixel;
using test::uniformPicture;

constexpr std::uint32_t kBlackPixel = 0x11000000;  // fourth byte 0x11, to see that it stays

int whiteCount(const TBitmap32& p)
{
    int n = 0;
    for (std::uint32_t v : decoded(p).pixels)
        n += (v & 0xFFFFFFu) == 0xFFFFFFu;
    return n;
}

TEST(Disc, PixelCounts)
{
    for (const auto& [radius, count] : {std::pair{0, 1}, {1, 5}, {2, 17}, {16, 833}, {100, 31593}}) {
        TBitmap32 p = uniformPicture(250, 250, 0, 0, 0, 0x11);
        rub(p, 120, 125, radius);
        EXPECT_EQ(whiteCount(p), count) << "radius " << radius;
    }
    // The plus sign of radius 1.
    TBitmap32 p = uniformPicture(3, 3, 0, 0, 0, 0x11);
    rub(p, 1, 1, 1);
    EXPECT_EQ(decoded(p).pixels,
              (std::vector<std::uint32_t>{kBlackPixel, 0x11FFFFFF, kBlackPixel, 0x11FFFFFF, 0x11FFFFFF, 0x11FFFFFF,
                                          kBlackPixel, 0x11FFFFFF, kBlackPixel}));
}

// The disc built column by column as defined, clipped to the picture, for
// centres inside, on the edges, beyond them and far away.
TEST(Disc, ColumnsAsDefinedClippedToThePicture)
{
    const int w = 23, h = 17;
    for (int radius : {1, 2, 3, 7, 12, 30})
        for (int cx : {-radius - 1, -radius, -3, 0, 5, 11, 22, 25, w + radius - 1, w + radius})
            for (int cy : {-radius - 1, -2, 0, 8, 16, h + radius - 1, h + radius}) {
                const std::string at = std::to_string(radius) + " at " + std::to_string(cx) + "," + std::to_string(cy);
                TBitmap32 expected = uniformPicture(w, h, 0, 0, 0, 0x11);
                for (int b = cx - radius; b <= cx + radius; ++b) {
                    const int c = int(Round(std::sqrt(double(radius * radius - (cx - b) * (cx - b)))));
                    for (int y = cy - c; y <= cy + c; ++y)
                        if (b >= 0 && b < w && y >= 0 && y < h)
                            setPixel(expected, b, y, 0x11FFFFFF);
                }
                TBitmap32 p = uniformPicture(w, h, 0, 0, 0, 0x11);
                const PixelRect rect = rub(p, cx, cy, radius);
                ASSERT_EQ(decoded(p), decoded(expected)) << at;
                const PixelRect box{std::max(cx - radius, 0), std::max(cy - radius, 0), std::min(cx + radius + 1, w),
                                    std::min(cy + radius + 1, h)};
                ASSERT_EQ(rect, box.empty() ? PixelRect{} : box) << at;
            }
    EXPECT_TRUE(PixelRect{}.empty());
}

TEST(Rubber, EveryColourBecomesWhiteKeepingTheFourthByte)
{
    TBitmap32 p = test::randomPicture(5, 5, 3);
    setPixel(p, 2, 2, 0x42ECE9D8);  // the paper tint
    TBitmap32 expected = p;
    rub(p, 2, 2, 2);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 5; ++x)
            if (std::abs(x - 2) <= 1 || y == 2)
                setPixel(expected, x, y, pixelAt(expected, x, y) | 0xFFFFFF);
    EXPECT_EQ(decoded(p), decoded(expected));
}

TEST(Brush, PaintsInkOnlyAndKeepsTheFourthByte)
{
    const BrushColour red({255, 0, 0});
    TBitmap32 p = uniformPicture(5, 1, 200, 200, 200, 0x11);
    setPixel(p, 0, 0, 0x00FFFFFF);
    setPixel(p, 1, 0, 0x33ECE9D8);
    setPixel(p, 2, 0, 0x44ECE9D9);  // one step from the tint is ink
    EXPECT_EQ(brush(p, 2, 0, 2, red), (PixelRect{0, 0, 5, 1}));
    EXPECT_EQ(decoded(p).pixels,
              (std::vector<std::uint32_t>{0x00FFFFFF, 0x33ECE9D8, 0x44FFC1C1, 0x11FF8C8C, 0x11FF8C8C}));
    // Each dab is a little darker, never lighter than the brush's colour.
    brush(p, 2, 0, 2, red);
    EXPECT_EQ(pixelAt(p, 3, 0), 0x11FF8787u);
    brush(p, 2, 0, 2, red);
    EXPECT_EQ(pixelAt(p, 3, 0), 0x11FF8282u);
    EXPECT_EQ(brush(p, 9, 0, 2, red), PixelRect{});
    EXPECT_EQ(pixelAt(p, 3, 0), 0x11FF8282u);
}

}  // namespace
}  // namespace plumora
