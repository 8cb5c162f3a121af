#pragma once

// Shared by the colour adjustment tests: the sizes that catch edge faults,
// the pictures to try them on, and byte access by channel.

#include "effects/sketch_pictures.h"
#include "raster/parallel.h"
#include "support/pictures.h"
#include "support/simd_levels.h"

#include <string>
#include <utility>
#include <vector>

namespace plumora::test {

// One and two pixels wide and high, odd and even, around the 3 and 4 that
// the panels need, and a few larger ones to spread over several threads.
inline const std::vector<std::pair<int, int>>& colourTestSizes()
{
    static const std::vector<std::pair<int, int>> sizes = {
        {1, 1}, {2, 9}, {9, 2}, {3, 3}, {4, 4},   {5, 5},  {1, 17},  {17, 1},   {2, 2},     {3, 8},
        {8, 3}, {6, 7}, {7, 6}, {8, 8}, {11, 13}, {16, 9}, {97, 61}, {64, 130}, {1100, 21}, {33, 640}};
    return sizes;
}

// Photograph-like shading with dots and blocks, or noise in every byte
// (fourth bytes included), by seed.
inline TBitmap32 colourTestPicture(int width, int height, unsigned seed)
{
    return seed % 2 == 1 ? sketchPicture(width, height, seed) : randomPicture(width, height, seed);
}

// Runs check(picture, label) on both kinds of picture of every test size,
// each run under the next thread count (1 to 3) and the next vector level of
// this machine, so that every path meets every kind of size.
template <class Check>
void forEachColourTestPicture(Check&& check)
{
    int run = 0;
    for (const auto& [w, h] : colourTestSizes())
        for (unsigned seed = 1; seed <= 2; ++seed) {
            setThreadCount(run % 3 + 1);
            const SimdLevelCap cap(cycledSimdLevel(run / 3));
            ++run;
            check(colourTestPicture(w, h, seed),
                  std::to_string(w) + "x" + std::to_string(h) + " seed " + std::to_string(seed));
        }
    setThreadCount(0);
}

inline int byteAt(const TBitmap32& picture, int x, int y, int channel)
{
    return picture.ScanLine(y)[std::size_t(x) * 4 + std::size_t(channel)];
}

inline void setByte(TBitmap32& picture, int x, int y, int channel, int value)
{
    picture.ScanLine(y)[std::size_t(x) * 4 + std::size_t(channel)] = std::uint8_t(value);
}

inline std::uint32_t opaqueColour(int r, int g, int b)
{
    return 0xFF000000u | std::uint32_t(r) << 16 | std::uint32_t(g) << 8 | std::uint32_t(b);
}

}  // namespace plumora::test
