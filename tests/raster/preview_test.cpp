#include "raster/preview.h"

#include <gtest/gtest.h>

#include <climits>

namespace plumora {
namespace {

TEST(DisplayImage, WorkedCases)
{
    // 105 * 100 / 200 = 52.5, whose half goes away from zero.
    EXPECT_EQ(DisplayImage(200, 100), (PreviewPlace{2, 28, 105, 55}));
    EXPECT_EQ(DisplayImage(100, 200), (PreviewPlace{28, 2, 55, 105}));
    // A square is not wider than high: the second case, 2 pixels wider.
    EXPECT_EQ(DisplayImage(300, 300), (PreviewPlace{2, 2, 107, 105}));
    EXPECT_EQ(DisplayImage(1, 1), (PreviewPlace{2, 2, 107, 105}));
    EXPECT_EQ(DisplayImage(521, 346), (PreviewPlace{2, 19, 105, 72}));  // a = 69.7 -> 70
}

TEST(DisplayImage, DegenerateSizesNeverDivideByZero)
{
    EXPECT_EQ(DisplayImage(0, 0), (PreviewPlace{54, 2, 2, 105}));
    EXPECT_EQ(DisplayImage(5, 0), (PreviewPlace{2, 54, 105, 2}));
    EXPECT_EQ(DisplayImage(0, 5), (PreviewPlace{54, 2, 2, 105}));
    EXPECT_EQ(DisplayImage(-3, 7), DisplayImage(0, 7));
    EXPECT_EQ(DisplayImage(1 << 28, 1), (PreviewPlace{2, 54, 105, 2}));
    EXPECT_EQ(DisplayImage(1, 1 << 28), (PreviewPlace{54, 2, 2, 105}));
    EXPECT_EQ(DisplayImage(INT_MAX, INT_MAX), (PreviewPlace{2, 2, 107, 105}));
    EXPECT_EQ(DisplayImage(INT_MAX, INT_MAX - 1), (PreviewPlace{2, 2, 105, 107}));
    // A line: 105 / 210 = 0.5 goes up to 1, 105 / 211 down to 0.
    EXPECT_EQ(DisplayImage(210, 1), (PreviewPlace{2, 54, 105, 3}));
    EXPECT_EQ(DisplayImage(211, 1), (PreviewPlace{2, 54, 105, 2}));
}

TEST(DisplayImage, ThePreviewAlwaysFitsTheFrameAndKeepsItsSide)
{
    for (int w = 0; w <= 400; ++w)
        for (int h = 0; h <= 400; ++h) {
            const PreviewPlace p = DisplayImage(w, h);
            ASSERT_GE(p.left, 2);
            ASSERT_GE(p.top, 2);
            ASSERT_LE(p.left + p.width, kPreviewFrameSize + 4) << w << "x" << h;
            ASSERT_LE(p.top + p.height, kPreviewFrameSize + 4) << w << "x" << h;
            ASSERT_EQ(w > h ? p.width : p.height, kPreviewFrameSize);
        }
}

}  // namespace
}  // namespace plumora
