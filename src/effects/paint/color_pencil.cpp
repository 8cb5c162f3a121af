#include "effects/paint/color_pencil.h"

// This file is compiled once more for each vector level its Highway kernel
// is built for (see the end): the tables, the plain path and the hand-written
// path are read only the first time.
#ifndef PLUMORA_COLOR_PENCIL_SHARED_CODE
#define PLUMORA_COLOR_PENCIL_SHARED_CODE

#include "effects/sketch/pencil_sketch.h"
#include "raster/picsobel.h"
#include "raster/simd.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>

#if PLUMORA_HAS_X86_PATHS
#include <immintrin.h>
#endif

namespace plumora {

namespace {

// Tables of the integer HSL pair, the same for every call, made once and
// small enough to stay in the cache while a picture streams past.
struct HslTables {
    // IntRGBtoHSL's saturation: [largest * 256 + smallest channel].
    std::array<std::uint8_t, 256 * 256> saturation{};
    // IntHSLtoRGB's pure hue per hue 0..359: the value of the channel that
    // is neither 255 nor 0 (bits 0..7), and how far the 255 channel, the 0
    // channel and that one are shifted in a 0x00RRGGBB word (bits 8..15,
    // 16..23 and 24..31).
    std::array<std::uint32_t, 360> pureHue{};
    // IntHSLtoRGB's saturation step on one channel: [saturation * 256 + channel].
    std::array<std::uint8_t, 101 * 256> saturated{};
    // Its lightness step on one channel: [lightness * 256 + channel].
    std::array<std::uint8_t, 101 * 256> lightened{};
    // The pure hue's 255 and 0 channels after both steps, which depend on
    // saturation and lightness only: [saturation * 101 + lightness] ->
    // 255 channel | 0 channel << 8.
    std::array<std::uint16_t, 101 * 101> ends{};

    HslTables()
    {
        // IntRGBtoHSL's saturation uses nothing but the largest and smallest
        // channel, so (M, m, m) gives that of every colour with that largest
        // and smallest.
        for (int mx = 0; mx < 256; ++mx)
            for (int mn = 0; mn <= mx; ++mn)
                saturation[std::size_t(mx * 256 + mn)] = std::uint8_t(IntRGBtoHSL(mx, mn, mn).s);
        // Saturation 100 and lightness 50 leave the pure hue as it is.
        for (int h = 0; h < 360; ++h) {
            const IntRGB c = IntHSLtoRGB(h, 100, 50);
            // The hue's sixth: which channel is 255, which 0, which between.
            static constexpr int kShifts[6][3] = {{16, 0, 8}, {8, 0, 16}, {8, 16, 0},
                                                  {0, 16, 8}, {0, 8, 16}, {16, 8, 0}};
            const int sixth = h <= 60 ? 0 : h <= 120 ? 1 : h <= 180 ? 2 : h <= 240 ? 3 : h <= 300 ? 4 : 5;
            const int* shift = kShifts[sixth];
            const int between = shift[2] == 16 ? c.r : shift[2] == 8 ? c.g : c.b;
            pureHue[std::size_t(h)] = std::uint32_t(between) | std::uint32_t(shift[0]) << 8 |
                                      std::uint32_t(shift[1]) << 16 | std::uint32_t(shift[2]) << 24;
        }
        for (int s = 0; s <= 100; ++s) {
            const double k = std::abs(s - 100) / 100.0;
            for (int c = 0; c < 256; ++c)
                saturated[std::size_t(s * 256 + c)] = std::uint8_t(Round(c - (c - 128) * k));
        }
        for (int l = 0; l <= 100; ++l) {
            const double e = (l - 50) / 50.0;
            for (int c = 0; c < 256; ++c) {
                std::int64_t v = c;
                if (e > 0)
                    v = Round(c + e * (255 - c));
                else if (e < 0)
                    v = Round(c + e * c);
                lightened[std::size_t(l * 256 + c)] = std::uint8_t(v);
            }
        }
        for (int s = 0; s <= 100; ++s)
            for (int l = 0; l <= 100; ++l) {
                const std::uint8_t* light = &lightened[std::size_t(l * 256)];
                ends[std::size_t(s * 101 + l)] = std::uint16_t(light[saturated[std::size_t(s * 256 + 255)]] |
                                                               light[saturated[std::size_t(s * 256)]] << 8);
            }
    }
};

const HslTables& hslTables()
{
    static const HslTables tables;
    return tables;
}

// IntRGBtoHSL's lightness, 100 * (M + m) / 510 rounded, from the sum of the
// largest and smallest channel: the exact value is never a half, and every
// other fraction is far from one, so the formula's rounding cannot differ
// from the exact (20 * sum + 51) div 102, worked out here as a multiply and
// shift that is exact for every sum.
[[gnu::always_inline]] inline int lightnessOfSum(int sum)
{
    return ((20 * sum + 51) * 10281) >> 20;
}

// The channel values as IntRGBtoHSL divides them, X / 255 in double.
const std::array<double, 256>& unitChannels()
{
    static const std::array<double, 256> units = [] {
        std::array<double, 256> u{};
        for (int x = 0; x < 256; ++x)
            u[std::size_t(x)] = x / 255.0;
        return u;
    }();
    return units;
}

// The hue half of IntRGBtoHSL for a colour that is not grey.
int hueByFormula(int red, int green, int blue)
{
    return intHueOf(red, green, blue);
}

// The saturation half of IntRGBtoHSL, likewise.
int saturationByFormula(int largest, int smallest)
{
    const std::array<double, 256>& unit = unitChannels();
    const double mx = unit[std::size_t(largest)], mn = unit[std::size_t(smallest)];
    if (mx == mn)
        return 0;
    const double l = (mx + mn) / 2;
    const double s = l < 0.5 ? (mx - mn) / (mx + mn) : (mx - mn) / (2 - mx - mn);
    return int(Round(s * 100));
}

// IntRGBtoHSL's hue. Its exact value is a base (0, 120 or 240 degrees, by
// the largest channel, red tested first, then green; a red hue below 0 a
// full turn up, so that one just below a full turn rounds to 360) plus
// 60 * difference / spread. Rounded in integers, that gives what the
// floating-point formula gives except where the exact value is a half:
// any other fraction is at least 1/510 from a half, far beyond the
// formula's rounding error, while at a half that error decides, so there
// the formula itself is asked. Adding the even base does not move a half.
[[gnu::always_inline]] inline int hueOf(int r, int g, int b, int mx, int mn)
{
    const bool redLargest = r == mx;
    const bool greenLargest = !redLargest && g == mx;
    const int difference = redLargest ? g - b : (greenLargest ? b - r : r - g);
    const int base = redLargest ? (difference < 0 ? 360 : 0) : (greenLargest ? 120 : 240);
    const int spread = std::max(mx - mn, 1);  // a grey has difference 0: step 0
    const int q = 60 * std::abs(difference);
    const int whole = q / spread;
    const int twiceRest = 2 * (q - whole * spread);
    if (twiceRest == spread) [[unlikely]]
        return hueByFormula(r, g, b);
    const int step = whole + (twiceRest > spread ? 1 : 0);
    return base + (difference < 0 ? -step : step);
}

// IntHSLtoRGB for a hue 0..359 as 0x00RRGGBB: the pure hue's in-between
// channel through the saturation and lightness steps, its 255 and 0
// channels from their table.
[[gnu::always_inline]] inline std::uint32_t colourOf(const HslTables& t, int h, int s, int l)
{
    const std::uint32_t hue = t.pureHue[std::size_t(h)];
    const std::uint32_t ends = t.ends[std::size_t(s * 101 + l)];
    const std::uint32_t between = t.lightened[std::size_t(l * 256 + t.saturated[std::size_t(s * 256) + (hue & 0xFF)])];
    return (ends & 0xFF) << (hue >> 8 & 0xFF) | (ends >> 8) << (hue >> 16 & 0xFF) | between << (hue >> 24);
}

// What lightness a pixel gets from the grey of its edge and its own
// lightness, at one pressure: [grey * 101 + own lightness].
struct PressureTable {
    std::array<std::uint8_t, 256 * 101> lightness{};

