#pragma once

// What drawing costs, for the work budget of metafile playback (MetafileWork
// in metafile.h). The player charges every drawing before it draws; these
// are the prices, shared by the player's files (metafile_player*.cpp).
// Internal to the formats library.

#include "raster/limits.h"

#include <cstdint>

namespace plumora::metafile {

// Work we accept for one file. The unit is the time filling one canvas pixel
// with a solid colour takes; every drawing is charged what it costs in that
// unit, measured on QPainter's raster engine (see the constants below). Each
// drawing record may cover the whole canvas, so a small file could otherwise
// keep us busy for hours. When it is spent, playback stops and what is drawn
// stays. About a second of drawing: a thousand fills of a screen-sized
// canvas, or a detailed map of 100000 shapes.
constexpr double kBaseWork = double(std::int64_t{1} << 32);
// The canvas itself is work, charged before anything is drawn: its memory
// is given, cleared to white and passed over once more for the fourth byte.
// That takes about 1.3 ns a pixel here when the system has memory at hand
// (9 units), more when it must first gather pages; a 188-megapixel frame
// costs half the budget. Every canvas we allow keeps a quarter of it for
// the drawing.
constexpr double kWorkPerCanvasPixel = 12;
static_assert(kWorkPerCanvasPixel * double(kMaxPixels) <= 0.75 * kBaseWork);
// Filling more pixels than the processor's cache holds (32 MB) runs at the
// speed of memory, about three times slower a pixel than a fill that stays
// in the cache.
constexpr double kCachedPixels = double(std::int64_t{1} << 23);
constexpr double kUncachedPixelFactor = 3;
// A rectangle of a clip region costs about as much to combine or apply as
// filling a few hundred pixels.
constexpr double kWorkPerRegionRect = 256;
// Every point of a path is transformed, stored and walked by the stroker.
constexpr double kWorkPerPathElement = 16;
// Scan conversion, as QPainter does it without antialiasing, walks every
// edge of an outline on each pixel row it spans, and its cost on a row grows
// with the square of the edges active there: a polygon whose thousand edges
// all cross the canvas takes seconds to fill, though it fills no more pixels
// than a square.
constexpr double kWorkPerEdgeRow = 8;
constexpr double kWorkPerActivePair = 8;
// A one-pixel line is drawn pixel by pixel, several times slower than a fill.
constexpr double kWorkPerLinePixel = 64;
// A wide line's outline has two sides and the arcs of its joins; a dashed
// one an outline of its own for each dash.
constexpr double kWideLineEdges = 4;
constexpr double kDashedLineEdges = 8;
constexpr double kWorkPerDash = 512;
// Laying out and drawing one character, besides the pixels of its box.
// Letters up to this size come from the glyph cache; larger ones are filled
// as antialiased outlines, pixel by pixel several times dearer.
constexpr double kWorkPerGlyph = 1024;
constexpr double kCachedGlyphPixels = 64;
constexpr double kWorkPerOutlineGlyphPixel = 8;
// Pixels of a hatched or bitmap brush are looked up in its pattern, and
// raster operations read the canvas before writing it.
constexpr double kWorkPerPatternPixel = 6;
constexpr double kRasterOpFactor = 3;
// A bitmap drawn through a transform fetches every canvas pixel from the
// bitmap, and its smoothed form interpolates four of them.
constexpr double kWorkPerBitmapPixel = 24;
constexpr double kWorkPerSmoothBitmapPixel = 96;

}  // namespace plumora::metafile
