#include "app/main_window.h"

#include "app/busy_work.h"
#include "app/cursors.h"
#include "app/desktop_services.h"
#include "app/effect_windows/freehand_control.h"
#include "app/effect_windows/freehand_work_area.h"
#include "app/live_preview.h"
#include "app/messages.h"
#include "app/mnemonics.h"
#include "app/picture_view.h"
#include "app/recent_files.h"
#include "app/theme.h"
#include "app/product.h"
#include "document/print_layout.h"
#include "formats/picture_file.h"
#include "raster/errors.h"

#include <QAction>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QApplication>
#include <QAbstractSpinBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QLocale>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressBar>
#include <QWheelEvent>
#include <QMenu>
#include <QMenuBar>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QScreen>
#include <QGuiApplication>
#include <QSettings>
#include <QStatusBar>
#include <QToolButton>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>

namespace plumora {

namespace {

// A dropped file's name in its own bytes. toLocalFile() decodes the URL's
// percent-encoded path into a QString, which turns bytes that are not UTF-8
// into U+FFFD; undoing the percent-encoding of the path alone gives back the
// bytes the file manager put in.
std::string localFileName(const QUrl& url)
{
    if (!url.host().isEmpty())  // file://server/share: Qt's own form of it
        return QFile::encodeName(url.toLocalFile()).toStdString();
    return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString();
}

// The classic client area of the window: the layout rules below were drawn
// for a 540 x 473 window whose frame, caption and menu took 8 x 70 pixels.
// Frames differ between desktops, so the rules are kept in terms of the area
// between the menu and the status bar, which is the same everywhere.
constexpr int kClientWidth = 532;
constexpr int kClientHeight = 403;

constexpr int kMainButtonsWidth = 254;
const QColor kMedGray(0xA0, 0xA0, 0xA4);
const QColor kScrollBoxColour(0xD4, 0xD0, 0xC8);

// What the program remembers between runs (defined with restoreSettings).
QSettings programSettings();

QToolButton* toolBarButton(QWidget* panel, const char* name, int left, const char* hint, const char* icon)
{
    auto* button = new QToolButton(panel);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(left, 0, 25, 21);
    button->setAutoRaise(true);
    button->setIcon(toolIcon(QString::fromLatin1(icon)));
    button->setIconSize(QSize(16, 16));
    if (hint)
        button->setToolTip(QString::fromUtf8(hint));
    return button;
}

}  // namespace

MainWindow::MainWindow(const TBitmap32& builtInPicture) : m_document(std::make_unique<Document>(builtInPicture))
{
    setObjectName(QStringLiteral("TMyPicture"));
    showDocumentName();
    setWindowIcon(QIcon(QStringLiteral(":/icons/app.svg")));
    setAcceptDrops(true);  // a picture dropped on the window opens

    m_client = new QWidget(this);
    m_client->installEventFilter(this);
    setCentralWidget(m_client);

    buildToolBars();

    scrollBox = new QScrollArea(m_client);
    scrollBox->setObjectName(QStringLiteral("ScrollBox1"));
    scrollBox->setGeometry(0, 32, 527, 351);
    scrollBox->setWidgetResizable(false);
    scrollBox->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QPalette scrollPalette = scrollBox->palette();
    scrollPalette.setColor(QPalette::Window, kScrollBoxColour);
    scrollBox->setPalette(scrollPalette);
    scrollBox->setBackgroundRole(QPalette::Window);

    pictureView = new PictureView;
    pictureView->setObjectName(QStringLiteral("Image1"));
    pictureView->setToolTip(QStringLiteral("scroll the mouse-wheel to zoom out or zoom in"));
    scrollBox->setWidget(pictureView);

    sourceView = new PictureView(m_client);
    sourceView->setObjectName(QStringLiteral("Image2"));
    sourceView->setGeometry(160, 294, 105, 105);
    sourceView->hide();

    operationLabel = new QLabel(m_client);
    operationLabel->setObjectName(QStringLiteral("Label1"));
    QPalette labelPalette = operationLabel->palette();
    labelPalette.setColor(QPalette::WindowText, captionColour(kMedGray));
    operationLabel->setPalette(labelPalette);
    operationLabel->move(1, 386);

    statusLine = new QStatusBar(this);
    statusLine->setObjectName(QStringLiteral("StatusBar1"));
    statusLine->setFixedHeight(19);
    setStatusBar(statusLine);
    progressBar = new QProgressBar(statusLine);
    progressBar->setObjectName(QStringLiteral("WorkProgress"));
    progressBar->setFixedWidth(220);
    progressBar->setTextVisible(false);
    statusLine->addPermanentWidget(progressBar);
    m_busyWork = new BusyWork(this, progressBar, statusLine, this);
    m_document->setLongWorkRunner([this](const std::function<void()>& compute, Document::LongWork kind) {
        m_busyWork->run(compute,
                        kind == Document::LongWork::ToTheEnd ? BusyWork::Stop::ToTheEnd : BusyWork::Stop::Cancellable);
    });
    setProgramWindow(this);

    buildMenus();

    pictureMenu = new QMenu(this);
    pictureMenu->setObjectName(QStringLiteral("PopupMenu1"));
    openNewPictureAction = pictureMenu->addAction(QStringLiteral("Open a new picture"));
    openNewPictureAction->setObjectName(QStringLiteral("Openanewpicture1"));
    pictureImageSizeAction = pictureMenu->addAction(QStringLiteral("Image size"));
    pictureImageSizeAction->setObjectName(QStringLiteral("Foregroundsize1"));
    connect(openNewPictureAction, &QAction::triggered, this, guarded([this] { openClicked(); }));
    connect(pictureImageSizeAction, &QAction::triggered, this, guarded([this] { imageSizeClicked(); }));
    giveMnemonics(pictureMenu->actions());
    pictureView->installEventFilter(this);
    qApp->installEventFilter(this);  // the wheel, wherever it is turned

    m_chooseOpenFile = [this] { return runOpenPictureDialog(this, m_openFolder); };
    m_chooseRecipeFile = [this](RecipeFileUse use, const QString& suggested) {
        return runRecipeFileDialog(this, use == RecipeFileUse::Save, suggested);
    };
    m_chooseSaveFile = [this](int filterIndex) {
        return runSavePictureDialog(this, filterIndex, suggestedSaveName(), m_jpegQuality);
    };
    m_choosePrinter = [this](QPrinter& printer) {
        QPrintDialog dialog(&printer, this);
        dialog.setObjectName(QStringLiteral("PrintDialog1"));
        return dialog.exec() == QDialog::Accepted;
    };

    m_preview = std::make_unique<LivePreview>(*m_document);
    connect(m_preview.get(), &LivePreview::pictureChanged, this, [this] { showPreview(); });
    connect(m_preview.get(), &LivePreview::failed, this,
            [this](const QString& message) { statusLine->showMessage(message, 5000); });
    m_document->setChangedCallback([this] { refreshFromDocument(); });
    refreshFromDocument();

    move(4, 3);
    resize(kClientWidth, kClientHeight + menuBar()->sizeHint().height() + statusLine->height());
}

MainWindow::~MainWindow() = default;

void MainWindow::buildToolBars()
{
    toolBar = new QWidget(m_client);
    toolBar->setObjectName(QStringLiteral("ControlBar1"));
    toolBar->setGeometry(0, 0, 529, 30);

    mainButtons = new QWidget(toolBar);
    mainButtons->setObjectName(QStringLiteral("Panel4"));
    mainButtons->setGeometry(11, 4, kMainButtonsWidth, 22);
    openButton = toolBarButton(mainButtons, "SpeedButton1", 0, "Open a picture as foreground", "open");
    saveButton = toolBarButton(mainButtons, "SpeedButton2", 28, "Publish", "publish");
    revertButton = toolBarButton(mainButtons, "SpeedButton7", 56, nullptr, "revert");
    revertButton->setAccessibleName(QStringLiteral("Revert"));
    undoButton = toolBarButton(mainButtons, "SpeedButton3", 84, "Undo", "undo");
    redoButton = toolBarButton(mainButtons, "SpeedButton18", 112, "Redo", "redo");
    imageSizeButton = toolBarButton(mainButtons, "SpeedButton4", 140, "Image size", "image_size");
    zoomOutButton = toolBarButton(mainButtons, "SpeedButton5", 168, "Zoom out the view", "zoom_out");
    zoomInButton = toolBarButton(mainButtons, "SpeedButton6", 196, "Zoom in the view", "zoom_in");
    colorUpButton = toolBarButton(mainButtons, "Button2", 224, nullptr, "color_up");
    colorUpButton->setAccessibleName(QStringLiteral("Color up"));
    colorUpButton->setEnabled(false);

    // One radio group: the button clicked last stays shown pressed.
    auto* group = new QButtonGroup(mainButtons);
    group->setExclusive(true);
    for (QToolButton* b : {openButton, saveButton, revertButton, undoButton, redoButton, imageSizeButton, zoomOutButton,
                           zoomInButton, colorUpButton}) {
        b->setCheckable(true);
        group->addButton(b);
    }

    viewButtons = new QWidget(toolBar);
    viewButtons->setObjectName(QStringLiteral("Panel8"));
    viewButtons->setGeometry(278, 4, 227, 22);
    zoomLabel = new QLabel(viewButtons);
    zoomLabel->setObjectName(QStringLiteral("Label5"));
    zoomLabel->setGeometry(5, 0, 60, std::max(21, zoomLabel->fontMetrics().height()));
    rotateClockwiseButton = toolBarButton(viewButtons, "SpeedButton12", 70, "Rotate Clockwise", "rotate_cw");
    rotateAnticlockwiseButton = toolBarButton(viewButtons, "SpeedButton8", 98, "Rotate anticlockwise", "rotate_ccw");
    wallpaperButton = toolBarButton(viewButtons, "SpeedButton9", 126, "Set as wallpaper", "wallpaper");
    printButton = toolBarButton(viewButtons, "SpeedButton10", 154, "Print", "print");
    mailButton = toolBarButton(viewButtons, "SpeedButton11", 182, "Mail to friend", "mail");
    // Held, not clicked: it shows the source picture while it is down.
    compareButton = toolBarButton(viewButtons, "CompareButton", 210, "Hold to see the original (\\)", "compare");
    compareButton->setText(QStringLiteral("Compare"));
    compareButton->setAccessibleName(QStringLiteral("Compare"));

    connect(openButton, &QToolButton::clicked, this, guarded([this] { openClicked(); }));
    connect(saveButton, &QToolButton::clicked, this, guarded([this] { saveClicked(); }));
    connect(revertButton, &QToolButton::clicked, this, guarded([this] { revertClicked(); }));
    connect(undoButton, &QToolButton::clicked, this, guarded([this] { undoClicked(); }));
    connect(redoButton, &QToolButton::clicked, this, guarded([this] { redoClicked(); }));
    connect(imageSizeButton, &QToolButton::clicked, this, guarded([this] { imageSizeClicked(); }));
    connect(colorUpButton, &QToolButton::clicked, this, guarded([this] { colorUp(); }));
    connect(zoomOutButton, &QToolButton::clicked, this, guarded([this] { zoomOutClicked(); }));
    connect(zoomInButton, &QToolButton::clicked, this, guarded([this] { zoomInClicked(); }));
    connect(rotateClockwiseButton, &QToolButton::clicked, this, guarded([this] { rotateClockwiseClicked(); }));
    connect(rotateAnticlockwiseButton, &QToolButton::clicked, this, guarded([this] { rotateAnticlockwiseClicked(); }));
    connect(printButton, &QToolButton::clicked, this, guarded([this] { printClicked(); }));
    connect(wallpaperButton, &QToolButton::clicked, this, guarded([this] { wallpaperClicked(); }));
    connect(mailButton, &QToolButton::clicked, this, guarded([this] { mailClicked(); }));
    connect(compareButton, &QToolButton::pressed, this, guarded([this] { holdCompare(CompareHold::Button, true); }));
    connect(compareButton, &QToolButton::released, this, guarded([this] { holdCompare(CompareHold::Button, false); }));
}

void MainWindow::buildMenus()
{
    mainMenu = menuBar();
    mainMenu->setObjectName(QStringLiteral("MainMenu1"));
    auto addMenu = [this](const char* name, const char* caption) {
        QMenu* menu = mainMenu->addMenu(QString::fromUtf8(caption));
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
    openAction = addItem(file, "Open1", "Open");
    m_recentFiles = new RecentFiles(
        file->addMenu(QStringLiteral("Open Recent")),
        [this](const std::string& recent) { runGuarded([&] { openRecentFile(recent); }); }, this);
    connect(m_recentFiles, &RecentFiles::changed, this,
            [this] { programSettings().setValue(QStringLiteral("Files/recent"), m_recentFiles->toSettings()); });
    saveAction = addItem(file, "Save1", "Save");
    saveAsAction = addItem(file, "SaveAs1", "Save As...");
    file->addSeparator();
    saveRecipeAction = addItem(file, "SaveRecipe1", "Save Recipe...");
    applyRecipeAction = addItem(file, "ApplyRecipe1", "Apply Recipe...");
    file->addSeparator();
    exitAction = addItem(file, "Exit1", "Exit");
    QMenu* edit = addMenu("Edit1", " Edit");
    undoAction = addItem(edit, "Undo1", "Undo");
    redoAction = addItem(edit, "Redo1", "Redo");
    imageSizeAction = addItem(edit, "Imagesize1", "Image size");
    edit->addSeparator();
    fitToWindowAction = addItem(edit, "Fittowindow1", "Fit to window");
    actualSizeAction = addItem(edit, "Actualsize1", "Actual size");
    edit->addSeparator();
    livePreviewAction = addItem(edit, "Livepreview1", "Live preview");
    copyAsCommandAction = addItem(edit, "CopyasCommand1", "Copy as Command");
    livePreviewAction->setCheckable(true);

    // The effect menus and their items, in the order of the effects table.
    for (const EffectMenuInfo& info : effectMenus()) {
        QMenu* menu = mainMenu->addMenu(menuText(info.caption));
        menu->setObjectName(QString::fromLatin1(menuObjectName(info.menu)));
        for (const EffectDeclaration& effect : effectTable()) {
            const EffectWindow* window = findWindow(effect.name);
            if (effect.menu != info.menu || !window)
                continue;
            const EffectDialogId id = window->id;
            QAction* action = menu->addAction(menuText(effect.menuText.c_str()));
            action->setObjectName(QString::fromStdString(window->menuItem));
            m_effectActions[std::size_t(id)] = action;
            connect(action, &QAction::triggered, this, guarded([this, id] { openEffectDialog(id); }));
        }
    }

    QMenu* help = addMenu("Help1", " Help");
    onlineAction = addItem(help, "Online1", "Online");
    aboutAction = addItem(help, "About1", "About");

    // The desktop's own keys for the commands every program has.
    openAction->setShortcuts(QKeySequence::Open);
    saveAction->setShortcuts(QKeySequence::Save);
    saveAsAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    exitAction->setShortcuts(QKeySequence::Quit);
    undoAction->setShortcuts(QKeySequence::Undo);
    redoAction->setShortcuts(QKeySequence::Redo);
    // The keys of the zoom commands in other picture programs.
    fitToWindowAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
    actualSizeAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_1));
    livePreviewAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    const std::pair<QKeySequence::StandardKey, QToolButton*> buttonKeys[] = {{QKeySequence::Print, printButton},
                                                                             {QKeySequence::ZoomIn, zoomInButton},
                                                                             {QKeySequence::ZoomOut, zoomOutButton}};
    for (const auto& buttonKey : buttonKeys) {
        QToolButton* button = buttonKey.second;
        QList<QKeySequence> sequences = QKeySequence::keyBindings(buttonKey.first);
        // Ctrl++ needs Shift on most keyboards, where the same key without
        // Shift is "=": Ctrl+= zooms in as well (unless the desktop's own
        // keys have it already: two shortcuts on one key would both be
        // ambiguous and neither would work).
        const QKeySequence ctrlEquals(Qt::CTRL | Qt::Key_Equal);
        if (buttonKey.first == QKeySequence::ZoomIn && !sequences.contains(ctrlEquals))
            sequences.append(ctrlEquals);
        for (const QKeySequence& sequence : sequences)
            connect(new QShortcut(sequence, this), &QShortcut::activated, button, [button] {
                if (button->isEnabled())
                    button->click();
            });
    }

