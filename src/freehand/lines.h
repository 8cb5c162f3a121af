#pragma once

#include "raster/bitmap32.h"

namespace plumora {

// One pass that peels a pixel off the edges of ink strokes while keeping
// them connected. Every decision reads the picture as it was before the
// pass; the outermost rows and columns never change. An ink pixel whose
// eight neighbours satisfy the four thinning conditions becomes white (with
// the fourth byte 255) when one of its side neighbours is exactly white, and
// the paper tint (fourth byte 0) otherwise. Only ink pixels are candidates:
// a paper pixel is already background, so the pass leaves it alone.
void thinline(TBitmap32& picture);

// One pass that grows ink strokes by a pixel towards the four sides. A white
// pixel takes the colour of its last side neighbour (left, right, above,
// below) that is not white; a pixel that is then the paper tint takes the
// colour of its last side neighbour that is not the tint. Neighbours are
// read as they were before the pass; copied pixels get the fourth byte 255.
// The outermost rows and columns never change.
void thickline(TBitmap32& picture);

}  // namespace plumora
