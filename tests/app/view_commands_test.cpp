// Zoom, panning, quarter turns, image size and printing, driven through the
// real buttons, wheel, mouse and dialog on the offscreen platform.

#include "app/mnemonics.h"
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

    // A wheel turn over the picture at a point of the scrolling area's
    // viewport, with the given keys held.
    void wheelAt(QPoint viewportPoint, int delta, Qt::KeyboardModifiers modifiers)
    {
        const QPointF local = m_main->pictureView->mapFrom(m_main->scrollBox->viewport(), QPointF(viewportPoint));
        QWheelEvent event(local, m_main->pictureView->mapToGlobal(local), QPoint(), QPoint(0, delta), Qt::NoButton,
                          modifiers, Qt::NoScrollPhase, false);
        QApplication::sendEvent(m_main->pictureView, &event);
    }

    QPoint scroll() const
    {
        return {m_main->scrollBox->horizontalScrollBar()->value(), m_main->scrollBox->verticalScrollBar()->value()};
    }

    void scrollTo(QPoint at)
    {
        m_main->scrollBox->horizontalScrollBar()->setValue(at.x());
        m_main->scrollBox->verticalScrollBar()->setValue(at.y());
        QCOMPARE(scroll(), at);
    }

    // The point of the picture, in picture pixels, shown at a point of the
    // viewport: worked out from the scroll bars and the control's size.
    QPointF picturePointAt(QPoint viewportPoint) const
    {
        const QSize control = m_main->pictureView->size();
        const TBitmap32& picture = m_main->document().displayed();
        return {(scroll().x() + viewportPoint.x()) * double(picture.width()) / control.width(),
                (scroll().y() + viewportPoint.y()) * double(picture.height()) / control.height()};
    }

    // A menu item of the main menu, found by its menu's and its own text.
    QAction* menuItem(const char* menuName, const QString& text)
    {
        auto* menu = child<QMenu>(m_main.get(), menuName);
        for (QAction* action : menu->actions())
            if (shownMenuText(action->text()) == text)
                return action;
        qFatal("no menu item %s", qPrintable(text));
    }

    void keys(const QKeySequence& sequence)
    {
        m_main->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_main.get()));
        QTest::keySequence(m_main.get(), sequence);
    }

    // What a picture control of the given size paints for a picture.
    static QImage painted(const TBitmap32& picture, QSize size)
    {
        PictureView view;
        view.setPicture(&picture);
        view.resize(size);
        return view.grab().toImage();
    }

    // What the main window's picture control paints now.
    QImage shown() const { return m_main->pictureView->grab().toImage(); }

    void penSketchOk()
    {
        m_main->effectAction("pen-sketch")->trigger();
        QTest::mouseClick(child<QPushButton>(m_main->effectDialog("pen-sketch"), "Button1"), Qt::LeftButton);
        QCOMPARE(doc().label(), std::string("Pen Sketch"));
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

    void fitToWindowAndActualSizeFromTheEditMenuAndTheirKeys()
    {
        QScrollBar* h = m_main->scrollBox->horizontalScrollBar();
        QScrollBar* v = m_main->scrollBox->verticalScrollBar();
        QAction* fit = menuItem("Edit1", QStringLiteral("Fit to window"));
        QAction* actual = menuItem("Edit1", QStringLiteral("Actual size"));
        QCOMPARE(fit->shortcut(), QKeySequence(QStringLiteral("Ctrl+0")));
        QCOMPARE(actual->shortcut(), QKeySequence(QStringLiteral("Ctrl+1")));

        // A picture larger than the view, zoomed in and scrolled: the fit
        // shows all of it, as large as the view allows, with no scroll bars.
        openRandomPicture(1500, 1000, 7);
        QTest::mouseClick(m_main->zoomInButton, Qt::LeftButton);
        scrollTo({300, 200});
        fit->trigger();
        const QSize area = m_main->scrollBox->maximumViewportSize();
        const double factor = doc().zoomFactor();
        QCOMPARE(factor, fitZoomFactor(1500, 1000, area.width(), area.height()));
        QCOMPARE(m_main->zoomLabel->text(), QLocale::c().toString(factor, 'f', 1) + QStringLiteral("%"));
        const QSize fitted = m_main->pictureView->size();
        QVERIFY(fitted.width() <= area.width() && fitted.height() <= area.height());
        // The limiting side fills the view to within the last tenth of a
        // percent (1.5 pixels of 1500 at most, plus the rounding).
        QVERIFY(fitted.width() >= area.width() - 2 || fitted.height() >= area.height() - 2);
        QCOMPARE(h->maximum(), 0);
        QCOMPARE(v->maximum(), 0);
        QCOMPARE(scroll(), QPoint(0, 0));

        // Actual size by its key: 100 %, about the middle of the view.
        const QPoint middle = m_main->scrollBox->viewport()->rect().center();
        const QPointF before = picturePointAt(middle);
        keys(QKeySequence(Qt::CTRL | Qt::Key_1));
        QCOMPARE(doc().zoomFactor(), 100.0);
        QCOMPARE(m_main->zoomLabel->text(), QStringLiteral("100.0%"));
        QCOMPARE(m_main->pictureView->size(), QSize(1500, 1000));
        const QPointF after = picturePointAt(middle);
        QVERIFY(std::abs(after.x() - before.x()) <= 1 && std::abs(after.y() - before.y()) <= 1);
        QVERIFY(scroll().x() > 0 && scroll().y() > 0);

        // Fit to window by its key; a small picture is enlarged to fit.
        keys(QKeySequence(Qt::CTRL | Qt::Key_0));
        QCOMPARE(m_main->pictureView->size(), fitted);
        openRandomPicture(40, 30, 8);
        keys(QKeySequence(Qt::CTRL | Qt::Key_0));
        QVERIFY(doc().zoomFactor() > 900);
        QVERIFY(m_main->pictureView->width() <= area.width() && m_main->pictureView->height() <= area.height());
        actual->trigger();
        QCOMPARE(m_main->pictureView->size(), QSize(40, 30));

        // Undo after a fit gives the control the same size: the factor has
        // the one decimal the label shows, which undo reads.
        penSketchOk();
        fit->trigger();
        const QSize small = m_main->pictureView->size();
        QTest::mouseClick(m_main->undoButton, Qt::LeftButton);
        QCOMPARE(m_main->pictureView->size(), small);
    }

    void ctrlEqualsZoomsInAsCtrlPlusDoes()
    {
        keys(QKeySequence(Qt::CTRL | Qt::Key_Equal));
        QCOMPARE(m_main->zoomLabel->text(), QStringLiteral("125.0%"));
        QCOMPARE(m_main->pictureView->size(), QSize(651, 432));  // 651.25, 432.5 rounded, halves to even
        keys(QKeySequence::ZoomIn);
        QCOMPARE(m_main->zoomLabel->text(), QStringLiteral("156.3%"));
        keys(QKeySequence::ZoomOut);
        keys(QKeySequence::ZoomOut);
        QCOMPARE(m_main->zoomLabel->text(), QStringLiteral("100.0%"));
    }

    void ctrlWheelZoomsAboutThePointerAndThePlainWheelAsBefore()
    {
        openRandomPicture(800, 600, 9);
        for (int i = 0; i < 2; ++i)
            QTest::mouseClick(m_main->zoomInButton, Qt::LeftButton);  // 156.3 %: room to scroll
        scrollTo({250, 180});
        const QPoint pointer(170, 110);
        const double startFactor = doc().zoomFactor();

        // Away from the user with Ctrl: in, and the picture point under the
        // pointer stays under it (to a screen pixel, in picture pixels).
        QPointF before = picturePointAt(pointer);
        wheelAt(pointer, 120, Qt::ControlModifier);
        QCOMPARE(doc().zoomFactor(), startFactor * 1.25);
        QPointF after = picturePointAt(pointer);
        const double pixel = 800.0 / m_main->pictureView->width();
        QVERIFY(std::abs(after.x() - before.x()) <= pixel && std::abs(after.y() - before.y()) <= pixel);
        QVERIFY(scroll() != QPoint(250, 180));

        // Toward the user with Ctrl: out, about the same point.
        before = after;
        wheelAt(pointer, -120, Qt::ControlModifier);
        QCOMPARE(m_main->zoomLabel->text(), QStringLiteral("156.3%"));
        after = picturePointAt(pointer);
        QVERIFY(std::abs(after.x() - before.x()) <= 1 && std::abs(after.y() - before.y()) <= 1);

        // A wheel that turns in small steps zooms once a notch's worth.
        const double factor = doc().zoomFactor();
        wheelAt(pointer, 60, Qt::ControlModifier);
        QCOMPARE(doc().zoomFactor(), factor);
        wheelAt(pointer, 60, Qt::ControlModifier);
        QCOMPARE(doc().zoomFactor(), factor * 1.25);
        wheelAt(pointer, -120, Qt::ControlModifier);

        // The plain wheel keeps its way round (away: out) and the scrolling.
        scrollTo({250, 180});
        wheelAt(pointer, -120, Qt::NoModifier);
        QCOMPARE(m_main->zoomLabel->text(), QStringLiteral("195.3%"));
        QCOMPARE(scroll(), QPoint(250, 180));
        wheelAt(pointer, 120, Qt::NoModifier);
        QCOMPARE(m_main->zoomLabel->text(), QStringLiteral("156.3%"));
        QCOMPARE(scroll(), QPoint(250, 180));
    }

    void holdingBackslashOrCompareShowsTheSourceAtTheSameZoomAndScroll()
    {
        openRandomPicture(700, 500, 10);
        penSketchOk();
        QVERIFY(doc().displayed() != doc().source());
        QTest::mouseClick(m_main->zoomInButton, Qt::LeftButton);
        scrollTo({120, 90});
        const QSize size = m_main->pictureView->size();
        const QImage result = painted(doc().displayed(), size);
        const QImage original = painted(doc().source(), size);
        QVERIFY(result != original);
        QCOMPARE(shown(), result);

        auto stillInPlace = [&] {
            QCOMPARE(m_main->pictureView->size(), size);
            QCOMPARE(scroll(), QPoint(120, 90));
            QCOMPARE(m_main->zoomLabel->text(), QStringLiteral("125.0%"));
        };

        // The key, held: the key repeats while held, which changes nothing.
        m_main->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_main.get()));
        QTest::keyPress(m_main.get(), Qt::Key_Backslash);
        QCOMPARE(shown(), original);
        stillInPlace();
        for (QEvent::Type type : {QEvent::KeyRelease, QEvent::KeyPress}) {
            QKeyEvent repeat(type, Qt::Key_Backslash, Qt::NoModifier, QStringLiteral("\\"), true);
            QApplication::sendEvent(m_main.get(), &repeat);
        }
        QCOMPARE(shown(), original);
        QTest::keyRelease(m_main.get(), Qt::Key_Backslash);
        QCOMPARE(shown(), result);
        stillInPlace();

        // The button, held.
        QCOMPARE(m_main->compareButton->toolTip(), QStringLiteral("Hold to see the original (\\)"));
        QTest::mousePress(m_main->compareButton, Qt::LeftButton);
        QCOMPARE(shown(), original);
        stillInPlace();
        // Let go of the key while the button is still held: still the source.
        QTest::keyPress(m_main.get(), Qt::Key_Backslash);
        QTest::keyRelease(m_main.get(), Qt::Key_Backslash);
        QCOMPARE(shown(), original);
        QTest::mouseRelease(m_main->compareButton, Qt::LeftButton);
        QCOMPARE(shown(), result);
        stillInPlace();

        // Nothing of the document changes by comparing.
        QCOMPARE(doc().label(), std::string("Pen Sketch"));
        QCOMPARE(doc().undoCount(), 1);
        QVERIFY(!m_main->compareButton->isChecked());

        // In the effect window beside the picture, the key works as well.
        EffectDialog* pen = m_main->effectDialog("pen-sketch");
        pen->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(pen));
        QTest::keyPress(pen, Qt::Key_Backslash);
        QCOMPARE(shown(), original);
        // Another program taking the keyboard ends it: the release goes there.
        QEvent deactivate(QEvent::ApplicationDeactivate);
        QApplication::sendEvent(qApp, &deactivate);
        QCOMPARE(shown(), result);
    }

    void compareBeforeAnyEffectShowsTheSamePicture()
    {
        // Just opened: the source and the displayed picture are one.
        openRandomPicture(300, 200, 11);
        QCOMPARE(&doc().source(), &doc().displayed());
        const QImage shownBefore = shown();
        QCOMPARE(shownBefore, painted(doc().displayed(), QSize(300, 200)));
        QTest::keyPress(m_main.get(), Qt::Key_Backslash);
        QCOMPARE(m_main->pictureView->picture(), &doc().source());
        QCOMPARE(shown(), shownBefore);
        QTest::keyRelease(m_main.get(), Qt::Key_Backslash);
        QCOMPARE(m_main->pictureView->picture(), &doc().displayed());
        QCOMPARE(shown(), shownBefore);
    }

    void aBackslashTypedIntoATextBoxStaysThere()
    {
        EffectDialog* realism = openEffect("realism");
        auto* edit = child<QLineEdit>(realism, "Edit1");
        realism->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(realism));
        edit->setFocus();
        edit->clear();
        QTest::keyPress(edit, Qt::Key_Backslash, Qt::NoModifier);
        QVERIFY(!m_main->comparing());
        QTest::keyRelease(edit, Qt::Key_Backslash, Qt::NoModifier);
        QCOMPARE(edit->text(), QStringLiteral("\\"));
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

    // The fields follow the picture while the window is open: another
    // picture opened, a turn or an undo of another size puts its size in
    // them; a change that keeps the size leaves what the user typed.
    void imageSizeFollowsAPictureOfAnotherSizeWhileOpen()
    {
        openRandomPicture(120, 80, 1);
        m_main->imageSizeAction->trigger();
        ImageSizeDialog* d = sizeDialog();
        QCOMPARE(d->widthEdit->text() + "x" + d->heightEdit->text(), QStringLiteral("120x80"));
        const TBitmap32 next = openRandomPicture(102, 64, 2);
        QVERIFY(d->isVisible());
        QCOMPARE(d->widthEdit->text() + "x" + d->heightEdit->text(), QStringLiteral("102x64"));
        // OK with the proportions held leaves the new picture as it is.
        QVERIFY(d->keepProportionsBox->isChecked());
        QTest::mouseClick(d->okButton, Qt::LeftButton);
        QVERIFY(doc().displayed() == next);

        m_main->imageSizeAction->trigger();
        typeInto(d->widthEdit, QStringLiteral("51"));
        QCOMPARE(d->heightEdit->text(), QStringLiteral("32"));
        m_main->effectAction("emboss")->trigger();
        QTest::mouseClick(child<QPushButton>(m_main->effectDialog("emboss"), "Button2"), Qt::LeftButton);
        QCOMPARE(d->widthEdit->text() + "x" + d->heightEdit->text(), QStringLiteral("51x32"));
        QTest::mouseClick(m_main->rotateClockwiseButton, Qt::LeftButton);
        QCOMPARE(d->widthEdit->text() + "x" + d->heightEdit->text(), QStringLiteral("64x102"));
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
