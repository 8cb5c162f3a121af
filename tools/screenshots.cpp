// Takes the README's screenshots of the running program: run it through
// tools/screenshots.sh, which gives it an X display of its own.

#include "app/application.h"
#include "app/effect_windows/freehand_control.h"
#include "app/effect_windows/freehand_work_area.h"
#include "app/main_window.h"
#include "app/picture_view.h"

#include <QAction>
#include <QApplication>
#include <QGuiApplication>
#include <QPixmap>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>
#include <QScreen>
#include <QSlider>
#include <QStyleFactory>
#include <QPalette>
#include <QFileDialog>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <utility>

namespace {

void settle()
{
    for (int i = 0; i < 20; ++i) {
        QApplication::processEvents();
        QThread::msleep(25);
    }
}

// The part of the screen the given windows cover, with a small margin.
void shoot(const QString& file, std::initializer_list<QWidget*> windows)
{
    settle();
    QRect area;
    for (QWidget* w : windows)
        area = area.united(w->frameGeometry());
    area.adjust(-8, -8, 8, 8);
    const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0).copy(area);
    if (!shot.save(file))
        std::fprintf(stderr, "could not write %s\n", qPrintable(file));
    else
        std::printf("%s\n", qPrintable(file));
}

}  // namespace

// A dark palette as desktops give one: Fusion's style with its dark colours.
void useDarkPalette()
{
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QPalette p;
    const QColor window(53, 53, 53), base(35, 35, 35), text(235, 235, 235);
    for (const auto& [role, colour] : {std::pair{QPalette::Window, window},
                                       {QPalette::WindowText, text},
                                       {QPalette::Base, base},
                                       {QPalette::AlternateBase, window},
                                       {QPalette::ToolTipBase, QColor(25, 25, 25)},
                                       {QPalette::ToolTipText, text},
                                       {QPalette::Text, text},
                                       {QPalette::Button, window},
                                       {QPalette::ButtonText, text},
                                       {QPalette::Light, QColor(80, 80, 80)},
                                       {QPalette::Midlight, QColor(66, 66, 66)},
                                       {QPalette::Mid, QColor(44, 44, 44)},
                                       {QPalette::Dark, QColor(25, 25, 25)},
                                       {QPalette::Highlight, QColor(42, 130, 218)},
                                       {QPalette::HighlightedText, QColor(Qt::black)}})
        p.setColor(role, colour);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, QColor(127, 127, 127));
    QApplication::setPalette(p);
}

