#pragma once

class QWidget;

namespace plumora {

// The small windows are laid out at fixed places and sizes, drawn for the
// desktop font of about 9 points. With a larger font a caption would be cut
// off; then the whole window is scaled by the factor its most crowded
// caption needs (places and sizes alike), so every caption fits and nothing
// comes to overlap. Controls placed by a layout are left to it. Returns the
// factor used (1 when everything fits).
double fitCaptions(QWidget* window);

}  // namespace plumora
