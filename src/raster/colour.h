#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "raster/rounding.h"

namespace plumora {

// The grey value of a colour: Round(0.3*R + 0.59*G + 0.11*B), always 0..255.
inline int greyValue(int r, int g, int b)
{
    return int(Round(0.3 * r + 0.59 * g + 0.11 * b));
}

// How the integer paths divide by a grey weights' denominator: shift right
// by preShift, multiply by multiplier and shift right by shift, which is the
// exact quotient for every sum up to the largest one three bytes can give.
struct WholeDivision {
    int preShift = 0;
    std::uint32_t multiplier = 0;
    int shift = 0;
};

// The same in 16-bit lanes, where the whole weights fit in a signed byte
// and every sum in 15 bits: the quotient is the high half of x*multiplier
// shifted right by shift.
struct WordDivision {
    bool usable = false;
    std::uint16_t multiplier = 0;
    int shift = 0;
};

constexpr WholeDivision wholeDivisionFor(int denominator, std::int64_t largest)
{
    int preShift = 0;
    std::int64_t odd = denominator;
    while (odd % 2 == 0) {
        odd /= 2;
        ++preShift;
    }
    const std::int64_t top = largest >> preShift;
    // floor(x*m / 2^s) = floor(x / odd) for x <= top when the multiplier's
    // excess e = m*odd - 2^s keeps top*e below 2^s; the product must fit in
    // 32 bits.
    for (int s = 31; s >= 0; --s) {
        const std::int64_t m = ((std::int64_t(1) << s) + odd - 1) / odd;
        const std::int64_t e = m * odd - (std::int64_t(1) << s);
        if (top * m < (std::int64_t(1) << 32) && top * e < (std::int64_t(1) << s))
            return {preShift, std::uint32_t(m), s};
    }
    throw "no 32-bit multiplier divides these sums exactly";
}

constexpr WordDivision wordDivisionFor(int wholeR, int wholeG, int wholeB, int denominator, std::int64_t largest)
{
    const bool bytes = wholeR >= 0 && wholeR < 128 && wholeG >= 0 && wholeG < 128 && wholeB >= 0 && wholeB < 128;
    if (!bytes || largest >= (1 << 15))
        return {};
    // As above, with 16 + s bits after the point.
    for (int s = 15; s >= 0; --s) {
        const std::int64_t m = ((std::int64_t(1) << (16 + s)) + denominator - 1) / denominator;
        const std::int64_t e = m * denominator - (std::int64_t(1) << (16 + s));
        if (m < (1 << 16) && largest * e < (std::int64_t(1) << (16 + s)))
            return {true, std::uint16_t(m), s};
    }
    return {};
}

// The weights of a weighted grey value Round(r*R + g*G + b*B): the doubles of
// the formula, and the same weights as whole numbers over one denominator.
// The vector paths round the exact whole sum, which is what the doubles give
// except at a tie (a sum ending in exactly half the denominator), where the
// doubles' own rounding error decides: there they use the doubles.
struct GreyWeights {
    constexpr GreyWeights(double r, double g, double b, int wholeR, int wholeG, int wholeB, int denominator)
        : r(r), g(g), b(b), wholeR(wholeR), wholeG(wholeG), wholeB(wholeB), denominator(denominator),
          division(wholeDivisionFor(denominator, largestSum())),
          words(wordDivisionFor(wholeR, wholeG, wholeB, denominator, largestSum()))
    {}

    double r;
    double g;
    double b;
    int wholeR;
    int wholeG;
    int wholeB;
    int denominator;
    WholeDivision division;
    WordDivision words;

private:
    // The largest whole sum three bytes give, plus half the denominator.
    constexpr std::int64_t largestSum() const
    {
        return std::int64_t(255) * (wholeR + wholeG + wholeB) + denominator / 2;
    }
};

// The grey value's weights.
inline constexpr GreyWeights kGreyWeights(0.3, 0.59, 0.11, 30, 59, 11, 100);
static_assert(kGreyWeights.words.usable);

// Round(w.r*R + w.g*G + w.b*B) of `count` pixels (blue, green, red, fourth
// byte) into out, exactly as the plain formula in double (which the tests
// check over every colour for every path). The weights must keep every
// result within 0..255.
void weightedGreyRow(const std::uint8_t* pixels, std::size_t count, std::uint8_t* out, const GreyWeights& w);

// ink[i] := 0xFF where the weighted grey value of pixel i is at most
// limit, 0 where it is above: exactly that comparison of the plain formula,
// made on the whole sum without working out the grey value.
void darkRow(const std::uint8_t* pixels, std::size_t count, const GreyWeights& w, int limit, std::uint8_t* ink);

// Hands the weighted grey values of a row's `width` pixels to
// use(firstPixel, grey, count), a piece of at most 1024 pixels at a time, so
// that the grey values are still in the cache when `use` reads them. `use`
// may overwrite the piece's pixels: they are not read again.
template <class Use>
void forEachGreyPiece(const std::uint8_t* pixels, int width, const GreyWeights& w, Use&& use)
{
    constexpr int kPiece = 1024;
    std::uint8_t grey[kPiece];
    for (int x0 = 0; x0 < width; x0 += kPiece) {
        const int n = std::min(kPiece, width - x0);
        weightedGreyRow(pixels + std::size_t(x0) * 4, std::size_t(n), grey, w);
        use(x0, static_cast<const std::uint8_t*>(grey), n);
    }
}

// Grey values of `count` pixels into out: exactly greyValue.
inline void greyRow(const std::uint8_t* pixels, std::size_t count, std::uint8_t* out)
{
    weightedGreyRow(pixels, count, out, kGreyWeights);
}

// Hue in whole degrees (0..360; 360 only as the rounding of a hue just below
// a full turn), saturation and lightness in whole percent.
struct IntHSL {
    int h = 0;
    int s = 0;
    int l = 0;
    friend bool operator==(const IntHSL&, const IntHSL&) = default;
};

struct IntRGB {
    int r = 0;
    int g = 0;
    int b = 0;
    friend bool operator==(const IntRGB&, const IntRGB&) = default;
};

IntHSL IntRGBtoHSL(int r, int g, int b);
// The hue of IntRGBtoHSL alone, by the very same floating-point operations
// (which decide where a hue lands on a half), for a colour that is not grey.
int intHueOf(int r, int g, int b);

// Builds a colour from a pure hue blended towards mid grey by the saturation
// and towards white or black by the lightness. Not the inverse of
// IntRGBtoHSL. Anything outside H 0..359, S and L 0..100 gives black.
IntRGB IntHSLtoRGB(int h, int s, int l);

}  // namespace plumora