// The windows under a dark palette: the main window with a sky-blue effect
// window, and the image size dialog.
int darkShots(const QString& folder)
{
    useDarkPalette();
    auto main = plumora::createWindows();
    main->show();
    main->move(20, 20);
    main->effectAction("pen-sketch")->trigger();
    main->effectDialog("pen-sketch")->findChild<QPushButton*>(QStringLiteral("Button1"))->click();
    main->closetool();
    main->effectAction("brume")->trigger();
    plumora::EffectDialog* brume = main->effectDialog("brume");
    shoot(folder + "/dark_main_window.png", {main.get(), brume});
    main->closetool();
    main->imageSizeAction->trigger();
    QWidget* size = main->findChild<QWidget*>(QStringLiteral("TImage_size"));
    size->move(main->frameGeometry().right() - size->frameGeometry().width() - 25, main->y() + 120);
    shoot(folder + "/dark_image_size.png", {main.get(), size});
    return 0;
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs");
    if (argc > 2 && QByteArray(argv[2]) == "dark")
        return darkShots(folder);
    auto main = plumora::createWindows();
    main->show();
    main->move(20, 20);
    shoot(folder + "/main_window.png", {main.get()});

    main->effectAction("pen-sketch")->trigger();
    plumora::EffectDialog* pen = main->effectDialog("pen-sketch");
    pen->findChild<QSlider*>(QStringLiteral("TrackBar1"))->setValue(150);
    pen->findChild<QPushButton*>(QStringLiteral("Button1"))->click();
    shoot(folder + "/pen_sketch.png", {main.get(), pen});

    // The other black-and-white sketches, each with its dialog, at their defaults.
    // And the colour paintings.
    const std::pair<const char*, const char*> effects[] = {{"pencil-sketch", "/pencil_sketch.png"},
                                                           {"dozadir", "/dozadir.png"},
                                                           {"pen-and-ink", "/pen_and_ink.png"},
                                                           {"color-pencil", "/color_pencil.png"},
                                                           {"realism", "/realism.png"},
                                                           {"pop-art", "/pop_art.png"},
                                                           {"abstract", "/abstract.png"},
                                                           {"water-color", "/water_color.png"},
                                                           {"brume", "/brume.png"},
                                                           {"emboss", "/emboss.png"},
                                                           {"texture", "/texture.png"},
                                                           {"stria", "/stria.png"},
                                                           {"hsl-adjust", "/hsl_adjust.png"}};
    for (const auto& [id, file] : effects) {
        main->effectAction(id)->trigger();
        plumora::EffectDialog* dialog = main->effectDialog(id);
        const std::string& ok = dialog->window().buttons.front().objectName;
        dialog->findChild<QPushButton*>(QString::fromStdString(ok))->click();
        shoot(folder + file, {main.get(), dialog});
    }

    // The colour panel applies a layout as it is chosen.
    main->effectAction("color-panel")->trigger();
    plumora::EffectDialog* panel = main->effectDialog("color-panel");
    panel->findChild<QRadioButton*>(QStringLiteral("RadioButton3"))->click();
    shoot(folder + "/color_panel.png", {main.get(), panel});

    // The filter and the variety show their previews before "OK".
    auto clickSwatch = [](QWidget* dialog, const char* name) {
        QWidget* swatch = dialog->findChild<QWidget*>(QString::fromLatin1(name));
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(4, 4), swatch->mapToGlobal(QPointF(4, 4)),
                            Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(swatch, &release);
    };
    main->effectAction("color-filter")->trigger();
    plumora::EffectDialog* filter = main->effectDialog("color-filter");
    clickSwatch(filter, "Panel7");
    shoot(folder + "/color_filter.png", {main.get(), filter});
    main->effectAction("color-variety")->trigger();
    plumora::EffectDialog* variety = main->effectDialog("color-variety");
    for (const char* name : {"Panel5", "Panel5", "Panel5", "Panel4", "Panel4"})
        clickSwatch(variety, name);
    shoot(folder + "/color_variety.png", {main.get(), variety});

    // A pen sketch coloured by hand: colours picked from the photograph with
    // the eyedropper and brushed over the lines where they came from.
    main->closetool();
    main->revertButton->click();
    main->effectAction("pen-sketch")->trigger();
    pen->findChild<QPushButton*>(QStringLiteral("Button1"))->click();
    pen->findChild<QToolButton*>(QStringLiteral("Button2"))->click();
    plumora::FreehandWorkArea* area = main->freehandWorkArea();
    plumora::FreehandControl* control = main->freehandControl();
    auto mouse = [](QWidget* widget, QEvent::Type type, QPoint at, Qt::MouseButtons held) {
        QMouseEvent event(type, QPointF(at), widget->mapToGlobal(QPointF(at)),
                          type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held, Qt::NoModifier);
        QApplication::sendEvent(widget, &event);
    };
    auto click = [&](QWidget* widget, QPoint at) {
        mouse(widget, QEvent::MouseButtonPress, at, Qt::LeftButton);
        mouse(widget, QEvent::MouseButtonRelease, at, Qt::NoButton);
    };
    auto tool = [&](const char* name) { control->findChild<QToolButton*>(QString::fromLatin1(name))->click(); };
    const int width = area->picture().width(), height = area->picture().height();
    QWidget* photo = control->photoView();
    for (int y = 6; y < height; y += 12)
        for (int x = 6 + (y / 12 % 2) * 6; x < width; x += 12) {
            tool("SpeedButton11");
            click(photo, QPoint(x * photo->width() / width, y * photo->height() / height));
            tool("SpeedButton14");
            control->findChild<QSlider*>(QStringLiteral("TrackBar1"))->setValue(9);
            click(area->canvas(), QPoint(x, y));
        }
    mouse(area->canvas(), QEvent::MouseMove, QPoint(width * 2 / 3, height / 2), Qt::NoButton);
    shoot(folder + "/color_up.png", {area, control});
    control->okClicked();

    // The live preview: the water colour window's slider moved, its result
    // in the view before "OK" keeps it; then Compare held over it.
    main->closetool();
    main->revertButton->click();
    main->setLivePreview(true);
    main->effectAction("water-color")->trigger();
    plumora::EffectDialog* water = main->effectDialog("water-color");
    water->findChild<QSlider*>()->setValue(5);
    shoot(folder + "/live_preview.png", {main.get(), water});
    main->holdCompare(plumora::MainWindow::CompareHold::Button, true);
    shoot(folder + "/compare.png", {main.get(), water});
    main->holdCompare(plumora::MainWindow::CompareHold::Button, false);
    main->setLivePreview(false);

    // A recipe: the water colour kept, then the File menu with the recipe
    // commands open over the picture.
    water->findChild<QPushButton*>(QString::fromStdString(water->window().buttons.front().objectName))->click();
    main->closetool();
    QMenu* fileMenu = main->mainMenu->findChild<QMenu*>(QStringLiteral("File1"));
    main->mainMenu->setActiveAction(fileMenu->menuAction());
    settle();
    shoot(folder + "/recipe_menu.png", {main.get(), fileMenu});
    fileMenu->hide();

    // Back to the photograph, zoomed in twice and panned into the cup.
    main->closetool();
    main->revertButton->click();
    main->zoomInButton->click();
    main->zoomInButton->click();
    main->scrollBox->horizontalScrollBar()->setValue(140);
    main->scrollBox->verticalScrollBar()->setValue(60);
    shoot(folder + "/zoomed.png", {main.get()});

    // The open dialog with its preview of the built-in photograph's file.
    QTimer::singleShot(500, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        dialog->setDirectory(QStringLiteral(PLUMORA_RESOURCES));
        dialog->selectFile(QStringLiteral(PLUMORA_RESOURCES "/demo_photo.bmp"));
        emit dialog->currentChanged(QStringLiteral(PLUMORA_RESOURCES "/demo_photo.bmp"));
        dialog->resize(820, 460);
        shoot(folder + "/open_dialog.png", {dialog});
        dialog->reject();
    });
    main->openAction->trigger();

    main->imageSizeAction->trigger();
    QWidget* size = main->findChild<QWidget*>(QStringLiteral("TImage_size"));
    size->move(main->frameGeometry().right() - size->frameGeometry().width() - 25, main->y() + 120);
    shoot(folder + "/image_size.png", {main.get(), size});
    return 0;
}
