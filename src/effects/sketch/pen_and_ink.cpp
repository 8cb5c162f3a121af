#include "effects/sketch/pen_and_ink.h"

#include "raster/colour.h"
#include "raster/errors.h"
#include "raster/parallel.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace plumora {

namespace {

constexpr std::uint32_t kWhite = 0xFFFFFFFFu;
constexpr std::uint32_t kBlack = 0xFF000000u;

// Ink bytes: 0xFF for a pixel cut to black, 0 for one cut to white.
void inkMaskRow(const std::uint8_t* pixels, std::uint8_t* ink, int width, int thread)
{
    forEachGreyPiece(pixels, width, kInkWeights, [ink, thread](int x0, const std::uint8_t* grey, int n) {
        // Locals, not the closure's members: a store through a byte pointer
        // could change those, so the compiler would reload them every pixel
        // and not vectorise the loop.
        std::uint8_t* out = ink + x0;
        const int limit = thread;
        for (int i = 0; i < n; ++i)
            out[i] = grey[i] > limit ? 0 : 0xFF;
    });
}

bool colourZero(const std::uint8_t* p)
{
    return p[kBlue] == 0 && p[kGreen] == 0 && p[kRed] == 0;
}

// A few rows of ink bytes, each worked out once: row y lives in slot y mod 3,
// so the three rows around any y are there together.
class InkRows {
public:
    InkRows(const TBitmap32& source, int thread)
        : m_source(source), m_thread(thread), m_width(std::size_t(source.width())), m_rows(3 * m_width)
    {
    }

    const std::uint8_t* row(int y)
    {
        const int slot = y % 3;
        std::uint8_t* bytes = m_rows.data() + std::size_t(slot) * m_width;
        if (m_held[slot] != y) {
            inkMaskRow(m_source.ScanLine(y), bytes, int(m_width), m_thread);
            m_held[slot] = y;
        }
        return bytes;
    }

private:
    const TBitmap32& m_source;
    int m_thread;
    std::size_t m_width;
    std::vector<std::uint8_t> m_rows;
    int m_held[3] = {-1, -1, -1};
};

}  // namespace

void inkGreyRow(const std::uint8_t* pixels, std::size_t count, std::uint8_t* out)
{
    weightedGreyRow(pixels, count, out, kInkWeights);
}

void PictureTwoValue(TBitmap32& bitmap, int thread)
{
    const int w = bitmap.width();
    parallelRows(bitmap.height(), [&](int y0, int y1) {
        std::vector<std::uint8_t> ink(static_cast<std::size_t>(w));
        for (int y = y0; y < y1; ++y) {
            auto* px = reinterpret_cast<std::uint32_t*>(bitmap.ScanLine(y));
            inkMaskRow(bitmap.ScanLine(y), ink.data(), w, thread);
            for (int x = 0; x < w; ++x)
                px[x] = ink[std::size_t(x)] ? kBlack : kWhite;
        }
    });
}

TBitmap32 penandink(const TBitmap32& twoValue)
{
    TBitmap32 output = twoValue;
    const int w = twoValue.width();
    const int h = twoValue.height();
    if (w < 3 || h < 3)
        return output;
    // Every test reads the picture as given, never a pixel already cleared.
    parallelRows(h - 2, [&](int r0, int r1) {
        for (int y = r0 + 1; y < r1 + 1; ++y) {
            auto* out = reinterpret_cast<std::uint32_t*>(output.ScanLine(y));
            for (int x = 1; x < w - 1; ++x) {
                bool solid = true;
                for (int dy = -1; dy <= 1 && solid; ++dy) {
                    const std::uint8_t* row = twoValue.ScanLine(y + dy);
                    for (int dx = -1; dx <= 1 && solid; ++dx)
                        solid = colourZero(row + (x + dx) * 4);
                }
                if (solid)
                    out[x] = kWhite;
            }
        }
    });
    return output;
}

void ColorValue(TBitmap32& outlines, const TBitmap32& source)
{
    if (outlines.width() != source.width() || outlines.height() != source.height())
        throw PlumoraError("The ink and the photograph differ in size.");
    const int w = outlines.width();
    parallelRows(outlines.height(), [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            auto* px = reinterpret_cast<std::uint32_t*>(outlines.ScanLine(y));
            const auto* from = reinterpret_cast<const std::uint32_t*>(source.ScanLine(y));
            for (int x = 0; x < w; ++x)
                if ((px[x] >> 16 & 0xFF) == 0)
                    px[x] = from[x] | kBlack;
        }
    });
}

TBitmap32 penAndInk(const TBitmap32& source, int thread, bool colorInk)
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
        InkRows ink(source, thread);
        std::vector<std::uint8_t> column(static_cast<std::size_t>(w));
        std::vector<std::uint8_t> keep(static_cast<std::size_t>(w));
        for (int y = y0; y < y1; ++y) {
            const std::uint8_t* own = ink.row(y);
            if (!outlined || y == 0 || y == h - 1) {
                std::memcpy(keep.data(), own, std::size_t(w));  // the border keeps its cut
            } else {
                const std::uint8_t* above = ink.row(y - 1);
                const std::uint8_t* below = ink.row(y + 1);
                for (int x = 0; x < w; ++x)
                    column[std::size_t(x)] = above[x] & own[x] & below[x];
                // Ink stays where a neighbour is white: not all nine are ink.
                keep[0] = own[0];
                for (int x = 1; x < w - 1; ++x)
                    keep[std::size_t(x)] = std::uint8_t(
                        own[x] & ~(column[std::size_t(x - 1)] & column[std::size_t(x)] & column[std::size_t(x + 1)]));
                keep[std::size_t(w - 1)] = own[w - 1];
            }
            auto* px = reinterpret_cast<std::uint32_t*>(result.ScanLine(y));
            const auto* photo = reinterpret_cast<const std::uint32_t*>(source.ScanLine(y));
            for (int x = 0; x < w; ++x) {
                const std::uint32_t inkMask = std::uint32_t(keep[std::size_t(x)]) * 0x01010101u;
                const std::uint32_t inkColour = colorInk ? photo[x] | kBlack : kBlack;
                px[x] = (inkColour & inkMask) | ~inkMask;
            }
        }
    });
    return result;
}

}  // namespace plumora
