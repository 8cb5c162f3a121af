#include "effects/colour/color_filter.h"

#include "raster/colour.h"
#include "raster/errors.h"
#include "raster/parallel.h"
#include "raster/simd.h"

#include <cstring>

namespace plumora {

namespace {

// The bits the filter turns full on, the fourth byte's among them.
std::uint32_t fullChannels(ColorFilterKind kind)
{
    constexpr std::uint32_t kR = 0x00FF0000u, kG = 0x0000FF00u, kB = 0x000000FFu, kFourth = 0xFF000000u;
    switch (kind) {
    case ColorFilterKind::Red:
        return kFourth | kR;
    case ColorFilterKind::Green:
        return kFourth | kG;
    case ColorFilterKind::Blue:
        return kFourth | kB;
    case ColorFilterKind::Yellow:
        return kFourth | kR | kG;
    case ColorFilterKind::Cyan:
        return kFourth | kG | kB;
    case ColorFilterKind::Purple:
        return kFourth | kR | kB;
    }
    throw PlumoraError("Unknown colour filter.");
}

// Grey v in all three channels, then the full ones set: v | 0xFF is 0xFF.
[[gnu::always_inline]] inline void filterPiecePlain(const std::uint8_t* __restrict grey, int count, std::uint32_t full,
                                                    std::uint8_t* __restrict out)
{
    for (int i = 0; i < count; ++i) {
        const std::uint32_t pixel = std::uint32_t(grey[i]) * 0x010101u | full;
        std::memcpy(out + std::size_t(i) * 4, &pixel, 4);
    }
}

void filterPiece(const std::uint8_t* grey, int count, std::uint32_t full, std::uint8_t* out)
{
    perLevelPath<filterPiecePlain>()(grey, count, full, out);
}

}  // namespace

TBitmap32 colorFilter(const TBitmap32& base, ColorFilterKind kind)
{
    const std::uint32_t full = fullChannels(kind);
    TBitmap32 result(base.width(), base.height());
    const int w = base.width();
    parallelRows(base.height(), [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            std::uint8_t* out = result.ScanLine(y);
            forEachGreyPiece(base.ScanLine(y), w, kGreyWeights, [&](int x0, const std::uint8_t* grey, int n) {
                filterPiece(grey, n, full, out + std::size_t(x0) * 4);
            });
        }
    });
    return result;
}

}  // namespace plumora