    connect(openAction, &QAction::triggered, this, guarded([this] { openClicked(); }));
    connect(saveAction, &QAction::triggered, this, guarded([this] { saveClicked(); }));
    connect(saveAsAction, &QAction::triggered, this, guarded([this] { saveAsClicked(); }));
    connect(saveRecipeAction, &QAction::triggered, this, guarded([this] { saveRecipeClicked(); }));
    connect(applyRecipeAction, &QAction::triggered, this, guarded([this] { applyRecipeClicked(); }));
    connect(copyAsCommandAction, &QAction::triggered, this, guarded([this] { copyAsCommandClicked(); }));
    connect(exitAction, &QAction::triggered, this, guarded([this] { exitClicked(); }));
    connect(undoAction, &QAction::triggered, this, guarded([this] { undoClicked(); }));
    connect(redoAction, &QAction::triggered, this, guarded([this] { redoClicked(); }));
    connect(imageSizeAction, &QAction::triggered, this, guarded([this] { imageSizeClicked(); }));
    connect(fitToWindowAction, &QAction::triggered, this, guarded([this] { fitToWindowClicked(); }));
    connect(actualSizeAction, &QAction::triggered, this, guarded([this] { actualSizeClicked(); }));
    connect(livePreviewAction, &QAction::toggled, this, [this](bool on) { runGuarded([&] { setLivePreview(on); }); });
    connect(onlineAction, &QAction::triggered, this, guarded([this] { onlineClicked(); }));
    connect(aboutAction, &QAction::triggered, this, guarded([this] { aboutClicked(); }));
    // Alt and a letter open a menu and choose its items, every one of them.
    giveMnemonics(mainMenu);
}

