#include "freehand/strokes.h"

#include "raster/rounding.h"

#include <algorithm>
#include <cmath>

namespace plumora {

bool isPaper(const std::uint8_t* pixel)
{
    const Rgb c{pixel[kRed], pixel[kGreen], pixel[kBlue]};
    return c == kWhite || c == kPaperTint;
}

int discHalfHeight(int radius, int columnOffset)
{
    const std::int64_t r = radius;
    const std::int64_t b = columnOffset;
    const std::int64_t square = r * r - b * b;
    if (radius < 0 || square < 0)
        return -1;
    return int(Round(std::sqrt(double(square))));
}

BrushColour::BrushColour(Rgb colour) : m_colour(colour), m_hsl(RGBtoHSL(colour)), m_table(256 * 256, 0)
{
    // The lightness, all the rule takes from a pixel, depends on its largest
    // and smallest bytes alone: a pixel made of just those two stands for
    // every pixel that has them.
    for (int max = 0; max < 256; ++max)
        for (int min = 0; min <= max; ++min) {
            const Rgb c = drawcolor({std::uint8_t(max), std::uint8_t(min), std::uint8_t(min)});
            m_table[std::size_t(max * 256 + min)] =
                std::uint32_t(c.blue) | std::uint32_t(c.green) << 8 | std::uint32_t(c.red) << 16;
        }
}

Rgb BrushColour::drawcolor(Rgb pixel) const
{
    double l = RGBtoHSL(pixel).lightness;
    if (l < m_hsl.lightness)
        l = m_hsl.lightness;
    l = l - 0.01;
    if (l < 0)
        l = 0;
    return HSLtoRGB(m_hsl.hue, m_hsl.saturation, l);
}

void BrushColour::paint(std::uint8_t* pixel) const
{
    const std::uint8_t b = pixel[kBlue], g = pixel[kGreen], r = pixel[kRed];
    const int max = std::max({b, g, r});
    const int min = std::min({b, g, r});
    const std::uint32_t c = m_table[std::size_t(max * 256 + min)];
    pixel[kBlue] = std::uint8_t(c);
    pixel[kGreen] = std::uint8_t(c >> 8);
    pixel[kRed] = std::uint8_t(c >> 16);
}

namespace {

// The disc row by row, clipped to the picture: each column's half height
// only shrinks away from the centre, so the columns that reach a row form
// one run, and walking rows keeps to whole runs of one scan line instead of
// a cache line per pixel down each column.
template <class Pixel>
PixelRect forEachDiscPixel(TBitmap32& picture, int x, int y, int radius, Pixel&& pixel)
{
    if (radius < 0 || picture.empty())
        return {};
    const std::int64_t cx = x, cy = y, r = radius;
    const std::int64_t left = std::max<std::int64_t>(cx - r, 0);
    const std::int64_t right = std::min<std::int64_t>(cx + r + 1, picture.width());
    const std::int64_t top = std::max<std::int64_t>(cy - r, 0);
    const std::int64_t bottom = std::min<std::int64_t>(cy + r + 1, picture.height());
    if (left >= right || top >= bottom)
        return {};

    // The largest column offset whose column reaches row offset d, found by
    // halving: every column reaches the centre row, and the half heights
    // only shrink outwards.
    auto halfWidth = [radius](std::int64_t d) {
        std::int64_t reaching = 0, beyond = std::int64_t(radius) + 1;
        while (beyond - reaching > 1) {
            const std::int64_t b = reaching + (beyond - reaching) / 2;
            if (discHalfHeight(radius, int(b)) >= d)
                reaching = b;
            else
                beyond = b;
        }
        return reaching;
    };

    for (std::int64_t row = top; row < bottom; ++row) {
        const std::int64_t w = halfWidth(row > cy ? row - cy : cy - row);
        const std::int64_t from = std::max(cx - w, left);
        const std::int64_t to = std::min(cx + w + 1, right);
        std::uint8_t* line = picture.ScanLine(int(row));
        for (std::int64_t col = from; col < to; ++col)
            pixel(line + col * 4);
    }
    return {int(left), int(top), int(right), int(bottom)};
}

}  // namespace

PixelRect rub(TBitmap32& picture, int x, int y, int radius)
{
    // The fourth byte stays: the rubber gives back paper, not a new layer.
    return forEachDiscPixel(picture, x, y, radius, [](std::uint8_t* p) {
        p[kBlue] = 255;
        p[kGreen] = 255;
        p[kRed] = 255;
    });
}

PixelRect brush(TBitmap32& picture, int x, int y, int radius, const BrushColour& colour)
{
    return forEachDiscPixel(picture, x, y, radius, [&](std::uint8_t* p) {
        if (!isPaper(p))
            colour.paint(p);
    });
}

}  // namespace plumora
