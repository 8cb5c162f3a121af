#include "effects/relief/texture.h"

#include "raster/colour.h"
#include "raster/errors.h"
#include "raster/parallel.h"
#include "raster/rounding.h"
#include "raster/simd.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#if PLUMORA_HAS_X86_PATHS
#include <immintrin.h>
#endif

namespace plumora {

namespace {

constexpr int kLevels = 101;  // saturation and lightness 0..100

// The integer HSL pair broken into tables, so that a pixel costs a few
// lookups instead of a dozen floating-point divisions. They depend on nothing
// but the colour, so they are built once, the first time a texture is made.
struct HslTables {
    // IntRGBtoHSL's saturation and lightness depend only on the largest and
    // the smallest of the three bytes: [largest * 256 + smallest] = S | L << 8.
    // (Each table has room after its last entry for the four bytes a vector
    // lookup reads.)
    std::uint16_t saturationLightness[256 * 256 + 1] = {};
    // IntHSLtoRGB with lightness 50 (which leaves the colour as the pure hue
    // and the saturation made it): [H * 101 + S] = red << 16 | green << 8 | blue.
    std::uint32_t hueSaturation[360 * kLevels] = {};
    // IntHSLtoRGB's last step, the blend towards white or black, for one
    // byte: [L * 256 + c].
    std::uint8_t lightness[kLevels * 256 + 3] = {};

    HslTables()
    {
        for (int mx = 0; mx < 256; ++mx)
            for (int mn = 0; mn <= mx; ++mn) {
                const IntHSL hsl = IntRGBtoHSL(mx, mn, mn);
                saturationLightness[mx * 256 + mn] = std::uint16_t(hsl.s | hsl.l << 8);
            }
        for (int h = 0; h < 360; ++h)
            for (int s = 0; s < kLevels; ++s) {
                const IntRGB c = IntHSLtoRGB(h, s, 50);
                hueSaturation[h * kLevels + s] = std::uint32_t(c.r << 16 | c.g << 8 | c.b);
            }
        for (int l = 0; l < kLevels; ++l) {
            const double e = (l - 50) / 50.0;
            for (int c = 0; c < 256; ++c) {
                const double v = c;
                const std::int64_t out = e > 0 ? Round(v + e * (255 - v)) : (e < 0 ? Round(v + e * v) : c);
                lightness[l * 256 + c] = std::uint8_t(out);
            }
        }
    }
};

const HslTables& hslTables()
{
    static const std::unique_ptr<const HslTables> tables = std::make_unique<const HslTables>();
    return *tables;
}

// IntRGBtoHSL's hue in whole arithmetic, or -1 where it cannot tell.
// Its floating-point hue is, exactly, n / d degrees with d = largest -
// smallest and n a whole number (60 times the difference of the other two
// bytes, plus 120 d, 240 d or 360 d by the case); Round takes the nearest
// whole degree. Floating-point error is far below the distance 1 / (2 d) of
// any other value from a half, so only an exact half can go either way: there
// it answers -1 and the caller asks floatingHue. The tests compare every
// colour.
inline int wholeHue(int r, int g, int b, int mx, int mn)
{
    const int d = mx - mn;
    if (d == 0)
        return 0;
    int n;
    if (r == mx)  // red is tested first, then green, as IntRGBtoHSL does
        n = g >= b ? 60 * (g - b) : 360 * d + 60 * (g - b);
    else if (g == mx)
        n = 120 * d + 60 * (b - r);
    else
        n = 240 * d + 60 * (r - g);
    const int twice = 2 * n + d;  // 2 d (n / d + 1/2)
    const int rounded = twice / (2 * d);
    return rounded * 2 * d == twice ? -1 : rounded;
}

// IntRGBtoHSL's hue alone, for the colours whose hue is an exact half of a
// degree: there the rounding of its floating-point operations decides.
int floatingHue(int red, int green, int blue)
{
    return intHueOf(red, green, blue);
}

// The lightness each tile pixel adds, clamped to -101..101: any larger
// change takes every lightness 0..100 to the same end, so the clamp changes
// no result and keeps a huge pressure from overflowing. Each row is followed
// by the first kSpill values again, so that a vector of deltas can be loaded
// from any column of it.
constexpr int kSpill = 16;
constexpr int kDeltaRow = kTextureTileSize + kSpill;

struct TileDeltas {
    int values[kTextureTileSize * kDeltaRow];

