// What is special in the colour adjustments' windows: the colour panel's
// radio buttons that apply as they are chosen, and the colour filter's and
// colour variety's previews ("For current", "Reset", "OK" that closes).

#include "app/effect_windows/preview_dialog.h"
#include "app/main_window.h"
#include "effects/colour/color_filter.h"
#include "effects/colour/color_panel.h"
#include "effects/colour/color_variety.h"
#include "effects/sketch/pen_sketch.h"
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

using namespace plumora;

class ColourDialogsTest : public QObject, protected test::MainWindowFixture {
    Q_OBJECT

private:
    void click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton); }

private slots:
    void init() { openWindows(); }

    void cleanup() { closeWindows(); }

    void panelLayoutsApplyAsTheyAreChosen()
    {
        EffectDialog* d = openEffect("color-panel");
        QCOMPARE(d->height(), 126);
        QVERIFY(d->width() >= 230);  // wider where the font's captions need it
        for (QRadioButton* b : d->findChildren<QRadioButton*>())
            QVERIFY(b->geometry().right() < d->width());
        for (int i = 1; i <= 6; ++i)  // none is chosen at first
            QVERIFY(!child<QRadioButton>(d, qPrintable(QStringLiteral("RadioButton%1").arg(i)))->isChecked());
        QCOMPARE(doc().undoCount(), 0);

        click(child<QRadioButton>(d, "RadioButton5"));
        QVERIFY(doc().displayed() == colorPanel(doc().source(), ColorPanelLayout::Pane3x3));
        QCOMPARE(m_main->operationLabel->text(), QStringLiteral("Color Pane"));
        QCOMPARE(doc().undoCount(), 1);
        click(child<QRadioButton>(d, "RadioButton5"));  // chosen already: nothing happens
        QCOMPARE(doc().undoCount(), 1);

        click(child<QRadioButton>(d, "RadioButton4"));
        QVERIFY(doc().displayed() == colorPanel(doc().source(), ColorPanelLayout::Panel3x3));
        QCOMPARE(doc().displayed().width(), doc().source().width() / 3 * 3);
        QCOMPARE(m_main->operationLabel->text(), QStringLiteral("Color Panels"));
        QCOMPARE(doc().undoCount(), 2);

        // The choice stays when the window is shown again.
        openEffect("color-panel");
        QVERIFY(child<QRadioButton>(d, "RadioButton4")->isChecked());
    }

    void panelThreeByThreeRefusesAPictureTooSmallForIt()
    {
        const TBitmap32 tiny = openRandomPicture(2, 5, 4);
        click(child<QRadioButton>(openEffect("color-panel"), "RadioButton4"));
        QCOMPARE(m_messages.size(), std::size_t(1));
        QCOMPARE(m_messages[0].text, QStringLiteral("The picture is too small for Panel 3 x 3."));
        QVERIFY(doc().displayed() == tiny);
        QCOMPARE(doc().undoCount(), 0);
    }

    void filterWorksOnThePreviewsAndOkHandsTheResultOver()
    {
        // A pen sketch on display, to filter "for current".
        click(child<QPushButton>(openEffect("pen-sketch"), "Button1"));
        const TBitmap32 sketch = doc().displayed();
        const int steps = doc().undoCount();

        auto* d = static_cast<PreviewDialog*>(openEffect("color-filter"));
        QCOMPARE(d->size(), QSize(320, 299));
        QVERIFY(d->base() == doc().source());
        click(child<QWidget>(d, "Panel3"));  // red
        click(child<QWidget>(d, "Panel5"));  // then blue: blue alone, not a mixture
        QVERIFY(d->result() == colorFilter(doc().source(), ColorFilterKind::Blue));
        QCOMPARE(doc().undoCount(), steps);  // the document is untouched so far

        // "For current" filters the picture on display instead.
        click(child<QCheckBox>(d, "CheckBox1"));
        QVERIFY(d->base() == sketch);
        QVERIFY(d->result() == sketch);      // the filter shown before is dropped
        click(child<QWidget>(d, "Panel6"));  // yellow
        click(child<QPushButton>(d, "Button1"));
        QVERIFY(doc().displayed() == colorFilter(sketch, ColorFilterKind::Yellow));
        QCOMPARE(m_main->operationLabel->text(), QStringLiteral("Color Filter"));
        QCOMPARE(doc().undoCount(), steps + 1);
        QVERIFY(!d->isVisible());  // OK closes the window
        QCOMPARE(doc().openDialog(), EffectDialogId::None);

        // Shown again it starts from the source, "For current" unticked.
        openEffect("color-filter");
        QVERIFY(!child<QCheckBox>(d, "CheckBox1")->isChecked());
        QVERIFY(d->base() == doc().source());
    }

    void varietyStepsAddUpUntilReset()
    {
        auto* d = static_cast<PreviewDialog*>(openEffect("color-variety"));
        for (int i = 0; i < 3; ++i)
            click(child<QWidget>(d, "Panel3"));  // more red, three times
        click(child<QWidget>(d, "Panel6"));      // more yellow
        QVERIFY(d->result() == colorVariety(doc().source(), {ColorVarietyKind::MoreRed, ColorVarietyKind::MoreRed,
                                                             ColorVarietyKind::MoreRed, ColorVarietyKind::MoreYellow}));

        // "Reset": the left preview starts the steps again from the base.
        click(child<QWidget>(d, "Image1"));
        QVERIFY(d->result() == d->base());
        click(child<QWidget>(d, "Panel5"));  // more blue
        click(child<QPushButton>(d, "Button1"));
        QVERIFY(doc().displayed() == colorVariety(doc().source(), {ColorVarietyKind::MoreBlue}));
        QCOMPARE(m_main->operationLabel->text(), QStringLiteral("Color Varied"));

        // Closed without OK, nothing changes.
        const int steps = doc().undoCount();
        openEffect("color-variety");
        click(child<QWidget>(d, "Panel3"));
        d->close();
        QCOMPARE(doc().undoCount(), steps);
    }
};

QTEST_MAIN(ColourDialogsTest)
#include "colour_dialogs_test.moc"
