#pragma once

// Small pictures for the tests.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ostream>
#include <random>
#include <vector>

#include "raster/bitmap32.h"

namespace plumora::test {

// Every byte, the fourth included, drawn from a seeded generator.
inline TBitmap32 randomPicture(int width, int height, unsigned seed)
{
    TBitmap32 picture(width, height);
    std::mt19937 rng(seed);
    for (std::size_t i = 0; i < picture.byteCount(); ++i)
        picture.bits()[i] = std::uint8_t(rng());
    return picture;
}

// Black strokes on white, as the sketch effects draw: mostly white, with
// lines of a few pixels in every direction. Opaque.
inline TBitmap32 drawing(int width, int height, unsigned seed)
{
    TBitmap32 picture(width, height);
    std::fill(picture.bits(), picture.bits() + picture.byteCount(), std::uint8_t(255));
    std::mt19937 rng(seed);
    const std::int64_t strokes = std::int64_t(width) * height / 2000 + 1;
    for (std::int64_t s = 0; s < strokes; ++s) {
        int x = int(rng() % unsigned(width)), y = int(rng() % unsigned(height));
        const int dx = int(rng() % 3) - 1, dy = int(rng() % 3) - 1;
        for (int step = 0; step < 60 && x >= 0 && y >= 0 && x < width && y < height; ++step, x += dx, y += dy) {
            std::uint8_t* p = picture.ScanLine(y) + x * 4;
            p[0] = p[1] = p[2] = 0;
            if (dx == 0 && dy == 0)
                break;
        }
    }
    return picture;
}

// Smooth shading with edges and some noise, as a photograph has. Opaque.
inline TBitmap32 photoLike(int width, int height, unsigned seed)
{
    TBitmap32 picture(width, height);
    std::mt19937 rng(seed);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = picture.ScanLine(y);
        for (int x = 0; x < width; ++x) {
            const int noise = int(rng() % 7) - 3;
            const int stripe = ((x / 37) + (y / 23)) % 2 == 0 ? 40 : 0;
            row[x * 4 + 0] = std::uint8_t(std::clamp(x * 255 / std::max(1, width - 1) + noise, 0, 255));
            row[x * 4 + 1] = std::uint8_t(std::clamp(y * 200 / std::max(1, height - 1) + stripe + noise, 0, 255));
            row[x * 4 + 2] = std::uint8_t(std::clamp(int(128 + 100 * std::sin(x * 0.05 + y * 0.03)) + noise, 0, 255));
            row[x * 4 + 3] = 255;
        }
    }
    return picture;
}

inline TBitmap32 uniformPicture(int width, int height, std::uint8_t b, std::uint8_t g, std::uint8_t r, std::uint8_t a)
{
    TBitmap32 picture(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = picture.ScanLine(y) + x * 4;
            p[0] = b;
            p[1] = g;
            p[2] = r;
            p[3] = a;
        }
    return picture;
}

inline std::uint32_t pixelAt(const TBitmap32& picture, int x, int y)
{
    const std::uint8_t* p = picture.ScanLine(y) + x * 4;
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

inline void setPixel(TBitmap32& picture, int x, int y, std::uint32_t bgra)
{
    std::uint8_t* p = picture.ScanLine(y) + x * 4;
    p[0] = std::uint8_t(bgra);
    p[1] = std::uint8_t(bgra >> 8);
    p[2] = std::uint8_t(bgra >> 16);
    p[3] = std::uint8_t(bgra >> 24);
}

// A picture as plain values, 0xAARRGGBB a pixel (AA the fourth byte), rows
// top-down: easy to write out in a test and printed whole when one differs.
struct Decoded {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
    bool operator==(const Decoded&) const = default;
};

inline void PrintTo(const Decoded& d, std::ostream* os)
{
    *os << d.width << "x" << d.height << std::hex;
    for (std::uint32_t p : d.pixels)
        *os << " " << p;
}

inline Decoded decoded(const TBitmap32& picture)
{
    Decoded d{picture.width(), picture.height(), {}};
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            d.pixels.push_back(pixelAt(picture, x, y));
    return d;
}

}  // namespace plumora::test
