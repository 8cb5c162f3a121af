#pragma once

#include <QCursor>

namespace plumora {

// The open hand shown while the picture is dragged: our own 32 x 32 drawing,
// its hot spot in the palm.
QCursor palmCursor();

}  // namespace plumora
