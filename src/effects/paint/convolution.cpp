#include "effects/paint/convolution.h"

#include "raster/errors.h"
#include "raster/parallel.h"
#include "raster/simd.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace plumora {

namespace {

// The weighted sums are worked out in the narrowest lanes no sum can leave:
// 16 bits for the usual small weights (twice as many at once as 32),
// otherwise 32, and 64 for weights so large that a sum of nine of them
// times 255 leaves 32 bits. Weights are not limited, and 64 bits hold every
// such sum exactly, so the clamp to 0..255 then sees the true sum: the
// largest weights give a defined result rather than a wrapped one.
enum class Width { Narrow, Middle, Wide };

Width widthFor(const Kernel3x3& k)
{
    std::int64_t weight = 0;
    for (const int v : k)
        weight += std::abs(std::int64_t(v));
    // Every partial sum lies within weight * 255 of 0; the fixed kernels'
    // responses, worked out in the same lanes, within 1020.
    const std::int64_t largest = std::max<std::int64_t>(weight * 255, 1020);
    return largest <= INT16_MAX ? Width::Narrow : (largest <= INT32_MAX ? Width::Middle : Width::Wide);
}

// The fixed edge kernels of pop art and abstract, and none for realism.
enum class Fixed { None, RightMinusLeft, LeftMinusRight };

template <class Sum>
[[gnu::always_inline]] inline Sum clampSum(Sum s)
{
    return s < 0 ? Sum(0) : (s > 255 ? Sum(255) : s);
}

// Bytes from..end-1 of one row (all four bytes of each pixel; the fourth is
// fixed afterwards) from the rows above, own and below. Realism writes the
// clamped weighted sum; the others 255 minus the larger of it and the fixed
// kernel's clamped response, the inverted colour. Every step is cast back
// to Sum, which lets the compiler use lanes of that width; widthFor
// guarantees nothing is cut.
template <class Sum, Fixed kFixed>
[[gnu::always_inline]] inline void kernelBytes(const std::uint8_t* __restrict up, const std::uint8_t* __restrict own,
                                               const std::uint8_t* __restrict down, std::uint8_t* __restrict out,
                                               int from, int end, const Sum* __restrict k)
{
    const Sum k0 = k[0], k1 = k[1], k2 = k[2], k3 = k[3], k4 = k[4], k5 = k[5], k6 = k[6], k7 = k[7], k8 = k[8];
    for (int i = from; i < end; ++i) {
        Sum s = Sum(k0 * up[i - 4]);
        s = Sum(s + Sum(k1 * up[i]));
        s = Sum(s + Sum(k2 * up[i + 4]));
        s = Sum(s + Sum(k3 * own[i - 4]));
        s = Sum(s + Sum(k4 * own[i]));
        s = Sum(s + Sum(k5 * own[i + 4]));
        s = Sum(s + Sum(k6 * down[i - 4]));
        s = Sum(s + Sum(k7 * down[i]));
        s = Sum(s + Sum(k8 * down[i + 4]));
        s = clampSum(s);
        if constexpr (kFixed == Fixed::None) {
            out[i] = std::uint8_t(s);
        } else {
            // Pop art counts the own row twice.
            constexpr int kOwn = kFixed == Fixed::RightMinusLeft ? 2 : 1;
            const Sum left = Sum(up[i - 4] + kOwn * own[i - 4] + down[i - 4]);
            const Sum right = Sum(up[i + 4] + kOwn * own[i + 4] + down[i + 4]);
            const Sum fixed = clampSum(Sum(kFixed == Fixed::RightMinusLeft ? right - left : left - right));
            out[i] = std::uint8_t(255 - std::max(s, fixed));
        }
    }
}

#define PLUMORA_KERNEL_ROW(name, Sum, kFixed)                                                                          \
    [[gnu::always_inline]] inline void name##Plain(const std::uint8_t* up, const std::uint8_t* own,                    \
                                                   const std::uint8_t* down, std::uint8_t* out, int from, int end,     \
                                                   const Sum* k)                                                       \
    {                                                                                                                  \
        kernelBytes<Sum, kFixed>(up, own, down, out, from, end, k);                                                    \
    }                                                                                                                  \
    void name(const std::uint8_t* up, const std::uint8_t* own, const std::uint8_t* down, std::uint8_t* out, int from,  \
              int end, const Sum* k)                                                                                   \
    {                                                                                                                  \
        perLevelPath<name##Plain>()(up, own, down, out, from, end, k);                                                 \
    }

