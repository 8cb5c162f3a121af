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
void greyTail(const std::uint8_t* pixels, std::size_t from, std::size_t count, std::uint8_t* out,
              const GreyWeights& w)
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

#if PLUMORA_HAS_X86_PATHS
// The integer paths. Per pixel, as 16-bit lanes: (blue, red) & 0x00FF and
// (green, fourth) >> 8; two multiply-adds give the whole sum
// N = wholeB*B + wholeR*R + wholeG*G. The grey value is the rounding of
// N / denominator, floor((N + denominator/2) / denominator), a tie exactly
// when that division leaves nothing over. The pixels whose sum was a tie
// then get the plain formula, after the vector's values are stored.

// Rounded by the processor's own conversion, which in the default mode takes
// halves to even as llrint does, so that it stays inline in the vector loops.
[[gnu::always_inline]] inline void redoTies(const std::uint8_t* pixels, std::uint8_t* out, std::uint32_t ties,
                                            const GreyWeights& w)
{
    for (; ties != 0; ties &= ties - 1) {
        const int lane = std::countr_zero(ties);
        const std::uint8_t* p = pixels + lane * 4;
        out[lane] = std::uint8_t(_mm_cvtsd_si32(_mm_set_sd(w.r * p[2] + w.g * p[1] + w.b * p[0])));
    }
}

PLUMORA_TARGET_AVX2 void greyRowAvx2(const std::uint8_t* pixels, std::size_t count, std::uint8_t* out,
                                     const GreyWeights& w)
{
    const __m256i lowBytes = _mm256_set1_epi32(0x00FF00FF);
    const __m256i weightsBR = _mm256_set1_epi32(w.wholeR << 16 | w.wholeB);
    const __m256i weightG = _mm256_set1_epi32(w.wholeG);
    const __m256i half = _mm256_set1_epi32(w.denominator / 2);
    const __m256i multiplier = _mm256_set1_epi32(int(w.division.multiplier));
    const __m256i denominator = _mm256_set1_epi32(w.denominator);
    const __m128i preShift = _mm_cvtsi32_si128(w.division.preShift);
    const __m128i shift = _mm_cvtsi32_si128(w.division.shift);
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256i px = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pixels + i * 4));
        const __m256i br = _mm256_and_si256(px, lowBytes);
        const __m256i ga = _mm256_srli_epi16(px, 8);
        const __m256i sum = _mm256_add_epi32(
            _mm256_add_epi32(_mm256_madd_epi16(br, weightsBR), _mm256_madd_epi16(ga, weightG)), half);
        const __m256i grey = _mm256_srl_epi32(_mm256_mullo_epi32(_mm256_srl_epi32(sum, preShift), multiplier), shift);
        const __m256i tie = _mm256_cmpeq_epi32(_mm256_mullo_epi32(grey, denominator), sum);
        const __m256i words = _mm256_packus_epi32(grey, grey);     // 0..3 0..3 | 4..7 4..7
        const __m256i bytes = _mm256_packus_epi16(words, words);  // 0..3 x4 | 4..7 x4
        const std::uint32_t lo = std::uint32_t(_mm256_cvtsi256_si32(bytes));
        const std::uint32_t hi = std::uint32_t(_mm_cvtsi128_si32(_mm256_extracti128_si256(bytes, 1)));
        const std::uint64_t eight = std::uint64_t(hi) << 32 | lo;
        std::memcpy(out + i, &eight, 8);
        redoTies(pixels + i * 4, out + i, std::uint32_t(_mm256_movemask_ps(_mm256_castsi256_ps(tie))), w);
    }
    greyTail(pixels, i, count, out, w);
}

PLUMORA_AVX512_CODE_BEGIN

