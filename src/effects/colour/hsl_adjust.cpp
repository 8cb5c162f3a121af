#include "effects/colour/hsl_adjust.h"

#include "effects/colour/hsl_tables.h"
#include "raster/parallel.h"
#include "raster/simd.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>

#if PLUMORA_HAS_X86_PATHS
#include <immintrin.h>
#endif

namespace plumora {

namespace {

// Marks a turned hue outside 0..359, which IntHSLtoRGB makes black.
constexpr std::uint32_t kNoHue = 0x80000000u;

// What the three positions make of each H, S and L that IntRGBtoHSL can
// give, so that a pixel costs a lookup in hsl::Rebuild::blended and shifts
// besides working out its H, S and L.
struct Adjustment {
    const hsl::Analysis& analysis = hsl::analysisTables();
    const std::uint32_t* blended = hsl::rebuildTables().blended.data();
    int huePosition = 0;
    // Added to S and to L before they are kept within 0..100 (past -100 or
    // 100 every shift clamps alike).
    int saturationShift = 0;
    int lightnessShift = 0;
    // For each S and L: its share of the start of its blended row once
    // shifted, (S * 101 + L) * 128.
    std::array<std::uint32_t, 101> saturationRow{};
    std::array<std::uint32_t, 101> lightnessRow{};
    // For each H: the word of the blended row for the turned hue, and the
    // places of its channels (hsl::kSixthPlaces) from bit 8; kNoHue for a
    // turn below 0.
    std::array<std::uint32_t, 361> turnedHue{};
    // For the vector paths, which turn the hue themselves: whether no hue
    // turns below 0, and then the turn, 0..359 degrees.
    bool turnsWithinCircle = true;
    int turn = 0;

    Adjustment(int huePos, int saturationPos, int lightingPos) : huePosition(huePos)
    {
        saturationShift = int(std::clamp<std::int64_t>(std::int64_t(saturationPos) - 100, -101, 101));
        lightnessShift = int(std::clamp<std::int64_t>(std::int64_t(lightingPos) - 100, -101, 101));
        for (int v = 0; v <= 100; ++v) {
            saturationRow[std::size_t(v)] =
                std::uint32_t(std::clamp(v + saturationShift, 0, 100) * 101 * hsl::Rebuild::kBlendedRow);
            lightnessRow[std::size_t(v)] =
                std::uint32_t(std::clamp(v + lightnessShift, 0, 100) * hsl::Rebuild::kBlendedRow);
        }
        turnsWithinCircle = std::int64_t(huePosition) + 180 >= 0;
        turn = int((std::int64_t(huePosition) + 180) % 360);
        for (int h = 0; h <= 360; ++h) {
            const std::int64_t turned = (std::int64_t(h) + huePosition + 180) % 360;
            const hsl::Sixth sixth = hsl::sixthOf(int(turned));
            turnedHue[std::size_t(h)] =
                turned < 0 ? kNoHue : std::uint32_t(sixth.word) | std::uint32_t(hsl::kSixthPlaces[sixth.k]) << 8;
        }
    }

