#include "effects/colour/color_variety.h"

#include "effects/colour/channel_tint.h"
#include "raster/errors.h"
#include "raster/parallel.h"

#include <algorithm>
#include <array>

namespace plumora {

namespace {

// How many times each click raises blue, green and red.
std::array<int, 3> raisedChannels(ColorVarietyKind kind)
{
    switch (kind) {
    case ColorVarietyKind::MoreRed:
        return {0, 0, 1};
    case ColorVarietyKind::MoreGreen:
        return {0, 1, 0};
    case ColorVarietyKind::MoreBlue:
        return {1, 0, 0};
    case ColorVarietyKind::MoreYellow:
        return {0, 1, 1};
    case ColorVarietyKind::MoreCyan:
        return {1, 1, 0};
    case ColorVarietyKind::MorePurple:
        return {1, 0, 1};
    }
    throw PlumoraError("Unknown colour variety swatch.");
}

// Raising by a with a ceiling and then by b with a ceiling is raising by
// a + b with one, for a, b >= 0: min(255, min(255, c + a) + b) =
// min(255 + b, c + a + b, 255) = min(255, c + a + b). So any run of clicks is
// one raise of each channel by 10 times its count (no more than 255 is
// needed), and the fourth byte is 255 after one click as after many.
ChannelTint foldedClicks(const std::vector<ColorVarietyKind>& steps)
{
    std::array<int, 3> counts{};
    for (const ColorVarietyKind kind : steps) {
        const std::array<int, 3> raised = raisedChannels(kind);
        for (std::size_t c = 0; c < 3; ++c)
            counts[c] = std::min(counts[c] + raised[c], 255);
    }
    ChannelTint tint = ChannelTint{}.full(kAlpha);
    for (std::size_t c = 0; c < 3; ++c)
        tint = tint.plus(int(c), std::min(255, kColorVarietyStep * counts[c]));
    return tint;
}

void tintPicture(const TBitmap32& from, TBitmap32& to, const ChannelTint& tint)
{
    const int w = from.width();
    parallelRows(from.height(), [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y)
            tintRow(from.ScanLine(y), to.ScanLine(y), w, tint);
    });
}

}  // namespace

void colorVarietyStep(TBitmap32& picture, ColorVarietyKind kind)
{
    tintPicture(picture, picture, foldedClicks({kind}));
}

TBitmap32 colorVariety(const TBitmap32& base, const std::vector<ColorVarietyKind>& steps)
{
    if (steps.empty())
        return base;
    const ChannelTint tint = foldedClicks(steps);
    TBitmap32 result(base.width(), base.height());
    tintPicture(base, result, tint);
    return result;
}

}  // namespace plumora
