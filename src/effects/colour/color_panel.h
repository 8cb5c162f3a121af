#pragma once

#include "raster/bitmap32.h"

namespace plumora {

// The colour panel's six layouts, in the order of the window's choices.
enum class ColorPanelLayout {
    Panel2x2 = 1,      // "Panel 2 x 2": four tinted half-size copies in a grid
    Pane2x2 = 2,       // "Pane 2 x 2": the picture tinted in 2 x 2 rectangles
    Catercorner4 = 3,  // "Catercorner (4)": four triangles cut by the diagonals
    Panel3x3 = 4,      // "Panel 3 x 3": nine tinted third-size copies in a grid
    Pane3x3 = 5,       // "Pane 3 x 3": the picture tinted in 3 x 3 rectangles
    Catercorner16 = 6  // "Catercorner (16)": each quarter in four triangles
};

// The factor "Panel 3 x 3" reduces by: the double next above one third,
// which exceeds it by about 4e-17. For W = 3k + j (j = 0, 1 or 2), W times it
// lies from k up to well below k + 1, exactly and once rounded, so
// Trunc(W * factor) is W div 3; the tests try every W up to kMaxPixels.
inline constexpr double kJustAboveOneThird = 0.33333333333333337;

// The colour panel of source in one layout. Every layout but "Panel 3 x 3"
// keeps the picture's size, and leaves row 0 and column 0 (and, for
// "Panel 2 x 2", the seams between its panels) as the photograph has them,
// fourth bytes included. "Panel 3 x 3" is 3 * (W div 3) x 3 * (H div 3), a
// new picture whose tints leave the fourth byte alone: each pixel keeps the
// one of the photograph's pixel it shows, so an opaque photograph gives an
// opaque result. The reduced copies are ZoomInandOut's stretch of source.
//
// "Panel 2 x 2" of a picture narrower or lower than 4 pixels has no panel
// pixels and gives an unchanged copy. "Panel 3 x 3" of a picture narrower or
// lower than 3 pixels would give a picture with no pixels at all: it is
// refused with a PlumoraError ("The picture is too small for Panel 3 x 3.")
// rather than replacing the picture with nothing.
TBitmap32 colorPanel(const TBitmap32& source, ColorPanelLayout layout);

}  // namespace plumora
