#include "freehand/tools.h"

#include <gtest/gtest.h>

namespace plumora {
namespace {

TEST(FreehandTools, SetColourKeepsTheColourAndItsHsl)
{
    FreehandTools tools;
    tools.setColour({0, 128, 255});
    EXPECT_EQ(tools.colour, (Rgb{0, 128, 255}));
    EXPECT_EQ(tools.hsl, RGBtoHSL({0, 128, 255}));
    EXPECT_EQ(sizeForTool(FreehandTool::Rubber), 16);
    EXPECT_EQ(sizeForTool(FreehandTool::Brush), 16);
    EXPECT_EQ(sizeForTool(FreehandTool::Pen), 2);
    EXPECT_EQ(sizeForTool(FreehandTool::StraightLine), 2);
    EXPECT_EQ(sizeForTool(FreehandTool::Eyedropper), 0);
    EXPECT_EQ(sizeForTool(FreehandTool::None), 0);
}

TEST(FreehandTools, PhotoControlTakesThePictureProportionsHalvesToEven)
{
    // Landscape keeps the width: 217 x 1 / 2 = 108.5 and 215 x 1 / 2 = 107.5
    // both give 108.
    EXPECT_EQ(fitPhotoControl({217, 193}, {2, 1}), (Size2{217, 108}));
    EXPECT_EQ(fitPhotoControl({215, 193}, {2, 1}), (Size2{215, 108}));
    EXPECT_EQ(fitPhotoControl({217, 193}, {6000, 4000}), (Size2{217, 145}));  // 144.67
    // Portrait and square keep the height; 193 x 1 / 2 = 96.5 gives 96.
    EXPECT_EQ(fitPhotoControl({217, 193}, {1, 2}), (Size2{96, 193}));
    EXPECT_EQ(fitPhotoControl({217, 193}, {500, 500}), (Size2{193, 193}));
    // Products beyond an int.
    EXPECT_EQ(fitPhotoControl({200000, 193}, {16384, 16383}), (Size2{200000, 199988}));
    EXPECT_EQ(fitPhotoControl({217, 193}, {0, 40}), (Size2{217, 193}));
}

TEST(FreehandTools, EyedropperPixelIsScaledThenClampedToThePicture)
{
    const Size2 control{200, 100}, picture{1000, 301};
    EXPECT_EQ(eyedropperPixel({0, 0}, control, picture), (Point2{0, 0}));
    EXPECT_EQ(eyedropperPixel({101, 50}, control, picture), (Point2{505, 150}));  // 150.5
    EXPECT_EQ(eyedropperPixel({3, 1}, control, picture), (Point2{15, 3}));        // 3.01
    EXPECT_EQ(eyedropperPixel({200, 100}, control, picture), (Point2{999, 300}));
    EXPECT_EQ(eyedropperPixel({-7, 2000000000}, control, picture), (Point2{0, 300}));
    EXPECT_EQ(eyedropperPixel({5, 5}, {0, 100}, picture), (Point2{0, 0}));
    EXPECT_EQ(eyedropperPixel({5, 5}, control, {1000, 0}), (Point2{0, 0}));
}

}  // namespace
}  // namespace plumora
