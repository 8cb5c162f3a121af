#pragma once

// The picture every benchmark of plumora_bench starts from, so that their
// figures divide by the same copy.

#include "raster/bitmap32.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>

namespace plumora::bench {

struct Size {
    const char* label;
    int width;
    int height;
};
// Benchmark argument 0, 1, 2.
inline constexpr Size kSizes[] = {{"1MP", 1224, 816}, {"12MP", 4240, 2832}, {"24MP", 6000, 4000}};

// A photograph-like picture: smooth shading, hard edges and some noise, so
// that no branch is always taken.
inline const TBitmap32& photo(int index)
{
    static std::unique_ptr<TBitmap32> cache[3];
    if (!cache[index]) {
        const Size s = kSizes[index];
        auto p = std::make_unique<TBitmap32>(s.width, s.height);
        std::uint32_t noise = 12345;
        for (int y = 0; y < s.height; ++y) {
            std::uint8_t* row = p->ScanLine(y);
            for (int x = 0; x < s.width; ++x) {
                noise = noise * 1664525u + 1013904223u;
                const int n = int(noise >> 28) - 8;
                const bool stripe = ((x / 97) + (y / 61)) % 2 == 0;
                row[x * 4 + 0] = std::uint8_t(std::clamp((x * 255 / s.width) + n, 0, 255));
                row[x * 4 + 1] = std::uint8_t(std::clamp((y * 255 / s.height) + n + (stripe ? 40 : 0), 0, 255));
                row[x * 4 + 2] = std::uint8_t(std::clamp(int(128 + 100 * std::sin(x * 0.01 + y * 0.02)) + n, 0, 255));
                row[x * 4 + 3] = 255;
            }
        }
        cache[index] = std::move(p);
    }
    return *cache[index];
}

}  // namespace plumora::bench