PLUMORA_KERNEL_ROW(realismRow16, std::int16_t, Fixed::None)
PLUMORA_KERNEL_ROW(realismRow32, std::int32_t, Fixed::None)
PLUMORA_KERNEL_ROW(realismRow64, std::int64_t, Fixed::None)
PLUMORA_KERNEL_ROW(popArtRow16, std::int16_t, Fixed::RightMinusLeft)
PLUMORA_KERNEL_ROW(popArtRow32, std::int32_t, Fixed::RightMinusLeft)
PLUMORA_KERNEL_ROW(popArtRow64, std::int64_t, Fixed::RightMinusLeft)
PLUMORA_KERNEL_ROW(abstractRow16, std::int16_t, Fixed::LeftMinusRight)
PLUMORA_KERNEL_ROW(abstractRow32, std::int32_t, Fixed::LeftMinusRight)
PLUMORA_KERNEL_ROW(abstractRow64, std::int64_t, Fixed::LeftMinusRight)

#undef PLUMORA_KERNEL_ROW

template <class Sum>
using Row = void (*)(const std::uint8_t*, const std::uint8_t*, const std::uint8_t*, std::uint8_t*, int, int,
                     const Sum*);

// One effect's row kernels, and the weights at the width they need.
struct KernelRow {
    Row<std::int16_t> narrow;
    Row<std::int32_t> middle;
    Row<std::int64_t> wide;
    Width width;
    std::int16_t k16[9];
    std::int32_t k32[9];
    std::int64_t k64[9];

    KernelRow(Row<std::int16_t> n, Row<std::int32_t> m, Row<std::int64_t> w, const Kernel3x3& k)
        : narrow(n), middle(m), wide(w), width(widthFor(k))
    {
        for (int j = 0; j < 9; ++j) {
            const int v = k[std::size_t(j)];
            k16[j] = std::int16_t(width == Width::Narrow ? v : 0);
            k32[j] = std::int32_t(width != Width::Wide ? v : 0);
            k64[j] = v;
        }
    }

    // The interior pixels 1..width-2 of one row.
    void operator()(const std::uint8_t* up, const std::uint8_t* own, const std::uint8_t* down, std::uint8_t* out,
                    int pixels) const
    {
        const int from = 4, end = (pixels - 1) * 4;
        switch (width) {
        case Width::Narrow:
            return narrow(up, own, down, out, from, end, k16);
        case Width::Middle:
            return middle(up, own, down, out, from, end, k32);
        case Width::Wide:
            return wide(up, own, down, out, from, end, k64);
        }
    }
};

// Sets the fourth byte of pixels from..end-1 of a row, keeping the colours.
void setAlpha(std::uint8_t* row, int from, int end, std::uint8_t alpha)
{
    auto* px = reinterpret_cast<std::uint32_t*>(row);
    const std::uint32_t fourth = std::uint32_t(alpha) << 24;
    for (int x = from; x < end; ++x)
        px[x] = (px[x] & 0x00FFFFFFu) | fourth;
}

void copyColour(std::uint8_t* to, const std::uint8_t* from)
{
    to[kBlue] = from[kBlue];
    to[kGreen] = from[kGreen];
    to[kRed] = from[kRed];
}

