// Freehand colouring driven as a user drives it: "Color up" from a sketch
// dialog, the real tool buttons, slider, colour dialog and buttons of the
// control window, and synthetic mouse presses, moves and releases on the
// work area's picture and on the photo.

#include "app/effect_windows/freehand_control.h"
#include "app/effect_windows/freehand_work_area.h"
#include "app/picture_view.h"
#include "freehand/lines.h"
#include "support/main_window_fixture.h"

#include <QColorDialog>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QToolButton>

using namespace plumora;

namespace {

// A line drawing: white paper, black and grey strokes, a little paper tint.
TBitmap32 sketchPicture(int width, int height)
{
    TBitmap32 p = test::uniformPicture(width, height, 255, 255, 255, 255);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            if ((x + 2 * y) % 17 < 3)
                test::setPixel(p, x, y, 0xFF000000u);
            else if ((3 * x + y) % 23 == 0)
                test::setPixel(p, x, y, 0xFF646464u | std::uint32_t(x & 63));
            else if ((x * y) % 29 == 1)
                test::setPixel(p, x, y, 0xFFECE9D8u);
        }
    return p;
}

void send(QWidget* widget, QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons held, QPoint at)
{
    QMouseEvent event(type, QPointF(at), QPointF(widget->mapToGlobal(at)), button, held, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}

void press(QWidget* w, QPoint at, Qt::MouseButton button = Qt::LeftButton)
{
    send(w, QEvent::MouseButtonPress, button, button, at);
}
void move(QWidget* w, QPoint at, Qt::MouseButtons held = Qt::LeftButton)
{
    send(w, QEvent::MouseMove, Qt::NoButton, held, at);
}
void release(QWidget* w, QPoint at, Qt::MouseButton button = Qt::LeftButton)
{
    send(w, QEvent::MouseButtonRelease, button, Qt::NoButton, at);
}

// What the pen and the straight line draw: a dashed line of width = size in
// the current colour.
TBitmap32 withLines(TBitmap32 picture, const std::vector<QLine>& lines, QColor colour, int size)
{
    QImage image(picture.bits(), picture.width(), picture.height(), qsizetype(picture.bytesPerLine()),
                 QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setPen(QPen(colour, size, Qt::DashLine, Qt::RoundCap, Qt::RoundJoin));
    for (const QLine& line : lines)
        painter.drawLine(line);
    painter.end();
    return picture;
}

}  // namespace

class FreehandTest : public QObject, protected test::MainWindowFixture {
    Q_OBJECT

private:
    FreehandWorkArea* area() { return m_main->freehandWorkArea(); }
    FreehandControl* control() { return m_main->freehandControl(); }
    QWidget* canvas() { return area()->canvas(); }
    template <class W>
    W* control(const char* name)
    {
        return child<W>(control(), name);
    }

    // Makes a pen sketch (so "Color up" is enabled), puts the given sketch on
    // display in its place and presses "Color up".
    void startColouring(const TBitmap32& sketch, bool lines = true)
    {
        EffectDialog* pen = openEffect("pen-sketch");
        QTest::mouseClick(child<QPushButton>(pen, "Button1"), Qt::LeftButton);
        doc().applyResult(sketch, std::string("Pen Sketch"));
        doc().setThickAndThin(lines);
        QTest::mouseClick(child<QToolButton>(pen, "Button2"), Qt::LeftButton);
        QVERIFY(area()->isVisible());
        QVERIFY(control()->isVisible());
    }

    void chooseTool(const char* button) { QTest::mouseClick(control<QToolButton>(button), Qt::LeftButton); }

    void chooseColour(QColor colour, bool confirm = true)
    {
        QTest::mouseClick(control<QFrame>("ColorPanel"), Qt::LeftButton);
        auto* dialog = control<QColorDialog>("ColorDialog1");
        QVERIFY(dialog->isVisible());
        dialog->setCurrentColor(colour);
        if (confirm)
            dialog->accept();
        else
            dialog->reject();
    }

    void expectClosedWith(const TBitmap32& displayed, const QString& label, int steps)
    {
        QVERIFY(!area()->isVisible());
        QVERIFY(!control()->isVisible());
        QVERIFY(!control()->isOpen());
        QVERIFY(m_main->isEnabled());
        QVERIFY(doc().displayed() == displayed);
        QCOMPARE(m_main->operationLabel->text(), label);
        QCOMPARE(doc().undoCount(), steps);
    }

private slots:
    void init()
    {
        openWindows();
        openRandomPicture(300, 200, 7);
    }
    void cleanup() { closeWindows(); }

    void colorUpHandsTheSketchToThePair()
    {
        const TBitmap32 sketch = sketchPicture(300, 200);
        startColouring(sketch);
        QCOMPARE(area()->objectName(), QStringLiteral("TFreehand"));
        QCOMPARE(area()->windowTitle(), QStringLiteral("Work area"));
        QCOMPARE(area()->size(), QSize(738, 595));
        QCOMPARE(control()->objectName(), QStringLiteral("TFreehand_control"));
        QCOMPARE(control()->windowTitle(), QStringLiteral("Original photo"));
        QCOMPARE(control()->size(), QSize(226, 598));
        QVERIFY(area()->windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(control()->windowFlags() & Qt::WindowStaysOnTopHint);
        // Nothing else answers while the pair is open, the effect dialogs
        // included.
        QVERIFY(!m_main->isEnabled());
        QVERIFY(!m_main->effectDialog("pen-sketch")->isEnabled());
        QVERIFY(area()->isEnabled() && control()->isEnabled());
        // The work area has the keyboard: the user paints there next.
        QTRY_COMPARE(QApplication::activeWindow(), area());

        QVERIFY(area()->picture() == sketch);
        QCOMPARE(area()->canvas()->size(), QSize(300, 200));
        QCOMPARE(child<QWidget>(area(), "Image1")->toolTip(), QStringLiteral("Right-down to move"));
        // A landscape photo keeps the width: 200 x 217 / 300 = 144.67.
        QCOMPARE(control()->photoView()->size(), QSize(217, 145));
        QVERIFY(control()->photoView()->picture() && *control()->photoView()->picture() == doc().source());
        QCOMPARE(control<QWidget>("Panel1")->y(), 165);
        QVERIFY(control<QPushButton>("Button8")->isEnabled());
        QVERIFY(control<QPushButton>("Button4")->isEnabled());
        QTest::mouseClick(control<QPushButton>("Button2"), Qt::LeftButton);
        QCOMPARE(control()->photoView()->size(), QSize(217, 193));

        // A portrait photo keeps the height: 150 x 193 / 300 = 96.5, to even.
        openRandomPicture(150, 300, 8);
        startColouring(sketchPicture(150, 300), false);
        QCOMPARE(control()->photoView()->size(), QSize(96, 193));
        QCOMPARE(control<QWidget>("Panel1")->y(), 213);
        // After a pencil sketch the line passes are off.
        QVERIFY(!control<QPushButton>("Button8")->isEnabled());
        QVERIFY(!control<QPushButton>("Button4")->isEnabled());
    }

    void onlyOkChangesTheDocument_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("keeps");
        QTest::newRow("OK") << "OK" << true;
        QTest::newRow("Enter in the control window") << "Enter control" << true;
        QTest::newRow("Enter in the work area") << "Enter area" << true;
        QTest::newRow("Cancel") << "Cancel" << false;
        QTest::newRow("Esc in the control window") << "Esc control" << false;
        QTest::newRow("Esc in the work area") << "Esc area" << false;
        QTest::newRow("control window's close box") << "close control" << false;
        QTest::newRow("work area's close box") << "close area" << false;
    }

    void onlyOkChangesTheDocument()
    {
        QFETCH(QString, how);
        QFETCH(bool, keeps);
        const TBitmap32 sketch = sketchPicture(300, 200);
        startColouring(sketch);
        const int steps = doc().undoCount();
        chooseTool("SpeedButton15");  // rubber
        press(canvas(), {50, 50});
        move(canvas(), {80, 60});
        release(canvas(), {80, 60});
        const TBitmap32 coloured = area()->picture();
        QVERIFY(!(coloured == sketch));

        if (how == "OK")
            QTest::mouseClick(control<QPushButton>("Button1"), Qt::LeftButton);
        else if (how == "Cancel")
            QTest::mouseClick(control<QPushButton>("Button2"), Qt::LeftButton);
        else if (how.startsWith("Enter") || how.startsWith("Esc")) {
            QWidget* window = how.endsWith("area") ? static_cast<QWidget*>(area()) : control();
            window->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(window));
            QTest::keyClick(window, how.startsWith("Enter") ? Qt::Key_Return : Qt::Key_Escape);
        } else
            (how.endsWith("area") ? static_cast<QWidget*>(area()) : control())->close();

        if (keeps) {
            expectClosedWith(coloured, QStringLiteral("Color up"), steps + 1);
            QTest::mouseClick(m_main->undoButton, Qt::LeftButton);
            QVERIFY(doc().displayed() == sketch);
        } else {
            expectClosedWith(sketch, QStringLiteral("Pen Sketch"), steps);
        }
        QVERIFY(m_main->effectDialog("pen-sketch")->isEnabled());
    }

    void toolButtonsAreOneGroupAndSetTheSize()
    {
        startColouring(sketchPicture(300, 200));
        for (QToolButton* button : control()->findChildren<QToolButton*>())
            QVERIFY(!button->isChecked());  // none is down at first
        auto* slider = control<QSlider>("TrackBar1");
        auto* reading = control<QLabel>("Label1");
        QCOMPARE(slider->value(), 16);
        QCOMPARE(reading->text(), QStringLiteral("16"));
        const struct {
            const char* button;
            FreehandTool tool;
            int size;
        } steps[] = {{"SpeedButton12", FreehandTool::Pen, 2},         {"SpeedButton14", FreehandTool::Brush, 16},
                     {"SpeedButton1", FreehandTool::StraightLine, 2}, {"SpeedButton15", FreehandTool::Rubber, 16},
                     {"SpeedButton11", FreehandTool::Eyedropper, 16}, {"SpeedButton11", FreehandTool::Eyedropper, 16}};
        for (const auto& step : steps) {
            chooseTool(step.button);
            QCOMPARE(control()->tools().tool, step.tool);
            QCOMPARE(slider->value(), step.size);
            QCOMPARE(control()->tools().size, step.size);
            int down = 0;
            for (const char* name :
                 {"SpeedButton14", "SpeedButton12", "SpeedButton1", "SpeedButton15", "SpeedButton11"})
                down += control<QToolButton>(name)->isChecked() ? 1 : 0;
            QCOMPARE(down, 1);  // pressing the one that is down keeps it down
            QVERIFY(control<QToolButton>(step.button)->isChecked());
        }
        slider->setValue(42);
        QCOMPARE(control()->tools().size, 42);
        QCOMPARE(reading->text(), QStringLiteral("42"));
        QCOMPARE(control<QToolButton>("SpeedButton14")->toolTip(), QStringLiteral("Brush to scrawl the picture"));
        QCOMPARE(control<QFrame>("ColorPanel")->toolTip(), QStringLiteral("Select a color from ColorPanel"));
        QCOMPARE(control<QLabel>("Label2")->text(), QStringLiteral("Dia."));
        QCOMPARE(control<QPushButton>("Button8")->text(), QStringLiteral("Thin"));
        QCOMPARE(control<QPushButton>("Button4")->toolTip(), QStringLiteral("Thick the line"));
    }

    void brushAndRubberPaintADiscAtEveryEvent()
    {
        const TBitmap32 sketch = sketchPicture(300, 200);
        startColouring(sketch);
        chooseTool("SpeedButton14");  // brush
        chooseColour(QColor(255, 0, 0));
        control<QSlider>("TrackBar1")->setValue(5);

        TBitmap32 expected = sketch;
        const BrushColour red(Rgb{255, 0, 0});
        const QPoint stroke[] = {{20, 20}, {40, 25}, {60, 30}, {60, 30}, {298, 199}};
        press(canvas(), stroke[0]);
        for (const QPoint& p : stroke) {
            if (p != stroke[0])
                move(canvas(), p);
            brush(expected, p.x(), p.y(), 5, red);
        }
        release(canvas(), stroke[4]);
        QVERIFY(area()->picture() == expected);

        // A press and release without a move still leaves its disc.
        chooseTool("SpeedButton15");  // rubber, size 16
        press(canvas(), {150, 100});
        release(canvas(), {150, 100});
        rub(expected, 150, 100, 16);
        QVERIFY(area()->picture() == expected);

        // Moving with no button held paints nothing; a right-button drag
        // neither.
        move(canvas(), {100, 100}, Qt::NoButton);
        press(canvas(), {100, 100}, Qt::RightButton);
        move(canvas(), {110, 100}, Qt::RightButton);
        release(canvas(), {110, 100}, Qt::RightButton);
        QVERIFY(area()->picture() == expected);
    }

    void penAndLineDrawDashedInTheCurrentColour()
    {
        const TBitmap32 sketch = sketchPicture(300, 200);
        startColouring(sketch);
        chooseColour(QColor(0, 128, 255));
        chooseTool("SpeedButton12");  // pen, size 2
        press(canvas(), {10, 10});
        move(canvas(), {30, 10});
        move(canvas(), {30, 40});
        release(canvas(), {30, 40});
        TBitmap32 expected = withLines(sketch, {QLine(10, 10, 30, 10), QLine(30, 10, 30, 40)}, QColor(0, 128, 255), 2);
        QVERIFY(area()->picture() == expected);

        // The rubber band shows while the button is held and never enters
        // the picture; its end is moved to an even distance from the anchor.
        chooseTool("SpeedButton1");  // straight line
        control<QSlider>("TrackBar1")->setValue(3);
        press(canvas(), {100, 100});
        QCOMPARE(area()->linePreview(), std::optional<QLine>(QLine(100, 100, 100, 100)));
        move(canvas(), {105, 110});
        QCOMPARE(area()->linePreview(), std::optional<QLine>(QLine(100, 100, 106, 110)));
        move(canvas(), {90, 93});
        QCOMPARE(area()->linePreview(), std::optional<QLine>(QLine(100, 100, 90, 94)));
        move(canvas(), {105, 110});
        QVERIFY(area()->picture() == expected);
        // The line itself ends at the release point.
        release(canvas(), {105, 110});
        QVERIFY(!area()->linePreview());
        expected = withLines(expected, {QLine(100, 100, 105, 110)}, QColor(0, 128, 255), 3);
        QVERIFY(area()->picture() == expected);
    }

    void brushOutlineFollowsThePointerAwayFromTheEdges()
    {
        startColouring(sketchPicture(300, 200));
        chooseTool("SpeedButton14");  // brush, 16
        move(canvas(), {100, 80}, Qt::NoButton);
        QCOMPARE(area()->outlineBox(), std::optional<QRect>(QRect(84, 64, 32, 32)));
        move(canvas(), {3, 197}, Qt::NoButton);
        QCOMPARE(area()->outlineBox(), std::optional<QRect>(QRect(-13, 181, 32, 32)));
        for (const QPoint& edge : {QPoint(2, 50), QPoint(100, 198), QPoint(298, 50), QPoint(100, 2)}) {
            move(canvas(), edge, Qt::NoButton);
            QVERIFY(!area()->outlineBox());
        }
        chooseTool("SpeedButton12");  // the pen has none
        move(canvas(), {100, 80}, Qt::NoButton);
        QVERIFY(!area()->outlineBox());
    }

    // The outline belongs to the brush and the rubber: choosing a tool
    // without one takes it off the picture at once, before the pointer
    // moves again; choosing the other disc tool keeps it.
    void theBrushOutlineGoesWhenAToolWithoutOneIsChosen()
    {
        startColouring(sketchPicture(300, 200));
        for (const char* tool : {"SpeedButton12", "SpeedButton1", "SpeedButton11"}) {
            chooseTool("SpeedButton14");
            move(canvas(), {100, 80}, Qt::NoButton);
            QVERIFY(area()->outlineBox());
            chooseTool(tool);
            QVERIFY2(!area()->outlineBox(), tool);
        }
        chooseTool("SpeedButton14");
        move(canvas(), {100, 80}, Qt::NoButton);
        chooseTool("SpeedButton15");  // the rubber
        QVERIFY(area()->outlineBox());
    }

    void eyedropperPicksFromThePhotoAndClampsAtItsEdges()
    {
        startColouring(sketchPicture(300, 200));
        const TBitmap32& photo = doc().source();
        PictureView* view = control()->photoView();
        auto colourAt = [&](int x, int y) {
            const std::uint32_t p = test::pixelAt(photo, x, y);
            return Rgb{std::uint8_t(p >> 16), std::uint8_t(p >> 8), std::uint8_t(p)};
        };
        // Only with the eyedropper chosen.
        press(view, {100, 50});
        release(view, {100, 50});
        QCOMPARE(control()->tools().colour, (Rgb{0, 0, 0}));

        chooseTool("SpeedButton11");
        QCOMPARE(view->cursor().shape(), Qt::BitmapCursor);
        QCOMPARE(canvas()->cursor().shape(), Qt::ArrowCursor);
        // 100 x 300 / 217 = 138.2; 50 x 200 / 145 = 68.97.
        press(view, {100, 50}, Qt::RightButton);
        QCOMPARE(control()->tools().colour, colourAt(138, 69));
        QCOMPARE(control()->tools().hsl, RGBtoHSL(colourAt(138, 69)));
        const Rgb c = colourAt(138, 69);
        QCOMPARE(control<QFrame>("ColorPanel")->palette().color(QPalette::Window), QColor(c.red, c.green, c.blue));
        move(view, {-40, 400}, Qt::RightButton);
        QCOMPARE(control()->tools().colour, colourAt(0, 199));
        release(view, {-40, 400}, Qt::RightButton);
        move(view, {100, 50}, Qt::NoButton);
        QCOMPARE(control()->tools().colour, colourAt(0, 199));

        // The brush, rubber and pen show the cross over the picture.
        chooseTool("SpeedButton15");
        QCOMPARE(canvas()->cursor().shape(), Qt::BitmapCursor);
        QCOMPARE(view->cursor().shape(), Qt::ArrowCursor);
        chooseTool("SpeedButton1");
        QCOMPARE(canvas()->cursor().shape(), Qt::ArrowCursor);
    }

    void colourDialogAndToolsSurviveReopening()
    {
        startColouring(sketchPicture(300, 200));
        chooseColour(QColor(10, 200, 30));
        chooseColour(QColor(250, 0, 0), false);  // cancelled: nothing changes
        QCOMPARE(control()->tools().colour, (Rgb{10, 200, 30}));
        chooseTool("SpeedButton12");
        control<QSlider>("TrackBar1")->setValue(7);
        QTest::mouseClick(control<QPushButton>("Button2"), Qt::LeftButton);

        startColouring(sketchPicture(300, 200));
        QCOMPARE(control()->tools().colour, (Rgb{10, 200, 30}));
        QCOMPARE(control()->tools().tool, FreehandTool::Pen);
        QVERIFY(control<QToolButton>("SpeedButton12")->isChecked());
        QCOMPARE(control()->tools().size, 7);
        QCOMPARE(control<QLabel>("Label1")->text(), QStringLiteral("7"));
        // The colour dialog opens on the current colour.
        QTest::mouseClick(control<QFrame>("ColorPanel"), Qt::LeftButton);
        QCOMPARE(control<QColorDialog>("ColorDialog1")->currentColor(), QColor(10, 200, 30));
        control<QColorDialog>("ColorDialog1")->reject();
    }

    void thinAndThickWorkOnTheWorkArea()
    {
        TBitmap32 bar = test::uniformPicture(20, 12, 255, 255, 255, 255);
        for (int y = 3; y < 8; ++y)
            for (int x = 5; x < 15; ++x)
                test::setPixel(bar, x, y, 0xFF000000u);
        startColouring(bar);
        TBitmap32 expected = bar;
        QTest::mouseClick(control<QPushButton>("Button8"), Qt::LeftButton);
        thinline(expected);
        QVERIFY(area()->picture() == expected);
        QTest::mouseClick(control<QPushButton>("Button4"), Qt::LeftButton);
        QTest::mouseClick(control<QPushButton>("Button4"), Qt::LeftButton);
        thickline(expected);
        thickline(expected);
        QVERIFY(area()->picture() == expected);
    }

    void rightDragScrollsThePicture()
    {
        startColouring(sketchPicture(2000, 1500));
        area()->show();
        QVERIFY(QTest::qWaitForWindowExposed(area()));
        QScrollBar* h = area()->scrollArea()->horizontalScrollBar();
        QScrollBar* v = area()->scrollArea()->verticalScrollBar();
        press(canvas(), {500, 400}, Qt::RightButton);
        move(canvas(), {450, 370}, Qt::RightButton);
        QCOMPARE(h->value(), 50);
        QCOMPARE(v->value(), 30);
        // The picture moved under the pointer: the grabbed point is again
        // under it at the same place on screen, and nothing more happens.
        move(canvas(), {500, 400}, Qt::RightButton);
        QCOMPARE(h->value(), 50);
        QCOMPARE(v->value(), 30);
        release(canvas(), {500, 400}, Qt::RightButton);
        move(canvas(), {400, 300}, Qt::RightButton);
        QCOMPARE(h->value(), 50);
    }

    void repaintingWhatChangedShowsTheWholePicture()
    {
        startColouring(sketchPicture(300, 200));
        QVERIFY(QTest::qWaitForWindowExposed(area()));
        chooseTool("SpeedButton14");
        chooseColour(QColor(0, 90, 200));
        press(canvas(), {60, 60});
        for (int x = 60; x <= 200; x += 7)
            move(canvas(), {x, 60 + x / 5});
        release(canvas(), {200, 100});
        move(canvas(), {150, 120}, Qt::NoButton);  // the outline stays on screen
        QCoreApplication::processEvents();
        // What the window shows after the partial repaints against a full
        // repaint of the picture and its outline.
        const QImage shown = area()
                                 ->screen()
                                 ->grabWindow(area()->winId())
                                 .toImage()
                                 .copy(QRect(canvas()->mapTo(area(), QPoint(0, 0)), QSize(300, 200)));
        const QImage full = canvas()->grab().toImage();
        QCOMPARE(shown.convertToFormat(QImage::Format_RGB32), full.convertToFormat(QImage::Format_RGB32));
    }
};

QTEST_MAIN(FreehandTest)
#include "freehand_test.moc"