    explicit PressureTable(int pressure)
    {
        for (int v = 0; v < 256; ++v) {
            // The paper amount is ContrastAdjust's lightness line applied
            // to the edge grey's lightness.
            const int w = contrastLightness(IntRGBtoHSL(v, v, v).l, pressure);
            for (int lo = 0; lo <= 100; ++lo)
                lightness[std::size_t(v * 101 + lo)] = std::uint8_t(Round(w / 100.0 * (100 - lo)) + lo);
        }
    }
};

std::uint32_t pencilPixel(const HslTables& t, const PressureTable& p, std::uint32_t px, int grey)
{
    const int b = int(px & 0xFF), g = int(px >> 8 & 0xFF), r = int(px >> 16 & 0xFF);
    const int mx = std::max(std::max(r, g), b);
    const int mn = std::min(std::min(r, g), b);
    const int s = t.saturation[std::size_t(mx * 256 + mn)];
    const int l = p.lightness[std::size_t(grey * 101 + lightnessOfSum(mx + mn))];
    int h = hueOf(r, g, b, mx, mn);
    h = h == 360 ? 0 : h;
    return 0xFF000000u | colourOf(t, h, s, l);
}

// One piece of a row: photo pixels and the grey values of their edges in,
// finished pixels out.
void pencilPiecePlain(const HslTables& t, const PressureTable& p, const std::uint32_t* photo, const std::uint8_t* grey,
                      std::uint32_t* out, int count)
{
    for (int i = 0; i < count; ++i)
        out[i] = pencilPixel(t, p, photo[i], grey[i]);
}

#if PLUMORA_HAS_X86_PATHS
// What the vector path needs besides: small tables it keeps in registers
// and looks up with byte permutes, since gathers from the tables above
// would cost more than working the steps out. IntHSLtoRGB's saturation
// and lightness steps, and the colour pencil's new lightness, are then done
// as exact fractions rounded half to even, which is what their formulas
// give everywhere except on a few halves that the floating-point error
// pushes the other way (none for the saturation step); those few are listed
// here, and a pixel that meets one is worked out again by the plain code.
// Making the tables checks every input of each step against its table.
struct VectorTables {
    // IntHSLtoRGB's in-between channel: [k] for k degrees into a rising
    // sixth of the hue circle, [64 + k] into a falling one.
    alignas(64) std::array<std::uint8_t, 128> between{};
    // The saturation step on 255 and on 0, by saturation.
    alignas(64) std::array<std::uint8_t, 128> saturatedTop{};
    alignas(64) std::array<std::uint8_t, 128> saturatedBottom{};
    // By lightness: the one channel value whose half the lightness formula
    // rounds the other way, or a value that never makes a half there.
    alignas(64) std::array<std::uint8_t, 128> lightenedOddHalf{};
    // By sixth of the hue circle: how far the 255, 0 and in-between
    // channels are shifted.
    alignas(64) std::array<std::int32_t, 16> topShift{}, bottomShift{}, betweenShift{};
    // between and lightenedOddHalf again in 32-bit words, for the Highway
    // path's gathers.
    alignas(64) std::array<std::int32_t, 128> betweenWords{}, lightenedOddHalfWords{};

