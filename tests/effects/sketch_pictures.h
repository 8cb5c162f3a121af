#pragma once

// Shared by the sketch tests: pictures that look more like photographs than
// noise does (smooth shading, so a white sketch, with dots, short strokes and
// dark blocks, some on the border), and black-and-white pictures as text.

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "support/pictures.h"

namespace plumora::test {

inline TBitmap32 sketchPicture(int width, int height, unsigned seed)
{
    std::mt19937 rng(seed);
    TBitmap32 p(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            setPixel(p, x, y, 0xFF000000u | (160u + (x + y) % 64) << 16 | (180u + x % 40) << 8 | (200u + y % 30));
    auto at = [&](int n) { return int(rng() % unsigned(n)); };
    const int area = width * height;
    for (int i = 0; i < area / 60 + 1; ++i)
        setPixel(p, at(width), at(height), std::uint32_t(rng()) | 0xFF000000u);
    for (int i = 0; i < area / 400 + 1; ++i) {  // strokes in all four directions
        int x = at(width), y = at(height);
        const int dx = at(3) - 1, dy = at(3) - 1;
        const std::uint32_t c = std::uint32_t(rng()) | 0xFF000000u;
        for (int k = 0; k < 8 && x >= 0 && y >= 0 && x < width && y < height; ++k, x += dx, y += dy)
            setPixel(p, x, y, c);
    }
    for (int i = 0; i < area / 900 + 1; ++i) {  // dark blocks
        const int x0 = at(width), y0 = at(height);
        const int x1 = std::min(width, x0 + 1 + at(9)), y1 = std::min(height, y0 + 1 + at(9));
        const std::uint32_t c = 0xFF000000u | (std::uint32_t(rng()) & 0x3F3F3Fu);
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                setPixel(p, x, y, c);
    }
    return p;
}

inline bool colourZero(const TBitmap32& p, int x, int y)
{
    return (pixelAt(p, x, y) & 0xFFFFFFu) == 0;
}

// One string a row: '#' where blue, green and red are all 0, '.' elsewhere.
inline std::vector<std::string> drawing(const TBitmap32& p)
{
    std::vector<std::string> rows(std::size_t(p.height()), std::string(std::size_t(p.width()), '.'));
    for (int y = 0; y < p.height(); ++y)
        for (int x = 0; x < p.width(); ++x)
            if (colourZero(p, x, y))
                rows[std::size_t(y)][std::size_t(x)] = '#';
    return rows;
}

// The inverse: black pixels where '#', white elsewhere, all opaque.
inline TBitmap32 fromDrawing(const std::vector<std::string>& rows)
{
    TBitmap32 p(int(rows[0].size()), int(rows.size()));
    for (int y = 0; y < p.height(); ++y)
        for (int x = 0; x < p.width(); ++x)
            setPixel(p, x, y, rows[std::size_t(y)][std::size_t(x)] == '#' ? 0xFF000000u : 0xFFFFFFFFu);
    return p;
}

}  // namespace plumora::test
