#pragma once

#include <QCursor>

namespace plumora {

// The open hand shown while the picture is dragged: our own 32 x 32 drawing,
// its hot spot in the palm.
QCursor palmCursor();

// The eyedropper over the photo the colours are picked from: a pipette whose
// tip, at the lower left, is the hot spot.
QCursor eyedropCursor();

// The crosshair over the sketch for the rubber, the brush and the pen, with
// its hot spot at the centre, where the tool acts.
QCursor crossCursor();

}  // namespace plumora
