#pragma once

#include "freehand/hsl.h"

namespace plumora {

// The freehand tools, numbered as the control window and the work area
// share them.
enum class FreehandTool { None = 0, Eyedropper = 1, Rubber = 2, Brush = 3, StraightLine = 4, Pen = 5 };

// What the freehand tools remember from one opening of freehand colouring
// to the next: the tool, the size (disc radius, or pen width) and the
// current colour with its hue, saturation and lightness.
struct FreehandTools {
    static constexpr int kMinSize = 1;
    static constexpr int kMaxSize = 100;

    FreehandTool tool = FreehandTool::None;
    int size = 16;
    Rgb colour{0, 0, 0};
    Hsl hsl{0, 0, 0};

    // Makes colour the current colour, with its hue, saturation and lightness.
    void setColour(Rgb colour);
};

// The size a tool's button puts on the size slider: 16 for the rubber and the
// brush, 2 for the pen and the straight line; 0 for the eyedropper, which
// leaves the slider where it is.
int sizeForTool(FreehandTool tool);

struct Size2 {
    int width = 0;
    int height = 0;
    friend bool operator==(const Size2&, const Size2&) = default;
};
struct Point2 {
    int x = 0;
    int y = 0;
    friend bool operator==(const Point2&, const Point2&) = default;
};

// The photo control fitted to the picture's proportions: a landscape
// picture keeps the control's width and gets
// Round(picture height x width / picture width) as its height; any other
// keeps the height and gets the width the same way (products in integers).
Size2 fitPhotoControl(Size2 control, Size2 picture);

// The picture pixel the eyedropper picks at control position (x, y):
// Round(x x picture width / control width), and the same for y. Points that
// map outside the picture (a drag beyond the photo's edge) are clamped to
// its nearest edge pixel, so the colour follows the edge the pointer left
// from.
Point2 eyedropperPixel(Point2 position, Size2 control, Size2 picture);

}  // namespace plumora