    // The pixel from its hue h (0..360) and its largest and smallest byte.
    std::uint32_t assembled(int h, int mx, int mn) const
    {
        const std::uint32_t hue = turnedHue[std::size_t(h)];
        if (hue & kNoHue)
            return 0xFF000000u;  // IntHSLtoRGB's black
        const auto sl = analysis.saturationLightness[std::size_t(mx * 256 + mn)];
        const std::uint32_t channels = blended[saturationRow[sl.s] + lightnessRow[sl.l] + (hue & 0xFF)];
        const std::uint32_t place = hue >> 8;
        return 0xFF000000u | (channels & 0xFF) << (place & 0xFF) | (channels >> 8 & 0xFF) << (place >> 8 & 0xFF) |
               (channels >> 16) << (place >> 16);
    }
};

// One pixel: the hue by hsl::Analysis, the rest from the run's tables.
inline std::uint32_t adjustedPixel(std::uint32_t pixel, const Adjustment& adjust)
{
    const int b = int(pixel & 0xFF);
    const int g = int(pixel >> 8 & 0xFF);
    const int r = int(pixel >> 16 & 0xFF);
    const int mx = std::max(std::max(r, g), b);
    const int mn = std::min(std::min(r, g), b);
    return adjust.assembled(adjust.analysis.hue(r, g, b, mx, mn), mx, mn);
}

void adjustRowPlain(const std::uint32_t* in, std::uint32_t* out, int count, const Adjustment& adjust)
{
    for (int x = 0; x < count; ++x)
        out[x] = adjustedPixel(in[x], adjust);
}

#if PLUMORA_HAS_X86_PATHS
// The vector paths, sixteen or eight pixels at a time, with one lookup a
// pixel:
// - the hue as hsl::Analysis::hue works it out;
// - the lightness as Round(100 (mx + mn) / 510) = floor((20 (mx + mn) + 51)
//   / 102), the exact fraction, which is never a half (its numerator is odd)
//   and lies at least 1/102 from one, beyond the reach of the doubles'
//   errors;
// - the saturation as Round(100 d / e), e being mx + mn below 255 and
//   510 - mx - mn from there on (at 255 both are 255); at least 1/1020 from
//   a half unless exactly on one, a tie, which the doubles decide;
// - the sixth k of the turned hue t as floor((2 t - 1) / 120), again a
//   fraction with an odd numerator, so never whole (t = 0 gives 0 too);
// - the pixel from the blended row of its S and L (hsl::Rebuild::blended),
//   its bytes shuffled into place by the sixth.
// The divisions are made in single precision, a whole number below 2^16 by
// another, or by a constant as a product: either lands within 1e-4 of the
// exact quotient, and a quotient that is not whole lies at least 1/1020 below
// the next whole number, so truncating gives the exact floor. A tie of hue or
// saturation is listed, to be done again by adjustedPixel. (The tests compare
// every colour with the plain path at each level.)

// For each sixth of the circle, the byte shuffle that takes a pixel's blue,
// green and red from a blended word (the channel from 0 in byte 0, from 255
// in byte 1, in between in byte 2), as hsl::kSixthPlaces places them; the
// fourth byte is left 0.
constexpr int sixthShuffle(int places)
{
    int shuffle = int(0x80u << 24);
    for (int from = 0; from < 3; ++from)
        shuffle |= from << (places >> (8 * from) & 0xFF);
    return shuffle;
}
alignas(64) constexpr int kSixthShuffles[16] = {sixthShuffle(hsl::kSixthPlaces[0]), sixthShuffle(hsl::kSixthPlaces[1]),
                                                sixthShuffle(hsl::kSixthPlaces[2]), sixthShuffle(hsl::kSixthPlaces[3]),
                                                sixthShuffle(hsl::kSixthPlaces[4]), sixthShuffle(hsl::kSixthPlaces[5])};

PLUMORA_AVX512_CODE_BEGIN
PLUMORA_TARGET_AVX512 inline __m512i floorQuotientAvx512(__m512i numerator, __m512i denominator)
{
    return _mm512_cvttps_epi32(_mm512_div_ps(_mm512_cvtepi32_ps(numerator), _mm512_cvtepi32_ps(denominator)));
}

PLUMORA_TARGET_AVX512 int adjustPieceAvx512(const std::uint32_t* in, std::uint32_t* out, int count,
                                            const Adjustment& adjust, int* ties)
{
    int tieCount = 0;
    const __m512i lanes = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m512i byte = _mm512_set1_epi32(0xFF);
    const __m512i zero = _mm512_setzero_si512();
    const __m512i one = _mm512_set1_epi32(1);
    const __m512i hundred = _mm512_set1_epi32(100);
    const __m512i full = _mm512_set1_epi32(360);
    const __m512i sixth = _mm512_set1_epi32(60);
    const __m512i opaque = _mm512_set1_epi32(std::int32_t(0xFF000000u));
    const __m512i turn = _mm512_set1_epi32(adjust.turn);
    const __m512i saturationShift = _mm512_set1_epi32(adjust.saturationShift);
    const __m512i lightnessShift = _mm512_set1_epi32(adjust.lightnessShift);
    const __m512i sixthShuffles = _mm512_load_si512(kSixthShuffles);
    // 4 (i mod 4) in every byte of lane i: its first byte within its 128 bits.
    const __m512i laneBytes = _mm512_set4_epi32(0x0C0C0C0C, 0x08080808, 0x04040404, 0);
    int x = 0;
    for (; x + 16 <= count; x += 16) {
        const __m512i px = _mm512_loadu_si512(in + x);
        const __m512i b = _mm512_and_si512(px, byte);
        const __m512i g = _mm512_and_si512(_mm512_srli_epi32(px, 8), byte);
        const __m512i r = _mm512_and_si512(_mm512_srli_epi32(px, 16), byte);
        const __m512i mx = _mm512_max_epi32(_mm512_max_epi32(r, g), b);
        const __m512i mn = _mm512_min_epi32(_mm512_min_epi32(r, g), b);
        const __m512i d = _mm512_sub_epi32(mx, mn);
        const __mmask16 coloured = _mm512_cmpneq_epi32_mask(d, zero);
        // The hue.
        const __mmask16 redLargest = _mm512_cmpeq_epi32_mask(r, mx);
        const __mmask16 greenLargest = __mmask16(_mm512_cmpeq_epi32_mask(g, mx) & ~redLargest);
        const __mmask16 blueLargest = __mmask16(~(redLargest | greenLargest));
        const __m512i base = _mm512_or_si512(_mm512_maskz_mov_epi32(greenLargest, _mm512_set1_epi32(120)),
                                             _mm512_maskz_mov_epi32(blueLargest, _mm512_set1_epi32(240)));
        const __m512i n =
            _mm512_mask_mov_epi32(_mm512_mask_mov_epi32(_mm512_sub_epi32(r, g), greenLargest, _mm512_sub_epi32(b, r)),
                                  redLargest, _mm512_sub_epi32(g, b));
        const __m512i t = _mm512_add_epi32(n, d);
        const __m512i sum =
            _mm512_add_epi32(_mm512_sub_epi32(_mm512_slli_epi32(t, 7), _mm512_slli_epi32(t, 3)), d);  // 120 t + d
        const __m512i twoD = _mm512_slli_epi32(_mm512_max_epi32(d, one), 1);
        const __m512i q = floorQuotientAvx512(sum, twoD);
        const __mmask16 hueTie = __mmask16(_mm512_cmpeq_epi32_mask(sum, _mm512_mullo_epi32(q, twoD)) & coloured);
        const __m512i wrap = _mm512_maskz_mov_epi32(__mmask16(redLargest & _mm512_cmplt_epi32_mask(n, zero)), full);
        const __m512i h = _mm512_maskz_mov_epi32(
            coloured, _mm512_add_epi32(_mm512_sub_epi32(_mm512_add_epi32(base, q), sixth), wrap));
        // Lightness and saturation, shifted.
        const __m512i both = _mm512_add_epi32(mx, mn);
        const __m512i l = _mm512_cvttps_epi32(
            _mm512_fmadd_ps(_mm512_cvtepi32_ps(both), _mm512_set1_ps(20.0f / 102), _mm512_set1_ps(51.0f / 102)));
        const __m512i e = _mm512_max_epi32(_mm512_min_epi32(both, _mm512_sub_epi32(_mm512_set1_epi32(510), both)), one);
        const __m512i twoE = _mm512_slli_epi32(e, 1);
        const __m512i sNumerator =
            _mm512_add_epi32(_mm512_add_epi32(_mm512_slli_epi32(d, 7),
                                              _mm512_add_epi32(_mm512_slli_epi32(d, 6), _mm512_slli_epi32(d, 3))),
                             e);
        const __m512i s = _mm512_maskz_mov_epi32(coloured, floorQuotientAvx512(sNumerator, twoE));
        const __mmask16 saturationTie =
            __mmask16(_mm512_cmpeq_epi32_mask(sNumerator, _mm512_mullo_epi32(s, twoE)) & coloured);
        const __m512i shiftedS =
            _mm512_max_epi32(_mm512_min_epi32(_mm512_add_epi32(s, saturationShift), hundred), zero);
        const __m512i shiftedL = _mm512_max_epi32(_mm512_min_epi32(_mm512_add_epi32(l, lightnessShift), hundred), zero);
        // The turned hue's sixth k and u = H - 60 k.
        __m512i turned = _mm512_add_epi32(h, turn);
        turned = _mm512_mask_sub_epi32(turned, _mm512_cmpge_epi32_mask(turned, full), turned, full);
        const __m512i k = _mm512_cvttps_epi32(_mm512_mul_ps(
            _mm512_cvtepi32_ps(_mm512_sub_epi32(_mm512_slli_epi32(turned, 1), one)), _mm512_set1_ps(1.0f / 120)));
        const __m512i u = _mm512_sub_epi32(turned, _mm512_mullo_epi32(k, sixth));
        const __m512i word = _mm512_mask_add_epi32(u, _mm512_test_epi32_mask(k, one), u, sixth);  // odd: 60 + u
        const __m512i row = _mm512_add_epi32(_mm512_mullo_epi32(shiftedS, _mm512_set1_epi32(101)), shiftedL);
        const __m512i blended =
            _mm512_i32gather_epi32(_mm512_add_epi32(_mm512_slli_epi32(row, 7), word), adjust.blended, 4);
        // Blue, green and red picked from the blended bytes by the sixth's
        // byte shuffle, each lane's indices moved to its own bytes.
        const __m512i shuffle = _mm512_add_epi8(_mm512_permutexvar_epi32(k, sixthShuffles), laneBytes);
        _mm512_storeu_si512(out + x, _mm512_or_si512(_mm512_shuffle_epi8(blended, shuffle), opaque));
        // The ties' places, packed to the front of a vector.
        const __mmask16 redo = __mmask16(hueTie | saturationTie);
        _mm512_storeu_si512(ties + tieCount,
                            _mm512_maskz_compress_epi32(redo, _mm512_add_epi32(lanes, _mm512_set1_epi32(x))));
        tieCount += std::popcount(unsigned(redo));
    }
    adjustRowPlain(in + x, out + x, count - x, adjust);
    return tieCount;
}
PLUMORA_AVX512_CODE_END

// The same with AVX2, lanes of all ones for true.
PLUMORA_TARGET_AVX2 inline __m256i floorQuotientAvx2(__m256i numerator, __m256i denominator)
{
    return _mm256_cvttps_epi32(_mm256_div_ps(_mm256_cvtepi32_ps(numerator), _mm256_cvtepi32_ps(denominator)));
}

PLUMORA_TARGET_AVX2 inline __m256i clampAvx2(__m256i v, __m256i low, __m256i high)
{
    return _mm256_max_epi32(_mm256_min_epi32(v, high), low);
}

// For each set of lanes (a bit each), their numbers packed 3 bits each.
constexpr std::array<std::uint32_t, 256> kPackedLanes = [] {
    std::array<std::uint32_t, 256> packed{};
    for (unsigned set = 0; set < 256; ++set) {
        int at = 0;
        for (unsigned lane = 0; lane < 8; ++lane)
            if (set >> lane & 1)
                packed[set] |= lane << (3 * at++);
    }
    return packed;
}();

PLUMORA_TARGET_AVX2 int adjustPieceAvx2(const std::uint32_t* in, std::uint32_t* out, int count,
                                        const Adjustment& adjust, int* ties)
{
    int tieCount = 0;
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i laneFields = _mm256_setr_epi32(0, 3, 6, 9, 12, 15, 18, 21);
    const __m256i byte = _mm256_set1_epi32(0xFF);
    const __m256i ones = _mm256_set1_epi32(-1);
    const __m256i zero = _mm256_setzero_si256();
    const __m256i one = _mm256_set1_epi32(1);
    const __m256i hundred = _mm256_set1_epi32(100);
    const __m256i sixth = _mm256_set1_epi32(60);
    const __m256i opaque = _mm256_set1_epi32(std::int32_t(0xFF000000u));
    const __m256i turn = _mm256_set1_epi32(adjust.turn);
    const __m256i saturationShift = _mm256_set1_epi32(adjust.saturationShift);
    const __m256i lightnessShift = _mm256_set1_epi32(adjust.lightnessShift);
    const __m256i sixthShuffles = _mm256_load_si256(reinterpret_cast<const __m256i*>(kSixthShuffles));
    const __m256i laneBytes =
        _mm256_setr_epi32(0, 0x04040404, 0x08080808, 0x0C0C0C0C, 0, 0x04040404, 0x08080808, 0x0C0C0C0C);
    const auto* blendedRows = reinterpret_cast<const int*>(adjust.blended);
    int x = 0;
    for (; x + 8 <= count; x += 8) {
        const __m256i px = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + x));
        const __m256i b = _mm256_and_si256(px, byte);
        const __m256i g = _mm256_and_si256(_mm256_srli_epi32(px, 8), byte);
        const __m256i r = _mm256_and_si256(_mm256_srli_epi32(px, 16), byte);
        const __m256i mx = _mm256_max_epi32(_mm256_max_epi32(r, g), b);
        const __m256i mn = _mm256_min_epi32(_mm256_min_epi32(r, g), b);
        const __m256i d = _mm256_sub_epi32(mx, mn);
        const __m256i coloured = _mm256_xor_si256(_mm256_cmpeq_epi32(d, zero), ones);
        const __m256i redLargest = _mm256_cmpeq_epi32(r, mx);
        const __m256i greenLargest = _mm256_andnot_si256(redLargest, _mm256_cmpeq_epi32(g, mx));
        const __m256i blueLargest = _mm256_xor_si256(_mm256_or_si256(redLargest, greenLargest), ones);
        const __m256i base = _mm256_or_si256(_mm256_and_si256(greenLargest, _mm256_set1_epi32(120)),
                                             _mm256_and_si256(blueLargest, _mm256_set1_epi32(240)));
        const __m256i n = _mm256_or_si256(_mm256_or_si256(_mm256_and_si256(redLargest, _mm256_sub_epi32(g, b)),
                                                          _mm256_and_si256(greenLargest, _mm256_sub_epi32(b, r))),
                                          _mm256_and_si256(blueLargest, _mm256_sub_epi32(r, g)));
        const __m256i t = _mm256_add_epi32(n, d);
        const __m256i sum = _mm256_add_epi32(_mm256_sub_epi32(_mm256_slli_epi32(t, 7), _mm256_slli_epi32(t, 3)), d);
        const __m256i twoD = _mm256_slli_epi32(_mm256_max_epi32(d, one), 1);
        const __m256i q = floorQuotientAvx2(sum, twoD);
        const __m256i hueTie = _mm256_and_si256(_mm256_cmpeq_epi32(sum, _mm256_mullo_epi32(q, twoD)), coloured);
        const __m256i wrap =
            _mm256_and_si256(_mm256_and_si256(redLargest, _mm256_cmpgt_epi32(zero, n)), _mm256_set1_epi32(360));
        const __m256i h =
            _mm256_and_si256(_mm256_add_epi32(_mm256_sub_epi32(_mm256_add_epi32(base, q), sixth), wrap), coloured);
        const __m256i both = _mm256_add_epi32(mx, mn);
        const __m256i l = _mm256_cvttps_epi32(_mm256_mul_ps(
            _mm256_cvtepi32_ps(_mm256_add_epi32(
                _mm256_add_epi32(_mm256_slli_epi32(both, 4), _mm256_slli_epi32(both, 2)), _mm256_set1_epi32(51))),
            _mm256_set1_ps(1.0f / 102)));
        const __m256i e = _mm256_max_epi32(_mm256_min_epi32(both, _mm256_sub_epi32(_mm256_set1_epi32(510), both)), one);
        const __m256i twoE = _mm256_slli_epi32(e, 1);
        const __m256i sNumerator =
            _mm256_add_epi32(_mm256_add_epi32(_mm256_slli_epi32(d, 7),
                                              _mm256_add_epi32(_mm256_slli_epi32(d, 6), _mm256_slli_epi32(d, 3))),
                             e);
        const __m256i s = _mm256_and_si256(floorQuotientAvx2(sNumerator, twoE), coloured);
        const __m256i saturationTie =
            _mm256_and_si256(_mm256_cmpeq_epi32(sNumerator, _mm256_mullo_epi32(s, twoE)), coloured);
        const __m256i shiftedS = clampAvx2(_mm256_add_epi32(s, saturationShift), zero, hundred);
        const __m256i shiftedL = clampAvx2(_mm256_add_epi32(l, lightnessShift), zero, hundred);
        __m256i turned = _mm256_add_epi32(h, turn);
        turned = _mm256_sub_epi32(
            turned, _mm256_and_si256(_mm256_cmpgt_epi32(turned, _mm256_set1_epi32(359)), _mm256_set1_epi32(360)));
        const __m256i k = _mm256_cvttps_epi32(_mm256_mul_ps(
            _mm256_cvtepi32_ps(_mm256_sub_epi32(_mm256_slli_epi32(turned, 1), one)), _mm256_set1_ps(1.0f / 120)));
        const __m256i u = _mm256_sub_epi32(turned, _mm256_mullo_epi32(k, sixth));
        const __m256i word =
            _mm256_add_epi32(u, _mm256_and_si256(_mm256_cmpeq_epi32(_mm256_and_si256(k, one), one), sixth));
        const __m256i row = _mm256_add_epi32(
            _mm256_add_epi32(_mm256_add_epi32(_mm256_slli_epi32(shiftedS, 6), _mm256_slli_epi32(shiftedS, 5)),
                             _mm256_add_epi32(_mm256_slli_epi32(shiftedS, 2), shiftedS)),
            shiftedL);
        const __m256i blended =
            _mm256_i32gather_epi32(blendedRows, _mm256_add_epi32(_mm256_slli_epi32(row, 7), word), 4);
        const __m256i shuffle = _mm256_add_epi8(_mm256_permutevar8x32_epi32(sixthShuffles, k), laneBytes);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x),
                            _mm256_or_si256(_mm256_shuffle_epi8(blended, shuffle), opaque));
        const unsigned redo = unsigned(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_or_si256(hueTie, saturationTie))));
        const __m256i packed = _mm256_and_si256(
            _mm256_srlv_epi32(_mm256_set1_epi32(int(kPackedLanes[redo])), laneFields), _mm256_set1_epi32(7));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(ties + tieCount),
                            _mm256_add_epi32(_mm256_permutevar8x32_epi32(lanes, packed), _mm256_set1_epi32(x)));
        tieCount += std::popcount(redo);
    }
    adjustRowPlain(in + x, out + x, count - x, adjust);
    return tieCount;
}
#endif

