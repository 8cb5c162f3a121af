#include "app/image_size_dialog.h"

#include "app/messages.h"
#include "document/document.h"
#include "raster/errors.h"
#include "raster/rounding.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
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

TImage_size::TImage_size(Document& document, QWidget* mainWindow)
    : QWidget(mainWindow, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    , m_document(document)
{
    setObjectName(QStringLiteral("TImage_size"));
    setWindowTitle(QStringLiteral("Image_size"));
    setFixedSize(297, 179);
    setAutoFillBackground(true);
    QPalette sky = palette();
    sky.setColor(QPalette::Window, kSkyBlue);
    setPalette(sky);

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
    Label1 = label("Label1", "Width:", 20, 16);
    Edit1 = edit("Edit1", 16);
    Label3 = label("Label3", "Pixels", 204, 16);
    Label2 = label("Label2", "Height:", 20, 50);
    Edit2 = edit("Edit2", 50);
    Label4 = label("Label4", "Pixels", 204, 50);

    CheckBox1 = new QCheckBox(QStringLiteral("Hold in width and height"), this);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    CheckBox1->setGeometry(20, 84, 200, 24);
    CheckBox1->setChecked(true);

    SpeedButton1 = new QToolButton(this);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setText(QStringLiteral("-"));
    SpeedButton1->setGeometry(230, 84, 24, 24);
    SpeedButton2 = new QToolButton(this);
    SpeedButton2->setObjectName(QStringLiteral("SpeedButton2"));
    SpeedButton2->setText(QStringLiteral("+"));
    SpeedButton2->setGeometry(258, 84, 24, 24);

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(104, 132, 80, 28);
    Button2 = new QPushButton(QStringLiteral("Cancel"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setGeometry(196, 132, 80, 28);

    connect(SpeedButton1, &QToolButton::clicked, this, guarded([this] { SpeedButton1Click(); }));
    connect(SpeedButton2, &QToolButton::clicked, this, guarded([this] { SpeedButton2Click(); }));
    connect(Button1, &QPushButton::clicked, this, guarded([this] { Button1Click(); }));
    connect(Button2, &QPushButton::clicked, this, guarded([this] { Button2Click(); }));
}

void TImage_size::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        runGuarded([this] { FormShow(); });
}

bool TImage_size::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Edit1 || watched == Edit2) {
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
                runGuarded([this] { Button1Click(); });
                return true;
            }
        } else if (event->type() == QEvent::KeyRelease) {
            runGuarded([this, watched] { watched == Edit1 ? Edit1KeyUp() : Edit2KeyUp(); });
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TImage_size::FormShow()
{
    Edit1->setText(QString::number(m_document.displayed().width()));
    Edit2->setText(QString::number(m_document.displayed().height()));
    setWindowTitle(QStringLiteral("Image_size"));
}

void TImage_size::SpeedButton1Click()
{
    // Each field from its own current value, so repeated clicks accumulate rounding.
    const QString w = roundedText(toInteger(Edit1->text()) * 80.0 / 100);
    const QString h = roundedText(toInteger(Edit2->text()) * 80.0 / 100);
    Edit1->setText(w);
    Edit2->setText(h);
}

void TImage_size::SpeedButton2Click()
{
    const QString w = roundedText(toInteger(Edit1->text()) * 125.0 / 100);
    const QString h = roundedText(toInteger(Edit2->text()) * 125.0 / 100);
    Edit1->setText(w);
    Edit2->setText(h);
}

// While the box is checked the other field follows every keystroke. A digit
// string too long for a whole number is left for OK to refuse, rather than
// interrupting the typing with a message box at every key.
void TImage_size::Edit1KeyUp()
{
    bool ok = false;
    const int typed = Edit1->text().toInt(&ok);
    if (CheckBox1->isChecked() && onlyDigits(Edit1->text()) && ok) {
        const TBitmap32& p = m_document.displayed();
        Edit2->setText(roundedText(double(typed) * p.height() / p.width()));
    }
}

void TImage_size::Edit2KeyUp()
{
    bool ok = false;
    const int typed = Edit2->text().toInt(&ok);
    if (CheckBox1->isChecked() && onlyDigits(Edit2->text()) && ok) {
        const TBitmap32& p = m_document.displayed();
        Edit1->setText(roundedText(double(typed) * p.width() / p.height()));
    }
}

void TImage_size::Button1Click()
{
    const QString invalid = QStringLiteral("Please input a valid integer value.");
    if (!onlyDigits(Edit1->text()) || !onlyDigits(Edit2->text())) {
        showMessage(this, QStringLiteral("Plumora"), invalid);
        return;
    }
    const int width = toInteger(Edit1->text());
    const int height = toInteger(Edit2->text());
    if (width <= 0 || height <= 0) {
        showMessage(this, QStringLiteral("Plumora"), invalid);
        return;
    }
    m_document.resizePictures(width, height);
    close();
}

void TImage_size::Button2Click()
{
    close();
}

}  // namespace plumora
