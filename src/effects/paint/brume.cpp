#include "effects/paint/brume.h"

#include "raster/parallel.h"
#include "raster/simd.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#if PLUMORA_HAS_X86_PATHS
#include <immintrin.h>
#endif

namespace plumora {

namespace {

constexpr std::uint32_t kMultiplier = 134775813u;  // 0x08088405

// One or more steps of the generator as one affine map s -> a * s + c
// (mod 2^32): composing maps is how the state skips ahead.
struct Steps {
    std::uint32_t a = 1;
    std::uint32_t c = 0;

    std::uint32_t operator()(std::uint32_t s) const { return a * s + c; }
    // These steps, then `next`.
    Steps then(Steps next) const { return {next.a * a, next.a * c + next.c}; }
};

Steps stepsOf(std::uint64_t n)
{
    Steps result;
    Steps power{kMultiplier, 1};
    for (; n != 0; n >>= 1) {
        if (n & 1)
            result = result.then(power);
        power = power.then(power);
    }
    return result;
}

// The draws of one row: after state s0, draw i leaves the generator in
// state steps[i](s0), so draw i is below * steps[i](s0) >> 32. Each draw on
// its own rather than state after state: the loop becomes vector code.
[[gnu::always_inline]] inline void rowDrawsPlain(std::uint32_t s0, const std::uint32_t* __restrict a,
                                                 const std::uint32_t* __restrict c, int count, std::uint32_t below,
                                                 std::uint8_t* __restrict out)
{
    // (s * below) >> 32 in two halves of 16 bits, all in 32-bit lanes (for
    // below up to 2^16): floor((hi * below + floor(lo * below / 2^16)) / 2^16).
    for (int i = 0; i < count; ++i) {
        const std::uint32_t s = a[i] * s0 + c[i];
        out[i] = std::uint8_t(((s >> 16) * below + (((s & 0xFFFFu) * below) >> 16)) >> 16);
    }
}

void rowDraws(std::uint32_t s0, const std::uint32_t* a, const std::uint32_t* c, int count, std::uint32_t below,
              std::uint8_t* out)
{
    perLevelPath<rowDrawsPlain>()(s0, a, c, count, below, out);
}

// One row's pixels from..to-1, which cannot reach outside the picture's
// columns: pixel x takes the colour of own[rowOffset[row draw] + x +
// column draw - scope] (rowOffset: from row y to the clamped row of each row
// draw, in pixels) and keeps its own fourth byte.
void fetchPlain(const std::uint32_t* own, std::uint32_t* out, const std::uint8_t* draws, const std::int32_t* rowOffset,
                int scope, int from, int to)
{
    for (int x = from; x < to; ++x) {
        const std::uint8_t* d = draws + 2 * (x - 1);
        out[x] = (own[rowOffset[d[0]] + x + d[1] - scope] & 0x00FFFFFFu) | (own[x] & 0xFF000000u);
    }
}

#if PLUMORA_HAS_X86_PATHS
PLUMORA_AVX512_CODE_BEGIN
// The same, 16 pixels a step, without gathers (slow on some processors):
// the 16 pixels fetch from the 32 columns starting scope columns to their
// left, so each row they may fetch from is two loads and one permute, and
// the row draw picks the row. For scopes up to 14.
PLUMORA_TARGET_AVX512 void fetchAvx512(const std::uint32_t* own, std::uint32_t* out, const std::uint8_t* draws,
                                       const std::int32_t* rowOffset, int rowDraws, int scope, int from, int to,
                                       int width)
{
    const __m512i lanes = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m512i colour = _mm512_set1_epi32(0x00FFFFFF);
    int x = from;
    for (; x + 16 <= to && x - scope + 32 <= width; x += 16) {
        // Each pixel's two draws as one 16-bit word: row draw, column draw.
        const __m512i pair =
            _mm512_cvtepu16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(draws + 2 * (x - 1))));
        const __m512i rowDraw = _mm512_and_si512(pair, _mm512_set1_epi32(0xFF));
        const __m512i column = _mm512_add_epi32(_mm512_srli_epi32(pair, 8), lanes);
        __m512i fetched = _mm512_setzero_si512();
        for (int d = 0; d < rowDraws; ++d) {
            const std::uint32_t* window = own + rowOffset[d] + x - scope;
            const __m512i picked =
                _mm512_permutex2var_epi32(_mm512_loadu_si512(window), column, _mm512_loadu_si512(window + 16));
            fetched = _mm512_mask_mov_epi32(fetched, _mm512_cmpeq_epi32_mask(rowDraw, _mm512_set1_epi32(d)), picked);
        }
        // The colour bytes fetched, the fourth byte the pixel's own.
        _mm512_storeu_si512(out + x, _mm512_ternarylogic_epi32(colour, fetched, _mm512_loadu_si512(own + x), 0xCA));
    }
    fetchPlain(own, out, draws, rowOffset, scope, x, to);
}
PLUMORA_AVX512_CODE_END
#endif