    TileDeltas(const TBitmap32& tile, int pressure)
    {
        for (int y = 0; y < kTextureTileSize; ++y) {
            const std::uint8_t* row = tile.ScanLine(y);
            int* out = values + y * kDeltaRow;
            for (int x = 0; x < kTextureTileSize; ++x) {
                const std::uint8_t* p = row + x * 4;
                const int tl = IntRGBtoHSL(p[kRed], p[kGreen], p[kBlue]).l;
                const std::int64_t product = std::int64_t(tl - kTextureNeutralLightness) * pressure;
                const std::int64_t delta = Round(double(product) / 50);
                out[x] = int(std::clamp<std::int64_t>(delta, -kLevels, kLevels));
            }
            std::copy(out, out + kSpill, out + kTextureTileSize);
        }
    }
};

inline std::uint32_t texturedPixel(std::uint32_t pixel, int delta, const HslTables& t)
{
    const int b = int(pixel & 0xFF);
    const int g = int(pixel >> 8 & 0xFF);
    const int r = int(pixel >> 16 & 0xFF);
    const int mx = std::max(r, std::max(g, b));
    const int mn = std::min(r, std::min(g, b));
    const int sl = t.saturationLightness[mx * 256 + mn];
    int h = wholeHue(r, g, b, mx, mn);
    if (h < 0)
        h = floatingHue(r, g, b);
    if (h == 360)  // a hue that rounded up to a full turn is hue 0
        h = 0;
    const int l = std::clamp((sl >> 8) + delta, 0, 100);
    const std::uint32_t c = t.hueSaturation[h * kLevels + (sl & 0xFF)];
    const std::uint8_t* light = t.lightness + l * 256;
    return 0xFF000000u | std::uint32_t(light[c >> 16]) << 16 | std::uint32_t(light[c >> 8 & 0xFF]) << 8 |
           std::uint32_t(light[c & 0xFF]);
}

// count pixels from column `column` (mod 58) of a tile row's deltas on.
void texturePlain(const std::uint8_t* in, std::uint8_t* out, int count, const int* deltas, int column,
                  const HslTables& t)
{
    for (int i = 0; i < count; ++i) {
        std::uint32_t pixel;
        std::memcpy(&pixel, in + std::size_t(i) * 4, 4);
        pixel = texturedPixel(pixel, deltas[column], t);
        std::memcpy(out + std::size_t(i) * 4, &pixel, 4);
        if (++column == kTextureTileSize)
            column = 0;
    }
}

#if PLUMORA_HAS_X86_PATHS
PLUMORA_AVX512_CODE_BEGIN

// 16 whole numbers as two vectors of 8 doubles, and back.
struct Halves {
    __m512d part[2];
};

PLUMORA_TARGET_AVX512 inline Halves toDoubles(__m512i v)
{
    return {{_mm512_cvtepi32_pd(_mm512_castsi512_si256(v)), _mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(v, 1))}};
}

PLUMORA_TARGET_AVX512 inline __m512i roundToWhole(const Halves& h)
{
    return _mm512_inserti64x4(_mm512_castsi256_si512(_mm512_cvtpd_epi32(h.part[0])), _mm512_cvtpd_epi32(h.part[1]), 1);
}

// IntHSLtoRGB's blend towards white or black for lightnesses l, in the very
// double operations of the lightness table: e := (l - 50) / 50, then
// Round(c + e * (255 - c)) where e > 0, Round(c + e * c) where e < 0 (and
// where e = 0 either gives c). Converting to whole numbers rounds in the
// default mode, halves to even, as Round does. (Three scattered lookups in
// the table cost more.)
struct Lightening {
    Halves e;
    __mmask8 lighter[2];

