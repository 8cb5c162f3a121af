#include "effects/relief/stria.h"

#include "raster/errors.h"
#include "raster/parallel.h"
#include "raster/simd.h"

#include <cstring>
#include <vector>

namespace plumora {

namespace {

// What DrawTo does to a pixel of the picture under a stripe, when that pixel
// is opaque (as every picture the program opens is). BlendPixel then has
// f = 255 * 255, and each channel becomes
//   (d * 255 * (255 - sa) + s * sa * 255) div 65025 = (d * (255 - sa) + s * sa) div 255
// with fourth byte f div 255 = 255. Its other cases agree: sa = 0 keeps the
// opaque pixel, sa = 255 takes the stripe colour, opaque.
// x div 255 for x up to 65025 is (x * 32897) >> 23 (32897 * 255 = 2^23 + 127,
// and 65025 * 127 < 2^23), which vector loops do well.
struct OverOpaque {
    std::uint32_t keep;  // 255 - sa
    std::uint32_t blue;  // the stripe colour times sa
    std::uint32_t green;
    std::uint32_t red;
};

[[gnu::always_inline]] inline std::uint32_t over(std::uint32_t pixel, const OverOpaque& s)
{
    const std::uint32_t b = ((pixel & 0xFF) * s.keep + s.blue) * 32897 >> 23;
    const std::uint32_t g = ((pixel >> 8 & 0xFF) * s.keep + s.green) * 32897 >> 23;
    const std::uint32_t r = ((pixel >> 16 & 0xFF) * s.keep + s.red) * 32897 >> 23;
    return 0xFF000000u | r << 16 | g << 8 | b;
}

// A run of pixels all under stripes (mask null), or under a stripe where
// mask[i] is all ones and under a gap (left as they are) where it is 0.
// fourthBytes collects the AND of the pixels' fourth bytes: below 255 when
// some pixel was not opaque and needs BlendPixel itself.
[[gnu::always_inline]] inline void stripeRunPlain(const std::uint8_t* __restrict in, std::uint8_t* __restrict out,
                                                  int count, const std::uint32_t* __restrict mask, const OverOpaque& s,
                                                  std::uint32_t* fourthBytes)
{
    std::uint32_t all = 0xFF000000u;
    for (int i = 0; i < count; ++i) {
        std::uint32_t pixel;
        std::memcpy(&pixel, in + std::size_t(i) * 4, 4);
        all &= pixel;
        const std::uint32_t m = mask ? mask[i] : 0xFFFFFFFFu;
        const std::uint32_t result = (over(pixel, s) & m) | (pixel & ~m);
        std::memcpy(out + std::size_t(i) * 4, &result, 4);
    }
    *fourthBytes = all >> 24;
}

void stripeRun(const std::uint8_t* in, std::uint8_t* out, int count, const std::uint32_t* mask, const OverOpaque& s,
               std::uint32_t* fourthBytes)
{
    perLevelPath<stripeRunPlain>()(in, out, count, mask, s, fourthBytes);
}

struct Layer {
    std::uint8_t stripe[4];  // the layer's stripe pixel: blue, green, red, fourth byte
    std::uint8_t gap[4];     // and its gap pixel, transparent white
    OverOpaque opaque;
};

// The pixels of a row that were not opaque, blended one by one exactly as
// DrawTo would; isStripe(x) tells which layer pixel lies over column x.
template <class IsStripe>
void blendNonOpaque(const std::uint8_t* in, std::uint8_t* out, int width, const Layer& layer, IsStripe&& isStripe)
{
    for (int x = 0; x < width; ++x) {
        const std::size_t at = std::size_t(x) * 4;
        if (in[at + kAlpha] != 255) {
            std::memcpy(out + at, in + at, 4);
            BlendPixel(out + at, isStripe(x) ? layer.stripe : layer.gap);
        }
    }
}

}  // namespace

TBitmap32 stria(const TBitmap32& source, StriaDirection direction, int thickness, int space, int transparency,
                std::uint32_t rgb)
{
    if (thickness < 0 || space < 0 || (thickness == 0 && space == 0))
        throw PlumoraError("The stripes' thickness and space must not be negative, nor both 0.");
    if (transparency < 0 || transparency > 255)
        throw PlumoraError("The stripes' transparency must lie within 0..255.");
    const std::int64_t period = std::int64_t(thickness) + space;
    auto isStripe = [&](int i) { return i % period < thickness; };

    const std::uint32_t sa = 255 - std::uint32_t(transparency);
    const std::uint8_t red = std::uint8_t(rgb >> 16), green = std::uint8_t(rgb >> 8), blue = std::uint8_t(rgb);
    const Layer layer{
        {blue, green, red, std::uint8_t(sa)}, {255, 255, 255, 0}, {255 - sa, blue * sa, green * sa, red * sa}};

    const int w = source.width();
    TBitmap32 result(w, source.height());
    // The layer's columns are the same in every row of vertical stripes.
    std::vector<std::uint32_t> columns;
    if (direction == StriaDirection::Vertical) {
        columns.resize(std::size_t(w));
        for (int x = 0; x < w; ++x)
            columns[std::size_t(x)] = isStripe(x) ? 0xFFFFFFFFu : 0;
    }
    // Each layer pixel lies over the picture pixel at the same place, so rows
    // are independent; no layer picture is needed, only which pixel it holds.
    parallelRows(source.height(), [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            const std::uint8_t* in = source.ScanLine(y);
            std::uint8_t* out = result.ScanLine(y);
            std::uint32_t fourthBytes = 255;
            if (direction == StriaDirection::Vertical) {
                stripeRun(in, out, w, columns.data(), layer.opaque, &fourthBytes);
                if (fourthBytes != 255)
                    blendNonOpaque(in, out, w, layer, [&](int x) { return columns[std::size_t(x)] != 0; });
            } else {
                const bool stripeRow = isStripe(y);
                if (stripeRow) {
                    stripeRun(in, out, w, nullptr, layer.opaque, &fourthBytes);
                } else {
                    // Under a gap an opaque pixel stays as it is.
                    std::memcpy(out, in, std::size_t(w) * 4);
                    for (int x = 0; x < w; ++x)
                        fourthBytes &= in[std::size_t(x) * 4 + kAlpha];
                }
                if (fourthBytes != 255)
                    blendNonOpaque(in, out, w, layer, [&](int) { return stripeRow; });
            }
        }
    });
    return result;
}

}  // namespace plumora
