#include "raster/simd.h"

#include "support/simd_levels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace plumora {
namespace {

// Stand-ins for a kernel's paths that tell which one was picked.
int plainPath(int x)
{
    return x;
}
int avx2Path(int x)
{
    return x + 2;
}
int avx512Path(int x)
{
    return x + 512;
}

using Path = int (*)(int);

// The path simdPath must give at `level` when the paths marked as given are.
Path expectedPath(SimdLevel level, bool hasAvx2, bool hasAvx512)
{
    if (level == SimdLevel::Avx512 && hasAvx512)
        return avx512Path;
    if (level >= SimdLevel::Avx2 && hasAvx2)
        return avx2Path;
    return plainPath;
}

TEST(SimdPath, TakesTheWidestGivenPathTheLevelAllows)
{
    for (const bool hasAvx2 : {false, true})
        for (const bool hasAvx512 : {false, true})
            for (const auto& [level, name] : test::simdLevelsOfThisMachine()) {
                const SimdLevelCap cap(level);
                const Path path = simdPath(plainPath, hasAvx2 ? avx2Path : nullptr, hasAvx512 ? avx512Path : nullptr);
                EXPECT_EQ(path, expectedPath(level, hasAvx2, hasAvx512))
                    << name << (hasAvx2 ? " with" : " without") << " AVX2, " << (hasAvx512 ? "with" : "without")
                    << " AVX-512";
                EXPECT_EQ(path(1), expectedPath(level, hasAvx2, hasAvx512)(1)) << name;
            }
}

TEST(SimdPath, WithoutACapTakesTheMachinesLevel)
{
    EXPECT_EQ(simdLevel(), machineSimdLevel());
    EXPECT_EQ(simdPath(plainPath, avx2Path, avx512Path), expectedPath(machineSimdLevel(), true, true));
}

TEST(SimdPath, ACapNeverRaisesTheLevelAndEndsWithItsScope)
{
    {
        const SimdLevelCap outer(SimdLevel::Avx512);
        EXPECT_EQ(simdLevel(), machineSimdLevel());
        {
            const SimdLevelCap inner(SimdLevel::Baseline);
            EXPECT_EQ(simdLevel(), SimdLevel::Baseline);
            EXPECT_EQ(simdPath(plainPath, avx2Path, avx512Path), plainPath);
        }
        EXPECT_EQ(simdLevel(), machineSimdLevel());
    }
    EXPECT_EQ(simdPath(plainPath, avx2Path, avx512Path), expectedPath(machineSimdLevel(), true, true));
}

// A plain loop of the kind perLevelPath recompiles: bytes added with
// saturation, and how many of the sums reached 255, so that both the
// arguments and the result travel through the recompiled copies.
[[gnu::always_inline]] inline int addSaturated(const std::uint8_t* __restrict a, const std::uint8_t* __restrict b,
                                               std::uint8_t* __restrict out, int count)
{
    int full = 0;
    for (int i = 0; i < count; ++i) {
        const int sum = a[i] + b[i];
        out[i] = std::uint8_t(sum > 255 ? 255 : sum);
        full += sum >= 255;
    }
    return full;
}

int addSaturatedOutOfLine(const std::uint8_t* a, const std::uint8_t* b, std::uint8_t* out, int count)
{
    return addSaturated(a, b, out, count);
}

TEST(SimdPath, PerLevelCopiesOfAPlainLoopAreDistinctAndComputeTheSame)
{
    std::mt19937 random(7);
    std::vector<std::uint8_t> a(300), b(300);
    for (std::size_t i = 0; i < a.size(); ++i) {
        a[i] = std::uint8_t(random());
        b[i] = std::uint8_t(random());
    }
    std::vector<decltype(&addSaturatedOutOfLine)> seen;
    for (const auto& [level, name] : test::simdLevelsOfThisMachine()) {
        const SimdLevelCap cap(level);
        const auto path = perLevelPath<addSaturated>();
        // The baseline runs the plain function itself; every wider level
        // has a copy of its own.
        if (level == SimdLevel::Baseline) {
            EXPECT_EQ(path, addSaturated) << name;
        }
        EXPECT_EQ(std::count(seen.begin(), seen.end(), path), 0) << name << " runs a narrower level's copy";
        seen.push_back(path);
        // Every length up to a few 512-bit vectors, so every kind of tail.
        for (int count = 0; count <= 300; count += count < 140 ? 1 : 37) {
            std::vector<std::uint8_t> expected(std::size_t(count) + 1, 0xA5), got(std::size_t(count) + 1, 0xA5);
            const int expectedFull = addSaturatedOutOfLine(a.data(), b.data(), expected.data(), count);
            EXPECT_EQ(path(a.data(), b.data(), got.data(), count), expectedFull) << name << ", " << count;
            EXPECT_EQ(got, expected) << name << ", " << count;  // and nothing written past the end
        }
    }
}

}  // namespace
}  // namespace plumora