namespace {

// The place of a dialog number in our arrays; 0 for none and for any number
// that is no dialog's.
std::size_t slotOf(EffectDialogId id)
{
    const int n = int(id);
    return n >= 1 && n <= int(effectWindows().size()) ? std::size_t(n) : 0;
}

}  // namespace

void MainWindow::setEffectDialog(EffectDialog* dialog)
{
    m_dialogs[slotOf(dialog->id())] = dialog;
    dialog->installEventFilter(this);  // to see where the user leaves it
}

namespace {

QSettings programSettings()
{
    return QSettings(QStringLiteral("Plumora"), QStringLiteral("Plumora"));
}

QString dialogPlaceKey(const EffectDialog* dialog)
{
    return QStringLiteral("Windows/") + dialog->objectName();
}

}  // namespace

void MainWindow::restoreSettings()
{
    QSettings settings = programSettings();
    // A place on a screen that is no longer there is not taken back.
    auto onScreen = [](QPoint place) { return QGuiApplication::screenAt(place + QPoint(20, 10)) != nullptr; };
    const QByteArray geometry = settings.value(QStringLiteral("Windows/TMyPicture")).toByteArray();
    if (!geometry.isEmpty()) {
        const QRect before = this->geometry();
        if (!restoreGeometry(geometry) || !onScreen(frameGeometry().topLeft()))
            setGeometry(before);
    }
    m_openFolder = settings.value(QStringLiteral("Folders/open")).toString();
    m_saveFolder = settings.value(QStringLiteral("Folders/save")).toString();
    m_jpegQuality = std::clamp(settings.value(QStringLiteral("Save/jpegQuality"), 90).toInt(), 1, 100);
    m_recentFiles->fromSettings(settings.value(QStringLiteral("Files/recent")).toList());
    m_saveFilterIndex = std::clamp(settings.value(QStringLiteral("Save/type"), 1).toInt(), 1, int(saveTypes().size()));
    livePreviewAction->setChecked(settings.value(QStringLiteral("Edit/livePreview"), false).toBool());
    // How many megabytes of packed undo steps stay in memory before the rest
    // go to the cache folder; no dialog sets it (the README names the key).
    HistoryStorage storage = m_document->historyStorage();
    const qlonglong budgetMB = settings.value(QStringLiteral("History/memoryBudgetMB"), 0).toLongLong();
    if (budgetMB > 0)
        storage.memoryBudget = std::size_t(std::min<qlonglong>(budgetMB, qlonglong(1) << 30)) << 20;
    // A crash may have left a history file behind.
    removeStaleHistoryFiles(storage.folder);
    m_document->setHistoryStorage(std::move(storage));
    for (EffectDialog* dialog : m_dialogs)
        if (dialog) {
            const QVariant place = settings.value(dialogPlaceKey(dialog));
            if (place.canConvert<QPoint>() && onScreen(place.toPoint()))
                m_dialogLeftAt[slotOf(dialog->id())] = place.toPoint();
        }
}

