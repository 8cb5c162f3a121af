// The fifteen built-in tiles as stored in resources/textures (drawn by
// tools/make_textures.py): their size, their lightness and their edges.

#include "effects/relief/texture.h"

#include "raster/colour.h"

#include <QImage>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace plumora {
namespace {

// Named by the build: __FILE__ may be relative to wherever the compiler ran.
const std::filesystem::path kTextures = PLUMORA_TEXTURES;

// The mean lightness each tile was designed to have, tile 1 first.
constexpr double kMeanLightness[kTextureCount] = {68, 68, 63, 67, 57, 64, 68, 62, 69, 67, 56, 59, 69, 49, 47};

struct Tile {
    int number;
    QImage image;
    int grey(int x, int y) const { return qRed(image.pixel(x, y)); }
};

std::vector<Tile> storedTiles()
{
    std::vector<Tile> tiles;
    for (int n = 1; n <= kTextureCount; ++n) {
        const std::string path = (kTextures / ("texture" + std::to_string(n) + ".png")).string();
        tiles.push_back({n, QImage(QString::fromStdString(path)).convertToFormat(QImage::Format_RGB32)});
    }
    return tiles;
}

TEST(TextureTiles, AreGreySquaresOfTheTileSize)
{
    for (const Tile& t : storedTiles()) {
        ASSERT_EQ(t.image.width(), kTextureTileSize) << "texture" << t.number;
        ASSERT_EQ(t.image.height(), kTextureTileSize) << "texture" << t.number;
        for (int y = 0; y < kTextureTileSize; ++y)
            for (int x = 0; x < kTextureTileSize; ++x) {
                const QRgb p = t.image.pixel(x, y);
                ASSERT_TRUE(qRed(p) == qGreen(p) && qGreen(p) == qBlue(p)) << "texture" << t.number;
            }
    }
}

// Lightness as the effect reads it, around the neutral 70: darkest pixels
// between 0 and 38, lightest between 77 and 100, the mean near its design.
TEST(TextureTiles, LightnessFollowsTheirDesign)
{
    for (const Tile& t : storedTiles()) {
        int darkest = 100, lightest = 0;
        double sum = 0;
        for (int y = 0; y < kTextureTileSize; ++y)
            for (int x = 0; x < kTextureTileSize; ++x) {
                const int l = IntRGBtoHSL(t.grey(x, y), t.grey(x, y), t.grey(x, y)).l;
                darkest = std::min(darkest, l);
                lightest = std::max(lightest, l);
                sum += l;
            }
        const double mean = sum / (kTextureTileSize * kTextureTileSize);
        EXPECT_NEAR(mean, kMeanLightness[t.number - 1], 1.5) << "texture" << t.number;
        EXPECT_LE(darkest, 38) << "texture" << t.number;
        EXPECT_GE(lightest, 77) << "texture" << t.number;
        EXPECT_LE(lightest, 100) << "texture" << t.number;
    }
}

// Repeated, a tile shows no seam: across its wrap (column 57 to column 0, row
// 57 to row 0) the greys change no more than between neighbours inside it
// (with half as much again to spare).
TEST(TextureTiles, RepeatWithoutASeam)
{
    constexpr int n = kTextureTileSize;
    for (const Tile& t : storedTiles()) {
        double wrapX = 0, wrapY = 0, insideX = 0, insideY = 0;
        for (int i = 0; i < n; ++i) {
            wrapX += std::abs(t.grey(n - 1, i) - t.grey(0, i));
            wrapY += std::abs(t.grey(i, n - 1) - t.grey(i, 0));
            for (int j = 0; j + 1 < n; ++j) {
                insideX += std::abs(t.grey(j + 1, i) - t.grey(j, i));
                insideY += std::abs(t.grey(i, j + 1) - t.grey(i, j));
            }
        }
        EXPECT_LE(wrapX / n, 1.5 * insideX / (n * (n - 1))) << "texture" << t.number << " across columns";
        EXPECT_LE(wrapY / n, 1.5 * insideY / (n * (n - 1))) << "texture" << t.number << " across rows";
    }
}

TEST(TextureTiles, TheWindowShowsEachTileOnce)
{
    std::array<int, kTextureCount> numbers = kTextureGrid;
    std::sort(numbers.begin(), numbers.end());
    for (int i = 0; i < kTextureCount; ++i)
        EXPECT_EQ(numbers[std::size_t(i)], i + 1);
    EXPECT_GE(kTextureDefault, 1);
    EXPECT_LE(kTextureDefault, kTextureCount);
}

}  // namespace
}  // namespace plumora
