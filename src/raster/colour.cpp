#include "raster/colour.h"

#include <algorithm>
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

// The scalar formula for the pixels a vector loop leaves over.
void greyTail(const std::uint8_t* pixels, std::size_t from, std::size_t count, std::uint8_t* out, double wr,
              double wg, double wb)
{
    for (std::size_t i = from; i < count; ++i) {
        const std::uint8_t* p = pixels + i * 4;
        out[i] = std::uint8_t(Round(wr * p[2] + wg * p[1] + wb * p[0]));
    }
}

}  // namespace

namespace detail {

// Both vector paths do the same IEEE double operations as the scalar formula,
// in the same order (no fused multiply-add: neither path enables FMA), and
// convert with cvtpd2dq, which rounds in the default mode, halves to even,
// exactly as llrint does.
void weightedGreyRowSse2(const std::uint8_t* pixels, std::size_t count, std::uint8_t* out, double wr, double wg,
                         double wb)
{
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128d kR = _mm_set1_pd(wr);
    const __m128d kG = _mm_set1_pd(wg);
    const __m128d kB = _mm_set1_pd(wb);
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
    greyTail(pixels, i, count, out, wr, wg, wb);
}

#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("avx2"))) void weightedGreyRowAvx2(const std::uint8_t* pixels, std::size_t count,
                                                         std::uint8_t* out, double wr, double wg, double wb)
{
    std::size_t i = 0;
    const __m256d kR = _mm256_set1_pd(wr);
    const __m256d kG = _mm256_set1_pd(wg);
    const __m256d kB = _mm256_set1_pd(wb);
    const __m256i kByte = _mm256_set1_epi32(0xFF);
    auto grey4 = [&](__m128i b, __m128i g, __m128i r) __attribute__((target("avx2"))) {
        const __m256d vr = _mm256_cvtepi32_pd(r);
        const __m256d vg = _mm256_cvtepi32_pd(g);
        const __m256d vb = _mm256_cvtepi32_pd(b);
        return _mm256_cvtpd_epi32(
            _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(kR, vr), _mm256_mul_pd(kG, vg)), _mm256_mul_pd(kB, vb)));
    };
    for (; i + 8 <= count; i += 8) {
        const __m256i px = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pixels + i * 4));
        const __m256i b = _mm256_and_si256(px, kByte);
        const __m256i g = _mm256_and_si256(_mm256_srli_epi32(px, 8), kByte);
        const __m256i r = _mm256_and_si256(_mm256_srli_epi32(px, 16), kByte);
        const __m128i lo = grey4(_mm256_castsi256_si128(b), _mm256_castsi256_si128(g), _mm256_castsi256_si128(r));
        const __m128i hi = grey4(_mm256_extracti128_si256(b, 1), _mm256_extracti128_si256(g, 1),
                                 _mm256_extracti128_si256(r, 1));
        const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(lo, hi), _mm_setzero_si128());  // 8 values 0..255
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), bytes);
    }
    greyTail(pixels, i, count, out, wr, wg, wb);
}

bool hasAvx2()
{
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
}
#else
void weightedGreyRowAvx2(const std::uint8_t* pixels, std::size_t count, std::uint8_t* out, double wr, double wg,
                         double wb)
{
    weightedGreyRowSse2(pixels, count, out, wr, wg, wb);
}

bool hasAvx2()
{
    return false;
}
#endif

}  // namespace detail

void weightedGreyRow(const std::uint8_t* pixels, std::size_t count, std::uint8_t* out, double wr, double wg,
                     double wb)
{
    if (detail::hasAvx2())
        detail::weightedGreyRowAvx2(pixels, count, out, wr, wg, wb);
    else
        detail::weightedGreyRowSse2(pixels, count, out, wr, wg, wb);
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
