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

// Round(wr*R + wg*G + wb*B) of `count` pixels (blue, green, red, fourth
// byte) into out, the same double operations in the same order as the plain
// formula, several pixels at a time. The weights must keep every result
// within 0..255.
void weightedGreyRow(const std::uint8_t* pixels, std::size_t count, std::uint8_t* out, double wr, double wg,
                     double wb);

namespace detail {
// The two vector paths behind weightedGreyRow (chosen by the processor);
// the tests run both over every colour. The AVX2 one exists only on x86-64
// and must be called only where the processor has AVX2.
void weightedGreyRowSse2(const std::uint8_t* pixels, std::size_t count, std::uint8_t* out, double wr, double wg,
                         double wb);
void weightedGreyRowAvx2(const std::uint8_t* pixels, std::size_t count, std::uint8_t* out, double wr, double wg,
                         double wb);
bool hasAvx2();
}  // namespace detail

// The weights of the grey value.
struct GreyWeights {
    double r;
    double g;
    double b;
};
inline constexpr GreyWeights kGreyWeights{0.3, 0.59, 0.11};

// Hands the weighted grey values of a row's `width` pixels to
// use(firstPixel, grey, count), a piece of at most 1024 pixels at a time, so
// that the grey values are still in the cache when `use` reads them. `use`
// may overwrite the piece's pixels: they are not read again.
template <class Use>
void forEachGreyPiece(const std::uint8_t* pixels, int width, GreyWeights w, Use&& use)
{
    constexpr int kPiece = 1024;
    std::uint8_t grey[kPiece];
    for (int x0 = 0; x0 < width; x0 += kPiece) {
        const int n = std::min(kPiece, width - x0);
        weightedGreyRow(pixels + std::size_t(x0) * 4, std::size_t(n), grey, w.r, w.g, w.b);
        use(x0, static_cast<const std::uint8_t*>(grey), n);
    }
}

// Grey values of `count` pixels into out: exactly greyValue.
inline void greyRow(const std::uint8_t* pixels, std::size_t count, std::uint8_t* out)
{
    weightedGreyRow(pixels, count, out, kGreyWeights.r, kGreyWeights.g, kGreyWeights.b);
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

// Builds a colour from a pure hue blended towards mid grey by the saturation
// and towards white or black by the lightness. Not the inverse of
// IntRGBtoHSL. Anything outside H 0..359, S and L 0..100 gives black.
IntRGB IntHSLtoRGB(int h, int s, int l);

}  // namespace plumora