    explicit VectorTables(const HslTables& t)
    {
        for (int k = 0; k <= 60; ++k) {
            between[std::size_t(k)] = std::uint8_t(IntHSLtoRGB(k, 100, 50).g);
            between[std::size_t(64 + k)] = std::uint8_t(IntHSLtoRGB(60 + k, 100, 50).r);
        }
        for (int s = 0; s <= 100; ++s) {
            saturatedTop[std::size_t(s)] = t.saturated[std::size_t(s * 256 + 255)];
            saturatedBottom[std::size_t(s)] = t.saturated[std::size_t(s * 256)];
        }
        for (int s = 0; s <= 100; ++s)
            for (int c = 0; c < 256; ++c)
                if (roundHalfEven(s * c + 128 * (100 - s), 100) != t.saturated[std::size_t(s * 256 + c)])
                    throw std::logic_error("the saturation step has a half the vector path would round otherwise");
        for (int l = 0; l <= 100; ++l) {
            int odd = -1;
            int calm = -1;
            for (int c = 0; c < 256; ++c) {
                const int n = lightNumerator(l, c);
                if (n % 50 != 25)
                    calm = calm < 0 ? c : calm;
                else if (roundHalfEven(n, 50) != t.lightened[std::size_t(l * 256 + c)]) {
                    if (odd >= 0)
                        throw std::logic_error("the lightness step has two odd halves at one lightness");
                    odd = c;
                }
            }
            lightenedOddHalf[std::size_t(l)] = std::uint8_t(odd >= 0 ? odd : calm);
        }
        for (int sixth = 0; sixth < 6; ++sixth) {
            const std::uint32_t hue = t.pureHue[std::size_t(sixth * 60 + 1)];
            topShift[std::size_t(sixth)] = std::int32_t(hue >> 8 & 0xFF);
            bottomShift[std::size_t(sixth)] = std::int32_t(hue >> 16 & 0xFF);
            betweenShift[std::size_t(sixth)] = std::int32_t(hue >> 24);
        }
        for (std::size_t i = 0; i < between.size(); ++i) {
            betweenWords[i] = between[i];
            lightenedOddHalfWords[i] = lightenedOddHalf[i];
        }
    }

    // The lightness step as a fraction over 50: c + (l - 50) (255 - c) / 50
    // above lightness 50, l c / 50 below.
    static int lightNumerator(int l, int c) { return l >= 50 ? 50 * c + (l - 50) * (255 - c) : l * c; }
    static int roundHalfEven(int n, int d)
    {
        const int q = n / d;
        const int twice = 2 * (n - q * d);
        return q + (twice > d || (twice == d && q % 2 == 1) ? 1 : 0);
    }
};

const VectorTables& vectorTables()
{
    static const VectorTables tables(hslTables());
    return tables;
}

// The new lightness as Lo + w (100 - Lo) / 100 rounded half to even, with
// the paper amount w by grey, and per paper amount the own lightness whose
// half the formula rounds the other way (100, which never makes a half,
// where there is none), with 0x80 added where there is more than one: then
// every half of that paper amount goes to the plain code.
struct VectorPressureTable {
    alignas(64) std::array<std::uint8_t, 256> paper{};
    alignas(64) std::array<std::uint8_t, 128> oddHalf{};
    // By grey, for the Highway path's one gather: the paper amount, and its
    // oddHalf in bits 8..15.
    alignas(64) std::array<std::int32_t, 256> paperAndOddHalf{};

