#pragma once

#include "formats/picture_file.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class QWidget;

namespace plumora {

// The open dialog: every picture type we can read or preview, with a pane
// showing a thumbnail of the selected file and its size in pixels. Returns
// the chosen name, or an empty string when the user cancels. It starts in
// folder (the working folder when empty).
QString runOpenPictureDialog(QWidget* parent, const QString& folder = {});

// The types the save dialog offers, in its order ("*.jpg", "*.bmp",
// "*.wmf"): the one list the dialog, the type typed and the extension given
// come from.
struct SaveType {
    QString filter;          // the dialog's name filter
    QStringList extensions;  // lower case, without the dot; the first is given to a name without one
    SaveFormat format;
};
const QList<SaveType>& saveTypes();
// The type (1..) whose extension ends the name, whatever its case; 0 for
// a name with no extension or another one.
int saveTypeOfName(const QString& name);

// The save dialog: the types of saveTypes(), starting on `filterIndex`
// (1..). Returns the typed name and the type chosen.
struct SaveChoice {
    QString name;
    int filterIndex = 1;
};
std::optional<SaveChoice> runSavePictureDialog(QWidget* parent, int filterIndex, const QString& folder = {});

// The open dialog's type list, for the formats this machine can read.
QStringList openDialogNameFilters();

}  // namespace plumora
