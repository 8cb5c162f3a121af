#include "app/effect_windows/freehand_control.h"

#include "app/effect_windows/effect_dialog.h"
#include "app/effect_windows/freehand_work_area.h"
#include "app/messages.h"
#include "app/picture_view.h"
#include "app/theme.h"
#include "document/document.h"
#include "freehand/lines.h"

#include <QButtonGroup>
#include <QColorDialog>
#include <QFrame>
#include <QIcon>
#include <QKeySequence>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QShortcut>
#include <QSlider>
#include <QToolButton>

namespace plumora {

namespace {

constexpr int kPhotoWidth = 217;
constexpr int kPhotoHeight = 193;
constexpr int kPhotoLeft = 4;
constexpr int kPanelGap = 20;  // between the photo and the tool panel

struct ToolButton {
    FreehandTool tool;
    const char* objectName;
    const char* icon;
    const char* hint;
};

// In the order they stand in the panel.
constexpr ToolButton kToolButtons[] = {
    {FreehandTool::Brush, "SpeedButton14", "brush", "Brush to scrawl the picture"},
    {FreehandTool::Pen, "SpeedButton12", "pen", "Pen to draw line"},
    {FreehandTool::StraightLine, "SpeedButton1", "line", "Draw a beeline"},
    {FreehandTool::Rubber, "SpeedButton15", "rubber", "Rubber to clear"},
    {FreehandTool::Eyedropper, "SpeedButton11", "eyedropper", "Pick a color from the photo"},
};

template <class W>
W* named(W* widget, const char* name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QPushButton* pushButton(QWidget* parent, const char* name, const char* caption, const char* hint, QRect geometry)
{
    auto* button = named(new QPushButton(QString::fromLatin1(caption), parent), name);
    if (hint)
        button->setToolTip(QString::fromLatin1(hint));
    button->setGeometry(geometry);
    return button;
}

}  // namespace

FreehandControl::FreehandControl(Document& document, QWidget* mainWindow)
    // No parent, for the reason the work area has none.
    : QWidget(nullptr, toolWindowFlags() | Qt::WindowStaysOnTopHint), m_document(document), m_mainWindow(mainWindow)
{
    setObjectName(QStringLiteral("TFreehand_control"));
    setWindowTitle(QStringLiteral("Original photo"));
    setFixedSize(226, 598);
    move(8, 39);

    m_photoView = named(new PictureView(this), "Image2");
    m_photoView->setGeometry(kPhotoLeft, 0, kPhotoWidth, kPhotoHeight);
    m_photoView->installEventFilter(this);

    m_panel = named(new QWidget(this), "Panel1");
    m_panel->setGeometry(0, kPhotoHeight + kPanelGap, width(), height() - kPhotoHeight - kPanelGap);

    m_toolButtons = new QButtonGroup(this);
    m_toolButtons->setExclusive(true);  // one stays down once one is pressed
    int left = 8;
    for (const ToolButton& t : kToolButtons) {
        auto* button = named(new QToolButton(m_panel), t.objectName);
        button->setCheckable(true);
        button->setToolTip(QString::fromLatin1(t.hint));
        button->setIcon(toolIcon(QLatin1String(t.icon)));
        button->setIconSize(QSize(24, 24));
        button->setGeometry(left, 8, 36, 36);
        m_toolButtons->addButton(button, int(t.tool));
        left += 42;
    }
    connect(m_toolButtons, &QButtonGroup::idClicked, this,
            [this](int id) { runGuarded([&] { toolChosen(FreehandTool(id)); }); });

    m_colourPanel = named(new QFrame(m_panel), "ColorPanel");
    m_colourPanel->setFrameShape(QFrame::Panel);
    m_colourPanel->setFrameShadow(QFrame::Sunken);
    m_colourPanel->setToolTip(QStringLiteral("Select a color from ColorPanel"));
    m_colourPanel->setAutoFillBackground(true);
    m_colourPanel->setCursor(Qt::PointingHandCursor);
    m_colourPanel->setGeometry(8, 54, 210, 30);
    m_colourPanel->installEventFilter(this);

    auto* caption = named(new QLabel(QStringLiteral("Dia."), m_panel), "Label2");
    // The caption and the size take what a larger desktop font needs (the
    // slider between them gives way), centred on the slider's row.
    const QFontMetrics fm = caption->fontMetrics();
    const int captionWidth = std::max(30, fm.horizontalAdvance(caption->text()));
    const int sizeWidth = std::max(30, fm.horizontalAdvance(QString::number(FreehandTools::kMaxSize)));
    const int lineHeight = std::max(20, fm.height());
    caption->setGeometry(8, 108 - lineHeight / 2, captionWidth, lineHeight);
    m_sizeSlider = named(new QSlider(Qt::Horizontal, m_panel), "TrackBar1");
    m_sizeSlider->setRange(FreehandTools::kMinSize, FreehandTools::kMaxSize);
    m_sizeSlider->setPageStep(10);
    m_sizeSlider->setValue(m_tools.size);
    m_sizeSlider->setGeometry(10 + captionWidth, 96, 214 - sizeWidth - (10 + captionWidth), 24);
    m_sizeLabel = named(new QLabel(QString::number(m_tools.size), m_panel), "Label1");
    m_sizeLabel->setGeometry(220 - sizeWidth, 108 - lineHeight / 2, sizeWidth, lineHeight);
    connect(m_sizeSlider, &QSlider::valueChanged, this,
            [this](int position) { runGuarded([&] { sizeMoved(position); }); });

    m_thinButton = pushButton(m_panel, "Button8", "Thin", "Thin the line", QRect(8, 134, 100, 28));
    m_thickButton = pushButton(m_panel, "Button4", "Thick", "Thick the line", QRect(118, 134, 100, 28));
    connect(m_thinButton, &QPushButton::clicked, this, guarded([this] { thinClicked(); }));
    connect(m_thickButton, &QPushButton::clicked, this, guarded([this] { thickClicked(); }));
    auto* ok = pushButton(m_panel, "Button1", "OK", nullptr, QRect(8, 180, 100, 28));
    auto* cancel = pushButton(m_panel, "Button2", "Cancel", nullptr, QRect(118, 180, 100, 28));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, guarded([this] { okClicked(); }));
    connect(cancel, &QPushButton::clicked, this, &QWidget::close);
    // Enter and Esc answer as "OK" and "Cancel" wherever the focus is.
    for (const QKeySequence& key : {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)})
        connect(new QShortcut(key, this), &QShortcut::activated, this, guarded([this] { okClicked(); }));
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this, &QWidget::close);

    // Qt's own dialog, so the custom colours show and a choice is kept from
    // one opening to the next.
    m_colourDialog = named(new QColorDialog(this), "ColorDialog1");
    m_colourDialog->setOption(QColorDialog::DontUseNativeDialog);
    connect(m_colourDialog, &QColorDialog::colorSelected, this, [this](const QColor& c) {
        runGuarded([&] { setColour(Rgb{std::uint8_t(c.red()), std::uint8_t(c.green()), std::uint8_t(c.blue())}); });
    });
    setColour(m_tools.colour);
}