void MainWindow::rememberDialogPlace(EffectDialog* dialog)
{
    const std::size_t slot = slotOf(dialog->id());
    const QPoint place = dialog->pos();
    // Only a window the user moved keeps its own place; the others open
    // beside this window wherever it is.
    if (!m_dialogPlacedAt[slot] || *m_dialogPlacedAt[slot] == place)
        return;
    m_dialogLeftAt[slot] = place;
    programSettings().setValue(dialogPlaceKey(dialog), place);
}

EffectDialog* MainWindow::effectDialog(EffectDialogId id) const
{
    return m_dialogs[slotOf(id)];
}

QAction* MainWindow::effectAction(EffectDialogId id) const
{
    return m_effectActions[slotOf(id)];
}

EffectDialog* MainWindow::effectDialog(std::string_view command) const
{
    return effectDialog(windowNumber(command));
}

QAction* MainWindow::effectAction(std::string_view command) const
{
    return effectAction(windowNumber(command));
}

void MainWindow::setFreehandWindows(std::unique_ptr<FreehandWorkArea> workArea,
                                    std::unique_ptr<FreehandControl> control)
{
    m_freehandWorkArea = std::move(workArea);
    m_freehandControl = std::move(control);
}

const TBitmap32& MainWindow::shownPicture() const
{
    if (comparing())
        return m_document->source();
    if (const TBitmap32* preview = m_preview ? m_preview->picture() : nullptr)
        return *preview;
    return m_document->displayed();
}

void MainWindow::showPreview()
{
    pictureView->setPicture(&shownPicture());
    pictureView->update();
    // The view shows what the document does not hold yet: said, so that
    // nobody saves or prints believing it kept.
    static const QString notApplied = QStringLiteral("Live preview: not applied yet");
    if (m_preview->picture())
        statusLine->showMessage(notApplied);
    else if (statusLine->currentMessage() == notApplied)
        statusLine->clearMessage();
}

