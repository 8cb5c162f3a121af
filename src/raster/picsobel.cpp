#include "raster/picsobel.h"

#include "raster/errors.h"
#include "raster/parallel.h"
#include "raster/simd.h"

#include <algorithm>
#include <cstring>
#include <memory>

#if PLUMORA_HAS_X86_PATHS
#include <immintrin.h>
#endif

namespace plumora {

namespace {

// Inverted edge bytes at byte offsets from..end-1 of one row: per byte, the
// centre against the rows above and below and the left column against the
// right one, as plain byte arithmetic in 16 bits, which the compiler turns
// into vector code on its own.
void edgeBytesPlain(const std::uint8_t* __restrict up, const std::uint8_t* __restrict cur,
                    const std::uint8_t* __restrict dn, std::uint8_t* __restrict out, int from, int end)
{
    for (int i = from; i < end; ++i) {
        const std::int16_t ul = up[i - 4], u = up[i], ur = up[i + 4];
        const std::int16_t dl = dn[i - 4], d = dn[i], dr = dn[i + 4];
        const std::int16_t l = cur[i - 4], c = cur[i], r = cur[i + 4];
        std::int16_t a = std::int16_t(6 * c - ul - u - ur - dl - d - dr);
        std::int16_t b = std::int16_t(ul + l + dl - ur - r - dr);
        a = std::min<std::int16_t>(std::max<std::int16_t>(a, 0), 255);
        b = std::min<std::int16_t>(std::max<std::int16_t>(b, 0), 255);
        out[i] = std::uint8_t(255 - std::max(a, b));
    }
}

#if PLUMORA_HAS_X86_PATHS
// The same by hand, K rows at once, from the K + 2 source rows around them
// (rows[j + 1] is the row of out[j]). Each source row is widened to 16 bits
// once and reduced to its sums across (left + centre + right) and its
// differences (left - right), which serve the up to three rows it is a
// neighbour of:
//   a = 6 * centre - across(row above) - across(row below)
//   b = difference(row above) + difference(own row) + difference(row below)
// The pack to bytes clamps both at once: max(clamp a, clamp b) is
// clamp max(a, b).

PLUMORA_TARGET_AVX2 inline __m256i widenAvx2(const std::uint8_t* p)
{
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

template <int K>
PLUMORA_TARGET_AVX2 void edgeRowsAvx2(const std::uint8_t* const* rows, std::uint8_t* const* out, int from, int end)
{
    const __m256i six = _mm256_set1_epi16(6);
    const __m256i ones = _mm256_set1_epi8(-1);
    int i = from;
    for (; i + 32 <= end; i += 32) {
        __m256i response[2][K];
        for (int half = 0; half < 2; ++half) {
            const int at = i + 16 * half;
            __m256i across[K + 2], difference[K + 2], centre[K + 2];
            for (int r = 0; r < K + 2; ++r) {
                const __m256i left = widenAvx2(rows[r] + at - 4);
                const __m256i right = widenAvx2(rows[r] + at + 4);
                centre[r] = widenAvx2(rows[r] + at);
                across[r] = _mm256_add_epi16(_mm256_add_epi16(left, centre[r]), right);
                difference[r] = _mm256_sub_epi16(left, right);
            }
            for (int j = 1; j <= K; ++j) {
                const __m256i a = _mm256_sub_epi16(_mm256_mullo_epi16(centre[j], six),
                                                   _mm256_add_epi16(across[j - 1], across[j + 1]));
                const __m256i b =
                    _mm256_add_epi16(_mm256_add_epi16(difference[j - 1], difference[j]), difference[j + 1]);
                response[half][j - 1] = _mm256_max_epi16(a, b);
            }
        }
        for (int j = 0; j < K; ++j) {
            // packus saturates to 0..255 and interleaves the 128-bit halves.
            const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(response[0][j], response[1][j]), 0xD8);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out[j] + i), _mm256_xor_si256(bytes, ones));
        }
    }
    for (int j = 0; j < K; ++j)
        edgeBytesPlain(rows[j], rows[j + 1], rows[j + 2], out[j], i, end);
}

PLUMORA_AVX512_CODE_BEGIN

// One source row's share of the responses of the rows it neighbours, as
// two halves of 16-bit lanes taken straight from the bytes by a mask and a
// shift (cheaper than widening): low holds the blue and red bytes, high the
// green and fourth bytes.
struct EdgeSourceAvx512 {
    __m512i acrossLow, acrossHigh, differenceLow, differenceHigh, centreLow, centreHigh;
};

