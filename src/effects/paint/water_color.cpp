#include "effects/paint/water_color.h"

#include "raster/parallel.h"
#include "raster/simd.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

namespace plumora {

namespace {

// Both passes work on the bytes from..end-1 of one row (all four bytes of
// each pixel: the channels never mix, and the fourth bytes are put back
// afterwards) from the rows above, own and below, in plain byte arithmetic
// that the compiler turns into vector code on its own.

[[gnu::always_inline]] inline void sharpenBytesPlain(const std::uint8_t* __restrict up,
                                                     const std::uint8_t* __restrict own,
                                                     const std::uint8_t* __restrict down, std::uint8_t* __restrict out,
                                                     int from, int end)
{
    for (int i = from; i < end; ++i) {
        const std::int16_t s = std::int16_t(5 * own[i] - up[i] - own[i - 4] - own[i + 4] - down[i]);
        out[i] = std::uint8_t(std::min<std::int16_t>(255, std::max<std::int16_t>(0, s)));
    }
}

// The median of nine: sort each column of three, then the median is the
// middle one of the largest of the column minima, the median of the column
// medians and the smallest of the column maxima. Only comparisons, so by
// the 0-1 principle the tests that go through every picture of zeros and
// ones around a pixel prove it for all values; it gives exactly what
// sorting the nine values and taking the fifth gives.
[[gnu::always_inline]] inline std::uint8_t middleOfThree(std::uint8_t a, std::uint8_t b, std::uint8_t c)
{
    return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

[[gnu::always_inline]] inline void medianBytesPlain(const std::uint8_t* __restrict up,
                                                    const std::uint8_t* __restrict own,
                                                    const std::uint8_t* __restrict down, std::uint8_t* __restrict out,
                                                    int from, int end)
{
    for (int i = from; i < end; ++i) {
        std::uint8_t low[3], middle[3], high[3];
        for (int c = 0; c < 3; ++c) {
            const int at = i + (c - 1) * 4;
            const std::uint8_t a = up[at], b = own[at], d = down[at];
            low[c] = std::min(std::min(a, b), d);
            high[c] = std::max(std::max(a, b), d);
            middle[c] = middleOfThree(a, b, d);
        }
        out[i] =
            middleOfThree(std::max(std::max(low[0], low[1]), low[2]), middleOfThree(middle[0], middle[1], middle[2]),
                          std::min(std::min(high[0], high[1]), high[2]));
    }
}

void sharpenBytes(const std::uint8_t* up, const std::uint8_t* own, const std::uint8_t* down, std::uint8_t* out,
                  int from, int end)
{
    perLevelPath<sharpenBytesPlain>()(up, own, down, out, from, end);
}
void medianBytes(const std::uint8_t* up, const std::uint8_t* own, const std::uint8_t* down, std::uint8_t* out, int from,
                 int end)
{
    perLevelPath<medianBytesPlain>()(up, own, down, out, from, end);
}

using PassRow = void (*)(const std::uint8_t*, const std::uint8_t*, const std::uint8_t*, std::uint8_t*, int, int);

// One interior row of a pass: its interior from the three rows around it,
// its two side pixels and all its fourth bytes from `before`, the pass's
// own row before the pass.
void passRow(PassRow pass, const std::uint8_t* up, const std::uint8_t* own, const std::uint8_t* down,
             const std::uint8_t* before, std::uint8_t* out, int width)
{
    pass(up, own, down, out, 4, (width - 1) * 4);
    std::memcpy(out, before, 4);
    std::memcpy(out + (width - 1) * 4, before + (width - 1) * 4, 4);
}

// The fourth bytes of the interior pixels of row from alphaRow.
void takeAlpha(std::uint8_t* row, const std::uint8_t* alphaRow, int width)
{
    auto* out = reinterpret_cast<std::uint32_t*>(row);
    const auto* alpha = reinterpret_cast<const std::uint32_t*>(alphaRow);
    for (int x = 1; x < width - 1; ++x)
        out[x] = (out[x] & 0x00FFFFFFu) | (alpha[x] & 0xFF000000u);
}

void onePass(TBitmap32& bitmap, PassRow pass)
{
    const int w = bitmap.width();
    const int h = bitmap.height();
    if (w < 3 || h < 3)
        return;
    const TBitmap32 before = bitmap;
    parallelRows(h - 2, [&](int r0, int r1) {
        for (int y = r0 + 1; y < r1 + 1; ++y) {
            passRow(pass, before.ScanLine(y - 1), before.ScanLine(y), before.ScanLine(y + 1), before.ScanLine(y),
                    bitmap.ScanLine(y), w);
            takeAlpha(bitmap.ScanLine(y), before.ScanLine(y), w);
        }
    });
}

// One cycle, sharpen, soften, soften, from `in` into `out` in a single pass
// over memory: each band of rows streams through two rings of three rows
// (the sharpened rows, then the once-softened ones), so that the picture is
// read and written once instead of three times. A band starts three rows
// early to fill the rings; the rows it works out twice with its neighbour
// are the same either way, so the result does not depend on the bands.
// Every pass keeps the frame as it was, which is the frame of `in`.
void cycle(const TBitmap32& in, TBitmap32& out)
{
    const int w = in.width();
    const int h = in.height();
    const std::size_t line = in.bytesPerLine();
    parallelRows(h, [&](int y0, int y1) {
        auto rings = std::make_unique_for_overwrite<std::uint8_t[]>(line * 6);
        std::uint8_t* sharpened[3] = {rings.get(), rings.get() + line, rings.get() + 2 * line};
        std::uint8_t* softened[3] = {rings.get() + 3 * line, rings.get() + 4 * line, rings.get() + 5 * line};
        // The frame rows of each pass are those of `in`.
        auto sharpRow = [&](int r) -> const std::uint8_t* {
            return r == 0 || r == h - 1 ? in.ScanLine(r) : sharpened[r % 3];
        };
        auto softRow = [&](int r) -> const std::uint8_t* {
            return r == 0 || r == h - 1 ? in.ScanLine(r) : softened[r % 3];
        };

        // The interior rows first..last-1 of the band; frame rows are copies.
        const int first = std::max(y0, 1);
        const int last = std::min(y1, h - 1);
        for (int y = y0; y < y1; ++y)
            if (y < first || y >= last)
                std::memcpy(out.ScanLine(y), in.ScanLine(y), line);
        // Row r of the sharpened picture makes row r - 1 of the softened one
        // possible, and that row r - 2 of the result.
        for (int r = first - 2; r <= last + 1; ++r) {
            if (r >= 1 && r <= h - 2)
                passRow(sharpenBytes, in.ScanLine(r - 1), in.ScanLine(r), in.ScanLine(r + 1), in.ScanLine(r),
                        sharpened[r % 3], w);
            const int s = r - 1;
            if (s >= std::max(first - 1, 1) && s <= std::min(last, h - 2))
                passRow(medianBytes, sharpRow(s - 1), sharpRow(s), sharpRow(s + 1), in.ScanLine(s), softened[s % 3], w);
            const int y = r - 2;
            if (y >= first && y < last) {
                passRow(medianBytes, softRow(y - 1), softRow(y), softRow(y + 1), in.ScanLine(y), out.ScanLine(y), w);
                takeAlpha(out.ScanLine(y), in.ScanLine(y), w);
            }
        }
    });
}

}  // namespace

void sharpen(TBitmap32& bitmap)
{
    onePass(bitmap, sharpenBytes);
}

void soften(TBitmap32& bitmap)
{
    onePass(bitmap, medianBytes);
}

TBitmap32 waterColor(const TBitmap32& source, int scope)
{
    const int w = source.width();
    const int h = source.height();
    if (w < 3 || h < 3 || scope < 1)
        return source;
    TBitmap32 result(w, h);
    cycle(source, result);
    if (scope > 1) {
        TBitmap32 other(w, h);
        for (int i = 1; i < scope; ++i) {
            cycle(result, other);
            std::swap(result, other);
        }
    }
    return result;
}

}  // namespace plumora
