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

// GCC 12's AVX-512 headers fill unused lanes from a deliberately undefined
// value, which its own -Wuninitialized then reports: code with AVX-512
// intrinsics goes between these two. (Clang, which builds the fuzzers, has
// no such warning and does not know GCC's name for the second one.)
#if defined(__clang__)
#define PLUMORA_AVX512_CODE_BEGIN _Pragma("GCC diagnostic push")
#else
#define PLUMORA_AVX512_CODE_BEGIN                                  \
    _Pragma("GCC diagnostic push")                                 \
    _Pragma("GCC diagnostic ignored \"-Wuninitialized\"")         \
    _Pragma("GCC diagnostic ignored \"-Wmaybe-uninitialized\"")
#endif
#define PLUMORA_AVX512_CODE_END _Pragma("GCC diagnostic pop")

// Defines the function `name(params)` as `plain(args)` compiled once per
// level and chosen by simdLevel() at each call. `plain` is an always-inline
// function of plain C++ whose loops the compiler vectorises by itself: the
// one source then runs on 512- or 256-bit vectors where the processor has
// them, and on SSE2 elsewhere.
#if PLUMORA_HAS_X86_PATHS
#define PLUMORA_PER_LEVEL(name, plain, params, args)                  \
    PLUMORA_TARGET_AVX512 static void name##Avx512 params { plain args; } \
    PLUMORA_TARGET_AVX2 static void name##Avx2 params { plain args; }     \
    void name params                                                  \
    {                                                                 \
        switch (::plumora::simdLevel()) {                             \
        case ::plumora::SimdLevel::Avx512:                            \
            return name##Avx512 args;                                 \
        case ::plumora::SimdLevel::Avx2:                              \
            return name##Avx2 args;                                   \
        case ::plumora::SimdLevel::Baseline:                          \
            break;                                                    \
        }                                                             \
        plain args;                                                   \
    }
#else
#define PLUMORA_PER_LEVEL(name, plain, params, args) \
    void name params { plain args; }
#endif

}  // namespace plumora