void MainWindow::refreshFromDocument()
{
    const Document& doc = *m_document;
    // A preview of pictures the document no longer holds goes.
    if (m_preview)
        m_preview->clearIfStale();
    // While Compare is held an effect may still end (its window's button
    // pressed with the mouse): the view goes on showing the source.
    pictureView->setPicture(&shownPicture());
    const ControlSize size = doc.controlSize();
    pictureView->resize(size.width, size.height);
    pictureView->update();
    sourceView->setPicture(&doc.source());
    operationLabel->setText(QString::fromStdString(doc.label()));
    operationLabel->adjustSize();
    zoomLabel->setText(QString::fromStdString(doc.zoomLabel()));
    undoButton->setEnabled(doc.canUndo());
    undoAction->setEnabled(doc.canUndo());
    redoButton->setEnabled(doc.canRedo());
    redoAction->setEnabled(doc.canRedo());
    setWindowModified(doc.modified());
    emit documentChanged();
}

void MainWindow::windowShown()
{
    m_document->setOpenDialog(EffectDialogId::None);
}

void MainWindow::layOutClientArea()
{
    const int w = m_client->width();
    const int h = m_client->height();
    scrollBox->setGeometry(2, scrollBox->y(), std::max(0, w - 5), std::max(0, h - 52));
    toolBar->resize(std::max(0, w - 2), toolBar->height());
    viewButtons->resize(std::max(0, toolBar->width() - mainButtons->width() - 32), viewButtons->height());
    operationLabel->move(5, scrollBox->height() + 34);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Hide)
        if (auto* dialog = qobject_cast<EffectDialog*>(watched))
            rememberDialogPlace(dialog);
    // The client area is laid out by the window; our controls follow it.
    if (watched == m_client && event->type() == QEvent::Resize)
        layOutClientArea();
    if (watched == pictureView) {
        bool handled = false;
        runGuarded([&] {
            switch (event->type()) {
            case QEvent::MouseButtonPress:
                handled = pictureMousePressed(static_cast<QMouseEvent*>(event));
                break;
            case QEvent::MouseMove:
                handled = pictureMouseMoved(static_cast<QMouseEvent*>(event));
                break;
            case QEvent::MouseButtonRelease:
                handled = pictureMouseReleased(static_cast<QMouseEvent*>(event));
                break;
            default:
                break;
            }
        });
        if (handled)
            return true;
    }
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ApplicationDeactivate: {
        bool handled = false;
        runGuarded([&] { handled = compareKey(watched, event); });
        if (handled)
            return true;
        break;
    }
    default:
        break;
    }
    if (event->type() == QEvent::Wheel) {
        bool handled = false;
        runGuarded([&] { handled = wheelTurned(watched, event); });
        if (handled)
            return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

bool MainWindow::wheelTurned(QObject* receiver, QEvent* event)
{
    // Only while the pointer is over the scrolling area or the picture in it
    // (the wheel event goes to the widget under the pointer). A sideways
    // wheel is left to scroll sideways.
    auto* widget = qobject_cast<QWidget*>(receiver);
    if (!widget || (widget != scrollBox && !scrollBox->isAncestorOf(widget)))
        return false;
    const auto* wheel = static_cast<QWheelEvent*>(event);
    const int delta = wheel->angleDelta().y();
    if (delta == 0)
        return false;
    if (wheel->modifiers() & Qt::ControlModifier) {
        // Ctrl+wheel zooms as in other programs: turned away from the user
        // it zooms in, about the point under the pointer. A wheel that turns
        // in small steps (a touchpad, a free-spinning wheel) zooms one step
        // for each notch's worth (120), not for every small step.
        m_ctrlWheelRest += delta;
        const QPoint at = scrollBox->viewport()->mapFromGlobal(wheel->globalPosition()).toPoint();
        while (m_ctrlWheelRest >= 120 || m_ctrlWheelRest <= -120) {
            const bool in = m_ctrlWheelRest > 0;
            m_ctrlWheelRest += in ? -120 : 120;
            zoomAbout(at, [this, in] { in ? imgzoomin() : imgzoomout(); });
        }
        return true;
    }
    // The plain wheel zooms the other way round and leaves the scrolling
    // where it is, as it always has.
    if (delta > 0)  // turned away from the user
        imgzoomout();
    else
        imgzoomin();
    return true;
}

void MainWindow::zoomAbout(QPoint viewportPoint, const std::function<void()>& zoom)
{
    QScrollBar* h = scrollBox->horizontalScrollBar();
    QScrollBar* v = scrollBox->verticalScrollBar();
    const QSize before = pictureView->size();
    // Where the point lies on the picture, as a fraction of each side; a
    // point beside a picture smaller than the view keeps the nearer edge.
    const auto fraction = [](int scroll, int at, int side) {
        return side > 0 ? std::clamp(double(scroll + at) / side, 0.0, 1.0) : 0.0;
    };
    const double fx = fraction(h->value(), viewportPoint.x(), before.width());
    const double fy = fraction(v->value(), viewportPoint.y(), before.height());
    zoom();
    // The control has its new size and the scroll bars their new ranges
    // (the scrolling area follows its picture's resize at once).
    const QSize after = pictureView->size();
    h->setValue(int(std::lround(fx * after.width() - viewportPoint.x())));
    v->setValue(int(std::lround(fy * after.height() - viewportPoint.y())));
}

bool MainWindow::compareKey(QObject* receiver, QEvent* event)
{
    if (event->type() == QEvent::ApplicationDeactivate) {
        // The key's release goes to whichever program is active by then.
        if (m_compareHeld & int(CompareHold::Key))
            holdCompare(CompareHold::Key, false);
        return false;
    }
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->isAutoRepeat())  // held down: presses and releases repeat
        return (m_compareHeld & int(CompareHold::Key)) && key->key() == Qt::Key_Backslash;
    if (event->type() == QEvent::KeyRelease) {
        // A layout may give the key another name by the time it is let go
        // (the key that made it a backslash let go first): the scan code
        // tells it, where the platform has one.
        const bool same =
            key->key() == Qt::Key_Backslash || (m_compareScanCode != 0 && key->nativeScanCode() == m_compareScanCode);
        if (!same || !(m_compareHeld & int(CompareHold::Key)))
            return false;
        holdCompare(CompareHold::Key, false);
        return true;
    }
    if (key->key() != Qt::Key_Backslash || (key->modifiers() & (Qt::ControlModifier | Qt::MetaModifier)))
        return false;
    // In this window and the effect windows, beside which the user looks at
    // a result; a text box keeps the backslash typed into it.
    auto* widget = qobject_cast<QWidget*>(receiver);
    if (!widget)
        return false;
    QWidget* window = widget->window();
    const bool ours = window == this || std::find(m_dialogs.begin(), m_dialogs.end(), window) != m_dialogs.end();
    if (!ours || !isEnabled())
        return false;
    // (A key goes to the widget with the keyboard focus first.)
    if (qobject_cast<QLineEdit*>(widget) || qobject_cast<QAbstractSpinBox*>(widget) ||
        qobject_cast<QTextEdit*>(widget) || qobject_cast<QPlainTextEdit*>(widget))
        return false;
    m_compareScanCode = key->nativeScanCode();
    holdCompare(CompareHold::Key, true);
    return true;
}