// A piece of a row; the vector paths leave the pixels whose hue lands on a
// half for the plain formula, and list them in ties.
using AdjustPiece = int (*)(const std::uint32_t* in, std::uint32_t* out, int count, const Adjustment& adjust,
                            int* ties);

int adjustPiecePlain(const std::uint32_t* in, std::uint32_t* out, int count, const Adjustment& adjust, int*)
{
    adjustRowPlain(in, out, count, adjust);
    return 0;
}

void adjustRow(const std::uint32_t* in, std::uint32_t* out, int count, const Adjustment& adjust)
{
    // A hue turned below 0 (a position under -180, which no track bar
    // gives) is left to the plain path.
    const AdjustPiece piece =
        adjust.turnsWithinCircle
            ? simdPath<AdjustPiece>(adjustPiecePlain, PLUMORA_X86(adjustPieceAvx2), PLUMORA_X86(adjustPieceAvx512))
            : adjustPiecePlain;
    if (piece == adjustPiecePlain) {
        adjustRowPlain(in, out, count, adjust);
        return;
    }
    // A piece at a time; its ties are done again after it, from a list
    // rather than as they come, which would cost a mispredicted branch in a
    // good share of the vectors.
    constexpr int kPiece = 1024;
    int ties[kPiece + 16];
    for (int x0 = 0; x0 < count; x0 += kPiece) {
        const int n = std::min(kPiece, count - x0);
        const int tieCount = piece(in + x0, out + x0, n, adjust, ties);
        for (int i = 0; i < tieCount; ++i)
            out[x0 + ties[i]] = adjustedPixel(in[x0 + ties[i]], adjust);
    }
}

}  // namespace

TBitmap32 hslAdjust(const TBitmap32& source, int huePosition, int saturationPosition, int lightingPosition)
{
    const Adjustment adjust(huePosition, saturationPosition, lightingPosition);
    TBitmap32 result(source.width(), source.height());
    const int w = source.width();
    parallelRows(source.height(), [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y)
            adjustRow(reinterpret_cast<const std::uint32_t*>(source.ScanLine(y)),
                      reinterpret_cast<std::uint32_t*>(result.ScanLine(y)), w, adjust);
    });
    return result;
}

}  // namespace plumora
