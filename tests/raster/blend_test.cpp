#include "raster/bitmap32.h"

#include "support/pictures.h"

#include <gtest/gtest.h>

#include <array>

namespace plumora {
namespace {

// BlendPixel's four cases in the order they are tested, as plain arithmetic.
std::array<int, 4> literalBlend(std::array<int, 4> d, const std::array<int, 4>& s)
{
    const int sa = s[3], da = d[3];
    if (sa == 0 && da == 0)
        return {255, 255, 255, 0};
    if (sa == 0)
        return d;
    if (da == 0 || sa == 255)
        return s;
    const int f = 255 * sa + 255 * da - sa * da;
    for (int c = 0; c < 3; ++c)
        d[c] = (d[c] * da * (255 - sa) + s[c] * sa * 255) / f;
    d[3] = f / 255;
    return d;
}

// Every pair of fourth bytes, with colour bytes at both ends and in between.
TEST(BlendPixel, EqualsItsFourCasesForEveryPairOfFourthBytes)
{
    const int bytes[] = {0, 1, 77, 128, 254, 255};
    for (int sa = 0; sa < 256; ++sa)
        for (int da = 0; da < 256; ++da)
            for (int dc : bytes)
                for (int sc : bytes) {
                    const std::array<int, 4> d = {dc, 255 - dc, dc / 2, da};
                    const std::array<int, 4> s = {sc, sc / 3, 255 - sc, sa};
                    std::uint8_t dst[4], src[4];
                    for (int i = 0; i < 4; ++i) {
                        dst[i] = std::uint8_t(d[std::size_t(i)]);
                        src[i] = std::uint8_t(s[std::size_t(i)]);
                    }
                    BlendPixel(dst, src);
                    const std::array<int, 4> expected = literalBlend(d, s);
                    for (int i = 0; i < 4; ++i)
                        ASSERT_EQ(dst[i], expected[std::size_t(i)])
                            << "sa " << sa << " da " << da << " byte " << i << " of " << dc << " under " << sc;
                }
}

// DrawTo lays every pixel of the overlap through BlendPixel, at its offset.
TEST(DrawTo, BlendsEveryPixelOfTheOverlapAsBlendPixel)
{
    const TBitmap32 layer = test::randomPicture(13, 9, 3);
    const TBitmap32 target0 = test::randomPicture(10, 11, 4);
    for (const auto& [x0, y0] : {std::pair{0, 0}, {-3, 2}, {4, -5}, {-12, -8}, {9, 10}}) {
        TBitmap32 target = target0;
        layer.DrawTo(x0, y0, target);
        for (int y = 0; y < target.height(); ++y)
            for (int x = 0; x < target.width(); ++x) {
                TBitmap32 expected(1, 1);
                test::setPixel(expected, 0, 0, test::pixelAt(target0, x, y));
                const int lx = x - x0, ly = y - y0;
                if (lx >= 0 && ly >= 0 && lx < layer.width() && ly < layer.height())
                    BlendPixel(expected.bits(), layer.ScanLine(ly) + lx * 4);
                ASSERT_EQ(test::pixelAt(target, x, y), test::pixelAt(expected, 0, 0)) << x << "," << y;
            }
    }
}

}  // namespace
}  // namespace plumora
