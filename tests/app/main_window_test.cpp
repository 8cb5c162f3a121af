// The desktop program driven as a user drives it: real menus, buttons and
// sliders on the offscreen platform; message boxes are read, not shown.

#include "app/application.h"
#include "app/colour_display.h"
#include "app/main_window.h"
#include "app/effect_windows/freehand_control.h"
#include "app/effect_windows/freehand_work_area.h"
#include "app/messages.h"
#include "app/mnemonics.h"
#include "app/picture_view.h"
#include "app/product.h"
#include "effects/sketch/pen_sketch.h"
#include "formats/exif.h"
#include "formats/jpeg.h"
#include "formats/metadata.h"
#include "formats/metafile.h"
#include "formats/picture_file.h"
#include "support/main_window_fixture.h"
#include "support/pictures.h"
#include "support/url_catcher.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QThreadPool>
#include <QTimer>
#include <QDesktopServices>
#include <QLabel>
#include <QMimeData>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollArea>
#include <QSlider>
#include <QTemporaryDir>
#include <QSettings>
#include <fstream>
#include <unistd.h>
#include <sys/wait.h>
#include <QSpinBox>
#include <QLineEdit>
#include <QTest>

#include <lcms2.h>
#include <QToolButton>
#include <QUrl>

#include <filesystem>

using namespace plumora;
using test::UrlCatcher;

class MainWindowTest : public QObject, protected test::MainWindowFixture {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    EffectDialog* penDialog() { return m_main->effectDialog("pen-sketch"); }

    template <class W>
    W* penControl(const char* name)
    {
        return penDialog()->findChild<W*>(QString::fromLatin1(name));
    }

    QString savePicture(const QString& name, const TBitmap32& picture)
    {
        const QString path = m_dir.filePath(name);
        plumora::savePicture(picture, path.toStdString());
        return path;
    }

    void openFile(const QString& path)
    {
        m_main->setOpenFileChooser([path] { return path; });
        m_main->openAction->trigger();
    }

    void penSketchOk(int pressure)
    {
        m_main->effectAction("pen-sketch")->trigger();
        penControl<QSlider>("TrackBar1")->setValue(pressure);
        QTest::mouseClick(penControl<QPushButton>("Button1"), Qt::LeftButton);
    }

    // Runs `answer` on the modal file dialog the next command opens.
    void whenDialogOpens(std::function<void(QFileDialog*)> answer)
    {
        QTimer::singleShot(0, this, [answer] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            answer(dialog);
            // A check that failed inside `answer` left it open: close it so the test can report.
            if (dialog->isVisible())
                dialog->reject();
        });
    }

