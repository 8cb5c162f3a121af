// What is special in the relief windows: the texture thumbnails with their
// radio buttons, the stria's colour swatch, and a stria that leaves the name
// under the picture as it was.

#include "app/main_window.h"
#include "effects/relief/stria.h"
#include "effects/relief/texture.h"
#include "formats/picture_file.h"
#include "formats/textures.h"
#include "support/main_window_fixture.h"

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>

using namespace plumora;

class ReliefDialogsTest : public QObject, protected test::MainWindowFixture {
    Q_OBJECT

private:
private slots:
    void init() { openWindows(); }

    void cleanup() { closeWindows(); }

    void textureThumbnailsStandInTheirGridAndPickTheirTile()
    {
        EffectDialog* d = openEffect("texture");
        // Three rows of five, in the order of kTextureGrid, each with its
        // radio button below it; tile 4 is chosen at first.
        for (std::size_t place = 0; place < kTextureGrid.size(); ++place) {
            const int n = kTextureGrid[place];
            auto* thumbnail = child<QLabel>(d, QStringLiteral("texture%1").arg(n));
            auto* button = child<QRadioButton>(d, QStringLiteral("RadioButton%1").arg(n));
            QCOMPARE(thumbnail->size(), QSize(41, 41));
            QCOMPARE(thumbnail->x(), 16 + 49 * int(place % 5));
            QVERIFY(button->y() > thumbnail->y() + 40);
            QVERIFY(button->text().isEmpty());
            QCOMPARE(button->isChecked(), n == 4);
            QCOMPARE(thumbnail->cursor().shape(), n <= 4 ? Qt::PointingHandCursor : Qt::ArrowCursor);
        }
        QCOMPARE(child<QLabel>(d, QStringLiteral("Label9"))->text(), QStringLiteral("50"));

        QTest::mouseClick(child<QLabel>(d, QStringLiteral("texture9")), Qt::LeftButton);
        QVERIFY(child<QRadioButton>(d, QStringLiteral("RadioButton9"))->isChecked());
        child<QSlider>(d, QStringLiteral("TrackBar1"))->setValue(80);
        QTest::mouseClick(child<QPushButton>(d, QStringLiteral("Button1")), Qt::LeftButton);
        QVERIFY(doc().displayed() == TextureBlend(builtInTexture(9), doc().source(), 80));
        QCOMPARE(m_main->operationLabel->text(), QStringLiteral("Made texture"));

        // The choice stays when the window is shown again.
        openEffect("texture");
        QVERIFY(child<QRadioButton>(d, QStringLiteral("RadioButton9"))->isChecked());
    }

    void striaTakesItsColourFromTheSwatchAndKeepsTheLabel()
    {
        QTest::mouseClick(child<QPushButton>(openEffect("emboss"), QStringLiteral("Button2")), Qt::LeftButton);
        QCOMPARE(m_main->operationLabel->text(), QStringLiteral("Emboss"));

        EffectDialog* d = openEffect("stria");
        QColor offered;
        d->setColourChooser([&](const QColor& current, QWidget*) {
            offered = current;
            return std::optional<QColor>(QColor(200, 30, 60));
        });
        QTest::mouseClick(child<QWidget>(d, QStringLiteral("ColorPanel")), Qt::LeftButton);
        QCOMPARE(offered, QColor(0, 0, 0));  // the dialog starts from the swatch's black
        QTest::mouseClick(child<QRadioButton>(d, QStringLiteral("RadioButton2")), Qt::LeftButton);
        QTest::mouseClick(child<QPushButton>(d, QStringLiteral("Button1")), Qt::LeftButton);
        QVERIFY(doc().displayed() == stria(doc().source(), StriaDirection::Horizontal, 1, 2, 128, 0xC81E3C));
        QCOMPARE(m_main->operationLabel->text(), QStringLiteral("Emboss"));
        QCOMPARE(doc().undoCount(), 2);

        // Shown again, it offers the colour chosen last.
        openEffect("stria");
        QTest::mouseClick(child<QWidget>(d, QStringLiteral("ColorPanel")), Qt::LeftButton);
        QCOMPARE(offered, QColor(200, 30, 60));
    }
};

QTEST_MAIN(ReliefDialogsTest)
#include "relief_dialogs_test.moc"
