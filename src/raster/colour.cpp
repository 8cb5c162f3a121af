#include "raster/colour.h"

#include "raster/simd.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace plumora {

namespace {

std::uint8_t plainGrey(const std::uint8_t* p, const GreyWeights& w)
{
    return std::uint8_t(Round(w.r * p[2] + w.g * p[1] + w.b * p[0]));
}

// The plain formula for the pixels a vector loop leaves over.
void greyTail(const std::uint8_t* pixels, std::size_t from, std::size_t count, std::uint8_t* out, const GreyWeights& w)
{
    for (std::size_t i = from; i < count; ++i)
        out[i] = plainGrey(pixels + i * 4, w);
}

// The SSE2 path does the same IEEE double operations as the plain formula,
// in the same order (no fused multiply-add: nothing here enables FMA), and
// converts with cvtpd2dq, which rounds in the default mode, halves to even,
// exactly as llrint does.
void greyRowBaseline(const std::uint8_t* pixels, std::size_t count, std::uint8_t* out, const GreyWeights& w)
{
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128d kR = _mm_set1_pd(w.r);
    const __m128d kG = _mm_set1_pd(w.g);
    const __m128d kB = _mm_set1_pd(w.b);
    const __m128i kByte = _mm_set1_epi32(0xFF);
    auto grey2 = [&](__m128i b, __m128i g, __m128i r) {
        const __m128d vr = _mm_cvtepi32_pd(r);
        const __m128d vg = _mm_cvtepi32_pd(g);
        const __m128d vb = _mm_cvtepi32_pd(b);
        return _mm_cvtpd_epi32(_mm_add_pd(_mm_add_pd(_mm_mul_pd(kR, vr), _mm_mul_pd(kG, vg)), _mm_mul_pd(kB, vb)));
    };
    for (; i + 4 <= count; i += 4) {
        const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + i * 4));
        const __m128i b = _mm_and_si128(px, kByte);
        const __m128i g = _mm_and_si128(_mm_srli_epi32(px, 8), kByte);
        const __m128i r = _mm_and_si128(_mm_srli_epi32(px, 16), kByte);
        const __m128i lo = grey2(b, g, r);
        const __m128i hi = grey2(_mm_shuffle_epi32(b, 0xEE), _mm_shuffle_epi32(g, 0xEE), _mm_shuffle_epi32(r, 0xEE));
        const __m128i four = _mm_unpacklo_epi64(lo, hi);  // four int32 grey values, all 0..255
        const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(four, four), _mm_setzero_si128());
        const int packed = _mm_cvtsi128_si32(bytes);
        std::memcpy(out + i, &packed, 4);
    }
#endif
    greyTail(pixels, i, count, out, w);
}

// The plain formula cut at limit, for the pixels a vector loop leaves over.
void darkTail(const std::uint8_t* pixels, std::size_t from, std::size_t count, int limit, std::uint8_t* ink,
              const GreyWeights& w)
{
    for (std::size_t i = from; i < count; ++i)
        ink[i] = plainGrey(pixels + i * 4, w) <= limit ? 0xFF : 0;
}

void darkRowBaseline(const std::uint8_t* pixels, std::size_t count, int limit, std::uint8_t* ink, const GreyWeights& w)
{
    greyRowBaseline(pixels, count, ink, w);
    for (std::size_t i = 0; i < count; ++i)
        ink[i] = ink[i] <= limit ? 0xFF : 0;
}

#if PLUMORA_HAS_X86_PATHS
// The integer paths. Per pixel, as 16-bit lanes: (blue, red) & 0x00FF and
// (green, fourth) >> 8; two multiply-adds give the whole sum
// N = wholeB*B + wholeR*R + wholeG*G, to which they add half the
// denominator: S = N + denominator/2.
//
// The grey value is the rounding of N / denominator, S / denominator
// rounded down, a tie exactly when that division leaves nothing over.
// The pixels whose sum was a tie then get the plain formula, after the
// vector's values are stored.
//
// A cut at limit needs no division: the grey value is at most limit when
// S < denominator * (limit + 1); only a tie at exactly that bound can go
// either way, and gets the plain formula.

// Rounded by the processor's own conversion, which in the default mode takes
// halves to even as llrint does, so that it stays inline in the vector loops.
[[gnu::always_inline]] inline int inlineGrey(const std::uint8_t* p, const GreyWeights& w)
{
    return _mm_cvtsd_si32(_mm_set_sd(w.r * p[2] + w.g * p[1] + w.b * p[0]));
}

[[gnu::always_inline]] inline void redoTies(const std::uint8_t* pixels, std::uint8_t* out, std::uint32_t ties,
                                            const GreyWeights& w)
{
    for (; ties != 0; ties &= ties - 1) {
        const int lane = std::countr_zero(ties);
        out[lane] = std::uint8_t(inlineGrey(pixels + lane * 4, w));
    }
}

