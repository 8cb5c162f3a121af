#include "raster/picsobel.h"

#include "raster/errors.h"
#include "raster/parallel.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace plumora {

namespace {

// Inverted edge bytes of pixels 1..w-2 of one row, all four bytes of each
// pixel (the fourth is fixed afterwards). Plain byte arithmetic in 16 bits,
// which the compiler turns into vector code: 256-bit wide where the
// processor has AVX2, chosen when the program starts.
#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target_clones("avx2", "default")))
#endif
void edgeKernel(const std::uint8_t* __restrict up, const std::uint8_t* __restrict cur,
                const std::uint8_t* __restrict dn, std::uint8_t* __restrict out, int width)
{
    const int end = (width - 1) * 4;
    for (int i = 4; i < end; ++i) {
        const std::int16_t ul = up[i - 4], u = up[i], ur = up[i + 4];
        const std::int16_t dl = dn[i - 4], d = dn[i], dr = dn[i + 4];
        const std::int16_t l = cur[i - 4], c = cur[i], r = cur[i + 4];
        std::int16_t a = std::int16_t(6 * c - ul - u - ur - dl - d - dr);
        std::int16_t b = std::int16_t(ul + l + dl - ur - r - dr);
        a = std::min<std::int16_t>(std::max<std::int16_t>(a, 0), 255);
        b = std::min<std::int16_t>(std::max<std::int16_t>(b, 0), 255);
        out[i] = std::uint8_t(255 - std::max(a, b));
    }
}

// Copies the fourth bytes of alphaRow into row, keeping row's colour bytes.
void takeAlpha(std::uint8_t* row, const std::uint8_t* alphaRow, int width)
{
    auto* out = reinterpret_cast<std::uint32_t*>(row);
    const auto* alpha = reinterpret_cast<const std::uint32_t*>(alphaRow);
    for (int x = 0; x < width; ++x)
        out[x] = (out[x] & 0x00FFFFFFu) | (alpha[x] & 0xFF000000u);
}

void copyColour(std::uint8_t* to, const std::uint8_t* from)
{
    to[kBlue] = from[kBlue];
    to[kGreen] = from[kGreen];
    to[kRed] = from[kRed];
}

void invertColours(std::uint8_t* row, int width)
{
    auto* px = reinterpret_cast<std::uint32_t*>(row);
    for (int x = 0; x < width; ++x)
        px[x] ^= 0x00FFFFFFu;
}

// Writes row y of the inverted edge picture of src into out.
void picsobelRow(const TBitmap32& src, int y, std::uint8_t* out)
{
    const int w = src.width();
    const int h = src.height();
    const std::size_t line = src.bytesPerLine();
    if (w == 1 && h >= 3) {
        std::memcpy(out, src.ScanLine(y), line);  // no side neighbours: unchanged
        return;
    }
    if (h == 2) {
        // No interior rows and no side copies: both rows become row 1.
        std::memcpy(out, src.ScanLine(1), line);
    } else {
        // The border rows repeat their inner neighbours.
        const int ys = std::clamp(y, 1, h - 2);
        const std::uint8_t* cur = src.ScanLine(ys);
        if (w >= 3)
            edgeKernel(src.ScanLine(ys - 1), cur, src.ScanLine(ys + 1), out, w);
        else
            std::memcpy(out, cur, line);  // no interior columns
        // The side columns repeat their inner neighbours, left first. The
        // kernel wrote inverted bytes; the plain copies are inverted below.
        if (w >= 3) {
            std::memcpy(out, out + 4, 4);
            std::memcpy(out + (w - 1) * 4, out + (w - 2) * 4, 4);
            takeAlpha(out, src.ScanLine(y), w);
            return;
        }
        copyColour(out, out + 4);
        copyColour(out + (w - 1) * 4, out + (w - 2) * 4);
    }
    invertColours(out, w);
    takeAlpha(out, src.ScanLine(y), w);
}

void checkHasRowBelowTop(const TBitmap32& src)
{
    // The top row is copied from row 1, which a one-row picture lacks.
    if (src.height() == 1)
        throw ScanLineError();
}

}  // namespace

void forEachPicsobelRow(const TBitmap32& source, const std::function<void(int, const std::uint8_t*)>& sink)
{
    if (source.empty())
        return;
    checkHasRowBelowTop(source);
    parallelRows(source.height(), [&](int y0, int y1) {
        auto row = std::make_unique_for_overwrite<std::uint8_t[]>(source.bytesPerLine());
        for (int y = y0; y < y1; ++y) {
            picsobelRow(source, y, row.get());
            sink(y, row.get());
        }
    });
}

TBitmap32 picsobelOf(const TBitmap32& source)
{
    TBitmap32 result(source.width(), source.height());
    if (source.empty())
        return result;
    checkHasRowBelowTop(source);
    parallelRows(source.height(), [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y)
            picsobelRow(source, y, result.ScanLine(y));
    });
    return result;
}

void picsobel(TBitmap32& bitmap)
{
    bitmap = picsobelOf(bitmap);
}

}  // namespace plumora