PLUMORA_TARGET_AVX512 inline EdgeSourceAvx512 edgeSourceAvx512(const std::uint8_t* p, __m512i lowBytes)
{
    const __m512i left = _mm512_loadu_si512(p - 4);
    const __m512i centre = _mm512_loadu_si512(p);
    const __m512i right = _mm512_loadu_si512(p + 4);
    const __m512i leftLow = _mm512_and_si512(left, lowBytes), leftHigh = _mm512_srli_epi16(left, 8);
    const __m512i rightLow = _mm512_and_si512(right, lowBytes), rightHigh = _mm512_srli_epi16(right, 8);
    EdgeSourceAvx512 s;
    s.centreLow = _mm512_and_si512(centre, lowBytes);
    s.centreHigh = _mm512_srli_epi16(centre, 8);
    s.acrossLow = _mm512_add_epi16(_mm512_add_epi16(leftLow, s.centreLow), rightLow);
    s.acrossHigh = _mm512_add_epi16(_mm512_add_epi16(leftHigh, s.centreHigh), rightHigh);
    s.differenceLow = _mm512_sub_epi16(leftLow, rightLow);
    s.differenceHigh = _mm512_sub_epi16(leftHigh, rightHigh);
    return s;
}

// The same as edgeRowsAvx2, 16 pixels a step, walking down the K + 2
// source rows with three of them in registers at a time, so that each is
// loaded and reduced once per step however many rows the pass makes.
template <int K>
PLUMORA_TARGET_AVX512 void edgeRowsAvx512(const std::uint8_t* const* rows, std::uint8_t* const* out, int width)
{
    constexpr int kStep = 16;
    if (width - 2 < kStep) {
        for (int j = 0; j < K; ++j)
            edgeBytesPlain(rows[j], rows[j + 1], rows[j + 2], out[j], 4, (width - 1) * 4);
        return;
    }
    const __m512i lowBytes = _mm512_set1_epi16(0x00FF);
    __m512i six = _mm512_set1_epi16(6);
    // Keeps the multiply: GCC would otherwise make it two shifts and an add.
    asm("" : "+v"(six));
    // packus leaves each 128-bit lane as blue/red pairs then green/fourth
    // pairs; this puts the four bytes of each pixel back together.
    const __m512i toPixels =
        _mm512_broadcast_i32x4(_mm_setr_epi8(0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15));
    const __m512i ones = _mm512_set1_epi8(-1);
    // Pixels 1 .. width - 2; the last step is moved back to end at width - 2,
    // working out a few pixels twice rather than leaving a tail.
    const int last = width - 1 - kStep;
    for (int x = 1;; x = std::min(x + kStep, last)) {
        const int at = x * 4;
        EdgeSourceAvx512 window[3];
#pragma GCC unroll 16
        for (int r = 0; r < K + 2; ++r) {
            window[r % 3] = edgeSourceAvx512(rows[r] + at, lowBytes);
            if (r < 2)
                continue;
            const EdgeSourceAvx512& above = window[(r + 1) % 3];
            const EdgeSourceAvx512& own = window[(r + 2) % 3];
            const EdgeSourceAvx512& below = window[r % 3];
            const __m512i aLow = _mm512_sub_epi16(_mm512_mullo_epi16(own.centreLow, six),
                                                  _mm512_add_epi16(above.acrossLow, below.acrossLow));
            const __m512i aHigh = _mm512_sub_epi16(_mm512_mullo_epi16(own.centreHigh, six),
                                                   _mm512_add_epi16(above.acrossHigh, below.acrossHigh));
            const __m512i bLow =
                _mm512_add_epi16(_mm512_add_epi16(above.differenceLow, own.differenceLow), below.differenceLow);
            const __m512i bHigh =
                _mm512_add_epi16(_mm512_add_epi16(above.differenceHigh, own.differenceHigh), below.differenceHigh);
            // packus saturates to 0..255.
            const __m512i bytes = _mm512_packus_epi16(_mm512_max_epi16(aLow, bLow), _mm512_max_epi16(aHigh, bHigh));
            _mm512_storeu_si512(out[r - 2] + at, _mm512_xor_si512(_mm512_shuffle_epi8(bytes, toPixels), ones));
        }
        if (x == last)
            break;
    }
}
PLUMORA_AVX512_CODE_END
#endif