[[gnu::always_inline]] inline void redoBoundary(const std::uint8_t* pixels, std::uint8_t* ink, std::uint32_t ties,
                                                int limit, const GreyWeights& w)
{
    for (; ties != 0; ties &= ties - 1) {
        const int lane = std::countr_zero(ties);
        ink[lane] = inlineGrey(pixels + lane * 4, w) <= limit ? 0xFF : 0;
    }
}

// S of eight pixels as 32-bit lanes.
struct WholeSumsAvx2 {
    __m256i lowBytes, weightsBR, weightG, half;

    PLUMORA_TARGET_AVX2 explicit WholeSumsAvx2(const GreyWeights& w)
        : lowBytes(_mm256_set1_epi32(0x00FF00FF)), weightsBR(_mm256_set1_epi32(w.wholeR << 16 | w.wholeB)),
          weightG(_mm256_set1_epi32(w.wholeG)), half(_mm256_set1_epi32(w.denominator / 2))
    {}

    PLUMORA_TARGET_AVX2 __m256i operator()(const std::uint8_t* pixels) const
    {
        const __m256i px = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pixels));
        const __m256i br = _mm256_and_si256(px, lowBytes);
        const __m256i ga = _mm256_srli_epi16(px, 8);
        return _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(br, weightsBR), _mm256_madd_epi16(ga, weightG)),
                                half);
    }
};

// Eight 32-bit lanes, each 0..255, as bytes to out.
PLUMORA_TARGET_AVX2 inline void storeLowBytesAvx2(__m256i lanes, std::uint8_t* out)
{
    const __m256i words = _mm256_packus_epi32(lanes, lanes);  // 0..3 0..3 | 4..7 4..7
    const __m256i bytes = _mm256_packus_epi16(words, words);  // 0..3 x4 | 4..7 x4
    const std::uint32_t lo = std::uint32_t(_mm256_cvtsi256_si32(bytes));
    const std::uint32_t hi = std::uint32_t(_mm_cvtsi128_si32(_mm256_extracti128_si256(bytes, 1)));
    const std::uint64_t eight = std::uint64_t(hi) << 32 | lo;
    std::memcpy(out, &eight, 8);
}

PLUMORA_TARGET_AVX2 inline std::uint32_t laneMaskAvx2(__m256i lanes)
{
    return std::uint32_t(_mm256_movemask_ps(_mm256_castsi256_ps(lanes)));
}

PLUMORA_TARGET_AVX2 void greyRowAvx2(const std::uint8_t* pixels, std::size_t count, std::uint8_t* out,
                                     const GreyWeights& w)
{
    const WholeSumsAvx2 sums(w);
    const __m256i multiplier = _mm256_set1_epi32(int(w.division.multiplier));
    const __m256i denominator = _mm256_set1_epi32(w.denominator);
    const __m128i preShift = _mm_cvtsi32_si128(w.division.preShift);
    const __m128i shift = _mm_cvtsi32_si128(w.division.shift);
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256i sum = sums(pixels + i * 4);
        const __m256i grey = _mm256_srl_epi32(_mm256_mullo_epi32(_mm256_srl_epi32(sum, preShift), multiplier), shift);
        const __m256i tie = _mm256_cmpeq_epi32(_mm256_mullo_epi32(grey, denominator), sum);
        storeLowBytesAvx2(grey, out + i);
        redoTies(pixels + i * 4, out + i, laneMaskAvx2(tie), w);
    }
    greyTail(pixels, i, count, out, w);
}

PLUMORA_TARGET_AVX2 void darkRowAvx2(const std::uint8_t* pixels, std::size_t count, int limit, std::uint8_t* ink,
                                     const GreyWeights& w)
{
    const WholeSumsAvx2 sums(w);
    const __m256i bound = _mm256_set1_epi32(w.denominator * (limit + 1));
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256i sum = sums(pixels + i * 4);
        storeLowBytesAvx2(_mm256_srli_epi32(_mm256_cmpgt_epi32(bound, sum), 24), ink + i);  // 0xFF or 0
        redoBoundary(pixels + i * 4, ink + i, laneMaskAvx2(_mm256_cmpeq_epi32(bound, sum)), limit, w);
    }
    darkTail(pixels, i, count, limit, ink, w);
}

PLUMORA_AVX512_CODE_BEGIN

// S of 32 pixels in 16-bit lanes, for weights that allow it
// (w.words.usable): the bytes (blue, green, red, fourth) times (wholeB,
// wholeG, wholeR, 0), added in pairs and then in pairs again.
struct WordSumsAvx512 {
    __m512i byteWeights, ones, inOrder, half;

