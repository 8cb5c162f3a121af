// The pencil sketch, Dozadir and pen and ink dialogs driven as a user drives
// them: opened from their menu items, real sliders, radio buttons, check box
// and buttons, on the offscreen platform; message boxes are read, not shown.

#include "app/application.h"
#include "app/effect_windows/freehand_control.h"
#include "app/effect_windows/freehand_work_area.h"
#include "app/main_window.h"
#include "app/messages.h"
#include "effects/sketch/dozadir.h"
#include "effects/sketch/pen_and_ink.h"
#include "effects/sketch/pencil_sketch.h"
#include "formats/picture_file.h"
#include "support/main_window_fixture.h"
#include "support/pictures.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using namespace plumora;

class SketchDialogsTest : public QObject, protected test::MainWindowFixture {
    Q_OBJECT

private:
    // Chooses the dialog's menu item and checks what every sketch dialog
    // does when it is shown.
    EffectDialog* open(const char* command, const char* caption)
    {
        m_main->effectAction(command)->trigger();
        EffectDialog* d = m_main->effectDialog(command);
        [&] {
            QVERIFY(d->isVisible());
            QCOMPARE(d->windowTitle(), QString::fromLatin1(caption));
            QCOMPARE(doc().openDialog(), windowNumber(command));
            QCOMPARE(child<QToolButton>(d, "Button2")->toolTip(), QStringLiteral("Color up"));
            QVERIFY(!child<QToolButton>(d, "Button2")->isEnabled());
            QCOMPARE(child<QPushButton>(d, "Button1")->text(), QStringLiteral("OK"));
        }();
        return d;
    }

    static void verifyBar(const QSlider* bar, int min, int max, int value)
    {
        QCOMPARE(bar->minimum(), min);
        QCOMPARE(bar->maximum(), max);
        QCOMPARE(bar->value(), value);
    }

    // Clicks OK and checks the common protocol: the picture, the label, one
    // more history step, "Color up" and the thick-and-thin flag.
    void ok(QPushButton* button, QToolButton* colorUp, const TBitmap32& expected, const char* label, bool flag)
    {
        const int steps = doc().undoCount();
        doc().setThickAndThin(!flag);
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(doc().displayed() == expected);
        QCOMPARE(m_main->operationLabel->text(), QString::fromLatin1(label));
        QCOMPARE(doc().undoCount(), steps + 1);
        QVERIFY(colorUp->isEnabled());
        QCOMPARE(doc().thickAndThin(), flag);
    }

    // Contrast labels in the window's text colour and lighting ones in grey,
    // or the other way round.
    static void verifyModeShown(const EffectDialog* d, PencilMode mode)
    {
        const QColor grey(0x80, 0x80, 0x80), text = d->palette().color(QPalette::WindowText);
        const bool contrast = mode == PencilMode::Contrast;
        QCOMPARE(d->activeAlternative(), std::string(contrast ? "contrast" : "lighting"));
        for (const char* name : {"Label1", "Label4"})
            QCOMPARE(child<QLabel>(d, name)->palette().color(QPalette::WindowText), contrast ? text : grey);
        for (const char* name : {"Label2", "Label3"})
            QCOMPARE(child<QLabel>(d, name)->palette().color(QPalette::WindowText), contrast ? grey : text);
    }

private slots:
    void init() { openWindows(); }

    void cleanup() { closeWindows(); }

