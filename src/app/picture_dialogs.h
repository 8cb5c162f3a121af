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

// Whether a file name is a recipe's (".plumora-recipe", any case).
bool isRecipeFileName(const std::string& name);
// Asks for a recipe file: to save (starting from suggested, given the
// extension when typed without it, asking before replacing a file) or to
// open. An empty name on cancel.
QString runRecipeFileDialog(QWidget* parent, bool save, const QString& suggested);

// The types the save dialog offers, in its order (JPEG, BMP, WMF, PNG): the
// one list the dialog's filters, the type a typed extension names and the
// extension a name is given come from.
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
// (1..) with the suggested name (and its folder) typed in, and a box for
// the JPEG quality (1 to 100) that counts while the JPEG type is chosen.
// Returns the typed name, the type chosen and the quality.
struct SaveChoice {
    QString name;
    int filterIndex = 1;
    std::optional<int> quality = std::nullopt;  // nothing: the one remembered
    bool keepLocation = false;                  // "Keep location": the camera's GPS data is written
};
std::optional<SaveChoice> runSavePictureDialog(QWidget* parent, int filterIndex, const QString& suggested = {},
                                               int quality = 90);

// The open dialog's type list, for the formats this machine can read.
QStringList openDialogNameFilters();

}  // namespace plumora