    PLUMORA_TARGET_AVX512 explicit WordSumsAvx512(const GreyWeights& w)
        : byteWeights(_mm512_set1_epi32(w.wholeR << 16 | w.wholeG << 8 | w.wholeB)), ones(_mm512_set1_epi16(1)),
          // packs works within 128-bit lanes; this puts the 32 sums back in order.
          inOrder(_mm512_setr_epi64(0, 2, 4, 6, 1, 3, 5, 7)), half(_mm512_set1_epi16(std::int16_t(w.denominator / 2)))
    {}

    PLUMORA_TARGET_AVX512 __m512i operator()(const std::uint8_t* pixels) const
    {
        const __m512i first = _mm512_loadu_si512(pixels);
        const __m512i second = _mm512_loadu_si512(pixels + 64);
        const __m512i sums = _mm512_permutexvar_epi64(
            inOrder, _mm512_packs_epi32(_mm512_madd_epi16(_mm512_maddubs_epi16(first, byteWeights), ones),
                                        _mm512_madd_epi16(_mm512_maddubs_epi16(second, byteWeights), ones)));
        return _mm512_add_epi16(sums, half);
    }
};

// S of sixteen pixels as 32-bit lanes.
struct WholeSumsAvx512 {
    __m512i lowBytes, weightsBR, weightG, half;

    PLUMORA_TARGET_AVX512 explicit WholeSumsAvx512(const GreyWeights& w)
        : lowBytes(_mm512_set1_epi32(0x00FF00FF)), weightsBR(_mm512_set1_epi32(w.wholeR << 16 | w.wholeB)),
          weightG(_mm512_set1_epi32(w.wholeG)), half(_mm512_set1_epi32(w.denominator / 2))
    {}

    PLUMORA_TARGET_AVX512 __m512i operator()(const std::uint8_t* pixels) const
    {
        const __m512i px = _mm512_loadu_si512(pixels);
        const __m512i br = _mm512_and_si512(px, lowBytes);
        const __m512i ga = _mm512_srli_epi16(px, 8);
        return _mm512_add_epi32(_mm512_add_epi32(_mm512_madd_epi16(br, weightsBR), _mm512_madd_epi16(ga, weightG)),
                                half);
    }
};

PLUMORA_TARGET_AVX512 void greyRowAvx512(const std::uint8_t* pixels, std::size_t count, std::uint8_t* out,
                                         const GreyWeights& w)
{
    std::size_t i = 0;
    if (w.words.usable) {
        const WordSumsAvx512 sums(w);
        const __m512i multiplier = _mm512_set1_epi16(std::int16_t(w.words.multiplier));
        const __m512i denominator = _mm512_set1_epi16(std::int16_t(w.denominator));
        const __m128i shift = _mm_cvtsi32_si128(w.words.shift);
        for (; i + 32 <= count; i += 32) {
            const __m512i sum = sums(pixels + i * 4);
            const __m512i grey = _mm512_srl_epi16(_mm512_mulhi_epu16(sum, multiplier), shift);
            const __mmask32 ties = _mm512_cmpeq_epi16_mask(_mm512_mullo_epi16(grey, denominator), sum);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm512_cvtepi16_epi8(grey));
            redoTies(pixels + i * 4, out + i, ties, w);
        }
    }
    const WholeSumsAvx512 sums(w);
    const __m512i multiplier = _mm512_set1_epi32(int(w.division.multiplier));
    const __m512i denominator = _mm512_set1_epi32(w.denominator);
    const __m128i preShift = _mm_cvtsi32_si128(w.division.preShift);
    const __m128i shift = _mm_cvtsi32_si128(w.division.shift);
    for (; i + 16 <= count; i += 16) {
        const __m512i sum = sums(pixels + i * 4);
        const __m512i grey = _mm512_srl_epi32(_mm512_mullo_epi32(_mm512_srl_epi32(sum, preShift), multiplier), shift);
        const __mmask16 ties = _mm512_cmpeq_epi32_mask(_mm512_mullo_epi32(grey, denominator), sum);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm512_cvtepi32_epi8(grey));
        redoTies(pixels + i * 4, out + i, ties, w);
    }
    greyTail(pixels, i, count, out, w);
}

