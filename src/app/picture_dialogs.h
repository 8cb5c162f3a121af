#pragma once

#include <QString>

#include <optional>

class QWidget;

namespace plumora {

// The open dialog: every picture type we can read or preview, with a pane
// showing a thumbnail of the selected file and its size in pixels. Returns
// the chosen name, or an empty string when the user cancels. It starts in
// folder (the working folder when empty).
QString runOpenPictureDialog(QWidget* parent, const QString& folder = {});

// The save dialog: the three types "*.jpg", "*.bmp" and "*.wmf", starting on
// `filterIndex` (1..3). Returns the typed name and the type chosen.
struct SaveChoice {
    QString name;
    int filterIndex = 1;
};
std::optional<SaveChoice> runSavePictureDialog(QWidget* parent, int filterIndex, const QString& folder = {});

// The open dialog's type list, for the formats this machine can read.
QStringList openDialogNameFilters();

}  // namespace plumora
