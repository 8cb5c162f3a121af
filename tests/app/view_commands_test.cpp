// Zoom, panning, quarter turns, image size and printing, driven through the
// real buttons, wheel, mouse and dialog on the offscreen platform.

#include "app/application.h"
#include "app/busy_work.h"
#include "app/desktop_services.h"
#include "app/image_size_dialog.h"
#include "app/main_window.h"
#include "app/messages.h"
#include "app/picture_view.h"
#include "raster/geometry.h"
#include "formats/picture_file.h"
#include "support/main_window_fixture.h"
#include "support/pictures.h"

#include <QCheckBox>
#include <QDir>
#include <QStandardPaths>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QWheelEvent>

using namespace plumora;

class ViewCommandsTest : public QObject, protected test::MainWindowFixture {
    Q_OBJECT

private:
    ImageSizeDialog* sizeDialog() { return m_main->findChild<ImageSizeDialog*>(QStringLiteral("TImage_size")); }

    void wheel(QWidget* target, int delta)
    {
        QWheelEvent event(QPointF(5, 5), target->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, delta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(target, &event);
    }

    void mouse(QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons buttons, QPoint at)
    {
        QMouseEvent event(type, QPointF(at), m_main->pictureView->mapToGlobal(QPointF(at)), button, buttons,
                          Qt::NoModifier);
        QApplication::sendEvent(m_main->pictureView, &event);
    }

    void typeInto(QLineEdit* edit, const QString& text)
    {
        edit->clear();
        QTest::keyClicks(edit, text);
    }

private slots:
    void init()
    {
        QLocale::setDefault(QLocale::c());
        openWindows();
    }

    void cleanup() { closeWindows(); }

    void zoomButtonsScaleTheControlAndWriteTheLabel()
    {
        for (int i = 0; i < 3; ++i)
            QTest::mouseClick(m_main->zoomInButton, Qt::LeftButton);
        QCOMPARE(doc().zoomFactor(), 195.3125);
        QCOMPARE(m_main->zoomLabel->text(), QStringLiteral("195.3%"));
        QCOMPARE(m_main->pictureView->size(), QSize(1018, 676));
        // The control keeps its place while it grows.
        m_main->scrollBox->horizontalScrollBar()->setValue(100);
        QTest::mouseClick(m_main->zoomOutButton, Qt::LeftButton);
        QCOMPARE(m_main->zoomLabel->text(), QStringLiteral("156.3%"));
        QCOMPARE(m_main->scrollBox->horizontalScrollBar()->value(), 100);
        QTest::mouseClick(m_main->zoomInButton, Qt::LeftButton);

        // A locale with a decimal comma shows one.
        QLocale::setDefault(QLocale(QLocale::German));
        QTest::mouseClick(m_main->zoomOutButton, Qt::LeftButton);
        QCOMPARE(m_main->zoomLabel->text(), QStringLiteral("156,3%"));
    }

    void thirtyFiveStepsOutShowNothingAndComeBack()
    {
        for (int i = 0; i < 35; ++i)
            QTest::mouseClick(m_main->zoomOutButton, Qt::LeftButton);
        QCOMPARE(m_main->zoomLabel->text(), QStringLiteral("0.0%"));
        QCOMPARE(m_main->pictureView->size(), QSize(0, 0));
        for (int i = 0; i < 35; ++i)
            QTest::mouseClick(m_main->zoomInButton, Qt::LeftButton);
        QCOMPARE(m_main->pictureView->size(), QSize(521, 346));
    }

    void theWheelZoomsOnlyOverThePictureArea()
    {
        wheel(m_main->pictureView, 120);  // away from the user: out
        QCOMPARE(m_main->zoomLabel->text(), QStringLiteral("80.0%"));
        wheel(m_main->scrollBox->viewport(), -120);  // toward: in
        QCOMPARE(m_main->zoomLabel->text(), QStringLiteral("100.0%"));
        wheel(m_main->toolBar, 120);  // the tool bar: nothing
        wheel(m_main->openButton, -120);
        QCOMPARE(m_main->zoomLabel->text(), QStringLiteral("100.0%"));
        // Zooming by the wheel does not scroll.
        for (int i = 0; i < 4; ++i)
            wheel(m_main->pictureView, -120);
        QCOMPARE(m_main->scrollBox->verticalScrollBar()->value(), 0);
    }

    void aRightDragPansAndARightClickOpensTheMenu()
    {
        for (int i = 0; i < 4; ++i)
            QTest::mouseClick(m_main->zoomInButton, Qt::LeftButton);  // 244 %: room to pan
        QScrollBar* h = m_main->scrollBox->horizontalScrollBar();
        QScrollBar* v = m_main->scrollBox->verticalScrollBar();
        QVERIFY(h->maximum() > 100);

        mouse(QEvent::MouseButtonPress, Qt::RightButton, Qt::RightButton, {200, 150});
        QVERIFY(m_main->pictureView->testAttribute(Qt::WA_SetCursor));
        mouse(QEvent::MouseMove, Qt::NoButton, Qt::RightButton, {160, 130});
        QCOMPARE(h->value(), 40);
        QCOMPARE(v->value(), 20);
        mouse(QEvent::MouseButtonRelease, Qt::RightButton, Qt::NoButton, {160, 130});
        QVERIFY(!m_main->pictureMenu->isVisible());  // it panned: no menu
        QVERIFY(!m_main->pictureView->testAttribute(Qt::WA_SetCursor));

        // Left drags do nothing.
        mouse(QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton, {200, 150});
        mouse(QEvent::MouseMove, Qt::NoButton, Qt::LeftButton, {100, 100});
        mouse(QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton, {100, 100});
        QCOMPARE(h->value(), 40);

        // A right click without a scroll change opens the menu.
        mouse(QEvent::MouseButtonPress, Qt::RightButton, Qt::RightButton, {200, 150});
        mouse(QEvent::MouseButtonRelease, Qt::RightButton, Qt::NoButton, {200, 150});
        QTRY_VERIFY(m_main->pictureMenu->isVisible());
        m_main->pictureMenu->close();
    }

    void rotationTurnsBothPicturesExactlyAndClearsTheHistory()
    {
        m_main->effectAction("pen-sketch")->trigger();
        QTest::mouseClick(m_main->findChild<QWidget*>(QStringLiteral("TPen_Sketch"))
                              ->findChild<QPushButton*>(QStringLiteral("Button1")),
                          Qt::LeftButton);
        QVERIFY(m_main->undoButton->isEnabled());
        const TBitmap32 shown = doc().displayed();
        const TBitmap32 source = doc().source();
        QTest::mouseClick(m_main->rotateClockwiseButton, Qt::LeftButton);
        QVERIFY(doc().displayed() == rotateClockwise(shown));
        QVERIFY(doc().source() == rotateClockwise(source));
        QCOMPARE(m_main->pictureView->size(), QSize(346, 521));
        QVERIFY(!m_main->undoButton->isEnabled() && !m_main->redoButton->isEnabled());
        QVERIFY(m_main->findChild<QWidget*>(QStringLiteral("TPen_Sketch"))->isVisible());  // dialogs stay open
        QTest::mouseClick(m_main->rotateAnticlockwiseButton, Qt::LeftButton);
        QVERIFY(doc().displayed() == shown);
    }

    void imageSizeKeepsProportionsRoundsHalvesToEvenAndResizes()
    {
        m_main->imageSizeAction->trigger();
        ImageSizeDialog* d = sizeDialog();
        QVERIFY(d->isVisible());
        QCOMPARE(d->widthEdit->text(), QStringLiteral("521"));
        QCOMPARE(d->heightEdit->text(), QStringLiteral("346"));
        QVERIFY(!(d->windowFlags() & Qt::WindowCloseButtonHint));

        typeInto(d->widthEdit, QStringLiteral("400"));
        QCOMPARE(d->heightEdit->text(), QStringLiteral("266"));

        d->widthEdit->setText(QStringLiteral("521"));
        d->heightEdit->setText(QStringLiteral("346"));
        QTest::mouseClick(d->shrinkButton, Qt::LeftButton);
        QCOMPARE(d->widthEdit->text() + "x" + d->heightEdit->text(), QStringLiteral("417x277"));
        QTest::mouseClick(d->enlargeButton, Qt::LeftButton);
        QCOMPARE(d->widthEdit->text() + "x" + d->heightEdit->text(), QStringLiteral("521x346"));
        d->widthEdit->setText(QStringLiteral("2"));
        d->heightEdit->setText(QStringLiteral("2"));
        QTest::mouseClick(d->enlargeButton, Qt::LeftButton);
        QCOMPARE(d->widthEdit->text() + "x" + d->heightEdit->text(), QStringLiteral("2x2"));

        // Unchecked: the fields are independent; Enter applies.
        d->keepProportionsBox->setChecked(false);
        typeInto(d->widthEdit, QStringLiteral("300"));
        typeInto(d->heightEdit, QStringLiteral("300"));
        const TBitmap32 before = doc().displayed();
        QTest::keyClick(d->heightEdit, Qt::Key_Return);
        QCOMPARE(doc().displayed().width(), 300);
        QCOMPARE(doc().displayed().height(), 300);
        QCOMPARE(doc().source().width(), 300);
        QVERIFY(doc().displayed() == stretchTo(before, 300, 300));
        QVERIFY(!d->isVisible());
        QVERIFY(m_main->undoButton->isEnabled());
        QCOMPARE(m_main->pictureView->size(), QSize(300, 300));

        QTest::mouseClick(m_main->undoButton, Qt::LeftButton);
        QCOMPARE(doc().displayed().width(), 521);
        QCOMPARE(doc().source().width(), 521);
        QCOMPARE(doc().opened().width(), 521);
    }

    void imageSizeRefusesWhatIsNotAPositiveWholeNumber()
    {
        m_main->imageSizeButton->click();
        ImageSizeDialog* d = sizeDialog();
        d->keepProportionsBox->setChecked(false);
        for (const char* bad : {"0", "-5", "", "12a", " 7"}) {
            m_messages.clear();
            d->widthEdit->setText(QString::fromLatin1(bad));
            d->heightEdit->setText(QStringLiteral("100"));
            QTest::mouseClick(d->okButton, Qt::LeftButton);
            QCOMPARE(m_messages.size(), std::size_t(1));
            QCOMPARE(m_messages[0].text, QStringLiteral("Please input a valid integer value."));
            QVERIFY(d->isVisible());
        }
        m_messages.clear();
        d->widthEdit->setText(QStringLiteral("99999999999"));
        QTest::mouseClick(d->okButton, Qt::LeftButton);
        QCOMPARE(m_messages.size(), std::size_t(1));
        QCOMPARE(m_messages[0].text, QStringLiteral("'99999999999' is not a valid integer value"));
        QCOMPARE(doc().displayed().width(), 521);
        QCOMPARE(doc().undoCount(), 0);
        QTest::mouseClick(d->cancelButton, Qt::LeftButton);
        QVERIFY(!d->isVisible());
    }

    void wallpaperTellsOfSuccessOnlyWhenADesktopTookThePicture()
    {
        QTemporaryDir dir;
        const QByteArray path = qgetenv("PATH");
        const auto restore = qScopeGuard([&] {
            setProgramFileFolder(QString());
            qputenv("PATH", path);
        });
        qputenv("PATH", dir.path().toLocal8Bit());  // no desktop command can run
        qputenv("XDG_CURRENT_DESKTOP", "none");
        QStandardPaths::setTestModeEnabled(true);
        setProgramFileFolder(dir.path());
        QTest::mouseClick(m_main->wallpaperButton, Qt::LeftButton);
        QCOMPARE(m_messages.size(), std::size_t(1));
        QCOMPARE(m_messages[0].text,
                 QStringLiteral("The picture was saved as %1, but no desktop could be told to show it.")
                     .arg(dir.filePath(QStringLiteral("wallpaper.bmp"))));
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("wallpaper.bmp"))));

        // A window manager's background setter takes it.
        QFile feh(dir.filePath(QStringLiteral("feh")));
        QVERIFY(feh.open(QIODevice::WriteOnly));
        feh.write("#!/bin/sh\nexit 0\n");
        feh.close();
        feh.setPermissions(feh.permissions() | QFileDevice::ExeOwner);
        m_messages.clear();
        QTest::mouseClick(m_main->wallpaperButton, Qt::LeftButton);
        QCOMPARE(m_messages.size(), std::size_t(1));
        QCOMPARE(m_messages[0].caption, QStringLiteral("ok!"));
        QCOMPARE(m_messages[0].text, QStringLiteral("Set as wallpaper successful!"));

        // A folder that cannot take the file: the error, and no success box.
        m_messages.clear();
        QFile::remove(dir.filePath(QStringLiteral("wallpaper.bmp")));
        QDir(dir.path()).mkdir(QStringLiteral("wallpaper.bmp"));  // a folder where the file should go
        QTest::mouseClick(m_main->wallpaperButton, Qt::LeftButton);
        QCOMPARE(m_messages.size(), std::size_t(1));
        QVERIFY(m_messages[0].text.contains(QStringLiteral("wallpaper.bmp")));
    }

    void wallpaperAndMailWriteThePictureWhileTheWindowsKeepAnswering()
    {
        // A big picture takes seconds to encode: the long-work runner does it
        // on a thread of its own while the windows keep answering. The
        // runner's event loop runs what was posted before the click, so a
        // posted check sees the runner busy; written in place, it would run
        // only after the command had ended.
        QTemporaryDir dir;
        const QByteArray path = qgetenv("PATH");
        const auto restore = qScopeGuard([&] {
            setProgramFileFolder(QString());
            qputenv("PATH", path);
        });
        for (const char* name : {"feh", "xdg-email"}) {
            QFile command(dir.filePath(QString::fromLatin1(name)));
            QVERIFY(command.open(QIODevice::WriteOnly));
            command.write("#!/bin/sh\nexit 0\n");
            command.close();
            QVERIFY(command.setPermissions(command.permissions() | QFileDevice::ExeOwner));
        }
        qputenv("PATH", dir.path().toLocal8Bit());
        qputenv("XDG_CURRENT_DESKTOP", "none");
        QStandardPaths::setTestModeEnabled(true);
        setProgramFileFolder(dir.path());
        const TBitmap32 picture = openRandomPicture(300, 200, 11);

        for (QToolButton* button : {m_main->wallpaperButton, m_main->mailButton}) {
            m_messages.clear();
            int checks = 0;
            bool busy = false;
            QTimer::singleShot(0, this, [&] {
                ++checks;
                busy = m_main->busyWork().isBusy();
            });
            QTest::mouseClick(button, Qt::LeftButton);
            QCOMPARE(checks, 1);
            QVERIFY(busy);
            QVERIFY(!m_main->busyWork().isBusy());
            // What is written and told is as before: the wallpaper's success,
            // and nothing when the mail program took the message.
            if (button == m_main->wallpaperButton) {
                QCOMPARE(m_messages.size(), std::size_t(1));
                QCOMPARE(m_messages[0].caption, QStringLiteral("ok!"));
                QCOMPARE(m_messages[0].text, QStringLiteral("Set as wallpaper successful!"));
            } else {
                QCOMPARE(m_messages.size(), std::size_t(0));
            }
        }
        QVERIFY(readAnyPicture(dir.filePath(QStringLiteral("wallpaper.bmp")).toStdString()) == picture);
        QCOMPARE(readAnyPicture(dir.filePath(QStringLiteral("mywork.jpg")).toStdString()).width(), 300);
    }

    void mailHandsThePictureToTheMailProgram()
    {
        QTemporaryDir dir;
        const QByteArray path = qgetenv("PATH");
        // A stand-in mail program that records what it was given.
        QFile script(dir.filePath(QStringLiteral("xdg-email")));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"${0%/*}/args\"\n");
        script.close();
        script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
        qputenv("PATH", dir.path().toLocal8Bit());
        setProgramFileFolder(dir.path());
        QTest::mouseClick(m_main->mailButton, Qt::LeftButton);
        setProgramFileFolder(QString());
        qputenv("PATH", path);

        QVERIFY(m_messages.empty());  // the mail program took it: nothing to tell
        const QString picture = dir.filePath(QStringLiteral("mywork.jpg"));
        QCOMPARE(openPicture(picture.toStdString()).width(), 521);
        QFile args(dir.filePath(QStringLiteral("args")));
        QVERIFY(args.open(QIODevice::ReadOnly));
        const QStringList given = QString::fromUtf8(args.readAll()).split(u'\n');
        QCOMPARE(given.value(0), QStringLiteral("--subject"));
        QCOMPARE(given.value(1), QStringLiteral("Give you my great work, perfect sketch!"));
        QVERIFY(given.contains(QStringLiteral("--attach")));
        QVERIFY(given.contains(picture));
    }

    void printingCentresThePowerOfTwoEnlargement()
    {
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("page.pdf"));
        // A 300 x 200 picture on a 4800 x 6600 page doubles three times.
        TBitmap32 picture = test::uniformPicture(300, 200, 0, 0, 0, 255);
        doc().open(std::move(picture));
        m_main->setPrinterChooser([&](QPrinter& printer) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(pdf);
            printer.setResolution(600);
            printer.setFullPage(true);
            printer.setPageSize(QPageSize(QSizeF(8, 11), QPageSize::Inch));  // 4800 x 6600 at 600 dpi
            return true;
        });
        QTest::mouseClick(m_main->printButton, Qt::LeftButton);
        QVERIFY(m_messages.empty());
        QVERIFY(QFile::exists(pdf));

        // Rendered at 60 dpi, a tenth of the printer's pixels: the black
        // rectangle must cover (1200, 2500) to (3600, 4100) / 10.
        QProcess render;
        render.start(QStringLiteral("pdftoppm"), {"-r", "60", "-png", "-singlefile", pdf, dir.filePath("page")});
        QVERIFY(render.waitForFinished(30000));
        QCOMPARE(render.exitCode(), 0);
        const QImage page(dir.filePath(QStringLiteral("page.png")));
        QCOMPARE(page.size(), QSize(480, 660));
        auto dark = [&](int x, int y) { return qGray(page.pixel(x, y)) < 64; };
        QVERIFY(dark(121, 251) && dark(358, 408));
        QVERIFY(!dark(118, 251) && !dark(121, 248) && !dark(362, 408) && !dark(358, 412));
    }
};

QTEST_MAIN(ViewCommandsTest)
#include "view_commands_test.moc"
