// The main window's recipe commands: File > "Save Recipe..." and "Apply
// Recipe...", Edit > "Copy as Command", and a recipe file opened or dropped.

#include "app/live_preview.h"
#include "app/main_window.h"
#include "app/messages.h"
#include "app/picture_dialogs.h"
#include "app/recipe_commands.h"
#include "formats/picture_file.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QStatusBar>

namespace plumora {

namespace {

QString shown(const std::string& file)
{
    return QDir::toNativeSeparators(QFile::decodeName(file.c_str()));
}

}  // namespace

void MainWindow::saveRecipeClicked()
{
    // Refused before any dialog when the picture was coloured by hand.
    const std::string json = recipeJson(m_document->repeatableRecipe());
    // Beside the picture, named after it.
    QString suggested = suggestedSaveName();
    suggested = QFileInfo(suggested).dir().filePath(QFileInfo(suggested).completeBaseName() +
                                                    QStringLiteral(".plumora-recipe"));
    QString name = m_chooseRecipeFile(RecipeFileUse::Save, suggested);
    if (name.isEmpty())
        return;
    if (!isRecipeFileName(QFile::encodeName(name).toStdString()))
        name += QStringLiteral(".plumora-recipe");
    const std::string file = QFile::encodeName(name).toStdString();
    writeFileAtomically(file, std::vector<std::uint8_t>(json.begin(), json.end()));
    statusLine->showMessage(QStringLiteral("The recipe was saved as %1.").arg(shown(file)), 5000);
}

void MainWindow::applyRecipeClicked()
{
    const QString name = m_chooseRecipeFile(RecipeFileUse::Apply, m_openFolder);
    if (name.isEmpty())
        return;
    applyRecipeFile(QFile::encodeName(name).toStdString());
}

void MainWindow::applyRecipeFile(const std::string& file)
{
    // Read and checked whole first: a recipe with a fault changes nothing.
    Recipe recipe;
    try {
        recipe = readRecipeFile(file);
    } catch (const PlumoraError& e) {
        throw PlumoraError(QFile::decodeName(file.c_str()).toStdString() + ": " + e.what());
    }
    closetool();
    // A recipe opened from a file manager before any picture: the picture
    // to give it to comes first.
    if (m_openedFile.empty()) {
        OpenPicture();
        if (m_openedFile.empty())
            return;
    }
    m_preview->clear();
    applyRecipeTo(*m_document, recipe, [this](const std::function<void()>& work) { runLong(work); });
}

void MainWindow::copyAsCommandClicked()
{
    const Recipe& recipe = m_document->repeatableRecipe();
    const QString input = m_openedFile.empty() ? QStringLiteral("photo.jpg") : QFile::decodeName(m_openedFile.c_str());
    const QString command = commandFor(recipe, input, suggestedSaveName());
    QGuiApplication::clipboard()->setText(command);
    statusLine->showMessage(QStringLiteral("The plumora-cli command is on the clipboard."), 5000);
}

}  // namespace plumora
