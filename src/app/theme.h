#pragma once

#include <QColor>
#include <QIcon>
#include <QPalette>
#include <QString>

namespace plumora {

// The program's windows under the desktop's colours. Our own window faces
// (sky blue, the light blue-grey) and greys were chosen for dark text on a
// light desktop; under a dark palette (light text on dark windows) they
// would leave white captions on light blue, so there the palette's own
// colours are used instead and greys are lightened until they read.

// Whether the palette draws light text on dark windows.
bool isDarkPalette(const QPalette& palette);

// The contrast ratio of two colours (1 to 21), as web accessibility
// guidelines define it: 4.5 is the least for normal text.
double contrastRatio(const QColor& a, const QColor& b);

// A window's face: the given colour under a light application palette; an
// invalid colour (keep the palette's own) under a dark one.
QColor windowFace(const QColor& face);

// Text of the given colour on the background: as it is where it reads at
// 4.5:1 or better, else moved towards white (on a dark background) or black
// (on a light one) until it does.
QColor readableOn(const QColor& text, const QColor& background);

// A grey or coloured caption of the program under the application palette:
// the colour itself under a light palette, readableOn the palette's window
// colour under a dark one.
QColor captionColour(const QColor& colour);

// One of the program's drawn icons (":/icons/<name>.svg"). Its dark ink is
// drawn light while the application palette is dark, so the icon stands out
// on dark tool bars; it follows the palette as it changes.
QIcon toolIcon(const QString& name);

}  // namespace plumora
