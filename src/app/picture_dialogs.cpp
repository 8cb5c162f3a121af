#include "app/picture_dialogs.h"

#include "formats/picture_file.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPointer>
#include <QSpinBox>
#include <QThreadPool>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>

namespace plumora {

namespace {

struct PictureType {
    const char* description;
    QStringList extensions;
    const char* qtFormat;  // nullptr: we read it ourselves
};

// The picture types a user meets, in the order the list shows them. A type
// is listed only when some reader on this machine decodes it.
const QList<PictureType>& pictureTypes()
{
    static const QList<PictureType> types = {
        {"Bitmaps", {"bmp", "dib", "rle"}, nullptr},
        {"Icons", {"ico"}, nullptr},
        {"Metafiles", {"wmf"}, nullptr},
        {"Enhanced Metafiles", {"emf"}, nullptr},
        {"JPEG Image File", {"jfif", "jpg", "jpe", "jpeg"}, nullptr},
        {"CompuServe GIF Image", {"gif"}, nullptr},
        {"HEIC Photograph", {"heic", "heif"}, nullptr},
        {"AVIF Image", {"avif"}, nullptr},
        {"JPEG XL Image", {"jxl"}, nullptr},
        {"WebP Image", {"webp"}, "webp"},
        {"Portable Network Graphics", {"png"}, "png"},
        {"TIFF Image", {"tiff", "tif"}, "tiff"},
        {"Targa Image", {"tga", "icb", "vst", "vda", "win"}, "tga"},
        {"Portable Pixmap", {"ppm", "pgm", "pbm"}, "ppm"},
        {"Silicon Graphics Image", {"sgi", "rgba", "rgb", "bw"}, "sgi"},
        {"Photoshop Image", {"psd", "pdd"}, "psd"},
        {"PC Paintbrush", {"pcx", "pcc", "scr"}, "pcx"},
    };
    return types;
}

bool readable(const PictureType& type)
{
    return !type.qtFormat || QImageReader::supportedImageFormats().contains(QByteArray(type.qtFormat));
}

QString patterns(const QStringList& extensions)
{
    QStringList p;
    for (const QString& e : extensions)
        p << QStringLiteral("*.") + e;
    return p.join(u' ');
}

// A thumbnail of any picture file, at most `box` pixels on a side, and its
// full size. Qt's readers scale while decoding where they can (JPEG), which
// keeps the pane quick on large photographs; our own readers cover the rest,
// phones' photographs among them (HEIC, AVIF, JPEG XL: the picture-file
// layer knows them by their content, and turns them upright as opening does).
QImage thumbnail(const QString& path, int box, QSize* size)
{
    // The preview reads on a pool thread, which ends when it idles.
    loadQtImagePlugins();
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QString suffix = QFileInfo(path).suffix().toLower();
    static const QStringList ourSuffixes = {QStringLiteral("wmf"),  QStringLiteral("emf"),  QStringLiteral("bmp"),
                                            QStringLiteral("heic"), QStringLiteral("heif"), QStringLiteral("avif"),
                                            QStringLiteral("jxl")};
    const bool ours = ourSuffixes.contains(suffix);
    if (!ours && reader.canRead() && reader.size().isValid()) {
        *size = reader.size();
        if (reader.transformation() & QImageIOHandler::TransformationRotate90)
            size->transpose();
        reader.setScaledSize(reader.size().scaled(box, box, Qt::KeepAspectRatio));
        QImage image = reader.read();
        if (!image.isNull())
            return image;
    }
    try {
        const TBitmap32 picture = readAnyPicture(QFile::encodeName(path).toStdString(), SvgDrawings::Read);
        *size = QSize(picture.width(), picture.height());
        const QImage view(picture.bits(), picture.width(), picture.height(), qsizetype(picture.bytesPerLine()),
                          QImage::Format_RGB32);
        return view.scaled(box, box, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    } catch (const std::exception&) {
        return QImage();
    }
}

void showPreview(QLabel* picture, QLabel* caption, const QImage& image, QSize size)
{
    picture->setPixmap(image.isNull() ? QPixmap() : QPixmap::fromImage(image));
    caption->setText(image.isNull() ? QString()
                                    : QStringLiteral("%1 x %2 pixels").arg(size.width()).arg(size.height()));
}

}  // namespace

QStringList openDialogNameFilters()
{
    QStringList all;
    QStringList filters;
    for (const PictureType& type : pictureTypes()) {
        if (!readable(type))
            continue;
        all << patterns(type.extensions);
        filters << QStringLiteral("%1 (%2)").arg(QString::fromLatin1(type.description), patterns(type.extensions));
    }
    filters.prepend(QStringLiteral("All pictures (%1)").arg(all.join(u' ')));
    filters << QStringLiteral("All files (*)");
    return filters;
}

QString runOpenPictureDialog(QWidget* parent, const QString& folder)
{
    QFileDialog dialog(parent, QStringLiteral("Open"), folder);
    dialog.setObjectName(QStringLiteral("OpenPictureDialog1"));
    // Our own dialog, so that it can carry the preview pane.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters(openDialogNameFilters());

    auto* pane = new QWidget(&dialog);
    pane->setObjectName(QStringLiteral("PreviewPane"));
    auto* picture = new QLabel(pane);
    picture->setObjectName(QStringLiteral("PreviewPicture"));
    picture->setFixedSize(164, 164);
    picture->setAlignment(Qt::AlignCenter);
    picture->setFrameShape(QFrame::StyledPanel);
    auto* caption = new QLabel(pane);
    caption->setObjectName(QStringLiteral("PreviewSize"));
    caption->setAlignment(Qt::AlignCenter);
    auto* layout = new QVBoxLayout(pane);
    layout->addWidget(picture);
    layout->addWidget(caption);
    layout->addStretch();
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout()))
        grid->addWidget(pane, 1, grid->columnCount(), grid->rowCount() - 1, 1);

