#include "freehand/tools.h"

#include "raster/rounding.h"

#include <algorithm>
#include <cstdint>

namespace plumora {

void FreehandTools::setColour(Rgb c)
{
    colour = c;
    hsl = RGBtoHSL(c);
}

int sizeForTool(FreehandTool tool)
{
    switch (tool) {
    case FreehandTool::Rubber:
    case FreehandTool::Brush:
        return 16;
    case FreehandTool::StraightLine:
    case FreehandTool::Pen:
        return 2;
    case FreehandTool::Eyedropper:
    case FreehandTool::None:
        break;
    }
    return 0;
}

namespace {

// Round(a x b / c) with the product in integers: sizes up to the largest
// picture would overflow an int.
std::int64_t scaled(int a, int b, int c)
{
    return Round(double(std::int64_t(a) * std::int64_t(b)) / double(c));
}

}  // namespace

Size2 fitPhotoControl(Size2 control, Size2 picture)
{
    if (picture.width <= 0 || picture.height <= 0)
        return control;
    if (picture.width > picture.height)
        return {control.width, int(scaled(picture.height, control.width, picture.width))};
    return {int(scaled(picture.width, control.height, picture.height)), control.height};
}

Point2 eyedropperPixel(Point2 position, Size2 control, Size2 picture)
{
    if (control.width <= 0 || control.height <= 0 || picture.width <= 0 || picture.height <= 0)
        return {0, 0};
    // Far beyond the control the scaled position may not fit in an int.
    const std::int64_t x = scaled(position.x, picture.width, control.width);
    const std::int64_t y = scaled(position.y, picture.height, control.height);
    return {int(std::clamp<std::int64_t>(x, 0, picture.width - 1)),
            int(std::clamp<std::int64_t>(y, 0, picture.height - 1))};
}

}  // namespace plumora