// How many rows one pass of the edge kernel makes at most: each source row
// is then read and reduced once for up to three of them.
constexpr int kEdgeRows = 8;

// Rows out[0..count-1], pixels 1..width-2, from the count + 2 rows around
// them, one row at a time by the plain formula.
void edgeKernelPlain(const std::uint8_t* const* rows, std::uint8_t* const* out, int count, int width)
{
    for (int j = 0; j < count; ++j)
        edgeBytesPlain(rows[j], rows[j + 1], rows[j + 2], out[j], 4, (width - 1) * 4);
}

#if PLUMORA_HAS_X86_PATHS
// A kernel that makes a fixed number of rows from the rows around them.
using EdgeRows = void (*)(const std::uint8_t* const* rows, std::uint8_t* const* out, int width);

template <int K>
PLUMORA_TARGET_AVX2 void edgeRowsAvx2Pixels(const std::uint8_t* const* rows, std::uint8_t* const* out, int width)
{
    edgeRowsAvx2<K>(rows, out, 4, (width - 1) * 4);
}

// Kernels for 1, 2, 4, 8 ... rows: the widest path keeps more rows per pass
// in registers than the narrower one has room for.
constexpr EdgeRows kAvx512Kernels[] = {edgeRowsAvx512<1>, edgeRowsAvx512<2>, edgeRowsAvx512<4>, edgeRowsAvx512<8>};
constexpr EdgeRows kAvx2Kernels[] = {edgeRowsAvx2Pixels<1>, edgeRowsAvx2Pixels<2>, edgeRowsAvx2Pixels<4>};

// Makes count rows with those kernels, the largest that fit first.
template <std::size_t N>
void edgeRowsInParts(const EdgeRows (&kernels)[N], int count, const std::uint8_t* const* rows, std::uint8_t* const* out,
                     int width)
{
    for (int k = int(N) - 1; k >= 0; --k)
        for (const int n = 1 << k; count >= n; count -= n, rows += n, out += n)
            kernels[k](rows, out, width);
}

// The same as edgeKernelPlain with each level's kernels.
void edgeKernelAvx2(const std::uint8_t* const* rows, std::uint8_t* const* out, int count, int width)
{
    edgeRowsInParts(kAvx2Kernels, count, rows, out, width);
}

void edgeKernelAvx512(const std::uint8_t* const* rows, std::uint8_t* const* out, int count, int width)
{
    edgeRowsInParts(kAvx512Kernels, count, rows, out, width);
}
#endif

// Inverted edge bytes of pixels 1..w-2 of rows y..y+count-1 of src, all
// interior rows of a picture at least 3 x 3, into out[0..count-1] (all four
// bytes of each pixel; the fourth is fixed afterwards).
void edgeKernel(const TBitmap32& src, int y, int count, std::uint8_t* const* out)
{
    const std::uint8_t* rows[kEdgeRows + 2];
    for (int j = 0; j < count + 2; ++j)
        rows[j] = src.ScanLine(y - 1 + j);
    const auto kernel = simdPath(edgeKernelPlain, PLUMORA_X86(edgeKernelAvx2), PLUMORA_X86(edgeKernelAvx512));
    kernel(rows, out, count, src.width());
}

// Copies the fourth bytes of alphaRow into row, keeping row's colour bytes.
void takeAlpha(std::uint8_t* row, const std::uint8_t* alphaRow, int width)
{
    auto* out = reinterpret_cast<std::uint32_t*>(row);
    const auto* alpha = reinterpret_cast<const std::uint32_t*>(alphaRow);
    for (int x = 0; x < width; ++x)
        out[x] = (out[x] & 0x00FFFFFFu) | (alpha[x] & 0xFF000000u);
}

void copyColour(std::uint8_t* to, const std::uint8_t* from)
{
    to[kBlue] = from[kBlue];
    to[kGreen] = from[kGreen];
    to[kRed] = from[kRed];
}

void invertColours(std::uint8_t* row, int width)
{
    auto* px = reinterpret_cast<std::uint32_t*>(row);
    for (int x = 0; x < width; ++x)
        px[x] ^= 0x00FFFFFFu;
}