private slots:
    void init() { openWindows(); }

    void cleanup() { closeWindows(); }

    void startsWithTheBuiltInPhotographAndEveryWindowHidden()
    {
        QCOMPARE(shownTitle(), QStringLiteral("Plumora v2.5"));
        QCOMPARE(m_main->operationLabel->text(), QStringLiteral("New picture"));
        QCOMPARE(m_main->zoomLabel->text(), QStringLiteral("100%"));
        QCOMPARE(m_main->pictureView->size(), QSize(521, 346));
        QCOMPARE(doc().displayed().width(), 521);
        QVERIFY(!m_main->undoButton->isEnabled());
        QVERIFY(!m_main->undoAction->isEnabled());
        QVERIFY(!m_main->redoButton->isEnabled());
        QVERIFY(!m_main->redoAction->isEnabled());
        QVERIFY(!m_main->colorUpButton->isEnabled());
        QCOMPARE(doc().openDialog(), EffectDialogId::None);

        // Every other window exists from the start, hidden, in creation order.
        QStringList windows;
        for (QObject* child : m_main->children())
            if (auto* w = qobject_cast<QWidget*>(child); w && w->isWindow() && !qobject_cast<QMenu*>(w)) {
                QVERIFY2(!w->isVisible(), qPrintable(w->objectName()));
                windows << w->objectName();
            }
        // A window added after the seventeen comes after them, by number.
        QStringList expected{"TFormOfFringe1", "TFormOfFringe2", "TFormOfFringe3", "TBack_and_White_Sketch",
                             "TAboutus",       "TPen_Sketch",    "TImage_size",    "TDozadir",
                             "TTexture",       "TPen_and_Ink",   "TColor_Sketch",  "TWater_Color",
                             "TBrume",         "THSL_Adjust",    "TColor_variety", "TColor_Panel",
                             "TEmboss",        "TColor_Filter",  "TStria"};
        for (std::size_t n = 17; n < effectWindows().size(); ++n)
            expected << QString::fromStdString(effectWindows()[n].className);
        QCOMPARE(windows, expected);
        // The freehand pair are windows of their own (the main window is
        // disabled while they are open), also hidden.
        QVERIFY(!m_main->freehandWorkArea()->isVisible());
        QVERIFY(!m_main->freehandControl()->isVisible());
    }

    void menusShowTheirCaptionsWithAmpersandsAsCharacters()
    {
        QStringList titles;
        for (QAction* a : m_main->mainMenu->actions())
            titles << shownMenuText(a->text());
        QCOMPARE(titles, (QStringList{" File", " Edit", " B&W", " Color", " ColorAdjust", " Veins", " Help"}));
        QCOMPARE(shownMenuText(m_main->effectAction("pen-and-ink")->text()), QStringLiteral("Pen & Ink"));
        // "&&" is Qt's way of showing one ampersand: not the shortcut letter.
        QCOMPARE(m_main->effectAction("pen-and-ink")->text(), QStringLiteral("Pen && &Ink"));
        QCOMPARE(m_main->mainMenu->actions()[2]->text(), QStringLiteral(" &B&&W"));
        QCOMPARE(m_main->effectAction("color-panel")->parent()->objectName(), QStringLiteral("ColorAdjust1"));
    }

    // Alt and a letter reach every menu and every item: each has its
    // letter, none twice among its neighbours (Qt's own reading of the text).
    void everyMenuHasMnemonicsNoneTwice_data()
    {
        QTest::addColumn<QString>("menu");
        QTest::addRow("menu bar") << QStringLiteral("MainMenu1");
        std::unique_ptr<MainWindow> main = createWindows();
        for (QAction* a : main->mainMenu->actions())
            QTest::addRow("%s", qPrintable(a->menu()->objectName())) << a->menu()->objectName();
        QTest::addRow("picture's pop-up menu") << QStringLiteral("PopupMenu1");
    }

    void everyMenuHasMnemonicsNoneTwice()
    {
        QFETCH(QString, menu);
        const QList<QAction*> actions = menu == QStringLiteral("MainMenu1")
                                            ? m_main->mainMenu->actions()
                                            : child<QMenu>(m_main.get(), menu)->actions();
        QVERIFY(!actions.isEmpty());
        QList<QKeySequence> seen;
        for (QAction* a : actions) {
            if (a->isSeparator())
                continue;
            const QKeySequence key = QKeySequence::mnemonic(a->text());
            QVERIFY2(!key.isEmpty(), qPrintable(a->text()));
            QVERIFY2(!seen.contains(key), qPrintable(a->text()));
            seen << key;
        }
    }

    // The windows beside the main one are tool windows or dialogs with a
    // close box only: nothing a desktop could minimise (taking the main
    // window along) or maximise.
    void smallWindowsHaveACloseBoxOnly()
    {
        auto closeBoxOnly = [](const QWidget* w) {
            const Qt::WindowFlags f = w->windowFlags();
            QVERIFY2(w->isWindow(), qPrintable(w->objectName()));
            QVERIFY2(w->windowType() == Qt::Tool || w->windowType() == Qt::Dialog, qPrintable(w->objectName()));
            QVERIFY2(f & Qt::CustomizeWindowHint, qPrintable(w->objectName()));
            QVERIFY2(f & Qt::WindowCloseButtonHint, qPrintable(w->objectName()));
            QVERIFY2(!(f & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)), qPrintable(w->objectName()));
        };
        int windows = 0;
        for (QObject* o : m_main->children())
            if (auto* w = qobject_cast<QWidget*>(o); w && w->isWindow() && !qobject_cast<QMenu*>(w)) {
                closeBoxOnly(w);
                ++windows;
            }
        QCOMPARE(windows, int(effectWindows().size()) + 2);  // the effect windows, the About box, Image size
        closeBoxOnly(m_main->freehandWorkArea());
        closeBoxOnly(m_main->freehandControl());

        // The message boxes, as they are really shown.
        setMessageSink({});
        setQuestionAnswerer({});
        setSaveQuestionAnswerer({});
        int boxes = 0;
        auto whenBoxShows = [&] {
            QTimer::singleShot(0, this, [&] {
                QWidget* box = QApplication::activeModalWidget();
                QVERIFY(box);
                ++boxes;
                closeBoxOnly(box);
                QTest::keyClick(box, Qt::Key_Escape);
            });
        };
        whenBoxShows();
        showMessage(m_main.get(), QStringLiteral("Plumora"), QStringLiteral("A message."));
        whenBoxShows();
        QVERIFY(!askYesNo(m_main.get(), QStringLiteral("Plumora"), QStringLiteral("A question?")));
        whenBoxShows();
        QCOMPARE(askToSaveChanges(m_main.get(), QStringLiteral("Save changes to x before closing?")),
                 SaveAnswer::Cancel);
        QCOMPARE(boxes, 3);
    }

    // A window manager that minimises a tool window anyway (and the main
    // window with it): the program brings both back, unless it was the main
    // window the user minimised.
    void aToolWindowMinimisedComesBackWithTheMainWindow()
    {
        for (QWidget* tool : {static_cast<QWidget*>(openEffect("emboss")), child<QWidget>(m_main.get(), "TImage_size"),
                              child<QWidget>(m_main.get(), "TAboutus")}) {
            tool->show();
            tool->activateWindow();
            QTRY_COMPARE(QApplication::activeWindow(), tool);
            m_main->setWindowState(Qt::WindowMinimized);
            tool->setWindowState(Qt::WindowMinimized);
            QTRY_VERIFY2(!tool->isMinimized(), qPrintable(tool->objectName()));
            QTRY_VERIFY(!m_main->isMinimized());
            QVERIFY(tool->isVisible());
            tool->close();
        }
        // The main window minimised by the user takes the tool window along.
        EffectDialog* emboss = openEffect("emboss");
        m_main->activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), m_main.get());
        m_main->setWindowState(Qt::WindowMinimized);
        emboss->setWindowState(Qt::WindowMinimized);
        QTest::qWait(50);  // what would bring them back is queued: give it its turn
        QVERIFY(emboss->isMinimized());
        QVERIFY(m_main->isMinimized());
        m_main->setWindowState(Qt::WindowNoState);
    }

    // File > "Open Recent": the last ten pictures opened or saved, newest
    // first, kept for the next run; one that is gone is taken off with a
    // message.
    void openRecentListsTheLastTenAndKeepsThemForTheNextRun()
    {
        auto* recent = child<QMenu>(m_main.get(), "OpenRecent1");
        QVERIFY(!recent->menuAction()->isEnabled());
        auto shown = [recent] {
            QStringList names;
            for (QAction* a : recent->actions())
                names << shownMenuText(a->text());
            return names;
        };
        auto item = [](int n, const QString& path) {
            return QString::number(n) + u' ' + QDir::toNativeSeparators(path);
        };
        QStringList paths;
        std::vector<TBitmap32> pictures;
        for (int i = 0; i < 12; ++i) {
            TBitmap32 picture = test::randomPicture(4 + i, 3, unsigned(i));
            FillAlpha(picture, 255);
            paths << savePicture(QStringLiteral("p%1 & co.bmp").arg(i), picture);
            pictures.push_back(picture);
            openFile(paths.back());
        }
        QVERIFY(recent->menuAction()->isEnabled());
        QCOMPARE(shown().size(), 10);
        QCOMPARE(shown()[0], item(1, paths[11]));
        QCOMPARE(shown()[9], item(10, paths[2]));
        QCOMPARE(recent->actions()[9]->text().left(4), QStringLiteral("1&0 "));  // 1 to 10 as their letters

        // Opened again, a picture moves to the top, once.
        openFile(paths[5]);
        QCOMPARE(shown().size(), 10);
        QCOMPARE(shown()[0], item(1, paths[5]));
        QCOMPARE(shown().filter(QStringLiteral("p5 ")).size(), 1);
        // A picture saved joins the list.
        const QString saved = m_dir.filePath(QStringLiteral("saved.bmp"));
        m_main->setSaveFileChooser([&](int) { return SaveChoice{saved, 2}; });
        m_main->saveAction->trigger();
        QCOMPARE(shown()[0], item(1, saved));

        // Choosing an item opens its picture.
        QCOMPARE(shown()[3], item(4, paths[10]));
        recent->actions()[3]->trigger();
        QVERIFY(doc().displayed() == pictures[10]);
        QCOMPARE(shown()[0], item(1, paths[10]));

        // A file gone is told, taken off, and the picture stays.
        QVERIFY(QFile::remove(paths[9]));
        QCOMPARE(shown()[4], item(5, paths[9]));
        recent->actions()[4]->trigger();
        QCOMPARE(m_messages.size(), std::size_t(1));
        QCOMPARE(m_messages[0].caption, QStringLiteral("Open Recent"));
        QCOMPARE(m_messages[0].text,
                 paths[9] + QStringLiteral(" does not exist. It is taken off the list of recent files."));
        QVERIFY(doc().displayed() == pictures[10]);
        QCOMPARE(shown().size(), 9);
        QVERIFY(shown().filter(QStringLiteral("p9 ")).isEmpty());
        const QStringList left = shown();

        // The next run has the same list.
        std::unique_ptr<MainWindow> next = createWindows();
        next->restoreSettings();
        QStringList nextShown;
        for (QAction* a : child<QMenu>(next.get(), "OpenRecent1")->actions())
            nextShown << shownMenuText(a->text());
        QCOMPARE(nextShown, left);
    }

    void altAndTheLetterOpensAMenu()
    {
        m_main->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_main.get()));
        auto* file = child<QMenu>(m_main.get(), "File1");
        QTest::keyClick(m_main.get(), Qt::Key_F, Qt::AltModifier);
        QTRY_VERIFY(file->isVisible());
        file->close();
    }

    void everyEffectItemOpensItsDialogBesideTheRightEdge()
    {
        const int count = int(effectWindows().size());
        for (int number = 1; number <= count; ++number) {
            const auto id = EffectDialogId(number);
            m_main->effectAction(id)->trigger();
            EffectDialog* dialog = m_main->effectDialog(id);
            QVERIFY(dialog->isVisible());
            QCOMPARE(doc().openDialog(), id);
            const QRect main = m_main->frameGeometry();
            QCOMPARE(dialog->frameGeometry().topLeft(),
                     QPoint(main.left() + main.width() - dialog->frameGeometry().width() - 25, main.top() + 84));
            QCOMPARE(dialog->windowTitle(), QString::fromStdString(windowNumbered(id).caption));
            // Above the main window as its tool window, not above every
            // other program.
            QVERIFY(!(dialog->windowFlags() & Qt::WindowStaysOnTopHint));
            QCOMPARE(dialog->windowHandle()->transientParent(), m_main->windowHandle());
            QVERIFY(!(dialog->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
            // Only one effect dialog is open at a time.
            for (int other = 1; other <= count; ++other)
                if (other != number)
                    QVERIFY(!m_main->effectDialog(EffectDialogId(other))->isVisible());
        }
        // Chosen again, a dialog comes back to the same place.
        EffectDialog* pen = penDialog();
        m_main->effectAction("pen-sketch")->trigger();
        const QPoint first = pen->frameGeometry().topLeft();
        m_main->closetool();
        m_main->effectAction("pen-sketch")->trigger();
        QCOMPARE(pen->frameGeometry().topLeft(), first);
    }

    void choosingAnotherEffectClosesTheOpenOne()
    {
        m_main->effectAction("pen-sketch")->trigger();
        QCOMPARE(doc().openDialog(), windowNumber("pen-sketch"));
        m_main->closetool();
        QCOMPARE(doc().openDialog(), EffectDialogId::None);
        QVERIFY(!penDialog()->isVisible());
        m_main->effectAction("pen-sketch")->trigger();
        m_main->effectAction("emboss")->trigger();
        QVERIFY(!penDialog()->isVisible());
        QVERIFY(m_main->effectDialog("emboss")->isVisible());
        QCOMPARE(doc().openDialog(), windowNumber("emboss"));
        // The close box clears the number.
        m_main->effectDialog("emboss")->close();
        QCOMPARE(doc().openDialog(), EffectDialogId::None);
    }

    void desktopKeysWorkInEveryWindow()
    {
        // The title names the picture once one is opened.
        QCOMPARE(shownTitle(), QStringLiteral("Plumora v2.5"));
        openRandomPicture(40, 30, 5);
        QCOMPARE(shownTitle(), QStringLiteral("Plumora v2.5 - picture.bmp"));

        auto press = [](QWidget* window, QKeySequence::StandardKey key) {
            window->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(window));
            QTest::keySequence(window, QKeySequence(key));
        };
        penSketchOk(100);
        const TBitmap32 sketch = doc().displayed();
        press(m_main.get(), QKeySequence::Undo);
        QCOMPARE(doc().label(), std::string("Undo"));
        press(m_main.get(), QKeySequence::Redo);
        QVERIFY(doc().displayed() == sketch);
        press(m_main.get(), QKeySequence::ZoomIn);
        QCOMPARE(m_main->zoomLabel->text(), QStringLiteral("125.0%"));
        press(m_main.get(), QKeySequence::ZoomOut);
        QCOMPARE(m_main->zoomLabel->text(), QStringLiteral("100.0%"));

        // Enter presses an effect window's first button, Esc closes it.
        EffectDialog* pen = penDialog();
        const int steps = doc().undoCount();
        pen->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(pen));
        QTest::keyClick(pen, Qt::Key_Return);
        QCOMPARE(doc().undoCount(), steps + 1);
        QTest::keyClick(pen, Qt::Key_Escape);
        QVERIFY(!pen->isVisible());
        QCOMPARE(doc().openDialog(), EffectDialogId::None);

        // Esc closes the image size dialog and the About box.
        m_main->imageSizeAction->trigger();
        QWidget* size = m_main->findChild<QWidget*>(QStringLiteral("TImage_size"));
        // It opens over the main window, as the About box does.
        QVERIFY((size->frameGeometry().center() - m_main->frameGeometry().center()).manhattanLength() <= 6);
        size->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(size));
        QTest::keyClick(size, Qt::Key_Escape);
        QVERIFY(!size->isVisible());
        QCOMPARE(doc().displayed().width(), 40);
        m_main->aboutAction->trigger();
        QWidget* about = m_main->findChild<QWidget*>(QStringLiteral("TAboutus"));
        QVERIFY((about->frameGeometry().center() - m_main->frameGeometry().center()).manhattanLength() <= 6);
        about->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(about));
        QTest::keyClick(about, Qt::Key_Escape);
        QVERIFY(!about->isVisible());
    }

    void penSketchOkFollowsTheCommonProtocol()
    {
        m_main->effectAction("pen-sketch")->trigger();
        EffectDialog* pen = penDialog();
        auto* pressureValue = penControl<QLabel>("Label9");
        auto* pressureSlider = penControl<QSlider>("TrackBar1");
        auto* okButton = penControl<QPushButton>("Button1");
        auto* colorUpButton = penControl<QToolButton>("Button2");
        QCOMPARE(pressureValue->text(), QStringLiteral("128"));
        QVERIFY(!colorUpButton->isEnabled());
        QTest::keyClick(pressureSlider, Qt::Key_Right);  // the user nudges the slider
        QCOMPARE(pressureValue->text(), QStringLiteral("129"));
        QCOMPARE(doc().label(), std::string("New picture"));  // moving the slider computes nothing

        QTest::mouseClick(okButton, Qt::LeftButton);
        QCOMPARE(m_main->operationLabel->text(), QStringLiteral("Pen Sketch"));
        QVERIFY(doc().displayed() == penSketch(doc().source(), 129));
        QCOMPARE(doc().undoCount(), 1);
        QVERIFY(m_main->undoButton->isEnabled() && m_main->undoAction->isEnabled());
        QVERIFY(!m_main->redoButton->isEnabled());
        QVERIFY(colorUpButton->isEnabled());
        QVERIFY(doc().thickAndThin());
        QVERIFY(pen->isVisible());  // stays open for another try

        // Applying again starts from the source picture, not from the sketch.
        pressureSlider->setValue(60);
        QTest::mouseClick(okButton, Qt::LeftButton);
        QVERIFY(doc().displayed() == penSketch(doc().source(), 60));
        QCOMPARE(doc().undoCount(), 2);

        // Choosing the open dialog again shows it afresh: "Color up" is off,
        // the slider keeps its place.
        m_main->effectAction("pen-sketch")->trigger();
        QVERIFY(pen->isVisible());
        QVERIFY(!colorUpButton->isEnabled());
        QCOMPARE(pressureSlider->value(), 60);

        // "Color up" shows the freehand windows once enabled.
        QTest::mouseClick(okButton, Qt::LeftButton);
        QTest::mouseClick(colorUpButton, Qt::LeftButton);
        QVERIFY(m_main->freehandWorkArea()->isVisible());
        QVERIFY(m_main->freehandControl()->isVisible());
    }

    void undoAndRedoButtonsStepThroughTheHistory()
    {
        penSketchOk(100);
        const TBitmap32 first = doc().displayed();
        penSketchOk(200);
        QTest::mouseClick(m_main->undoButton, Qt::LeftButton);
        QVERIFY(doc().displayed() == first);
        QCOMPARE(m_main->operationLabel->text(), QStringLiteral("Undo"));
        QVERIFY(m_main->redoButton->isEnabled() && m_main->redoAction->isEnabled());
        m_main->undoAction->trigger();
        QVERIFY(!m_main->undoButton->isEnabled() && !m_main->undoAction->isEnabled());
        QTest::mouseClick(m_main->redoButton, Qt::LeftButton);
        QVERIFY(doc().displayed() == first);
        QCOMPARE(m_main->operationLabel->text(), QStringLiteral("Redo"));
    }

    void aPictureDroppedOnTheWindowOpens()
    {
        TBitmap32 picture = test::randomPicture(30, 20, 8);
        FillAlpha(picture, 255);
        const QString path = savePicture(QStringLiteral("dropped.bmp"), picture);
        m_main->effectAction("pen-sketch")->trigger();

        auto drop = [this](const QString& file) {
            QMimeData data;
            data.setUrls({QUrl::fromLocalFile(file)});
            QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(m_main.get(), &enter);
            QVERIFY(enter.isAccepted());
            QDropEvent dropped(QPointF(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(m_main.get(), &dropped);
        };
        drop(path);
        QVERIFY(doc().displayed() == picture);
        QCOMPARE(doc().openDialog(), EffectDialogId::None);  // as "Open" does, the open window closed
        QVERIFY(m_messages.empty());

        // A file that is no picture is refused in the same box as "Open"'s,
        // naming it, and nothing changes.
        QFile text(m_dir.filePath(QStringLiteral("notes.txt")));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("not a picture");
        text.close();
        drop(text.fileName());
        QCOMPARE(m_messages.size(), std::size_t(1));
        QCOMPARE(m_messages[0].caption, QStringLiteral("Sorry"));
        QCOMPARE(m_messages[0].text, text.fileName() + QStringLiteral(" is not a valid format"));
        QVERIFY(doc().displayed() == picture);

        // What the command line names opens the same way.
        m_main->openNamedPicture(savePicture(QStringLiteral("named.bmp"), test::randomPicture(7, 9, 2)));
        QCOMPARE(doc().displayed().width(), 7);
    }

    // A name that is not UTF-8, from the command line or dropped from a file
    // manager, opens its own file: not the one its U+FFFD decoding names.
    void namesThatAreNotUtf8OpenTheirOwnFile()
    {
        TBitmap32 own = test::randomPicture(6, 4, 11), other = test::randomPicture(6, 4, 12);
        FillAlpha(own, 255);
        FillAlpha(other, 255);
        const std::string folder = QFile::encodeName(m_dir.path()).toStdString() + "/";
        const std::string name = folder + "x\xff.bmp";
        plumora::savePicture(own, name);
        plumora::savePicture(other, folder + "x\xef\xbf\xbd.bmp");
        // Qt's listing skips the name, so QTemporaryDir cannot remove it.
        const auto removeOwn = qScopeGuard([&] { std::filesystem::remove(name); });

        m_main->openLocalFile(name);
        QVERIFY(m_messages.empty());
        QVERIFY(doc().displayed() == own);

        m_main->openLocalFile(folder + "x\xef\xbf\xbd.bmp");
        QVERIFY(doc().displayed() == other);
        QMimeData data;
        data.setUrls({QUrl::fromEncoded("file://" + QByteArray::fromStdString(name).toPercentEncoding("/"))});
        QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(m_main.get(), &enter);
        QDropEvent dropped(QPointF(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(m_main.get(), &dropped);
        QVERIFY(m_messages.empty());
        QVERIFY(doc().displayed() == own);
    }

    void openingAPictureReplacesTheDocumentAndKeepsTheZoom()
    {
        TBitmap32 picture = test::randomPicture(30, 20, 7);
        FillAlpha(picture, 255);
        const QString path = savePicture(QStringLiteral("photo.bmp"), picture);
        m_main->effectAction("pen-sketch")->trigger();
        penSketchOk(90);
        doc().setZoom(125.0, "125.0%");
        openFile(path);
        QVERIFY(m_messages.empty());
        QVERIFY(doc().displayed() == picture);
        QVERIFY(doc().source() == picture);
        QCOMPARE(m_main->pictureView->size(), QSize(38, 25));                    // Round(37.5) = 38, Round(25) = 25
        QCOMPARE(m_main->operationLabel->text(), QStringLiteral("Pen Sketch"));  // opening leaves the label
        QVERIFY(!m_main->undoButton->isEnabled());
        QCOMPARE(doc().openDialog(), EffectDialogId::None);  // opening closed the dialog
        QVERIFY(!penDialog()->isVisible());

        // Revert after an effect brings back the opened picture.
        penSketchOk(90);
        QTest::mouseClick(m_main->revertButton, Qt::LeftButton);
        QVERIFY(doc().displayed() == picture);
        QCOMPARE(m_main->operationLabel->text(), QStringLiteral("Pen Sketch"));
        QVERIFY(!m_main->undoButton->isEnabled());
    }

    // Unsaved changes: the caption marks them, and closing, opening or
    // dropping a picture asks about them first.
    void theCaptionMarksChangesNotSaved()
    {
        QCOMPARE(shownTitle(), QStringLiteral("Plumora v2.5"));
        penSketchOk(100);
        QCOMPARE(shownTitle(), QStringLiteral("*Plumora v2.5"));
        TBitmap32 picture = test::randomPicture(8, 6, 3);
        FillAlpha(picture, 255);
        openFile(savePicture(QStringLiteral("marked.bmp"), picture));
        QCOMPARE(shownTitle(), QStringLiteral("Plumora v2.5 - marked.bmp"));
        QTest::mouseClick(m_main->rotateClockwiseButton, Qt::LeftButton);
        QCOMPARE(shownTitle(), QStringLiteral("Plumora v2.5 - *marked.bmp"));
        // Saved under another name, the picture is that file's now.
        m_main->setSaveFileChooser([&](int) { return SaveChoice{m_dir.filePath(QStringLiteral("turned.bmp")), 2}; });
        m_main->saveAction->trigger();
        QCOMPARE(shownTitle(), QStringLiteral("Plumora v2.5 - turned.bmp"));
        QVERIFY(!doc().modified());
        // An effect marks it again, and undoing the effect does not unmark it.
        penSketchOk(100);
        QCOMPARE(shownTitle(), QStringLiteral("Plumora v2.5 - *turned.bmp"));
        QTest::mouseClick(m_main->undoButton, Qt::LeftButton);
        QCOMPARE(shownTitle(), QStringLiteral("Plumora v2.5 - *turned.bmp"));
    }

    void closingWithChangesAsksAndFollowsTheAnswer()
    {
        auto closing = [this] {
            QCloseEvent event;
            QApplication::sendEvent(m_main.get(), &event);
            return event.isAccepted();
        };
        QVERIFY(closing());  // nothing changed: nothing asked
        QVERIFY(m_saveQuestions.empty());

        penSketchOk(100);
        const TBitmap32 shown = doc().displayed();
        m_saveAnswer = SaveAnswer::Cancel;
        QVERIFY(!closing());
        QCOMPARE(m_saveQuestions.size(), std::size_t(1));
        QCOMPARE(m_saveQuestions[0].text, QStringLiteral("Save changes to Untitled before closing?"));
        QVERIFY(m_saveQuestions[0].owner == m_main.get());

        // "Save" with no name yet asks for one; cancelling that keeps the window.
        m_saveAnswer = SaveAnswer::Save;
        int asked = 0;
        std::optional<SaveChoice> answer;
        m_main->setSaveFileChooser([&](int) {
            ++asked;
            return answer;
        });
        QVERIFY(!closing());
        QCOMPARE(asked, 1);
        // A save that fails keeps the window too, and says why.
        answer = SaveChoice{m_dir.filePath(QStringLiteral("no/such/folder/x.bmp")), 2};
        QVERIFY(!closing());
        QCOMPARE(m_messages.size(), std::size_t(1));
        // A save that works lets it close, the picture written.
        const QString kept = m_dir.filePath(QStringLiteral("kept.bmp"));
        answer = SaveChoice{kept, 2};
        QVERIFY(closing());
        QVERIFY(openPicture(kept.toStdString()) == shown);
        QCOMPARE(m_saveQuestions.size(), std::size_t(4));

        // "Discard" closes without writing anything.
        penSketchOk(150);
        m_saveAnswer = SaveAnswer::Discard;
        QVERIFY(closing());
        QCOMPARE(asked, 3);
        QCOMPARE(m_saveQuestions.back().text, QStringLiteral("Save changes to kept.bmp before closing?"));
    }

    void openingOrDroppingOverChangesAsksFirst()
    {
        TBitmap32 next = test::randomPicture(9, 7, 4);
        FillAlpha(next, 255);
        const QString nextFile = savePicture(QStringLiteral("next.bmp"), next);
        auto drop = [this](const QString& file) {
            QMimeData data;
            data.setUrls({QUrl::fromLocalFile(file)});
            QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(m_main.get(), &enter);
            QDropEvent dropped(QPointF(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(m_main.get(), &dropped);
        };
        penSketchOk(100);
        const TBitmap32 sketch = doc().displayed();

        // "Cancel" keeps the picture and its changes, whichever way the file came.
        m_saveAnswer = SaveAnswer::Cancel;
        openFile(nextFile);
        QCOMPARE(m_saveQuestions.size(), std::size_t(1));
        drop(nextFile);
        QCOMPARE(m_saveQuestions.size(), std::size_t(2));
        m_main->openNamedPicture(nextFile);
        QCOMPARE(m_saveQuestions.size(), std::size_t(3));
        QVERIFY(doc().displayed() == sketch);
        QVERIFY(doc().modified());

        // A file that cannot be opened asks nothing: nothing would be lost.
        openFile(m_dir.filePath(QStringLiteral("notes.bmp")));
        QCOMPARE(m_saveQuestions.size(), std::size_t(3));

        // "Save" writes the changes, then opens.
        m_saveAnswer = SaveAnswer::Save;
        const QString sketchFile = m_dir.filePath(QStringLiteral("sketch.bmp"));
        m_main->setSaveFileChooser([&](int) { return SaveChoice{sketchFile, 2}; });
        drop(nextFile);
        QVERIFY(openPicture(sketchFile.toStdString()) == sketch);
        QVERIFY(doc().displayed() == next);
        QVERIFY(!doc().modified());

        // "Discard" opens without writing.
        penSketchOk(100);
        m_saveAnswer = SaveAnswer::Discard;
        QFile::remove(sketchFile);
        openFile(nextFile);
        QVERIFY(doc().displayed() == next);
        QVERIFY(!QFile::exists(sketchFile));
        QCOMPARE(m_saveQuestions.size(), std::size_t(5));
    }

    void anUnknownOrMissingFileGetsTheSorryBox()
    {
        const TBitmap32 before = doc().displayed();
        QFile text(m_dir.filePath(QStringLiteral("notes.png")));  // a name Qt knows, and no picture in it
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("not a picture");
        text.close();
        // A missing file, a link to nothing and a folder are told as what
        // they are, whatever the extension says; a file that is no picture
        // is not a valid format.
        QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("album.jpg")));
        QVERIFY(
            QFile::link(m_dir.filePath(QStringLiteral("gone.bmp")), m_dir.filePath(QStringLiteral("dangling.bmp"))));
        const QString folder = m_dir.filePath(QStringLiteral("album.jpg"));
        const std::pair<QString, QString> cases[] = {
            {text.fileName(), text.fileName() + QStringLiteral(" is not a valid format")},
            {m_dir.filePath(QStringLiteral("missing.jpg")),
             m_dir.filePath(QStringLiteral("missing.jpg")) + QStringLiteral(" does not exist.")},
            {m_dir.filePath(QStringLiteral("missing.png")),
             m_dir.filePath(QStringLiteral("missing.png")) + QStringLiteral(" does not exist.")},
            {m_dir.filePath(QStringLiteral("dangling.bmp")),
             m_dir.filePath(QStringLiteral("dangling.bmp")) + QStringLiteral(" does not exist.")},
            {folder, folder + QStringLiteral(" is a folder.")},
            {m_dir.path(), m_dir.path() + QStringLiteral(" is a folder.")},
        };
        for (const auto& [name, told] : cases) {
            m_messages.clear();
            openFile(name);
            QCOMPARE(m_messages.size(), std::size_t(1));
            QCOMPARE(m_messages[0].caption, QStringLiteral("Sorry"));
            QCOMPARE(m_messages[0].text, told);
            QVERIFY(m_messages[0].owner == nullptr);
        }
        QVERIFY(doc().displayed() == before);
        QCOMPARE(doc().undoCount(), 0);
    }

    void whatTheUserChoseComesBackInTheNextRun()
    {
        // The window tests run with configuration folders of their own.
        QVERIFY(!qEnvironmentVariableIsEmpty("XDG_CONFIG_HOME"));
        QVERIFY(QSettings(QStringLiteral("Plumora"), QStringLiteral("Plumora"))
                    .fileName()
                    .startsWith(qEnvironmentVariable("XDG_CONFIG_HOME")));
        QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("in"))));
        const QString opened = savePicture(QStringLiteral("in/open.bmp"), test::randomPicture(5, 4, 1));
        openFile(opened);
        QCOMPARE(m_main->openFolder(), m_dir.filePath(QStringLiteral("in")));
        QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("out"))));
        m_main->setSaveFileChooser([&](int) { return SaveChoice{m_dir.filePath(QStringLiteral("out/x")), 2}; });
        m_main->saveAction->trigger();
        QVERIFY(QFile::exists(m_dir.filePath(QStringLiteral("out/x.bmp"))));
        m_main->resize(700, 520);
        // The user moves the pen sketch's window away from where it opened.
        EffectDialog* pen = penDialog();
        m_main->effectAction("pen-sketch")->trigger();
        pen->move(pen->pos() + QPoint(-90, 140));
        const QPoint left = pen->pos();
        m_main->closetool();
        m_main->close();

        // The next run.
        std::unique_ptr<MainWindow> next = createWindows();
        next->restoreSettings();
        QCOMPARE(next->size(), QSize(700, 520));
        QCOMPARE(next->openFolder(), m_dir.filePath(QStringLiteral("in")));
        QCOMPARE(next->saveFolder(), m_dir.filePath(QStringLiteral("out")));
        int offered = 0;
        next->setSaveFileChooser([&](int type) {
            offered = type;
            return std::optional<SaveChoice>();
        });
        next->saveAction->trigger();
        QCOMPARE(offered, 2);  // BMP, chosen last time
        next->show();
        next->effectAction("pen-sketch")->trigger();
        QCOMPARE(next->effectDialog("pen-sketch")->pos(), left);
        // A window the user never moved still opens beside the main window.
        next->effectAction("dozadir")->trigger();
        const QRect main = next->frameGeometry();
        EffectDialog* dozadir = next->effectDialog("dozadir");
        QCOMPARE(dozadir->frameGeometry().left(), main.left() + main.width() - dozadir->frameGeometry().width() - 25);
    }

    void picturesOfQtsFormatsOpenToo()
    {
        // What plumora-cli reads, the desktop program opens: PNG, TIFF, PPM...
        for (const char* name : {"photo.png", "photo.tif", "photo.ppm"}) {
            const TBitmap32 picture = test::randomPicture(6, 5, 9);
            QImage image(6, 5, QImage::Format_RGB32);
            for (int y = 0; y < 5; ++y)
                std::memcpy(image.scanLine(y), picture.ScanLine(y), 6 * 4);
            const QString path = m_dir.filePath(QString::fromLatin1(name));
            QVERIFY(image.save(path));
            m_messages.clear();
            openFile(path);
            QVERIFY2(m_messages.empty(), name);
            QCOMPARE(doc().displayed().width(), 6);
            for (int y = 0; y < 5; ++y)
                for (int x = 0; x < 6; ++x)
                    QCOMPARE(test::pixelAt(doc().displayed(), x, y), test::pixelAt(picture, x, y) | 0xFF000000u);
            QCOMPARE(shownTitle(), QStringLiteral("Plumora v2.5 - ") + QString::fromLatin1(name));
        }
    }

    void aFailingCommandIsReportedAndChangesNothing()
    {
        // A damaged file: the reader's message, nothing opened.
        QFile damaged(m_dir.filePath(QStringLiteral("damaged.bmp")));
        QVERIFY(damaged.open(QIODevice::WriteOnly));
        damaged.write("BM this is no picture");
        damaged.close();
        penSketchOk(128);
        const TBitmap32 before = doc().displayed();
        openFile(damaged.fileName());
        QCOMPARE(m_messages.size(), std::size_t(1));
        QCOMPARE(m_messages[0].caption, QStringLiteral("Plumora"));
        QVERIFY(m_messages[0].text.contains(QStringLiteral("BMP")));
        QVERIFY(m_messages[0].text.startsWith(damaged.fileName()));  // which file it is about
        QVERIFY(doc().displayed() == before);
        QCOMPARE(doc().undoCount(), 1);

        // A picture one row high: the effect fails with the row error, and
        // neither the picture, the label nor the history changes.
        m_messages.clear();
        TBitmap32 row = test::randomPicture(9, 1, 3);
        FillAlpha(row, 255);
        openFile(savePicture(QStringLiteral("row.bmp"), row));
        penSketchOk(128);
        QCOMPARE(m_messages.size(), std::size_t(1));
        QCOMPARE(m_messages[0].text, QStringLiteral("Scan line index out of range"));
        QVERIFY(doc().displayed() == row);
        QCOMPARE(m_main->operationLabel->text(), QStringLiteral("Pen Sketch"));
        QCOMPARE(doc().undoCount(), 0);
        QVERIFY(!penControl<QToolButton>("Button2")->isEnabled());
    }

    void layoutFollowsTheWindowSize()
    {
        m_main->resize(800, 600);
        QTRY_COMPARE(m_main->scrollBox->width(), m_main->centralWidget()->width() - 5);
        QCOMPARE(m_main->scrollBox->height(), m_main->centralWidget()->height() - 52);
        QCOMPARE(m_main->toolBar->width(), m_main->centralWidget()->width() - 2);
        QCOMPARE(m_main->viewButtons->width(), m_main->toolBar->width() - m_main->mainButtons->width() - 32);
        QCOMPARE(m_main->operationLabel->pos(), QPoint(5, m_main->scrollBox->height() + 34));
    }

    void savingThroughTheDialogWritesTheChosenType()
    {
        penSketchOk(128);
        const TBitmap32 shown = doc().displayed();
        const QString base = m_dir.filePath(QStringLiteral("work"));
        const QString jpegType = QStringLiteral("JPEG picture (*.jpg *.jpeg)");
        const QString bmpType = QStringLiteral("Bitmap (*.bmp)");
        const QString wmfType = QStringLiteral("Windows metafile (*.wmf)");

        // The first save offers JPEG; a name without an extension takes the type's.
        whenDialogOpens([&](QFileDialog* d) {
            QCOMPARE(d->objectName(), QStringLiteral("SavePictureDialog1"));
            QCOMPARE(d->nameFilters(), (QStringList{jpegType, bmpType, wmfType, "PNG picture (*.png)",
                                                    "WebP picture (*.webp)", "TIFF picture (*.tif *.tiff)"}));
            QCOMPARE(d->selectedNameFilter(), jpegType);
            d->selectNameFilter(bmpType);
            d->selectFile(base);
            static_cast<QDialog*>(d)->accept();
        });
        QTest::mouseClick(m_main->saveButton, Qt::LeftButton);
        const QString bmp = m_dir.filePath(QStringLiteral("work.bmp"));
        QVERIFY(QFile::exists(bmp));
        QVERIFY(openPicture(bmp.toStdString()) == shown);

        // The next save starts on the type chosen last; a name typed
        // without an extension takes the type's.
        whenDialogOpens([&](QFileDialog* d) {
            QCOMPARE(d->selectedNameFilter(), bmpType);
            d->selectNameFilter(wmfType);
            d->selectFile(m_dir.filePath(QStringLiteral("work")));
            static_cast<QDialog*>(d)->accept();
        });
        m_main->saveAsAction->trigger();
        QVERIFY(openPicture(m_dir.filePath(QStringLiteral("work.wmf")).toStdString()) == shown);

        // An extension the user types chooses the type, whatever the dialog
        // was left on, and is the type offered next.
        whenDialogOpens([&](QFileDialog* d) {
            QCOMPARE(d->selectedNameFilter(), wmfType);
            d->selectFile(m_dir.filePath(QStringLiteral("Work.JPEG")));
            static_cast<QDialog*>(d)->accept();
        });
        m_main->saveAsAction->trigger();
        const QString jpeg = m_dir.filePath(QStringLiteral("Work.JPEG"));
        QVERIFY(readWholeFile(jpeg.toStdString()).at(0) == 0xFF);  // a JPEG's first byte, not a metafile's
        QCOMPARE(openPicture(jpeg.toStdString()).width(), shown.width());

        // Cancel writes nothing.
        whenDialogOpens([&](QFileDialog* d) {
            QCOMPARE(d->selectedNameFilter(), jpegType);
            d->reject();
        });
        m_main->saveAsAction->trigger();
        QCOMPARE(QDir(m_dir.path()).entryList({QStringLiteral("work.*")}, QDir::Files | QDir::CaseSensitive).size(), 2);
        QVERIFY(m_messages.empty());
    }

    // A metafile holds every pixel in three bytes: a large picture is asked
    // about before anything is written, its size worked out beforehand.
    void aMetafileOverFiftyMegabytesIsAskedAboutFirst()
    {
        const QString small = m_dir.filePath(QStringLiteral("small.wmf"));
        m_main->setSaveFileChooser([&](int) { return SaveChoice{small, 1}; });
        m_main->saveAction->trigger();
        QVERIFY(m_questions.empty());
        QVERIFY(QFile::exists(small));

        doc().open(TBitmap32(4300, 4300));  // 12900 x 4300 bytes of rows
        const QString large = m_dir.filePath(QStringLiteral("large.wmf"));
        m_main->setSaveFileChooser([&](int) { return SaveChoice{large, 3}; });
        m_main->saveAsAction->trigger();
        QCOMPARE(m_questions.size(), std::size_t(1));
        QCOMPARE(m_questions[0].text, QStringLiteral("The WMF will be about 55 MB. Save it anyway?"));
        QVERIFY(!QFile::exists(large));
        QVERIFY(m_messages.empty());
        // The same picture as a BMP is not asked about.
        m_main->setSaveFileChooser([&](int) { return SaveChoice{m_dir.filePath(QStringLiteral("large")), 2}; });
        m_main->saveAsAction->trigger();
        QCOMPARE(m_questions.size(), std::size_t(1));
        QVERIFY(QFile::exists(m_dir.filePath(QStringLiteral("large.bmp"))));
        // "Yes" writes it.
        m_answer = true;
        m_main->setSaveFileChooser([&](int) { return SaveChoice{large, 2}; });
        m_main->saveAsAction->trigger();
        QCOMPARE(m_questions.size(), std::size_t(2));
        QCOMPARE(QFileInfo(large).size(), qint64(wmfFileSize(4300, 4300)));
    }

    void replacingAFileIsAskedUnderTheNameReallyWritten()
    {
        // "holiday.photo" typed with the JPEG type writes holiday.jpg: the
        // question names that file, and "No" leaves it alone.
        const QString jpg = m_dir.filePath(QStringLiteral("holiday.jpg"));
        QFile old(jpg);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("an older holiday");
        old.close();
        m_main->setSaveFileChooser([&](int) { return SaveChoice{m_dir.filePath(QStringLiteral("holiday.photo")), 1}; });
        m_main->saveAsAction->trigger();
        QCOMPARE(m_questions.size(), std::size_t(1));
        QVERIFY(m_questions[0].text.startsWith(jpg));
        QCOMPARE(QFileInfo(jpg).size(), qint64(16));
        QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("holiday.photo"))));
        // "Yes" replaces it; a new name asks nothing.
        m_answer = true;
        m_main->saveAsAction->trigger();
        QVERIFY(openPicture(jpg.toStdString()).width() > 0);
        m_main->setSaveFileChooser([&](int) { return SaveChoice{m_dir.filePath(QStringLiteral("new.jpg")), 1}; });
        m_main->saveAsAction->trigger();
        QCOMPARE(m_questions.size(), std::size_t(2));
        QVERIFY(QFile::exists(m_dir.filePath(QStringLiteral("new.jpg"))));
    }

    // Save As (Ctrl+Shift+S) suggests the opened picture's name with the
    // last operation's label, beside it, as the type chosen last.
    void saveAsSuggestsANameBesideTheOpenedPicture()
    {
        QCOMPARE(m_main->suggestedSaveName(), QStringLiteral("picture.jpg"));  // the built-in picture, nothing done
        QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("album"))));
        TBitmap32 beach = test::randomPicture(12, 8, 3);
        FillAlpha(beach, 255);
        openFile(savePicture(QStringLiteral("album/beach.day.bmp"), beach));
        penSketchOk(120);
        const QString suggested = m_dir.filePath(QStringLiteral("album/beach.day-pen-sketch.jpg"));
        QCOMPARE(m_main->suggestedSaveName(), suggested);

        whenDialogOpens([&](QFileDialog* d) {
            QCOMPARE(QDir(d->directory()).absolutePath(), m_dir.filePath(QStringLiteral("album")));
            auto* name = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            QVERIFY(name);
            QCOMPARE(name->text(), QStringLiteral("beach.day-pen-sketch.jpg"));
            // Another type in the list changes the extension suggested.
            d->selectNameFilter(QStringLiteral("PNG picture (*.png)"));
            emit d->filterSelected(QStringLiteral("PNG picture (*.png)"));
            QCOMPARE(name->text(), QStringLiteral("beach.day-pen-sketch.png"));
            static_cast<QDialog*>(d)->accept();
        });
        m_main->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_main.get()));
        QTest::keyClick(m_main.get(), Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
        const QString png = m_dir.filePath(QStringLiteral("album/beach.day-pen-sketch.png"));
        QVERIFY(readWholeFile(png.toStdString()).at(1) == 'P');  // "\x89PNG"
        QVERIFY(readAnyPicture(png.toStdString()) == doc().displayed());
        // The suggestion keeps to the opened picture, in the type saved last;
        // a label that names no operation adds nothing.
        QTest::mouseClick(m_main->undoButton, Qt::LeftButton);
        QCOMPARE(m_main->suggestedSaveName(), m_dir.filePath(QStringLiteral("album/beach.day.png")));
    }

    // Save (Ctrl+S) writes back to the name saved last without asking;
    // another picture opened is saved under a new name first.
    void tiffAndWebPAreWrittenByTheirExtension()
    {
        penSketchOk(128);
        const TBitmap32 shown = doc().displayed();
        for (const char* file : {"work.tif", "work.webp"}) {
            whenDialogOpens([&](QFileDialog* d) {
                d->selectFile(m_dir.filePath(QString::fromLatin1(file)));
                static_cast<QDialog*>(d)->accept();
            });
            m_main->saveAsAction->trigger();
        }
        // TIFF keeps every pixel; WebP is a lossy WebP at the quality chosen.
        QVERIFY(readAnyPicture(m_dir.filePath(QStringLiteral("work.tif")).toStdString()) == shown);
        QFile webp(m_dir.filePath(QStringLiteral("work.webp")));
        QVERIFY(webp.open(QIODevice::ReadOnly));
        const QByteArray head = webp.read(16);
        QVERIFY(head.startsWith("RIFF") && head.mid(8, 4) == "WEBP");
        QVERIFY(m_messages.empty());
    }

    void saveWritesBackToTheNameSavedLast()
    {
        int asked = 0;
        const QString name = m_dir.filePath(QStringLiteral("again.bmp"));
        m_main->setSaveFileChooser([&](int) {
            ++asked;
            return SaveChoice{name, 2};
        });
        penSketchOk(100);
        QTest::mouseClick(m_main->saveButton, Qt::LeftButton);  // the first time it asks
        QCOMPARE(asked, 1);
        penSketchOk(200);
        QVERIFY(doc().modified());
        m_main->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_main.get()));
        QTest::keyClick(m_main.get(), Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(asked, 1);
        QVERIFY(m_questions.empty());  // not even whether to replace its own file
        QVERIFY(openPicture(name.toStdString()) == doc().displayed());
        QVERIFY(!doc().modified());
        QCOMPARE(m_main->savedFile(), QFile::encodeName(name).toStdString());

        openRandomPicture(9, 9, 4);
        m_main->saveAction->trigger();
        QCOMPARE(asked, 2);
    }

    // The JPEG quality: a box in the save dialog, 1 to 100, 90 at first,
    // the one chosen kept for the next saves and the next run.
    void theJpegQualityIsChosenInTheDialogAndRemembered()
    {
        penSketchOk(100);
        const QString low = m_dir.filePath(QStringLiteral("low.jpg"));
        whenDialogOpens([&](QFileDialog* d) {
            auto* quality = d->findChild<QSpinBox*>(QStringLiteral("JpegQuality"));
            QVERIFY(quality);
            QCOMPARE(quality->value(), 90);
            QCOMPARE(quality->minimum(), 1);
            QCOMPARE(quality->maximum(), 100);
            quality->setValue(30);
            d->selectFile(low);
            static_cast<QDialog*>(d)->accept();
        });
        m_main->saveAsAction->trigger();
        QVERIFY(readWholeFile(low.toStdString()) == encodeJpeg(doc().displayed(), 30));
        QCOMPARE(m_main->jpegQuality(), 30);
        // Save writes back at that quality.
        penSketchOk(50);
        m_main->saveAction->trigger();
        QVERIFY(readWholeFile(low.toStdString()) == encodeJpeg(doc().displayed(), 30));
        whenDialogOpens([&](QFileDialog* d) {
            QCOMPARE(d->findChild<QSpinBox*>(QStringLiteral("JpegQuality"))->value(), 30);
            d->reject();
        });
        m_main->saveAsAction->trigger();

        std::unique_ptr<MainWindow> next = createWindows();
        QCOMPARE(next->jpegQuality(), 90);
        next->restoreSettings();
        QCOMPARE(next->jpegQuality(), 30);
    }

    // The history's memory budget is a setting without a dialog; a history
    // file that a crashed run left in the cache folder goes at start.
    void theHistoryBudgetIsASettingAndAStaleHistoryFileGoesAtStart()
    {
        const std::filesystem::path cache = HistoryStorage::defaultFolder();
        QVERIFY(!cache.empty());
        std::filesystem::create_directories(cache);
        const pid_t child = fork();
        QVERIFY(child >= 0);
        if (child == 0)
            _exit(0);
        QCOMPARE(waitpid(child, nullptr, 0), child);
        const std::filesystem::path stale = cache / ("history-" + std::to_string(child) + "-1.bin");
        std::ofstream(stale) << "steps of a run that crashed";
        QSettings(QStringLiteral("Plumora"), QStringLiteral("Plumora"))
            .setValue(QStringLiteral("History/memoryBudgetMB"), 3);

        std::unique_ptr<MainWindow> next = createWindows();
        QCOMPARE(next->document().historyStorage().memoryBudget, HistoryStorage::defaultBudget());
        next->restoreSettings();
        QCOMPARE(next->document().historyStorage().memoryBudget, std::size_t(3) << 20);
        QCOMPARE(next->document().historyStorage().folder, cache);
        QVERIFY(!std::filesystem::exists(stale));
        QSettings(QStringLiteral("Plumora"), QStringLiteral("Plumora")).remove(QStringLiteral("History"));
    }

    void aFailedSaveNamesTheFileAndKeepsTheOldOne()
    {
        const QString nowhere = m_dir.filePath(QStringLiteral("no/such/folder/x.bmp"));
        m_main->setSaveFileChooser([&](int) { return SaveChoice{nowhere, 2}; });
        m_main->saveAction->trigger();
        QCOMPARE(m_messages.size(), std::size_t(1));
        QVERIFY(m_messages[0].text.contains(nowhere));
        QVERIFY(!QFile::exists(nowhere));
    }

    // The preview is read off the GUI thread: while it is read the pane shows
    // "...", and when the selection moves on before a preview arrives, only
    // the latest selection's preview is shown.
    void openingThroughTheDialogPreviewsTheSelectedPicture()
    {
        TBitmap32 picture = test::randomPicture(30, 20, 11);
        FillAlpha(picture, 255);
        const QString path = savePicture(QStringLiteral("small.bmp"), picture);
        const QString other = savePicture(QStringLiteral("other.bmp"), test::randomPicture(50, 10, 12));
        m_main->setOpenFileChooser([this] { return runOpenPictureDialog(m_main.get()); });
        whenDialogOpens([&](QFileDialog* d) {
            QCOMPARE(d->objectName(), QStringLiteral("OpenPictureDialog1"));
            QVERIFY(d->nameFilters().constFirst().contains(QStringLiteral("*.gif")));
            QVERIFY(d->nameFilters().join(u' ').contains(QStringLiteral("*.png")));  // previewed only
            d->setDirectory(m_dir.path());
            auto* size = d->findChild<QLabel*>(QStringLiteral("PreviewSize"));
            auto* shown = d->findChild<QLabel*>(QStringLiteral("PreviewPicture"));
            QVERIFY(size && shown);

            emit d->currentChanged(other);
            QCOMPARE(size->text(), QStringLiteral("..."));  // being read, the dialog free meanwhile
            d->selectFile(path);
            emit d->currentChanged(path);
            QCOMPARE(size->text(), QStringLiteral("..."));
            QTRY_COMPARE(size->text(), QStringLiteral("30 x 20 pixels"));
            QVERIFY(!shown->pixmap().isNull());
            // The first file's preview, read or skipped, never replaces it.
            QThreadPool::globalInstance()->waitForDone();
            QCoreApplication::processEvents();
            QCOMPARE(size->text(), QStringLiteral("30 x 20 pixels"));

            // A folder shows nothing.
            emit d->currentChanged(m_dir.path());
            QCOMPARE(size->text(), QString());
            QVERIFY(shown->pixmap().isNull());
            d->selectFile(path);
            static_cast<QDialog*>(d)->accept();
        });
        m_main->openAction->trigger();
        QVERIFY(doc().displayed() == picture);
    }

    // A phone's photographs are listed, previewed upright (the HEIC holds
    // Exif orientation 6: stored 67 x 45, shown 45 x 67) and opened upright,
    // also under a name that hides what they are.
    void phonePhotographsAreListedPreviewedAndOpened()
    {
        const QString photos = QStringLiteral(PLUMORA_PHOTOS);
        const QString heic = m_dir.filePath(QStringLiteral("phone.heic"));
        const QString hidden = m_dir.filePath(QStringLiteral("phone.jpg"));
        QVERIFY(QFile::copy(photos + QStringLiteral("/exif6.heic"), heic));
        QVERIFY(QFile::copy(photos + QStringLiteral("/photo.avif"), hidden));
        const TBitmap32 turned = readAnyPicture(heic.toStdString());
        QCOMPARE(turned.width(), 45);
        m_main->setOpenFileChooser([this] { return runOpenPictureDialog(m_main.get()); });
        whenDialogOpens([&](QFileDialog* d) {
            const QString all = d->nameFilters().constFirst();
            for (const char* pattern : {"*.heic", "*.heif", "*.avif", "*.jxl", "*.webp"})
                QVERIFY2(all.contains(QLatin1String(pattern)), pattern);
            d->setDirectory(m_dir.path());
            auto* size = d->findChild<QLabel*>(QStringLiteral("PreviewSize"));
            auto* shown = d->findChild<QLabel*>(QStringLiteral("PreviewPicture"));
            emit d->currentChanged(hidden);
            QTRY_COMPARE(size->text(), QStringLiteral("67 x 45 pixels"));
            d->selectFile(heic);
            emit d->currentChanged(heic);
            QTRY_COMPARE(size->text(), QStringLiteral("45 x 67 pixels"));
            QVERIFY(!shown->pixmap().isNull());
            d->reject();
        });
        m_main->openAction->trigger();
        openFile(heic);
        QVERIFY(m_messages.empty());
        QVERIFY(doc().displayed() == turned);
        openFile(hidden);
        QVERIFY(m_messages.empty());
        QVERIFY(doc().displayed() == readAnyPicture((QStringLiteral(PLUMORA_PHOTOS) + "/photo.avif").toStdString()));
    }

    // The opened photograph's profile and camera data are saved with its
    // picture, whatever was done to it: a turn, an effect. Read back with
    // our own parser: the profile byte for byte, the Exif block upright,
    // without thumbnail, and with the location only when "Keep location"
    // is ticked in Save As (off each time it opens).
    void savingKeepsTheOpenedPhotographsProfileAndCameraData()
    {
        const std::string camera = std::string(PLUMORA_PHOTOS) + "/camera.jpg";
        const PictureMetadata opened = readPictureMetadata(camera);
        openFile(QString::fromStdString(camera));
        QVERIFY(m_messages.empty());
        QVERIFY(m_main->pictureMetadata() == opened);
        m_main->rotateClockwiseClicked();  // 45 x 67 opened, 67 x 45 now
        penSketchOk(120);
        const QString sketch = m_dir.filePath(QStringLiteral("sketch.jpg"));
        whenDialogOpens([&](QFileDialog* d) {
            auto* keep = d->findChild<QCheckBox*>(QStringLiteral("KeepLocation"));
            QVERIFY(keep);
            QCOMPARE(keep->text(), QStringLiteral("&Keep location"));
            QVERIFY(!keep->isChecked());
            d->selectFile(sketch);
            static_cast<QDialog*>(d)->accept();
        });
        m_main->saveAsAction->trigger();
        const PictureMetadata saved = readPictureMetadata(sketch.toStdString());
        QVERIFY(saved.icc == readWholeFile(std::string(PLUMORA_PHOTOS) + "/p3.icc"));
        QVERIFY(saved.exif == exifForWriting(opened.exif, false, 67, 45));
        const std::optional<ExifData> exif = parseExif(saved.exif.data(), saved.exif.size());
        QVERIFY(exif);
        QCOMPARE(exifNumber(exif->main, 0x0112), std::optional<std::uint32_t>(1));
        QVERIFY(exif->location.empty());
        QCOMPARE(readAnyPicture(sketch.toStdString()).width(), 67);  // not turned again

        // Ticked: the location is kept, by Save As and by Save after it.
        const QString located = m_dir.filePath(QStringLiteral("located.png"));
        whenDialogOpens([&](QFileDialog* d) {
            auto* keep = d->findChild<QCheckBox*>(QStringLiteral("KeepLocation"));
            QVERIFY(!keep->isChecked());
            keep->setChecked(true);
            d->selectFile(located);
            static_cast<QDialog*>(d)->accept();
        });
        m_main->saveAsAction->trigger();
        QVERIFY(readPictureMetadata(located.toStdString()).exif == exifForWriting(opened.exif, true, 67, 45));
        penSketchOk(60);
        m_main->saveAction->trigger();
        const PictureMetadata again = readPictureMetadata(located.toStdString());
        QVERIFY(again.icc == opened.icc);
        QVERIFY(again.exif == exifForWriting(opened.exif, true, 67, 45));

        // Another picture brings its own (here none): nothing is carried over.
        openRandomPicture(9, 9, 4);
        QVERIFY(m_main->pictureMetadata().empty());
    }

    // A Display P3 photograph is shown through its profile: every pixel on
    // screen is what lcms2's own conversion to sRGB gives for the pixel
    // under it, at any zoom, while the document keeps the file's values. One
    // transform serves every picture with the same profile; a picture
    // without one is shown as it is.
    void aDisplayP3PhotographIsShownThroughItsProfile()
    {
        const std::string photos = PLUMORA_PHOTOS;
        const std::vector<std::uint8_t> p3 = readWholeFile(photos + "/p3.icc");
        cmsHPROFILE from = cmsOpenProfileFromMem(p3.data(), cmsUInt32Number(p3.size()));
        cmsHPROFILE screen = cmsCreate_sRGBProfile();
        cmsHTRANSFORM lcms = cmsCreateTransform(from, TYPE_BGRA_8, screen, TYPE_BGRA_8, INTENT_PERCEPTUAL, 0);
        cmsCloseProfile(from);
        cmsCloseProfile(screen);
        QVERIFY(lcms);
        const auto done = qScopeGuard([&] { cmsDeleteTransform(lcms); });

        openFile(QString::fromStdString(photos + "/p3.png"));
        QVERIFY(m_messages.empty());
        const TBitmap32 values = readAnyPicture(photos + "/p3.png");
        QVERIFY(doc().displayed() == values);  // never converted
        TBitmap32 want = values;
        cmsDoTransform(lcms, values.bits(), want.bits(), cmsUInt32Number(values.width() * values.height()));

        const auto shownMatches = [&](const TBitmap32& expected) {
            const QImage shown = m_main->pictureView->grab().toImage().convertToFormat(QImage::Format_RGB32);
            const double sx = double(shown.width()) / expected.width(), sy = double(shown.height()) / expected.height();
            int differing = 0;
            for (int y = 0; y < expected.height(); ++y)
                for (int x = 0; x < expected.width(); ++x) {
                    const QRgb on = shown.pixel(int((x + 0.5) * sx), int((y + 0.5) * sy));
                    const std::uint8_t* p = expected.ScanLine(y) + 4 * x;
                    if (qRed(on) != p[kRed] || qGreen(on) != p[kGreen] || qBlue(on) != p[kBlue])
                        ++differing;
                }
            return differing;
        };
        QCOMPARE(m_main->pictureView->size(), QSize(67, 45));
        QCOMPARE(shownMatches(want), 0);
        QVERIFY(shownMatches(values) > 1000);  // P3's values are not sRGB's: the conversion shows
        m_main->zoomInClicked();
        m_main->zoomInClicked();
        QVERIFY(m_main->pictureView->width() > 67);
        QCOMPARE(shownMatches(want), 0);

        const int made = displayTransformsMade();
        openFile(QString::fromStdString(photos + "/p3.heic"));  // the same profile
        QCOMPARE(displayTransformsMade(), made);
        openFile(QString::fromStdString(photos + "/source.png"));
        QVERIFY(m_main->pictureMetadata().icc.empty());
        QCOMPARE(shownMatches(doc().displayed()), 0);
    }

    void anUnreadableIconIsToldThenRefused()
    {
        QFile bad(m_dir.filePath(QStringLiteral("broken.ico")));
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write(QByteArray("\0\0\1\0\1\0garbage", 14));
        bad.close();
        const TBitmap32 before = doc().displayed();
        openFile(bad.fileName());
        QCOMPARE(m_messages.size(), std::size_t(2));
        QCOMPARE(m_messages[0].caption, QStringLiteral("Exit"));
        QVERIFY(
            m_messages[0].text.startsWith(QStringLiteral("Input picture") + bad.fileName() + QStringLiteral("Error.")));
        QVERIFY(m_messages[0].text.size() >
                (QStringLiteral("Input picture") + bad.fileName() + QStringLiteral("Error.")).size());
        QCOMPARE(m_messages[1].caption, QStringLiteral("Sorry"));
        QVERIFY(doc().displayed() == before);
    }

    void helpMenuShowsTheAboutBoxAndOpensTheWebPage()
    {
        m_main->aboutAction->trigger();
        auto* about = m_main->findChild<QWidget*>(QStringLiteral("TAboutus"));
        QVERIFY(about->isVisible());
        QCOMPARE(about->windowTitle(), QStringLiteral("About Plumora"));

        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");
        m_main->onlineAction->trigger();
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QCOMPARE(catcher.urls, (QList<QUrl>{QUrl(QString::fromLatin1(product::kWebPage))}));
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
