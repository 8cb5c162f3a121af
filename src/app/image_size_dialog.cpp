#include "app/image_size_dialog.h"

#include "app/effect_windows/effect_dialog.h"
#include "app/messages.h"
#include "app/theme.h"
#include "document/document.h"
#include "raster/errors.h"
#include "raster/rounding.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QShowEvent>
#include <QToolButton>

#include <climits>

namespace plumora {

namespace {

const QColor kSkyBlue(0xA6, 0xCA, 0xF0);

// A non-empty run of the digits 0 to 9, nothing else (no sign, no spaces).
bool onlyDigits(const QString& text)
{
    if (text.isEmpty())
        return false;
    for (QChar c : text)
        if (c < u'0' || c > u'9')
            return false;
    return true;
}

// The text as a whole number, or the conversion error every number field
// of the program gives.
int toInteger(const QString& text)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok)
        throw PlumoraError("'" + text.toStdString() + "' is not a valid integer value");
    return value;
}

QString roundedText(double value)
{
    if (!(value >= INT_MIN && value <= INT_MAX))
        throw PlumoraError("'" + std::to_string(value) + "' is not a valid integer value");
    return QString::number(Round(value));
}

}  // namespace

ImageSizeDialog::ImageSizeDialog(Document& document, QWidget* mainWindow)
    : QWidget(mainWindow, toolWindowFlags()), m_document(document)
{
    setObjectName(QStringLiteral("TImage_size"));
    setWindowTitle(QStringLiteral("Image_size"));
    setFixedSize(297, 179);
    if (const QColor face = windowFace(kSkyBlue); face.isValid()) {
        setAutoFillBackground(true);
        QPalette sky = palette();
        sky.setColor(QPalette::Window, face);
        setPalette(sky);
    }

    auto label = [this](const char* name, const char* text, int x, int y) {
        auto* l = new QLabel(QString::fromLatin1(text), this);
        l->setObjectName(QString::fromLatin1(name));
        l->setGeometry(x, y, 70, 24);
        return l;
    };
    auto edit = [this](const char* name, int y) {
        auto* e = new QLineEdit(this);
        e->setObjectName(QString::fromLatin1(name));
        e->setGeometry(92, y, 100, 24);
        e->installEventFilter(this);
        return e;
    };
    widthLabel = label("Label1", "Width:", 20, 16);
    widthEdit = edit("Edit1", 16);
    widthUnitLabel = label("Label3", "Pixels", 204, 16);
    heightLabel = label("Label2", "Height:", 20, 50);
    heightEdit = edit("Edit2", 50);
    heightUnitLabel = label("Label4", "Pixels", 204, 50);

    keepProportionsBox = new QCheckBox(QStringLiteral("Hold in width and height"), this);
    keepProportionsBox->setObjectName(QStringLiteral("CheckBox1"));
    keepProportionsBox->setGeometry(20, 84, 200, 24);
    keepProportionsBox->setChecked(true);

    shrinkButton = new QToolButton(this);
    shrinkButton->setObjectName(QStringLiteral("SpeedButton1"));
    shrinkButton->setText(QStringLiteral("-"));
    shrinkButton->setGeometry(230, 84, 24, 24);
    enlargeButton = new QToolButton(this);
    enlargeButton->setObjectName(QStringLiteral("SpeedButton2"));
    enlargeButton->setText(QStringLiteral("+"));
    enlargeButton->setGeometry(258, 84, 24, 24);

    okButton = new QPushButton(QStringLiteral("OK"), this);
    okButton->setObjectName(QStringLiteral("Button1"));
    okButton->setGeometry(104, 132, 80, 28);
    cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    cancelButton->setObjectName(QStringLiteral("Button2"));
    cancelButton->setGeometry(196, 132, 80, 28);

    connect(shrinkButton, &QToolButton::clicked, this, guarded([this] { shrinkClicked(); }));
    connect(enlargeButton, &QToolButton::clicked, this, guarded([this] { enlargeClicked(); }));
    connect(okButton, &QPushButton::clicked, this, guarded([this] { okClicked(); }));
    connect(cancelButton, &QPushButton::clicked, this, guarded([this] { cancelClicked(); }));
    // Enter in a box is "OK" (see eventFilter); Esc anywhere is "Cancel".
    okButton->setDefault(true);
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this,
            guarded([this] { cancelClicked(); }));
}

void ImageSizeDialog::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        runGuarded([this] { windowShown(); });
}

bool ImageSizeDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == widthEdit || watched == heightEdit) {
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
                runGuarded([this] { okClicked(); });
                return true;
            }
        } else if (event->type() == QEvent::KeyRelease) {
            runGuarded([this, watched] { watched == widthEdit ? widthTyped() : heightTyped(); });
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ImageSizeDialog::windowShown()
{
    widthEdit->setText(QString::number(m_document.displayed().width()));
    heightEdit->setText(QString::number(m_document.displayed().height()));
    setWindowTitle(QStringLiteral("Image_size"));
    m_shownSize = QSize(m_document.displayed().width(), m_document.displayed().height());
}

void ImageSizeDialog::documentChanged()
{
    if (isVisible() && QSize(m_document.displayed().width(), m_document.displayed().height()) != m_shownSize)
        windowShown();
}

void ImageSizeDialog::shrinkClicked()
{
    // Each field from its own current value, so repeated clicks accumulate rounding.
    const QString w = roundedText(toInteger(widthEdit->text()) * 80.0 / 100);
    const QString h = roundedText(toInteger(heightEdit->text()) * 80.0 / 100);
    widthEdit->setText(w);
    heightEdit->setText(h);
}

void ImageSizeDialog::enlargeClicked()
{
    const QString w = roundedText(toInteger(widthEdit->text()) * 125.0 / 100);
    const QString h = roundedText(toInteger(heightEdit->text()) * 125.0 / 100);
    widthEdit->setText(w);
    heightEdit->setText(h);
}

// While the box is checked the other field follows every keystroke. A digit
// string too long for a whole number is left for OK to refuse, rather than
// interrupting the typing with a message box at every key.
void ImageSizeDialog::widthTyped()
{
    bool ok = false;
    const int typed = widthEdit->text().toInt(&ok);
    if (keepProportionsBox->isChecked() && onlyDigits(widthEdit->text()) && ok) {
        const TBitmap32& p = m_document.displayed();
        heightEdit->setText(roundedText(double(typed) * p.height() / p.width()));
    }
}

void ImageSizeDialog::heightTyped()
{
    bool ok = false;
    const int typed = heightEdit->text().toInt(&ok);
    if (keepProportionsBox->isChecked() && onlyDigits(heightEdit->text()) && ok) {
        const TBitmap32& p = m_document.displayed();
        widthEdit->setText(roundedText(double(typed) * p.width() / p.height()));
    }
}

void ImageSizeDialog::okClicked()
{
    const QString invalid = QStringLiteral("Please input a valid integer value.");
    if (!onlyDigits(widthEdit->text()) || !onlyDigits(heightEdit->text())) {
        showMessage(this, QStringLiteral("Plumora"), invalid);
        return;
    }
    const int width = toInteger(widthEdit->text());
    const int height = toInteger(heightEdit->text());
    if (width <= 0 || height <= 0) {
        showMessage(this, QStringLiteral("Plumora"), invalid);
        return;
    }
    m_document.resizePictures(width, height, keepProportionsBox->isChecked());
    close();
}

void ImageSizeDialog::cancelClicked()
{
    close();
}

}  // namespace plumora