// Pop art and abstract. The result is made row by row: an interior row's
// inverted responses, then its side pixels take the colour of their inner
// neighbours; the top and bottom rows, which repeat rows 1 and H - 2 once
// those are finished, come last. The fourth bytes stay the source's in the
// frame and 0 inside: the inversion turns colours only, as picsobel's does,
// and nothing reads the fourth byte of these results afterwards.
TBitmap32 invertedEdges(const TBitmap32& source, const KernelRow& kernel)
{
    const int w = source.width();
    const int h = source.height();
    if (source.empty())
        return source;
    if (h == 1)
        throw ScanLineError();
    // One pixel wide: the sides would come from a column the picture lacks.
    // We would rather give the picture back than make a neighbour up.
    if (w == 1 && h >= 3)
        return source;

    TBitmap32 result(w, h);
    const std::size_t line = source.bytesPerLine();
    parallelRows(h - 2, [&](int r0, int r1) {
        for (int y = r0 + 1; y < r1 + 1; ++y) {
            const std::uint8_t* own = source.ScanLine(y);
            std::uint8_t* out = result.ScanLine(y);
            if (w >= 3) {
                kernel(source.ScanLine(y - 1), own, source.ScanLine(y + 1), out, w);
                setAlpha(out, 1, w - 1, 0);
            } else {
                // No interior: the sides copy each other below, inverted.
                for (std::size_t i = 0; i < line; ++i)
                    out[i] = std::uint8_t(255 - own[i]);
            }
            out[kAlpha] = own[kAlpha];
            copyColour(out, out + 4);
            out[(w - 1) * 4 + kAlpha] = own[(w - 1) * 4 + kAlpha];
            copyColour(out + (w - 1) * 4, out + (w - 2) * 4);
        }
    });

    // The top row repeats row 1, then the bottom row repeats row H - 2
    // (which in a picture two high is the new top row). In a picture two
    // high no row was made above: row 1's colours are the source's, inverted.
    auto repeatRow = [&](int y, const std::uint8_t* colours, bool invert) {
        const std::uint8_t* alpha = source.ScanLine(y);
        std::uint8_t* out = result.ScanLine(y);
        for (int x = 0; x < w; ++x) {
            for (int c = 0; c < 3; ++c)
                out[x * 4 + c] = std::uint8_t(invert ? 255 - colours[x * 4 + c] : colours[x * 4 + c]);
            out[x * 4 + kAlpha] = alpha[x * 4 + kAlpha];
        }
    };
    if (h == 2) {
        repeatRow(0, source.ScanLine(1), true);
        repeatRow(1, result.ScanLine(0), false);
    } else {
        repeatRow(0, result.ScanLine(1), false);
        repeatRow(h - 1, result.ScanLine(h - 2), false);
    }
    return result;
}

}  // namespace

TBitmap32 realism(const TBitmap32& source, const Kernel3x3& kernel)
{
    const int w = source.width();
    const int h = source.height();
    if (w < 3 || h < 3)
        return source;
    const KernelRow row(realismRow16, realismRow32, realismRow64, kernel);
    TBitmap32 result(w, h);
    std::memcpy(result.ScanLine(0), source.ScanLine(0), source.bytesPerLine());
    std::memcpy(result.ScanLine(h - 1), source.ScanLine(h - 1), source.bytesPerLine());
    parallelRows(h - 2, [&](int r0, int r1) {
        for (int y = r0 + 1; y < r1 + 1; ++y) {
            const std::uint8_t* own = source.ScanLine(y);
            std::uint8_t* out = result.ScanLine(y);
            row(source.ScanLine(y - 1), own, source.ScanLine(y + 1), out, w);
            setAlpha(out, 1, w - 1, 255);
            std::memcpy(out, own, 4);
            std::memcpy(out + (w - 1) * 4, own + (w - 1) * 4, 4);
        }
    });
    return result;
}

TBitmap32 popArt(const TBitmap32& source, const Kernel3x3& kernel)
{
    return invertedEdges(source, KernelRow(popArtRow16, popArtRow32, popArtRow64, kernel));
}

TBitmap32 abstractArt(const TBitmap32& source, const Kernel3x3& kernel)
{
    return invertedEdges(source, KernelRow(abstractRow16, abstractRow32, abstractRow64, kernel));
}

}  // namespace plumora
