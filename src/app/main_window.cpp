#include "app/main_window.h"

#include "app/cursors.h"
#include "app/desktop_services.h"
#include "app/messages.h"
#include "app/picture_view.h"
#include "app/product.h"
#include "document/print_layout.h"
#include "formats/picture_file.h"
#include "raster/errors.h"

#include <QAction>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFile>
#include <QApplication>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QWheelEvent>
#include <QMenu>
#include <QMenuBar>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QToolButton>
#include <QUrl>

namespace plumora {

namespace {

// The classic client area of the window: the layout rules below were drawn
// for a 540 x 473 window whose frame, caption and menu took 8 x 70 pixels.
// Frames differ between desktops, so the rules are kept in terms of the area
// between the menu and the status bar, which is the same everywhere.
constexpr int kClientWidth = 532;
constexpr int kClientHeight = 403;

constexpr int kPanel4Width = 254;
const QColor kMedGray(0xA0, 0xA0, 0xA4);
const QColor kScrollBoxColour(0xD4, 0xD0, 0xC8);

QToolButton* speedButton(QWidget* panel, const char* name, int left, const char* hint, const char* icon)
{
    auto* button = new QToolButton(panel);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(left, 0, 25, 21);
    button->setAutoRaise(true);
    button->setIcon(QIcon(QStringLiteral(":/icons/%1.svg").arg(QString::fromLatin1(icon))));
    button->setIconSize(QSize(16, 16));
    if (hint)
        button->setToolTip(QString::fromUtf8(hint));
    return button;
}

}  // namespace

TMyPicture::TMyPicture(const TBitmap32& builtInPicture)
    : m_document(std::make_unique<Document>(builtInPicture))
{
    setObjectName(QStringLiteral("TMyPicture"));
    setWindowTitle(QString::fromLatin1(product::kMainCaption));
    setWindowIcon(QIcon(QStringLiteral(":/icons/app.svg")));

    m_client = new QWidget(this);
    m_client->installEventFilter(this);
    setCentralWidget(m_client);

    buildToolBars();

    ScrollBox1 = new QScrollArea(m_client);
    ScrollBox1->setObjectName(QStringLiteral("ScrollBox1"));
    ScrollBox1->setGeometry(0, 32, 527, 351);
    ScrollBox1->setWidgetResizable(false);
    ScrollBox1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QPalette scrollPalette = ScrollBox1->palette();
    scrollPalette.setColor(QPalette::Window, kScrollBoxColour);
    ScrollBox1->setPalette(scrollPalette);
    ScrollBox1->setBackgroundRole(QPalette::Window);

    Image1 = new PictureView;
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setToolTip(QStringLiteral("scroll the mouse-wheel to zoom out or zoom in"));
    ScrollBox1->setWidget(Image1);

    Image2 = new PictureView(m_client);
    Image2->setObjectName(QStringLiteral("Image2"));
    Image2->setGeometry(160, 294, 105, 105);
    Image2->hide();

    Label1 = new QLabel(m_client);
    Label1->setObjectName(QStringLiteral("Label1"));
    QPalette labelPalette = Label1->palette();
    labelPalette.setColor(QPalette::WindowText, kMedGray);
    Label1->setPalette(labelPalette);
    Label1->move(1, 386);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setFixedHeight(19);
    setStatusBar(StatusBar1);

    buildMenus();

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    Openanewpicture1 = PopupMenu1->addAction(QStringLiteral("Open a new picture"));
    Openanewpicture1->setObjectName(QStringLiteral("Openanewpicture1"));
    Foregroundsize1 = PopupMenu1->addAction(QStringLiteral("Image size"));
    Foregroundsize1->setObjectName(QStringLiteral("Foregroundsize1"));
    connect(Openanewpicture1, &QAction::triggered, this, guarded([this] { SpeedButton1Click(); }));
    connect(Foregroundsize1, &QAction::triggered, this, guarded([this] { Imagesize1Click(); }));
    Image1->installEventFilter(this);
    qApp->installEventFilter(this);  // the wheel, wherever it is turned

    m_chooseOpenFile = [this] { return runOpenPictureDialog(this); };
    m_chooseSaveFile = [this](int filterIndex) { return runSavePictureDialog(this, filterIndex); };
    m_choosePrinter = [this](QPrinter& printer) {
        QPrintDialog dialog(&printer, this);
        dialog.setObjectName(QStringLiteral("PrintDialog1"));
        return dialog.exec() == QDialog::Accepted;
    };

    m_document->setChangedCallback([this] { refreshFromDocument(); });
    refreshFromDocument();

    move(4, 3);
    resize(kClientWidth, kClientHeight + menuBar()->sizeHint().height() + StatusBar1->height());
}

TMyPicture::~TMyPicture() = default;

void TMyPicture::buildToolBars()
{
    ControlBar1 = new QWidget(m_client);
    ControlBar1->setObjectName(QStringLiteral("ControlBar1"));
    ControlBar1->setGeometry(0, 0, 529, 30);

    Panel4 = new QWidget(ControlBar1);
    Panel4->setObjectName(QStringLiteral("Panel4"));
    Panel4->setGeometry(11, 4, kPanel4Width, 22);
    SpeedButton1 = speedButton(Panel4, "SpeedButton1", 0, "Open a picture as foreground", "open");
    SpeedButton2 = speedButton(Panel4, "SpeedButton2", 28, "Publish", "publish");
    SpeedButton7 = speedButton(Panel4, "SpeedButton7", 56, nullptr, "revert");
    SpeedButton7->setAccessibleName(QStringLiteral("Revert"));
    SpeedButton3 = speedButton(Panel4, "SpeedButton3", 84, "Undo", "undo");
    SpeedButton18 = speedButton(Panel4, "SpeedButton18", 112, "Redo", "redo");
    SpeedButton4 = speedButton(Panel4, "SpeedButton4", 140, "Image size", "image_size");
    SpeedButton5 = speedButton(Panel4, "SpeedButton5", 168, "Zoom out the view", "zoom_out");
    SpeedButton6 = speedButton(Panel4, "SpeedButton6", 196, "Zoom in the view", "zoom_in");
    Button2 = speedButton(Panel4, "Button2", 224, nullptr, "color_up");
    Button2->setAccessibleName(QStringLiteral("Color up"));
    Button2->setEnabled(false);

    // One radio group: the button clicked last stays shown pressed.
    auto* group = new QButtonGroup(Panel4);
    group->setExclusive(true);
    for (QToolButton* b : {SpeedButton1, SpeedButton2, SpeedButton7, SpeedButton3, SpeedButton18, SpeedButton4,
                           SpeedButton5, SpeedButton6, Button2}) {
        b->setCheckable(true);
        group->addButton(b);
    }

    Panel8 = new QWidget(ControlBar1);
    Panel8->setObjectName(QStringLiteral("Panel8"));
    Panel8->setGeometry(278, 4, 227, 22);
    Label5 = new QLabel(Panel8);
    Label5->setObjectName(QStringLiteral("Label5"));
    Label5->setGeometry(5, 0, 60, 21);
    SpeedButton12 = speedButton(Panel8, "SpeedButton12", 70, "Rotate Clockwise", "rotate_cw");
    SpeedButton8 = speedButton(Panel8, "SpeedButton8", 98, "Rotate anticlockwise", "rotate_ccw");
    SpeedButton9 = speedButton(Panel8, "SpeedButton9", 126, "Set as wallpaper", "wallpaper");
    SpeedButton10 = speedButton(Panel8, "SpeedButton10", 154, "Print", "print");
    SpeedButton11 = speedButton(Panel8, "SpeedButton11", 182, "Mail to friend", "mail");

    connect(SpeedButton1, &QToolButton::clicked, this, guarded([this] { SpeedButton1Click(); }));
    connect(SpeedButton2, &QToolButton::clicked, this, guarded([this] { SpeedButton2Click(); }));
    connect(SpeedButton7, &QToolButton::clicked, this, guarded([this] { SpeedButton7Click(); }));
    connect(SpeedButton3, &QToolButton::clicked, this, guarded([this] { SpeedButton3Click(); }));
    connect(SpeedButton18, &QToolButton::clicked, this, guarded([this] { SpeedButton18Click(); }));
    connect(SpeedButton4, &QToolButton::clicked, this, guarded([this] { Imagesize1Click(); }));
    connect(Button2, &QToolButton::clicked, this, guarded([this] { colorUp(); }));
    connect(SpeedButton5, &QToolButton::clicked, this, guarded([this] { SpeedButton5Click(); }));
    connect(SpeedButton6, &QToolButton::clicked, this, guarded([this] { SpeedButton6Click(); }));
    connect(SpeedButton12, &QToolButton::clicked, this, guarded([this] { SpeedButton12Click(); }));
    connect(SpeedButton8, &QToolButton::clicked, this, guarded([this] { SpeedButton8Click(); }));
    connect(SpeedButton10, &QToolButton::clicked, this, guarded([this] { SpeedButton10Click(); }));
    connect(SpeedButton9, &QToolButton::clicked, this, guarded([this] { SpeedButton9Click(); }));
    connect(SpeedButton11, &QToolButton::clicked, this, guarded([this] { SpeedButton11Click(); }));
}

void TMyPicture::buildMenus()
{
    MainMenu1 = menuBar();
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    auto addMenu = [this](const char* name, const char* caption) {
        QMenu* menu = MainMenu1->addMenu(QString::fromUtf8(caption));
        menu->setObjectName(QString::fromLatin1(name));
        return menu;
    };
    auto addItem = [](QMenu* menu, const char* name, const char* caption) {
        QAction* action = menu->addAction(QString::fromUtf8(caption));
        action->setObjectName(QString::fromLatin1(name));
        return action;
    };
    // In a Qt caption "&&" shows one ampersand rather than marking a shortcut.
    auto menuText = [](const char* text) { return QString::fromUtf8(text).replace(u'&', QStringLiteral("&&")); };

    QMenu* file = addMenu("File1", " File");
    Open1 = addItem(file, "Open1", "Open");
    Save1 = addItem(file, "Save1", "Save");
    Exit1 = addItem(file, "Exit1", "Exit");
    QMenu* edit = addMenu("Edit1", " Edit");
    Undo1 = addItem(edit, "Undo1", "Undo");
    Redo1 = addItem(edit, "Redo1", "Redo");
    Imagesize1 = addItem(edit, "Imagesize1", "Image size");

    // The effect menus and their items, in the order of the effects table.
    for (const EffectMenuInfo& info : effectMenus()) {
        QMenu* menu = MainMenu1->addMenu(menuText(info.caption));
        menu->setObjectName(QString::fromLatin1(info.objectName));
        for (const EffectSpec& effect : effectTable()) {
            if (!effect.hasDialog() || effect.window.menu != info.menu)
                continue;
            const EffectDialogId id = effect.window.id;
            QAction* action = menu->addAction(menuText(effect.window.menuText.c_str()));
            action->setObjectName(QString::fromStdString(effect.window.menuItem));
            m_effectActions[std::size_t(id)] = action;
            connect(action, &QAction::triggered, this, guarded([this, id] { openEffectDialog(id); }));
        }
    }

    QMenu* help = addMenu("Help1", " Help");
    Online1 = addItem(help, "Online1", "Online");
    About1 = addItem(help, "About1", "About");

    connect(Open1, &QAction::triggered, this, guarded([this] { SpeedButton1Click(); }));
    connect(Save1, &QAction::triggered, this, guarded([this] { SpeedButton2Click(); }));
    connect(Exit1, &QAction::triggered, this, guarded([this] { Exit1Click(); }));
    connect(Undo1, &QAction::triggered, this, guarded([this] { SpeedButton3Click(); }));
    connect(Redo1, &QAction::triggered, this, guarded([this] { SpeedButton18Click(); }));
    connect(Imagesize1, &QAction::triggered, this, guarded([this] { Imagesize1Click(); }));
    connect(Online1, &QAction::triggered, this, guarded([this] { Online1Click(); }));
    connect(About1, &QAction::triggered, this, guarded([this] { About1Click(); }));
}

namespace {

// The place of a dialog number in our arrays; 0 for none and for any number
// that is no dialog's.
std::size_t slotOf(EffectDialogId id)
{
    const int n = int(id);
    return n >= 1 && n <= kEffectDialogCount ? std::size_t(n) : 0;
}

}  // namespace

void TMyPicture::setEffectDialog(EffectDialog* dialog)
{
    m_dialogs[slotOf(dialog->id())] = dialog;
}

EffectDialog* TMyPicture::effectDialog(EffectDialogId id) const
{
    return m_dialogs[slotOf(id)];
}

QAction* TMyPicture::effectAction(EffectDialogId id) const
{
    return m_effectActions[slotOf(id)];
}

void TMyPicture::setFreehandWindows(QWidget* workArea, QWidget* control)
{
    m_freehandWorkArea = workArea;
    m_freehandControl = control;
}

void TMyPicture::refreshFromDocument()
{
    const Document& doc = *m_document;
    Image1->setPicture(&doc.displayed());
    const ControlSize size = doc.controlSize();
    Image1->resize(size.width, size.height);
    Image1->update();
    Image2->setPicture(&doc.source());
    Label1->setText(QString::fromStdString(doc.label()));
    Label1->adjustSize();
    Label5->setText(QString::fromStdString(doc.zoomLabel()));
    SpeedButton3->setEnabled(doc.canUndo());
    Undo1->setEnabled(doc.canUndo());
    SpeedButton18->setEnabled(doc.canRedo());
    Redo1->setEnabled(doc.canRedo());
}

void TMyPicture::FormShow()
{
    m_document->setOpenDialog(EffectDialogId::None);
}

void TMyPicture::FormResize()
{
    const int w = m_client->width();
    const int h = m_client->height();
    ScrollBox1->setGeometry(2, ScrollBox1->y(), std::max(0, w - 5), std::max(0, h - 52));
    ControlBar1->resize(std::max(0, w - 2), ControlBar1->height());
    Panel8->resize(std::max(0, ControlBar1->width() - Panel4->width() - 32), Panel8->height());
    Label1->move(5, ScrollBox1->height() + 34);
}

bool TMyPicture::eventFilter(QObject* watched, QEvent* event)
{
    // The client area is laid out by the window; our controls follow it.
    if (watched == m_client && event->type() == QEvent::Resize)
        FormResize();
    if (watched == Image1) {
        bool handled = false;
        runGuarded([&] {
            switch (event->type()) {
            case QEvent::MouseButtonPress:
                handled = Image1MouseDown(static_cast<QMouseEvent*>(event));
                break;
            case QEvent::MouseMove:
                handled = Image1MouseMove(static_cast<QMouseEvent*>(event));
                break;
            case QEvent::MouseButtonRelease:
                handled = Image1MouseUp(static_cast<QMouseEvent*>(event));
                break;
            default:
                break;
            }
        });
        if (handled)
            return true;
    }
    if (event->type() == QEvent::Wheel) {
        bool handled = false;
        runGuarded([&] { handled = AppMessage(watched, event); });
        if (handled)
            return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

bool TMyPicture::AppMessage(QObject* receiver, QEvent* event)
{
    // Only while the pointer is over the scrolling area or the picture in it
    // (the wheel event goes to the widget under the pointer). A sideways
    // wheel is left to scroll sideways.
    auto* widget = qobject_cast<QWidget*>(receiver);
    if (!widget || (widget != ScrollBox1 && !ScrollBox1->isAncestorOf(widget)))
        return false;
    const auto* wheel = static_cast<QWheelEvent*>(event);
    const int delta = wheel->angleDelta().y();
    if (delta == 0)
        return false;
    if (delta > 0)  // turned away from the user
        imgzoomout();
    else
        imgzoomin();
    return true;
}

bool TMyPicture::Image1MouseDown(QMouseEvent* event)
{
    m_dragging = true;
    m_noPan = true;
    m_pressAt = event->position().toPoint();
    m_scrollAtPress = {ScrollBox1->horizontalScrollBar()->value(), ScrollBox1->verticalScrollBar()->value()};
    if (event->buttons() & Qt::RightButton)
        Image1->setCursor(palmCursor());
    return true;
}

bool TMyPicture::Image1MouseMove(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::RightButton) || !m_dragging)
        return false;
    // The press point is kept: the picture moves with the scrolling, so the
    // point under the pointer stays under it.
    const QPoint at = event->position().toPoint();
    QScrollBar* h = ScrollBox1->horizontalScrollBar();
    QScrollBar* v = ScrollBox1->verticalScrollBar();
    h->setValue(h->value() + (m_pressAt.x() - at.x()));
    v->setValue(v->value() + (m_pressAt.y() - at.y()));
    if (h->value() != m_scrollAtPress.x() || v->value() != m_scrollAtPress.y())
        m_noPan = false;
    return true;
}

bool TMyPicture::Image1MouseUp(QMouseEvent* event)
{
    m_dragging = false;
    Image1->unsetCursor();
    // A right click that did not scroll opens the picture's menu.
    if (event->button() == Qt::RightButton && m_noPan)
        PopupMenu1->popup(event->globalPosition().toPoint());
    return true;
}

namespace {

// The zoom label: the factor with one decimal in the user's own notation.
std::string zoomLabelFor(double factor)
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return (locale.toString(factor, 'f', 1) + QStringLiteral("%")).toStdString();
}

}  // namespace

