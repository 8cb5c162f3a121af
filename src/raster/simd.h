#pragma once

#include <type_traits>

namespace plumora {

// The widest vector instructions the pixel loops use. Each loop with vector
// paths picks one by this level at every call (through simdPath below), so
// the tests can run the narrower paths on a machine that has the wider ones.
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
#define PLUMORA_AVX512_CODE_BEGIN                                                                                      \
    _Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Wuninitialized\"")                               \
        _Pragma("GCC diagnostic ignored \"-Wmaybe-uninitialized\"")
#endif
#define PLUMORA_AVX512_CODE_END _Pragma("GCC diagnostic pop")

// Every loop with vector paths picks its path here, and only here:
//
//   simdPath(plain, PLUMORA_X86(avx2), PLUMORA_X86(avx512))(arguments...)
//
// gives the widest of the three functions that simdLevel() allows, asked
// at each call so that a SimdLevelCap takes effect at once. `plain` is the
// formula in plain C++ (which the compiler may still vectorise for the
// baseline); it is always there, and the tests hold every other path to
// it. A wider path may be nullptr: that level then uses the next narrower
// path given. The wider paths exist only on x86-64, so they are named
// through PLUMORA_X86, which makes them nullptr elsewhere.
//
// A loop the compiler vectorises well by itself goes through perLevelPath
// below. One it does not (branches per pixel, library calls, shuffles) gets
// paths written for each level, passed in here as avx2 and avx512; kernels
// from a vector library's per-target namespaces are passed in the same way,
// never through the library's own dispatch, which knows no SimdLevelCap.
template <class Fn>
Fn simdPath(Fn plain, std::type_identity_t<Fn> avx2, std::type_identity_t<Fn> avx512)
{
    switch (simdLevel()) {
    case SimdLevel::Avx512:
        if (avx512)
            return avx512;
        [[fallthrough]];
    case SimdLevel::Avx2:
        if (avx2)
            return avx2;
        [[fallthrough]];
    case SimdLevel::Baseline:
        break;
    }
    return plain;
}

#if PLUMORA_HAS_X86_PATHS
#define PLUMORA_X86(path) path
#else
#define PLUMORA_X86(path) nullptr
#endif

// `plain` compiled once more for each wider level. `plain` is then an
// always-inline function of plain C++ whose loops the compiler vectorises
// by itself: the one source runs on 512- or 256-bit vectors where the
// processor has them and on SSE2 elsewhere.
template <auto plain, class Fn = decltype(plain)>
struct RecompiledPerLevel;

template <auto plain, class R, class... Args>
struct RecompiledPerLevel<plain, R (*)(Args...)> {
#if PLUMORA_HAS_X86_PATHS
    PLUMORA_TARGET_AVX2 static R avx2(Args... args)
    {
        return plain(args...);
    }
    PLUMORA_TARGET_AVX512 static R avx512(Args... args)
    {
        return plain(args...);
    }
#endif
};

// The path of `plain` recompiled per level, by the same choice:
//   perLevelPath<orIntoPlain>()(acc, from, count);
template <auto plain>
decltype(plain) perLevelPath()
{
    return simdPath(plain, PLUMORA_X86(RecompiledPerLevel<plain>::avx2),
                    PLUMORA_X86(RecompiledPerLevel<plain>::avx512));
}

}  // namespace plumora
