// The main window's care for the user's files (the caption naming the
// picture's file and marking changes not saved, the question before such
// changes would be lost, the save type) and for the windows it opens.

#include "app/main_window.h"

#include "app/messages.h"
#include "app/product.h"
#include "app/recent_files.h"
#include "formats/jpeg.h"
#include "formats/metafile.h"
#include "formats/picture_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <system_error>

namespace plumora {

namespace {

// The file's name without its folder, as the caption and the question show it.
QString shownName(const std::string& file)
{
    return QFileInfo(QFile::decodeName(file.c_str())).fileName();
}

}  // namespace

void MainWindow::showDocumentName()
{
    // Qt shows "[*]" as "*" while the window is marked modified, and as
    // nothing otherwise; a "[*]" in a file's own name is doubled so that it
    // shows as it is.
    const QString caption = QString::fromLatin1(product::kMainCaption);
    if (m_documentFile.empty())
        setWindowTitle(QStringLiteral("[*]") + caption);
    else
        setWindowTitle(caption + QStringLiteral(" - [*]") +
                       shownName(m_documentFile).replace(QStringLiteral("[*]"), QStringLiteral("[*][*]")));
}

void MainWindow::giveKeyboardTo(QWidget* window)
{
    // A desktop that keeps the focus on the window the user clicked last
    // (openbox does for a new tool window) is asked for it; the window's
    // first control in its Tab order gets the keys.
    window->activateWindow();
}

void MainWindow::savedAs(const TBitmap32& picture, const std::string& file)
{
    if (&picture != &m_document->displayed())
        return;
    m_documentFile = file;
    showDocumentName();
    m_savedFile = file;
    m_document->markSaved();
    m_recentFiles->add(file);
}

void MainWindow::writePicture(const TBitmap32& picture, const std::string& name)
{
    // Saved by the extension, as plumora-cli saves: a BMP goes to the file a
    // band at a time instead of whole in memory first; a JPEG or WebP at the
    // quality the user chose; a JPEG, PNG, WebP or TIFF with the opened
    // file's colour profile and camera data.
    // The opened file's profile and camera data go with it.
    runLong([&] {
        savePicture(picture, name,
                    SaveOptions{.quality = m_jpegQuality, .metadata = m_metadata, .keepLocation = m_keepLocation});
    });
}

namespace {

// The last operation's label as part of a file name: "Pen Sketch" gives
// "pen-sketch". Labels that name no operation give nothing.
QString labelPart(const std::string& label)
{
    if (label == "New picture" || label == "Undo" || label == "Redo")
        return {};
    QString part;
    for (const QChar c : QString::fromStdString(label).toLower()) {
        if (c.isLetterOrNumber())
            part += c;
        else if (!part.isEmpty() && !part.endsWith(u'-'))
            part += u'-';
    }
    while (part.endsWith(u'-'))
        part.chop(1);
    return part;
}

}  // namespace

QString MainWindow::suggestedSaveName() const
{
    const QString extension =
        saveTypes()[std::clamp(m_saveFilterIndex, 1, int(saveTypes().size())) - 1].extensions.constFirst();
    const QString part = labelPart(m_document->label());
    QString folder = m_saveFolder;
    QString base = QStringLiteral("picture");
    if (!m_openedFile.empty()) {
        const QFileInfo opened(QFile::decodeName(m_openedFile.c_str()));
        folder = opened.absolutePath();
        base = opened.completeBaseName();
    }
    const QString name = (part.isEmpty() ? base : base + u'-' + part) + u'.' + extension;
    return folder.isEmpty() ? name : QDir(folder).filePath(name);
}

void MainWindow::openRecentFile(const std::string& file)
{
    if (const QString missing = whyNoFile(file); !missing.isEmpty()) {
        m_recentFiles->remove(file);
        showMessage(this, QStringLiteral("Open Recent"),
                    missing + QStringLiteral(" It is taken off the list of recent files."));
        return;
    }
    openLocalFile(file);
}

std::optional<std::string> MainWindow::nameToSave(const SaveChoice& choice, const TBitmap32& picture)
{
    const int typed = saveTypeOfName(choice.name);
    const int type = typed > 0 ? typed : std::clamp(choice.filterIndex, 1, int(saveTypes().size()));
    std::string name = QFile::encodeName(choice.name).toStdString();
    const SaveType& saveType = saveTypes()[type - 1];
    if (typed == 0)
        name = replaceExtension(name, "." + saveType.extensions.constFirst().toStdString());
    if (saveType.format == SaveFormat::Wmf) {
        // A metafile holds the pixels uncompressed, three bytes each: a
        // photograph from a camera makes hundreds of megabytes of it.
        constexpr std::uint64_t kLargeMetafile = 50'000'000;
        const std::uint64_t size = wmfFileSize(picture.width(), picture.height());
        if (size > kLargeMetafile &&
            !askYesNo(this, QStringLiteral("Save"),
                      QStringLiteral("The WMF will be about %1 MB. Save it anyway?").arg((size + 500'000) / 1'000'000)))
            return std::nullopt;
    }
    m_saveFilterIndex = type;
    return name;
}

QString MainWindow::whyNoFile(const std::string& file)
{
    // Told as such rather than as a format we cannot read: the user mistyped
    // a name, or a file was moved away, or a folder was chosen.
    const QString name = QFile::decodeName(file.c_str());
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(file, error);
    if (status.type() == std::filesystem::file_type::not_found)
        return QStringLiteral("%1 does not exist.").arg(name);
    if (status.type() == std::filesystem::file_type::directory)
        return QStringLiteral("%1 is a folder.").arg(name);
    return {};
}

bool MainWindow::maySetPictureAside()
{
    if (!m_document->modified())
        return true;
    const QString name = m_documentFile.empty() ? QStringLiteral("Untitled") : shownName(m_documentFile);
    switch (askToSaveChanges(this, QStringLiteral("Save changes to %1 before closing?").arg(name))) {
    case SaveAnswer::Discard:
        return true;
    case SaveAnswer::Cancel:
        return false;
    case SaveAnswer::Save:
        break;
    }
    // A save that was cancelled or failed (told in its own box) keeps the
    // picture: nothing is lost.
    bool saved = false;
    runGuarded([&] { saved = saveClicked(); });
    return saved && !m_document->modified();
}

}  // namespace plumora