    explicit VectorPressureTable(int pressure)
    {
        for (int v = 0; v < 256; ++v)
            paper[std::size_t(v)] = std::uint8_t(contrastLightness(IntRGBtoHSL(v, v, v).l, pressure));
        oddHalf.fill(100);
        for (int w = 0; w <= 100; ++w)
            for (int lo = 0; lo <= 100; ++lo)
                if (VectorTables::roundHalfEven(w * (100 - lo), 100) != Round(w / 100.0 * (100 - lo)))
                    oddHalf[std::size_t(w)] = std::uint8_t(oddHalf[std::size_t(w)] == 100 ? lo : 0x80);
        for (int v = 0; v < 256; ++v)
            paperAndOddHalf[std::size_t(v)] = paper[std::size_t(v)] | oddHalf[paper[std::size_t(v)]] << 8;
    }
};

PLUMORA_AVX512_CODE_BEGIN

// The vector path works on 32 pixels at a time, one 16-bit lane each:
// every quantity of the step fits in 16 bits.

// table[index] for a 128-byte table and indices 0..127 in 16-bit lanes.
struct Table128 {
    __m512i low, high;
    PLUMORA_TARGET_AVX512 explicit Table128(const std::uint8_t* t)
        : low(_mm512_load_si512(t)), high(_mm512_load_si512(t + 64))
    {}
    PLUMORA_TARGET_AVX512 __m512i operator()(__m512i index) const
    {
        return _mm512_and_si512(_mm512_permutex2var_epi8(low, index, high), _mm512_set1_epi16(0xFF));
    }
};

// The even 16-bit lanes of two vectors, first of a, then of b.
PLUMORA_TARGET_AVX512 inline __m512i evenWords(__m512i a, __m512i b)
{
    const __m512i index = _mm512_set_epi16(62, 60, 58, 56, 54, 52, 50, 48, 46, 44, 42, 40, 38, 36, 34, 32, 30, 28, 26,
                                           24, 22, 20, 18, 16, 14, 12, 10, 8, 6, 4, 2, 0);
    return _mm512_permutex2var_epi16(a, index, b);
}

PLUMORA_TARGET_AVX512 inline __m512i oddWords(__m512i a, __m512i b)
{
    const __m512i index = _mm512_set_epi16(63, 61, 59, 57, 55, 53, 51, 49, 47, 45, 43, 41, 39, 37, 35, 33, 31, 29, 27,
                                           25, 23, 21, 19, 17, 15, 13, 11, 9, 7, 5, 3, 1);
    return _mm512_permutex2var_epi16(a, index, b);
}

// n div d for n up to 2^15 and d from 1 to 255, by a single-precision
// division of each half: within a few millionths of the exact quotient,
// while a quotient below a whole number is at least 1/255 below it, so its
// truncation is the exact one.
PLUMORA_TARGET_AVX512 inline __m512i wholeQuotientOfHalf(__m256i n, __m256i d)
{
    return _mm512_cvttps_epi32(
        _mm512_div_ps(_mm512_cvtepi32_ps(_mm512_cvtepu16_epi32(n)), _mm512_cvtepi32_ps(_mm512_cvtepu16_epi32(d))));
}

PLUMORA_TARGET_AVX512 inline __m512i wholeQuotient(__m512i n, __m512i d)
{
    return evenWords(wholeQuotientOfHalf(_mm512_castsi512_si256(n), _mm512_castsi512_si256(d)),
                     wholeQuotientOfHalf(_mm512_extracti64x4_epi64(n, 1), _mm512_extracti64x4_epi64(d, 1)));
}

PLUMORA_TARGET_AVX512 inline __m512i constant(int v)
{
    return _mm512_set1_epi16(std::int16_t(v));
}

// A multiplier the compiler cannot see, which keeps each multiply by it one
// instruction instead of shifts and adds.
PLUMORA_TARGET_AVX512 inline __m512i hiddenConstant(int v)
{
    __m512i m = _mm512_set1_epi16(std::int16_t(v));
    asm("" : "+v"(m));
    return m;
}

// Per lane, a when the lane's bit of `sixths` is in `set`, else b: bit n of
// a set stands for sixth n of the hue circle.
PLUMORA_TARGET_AVX512 inline __m512i pickBySixth(__m512i sixths, int set, __m512i a, __m512i b)
{
    return _mm512_mask_mov_epi16(b, _mm512_test_epi16_mask(sixths, constant(set)), a);
}

// n / divisor rounded half to even, for n up to where (n * multiplier) >>
// (16 + shift) is n div divisor, and which lanes were a half.
struct RoundedQuotient {
    __m512i value;
    __mmask32 half;
};

PLUMORA_TARGET_AVX512 inline RoundedQuotient roundedQuotient(__m512i n, __m512i divisor, int multiplier, int shift)
{
    const __m512i q =
        _mm512_srli_epi16(_mm512_mulhi_epu16(n, _mm512_set1_epi16(std::int16_t(multiplier))), unsigned(shift));
    const __m512i twice = _mm512_slli_epi16(_mm512_sub_epi16(n, _mm512_mullo_epi16(q, divisor)), 1);
    const __mmask32 half = _mm512_cmpeq_epi16_mask(twice, divisor);
    const __mmask32 up =
        _mm512_cmpgt_epi16_mask(twice, divisor) | (half & _mm512_test_epi16_mask(q, _mm512_set1_epi16(1)));
    return {_mm512_mask_add_epi16(q, up, q, _mm512_set1_epi16(1)), half};
}

// The quotient (with its remainder check) of a whole quotient.
PLUMORA_TARGET_AVX512 inline RoundedQuotient roundedQuotient(__m512i n, __m512i d)
{
    const __m512i q = wholeQuotient(n, d);
    const __m512i twice = _mm512_slli_epi16(_mm512_sub_epi16(n, _mm512_mullo_epi16(q, d)), 1);
    // A half is left to the caller, whichever way it would round.
    return {_mm512_mask_add_epi16(q, _mm512_cmpgt_epi16_mask(twice, d), q, _mm512_set1_epi16(1)),
            _mm512_cmpeq_epi16_mask(twice, d)};
}

// The given lanes of 32 values replaced by what value(pixel) gives for the
// pixel of that lane.
template <class Value>
PLUMORA_TARGET_AVX512 __m512i withLanesFrom(__m512i values, __mmask32 lanes, const std::uint32_t* pixels, Value&& value)
{
    alignas(64) std::uint16_t words[32];
    _mm512_store_si512(words, values);
    for (std::uint32_t rest = lanes; rest != 0; rest &= rest - 1) {
        const int lane = std::countr_zero(rest);
        words[lane] = std::uint16_t(value(pixels[lane]));
    }
    return _mm512_load_si512(words);
}

// Where the hue or the saturation is a half, the formula decides.
[[gnu::noinline]] PLUMORA_TARGET_AVX512 __m512i withHuesOfHalves(__m512i h, __mmask32 lanes,
                                                                 const std::uint32_t* pixels)
{
    return withLanesFrom(h, lanes, pixels, [](std::uint32_t px) {
        return hueByFormula(int(px >> 16 & 0xFF), int(px >> 8 & 0xFF), int(px & 0xFF));
    });
}

[[gnu::noinline]] PLUMORA_TARGET_AVX512 __m512i withSaturationsOfHalves(__m512i s, __mmask32 lanes,
                                                                        const std::uint32_t* pixels)
{
    return withLanesFrom(s, lanes, pixels, [](std::uint32_t px) {
        const int b = int(px & 0xFF), g = int(px >> 8 & 0xFF), r = int(px >> 16 & 0xFF);
        return saturationByFormula(std::max(std::max(r, g), b), std::min(std::min(r, g), b));
    });
}

// The pixels of one piece, all in registers: IntRGBtoHSL as in
// lightnessOfSum and hueOf, the saturation likewise as an exact fraction,
// the halves of both from their formulas, and the rest as VectorTables
// says.
PLUMORA_TARGET_AVX512 void pencilPieceAvx512(const HslTables& t, const PressureTable& p, const VectorTables& vt,
                                             const VectorPressureTable& vp, const std::uint32_t* photo,
                                             const std::uint8_t* grey, std::uint32_t* out, int count)
{
    const __m512i lowByte = _mm512_set1_epi16(0xFF);
    const __m512i one = _mm512_set1_epi16(1);
    const __m512i zero = _mm512_setzero_si512();
    const Table128 between(vt.between.data()), saturatedTop(vt.saturatedTop.data()),
        saturatedBottom(vt.saturatedBottom.data()), lightenedOddHalf(vt.lightenedOddHalf.data());
    const Table128 oddHalf(vp.oddHalf.data());
    const __m512i times20 = hiddenConstant(20), times60 = hiddenConstant(60), times100 = hiddenConstant(100),
                  times255 = hiddenConstant(255), times50 = hiddenConstant(50);

    // The paper amounts of the piece first, 64 greys a step, so that their
    // table does not hold registers in the main loop.
    constexpr int kMost = 1024;
    alignas(64) std::uint8_t paper[kMost + 64];
    if (count > kMost) {
        pencilPieceAvx512(t, p, vt, vp, photo, grey, out, kMost);
        return pencilPieceAvx512(t, p, vt, vp, photo + kMost, grey + kMost, out + kMost, count - kMost);
    }
    {
        const __m512i low0 = _mm512_load_si512(vp.paper.data()), low1 = _mm512_load_si512(vp.paper.data() + 64);
        const __m512i high0 = _mm512_load_si512(vp.paper.data() + 128),
                      high1 = _mm512_load_si512(vp.paper.data() + 192);
        for (int j = 0; j < count; j += 64) {
            const __m512i v =
                _mm512_maskz_loadu_epi8(count - j >= 64 ? ~__mmask64(0) : (__mmask64(1) << (count - j)) - 1, grey + j);
            _mm512_store_si512(paper + j,
                               _mm512_mask_blend_epi8(_mm512_movepi8_mask(v), _mm512_permutex2var_epi8(low0, v, low1),
                                                      _mm512_permutex2var_epi8(high0, v, high1)));
        }
    }
    int i = 0;
    for (; i + 32 <= count; i += 32) {
        const __m512i first = _mm512_loadu_si512(photo + i);
        const __m512i second = _mm512_loadu_si512(photo + i + 16);
        const __m512i blueGreen = evenWords(first, second);
        const __m512i b = _mm512_and_si512(blueGreen, lowByte);
        const __m512i g = _mm512_srli_epi16(blueGreen, 8);
        const __m512i r = _mm512_and_si512(oddWords(first, second), lowByte);
        const __m512i mx = _mm512_max_epi16(_mm512_max_epi16(r, g), b);
        const __m512i mn = _mm512_min_epi16(_mm512_min_epi16(r, g), b);
        const __m512i spread = _mm512_sub_epi16(mx, mn);
        const __m512i sum = _mm512_add_epi16(mx, mn);

        // Lightness and saturation.
        const __m512i ownLightness = _mm512_srli_epi16(
            _mm512_mulhi_epu16(_mm512_add_epi16(_mm512_mullo_epi16(sum, times20), constant(51)), constant(10281)), 4);
        const __m512i divisor = _mm512_max_epi16(_mm512_min_epi16(sum, _mm512_sub_epi16(constant(510), sum)), one);
        const RoundedQuotient s = roundedQuotient(_mm512_mullo_epi16(spread, times100), divisor);
        const __m512i saturation = s.half ? withSaturationsOfHalves(s.value, s.half, photo + i) : s.value;

        // Hue.
        const __mmask32 redLargest = _mm512_cmpeq_epi16_mask(r, mx);
        const __mmask32 greenLargest = _mm512_mask_cmpeq_epi16_mask(~redLargest, g, mx);
        __m512i difference = _mm512_sub_epi16(r, g);
        difference = _mm512_mask_sub_epi16(difference, greenLargest, b, r);
        difference = _mm512_mask_sub_epi16(difference, redLargest, g, b);
        const __mmask32 negative = _mm512_cmplt_epi16_mask(difference, zero);
        __m512i base = constant(240);
        base = _mm512_mask_mov_epi16(base, greenLargest, constant(120));
        base = _mm512_mask_mov_epi16(base, redLargest, _mm512_maskz_mov_epi16(negative, constant(360)));
        const RoundedQuotient step =
            roundedQuotient(_mm512_mullo_epi16(_mm512_abs_epi16(difference), times60), _mm512_max_epi16(spread, one));
        __m512i h = _mm512_add_epi16(base, _mm512_mask_sub_epi16(step.value, negative, zero, step.value));
        if (step.half)
            h = withHuesOfHalves(h, step.half, photo + i);
        h = _mm512_mask_mov_epi16(h, _mm512_cmpeq_epi16_mask(h, constant(360)), zero);

        // The new lightness, from the paper amount of the edge grey.
        const __m512i w = _mm512_cvtepu8_epi16(_mm256_load_si256(reinterpret_cast<const __m256i*>(paper + i)));
        __mmask32 again = 0;
        const RoundedQuotient added =
            roundedQuotient(_mm512_mullo_epi16(w, _mm512_sub_epi16(constant(100), ownLightness)), times100, 5243, 3);
        const __m512i odd = oddHalf(w);
        again |=
            added.half & (_mm512_cmpeq_epi16_mask(ownLightness, odd) | _mm512_test_epi16_mask(odd, constant(0x80)));
        const __m512i l = _mm512_add_epi16(ownLightness, added.value);

        // IntHSLtoRGB: the in-between channel of the pure hue by its sixth,
        // then the saturation step on it, (s c + 128 (100 - s)) / 100.
        const __m512i sixth = _mm512_mulhi_epu16(_mm512_max_epi16(_mm512_sub_epi16(h, one), zero), constant(1094));
        const __m512i k = _mm512_sub_epi16(h, _mm512_mullo_epi16(sixth, times60));
        const __m512i pure = between(_mm512_or_si512(k, _mm512_slli_epi16(_mm512_and_si512(sixth, one), 6)));
        const __m512i s100 = _mm512_sub_epi16(constant(100), saturation);
        const __m512i mid =
            roundedQuotient(_mm512_add_epi16(_mm512_mullo_epi16(pure, saturation), _mm512_slli_epi16(s100, 7)),
                            times100, 5243, 3)
                .value;
        // The lightness step: (add + c * times) / 50, see lightNumerator.
        const __mmask32 lighter = _mm512_cmpge_epi16_mask(l, constant(50));
        const __m512i add = _mm512_maskz_mullo_epi16(lighter, _mm512_sub_epi16(l, constant(50)), times255);
        const __m512i times = _mm512_mask_sub_epi16(l, lighter, constant(100), l);
        const __m512i oddLight = lightenedOddHalf(l);
        __m512i lit[3];
        const __m512i channels[3] = {saturatedTop(saturation), saturatedBottom(saturation), mid};
        for (int c = 0; c < 3; ++c) {
            const RoundedQuotient q =
                roundedQuotient(_mm512_add_epi16(add, _mm512_mullo_epi16(channels[c], times)), times50, 5243, 2);
            again |= q.half & _mm512_cmpeq_epi16_mask(channels[c], oddLight);
            lit[c] = q.value;
        }
        // Where the 255, 0 and in-between channels go, by sixth: bit n of a
        // set stands for sixth n.
        const __m512i sixthBit = _mm512_sllv_epi16(one, sixth);
        const __m512i red = pickBySixth(sixthBit, 0b100001, lit[0], pickBySixth(sixthBit, 0b010010, lit[2], lit[1]));
        const __m512i green = pickBySixth(sixthBit, 0b000110, lit[0], pickBySixth(sixthBit, 0b001001, lit[2], lit[1]));
        const __m512i blue = pickBySixth(sixthBit, 0b011000, lit[0], pickBySixth(sixthBit, 0b100100, lit[2], lit[1]));
        const __m512i low = _mm512_or_si512(blue, _mm512_slli_epi16(green, 8));
        const __m512i high = _mm512_or_si512(red, constant(0xFF00));
        const __m512i firstPixels = _mm512_set_epi16(47, 15, 46, 14, 45, 13, 44, 12, 43, 11, 42, 10, 41, 9, 40, 8, 39,
                                                     7, 38, 6, 37, 5, 36, 4, 35, 3, 34, 2, 33, 1, 32, 0);
        const __m512i secondPixels = _mm512_add_epi16(firstPixels, constant(16));
        _mm512_storeu_si512(out + i, _mm512_permutex2var_epi16(low, firstPixels, high));
        _mm512_storeu_si512(out + i + 16, _mm512_permutex2var_epi16(low, secondPixels, high));
        for (std::uint32_t lanes = again; lanes != 0; lanes &= lanes - 1) {
            const int lane = std::countr_zero(lanes);
            out[i + lane] = pencilPixel(t, p, photo[i + lane], grey[i + lane]);
        }
    }
    pencilPiecePlain(t, p, photo + i, grey + i, out + i, count - i);
}
PLUMORA_AVX512_CODE_END
#endif

// The tables one call uses.
struct PencilTables {
    const HslTables& hsl = hslTables();
    PressureTable pressure;
#if PLUMORA_HAS_X86_PATHS
    const VectorTables& vector = vectorTables();
    VectorPressureTable vectorPressure;
    explicit PencilTables(int p) : pressure(p), vectorPressure(p)
    {}
#else
    explicit PencilTables(int p) : pressure(p)
    {}
#endif
};

void pencilPiecePlainOf(const PencilTables& t, const std::uint32_t* photo, const std::uint8_t* grey, std::uint32_t* out,
                        int count)
{
    pencilPiecePlain(t.hsl, t.pressure, photo, grey, out, count);
}

#if PLUMORA_HAS_X86_PATHS
void pencilPieceAvx512Of(const PencilTables& t, const std::uint32_t* photo, const std::uint8_t* grey,
                         std::uint32_t* out, int count)
{
    pencilPieceAvx512(t.hsl, t.pressure, t.vector, t.vectorPressure, photo, grey, out, count);
}
#endif

}  // namespace

}  // namespace plumora