void FreehandControl::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;
    m_photo = m_document.source();
    m_photoView->setPicture(&m_photo);
    const Size2 fitted = fitPhotoControl({kPhotoWidth, kPhotoHeight}, {m_photo.width(), m_photo.height()});
    m_photoView->resize(fitted.width, fitted.height);
    m_open = true;
    m_panel->move(0, fitted.height + kPanelGap);
    // The line passes are for black-and-white line drawings (pen sketch,
    // Dozadir, pen and ink), not for a pencil sketch's greys.
    const bool lines = m_document.thickAndThin();
    m_thinButton->setEnabled(lines);
    m_thickButton->setEnabled(lines);
}

void FreehandControl::closeEvent(QCloseEvent* event)
{
    m_mainWindow->setEnabled(true);
    m_open = false;
    m_eyedropperHeld = false;
    m_photoView->resize(kPhotoWidth, kPhotoHeight);
    m_photoView->setPicture(nullptr);
    m_photo = TBitmap32();
    if (m_workArea)
        m_workArea->close();
    event->accept();
}

bool FreehandControl::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_colourPanel && event->type() == QEvent::MouseButtonRelease) {
        runGuarded([this] { chooseColour(); });
        return true;
    }
    if (watched != m_photoView || m_tools.tool != FreehandTool::Eyedropper)
        return QWidget::eventFilter(watched, event);
    // The eyedropper answers to any mouse button.
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        m_eyedropperHeld = true;
        runGuarded([&] { pickAt(static_cast<QMouseEvent*>(event)->position().toPoint()); });
        return true;
    case QEvent::MouseMove:
        if (m_eyedropperHeld)
            runGuarded([&] { pickAt(static_cast<QMouseEvent*>(event)->position().toPoint()); });
        return true;
    case QEvent::MouseButtonRelease:
        m_eyedropperHeld = false;
        return true;
    default:
        return QWidget::eventFilter(watched, event);
    }
}

void FreehandControl::toolChosen(FreehandTool tool)
{
    m_tools.tool = tool;
    if (m_workArea)
        m_workArea->toolChanged();
    if (const int size = sizeForTool(tool))
        m_sizeSlider->setValue(size);
}

void FreehandControl::sizeMoved(int position)
{
    m_tools.size = position;
    m_sizeLabel->setText(QString::number(position));
}

void FreehandControl::chooseColour()
{
    const Rgb c = m_tools.colour;
    m_colourDialog->setCurrentColor(QColor(c.red, c.green, c.blue));
    m_colourDialog->open();
}

void FreehandControl::setColour(Rgb colour)
{
    m_tools.setColour(colour);
    QPalette p = m_colourPanel->palette();
    p.setColor(QPalette::Window, QColor(colour.red, colour.green, colour.blue));
    m_colourPanel->setPalette(p);
}

void FreehandControl::pickAt(QPoint position)
{
    if (m_photo.empty())
        return;
    const Point2 at = eyedropperPixel({position.x(), position.y()}, {m_photoView->width(), m_photoView->height()},
                                      {m_photo.width(), m_photo.height()});
    const std::uint8_t* p = m_photo.ScanLine(at.y) + std::size_t(at.x) * 4;
    setColour(Rgb{p[kRed], p[kGreen], p[kBlue]});
}

void FreehandControl::thinClicked()
{
    if (!m_workArea)
        return;
    thinline(m_workArea->picture());
    m_workArea->pictureChanged();
}

void FreehandControl::thickClicked()
{
    if (!m_workArea)
        return;
    thickline(m_workArea->picture());
    m_workArea->pictureChanged();
}

void FreehandControl::okClicked()
{
    if (!m_workArea || !m_open)
        return;
    // A copy: should recording the step fail, the colouring is still there
    // to try again.
    m_document.applyResult(m_workArea->picture(), std::string("Color up"));
    m_mainWindow->setEnabled(true);
    close();
}

}  // namespace plumora
