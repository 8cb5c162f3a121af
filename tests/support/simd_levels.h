#pragma once

#include "raster/simd.h"

#include <vector>

namespace plumora::test {

struct NamedLevel {
    SimdLevel level;
    const char* name;
};

// Every vector level this machine can run, narrowest first: a test runs its
// loop under a SimdLevelCap for each, so every path is checked here.
inline std::vector<NamedLevel> simdLevelsOfThisMachine()
{
    std::vector<NamedLevel> levels = {{SimdLevel::Baseline, "baseline"}};
    if (machineSimdLevel() >= SimdLevel::Avx2)
        levels.push_back({SimdLevel::Avx2, "AVX2"});
    if (machineSimdLevel() >= SimdLevel::Avx512)
        levels.push_back({SimdLevel::Avx512, "AVX-512"});
    return levels;
}

// The levels of this machine in turn: tests that go through many cases
// give each case the next one, so every path meets every kind of case.
inline SimdLevel cycledSimdLevel(int run)
{
    const std::vector<NamedLevel> levels = simdLevelsOfThisMachine();
    return levels[std::size_t(run) % levels.size()].level;
}

}  // namespace plumora::test