#endif  // PLUMORA_COLOR_PENCIL_SHARED_CODE

// The Highway path for AVX2 machines, which the hand-written path above
// leaves to the plain code: the same steps, written once, in 32-bit lanes
// (one pixel each, so no word shuffles) with gathers for the small tables,
// since AVX2 has no byte permute over 128 entries. Only Highway's AVX2
// target is built. Its AVX-512 target ran this at 2.6 times the time of
// the hand-written path, which keeps AVX-512; the pass for the compiler's
// own baseline builds no kernel, the plain path serving it. simdPath
// chooses among them, never Highway's own dispatch, so that the tests'
// SimdLevelCap reaches this path too.
#if PLUMORA_HAS_X86_PATHS
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "effects/paint/color_pencil.cpp"
#ifndef HWY_DISABLED_TARGETS
#define HWY_DISABLED_TARGETS (HWY_SSSE3 | HWY_SSE4 | HWY_AVX3 | HWY_AVX3_DL)
#endif
#include <hwy/foreach_target.h>
#endif
#include <hwy/highway.h>

#if PLUMORA_HAS_X86_PATHS && HWY_TARGET == HWY_AVX2
HWY_BEFORE_NAMESPACE();
namespace plumora {
namespace HWY_NAMESPACE {
namespace {

namespace hn = hwy::HWY_NAMESPACE;
using Lanes32 = hn::ScalableTag<std::int32_t>;
using Vec32 = hn::Vec<Lanes32>;
using Mask32 = hn::Mask<Lanes32>;

struct RoundedWords {
    Vec32 value;
    Mask32 half;
};

// n / divisor rounded half to even, for n up to where (n * multiplier) >>
// (16 + shift) is n div divisor, and which lanes were a half.
template <int kShift>
HWY_INLINE RoundedWords roundedQuotient(Vec32 n, Vec32 divisor, int multiplier)
{
    const Lanes32 d;
    const Vec32 one = hn::Set(d, 1);
    const Vec32 q = hn::ShiftRight<16 + kShift>(hn::Mul(n, hn::Set(d, multiplier)));
    const Vec32 twice = hn::ShiftLeft<1>(hn::Sub(n, hn::Mul(q, divisor)));
    const Mask32 half = hn::Eq(twice, divisor);
    const Mask32 up = hn::Or(hn::Gt(twice, divisor), hn::And(half, hn::Eq(hn::And(q, one), one)));
    return {hn::Add(q, hn::IfThenElseZero(up, one)), half};
}

// n div d rounded likewise, for n up to 2^15 and d from 1 to 255, through
// a single-precision division (see wholeQuotientOfHalf); a half is left to
// the caller, whichever way it would round.
HWY_INLINE RoundedWords roundedQuotient(Vec32 n, Vec32 divisor)
{
    const Lanes32 d;
    const hn::Rebind<float, Lanes32> df;
    const Vec32 q = hn::ConvertTo(d, hn::Div(hn::ConvertTo(df, n), hn::ConvertTo(df, divisor)));
    const Vec32 twice = hn::ShiftLeft<1>(hn::Sub(n, hn::Mul(q, divisor)));
    return {hn::Add(q, hn::IfThenElseZero(hn::Gt(twice, divisor), hn::Set(d, 1))), hn::Eq(twice, divisor)};
}

// The given lanes of `values` replaced by what value(pixel) gives for the
// pixel of that lane.
template <class Value>
HWY_NOINLINE Vec32 withLanesFrom(Vec32 values, Mask32 lanes, const std::uint32_t* pixels, Value&& value)
{
    const Lanes32 d;
    alignas(64) std::int32_t words[hn::MaxLanes(d)];
    alignas(64) std::int32_t chosen[hn::MaxLanes(d)];
    hn::Store(values, d, words);
    hn::Store(hn::VecFromMask(d, lanes), d, chosen);
    for (std::size_t lane = 0; lane < hn::Lanes(d); ++lane)
        if (chosen[lane] != 0)
            words[lane] = value(pixels[lane]);
    return hn::Load(d, words);
}

// Per lane, a when the lane's bit of `sixths` is in `set`, else b: bit n of
// a set stands for sixth n of the hue circle.
HWY_INLINE Vec32 pickBySixth(Vec32 sixths, int set, Vec32 a, Vec32 b)
{
    const Lanes32 d;
    return hn::IfThenElse(hn::Ne(hn::And(sixths, hn::Set(d, set)), hn::Zero(d)), a, b);
}

// The pixels of one piece as pencilPieceAvx512 works them out, a vector of
// pixels at a time; the rest of the piece by the plain code.
void pencilPieceHighway(const PencilTables& t, const std::uint32_t* photo, const std::uint8_t* grey, std::uint32_t* out,
                        int count)
{
    const Lanes32 d;
    const hn::RebindToUnsigned<Lanes32> du;
    const hn::Rebind<std::uint8_t, Lanes32> d8;
    const VectorTables& vt = t.vector;
    const VectorPressureTable& vp = t.vectorPressure;
    const Vec32 lowByte = hn::Set(d, 0xFF), one = hn::Set(d, 1), zero = hn::Zero(d);
    const Vec32 c100 = hn::Set(d, 100), c50 = hn::Set(d, 50), c60 = hn::Set(d, 60);
    const int n = int(hn::Lanes(d));
    int i = 0;
    for (; i + n <= count; i += n) {
        const Vec32 px = hn::BitCast(d, hn::LoadU(du, photo + i));
        const Vec32 b = hn::And(px, lowByte);
        const Vec32 g = hn::And(hn::ShiftRight<8>(px), lowByte);
        const Vec32 r = hn::And(hn::ShiftRight<16>(px), lowByte);
        const Vec32 mx = hn::Max(hn::Max(r, g), b);
        const Vec32 mn = hn::Min(hn::Min(r, g), b);
        const Vec32 spread = hn::Sub(mx, mn);
        const Vec32 sum = hn::Add(mx, mn);

        // Lightness and saturation, as lightnessOfSum and an exact fraction.
        const Vec32 ownLightness =
            hn::ShiftRight<20>(hn::Mul(hn::Add(hn::Mul(sum, hn::Set(d, 20)), hn::Set(d, 51)), hn::Set(d, 10281)));
        const Vec32 divisor = hn::Max(hn::Min(sum, hn::Sub(hn::Set(d, 510), sum)), one);
        const RoundedWords s = roundedQuotient(hn::Mul(spread, c100), divisor);
        Vec32 saturation = s.value;
        if (!hn::AllFalse(d, s.half)) [[unlikely]]
            saturation = withLanesFrom(saturation, s.half, photo + i, [](std::uint32_t p) {
                const int pb = int(p & 0xFF), pg = int(p >> 8 & 0xFF), pr = int(p >> 16 & 0xFF);
                return saturationByFormula(std::max(std::max(pr, pg), pb), std::min(std::min(pr, pg), pb));
            });

        // Hue, as hueOf.
        const Mask32 redLargest = hn::Eq(r, mx);
        const Mask32 greenLargest = hn::AndNot(redLargest, hn::Eq(g, mx));
        const Vec32 difference =
            hn::IfThenElse(redLargest, hn::Sub(g, b), hn::IfThenElse(greenLargest, hn::Sub(b, r), hn::Sub(r, g)));
        const Mask32 negative = hn::Lt(difference, zero);
        const Vec32 base = hn::IfThenElse(redLargest, hn::IfThenElseZero(negative, hn::Set(d, 360)),
                                          hn::IfThenElse(greenLargest, hn::Set(d, 120), hn::Set(d, 240)));
        const RoundedWords step = roundedQuotient(hn::Mul(hn::Abs(difference), c60), hn::Max(spread, one));
        Vec32 h = hn::Add(base, hn::IfThenElse(negative, hn::Neg(step.value), step.value));
        if (!hn::AllFalse(d, step.half)) [[unlikely]]
            h = withLanesFrom(h, step.half, photo + i, [](std::uint32_t p) {
                return hueByFormula(int(p >> 16 & 0xFF), int(p >> 8 & 0xFF), int(p & 0xFF));
            });
        h = hn::IfThenZeroElse(hn::Eq(h, hn::Set(d, 360)), h);

        // The new lightness, from the paper amount of the edge grey.
        const Vec32 paper = hn::GatherIndex(d, vp.paperAndOddHalf.data(), hn::PromoteTo(d, hn::LoadU(d8, grey + i)));
        const Vec32 w = hn::And(paper, lowByte);
        const Vec32 odd = hn::ShiftRight<8>(paper);
        const RoundedWords added = roundedQuotient<3>(hn::Mul(w, hn::Sub(c100, ownLightness)), c100, 5243);
        Mask32 again = hn::And(added.half, hn::Or(hn::Eq(ownLightness, odd), hn::Eq(odd, hn::Set(d, 0x80))));
        const Vec32 l = hn::Add(ownLightness, added.value);

        // IntHSLtoRGB: the in-between channel of the pure hue by its sixth,
        // then the saturation step on it and on 255 and 0, (s c + 128
        // (100 - s)) / 100, which VectorTables checks has no odd half.
        const Vec32 sixth = hn::ShiftRight<16>(hn::Mul(hn::Max(hn::Sub(h, one), zero), hn::Set(d, 1094)));
        const Vec32 k = hn::Sub(h, hn::Mul(sixth, c60));
        const Vec32 pure = hn::GatherIndex(d, vt.betweenWords.data(), hn::Or(k, hn::ShiftLeft<6>(hn::And(sixth, one))));
        const Vec32 grey128 = hn::ShiftLeft<7>(hn::Sub(c100, saturation));
        const Vec32 channels[3] = {
            roundedQuotient<3>(hn::Add(hn::Mul(hn::Set(d, 255), saturation), grey128), c100, 5243).value,
            roundedQuotient<3>(grey128, c100, 5243).value,
            roundedQuotient<3>(hn::Add(hn::Mul(pure, saturation), grey128), c100, 5243).value};
        // The lightness step: (add + c * times) / 50, see lightNumerator.
        const Mask32 lighter = hn::Not(hn::Lt(l, c50));
        const Vec32 add = hn::IfThenElseZero(lighter, hn::Mul(hn::Sub(l, c50), hn::Set(d, 255)));
        const Vec32 times = hn::IfThenElse(lighter, hn::Sub(c100, l), l);
        const Vec32 oddLight = hn::GatherIndex(d, vt.lightenedOddHalfWords.data(), l);
        Vec32 lit[3];
        for (int c = 0; c < 3; ++c) {
            const RoundedWords q = roundedQuotient<2>(hn::Add(add, hn::Mul(channels[c], times)), c50, 5243);
            again = hn::Or(again, hn::And(q.half, hn::Eq(channels[c], oddLight)));
            lit[c] = q.value;
        }
        // Where the 255, 0 and in-between channels go, by sixth.
        const Vec32 sixthBit = hn::Shl(one, sixth);
        const Vec32 red = pickBySixth(sixthBit, 0b100001, lit[0], pickBySixth(sixthBit, 0b010010, lit[2], lit[1]));
        const Vec32 green = pickBySixth(sixthBit, 0b000110, lit[0], pickBySixth(sixthBit, 0b001001, lit[2], lit[1]));
        const Vec32 blue = pickBySixth(sixthBit, 0b011000, lit[0], pickBySixth(sixthBit, 0b100100, lit[2], lit[1]));
        const Vec32 pixels = hn::Or(hn::Or(hn::Set(d, std::int32_t(0xFF000000u)), hn::ShiftLeft<16>(red)),
                                    hn::Or(hn::ShiftLeft<8>(green), blue));
        hn::StoreU(hn::BitCast(du, pixels), du, out + i);
        if (!hn::AllFalse(d, again)) [[unlikely]] {
            alignas(64) std::int32_t chosen[hn::MaxLanes(d)];
            hn::Store(hn::VecFromMask(d, again), d, chosen);
            for (int lane = 0; lane < n; ++lane)
                if (chosen[lane] != 0)
                    out[i + lane] = pencilPixel(t.hsl, t.pressure, photo[i + lane], grey[i + lane]);
        }
    }
    pencilPiecePlain(t.hsl, t.pressure, photo + i, grey + i, out + i, count - i);
}

}  // namespace
}  // namespace HWY_NAMESPACE
}  // namespace plumora
HWY_AFTER_NAMESPACE();
#endif

