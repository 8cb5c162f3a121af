#include "effects/colour/color_panel.h"

#include "effects/colour_pictures.h"
#include "raster/errors.h"
#include "raster/geometry.h"
#include "raster/limits.h"
#include "raster/rounding.h"
#include "support/zoom.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

namespace plumora {
namespace {

using test::byteAt;
using test::pixelAt;
using test::setByte;
using test::ZoomInandOut;

// The layouts as defined, pixel by pixel: the loops and comparisons as
// written, the tints one byte at a time.

void full(TBitmap32& p, int x, int y, int channel)
{
    setByte(p, x, y, channel, 255);
}
void zero(TBitmap32& p, int x, int y, int channel)
{
    setByte(p, x, y, channel, 0);
}
void plus(TBitmap32& p, int x, int y, int channel, int n)
{
    setByte(p, x, y, channel, std::min(255, byteAt(p, x, y, channel) + n));
}
void minus(TBitmap32& p, int x, int y, int channel, int n)
{
    setByte(p, x, y, channel, std::max(0, byteAt(p, x, y, channel) - n));
}

// The four triangles, from the two diagonal tests.
void tintTriangle(TBitmap32& p, int x, int y, bool pastDiagonal, bool pastCounter)
{
    if (pastDiagonal && !pastCounter) {
        full(p, x, y, kRed);
    } else if (pastDiagonal && pastCounter) {
        full(p, x, y, kGreen);
        zero(p, x, y, kBlue);
    } else if (!pastDiagonal && pastCounter) {
        full(p, x, y, kRed);
        full(p, x, y, kBlue);
    } else {
        zero(p, x, y, kRed);
        full(p, x, y, kBlue);
    }
}

TBitmap32 referencePanel2x2(const TBitmap32& source)
{
    TBitmap32 canvas = source;
    TBitmap32 copy[4] = {source, source, source, source};
    for (TBitmap32& c : copy)
        ZoomInandOut(c, 0.5, 0.5);
    const int w2 = source.width() / 2;
    const int h2 = source.height() / 2;
    EXPECT_EQ(copy[0].width(), w2);
    EXPECT_EQ(copy[0].height(), h2);
    for (int c = 1; c <= h2 - 1; ++c)
        for (int x = 1; x <= w2 - 1; ++x) {
            full(copy[0], x, c, kRed);
            zero(copy[1], x, c, kBlue);
            full(copy[1], x, c, kGreen);
            zero(copy[2], x, c, kRed);
            full(copy[2], x, c, kBlue);
            full(copy[3], x, c, kBlue);
            full(copy[3], x, c, kRed);
            const int at[4][2] = {{x, c}, {w2 + x, c}, {x, h2 + c}, {w2 + x, h2 + c}};
            for (int i = 0; i < 4; ++i)
                for (int channel : {kBlue, kGreen, kRed})
                    setByte(canvas, at[i][0], at[i][1], channel, byteAt(copy[i], x, c, channel));
        }
    return canvas;
}

TBitmap32 referencePane2x2(const TBitmap32& source)
{
    TBitmap32 p = source;
    const int W = source.width(), H = source.height();
    for (int y = 1; y <= H - 1; ++y)
        for (int x = 1; x <= W - 1; ++x) {
            if (x < W / 2.0 && y < H / 2.0) {
                full(p, x, y, kRed);
            } else if (x >= W / 2.0 && y < H / 2.0) {
                zero(p, x, y, kRed);
                full(p, x, y, kBlue);
            } else if (x < W / 2.0 && y >= H / 2.0) {
                full(p, x, y, kGreen);
                zero(p, x, y, kBlue);
            } else {
                full(p, x, y, kRed);
                full(p, x, y, kBlue);
            }
        }
    return p;
}

TBitmap32 referenceCatercorner4(const TBitmap32& source)
{
    TBitmap32 p = source;
    const int W = source.width(), H = source.height();
    for (int y = 1; y <= H - 1; ++y)
        for (int x = 1; x <= W - 1; ++x) {
            const double d1 = (double(W) / double(H)) * y;
            const double d2 = double(std::int64_t(W) * (H - y)) / H;
            tintTriangle(p, x, y, x > d1, x >= d2);
        }
    return p;
}

// The fourth byte of a fresh result is ours to choose: the reduced copy's.
TBitmap32 referencePanel3x3(const TBitmap32& source)
{
    TBitmap32 reduced = source;
    ZoomInandOut(reduced, kJustAboveOneThird, kJustAboveOneThird);
    const int w3 = source.width() / 3;
    const int h3 = source.height() / 3;
    EXPECT_EQ(reduced.width(), w3);
    EXPECT_EQ(reduced.height(), h3);
    TBitmap32 result(3 * w3, 3 * h3);
    for (int y = 0; y <= 3 * h3 - 1; ++y)
        for (int x = 0; x <= 3 * w3 - 1; ++x) {
            for (int channel : {kBlue, kGreen, kRed, kAlpha})
                setByte(result, x, y, channel, byteAt(reduced, x % w3, y % h3, channel));
            switch ((y / h3) * 3 + x / w3) {
            case 0:
                full(result, x, y, kRed);
                break;
            case 1:
                minus(result, x, y, kRed, 120);
                plus(result, x, y, kGreen, 120);
                minus(result, x, y, kBlue, 120);
                break;
            case 2:
                full(result, x, y, kBlue);
                break;
            case 3:
                minus(result, x, y, kRed, 80);
                plus(result, x, y, kGreen, 60);
                full(result, x, y, kBlue);
                break;
            case 4:
                plus(result, x, y, kRed, 120);
                plus(result, x, y, kGreen, 60);
                break;
            case 5:
                full(result, x, y, kRed);
                full(result, x, y, kBlue);
                break;
            case 6:
                plus(result, x, y, kRed, 80);
                zero(result, x, y, kGreen);
                plus(result, x, y, kBlue, 80);
                break;
            case 7:
                zero(result, x, y, kRed);
                plus(result, x, y, kGreen, 80);
                plus(result, x, y, kBlue, 80);
                break;
            case 8:
                plus(result, x, y, kRed, 80);
                plus(result, x, y, kGreen, 80);
                zero(result, x, y, kBlue);
                break;
            }
        }
    return result;
}

TBitmap32 referencePane3x3(const TBitmap32& source)
{
    TBitmap32 p = source;
    const int W = source.width(), H = source.height();
    for (int y = 1; y <= H - 1; ++y)
        for (int x = 1; x <= W - 1; ++x) {
            const int column = x <= W / 3.0 ? 0 : (x <= (2 * W) / 3.0 ? 1 : 2);
            const int row = y <= H / 3.0 ? 0 : (y <= (2 * H) / 3.0 ? 1 : 2);
            switch (row * 3 + column) {
            case 0:
                full(p, x, y, kRed);
                break;
            case 1:
                full(p, x, y, kGreen);
                plus(p, x, y, kBlue, 50);
                break;
            case 2:
                full(p, x, y, kBlue);
                break;
            case 3:
                full(p, x, y, kGreen);
                plus(p, x, y, kRed, 100);
                break;
            case 4:
                full(p, x, y, kBlue);
                plus(p, x, y, kGreen, 50);
                break;
            case 5:
                full(p, x, y, kGreen);
                break;
            case 6:
                full(p, x, y, kBlue);
                full(p, x, y, kRed);
                break;
            case 7:
                full(p, x, y, kBlue);
                full(p, x, y, kGreen);
                break;
            case 8:
                full(p, x, y, kRed);
                break;
            }
        }
    return p;
}

TBitmap32 referenceCatercorner16(const TBitmap32& source)
{
    TBitmap32 p = source;
    const int W = source.width(), H = source.height();
    for (int y = 1; y <= H - 1; ++y)
        for (int x = 1; x <= W - 1; ++x) {
            const double u = x <= W / 2.0 ? x : x - W / 2.0;
            const double v = y <= H / 2.0 ? y : y - H / 2.0;
            tintTriangle(p, x, y, u > (double(W) / H) * v, u >= W * (H / 2.0 - v) / H);
        }
    return p;
}

TBitmap32 referenceColorPanel(const TBitmap32& source, ColorPanelLayout layout)
{
    switch (layout) {
    case ColorPanelLayout::Panel2x2:
        return referencePanel2x2(source);
    case ColorPanelLayout::Pane2x2:
        return referencePane2x2(source);
    case ColorPanelLayout::Catercorner4:
        return referenceCatercorner4(source);
    case ColorPanelLayout::Panel3x3:
        return referencePanel3x3(source);
    case ColorPanelLayout::Pane3x3:
        return referencePane3x3(source);
    case ColorPanelLayout::Catercorner16:
        return referenceCatercorner16(source);
    }
    return {};
}

constexpr ColorPanelLayout kLayouts[] = {ColorPanelLayout::Panel2x2,     ColorPanelLayout::Pane2x2,
                                         ColorPanelLayout::Catercorner4, ColorPanelLayout::Panel3x3,
                                         ColorPanelLayout::Pane3x3,      ColorPanelLayout::Catercorner16};

TEST(ColorPanel, EveryLayoutEqualsItsDefinitionOnEverySize)
{
    test::forEachColourTestPicture([](const TBitmap32& source, const std::string& label) {
        for (const ColorPanelLayout layout : kLayouts) {
            if (layout == ColorPanelLayout::Panel3x3 && (source.width() < 3 || source.height() < 3))
                continue;
            ASSERT_EQ(test::decoded(colorPanel(source, layout)), test::decoded(referenceColorPanel(source, layout)))
                << label << " layout " << int(layout);
        }
    });
}

// Wide and tall pictures whose sides share no factor put the diagonals
// through every kind of fraction.
TEST(ColorPanel, DiagonalsOfOddlyShapedPicturesEqualTheirDefinition)
{
    for (const auto& [w, h] : {std::pair{641, 7}, {7, 641}, {233, 144}, {144, 233}, {1000, 999}, {12, 1000}}) {
        const TBitmap32 source = test::randomPicture(w, h, unsigned(w + h));
        for (const ColorPanelLayout layout : {ColorPanelLayout::Catercorner4, ColorPanelLayout::Catercorner16})
            ASSERT_EQ(colorPanel(source, layout), referenceColorPanel(source, layout))
                << w << "x" << h << " layout " << int(layout);
    }
}

TEST(ColorPanel, MidGreyTakesTheTintsOfEachRegion)
{
    const TBitmap32 grey = test::uniformPicture(90, 60, 128, 128, 128, 255);
    const auto rgb = [](const TBitmap32& p, int x, int y) {
        return std::tuple{byteAt(p, x, y, kRed), byteAt(p, x, y, kGreen), byteAt(p, x, y, kBlue)};
    };
    const TBitmap32 pane2 = colorPanel(grey, ColorPanelLayout::Pane2x2);
    EXPECT_EQ(rgb(pane2, 10, 10), std::tuple(255, 128, 128));
    EXPECT_EQ(rgb(pane2, 80, 10), std::tuple(0, 128, 255));
    EXPECT_EQ(rgb(pane2, 10, 50), std::tuple(128, 255, 0));
    EXPECT_EQ(rgb(pane2, 80, 50), std::tuple(255, 128, 255));

    const TBitmap32 panel3 = colorPanel(grey, ColorPanelLayout::Panel3x3);
    EXPECT_EQ(rgb(panel3, 45, 10), std::tuple(8, 248, 8));      // top middle
    EXPECT_EQ(rgb(panel3, 10, 50), std::tuple(208, 0, 208));    // bottom left
    EXPECT_EQ(rgb(panel3, 45, 30), std::tuple(248, 188, 128));  // middle middle: r + 120, g + 60

    EXPECT_EQ(rgb(colorPanel(grey, ColorPanelLayout::Pane3x3), 10, 30), std::tuple(228, 255, 128));  // middle left
}

TEST(ColorPanel, Pane2x2OfFiveByFiveSplitsAfterTheMiddleColumnAndRow)
{
    const TBitmap32 grey = test::uniformPicture(5, 5, 128, 128, 128, 255);
    const TBitmap32 p = colorPanel(grey, ColorPanelLayout::Pane2x2);
    // 2 >= 2.5 is false: column 2 and row 2 are left and top.
    EXPECT_EQ(pixelAt(p, 2, 2), test::opaqueColour(255, 128, 128));
    EXPECT_EQ(pixelAt(p, 3, 2), test::opaqueColour(0, 128, 255));
    EXPECT_EQ(pixelAt(p, 2, 3), test::opaqueColour(128, 255, 0));
    EXPECT_EQ(pixelAt(p, 3, 3), test::opaqueColour(255, 128, 255));
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(pixelAt(p, i, 0), pixelAt(grey, i, 0));
        EXPECT_EQ(pixelAt(p, 0, i), pixelAt(grey, 0, i));
    }
}

// T, R, B, L for the triangle each pixel is tinted as, '.' where untouched.
std::vector<std::string> triangleMap(const TBitmap32& tinted)
{
    std::vector<std::string> rows;
    for (int y = 0; y < tinted.height(); ++y) {
        std::string row;
        for (int x = 0; x < tinted.width(); ++x) {
            const std::uint32_t c = pixelAt(tinted, x, y) & 0xFFFFFFu;
            row += c == 0xFF8080u ? 'T' : c == 0x80FF00u ? 'R' : c == 0xFF80FFu ? 'B' : c == 0x0080FFu ? 'L' : '.';
        }
        rows.push_back(row);
    }
    return rows;
}

TEST(ColorPanel, PixelsOnADiagonalGoLeftOrBottomAndOnACounterDiagonalRightOrBottom)
{
    // 6 x 4: the diagonal x = 1.5 y and the counter-diagonal x = 6 - 1.5 y
    // meet at (3, 2), which is bottom.
    const TBitmap32 grey = test::uniformPicture(6, 4, 128, 128, 128, 255);
    EXPECT_EQ(triangleMap(colorPanel(grey, ColorPanelLayout::Catercorner4)),
              (std::vector<std::string>{"......", ".LTTTR", ".LLBRR", ".LBBBR"}));
    // 8 x 4 in quarters of 4 x 2: each quarter's diagonals meet on row 1
    // at u = 2; row 2 is the top quarters' last, on their counter-diagonal.
    EXPECT_EQ(triangleMap(colorPanel(test::uniformPicture(8, 4, 128, 128, 128, 255), ColorPanelLayout::Catercorner16)),
              (std::vector<std::string>{"........", ".LBRRLBR", ".BBBBBBB", ".LBRRLBR"}));
}

TEST(ColorPanel, SizesOfThePanelLayouts)
{
    const TBitmap32 photo = test::randomPicture(640, 480, 9);
    const TBitmap32 third = colorPanel(photo, ColorPanelLayout::Panel3x3);
    EXPECT_EQ(third.width(), 639);
    EXPECT_EQ(third.height(), 480);
    const TBitmap32 half = colorPanel(test::randomPicture(641, 479, 9), ColorPanelLayout::Panel2x2);
    EXPECT_EQ(half.width(), 641);
    EXPECT_EQ(half.height(), 479);
}

TEST(ColorPanel, TheThirdTruncatesToAThirdOfEveryWidth)
{
    EXPECT_EQ(kJustAboveOneThird, std::nextafter(1.0 / 3.0, 1.0));
    std::int64_t firstWrong = -1;
    for (std::int64_t w = 0; w <= kMaxPixels && firstWrong < 0; ++w)
        if (Trunc(kJustAboveOneThird * double(w)) != w / 3)
            firstWrong = w;
    EXPECT_EQ(firstWrong, -1);
}

TEST(ColorPanel, PicturesTooSmallForTheirPanels)
{
    // Under 4 pixels a half-size copy has no pixel past its row and column 0.
    for (const auto& [w, h] : {std::pair{3, 10}, {10, 3}, {1, 1}, {2, 2}, {3, 3}}) {
        const TBitmap32 source = test::randomPicture(w, h, 11);
        EXPECT_EQ(colorPanel(source, ColorPanelLayout::Panel2x2), source) << w << "x" << h;
    }
    for (const auto& [w, h] : {std::pair{2, 10}, {10, 2}, {1, 1}, {0, 0}}) {
        try {
            colorPanel(test::randomPicture(w, h, 12), ColorPanelLayout::Panel3x3);
            ADD_FAILURE() << w << "x" << h << " was not refused";
        } catch (const PlumoraError& e) {
            EXPECT_STREQ(e.what(), "The picture is too small for Panel 3 x 3.");
        }
    }
    // The other layouts of a picture with nothing past row 0 and column 0.
    for (const ColorPanelLayout layout : kLayouts)
        if (layout != ColorPanelLayout::Panel3x3) {
            EXPECT_TRUE(colorPanel(TBitmap32(), layout).empty());
            const TBitmap32 line = test::randomPicture(9, 1, 13);
            EXPECT_EQ(colorPanel(line, layout), line);
        }
}

}  // namespace
}  // namespace plumora
