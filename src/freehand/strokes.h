#pragma once

#include <cstdint>
#include <vector>

#include "freehand/hsl.h"
#include "raster/bitmap32.h"

namespace plumora {

// The two colours that count as paper when a sketch is coloured by hand:
// white and the paper tint the line passes leave behind. Everything else is
// ink.
inline constexpr Rgb kWhite{255, 255, 255};
inline constexpr Rgb kPaperTint{236, 233, 216};

// Whether a pixel (blue, green, red, fourth byte) is paper; the fourth byte
// does not count.
bool isPaper(const std::uint8_t* pixel);

// A rectangle of picture pixels: columns left..right-1, rows top..bottom-1.
struct PixelRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    bool empty() const { return right <= left || bottom <= top; }
    friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

// The disc the rubber and the brush act on, around (x, y) with radius r:
// column b from x - r to x + r holds rows y - c to y + c, where
// c = Round(sqrt(r^2 - (x - b)^2)). This gives c for one column offset x - b,
// or -1 for a column beyond the radius (no rows).
int discHalfHeight(int radius, int columnOffset);

// The brush's colour rule for one current colour. drawcolor gives what the
// brush puts over a pixel: the current colour's hue and saturation at the
// pixel's lightness, but never lighter than the current colour, and 0.01
// darker each time. The pixel's lightness depends only on its largest and
// smallest byte, so the rule is worked out once for every such pair when
// the colour is set, and painting a pixel is a lookup.
class BrushColour {
public:
    explicit BrushColour(Rgb colour);

    Rgb colour() const { return m_colour; }
    const Hsl& hsl() const { return m_hsl; }

    // The rule itself, computed in full for one pixel colour.
    Rgb drawcolor(Rgb pixel) const;
    // The same from the table, written into a pixel (blue, green, red,
    // fourth byte); the fourth byte is left as it is.
    void paint(std::uint8_t* pixel) const;

private:
    Rgb m_colour;
    Hsl m_hsl;
    // m_table[max * 256 + min] for the pixel's largest and smallest byte
    // (min <= max), as blue | green << 8 | red << 16.
    std::vector<std::uint32_t> m_table;
};

// One dab of the rubber: every pixel of the disc around (x, y) inside the
// picture becomes white (the fourth byte is left). Gives the rectangle of
// picture pixels that may have changed: the disc's bounding box clipped to
// the picture, or an empty PixelRect{} when the box misses the picture.
PixelRect rub(TBitmap32& picture, int x, int y, int radius);

// One dab of the brush: every ink pixel of the disc around (x, y) inside the
// picture takes the brush's colour; paper is never coloured. Gives the
// rectangle that may have changed, as rub does.
PixelRect brush(TBitmap32& picture, int x, int y, int radius, const BrushColour& colour);

}  // namespace plumora