void MainWindow::holdCompare(CompareHold by, bool held)
{
    const bool before = comparing();
    if (held)
        m_compareHeld |= int(by);
    else
        m_compareHeld &= ~int(by);
    if (comparing() == before)
        return;
    // Only the picture the view shows changes: the control keeps its size
    // and place, so the zoom and the scrolling stay as they are.
    pictureView->setPicture(&shownPicture());
}

bool MainWindow::pictureMousePressed(QMouseEvent* event)
{
    m_dragging = true;
    m_noPan = true;
    m_pressAt = event->position().toPoint();
    m_scrollAtPress = {scrollBox->horizontalScrollBar()->value(), scrollBox->verticalScrollBar()->value()};
    if (event->buttons() & Qt::RightButton)
        pictureView->setCursor(palmCursor());
    return true;
}

bool MainWindow::pictureMouseMoved(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::RightButton) || !m_dragging)
        return false;
    // The press point is kept: the picture moves with the scrolling, so the
    // point under the pointer stays under it.
    const QPoint at = event->position().toPoint();
    QScrollBar* h = scrollBox->horizontalScrollBar();
    QScrollBar* v = scrollBox->verticalScrollBar();
    h->setValue(h->value() + (m_pressAt.x() - at.x()));
    v->setValue(v->value() + (m_pressAt.y() - at.y()));
    if (h->value() != m_scrollAtPress.x() || v->value() != m_scrollAtPress.y())
        m_noPan = false;
    return true;
}

bool MainWindow::pictureMouseReleased(QMouseEvent* event)
{
    m_dragging = false;
    pictureView->unsetCursor();
    // A right click that did not scroll opens the picture's menu.
    if (event->button() == Qt::RightButton && m_noPan)
        pictureMenu->popup(event->globalPosition().toPoint());
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

void MainWindow::imgzoomin()
{
    m_document->zoomBy(1.25, zoomLabelFor);
}

void MainWindow::imgzoomout()
{
    m_document->zoomBy(0.8, zoomLabelFor);
}

void MainWindow::zoomInClicked()
{
    imgzoomin();
}

void MainWindow::zoomOutClicked()
{
    imgzoomout();
}

void MainWindow::fitToWindowClicked()
{
    // The zoom has no fixed levels, so the fit is as close as the zoom label
    // can show (see fitZoomFactor), measured against what the scrolling area
    // shows without its scroll bars: a picture that fits needs none.
    const TBitmap32& picture = m_document->displayed();
    const QSize area = scrollBox->maximumViewportSize();
    m_document->zoomTo(fitZoomFactor(picture.width(), picture.height(), area.width(), area.height()), zoomLabelFor);
    scrollBox->horizontalScrollBar()->setValue(0);
    scrollBox->verticalScrollBar()->setValue(0);
}

void MainWindow::actualSizeClicked()
{
    // One picture pixel to one screen pixel, about the middle of the view:
    // what the user was looking at stays in sight.
    const QRect view = scrollBox->viewport()->rect();
    zoomAbout(view.center(), [this] { m_document->zoomTo(100.0, zoomLabelFor); });
}

void MainWindow::rotateClockwiseClicked()
{
    m_preview->clear();
    m_document->rotate(true);
    scrollBox->horizontalScrollBar()->setValue(0);
    scrollBox->verticalScrollBar()->setValue(0);
}

void MainWindow::rotateAnticlockwiseClicked()
{
    m_preview->clear();
    m_document->rotate(false);
    scrollBox->horizontalScrollBar()->setValue(0);
    scrollBox->verticalScrollBar()->setValue(0);
}

void MainWindow::wallpaperClicked()
{
    // A big picture takes seconds to encode and write: the windows keep
    // painting meanwhile, as they do while saving.
    const WallpaperResult wallpaper =
        setAsWallpaper(m_document->displayed(), [this](const std::function<void()>& work) { runLong(work); });
    // Success is told only when a desktop took the picture.
    if (wallpaper.shown)
        showMessage(this, QStringLiteral("ok!"), QStringLiteral("Set as wallpaper successful!"));
    else
        showMessage(this, QStringLiteral("Wallpaper"),
                    QStringLiteral("The picture was saved as %1, but no desktop could be told to show it.")
                        .arg(QDir::toNativeSeparators(wallpaper.file)));
}

void MainWindow::mailClicked()
{
    const MailResult mail =
        mailPicture(m_document->displayed(), [this](const std::function<void()>& work) { runLong(work); });
    if (!mail.taken)
        showMessage(this, QStringLiteral("Mail"),
                    mail.draft.isEmpty()
                        ? QStringLiteral("No mail program could be started. The picture was saved as %1.")
                              .arg(QDir::toNativeSeparators(mail.picture))
                        : QStringLiteral("No mail program could be started. The message was saved as %1, "
                                         "with the picture attached.")
                              .arg(QDir::toNativeSeparators(mail.draft)));
}

void MainWindow::printClicked()
{
    QPrinter printer(QPrinter::HighResolution);
    if (!m_choosePrinter(printer))
        return;
    const TBitmap32& picture = m_document->displayed();
    // The printable area in device pixels, as the picture is placed in it.
    const QRect page = printer.pageLayout().paintRectPixels(printer.resolution());
    const PrintRectangle r = printRectangle(picture.width(), picture.height(), page.width(), page.height());
    // Scaling a big picture for the printer takes a while: the windows keep
    // painting meanwhile (a printer may be painted from any thread). Esc
    // does not stop it: Qt's print engines cannot withdraw a job once it
    // has begun, and a job stopped halfway would print half a page.
    m_busyWork->run(
        [&] {
            QPainter painter;
            if (!painter.begin(&printer))
                throw PlumoraError("The printer could not be started.");
            const QImage image(picture.bits(), picture.width(), picture.height(), qsizetype(picture.bytesPerLine()),
                               QImage::Format_RGB32);
            painter.drawImage(QRect(r.left, r.top, r.width, r.height), image);
            if (!painter.end())
                throw PlumoraError("The picture could not be printed.");
        },
        BusyWork::Stop::ToTheEnd);
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!event->spontaneous())
        windowShown();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    bool goOn = false;
    runGuarded([&] { goOn = maySetPictureAside(); });
    if (!goOn) {
        event->ignore();
        return;
    }
    event->accept();
    if (EffectDialog* open = effectDialog(m_document->openDialog()))
        rememberDialogPlace(open);
    programSettings().setValue(QStringLiteral("Windows/TMyPicture"), saveGeometry());
    // Closing the main window ends the program, tool windows and all.
    QCoreApplication::quit();
}