// Writes row y of the inverted edge picture of src into out; the fourth
// bytes are the source's only with keepAlpha.
void picsobelRow(const TBitmap32& src, int y, std::uint8_t* out, bool keepAlpha)
{
    const int w = src.width();
    const int h = src.height();
    const std::size_t line = src.bytesPerLine();
    if (w == 1 && h >= 3) {
        std::memcpy(out, src.ScanLine(y), line);  // no side neighbours: unchanged
        return;
    }
    if (h == 2) {
        // No interior rows and no side copies: both rows become row 1.
        std::memcpy(out, src.ScanLine(1), line);
    } else {
        // The border rows repeat their inner neighbours.
        const int ys = std::clamp(y, 1, h - 2);
        if (w >= 3)
            edgeKernel(src, ys, 1, &out);
        else
            std::memcpy(out, src.ScanLine(ys), line);  // no interior columns
        // The side columns repeat their inner neighbours, left first. The
        // kernel wrote inverted bytes; the plain copies are inverted below.
        if (w >= 3) {
            std::memcpy(out, out + 4, 4);
            std::memcpy(out + (w - 1) * 4, out + (w - 2) * 4, 4);
            if (keepAlpha)
                takeAlpha(out, src.ScanLine(y), w);
            return;
        }
        copyColour(out, out + 4);
        copyColour(out + (w - 1) * 4, out + (w - 2) * 4);
    }
    invertColours(out, w);
    takeAlpha(out, src.ScanLine(y), w);
}

// How many rows from y on, before end, one pass makes: several only for
// interior rows of a picture at least 3 x 3.
int rowsInOnePass(const TBitmap32& src, int y, int end)
{
    const int h = src.height();
    if (src.width() < 3 || h < 3 || y < 1 || y > h - 2)
        return 1;
    return std::min({kEdgeRows, end - y, h - 1 - y});
}

// Rows y..y+count-1 of the inverted edge picture of src into out[0..count-1],
// count as rowsInOnePass gives it.
void picsobelRows(const TBitmap32& src, int y, int count, std::uint8_t* const* out, bool keepAlpha)
{
    if (count == 1)
        return picsobelRow(src, y, out[0], keepAlpha);
    edgeKernel(src, y, count, out);
    const int w = src.width();
    for (int j = 0; j < count; ++j) {
        // The side columns repeat their inner neighbours.
        std::memcpy(out[j], out[j] + 4, 4);
        std::memcpy(out[j] + (w - 1) * 4, out[j] + (w - 2) * 4, 4);
        if (keepAlpha)
            takeAlpha(out[j], src.ScanLine(y + j), w);
    }
}

void checkHasRowBelowTop(const TBitmap32& src)
{
    // The top row is copied from row 1, which a one-row picture lacks.
    if (src.height() == 1)
        throw ScanLineError();
}

}  // namespace

void forEachPicsobelRow(const TBitmap32& source, const std::function<void(int, const std::uint8_t*)>& sink)
{
    if (source.empty())
        return;
    checkHasRowBelowTop(source);
    const std::size_t line = source.bytesPerLine();
    parallelRows(source.height(), [&](int y0, int y1) {
        auto rows = std::make_unique_for_overwrite<std::uint8_t[]>(line * kEdgeRows);
        std::uint8_t* out[kEdgeRows];
        for (int j = 0; j < kEdgeRows; ++j)
            out[j] = rows.get() + line * std::size_t(j);
        for (int y = y0; y < y1;) {
            const int count = rowsInOnePass(source, y, y1);
            picsobelRows(source, y, count, out, false);
            for (int j = 0; j < count; ++j)
                sink(y + j, out[j]);
            y += count;
        }
    });
}

TBitmap32 picsobelOf(const TBitmap32& source)
{
    TBitmap32 result(source.width(), source.height());
    if (source.empty())
        return result;
    checkHasRowBelowTop(source);
    parallelRows(source.height(), [&](int y0, int y1) {
        for (int y = y0; y < y1;) {
            const int count = rowsInOnePass(source, y, y1);
            std::uint8_t* out[kEdgeRows];
            for (int j = 0; j < count; ++j)
                out[j] = result.ScanLine(y + j);
            picsobelRows(source, y, count, out, true);
            y += count;
        }
    });
    return result;
}

void picsobel(TBitmap32& bitmap)
{
    bitmap = picsobelOf(bitmap);
}

}  // namespace plumora
