#pragma once

#include "raster/bitmap32.h"

#include <array>

namespace plumora {

// Pressure: how strongly the tile's lightness is printed; 50 adds the tile's
// lightness minus 70 in percent points, 100 twice that, 0 nothing.
inline constexpr int kTexturePressureMin = 0;
inline constexpr int kTexturePressureMax = 100;
inline constexpr int kTexturePressureDefault = 50;

// Every tile is this many pixels square, and the texture repeats with this
// period whatever the tile.
inline constexpr int kTextureTileSize = 58;

// Tile lightness (0..100) that leaves a picture's lightness as it is.
inline constexpr int kTextureNeutralLightness = 70;

// The built-in tiles are resources/textures/texture1.png .. texture15.png;
// texture 4 is chosen when the window first opens.
inline constexpr int kTextureCount = 15;
inline constexpr int kTextureDefault = 4;

// The tiles' numbers as the window lays them out, three rows of five, left to
// right and top to bottom (tools/make_textures.py draws docs/textures.png in
// the same order).
inline constexpr std::array<int, kTextureCount> kTextureGrid = {4, 3, 5, 7, 8, 2, 1, 6, 9, 10, 11, 12, 13, 14, 15};

// Prints the tile into the picture: the tile repeats from the picture's
// top-left corner, and pixel (x, y) takes the tile pixel (x mod 58, y mod 58).
// Each pixel goes through IntRGBtoHSL; its lightness L becomes
//   clamp(L + Round((tL - 70) * pressure / 50), 0, 100)
// with tL the tile pixel's lightness ((tL - 70) * pressure a whole product,
// the division in floating point); its hue is taken mod 360, and the colour
// comes back through IntHSLtoRGB, opaque. Only the tile's lightness counts
// (the built-in tiles are grey), its fourth bytes are ignored.
// Throws PlumoraError when the tile is not 58 x 58 pixels.
TBitmap32 TextureBlend(const TBitmap32& tile, const TBitmap32& source, int pressure);

}  // namespace plumora
