#include "effects/sketch/pencil_sketch.h"

#include "raster/colour.h"
#include "raster/parallel.h"
#include "raster/picsobel.h"
#include "raster/rounding.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace plumora {

namespace {

// What one grey value becomes, as a whole pixel (blue, green, red, fourth byte).
using GreyTable = std::array<std::uint32_t, 256>;

std::uint32_t opaquePixel(int r, int g, int b)
{
    return 0xFF000000u | std::uint32_t(r) << 16 | std::uint32_t(g) << 8 | std::uint32_t(b);
}

IntRGB contrastColour(int r, int g, int b, int a)
{
    const IntHSL hsl = IntRGBtoHSL(r, g, b);
    return IntHSLtoRGB(hsl.h, hsl.s, contrastLightness(hsl.l, a));
}

// Both adjustments see a grey picture (the contrast mode its grey copy, the
// lighting mode the grey value of each pixel), so each is a function of 256
// values: worked out once per OK, the HSL round trip included, instead of
// once per pixel. The tests compare every entry of every position with the
// formula.
GreyTable contrastTable(int a)
{
    GreyTable table;
    for (int v = 0; v < 256; ++v) {
        const IntRGB c = contrastColour(v, v, v, a);
        table[std::size_t(v)] = opaquePixel(c.r, c.g, c.b);
    }
    return table;
}

GreyTable lightingTable(int p)
{
    GreyTable table;
    for (int v = 0; v < 256; ++v) {
        const std::uint8_t out = clampByte(std::int64_t(v) + 2 * (std::int64_t(p) - 128));
        table[std::size_t(v)] = opaquePixel(out, out, out);
    }
    return table;
}

// out pixel := table[grey value of in pixel] for width pixels; out may be in.
// Goes a cache-sized piece at a time so the grey values stay in the cache.
void greyLookupRow(const std::uint8_t* in, std::uint8_t* out, int width, const GreyTable& table)
{
    auto* px = reinterpret_cast<std::uint32_t*>(out);
    forEachGreyPiece(in, width, kGreyWeights, [&](int x0, const std::uint8_t* grey, int n) {
        for (int i = 0; i < n; ++i)
            px[x0 + i] = table[grey[i]];
    });
}

}  // namespace

int contrastLightness(int l, int a)
{
    const double t = std::tan(a * std::numbers::pi / 180);
    const std::int64_t lightness = a < 45 ? Round(t * (l - 55)) + (100 - a) : Round(t * (l - a - 5)) + 50;
    return int(std::clamp<std::int64_t>(lightness, 0, 100));
}

void ContrastAdjust(TBitmap32& bitmap, int a)
{
    const GreyTable table = contrastTable(a);
    const int w = bitmap.width();
    parallelRows(bitmap.height(), [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            auto* px = reinterpret_cast<std::uint32_t*>(bitmap.ScanLine(y));
            for (int x = 0; x < w; ++x) {
                const std::uint32_t v = px[x];
                const int b = int(v & 0xFF), g = int(v >> 8 & 0xFF), r = int(v >> 16 & 0xFF);
                if (r == g && g == b) {
                    px[x] = table[std::size_t(r)];
                } else {
                    // Only a caller other than the pencil sketch gets here.
                    const IntRGB c = contrastColour(r, g, b, a);
                    px[x] = opaquePixel(c.r, c.g, c.b);
                }
            }
        }
    });
}

void LightingAdjust(TBitmap32& bitmap, int p)
{
    const GreyTable table = lightingTable(p);
    const int w = bitmap.width();
    parallelRows(bitmap.height(), [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y)
            greyLookupRow(bitmap.ScanLine(y), bitmap.ScanLine(y), w, table);
    });
}

TBitmap32 pencilSketch(const TBitmap32& source, PencilMode mode, int position)
{
    // Contrast reads the grey copy, whose pixels are the grey values of the
    // edge picture; lighting reads the grey values of the edge picture
    // directly. Either way one table lookup per grey value of an edge row.
    const GreyTable table = mode == PencilMode::Contrast ? contrastTable(position) : lightingTable(position);
    TBitmap32 result(source.width(), source.height());
    const int w = source.width();
    forEachPicsobelRow(source, [&](int y, const std::uint8_t* edges) {
        greyLookupRow(edges, result.ScanLine(y), w, table);
    });
    return result;
}

}  // namespace plumora