void TMyPicture::imgzoomin()
{
    m_document->zoomBy(1.25, zoomLabelFor);
}

void TMyPicture::imgzoomout()
{
    m_document->zoomBy(0.8, zoomLabelFor);
}

void TMyPicture::SpeedButton6Click()
{
    imgzoomin();
}

void TMyPicture::SpeedButton5Click()
{
    imgzoomout();
}

void TMyPicture::SpeedButton12Click()
{
    m_document->rotate(true);
    ScrollBox1->horizontalScrollBar()->setValue(0);
    ScrollBox1->verticalScrollBar()->setValue(0);
}

void TMyPicture::SpeedButton8Click()
{
    m_document->rotate(false);
    ScrollBox1->horizontalScrollBar()->setValue(0);
    ScrollBox1->verticalScrollBar()->setValue(0);
}

void TMyPicture::SpeedButton9Click()
{
    setAsWallpaper(m_document->displayed());
    showMessage(this, QStringLiteral("ok!"), QStringLiteral("Set as wallpaper successful!"));
}

void TMyPicture::SpeedButton11Click()
{
    mailPicture(m_document->displayed());
}

void TMyPicture::SpeedButton10Click()
{
    QPrinter printer(QPrinter::HighResolution);
    if (!m_choosePrinter(printer))
        return;
    const TBitmap32& picture = m_document->displayed();
    // The printable area in device pixels, as the picture is placed in it.
    const QRect page = printer.pageLayout().paintRectPixels(printer.resolution());
    const PrintRectangle r = printRectangle(picture.width(), picture.height(), page.width(), page.height());
    QPainter painter;
    if (!painter.begin(&printer))
        throw PlumoraError("The printer could not be started.");
    const QImage image(picture.bits(), picture.width(), picture.height(), qsizetype(picture.bytesPerLine()),
                       QImage::Format_RGB32);
    painter.drawImage(QRect(r.left, r.top, r.width, r.height), image);
    if (!painter.end())
        throw PlumoraError("The picture could not be printed.");
}

