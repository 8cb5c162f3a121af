#include "effects/colour/color_panel.h"

#include "effects/colour/channel_tint.h"
#include "raster/errors.h"
#include "raster/geometry.h"
#include "raster/parallel.h"
#include "raster/rounding.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace plumora {

namespace {

constexpr ChannelTint kKeep{};

// The four triangles of both catercorner layouts; the rectangles of
// "Pane 2 x 2" use the same four tints.
constexpr ChannelTint kTopTriangle = kKeep.full(kRed);
constexpr ChannelTint kRightTriangle = kKeep.full(kGreen).zero(kBlue);
constexpr ChannelTint kBottomTriangle = kKeep.full(kRed).full(kBlue);
constexpr ChannelTint kLeftTriangle = kKeep.zero(kRed).full(kBlue);

// The triangle a pixel belongs to, from its two diagonal tests.
constexpr ChannelTint triangle(bool pastDiagonal, bool pastCounterDiagonal)
{
    if (pastDiagonal)
        return pastCounterDiagonal ? kRightTriangle : kTopTriangle;
    return pastCounterDiagonal ? kBottomTriangle : kLeftTriangle;
}

// "Pane 3 x 3", by row band and column band.
constexpr ChannelTint kPaneCells[3][3] = {
    {kKeep.full(kRed), kKeep.full(kGreen).plus(kBlue, 50), kKeep.full(kBlue)},
    {kKeep.full(kGreen).plus(kRed, 100), kKeep.full(kBlue).plus(kGreen, 50), kKeep.full(kGreen)},
    {kKeep.full(kBlue).full(kRed), kKeep.full(kBlue).full(kGreen), kKeep.full(kRed)},
};

// "Panel 3 x 3", by panel row and panel column.
constexpr ChannelTint kPanels3x3[3][3] = {
    {kKeep.full(kRed), kKeep.minus(kRed, 120).plus(kGreen, 120).minus(kBlue, 120), kKeep.full(kBlue)},
    {kKeep.minus(kRed, 80).plus(kGreen, 60).full(kBlue), kKeep.plus(kRed, 120).plus(kGreen, 60),
     kKeep.full(kRed).full(kBlue)},
    {kKeep.plus(kRed, 80).zero(kGreen).plus(kBlue, 80), kKeep.zero(kRed).plus(kGreen, 80).plus(kBlue, 80),
     kKeep.plus(kRed, 80).plus(kGreen, 80).zero(kBlue)},
};

// "Panel 2 x 2": top left, top right, bottom left, bottom right.
constexpr ChannelTint kPanels2x2[2][2] = {
    {kKeep.full(kRed), kKeep.zero(kBlue).full(kGreen)},
    {kKeep.zero(kRed).full(kBlue), kKeep.full(kBlue).full(kRed)},
};

// The reduced copy ZoomInandOut makes of a picture with the same factor both
// ways, stretched straight from source instead of from a copy of it.
TBitmap32 reducedCopy(const TBitmap32& source, double factor)
{
    return stretchTo(source, int(Trunc(factor * source.width())), int(Trunc(factor * source.height())));
}

// The first x in [from, to) for which holds(x), or `to` when there is none.
// holds must be false up to some column and true from there on; then this
// finds that column with the very test the layout is defined by, so a
// comparison in floating point decides here exactly as it would pixel by
// pixel.
template <class Holds>
int firstWhere(int from, int to, Holds&& holds)
{
    while (from < to) {
        const int middle = from + (to - from) / 2;
        if (holds(middle))
            to = middle;
        else
            from = middle + 1;
    }
    return from;
}

// Columns 1..W-1 of one row cut into pieces of one tint each.
struct RowPieces {
    static constexpr int kMaxCuts = 6;
    int count = 0;
    std::array<int, kMaxCuts + 2> start{};
    std::array<ChannelTint, kMaxCuts + 1> tint{};
};

// Cuts columns 1..width-1 at `cuts` and gives each piece the tint tintAt
// gives its first column. Every test tintAt makes must change its answer
// at most once along the row, at one of the cuts (which is what firstWhere
// found), so each piece is of one tint throughout.
template <class TintAt>
RowPieces piecesOf(int width, std::array<int, RowPieces::kMaxCuts> cuts, int cutCount, TintAt&& tintAt)
{
    std::sort(cuts.begin(), cuts.begin() + cutCount);
    RowPieces row;
    int from = 1;
    auto add = [&](int to) {
        if (to <= from)
            return;
        row.start[std::size_t(row.count)] = from;
        row.tint[std::size_t(row.count)] = tintAt(from);
        ++row.count;
        from = to;
    };
    for (int i = 0; i < cutCount; ++i)
        add(std::min(cuts[std::size_t(i)], width));
    add(width);
    row.start[std::size_t(row.count)] = from;
    return row;
}

// A copy of source whose rows 1..H-1 have columns 1..W-1 tinted piece by
// piece as rowPieces(y) says; row 0 and column 0 are copied unchanged.
template <class RowPiecesOf>
TBitmap32 tintedCopy(const TBitmap32& source, RowPiecesOf&& rowPieces)
{
    const int w = source.width();
    TBitmap32 result(w, source.height());
    if (result.empty())
        return result;
    std::memcpy(result.ScanLine(0), source.ScanLine(0), source.bytesPerLine());
    parallelRows(source.height() - 1, [&](int r0, int r1) {
        for (int y = r0 + 1; y < r1 + 1; ++y) {
            const std::uint8_t* in = source.ScanLine(y);
            std::uint8_t* out = result.ScanLine(y);
            std::memcpy(out, in, 4);
            const RowPieces row = rowPieces(y);
            for (int i = 0; i < row.count; ++i) {
                const int from = row.start[std::size_t(i)];
                const int to = row.start[std::size_t(i) + 1];
                tintRow(in + std::size_t(from) * 4, out + std::size_t(from) * 4, to - from, row.tint[std::size_t(i)]);
            }
        }
    });
    return result;
}

TBitmap32 pane2x2(const TBitmap32& source)
{
    const int w = source.width();
    const double halfW = w / 2.0;
    const double halfH = source.height() / 2.0;
    const auto left = [&](int x) { return x < halfW; };
    const int firstRight = firstWhere(1, w, [&](int x) { return !left(x); });
    return tintedCopy(source, [&](int y) {
        const bool top = y < halfH;
        return piecesOf(w, {firstRight}, 1, [&](int x) {
            if (top)
                return left(x) ? kTopTriangle : kLeftTriangle;
            return left(x) ? kRightTriangle : kBottomTriangle;
        });
    });
}

TBitmap32 pane3x3(const TBitmap32& source)
{
    const int w = source.width();
    const int h = source.height();
    // Bands: up to a third, up to two thirds (2 W, an integer, divided by 3),
    // and the rest.
    const auto band = [](int i, int size) {
        return i <= size / 3.0 ? 0 : (i <= (2 * std::int64_t(size)) / 3.0 ? 1 : 2);
    };
    const int middle = firstWhere(1, w, [&](int x) { return band(x, w) >= 1; });
    const int right = firstWhere(1, w, [&](int x) { return band(x, w) >= 2; });
    return tintedCopy(source, [&](int y) {
        const ChannelTint* cells = kPaneCells[band(y, h)];
        return piecesOf(w, {middle, right}, 2, [&](int x) { return cells[band(x, w)]; });
    });
}

TBitmap32 catercorner4(const TBitmap32& source)
{
    const int w = source.width();
    const int h = source.height();
    return tintedCopy(source, [&](int y) {
        const double diagonal = (double(w) / h) * y;
        const double counterDiagonal = double(std::int64_t(w) * (h - y)) / h;
        const auto past = [&](int x) { return x > diagonal; };
        const auto pastCounter = [&](int x) { return x >= counterDiagonal; };
        return piecesOf(w, {firstWhere(1, w, past), firstWhere(1, w, pastCounter)}, 2,
                        [&](int x) { return triangle(past(x), pastCounter(x)); });
    });
}

TBitmap32 catercorner16(const TBitmap32& source)
{
    const int w = source.width();
    const int h = source.height();
    const double halfW = w / 2.0;
    const double halfH = h / 2.0;
    const auto leftQuarter = [&](int x) { return x <= halfW; };
    const int firstRightQuarter = firstWhere(1, w, [&](int x) { return !leftQuarter(x); });
    return tintedCopy(source, [&](int y) {
        const double v = y <= halfH ? y : y - halfH;
        const double diagonal = (double(w) / h) * v;
        const double counterDiagonal = w * (halfH - v) / h;
        const auto u = [&](int x) { return leftQuarter(x) ? double(x) : x - halfW; };
        const auto past = [&](int x) { return u(x) > diagonal; };
        const auto pastCounter = [&](int x) { return u(x) >= counterDiagonal; };
        // u grows along each quarter, so each test changes once in each.
        return piecesOf(w,
                        {firstRightQuarter, firstWhere(1, firstRightQuarter, past),
                         firstWhere(1, firstRightQuarter, pastCounter), firstWhere(firstRightQuarter, w, past),
                         firstWhere(firstRightQuarter, w, pastCounter)},
                        5, [&](int x) { return triangle(past(x), pastCounter(x)); });
    });
}

TBitmap32 panel2x2(const TBitmap32& source)
{
    // ZoomInandOut by one half keeps the even columns and rows: its stretch
    // takes, for W = 2k or 2k + 1, column floor(x W / k) = 2 x + floor(x (W -
    // 2k) / k), which is 2 x for every x below k. So the copies' pixel (x, c)
    // is the source's (2 x, 2 c), taken here straight from the source.
    const int w2 = int(Trunc(0.5 * source.width()));
    const int h2 = int(Trunc(0.5 * source.height()));
    TBitmap32 result(source.width(), source.height());
    const std::size_t line = source.bytesPerLine();
    // The canvas is the photograph. Its rows 1..h2-1 hold the top panels,
    // rows h2+1..2*h2-1 the bottom ones, in columns 1..w2-1 and
    // w2+1..2*w2-1; the panels change only blue, green and red. Row and
    // column 0 of the copies are not used, so a copy narrower or lower than
    // 2 pixels (a picture under 4) leaves the photograph as it is. Canvas
    // rows c and h2 + c are made together, from the copies' row c while it
    // is in the cache.
    parallelRows(h2, [&](int c0, int c1) {
        for (int c = c0; c < c1; ++c)
            for (int panelRow = 0; panelRow < 2; ++panelRow) {
                const int y = panelRow * h2 + c;
                std::uint8_t* out = result.ScanLine(y);
                std::memcpy(out, source.ScanLine(y), line);
                if (w2 < 2 || c < 1)
                    continue;
                const std::uint8_t* in = source.ScanLine(2 * c) + 2 * 4;  // the copies' pixel (1, c)
                tintColoursOfEvenPixels(in, out + 4, w2 - 1, kPanels2x2[panelRow][0]);
                tintColoursOfEvenPixels(in, out + std::size_t(w2 + 1) * 4, w2 - 1, kPanels2x2[panelRow][1]);
            }
    });
    for (int y = 2 * h2; y < source.height(); ++y)  // the last row of a picture of odd height
        std::memcpy(result.ScanLine(y), source.ScanLine(y), line);
    return result;
}

TBitmap32 panel3x3(const TBitmap32& source)
{
    // Under 3 pixels a third-size copy has no pixels, and neither would the
    // result: the picture would be replaced by nothing. Refused instead, so
    // the document keeps its picture and the user is told why.
    if (source.width() < 3 || source.height() < 3)
        throw PlumoraError("The picture is too small for Panel 3 x 3.");
    const TBitmap32 reduced = reducedCopy(source, kJustAboveOneThird);
    const int w3 = reduced.width();
    const int h3 = reduced.height();
    TBitmap32 result(3 * w3, 3 * h3);
    parallelRows(result.height(), [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            const std::uint8_t* in = reduced.ScanLine(y % h3);
            std::uint8_t* out = result.ScanLine(y);
            for (int panel = 0; panel < 3; ++panel)
                tintRow(in, out + std::size_t(panel) * std::size_t(w3) * 4, w3, kPanels3x3[y / h3][panel]);
        }
    });
    return result;
}

}  // namespace

TBitmap32 colorPanel(const TBitmap32& source, ColorPanelLayout layout)
{
    switch (layout) {
    case ColorPanelLayout::Panel2x2:
        return panel2x2(source);
    case ColorPanelLayout::Pane2x2:
        return pane2x2(source);
    case ColorPanelLayout::Catercorner4:
        return catercorner4(source);
    case ColorPanelLayout::Panel3x3:
        return panel3x3(source);
    case ColorPanelLayout::Pane3x3:
        return pane3x3(source);
    case ColorPanelLayout::Catercorner16:
        return catercorner16(source);
    }
    throw PlumoraError("Unknown colour panel layout.");
}

}  // namespace plumora
