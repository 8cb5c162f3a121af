#include "effects/sketch/pen_and_ink.h"

#include "raster/colour.h"
#include "raster/ink.h"
#include "raster/parallel.h"
#include "raster/simd.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace plumora {

namespace {

// Ink bytes: 0xFF for a pixel cut to black, 0 for one cut to white.
void inkMaskRow(const std::uint8_t* pixels, std::uint8_t* ink, int width, int threshold)
{
    darkRow(pixels, std::size_t(width), kInkWeights, threshold, ink);
}

// Ink stays where a neighbour is white, that is where not all nine pixels
// around it are ink; the first and last pixels keep theirs. width >= 3.
[[gnu::always_inline]] inline void outlineRowPlain(const std::uint8_t* __restrict above,
                                                   const std::uint8_t* __restrict own,
                                                   const std::uint8_t* __restrict below, std::uint8_t* __restrict keep,
                                                   int width)
{
    keep[0] = own[0];
    for (int x = 1; x < width - 1; ++x) {
        const int left = above[x - 1] & own[x - 1] & below[x - 1];
        const int centre = above[x] & own[x] & below[x];
        const int right = above[x + 1] & own[x + 1] & below[x + 1];
        keep[x] = std::uint8_t(own[x] & ~(left & centre & right));
    }
    keep[width - 1] = own[width - 1];
}

void outlineRow(const std::uint8_t* above, const std::uint8_t* own, const std::uint8_t* below, std::uint8_t* keep,
                int width)
{
    perLevelPath<outlineRowPlain>()(above, own, below, keep, width);
}

// A few rows of ink bytes, each worked out once: row y lives in slot y mod 3,
// so the three rows around any y are there together.
class InkRows {
public:
    InkRows(const TBitmap32& source, int threshold)
        : m_source(source), m_threshold(threshold), m_width(std::size_t(source.width())), m_rows(3 * m_width)
    {}

    const std::uint8_t* row(int y)
    {
        const int slot = y % 3;
        std::uint8_t* bytes = m_rows.data() + std::size_t(slot) * m_width;
        if (m_held[slot] != y) {
            inkMaskRow(m_source.ScanLine(y), bytes, int(m_width), m_threshold);
            m_held[slot] = y;
        }
        return bytes;
    }

private:
    const TBitmap32& m_source;
    int m_threshold;
    std::size_t m_width;
    std::vector<std::uint8_t> m_rows;
    int m_held[3] = {-1, -1, -1};
};

}  // namespace

TBitmap32 penAndInk(const TBitmap32& source, int threshold, bool colorInk)
{
    const int w = source.width();
    const int h = source.height();
    TBitmap32 result(w, h);
    if (source.empty())
        return result;
    const bool outlined = w >= 3 && h >= 3;
    parallelRows(h, [&](int y0, int y1) {
        // Each band cuts the rows it needs itself, one above and one below
        // its own included: two rows of extra work instead of a pass over
        // memory to store the whole black-and-white picture.
        InkRows ink(source, threshold);
        std::vector<std::uint8_t> keep(static_cast<std::size_t>(w));
        for (int y = y0; y < y1; ++y) {
            const std::uint8_t* own = ink.row(y);
            const std::uint8_t* outline = own;  // the border keeps its cut
            if (outlined && y != 0 && y != h - 1) {
                outlineRow(ink.row(y - 1), own, ink.row(y + 1), keep.data(), w);
                outline = keep.data();
            }
            if (colorInk)
                paintColourInk(outline, source.ScanLine(y), result.ScanLine(y), w);
            else
                paintInk(outline, result.ScanLine(y), w);
        }
    });
    return result;
}

}  // namespace plumora
