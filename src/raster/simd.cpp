#include "raster/simd.h"

#include <algorithm>
#include <atomic>

namespace plumora {

namespace {

std::atomic<int> g_cap{int(SimdLevel::Avx512)};

}  // namespace

SimdLevel machineSimdLevel()
{
#if PLUMORA_HAS_X86_PATHS
    static const SimdLevel level = [] {
        if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
            __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi"))
            return SimdLevel::Avx512;
        if (__builtin_cpu_supports("avx2"))
            return SimdLevel::Avx2;
        return SimdLevel::Baseline;
    }();
    return level;
#else
    return SimdLevel::Baseline;
#endif
}

SimdLevel simdLevel()
{
    return SimdLevel(std::min(int(machineSimdLevel()), g_cap.load(std::memory_order_relaxed)));
}

SimdLevelCap::SimdLevelCap(SimdLevel cap) : m_previous(g_cap.exchange(int(cap)))
{}

SimdLevelCap::~SimdLevelCap()
{
    g_cap.store(m_previous);
}

}  // namespace plumora