    void pencilSketchAppliesTheLastMovedTrackBar()
    {
        doc().setThickAndThin(true);  // as a pen sketch leaves it
        auto* d = open("pencil-sketch", "Pencil_Sketch");
        QVERIFY(!doc().thickAndThin());  // showing clears it
        QCOMPARE(child<QLabel>(d, "Label1")->text(), QStringLiteral("Contrast:"));
        QCOMPARE(child<QLabel>(d, "Label2")->text(), QStringLiteral("Lighting:"));
        verifyBar(child<QSlider>(d, "TrackBar1"), 0, 89, 45);
        verifyBar(child<QSlider>(d, "TrackBar2"), 0, 255, 128);
        QCOMPARE(child<QLabel>(d, "Label4")->text(), QStringLiteral("50"));  // although 45 maps to 51
        QCOMPARE(child<QLabel>(d, "Label3")->text(), QStringLiteral("50"));
        verifyModeShown(d, PencilMode::Contrast);

        QTest::keyClick(child<QSlider>(d, "TrackBar1"), Qt::Key_Right);
        QCOMPARE(child<QLabel>(d, "Label4")->text(), QStringLiteral("52"));  // Round(4600 / 89) = Round(51.7)
        QCOMPARE(doc().label(), std::string("New picture"));                 // moving computes nothing
        ok(child<QPushButton>(d, "Button1"), child<QToolButton>(d, "Button2"),
           pencilSketch(doc().source(), PencilMode::Contrast, 46), "Pencil Sketch", false);
        QTest::mouseClick(child<QToolButton>(d, "Button2"), Qt::LeftButton);  // "Color up"
        QVERIFY(m_main->freehandWorkArea()->isVisible());
        QVERIFY(m_main->freehandControl()->isVisible());
        QVERIFY(!d->isEnabled());  // until freehand colouring ends
        QTest::mouseClick(child<QPushButton>(m_main->freehandControl(), "Button2"), Qt::LeftButton);  // "Cancel"
        QVERIFY(d->isEnabled());

        child<QSlider>(d, "TrackBar2")->setValue(200);
        QCOMPARE(child<QLabel>(d, "Label3")->text(), QStringLiteral("78"));  // Round(20000 / 255) = Round(78.4)
        verifyModeShown(d, PencilMode::Lighting);
        ok(child<QPushButton>(d, "Button1"), child<QToolButton>(d, "Button2"),
           pencilSketch(doc().source(), PencilMode::Lighting, 200), "Pencil Sketch", false);

        // Lighting, then contrast: contrast applies.
        child<QSlider>(d, "TrackBar1")->setValue(70);
        QCOMPARE(child<QLabel>(d, "Label4")->text(), QStringLiteral("79"));  // Round(78.7)
        verifyModeShown(d, PencilMode::Contrast);
        ok(child<QPushButton>(d, "Button1"), child<QToolButton>(d, "Button2"),
           pencilSketch(doc().source(), PencilMode::Contrast, 70), "Pencil Sketch", false);

        // Lighting moved last, then the dialog chosen again: contrast again,
        // and the labels say so; the bars keep their places.
        child<QSlider>(d, "TrackBar2")->setValue(90);
        verifyModeShown(d, PencilMode::Lighting);
        open("pencil-sketch", "Pencil_Sketch");
        verifyModeShown(d, PencilMode::Contrast);
        QCOMPARE(child<QSlider>(d, "TrackBar2")->value(), 90);
        ok(child<QPushButton>(d, "Button1"), child<QToolButton>(d, "Button2"),
           pencilSketch(doc().source(), PencilMode::Contrast, 70), "Pencil Sketch", false);
    }