// Grey values 32 pixels at a time in 16-bit lanes, for weights that allow
// it (w.words.usable); returns how many pixels it did.
PLUMORA_TARGET_AVX512 std::size_t greyWordsAvx512(const std::uint8_t* pixels, std::size_t count, std::uint8_t* out,
                                                  const GreyWeights& w)
{
    // Bytes (blue, green, red, fourth) times (wholeB, wholeG, wholeR, 0),
    // added in pairs and then in pairs again: the whole sum as 32 bits.
    const __m512i byteWeights = _mm512_set1_epi32(w.wholeR << 16 | w.wholeG << 8 | w.wholeB);
    const __m512i ones = _mm512_set1_epi16(1);
    // packs works within 128-bit lanes; this puts the 32 sums back in order.
    const __m512i inOrder = _mm512_setr_epi64(0, 2, 4, 6, 1, 3, 5, 7);
    const __m512i half = _mm512_set1_epi16(std::int16_t(w.denominator / 2));
    const __m512i multiplier = _mm512_set1_epi16(std::int16_t(w.words.multiplier));
    const __m512i denominator = _mm512_set1_epi16(std::int16_t(w.denominator));
    const __m128i shift = _mm_cvtsi32_si128(w.words.shift);
    std::size_t i = 0;
    for (; i + 32 <= count; i += 32) {
        const __m512i first = _mm512_loadu_si512(pixels + i * 4);
        const __m512i second = _mm512_loadu_si512(pixels + i * 4 + 64);
        const __m512i sums = _mm512_permutexvar_epi64(
            inOrder, _mm512_packs_epi32(_mm512_madd_epi16(_mm512_maddubs_epi16(first, byteWeights), ones),
                                        _mm512_madd_epi16(_mm512_maddubs_epi16(second, byteWeights), ones)));
        const __m512i sum = _mm512_add_epi16(sums, half);
        const __m512i grey = _mm512_srl_epi16(_mm512_mulhi_epu16(sum, multiplier), shift);
        const __mmask32 ties = _mm512_cmpeq_epi16_mask(_mm512_mullo_epi16(grey, denominator), sum);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm512_cvtepi16_epi8(grey));
        redoTies(pixels + i * 4, out + i, ties, w);
    }
    return i;
}

PLUMORA_TARGET_AVX512 void greyRowAvx512(const std::uint8_t* pixels, std::size_t count, std::uint8_t* out,
                                         const GreyWeights& w)
{
    const __m512i lowBytes = _mm512_set1_epi32(0x00FF00FF);
    const __m512i weightsBR = _mm512_set1_epi32(w.wholeR << 16 | w.wholeB);
    const __m512i weightG = _mm512_set1_epi32(w.wholeG);
    const __m512i half = _mm512_set1_epi32(w.denominator / 2);
    const __m512i multiplier = _mm512_set1_epi32(int(w.division.multiplier));
    const __m512i denominator = _mm512_set1_epi32(w.denominator);
    const __m128i preShift = _mm_cvtsi32_si128(w.division.preShift);
    const __m128i shift = _mm_cvtsi32_si128(w.division.shift);
    std::size_t i = 0;
    if (w.words.usable)
        i = greyWordsAvx512(pixels, count, out, w);
    for (; i + 16 <= count; i += 16) {
        const __m512i px = _mm512_loadu_si512(pixels + i * 4);
        const __m512i br = _mm512_and_si512(px, lowBytes);
        const __m512i ga = _mm512_srli_epi16(px, 8);
        const __m512i sum = _mm512_add_epi32(
            _mm512_add_epi32(_mm512_madd_epi16(br, weightsBR), _mm512_madd_epi16(ga, weightG)), half);
        const __m512i grey = _mm512_srl_epi32(_mm512_mullo_epi32(_mm512_srl_epi32(sum, preShift), multiplier), shift);
        const __mmask16 ties = _mm512_cmpeq_epi32_mask(_mm512_mullo_epi32(grey, denominator), sum);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm512_cvtepi32_epi8(grey));
        redoTies(pixels + i * 4, out + i, ties, w);
    }
    greyTail(pixels, i, count, out, w);
}
PLUMORA_AVX512_CODE_END
#endif

}  // namespace

void weightedGreyRow(const std::uint8_t* pixels, std::size_t count, std::uint8_t* out, const GreyWeights& w)
{
#if PLUMORA_HAS_X86_PATHS
    switch (simdLevel()) {
    case SimdLevel::Avx512:
        return greyRowAvx512(pixels, count, out, w);
    case SimdLevel::Avx2:
        return greyRowAvx2(pixels, count, out, w);
    case SimdLevel::Baseline:
        break;
    }
#endif
    greyRowBaseline(pixels, count, out, w);
}

IntHSL IntRGBtoHSL(int R, int G, int B)
{
    const double r = R / 255.0;
    const double g = G / 255.0;
    const double b = B / 255.0;
    const double mx = std::max(std::max(r, g), b);
    const double mn = std::min(std::min(r, g), b);
    const double l = (mx + mn) / 2;
    double h = 0;
    double s = 0;
    if (mx != mn) {
        s = l < 0.5 ? (mx - mn) / (mx + mn) : (mx - mn) / (2 - mx - mn);
        const double d = mx - mn;
        if (r == mx)
            h = (g - b) / d;
        else if (g == mx)
            h = 2 + (b - r) / d;
        else
            h = 4 + (r - g) / d;
        h = h / 6;
        if (h < 0)
            h = h + 1;
    }
    return {int(Round(h * 360)), int(Round(s * 100)), int(Round(l * 100))};
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
