#pragma once

// What the benchmark files share: the picture sizes their arguments name,
// the photograph-like picture they work on, and the extra ratio lines that
// raster_bench's reporter prints after its table.

#include "raster/bitmap32.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace plumora::bench {

// The process's resident memory, from /proc/self/statm (0 where there is none).
inline std::size_t residentBytes()
{
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f)
        return 0;
    unsigned long size = 0, resident = 0;
    const int read = std::fscanf(f, "%lu %lu", &size, &resident);
    std::fclose(f);
    return read == 2 ? resident * std::size_t(sysconf(_SC_PAGESIZE)) : 0;
}

struct Size {
    const char* label;
    int width;
    int height;
};
// A benchmark's argument is an index into this: 0 is 1 MP, 1 is 12 MP, 2 is 24 MP.
inline constexpr Size kSizes[] = {{"1MP", 1224, 816}, {"12MP", 4240, 2832}, {"24MP", 6000, 4000}};

// A photograph-like picture: smooth shading, hard edges and some noise, so
// that no branch is always taken. Opaque, as every opened picture is.
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

// One line of the table printed after the run: the time of `name` over the
// sum of the times of `floor` at the same size (medians when repetitions
// were asked for). `floor` lists benchmark names; one name is a plain ratio.
struct RatioLine {
    std::string name;
    std::vector<std::string> floor;
    std::string meaning;  // what the ratio says, printed beside it
};

inline std::vector<RatioLine>& ratioLines()
{
    static std::vector<RatioLine> lines;
    return lines;
}

// For a static initialiser in the file that defines the benchmarks.
inline bool addRatioLine(RatioLine line)
{
    ratioLines().push_back(std::move(line));
    return true;
}

}  // namespace plumora::bench
