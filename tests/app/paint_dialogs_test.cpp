// What is special in the colour paintings' windows, driven as a user drives
// them: the number boxes of realism, pop art and abstract ("Default", a box
// that holds no number, a picture one pixel high) and brume's history step
// on showing and its generator that runs on from click to click. What every
// effect window does is tested over the whole effects table.

#include "app/main_window.h"
#include "effects/paint/brume.h"
#include "effects/paint/convolution.h"
#include "formats/picture_file.h"
#include "support/main_window_fixture.h"
#include "support/pictures.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

using namespace plumora;

class PaintDialogsTest : public QObject, protected test::MainWindowFixture {
    Q_OBJECT

private:
private slots:
    void init() { openWindows(); }

    void cleanup() { closeWindows(); }

    void aBoxWithoutANumberStopsConvertAndDefaultPutsTheWeightsBack()
    {
        EffectDialog* d = openEffect("realism");
        QCOMPARE(d->palette().color(QPalette::Window), QColor(191, 205, 219));
        QCOMPARE(child<QLabel>(d, "Label1")->palette().color(QPalette::WindowText),
                 d->palette().color(QPalette::ToolTipBase));
        child<QLineEdit>(d, "Edit5")->setText(QStringLiteral("1"));
        child<QLineEdit>(d, "Edit8")->setText(QStringLiteral("twelve"));
        QTest::mouseClick(child<QPushButton>(d, "Button1"), Qt::LeftButton);
        QCOMPARE(m_messages.size(), std::size_t(1));
        QCOMPARE(m_messages[0].text, QStringLiteral("'twelve' is not a valid integer value"));
        QCOMPARE(doc().undoCount(), 0);
        QCOMPARE(m_main->operationLabel->text(), QStringLiteral("New picture"));

        // "Default" cannot fail that way: it writes the default weights first.
        QTest::mouseClick(child<QPushButton>(d, "Button3"), Qt::LeftButton);
        QCOMPARE(child<QLineEdit>(d, "Edit8")->text(), QStringLiteral("-1"));
        QCOMPARE(child<QLineEdit>(d, "Edit5")->text(), QStringLiteral("0"));
        QVERIFY(doc().displayed() == realism(doc().source(), kRealismDefaultKernel));
        QCOMPARE(m_main->operationLabel->text(), QStringLiteral("Realism"));
        QCOMPARE(m_messages.size(), std::size_t(1));

        // Typed weights are used as they stand, however large.
        child<QLineEdit>(d, "Edit1")->setText(QStringLiteral("2147483647"));
        QTest::mouseClick(child<QPushButton>(d, "Button1"), Qt::LeftButton);
        QVERIFY(doc().displayed() == realism(doc().source(), {2147483647, 2, 1, 0, 0, 0, -1, -1, -1}));
    }

    void popArtAndAbstractRefuseAPictureOneRowHigh()
    {
        const TBitmap32 row = openRandomPicture(9, 1, 3);

        for (const char* id : {"pop-art", "abstract"})
            QTest::mouseClick(child<QPushButton>(openEffect(id), "Button1"), Qt::LeftButton);
        QCOMPARE(m_messages.size(), std::size_t(2));
        for (const ShownMessage& m : m_messages)
            QCOMPARE(m.text, QStringLiteral("Scan line index out of range"));
        QVERIFY(doc().displayed() == row);
        QCOMPARE(doc().undoCount(), 0);

        // Realism has no frame to copy and leaves such a picture as it is.
        QTest::mouseClick(child<QPushButton>(openEffect("realism"), "Button1"), Qt::LeftButton);
        QCOMPARE(m_messages.size(), std::size_t(2));
        QVERIFY(doc().displayed() == row);
        QCOMPARE(doc().undoCount(), 1);
    }

    void brumeRecordsThePictureWhenShownAndScattersAnewAtEveryClick()
    {
        const TBitmap32 shown = doc().displayed();
        EffectDialog* d = openEffect("brume");
        QCOMPARE(d->palette().color(QPalette::Window), QColor(166, 202, 240));
        QCOMPARE(doc().undoCount(), 1);  // showing recorded the picture on display
        QVERIFY(doc().displayed() == shown);

        auto* ok = child<QPushButton>(d, "Button1");
        BrumeRandom expected;
        QTest::mouseClick(ok, Qt::LeftButton);
        const TBitmap32 first = brume(doc().source(), 3, expected);
        QVERIFY(doc().displayed() == first);
        QCOMPARE(m_main->operationLabel->text(), QStringLiteral("Brume"));
        QCOMPARE(doc().undoCount(), 2);

        // The generator runs on: the same scope scatters differently.
        QTest::mouseClick(ok, Qt::LeftButton);
        QVERIFY(doc().displayed() == brume(doc().source(), 3, expected));
        QVERIFY(!(doc().displayed() == first));

        // Undoing back to the step of the showing gives the picture as it
        // was, labelled "Undo".
        m_main->undoAction->trigger();
        m_main->undoAction->trigger();
        QVERIFY(doc().displayed() == shown);
        QCOMPARE(m_main->operationLabel->text(), QStringLiteral("Undo"));
    }
};

QTEST_MAIN(PaintDialogsTest)
#include "paint_dialogs_test.moc"