void fetchPlainOf(const std::uint32_t* own, std::uint32_t* out, const std::uint8_t* draws,
                  const std::int32_t* rowOffset, int scope, int from, int to, int)
{
    fetchPlain(own, out, draws, rowOffset, scope, from, to);
}

#if PLUMORA_HAS_X86_PATHS
// The rows a pixel may fetch from fit in registers up to scope 14.
void fetchAvx512Of(const std::uint32_t* own, std::uint32_t* out, const std::uint8_t* draws,
                   const std::int32_t* rowOffset, int scope, int from, int to, int width)
{
    if (scope <= 14)
        fetchAvx512(own, out, draws, rowOffset, scope + 3, scope, from, to, width);
    else
        fetchPlain(own, out, draws, rowOffset, scope, from, to);
}
#endif

void fetch(const std::uint32_t* own, std::uint32_t* out, const std::uint8_t* draws, const std::int32_t* rowOffset,
           int scope, int from, int to, int width)
{
    simdPath(fetchPlainOf, nullptr, PLUMORA_X86(fetchAvx512Of))(own, out, draws, rowOffset, scope, from, to, width);
}

}  // namespace

std::uint32_t BrumeRandom::draw(std::uint32_t below)
{
    m_state = m_state * kMultiplier + 1;
    return std::uint32_t((std::uint64_t(m_state) * below) >> 32);
}

void BrumeRandom::skip(std::uint64_t draws)
{
    m_state = stepsOf(draws)(m_state);
}

std::uint64_t brumeDraws(int width, int height)
{
    if (width < 1 || height < 1)
        return 0;
    return 2 * std::uint64_t(width - 1) * std::uint64_t(height - 1);
}

TBitmap32 brume(const TBitmap32& source, int scope, BrumeRandom& random)
{
    const int w = source.width();
    const int h = source.height();
    if (scope < 0 || scope > 250)
        throw std::invalid_argument("brume: scope " + std::to_string(scope) + " is outside 0..250");
    const std::uint64_t total = brumeDraws(w, h);
    if (total == 0)
        return source;
    const int perRow = 2 * (w - 1);
    const int n = scope + 3;  // draws below scope + 3: offsets -scope..2, one byte each
    const BrumeRandom start = random;

    TBitmap32 result(w, h);
    std::memcpy(result.ScanLine(0), source.ScanLine(0), source.bytesPerLine());
    // The generator's steps to each draw of a row, counted from the row's
    // start, and over a whole row.
    std::vector<std::uint32_t> stepA(static_cast<std::size_t>(perRow)), stepC(static_cast<std::size_t>(perRow));
    Steps steps;
    for (int i = 0; i < perRow; ++i) {
        steps = steps.then(Steps{kMultiplier, 1});
        stepA[std::size_t(i)] = steps.a;
        stepC[std::size_t(i)] = steps.c;
    }
    const Steps row = steps;
    parallelRows(h - 1, [&](int r0, int r1) {
        auto draws = std::make_unique_for_overwrite<std::uint8_t[]>(std::size_t(perRow));
        std::vector<std::int32_t> rowOffset(static_cast<std::size_t>(n));
        // The state before the band's first draw.
        std::uint32_t state = stepsOf(std::uint64_t(perRow) * std::uint64_t(r0))(start.state());
        for (int y = r0 + 1; y < r1 + 1; ++y) {
            rowDraws(state, stepA.data(), stepC.data(), perRow, std::uint32_t(n), draws.get());
            state = row(state);
            for (int d = 0; d < n; ++d)
                rowOffset[std::size_t(d)] = (std::clamp(y + d - scope, 0, h - 1) - y) * w;
            const auto* own = reinterpret_cast<const std::uint32_t*>(source.ScanLine(y));
            auto* out = reinterpret_cast<std::uint32_t*>(result.ScanLine(y));
            out[0] = own[0];
            // Pixels scope..w-3 cannot reach outside the row; only those
            // before and after need the clamp (a branch there would be
            // taken at random).
            const int unclampedFrom = std::clamp(scope, 1, w);
            const int unclampedTo = std::max(unclampedFrom, w - 2);
            auto clamped = [&](int x) {
                const std::uint8_t* d = draws.get() + 2 * (x - 1);
                const int sx = std::clamp(x + d[1] - scope, 0, w - 1);
                out[x] = (own[rowOffset[d[0]] + sx] & 0x00FFFFFFu) | (own[x] & 0xFF000000u);
            };
            for (int x = 1; x < unclampedFrom; ++x)
                clamped(x);
            fetch(own, out, draws.get(), rowOffset.data(), scope, unclampedFrom, unclampedTo, w);
            for (int x = unclampedTo; x < w; ++x)
                clamped(x);
        }
    });
    random.skip(total);
    return result;
}

}  // namespace plumora