void TMyPicture::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TMyPicture::closeEvent(QCloseEvent* event)
{
    event->accept();
    // Closing the main window ends the program, tool windows and all.
    QCoreApplication::quit();
}

void TMyPicture::closetool()
{
    if (EffectDialog* dialog = effectDialog(m_document->openDialog()))
        dialog->close();
}

void TMyPicture::openEffectDialog(EffectDialogId id)
{
    EffectDialog* dialog = effectDialog(id);
    if (!dialog)
        return;
    closetool();
    // The dialog's right edge 25 pixels inside ours, 84 pixels below our top;
    // not kept on the screen on purpose, as the user placed the main window.
    // Placed once shown, when the desktop has told us the width of its frame.
    dialog->show();
    const QRect main = frameGeometry();
    dialog->move(main.left() + main.width() - dialog->frameGeometry().width() - 25, main.top() + 84);
    dialog->raise();
}

void TMyPicture::SpeedButton1Click()
{
    closetool();
    OpenPicture();
}

void TMyPicture::OpenPicture()
{
    const QString name = m_chooseOpenFile();
    if (name.isEmpty())
        return;
    // An icon that cannot be read is told in a box of its own, and then
    // refused like any other file that gives no picture.
    std::optional<TBitmap32> picture =
        LoadPictureFile(QFile::encodeName(name).toStdString(), [](const std::string& text) {
            showMessage(nullptr, QStringLiteral("Exit"), QFile::decodeName(text.c_str()));
        });
    if (!picture || picture->width() <= 0) {
        showMessage(nullptr, QStringLiteral("Sorry"), name + QStringLiteral(" is not a valid format"));
        return;
    }
    FillAlpha(*picture, 255);
    m_document->open(std::move(*picture));
    ScrollBox1->horizontalScrollBar()->setValue(0);
    ScrollBox1->verticalScrollBar()->setValue(0);
    Button2->setEnabled(false);
}