void MainWindow::closetool()
{
    if (EffectDialog* dialog = effectDialog(m_document->openDialog()))
        dialog->close();
}

void MainWindow::openEffectDialog(EffectDialogId id)
{
    EffectDialog* dialog = effectDialog(id);
    if (!dialog)
        return;
    closetool();
    // The dialog's right edge 25 pixels inside ours, 84 pixels below our top;
    // not kept on the screen on purpose, as the user placed the main window.
    // Placed before it shows, so that it appears there at once and at the
    // same place every time: its frame is taken to be as wide as ours, which
    // the same desktop draws.
    const QRect main = frameGeometry();
    const int frameWidth = dialog->width() + main.width() - width();
    const std::size_t slot = slotOf(id);
    // Where the user left it, once moved; this run or an earlier one.
    const QPoint place =
        m_dialogLeftAt[slot].value_or(QPoint(main.left() + main.width() - frameWidth - 25, main.top() + 84));
    dialog->move(place);
    m_dialogPlacedAt[slot] = place;
    dialog->show();
    dialog->raise();
    giveKeyboardTo(dialog);
}

void MainWindow::openClicked()
{
    closetool();
    OpenPicture();
}

void MainWindow::OpenPicture()
{
    const QString name = m_chooseOpenFile();
    if (name.isEmpty())
        return;
    m_openFolder = QFileInfo(name).absolutePath();
    programSettings().setValue(QStringLiteral("Folders/open"), m_openFolder);
    // Qt's own listing leaves out names that are not UTF-8, so whatever the
    // dialog gives encodes back to the bytes of a name it listed.
    openPictureFile(QFile::encodeName(name).toStdString());
}

void MainWindow::openNamedPicture(const QString& name)
{
    openLocalFile(QFile::encodeName(name).toStdString());
}

void MainWindow::openLocalFile(const std::string& file)
{
    if (isRecipeFileName(file)) {
        applyRecipeFile(file);
        return;
    }
    closetool();
    openPictureFile(file);
}

void MainWindow::runLong(const std::function<void()>& compute)
{
    m_busyWork->run(compute);
}

bool MainWindow::livePreviewOn() const
{
    return livePreviewAction->isChecked();
}

void MainWindow::setLivePreview(bool on)
{
    if (livePreviewAction->isChecked() != on) {
        livePreviewAction->setChecked(on);  // comes back here through toggled
        return;
    }
    programSettings().setValue(QStringLiteral("Edit/livePreview"), on);
    if (!on) {
        m_preview->clear();
        return;
    }
    // Turned on with a window open: its values show at once.
    if (EffectDialog* open = effectDialog(m_document->openDialog()); open && open->isVisible())
        controlsChanged(*open);
}

void MainWindow::controlsChanged(EffectDialog& window)
{
    if (!livePreviewOn() || !window.previewsInView())
        return;
    ParamValues values;
    try {
        values = window.values();
    } catch (const ParamError& e) {
        // A box that holds no number yet: nothing to show until it does.
        m_preview->clear();
        statusLine->showMessage(QString::fromStdString(e.what()), 5000);
        return;
    }
    m_preview->request(window.effect(), values);
}

void MainWindow::effectWindowClosed(EffectDialog&)
{
    m_preview->clear();
}

std::optional<Document::EffectRun> MainWindow::preparedRun(const EffectDeclaration& effect, const ParamValues& values)
{
    return m_preview->take(effect, values, [this](const std::function<void()>& wait) { runLong(wait); });
}

