#pragma once

namespace plumora {

// The widest vector instructions the pixel loops use. Each loop with vector
// paths picks one by this level at every call, so the tests can run the
// narrower paths on a machine that has the wider ones.
//   Baseline: what every x86-64 has (SSE2), or plain C++ elsewhere.
//   Avx2:     AVX2.
//   Avx512:   AVX-512 F, BW, VL and VBMI (byte permutes for table lookups).
enum class SimdLevel { Baseline, Avx2, Avx512 };

// The machine's level, lowered by any SimdLevelCap in force.
SimdLevel simdLevel();
SimdLevel machineSimdLevel();

// While it lives, no loop uses a path above `cap` (in any thread).
class SimdLevelCap {
public:
    explicit SimdLevelCap(SimdLevel cap);
    ~SimdLevelCap();
    SimdLevelCap(const SimdLevelCap&) = delete;
    SimdLevelCap& operator=(const SimdLevelCap&) = delete;

private:
    int m_previous;
};

// The attributes that let one function use a level's instructions.
#if defined(__x86_64__) && defined(__GNUC__)
#define PLUMORA_HAS_X86_PATHS 1
#define PLUMORA_TARGET_AVX2 __attribute__((target("avx2")))
#define PLUMORA_TARGET_AVX512 __attribute__((target("avx2,avx512f,avx512bw,avx512vl,avx512vbmi")))
#else
#define PLUMORA_HAS_X86_PATHS 0
#endif

}  // namespace plumora