#if HWY_ONCE
// No AVX2 kernel where Highway builds for a wider baseline than the plain
// x86-64 one (-march=native on an AVX-512 machine): AVX2 then runs plain.
#if PLUMORA_HAS_X86_PATHS && (HWY_TARGETS & HWY_AVX2)
#define PLUMORA_PENCIL_HIGHWAY_AVX2 plumora::N_AVX2::pencilPieceHighway
#else
#define PLUMORA_PENCIL_HIGHWAY_AVX2 nullptr
#endif

namespace plumora {

namespace {

void pencilPiece(const PencilTables& t, const std::uint32_t* photo, const std::uint8_t* grey, std::uint32_t* out,
                 int count)
{
    simdPath(pencilPiecePlainOf, PLUMORA_PENCIL_HIGHWAY_AVX2, PLUMORA_X86(pencilPieceAvx512Of))(t, photo, grey, out,
                                                                                                count);
}

}  // namespace

IntHSL tabulatedRGBtoHSL(int r, int g, int b)
{
    const HslTables& t = hslTables();
    const int mx = std::max(std::max(r, g), b);
    const int mn = std::min(std::min(r, g), b);
    return {hueOf(r, g, b, mx, mn), t.saturation[std::size_t(mx * 256 + mn)], lightnessOfSum(mx + mn)};
}

IntRGB tabulatedHSLtoRGB(int h, int s, int l)
{
    const std::uint32_t c = colourOf(hslTables(), h, s, l);
    return {int(c >> 16), int(c >> 8 & 0xFF), int(c & 0xFF)};
}

void colorPencilPixels(const std::uint32_t* photo, const std::uint8_t* grey, std::uint32_t* out, int count,
                       int pressure)
{
    const PencilTables tables(pressure);
    constexpr int kPiece = 4096;
    for (int i = 0; i < count; i += kPiece)
        pencilPiece(tables, photo + i, grey + i, out + i, std::min(kPiece, count - i));
}

TBitmap32 colorPencil(const TBitmap32& source, int pressure)
{
    const PencilTables tables(pressure);
    TBitmap32 result(source.width(), source.height());
    const int w = source.width();
    forEachPicsobelRow(source, [&](int y, const std::uint8_t* edges) {
        const auto* photo = reinterpret_cast<const std::uint32_t*>(source.ScanLine(y));
        auto* out = reinterpret_cast<std::uint32_t*>(result.ScanLine(y));
        forEachGreyPiece(edges, w, kGreyWeights, [&](int x0, const std::uint8_t* grey, int n) {
            pencilPiece(tables, photo + x0, grey, out + x0, n);
        });
    });
    return result;
}

}  // namespace plumora
#endif  // HWY_ONCE
