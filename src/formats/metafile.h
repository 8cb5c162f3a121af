#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "raster/bitmap32.h"

namespace plumora {

// Windows metafiles are drawings, not pixels: we play their records with
// QPainter onto a white canvas of the picture's size and return that canvas.
// The fourth byte is 0 everywhere (a metafile has no alpha).
//
// Sizes:
//  - a placeable WMF: its bounding box in its own units per inch, converted to
//    pixels at 96 dots an inch (a box 96 units wide at 96 units an inch is 96
//    pixels); the metafile's window is mapped onto that box;
//  - a WMF without a placeable header: the extent set by its first
//    SETWINDOWEXT record, one logical unit a pixel;
//  - an EMF: the header's frame (0.01 mm) at 96 dots an inch, as other
//    viewers size it; the frame, on the header's reference device, is mapped
//    onto the whole picture. A frame under a pixel or too large to hold
//    gives way to the bounds in device pixels (inclusive), one a pixel.
//
// What is played: pens, brushes (solid, hatched, bitmap patterns), fonts,
// lines, polygons, rectangles, ellipses, arcs, pies, chords, text, embedded
// DIBs, mapping modes, clip rectangles and saved states; EMF paths and world
// transforms too. Records we do not know are skipped. Text needs a
// QGuiApplication for its fonts: without one, text records are skipped.
// Text stored as glyph numbers is drawn from its font when that font is
// installed; otherwise each glyph is drawn as a missing glyph's box.
//
// Throws PlumoraError ("The metafile is damaged." for a record that does not
// fit its file or its own size) or ImageTooLargeError; never reads outside
// data.
TBitmap32 decodeWmf(const std::uint8_t* data, std::size_t size);
TBitmap32 decodeEmf(const std::uint8_t* data, std::size_t size);

// The work playback did. A small file can ask for hours of drawing (every
// record may cover the whole canvas, a line may zig-zag across it thousands
// of times, letters may pile up on one spot), so playback has a budget of
// about a second. Work is counted in the time filling one canvas pixel takes,
// and each drawing is charged what it really costs: fills their area and the
// scan conversion of their edges, lines their width times their length in
// canvas pixels, text each letter's box, bitmaps the pixels they cover, clip
// regions their rectangles. The canvas itself is charged first, clearing it
// being work too, so a picture with a huge frame has less left for its
// drawing; and fills larger than the processor's cache are charged at
// memory's speed. The record whose charge overdraws the budget ends
// playback, before it is drawn, and what is drawn so far is the picture. This
// tells how far a file got and why it stopped.
struct MetafileWork {
    // Records handed to the player, the one that ended playback included (an
    // EMF's header and the record types we never play are not counted).
    std::uint64_t records = 0;
    double canvas = 0;         // the canvas's own charge, taken before the budget
    double budget = 0;         // the work left for the drawing on this canvas
    double spent = 0;          // work charged, the charge that ended playback included
    double finalCharge = 0;    // the charge that overdrew the budget; 0 when none did
    bool budgetSpent = false;  // playback stopped because the budget ran out
};

// A drawing cut off by the budget is refused rather than shown in part, as
// if that were the whole drawing: decodeWmf and decodeEmf throw PlumoraError
// for it.
void throwIfUnfinished(const MetafileWork& work);

// decodeWmf and decodeEmf, also telling what work playback did; work is
// whole when they return a picture. These give the part drawn within the
// budget.
TBitmap32 decodeWmfCounted(const std::uint8_t* data, std::size_t size, MetafileWork& work);
TBitmap32 decodeEmfCounted(const std::uint8_t* data, std::size_t size, MetafileWork& work);

// Writes the picture as a placeable WMF holding one 24-bit DIB drawn at its
// own size: 96 units an inch and a bounding box of the picture's pixel size,
// so decodeWmf gives back exactly the same pixels. Sides above 32767 pixels do
// not fit the format's 16-bit coordinates and are refused.
std::vector<std::uint8_t> encodeWmf(const TBitmap32& picture);

// The size in bytes of the file encodeWmf makes of a width x height picture,
// worked out without making it (a large picture makes a very large metafile,
// which the program warns about first).
std::uint64_t wmfFileSize(int width, int height);

}  // namespace plumora