void MainWindow::openPictureFile(const std::string& file)
{
    // The file is read on a thread of its own while the window repaints
    // (the open dialog's place included). An icon that cannot be read is
    // told in a box of its own, and then refused like any other file that
    // gives no picture.
    std::optional<TBitmap32> picture;
    PictureMetadata metadata;
    std::vector<std::string> iconMessages;
    const QString name = QFile::decodeName(file.c_str());  // to show
    if (const QString missing = whyNoFile(file); !missing.isEmpty()) {
        showMessage(nullptr, QStringLiteral("Sorry"), missing);
        return;
    }
    // The view shows the document as it is while the file is read.
    m_preview->clear();
    const auto read = [&] {
        picture = LoadPictureFile(file, [&](const std::string& text) { iconMessages.push_back(text); });
        // Our own formats first, as they always were; then every other
        // format Qt's image plugins read (PNG, TIFF, WebP, ...), as
        // plumora-cli does.
        if (picture && picture->empty() && iconMessages.empty()) {
            try {
                picture = readAnyPicture(file, SvgDrawings::Read);
            } catch (const NotValidFormatError&) {
                picture.reset();
            }
        }
        // The readers give opaque pictures, ready for the document. The
        // file's profile and camera data come from its headers alone.
        if (picture && !picture->empty())
            metadata = readPictureMetadata(file);
    };
    try {
        runLong(read);
    } catch (const PlumoraError& e) {
        // The reader's message, and which file it is about.
        const std::string what = e.what();
        if (what.find(file) != std::string::npos)
            throw;
        throw PlumoraError(file + " could not be opened: " + what);
    }
    for (const std::string& text : iconMessages)
        showMessage(nullptr, QStringLiteral("Exit"), QFile::decodeName(text.c_str()));
    if (!picture || picture->width() <= 0) {
        showMessage(nullptr, QStringLiteral("Sorry"), name + QStringLiteral(" is not a valid format"));
        return;
    }
    if (!maySetPictureAside())
        return;
    m_document->open(std::move(*picture));
    m_metadata = std::move(metadata);
    m_keepLocation = false;
    // Shown as the profile means its values; the document keeps them as they are.
    pictureView->setColourProfile(m_metadata.icc);
    sourceView->setColourProfile(m_metadata.icc);
    m_documentFile = file;
    m_openedFile = file;
    m_savedFile.clear();  // Save asks again for this picture
    showDocumentName();
    m_recentFiles->add(file);
    scrollBox->horizontalScrollBar()->setValue(0);
    scrollBox->verticalScrollBar()->setValue(0);
    colorUpButton->setEnabled(false);
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event)
{
    // One local file, as a file manager drags it.
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() == 1 && urls.front().isLocalFile())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() != 1 || !urls.front().isLocalFile())
        return;
    event->acceptProposedAction();
    runGuarded([&] { openLocalFile(localFileName(urls.front())); });
}

bool MainWindow::saveClicked()
{
    if (m_savedFile.empty())
        return SavePicture(m_document->displayed());
    const TBitmap32& picture = m_document->displayed();
    writePicture(picture, m_savedFile);
    savedAs(picture, m_savedFile);
    return true;
}

bool MainWindow::saveAsClicked()
{
    return SavePicture(m_document->displayed());
}

bool MainWindow::SavePicture(const TBitmap32& picture)
{
    const std::optional<SaveChoice> choice = m_chooseSaveFile(m_saveFilterIndex);
    if (!choice)
        return false;
    m_saveFolder = QFileInfo(choice->name).absolutePath();
    QSettings settings = programSettings();
    settings.setValue(QStringLiteral("Folders/save"), m_saveFolder);
    if (choice->quality) {
        m_jpegQuality = std::clamp(*choice->quality, 1, 100);
        settings.setValue(QStringLiteral("Save/jpegQuality"), m_jpegQuality);
    }
    const std::optional<std::string> name = nameToSave(*choice, picture);
    if (!name)
        return false;
    settings.setValue(QStringLiteral("Save/type"), m_saveFilterIndex);
    // The dialog cannot ask about the file that will really be written, as
    // the type chosen may change the extension: asked here, under that name.
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::symlink_status(*name, ec)) &&
        !askYesNo(
            this, QStringLiteral("Save"),
            QStringLiteral("%1 already exists. Do you want to replace it?").arg(QFile::decodeName(name->c_str()))))
        return false;
    m_keepLocation = choice->keepLocation;
    writePicture(picture, *name);
    savedAs(picture, *name);
    return true;
}

void MainWindow::revertClicked()
{
    m_preview->clear();
    m_document->revert();
    scrollBox->horizontalScrollBar()->setValue(0);
    scrollBox->verticalScrollBar()->setValue(0);
}

void MainWindow::undoClicked()
{
    m_preview->clear();
    // The step may be unpacked into the very pixels the view paints from:
    // until it is done, the view shows what it showed.
    const PictureView::StillFrame still(*pictureView);
    m_document->undo();
}

void MainWindow::redoClicked()
{
    m_preview->clear();
    const PictureView::StillFrame still(*pictureView);
    m_document->redo();
}

void MainWindow::exitClicked()
{
    close();
}

void MainWindow::aboutClicked()
{
    if (m_about) {
        if (!m_about->isVisible())
            placeOver(m_about, this);
        m_about->show();
        m_about->raise();
        giveKeyboardTo(m_about);
    }
}

void MainWindow::onlineClicked()
{
    const QUrl page(QString::fromLatin1(product::kWebPage));
    if (!QDesktopServices::openUrl(page))
        showMessage(this, QStringLiteral("Online"),
                    QStringLiteral("No web browser could be started. The address is\n%1").arg(page.toString()));
}

void MainWindow::imageSizeClicked()
{
    if (m_imageSize) {
        if (!m_imageSize->isVisible())
            placeOver(m_imageSize, this);
        m_imageSize->show();
        m_imageSize->raise();
        giveKeyboardTo(m_imageSize);
    }
}

void MainWindow::colorUp()
{
    // The work area first: it takes the sketch and disables this window.
    for (QWidget* window :
         {static_cast<QWidget*>(m_freehandWorkArea.get()), static_cast<QWidget*>(m_freehandControl.get())})
        if (window) {
            window->show();
            window->raise();
        }  // The user paints next, and Enter or Esc end the colouring at once.
    if (m_freehandWorkArea)
        giveKeyboardTo(m_freehandWorkArea.get());
}

}  // namespace plumora