void TMyPicture::SpeedButton2Click()
{
    SavePicture(m_document->displayed());
}

void TMyPicture::SavePicture(const TBitmap32& picture)
{
    const std::optional<SaveChoice> choice = m_chooseSaveFile(m_saveFilterIndex);
    if (!choice)
        return;
    m_saveFilterIndex = choice->filterIndex;
    // The type chosen decides the extension, whatever was typed.
    static const std::pair<const char*, SaveFormat> types[] = {
        {".jpg", SaveFormat::Jpeg}, {".bmp", SaveFormat::Bmp}, {".wmf", SaveFormat::Wmf}};
    const auto& [extension, format] = types[std::clamp(choice->filterIndex, 1, 3) - 1];
    const std::string name = replaceExtension(QFile::encodeName(choice->name).toStdString(), extension);
    writeFileAtomically(name, encodePicture(picture, format));
}

void TMyPicture::SpeedButton7Click()
{
    m_document->revert();
    ScrollBox1->horizontalScrollBar()->setValue(0);
    ScrollBox1->verticalScrollBar()->setValue(0);
}

void TMyPicture::SpeedButton3Click()
{
    m_document->undo();
}

void TMyPicture::SpeedButton18Click()
{
    m_document->redo();
}

void TMyPicture::Exit1Click()
{
    close();
}

void TMyPicture::About1Click()
{
    if (m_about) {
        m_about->show();
        m_about->raise();
    }
}

void TMyPicture::Online1Click()
{
    const QUrl page(QString::fromLatin1(product::kWebPage));
    if (!QDesktopServices::openUrl(page))
        showMessage(this, QStringLiteral("Online"),
                    QStringLiteral("No web browser could be started. The address is %1").arg(page.toString()));
}

void TMyPicture::Imagesize1Click()
{
    if (m_imageSize) {
        m_imageSize->show();
        m_imageSize->raise();
    }
}

void TMyPicture::colorUp()
{
    for (QWidget* window : {m_freehandWorkArea, m_freehandControl})
        if (window) {
            window->show();
            window->raise();
        }
}

}  // namespace plumora
