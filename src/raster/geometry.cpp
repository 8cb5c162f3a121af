#include "raster/geometry.h"

#include "raster/errors.h"
#include "raster/limits.h"
#include "raster/parallel.h"
#include "raster/rounding.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

namespace plumora {

namespace {

// Source index of each destination index, floor(i * from / to).
std::vector<int> nearestMap(int from, int to)
{
    std::vector<int> map(std::size_t(std::max(to, 0)));
    for (int i = 0; i < to; ++i)
        map[std::size_t(i)] = int(std::int64_t(i) * from / to);
    return map;
}

}  // namespace

int stretchedSide(int side, double factor)
{
    const double exact = factor * side;
    const double nearest = std::nearbyint(exact);
    const double scaled =
        std::fabs(exact - nearest) <= 1e-9 * std::max(1.0, std::fabs(exact)) ? nearest : std::trunc(exact);
    if (!(scaled >= 0) || scaled > double(INT_MAX))
        throw ImageTooLargeError("The picture cannot be stretched to that size.");
    return int(scaled);
}

TBitmap32 stretchTo(const TBitmap32& source, int newWidth, int newHeight)
{
    TBitmap32 result(newWidth, newHeight);
    if (result.empty())
        return result;
    if (source.empty())
        throw PlumoraError("An empty picture cannot be stretched.");

    const std::vector<int> columns = nearestMap(source.width(), newWidth);
    const std::vector<int> rows = nearestMap(source.height(), newHeight);
    const std::size_t line = result.bytesPerLine();
    parallelRows(newHeight, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            auto* out = reinterpret_cast<std::uint32_t*>(result.ScanLine(y));
            // A row that repeats the row above is a plain copy of it.
            if (y > y0 && rows[std::size_t(y)] == rows[std::size_t(y - 1)]) {
                std::memcpy(out, result.ScanLine(y - 1), line);
                continue;
            }
            const auto* in = reinterpret_cast<const std::uint32_t*>(source.ScanLine(rows[std::size_t(y)]));
            for (int x = 0; x < newWidth; ++x)
                out[x] = in[columns[std::size_t(x)]];
        }
    });
    return result;
}

namespace {

// Tiles keep both the rows read and the rows written in cache.
constexpr int kTile = 64;

// result(x, y) = picture(mapX(x, y), mapY(x, y)) for a quarter turn, written
// tile by tile; bands of result rows run in parallel.
template <bool Clockwise>
TBitmap32 quarterTurn(const TBitmap32& picture)
{
    const int W = picture.width();
    const int H = picture.height();
    TBitmap32 result(H, W);
    if (result.empty())
        return result;
    const auto* src = reinterpret_cast<const std::uint32_t*>(picture.bits());
    auto* dst = reinterpret_cast<std::uint32_t*>(result.bits());
    const std::size_t srcStride = std::size_t(W);
    const std::size_t dstStride = std::size_t(H);
    parallelRows(W, [&](int y0, int y1) {  // result has W rows
        for (int ty = y0; ty < y1; ty += kTile) {
            const int tyEnd = std::min(ty + kTile, y1);
            for (int tx = 0; tx < H; tx += kTile) {
                const int txEnd = std::min(tx + kTile, H);
                for (int y = ty; y < tyEnd; ++y) {
                    std::uint32_t* out = dst + std::size_t(y) * dstStride;
                    if constexpr (Clockwise) {
                        // result(x, y) = picture(y, H - 1 - x)
                        for (int x = tx; x < txEnd; ++x)
                            out[x] = src[std::size_t(H - 1 - x) * srcStride + std::size_t(y)];
                    } else {
                        // result(x, y) = picture(W - 1 - y, x)
                        const std::size_t column = std::size_t(W - 1 - y);
                        for (int x = tx; x < txEnd; ++x)
                            out[x] = src[std::size_t(x) * srcStride + column];
                    }
                }
            }
        }
    });
    return result;
}

}  // namespace

TBitmap32 rotateClockwise(const TBitmap32& picture)
{
    return quarterTurn<true>(picture);
}

TBitmap32 rotateAnticlockwise(const TBitmap32& picture)
{
    return quarterTurn<false>(picture);
}

TBitmap32 mirrorHorizontal(const TBitmap32& picture)
{
    TBitmap32 result(picture.width(), picture.height());
    const int w = picture.width();
    parallelRows(picture.height(), [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            const auto* in = reinterpret_cast<const std::uint32_t*>(picture.ScanLine(y));
            auto* out = reinterpret_cast<std::uint32_t*>(result.ScanLine(y));
            std::reverse_copy(in, in + w, out);
        }
    });
    return result;
}

TBitmap32 mirrorVertical(const TBitmap32& picture)
{
    TBitmap32 result(picture.width(), picture.height());
    const int h = picture.height();
    parallelRows(h, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y)
            std::memcpy(result.ScanLine(y), picture.ScanLine(h - 1 - y), picture.bytesPerLine());
    });
    return result;
}

}  // namespace plumora