PLUMORA_TARGET_AVX512 void darkRowAvx512(const std::uint8_t* pixels, std::size_t count, int limit, std::uint8_t* ink,
                                         const GreyWeights& w)
{
    std::size_t i = 0;
    if (w.words.usable) {
        const WordSumsAvx512 sums(w);
        const __m512i bound = _mm512_set1_epi16(std::int16_t(w.denominator * (limit + 1)));
        for (; i + 32 <= count; i += 32) {
            const __m512i sum = sums(pixels + i * 4);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(ink + i),
                                _mm256_movm_epi8(_mm512_cmplt_epi16_mask(sum, bound)));
            redoBoundary(pixels + i * 4, ink + i, _mm512_cmpeq_epi16_mask(sum, bound), limit, w);
        }
    }
    const WholeSumsAvx512 sums(w);
    const __m512i bound = _mm512_set1_epi32(w.denominator * (limit + 1));
    for (; i + 16 <= count; i += 16) {
        const __m512i sum = sums(pixels + i * 4);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(ink + i), _mm_movm_epi8(_mm512_cmplt_epi32_mask(sum, bound)));
        redoBoundary(pixels + i * 4, ink + i, _mm512_cmpeq_epi32_mask(sum, bound), limit, w);
    }
    darkTail(pixels, i, count, limit, ink, w);
}
PLUMORA_AVX512_CODE_END
#endif

}  // namespace

void weightedGreyRow(const std::uint8_t* pixels, std::size_t count, std::uint8_t* out, const GreyWeights& w)
{
    simdPath(greyRowBaseline, PLUMORA_X86(greyRowAvx2), PLUMORA_X86(greyRowAvx512))(pixels, count, out, w);
}

void darkRow(const std::uint8_t* pixels, std::size_t count, const GreyWeights& w, int limit, std::uint8_t* ink)
{
    // Every grey value is 0..255: a limit outside 0..254 leaves nothing to
    // compare (and keeps the vector paths' bound within their lanes).
    if (limit < 0 || limit >= 255) {
        std::memset(ink, limit < 0 ? 0 : 0xFF, count);
        return;
    }
    simdPath(darkRowBaseline, PLUMORA_X86(darkRowAvx2), PLUMORA_X86(darkRowAvx512))(pixels, count, limit, ink, w);
}

namespace {

// The hue of fractions r, g, b whose largest is mx and smallest mn < mx.
int hueOf(double r, double g, double b, double mx, double mn)
{
    const double d = mx - mn;
    double h;
    if (r == mx)
        h = (g - b) / d;
    else if (g == mx)
        h = 2 + (b - r) / d;
    else
        h = 4 + (r - g) / d;
    h = h / 6;
    if (h < 0)
        h = h + 1;
    return int(Round(h * 360));
}

}  // namespace

IntHSL IntRGBtoHSL(int R, int G, int B)
{
    const double r = R / 255.0;
    const double g = G / 255.0;
    const double b = B / 255.0;
    const double mx = std::max(std::max(r, g), b);
    const double mn = std::min(std::min(r, g), b);
    const double l = (mx + mn) / 2;
    if (mx == mn)
        return {0, 0, int(Round(l * 100))};
    const double s = l < 0.5 ? (mx - mn) / (mx + mn) : (mx - mn) / (2 - mx - mn);
    return {hueOf(r, g, b, mx, mn), int(Round(s * 100)), int(Round(l * 100))};
}

int intHueOf(int R, int G, int B)
{
    const double r = R / 255.0;
    const double g = G / 255.0;
    const double b = B / 255.0;
    return hueOf(r, g, b, std::max(std::max(r, g), b), std::min(std::min(r, g), b));
}

IntRGB IntHSLtoRGB(int H, int S, int L)
{
    if (H >= 360 || H < 0 || S > 100 || S < 0 || L > 100 || L < 0)
        return {0, 0, 0};

    // The pure hue, 4.25 steps a degree (255 / 60).
    double c[3];  // red, green, blue
    if (H <= 60) {
        c[0] = 255;
        c[1] = double(Round(4.25 * H));
        c[2] = 0;
    } else if (H <= 120) {
        c[0] = double(Round(255 - 4.25 * (H - 60)));
        c[1] = 255;
        c[2] = 0;
    } else if (H <= 180) {
        c[0] = 0;
        c[1] = 255;
        c[2] = double(Round(4.25 * (H - 120)));
    } else if (H <= 240) {
        c[0] = 0;
        c[1] = double(Round(255 - 4.25 * (H - 180)));
        c[2] = 255;
    } else if (H <= 300) {
        c[0] = double(Round(4.25 * (H - 240)));
        c[1] = 0;
        c[2] = 255;
    } else {
        c[0] = 255;
        c[1] = 0;
        c[2] = double(Round(255 - 4.25 * (H - 300)));
    }

    // Saturation blends towards mid grey.
    const double k = std::abs(S - 100) / 100.0;
    for (double& v : c)
        v = double(Round(v - (v - 128) * k));

    // Lightness blends towards white or black.
    const double e = (L - 50) / 50.0;
    if (e > 0) {
        for (double& v : c)
            v = double(Round(v + e * (255 - v)));
    } else if (e < 0) {
        for (double& v : c)
            v = double(Round(v + e * v));
    }
    return {int(c[0]), int(c[1]), int(c[2])};
}

}  // namespace plumora