    // Previews are read off the GUI thread: a large or hostile file may take
    // a second to read, and the dialog must answer meanwhile. Only the latest
    // selection's preview is shown: a reading that has not started when
    // another file is selected is skipped, and a result that comes back after
    // another selection is dropped.
    auto latest = std::make_shared<std::atomic<std::uint64_t>>(0);
    QObject::connect(&dialog, &QFileDialog::currentChanged, pane, [picture, caption, latest](const QString& path) {
        const std::uint64_t request = ++*latest;
        picture->setPixmap(QPixmap());
        if (!QFileInfo(path).isFile()) {
            caption->clear();
            return;
        }
        caption->setText(QStringLiteral("..."));
        const QPointer<QLabel> pictureLabel(picture), captionLabel(caption);
        QThreadPool::globalInstance()->start([=] {
            if (*latest != request)
                return;
            QSize size;
            const QImage image = thumbnail(path, 160, &size);
            // Shown on the GUI thread, if the dialog is still open and nothing was selected since.
            QMetaObject::invokeMethod(
                qApp,
                [=] {
                    if (pictureLabel && captionLabel && *latest == request)
                        showPreview(pictureLabel, captionLabel, image, size);
                },
                Qt::QueuedConnection);
        });
    });

    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

const QList<SaveType>& saveTypes()
{
    static const QList<SaveType> types = [] {
        // The first three in the order the program always had (the type
        // remembered between runs is kept by its place), the others as the
        // picture files list what we write.
        std::vector<SaveFormat> order{SaveFormat::Jpeg, SaveFormat::Bmp, SaveFormat::Wmf};
        for (const WritableType& type : writableTypes())
            if (std::find(order.begin(), order.end(), type.format) == order.end())
                order.push_back(type.format);
        const auto described = [](SaveFormat format) {
            switch (format) {
            case SaveFormat::Bmp:
                return QStringLiteral("Bitmap");
            case SaveFormat::Wmf:
                return QStringLiteral("Windows metafile");
            default:
                return QString::fromLatin1(writableType(format).name) + QStringLiteral(" picture");
            }
        };
        QList<SaveType> list;
        for (const SaveFormat format : order) {
            QStringList extensions, patterns;
            for (const std::string& extension : writableType(format).extensions) {
                extensions << QString::fromStdString(extension.substr(1));  // without the dot
                patterns << u'*' + QString::fromStdString(extension);
            }
            list.append({described(format) + QStringLiteral(" (") + patterns.join(u' ') + u')', extensions, format});
        }
        return list;
    }();
    return types;
}

int saveTypeOfName(const QString& name)
{
    const QString suffix = QFileInfo(name).suffix().toLower();
    for (int i = 0; i < saveTypes().size(); ++i)
        if (!suffix.isEmpty() && saveTypes()[i].extensions.contains(suffix))
            return i + 1;
    return 0;
}

std::optional<SaveChoice> runSavePictureDialog(QWidget* parent, int filterIndex, const QString& suggested, int quality)
{
    QStringList filters;
    for (const SaveType& type : saveTypes())
        filters << type.filter;
    QFileDialog dialog(parent, QStringLiteral("Save"));
    dialog.setObjectName(QStringLiteral("SavePictureDialog1"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    // A name without a known extension gets the type's after the dialog
    // closes, so the dialog's own "replace this file?" could ask about the
    // wrong file.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filters.value(filterIndex - 1, filters.constFirst()));
    if (!suggested.isEmpty()) {
        const QFileInfo name(suggested);
        if (suggested.contains(u'/'))
            dialog.setDirectory(name.absolutePath());
        dialog.selectFile(name.fileName());
    }
    // Another type chosen in the list puts its extension on a name that has
    // one of our types' (a name the user gave another ending keeps it).
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, filters](const QString& filter) {
        const int type = int(filters.indexOf(filter)) + 1;
        auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (type <= 0 || !edit || saveTypeOfName(edit->text()) == 0)
            return;
        const QFileInfo typed(edit->text());
        edit->setText(typed.completeBaseName() + u'.' + saveTypes()[type - 1].extensions.constFirst());
    });

    auto* qualityLabel = new QLabel(QStringLiteral("JPEG, WebP &quality:"), &dialog);
    qualityLabel->setObjectName(QStringLiteral("JpegQualityLabel"));
    auto* qualityBox = new QSpinBox(&dialog);
    qualityBox->setObjectName(QStringLiteral("JpegQuality"));
    qualityBox->setRange(1, 100);
    qualityBox->setValue(std::clamp(quality, 1, 100));
    qualityBox->setToolTip(QStringLiteral("1 makes the smallest files, 100 the truest pictures"));
    qualityLabel->setBuddy(qualityBox);
    // Off every time the dialog opens: where a photograph was taken goes
    // into a file only when the user says so for that file.
    auto* keepLocation = new QCheckBox(QStringLiteral("&Keep location"), &dialog);
    keepLocation->setObjectName(QStringLiteral("KeepLocation"));
    keepLocation->setChecked(false);
    keepLocation->setToolTip(QStringLiteral("Write where the photograph was taken (its GPS data) into a JPEG, PNG, "
                                            "WebP or TIFF, with its other camera data"));
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) {
        const int row = grid->rowCount();
        grid->addWidget(qualityLabel, row, 0);
        grid->addWidget(qualityBox, row, 1, Qt::AlignLeft);
        grid->addWidget(keepLocation, row + 1, 1, Qt::AlignLeft);
    }

    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    const int chosen = int(filters.indexOf(dialog.selectedNameFilter())) + 1;
    return SaveChoice{dialog.selectedFiles().constFirst(), chosen > 0 ? chosen : 1, qualityBox->value(),
                      keepLocation->isChecked()};
}

}  // namespace plumora

namespace plumora {

bool isRecipeFileName(const std::string& name)
{
    return QString::fromStdString(name).endsWith(QStringLiteral(".plumora-recipe"), Qt::CaseInsensitive);
}

QString runRecipeFileDialog(QWidget* parent, bool save, const QString& suggested)
{
    QFileDialog dialog(parent, save ? QStringLiteral("Save Recipe") : QStringLiteral("Apply Recipe"));
    dialog.setObjectName(QStringLiteral("RecipeFileDialog1"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilter(QStringLiteral("Plumora recipe (*.plumora-recipe)"));
    dialog.setDefaultSuffix(QStringLiteral("plumora-recipe"));
    if (!suggested.isEmpty()) {
        const QFileInfo name(suggested);
        dialog.setDirectory(name.absolutePath());
        if (save)
            dialog.selectFile(name.fileName());
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

}  // namespace plumora