    PLUMORA_TARGET_AVX512 explicit Lightening(__m512i l) : e(toDoubles(_mm512_sub_epi32(l, _mm512_set1_epi32(50))))
    {
        for (int i = 0; i < 2; ++i) {
            e.part[i] = _mm512_div_pd(e.part[i], _mm512_set1_pd(50.0));
            lighter[i] = _mm512_cmp_pd_mask(e.part[i], _mm512_setzero_pd(), _CMP_GT_OQ);
        }
    }

    PLUMORA_TARGET_AVX512 __m512i operator()(__m512i c) const
    {
        Halves v = toDoubles(c);
        for (int i = 0; i < 2; ++i) {
            const __m512d x = v.part[i];
            const __m512d towards = _mm512_mask_sub_pd(x, lighter[i], _mm512_set1_pd(255.0), x);
            v.part[i] = _mm512_add_pd(x, _mm512_mul_pd(e.part[i], towards));
        }
        return roundToWhole(v);
    }
};

// Sixteen pixels a step, as texturedPixel. The hue is wholeHue's, with its
// division made in single precision, which gives the whole quotient here:
// 2n + d (below 2^18) and 2d are exact floats, and a quotient that is not
// whole lies at least 1/510 below the next whole number, far more than the
// division's error (below 2^-24 of 361). Pixels whose hue is an exact half
// get texturedPixel after the vector's values are stored.
PLUMORA_TARGET_AVX512 void textureAvx512(const std::uint8_t* in, std::uint8_t* out, int count, const int* deltas,
                                         const HslTables& t)
{
    const __m512i byte = _mm512_set1_epi32(0xFF);
    const __m512i zero = _mm512_setzero_si512();
    const __m512i one = _mm512_set1_epi32(1);
    const __m512i sixty = _mm512_set1_epi32(60);
    const __m512i fullTurn = _mm512_set1_epi32(360);
    const __m512i hundred = _mm512_set1_epi32(100);
    const __m512i opaque = _mm512_set1_epi32(std::int32_t(0xFF000000u));
    int column = 0;
    int i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m512i px = _mm512_loadu_si512(in + std::size_t(i) * 4);
        const __m512i b = _mm512_and_si512(px, byte);
        const __m512i g = _mm512_and_si512(_mm512_srli_epi32(px, 8), byte);
        const __m512i r = _mm512_and_si512(_mm512_srli_epi32(px, 16), byte);
        const __m512i mx = _mm512_max_epi32(r, _mm512_max_epi32(g, b));
        const __m512i mn = _mm512_min_epi32(r, _mm512_min_epi32(g, b));
        const __m512i d = _mm512_sub_epi32(mx, mn);

        // n as in wholeHue: blue largest, then green, then red (tested first).
        const __mmask16 redMax = _mm512_cmpeq_epi32_mask(r, mx);
        const __mmask16 greenMax = _mm512_kandn(redMax, _mm512_cmpeq_epi32_mask(g, mx));
        __m512i base = _mm512_set1_epi32(240);
        __m512i diff = _mm512_sub_epi32(r, g);
        base = _mm512_mask_mov_epi32(base, greenMax, _mm512_set1_epi32(120));
        diff = _mm512_mask_sub_epi32(diff, greenMax, b, r);
        base = _mm512_mask_mov_epi32(base, redMax, _mm512_maskz_mov_epi32(_mm512_cmplt_epi32_mask(g, b), fullTurn));
        diff = _mm512_mask_sub_epi32(diff, redMax, g, b);
        const __m512i n = _mm512_add_epi32(_mm512_mullo_epi32(base, d), _mm512_mullo_epi32(diff, sixty));
        const __m512i twice = _mm512_add_epi32(_mm512_add_epi32(n, n), d);
        const __m512i den = _mm512_add_epi32(d, d);
        const __mmask16 coloured = _mm512_cmpneq_epi32_mask(d, zero);  // greys have hue 0
        __m512i hue = _mm512_maskz_cvttps_epi32(
            coloured, _mm512_div_ps(_mm512_cvtepi32_ps(twice), _mm512_cvtepi32_ps(_mm512_max_epi32(den, one))));
        const __mmask16 ties = _mm512_mask_cmpeq_epi32_mask(coloured, _mm512_mullo_epi32(hue, den), twice);
        hue = _mm512_mask_mov_epi32(hue, _mm512_cmpeq_epi32_mask(hue, fullTurn), zero);

        const __m512i sl =
            _mm512_i32gather_epi32(_mm512_or_si512(_mm512_slli_epi32(mx, 8), mn), t.saturationLightness, 2);
        const __m512i s = _mm512_and_si512(sl, byte);
        const __m512i delta = _mm512_loadu_si512(deltas + column);
        const __m512i l = _mm512_min_epi32(
            _mm512_max_epi32(_mm512_add_epi32(_mm512_and_si512(_mm512_srli_epi32(sl, 8), byte), delta), zero), hundred);

        const __m512i c = _mm512_i32gather_epi32(
            _mm512_add_epi32(_mm512_mullo_epi32(hue, _mm512_set1_epi32(kLevels)), s), t.hueSaturation, 4);
        const Lightening lighten(l);
        const __m512i result = _mm512_or_si512(
            _mm512_or_si512(opaque, _mm512_slli_epi32(lighten(_mm512_and_si512(_mm512_srli_epi32(c, 16), byte)), 16)),
            _mm512_or_si512(_mm512_slli_epi32(lighten(_mm512_and_si512(_mm512_srli_epi32(c, 8), byte)), 8),
                            lighten(_mm512_and_si512(c, byte))));
        _mm512_storeu_si512(out + std::size_t(i) * 4, result);
        for (std::uint32_t tie = ties; tie != 0; tie &= tie - 1) {
            const int lane = std::countr_zero(tie);
            texturePlain(in + std::size_t(i + lane) * 4, out + std::size_t(i + lane) * 4, 1, deltas,
                         (column + lane) % kTextureTileSize, t);
        }
        column += 16;
        if (column >= kTextureTileSize)
            column -= kTextureTileSize;
    }
    texturePlain(in + std::size_t(i) * 4, out + std::size_t(i) * 4, count - i, deltas, column, t);
}
PLUMORA_AVX512_CODE_END
#endif