    void dozadirGrowsTheLinesInTheChosenDirection()
    {
        auto* d = open("dozadir", "Dozadir");
        QCOMPARE(child<QLabel>(d, "Label8")->text(), QStringLiteral("Dozadir Pressure:"));
        QCOMPARE(child<QLabel>(d, "Label9")->text(), QStringLiteral("128"));
        QCOMPARE(child<QLabel>(d, "Label2")->text(), QStringLiteral("Scope:"));
        QCOMPARE(child<QLabel>(d, "Label3")->text(), QStringLiteral("3"));
        QCOMPARE(child<QLabel>(d, "Label1")->text(), QStringLiteral("Direction:"));
        verifyBar(child<QSlider>(d, "TrackBar1"), 0, 255, 128);
        verifyBar(child<QSlider>(d, "TrackBar2"), 1, 10, 3);
        const QStringList captions = {"///", "\\\\\\", "| | |", "=="};
        QRadioButton* radios[] = {child<QRadioButton>(d, "RadioButton1"), child<QRadioButton>(d, "RadioButton2"),
                                  child<QRadioButton>(d, "RadioButton3"), child<QRadioButton>(d, "RadioButton4")};
        for (int i = 0; i < 4; ++i)
            QCOMPARE(radios[i]->text(), captions[i]);
        QVERIFY(child<QRadioButton>(d, "RadioButton1")->isChecked());
        QCOMPARE(d->values().get("direction"), 0);

        QTest::keyClick(child<QSlider>(d, "TrackBar1"), Qt::Key_PageUp);  // a page is 10
        QCOMPARE(child<QLabel>(d, "Label9")->text(), QStringLiteral("138"));
        QTest::keyClick(child<QSlider>(d, "TrackBar2"), Qt::Key_PageUp);  // and 1 here
        QTest::keyClick(child<QSlider>(d, "TrackBar2"), Qt::Key_Right);
        QCOMPARE(child<QLabel>(d, "Label3")->text(), QStringLiteral("5"));
        for (int direction : {4, 3, 2}) {
            QTest::mouseClick(radios[direction - 1], Qt::LeftButton);
            QCOMPARE(d->values().get("direction"), direction - 1);
            ok(child<QPushButton>(d, "Button1"), child<QToolButton>(d, "Button2"),
               dozadir(doc().source(), 138, 5, direction), "Dozadir", true);
        }

        // Shown again: "///" and direction 1; the bars keep their places.
        open("dozadir", "Dozadir");
        QVERIFY(child<QRadioButton>(d, "RadioButton1")->isChecked() &&
                !child<QRadioButton>(d, "RadioButton2")->isChecked());
        ok(child<QPushButton>(d, "Button1"), child<QToolButton>(d, "Button2"), dozadir(doc().source(), 138, 5, 1),
           "Dozadir", true);
    }

    void penAndInkDrawsTheOutlinesInBlackOrInColour()
    {
        auto* d = open("pen-and-ink", "Pen_and_Ink");
        QCOMPARE(child<QLabel>(d, "Label8")->text(), QStringLiteral("Adjust thread:"));
        QCOMPARE(child<QLabel>(d, "Label9")->text(), QStringLiteral("128"));
        verifyBar(child<QSlider>(d, "TrackBar1"), 0, 255, 128);
        QCOMPARE(child<QCheckBox>(d, "CheckBox1")->text(), QStringLiteral("Color Ink"));
        QVERIFY(!child<QCheckBox>(d, "CheckBox1")->isChecked());

        QTest::keyClick(child<QSlider>(d, "TrackBar1"), Qt::Key_Left);
        QCOMPARE(child<QLabel>(d, "Label9")->text(), QStringLiteral("127"));
        ok(child<QPushButton>(d, "Button1"), child<QToolButton>(d, "Button2"), penAndInk(doc().source(), 127, false),
           "Pen and Ink", true);
        QTest::mouseClick(child<QCheckBox>(d, "CheckBox1"), Qt::LeftButton);
        ok(child<QPushButton>(d, "Button1"), child<QToolButton>(d, "Button2"), penAndInk(doc().source(), 127, true),
           "Pen and Ink", true);

        open("pen-and-ink", "Pen_and_Ink");  // the check box keeps its state
        QVERIFY(child<QCheckBox>(d, "CheckBox1")->isChecked());
    }

    void aOneRowPictureStopsTheEdgeSketchesButNotPenAndInk()
    {
        const TBitmap32 row = openRandomPicture(9, 1, 3);

        QTest::mouseClick(child<QPushButton>(open("pencil-sketch", "Pencil_Sketch"), "Button1"), Qt::LeftButton);
        auto* doz = open("dozadir", "Dozadir");
        QTest::mouseClick(child<QPushButton>(doz, "Button1"), Qt::LeftButton);
        QCOMPARE(m_messages.size(), std::size_t(2));
        for (const ShownMessage& m : m_messages)
            QCOMPARE(m.text, QStringLiteral("Scan line index out of range"));
        QVERIFY(doc().displayed() == row);
        QCOMPARE(doc().undoCount(), 0);
        QVERIFY(!child<QToolButton>(doz, "Button2")->isEnabled());

        auto* ink = open("pen-and-ink", "Pen_and_Ink");  // no edge picture needed
        ok(child<QPushButton>(ink, "Button1"), child<QToolButton>(ink, "Button2"), penAndInk(row, 128, false),
           "Pen and Ink", true);
        QCOMPARE(m_messages.size(), std::size_t(2));
    }
};

QTEST_MAIN(SketchDialogsTest)
#include "sketch_dialogs_test.moc"
