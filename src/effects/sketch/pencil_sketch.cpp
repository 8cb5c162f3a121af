#include "effects/sketch/pencil_sketch.h"

#include "raster/colour.h"
#include "raster/parallel.h"
#include "raster/picsobel.h"
#include "raster/rounding.h"
#include "raster/simd.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>

#if PLUMORA_HAS_X86_PATHS
#include <immintrin.h>
#endif

namespace plumora {

namespace {

// What one grey value becomes, as a whole pixel (blue, green, red, fourth
// byte). Both of the sketch's tables give opaque greys; for such a table the
// wide path looks up one byte per pixel (levels) and spreads it.
struct GreyTable {
    std::array<std::uint32_t, 256> pixels{};
    std::array<std::uint8_t, 256> levels{};
    bool opaqueGreys = true;

    void set(int v, int r, int g, int b)
    {
        pixels[std::size_t(v)] = 0xFF000000u | std::uint32_t(r) << 16 | std::uint32_t(g) << 8 | std::uint32_t(b);
        levels[std::size_t(v)] = std::uint8_t(b);
        opaqueGreys = opaqueGreys && r == g && g == b;
    }
    std::uint32_t operator[](std::size_t v) const { return pixels[v]; }
};

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
        table.set(v, c.r, c.g, c.b);
    }
    return table;
}

GreyTable lightingTable(int p)
{
    GreyTable table;
    for (int v = 0; v < 256; ++v) {
        const std::uint8_t out = clampByte(std::int64_t(v) + 2 * (std::int64_t(p) - 128));
        table.set(v, out, out, out);
    }
    return table;
}

GreyTable greyTable(PencilMode mode, int position)
{
    return mode == PencilMode::Contrast ? contrastTable(position) : lightingTable(position);
}

void lookUpPlain(const std::uint8_t* grey, int count, const GreyTable& table, std::uint32_t* out)
{
    for (int i = 0; i < count; ++i)
        out[i] = table[grey[i]];
}

#if PLUMORA_HAS_X86_PATHS
PLUMORA_AVX512_CODE_BEGIN
// 64 grey values a step: two two-register byte permutes look up the levels
// of values below and from 128, the top bit of each value picks one, and
// four more permutes spread each level over blue, green and red.
PLUMORA_TARGET_AVX512 void lookUpAvx512(const std::uint8_t* grey, int count, const GreyTable& table, std::uint32_t* out)
{
    if (!table.opaqueGreys)
        return lookUpPlain(grey, count, table, out);
    const std::uint8_t* levels = table.levels.data();
    const __m512i low0 = _mm512_loadu_si512(levels);
    const __m512i low1 = _mm512_loadu_si512(levels + 64);
    const __m512i high0 = _mm512_loadu_si512(levels + 128);
    const __m512i high1 = _mm512_loadu_si512(levels + 192);
    const __m512i opaque = _mm512_set1_epi32(std::int32_t(0xFF000000u));
    // Byte j of quarter q's pixels comes from level 16q + j/4.
    __m512i spread[4];
    for (int q = 0; q < 4; ++q) {
        alignas(64) std::uint8_t index[64];
        for (int j = 0; j < 64; ++j)
            index[j] = std::uint8_t(16 * q + j / 4);
        spread[q] = _mm512_load_si512(index);
    }
    int i = 0;
    for (; i + 64 <= count; i += 64) {
        const __m512i values = _mm512_loadu_si512(grey + i);
        const __m512i low = _mm512_permutex2var_epi8(low0, values, low1);
        const __m512i high = _mm512_permutex2var_epi8(high0, values, high1);
        const __m512i level = _mm512_mask_blend_epi8(_mm512_movepi8_mask(values), low, high);
        for (int q = 0; q < 4; ++q)
            _mm512_storeu_si512(out + i + 16 * q, _mm512_or_si512(_mm512_permutexvar_epi8(spread[q], level), opaque));
    }
    lookUpPlain(grey + i, count - i, table, out + i);
}
PLUMORA_AVX512_CODE_END
#endif

void lookUp(const std::uint8_t* grey, int count, const GreyTable& table, std::uint32_t* out)
{
    // The AVX2 level takes the plain loop: the fast lookup is built on
    // byte permutes over whole registers, which AVX2 lacks.
    simdPath(lookUpPlain, nullptr, PLUMORA_X86(lookUpAvx512))(grey, count, table, out);
}

// out pixel := table[grey value of in pixel] for width pixels; out may be in.
// Goes a cache-sized piece at a time so the grey values stay in the cache.
void greyLookupRow(const std::uint8_t* in, std::uint8_t* out, int width, const GreyTable& table)
{
    auto* px = reinterpret_cast<std::uint32_t*>(out);
    forEachGreyPiece(in, width, kGreyWeights,
                     [&](int x0, const std::uint8_t* grey, int n) { lookUp(grey, n, table, px + x0); });
}

}  // namespace

std::array<std::uint32_t, 256> pencilGreyPixels(PencilMode mode, int position)
{
    return greyTable(mode, position).pixels;
}

int contrastLightness(int l, int a)
{
    const double t = std::tan(a * std::numbers::pi / 180);
    const std::int64_t lightness = a < 45 ? Round(t * (l - 55)) + (100 - a) : Round(t * (l - a - 5)) + 50;
    return int(std::clamp<std::int64_t>(lightness, 0, 100));
}

TBitmap32 pencilSketch(const TBitmap32& source, PencilMode mode, int position)
{
    // Contrast reads the grey copy, whose pixels are the grey values of the
    // edge picture; lighting reads the grey values of the edge picture
    // directly. Either way one table lookup per grey value of an edge row.
    const GreyTable table = greyTable(mode, position);
    TBitmap32 result(source.width(), source.height());
    const int w = source.width();
    forEachPicsobelRow(source,
                       [&](int y, const std::uint8_t* edges) { greyLookupRow(edges, result.ScanLine(y), w, table); });
    return result;
}

}  // namespace plumora