// One row of the picture with its tile row's deltas.
void textureRowPlain(const std::uint8_t* in, std::uint8_t* out, int width, const int* deltas, const HslTables& t)
{
    texturePlain(in, out, width, deltas, 0, t);
}

void textureRow(const std::uint8_t* in, std::uint8_t* out, int width, const int* deltas, const HslTables& t)
{
    simdPath(textureRowPlain, nullptr, PLUMORA_X86(textureAvx512))(in, out, width, deltas, t);
}

}  // namespace

TBitmap32 TextureBlend(const TBitmap32& tile, const TBitmap32& source, int pressure)
{
    if (tile.width() != kTextureTileSize || tile.height() != kTextureTileSize)
        throw PlumoraError("A texture tile must be " + std::to_string(kTextureTileSize) + " x " +
                           std::to_string(kTextureTileSize) + " pixels; this one is " + std::to_string(tile.width()) +
                           " x " + std::to_string(tile.height()) + ".");
    const auto deltas = std::make_unique<const TileDeltas>(tile, pressure);
    const HslTables& tables = hslTables();
    const int w = source.width();
    TBitmap32 result(w, source.height());
    parallelRows(source.height(), [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y)
            textureRow(source.ScanLine(y), result.ScanLine(y), w, deltas->values + (y % kTextureTileSize) * kDeltaRow,
                       tables);
    });
    return result;
}

}  // namespace plumora
